#include <algorithm>

#include "platform/runtime/cp1252.h"
#include "textutil/detail.h"
#include "textutil/edit.h"

namespace textutil {

using detail::Len;
using detail::U;

namespace {

// Maps count characters from start through table; nothing when start < 1.
void MapRange(std::string& s, int start, int count, const uint8_t* table) {
  if (start < 1 || start > Len(s) || count <= 0) return;
  const size_t from = static_cast<size_t>(start - 1);
  const size_t end = from + std::min(static_cast<size_t>(count), s.size() - from);
  for (size_t i = from; i < end; ++i) s[i] = static_cast<char>(table[U(s[i])]);
}

template <typename Map>
void AnsiMap(std::string& s, int start, int count, Map map) {
  if (start < 1 || start > Len(s)) return;
  const size_t from = static_cast<size_t>(start - 1);
  size_t end = s.size();
  if (count >= 1 && static_cast<size_t>(count) <= s.size() - from) end = from + static_cast<size_t>(count);
  for (size_t i = from; i < end; ++i) s[i] = static_cast<char>(map(U(s[i])));
}

}  // namespace

void UCase(std::string& s, int start, int count) { MapRange(s, start, count, State().UpperTable); }
void LCase(std::string& s, int start, int count) { MapRange(s, start, count, State().LowerTable); }

void AnsiUCase(std::string& s, int start, int count) { AnsiMap(s, start, count, rtl::CharUpper); }
void AnsiLCase(std::string& s, int start, int count) { AnsiMap(s, start, count, rtl::CharLower); }

void ProperCase(std::string& s) {
  const UnitState& st = State();
  unsigned char prev = ' ';
  for (char& ch : s) {
    ch = static_cast<char>(prev < '0' ? st.UpperTable[U(ch)] : st.LowerTable[U(ch)]);
    prev = U(ch);
  }
}

}  // namespace textutil
