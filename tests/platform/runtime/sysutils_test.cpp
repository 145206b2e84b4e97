#include "platform/runtime/sysutils.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/runtime/cp1252.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/format_settings.h"
#include "runtime_test_util.h"
#include "support/raised.h"

namespace rtl {
namespace {

// ---- numbers --------------------------------------------------------------

TEST(Numbers, IntToStrAndHex) {
  EXPECT_EQ(IntToStr(0), "0");
  EXPECT_EQ(IntToStr(-2147483648LL), "-2147483648");
  EXPECT_EQ(IntToStr(INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(IntToHex(255, 4), "00FF");
  EXPECT_EQ(IntToHex(0x1234ABCD, 2), "1234ABCD");
  EXPECT_EQ(IntToHex(-1, 1), "FFFFFFFF");
  EXPECT_EQ(IntToHex64(-2, 4), "FFFFFFFFFFFFFFFE");
}

TEST(Numbers, StrToIntAcceptsDecimalAndHex) {
  EXPECT_EQ(StrToInt("42"), 42);
  EXPECT_EQ(StrToInt("  -17"), -17);
  EXPECT_EQ(StrToInt("+5"), 5);
  EXPECT_EQ(StrToInt("$1f"), 31);
  EXPECT_EQ(StrToInt("0x10"), 16);
  EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
  EXPECT_EQ(StrToInt("2147483647"), INT_MAX);
  EXPECT_EQ(StrToInt("-2147483648"), INT_MIN);
  EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
}

TEST(Numbers, StrToIntRejectsWithMessage) {
  for (const char* bad : {"", " ", "12 ", "1.5", "abc", "--1", "$", "0x", "2147483648", "-2147483649",
                          "$1FFFFFFFF", "9223372036854775808"}) {
    EXPECT_EQ(qvtest::WhatRaised<EConvertError>([&] { StrToInt(bad); }),
              std::string("'") + bad + "' is not a valid integer value")
        << bad;
  }
  EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
  EXPECT_EQ(StrToIntDef("x", -3), -3);
  EXPECT_EQ(StrToIntDef("8", -3), 8);
}

TEST(Numbers, FloatToStrGeneralFormat) {
  EXPECT_EQ(FloatToStr(0), "0");
  EXPECT_EQ(FloatToStr(-0.0), "0");
  EXPECT_EQ(FloatToStr(1.5), "1.5");
  EXPECT_EQ(FloatToStr(-2.25), "-2.25");
  EXPECT_EQ(FloatToStr(100), "100");
  EXPECT_EQ(FloatToStr(0.1), "0.1");
  EXPECT_EQ(FloatToStr(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(FloatToStr(123456789012345.0), "123456789012345");
  EXPECT_EQ(FloatToStr(1234567890123456.0), "1.23456789012346E15");
  EXPECT_EQ(FloatToStr(1.5e20), "1.5E20");
  EXPECT_EQ(FloatToStr(0.0001), "0.0001");
  EXPECT_EQ(FloatToStr(0.00001), "0.00001");
  EXPECT_EQ(FloatToStr(0.000012345), "0.000012345");
  EXPECT_EQ(FloatToStr(0.000001), "1E-6");
  EXPECT_EQ(FloatToStr(-2.5e-10), "-2.5E-10");
  FormatSettingsScope scope;
  TFormatSettings comma = FormatSettings();
  comma.DecimalSeparator = ',';
  SetFormatSettings(comma);
  EXPECT_EQ(FloatToStr(1.5), "1,5");
}

TEST(Numbers, StrToFloatAgreesWithPython) {
  std::vector<std::string> inputs = {"1.5", " -2.25 ", "+3", "1e3", "1E-3", ".5", "5.", "0.1",
                                     "123456789.123456789", "-0", "2.5e+10", "4.9e-324", "1.7976931348623157e308"};
  // Our values travel as exact hex floats; python parses the same texts.
  std::string arg;
  for (auto& s : inputs) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%a", StrToFloat(s));
    arg += s + "|" + buf + "\n";
  }
  std::string out = RunPython(
      "import sys\n"
      "for line in sys.argv[1].splitlines():\n"
      "    text, ours = line.split(\"|\")\n"
      "    print(text.strip(), float(text) == float.fromhex(ours))\n",
      arg);
  std::string expected;
  for (auto& s : inputs) expected += Trim(s) + " True\n";
  EXPECT_EQ(out, expected);
}

TEST(Numbers, StrToFloatRejectsAndFollowsTheSeparator) {
  for (const char* bad : {"", "abc", "1.2.3", "1e", "e5", "1,5", ".", "1 2", "inf", "nan"}) {
    EXPECT_EQ(qvtest::WhatRaised<EConvertError>([&] { StrToFloat(bad); }),
              std::string("'") + bad + "' is not a valid floating point value")
        << bad;
  }
  EXPECT_EQ(StrToFloatDef("x", 2.5), 2.5);
  FormatSettingsScope scope;
  TFormatSettings comma = FormatSettings();
  comma.DecimalSeparator = ',';
  SetFormatSettings(comma);
  EXPECT_EQ(StrToFloat("1,5"), 1.5);
  EXPECT_THROW(StrToFloat("1.5"), EConvertError);
}

// ---- case and comparison --------------------------------------------------

TEST(Compare, AsciiAndWindows1252CaseRules) {
  EXPECT_EQ(UpperCase("abc\xE9z"), "ABC\xE9Z");  // é untouched
  EXPECT_EQ(LowerCase("ABC\xC9Z"), "abc\xC9z");
  EXPECT_EQ(CompareText("abc", "ABC"), 0);
  EXPECT_NE(CompareText("\xE9", "\xC9"), 0);
  EXPECT_EQ(AnsiCompareText("\xE9mile", "\xC9MILE"), 0);
  EXPECT_LT(AnsiCompareText("Zoe", "\xC9mile"), 0);  // by the capital's code
  EXPECT_LT(AnsiCompareText("ab", "abc"), 0);
  EXPECT_GT(AnsiCompareText("b", "ABC"), 0);
  EXPECT_TRUE(AnsiSameText("\x9C" "uvre", "\x8C" "UVRE"));
  EXPECT_FALSE(SameText("ab", "abc"));
  EXPECT_LT(CompareStr("B", "a"), 0);
  EXPECT_GT(CompareStr("\xE9", "z"), 0);  // bytes compare unsigned
}

TEST(Compare, AnsiCompareStrIsATotalOrderConsistentWithCaseBlindOrder) {
  std::vector<std::string> words = {"abc", "Abc", "ABC", "abd", "\xE9t\xE9", "\xC9t\xE9", "b", "B", ""};
  for (auto& a : words)
    for (auto& b : words) {
      int c = AnsiCompareStr(a, b);
      EXPECT_EQ(c == 0, a == b) << a << " " << b;
      EXPECT_EQ((c < 0), (AnsiCompareStr(b, a) > 0)) << a << " " << b;
      int blind = AnsiCompareText(a, b);
      if (blind != 0) {
        EXPECT_EQ(c < 0, blind < 0) << a << " " << b;
      }
    }
  EXPECT_LT(AnsiCompareStr("abc", "Abc"), 0);
  EXPECT_LT(AnsiCompareStr("Abc", "abd"), 0);
}

TEST(Compare, AnsiCompareTextIsTheOrderOfTheUpperCaseImages) {
  // Random strings sharing prefixes, every byte value possible, against the
  // comparison of their CharUpper images as unsigned bytes.
  uint64_t state = 99;
  auto next = [&] { return (state = state * 6364136223846793005ull + 1442695040888963407ull) >> 33; };
  auto upper = [](std::string s) {
    for (char& c : s) c = static_cast<char>(CharUpper(static_cast<unsigned char>(c)));
    return s;
  };
  const std::string stems[] = {"", "1650 03 Mar John ", "\xE9MILE b"};
  for (int round = 0; round < 20000; ++round) {
    std::string a = stems[next() % 3], b = a;
    for (std::string* s : {&a, &b}) {
      const size_t n = next() % 5;
      for (size_t i = 0; i < n; ++i) {
        const auto byte = static_cast<char>(next() % 4 == 0 ? next() % 256 : "aAbB\xE9\xC9\x9A\x8A"[next() % 8]);
        s->push_back(byte);
      }
    }
    const int expected = upper(a).compare(upper(b));  // std::string compares bytes unsigned
    const int got = AnsiCompareText(a, b);
    ASSERT_EQ(got < 0, expected < 0) << testing::PrintToString(a) << " " << testing::PrintToString(b);
    ASSERT_EQ(got == 0, expected == 0) << testing::PrintToString(a) << " " << testing::PrintToString(b);
  }
}

// ---- editing --------------------------------------------------------------

TEST(Editing, TrimRemovesControlCharactersAndBlanks) {
  EXPECT_EQ(Trim(" \t\r\n x y \x01\x1F"), "x y");
  EXPECT_EQ(TrimLeft("  x "), "x ");
  EXPECT_EQ(TrimRight("  x \r\n"), "  x");
  EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");  // no-break space is a character
  EXPECT_EQ(Trim("   "), "");
}

TEST(Editing, QuotedStrAndStringReplace) {
  EXPECT_EQ(QuotedStr("O'Neil"), "'O''Neil'");
  EXPECT_EQ(StringReplace("a-b-c", "-", "+", 0), "a+b-c");
  EXPECT_EQ(StringReplace("a-b-c", "-", "+", rfReplaceAll), "a+b+c");
  EXPECT_EQ(StringReplace("Ren\xE9 REN\xC9 ren\xE9", "REN\xC9", "X", rfReplaceAll | rfIgnoreCase), "X X X");
  EXPECT_EQ(StringReplace("aaa", "aa", "a", rfReplaceAll), "aa");  // no re-scan of replaced text
  EXPECT_EQ(StringReplace("abc", "", "x", rfReplaceAll), "abc");
}

TEST(Editing, OneBasedPositionsClamp) {
  EXPECT_EQ(Pos("b", "abcb"), 2);
  EXPECT_EQ(Pos("x", "abc"), 0);
  EXPECT_EQ(Pos("", "abc"), 0);
  EXPECT_EQ(Copy("abcdef", 2, 3), "bcd");
  EXPECT_EQ(Copy("abcdef", 0, 2), "ab");
  EXPECT_EQ(Copy("abcdef", 5, 100), "ef");
  EXPECT_EQ(Copy("abcdef", 7, 1), "");
  EXPECT_EQ(Copy("abcdef", 2, -1), "");
  std::string s = "abcdef";
  Delete(s, 2, 2);
  EXPECT_EQ(s, "adef");
  Delete(s, 3, 100);
  EXPECT_EQ(s, "ad");
  Delete(s, 5, 1);
  Delete(s, 0, 1);
  EXPECT_EQ(s, "ad");
  Insert("XY", s, 2);
  EXPECT_EQ(s, "aXYd");
  Insert("<", s, -5);
  Insert(">", s, 100);
  EXPECT_EQ(s, "<aXYd>");
}

}  // namespace
}  // namespace rtl
