// TDataCursor: the operations on a table's files as a whole: empty,
// delete, rename, the backup names, the index backup and the data-file
// header of a table that is not open.
#include <cstdint>
#include <functional>
#include <string>

#include "tables/engine/base/cipher_keys.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/file_handler.h"
#include "tables/lib/key_bytes.h"

namespace korvex {
namespace {

// Raises a directory's negative answer with the table as context.
void Check(int answer, const std::string& table) {
  if (answer < 0) RaiseError(static_cast<TEngineErrorCode>(-answer), table);
}

}  // namespace

void TDataCursor::PlayBackJournal() {
  TOpenTableRequest request;
  request.Exclusive = true;
  request.InMemory = in_memory_;
  TDataTable* table = nullptr;
  Check(directory_->OpenDataTable(name_, table, request), name_);
  Check(directory_->CloseDataTable(table), name_);
}

void TDataCursor::EmptyTable() {
  CheckExclusive();
  CheckNotReadOnly();
  if (!open_) {
    OpenCursor();
    try {
      EmptyTable();
    } catch (...) {
      try {
        CloseCursor(false);
      } catch (...) {
      }
      throw;
    }
    CloseCursor(false);
    return;
  }
  FreeAllBlobs(true);
  table_->EmptyTable();
  table_->MarkWritten();
  SetToBegin();
}

void TDataCursor::DeleteTable() {
  CheckNotOpen();
  Check(directory_->DeleteDataTable(name_, in_memory_), name_);
}

void TDataCursor::RenameTable(const std::string& new_name) {
  CheckNotOpen();
  PlayBackJournal();
  Check(directory_->RenameDataTable(name_, new_name, false, in_memory_), name_);
}

void TDataCursor::BackupTable() {
  CheckNotOpen();
  PlayBackJournal();
  Check(directory_->RenameDataTable(name_, name_, true, in_memory_), name_);
}

void TDataCursor::BackupIndex() {
  CheckExclusive();
  CheckNotReadOnly();
  RequireOpen();
  table_->BackupIndex();
}

void TDataCursor::RestoreIndex(bool keep_current, bool delete_backup) {
  CheckExclusive();
  RequireOpen();
  table_->RestoreIndex(keep_current, delete_backup);
}

void TDataCursor::GetDataHeader(TDataHeader& header) const {
  if (open_) {
    header = table_->DataFile().GetHeader();
    return;
  }
  std::uint8_t bytes[kDataHeaderSize];
  {
    TFileHandler file;
    file.SetFileName(in_memory_ || directory_->IsMemory() ? name_ : directory_->TableFileName(name_));
    file.SetInMemory(in_memory_ || directory_->IsMemory());
    file.OpenFile();
    // A file cut inside its header has no header to read.
    if (file.Read(bytes, static_cast<std::int64_t>(kDataHeaderSize), true) < static_cast<std::int64_t>(kDataHeaderSize))
      Fail(err::kHeaderCorrupt);
  }
  header.Decode(bytes);
  if (header.Encrypted == 0) return;
  std::string password = header.Password;
  EncryptBuffer(password.data(), static_cast<std::int32_t>(password.size()), kHeaderTextKeys.key1,
                kHeaderTextKeys.key2);
  while (!directory_->Session()->CheckForPassword(password))
    if (!password_callback_ || !password_callback_()) Fail(err::kPasswordRequired);
}

void TDataCursor::UnderWriteLock(const std::function<void()>& change) {
  RequireOpen();
  CheckNotReadOnly();
  table_->WriteLockTable();
  try {
    change();
    Flush(false);
  } catch (...) {
    try {
      table_->WriteUnlockTable();
    } catch (...) {
    }
    throw;
  }
  table_->WriteUnlockTable();
}

void TDataCursor::UpdateDataHeader(const std::string& password, const std::string& description,
                                   std::uint32_t last_record_id, std::uint16_t user_major, std::uint16_t user_minor) {
  UnderWriteLock([&] {
    table_->DataFile().UpdateHeader(password, description, last_record_id, user_major, user_minor);
  });
}

void TDataCursor::SetIndexDefinition(std::uint8_t position, const TIndexDefinition& definition) {
  ChangeIndexDefinition(position, definition, false);
}

void TDataCursor::UpdateIndexDefinition(std::uint8_t position, const TIndexDefinition& definition) {
  ChangeIndexDefinition(position, definition, true);
}

void TDataCursor::ChangeIndexDefinition(std::uint8_t position, const TIndexDefinition& definition, bool update) {
  RequireOpen();
  if (position > table_->IndexFile().GetIndexCount()) RaiseError(err::kInvalidIndexName, name_, {}, std::to_string(position));
  UnderWriteLock([&] {
    TIndexFile& file = table_->IndexFile();
    if (update) file.UpdateIndexDefinition(position, definition);
    else file.SetIndexDefinition(position, definition);
  });
  // The current index's key information follows.
  if (position == index_pos_) InternalSetIndexPos(position);
}

}  // namespace korvex
