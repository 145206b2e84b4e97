// RestructureTable: a new structure for a table. A change of
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
  // A time of day given a date has a day it never had.
  if (from.DataType == dtTime && to.DataType == dtTimeStamp) return false;
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
// a fraction rounded, a time of day or decimals cut off, a time of day
// given a day as a timestamp.
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

void RenumberFieldsByPosition(TDataCursor& cursor) {
  TDataFile& data = cursor.Table()->DataFile();
  TIndexFile& index = cursor.Table()->IndexFile();
  const std::vector<TFieldDefinition> fields = ViewFields(cursor);
  std::vector<std::uint16_t> renumber(kMaxFields + 1, 0);
  for (std::size_t i = 0; i < fields.size(); ++i) renumber[fields[i].FieldNumber] = static_cast<std::uint16_t>(i + 1);
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
  for (std::size_t i = 0; i < fields.size(); ++i) {
    TFieldDefinition def = fields[i];
    def.FieldNumber = static_cast<std::uint16_t>(i + 1);
    cursor.UpdateFieldDefinitionByPos(static_cast<int>(i + 1), def);
    data.UpdateFieldDefinitionByPos(static_cast<int>(i + 1), def);
  }
  cursor.Table()->MarkWritten();
}

TTableRestructure::TTableRestructure(TDataCursor& cursor, const TRestructureRequest& request)
    : cursor_(cursor), request_(request) {}

// A new field without a number takes one no old field has, so that it
// starts from its default instead of the values of the old field that
// happens to share its position.
void TTableRestructure::NumberNewFields(std::vector<TFieldDefinition>& fields) const {
  std::uint16_t next = 0;
  for (const TFieldDefinition& f : old_fields_) next = std::max(next, f.FieldNumber);
  for (const TFieldDefinition& f : fields) next = std::max(next, f.FieldNumber);
  for (TFieldDefinition& f : fields)
    if (f.FieldNumber == 0) {
      if (next == 0xFFFF) RaiseError(err::kFieldLimits, cursor_.GetTableName());
      f.FieldNumber = ++next;
    }
}

void TTableRestructure::Lost(TDataLossCause cause, const std::string& context) {
  if (!stop_asking_) cursor_.DoDataLost(cause, context, stop_asking_, go_on_);
}

