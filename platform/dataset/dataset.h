// TDataSet: a cursor over records with a state machine, typed fields,
// bookmarks, filters, calculated and lookup fields and change
// notifications to data sources.
//
// A subclass supplies the storage (the protected Internal* contract):
// record buffers of its own layout, GetRecord for the current, next and
// prior record, posting, deleting and bookmarks. The framework keeps one
// active record buffer plus a read buffer for moves and a temporary buffer
// for searches; it never keeps a window of records.
//
// Rules every operation follows:
// - CheckBrowseMode opens every move, Append, Insert, Edit, Refresh and
//   filter change: in edit or insert the links store their values
//   (UpdateRecord), then Post when Modified, else Cancel (an Append with no
//   field written is dropped); in set-key the key is posted.
// - Edit on an empty dataset is Insert. Close never posts: it drops a
//   pending edit or insert.
// - A failure in BeforePost, InternalPost, OnValidate or a field setter
//   leaves the edit or insert with every pending value; Post can be
//   retried and Cancel works.
// - Bof and Eof: First sets Bof, Last sets Eof, a move that runs off an
//   end sets the flag of that end and a successful move clears both. After
//   Post, Cancel, Delete and Refresh the record is read again: found where
//   the cursor stands, the flags stay; found after or before it, both are
//   cleared; nothing left, both are set. Insert and Append clear both;
//   Cancel of an insert restores the former record and its flags.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dataset/defs.h"
#include "platform/dataset/fields.h"
#include "platform/dataset/variant.h"
#include "platform/runtime/classes.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/streams.h"

namespace db {

class TDataSource;

enum TDataSetState : std::uint8_t {
  dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter, dsNewValue, dsOldValue, dsInternalCalc
};
enum TDataEvent : std::uint8_t {
  deFieldChange, deRecordChange, deDataSetChange, deDataSetScroll, deLayoutChange, deUpdateRecord, deUpdateState,
  deCheckBrowseMode, dePropertyChange, deFieldListChange, deFocusControl
};
enum TGetMode : std::uint8_t { gmCurrent, gmNext, gmPrior };
enum TGetResult : std::uint8_t { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag : std::uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };
enum TLocateOption : std::uint8_t { loCaseInsensitive = 1, loPartialKey = 2 };
using TLocateOptions = std::uint8_t;
enum TFilterOption : std::uint8_t { foCaseInsensitive = 1, foNoPartialCompare = 2 };
using TFilterOptions = std::uint8_t;
enum TDataAction : std::uint8_t { daFail, daAbort, daRetry };

using TRecordBuffer = std::uint8_t*;
using TBookmark = std::vector<std::uint8_t>;

using TDataSetNotifyEvent = std::function<void(TDataSet* dataset)>;
using TFilterRecordEvent = std::function<void(TDataSet* dataset, bool& accept)>;
using TDataSetErrorEvent = std::function<void(TDataSet* dataset, rtl::EDatabaseError& error, TDataAction& action)>;

// Where InternalHandleException sends an exception (the program points it
// at its message box); without a handler the exception passes on.
void SetDataSetExceptionHandler(std::function<void(std::exception_ptr)> handler);

// The values of the fields: one field's value, or an array of them (the
// form of multi-field keys and of Lookup's results).
Variant FieldValues(const std::vector<TField*>& fields);

// Whether the chain source -> its dataset -> that dataset's master source
// -> ... meets `dataset` or `target`.
bool LinkChainReaches(TDataSource* source, const TDataSet* dataset, const TDataSource* target);

// The framework's messages.
namespace msg {
inline constexpr const char* kNotEditing = "Dataset not in edit or insert mode";
inline constexpr const char* kFieldReadOnly = "Field '%s' cannot be modified";
inline constexpr const char* kNotIndexField = "Field '%s' is not indexed and cannot be modified";
inline constexpr const char* kNoIndex = "No index currently active";
inline constexpr const char* kFieldIndexError = "Field index out of range";
inline constexpr const char* kIndexFieldMissing = "Cannot access index field '%s'";
inline constexpr const char* kDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* kDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* kFieldNotFound = "Field '%s' not found";
inline constexpr const char* kNoIndexForFields = "No index for fields '%s'";
inline constexpr const char* kCircularDataLink = "Circular datalinks are not allowed";
inline constexpr const char* kInvalidFieldSize = "Invalid field size";
inline constexpr const char* kFieldNameMissing = "Field name missing";
inline constexpr const char* kDuplicateFieldName = "Duplicate field name '%s'";
inline constexpr const char* kDuplicateIndexName = "Duplicate index name '%s'";
inline constexpr const char* kReadOnlyDataSet = "Cannot modify a read-only dataset";
inline constexpr const char* kDataSetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr const char* kValueOutOfRange = "Value %s is out of range for field '%s'";
inline constexpr const char* kRecordNotFound = "Record not found";
inline constexpr const char* kFieldAccess = "Cannot access field '%s' as type %s";
inline constexpr const char* kInvalidValue = "'%s' is not a valid value for field '%s'";
}  // namespace msg

class TDataSet : public rtl::TComponent {
public:
  explicit TDataSet(rtl::TComponent* owner);
  ~TDataSet() override;
  std::string ClassName() const override { return "TDataSet"; }

