// TJournal: the rollback journal of a disk table, "<name>.JNL" beside its
// files. While a flush writes the table, every byte it is about to
// overwrite inside a file's old length is first copied to the journal;
// invalidating the journal's header ends the flush (the commit point). A
// journal found later with a valid header belongs to a writer that died
// inside a flush: playing it back puts the before-images back and cuts each
// file to its old length, so the files are as they were before that flush,
// never between.
//
// The file is kept from flush to flush (making and deleting a file for
// every flush costs far more than its writes) and each holder keeps it open
// in the shared mode. Every flush writes a new header with a fresh salt and
// its entries from there on; bytes of earlier flushes past them carry other
// salts and so never pass as this flush's. A journal grown past 64 MB is
// cut back to 64 MB when its flush ends.
//
// Layout (little-endian):
//   header  "QVJNL3\0\0", u32 old length of file 0, 1, 2, u32 salt,
//           u32 checksum; the entries follow it
//   or      "QVJNL4\0\0", u32 old length of file 0, 1, 2, u32 salt,
//           u32 where the entries begin, u32 checksum (a loose end, below)
//   entry   u8 file, u32 position, u32 length, the old bytes, u32 checksum
// A header's checksum is the CRC-32 of the bytes before it; an entry's is
// the low 32 bits of the XXH64 hash of its bytes before it, seeded with the
// salt. An ended journal's first eight bytes are zeros. Journals of the
// earlier layouts are still played back: "QVJNL2" (entry checksums CRC-32
// exclusive-or the salt) and "QVJNL1" (no salt, entry checksums CRC-32,
// deleted to commit).
//
// A loose end (Commit without settling: the commits a statement makes
// every so many rows inside its own transaction, which no caller is told
// of) writes the zeros that end the flush but does not sync them. The
// flush's files were synced before, so a power loss then leaves either
// the ended journal (the table after the flush) or the flush's synced
// header and entries (played back: the table before it), a whole flush
// either way, as long as nothing overwrites those entries while their
// header may still be on disk. So the next flush writes its entries
// elsewhere: right after the header when the loose flush's lie further
// on, else just past them, under a "QVJNL4" header that says where. Its
// header takes the loose one's place at offset 0 and is synced with its
// entries before any file byte is written, after which the loose flush's
// entries are free again; in between a power loss leaves the loose
// header with all its entries, or the new header with some of its own
// (which put back bytes no file write has changed yet), or the ended
// header. The new header's last four bytes may fall on the loose flush's
// first entry: a playback of that flush then stops before its first entry
// and the table stays as after it. Any other write that would reach the
// loose flush's entries (a flush larger than the room before them,
// entries journaled ahead), a flush that does not sync, the last commit
// of a transaction, a rollback, the end of a transaction's write lock,
// closing the journal and opening another first sync the ended header
// (Settle). A kill -9 leaves the zeros in the page cache, so the next
// opener finds the flush committed, as before.
//
// A flush's writes are held back (copied into one buffer) until it ends or
// has held 8 MB: then the old bytes of everything held that lies inside the
// files' old lengths are read, the header (on the first batch) and their entries are
// written to the journal (in writes of at most 1 MB) and synced once when
// the flush goes to disk, and only then are the held bytes written to the files, followed
// by the syncs the flush asked for. In a batch of many runs, runs less
// than 4 KB apart share one read and one write: the bytes between them are
// written back as they were read (no entry needed: a torn write leaves
// them as they are). So the header precedes every write of a flush (also
// one that only extends a file), entries always precede the bytes they
// protect, and a flush that fails before its first batch leaves the files
// untouched. Playback applies entries last first and stops at the first
// torn one (its file write never happened).
//
// Inside a transaction the files are not written until the flush that
// ends it, so the old bytes of index pages the transaction changes can be
// journaled before that flush begins (JournalAhead): on a thread of their
// own, as entries under a salt chosen then, from just past the header's
// place on. The header there stays invalid (an ended journal's), so they
// protect nothing yet, and a process killed meanwhile leaves a journal
// nobody plays back. The caller hands over the bytes of the pages it has
// at hand as the file holds them (read moments before); the thread reads
// the rest. The thread does not sync them: it only starts their
// writes to disk, and the flush's sync of its header finishes them (a sync
// per step made the thread fall behind the writes it journals, and the
// flush then journaled the rest itself). The flush takes them over when the files still have
// the lengths they had: its header carries their salt and is written
// apart, its own entries follow them, and the pages of its runs whose old
// bytes are journaled already get no entries of their own. The journal is synced after
// its header as before, so every entry is on disk before the bytes it
// protects are written.
//
// A full batch in the middle of a flush does not wait for its journal
// sync: a thread of its own syncs the journal and then makes the batch's
// writes to the files, while the flush goes on holding (and encoding in
// place) what follows; the next call that needs the journal or the files
// waits for them. A file written there whose sync the flush has asked for
// is synced by the same thread after its writes, and a file with nothing
// more held starts its sync when the flush next waits; the commit still
// syncs each file (at no cost when nothing was written since) before the
// commit point. Two files or more with writes left to sync at the end of
// a flush (the data and index files of an append) start their syncs
// together, each on a thread of its own, so that their waits overlap.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/runtime/filelock.h"
#include "tables/lib/file_handler.h"

