#include "tables/engine/cache/entry_cache.h"

#include <algorithm>

#include "tables/engine/cache/write_undo.h"

namespace korvex {

TCacheEntry* TEntryCache::Find(std::uint32_t key) const {
  int looked = 0;
  TCacheEntry* found = nullptr;
  for (TCacheEntry* e = newest_; e && looked < 4; e = e->Older, ++looked)
    if (e->Key == key) {
      found = e;
      break;
    }
  if (!found)
    if (const TSlot* slot = Lookup(key)) found = slot->Entry;
  if (found) Note(found, false);
  if (TWriteUndo* undo = Undo()) undo->Touch(*const_cast<TEntryCache*>(this), key, found);
  return found;
}

TEntryCache::TSlot* TEntryCache::Lookup(std::uint32_t key) const {
  if (count_ == 0) return nullptr;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = Home(key);; i = (i + 1) & mask) {
    const TSlot& slot = slots_[i];
    if (!slot.Entry) return nullptr;
    if (slot.Key == key) return const_cast<TSlot*>(&slot);
  }
}

void TEntryCache::Add(std::uint32_t key, TCacheEntry* entry) {
  if ((count_ + 1) * 2 > slots_.size()) Resize(std::max<std::size_t>(16, slots_.size() * 2));
  const std::size_t mask = slots_.size() - 1;
  const std::size_t home = Home(key);
  std::size_t i = home;
  for (; slots_[i].Entry; i = (i + 1) & mask)
    if (slots_[i].Key == key) return;  // the key's first entry stays
  slots_[i] = {key, static_cast<std::uint32_t>(home), entry};
  ++count_;
}

void TEntryCache::Erase(TSlot* slot) {
  // Moves back the entries of the run after the slot that may live there,
  // so that no lookup stops early at the hole.
  const std::size_t mask = slots_.size() - 1;
  std::size_t hole = static_cast<std::size_t>(slot - slots_.data());
  for (std::size_t i = (hole + 1) & mask; slots_[i].Entry; i = (i + 1) & mask) {
    const std::size_t home = slots_[i].HomeAt;
    // Whether `home` lies cyclically in (hole, i]: then the entry stays.
    const bool stays = hole <= i ? (hole < home && home <= i) : (hole < home || home <= i);
    if (stays) continue;
    slots_[hole] = slots_[i];
    hole = i;
  }
  slots_[hole] = {0, 0, nullptr};
  --count_;
  // A table that emptied shrinks, so that walks over it (ForEach) cost
  // what the entries do.
  if (slots_.size() > 16 && count_ * 8 < slots_.size()) Resize(slots_.size() / 2);
}

void TEntryCache::Resize(std::size_t slots) {
  std::vector<TSlot> old;
  old.swap(slots_);
  slots_.assign(slots, TSlot{0, 0, nullptr});
  shift_ = 32;
  for (std::size_t n = slots; n > 1; n >>= 1) --shift_;
  count_ = 0;
  for (const TSlot& slot : old)
    if (slot.Entry) Add(slot.Key, slot.Entry);
}

namespace {
// Sorts keys that are mostly in order already (those of a walk, with a few
// handed out again between): the keys that break the order are taken out,
// sorted alone and merged back.
void SortMostlySorted(std::vector<std::uint32_t>::iterator first, std::vector<std::uint32_t>::iterator last) {
  std::ptrdiff_t descents = 0;
  for (auto at = first; at != last && at + 1 != last; ++at) descents += *(at + 1) < *at;
  if (descents == 0) return;
  // Keys in no order (records changed here and there) are sorted whole.
  if (descents > (last - first) / 8) {
    std::sort(first, last);
    return;
  }
  std::vector<std::uint32_t> aside;
  auto kept = first;
  for (auto at = first; at != last; ++at) {
    if (kept != first && *at < *(kept - 1)) aside.push_back(*at);
    else *kept++ = *at;
  }
  std::sort(aside.begin(), aside.end());
  std::copy(aside.begin(), aside.end(), kept);
  std::inplace_merge(first, kept, last);
}
}  // namespace

