#include "platform/dataset/dataset.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/dataset/datalink.h"
#include "platform/runtime/sysutils.h"

namespace db {
namespace {

std::function<void(std::exception_ptr)>& ExceptionHandler() {
  static std::function<void(std::exception_ptr)> handler;
  return handler;
}

bool IsTextField(const TField* field) {
  return field->DataType() == ftString || field->DataType() == ftMemo || field->DataType() == ftFixedChar ||
         field->DataType() == ftWideString;
}

// Restores a temporary state and its buffer pointer when it goes out of scope.
class TempState {
public:
  TempState(TDataSet& dataset, TDataSetState state, TRecordBuffer& slot, TRecordBuffer buffer)
      : dataset_(dataset), slot_(slot), saved_buffer_(slot) {
    slot_ = buffer;
    saved_state_ = dataset_.SetTempState(state);
  }
  ~TempState() {
    dataset_.RestoreState(saved_state_);
    slot_ = saved_buffer_;
  }
  TempState(const TempState&) = delete;
  TempState& operator=(const TempState&) = delete;

private:
  TDataSet& dataset_;
  TRecordBuffer& slot_;
  TRecordBuffer saved_buffer_;
  TDataSetState saved_state_;
};

}  // namespace

void SetDataSetExceptionHandler(std::function<void(std::exception_ptr)> handler) {
  ExceptionHandler() = std::move(handler);
}

TDataSet::TDataSet(rtl::TComponent* owner) : rtl::TComponent(owner) {
  field_defs_.OnUpdate = [this] { InternalInitFieldDefs(); };
}

// A subclass closes the dataset in its own destructor (closing needs its
// storage); here only the links to fields and sources are cut.
TDataSet::~TDataSet() {
  for (TDataSource* source : std::vector<TDataSource*>(data_sources_)) source->DataSetGone();
  for (TField* field : fields_) field->dataset_ = nullptr;
  fields_.clear();
}

// ---- fields -----------------------------------------------------------------

void TDataSet::AddField(TField* field) { fields_.push_back(field); }

void TDataSet::RemoveField(TField* field) {
  fields_.erase(std::remove(fields_.begin(), fields_.end(), field), fields_.end());
}

TField* TDataSet::Fields(int index) const {
  if (index < 0 || index >= FieldCount()) rtl::DatabaseError(msg::kFieldIndexError);
  return fields_[static_cast<std::size_t>(index)];
}

TField* TDataSet::FindField(std::string_view name) const {
  for (TField* field : fields_)
    if (rtl::AnsiSameText(field->FieldName(), name)) return field;
  return nullptr;
}

TField* TDataSet::FieldByName(std::string_view name) const {
  TField* field = FindField(name);
  if (!field) rtl::DatabaseErrorFmt(msg::kFieldNotFound, {name});
  return field;
}

std::vector<TField*> TDataSet::GetFieldList(std::string_view names) const {
  std::vector<TField*> list;
  std::size_t from = 0;
  while (from <= names.size()) {
    std::size_t semi = names.find(';', from);
    std::string name = rtl::Trim(names.substr(from, semi == std::string_view::npos ? names.npos : semi - from));
    if (!name.empty()) list.push_back(FieldByName(name));
    if (semi == std::string_view::npos) break;
    from = semi + 1;
  }
  return list;
}

void TDataSet::CreateFields() {
  for (int i = 0; i < field_defs_.Count(); ++i) field_defs_.Items(i).CreateField(this, this);
}

void TDataSet::BindFields(bool binding) {
  calc_fields_size_ = 0;
  for (TField* field : fields_) {
    if (!binding) {
      field->Bind(0, 0);
    } else if (field->Calculated()) {
      field->Bind(-1, calc_fields_size_);
      calc_fields_size_ += field->DataSize() + 1;
    } else {
      int index = field_defs_.IndexOf(field->FieldName());
      if (index < 0) rtl::DatabaseErrorFmt(msg::kFieldNotFound, {field->FieldName()});
      field->Bind(field_defs_.Items(index).FieldNo, 0);
    }
  }
}

void TDataSet::DestroyDefaultFields() {
  if (default_fields_) {
    for (TField* field : std::vector<TField*>(fields_))
      if (field->Owner() == this) delete field;
  }
  default_fields_ = false;
}

// ---- buffers ----------------------------------------------------------------

void TDataSet::AllocateBuffers() {
  for (TRecordBuffer* slot : {&active_, &spare_, &temp_}) {
    *slot = AllocRecordBuffer();
    ++live_buffers_;
  }
}

void TDataSet::FreeBuffers() {
  for (TRecordBuffer* slot : {&active_, &spare_, &temp_}) {
    if (*slot) {
      FreeRecordBuffer(*slot);
      *slot = nullptr;
      --live_buffers_;
    }
  }
}

void TDataSet::BufferSizeChanged() {
  if (!Active()) return;
  FreeBuffers();
  AllocateBuffers();
  cursor_synced_ = true;  // the subclass kept its cursor on the record
  if (has_record_) Resync();
}

// ---- open and close -----------------------------------------------------------

void TDataSet::Open() {
  if (Active()) return;
  Fire(BeforeOpen);
  try {
    default_fields_ = fields_.empty();
    OpenCursor(false);
    AllocateBuffers();
    state_ = dsBrowse;
    ReadEnd(true);
  } catch (...) {
    CloseAfterFailure();
    throw;
  }
  Notify(deUpdateState, 0);
  Fire(AfterOpen);
}

void TDataSet::SetActive(bool value) {
  if (ComponentState() & rtl::csLoading) streamed_active_ = value;
  else value ? Open() : Close();
}

void TDataSet::Loaded() {
  rtl::TComponent::Loaded();
  if (streamed_active_) {
    streamed_active_ = false;
    Open();
  }
}

void TDataSet::CloseAfterFailure() {
  state_ = dsInactive;
  try {
    CloseCursor();
  } catch (...) {
  }
  FreeBuffers();
  DestroyDefaultFields();
  BindFields(false);
  has_record_ = cursor_synced_ = modified_ = false;
  bof_ = eof_ = true;
  insert_returns_ = false;
}

void TDataSet::Close() {
  if (!Active()) return;
  Fire(BeforeClose);
  if (state_ == dsEdit || state_ == dsInsert) InternalCancel();
  state_ = dsInactive;
  modified_ = false;
  Notify(deUpdateState, 0);
  try {
    CloseCursor();
  } catch (...) {
    CloseAfterFailure();
    throw;
  }
  CloseAfterFailure();
  Fire(AfterClose);
}

void TDataSet::CheckActive() const {
  if (!Active()) rtl::DatabaseError(msg::kDataSetClosed);
}

void TDataSet::CheckInactive() const {
  if (Active()) rtl::DatabaseError(msg::kDataSetOpen);
}

void TDataSet::CheckCanModify() {
  if (!GetCanModify()) rtl::DatabaseError(msg::kReadOnlyDataSet);
}

void TDataSet::SetState(TDataSetState state) {
  if (state_ == state) return;
  state_ = state;
  modified_ = false;
  Notify(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState state) {
  TDataSetState old = state_;
  state_ = state;
  return old;
}

void TDataSet::RestoreState(TDataSetState state) { state_ = state; }

// ---- reading records ----------------------------------------------------------

bool TDataSet::ReadInto(TGetMode mode, bool check) {
  cursor_synced_ = false;  // also when the read raises
  if (GetRecord(spare_, mode, check) == grOK) {
    std::swap(active_, spare_);
    has_record_ = true;
    cursor_synced_ = true;
    return true;
  }
  return false;
}

void TDataSet::UpdateCursorPos() {
  if (!cursor_synced_ && has_record_ && state_ != dsInsert) {
    InternalSetToRecord(active_);
    cursor_synced_ = true;
  }
}

bool TDataSet::Resync() {
  if (ReadInto(gmCurrent, false)) return true;
  if (ReadInto(gmNext, false) || ReadInto(gmPrior, false)) {
    bof_ = eof_ = false;
  } else {
    has_record_ = false;
    bof_ = eof_ = true;
  }
  return false;
}

void TDataSet::ReadEnd(bool first) {
  first ? InternalFirst() : InternalLast();
  if (ReadInto(first ? gmNext : gmPrior, true)) {
    bof_ = first;
    eof_ = !first;
  } else {
    has_record_ = false;
    bof_ = eof_ = true;
  }
}

// ---- navigation ---------------------------------------------------------------

void TDataSet::First() {
  CheckBrowseMode();
  Fire(BeforeScroll);
  ReadEnd(true);
  Notify(deDataSetChange, 0);
  Fire(AfterScroll);
}

void TDataSet::Last() {
  CheckBrowseMode();
  Fire(BeforeScroll);
  ReadEnd(false);
  Notify(deDataSetChange, 0);
  Fire(AfterScroll);
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  Fire(BeforeScroll);
  int moved = 0;
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    bof_ = eof_ = false;
    int step = distance > 0 ? 1 : -1;
    while (distance != 0) {
      UpdateCursorPos();
      if (!ReadInto(step > 0 ? gmNext : gmPrior, true)) {
        (step > 0 ? eof_ : bof_) = true;
        break;
      }
      moved += step;
      distance -= step;
    }
    Notify(deDataSetScroll, moved);
  }
  Fire(AfterScroll);
  return moved;
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  InternalRefresh();
  Resync();
  Notify(deDataSetChange, 0);
}

// ---- editing ------------------------------------------------------------------

void TDataSet::CheckBrowseMode() {
  CheckActive();
  Notify(deCheckBrowseMode, 0);
  switch (state_) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (modified_) Post();
      else Cancel();
      break;
    case dsSetKey:
      Post();
      break;
    default:
      break;
  }
}

