// Plain text, the stored "Strings" property, the native image and RTF.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "memo_test_util.h"

using namespace memo;
using namespace memo_test;

namespace {

// A stream that accepts `limit` bytes and then fails, as a full disk does.
class FullStream : public rtl::TMemoryStream {
public:
  explicit FullStream(std::int64_t limit) : limit_(limit) {}
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    std::int64_t room = std::max<std::int64_t>(limit_ - Size(), 0);
    return rtl::TMemoryStream::Write(buffer, std::min(count, room));
  }

private:
  std::int64_t limit_;
};

// A stream whose reads fail after `limit` bytes.
class BrokenStream : public rtl::TStringStream {
public:
  BrokenStream(std::string data, std::int64_t limit) : rtl::TStringStream(data), limit_(limit) {}
  std::int64_t Read(void* buffer, std::int64_t count) override {
    if (Position() >= limit_) throw rtl::EReadError("Stream read error");
    return rtl::TStringStream::Read(buffer, std::min(count, limit_ - Position()));
  }

private:
  std::int64_t limit_;
};

// A window `width` pixels wide whose characters are all 8 pixels wide.
class FixedWidthWindow : public TMemoWindow {
public:
  explicit FixedWidthWindow(int width) : width_(width) {}
  TTextMeasurer& Measurer() override { return measurer_; }
  int ClientWidth() const override { return width_; }
  int ClientHeight() const override { return 100; }

private:
  int width_;
  TFixedWidthMeasurer measurer_{8};
};

std::string Native(TVellMemo& m) {
  rtl::TStringStream s;
  m.SaveToNativeStream(s);
  return s.DataString();
}

std::string RunDump(TVellMemo& m) {
  std::string out;
  for (int i = 0; i < m.GetParCount(); ++i) {
    const ParInfo& p = *m.Pars().At(i);
    out += m.getParagraphs(i) + "|" + std::to_string(p.runCount) + "|" + std::to_string(p.lineCount) + "|";
    for (int r = 0; r < p.runCount; ++r) {
      const DynInfoRec run = p.runs[r].Record();
      out += std::string(reinterpret_cast<const char*>(&run), sizeof(DynInfoRec));
    }
    for (int l = 0; l < p.lineCount; ++l)
      out += std::string(reinterpret_cast<const char*>(&par::Line(p, l)), sizeof(LineInfo));
    out += "\n";
  }
  return out;
}

}  // namespace

TEST(PlainText, EveryLineBreakForm) {
  TVellMemo m;
  m.SetText("a\r\nb\r\n");
  const std::pair<TVellLineBreak, std::string> forms[] = {
      {vbCRLF, "a\r\nb\r\n"}, {vbLFCR, "a\n\rb\n\r"}, {vbCR, "a\rb\r"}, {vbLF, "a\nb\n"}};
  for (auto& [brk, bytes] : forms) {
    m.SetLineBreak(brk);
    EXPECT_EQ(Saved(m), bytes);
    TVellMemo back;
    Load(back, bytes);
    EXPECT_EQ(back.GetText(), "a\r\nb\r\n") << static_cast<int>(brk);
  }
}

TEST(PlainText, ReadingBreaks) {
  TVellMemo m;
  Load(m, std::string("a\r\rb"));
  EXPECT_EQ(m.GetParCount(), 3);
  Load(m, std::string("a\r\nb"));
  EXPECT_EQ(m.GetParCount(), 2);
  Load(m, std::string("a\n\rb\n\nc\r\n\rd"));
  EXPECT_EQ(m.GetText(), "a\r\nb\r\n\r\nc\r\n\r\nd");
  m.CheckIntegrity();
}

TEST(PlainText, BreaksAcrossReadBlocks) {
  // A CR at the end of one 65500-byte block and its LF at the start of the next.
  std::string text(65499, 'x');
  text += "\r\nyy\n\r";
  text += std::string(70000, 'z');
  TVellMemo m;
  Load(m, text);
  EXPECT_EQ(m.GetParCount(), 3);
  EXPECT_EQ(m.getParagraphs(1), "yy");
  EXPECT_EQ(m.getParagraphs(2).size(), 70000u);
  m.CheckIntegrity();
}

