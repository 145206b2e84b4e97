// Which of the vector code paths the search's scans run: the widest this
// processor has, chosen once at start-up, or a narrower one named by the
// environment variable QV_SIMD ("avx512", "avx2" or "sse2"), so that one
// machine can run and measure each of them. A name that asks for more than
// the processor has, or that is not one of these, leaves the widest.
#pragma once

#include <string_view>

namespace appcore {

enum class SimdPath { kSse2 = 0, kAvx2 = 1, kAvx512 = 2 };

// The path the scans run (chosen on first call, then fixed).
SimdPath ActiveSimdPath();
// "avx512", "avx2" or "sse2".
const char* SimdPathName(SimdPath path);

// The path for a QV_SIMD value (null or empty when unset) on a processor
// whose widest path is widest.
SimdPath ChooseSimdPath(const char* asked, SimdPath widest);
// The widest path this processor runs: AVX-512 needs AVX-512F and BW, AVX2
// also POPCNT, BMI1 and LZCNT (some virtual machines offer AVX2 without
// all of these).
SimdPath WidestSimdPath();

// Shorthands for the dispatch points.
inline bool UseAvx512() { return ActiveSimdPath() == SimdPath::kAvx512; }
inline bool UseAvx2() { return ActiveSimdPath() >= SimdPath::kAvx2; }
// AVX-512 VBMI (byte permutes), on the AVX-512 path alone.
bool UseAvx512Vbmi();
// The POPCNT instruction (which every AVX2 processor has, and most without).
bool HasPopcnt();

}  // namespace appcore