  // ---- opening and closing
  void Open();
  void Close();
  bool Active() const { return state_ != dsInactive; }
  // While the component is loading, only remembered: Loaded opens it.
  void SetActive(bool value);
  void Loaded() override;
  TDataSetState State() const { return state_; }

  // ---- navigation
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  int MoveBy(int distance);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return !has_record_ && state_ != dsInsert; }
  int RecNo() { return GetRecNo(); }
  void SetRecNo(int value) {
    CheckBrowseMode();
    SetRecNoValue(value);
  }
  int RecordCount() { return GetRecordCount(); }
  void Refresh();

  // ---- editing
  void Append();
  void Insert();
  void Edit();
  virtual void Post();
  virtual void Cancel();
  void Delete();
  void CheckBrowseMode();
  void UpdateRecord();
  bool Modified() const { return modified_; }
  bool CanModify() { return GetCanModify(); }

  // ---- fields
  TFieldDefs& FieldDefs() { return field_defs_; }
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField* Fields(int index) const;
  TField* FindField(std::string_view name) const;
  TField* FieldByName(std::string_view name) const;  // "Field '%s' not found"
  // The fields named in `names` (joined by ';') in order.
  std::vector<TField*> GetFieldList(std::string_view names) const;
  bool DefaultFields() const { return default_fields_; }
  int CalcFieldsSize() const { return calc_fields_size_; }
  bool AutoCalcFields = true;

  // ---- bookmarks, searching
  TBookmark GetBookmark();
  void GotoBookmark(const TBookmark& bookmark);  // a stale bookmark raises "Record not found"
  virtual bool BookmarkValid(const TBookmark& bookmark) { return false; }
  // nil-safe: both empty 0, first only -1, second only 1.
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b);
  virtual bool Locate(const std::string& key_fields, const Variant& key_values, TLocateOptions options);
  virtual Variant Lookup(const std::string& key_fields, const Variant& key_values, const std::string& result_fields);
  // Browse mode first, then the subclass's FindRecord.
  bool FindFirst() { return Find(true, true); }
  bool FindLast() { return Find(true, false); }
  bool FindNext() { return Find(false, true); }
  bool FindPrior() { return Find(false, false); }

  // ---- filters
  const std::string& Filter() const { return filter_text_; }
  void SetFilter(const std::string& text) { SetFilterText(text); }
  bool Filtered() const { return filtered_; }
  void SetFilteredValue(bool value) { SetFiltered(value); }
  TFilterOptions FilterOptions() const { return filter_options_; }
  void SetFilterOptionsValue(TFilterOptions options) { SetFilterOptions(options); }
  const TFilterRecordEvent& OnFilterRecord() const { return on_filter_record_; }
  void SetOnFilterRecordEvent(TFilterRecordEvent event) { SetOnFilterRecord(std::move(event)); }

  // ---- data sources
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ > 0; }
  // Whether `source` leads back to this dataset through master sources.
  bool IsLinkedTo(TDataSource* source) const;
  // Raises "Circular datalinks are not allowed" when it does.
  void CheckNotLinkedTo(TDataSource* source) const;
  // The source this dataset follows as a detail (nullptr here).
  virtual TDataSource* GetDataSource() const { return nullptr; }

  // ---- temporary states (nest; restore in reverse order)
  TDataSetState SetTempState(TDataSetState state);
  void RestoreState(TDataSetState state);

  // ---- field data (called by the fields)
  virtual bool GetFieldData(TField* field, void* buffer) = 0;
  bool GetFieldData(TField* field, void* buffer, bool native);
  virtual void SetFieldData(TField* field, const void* buffer) = 0;
  void SetFieldData(TField* field, const void* buffer, bool native);
  virtual std::unique_ptr<rtl::TStream> CreateBlobStream(TField* field, TBlobStreamMode mode);
  virtual bool GetCurrentRecord(TRecordBuffer buffer) { return false; }
  virtual bool IsSequenced() { return true; }
  virtual bool GetIsIndexField(TField* field) { return false; }
  virtual Variant GetStateFieldValue(TDataSetState state, TField* field);
  virtual void SetStateFieldValue(TDataSetState state, TField* field, const Variant& value);
  virtual int Translate(const char* source, char* dest, bool to_oem);
  // Called by a field after one of its values was stored.
  void DataEvent(TDataEvent event, std::intptr_t info);

  // ---- events
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert, BeforeEdit,
      AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel, BeforeDelete, AfterDelete, BeforeScroll,
      AfterScroll, OnNewRecord, OnCalcFields;
  TDataSetErrorEvent OnPostError, OnEditError, OnDeleteError;

  // Buffers alive in this dataset (for leak checks).
  int LiveBufferCount() const { return live_buffers_; }

