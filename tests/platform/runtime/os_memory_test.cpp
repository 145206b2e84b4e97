// Memory the allocator holds free goes back to the system: many small
// blocks freed below one still in use stay resident until returned.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/runtime/os_memory.h"
#include "support/sanitizer.h"

namespace {

// Resident bytes of this process.
int64_t Resident() {
  std::ifstream in("/proc/self/statm");
  int64_t size = 0, resident = 0;
  in >> size >> resident;
  return resident * 4096;
}

TEST(OsMemory, FreedSmallBlocksGoBackToTheSystem) {
  if (qvtest::kSanitizerBuild)
    GTEST_SKIP() << "AddressSanitizer's allocator holds freed blocks in its quarantine, out of the system allocator's reach";
  constexpr size_t kBlocks = 200000, kSize = 200;  // about 40 MB of small blocks
  std::vector<std::unique_ptr<char[]>> blocks;
  blocks.reserve(kBlocks);
  for (size_t i = 0; i < kBlocks; ++i) {
    blocks.emplace_back(new char[kSize]);
    std::memset(blocks.back().get(), static_cast<int>(i), kSize);
  }
  std::unique_ptr<char[]> pin(new char[kSize]);  // above them all: the heap's top stays in use
  std::memset(pin.get(), 1, kSize);
  const int64_t full = Resident();
  std::vector<std::unique_ptr<char[]>>().swap(blocks);
  const int64_t freed = Resident();
  rtl::os::ReturnFreedMemory();
  const int64_t returned = Resident();
  EXPECT_GT(freed - returned, int64_t{30} << 20) << full << " " << freed << " " << returned;
  EXPECT_EQ(pin[kSize - 1], 1);
}

}  // namespace

namespace {

// Pages made ready in advance are resident and keep what they held; ranges
// that start or end inside a page leave the bytes around them as they were.
TEST(OsMemory, PrefaultedPagesAreResidentAndKeepTheirBytes) {
  constexpr size_t kLength = size_t{8} << 20;
  char* block = static_cast<char*>(rtl::os::MapAlignedMemory(kLength, 4096));
  ASSERT_NE(block, nullptr);
  block[100] = 'x';  // one page in
  const int64_t before = Resident();
  struct Case {
    size_t from, length;
  } const cases[] = {{0, 0}, {5, 10}, {0, kLength / 2}, {77, kLength / 2 - 1000}, {kLength / 2, kLength / 2}};
  for (const Case& c : cases) rtl::os::PrefaultMemory(block + c.from, c.length);
  // Most of the eight megabytes came in without being written (huge pages
  // may have brought some in with the first write).
  EXPECT_GT(Resident() - before, int64_t{4} << 20);
  EXPECT_EQ(block[100], 'x');
  for (size_t at : {size_t{0}, size_t{99}, size_t{4096}, kLength / 2, kLength - 1}) EXPECT_EQ(block[at], 0) << at;
  block[kLength - 1] = 'y';
  EXPECT_EQ(block[kLength - 1], 'y');
  rtl::os::UnmapMemory(block, kLength);
  rtl::os::PrefaultMemory(nullptr, 0);  // nothing to do
}

// Cut pieces cover the range exactly, in order, and each lies between two
// neighbouring multiples of the piece size (against a walk byte by byte).
TEST(OsMemory, RangesAreCutAtMultiplesOfThePieceSize) {
  struct Case {
    uintptr_t from;
    size_t length, piece;
  } const cases[] = {{0, 0, 4096},       {4096, 4096, 4096},       {4095, 2, 4096},     {1, 4095, 4096},
                     {100, 3 << 20, 1 << 20}, {0x200000, 1 << 21, 1 << 20}, {77, 12345, 256}, {255, 1, 256}};
  for (const Case& c : cases) {
    std::vector<rtl::os::MemoryPiece> pieces{{nullptr, 7}};  // appended after what is there
    rtl::os::CutAtMultiples(reinterpret_cast<void*>(c.from), c.length, c.piece, pieces);
    // The reference: a new piece at the first byte and at every multiple.
    std::vector<std::pair<uintptr_t, size_t>> expected;
    for (uintptr_t a = c.from; a < c.from + c.length; ++a)
      if (a == c.from || a % c.piece == 0) expected.push_back({a, 0});
      else ++expected.back().second;
    for (auto& e : expected) ++e.second;
    ASSERT_EQ(pieces.size(), expected.size() + 1) << c.from << " " << c.length;
    EXPECT_EQ(pieces[0].length, 7u);
    for (size_t k = 0; k < expected.size(); ++k) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(pieces[k + 1].at), expected[k].first) << c.from << " piece " << k;
      EXPECT_EQ(pieces[k + 1].length, expected[k].second) << c.from << " piece " << k;
    }
  }
}

}  // namespace

