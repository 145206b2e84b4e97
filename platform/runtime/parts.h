// Work cut into parts for a few threads: how many parts a count of items
// makes, and running one body over every part.
#pragma once

#include <algorithm>
#include <cstddef>
#include <thread>
#include <vector>

#include "platform/runtime/os_process.h"

namespace rtl {

// The processors the calling thread may run on: those of its affinity mask
// (so a thread kept on one core counts one), else all of the machine's.
inline std::size_t UsableProcessors() {
  const std::size_t cores = os::CoresOfThisThread().size();
  return cores > 0 ? cores : std::max(1u, std::thread::hardware_concurrency());
}

// Parts of at least `per_part` items each, at least one, at most `most`
// and no more than the processors this process may run on (or those given).
inline std::size_t PartsFor(std::size_t items, std::size_t per_part, std::size_t most = 8,
                            std::size_t processors = UsableProcessors()) {
  return std::clamp<std::size_t>(items / per_part, 1, std::min(most, std::max<std::size_t>(processors, 1)));
}

// Runs body(t) for every part t < parts and returns when all are done:
// part 0 on the calling thread, each other on a thread of its own, or on the
// calling thread too where no thread can be had. `body` must not throw.
template <class Body>
void RunParts(std::size_t parts, const Body& body) {
  std::vector<std::thread> threads;
  std::size_t started = 1;
  for (; started < parts; ++started) {
    try {
      threads.emplace_back([&body, started] { body(started); });
    } catch (...) {
      break;
    }
  }
  body(0);
  for (std::size_t t = started; t < parts; ++t) body(t);
  for (std::thread& thread : threads) thread.join();
}

}  // namespace rtl
