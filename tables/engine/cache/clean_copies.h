// TCleanCopies: the bytes of a table file's entries (records, index pages)
// as they were last read from the file, kept after the file's own cache has
// let them go (or read with a neighbour the cache did not ask for), within
// a byte budget.
//
// The file's cache holds few entries, and an entry it has to read again
// costs a read and, for a shared table, the table's internal read lock. A
// clean copy is as current as the cache itself: the owner drops a key's copy
// before it writes that entry and drops every copy whenever it drops its
// cache (another writer's change found, the file emptied, closed or played
// back), so a copy is used only where an entry read from the file would have
// the same bytes. Eviction by the clock: an entry used since the hand last
// passed it gets a second round. Slots are made as they are first needed, so
// memory grows only with use. Keys are never 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace korvex {

class TCleanCopies {
public:
  // Entries of `entry_size` bytes, at most `budget` bytes of them; drops
  // every copy. A size of 0 or a budget below one entry keeps nothing.
  void Configure(std::uint32_t entry_size, std::size_t budget);
  bool Enabled() const { return capacity_ != 0; }
  // The copy of a key (nullptr: none); valid until the next Store.
  const std::uint8_t* Find(std::uint32_t key);
  // Whether the key has a copy; marks nothing used.
  bool Has(std::uint32_t key) const { return count_ != 0 && key != 0 && places_[PlaceOf(key)].key == key; }
  // `used`: stored as if already used once, so that the clock passes it
  // once more (a copy read ahead, to be asked for soon, goes after the
  // copies already used).
  void Store(std::uint32_t key, const std::uint8_t* bytes, bool used = false);
  // Overwrites the key's copy where there is one; keeps nothing new.
  void Refresh(std::uint32_t key, const std::uint8_t* bytes);
  void Erase(std::uint32_t key);
  void Clear();
  std::size_t Count() const { return count_; }
  // Whether a copy of an entry read at random is worth keeping in a file of
  // `entries`: it saves a read only when asked for again before the clock
  // takes it, about capacity / entries of the time for reads spread over
  // the file. Below one in two, storing it (a copy, a hash probe, a page
  // of memory touched) costs more than the reads it saves.
  bool PaysFor(std::size_t entries) const { return 2 * capacity_ >= entries; }
  // Whether a copy of each of entries (a whole file) fits: nothing stored
  // then pushes out another.
  bool Holds(std::size_t entries) const { return capacity_ >= entries; }
  std::size_t Capacity() const { return capacity_; }

private:
  // Open addressing with linear probing: key 0 marks an empty place.
  struct Place {
    std::uint32_t key = 0;
    std::uint32_t slot = 0;
  };
  std::size_t Home(std::uint32_t key) const;
  std::size_t PlaceOf(std::uint32_t key) const;
  void Remove(std::size_t place);
  void Grow();

  std::uint32_t size_ = 0;
  std::size_t capacity_ = 0;
  std::size_t count_ = 0;
  std::unique_ptr<std::uint8_t[]> bytes_;  // capacity_ slots, made as used
  std::vector<std::uint32_t> keys_;  // per slot; 0: free
  std::vector<std::uint8_t> used_;   // per slot: used since the hand passed
  std::vector<std::uint32_t> free_;
  std::vector<Place> places_;        // a power of two, at least twice the count
  std::size_t hand_ = 0;
  // No key above it has a copy: an appended entry's key is past every
  // copy, and dropping its copy costs no probe.
  std::uint32_t highest_ = 0;
  int shift_ = 26;  // 32 - log2(places_.size())
};

}  // namespace korvex
