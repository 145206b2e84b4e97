#include "tables/engine/files/index_page.h"

#include <algorithm>
#include <cstring>

#include "platform/runtime/coding.h"
#include "tables/engine/base/cipher_keys.h"
#include "tables/engine/errors/errors.h"
#include "tables/engine/files/index_definition.h"
#include "tables/lib/key_bytes.h"

namespace korvex {

void TPage::Corrupt() const { RaiseError(err::kIndexPagesCorrupt, table_ ? *table_ : std::string()); }

void TPage::Stamp(std::uint8_t slot, std::uint16_t key_size, bool unique, std::uint8_t compression) {
  slot_ = slot;
  key_size_ = key_size;
  unique_ = unique;
  compression_ = compression & 3;
  Initialize();
}

void TPage::Initialize() {
  if (Logging() && !entries_.empty()) NoteWhole();
  type_ = 0;
  count_ = 0;
  left_ = right_ = 0;
  data_size_ = 0;
  free_ = false;
  entries_.clear();
  sum_ = 0;
  Modified = false;
}

void TPage::SetPageType(std::uint8_t type) {
  if (type_ == type) return;
  Touch();
  const bool leaf = type == ptLeaf || type == ptRootLeaf;
  if (leaf == IsLeaf() || count_ == 0) {
    type_ = type;
    return;
  }
  // The slots change size: leaves keep no subtree counts.
  if (Logging()) NoteWhole();
  std::vector<std::uint8_t> old;
  old.swap(entries_);
  const std::size_t from = Stride();
  type_ = type;
  entries_.assign(Stride() * static_cast<std::size_t>(count_), 0);
  for (int i = 0; i < count_; ++i) {
    std::memcpy(&entries_[Slot(i)], &old[static_cast<std::size_t>(i) * from], key_size_ + 4u);
    if (!leaf) rtl::EncodeFixed32(&entries_[Slot(i) + key_size_ + 4], 1);
  }
  sum_ = leaf ? 0 : static_cast<std::uint32_t>(count_);
}
void TPage::SetLeftPageOffset(std::uint32_t offset) {
  if (left_ != offset) Touch();
  left_ = offset;
}
void TPage::SetRightPageOffset(std::uint32_t offset) {
  if (right_ != offset) Touch();
  right_ = offset;
}
void TPage::SetFree(bool free) {
  if (free_ != free) Touch();
  free_ = free;
  if (free) {
    if (Logging() && !entries_.empty()) NoteWhole();
    entries_.clear();
    count_ = 0;
    sum_ = 0;
    data_size_ = 0;
  }
}

std::uint32_t TPage::ValueAt(int i) const { return rtl::DecodeFixed32(&entries_[Slot(i) + key_size_]); }
std::uint32_t TPage::StoredCount(int i) const { return rtl::DecodeFixed32(&entries_[Slot(i) + key_size_ + 4]); }
std::uint32_t TPage::StoredCounts(int first, int n) const {
  if (IsLeaf()) return 0;
  std::uint32_t total = 0;
  for (int i = first; i < first + n; ++i) total += StoredCount(i);
  return total;
}
std::uint32_t TPage::SubtreeCount(int i) const { return IsLeaf() ? 1 : StoredCount(i); }
void TPage::SetKeyAt(int i, const std::uint8_t* key) {
  if (Logging()) Note(TUndoStep::kRestore, Slot(i), key_size_);
  std::memmove(&entries_[Slot(i)], key, key_size_);
  Touch();
}
void TPage::SetSubtreeCount(int i, std::uint32_t count) {
  if (IsLeaf()) return;
  if (Logging()) Note(TUndoStep::kRestore, Slot(i) + key_size_ + 4, 4);
  sum_ += count - StoredCount(i);
  rtl::EncodeFixed32(&entries_[Slot(i) + key_size_ + 4], count);
  Touch();
}

void TPage::InsertEntry(int i, const std::uint8_t* key, std::uint32_t value, std::uint32_t count) {
  if (Logging()) Note(TUndoStep::kErase, Slot(i), Stride());
  Room(entries_, Stride());
  auto at = entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(Slot(i)), Stride(), std::uint8_t{0});
  std::uint8_t* slot = &*at;
  std::memcpy(slot, key, key_size_);
  rtl::EncodeFixed32(slot + key_size_, value);
  if (!IsLeaf()) {
    rtl::EncodeFixed32(slot + key_size_ + 4, count);
    sum_ += count;
  }
  ++count_;
  Touch();
}

