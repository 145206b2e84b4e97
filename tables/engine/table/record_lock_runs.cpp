#include "tables/engine/table/record_lock_runs.h"

#include <algorithm>
#include <iterator>

namespace korvex {
namespace {

std::pair<std::uint32_t, std::uint32_t> Gap(std::uint32_t left_last, std::uint32_t right_first) {
  return {right_first - left_last - 1, right_first};
}

}  // namespace

// Records are mostly asked for in order: the run that answered last
// answers again without a search (Covers), the others search here.
bool TRecordLockRuns::CoversSearched(std::uint32_t n) const {
  auto after = runs_.upper_bound(n);
  if (after == runs_.begin() || std::prev(after)->second < n) return false;
  hint_first_ = std::prev(after)->first;
  hint_last_ = std::prev(after)->second;
  return true;
}

void TRecordLockRuns::DropRun(Runs::iterator run) {
  auto next = std::next(run);
  const bool has_prev = run != runs_.begin(), has_next = next != runs_.end();
  if (has_prev) gaps_.erase(Gap(std::prev(run)->second, run->first));
  if (has_next) gaps_.erase(Gap(run->second, next->first));
  if (has_prev && has_next) gaps_.insert(Gap(std::prev(run)->second, next->first));
  ForgetHint();
  runs_.erase(run);
}

void TRecordLockRuns::AddRun(std::uint32_t first, std::uint32_t last) {
  auto next = runs_.upper_bound(first);
  const bool has_prev = next != runs_.begin(), has_next = next != runs_.end();
  if (has_prev && has_next) gaps_.erase(Gap(std::prev(next)->second, next->first));
  if (has_prev) gaps_.insert(Gap(std::prev(next)->second, first));
  if (has_next) gaps_.insert(Gap(last, next->first));
  runs_.emplace_hint(next, first, last);
}

void TRecordLockRuns::Join(std::uint32_t first, std::uint32_t last) {
  for (;;) {
    auto after = runs_.upper_bound(last == UINT32_MAX ? last : last + 1);
    if (after == runs_.begin()) break;
    auto run = std::prev(after);
    if (run->second + 1 < first) break;  // neither touches nor overlaps
    first = std::min(first, run->first);
    last = std::max(last, run->second);
    DropRun(run);
  }
  AddRun(first, last);
}

void TRecordLockRuns::JoinNearest() {
  // A few tries a lock: a join refused (another holds a byte between) is
  // dropped from the candidates until its runs change.
  for (int tries = 0; tries < 4 && runs_.size() > kMaxRuns && !gaps_.empty(); ++tries) {
    const auto [size, right_first] = *gaps_.begin();
    gaps_.erase(gaps_.begin());
    const std::uint32_t first = right_first - size, last = right_first - 1;
    if (!lock_(first, last)) continue;
    entries_.emplace(first, last);
    Join(first, last);
  }
}

bool TRecordLockRuns::Add(std::uint32_t n) {
  if (Covers(n)) return true;
  // A record next to the end of a run takes the records beyond it along,
  // as many as the run holds (kMaxAhead at most): a transaction that
  // edits records in order locks them in a few ranges, not one by one.
  std::uint32_t first = n, last = n;
  auto after = runs_.upper_bound(n);
  if (after != runs_.begin() && std::prev(after)->second + 1 == n) {
    const std::uint32_t run = std::prev(after)->second - std::prev(after)->first + 1;
    last = n + std::min({run, kMaxAhead, kLastRecord - n});
    if (after != runs_.end()) last = std::min(last, after->first - 1);
  } else if (after != runs_.end() && after->first == n + 1) {
    const std::uint32_t run = after->second - after->first + 1;
    first = n - std::min({run, kMaxAhead, n - 1});
    if (after != runs_.begin() && std::prev(after)->second >= first) first = std::prev(after)->second + 1;
  }
  // A record that would open one run too many: the join that would follow
  // (the nearest two runs) is its own with its nearer neighbour when no
  // other gap is smaller, and is then made by the same lock, one call for
  // both.
  if (first == n && last == n && runs_.size() >= kMaxRuns && !gaps_.empty()) {
    const std::uint32_t smallest = gaps_.begin()->first;
    const bool has_prev = after != runs_.begin(), has_next = after != runs_.end();
    const std::uint32_t left = has_prev ? n - std::prev(after)->second - 1 : UINT32_MAX;
    const std::uint32_t right = has_next ? after->first - n - 1 : UINT32_MAX;
    if (std::min(left, right) <= smallest) {
      if (left <= right) first = std::prev(after)->second + 1;
      else last = after->first - 1;
    }
  }
  if ((first != n || last != n) && !lock_(first, last)) first = last = n;  // another holds one: n alone
  if (first == n && last == n && !lock_(n, n)) return false;
  entries_.emplace(first, last);
  Join(first, last);
  JoinNearest();
  return true;
}

bool TRecordLockRuns::Release(const std::vector<std::uint32_t>& keep) {
  bool ok = true;
  // Highest records first: their bytes are the lowest, so each unlock cuts
  // the system's joined range at its end instead of splitting it.
  auto kept = keep.rbegin();
  for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
    const std::uint32_t first = entry->first;
    std::uint32_t last = entry->second;  // the records above are done
    bool split = false;
    for (; kept != keep.rend() && *kept >= first; ++kept) {
      if (*kept > last) continue;  // not in any entry
      if (*kept < last) ok &= unlock_part_(*kept + 1, last);
      split = true;
      if (*kept == first) {
        last = first - 1;
        break;
      }
      last = *kept - 1;
    }
    if (last + 1 == first) continue;
    ok &= split ? unlock_part_(first, last) : unlock_(first, last);
  }
  Clear();
  return ok;
}

void TRecordLockRuns::Clear() {
  entries_.clear();
  runs_.clear();
  gaps_.clear();
  ForgetHint();
}

}  // namespace korvex