void TDataSet::UpdateRecord() {
  if (state_ != dsEdit && state_ != dsInsert && state_ != dsSetKey) rtl::DatabaseError(msg::kNotEditing);
  Notify(deUpdateRecord, 0);
}

void TDataSet::Edit() {
  CheckActive();
  if (state_ == dsEdit || state_ == dsInsert) return;
  if (!has_record_) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeEdit);
  UpdateCursorPos();
  RunWithErrorEvent([this] { InternalEdit(); }, OnEditError);
  SetState(dsEdit);
  Notify(deRecordChange, 0);
  Fire(AfterEdit);
}

void TDataSet::Insert() { BeginInsertAppend(false); }
void TDataSet::Append() { BeginInsertAppend(true); }

void TDataSet::BeginInsertAppend(bool append) {
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeInsert);
  Fire(BeforeScroll);
  insert_had_record_ = has_record_;
  insert_bof_ = bof_;
  insert_eof_ = eof_;
  insert_returns_ = false;
  if (has_record_) {
    UpdateCursorPos();
    insert_return_.resize(static_cast<std::size_t>(BookmarkSize));
    GetBookmarkData(active_, insert_return_.data());
    insert_returns_ = true;
  }
  try {
    if (append) {
      InternalLast();
      cursor_synced_ = false;
    }
    InternalInsert();
    InitRecord(active_);
    SetBookmarkFlag(active_, append ? bfEOF : bfInserted);
    bof_ = eof_ = false;
    SetState(dsInsert);
    DoOnNewRecord();
  } catch (...) {
    state_ = dsBrowse;
    ReturnFromInsert();
    Notify(deUpdateState, 0);
    throw;
  }
  modified_ = false;
  Notify(deDataSetChange, 0);
  Fire(AfterInsert);
  Fire(AfterScroll);
}

