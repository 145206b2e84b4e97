// The transfers between a table file and its cache: reading a window of
// neighbouring entries in one call, and writing each run of neighbouring
// modified entries in one call. Entries of a file all have the same size;
// neighbours' keys differ by `step` (1 for records, the block size for
// BLOB blocks).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "tables/engine/entry_cache.h"
#include "tables/lib/file_handler.h"

namespace korvex {

struct TCacheLayout {
  std::uint32_t entry_size;
  std::uint32_t step;
  // File position of the entry with a key.
  std::function<std::uint64_t(std::uint32_t key)> position;
};

// Reads `count` entries from `first` in one call under the handler's lock
// into `buffer`; answers the number of whole entries read (a short read is
// the caller's to judge). Each entry read that is not cached gets a place
// from `obtain` and is decoded; a cached one neither modified nor in use is
// decoded again; the rest are left as they are.
std::uint32_t ReadIntoCache(TFileHandler& file, TEntryCache& cache, const TCacheLayout& layout, std::uint32_t first,
                            std::uint32_t count, std::vector<std::uint8_t>& buffer,
                            const std::function<bool(std::uint32_t whole)>& accept_short,
                            const std::function<TCacheEntry*(std::uint32_t key)>& obtain,
                            const std::function<void(TCacheEntry*, const std::uint8_t*)>& decode);

// Writes every run of modified entries not in use (keys in [skip_first,
// skip_last] left out) with one seek and one write each; entries stay
// modified until their run is written. Answers the number of runs.
std::uint32_t WriteModifiedRuns(TFileHandler& file, TEntryCache& cache, const TCacheLayout& layout,
                                std::uint32_t skip_first, std::uint32_t skip_last,
                                const std::function<void(TCacheEntry*, std::uint8_t*)>& encode,
                                const std::function<void()>& written);

}  // namespace korvex