TEST(PlainText, ZeroByteEndsTextAndPositionsTheStream) {
  TVellMemo m;
  rtl::TStringStream s(std::string("HEADab\0cd", 9));
  s.SetPosition(4);
  m.LoadFromStream(s);
  EXPECT_EQ(m.GetText(), "ab");
  // Start of reading plus the bytes read before the zero.
  EXPECT_EQ(s.Position(), 6);
  m.SetNullReplacement('?');
  rtl::TStringStream t(std::string("ab\0cd", 5));
  m.LoadFromStream(t);
  EXPECT_EQ(m.GetText(), "ab?cd");
}

TEST(PlainText, StyleCodesRoundTripAndSetStaticStyles) {
  TVellMemo m;
  const std::string bytes = "x\x02" "bold\r\nstill\x02 plain\x01\x01";
  Load(m, bytes);
  EXPECT_EQ(m.Pars().At(1)->line0.startStyle, esBold);
  EXPECT_EQ(Saved(m), "x\x02" "bold\r\nstill\x02 plain");
  m.SetStaticFormat(false);
  EXPECT_EQ(m.Pars().At(1)->line0.startStyle, 0);
}

TEST(PlainText, DiscardTrailingSpacesOnReadAndWrite) {
  TVellMemo m;
  m.SetText("a  \r\nb\t");
  m.Modified = false;
  m.SetOptions(m.Options().With(vmoDiscardTrailingSpaces));
  EXPECT_EQ(m.GetText(), "a\r\nb");
  EXPECT_FALSE(m.Modified);
}

TEST(PlainText, FullDiskRaisesWriteError) {
  TVellMemo m;
  m.SetText(std::string(200000, 'a'));
  FullStream s(1000);
  EXPECT_THROW(m.SaveToStream(s), rtl::EWriteError);
}

TEST(PlainText, ReadFailureKeepsWhatWasRead) {
  TVellMemo m;
  std::string text = std::string(70000, 'a') + "\r\n" + std::string(70000, 'b');
  BrokenStream s(text, 65500);
  EXPECT_THROW(m.LoadFromStream(s), rtl::EReadError);
  EXPECT_EQ(m.GetTextLen(), 65500);
  m.CheckIntegrity();
}

TEST(PlainText, FileRoundTripThroughLines) {
  std::string path = std::string(QV_BINARY_DIR) + "/memo_lines_roundtrip.txt";
  TVellMemo m;
  m.SetText("one\r\ntwo");
  m.Lines()->SaveToFile(path);
  TVellMemo back;
  back.Lines()->LoadFromFile(path);
  EXPECT_EQ(back.GetText(), "one\r\ntwo");
  std::remove(path.c_str());
  EXPECT_THROW(back.Lines()->LoadFromFile(path), rtl::EFOpenError);
  EXPECT_EQ(back.GetText(), "one\r\ntwo");
}

TEST(StringsProperty, LongParagraphsAreChunked) {
  TVellMemo m;
  m.SetText(std::string(600, 'a') + "\r\n" + std::string(255, 'b'));
  auto strings = m.WriteStringsProperty();
  ASSERT_EQ(strings.size(), 4u);
  EXPECT_EQ(strings[0], std::string(254, 'a') + "\x05");
  EXPECT_EQ(strings[1], std::string(254, 'a') + "\x05");
  EXPECT_EQ(strings[2], std::string(92, 'a'));
  EXPECT_EQ(strings[3], std::string(255, 'b'));
  TVellMemo back;
  back.ReadStringsProperty(strings);
  EXPECT_EQ(back.GetText(), m.GetText());
}

TEST(StringsProperty, LeadingEmptyParagraphsSurvive) {
  TVellMemo m;
  m.ReadStringsProperty({"", "", "abc"});
  EXPECT_EQ(m.GetText(), "\r\n\r\nabc");
}

