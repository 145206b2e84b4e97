// Shared set-up of the printing tests: one offscreen QApplication, the
// shared printer writing PDF files into a temporary folder, and readers of
// the PDF through poppler's command-line tools (pdfinfo, pdftotext,
// pdftoppm), independent of the code that wrote it.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include "../qt_test_app.h"
#include <memory>
#include <QTemporaryDir>
#include <cstdio>
#include <string>
#include <vector>

#include "memo/print/memo_printer.h"
#include "support/run_command.h"
#include "platform/gui/printer.h"

namespace print_test {

using memo_test::App;

// Standard output of a shell command; "" when it fails.
inline std::string Shell(const std::string& command) { return qvtest::RunShell(command).output; }

inline std::string Quoted(const std::string& path) { return "'" + path + "'"; }

inline int PdfPages(const std::string& pdf) {
  const std::string info = Shell("pdfinfo " + Quoted(pdf) + " 2>/dev/null");
  const std::size_t at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::stoi(info.substr(at + 6));
}

// The text lines of each page, blank lines dropped, in reading order.
inline std::vector<std::vector<std::string>> PdfPageLines(const std::string& pdf) {
  const std::string text = Shell("pdftotext -layout " + Quoted(pdf) + " - 2>/dev/null");
  std::vector<std::vector<std::string>> pages(1);
  std::string line;
  auto flush = [&] {
    std::size_t a = line.find_first_not_of(' '), b = line.find_last_not_of(' ');
    if (a != std::string::npos) pages.back().push_back(line.substr(a, b - a + 1));
    line.clear();
  };
  for (char c : text) {
    if (c == '\n') {
      flush();
    } else if (c == '\f') {
      flush();
      pages.emplace_back();
    } else {
      line += c;
    }
  }
  flush();
  if (pages.back().empty()) pages.pop_back();
  return pages;
}

// One word of pdftotext -bbox: its box in points.
struct Word {
  std::string text;
  double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
  int page = 0;
};

inline std::vector<Word> PdfWords(const std::string& pdf) {
  const std::string html = Shell("pdftotext -bbox " + Quoted(pdf) + " - 2>/dev/null");
  std::vector<Word> words;
  int page = -1;
  std::size_t at = 0;
  auto attr = [&](const std::string& tag, const char* name) {
    std::size_t a = tag.find(std::string(name) + "=\"");
    return a == std::string::npos ? 0.0 : std::stod(tag.substr(a + std::string(name).size() + 2));
  };
  while (true) {
    std::size_t p = html.find("<page", at), w = html.find("<word", at);
    if (p == std::string::npos && w == std::string::npos) break;
    if (p != std::string::npos && (w == std::string::npos || p < w)) {
      ++page;
      at = p + 5;
      continue;
    }
    std::size_t close = html.find('>', w), end = html.find("</word>", close);
    const std::string tag = html.substr(w, close - w);
    Word word{html.substr(close + 1, end - close - 1), attr(tag, "xMin"), attr(tag, "yMin"), attr(tag, "xMax"),
              attr(tag, "yMax"), page};
    words.push_back(word);
    at = end;
  }
  return words;
}

// A memo font with the same advance for every character (Liberation Mono).
inline memo::TMemoFont MonoFont(int height = -13) {
  memo::TMemoFont font;
  font.Name = "Courier New";
  font.Height = height;
  font.Size = 10;
  font.Color = memo::clBlack;
  return font;
}

class PrintTest : public ::testing::Test {
protected:
  void SetUp() override {
    App();
    ASSERT_TRUE(dir.isValid());
    gui::TPrinter& device = gui::Printer();
    device.SetPrinterName("");
    device.SetResolution(300);
    device.SetOutputFileName(Pdf("out.pdf"));
    memo.SetFont(MonoFont());
    memo.SetAltFont(MonoFont());
    printer.setVellMemo(&memo);
    printer.SetHeaderFont(MonoFont());
    printer.SetFooterFont(MonoFont());
    printer.setLineSpacing(-1);
  }

  std::string Pdf(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }

  // Numbered lines "Line 001" ..., joined with CR LF.
  static std::string NumberedLines(int count, int from = 1) {
    std::string text;
    for (int i = from; i < from + count; ++i) {
      char line[32];
      std::snprintf(line, sizeof line, "Line %03d", i);
      if (!text.empty()) text += "\r\n";
      text += line;
    }
    return text;
  }

  // Prints the whole memo to a new PDF file of that name; its path.
  std::string PrintTo(const std::string& name) {
    const std::string path = Pdf(name);
    gui::Printer().SetOutputFileName(path);
    printer.Print();
    return path;
  }

  QTemporaryDir dir;
  memo::TVellMemo memo;
  memo::TVellMemoPrinter printer;
};

}  // namespace print_test
