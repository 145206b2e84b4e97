// TDataCursor: walking the table in physical order, reading and writing
// records and single fields, record locks.
//
// Every read holds the table's internal read lock for its duration (taking
// it runs the table's change detection, which drops stale caches); every
// write holds the table's write lock and, while it changes a record, that
// record's lock.
#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/runtime/coding.h"
#include "platform/runtime/sysutils.h"
#include "tables/engine/base/field_bytes.h"
#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/collation.h"
#include "tables/lib/fieldtypes.h"

namespace korvex {

namespace {

std::uint32_t Load32(const std::uint8_t* p) { return rtl::DecodeFixed32(p); }
void Store32(std::uint8_t* p, std::uint32_t v) { rtl::EncodeFixed32(p, v); }

}  // namespace

std::uint32_t TDataCursor::GetRecordID(const std::uint8_t* buffer) { return Load32(buffer + kRecordIDOffset); }
void TDataCursor::PutRecordID(std::uint32_t id, std::uint8_t* buffer) { Store32(buffer + kRecordIDOffset, id); }

void TDataCursor::ClearRecord(std::uint8_t* buffer) const { std::memset(buffer, 0, record_size_); }

// ---- fields --------------------------------------------------------------------

bool TDataCursor::GetField(int field, const std::uint8_t* buffer, std::uint8_t* data) const {
  return InternalGetField(FieldAt(field), buffer, data);
}

void TDataCursor::PutField(int field, std::uint8_t* buffer, const std::uint8_t* data, bool allow_calculated) const {
  InternalPutField(FieldAt(field), buffer, data, allow_calculated);
}

bool TDataCursor::InternalGetField(const TFieldDefinition& def, const std::uint8_t* buffer,
                                   std::uint8_t* data) const {
  if (def.IsAutoIncrement()) {
    if (data) std::memcpy(data, buffer + kRecordIDOffset, 4);
    return false;
  }
  const std::uint8_t* at = buffer + def.Offset;
  if (data) {
    CopyFieldBytes(data, at + 1, def.PhysicalSize);
    if (def.DataType == dtString) data[def.PhysicalSize] = 0;
  }
  if (def.DataType == dtBlob) {
    auto reference = static_cast<std::int32_t>(Load32(at + 1));
    if (reference < 0) {
      auto it = blobs_.find(reference);
      return it != blobs_.end() && it->second.Buffer->Size() == 0;
    }
  }
  return at[0] == 0;
}

void TDataCursor::InternalPutField(const TFieldDefinition& def, std::uint8_t* buffer, const std::uint8_t* data,
                                   bool allow_calculated) const {
  if (def.Calculated && !allow_calculated) return;
  if (def.IsAutoIncrement()) {
    if (data) std::memcpy(buffer + kRecordIDOffset, data, 4);
    return;
  }
  std::uint8_t* at = buffer + def.Offset;
  const std::size_t size = def.PhysicalSize;
  if (!data) {
    std::memset(at, 0, size + 1);
    if (has_calculated_ && !def.Calculated) CalculateExpressionFields(buffer);
    return;
  }
  switch (def.DataType) {
    case dtString: {
      std::size_t length = strnlen(reinterpret_cast<const char*>(data), def.Size);
      while (length > 0 && data[length - 1] == ' ') --length;
      std::memset(at + 1, 0, size);
      if (def.CharCase == 1 || def.CharCase == 2) {
        // Case by the table's language: every letter it knows, not only A-Z.
        const std::uint16_t language = open_ ? GetLanguageID() : 0, sort = open_ ? GetSortID() : 0;
        std::string text(reinterpret_cast<const char*>(data), length);
        text = def.CharCase == 1 ? LowerString(language, sort, text) : UpperString(language, sort, text);
        std::memcpy(at + 1, text.data(), std::min(text.size(), size));
        at[0] = text.empty() ? 0 : 1;
        break;
      }
      CopyFieldBytes(at + 1, data, std::min(length, size));
      at[0] = length == 0 ? 0 : 1;
      break;
    }
    case dtBlob: {
      auto reference = static_cast<std::int32_t>(Load32(data));
      Store32(at + 1, static_cast<std::uint32_t>(reference));
      bool has = reference > 0;
      if (reference < 0) {
        auto it = blobs_.find(reference);
        has = it != blobs_.end() && it->second.Buffer->Size() > 0;
      }
      at[0] = has ? 1 : 0;
      break;
    }
    case dtBoolean:
      at[1] = (data[0] | data[1]) != 0 ? 1 : 0;
      at[2] = 0;
      at[0] = 1;
      break;
    default:
      CopyFieldBytes(at + 1, data, size);
      at[0] = 1;
  }
  if (has_calculated_ && !def.Calculated) CalculateExpressionFields(buffer);
}

// ---- reading ---------------------------------------------------------------------

namespace {
// Releases the cursor's read lock when a read ends, also by an exception.
template <typename F>
struct Finally {
  F f;
  ~Finally() { f(); }
};
template <typename F>
Finally(F) -> Finally<F>;
}  // namespace

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

TEngineErrorCode TDataCursor::GetCurrentRecord(std::uint8_t* buffer, bool lock) {
  RequireOpen();
  const std::uint32_t n = current_;
  lock = lock && !bof_ && !eof_;
  // The record lock comes before the read lock: a reader waiting for a
  // record must not keep out the writer that holds it.
  if (lock) UserWriteLockRecord(n);
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  if (bof_ && eof_) return CopyCurrent(buffer, err::kNoCurrentRecord);
  if (bof_ || eof_) return CopyCurrent(buffer, bof_ ? err::kBeginningOfFile : err::kEndOfFile);
  if (lock) {
    if (!exclusive_ && buffer && CurrentRecordDiffers(buffer)) {
      UserWriteUnlockRecord(n);
      Fail(err::kRecordChanged);
    }
  }
  LoadCurrent(n);
  if (current_record_[0] != 0) return CopyCurrent(buffer, err::kRecordChanged);  // deleted meanwhile
  return CopyCurrent(buffer, 0);
}

TEngineErrorCode TDataCursor::CloneCurrentRecord(std::uint8_t* buffer) {
  RequireOpen();
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  if (bof_ || eof_ || current_ == 0) return err::kNoCurrentRecord;
  LoadCurrent(current_);
  if (current_record_[0] != 0) return err::kRecordChanged;  // deleted meanwhile
  const std::vector<std::uint8_t> source = current_record_;
  ClearRecord(buffer);
  for (int f = 1; f <= GetFieldCount(); ++f) {
    const TFieldDefinition& def = FieldAt(f);
    std::vector<std::uint8_t> value(std::size_t{def.PhysicalSize} + 1, 0);
    if (def.IsAutoIncrement() || InternalGetField(def, source.data(), value.data())) continue;
    if (def.DataType != dtBlob) {
      InternalPutField(def, buffer, value.data(), true);
      continue;
    }
    // A new BLOB of the buffer with the same content.
    const std::vector<std::uint8_t> content = ReadBlobContent(f, source.data());
    if (!content.empty()) PutBlobContent(f, buffer, content);
  }
  if (suppress_auto_inc_) PutRecordID(GetRecordID(source.data()), buffer);
  return 0;
}

TEngineErrorCode TDataCursor::GotoPhysicalRecordNumber(std::uint32_t n) {
  RequireOpen();
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  const TEngineErrorCode status = GotoLiveRecord(n);
  if (status != err::kRecordNotFound || !IsPhysicalNavigation() || n < 1 ||
      n > table_->DataFile().GetPhysicalRecordsUsed())
    return status;
  // A deleted record: the nearest live one after it, else before it.
  std::uint32_t nearest = Neighbour(n, 1);
  if (nearest == 0) nearest = Neighbour(n, -1);
  if (nearest != 0) LoadCurrent(nearest);
  else SetToBegin();
  return status;
}

TEngineErrorCode TDataCursor::GotoLiveRecord(std::uint32_t n) {
  if (n < 1 || n > table_->DataFile().GetPhysicalRecordsUsed()) return err::kRecordNotFound;
  TRecord* record = FetchRecord(n, 1);
  bool live = !record->Deleted();
  table_->DataFile().PutRecord(record);
  if (!live) return err::kRecordNotFound;
  LoadCurrent(n);
  if (!IsPhysicalNavigation()) {
    // The record's place in the current order (outside a range: not found).
    RepositionCurrentRecord();
    if (bof_ || eof_ || current_ != n) return err::kRecordNotFound;
  }
  return 0;
}

TEngineErrorCode TDataCursor::SetToRecordBuffer(const TDataCursor& other) {
  RequireOpen();
  if (!other.open_ || other.bof_ || other.eof_ || other.current_ == 0) return err::kNoCurrentRecord;
  if (other.table_ != table_ && !(rtl::SameText(other.table_->GetTableName(), table_->GetTableName()) &&
                                  rtl::SameText(other.directory_->Path(), directory_->Path())))
    return err::kRecordNotFound;
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  const TEngineErrorCode status = GotoLiveRecord(other.current_);
  if (status != 0) return status;
  return !filters_in_force_ || RecordVisible(current_) ? 0 : err::kRecordNotFound;
}

std::uint32_t TDataCursor::GetRecordNumber() {
  RequireOpen();
  if (bof_ || eof_ || current_ == 0) return 0;
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  if (!IsPhysicalNavigation()) {
    bool gone = false;
    const std::uint32_t rank = LocateCurrentKey(gone);
    if (gone) return 0;
    std::uint32_t first = 1, last = 0;
    if (range_active_) RangeBounds(first, last);
    if (rank < first) return 0;
    if (!filters_in_force_) return rank - first + 1;
    std::uint32_t count = 0;
    Tree().ScanRecords(first, rank - first + 1, [&](std::uint32_t n) { count += RecordVisible(n); });
    return count;
  }
  if (filters_in_force_)
    return RecordVisible(current_)
               ? static_cast<std::uint32_t>(filters_->Combined().GetPreviousTotalBitsSet(static_cast<std::int32_t>(current_))) + 1
               : 0;
  std::uint32_t rank = 0;
  if (LiveRank(current_, rank)) return rank;
  std::uint32_t count = 0;
  for (std::uint32_t n = Neighbour(0, 1); n != 0 && n <= current_; n = Neighbour(n, 1)) ++count;
  return count;
}

bool TDataCursor::NoteLive(std::uint32_t n, bool live) {
  std::vector<std::uint32_t>& tree = live_ranks_;
  if (n == 0 || tree.empty() || n > tree.size() + 4096) return false;  // made again at the next use
  auto sum = [&](std::uint32_t upto) {
    std::uint32_t total = 0;
    for (std::uint32_t i = upto; i > 0; i -= i & (~i + 1)) total += tree[i];
    return total;
  };
  // Records appended beyond the tree: each new node sums its span.
  while (tree.size() <= n) {
    const auto i = static_cast<std::uint32_t>(tree.size());
    tree.push_back(sum(i - 1) - sum(i - (i & (~i + 1))));
  }
  const bool was = sum(n) != sum(n - 1);
  if (was == live) return true;
  for (std::uint32_t i = n; i < tree.size(); i += i & (~i + 1)) tree[i] += live ? 1u : ~0u;
  return true;
}

bool TDataCursor::LiveRank(std::uint32_t n, std::uint32_t& rank) {
  TIndexFile& index = table_->IndexFile();
  const std::uint32_t physical = table_->DataFile().GetPhysicalRecordsUsed();
  if (index.GetRootPtr(kSystemSlot) == 0 || n > physical) return false;
  if (live_changes_ != table_->ChangeCount() || live_ranks_.size() < std::size_t{physical} + 1) {
    // The system index holds the live records' keys first (deleted flag
    // 0): its first `live` leaf entries name them.
    const std::uint32_t live = index.GetActualRecordCount();
    std::vector<std::uint32_t> tree(std::size_t{physical} + 1, 0);
    std::uint32_t seen = 0;
    TIndexTree(index, kSystemSlot, TKeyComparator(), this).ScanRecords(1, live, [&](std::uint32_t m) {
      if (m >= 1 && m <= physical && tree[m] == 0) {
        tree[m] = 1;
        ++seen;
      }
    });
    if (seen != live) return false;
    for (std::size_t i = 1; i < tree.size(); ++i) {
      const std::size_t parent = i + (i & (~i + 1));
      if (parent < tree.size()) tree[parent] += tree[i];
    }
    live_ranks_ = std::move(tree);
    live_changes_ = table_->ChangeCount();
  }
  rank = 0;
  for (std::uint32_t i = n; i > 0; i -= i & (~i + 1)) rank += live_ranks_[i];
  return true;
}

std::uint32_t TDataCursor::GetRecordCount() {
  RequireOpen();
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  // Under filters the filter bitmap's count takes the place of these.
  if (filters_in_force_) return filters_->FilteredCount();
  if (!IsPhysicalNavigation()) {
    std::uint32_t first = 0, last = 0;
    RangeBounds(first, last);
    return last >= first ? last - first + 1 : 0;
  }
  return table_->IndexFile().GetActualRecordCount();
}

bool TDataCursor::CurrentRecordDiffers(const std::uint8_t* buffer) {
  TRecord* record = FetchRecord(current_, 1);
  ScopeExit put{[&] { table_->DataFile().PutRecord(record); }};
  const std::vector<std::uint8_t>& stored = record->Data;
  if (stored[0] != 0) return true;  // deleted
  const std::uint8_t* mine = buffer;
  // An open BLOB compares by the reference it was opened from.
  if (table_->HasBlobs()) {
    before_current_.assign(buffer, buffer + record_size_);
    for (const TFieldDefinition& def : fields_) {
      if (def.DataType != dtBlob) continue;
      if (TOpenBlob* blob = BlobOf(def, buffer))
        Store32(before_current_.data() + def.Offset + 1, blob->Buffer->FirstBlock());
    }
    mine = before_current_.data();
  }
  return Load32(stored.data() + kRecordIDOffset) != Load32(mine + kRecordIDOffset) ||
         !std::equal(stored.begin() + kRecordPrefixSize, stored.end(), mine + kRecordPrefixSize);
}

// ---- record locks ----------------------------------------------------------------

void TDataCursor::UserWriteLockRecord(std::uint32_t n) {
  RequireOpen();
  if (n == 0) n = current_;
  const auto at = std::lower_bound(record_locks_.begin(), record_locks_.end(), n);
  if (at != record_locks_.end() && *at == n) return;
  if (table_->CheckForCursorRecordWriteLock(n)) Fail(err::kRecordInUse);
  bool before = table_->InternalReadLockHeld();
  table_->UserWriteLockRecord(n);
  if (!before && table_->InternalReadLockHeld()) table_->ReadUnlockTable();
  table_->AddCursorRecordWriteLock(n);
  record_locks_.insert(at, n);
}

void TDataCursor::UserWriteUnlockRecord(std::uint32_t n) {
  RequireOpen();
  if (n == 0) n = current_;
  const auto at = std::lower_bound(record_locks_.begin(), record_locks_.end(), n);
  if (at == record_locks_.end() || *at != n) return;
  record_locks_.erase(at);
  table_->RemoveCursorRecordWriteLock(n);
  table_->UserWriteUnlockRecord(n);
}

// ---- writing -----------------------------------------------------------------------

std::uint32_t TDataCursor::PeekNextRecordID() const {
  // The same wrap as the table's counter: after 2147483647 comes 1.
  std::uint32_t last = table_->DataFile().GetLastRecordID();
  return last >= 0x7FFFFFFF ? 1 : last + 1;
}

bool TDataCursor::StoreRecord(std::uint8_t* buffer, TRecord* record, std::uint32_t n) {
  bool blobs_written = false;
  if (table_->HasBlobs() && !blobs_.empty()) {
    UpdateBlobSignatures(buffer);
    blobs_written = FlushBlobBuffers(buffer);
    UpdateBlobOffsets(buffer);
  }
  record->Data.resize(physical_size_);
  std::memcpy(record->Data.data() + kRecordPrefixSize, buffer + kRecordPrefixSize,
              physical_size_ - kRecordPrefixSize);
  record->SetDeleted(false);
  Store32(record->Data.data() + 1, n);
  record->SetRecordID(GetRecordID(buffer));
  record->Modified = true;
  current_record_ = record->Data;
  unread_ = 0;
  Store32(current_record_.data() + 1, n);
  CompleteCurrent();
  return blobs_written;
}

void TDataCursor::Flush(bool blobs, bool keys) {
  // The write's one closing flush (none while the writes are held); a
  // failure has undone the write in the table before it reaches here.
  table_->EndWrite(true, keys, blobs);
  // This cursor's own writes are no foreign change.
  SynchLastUpdateStamps();
}

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

void TDataCursor::AppendRecord(std::uint8_t* buffer, bool reposition) {
  RequireOpen();
  CheckNotReadOnly();
  TWriteScope scope(*this);
  TDataFile& data = table_->DataFile();
  const std::uint32_t n = data.GetNextFreeRecordNumber();
  // A record past the end of the table is seen by no one before this write
  // (or its transaction) ends: every other writer waits for the lock this
  // one holds. Only a record of the free chain is locked.
  const bool reused = n <= data.GetPhysicalRecordsUsed();
  if (reused) UserWriteLockRecord(n);
  ScopeExit unlock{[&] {
    try {
      if (reused) UserWriteUnlockRecord(n);
    } catch (...) {
    }
  }};
  CheckRecordValidity(buffer);
  if (!suppress_auto_inc_) PutRecordID(PeekNextRecordID(), buffer);
  buffer[0] = 0;
  Key old_system;
  if (n <= data.GetPhysicalRecordsUsed()) {  // a record of the free chain
    TRecord* reused = FetchRecord(n, 1);
    old_system = KeyOf(kSystemSlot, reused->Data.data());
    data.PutRecord(reused);
  }
  // The first change; a key violation refuses the write here.
  std::uint32_t rank = 0;
  AddKeys(buffer, n, rank);
  std::array<std::uint8_t, kMaxKeySize> system_key{};
  BuildKey(kSystemSlot, buffer, system_key.data());
  ReplaceSystemKey(old_system.empty() ? nullptr : old_system.data(), system_key.data(), n,
                   index_pos_ == kSystemSlot ? &rank : nullptr);
  TRecord* record = nullptr;
  for (int attempt = 0; !data.GetNextFreeRecord(this, record); ++attempt)
    if (attempt == 3) Fail(err::kLockFailure);
  bool blobs_written = false;
  TStoredBlobs stored(*this, buffer);
  try {
    if (!suppress_auto_inc_) {
      PutRecordID(data.GetNextFreeRecordID(), buffer);
    } else {
      std::uint32_t last = data.GetLastRecordID();
      data.SetNextFreeRecordID(std::max(last >= 0x7FFFFFFF ? 1 : last + 1, GetRecordID(buffer)));
    }
    blobs_written = StoreRecord(buffer, record, record->Number());
  } catch (...) {
    data.PutRecord(record);
    throw;
  }
  data.PutRecord(record);
  table_->IndexFile().IncActualRecordCount();
  current_ = record->Number();
  bof_ = eof_ = false;
  Flush(blobs_written);
  stored.Keep();
  FilterRecordWritten(current_);
  if (!reposition) return;
  if (rank != 0 && !range_active_ && !filters_in_force_) {
    // The insert gave the new key's rank in the current index: the cursor
    // stands there.
    GetKeyValues(current_record_.data(), key_.data());
    key_number_ = rank;
    return;
  }
  // The write is in the files: failing to find its place again (a read
  // error) leaves the cursor before the first record rather than report a
  // write that took place as failed.
  try {
    RepositionCurrentRecord();
  } catch (...) {
    SetToBegin();
  }
}

void TDataCursor::AppendRecords(const std::uint8_t* buffers, std::uint32_t count) {
  RequireOpen();
  CheckNotReadOnly();
  if (count == 0) return;
  TDataFile& data = table_->DataFile();
  TIndexFile& index = table_->IndexFile();
  const std::uint32_t used = data.GetPhysicalRecordsUsed();
  const bool whole = table_->InMemory() && table_->Exclusive() && !table_->GetTransactionInProgress() &&
                     !table_->HasBlobs() && index.GetIndexCount() == 0 && index.GetNoPrimaryIndex() &&
                     !suppress_auto_inc_ && !filters_in_force_ && data.GetNextFreeRecordNumber() == used + 1 &&
                     std::uint64_t{data.GetLastRecordID()} + count <= 0x7FFFFFFF;
  if (!whole) {
    std::vector<std::uint8_t> buffer(record_size_);
    for (std::uint32_t i = 0; i < count; ++i) {
      std::memcpy(buffer.data(), buffers + std::size_t{i} * record_size_, record_size_);
      AppendRecord(buffer.data(), false);
    }
    return;
  }
  // Records the cache still holds changed reach the file first, so the new
  // ones follow bytes that are there.
  data.FlushRecordBuffers(false);
  TWriteScope scope(*this);
  const std::size_t size = physical_size_;
  std::vector<std::uint8_t> records(size * count);
  std::uint32_t id = data.GetLastRecordID();
  // Record numbers and IDs both grow, so every system key goes to the
  // tree's right edge. A table whose system index was never filled stays
  // without one, as with single appends.
  const bool keyed = index.GetRootPtr(kSystemSlot) != 0 || used == 0;
  const TKeyComparator compare;
  TIndexTree tree(index, kSystemSlot, compare, this);
  std::uint8_t key[kRecordIDKeySize + 1] = {};
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* from = buffers + std::size_t{i} * record_size_;
    CheckRecordValidity(from);
    std::uint8_t* to = records.data() + std::size_t{i} * size;
    std::memcpy(to + kRecordPrefixSize, from + kRecordPrefixSize, size - kRecordPrefixSize);
    to[0] = 0;
    Store32(to + 1, used + 1 + i);
    Store32(to + kRecordIDOffset, ++id);
    if (keyed) {
      BuildSystemKey(to, key);
      tree.Add(key, used + 1 + i);
    }
  }
  data.AppendWholeRecords(records.data(), count);
  index.SetActualRecordCount(index.GetActualRecordCount() + count);
  current_ = used + count;
  bof_ = eof_ = false;
  current_record_.assign(records.end() - static_cast<std::ptrdiff_t>(size), records.end());
  unread_ = 0;
  CompleteCurrent();
  Flush(false);
  for (std::uint32_t n = used + 1; n <= used + count; ++n) FilterRecordWritten(n);
}