TEST(StringsProperty, ParagraphEndingInByteFiveRoundTrips) {
  TVellMemo m;
  m.SetText(std::string("ab\x05") + "\r\n" + std::string(254, 'c') + "\x05" + "\r\nz");
  auto strings = m.WriteStringsProperty();
  TVellMemo back;
  back.ReadStringsProperty(strings);
  EXPECT_EQ(back.GetText(), m.GetText());
  for (const std::string& s : strings) EXPECT_LE(s.size(), 255u);
}

TEST(NativeImage, RoundTripGivesTheSameModel) {
  TVellMemo m;
  m.Keywords().AddKeyWord("smith", 0, fsBold, 1, 0, clWhite, clRed);
  m.StartStopKeys().AddStartStopKey("(", ")", 0, 0, 0, 0, clYellow, clBlue, false);
  m.SetText("John Smith (born\r\nsmith) x\r\n\r\nsmith");
  m.FormatNow(0, m.GetParCount() - 1, false);
  m.SetDynStyle(1, 3, fsItalic, false, 0, 0, clGreen, clBlack);
  std::string image = Native(m);
  TVellMemo back;
  rtl::TStringStream s(image);
  back.LoadFromNativeStream(s, false);
  back.CheckIntegrity();
  EXPECT_EQ(back.GetText(), m.GetText());
  EXPECT_EQ(RunDump(back), RunDump(m));
  EXPECT_EQ(Native(back), image);
  EXPECT_EQ(AllStates(back), AllStates(m));
}

TEST(NativeImage, KeepsStoredLineBreaks) {
  FixedWidthWindow window(56);
  TVellMemo m;
  m.SetUpdateMode(umImmediate);
  m.AttachWindow(&window);
  m.SetText("aaa bbb ccc ddd");
  EXPECT_GT(m.LineCount(), 1);
  std::string image = Native(m);
  TVellMemo back;
  rtl::TStringStream s(image);
  back.LoadFromNativeStream(s, false);
  EXPECT_EQ(back.LineCount(), m.LineCount());
  EXPECT_EQ(back.getLines(1), m.getLines(1));
}

TEST(NativeImage, DamagedImagesRaiseAndLeaveTheMemo) {
  TVellMemo source;
  source.SetText("first\r\nsecond paragraph");
  const std::string image = Native(source);
  auto corrupt = [&](std::size_t at, std::int32_t value) {
    std::string bad = image;
    std::memcpy(bad.data() + at, &value, 4);
    return bad;
  };
  // Offsets: header 16 bytes; paragraph 0 header at 16 (length, first line,
  // start, run count, line count), its line at 36.
  const std::vector<std::string> damaged = {
      image.substr(0, image.size() - 1),  // truncated text
      image.substr(0, 10),                // truncated header
      corrupt(12, 0x7FFFFFFF),            // paragraph count
      corrupt(12, 0),                     // no paragraph
      corrupt(16, -1),                    // negative length
      corrupt(16, 1000000),               // length beyond the data
      corrupt(28, 0x10000000),            // run count
      corrupt(32, 0),                     // no line
      corrupt(36 + 4, 99),                // line end beyond the paragraph
      corrupt(36, 1),                     // first line not at 0
      corrupt(20, 3),                     // wrong first line
      corrupt(0, 5),                      // wrong text length
      corrupt(4, 9),                      // wrong line count
  };
  for (std::size_t i = 0; i < damaged.size(); ++i) {
    TVellMemo m;
    m.SetText("keep me");
    rtl::TStringStream s(damaged[i]);
    EXPECT_THROW(m.LoadFromNativeStream(s, false), rtl::EStreamError) << "case " << i;
    EXPECT_EQ(m.GetText(), "keep me") << "case " << i;
    m.CheckIntegrity();
  }
  // A zero byte inside the text, and a run beyond its paragraph.
  std::string zero = image;
  zero[zero.size() - 3] = 0;
  TVellMemo m;
  rtl::TStringStream s(zero);
  EXPECT_THROW(m.LoadFromNativeStream(s, false), rtl::EStreamError);
  TVellMemo withRun;
  withRun.SetText("abc");
  withRun.SetDynStyle(0, 1, 0, false, 0, 0, clRed, clBlue);
  std::string runImage = Native(withRun);
  std::int32_t far = 50;
  std::memcpy(runImage.data() + 16 + 20 + 36, &far, 4);
  rtl::TStringStream r(runImage);
  EXPECT_THROW(m.LoadFromNativeStream(r, false), rtl::EStreamError);
}

