// Held writes: a flush's writes held back in one buffer, and each batch of
// them journaled and then written (runs a few bytes apart as one span, the
// entries before the bytes they protect).
#include <algorithm>
#include <atomic>
#include <cstring>
#include <numeric>

#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cache/cache_io.h"
#include "tables/engine/cache/journal.h"
#include "tables/lib/abstract_file.h"
#include "tables/engine/cache/journal_codec.h"
#include "tables/engine/cache/journal_hooks.h"
#include "tables/engine/errors/errors.h"

namespace korvex {
namespace {

// A flush holding more than this is taken to fill a batch.
constexpr std::size_t kSmallHeldBytes = std::size_t{1} << 20;

// A flush of a great many pages is written in batches of this size.
constexpr std::int64_t kBatchBytes = std::int64_t{8} << 20;
std::atomic<std::int64_t> batch_limit{kBatchBytes};
// Runs of one batch at most this many bytes apart are written as one span,
// in a batch of at least this many runs (a single append's flush of a few
// pages gains nothing by it: the page between two of its pages is rewritten
// for one write call less). Less than an index page: records a few apart
// share a span, but a clean page between two changed ones is left alone
// (bridged, it costs a read, a write and a write-back to disk of 4 KB, more
// than the write call it saves).
constexpr std::int64_t kSpanGap = 4095;
constexpr std::size_t kSpanRuns = 32;
std::atomic<std::int64_t> span_gap{kSpanGap};
// The largest single write of a journal batch.
constexpr std::size_t kJournalPiece = std::size_t{1} << 20;
// A span of a single run has no current bytes of its own: it is written
// from the held bytes.
constexpr std::size_t kNoSpanBytes = ~std::size_t{0};

}  // namespace

// A batch's held writes in file and position order, neighbours in runs:
// each run's old bytes are read in one call and journaled as one entry,
// and it is written in one call. Runs a few bytes apart make one span: the
// bytes between them are read with the old bytes the journal needs anyway
// and written back unchanged, so one read and one write serve the whole
// span, whose pages the runs dirty anyway.
struct TJournal::TBatchPlan {
  TBatchPlan(const std::vector<THeldWrite>& held_writes, const std::vector<TFileHandler*>& files,
             std::int64_t held_bytes)
      : held(held_writes) {
    SortIntoRuns();
    JoinIntoSpans(files, held_bytes);
    Measure();
  }

  std::int64_t EndOf(std::size_t i) const { return held[i].position + held[i].count; }
  std::size_t Runs() const { return starts.size() - 1; }
  const THeldWrite& RunFirst(std::size_t r) const { return held[order[starts[r]]]; }
  std::int64_t RunEnd(std::size_t r) const { return EndOf(order[starts[r + 1] - 1]); }
  std::size_t Spans() const { return spans.size() - 1; }
  // Whether a span rewrites the bytes between its runs.
  bool Bridges() const {
    return !std::all_of(current.begin(), current.end(), [](std::size_t at) { return at == kNoSpanBytes; });
  }

  const std::vector<THeldWrite>& held;
  std::vector<std::size_t> order;  // of the held writes
  bool overlap = false;
  std::vector<std::size_t> starts;  // of the runs in `order`, then its end
  std::vector<std::size_t> spans;   // the first run of each span, then the runs
  // Per span of more than one run, where its current bytes lie in the
  // batch's span buffer (kNoSpanBytes: a single run).
  std::vector<std::size_t> current;
  std::size_t span_bytes = 0, entry_bytes = jnl::kHeaderSize;

private:
  // Writes that overlap (which no flush makes) keep their order, one run
  // each.
  void SortIntoRuns() {
    order.resize(held.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
      return held[x].file != held[y].file ? held[x].file < held[y].file : held[x].position < held[y].position;
    });
    for (std::size_t k = 1; k < order.size() && !overlap; ++k)
      overlap = held[order[k]].file == held[order[k - 1]].file && held[order[k]].position < EndOf(order[k - 1]);
    if (overlap) std::iota(order.begin(), order.end(), std::size_t{0});
    for (std::size_t k = 0; k < order.size(); ++k)
      if (k == 0 || overlap || held[order[k]].file != held[order[k - 1]].file ||
          held[order[k]].position != EndOf(order[k - 1]))
        starts.push_back(k);
    starts.push_back(order.size());
  }

  // Only bytes inside the file are bridged, at most four times what the
  // batch holds (or 16 MB), and only in a batch of many runs.
  void JoinIntoSpans(const std::vector<TFileHandler*>& files, std::int64_t held_bytes) {
    std::vector<std::int64_t> sizes(files.size(), -1);
    std::int64_t bridged = 0;
    const std::int64_t bridge_budget = std::max<std::int64_t>(4 * held_bytes, std::int64_t{16} << 20);
    const std::size_t runs = Runs();
    for (std::size_t r = 0; r < runs; ++r) {
      bool join = false;
      if (r > 0 && runs >= kSpanRuns && !overlap && RunFirst(r).file == RunFirst(r - 1).file) {
        const std::size_t f = RunFirst(r).file;
        const std::int64_t gap = RunFirst(r).position - RunEnd(r - 1);
        if (gap <= span_gap && bridged + gap <= bridge_budget) {
          if (sizes[f] < 0) sizes[f] = files[f]->GetSize();
          join = RunFirst(r).position <= sizes[f];
          if (join) bridged += gap;
        }
      }
      if (!join) spans.push_back(r);
    }
    spans.push_back(runs);
  }

