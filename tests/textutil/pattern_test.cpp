#include "textutil/pattern.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <regex>

#include "platform/runtime/exceptions.h"
#include "tests/textutil/textutil_fixture.h"

namespace textutil {
namespace {

using PatternTest = TextutilTest;

std::string Set(char kind, const std::string& chars) { return std::string(1, kind) + static_cast<char>(chars.size()) + chars; }

TEST_F(PatternTest, Compiles) {
  EXPECT_EQ(MakePattern("a*b"), "*@a@b");
  EXPECT_EQ(MakePattern("^a.$"), "^@a.$");
  EXPECT_EQ(MakePattern("[a-c]"), Set('[', "abc"));
  EXPECT_EQ(MakePattern("[^0-9x]"), Set('!', "0123456789x"));
  EXPECT_EQ(MakePattern("*a"), "@*@a");
  EXPECT_EQ(MakePattern("^*"), "");
  EXPECT_EQ(MakePattern("$*"), "*@$");  // "$" not last is a literal
  EXPECT_EQ(MakePattern("a$b"), "@a@$@b");
  EXPECT_EQ(MakePattern("a^"), "@a@^");
  EXPECT_EQ(MakePattern("\\t\\*\\"), "@\t@*@\\");
  EXPECT_EQ(MakePattern("[z-a]"), MakePattern("[a-z]"));
  EXPECT_EQ(MakePattern("[a\\]b]"), Set('[', "a]b"));
  EXPECT_EQ(MakePattern("[-a-]"), Set('[', "-a-"));
  EXPECT_EQ(MakePattern("[!-#]"), Set('[', "!-#"));  // '-' between non-alphanumerics is literal
  EXPECT_EQ(MakePattern("ab[cd"), "@a@b");  // an open set writes nothing
  EXPECT_EQ(MakePattern(""), "");
  EXPECT_EQ(MakePattern("[]"), Set('[', ""));
}

TEST_F(PatternTest, RefusesWhatCannotBeEncoded) {
  EXPECT_EQ(MakePattern("a**"), "");  // a closure of a closure
  std::string big = "[";
  for (int i = 0; i < 4; ++i) big += "a-zA-Z0-9";
  big += "]";
  EXPECT_EQ(MakePattern(big).size(), 250u);  // 4 x 62 = 248 characters fit ...
  big.insert(1, "a-z");
  EXPECT_EQ(MakePattern(big), "");  // ... 274 does not: the count byte would wrap
  std::string fits = "[" + std::string(255, 'q') + "]";
  EXPECT_EQ(MakePattern(fits).size(), 257u);
  EXPECT_EQ(MakePattern("[" + std::string(256, 'q') + "]"), "");
}

int Rx(const MovingScan& c, int& start) { return ScanRX(c.text, c.pattern, start); }

TEST_F(PatternTest, Scans) {
  ExpectMovingScans(Rx, {{"xaab", "*@a@b", 1, 3, 2},
                         {"xaab", "*@a@b", 0, 0, kNotLooked},
                         {"A", "@a", 1, 0, 2},
                         {"A", "@a", -1, 1, 1},
                         {"ab", "@b$", 1, 1, 2},
                         {"ab", Set('!', "a"), 1, 1, 2},
                         {"xAb", Set('[', "a"), -1, 1, 2},
                         {"abc", "@a", 5, 0, 5}});
}

TEST_F(PatternTest, EndAnchorMatchesOnlyAtTheEnd) {
  ExpectMovingScans(Rx, {{"ab", "@a$", 1, 0, 3},  // "a" is not at the end
                         {"aba", "@a$", 1, 1, 3},
                         {"abc", "^*.$", 1, 3, 1}});
}

TEST_F(PatternTest, DamagedPatternsRaise) {
  for (std::string bad : {std::string("#"), std::string("@"), std::string("*"), std::string("**@a"),
                          std::string("*^"), std::string("*$"), std::string("[\x05" "ab"), std::string("!")}) {
    int start = 1;
    EXPECT_THROW(ScanRX("abc", bad, start), rtl::Exception) << bad;
  }
  int start = 1;
  try {
    ScanRX("abc", "&", start);
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), "Invalid pattern!");
  }
}

TEST_F(PatternTest, NestedClosuresStayFast) {
  std::string pattern;
  for (int i = 0; i < 30; ++i) pattern += "*@a";
  pattern += "@b";
  int start = 1;
  EXPECT_EQ(ScanRX(std::string(3000, 'a'), pattern, start), 0);
  EXPECT_EQ(start, 3001);
}

TEST_F(PatternTest, HugeLinesAndPatterns) {
  // Too large for the table of what can still match: searched by
  // backtracking instead.
  std::string line(300000, 'b');
  line += "ab";
  std::string pattern;
  for (int i = 0; i < 900; ++i) pattern += "*@b";
  pattern += "@a@b$";
  int start = 1;
  EXPECT_EQ(ScanRX(line, pattern, start), 300002);
  EXPECT_EQ(start, 1);
  start = 1;
  EXPECT_EQ(ScanRX(line, "@a@b@c", start), 0);
  EXPECT_EQ(start, 300003);
}

