#include "tables/components/datasets.h"

#include <algorithm>
#include <cstring>

#include "platform/runtime/coding.h"
#include "platform/runtime/exceptions.h"
#include "tables/components/messages.h"
#include "tables/components/record_filters.h"
#include "tables/components/sessions.h"
#include "tables/components/streams.h"
#include "tables/components/table_defs.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/cursor/filters.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/files/index_definition.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/allocator.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/numeric.h"

namespace korvex {

using namespace db;

db::TFieldType FieldTypeOf(std::uint8_t data_type, std::uint8_t sub_type) {
  switch (data_type) {
    case dtString: return ftString;
    case dtDate: return ftDate;
    case dtBlob:
      switch (sub_type) {
        case fstMemo: return ftMemo;
        case fstFormattedMemo: return ftFmtMemo;
        case fstGraphic: return ftGraphic;
        case fstTypedBinary: return ftTypedBinary;
        default: return ftBlob;
      }
    case dtBoolean: return ftBoolean;
    case dtSmallInt: return ftSmallint;
    case dtInteger: return sub_type == fstAutoInc ? ftAutoInc : ftInteger;
    case dtFloat: return sub_type == fstMoney ? ftCurrency : ftFloat;
    case dtBCD: return ftBCD;
    case dtBytes: return ftBytes;
    case dtTime: return ftTime;
    case dtTimeStamp: return ftDateTime;
    case dtWord: return ftWord;
    case 13: return ftInteger;
    case dtVarBytes: return ftVarBytes;
    case 18: case 19: return ftLargeint;
    case 20: return ftADT;
    case 21: return ftArray;
    case 22: return ftReference;
    case 23: return ftDataSet;
    default: return ftUnknown;
  }
}

// ---- TKORVEXDataSet -------------------------------------------------------------

TKORVEXDataSet::TKORVEXDataSet(rtl::TComponent* owner) : TDataSet(owner) {}

TKORVEXDataSet::~TKORVEXDataSet() {
  try {
    Close();
  } catch (...) {
  }
}

TKORVEXDataSet::Layout TKORVEXDataSet::ComputeLayout(std::uint32_t record_size, int calc_fields_size,
                                                     int bookmark_size) {
  Layout l{};
  l.rec_info = static_cast<std::uint16_t>(record_size + static_cast<std::uint32_t>(calc_fields_size));
  l.bookmark = static_cast<std::uint16_t>(l.rec_info + sizeof(TRecInfo));
  l.size = static_cast<std::uint16_t>(l.bookmark + bookmark_size);
  return l;
}

TRecInfo TKORVEXDataSet::GetRecInfo(TRecordBuffer buffer) const {
  TRecInfo info;
  std::memcpy(&info, buffer + rec_info_offset_, sizeof info);
  return info;
}

void TKORVEXDataSet::SetRecInfo(TRecordBuffer buffer, const TRecInfo& info) const {
  std::memcpy(buffer + rec_info_offset_, &info, sizeof info);
}

std::string TKORVEXDataSet::TableNameForErrors() const { return handle_ ? handle_->GetTableName() : std::string(); }

void TKORVEXDataSet::CheckStatus(TEngineErrorCode status) const {
  if (status != 0) Check(status, TableNameForErrors());
}

void TKORVEXDataSet::DestroyHandle() {
  direct_reads_.clear();
  if (handle_ == nullptr) return;
  TDataCursor* cursor = handle_;
  handle_ = nullptr;
  // A query's result set belongs to the query: it stays open.
  if (cursor->GetIsResultSet()) return;
  try {
    cursor->CloseCursor();
  } catch (...) {
    delete cursor;
    throw;
  }
  delete cursor;
}

TRecordBuffer TKORVEXDataSet::AllocRecordBuffer() { return static_cast<TRecordBuffer>(SafeAlloc(buffer_size_)); }

void TKORVEXDataSet::FreeRecordBuffer(TRecordBuffer& buffer) { SafeFree(buffer); }

void TKORVEXDataSet::OpenCursor(bool info_query) {
  direct_reads_.clear();
  handle_ = CreateHandle();
  if (handle_ == nullptr) rtl::DatabaseError(cmsg::kHandleError);
  TDataSet::OpenCursor(info_query);
}

void TKORVEXDataSet::CloseCursor() {
  TDataSet::CloseCursor();
  DestroyHandle();
}

void TKORVEXDataSet::InternalOpen() {
  record_size_ = static_cast<std::uint16_t>(handle_->GetRecordSize());
  BookmarkSize = handle_->GetBookmarkSize();
  can_modify_ = !handle_->GetReadOnly();
  InternalInitFieldDefs();
  GetIndexInfo();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  blob_fields_.clear();
  for (int i = 0; i < FieldCount(); ++i)
    if (auto* blob = dynamic_cast<TBlobField*>(Fields(i))) blob_fields_.push_back(blob);
  SetFieldDisplayLabels();
  Layout l = ComputeLayout(record_size_, CalcFieldsSize(), BookmarkSize);
  rec_info_offset_ = l.rec_info;
  bookmark_offset_ = l.bookmark;
  buffer_size_ = l.size;
  old_buffer_ = static_cast<std::uint8_t*>(SafeAlloc(buffer_size_));
  for (auto& k : key_buffers_) {
    k = static_cast<std::uint8_t*>(SafeAlloc(static_cast<std::int32_t>(KeyBufferSize())));
    InitKeyBuffer(k);
  }
  handle_->SetToBegin();
  PrepareCursor();
  if (!Filter().empty()) expr_filter_ = CreateExprFilter(Filter(), FilterOptions());
  if (OnFilterRecord()) func_filter_ = CreateFuncFilter();
  if (Filtered()) ActivateFilters(true);
}

void TKORVEXDataSet::FreeWorkBuffers() {
  if (old_buffer_) SafeFree(old_buffer_);
  for (auto& k : key_buffers_)
    if (k) SafeFree(k);
  key_buffer_ = nullptr;
}

void TKORVEXDataSet::InternalClose() {
  DestroyLookupCursor();
  if (handle_ != nullptr && handle_->GetIsResultSet()) DropFilters();
  expr_filter_ = func_filter_ = nullptr;
  FreeWorkBuffers();
  blob_fields_.clear();
  BindFields(false);
  index_field_count_ = 0;
  case_insensitive_index_ = false;
  key_size_ = 0;
  std::fill(std::begin(key_field_numbers_), std::end(key_field_numbers_), 0);
}

void TKORVEXDataSet::InternalInitFieldDefs() { FillFieldDefs(*handle_, FieldDefs()); }

void FillFieldDefs(const TDataCursor& cursor, db::TFieldDefs& defs) {
  defs.Clear();
  for (int i = 1; i <= cursor.GetFieldCount(); ++i) {
    const TFieldDefinition& def = cursor.GetFieldDefinitionByPos(i);
    // The dataset's own mapping: every string sub type is a string field.
    const TFieldType type = FieldTypeOf(def.DataType, def.SubType);
    if (def.Hidden || type == ftUnknown) continue;
    const int size = DefinitionSize(def);
    std::string name = def.Name;
    for (int n = 1; defs.IndexOf(name) >= 0; ++n) name = def.Name + "_" + std::to_string(n);
    TFieldDef& added = defs.Add(name, type, size, def.Required != 0, i);
    if (def.DataType == dtBCD) added.Precision = 20;
  }
}

void TKORVEXDataSet::GetIndexInfo() {
  index_field_count_ = 0;
  case_insensitive_index_ = false;
  key_size_ = 0;
  std::fill(std::begin(key_field_numbers_), std::end(key_field_numbers_), 0);
  if (handle_ == nullptr || handle_->IsPhysicalNavigation() || handle_->GetIsResultSet()) return;
  TIndexDefinition def;
  handle_->GetIndexDefinition(handle_->GetIndexPos(), def);
  index_field_count_ = std::min<int>(def.FieldCount, 16);
  for (int i = 0; i < index_field_count_; ++i) key_field_numbers_[i] = def.Fields[static_cast<std::size_t>(i)];
  case_insensitive_index_ = def.CaseInsensitive != 0;
  key_size_ = def.KeySize;
}

void TKORVEXDataSet::SwitchToIndex(const std::string& name) {
  CheckActive();
  CheckBrowseMode();
  ResetCursorRange();
  DestroyLookupCursor();
  UpdateCursorPos();
  handle_->SetIndexName(name);
  GetIndexInfo();
  InitBufferPointers();
}

bool TKORVEXDataSet::MapsToIndex(const std::vector<TField*>& fields, bool case_insensitive) const {
  if (index_field_count_ == 0 || case_insensitive_index_ != case_insensitive ||
      fields.size() > static_cast<std::size_t>(index_field_count_))
    return false;
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (fields[i]->FieldNo() != key_field_numbers_[i]) return false;
  return true;
}

void TKORVEXDataSet::SetAutoDisplayLabels(bool value) {
  if (value == auto_display_labels_) return;
  auto_display_labels_ = value;
  if (Active()) SetFieldDisplayLabels();
}

void TKORVEXDataSet::SetFieldDisplayLabels() {
  if (!auto_display_labels_ || handle_ == nullptr || handle_->GetIsResultSet()) return;
  for (int i = 0; i < FieldCount(); ++i) {
    TField* f = Fields(i);
    if (f->Calculated() || f->FieldNo() < 1) continue;
    const std::string& description = handle_->GetFieldDefinitionByPos(f->FieldNo()).Description;
    if (!description.empty()) f->SetDisplayLabel(description);
  }
}

void TKORVEXDataSet::InitBufferPointers() {
  UpdateCursorPos();
  record_size_ = static_cast<std::uint16_t>(handle_->GetRecordSize());
  BookmarkSize = handle_->GetBookmarkSize();
  Layout l = ComputeLayout(record_size_, CalcFieldsSize(), BookmarkSize);
  rec_info_offset_ = l.rec_info;
  bookmark_offset_ = l.bookmark;
  buffer_size_ = l.size;
  if (old_buffer_) SafeFree(old_buffer_);
  old_buffer_ = static_cast<std::uint8_t*>(SafeAlloc(buffer_size_));
  BufferSizeChanged();
}

std::uint32_t TKORVEXDataSet::BookmarkRecord(TRecordBuffer buffer) const {
  // The bookmark is a key under an index: the record is the one the
  // cursor finds for it.
  if (!handle_->SetToBookmark(buffer + bookmark_offset_)) return 0;
  return handle_->GetPhysicalRecordNumber();
}

TGetResult TKORVEXDataSet::GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) {
  // The cursor's filters decide which records it visits.
  TEngineErrorCode status = 0;
  switch (mode) {
    case gmCurrent: status = handle_->GetCurrentRecord(buffer, false); break;
    case gmNext: status = handle_->GetNextRecord(buffer); break;
    case gmPrior: status = handle_->GetPriorRecord(buffer); break;
  }
  if (status == err::kBeginningOfFile) return grBOF;
  if (status == err::kEndOfFile) return grEOF;
  if (status != 0) {
    if (do_check) CheckStatus(status);
    return grError;
  }
  SetRecInfo(buffer, TRecInfo{0, bfCurrent, {}});  // the record number is asked when RecNo is read
  handle_->GetBookmark(buffer + bookmark_offset_);
  GetCalcFields(buffer);
  return grOK;
}

