// Datasets over engine cursors.
//
// TKORVEXDataSet implements the dataset framework's storage contract over
// one TDataCursor that a subclass makes (CreateHandle). TKORVEXDBDataSet
// binds it to a session and a database by name. TKORVEXMasterDataLink
// carries master-detail links.
//
// Record buffer (one SafeAlloc block):
//   0                      the engine record (RecordSize bytes)
//   RecordSize             the calculated-fields area (CalcFieldsSize)
//   record-info offset     TRecInfo, 8 bytes: record number (int32; -1 for
//                          a new record, 0 while not yet asked), the
//                          bookmark flag (1 byte), 3 bytes of padding
//   bookmark offset        the cursor's bookmark (BookmarkSize bytes)
// The offsets are computed at open and again when the layout changes
// (InitBufferPointers); the framework then remakes every live buffer.
//
// Record numbers are asked of the cursor only when RecNo is read: the
// cursor counts them by walking, which a scan must not pay per record.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dataset/datalink.h"
#include "platform/dataset/dataset.h"
#include "tables/engine/errors/errors.h"

namespace korvex {

class TDataCursor;
class TDataDirectory;
class TFilter;
class TKORVEXDatabase;
class TKORVEXSession;

// What a buffer holds after its engine record and calculated fields.
struct TRecInfo {
  std::int32_t RecordNumber;
  std::uint8_t BookmarkFlag;
  std::uint8_t Padding[3];
};
static_assert(sizeof(TRecInfo) == 8);

enum TKeyIndex : std::uint8_t { kiLookup, kiRangeStart, kiRangeEnd, kiCurRangeStart, kiCurRangeEnd, kiSave };
inline constexpr int kKeyBufferCount = 6;

// Key buffer header; the engine record follows 8 bytes in.
struct TKeyBuffer {
  bool Modified;
  bool Exclusive;
  std::int32_t FieldCount;
};
static_assert(sizeof(TKeyBuffer) == 8);

enum TFilterOptimizeLevel : std::uint8_t { foNone, foPartial, foFull };

// The dataset field type of an engine type and sub type; ftUnknown for a
// type no field stands for.
db::TFieldType FieldTypeOf(std::uint8_t data_type, std::uint8_t sub_type);

// The field definitions of a cursor's fields, hidden ones and types no
// field stands for left out, repeated names given a "_n" suffix.
void FillFieldDefs(const TDataCursor& cursor, db::TFieldDefs& defs);

class TKORVEXDataSet : public db::TDataSet {
public:
  explicit TKORVEXDataSet(rtl::TComponent* owner);
  ~TKORVEXDataSet() override;
  std::string ClassName() const override { return "TKORVEXDataSet"; }

  TDataCursor* Handle() const { return handle_; }
  bool AutoDisplayLabels() const { return auto_display_labels_; }
  void SetAutoDisplayLabels(bool value);
  // A new record starts with the values (BLOBs included) of the record
  // the dataset stood on; its record ID only with SuppressAutoIncValues.
  bool CopyOnAppend = false;

  // Layout of the record buffers.
  std::uint16_t RecordSize() const { return record_size_; }
  std::uint16_t RecInfoOffset() const { return rec_info_offset_; }
  std::uint16_t BookmarkOffset() const { return bookmark_offset_; }
  std::uint16_t BufferSize() const { return buffer_size_; }

  // ---- framework overrides (public part)
  bool GetFieldData(db::TField* field, void* buffer) override;
  void SetFieldData(db::TField* field, const void* buffer) override;
  using db::TDataSet::GetFieldData;
  using db::TDataSet::SetFieldData;
  std::unique_ptr<rtl::TStream> CreateBlobStream(db::TField* field, db::TBlobStreamMode mode) override;
  bool GetCurrentRecord(db::TRecordBuffer buffer) override;
  bool IsSequenced() override { return !Filtered(); }
  bool GetIsIndexField(db::TField* field) override;
  bool BookmarkValid(const db::TBookmark& bookmark) override;
  int CompareBookmarks(const db::TBookmark& a, const db::TBookmark& b) override;
  bool Locate(const std::string& key_fields, const db::Variant& key_values, db::TLocateOptions options) override;
  db::Variant Lookup(const std::string& key_fields, const db::Variant& key_values,
                     const std::string& result_fields) override;
  void SetStateFieldValue(db::TDataSetState state, db::TField* field, const db::Variant& value) override;
  int Translate(const char* source, char* dest, bool to_oem) override;

