// Memory the allocator holds free goes back to the system: many small
// blocks freed below one still in use stay resident until returned.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "platform/runtime/os_memory.h"

namespace {

// Resident bytes of this process.
int64_t Resident() {
  std::ifstream in("/proc/self/statm");
  int64_t size = 0, resident = 0;
  in >> size >> resident;
  return resident * 4096;
}

TEST(OsMemory, FreedSmallBlocksGoBackToTheSystem) {
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
