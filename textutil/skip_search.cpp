#include "textutil/skip_search.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "textutil/detail.h"

namespace textutil::detail {
namespace {

// The shift for each text character in the window's key position (the last
// character for forward searches, the first for backward ones). Shifts are
// kept in a byte; capping a shift at 255 only makes the search take smaller,
// still safe, steps.
struct ShiftTable {
  bool valid = false;
  std::string pattern;
  bool blind = false;
  unsigned generation = 0;
  uint8_t shift[256];

  bool Fits(std::string_view p, bool b, unsigned gen) const {
    return valid && blind == b && generation == gen && pattern == p;
  }
};

// index[c]: the rightmost (forward) or leftmost (backward) position in the
// pattern's non-key part holding c, or -1. A character t of the text can be
// aligned there when the pattern character equals t or, case-blind, t's
// case image; a '?' can be aligned with anything.
void Build(ShiftTable& table, std::string_view p, bool blind, bool backward) {
  const uint8_t* swap = State().CaseSwapTable;
  const long m = static_cast<long>(p.size());
  long index[256];
  std::fill(index, index + 256, -1L);
  long wild = -1;
  if (!backward) {
    for (long i = 0; i + 1 < m; ++i) {
      index[U(p[i])] = i;
      if (p[i] == '?') wild = i;
    }
  } else {
    for (long i = m - 1; i >= 1; --i) {
      index[U(p[i])] = i;
      if (p[i] == '?') wild = i;
    }
  }
  for (int t = 0; t < 256; ++t) {
    long at = index[t];
    long other = blind ? index[swap[t]] : -1;
    long shift;
    if (!backward) {
      at = std::max({at, other, wild});
      shift = at < 0 ? m : m - 1 - at;
    } else {
      if (other >= 0 && (at < 0 || other < at)) at = other;
      if (wild >= 0 && (at < 0 || wild < at)) at = wild;
      shift = at < 0 ? m : at;
    }
    table.shift[t] = static_cast<uint8_t>(std::min(shift, 255L));
  }
  table.pattern.assign(p.data(), p.size());
  table.blind = blind;
  table.generation = State().CaseGeneration;
  table.valid = true;
}

// Callers often take turns with a handful of patterns (a list of words
// looked for in every line), so each direction keeps a few tables, the
// oldest one rebuilt when none fits.
const ShiftTable& TableFor(std::string_view p, bool blind, bool backward) {
  constexpr size_t kKept = 16;
  thread_local ShiftTable forward_tables[kKept], backward_tables[kKept];
  thread_local size_t forward_next = 0, backward_next = 0;
  ShiftTable* tables = backward ? backward_tables : forward_tables;
  size_t& next = backward ? backward_next : forward_next;
  const unsigned generation = State().CaseGeneration;
  for (size_t i = 0; i < kKept; ++i)
    if (tables[i].Fits(p, blind, generation)) return tables[i];
  ShiftTable& table = tables[next];
  next = (next + 1) % kKept;
  Build(table, p, blind, backward);
  return table;
}

template <bool kBlind, bool kWild>
inline bool Eq(uint8_t p, uint8_t t, const uint8_t* swap) {
  return p == t || (kWild && p == '?') || (kBlind && swap[t] == p);
}

template <bool kBlind, bool kWild>
size_t Forward(const uint8_t* s, size_t n, const uint8_t* p, size_t m, size_t from,
               const uint8_t* shift, const uint8_t* swap) {
  const size_t last = n - m;
  const uint8_t key = p[m - 1];
  for (size_t at = from; at <= last;) {
    const uint8_t t = s[at + m - 1];
    if (Eq<kBlind, kWild>(key, t, swap)) {
      size_t j = 0;
      while (j + 1 < m && Eq<kBlind, kWild>(p[j], s[at + j], swap)) ++j;
      if (j + 1 >= m) return at;
    }
    at += shift[t];
  }
  return kNotFound;
}

template <bool kBlind, bool kWild>
size_t Backward(const uint8_t* s, const uint8_t* p, size_t m, size_t at, const uint8_t* shift,
                const uint8_t* swap) {
  const uint8_t key = p[0];
  for (;;) {
    const uint8_t t = s[at];
    if (Eq<kBlind, kWild>(key, t, swap)) {
      size_t j = 1;
      while (j < m && Eq<kBlind, kWild>(p[j], s[at + j], swap)) ++j;
      if (j >= m) return at;
    }
    if (at < shift[t]) return kNotFound;
    at -= shift[t];
  }
}

const uint8_t* Bytes(std::string_view v) { return reinterpret_cast<const uint8_t*>(v.data()); }

}  // namespace

size_t SkipFind(std::string_view s, std::string_view pattern, size_t from, bool blind) {
  const size_t n = s.size(), m = pattern.size();
  if (m == 0 || from > n || n - from < m) return kNotFound;
  const bool wild = pattern.find('?') != std::string_view::npos;
  if (!blind && !wild) {
    const void* hit = memmem(s.data() + from, n - from, pattern.data(), m);
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - s.data()) : kNotFound;
  }
  const uint8_t* swap = State().CaseSwapTable;
  const ShiftTable& table = TableFor(pattern, blind, false);
  if (blind && wild) return Forward<true, true>(Bytes(s), n, Bytes(pattern), m, from, table.shift, swap);
  if (blind) return Forward<true, false>(Bytes(s), n, Bytes(pattern), m, from, table.shift, swap);
  return Forward<false, true>(Bytes(s), n, Bytes(pattern), m, from, table.shift, swap);
}

size_t SkipFindLast(std::string_view s, std::string_view pattern, size_t end, bool blind) {
  const size_t m = pattern.size();
  end = std::min(end, s.size());
  if (m == 0 || end < m) return kNotFound;
  const bool wild = pattern.find('?') != std::string_view::npos;
  const uint8_t* swap = State().CaseSwapTable;
  const ShiftTable& table = TableFor(pattern, blind, true);
  const size_t at = end - m;
  if (blind && wild) return Backward<true, true>(Bytes(s), Bytes(pattern), m, at, table.shift, swap);
  if (blind) return Backward<true, false>(Bytes(s), Bytes(pattern), m, at, table.shift, swap);
  if (wild) return Backward<false, true>(Bytes(s), Bytes(pattern), m, at, table.shift, swap);
  return Backward<false, false>(Bytes(s), Bytes(pattern), m, at, table.shift, swap);
}

}  // namespace textutil::detail