  // The current bytes of each span of more than one run lie one after the
  // other in a buffer kept from batch to batch (as the journal's is).
  void Measure() {
    current.assign(spans.size(), kNoSpanBytes);
    for (std::size_t sp = 0; sp < Spans(); ++sp) {
      for (std::size_t r = spans[sp]; r < spans[sp + 1]; ++r)
        entry_bytes += jnl::EntrySize(static_cast<std::size_t>(RunEnd(r) - RunFirst(r).position));
      if (spans[sp + 1] - spans[sp] == 1) continue;
      current[sp] = span_bytes;
      span_bytes += static_cast<std::size_t>(RunEnd(spans[sp + 1] - 1) - RunFirst(spans[sp]).position);
    }
  }
};

void TJournal::SetBatchLimit(std::int64_t bytes) { batch_limit = bytes > 0 ? bytes : kBatchBytes; }

void TJournal::SetSpanGap(std::int64_t bytes) { span_gap = bytes >= 0 ? bytes : kSpanGap; }

std::uint8_t* TJournal::HoldSpace(TFileHandler& file, std::int64_t position, std::int64_t count) {
  const int index = IndexOf(file);
  if (index < 0 || writing_held_) return nullptr;
  // The last write held in place has its bytes by now.
  if (held_bytes_ >= batch_limit) WriteHeld(false, true);
  // A spare that holds a whole batch, where there is one: growing one
  // copies what it holds.
  if (held_data_.capacity() == 0)
    held_data_ = TakeScratch(static_cast<std::size_t>(std::max<std::int64_t>(count, batch_limit)));
  // A flush past a small one holds a whole batch: its buffer takes that
  // room at once rather than growing (and copying what it holds) step by
  // step.
  const std::size_t at = held_data_.size(), need = at + static_cast<std::size_t>(count);
  if (need > held_data_.capacity() && need > kSmallHeldBytes)
    held_data_.reserve(std::max(need, static_cast<std::size_t>(batch_limit.load())), true);
  std::uint8_t* space = held_data_.grow(static_cast<std::size_t>(count));
  held_.push_back({static_cast<std::size_t>(index), position, at, count});
  held_bytes_ += count;
  return space;
}

bool TJournal::HoldWrite(TFileHandler& file, std::int64_t position, const void* bytes, std::int64_t count) {
  std::uint8_t* space = HoldSpace(file, position, count);
  if (space == nullptr) return false;
  std::memcpy(space, bytes, static_cast<std::size_t>(count));
  if (held_bytes_ >= batch_limit) WriteHeld(false, true);
  return true;
}

bool TJournal::HoldFlush(TFileHandler& file) {
  const int index = IndexOf(file);
  if (index < 0 || writing_held_) return false;
  held_syncs_[static_cast<std::size_t>(index)] = true;
  // In a large flush the file is likely done: its held writes go out now
  // and its sync follows them, on the journal's thread, while the flush
  // goes on with the next file.
  if (sync_ && (launched_ || held_bytes_ >= batch_limit / 8)) WriteHeld(false, true);
  return true;
}

void TJournal::BeforeRead(TFileHandler& file) {
  if (!writing_held_ && (!held_.empty() || pending_) && IndexOf(file) >= 0) WriteHeld(false);
}

void TJournal::WriteHeld(bool syncs, bool early) {
  if (writing_held_) return;
  writing_held_ = true;
  ScopeExit done{[&] { writing_held_ = false; }};
  // A full batch may follow one still being written on its thread (see
  // WriteBatch); otherwise that one is done first.
  if (!early || held_.empty()) WritePending();
  if (!held_.empty() && WriteBatch(early)) return;
  if (syncs) SyncHeldFiles();
}

bool TJournal::WriteBatch(bool early) {
  const TBatchPlan plan(held_, files_, held_bytes_);
  // Writes of this batch follow those of the batch before on their thread
  // only when they rewrite no bytes between runs (a span of several runs
  // rewrites what it reads, which may be that batch's) and go to disk
  // files; else that batch is done first.
  bool on_disk = sync_;
  for (std::size_t r = 0; r < plan.Runs() && on_disk; ++r) on_disk = files_[plan.RunFirst(r).file]->OnDisk();
  if (!CanFollow(on_disk, plan.Bridges())) WritePending();
  Refit(spans_, plan.span_bytes);
  spans_.grow(plan.span_bytes);
  Refit(batch_, plan.entry_bytes);
  const bool header_now = !started_;
  const bool entries = JournalBatch(plan);
  BuildSpanWrites(plan);
  held_.clear();
  held_bytes_ = 0;
  // A batch in the middle of a flush goes on without waiting for its
  // journal sync: the flush encodes what follows meanwhile, and the
  // batch's writes go out (after the sync) when the journal or the files
  // are next needed. The held bytes stay until then.
  // The header's sync also takes the entries journaled ahead to disk.
  const bool synced = (entries || header_now) && sync_;
  if (early && on_disk) {
    LaunchFollowing(synced);
    return true;
  }
  if (early && synced) {
    SyncInBackground();
    return true;
  }
  if (synced) Sync();
  WriteSpanList();
  held_data_.clear();
  return false;
}

