// The journal's course through a flush: the journal file opened and
// kept, the flush begun, its header, its entries for writes made at once,
// its loose end settled and its commit point.
#include "tables/engine/cache/journal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "tables/engine/cache/cache_io.h"
#include "tables/engine/cache/journal_codec.h"
#include "tables/engine/cache/journal_hooks.h"
#include "tables/engine/errors/errors.h"
#include "tables/lib/abstract_file.h"

namespace korvex {
namespace {

// Tries at making or opening a journal that another process holds alone
// for a moment (2 ms apart).
constexpr int kOpenAttempts = 1000;
// A journal grown past this is cut back to it when its flush ends.
constexpr std::int64_t kKeptBytes = std::int64_t{64} << 20;

std::atomic<int> committed{0};

}  // namespace

TJournal::~TJournal() {
  JoinAhead();
  Stop();
}

bool TJournal::OpenFile(const std::string& path, bool create) {
  if (file_ && file_path_ == path && (file_->Writable() || !create)) return true;
  // The thread journaling ahead writes through the file let go here.
  DropAhead();
  SettleQuietly();
  file_.reset();
  file_path_.clear();
  int rc = 0;
  // A journal being made is held alone for a moment, and one being removed
  // until it is gone: a reader's look at it then makes the maker's claim
  // fail, and the remover's hold the opener's. A writer about to start its
  // flush waits such moments out and opens (or makes) the journal again,
  // rather than failing the write.
  for (int attempt = 0;; ++attempt) {
    rc = rtl::TLockedFile::Open(path, rtl::FileAccess::ReadWrite, rtl::FileShare::Shared, file_);
    if (rc == -EACCES && !create) rc = rtl::TLockedFile::Open(path, rtl::FileAccess::Read, rtl::FileShare::Shared, file_);
    if (rc == -ENOENT && create) {
      // The old bytes are the table's: the journal is made private, and its
      // header writer gives it the table's permissions.
      std::unique_ptr<rtl::TLockedFile> made;
      rc = rtl::TLockedFile::Create(path, true, made, 0600);
      made.reset();
      if (rc == 0 || rc == -EEXIST) {
        rc = rtl::TLockedFile::Open(path, rtl::FileAccess::ReadWrite, rtl::FileShare::Shared, file_);
        if (rc == -ENOENT) rc = -EBUSY;  // made, then removed by another: again
      }
    }
    // A missing folder (ENOENT from the making) fails at once.
    if (!create || rc != -EBUSY || attempt >= kOpenAttempts) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (rc != 0) {
    file_.reset();
    return false;
  }
  file_path_ = path;
  journal_status_known_ = false;
  return true;
}

void TJournal::FollowTablePermissions() {
  if (!table_status_known_) {
    if (!files_.empty() && files_[0] != nullptr) rtl::CopyFileOwnership(files_[0]->FileName(), path_);
    return;
  }
  const bool same = journal_status_known_ && journal_status_.Mode == table_status_.Mode &&
                    journal_status_.Group == table_status_.Group;
  if (!same)
    journal_status_known_ = file_->FollowOwnership(table_status_.Mode, table_status_.Group, journal_status_) == 0;
}

void TJournal::Close() {
  DropAhead();
  Stop();
  started_ = false;
  SettleQuietly();
  file_.reset();
  file_path_.clear();
}

void TJournal::Begin(const std::string& path, std::vector<TFileHandler*> files, bool sync) {
  JoinAhead();
  // A flush that never syncs cannot take over from one whose end is not on
  // disk yet (see the top).
  if (!sync) Settle();
  path_ = path;
  sync_ = sync;
  started_ = false;
  DropHeld();
  TakeOverAhead(path, files);
  if (!adopted_) entries_from_ = EntriesStart();
  old_lengths_.clear();
  // One look at a data file on disk gives its length and its permissions.
  auto* disk = files.empty() || files[0] == nullptr || !files[0]->IsOpen()
                   ? nullptr
                   : dynamic_cast<TPhysicalFile*>(files[0]->File());
  table_status_known_ = disk != nullptr && disk->DiskFile() != nullptr && disk->DiskFile()->Status(table_status_) == 0;
  for (TFileHandler* f : files) {
    if (f == files.front() && table_status_known_) old_lengths_.push_back(table_status_.Size);
    else old_lengths_.push_back(f != nullptr && f->IsOpen() ? f->GetSize() : 0);
  }
  shortest_ = old_lengths_;
  files_ = std::move(files);
  held_syncs_.assign(files_.size(), false);
  file_syncs_.clear();
  file_syncs_.resize(files_.size());
  early_synced_.assign(files_.size(), false);
  launched_ = false;
  for (TFileHandler* f : files_)
    if (f != nullptr) f->SetObserver(this);
}

void TJournal::Stop() {
  // A sync still under way ends before the files are let go (its error, if
  // any, no longer matters: the flush is over or failed).
  JoinFileSyncs(false);
  pending_ = false;
  writes_.clear();
  parts_.clear();
  GiveScratch(pending_held_);
  GiveScratch(pending_spans_);
  GiveRetired();
  adopted_ = false;
  ahead_done_ = TUnitSet{};
  for (TFileHandler* f : files_)
    if (f != nullptr) f->SetObserver(nullptr);
  files_.clear();
  held_.clear();
  held_bytes_ = 0;
  GiveBuffers();
}

void TJournal::DropHeld() {
  held_.clear();
  held_data_.clear();
  held_bytes_ = 0;
  held_syncs_.assign(held_syncs_.size(), false);
}

int TJournal::IndexOf(const TFileHandler& file) const {
  auto it = std::find(files_.begin(), files_.end(), &file);
  return it == files_.end() ? -1 : static_cast<int>(it - files_.begin());
}

std::vector<std::uint8_t> TJournal::NewHeader() {
  if (!OpenFile(path_, true) || !file_->Writable()) RaiseError(err::kWriteError, path_);
  // The table's permissions may have changed since the journal was made.
  FollowTablePermissions();
  // Entries journaled ahead were sealed with the salt they were given.
  if (!adopted_) salt_ = jnl::FreshSalt();
  std::vector<std::uint8_t> header = jnl::EncodeHeader(old_lengths_, salt_, entries_from_);
  header_ = header;
  return header;
}

void TJournal::WriteHeader() {
  if (started_) return;
  WriteHeaderBytes(NewHeader());
}

void TJournal::WriteHeaderBytes(const std::vector<std::uint8_t>& header) {
  jnl::Step();
  if (file_->WriteAt(0, header.data(), static_cast<std::int64_t>(header.size())) !=
      static_cast<std::int64_t>(header.size()))
    RaiseError(err::kWriteError, path_, {}, {}, SystemReason());
  started_ = true;
  end_ = adopted_ ? ahead_end_ : entries_from_;
}

void TJournal::Sync() {
  if (!sync_) return;
  jnl::Step();
  if (!jnl::SyncJournal(*file_)) RaiseError(err::kWriteError, path_, {}, {}, SystemReason());
}

std::int64_t TJournal::EntriesStart() const {
  // Entries go right after the header unless the loose flush's lie there:
  // then past them (the header that names its start is a little longer,
  // and its last bytes may fall on the loose flush's first entry, which
  // only stops a playback of that flush before its first entry).
  if (!loose_ || loose_from_ > static_cast<std::int64_t>(jnl::kPlacedHeaderSize)) return jnl::kHeaderSize;
  return std::max(loose_to_, static_cast<std::int64_t>(jnl::kPlacedHeaderSize));
}

void TJournal::KeepClearOfLoose(std::int64_t from, std::int64_t to) {
  if (loose_ && from < loose_to_ && to > loose_from_) Settle();
}

void TJournal::Settle() {
  if (!loose_) return;
  jnl::Step();
  if (file_ && !jnl::SyncJournal(*file_)) RaiseError(err::kWriteError, file_path_, {}, {}, SystemReason());
  loose_ = false;
}

bool TJournal::SettleQuietly() noexcept {
  try {
    Settle();
    return true;
  } catch (...) {
    return false;
  }
}

void TJournal::Append(const std::uint8_t* record, std::size_t size) {
  WriteHeader();
  KeepClearOfLoose(end_, end_ + static_cast<std::int64_t>(size));
  jnl::Step();
  if (file_->WriteAt(end_, record, static_cast<std::int64_t>(size)) != static_cast<std::int64_t>(size))
    RaiseError(err::kWriteError, path_, {}, {}, SystemReason());
  end_ += static_cast<std::int64_t>(size);
  Sync();
}

bool TJournal::AddEntry(std::size_t index, std::int64_t position, std::int64_t count, TJournalScratch& out,
                        const std::uint8_t* current) {
  const std::int64_t old = std::min(old_lengths_[index], shortest_[index]);
  const std::int64_t end = count == 0 ? old : std::min(position + count, old);
  if (count == 0) shortest_[index] = std::min(shortest_[index], position);
  if (position >= end) return false;
  const auto length = static_cast<std::size_t>(end - position);
  std::uint8_t* entry = out.grow(jnl::EntrySize(length));
  jnl::EncodeEntryHead(entry, index, static_cast<std::uint32_t>(position), static_cast<std::uint32_t>(length));
  if (current != nullptr) std::memcpy(entry + jnl::kEntryHead, current, length);
  else ReadAt(*files_[index], static_cast<std::uint64_t>(position), entry + jnl::kEntryHead, end - position);
  jnl::SealEntry(entry, length, salt_);
  return true;
}

void TJournal::BeforeWrite(TFileHandler& file, std::int64_t position, std::int64_t count) {
  const int index = IndexOf(file);
  if (index < 0 || writing_held_) return;
  // What is held goes first (a cut may drop bytes it holds).
  WriteHeld(false);
  const bool started = started_;
  WriteHeader();
  TJournalScratch record;
  if (AddEntry(static_cast<std::size_t>(index), position, count, record)) {
    Append(record.data(), record.size());
  } else if (!started) {
    // A write past the old end: the old lengths go first, so that a
    // process killed now has its files cut back.
    Sync();
  }
  jnl::Step();
}

void TJournal::BeforeFlush(TFileHandler&) { jnl::Step(); }

void TJournal::Commit(bool settle) {
  WriteHeld(true);
  if (!started_) {
    Stop();
    return;
  }
  // Until the commit point has passed the flush can still be undone: the
  // journal keeps its files (a failure here plays it back).
  jnl::Step();
  // Invalidating the header is the commit point: a valid one left behind
  // would be played back over this flush.
  // A loose end is not synced: the next flush's header takes its place on
  // disk, or Settle syncs it (see the top).
  const bool loose = !settle && sync_ && end_ <= kKeptBytes;
  const bool ended = file_->WriteAt(0, jnl::kEndMark, sizeof jnl::kEndMark) == sizeof jnl::kEndMark && (!sync_ || loose || jnl::SyncJournal(*file_));
  if (!ended) {
    // Not known to be on disk: the header goes back, so that the undo (or,
    // should that fail, the next opener) puts the files back.
    const std::string reason = SystemReason();
    file_->WriteAt(0, header_.data(), static_cast<std::int64_t>(header_.size()));
    RaiseError(err::kWriteError, path_, {}, {}, reason);
  }
  if (sync_) {
    loose_ = loose;
    loose_from_ = entries_from_;
    loose_to_ = std::max(end_, entries_from_);
  }
  Stop();
  started_ = false;
  ++committed;
  jnl::Step();
  // Cut back to what is kept: freeing the blocks of a whole large journal
  // costs a commit more than all its other steps after the commit point.
  if (end_ > kKeptBytes) file_->Truncate(kKeptBytes);
}

int TJournal::Commits() { return committed; }

void TJournal::Abandon() {
  DropHeld();
  Stop();
  started_ = false;
}

}  // namespace korvex
