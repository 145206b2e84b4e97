// The memo printer through real PDF files read back with poppler's tools
// (pdfinfo, pdftotext, pdftoppm): page counts, lines in order, header and
// footer on every page, form-feed page breaks, selections, page ranges,
// aborting, margins and alignment, and the faults of the older printer
// (an extra blank page, a sticky selection, printing without a memo).
#include <sys/resource.h>

#include <csignal>
#include <fstream>

#include "print_test_util.h"
#include "support/raised.h"

using namespace memo;
using namespace print_test;

namespace {

constexpr double kPointsPerPixel = 72.0 / 300;

std::vector<std::string> Lines(int count, int from = 1) {
  std::vector<std::string> out;
  for (int i = from; i < from + count; ++i) {
    char line[32];
    std::snprintf(line, sizeof line, "Line %03d", i);
    out.push_back(line);
  }
  return out;
}

// The body of each page: its lines without the first (header) and the
// last (footer).
std::vector<std::string> Body(const std::vector<std::string>& page) {
  if (page.size() < 2) return {};
  return std::vector<std::string>(page.begin() + 1, page.end() - 1);
}

bool FileExists(const std::string& path) { return std::ifstream(path).good(); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Pixels of a page rendered by pdftoppm that are clearly red.
int RedPixels(const std::string& pdf, const std::string& prefix) {
  Shell("pdftoppm -r 72 -f 1 -l 1 " + Quoted(pdf) + " " + Quoted(prefix));
  std::string data = ReadFile(prefix + "-1.ppm");
  if (data.compare(0, 2, "P6") != 0) return -1;
  // Header: P6, width, height, maxval, each followed by white space.
  std::size_t at = 2;
  int fields[3];
  for (int& f : fields) {
    while (std::isspace(static_cast<unsigned char>(data[at]))) ++at;
    f = std::atoi(data.c_str() + at);
    while (!std::isspace(static_cast<unsigned char>(data[at]))) ++at;
  }
  ++at;
  int red = 0;
  for (std::size_t i = at; i + 2 < data.size(); i += 3) {
    const auto r = static_cast<unsigned char>(data[i]), g = static_cast<unsigned char>(data[i + 1]),
               b = static_cast<unsigned char>(data[i + 2]);
    if (r > 150 && g < 100 && b < 100) ++red;
  }
  return red;
}

}  // namespace

// ---- pages, lines, header and footer ----

TEST_F(PrintTest, PageCountsMatchThePaginationAndWholePagesGetNoBlankPage) {
  memo.SetText(NumberedLines(10));
  printer.FormatPrint();
  const int lpp = printer.LinesPerPage();
  ASSERT_GT(lpp, 10);
  for (int lines : {lpp, 2 * lpp, 2 * lpp + 1}) {
    memo.SetText(NumberedLines(lines));
    printer.setVellMemo(&memo);
    const std::string pdf = PrintTo("count" + std::to_string(lines) + ".pdf");
    const int expected = (lines + lpp - 1) / lpp;
    EXPECT_EQ(printer.PageCount(), expected) << lines << " lines";
    EXPECT_EQ(PdfPages(pdf), expected) << lines << " lines";
    // Every page but the last is full.
    auto pages = PdfPageLines(pdf);
    ASSERT_EQ(static_cast<int>(pages.size()), expected);
    for (int p = 0; p + 1 < expected; ++p) EXPECT_EQ(static_cast<int>(pages[p].size()), lpp);
  }
}

TEST_F(PrintTest, LinesPerPageFillTheSpaceBetweenTheMargins) {
  printer.setTopMargin(1);
  printer.setBottomMargin(1.25);
  memo.SetText(NumberedLines(200));
  const std::string pdf = PrintTo("fill.pdf");
  const int lpp = printer.LinesPerPage();
  std::vector<Word> words = PdfWords(pdf);
  std::vector<double> tops;
  for (const Word& w : words)
    if (w.page == 0 && w.text == "Line") tops.push_back(w.yMin);
  ASSERT_EQ(static_cast<int>(tops.size()), lpp);
  const double pitch = printer.Pitch() * kPointsPerPixel;
  for (std::size_t i = 1; i < tops.size(); ++i) EXPECT_NEAR(tops[i] - tops[i - 1], pitch, 0.05);
  // The first line starts at the top margin; the page holds as many
  // lines as fit above the bottom margin, and not one more.
  EXPECT_NEAR(tops.front(), 72.0, 0.5);
  const double paper = printer.Metrics().physicalHeight * kPointsPerPixel;
  const double bottom = paper - 1.25 * 72;
  EXPECT_LE(tops.front() + lpp * pitch, bottom + 0.01);
  EXPECT_GT(tops.front() + (lpp + 1) * pitch, bottom);
}

TEST_F(PrintTest, LinesInOrderWithHeaderAndFooterOnEveryPage) {
  memo.SetText(NumberedLines(150));
  printer.Header = "Register {p}";
  printer.Footer = "Page {p} of {p}";
  printer.FooterAlign = taRightJustify;
  const std::string pdf = PrintTo("order.pdf");
  const int pages = printer.PageCount();
  ASSERT_GE(pages, 3);
  auto text = PdfPageLines(pdf);
  ASSERT_EQ(static_cast<int>(text.size()), pages);
  std::vector<std::string> body;
  for (int p = 0; p < pages; ++p) {
    ASSERT_GE(text[p].size(), 2u);
    EXPECT_EQ(text[p].front(), "Register " + std::to_string(p + 1));
    EXPECT_EQ(text[p].back(), "Page " + std::to_string(p + 1) + " of {p}");  // only the first "{p}"
    for (const std::string& l : Body(text[p])) body.push_back(l);
  }
  EXPECT_EQ(body, Lines(150));
  // The footer lies right-aligned at the right margin, 0.4 inch from the
  // bottom edge.
  const double paperW = printer.Metrics().physicalWidth * kPointsPerPixel;
  const double paperH = printer.Metrics().physicalHeight * kPointsPerPixel;
  for (const Word& w : PdfWords(pdf))
    if (w.page == 0 && w.text == "{p}") {
      EXPECT_NEAR(w.xMax, paperW - 0.5 * 72, 1.0);
      EXPECT_NEAR(w.yMin, paperH - 0.4 * 72, 1.0);
    }
}

TEST_F(PrintTest, FormFeedStartsANewPage) {
  printer.Header = "H{p}";
  memo.SetText("Line 001\r\nLine 002\r\n\x0cLine 003\r\nLine 004");
  std::string pdf = PrintTo("ff.pdf");
  EXPECT_EQ(printer.PageCount(), 2);
  EXPECT_EQ(PdfPages(pdf), 2);
  auto pages = PdfPageLines(pdf);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0], (std::vector<std::string>{"H1", "Line 001", "Line 002"}));
  EXPECT_EQ(pages[1], (std::vector<std::string>{"H2", "Line 003", "Line 004"}));

  // A form feed in the first paragraph: a blank first page.
  memo.SetText("\x0cLine 001\r\nLine 002");
  printer.setVellMemo(&memo);
  pdf = PrintTo("ff-first.pdf");
  pages = PdfPageLines(pdf);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0], std::vector<std::string>{"H1"});
  EXPECT_EQ(pages[1], (std::vector<std::string>{"H2", "Line 001", "Line 002"}));
}

