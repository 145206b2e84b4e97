#include "tables/engine/cache/journal.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <numeric>
#include <random>
#include <stdexcept>
#include <thread>

#include "platform/runtime/coding.h"
#include "tables/engine/cache/cache_io.h"
#include "tables/engine/errors/errors.h"
#include "tables/lib/abstract_file.h"

namespace korvex {
namespace {

constexpr char kMagic[8] = {'Q', 'V', 'J', 'N', 'L', '3', 0, 0};
constexpr char kPlacedMagic[8] = {'Q', 'V', 'J', 'N', 'L', '4', 0, 0};
constexpr char kSecondMagic[8] = {'Q', 'V', 'J', 'N', 'L', '2', 0, 0};
constexpr char kFirstMagic[8] = {'Q', 'V', 'J', 'N', 'L', '1', 0, 0};
constexpr std::size_t kHeaderSize = 8 + 3 * 4 + 4 + 4;
// A header that names where its entries begin (see the top).
constexpr std::size_t kPlacedHeaderSize = kHeaderSize + 4;
constexpr std::size_t kFirstHeaderSize = 8 + 3 * 4 + 4;
constexpr std::size_t kEntryHead = 1 + 4 + 4;
constexpr std::size_t kNoSpanBytes = ~std::size_t{0};
// Tries at making or opening a journal that another process holds alone
// for a moment (2 ms apart).
constexpr int kOpenAttempts = 1000;
// A journal grown past this is cut back to it when its flush ends.
constexpr std::int64_t kKeptBytes = std::int64_t{64} << 20;

std::function<void()>& StepHook() {
  static std::function<void()> hook;
  return hook;
}

void Step() {
  if (StepHook()) StepHook()();
}

std::function<void()>& SyncHook() {
  static std::function<void()> hook;
  return hook;
}

// Syncs the journal file; the test hook hears of every sync that worked.
bool SyncJournal(rtl::TLockedFile& file) {
  if (file.Sync() != 0) return false;
  if (SyncHook()) SyncHook()();
  return true;
}

std::atomic<int> committed{0};
std::atomic<std::int64_t> pages_ahead{0};

// Positions journaled ahead in one step of the thread.
constexpr std::size_t kAheadBatch = 256;
std::atomic<std::size_t> ahead_batch{kAheadBatch};

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
// Batches launched behind one still being written (see WriteHeld).
constexpr std::size_t kFollowingBatches = 2;
std::atomic<std::size_t> most_batches_kept{0};
// The largest single write of a journal batch.
constexpr std::size_t kJournalPiece = std::size_t{1} << 20;
std::atomic<std::int64_t> span_gap{kSpanGap};

std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t count) {
  // The reflected CRC-32 (polynomial 0xEDB88320), eight bytes at a time
  // through eight tables (table k: a byte followed by k zero bytes).
  static const auto tables = [] {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
      t[0][i] = c;
    }
    for (std::uint32_t i = 0; i < 256; ++i)
      for (std::size_t k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const std::uint32_t low = crc ^ rtl::DecodeFixed32(bytes + i);
    const std::uint32_t high = rtl::DecodeFixed32(bytes + i + 4);
    crc = tables[7][low & 0xFFu] ^ tables[6][(low >> 8) & 0xFFu] ^ tables[5][(low >> 16) & 0xFFu] ^
          tables[4][low >> 24] ^ tables[3][high & 0xFFu] ^ tables[2][(high >> 8) & 0xFFu] ^
          tables[1][(high >> 16) & 0xFFu] ^ tables[0][high >> 24];
  }
  for (; i < count; ++i) crc = tables[0][(crc ^ bytes[i]) & 0xFFu] ^ (crc >> 8);
  return ~crc;
}

std::uint64_t RotateLeft(std::uint64_t v, int bits) { return (v << bits) | (v >> (64 - bits)); }

// XXH64 (Yann Collet's 64-bit xxHash) of `count` bytes with a seed: four
// lanes of 8-byte words, several times faster than the table CRC above,
// which is kept for headers and the older layouts.
std::uint64_t Hash64(const std::uint8_t* bytes, std::size_t count, std::uint64_t seed) {
  constexpr std::uint64_t p1 = 11400714785074694791ull, p2 = 14029467366897019727ull, p3 = 1609587929392839161ull,
                          p4 = 9650029242287828579ull, p5 = 2870177450012600261ull;
  auto round = [](std::uint64_t acc, std::uint64_t input) { return RotateLeft(acc + input * p2, 31) * p1; };
  auto merge = [&](std::uint64_t acc, std::uint64_t lane) { return (acc ^ round(0, lane)) * p1 + p4; };
  const std::uint8_t* p = bytes;
  const std::uint8_t* const end = bytes + count;
  std::uint64_t h;
  if (count >= 32) {
    std::uint64_t v1 = seed + p1 + p2, v2 = seed + p2, v3 = seed, v4 = seed - p1;
    for (; p + 32 <= end; p += 32) {
      v1 = round(v1, rtl::DecodeFixed64(p));
      v2 = round(v2, rtl::DecodeFixed64(p + 8));
      v3 = round(v3, rtl::DecodeFixed64(p + 16));
      v4 = round(v4, rtl::DecodeFixed64(p + 24));
    }
    h = RotateLeft(v1, 1) + RotateLeft(v2, 7) + RotateLeft(v3, 12) + RotateLeft(v4, 18);
    h = merge(merge(merge(merge(h, v1), v2), v3), v4);
  } else {
    h = seed + p5;
  }
  h += count;
  for (; p + 8 <= end; p += 8) h = RotateLeft(h ^ round(0, rtl::DecodeFixed64(p)), 27) * p1 + p4;
  if (p + 4 <= end) {
    h = RotateLeft(h ^ (std::uint64_t{rtl::DecodeFixed32(p)} * p1), 23) * p2 + p3;
    p += 4;
  }
  for (; p < end; ++p) h = RotateLeft(h ^ (*p * p5), 11) * p1;
  h ^= h >> 33;
  h *= p2;
  h ^= h >> 29;
  h *= p3;
  return h ^ (h >> 32);
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  std::uint8_t b[4];
  rtl::EncodeFixed32(b, v);
  out.insert(out.end(), b, b + 4);
}

// The layouts a journal may have been written in; each seals its entries
// its own way (headers alike: CRC-32 of the bytes before the checksum).
enum class TLayout { None, First, Second, Third, Placed };

std::uint32_t EntryChecksum(TLayout layout, const std::uint8_t* entry, std::size_t length, std::uint32_t salt) {
  if (layout == TLayout::Third || layout == TLayout::Placed)
    return static_cast<std::uint32_t>(Hash64(entry, length, salt));
  return Crc32(entry, length) ^ salt;
}

void SealHeader(std::vector<std::uint8_t>& header) { PutU32(header, Crc32(header.data(), header.size())); }

bool HeaderSealed(const std::uint8_t* header, std::size_t length) {
  return rtl::DecodeFixed32(header + length) == Crc32(header, length);
}

// The valid header at the start of `bytes`: its layout, where its entries
// begin (0: no valid header) and its salt.
std::size_t ParseHeader(const std::uint8_t* bytes, std::size_t size, std::uint32_t& salt, TLayout& layout) {
  salt = 0;
  layout = TLayout::None;
  if (size >= kPlacedHeaderSize && std::memcmp(bytes, kPlacedMagic, 8) == 0 &&
      HeaderSealed(bytes, kPlacedHeaderSize - 4)) {
    const std::uint32_t start = rtl::DecodeFixed32(bytes + kHeaderSize - 4);
    if (start < kPlacedHeaderSize) return 0;
    layout = TLayout::Placed;
    salt = rtl::DecodeFixed32(bytes + 8 + 3 * 4);
    return start;
  }
  if (size >= kHeaderSize && HeaderSealed(bytes, kHeaderSize - 4)) {
    if (std::memcmp(bytes, kMagic, 8) == 0) layout = TLayout::Third;
    else if (std::memcmp(bytes, kSecondMagic, 8) == 0) layout = TLayout::Second;
    if (layout != TLayout::None) {
      salt = rtl::DecodeFixed32(bytes + 8 + 3 * 4);
      return kHeaderSize;
    }
  }
  if (size >= kFirstHeaderSize && std::memcmp(bytes, kFirstMagic, 8) == 0 && HeaderSealed(bytes, kFirstHeaderSize - 4)) {
    layout = TLayout::First;
    return kFirstHeaderSize;
  }
  return 0;
}

// Plays the journal `bytes` back into the files; false when it holds no
// unfinished flush.
bool PlayBack(const std::vector<std::uint8_t>& bytes, const std::vector<TFileHandler*>& files) {
  std::uint32_t salt = 0;
  TLayout layout = TLayout::None;
  const std::size_t header = ParseHeader(bytes.data(), bytes.size(), salt, layout);
  if (header == 0) return false;
  struct Entry {
    std::size_t index, at;
    std::uint32_t position, length;
  };
  std::vector<Entry> entries;
  for (std::size_t at = header; at + kEntryHead + 4 <= bytes.size();) {
    std::uint32_t length = rtl::DecodeFixed32(bytes.data() + at + 5);
    if (length > bytes.size() || at + kEntryHead + length + 4 > bytes.size() ||
        rtl::DecodeFixed32(bytes.data() + at + kEntryHead + length) !=
            EntryChecksum(layout, bytes.data() + at, kEntryHead + length, salt))
      break;
    entries.push_back({bytes[at], at + kEntryHead, rtl::DecodeFixed32(bytes.data() + at + 1), length});
    at += kEntryHead + length + 4;
  }
  for (auto e = entries.rbegin(); e != entries.rend(); ++e)
    if (e->index < files.size() && files[e->index] != nullptr && files[e->index]->IsOpen())
      WriteAt(*files[e->index], e->position, bytes.data() + e->at, e->length);
  for (std::size_t i = 0; i < files.size() && i < 3; ++i) {
    if (files[i] == nullptr || !files[i]->IsOpen()) continue;
    std::uint32_t old = rtl::DecodeFixed32(bytes.data() + 8 + 4 * i);
    if (files[i]->GetSize() > old) WriteAt(*files[i], old, nullptr, 0);
    files[i]->Flush();
  }
  return true;
}

// A salt no earlier flush is likely to have used: drawn afresh for every
// flush (a generator's state would be shared by forked processes).
std::uint32_t FreshSalt() {
  thread_local std::random_device device;
  const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  return device() ^ static_cast<std::uint32_t>((now * 0x9E3779B97F4A7C15ull) >> 32);
}

// Journals the old bytes of `count` bytes at each of `positions` of a
// file as entries of file `index` under `salt`, one after another from
// `at` of `journal`, built in `out`: those whose `known` place in
// `known_bytes` is given from there, the rest read from `source`; false
// when a read or the write falls short.
bool WriteAheadEntries(const std::vector<std::uint32_t>& positions, const std::vector<std::int64_t>& known,
                       const TJournalScratch& known_bytes, rtl::TLockedFile& source, rtl::TLockedFile& journal,
                       std::int64_t at, std::uint8_t index, std::uint32_t count, std::uint32_t salt,
                       TJournalScratch& out) {
  const std::size_t entry = kEntryHead + count + 4;
  out.clear();
  out.grow(positions.size() * entry);
  for (std::size_t k = 0; k < positions.size(); ++k) {
    std::uint8_t* e = out.data() + k * entry;
    e[0] = index;
    rtl::EncodeFixed32(e + 1, positions[k]);
    rtl::EncodeFixed32(e + 5, count);
    if (known[k] >= 0)
      std::memcpy(e + kEntryHead, known_bytes.data() + known[k], count);
    else if (source.ReadAt(positions[k], e + kEntryHead, count) != static_cast<std::int64_t>(count))
      return false;
    rtl::EncodeFixed32(e + kEntryHead + count, EntryChecksum(TLayout::Third, e, kEntryHead + count, salt));
  }
  return journal.WriteAt(at, out.data(), static_cast<std::int64_t>(out.size())) ==
         static_cast<std::int64_t>(out.size());
}

// Spare scratch buffers of this thread (a flush uses three), and the
// largest kept: twice a batch, so that a thread keeps 48 MB at most.
constexpr std::size_t kSpareBuffers = 3;
constexpr std::size_t kSpareBytes = std::size_t{16} << 20;

}  // namespace

