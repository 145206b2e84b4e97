// The memo of verdicts per distinct word against a map of the words asked.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "allocation_counter.h"
#include "app/core/word_verdicts.h"

namespace appcore {
namespace {

TEST(WordVerdictsTest, EachWordIsDecidedOnceAndKeepsItsBits) {
  int computed = 0;
  const auto decide = [&computed](std::string_view word) {
    ++computed;
    return static_cast<uint8_t>((word.size() + static_cast<uint8_t>(word[0])) % 4);
  };
  // Made and dropped without a word asked, it allocates nothing: a search
  // makes one per file.
  EXPECT_EQ(appcore_test::AllocationsIn([&] { WordVerdicts unused(decide); }), 0);
  WordVerdicts verdicts(decide);
  std::map<std::string, uint8_t> model;
  uint64_t state = 5;
  auto next = [&] { return static_cast<size_t>((state = state * 6364136223846793005ull + 1442695040888963407ull) >> 33); };
  // Enough distinct words for the table to grow a few times, each asked
  // several times, some marked reported on the way.
  for (int round = 0; round < 40000; ++round) {
    std::string word = "w" + std::to_string(next() % 6000);
    if (next() % 3 == 0) word += std::string(next() % 3, '\xE9');
    uint8_t& got = verdicts.Get(word);
    const auto [at, fresh] = model.emplace(word, static_cast<uint8_t>((word.size() + static_cast<uint8_t>(word[0])) % 4));
    ASSERT_EQ(got, at->second) << word << (fresh ? " (new)" : "");
    if (next() % 5 == 0) {
      got |= WordVerdicts::kReported;
      at->second |= WordVerdicts::kReported;
    }
    ASSERT_EQ(verdicts.Size(), model.size());
  }
  EXPECT_EQ(computed, static_cast<int>(model.size()));
  for (const auto& [word, verdict] : model) ASSERT_EQ(verdicts.Get(word), verdict) << word;
  EXPECT_EQ(computed, static_cast<int>(model.size()));
}

}  // namespace
}  // namespace appcore
