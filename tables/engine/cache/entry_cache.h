// The cache of a table file: its entries in a hash table by key, for
// lookups, threaded on a most-recently-used chain, for eviction. Entries
// are owned by the file; the cache only finds and orders them. Lookups,
// additions and removals take constant time on average; the lists in key
// order (Sorted, ModifiedRuns) sort what they take, and the eviction search
// walks from the least recently used entry past those it may not evict.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "tables/engine/cache/cache_entry.h"

namespace korvex {

class TWriteUndo;

class TEntryCache {
public:
  std::size_t Count() const { return count_; }
  std::size_t Capacity() const { return capacity_; }
  void SetCapacity(std::size_t capacity) { capacity_ = capacity; }
  bool Full() const { return count_ >= capacity_; }

  // The first four entries of the chain, then the table; nullptr when the
  // key is not cached. Counts nothing and moves nothing.
  TCacheEntry* Find(std::uint32_t key) const;
  // Adds the entry at its place by key (which no cached entry has) and at
  // the front of the chain.
  void Insert(TCacheEntry* entry);
  void Remove(TCacheEntry* entry);
  // Moves the entry to the front of the chain.
  void Touch(TCacheEntry* entry);
  // Gives a cached entry a new key (its place in the list follows).
  void Rekey(TCacheEntry* entry, std::uint32_t key);
  // The least recently used entry that is neither modified nor in use.
  TCacheEntry* FindEvictable() const;
  // Modified entries not in use and with keys outside [skip_first,
  // skip_last], grouped into runs whose keys follow each other by `step`:
  // the runs one after another in `entries` (cleared first), each starting
  // at its index in `starts`, which ends with entries.size().
  void ModifiedRuns(std::uint32_t step, std::uint32_t skip_first, std::uint32_t skip_last,
                    std::vector<TCacheEntry*>& entries, std::vector<std::size_t>& starts) const;
  // The entries in the order of their keys.
  std::vector<TCacheEntry*> Sorted() const;
  // Every entry, in no particular order.
  template <class F>
  void ForEach(const F& f) const {
    for (const TSlot& slot : slots_)
      if (slot.Entry) f(slot.Entry);
  }
  // Every modified entry, in the order of their keys. An entry turns
  // modified only after the cache handed it out (found, added, re-keyed)
  // or while it is in use, so these come from the entries handed out since
  // the last such walk and those modified or in use at it.
  template <class F>
  void ForEachModified(const F& f) const {
    for (TCacheEntry* e : Sweep())
      if (e->Modified) f(e);
  }
  TCacheEntry* MostRecent() const { return newest_; }
  // Moves on whenever a key enters the cache (Insert, Rekey) or it is
  // cleared: a key found absent stays absent while it is unchanged.
  std::uint64_t Generation() const { return generation_; }
  // Lets the least recently used entries that are neither modified nor in
  // use go until at most `count` remain (or none of the rest may go), each
  // to `release`; when most go the table is built again once.
  void Shrink(std::size_t count, const std::function<void(TCacheEntry*)>& release);
  // Forgets every entry, then hands each, in the order of their keys, to
  // `release` (when given): the cache touches none of them afterwards, so
  // `release` may free them.
  void Clear(const std::function<void(TCacheEntry*)>& release = {});

  // Notes the first touch of every key found, added or re-keyed in `undo`
  // (nullptr: none), so that a failed write can be put back.
  void SetUndo(TWriteUndo* undo) { undo_ = undo; }
  // The undo read from `*source` (set by its owner) when none is set here:
  // a file of many caches attaches a write to all of them with one store.
  void SetUndoSource(TWriteUndo* const* source) { undo_source_ = source; }
  TWriteUndo* Undo() const { return undo_ ? undo_ : undo_source_ ? *undo_source_ : nullptr; }

