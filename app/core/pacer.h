// Long work on the GUI thread (search, arranging, the sort commands) lets the
// window breathe: it calls a progress callback about every
// kProgressIntervalMs, and the callback (which turns the event loop) answers
// false when the user pressed Cancel.
//
// Sorting is cancellable too: the comparison ticks the pacer and, once the
// callback has answered false, leaves the sort by throwing SortCancelled.
// Sorts therefore order index vectors, never the caller's data, so that a
// cancelled sort loses nothing.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace appcore {

// How often the progress callback is called at most.
inline constexpr int64_t kProgressIntervalMs = 15;

class Pacer {
public:
  // progress may be empty (never cancelled).
  explicit Pacer(std::function<bool()> progress);

  // Cheap enough to call per line or per comparison: looks at the clock
  // every 256 calls. False once the callback has answered false.
  bool Tick() {
    if (cancelled_) return false;
    if (!progress_ || (++calls_ & 255) != 0) return true;
    return Due();
  }
  // Looks at the clock now (for callers that tick seldom).
  bool TickNow() { return cancelled_ ? false : !progress_ || Due(); }
  bool Cancelled() const { return cancelled_; }

private:
  bool Due();

  std::function<bool()> progress_;
  int64_t last_ = 0;
  uint32_t calls_ = 0;
  bool cancelled_ = false;
};

// Thrown out of a comparison when the pacer was cancelled.
struct SortCancelled {};

// Runs sort(cmp), where cmp is less made to tick the pacer; false when
// cancelled.
template <class Sort, class Less>
bool RunPacedSort(Sort sort, Less less, Pacer& pacer) {
  try {
    sort([&](const auto& a, const auto& b) {
      if (!pacer.Tick()) throw SortCancelled{};
      return less(a, b);
    });
  } catch (const SortCancelled&) {
    return false;
  }
  return true;
}

// Sorts (stably) the indexes 0 .. n-1 by less(a, b); false when cancelled
// (order is then unspecified).
template <class Less>
bool PacedStableSort(std::vector<uint32_t>& order, Less less, Pacer& pacer) {
  return RunPacedSort([&](auto cmp) { std::stable_sort(order.begin(), order.end(), cmp); }, less, pacer);
}

// The same for any elements whose loss on cancel does not matter.
template <class T, class Less>
bool PacedSort(std::vector<T>& items, Less less, Pacer& pacer) {
  return RunPacedSort([&](auto cmp) { std::sort(items.begin(), items.end(), cmp); }, less, pacer);
}

// 0, 1, .. n-1.
std::vector<uint32_t> Identity(size_t n);

// Frees lines; millions of them are freed on a thread of their own, so that
// the end of long work (or its Cancel) does not wait for it.
void DiscardLines(std::vector<std::string>&& lines);

}  // namespace appcore
