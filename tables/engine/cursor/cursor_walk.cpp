// TDataCursor: reading records and walking the table in physical order.
//
// Every read holds the table's internal read lock for its duration (taking
// it runs the table's change detection, which drops stale caches).
#include <algorithm>
#include <cstring>
#include <utility>

#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_table.h"

namespace korvex {

TRecord* TDataCursor::FetchRecord(std::uint32_t n, int direction, std::uint8_t* alone) {
  TDataFile& data = table_->DataFile();
  for (int attempt = 0;; ++attempt) {
    TRecord* record = nullptr;
    // false: the table found foreign changes and dropped its caches.
    if (data.GetRecord(this, n, true, true, direction, record, alone)) return record;
    if (attempt == 3) Fail(err::kLockFailure);
  }
}

TRecord* TDataCursor::FetchRecordAlone(std::uint32_t n) {
  TDataFile& data = table_->DataFile();
  for (int attempt = 0;; ++attempt) {
    TRecord* record = nullptr;
    if (data.GetRecord(this, n, false, false, 1, record)) return record;
    if (attempt == 3) Fail(err::kLockFailure);
  }
}

std::uint32_t TDataCursor::Neighbour(std::uint32_t n, int direction, bool* load) {
  TDataFile& data = table_->DataFile();
  const std::uint32_t end = data.GetPhysicalRecordsUsed() + 1;
  if (filters_in_force_) {
    // The filter bitmap names the visible records: no other is read.
    const TRecordsBitmap& bits = filters_->Combined();
    std::int32_t record = static_cast<std::int32_t>(direction > 0 ? n : std::min(n, end));
    std::int32_t position = 0;
    if (direction < 0 && record > bits.NumOfBits()) record = bits.NumOfBits() + 1;
    while (direction > 0 ? bits.GetNextBitsSet(record, 1, position) : bits.GetPreviousBitsSet(record, 1, position)) {
      const auto m = static_cast<std::uint32_t>(record);
      if (m < 1 || m >= end) break;
      // A window is read ahead only where the visible records lie close.
      const std::uint32_t gap = m > n ? m - n : n - m;
      TRecord* found = gap <= 1 ? FetchRecord(m, direction) : FetchRecordAlone(m);
      const bool live = !found->Deleted();
      data.PutRecord(found);
      if (live) return m;
    }
    return 0;
  }
  for (std::uint32_t m = direction > 0 ? n + 1 : std::min(n, end) - 1; m >= 1 && m < end; m += direction) {
    if (load && (walk_past_cache_ || table_->GetTransactionInProgress())) {
      // Inside a transaction a walk in file order reads through the file's
      // scan window, past the cache: a record it passes takes no cache
      // entry until it is written (the write takes its bytes from the
      // window). Elsewhere the walk fills the cache, which a sort then
      // serves from, unless the cursor walks past the cache.
      walk_record_.resize(data.GetRecordSize());
      for (int attempt = 0; !data.ScanRecord(this, m, walk_record_.data()); ++attempt)
        if (attempt == 3) Fail(err::kLockFailure);
      if (walk_record_[0] != 0) continue;  // deleted
      current_record_.swap(walk_record_);
      unread_ = 0;
      *load = true;
      return m;
    }
    TRecord* record = FetchRecord(m, direction);
    bool live = !record->Deleted();
    if (live && load) {
      // The bytes in hand: no second look-up to load them.
      current_record_.assign(record->Data.begin(), record->Data.end());
      unread_ = 0;
      *load = true;
    }
    data.PutRecord(record);
    if (live) return m;
  }
  return 0;
}

void TDataCursor::LoadCurrent(std::uint32_t n) {
  TDataFile& data = table_->DataFile();
  // The record a removal moved on to unread is read as that step would
  // have read it.
  const bool unread = std::exchange(unread_, 0) == n && n == current_;
  const bool step = unread || (current_ != 0 && n == current_ + 1 && n <= data.GetPhysicalRecordsUsed());
  // A read that fails leaves it unread, to be read when next asked for.
  bool read = false;
  ScopeExit keep{[&] {
    if (unread && !read) unread_ = n;
  }};
  if (!unread && step && current_ == stepped_from_ + 1) {
    // The record after the one before, twice over (a walk by an index
    // whose order follows the file, as a key of appended records does):
    // read through the file's scan window, a long read ahead past the
    // cache, straight into the current record.
    current_record_.resize(data.GetRecordSize());
    for (int attempt = 0; !data.ScanRecord(this, n, current_record_.data()); ++attempt)
      if (attempt == 3) Fail(err::kLockFailure);
  } else {
    // One step (a removal's cursor moving on to the next key, a record
    // found by key and then its successor): that record alone, not the
    // window after it.
    // A record met at random (a lookup) may come straight from the file,
    // without a cache entry: into a buffer of its own first, so that a
    // read that fails leaves the current record whole.
    alone_record_.resize(data.GetRecordSize());
    if (TRecord* record = step ? FetchRecordAlone(n) : FetchRecord(n, 1, alone_record_.data())) {
      current_record_ = record->Data;
      data.PutRecord(record);
    } else {
      current_record_.swap(alone_record_);
    }
  }
  read = true;
  if (!unread) stepped_from_ = current_;
  current_ = n;
  left_ = 0;
  bof_ = eof_ = false;
  CompleteCurrent();
}

TEngineErrorCode TDataCursor::CopyCurrent(std::uint8_t* buffer, TEngineErrorCode status) {
  if (status != 0) {
    if (buffer) ClearRecord(buffer);
    return status;
  }
  // Every read of a record passes here: the call only when one waits.
  if (unread_ != 0) Settle();
  if (buffer) std::memcpy(buffer, current_record_.data(), record_size_);
  return 0;
}

void TDataCursor::SetToBegin() {
  if (!IsPhysicalNavigation()) {
    // Before the first visible record; on an empty range both flags.
    ReadLock();
    ScopeExit release{[&] { ReadUnlock(); }};
    if (!GotoFirstIndexPosition()) return;
  }
  current_ = 0;
  bof_ = true;
  // No visible record at all: both flags, as under an index.
  eof_ = IsPhysicalNavigation() &&
         (filters_in_force_ ? filters_->FilteredCount() : table_->IndexFile().GetActualRecordCount()) == 0;
}

void TDataCursor::SetToEnd() {
  if (!IsPhysicalNavigation()) {
    ReadLock();
    ScopeExit release{[&] { ReadUnlock(); }};
    if (!GotoLastIndexPosition()) return;
  }
  current_ = 0;
  bof_ = false;
  eof_ = true;
}

TEngineErrorCode TDataCursor::GetNextRecord(std::uint8_t* buffer) {
  RequireOpen();
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  if (!IsPhysicalNavigation()) return IndexMove(buffer, 1);
  // Both flags: no current record; either way starts from its end.
  if (eof_ && !bof_) return CopyCurrent(buffer, err::kEndOfFile);
  bool loaded = false;
  std::uint32_t n = Neighbour(bof_ ? 0 : current_, 1, &loaded);
  if (n == 0) {
    SetToEnd();
    return CopyCurrent(buffer, err::kEndOfFile);
  }
  if (loaded) {
    current_ = n;
    bof_ = eof_ = false;
    CompleteCurrent();
  } else {
    LoadCurrent(n);
  }
  return CopyCurrent(buffer, 0);
}

TEngineErrorCode TDataCursor::GetPriorRecord(std::uint8_t* buffer) {
  RequireOpen();
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  if (!IsPhysicalNavigation()) return IndexMove(buffer, -1);
  if (bof_ && !eof_) return CopyCurrent(buffer, err::kBeginningOfFile);
  std::uint32_t from = eof_ ? table_->DataFile().GetPhysicalRecordsUsed() + 1 : current_;
  std::uint32_t n = Neighbour(from, -1);
  if (n == 0) {
    SetToBegin();
    return CopyCurrent(buffer, err::kBeginningOfFile);
  }
  LoadCurrent(n);
  return CopyCurrent(buffer, 0);
}

}  // namespace korvex
