// TDataCursor::TWriteScope: one write under the table's write lock, undone unless it completes.
//
// Every write holds the table's write lock and, while it changes a record,
// that record's lock.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_table.h"

namespace korvex {

// Holds the table's write lock for one write and makes it one undoable
// step: unless it ends through Flush, the table's caches and headers and
// the cursor's position go back to what they were before it.
class TDataCursor::TWriteScope {
public:
  explicit TWriteScope(TDataCursor& cursor)
      : cursor_(cursor), current_(cursor.current_), unread_(cursor.unread_), bof_(cursor.bof_), eof_(cursor.eof_) {
    // The copy goes into a buffer an earlier write gave back: a write takes
    // no memory for it.
    if (!cursor_.spare_records_.empty()) {
      record_.swap(cursor_.spare_records_.back());
      cursor_.spare_records_.pop_back();
    }
    record_.assign(cursor_.current_record_.begin(), cursor_.current_record_.end());
    cursor_.table_->WriteLockTable();
    try {
      cursor_.table_->BeginWrite();
    } catch (...) {
      Unlock();
      throw;
    }
  }
  ~TWriteScope() {
    if (cursor_.table_->WriteDepth() == depth_) {
      try {
        cursor_.table_->UndoWrite();
      } catch (...) {
      }
      cursor_.current_ = current_;
      cursor_.bof_ = bof_;
      cursor_.eof_ = eof_;
      cursor_.current_record_.swap(record_);
      cursor_.unread_ = unread_;
    }
    try {
      if (cursor_.spare_records_.size() < kSpareRecords) cursor_.spare_records_.push_back(std::move(record_));
    } catch (...) {
    }
    Unlock();
  }
  TWriteScope(const TWriteScope&) = delete;
  TWriteScope& operator=(const TWriteScope&) = delete;

private:
  static constexpr std::size_t kSpareRecords = 4;
  void Unlock() {
    try {
      cursor_.table_->WriteUnlockTable();
    } catch (...) {
    }
  }
  TDataCursor& cursor_;
  std::uint32_t current_, unread_;
  bool bof_, eof_;
  std::vector<std::uint8_t> record_;
  int depth_ = cursor_.table_->WriteDepth() + 1;
};

}  // namespace korvex