bool TDataCursor::ModifyInPlace(std::uint8_t* buffer, bool unlock_record, bool reposition) {
  // Inside a transaction nothing is written before the commit, and the
  // closing flush only counts the change; a write already under way keeps
  // its own undo.
  if (!table_->GetTransactionInProgress() || table_->WriteDepth() != 0 || table_->HasBlobs() || suppress_auto_inc_)
    return false;
  const std::uint64_t changes_before = table_->ChangeCount();
  table_->WriteLockTable();
  ScopeExit unlock{[&] {
    try {
      table_->WriteUnlockTable();
    } catch (...) {
    }
  }};
  CheckRecordValidity(buffer);
  TDataFile& data = table_->DataFile();
  const std::uint32_t n = current_;
  TRecord* record = FetchRecord(n, 1);
  if (record->Deleted()) {
    data.PutRecord(record);
    Fail(err::kRecordChanged);
  }
  PutRecordID(record->RecordID(), buffer);
  buffer[0] = 0;
  if (!SameKeyBytesEverywhere(record->Data.data(), buffer)) {
    data.PutRecord(record);
    return false;
  }
  // Storing takes no memory and evaluates nothing when the buffers have
  // their sizes already and no field is calculated: it cannot fail then,
  // and nothing is kept to put back.
  const bool can_fail = has_calculated_ || record->Data.size() != physical_size_ ||
                        current_record_.capacity() < std::max<std::size_t>(record_size_, physical_size_);
  if (!can_fail) {
    StoreRecord(buffer, record, n);
    data.PutRecord(record);
    Flush(false, false);
    ModifyDone(n, false, changes_before, unlock_record, reposition);
    return true;
  }
  before_image_.assign(record->Data.begin(), record->Data.end());
  before_current_.assign(current_record_.begin(), current_record_.end());
  const bool was_modified = record->Modified;
  try {
    StoreRecord(buffer, record, n);
  } catch (...) {
    record->Data.assign(before_image_.begin(), before_image_.end());
    record->Modified = was_modified;
    data.PutRecord(record);
    current_record_.assign(before_current_.begin(), before_current_.end());
    throw;
  }
  data.PutRecord(record);
  Flush(false, false);
  ModifyDone(n, false, changes_before, unlock_record, reposition);
  return true;
}

