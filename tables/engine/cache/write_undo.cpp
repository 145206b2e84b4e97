#include "tables/engine/cache/write_undo.h"

#include <algorithm>
#include <iterator>
#include <typeinfo>

#include "tables/engine/cache/entry_cache.h"

namespace korvex {

namespace {
// Spares kept per kind of entry.
constexpr std::size_t kSpares = 64;
}  // namespace

void TWriteUndo::Clear() {
  headers_used_ = 0;
  dirty_.clear();
  // Only an entry this write noted carries its mark: with nothing noted,
  // the mark stays (taking a new one costs an atomic step, and every write
  // clears twice).
  if (images_.empty()) return;
  for (TImage& image : images_) {
    if (!image.Before) continue;
    const TCacheEntry& before = *image.Before;
    const std::type_index kind(typeid(before));
    auto it = std::find_if(spares_.begin(), spares_.end(), [&](const auto& s) { return s.first == kind; });
    if (it == spares_.end()) {
      spares_.emplace_back(kind, std::vector<std::unique_ptr<TCacheEntry>>{});
      it = std::prev(spares_.end());
    }
    if (it->second.size() < kSpares) it->second.push_back(std::move(image.Before));
  }
  images_.clear();
  *mark_ = NextUniqueMark();
}

std::unique_ptr<TCacheEntry> TWriteUndo::Copy(const TCacheEntry& entry) {
  const std::type_index kind(typeid(entry));
  for (auto& [k, spares] : spares_) {
    if (k != kind || spares.empty()) continue;
    std::unique_ptr<TCacheEntry> image = std::move(spares.back());
    spares.pop_back();
    image->Assign(entry);
    return image;
  }
  return entry.Clone();
}

void TWriteUndo::Touch(TEntryCache& cache, std::uint32_t key, TCacheEntry* entry) {
  if (entry == nullptr) {
    images_.push_back({&cache, key, nullptr, nullptr});
    return;
  }
  if (entry->UndoMark == *mark_ && entry->Key == key) return;
  entry->UndoMark = *mark_;
  if (!entry->Modified) images_.push_back({&cache, key, nullptr, nullptr});
  else if (entry->Remember(live_)) images_.push_back({&cache, key, nullptr, entry});
  else images_.push_back({&cache, key, Copy(*entry), nullptr});
}

void TWriteUndo::Restore() {
  for (TPlace& place : dirty_)
    if (TCacheEntry* entry = place.Cache->Find(place.Key)) entry->Modified = true;
  for (auto image = images_.rbegin(); image != images_.rend(); ++image) {
    TCacheEntry* entry = image->Cache->Find(image->Key);
    if (image->Self != nullptr) {
      // Modified entries stay cached while a write is held.
      if (entry == image->Self) entry->Recall();
    } else if (image->Before == nullptr) {
      if (entry == nullptr) continue;
      // What the write read or added: the file has the bytes it had.
      image->Cache->Remove(entry);
      delete entry;
    } else if (entry != nullptr) {
      entry->Assign(*image->Before);
    } else {
      // A modified entry is never evicted while a write is held; should it
      // be missing all the same, its image goes back into the cache.
      TCacheEntry* back = image->Before.release();
      back->Key = image->Key;
      image->Cache->Insert(back);
    }
  }
  for (std::size_t i = headers_used_; i-- > 0;) headers_[i]->Restore();
  Clear();
}

void TWriteUndo::NoteModified(TEntryCache& cache) {
  cache.ForEachModified([&](TCacheEntry* e) { AddDirty(cache, e->Key); });
}

}  // namespace korvex