void TKORVEXDataSet::InternalFirst() { handle_->SetToBegin(); }
void TKORVEXDataSet::InternalLast() { handle_->SetToEnd(); }

void TKORVEXDataSet::InternalInitRecord(TRecordBuffer buffer) {
  handle_->InitRecord(buffer);
  ClearBlobsModified();
}

void TKORVEXDataSet::InitRecord(TRecordBuffer buffer) {
  TDataSet::InitRecord(buffer);
  SetRecInfo(buffer, TRecInfo{-1, bfInserted, {}});
}

void TKORVEXDataSet::ClearCalcFields(TRecordBuffer buffer) {
  std::memset(buffer + record_size_, 0, static_cast<std::size_t>(CalcFieldsSize()));
}

void TKORVEXDataSet::InternalAddRecord(TRecordBuffer buffer, bool) { handle_->AppendRecord(buffer); }

void TKORVEXDataSet::ClearBlobsModified() {
  for (TBlobField* blob : blob_fields_) blob->Modified = false;
}

void TKORVEXDataSet::InternalPost() {
  if (State() == dsEdit) handle_->ModifyRecord(ActiveBuffer(), true);
  else handle_->AppendRecord(ActiveBuffer());
  ClearBlobsModified();
}

void TKORVEXDataSet::InternalCancel() {
  if (State() == dsEdit) {
    std::uint32_t n = BookmarkRecord(ActiveBuffer());
    if (n != 0) handle_->UserWriteUnlockRecord(n);
  }
  // The BLOBs opened for the dropped values go with them.
  handle_->FreeAllBlobs(true);
  ClearBlobsModified();
}

