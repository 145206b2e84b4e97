#include "tables/engine/entry_cache.h"

#include <algorithm>

#include "tables/engine/write_undo.h"

namespace korvex {

TCacheEntry* TEntryCache::Find(std::uint32_t key) const {
  int looked = 0;
  TCacheEntry* found = nullptr;
  for (TCacheEntry* e = newest_; e && looked < 4; e = e->Older, ++looked)
    if (e->Key == key) {
      found = e;
      break;
    }
  if (!found) {
    auto it = sorted_.find(key);
    if (it != sorted_.end()) found = it->second;
  }
  if (undo_) undo_->Touch(*const_cast<TEntryCache*>(this), key, found);
  return found;
}

std::vector<TCacheEntry*> TEntryCache::Sorted() const {
  std::vector<TCacheEntry*> entries;
  entries.reserve(sorted_.size());
  for (const auto& [key, entry] : sorted_) entries.push_back(entry);
  return entries;
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
  if (undo_) {
    undo_->Touch(*this, entry->Key, nullptr);
    undo_->Noted(*entry);
  }
  sorted_.emplace(entry->Key, entry);
  LinkFront(entry);
}

void TEntryCache::Remove(TCacheEntry* entry) {
  auto it = sorted_.find(entry->Key);
  if (it != sorted_.end() && it->second == entry) sorted_.erase(it);
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
  for (const auto& [key, e] : sorted_) {
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
  capacity_ += std::max(growth, capacity_ / 4);
  entry = make();
  entry->Key = key;
  Insert(entry);
  return entry;
}

void TEntryCache::Clear() {
  for (const auto& [key, e] : sorted_) e->Older = e->Newer = nullptr;
  sorted_.clear();
  newest_ = oldest_ = nullptr;
}

}  // namespace korvex