void TDataSet::ReturnFromInsert() {
  has_record_ = false;
  cursor_synced_ = false;
  if (insert_returns_) {
    InternalGotoBookmark(insert_return_.data());
    if (Resync()) {
      bof_ = insert_bof_;
      eof_ = insert_eof_;
    }
  } else {
    ReadEnd(true);
  }
  insert_returns_ = false;
}

void TDataSet::InitRecord(TRecordBuffer buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, bfInserted);
}

void TDataSet::DoOnNewRecord() { Fire(OnNewRecord); }

void TDataSet::Post() {
  CheckActive();
  switch (state_) {
    case dsEdit:
    case dsInsert:
      break;
    case dsSetKey:
      SetState(dsBrowse);
      Notify(deDataSetChange, 0);
      return;
    default:
      rtl::DatabaseError(msg::kNotEditing);
  }
  Notify(deCheckBrowseMode, 0);
  UpdateRecord();
  Fire(BeforePost);
  RunWithErrorEvent([this] { InternalPost(); }, OnPostError);
  insert_returns_ = false;
  SetState(dsBrowse);
  Resync();
  Notify(deDataSetChange, 0);
  Fire(AfterPost);
}

void TDataSet::Cancel() {
  switch (state_) {
    case dsEdit:
    case dsInsert: {
      Notify(deCheckBrowseMode, 0);
      Fire(BeforeCancel);
      bool inserting = state_ == dsInsert;
      InternalCancel();
      SetState(dsBrowse);
      if (inserting) {
        ReturnFromInsert();
      } else {
        cursor_synced_ = false;
        UpdateCursorPos();
        Resync();
      }
      Notify(deDataSetChange, 0);
      Fire(AfterCancel);
      break;
    }
    case dsSetKey:
      SetState(dsBrowse);
      Notify(deDataSetChange, 0);
      break;
    default:
      break;
  }
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert) {
    Cancel();
    return;
  }
  if (state_ == dsSetKey) CheckBrowseMode();
  if (!has_record_) rtl::DatabaseError(msg::kDataSetEmpty);
  Notify(deCheckBrowseMode, 0);
  CheckCanModify();
  Fire(BeforeDelete);
  Fire(BeforeScroll);
  UpdateCursorPos();
  RunWithErrorEvent([this] { InternalDelete(); }, OnDeleteError);
  SetState(dsBrowse);
  cursor_synced_ = false;
  Resync();
  Notify(deDataSetChange, 0);
  Fire(AfterDelete);
  Fire(AfterScroll);
}

