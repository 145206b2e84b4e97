// A flush's batches on their threads: the journal's sync and the batch's
// file writes behind it, batches following one another, and the files'
// syncs started early.
#include <atomic>
#include <exception>

#include "tables/engine/cache/journal.h"
#include "tables/lib/abstract_file.h"
#include "tables/engine/cache/journal_hooks.h"
#include "tables/engine/errors/errors.h"

namespace korvex {
namespace {

// Batches launched behind one still being written (see WriteBatch).
constexpr std::size_t kFollowingBatches = 2;
std::atomic<std::size_t> most_batches_kept{0};

}  // namespace

std::size_t TJournal::MostBatchesKept() { return most_batches_kept; }
void TJournal::ResetMostBatchesKept() { most_batches_kept = 0; }

void TJournal::WriteSpanList() {
  std::vector<rtl::TByteSpan> out;
  for (const TSpanWrite& w : writes_) {
    out.assign(parts_.begin() + static_cast<std::ptrdiff_t>(w.first_part),
               parts_.begin() + static_cast<std::ptrdiff_t>(w.first_part + w.parts));
    jnl::Step();
    files_[w.file]->WriteSpans(w.position, out);
  }
  writes_.clear();
  parts_.clear();
}

void TJournal::LaunchBatch(bool sync_journal, std::future<void> before) {
  launched_ = true;
  // Each write is counted (and stepped) here, on the flush's thread.
  std::vector<std::function<void()>> writes;
  std::vector<bool> written(files_.size(), false);
  std::vector<rtl::TByteSpan> spans;
  for (const TSpanWrite& w : writes_) {
    spans.assign(parts_.begin() + static_cast<std::ptrdiff_t>(w.first_part),
                 parts_.begin() + static_cast<std::ptrdiff_t>(w.first_part + w.parts));
    jnl::Step();
    writes.push_back(files_[w.file]->DeferredSpans(w.position, std::move(spans)));
    written[w.file] = true;
  }
  writes_.clear();
  parts_.clear();
  // A file written here whose sync the flush has asked for is likely done:
  // its sync follows its writes on the same thread (the commit still syncs
  // it should anything be written to it later).
  std::vector<std::function<void()>> syncs;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (!written[i] || !held_syncs_[i] || file_syncs_[i].valid() || early_synced_[i]) continue;
    std::function<void()> sync = files_[i]->EarlySync();
    if (!sync) continue;
    syncs.push_back(std::move(sync));
    early_synced_[i] = true;
  }
  // The writes wait for the batch before them and the journal's sync, on
  // the thread that makes them.
  auto done = std::make_shared<std::promise<void>>();
  journal_sync_ = done->get_future();
  batch_tasks_.push_back(std::async(std::launch::async, [file = file_.get(), path = path_, writes = std::move(writes),
                                                syncs = std::move(syncs), done, sync_journal,
                                                before = std::move(before)]() mutable {
    try {
      if (before.valid()) before.get();
      if (sync_journal && !jnl::SyncJournal(*file)) RaiseError(err::kWriteError, path, {}, {}, SystemReason());
      for (const std::function<void()>& write : writes) write();
    } catch (...) {
      done->set_exception(std::current_exception());
      return;
    }
    done->set_value();
    for (const std::function<void()>& sync : syncs) sync();
  }));
}

void TJournal::GiveRetired() {
  for (TJournalScratch& scratch : retired_) GiveScratch(scratch);
  retired_.clear();
}

void TJournal::WritePending() {
  if (!pending_) return;
  pending_ = false;
  // Raises when the sync or a write failed: the flush fails (before the
  // writes left to make here, if any).
  journal_sync_.get();
  WriteSpanList();
  GiveScratch(pending_held_);
  GiveScratch(pending_spans_);
  GiveRetired();
  // A file whose sync the flush has asked for and that has no writes held
  // is likely done: its bytes start going to disk now, while the flush
  // goes on (the commit still syncs it after its last write).
  std::vector<bool> written(files_.size(), false);
  for (const THeldWrite& w : held_) written[w.file] = true;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (!held_syncs_[i] || written[i] || file_syncs_[i].valid() || early_synced_[i]) continue;
    std::function<void()> sync = files_[i]->EarlySync();
    if (sync) file_syncs_[i] = std::async(std::launch::async, std::move(sync));
  }
}

