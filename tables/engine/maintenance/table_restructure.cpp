// TDataCursor::RestructureTable: a new structure for a table. A change of
// fields or of the table's settings rebuilds the table (every record
// carried over by field number into a new table that then takes the old
// one's place); a change of indexes only rebuilds the index file; anything
// else only rewrites definitions and header.
//
// Records that cannot be carried over whole are reported through the
// data-lost callback, which may stop the work: the table is then left as it
// was, byte for byte. A value that converts into another value (rounded,
// cut) is reported as a failed conversion is, and kept converted when the
// work goes on.
#include "tables/engine/maintenance/table_restructure.h"

#include <algorithm>
#include <cstring>

#include "platform/runtime/sysutils.h"
#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/maintenance/maintenance_work.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/expconvert.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/language_settings.h"
#include "tables/lib/names.h"

namespace korvex {

bool FieldDefinitionHasChanged(const TFieldDefinition& a, const TFieldDefinition& b) {
  return a.FieldNumber != b.FieldNumber || a.DataType != b.DataType || a.SubType != b.SubType || a.Size != b.Size ||
         a.Decimals != b.Decimals || a.Required != b.Required || a.CharCase != b.CharCase ||
         !rtl::SameText(a.Default, b.Default) || !rtl::SameText(a.Minimum, b.Minimum) ||
         !rtl::SameText(a.Maximum, b.Maximum);
}

namespace {

const TFieldDefinition* ByNumber(const std::vector<TFieldDefinition>& fields, std::uint16_t number) {
  for (const TFieldDefinition& f : fields)
    if (f.FieldNumber == number) return &f;
  return nullptr;
}

// A value converted between field types under the table's language.
class TValueConversion {
public:
  TValueConversion(std::uint16_t language, std::uint16_t sort) {
    LockLanguageSettings();
    GetLanguageSettings(saved_);
    TLanguageSettings table;
    GetDefaultLanguageSettings(language, sort, table);
    SetLanguageSettings(table);
  }
  ~TValueConversion() {
    SetLanguageSettings(saved_);
    UnlockLanguageSettings();
  }
  TValueConversion(const TValueConversion&) = delete;
  TValueConversion& operator=(const TValueConversion&) = delete;

private:
  TLanguageSettings saved_;
};

}  // namespace

bool IndexDefinitionHasChanged(const TIndexDefinition& a, const TIndexDefinition& b,
                               const std::vector<TFieldDefinition>& old_fields,
                               const std::vector<TFieldDefinition>& new_fields) {
  if (a.KeySize != b.KeySize || a.FieldCount != b.FieldCount || a.Descending != b.Descending ||
      a.CaseInsensitive != b.CaseInsensitive || a.Unique != b.Unique || a.Compression != b.Compression)
    return true;
  for (int i = 0; i < std::min<int>(a.FieldCount, kMaxKeyFields); ++i) {
    if (a.Fields[i] != b.Fields[i] || a.FieldDescending[i] != b.FieldDescending[i]) return true;
    const TFieldDefinition* was = ByNumber(old_fields, a.Fields[i]);
    const TFieldDefinition* now = ByNumber(new_fields, b.Fields[i]);
    if (was == nullptr || now == nullptr) RaiseError(err::kInvalidField, {}, std::to_string(a.Fields[i]));
    if (FieldDefinitionHasChanged(*was, *now)) return true;
  }
  return false;
}

namespace {

// How an old field's value reached the new record.
enum class TCarried { Whole, Changed, Failed };

// A converted value read back into the old field's type: the same value
// when nothing of it was lost. A text is the value's writing rather than
// the value, so a text read as a number or a date counts as whole.
bool ConvertsBack(const TFieldDefinition& from, const std::uint8_t* value, const TFieldDefinition& to,
                  const std::uint8_t* converted) {
  if (from.DataType == dtString) return true;
  std::uint8_t back[kConvertBufferSize + 5] = {};
  std::memcpy(back, converted, std::min<std::size_t>(to.PhysicalSize, kConvertBufferSize));
  if (!ConvertExpression(to.DataType, to.PhysicalSize, to.PhysicalDecimals, from.DataType, from.PhysicalSize,
                         from.PhysicalDecimals, back))
    return false;
  if (from.DataType == dtFloat) {
    double a, b;
    std::memcpy(&a, value, 8);
    std::memcpy(&b, back, 8);
    return a == b;
  }
  return std::memcmp(back, value, from.PhysicalSize) == 0;
}

// The old field's value carried into the new record: raw bytes when the
// two are alike, else through the conversion of the storage library.
// Failed (nothing stored) when the value does not convert: a number out of
// range, a text that is no value of the type or too long for the field;
// Changed (the converted value stored) when it converts into another value:
// a fraction rounded, a time of day or decimals cut off.
TCarried CarryValue(const TFieldDefinition& from, const std::uint8_t* old_record, const TFieldDefinition& to,
                    std::uint8_t* new_record) {
  const std::uint8_t* value = old_record + from.Offset + 1;
  if (from.DataType == to.DataType && from.PhysicalSize == to.PhysicalSize &&
      from.PhysicalDecimals == to.PhysicalDecimals) {
    new_record[to.Offset] = 1;
    std::memcpy(new_record + to.Offset + 1, value, from.PhysicalSize);
    return TCarried::Whole;
  }
  std::uint8_t buffer[kConvertBufferSize + 5] = {};
  std::memcpy(buffer, value, std::min<std::size_t>(from.PhysicalSize, kConvertBufferSize));
  if (!ConvertExpression(from.DataType, from.PhysicalSize, from.PhysicalDecimals, to.DataType, to.PhysicalSize,
                         to.PhysicalDecimals, buffer))
    return TCarried::Failed;
  new_record[to.Offset] = 1;
  std::memcpy(new_record + to.Offset + 1, buffer, to.PhysicalSize);
  return ConvertsBack(from, value, to, buffer) ? TCarried::Whole : TCarried::Changed;
}

}  // namespace

void TDataCursor::ResetFieldNumbers() {
  TDataFile& data = table_->DataFile();
  TIndexFile& index = table_->IndexFile();
  std::vector<std::uint16_t> renumber(kMaxFields + 1, 0);
  for (std::size_t i = 0; i < fields_.size(); ++i) renumber[fields_[i].FieldNumber] = static_cast<std::uint16_t>(i + 1);
  for (int slot = 0; slot <= index.GetIndexCount(); ++slot) {
    if (slot == 0 && index.GetNoPrimaryIndex()) continue;
    TIndexDefinition def = index.GetIndexDefinition(static_cast<std::uint8_t>(slot));
    bool changed = false;
    for (int k = 0; k < std::min<int>(def.FieldCount, kMaxKeyFields); ++k) {
      std::uint16_t to = def.Fields[k] <= kMaxFields ? renumber[def.Fields[k]] : 0;
      if (to != 0 && to != def.Fields[k]) {
        def.Fields[k] = to;
        changed = true;
      }
    }
    if (changed) index.UpdateIndexDefinition(static_cast<std::uint8_t>(slot), def);
  }
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    fields_[i].FieldNumber = static_cast<std::uint16_t>(i + 1);
    data.UpdateFieldDefinitionByPos(static_cast<int>(i + 1), fields_[i]);
  }
  table_->MarkWritten();
}

