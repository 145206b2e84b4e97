// "Print": the printer-setup dialog, then the current page through the memo
// printer; with no printer the job is a PDF file, read back with poppler's
// pdfinfo and pdftotext.
#include <QAction>
#include <cstdio>

#include "memo/print/memo_printer.h"
#include "platform/gui/dialogs.h"
#include "platform/gui/printer.h"
#include "platform/runtime/cp1252.h"
#include "window_test_support.h"

using namespace window_test;

namespace {

std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

int PdfPages(const fs::path& pdf) {
  const std::string info = Shell("pdfinfo '" + pdf.string() + "' 2>/dev/null");
  const size_t at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::stoi(info.substr(at + 6));
}

// Non-blank lines of the PDF's text, trimmed, runs of blanks made one.
std::vector<std::string> PdfLines(const fs::path& pdf) {
  const std::string text = Shell("pdftotext -raw '" + pdf.string() + "' - 2>/dev/null");
  std::vector<std::string> lines;
  std::string line;
  auto flush = [&] {
    std::string squeezed;
    for (char c : line) {
      if (c == '\f') continue;
      if (c == ' ' && (squeezed.empty() || squeezed.back() == ' ')) continue;
      squeezed += c;
    }
    while (!squeezed.empty() && squeezed.back() == ' ') squeezed.pop_back();
    if (!squeezed.empty()) lines.push_back(squeezed);
    line.clear();
  };
  for (char c : text) {
    if (c == '\n') flush();
    else line += c;
  }
  flush();
  return lines;
}

std::string Squeezed(const std::string& s) {
  std::string out;
  for (char c : s) {
    const char d = (c == '\t') ? ' ' : c;
    if (d == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += d;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

class SetupAnswer : public gui::TDialogRunner {
public:
  bool accept = true;
  int setups = 0;
  bool RunPrintDialog(gui::TPrinter&, gui::TPrintDialog&) override { return accept; }
  bool RunPrinterSetupDialog(gui::TPrinter&, gui::TPrinterSetupDialog&) override {
    ++setups;
    return accept;
  }
  int ShowModal(QDialog&) override { return 0; }
  void ShowMessage(QWidget*, const std::string& text) override { messages.push_back(text); }
  std::vector<std::string> messages;
};

class PrintWindowTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    gui::Printer().SetPrinterName("");
    pdf = dir / "page.pdf";
    gui::Printer().SetOutputFileName(pdf.string());
  }
  SetupAnswer runner;
  gui::TDialogRunnerScope scope{runner};
  fs::path pdf;
};

TEST_F(PrintWindowTest, PrintsTheCurrentPageToPdf) {
  Search("Smith");
  std::vector<std::string> expected;
  for (const std::string& l : LinesOf(Page()))
    if (!Squeezed(l).empty()) expected.push_back(rtl::Cp1252ToUtf8(Squeezed(l)));
  ASSERT_GT(expected.size(), 80u);
  window->Action("Print1")->trigger();
  EXPECT_EQ(runner.setups, 1);
  ASSERT_TRUE(fs::exists(pdf));
  EXPECT_TRUE(prompts.messages.empty());
  const memo::TVellMemoPrinter& printer = window->VellMemoPrinter1();
  EXPECT_DOUBLE_EQ(printer.MarginLeft(), 0.5);
  EXPECT_TRUE(printer.PlainText());
  // Every word once, in order: long records wrap, none runs off the paper.
  auto words = [](const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& l : lines) {
      std::istringstream s(l);
      for (std::string w; s >> w;) out.push_back(w);
    }
    return out;
  };
  const std::vector<std::string> printed = PdfLines(pdf);
  EXPECT_GT(printed.size(), expected.size());  // some records take two lines
  EXPECT_EQ(words(printed), words(expected));
  // As many pages as the printed lines need.
  const int per_page = printer.LinesPerPage();
  ASSERT_GT(per_page, 10);
  ASSERT_NE(printer.FormattingMemo(), nullptr);
  const int lines = printer.FormattingMemo()->LineCount();  // blank lines too
  EXPECT_GE(lines, static_cast<int>(printed.size()));
  EXPECT_EQ(PdfPages(pdf), (lines + per_page - 1) / per_page);
  EXPECT_EQ(PdfPages(pdf), printer.PageCount());
  EXPECT_GT(PdfPages(pdf), 1);
}

TEST_F(PrintWindowTest, PrintsThePageThatIsActive) {
  Search("Smith");
  window->Action("Newsheet1")->trigger();
  Current().SetText("1700 the second page\r\n1701 its second line");
  window->Action("Print1")->trigger();
  EXPECT_EQ(PdfPages(pdf), 1);
  EXPECT_EQ(PdfLines(pdf), (std::vector<std::string>{"1700 the second page", "1701 its second line"}));
}

TEST_F(PrintWindowTest, CancelledSetupPrintsNothing) {
  runner.accept = false;
  Page().SetText("1700 text");
  window->Action("Print1")->trigger();
  EXPECT_EQ(runner.setups, 1);
  EXPECT_FALSE(fs::exists(pdf));
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(PrintWindowTest, UnwritablePdfIsReportedAndThePageKept) {
  Page().SetText("1700 text");
  gui::Printer().SetOutputFileName((dir / "missing folder" / "x.pdf").string());
  window->Action("Print1")->trigger();
  EXPECT_EQ(prompts.messages.size() + runner.messages.size(), 1u);
  EXPECT_EQ(Page().GetText(), "1700 text");
}

}  // namespace
