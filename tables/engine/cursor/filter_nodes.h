// Tests of expression nodes the filter files share.
#pragma once

#include <cstdint>

#include "tables/lib/exptoken.h"

namespace korvex {

inline bool IsComparison(std::uint8_t op) { return op >= eoEQ && op <= eoLE; }

inline bool IsConstantValue(const TExpToken* node) {
  return node && node->NodeClass == enCONST && !node->IsParameter;
}

}  // namespace korvex
