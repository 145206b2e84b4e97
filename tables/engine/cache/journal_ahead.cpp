// Journaling ahead: the old bytes of pages a transaction changes, journaled
// on a thread of their own before the flush that ends it, and taken over
// by that flush.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "tables/engine/cache/journal.h"
#include "tables/engine/cache/journal_codec.h"
#include "tables/lib/abstract_file.h"

namespace korvex {
namespace {

std::atomic<std::int64_t> pages_ahead{0};

// Positions journaled ahead in one step of the thread.
constexpr std::size_t kAheadBatch = 256;
std::atomic<std::size_t> ahead_batch{kAheadBatch};

// Journals the old bytes of `count` bytes at each of `positions` of a
// file as entries of file `index` under `salt`, one after another from
// `at` of `journal`, built in `out`: those whose `known` place in
// `known_bytes` is given from there, the rest read from `source`; false
// when a read or the write falls short.
bool WriteAheadEntries(const std::vector<std::uint32_t>& positions, const std::vector<std::int64_t>& known,
                       const TJournalScratch& known_bytes, rtl::TLockedFile& source, rtl::TLockedFile& journal,
                       std::int64_t at, std::uint8_t index, std::uint32_t count, std::uint32_t salt,
                       TJournalScratch& out) {
  const std::size_t entry = jnl::EntrySize(count);
  out.clear();
  out.grow(positions.size() * entry);
  for (std::size_t k = 0; k < positions.size(); ++k) {
    std::uint8_t* e = out.data() + k * entry;
    jnl::EncodeEntryHead(e, index, positions[k], count);
    if (known[k] >= 0)
      std::memcpy(e + jnl::kEntryHead, known_bytes.data() + known[k], count);
    else if (source.ReadAt(positions[k], e + jnl::kEntryHead, count) != static_cast<std::int64_t>(count))
      return false;
    jnl::SealEntry(e, count, salt);
  }
  return journal.WriteAt(at, out.data(), static_cast<std::int64_t>(out.size())) ==
         static_cast<std::int64_t>(out.size());
}

}  // namespace

std::int64_t TJournal::PagesJournaledAhead() { return pages_ahead; }

void TJournal::SetAheadBatch(std::size_t positions) { ahead_batch = positions > 0 ? positions : kAheadBatch; }

std::int64_t TJournal::AheadBytes(std::size_t positions) const {
  return static_cast<std::int64_t>(positions * jnl::EntrySize(ahead_.count));
}

void TJournal::JournalAhead(const std::string& path, const std::vector<TFileHandler*>& files, std::size_t index,
                            std::vector<std::uint32_t>& positions, std::uint32_t count,
                            const std::function<const std::uint8_t*(std::uint32_t)>& current) {
  if (Active() || ahead_.failed || positions.empty() || index >= files.size() || count == 0) {
    positions.clear();
    return;
  }
  if (!ahead_.armed) {
    // Only a file on disk is read from the thread (its reads carry their
    // own positions).
    auto* disk = files[index] != nullptr && files[index]->IsOpen() ? dynamic_cast<TPhysicalFile*>(files[index]->File())
                                                                   : nullptr;
    if (disk == nullptr || disk->DiskFile() == nullptr || !OpenFile(path, true) || !file_->Writable()) {
      ahead_.failed = true;
      positions.clear();
      return;
    }
    ahead_.armed = true;
    ahead_.path = path;
    ahead_.files = files;
    for (TFileHandler* f : files) {
      ahead_.lengths.push_back(f != nullptr && f->IsOpen() ? f->GetSize() : 0);
      ahead_.writes.push_back(f != nullptr ? f->WriteCalls() : 0);
    }
    ahead_.salt = jnl::FreshSalt();
    ahead_.start = ahead_.end = EntriesStart();
    ahead_.index = index;
    ahead_.count = count;
    ahead_.given = TUnitSet(count);
  }
  for (std::uint32_t position : positions) {
    // Only whole units (pages) are journaled ahead; the flush journals
    // anything else itself.
    if (position % count != 0 || std::int64_t{position} + count > ahead_.lengths[index] ||
        !ahead_.given.Insert(position))
      continue;
    ahead_.queued.push_back(position);
    const std::uint8_t* bytes = current ? current(position) : nullptr;
    ahead_.known.push_back(bytes ? static_cast<std::int64_t>(ahead_.filling->size()) : -1);
    if (bytes) ahead_.filling->append(bytes, count);
  }
  positions.clear();
  if (ahead_.queued.size() < ahead_batch) return;
  if (ahead_.task.valid()) {
    if (ahead_.task.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return;
    JoinAhead();
    if (ahead_.failed) return;
  }
  LaunchAhead();
}

void TJournal::LaunchAhead() {
  std::vector<std::uint32_t> batch;
  batch.swap(ahead_.queued);
  std::vector<std::int64_t> known;
  known.swap(ahead_.known);
  // The task takes the bytes gathered so far; the next batch gathers into
  // the buffer the last task used (joined before this one was launched).
  std::swap(ahead_.filling, ahead_.sending);
  ahead_.filling->clear();
  const std::int64_t at = ahead_.end;
  try {
    KeepClearOfLoose(at, at + AheadBytes(batch.size()));
  } catch (...) {
    ahead_.failed = true;
    return;
  }
  ahead_.end += AheadBytes(batch.size());
  rtl::TLockedFile* source = static_cast<TPhysicalFile*>(ahead_.files[ahead_.index]->File())->DiskFile();
  rtl::TLockedFile* journal = file_.get();
  const auto index = static_cast<std::uint8_t>(ahead_.index);
  const std::uint32_t count = ahead_.count, salt = ahead_.salt;
  TJournalScratch* out = ahead_.out.get();
  const TJournalScratch* bytes = ahead_.sending.get();
  try {
    ahead_.task = std::async(std::launch::async, [batch = std::move(batch), known = std::move(known), bytes, at,
                                                  source, journal, index, count, salt, out] {
      if (!WriteAheadEntries(batch, known, *bytes, *source, *journal, at, index, count, salt, *out))
        throw std::runtime_error("journaling ahead fell short");
      // On its way to disk before the flush's sync needs it there. The
      // entries protect nothing until that sync (the header stays ended),
      // so nothing waits for them here.
      journal->StartWriteback(at, static_cast<std::int64_t>(out->size()));
    });
  } catch (...) {
    ahead_.failed = true;
  }
}

void TJournal::JoinAhead() {
  if (!ahead_.task.valid()) return;
  try {
    ahead_.task.get();
  } catch (...) {
    // The flush journals those bytes itself.
    ahead_.failed = true;
  }
}

void TJournal::DropAhead() {
  JoinAhead();
  ahead_ = TAhead{};
}

void TJournal::TakeOverAhead(const std::string& path, const std::vector<TFileHandler*>& files) {
  // Entries journaled ahead serve this flush while the files have the
  // lengths they had then (nothing wrote them since: a transaction holds
  // its writes until this flush).
  adopted_ = false;
  ahead_done_ = TUnitSet{};
  if (ahead_.armed && !ahead_.failed && ahead_.path == path && ahead_.files == files && file_ &&
      file_path_ == path && file_->Writable()) {
    bool same = true;
    for (std::size_t i = 0; i < files.size() && same; ++i)
      same = ahead_.lengths[i] == (files[i] != nullptr && files[i]->IsOpen() ? files[i]->GetSize() : 0) &&
             ahead_.writes[i] == (files[i] != nullptr ? files[i]->WriteCalls() : 0);
    // What is still queued is journaled now: the header's sync takes it to
    // disk with the rest.
    if (same && !ahead_.queued.empty()) {
      KeepClearOfLoose(ahead_.end, ahead_.end + AheadBytes(ahead_.queued.size()));
      same = WriteAheadEntries(ahead_.queued, ahead_.known, *ahead_.filling,
                               *static_cast<TPhysicalFile*>(files[ahead_.index]->File())->DiskFile(), *file_,
                               ahead_.end, static_cast<std::uint8_t>(ahead_.index), ahead_.count, ahead_.salt,
                               *ahead_.out);
    }
    if (same) {
      ahead_.end += AheadBytes(ahead_.queued.size());
      adopted_ = true;
      ahead_done_ = std::move(ahead_.given);
      ahead_index_ = ahead_.index;
      ahead_count_ = ahead_.count;
      ahead_end_ = ahead_.end;
      salt_ = ahead_.salt;
      entries_from_ = ahead_.start;
    }
  }
  ahead_ = TAhead{};
}

bool TJournal::JournaledAhead(std::int64_t position, std::int64_t end) const {
  return position % ahead_count_ == 0 && position + ahead_count_ <= end &&
         ahead_done_.Contains(static_cast<std::uint32_t>(position));
}

bool TJournal::AddRunEntries(std::size_t file, std::int64_t position, std::int64_t end,
                             const std::uint8_t* current) {
  auto now_at = [&](std::int64_t p) { return current == nullptr ? nullptr : current + (p - position); };
  if (!adopted_ || file != ahead_index_ || end <= position)
    return AddEntry(file, position, end - position, batch_, current);
  // Only the parts whose old bytes were not journaled ahead get entries.
  bool entries = false;
  std::int64_t open = -1;
  for (std::int64_t p = position; p < end;) {
    if (JournaledAhead(p, end)) {
      if (open >= 0) entries |= AddEntry(file, open, p - open, batch_, now_at(open));
      open = -1;
      ++pages_ahead;
      p += ahead_count_;
    } else {
      if (open < 0) open = p;
      p = std::min(end, (p / ahead_count_ + 1) * ahead_count_);
    }
  }
  if (open >= 0) entries |= AddEntry(file, open, end - open, batch_, now_at(open));
  return entries;
}

}  // namespace korvex
