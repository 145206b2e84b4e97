// TDataFile: a table's data file (".DAT"): header, field definitions and
// fixed-length records, with the record cache, the record pool and the free
// chain of deleted records.
//
// File layout:
//   0 .. 126                 header (data_header.h)
//   127 .. 127 + 768F - 1    F field definitions (field_definition.cpp)
//   from D = 127 + 768F      records 1, 2, ...: record n at D + (n-1)*RecordSize
//
// Record layout (RecordSize bytes):
//   0  1 deleted flag: 0 in use, 1 on the free chain
//   1  4 in use: the record's own number; deleted: the next free record (0 ends)
//   5  4 record ID (the auto-increment value; auto-increment fields live here)
//   9  .. each stored field: one null-flag byte, then its physical size
//
// In encrypted tables the definition block (one stream of 768F bytes,
// taken mod 65536 when the engine stamp is 0) and each record are passed
// through the buffer cipher with kDataKeys; description and password
// characters with kHeaderTextKeys.
//
// Appends stop before record 100,000,000 and before RecordSize x n passes
// 2,000,000,000 bytes (9479).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tables/engine/cache/cache_io.h"
#include "tables/engine/cache/clean_copies.h"
#include "tables/engine/cache/entry_cache.h"
#include "tables/engine/cache/entry_pool.h"
#include "tables/engine/cache/spill_file.h"
#include "tables/engine/cache/stamp_view.h"
#include "tables/engine/cache/table_host.h"
#include "tables/engine/errors/errors.h"
#include "tables/engine/files/data_header.h"
#include "tables/engine/files/field_definition.h"
#include "tables/engine/files/record.h"
#include "tables/lib/file_handler.h"

namespace korvex {

class TWriteUndo;

struct TDataFileStatistics {
  std::uint32_t CacheHits = 0;
  std::uint32_t CacheMisses = 0;
  std::uint32_t BulkReads = 0;
  std::uint32_t WriteRuns = 0;
  std::uint64_t BytesRead = 0;  // asked of the file by the reads counted above
};

struct TDataFileSettings {
  std::uint16_t LanguageID = 0;
  std::uint16_t SortID = 0;
  std::uint16_t UserMajorVersion = 0;
  std::uint16_t UserMinorVersion = 0;
  bool Encrypted = false;
  std::string Password;
  std::string Description;
  std::uint16_t BlobBlockSize = 0;  // 0 means 512
};

// The pool of spare records of one data file.
using TRecordStack = TEntryPool<TRecord>;

inline constexpr std::uint32_t kMaxRecordNumber = 99999999;
// Bytes of records kept as read once the record cache lets them go.
inline constexpr std::size_t kCleanRecordBudget = std::size_t{16} << 20;
// Bytes of records a table writing alone (exclusive, no transaction) keeps
// cached between its writes: past them the table flushes (data_table.h).
inline constexpr std::size_t kHeldRecordBudget = std::size_t{4} << 20;
inline constexpr std::uint64_t kMaxTableBytes = 2000000000;

class TDataFile : public TFileHandler {
public:
  explicit TDataFile(TTableHost* host);
  ~TDataFile() override;

  void OpenFile() override;
  // OpenFile for verification and repair: a file cut inside its field
  // definitions after the last one's values (name to hidden flag; the rest
  // is reserved) reads with the cut bytes as zeros and answers true (the
  // definitions are then written whole by WriteFields); a file cut before
  // that raises 8961, as does one shorter than its header.
  bool OpenForRepair();
  void CloseFile() override;
  // A new file from the settings and definitions (offsets and physical
  // sizes as given); header and definitions are written by WriteHeader and
  // WriteFields.
  void CreateDataFile(const TDataFileSettings& settings, const std::vector<TFieldDefinition>& fields);

