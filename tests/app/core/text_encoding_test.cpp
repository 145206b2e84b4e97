#include "app/core/text_encoding.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "core_test_support.h"

namespace appcore {
namespace {

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (const char c : bytes) {
    hex += digits[static_cast<unsigned char>(c) >> 4];
    hex += digits[static_cast<unsigned char>(c) & 15];
  }
  return hex;
}

// How the program reads bytes, in the reference's words.
std::string Verdict(std::string_view bytes) {
  const TextForm form = DetectForm(bytes);
  if (form.mixed) {
    std::string text;
    if (!DecodeText(bytes, form, text)) return "X";
    return "M" + Hex(text);
  }
  if (!form.utf8) {
    for (const char c : bytes)
      if (static_cast<unsigned char>(c) >= 0x80) return "C";
    return "A";
  }
  std::string text;
  if (!DecodeText(bytes, form, text)) return "X";
  return "U" + Hex(text);
}

TEST(TextEncoding, Cases) {
  const struct {
    std::string bytes;
    std::string verdict;
  } cases[] = {
      {"", "A"},
      {"plain 1700 Smith", "A"},
      {"Dupr\xe9", "C"},                          // Windows-1252
      {"Dupr\xc3\xa9", "U" + Hex("Dupr\xe9")},    // the same in UTF-8
      {"\xef\xbb\xbfZo\xc3\xab", "U" + Hex("Zo\xeb")},  // a byte-order mark is dropped
      {"\xe2\x82\xac 5", "U" + Hex("\x80 5")},    // euro sign
      {"Ma\xc5\x82gorzata", "X"},                 // l with stroke: no Windows-1252 byte
      {"\xc2\x81", "X"},                          // U+0081: none either
      {"\xc0\xa9", "C"},                          // overlong
      {"\xed\xa0\x80", "C"},                      // surrogate
      {"\xf4\x90\x80\x80", "C"},                  // past U+10FFFF
      {"\xc3", "C"},                              // cut short
      {"\xef\xbb\xbf", "U"},                      // a byte-order mark alone: no text
      {"a\xef\xbb\xbf", "X"},                     // one further on is a character, U+FEFF
      // Lines of both forms: each line read in its own.
      {"Dupr\xc3\xa9\r\nDupr\xe9", "M" + Hex("Dupr\xe9\r\nDupr\xe9")},
      {"\xef\xbb\xbf" "A\xc3\xa9\nB\xe9\rC\xc3\xbc", "M" + Hex("A\xe9\nB\xe9\rC\xfc")},
      {"A\xe9 \xc3\xa9\nB\xc3\xa9", "M" + Hex("A\xe9 \xc3\xa9\nB\xe9")},  // a line with both is Windows-1252
      {"A\xe9\nB\xce\x95", "X"},
      {"A\xe9\r\nplain\r\nB\xe9", "C"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Hex(c.bytes));
    EXPECT_EQ(Verdict(c.bytes), c.verdict);
  }
  // The first character that cannot be shown is named.
  std::string text, bad;
  EXPECT_FALSE(DecodeText("a\xc5\x82 b\xce\xb1", DetectForm("a\xc5\x82 b\xce\xb1"), text, &bad));
  EXPECT_EQ(bad, "\xc5\x82");
  EXPECT_EQ(UnshowableMessage("x_bap.txt", bad, 7),
            "\"x_bap.txt\" is UTF-8 text with characters that Windows-1252 cannot show (the first is U+0142, on line "
            "7): it is not read.");
  // Its line, and the first line of each form of a mixed file, as an editor
  // counts them (CR LF, CR and LF each end one).
  int64_t line = 0;
  const std::string lines = "T\r\n\xc3\xa9\rx\n\n\xce\x95";
  EXPECT_FALSE(DecodeText(lines, DetectForm(lines), text, &bad, &line));
  EXPECT_EQ(line, 5);
  MixedLines mixed;
  EXPECT_TRUE(DetectForm("T\r\n\r\nA\xe9\rB\xc3\xa9\n", &mixed).mixed);
  EXPECT_EQ(mixed.utf8, 4);
  EXPECT_EQ(mixed.cp1252, 3);
  EXPECT_EQ(MixedNote(mixed), "mixes UTF-8 (line 4) and Windows-1252 (line 3): each line is read in its own form");
}

// Every Windows-1252 character written in UTF-8 comes back as itself, and
// a text written back gives the file's bytes again, its mark included.
TEST(TextEncoding, WrittenBackByteForByte) {
  std::string all;
  for (int b = 1; b < 256; ++b)
    if (b != 0x81 && b != 0x8d && b != 0x8f && b != 0x90 && b != 0x9d) all += static_cast<char>(b);
  for (const bool bom : {false, true}) {
    const TextForm form{true, bom};
    const std::string bytes = EncodeText(all, form);
    EXPECT_EQ(DetectForm(bytes), form);
    std::string text;
    ASSERT_TRUE(DecodeText(bytes, form, text));
    EXPECT_EQ(text, all);
    EXPECT_EQ(EncodeText(text, form), bytes);
  }
  EXPECT_EQ(EncodeText("Dupr\xe9", TextForm{}), "Dupr\xe9");
  EXPECT_EQ(DetectLinesForm({"Title", "1700 Dupr\xc3\xa9", "x"}), (TextForm{true, false}));
  EXPECT_EQ(DetectLinesForm({"\xef\xbb\xbfTitle", "1700 Dupr\xc3\xa9"}), (TextForm{true, true}));
  EXPECT_EQ(DetectLinesForm({"Title", "1700 Dupr\xc3\xa9", "1701 Dupr\xe9"}), TextForm{});
  EXPECT_EQ(DetectLinesForm({"Title", "ASCII only"}), TextForm{});
}

// Random bytes, from ASCII and Windows-1252 text to well-formed and broken
// UTF-8, read as python's codecs read them.
TEST(TextEncoding, AgreesWithPythonsCodecs) {
  if (std::system("python3 -c 'pass' > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 missing";
  appcore_test::TempDir dir;
  std::mt19937_64 random(70);
  auto utf8 = [](char32_t c) {
    std::string s;
    if (c < 0x80) s += static_cast<char>(c);
    else if (c < 0x800) s += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    else if (c < 0x10000)
      s += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
            static_cast<char>(0x80 | (c & 0x3F))};
    else
      s += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)),
            static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    return s;
  };
  std::vector<std::string> inputs;
  for (int i = 0; i < 3000; ++i) {
    std::string s;
    const int kind = static_cast<int>(random() % 6);
    if (kind == 4 && random() % 2) s = "\xef\xbb\xbf";
    const int length = static_cast<int>(random() % 24);
    for (int k = 0; k < length; ++k) {
      const uint64_t r = random();
      switch (kind) {
        case 0: s += static_cast<char>(0x20 + r % 95); break;                 // ASCII
        case 1: s += static_cast<char>(r % 256); break;                       // any bytes
        case 2: s += utf8(static_cast<char32_t>(0x20 + r % 0x2200)); break;  // UTF-8, some unshowable
        case 3: s += utf8(static_cast<char32_t>(r % 0x110000)); break;       // surrogates too
        case 5: {                                                              // lines of both forms
          static const char* const pieces[] = {"\r\n", "\n", "\r", "\xe9", "\xc3\xa9", "\xe2\x82\xac", "a", "\xce\x95"};
          s += pieces[r % (r % 7 == 0 ? 8 : 7)];
          break;
        }
        default: {                                                              // showable UTF-8
          static const char32_t pool[] = {'a', 'Z', ' ', 0xE9, 0xFC, 0x20AC, 0x152, 0x2018, 0xDF, 0x178};
          s += utf8(pool[r % 10]);
        }
      }
    }
    // Half behind a run of ASCII, so that the first high byte falls on
    // every place of the scan's 16- and 64-byte steps.
    if (kind != 4 && random() % 2) s = std::string(random() % 150, 'a') + s;
    inputs.push_back(s);
  }
  std::string listing;
  for (const std::string& s : inputs) listing += Hex(s) + "\n";
  appcore_test::WriteBytes(dir / "in.txt", listing);
  const std::string command = "python3 '" + std::string(QV_SOURCE_DIR) + "/tests/app/core/text_encoding_reference.py' '" +
                              (dir / "in.txt") + "' '" + (dir / "out.txt") + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::istringstream expected(appcore_test::ReadBytes(dir / "out.txt"));
  int kinds[5] = {0, 0, 0, 0, 0};
  for (const std::string& s : inputs) {
    std::string want;
    std::getline(expected, want);
    EXPECT_EQ(Verdict(s), want) << Hex(s);
    ++kinds[std::string("ACUXM").find(want[0])];
  }
  // Each verdict was reached many times.
  for (const int n : kinds) EXPECT_GT(n, 100);
}

}  // namespace
}  // namespace appcore
