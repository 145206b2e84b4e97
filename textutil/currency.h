// The fixed-point money type of the numeric and codec routines.
#pragma once

#include <cstdint>

namespace textutil {

// A signed count of ten-thousandths: 1.2345 is 12345.
using Currency = std::int64_t;

}  // namespace textutil
