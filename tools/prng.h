// The generator's own pseudo-random numbers: splitmix64 with integer-only
// helpers, so that a seed gives the same bytes on every compiler and library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace regtools {

class SplitMix64 {
 public:
  explicit SplitMix64(uint64_t seed) : state_(seed) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  // A number in [0, n); n must be at least 1.
  uint32_t Below(uint32_t n) {
    return static_cast<uint32_t>(((Next() >> 32) * n) >> 32);
  }

  // A number in [lo, hi].
  int Between(int lo, int hi) {
    return lo + static_cast<int>(Below(static_cast<uint32_t>(hi - lo + 1)));
  }

  // True with a chance of per_mille in a thousand.
  bool PerMille(uint32_t per_mille) { return Below(1000) < per_mille; }

  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[Below(static_cast<uint32_t>(items.size()))];
  }

 private:
  uint64_t state_;
};

// A seed for an independent stream, derived from a parent seed and a label.
inline uint64_t DeriveSeed(uint64_t parent, uint64_t label) {
  SplitMix64 mix(parent ^ (label * 0xD1B54A32D192ED03ull));
  mix.Next();
  return mix.Next();
}

}  // namespace regtools