  // ---- other operations
  void FlushBuffers();
  // How far the cursor answers the dataset's filters from indexes.
  TFilterOptimizeLevel GetFilterOptimizeLevel() const;
  bool SuppressAutoIncValues() const { return suppress_auto_inc_; }
  void SetSuppressAutoIncValues(bool value);
  // The table's name as the engine's messages name it.
  std::string TableNameForErrors() const;
  // The active index: its key field numbers, case-blind flag and key size.
  int IndexFieldCount() const { return index_field_count_; }
  bool IndexCaseInsensitive() const { return case_insensitive_index_; }
  std::uint16_t IndexKeySize() const { return key_size_; }
  db::TField* GetIndexField(int index);
  // The index field at that place takes the value of another field
  // (nullptr: blank).
  void SetIndexField(int index, const db::TField* value);
  // Walks the records in the order of the named index ("" for the
  // primary index); the current record stays.
  void SwitchToIndex(const std::string& name);
  // Whether the fields are the leading key fields of the active index, in
  // order, and the index compares case as asked.
  bool MapsToIndex(const std::vector<db::TField*>& fields, bool case_insensitive) const;
  // Recomputes the buffer offsets (after the cursor's bookmark size
  // changed, as an index switch does) and remakes the live buffers.
  void InitBufferPointers();

  // The buffer offsets for a record, calculated-fields and bookmark size.
  struct Layout {
    std::uint16_t rec_info, bookmark, size;
  };
  static Layout ComputeLayout(std::uint32_t record_size, int calc_fields_size, int bookmark_size);

  // A buffer's record info (it may lie at any byte offset: read and
  // written by copy).
  TRecInfo GetRecInfo(db::TRecordBuffer buffer) const;
  void SetRecInfo(db::TRecordBuffer buffer, const TRecInfo& info) const;

  // ---- key buffers and ranges (open datasets; the active index's key)
  // A key buffer: its TKeyBuffer header, the engine record 8 bytes in.
  std::uint8_t* KeyBuffer(TKeyIndex index) { return key_buffers_[index]; }
  TKeyBuffer& KeyHeader(TKeyIndex index) { return *reinterpret_cast<TKeyBuffer*>(key_buffers_[index]); }
  // Enters the set-key state on that buffer (a copy kept to go back to),
  // emptied first when asked; field writes then fill its key fields.
  void SetKeyBuffer(TKeyIndex index, bool clear);
  // Leaves the set-key state, keeping the key (commit) or the copy.
  void PostKeyBuffer(bool commit);
  // Assigns values to the first key fields of a buffer (an array for
  // several); "No index currently active" without key fields.
  void SetKeyFields(TKeyIndex index, const db::Variant& values);
  int GetKeyFieldCount() const;
  void SetKeyFieldCount(int count);
  void CheckSetKeyMode() const;
  // Puts the range buffers in force (false when they are in force already)
  // and takes it off again (false when none is).
  bool SetCursorRange();
  bool ResetCursorRange();
  // The range start and end both become the master fields' values.
  void SetLinkRanges(const std::vector<db::TField*>& master_fields);
  void Post() override;
  void Cancel() override;

protected:
  friend class TKORVEXBlobStream;
  // ---- what subclasses provide
  virtual TDataCursor* CreateHandle() { return nullptr; }
  virtual void DestroyHandle();
  virtual void PrepareCursor() {}
  virtual void GetIndexInfo();
  // A cursor on an index that serves Locate on these fields with this case
  // setting, kept for the next Locate; nullptr sends Locate to a filter.
  virtual TDataCursor* GetLookupCursor(const std::string& key_fields, bool case_insensitive);
  // Drops what GetLookupCursor keeps; every filter, range and index change
  // calls it.
  virtual void DestroyLookupCursor() {}
  // A failing engine status, named after this dataset's table.
  void CheckStatus(TEngineErrorCode status) const;

