// TDataCursor: one user's open handle on a table. Many cursors share one
// TDataTable through the directory; the cursor keeps what is private to its
// user: settings, position, current record, field definitions and open
// BLOBs.
//
// Its settings are TCursorSettings (cursor_settings.h), its data between
// calls TCursorState (cursor_state.h). Files by concern:
//   data_cursor.cpp         settings, open, close, guards, table creation and
//                           its structure checks
//   cursor_walk.cpp         reading records and walking in physical order
//   cursor_current.cpp      the current record, going to a record by number
//   cursor_live_ranks.cpp   the live records' ranks in physical order
//   cursor_fields.cpp       field values in record buffers, record IDs
//   cursor_append.cpp, cursor_modify.cpp, cursor_delete.cpp,
//   cursor_store.cpp        the writes and what they share (write_scope.h)
//   cursor_navigation.cpp   the current index, walking and searching by it,
//                           ranges
//   cursor_indexes.cpp      index definitions at creation, keys kept in step
//                           with every write, adding, deleting and rebuilding
//                           indexes
//   cursor_blobs.cpp        open BLOBs of record buffers
//   cursor_filters.cpp      the cursor's filters and their bitmaps (filters.h)
//   cursor_detection.cpp    seeing other cursors', sessions' and processes'
//                           changes; table, record and semaphore locks
//   cursor_mapping.cpp      the cursor's field view and calculated fields
//   cursor_values.cpp       defaults, validity checks, bookmarks, header values
//   cursor_properties.cpp   table properties, the in-memory table's image,
//                           clones
//   table_files_ops.cpp     empty, delete, rename, backups, journal playback,
//                           index and header definitions of a closed table
//   cursor_whole_table.cpp  what the whole-table work asks of the cursor
// The whole-table work itself (record sort, verify and repair, upgrade,
// copy, optimize, restructure) is maintenance/'s: cursor_maintenance.cpp
// there passes each call on.
//
// Order: the current index position is 0 (the primary index), 1..30 (the
// secondary indexes in creation order) or 255 (physical order). Position 0
// of a table without a primary key walks in physical order too. Walking by
// an index is by rank: the cursor keeps the current key and its 1-based
// number in the index; a step checks the key at that number and takes its
// neighbour in one descent, and looks the key up again when the tree
// changed. A range is a pair of key prefixes (start and end, each with its
// compared length); the records whose keys lie between them over those
// lengths are visible.
//
// Record buffers have the .DAT record layout (data_file.h). A BLOB field
// of a buffer holds a block reference (positive), 0 (empty) or, while the
// BLOB is open in this cursor, a small negative handle (-1, -2, ...) that
// names an entry of the cursor's open list (at most 64 entries).
//
// Writes: an exclusive cursor's writes stay in the table's caches until the
// table is flushed or closed; a shared cursor's writes go to the files (to
// the operating system; to disk with the session's ForceBufferFlush) before
// the write lock is released.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tables/engine/cursor/cursor_settings.h"
#include "tables/engine/cursor/cursor_state.h"
#include "tables/engine/cursor/filters.h"
#include "tables/engine/cursor/table_creation.h"
#include "tables/engine/errors/errors.h"
#include "tables/engine/files/blob_buffer.h"
#include "tables/engine/files/data_file.h"
#include "tables/engine/files/field_definition.h"
#include "tables/engine/files/index_file.h"
#include "tables/engine/files/index_key.h"
#include "tables/engine/files/index_tree.h"
#include "tables/lib/exptoken.h"

namespace korvex {

class TDataDirectory;
class TDataTable;
// Whole-table work of maintenance/ that the cursor passes on.
struct TRecordSortRequest;
struct TRecordSortResult;
struct TRestructureRequest;

inline constexpr std::size_t kMaxOpenBlobs = 64;

class TDataCursor : public TCursorSettings, protected TCursorState {
public:
  explicit TDataCursor(TDataDirectory* directory);
  virtual ~TDataCursor();
  TDataCursor(const TDataCursor&) = delete;
  TDataCursor& operator=(const TDataCursor&) = delete;

  // ---- settings (cursor_settings.h has their getters; 10031 while open) ----
  void SetExclusive(bool value);
  void SetOverrideExclusive(bool value);
  void SetReadOnly(bool value);
  void SetInMemory(bool value);
  void SetIsSourceTable(bool value);
  void SetIsTemporary(bool value);
  // Trimmed, with ".DAT" as its extension.
  void SetTableName(const std::string& name);
  // Takes effect only when the fields include an auto-increment field.
  void SetSuppressAutoIncValues(bool value);

  // ---- properties (cursor_properties.cpp) ----
  double GetLastUpdated() const;
  std::uint32_t GetPhysicalRecordsUsed() const;
  std::uint32_t GetDataFileSize() const;
  std::uint32_t GetIndexFileSize() const;
  std::uint32_t GetBlobFileSize() const;
  // In-memory tables: the image of their files (data_table.h has the
  // layout); each does nothing unless the table is in memory. A saved
  // image replaces the table: the range and filters go and the cursor
  // stands before the first record.
  void BeginBufferLoad();
  std::uint32_t LoadFromBuffer(void* destination, std::uint32_t offset, std::uint32_t count);
  void EndBufferLoad();
  void BeginBufferSave();
  std::uint32_t SaveToBuffer(const void* source, std::uint32_t offset, std::uint32_t count);
  void EndBufferSave();
  std::uint32_t GetBufferSize() const;
  // A new open cursor on the same table, the same directory and settings,
  // with this cursor's field view, on this cursor's record. It opens also
  // a table this cursor holds exclusively.
  std::unique_ptr<TDataCursor> CloneCursor();