void TDataCursor::ModifyRecord(std::uint8_t* buffer, bool unlock_record, bool reposition) {
  RequireOpen();
  CheckNotReadOnly();
  if (bof_ || eof_ || current_ == 0) Fail(err::kNoCurrentRecord);
  if (ModifyInPlace(buffer, unlock_record, reposition)) return;
  const std::uint64_t changes_before = table_->ChangeCount();
  TWriteScope scope(*this);
  CheckRecordValidity(buffer);
  TDataFile& data = table_->DataFile();
  const std::uint32_t n = current_;
  TRecord* record = FetchRecord(n, 1);
  bool blobs_written = false, keys_changed = false;
  TStoredBlobs stored(*this, buffer);
  try {
    if (record->Deleted()) Fail(err::kRecordChanged);
    if (!suppress_auto_inc_) {
      PutRecordID(record->RecordID(), buffer);
    } else if (GetRecordID(buffer) > data.GetLastRecordID()) {
      data.SetNextFreeRecordID(GetRecordID(buffer));
    }
    buffer[0] = 0;
    // Old and new keys differ when the index's order tells them apart;
    // equal keys of other bytes (another case or accent under a language)
    // still take the new bytes.
    TSlotList positions = KeyedPositions();
    if (suppress_auto_inc_) positions.push_back(kSystemSlot);
    for (std::uint8_t slot : positions) {
      // An edit that leaves an index's fields alone builds none of its keys.
      if (SameKeyBytes(slot, record->Data.data(), buffer)) continue;
      const Key old_key = KeyOf(slot, record->Data.data()), new_key = KeyOf(slot, buffer);
      keys_changed = keys_changed || old_key != new_key;
      if (slot != kSystemSlot) ReplaceKey(slot, old_key, new_key, n);
      else if (!ReplaceSystemKey(old_key.data(), new_key.data(), n)) RaiseKeyViolation(slot);
    }
    blobs_written = StoreRecord(buffer, record, n);
  } catch (...) {
    data.PutRecord(record);
    throw;
  }
  data.PutRecord(record);
  Flush(blobs_written, keys_changed);
  stored.Keep();
  ModifyDone(n, keys_changed, changes_before, unlock_record, reposition);
}

void TDataCursor::ModifyDone(std::uint32_t n, bool keys_changed, std::uint64_t changes_before, bool unlock_record,
                             bool reposition) {
  // Nothing but this write changed the table, and no key of it: the record
  // keeps its place in every order, and only its bytes are read again.
  const bool in_place = !keys_changed && !filters_in_force_ && table_->ChangeCount() == changes_before &&
                        !IsPhysicalNavigation() && current_ == n && !bof_ && !eof_;
  FilterRecordWritten(n);
  if (unlock_record) UserWriteUnlockRecord(n);
  // The write is in the files: failing to find its place again (a read
  // error) leaves the cursor before the first record rather than report a
  // write that took place as failed.
  if (reposition) {
    try {
      if (in_place) LoadCurrent(n);
      else RepositionCurrentRecord();
    } catch (...) {
      SetToBegin();
    }
  }
}

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