TEST_F(PrintTest, FormFeedOnALineThatBeginsAPageGetsAWholeBlankPage) {
  memo.SetText(NumberedLines(3));
  printer.FormatPrint();
  const int lpp = printer.LinesPerPage();
  memo.SetText(NumberedLines(lpp) + "\r\n\x0c" + NumberedLines(2, lpp + 1));
  printer.setVellMemo(&memo);
  const std::string pdf = PrintTo("ff-boundary.pdf");
  EXPECT_EQ(PdfPages(pdf), 3);
  auto pages = PdfPageLines(pdf);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(static_cast<int>(pages[0].size()), lpp);
  EXPECT_TRUE(pages[1].empty());
  EXPECT_EQ(pages[2], Lines(2, lpp + 1));
}

// ---- selection and ranges ----

TEST_F(PrintTest, SelectionPrintsOnlyTheSelectionAndIsNotSticky) {
  memo.SetText(NumberedLines(10));
  const int lineLength = 10;  // "Line 001" and CR LF
  memo.setSelStart(2 * lineLength);
  memo.setSelLength(2 * lineLength - 2);
  std::string pdf = Pdf("selection.pdf");
  gui::Printer().SetOutputFileName(pdf);
  printer.PrintSelection();
  auto pages = PdfPageLines(pdf);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0], (std::vector<std::string>{"Line 003", "Line 004"}));

  // A page range printed afterwards prints the whole text.
  pdf = Pdf("after-selection.pdf");
  gui::Printer().SetOutputFileName(pdf);
  printer.PrintRange(0, 0);
  pages = PdfPageLines(pdf);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0], Lines(10));
  // So does the layout a preview shows.
  EXPECT_FALSE(printer.SelectionMode());
  printer.PrintSelection();
  printer.FormatPrint();
  EXPECT_EQ(printer.FormattingMemo()->GetText(), memo.GetText());
}

