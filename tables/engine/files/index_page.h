// TPage: one B-tree page of an index file in memory, with its codec.
//
// Page on disk (4096 bytes at a multiple of 4096, little-endian):
//    0  1 type: 0 root with children, 1 internal, 2 leaf, 3 root leaf
//    1  2 number of entries (0 on a free page)
//    3  4 left sibling (0: none)
//    7  4 right sibling (0: none); on a free page the next free page
//   11  2 bytes of entry data of a compressed leaf, else 0
//   13 4083 entry data, zeros after it
// Entries (K = the index's key size):
//   internal pages: key, u32 child offset, u32 keys in the child's subtree
//   leaves without compression: key, u32 record number
//   compression 1: u16 D (leading bytes equal to the previous key's; 0 for
//     the first entry), key bytes D..K-1, u32 record number
//   compression 2: u16 T (zero bytes dropped from the end of the key; a
//     non-unique key's last 4 bytes, the record ID, are never dropped and
//     are stored whole after the shortened part), the rest, u32 record
//   compression 3: u8 D (at most 255), u8 T (at most 255, counted after the
//     leading part; a non-unique key with more than 4 bytes after D drops
//     before its last 4), the key bytes between, u32 record
// Every compressed entry takes K - D - T + 6 bytes and a compressed leaf at
// most 4083. Uncompressed leaves hold at most 4083 div (K + 6) entries,
// internal pages 4083 div (K + 10).
//
// In memory every entry is decoded into a slot of K + 8 bytes (key, value,
// subtree count) on an internal page and of K + 4 (key, record) on a leaf,
// whose entries each count one key: an uncompressed page is decoded and
// encoded by one copy, and a leaf kept in a page list takes no more memory
// than its entries. Setters mark the page modified.
//
// A page keeps its own before-image for a write (Remember / Recall): its
// header fields as the write found them and, for its entries, a log of the
// steps that undo each change (bytes to put back, a slot to take out or to
// put back in). A log that outgrows a page, or a change that empties the
// page, becomes a whole copy of the entries as they were.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tables/engine/cache/cache_entry.h"

namespace korvex {

inline constexpr std::uint32_t kIndexPageSize = 4096;
inline constexpr std::uint32_t kPageHeaderSize = 13;
inline constexpr std::uint32_t kPageDataSize = kIndexPageSize - kPageHeaderSize;

enum TPageType : std::uint8_t { ptRoot = 0, ptInternal = 1, ptLeaf = 2, ptRootLeaf = 3 };

class TPage : public TCacheEntry {
public:
  // `table` names the table in the errors the page raises.
  explicit TPage(const std::string* table) : table_(table) {}

  std::unique_ptr<TCacheEntry> Clone() const override { return CopyEntry(*this); }
  void Assign(const TCacheEntry& image) override { AssignEntry(*this, image); }
  bool Remember(const std::shared_ptr<const std::uint32_t>& live) override;
  void Recall() override;

  // The index's key properties; empties the page.
  void Stamp(std::uint8_t slot, std::uint16_t key_size, bool unique, std::uint8_t compression);
  // No entries, no links, type 0, not free, not modified.
  void Initialize();

  // From or into 4096 file bytes (deciphered or enciphered when
  // `encrypted`). Read raises 8965 for entries that cannot be decoded;
  // `header_only` leaves the entries out.
  void Read(const std::uint8_t* source, bool header_only, bool encrypted);
  void Write(std::uint8_t* target, bool encrypted) const;

  std::uint32_t Offset() const { return Key; }
  std::uint8_t Slot() const { return slot_; }
  std::uint16_t KeySize() const { return key_size_; }
  std::uint8_t Compression() const { return compression_; }
  std::uint8_t Type() const { return type_; }
  bool IsLeaf() const { return type_ == ptLeaf || type_ == ptRootLeaf; }
  bool IsRoot() const { return type_ == ptRoot || type_ == ptRootLeaf; }
  bool Compressed() const { return IsLeaf() && compression_ != kNoCompression; }
  std::uint32_t LeftPage() const { return left_; }
  std::uint32_t RightPage() const { return right_; }
  bool Free() const { return free_; }
  std::uint16_t EntryDataSize() const { return data_size_; }
  // A page with entries that turns from leaf to internal page or back
  // takes a subtree count of 1 for each entry or drops them.
  void SetPageType(std::uint8_t type);
  void SetLeftPageOffset(std::uint32_t offset);
  void SetRightPageOffset(std::uint32_t offset);
  // A free page is written with its header only and a count of 0.
  void SetFree(bool free);