// A new field without a number takes one no old field has, so that it
// starts from its default instead of the values of the old field that
// happens to share its position.
void TDataCursor::NumberNewFields(std::vector<TFieldDefinition>& fields) const {
  std::uint16_t next = 0;
  for (const TFieldDefinition& f : fields_) next = std::max(next, f.FieldNumber);
  for (const TFieldDefinition& f : fields) next = std::max(next, f.FieldNumber);
  for (TFieldDefinition& f : fields)
    if (f.FieldNumber == 0) {
      if (next == 0xFFFF) Fail(err::kFieldLimits);
      f.FieldNumber = ++next;
    }
}

void TDataCursor::RestructureTable(const TRestructureRequest& request) {
  CheckNotOpen();
  CheckExclusive();
  CheckNotReadOnly();
  OpenCursor();
  ScopeExit close_again{[&] { CloseQuietly(); }};

  TDataFile& data = table_->DataFile();
  if (request.LastAutoIncValue < -1) Fail(err::kFieldLimits);
  const std::uint32_t last_id = request.LastAutoIncValue == -1 ? data.GetLastRecordID()
                                                               : static_cast<std::uint32_t>(request.LastAutoIncValue);
  TTableCreation creation;
  creation.Settings = request.Settings;
  creation.AllowEmptyPrimaryKey = request.AllowEmptyPrimaryKey;
  creation.Overwrite = true;
  creation.Indexes = request.Indexes;
  if (creation.Indexes.empty()) creation.Indexes.emplace_back();
  creation.IndexCount = static_cast<std::uint8_t>(std::min<std::size_t>(creation.Indexes.size() - 1, 255));
  std::vector<TFieldDefinition> fields = request.Fields;
  NumberNewFields(fields);
  VerifyStructureInformation(creation, fields);
  // Key fields name the new fields by their numbers; from here on by
  // position, as the files keep them.
  for (TIndexDefinition& d : creation.Indexes) {
    for (int k = 0; k < kMaxKeyFields && d.Fields[k] != 0; ++k) {
      auto it = std::find_if(fields.begin(), fields.end(), [&](auto& f) { return f.FieldNumber == d.Fields[k]; });
      if (it == fields.end()) RaiseError(err::kInvalidField, name_, std::to_string(d.Fields[k]));
      d.Fields[k] = static_cast<std::uint16_t>(it - fields.begin() + 1);
    }
  }
  VerifyIndexInformation(creation.Indexes, fields, creation.AllowEmptyPrimaryKey);

  const TDataHeader& header = data.GetHeader();
  bool rebuild = (header.Encrypted != 0) != request.Settings.Encrypted ||
                 header.BlobBlockSize() != (request.Settings.BlobBlockSize == 0 ? 512u : request.Settings.BlobBlockSize) ||
                 header.LanguageID != request.Settings.LanguageID || header.SortID != request.Settings.SortID ||
                 fields.size() != fields_.size();
  for (std::size_t i = 0; !rebuild && i < fields.size(); ++i) rebuild = FieldDefinitionHasChanged(fields_[i], fields[i]);
  if (rebuild) {
    RebuildTable(request, creation, fields, last_id);
    return;
  }

  const std::vector<TIndexDefinition> current = IndexDefinitions();
  const std::vector<TIndexDefinition>& wanted = creation.Indexes;
  bool indexes_change = current.size() != wanted.size();
  for (std::size_t p = 0; !indexes_change && p < wanted.size(); ++p)
    indexes_change = IndexDefinitionHasChanged(current[p], wanted[p], fields_, fields);
  if (indexes_change && !RebuildIndexesInPlace(wanted, request.NoBackup)) return;

  // Definitions and header.
  for (std::size_t i = 0; i < fields.size(); ++i) {
    TFieldDefinition def = fields[i];
    def.FieldNumber = fields_[i].FieldNumber;
    data.UpdateFieldDefinitionByPos(static_cast<int>(i + 1), def);
    fields_[i].Name = def.Name;
    fields_[i].Description = def.Description;
  }
  TIndexFile& index = table_->IndexFile();
  for (std::uint8_t p = 1; p <= index.GetIndexCount() && p < wanted.size(); ++p) index.UpdateIndexDefinition(p, wanted[p]);
  const std::uint32_t last = request.LastAutoIncValue == -1 ? last_id : std::max(last_id, HighestRecordID());
  data.UpdateHeader(request.Settings.Password, request.Settings.Description, last,
                    request.Settings.UserMajorVersion, request.Settings.UserMinorVersion);
  table_->MarkWritten();
}

