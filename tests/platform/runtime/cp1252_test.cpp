#include "platform/runtime/cp1252.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "support/run_command.h"

namespace {

std::string RunPython(const std::string& code) { return qvtest::RunShell("python3 -c '" + code + "'").output; }

// python3's cp1252 codec is the reference: for every byte, the code point it
// decodes to (U+FFFD for the undefined ones), one per line.
TEST(Cp1252, DecodesEveryByteAsPython) {
  std::string expected = RunPython(
      "import sys\n"
      "for b in range(256):\n"
      "    print(ord(bytes([b]).decode(\"cp1252\", errors=\"replace\")))");
  std::string actual;
  for (int b = 0; b < 256; ++b)
    actual += std::to_string(static_cast<unsigned>(rtl::Cp1252ToUnicode(static_cast<unsigned char>(b)))) + "\n";
  EXPECT_EQ(expected, actual);
}

TEST(Cp1252, Utf8RoundTripOfEveryDefinedByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  std::string back = rtl::Utf8ToCp1252(rtl::Cp1252ToUtf8(all));
  ASSERT_EQ(back.size(), 256u);
  for (int b = 0; b < 256; ++b) {
    bool undefined = b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
    EXPECT_EQ(static_cast<unsigned char>(back[b]), undefined ? '?' : b) << b;
  }
}

TEST(Cp1252, UnmappableAndMalformedBecomeQuestionMarks) {
  EXPECT_EQ(rtl::Utf8ToCp1252("\xE4\xB8\xAD"), "?");          // CJK ideograph
  EXPECT_EQ(rtl::Utf8ToCp1252("a\xC3"), "a?");                // truncated
  EXPECT_EQ(rtl::Utf8ToCp1252("\xFF" "b"), "?b");             // invalid lead byte
  EXPECT_EQ(rtl::Utf8ToCp1252("\xE2\x82\xAC"), "\x80");       // euro sign
}

TEST(Cp1252, CaseTablesFoldAccentedLetters) {
  EXPECT_EQ(rtl::AnsiUpperCase("s\xE9verin \xFF\x9C\x9A\xDF"), "S\xC9VERIN \x9F\x8C\x8A\xDF");
  EXPECT_EQ(rtl::AnsiLowerCase("\xC0\xD7\xDE"), "\xE0\xD7\xFE");  // × is not a letter
  EXPECT_EQ(rtl::CharUpper('1'), '1');
  EXPECT_EQ(rtl::CharUpper(0xF7), 0xF7);
}

}  // namespace