void TKORVEXDataSet::InternalEdit() {
  CheckStatus(handle_->GetCurrentRecord(ActiveBuffer(), true));
  ClearBlobsModified();
}

void TKORVEXDataSet::InternalDelete() {
  if (State() == dsEdit) {
    std::uint32_t n = BookmarkRecord(ActiveBuffer());
    if (n != 0) handle_->UserWriteUnlockRecord(n);
  }
  handle_->DeleteRecord(ActiveBuffer());
}

void TKORVEXDataSet::InternalRefresh() { handle_->Refresh(); }

void TKORVEXDataSet::InternalGotoBookmark(const std::uint8_t* bookmark) {
  // A bookmark whose key went leaves the cursor on the nearest key: the
  // return from a cancelled insert shows the record after the old place
  // (GotoBookmark checks the bookmark before it comes here).
  handle_->SetToBookmark(bookmark);
}

void TKORVEXDataSet::InternalSetToRecord(TRecordBuffer buffer) {
  // The record itself, where it is now: its bookmark is stale once another
  // cursor changed its key. A record that left the view (deleted, out of
  // the range or the filters) leaves the cursor at its place, from where
  // the next read goes on.
  handle_->ReturnToRecord(buffer, buffer + bookmark_offset_);
}

void TKORVEXDataSet::GetBookmarkData(TRecordBuffer buffer, std::uint8_t* data) {
  std::memcpy(data, buffer + bookmark_offset_, static_cast<std::size_t>(BookmarkSize));
}

void TKORVEXDataSet::SetBookmarkData(TRecordBuffer buffer, const std::uint8_t* data) {
  std::memcpy(buffer + bookmark_offset_, data, static_cast<std::size_t>(BookmarkSize));
}

TBookmarkFlag TKORVEXDataSet::GetBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<TBookmarkFlag>(GetRecInfo(buffer).BookmarkFlag);
}

void TKORVEXDataSet::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  TRecInfo info = GetRecInfo(buffer);
  info.BookmarkFlag = flag;
  SetRecInfo(buffer, info);
}

bool TKORVEXDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (handle_ == nullptr || bookmark.size() != static_cast<std::size_t>(BookmarkSize)) return false;
  CursorPosChanged();
  return handle_->SetToBookmark(bookmark.data());
}

int TKORVEXDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  if (a.empty() || b.empty()) return TDataSet::CompareBookmarks(a, b);
  if (handle_ == nullptr) return 0;
  if (a.size() != b.size() || a.size() != static_cast<std::size_t>(BookmarkSize)) return TDataSet::CompareBookmarks(a, b);
  int c = handle_->CompareBookmarks(a.data(), b.data());
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

bool TKORVEXDataSet::GetCurrentRecord(TRecordBuffer buffer) {
  if (IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != bfCurrent) return false;
  UpdateCursorPos();
  return handle_->GetCurrentRecord(buffer, false) == 0;
}

bool TKORVEXDataSet::GetIsIndexField(TField* field) {
  if (field->FieldNo() < 1) return false;
  for (int i = 0; i < index_field_count_; ++i)
    if (key_field_numbers_[i] == field->FieldNo()) return true;
  return false;
}

TField* TKORVEXDataSet::GetIndexField(int index) {
  if (index < 0 || index >= index_field_count_) rtl::DatabaseError(msg::kFieldIndexError);
  int number = key_field_numbers_[index];
  for (int i = 0; i < FieldCount(); ++i)
    if (Fields(i)->FieldNo() == number) return Fields(i);
  rtl::DatabaseErrorFmt(msg::kIndexFieldMissing, {handle_->GetFieldDefinitionByPos(number).Name});
}

void TKORVEXDataSet::SetIndexField(int index, const TField* value) {
  TField* field = GetIndexField(index);
  if (value == nullptr) field->Clear();
  else field->SetAsVariant(value->AsVariant());
}