std::uint8_t* TJournal::SpanBytes(const TBatchPlan& plan, std::size_t span) {
  return plan.current[span] == kNoSpanBytes ? nullptr : spans_.data() + plan.current[span];
}

bool TJournal::JournalBatch(const TBatchPlan& plan) {
  // A header before entries journaled ahead, or before entries placed
  // past a loose flush's, is written apart; else it leads the batch.
  const bool header_now = !started_;
  const bool header_apart = adopted_ || entries_from_ != static_cast<std::int64_t>(jnl::kHeaderSize);
  std::vector<std::uint8_t> lone_header;
  if (header_now) {
    std::vector<std::uint8_t> header = NewHeader();
    if (header_apart) lone_header = std::move(header);
    else batch_.append(header.data(), header.size());
  }
  const bool entries = EncodeBatchEntries(plan);
  // The header and the entries in one write (the header alone when the
  // batch only extends files), synced once before any file is touched.
  const std::int64_t at = started_ ? end_ : adopted_ ? ahead_end_ : header_apart ? entries_from_ : 0;
  if (!lone_header.empty()) WriteHeaderBytes(lone_header);
  if (!batch_.empty()) {
    // A header written only in part is harmless: it names the files' old
    // lengths, which they still have, and undoing plays it back. The
    // batch goes out in pieces of at most 1 MB: one write of several MB
    // into a new journal sometimes waited some 20 ms for the kernel to
    // find room for large page-cache folios. A journal cut between two
    // pieces ends at an entry no check accepts, as a torn write does.
    started_ = true;
    KeepClearOfLoose(header_now && !header_apart ? static_cast<std::int64_t>(jnl::kHeaderSize) : at,
                     at + static_cast<std::int64_t>(batch_.size()));
    for (std::size_t done = 0; done < batch_.size();) {
      const std::size_t piece = std::min(kJournalPiece, batch_.size() - done);
      jnl::Step();
      if (file_->WriteAt(at + static_cast<std::int64_t>(done), batch_.data() + done,
                         static_cast<std::int64_t>(piece)) != static_cast<std::int64_t>(piece))
        RaiseError(err::kWriteError, path_, {}, {}, SystemReason());
      done += piece;
    }
    end_ = at + static_cast<std::int64_t>(batch_.size());
  }
  return entries;
}

bool TJournal::EncodeBatchEntries(const TBatchPlan& plan) {
  bool entries = false;
  for (std::size_t sp = 0; sp < plan.Spans(); ++sp) {
    const std::size_t first_run = plan.spans[sp], last_run = plan.spans[sp + 1] - 1;
    const std::int64_t from = plan.RunFirst(first_run).position;
    std::uint8_t* bytes = SpanBytes(plan, sp);
    if (bytes != nullptr) {
      const std::int64_t length = plan.RunEnd(last_run) - from;
      const std::int64_t got =
          ReadAt(*files_[plan.RunFirst(first_run).file], static_cast<std::uint64_t>(from), bytes, length, true);
      std::fill(bytes + std::max<std::int64_t>(got, 0), bytes + length, std::uint8_t{0});
    }
    for (std::size_t r = first_run; r <= last_run; ++r) {
      const THeldWrite& first = plan.RunFirst(r);
      const std::uint8_t* current = bytes == nullptr ? nullptr : bytes + (first.position - from);
      entries |= AddRunEntries(first.file, first.position, plan.RunEnd(r), current);
    }
  }
  return entries;
}

void TJournal::BuildSpanWrites(const TBatchPlan& plan) {
  // The spans' writes: the held bytes as they are, or copied into the
  // span's current bytes (after its entries took the old ones).
  writes_.clear();
  parts_.clear();
  for (std::size_t sp = 0; sp < plan.Spans(); ++sp) {
    const THeldWrite& first = plan.RunFirst(plan.spans[sp]);
    std::uint8_t* bytes = SpanBytes(plan, sp);
    writes_.push_back({first.file, first.position, parts_.size(), 0});
    for (std::size_t k = plan.starts[plan.spans[sp]]; k < plan.starts[plan.spans[sp + 1]]; ++k) {
      const THeldWrite& w = held_[plan.order[k]];
      const std::uint8_t* held = held_data_.data() + w.at;
      if (bytes == nullptr) parts_.push_back({held, w.count});
      else std::memcpy(bytes + (w.position - first.position), held, static_cast<std::size_t>(w.count));
    }
    if (bytes != nullptr) parts_.push_back({bytes, plan.RunEnd(plan.spans[sp + 1] - 1) - first.position});
    writes_.back().parts = parts_.size() - writes_.back().first_part;
  }
}

}  // namespace korvex