// Brute force: does the encoded pattern match exactly line[p, end) (0-based),
// trying every split of every closure?
bool FullMatch(const std::string& enc, size_t i, const std::string& line, size_t p, size_t end, bool blind) {
  auto fold = [&](unsigned char c) { return blind && c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c; };
  if (i == enc.size()) return p == end;
  bool closure = enc[i] == '*';
  size_t at = closure ? i + 1 : i;
  char kind = enc[at];
  size_t next = at + (kind == '@' ? 2 : (kind == '[' || kind == '!') ? 2 + static_cast<unsigned char>(enc[at + 1]) : 1);
  auto one = [&](size_t q) {
    if (kind == '^' || kind == '$') return false;
    if (q >= end) return false;
    unsigned char t = fold(static_cast<unsigned char>(line[q]));
    if (kind == '.') return true;
    if (kind == '@') return fold(static_cast<unsigned char>(enc[at + 1])) == t;
    bool in = false;
    for (size_t k = at + 2; k < next; ++k) in = in || fold(static_cast<unsigned char>(enc[k])) == t;
    return kind == '[' ? in : !in;
  };
  if (kind == '^') return p == 0 && FullMatch(enc, next, line, p, end, blind);
  if (kind == '$') return p == line.size() && FullMatch(enc, next, line, p, end, blind);
  if (!closure) return one(p) && FullMatch(enc, next, line, p + 1, end, blind);
  for (size_t q = p;; ++q) {
    if (FullMatch(enc, next, line, q, end, blind)) return true;
    if (!one(q)) return false;
  }
}

// The encoded pattern as an ECMAScript expression: a backtracking matcher
// with the same greedy priorities, written by others.
std::string ToRegex(const std::string& encoded) {
  auto lit = [](unsigned char c) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
    return std::string(buffer);
  };
  std::string out;
  for (size_t i = 0; i < encoded.size();) {
    bool closure = encoded[i] == '*';
    if (closure) ++i;
    std::string element;
    char kind = encoded[i];
    if (kind == '@') {
      element = lit(static_cast<unsigned char>(encoded[i + 1]));
      i += 2;
    } else if (kind == '.') {
      element = "[\\s\\S]";
      ++i;
    } else if (kind == '^' || kind == '$') {
      element = std::string(1, kind);
      ++i;
    } else {
      size_t n = static_cast<unsigned char>(encoded[i + 1]);
      element = kind == '[' ? "[" : "[^";
      for (size_t k = 0; k < n; ++k) element += lit(static_cast<unsigned char>(encoded[i + 2 + k]));
      element += "]";
      i += 2 + n;
    }
    out += closure ? "(?:" + element + ")*" : element;
  }
  return out;
}

TEST_F(PatternTest, AgreesWithBruteForceAndABacktrackingReference) {
  std::mt19937 rng(21);
  const std::string pieces[] = {"a", "b", "A", ".", "[ab]", "[^a]", "[a-b]", "x", "\\."};
  int matched = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    if (rng() % 4 == 0) text += "^";
    for (size_t k = 0, n = 1 + rng() % 4; k < n; ++k) {
      text += pieces[rng() % std::size(pieces)];
      if (rng() % 3 == 0) text += "*";
    }
    if (rng() % 4 == 0) text += "$";
    std::string encoded = MakePattern(text);
    ASSERT_FALSE(encoded.empty()) << text;
    std::string line(rng() % 12, 'a');
    for (char& c : line) c = "abAB.x"[rng() % 6];
    bool blind = rng() % 3 == 0;
    int first = 1 + static_cast<int>(rng() % 3);

    auto flags = std::regex::ECMAScript | (blind ? std::regex::icase : std::regex::ECMAScript);
    std::regex re(ToRegex(encoded), flags);
    std::smatch m;
    bool found = false;
    size_t want_pos = 0, want_len = 0;
    if (static_cast<size_t>(first) <= line.size()) {
      auto search_flags = first > 1 ? std::regex_constants::match_prev_avail : std::regex_constants::match_default;
      if (std::regex_search(line.cbegin() + (first - 1), line.cend(), m, re, search_flags)) {
        want_pos = static_cast<size_t>(m.position(0)) + static_cast<size_t>(first);
        want_len = static_cast<size_t>(m.length(0));
        found = want_pos <= line.size();  // the scan tries positions up to the last character
      }
    }
    int start = blind ? -first : first;
    int len = ScanRX(line, encoded, start);
    SCOPED_TRACE("pattern " + text + " line " + line + (blind ? " blind" : ""));
    // Brute force agrees on where the first match is, and the span found
    // is a match.
    size_t leftmost = 0;
    for (size_t p = static_cast<size_t>(first) - 1; p < line.size() && leftmost == 0; ++p)
      for (size_t end = p; end <= line.size() && leftmost == 0; ++end)
        if (FullMatch(encoded, 0, line, p, end, blind)) leftmost = p + 1;
    ASSERT_EQ(found, leftmost != 0);
    if (found) {
      ASSERT_EQ(start, static_cast<int>(leftmost));
      ASSERT_TRUE(FullMatch(encoded, 0, line, leftmost - 1, leftmost - 1 + static_cast<size_t>(len), blind));
    }
    if (found) {
      ++matched;
      ASSERT_EQ(start, static_cast<int>(want_pos));
      ASSERT_EQ(len, static_cast<int>(want_len));
    } else {
      ASSERT_EQ(len, 0);
      ASSERT_EQ(start, static_cast<size_t>(first) <= line.size() ? static_cast<int>(line.size()) + 1 : first);
    }
  }
  EXPECT_GT(matched, 500);
}

}  // namespace
}  // namespace textutil
