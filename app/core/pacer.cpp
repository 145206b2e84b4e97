#include "app/core/pacer.h"

#include <numeric>
#include <thread>

#include "platform/runtime/dates.h"

namespace appcore {

Pacer::Pacer(std::function<bool()> progress) : progress_(std::move(progress)), last_(rtl::MilliSecondClock()) {}

bool Pacer::Due() {
  const int64_t now = rtl::MilliSecondClock();
  if (now - last_ < kProgressIntervalMs) return true;
  last_ = now;
  if (!progress_()) cancelled_ = true;
  return !cancelled_;
}

std::vector<uint32_t> Identity(size_t n) {
  std::vector<uint32_t> order(n);
  std::iota(order.begin(), order.end(), 0u);
  return order;
}

void DiscardLines(std::vector<std::string>&& lines) {
  constexpr size_t kManyLines = 100000;
  std::vector<std::string> taken = std::move(lines);
  if (taken.size() < kManyLines) return;
  try {
    std::thread([doomed = std::move(taken)] {}).detach();
  } catch (const std::system_error&) {
    // No thread to spare: freed here after all.
  }
}

}  // namespace appcore
