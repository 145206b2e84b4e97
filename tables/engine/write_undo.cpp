#include "tables/engine/write_undo.h"

#include "tables/engine/blob_file.h"
#include "tables/engine/data_file.h"
#include "tables/engine/entry_cache.h"
#include "tables/engine/index_file.h"

namespace korvex {

void TWriteUndo::Clear() {
  images_.clear();
  seen_.clear();
  headers_.clear();
  dirty_.clear();
}

void TWriteUndo::Touch(TEntryCache& cache, std::uint32_t key, const TCacheEntry* entry) {
  if (!seen_.insert({&cache, key}).second) return;
  images_.push_back({&cache, key, entry != nullptr && entry->Modified ? entry->Clone() : nullptr});
}

void TWriteUndo::Restore() {
  for (TPlace& place : dirty_)
    if (TCacheEntry* entry = place.Cache->Find(place.Key)) entry->Modified = true;
  for (auto image = images_.rbegin(); image != images_.rend(); ++image) {
    TCacheEntry* entry = image->Cache->Find(image->Key);
    if (image->Before == nullptr) {
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
  for (auto header = headers_.rbegin(); header != headers_.rend(); ++header) (*header)();
  Clear();
}

namespace {
void NoteModified(TEntryCache& cache, TWriteUndo& undo) {
  for (TCacheEntry* e : cache.Sorted())
    if (e->Modified) undo.AddDirty(cache, e->Key);
}
}  // namespace

// ---- the files' part ------------------------------------------------------------

void TDataFile::AttachUndo(TWriteUndo* undo) { cache_.SetUndo(undo); }

std::function<void()> TDataFile::HeaderImage() {
  return [this, header = header_, modified = header_modified_] {
    header_ = header;
    header_modified_ = modified;
  };
}

void TDataFile::NoteDirty(TWriteUndo& undo) { NoteModified(cache_, undo); }

void TBlobFile::AttachUndo(TWriteUndo* undo) { cache_.SetUndo(undo); }

std::function<void()> TBlobFile::HeaderImage() {
  return [this, stamp = stamp_, version = version_, free = free_, size = file_size_, changed = changed_] {
    stamp_ = stamp;
    version_ = version;
    free_ = free;
    file_size_ = size;
    changed_ = changed;
  };
}

void TBlobFile::NoteDirty(TWriteUndo& undo) { NoteModified(cache_, undo); }

void TIndexFile::AttachUndo(TWriteUndo* undo) {
  for (TEntryCache& cache : caches_) cache.SetUndo(undo);
}

std::function<void()> TIndexFile::HeaderImage() {
  return [this, stamp = stamp_, version = version_, size = file_size_, count = count_, slots = slots_,
          records = records_, no_primary = no_primary_, changed = changed_, stored = stored_count_] {
    stamp_ = stamp;
    version_ = version;
    file_size_ = size;
    count_ = count;
    slots_ = slots;
    records_ = records;
    no_primary_ = no_primary;
    changed_ = changed;
    stored_count_ = stored;
  };
}

void TIndexFile::NoteDirty(TWriteUndo& undo) {
  for (TEntryCache& cache : caches_) NoteModified(cache, undo);
}

}  // namespace korvex
