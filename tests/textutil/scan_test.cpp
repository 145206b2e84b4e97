#include "textutil/scan.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/textutil/textutil_fixture.h"

namespace textutil {
namespace {

using ScanTest = TextutilTest;

// Reference matcher, written independently of the library's tables: '?' is
// a wildcard, and case-blind folding covers A-Z only.
char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool RefMatchAt(const std::string& s, size_t at, const std::string& p, bool blind) {
  if (at + p.size() > s.size()) return false;
  for (size_t j = 0; j < p.size(); ++j) {
    char pc = p[j], tc = s[at + j];
    if (pc == '?' || pc == tc || (blind && FoldAscii(pc) == FoldAscii(tc))) continue;
    return false;
  }
  return true;
}

// First match at or after 1-based from; last match ending at or before end.
int RefFirst(const std::string& s, const std::string& p, int from, int stop, bool blind) {
  for (int at = from; at + static_cast<int>(p.size()) - 1 <= stop; ++at)
    if (RefMatchAt(s, static_cast<size_t>(at - 1), p, blind)) return at;
  return 0;
}

int RefLast(const std::string& s, const std::string& p, int end, bool blind) {
  for (int at = end - static_cast<int>(p.size()) + 1; at >= 1; --at)
    if (RefMatchAt(s, static_cast<size_t>(at - 1), p, blind)) return at;
  return 0;
}

// Random text over an alphabet that puts letters of both cases, '?', the
// character 0, accented letters and other high bytes side by side.
std::string RandomText(std::mt19937& rng, int max_len) {
  static const std::string kAlphabet = std::string("aAbB?x\0\xE9\xC9\xFF\x80 ", 12);
  std::uniform_int_distribution<int> len(0, max_len), pick(0, static_cast<int>(kAlphabet.size()) - 1);
  std::string s(static_cast<size_t>(len(rng)), ' ');
  for (char& c : s) c = kAlphabet[static_cast<size_t>(pick(rng))];
  return s;
}

TEST_F(ScanTest, ForwardAndBackwardSearchesAgreeWithBruteForce) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 20000; ++round) {
    const std::string s = RandomText(rng, 24);
    std::string p = RandomText(rng, 5);
    if (p.empty()) p = "a";
    const int n = static_cast<int>(s.size());
    for (bool blind : {false, true}) {
      for (int from = 1; from <= n; from += 3) {
        const int start = blind ? -from : from;
        const int want = RefFirst(s, p, from, n, blind);
        ASSERT_EQ(ScanF(s, p, start), want) << round;
        ASSERT_EQ(ScanQ(s, p, start), want) << round;
        ASSERT_EQ(ScanQC(s, p, start), want) << round;
        const int stop = std::max(from, n - 2);
        ASSERT_EQ(ScanSS(s, p, start, stop), RefFirst(s, p, from, stop, blind)) << round;
        ASSERT_EQ(ScanR(s, p, start), RefLast(s, p, from, blind)) << round;
        ASSERT_EQ(ScanQR(s, p, start), RefLast(s, p, from, blind)) << round;
        ASSERT_EQ(ScanQRC(s, p, start), RefLast(s, p, from, blind)) << round;
      }
      if (n > 0) {
        const int len = blind ? -n : n;
        ASSERT_EQ(ScanBfr(s.data(), p, len), RefFirst(s, p, 1, n, blind)) << round;
        ASSERT_EQ(ScanBfrC(s.data(), p, len), RefFirst(s, p, 1, n, blind)) << round;
        ASSERT_EQ(ScanBfrR(s.data(), p, len), RefLast(s, p, n, blind)) << round;
        ASSERT_EQ(ScanBfrRC(s.data(), p, len), RefLast(s, p, n, blind)) << round;
      }
    }
  }
}

