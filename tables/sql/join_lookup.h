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

}  // namespace korvex