int TKORVEXDataSet::GetRecNo() {
  TRecordBuffer buffer = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
  if (buffer == nullptr || handle_ == nullptr || (State() == dsBrowse && IsEmpty())) return -1;
  TRecInfo info = GetRecInfo(buffer);
  if (info.RecordNumber == 0 && info.BookmarkFlag == bfCurrent) {
    // The cursor stands on the record being read (calculated fields), or
    // is put on the active one.
    if (State() != dsCalcFields) UpdateCursorPos();
    info.RecordNumber = static_cast<std::int32_t>(handle_->GetRecordNumber());
    if (info.RecordNumber != 0) SetRecInfo(buffer, info);
  }
  return info.RecordNumber;
}

void TKORVEXDataSet::SetRecNoValue(int value) {
  if (value == RecNo() || value < 1) return;
  DoBeforeScroll();
  CursorPosChanged();
  handle_->SetToRecordNumber(static_cast<std::uint32_t>(value));
  SyncToCursor();
  DoAfterScroll();
}

int TKORVEXDataSet::GetRecordCount() {
  CheckActive();
  return static_cast<int>(handle_->GetRecordCount());
}

TRecordBuffer TKORVEXDataSet::GetOldRecordBuffer() {
  if (old_buffer_ == nullptr) return nullptr;
  if (State() == dsInsert || ActiveBuffer() == nullptr) {
    handle_->ClearRecord(old_buffer_);
    return old_buffer_;
  }
  UpdateCursorPos();
  if (handle_->GetCurrentRecord(old_buffer_, false) != 0) handle_->ClearRecord(old_buffer_);
  return old_buffer_;
}

TRecordBuffer TKORVEXDataSet::GetKeyRecordBuffer() {
  return key_buffer_ ? key_buffer_ + sizeof(TKeyBuffer) : nullptr;
}

bool TKORVEXDataSet::GetFieldData(TField* field, void* buffer) {
  TRecordBuffer rb = GetActiveRecordBuffer();
  if (rb == nullptr) return false;
  if (field->FieldNo() < 1) {
    switch (State()) {
      case dsBrowse: case dsEdit: case dsInsert: case dsCalcFields: case dsInternalCalc: break;
      default: return false;
    }
    return GetCalcFieldData(rb + record_size_, field, buffer);
  }
  const int no = field->FieldNo();
  if (buffer == nullptr) return !handle_->GetField(no, rb, nullptr);
  // The engine writes the physical size, and a string's terminating zero
  // after it: straight into the destination only when that fits. Known
  // once per field number while the handle stays (a field's size and its
  // definition change only while the dataset is closed).
  if (static_cast<std::size_t>(no) >= direct_reads_.size()) direct_reads_.resize(static_cast<std::size_t>(no) + 1, -1);
  std::int8_t& direct = direct_reads_[static_cast<std::size_t>(no)];
  if (direct < 0) {
    const TFieldDefinition& def = handle_->GetFieldDefinitionByPos(no);
    const std::size_t written = def.PhysicalSize + (def.DataType == dtString ? 1u : 0u);
    direct = written <= static_cast<std::size_t>(field->DataSize()) ? 1 : 0;
  }
  if (direct) return !handle_->GetField(no, rb, static_cast<std::uint8_t*>(buffer));
  // A field narrower than its column: its own size of the value, a text
  // cut there and ended (DataSize holds the text and its zero).
  std::uint8_t scratch[264];
  const bool blank = handle_->GetField(no, rb, scratch);
  if (!blank) {
    const auto n = static_cast<std::size_t>(field->DataSize());
    std::memcpy(buffer, scratch, n);
    if (handle_->GetFieldDefinitionByPos(no).DataType == dtString && n > 0) static_cast<std::uint8_t*>(buffer)[n - 1] = 0;
  }
  return !blank;
}

void TKORVEXDataSet::SetFieldData(TField* field, const void* buffer) {
  TRecordBuffer rb = PrepareFieldWrite(field, buffer);
  if (field->FieldNo() < 1) {
    SetCalcFieldData(rb + record_size_, field, buffer);
  } else if (field->FieldKind() != fkInternalCalc) {
    // The native value holds at least the physical bytes the engine reads
    // (a string is zero-terminated within its DataSize).
    handle_->PutField(field->FieldNo(), rb, static_cast<const std::uint8_t*>(buffer));
  }
  FinishFieldWrite(field);
}

void TKORVEXDataSet::SetStateFieldValue(TDataSetState state, TField* field, const Variant& value) {
  if (state == dsOldValue) rtl::DatabaseErrorFmt(msg::kFieldReadOnly, {field->DisplayName()});
  TDataSet::SetStateFieldValue(state, field, value);
}

int TKORVEXDataSet::Translate(const char* source, char* dest, bool) {
  std::size_t n = std::strlen(source);
  if (dest != source) std::memmove(dest, source, n + 1);
  return static_cast<int>(n);
}

void TKORVEXDataSet::DataConvert(TField* field, const void* source, void* dest, bool to_native) {
  if (field->DataType() != ftBCD) {
    TDataSet::DataConvert(field, source, dest, to_native);
    return;
  }
  if (to_native) {
    std::int64_t comp;
    std::memcpy(&comp, source, 8);
    std::optional<Currency> value = CompToCurr(comp);
    Currency c = value ? *value : Currency{};
    std::memcpy(dest, &c, 8);
  } else {
    Currency c;
    std::memcpy(&c, source, 8);
    std::optional<std::int64_t> comp = CurrToComp(c, field->Size());
    if (!comp) rtl::DatabaseErrorFmt(msg::kValueOutOfRange, {rtl::CurrToStr(c), field->DisplayName()});
    std::memcpy(dest, &*comp, 8);
  }
}

