#include "tables/lib/allocator.h"

#include <sys/resource.h>

#include <algorithm>
#include <random>
#include <vector>

#include "tables/lib/system_list.h"
#include "tests/tables/lib/lib_test_support.h"

namespace korvex {
namespace {

using testing::CountedTest;

class Allocator : public CountedTest {};

bool AllZero(const void* block, std::size_t n) {
  const auto* bytes = static_cast<const unsigned char*>(block);
  return std::all_of(bytes, bytes + n, [](unsigned char b) { return b == 0; });
}

TEST_F(Allocator, BlocksAreZeroFilledAndCounted) {
  std::int64_t before = GetTotalMemoryAllocated();
  void* block = SafeAlloc(1000);
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(AllZero(block, 1000));
  EXPECT_GE(GetTotalMemoryAllocated() - before, 1000);
  SafeFree(block);
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(GetTotalMemoryAllocated(), before);
}

TEST_F(Allocator, EmptyAndNegativeRequestsGiveBlocksWithoutRaising) {
  void* a = nullptr;
  void* b = nullptr;
  EXPECT_NO_THROW(a = SafeAlloc(0));
  EXPECT_NO_THROW(b = SafeAlloc(-5));
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  SafeFree(a);
  SafeFree(b);
}

TEST_F(Allocator, FreeingNothingIsNotARelease) {
  ResetReleaseCounter();
  void* nothing = nullptr;
  SafeFree(nothing);
  EXPECT_EQ(GetReleaseCounter(), 0);
}

TEST_F(Allocator, GrownBytesReadAsZeroEvenAfterAShrink) {
  auto* block = static_cast<unsigned char*>(SafeAlloc(100));
  std::fill(block, block + 100, 0xAB);
  block = static_cast<unsigned char*>(SafeReAlloc(block, 10));
  EXPECT_TRUE(std::all_of(block, block + 10, [](unsigned char b) { return b == 0xAB; }));
  block = static_cast<unsigned char*>(SafeReAlloc(block, 5000));
  EXPECT_TRUE(std::all_of(block, block + 10, [](unsigned char b) { return b == 0xAB; }));
  EXPECT_TRUE(AllZero(block + 10, 4990));
  SafeFree(block);
}

TEST_F(Allocator, EveryThousandTwentiethReleaseRestartsTheCount) {
  ResetReleaseCounter();
  for (int i = 0; i < 1019; ++i) {
    void* block = SafeAlloc(16);
    SafeFree(block);
  }
  EXPECT_EQ(GetReleaseCounter(), 1019);
  void* block = SafeAlloc(16);
  block = SafeReAlloc(block, 32);  // the 1,020th: the heap is trimmed
  EXPECT_EQ(GetReleaseCounter(), 0);
  SafeFree(block);
  EXPECT_EQ(GetReleaseCounter(), 1);
}

TEST_F(Allocator, ResizeBufferRoundsUpAndNeverShrinks) {
  void* buffer = nullptr;
  std::int32_t size = 0;
  ResizeBuffer(100, 64, buffer, size);
  EXPECT_EQ(size, 128);
  void* same = buffer;
  ResizeBuffer(90, 64, buffer, size);
  EXPECT_EQ(size, 128);
  EXPECT_EQ(buffer, same);
  ResizeBuffer(128, 64, buffer, size);
  EXPECT_EQ(size, 128);
  ResizeBuffer(129, 64, buffer, size);
  EXPECT_EQ(size, 192);
  EXPECT_TRUE(AllZero(static_cast<char*>(buffer) + 128, 64));
  ResizeBuffer(0, 64, buffer, size);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(buffer, nullptr);
}

TEST_F(Allocator, CountedObjectsComeFromTheAllocator) {
  std::int64_t before = GetTotalMemoryAllocated();
  auto* list = new TSystemList;
  EXPECT_GT(GetTotalMemoryAllocated(), before);
  delete list;
  EXPECT_EQ(GetTotalMemoryAllocated(), before);
}

// Heap exhaustion: a child whose address space is capped asks for more.
TEST(AllocatorLimits, ExhaustedHeapRaisesEngineError11016) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer cannot run with a capped address space";
#endif
  int code = testing::InChild([] {
    rlimit limit{256 << 20, 256 << 20};
    if (setrlimit(RLIMIT_AS, &limit) != 0) return 2;
    std::string message;
    int number = testing::RaisedNumber([] { SafeAlloc(1 << 30); }, &message);
    if (number != 11016) return 3;
    if (message != "KORVEX Engine Error # 11016 There is insufficient operating system memory "
                   "available for the current operation")
      return 4;
    void* small = SafeAlloc(64);  // still usable afterwards
    SafeFree(small);
    return 0;
  });
  EXPECT_EQ(code, 0);
}

// ---- TSystemList -----------------------------------------------------------

class SystemList : public CountedTest {};

void* P(std::intptr_t n) { return reinterpret_cast<void*>(n); }

TEST_F(SystemList, GrowsByFourSixteenThenAQuarter) {
  TSystemList list;
  std::vector<std::int32_t> capacities;
  for (int i = 0; i < 100; ++i) {
    list.Add(P(i + 1));
    if (capacities.empty() || capacities.back() != list.Capacity()) capacities.push_back(list.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<std::int32_t>{4, 8, 12, 28, 44, 60, 76, 95, 118}));
}

TEST_F(SystemList, AddInsertDeleteRemove) {
  TSystemList list;
  EXPECT_EQ(list.Add(P(1)), 0);
  EXPECT_EQ(list.Add(P(3)), 1);
  list.Insert(1, P(2));
  list.Insert(3, P(4));
  ASSERT_EQ(list.Count(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(list.Get(i), P(i + 1));
  EXPECT_EQ(list.Remove(P(2)), 1);
  EXPECT_EQ(list.Remove(P(9)), -1);
  EXPECT_EQ(list.IndexOf(P(4)), 2);
  std::int32_t capacity = list.Capacity();
  list.Delete(2);  // the last: only the count drops
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Capacity(), capacity);
  EXPECT_EQ(list.First(), P(1));
  EXPECT_EQ(list.Last(), P(3));
}

TEST_F(SystemList, ExchangeMoveAndPack) {
  TSystemList list;
  for (int i : {0, 1, 0, 2, 3, 0}) list.Add(P(i));
  list.Pack();
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Get(0), P(1));
  EXPECT_EQ(list.Get(2), P(3));
  list.Move(0, 2);
  EXPECT_EQ(list.Get(0), P(2));
  EXPECT_EQ(list.Get(2), P(1));
  list.Exchange(0, 2);
  EXPECT_EQ(list.Get(0), P(1));
}

TEST_F(SystemList, AssignKeepsALargerCapacity) {
  TSystemList source, target;
  for (int i = 1; i <= 10; ++i) source.Add(P(i));
  target.SetCapacity(20);
  target.Assign(source);
  EXPECT_EQ(target.Capacity(), 20);
  ASSERT_EQ(target.Count(), 10);
  EXPECT_EQ(target.Get(9), P(10));
  TSystemList small;
  small.Assign(source);
  EXPECT_EQ(small.Capacity(), 10);
}

TEST_F(SystemList, SetCountFillsWithNilAndClearReleases) {
  TSystemList list;
  list.Add(P(7));
  list.SetCount(5);
  EXPECT_EQ(list.Get(0), P(7));
  EXPECT_EQ(list.Get(4), nullptr);
  list.SetCount(0);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_GE(list.Capacity(), 5);
  list.Clear();
  EXPECT_EQ(list.Capacity(), 0);
  EXPECT_EQ(list.Items(), nullptr);
}

int CompareNumbers(void* a, void* b) {
  auto x = reinterpret_cast<std::intptr_t>(a), y = reinterpret_cast<std::intptr_t>(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

TEST_F(SystemList, SortAgreesWithStdSort) {
  std::mt19937 random(7);
  for (int round = 0; round < 50; ++round) {
    TSystemList list;
    std::vector<std::intptr_t> values(random() % 300);
    for (auto& v : values) {
      v = random() % 50;  // many duplicates
      list.Add(P(v));
    }
    list.Sort(CompareNumbers);
    std::sort(values.begin(), values.end());
    for (std::size_t i = 0; i < values.size(); ++i) ASSERT_EQ(list.Get(static_cast<int>(i)), P(values[i]));
  }
  TSystemList empty;
  empty.Sort(CompareNumbers);  // no array: nothing happens
}

}  // namespace
}  // namespace korvex
