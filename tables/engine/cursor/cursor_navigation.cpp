// TDataCursor: the current index, walking and searching by it, ranges.
//
// Positions are ranks in the current index's tree (index_tree.h). The
// cursor keeps the current key and its rank; a step checks that the key
// at that rank is still the current one and takes its neighbour in the
// same descent, so a walk costs one descent per record. When the tree
// changed under the cursor (another cursor's write, another process), the
// key is looked up again; when it is gone, the walk goes on from where it
// would be.
#include <algorithm>
#include <cstring>

#include "platform/runtime/sysutils.h"
#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"

namespace korvex {
namespace {
// A Windows-1252 byte without a character: collations sort it after every
// character.
constexpr std::uint8_t kHighCollationByte = 0x9D;
}  // namespace

TIndexTree TDataCursor::Tree() { return TIndexTree(table_->IndexFile(), index_pos_, compare_, this); }

bool TDataCursor::IsPhysicalNavigation() const {
  return index_pos_ == kPhysicalOrder || (index_pos_ == 0 && table_ && table_->IndexFile().GetNoPrimaryIndex());
}

std::uint8_t TDataCursor::GetIndexCount() const {
  RequireOpen();
  return table_->IndexFile().GetIndexCount();
}

bool TDataCursor::GetNoPrimaryIndex() const {
  RequireOpen();
  return table_->IndexFile().GetNoPrimaryIndex();
}

void TDataCursor::GetIndexDefinition(std::uint8_t position, TIndexDefinition& definition) const {
  RequireOpen();
  if (position == kPhysicalOrder) {
    definition = TIndexDefinition{};
    return;
  }
  if (position > table_->IndexFile().GetIndexCount() && position != kSystemSlot)
    RaiseError(err::kInvalidIndexName, name_, {}, std::to_string(position));
  definition = table_->IndexFile().GetIndexDefinition(position);
}

void TDataCursor::GetKeyFields(std::uint8_t position, std::array<std::uint16_t, kMaxKeyFields>& fields) const {
  TIndexDefinition definition;
  GetIndexDefinition(position, definition);
  fields = definition.Fields;
}

TKeyComparator TDataCursor::ComparatorOf(std::uint8_t slot) const {
  if (slot == kSystemSlot) return TKeyComparator();
  const TDataFile& data = table_->DataFile();
  return TKeyComparator(data.GetLanguageID(), data.GetSortID(), table_->IndexFile().GetIndexDefinition(slot), physical_fields_);
}

void TDataCursor::InternalSetIndexPos(std::uint8_t position) {
  index_pos_ = position;
  key_number_ = 0;
  if (IsPhysicalNavigation()) {
    index_def_ = TIndexDefinition{};
    compare_ = TKeyComparator();
    return;
  }
  index_def_ = table_->IndexFile().GetIndexDefinition(position);
  compare_ = ComparatorOf(position);
}

void TDataCursor::GetKeyValues(const std::uint8_t* record, std::uint8_t* key) const {
  if (index_pos_ == kSystemSlot) {
    BuildSystemKey(record, key);
    return;
  }
  const TDataFile& data = table_->DataFile();
  BuildIndexKey(index_def_, physical_fields_, data.GetLanguageID(), data.GetSortID(), record, key);
}

std::uint16_t TDataCursor::KeyFieldBytes(int field_count) const {
  std::uint32_t size = 0;
  for (int i = 0; i < field_count && i < index_def_.FieldCount; ++i)
    size += physical_fields_.at(index_def_.Fields[i] - 1u).PhysicalSize + 1u;
  return static_cast<std::uint16_t>(std::min<std::uint32_t>(size, index_def_.KeySize));
}

void TDataCursor::FillKeyAfter(Key& key, std::uint16_t from, bool high) const {
  // Lowest: zero bytes (blank fields, empty strings). Highest: 0xFF, and
  // in the characters of a string under a collation a byte without a
  // character, which sorts after every character.
  std::fill(key.begin() + from, key.begin() + index_def_.KeySize, high ? 0xFF : 0x00);
  if (!high || table_->DataFile().GetLanguageID() == 0) return;
  std::uint32_t offset = 0;
  for (int i = 0; i < index_def_.FieldCount; ++i) {
    const TFieldDefinition& f = physical_fields_.at(index_def_.Fields[i] - 1u);
    if (f.DataType == dtString && !f.IsAutoIncrement())
      for (std::uint32_t b = offset + 1; b < offset + 1 + f.PhysicalSize; ++b)
        if (b >= from) key[b] = kHighCollationByte;
    offset += f.PhysicalSize + 1u;
  }
}

// ---- positions ------------------------------------------------------------------

void TDataCursor::ResetIndexPosition() {
  key_number_ = 0;
  current_ = 0;
  bof_ = eof_ = true;
}

void TDataCursor::PlaceAt(std::uint32_t rank, const Key& key, std::uint32_t record, bool unread) {
  // The record first: a read that fails leaves the cursor on the key and
  // record it had, so that the next step starts from there again (not
  // from the key whose record it never read, one key on).
  if (!unread) LoadCurrent(record);
  key_number_ = rank;
  std::copy(key.begin(), key.begin() + index_def_.KeySize, key_.begin());
  if (!unread) return;
  stepped_from_ = current_;
  current_ = record;
  left_ = 0;
  bof_ = eof_ = false;
  unread_ = record;
}

void TDataCursor::Settle() {
  const std::uint32_t n = std::exchange(unread_, 0);
  // A position moved since (to an end, or elsewhere by a path that reads)
  // leaves nothing to read.
  if (n == 0 || n != current_ || bof_ || eof_) return;
  unread_ = n;
  LoadCurrent(n);
}

bool TDataCursor::BeyondRange(const Key& key, int direction) const {
  if (!range_active_) return false;
  if (direction > 0) return range_end_length_ != 0 && CompareKeys(key.data(), range_end_.data(), range_end_length_) > 0;
  return range_start_length_ != 0 && CompareKeys(key.data(), range_start_.data(), range_start_length_) < 0;
}

void TDataCursor::RangeBounds(std::uint32_t& first, std::uint32_t& last) {
  TIndexTree tree = Tree();
  bool found = false;
  first = range_active_ && range_start_length_ ? tree.Find(range_start_.data(), range_start_length_, found) : 1;
  last = range_active_ && range_end_length_ ? tree.FindAbove(range_end_.data(), range_end_length_) - 1 : tree.Count();
}

bool TDataCursor::SkipInvisible(TIndexTree& tree, std::uint32_t& rank, Key& key, std::uint32_t& record,
                                int direction) {
  // Filter scan: only records whose bit is set count. Without filters in
  // force every record does and this returns at once.
  while (filters_in_force_ && !RecordVisible(record)) {
    if (tree.Step(rank, key.data(), direction, key, record) != TIndexTree::TStep::Done) return false;
    rank += direction;
    if (BeyondRange(key, direction)) return false;
  }
  return true;
}

bool TDataCursor::GotoFirstIndexPosition() {
  TIndexTree tree = Tree();
  bool found = false;
  std::uint32_t rank =
      range_active_ && range_start_length_ ? tree.Find(range_start_.data(), range_start_length_, found) : 1;
  Key key;
  std::uint32_t record = 0;
  if (!tree.KeyAt(rank, key, record) || BeyondRange(key, 1) || !SkipInvisible(tree, rank, key, record, 1)) {
    ResetIndexPosition();
    return false;
  }
  PlaceAt(rank, key, record);
  return true;
}

bool TDataCursor::GotoLastIndexPosition() {
  TIndexTree tree = Tree();
  std::uint32_t rank = range_active_ && range_end_length_
                           ? tree.FindAbove(range_end_.data(), range_end_length_) - 1
                           : tree.Count();
  Key key;
  std::uint32_t record = 0;
  if (!tree.KeyAt(rank, key, record) || BeyondRange(key, -1) || !SkipInvisible(tree, rank, key, record, -1)) {
    ResetIndexPosition();
    return false;
  }
  PlaceAt(rank, key, record);
  return true;
}

std::uint32_t TDataCursor::LocateCurrentKey(bool& gone) {
  TIndexTree tree = Tree();
  bool found = false;
  const std::uint32_t rank = tree.Find(key_.data(), index_def_.KeySize, found);
  gone = !found;
  if (found) {
    // Equal by the index's order: take the stored bytes as the current key.
    Key key;
    std::uint32_t record = 0;
    if (tree.KeyAt(rank, key, record)) std::copy(key.begin(), key.end(), key_.begin());
    key_number_ = rank;
  }
  return rank;
}

bool TDataCursor::SkipIndexKey(int direction) {
  TIndexTree tree = Tree();
  Key& key = step_key_;
  std::uint32_t record = 0, rank = 0;
  // The leaf the last step ended on, while nothing has changed since.
  TIndexTree::TLeafHint& hint = leaf_hint_;
  if (leaf_hint_changes_ != table_->ChangeCount() || leaf_hint_slot_ != index_pos_ || leaf_hint_rank_ != key_number_)
    hint.Clear();
  leaf_hint_changes_ = ~std::uint64_t{0};
  for (int attempt = 0;; ++attempt) {
    TIndexTree::TStep step = tree.Step(key_number_, key_.data(), direction, key, record, &hint);
    if (step == TIndexTree::TStep::Done) {
      rank = key_number_ + direction;
      leaf_hint_rank_ = rank;
      leaf_hint_slot_ = index_pos_;
      leaf_hint_changes_ = table_->ChangeCount();
      break;
    }
    hint.Clear();
    if (step == TIndexTree::TStep::End) {
      rank = 0;
      break;
    }
    bool gone = false;
    std::uint32_t at = LocateCurrentKey(gone);
    if (!gone && attempt < 2) continue;
    // The current key is gone: its neighbours are the keys around where it
    // would be.
    rank = direction > 0 ? at : at - 1;
    if (rank == 0 || !tree.KeyAt(rank, key, record)) rank = 0;
    break;
  }
  if (rank == 0 || BeyondRange(key, direction) || !SkipInvisible(tree, rank, key, record, direction)) {
    current_ = 0;
    bof_ = direction < 0;
    eof_ = direction > 0;
    return false;
  }
  CopyWalkAhead(tree, rank, record, direction);
  PlaceAt(rank, key, record);
  return true;
}

void TDataCursor::CopyWalkAhead(TIndexTree& tree, std::uint32_t rank, std::uint32_t record, int direction) {
  constexpr std::uint32_t kFirstBatch = 64;
  TDataFile& data = table_->DataFile();
  // A step to the record beside the current one reads through the file's
  // scan window; a filter's walk passes records it would not read.
  if (filters_in_force_ || (current_ != 0 && (record == current_ + 1 || record + 1 == current_))) return;
  if (!data.WouldReadAlone(record)) return;
  const std::uint32_t room = data.AheadRoom();
  if (room == 0) return;
  // The walk runs on when this step just left the last batch of the same
  // walk at its far end. A step inside it found its copy gone (another
  // writer's change dropped the copies): a small batch again, so that
  // frequent changes do not have large batches read over and over.
  const std::uint32_t last_count = ahead_last_ - ahead_first_ + 1;
  const bool runs_on = ahead_direction_ == direction && ahead_slot_ == index_pos_ && ahead_first_ != 0 &&
                       (direction > 0 ? rank > ahead_last_ && rank - ahead_last_ <= kFirstBatch
                                      : rank < ahead_first_ && ahead_first_ - rank <= kFirstBatch);
  const std::uint32_t count = std::min(room, runs_on ? std::max(kFirstBatch, last_count * 2) : kFirstBatch);
  const std::uint32_t first = direction > 0 ? rank : (rank > count ? rank - count + 1 : 1);
  const std::uint32_t last = direction > 0 ? rank + count - 1 : rank;
  ahead_records_.clear();
  tree.ScanRecords(first, last - first + 1, [&](std::uint32_t n) { ahead_records_.push_back(n); });
  ahead_first_ = first;
  ahead_last_ = last;
  ahead_slot_ = index_pos_;
  ahead_direction_ = direction;
  data.CopyAhead(this, ahead_records_);
}

bool TDataCursor::FindIndexKey(const std::uint8_t* search, std::uint16_t length, bool nearest) {
  TIndexTree tree = Tree();
  bool found = false;
  // The cursor's own, so that a lookup allocates nothing.
  Key& key = found_key_;
  key.clear();
  std::uint32_t record = 0;
  std::uint32_t rank = tree.FindKey(search, length, found, key, record, &found_path_);
  found_path_slot_ = index_pos_;
  found_path_record_ = record;
  bool have = !key.empty();
  if (have && BeyondRange(key, -1)) {  // below the range: its first key
    found = false;
    std::uint32_t last = 0;
    RangeBounds(rank, last);
    have = rank <= last && tree.KeyAt(rank, key, record);
    found = have && CompareKeys(key.data(), search, length) == 0;
  }
  if (have && BeyondRange(key, 1)) have = found = false;
  if (have && filters_in_force_ && !RecordVisible(record)) {
    found = false;
    if (!nearest) return false;
    have = SkipInvisible(tree, rank, key, record, 1);
  }
  if (!found && !nearest) return false;
  if (!have) {
    current_ = 0;
    bof_ = false;
    eof_ = true;
    return false;
  }
  PlaceAt(rank, key, record);
  return found;
}

void TDataCursor::RepositionCurrentRecord() {
  if (IsPhysicalNavigation() || current_ == 0 || bof_ || eof_) return;
  // A write of this cursor does not look for the others' changes: the
  // records they made visible count too.
  CatchUpFilters();
  Key key(kMaxKeySize, 0);
  Settle();
  GetKeyValues(current_record_.data(), key.data());
  FindIndexKey(key.data(), index_def_.KeySize, true);
}

// ---- public walking by index ------------------------------------------------------

TEngineErrorCode TDataCursor::IndexMove(std::uint8_t* buffer, int direction) {
  if (direction > 0) {
    if (eof_ && !bof_) return CopyCurrent(buffer, err::kEndOfFile);
    if (!(bof_ ? GotoFirstIndexPosition() : SkipIndexKey(1))) {
      current_ = 0;
      bof_ = false;
      eof_ = true;
      return CopyCurrent(buffer, err::kEndOfFile);
    }
  } else {
    if (bof_ && !eof_) return CopyCurrent(buffer, err::kBeginningOfFile);
    if (!(eof_ ? GotoLastIndexPosition() : SkipIndexKey(-1))) {
      current_ = 0;
      bof_ = true;
      eof_ = false;
      return CopyCurrent(buffer, err::kBeginningOfFile);
    }
  }
  return CopyCurrent(buffer, 0);
}

TEngineErrorCode TDataCursor::SetToRecordNumber(std::uint32_t n) {
  RequireOpen();
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  if (IsPhysicalNavigation()) {
    std::uint32_t at = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
      at = Neighbour(at, 1);
      if (at == 0) break;
    }
    if (n == 0 || at == 0) {
      current_ = 0;
      bof_ = n == 0;
      eof_ = n != 0;
      return n == 0 ? err::kBeginningOfFile : err::kEndOfFile;
    }
    LoadCurrent(at);
    return 0;
  }
  std::uint32_t first = 0, last = 0;
  RangeBounds(first, last);
  if (first > last) {
    ResetIndexPosition();
    return err::kNoCurrentRecord;
  }
  if (n == 0 || first + (n - 1) > last) {
    current_ = 0;
    bof_ = n == 0;
    eof_ = n != 0;
    return n == 0 ? err::kBeginningOfFile : err::kEndOfFile;
  }
  TIndexTree tree = Tree();
  std::uint32_t rank = first + n - 1, record = 0;
  Key key;
  if (!tree.KeyAt(rank, key, record)) {
    ResetIndexPosition();
    return err::kNoCurrentRecord;
  }
  if (filters_in_force_ && !RecordVisible(record) && !SkipInvisible(tree, rank, key, record, 1)) {
    if (!tree.KeyAt(first + n - 1, key, record) || !SkipInvisible(tree, rank = first + n - 1, key, record, -1)) {
      ResetIndexPosition();
      return err::kNoCurrentRecord;
    }
  }
  PlaceAt(rank, key, record);
  return 0;
}

