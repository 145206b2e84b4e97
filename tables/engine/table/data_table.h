// TDataTable: one physical table as one data directory of one session sees
// it. Every cursor of the session on the table shares the object through a
// use count. It owns the table's files, its open mode, its byte-range locks
// (lock_ranges.h) and its transaction state, and answers for the table as
// its files' host (table_host.h).
//
// Files: ".DAT" (TDataFile), ".IDX" (TIndexFile) and, with BLOB fields,
// ".BLB" (TBlobFile). Every flush writes them in that order under the
// rollback journal, so index pages and headers are as crash-safe as records.
//
// Open mode: an exclusive object opens its files exclusively and takes no
// internal lock (the share mode keeps everyone else out). A table with a
// read-only file (FilesReadOnly) is read-only and takes no lock at all; its
// semaphores answer false.
//
// Failures keep the object sound: a lock that fails on its second file
// undoes the first before raising; a transaction lock that cannot be had
// leaves no transaction; a final commit whose flush fails stays in
// progress, lock held, so the caller can retry or roll back.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "tables/engine/cache/journal.h"
#include "tables/engine/cache/table_host.h"
#include "tables/engine/cache/write_undo.h"
#include "tables/engine/files/blob_file.h"
#include "tables/engine/files/data_file.h"
#include "tables/engine/files/index_file.h"
#include "tables/engine/table/record_lock_runs.h"
#include "tables/lib/file_handler.h"
#include "tables/lib/records_bitmap.h"

namespace korvex {

class TDataDirectory;

// Waiting of internal locks: attempts, sleep between them and the sleep
// itself (tests shorten it).
struct TLockTiming {
  int InternalAttempts = 8193;
  unsigned InternalSleepMs = 3;
  void (*Sleep)(unsigned milliseconds) = nullptr;  // nullptr: the system's
};

class TDataTable : public TTableHost {
public:
  explicit TDataTable(TDataDirectory* directory);
  ~TDataTable() override;
  TDataTable(const TDataTable&) = delete;
  TDataTable& operator=(const TDataTable&) = delete;

  // ---- identity and mode ----
  void SetTableName(const std::string& name);
  const std::string& GetTableName() const { return name_; }
  // The canonical path of the ".DAT" file (the name for in-memory tables).
  std::string FileKey() const;
  void SetExclusive(bool value) { exclusive_ = value; }
  void SetReadOnly(bool value) { read_only_ = value; }
  void SetInMemory(bool value) { in_memory_ = value; }
  void SetIsTemporary(bool value) { temporary_ = value; }
  void SetIsResultSet(bool value) { result_set_ = value; }
  void SetIsSourceTable(bool value) { source_table_ = value; }
  bool GetIsResultSet() const { return result_set_; }
  bool GetIsSourceTable() const { return source_table_; }
  bool IsOpen() const { return open_; }
  bool GetReadOnly() const { return read_only_; }
  bool FilesReadOnly() const { return files_read_only_; }
  bool InMemory() const { return in_memory_; }
  bool IsTemporary() const { return temporary_; }
  int UseCount() const { return use_count_; }
  void IncUseCount() { ++use_count_; }
  void DecUseCount() { if (use_count_ > 0) --use_count_; }
  TDataDirectory* Directory() const { return directory_; }

  // ---- life cycle (data_table.cpp; the index backup data_table_index_backup.cpp) ----
  // A failed open or create closes everything it opened and releases every
  // byte; a failed create deletes the files it made.
  void OpenTable();
  // Decrements the use count; closes at 0 unless a transaction keeps it.
  void CloseTable(bool discard_temporary = false);
  void CreateTable(const TDataFileSettings& settings, const std::vector<TFieldDefinition>& fields);
  void DeleteTable();
  void RenameTable(const std::string& new_name, bool as_backup);
  void EmptyTable();
  bool PerformChangeDetection();
  // Counts the changes of the table's records: those change detection
  // finds and each write of a cursor (NoteChange); cursors compare it with
  // the count their filter bitmaps were built at. The marks come from one
  // counter of the process, so a table object made anew (closed and opened
  // again) never repeats a mark a cursor kept.
  std::uint64_t ChangeCount() const { return change_count_; }
  void NoteChange() { change_count_ = NextChangeMark(); }
  static std::uint64_t NextChangeMark() {
    static std::atomic<std::uint64_t> marks{0};
    return ++marks;
  }
  // Copies the flushed index file to "<name>.IBK" beside the table.
  void BackupIndex();
  // Unless keep_current, puts the ".IBK" copy back into the index file
  // (8961 when there is none or it is no index file: nothing changed);
  // with delete_backup the copy goes afterwards.
  void RestoreIndex(bool keep_current, bool delete_backup);