protected:
  friend class TField;
  friend class TDataSource;

  // ---- the storage contract
  virtual TRecordBuffer AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(TRecordBuffer& buffer) = 0;
  virtual int GetRecordSize() = 0;
  virtual void OpenCursor(bool info_query) { InternalOpen(); }
  virtual void CloseCursor() { InternalClose(); }
  virtual void InternalOpen() = 0;
  // Must cope with a partly opened cursor (it also cleans up a failed open).
  virtual void InternalClose() = 0;
  virtual bool IsCursorOpen() = 0;
  virtual void InternalInitFieldDefs() = 0;
  virtual TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalInitRecord(TRecordBuffer buffer) = 0;
  virtual void InitRecord(TRecordBuffer buffer);
  virtual void InternalAddRecord(TRecordBuffer buffer, bool append) {}
  // Store the active buffer: in dsEdit replace its record, in dsInsert add
  // it (the bookmark flag tells append from insert) and leave the cursor on
  // the stored record.
  virtual void InternalPost() = 0;
  virtual void InternalCancel() {}
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  // Delete the cursor's record; the cursor stays where the next record is.
  virtual void InternalDelete() = 0;
  virtual void InternalRefresh() {}
  virtual void InternalGotoBookmark(const std::uint8_t* bookmark) = 0;
  virtual void InternalSetToRecord(TRecordBuffer buffer) = 0;
  virtual void GetBookmarkData(TRecordBuffer buffer, std::uint8_t* data) = 0;
  virtual void SetBookmarkData(TRecordBuffer buffer, const std::uint8_t* data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) = 0;
  virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) = 0;
  virtual void InternalHandleException();
  virtual void ClearCalcFields(TRecordBuffer buffer) {}
  virtual void DataConvert(TField* field, const void* source, void* dest, bool to_native);
  virtual void DoOnNewRecord();
  virtual bool FindRecord(bool restart, bool go_forward) { return false; }
  virtual bool GetCanModify() { return true; }
  virtual int GetRecNo() { return -1; }
  virtual void SetRecNoValue(int value) {}
  virtual int GetRecordCount() { return -1; }
  virtual void SetFiltered(bool value);
  virtual void SetFilterText(const std::string& text);
  virtual void SetFilterOptions(TFilterOptions options);
  virtual void SetOnFilterRecord(TFilterRecordEvent event);
  // The buffer field values come from in the current state.
  virtual TRecordBuffer GetActiveRecordBuffer();
  virtual TRecordBuffer GetOldRecordBuffer() { return nullptr; }
  virtual TRecordBuffer GetKeyRecordBuffer() { return nullptr; }
  // Whether the active index has key fields (set-key writes only those).
  virtual bool HasIndexKeyFields() { return false; }

  // ---- helpers for subclasses
  int BookmarkSize = 0;
  void SetState(TDataSetState state);
  // Default fields from FieldDefs (when the dataset has no fields).
  void CreateFields();
  // Field numbers from FieldDefs ("Field '%s' not found" for a data field
  // without one) and the calculated-fields area: a flag byte and the
  // field's DataSize bytes per calculated or lookup field.
  void BindFields(bool binding);
  // Computes calculated and lookup fields of `buffer` (after a read).
  void GetCalcFields(TRecordBuffer buffer);
  // The calculated-fields area is the subclass's: it gives its start.
  bool GetCalcFieldData(const std::uint8_t* calc_area, TField* field, void* dest) const;
  void SetCalcFieldData(std::uint8_t* calc_area, TField* field, const void* source);
  // Checks shared by SetFieldData: the state, read-only fields, key fields
  // in set-key, then the field's validation; returns the buffer to write.
  TRecordBuffer PrepareFieldWrite(TField* field, const void* data);
  // Signals the change of a stored value (not in calc, filter, new-value).
  void FinishFieldWrite(TField* field);
  // OnFilterRecord for `buffer` in the filter state (true when not Filtered
  // or without the event).
  bool RecordPassesFilter(TRecordBuffer buffer);
  // The cursor no longer stands on the active record.
  void CursorPosChanged() { cursor_synced_ = false; }
  void UpdateCursorPos();
  // Reads the cursor's record (or the next, or the prior) into the active
  // buffer, applying the Bof/Eof rule.
  // Returns true when the record at the cursor itself was found.
  bool Resync();
  // Reads the record the cursor was put on (GotoBookmark, RecNo :=); Bof
  // and Eof are cleared unless nothing is left.
  void SyncToCursor();
  void DoBeforeScroll() { Fire(BeforeScroll); }
  void DoAfterScroll() { Fire(AfterScroll); }
  // After a change of the buffer size: every buffer is made anew and the
  // current record read again.
  void BufferSizeChanged();
  void CheckActive() const;
  void CheckInactive() const;
  void CheckCanModify();
  TRecordBuffer ActiveBuffer() const { return active_; }
  TRecordBuffer CalcBuffer() const { return calc_buffer_; }
  TRecordBuffer TempBuffer() const { return temp_; }
  bool HasRecord() const { return has_record_; }