// ---- selecting the index -----------------------------------------------------------

void TDataCursor::SetIndexPos(std::uint8_t position) {
  RequireOpen();
  if (position == index_pos_) return;
  if (position != kPhysicalOrder && position > table_->IndexFile().GetIndexCount())
    RaiseError(err::kInvalidIndexName, name_, {}, std::to_string(position));
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  CancelRange();
  InternalSetIndexPos(position);
  RefreshFilters();
  RepositionCurrentRecord();
}

void TDataCursor::CancelRange() {
  range_active_ = false;
  range_start_length_ = range_end_length_ = 0;
}

int TDataCursor::IndexPosOfName(const std::string& name, std::uint8_t first) const {
  const std::string wanted = rtl::Trim(name);
  const TIndexFile& file = table_->IndexFile();
  for (int p = first; p <= file.GetIndexCount(); ++p)
    if (rtl::SameText(rtl::Trim(file.GetIndexDefinition(static_cast<std::uint8_t>(p)).Name), wanted)) return p;
  return -1;
}

void TDataCursor::SetIndexName(const std::string& name) {
  RequireOpen();
  if (index_pos_ != kPhysicalOrder && rtl::SameText(rtl::Trim(name), index_def_.Name)) return;
  CancelRange();
  const int p = IndexPosOfName(name, 0);
  if (p < 0) RaiseError(err::kInvalidIndexName, name_, {}, rtl::Trim(name));
  if (p == index_pos_) RefreshFilters();  // the range went
  SetIndexPos(static_cast<std::uint8_t>(p));
}