void TDataSet::RunWithErrorEvent(const std::function<void()>& action, const TDataSetErrorEvent& event) {
  for (;;) {
    try {
      action();
      return;
    } catch (rtl::EDatabaseError& error) {
      if (!event) throw;
      TDataAction action_taken = daFail;
      event(this, error, action_taken);
      if (action_taken == daFail) throw;
      if (action_taken == daAbort) throw rtl::EAbort("Operation aborted");
    }
  }
}

// ---- bookmarks and searching ----------------------------------------------------

TBookmark TDataSet::GetBookmark() {
  CheckActive();
  if (!has_record_ || state_ == dsInsert) return {};
  TBookmark bookmark(static_cast<std::size_t>(BookmarkSize));
  GetBookmarkData(active_, bookmark.data());
  return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  CheckBrowseMode();
  if (bookmark.empty()) return;
  CursorPosChanged();
  if (!BookmarkValid(bookmark)) rtl::DatabaseError(msg::kRecordNotFound);
  Fire(BeforeScroll);
  InternalGotoBookmark(bookmark.data());
  SyncToCursor();
  Fire(AfterScroll);
}

void TDataSet::SyncToCursor() {
  cursor_synced_ = false;
  Resync();
  if (has_record_) bof_ = eof_ = false;
  Notify(deDataSetChange, 0);
}

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  if (a.empty()) return b.empty() ? 0 : 1;
  if (b.empty()) return -1;
  return 0;
}

bool TDataSet::MatchesKey(TField* field, const Variant& value, TLocateOptions options) {
  if (value.IsClear()) return field->IsNull();
  if (field->IsNull()) return false;
  if (IsTextField(field)) {
    std::string own = field->AsString(), key = value.ToString();
    if (options & loPartialKey) {
      if (own.size() < key.size()) return false;
      own.resize(key.size());
    }
    return (options & loCaseInsensitive) ? rtl::AnsiSameText(own, key) : own == key;
  }
  return VarSameValue(field->AsVariant(), value);
}

// Scans from the first record into the temporary buffer; the cursor is left
// on the match (or at the end).
bool TDataSet::LocateRecord(const std::vector<TField*>& fields, const Variant& values, TLocateOptions options) {
  CursorPosChanged();
  InternalFirst();
  while (GetRecord(temp_, gmNext, true) == grOK) {
    TempState scope(*this, dsFilter, filter_buffer_, temp_);
    bool match = true;
    for (std::size_t i = 0; i < fields.size() && match; ++i) {
      const Variant& key = fields.size() == 1 && !values.IsArray() ? values : values[static_cast<int>(i)];
      match = MatchesKey(fields[i], key, options);
    }
    if (match) return true;
  }
  return false;
}

bool TDataSet::Locate(const std::string& key_fields, const Variant& key_values, TLocateOptions options) {
  CheckBrowseMode();
  std::vector<TField*> fields = GetFieldList(key_fields);
  Fire(BeforeScroll);
  if (!LocateRecord(fields, key_values, options)) return false;
  std::swap(active_, temp_);
  has_record_ = cursor_synced_ = true;
  bof_ = eof_ = false;
  Notify(deDataSetChange, 0);
  Fire(AfterScroll);
  return true;
}

Variant TDataSet::Lookup(const std::string& key_fields, const Variant& key_values, const std::string& result_fields) {
  CheckBrowseMode();
  std::vector<TField*> keys = GetFieldList(key_fields);
  std::vector<TField*> results = GetFieldList(result_fields);
  if (!LocateRecord(keys, key_values, 0)) return Null;
  TempState scope(*this, dsCalcFields, calc_buffer_, temp_);
  return FieldValues(results);
}

