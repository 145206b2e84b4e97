#include "textutil/compare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/runtime/format_settings.h"
#include "tests/textutil/python_pipe.h"
#include "tests/textutil/textutil_fixture.h"

namespace textutil {
namespace {

using CompareTest = TextutilTest;
using FilterTest = TextutilTest;
using ClassTest = TextutilTest;

// Reference comparator: the spans as std::strings (case-blind: A-Z folded to
// upper case, nothing else), compared as unsigned bytes, a prefix first.
int RefCompare(const std::string& s1, const std::string& s2, int start1, int start2, int len) {
  if (s1.empty()) return s2.empty() ? 0 : -1;
  if (s2.empty()) return 1;
  const size_t p1 = static_cast<size_t>(std::abs(start1)), p2 = static_cast<size_t>(std::abs(start2));
  if (start1 == 0 || start2 == 0 || p1 > s1.size() || p2 > s2.size()) return -2;
  std::string a = s1.substr(p1 - 1), b = s2.substr(p2 - 1);
  if (len > 0) {
    a = a.substr(0, static_cast<size_t>(len));
    b = b.substr(0, static_cast<size_t>(len));
  }
  if (start1 < 0 || start2 < 0) {
    for (auto* s : {&a, &b})
      for (char& c : *s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  const auto ua = std::basic_string<unsigned char>(a.begin(), a.end());
  const auto ub = std::basic_string<unsigned char>(b.begin(), b.end());
  return ua < ub ? -1 : (ub < ua ? 1 : 0);
}

TEST_F(CompareTest, VantaCompareAgreesWithReferenceComparator) {
  std::mt19937 rng(7);
  static const std::string kAlphabet = std::string("aAbBzZ_[`{\xE9\xC9\xFF\0 ", 15);
  std::uniform_int_distribution<int> len(0, 6), pick(0, static_cast<int>(kAlphabet.size()) - 1), st(-7, 7);
  for (int round = 0; round < 200000; ++round) {
    std::string s1(static_cast<size_t>(len(rng)), ' '), s2(static_cast<size_t>(len(rng)), ' ');
    for (char& c : s1) c = kAlphabet[static_cast<size_t>(pick(rng))];
    for (char& c : s2) c = kAlphabet[static_cast<size_t>(pick(rng))];
    const int a = st(rng), b = st(rng), n = len(rng) - 1;
    ASSERT_EQ(VantaCompare(s1, s2, a, b, n), RefCompare(s1, s2, a, b, n))
        << "'" << s1 << "' '" << s2 << "' " << a << " " << b << " " << n;
  }
}

TEST_F(CompareTest, VantaCompareExamples) {
  EXPECT_EQ(VantaCompare("abc", "abd", 1, 1, 0), -1);
  EXPECT_EQ(VantaCompare("abc", "ab", 1, 1, 0), 1);
  EXPECT_EQ(VantaCompare("ab", "abc", 1, 1, 0), -1);
  EXPECT_EQ(VantaCompare("ABC", "abc", -1, 1, 0), 0);
  EXPECT_EQ(VantaCompare("abc", "abc", 4, 1, 0), -2);
  EXPECT_EQ(VantaCompare("abc", "abc", 1, 0, 0), -2);
  EXPECT_EQ(VantaCompare("Smith", "smythe", -1, 1, 2), 0);
  EXPECT_EQ(VantaCompare("Smith", "smythe", -1, 1, 3), -1);
  // Case-blind, letters compare as upper case and '_' (95) by its code: it
  // sorts after "Z" but before "a".
  EXPECT_EQ(VantaCompare("a", "_", -1, -1, 0), -1);
  EXPECT_EQ(VantaCompare("a", "_", 1, 1, 0), 1);
  // Accented letters never fold.
  EXPECT_EQ(VantaCompare("\xE9", "\xC9", -1, -1, 0), 1);
}

TEST_F(CompareTest, CaseBlindSortMatchesPython) {
  const std::vector<std::string> names = {
      "Smith",  "smith", "SMITH", "Smyth",  "Smithe", "O'Neil", "Oneil",     "Mc Donald", "McDonald", "\xC9mile",
      "Emile",  "emile", "Zeal",  "_under", "van Dyk", "Van Dyk", "Ab",      "ab",        "a",        "b\xE9",
      "Brown",  "brown", "Brwon", "[x]",    "1700",   "?700",   "Fitz-Roy", "Fitzroy",   "",          "z"};
  std::vector<std::string> sorted = names;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const std::string& a, const std::string& b) { return VantaCompare(a, b, -1, -1, 0) < 0; });
  const std::string path = WriteLines("textutil_names.txt", names);
  const std::string python = RunPython(
      "-c 'import sys\n"
      "names = open(sys.argv[1], \"rb\").read().split(b\"\\n\")[:-1]\n"
      "for n in sorted(names, key=lambda b: b.upper()):\n"
      "    sys.stdout.buffer.write(n + b\"\\n\")' " +
      ShellQuote(path));
  ASSERT_FALSE(python.empty());
  std::string mine;
  for (const auto& n : sorted) mine += n + '\n';
  EXPECT_EQ(mine, python);
}

TEST_F(CompareTest, AnsiCompareChecksItsStarts) {
  EXPECT_EQ(AnsiCompare("b", "a", 1, 1, 0), -1);
  EXPECT_EQ(AnsiCompare("a", "b", 1, 1, 0), 1);
  EXPECT_EQ(AnsiCompare("abc", "abc", 4, 1, 0), -2);
  EXPECT_EQ(AnsiCompare("abc", "abc", 1, 4, 0), -2);
  EXPECT_EQ(AnsiCompare("abc", "abc", -100000, 1, 0), -2);
  EXPECT_EQ(AnsiCompare("abc", "abc", 0, 1, 0), -2);
  EXPECT_EQ(AnsiCompare("abc", "abc", 1, 0, 0), -2);
  EXPECT_EQ(AnsiCompare("", "", 1, 1, 0), 0);
  EXPECT_EQ(AnsiCompare("a", "", 1, 1, 0), -1);  // the empty span sorts first
}

TEST_F(CompareTest, AnsiCompareCollatesWords) {
  // -1 means: the second string sorts before the first.
  EXPECT_EQ(AnsiCompare("Brown", "brown", -1, 1, 0), 0);
  EXPECT_EQ(AnsiCompare("Brown", "brown", 1, 1, 0), -1);   // lower case first
  EXPECT_EQ(AnsiCompare("f", "\xE9", 1, 1, 0), -1);       // é before f
  EXPECT_EQ(AnsiCompare("\xE9", "e", 1, 1, 0), -1);       // e before é
  EXPECT_EQ(AnsiCompare("\xC9mile", "Emily", -1, -1, 0), 1);
  EXPECT_EQ(AnsiCompare("coop", "co-op", 1, 1, 0), 1);    // the hyphen only breaks ties
  EXPECT_EQ(AnsiCompare("cop", "co-op", 1, 1, 0), -1);
  EXPECT_EQ(AnsiCompare("Stra\xDF" "e", "Strasse", -1, 1, 0), -1);  // ss, then ß
  EXPECT_EQ(AnsiCompare("Strasa", "Stra\xDF" "e", -1, 1, 0), 1);
  EXPECT_EQ(AnsiCompare("a1", "a!", 1, 1, 0), -1);        // symbols before digits
  EXPECT_EQ(AnsiCompare("xabc", "yabd", 2, 2, 2), 0);
}

TEST_F(CompareTest, StringAt) {
  EXPECT_TRUE(StringAt("xBCx", "ABBCCD", 2, 2));
  EXPECT_TRUE(StringAt("xBCx", "ABCDBC", 2, 2));
  EXPECT_FALSE(StringAt("xBCx", "ABB", 2, 2));
  EXPECT_FALSE(StringAt("xbcx", "ABBCCD", 2, 2));
  EXPECT_TRUE(StringAt("xbcx", "ABBCCD", -2, 2));
  EXPECT_FALSE(StringAt("xBC", "BC", 3, 2));
  EXPECT_FALSE(StringAt("xBC", "BC", 2, 0));
}

TEST_F(ClassTest, WholeStringTests) {
  EXPECT_TRUE(IsNum("12 3"));
  EXPECT_FALSE(IsNum(""));
  EXPECT_FALSE(IsHex("1F a"));
  EXPECT_TRUE(IsHex("1Fa"));
  EXPECT_TRUE(IsAlpha("John Smith"));
  EXPECT_FALSE(IsAlpha("Jos\xE9"));
  EXPECT_TRUE(IsAlphaNum("Anne 2"));
  EXPECT_FALSE(IsNull(""));
  EXPECT_TRUE(IsNull("   "));
  EXPECT_TRUE(IsNull("\t\xFF"));
  EXPECT_TRUE(IsTable("", "abc"));
  EXPECT_TRUE(IsTable("cab", "abc"));
  EXPECT_FALSE(IsTable("cAb", "abc"));
  EXPECT_TRUE(IsDateTime("12/03/1723 10:15 AM"));
  EXPECT_FALSE(IsDateTime("12.03.1723"));
  EXPECT_TRUE(IsField("aab", "a", 1, 2));
  EXPECT_FALSE(IsField("aab", "a", 1, 3));
}

TEST_F(ClassTest, FloatTestFollowsTheDecimalSeparator) {
  EXPECT_TRUE(IsFloat("1.5"));
  EXPECT_TRUE(IsFloat("-1.5E+3"));
  rtl::FormatSettingsScope scope;
  rtl::TFormatSettings fs = rtl::FormatSettings();
  fs.DecimalSeparator = ',';
  rtl::SetFormatSettings(fs);
  LoadSeparators();
  EXPECT_TRUE(IsFloat("1,5"));
  EXPECT_FALSE(IsFloat("1.5"));
}

TEST_F(ClassTest, IsSetAndIsFound) {
  TCharSet digits, point;
  for (char c = '0'; c <= '9'; ++c) digits.Add(c);
  point.Add('.');
  EXPECT_TRUE(IsSet("3.14", digits, point));
  EXPECT_FALSE(IsSet("3.1.4", digits, point));
  EXPECT_FALSE(IsSet("", digits, point));
  EXPECT_TRUE(IsFound("John Jones", "smith&jones", -1));
  EXPECT_FALSE(IsFound("John Jones", "smith&jones", 1));
  EXPECT_FALSE(IsFound("John Jones", "&&", 1));
}

TEST_F(ClassTest, InputMasks) {
  EXPECT_TRUE(IsMask("AB12", "CC00", 0));
  EXPECT_TRUE(IsMask("AB1", "CC00", 0));
  EXPECT_FALSE(IsMask("AB1", "CC00", -1));
  EXPECT_TRUE(IsMask("AB12 ", "CC00", 0));
  EXPECT_FALSE(IsMask("AB12x", "CC00", 0));
  EXPECT_TRUE(IsMask("AB12x", "CC00", 4));
  EXPECT_TRUE(IsMask("A-5", "A#9", 0));
  EXPECT_TRUE(IsMask("A5", "A#9", 0));
  EXPECT_FALSE(IsMask("A5x", "A#9x", 0));  // an unknown element fails
  EXPECT_TRUE(IsMask("A5", "A#9x", 0));    // ... unless the text ends first
  EXPECT_TRUE(IsMask("A", "A9", 5));
  EXPECT_FALSE(IsMask("Ab", "A9", 0));     // mask ran out on a skipped element
  EXPECT_TRUE(IsMask("A-B", "A|-C", 0));
  EXPECT_FALSE(IsMask("A+B", "A|-C", 0));
  EXPECT_TRUE(IsMask("AB", "A\\-C", 0));
  EXPECT_FALSE(IsMask("AB", "A\\", 0));  // a backslash needs a character after it
  EXPECT_TRUE(IsMask("A", "A\\A", -1));    // an escaped A is optional
  EXPECT_FALSE(IsMask("", "A", 0));
}

TEST_F(ClassTest, CharacterRoutines) {
  EXPECT_TRUE(IsNumChar('7'));
  EXPECT_FALSE(IsAlphaChar('\0'));
  EXPECT_TRUE(IsAlphaChar(' '));
  EXPECT_TRUE(IsAlphaNumChar('7'));
  EXPECT_TRUE(IsLChar('q'));
  EXPECT_TRUE(IsUChar('Q'));
  EXPECT_TRUE(IsCChar('q', 'Q'));
  EXPECT_FALSE(IsCChar('\xE9', '\xC9'));
  EXPECT_EQ(UChar('q'), 'Q');
  EXPECT_EQ(LChar('Q'), 'q');
  EXPECT_EQ(RChar('q'), 'Q');
  EXPECT_EQ(UChar('\xE9'), '\xE9');
  ASSERT_TRUE(SetCaseTable("abcdefghijklmnopqrstuvwxy", "ABCDEFGHIJKLMNOPQRSTUVWXY"));
  EXPECT_EQ(UChar('z'), 'z');
}

TEST_F(FilterTest, FiltersKeepTheLength) {
  EXPECT_EQ(Edited("O'Neil, J.", MakeAlpha), "6|ONeilJ    ");
  EXPECT_EQ(Edited("0x1fG", MakeHex), "3|01F  ");
  EXPECT_EQ(Edited("a1 b2", MakeAlphaNum), "4|a1b2 ");
  EXPECT_EQ(Edited("tel. 01-23", MakeNum), "4|0123      ");
  EXPECT_EQ(Edited("at 10:15 h", MakeTime), "5|10:15     ");
  std::string s = "x-1.5e3y";
  EXPECT_EQ(MakeFloat(s), 6);
  EXPECT_EQ(Edited("banana", MakeTable, "an"), "5|anana ");
  EXPECT_EQ(Edited("anana ", MakeTable, ""), "0|anana ");
  EXPECT_EQ(Edited("", MakeAlpha), "0|");
}

TEST_F(FilterTest, MakeFixed) {
  std::string s = "12.5";
  EXPECT_EQ(MakeFixed(s, 2), 5);
  EXPECT_EQ(s.substr(0, 5), "12.50");
  EXPECT_EQ(Edited("3", MakeFixed, 2), "4|3.00");
  EXPECT_EQ(Edited("12.3456", MakeFixed, 2), "5|12.34  ");
  s = "$ -7.1";
  EXPECT_EQ(MakeFixed(s, 1), 4);
  EXPECT_EQ(s.substr(0, 4), "-7.1");
}

TEST_F(FilterTest, MakeFixedNeverWritesPastTheEnd) {
  EXPECT_EQ(Edited("3", MakeFixed, 0), "1|3");
  EXPECT_EQ(Edited("12345", MakeFixed, 0), "5|12345");
  EXPECT_EQ(Edited("12.5", MakeFixed, 0), "3|12. ");
  // A separator other than '.' finds no room made for it: the string grows.
  rtl::FormatSettingsScope scope;
  rtl::TFormatSettings fs = rtl::FormatSettings();
  fs.DecimalSeparator = ',';
  rtl::SetFormatSettings(fs);
  LoadSeparators();
  EXPECT_EQ(Edited("1.55", MakeFixed, 2), "6|155,00");
  std::string s = "1,5";
  EXPECT_EQ(MakeFixed(s, 3), 5);
  EXPECT_EQ(s.substr(0, 5), "1,500");
}

}  // namespace
}  // namespace textutil
