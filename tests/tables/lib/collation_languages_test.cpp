// The compiled tables of the table languages other than 0: orders from
// published alphabets, the comparison against an independent sort-key
// model, case maps against python3's codecs, the set of languages, the
// formats and their date round trip, and the pinned hash of all tables.
#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/runtime/dates.h"
#include "tables/lib/collation.h"
#include "tables/lib/collation_tables.h"
#include "tables/lib/expconvert.h"
#include "tables/lib/language_formats.h"
#include "tables/lib/language_settings.h"
#include "tables/lib/text_values.h"
#include "tests/tables/lib/lib_test_support.h"

namespace korvex {
namespace {

std::uint16_t Id(int primary, int sub) { return MakeLanguageID(static_cast<std::uint16_t>(primary), static_cast<std::uint16_t>(sub)); }

// The 98 languages of the engine's language list, written out from it.
std::set<std::pair<std::uint16_t, std::uint16_t>> ExpectedPairs() {
  std::set<std::pair<std::uint16_t, std::uint16_t>> pairs;
  auto add = [&](int primary, int first_sub, int last_sub) {
    for (int sub = first_sub; sub <= last_sub; ++sub) pairs.insert({Id(primary, sub), 0});
  };
  add(54, 1, 1), add(28, 1, 1), add(1, 1, 16), add(45, 1, 1), add(35, 1, 1), add(2, 1, 1), add(3, 1, 1);
  add(26, 1, 3), add(5, 1, 1), add(6, 1, 1), add(19, 1, 2), add(9, 1, 11), add(37, 1, 1), add(56, 1, 1);
  add(41, 1, 1), add(11, 1, 1), add(12, 1, 5), add(7, 1, 5), add(8, 1, 1), add(13, 1, 1), add(14, 1, 1);
  add(15, 1, 1), add(33, 1, 1), add(16, 1, 2), add(38, 1, 1), add(39, 1, 1), add(20, 1, 2), add(21, 1, 1);
  add(22, 1, 2), add(24, 1, 1), add(25, 1, 1), add(27, 1, 1), add(36, 1, 1), add(10, 1, 20), add(29, 1, 2);
  add(30, 1, 1), add(31, 1, 1), add(34, 1, 1), add(42, 1, 1);
  for (int sub = 1; sub <= 5; ++sub) pairs.insert({Id(7, sub), 1});  // German phone book
  return pairs;
}

// Each language's Windows ANSI code page.
int CodePageOf(std::uint16_t language) {
  const int primary = language & 0x3FF, sub = language >> 10;
  if (primary == 26) return sub == 3 ? 1251 : 1250;  // Croatian, Serbian (Latin), Serbian (Cyrillic)
  switch (primary) {
    case 28: case 5: case 14: case 21: case 24: case 27: case 36: return 1250;
    case 35: case 2: case 25: case 34: return 1251;
    case 8: return 1253;
    case 31: return 1254;
    case 13: return 1255;
    case 1: case 41: return 1256;
    case 37: case 38: case 39: return 1257;
    case 42: return 1258;
    case 30: return 874;
    default: return 1252;
  }
}

TEST(CollationLanguages, ExactlyTheListedPairsAreAvailable) {
  const auto expected = ExpectedPairs();
  EXPECT_EQ(expected.size(), 103u);
  std::set<std::pair<std::uint16_t, std::uint16_t>> available;
  for (std::uint32_t language = 1; language <= 0xFFFF; ++language)
    for (std::uint16_t sort = 0; sort < 4; ++sort)
      if (IsLanguageAvailable(static_cast<std::uint16_t>(language), sort))
        available.insert({static_cast<std::uint16_t>(language), sort});
  EXPECT_EQ(available, expected);
  EXPECT_TRUE(IsLanguageAvailable(0, 0));
  for (const TCollationTable& t : CompiledCollationTables()) EXPECT_EQ(t.version, kCollationVersion);
  EXPECT_EQ(testing::RaisedNumber([] { CompareStrings(Id(9, 12), 0, "a", "b", 0, false); }), 15878);
  EXPECT_EQ(testing::RaisedNumber([] { CompareStrings(Id(9, 1), 1, "a", "b", 0, false); }), 15878);
}

// ---- orders from published alphabets ------------------------------------------------

struct Alphabet {
  const char* what;
  std::uint16_t language, sort;
  std::vector<std::string> ascending;  // each strictly before the next
};

TEST(CollationLanguages, OrdersOfPublishedAlphabets) {
  const std::uint16_t de = Id(7, 1), es_trad = Id(10, 1), es = Id(10, 3);
  const std::vector<Alphabet> alphabets = {
      {"Swedish", Id(29, 1), 0, {"z", "\xE5", "\xE4", "\xF6"}},
      {"Swedish (Finland)", Id(29, 2), 0, {"z", "\xE5", "\xE4", "\xF6"}},
      {"Danish", Id(6, 1), 0, {"z", "\xE6", "\xF8", "\xE5"}},
      {"Danish aa", Id(6, 1), 0, {"z", "\xF8", "aa"}},
      {"Norwegian", Id(20, 1), 0, {"z", "\xE6", "\xF8", "\xE5"}},
      {"Nynorsk", Id(20, 2), 0, {"zz", "\xE6", "\xF8", "aa"}},
      {"traditional Spanish ch", es_trad, 0, {"c", "cz", "ch", "d"}},
      {"traditional Spanish ll", es_trad, 0, {"l", "lz", "ll", "m"}},
      {"traditional Spanish \xF1", es_trad, 0, {"n", "nz", "\xF1", "o"}},
      {"modern Spanish", es, 0, {"cg", "ch", "ci", "l", "ll", "lz", "n", "nz", "\xF1", "o"}},
      {"Mexican Spanish", Id(10, 2), 0, {"cg", "ch", "ci"}},
      {"Czech", Id(5, 1), 0, {"h", "hz", "ch", "i", "r", "rz", "\xF8", "s"}},
      {"Slovak", Id(27, 1), 0, {"h", "hz", "ch", "i"}},
      {"Polish", Id(21, 1), 0, {"l", "lz", "\xB3", "m"}},
      {"Hungarian", Id(14, 1), 0, {"c", "cz", "cs", "d", "g", "gz", "gy", "h"}},
      {"Croatian", Id(26, 1), 0, {"c", "\xE8", "\xE6", "d", "dz", "d\x9E", "\xF0"}},
      {"Estonian", Id(37, 1), 0, {"s", "\xF0", "z", "\xFE", "t"}},
      {"Icelandic", Id(15, 1), 0, {"d", "\xF0", "e", "ez", "\xE9", "f", "z", "\xFE"}},
      {"Turkish", Id(31, 1), 0, {"h", "\xFD", "i", "j"}},
      {"German", de, 0, {"Muell", "M\xFCller", "Mullf"}},
      {"Russian", Id(25, 1), 0, {"\xE0", "\xE1", "\xE5", "\xE6", "\xFF"}},
      {"Greek", Id(8, 1), 0, {"\xE1", "\xE2", "\xE3", "\xF9"}},
  };
  for (const Alphabet& a : alphabets)
    for (std::size_t i = 0; i + 1 < a.ascending.size(); ++i)
      EXPECT_EQ(CompareStrings(a.language, a.sort, a.ascending[i].c_str(), a.ascending[i + 1].c_str(), 0, false), -1)
          << a.what << ": " << a.ascending[i] << " < " << a.ascending[i + 1];

  // Equal at the letter level, and still told apart by CompareChar or by
  // case.
  EXPECT_EQ(CompareStrings(Id(6, 1), 0, "aa", "\xE5", 0, true), 0);
  EXPECT_NE(CompareStrings(de, 0, "M\xFCller", "Mueller", 0, true), 0);
  for (int sub = 1; sub <= 5; ++sub)
    EXPECT_EQ(CompareStrings(Id(7, sub), 1, "M\xFCller", "Mueller", 0, true), 0) << sub;
  EXPECT_EQ(CompareLocaleStrings(MakeLocaleID(de, 1), NORM_IGNORECASE, "M\xFCller", -1, "Mueller", -1), 1);
  EXPECT_EQ(CompareStrings(Id(25, 1), 0, "\xE5", "\xB8", 0, false), 0);  // е = ё, accents ignored
  EXPECT_EQ(CompareChar(MakeLocaleID(Id(25, 1), 0), '\xE5', '\xB8'), -1);
  EXPECT_EQ(UpperString(Id(31, 1), 0, std::string_view("i\xFD")), "\xDDI");  // i -> İ, ı -> I
  EXPECT_EQ(LowerString(Id(31, 1), 0, std::string_view("I\xDD")), "\xFDi");
  EXPECT_EQ(UpperString(de, 0, std::string_view("stra\xDF" "e")), "STRA\xDF" "E");

  for (const TCollationTable& t : CompiledCollationTables()) {
    const int cp = CodePageOf(t.language);
    // Every code page with é; Icelandic alone has é as a letter of its own.
    const bool has_e_acute = cp == 1250 || cp == 1252 || cp == 1254 || cp == 1256 || cp == 1257 || cp == 1258;
    if (has_e_acute && t.language != Id(15, 1)) {
      EXPECT_EQ(CompareStrings(t.language, t.sort, "e", "\xE9", 0, false), 0) << t.language;
      EXPECT_EQ(CompareChar(MakeLocaleID(t.language, t.sort), 'e', '\xE9'), -1) << t.language;
    }
    EXPECT_EQ(CompareStrings(t.language, t.sort, "e", "E", 0, false), -1) << t.language;
    EXPECT_EQ(CompareStrings(t.language, t.sort, "e", "E", 0, true), 0) << t.language;
    EXPECT_NE(CompareStrings(t.language, t.sort, "co-op", "coop", 0, true), 0) << t.language;
    EXPECT_NE(CompareStrings(t.language, t.sort, "o'neil", "oneil", 0, true), 0) << t.language;
    EXPECT_EQ(CompareStrings(t.language, t.sort, "a\x01" "b", "ab", 0, false), 0) << t.language;  // controls ignored
  }
}

// ---- the comparison against a sort-key model -----------------------------------------

// A sort key as the tables define it: the string read longest contraction
// first, then its non-zero letter weights, accent weights and case
// weights, level by level; with accents ignored, the case weights of
// accents (elements without a letter weight) go too. Written apart from
// the library's walker.
std::vector<int> SortKey(const TCollationTable& t, const std::string& s, std::uint32_t flags) {
  std::vector<TElementRun> runs;
  for (std::size_t pos = 0; pos < s.size();) {
    const TContraction* best = nullptr;
    for (const TContraction& k : t.contractions)
      if (k.length <= s.size() - pos && std::memcmp(s.data() + pos, k.bytes.data(), k.length) == 0 &&
          (!best || k.length > best->length))
        best = &k;
    runs.push_back(best ? best->elements : (*t.elements)[static_cast<unsigned char>(s[pos])]);
    pos += best ? best->length : 1;
  }
  std::vector<int> key;
  for (int level = 1; level <= 3; ++level) {
    if ((level == 2 && (flags & NORM_IGNORENONSPACE)) || (level == 3 && (flags & NORM_IGNORECASE))) break;
    for (const TElementRun& run : runs)
      for (const TCollationElement& e : run) {
        int w = level == 1 ? e.primary : level == 2 ? e.accent : e.letter_case;
        if (level == 3 && (flags & NORM_IGNORENONSPACE) && e.primary == 0) w = 0;
        if (w) key.push_back(w);
      }
    key.push_back(0);  // ends a level below every weight
  }
  return key;
}

int KeyOrder(const std::vector<int>& a, const std::vector<int>& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end())   ? -1
         : std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end()) ? 1
                                                                                 : 0;
}