// ---- searching -----------------------------------------------------------------------

bool TDataCursor::Find(bool is_key, const std::uint8_t* values, int field_count, bool nearest,
                       std::uint8_t partial_length, std::uint8_t* buffer) {
  RequireOpen();
  if (IsPhysicalNavigation() || values == nullptr) return false;
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  // The cursor's own, so that a search allocates nothing.
  Key& key = find_key_;
  key.assign(kMaxKeySize, 0);
  if (is_key) std::memcpy(key.data(), values, index_def_.KeySize);
  else GetKeyValues(values, key.data());
  const int key_fields = index_def_.FieldCount;
  const bool whole = (field_count < 1 || field_count >= key_fields) && index_def_.Unique != 0 &&
                     (field_count != 0 || partial_length == 0);
  bool found = false;
  if (whole) {
    found = FindIndexKey(key.data(), index_def_.KeySize, nearest);
  } else {
    int count = field_count;
    if (count < 0 || (count == 0 && partial_length == 0) || count > key_fields) count = key_fields;
    std::uint32_t length = KeyFieldBytes(count);
    if (partial_length != 0 && count < key_fields) length += partial_length + 1u;
    length = std::min<std::uint32_t>(length, index_def_.KeySize);
    if (partial_length != 0) {
      // Leading characters of a string: under a collation they need not
      // sort like the whole strings they begin, so the search goes by a
      // whole key that sorts before (after, descending) every key that
      // begins so.
      // A shorter search text ends where its characters end.
      std::uint32_t from = KeyFieldBytes(count) + 1u;
      while (from < length && key[from] != 0) ++from;
      FillKeyAfter(key, static_cast<std::uint16_t>(from), index_def_.Descending != 0);
      FindIndexKey(key.data(), index_def_.KeySize, true);
      if (is_key) std::memcpy(key.data(), values, index_def_.KeySize);
      else GetKeyValues(values, key.data());
    } else {
      FindIndexKey(key.data(), static_cast<std::uint16_t>(length), true);
    }
    found = !bof_ && !eof_ && CompareKeys(key_.data(), key.data(), static_cast<std::uint16_t>(length)) == 0;
  }
  if (eof_ && !bof_) GotoLastIndexPosition();
  CopyCurrent(buffer, bof_ || eof_ ? err::kNoCurrentRecord : 0);
  return found;
}