namespace korvex {

// Byte buffers that grow without zero-filling what is about to be
// overwritten. A flush takes them from a spare set kept per thread and
// gives them back when it ends, so a large flush's memory serves the
// next one (of any table) without being mapped and faulted in again.
class TJournalScratch {
public:
  std::uint8_t* data() { return data_.get(); }
  const std::uint8_t* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  void clear() { size_ = 0; }
  // Room for `n` bytes; `exact` takes no more than that.
  void reserve(std::size_t n, bool exact);
  // `n` more bytes at the end, their content undefined.
  std::uint8_t* grow(std::size_t n);
  void append(const void* bytes, std::size_t n);

private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_ = 0, capacity_ = 0;
};

// Positions that are multiples of a unit (the pages of a file), a bit each.
class TUnitSet {
public:
  TUnitSet() = default;
  explicit TUnitSet(std::uint32_t unit) : unit_(unit) {}
  // False when it was there already.
  bool Insert(std::uint32_t position) {
    const std::size_t i = position / unit_;
    if (i / 64 >= bits_.size()) bits_.resize(i / 64 + 1);
    const std::uint64_t bit = std::uint64_t{1} << (i % 64);
    if ((bits_[i / 64] & bit) != 0) return false;
    bits_[i / 64] |= bit;
    return true;
  }
  bool Contains(std::uint32_t position) const {
    const std::size_t i = position / unit_;
    return i / 64 < bits_.size() && (bits_[i / 64] >> (i % 64) & 1) != 0;
  }

private:
  std::uint32_t unit_ = 1;
  std::vector<std::uint64_t> bits_;
};

class TJournal : public TFileObserver {
public:
  TJournal() = default;
  ~TJournal() override;

  // Starts watching the files (nullptr for a file the table lacks); `sync`
  // syncs each entry before the write it protects.
  void Begin(const std::string& path, std::vector<TFileHandler*> files, bool sync);
  // The flush is over: the journal's header is invalidated, and synced
  // unless `settle` is false (a loose end, see the top).
  void Commit(bool settle = true);
  // Syncs the ended header of a loose end, if there is one; raises when the
  // sync fails. SettleQuietly answers false instead.
  void Settle();
  bool SettleQuietly() noexcept;
  // Stops watching, leaving the journal valid on disk (to be played back).
  void Abandon();
  // The flush failed: plays the journal back at once (the files as they
  // were before it). Should that fail, the journal stays for the next
  // holder of the write lock.
  void Undo();
  // Undo on a failure path that raises its own error: a failing playback
  // is swallowed and leaves the journal for the next holder.
  void UndoQuietly() noexcept;
  bool Active() const { return !files_.empty(); }
  // Lets go of the journal file (the table closes).
  void Close();