  // Whether a file's update stamp on disk differs from the one this object
  // last saw: a peek without locks (exclusive and read-only tables: false).
  bool StampsMoved();
  // The header checks of the data file, the index file (on disk) and, with
  // BLOB fields, the BLOB file; each raises its corruption error. With
  // names false the field names are not judged (opening a table).
  void CheckHeaders(bool names = true);
  // What the headers and the roots tell without a walk: the index and BLOB
  // files hold the pages and blocks their headers count (else 8965, 8963);
  // every table index holds the header's record count of keys, the system
  // index one key per physical record (else 8965: an index of another
  // table, or one cut or overwritten), before any walk trusts them. An
  // index file made by this open is not checked (its first cursor fills it).
  void CheckIndexCounts(void* cursor);

  // ---- header values and counters (data_table_forward.cpp) ----
  std::uint16_t GetFieldCount() const { return data_->GetFieldCount(); }
  std::uint16_t GetBlobFieldCount() const { return data_->GetBlobFieldCount(); }
  std::uint32_t GetRecordSize() const { return data_->GetRecordSize(); }
  std::uint32_t GetBlobBlockSize() const { return data_->GetBlobBlockSize(); }
  std::uint16_t GetLanguageID() const { return data_->GetLanguageID(); }
  std::uint16_t GetSortID() const { return data_->GetSortID(); }
  std::uint16_t GetUserMajorVersion() const { return data_->GetUserMajorVersion(); }
  std::uint16_t GetUserMinorVersion() const { return data_->GetUserMinorVersion(); }
  std::uint8_t GetVersionNum() const { return data_->GetVersionNum(); }
  std::uint32_t GetPhysicalRecordsUsed() const { return data_->GetPhysicalRecordsUsed(); }
  std::uint32_t GetLastRecordID() const { return data_->GetLastRecordID(); }
  std::uint32_t GetDataFileSize() const;
  std::uint32_t GetLastDataUpdateStamp() const { return data_->GetLastUpdateStamp(); }
  std::string GetDescription() const { return data_->GetDescription(); }
  double GetLastUpdated() const { return data_->GetLastUpdated(); }
  bool GetEncrypted() const { return data_->GetEncrypted(); }
  std::string GetPassword() const { return data_->GetPassword(); }
  // The BLOB file's: 0 when the table has no BLOB fields or the file is not
  // open.
  std::uint32_t GetBlobFileSize() const;
  std::uint32_t GetLastBlobUpdateStamp() const;
  // Cache statistics since the files opened.
  std::uint32_t GetDataRecordCacheHits() const;
  std::uint32_t GetDataRecordCacheMisses() const;
  std::uint32_t GetDataRecordReads() const;
  std::uint32_t GetDataRecordWrites() const;
  std::uint32_t GetIndexPageCacheHits() const;
  std::uint32_t GetIndexPageCacheMisses() const;
  std::uint32_t GetIndexPageReads() const;
  std::uint32_t GetIndexPageWrites() const;
  std::uint32_t GetBlobBlockCacheHits() const;
  std::uint32_t GetBlobBlockCacheMisses() const;
  std::uint32_t GetBlobBlockReads() const;
  std::uint32_t GetBlobBlockWrites() const;

  TDataFile& DataFile() { return *data_; }
  TIndexFile& IndexFile() { return *index_; }
  std::uint32_t GetIndexFileSize() const { return index_->GetFileSize(); }
  std::uint32_t GetLastIndexUpdateStamp() const { return index_->GetLastUpdateStamp(); }
  TBlobFile& BlobFile() { return *blob_; }
  bool HasBlobs() const;

  // ---- internal locks (data_table_locks.cpp) ----
  bool ReadLockTable();
  void ReadUnlockTable();
  // Inside a transaction only marks the lock as held (see
  // write_lock_in_process_); a lock so marked is made whole by the next
  // WriteLockTable once the transaction has ended.
  bool WriteLockTable();
  void WriteUnlockTable();
  bool InternalReadLockHeld() const { return read_lock_; }
  bool InternalWriteLockHeld() const { return write_lock_; }

  // ---- user locks (data_table_user_locks.cpp; the read lock data_table_locks.cpp) ----
  bool UserReadLockTable();
  void UserReadUnlockTable();
  bool UserWriteLockTable();
  void UserWriteUnlockTable();
  // Takes the internal read lock first unless StrictChangeDetection is on;
  // the caller releases it (also when this raises: it is released here
  // before raising).
  bool UserWriteLockRecord(std::uint32_t n);
  void UserWriteUnlockRecord(std::uint32_t n);
  bool UserLockSemaphore(int s);
  bool UserUnlockSemaphore(int s);
  void WriteUnlockAllRecords(bool only_deferred);
  bool TableIsLocked();
  bool RecordIsLocked(std::uint32_t n);
  bool UserTableLockHeld() const { return user_table_lock_; }
  bool CheckForRecordWriteLock(std::uint32_t n);
  void AddCursorRecordWriteLock(std::uint32_t n);
  void RemoveCursorRecordWriteLock(std::uint32_t n);
  bool CheckForCursorRecordWriteLock(std::uint32_t n);

