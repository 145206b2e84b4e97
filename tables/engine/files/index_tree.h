// TIndexTree: the B+-tree of one index of an index file: descents that
// insert, delete and search keys and find the n-th key.
//
// Leaves hold every key with its record number, in key order; internal
// pages hold, per child, the child's first key, its offset and the number
// of keys in its subtree, so a key's rank (the logical record number) costs
// one descent. Pages of one level are chained both ways. A page splits when
// it overflows (the old page keeps the larger half); an uncompressed page
// below half its maximum merges with, or borrows from, a sibling under the
// same parent; a compressed leaf is only removed once empty, and splits
// when a removal makes its neighbours share less and grow it. The root
// shrinks when it is left with one child.
//
// A descent keeps the path (page and entry per level) and holds those pages
// in use until the operation ends, so no page of the path is evicted. A
// descent that is told to fetch a page again starts over from the root.
// An insert takes every new page it will need before it changes anything,
// and the subtree counts on the path follow the change of the leaf, so a
// failed insert leaves the tree as it was.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "tables/engine/files/index_file.h"
#include "tables/engine/files/index_key.h"

namespace korvex {

class TIndexTree {
public:
  TIndexTree(TIndexFile& file, std::uint8_t slot, const TKeyComparator& compare, void* cursor = nullptr);

  // Adds a key with its record number. 9729 when a unique index holds an
  // equal key; nothing changes then.
  void Insert(const std::uint8_t* key, std::uint32_t record);
  // Insert, answering false instead of raising when an equal key exists;
  // with `rank`, the new key's rank (1-based) goes there.
  bool Add(const std::uint8_t* key, std::uint32_t record, std::uint32_t* rank = nullptr);
  // What follows a removed key, read where the removal left it: the key
  // now holding the removed key's rank, or none (rank 0) when the removed
  // key was the last. `known` false when the removal could not tell (a
  // split, or the next leaf unreadable): look it up again then.
  struct TFollower {
    bool known = false;
    std::uint32_t rank = 0;
    std::vector<std::uint8_t> key;
    std::uint32_t record = 0;
  };
  // Where a search ended: the page offsets from the root to the leaf, the
  // entry taken on each internal page and the leaf's entry. Only a guess
  // for a later operation: it is followed only as far as the tree, as it
  // is then, still links those pages.
  struct TPathHint {
    static constexpr std::size_t kMostDepth = 16;
    std::size_t Depth = 0;  // 0: none
    std::array<std::uint32_t, kMostDepth> Pages{};
    std::array<int, kMostDepth> Entries{};
  };
  // Removes a key; false when there is none equal (nothing changes). With
  // `follower`, what now follows it goes there. With `hint` (a search's
  // path to this key) the removal takes that path when it still leads to
  // the key, without searching the pages.
  bool Remove(const std::uint8_t* key, TFollower* follower = nullptr, const TPathHint* hint = nullptr);
  // Removes `old_key` when there is one equal and adds `new_key` with its
  // record number, as Remove then Add; false when a unique index holds a
  // key equal to `new_key` (the removal stays then). The insert descends
  // through the pages the removal already holds.
  bool Replace(const std::uint8_t* old_key, const std::uint8_t* new_key, std::uint32_t record,
               std::uint32_t* rank = nullptr);
  // Whether a key equal over the whole key size exists.
  bool Search(const std::uint8_t* key);
  // The rank (1-based) of the first key not below `key` over `length`
  // bytes (count + 1 when there is none); `found` when that key is equal
  // over `length`.
  std::uint32_t Find(const std::uint8_t* key, std::uint16_t length, bool& found);
  // Find, also giving the key of that rank and its record number (`at`
  // empty when there is none, past the last key).
  // With `hint`, the path to that key (none past the last key).
  std::uint32_t FindKey(const std::uint8_t* key, std::uint16_t length, bool& found, std::vector<std::uint8_t>& at,
                        std::uint32_t& record, TPathHint* hint = nullptr);
  // The rank of the first key above `key` over `length` bytes (count + 1
  // when there is none).
  std::uint32_t FindAbove(const std::uint8_t* key, std::uint16_t length);
  // Hands the record numbers of the keys of ranks first .. first+count-1
  // to `take`, in key order, walking the leaves once.
  void ScanRecords(std::uint32_t first, std::uint32_t count, const std::function<void(std::uint32_t)>& take);
  // The n-th key (1-based) and its record number; false outside 1..count.
  bool KeyAt(std::uint32_t n, std::vector<std::uint8_t>& key, std::uint32_t& record);
  // From the n-th key, which must equal `expected` byte for byte, to its
  // neighbour in `direction` (1 or -1) in one descent: the leaf's next
  // entry or the first (last) of the sibling page.
  // With a hint (the leaf page and entry the n-th key was found at by the
  // step before, while the tree has not changed since) the step starts
  // there instead of descending, when that entry still holds `expected`;
  // the hint then names where the new key is. A walk reads the leaves in
  // order. The hint also keeps the keys and record numbers of its leaf as
  // the step read them: the steps inside that leaf read no page at all,
  // which is why a hint may only be given while the tree is unchanged.
  enum class TStep { Moved, End, Done };
  struct TLeafHint {
    std::uint32_t Page = 0;
    int Entry = -1;
    std::vector<std::uint8_t> Keys;      // the leaf's keys, one after another
    std::vector<std::uint32_t> Records;  // their record numbers
    // Forgets the leaf (keeps the room for the next one).
    void Clear() {
      Page = 0;
      Entry = -1;
      Keys.clear();
      Records.clear();
    }
  };
  TStep Step(std::uint32_t n, const std::uint8_t* expected, int direction, std::vector<std::uint8_t>& key,
             std::uint32_t& record, TLeafHint* hint = nullptr);
  std::uint32_t Count();
  // Returns every page of the tree to the index's free chain, children
  // first; the root becomes 0.
  void FreeAllPages();

private:
  // How deep a tree may be before its links are taken to run in a circle.
  static constexpr std::size_t kMaxDepth = 64;
  struct Level {
    TPage* page;
    int entry;  // internal pages: the entry whose child is the next level
  };
  // A descent's pages from the root, in place (a split may put a new root
  // in front of the deepest path).
  class Path {
  public:
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void clear() { size_ = 0; }
    void resize(std::size_t n) { size_ = n < size_ ? n : size_; }
    void push_back(Level level) { levels_.at(size_++) = level; }
    void push_front(Level level) {
      levels_.at(size_);
      for (std::size_t i = size_++; i > 0; --i) levels_[i] = levels_[i - 1];
      levels_[0] = level;
    }
    Level& back() { return levels_[size_ - 1]; }
    Level& operator[](std::size_t i) { return levels_[i]; }
    const Level& operator[](std::size_t i) const { return levels_[i]; }
    const Level* begin() const { return levels_.data(); }
    const Level* end() const { return levels_.data() + size_; }

