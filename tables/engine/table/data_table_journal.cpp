// TDataTable: its rollback journal: where it lies, playing back the one a
// dead writer left, and deleting one that has ended.
#include "platform/runtime/filelock.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/engine/table/lock_ranges.h"
#include "tables/lib/names.h"

namespace korvex {

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

void TDataTable::PlayBackDeadWriter() {
  if (UsesJournal() && journal_.Hot(JournalPath())) {
    // A dead writer's journal: play it back under the write lock first.
    WriteLockTable();
    WriteUnlockTable();
  }
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

}  // namespace korvex