// The image's bytes are fixed whatever the host: every integer little-endian,
// each line and run record field by field.
TEST(NativeImage, GoldenBytes) {
  FixedWidthWindow window(40);
  TVellMemo m;
  m.SetUpdateMode(umImmediate);
  m.AttachWindow(&window);
  m.Keywords().AddKeyWord("zz", 0, fsBold, 1, 0, clWhite, clRed);
  m.Keywords().AddKeyWord("x", 0, fsBold, 1, 0, clWhite, clRed);
  m.StartStopKeys().AddStartStopKey("<<", ">", 0, 0, 0, 0, clYellow, clBlue, false);
  m.SetText("ab <<d>\r\nx");
  m.SetDynStyle(1, 3, fsItalic, false, 7, 0, clRed, clBlue);
  const std::string image = Native(m);
  std::string hex;
  for (unsigned char c : image) hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
  const std::string noKeys(64, '0'), restOfKeys(60, '0');
  const std::string expected = std::string() +
      "0a000000" "04000000" "18000000" "02000000" +  // text length, lines, widest, paragraphs
      // "ab <<d>": length, first line, start, 4 runs, 3 lines
      "07000000" "00000000" "00000000" "04000000" "03000000" +
      "00000000" "03000000" "10000000" "18000000" "00000000" "00000000" "00000000" "00000000" "00000000" +
      "03000000" "06000000" "18000000" "18000000" "00000000" "00000000" "06000000" "00000000" "03000000" +
      "06000000" "07000000" "08000000" "08000000" "00000000" "00000000" "07000000" "00000000" "03000000" +
      // runs: offset, flags, level, 2 spare, back, fore, context, cursor, 16 keys, 2 spare, open, close, 2 spare
      "01000000" "82" "ff" "0000" "ff000000" "0000ff00" "07000000" "0000" + noKeys + "0000" "00" "00" "0000" +
      "03000000" "00" "00" "0000" "00000000" "00000000" "00000000" "0000" + noKeys + "0000" "00" "00" "0000" +
      "03000000" "c0" "00" "0000" "ffff0000" "0000ff00" "00000000" "0000" "0080" + restOfKeys + "0000" "02" "01" "0000" +
      "07000000" "00" "00" "0000" "00000000" "00000000" "00000000" "0000" + noKeys + "0000" "00" "00" "0000" +
      "6162203c3c643e" +
      // "x": one keyword run, one line
      "01000000" "03000000" "09000000" "01000000" "01000000" +
      "00000000" "01000000" "08000000" "08000000" "00000000" "00000000" "01000000" "00000000" "01000000" +
      "00000000" "c1" "00" "0000" "ffffff00" "ff000000" "01000000" "0000" "0100" + restOfKeys + "0000" "01" "01" "0000" +
      "78";
  EXPECT_EQ(hex, expected);
  TVellMemo back;
  rtl::TStringStream in(image);
  back.LoadFromNativeStream(in, false);
  EXPECT_EQ(RunDump(back), RunDump(m));
}

TEST(Rtf, EmptyMemoHasTablesAndParagraphFormat) {
  TVellMemo m;
  rtl::TStringStream s;
  m.SaveToRTFStream(s, false);
  const std::string& rtf = s.DataString();
  EXPECT_EQ(rtf,
            "{\\rtf1\\ansi\\deff0\\deftab720{\\fonttbl{\\f0\\fnil MS Sans Serif;}{\\f1\\fnil MS Sans Serif;}}\r\n"
            "{\\colortbl\\red0\\green0\\blue0;\\red255\\green0\\blue0;\\red255\\green255\\blue255;"
            "\\red255\\green255\\blue255;}\\pard\\ql\\plain\\f0\\fs16\\cf0\\cb2 \r\n\r\n\\par }" +
                std::string(1, '\0'));
}

