// TDataCursor: settings, opening and closing, guards, table creation and
// the structure checks it runs before any file exists.
#include "tables/engine/cursor/data_cursor.h"

#include <algorithm>

#include "platform/runtime/sysutils.h"
#include "tables/engine/base/scope_exit.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/collation.h"
#include "tables/lib/expcheck.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/text_values.h"

namespace korvex {

TDataCursor::TDataCursor(TDataDirectory* directory) : directory_(directory) {}

TDataCursor::~TDataCursor() {
  try {
    CloseCursor(true);
  } catch (...) {
  }
}

void TDataCursor::Fail(TEngineErrorCode code, std::string_view field) const { RaiseError(code, name_, field); }

void TDataCursor::CheckExclusive() const {
  if (!exclusive_) Fail(err::kNeedsExclusive);
}
void TDataCursor::CheckNotReadOnly() const {
  if (read_only_) Fail(err::kAccessDenied);
}
void TDataCursor::CheckNotOpen() const {
  if (open_) Fail(err::kTableInUse);
}
void TDataCursor::RequireOpen() const {
  if (!open_) Fail(err::kNoCurrentRecord);
}

void TDataCursor::SetExclusive(bool value) { SetWhileClosed(exclusive_, value); }
void TDataCursor::SetOverrideExclusive(bool value) { SetWhileClosed(override_exclusive_, value); }
void TDataCursor::SetReadOnly(bool value) { SetWhileClosed(read_only_, value); }
void TDataCursor::SetInMemory(bool value) { SetWhileClosed(in_memory_, value); }
void TDataCursor::SetSuppressAutoIncValues(bool value) {
  if (has_auto_inc_) suppress_auto_inc_ = value;
}

void TDataCursor::SetTableName(const std::string& name) {
  if (name == name_) return;
  CheckNotOpen();
  std::string trimmed = rtl::Trim(name);
  std::size_t dot = trimmed.find_last_of('.');
  std::size_t slash = trimmed.find_last_of('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    if (rtl::SameText(trimmed.substr(dot), ".DAT")) {
      name_ = trimmed;
      return;
    }
    trimmed.resize(dot);
  }
  name_ = trimmed + ".DAT";
}

// ---- open and close ---------------------------------------------------------

void TDataCursor::OpenCursor() {
  if (open_) return;
  TOpenTableRequest request;
  request.Exclusive = exclusive_;
  request.OverrideExclusive = override_exclusive_;
  request.InMemory = in_memory_;
  request.Temporary = temporary_;
  request.ResultSet = result_set_;
  request.SourceTable = source_table_;
  TDataTable* table = nullptr;
  int answer = directory_->OpenDataTable(name_, table, request);
  if (answer < 0) Fail(static_cast<TEngineErrorCode>(-answer));
  auto give_back = [&] { directory_->CloseDataTable(table); };
  try {
    // The first user of a table checks its headers under the read lock
    // (a transaction's table was checked when it opened). Field names that
    // another engine let through (two alike but for case, say) misread no
    // record: they are left to verification and repair.
    if (!repair_mode_ && !restructure_mode_ && table->UseCount() == 1 && !table->GetTransactionInProgress()) {
      const bool before = table->InternalReadLockHeld();
      table->ReadLockTable();
      try {
        table->CheckHeaders(false);
        table->CheckIndexCounts(this);
      } catch (...) {
        if (!before) table->ReadUnlockTable();
        throw;
      }
      if (!before) table->ReadUnlockTable();
    }
    if (table->GetEncrypted()) {
      const std::string password = table->GetPassword();
      while (!directory_->Session()->CheckForPassword(password)) {
        if (!AskForPassword()) Fail(err::kPasswordRequired);
      }
    }
    if (table->GetReadOnly()) read_only_ = true;
    physical_fields_ = table->DataFile().Fields();
    NoteFieldChecks();
    physical_size_ = table->GetRecordSize();
    fields_ = physical_fields_;
    record_size_ = physical_size_;
    mapped_ = has_calculated_ = false;
    has_auto_inc_ = std::any_of(fields_.begin(), fields_.end(), [](auto& f) { return f.IsAutoIncrement(); });
    if (!has_auto_inc_) suppress_auto_inc_ = false;
  } catch (...) {
    give_back();
    throw;
  }
  table_ = table;
  open_ = true;
  reads_ = 0;
  SynchLastUpdateStamps();
  current_record_.assign(record_size_, 0);
  unread_ = 0;
  CancelRange();
  // A repair works on the buffers alone: no index, no position.
  if (repair_mode_) {
    bof_ = eof_ = true;
    current_ = 0;
    return;
  }
  try {
    // A read-only cursor too: the new index file must hold the records'
    // keys before anyone reads or writes through it.
    if (table->IndexCreatedAnew()) RebuildMissingIndex();
    // A source table is read in the order of its records.
    InternalSetIndexPos(source_table_ ? kPhysicalOrder : 0);
    SetToBegin();
  } catch (...) {
    CloseCursor(true);
    throw;
  }
}

