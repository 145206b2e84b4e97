// TSpillFile: the private file a transaction's changed entries wholly past
// a table file's end go to once the caches hold too many of them. A
// transaction writes its table files only at its commit, so until then
// those bytes exist nowhere else: the cache's entry (newer, where there is
// one) or this file. It holds the bytes of the table file's positions from
// Base() on at (position - Base()), up to End(); it has no name once made,
// so it goes with its descriptor however the process ends, and the table
// file itself stays untouched until the commit's flush copies it in (the
// bytes lie past the file's old length, so the journal keeps nothing of
// them).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tables/engine/cache/cache_io.h"
#include "tables/engine/cache/entry_cache.h"
#include "tables/engine/cache/scratch_file.h"

namespace korvex {

class TSpillFile {
public:
  bool Active() const { return file_ != nullptr; }
  std::uint64_t Base() const { return base_; }
  std::uint64_t End() const { return end_; }
  // Bytes written to this spill file so far (tests).
  std::uint64_t Written() const { return written_; }

  // When the caches of a transaction spill: past `record_bytes` of cached
  // records (default 4 MB), past `pages` cached index pages (default
  // 32,768); 0 puts a default back. Tests make them small.
  static void SetLimits(std::size_t record_bytes, std::size_t pages);
  static std::size_t RecordBytes();
  static std::size_t Pages();

  // Makes the file (in `directory`) for the bytes from file position `base`.
  void Start(const std::string& directory, std::uint64_t base);
  // Lets the file go (its bytes were copied, or the changes are dropped).
  void Drop();
  // The bytes of file positions [position, position + count), all at or
  // past Base(), as far as the spill file holds them; answers how many.
  std::int64_t Read(std::uint64_t position, std::uint8_t* out, std::int64_t count);
  // Writes the modified entries not in use whose keys are `first_key` or
  // more, each run in pieces of at most 256 KB, and marks them clean;
  // `spilled` is told of each once its piece is in the file.
  void Spill(TEntryCache& cache, const TCacheLayout& layout, std::uint32_t first_key,
             const std::function<void(TCacheEntry*, std::uint8_t*)>& encode,
             const std::function<void(TCacheEntry*)>& spilled);
  // Copies [Base(), End()) into `file` at the same positions, in pieces of
  // 1 MB, straight into the journal's held bytes where it holds the writes.
  void CopyInto(TFileHandler& file);

private:
  std::unique_ptr<TScratchFile> file_;
  std::uint64_t base_ = 0, end_ = 0, written_ = 0;
};

}  // namespace korvex