void TTableRestructure::Run() {
  cursor_.CheckNotOpen();
  cursor_.CheckExclusive();
  cursor_.CheckNotReadOnly();
  cursor_.OpenCursor();
  ScopeExit close_again{[&] { CloseQuietly(cursor_); }};
  old_fields_ = ViewFields(cursor_);

  TDataFile& data = cursor_.Table()->DataFile();
  if (request_.LastAutoIncValue < -1) RaiseError(err::kFieldLimits, cursor_.GetTableName());
  const std::uint32_t last_id = request_.LastAutoIncValue == -1 ? data.GetLastRecordID()
                                                                : static_cast<std::uint32_t>(request_.LastAutoIncValue);
  TTableCreation creation;
  creation.Settings = request_.Settings;
  creation.AllowEmptyPrimaryKey = request_.AllowEmptyPrimaryKey;
  creation.Overwrite = true;
  creation.Indexes = request_.Indexes;
  if (creation.Indexes.empty()) creation.Indexes.emplace_back();
  creation.IndexCount = static_cast<std::uint8_t>(std::min<std::size_t>(creation.Indexes.size() - 1, 255));
  std::vector<TFieldDefinition> fields = request_.Fields;
  NumberNewFields(fields);
  cursor_.VerifyStructureInformation(creation, fields);
  // Key fields name the new fields by their numbers; from here on by
  // position, as the files keep them.
  for (TIndexDefinition& d : creation.Indexes) {
    for (int k = 0; k < kMaxKeyFields && d.Fields[k] != 0; ++k) {
      auto it = std::find_if(fields.begin(), fields.end(), [&](auto& f) { return f.FieldNumber == d.Fields[k]; });
      if (it == fields.end()) RaiseError(err::kInvalidField, cursor_.GetTableName(), std::to_string(d.Fields[k]));
      d.Fields[k] = static_cast<std::uint16_t>(it - fields.begin() + 1);
    }
  }
  cursor_.VerifyIndexInformation(creation.Indexes, fields, creation.AllowEmptyPrimaryKey);

  const TDataHeader& header = data.GetHeader();
  const TDataFileSettings& settings = request_.Settings;
  bool rebuild = (header.Encrypted != 0) != settings.Encrypted ||
                 header.BlobBlockSize() != (settings.BlobBlockSize == 0 ? 512u : settings.BlobBlockSize) ||
                 header.LanguageID != settings.LanguageID || header.SortID != settings.SortID ||
                 fields.size() != old_fields_.size();
  for (std::size_t i = 0; !rebuild && i < fields.size(); ++i)
    rebuild = FieldDefinitionHasChanged(old_fields_[i], fields[i]);
  if (rebuild) {
    Rebuild(creation, fields, last_id);
    return;
  }

  const std::vector<TIndexDefinition> current = IndexDefinitions(cursor_);
  const std::vector<TIndexDefinition>& wanted = creation.Indexes;
  bool indexes_change = current.size() != wanted.size();
  for (std::size_t p = 0; !indexes_change && p < wanted.size(); ++p)
    indexes_change = IndexDefinitionHasChanged(current[p], wanted[p], old_fields_, fields);
  if (indexes_change && !RebuildIndexesInPlace(wanted)) return;
  UpdateDefinitions(fields, wanted, last_id);
}

void TTableRestructure::UpdateDefinitions(const std::vector<TFieldDefinition>& fields,
                                          const std::vector<TIndexDefinition>& wanted, std::uint32_t last_id) {
  TDataFile& data = cursor_.Table()->DataFile();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    TFieldDefinition def = fields[i];
    def.FieldNumber = old_fields_[i].FieldNumber;
    data.UpdateFieldDefinitionByPos(static_cast<int>(i + 1), def);
    TFieldDefinition viewed = old_fields_[i];
    viewed.Name = def.Name;
    viewed.Description = def.Description;
    cursor_.UpdateFieldDefinitionByPos(static_cast<int>(i + 1), viewed);
  }
  TIndexFile& index = cursor_.Table()->IndexFile();
  for (std::uint8_t p = 1; p <= index.GetIndexCount() && p < wanted.size(); ++p)
    index.UpdateIndexDefinition(p, wanted[p]);
  const std::uint32_t last = request_.LastAutoIncValue == -1 ? last_id : std::max(last_id, HighestRecordID(cursor_));
  data.UpdateHeader(request_.Settings.Password, request_.Settings.Description, last,
                    request_.Settings.UserMajorVersion, request_.Settings.UserMinorVersion);
  cursor_.Table()->MarkWritten();
}