  // A place for `key`, cached at the front of the chain: a new entry from
  // `make` while below capacity; else the least recently used entry that is
  // neither modified nor in use (after one `flush` unless writes are held),
  // re-keyed; else, while writes are held, a new entry in a cache grown by
  // `growth` or by a quarter, whichever is more (so that a long write
  // searches for an evictable entry only a logarithmic number of times).
  // nullptr when there is none. The caller empties the entry.
  TCacheEntry* Obtain(std::uint32_t key, bool writes_held, const std::function<TCacheEntry*()>& make,
                      const std::function<void()>& flush, std::size_t growth = 255);
  // Between these, the entries of a window read into the cache: while
  // writes are held, Obtain takes none of the places it gave since
  // BeginWindow (it grows the cache instead), so that a window larger than
  // the room its modified entries leave never pushes out its own records
  // before they are asked for.
  void BeginWindow() {
    window_open_ = true;
    window_first_ = nullptr;
  }
  void EndWindow() {
    window_open_ = false;
    window_first_ = nullptr;
  }

private:
  // Obtain's place for `key`, before the open window notes it.
  TCacheEntry* Place(std::uint32_t key, bool writes_held, const std::function<TCacheEntry*()>& make,
                     const std::function<void()>& flush, std::size_t growth);
  void Unlink(TCacheEntry* entry);
  void LinkFront(TCacheEntry* entry);
  // Notes an entry handed out in this period (`always`: also when it was
  // under another key).
  void Note(TCacheEntry* entry, bool always) const {
    if (!always && entry->SweepMark == sweep_) return;
    entry->SweepMark = sweep_;
    recent_.push_back(entry->Key);
    if (recent_.size() > 2 * count_ + 256) Compact();
  }
  // Drops the keys noted twice and those of entries no longer cached (a
  // long read between writes hands out far more entries than the cache
  // keeps, and the next walk would sort them all).
  void Compact() const;
  // The entries that may be modified, by key; starts a new period.
  std::vector<TCacheEntry*> Sweep() const;
  // FindEvictable starting after the modified entries an earlier search
  // passed at the old end of the chain; while writes are held it stops at
  // the open window's places.
  TCacheEntry* FindEvictablePastModified(bool writes_held);

  // Open addressing with linear probing; an empty slot has no entry. At
  // most half the slots are taken, and above sixteen slots at least an
  // eighth. There are at least sixteen slots once any entry is added. A
  // slot keeps its key's home (in what would be padding), so that an
  // erasure's walk along the run after it computes none.
  struct TSlot {
    std::uint32_t Key;
    std::uint32_t HomeAt;
    TCacheEntry* Entry;
  };
  // Four keys that follow each other take neighbouring slots (a long
  // write adds records in order, a walk reads them so), their group a
  // slot spread by multiplication. Groups no longer than that keep the
  // runs that an erasure walks along short: entries leave in key order.
  std::size_t Home(std::uint32_t key) const {
    return ((((key >> 2) * 0x9E3779B1u) >> shift_) + (key & 3u)) & (slots_.size() - 1);
  }
  TSlot* Lookup(std::uint32_t key) const;
  void Add(std::uint32_t key, TCacheEntry* entry);
  void Erase(TSlot* slot);
  void Resize(std::size_t slots);

  std::vector<TSlot> slots_;
  // Keys handed out in this period, and keys of the entries modified or in
  // use when it began.
  mutable std::vector<std::uint32_t> recent_, carried_;
  mutable std::uint32_t sweep_ = NextUniqueMark();
  std::size_t count_ = 0;
  std::uint64_t generation_ = 0;
  unsigned shift_ = 32;
  TCacheEntry* newest_ = nullptr;
  TCacheEntry* oldest_ = nullptr;
  // The newest of the modified entries at the old end of the chain that
  // searches passed (nullptr: none known), the one before it when it
  // leaves the chain's place; forgotten by every walk for modified entries,
  // which come before their writing.
  mutable TCacheEntry* held_past_ = nullptr;
  std::size_t capacity_ = 0;
  TWriteUndo* undo_ = nullptr;
  TWriteUndo* const* undo_source_ = nullptr;
  // The oldest place Obtain gave in the open window (all it gave since are
  // newer): searches while writes are held stop there.
  bool window_open_ = false;
  TCacheEntry* window_first_ = nullptr;
};

}  // namespace korvex