TEST_F(PrintTest, PrintFromDialogFollowsTheChosenRange) {
  memo.SetText(NumberedLines(3));
  printer.FormatPrint();
  const int lpp = printer.LinesPerPage();
  memo.SetText(NumberedLines(3 * lpp));
  printer.setVellMemo(&memo);
  printer.Header = "Head {p}";
  gui::TPrintDialog dialog;
  dialog.PrintRange = gui::prPageNums;
  dialog.FromPage = 2;
  dialog.ToPage = 3;
  std::string pdf = Pdf("range.pdf");
  gui::Printer().SetOutputFileName(pdf);
  printer.PrintFromDialog(dialog);
  auto pages = PdfPageLines(pdf);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].front(), "Head 2");
  EXPECT_EQ(pages[1].front(), "Head 3");
  EXPECT_EQ(pages[0][1], Lines(1, lpp + 1)[0]);

  dialog.PrintRange = gui::prAllPages;
  pdf = Pdf("all.pdf");
  gui::Printer().SetOutputFileName(pdf);
  printer.PrintFromDialog(dialog);
  EXPECT_EQ(PdfPages(pdf), 3);

  memo.setSelStart(0);
  memo.setSelLength(8);
  dialog.PrintRange = gui::prSelection;
  pdf = Pdf("dialog-selection.pdf");
  gui::Printer().SetOutputFileName(pdf);
  printer.PrintFromDialog(dialog);
  pages = PdfPageLines(pdf);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0], (std::vector<std::string>{"Head 1", "Line 001"}));
}

TEST_F(PrintTest, PagesBeyondTheTextStartNoJob) {
  memo.SetText(NumberedLines(5));
  const std::string pdf = Pdf("beyond.pdf");
  gui::Printer().SetOutputFileName(pdf);
  printer.PrintRange(4, 9);
  EXPECT_FALSE(FileExists(pdf));
  EXPECT_FALSE(gui::Printer().Printing());
  printer.PrintRange(-3, 99);
  EXPECT_EQ(PdfPages(pdf), 1);
}

TEST_F(PrintTest, AbortFromOnProgressEndsTheDocumentAfterThePagesPrinted) {
  memo.SetText(NumberedLines(3));
  printer.FormatPrint();
  memo.SetText(NumberedLines(5 * printer.LinesPerPage()));
  printer.setVellMemo(&memo);
  std::vector<int> progress;
  printer.OnProgress = [&](TVellMemoPrinter* sender) {
    EXPECT_EQ(sender, &printer);
    progress.push_back(sender->CurrentPage());
    if (sender->CurrentPage() == 2) sender->AbortPrint();
  };
  const std::string pdf = PrintTo("abort.pdf");
  EXPECT_EQ(PdfPages(pdf), 2);
  EXPECT_EQ(progress, (std::vector<int>{0, 1, 2, -1}));
  EXPECT_EQ(printer.CurrentPage(), -1);
}

// ---- faults of the older printer ----

TEST_F(PrintTest, WithoutAMemoFormatPrintDoesNothingAndPrintingSaysSo) {
  printer.setVellMemo(nullptr);
  EXPECT_NO_THROW(printer.FormatPrint());
  EXPECT_EQ(printer.FormattingMemo(), nullptr);
  const std::string pdf = Pdf("none.pdf");
  gui::Printer().SetOutputFileName(pdf);
  for (auto action : std::vector<std::function<void()>>{[&] { printer.Print(); }, [&] { printer.PrintSelection(); },
                                                        [&] { printer.PrintRange(0, 1); }, [&] { printer.Preview(); }}) {
    EXPECT_EQ(qvtest::WhatRaised<rtl::Exception>([&] { action(); }), "No memo to print");
  }
  EXPECT_FALSE(FileExists(pdf));
}

TEST_F(PrintTest, MemoFreedBeforeThePrinterWithAnotherOwner) {
  rtl::TComponent owner(nullptr);
  auto* other = new TVellMemo(&owner);
  other->SetText(NumberedLines(3));
  TVellMemoPrinter separate;
  separate.setVellMemo(other);
  separate.FormatPrint();
  ASSERT_NE(separate.FormattingMemo(), nullptr);
  delete other;
  EXPECT_EQ(separate.MemoToPrint(), nullptr);
  EXPECT_EQ(separate.FormattingMemo(), nullptr);
  EXPECT_NO_THROW(separate.FormatPrint());
}

// ---- geometry ----