bool TDataCursor::FindExact(const std::uint8_t* values, std::uint8_t* buffer) {
  RequireOpen();
  if (IsPhysicalNavigation() || values == nullptr) return false;
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  Key key(kMaxKeySize, 0);
  GetKeyValues(values, key.data());
  const std::uint16_t length =
      static_cast<std::uint16_t>(index_def_.KeySize - (index_def_.Unique ? 0 : kRecordIDKeySize));
  const bool found = FindIndexKey(key.data(), length, false);
  CopyCurrent(buffer, bof_ || eof_ ? err::kNoCurrentRecord : 0);
  return found;
}

// ---- ranges --------------------------------------------------------------------------

void TDataCursor::SetRange(bool is_key, const std::uint8_t* start, int start_count, const std::uint8_t* end,
                           int end_count) {
  RequireOpen();
  if (IsPhysicalNavigation()) return;
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  auto bound = [&](const std::uint8_t* values, int count, Key& out, std::uint16_t& length) {
    std::fill(out.begin(), out.end(), 0);
    length = 0;
    if (!values) return;
    if (is_key) std::memcpy(out.data(), values, index_def_.KeySize);
    else GetKeyValues(values, out.data());
    const int key_fields = index_def_.FieldCount;
    length = KeyFieldBytes(count > 0 && count < key_fields ? count : key_fields);
  };
  bound(start, start_count, range_start_, range_start_length_);
  bound(end, end_count, range_end_, range_end_length_);
  ActivateRange();
}

