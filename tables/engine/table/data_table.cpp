// TDataTable: its life cycle (opening, creating, closing, deleting, renaming
// and emptying its files), change detection and its answers as host.
#include "tables/engine/table/data_table.h"

#include <cstdlib>

#include "platform/runtime/filelock.h"
#include "platform/runtime/sysutils.h"
#include "tables/engine/cache/cache_io.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/interrupted_work.h"
#include "tables/lib/names.h"

namespace korvex {
namespace {

constexpr std::int32_t kBitmapBits = 8192;

}  // namespace

TDataTable::TDataTable(TDataDirectory* directory)
    : directory_(directory),
      data_(std::make_unique<TDataFile>(this)),
      index_(std::make_unique<TIndexFile>(this)),
      blob_(std::make_unique<TBlobFile>(this)),
      record_runs_([this](std::uint32_t first, std::uint32_t last) { return RecordBytes(first, last, 0); },
                   [this](std::uint32_t first, std::uint32_t last) { return RecordBytes(first, last, 1); },
                   [this](std::uint32_t first, std::uint32_t last) { return RecordBytes(first, last, 2); }) {
  for (TRecordsBitmap* bitmap : {&held_, &cursor_locks_, &deferred_}) bitmap->SetNumOfBits(kBitmapBits);
}

TDataTable::~TDataTable() {
  if (open_) {
    in_transaction_ = false;
    use_count_ = 1;
    try {
      CloseTable();
    } catch (...) {
      ReleaseAndClose();
    }
  }
}

void TDataTable::Fail(TEngineErrorCode code) const { RaiseError(code, name_); }

void TDataTable::SetTableName(const std::string& name) {
  std::string dat = EnsureFileExt(name, ".DAT");
  if (dat != name_) name_ = dat;
}

std::string TDataTable::FileKey() const {
  if (in_memory_ || directory_ == nullptr || directory_->IsMemory()) return rtl::UpperCase(name_);
  std::string file = directory_->TableFileName(name_);
  if (char* real = ::realpath(file.c_str(), nullptr)) {
    std::string key(real);
    std::free(real);
    return key;
  }
  return file;
}

bool TDataTable::HasBlobs() const { return data_->GetBlobFieldCount() > 0; }

void TDataTable::AssignTableParameters() {
  std::string root = ExtractFileRoot(name_);
  std::string base = in_memory_ || directory_ == nullptr ? root : directory_->Path() + root;
  struct Item {
    TFileHandler* file;
    const char* ext;
  };
  for (Item item : {Item{data_.get(), ".DAT"}, Item{index_.get(), ".IDX"}, Item{blob_.get(), ".BLB"}}) {
    item.file->SetFileName(base + item.ext);
    item.file->SetExclusive(exclusive_);
    item.file->SetInMemory(in_memory_);
    item.file->SetTemporary(temporary_);
  }
}

void TDataTable::OpenTable() {
  use_count_ = 1;
  if (open_) return;
  ResetLockState();
  files_read_only_ = false;
  open_ = true;
  AssignTableParameters();
  try {
    // A swap or an upgrade killed half-way is put right first.
    if (!in_memory_ && directory_ != nullptr) FinishInterruptedWork(data_->FileName(), PrivateDirectory());
    data_->OpenFile();
    PrepareIndexFile();
    index_created_ = false;
    if (!index_->Exists()) {
      // A new index file is made from the records; a table that can only be
      // read cannot have one made, and is refused rather than opened
      // without its index.
      if (data_->ReadOnly()) Fail(err::kAccessDenied);
      index_->CreateFile();
      index_->SetNoPrimaryIndex(true);
      index_created_ = true;
      // Its header at once: change detection reads the stamp from the file
      // before the first flush, and an empty file's zeros, deciphered in an
      // encrypted table, would read as a stamp another writer moved.
      index_->WriteHeader(true, false);
    } else {
      index_->OpenFile();
    }
    if (HasBlobs()) {
      blob_->SetBlockSize(data_->GetBlobBlockSize());
      blob_->SetEncrypted(data_->GetEncrypted());
      blob_->OpenFile();
    }
  } catch (...) {
    // ReleaseAndClose deletes an index file made here.
    ReleaseAndClose();
    use_count_ = 0;
    throw;
  }
  files_read_only_ = data_->ReadOnly() || index_->ReadOnly() || (blob_->IsOpen() && blob_->ReadOnly());
  if (files_read_only_) read_only_ = true;
  if (exclusive_ && !read_only_) RecoverHotJournal();
}

void TDataTable::CloseTable(bool discard_temporary) {
  if (!open_) return;
  DecUseCount();
  if (in_transaction_ || use_count_ > 0) return;
  try {
    if (exclusive_ && !read_only_) {
      if (temporary_ && discard_temporary) FreeBuffers(true, false);
      else FlushBuffers(true, false, false, false, false);
    }
  } catch (...) {
    ReleaseAndClose();
    throw;
  }
  ReleaseAndClose();
}

void TDataTable::ReleaseAndClose() {
  // The thread journaling ahead reads the index file about to close.
  journal_.DropAhead();
  // Before the locks go (see TransactionWriteUnlockTable).
  journal_.SettleQuietly();
  ReleaseLocks();
  try {
    DropEndedJournal();
  } catch (...) {
  }
  in_transaction_ = false;
  for (TFileHandler* file : {static_cast<TFileHandler*>(index_.get()), static_cast<TFileHandler*>(blob_.get()),
                             static_cast<TFileHandler*>(data_.get())}) {
    try {
      file->CloseFile();
    } catch (...) {
    }
  }
  journal_.Close();
  open_ = false;
  written_ = false;
  // An index file made by this open whose records' keys never reached it
  // (the open failed before its first cursor rebuilt them) goes again: a
  // failed open leaves nothing behind.
  if (index_created_) {
    index_created_ = false;
    try {
      index_->DeleteFile();
    } catch (...) {
    }
  }
}

void TDataTable::CreateTable(const TDataFileSettings& settings, const std::vector<TFieldDefinition>& fields) {
  use_count_ = 1;
  open_ = true;
  ResetLockState();
  files_read_only_ = false;
  AssignTableParameters();
  std::vector<TFileHandler*> made;
  try {
    data_->CreateDataFile(settings, fields);
    made.push_back(data_.get());
    PrepareIndexFile();
    index_->CreateFile();
    // Index definitions are added by the cursor; until then the table has
    // no primary index.
    index_->SetNoPrimaryIndex(true);
    made.push_back(index_.get());
    if (HasBlobs()) {
      blob_->SetBlockSize(data_->GetBlobBlockSize());
      blob_->SetEncrypted(data_->GetEncrypted());
      blob_->CreateFile();
      made.push_back(blob_.get());
    }
  } catch (...) {
    ReleaseAndClose();
    use_count_ = 0;
    for (TFileHandler* file : made) {
      try {
        file->DeleteFile();
      } catch (...) {
      }
    }
    throw;
  }
}

void TDataTable::DeleteTable() {
  AssignTableParameters();
  data_->DeleteFile();
  journal_.Close();
  if (UsesJournal()) rtl::DeleteLockedFile(JournalPath());
  if (index_->Exists()) index_->DeleteFile();
  if (blob_->Exists()) blob_->DeleteFile();
}

void TDataTable::RenameTable(const std::string& new_name, bool as_backup) {
  AssignTableParameters();
  // The files move as they were last committed, never half-written.
  SettleHotJournal();
  std::string target = ExtractFileRoot(
      ContainsDirectory(new_name) || in_memory_ || directory_ == nullptr ? new_name : directory_->Path() + new_name);
  struct Item {
    TFileHandler* file;
    const char* ext;
    const char* backup_ext;
  };
  std::vector<std::pair<TFileHandler*, std::string>> done;
  try {
    for (Item item : {Item{data_.get(), ".DAT", ".DBK"}, Item{index_.get(), ".IDX", ".IBK"},
                      Item{blob_.get(), ".BLB", ".BBK"}}) {
      if (!item.file->Exists()) continue;
      std::string to = target + (as_backup ? item.backup_ext : item.ext);
      if (as_backup && FileNameExists(to, in_memory_)) {
        TFileHandler old(this);
        old.SetFileName(to);
        old.SetInMemory(in_memory_);
        old.DeleteFile();
      }
      std::string from = item.file->FileName();
      item.file->RenameFile(to);
      done.emplace_back(item.file, from);
    }
  } catch (...) {
    // Put back what was renamed: the table keeps one name for its files.
    for (auto it = done.rbegin(); it != done.rend(); ++it) {
      try {
        it->first->RenameFile(it->second);
      } catch (...) {
      }
    }
    AssignTableParameters();
    throw;
  }
  AssignTableParameters();
}

void TDataTable::PrepareIndexFile() {
  index_->SetFields(&data_->Fields());
  index_->SetEncrypted(data_->GetEncrypted());
}

void TDataTable::EmptyTable() {
  // Cutting the files and writing their headers is one journaled step: a
  // process killed inside it leaves the table as it was or empty. Inside a
  // transaction the cuts go under a journal left open until it ends: the
  // commit's flush writes the headers and ends the journal, a rollback (or
  // the next opener, after a crash) plays the cuts back.
  const bool journal = UsesJournal() && !journal_.Active() && !read_only_;
  const bool blobs = HasBlobs() && blob_->IsOpen();
  // A table without a journal (in memory) keeps its files' bytes instead.
  if (!UsesJournal() && in_transaction_ && files_before_empty_.empty()) {
    for (TFileHandler* file : ImageFiles()) {
      std::vector<std::uint8_t>& bytes = files_before_empty_.emplace_back();
      if (!file->IsOpen()) continue;
      bytes.resize(static_cast<std::size_t>(file->GetSize()));
      ReadAt(*file, 0, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    }
  }
  if (journal) journal_.Begin(JournalPath(), JournalFiles(), true);
  try {
    data_->ClearHeader();
    if (index_->IsOpen()) index_->ClearHeader();
    if (blobs) blob_->ClearHeader();
    if (journal && !in_transaction_) {
      data_->WriteHeader(true, true);
      if (index_->IsOpen()) index_->WriteHeader(true, true);
      if (blobs) blob_->WriteHeader(true, true);
      journal_.Commit();
    }
  } catch (...) {
    if (journal) journal_.UndoQuietly();
    FreeBuffers(true, true);
    throw;
  }
  FreeBuffers(true, false);
}

void TDataTable::RestoreFilesBeforeEmpty() {
  std::vector<std::vector<std::uint8_t>> files = std::move(files_before_empty_);
  files_before_empty_.clear();
  if (files.empty()) return;
  std::vector<TFileHandler*> handlers = ImageFiles();
  for (std::size_t i = 0; i < handlers.size() && i < files.size(); ++i) {
    if (!handlers[i]->IsOpen()) continue;
    const auto size = static_cast<std::int64_t>(files[i].size());
    WriteAt(*handlers[i], 0, files[i].data(), size);
    WriteAt(*handlers[i], size, nullptr, 0);
  }
}

bool TDataTable::PerformChangeDetection() {
  if (index_->IsOpen() && index_->CheckForChanges()) {
    // Another process wrote the index: its pages and the data header are
    // stale along with the records.
    index_->FreePageBuffers(true);
    data_->ReadHeader();
    data_->FreeRecordBuffers();
    if (HasBlobs() && blob_->IsOpen() && blob_->CheckForChanges()) blob_->FreeBlockBuffers();
    NoteChange();
    return true;
  }
  bool changed = data_->CheckForChanges();
  if (changed) data_->FreeRecordBuffers();
  if (HasBlobs() && blob_->IsOpen() && blob_->CheckForChanges()) {
    blob_->FreeBlockBuffers();
    changed = true;
  }
  if (changed) NoteChange();
  return changed;
}

bool TDataTable::ForceBufferFlush() const { return directory_ && directory_->Session()->ForceBufferFlush; }
bool TDataTable::StrictChangeDetection() const {
  return directory_ && directory_->Session()->StrictChangeDetection;
}
std::string TDataTable::PrivateDirectory() const {
  return directory_ ? directory_->Session()->GetPrivateDirectory() : std::string();
}
std::uint32_t TDataTable::ReadAheadCount(void* cursor, std::uint32_t n, std::uint32_t limit, int direction) {
  // Reading ahead pays only for a cursor that walks the records in
  // physical order: a miss just past its last window. Any other miss (an
  // index walk, a lookup) reads its one record.
  if (read_ahead_.size() > 64) read_ahead_.clear();
  std::uint32_t& expected = read_ahead_[cursor];
  const std::uint32_t count = n == expected ? limit : 1;
  expected = direction > 0 ? n + count : (n > count ? n - count : 0);
  return count;
}
bool TDataTable::TakeInternalReadLock(void*) { return ReadLockTable(); }

}  // namespace korvex
