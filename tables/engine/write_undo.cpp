#include "tables/engine/write_undo.h"

#include <algorithm>
#include <iterator>
#include <tuple>
#include <typeinfo>

#include "tables/engine/blob_file.h"
#include "tables/engine/data_file.h"
#include "tables/engine/entry_cache.h"
#include "tables/engine/index_file.h"

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

namespace {
void NoteModified(TEntryCache& cache, TWriteUndo& undo) {
  cache.ForEachModified([&](TCacheEntry* e) { undo.AddDirty(cache, e->Key); });
}

// A header's fields and their images (std::tie of each): saving copies
// the fields, restoring the images.
template <class... T>
void PassFields(bool save, std::tuple<T&...> fields, std::tuple<T&...> images) {
  if (save) images = fields;
  else fields = images;
}
}  // namespace

// ---- the files' part ------------------------------------------------------------

void TDataFile::AttachUndo(TWriteUndo* undo) { cache_.SetUndo(undo); }

struct TDataFile::THeaderSave : TWriteUndo::THeaderImage {
  TDataFile* file = nullptr;
  TDataHeader header;
  bool modified = false;
  void Restore() override {
    file->header_ = header;
    file->header_modified_ = modified;
  }
};

void TDataFile::SaveHeader(TWriteUndo& undo) {
  THeaderSave& image = undo.AddHeader<THeaderSave>();
  image.file = this;
  image.header = header_;
  image.modified = header_modified_;
}


void TBlobFile::AttachUndo(TWriteUndo* undo) { cache_.SetUndo(undo); }

struct TBlobFile::THeaderSave : TWriteUndo::THeaderImage {
  TBlobFile* file = nullptr;
  decltype(TBlobFile::stamp_) stamp{};
  decltype(TBlobFile::version_) version{};
  decltype(TBlobFile::free_) free{};
  decltype(TBlobFile::file_size_) size{};
  decltype(TBlobFile::changed_) changed{};
  void Pass(bool save) {
    PassFields(save, std::tie(file->stamp_, file->version_, file->free_, file->file_size_, file->changed_),
               std::tie(stamp, version, free, size, changed));
  }
  void Restore() override { Pass(false); }
};

void TBlobFile::SaveHeader(TWriteUndo& undo) {
  THeaderSave& image = undo.AddHeader<THeaderSave>();
  image.file = this;
  image.Pass(true);
}

void TBlobFile::NoteDirty(TWriteUndo& undo) { NoteModified(cache_, undo); }

void TIndexFile::AttachUndo(TWriteUndo* undo) { undo_ = undo; }

struct TIndexFile::THeaderSave : TWriteUndo::THeaderImage {
  TIndexFile* file = nullptr;
  decltype(TIndexFile::stamp_) stamp{};
  decltype(TIndexFile::version_) version{};
  decltype(TIndexFile::file_size_) size{};
  decltype(TIndexFile::count_) count{};
  decltype(TIndexFile::slots_image_) slots;
  decltype(TIndexFile::records_) records{};
  decltype(TIndexFile::no_primary_) no_primary{};
  decltype(TIndexFile::changed_) changed{};
  decltype(TIndexFile::stored_count_) stored{};
  void Pass(bool save) {
    PassFields(save,
               std::tie(file->stamp_, file->version_, file->file_size_, file->count_, file->records_,
                        file->no_primary_, file->changed_, file->stored_count_),
               std::tie(stamp, version, size, count, records, no_primary, changed, stored));
  }
  void Restore() override {
    Pass(false);
    file->EditSlots() = *slots;
  }
};

void TIndexFile::SaveHeader(TWriteUndo& undo) {
  // Most writes leave the slots as the previous one did: the images share
  // one copy of them then.
  if (!slots_image_ || slots_image_edits_ != slot_edits_) {
    slots_image_ = std::make_shared<const std::array<TIndexDefinition, kIndexSlots>>(Slots());
    slots_image_edits_ = slot_edits_;
  }
  THeaderSave& image = undo.AddHeader<THeaderSave>();
  image.file = this;
  image.slots = slots_image_;
  image.Pass(true);
}

void TIndexFile::NoteDirty(TWriteUndo& undo) {
  for (TEntryCache& cache : caches_) NoteModified(cache, undo);
}

void TIndexFile::NewlyModifiedPages(const TWriteUndo& undo, std::vector<std::uint32_t>& out) {
  undo.ForEachFirstClean([&](TEntryCache& cache, std::uint32_t key) {
    if (&cache < caches_.data() || &cache >= caches_.data() + caches_.size()) return;
    const TCacheEntry* page = cache.Find(key);
    if (page != nullptr && page->Modified) out.push_back(key);
  });
}

}  // namespace korvex