void TDataCursor::SetRangeBound(Key& bound, std::uint16_t& length, const std::uint8_t* key) {
  RequireOpen();
  if (IsPhysicalNavigation()) return;
  std::fill(bound.begin(), bound.end(), 0);
  std::memcpy(bound.data(), key, index_def_.KeySize);
  length = index_def_.KeySize;
}
void TDataCursor::SetBeginIndexRange(const std::uint8_t* key) { SetRangeBound(range_start_, range_start_length_, key); }
void TDataCursor::SetEndIndexRange(const std::uint8_t* key) { SetRangeBound(range_end_, range_end_length_, key); }

void TDataCursor::ActivateRange() {
  RequireOpen();
  if (IsPhysicalNavigation()) return;
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  range_active_ = true;
  RefreshFilters();
  if (bof_ || eof_ || current_ == 0) {
    current_ = 0;
    bof_ = true;
    eof_ = false;
    return;
  }
  RepositionCurrentRecord();
}

bool TDataCursor::FindExactIndexKey(const std::uint8_t* key, std::uint16_t length) {
  RequireOpen();
  if (IsPhysicalNavigation()) return false;
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  return FindIndexKey(key, std::min(length, index_def_.KeySize), false);
}

bool TDataCursor::SearchIndexKeys(const std::uint8_t* key) {
  RequireOpen();
  if (IsPhysicalNavigation()) return false;
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  return Tree().Search(key);
}

