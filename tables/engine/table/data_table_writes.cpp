// TDataTable: one write (BeginWrite, EndWrite, UndoWrite) and the index
// pages it journals ahead inside a transaction.
#include "tables/engine/table/data_table.h"

namespace korvex {

void TDataTable::AttachUndo(TWriteUndo* undo) {
  data_->AttachUndo(undo);
  index_->AttachUndo(undo);
  blob_->AttachUndo(undo);
}

void TDataTable::BeginWrite() {
  // A table writing alone keeps its writes cached only up to the caches'
  // budgets: past them they go to the files (under the journal, as every
  // flush) before the next write, so that a rewrite of a large table holds
  // no more than that, and a flush that fails fails that write, which has
  // not begun, while the writes before it stay in the caches.
  if (write_depth_ == 0 && exclusive_ && !in_transaction_ && !read_only_ && CachesPastBudget())
    FlushBuffers(true, false, false, false, false);
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

bool TDataTable::CachesPastBudget() const {
  return (data_->IsOpen() && data_->HoldsPastBudget()) || (index_->IsOpen() && index_->HoldsPastBudget()) ||
         (HasBlobs() && blob_->IsOpen() && blob_->HoldsPastBudget());
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

}  // namespace korvex
