// TDataCursor: whole-table copies: CopyTable, and the record copy that the
// rewrites (optimize, restructure) share.
#include <algorithm>
#include <cstring>

#include "platform/runtime/files.h"
#include "platform/runtime/sysutils.h"
#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/maintenance/maintenance_work.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/names.h"

namespace korvex {

// ---- reading and appending whole records ---------------------------------------

bool TDataCursor::ReadPhysicalRecord(std::uint32_t n, std::vector<std::uint8_t>& buffer) {
  TRecord* record = FetchRecord(n, 1);
  const bool live = !record->Deleted();
  if (live) buffer = record->Data;
  table_->DataFile().PutRecord(record);
  return live;
}

void TDataCursor::AppendCopyOf(TDataCursor& source, const std::uint8_t* from, const std::vector<int>& field_map) {
  std::vector<std::uint8_t> to(record_size_, 0);
  ClearRecord(to.data());
  try {
    for (std::size_t i = 0; i < field_map.size(); ++i) {
      if (field_map[i] == 0) continue;
      const TFieldDefinition& old_def = source.fields_[i];
      const TFieldDefinition& new_def = FieldAt(field_map[i]);
      if (!old_def.TakesRecordBytes() || from[old_def.Offset] == 0) continue;
      if (old_def.DataType == dtBlob) {
        std::vector<std::uint8_t> content = source.ReadBlobContent(static_cast<int>(i + 1), from);
        if (!content.empty()) PutBlobContent(field_map[i], to.data(), content);
        continue;
      }
      std::memcpy(to.data() + new_def.Offset, from + old_def.Offset, std::size_t{old_def.PhysicalSize} + 1);
    }
    PutRecordID(GetRecordID(from), to.data());
    AppendRecord(to.data());
  } catch (...) {
    FreeAllBlobs(true);
    throw;
  }
}

std::vector<TIndexDefinition> TDataCursor::IndexDefinitions() const {
  const TIndexFile& index = table_->IndexFile();
  std::vector<TIndexDefinition> all;
  for (std::uint8_t slot = 0; slot <= index.GetIndexCount(); ++slot) {
    TIndexDefinition def = slot == 0 && index.GetNoPrimaryIndex() ? TIndexDefinition{} : index.GetIndexDefinition(slot);
    def.Root = def.FreePage = 0;
    def.RemovalMark = 0;
    all.push_back(def);
  }
  return all;
}

void TDataCursor::CloseQuietly() noexcept {
  try {
    CloseCursor(false);
  } catch (...) {
  }
}

void TDataCursor::KeepLastRecordID(std::uint32_t last) {
  // As the source had it: appends with given IDs move the counter on by
  // one each, and IDs of deleted records are not handed out again.
  table_->DataFile().SetNextFreeRecordID(last);
}

// ---- CopyTable ---------------------------------------------------------------

void TDataCursor::CopyTable(const std::string& new_name, bool copy_indexes) {
  const bool was_open = open_;
  if (!was_open) OpenCursor();
  ScopeExit close_again{[&] {
    if (!was_open) CloseQuietly();
  }};

  // The records stay as they are for the whole copy (a dead writer's
  // journal is played back by the lock first).
  TTableReadLock lock(*table_);
  const bool in_memory = table_->InMemory();
  std::string target = EnsureFileExt(rtl::Trim(new_name), ".DAT");
  if (!ContainsDirectory(target) && !in_memory) target = directory_->Path() + target;
  TDataSession* session = directory_->Session();
  TWorkDirectory work(session, in_memory, in_memory ? std::string() : rtl::ExtractFilePath(target));

  TDataFile& data = table_->DataFile();
  TTableCreation creation = CreationLike(data);
  std::vector<TFieldDefinition> fields;
  std::vector<int> field_map(fields_.size(), 0);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (fields_[i].Hidden != 0) continue;
    fields.push_back(fields_[i]);
    // The fields left are numbered by position.
    fields.back().FieldNumber = static_cast<std::uint16_t>(fields.size());
    fields.back().Expression = nullptr;
    field_map[i] = static_cast<int>(fields.size());
  }
  // Indexes: all of them (but those over a left-out field, their key
  // fields renumbered like the fields), else no primary key and none.
  creation.AllowEmptyPrimaryKey = true;
  creation.Indexes.emplace_back();
  if (copy_indexes) {
    std::vector<TIndexDefinition> indexes = IndexDefinitions();
    for (std::size_t slot = 0; slot < indexes.size(); ++slot) {
      TIndexDefinition def = indexes[slot];
      bool kept = true;
      for (int k = 0; k < def.FieldCount; ++k) {
        const int to = def.Fields[k] >= 1 && def.Fields[k] <= field_map.size() ? field_map[def.Fields[k] - 1u] : 0;
        kept = kept && to != 0;
        def.Fields[k] = static_cast<std::uint16_t>(to);
      }
      if (!kept) continue;
      if (slot == 0) creation.Indexes[0] = def;
      else creation.Indexes.push_back(def);
    }
  }
  creation.IndexCount = static_cast<std::uint8_t>(creation.Indexes.size() - 1);
  TSessionPassword password(session, creation.Settings.Password, creation.Settings.Encrypted);