bool TDataCursor::RebuildIndexesInPlace(const std::vector<TIndexDefinition>& wanted, bool no_backup) {
  TIndexFile& file = table_->IndexFile();
  TDataFile& data = table_->DataFile();
  table_->BackupIndex();
  bool stop_asking = false, go_on = true;
  std::vector<std::pair<std::uint32_t, std::uint8_t>> duplicates;
  try {
    const std::vector<TIndexDefinition> current = IndexDefinitions();
    const std::uint8_t old_count = file.GetIndexCount();
    const auto new_count = static_cast<std::uint8_t>(wanted.size() - 1);
    auto free_pages = [&](std::uint8_t slot) {
      if (slot == 0 && file.GetNoPrimaryIndex()) return;
      const TKeyComparator compare = ComparatorOf(slot);
      TIndexTree(file, slot, compare, this).FreeAllPages();
    };
    std::vector<std::uint8_t> marked;
    for (std::uint8_t p = old_count; p > new_count; --p) {
      free_pages(p);
      file.DeleteIndex(p, true);
    }
    for (std::uint8_t p = 0; p <= new_count; ++p) {
      if (p <= old_count && p < current.size() && !IndexDefinitionHasChanged(current[p], wanted[p], fields_, fields_))
        continue;
      if (p <= old_count) free_pages(p);
      marked.push_back(p);
      if (p == 0) {
        file.SetNoPrimaryIndex(wanted[0].FieldCount == 0);
        if (wanted[0].FieldCount != 0) file.SetIndexDefinition(0, wanted[0]);
      } else {
        file.SetIndexDefinition(p, wanted[p]);
      }
    }
    file.SetIndexCount(new_count);
    if (file.GetNoPrimaryIndex()) marked.erase(std::remove(marked.begin(), marked.end(), 0), marked.end());
    InternalSetIndexPos(0);

    const std::uint32_t used = data.GetPhysicalRecordsUsed();
    std::vector<std::uint8_t> record;
    for (std::uint32_t n = 1; go_on && !marked.empty() && n <= used; ++n) {
      if (ReadPhysicalRecord(n, record)) {
        std::vector<Key> keys;
        int refused = -1;
        for (std::size_t m = 0; m < marked.size(); ++m) {
          keys.push_back(KeyOf(marked[m], record.data()));
          const TIndexDefinition& d = file.GetIndexDefinition(marked[m]);
          const TKeyComparator compare = ComparatorOf(marked[m]);
          if (refused < 0 && d.Unique && TIndexTree(file, marked[m], compare, this).Search(keys.back().data()))
            refused = static_cast<int>(m);
        }
        if (refused >= 0) {
          if (!stop_asking) DoDataLost(dlKeyViolation, file.GetIndexDefinition(marked[refused]).Name, stop_asking, go_on);
          if (go_on) duplicates.emplace_back(n, marked[refused]);
        } else {
          for (std::size_t m = 0; m < marked.size(); ++m) {
            const TKeyComparator compare = ComparatorOf(marked[m]);
            TIndexTree(file, marked[m], compare, this).Insert(keys[m].data(), n);
          }
        }
      }
      DoRestructureProgress(n, ProgressPercent(n, used));
    }
    // Records go only once the work is sure to be kept.
    if (go_on)
      for (auto [n, slot] : duplicates) RemoveDuplicateRecord(n, slot);
  } catch (...) {
    // The index file as it was; the data file was not written.
    try {
      table_->RestoreIndex(false, true);
      table_->FreeBuffers(true, true);
      InternalSetIndexPos(0);
    } catch (...) {
    }
    throw;
  }
  if (!go_on) {
    table_->RestoreIndex(false, true);
    table_->FreeBuffers(true, true);
    InternalSetIndexPos(0);
    return false;
  }
  table_->RestoreIndex(true, no_backup);
  table_->MarkWritten();
  return true;
}