void TEntryCache::Compact() const {
  std::sort(recent_.begin(), recent_.end());
  recent_.erase(std::unique(recent_.begin(), recent_.end()), recent_.end());
  recent_.erase(std::remove_if(recent_.begin(), recent_.end(), [&](std::uint32_t key) { return !Lookup(key); }),
                recent_.end());
}

std::vector<TCacheEntry*> TEntryCache::Sweep() const {
  // The keys are sorted, not the entries: no entry is visited to compare,
  // and keys handed out in order (a long write's appends) are sorted
  // already; the lookups then follow the table's order too.
  std::vector<std::uint32_t>& keys = recent_;
  const auto middle = static_cast<std::ptrdiff_t>(keys.size());
  // A window read ahead hands out its keys from the asked one backwards:
  // each descending stretch is turned around, so windows read in order
  // leave the keys sorted without a sort.
  for (auto at = keys.begin(); at != keys.end();) {
    auto end = at + 1;
    while (end != keys.end() && *end < *(end - 1)) ++end;
    if (end - at > 1) std::reverse(at, end);
    at = end;
  }
  keys.insert(keys.end(), carried_.begin(), carried_.end());
  SortMostlySorted(keys.begin(), keys.begin() + middle);
  SortMostlySorted(keys.begin() + middle, keys.end());
  std::inplace_merge(keys.begin(), keys.begin() + middle, keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  std::vector<TCacheEntry*> found;
  found.reserve(keys.size());
  for (std::uint32_t key : keys)
    if (const TSlot* slot = Lookup(key)) found.push_back(slot->Entry);
  carried_.clear();
  for (TCacheEntry* e : found)
    if (e->Modified || e->UseCount != 0) carried_.push_back(e->Key);
  recent_.clear();
  sweep_ = NextUniqueMark();
  held_past_ = nullptr;
  return found;
}

std::vector<TCacheEntry*> TEntryCache::Sorted() const {
  std::vector<TCacheEntry*> entries;
  entries.reserve(count_);
  ForEach([&](TCacheEntry* e) { entries.push_back(e); });
  std::sort(entries.begin(), entries.end(), [](const TCacheEntry* a, const TCacheEntry* b) { return a->Key < b->Key; });
  return entries;
}

void TEntryCache::Unlink(TCacheEntry* entry) {
  // Leaving the run of modified entries at the old end shortens it.
  if (entry == held_past_) held_past_ = entry->Older;
  if (entry == window_first_) window_first_ = nullptr;
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
  if (TWriteUndo* undo = Undo()) {
    undo->Touch(*this, entry->Key, nullptr);
    undo->Noted(*entry);
  }
  Add(entry->Key, entry);
  ++generation_;
  Note(entry, true);
  LinkFront(entry);
}

void TEntryCache::Remove(TCacheEntry* entry) {
  TSlot* slot = Lookup(entry->Key);
  if (slot && slot->Entry == entry) Erase(slot);
  Unlink(entry);
}

void TEntryCache::Touch(TCacheEntry* entry) {
  if (newest_ == entry) return;
  Unlink(entry);
  LinkFront(entry);
}

void TEntryCache::Rekey(TCacheEntry* entry, std::uint32_t key) {
  if (TWriteUndo* undo = Undo()) undo->Touch(*this, entry->Key, entry);
  Remove(entry);
  entry->Key = key;
  Insert(entry);
}

TCacheEntry* TEntryCache::FindEvictable() const {
  for (TCacheEntry* e = oldest_; e; e = e->Newer)
    if (e->Evictable()) return e;
  return nullptr;
}

TCacheEntry* TEntryCache::FindEvictablePastModified(bool writes_held) {
  // Only a walk for modified entries, which comes before their writing,
  // turns a modified entry back, and it forgets the mark; an entry leaving
  // the run at the old end of the chain (touched, removed) only shortens
  // it. So the modified entries an earlier search passed there stay
  // modified for the next, and a cache full of changes waiting for their
  // flush is not walked through again for each entry it takes.
  if (held_past_ && !held_past_->Modified) held_past_ = nullptr;
  // While writes are held the places of the open window are not taken.
  TCacheEntry* const stop = writes_held ? window_first_ : nullptr;
  bool prefix = true;
  for (TCacheEntry* e = held_past_ ? held_past_->Newer : oldest_; e && e != stop; e = e->Newer) {
    if (e->Evictable()) return e;
    if (prefix && e->Modified) held_past_ = e;
    else prefix = false;
  }
  return nullptr;
}

void TEntryCache::ModifiedRuns(std::uint32_t step, std::uint32_t skip_first, std::uint32_t skip_last,
                               std::vector<TCacheEntry*>& entries, std::vector<std::size_t>& starts) const {
  entries.clear();
  starts.clear();
  for (TCacheEntry* e : Sweep()) {
    if (!e->Modified || e->UseCount != 0) continue;
    if (skip_first <= skip_last && e->Key >= skip_first && e->Key <= skip_last) continue;
    if (entries.empty() || static_cast<std::uint64_t>(entries.back()->Key) + step != e->Key)
      starts.push_back(entries.size());
    entries.push_back(e);
  }
  starts.push_back(entries.size());
}

TCacheEntry* TEntryCache::Obtain(std::uint32_t key, bool writes_held, const std::function<TCacheEntry*()>& make,
                                 const std::function<void()>& flush, std::size_t growth) {
  TCacheEntry* entry = Place(key, writes_held, make, flush, growth);
  if (entry && window_open_ && !window_first_) window_first_ = entry;
  return entry;
}

TCacheEntry* TEntryCache::Place(std::uint32_t key, bool writes_held, const std::function<TCacheEntry*()>& make,
                                const std::function<void()>& flush, std::size_t growth) {
  if (!Full()) {
    TCacheEntry* entry = make();
    entry->Key = key;
    Insert(entry);
    return entry;
  }
  TCacheEntry* entry = FindEvictablePastModified(writes_held);
  if (!entry && !writes_held) {
    flush();
    entry = FindEvictablePastModified(false);
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

void TEntryCache::Shrink(std::size_t count, const std::function<void(TCacheEntry*)>& release) {
  std::vector<TCacheEntry*> gone;
  for (TCacheEntry* e = oldest_; e && count_ - gone.size() > count; e = e->Newer)
    if (e->Evictable()) gone.push_back(e);
  if (gone.size() * 2 <= count_) {
    for (TCacheEntry* e : gone) {
      Remove(e);
      release(e);
    }
    return;
  }
  // Most go: their slots are emptied, and the rest are placed again in a
  // table of the size they need.
  std::vector<TSlot*> emptied;
  for (TCacheEntry* e : gone) {
    if (TSlot* slot = Lookup(e->Key); slot && slot->Entry == e) emptied.push_back(slot);
    Unlink(e);
  }
  for (TSlot* slot : emptied) slot->Entry = nullptr;
  std::size_t size = 16;
  while (size < (count_ - emptied.size()) * 2) size *= 2;
  Resize(size);
  for (TCacheEntry* e : gone) release(e);
}

void TEntryCache::Clear(const std::function<void(TCacheEntry*)>& release) {
  const std::vector<TCacheEntry*> entries = release ? Sorted() : std::vector<TCacheEntry*>{};
  ForEach([](TCacheEntry* e) { e->Older = e->Newer = nullptr; });
  slots_.clear();
  count_ = 0;
  ++generation_;
  shift_ = 32;
  held_past_ = nullptr;
  window_first_ = nullptr;
  recent_.clear();
  carried_.clear();
  sweep_ = NextUniqueMark();
  newest_ = oldest_ = nullptr;
  for (TCacheEntry* e : entries) release(e);
}

}  // namespace korvex