  private:
    std::array<Level, kMaxDepth + 1> levels_;
    std::size_t size_ = 0;
  };
  // The pages an operation holds in use, given back at its end: the first
  // ones in place.
  class Held {
  public:
    explicit Held(TIndexFile& file) : file_(file) {}
    ~Held() { Release(); }
    TPage* Keep(TPage* page) {
      if (count_ < near_.size()) near_[count_++] = page;
      else more_.push_back(page);
      return page;
    }
    void Release();

  private:
    TIndexFile& file_;
    std::array<TPage*, 32> near_;
    std::size_t count_ = 0;
    std::vector<TPage*> more_;
  };

  int Compare(const std::uint8_t* a, const std::uint8_t* b, std::uint16_t length) const {
    return compare_.CompareKeys(a, b, length);
  }
  // Descends toward `key` to a leaf: at each internal page to the last
  // child whose first key is not above it (`upper`) or below it. False:
  // fetch again. `before` counts the keys left of the path. The pages of
  // `known` (a path of the same operation, its pages held) are taken where
  // the descent meets them.
  bool Descend(const std::uint8_t* key, std::uint16_t length, bool upper, Held& held, Path& path,
               std::uint32_t* before, const Path* known = nullptr);
  // One attempt of Add and of Remove in `held`, the descent's pages left
  // in `path`: 1 done, 0 refused (an equal key; none to remove), -1 fetch
  // again (nothing changed).
  int AddIn(const std::uint8_t* key, std::uint32_t record, std::uint32_t* rank, Held& held, Path& path,
            const Path* known);
  int RemoveIn(const std::uint8_t* key, TFollower* follower, Held& held, Path& path,
               const TPathHint* hint = nullptr);
  // Find and FindKey; without `ranked` the rank is not counted (and not
  // valid).
  std::uint32_t Locate(const std::uint8_t* key, std::uint16_t length, bool ranked, bool& found,
                       std::vector<std::uint8_t>* at, std::uint32_t* record, TPathHint* hint = nullptr);
  // Follows `hint` to `key` over the whole key size: the path and the
  // leaf entry holding the key (-1: the hint no longer leads there,
  // nothing is changed; -2: fetch again).
  int DescendHinted(const std::uint8_t* key, const TPathHint& hint, Held& held, Path& path, std::uint32_t* before);
  // The leaf holding the n-th key and its entry; -1 when there is none,
  // -2: fetch again.
  int LeafOf(std::uint32_t n, Held& held, TPage*& leaf);
  // A page fetched for a change already begun: asks again while change
  // detection answers.
  TPage* Fetch(std::uint32_t offset, Held& held);
  void FreePage(TPage* page);
  // Keeps each path entry's key and count equal to its child's first key
  // and key count.
  void UpdatePath(const Path& path);
  // The pages the splits of an overflowing leaf need, each level up that
  // is full splitting too: right neighbours and new pages, taken before
  // anything changes. False: fetch again (nothing taken).
  struct SplitPlan {
    std::size_t splits = 0;
    bool new_root = false;
    std::vector<TPage*> rights, fresh;
  };
  bool PlanSplits(const Path& path, Held& held, SplitPlan& plan);
  void ApplySplits(Path& path, const SplitPlan& plan);
  void Split(Path& path, std::size_t level, TPage* fresh, TPage* right, TPage* new_root);
  // Handles an underflowing page at `level`; answers whether its parent
  // lost an entry (and may underflow in turn).
  bool Rebalance(Path& path, std::size_t level, Held& held);
  // Fills `follower` from the leaf a removal left, `pos` being where the
  // removed key stood and `rank` its rank.
  void NoteFollower(const TPage& leaf, int pos, std::uint32_t rank, Held& held, TFollower& follower);
  void ShrinkRoot(Held& held);
  void FreeSubtree(std::uint32_t offset, int depth);
  // Copies a leaf's keys and record numbers into a hint.
  void KeepLeaf(const TPage& leaf, TLeafHint& hint) const;

  TIndexFile& file_;
  std::uint8_t slot_;
  const TKeyComparator& compare_;
  void* cursor_;
  std::uint16_t key_size_;
};

}  // namespace korvex