  // Whether the journal at `path` holds a flush that never ended: a look
  // through the file kept open (opened on the first look that finds it).
  // Taken without the write lock, a true answer may be a live writer's.
  bool Hot(const std::string& path);
  // Under the write lock or an exclusive open: plays a journal left at
  // `path` back into the files and invalidates it; false when there was
  // none.
  bool Recover(const std::string& path, const std::vector<TFileHandler*>& files);

  // The same for a closed table's files, through an open of their own; a
  // played journal is deleted where no one else holds it.
  static bool IsHot(const std::string& path);
  static bool RecoverFile(const std::string& path, const std::vector<TFileHandler*>& files);

  // Test hook, run before every write and sync of a flush (journal
  // included).
  static void SetStepHook(std::function<void()> hook);
  // Test hook, run after every journal sync that succeeded (on the thread
  // that made it).
  static void SetSyncHook(std::function<void()> hook);
  // Inside a transaction whose files stay unwritten until its flush: the
  // old bytes of `count` bytes at each of `positions` of file `index` of
  // `files` (pages changed for the first time) are to be journaled ahead
  // of that flush (see the top). Positions past the file's end and those
  // given before are left out; `positions` is emptied. Does nothing while
  // a flush is under way.
  // `current` gives a position's bytes as the file holds them where the
  // caller has them at hand (nullptr: read from the file on the thread).
  void JournalAhead(const std::string& path, const std::vector<TFileHandler*>& files, std::size_t index,
                    std::vector<std::uint32_t>& positions, std::uint32_t count,
                    const std::function<const std::uint8_t*(std::uint32_t)>& current = {});
  // Forgets what was journaled ahead (a rollback, or the files are about
  // to be closed), after the thread writing it has ended.
  void DropAhead();
  // Test hook: the positions journaled ahead in one step of the thread (0:
  // 256).
  static void SetAheadBatch(std::size_t positions);
  // Positions whose old bytes this process's flushes found journaled
  // ahead.
  static std::int64_t PagesJournaledAhead();

  // Test hook: the bytes a flush holds before writing a batch (0: 8 MB).
  static void SetBatchLimit(std::int64_t bytes);
  // The widest gap between two runs of a batch written as one span (0:
  // adjacent runs only; negative: the default, just under 4 KB).
  static void SetSpanGap(std::int64_t bytes);
  // Flushes of this process ended so far (counted before the step that
  // follows the commit point).
  static int Commits();
  // The most batches of one flush of this process whose held bytes were
  // kept at once (launched, not yet written), and a reset.
  static std::size_t MostBatchesKept();
  static void ResetMostBatchesKept();