void TKORVEXDataSet::InternalInsert() {
  // Called before the active buffer is made a new record: it still holds
  // the record the dataset stood on.
  if (CopyOnAppend && HasRecord()) copy_source_.assign(ActiveBuffer(), ActiveBuffer() + record_size_);
  else copy_source_.clear();
}

void TKORVEXDataSet::DoOnNewRecord() {
  if (!copy_source_.empty()) {
    std::vector<std::uint8_t> source;
    source.swap(copy_source_);
    TRecordBuffer target = ActiveBuffer();
    std::uint8_t value[264];
    for (int f = 1; f <= handle_->GetFieldCount(); ++f) {
      const TFieldDefinition& def = handle_->GetFieldDefinitionByPos(f);
      if (!def.TakesRecordBytes()) continue;
      if (def.DataType != dtBlob) {
        if (!handle_->GetField(f, source.data(), value)) handle_->PutField(f, target, value);
        continue;
      }
      const std::string content = ReadWholeBlob(*handle_, f, source.data());
      if (content.empty()) continue;
      CheckStatus(handle_->OpenBlob(f, target, 2));
      CheckStatus(handle_->PutBlob(f, target, 0, reinterpret_cast<const std::uint8_t*>(content.data()),
                                   static_cast<std::int64_t>(content.size())));
      // Written for this record: a reading stream must not let it go.
      for (TBlobField* blob : blob_fields_)
        if (blob->FieldNo() == f) blob->Modified = true;
    }
    if (suppress_auto_inc_) TDataCursor::PutRecordID(TDataCursor::GetRecordID(source.data()), target);
  }
  TDataSet::DoOnNewRecord();
}

TRecordBuffer TKORVEXDataSet::GetActiveRecordBuffer() {
  if (State() == dsFilter && search_buffer_ != nullptr) return search_buffer_;
  if (State() == dsCalcFields && lookup_buffer_ != nullptr) return lookup_buffer_;
  return TDataSet::GetActiveRecordBuffer();
}

void TKORVEXDataSet::WithTempState(TDataSetState state, TRecordBuffer& slot, TRecordBuffer buffer,
                                   const std::function<void()>& work) {
  TRecordBuffer saved = slot;
  slot = buffer;
  TDataSetState old = SetTempState(state);
  try {
    work();
  } catch (...) {
    RestoreState(old);
    slot = saved;
    throw;
  }
  RestoreState(old);
  slot = saved;
}

bool TKORVEXDataSet::FindRecord(bool restart, bool go_forward) {
  DoBeforeScroll();
  if (!restart) UpdateCursorPos();
  CursorPosChanged();
  const bool for_search = !Filtered() && (expr_filter_ != nullptr || func_filter_ != nullptr);
  TGetResult result;
  const std::uint32_t from = handle_->GetPhysicalRecordNumber();
  if (for_search) ActivateFilters(true);
  try {
    TGetMode mode = go_forward ? gmNext : gmPrior;
    if (restart) {
      go_forward ? handle_->SetToBegin() : handle_->SetToEnd();
    } else if (go_forward && handle_->GetPhysicalRecordNumber() != from) {
      // The filters took the cursor off a record they hide, on to the next
      // one they show: that is the one a forward search finds.
      mode = gmCurrent;
    }
    result = GetRecord(TempBuffer(), mode, true);
  } catch (...) {
    if (for_search) ActivateFilters(false);
    throw;
  }
  if (for_search) ActivateFilters(false);
  if (result != grOK) return false;
  SyncToCursor();
  DoAfterScroll();
  return true;
}

std::unique_ptr<rtl::TStream> TKORVEXDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  return std::make_unique<TKORVEXBlobStream>(field, mode);
}

void TKORVEXDataSet::FlushBuffers() {
  CheckActive();
  TDataTable* table = handle_->Table();
  if (table == nullptr) return;
  if (handle_->GetExclusive() && !table->GetTransactionInProgress())
    table->FlushBuffers(false, true, true, true, false);
  table->FlushOSBuffers();
}

TFilterOptimizeLevel TKORVEXDataSet::GetFilterOptimizeLevel() const {
  CheckActive();
  return static_cast<TFilterOptimizeLevel>(handle_->GetFilterOptimizeLevel());
}

void TKORVEXDataSet::SetSuppressAutoIncValues(bool value) {
  CheckActive();
  handle_->SetSuppressAutoIncValues(value);
  suppress_auto_inc_ = value;
}

// ---- key buffers and ranges -------------------------------------------------------

void TKORVEXDataSet::InitKeyBuffer(std::uint8_t* buffer) {
  std::memset(buffer, 0, KeyBufferSize());
  handle_->ClearRecord(buffer + sizeof(TKeyBuffer));
}

void TKORVEXDataSet::SetKeyBuffer(TKeyIndex index, bool clear) {
  CheckBrowseMode();
  key_buffer_ = key_buffers_[index];
  std::memcpy(key_buffers_[kiSave], key_buffer_, KeyBufferSize());
  if (clear) InitKeyBuffer(key_buffer_);
  key_was_modified_ = reinterpret_cast<TKeyBuffer*>(key_buffer_)->Modified;
  SetState(dsSetKey);
  DataEvent(deDataSetChange, 0);
}

void TKORVEXDataSet::PostKeyBuffer(bool commit) {
  DataEvent(deCheckBrowseMode, 0);
  auto* header = reinterpret_cast<TKeyBuffer*>(key_buffer_);
  if (commit) header->Modified = Modified() || key_was_modified_;
  else std::memcpy(key_buffer_, key_buffers_[kiSave], KeyBufferSize());
  SetState(dsBrowse);
  DataEvent(deDataSetChange, 0);
}