void TDataCursor::RemoveDuplicateRecord(std::uint32_t n, std::uint8_t index_pos) {
  RequireOpen();
  TRecord* record = FetchRecord(n, 1);
  const bool live = !record->Deleted();
  std::vector<std::uint8_t> old = record->Data;
  table_->DataFile().PutRecord(record);
  // A record already on the free chain is not linked again.
  if (!live) return;
  // Its keys go from every index that holds them.
  for (std::uint8_t slot : KeyedPositions()) {
    if (slot == index_pos) continue;
    const TKeyComparator compare = ComparatorOf(slot);
    TIndexTree(table_->IndexFile(), slot, compare, this).Remove(KeyOf(slot, old.data()).data());
  }
  Key system = KeyOf(kSystemSlot, old.data()), deleted = system;
  deleted[0] = 1;
  ReplaceSystemKey(system.data(), deleted.data(), n);
  ReleaseRecord(old, n);
  table_->MarkWritten();
}

std::uint32_t TDataCursor::HighestRecordID() {
  std::uint32_t highest = 0;
  std::vector<std::uint8_t> record;
  TDataFile& data = table_->DataFile();
  for (std::uint32_t n = 1; n <= data.GetPhysicalRecordsUsed(); ++n)
    if (ReadPhysicalRecord(n, record)) highest = std::max(highest, GetRecordID(record.data()));
  return highest;
}

