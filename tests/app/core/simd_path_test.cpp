#include "app/core/simd_path.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace appcore {
namespace {

// What QV_SIMD asks for, on processors of each widest path: a narrower
// path is taken, a wider one or a name not known leaves the widest.
TEST(SimdPath, TheVariableNarrowsThePathNeverWidensIt) {
  struct Case {
    const char* asked;
    SimdPath widest, chosen;
  };
  const Case cases[] = {
      {nullptr, SimdPath::kAvx512, SimdPath::kAvx512}, {"", SimdPath::kAvx2, SimdPath::kAvx2},
      {"avx2", SimdPath::kAvx512, SimdPath::kAvx2},    {"sse2", SimdPath::kAvx512, SimdPath::kSse2},
      {"sse2", SimdPath::kAvx2, SimdPath::kSse2},      {"avx512", SimdPath::kAvx2, SimdPath::kAvx2},
      {"avx2", SimdPath::kSse2, SimdPath::kSse2},      {"AVX2", SimdPath::kAvx512, SimdPath::kAvx512},
      {"neon", SimdPath::kAvx2, SimdPath::kAvx2},      {"avx512", SimdPath::kAvx512, SimdPath::kAvx512},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ChooseSimdPath(c.asked, c.widest), c.chosen) << (c.asked ? c.asked : "(unset)");
}

// The process runs the path its environment names, within what the
// processor has; the names round-trip.
TEST(SimdPath, TheActivePathFollowsTheEnvironment) {
  EXPECT_EQ(ActiveSimdPath(), ChooseSimdPath(std::getenv("QV_SIMD"), WidestSimdPath()));
  for (SimdPath p : {SimdPath::kSse2, SimdPath::kAvx2, SimdPath::kAvx512})
    EXPECT_EQ(ChooseSimdPath(SimdPathName(p), SimdPath::kAvx512), p);
}

}  // namespace
}  // namespace appcore
