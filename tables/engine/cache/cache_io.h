// The transfers of a table file: positioned reads and writes under the file
// handler's lock, reading a window of neighbouring entries into the cache in
// one call, and writing each run of neighbouring modified entries in one
// call. Entries of a file all have the same size; neighbours' keys differ by
// `step` (1 for records, the block size for BLOB blocks).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "tables/engine/cache/entry_cache.h"
#include "tables/engine/cache/table_host.h"
#include "tables/lib/file_handler.h"

namespace korvex {

// Seek and transfer as one step under the handler's lock. A count of 0
// written cuts the file at the position. Reads raise 9217 when short unless
// `allow_short`; they answer the bytes read.
std::int64_t ReadAt(TFileHandler& file, std::uint64_t position, void* buffer, std::int64_t count,
                    bool allow_short = false);
void WriteAt(TFileHandler& file, std::uint64_t position, const void* buffer, std::int64_t count);

struct TCacheLayout {
  std::uint32_t entry_size;
  std::uint32_t step;
  // File position of the entry with a key.
  std::function<std::uint64_t(std::uint32_t key)> position;
  // The entries of a piece a long run goes out in through one buffer of at
  // most 256 KB (a run can be the whole file).
  std::size_t EntriesPerPiece() const { return std::max<std::size_t>(1, (std::size_t{256} << 10) / entry_size); }
};

// Keys of the entries being read ahead (none when first > last): a flush
// started while reading leaves them alone.
struct TReadWindow {
  std::uint32_t first = 1;
  std::uint32_t last = 0;
};

// Reads `count` entries from `first` in one call. Each entry read that is
// not cached gets a place from `obtain` and is decoded; a cached one neither
// modified nor in use is decoded again; the rest are left as they are. The
// entries are taken from the end of the window away from `asked` (the
// first or the last key of the window, the one the caller wants) toward it,
// so the entry asked for comes last and the window cannot push it out of a
// cache whose other entries are all held. A
// short read raises 9217 unless the table has written since it opened and
// writes alone or holds its writes (appended entries may still be only in
// the cache). `read` (when given) reads the window's bytes instead of the
// file, answering how many it read (a short read is allowed).
using TWindowReader = std::function<std::int64_t(std::uint64_t position, std::uint8_t* out, std::int64_t count)>;
void ReadIntoCache(TFileHandler& file, TTableHost& host, TEntryCache& cache, const TCacheLayout& layout,
                   TReadWindow& window, std::uint32_t first, std::uint32_t count, std::uint32_t asked,
                   std::vector<std::uint8_t>& buffer, const std::function<TCacheEntry*(std::uint32_t key)>& obtain,
                   const std::function<void(TCacheEntry*, const std::uint8_t*)>& decode,
                   const TWindowReader& read = {});

// Writes every run of modified entries not in use and outside the window
// with one seek and one write each; entries stay modified until their run is
// written. Tells the host of each write and flushes to disk when asked or
// when the session says so. Answers the number of runs.
std::uint32_t WriteModifiedRuns(TFileHandler& file, TTableHost& host, TEntryCache& cache, const TCacheLayout& layout,
                                const TReadWindow& window, bool flush_to_disk,
                                const std::function<void(TCacheEntry*, std::uint8_t*)>& encode);

}  // namespace korvex