void TPage::Room(std::vector<std::uint8_t>& entries, std::size_t more) const {
  const std::size_t needed = entries.size() + more;
  if (needed <= entries.capacity()) return;
  // A full page and the one entry over that its split takes away: a page
  // grown by doubling would keep up to twice that (a large transaction
  // holds every page it changed).
  std::size_t room = Stride() * (MaximumEntries() + 1);
  if (room < needed) room = needed + needed / 4;  // compressed keys: more entries fit
  entries.reserve(room);
}

void TPage::DeleteEntry(int i) {
  if (Logging()) Note(TUndoStep::kInsert, Slot(i), Stride());
  sum_ -= StoredCounts(i, 1);
  auto at = entries_.begin() + static_cast<std::ptrdiff_t>(Slot(i));
  entries_.erase(at, at + static_cast<std::ptrdiff_t>(Stride()));
  --count_;
  Touch();
}

void TPage::MoveEntries(int first, int n, TPage& target, int at) {
  if (n <= 0) return;
  if (IsLeaf() != target.IsLeaf()) Corrupt();
  const std::uint32_t moved = StoredCounts(first, n);
  if (Logging()) Note(TUndoStep::kInsert, Slot(first), Slot(n));
  if (target.Logging()) target.Note(TUndoStep::kErase, target.Slot(at), Slot(n));
  auto begin = entries_.begin() + static_cast<std::ptrdiff_t>(Slot(first));
  auto end = begin + static_cast<std::ptrdiff_t>(Slot(n));
  target.Room(target.entries_, Slot(n));
  target.entries_.insert(target.entries_.begin() + static_cast<std::ptrdiff_t>(target.Slot(at)), begin, end);
  target.count_ += n;
  target.sum_ += moved;
  entries_.erase(begin, end);
  count_ -= n;
  sum_ -= moved;
  Touch();
  target.Touch();
}

// ---- before-images ---------------------------------------------------------------

bool TPage::Remember(const std::shared_ptr<const std::uint32_t>& live) {
  TUndoLog& u = undo_.Log;
  if (u.Live != live) u.Live = live;
  u.Mark = *live;
  u.Whole = false;
  if (u.Before.capacity() != 0) std::vector<std::uint8_t>().swap(u.Before);
  u.Steps.clear();
  u.Bytes.clear();
  u.Slot = slot_, u.Compression = compression_, u.Type = type_;
  u.KeySize = key_size_, u.DataSize = data_size_;
  u.Unique = unique_, u.Free = free_, u.Modified = Modified;
  u.Count = count_;
  u.Sum = sum_, u.Left = left_, u.Right = right_;
  return true;
}

void TPage::Note(std::uint8_t op, std::size_t pos, std::size_t len) {
  TUndoLog& u = undo_.Log;
  const bool keep = op != TUndoStep::kErase;
  // A log longer than a page costs more than the page: a copy instead.
  if (u.Bytes.size() + (keep ? len : 0) + u.Steps.size() * sizeof(TUndoStep) > kIndexPageSize) {
    NoteWhole();
    return;
  }
  u.Steps.push_back({static_cast<decltype(TUndoStep::Op)>(op), static_cast<std::uint32_t>(pos),
                     static_cast<std::uint32_t>(len), static_cast<std::uint32_t>(u.Bytes.size())});
  if (!keep) return;
  const std::uint8_t* from = entries_.data() + pos;
  if (len <= 8) {
    // Most notes are a subtree count's 4 bytes: no range insert.
    for (std::size_t i = 0; i < len; ++i) u.Bytes.push_back(from[i]);
  } else {
    u.Bytes.insert(u.Bytes.end(), from, from + len);
  }
}

void TPage::NoteWhole() {
  TUndoLog& u = undo_.Log;
  u.Before = entries_;
  Undo(u.Before);
  u.Steps.clear();
  u.Bytes.clear();
  u.Whole = true;
}

void TPage::Undo(std::vector<std::uint8_t>& entries) const {
  const TUndoLog& u = undo_.Log;
  for (auto step = u.Steps.rbegin(); step != u.Steps.rend(); ++step) {
    const auto at = entries.begin() + static_cast<std::ptrdiff_t>(step->Pos);
    const auto bytes = u.Bytes.begin() + static_cast<std::ptrdiff_t>(step->At);
    switch (step->Op) {
      case TUndoStep::kRestore:
        std::copy(bytes, bytes + step->Len, at);
        break;
      case TUndoStep::kErase:
        entries.erase(at, at + step->Len);
        break;
      case TUndoStep::kInsert:
        entries.insert(at, bytes, bytes + step->Len);
        break;
    }
  }
}

