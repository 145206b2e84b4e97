// TDataCursor: seeing the changes of other cursors, sessions and processes,
// and the table locks a cursor takes.
//
// Each cursor keeps the table's three update stamps as it last saw them.
// Every reading operation opens with CheckForChangeDetection and ends with
// ReadUnlockTable:
// - by default the cursor peeks at the stamps in the files' headers (no
//   lock); when one moved it takes the table's read lock, whose change
//   detection drops the stale caches, and keeps it until the read ends.
//   Reading an uncached record, page or block also takes the read lock
//   (the files ask their table), so nothing is read from a file while a
//   writer is inside a flush.
// - with the session's StrictChangeDetection the read lock is taken at once
//   and held for the whole read.
// When the stamps moved since the cursor last looked, it returns to the
// record it stood on. An exclusive cursor (unless OverrideExclusive) and a
// read-only table see no changes: nobody else can write.
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"

namespace korvex {

void TDataCursor::SynchLastUpdateStamps() {
  stamps_[0] = table_->GetLastDataUpdateStamp();
  stamps_[1] = table_->GetLastIndexUpdateStamp();
  stamps_[2] = table_->GetLastBlobUpdateStamp();
}

bool TDataCursor::PerformChangeDetection() {
  RequireOpen();
  if ((exclusive_ && !override_exclusive_) || table_->FilesReadOnly()) return false;
  const std::uint32_t now[3] = {table_->GetLastDataUpdateStamp(), table_->GetLastIndexUpdateStamp(),
                                table_->GetLastBlobUpdateStamp()};
  if (now[0] == stamps_[0] && now[1] == stamps_[1] && now[2] == stamps_[2]) return false;
  SynchLastUpdateStamps();
  return true;
}

void TDataCursor::ReturnAfterChange(bool moved_too) {
  // The filters follow the change first: whether the record is still in
  // view is theirs to say.
  CatchUpFilters();
  if (bof_ || eof_ || current_ == 0 || (LeftView() && !moved_too)) return;
  const std::uint32_t n = current_;
  // A record placed on but not read yet has no copy to take its ID from.
  const bool known = unread_ != n;
  const std::uint32_t id = known ? GetRecordID(current_record_.data()) : 0;
  if (!PlaceOnRecord(n, known ? &id : nullptr, moved_too)) KeepPlaceOf(n);
}

void TDataCursor::CatchUpFilters() {
  if (filters_ && filters_in_force_ && filter_changes_ != table_->ChangeCount()) RefreshFilters();
}

bool TDataCursor::PlaceOnRecord(std::uint32_t n, const std::uint32_t* id, bool moved_too) {
  if (n == 0 || n > table_->GetPhysicalRecordsUsed()) return false;
  Key key(kMaxKeySize, 0);
  TRecord* record = FetchRecord(n, 1);
  // The same record: its slot may have gone to another since.
  const bool live = !record->Deleted() && (id == nullptr || record->RecordID() == *id);
  if (live && !IsPhysicalNavigation()) GetKeyValues(record->Data.data(), key.data());
  table_->DataFile().PutRecord(record);
  if (!live || (filters_in_force_ && !RecordVisible(n))) return false;
  if (IsPhysicalNavigation()) {
    LoadCurrent(n);
    return true;
  }
  if (BeyondRange(key, 1) || BeyondRange(key, -1)) return false;
  if (!moved_too && CompareKeys(key.data(), key_.data(), index_def_.KeySize) != 0) return false;
  return FindIndexKey(key.data(), index_def_.KeySize, false) && current_ == n;
}

void TDataCursor::KeepPlaceOf(std::uint32_t n) {
  current_ = n;
  bof_ = eof_ = false;
  unread_ = 0;
  left_ = n;
}

void TDataCursor::CheckForCursorChanges() {
  if (exclusive_ || table_->FilesReadOnly()) return;
  // The peek only decides whether to take the read lock, which a table in
  // a transaction or under a lock of its own never takes (nor needs: no
  // other writer can come in).
  const bool locked = table_->TransactionLockHeld() || table_->InternalWriteLockHeld() ||
                      table_->InternalReadLockHeld() || table_->UserTableLockHeld();
  if (!locked && table_->StampsMoved()) table_->ReadLockTable();
  if (PerformChangeDetection()) ReturnAfterChange();
}

void TDataCursor::CheckForChangeDetection() {
  RequireOpen();
  if (reads_++ > 0) return;
  read_lock_before_ = table_->InternalReadLockHeld();
  try {
    if (directory_->Session()->StrictChangeDetection) ReadLockTable();
    else CheckForCursorChanges();
    // Filter bitmaps follow the changes found now or made by other cursors.
    CatchUpFilters();
  } catch (...) {
    ReadUnlockTable();
    throw;
  }
}

void TDataCursor::ReadUnlockTable() {
  if (reads_ == 0 || --reads_ > 0) return;
  if (open_ && !read_lock_before_ && table_->InternalReadLockHeld()) table_->ReadUnlockTable();
}

bool TDataCursor::ReadLockTable() {
  RequireOpen();
  const bool dropped = table_->ReadLockTable();
  const bool changed = PerformChangeDetection() || dropped;
  if (changed) ReturnAfterChange();
  return changed;
}

void TDataCursor::Refresh() {
  RequireOpen();
  const bool before = table_->InternalReadLockHeld();
  table_->ReadLockTable();
  PerformChangeDetection();
  // Also to a new place in the order: the record, not its old place.
  ReturnAfterChange(true);
  if (!before && table_->InternalReadLockHeld()) table_->ReadUnlockTable();
}

void TDataCursor::WriteLockTable() {
  RequireOpen();
  const bool dropped = table_->WriteLockTable();
  if (PerformChangeDetection() || dropped) ReturnAfterChange();
}
void TDataCursor::WriteUnlockTable() {
  RequireOpen();
  table_->WriteUnlockTable();
}

void TDataCursor::UserReadLockTable() {
  RequireOpen();
  const bool dropped = table_->UserReadLockTable();
  if (PerformChangeDetection() || dropped) ReturnAfterChange();
}
void TDataCursor::UserReadUnlockTable() {
  RequireOpen();
  table_->UserReadUnlockTable();
}

void TDataCursor::UserWriteLockTable() {
  RequireOpen();
  const bool dropped = table_->UserWriteLockTable();
  if (PerformChangeDetection() || dropped) ReturnAfterChange();
}
void TDataCursor::UserWriteUnlockTable() {
  RequireOpen();
  table_->UserWriteUnlockTable();
}

bool TDataCursor::TableIsLocked() {
  RequireOpen();
  return table_->TableIsLocked();
}

bool TDataCursor::RecordIsLocked() {
  RequireOpen();
  if (bof_ || eof_ || current_ == 0) return false;
  return table_->RecordIsLocked(current_);
}

bool TDataCursor::UserLockSemaphore(int n) {
  RequireOpen();
  return table_->UserLockSemaphore(n);
}
void TDataCursor::UserUnlockSemaphore(int n) {
  RequireOpen();
  table_->UserUnlockSemaphore(n);
}

bool TDataCursor::TransactionInProgress() const {
  RequireOpen();
  return table_->GetTransactionInProgress();
}

void TDataCursor::FlushOSBuffers() {
  RequireOpen();
  table_->FlushOSBuffers();
}

bool TDataCursor::TransactionIsLocked() const {
  RequireOpen();
  return table_->TransactionLockHeld();
}

void TDataCursor::FlushBuffers(bool adjust, bool data, bool blobs, bool index) {
  RequireOpen();
  table_->FlushBuffers(adjust, data, index, blobs, false);
  SynchLastUpdateStamps();
}

void TDataCursor::FreeBuffers(bool adjust, bool reread_headers) {
  RequireOpen();
  table_->FreeBuffers(adjust, reread_headers);
}

void TDataCursor::SetIsOpen(bool value) {
  if (value == open_) return;
  if (value) OpenCursor();
  else CloseCursor(true);
}

}  // namespace korvex