void TDataCursor::CloseCursor(bool discard_temporary) {
  if (!open_) return;
  filters_.reset();
  filter_source_.reset();
  filters_in_force_ = false;
  blobs_.clear();
  if (reads_ > 0) {
    reads_ = 1;
    ReadUnlockTable();
  }
  fields_.clear();
  physical_fields_.clear();
  field_checks_ = has_defaults_ = false;
  stored_rules_ = TStoredRules{};
  record_size_ = physical_size_ = 0;
  mapped_ = has_calculated_ = false;
  current_ = 0;
  bof_ = true;
  eof_ = false;
  current_record_.clear();
  unread_ = 0;
  index_pos_ = kPhysicalOrder;
  index_def_ = TIndexDefinition{};
  compare_ = TKeyComparator();
  key_number_ = 0;
  CancelRange();
  TDataTable* table = table_;
  table_ = nullptr;
  open_ = false;
  // The upgrade's callbacks outlive the cursor's opening: the upgrade
  // closes and opens the cursor while it reports.
  TMaintenanceCallbacks kept;
  kept.UpgradeProgress = callbacks_.UpgradeProgress;
  kept.UpgradeLog = callbacks_.UpgradeLog;
  callbacks_ = kept;
  password_callback_ = nullptr;
  int answer = directory_->CloseDataTable(table, discard_temporary);
  if (answer < 0) Fail(static_cast<TEngineErrorCode>(-answer));
}

// ---- creation -----------------------------------------------------------------

void TDataCursor::CreateTable(const TTableCreation& creation, std::vector<TFieldDefinition>& fields) {
  TTableCreation copy = creation;
  CreateTable(copy, fields);
}

void TDataCursor::CreateTable(TTableCreation& creation, std::vector<TFieldDefinition>& fields) {
  CheckExclusive();
  CheckNotReadOnly();
  CheckNotOpen();
  TDataSession* session = directory_->Session();
  const std::string& password = creation.Settings.Password;
  const bool added = creation.Settings.Encrypted && !session->CheckForPassword(password);
  if (added) session->AddPassword(password);
  ScopeExit remove{[&] {
    if (added) session->DeletePassword(password);
  }};

  VerifyStructureInformation(creation, fields);
  TTableCreation checked = creation;
  VerifyIndexInformation(checked.Indexes, fields, creation.AllowEmptyPrimaryKey);
  // The caller's definitions as they are stored, like the fields.
  creation.Indexes = checked.Indexes;
  if (!creation.Overwrite && directory_->DataTableExists(name_, in_memory_)) Fail(err::kTableExists);
  TDataFileSettings settings = creation.Settings;
  settings.Password = rtl::Trim(settings.Password);
  TDataTable* table = nullptr;
  int answer = directory_->CreateDataTable(name_, settings, fields, in_memory_, false, table);
  if (answer < 0) Fail(static_cast<TEngineErrorCode>(-answer));
  try {
    AddIndexDefinitions(table, checked, fields);
  } catch (...) {
    directory_->CloseDataTable(table);
    throw;
  }
  answer = directory_->CloseDataTable(table);
  if (answer < 0) Fail(static_cast<TEngineErrorCode>(-answer));
}