void TJournalScratch::reserve(std::size_t n, bool exact) {
  if (n <= capacity_) return;
  const std::size_t capacity = exact ? n : std::max(n, capacity_ + capacity_ / 2);
  std::unique_ptr<std::uint8_t[]> bigger(new std::uint8_t[capacity]);
  if (size_ > 0) std::memcpy(bigger.get(), data_.get(), size_);
  data_ = std::move(bigger);
  capacity_ = capacity;
}

std::uint8_t* TJournalScratch::grow(std::size_t n) {
  reserve(size_ + n, false);
  std::uint8_t* at = data_.get() + size_;
  size_ += n;
  return at;
}

void TJournalScratch::append(const void* bytes, std::size_t n) {
  if (n > 0) std::memcpy(grow(n), bytes, n);
}

namespace {
// This thread's spares; none once they are destroyed at the thread's end
// (a table closed later, by a static owner, frees its buffers itself).
thread_local bool spares_gone = false;
struct TSpares {
  std::vector<TJournalScratch> list;
  ~TSpares() { spares_gone = true; }
};
std::vector<TJournalScratch>* Spares() {
  if (spares_gone) return nullptr;
  thread_local TSpares spares;
  return &spares.list;
}
}  // namespace

TJournalScratch TJournal::TakeScratch(std::size_t wanted) {
  std::vector<TJournalScratch>* spares = Spares();
  if (spares == nullptr || spares->empty()) return {};
  // The smallest spare that holds `wanted` bytes, else the largest (it
  // grows the least).
  auto better = [wanted](const TJournalScratch& a, const TJournalScratch& b) {
    const bool a_fits = a.capacity() >= wanted, b_fits = b.capacity() >= wanted;
    if (a_fits != b_fits) return a_fits;
    return a_fits ? a.capacity() < b.capacity() : a.capacity() > b.capacity();
  };
  auto best = spares->begin();
  for (auto it = spares->begin(); it != spares->end(); ++it)
    if (better(*it, *best)) best = it;
  TJournalScratch taken = std::move(*best);
  spares->erase(best);
  taken.clear();
  return taken;
}

