#include "tables/engine/maintenance/maintenance_work.h"

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

namespace {

// Whatever files a temporary table left, failed half-way or not.
void RemoveLeftovers(TDataDirectory* directory, const std::string& name, bool in_memory) {
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

}  // namespace

TWorkTable::TWorkTable(TWorkDirectory& work, bool in_memory, const TTableCreation& creation,
                       std::vector<TFieldDefinition>& fields)
    : work_(work), in_memory_(in_memory), name_(work.get()->GetTempDataTableName(in_memory)) {
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
    cursor_->CloseQuietly();
    RemoveLeftovers(work_.get(), name_, in_memory_);
    throw;
  }
  cursor_->suppress_auto_inc_ = true;
}

TWorkTable::~TWorkTable() {
  if (swapped_) return;
  // Its closing flush may fail as the work did (a full disk): the table
  // goes all the same.
  cursor_->CloseQuietly();
  RemoveLeftovers(work_.get(), name_, in_memory_);
}

void TWorkTable::SwapInFor(TDataCursor& source, bool keep_backup) {
  const TTableFileSet rewritten{ExtractFileRoot(cursor_->table_->DataFile().FileName()), in_memory_};
  const TTableFileSet table{ExtractFileRoot(source.table_->DataFile().FileName()), in_memory_};
  cursor_->CloseCursor(false);
  source.CloseCursor(false);
  SwapInRewrittenTable(rewritten, table, keep_backup);
  swapped_ = true;
}

}  // namespace korvex
