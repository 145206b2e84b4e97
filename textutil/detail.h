// Small helpers shared by the library's source files; not part of its
// interface.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>

#include "textutil/state.h"

namespace textutil::detail {

inline unsigned char U(char c) { return static_cast<unsigned char>(c); }

inline int Len(std::string_view s) { return static_cast<int>(s.size()); }

// |v| without overflow for the most negative int.
inline long long Abs(int v) { return v < 0 ? -static_cast<long long>(v) : v; }

// Does pattern character p match text character t? '?' is a wildcard when
// wild is set; case-blind, p also matches the t whose case image it is.
inline bool CharMatch(unsigned char p, unsigned char t, bool blind, bool wild, const uint8_t* swap) {
  return p == t || (wild && p == '?') || (blind && swap[t] == p);
}

// Does pattern match s at the 0-based offset at (room assumed)?
inline bool MatchAt(std::string_view s, size_t at, std::string_view pattern, bool blind, bool wild) {
  const uint8_t* swap = State().CaseSwapTable;
  for (size_t j = 0; j < pattern.size(); ++j)
    if (!CharMatch(U(pattern[j]), U(s[at + j]), blind, wild, swap)) return false;
  return true;
}

// The delimiter set of the set-based scans: every character of delims, and
// for a negative start also each one's case image. False (the caller then
// gives up) when s or delims is empty, delims has more than 256 characters,
// start is 0 or |start| lies beyond s.
inline bool BuildTokenSet(std::string_view s, std::string_view delims, int start, TCharSet& set) {
  if (s.empty() || delims.empty() || delims.size() > 256 || start == 0 ||
      Abs(start) > static_cast<long long>(s.size()))
    return false;
  set.Clear();
  const uint8_t* swap = State().CaseSwapTable;
  for (char c : delims) {
    set.Add(U(c));
    if (start < 0) set.Add(swap[U(c)]);
  }
  return true;
}

// The set of the characters of table, exactly.
inline TCharSet SetOf(std::string_view table) {
  TCharSet set;
  for (char c : table) set.Add(U(c));
  return set;
}

// Packs the characters of s[from..] for which keep(c) holds towards from,
// blanks the freed tail and returns the number of characters in front of the
// blanks (from included). The compaction every in-place deleter and filter
// shares: one pass, no allocation, length kept.
template <typename Keep>
int PackIf(std::string& s, size_t from, Keep keep) {
  size_t w = from;
  for (size_t r = from; r < s.size(); ++r)
    if (keep(U(s[r]))) s[w++] = s[r];
  std::fill(s.begin() + static_cast<long>(w), s.end(), ' ');
  return static_cast<int>(w);
}

}  // namespace textutil::detail
