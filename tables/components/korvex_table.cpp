#include "tables/components/korvex_table.h"

#include <algorithm>

#include "platform/dataset/dataset.h"
#include "platform/dataset/fields.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/files.h"
#include "platform/runtime/sysutils.h"
#include "tables/components/messages.h"
#include "tables/components/sessions.h"
#include "tables/components/streams.h"
#include "tables/components/table_defs.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/files/data_header.h"
#include "tables/engine/files/index_file.h"
#include "tables/engine/maintenance/table_restructure.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/names.h"

namespace korvex {

using namespace db;

namespace {

constexpr int kMaxCreateFields = kMaxFields;
constexpr int kMaxCreateIndexes = 33;
constexpr const char* kMemoryDatabase = "Memory";
// The restructure field list's source after the table's fields changed: it
// matches no table until the list is read again.
constexpr const char* kStructureChanged = "\n";

}  // namespace

FieldNameOf TKORVEXTable::FieldNameByNumber() {
  return [this](int number) -> std::string {
    for (int i = 0; i < FieldDefs().Count(); ++i)
      if (FieldDefs().Items(i).FieldNo == number) return FieldDefs().Items(i).Name;
    return {};
  };
}

FieldNumberOf TKORVEXTable::FieldNumberByName() {
  return [this](const std::string& name) {
    int i = FieldDefs().IndexOf(name);
    return i < 0 ? 0 : FieldDefs().Items(i).FieldNo;
  };
}

// Holds one database-use flag and, when asked, a temporary cursor on the
// table for the length of one operation; both are given back on every
// path. The table's own cursor is used instead while the table is open.
class TTableWork {
public:
  TTableWork(TKORVEXTable& table, TDBFlag flag) : table_(table), flag_(flag) {
    held_before_ = (table.DBFlags() & (1u << flag)) != 0;
    table.SetDBFlag(flag, true);
  }
  ~TTableWork() {
    if (temp_ != nullptr) {
      try {
        if (temp_->IsOpen()) temp_->CloseCursor();
      } catch (...) {
      }
      temp_.reset();
    }
    if (!held_before_) {
      try {
        table_.SetDBFlag(flag_, false);
      } catch (...) {
      }
    }
  }
  TTableWork(const TTableWork&) = delete;
  TTableWork& operator=(const TTableWork&) = delete;