TEST_F(PrintTest, MarginsAlignmentAndJustificationOnPaper) {
  printer.setLeftMargin(1);
  printer.setRightMargin(1.5);
  const double paperW = 2479 * kPointsPerPixel;
  const double right = paperW - 1.5 * 72;
  memo.SetText("Short line\r\nAnother");
  memo.SetAlignment(taRightJustify);
  printer.setVellMemo(&memo);
  std::string pdf = PrintTo("right.pdf");
  ASSERT_EQ(printer.Metrics().physicalWidth, 2479);
  for (const Word& w : PdfWords(pdf)) {
    if (w.text == "line" || w.text == "Another") {
      EXPECT_NEAR(w.xMax, right, 0.5) << w.text;
    }
  }

  memo.SetAlignment(taCenter);
  printer.setVellMemo(&memo);
  pdf = PrintTo("centre.pdf");
  for (const Word& w : PdfWords(pdf)) {
    if (w.text == "Another") {
      EXPECT_NEAR((w.xMin + w.xMax) / 2, (72 + right) / 2, 1.0);
    }
  }

  std::string words;
  for (int i = 0; i < 60; ++i) words += (i ? " " : "") + std::string("word") + std::to_string(i % 10);
  memo.SetAlignment(taLeftJustify);
  memo.SetJustified(true);
  memo.SetText(words);
  printer.setVellMemo(&memo);
  pdf = PrintTo("justified.pdf");
  std::vector<Word> all = PdfWords(pdf);
  ASSERT_FALSE(all.empty());
  // Every word inside the margins; the first line spans them exactly.
  for (const Word& w : all) {
    EXPECT_GE(w.xMin, 72 - 0.01);
    EXPECT_LE(w.xMax, right + 0.5);
  }
  const double firstTop = all.front().yMin;
  double lineRight = 0;
  for (const Word& w : all)
    if (std::abs(w.yMin - firstTop) < 0.1) lineRight = std::max(lineRight, w.xMax);
  EXPECT_NEAR(lineRight, right, 0.5);
  EXPECT_NEAR(all.front().xMin, 72, 0.01);
}

TEST_F(PrintTest, LineSpacingInInchesAndInLines) {
  memo.SetText(NumberedLines(4));
  printer.setLineSpacing(0.25);
  std::string pdf = PrintTo("quarter.pdf");
  std::vector<double> tops;
  for (const Word& w : PdfWords(pdf))
    if (w.text == "Line") tops.push_back(w.yMin);
  ASSERT_EQ(tops.size(), 4u);
  for (std::size_t i = 1; i < tops.size(); ++i) EXPECT_NEAR(tops[i] - tops[i - 1], 18.0, 0.05);

  printer.setLineSpacing(-2);
  pdf = PrintTo("double.pdf");
  tops.clear();
  for (const Word& w : PdfWords(pdf))
    if (w.text == "Line") tops.push_back(w.yMin);
  ASSERT_EQ(tops.size(), 4u);
  EXPECT_NEAR(tops[1] - tops[0], 2 * printer.PrinterLineHeight() * kPointsPerPixel, 0.05);
}

TEST_F(PrintTest, PlainTextPrintsWithoutKeywordColours) {
  memo.Keywords().AddKeyWord("smith", 0, 0, 1, 0, clNone, clRed);
  memo.SetText("John Smith, Mary Smith and Anne Smith were baptised.");
  memo.ReApplyKeywords();
  printer.setVellMemo(&memo);
  std::string pdf = PrintTo("coloured.pdf");
  EXPECT_GT(RedPixels(pdf, Pdf("coloured")), 20);
  printer.setPlainText(true);
  pdf = PrintTo("plain.pdf");
  EXPECT_EQ(RedPixels(pdf, Pdf("plain")), 0);
  auto pages = PdfPageLines(pdf);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0][0], "John Smith, Mary Smith and Anne Smith were baptised.");
}

// ---- failures ----

TEST_F(PrintTest, AFileInAMissingFolderIsRefusedBeforePrinting) {
  memo.SetText(NumberedLines(3));
  gui::Printer().SetOutputFileName(Pdf("no/such/folder/out.pdf"));
  EXPECT_THROW(printer.Print(), gui::EPrinter);
  EXPECT_FALSE(gui::Printer().Printing());
  EXPECT_EQ(printer.CurrentPage(), -1);
  // The printer works again afterwards.
  EXPECT_EQ(PdfPages(PrintTo("again.pdf")), 1);
}

TEST_F(PrintTest, AFullDiskKeepsTheOldFile) {
  memo.SetText(NumberedLines(400));
  const std::string pdf = Pdf("full.pdf");
  {
    std::ofstream old(pdf);
    old << "old contents";
  }
  gui::Printer().SetOutputFileName(pdf);
  // Files may not grow beyond 4 KB: the document cannot be written.
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  bool threw = false;
  try {
    printer.Print();
  } catch (const rtl::EWriteError&) {
    threw = true;
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(threw);
  EXPECT_EQ(ReadFile(pdf), "old contents");
  EXPECT_FALSE(gui::Printer().Printing());
  EXPECT_EQ(PdfPages(PrintTo("full.pdf")), printer.PageCount());
}
