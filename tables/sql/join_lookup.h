// TSortedLookup: the rows of one join target ordered by the values of its
// join columns, so that the rows whose values equal a probe's are found by
// a binary search instead of testing every pair. It serves equalities of
// any comparable type: text under the query's language (the comparison the
// conditions themselves make), numbers of mixed types, dates, times and
// timestamps, and several columns at once (compound keys). Two blanks are
// equal, as in the conditions; a blank sorts before every value.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tables/lib/expeval.h"
#include "tables/lib/exptoken.h"

namespace korvex {

// Whether the values of a column of type `column` can be looked up in order
// by a probe of type `probe`: both texts, both numbers, both dates or
// timestamps, or both times.
bool OrderedLookupTypes(std::uint8_t column, std::uint8_t probe);

class TSortedLookup {
public:
  TSortedLookup() = default;
  ~TSortedLookup();
  TSortedLookup(const TSortedLookup&) = delete;
  TSortedLookup& operator=(const TSortedLookup&) = delete;

  // Starts over with keys of `width` values each.
  void Reset(std::size_t width, TLocalePair locale);
  // Adds a row with its key values, evaluated (taken over, freed here).
  void Add(std::uint32_t row, std::vector<TExpToken*>& values);
  // Orders the rows added; Find may be called after it.
  void Finish();
  // The rows whose key equals the probe's values (evaluated, `width` of them).
  std::span<const std::uint32_t> Find(const std::vector<TExpToken*>& probe) const;

private:
  int CompareValue(const TExpToken* a, const TExpToken* b) const;
  int CompareKey(std::uint32_t entry, const std::vector<TExpToken*>& probe) const;
  void FreeValues();

  std::size_t width_ = 0;
  TLocalePair locale_{};
  std::vector<TExpToken*> values_;       // width_ per entry, owned
  std::vector<std::uint32_t> entries_;   // entry numbers in key order
  std::vector<std::uint32_t> rows_;      // the row of each entry, then in key order
  mutable TExpToken* scratch_ = nullptr;  // the result of a comparison
};

// TKeyedRows: the rows of one join target by an exact key (the bytes of a
// text, or of an integral value), for a hash join. Every distinct key is
// held once, its rows laid end to end in the order they were added, all in
// a few flat arrays: adding a row allocates nothing of its own, and a
// probe touches one place of the table and the key's bytes.
class TKeyedRows {
public:
  void Clear();
  // Rows come in ascending order; Find answers them so.
  void Add(std::uint32_t row, std::string_view key);
  // Lays the rows out by key; Find may be called after it.
  void Finish();
  std::span<const std::uint32_t> Find(std::string_view key) const;
  std::size_t KeyCount() const { return keys_.size(); }

private:
  struct Key {
    std::uint32_t at = 0, length = 0;    // its bytes in bytes_
    std::uint32_t first = 0, count = 0;  // its rows in rows_
  };
  // The place of a key in places_ (a power of two long, at most half
  // full): where it is, or the empty place it would take.
  std::size_t PlaceOf(std::string_view key, std::uint64_t hash) const;
  void Grow();

  struct Place {
    std::uint64_t hash = 0;
    std::uint32_t key = 0;  // 1 + its key in keys_, 0 when empty
  };
  std::vector<Place> places_;
  std::vector<Key> keys_;
  std::string bytes_;
  std::vector<std::uint32_t> added_;  // row, key, row, key, ... until Finish
  std::vector<std::uint32_t> rows_;
};

}  // namespace korvex