void TPage::Recall() {
  TUndoLog& u = undo_.Log;
  if (u.Mark == 0) return;
  if (u.Whole) entries_.swap(u.Before);
  else Undo(entries_);
  slot_ = u.Slot, compression_ = u.Compression, type_ = u.Type;
  key_size_ = u.KeySize, data_size_ = u.DataSize;
  unique_ = u.Unique, free_ = u.Free, Modified = u.Modified;
  count_ = u.Count;
  sum_ = u.Sum, left_ = u.Left, right_ = u.Right;
  u.Mark = 0;
  u.Whole = false;
  u.Steps.clear();
  u.Bytes.clear();
}

std::uint32_t TPage::KeysBefore(int i) const {
  if (IsLeaf()) return static_cast<std::uint32_t>(i);
  // Sums wrap alike either way, so both ends give the same count.
  return i <= count_ / 2 ? StoredCounts(0, i) : sum_ - StoredCounts(i, count_ - i);
}

int TPage::EntryOfRank(std::uint32_t& rank) const {
  if (count_ == 0) return -1;
  if (IsLeaf()) {
    if (rank < 1 || rank > static_cast<std::uint32_t>(count_)) return -1;
    const int i = static_cast<int>(rank) - 1;
    rank = 1;
    return i;
  }
  if (rank > sum_ / 2) {
    // From the right: the first entry whose keys before it are fewer than
    // `rank`, the same entry the walk from the left finds.
    std::uint32_t before = sum_;
    for (int i = count_ - 1; i >= 0; --i) {
      before -= StoredCount(i);
      if (rank > before) {
        if (i == count_ - 1 && rank - before > StoredCount(i)) return -1;
        rank -= before;
        return i;
      }
    }
  }
  int i = 0;
  while (i < count_ - 1 && rank > StoredCount(i)) rank -= StoredCount(i++);
  return rank > StoredCount(i) ? -1 : i;
}

std::uint32_t TPage::MaximumEntries() const { return kPageDataSize / (key_size_ + (IsLeaf() ? 6u : 10u)); }

void TPage::Counts(int i, std::uint32_t& leading, std::uint32_t& trailing) const {
  const std::uint8_t* key = KeyAt(i);
  const std::uint32_t k = key_size_;
  leading = trailing = 0;
  if ((compression_ & kcLeading) && i > 0) leading = GetDuplicateCount(KeyAt(i - 1), key, key_size_);
  if (compression_ == kcLeading) return;
  if (compression_ == kcBoth) leading = std::min<std::uint32_t>(leading, 255);
  if (!unique_) {
    if (k - leading > kRecordIDKeySize)
      trailing = GetTrailingCount(key + k - kRecordIDKeySize - 1,
                                  static_cast<std::uint16_t>(k - kRecordIDKeySize - leading));
  } else if (k > leading) {
    trailing = GetTrailingCount(key + k - 1, static_cast<std::uint16_t>(k - leading));
  }
  if (compression_ == kcBoth) trailing = std::min<std::uint32_t>(trailing, 255);
}

std::uint32_t TPage::EncodedSize(int i) const {
  std::uint32_t d, t;
  Counts(i, d, t);
  return key_size_ - d - t + 6;
}

std::uint32_t TPage::CalculateCompressedSize() const {
  if (!Compressed()) return 0;
  std::uint32_t size = 0;
  for (int i = 0; i < count_; ++i) size += EncodedSize(i);
  return size;
}

bool TPage::Overflows() const {
  if (Compressed()) return CalculateCompressedSize() > kPageDataSize;
  return static_cast<std::uint32_t>(count_) > MaximumEntries();
}

bool TPage::Underflows() const {
  if (count_ == 0) return true;
  return !Compressed() && static_cast<std::uint32_t>(count_) < MaximumEntries() / 2;
}

