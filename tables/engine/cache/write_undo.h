// TWriteUndo: what one write of a table (an append, a modify or a delete,
// or one flush) changes in the table's caches and headers, kept so that a
// write that fails part way can be put back as if it had never started.
//
// While it is attached to a file's caches (TEntryCache::SetUndo) every
// entry the write finds or places is noted on its first touch: an entry
// that differs from its file keeps a copy (its before-image), or keeps its
// own image when it can (an index page notes what it changes); one that
// matches the file, or a key that was not cached, is noted as such and is
// dropped again on Restore (the file still holds its bytes, as nothing is
// written while the caches hold the write). Headers are kept as restore
// functions taken when the write starts. A flush notes the keys of the
// entries it is about to write, so that a failed flush marks them modified
// again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <typeindex>
#include <typeinfo>
#include <vector>

#include "tables/engine/cache/cache_entry.h"

namespace korvex {

class TEntryCache;

class TWriteUndo {
public:
  // Forgets everything noted before.
  void Clear();
  bool Empty() const { return images_.empty() && headers_used_ == 0 && dirty_.empty(); }

  // First touch of `key` in `cache`: `entry` as it is now, nullptr when the
  // key is not cached. A cached entry is marked as noted by this write, so
  // later touches cost a comparison; a key not cached is noted each time
  // (dropping it again is the same however often it is noted).
  void Touch(TEntryCache& cache, std::uint32_t key, TCacheEntry* entry);
  // `entry` was placed in a cache under a key this write has noted.
  void Noted(TCacheEntry& entry) const { entry.UndoMark = *mark_; }
  // A header's image, taken when the write starts.
  class THeaderImage {
  public:
    virtual ~THeaderImage() = default;
    virtual void Restore() = 0;
  };
  // The next header image, of kind T, for the caller to fill in. Writes
  // save the same headers in the same order: the image an earlier write
  // used in this place is used again, so that saving takes no memory.
  template <class T>
  T& AddHeader() {
    if (headers_used_ < headers_.size()) {
      THeaderImage& image = *headers_[headers_used_];
      if (typeid(image) == typeid(T)) {
        ++headers_used_;
        return static_cast<T&>(image);
      }
      headers_.resize(headers_used_);
    }
    headers_.push_back(std::make_unique<T>());
    ++headers_used_;
    return static_cast<T&>(*headers_.back());
  }
  // An entry a flush is about to write (and mark unmodified).
  void AddDirty(TEntryCache& cache, std::uint32_t key) { dirty_.push_back({&cache, key}); }
  // Every entry modified in `cache` (AddDirty of each).
  void NoteModified(TEntryCache& cache);

  // Puts back every before-image and header, drops what the write added,
  // marks the noted dirty entries modified again, then forgets it all.
  // The caches must be detached from this object first.
  void Restore();

  std::size_t Images() const { return images_.size(); }
  // Each key this write found clean in its cache, or not cached, with its
  // cache: `f(cache, key)` in the order noted.
  template <class F>
  void ForEachFirstClean(const F& f) const {
    for (const TImage& image : images_)
      if (image.Before == nullptr && image.Self == nullptr) f(*image.Cache, image.Key);
  }

private:
  struct TImage {
    TEntryCache* Cache;
    std::uint32_t Key;
    std::unique_ptr<TCacheEntry> Before;  // nullptr: the file's bytes (or Self)
    TCacheEntry* Self;  // an entry that keeps its own image (Remember)
  };
  struct TPlace {
    TEntryCache* Cache;
    std::uint32_t Key;
  };
  // A before-image: a spare copy of the entry's kind when there is one.
  std::unique_ptr<TCacheEntry> Copy(const TCacheEntry& entry);
  std::vector<TImage> images_;
  // Images kept for the next writes, by kind of entry.
  std::vector<std::pair<std::type_index, std::vector<std::unique_ptr<TCacheEntry>>>> spares_;
  // This write's mark, shared with the entries that keep their own images.
  std::shared_ptr<std::uint32_t> mark_ = std::make_shared<std::uint32_t>(NextUniqueMark());
  std::shared_ptr<const std::uint32_t> live_ = mark_;
  std::vector<std::unique_ptr<THeaderImage>> headers_;  // the first headers_used_ are this write's
  std::size_t headers_used_ = 0;
  std::vector<TPlace> dirty_;
};

}  // namespace korvex
