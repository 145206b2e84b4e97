#include "tables/engine/table/data_table.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>

#include "platform/runtime/coding.h"
#include "platform/runtime/filelock.h"
#include "platform/runtime/sysutils.h"
#include "tables/engine/cache/cache_io.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/lock_ranges.h"
#include "tables/lib/names.h"

namespace korvex {
namespace {

constexpr std::int32_t kBitmapBits = 8192;

// One generator per process picks the readers' bytes.
std::uint16_t RandomReadSlot() {
  static std::mutex lock;
  static std::mt19937 generator{static_cast<std::uint32_t>(
      std::chrono::steady_clock::now().time_since_epoch().count())};
  std::lock_guard<std::mutex> guard(lock);
  auto r = static_cast<std::uint16_t>(generator() % (kMaxReadLockSlot + 1));
  return r == 0 ? 1 : r;
}

std::int64_t RecordByte(std::uint32_t n) { return kRecordLockBase - std::int64_t{n}; }
std::int64_t SemaphoreByte(int s) { return kSemaphoreLockBase - s; }

// Runs every step; the first failure is raised after all ran.
template <class... Steps>
void AllThen(TEngineErrorCode code, const std::string& table, Steps... steps) {
  bool failed = false;
  ((failed |= !steps()), ...);
  if (failed) RaiseError(code, table);
}

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

void TDataTable::ResetLockState() {
  user_read_lock_ = user_table_lock_ = table_lock_before_transaction_ = false;
  read_lock_ = write_lock_ = write_lock_in_process_ = transaction_lock_ = false;
  read_index_r_ = read_blob_r_ = user_index_r_ = user_blob_r_ = 0;
  for (TRecordsBitmap* bitmap : {&held_, &cursor_locks_, &deferred_}) bitmap->ClearBits();
  record_runs_.Clear();
}

// ---- open, close, create ---------------------------------------------------

void TDataTable::OpenTable() {
  use_count_ = 1;
  if (open_) return;
  ResetLockState();
  files_read_only_ = false;
  open_ = true;
  AssignTableParameters();
  try {
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

bool TDataTable::UsesJournal() const { return !in_memory_ && directory_ != nullptr && !directory_->IsMemory(); }

std::string TDataTable::JournalPath() const { return directory_->Path() + ExtractFileRoot(name_) + ".JNL"; }

std::vector<TFileHandler*> TDataTable::JournalFiles() {
  return {data_.get(), index_->IsOpen() ? index_.get() : nullptr,
          HasBlobs() && blob_->IsOpen() ? blob_.get() : nullptr};
}

bool TDataTable::RecoverHotJournal() {
  if (!UsesJournal() || journal_.Active() || read_only_ || !journal_.Recover(JournalPath(), JournalFiles()))
    return false;
  FreeBuffers(false, true);
  return true;
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

void TDataTable::ReleaseLocks() {
  // Closing releases what it can; a byte that will not go is freed with
  // the descriptor at the latest.
  try {
    ReleaseUnchecked();
  } catch (...) {
  }
}

void TDataTable::ReleaseUnchecked() {
  if (!files_read_only_) {
    if (user_table_lock_) data_->LockRegion(kTableLockOffset, kTableLockLength, false);
    SizeBitmaps();
    std::int32_t n = 0, position = 0;
    while (held_.GetNextBitsSet(n, 1, position))
      if (!record_runs_.Covers(static_cast<std::uint32_t>(n))) data_->UnlockPartOfRegion(RecordByte(n), 1);
    record_runs_.Release({});
    for (std::uint16_t* r : {&read_index_r_, &user_index_r_})
      if (*r != 0) index_->LockRegion(kFileReadLockBase - *r, 1, false);
    for (std::uint16_t* r : {&read_blob_r_, &user_blob_r_})
      if (*r != 0) blob_->LockRegion(kFileReadLockBase - *r, 1, false);
    if (write_lock_ && !write_lock_in_process_ && !exclusive_) {
      blob_->LockRegion(kFileWriteLockOffset, kFileWriteLockLength, false);
      index_->LockRegion(kFileWriteLockOffset, kFileWriteLockLength, false);
    }
    if ((write_lock_ && !write_lock_in_process_ && !exclusive_) || transaction_lock_) data_->LockRegion(kDataWriteLockOffset, 1, false);
  }
  ResetLockState();
}

void TDataTable::DropEndedJournal() {
  if (!UsesJournal() || read_only_ || files_read_only_ || !data_->IsOpen() || !index_->IsOpen()) return;
  // Only where no writer can be inside a flush: with the table to itself,
  // or holding the write lock for a moment (one try: a busy table keeps
  // its journal). A journal someone else holds open stays too.
  const bool blobs = HasBlobs() && blob_->IsOpen();
  auto range = [](TFileHandler& file, bool lock) {
    return file.LockRegion(kFileWriteLockOffset, kFileWriteLockLength, lock);
  };
  bool dat = false, idx = false, blb = false;
  if (!exclusive_) {
    dat = DataByteLocked(kDataWriteLockOffset, 1, true);
    idx = dat && range(*index_, true);
    blb = idx && blobs && range(*blob_, true);
  }
  if (exclusive_ || (idx && (blb || !blobs))) {
    if (!journal_.Hot(JournalPath())) {
      journal_.Close();
      rtl::DeleteLockedFile(JournalPath());
    }
  }
  if (blb) range(*blob_, false);
  if (idx) range(*index_, false);
  if (dat) DataByteLocked(kDataWriteLockOffset, 1, false);
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

void TDataTable::SettleHotJournal() {
  if (!UsesJournal() || journal_.Active() || read_only_ || !journal_.Hot(JournalPath())) return;
  if (!open_) {
    // Not open here: an exclusive open plays it back.
    const bool was_exclusive = exclusive_;
    exclusive_ = true;
    try {
      OpenTable();
      ReleaseAndClose();
    } catch (...) {
      exclusive_ = was_exclusive;
      use_count_ = 0;
      throw;
    }
    exclusive_ = was_exclusive;
    use_count_ = 0;
    return;
  }
  if (LocksSkipped() || write_lock_ || transaction_lock_) {
    RecoverHotJournal();
    return;
  }
  WriteLockTable();
  WriteUnlockTable();
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

// ---- waiting -------------------------------------------------------------

void TDataTable::Sleep(unsigned milliseconds) const {
  const TLockTiming* timing = directory_ ? &directory_->Session()->Timing : nullptr;
  if (timing && timing->Sleep) timing->Sleep(milliseconds);
  else std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool TDataTable::Retry(const std::function<bool()>& attempt) const {
  TLockTiming timing = directory_ ? directory_->Session()->Timing : TLockTiming{};
  for (int i = 0; i < timing.InternalAttempts; ++i) {
    if (i > 0) Sleep(timing.InternalSleepMs);
    if (attempt()) return true;
  }
  return false;
}

bool TDataTable::RetryUser(const std::function<bool()>& attempt) const {
  int retries = directory_ ? directory_->Session()->LockRetryCount : 15;
  unsigned wait = directory_ ? directory_->Session()->LockWaitTime : 100;
  for (int failures = 0;; ++failures) {
    if (attempt()) return true;
    if (failures >= retries) return false;
    Sleep(wait);
  }
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

// ---- internal locks --------------------------------------------------------

std::uint16_t TDataTable::ReadLockFile(TFileHandler& file) {
  std::uint16_t got = 0;
  Retry([&] {
    std::uint16_t r = RandomReadSlot();
    if (!file.LockRegion(kFileReadLockBase - r, 1, true)) return false;
    got = r;
    return true;
  });
  return got;
}

bool TDataTable::LockPair(std::uint16_t& index_r, std::uint16_t& blob_r) {
  std::uint16_t i = ReadLockFile(*index_);
  if (i == 0) return false;
  if (HasBlobs() && blob_->IsOpen()) {
    std::uint16_t b = ReadLockFile(*blob_);
    if (b == 0) {
      index_->LockRegion(kFileReadLockBase - i, 1, false);
      return false;
    }
    blob_r = b;
  }
  index_r = i;
  return true;
}

void TDataTable::UnlockPair(std::uint16_t& index_r, std::uint16_t& blob_r) {
  std::uint16_t i = index_r, b = blob_r;
  index_r = blob_r = 0;
  AllThen(
      err::kCannotUnlock, name_,
      [&] { return b == 0 || blob_->LockRegion(kFileReadLockBase - b, 1, false); },
      [&] { return index_->LockRegion(kFileReadLockBase - i, 1, false); });
}

bool TDataTable::ReadLockTable() {
  if (user_read_lock_ || user_table_lock_ || transaction_lock_ || write_lock_ || read_lock_ || LocksSkipped())
    return false;
  PlayBackDeadWriter();
  if (!LockPair(read_index_r_, read_blob_r_)) Fail(err::kLockFailure);
  read_lock_ = true;
  return PerformChangeDetection();
}

void TDataTable::ReadUnlockTable() {
  if (!read_lock_ || LocksSkipped()) return;
  read_lock_ = false;
  UnlockPair(read_index_r_, read_blob_r_);
}

void TDataTable::PlayBackDeadWriter() {
  if (UsesJournal() && journal_.Hot(JournalPath())) {
    // A dead writer's journal: play it back under the write lock first.
    WriteLockTable();
    WriteUnlockTable();
  }
}

bool TDataTable::UserReadLockTable() {
  if (user_read_lock_ || LocksSkipped()) return false;
  // The reads under this lock take no read lock of their own, so none of
  // them would look for a dead writer's journal: this one does.
  if (!user_table_lock_ && !transaction_lock_ && !write_lock_ && !read_lock_) PlayBackDeadWriter();
  if (!LockPair(user_index_r_, user_blob_r_)) Fail(err::kLockFailure);
  user_read_lock_ = true;
  return PerformChangeDetection();
}

void TDataTable::UserReadUnlockTable() {
  if (!user_read_lock_ || LocksSkipped()) return;
  user_read_lock_ = false;
  UnlockPair(user_index_r_, user_blob_r_);
}

bool TDataTable::DataByteLocked(std::int64_t start, std::int64_t length, bool lock) {
  return data_->LockRegion(start, length, lock);
}

bool TDataTable::RecordBytes(std::uint32_t first, std::uint32_t last, int op) {
  const std::int64_t start = RecordByte(last), length = std::int64_t{last} - first + 1;
  return op == 0 ? data_->LockRegion(start, length, true)
         : op == 1 ? data_->LockRegion(start, length, false)
                   : data_->UnlockPartOfRegion(start, length);
}

bool TDataTable::WriteLockTable() {
  if (LocksSkipped() || (write_lock_ && !(write_lock_in_process_ && !in_transaction_))) return false;
  if (in_transaction_ && transaction_lock_) {
    write_lock_ = write_lock_in_process_ = true;
    return false;
  }
  auto range = [](TFileHandler& file, bool lock) {
    return file.LockRegion(kFileWriteLockOffset, kFileWriteLockLength, lock);
  };
  bool dat = false;
  if (!transaction_lock_) {
    if (!Retry([&] { return DataByteLocked(kDataWriteLockOffset, 1, true); })) Fail(err::kLockFailure);
    dat = true;
  }
  // A second file that cannot be had gives back the first ones, last
  // taken first, so no byte outlives the failure.
  if (!Retry([&] { return range(*index_, true); })) {
    if (dat) DataByteLocked(kDataWriteLockOffset, 1, false);
    Fail(err::kLockFailure);
  }
  if (HasBlobs() && blob_->IsOpen() && !Retry([&] { return range(*blob_, true); })) {
    range(*index_, false);
    if (dat) DataByteLocked(kDataWriteLockOffset, 1, false);
    Fail(err::kLockFailure);
  }
  write_lock_ = true;
  write_lock_in_process_ = false;
  if (transaction_lock_) return false;
  return RecoverHotJournal() || PerformChangeDetection();
}

void TDataTable::WriteUnlockTable() {
  if (!write_lock_ || LocksSkipped()) return;
  write_lock_ = false;
  if (write_lock_in_process_) {
    write_lock_in_process_ = false;
    return;
  }
  bool blobs = HasBlobs() && blob_->IsOpen();
  AllThen(
      err::kLockFailure, name_,
      [&] { return !blobs || blob_->LockRegion(kFileWriteLockOffset, kFileWriteLockLength, false); },
      [&] { return index_->LockRegion(kFileWriteLockOffset, kFileWriteLockLength, false); },
      [&] { return transaction_lock_ || DataByteLocked(kDataWriteLockOffset, 1, false); });
}

// ---- user locks ------------------------------------------------------------

void TDataTable::GrowBitmaps() {
  std::int32_t bits = static_cast<std::int32_t>(
      std::min<std::uint32_t>(data_->GetPhysicalRecordsUsed() + 1, kMaxRecordNumber + 1));
  // The bitmaps only grow: sized once for a count, they stay so.
  if (bits <= sized_bits_) return;
  for (TRecordsBitmap* bitmap : {&held_, &cursor_locks_, &deferred_})
    if (bitmap->NumOfBits() < bits) bitmap->SetNumOfBits(bits);
  sized_bits_ = bits;
}

bool TDataTable::CheckForRecordWriteLock(std::uint32_t n) {
  SizeBitmaps();
  return n >= 1 && static_cast<std::int32_t>(n) <= held_.NumOfBits() && held_.IsBitSet(static_cast<std::int32_t>(n));
}

void TDataTable::AddCursorRecordWriteLock(std::uint32_t n) {
  SizeBitmaps();
  if (static_cast<std::int32_t>(n) > cursor_locks_.NumOfBits()) cursor_locks_.SetNumOfBits(n);
  cursor_locks_.SetBit(static_cast<std::int32_t>(n));
}

void TDataTable::RemoveCursorRecordWriteLock(std::uint32_t n) {
  if (n >= 1 && static_cast<std::int32_t>(n) <= cursor_locks_.NumOfBits())
    cursor_locks_.ClearBit(static_cast<std::int32_t>(n));
}

bool TDataTable::CheckForCursorRecordWriteLock(std::uint32_t n) {
  return n >= 1 && static_cast<std::int32_t>(n) <= cursor_locks_.NumOfBits() &&
         cursor_locks_.IsBitSet(static_cast<std::int32_t>(n));
}

bool TDataTable::UserWriteLockRecord(std::uint32_t n) {
  if (user_table_lock_ || (exclusive_ && !transaction_lock_) || files_read_only_) return false;
  if (n == 0 || n > kMaxRecordNumber + 1) Fail(err::kRecordInUse);
  if (transaction_lock_ && CheckForRecordWriteLock(n)) return false;
  // The record byte first: waiting for it while holding the internal read
  // lock would keep out the writer that holds the record and wants to
  // write it.
  // Inside a transaction the byte joins the transaction's runs of record
  // bytes (record_lock_runs.h), held to its end.
  const bool in_runs = transaction_lock_;
  auto attempt = [&] { return in_runs ? record_runs_.Add(n) : DataByteLocked(RecordByte(n), 1, true); };
  // The first try without wrapping it: most locks are had at once.
  if (!attempt() && !RetryUser(attempt)) Fail(err::kRecordInUse);
  bool changes = false;
  // Inside a transaction the table's lock stands in for the read lock.
  if (!transaction_lock_ && !exclusive_ && !StrictChangeDetection()) {
    try {
      changes = ReadLockTable();
    } catch (...) {
      // A byte in the runs goes when the transaction ends.
      if (!in_runs) DataByteLocked(RecordByte(n), 1, false);
      throw;
    }
  }
  if (!transaction_lock_) SizeBitmaps();  // else sized by the check above
  for (TRecordsBitmap* bitmap : {&held_, &deferred_})
    if (static_cast<std::int32_t>(n) > bitmap->NumOfBits()) bitmap->SetNumOfBits(n);
  held_.SetBit(static_cast<std::int32_t>(n));
  deferred_.ClearBit(static_cast<std::int32_t>(n));
  return changes;
}

void TDataTable::UserWriteUnlockRecord(std::uint32_t n) {
  if (user_table_lock_ || (exclusive_ && !transaction_lock_) || files_read_only_) return;
  if (n == 0) Fail(err::kCannotUnlock);
  // An exclusive table takes no record locks outside a transaction: a lock
  // asked for before the transaction began holds nothing to release.
  if (exclusive_ && !CheckForRecordWriteLock(n)) return;
  if (transaction_lock_) {
    if (!CheckForRecordWriteLock(n)) Fail(err::kCannotUnlock);
    deferred_.SetBit(static_cast<std::int32_t>(n));
    return;
  }
  // A record kept locked through the end of a transaction may share its
  // range with its neighbours: only its own byte goes.
  if (!CheckForRecordWriteLock(n) || !data_->UnlockPartOfRegion(RecordByte(n), 1)) Fail(err::kCannotUnlock);
  held_.ClearBit(static_cast<std::int32_t>(n));
}

bool TDataTable::UserWriteLockTable() {
  if (user_table_lock_ || (exclusive_ && !transaction_lock_) || files_read_only_) return false;
  if (!RetryUser([&] { return DataByteLocked(kTableLockOffset, kTableLockLength, true); })) Fail(err::kTableLocked);
  user_table_lock_ = true;
  return exclusive_ ? false : PerformChangeDetection();
}

void TDataTable::UserWriteUnlockTable() {
  if (!user_table_lock_ || transaction_lock_ || LocksSkipped()) return;
  if (!DataByteLocked(kTableLockOffset, kTableLockLength, false)) Fail(err::kCannotUnlock);
  user_table_lock_ = false;
}

bool TDataTable::UserLockSemaphore(int s) {
  if (s < 1 || s > kMaxSemaphore || files_read_only_) return false;
  return RetryUser([&] { return DataByteLocked(SemaphoreByte(s), 1, true); });
}

bool TDataTable::UserUnlockSemaphore(int s) {
  if (s < 1 || s > kMaxSemaphore || files_read_only_) return false;
  return DataByteLocked(SemaphoreByte(s), 1, false);
}

void TDataTable::WriteUnlockAllRecords(bool only_deferred) {
  SizeBitmaps();
  if (only_deferred && !record_runs_.Empty()) {
    // A transaction's end where every record held was given up by its
    // holder (a record marked deferred is one held) and lies in the runs:
    // the runs go whole and the bitmaps are emptied, without a walk over
    // the records.
    const std::int32_t held = held_.GetTotalBitsSet();
    if (held == deferred_.GetTotalBitsSet()) {
      std::int64_t covered = 0;
      record_runs_.ForEachRun([&](std::uint32_t first, std::uint32_t last) {
        const auto end = static_cast<std::int32_t>(std::min<std::uint32_t>(last, kMaxRecordNumber + 1)) + 1;
        covered += held_.GetPreviousTotalBitsSet(end) - held_.GetPreviousTotalBitsSet(static_cast<std::int32_t>(first));
      });
      if (covered == held) {
        const bool released = record_runs_.Release({});
        held_.ClearBits();
        deferred_.ClearBits();
        if (!released) Fail(err::kCannotUnlock);
        return;
      }
    }
  }
  auto going = [&](std::int32_t n) {
    return !only_deferred || (n <= deferred_.NumOfBits() && deferred_.IsBitSet(n));
  };
  std::vector<std::int32_t> records, in_runs;
  std::vector<std::uint32_t> staying;
  std::int32_t n = 0, position = 0;
  std::size_t seen = 0;
  while (held_.GetNextBitsSet(n, 1, position)) {
    ++seen;
    const bool covered = record_runs_.Covers(static_cast<std::uint32_t>(n));
    if (going(n)) (covered ? in_runs : records).push_back(n);
    else if (covered) staying.push_back(static_cast<std::uint32_t>(n));
  }
  // The transaction's runs go whole, in a few unlocks; a record in them
  // that stays held keeps its own byte.
  const bool released = record_runs_.Release(staying);
  if (in_runs.size() == seen) {
    // Every record held goes with the runs (a transaction's end): the
    // bitmaps are emptied whole (a record marked deferred is one held).
    held_.ClearBits();
    deferred_.ClearBits();
  } else {
    for (std::int32_t record : in_runs) {
      held_.ClearBit(record);
      deferred_.ClearBit(record);
    }
  }
  for (std::int32_t record : records) {
    UserWriteUnlockRecord(static_cast<std::uint32_t>(record));
    deferred_.ClearBit(record);
  }
  if (!released) Fail(err::kCannotUnlock);
}

bool TDataTable::TableIsLocked() {
  if (user_table_lock_) return true;
  if (files_read_only_) return false;
  if (!DataByteLocked(kTableLockOffset, kTableLockLength, true)) return true;
  DataByteLocked(kTableLockOffset, kTableLockLength, false);
  return false;
}

bool TDataTable::RecordIsLocked(std::uint32_t n) {
  if (user_table_lock_) return true;
  if (n == 0) return false;
  if (CheckForRecordWriteLock(n)) return true;
  // A byte of this table's runs that no record of it asked for: no one
  // else can hold it.
  if (files_read_only_ || record_runs_.Covers(n)) return false;
  if (!DataByteLocked(RecordByte(n), 1, true)) return true;
  DataByteLocked(RecordByte(n), 1, false);
  return false;
}

// ---- transactions ----------------------------------------------------------

void TDataTable::TransactionWriteLockTable() {
  if (transaction_lock_ || files_read_only_) return;
  if (!Retry([&] { return DataByteLocked(kDataWriteLockOffset, 1, true); })) Fail(err::kLockFailure);
  table_lock_before_transaction_ = user_table_lock_;
  transaction_lock_ = true;
  if (!RecoverHotJournal() && !exclusive_) PerformChangeDetection();
}

void TDataTable::TransactionWriteUnlockTable() {
  if (!transaction_lock_ || files_read_only_) return;
  // Another writer may write the journal once the lock goes: a loose end
  // is settled first (a sync that fails leaves the table at an earlier
  // whole commit after a power loss, which a rollback cannot improve on).
  journal_.SettleQuietly();
  bool unlocked = DataByteLocked(kDataWriteLockOffset, 1, false);
  transaction_lock_ = false;
  if (!exclusive_) {
    if (!user_table_lock_) WriteUnlockAllRecords(true);
    else if (!table_lock_before_transaction_) UserWriteUnlockTable();
  }
  if (!unlocked) Fail(err::kLockFailure);
}

void TDataTable::StartTransaction() {
  if (read_only_ || in_transaction_) return;
  if (exclusive_) FlushBuffers(false, false, false, false, false);
  in_transaction_ = true;
  try {
    TransactionWriteLockTable();
  } catch (...) {
    // Without its lock the table is not in a transaction.
    in_transaction_ = false;
    throw;
  }
}

void TDataTable::RollbackTransaction() {
  if (!in_transaction_ || read_only_) return;
  in_transaction_ = false;
  journal_.DropAhead();
  if (journal_.Active()) {
    journal_.Abandon();
    journal_.Recover(JournalPath(), JournalFiles());
  }
  RestoreFilesBeforeEmpty();
  FreeBuffers(true, true);
  // What was committed before stays committed after a power loss too.
  journal_.SettleQuietly();
  TransactionWriteUnlockTable();
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

void TDataTable::CommitTransaction(bool final_commit, bool settle) {
  if (!in_transaction_ || read_only_) return;
  // The flush writes the files: the lock it takes has its real ranges.
  in_transaction_ = false;
  try {
    WriteLockTable();
  } catch (...) {
    in_transaction_ = true;
    throw;
  }
  if (final_commit) {
    try {
      FlushBuffers(true, false, false, false, true);
      // A loose end left by an earlier commit and a flush with nothing to
      // write: the transaction is on disk before the caller hears of it.
      journal_.Settle();
    } catch (...) {
      // The changes stay in the caches and the transaction keeps its lock:
      // the caller retries the commit or rolls back.
      in_transaction_ = true;
      WriteUnlockTable();
      throw;
    }
    files_before_empty_.clear();
    WriteUnlockTable();
    TransactionWriteUnlockTable();
    return;
  }
  try {
    FlushBuffers(false, false, false, false, true, settle);
  } catch (...) {
    in_transaction_ = true;
    WriteUnlockTable();
    throw;
  }
  files_before_empty_.clear();
  transaction_lock_ = false;
  try {
    if (!user_table_lock_) WriteUnlockAllRecords(true);
    else if (!table_lock_before_transaction_) UserWriteUnlockTable();
  } catch (...) {
    transaction_lock_ = in_transaction_ = true;
    WriteUnlockTable();
    throw;
  }
  transaction_lock_ = in_transaction_ = true;
  WriteUnlockTable();
}

void TDataTable::UpdateHeaderStamps(bool data, bool index, bool blob) {
  if (data) data_->UpdateHeaderStamp();
  if (index && index_->IsOpen()) index_->UpdateHeaderStamp();
  if (blob && HasBlobs() && blob_->IsOpen()) blob_->UpdateHeaderStamp();
}

void TDataTable::FlushBuffers(bool adjust, bool force_data, bool force_index, bool force_blob, bool to_disk,
                              bool settle) {
  if (read_only_) return;
  if (in_transaction_) {
    UpdateHeaderStamps(force_data, force_index, force_blob);
    return;
  }
  const bool blobs = HasBlobs() && blob_->IsOpen();
  // What the flush is about to write, so that a failure can put the caches
  // and headers back as they were: still to be written.
  // The records are noted as they are written (no walk over the modified
  // ones before).
  TWriteUndo flushed;
  if (data_->IsOpen()) data_->SaveHeader(flushed);
  if (index_->IsOpen()) {
    index_->NoteDirty(flushed);
    index_->SaveHeader(flushed);
  }
  if (blobs) {
    blob_->NoteDirty(flushed);
    blob_->SaveHeader(flushed);
  }
  if (UsesJournal() && !journal_.Active()) journal_.Begin(JournalPath(), JournalFiles(), to_disk || ForceBufferFlush());
  try {
    // Each file goes to disk once, after all its writes: the journal keeps
    // them undoable until it goes, which is the commit point.
    // The index pages first: their old bytes are mostly journaled ahead,
    // so their writes can start (on the journal's thread) while the records
    // are encoded and journaled.
    if (index_->IsOpen()) {
      index_->FlushPageBuffers(false);
      index_->WriteHeader(force_index, false);
      if (to_disk) index_->Flush();
    }
    if (data_->IsOpen()) {
      data_->FlushRecordBuffers(false, &flushed);
      data_->WriteHeader(force_data, false);
      data_->WriteFields();
      if (to_disk) data_->Flush();
    }
    if (blobs) {
      blob_->FlushBlockBuffers(false);
      blob_->WriteHeader(force_blob, false);
      if (to_disk) blob_->Flush();
    }
    journal_.Commit(settle);
    // The spill files' records and pages are the files' now.
    if (data_->IsOpen()) data_->EndSpill();
    if (index_->IsOpen()) index_->EndSpill();
  } catch (...) {
    // A flush that fails (a full disk, an I/O error) leaves the files as
    // they were: the journal puts back what it wrote. Should that fail too,
    // the journal stays for the next holder of the write lock to play back.
    journal_.UndoQuietly();
    // Copies of what the flush wrote are not the files' bytes now.
    if (data_->IsOpen()) data_->DropCleanCopies();
    if (index_->IsOpen()) index_->DropCleanCopies();
    flushed.Restore();
    throw;
  }
  if (adjust) {
    if (data_->IsOpen()) data_->AdjustRecordBuffers();
    if (index_->IsOpen()) index_->AdjustPageBuffers();
    if (blobs) blob_->AdjustBlockBuffers();
  }
}

void TDataTable::AttachUndo(TWriteUndo* undo) {
  data_->AttachUndo(undo);
  index_->AttachUndo(undo);
  blob_->AttachUndo(undo);
}

void TDataTable::JournalPagesAhead() {
  if (!UsesJournal() || read_only_ || journal_.Active() || !index_->IsOpen()) return;
  try {
    index_->NewlyModifiedPages(undo_, pages_ahead_);
    if (pages_ahead_.empty()) return;
    // The commit rewrites the header too (it fills the first page's place).
    pages_ahead_.push_back(0);
    journal_.JournalAhead(JournalPath(), JournalFiles(), 1, pages_ahead_, kIndexPageSize,
                          [this](std::uint32_t offset) { return index_->RecentlyRead(offset); });
  } catch (...) {
    // Only a head start: the commit's flush journals the pages itself.
    pages_ahead_.clear();
    journal_.DropAhead();
  }
}

void TDataTable::BeginWrite() {
  if (write_depth_++ > 0) return;
  undo_.Clear();
  if (data_->IsOpen()) data_->SaveHeader(undo_);
  if (index_->IsOpen()) index_->SaveHeader(undo_);
  if (HasBlobs() && blob_->IsOpen()) blob_->SaveHeader(undo_);
  AttachUndo(&undo_);
}

void TDataTable::UndoWrite() {
  if (write_depth_ == 0 || --write_depth_ > 0) return;
  AttachUndo(nullptr);
  undo_.Restore();
}

void TDataTable::EndWrite(bool force_data, bool force_index, bool force_blob) {
  if (write_depth_ > 1) {
    --write_depth_;
    return;
  }
  // Without BeginWrite (a change made in place) there is nothing to undo,
  // but the closing flush is the same.
  const bool begun = write_depth_ == 1;
  write_depth_ = 0;
  if (begun) AttachUndo(nullptr);
  MarkWritten();
  // Only a write that changed keys changes index pages.
  if (begun && in_transaction_ && force_index) JournalPagesAhead();
  if (!exclusive_) {
    try {
      FlushBuffers(false, force_data, force_index, force_blob, ForceBufferFlush());
    } catch (...) {
      if (begun) undo_.Restore();
      throw;
    }
  }
  // Without BeginWrite nothing was noted since the last clear.
  if (begun) undo_.Clear();
  // A long transaction's records past the file's end leave the cache.
  if (in_transaction_ && UsesJournal() && !read_only_) {
    if (data_->IsOpen()) data_->SpillRecords();
    if (index_->IsOpen()) index_->SpillPages();
  }
}

void TDataTable::FreeBuffers(bool adjust, bool reread_headers) {
  // What cursors built from the cached records and pages is stale too.
  NoteChange();
  if (data_->IsOpen()) {
    data_->FreeRecordBuffers();
    if (adjust) data_->AdjustRecordBuffers();
    if (reread_headers) data_->ReadHeader();
  }
  if (index_->IsOpen()) {
    index_->FreePageBuffers(true);
    if (adjust) index_->AdjustPageBuffers();
    if (reread_headers) index_->ReadHeader();
  }
  if (HasBlobs() && blob_->IsOpen()) {
    blob_->FreeBlockBuffers();
    if (adjust) blob_->AdjustBlockBuffers();
    if (reread_headers) blob_->ReadHeader();
  }
}

void TDataTable::FlushOSBuffers() {
  if (read_only_ || ForceBufferFlush()) return;
  if (data_->IsOpen()) data_->Flush();
  if (index_->IsOpen()) index_->Flush();
  if (HasBlobs() && blob_->IsOpen()) blob_->Flush();
}

// ---- memory image ----------------------------------------------------------

namespace {
constexpr std::uint64_t kImageStep = 65535;
}

std::vector<TFileHandler*> TDataTable::ImageFiles() {
  std::vector<TFileHandler*> files{data_.get(), index_.get()};
  if (HasBlobs()) files.push_back(blob_.get());
  return files;
}

void TDataTable::LockSections(bool lock) {
  if (lock == sections_locked_) return;
  for (TFileHandler* file : ImageFiles()) {
    if (lock) file->LockFileHandler();
    else file->UnlockFileHandler();
  }
  sections_locked_ = lock;
}

void TDataTable::ResizeMemoryBuffer(std::uint64_t size) {
  if (size == 0) {
    image_.clear();
    image_.shrink_to_fit();
    return;
  }
  std::uint64_t rounded = (size + kImageStep - 1) / kImageStep * kImageStep;
  if (rounded > 0xFFFFFFFFu) Fail(err::kInvalidMemoryLength);
  if (rounded > image_.size()) image_.resize(rounded, 0);
}

std::uint32_t TDataTable::GetBufferSize() const {
  return ImageUsable() ? static_cast<std::uint32_t>(image_.size()) : 0;
}

void TDataTable::BeginBufferLoad() {
  if (!ImageUsable()) return;
  FlushBuffers(false, false, false, false, false);
  LockSections(true);
  std::vector<TFileHandler*> files = ImageFiles();
  std::uint64_t total = 0;
  for (TFileHandler* file : files) total += 4 + static_cast<std::uint64_t>(file->GetSize());
  image_.clear();
  ResizeMemoryBuffer(total);
  std::uint64_t at = 0;
  for (TFileHandler* file : files) {
    auto length = static_cast<std::uint32_t>(file->GetSize());
    rtl::EncodeFixed32(image_.data() + at, length);
    ReadAt(*file, 0, image_.data() + at + 4, length);
    at += 4 + std::uint64_t{length};
  }
}

std::uint32_t TDataTable::LoadFromBuffer(void* destination, std::uint32_t offset, std::uint32_t count) {
  if (!ImageUsable() || offset >= image_.size()) return 0;
  std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, image_.size() - offset));
  std::copy_n(image_.data() + offset, n, static_cast<std::uint8_t*>(destination));
  return n;
}

void TDataTable::EndBufferLoad() {
  if (!ImageUsable()) return;
  ResizeMemoryBuffer(0);
  LockSections(false);
}

void TDataTable::BeginBufferSave() {
  if (ImageUsable()) LockSections(true);
}

std::uint32_t TDataTable::SaveToBuffer(const void* source, std::uint32_t offset, std::uint32_t count) {
  if (!ImageUsable()) return 0;
  if (count == 0) {
    ResizeMemoryBuffer(offset);
    return 0;
  }
  ResizeMemoryBuffer(std::uint64_t{offset} + count);
  std::copy_n(static_cast<const std::uint8_t*>(source), count, image_.data() + offset);
  return count;
}

void TDataTable::EndBufferSave() {
  if (!ImageUsable()) return;
  struct Release {
    TDataTable* table;
    ~Release() {
      table->ResizeMemoryBuffer(0);
      table->LockSections(false);
    }
  } release{this};
  std::vector<TFileHandler*> files = ImageFiles();
  if (image_.empty()) {
    data_->ClearHeader();
    index_->ClearHeader();
    if (HasBlobs()) blob_->ClearHeader();
    FlushBuffers(true, true, true, true, false);
    FreeBuffers(true, false);
    return;
  }
  // Every part must lie inside the image before anything is written.
  struct Part {
    std::uint64_t at, length;
  };
  std::vector<Part> parts;
  std::uint64_t at = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (at + 4 > image_.size()) Fail(err::kHeaderCorrupt);
    std::uint64_t length = rtl::DecodeFixed32(image_.data() + at);
    if (at + 4 + length > image_.size()) Fail(err::kHeaderCorrupt);
    parts.push_back({at + 4, length});
    at += 4 + length;
  }
  // The image must be of this table: the same header shape and definitions.
  const std::uint8_t* dat = image_.data() + parts[0].at;
  std::uint64_t definitions = data_->DataStart() - kDataHeaderSize;
  if (parts[0].length < data_->DataStart() || parts[1].length < kIndexHeaderSize) Fail(err::kHeaderCorrupt);
  TDataHeader image_header;
  image_header.Decode(dat);
  const TDataHeader& own = data_->GetHeader();
  std::vector<std::uint8_t> own_definitions(definitions);
  ReadAt(*data_, kDataHeaderSize, own_definitions.data(), static_cast<std::int64_t>(definitions));
  if (image_header.FieldCount != own.FieldCount || image_header.RecordSize != own.RecordSize ||
      image_header.BlobFieldCount != own.BlobFieldCount || image_header.Encrypted != own.Encrypted ||
      image_header.BlobBlockSizeRaw != own.BlobBlockSizeRaw ||
      !std::equal(own_definitions.begin(), own_definitions.end(), dat + kDataHeaderSize))
    Fail(err::kHeaderCorrupt);
  for (std::size_t i = 0; i < files.size(); ++i) {
    WriteAt(*files[i], 0, image_.data() + parts[i].at, static_cast<std::int64_t>(parts[i].length));
    WriteAt(*files[i], parts[i].length, nullptr, 0);
  }
  MarkWritten();
  FreeBuffers(true, true);
}

}  // namespace korvex