void TJournal::GiveScratch(TJournalScratch& scratch) {
  std::vector<TJournalScratch>* spares = scratch.capacity() > 0 ? Spares() : nullptr;
  if (spares != nullptr && scratch.capacity() <= kSpareBytes) {
    if (spares->size() < kSpareBuffers) {
      spares->push_back(std::move(scratch));
    } else {
      auto smallest = std::min_element(spares->begin(), spares->end(), [](const TJournalScratch& a, const TJournalScratch& b) {
        return a.capacity() < b.capacity();
      });
      if (smallest->capacity() < scratch.capacity()) std::swap(*smallest, scratch);
    }
  }
  scratch = TJournalScratch();
}

void TJournal::GiveBuffers() {
  GiveScratch(held_data_);
  GiveScratch(batch_);
  GiveScratch(spans_);
}

TJournal::~TJournal() {
  JoinAhead();
  Stop();
}

void TJournal::SetStepHook(std::function<void()> hook) { StepHook() = std::move(hook); }

void TJournal::SetSyncHook(std::function<void()> hook) { SyncHook() = std::move(hook); }

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

bool TJournal::Hot(const std::string& path) {
  if (!OpenFile(path, false)) return false;
  std::uint8_t header[kPlacedHeaderSize];
  const std::int64_t got = file_->ReadAt(0, header, kPlacedHeaderSize);
  std::uint32_t salt = 0;
  TLayout layout = TLayout::None;
  return got > 0 && ParseHeader(header, static_cast<std::size_t>(got), salt, layout) != 0;
}

