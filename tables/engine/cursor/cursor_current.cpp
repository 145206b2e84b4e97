// TDataCursor: the current record (reading, cloning and locking it), going to a record by its number, counts.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/runtime/coding.h"
#include "platform/runtime/sysutils.h"
#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"

namespace korvex {

TEngineErrorCode TDataCursor::GetCurrentRecord(std::uint8_t* buffer, bool lock) {
  RequireOpen();
  const std::uint32_t n = current_;
  lock = lock && !bof_ && !eof_;
  // The record lock comes before the read lock: a reader waiting for a
  // record must not keep out the writer that holds it.
  if (lock) UserWriteLockRecord(n);
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  if (bof_ && eof_) return CopyCurrent(buffer, err::kNoCurrentRecord);
  if (bof_ || eof_) return CopyCurrent(buffer, bof_ ? err::kBeginningOfFile : err::kEndOfFile);
  if (LeftView()) {
    // The change check of this read found the record gone from the view;
    // the caller's copy of it stays as it was.
    if (lock) UserWriteUnlockRecord(n);
    return err::kRecordChanged;
  }
  if (lock) {
    if (!exclusive_ && buffer && CurrentRecordDiffers(buffer)) {
      UserWriteUnlockRecord(n);
      Fail(err::kRecordChanged);
    }
  }
  LoadCurrent(n);
  if (current_record_[0] != 0) return CopyCurrent(buffer, err::kRecordChanged);  // deleted meanwhile
  return CopyCurrent(buffer, 0);
}

TEngineErrorCode TDataCursor::CloneCurrentRecord(std::uint8_t* buffer) {
  RequireOpen();
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  if (bof_ || eof_ || current_ == 0) return err::kNoCurrentRecord;
  if (LeftView()) return err::kRecordChanged;
  LoadCurrent(current_);
  if (current_record_[0] != 0) return err::kRecordChanged;  // deleted meanwhile
  const std::vector<std::uint8_t> source = current_record_;
  ClearRecord(buffer);
  for (int f = 1; f <= GetFieldCount(); ++f) {
    const TFieldDefinition& def = FieldAt(f);
    std::vector<std::uint8_t> value(std::size_t{def.PhysicalSize} + 1, 0);
    if (def.IsAutoIncrement() || InternalGetField(def, source.data(), value.data())) continue;
    if (def.DataType != dtBlob) {
      InternalPutField(def, buffer, value.data(), true);
      continue;
    }
    // A new BLOB of the buffer with the same content.
    const std::vector<std::uint8_t> content = ReadBlobContent(f, source.data());
    if (!content.empty()) PutBlobContent(f, buffer, content);
  }
  if (suppress_auto_inc_) PutRecordID(GetRecordID(source.data()), buffer);
  return 0;
}

TEngineErrorCode TDataCursor::GotoPhysicalRecordNumber(std::uint32_t n) {
  RequireOpen();
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  const TEngineErrorCode status = GotoLiveRecord(n);
  if (status != err::kRecordNotFound || !IsPhysicalNavigation() || n < 1 ||
      n > table_->DataFile().GetPhysicalRecordsUsed())
    return status;
  // A deleted record: the nearest live one after it, else before it.
  std::uint32_t nearest = Neighbour(n, 1);
  if (nearest == 0) nearest = Neighbour(n, -1);
  if (nearest != 0) LoadCurrent(nearest);
  else SetToBegin();
  return status;
}

TEngineErrorCode TDataCursor::GotoLiveRecord(std::uint32_t n) {
  if (n < 1 || n > table_->DataFile().GetPhysicalRecordsUsed()) return err::kRecordNotFound;
  TRecord* record = FetchRecord(n, 1);
  bool live = !record->Deleted();
  table_->DataFile().PutRecord(record);
  if (!live) return err::kRecordNotFound;
  LoadCurrent(n);
  if (!IsPhysicalNavigation()) {
    // The record's place in the current order (outside a range: not found).
    RepositionCurrentRecord();
    if (bof_ || eof_ || current_ != n) return err::kRecordNotFound;
  }
  return 0;
}

TEngineErrorCode TDataCursor::SetToRecordBuffer(const TDataCursor& other) {
  RequireOpen();
  if (!other.open_ || other.bof_ || other.eof_ || other.current_ == 0 || other.LeftView())
    return err::kNoCurrentRecord;
  if (other.table_ != table_ && !(rtl::SameText(other.table_->GetTableName(), table_->GetTableName()) &&
                                  rtl::SameText(other.directory_->Path(), directory_->Path())))
    return err::kRecordNotFound;
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  const TEngineErrorCode status = GotoLiveRecord(other.current_);
  if (status != 0) return status;
  return !filters_in_force_ || RecordVisible(current_) ? 0 : err::kRecordNotFound;
}

bool TDataCursor::ReturnToRecord(const std::uint8_t* record, const std::uint8_t* bookmark) {
  RequireOpen();
  const std::uint32_t n = rtl::DecodeFixed32(record + 1);
  if (n == 0) return SetToBookmark(bookmark);
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  const std::uint32_t id = GetRecordID(record);
  if (PlaceOnRecord(n, &id, true)) return true;
  if (!IsPhysicalNavigation()) std::copy(bookmark, bookmark + index_def_.KeySize, key_.begin());
  current_record_.assign(record, record + record_size_);
  KeepPlaceOf(n);
  return false;
}

std::uint32_t TDataCursor::GetRecordNumber() {
  RequireOpen();
  if (bof_ || eof_ || current_ == 0) return 0;
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  if (LeftView()) return 0;
  if (!IsPhysicalNavigation()) {
    bool gone = false;
    const std::uint32_t rank = LocateCurrentKey(gone);
    if (gone) return 0;
    std::uint32_t first = 1, last = 0;
    if (range_active_) RangeBounds(first, last);
    if (rank < first) return 0;
    if (!filters_in_force_) return rank - first + 1;
    std::uint32_t count = 0;
    Tree().ScanRecords(first, rank - first + 1, [&](std::uint32_t n) { count += RecordVisible(n); });
    return count;
  }
  if (filters_in_force_)
    return RecordVisible(current_)
               ? static_cast<std::uint32_t>(filters_->Combined().GetPreviousTotalBitsSet(static_cast<std::int32_t>(current_))) + 1
               : 0;
  std::uint32_t rank = 0;
  if (LiveRank(current_, rank)) return rank;
  std::uint32_t count = 0;
  for (std::uint32_t n = Neighbour(0, 1); n != 0 && n <= current_; n = Neighbour(n, 1)) ++count;
  return count;
}

std::uint32_t TDataCursor::GetRecordCount() {
  RequireOpen();
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  // Under filters the filter bitmap's count takes the place of these.
  if (filters_in_force_) return filters_->FilteredCount();
  if (!IsPhysicalNavigation()) {
    std::uint32_t first = 0, last = 0;
    RangeBounds(first, last);
    return last >= first ? last - first + 1 : 0;
  }
  return table_->IndexFile().GetActualRecordCount();
}

bool TDataCursor::CurrentRecordDiffers(const std::uint8_t* buffer) {
  TRecord* record = FetchRecord(current_, 1);
  ScopeExit put{[&] { table_->DataFile().PutRecord(record); }};
  const std::vector<std::uint8_t>& stored = record->Data;
  if (stored[0] != 0) return true;  // deleted
  const std::uint8_t* mine = buffer;
  // An open BLOB compares by the reference it was opened from.
  if (table_->HasBlobs()) {
    before_current_.assign(buffer, buffer + record_size_);
    for (const TFieldDefinition& def : fields_) {
      if (def.DataType != dtBlob) continue;
      if (TOpenBlob* blob = BlobOf(def, buffer))
        rtl::EncodeFixed32(before_current_.data() + def.Offset + 1, blob->Buffer->FirstBlock());
    }
    mine = before_current_.data();
  }
  return rtl::DecodeFixed32(stored.data() + kRecordIDOffset) != rtl::DecodeFixed32(mine + kRecordIDOffset) ||
         !std::equal(stored.begin() + kRecordPrefixSize, stored.end(), mine + kRecordPrefixSize);
}

// ---- record locks ----------------------------------------------------------------

void TDataCursor::UserWriteLockRecord(std::uint32_t n) {
  RequireOpen();
  if (n == 0) n = current_;
  const auto at = std::lower_bound(record_locks_.begin(), record_locks_.end(), n);
  if (at != record_locks_.end() && *at == n) return;
  if (table_->CheckForCursorRecordWriteLock(n)) Fail(err::kRecordInUse);
  bool before = table_->InternalReadLockHeld();
  table_->UserWriteLockRecord(n);
  if (!before && table_->InternalReadLockHeld()) table_->ReadUnlockTable();
  table_->AddCursorRecordWriteLock(n);
  record_locks_.insert(at, n);
}

void TDataCursor::UserWriteUnlockRecord(std::uint32_t n) {
  RequireOpen();
  if (n == 0) n = current_;
  const auto at = std::lower_bound(record_locks_.begin(), record_locks_.end(), n);
  if (at == record_locks_.end() || *at != n) return;
  record_locks_.erase(at);
  table_->RemoveCursorRecordWriteLock(n);
  table_->UserWriteUnlockRecord(n);
}

}  // namespace korvex
