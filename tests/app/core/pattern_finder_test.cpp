// The whole-file pattern finder against a position-by-position search, and
// its quick refusal against the finder on the text without brackets.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "app/core/pattern_finder.h"
#include "app/core/record_line.h"
#include "textutil/state.h"

namespace appcore {
namespace {

// Case-blind ('?' stands for any character): at each start in turn.
size_t SlowFind(const std::string& text, const std::string& pattern, size_t from) {
  const uint8_t* swap = textutil::State().CaseSwapTable;
  for (size_t at = from; at + pattern.size() <= text.size(); ++at) {
    size_t j = 0;
    for (; j < pattern.size(); ++j) {
      const auto p = static_cast<uint8_t>(pattern[j]), t = static_cast<uint8_t>(text[at + j]);
      if (p != '?' && p != t && swap[t] != p) break;
    }
    if (j == pattern.size()) return at;
  }
  return PatternFinder::npos;
}

TEST(PatternFinderTest, FindsWhatASearchAtEveryStartFinds) {
  uint64_t state = 7;
  auto next = [&] { return static_cast<size_t>((state = state * 6364136223846793005ull + 1442695040888963407ull) >> 33); };
  const std::string letters("bBaAkKeErR?[] \xE9\xC9\n", 18);
  const std::string patterns[] = {"baker", "BaKeR", "b?ker", "k", "rrr", "\xE9r", "bakerbakerbakerbakerbakerbakerbakerk"};
  for (int round = 0; round < 3000; ++round) {
    const std::string& pattern = patterns[round % 7];
    PatternFinder finder(pattern);
    ASSERT_TRUE(finder.Usable());
    // Texts of every length around the sixteen- and thirty-two-byte steps,
    // with the pattern planted at random places now and then.
    std::string text;
    const size_t length = round < 200 ? static_cast<size_t>(round) : next() % 400;
    for (size_t i = 0; i < length; ++i) text.push_back(letters[next() % letters.size()]);
    if (length > pattern.size() && next() % 2) text.replace(next() % (length - pattern.size()), pattern.size(), pattern);
    for (size_t from : {size_t{0}, size_t{1}, length / 2, length}) {
      ASSERT_EQ(finder.Find(text, from), SlowFind(text, pattern, from))
          << testing::PrintToString(text) << " " << pattern << " from " << from;
    }
    std::string unbracketed;
    StripBracketsInto(text, unbracketed);
    if (SlowFind(unbracketed, pattern, 0) != PatternFinder::npos) {
      EXPECT_TRUE(finder.MayOccurIn(text)) << testing::PrintToString(text);
    }
  }
  // A pattern of '?' alone has nothing to anchor on.
  EXPECT_FALSE(PatternFinder("??").Usable());
  EXPECT_TRUE(PatternFinder("??").MayOccurIn(""));
}

// The words of text (runs between blanks and line ends) in order, the first
// that holds an anchor in [from, until) and whose bytes carry every class
// bit of need: its bounds, or npos.
size_t SlowFindWord(const std::string& text, const std::array<uint8_t, 256>& classes, uint8_t need,
                    const std::string& anchors, bool in_order, size_t from, size_t until, size_t& end) {
  const auto ends_word = [](char c) { return c == ' ' || c == '\n' || c == '\r'; };
  until = std::min(until, text.size());
  for (size_t begin = 0; begin < text.size();) {
    if (ends_word(text[begin])) {
      ++begin;
      continue;
    }
    size_t e = begin;
    uint8_t bits = 0;
    bool anchored = false;
    for (; e < text.size() && !ends_word(text[e]); ++e) {
      bits |= classes[static_cast<uint8_t>(text[e])];
      anchored = anchored || (e >= from && e < until && anchors.find(text[e]) != std::string::npos);
    }
    // In order: some byte of class 0, then at it or after it one of class
    // 1, and so on, tried from every choice of bytes (each answer kept).
    std::vector<int> known((e - begin + 1) * 9, -1);
    std::function<bool(size_t, int)> ordered = [&](size_t at, int bit) {
      while (bit < 8 && !(need >> bit & 1)) ++bit;
      if (bit == 8) return true;
      int& answer = known[(at - begin) * 9 + static_cast<size_t>(bit)];
      if (answer < 0) {
        answer = 0;
        for (size_t i = at; i < e && !answer; ++i)
          if ((classes[static_cast<uint8_t>(text[i])] >> bit & 1) && ordered(i, bit + 1)) answer = 1;
      }
      return answer == 1;
    };
    if (anchored && (bits & need) == need && (!in_order || ordered(begin, 0))) {
      end = e;
      return begin;
    }
    begin = e;
  }
  return WordClassFinder::npos;
}

TEST(WordClassFinderTest, FindsTheFirstWordAWalkOverEveryWordFinds) {
  uint64_t state = 11;
  auto next = [&] { return static_cast<size_t>((state = state * 6364136223846793005ull + 1442695040888963407ull) >> 33); };
  // Class sets as the sound sieve makes them (letters alike in both cases,
  // anchors one class), and others that the quick scan must leave to the
  // plain one: a class on a byte that is no letter, one case alone, anchors
  // that are no class, and no class asked for at all.
  struct Sieve {
    std::vector<std::string> classes;  // bytes of class bit j
    std::string anchors;
  };
  const Sieve sieves[] = {
      {{"bB", "cCgGkKqQxX", "rR"}, "bB"},
      {{"tTdD", "cCgGkKqQxX", "cCsSxXzZ", "nN"}, "nN"},  // one byte may give two letters in turn
      {{"kK"}, "kK"},
      {{"aA", "bB", "cC", "eE", "gG", "kK", "rR", "xX"}, "xX"},
      {{"bB", "cCgGkKqQxX", "rR"}, "rR"},
      {{"bB", "kK\xE9", "rR"}, "bB"},
      {{"b", "kK", "rR"}, "b"},
      {{"bB", "kK", "rR"}, "bBr"},
      {{}, "bB"},
  };
  const std::string alphabet("bBkKrRaeEcgxXtnsd  \n\r\t\xE9" "1[", 26);
  for (int round = 0; round < 4000; ++round) {
    const Sieve& sieve = sieves[round % std::size(sieves)];
    std::array<uint8_t, 256> classes{};
    uint8_t need = 0;
    for (size_t j = 0; j < sieve.classes.size(); ++j) {
      for (const char c : sieve.classes[j]) classes[static_cast<uint8_t>(c)] |= static_cast<uint8_t>(1u << j);
      need |= static_cast<uint8_t>(1u << j);
    }
    const bool in_order = round % 3 == 1;
    const WordClassFinder finder(classes, need, sieve.anchors, in_order);
    // Texts around the 32- and 64-byte steps, some with words longer than
    // a step, some of blanks mostly.
    std::string text;
    const size_t length = round < 300 ? static_cast<size_t>(round) : next() % 700;
    const size_t word = round % 5 == 0 ? 90 : 6;
    for (size_t i = 0; i < length; ++i)
      text.push_back(next() % word == 0 ? " \n\r"[next() % 3] : alphabet[next() % alphabet.size()]);
    std::vector<size_t> froms = {0, 1, next() % (length + 1), length};
    for (size_t i = 0; i + 1 < length && froms.size() < 10; ++i)
      if (text[i] == ' ' && next() % 4 == 0) froms.insert(froms.end(), {i, i + 1});
    for (const size_t from : froms) {
      for (const size_t until : {length, from + next() % 130, from}) {
        size_t end = 0, want_end = 0;
        const size_t found = finder.Find(text, from, until, end);
        const size_t want = SlowFindWord(text, classes, need, sieve.anchors, in_order, from, until, want_end);
        ASSERT_EQ(found, want) << testing::PrintToString(text) << " from " << from << " until " << until
                               << " sieve " << round % std::size(sieves) << " in order " << in_order;
        if (found != WordClassFinder::npos) {
          ASSERT_EQ(end, want_end) << testing::PrintToString(text);
        }
        // Its quick refusal never refuses a text that holds such a word.
        if (want != WordClassFinder::npos) {
          EXPECT_TRUE(finder.MayOccurIn(text.substr(want, want_end - want)));
        }
      }
    }
  }
}

// Several patterns at once: Find's kept results and OccursIn, asked of
// other texts between the calls, against a search at every start.
TEST(AnyPatternFinderTest, OccursInAgreesAndLeavesTheKeptResultsAlone) {
  uint64_t state = 23;
  auto next = [&] { return static_cast<size_t>((state = state * 6364136223846793005ull + 1442695040888963407ull) >> 33); };
  const std::string letters("bBaAkKeErR?[] \xE9\n", 16);
  const std::vector<std::vector<std::string>> sets = {
      {"baker"}, {"baker", "backer"}, {"k", "rrr", "b?ker"}, {"\xE9r", "", "BAKERBAKERBAKERBAKERBAKERBAKERBAKER"}};
  const auto random_text = [&](size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i) text.push_back(letters[next() % letters.size()]);
    return text;
  };
  const auto slow_any = [](const std::string& text, const std::vector<std::string>& patterns, size_t from) {
    size_t best = PatternFinder::npos;
    for (const std::string& p : patterns)
      if (!p.empty()) best = std::min(best, SlowFind(text, p, from));
    return best;
  };
  for (int round = 0; round < 600; ++round) {
    const std::vector<std::string>& patterns = sets[static_cast<size_t>(round) % sets.size()];
    AnyPatternFinder finder(patterns);
    const std::string text = random_text(next() % 300);
    for (size_t from = 0; from <= text.size(); from += 1 + next() % 40) {
      ASSERT_EQ(finder.Find(text, from), slow_any(text, patterns, from)) << testing::PrintToString(text) << " " << from;
      std::string other = random_text(next() % 80);
      if (next() % 2 && other.size() > 6) other.replace(next() % (other.size() - 5), 5, "BaKeR");
      ASSERT_EQ(finder.OccursIn(other), slow_any(other, patterns, 0) != PatternFinder::npos)
          << testing::PrintToString(other);
    }
  }
}

}  // namespace
}  // namespace appcore