bool TJournal::IsHot(const std::string& path) { return TJournal().Hot(path); }

void TJournal::Begin(const std::string& path, std::vector<TFileHandler*> files, bool sync) {
  JoinAhead();
  // A flush that never syncs cannot take over from one whose end is not on
  // disk yet (see the top).
  if (!sync) Settle();
  path_ = path;
  sync_ = sync;
  started_ = false;
  DropHeld();
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
      KeepClearOfLoose(ahead_.end,
                       ahead_.end + static_cast<std::int64_t>(ahead_.queued.size() * (kEntryHead + ahead_.count + 4)));
      same = WriteAheadEntries(ahead_.queued, ahead_.known, *ahead_.filling,
                               *static_cast<TPhysicalFile*>(files[ahead_.index]->File())->DiskFile(), *file_,
                               ahead_.end, static_cast<std::uint8_t>(ahead_.index), ahead_.count, ahead_.salt,
                               *ahead_.out);
    }
    if (same) {
      ahead_.end += static_cast<std::int64_t>(ahead_.queued.size() * (kEntryHead + ahead_.count + 4));
      adopted_ = true;
      ahead_done_ = std::move(ahead_.given);
      ahead_index_ = ahead_.index;
      ahead_count_ = ahead_.count;
      ahead_end_ = ahead_.end;
      salt_ = ahead_.salt;
      entries_from_ = ahead_.start;
    }
  }
  if (!adopted_) entries_from_ = EntriesStart();
  ahead_ = TAhead{};
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
  if (!adopted_) salt_ = FreshSalt();
  // Entries right after the header keep the header of the third layout;
  // entries placed elsewhere need the header that names their start.
  const bool placed = entries_from_ != static_cast<std::int64_t>(kHeaderSize);
  std::vector<std::uint8_t> header(placed ? kPlacedMagic : kMagic, (placed ? kPlacedMagic : kMagic) + 8);
  for (std::int64_t length : old_lengths_) PutU32(header, static_cast<std::uint32_t>(length));
  while (header.size() < 8 + 3 * 4) PutU32(header, 0);
  PutU32(header, salt_);
  if (placed) PutU32(header, static_cast<std::uint32_t>(entries_from_));
  SealHeader(header);
  header_ = header;
  return header;
}

