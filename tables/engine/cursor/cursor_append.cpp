// TDataCursor: appending records, one at a time or many to an empty in-memory table at once.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "platform/runtime/coding.h"
#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/cursor/write_scope.h"
#include "tables/engine/table/data_table.h"

namespace korvex {

void TDataCursor::AppendRecord(std::uint8_t* buffer, bool reposition) {
  RequireOpen();
  CheckNotReadOnly();
  TWriteScope scope(*this);
  TDataFile& data = table_->DataFile();
  const std::uint32_t n = data.GetNextFreeRecordNumber();
  // A record past the end of the table is seen by no one before this write
  // (or its transaction) ends: every other writer waits for the lock this
  // one holds. Only a record of the free chain is locked.
  const bool reused = n <= data.GetPhysicalRecordsUsed();
  if (reused) UserWriteLockRecord(n);
  ScopeExit unlock{[&] {
    try {
      if (reused) UserWriteUnlockRecord(n);
    } catch (...) {
    }
  }};
  CheckRecordValidity(buffer);
  if (!suppress_auto_inc_) PutRecordID(PeekNextRecordID(), buffer);
  buffer[0] = 0;
  Key old_system;
  if (n <= data.GetPhysicalRecordsUsed()) {  // a record of the free chain
    TRecord* reused = FetchRecord(n, 1);
    old_system = KeyOf(kSystemSlot, reused->Data.data());
    data.PutRecord(reused);
  }
  // The first change; a key violation refuses the write here.
  std::uint32_t rank = 0;
  AddKeys(buffer, n, rank);
  std::array<std::uint8_t, kMaxKeySize> system_key{};
  BuildKey(kSystemSlot, buffer, system_key.data());
  ReplaceSystemKey(old_system.empty() ? nullptr : old_system.data(), system_key.data(), n,
                   index_pos_ == kSystemSlot ? &rank : nullptr);
  TRecord* record = nullptr;
  for (int attempt = 0; !data.GetNextFreeRecord(this, record); ++attempt)
    if (attempt == 3) Fail(err::kLockFailure);
  bool blobs_written = false;
  TStoredBlobs stored(*this, buffer);
  try {
    if (!suppress_auto_inc_) {
      PutRecordID(data.GetNextFreeRecordID(), buffer);
    } else {
      std::uint32_t last = data.GetLastRecordID();
      data.SetNextFreeRecordID(std::max(last >= 0x7FFFFFFF ? 1 : last + 1, GetRecordID(buffer)));
    }
    blobs_written = StoreRecord(buffer, record, record->Number());
  } catch (...) {
    data.PutRecord(record);
    throw;
  }
  data.PutRecord(record);
  table_->IndexFile().IncActualRecordCount();
  current_ = record->Number();
  bof_ = eof_ = false;
  Flush(blobs_written);
  stored.Keep();
  FilterRecordWritten(current_);
  if (!reposition) return;
  if (rank != 0 && !range_active_ && !filters_in_force_) {
    // The insert gave the new key's rank in the current index: the cursor
    // stands there.
    GetKeyValues(current_record_.data(), key_.data());
    key_number_ = rank;
    return;
  }
  // The write is in the files: failing to find its place again (a read
  // error) leaves the cursor before the first record rather than report a
  // write that took place as failed.
  try {
    RepositionCurrentRecord();
  } catch (...) {
    SetToBegin();
  }
}

void TDataCursor::AppendRecords(const std::uint8_t* buffers, std::uint32_t count) {
  RequireOpen();
  CheckNotReadOnly();
  if (count == 0) return;
  TDataFile& data = table_->DataFile();
  TIndexFile& index = table_->IndexFile();
  const std::uint32_t used = data.GetPhysicalRecordsUsed();
  const bool whole = table_->InMemory() && table_->Exclusive() && !table_->GetTransactionInProgress() &&
                     !table_->HasBlobs() && index.GetIndexCount() == 0 && index.GetNoPrimaryIndex() &&
                     !suppress_auto_inc_ && !filters_in_force_ && data.GetNextFreeRecordNumber() == used + 1 &&
                     std::uint64_t{data.GetLastRecordID()} + count <= 0x7FFFFFFF;
  if (!whole) {
    std::vector<std::uint8_t> buffer(record_size_);
    for (std::uint32_t i = 0; i < count; ++i) {
      std::memcpy(buffer.data(), buffers + std::size_t{i} * record_size_, record_size_);
      AppendRecord(buffer.data(), false);
    }
    return;
  }
  // Records the cache still holds changed reach the file first, so the new
  // ones follow bytes that are there.
  data.FlushRecordBuffers(false);
  TWriteScope scope(*this);
  const std::size_t size = physical_size_;
  std::vector<std::uint8_t> records(size * count);
  std::uint32_t id = data.GetLastRecordID();
  // Record numbers and IDs both grow, so every system key goes to the
  // tree's right edge. A table whose system index was never filled stays
  // without one, as with single appends.
  const bool keyed = index.GetRootPtr(kSystemSlot) != 0 || used == 0;
  const TKeyComparator compare;
  TIndexTree tree(index, kSystemSlot, compare, this);
  std::uint8_t key[kRecordIDKeySize + 1] = {};
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* from = buffers + std::size_t{i} * record_size_;
    CheckRecordValidity(from);
    std::uint8_t* to = records.data() + std::size_t{i} * size;
    std::memcpy(to + kRecordPrefixSize, from + kRecordPrefixSize, size - kRecordPrefixSize);
    to[0] = 0;
    rtl::EncodeFixed32(to + 1, used + 1 + i);
    rtl::EncodeFixed32(to + kRecordIDOffset, ++id);
    if (keyed) {
      BuildSystemKey(to, key);
      tree.Add(key, used + 1 + i);
    }
  }
  data.AppendWholeRecords(records.data(), count);
  index.SetActualRecordCount(index.GetActualRecordCount() + count);
  current_ = used + count;
  bof_ = eof_ = false;
  current_record_.assign(records.end() - static_cast<std::ptrdiff_t>(size), records.end());
  unread_ = 0;
  CompleteCurrent();
  Flush(false);
  for (std::uint32_t n = used + 1; n <= used + count; ++n) FilterRecordWritten(n);
}

}  // namespace korvex
