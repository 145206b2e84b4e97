#include "tables/engine/entry_cache.h"

#include <algorithm>

#include "tables/engine/write_undo.h"

namespace korvex {

std::size_t TEntryCache::LowerBound(std::uint32_t key) const {
  auto it = std::lower_bound(sorted_.begin(), sorted_.end(), key,
                             [](const TCacheEntry* e, std::uint32_t k) { return e->Key < k; });
  return static_cast<std::size_t>(it - sorted_.begin());
}

TCacheEntry* TEntryCache::Find(std::uint32_t key) const {
  int looked = 0;
  for (TCacheEntry* e = newest_; e && looked < 4; e = e->Older, ++looked)
    if (e->Key == key) {
      if (undo_) undo_->Touch(*const_cast<TEntryCache*>(this), key, e);
      return e;
    }
  std::size_t i = LowerBound(key);
  TCacheEntry* found = i < sorted_.size() && sorted_[i]->Key == key ? sorted_[i] : nullptr;
  if (undo_) undo_->Touch(*const_cast<TEntryCache*>(this), key, found);
  return found;
}

void TEntryCache::Unlink(TCacheEntry* entry) {
  if (entry->Newer) entry->Newer->Older = entry->Older;
  else if (newest_ == entry) newest_ = entry->Older;
  if (entry->Older) entry->Older->Newer = entry->Newer;
  else if (oldest_ == entry) oldest_ = entry->Newer;
  entry->Older = entry->Newer = nullptr;
}

void TEntryCache::LinkFront(TCacheEntry* entry) {
  entry->Newer = nullptr;
  entry->Older = newest_;
  if (newest_) newest_->Newer = entry;
  newest_ = entry;
  if (!oldest_) oldest_ = entry;
}

void TEntryCache::Insert(TCacheEntry* entry) {
  if (undo_) undo_->Touch(*this, entry->Key, nullptr);
  sorted_.insert(sorted_.begin() + static_cast<std::ptrdiff_t>(LowerBound(entry->Key)), entry);
  LinkFront(entry);
}

void TEntryCache::Remove(TCacheEntry* entry) {
  std::size_t i = LowerBound(entry->Key);
  while (i < sorted_.size() && sorted_[i] != entry && sorted_[i]->Key == entry->Key) ++i;
  if (i < sorted_.size() && sorted_[i] == entry) sorted_.erase(sorted_.begin() + static_cast<std::ptrdiff_t>(i));
  Unlink(entry);
}

void TEntryCache::Touch(TCacheEntry* entry) {
  if (newest_ == entry) return;
  Unlink(entry);
  LinkFront(entry);
}

void TEntryCache::Rekey(TCacheEntry* entry, std::uint32_t key) {
  if (undo_) undo_->Touch(*this, entry->Key, entry);
  Remove(entry);
  entry->Key = key;
  Insert(entry);
}

TCacheEntry* TEntryCache::FindEvictable() const {
  for (TCacheEntry* e = oldest_; e; e = e->Newer)
    if (e->Evictable()) return e;
  return nullptr;
}

std::vector<std::vector<TCacheEntry*>> TEntryCache::ModifiedRuns(std::uint32_t step, std::uint32_t skip_first,
                                                                 std::uint32_t skip_last) const {
  std::vector<std::vector<TCacheEntry*>> runs;
  for (TCacheEntry* e : sorted_) {
    if (!e->Modified || e->UseCount != 0) continue;
    if (skip_first <= skip_last && e->Key >= skip_first && e->Key <= skip_last) continue;
    if (runs.empty() || static_cast<std::uint64_t>(runs.back().back()->Key) + step != e->Key)
      runs.emplace_back();
    runs.back().push_back(e);
  }
  return runs;
}

TCacheEntry* TEntryCache::Obtain(std::uint32_t key, bool writes_held, const std::function<TCacheEntry*()>& make,
                                 const std::function<void()>& flush, std::size_t growth) {
  if (!Full()) {
    TCacheEntry* entry = make();
    entry->Key = key;
    Insert(entry);
    return entry;
  }
  TCacheEntry* entry = FindEvictable();
  if (!entry && !writes_held) {
    flush();
    entry = FindEvictable();
  }
  if (entry) {
    Rekey(entry, key);
    return entry;
  }
  if (!writes_held) return nullptr;
  // Writes held: every change stays in the cache until they end.
  capacity_ += growth;
  entry = make();
  entry->Key = key;
  Insert(entry);
  return entry;
}

void TEntryCache::Clear() {
  for (TCacheEntry* e : sorted_) e->Older = e->Newer = nullptr;
  sorted_.clear();
  newest_ = oldest_ = nullptr;
}

}  // namespace korvex