  // ---- change detection and table locks (cursor_detection.cpp) ----
  // The table's three update stamps become this cursor's baseline.
  void SynchLastUpdateStamps();
  // False for an exclusive cursor (without OverrideExclusive) or a
  // read-only table; else whether the table's stamps moved since this
  // cursor last looked (the baseline is then brought up to date).
  bool PerformChangeDetection();
  // On a change, the cursor returns to its record (or its place).
  void CheckForCursorChanges();
  // The opening step of every read: a stamp check, or under the session's
  // StrictChangeDetection the table's read lock for the whole read.
  // ReadUnlockTable ends the read and releases only a read lock taken
  // during it.
  void CheckForChangeDetection();
  void Refresh();
  bool ReadLockTable();
  void ReadUnlockTable();
  void WriteLockTable();
  void WriteUnlockTable();
  void UserReadLockTable();
  void UserReadUnlockTable();
  void UserWriteLockTable();
  void UserWriteUnlockTable();
  bool TableIsLocked();
  // The current record's lock (held by anyone).
  bool RecordIsLocked();
  bool UserLockSemaphore(int n);
  void UserUnlockSemaphore(int n);
  bool TransactionInProgress() const;
  // Whether the table's transaction holds the table's write lock.
  bool TransactionIsLocked() const;
  void FlushOSBuffers();
  // Writes the table's modified records, pages and blocks with their
  // headers (an exclusive cursor's table: new stamps only) and takes the
  // table's stamps as this cursor's.
  void FlushBuffers(bool adjust, bool data, bool blobs, bool index);
  // Lets the table's caches go (their modified entries written first);
  // `reread_headers` reads the three headers again.
  void FreeBuffers(bool adjust, bool reread_headers);

  // ---- life cycle ----
  void OpenCursor();
  void CloseCursor(bool discard_temporary = true);
  // Opens or closes (discarding a temporary table); nothing when unchanged.
  void SetIsOpen(bool value);
  bool IsOpen() const { return open_; }
  TDataTable* Table() const { return table_; }

  // ---- guards ----
  void CheckExclusive() const;
  void CheckNotReadOnly() const;
  void CheckNotOpen() const;
  // A setting that only a closed cursor takes (unchanged values pass).
  template <class T>
  void SetWhileClosed(T& setting, T value) {
    if (setting == value) return;
    CheckNotOpen();
    setting = value;
  }

  // ---- creation ----
  // Checks and completes the definitions (trimmed names, sizes, offsets),
  // then writes the three files. Nothing is written when a check fails;
  // an existing table is refused (13060) unless Overwrite. The caller's
  // field and index definitions hold the stored form once checked (the
  // const form completes a copy of the index definitions).
  void CreateTable(TTableCreation& creation, std::vector<TFieldDefinition>& fields);
  void CreateTable(const TTableCreation& creation, std::vector<TFieldDefinition>& fields);
  // The checks of creation, in order; raise at the first fault.
  void VerifyStructureInformation(const TTableCreation& creation, std::vector<TFieldDefinition>& fields) const;
  // With assign_offsets false (field mapping) the offsets and the record
  // size are left as given. A calculated field stays calculated only in a
  // result set.
  void VerifyFieldInformation(std::vector<TFieldDefinition>& fields, bool assign_offsets = true) const;

  // ---- field mapping and calculated fields (cursor_mapping.cpp) ----
  // The cursor's own view of the fields: stored fields by number keep the
  // table's bytes (a number past the table's fields is a field of the
  // buffer only), calculated fields (with their parsed Expression, owned by
  // the caller and kept while mapped) follow the table's record in the
  // buffer and are computed whenever a stored field of the buffer is put
  // and whenever a record is read. Record buffers grow accordingly
  // (GetRecordSize).
  void SetFieldMapping(const std::vector<TFieldDefinition>& fields);
  void ResetFieldMapping();
  bool FieldsMapped() const { return mapped_; }
  // Computes every calculated field of the buffer.
  void CalculateExpressionFields(std::uint8_t* buffer) const;
  // The table's own fields, by position.
  std::uint16_t GetPhysicalFieldCount() const { return static_cast<std::uint16_t>(physical_fields_.size()); }
  std::uint32_t GetPhysicalRecordSize() const { return physical_size_; }
  const TFieldDefinition& GetPhysicalFieldDefinitionByPos(int position) const;
  bool GetPhysicalField(int field, const std::uint8_t* buffer, std::uint8_t* data) const;  // true: blank
  void PutPhysicalField(int field, std::uint8_t* buffer, const std::uint8_t* data) const;
  // Completes the definitions (trimmed names, key field counts and sizes);
  // entry 0 is the primary index.
  void VerifyIndexInformation(std::vector<TIndexDefinition>& indexes, const std::vector<TFieldDefinition>& fields,
                              bool allow_empty_primary) const;