void TJournal::WriteHeader() {
  if (started_) return;
  const std::vector<std::uint8_t> header = NewHeader();
  Step();
  if (file_->WriteAt(0, header.data(), static_cast<std::int64_t>(header.size())) !=
      static_cast<std::int64_t>(header.size()))
    RaiseError(err::kWriteError, path_);
  started_ = true;
  end_ = adopted_ ? ahead_end_ : entries_from_;
}

void TJournal::Sync() {
  if (!sync_) return;
  Step();
  if (!SyncJournal(*file_)) RaiseError(err::kWriteError, path_);
}

std::int64_t TJournal::EntriesStart() const {
  // Entries go right after the header unless the loose flush's lie there:
  // then past them (the header that names its start is a little longer,
  // and its last bytes may fall on the loose flush's first entry, which
  // only stops a playback of that flush before its first entry).
  if (!loose_ || loose_from_ > static_cast<std::int64_t>(kPlacedHeaderSize)) return kHeaderSize;
  return std::max(loose_to_, static_cast<std::int64_t>(kPlacedHeaderSize));
}

void TJournal::KeepClearOfLoose(std::int64_t from, std::int64_t to) {
  if (loose_ && from < loose_to_ && to > loose_from_) Settle();
}

void TJournal::Settle() {
  if (!loose_) return;
  Step();
  if (file_ && !SyncJournal(*file_)) RaiseError(err::kWriteError, file_path_);
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
  Step();
  if (file_->WriteAt(end_, record, static_cast<std::int64_t>(size)) != static_cast<std::int64_t>(size))
    RaiseError(err::kWriteError, path_);
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
  std::uint8_t* entry = out.grow(kEntryHead + length + 4);
  entry[0] = static_cast<std::uint8_t>(index);
  rtl::EncodeFixed32(entry + 1, static_cast<std::uint32_t>(position));
  rtl::EncodeFixed32(entry + 5, static_cast<std::uint32_t>(length));
  if (current != nullptr) std::memcpy(entry + kEntryHead, current, length);
  else ReadAt(*files_[index], static_cast<std::uint64_t>(position), entry + kEntryHead, end - position);
  rtl::EncodeFixed32(entry + kEntryHead + length, EntryChecksum(TLayout::Third, entry, kEntryHead + length, salt_));
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
  Step();
}

void TJournal::BeforeFlush(TFileHandler&) { Step(); }

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