  // The table's own cursor when it is open, else a temporary one.
  TDataCursor& OwnOrTemp(bool exclusive) {
    if (table_.Handle() != nullptr) return *table_.Handle();
    return Temp(true, exclusive);
  }
  TDataCursor& Temp(bool open, bool exclusive) {
    temp_ = table_.NewCursor(open, exclusive);
    return *temp_;
  }

private:
  TKORVEXTable& table_;
  TDBFlag flag_;
  bool held_before_ = false;
  std::unique_ptr<TDataCursor> temp_;
};

TKORVEXTable::TKORVEXTable(rtl::TComponent* owner) : TKORVEXDBDataSet(owner) {
  master_link_.OnMasterChange = [this](TKORVEXMasterDataLink*) { ApplyMasterRange(); };
  master_link_.OnMasterDisable = [this](TKORVEXMasterDataLink*) { CancelRange(); };
  index_defs_.OnUpdate = [this] { UpdateIndexDefs(); };
  restructure_fields_.OnUpdate = [this] { FillRestructureFieldDefs(); };
  restructure_indexes_.OnUpdate = [this] { FillRestructureIndexDefs(); };
}

TKORVEXTable::~TKORVEXTable() {
  try {
    Close();
  } catch (...) {
  }
}

std::string TKORVEXTable::EngineVersion() const { return kComponentEngineVersion; }

// ---- properties -------------------------------------------------------------------------

void TKORVEXTable::MarkDefinitionsOutOfDate() {
  index_defs_up_to_date_ = false;
  restructure_fields_.SetUpToDate(false);
  restructure_indexes_.SetUpToDate(false);
}

void TKORVEXTable::PropertyChanged() {
  MarkDefinitionsOutOfDate();
  TKORVEXDBDataSet::PropertyChanged();
}

std::string TKORVEXTable::TableIdentity() const { return DatabaseName() + '\n' + table_name_; }

std::string TKORVEXTable::DatabaseNameFor(const std::string& name) const {
  return in_memory_ ? std::string(kMemoryDatabase) : name;
}

void TKORVEXTable::SetExclusive(bool value) {
  if (value == exclusive_) return;
  CheckInactive();
  exclusive_ = value;
  PropertyChanged();
}

void TKORVEXTable::SetReadOnly(bool value) {
  if (value == read_only_) return;
  CheckInactive();
  read_only_ = value;
  PropertyChanged();
}

void TKORVEXTable::SetInMemory(bool value) {
  if (value == in_memory_) return;
  CheckInactive();
  in_memory_ = value;
  if (value) SetDatabaseName(kMemoryDatabase);
  PropertyChanged();
}

void TKORVEXTable::SetTableName(const std::string& name) {
  if ((ComponentState() & rtl::csLoading) != 0) {
    table_name_ = name;
    return;
  }
  if (name == table_name_) return;
  CheckInactive();
  std::string file = name;
  if (ContainsDirectory(name)) {
    const std::size_t cut = name.find_last_of("/\\:");
    if (cut != std::string::npos) {
      std::string dir = name.substr(0, cut);
      file = name.substr(cut + 1);
      if (!in_memory_ && !dir.empty()) SetDatabaseName(dir);
    }
  }
  table_name_ = file;
  PropertyChanged();
}

void TKORVEXTable::SetIndexName(const std::string& name) { SetIndex(name, false); }

void TKORVEXTable::SetIndexFieldNames(const std::string& names) { SetIndex(names, !names.empty()); }

void TKORVEXTable::SetIndex(const std::string& text, bool field_names) {
  if (Active()) CheckBrowseMode();
  if (text == index_text_ && field_names == field_names_index_) return;
  if (Active()) {
    // The name is resolved before anything changes, so a text that names
    // no index leaves the table as it was.
    SwitchToIndex(GetIndexParams(text, field_names));
    CheckMasterRange();
  }
  index_text_ = text;
  field_names_index_ = field_names;
  if (Active()) {
    CursorPosChanged();
    Resync();
  }
}

std::string TKORVEXTable::GetIndexParams(const std::string& text, bool field_names) {
  if (text.empty()) return {};
  UpdateIndexDefs();
  if (field_names) return index_defs_.FindIndexForFields(text).Name;
  return text;
}

void TKORVEXTable::CheckTableName() const {
  if (table_name_.empty()) rtl::DatabaseError(cmsg::kNoTableName);
}

bool TKORVEXTable::GetCanModify() { return TKORVEXDBDataSet::GetCanModify() && !read_only_; }

// ---- cursors -----------------------------------------------------------------------------

std::unique_ptr<TDataCursor> TKORVEXTable::NewCursor(bool open, bool exclusive) {
  auto cursor = std::make_unique<TDataCursor>(DBHandle());
  cursor->SetTableName(table_name_.substr(0, 255));
  cursor->SetExclusive(exclusive);
  cursor->SetReadOnly(read_only_);
  cursor->SetInMemory(in_memory_);
  TKORVEXSession* session = DBSession();
  cursor->SetPasswordCallback([session] { return session->GetPassword(); });
  if (open) cursor->OpenCursor();
  return cursor;
}

TDataCursor* TKORVEXTable::CreateHandle() {
  CheckTableName();
  MarkDefinitionsOutOfDate();
  std::string index = GetIndexParams(index_text_, field_names_index_);
  std::unique_ptr<TDataCursor> cursor = NewCursor(true, exclusive_);
  read_only_ = cursor->GetReadOnly();
  if (!index.empty()) cursor->SetIndexName(index);
  return cursor.release();
}

void TKORVEXTable::DestroyHandle() {
  DestroyLookupCursor();
  TKORVEXDBDataSet::DestroyHandle();
}

void TKORVEXTable::DestroyLookupCursor() {
  lookup_asked_ = false;
  lookup_fields_.clear();
  if (lookup_cursor_ == nullptr) return;
  std::unique_ptr<TDataCursor> cursor = std::move(lookup_cursor_);
  try {
    cursor->CloseCursor();
  } catch (...) {
  }
}

TDataCursor* TKORVEXTable::GetLookupCursor(const std::string& key_fields, bool case_insensitive) {
  if (lookup_asked_ && key_fields == lookup_fields_ && case_insensitive == lookup_case_insensitive_)
    return lookup_cursor_.get();
  DestroyLookupCursor();
  if (!Handle()->RangeActive()) {
    UpdateIndexDefs();
    // An index whose case setting is the one asked for: another one finds
    // records that differ in case, or misses them.
    std::vector<int> alike;
    for (int i = 0; i < index_defs_.Count(); ++i)
      if (((index_defs_.Items(i).Options & ixCaseInsensitive) != 0) == case_insensitive) alike.push_back(i);
    const int match = MatchIndexForFields(
        static_cast<int>(alike.size()),
        [&](int i) -> const std::string& { return index_defs_.Items(alike[static_cast<std::size_t>(i)]).Fields; },
        [&](int i) { return index_defs_.Items(alike[static_cast<std::size_t>(i)]).Options; }, key_fields,
        case_insensitive);
    if (match >= 0) {
      std::unique_ptr<TDataCursor> clone = Handle()->CloneCursor();
      clone->SetIndexName(index_defs_.Items(alike[static_cast<std::size_t>(match)]).Name);
      lookup_cursor_ = std::move(clone);
      ++lookup_cursors_made_;
    }
  }
  lookup_asked_ = true;
  lookup_fields_ = key_fields;
  lookup_case_insensitive_ = case_insensitive;
  return lookup_cursor_.get();
}

void TKORVEXTable::PrepareCursor() { CheckMasterRange(); }

void TKORVEXTable::InternalInitFieldDefs() {
  CheckTableName();
  TKORVEXDBDataSet::InternalInitFieldDefs();
}

// ---- definitions -------------------------------------------------------------------------

void TKORVEXTable::UpdateFieldDefs() {
  CheckTableName();
  if (Handle() != nullptr) {
    FillFieldDefs(*Handle(), FieldDefs());
    return;
  }
  TTableWork work(*this, dbfFieldList);
  FillFieldDefs(work.OwnOrTemp(false), FieldDefs());
}

void TKORVEXTable::UpdateIndexDefs() {
  if (index_defs_up_to_date_) return;
  UpdateFieldDefs();
  TTableWork work(*this, dbfIndexList);
  TDataCursor& cursor = work.OwnOrTemp(false);
  index_defs_.Clear();
  for (int i = 0; i <= cursor.GetIndexCount(); ++i) {
    if (i == 0 && cursor.GetNoPrimaryIndex()) continue;
    TIndexDefinition engine_def;
    cursor.GetIndexDefinition(static_cast<std::uint8_t>(i), engine_def);
    TIndexDef def = DecodeIndexDefinition(engine_def, i, FieldNameByNumber());
    index_defs_.Add(def.Name, def.Fields, def.Options);
  }
  index_defs_up_to_date_ = true;
}

std::vector<std::string> TKORVEXTable::GetIndexNames() {
  UpdateIndexDefs();
  std::vector<std::string> names;
  for (int i = 0; i < index_defs_.Count(); ++i)
    if (!index_defs_.Items(i).Name.empty()) names.push_back(index_defs_.Items(i).Name);
  return names;
}

void TKORVEXTable::FillRestructureFieldDefs() {
  TTableWork work(*this, dbfFieldList);
  TDataCursor& cursor = work.OwnOrTemp(false);
  restructure_fields_.Clear();
  for (int i = 1; i <= cursor.GetFieldCount(); ++i) {
    const TFieldDefinition& def = cursor.GetFieldDefinitionByPos(i);
    if (def.Hidden == 0) restructure_fields_.AddFieldDefinition(def);
  }
  restructure_fields_.SetUpToDate(true);
  restructure_source_ = TableIdentity();
}

void TKORVEXTable::FillRestructureIndexDefs() {
  TTableWork work(*this, dbfIndexList);
  TDataCursor& cursor = work.OwnOrTemp(false);
  // The key fields' names come from the table itself: the field list may
  // hold edits not yet applied, which refilling it would throw away.
  auto name_of = [&cursor](int number) -> std::string {
    return number >= 1 && number <= cursor.GetFieldCount() ? cursor.GetFieldDefinitionByPos(number).Name
                                                           : std::string();
  };
  restructure_indexes_.Clear();
  for (int i = 0; i <= cursor.GetIndexCount(); ++i) {
    if (i == 0 && cursor.GetNoPrimaryIndex()) continue;
    TIndexDefinition def;
    cursor.GetIndexDefinition(static_cast<std::uint8_t>(i), def);
    TIndexDef decoded = DecodeIndexDefinition(def, i, name_of);
    restructure_indexes_.Add(decoded.Name, decoded.Fields, decoded.Options,
                             static_cast<TIndexCompression>(def.Compression & 3));
  }
  restructure_indexes_.SetUpToDate(true);
}

// ---- keys and ranges ----------------------------------------------------------------------

namespace {

Variant ValuesOf(const std::vector<Variant>& values) {
  if (values.size() == 1) return values[0];
  return Variant(VarArray(values.begin(), values.end()));
}

}  // namespace

bool TKORVEXTable::SearchKey(bool nearest) {
  CheckBrowseMode();
  DoBeforeScroll();
  CursorPosChanged();
  const TKeyBuffer& header = KeyHeader(kiLookup);
  const bool found =
      Handle()->Find(false, KeyBuffer(kiLookup) + sizeof(TKeyBuffer), header.FieldCount, nearest, 0, nullptr);
  if (found || nearest) {
    SyncToCursor();
    DoAfterScroll();
  }
  return found;
}

bool TKORVEXTable::FindKey(const std::vector<Variant>& values) {
  CheckBrowseMode();
  SetKeyFields(kiLookup, ValuesOf(values));
  return GotoKey();
}

void TKORVEXTable::FindNearest(const std::vector<Variant>& values) {
  CheckBrowseMode();
  SetKeyFields(kiLookup, ValuesOf(values));
  GotoNearest();
}

void TKORVEXTable::SetKey() { SetKeyBuffer(kiLookup, true); }
void TKORVEXTable::EditKey() { SetKeyBuffer(kiLookup, false); }
bool TKORVEXTable::GotoKey() { return SearchKey(false); }
void TKORVEXTable::GotoNearest() { SearchKey(true); }
void TKORVEXTable::SetRangeStart() { SetKeyBuffer(kiRangeStart, true); }
void TKORVEXTable::SetRangeEnd() { SetKeyBuffer(kiRangeEnd, true); }
void TKORVEXTable::EditRangeStart() { SetKeyBuffer(kiRangeStart, false); }
void TKORVEXTable::EditRangeEnd() { SetKeyBuffer(kiRangeEnd, false); }

void TKORVEXTable::ApplyRange() {
  CheckBrowseMode();
  if (SetCursorRange()) First();
}

void TKORVEXTable::CancelRange() {
  CheckBrowseMode();
  UpdateCursorPos();
  CursorPosChanged();
  if (ResetCursorRange()) Resync();
}

bool TKORVEXTable::RangeActive() const { return Handle() != nullptr && Handle()->RangeActive(); }

void TKORVEXTable::SetRange(const std::vector<Variant>& start, const std::vector<Variant>& end) {
  CheckBrowseMode();
  SetKeyFields(kiRangeStart, ValuesOf(start));
  SetKeyFields(kiRangeEnd, ValuesOf(end));
  ApplyRange();
}

// ---- master-detail ---------------------------------------------------------------------

void TKORVEXTable::GotoCurrent(TKORVEXTable& other) {
  CheckBrowseMode();
  other.CheckBrowseMode();
  // The names as the engine opened them: the database's canonical directory
  // and the cursor's name, which always carries ".DAT" ("fams" and
  // "FAMS.dat" are one table).
  auto opened_name = [](const TKORVEXTable& t) { return AddBS(t.DBHandle()->Path()) + t.Handle()->GetTableName(); };
  if (!rtl::AnsiSameText(opened_name(*this), opened_name(other))) rtl::DatabaseError(cmsg::kTableMismatch);
  other.UpdateCursorPos();
  DoBeforeScroll();
  CursorPosChanged();
  CheckStatus(Handle()->SetToRecordBuffer(*other.Handle()));
  SyncToCursor();
  DoAfterScroll();
}

void TKORVEXTable::SetMasterSource(TDataSource* source) {
  CheckNotLinkedTo(source);
  master_link_.SetDataSource(source);
}

void TKORVEXTable::ApplyMasterRange() {
  CheckBrowseMode();
  SetLinkRanges(master_link_.Fields());
  ApplyRange();
}

void TKORVEXTable::CheckMasterRange() {
  if (master_link_.Active() && !master_link_.Fields().empty()) {
    SetLinkRanges(master_link_.Fields());
    SetCursorRange();
  }
}

void TKORVEXTable::DoOnNewRecord() {
  if (master_link_.Active() && !master_link_.Fields().empty()) {
    const auto& masters = master_link_.Fields();
    for (std::size_t i = 0; i < masters.size() && static_cast<int>(i) < IndexFieldCount(); ++i)
      GetIndexField(static_cast<int>(i))->SetValue(masters[i]->Value());
  }
  TKORVEXDBDataSet::DoOnNewRecord();
}

// ---- engine reports ----------------------------------------------------------------------

namespace {

TKORVEXTable* Of(void* user) { return static_cast<TKORVEXTable*>(user); }

void Progress(TKORVEXTable* table, const TProgressEvent& event, std::uint32_t step, std::uint8_t percent) {
  if (event) event(table, static_cast<int>(step), percent);
}

}  // namespace

void TKORVEXTable::SetCallbacks(TDataCursor& c) {
  c.SetRepairProgressCallback(
      [](void* u, std::uint32_t s, std::uint8_t p) { return Progress(Of(u), Of(u)->OnRepairProgress, s, p), true; },
      this);
  c.SetIndexProgressCallback(
      [](void* u, std::uint32_t s, std::uint8_t p) { return Progress(Of(u), Of(u)->OnIndexProgress, s, p), true; },
      this);
  c.SetCopyProgressCallback(
      [](void* u, std::uint32_t s, std::uint8_t p) { return Progress(Of(u), Of(u)->OnCopyProgress, s, p), true; },
      this);
  c.SetOptimizeProgressCallback(
      [](void* u, std::uint32_t s, std::uint8_t p) { return Progress(Of(u), Of(u)->OnOptimizeProgress, s, p), true; },
      this);
  c.SetRestructureProgressCallback(
      [](void* u, std::uint32_t s, std::uint8_t p) {
        return Progress(Of(u), Of(u)->OnRestructureProgress, s, p), true;
      },
      this);
  c.SetRepairLogCallback(
      [](void* u, const std::string& line) {
        if (Of(u)->OnRepairLog) Of(u)->OnRepairLog(Of(u), line);
        return true;
      },
      this);
  c.SetUpgradeLogCallback(
      [](void* u, const std::string& line) {
        if (Of(u)->OnUpgradeLog) Of(u)->OnUpgradeLog(Of(u), line);
        return true;
      },
      this);
  c.SetUpgradeProgressCallback(
      [](void* u, const std::string& text, std::uint8_t p) {
        if (Of(u)->OnUpgradeProgress) Of(u)->OnUpgradeProgress(Of(u), text, p);
        return true;
      },
      this);
  c.SetDataLostCallback(
      [](void* u, TDataLossCause cause, const std::string& context, bool& stop_asking, bool& go_on) {
        if (Of(u)->OnDataLost) Of(u)->OnDataLost(Of(u), cause, context, go_on, stop_asking);
        Of(u)->restructure_stopped_ = !go_on;
        return true;
      },
      this);
}

// ---- whole-table work --------------------------------------------------------------------

void TKORVEXTable::EncodeDefinitions(std::vector<TFieldDefinition>& fields, std::vector<TIndexDefinition>& indexes,
                                     int& secondary_count) {
  if (FieldDefs().Count() > kMaxCreateFields) DbiError(err::kFieldLimits);
  if (index_defs_.Count() > kMaxCreateIndexes) DbiError(err::kIndexLimits);
  fields.clear();
  for (int i = 0; i < FieldDefs().Count(); ++i) {
    const TFieldDef& d = FieldDefs().Items(i);
    TFieldDefinition def = EncodeFieldDefinition(d.Name, d.DataType, d.Size);
    def.FieldNumber = static_cast<std::uint16_t>(i + 1);
    def.Required = d.Required ? 1 : 0;
    fields.push_back(std::move(def));
  }
  std::vector<TIndexOptions> options;
  for (int i = 0; i < index_defs_.Count(); ++i) options.push_back(index_defs_.Items(i).Options);
  TIndexOrder order = OrderForCreation(options);
  indexes.clear();
  for (int k : order.Order) {
    if (k < 0) {
      indexes.emplace_back();
      continue;
    }
    const TIndexDef& d = index_defs_.Items(k);
    indexes.push_back(EncodeIndexDefinition(d.Name, d.Options, d.Fields, icNone, FieldNumberByName()));
  }
  secondary_count = order.SecondaryCount;
}

void TKORVEXTable::CreateTable() {
  CheckInactive();
  if (FieldDefs().Count() == 0) {
    for (int i = 0; i < FieldCount(); ++i) {
      TField* f = Fields(i);
      if (f->FieldKind() == fkData) FieldDefs().Add(f->FieldName(), f->DataType(), f->Size(), f->Required());
    }
    if (FieldDefs().Count() > 0) DefChanged();
  }
  std::vector<TFieldDefinition> fields;
  std::vector<TIndexDefinition> indexes;
  int secondary_count = 0;
  EncodeDefinitions(fields, indexes, secondary_count);
  TTableWork work(*this, dbfTable);
  std::unique_ptr<TDataCursor> cursor = std::make_unique<TDataCursor>(DBHandle());
  cursor->SetTableName(table_name_.substr(0, 255));
  cursor->SetInMemory(in_memory_);
  cursor->SetReadOnly(false);
  cursor->SetExclusive(true);
  TTableCreation creation;
  creation.Settings.UserMajorVersion = 1;
  creation.Settings.BlobBlockSize = 512;
  creation.IndexCount = static_cast<std::uint8_t>(secondary_count);
  creation.Overwrite = false;
  creation.Indexes = std::move(indexes);
  creation.AllowEmptyPrimaryKey = true;
  cursor->CreateTable(creation, fields);
  restructure_source_ = kStructureChanged;
  PropertyChanged();
}

void TKORVEXTable::DeleteTable() {
  CheckInactive();
  TTableWork work(*this, dbfTable);
  work.Temp(false, true).DeleteTable();
}

void TKORVEXTable::RereadAfter(const std::function<void()>& work) {
  try {
    work();
  } catch (...) {
    CursorPosChanged();
    try {
      First();
    } catch (...) {
    }
    throw;
  }
  CursorPosChanged();
  First();
}

void TKORVEXTable::EmptyTable() {
  if (Active()) {
    CheckBrowseMode();
    TTableWork work(*this, dbfTable);
    // The dataset is read again whether the engine emptied the table or
    // not: its buffers may hold records the engine already dropped.
    RereadAfter([&] { Handle()->EmptyTable(); });
    return;
  }
  TTableWork work(*this, dbfTable);
  work.Temp(true, true).EmptyTable();
}

void TKORVEXTable::RenameTable(const std::string& new_name) {
  CheckInactive();
  TTableWork work(*this, dbfTable);
  TDataCursor& cursor = work.Temp(false, true);
  cursor.RenameTable(new_name);
  cursor.SetTableName(new_name);  // the name as the engine completes it
  table_name_ = cursor.GetTableName();
  PropertyChanged();
}

void TKORVEXTable::CopyTable(const std::string& new_name) {
  if (Active()) CheckBrowseMode();
  TTableWork work(*this, dbfTable);
  TDataCursor& cursor = work.OwnOrTemp(false);
  SetCallbacks(cursor);
  cursor.CopyTable(new_name, true);
}

void TKORVEXTable::OnClosedTable(const std::function<void(TDataCursor&)>& work) {
  CheckInactive();
  TTableWork held(*this, dbfTable);
  TDataCursor& cursor = held.Temp(false, true);
  SetCallbacks(cursor);
  work(cursor);
}

void TKORVEXTable::RepairTable() {
  OnClosedTable([](TDataCursor& cursor) { cursor.RepairTable(false, false); });
}

void TKORVEXTable::OptimizeTable(const std::string& index_name, bool no_backup) {
  OnClosedTable([&](TDataCursor& cursor) { cursor.OptimizeTable(index_name, no_backup); });
}

void TKORVEXTable::UpgradeTable() {
  OnClosedTable([](TDataCursor& cursor) { cursor.UpgradeTable(); });
  restructure_source_ = kStructureChanged;
  PropertyChanged();
}

void TKORVEXTable::RestructureTable(const TRestructureSettings& s) {
  CheckInactive();
  // Field numbers name the fields of the table the list was read from:
  // applied to another table (or to this one after its fields moved) they
  // would drop or mix up fields.
  const bool names_old_fields = [&] {
    for (int i = 0; i < restructure_fields_.Count(); ++i)
      if (restructure_fields_.Items(i).FieldNumber != 0) return true;
    return false;
  }();
  if (names_old_fields && !restructure_source_.empty() && !rtl::AnsiSameText(restructure_source_, TableIdentity()))
    rtl::DatabaseError(cmsg::kRestructureDefsStale);
  TRestructureRequest request;
  request.Settings.LanguageID = s.LanguageID;
  request.Settings.SortID = s.SortID;
  request.Settings.UserMajorVersion = s.UserMajorVersion;
  request.Settings.UserMinorVersion = s.UserMinorVersion;
  request.Settings.Encrypted = s.Encrypted;
  request.Settings.Password = s.Password;
  request.Settings.Description = s.Description;
  request.Settings.BlobBlockSize = s.BlobBlockSize;
  request.LastAutoIncValue = s.LastAutoIncValue;
  request.NoBackup = s.NoBackup;
  request.AllowEmptyPrimaryKey = true;
  int secondary_count = 0;
  EncodeRestructure(restructure_fields_, restructure_indexes_, request.Fields, request.Indexes, secondary_count);
  restructure_stopped_ = false;
  OnClosedTable([&](TDataCursor& cursor) { cursor.RestructureTable(request); });
  // A stopped restructure leaves the table as it was, and the list still
  // describes it.
  if (!restructure_stopped_) {
    restructure_source_ = kStructureChanged;
    DefChanged();
  }
  PropertyChanged();
}

void TKORVEXTable::AddIndex(const std::string& name, const std::string& fields, TIndexOptions options) {
  UpdateFieldDefs();
  TIndexDefinition def = EncodeIndexDefinition(name, options, fields, icNone, FieldNumberByName());
  if (Active()) CheckBrowseMode();
  DestroyLookupCursor();
  {
    TTableWork work(*this, dbfTable);
    TDataCursor& cursor = work.OwnOrTemp(true);
    SetCallbacks(cursor);
    if (options & ixPrimary)
      cursor.AddPrimaryIndex(def);
    else
      cursor.AddSecondaryIndex(def);
  }
  DefChanged();
  PropertyChanged();
}

void TKORVEXTable::DeleteIndex(const std::string& name) {
  if (Active()) CheckBrowseMode();
  DestroyLookupCursor();
  {
    TTableWork work(*this, dbfTable);
    work.OwnOrTemp(true).DeleteIndex(name);
  }
  DefChanged();
  PropertyChanged();
}

void TKORVEXTable::DeleteAllIndexes() {
  if (Active()) CheckBrowseMode();
  DestroyLookupCursor();
  {
    TTableWork work(*this, dbfTable);
    work.OwnOrTemp(true).DeleteAllIndexes();
  }
  DefChanged();
  PropertyChanged();
}

// ---- locks -------------------------------------------------------------------------------

void TKORVEXTable::LockTable() {
  CheckActive();
  Handle()->Table()->UserWriteLockTable();
}

void TKORVEXTable::UnlockTable() {
  CheckActive();
  Handle()->Table()->UserWriteUnlockTable();
}

bool TKORVEXTable::TableIsLocked() {
  CheckActive();
  return Handle()->Table()->TableIsLocked();
}

bool TKORVEXTable::RecordIsLocked() {
  CheckActive();
  UpdateCursorPos();
  return Handle()->Table()->RecordIsLocked(Handle()->GetPhysicalRecordNumber());
}

bool TKORVEXTable::LockSemaphore(int semaphore) {
  CheckActive();
  return Handle()->Table()->UserLockSemaphore(semaphore);
}

bool TKORVEXTable::UnlockSemaphore(int semaphore) {
  CheckActive();
  return Handle()->Table()->UserUnlockSemaphore(semaphore);
}

// ---- streams -----------------------------------------------------------------------------

void TKORVEXTable::SaveToStream(rtl::TStream& stream) {
  CheckActive();
  CheckBrowseMode();
  FlushBuffers();
  TKORVEXTableStream image(Handle(), msRead);
  stream.CopyFrom(image, 0);
  image.Finish();
}

void TKORVEXTable::LoadFromStream(rtl::TStream& stream) {
  CheckActive();
  CheckBrowseMode();
  // The image is the whole table: a range would hide part of it.
  UpdateCursorPos();
  ResetCursorRange();
  DestroyLookupCursor();
  RereadAfter([&] {
    TKORVEXTableStream image(Handle(), msWrite);
    image.CopyFrom(stream, 0);
    image.Finish();
  });
}

// ---- header values -----------------------------------------------------------------------

template <typename Get>
auto TKORVEXTable::ReadHeader(Get get) {
  TTableWork work(*this, dbfTable);
  return get(work.OwnOrTemp(false));
}

bool TKORVEXTable::Exists() {
  if (Active()) return true;
  TTableWork work(*this, dbfTable);
  return DBHandle()->DataTableExists(table_name_, in_memory_);
}

std::uint32_t TKORVEXTable::PhysicalRecordCount() {
  CheckActive();
  return Handle()->Table()->IndexFile().GetActualRecordCount();
}

std::uint32_t TKORVEXTable::BlobBlockSize() {
  return ReadHeader([](const TDataCursor& c) { return std::uint32_t{c.GetBlobBlockSize()}; });
}
std::uint32_t TKORVEXTable::LastAutoIncValue() {
  return ReadHeader([](const TDataCursor& c) { return c.GetLastRecordID(); });
}
std::string TKORVEXTable::VersionNum() {
  return ReadHeader([](const TDataCursor& c) { return c.GetVersionNum(); });
}
std::uint16_t TKORVEXTable::UserMajorVersion() {
  return ReadHeader([](const TDataCursor& c) { return c.GetUserMajorVersion(); });
}
std::uint16_t TKORVEXTable::UserMinorVersion() {
  return ReadHeader([](const TDataCursor& c) { return c.GetUserMinorVersion(); });
}
std::uint16_t TKORVEXTable::LanguageID() {
  return ReadHeader([](const TDataCursor& c) { return c.GetLanguageID(); });
}
std::uint16_t TKORVEXTable::SortID() {
  return ReadHeader([](const TDataCursor& c) { return c.GetSortID(); });
}
bool TKORVEXTable::Encrypted() {
  return ReadHeader([](const TDataCursor& c) { return c.GetEncrypted(); });
}
std::string TKORVEXTable::Password() {
  return ReadHeader([](const TDataCursor& c) { return c.GetPassword(); });
}
std::string TKORVEXTable::Description() {
  return ReadHeader([](const TDataCursor& c) { return c.GetDescription(); });
}

double TKORVEXTable::LastUpdated() {
  CheckActive();
  return Handle()->Table()->DataFile().GetLastUpdated();
}

std::string TKORVEXTable::FullTableName() const {
  CheckActive();
  return AddBS(DBHandle()->Path()) + table_name_;
}

}  // namespace korvex