namespace {

// The ranges of this process's memory asked to be backed by huge pages.
std::vector<std::pair<uintptr_t, uintptr_t>> HugePageRanges() {
  std::ifstream in("/proc/self/smaps");
  std::vector<std::pair<uintptr_t, uintptr_t>> ranges;
  std::pair<uintptr_t, uintptr_t> range;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmFlags:", 0) == 0) {
      if ((line + " ").find(" hg ") != std::string::npos) ranges.push_back(range);
    } else if (const size_t dash = line.find('-'); dash != std::string::npos && dash < 17 && line.find(' ') > dash) {
      std::istringstream bounds(line.substr(0, line.find(' ')));
      char sep = 0;
      bounds >> std::hex >> range.first >> sep >> range.second;
    }
  }
  return ranges;
}

// Only the heap's top, past every block in use, is asked for huge pages,
// and only by the thread that started the process (whose heap grows at the
// break); blocks taken after the call come from it.
TEST(OsMemory, HugePagesAreAskedForTheHeapsTopAlone) {
  if (qvtest::kSanitizerBuild) GTEST_SKIP() << "the sanitizers' allocator keeps no heap at the break";
  rtl::os::GrowHeapsInLargeSteps();
  constexpr size_t kBlock = 64 << 10;  // taken from the top, below the size the allocator maps
  std::vector<std::unique_ptr<char[]>> before;
  for (int i = 0; i < 4; ++i) before.emplace_back(new char[kBlock]());
  const auto untouched = HugePageRanges();
  std::thread([] { rtl::os::BackHeapTopWithHugePages(); }).join();
  EXPECT_EQ(HugePageRanges(), untouched);
  rtl::os::BackHeapTopWithHugePages();
  const auto advised = HugePageRanges();
  const auto inside = [&](const char* p) {
    const auto at = reinterpret_cast<uintptr_t>(p);
    for (const auto& [lo, hi] : advised)
      if (at + kBlock > lo && at < hi) return true;
    return false;
  };
  for (const auto& block : before) EXPECT_FALSE(inside(block.get()));
  // Megabytes taken after it lie in the advised room (the heap grew by
  // tens of megabytes at once, so the room holds whole huge pages).
  std::vector<std::unique_ptr<char[]>> after;
  int advised_blocks = 0;
  for (int i = 0; i < 96; ++i) {
    after.emplace_back(new char[kBlock]());
    advised_blocks += inside(after.back().get()) ? 1 : 0;
  }
  EXPECT_GT(advised_blocks, 48);
  for (const auto& block : before) EXPECT_EQ(block[kBlock - 1], 0);
}

// A thread with a heap of its own asks for that heap: blocks it takes
// afterwards lie in advised room, and so do those it took before (the heap
// is one room); the thread of the break's heap asks nothing.
TEST(OsMemory, AThreadsOwnHeapIsAskedForHugePagesWhole) {
  if (qvtest::kSanitizerBuild) GTEST_SKIP() << "the sanitizers' allocator keeps no heaps of the C library";
  const auto untouched = HugePageRanges();
  rtl::os::BackThreadHeapWithHugePages();
  EXPECT_EQ(HugePageRanges(), untouched);
  bool before_inside = false, after_inside = false;
  std::thread([&] {
    std::unique_ptr<char[]> before(new char[4096]());
    rtl::os::BackThreadHeapWithHugePages();
    const auto advised = HugePageRanges();
    std::unique_ptr<char[]> after(new char[4096]());
    const auto inside = [&](const char* p) {
      const auto at = reinterpret_cast<uintptr_t>(p);
      for (const auto& [lo, hi] : advised)
        if (at >= lo && at < hi) return true;
      return false;
    };
    before_inside = inside(before.get());
    after_inside = inside(after.get());
  }).join();
  EXPECT_TRUE(before_inside);
  EXPECT_TRUE(after_inside);
}

}  // namespace
