// The whole-file pattern finder against a position-by-position search, and
// its quick refusal against the finder on the text without brackets.
#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace appcore