bool TDataCursor::CheckForKeyViolation(const std::uint8_t* key) {
  RequireOpen();
  return !IsPhysicalNavigation() && index_def_.Unique && SearchIndexKeys(key);
}

std::uint32_t TDataCursor::GetNumReadAheadRecords(std::uint32_t max, int direction) {
  RequireOpen();
  if (bof_ || eof_ || current_ == 0 || max == 0) return max == 0 ? 0 : 1;
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  std::uint32_t count = 1;
  if (IsPhysicalNavigation()) {
    for (std::uint32_t n = current_; count < max;) {
      const std::uint32_t next = Neighbour(n, direction == 1 ? 1 : -1);
      if (next == 0 || next != (direction == 1 ? n + 1 : n - 1)) break;
      n = next;
      ++count;
    }
    return count;
  }
  // Under an index: the keys that follow the current one in a row (under
  // filters the visible ones are not known without reading them).
  if (filters_in_force_) return 1;
  std::uint32_t first = 0, last = 0;
  RangeBounds(first, last);
  while (count < max) {
    const std::uint32_t rank = direction == 1 ? key_number_ + count : key_number_ - count;
    if (rank < first || rank > last || rank == 0) break;
    ++count;
  }
  return count;
}

std::uint32_t TDataCursor::GetNumReadAheadBlocks(std::int64_t length) const {
  const std::uint32_t per_block = GetBlobBlockBufferSize();
  if (length <= 0 || per_block == 0) return 0;
  return static_cast<std::uint32_t>((length + per_block - 1) / per_block);
}

std::uint32_t TDataCursor::GetActualRecordCount() const {
  RequireOpen();
  return table_->IndexFile().GetActualRecordCount();
}
void TDataCursor::SetActualRecordCount(std::uint32_t count) {
  RequireOpen();
  table_->IndexFile().SetActualRecordCount(count);
}
void TDataCursor::IncActualRecordCount() {
  RequireOpen();
  table_->IndexFile().IncActualRecordCount();
}
void TDataCursor::DecActualRecordCount() {
  RequireOpen();
  table_->IndexFile().DecActualRecordCount();
}

void TDataCursor::ResetRange() {
  RequireOpen();
  if (IsPhysicalNavigation() || !range_active_) return;
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  CancelRange();
  RefreshFilters();
  RepositionCurrentRecord();
}

}  // namespace korvex