TEST(Rtf, EscapesAndStaticStyles) {
  TVellMemo m;
  m.SetText("a{b}\\c \x02" "bold\x02");
  rtl::TStringStream s;
  m.SaveToRTFStream(s, false);
  const std::string& rtf = s.DataString();
  EXPECT_NE(rtf.find("a\\{b\\}\\\\c "), std::string::npos);
  EXPECT_NE(rtf.find("\\plain\\f0\\fs16\\b\\cf0\\cb2 bold\\plain\\f0\\fs16\\cf0\\cb2 \r\n"), std::string::npos);
}

namespace {

// Runs the independent reader on the memo's RTF; empty when python3 is missing.
std::vector<std::string> ReadBack(TVellMemo& m, bool dynamic) {
  // A file of its own: the tests may run in parallel processes.
  char pattern[] = "/tmp/qv-memo-rtf-XXXXXX";
  const int fd = mkstemp(pattern);
  if (fd < 0) return {"FAILED mkstemp"};
  close(fd);
  const std::string path = pattern;
  {
    rtl::TFileStream f(path, rtl::fmCreate);
    m.SaveToRTFStream(f, dynamic);
  }
  std::string cmd = "python3 '" + std::string(QV_SOURCE_DIR) + "/tests/memo/rtf_read.py' '" + path + "' 2>&1";
  std::vector<std::string> lines;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buffer[4096];
    std::string all;
    while (fgets(buffer, sizeof buffer, p)) all += buffer;
    if (pclose(p) != 0) return {"FAILED " + all};
    std::istringstream in(all);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  std::remove(path.c_str());
  return lines;
}

}  // namespace

TEST(Rtf, IndependentReaderSeesTextAndColours) {
  if (std::system("python3 -c 'pass' > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 missing";
  TVellMemo m;
  m.Keywords().AddKeyWord("smith", 0, 0, 1, 0, clWhite, clRed);
  m.SetText("John Smith baptised\r\nno {hit} here\r\nsmith");
  m.FormatNow(0, m.GetParCount() - 1, false);
  m.SetDynStyle(0, 4, fsBold, false, 0, 0, clNone, clBlue);
  m.SetColor(clYellow);
  auto lines = ReadBack(m, true);
  // A run colour of -1 falls back to the static colours (here the yellow
  // window colour), never to white.
  const std::vector<std::string> expected = {
      "P John Smith baptised",
      "R 0 4 0000ff ffff00 1 0 0 0",   // user run: blue text, no background of its own
      "R 4 1 000000 ffff00 0 0 0 0",
      "R 5 5 ff0000 ffffff 0 0 0 0",   // keyword: red on white
      "R 10 9 000000 ffff00 0 0 0 0",
      "P no {hit} here",
      "R 0 13 000000 ffff00 0 0 0 0",
      "P smith",
      "R 0 5 ff0000 ffffff 0 0 0 0",
  };
  EXPECT_EQ(lines, expected);
}

TEST(Rtf, WithoutDynamicStylesOnlyStaticFormat) {
  if (std::system("python3 -c 'pass' > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 missing";
  TVellMemo m;
  m.Keywords().AddKeyWord("smith", 0, 0, 1, 0, clWhite, clRed);
  m.SetText("a \x03hi\x03 \x04" "alt\x04 Smith");
  m.FormatNow(0, 0, false);
  auto lines = ReadBack(m, false);
  const std::vector<std::string> expected = {
      "P a hi alt Smith",
      "R 0 2 000000 ffffff 0 0 0 0",
      "R 2 2 ff0000 ffffff 0 0 0 0",  // highlight: HighlightColor on HighlightBackgnd
      "R 4 1 000000 ffffff 0 0 0 0",
      "R 5 3 000000 ffffff 0 0 0 1",  // alternate font
      "R 8 6 000000 ffffff 0 0 0 0",
  };
  EXPECT_EQ(lines, expected);
}