// Random strings over every byte, with the table's contractions and their
// prefixes often: the comparison agrees with the sort-key model, with
// lengths given and up to the terminators, and so is a total preorder
// (checked on triples as well).
TEST(CollationLanguages, ComparisonMatchesSortKeysAndIsATotalPreorder) {
  std::mt19937 random(25);
  for (const TCollationTable& t : CompiledCollationTables()) {
    std::vector<std::string> tokens;
    for (const TContraction& k : t.contractions) {
      tokens.emplace_back(reinterpret_cast<const char*>(k.bytes.data()), k.length);
      // Its proper prefixes too: a string may stop, or differ, inside one.
      for (int n = 1; n < k.length; ++n) tokens.emplace_back(reinterpret_cast<const char*>(k.bytes.data()), n);
    }
    for (const char* common : {"a", "A", "e", "\xE9", "-", "'", " ", "\x01", "z"}) tokens.emplace_back(common);
    for (int i = 0; i < 24; ++i) tokens.emplace_back(1, static_cast<char>(1 + random() % 255));
    auto make = [&] {
      std::string s;
      for (int n = static_cast<int>(random() % 6); n > 0; --n) s += tokens[random() % tokens.size()];
      return s;
    };
    for (int i = 0; i < 600; ++i) {
      const std::string a = make(), b = make(), c = i % 2 ? a + make() : make();
      for (std::uint32_t flags : {0u, unsigned(NORM_IGNORECASE), unsigned(NORM_IGNORENONSPACE | NORM_IGNORECASE)}) {
        auto cmp = [&](const std::string& x, const std::string& y) {
          return CompareWithTable(t, flags, x.data(), static_cast<std::ptrdiff_t>(x.size()), y.data(),
                                  static_cast<std::ptrdiff_t>(y.size()));
        };
        const int ab = cmp(a, b), bc = cmp(b, c), ac = cmp(a, c);
        ASSERT_EQ(ab, KeyOrder(SortKey(t, a, flags), SortKey(t, b, flags))) << t.language << " " << a << " / " << b;
        ASSERT_EQ(ac, KeyOrder(SortKey(t, a, flags), SortKey(t, c, flags))) << t.language << " " << a << " / " << c;
        ASSERT_EQ(cmp(b, a), -ab);
        // Up to the terminators (the one-pass path), the same answers.
        ASSERT_EQ(CompareWithTable(t, flags, a.c_str(), -1, b.c_str(), -1), ab) << t.language << " " << a << " / " << b;
        ASSERT_EQ(CompareWithTable(t, flags, c.c_str(), -1, a.c_str(), -1), -ac) << t.language << " " << c << " / " << a;
        if (ab <= 0 && bc <= 0) {
          ASSERT_LE(ac, 0) << t.language;
        }
        if (ab == 0 && bc == 0) {
          ASSERT_EQ(ac, 0) << t.language;
        }
      }
    }
  }
}

