// TDataTable: transactions, their lock and commit, and the flush of the
// caches under the journal.
#include "tables/engine/table/data_table.h"
#include "tables/engine/table/lock_ranges.h"

namespace korvex {

void TDataTable::TransactionWriteLockTable() {
  if (transaction_lock_ || files_read_only_) return;
  if (!Retry([&] { return DataByteLocked(kDataWriteLockOffset, 1, true); })) Fail(err::kLockFailure);
  table_lock_before_transaction_ = user_table_lock_;
  transaction_lock_ = true;
  if (!RecoverHotJournal() && !exclusive_) PerformChangeDetection();
}

void TDataTable::TransactionWriteUnlockTable() {
  if (!transaction_lock_ || files_read_only_) return;
  // Another writer may write the journal once the lock goes: a loose end
  // is settled first (a sync that fails leaves the table at an earlier
  // whole commit after a power loss, which a rollback cannot improve on).
  journal_.SettleQuietly();
  bool unlocked = DataByteLocked(kDataWriteLockOffset, 1, false);
  transaction_lock_ = false;
  if (!exclusive_) {
    if (!user_table_lock_) WriteUnlockAllRecords(true);
    else if (!table_lock_before_transaction_) UserWriteUnlockTable();
  }
  if (!unlocked) Fail(err::kLockFailure);
}

void TDataTable::StartTransaction() {
  if (read_only_ || in_transaction_) return;
  if (exclusive_) FlushBuffers(false, false, false, false, false);
  in_transaction_ = true;
  try {
    TransactionWriteLockTable();
  } catch (...) {
    // Without its lock the table is not in a transaction.
    in_transaction_ = false;
    throw;
  }
}

void TDataTable::RollbackTransaction() {
  if (!in_transaction_ || read_only_) return;
  in_transaction_ = false;
  journal_.DropAhead();
  if (journal_.Active()) {
    journal_.Abandon();
    journal_.Recover(JournalPath(), JournalFiles());
  }
  RestoreFilesBeforeEmpty();
  FreeBuffers(true, true);
  // What was committed before stays committed after a power loss too.
  journal_.SettleQuietly();
  TransactionWriteUnlockTable();
}

void TDataTable::CommitTransaction(bool final_commit, bool settle) {
  if (!in_transaction_ || read_only_) return;
  // The flush writes the files: the lock it takes has its real ranges.
  in_transaction_ = false;
  try {
    WriteLockTable();
  } catch (...) {
    in_transaction_ = true;
    throw;
  }
  if (final_commit) {
    try {
      FlushBuffers(true, false, false, false, true);
      // A loose end left by an earlier commit and a flush with nothing to
      // write: the transaction is on disk before the caller hears of it.
      journal_.Settle();
    } catch (...) {
      // The changes stay in the caches and the transaction keeps its lock:
      // the caller retries the commit or rolls back.
      in_transaction_ = true;
      WriteUnlockTable();
      throw;
    }
    files_before_empty_.clear();
    WriteUnlockTable();
    TransactionWriteUnlockTable();
    return;
  }
  try {
    FlushBuffers(false, false, false, false, true, settle);
  } catch (...) {
    in_transaction_ = true;
    WriteUnlockTable();
    throw;
  }
  files_before_empty_.clear();
  transaction_lock_ = false;
  try {
    if (!user_table_lock_) WriteUnlockAllRecords(true);
    else if (!table_lock_before_transaction_) UserWriteUnlockTable();
  } catch (...) {
    transaction_lock_ = in_transaction_ = true;
    WriteUnlockTable();
    throw;
  }
  transaction_lock_ = in_transaction_ = true;
  WriteUnlockTable();
}

void TDataTable::UpdateHeaderStamps(bool data, bool index, bool blob) {
  if (data) data_->UpdateHeaderStamp();
  if (index && index_->IsOpen()) index_->UpdateHeaderStamp();
  if (blob && HasBlobs() && blob_->IsOpen()) blob_->UpdateHeaderStamp();
}

void TDataTable::FlushBuffers(bool adjust, bool force_data, bool force_index, bool force_blob, bool to_disk,
                              bool settle) {
  if (read_only_) return;
  if (in_transaction_) {
    UpdateHeaderStamps(force_data, force_index, force_blob);
    return;
  }
  const bool blobs = HasBlobs() && blob_->IsOpen();
  // What the flush is about to write, so that a failure can put the caches
  // and headers back as they were: still to be written.
  // The records are noted as they are written (no walk over the modified
  // ones before).
  TWriteUndo flushed;
  if (data_->IsOpen()) data_->SaveHeader(flushed);
  if (index_->IsOpen()) {
    index_->NoteDirty(flushed);
    index_->SaveHeader(flushed);
  }
  if (blobs) {
    blob_->NoteDirty(flushed);
    blob_->SaveHeader(flushed);
  }
  if (UsesJournal() && !journal_.Active()) journal_.Begin(JournalPath(), JournalFiles(), to_disk || ForceBufferFlush());
  try {
    // Each file goes to disk once, after all its writes: the journal keeps
    // them undoable until it goes, which is the commit point.
    // The index pages first: their old bytes are mostly journaled ahead,
    // so their writes can start (on the journal's thread) while the records
    // are encoded and journaled.
    if (index_->IsOpen()) {
      index_->FlushPageBuffers(false);
      index_->WriteHeader(force_index, false);
      if (to_disk) index_->Flush();
    }
    if (data_->IsOpen()) {
      data_->FlushRecordBuffers(false, &flushed);
      data_->WriteHeader(force_data, false);
      data_->WriteFields();
      if (to_disk) data_->Flush();
    }
    if (blobs) {
      blob_->FlushBlockBuffers(false);
      blob_->WriteHeader(force_blob, false);
      if (to_disk) blob_->Flush();
    }
    journal_.Commit(settle);
    // The spill files' records and pages are the files' now.
    if (data_->IsOpen()) data_->EndSpill();
    if (index_->IsOpen()) index_->EndSpill();
  } catch (...) {
    // A flush that fails (a full disk, an I/O error) leaves the files as
    // they were: the journal puts back what it wrote. Should that fail too,
    // the journal stays for the next holder of the write lock to play back.
    journal_.UndoQuietly();
    // Copies of what the flush wrote are not the files' bytes now.
    if (data_->IsOpen()) data_->DropCleanCopies();
    if (index_->IsOpen()) index_->DropCleanCopies();
    flushed.Restore();
    throw;
  }
  if (adjust) {
    if (data_->IsOpen()) data_->AdjustRecordBuffers();
    if (index_->IsOpen()) index_->AdjustPageBuffers();
    if (blobs) blob_->AdjustBlockBuffers();
  }
}

void TDataTable::FreeBuffers(bool adjust, bool reread_headers) {
  // What cursors built from the cached records and pages is stale too.
  NoteChange();
  if (data_->IsOpen()) {
    data_->FreeRecordBuffers();
    if (adjust) data_->AdjustRecordBuffers();
    if (reread_headers) data_->ReadHeader();
  }
  if (index_->IsOpen()) {
    index_->FreePageBuffers(true);
    if (adjust) index_->AdjustPageBuffers();
    if (reread_headers) index_->ReadHeader();
  }
  if (HasBlobs() && blob_->IsOpen()) {
    blob_->FreeBlockBuffers();
    if (adjust) blob_->AdjustBlockBuffers();
    if (reread_headers) blob_->ReadHeader();
  }
}

void TDataTable::FlushOSBuffers() {
  if (read_only_ || ForceBufferFlush()) return;
  if (data_->IsOpen()) data_->Flush();
  if (index_->IsOpen()) index_->Flush();
  if (HasBlobs() && blob_->IsOpen()) blob_->Flush();
}

}  // namespace korvex