  // ---- the current index ----
  bool IsPhysicalNavigation() const;
  std::uint8_t GetIndexPos() const { return index_pos_; }
  std::string GetIndexName() const { return index_def_.Name; }
  std::uint16_t GetKeySize() const { return index_def_.KeySize; }
  // Secondary indexes of the table.
  std::uint8_t GetIndexCount() const;
  bool GetNoPrimaryIndex() const;
  // The definition at an index position; 255 gives a cleared one.
  void GetIndexDefinition(std::uint8_t position, TIndexDefinition& definition) const;
  // The key field numbers of the index at a position (zeros past its key).
  void GetKeyFields(std::uint8_t position, std::array<std::uint16_t, kMaxKeyFields>& fields) const;
  // Header setters of an exclusive, writable cursor (10253 / 11013). Fewer
  // secondary indexes drop the ones above (their pages freed); more than
  // there are definitions for is refused (9487). No primary index drops
  // it (its pages freed); false is refused (10022) unless there is one.
  // The cursor then stands before the first record of its index (the
  // primary one when its own went).
  void SetIndexCount(std::uint8_t count);
  void SetNoPrimaryIndex(bool value);
  // Cancel the range and keep the current record where the new order has
  // it. 10022 for a name that names no index (the range stays cancelled).
  void SetIndexPos(std::uint8_t position);
  void SetIndexName(const std::string& name);
  // The current index's key of a record buffer (GetKeySize() bytes).
  void GetKeyValues(const std::uint8_t* record, std::uint8_t* key) const;
  int CompareKeys(const std::uint8_t* a, const std::uint8_t* b, std::uint16_t length) const {
    return compare_.CompareKeys(a, b, length);
  }

  // ---- searching and ranges (not under physical navigation) ----
  // Finds by key bytes (is_key) or by the key fields of a record buffer.
  // field_count 0 or at least the key field count with partial_length 0
  // searches the whole key (unique indexes); otherwise the first
  // field_count key fields, plus partial_length leading characters of the
  // next one, are compared. Nearest leaves the cursor on the first key not
  // below (the last record when there is none). The current record is
  // copied into `buffer` when given.
  bool Find(bool is_key, const std::uint8_t* values, int field_count, bool nearest, std::uint8_t partial_length,
            std::uint8_t* buffer);
  // Every key field equal (a non-unique index's record ID not compared).
  bool FindExact(const std::uint8_t* values, std::uint8_t* buffer);
  // Bounds from key bytes or record buffers over their first field counts
  // (0: every key field); null values: no bound on that side.
  void SetRange(bool is_key, const std::uint8_t* start, int start_count, const std::uint8_t* end, int end_count);
  void ResetRange();
  bool RangeActive() const { return range_active_; }
  // The range's bounds as key bytes (GetKeySize() bytes each) and its
  // switch; ActivateRange counts the range and keeps the current record.
  // Nothing under physical navigation.
  void SetBeginIndexRange(const std::uint8_t* key);
  void SetEndIndexRange(const std::uint8_t* key);
  void ActivateRange();
  // Searches of the current index by key bytes: an exact key over its first
  // `length` bytes (the cursor goes there when found), and whether a key is
  // in the index; a key violation is a unique index already holding it.
  bool FindExactIndexKey(const std::uint8_t* key, std::uint16_t length);
  bool SearchIndexKeys(const std::uint8_t* key);
  bool CheckForKeyViolation(const std::uint8_t* key);
  // The current key entry (GetKeySize() bytes; zeros off a record).
  const std::uint8_t* GetKeyEntryPtr() const { return key_.data(); }
  // Read-ahead: the visible records in a row from the current one in
  // `direction` (1 forward, else backward), counting it, from 1 up to
  // `max`; the BLOB blocks `length` bytes take.
  std::uint32_t GetNumReadAheadRecords(std::uint32_t max, int direction);
  std::uint32_t GetNumReadAheadBlocks(std::int64_t length) const;
  // The live-record counter of the table's index header.
  std::uint32_t GetActualRecordCount() const;
  void SetActualRecordCount(std::uint32_t count);
  void IncActualRecordCount();
  void DecActualRecordCount();
  // The n-th visible record (1-based); 0 leaves the cursor before the
  // first, a number above the count after the last.
  TEngineErrorCode SetToRecordNumber(std::uint32_t n);

  // ---- adding and deleting indexes (exclusive, writable) ----
  void AddPrimaryIndex(TIndexDefinition& definition);
  void AddSecondaryIndex(TIndexDefinition& definition);
  void DeleteIndex(const std::string& name);
  void DeleteIndexByPos(std::uint8_t position);
  void DeleteAllIndexes();

  // ---- filters (cursor_filters.cpp, filters.h) ----
  // At most 64; a new filter is inactive. Navigation and the record count
  // see only the records that pass every active filter.
  TFilter* AddFilter(std::uint32_t user_data, std::string_view text, TExpToken* tree, bool owns_tree,
                     TRecordFilter callback, const TFilterFlags& options);
  // nullptr: every filter. 10050 for a filter of another cursor.
  void DropFilter(TFilter* filter);
  void ActivateFilter(TFilter* filter);
  void DeactivateFilter(TFilter* filter);
  void ResetFilter(TExpToken* tree, TFilter* filter);
  void DropAllFilters() { DropFilter(nullptr); }
  void ActivateAllFilters() { ActivateFilter(nullptr); }
  void DeactivateAllFilters() { DeactivateFilter(nullptr); }
  TOptimizeLevel GetFilterOptimizeLevel() const;
  // A setting: while suspended the filter bitmaps are not kept up; switching
  // it off rebuilds range and filters.
  void SetFilterUpkeepSuspended(bool suspended);
  bool GetFilterUpkeepSuspended() const { return filter_upkeep_suspended_; }
  // The cursor's filters (created on first use).
  TFilterSet& Filters();
  // Copies the filters of `source` (an open cursor on the same table).
  void CopyFiltersFrom(TDataCursor& source);