void TKORVEXDataSet::Post() {
  if (State() == dsSetKey) PostKeyBuffer(true);
  else TDataSet::Post();
}

void TKORVEXDataSet::Cancel() {
  if (State() == dsSetKey) PostKeyBuffer(false);
  else TDataSet::Cancel();
}

void TKORVEXDataSet::CheckSetKeyMode() const {
  if (State() != dsSetKey) rtl::DatabaseError(msg::kNotEditing);
}

int TKORVEXDataSet::GetKeyFieldCount() const {
  return key_buffer_ ? reinterpret_cast<const TKeyBuffer*>(key_buffer_)->FieldCount : 0;
}

void TKORVEXDataSet::SetKeyFieldCount(int count) {
  CheckSetKeyMode();
  reinterpret_cast<TKeyBuffer*>(key_buffer_)->FieldCount = count;
}

void TKORVEXDataSet::FillKeyBuffer(TKeyIndex index, const std::function<void()>& fill) {
  WithTempState(dsSetKey, key_buffer_, key_buffers_[index], fill);
}

void TKORVEXDataSet::SetKeyFields(TKeyIndex index, const Variant& values) {
  if (index_field_count_ == 0) rtl::DatabaseError(msg::kNoIndex);
  const int count = values.IsArray() ? values.ArrayHighBound() + 1 : 1;
  FillKeyBuffer(index, [&] {
    InitKeyBuffer(key_buffers_[index]);
    for (int i = 0; i < count; ++i) GetIndexField(i)->SetAsVariant(values.IsArray() ? values[i] : values);
    auto* header = reinterpret_cast<TKeyBuffer*>(key_buffers_[index]);
    header->FieldCount = count;
    header->Modified = Modified();
  });
}

bool TKORVEXDataSet::SetCursorRange() {
  const std::size_t size = KeyBufferSize();
  if (std::memcmp(key_buffers_[kiRangeStart], key_buffers_[kiCurRangeStart], size) == 0 &&
      std::memcmp(key_buffers_[kiRangeEnd], key_buffers_[kiCurRangeEnd], size) == 0)
    return false;
  const auto& start = *reinterpret_cast<const TKeyBuffer*>(key_buffers_[kiRangeStart]);
  const auto& end = *reinterpret_cast<const TKeyBuffer*>(key_buffers_[kiRangeEnd]);
  CursorPosChanged();
  DestroyLookupCursor();
  handle_->SetRange(false, start.Modified ? key_buffers_[kiRangeStart] + sizeof(TKeyBuffer) : nullptr,
                    start.FieldCount, end.Modified ? key_buffers_[kiRangeEnd] + sizeof(TKeyBuffer) : nullptr,
                    end.FieldCount);
  std::memcpy(key_buffers_[kiCurRangeStart], key_buffers_[kiRangeStart], size);
  std::memcpy(key_buffers_[kiCurRangeEnd], key_buffers_[kiRangeEnd], size);
  return true;
}

bool TKORVEXDataSet::ResetCursorRange() {
  if (!reinterpret_cast<const TKeyBuffer*>(key_buffers_[kiCurRangeStart])->Modified &&
      !reinterpret_cast<const TKeyBuffer*>(key_buffers_[kiCurRangeEnd])->Modified)
    return false;
  CursorPosChanged();
  DestroyLookupCursor();
  handle_->ResetRange();
  InitKeyBuffer(key_buffers_[kiCurRangeStart]);
  InitKeyBuffer(key_buffers_[kiCurRangeEnd]);
  return true;
}

void TKORVEXDataSet::SetLinkRanges(const std::vector<TField*>& master_fields) {
  FillKeyBuffer(kiRangeStart, [&] {
    InitKeyBuffer(key_buffers_[kiRangeStart]);
    for (std::size_t i = 0; i < master_fields.size(); ++i)
      GetIndexField(static_cast<int>(i))->SetAsVariant(master_fields[i]->AsVariant());
    auto* header = reinterpret_cast<TKeyBuffer*>(key_buffers_[kiRangeStart]);
    header->Modified = true;
    header->FieldCount = static_cast<std::int32_t>(master_fields.size());
  });
  std::memcpy(key_buffers_[kiRangeEnd], key_buffers_[kiRangeStart], KeyBufferSize());
}

// ---- filters, Locate and Lookup ---------------------------------------------------

TFilter* TKORVEXDataSet::CreateExprFilter(const std::string& text, db::TFilterOptions options) {
  korvex::TFilterFlags o;
  o.CaseInsensitive = (options & foCaseInsensitive) != 0;
  o.NoPartialCompare = (options & foNoPartialCompare) != 0;
  return handle_->AddFilter(0, text, nullptr, false, nullptr, o);
}

TFilter* TKORVEXDataSet::CreateFuncFilter() {
  return handle_->AddFilter(
      0, {}, nullptr, false, [this](const std::uint8_t* record, std::uint32_t) { return RecordFilter(record); },
      korvex::TFilterFlags{});
}

bool TKORVEXDataSet::RecordFilter(const std::uint8_t* record) {
  if (!OnFilterRecord()) return true;
  bool accept = true;
  // Fields read the record under test; nothing writes to it.
  WithTempState(dsFilter, search_buffer_, const_cast<std::uint8_t*>(record),
                [&] { OnFilterRecord()(this, accept); });
  return accept;
}

void TKORVEXDataSet::ActivateFilters(bool active) {
  for (TFilter* f : {expr_filter_, func_filter_}) {
    if (f == nullptr) continue;
    if (active) handle_->ActivateFilter(f);
    else handle_->DeactivateFilter(f);
  }
}

