// The memo's RTF read back by unrtf (Debian package "unrtf"): --text gives
// the text, --html the colour of every character.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "memo_test_util.h"
#include "platform/runtime/cp1252.h"

using namespace memo;

namespace {

bool HaveUnrtf() {
  return std::system("unrtf --version > /dev/null 2>&1") == 0 && std::system("python3 -c pass > /dev/null 2>&1") == 0;
}

// The memo's RTF in a file of its own, removed again by the destructor.
class RtfFile {
public:
  RtfFile(TVellMemo& m, bool dynamic) {
    char pattern[] = "/tmp/qv-memo-rtf-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);
    path_ = pattern;
    rtl::TFileStream f(path_, rtl::fmCreate);
    m.SaveToRTFStream(f, dynamic);
  }
  ~RtfFile() { std::remove(path_.c_str()); }
  const std::string& Path() const { return path_; }

private:
  std::string path_;
};

// What a command writes to its standard output; "FAILED" when it fails.
std::string Run(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return "FAILED popen";
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
  if (pclose(p) != 0) return "FAILED " + out;
  return out;
}

// unrtf --text without its header (everything up to the dashed rule).
std::string UnrtfText(const RtfFile& file) {
  const std::string all = Run("unrtf --text '" + file.Path() + "' 2>/dev/null");
  const std::string rule = "\n-----------------\n";
  const std::size_t at = all.find(rule);
  return at == std::string::npos ? "NO RULE " + all : all.substr(at + rule.size());
}

// The colours unrtf gives the text, as pieces "[text] foreground/background"
// and "|" for a line break, read from its HTML by unrtf_html.py.
std::vector<std::string> UnrtfColours(const RtfFile& file) {
  const std::string out = Run("unrtf --html '" + file.Path() + "' 2>/dev/null | python3 '" +
                              std::string(QV_SOURCE_DIR) + "/tests/memo/unrtf_html.py'");
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < out.size()) {
    std::size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    lines.push_back(out.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

}  // namespace

TEST(RtfUnrtf, TextOfEveryParagraph) {
  if (!HaveUnrtf()) GTEST_SKIP() << "unrtf or python3 missing";
  TVellMemo m;
  m.SetText("1687 12 Mar John Smith, Mary Cole; Anne\r\n\r\nRemark {braces} and \\ back\\slash\r\n"
            "Jos\xe9 \x02" "bold\x02 end");
  RtfFile file(m, true);
  // unrtf's text mode writes characters above 127 in Latin-1, where the
  // e acute is the same byte as in Windows-1252.
  EXPECT_EQ(UnrtfText(file),
            "1687 12 Mar John Smith, Mary Cole; Anne\n\nRemark {braces} and \\ back\\slash\nJos\xe9 bold end\n");
}

TEST(RtfUnrtf, EightBitCharactersSurvive) {
  if (!HaveUnrtf()) GTEST_SKIP() << "unrtf or python3 missing";
  TVellMemo m;
  std::string all;
  for (int c = 0xA1; c <= 0xFF; ++c) all += static_cast<char>(c);
  m.SetText("\x80 \x93quoted\x94 " + all);
  RtfFile file(m, false);
  const std::vector<std::string> expected = {"[" + rtl::Cp1252ToUtf8("\x80 \x93quoted\x94 " + all) + "] #000000/#ffffff",
                                             "|"};
  EXPECT_EQ(UnrtfColours(file), expected);
}

TEST(RtfUnrtf, KeywordAndUserRunColours) {
  if (!HaveUnrtf()) GTEST_SKIP() << "unrtf or python3 missing";
  TVellMemo m;
  m.Keywords().AddKeyWord("smith", 0, 0, 1, 0, clWhite, clRed);
  m.SetText("John Smith baptised\r\nno {hit} here\r\nsmith & co");
  m.FormatNow(0, m.GetParCount() - 1, false);
  m.SetDynStyle(0, 4, fsBold, false, 0, 0, clNone, clBlue);  // no background of its own
  m.SetDynStyle(44, 46, 0, false, 0, 0, clLime, clNavy);      // "co"
  m.SetColor(clYellow);
  RtfFile file(m, true);
  const std::vector<std::string> expected = {
      "[John] #0000ff/#ffff00",  // the window colour where a run has none
      "[ ] #000000/#ffff00",
      "[Smith] #ff0000/#ffffff",
      "[ baptised] #000000/#ffff00",
      "|",
      "[no {hit} here] #000000/#ffff00",
      "|",
      "[smith] #ff0000/#ffffff",
      "[ & ] #000000/#ffff00",
      "[co] #000080/#00ff00",
      "|",
  };
  EXPECT_EQ(UnrtfColours(file), expected);
}

TEST(RtfUnrtf, KeywordsAfterEditsAndAcrossParagraphs) {
  if (!HaveUnrtf()) GTEST_SKIP() << "unrtf or python3 missing";
  TVellMemo m;
  m.Keywords().AddKeyWord("baker", 0, 0, 1, 0, clWhite, clRed);
  m.Keywords().AddKeyWord("mary", 0, 0, 1, 0, clBlack, clYellow);
  // Context 0: keywords stay allowed inside the pair.
  m.StartStopKeys().AddStartStopKey("[", "]", 0, 0, 0, 0, clSilver, clGreen, false);
  m.SetText("Mary Baker [wid\r\nof Tho. Baker] mary");
  m.FormatNow(0, m.GetParCount() - 1, false);
  memo_test::Replace(m, 0, 0, "x");  // "xMary" keeps its keyword: no whole-word option
  m.FormatNow(0, m.GetParCount() - 1, false);
  RtfFile file(m, true);
  const std::vector<std::string> expected = {
      "[x] #000000/#ffffff",          "[Mary] #ffff00/#000000",
      "[ ] #000000/#ffffff",          "[Baker] #ff0000/#ffffff",
      "[ ] #000000/#ffffff",          "[[wid] #008000/#c0c0c0",
      "|",                            "[of Tho. ] #008000/#c0c0c0",
      "[Baker] #ff0000/#ffffff",      "[]] #008000/#c0c0c0",
      "[ ] #000000/#ffffff",          "[mary] #ffff00/#000000",
      "|",
  };
  EXPECT_EQ(UnrtfColours(file), expected);
}

TEST(RtfUnrtf, WithoutDynamicStylesOnlyStaticHighlight) {
  if (!HaveUnrtf()) GTEST_SKIP() << "unrtf or python3 missing";
  TVellMemo m;
  m.Keywords().AddKeyWord("smith", 0, 0, 1, 0, clWhite, clRed);
  m.SetHighlightColor(clGreen);
  m.SetHighlightBackgnd(clSilver);
  m.SetText("a \x03hi\x03 Smith");
  m.FormatNow(0, 0, false);
  RtfFile file(m, false);
  const std::vector<std::string> expected = {"[a ] #000000/#ffffff", "[hi] #008000/#c0c0c0",
                                             "[ Smith] #000000/#ffffff", "|"};
  EXPECT_EQ(UnrtfColours(file), expected);
}