void TJournal::WriteSpanList() {
  std::vector<rtl::TByteSpan> out;
  for (const TSpanWrite& w : writes_) {
    out.assign(parts_.begin() + static_cast<std::ptrdiff_t>(w.first_part),
               parts_.begin() + static_cast<std::ptrdiff_t>(w.first_part + w.parts));
    Step();
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
    Step();
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
      if (sync_journal && !SyncJournal(*file)) RaiseError(err::kWriteError, path);
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

void TJournal::WriteHeld(bool syncs, bool early) {
  if (writing_held_) return;
  writing_held_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{writing_held_};
  // A full batch may follow one still being written on its thread (see
  // below); otherwise that one is done first.
  if (!early || held_.empty()) WritePending();
  if (!held_.empty()) {
    // The held writes in file and position order, neighbours in runs: each
    // run's old bytes are read in one call and journaled as one entry, and
    // it is written in one call. Writes that overlap (which no flush makes)
    // keep their order, one run each.
    std::vector<std::size_t> order(held_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    auto end_of = [&](std::size_t i) { return held_[i].position + held_[i].count; };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
      return held_[x].file != held_[y].file ? held_[x].file < held_[y].file : held_[x].position < held_[y].position;
    });
    bool overlap = false;
    for (std::size_t k = 1; k < order.size() && !overlap; ++k)
      overlap = held_[order[k]].file == held_[order[k - 1]].file && held_[order[k]].position < end_of(order[k - 1]);
    if (overlap) std::iota(order.begin(), order.end(), std::size_t{0});
    std::vector<std::size_t> starts;  // of the runs, in `order`
    for (std::size_t k = 0; k < order.size(); ++k)
      if (k == 0 || overlap || held_[order[k]].file != held_[order[k - 1]].file ||
          held_[order[k]].position != end_of(order[k - 1]))
        starts.push_back(k);
    starts.push_back(order.size());
    const std::size_t runs = starts.size() - 1;
    auto run_first = [&](std::size_t r) -> const THeldWrite& { return held_[order[starts[r]]]; };
    auto run_end = [&](std::size_t r) { return end_of(order[starts[r + 1] - 1]); };
    // Runs a few bytes apart go out as one span: the bytes between them are
    // read with the old bytes the journal needs anyway and written back
    // unchanged, so one read and one write serve the whole span, whose
    // pages the runs dirty anyway. Only bytes inside the file are bridged,
    // at most four times what the batch holds (or 16 MB), and only in a
    // batch of many runs.
    std::vector<std::int64_t> sizes(files_.size(), -1);
    std::vector<std::size_t> spans;  // first run of each span
    std::int64_t bridged = 0;
    const std::int64_t bridge_budget = std::max<std::int64_t>(4 * held_bytes_, std::int64_t{16} << 20);
    for (std::size_t r = 0; r < runs; ++r) {
      bool join = false;
      if (r > 0 && runs >= kSpanRuns && !overlap && run_first(r).file == run_first(r - 1).file) {
        const std::size_t f = run_first(r).file;
        const std::int64_t gap = run_first(r).position - run_end(r - 1);
        if (gap <= span_gap && bridged + gap <= bridge_budget) {
          if (sizes[f] < 0) sizes[f] = files_[f]->GetSize();
          join = run_first(r).position <= sizes[f];
          if (join) bridged += gap;
        }
      }
      if (!join) spans.push_back(r);
    }
    spans.push_back(runs);
    // The current bytes of each span of more than one run, one after the
    // other in a buffer kept from batch to batch (as the journal's is).
    std::vector<std::size_t> current(spans.size(), kNoSpanBytes);
    std::size_t span_bytes = 0, entry_bytes = kHeaderSize;
    for (std::size_t sp = 0; sp + 1 < spans.size(); ++sp) {
      for (std::size_t r = spans[sp]; r < spans[sp + 1]; ++r)
        entry_bytes += kEntryHead + 4 + static_cast<std::size_t>(run_end(r) - run_first(r).position);
      if (spans[sp + 1] - spans[sp] == 1) continue;
      current[sp] = span_bytes;
      span_bytes += static_cast<std::size_t>(run_end(spans[sp + 1] - 1) - run_first(spans[sp]).position);
    }
    // Writes of this batch follow those of the batch before on their thread
    // only when they rewrite no bytes between runs (a span of several runs
    // rewrites what it reads, which may be that batch's) and go to disk
    // files; else that batch is done first.
    bool on_disk = sync_;
    for (std::size_t r = 0; r < runs && on_disk; ++r) on_disk = files_[run_first(r).file]->OnDisk();
    // At most kFollowingBatches batches wait on their thread behind one
    // another: each keeps its held bytes until its writes are made, and a
    // flush that encodes faster than its thread writes (a million appends)
    // held every batch of the flush at once (200 MB of 8 MB batches).
    const bool follow =
        pending_ && on_disk && retired_.size() < 2 * kFollowingBatches &&
        std::all_of(current.begin(), current.end(), [](std::size_t at) { return at == kNoSpanBytes; });
    if (!follow) WritePending();
    if (spans_.capacity() < span_bytes) {
      GiveScratch(spans_);
      spans_ = TakeScratch(span_bytes);
    }
    spans_.clear();
    spans_.reserve(span_bytes, true);
    spans_.grow(span_bytes);
    if (batch_.capacity() < entry_bytes) {
      GiveScratch(batch_);
      batch_ = TakeScratch(entry_bytes);
    }
    batch_.clear();
    batch_.reserve(entry_bytes, true);
    // A header before entries journaled ahead, or before entries placed
    // past a loose flush's, is written apart; else it leads the batch.
    const bool header_now = !started_;
    const bool header_apart = adopted_ || entries_from_ != static_cast<std::int64_t>(kHeaderSize);
    std::vector<std::uint8_t> lone_header;
    if (header_now) {
      std::vector<std::uint8_t> header = NewHeader();
      if (header_apart) lone_header = std::move(header);
      else batch_.append(header.data(), header.size());
    }
    bool entries = false;
    for (std::size_t sp = 0; sp + 1 < spans.size(); ++sp) {
      const std::size_t first_run = spans[sp], last_run = spans[sp + 1] - 1;
      const std::int64_t from = run_first(first_run).position;
      std::uint8_t* bytes = current[sp] == kNoSpanBytes ? nullptr : spans_.data() + current[sp];
      if (bytes != nullptr) {
        const std::int64_t length = run_end(last_run) - from;
        const std::int64_t got =
            ReadAt(*files_[run_first(first_run).file], static_cast<std::uint64_t>(from), bytes, length, true);
        std::fill(bytes + std::max<std::int64_t>(got, 0), bytes + length, std::uint8_t{0});
      }
      auto now_at = [&](std::int64_t position) { return bytes == nullptr ? nullptr : bytes + (position - from); };
      for (std::size_t r = first_run; r <= last_run; ++r) {
        const THeldWrite& first = run_first(r);
        const std::int64_t end = run_end(r);
        if (!adopted_ || first.file != ahead_index_ || end <= first.position) {
          entries |= AddEntry(first.file, first.position, end - first.position, batch_, now_at(first.position));
          continue;
        }
        // Only the parts whose old bytes were not journaled ahead get
        // entries.
        std::int64_t open = -1;
        for (std::int64_t p = first.position; p < end;) {
          if (JournaledAhead(p, end)) {
            if (open >= 0) entries |= AddEntry(first.file, open, p - open, batch_, now_at(open));
            open = -1;
            ++pages_ahead;
            p += ahead_count_;
          } else {
            if (open < 0) open = p;
            p = std::min(end, (p / ahead_count_ + 1) * ahead_count_);
          }
        }
        if (open >= 0) entries |= AddEntry(first.file, open, end - open, batch_, now_at(open));
      }
    }
    // The header and the entries in one write (the header alone when the
    // batch only extends files), synced once before any file is touched.
    const std::int64_t at = started_ ? end_ : adopted_ ? ahead_end_ : header_apart ? entries_from_ : 0;
    if (!lone_header.empty()) {
      Step();
      if (file_->WriteAt(0, lone_header.data(), static_cast<std::int64_t>(lone_header.size())) !=
          static_cast<std::int64_t>(lone_header.size()))
        RaiseError(err::kWriteError, path_);
      started_ = true;
      end_ = at;
    }
    if (!batch_.empty()) {
      // A header written only in part is harmless: it names the files' old
      // lengths, which they still have, and undoing plays it back. The
      // batch goes out in pieces of at most 1 MB: one write of several MB
      // into a new journal sometimes waited some 20 ms for the kernel to
      // find room for large page-cache folios. A journal cut between two
      // pieces ends at an entry no check accepts, as a torn write does.
      started_ = true;
      KeepClearOfLoose(header_now && !header_apart ? static_cast<std::int64_t>(kHeaderSize) : at,
                       at + static_cast<std::int64_t>(batch_.size()));
      for (std::size_t done = 0; done < batch_.size();) {
        const std::size_t piece = std::min(kJournalPiece, batch_.size() - done);
        Step();
        if (file_->WriteAt(at + static_cast<std::int64_t>(done), batch_.data() + done,
                           static_cast<std::int64_t>(piece)) != static_cast<std::int64_t>(piece))
          RaiseError(err::kWriteError, path_);
        done += piece;
      }
      end_ = at + static_cast<std::int64_t>(batch_.size());
    }
    // The spans' writes: the held bytes as they are, or copied into the
    // span's current bytes (after its entries took the old ones).
    writes_.clear();
    parts_.clear();
    for (std::size_t sp = 0; sp + 1 < spans.size(); ++sp) {
      const THeldWrite& first = run_first(spans[sp]);
      std::uint8_t* bytes = current[sp] == kNoSpanBytes ? nullptr : spans_.data() + current[sp];
      writes_.push_back({first.file, first.position, parts_.size(), 0});
      for (std::size_t k = starts[spans[sp]]; k < starts[spans[sp + 1]]; ++k) {
        const THeldWrite& w = held_[order[k]];
        const std::uint8_t* held = held_data_.data() + w.at;
        if (bytes == nullptr) parts_.push_back({held, w.count});
        else std::memcpy(bytes + (w.position - first.position), held, static_cast<std::size_t>(w.count));
      }
      if (bytes != nullptr) parts_.push_back({bytes, run_end(spans[sp + 1] - 1) - first.position});
      writes_.back().parts = parts_.size() - writes_.back().first_part;
    }
    held_.clear();
    held_bytes_ = 0;
    // A batch in the middle of a flush goes on without waiting for its
    // journal sync: the flush encodes what follows meanwhile, and the
    // batch's writes go out (after the sync) when the journal or the files
    // are next needed. The held bytes stay until then.
    // The header's sync also takes the entries journaled ahead to disk.
    const bool synced = (entries || header_now) && sync_;
    if (early && on_disk) {
      if (synced) Step();
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
      // The journal's buffer serves the held writes that follow.
      std::swap(pending_held_, held_data_);
      std::swap(pending_spans_, spans_);
      GiveScratch(batch_);
      pending_ = true;
      return;
    }
    if (early && synced) {
      Step();
      journal_sync_ = std::async(std::launch::async, [file = file_.get(), path = path_] {
        if (!SyncJournal(*file)) RaiseError(err::kWriteError, path);
      });
      // The journal's buffer serves the held writes that follow.
      std::swap(pending_held_, held_data_);
      std::swap(pending_spans_, spans_);
      GiveScratch(batch_);
      pending_ = true;
      return;
    }
    if (synced) Sync();
    WriteSpanList();
    held_data_.clear();
  }
  if (!syncs) return;
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

void TJournal::Commit(bool settle) {
  WriteHeld(true);
  if (!started_) {
    Stop();
    return;
  }
  // Until the commit point has passed the flush can still be undone: the
  // journal keeps its files (a failure here plays it back).
  Step();
  // Invalidating the header is the commit point: a valid one left behind
  // would be played back over this flush.
  static const std::uint8_t zeros[8] = {};
  // A loose end is not synced: the next flush's header takes its place on
  // disk, or Settle syncs it (see the top).
  const bool loose = !settle && sync_ && end_ <= kKeptBytes;
  const bool ended = file_->WriteAt(0, zeros, 8) == 8 && (!sync_ || loose || SyncJournal(*file_));
  if (!ended) {
    // Not known to be on disk: the header goes back, so that the undo (or,
    // should that fail, the next opener) puts the files back.
    file_->WriteAt(0, header_.data(), static_cast<std::int64_t>(header_.size()));
    RaiseError(err::kWriteError, path_);
  }
  if (sync_) {
    loose_ = loose;
    loose_from_ = entries_from_;
    loose_to_ = std::max(end_, entries_from_);
  }
  Stop();
  started_ = false;
  ++committed;
  Step();
  // Cut back to what is kept: freeing the blocks of a whole large journal
  // costs a commit more than all its other steps after the commit point.
  if (end_ > kKeptBytes) file_->Truncate(kKeptBytes);
}

int TJournal::Commits() { return committed; }

std::int64_t TJournal::PagesJournaledAhead() { return pages_ahead; }

void TJournal::SetAheadBatch(std::size_t positions) { ahead_batch = positions > 0 ? positions : kAheadBatch; }

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
    ahead_.salt = FreshSalt();
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
    KeepClearOfLoose(at, at + static_cast<std::int64_t>(batch.size() * (kEntryHead + ahead_.count + 4)));
  } catch (...) {
    ahead_.failed = true;
    return;
  }
  ahead_.end += static_cast<std::int64_t>(batch.size() * (kEntryHead + ahead_.count + 4));
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

bool TJournal::JournaledAhead(std::int64_t position, std::int64_t end) const {
  return position % ahead_count_ == 0 && position + ahead_count_ <= end &&
         ahead_done_.Contains(static_cast<std::uint32_t>(position));
}

std::size_t TJournal::MostBatchesKept() { return most_batches_kept; }
void TJournal::ResetMostBatchesKept() { most_batches_kept = 0; }

void TJournal::SetBatchLimit(std::int64_t bytes) { batch_limit = bytes > 0 ? bytes : kBatchBytes; }

void TJournal::SetSpanGap(std::int64_t bytes) { span_gap = bytes >= 0 ? bytes : kSpanGap; }

void TJournal::Abandon() {
  DropHeld();
  Stop();
  started_ = false;
}

void TJournal::Undo() {
  std::vector<TFileHandler*> files = files_;
  const bool written = started_;
  Abandon();
  if (written) Recover(path_, files);
}

void TJournal::UndoQuietly() noexcept {
  try {
    Undo();
  } catch (...) {
  }
}

bool TJournal::Recover(const std::string& path, const std::vector<TFileHandler*>& files) {
  // A look at the header first: an ended journal is left unread.
  if (!Hot(path)) return false;
  const std::int64_t size = file_->Size();
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
  const std::int64_t got = file_->ReadAt(0, bytes.data(), static_cast<std::int64_t>(bytes.size()));
  if (got < 0) RaiseError(err::kReadError, path);
  bytes.resize(static_cast<std::size_t>(got));
  if (!PlayBack(bytes, files)) return false;
  // The files hold their old bytes again (and are on disk): the journal
  // is ended like a committed one.
  static const std::uint8_t zeros[8] = {};
  if (!file_->Writable() || file_->WriteAt(0, zeros, 8) != 8 || !SyncJournal(*file_))
    RaiseError(err::kWriteError, path);
  return true;
}

bool TJournal::RecoverFile(const std::string& path, const std::vector<TFileHandler*>& files) {
  TJournal journal;
  const bool played = journal.Recover(path, files);
  journal.Close();
  if (played) rtl::DeleteLockedFile(path);
  return played;
}

}  // namespace korvex