TEST(CollationLanguages, CharMapsAreSortedUnderCompareChar) {
  for (const TCollationTable& t : CompiledCollationTables()) {
    TCharMap map{};
    GetLanguageCharMap(t.language, t.sort, map);
    std::vector<bool> seen(256);
    for (std::uint8_t b : map) seen[b] = true;
    ASSERT_EQ(std::count(seen.begin(), seen.end(), true), 256);
    const std::uint32_t locale = MakeLocaleID(t.language, t.sort);
    for (int i = 0; i + 1 < 256; ++i) {
      int order = CompareChar(locale, static_cast<char>(map[i]), static_cast<char>(map[i + 1]));
      ASSERT_LE(order, 0) << t.language << " at " << i;
      if (order == 0) {
        ASSERT_LT(map[i], map[i + 1]) << t.language;  // ties by byte value
      }
    }
  }
}

// ---- case maps against python3 -------------------------------------------------------

// python3's codec of each code page: a byte maps to the byte its one-
// character upper (lower) case encodes to, else to itself. Turkish dotted
// and dotless i are the language's own and are set apart.
TEST(CollationLanguages, CaseMapsAgreeWithPython) {
  std::string python = testing::RunPython(
      "def m(b, cp, f):\n"
      "    try:\n"
      "        c = bytes([b]).decode(cp)\n"
      "    except UnicodeDecodeError:\n"
      "        return b\n"
      "    t = f(c)\n"
      "    if len(t) != 1: return b\n"
      "    try:\n"
      "        e = t.encode(cp)\n"
      "    except UnicodeEncodeError:\n"
      "        return b\n"
      "    return e[0] if len(e) == 1 else b\n"
      "for cp in (874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258):\n"
      "    print(cp, ' '.join(str(m(b, 'cp%d' % cp, str.upper)) for b in range(256)))\n"
      "    print(cp, ' '.join(str(m(b, 'cp%d' % cp, str.lower)) for b in range(256)))\n");
  if (python.empty()) GTEST_SKIP() << "python3 is not available";
  std::map<int, std::pair<std::vector<int>, std::vector<int>>> maps;
  std::istringstream lines(python);
  for (int cp; lines >> cp;) {
    auto& pair = maps[cp];
    auto& list = pair.first.empty() ? pair.first : pair.second;
    for (int i = 0, v; i < 256 && lines >> v; ++i) list.push_back(v);
  }
  ASSERT_EQ(maps.size(), 10u);
  for (const TCollationTable& t : CompiledCollationTables()) {
    auto [upper, lower] = maps.at(CodePageOf(t.language));
    if (t.language == Id(31, 1)) {
      upper['i'] = 0xDD, upper[0xFD] = 'I';
      lower['I'] = 0xFD, lower[0xDD] = 'i';
    }
    for (int b = 1; b < 256; ++b) {
      const std::string in(1, static_cast<char>(b));
      ASSERT_EQ(static_cast<unsigned char>(UpperString(t.language, t.sort, in)[0]), upper[b]) << t.language << " " << b;
      ASSERT_EQ(static_cast<unsigned char>(LowerString(t.language, t.sort, in)[0]), lower[b]) << t.language << " " << b;
    }
  }
}

