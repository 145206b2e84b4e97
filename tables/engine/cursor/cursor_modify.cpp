// TDataCursor: modifying the current record, in place inside a transaction or as an undoable write.
#include <algorithm>
#include <vector>

#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/cursor/write_scope.h"
#include "tables/engine/table/data_table.h"

namespace korvex {

bool TDataCursor::ModifyInPlace(std::uint8_t* buffer, bool unlock_record, bool reposition) {
  // Inside a transaction nothing is written before the commit, and the
  // closing flush only counts the change; a write already under way keeps
  // its own undo.
  if (!table_->GetTransactionInProgress() || table_->WriteDepth() != 0 || table_->HasBlobs() || suppress_auto_inc_)
    return false;
  const std::uint64_t changes_before = table_->ChangeCount();
  table_->WriteLockTable();
  ScopeExit unlock{[&] {
    try {
      table_->WriteUnlockTable();
    } catch (...) {
    }
  }};
  CheckRecordValidity(buffer);
  TDataFile& data = table_->DataFile();
  const std::uint32_t n = current_;
  TRecord* record = FetchRecord(n, 1);
  if (record->Deleted()) {
    data.PutRecord(record);
    Fail(err::kRecordChanged);
  }
  PutRecordID(record->RecordID(), buffer);
  buffer[0] = 0;
  if (!SameKeyBytesEverywhere(record->Data.data(), buffer)) {
    data.PutRecord(record);
    return false;
  }
  // Storing takes no memory and evaluates nothing when the buffers have
  // their sizes already and no field is calculated: it cannot fail then,
  // and nothing is kept to put back.
  const bool can_fail = has_calculated_ || record->Data.size() != physical_size_ ||
                        current_record_.capacity() < std::max<std::size_t>(record_size_, physical_size_);
  if (!can_fail) {
    StoreRecord(buffer, record, n);
    data.PutRecord(record);
    Flush(false, false);
    ModifyDone(n, false, changes_before, unlock_record, reposition);
    return true;
  }
  before_image_.assign(record->Data.begin(), record->Data.end());
  before_current_.assign(current_record_.begin(), current_record_.end());
  const bool was_modified = record->Modified;
  try {
    StoreRecord(buffer, record, n);
  } catch (...) {
    record->Data.assign(before_image_.begin(), before_image_.end());
    record->Modified = was_modified;
    data.PutRecord(record);
    current_record_.assign(before_current_.begin(), before_current_.end());
    throw;
  }
  data.PutRecord(record);
  Flush(false, false);
  ModifyDone(n, false, changes_before, unlock_record, reposition);
  return true;
}

void TDataCursor::ModifyRecord(std::uint8_t* buffer, bool unlock_record, bool reposition) {
  RequireOpen();
  CheckNotReadOnly();
  if (bof_ || eof_ || current_ == 0) Fail(err::kNoCurrentRecord);
  if (ModifyInPlace(buffer, unlock_record, reposition)) return;
  const std::uint64_t changes_before = table_->ChangeCount();
  TWriteScope scope(*this);
  CheckRecordValidity(buffer);
  TDataFile& data = table_->DataFile();
  const std::uint32_t n = current_;
  TRecord* record = FetchRecord(n, 1);
  bool blobs_written = false, keys_changed = false;
  TStoredBlobs stored(*this, buffer);
  try {
    if (record->Deleted()) Fail(err::kRecordChanged);
    if (!suppress_auto_inc_) {
      PutRecordID(record->RecordID(), buffer);
    } else if (GetRecordID(buffer) > data.GetLastRecordID()) {
      data.SetNextFreeRecordID(GetRecordID(buffer));
    }
    buffer[0] = 0;
    // Old and new keys differ when the index's order tells them apart;
    // equal keys of other bytes (another case or accent under a language)
    // still take the new bytes.
    TSlotList positions = KeyedPositions();
    if (suppress_auto_inc_) positions.push_back(kSystemSlot);
    for (std::uint8_t slot : positions) {
      // An edit that leaves an index's fields alone builds none of its keys.
      if (SameKeyBytes(slot, record->Data.data(), buffer)) continue;
      const Key old_key = KeyOf(slot, record->Data.data()), new_key = KeyOf(slot, buffer);
      keys_changed = keys_changed || old_key != new_key;
      if (slot != kSystemSlot) ReplaceKey(slot, old_key, new_key, n);
      else if (!ReplaceSystemKey(old_key.data(), new_key.data(), n)) RaiseKeyViolation(slot);
    }
    blobs_written = StoreRecord(buffer, record, n);
  } catch (...) {
    data.PutRecord(record);
    throw;
  }
  data.PutRecord(record);
  Flush(blobs_written, keys_changed);
  stored.Keep();
  ModifyDone(n, keys_changed, changes_before, unlock_record, reposition);
}

void TDataCursor::ModifyDone(std::uint32_t n, bool keys_changed, std::uint64_t changes_before, bool unlock_record,
                             bool reposition) {
  // Nothing but this write changed the table, and no key of it: the record
  // keeps its place in every order, and only its bytes are read again.
  const bool in_place = !keys_changed && !filters_in_force_ && table_->ChangeCount() == changes_before &&
                        !IsPhysicalNavigation() && current_ == n && !bof_ && !eof_;
  FilterRecordWritten(n);
  if (unlock_record) UserWriteUnlockRecord(n);
  // The write is in the files: failing to find its place again (a read
  // error) leaves the cursor before the first record rather than report a
  // write that took place as failed.
  if (reposition) {
    try {
      if (in_place) LoadCurrent(n);
      else RepositionCurrentRecord();
    } catch (...) {
      SetToBegin();
    }
  }
}

}  // namespace korvex
