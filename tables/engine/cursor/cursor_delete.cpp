// TDataCursor: deleting the current record and giving its place to the free chain.
#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/cursor/write_scope.h"
#include "tables/engine/table/data_table.h"

namespace korvex {

void TDataCursor::DeleteRecord(const std::uint8_t* buffer, bool reposition) {
  RequireOpen();
  CheckNotReadOnly();
  if (bof_ || eof_ || current_ == 0) Fail(err::kNoCurrentRecord);
  TWriteScope scope(*this);
  const std::uint32_t n = current_;
  if (!exclusive_ && buffer && CurrentRecordDiffers(buffer)) Fail(err::kRecordChanged);
  UserWriteLockRecord(n);
  ScopeExit unlock{[&] {
    try {
      UserWriteUnlockRecord(n);
    } catch (...) {
    }
  }};
  TDataFile& data = table_->DataFile();
  TRecord* record = FetchRecord(n, 1);
  if (record->Deleted()) {
    data.PutRecord(record);
    Fail(err::kRecordChanged);
  }
  std::vector<std::uint8_t>& old = deleted_image_;
  old.assign(record->Data.begin(), record->Data.end());
  // Without BLOBs nothing between here and the record's release touches
  // the data cache: the record stays held (never evicted) and is released
  // through this one fetch.
  const bool blobs = table_->HasBlobs();
  ScopeExit put{[&] {
    if (record) data.PutRecord(record);
  }};
  if (blobs) {
    data.PutRecord(record);
    record = nullptr;
  }
  // In an index's order without a range or filters, the key after the
  // removed one is where the cursor goes: the removal reads it on the way.
  const bool follow = reposition && !IsPhysicalNavigation() && index_pos_ != kSystemSlot && !range_active_ &&
                      !filters_in_force_;
  TIndexTree::TFollower& next = deleted_next_;
  next.known = false;
  std::array<std::uint8_t, kMaxKeySize> key{};
  for (std::uint8_t slot : KeyedPositions()) {
    BuildKey(slot, old.data(), key.data());
    // The search that found the record left its path in this index (a
    // walk since then has moved on to other records).
    const bool searched = slot == found_path_slot_ && found_path_.Depth != 0 && found_path_record_ == n;
    RemoveKey(slot, key.data(), follow && slot == index_pos_ ? &next : nullptr, searched ? &found_path_ : nullptr);
  }
  found_path_.Depth = 0;
  {
    std::array<std::uint8_t, kMaxKeySize> deleted{};
    BuildKey(kSystemSlot, old.data(), key.data());
    std::copy(key.begin(), key.begin() + kRecordIDKeySize + 1, deleted.begin());
    deleted[0] = 1;
    ReplaceSystemKey(key.data(), deleted.data(), n);
  }
  ReleaseRecord(old, n, std::exchange(record, nullptr));
  current_record_.assign(old.begin(), old.end());
  unread_ = 0;
  current_record_[0] = 1;
  CompleteCurrent();
  Flush(blobs);
  FilterRecordDeleted(n);
  // The write is in the files: failing to find its place again (a read
  // error) leaves the cursor before the first record rather than report a
  // write that took place as failed.
  if (reposition) {
    try {
      if (!next.known) {
        RepositionCurrentRecord();
      } else if (next.rank == 0) {
        current_ = 0;
        bof_ = false;
        eof_ = true;
      } else {
        // Read when asked for: a removal's next step is mostly a lookup
        // elsewhere.
        PlaceAt(next.rank, next.key, next.record, true);
      }
    } catch (...) {
      SetToBegin();
    }
  }
}

void TDataCursor::ReleaseRecord(std::vector<std::uint8_t>& old, std::uint32_t n, TRecord* held) {
  const bool blobs = table_->HasBlobs();
  if (blobs) DeleteAllBlobs(old, n);
  TDataFile& data = table_->DataFile();
  TRecord* record = held ? held : FetchRecord(n, 1);
  if (blobs) ClearBlobReferences(record->Data.data());
  data.SetNextFreeRecord(record);
  record->Modified = true;
  data.PutRecord(record);
  table_->IndexFile().DecActualRecordCount();
}

}  // namespace korvex