  // Header.
  void ReadHeader();
  void WriteHeader(bool force, bool flush_to_disk);
  void UpdateHeaderStamp();
  void ClearHeader();
  // Whether the stamp on disk differs; if so the header is read again.
  bool CheckForChanges();
  // Whether the stamp on disk differs, the header left alone (a peek
  // without the table's locks).
  bool StampChanged();
  const TDataHeader& GetHeader() const { return header_; }
  bool HeaderModified() const { return header_modified_; }
  void UpdateHeader(const std::string& password, const std::string& description, std::uint32_t last_record_id,
                    std::uint16_t user_major, std::uint16_t user_minor);
  // Raises 12035, 15878 or 8961 for the first fault found.
  // With names false the field names are not judged: a blank, odd or
  // duplicate name misreads no record (verification and repair judge it).
  void CheckHeader(bool names = true);
  // The checks of CheckHeader's fields and sizes, each finding a line of
  // the cursor's repair log; corrected unless verify_only.
  void RepairHeader(void* cursor, bool verify_only);

  // Field definitions.
  // With allow_cut, bytes past the end of the file read as zeros.
  void ReadFields(bool allow_cut = false);
  void WriteFields();
  void FreeFieldDefinitions() { fields_.clear(); }
  const std::vector<TFieldDefinition>& Fields() const { return fields_; }
  const TFieldDefinition* GetFieldDefinitionByPos(int position) const;
  const TFieldDefinition* GetFieldDefinitionByNumber(std::uint16_t number) const;
  const TFieldDefinition* GetFieldDefinitionByName(const std::string& name) const;
  void UpdateFieldDefinitionByPos(int position, const TFieldDefinition& definition);

  // Records. GetRecord answers false when change detection found changes
  // (the caller restarts); a record it gives is in use until PutRecord.
  // With `alone`, a record met out of the file's order in a file larger
  // than its copies hold, while writes are not held, is read straight into
  // `alone` (RecordSize bytes, deciphered) and takes no cache entry
  // (`record` stays nullptr): a lookup at random asks for it once, and its
  // entry would push out another.
  bool GetRecord(void* cursor, std::uint32_t n, bool read_ahead, bool cursor_rule, int direction, TRecord*& record,
                 std::uint8_t* alone = nullptr);
  void PutRecord(TRecord* record) { record->DecUseCount(); }
  // A walk by an index whose records lie here and there in a file larger
  // than its copies hold reads each record alone (GetRecord's `alone`).
  // WouldReadAlone answers whether record n would be read so now (neither
  // cached nor copied, writes not held); the walk may then hand the records
  // of its next keys to CopyAhead, which reads them in file order into the
  // clean copies, one read per run of records lying close together, so
  // that the walk finds them there. `records` may come in any order (it is
  // sorted and thinned in place); at most AheadRoom() are read (half the
  // copies' room, so that a batch does not push out its own first
  // records). Nothing is read when the read lock finds changes (the
  // caches dropped: the walk's read that follows starts over as always).
  bool WouldReadAlone(std::uint32_t n) const;
  std::uint32_t AheadRoom() const { return static_cast<std::uint32_t>(copies_.Capacity() / 2); }
  void CopyAhead(void* cursor, std::vector<std::uint32_t>& records);
  // Record n's bytes (RecordSize, deciphered) for a scan through the
  // records in order: the cache's record where it holds one (it may be
  // newer than the file's), else the scan's window, else (where the scan
  // jumped, not ran on from the record before) a clean copy, else a window
  // of the file read ahead for the scan alone, the cache left as it is. False when the
  // read lock taken on the way found changes (the caller restarts).
  // GetRecord takes a record the cache lacks from that window too (the
  // scan's caller writing the record it just read).
  bool ScanRecord(void* cursor, std::uint32_t n, std::uint8_t* out);
  // The window goes when the scan that read it ends (and whenever one of
  // its records is written or the cache is dropped).
  void DropScanWindow();
  bool GetNextFreeRecord(void* cursor, TRecord*& record);
  // Appends `count` plain records (RecordSize each, deleted flag 0, numbers
  // and record IDs in place, numbered from the next physical record on)
  // straight to the file, past the cache: the header takes their count and
  // the last one's record ID only once the write succeeded; a failed write
  // ends the file where the records were to start. 9479 before anything
  // when they would pass the table's limits.
  void AppendWholeRecords(const std::uint8_t* records, std::uint32_t count);
  // For a sort that writes the records anew in place, straight to the file:
  // the cached records in record order, and, once written, the file holds
  // `count` records from the start and none deleted.
  std::vector<TCacheEntry*> CachedRecordsInOrder() const { return cache_.Sorted(); }
  void RecordsRewritten(std::uint32_t count);
  void SetNextFreeRecord(TRecord* record);
  std::uint32_t GetNextFreeRecordNumber() const;
  void SetNextFreeRecordNumber(std::uint32_t n);
  // Writes the modified records; the bytes written become the records'
  // clean copies (a flush that fails drops them, DropCleanCopies).
  // `written` (when given) notes each record it writes, so that a failed
  // flush can mark them modified again.
  // The records of the spill file (below) go first, then the cache's.
  bool FlushRecordBuffers(bool flush_to_disk, TWriteUndo* written = nullptr);
  // Inside a transaction (whose changes reach the file only at its commit),
  // once the cache holds more than TSpillFile::RecordBytes() of records, the
  // changed ones wholly past the file's end (appended, mostly) go to the
  // spill file (spill_file.h) and leave the cache as clean entries; reads
  // of records past that end take the spill file's bytes where the cache
  // lacks them, and the flush copies it in before the cache's records.
  // Call between writes (no write's undo open).
  void SpillRecords();
  // The flush that copied the spill file in is over (committed): it goes.
  // DropSpill forgets it with the changes (FreeRecordBuffers does too).
  void EndSpill() { DropSpill(); }
  void DropSpill();
  // Bytes written to the spill file so far, for tests.
  std::uint64_t SpilledBytes() const { return spill_.Written(); }
  void FreeRecordBuffers();
  void DropCleanCopies();
  void AdjustRecordBuffers();
  // A write's before-images (write_undo.h): the caches note their first
  // touches in `undo` (nullptr: no more); the header's image
  // (the records a flush writes: FlushRecordBuffers).
  void AttachUndo(TWriteUndo* undo);
  // Saves the header in `undo`, to be put back by its Restore.
  void SaveHeader(TWriteUndo& undo);
  TRecord* GetNewRecordInstance();
  void ReturnRecordInstance(TRecord* record) { pool_.Return(record); }