TEST_F(ScanTest, SearchesRunOnSeveralThreadsAtOnce) {
  // Each thread searches its own patterns; the fast search's shift tables
  // are per thread, so no search sees another's table.
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      std::mt19937 rng(static_cast<unsigned>(t));
      for (int round = 0; round < 3000; ++round) {
        const std::string s = RandomText(rng, 40);
        std::string p = RandomText(rng, 4);
        if (p.empty()) p = "b";
        const int want = RefFirst(s, p, 1, static_cast<int>(s.size()), true);
        if (ScanQ(s, p, -1) != want || ScanQC(s, p, -1) != want || ScanF(s, p, -1) != want) ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

TEST_F(ScanTest, LongPatternsWithWildcardsAgreeWithBruteForce) {
  // Patterns longer than 255 exercise the capped shifts.
  std::mt19937 rng(99);
  for (int round = 0; round < 200; ++round) {
    std::string s = RandomText(rng, 2000);
    const size_t at = s.size() / 3;
    std::string p = s.substr(at, std::min<size_t>(300, s.size() - at));
    if (p.empty()) continue;
    p[p.size() / 2] = '?';
    for (int start : {1, -1}) {
      ASSERT_EQ(ScanF(s, p, start), RefFirst(s, p, 1, static_cast<int>(s.size()), start < 0));
      ASSERT_EQ(ScanR(s, p, start * 0), RefLast(s, p, static_cast<int>(s.size()), false));
    }
  }
}

TEST_F(ScanTest, PartExamples) {
  EXPECT_EQ(ScanF("xAbab", "ab", 1), 4);
  EXPECT_EQ(ScanF("xAbab", "ab", -1), 2);
  EXPECT_EQ(ScanF("banana", "a?a", 1), 2);
  EXPECT_EQ(ScanF("banana", "a", 7), 0);
  EXPECT_EQ(ScanSS("banana", "an", 3, 5), 4);
  EXPECT_EQ(ScanSS("banana", "an", 3, 4), 0);
  EXPECT_EQ(ScanR("banana", "an", 0), 4);
  EXPECT_EQ(ScanR("banana", "an", 3), 2);
}

TEST_F(ScanTest, WildcardAndFoldingDecisions) {
  // A '?' typed in a search term is a wildcard.
  EXPECT_EQ(ScanF("John Sm?th", "Sm?th", 1), 6);
  EXPECT_EQ(ScanF("John Smith", "Sm?th", 1), 6);
  // Case-blind folding covers A-Z only: accented letters never fold.
  EXPECT_EQ(ScanF("\xC9MILE", "\xE9mile", -1), 0);
  EXPECT_EQ(ScanF("\xE9MILE", "\xE9mile", -1), 1);
  EXPECT_EQ(ScanF("Smith", "SMITH", 1), 0);
  EXPECT_EQ(ScanF("Smith", "SMITH", -1), 1);
}

TEST_F(ScanTest, WildcardPatternsNeverSkipAMatch) {
  EXPECT_EQ(ScanF("aaqc", "a?c", 1), 2);
  EXPECT_EQ(ScanQ("aaqc", "a?c", 1), 2);
  EXPECT_EQ(ScanQC("aaqc", "a?c", 1), 2);
  EXPECT_EQ(ScanQ("AAQC", "a?c", -1), 2);
  EXPECT_EQ(ScanBfr("aaqc", "a?c", 4), 2);
  EXPECT_EQ(ScanBfrC("aaqc", "a?c", 4), 2);
  EXPECT_EQ(ScanQR("cqaa", "c?a", 0), 1);
  EXPECT_EQ(ScanBfrR("cqaa", "c?a", 4), 1);
  EXPECT_EQ(ScanBfrRC("CQAA", "c?a", -4), 1);
}

// Callers take turns with a list of patterns, more of them than the search
// keeps tables for: each answer still matches its own pattern.
TEST_F(ScanTest, TakingTurnsWithManyPatternsAgreesWithBruteForce) {
  std::mt19937 rng(77);
  std::vector<std::string> patterns;
  while (patterns.size() < 21) {
    std::string p = RandomText(rng, 4);
    if (!p.empty()) patterns.push_back(p);
  }
  for (int round = 0; round < 3000; ++round) {
    const std::string s = RandomText(rng, 30);
    const int n = static_cast<int>(s.size());
    if (n == 0) continue;
    for (size_t k = 0; k < patterns.size(); ++k) {
      const std::string& p = patterns[(k * 5 + static_cast<size_t>(round)) % patterns.size()];
      for (bool blind : {false, true}) {
        ASSERT_EQ(ScanF(s, p, blind ? -1 : 1), RefFirst(s, p, 1, n, blind)) << round << ' ' << p;
        ASSERT_EQ(ScanR(s, p, blind ? -n : n), RefLast(s, p, n, blind)) << round << ' ' << p;
      }
    }
  }
}

TEST_F(ScanTest, ReusingVariantsRebuildForAnotherPatternOrCaseTable) {
  EXPECT_EQ(ScanQ("xxabc", "abc", 1), 3);
  EXPECT_EQ(ScanQC("xxabd", "abd", 1), 3);
  EXPECT_EQ(ScanQC("xxABD", "abd", -1), 3);
  ASSERT_TRUE(SetCaseTable("abcdefghijklmnopqrstuvwxyz\xE9", "ABCDEFGHIJKLMNOPQRSTUVWXYZ\xC9"));
  EXPECT_EQ(ScanQC("x\xC9MILE", "\xE9mile", -1), 2);
}

TEST_F(ScanTest, FastSearchRefusesPatternsOver256) {
  const std::string s(600, 'a');
  EXPECT_EQ(ScanQ(s, std::string(256, 'a'), 1), 1);
  EXPECT_EQ(ScanQ(s, std::string(257, 'a'), 1), 0);
  EXPECT_EQ(ScanBfr(s.data(), std::string(257, 'a'), 600), 0);
  EXPECT_EQ(ScanF(s, std::string(257, 'a'), 1), 1);
}

TEST_F(ScanTest, RefusalsAreZero) {
  EXPECT_EQ(ScanF("", "a", 1), 0);
  EXPECT_EQ(ScanF("abc", "", 1), 0);
  EXPECT_EQ(ScanF("abc", "a", 0), 0);
  EXPECT_EQ(ScanF("abc", "c", 4), 0);
  EXPECT_EQ(ScanF("abc", "c", -4), 0);
  EXPECT_EQ(ScanF("abc", "c", INT32_MIN), 0);
  EXPECT_EQ(ScanFF("abc", "c", -3), 0);
  EXPECT_EQ(ScanSS("abc", "c", 1, 4), 0);
  EXPECT_EQ(ScanR("abc", "c", 4), 0);
  EXPECT_EQ(ScanBfr(nullptr, "a", 3), 0);
}

TEST_F(ScanTest, ExactAndStopCharSearches) {
  EXPECT_EQ(ScanFF("a?cabc", "abc", 1), 4);
  EXPECT_EQ(ScanFF("abcabc", "abc", 2), 4);
  EXPECT_EQ(ScanSC("xab;ab", "ab", 1, ';'), 2);
  EXPECT_EQ(ScanSC("xa;ab", "ab", 1, ';'), 0);
  EXPECT_EQ(ScanSC("xA;ab", "ab", -1, ';'), 0);
  EXPECT_EQ(ScanSC("XAB;ab", "ab", -1, ';'), 2);
}

TEST_F(ScanTest, ScanDFindsFirstDifference) {
  EXPECT_EQ(ScanD("abcdef", "abx", 1), 3);
  EXPECT_EQ(ScanD("abcdef", "cdx", 3), 5);
  EXPECT_EQ(ScanD("abcdef", "CD?F", -3), 0);
  EXPECT_EQ(ScanD("abcdef", "abc", 1), 0);
  EXPECT_EQ(ScanD("abc", "abcdef", 1), 0);
  EXPECT_EQ(ScanD("abc", "", 1), 1);
}

TEST_F(ScanTest, ScanPFindsLongestLeadingRun) {
  ExpectMovingScans([](const MovingScan& c, int& start) { return ScanP(c.text, c.pattern, start); },
                    {{"xsmiq smitz", "smith", 1, 4, 7},
                     {"smi smith", "s?ith", 1, 5, 5},
                     {"ab ab", "abc", 1, 2, 1},  // leftmost of equal runs
                     {"xyz", "abc", 1, 0, 0},
                     {"abc", "abc", -1, 0, 0}});
}

TEST_F(ScanTest, ScanZCountsEachKindOfError) {
  // arg: the errors allowed.
  ExpectMovingScans([](const MovingScan& c, int& start) { return ScanZ(c.text, c.pattern, c.arg, start); },
                    {{"the colour red", "color", 1, 5, 5, 1},
                     {"the colour red", "color", 1, 0, 0, 0},
                     {"xxsmyth", "smith", 1, 5, 3, 1},  // substituted
                     {"smth", "smith", 1, 4, 1, 1},     // missing
                     {"smiith", "smith", 1, 6, kNotLooked, 1},  // extra
                     {"smtih", "smith", 1, 5, kNotLooked, 1},   // transposed
                     {"SMYTH", "smith", -1, 5, 1, 1},   // case-blind
                     {"SMYTH", "smith", 1, 0, 1, 1},
                     {"abc", "xy", 2, 2, 2, 2}});  // every character may differ
  int start = 2;
  EXPECT_EQ(ScanZ("abc", "xy", -1, start), 0);
}

TEST_F(ScanTest, ScanORTakesTheLeftmostAlternative) {
  EXPECT_EQ(ScanOR("hotdog cat", "cat|dog", 1), 4);
  EXPECT_EQ(ScanOR("HOTDOG", "cat|dog", -1), 4);
  EXPECT_EQ(ScanOR("HOTDOG", "cat|dog", 1), 0);
  EXPECT_EQ(ScanOR("cat dog", "dog|cat", 1), 1);
  EXPECT_EQ(ScanOR("cat dog", "dog||cat|", 2), 5);
  EXPECT_EQ(ScanOR("the smyth", "sm?th|jones", 1), 5);
  EXPECT_EQ(ScanOR("xcat", "?at", 1), 2);  // an alternative may begin with '?'
  EXPECT_EQ(ScanOR("ab", "abc|b", 1), 2);    // alternatives must fit in the text
  EXPECT_EQ(ScanOR("", "a", 1), 0);
  EXPECT_EQ(ScanOR("a", "", 1), 0);
  EXPECT_EQ(ScanOR("a", "|||", 1), 0);
  // At most 16 alternatives: the 17th is ignored.
  std::string alts;
  for (int i = 0; i < 16; ++i) alts += "q" + std::to_string(i) + "|";
  EXPECT_EQ(ScanOR("zz q15", alts + "zz", 1), 4);
}

TEST_F(ScanTest, CharacterScans) {
  EXPECT_EQ(ScanC("banana", 'n', 1), 3);
  EXPECT_EQ(ScanC("banana", 'n', 4), 5);
  EXPECT_EQ(ScanC("banana", 'n', -1), 0);
  EXPECT_EQ(ScanC("banana", 'n', 7), 0);
  EXPECT_EQ(ScanC(std::string("a\0b", 3), '\0', 1), 2);
  EXPECT_EQ(ScanB("banana", 'n', 4), 3);
  EXPECT_EQ(ScanB("banana", 'n', 0), 5);
  EXPECT_EQ(ScanB("banana", 'n', -3), 5);
  EXPECT_EQ(ScanB("banana", 'x', 0), 0);
  EXPECT_EQ(ScanCC("banana", 'a', 3), 6);
  EXPECT_EQ(ScanCC("banana", 'a', 4), 0);
  EXPECT_EQ(ScanCC("banana", 'a', 0), 0);
  EXPECT_EQ(ScanNC("  ab", ' '), 3);
  EXPECT_EQ(ScanNC("   ", ' '), 0);
  EXPECT_EQ(ScanNB("ab  ", ' '), 2);
  EXPECT_EQ(ScanNB("   ", ' '), 0);
  EXPECT_EQ(ScanNB("", ' '), 0);
  EXPECT_EQ(ScanLU("ab5c", '9', '0', 1), 3);
  EXPECT_EQ(ScanLU("a\xE9z", '\xFF', '\xC0', 1), 2);
  EXPECT_EQ(ScanN("ab5c7", 4), 5);
  EXPECT_EQ(ScanL("ABcD", 1), 3);
  EXPECT_EQ(ScanU("ab\xC9" "Cd", 1), 4);  // accented capitals are no members of UpperSet
}

TEST_F(ScanTest, SetScans) {
  EXPECT_EQ(ScanT("a;b,c", ",;", 1), 2);
  EXPECT_EQ(ScanT("a;b,c", ",", 1), 4);
  EXPECT_EQ(ScanT("xAyB", "b", 1), 0);
  EXPECT_EQ(ScanT("xAyB", "b", -1), 4);
  EXPECT_EQ(ScanT("abc", "", 1), 0);
  EXPECT_EQ(ScanT("abc", std::string(257, 'c'), 1), 0);
  EXPECT_EQ(ScanRT("a;b;c", ";", 5), 4);
  EXPECT_EQ(ScanRT("a;b;c", ";", 3), 2);
  EXPECT_EQ(ScanNT("  ab", " ", 1), 3);
  EXPECT_EQ(ScanNT("aAb", "a", -1), 3);
  EXPECT_EQ(ScanRNT("ab  ", " ", 4), 2);
}

TEST_F(ScanTest, ScanTQSkipsQuotedDelimiters) {
  EXPECT_EQ(ScanTQ("a,\"b,c\",d", ",", 3), 8);
  EXPECT_EQ(ScanTQ("a,\"b,c\",d", ",", 1), 2);
  EXPECT_EQ(ScanTQ("\"a,b", ",", 1), 0);  // an unmatched quote hides the rest
  // The closing quote is tested against the set, the opening one is not.
  EXPECT_EQ(ScanTQ("x\"ab\"", "\"", 1), 5);
  MutableState().OpenQuote = '[';
  MutableState().CloseQuote = ']';
  EXPECT_EQ(ScanTQ("[a,b],c", ",", 1), 6);
}

// ScanTQ against the rule written out, on random texts of delimiters and
// quotes: one delimiter or two, either quote pair, start from either end of
// the text, case-blind too.
TEST_F(ScanTest, ScanTQAgreesWithItsRule) {
  auto rule = [](std::string_view s, std::string_view delims, int start) {
    if (s.empty() || delims.empty() || start == 0 || std::abs(start) > static_cast<int>(s.size())) return 0;
    const char open = State().OpenQuote, close = State().CloseQuote;
    bool quoted = false;
    for (size_t i = static_cast<size_t>(std::abs(start) - 1); i < s.size(); ++i) {
      const char c = s[i];
      if (c == open)
        quoted = !quoted;
      else if (c == close && quoted)
        quoted = false;
      bool delimiter = false;
      for (const char d : delims)
        delimiter = delimiter || c == d || (start < 0 && State().CaseSwapTable[static_cast<uint8_t>(d)] == static_cast<uint8_t>(c));
      if (!quoted && delimiter) return static_cast<int>(i) + 1;
    }
    return 0;
  };
  std::mt19937 rng(3);
  const std::string alphabet = "a,;\" []Aa";
  const std::vector<std::string> delim_sets = {",", ";", " ", "a", "\"", "]", ",;", " ,"};
  std::uniform_int_distribution<int> len(0, 12), pick(0, static_cast<int>(alphabet.size()) - 1);
  for (int round = 0; round < 40000; ++round) {
    const bool brackets = round % 2 == 1;
    MutableState().OpenQuote = brackets ? '[' : '"';
    MutableState().CloseQuote = brackets ? ']' : '"';
    std::string text(static_cast<size_t>(len(rng)), ' ');
    for (char& c : text) c = alphabet[static_cast<size_t>(pick(rng))];
    const std::string& delims = delim_sets[static_cast<size_t>(round / 2) % delim_sets.size()];
    for (int start = -static_cast<int>(text.size()) - 1; start <= static_cast<int>(text.size()) + 1; ++start)
      ASSERT_EQ(ScanTQ(text, delims, start), rule(text, delims, start))
          << "'" << text << "' '" << delims << "' " << start << (brackets ? " []" : " \"\"");
  }
}

TEST_F(ScanTest, WideScans) {
  EXPECT_EQ(WScan(u"ab\u0100cab", u"ab", 2), 5);
  EXPECT_EQ(WScan(u"abc", u"ab", 0), 0);
  EXPECT_EQ(WScanC(u"ab\u0100c", u'\u0100', 1), 3);
  EXPECT_EQ(WScanC(u"abc", u'x', 1), 0);
}

TEST_F(ScanTest, Masks) {
  EXPECT_TRUE(IsMatch("abc123", "*#", false));
  EXPECT_TRUE(IsMatch("abc123", "@@@", false));
  EXPECT_FALSE(IsMatch("abc123", "a?c#x", false));
  EXPECT_TRUE(IsMatch("Smith John", "sm*jo", true));
  EXPECT_FALSE(IsMatch("Smith John", "sm*jo", false));
  EXPECT_TRUE(IsMatch("a1-", "@$~", false));
  EXPECT_FALSE(IsMatch("a1 ", "@$~", false));  // a blank is no "other" character
  EXPECT_FALSE(IsMatch("", "*", false));
  EXPECT_FALSE(IsMatch("abc", "", false));
  EXPECT_TRUE(IsMatch("aXbXc", "*X?", false));

  ExpectMovingScans([](const MovingScan& c, int& start) { return ScanW(c.text, c.pattern, start); },
                    {{"Born 1723 in York", "####", 1, 4, 6}, {"the SMITH farm", "sm*h", -1, 5, 5}, {"abc", "#", 1, 0, 0}});
}

}  // namespace
}  // namespace textutil
