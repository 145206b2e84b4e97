#include "tables/lib/collation.h"

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/runtime/format_settings.h"
#include "tables/lib/allocator.h"
#include "tables/lib/language_settings.h"
#include "tables/lib/text_values.h"
#include "tests/tables/lib/lib_test_support.h"

namespace korvex {
namespace {

using testing::CountedTest;

class Collation : public CountedTest {};

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

// python3's cp1252 codec gives the reference case maps: a byte maps to the
// single Windows-1252 byte its Unicode upper (lower) case encodes to, else
// to itself.
TEST_F(Collation, LanguageZeroCaseMapsAgreeWithPython) {
  std::string python = testing::RunPython(
      "def m(b, f):\n"
      "    try:\n"
      "        c = bytes([b]).decode('cp1252')\n"
      "    except UnicodeDecodeError:\n"
      "        return b\n"
      "    t = f(c)\n"
      "    if len(t) != 1: return b\n"
      "    try:\n"
      "        return t.encode('cp1252')[0]\n"
      "    except UnicodeEncodeError:\n"
      "        return b\n"
      "print(' '.join(str(m(b, str.upper)) for b in range(256)))\n"
      "print(' '.join(str(m(b, str.lower)) for b in range(256)))\n");
  if (python.empty()) GTEST_SKIP() << "python3 is not available";
  std::string upper, lower;
  for (int b = 0; b < 256; ++b) {
    char in[2] = {static_cast<char>(b), 0}, up[2], low[2];
    UpperString(0, 0, in, up);
    LowerString(0, 0, in, low);
    upper += (b ? " " : "") + std::to_string(static_cast<unsigned char>(up[0]));
    lower += (b ? " " : "") + std::to_string(static_cast<unsigned char>(low[0]));
  }
  EXPECT_EQ(python, upper + "\n" + lower + "\n");
}

TEST_F(Collation, UpperAndLowerStringsInPlaceAndAsCopies) {
  char text[] = "\xC6r\xF8 stra\xDF" "e";  // Ærø straße
  UpperString(0, 0, text, text);
  EXPECT_STREQ(text, "\xC6R\xD8 STRA\xDF" "E");  // ß has no upper case of its own
  EXPECT_EQ(LowerString(0, 0, std::string_view("ABC\xC9")), "abc\xE9");
}

std::string RandomBytes(std::mt19937& random, std::size_t length, int low, int high) {
  std::string s(length, ' ');
  for (char& c : s) c = static_cast<char>(low + random() % (high - low + 1));
  return s;
}

int MemcmpOrder(const std::string& a, const std::string& b) {
  int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
  if (c != 0) return Sign(c);
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

TEST_F(Collation, LanguageZeroComparesWholeStringsAsUnsignedBytes) {
  std::mt19937 random(1);
  for (int i = 0; i < 3000; ++i) {
    std::size_t n1 = random() % 300, n2 = random() % 300;
    std::string a = RandomBytes(random, n1, 1, 255);
    std::string b = i % 3 == 0 ? a.substr(0, std::min(n1, n2)) + RandomBytes(random, n2 > n1 ? n2 - n1 : 0, 1, 255)
                               : RandomBytes(random, n2, i % 2 ? 1 : 'a', i % 2 ? 255 : 'c');
    ASSERT_EQ(CompareStrings(0, 0, a.c_str(), b.c_str(), 0, false), MemcmpOrder(a, b));
  }
  EXPECT_EQ(CompareStrings(0, 0, "abc", "abcd", 0, false), -1);
  EXPECT_EQ(CompareStrings(0, 0, "abcd", "abc", 0, false), 1);
  std::string memo(256, 'x');
  EXPECT_EQ(CompareStrings(0, 0, memo.c_str(), "zzz", 0, false), -1);
  EXPECT_EQ(CompareStrings(0, 0, memo.c_str(), "", 0, false), 1);
  EXPECT_EQ(CompareStrings(0, 0, "\xE9", "z", 0, false), 1);  // bytes are unsigned
}

TEST_F(Collation, CaseBlindComparisonLeavesTheCallersBuffersAlone) {
  char a[] = "abc", b[] = "ABD";
  EXPECT_EQ(CompareStrings(0, 0, a, b, 0, true), -1);
  EXPECT_STREQ(a, "abc");
  EXPECT_STREQ(b, "ABD");
  EXPECT_EQ(CompareStrings(0, 0, "stra\xDF" "e", "STRA\xDF" "E", 0, true), 0);
  EXPECT_EQ(CompareStrings(0, 0, "\xE9t\xE9", "\xC9T\xC9", 0, true), 0);
  std::mt19937 random(2);
  for (int i = 0; i < 1000; ++i) {
    std::string x = RandomBytes(random, random() % 20, 1, 255), y = RandomBytes(random, random() % 20, 1, 255);
    ASSERT_EQ(CompareStrings(0, 0, x.c_str(), y.c_str(), 0, true),
              MemcmpOrder(UpperString(0, 0, x), UpperString(0, 0, y)));
  }
}

TEST_F(Collation, PartialComparisonStopsAtTheTerminator) {
  EXPECT_EQ(CompareStrings(0, 0, "abc", "abd", 2, false), 0);
  EXPECT_EQ(CompareStrings(0, 0, "abc", "abcd", 3, false), 0);
  EXPECT_EQ(CompareStrings(0, 0, "abc", "abcd", 4, false), -1);
  const char x[] = {'a', 'b', 0, 'x'}, y[] = {'a', 'b', 0, 'y'};
  EXPECT_EQ(CompareStrings(0, 0, x, y, 4, false), 0);
  EXPECT_EQ(CompareLocaleStrings(0, 0, "abc", 3, "abcd", 4), -1);
  EXPECT_EQ(CompareLocaleStrings(0, 0, "ab", -1, "abX", 2), 0);
  EXPECT_EQ(CompareLocaleStrings(0, NORM_IGNORECASE, "ab", 2, "AB", 2), 0);
}

TEST_F(Collation, LocaleIdentifiersAndSingleCharacters) {
  EXPECT_EQ(MakeLocaleID(0x0409, 1), 0x00010409u);
  EXPECT_EQ(MakeLanguageID(0x09, 0x01), 0x0409);
  EXPECT_EQ(LanguageOfLocale(0x00010409), 0x0409);
  EXPECT_EQ(SortOfLocale(0x00010409), 1);
  EXPECT_EQ(CompareChar(0, 'a', 'b'), -1);
  EXPECT_EQ(CompareChar(0, 'b', 'B'), 1);
  EXPECT_EQ(CompareCharNoAccent(0, '\xE9', 'e'), 1);  // language 0 has no accents to ignore
  EXPECT_EQ(LikeCompareChar(0, 0, 'x', 'x'), 0);
  EXPECT_EQ(LikeCompareChar(0, 0, '\xFF', 'x'), 1);
}

TEST_F(Collation, CompareBytes) {
  const unsigned char a[] = {1, 2}, b[] = {1, 3};
  EXPECT_EQ(CompareBytes(a, b, 2, false), -1);
  EXPECT_EQ(CompareBytes(a, b, 2, true), 1);
  EXPECT_EQ(CompareBytes(a, b, 1, false), 0);
  EXPECT_EQ(CompareBytes(nullptr, b, 2, false), 1);
  const unsigned char hi[] = {0xFF}, lo[] = {0x01};
  EXPECT_EQ(CompareBytes(hi, lo, 1, false), 1);
}

TEST_F(Collation, LikePatterns) {
  EXPECT_TRUE(LikeString(0, 0, "abc", "a%c"));
  EXPECT_TRUE(LikeString(0, 0, "ac", "a%c"));
  EXPECT_FALSE(LikeString(0, 0, "ab", "a%c"));
  EXPECT_TRUE(LikeString(0, 0, "abxyz", "_b%"));
  EXPECT_TRUE(LikeString(0, 0, "", "%"));
  EXPECT_TRUE(LikeString(0, 0, "a", "a%%"));
  EXPECT_TRUE(LikeString(0, 0, "", "%%"));
  EXPECT_TRUE(LikeString(0, 0, "abc", "a%%c"));
  EXPECT_FALSE(LikeString(0, 0, "a", "a%_"));
  EXPECT_FALSE(LikeString(0, 0, "abc", "ABC"));  // case counts
  EXPECT_TRUE(LikeString(0, 0, "mississippi", "%iss%ppi"));
}

// sqlite3 (case-sensitive LIKE, no escape) is the reference on random
// ASCII texts and patterns; non-ASCII bytes are left out because sqlite3
// reads '_' as one UTF-8 character, not one byte.
TEST_F(Collation, LikeAgreesWithSqlite) {
  if (!testing::HaveProgram("sqlite3")) GTEST_SKIP() << "sqlite3 is not available";
  std::mt19937 random(5);
  const std::string text_chars = "abAB%_", pattern_chars = "ab%%__A";
  std::vector<std::pair<std::string, std::string>> cases;
  std::ostringstream sql;
  sql << "PRAGMA case_sensitive_like=ON;\n";
  for (int i = 0; i < 3000; ++i) {
    std::string text, pattern;
    for (int n = random() % 9; n > 0; --n) text += text_chars[random() % text_chars.size()];
    for (int n = random() % 7; n > 0; --n) pattern += pattern_chars[random() % pattern_chars.size()];
    cases.emplace_back(text, pattern);
    sql << "SELECT '" << text << "' LIKE '" << pattern << "';\n";
  }
  testing::ScratchDir dir;
  testing::WriteFileBytes(dir.File("like.sql"), sql.str());
  std::istringstream answers(testing::RunCommand("sqlite3 :memory: < '" + dir.File("like.sql") + "'"));
  int checked = 0;
  for (const auto& [text, pattern] : cases) {
    std::string line;
    ASSERT_TRUE(std::getline(answers, line));
    ASSERT_EQ(LikeString(0, 0, text.c_str(), pattern.c_str()), line == "1")
        << "'" << text << "' LIKE '" << pattern << "'";
    ++checked;
  }
  EXPECT_EQ(checked, 3000);
}

// The char-map cache keeps its entries until shut-down, so this test only
// checks that the second request is answered from the cache.
TEST(CharMaps, LanguageZeroCharMapIsTheIdentity) {
  TCharMap map{};
  GetLanguageCharMap(0, 0, map);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(map[i], i);
  std::int64_t total = GetTotalMemoryAllocated();
  map[200] = 0;
  GetLanguageCharMap(0, 0, map);
  EXPECT_EQ(map[200], 200);
  EXPECT_EQ(GetTotalMemoryAllocated(), total);
}

TEST_F(Collation, LanguagesWithoutATableAreRefused) {
  EXPECT_TRUE(IsLanguageAvailable(0, 0));
  EXPECT_FALSE(IsLanguageAvailable(0x0411, 0));  // Japanese: no table
  std::string message;
  EXPECT_EQ(testing::RaisedNumber([] { CompareStrings(0x0411, 0, "a", "b", 0, false); }, &message), 15878);
  EXPECT_EQ(message, "KORVEX Engine Error # 15878 The language driver for table '' is not available or installed");
  EXPECT_EQ(testing::RaisedNumber([] { TCharMap map; GetLanguageCharMap(0x0411, 0, map); }), 15878);
  EXPECT_EQ(testing::RaisedNumber([] { UpperString(0x0409, 1, std::string_view("a")); }), 15878);
}

// A small table with letters, one accented letter in both cases, an
// expansion and a symbol, to exercise the multi-level comparison.
struct TestTable {
  TElementRuns elements{};
  TCaseMap upper{}, lower{};
  TCollationTable table;
  TestTable() {
    table.language = 0x0407;
    table.version = 1;
    table.elements = &elements;
    table.upper = &upper;
    table.lower = &lower;
    for (int c = 0; c < 256; ++c) {
      upper[c] = static_cast<std::uint8_t>(c >= 'a' && c <= 'z' ? c - 32 : c);
      lower[c] = static_cast<std::uint8_t>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    for (int c = 'a'; c <= 'z'; ++c) {
      std::uint16_t primary = static_cast<std::uint16_t>(100 + (c - 'a') * 10);
      elements[c][0] = {primary, 1, 1};
      elements[c - 32][0] = {primary, 1, 2};
    }
    elements[0xE9][0] = {140, 2, 1};  // é: e with an accent
    elements[0xC9][0] = {140, 2, 2};  // É
    elements[0xE6][0] = {100, 1, 1};  // æ: a e
    elements[0xE6][1] = {140, 1, 1};
    elements['-'][0] = {50, 1, 1};
  }
};

TEST_F(Collation, FrozenTableComparesByLettersThenAccentsThenCase) {
  TestTable test;
  const TCollationTable& t = test.table;
  auto cmp = [&t](const char* a, const char* b, std::uint32_t flags = SORT_STRINGSORT) {
    return CompareWithTable(t, flags, a, -1, b, -1);
  };
  EXPECT_EQ(cmp("abc", "abd"), -1);
  EXPECT_EQ(cmp("abc", "ABC"), -1);  // lower case first
  EXPECT_EQ(cmp("abc", "ABC", NORM_IGNORECASE), 0);
  EXPECT_EQ(cmp("resume", "r\xE9sum\xE9"), -1);
  EXPECT_EQ(cmp("resume", "r\xE9sum\xE9", NORM_IGNORENONSPACE), 0);
  EXPECT_EQ(cmp("r\xE9sume", "resumf"), -1);  // letters decide before accents
  EXPECT_EQ(cmp("\xE6", "ae"), 0);
  EXPECT_EQ(cmp("ab", "abc"), -1);
  EXPECT_EQ(cmp("-z", "a"), -1);  // the hyphen sorts as a symbol
  EXPECT_EQ(CompareWithTable(t, 0, "abX", 2, "ab", -1), 0);
  const char padded[] = {'a', 'b', 0, 'q'};
  EXPECT_EQ(CompareWithTable(t, 0, padded, 4, "ab", 2), 0);
}

// ---- language settings and text values -------------------------------------

TEST_F(Collation, LanguageZeroSettingsAreFixed) {
  TLanguageSettings s;
  GetDefaultLanguageSettings(0, 0, s);
  EXPECT_EQ(s.DecimalSeparator, '.');
  EXPECT_EQ(s.ThousandSeparator, ',');
  EXPECT_EQ(s.DateSeparator, '-');
  EXPECT_EQ(s.ShortDateFormat, "yyyy-mm-dd");
  EXPECT_EQ(s.LongDateFormat, "dddd, mmmm dd, yyyy");
  EXPECT_EQ(s.ShortTimeFormat, "hh:mm");
  EXPECT_EQ(s.LongTimeFormat, "hh:mm:ss");
  EXPECT_EQ(s.CurrencyString, "");
  EXPECT_EQ(s.CurrencyDecimals, 2);
  EXPECT_EQ(s.LongMonthNames[0], "January");
  EXPECT_EQ(s.ShortMonthNames[11], "Dec");
  EXPECT_EQ(s.LongDayNames[0], "Sunday");
  EXPECT_EQ(s.ShortDayNames[6], "Sat");
  TLanguageSettings other;
  GetDefaultLanguageSettings(0x0411, 0, other);  // no compiled formats: the defaults
  EXPECT_EQ(other.ShortDateFormat, "M/d/yyyy");
  EXPECT_EQ(other.DateSeparator, '/');
  EXPECT_EQ(other.CurrencyString, "$");
}

TEST_F(Collation, SettingsScopeInstallsAndRestores) {
  TLanguageSettings before;
  GetLanguageSettings(before);
  rtl::TFormatSettings runtime_before = rtl::FormatSettings();
  {
    TLanguageSettings comma;
    GetDefaultLanguageSettings(0, 0, comma);
    comma.DecimalSeparator = ',';
    LanguageSettingsScope scope(comma);
    TLanguageSettings now;
    GetLanguageSettings(now);
    EXPECT_EQ(now, comma);
    EXPECT_EQ(rtl::FormatSettings().DecimalSeparator, ',');
    EXPECT_EQ(rtl::FormatSettings().ShortDateFormat, "yyyy-mm-dd");
    EXPECT_TRUE(IsAFloat("1,5"));
    EXPECT_FALSE(IsAFloat("1.5"));
  }
  TLanguageSettings after;
  GetLanguageSettings(after);
  EXPECT_EQ(after, before);
  EXPECT_EQ(rtl::FormatSettings().DecimalSeparator, runtime_before.DecimalSeparator);
}

// The six separators and formats live in the runtime's settings too: every
// one of them goes both ways.
TEST_F(Collation, SharedFormatsFollowTheRuntime) {
  TLanguageSettings before;
  GetLanguageSettings(before);
  const rtl::TFormatSettings runtime_before = rtl::FormatSettings();
  TLanguageSettings s = before;
  s.ThousandSeparator = '\'';
  s.DecimalSeparator = ';';
  s.DateSeparator = '.';
  s.TimeSeparator = 'h';
  s.ShortDateFormat = "dd.mm.yyyy";
  s.LongTimeFormat = "hh'h'nn";
  SetLanguageSettings(s);
  const rtl::TFormatSettings& rt = rtl::FormatSettings();
  EXPECT_EQ(rt.ThousandSeparator, '\'');
  EXPECT_EQ(rt.DecimalSeparator, ';');
  EXPECT_EQ(rt.DateSeparator, '.');
  EXPECT_EQ(rt.TimeSeparator, 'h');
  EXPECT_EQ(rt.ShortDateFormat, "dd.mm.yyyy");
  EXPECT_EQ(rt.LongTimeFormat, "hh'h'nn");

  rtl::TFormatSettings changed = rtl::FormatSettings();
  changed.ThousandSeparator = ' ';
  changed.DecimalSeparator = ',';
  changed.DateSeparator = '-';
  changed.TimeSeparator = '.';
  changed.ShortDateFormat = "yyyy-mm-dd";
  changed.LongTimeFormat = "hh.nn.ss";
  rtl::SetFormatSettings(changed);
  TLanguageSettings now;
  GetLanguageSettings(now);
  EXPECT_EQ(now.ThousandSeparator, ' ');
  EXPECT_EQ(now.DecimalSeparator, ',');
  EXPECT_EQ(now.DateSeparator, '-');
  EXPECT_EQ(now.TimeSeparator, '.');
  EXPECT_EQ(now.ShortDateFormat, "yyyy-mm-dd");
  EXPECT_EQ(now.LongTimeFormat, "hh.nn.ss");
  EXPECT_EQ(now.LongDateFormat, s.LongDateFormat);  // not shared: kept here

  SetLanguageSettings(before);
  rtl::SetFormatSettings(runtime_before);
}

TEST_F(Collation, TextValidators) {
  TLanguageSettings ansi;
  GetDefaultLanguageSettings(0, 0, ansi);
  EXPECT_TRUE(IsAWord("65535"));
  EXPECT_FALSE(IsAWord("65536"));
  EXPECT_FALSE(IsAWord("-1"));
  EXPECT_TRUE(IsASmallInt("-32768"));
  EXPECT_FALSE(IsASmallInt("32768"));
  EXPECT_TRUE(IsAnInteger("-2147483648"));
  EXPECT_FALSE(IsAnInteger("2147483648"));
  EXPECT_TRUE(IsAByte("255"));
  EXPECT_FALSE(IsAByte("256"));
  EXPECT_TRUE(IsAChar(""));
  EXPECT_FALSE(IsAChar("ab"));
  EXPECT_TRUE(IsABoolean("False"));
  EXPECT_FALSE(IsABoolean("no"));
  EXPECT_TRUE(IsAFloat(" -1.5e3 ", ansi));
  EXPECT_FALSE(IsAFloat("1.5.3", ansi));
  EXPECT_FALSE(IsAFloat("", ansi));
  EXPECT_FALSE(IsAFloat("1e999", ansi));
  EXPECT_TRUE(IsABCD("12.3456", ansi));
  EXPECT_FALSE(IsABCD("1e300", ansi));
  EXPECT_TRUE(IsADate("2024-02-29", ansi));
  EXPECT_FALSE(IsADate("2023-02-29", ansi));
  EXPECT_FALSE(IsADate("2024/02/01", ansi));
  EXPECT_TRUE(IsATime("13:45:10", ansi));
  EXPECT_TRUE(IsATime("1:30 PM", ansi));
  EXPECT_TRUE(IsATime("10:11:12.5", ansi));
  EXPECT_FALSE(IsATime("25:00", ansi));
  EXPECT_FALSE(IsATime("13:00 PM", ansi));
  EXPECT_TRUE(IsADateTime("2024-01-02 10:11:12", ansi));
  EXPECT_TRUE(IsADateTime("2024-01-02", ansi));
  EXPECT_FALSE(IsADateTime("2024-01-02 x", ansi));
  TLanguageSettings us;
  GetDefaultLanguageSettings(0x0409, 0, us);
  rtl::TDateTime date = 0;
  ASSERT_TRUE(TryTextToDate("2/29/2024", us, date));
  int y, m, d;
  rtl::DecodeDate(date, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20240229);
  ASSERT_TRUE(TryTextToDate("2024-03-01", ansi, date));
  rtl::DecodeDate(date, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20240301);
  EXPECT_FALSE(TryTextToDate("2024-03-02 x", ansi, date));  // refused: value untouched
  EXPECT_FALSE(TryTextToDate("10:11", ansi, date));
  rtl::DecodeDate(date, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20240301);
  ASSERT_TRUE(TryTextToDate("2024-03-04  ", ansi, date));  // blanks may follow
  rtl::DecodeDate(date, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20240304);
  rtl::TDateTime time = 0.5;  // not what the text gives, so the read shows
  ASSERT_TRUE(TryTextToTime("12:00 AM", us, time));
  EXPECT_EQ(time, 0.0);
  ASSERT_TRUE(TryTextToTime("18:00 ", ansi, time));
  EXPECT_EQ(time, 0.75);
  EXPECT_FALSE(TryTextToTime("06:00 x", ansi, time));
  EXPECT_FALSE(TryTextToTime("2024-03-01", ansi, time));
  EXPECT_EQ(time, 0.75);
  EXPECT_TRUE(IsAlpha('_'));
  EXPECT_TRUE(IsAlpha('\x81'));
  EXPECT_FALSE(IsAlpha('\xFF'));
  EXPECT_TRUE(IsAlphaNumeric('7'));
  EXPECT_FALSE(IsDigit('a'));
}

}  // namespace
}  // namespace korvex
