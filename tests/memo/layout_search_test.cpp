// Line breaking with a fixed-width measurer, background formatting through
// a message queue, and the text search.
#include <gtest/gtest.h>

#include <deque>

#include "memo/line_breaker.h"
#include "memo_test_util.h"

using namespace memo;
using namespace memo_test;

namespace {

class Window : public TMemoWindow {
public:
  explicit Window(int width) : width_(width) {}
  TTextMeasurer& Measurer() override { return measurer; }
  int ClientWidth() const override { return width_; }
  int ClientHeight() const override { return 48; }
  TFixedWidthMeasurer measurer{8, 2};

private:
  int width_;
};

class Queue : public TMessagePoster {
public:
  void Post(TVellMemo* memo, std::uint32_t msg, std::intptr_t w, std::intptr_t l) override {
    items.push_back({memo, msg, w, l});
  }
  void Cancel(TVellMemo* memo) override {
    std::erase_if(items, [&](const Item& i) { return i.memo == memo; });
  }
  int Pump() {
    int n = 0;
    while (!items.empty()) {
      Item i = items.front();
      items.pop_front();
      i.memo->Perform(i.msg, i.w, i.l);
      ++n;
    }
    return n;
  }
  struct Item {
    TVellMemo* memo;
    std::uint32_t msg;
    std::intptr_t w, l;
  };
  std::deque<Item> items;
};

std::vector<std::pair<int, int>> LineSpans(TVellMemo& m, int par) {
  const ParInfo& p = *m.Pars().At(par);
  std::vector<std::pair<int, int>> spans;
  for (int l = 0; l < p.lineCount; ++l) spans.push_back({par::Line(p, l).start, par::Line(p, l).end});
  return spans;
}

}  // namespace

TEST(Layout, WithoutWindowOneLinePerParagraph) {
  TVellMemo m;
  m.SetText(std::string(500, 'a') + " b c\r\nx");
  m.FormatNow(0, 1, false);
  EXPECT_EQ(m.LineCount(), 2);
  EXPECT_EQ(m.Pars().At(0)->line0.width, 0);
  EXPECT_EQ(m.getLines(0).size(), 504u);
}

TEST(Layout, WrapsAtBlanksKeepingThemOnTheUpperLine) {
  Window w(8 + 8 + 80);  // 80 pixels: ten characters
  TVellMemo m;
  m.SetUpdateMode(umImmediate);
  m.AttachWindow(&w);
  m.SetText("aaaa bbbb  cccc");
  EXPECT_EQ(LineSpans(m, 0), (std::vector<std::pair<int, int>>{{0, 11}, {11, 15}}));
  const LineInfo& first = m.Pars().At(0)->line0;
  EXPECT_EQ(first.width, 72);
  EXPECT_EQ(first.fullWidth, 88);
  EXPECT_EQ(first.innerBlanks, 1);
  EXPECT_EQ(m.getLines(0), "aaaa bbbb  ");
  EXPECT_EQ(m.getLines(1), "cccc");
  m.CheckIntegrity();
}

TEST(Layout, BreaksAWordWiderThanTheLine) {
  Window w(16 + 80);
  TVellMemo m;
  m.SetUpdateMode(umImmediate);
  m.AttachWindow(&w);
  m.SetText(std::string(25, 'x'));
  EXPECT_EQ(LineSpans(m, 0), (std::vector<std::pair<int, int>>{{0, 10}, {10, 20}, {20, 25}}));
  EXPECT_EQ(m.Pars().At(0)->line0.justifyStart, 10);
}

TEST(Layout, NoWrapWithoutWordWrapAndBoldIsWider) {
  Window w(16 + 80);
  TVellMemo m;
  m.SetUpdateMode(umImmediate);
  m.AttachWindow(&w);
  m.SetWordWrap(false);
  m.SetText(std::string(40, 'x') + " y");
  EXPECT_EQ(m.LineCount(), 1);
  m.SetWordWrap(true);
  m.SetText("\x02" "abcd\x02 abcd");
  // Bold characters are 10 pixels wide, plain ones 8; codes take no width.
  EXPECT_EQ(m.Pars().At(0)->line0.fullWidth, 40 + 8 + 32);
}

