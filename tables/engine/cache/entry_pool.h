// A pool of spare cache entries of one table file: returned entries are
// kept and handed out again instead of being freed, up to a limit (the
// rest are freed: a cache that grew for a long write gives its memory
// back when it shrinks).
#pragma once

#include <functional>
#include <memory>
#include <vector>

namespace korvex {

template <class T>
class TEntryPool {
public:
  explicit TEntryPool(std::size_t limit) : limit_(limit) {}

  // The last spare, emptied by `reset`, or a new entry from `make`.
  T* Take(const std::function<T*()>& make, const std::function<void(T&)>& reset) {
    if (spares_.empty()) return make();
    T* entry = spares_.back().release();
    spares_.pop_back();
    reset(*entry);
    entry->ClearUseCount();
    return entry;
  }
  void Return(T* entry) noexcept { delete Keep(entry); }
  // Keeps `entry` as a spare while there is room (nullptr), else answers it
  // back for the caller to free. Never raises: entries go back on clean-up
  // paths (a file closed in a destructor), also when memory has run out.
  T* Keep(T* entry) noexcept {
    if (spares_.size() >= limit_) return entry;
    try {
      spares_.emplace_back(entry);
    } catch (...) {
      return entry;
    }
    return nullptr;
  }
  void FreeAll() { spares_.clear(); }
  std::size_t Spares() const { return spares_.size(); }

private:
  std::size_t limit_;
  std::vector<std::unique_ptr<T>> spares_;
};

}  // namespace korvex