  // ---- transactions and buffers (data_table_transactions.cpp) ----
  void TransactionWriteLockTable();
  void TransactionWriteUnlockTable();
  void StartTransaction();
  void RollbackTransaction();
  // A commit that keeps the transaction open without `settle` may leave the
  // end of its flush off disk for a while (a loose end, see journal.h): a
  // power loss may then put the table back to before it, never between.
  // The transaction's end, or its rollback, settles it.
  void CommitTransaction(bool final_commit, bool settle = true);
  bool GetTransactionInProgress() const { return in_transaction_; }
  bool TransactionLockHeld() const { return transaction_lock_; }
  void FlushBuffers(bool adjust, bool force_data, bool force_index, bool force_blob, bool to_disk,
                    bool settle = true);
  void UpdateHeaderStamps(bool data, bool index, bool blob);
  void FreeBuffers(bool adjust, bool reread_headers);
  void FlushOSBuffers();

  // ---- one write: an append, a modify or a delete (data_table_writes.cpp) ----
  // From BeginWrite the caches hold every change (they grow instead of
  // writing early) and keep the before-image of each record, page, block
  // and header on its first touch. EndWrite ends a write that succeeded
  // with its one closing flush under the journal (none while a transaction
  // or an exclusive open holds the writes; an exclusive table's BeginWrite
  // flushes once its caches pass their budgets, CachesPastBudget); should
  // that flush fail, the files are played back and the write is undone
  // before the failure is raised. UndoWrite puts the before-images back after a failure. Writes
  // nest: only the outermost one counts. EndWrite without BeginWrite is the
  // closing flush alone.
  void BeginWrite();
  void EndWrite(bool force_data, bool force_index, bool force_blob);
  void UndoWrite();
  bool WriteInProgress() const { return write_depth_ > 0; }
  int WriteDepth() const { return write_depth_; }

  // ---- memory image of an in-memory table (data_table_image.cpp) ----
  // Image layout (lengths unsigned 32-bit little-endian):
  //   L1, the .DAT bytes, L2, the .IDX bytes, and with BLOB fields L3 and the
  //   .BLB bytes; padding up to the image size, a multiple of 65535.
  // Every operation does nothing (answers 0) unless the table is in memory
  // and open. Loading copies the files out (caches flushed first); saving
  // collects an image and EndBufferSave puts it into the files.
  void BeginBufferLoad();
  std::uint32_t LoadFromBuffer(void* destination, std::uint32_t offset, std::uint32_t count);
  void EndBufferLoad();
  void BeginBufferSave();
  std::uint32_t SaveToBuffer(const void* source, std::uint32_t offset, std::uint32_t count);
  // An empty image empties the table. Otherwise the image must hold every
  // part it announces and the same definitions as the table (else 8961,
  // nothing changed); each file then becomes its part, cut at its length.
  void EndBufferSave();
  // Rounds up to a multiple of 65535 and only grows; 0 frees the image.
  void ResizeMemoryBuffer(std::uint64_t size);
  std::uint32_t GetBufferSize() const;