TEST(Layout, TabClearsInnerBlanks) {
  Window w(16 + 800);
  TVellMemo m;
  m.SetUpdateMode(umImmediate);
  m.AttachWindow(&w);
  m.SetText("a   \tb c d");
  const LineInfo& line = m.Pars().At(0)->line0;
  EXPECT_EQ(line.justifyStart, 10);  // the last line of a paragraph is not justified
  EXPECT_EQ(line.innerBlanks, 2);
  EXPECT_EQ(line.width, 8 * 8 * 8 / 8 + 8 * 5);  // tab to 64, then "b c d"
}

TEST(Layout, EachLineStartsWithTheRunsBeforeItTaken) {
  Window w(16 + 80);
  TVellMemo m;
  m.SetUpdateMode(umImmediate);
  m.AttachWindow(&w);
  // Runs begin mid-word, at a line start, inside a word wider than the line
  // and in the blanks; every line must start with the runs up to it taken.
  m.SetText("aaaa bbbbbb cccccccccccccccccccccc dd eeee ffff");
  m.SetDynStyle(2, 7, fsBold, false, 0, 0, clNone, clBlue);
  m.SetDynStyle(12, 14, fsItalic, false, 0, 0, clNone, clRed);
  m.SetDynStyle(21, 25, fsBold, false, 0, 0, clNone, clGreen);
  m.SetDynStyle(34, 36, fsItalic, false, 0, 0, clNone, clBlue);
  const ParInfo& p = *m.Pars().At(0);
  ASSERT_GT(p.runCount, 4);
  ASSERT_GT(p.lineCount, 3);
  for (int l = 0; l < p.lineCount; ++l) {
    const LineInfo& line = par::Line(p, l);
    EXPECT_EQ(line.startRun, par::RunsUpTo(p, line.start)) << "line " << l;
  }
  m.CheckIntegrity();
}

TEST(Layout, MeasurerDirectlyReportsWidestLine) {
  ParInfo p = par::MakeEmpty();
  par::SetText(p, "ab cd", 5);
  TFixedWidthMeasurer fixed(6);
  LayoutValues v;
  v.availableWidth = 1000;
  LayoutResult r = BreakLines(p, fixed, v);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.widest, 30);
  par::Free(p);
}

// The memo's view state against a model of the rows: row r of the view
// covers the client pixels [RowTop(r), RowTop(r) + height), and the first
// visible line is top origin / height, whatever the window.
TEST(Layout, ViewRowsAndOriginsFollowTheTopOrigin) {
  for (int height : {1, 7, 12}) {
    for (int origin : {0, 5, 11, 24, 100}) {
      TVellMemo m;
      m.SetText(std::string(200, '\n'));
      m.SetLineHeight(height);
      m.setTopOrigin(origin);
      EXPECT_EQ(m.ViewState().top_origin, origin);
      EXPECT_EQ(m.getTopLine(), origin / height);
      for (int row = 0; row < 6; ++row) {
        const int top = m.LinePos(row);
        EXPECT_EQ(top, row * height - origin % height);
        for (int y : {top, top + height - 1}) {
          if (y < 0) continue;
          EXPECT_EQ(m.LineNb(y), row) << height << " " << origin << " " << y;
        }
      }
      // A change of the line count above keeps the part of a line scrolled out.
      EXPECT_EQ(m.ViewState().OriginForTopLine(3, height), 3 * height + origin % height);
    }
  }
  TVellMemo m;
  m.RememberedCaretX = 40;
  EXPECT_EQ(m.ViewState().remembered_caret_x, 40);
  m.setSelStart(0);
  EXPECT_EQ(m.RememberedCaretX, TVellMemo::kNoCaretX);
  m.SetMouseWheelFactor(5);
  EXPECT_EQ(m.ViewState().mouse_wheel_factor, 5);
}

TEST(BackgroundFormatting, SlicesArePostedAndProgressEnds) {
  Window w(200);
  Queue queue;
  TVellMemo m;
  m.SetPoster(&queue);
  m.AttachWindow(&w);
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "word word word word word word\r\n";
  int saved = ProgressInterval;
  ProgressInterval = -1;
  std::vector<int> reports;
  m.OnProgress = [&](TVellMemo* memo) { reports.push_back(memo->Progress()); };
  m.SetText(text);
  EXPECT_FALSE(queue.items.empty());
  EXPECT_GT(m.BackgroundLast(), -1);
  reports.clear();
  EXPECT_GE(queue.Pump(), 1);
  ProgressInterval = saved;
  EXPECT_EQ(m.BackgroundLast(), -1);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back(), 100);
  EXPECT_EQ(*std::max_element(reports.begin(), reports.end() - 1), 99);
  EXPECT_EQ(std::count(reports.begin(), reports.end(), 100), 1);
  for (int i = 0; i < m.GetParCount(); ++i) ASSERT_TRUE(m.Pars().At(i)->formatted);
  EXPECT_GT(m.LineCount(), m.GetParCount());
  m.CheckIntegrity();
}

