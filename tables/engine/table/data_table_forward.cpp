// TDataTable: header values, counters and cache statistics of its files,
// the stamp peek of the cursors' change checks and the header checks.
#include <algorithm>

#include "tables/engine/files/index_tree.h"
#include "tables/engine/table/data_table.h"

namespace korvex {

bool TDataTable::StampsMoved() {
  if (!open_ || LocksSkipped()) return false;
  if (data_->StampChanged()) return true;
  if (index_->IsOpen() && index_->StampChanged()) return true;
  return HasBlobs() && blob_->IsOpen() && blob_->StampChanged();
}

void TDataTable::CheckHeaders(bool names) {
  data_->CheckHeader(names);
  if (!in_memory_ && index_->IsOpen()) index_->CheckHeader();
  if (HasBlobs() && blob_->IsOpen()) blob_->CheckHeader();
}

void TDataTable::CheckIndexCounts(void* cursor) {
  if (in_memory_) return;
  if (HasBlobs() && blob_->IsOpen() && static_cast<std::uint64_t>(blob_->GetSize()) < blob_->GetFileSize())
    Fail(err::kBlobBlocksCorrupt);
  if (index_created_ || !index_->IsOpen()) return;
  if (static_cast<std::uint64_t>(index_->GetSize()) < index_->GetFileSize()) Fail(err::kIndexPagesCorrupt);
  const std::uint32_t physical = data_->GetPhysicalRecordsUsed();
  const std::uint32_t live = index_->GetActualRecordCount();
  const TKeyComparator bytes;
  auto keys = [&](std::uint8_t slot) { return TIndexTree(*index_, slot, bytes, cursor).Count(); };
  bool agree = live <= physical && keys(kSystemSlot) == physical;
  if (agree && !index_->GetNoPrimaryIndex()) agree = keys(0) == live;
  for (std::uint8_t s = 1; agree && s <= index_->GetIndexCount(); ++s) agree = keys(s) == live;
  if (!agree) Fail(err::kIndexPagesCorrupt);
}

std::uint32_t TDataTable::GetDataFileSize() const {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(data_->GetFileSize(), UINT32_MAX));
}

std::uint32_t TDataTable::GetBlobFileSize() const {
  return HasBlobs() && blob_->IsOpen() ? blob_->GetFileSize() : 0;
}

std::uint32_t TDataTable::GetLastBlobUpdateStamp() const {
  return HasBlobs() && blob_->IsOpen() ? blob_->GetLastUpdateStamp() : 0;
}

// Every request that found its entry cached is a hit; every read of the
// file a miss.
std::uint32_t TDataTable::GetDataRecordCacheHits() const { return data_->Statistics().CacheHits; }
std::uint32_t TDataTable::GetDataRecordCacheMisses() const { return data_->Statistics().CacheMisses; }
std::uint32_t TDataTable::GetDataRecordReads() const { return data_->Statistics().BulkReads; }
std::uint32_t TDataTable::GetDataRecordWrites() const { return data_->Statistics().WriteRuns; }

std::uint32_t TDataTable::GetIndexPageCacheHits() const {
  const TIndexFileStatistics& s = index_->Statistics();
  return s.Requests - std::min(s.Requests, s.Reads);
}
std::uint32_t TDataTable::GetIndexPageCacheMisses() const { return index_->Statistics().Reads; }
std::uint32_t TDataTable::GetIndexPageReads() const { return index_->Statistics().Reads; }
std::uint32_t TDataTable::GetIndexPageWrites() const { return index_->Statistics().Writes; }

std::uint32_t TDataTable::GetBlobBlockCacheHits() const {
  const TBlobFileStatistics& s = blob_->Statistics();
  return s.Requests - std::min(s.Requests, s.ReadsBegun);
}
std::uint32_t TDataTable::GetBlobBlockCacheMisses() const { return blob_->Statistics().ReadsBegun; }
std::uint32_t TDataTable::GetBlobBlockReads() const { return blob_->Statistics().ReadsDone; }
std::uint32_t TDataTable::GetBlobBlockWrites() const { return blob_->Statistics().WriteRuns; }

}  // namespace korvex
