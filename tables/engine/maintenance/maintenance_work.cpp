#include "tables/engine/maintenance/maintenance_work.h"

#include <algorithm>
#include <cstring>

#include "tables/lib/fieldtypes.h"
#include "tables/engine/maintenance/table_swap.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/file_handler.h"
#include "tables/lib/names.h"

namespace korvex {

TWorkDirectory::TWorkDirectory(TDataSession* session, bool in_memory, const std::string& path)
    : session_(session), directory_(session->OpenDataDirectory(in_memory ? "MEMORY" : "WORK", path)) {}

TWorkDirectory::~TWorkDirectory() { session_->CloseDataDirectory(directory_); }

TSessionPassword::TSessionPassword(TDataSession* session, const std::string& password, bool needed)
    : session_(session), password_(password), added_(needed && !session->CheckForPassword(password)) {
  if (added_) session_->AddPassword(password_);
}

TSessionPassword::~TSessionPassword() {
  if (added_) session_->DeletePassword(password_);
}

TTableCreation CreationLike(const TDataFile& data) {
  TTableCreation creation;
  TDataFileSettings& s = creation.Settings;
  s.LanguageID = data.GetLanguageID();
  s.SortID = data.GetSortID();
  s.UserMajorVersion = data.GetUserMajorVersion();
  s.UserMinorVersion = data.GetUserMinorVersion();
  s.Encrypted = data.GetEncrypted();
  s.Password = data.GetPassword();
  s.Description = data.GetDescription();
  s.BlobBlockSize = data.GetHeader().BlobBlockSizeRaw;
  creation.Overwrite = true;
  return creation;
}

std::vector<TIndexDefinition> IndexDefinitions(const TDataCursor& cursor) {
  const TIndexFile& index = cursor.Table()->IndexFile();
  std::vector<TIndexDefinition> all;
  for (std::uint8_t slot = 0; slot <= index.GetIndexCount(); ++slot) {
    TIndexDefinition def = slot == 0 && index.GetNoPrimaryIndex() ? TIndexDefinition{} : index.GetIndexDefinition(slot);
    def.Root = def.FreePage = 0;
    def.RemovalMark = 0;
    all.push_back(def);
  }
  return all;
}

std::vector<TFieldDefinition> ViewFields(const TDataCursor& cursor) {
  std::vector<TFieldDefinition> fields;
  for (int i = 1; i <= cursor.GetFieldCount(); ++i) fields.push_back(cursor.GetFieldDefinitionByPos(i));
  return fields;
}

std::uint32_t HighestRecordID(TDataCursor& cursor) {
  std::uint32_t highest = 0;
  std::vector<std::uint8_t> record;
  const TDataFile& data = cursor.Table()->DataFile();
  for (std::uint32_t n = 1; n <= data.GetPhysicalRecordsUsed(); ++n)
    if (cursor.ReadPhysicalRecord(n, record)) highest = std::max(highest, TDataCursor::GetRecordID(record.data()));
  return highest;
}

void CloseQuietly(TDataCursor& cursor) noexcept {
  try {
    cursor.CloseCursor(false);
  } catch (...) {
  }
}

void AppendCopyOf(TDataCursor& target, TDataCursor& source, const std::uint8_t* from,
                  const std::vector<int>& field_map) {
  std::vector<std::uint8_t> to(target.GetRecordSize(), 0);
  target.ClearRecord(to.data());
  try {
    for (std::size_t i = 0; i < field_map.size(); ++i) {
      if (field_map[i] == 0) continue;
      const TFieldDefinition& old_def = source.GetFieldDefinitionByPos(static_cast<int>(i + 1));
      const TFieldDefinition& new_def = target.GetFieldDefinitionByPos(field_map[i]);
      if (!old_def.TakesRecordBytes() || from[old_def.Offset] == 0) continue;
      if (old_def.DataType == dtBlob) {
        std::vector<std::uint8_t> content = source.ReadBlobContent(static_cast<int>(i + 1), from);
        if (!content.empty()) target.PutBlobContent(field_map[i], to.data(), content);
        continue;
      }
      std::memcpy(to.data() + new_def.Offset, from + old_def.Offset, std::size_t{old_def.PhysicalSize} + 1);
    }
    TDataCursor::PutRecordID(TDataCursor::GetRecordID(from), to.data());
    target.AppendRecord(to.data());
  } catch (...) {
    target.FreeAllBlobs(true);
    throw;
  }
}

void KeepLastRecordID(TDataCursor& cursor, std::uint32_t last) {
  // As the source had it: appends with given IDs move the counter on by
  // one each, and IDs of deleted records are not handed out again.
  cursor.Table()->DataFile().SetNextFreeRecordID(last);
}

// Whatever files a temporary table left, failed half-way or not.
void RemoveTableFiles(TDataDirectory* directory, const std::string& name, bool in_memory) noexcept {
  try {
    if (directory->DeleteDataTable(name, in_memory) == 0) return;
  } catch (...) {
  }
  const std::string base = in_memory ? ExtractFileRoot(name) : directory->Path() + ExtractFileRoot(name);
  for (const char* ext : {".DAT", ".IDX", ".BLB", ".JNL"}) {
    TFileHandler file;
    file.SetFileName(base + ext);
    file.SetInMemory(in_memory);
    try {
      if (file.Exists()) file.DeleteFile();
    } catch (...) {
    }
  }
}

TWorkTable::TWorkTable(TWorkDirectory& work, bool in_memory, const TTableCreation& creation,
                       std::vector<TFieldDefinition>& fields)
    : work_(work),
      in_memory_(in_memory),
      name_(work.get()->GetTempDataTableName(in_memory)),
      claim_(in_memory ? nullptr : std::make_unique<TWorkClaim>(work.get()->Path() + ExtractFileRoot(name_))) {
  cursor_ = std::make_unique<TDataCursor>(work.get());
  cursor_->SetTableName(name_);
  cursor_->SetExclusive(true);
  cursor_->SetInMemory(in_memory);
  try {
    cursor_->CreateTable(creation, fields);
    // A table being built is no table to check: a restructure's fields
    // keep their numbers until the swap.
    cursor_->SetRestructureMode(true);
    cursor_->OpenCursor();
  } catch (...) {
    CloseQuietly(*cursor_);
    RemoveTableFiles(work_.get(), name_, in_memory_);
    throw;
  }
  cursor_->KeepGivenRecordIDs();
}

TWorkTable::~TWorkTable() {
  if (swapped_) return;
  // Its closing flush may fail as the work did (a full disk): the table
  // goes all the same.
  CloseQuietly(*cursor_);
  RemoveTableFiles(work_.get(), name_, in_memory_);
}

void TWorkTable::SwapInFor(TDataCursor& source, bool keep_backup) {
  const TTableFileSet rewritten{ExtractFileRoot(cursor_->Table()->DataFile().FileName()), in_memory_};
  const TTableFileSet table{ExtractFileRoot(source.Table()->DataFile().FileName()), in_memory_};
  cursor_->CloseCursor(false);
  source.CloseCursor(false);
  if (claim_) claim_->Note(table.base);
  SwapInRewrittenTable(rewritten, table, keep_backup);
  swapped_ = true;
}

}  // namespace korvex
