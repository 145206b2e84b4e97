// Critical sections: a re-entrant lock the owning thread may take again.
#pragma once

#include <mutex>

namespace rtl {

class TCriticalSection {
public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  bool TryEnter() { return mutex_.try_lock(); }
  // For std::lock_guard / std::unique_lock.
  void lock() { Enter(); }
  void unlock() { Leave(); }
  bool try_lock() { return TryEnter(); }

private:
  std::recursive_mutex mutex_;
};

// Holds a critical section for its lifetime.
class CriticalSectionLock {
public:
  explicit CriticalSectionLock(TCriticalSection& section) : section_(section) { section_.Enter(); }
  ~CriticalSectionLock() { section_.Leave(); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
  TCriticalSection& section_;
};

}  // namespace rtl
