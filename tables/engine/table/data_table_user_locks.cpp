// TDataTable: the user locks of records, of the table and of semaphores,
// and the bitmaps of the records held.
#include <algorithm>

#include "tables/engine/table/data_table.h"
#include "tables/engine/table/lock_ranges.h"

namespace korvex {

void TDataTable::GrowBitmaps() {
  std::int32_t bits = static_cast<std::int32_t>(
      std::min<std::uint32_t>(data_->GetPhysicalRecordsUsed() + 1, kMaxRecordNumber + 1));
  // The bitmaps only grow: sized once for a count, they stay so.
  if (bits <= sized_bits_) return;
  for (TRecordsBitmap* bitmap : {&held_, &cursor_locks_, &deferred_})
    if (bitmap->NumOfBits() < bits) bitmap->SetNumOfBits(bits);
  sized_bits_ = bits;
}

bool TDataTable::CheckForRecordWriteLock(std::uint32_t n) {
  SizeBitmaps();
  return n >= 1 && static_cast<std::int32_t>(n) <= held_.NumOfBits() && held_.IsBitSet(static_cast<std::int32_t>(n));
}

void TDataTable::AddCursorRecordWriteLock(std::uint32_t n) {
  SizeBitmaps();
  if (static_cast<std::int32_t>(n) > cursor_locks_.NumOfBits()) cursor_locks_.SetNumOfBits(n);
  cursor_locks_.SetBit(static_cast<std::int32_t>(n));
}

void TDataTable::RemoveCursorRecordWriteLock(std::uint32_t n) {
  if (n >= 1 && static_cast<std::int32_t>(n) <= cursor_locks_.NumOfBits())
    cursor_locks_.ClearBit(static_cast<std::int32_t>(n));
}

bool TDataTable::CheckForCursorRecordWriteLock(std::uint32_t n) {
  return n >= 1 && static_cast<std::int32_t>(n) <= cursor_locks_.NumOfBits() &&
         cursor_locks_.IsBitSet(static_cast<std::int32_t>(n));
}

bool TDataTable::RecordBytes(std::uint32_t first, std::uint32_t last, int op) {
  const std::int64_t start = RecordByte(last), length = std::int64_t{last} - first + 1;
  return op == 0 ? data_->LockRegion(start, length, true)
         : op == 1 ? data_->LockRegion(start, length, false)
                   : data_->UnlockPartOfRegion(start, length);
}

bool TDataTable::UserWriteLockRecord(std::uint32_t n) {
  if (user_table_lock_ || (exclusive_ && !transaction_lock_) || files_read_only_) return false;
  if (n == 0 || n > kMaxRecordNumber + 1) Fail(err::kRecordInUse);
  if (transaction_lock_ && CheckForRecordWriteLock(n)) return false;
  // The record byte first: waiting for it while holding the internal read
  // lock would keep out the writer that holds the record and wants to
  // write it.
  // Inside a transaction the byte joins the transaction's runs of record
  // bytes (record_lock_runs.h), held to its end.
  const bool in_runs = transaction_lock_;
  auto attempt = [&] { return in_runs ? record_runs_.Add(n) : DataByteLocked(RecordByte(n), 1, true); };
  // The first try without wrapping it: most locks are had at once.
  if (!attempt() && !RetryUser(attempt)) Fail(err::kRecordInUse);
  bool changes = false;
  // Inside a transaction the table's lock stands in for the read lock.
  if (!transaction_lock_ && !exclusive_ && !StrictChangeDetection()) {
    try {
      changes = ReadLockTable();
    } catch (...) {
      // A byte in the runs goes when the transaction ends.
      if (!in_runs) DataByteLocked(RecordByte(n), 1, false);
      throw;
    }
  }
  if (!transaction_lock_) SizeBitmaps();  // else sized by the check above
  for (TRecordsBitmap* bitmap : {&held_, &deferred_})
    if (static_cast<std::int32_t>(n) > bitmap->NumOfBits()) bitmap->SetNumOfBits(n);
  held_.SetBit(static_cast<std::int32_t>(n));
  deferred_.ClearBit(static_cast<std::int32_t>(n));
  return changes;
}

void TDataTable::UserWriteUnlockRecord(std::uint32_t n) {
  if (user_table_lock_ || (exclusive_ && !transaction_lock_) || files_read_only_) return;
  if (n == 0) Fail(err::kCannotUnlock);
  // An exclusive table takes no record locks outside a transaction: a lock
  // asked for before the transaction began holds nothing to release.
  if (exclusive_ && !CheckForRecordWriteLock(n)) return;
  if (transaction_lock_) {
    if (!CheckForRecordWriteLock(n)) Fail(err::kCannotUnlock);
    deferred_.SetBit(static_cast<std::int32_t>(n));
    return;
  }
  // A record kept locked through the end of a transaction may share its
  // range with its neighbours: only its own byte goes.
  if (!CheckForRecordWriteLock(n) || !data_->UnlockPartOfRegion(RecordByte(n), 1)) Fail(err::kCannotUnlock);
  held_.ClearBit(static_cast<std::int32_t>(n));
}

bool TDataTable::UserWriteLockTable() {
  if (user_table_lock_ || (exclusive_ && !transaction_lock_) || files_read_only_) return false;
  if (!RetryUser([&] { return DataByteLocked(kTableLockOffset, kTableLockLength, true); })) Fail(err::kTableLocked);
  user_table_lock_ = true;
  return exclusive_ ? false : PerformChangeDetection();
}

void TDataTable::UserWriteUnlockTable() {
  if (!user_table_lock_ || transaction_lock_ || LocksSkipped()) return;
  if (!DataByteLocked(kTableLockOffset, kTableLockLength, false)) Fail(err::kCannotUnlock);
  user_table_lock_ = false;
}

bool TDataTable::UserLockSemaphore(int s) {
  if (s < 1 || s > kMaxSemaphore || files_read_only_) return false;
  return RetryUser([&] { return DataByteLocked(SemaphoreByte(s), 1, true); });
}

bool TDataTable::UserUnlockSemaphore(int s) {
  if (s < 1 || s > kMaxSemaphore || files_read_only_) return false;
  return DataByteLocked(SemaphoreByte(s), 1, false);
}

void TDataTable::WriteUnlockAllRecords(bool only_deferred) {
  SizeBitmaps();
  if (only_deferred && !record_runs_.Empty()) {
    // A transaction's end where every record held was given up by its
    // holder (a record marked deferred is one held) and lies in the runs:
    // the runs go whole and the bitmaps are emptied, without a walk over
    // the records.
    const std::int32_t held = held_.GetTotalBitsSet();
    if (held == deferred_.GetTotalBitsSet()) {
      std::int64_t covered = 0;
      record_runs_.ForEachRun([&](std::uint32_t first, std::uint32_t last) {
        const auto end = static_cast<std::int32_t>(std::min<std::uint32_t>(last, kMaxRecordNumber + 1)) + 1;
        covered += held_.GetPreviousTotalBitsSet(end) - held_.GetPreviousTotalBitsSet(static_cast<std::int32_t>(first));
      });
      if (covered == held) {
        const bool released = record_runs_.Release({});
        held_.ClearBits();
        deferred_.ClearBits();
        if (!released) Fail(err::kCannotUnlock);
        return;
      }
    }
  }
  auto going = [&](std::int32_t n) {
    return !only_deferred || (n <= deferred_.NumOfBits() && deferred_.IsBitSet(n));
  };
  std::vector<std::int32_t> records, in_runs;
  std::vector<std::uint32_t> staying;
  std::int32_t n = 0, position = 0;
  std::size_t seen = 0;
  while (held_.GetNextBitsSet(n, 1, position)) {
    ++seen;
    const bool covered = record_runs_.Covers(static_cast<std::uint32_t>(n));
    if (going(n)) (covered ? in_runs : records).push_back(n);
    else if (covered) staying.push_back(static_cast<std::uint32_t>(n));
  }
  // The transaction's runs go whole, in a few unlocks; a record in them
  // that stays held keeps its own byte.
  const bool released = record_runs_.Release(staying);
  if (in_runs.size() == seen) {
    // Every record held goes with the runs (a transaction's end): the
    // bitmaps are emptied whole (a record marked deferred is one held).
    held_.ClearBits();
    deferred_.ClearBits();
  } else {
    for (std::int32_t record : in_runs) {
      held_.ClearBit(record);
      deferred_.ClearBit(record);
    }
  }
  for (std::int32_t record : records) {
    UserWriteUnlockRecord(static_cast<std::uint32_t>(record));
    deferred_.ClearBit(record);
  }
  if (!released) Fail(err::kCannotUnlock);
}

bool TDataTable::TableIsLocked() {
  if (user_table_lock_) return true;
  if (files_read_only_) return false;
  if (!DataByteLocked(kTableLockOffset, kTableLockLength, true)) return true;
  DataByteLocked(kTableLockOffset, kTableLockLength, false);
  return false;
}

bool TDataTable::RecordIsLocked(std::uint32_t n) {
  if (user_table_lock_) return true;
  if (n == 0) return false;
  if (CheckForRecordWriteLock(n)) return true;
  // A byte of this table's runs that no record of it asked for: no one
  // else can hold it.
  if (files_read_only_ || record_runs_.Covers(n)) return false;
  if (!DataByteLocked(RecordByte(n), 1, true)) return true;
  DataByteLocked(RecordByte(n), 1, false);
  return false;
}

}  // namespace korvex
