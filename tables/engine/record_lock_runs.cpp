#include "tables/engine/record_lock_runs.h"

#include <algorithm>
#include <iterator>

namespace korvex {
namespace {

std::pair<std::uint32_t, std::uint32_t> Gap(std::uint32_t left_last, std::uint32_t right_first) {
  return {right_first - left_last - 1, right_first};
}

}  // namespace

bool TRecordLockRuns::Covers(std::uint32_t n) const {
  auto after = runs_.upper_bound(n);
  return after != runs_.begin() && std::prev(after)->second >= n;
}

void TRecordLockRuns::DropRun(Runs::iterator run) {
  auto next = std::next(run);
  const bool has_prev = run != runs_.begin(), has_next = next != runs_.end();
  if (has_prev) gaps_.erase(Gap(std::prev(run)->second, run->first));
  if (has_next) gaps_.erase(Gap(run->second, next->first));
  if (has_prev && has_next) gaps_.insert(Gap(std::prev(run)->second, next->first));
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
  if (!lock_(n, n)) return false;
  entries_.emplace(n, n);
  Join(n, n);
  JoinNearest();
  return true;
}

bool TRecordLockRuns::Release(const std::function<bool(std::uint32_t)>& keep) {
  bool ok = true;
  // Highest records first: their bytes are the lowest, so each unlock cuts
  // the system's joined range at its end instead of splitting it.
  for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
    const std::uint32_t first = entry->first, last = entry->second;
    std::uint32_t piece = first;  // start of the records not yet kept or let go
    bool kept = false;
    for (std::uint32_t r = first;; ++r) {
      const bool stays = keep(r);
      if (stays) {
        if (r > piece) ok &= unlock_part_(piece, r - 1);
        piece = r + 1;
        kept = true;
      }
      if (r == last) break;
    }
    if (!kept) ok &= unlock_(first, last);
    else if (piece <= last) ok &= unlock_part_(piece, last);
  }
  Clear();
  return ok;
}

void TRecordLockRuns::Clear() {
  entries_.clear();
  runs_.clear();
  gaps_.clear();
}

}  // namespace korvex