  // ---- fields ----
  std::uint16_t GetFieldCount() const { return static_cast<std::uint16_t>(fields_.size()); }
  std::uint32_t GetRecordSize() const { return record_size_; }
  const TFieldDefinition& GetFieldDefinitionByPos(int position) const;  // 9985 out of range
  // Raw data bytes of a field (strings zero-terminated in `size`+1 bytes).
  bool GetField(int field, const std::uint8_t* buffer, std::uint8_t* data) const;  // true: blank
  // null data sets the field blank. Strings lose trailing blanks; an empty
  // one is blank. A calculated field is written only with allow_calculated;
  // after a stored field the calculated ones are computed again.
  void PutField(int field, std::uint8_t* buffer, const std::uint8_t* data, bool allow_calculated = false) const;
  static std::uint32_t GetRecordID(const std::uint8_t* buffer);
  static void PutRecordID(std::uint32_t id, std::uint8_t* buffer);
  // The block reference of a BLOB field's bytes (flag byte first).
  static std::uint32_t GetBlobRecord(const std::uint8_t* field);
  // A BLOB field's signature in a record buffer, the field by the cursor's
  // number or, with `physical`, by the table's position.
  std::uint32_t GetBlobSignature(int field, const std::uint8_t* buffer, bool physical = false) const;
  void PutBlobSignature(int field, std::uint8_t* buffer, bool physical, std::uint32_t value) const;
  // Field definitions by number or by name (ignoring case): the cursor's
  // view, or the table's; 9985 when there is none. Updates replace a
  // definition by position (9985 out of range).
  const TFieldDefinition& GetFieldDefinitionByNumber(int number) const;
  const TFieldDefinition& GetFieldDefinitionByName(const std::string& name) const;
  const TFieldDefinition& GetPhysicalFieldDefinitionByNumber(int number) const;
  const TFieldDefinition& GetPhysicalFieldDefinitionByName(const std::string& name) const;
  void UpdateFieldDefinitionByPos(int position, const TFieldDefinition& definition);
  void UpdatePhysicalFieldDefinitionByPos(int position, const TFieldDefinition& definition);
  // By position, or in restructure mode by stored field number (9985 when
  // there is none): the cursor's view, or the table's.
  void GetFieldDefinition(int field, TFieldDefinition& definition) const;
  void GetPhysicalFieldDefinition(int field, TFieldDefinition& definition) const;
  // The table's BLOB fields.
  std::uint16_t GetBlobFieldCount() const;

  // ---- records ----
  void ClearRecord(std::uint8_t* buffer) const;
  // Clears the buffer and applies the fields' default texts, read in the
  // table's language formats; "DATE", "TIME" and "NOW" (any case) take the
  // clock's date, time of day and both. Types that read no text (BLOBs,
  // bytes) are set with zero bytes.
  void InitRecord(std::uint8_t* buffer) const;
  // Raises 9732 for a required field left blank, 9730 / 9731 for a value
  // below the minimum / above the maximum (strings by the table's
  // collation, numbers, dates and times by value; a blank value compares
  // as zero; booleans, BLOBs and bytes always pass).
  void CheckRecordValidity(const std::uint8_t* buffer) const;
  // Whether a stored field is required or bounded (CheckRecordValidity
  // has work); noted whenever the stored fields' definitions change.
  void NoteFieldChecks();

  // ---- bookmarks ----
  // Under physical navigation a bookmark is the 4-byte physical record
  // number; under an index it is the current key entry (GetKeySize()
  // bytes, zeros off a record), so its size changes with the index.
  std::uint16_t GetBookmarkSize() const { return IsPhysicalNavigation() ? 4 : index_def_.KeySize; }
  void GetBookmark(std::uint8_t* bookmark) const;
  // Physical: false when the bookmark's record is gone (the cursor then
  // stays put). Under an index the cursor goes to the nearest key and the
  // answer is whether it landed on the bookmark's key (false on an empty
  // range). With keep_begin_end a cursor before the first (after the last)
  // record stays there when the bookmark is that record, and the answer
  // is true.
  bool SetToBookmark(const std::uint8_t* bookmark, bool keep_begin_end = false, bool no_change_check = false);
  // -1, 0, 1 in the current order: record numbers unsigned under physical
  // navigation, else the index's key comparison.
  int CompareBookmarks(const std::uint8_t* a, const std::uint8_t* b) const;