void TPage::Read(const std::uint8_t* source, bool header_only, bool encrypted) {
  // Deciphered on a copy; a plain page is decoded where it lies.
  std::uint8_t deciphered[kIndexPageSize];
  const std::uint8_t* bytes = source;
  if (encrypted) {
    std::memcpy(deciphered, source, kIndexPageSize);
    DecryptBuffer(deciphered, kIndexPageSize, kIndexBlobKeys.key1, kIndexBlobKeys.key2);
    bytes = deciphered;
  }
  Initialize();
  type_ = bytes[0];
  const std::uint16_t count = rtl::DecodeFixed16(bytes + 1);
  left_ = rtl::DecodeFixed32(bytes + 3);
  right_ = rtl::DecodeFixed32(bytes + 7);
  data_size_ = rtl::DecodeFixed16(bytes + 11);
  if (type_ > ptRootLeaf) Corrupt();
  if (header_only) return;
  const std::uint8_t* data = bytes + kPageHeaderSize;
  const std::uint32_t k = key_size_;
  if (!Compressed()) {
    // The entries lie on the page as in their slots.
    data_size_ = 0;
    if (count > MaximumEntries()) Corrupt();
    entries_.assign(data, data + Stride() * count);
    count_ = count;
    sum_ = StoredCounts(0, count_);
    return;
  }
  entries_.assign(Stride() * count, 0);
  count_ = count;
  if (data_size_ > kPageDataSize) Corrupt();
  std::uint32_t pos = 0;
  auto take = [&](std::uint8_t* target, std::uint32_t n) {
    if (pos + n > data_size_) Corrupt();
    std::memcpy(target, data + pos, n);
    pos += n;
  };
  for (int i = 0; i < count_; ++i) {
    std::uint8_t* key = &entries_[Slot(i)];
    std::uint32_t d = 0, t = 0;
    std::uint8_t counts[2];
    if (compression_ == kcBoth) {
      take(counts, 2);
      d = counts[0], t = counts[1];
    } else {
      take(counts, 2);
      (compression_ == kcLeading ? d : t) = rtl::DecodeFixed16(counts);
    }
    if ((i == 0 && d != 0) || d > k) Corrupt();
    if (d) std::memcpy(key, KeyAt(i - 1), d);
    const bool split_id = !unique_ && compression_ != kcLeading && k - d > kRecordIDKeySize;
    if (split_id) {
      if (t > k - kRecordIDKeySize - d) Corrupt();
      take(key + d, k - kRecordIDKeySize - d - t);
      take(key + k - kRecordIDKeySize, kRecordIDKeySize);
    } else {
      if (t > k - d || (!unique_ && t != 0)) Corrupt();
      take(key + d, k - d - t);
    }
    take(key + k, 4);
  }
  if (pos != data_size_) Corrupt();
}

void TPage::Write(std::uint8_t* target, bool encrypted) const {
  std::memset(target, 0, kIndexPageSize);
  target[0] = type_;
  rtl::EncodeFixed16(target + 1, free_ ? 0 : static_cast<std::uint16_t>(count_));
  rtl::EncodeFixed32(target + 3, left_);
  rtl::EncodeFixed32(target + 7, right_);
  if (!free_) {
    // Never leaves a page that cannot be written whole.
    if (Compressed() ? CalculateCompressedSize() > kPageDataSize : static_cast<std::uint32_t>(count_) > MaximumEntries())
      Corrupt();
    std::uint8_t* data = target + kPageHeaderSize;
    const std::uint32_t k = key_size_;
    if (!Compressed()) {
      if (!entries_.empty()) std::memcpy(data, entries_.data(), entries_.size());
    } else {
      std::uint32_t pos = 0;
      auto put = [&](const std::uint8_t* source, std::uint32_t n) {
        std::memcpy(data + pos, source, n);
        pos += n;
      };
      for (int i = 0; i < count_; ++i) {
        const std::uint8_t* key = KeyAt(i);
        std::uint32_t d, t;
        Counts(i, d, t);
        if (compression_ == kcBoth) {
          data[pos++] = static_cast<std::uint8_t>(d);
          data[pos++] = static_cast<std::uint8_t>(t);
        } else {
          rtl::EncodeFixed16(data + pos, static_cast<std::uint16_t>(compression_ == kcLeading ? d : t));
          pos += 2;
        }
        if (!unique_ && compression_ != kcLeading && k - d > kRecordIDKeySize) {
          put(key + d, k - kRecordIDKeySize - d - t);
          put(key + k - kRecordIDKeySize, kRecordIDKeySize);
        } else {
          put(key + d, k - d - t);
        }
        put(key + k, 4);
      }
      rtl::EncodeFixed16(target + 11, static_cast<std::uint16_t>(pos));
    }
  }
  if (encrypted) EncryptBuffer(target, kIndexPageSize, kIndexBlobKeys.key1, kIndexBlobKeys.key2);
}

}  // namespace korvex