  TDataCursor copy(work.get());
  copy.SetTableName(in_memory ? target : rtl::ExtractFileName(target));
  copy.SetExclusive(true);
  copy.SetInMemory(in_memory);
  copy.CreateTable(creation, fields);
  copy.OpenCursor();
  copy.suppress_auto_inc_ = true;  // the records keep their IDs

  std::vector<std::uint8_t> record;
  std::uint32_t highest = 0;
  for (std::uint32_t n = 1; n <= data.GetPhysicalRecordsUsed(); ++n) {
    if (ReadPhysicalRecord(n, record)) {
      copy.AppendCopyOf(*this, record.data(), field_map);
      highest = std::max(highest, GetRecordID(record.data()));
    }
    DoCopyProgress(n, ProgressPercent(n, data.GetPhysicalRecordsUsed()));
  }
  copy.KeepLastRecordID(std::max(data.GetLastRecordID(), highest));
  copy.CloseCursor(false);
}

// ---- OptimizeTable ------------------------------------------------------------

void TDataCursor::OptimizeTable(const std::string& index_name, bool no_backup) {
  CheckNotOpen();
  CheckExclusive();
  CheckNotReadOnly();
  OpenCursor();
  ScopeExit close_again{[&] { CloseQuietly(); }};
  SetIndexName(index_name);

  TDataFile& data = table_->DataFile();
  const bool in_memory = table_->InMemory();
  TDataSession* session = directory_->Session();
  TWorkDirectory work(session, in_memory, in_memory ? std::string() : session->GetPrivateDirectory());
  TTableCreation creation = CreationLike(data);
  creation.AllowEmptyPrimaryKey = true;
  creation.Indexes = IndexDefinitions();
  creation.IndexCount = static_cast<std::uint8_t>(creation.Indexes.size() - 1);
  std::vector<TFieldDefinition> fields = fields_;
  for (TFieldDefinition& f : fields) f.Expression = nullptr;
  TSessionPassword password(session, creation.Settings.Password, creation.Settings.Encrypted);
  TWorkTable rewritten(work, in_memory, creation, fields);

  std::vector<int> field_map(fields_.size());
  for (std::size_t i = 0; i < field_map.size(); ++i) field_map[i] = static_cast<int>(i + 1);
  std::vector<std::uint8_t> record(record_size_);
  std::uint32_t copied = 0, highest = 0;
  SetToBegin();
  while (GetNextRecord(record.data()) == 0) {
    rewritten.Cursor().AppendCopyOf(*this, record.data(), field_map);
    highest = std::max(highest, GetRecordID(record.data()));
    ++copied;
    DoOptimizeProgress(copied, ProgressPercent(copied, data.GetPhysicalRecordsUsed()));
  }
  rewritten.Cursor().KeepLastRecordID(std::max(data.GetLastRecordID(), highest));
  rewritten.SwapInFor(*this, !no_backup && !in_memory);
}

}  // namespace korvex