// ---- formats -------------------------------------------------------------------------

struct GoldenFormats {
  const char* what;
  std::uint16_t language;
  char decimal, thousand, date;
  const char *short_date, *long_date, *long_time, *currency, *january, *sunday;
  int currency_format;
};

TEST(CollationLanguages, GoldenFormats) {
  const GoldenFormats golden[] = {
      {"German", Id(7, 1), ',', '.', '.', "dd.mm.yyyy", "dddd, d. mmmm yyyy", "hh:mm:ss", "\x80", "Januar", "Sonntag", 3},
      {"French", Id(12, 1), ',', '\xA0', '/', "dd/mm/yyyy", "dddd d mmmm yyyy", "hh:mm:ss", "\x80", "janvier",
       "dimanche", 3},
      {"English (UK)", Id(9, 2), '.', ',', '/', "dd/mm/yyyy", "dddd, d mmmm yyyy", "hh:mm:ss", "\xA3", "January",
       "Sunday", 0},
      {"Swedish", Id(29, 1), ',', '\xA0', '-', "yyyy-mm-dd", "dddd d mmmm yyyy", "hh:mm:ss", "kr", "januari",
       "s\xF6ndag", 3},
      {"Russian", Id(25, 1), ',', '\xA0', '.', "dd.mm.yyyy", "dddd, d mmmm yyyy\"\xA0\xE3.\"", "hh:mm:ss", "RUB",
       "\xFF\xED\xE2\xE0\xF0\xFC", "\xE2\xEE\xF1\xEA\xF0\xE5\xF1\xE5\xED\xFC\xE5", 3},
      {"Polish", Id(21, 1), ',', '\xA0', '.', "d.mm.yyyy", "dddd, d mmmm yyyy", "hh:mm:ss", "z\xB3", "stycze\xF1",
       "niedziela", 3},
      {"English (USA)", Id(9, 1), '.', ',', '/', "m/d/yyyy", "dddd, mmmm d, yyyy", "h:mm:ss AMPM", "$", "January",
       "Sunday", 0},
  };
  for (const GoldenFormats& g : golden) {
    TLanguageSettings s;
    GetDefaultLanguageSettings(g.language, 0, s);
    EXPECT_EQ(s.DecimalSeparator, g.decimal) << g.what;
    EXPECT_EQ(s.ThousandSeparator, g.thousand) << g.what;
    EXPECT_EQ(s.DateSeparator, g.date) << g.what;
    EXPECT_EQ(s.ShortDateFormat, g.short_date) << g.what;
    EXPECT_EQ(s.LongDateFormat, g.long_date) << g.what;
    EXPECT_EQ(s.LongTimeFormat, g.long_time) << g.what;
    EXPECT_EQ(s.TimeSeparator, ':') << g.what;
    EXPECT_EQ(s.CurrencyString, g.currency) << g.what;
    EXPECT_EQ(s.CurrencyFormat, g.currency_format) << g.what;
    EXPECT_EQ(s.CurrencyDecimals, 2) << g.what;
    EXPECT_EQ(s.LongMonthNames[0], g.january) << g.what;
    EXPECT_EQ(s.LongDayNames[0], g.sunday) << g.what;
    TLanguageSettings phone_book;
    GetDefaultLanguageSettings(g.language, 1, phone_book);
    EXPECT_EQ(phone_book, s) << g.what;  // formats follow the language, not the sort
  }
}

