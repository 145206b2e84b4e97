// Print arithmetic without a device: pitch, lines per page, pagination with
// form feeds against a line-by-line model, header/footer texts and
// rectangles, and the preview's zoom, page placement and margin dragging.
#include <gtest/gtest.h>

#include <random>

#include "memo/print_layout.h"

using namespace memo;

namespace {

// Letter paper at 300 dpi, with a 0.25 inch unprintable border.
TPrinterMetrics Letter300() {
  TPrinterMetrics m;
  m.physicalWidth = 2550;
  m.physicalHeight = 3300;
  m.physicalOffsetX = 75;
  m.physicalOffsetY = 75;
  m.horzRes = 2400;
  m.vertRes = 3150;
  m.logPixelsX = m.logPixelsY = 300;
  return m;
}

// The print lines of a text laid out one by one: a form-feed line first
// fills the page it would start on (a whole page when it would begin one).
std::vector<int> ModelPrintLines(int displayLines, const std::vector<int>& formFeeds, int lpp) {
  std::vector<int> lines;
  std::size_t next = 0;
  for (int line = 0; line < displayLines; ++line) {
    if (next < formFeeds.size() && formFeeds[next] == line) {
      do lines.push_back(TPagination::kInFill);
      while (lines.size() % lpp != 0);
      ++next;
    }
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

TEST(PrintArithmetic, PitchAndLinesPerPage) {
  EXPECT_EQ(LinePitch(-1, 300, 50), 50);
  EXPECT_EQ(LinePitch(0.25, 300, 50), 75);  // four lines per inch
  EXPECT_EQ(LinePitch(0, 300, 50), 1);
  EXPECT_EQ(LinePitch(-1.5, 300, 13), 20);  // 19.5 to the even neighbour
  EXPECT_EQ(LinePitch(-1.5, 300, 15), 22);  // 22.5 likewise
  EXPECT_EQ(LinePitch(-1, 300, 0), 1);
  TPrinterMetrics m = Letter300();
  TPrintMargins margins;
  // (3300 - 1.5 * 300) / 75 = 38
  EXPECT_EQ(LinesPerPage(m, margins, 75), 38);
  margins.top = margins.bottom = 10;  // margins larger than the paper
  EXPECT_EQ(LinesPerPage(m, margins, 75), 1);
}

TEST(PrintArithmetic, WidthOriginAndRoundingHalvesToEven) {
  TPrinterMetrics m = Letter300();
  TPrintMargins margins;
  EXPECT_EQ(FormattingWidth(m, margins), 2550 - 225 - 150);
  EXPECT_EQ(PrintOrigin(m, margins), (TPoint{150, 150}));
  m.logPixelsX = m.logPixelsY = 75;
  margins.left = 0.5;   // 37.5 -> 38
  margins.right = 0.1;  // 7.5 -> 8
  EXPECT_EQ(FormattingWidth(m, margins), 2550 - 38 - 8);
  EXPECT_EQ(RoundHalfEven(12.5), 12);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(2.6), 3);
  margins.left = margins.right = 100;
  EXPECT_EQ(FormattingWidth(m, margins), 1);
}

TEST(PrintArithmetic, HeaderAndFooterTextAndRectangles) {
  EXPECT_EQ(PageText("Page {p}", 0), "Page 1");
  EXPECT_EQ(PageText("Page {p}", 11), "Page 12");
  EXPECT_EQ(PageText("{p} of {p}", 2), "3 of {p}");
  EXPECT_EQ(PageText("no number", 4), "no number");
  EXPECT_EQ(PageText("", 0), "");
  TPrinterMetrics m = Letter300();
  TPrintMargins margins;
  EXPECT_EQ(HeaderRect(m, margins, 0.4), (TRect{225 - 75, 120 - 75, 2550 - 150 - 75, 225 - 75}));
  EXPECT_EQ(FooterRect(m, margins, 0.4), (TRect{225 - 75, 3300 - 120 - 75, 2550 - 150 - 75, 3300 - 75}));
}

TEST(Pagination, WholePagesGetNoExtraBlankPage) {
  TPagination p;
  p.Compute(100, {}, 50);
  EXPECT_EQ(p.PageCount(), 2);
  p.Compute(101, {}, 50);
  EXPECT_EQ(p.PageCount(), 3);
  p.Compute(50, {}, 50);
  EXPECT_EQ(p.PageCount(), 1);
  p.Compute(0, {}, 50);
  EXPECT_EQ(p.PageCount(), 1);
  p.Compute(7, {}, 0);  // never fewer than one line per page
  EXPECT_EQ(p.LinesPerPage(), 1);
  EXPECT_EQ(p.PageCount(), 7);
  int first, last;
  p.Compute(100, {}, 50);
  ASSERT_TRUE(p.PageLines(1, first, last));
  EXPECT_EQ(first, 50);
  EXPECT_EQ(last, 99);
  EXPECT_FALSE(p.PageLines(2, first, last));
}

TEST(Pagination, FormFeedsStartPages) {
  TPagination p;
  // Line 10 with 50 lines per page starts page 2; one page more.
  p.Compute(30, {10}, 50);
  EXPECT_EQ(p.Fills(), std::vector<int>{40});
  EXPECT_EQ(p.PageCount(), 2);
  EXPECT_EQ(p.PrintLineToMemoLine(9), 9);
  EXPECT_EQ(p.PrintLineToMemoLine(10), TPagination::kInFill);
  EXPECT_EQ(p.PrintLineToMemoLine(49), TPagination::kInFill);
  EXPECT_EQ(p.PrintLineToMemoLine(50), 10);
  int first, last;
  ASSERT_TRUE(p.PageLines(0, first, last));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(last, 9);
  ASSERT_TRUE(p.PageLines(1, first, last));
  EXPECT_EQ(first, 10);
  EXPECT_EQ(last, 29);
  // A form feed on the first line gives a blank first page.
  p.Compute(5, {0}, 50);
  EXPECT_EQ(p.PageCount(), 2);
  EXPECT_FALSE(p.PageLines(0, first, last));
  ASSERT_TRUE(p.PageLines(1, first, last));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(last, 4);
}

TEST(Pagination, AgreesWithALineByLineModel) {
  std::mt19937 rng(11);
  for (int round = 0; round < 500; ++round) {
    const int lines = static_cast<int>(rng() % 60);
    const int lpp = 1 + static_cast<int>(rng() % 12);
    std::vector<int> formFeeds;
    for (int line = 0; line < lines; ++line)
      if (rng() % 6 == 0) formFeeds.push_back(line);
    TPagination p;
    p.Compute(lines, formFeeds, lpp);
    const std::vector<int> model = ModelPrintLines(lines, formFeeds, lpp);
    const int pages = std::max<int>((static_cast<int>(model.size()) + lpp - 1) / lpp, 1);
    ASSERT_EQ(p.PageCount(), pages) << "round " << round;
    for (int n = 0; n < static_cast<int>(model.size()); ++n)
      ASSERT_EQ(p.PrintLineToMemoLine(n), model[n]) << "round " << round << " print line " << n;
    for (int page = 0; page < pages; ++page) {
      std::vector<int> shown;
      for (int n = page * lpp; n < (page + 1) * lpp && n < static_cast<int>(model.size()); ++n)
        if (model[n] != TPagination::kInFill) shown.push_back(model[n]);
      int first = -1, last = -1;
      bool any = p.PageLines(page, first, last);
      ASSERT_EQ(any, !shown.empty()) << "round " << round << " page " << page;
      if (any) {
        EXPECT_EQ(first, shown.front());
        EXPECT_EQ(last, shown.back());
      }
    }
  }
}

TEST(PreviewGeometry, FixedZoomCentresOrSticksToTheLeft) {
  TPrinterMetrics m = Letter300();
  TPrintMargins margins;
  EXPECT_DOUBLE_EQ(FixedZoom(pz100, 96, 300), 0.32);
  EXPECT_DOUBLE_EQ(FixedZoom(pz500, 96, 300), 1.6);
  EXPECT_STREQ(PreviewZoomCaption(pzWholePage), "Whole page");
  TPreviewPlacement page = PlacePreviewPage(pz100, 96, m, margins, 1000, 700);
  EXPECT_EQ(page.width, 816);
  EXPECT_EQ(page.height, 1056);
  EXPECT_EQ(page.left, (1000 - 816) / 2);
  EXPECT_EQ(page.top, 10);
  EXPECT_EQ(page.marginLeftX, 72);
  EXPECT_EQ(page.marginRightX, 816 - 48);
  EXPECT_EQ(page.marginTopY, 72);
  EXPECT_EQ(page.marginBottomY, 1056 - 72);
  page = PlacePreviewPage(pz100, 96, m, margins, 830, 700);
  EXPECT_EQ(page.left, 10);
}

TEST(PreviewGeometry, FittedZooms) {
  TPrinterMetrics m = Letter300();
  TPrintMargins margins;
  TPreviewPlacement page = PlacePreviewPage(pzPageWidth, 96, m, margins, 530, 300);
  EXPECT_DOUBLE_EQ(page.zoom, 510.0 / 2550);
  EXPECT_EQ(page.width, 510);
  EXPECT_EQ(page.left, 10);
  // A tall window fits the width.
  page = PlacePreviewPage(pzWholePage, 96, m, margins, 530, 2000);
  EXPECT_DOUBLE_EQ(page.zoom, 510.0 / 2550);
  EXPECT_EQ(page.left, 10);
  // A wide window fits the height and centres the page.
  page = PlacePreviewPage(pzWholePage, 96, m, margins, 2000, 680);
  EXPECT_DOUBLE_EQ(page.zoom, 660.0 / 3300);
  EXPECT_EQ(page.height, 660);
  EXPECT_EQ(page.left, (2000 - 510) / 2);
  // Nothing to fit into: a tiny page, not a negative one.
  page = PlacePreviewPage(pzWholePage, 96, m, margins, 5, 5);
  EXPECT_GT(page.zoom, 0);
  EXPECT_GE(page.width, 0);
}

TEST(PreviewGeometry, RowsOfAClipBand) {
  int first, last;
  // zoom 0.5, top margin 150 printer pixels, pitch 50, 20 lines per page.
  ASSERT_TRUE(PreviewRows(0, 1000, 0.5, 150, 50, 20, first, last));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(last, 19);
  ASSERT_TRUE(PreviewRows(200, 300, 0.5, 150, 50, 20, first, last));
  EXPECT_EQ(first, 5);
  EXPECT_EQ(last, 10);
  EXPECT_FALSE(PreviewRows(5000, 6000, 0.5, 150, 50, 20, first, last));
}

TEST(PreviewGeometry, MarginDraggingKeepsItsDistances) {
  TPrinterMetrics m = Letter300();
  TPrintMargins margins;
  TPreviewPlacement page = PlacePreviewPage(pz100, 96, m, margins, 1000, 700);
  EXPECT_EQ(MarginAt(page, 72, 500), pmLeft);
  EXPECT_EQ(MarginAt(page, 73, 500), pmNone);  // one pixel beside starts no drag
  EXPECT_EQ(MarginAt(page, 768, 500), pmRight);
  EXPECT_EQ(MarginAt(page, 300, 72), pmTop);
  EXPECT_EQ(MarginAt(page, 300, 984), pmBottom);
  // Past the right margin: 3 pixels before it while dragging, 10 on release.
  EXPECT_EQ(ClampDraggedMargin(page, pmLeft, 900), 765);
  EXPECT_EQ(ClampDraggedMargin(page, pmBottom, 10), 75);
  EXPECT_DOUBLE_EQ(MarginFromPosition(page, pmLeft, 900, 300), 758 / 96.0);
  EXPECT_DOUBLE_EQ(MarginFromPosition(page, pmRight, 720, 300), 96 / 96.0);
  EXPECT_DOUBLE_EQ(MarginFromPosition(page, pmTop, 144, 300), 144 / 96.0);
  EXPECT_DOUBLE_EQ(MarginFromPosition(page, pmBottom, 0, 300), (1056 - 82) / 96.0);
  EXPECT_DOUBLE_EQ(MarginFromPosition(page, pmLeft, -50, 300), 0);
}