  // ---- header values ----
  // Open: the table's (language and sort ID: the cursor's). Closed: read
  // from the .DAT header (GetDataHeader: an encrypted table's password must
  // be known). Description and password in clear; a table that is not
  // encrypted has an empty password.
  std::uint32_t GetLastRecordID() const;
  std::uint16_t GetBlobBlockSize() const;
  // The data bytes of one BLOB block (the block less its 18-byte header).
  std::uint16_t GetBlobBlockBufferSize() const;
  std::uint16_t GetLanguageID() const;
  std::uint16_t GetSortID() const;
  std::uint16_t GetUserMajorVersion() const;
  std::uint16_t GetUserMinorVersion() const;
  // The table version as text ("4.00" style, VersionToStr).
  std::string GetVersionNum() const;
  std::string GetDescription() const;
  std::string GetPassword() const;
  bool GetEncrypted() const;
  TEngineErrorCode GetCurrentRecord(std::uint8_t* buffer, bool lock);
  // The current record's values in a cleared buffer: every field that is not
  // blank, BLOBs as new BLOBs of the buffer with the same content; the
  // record ID only with SuppressAutoIncValues. 8709 without a record.
  TEngineErrorCode CloneCurrentRecord(std::uint8_t* buffer);
  // The cursor's current record (the last read or written), record size
  // bytes.
  const std::uint8_t* GetCurrentRecordBuffer() {
    Settle();
    return current_record_.data();
  }
  TEngineErrorCode GetNextRecord(std::uint8_t* buffer);
  TEngineErrorCode GetPriorRecord(std::uint8_t* buffer);
  void SetToBegin();
  void SetToEnd();
  // Physical record number (1-based); 8710 when it is not a live record.
  // Under physical navigation a deleted record's place leaves the cursor
  // on the nearest live record after it, else before it (else before the
  // first); elsewhere the cursor stays put.
  TEngineErrorCode GotoPhysicalRecordNumber(std::uint32_t n);
  // Goes to the current record of another cursor on the same table, in
  // this cursor's order: 8709 when the other has none, 8710 when this
  // cursor's range or filters hide it.
  TEngineErrorCode SetToRecordBuffer(const TDataCursor& other);
  // Puts the cursor on the record `record` is a copy of (its number and
  // record ID in bytes 1..8), where that record stands now in the cursor's
  // order. A record that left the view (deleted, or now outside the range
  // or the filters) leaves the cursor at the place it had, `bookmark` (the
  // copy's bookmark), with no current record there (a read of it gives
  // 8708): a step goes on to the neighbours of that place. True when the
  // cursor stands on the record.
  bool ReturnToRecord(const std::uint8_t* record, const std::uint8_t* bookmark);
  std::uint32_t GetPhysicalRecordNumber() const { return current_; }
  // 1-based position of the current record among the live ones; 0 when none.
  std::uint32_t GetRecordNumber();
  std::uint32_t GetRecordCount();
  bool AtBegin() const { return bof_; }
  bool AtEnd() const { return eof_; }
  // Key checks of every unique index come before any byte is written
  // (9729); with `reposition` the cursor stands on the record afterwards
  // (after a delete: on the record that follows it in the current order).
  void AppendRecord(std::uint8_t* buffer, bool reposition = true);
  // Appends `count` records laid out one after another (GetRecordSize()
  // bytes each); the cursor stands on the last one. An exclusive in-memory
  // table without indexes, BLOB fields or filters outside a transaction (a
  // query's result table) takes them past the record cache as one write,
  // their system keys added in order: all of them or, on any failure, none.
  // Any other table takes them one AppendRecord at a time, and a failure
  // there keeps the records appended before it.
  void AppendRecords(const std::uint8_t* buffers, std::uint32_t count);
  // The caller holds the record's lock (GetCurrentRecord(buffer, true)).
  void ModifyRecord(std::uint8_t* buffer, bool unlock_record, bool reposition = true);
  void DeleteRecord(const std::uint8_t* buffer, bool reposition = true);
  // Whether the current record's stored bytes differ from the buffer's:
  // record ID and fields, BLOB fields by reference and signature.
  bool CurrentRecordDiffers(const std::uint8_t* buffer);
  void UserWriteLockRecord(std::uint32_t n);
  void UserWriteUnlockRecord(std::uint32_t n);

  // ---- maintenance (maintenance/cursor_maintenance.cpp) ----
  // Sorts the records (record_sort.h) of a table opened exclusively (else
  // 10253) that has no index; with any index it does nothing. The cursor
  // goes back to the beginning.
  TRecordSortResult SortRecordBuffers(const TRecordSortRequest& request);
  // Verifies or repairs the closed table (table_repair.h): 10031 while the
  // cursor is open, 10253 unless exclusive, 11013 when repairing read-only
  // or when the table is open anywhere. Lines go to the repair log, progress
  // to the repair progress callback.
  void RepairTable(bool verify_only, bool adopt_blob_signatures);
  // Converts the closed table from an older table version (table_upgrade.h);
  // lines and progress, the repair's too, go to the upgrade's callbacks.
  void UpgradeTable();

  // ---- BLOBs (status 0 or an engine error number) ----
  // The field by the cursor's number or, with `physical`, by the table's
  // position. TruncateBlob also grows a BLOB (with zero bytes).
  TEngineErrorCode OpenBlob(int field, std::uint8_t* buffer, std::uint8_t mode, bool internal = false,
                            bool physical = false);
  TEngineErrorCode FreeBlob(int field, std::uint8_t* buffer, bool internal = false, bool physical = false);
  TEngineErrorCode GetBlob(int field, const std::uint8_t* buffer, std::int64_t offset, std::uint8_t* dest,
                           std::int64_t length, std::int64_t& count, bool physical = false);
  TEngineErrorCode PutBlob(int field, std::uint8_t* buffer, std::int64_t offset, const std::uint8_t* source,
                           std::int64_t length, bool physical = false);
  TEngineErrorCode TruncateBlob(int field, std::uint8_t* buffer, std::int64_t length, bool physical = false);
  TEngineErrorCode GetBlobSize(int field, const std::uint8_t* buffer, std::int64_t& size, bool physical = false);
  // A BLOB's whole content, read through a handle of its own (the buffer
  // is not changed).
  std::vector<std::uint8_t> ReadBlobContent(int field, const std::uint8_t* buffer);
  bool ValidBlobHandle(int field, const std::uint8_t* buffer, bool physical = false) const;
  // Whether a (negative) handle names one of this cursor's open BLOBs.
  bool ValidBlobBufferHandle(std::int32_t handle) const { return handle < 0 && blobs_.count(handle) != 0; }
  std::size_t OpenBlobCount() const { return blobs_.size(); }
  void FreeAllBlobs(bool all);

