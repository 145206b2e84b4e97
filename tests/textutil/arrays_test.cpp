#include "textutil/arrays.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace textutil {
namespace {

using Ints = std::vector<std::int32_t>;
using Strs = std::vector<std::string>;

TEST(IntSortTest, CombSortsUnsigned) {
  Ints a = {5, 3, 9, 1};
  ISortA(a, 4);
  EXPECT_EQ(a, (Ints{1, 3, 5, 9}));
  Ints b = {5, 3, 9, 1};
  ISortA(b, 2);
  EXPECT_EQ(b, (Ints{3, 5, 9, 1}));
  Ints c = {1, -1};
  ISortA(c, 2);
  EXPECT_EQ(c, (Ints{1, -1}));  // -1 is 0xFFFFFFFF unsigned
  Ints d = {5, 3, 9, 1};
  ISortD(d, 4);
  EXPECT_EQ(d, (Ints{9, 5, 3, 1}));
  Ints e = {2, 1};
  ISortA(e, 1);
  ISortA(e, 0);
  ISortA(e, -3);
  EXPECT_EQ(e, (Ints{2, 1}));
  Ints f = {3, 2, 1};
  ISortA(f, 100);  // a count beyond the array sorts the whole array
  EXPECT_EQ(f, (Ints{1, 2, 3}));
}

TEST(IntSortTest, CombSortAgreesWithStdSort) {
  std::mt19937 rng(1);
  for (int i = 0; i < 300; ++i) {
    Ints a(rng() % 200);
    for (auto& v : a) v = static_cast<std::int32_t>(rng() % 7 == 0 ? rng() : rng() % 50);
    Ints want = a;
    std::sort(want.begin(), want.end(), [](auto x, auto y) { return static_cast<std::uint32_t>(x) < static_cast<std::uint32_t>(y); });
    ISortA(a, static_cast<int>(a.size()));
    ASSERT_EQ(a, want);
  }
}

TEST(VantaSortTest, SortsSigned) {
  Ints c = {1, -1};
  VantaSort(c, 2);
  EXPECT_EQ(c, (Ints{-1, 1}));
  Ints same(100, 42);
  VantaSort(same, 100);
  EXPECT_EQ(same, Ints(100, 42));
  std::mt19937 rng(2);
  Ints spread(1000);
  for (auto& v : spread) v = static_cast<std::int32_t>(rng() % 10001) - 5000;
  Ints want = spread;
  std::sort(want.begin(), want.end());
  VantaSort(spread, 1000);
  EXPECT_EQ(spread, want);
}

TEST(VantaSortTest, AgreesWithStdSortOnAwkwardData) {
  std::mt19937 rng(3);
  const std::int32_t lo = std::numeric_limits<std::int32_t>::min();
  const std::int32_t hi = std::numeric_limits<std::int32_t>::max();
  for (int i = 0; i < 300; ++i) {
    Ints a(1 + rng() % 500);
    int kind = i % 4;
    for (auto& v : a) {
      if (kind == 0) v = static_cast<std::int32_t>(rng());
      if (kind == 1) v = rng() % 2 ? lo : hi;
      if (kind == 2) v = static_cast<std::int32_t>(rng() % 3);
      if (kind == 3) v = static_cast<std::int32_t>(rng() % 100 == 0 ? rng() : rng() % 10);
    }
    Ints want = a;
    std::sort(want.begin(), want.end());
    VantaSort(a, static_cast<int>(a.size()));
    ASSERT_EQ(a, want) << i;
  }
}

TEST(VantaSortTest, SortsWithoutItsTable) {
  SetVantaSortTableFailureForTest(true);
  Ints a(200);
  std::mt19937 rng(4);
  for (auto& v : a) v = static_cast<std::int32_t>(rng());
  Ints want = a;
  std::sort(want.begin(), want.end());
  VantaSort(a, 200);
  SetVantaSortTableFailureForTest(false);
  EXPECT_EQ(a, want);
}

TEST(IntSearchTest, FindsAndReportsProbe) {
  Ints a = {1, 3, 7, 9};
  EXPECT_EQ(IntSrch(a, 7, 4), 2);
  EXPECT_LT(IntSrch(a, 4, 4), 0);
  EXPECT_EQ(IntSrch(a, 0, 4), -1);
  EXPECT_EQ(IntSrch(a, 7, 0), -1);
  EXPECT_EQ(IntSrch(Ints{}, 7, 3), -1);
  // The last element in use is searched too (Count equal to the size).
  EXPECT_EQ(IntSrch(a, 9, 4), 3);
  Ints b = {1, 3, 7, 9, 0, 0};
  EXPECT_EQ(IntSrch(b, 9, 4), 3);
  EXPECT_EQ(IntSrch(b, 9, 3), -2);  // only 1, 3, 7 are in use
}

TEST(StrSortTest, ByFirstTwoCharacters) {
  Strs a = {"cb", "ab", "ca"};
  StrSort(a, 3);
  EXPECT_EQ(a, (Strs{"ab", "ca", "cb"}));
  // All elements in use take part, the last one included.
  Strs b = {"zz", "yy", "xx", "ww"};
  StrSort(b, 4);
  EXPECT_EQ(b, (Strs{"ww", "xx", "yy", "zz"}));
  Strs c = {"b", "", "a", "ab"};
  StrSort(c, 4);
  EXPECT_EQ(c, (Strs{"", "a", "ab", "b"}));
  Strs d = {"zz", "yy", "xx"};
  StrSort(d, 2);
  EXPECT_EQ(d, (Strs{"yy", "zz", "xx"}));
}

TEST(StrSearchTest, FindsThePrefix) {
  Strs a = {"Baker", "Smart", "Smith", "Smithers"};
  EXPECT_EQ(StrSrch(a, "Smith", 4), 2);
  EXPECT_LT(StrSrch(a, "Smyth", 4), 0);
  EXPECT_EQ(StrSrch(a, "S", 4), -1);
  EXPECT_EQ(StrSrch(a, "Smithers", 4), 3);  // the last element in use is reached
  EXPECT_EQ(StrSrch(a, "Ba", 4), 0);
  EXPECT_LT(StrSrch(a, "Smithers", 3), 0);
  EXPECT_EQ(StrSrch(a, "Smith", 0), -1);
}

TEST(StrSearchTest, AgreesWithALinearScan) {
  std::mt19937 rng(5);
  for (int i = 0; i < 300; ++i) {
    Strs a(1 + rng() % 30);
    for (auto& s : a) {
      s.clear();
      for (size_t k = 0, n = 2 + rng() % 3; k < n; ++k) s += static_cast<char>('a' + rng() % 3);
    }
    std::sort(a.begin(), a.end(), [](const std::string& x, const std::string& y) { return x.substr(0, 2) < y.substr(0, 2); });
    std::string key;
    for (size_t k = 0, n = 2 + rng() % 2; k < n; ++k) key += static_cast<char>('a' + rng() % 3);
    int found = StrSrch(a, key, static_cast<int>(a.size()));
    auto it = std::find_if(a.begin(), a.end(), [&](const std::string& s) { return s.rfind(key, 0) == 0; });
    if (it == a.end())
      ASSERT_LT(found, 0);
    else
      ASSERT_EQ(found, it - a.begin());
  }
}

TEST(ArrayEditTest, DeleteMovesTheElementToTheEndOfTheUsedPart) {
  Ints a = {10, 20, 30, 40};
  EXPECT_TRUE(IntDelete(a, 1, 3));
  EXPECT_EQ(a, (Ints{10, 30, 20, 40}));
  Ints b = {10, 20, 30, 40};
  EXPECT_TRUE(IntDelete(b, 1, 4));  // the whole array in use
  EXPECT_EQ(b, (Ints{10, 30, 40, 20}));
  Ints c = {10, 20, 30, 40};
  EXPECT_TRUE(IntDelete(c, 3, 4));
  EXPECT_EQ(c, (Ints{10, 20, 30, 40}));
  EXPECT_FALSE(IntDelete(c, 4, 4));
  EXPECT_FALSE(IntDelete(c, 3, 3));
  EXPECT_FALSE(IntDelete(c, -1, 3));
  Ints one = {5};
  EXPECT_TRUE(IntDelete(one, 0, 1));
  Strs s = {"a", "b", "c"};
  EXPECT_TRUE(StrDelete(s, 0, 3));
  EXPECT_EQ(s, (Strs{"b", "c", "a"}));
}

TEST(ArrayEditTest, InsertMovesTheSpareElementIn) {
  Ints a = {10, 20, 99, 0};
  EXPECT_TRUE(IntInsert(a, 0, 2));
  EXPECT_EQ(a, (Ints{99, 10, 20, 0}));
  Ints b = {10, 20, 30, 99};
  EXPECT_TRUE(IntInsert(b, 1, 3));  // the last slot may be filled
  EXPECT_EQ(b, (Ints{10, 99, 20, 30}));
  EXPECT_FALSE(IntInsert(b, 0, 4));  // no spare element
  EXPECT_FALSE(IntInsert(b, 3, 2));  // index beyond the used part
  Strs s = {"a", "b", "new"};
  EXPECT_TRUE(StrInsert(s, 2, 2));
  EXPECT_EQ(s, (Strs{"a", "b", "new"}));
  EXPECT_TRUE(StrInsert(s, 0, 2));
  EXPECT_EQ(s, (Strs{"new", "a", "b"}));
  std::string x = "x", y = "y";
  StrSwap(x, y);
  EXPECT_EQ(x + y, "yx");
}

}  // namespace
}  // namespace textutil