  // Counters and accessors.
  std::uint32_t GetNextFreeRecordID();
  void SetNextFreeRecordID(std::uint32_t id);
  std::uint32_t GetLastRecordID() const { return header_.LastRecordID; }
  std::uint32_t GetNextFreeBlobSignature();
  std::uint32_t GetRecordSize() const { return header_.RecordSize; }
  std::uint16_t GetFieldCount() const { return header_.FieldCount; }
  std::uint16_t GetBlobFieldCount() const { return header_.BlobFieldCount; }
  std::uint32_t GetBlobBlockSize() const { return header_.BlobBlockSize(); }
  std::uint16_t GetLanguageID() const { return header_.LanguageID; }
  std::uint16_t GetSortID() const { return header_.SortID; }
  std::uint16_t GetUserMajorVersion() const { return header_.UserMajorVersion; }
  std::uint16_t GetUserMinorVersion() const { return header_.UserMinorVersion; }
  std::uint8_t GetVersionNum() const { return header_.Version; }
  // A repair mends the version byte of a table this engine wrote.
  void MendVersion() {
    header_.Version = kTableVersion;
    header_modified_ = true;
  }
  std::uint32_t GetPhysicalRecordsUsed() const { return header_.NextPhysicalRecord - 1; }
  std::uint64_t GetFileSize() const;
  std::string GetDescription() const;
  double GetLastUpdated() const { return header_.LastUpdated + kLastUpdatedBias; }
  bool GetEncrypted() const { return header_.Encrypted != 0; }
  std::string GetPassword() const;
  std::string GetTableName() const { return host_->TableName(); }
  std::string PrivateDirectory() const { return host_->PrivateDirectory(); }
  std::uint32_t GetLastUpdateStamp() const { return header_.UpdateStamp; }