private:
  void AddField(TField* field);
  void RemoveField(TField* field);
  void DestroyDefaultFields();
  void AllocateBuffers();
  void FreeBuffers();
  void CloseAfterFailure();
  // First (or last) record, setting Bof (or Eof); both when empty.
  void ReadEnd(bool first);
  bool Find(bool restart, bool go_forward) {
    CheckBrowseMode();
    return FindRecord(restart, go_forward);
  }
  void BeginInsertAppend(bool append);
  void ReturnFromInsert();
  bool ReadInto(TGetMode mode, bool check);
  bool MatchesKey(TField* field, const Variant& value, TLocateOptions options);
  bool LocateRecord(const std::vector<TField*>& fields, const Variant& values, TLocateOptions options);
  void RunWithErrorEvent(const std::function<void()>& action, const TDataSetErrorEvent& event);
  void Notify(TDataEvent event, std::intptr_t info);
  void Fire(const TDataSetNotifyEvent& event) { if (event) event(this); }

  TDataSetState state_ = dsInactive;
  bool bof_ = true, eof_ = true, modified_ = false, has_record_ = false, cursor_synced_ = false;
  bool default_fields_ = false, filtered_ = false, streamed_active_ = false;
  std::string filter_text_;
  TFilterOptions filter_options_ = 0;
  TFilterRecordEvent on_filter_record_;
  TFieldDefs field_defs_;
  std::vector<TField*> fields_;
  std::vector<TDataSource*> data_sources_;
  int calc_fields_size_ = 0;
  TRecordBuffer active_ = nullptr, spare_ = nullptr, temp_ = nullptr;
  TRecordBuffer calc_buffer_ = nullptr, filter_buffer_ = nullptr;
  int live_buffers_ = 0;
  int disable_count_ = 0;
  bool disabled_pending_ = false;
  TDataSetState disable_state_ = dsInactive;
  // Insert and Append remember where they came from (the buffer is kept
  // for the next one: an append per record allocates nothing here).
  TBookmark insert_return_;
  bool insert_returns_ = false;
  bool insert_bof_ = false, insert_eof_ = false, insert_had_record_ = false;
};

}  // namespace db
