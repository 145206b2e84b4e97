// Filter and SQL expressions: any text parses, checks, evaluates and
// prepares without a crash, without losing a node of the pool, and the
// prepared filter answers as the tree it was made from.
#include <cstddef>
#include <cstdint>

#include "fuzz/tables/expr_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return korvex::fuzz::FuzzExpressionInput(data, size);
}