  // ---- TTableHost ----
  std::string TableName() const override { return name_; }
  // Changes stay in the caches during a transaction, a write, and while
  // the table is open exclusively (it writes at flush and close).
  bool WritesHeld() const override { return in_transaction_ || exclusive_ || write_depth_ > 0; }
  bool Exclusive() const override { return exclusive_; }
  void MarkWritten() override { written_ = true; }
  bool Written() const override { return written_; }
  bool TakeInternalReadLock(void* cursor) override;
  bool ForceBufferFlush() const override;
  bool StrictChangeDetection() const override;
  bool HasPrimaryIndex() const override { return index_->IsOpen() && !index_->GetNoPrimaryIndex(); }
  // Set when opening found the data file without its index file and made
  // a new, empty one: its system index and record count are to be rebuilt
  // from the records (the opening cursor does it and clears the flag).
  bool IndexCreatedAnew() const { return index_created_; }
  void IndexCreatedAnew(bool value) { index_created_ = value; }
  std::uint32_t ReadAheadCount(void* cursor, std::uint32_t n, std::uint32_t limit, int direction) override;
  bool InRepair(void*) const override { return false; }
  void RepairLog(void*, const std::string&) override {}
  std::string PrivateDirectory() const override;

private:
  void AssignTableParameters();
  // Closes the files without flushing and drops every byte and flag.
  void ReleaseAndClose();
  // Deletes the table's ended journal when no writer can be using it.
  void DropEndedJournal();
  void ReleaseLocks();
  void ReleaseUnchecked();
  void ResetLockState();
  [[noreturn]] void Fail(TEngineErrorCode code) const;
  // Internal-lock attempts with short sleeps; false when they run out.
  bool Retry(const std::function<bool()>& attempt) const;
  // User-lock attempts: LockRetryCount retries LockWaitTime apart.
  bool RetryUser(const std::function<bool()>& attempt) const;
  void Sleep(unsigned milliseconds) const;
  // A reader's byte on one file: r, or 0 when none could be had.
  std::uint16_t ReadLockFile(TFileHandler& file);
  bool LockPair(std::uint16_t& index_r, std::uint16_t& blob_r);
  void UnlockPair(std::uint16_t& index_r, std::uint16_t& blob_r);
  bool LocksSkipped() const { return exclusive_ || files_read_only_; }
  void SizeBitmaps() {
    if (static_cast<std::int32_t>(std::min<std::uint32_t>(data_->GetPhysicalRecordsUsed() + 1,
                                                          kMaxRecordNumber + 1)) > sized_bits_)
      GrowBitmaps();
  }
  // SizeBitmaps for a record count the bitmaps do not hold yet.
  void GrowBitmaps();
  bool DataByteLocked(std::int64_t start, std::int64_t length, bool lock);
  // The bytes of records first..last: op 0 locks, 1 unlocks them as one
  // held range, 2 unlocks them as part of one.
  bool RecordBytes(std::uint32_t first, std::uint32_t last, int op);
  bool ImageUsable() const { return in_memory_ && open_; }
  // The table's memory files in image order.
  std::vector<TFileHandler*> ImageFiles();
  void RestoreFilesBeforeEmpty();
  void LockSections(bool lock);
  // Disk tables keep a rollback journal (journal.h) over every flush.
  bool UsesJournal() const;
  std::string JournalPath() const;
  std::vector<TFileHandler*> JournalFiles();
  // Whether a cache holds more than its budget for writes held between
  // writes (kHeldRecordBudget, kHeldPageBudget, kHeldBlockBudget).
  bool CachesPastBudget() const;
  // Inside a transaction: the index pages the write just ended changed for
  // the first time go to the journal ahead of the commit's flush.
  void JournalPagesAhead();
  // Plays back a dead writer's journal (the caller holds the write lock or
  // the exclusive open); true when there was one.
  bool RecoverHotJournal();
  // Plays back a dead writer's journal before the files are copied or
  // renamed: under the write lock, or through an exclusive open of a table
  // that is not open.
  void SettleHotJournal();
  // Plays back a journal a dead writer left, under the write lock.
  void PlayBackDeadWriter();
  void AttachUndo(TWriteUndo* undo);
  std::string IndexBackupName() const;
  // Hands the data file's fields and cipher flag to the index file.
  void PrepareIndexFile();

  TDataDirectory* directory_;
  int use_count_ = 0;
  std::string name_;
  bool open_ = false, exclusive_ = false, read_only_ = false, files_read_only_ = false;
  bool in_memory_ = false, temporary_ = false, result_set_ = false, source_table_ = false;
  bool written_ = false, index_created_ = false;
  std::unique_ptr<TDataFile> data_;
  std::unique_ptr<TIndexFile> index_;
  std::unique_ptr<TBlobFile> blob_;
  TRecordsBitmap held_, cursor_locks_, deferred_;
  std::int32_t sized_bits_ = 0;  // the bitmaps hold at least these bits
  // The bytes of the records locked inside the running transaction.
  TRecordLockRuns record_runs_;
  bool user_read_lock_ = false, user_table_lock_ = false, table_lock_before_transaction_ = false;
  bool read_lock_ = false, write_lock_ = false;
  // The write lock taken inside a transaction: the transaction's .DAT byte
  // already keeps every other writer out and its writes stay in the caches
  // until the commit, so the .IDX and .BLB ranges are not taken (readers
  // elsewhere see the committed files meanwhile). The commit's flush, and
  // any write lock taken once the transaction has ended, take them.
  bool write_lock_in_process_ = false;
  std::uint16_t read_index_r_ = 0, read_blob_r_ = 0, user_index_r_ = 0, user_blob_r_ = 0;
  bool transaction_lock_ = false, in_transaction_ = false;
  TJournal journal_;
  TWriteUndo undo_;
  std::vector<std::uint32_t> pages_ahead_;
  int write_depth_ = 0;
  // Per cursor, the record a read in physical order would miss next.
  std::unordered_map<void*, std::uint32_t> read_ahead_;
  std::vector<std::uint8_t> image_;
  // The files of a table without a journal as they were when it was first
  // emptied inside the running transaction (a rollback puts them back).
  std::vector<std::vector<std::uint8_t>> files_before_empty_;
  bool sections_locked_ = false;
  std::uint64_t change_count_ = NextChangeMark();
};

}  // namespace korvex