TEST(BackgroundFormatting, WithoutPosterFormatsAtOnceAndDestroyedMemoCancels) {
  Window w(200);
  TVellMemo m;
  m.AttachWindow(&w);
  m.SetText("aaaa bbbb cccc dddd eeee ffff gggg\r\nx");
  EXPECT_EQ(m.BackgroundLast(), -1);
  EXPECT_GT(m.LineCount(), 2);
  Queue queue;
  {
    TVellMemo gone;
    gone.SetPoster(&queue);
    gone.AttachWindow(&w);
    gone.SetText("a\r\nb");
    EXPECT_FALSE(queue.items.empty());
  }
  EXPECT_TRUE(queue.items.empty());
}

TEST(BackgroundFormatting, AttachedComponentsSeeMessages) {
  struct Spy : rtl::TComponent {
    Spy() : rtl::TComponent(nullptr) {}
    void Notification(rtl::TComponent* c, rtl::TOperation op) override {
      if (op == kMessageNotification) seen.push_back(static_cast<TVellMemo*>(c)->LastMessage().Msg);
    }
    std::vector<std::uint32_t> seen;
  };
  TVellMemo m;
  Spy spy;
  m.AttachComponent(&spy);
  m.SetText("abc");
  ASSERT_FALSE(spy.seen.empty());
  EXPECT_EQ(spy.seen.back(), CM_TEXTCHANGED);
  m.DetachComponent(&spy);
  m.Perform(VM_UPDATEBKG, 0, 0);
  EXPECT_EQ(m.AttachedCount(), 0);
}

TEST(Search, ForwardRepeatsAndBackwardFindsTheOneBeforeTheCaret) {
  TVellMemo m;
  m.SetText("Smith and smith\r\nblacksmith SMITH");
  EXPECT_TRUE(m.FindTxt("smith", true, false, false));
  EXPECT_EQ(m.getSelStart(), 5);
  EXPECT_EQ(m.getSelLength(), -5);
  EXPECT_TRUE(m.FindTxt("smith", true, false, false));
  EXPECT_EQ(m.getSelStart(), 15);
  EXPECT_TRUE(m.FindTxt("smith", true, true, false));
  EXPECT_EQ(m.getSelStart(), 33);  // whole word skips "blacksmith"
  EXPECT_FALSE(m.FindTxt("smith", true, false, false));
  EXPECT_EQ(m.getSelStart(), 33);
  EXPECT_TRUE(m.FindTxt("smith", false, false, true));
  EXPECT_EQ(m.getSelStart(), 22);
  EXPECT_EQ(m.getSelLength(), 5);
  m.setSelStart(15);
  EXPECT_TRUE(m.FindTxt("smith", false, false, false));
  EXPECT_EQ(m.getSelStart(), 10);
  EXPECT_FALSE(m.FindTxt("h\r\nb", true, false, false));
  EXPECT_FALSE(m.FindTxt("", true, false, false));
}

TEST(Search, UserDefinedFoldingFallsBackToAscii) {
  TVellMemo m;
  m.SetText("caf\xe9 CAF\xc9");
  m.SetUpperCaseType(vmuUserDefined);
  EXPECT_TRUE(m.FindTxt("caf\xe9", true, false, false));
  EXPECT_EQ(m.getSelStart(), 4);
  EXPECT_FALSE(m.FindTxt("caf\xe9", true, false, false));
  m.SetUpperCaseType(vmuAnsi);
  m.setSelStart(0);
  EXPECT_TRUE(m.FindTxt("caf\xe9", true, false, false));
  EXPECT_TRUE(m.FindTxt("caf\xe9", true, false, false));
  EXPECT_EQ(m.getSelStart(), 9);
  char* up = m.GetUpText(nullptr, 0, 0, 0);
  EXPECT_STREQ(up, "");
}