bool TTableRestructure::RebuildIndexesInPlace(const std::vector<TIndexDefinition>& wanted) {
  TDataTable& table = *cursor_.Table();
  TIndexFile& file = table.IndexFile();
  table.BackupIndex();
  std::vector<std::pair<std::uint32_t, std::uint8_t>> duplicates;
  // The index file as it was; the data file was not written.
  auto put_back = [&] {
    table.RestoreIndex(false, true);
    table.FreeBuffers(true, true);
    cursor_.ResetToPrimaryIndex();
  };
  try {
    const std::vector<std::uint8_t> marked = RedefineIndexes(wanted);
    const std::uint32_t used = table.DataFile().GetPhysicalRecordsUsed();
    std::vector<std::uint8_t> record;
    for (std::uint32_t n = 1; go_on_ && !marked.empty() && n <= used; ++n) {
      if (cursor_.ReadPhysicalRecord(n, record)) {
        std::vector<std::vector<std::uint8_t>> keys;
        int refused = -1;
        for (std::size_t m = 0; m < marked.size(); ++m) {
          keys.push_back(cursor_.KeyOf(marked[m], record.data()));
          const TIndexDefinition& d = file.GetIndexDefinition(marked[m]);
          const TKeyComparator compare = cursor_.ComparatorOf(marked[m]);
          if (refused < 0 && d.Unique && TIndexTree(file, marked[m], compare, &cursor_).Search(keys.back().data()))
            refused = static_cast<int>(m);
        }
        if (refused >= 0) {
          Lost(dlKeyViolation, file.GetIndexDefinition(marked[refused]).Name);
          if (go_on_) duplicates.emplace_back(n, marked[refused]);
        } else {
          for (std::size_t m = 0; m < marked.size(); ++m) {
            const TKeyComparator compare = cursor_.ComparatorOf(marked[m]);
            TIndexTree(file, marked[m], compare, &cursor_).Insert(keys[m].data(), n);
          }
        }
      }
      cursor_.DoRestructureProgress(n, ProgressPercent(n, used));
    }
    // Records go only once the work is sure to be kept.
    if (go_on_)
      for (auto [n, slot] : duplicates) cursor_.RemoveDuplicateRecord(n, slot);
  } catch (...) {
    try {
      put_back();
    } catch (...) {
    }
    throw;
  }
  if (!go_on_) {
    put_back();
    return false;
  }
  table.RestoreIndex(true, request_.NoBackup);
  table.MarkWritten();
  return true;
}

