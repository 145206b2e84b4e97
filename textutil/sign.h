// Sign of a value: carries a start position's case-blind sign from one
// routine to the next.
#pragma once

#include <type_traits>

namespace textutil {

// -1 below zero, 0 at zero, 1 above. NaN compares neither way and gives 0.
template <typename T>
  requires std::is_arithmetic_v<T>
constexpr int Sign(const T& value) {
  return value < T(0) ? -1 : (T(0) < value ? 1 : 0);
}

}  // namespace textutil
