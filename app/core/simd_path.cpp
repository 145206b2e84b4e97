#include "app/core/simd_path.h"

#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#define QV_X86_FEATURES 1
#endif

namespace appcore {

SimdPath WidestSimdPath() {
#if defined(QV_X86_FEATURES)
  static const SimdPath widest = [] {
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("bmi") || !__builtin_cpu_supports("popcnt"))
      return SimdPath::kSse2;
    // LZCNT is bit 5 of ECX in the extended features (not every compiler's
    // __builtin_cpu_supports knows its name).
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(0x80000001u, &eax, &ebx, &ecx, &edx) == 0 || (ecx & (1u << 5)) == 0) return SimdPath::kSse2;
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) return SimdPath::kAvx512;
    return SimdPath::kAvx2;
  }();
  return widest;
#else
  return SimdPath::kSse2;
#endif
}

SimdPath ChooseSimdPath(const char* asked, SimdPath widest) {
  if (asked == nullptr) return widest;
  SimdPath path = widest;
  if (std::strcmp(asked, "sse2") == 0) path = SimdPath::kSse2;
  else if (std::strcmp(asked, "avx2") == 0) path = SimdPath::kAvx2;
  else if (std::strcmp(asked, "avx512") == 0) path = SimdPath::kAvx512;
  return path < widest ? path : widest;
}

SimdPath ActiveSimdPath() {
  static const SimdPath path = ChooseSimdPath(std::getenv("QV_SIMD"), WidestSimdPath());
  return path;
}

const char* SimdPathName(SimdPath path) {
  switch (path) {
    case SimdPath::kAvx512: return "avx512";
    case SimdPath::kAvx2: return "avx2";
    case SimdPath::kSse2: break;
  }
  return "sse2";
}

bool UseAvx512Vbmi() {
#if defined(QV_X86_FEATURES)
  static const bool has = UseAvx512() && __builtin_cpu_supports("avx512vbmi");
  return has;
#else
  return false;
#endif
}

bool HasPopcnt() {
#if defined(QV_X86_FEATURES)
  static const bool has = __builtin_cpu_supports("popcnt");
  return has;
#else
  return false;
#endif
}

}  // namespace appcore