void TJournal::JoinFileSyncs(bool raise) {
  // Every one is waited for before any error is passed on.
  std::exception_ptr failed;
  if (journal_sync_.valid()) {
    try {
      journal_sync_.get();
    } catch (...) {
      failed = std::current_exception();
    }
  }
  for (std::future<void>& task : batch_tasks_) {
    try {
      task.get();
    } catch (...) {
      if (!failed) failed = std::current_exception();
    }
  }
  batch_tasks_.clear();
  early_synced_.assign(files_.size(), false);
  for (std::future<void>& sync : file_syncs_) {
    if (!sync.valid()) continue;
    try {
      sync.get();
    } catch (...) {
      if (!failed) failed = std::current_exception();
    }
  }
  if (failed && raise) std::rethrow_exception(failed);
}

bool TJournal::CanFollow(bool on_disk, bool bridges) const {
  // At most kFollowingBatches batches wait on their thread behind one
  // another: each keeps its held bytes until its writes are made, and a
  // flush that encodes faster than its thread writes (a million appends)
  // held every batch of the flush at once (200 MB of 8 MB batches).
  return pending_ && on_disk && retired_.size() < 2 * kFollowingBatches && !bridges;
}

void TJournal::LaunchFollowing(bool synced) {
  if (synced) jnl::Step();
  std::future<void> before;
  if (pending_) {
    // Its buffers stay until it has been written.
    before = std::move(journal_sync_);
    retired_.push_back(std::move(pending_held_));
    retired_.push_back(std::move(pending_spans_));
    // Those retired, the one just written and the one launched now.
    const std::size_t kept = retired_.size() / 2 + 1;
    if (kept > most_batches_kept) most_batches_kept = kept;
    pending_held_ = TJournalScratch{};
    pending_spans_ = TJournalScratch{};
    pending_ = false;
  }
  LaunchBatch(synced, std::move(before));
  KeepHeldPending();
}

void TJournal::SyncInBackground() {
  jnl::Step();
  journal_sync_ = std::async(std::launch::async, [file = file_.get(), path = path_] {
    if (!jnl::SyncJournal(*file)) RaiseError(err::kWriteError, path, {}, {}, SystemReason());
  });
  KeepHeldPending();
}

void TJournal::KeepHeldPending() {
  // The journal's buffer serves the held writes that follow.
  std::swap(pending_held_, held_data_);
  std::swap(pending_spans_, spans_);
  GiveScratch(batch_);
  pending_ = true;
}

void TJournal::SyncHeldFiles() {
  // Two files or more with writes still to sync (the data file and the
  // index file of an append): each starts on a thread of its own, so that
  // their waits overlap rather than follow one another; each one's Flush
  // below then finds little or nothing left to write back.
  std::vector<std::size_t> unsynced;
  for (std::size_t i = 0; i < files_.size(); ++i)
    if (held_syncs_[i] && !file_syncs_[i].valid() && !early_synced_[i] && files_[i]->HasUnsyncedWrites())
      unsynced.push_back(i);
  if (unsynced.size() > 1) {
    for (std::size_t i : unsynced) {
      std::function<void()> sync = files_[i]->EarlySync();
      if (sync) file_syncs_[i] = std::async(std::launch::async, std::move(sync));
    }
  }
  // Syncs started early must have ended well before the commit point.
  JoinFileSyncs(true);
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (!held_syncs_[i]) continue;
    files_[i]->Flush();
    held_syncs_[i] = false;
  }
}

}  // namespace korvex