void TDataCursor::VerifyStructureInformation(const TTableCreation& creation,
                                             std::vector<TFieldDefinition>& fields) const {
  const TDataFileSettings& s = creation.Settings;
  if (s.Encrypted) {
    std::size_t length = rtl::Trim(s.Password).size();
    if (length < 1 || length > kMaxPasswordLength) Fail(err::kInvalidPassword);
  }
  if (s.LanguageID != 0 && !IsLanguageAvailable(s.LanguageID, s.SortID)) Fail(err::kLanguageUnavailable);
  if (fields.size() > kMaxFields) Fail(err::kFieldLimits);
  // The index file holds at most 30 secondary indexes: refuse more here,
  // before any file exists.
  const std::size_t secondary =
      std::max<std::size_t>(creation.IndexCount, creation.Indexes.empty() ? 0 : creation.Indexes.size() - 1);
  if (secondary > kMaxSecondaryIndexes) Fail(err::kIndexLimits);
  if (s.BlobBlockSize != 0 && s.BlobBlockSize < 64) Fail(err::kBlobFieldsOrBlockSize);
  VerifyFieldInformation(fields);
}

void TDataCursor::VerifyFieldInformation(std::vector<TFieldDefinition>& fields, bool assign_offsets) const {
  std::size_t blob_fields = 0;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    TFieldDefinition& f = fields[i];
    f.Name = rtl::Trim(f.Name);
    if (f.Name.empty() || !IsAlpha(f.Name[0]) || f.Name.size() > kMaxFieldNameLength)
      Fail(err::kInvalidFieldName, f.Name);
    if (f.FieldNumber == 0) f.FieldNumber = static_cast<std::uint16_t>(i + 1);
    for (std::size_t j = 0; j < i; ++j) {
      if (rtl::SameText(fields[j].Name, f.Name)) Fail(err::kInvalidFieldName, f.Name);
      if (fields[j].FieldNumber == f.FieldNumber) Fail(err::kInvalidFieldDefinition, f.Name);
    }
    const bool known = (f.DataType >= dtString && f.DataType <= dtWord) || f.DataType == dtVarBytes;
    if (!known) Fail(err::kInvalidFieldDefinition, f.Name);
    if (TypeHasSize(f.DataType)) {
      if (f.Size > 250) Fail(err::kInvalidFieldDefinition, f.Name);
    } else {
      f.Size = 0;
    }
    for (const std::string* text : {&f.Default, &f.Minimum, &f.Maximum})
      if (!text->empty() && !VerifyExpression(*text, f.DataType)) Fail(err::kInvalidValidityCheck, f.Name);
    if (f.DataType != dtBCD) f.Decimals = 0;
    f.UpdatePhysicalSize();
    if (f.DataType == dtBlob) ++blob_fields;
    if (!result_set_) f.Calculated = 0;
  }
  if (blob_fields > kMaxBlobFields) Fail(err::kBlobFieldsOrBlockSize);
  if (assign_offsets && AssignFieldOffsets(fields) > kMaxRecordSize) Fail(err::kFieldLimits);
}

namespace {
// FieldAt's error, apart so that the lookup itself stays small.
[[noreturn, gnu::noinline, gnu::cold]] void RaiseInvalidField(const std::string& name, int field) {
  RaiseError(err::kInvalidField, name, std::to_string(field));
}
}  // namespace

const TFieldDefinition& TDataCursor::FieldAt(int field) const {
  if (field < 1 || static_cast<std::size_t>(field) > fields_.size()) RaiseInvalidField(name_, field);
  return fields_[static_cast<std::size_t>(field) - 1];
}

const TFieldDefinition& TDataCursor::GetFieldDefinitionByPos(int position) const { return FieldAt(position); }

}  // namespace korvex