  const TDataFileStatistics& Statistics() const { return stats_; }
  std::size_t CachedRecords() const { return cache_.Count(); }
  std::size_t CopiedRecords() const { return copies_.Count(); }
  std::size_t CacheCapacity() const { return cache_.Capacity(); }
  // Whether the cached records take more than kHeldRecordBudget.
  bool HoldsPastBudget() const {
    return cache_.Count() > base_capacity_ &&
           cache_.Count() * std::size_t{header_.RecordSize} > kHeldRecordBudget;
  }
  std::uint32_t ReadAheadLimit() const { return read_ahead_limit_; }
  std::uint64_t DataStart() const { return kDataHeaderSize + std::uint64_t{kFieldDefinitionSize} * fields_.size(); }

private:
  struct THeaderSave;  // file_undo.cpp
  [[noreturn]] void Fail(TEngineErrorCode code) const;
  void SetLimits();
  std::uint64_t RecordPosition(std::uint32_t n) const;
  TCacheLayout Layout() const;
  // A cache slot for record n: a free place, an evicted record, or (writes
  // held) a grown cache.
  TRecord* GetNewRecordBuffer(std::uint32_t n);
  // GetRecord's record n == NextPhysicalRecord: a new one at the end.
  TRecord* AppendRecord(std::uint32_t n);
  // GetRecord's record n the cache lacks, from the bytes kept apart from it
  // (its clean copy, the scan's window); nullptr when neither holds it.
  TRecord* KeptRecord(std::uint32_t n);
  void ReadRecordBuffers(std::uint32_t n, std::uint32_t count, int direction);
  // Record n alone, into the cache and as a clean copy: its entry, or
  // nullptr when the file has no bytes for it yet (appended in the cache).
  TRecord* ReadOneRecord(std::uint32_t n);
  // The bytes of the records from `first` on, as the file will hold them:
  // from the file below the spill file's first record, from the spill file
  // from there on. Answers the bytes read (a short read stops there).
  std::int64_t ReadRecordBytes(std::uint32_t first, std::uint8_t* out, std::int64_t count);
  // Writes the changed records the cache holds past the spill's start to
  // the spill file, clean from then on.
  void WriteToSpill();
  // Record n alone straight into `out` (see GetRecord's `alone`).
  void ReadRecordInto(std::uint32_t n, std::uint8_t* out);
  // Whether a record met at random is read alone, with no cache entry:
  // copies kept, writes not held, nothing spilled, and more records than
  // the copies hold.
  bool ReadsAtRandomAlone() const;
  std::uint32_t DefinitionCipherLength() const;
  // The checks shared by CheckHeader and RepairHeader.
  class THeaderCheck;  // data_file_check.cpp

  TTableHost* host_;
  TDataHeader header_;
  bool header_modified_ = false;
  std::vector<TFieldDefinition> fields_;
  bool fields_modified_ = false;
  TStampView stamp_view_;  // the header stamp, peeked at
  TEntryCache cache_;
  // Records the cache let go, as the file holds them.
  TCleanCopies copies_;
  TRecordStack pool_{16383};
  std::size_t base_capacity_ = 8191;
  std::uint32_t read_ahead_limit_ = 1;
  // While writes are held, changed records stay cached: a read-ahead window
  // wider than the room left would push its own first records out. Halved
  // each time that happens, 0 (no bound) once writes are no longer held.
  std::uint32_t held_window_ = 0;
  std::uint32_t last_read_ = 0;  // the record read last from the file or its copies
  // The window a scan read last (ScanRecord), apart from the cache.
  std::vector<std::uint8_t> scan_;
  std::uint32_t scan_first_ = 1, scan_last_ = 0;
  std::uint32_t scan_next_ = 1;  // the record after the one a scan read last
  // The record a scan found missing from the cache last, and the cache's
  // generation then: while that holds, GetRecord need not look again.
  std::uint32_t scan_absent_ = 0;
  std::uint64_t scan_absent_generation_ = 0;
  std::vector<std::uint8_t> buffer_;
  // GetNewRecordBuffer's ways to a new record and to a flush, made once.
  std::function<TCacheEntry*()> make_record_;
  std::function<void()> flush_records_;
  TReadWindow window_;
  TDataFileStatistics stats_;
  // The spill file of the running transaction: records from spill_first_
  // on (the first wholly past the data file's end when it was made; 0:
  // none).
  TSpillFile spill_;
  std::uint32_t spill_first_ = 0;
  // The cache's count at which SpillRecords looks again (twice what a look
  // left: records inside the file, which stay, are not walked per write).
  std::size_t spill_trigger_ = 0;
};

}  // namespace korvex
