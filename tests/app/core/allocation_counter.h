// Counts the allocations of one thread through operator new, for tests that
// show a piece of code allocates nothing.
#pragma once

#include <cstdint>
#include <functional>

namespace appcore_test {

// The allocations this thread made while fn ran.
int64_t AllocationsIn(const std::function<void()>& fn);

}  // namespace appcore_test
