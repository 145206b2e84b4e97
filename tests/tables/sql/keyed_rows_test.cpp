// The hash join's table of rows by key, against a map of vectors: keys
// that share a prefix, differ in length only, are empty, or are the bytes
// of integers; enough distinct keys to grow the table several times, and
// Clear between rounds.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "tables/sql/join_lookup.h"

namespace korvex::testing {
namespace {

TEST(KeyedRowsTest, AnswersAsAMapOfRowLists) {
  std::mt19937 rng(68);
  TKeyedRows lookup;
  for (const std::size_t distinct : {1u, 7u, 600u, 5000u}) {
    SCOPED_TRACE(distinct);
    lookup.Clear();
    std::map<std::string, std::vector<std::uint32_t>> model;
    auto key_of = [&](std::size_t i) -> std::string {
      switch (i % 4) {
        case 0: return "Sur" + std::to_string(i);                  // Sur1, Sur12, Sur123: prefixes
        case 1: return std::string(i % 9, 'a');                    // lengths only, the empty key too
        case 2: { const std::int64_t v = static_cast<std::int64_t>(i) - 40; return {reinterpret_cast<const char*>(&v), 8}; }
        default: return std::string("x\0y", 3) + std::to_string(i);  // a zero byte inside
      }
    };
    const std::uint32_t rows = static_cast<std::uint32_t>(distinct * 3);
    for (std::uint32_t r = 0; r < rows; ++r) {
      if (rng() % 5 == 0) continue;  // rows without a key (blank) are left out
      const std::string key = key_of(rng() % distinct);
      lookup.Add(r, key);
      model[key].push_back(r);
    }
    lookup.Finish();
    EXPECT_EQ(lookup.KeyCount(), model.size());
    for (std::size_t i = 0; i < distinct + 20; ++i) {
      const std::string key = key_of(i);
      const auto found = lookup.Find(key);
      const auto it = model.find(key);
      const std::vector<std::uint32_t> expected = it == model.end() ? std::vector<std::uint32_t>{} : it->second;
      EXPECT_EQ(std::vector<std::uint32_t>(found.begin(), found.end()), expected) << i;
    }
    EXPECT_TRUE(lookup.Find("not there").empty());
  }
  lookup.Clear();
  EXPECT_TRUE(lookup.Find("").empty());
  EXPECT_EQ(lookup.KeyCount(), 0u);
}

}  // namespace
}  // namespace korvex::testing
