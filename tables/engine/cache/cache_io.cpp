#include "tables/engine/cache/cache_io.h"

#include <algorithm>

#include "tables/engine/base/scope_exit.h"
#include "tables/engine/errors/errors.h"

namespace korvex {

std::int64_t ReadAt(TFileHandler& file, std::uint64_t position, void* buffer, std::int64_t count, bool allow_short) {
  file.LockFileHandler();
  ScopeExit unlock{[&] { file.UnlockFileHandler(); }};
  file.Seek(static_cast<std::int64_t>(position), 0);
  return file.Read(buffer, count, allow_short);
}

void WriteAt(TFileHandler& file, std::uint64_t position, const void* buffer, std::int64_t count) {
  file.LockFileHandler();
  ScopeExit unlock{[&] { file.UnlockFileHandler(); }};
  file.Seek(static_cast<std::int64_t>(position), 0);
  file.Write(buffer, count);
}

void ReadIntoCache(TFileHandler& file, TTableHost& host, TEntryCache& cache, const TCacheLayout& layout,
                   TReadWindow& window, std::uint32_t first, std::uint32_t count, std::uint32_t asked,
                   std::vector<std::uint8_t>& buffer, const std::function<TCacheEntry*(std::uint32_t key)>& obtain,
                   const std::function<void(TCacheEntry*, const std::uint8_t*)>& decode,
                   const TWindowReader& read) {
  const std::int64_t length = std::int64_t{count} * layout.entry_size;
  // Grown only: a window read after a smaller one fills no bytes twice.
  if (buffer.size() < static_cast<std::size_t>(length)) buffer.resize(static_cast<std::size_t>(length));
  window = {first, first + (count - 1) * layout.step};
  cache.BeginWindow();
  ScopeExit close_window{[&] {
    window = {};
    cache.EndWindow();
  }};
  std::int64_t got = read ? read(layout.position(first), buffer.data(), length)
                          : ReadAt(file, layout.position(first), buffer.data(), length, true);
  if (got < length && !(host.Written() && (host.Exclusive() || host.WritesHeld())))
    RaiseError(err::kReadError, host.TableName());
  const auto whole = static_cast<std::uint32_t>(got / layout.entry_size);
  const bool asked_first = asked == first;
  for (std::uint32_t k = 0; k < whole; ++k) {
    const std::uint32_t i = asked_first ? whole - 1 - k : k;
    std::uint32_t key = first + i * layout.step;
    const std::uint8_t* bytes = buffer.data() + std::size_t{i} * layout.entry_size;
    TCacheEntry* entry = cache.Find(key);
    if (!entry) decode(obtain(key), bytes);
    else if (entry->Evictable()) decode(entry, bytes);
  }
}

std::uint32_t WriteModifiedRuns(TFileHandler& file, TTableHost& host, TEntryCache& cache, const TCacheLayout& layout,
                                const TReadWindow& window, bool flush_to_disk,
                                const std::function<void(TCacheEntry*, std::uint8_t*)>& encode) {
  std::uint32_t count = 0;
  const std::size_t piece = layout.EntriesPerPiece();
  // Kept from call to call: a commit's runs need not be zero-filled anew.
  thread_local std::vector<std::uint8_t> out;
  // The runs one after another, not a list each.
  std::vector<TCacheEntry*> entries;
  std::vector<std::size_t> starts;
  cache.ModifiedRuns(layout.step, window.first, window.last, entries, starts);
  for (std::size_t r = 0; r + 1 < starts.size(); ++r) {
    TCacheEntry* const* run = entries.data() + starts[r];
    const std::size_t size = starts[r + 1] - starts[r];
    for (std::size_t first = 0; first < size; first += piece) {
      const std::size_t n = std::min(piece, size - first);
      const std::int64_t position = static_cast<std::int64_t>(layout.position(run[first]->Key));
      const auto length = static_cast<std::int64_t>(n * layout.entry_size);
      // Encoded straight into the journal's held bytes where it holds the
      // write, else through the buffer.
      std::uint8_t* target = file.WriteInPlace(position, length);
      const bool held = target != nullptr;
      if (!held) {
        out.resize(static_cast<std::size_t>(length));
        target = out.data();
      }
      for (std::size_t i = 0; i < n; ++i) encode(run[first + i], target + i * layout.entry_size);
      if (!held) WriteAt(file, static_cast<std::uint64_t>(position), target, length);
      for (std::size_t i = 0; i < n; ++i) run[first + i]->Modified = false;
    }
    host.MarkWritten();
    ++count;
  }
  if (count > 0 && (flush_to_disk || host.ForceBufferFlush())) file.Flush();
  return count;
}

}  // namespace korvex
