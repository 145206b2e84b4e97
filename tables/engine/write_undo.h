// TWriteUndo: what one write of a table (an append, a modify or a delete,
// or one flush) changes in the table's caches and headers, kept so that a
// write that fails part way can be put back as if it had never started.
//
// While it is attached to a file's caches (TEntryCache::SetUndo) every
// entry the write finds or places is noted on its first touch: an entry
// that differs from its file keeps a copy (its before-image); one that
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
#include <unordered_set>
#include <vector>

#include "tables/engine/cache_entry.h"

namespace korvex {

class TEntryCache;

class TWriteUndo {
public:
  // Forgets everything noted before.
  void Clear();
  bool Empty() const { return images_.empty() && headers_.empty() && dirty_.empty(); }

  // First touch of `key` in `cache`: `entry` as it is now, nullptr when the
  // key is not cached.
  void Touch(TEntryCache& cache, std::uint32_t key, const TCacheEntry* entry);
  void AddHeader(std::function<void()> restore) { headers_.push_back(std::move(restore)); }
  // An entry a flush is about to write (and mark unmodified).
  void AddDirty(TEntryCache& cache, std::uint32_t key) { dirty_.push_back({&cache, key}); }

  // Puts back every before-image and header, drops what the write added,
  // marks the noted dirty entries modified again, then forgets it all.
  // The caches must be detached from this object first.
  void Restore();

  std::size_t Images() const { return images_.size(); }

private:
  struct TImage {
    TEntryCache* Cache;
    std::uint32_t Key;
    std::unique_ptr<TCacheEntry> Before;  // nullptr: the file's bytes
  };
  struct TPlace {
    TEntryCache* Cache;
    std::uint32_t Key;
  };
  struct TPlaceHash {
    std::size_t operator()(const std::pair<const TEntryCache*, std::uint32_t>& p) const {
      return std::hash<const void*>()(p.first) ^ (std::size_t{p.second} * 0x9E3779B97F4A7C15ull);
    }
  };
  std::vector<TImage> images_;
  std::unordered_set<std::pair<const TEntryCache*, std::uint32_t>, TPlaceHash> seen_;
  std::vector<std::function<void()>> headers_;
  std::vector<TPlace> dirty_;
};

}  // namespace korvex