std::vector<std::uint8_t> TTableRestructure::RedefineIndexes(const std::vector<TIndexDefinition>& wanted) {
  TIndexFile& file = cursor_.Table()->IndexFile();
  const std::vector<TIndexDefinition> current = IndexDefinitions(cursor_);
  const std::uint8_t old_count = file.GetIndexCount();
  const auto new_count = static_cast<std::uint8_t>(wanted.size() - 1);
  auto free_pages = [&](std::uint8_t slot) {
    if (slot == 0 && file.GetNoPrimaryIndex()) return;
    const TKeyComparator compare = cursor_.ComparatorOf(slot);
    TIndexTree(file, slot, compare, &cursor_).FreeAllPages();
  };
  std::vector<std::uint8_t> marked;
  for (std::uint8_t p = old_count; p > new_count; --p) {
    free_pages(p);
    file.DeleteIndex(p, true);
  }
  for (std::uint8_t p = 0; p <= new_count; ++p) {
    if (p <= old_count && p < current.size() &&
        !IndexDefinitionHasChanged(current[p], wanted[p], old_fields_, old_fields_))
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
  cursor_.ResetToPrimaryIndex();
  return marked;
}

void TTableRestructure::Rebuild(const TTableCreation& creation, std::vector<TFieldDefinition>& fields,
                                std::uint32_t last_id) {
  TDataSession* session = cursor_.Directory()->Session();
  const bool in_memory = cursor_.Table()->InMemory();
  TWorkDirectory work(session, in_memory, in_memory ? std::string() : session->GetPrivateDirectory());
  TSessionPassword password(session, rtl::Trim(request_.Settings.Password), request_.Settings.Encrypted);

  // The new table numbers its fields by position; `fields` keeps the
  // numbers that map the old fields.
  std::vector<TFieldDefinition> positioned = fields;
  for (std::size_t j = 0; j < positioned.size(); ++j) positioned[j].FieldNumber = static_cast<std::uint16_t>(j + 1);
  TWorkTable work_table(work, in_memory, creation, positioned);
  TDataCursor& rebuilt = work_table.Cursor();

  // Where each old field goes (new position, 0: dropped).
  std::vector<int> target(old_fields_.size(), 0);
  for (std::size_t i = 0; i < old_fields_.size(); ++i)
    for (std::size_t j = 0; j < fields.size(); ++j)
      if (fields[j].FieldNumber == old_fields_[i].FieldNumber) target[i] = static_cast<int>(j + 1);

  // Values convert between field types under the new table's language.
  LockLanguageSettings();
  TLanguageSettings saved, language;
  GetLanguageSettings(saved);
  GetDefaultLanguageSettings(request_.Settings.LanguageID, request_.Settings.SortID, language);
  SetLanguageSettings(language);
  ScopeExit restore_language{[&] {
    SetLanguageSettings(saved);
    UnlockLanguageSettings();
  }};

  const TDataFile& data = cursor_.Table()->DataFile();
  std::vector<std::uint8_t> old_record, record(rebuilt.GetRecordSize());
  std::uint32_t highest = 0;
  for (std::uint32_t n = 1; go_on_ && n <= data.GetPhysicalRecordsUsed(); ++n) {
    if (cursor_.ReadPhysicalRecord(n, old_record)) {
      rebuilt.InitRecord(record.data());
      if (!CarryFields(rebuilt, old_record, record, target)) {
        rebuilt.FreeAllBlobs(true);
        break;
      }
      AppendCarried(rebuilt, record, highest);
    }
    cursor_.DoRestructureProgress(n, ProgressPercent(n, data.GetPhysicalRecordsUsed()));
  }
  if (!go_on_) return;

  RenumberFieldsByPosition(rebuilt);
  rebuilt.Table()->DataFile().SetNextFreeRecordID(std::max(last_id, highest));
  work_table.SwapInFor(cursor_, !request_.NoBackup && !in_memory);
}

bool TTableRestructure::CarryFields(TDataCursor& rebuilt, const std::vector<std::uint8_t>& old_record,
                                    std::vector<std::uint8_t>& record, const std::vector<int>& target) {
  std::uint8_t id[4];
  std::memcpy(id, old_record.data() + kRecordIDOffset, 4);
  for (std::size_t i = 0; go_on_ && i < old_fields_.size(); ++i) {
    const TFieldDefinition& from = old_fields_[i];
    if (target[i] == 0) {
      Lost(dlFieldDeletion, from.Name);
      continue;
    }
    const TFieldDefinition& to = rebuilt.GetFieldDefinitionByPos(target[i]);
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
        Lost(dlFieldConversion, from.Name);
        continue;
      }
      record[to.Offset] = 0;
      std::vector<std::uint8_t> content = cursor_.ReadBlobContent(static_cast<int>(i + 1), old_record.data());
      if (!content.empty()) rebuilt.PutBlobContent(target[i], record.data(), content);
      continue;
    }
    if (CarryValue(from, old_record.data(), to, record.data()) != TCarried::Whole) Lost(dlFieldConversion, from.Name);
  }
  if (!go_on_) return false;
  std::memcpy(record.data() + kRecordIDOffset, id, 4);
  return true;
}

void TTableRestructure::AppendCarried(TDataCursor& rebuilt, std::vector<std::uint8_t>& record,
                                      std::uint32_t& highest) {
  try {
    rebuilt.AppendRecord(record.data());
    highest = std::max(highest, TDataCursor::GetRecordID(record.data()));
  } catch (const EKORVEXEngineError& e) {
    rebuilt.FreeAllBlobs(true);
    const TEngineErrorCode code = e.ErrorCode();
    // A failing file is no loss of one record: the work ends, the table
    // unchanged.
    if (code == err::kReadError || code == err::kWriteError || code == err::kTableFull || code == err::kLockFailure)
      throw;
    if (code == err::kDuplicateKey) Lost(dlKeyViolation, GetErrorContext(2));
    else if (code == err::kBelowMinimum || code == err::kAboveMaximum || code == err::kValueRequired)
      Lost(dlValidityCheckFail, GetErrorContext(0));
    else Lost(dlUnknown, {});
  }
}

}  // namespace korvex