// Every language writes dates and times it reads back.
TEST(CollationLanguages, DatesAndTimesReadBackInEveryLanguage) {
  std::mt19937 random(1500);
  const rtl::TDateTime first = rtl::EncodeDate(1500, 1, 1), last = rtl::EncodeDate(2100, 12, 31);
  ASSERT_EQ(CompiledLanguageFormats().size(), 98u);
  for (const TLanguageFormats& f : CompiledLanguageFormats()) {
    TLanguageSettings s;
    GetDefaultLanguageSettings(f.language, 0, s);
    for (int i = 0; i < 300; ++i) {
      const rtl::TDateTime date = first + static_cast<int>(random() % static_cast<unsigned>(last - first + 1));
      const std::int32_t day = rtl::DateTimeToTimeStamp(date).Date;
      const std::string text = DateText(day, s);
      rtl::TDateTime back = -1;
      ASSERT_TRUE(TryTextToDate(text, s, back)) << f.language << " " << text;
      ASSERT_EQ(back, date) << f.language << " " << text;
      const std::int32_t msec = static_cast<std::int32_t>(random() % 86400) * 1000;
      const std::string time = TimeText(msec, s);
      ASSERT_TRUE(TryTextToTime(time, s, back)) << f.language << " " << time;
      ASSERT_EQ(rtl::DateTimeToTimeStamp(back).Time, msec) << f.language << " " << time;
    }
  }
}