void TKORVEXDataSet::ReplaceFilter(TFilter*& filter, TFilter* made) {
  if (filter != nullptr) {
    TFilter* old = filter;
    filter = nullptr;
    handle_->DropFilter(old);
  }
  filter = made;
  DestroyLookupCursor();
  CursorPosChanged();
  if (made != nullptr && Filtered()) handle_->ActivateFilter(made);
}

void TKORVEXDataSet::DropFilters() {
  for (TFilter* f : {expr_filter_, func_filter_}) {
    if (f == nullptr) continue;
    try {
      handle_->DropFilter(f);
    } catch (...) {
    }
  }
  expr_filter_ = func_filter_ = nullptr;
}

void TKORVEXDataSet::SetFiltered(bool value) {
  if (Active() && value != Filtered()) {
    CheckBrowseMode();
    DestroyLookupCursor();
    CursorPosChanged();
    ActivateFilters(value);
  }
  TDataSet::SetFiltered(value);
}

void TKORVEXDataSet::SetFilterText(const std::string& text) {
  if (Active() && text != Filter()) {
    CheckBrowseMode();
    // The new filter is made first: a text the engine refuses changes nothing.
    ReplaceFilter(expr_filter_, text.empty() ? nullptr : CreateExprFilter(text, FilterOptions()));
  }
  TDataSet::SetFilterText(text);
}

void TKORVEXDataSet::SetFilterOptions(db::TFilterOptions options) {
  if (Active() && options != FilterOptions() && !Filter().empty()) {
    CheckBrowseMode();
    ReplaceFilter(expr_filter_, CreateExprFilter(Filter(), options));
  }
  TDataSet::SetFilterOptions(options);
}

void TKORVEXDataSet::SetOnFilterRecord(db::TFilterRecordEvent event) {
  const bool assigned = static_cast<bool>(event);
  // Stored first: the new callback filter asks the new event.
  TDataSet::SetOnFilterRecord(std::move(event));
  if (!Active()) return;
  ReplaceFilter(func_filter_, assigned ? CreateFuncFilter() : nullptr);
  if (Filtered()) First();
}

TDataCursor* TKORVEXDataSet::GetLookupCursor(const std::string&, bool) { return nullptr; }

bool TKORVEXDataSet::LocateRecord(const std::string& key_fields, const Variant& key_values, TLocateOptions options,
                                  bool move) {
  CheckBrowseMode();
  CursorPosChanged();
  std::vector<TField*> fields = GetFieldList(key_fields);
  std::vector<Variant> values;
  if (fields.size() == 1 && !key_values.IsArray()) {
    values.push_back(key_values);
  } else {
    for (std::size_t i = 0; i < fields.size(); ++i)
      values.push_back(static_cast<int>(i) <= key_values.ArrayHighBound() ? key_values[static_cast<int>(i)] : Null);
  }
  const bool case_insensitive = (options & loCaseInsensitive) != 0;
  TDataCursor* cursor = MapsToIndex(fields, case_insensitive) ? handle_ : GetLookupCursor(key_fields, case_insensitive);
  if (cursor != nullptr) {
    const bool found = FindByIndex(*cursor, fields, values, options);
    if (found && move && cursor != handle_) CheckStatus(handle_->SetToRecordBuffer(*cursor));
    return found;
  }
  korvex::TFilterFlags o;
  o.CaseInsensitive = case_insensitive;
  o.NoPartialCompare = (options & loPartialKey) == 0;
  const std::string text = LookupFilterText(fields, values, (options & loPartialKey) != 0,
                                            {handle_->GetLanguageID(), handle_->GetSortID()});
  TFilter* lookup = handle_->AddFilter(0, text, nullptr, false, nullptr, o);
  bool found = false;
  try {
    handle_->ActivateFilter(lookup);
    handle_->SetToBegin();
    found = GetRecord(TempBuffer(), gmNext, true) == grOK;
  } catch (...) {
    handle_->DropFilter(lookup);
    throw;
  }
  handle_->DropFilter(lookup);
  return found;
}

bool TKORVEXDataSet::FindByIndex(TDataCursor& cursor, const std::vector<TField*>& fields,
                                 const std::vector<Variant>& values, TLocateOptions options) {
  TRecordBuffer record = TempBuffer();
  cursor.ClearRecord(record);
  int count = static_cast<int>(fields.size());
  std::size_t partial = 0;
  // The key values go into the search record as field values.
  WithTempState(dsFilter, search_buffer_, record, [&] {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const bool last = i + 1 == fields.size();
      if (last && (options & loPartialKey) && fields[i]->DataType() == ftString && !values[i].IsClear()) {
        std::string text = values[i].ToString();
        if (!text.empty() && text.back() == '*') text.pop_back();
        text.resize(std::min<std::size_t>(text.size(), static_cast<std::size_t>(fields[i]->Size())));
        fields[i]->SetAsString(text);
        --count;
        partial = text.size();
      } else {
        fields[i]->SetAsVariant(values[i]);
      }
    }
  });
  bool found;
  if (count == 0 && partial == 0) {
    // An empty prefix: every record of the index matches, the first wins.
    cursor.SetToBegin();
    found = cursor.GetNextRecord(record) == 0;
  } else {
    found = cursor.Find(false, record, count, false, static_cast<std::uint8_t>(partial), record);
  }
  if (found) GetCalcFields(record);
  return found;
}

bool TKORVEXDataSet::Locate(const std::string& key_fields, const Variant& key_values, TLocateOptions options) {
  CheckBrowseMode();
  DoBeforeScroll();
  if (!LocateRecord(key_fields, key_values, options, true)) return false;
  SyncToCursor();
  DoAfterScroll();
  return true;
}

