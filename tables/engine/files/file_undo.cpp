// The three table files' part of a write's undo (cache/write_undo.h):
// their headers kept as images a failed write puts back, and the modified
// entries a flush is about to write noted so that a failed flush marks them
// modified again.
#include <tuple>

#include "tables/engine/cache/entry_cache.h"
#include "tables/engine/cache/write_undo.h"
#include "tables/engine/files/blob_file.h"
#include "tables/engine/files/data_file.h"
#include "tables/engine/files/index_file.h"

namespace korvex {

namespace {
// A header's fields and their images (std::tie of each): saving copies
// the fields, restoring the images.
template <class... T>
void PassFields(bool save, std::tuple<T&...> fields, std::tuple<T&...> images) {
  if (save) images = fields;
  else fields = images;
}
}  // namespace

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

void TBlobFile::NoteDirty(TWriteUndo& undo) { undo.NoteModified(cache_); }

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
  for (TEntryCache& cache : caches_) undo.NoteModified(cache);
}

void TIndexFile::NewlyModifiedPages(const TWriteUndo& undo, std::vector<std::uint32_t>& out) {
  undo.ForEachFirstClean([&](TEntryCache& cache, std::uint32_t key) {
    if (&cache < caches_.data() || &cache >= caches_.data() + caches_.size()) return;
    const TCacheEntry* page = cache.Find(key);
    if (page != nullptr && page->Modified) out.push_back(key);
  });
}

}  // namespace korvex