  // ---- whole-table operations ----
  // Each first plays back a journal left by a dead writer (under an
  // exclusive open), so no journal is carried to another name.
  // table_files_ops.cpp:
  // Open cursor: exclusive, not read-only; the records go and the cursor
  // stands before the first. A closed cursor empties the table through an
  // exclusive open of its own.
  void EmptyTable();
  // Closed cursor; 11013 while the table is open anywhere.
  void DeleteTable();
  void RenameTable(const std::string& new_name);
  // The three files move to the backup names ".DBK", ".IBK", ".BBK".
  void BackupTable();
  // Open cursor, exclusive, not read-only: the flushed index file is copied
  // to "<table>.IBK"; RestoreIndex puts it back unless keep_current.
  void BackupIndex();
  void RestoreIndex(bool keep_current, bool delete_backup);
  // The data-file header: the shared table's when open, else read from the
  // file (an encrypted table's password must be known to the session or
  // given through the password callback, else 10498).
  void GetDataHeader(TDataHeader& header) const;
  void UpdateDataHeader(const std::string& password, const std::string& description, std::uint32_t last_record_id,
                        std::uint16_t user_major, std::uint16_t user_minor);
  // An index position's definition (0..the index count): set whole, or
  // only its name and key field numbers updated; the current index's key
  // information follows.
  void SetIndexDefinition(std::uint8_t position, const TIndexDefinition& definition);
  void UpdateIndexDefinition(std::uint8_t position, const TIndexDefinition& definition);
  // maintenance/ (table_copy.h, table_restructure.h):
  // Copies the live records (IDs kept, BLOBs by content, hidden fields left
  // out) into a new table that replaces any table of that name.
  void CopyTable(const std::string& new_name, bool copy_indexes);
  // Closed cursor, exclusive, not read-only: the table rewritten in the
  // order of the named index (the primary index for ""), deleted records
  // left out, record IDs kept; the old files stay as backups unless
  // no_backup (in-memory tables keep none).
  void OptimizeTable(const std::string& index_name, bool no_backup);
  // Closed cursor, exclusive, not read-only.
  void RestructureTable(const TRestructureRequest& request);
  // Open cursor: the physical fields numbered by position, index key
  // fields following.
  void ResetFieldNumbers();

  // ---- what whole-table work asks of an open cursor (cursor_whole_table.cpp) ----
  // Takes a live record out of the table whose key the index at index_pos
  // refused (its BLOBs, its keys in the other indexes; onto the free chain
  // once). A deleted record is left alone.
  void RemoveDuplicateRecord(std::uint32_t record_number, std::uint8_t index_pos);
  TDataDirectory* Directory() const { return directory_; }
  // Physical record n into the buffer; false (buffer untouched) when it is
  // deleted.
  bool ReadPhysicalRecord(std::uint32_t n, std::vector<std::uint8_t>& buffer);
  // Appends keep the record IDs their buffers give, with an auto-increment
  // field or without (a table built from another's records, a deleted
  // record put back); false gives them new IDs again.
  void KeepGivenRecordIDs(bool value = true) { suppress_auto_inc_ = value; }
  // A new BLOB of a record buffer with the given content.
  void PutBlobContent(int field, std::uint8_t* buffer, const std::vector<std::uint8_t>& content);
  // The comparison and a record's key of the index at a position
  // (kSystemSlot: the system index).
  TKeyComparator ComparatorOf(std::uint8_t slot) const;
  std::vector<std::uint8_t> KeyOf(std::uint8_t slot, const std::uint8_t* record) const;
  // The system index made again from the records (after records moved),
  // with the live count.
  void RebuildSystemIndex();
  // After the index definitions changed under the cursor: position 0 the
  // current index again, its definition and comparison read anew; the
  // cursor stands on no key.
  void ResetToPrimaryIndex() { InternalSetIndexPos(0); }

private:
  using TOpenBlob = TCursorOpenBlob;
  // One append, modify or delete: write lock and undo (write_scope.h).
  class TWriteScope;
  // The BLOB fields of a buffer being written and the open BLOBs they name,
  // as they were: a write that fails leaves the buffer naming its open
  // BLOBs again, their content unwritten (cursor_blobs.cpp).
  class TStoredBlobs {
  public:
    TStoredBlobs(TDataCursor& cursor, std::uint8_t* buffer);
    ~TStoredBlobs();
    TStoredBlobs(const TStoredBlobs&) = delete;
    TStoredBlobs& operator=(const TStoredBlobs&) = delete;
    // The write is in the files: its open BLOBs (and the engine's) leave
    // the list.
    void Keep();

  private:
    struct TField {
      const TFieldDefinition* def;
      std::uint8_t bytes[9];  // flag, reference, signature
      std::int32_t handle;
      TBlobBuffer* blob;
      TBlobBuffer::TState state;
    };
    TDataCursor& cursor_;
    std::uint8_t* buffer_;
    std::vector<TField> fields_;
    bool kept_ = false;
  };
  [[noreturn]] void Fail(TEngineErrorCode code, std::string_view field = {}) const;
  bool InternalGetField(const TFieldDefinition& def, const std::uint8_t* buffer, std::uint8_t* data) const;
  void InternalPutField(const TFieldDefinition& def, std::uint8_t* buffer, const std::uint8_t* data,
                        bool allow_calculated) const;
  // Sizes the current record to the cursor's record size and computes its
  // calculated fields.
  void CompleteCurrent();
  // One operand of a calculated field's expression (expeval.h's TFieldValue).
  static bool EvaluateCalculatedFieldData(void* cursor, const void* buffer, TExpToken* result);
  const TFieldDefinition& FieldAt(int field) const;
  // The field found, else 9985 naming what was asked for.
  const TFieldDefinition& FoundField(const TFieldDefinition* field, const std::string& asked) const;
  void RequireOpen() const;