  // Entries, 0-based here.
  int Count() const { return count_; }
  const std::uint8_t* KeyAt(int i) const { return &entries_[Slot(i)]; }
  std::uint32_t ValueAt(int i) const;  // record number or child offset
  std::uint32_t SubtreeCount(int i) const;  // 1 on a leaf
  void SetKeyAt(int i, const std::uint8_t* key);
  // Internal pages only: a leaf's entries count one key each.
  void SetSubtreeCount(int i, std::uint32_t count);
  void InsertEntry(int i, const std::uint8_t* key, std::uint32_t value, std::uint32_t count);
  void DeleteEntry(int i);
  // Moves entries [first, first + n) of this page into `target`, before
  // its entry `at`; both pages are leaves or neither is (8965 otherwise).
  void MoveEntries(int first, int n, TPage& target, int at);
  // The keys under the page: its count on a leaf, the sum of the subtree
  // counts on an internal page (kept as entries change).
  std::uint32_t TotalKeys() const { return IsLeaf() ? static_cast<std::uint32_t>(count_) : sum_; }
  // The keys under entries [0, i), summed from the nearer end.
  std::uint32_t KeysBefore(int i) const;
  // The entry whose subtree holds the `rank`-th key (1-based) under the
  // page, `rank` made relative to that subtree; -1 when the page holds
  // fewer keys.
  int EntryOfRank(std::uint32_t& rank) const;

  // 4083 div (K + 6) on a leaf, 4083 div (K + 10) on an internal page.
  std::uint32_t MaximumEntries() const;
  // The encoded entry data of a compressed leaf; 0 for other pages.
  std::uint32_t CalculateCompressedSize() const;
  bool Overflows() const;
  // An uncompressed page below half its maximum, or an empty page.
  bool Underflows() const;

  // Bisection: the number of entries whose first `length` key bytes sort
  // before (or not after, when `upper`) `key`.
  template <class Compare>
  int Bound(const std::uint8_t* key, std::uint16_t length, bool upper, const Compare& compare) const {
    // Inserts mostly come in key order (counters, record IDs): a key not
    // below the last one needs no search.
    if (upper && count_ > 0 && compare(KeyAt(count_ - 1), key, length) <= 0) return count_;
    int lo = 0, hi = count_;
    while (lo < hi) {
      int mid = (lo + hi) / 2;
      // Either half may come next: their middles are fetched while this
      // key is compared (a page's keys are mostly not in the processor's
      // caches, and each step would wait for its line otherwise).
      if (hi - lo > 8) {
        __builtin_prefetch(KeyAt((lo + mid) / 2));
        __builtin_prefetch(KeyAt((mid + 1 + hi) / 2));
      }
      int r = compare(KeyAt(mid), key, length);
      if (r < 0 || (upper && r == 0)) lo = mid + 1;
      else hi = mid;
    }
    return lo;
  }

  static constexpr std::uint8_t kNoCompression = 0;

private:
  std::size_t Stride() const { return key_size_ + (IsLeaf() ? 4u : 8u); }
  std::size_t Slot(int i) const { return static_cast<std::size_t>(i) * Stride(); }
  std::uint32_t StoredCount(int i) const;
  std::uint32_t StoredCounts(int first, int n) const;
  std::uint32_t EncodedSize(int i) const;
  // Leading and trailing counts of entry i as the codec writes them.
  void Counts(int i, std::uint32_t& leading, std::uint32_t& trailing) const;
  [[noreturn]] void Corrupt() const;
  void Touch() { Modified = true; }
  // Makes room for `more` bytes in `entries` (this page's or a copy's):
  // at least a full page's at once.
  void Room(std::vector<std::uint8_t>& entries, std::size_t more) const;

  // The before-image of the write Remember started, while it lasts.
  struct TUndoStep {
    enum : std::uint8_t { kRestore, kErase, kInsert } Op;
    std::uint32_t Pos, Len;  // bytes of entries_
    std::uint32_t At;  // the bytes to put back, in Bytes
  };
  struct TUndoLog {
    std::shared_ptr<const std::uint32_t> Live;
    std::uint32_t Mark = 0;
    bool Whole = false;  // Before holds the entries as they were
    std::vector<std::uint8_t> Before;
    std::vector<TUndoStep> Steps;
    std::vector<std::uint8_t> Bytes;
    // The header as Remember found it.
    std::uint8_t Slot, Compression, Type;
    std::uint16_t KeySize, DataSize;
    bool Unique, Free, Modified;
    int Count;
    std::uint32_t Sum, Left, Right;
  };
  // Copies of a page start without a log.
  struct TUndoHolder {
    TUndoLog Log;
    TUndoHolder() = default;
    TUndoHolder(const TUndoHolder&) {}
    TUndoHolder& operator=(const TUndoHolder&) { return *this; }
  };
  bool Logging() const {
    const TUndoLog& u = undo_.Log;
    return u.Mark != 0 && !u.Whole && *u.Live == u.Mark;
  }
  // Before a change of `len` bytes at `pos`: what undoes it.
  void Note(std::uint8_t op, std::size_t pos, std::size_t len);
  // The log becomes a copy of the entries as they were.
  void NoteWhole();
  void Undo(std::vector<std::uint8_t>& entries) const;

  const std::string* table_;
  std::uint8_t slot_ = 0;
  std::uint16_t key_size_ = 0;
  bool unique_ = true;
  std::uint8_t compression_ = 0;
  std::uint8_t type_ = 0;
  int count_ = 0;
  std::uint32_t sum_ = 0;  // the stored subtree counts of all entries
  std::uint32_t left_ = 0, right_ = 0;
  std::uint16_t data_size_ = 0;
  bool free_ = false;
  std::vector<std::uint8_t> entries_;
  TUndoHolder undo_;
};

}  // namespace korvex
