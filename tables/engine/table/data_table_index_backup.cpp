// TDataTable: the ".IBK" backup copy of the index file and putting it back.
#include <cstdint>
#include <vector>

#include "tables/engine/cache/cache_io.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/names.h"

namespace korvex {

std::string TDataTable::IndexBackupName() const {
  std::string root = ExtractFileRoot(name_);
  return (in_memory_ || directory_ == nullptr ? root : directory_->Path() + root) + ".IBK";
}

void TDataTable::BackupIndex() {
  SettleHotJournal();
  FlushBuffers(false, false, false, false, false);
  std::int64_t size = index_->GetSize();
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  ReadAt(*index_, 0, bytes.data(), size);
  TFileHandler backup(this);
  backup.SetFileName(IndexBackupName());
  backup.SetInMemory(in_memory_);
  backup.SetTemporary(temporary_);
  backup.CreateFile();
  try {
    WriteAt(backup, 0, bytes.data(), size);
    backup.Flush();
  } catch (...) {
    // A partial copy is no backup.
    try {
      backup.CloseFile();
      backup.DeleteFile();
    } catch (...) {
    }
    throw;
  }
  backup.CloseFile();
}

void TDataTable::RestoreIndex(bool keep_current, bool delete_backup) {
  TFileHandler backup(this);
  backup.SetFileName(IndexBackupName());
  backup.SetInMemory(in_memory_);
  if (!keep_current) {
    if (!backup.Exists()) Fail(err::kHeaderCorrupt);
    backup.OpenFile();
    std::int64_t size = backup.GetSize();
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    ReadAt(backup, 0, bytes.data(), size);
    backup.CloseFile();
    if (size < static_cast<std::int64_t>(kIndexHeaderSize)) Fail(err::kHeaderCorrupt);
    // The copy goes in like any flush: under the journal, then the cache
    // and header are taken from the file. A copy that fails part way is
    // played back: the next flush must not find the journal still open and
    // commit half a copy with its own.
    const bool journal = UsesJournal() && !journal_.Active();
    if (journal) journal_.Begin(JournalPath(), JournalFiles(), true);
    try {
      WriteAt(*index_, 0, bytes.data(), size);
      WriteAt(*index_, size, nullptr, 0);
      journal_.Commit();
    } catch (...) {
      if (journal) journal_.UndoQuietly();
      throw;
    }
    MarkWritten();
    index_->FreePageBuffers(true);
    index_->ReadHeader();
  }
  if (delete_backup && backup.Exists()) backup.DeleteFile();
}

}  // namespace korvex
