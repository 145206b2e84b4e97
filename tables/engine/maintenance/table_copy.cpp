#include "tables/engine/maintenance/table_copy.h"

#include <algorithm>

#include "platform/runtime/files.h"
#include "platform/runtime/sysutils.h"
#include "tables/engine/base/scope_exit.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/maintenance/maintenance_work.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/names.h"

namespace korvex {

// ---- CopyTable ---------------------------------------------------------------

TTableCopy::TTableCopy(TDataCursor& source, const std::string& new_name, bool copy_indexes)
    : source_(source), new_name_(new_name), copy_indexes_(copy_indexes) {}

void TTableCopy::Run() {
  const bool was_open = source_.IsOpen();
  if (!was_open) source_.OpenCursor();
  ScopeExit close_again{[&] {
    if (!was_open) CloseQuietly(source_);
  }};

  // The records stay as they are for the whole copy (a dead writer's
  // journal is played back by the lock first); the table's internal read
  // lock, unless already held (or not needed: exclusive or read-only files).
  TDataTable& table = *source_.Table();
  const bool locked_before = table.InternalReadLockHeld();
  table.ReadLockTable();
  const bool took_lock = !locked_before && table.InternalReadLockHeld();
  // A copy made whole is not reported failed by the unlock after it.
  ScopeExit unlock{[&] {
    if (!took_lock) return;
    try {
      table.ReadUnlockTable();
    } catch (...) {
    }
  }};
  const bool in_memory = table.InMemory();
  TDataDirectory* directory = source_.Directory();
  std::string target = EnsureFileExt(rtl::Trim(new_name_), ".DAT");
  if (!ContainsDirectory(target) && !in_memory) target = directory->Path() + target;
  TDataSession* session = directory->Session();
  TWorkDirectory work(session, in_memory, in_memory ? std::string() : rtl::ExtractFilePath(target));

  std::vector<TFieldDefinition> fields;
  TTableCreation creation = Creation(fields);
  TSessionPassword password(session, creation.Settings.Password, creation.Settings.Encrypted);

  TDataCursor copy(work.get());
  copy.SetTableName(in_memory ? target : rtl::ExtractFileName(target));
  copy.SetExclusive(true);
  copy.SetInMemory(in_memory);
  // A copy that fails (a full disk) is no copy: it goes, unless the
  // target was refused for being in use (the source itself, say).
  auto remove_target = [&] {
    CloseQuietly(copy);
    RemoveTableFiles(work.get(), copy.GetTableName(), in_memory);
  };
  try {
    copy.CreateTable(creation, fields);
  } catch (const EKORVEXEngineError& e) {
    if (e.ErrorCode() != err::kAccessDenied) remove_target();
    throw;
  } catch (...) {
    remove_target();
    throw;
  }
  try {
    copy.OpenCursor();
    copy.KeepGivenRecordIDs();
    CopyRecords(copy);
    copy.CloseCursor(false);
  } catch (...) {
    remove_target();
    throw;
  }
}

TTableCreation TTableCopy::Creation(std::vector<TFieldDefinition>& fields) {
  TTableCreation creation = CreationLike(source_.Table()->DataFile());
  const std::vector<TFieldDefinition> view = ViewFields(source_);
  field_map_.assign(view.size(), 0);
  for (std::size_t i = 0; i < view.size(); ++i) {
    if (view[i].Hidden != 0) continue;
    fields.push_back(view[i]);
    // The fields left are numbered by position.
    fields.back().FieldNumber = static_cast<std::uint16_t>(fields.size());
    fields.back().Expression = nullptr;
    field_map_[i] = static_cast<int>(fields.size());
  }
  // Indexes: all of them (but those over a left-out field, their key
  // fields renumbered like the fields), else no primary key and none.
  creation.AllowEmptyPrimaryKey = true;
  creation.Indexes.emplace_back();
  if (copy_indexes_) {
    std::vector<TIndexDefinition> indexes = IndexDefinitions(source_);
    for (std::size_t slot = 0; slot < indexes.size(); ++slot) {
      TIndexDefinition def = indexes[slot];
      bool kept = true;
      for (int k = 0; k < def.FieldCount; ++k) {
        const int to = def.Fields[k] >= 1 && def.Fields[k] <= field_map_.size() ? field_map_[def.Fields[k] - 1u] : 0;
        kept = kept && to != 0;
        def.Fields[k] = static_cast<std::uint16_t>(to);
      }
      if (!kept) continue;
      if (slot == 0) creation.Indexes[0] = def;
      else creation.Indexes.push_back(def);
    }
  }
  creation.IndexCount = static_cast<std::uint8_t>(creation.Indexes.size() - 1);
  return creation;
}

void TTableCopy::CopyRecords(TDataCursor& copy) {
  const TDataFile& data = source_.Table()->DataFile();
  std::vector<std::uint8_t> record;
  std::uint32_t highest = 0;
  for (std::uint32_t n = 1; n <= data.GetPhysicalRecordsUsed(); ++n) {
    if (source_.ReadPhysicalRecord(n, record)) {
      AppendCopyOf(copy, source_, record.data(), field_map_);
      highest = std::max(highest, TDataCursor::GetRecordID(record.data()));
    }
    source_.DoCopyProgress(n, ProgressPercent(n, data.GetPhysicalRecordsUsed()));
  }
  KeepLastRecordID(copy, std::max(data.GetLastRecordID(), highest));
}

// ---- OptimizeTable ------------------------------------------------------------

void OptimizeTable(TDataCursor& cursor, const std::string& index_name, bool no_backup) {
  cursor.CheckNotOpen();
  cursor.CheckExclusive();
  cursor.CheckNotReadOnly();
  cursor.OpenCursor();
  ScopeExit close_again{[&] { CloseQuietly(cursor); }};
  cursor.SetIndexName(index_name);

  TDataFile& data = cursor.Table()->DataFile();
  const bool in_memory = cursor.Table()->InMemory();
  TDataSession* session = cursor.Directory()->Session();
  TWorkDirectory work(session, in_memory, in_memory ? std::string() : session->GetPrivateDirectory());
  TTableCreation creation = CreationLike(data);
  creation.AllowEmptyPrimaryKey = true;
  creation.Indexes = IndexDefinitions(cursor);
  creation.IndexCount = static_cast<std::uint8_t>(creation.Indexes.size() - 1);
  std::vector<TFieldDefinition> fields = ViewFields(cursor);
  for (TFieldDefinition& f : fields) f.Expression = nullptr;
  TSessionPassword password(session, creation.Settings.Password, creation.Settings.Encrypted);
  TWorkTable rewritten(work, in_memory, creation, fields);

  std::vector<int> field_map(fields.size());
  for (std::size_t i = 0; i < field_map.size(); ++i) field_map[i] = static_cast<int>(i + 1);
  std::vector<std::uint8_t> record(cursor.GetRecordSize());
  std::uint32_t copied = 0, highest = 0;
  cursor.SetToBegin();
  while (cursor.GetNextRecord(record.data()) == 0) {
    AppendCopyOf(rewritten.Cursor(), cursor, record.data(), field_map);
    highest = std::max(highest, TDataCursor::GetRecordID(record.data()));
    ++copied;
    cursor.DoOptimizeProgress(copied, ProgressPercent(copied, data.GetPhysicalRecordsUsed()));
  }
  KeepLastRecordID(rewritten.Cursor(), std::max(data.GetLastRecordID(), highest));
  rewritten.SwapInFor(cursor, !no_backup && !in_memory);
}

}  // namespace korvex