Variant FieldValues(const std::vector<TField*>& fields) {
  if (fields.size() == 1) return fields[0]->AsVariant();
  VarArray values;
  for (TField* field : fields) values.push_back(field->AsVariant());
  return Variant(std::move(values));
}

// ---- filters ----------------------------------------------------------------------

void TDataSet::SetFiltered(bool value) {
  if (!Active()) {
    filtered_ = value;
    return;
  }
  CheckBrowseMode();
  if (filtered_ == value) return;
  filtered_ = value;
  First();
}

void TDataSet::SetFilterText(const std::string& text) {
  if (Active()) CheckBrowseMode();
  filter_text_ = text;
  if (Active() && filtered_) First();
}

void TDataSet::SetFilterOptions(TFilterOptions options) {
  if (Active()) CheckBrowseMode();
  filter_options_ = options;
  if (Active() && filtered_) First();
}

void TDataSet::SetOnFilterRecord(TFilterRecordEvent event) {
  if (Active()) CheckBrowseMode();
  on_filter_record_ = std::move(event);
  if (Active() && filtered_) First();
}

bool TDataSet::RecordPassesFilter(TRecordBuffer buffer) {
  if (!filtered_ || !on_filter_record_) return true;
  TempState scope(*this, dsFilter, filter_buffer_, buffer);
  bool accept = true;
  on_filter_record_(this, accept);
  return accept;
}

// ---- field data -------------------------------------------------------------------

TRecordBuffer TDataSet::GetActiveRecordBuffer() {
  switch (state_) {
    case dsBrowse: return has_record_ ? active_ : nullptr;
    case dsEdit: case dsInsert: case dsNewValue: return active_;
    case dsCalcFields: case dsInternalCalc: return calc_buffer_;
    case dsFilter: return filter_buffer_;
    case dsOldValue: return GetOldRecordBuffer();
    case dsSetKey: return GetKeyRecordBuffer();
    default: return nullptr;
  }
}

bool TDataSet::GetFieldData(TField* field, void* buffer, bool native) {
  if (native || !buffer) return GetFieldData(field, buffer);
  std::vector<std::uint8_t> stored(static_cast<std::size_t>(field->DataSize()));
  if (!GetFieldData(field, stored.data())) return false;
  DataConvert(field, stored.data(), buffer, true);
  return true;
}

void TDataSet::SetFieldData(TField* field, const void* buffer, bool native) {
  if (native || !buffer) {
    SetFieldData(field, buffer);
    return;
  }
  std::vector<std::uint8_t> stored(static_cast<std::size_t>(field->DataSize()));
  DataConvert(field, buffer, stored.data(), false);
  SetFieldData(field, stored.data());
}

void TDataSet::DataConvert(TField* field, const void* source, void* dest, bool) {
  std::memcpy(dest, source, static_cast<std::size_t>(field->DataSize()));
}

TRecordBuffer TDataSet::PrepareFieldWrite(TField* field, const void* data) {
  switch (state_) {
    case dsEdit: case dsInsert: case dsSetKey: case dsCalcFields: case dsFilter: case dsNewValue:
    case dsInternalCalc:
      break;
    default:
      rtl::DatabaseError(msg::kNotEditing);
  }
  if (state_ == dsSetKey && (field->FieldNo() < 0 || (HasIndexKeyFields() && !GetIsIndexField(field))))
    rtl::DatabaseErrorFmt(msg::kNotIndexField, {field->DisplayName()});
  if (!field->Calculated()) {
    if (state_ == dsCalcFields) rtl::DatabaseError(msg::kNotEditing);
    if (field->ReadOnly() && state_ != dsSetKey && state_ != dsFilter)
      rtl::DatabaseErrorFmt(msg::kFieldReadOnly, {field->DisplayName()});
  }
  field->Validate(data);
  return GetActiveRecordBuffer();
}

void TDataSet::FinishFieldWrite(TField* field) {
  if (state_ != dsCalcFields && state_ != dsFilter && state_ != dsNewValue && state_ != dsInternalCalc)
    DataEvent(deFieldChange, reinterpret_cast<std::intptr_t>(field));
}