void TDataCursor::RebuildTable(const TRestructureRequest& request, const TTableCreation& creation,
                               std::vector<TFieldDefinition>& fields, std::uint32_t last_id) {
  TDataSession* session = directory_->Session();
  const bool in_memory = table_->InMemory();
  TWorkDirectory work(session, in_memory, in_memory ? std::string() : session->GetPrivateDirectory());
  TSessionPassword password(session, rtl::Trim(request.Settings.Password), request.Settings.Encrypted);

  // The new table numbers its fields by position; `fields` keeps the
  // numbers that map the old fields.
  std::vector<TFieldDefinition> positioned = fields;
  for (std::size_t j = 0; j < positioned.size(); ++j) positioned[j].FieldNumber = static_cast<std::uint16_t>(j + 1);
  TWorkTable work_table(work, in_memory, creation, positioned);
  TDataCursor* rebuilt = &work_table.Cursor();

  // Where each old field goes (new position, 0: dropped).
  std::vector<int> target(fields_.size(), 0);
  for (std::size_t i = 0; i < fields_.size(); ++i)
    for (std::size_t j = 0; j < fields.size(); ++j)
      if (fields[j].FieldNumber == fields_[i].FieldNumber) target[i] = static_cast<int>(j + 1);

  bool stop_asking = false, go_on = true;
  auto lost = [&](TDataLossCause cause, const std::string& context) {
    if (!stop_asking) DoDataLost(cause, context, stop_asking, go_on);
  };
  TDataFile& data = table_->DataFile();
  TValueConversion conversion(request.Settings.LanguageID, request.Settings.SortID);
  std::vector<std::uint8_t> old_record, record(rebuilt->record_size_);
  std::uint32_t highest = 0;
  for (std::uint32_t n = 1; go_on && n <= data.GetPhysicalRecordsUsed(); ++n) {
    if (ReadPhysicalRecord(n, old_record)) {
      rebuilt->InitRecord(record.data());
      std::uint8_t id[4];
      std::memcpy(id, old_record.data() + kRecordIDOffset, 4);
      for (std::size_t i = 0; go_on && i < fields_.size(); ++i) {
        const TFieldDefinition& from = fields_[i];
        if (target[i] == 0) {
          lost(dlFieldDeletion, from.Name);
          continue;
        }
        const TFieldDefinition& to = rebuilt->fields_[static_cast<std::size_t>(target[i]) - 1];
        if (to.IsAutoIncrement()) {
          // The new auto-increment field carries the ID: an old integer's
          // value becomes it.
          if (from.DataType == dtInteger && from.TakesRecordBytes() && old_record[from.Offset] != 0)
            std::memcpy(id, old_record.data() + from.Offset + 1, 4);
          continue;
        }
        if (!from.TakesRecordBytes() || !to.TakesRecordBytes()) continue;
        if (old_record[from.Offset] == 0) {
          // A field that was blank stays blank: defaults fill new fields only.
          std::memset(record.data() + to.Offset, 0, std::size_t{to.PhysicalSize} + 1);
          continue;
        }
        if (from.DataType == dtBlob || to.DataType == dtBlob) {
          if (from.DataType != to.DataType) {
            lost(dlFieldConversion, from.Name);
            continue;
          }
          record[to.Offset] = 0;
          std::vector<std::uint8_t> content = ReadBlobContent(static_cast<int>(i + 1), old_record.data());
          if (!content.empty()) rebuilt->PutBlobContent(target[i], record.data(), content);
          continue;
        }
        if (CarryValue(from, old_record.data(), to, record.data()) != TCarried::Whole)
          lost(dlFieldConversion, from.Name);
      }
      if (!go_on) {
        rebuilt->FreeAllBlobs(true);
        break;
      }
      std::memcpy(record.data() + kRecordIDOffset, id, 4);
      try {
        rebuilt->AppendRecord(record.data());
        highest = std::max(highest, GetRecordID(record.data()));
      } catch (const EKORVEXEngineError& e) {
        rebuilt->FreeAllBlobs(true);
        const TEngineErrorCode code = e.ErrorCode();
        // A failing file is no loss of one record: the work ends, the
        // table unchanged.
        if (code == err::kReadError || code == err::kWriteError || code == err::kTableFull ||
            code == err::kLockFailure)
          throw;
        if (code == err::kDuplicateKey) lost(dlKeyViolation, GetErrorContext(2));
        else if (code == err::kBelowMinimum || code == err::kAboveMaximum || code == err::kValueRequired)
          lost(dlValidityCheckFail, GetErrorContext(0));
        else lost(dlUnknown, {});
      }
    }
    DoRestructureProgress(n, ProgressPercent(n, data.GetPhysicalRecordsUsed()));
  }
  if (!go_on) return;

  rebuilt->ResetFieldNumbers();
  rebuilt->table_->DataFile().SetNextFreeRecordID(std::max(last_id, highest));
  work_table.SwapInFor(*this, !request.NoBackup && !in_memory);
}

}  // namespace korvex