  // ---- storage contract
  db::TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(db::TRecordBuffer& buffer) override;
  int GetRecordSize() override { return record_size_; }
  void OpenCursor(bool info_query) override;
  void CloseCursor() override;
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() override { return handle_ != nullptr; }
  void InternalInitFieldDefs() override;
  db::TGetResult GetRecord(db::TRecordBuffer buffer, db::TGetMode mode, bool do_check) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalInitRecord(db::TRecordBuffer buffer) override;
  void InitRecord(db::TRecordBuffer buffer) override;
  void InternalAddRecord(db::TRecordBuffer buffer, bool append) override;
  void InternalPost() override;
  void InternalCancel() override;
  void InternalEdit() override;
  void InternalInsert() override;
  void InternalDelete() override;
  void InternalRefresh() override;
  void InternalGotoBookmark(const std::uint8_t* bookmark) override;
  void InternalSetToRecord(db::TRecordBuffer buffer) override;
  void GetBookmarkData(db::TRecordBuffer buffer, std::uint8_t* data) override;
  void SetBookmarkData(db::TRecordBuffer buffer, const std::uint8_t* data) override;
  db::TBookmarkFlag GetBookmarkFlag(db::TRecordBuffer buffer) override;
  void SetBookmarkFlag(db::TRecordBuffer buffer, db::TBookmarkFlag flag) override;
  void ClearCalcFields(db::TRecordBuffer buffer) override;
  void DataConvert(db::TField* field, const void* source, void* dest, bool to_native) override;
  void DoOnNewRecord() override;
  bool FindRecord(bool restart, bool go_forward) override;
  bool GetCanModify() override { return can_modify_; }
  int GetRecNo() override;
  void SetRecNoValue(int value) override;
  int GetRecordCount() override;
  db::TRecordBuffer GetOldRecordBuffer() override;
  db::TRecordBuffer GetKeyRecordBuffer() override;
  bool HasIndexKeyFields() override { return index_field_count_ > 0; }
  db::TRecordBuffer GetActiveRecordBuffer() override;
  void SetFiltered(bool value) override;
  void SetFilterText(const std::string& text) override;
  void SetFilterOptions(db::TFilterOptions options) override;
  void SetOnFilterRecord(db::TFilterRecordEvent event) override;

private:
  // The cursor's filters stand for the dataset's: the Filter text as an
  // expression filter, OnFilterRecord as a callback filter, both active
  // while Filtered (and for the length of a FindFirst/FindNext search).
  TFilter* CreateExprFilter(const std::string& text, db::TFilterOptions options);
  TFilter* CreateFuncFilter();
  // OnFilterRecord for an engine record under test (the filter state).
  bool RecordFilter(const std::uint8_t* record);
  void ActivateFilters(bool active);
  // Puts `made` in place of `filter` (dropped), active when Filtered.
  void ReplaceFilter(TFilter*& filter, TFilter* made);
  // Drops the dataset's filters from a cursor that outlives it.
  void DropFilters();
  bool FindByIndex(TDataCursor& cursor, const std::vector<db::TField*>& fields,
                   const std::vector<db::Variant>& values, db::TLocateOptions options);
  // Reads the first record that matches the keys into the temporary
  // buffer: by a keyed search of the active index when the keys map to it,
  // else of a lookup cursor (the dataset's cursor then moved to its record
  // when `move`), else through a one-off lookup filter.
  bool LocateRecord(const std::string& key_fields, const db::Variant& key_values, db::TLocateOptions options,
                    bool move);
  void SetFieldDisplayLabels();
  void FreeWorkBuffers();
  void InitKeyBuffer(std::uint8_t* buffer);
  std::size_t KeyBufferSize() const { return record_size_ + sizeof(TKeyBuffer); }
  // Runs `work` in a temporary state with `slot` (the buffer that state's
  // field values come from) set to `buffer`; both are restored after.
  void WithTempState(db::TDataSetState state, db::TRecordBuffer& slot, db::TRecordBuffer buffer,
                     const std::function<void()>& work);
  // Runs `fill` in a temporary set-key state on a key buffer.
  void FillKeyBuffer(TKeyIndex index, const std::function<void()>& fill);
  // A new edit, insert or stored record has no BLOB written yet.
  void ClearBlobsModified();
  // The physical record number a buffer's bookmark names.
  std::uint32_t BookmarkRecord(db::TRecordBuffer buffer) const;

