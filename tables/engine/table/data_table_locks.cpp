// TDataTable: waiting for locks, the internal read and write locks, the
// user read lock, and releasing every lock held at close.
#include <chrono>
#include <mutex>
#include <random>
#include <thread>

#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/engine/table/lock_ranges.h"

namespace korvex {
namespace {

// One generator per process picks the readers' bytes.
std::uint16_t RandomReadSlot() {
  static std::mutex lock;
  static std::mt19937 generator{static_cast<std::uint32_t>(
      std::chrono::steady_clock::now().time_since_epoch().count())};
  std::lock_guard<std::mutex> guard(lock);
  auto r = static_cast<std::uint16_t>(generator() % (kMaxReadLockSlot + 1));
  return r == 0 ? 1 : r;
}

// Runs every step; the first failure is raised after all ran.
template <class... Steps>
void AllThen(TEngineErrorCode code, const std::string& table, Steps... steps) {
  bool failed = false;
  ((failed |= !steps()), ...);
  if (failed) RaiseError(code, table);
}

}  // namespace

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

void TDataTable::ResetLockState() {
  user_read_lock_ = user_table_lock_ = table_lock_before_transaction_ = false;
  read_lock_ = write_lock_ = write_lock_in_process_ = transaction_lock_ = false;
  read_index_r_ = read_blob_r_ = user_index_r_ = user_blob_r_ = 0;
  for (TRecordsBitmap* bitmap : {&held_, &cursor_locks_, &deferred_}) bitmap->ClearBits();
  record_runs_.Clear();
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
    // The write lock holds its ranges unless taken inside a transaction.
    const bool write_ranges = write_lock_ && !write_lock_in_process_ && !exclusive_;
    if (write_ranges) {
      blob_->LockRegion(kFileWriteLockOffset, kFileWriteLockLength, false);
      index_->LockRegion(kFileWriteLockOffset, kFileWriteLockLength, false);
    }
    if (write_ranges || transaction_lock_) data_->LockRegion(kDataWriteLockOffset, 1, false);
  }
  ResetLockState();
}

}  // namespace korvex