Variant TKORVEXDataSet::Lookup(const std::string& key_fields, const Variant& key_values,
                               const std::string& result_fields) {
  CheckBrowseMode();
  std::vector<TField*> results = GetFieldList(result_fields);
  if (!LocateRecord(key_fields, key_values, 0, false)) return Null;
  Variant result;
  WithTempState(dsCalcFields, lookup_buffer_, TempBuffer(), [&] { result = FieldValues(results); });
  return result;
}

// ---- TKORVEXDBDataSet -------------------------------------------------------------

TKORVEXDBDataSet::TKORVEXDBDataSet(rtl::TComponent* owner) : TKORVEXDataSet(owner) {
  session_name_ = AutoSessionNameOf(owner);
}

TKORVEXDBDataSet::~TKORVEXDBDataSet() {
  try {
    Close();
  } catch (...) {
  }
  // Whatever flags remain (an open failed half-way) give the database back.
  if (database_ != nullptr) {
    db_flags_ = 1;
    try {
      SetDBFlag(0, false);
    } catch (...) {
    }
  }
}

TKORVEXSession* TKORVEXDBDataSet::DBSession() const {
  if (database_ != nullptr && database_->Session() != nullptr) return database_->Session();
  if (TKORVEXSession* s = Sessions().FindSession(session_name_)) return s;
  return &korvex::Session();
}

TDataDirectory* TKORVEXDBDataSet::DBHandle() const { return database_ ? database_->Handle() : nullptr; }

void TKORVEXDBDataSet::SetDatabaseName(const std::string& name) {
  if ((ComponentState() & rtl::csLoading) != 0) {
    database_name_ = name;
    return;
  }
  const std::string value = DatabaseNameFor(name);
  if (value == database_name_) return;
  CheckInactive();
  if (database_ != nullptr) rtl::DatabaseError(cmsg::kDatabaseOpen);
  database_name_ = value;
  PropertyChanged();
}

void TKORVEXDBDataSet::SetSessionName(const std::string& name) {
  if (name == session_name_) return;
  CheckInactive();
  session_name_ = name;
  PropertyChanged();
}

void TKORVEXDBDataSet::PropertyChanged() { DataEvent(db::dePropertyChange, 0); }

void TKORVEXDBDataSet::Disconnect() { Close(); }

void TKORVEXDBDataSet::CheckDBSessionName() {
  if (session_name_.empty() || database_name_.empty()) return;
  TKORVEXSession* session = Sessions().FindSession(session_name_);
  if (session == nullptr || session->IsDefault()) return;
  if (session->DoFindDatabase(database_name_, Owner()) != nullptr) return;
  if (TKORVEXDatabase* d = korvex::Session().DoFindDatabase(database_name_, Owner())) {
    if (!d->Temporary()) {
      d->SetSessionName(session_name_);
      d->CheckSessionName(true);
    }
  }
}

void TKORVEXDBDataSet::OpenDatabase() {
  TKORVEXSession* session = Sessions().GetSessionByName(session_name_);
  database_ = session->DoOpenDatabase(database_name_, Owner());
}

void TKORVEXDBDataSet::SetDBFlag(int flag, bool value) {
  const auto bit = static_cast<std::uint16_t>(1u << flag);
  if (value) {
    if ((db_flags_ & bit) != 0) return;
    if (db_flags_ == 0) {
      CheckDBSessionName();
      OpenDatabase();
      database_->AddDataSet(this);
    }
    db_flags_ |= bit;
  } else {
    if ((db_flags_ & bit) == 0) return;
    db_flags_ &= static_cast<std::uint16_t>(~bit);
    if (db_flags_ != 0) return;
    TKORVEXDatabase* database = database_;
    database_ = nullptr;
    if (database != nullptr) {
      database->RemoveDataSet(this);
      if (TKORVEXSession* s = database->Session()) s->CloseDatabase(database);
    }
  }
}

void TKORVEXDBDataSet::OpenCursor(bool info_query) {
  SetDBFlag(dbfOpened, true);
  try {
    TKORVEXDataSet::OpenCursor(info_query);
  } catch (...) {
    SetDBFlag(dbfOpened, false);
    throw;
  }
}

void TKORVEXDBDataSet::CloseCursor() {
  try {
    TKORVEXDataSet::CloseCursor();
  } catch (...) {
    SetDBFlag(dbfOpened, false);
    throw;
  }
  SetDBFlag(dbfOpened, false);
}

// ---- TKORVEXMasterDataLink ------------------------------------------------------------

void TKORVEXMasterDataLink::SetFieldNames(const std::string& names) {
  if (names == field_names_) return;
  field_names_ = names;
  ActiveChanged();
}

void TKORVEXMasterDataLink::ActiveChanged() {
  fields_.clear();
  if (Active()) {
    try {
      fields_ = DataSet()->GetFieldList(field_names_);
    } catch (...) {
      fields_.clear();
      throw;
    }
  }
  if (detail_->Active() && !detail_->Destroying()) {
    if (!fields_.empty()) {
      if (OnMasterChange) OnMasterChange(this);
    } else if (OnMasterDisable) {
      OnMasterDisable(this);
    }
  }
}

void TKORVEXMasterDataLink::RecordChanged(TField* field) {
  if (DataSet() == nullptr || DataSet()->State() == dsSetKey) return;
  if (!detail_->Active() || fields_.empty()) return;
  if (field == nullptr || std::find(fields_.begin(), fields_.end(), field) != fields_.end())
    if (OnMasterChange) OnMasterChange(this);
}

void TKORVEXMasterDataLink::CheckBrowseMode() {
  if (detail_->Active()) detail_->CheckBrowseMode();
}

}  // namespace korvex