  // Reading: one record of the table; the table's change detection may
  // ask for a second attempt. With `alone`: nullptr when the record was
  // read alone straight into it (TDataFile::GetRecord).
  TRecord* FetchRecord(std::uint32_t n, int direction, std::uint8_t* alone = nullptr);
  // GotoPhysicalRecordNumber without the move to the nearest live record:
  // the cursor stays put when n is not live (or not in the current order).
  TEngineErrorCode GotoLiveRecord(std::uint32_t n);
  // The same without reading a window ahead (records far apart: more
  // than kReadAheadGap from the last one read).
  TRecord* FetchRecordAlone(std::uint32_t n);
  static constexpr std::uint32_t kReadAheadGap = 64;
  // The next live record after (direction 1) or before (-1) n; 0 when none.
  // With `load`: a live record met in the walk without filters becomes the
  // current record on the way (*load stays false otherwise).
  std::uint32_t Neighbour(std::uint32_t n, int direction, bool* load = nullptr);
  void LoadCurrent(std::uint32_t n);
  TEngineErrorCode CopyCurrent(std::uint8_t* buffer, TEngineErrorCode status);
  // The read bracket of every reading operation (CheckForChangeDetection
  // and ReadUnlockTable); they nest.
  void ReadLock() { CheckForChangeDetection(); }
  void ReadUnlock() { ReadUnlockTable(); }
  // After a change found by the change checks: back to the record the
  // cursor stood on while it keeps its key and stays in view (a walk goes
  // on in order); else the cursor keeps the record's place (LeftView).
  // With `moved_too` (Refresh) a record with a new key in view is followed
  // to its new place.
  void ReturnAfterChange(bool moved_too = false);
  // Record n, when it is live (with record ID *id, when given), in the
  // view, and (unless `moved_too`) at the current key, becomes the current
  // record at its place now; false leaves the cursor as it was.
  bool PlaceOnRecord(std::uint32_t n, const std::uint32_t* id, bool moved_too);
  // The cursor stays at the place of record n, which left its view; the
  // current key and the cursor's copy of the record are those it had.
  void KeepPlaceOf(std::uint32_t n);
  bool LeftView() const { return left_ != 0 && left_ == current_ && !bof_ && !eof_; }
  // Filter bitmaps behind the table's changes (another cursor's writes, or
  // changes found since) are made again.
  void CatchUpFilters();
  // Writes the buffer's field bytes and record ID into `record`, with the
  // open BLOBs written and their references stored.
  bool StoreRecord(std::uint8_t* buffer, TRecord* record, std::uint32_t n);
  // A modify inside a transaction that changes no key of the record, on a
  // table without BLOBs: the record's bytes change in the cache and nothing
  // else does, so the only thing to put back on a failure is the record
  // itself. False (nothing done) when the modify is not of that kind.
  bool ModifyInPlace(std::uint8_t* buffer, bool unlock_record, bool reposition);
  // What follows a modify that is in the cache: filters, the record's
  // lock, the cursor's place.
  void ModifyDone(std::uint32_t n, bool keys_changed, std::uint64_t changes_before, bool unlock_record,
                  bool reposition);
  // Ends the write of a TWriteScope that succeeded (its closing flush).
  // The write's closing flush; `keys`: index pages changed (the index
  // header is written, so other sessions see them).
  void Flush(bool blobs, bool keys = true);
  std::uint32_t PeekNextRecordID() const;
  // A default or limit text as a value of the field's type in record
  // format (false: the text is no such value).
  bool TextValue(const TFieldDefinition& def, const std::string& text, std::uint8_t* data) const;
  using TStoredRules = TStoredFieldRules;
  void ReadStoredRules() const;

