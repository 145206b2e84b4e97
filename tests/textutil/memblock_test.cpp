#include "textutil/memblock.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "textutil/sign.h"

namespace textutil {
namespace {

TEST(MemBlockTest, AllocateGrowAndFree) {
  char* p = nullptr;
  Dim(p, 0, true);
  EXPECT_EQ(p, nullptr);
  Dim(p, 100, true);
  ASSERT_NE(p, nullptr);
  EXPECT_GE(Cap(p), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(p[i], 0);
  std::memset(p, 'x', 100);
  Dim(p, 5000, true);  // growth keeps the contents and zero-fills the rest
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(Cap(p), 5000u);
  EXPECT_EQ(p[99], 'x');
  EXPECT_EQ(p[100], 0);
  EXPECT_EQ(p[4999], 0);
  Dim(p, 10, false);
  EXPECT_EQ(p[9], 'x');
  Dim(p, 0, false);
  EXPECT_EQ(p, nullptr);
}

TEST(MemBlockTest, ForeignPointersAreNoBlocks) {
  char local[16] = {};
  EXPECT_EQ(Cap(local), 0u);
  EXPECT_EQ(Cap(nullptr), 0u);
  char* p = local;
  Dim(p, 32, true);  // treated as null: a new block, the array untouched
  ASSERT_NE(p, local);
  EXPECT_EQ(Cap(p), 32u);
  Dim(p, 0, false);
}

TEST(MemBlockTest, NegativeSizeForgetsTheOldBlock) {
  char* p = nullptr;
  Dim(p, 8, true);
  char* old = p;
  Dim(p, -16, true);
  ASSERT_NE(p, nullptr);
  EXPECT_NE(p, old);
  EXPECT_EQ(Cap(old), 8u);  // still allocated
  EXPECT_EQ(Cap(p), 16u);
  Dim(p, 0, false);
  Dim(old, 0, false);
  EXPECT_EQ(old, nullptr);
}

TEST(MemBlockTest, FailedRequestsLeaveNull) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer aborts on impossible allocation sizes";
#endif
  char* p = nullptr;
  Dim(p, LLONG_MAX, false);
  EXPECT_EQ(p, nullptr);
  Dim(p, LLONG_MIN, false);
  EXPECT_EQ(p, nullptr);
  Dim(p, 64, false);
  ASSERT_NE(p, nullptr);
  Dim(p, LLONG_MAX, false);  // a resize that fails frees the block
  EXPECT_EQ(p, nullptr);
}

TEST(SignTest, Values) {
  EXPECT_EQ(Sign(-5), -1);
  EXPECT_EQ(Sign(0), 0);
  EXPECT_EQ(Sign(2.5), 1);
  EXPECT_EQ(Sign(-0.0), 0);
  EXPECT_EQ(Sign(INT_MIN), -1);
}

}  // namespace
}  // namespace textutil
