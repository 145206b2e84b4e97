#include "tables/engine/cache/spill_file.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/runtime/files.h"
#include "tables/engine/errors/errors.h"

namespace korvex {
namespace {

constexpr std::size_t kRecordBytes = std::size_t{4} << 20;
// Index pages: new keys at random (a name index of a large import) land on
// any leaf, and a leaf written to the spill file comes back for the next
// key it takes; 32,768 pages (128 MB) keep the index of a million records
// whole. Records are appended in order and come back seldom.
constexpr std::size_t kPages = 32768;
std::atomic<std::size_t> record_bytes{kRecordBytes};
std::atomic<std::size_t> pages{kPages};

}  // namespace

void TSpillFile::SetLimits(std::size_t record_limit, std::size_t page_limit) {
  record_bytes = record_limit > 0 ? record_limit : kRecordBytes;
  pages = page_limit > 0 ? page_limit : kPages;
}
std::size_t TSpillFile::RecordBytes() { return record_bytes; }
std::size_t TSpillFile::Pages() { return pages; }

void TSpillFile::Start(const std::string& directory, std::uint64_t base) {
  auto file = std::make_unique<TScratchFile>(directory, ".SPL", false);
  // Nameless from now on: nothing of it outlives the process.
  rtl::DeleteFile(file->Name());
  file_ = std::move(file);
  base_ = end_ = base;
}

void TSpillFile::Drop() {
  file_.reset();
  base_ = end_ = 0;
}

std::int64_t TSpillFile::Read(std::uint64_t position, std::uint8_t* out, std::int64_t count) {
  if (!file_ || position < base_ || position >= end_) return 0;
  const auto have = static_cast<std::int64_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(count), end_ - position));
  return ReadAt(file_->File(), position - base_, out, have, true);
}

void TSpillFile::Spill(TEntryCache& cache, const TCacheLayout& layout, std::uint32_t first_key,
                       const std::function<void(TCacheEntry*, std::uint8_t*)>& encode,
                       const std::function<void(TCacheEntry*)>& spilled) {
  if (!file_) return;
  std::vector<TCacheEntry*> entries;
  std::vector<std::size_t> starts;
  cache.ModifiedRuns(layout.step, 0, first_key - 1, entries, starts);
  const std::size_t piece = layout.EntriesPerPiece();
  std::vector<std::uint8_t> out;
  for (std::size_t r = 0; r + 1 < starts.size(); ++r) {
    TCacheEntry* const* run = entries.data() + starts[r];
    const std::size_t size = starts[r + 1] - starts[r];
    for (std::size_t first = 0; first < size; first += piece) {
      const std::size_t n = std::min(piece, size - first);
      out.resize(n * layout.entry_size);
      for (std::size_t i = 0; i < n; ++i) encode(run[first + i], out.data() + i * layout.entry_size);
      const std::uint64_t position = layout.position(run[first]->Key);
      WriteAt(file_->File(), position - base_, out.data(), static_cast<std::int64_t>(out.size()));
      end_ = std::max<std::uint64_t>(end_, position + out.size());
      written_ += out.size();
      for (std::size_t i = 0; i < n; ++i) {
        run[first + i]->Modified = false;
        spilled(run[first + i]);
      }
    }
  }
}

void TSpillFile::CopyInto(TFileHandler& file) {
  if (!file_) return;
  constexpr std::int64_t kPiece = std::int64_t{1} << 20;
  std::vector<std::uint8_t> buffer;
  const auto total = static_cast<std::int64_t>(end_ - base_);
  for (std::int64_t at = 0; at < total; at += kPiece) {
    const std::int64_t length = std::min(kPiece, total - at);
    const auto position = static_cast<std::int64_t>(base_) + at;
    std::uint8_t* target = file.WriteInPlace(position, length);
    const bool held = target != nullptr;
    if (!held) {
      buffer.resize(static_cast<std::size_t>(length));
      target = buffer.data();
    }
    if (ReadAt(file_->File(), static_cast<std::uint64_t>(at), target, length, true) != length)
      RaiseError(err::kReadError, file.FileName());
    if (!held) WriteAt(file, static_cast<std::uint64_t>(position), target, length);
  }
}

}  // namespace korvex