  TDataCursor* handle_ = nullptr;
  // Per field number, while handle_ stays: 1 when the engine writes the
  // field's value straight into a buffer of the field's size, 0 when
  // through a scratch buffer, -1 not known yet.
  std::vector<std::int8_t> direct_reads_;
  bool auto_display_labels_ = true;
  bool suppress_auto_inc_ = false;
  bool can_modify_ = false;
  bool case_insensitive_index_ = false;
  std::uint16_t key_field_numbers_[16] = {};
  std::uint16_t key_size_ = 0;
  int index_field_count_ = 0;
  std::uint8_t* old_buffer_ = nullptr;
  std::uint8_t* key_buffers_[kKeyBufferCount] = {};
  std::uint8_t* key_buffer_ = nullptr;
  std::uint16_t record_size_ = 0;
  std::uint16_t bookmark_offset_ = 0;
  std::uint16_t rec_info_offset_ = 0;
  std::uint16_t buffer_size_ = 0;
  std::vector<db::TBlobField*> blob_fields_;
  TFilter* expr_filter_ = nullptr;
  TFilter* func_filter_ = nullptr;
  db::TRecordBuffer lookup_buffer_ = nullptr;
  bool key_was_modified_ = false;
  // The record an Append or Insert started from, for CopyOnAppend.
  std::vector<std::uint8_t> copy_source_;
  db::TRecordBuffer search_buffer_ = nullptr;
};

// Flags of the database use of a dataset.
enum TDBFlag : std::uint8_t {
  dbfOpened = 0, dbfPrepared = 1, dbfExecSQL = 2, dbfTable = 3, dbfFieldList = 4, dbfIndexList = 5
};

class TKORVEXDBDataSet : public TKORVEXDataSet {
public:
  explicit TKORVEXDBDataSet(rtl::TComponent* owner);
  ~TKORVEXDBDataSet() override;
  std::string ClassName() const override { return "TKORVEXDBDataSet"; }

  const std::string& DatabaseName() const { return database_name_; }
  void SetDatabaseName(const std::string& name);
  const std::string& SessionName() const { return session_name_; }
  void SetSessionName(const std::string& name);
  TKORVEXDatabase* Database() const { return database_; }
  TKORVEXSession* DBSession() const;
  TDataDirectory* DBHandle() const;
  std::uint16_t DBFlags() const { return db_flags_; }

  // Closes the dataset (its database is going away).
  virtual void Disconnect();
  void SetDBFlag(int flag, bool value);

protected:
  void OpenCursor(bool info_query) override;
  void CloseCursor() override;
  virtual void OpenDatabase();
  // With both names set: a database of that name kept by the default
  // session moves to the dataset's session.
  void CheckDBSessionName();
  // A property changed: told to the dataset's data sources.
  virtual void PropertyChanged();
  // The name DatabaseName takes for `name` (a table held in memory keeps
  // "Memory").
  virtual std::string DatabaseNameFor(const std::string& name) const { return name; }

private:
  std::uint16_t db_flags_ = 0;
  TKORVEXDatabase* database_ = nullptr;
  std::string database_name_;
  std::string session_name_;
};

class TKORVEXMasterDataLink : public db::TDataLink {
public:
  explicit TKORVEXMasterDataLink(db::TDataSet* detail) : detail_(detail) {}

  const std::string& FieldNames() const { return field_names_; }
  void SetFieldNames(const std::string& names);
  const std::vector<db::TField*>& Fields() const { return fields_; }
  db::TDataSet* Detail() const { return detail_; }

  std::function<void(TKORVEXMasterDataLink*)> OnMasterChange;
  std::function<void(TKORVEXMasterDataLink*)> OnMasterDisable;

protected:
  void ActiveChanged() override;
  void RecordChanged(db::TField* field) override;
  void CheckBrowseMode() override;
  void LayoutChanged() override { ActiveChanged(); }

private:
  db::TDataSet* detail_;
  std::string field_names_;
  std::vector<db::TField*> fields_;
};

}  // namespace korvex