bool TDataSet::GetCalcFieldData(const std::uint8_t* calc_area, TField* field, void* dest) const {
  const std::uint8_t* slot = calc_area + field->Offset();
  if (!slot[0]) return false;
  if (dest) std::memcpy(dest, slot + 1, static_cast<std::size_t>(field->DataSize()));
  return true;
}

void TDataSet::SetCalcFieldData(std::uint8_t* calc_area, TField* field, const void* source) {
  std::uint8_t* slot = calc_area + field->Offset();
  slot[0] = source ? 1 : 0;
  if (source) std::memcpy(slot + 1, source, static_cast<std::size_t>(field->DataSize()));
  else std::memset(slot + 1, 0, static_cast<std::size_t>(field->DataSize()));
}

void TDataSet::GetCalcFields(TRecordBuffer buffer) {
  if (calc_fields_size_ == 0) return;
  TempState scope(*this, dsCalcFields, calc_buffer_, buffer);
  ClearCalcFields(buffer);
  for (TField* field : fields_) {
    if (field->FieldKind() != fkLookup || !field->LookupDataSet || !field->LookupDataSet->Active()) continue;
    Variant key = FieldValues(GetFieldList(field->KeyFields));
    field->SetAsVariant(field->LookupDataSet->Lookup(field->LookupKeyFields, key, field->LookupResultField));
  }
  Fire(OnCalcFields);
}

std::unique_ptr<rtl::TStream> TDataSet::CreateBlobStream(TField* field, TBlobStreamMode) {
  rtl::DatabaseErrorFmt(msg::kFieldAccess, {field->DisplayName(), "BLOB"});
}

Variant TDataSet::GetStateFieldValue(TDataSetState state, TField* field) {
  TDataSetState saved = SetTempState(state);
  try {
    Variant value = field->AsVariant();
    RestoreState(saved);
    return value;
  } catch (...) {
    RestoreState(saved);
    throw;
  }
}

void TDataSet::SetStateFieldValue(TDataSetState state, TField* field, const Variant& value) {
  TDataSetState saved = SetTempState(state);
  try {
    field->SetAsVariant(value);
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
}

int TDataSet::Translate(const char* source, char* dest, bool) {
  std::size_t n = std::strlen(source);
  if (dest != source) std::memmove(dest, source, n + 1);
  return static_cast<int>(n);
}

void TDataSet::InternalHandleException() {
  if (!ExceptionHandler()) throw;
  ExceptionHandler()(std::current_exception());
}

// ---- notifications ----------------------------------------------------------------

void TDataSet::DataEvent(TDataEvent event, std::intptr_t info) {
  if (event == deFieldChange) {
    auto* field = reinterpret_cast<TField*>(info);
    if (!field->Calculated()) {
      modified_ = true;
      if (AutoCalcFields && (state_ == dsEdit || state_ == dsInsert)) GetCalcFields(active_);
    }
    field->Change();
  }
  Notify(event, info);
}

void TDataSet::Notify(TDataEvent event, std::intptr_t info) {
  if (disable_count_ > 0 && event != deCheckBrowseMode && event != deUpdateRecord && event != deFocusControl) {
    disabled_pending_ = true;
    return;
  }
  for (TDataSource* source : std::vector<TDataSource*>(data_sources_)) source->DataEvent(event, info);
}

void TDataSet::DisableControls() {
  if (disable_count_++ == 0) {
    disable_state_ = state_;
    disabled_pending_ = false;
  }
}

void TDataSet::EnableControls() {
  if (disable_count_ == 0 || --disable_count_ > 0) return;
  bool state_changed = state_ != disable_state_;
  bool pending = disabled_pending_;
  disabled_pending_ = false;
  if (state_changed) Notify(deUpdateState, 0);
  if (pending || state_changed) Notify(deDataSetChange, 0);
}

bool LinkChainReaches(TDataSource* source, const TDataSet* dataset, const TDataSource* target) {
  for (int guard = 0; source && guard < 10000; ++guard) {  // the guard stops a ring made elsewhere
    if (source == target) return true;
    TDataSet* next = source->DataSet();
    if (!next) break;
    if (next == dataset) return true;
    source = next->GetDataSource();
  }
  return false;
}

bool TDataSet::IsLinkedTo(TDataSource* source) const { return LinkChainReaches(source, this, nullptr); }

void TDataSet::CheckNotLinkedTo(TDataSource* source) const {
  if (IsLinkedTo(source)) rtl::DatabaseError(msg::kCircularDataLink);
}

}  // namespace db