  void BeforeWrite(TFileHandler& file, std::int64_t position, std::int64_t count) override;
  void BeforeFlush(TFileHandler& file) override;
  bool HoldWrite(TFileHandler& file, std::int64_t position, const void* bytes, std::int64_t count) override;
  std::uint8_t* HoldSpace(TFileHandler& file, std::int64_t position, std::int64_t count) override;
  bool HoldFlush(TFileHandler& file) override;
  void BeforeRead(TFileHandler& file) override;

private:
  // Opens the journal at `path` (read-write where allowed, shared); with
  // `create` a missing one is made private, then given the table's
  // permissions. False when there is none (or it cannot be opened).
  bool OpenFile(const std::string& path, bool create);
  // Gives the journal the permissions and group of the table's data file
  // (as Begin saw them), unless it has them already.
  void FollowTablePermissions();
  // The header's bytes, with a fresh salt.
  std::vector<std::uint8_t> NewHeader();
  void WriteHeader();
  // Writes `header` at the start of the journal: this flush has begun.
  void WriteHeaderBytes(const std::vector<std::uint8_t>& header);
  void Sync();
  // Where the entries of a new flush (or of entries journaled ahead) begin:
  // clear of a loose end's.
  std::int64_t EntriesStart() const;
  // Settles a loose end whose entries lie in [from, to).
  void KeepClearOfLoose(std::int64_t from, std::int64_t to);
  void Append(const std::uint8_t* record, std::size_t size);
  // Appends the entry of the old bytes at `position` of file `index`, if
  // any lie inside its old length, to `out`; false when none do. The old
  // bytes come from `current` (the file's bytes from `position`) when given,
  // else from the file.
  bool AddEntry(std::size_t index, std::int64_t position, std::int64_t count, TJournalScratch& out,
                const std::uint8_t* current = nullptr);
  // Writes the held writes out as one batch (see the top), then the held
  // syncs when `syncs`. With `early` (a full batch in the middle of a
  // flush) the journal's sync runs in the background and the batch's file
  // writes wait for the next call.
  void WriteHeld(bool syncs, bool early = false);
  // The held writes in runs and spans (journal_held.cpp).
  struct TBatchPlan;
  // Journals and writes the held writes as one batch; true when its
  // journal sync and writes were left running (`early`).
  bool WriteBatch(bool early);
  // Writes the header (on the first batch) and the batch's entries to the
  // journal; whether there were entries.
  bool JournalBatch(const TBatchPlan& plan);
  // Encodes the entries of the batch's runs into `batch_`, reading each
  // span of several runs into `spans_`; whether there were entries.
  bool EncodeBatchEntries(const TBatchPlan& plan);
  // The entries of the run of file `file` in [position, end), whose
  // current bytes are at `current` (nullptr: read from the file), leaving
  // out the pages journaled ahead; whether there were entries.
  bool AddRunEntries(std::size_t file, std::int64_t position, std::int64_t end, const std::uint8_t* current);
  // The current bytes of span `span` in `spans_` (nullptr: a single run).
  std::uint8_t* SpanBytes(const TBatchPlan& plan, std::size_t span);
  // The batch's writes to the files (`writes_`, `parts_`).
  void BuildSpanWrites(const TBatchPlan& plan);
  // Whether a batch may follow the one still being written on its thread:
  // its writes go to `on_disk` files and rewrite no bytes between runs
  // (`bridges` false), and few batches wait already.
  bool CanFollow(bool on_disk, bool bridges) const;
  // Launches the batch just journaled behind the one pending, if any.
  void LaunchFollowing(bool synced);
  // Starts the journal's sync on a thread; the batch's writes wait for it.
  void SyncInBackground();
  // The batch's held bytes are kept until its writes are made.
  void KeepHeldPending();
  // The syncs the flush has asked for, started together where several.
  void SyncHeldFiles();
  // The writes of a batch whose journal sync was left running: after the
  // sync; then starts the syncs the flush has asked for so far.
  void WritePending();
  // Starts the thread that waits for `before` (the batch before, if still
  // being written), syncs the journal (with `sync_journal`) and then makes
  // the batch's writes (`writes_`), followed by the syncs the flush has
  // asked for of the files they wrote.
  void LaunchBatch(bool sync_journal, std::future<void> before);
  // Gives back the buffers of batches written since.
  void GiveRetired();
  void WriteSpanList();
  // Waits for the syncs running in the background; raises the first error
  // when `raise`.
  void JoinFileSyncs(bool raise);
  void DropHeld();
  int IndexOf(const TFileHandler& file) const;
  void Stop();
  // Waits for the thread journaling ahead; a failure of it drops what was
  // journaled ahead.
  void JoinAhead();
  // Starts the thread on the positions queued.
  void LaunchAhead();
  // Whether the old bytes of the `ahead_count_` bytes at `position` of
  // file `ahead_index_`, all before `end`, were journaled ahead of this
  // flush.
  bool JournaledAhead(std::int64_t position, std::int64_t end) const;
  // Takes over what was journaled ahead for this flush of `files`, when
  // it still serves, and forgets it either way.
  void TakeOverAhead(const std::string& path, const std::vector<TFileHandler*>& files);
  // The journal bytes of the entries of `positions` positions journaled
  // ahead.
  std::int64_t AheadBytes(std::size_t positions) const;