  // ---- indexes (cursor_navigation.cpp, cursor_indexes.cpp) ----
  // Loads the definition and comparison of a position.
  void InternalSetIndexPos(std::uint8_t position);
  TIndexTree Tree();
  // Position on the rank-th key of the current index (key and record
  // given); no record when rank is 0.
  // `unread`: the record's bytes are read when first asked for (Settle).
  void PlaceAt(std::uint32_t rank, const Key& key, std::uint32_t record, bool unread = false);
  // Reads the current record a removal moved on to without reading it.
  void Settle();
  void ResetIndexPosition();
  // First and last visible rank (first > last: none).
  void RangeBounds(std::uint32_t& first, std::uint32_t& last);
  bool BeyondRange(const Key& key, int direction) const;
  bool GotoFirstIndexPosition();
  bool GotoLastIndexPosition();
  // Moves one key; false when the cursor ran past an end (flags set).
  bool SkipIndexKey(int direction);
  // Before a step's record is read: where it would be read alone (a walk
  // by an index whose records lie at random through a large file), the
  // records of the keys ahead go into the file's copies first, a batch
  // that doubles while the walk runs on through the batch before.
  void CopyWalkAhead(TIndexTree& tree, std::uint32_t rank, std::uint32_t record, int direction);
  // The rank of the current key now (0 when gone: `gone` is set and the
  // rank is where it would be).
  std::uint32_t LocateCurrentKey(bool& gone);
  // Nearest (or exact) placement on a key over `length` bytes; answers
  // whether a key equal over `length` was found.
  bool FindIndexKey(const std::uint8_t* key, std::uint16_t length, bool nearest);
  // After a write or index change: the cursor on the current record's key.
  void RepositionCurrentRecord();
  std::uint16_t KeyFieldBytes(int field_count) const;
  // Key bytes from `from` on: the lowest a key can hold there, or the highest.
  void FillKeyAfter(Key& key, std::uint16_t from, bool high) const;
  using TSlotList = TKeyedSlots;
  TSlotList KeyedPositions() const;
  // Whether two records have the same bytes wherever the index at `slot`
  // builds its key from (then their keys are equal without building them).
  bool SameKeyBytes(std::uint8_t slot, const std::uint8_t* a, const std::uint8_t* b) const;
  // SameKeyBytes for every index that holds keys (KeyedPositions).
  bool SameKeyBytesEverywhere(const std::uint8_t* a, const std::uint8_t* b) const;
  // A record's key of the index at `slot` into `key` (the key size).
  void BuildKey(std::uint8_t slot, const std::uint8_t* record, std::uint8_t* key) const;
  // A key that a unique index already holds refuses the write with 9729
  // (the index named) when it comes to be added, after other indexes may
  // have changed: the write's undo puts them back. Each insert is the one
  // descent that checks and adds.
  [[noreturn]] void RaiseKeyViolation(std::uint8_t slot) const;
  // Adds the record's keys to every index; `rank` becomes the new key's
  // rank in the current index (0 when that is not one of them).
  void AddKeys(const std::uint8_t* record, std::uint32_t n, std::uint32_t& rank);
  // False when the system index already holds the new key; `rank` as in
  // AddKeys.
  // (`old_key` null: the record had no key yet.)
  bool ReplaceSystemKey(const std::uint8_t* old_key, const std::uint8_t* new_key, std::uint32_t n,
                        std::uint32_t* rank = nullptr);
  // Old and new keys equal by the index's order are no violation, whatever
  // their bytes.
  void ReplaceKey(std::uint8_t slot, const Key& old_key, const Key& new_key, std::uint32_t n);
  void RemoveKey(std::uint8_t slot, const std::uint8_t* key, TIndexTree::TFollower* follower = nullptr,
                 const TIndexTree::TPathHint* hint = nullptr);
  void BuildIndex(std::uint8_t slot);
  // Fills a just-added index from the records; takes it away again when
  // that fails. The current index stays; the cursor goes to the beginning.
  void BuildAddedIndex(std::uint8_t slot);
  void CancelRange();
  // One bound of the range from whole-key bytes.
  void SetRangeBound(Key& bound, std::uint16_t& length, const std::uint8_t* key);
  // The position (from `first`) of the index of that name, trimmed and
  // ignoring case; -1 when none.
  int IndexPosOfName(const std::string& name, std::uint8_t first) const;
  void RebuildMissingIndex();
  void AddIndexDefinitions(TDataTable* table, const TTableCreation& creation,
                           const std::vector<TFieldDefinition>& fields) const;

  // BLOBs.
  TOpenBlob* BlobOf(const TFieldDefinition& def, const std::uint8_t* buffer) const;
  TEngineErrorCode CheckedBlob(int field, const std::uint8_t* buffer, TOpenBlob*& blob, bool physical = false) const;
  const TFieldDefinition& BlobFieldAt(int field, bool physical) const;
  void UpdateBlobSignatures(std::uint8_t* buffer);
  bool FlushBlobBuffers(const std::uint8_t* buffer);
  TEngineErrorCode IndexMove(std::uint8_t* buffer, int direction);
  // Filter hook: whether navigation may stop on a record. Every record
  // while no filter is in force.
  bool RecordVisible(std::uint32_t n) const;
  // Filters: the operations' common frame; the set told of the current
  // order and range, its bitmaps rebuilt; the bitmaps kept up by a write.
  class TCursorFilterSource;
  void FilterOperation(const std::function<void(TFilterSet&)>& operation);
  void SyncFilterState();
  void RefreshFilters();
  void FilterRecordWritten(std::uint32_t n);
  void FilterRecordDeleted(std::uint32_t n);
  // Record n became live or deleted: the live ranks follow when they were
  // up to date (true when they are).
  bool NoteLive(std::uint32_t n, bool live);
  // The position of live record n in physical order; false when the
  // system index cannot tell (the caller walks instead).
  bool LiveRank(std::uint32_t n, std::uint32_t& rank);
  // Under filters, moves from a candidate key on to the nearest visible one
  // in `direction`; false when none is left.
  bool SkipInvisible(TIndexTree& tree, std::uint32_t& rank, Key& key, std::uint32_t& record, int direction);
  // Writes each open BLOB's block reference into the buffer and closes it:
  // the buffer no longer names it.
  void UpdateBlobOffsets(std::uint8_t* buffer);
  // Frees the chains of every stored BLOB field of the record (its stored
  // bytes) and clears their references in it.
  void DeleteAllBlobs(std::vector<std::uint8_t>& record, std::uint32_t n);
  // Every stored BLOB field of a record in the table's layout made empty
  // (flag and reference 0).
  void ClearBlobReferences(std::uint8_t* record) const;
  // Takes the live record n (its stored bytes `old`) out of the table once
  // its keys are gone: its BLOBs freed, the record, with no BLOB reference
  // left, at the head of the free chain, the live count one less.
  // `held`: the record, fetched and still held by the caller (released here).
  void ReleaseRecord(std::vector<std::uint8_t>& old, std::uint32_t n, TRecord* held = nullptr);

  // Opens the closed cursor's table exclusively and closes it again, so a
  // journal left by a dead writer is played back (11013 while the table is
  // open anywhere).
  void PlayBackJournal();
  // Runs a change of the open table's headers under its write lock and
  // writes it (a shared cursor's at once).
  void UnderWriteLock(const std::function<void()>& change);
  void ChangeIndexDefinition(std::uint8_t position, const TIndexDefinition& definition, bool update);
  // The header values of the open table or of the closed table's file,
  // description and password in clear.
  TDataHeader HeaderValues() const;
  TDataDirectory* directory_;
  TDataTable* table_ = nullptr;
  bool open_ = false, has_auto_inc_ = false;
};

}  // namespace korvex