// ---- the pinned hash --------------------------------------------------------------------

// FNV-1a over every weight, case map, contraction and format. A change to
// any of them must come with a new kCollationVersion (and this hash).
TEST(CollationLanguages, TablesArePinnedToTheirVersion) {
  std::uint64_t h = 0xCBF29CE484222325ull;
  auto mix = [&h](const void* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) h = (h ^ static_cast<const unsigned char*>(data)[i]) * 0x100000001B3ull;
  };
  auto mix_value = [&mix](auto v) { mix(&v, sizeof v); };
  auto mix_text = [&mix](const char* s) { mix(s, std::strlen(s) + 1); };
  for (const TCollationTable& t : CompiledCollationTables()) {
    mix_value(t.language), mix_value(t.sort);
    for (const TElementRun& run : *t.elements)
      for (const TCollationElement& e : run) mix_value(e.primary), mix_value(e.accent), mix_value(e.letter_case);
    mix(t.upper->data(), 256), mix(t.lower->data(), 256);
    for (const TContraction& k : t.contractions) {
      mix(k.bytes.data(), k.bytes.size()), mix_value(k.length);
      for (const TCollationElement& e : k.elements) mix_value(e.primary), mix_value(e.accent), mix_value(e.letter_case);
    }
  }
  for (const TLanguageFormats& f : CompiledLanguageFormats()) {
    mix_value(f.language), mix_text(f.currency), mix_value(f.currency_format), mix_value(f.neg_currency_format);
    mix_value(f.currency_decimals), mix_value(f.thousand_separator), mix_value(f.decimal_separator);
    mix_value(f.date_separator), mix_value(f.time_separator), mix_text(f.short_date), mix_text(f.long_date);
    mix_text(f.am), mix_text(f.pm), mix_value(f.hour_leading_zero), mix_value(f.twelve_hour);
    for (const auto* list : {&f.names->short_months, &f.names->long_months})
      for (const char* name : *list) mix_text(name);
    for (const auto* list : {&f.names->short_days, &f.names->long_days})
      for (const char* name : *list) mix_text(name);
  }
  // Version 1: 0x917C5838AA3007DA. Version 2 writes Vietnamese names with
  // letters and marks where the code page has no precomposed letter.
  static_assert(kCollationVersion == 2, "a new version pins its own hash here");
  EXPECT_EQ(h, 0x60B27014E4C2F16Cull);
}

}  // namespace
}  // namespace korvex