  // What is being journaled ahead of the next flush.
  struct TAhead {
    bool armed = false, failed = false;
    std::string path;
    std::vector<TFileHandler*> files;
    std::vector<std::int64_t> lengths;  // of the files when armed
    std::vector<std::uint64_t> writes;  // the files' write calls then
    std::uint32_t salt = 0;
    std::int64_t start = 0;  // where the first entries went
    std::int64_t end = 0;    // where the next entries go
    std::size_t index = 0;
    std::uint32_t count = 0;
    std::vector<std::uint32_t> queued;
    // Per queued position, where its bytes lie in `filling` (-1: to be read
    // from the file).
    std::vector<std::int64_t> known;
    std::unique_ptr<TJournalScratch> filling = std::make_unique<TJournalScratch>();
    std::unique_ptr<TJournalScratch> sending = std::make_unique<TJournalScratch>();  // the running task's
    TUnitSet given;  // queued or written
    std::future<void> task;
    // The entries being written, reused from batch to batch (only the
    // running task touches it).
    std::unique_ptr<TJournalScratch> out = std::make_unique<TJournalScratch>();
  };
  TAhead ahead_;
  // This flush took over entries journaled ahead: the positions of file
  // `ahead_index_` (`ahead_count_` bytes each) and where they end.
  bool adopted_ = false;
  TUnitSet ahead_done_;
  std::size_t ahead_index_ = 0;
  std::uint32_t ahead_count_ = 0;
  std::int64_t ahead_end_ = 0;

  std::string path_;
  std::vector<TFileHandler*> files_;
  std::vector<std::int64_t> old_lengths_;
  // The shortest each file has been since the journal began: the bytes a cut
  // dropped are in the cut's entry, so no later entry reaches past it.
  std::vector<std::int64_t> shortest_;
  bool sync_ = false;
  std::unique_ptr<rtl::TLockedFile> file_;
  std::string file_path_;
  bool started_ = false;  // this flush's header is written
  std::uint32_t salt_ = 0;
  std::vector<std::uint8_t> header_;  // this flush's, as written
  std::int64_t entries_from_ = 0;     // where this flush's entries begin
  std::int64_t end_ = 0;
  // The last flush ended loose: its entries, in [loose_from_, loose_to_),
  // are kept until its end is synced.
  bool loose_ = false;
  std::int64_t loose_from_ = 0, loose_to_ = 0;
  struct THeldWrite {
    std::size_t file;
    std::int64_t position;
    std::size_t at;  // of its bytes in held_data_
    std::int64_t count;
  };
  std::vector<THeldWrite> held_;
  std::int64_t held_bytes_ = 0;
  std::vector<bool> held_syncs_;
  bool writing_held_ = false;  // the journal's own writes pass through
  // The data file's status at Begin, and the journal's as last seen (both
  // only where the data file is a disk file).
  rtl::TFileStatus table_status_, journal_status_;
  bool table_status_known_ = false, journal_status_known_ = false;
  // A spare buffer of this thread, best one for `wanted` bytes first.
  static TJournalScratch TakeScratch(std::size_t wanted);
  static void GiveScratch(TJournalScratch& scratch);
  // Empties `scratch` with room for exactly `bytes` (a spare, where it has
  // too little).
  static void Refit(TJournalScratch& scratch, std::size_t bytes);
  void GiveBuffers();

  // A batch's writes to the files, each span one call.
  struct TSpanWrite {
    std::size_t file;
    std::int64_t position;
    std::size_t first_part, parts;  // in parts_
  };
  std::vector<TSpanWrite> writes_;
  std::vector<rtl::TByteSpan> parts_;
  // A batch journaled, its sync running, its writes (into the two buffers
  // below) still to do.
  bool pending_ = false;
  // Ready once the journal is synced and the batch's writes are made; the
  // thread making them then syncs the files marked in `early_synced_`
  // (its task in `batch_tasks_` ends after those syncs).
  std::future<void> journal_sync_;
  std::vector<std::future<void>> batch_tasks_;
  std::vector<std::future<void>> file_syncs_;  // per file
  std::vector<bool> early_synced_;
  bool launched_ = false;  // this flush has started a batch's thread
  TJournalScratch pending_held_, pending_spans_;
  // Those of batches before it, written before it is.
  std::vector<TJournalScratch> retired_;

  TJournalScratch held_data_;  // the held writes' bytes, one after another
  TJournalScratch batch_;
  TJournalScratch spans_;  // the current bytes of a batch's spans
};

}  // namespace korvex
