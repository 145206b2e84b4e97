// The record locks a table object takes inside a transaction, held to its
// end. Each is still a lock on the record's own byte (lock_ranges.h), so
// every other process and session finds the record locked; what this
// keeps small is the number of separate ranges. The system keeps a file's
// byte-range locks in one list that it walks on every lock and unlock, so
// thousands of scattered record bytes made each further lock slower.
// Here the bytes of adjacent records form one range, and while more than
// kMaxRuns separate runs are held the two nearest are joined by locking
// the records between them as well (never a byte someone else holds: the
// join is then left out). A record next to the end of a run takes a few
// records beyond it along, so that records edited in order cost a lock
// call now and then, not each. Inside a transaction the data file's write byte
// keeps every other writer out already, so a record locked that way only
// cannot be locked elsewhere until the transaction ends; no one can change
// it meanwhile in any case. A killed process loses every range with its
// descriptors, as before.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace korvex {

class TRecordLockRuns {
public:
  // Locks, unlocks or unlocks part of one held range of record bytes,
  // records first..last; answers success.
  using RangeOp = std::function<bool(std::uint32_t first, std::uint32_t last)>;
  static constexpr std::size_t kMaxRuns = 32;
  static constexpr std::uint32_t kMaxAhead = 512;
  // The highest record number a byte is laid out for (lock_ranges.h).
  static constexpr std::uint32_t kLastRecord = 100000001;

  TRecordLockRuns(RangeOp lock, RangeOp unlock, RangeOp unlock_part)
      : lock_(std::move(lock)), unlock_(std::move(unlock)), unlock_part_(std::move(unlock_part)) {}

  bool Empty() const { return entries_.empty(); }
  // Whether record n's byte is held through these ranges.
  bool Covers(std::uint32_t n) const { return (n >= hint_first_ && n <= hint_last_) || CoversSearched(n); }
  // Locks record n's byte unless it is covered already; false when it is
  // held elsewhere.
  bool Add(std::uint32_t n);
  // Unlocks every range; the records of `keep` (ascending) stay locked,
  // each as a part of its range left held. False when an unlock failed
  // (the rest were still tried).
  bool Release(const std::vector<std::uint32_t>& keep);
  // Forgets the ranges without unlocking (the descriptors went).
  void Clear();
  std::size_t RunCount() const { return runs_.size(); }
  // Each run of records held (adjacent ranges joined), in order.
  template <class F>
  void ForEachRun(const F& f) const {
    for (const auto& [first, last] : runs_) f(first, last);
  }

private:
  using Runs = std::map<std::uint32_t, std::uint32_t>;
  // Covers past the run found last.
  bool CoversSearched(std::uint32_t n) const;
  void DropRun(Runs::iterator run);
  void AddRun(std::uint32_t first, std::uint32_t last);
  // Joins [first, last] to the runs it touches or overlaps.
  void Join(std::uint32_t first, std::uint32_t last);
  void JoinNearest();
  void ForgetHint() const {
    hint_first_ = 1;
    hint_last_ = 0;
  }

  RangeOp lock_, unlock_, unlock_part_;
  Runs entries_;  // each range locked: first -> last
  Runs runs_;     // what the entries cover, adjacent ones joined
  // Between two runs: (records between, first record of the run after).
  std::set<std::pair<std::uint32_t, std::uint32_t>> gaps_;
  // A run of runs_ that Covers found last (none while first > last); runs
  // only grow until they are dropped, which forgets it.
  mutable std::uint32_t hint_first_ = 1, hint_last_ = 0;
};

}  // namespace korvex
