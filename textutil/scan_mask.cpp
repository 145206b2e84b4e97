#include "textutil/detail.h"
#include "textutil/scan.h"

namespace textutil {

using detail::Abs;
using detail::Len;
using detail::U;

namespace {

bool FitsMask(char m, unsigned char t, bool blind, const UnitState& st) {
  switch (m) {
    case '?': return true;
    case '#': return t >= '0' && t <= '9';
    case '@': return t != ' ' && st.AlphaSet.Has(t);
    case '$': return t != ' ' && st.AlphaNumSet.Has(t);
    case '~': return !st.AlphaNumSet.Has(t);
    default: return U(m) == t || (blind && st.CaseSwapTable[t] == U(m));
  }
}

// Matches mask against s from offset from; on success *end is the offset
// after the last text character the mask consumed. A '*' first matches
// nothing and takes one more character each time the rest of the mask
// fails.
bool MaskWalk(std::string_view s, size_t from, std::string_view mask, bool blind, size_t* end) {
  const UnitState& st = State();
  size_t ti = from, mi = 0;
  size_t star_mi = std::string_view::npos, star_ti = 0;
  while (mi < mask.size()) {
    if (mask[mi] == '*') {
      star_mi = ++mi;
      star_ti = ti;
      continue;
    }
    if (ti >= s.size()) return false;
    if (FitsMask(mask[mi], U(s[ti]), blind, st)) {
      ++mi;
      ++ti;
    } else if (star_mi == std::string_view::npos) {
      return false;
    } else {
      mi = star_mi;
      ti = ++star_ti;
    }
  }
  *end = ti;
  return true;
}

}  // namespace

bool IsMatch(std::string_view s, std::string_view mask, bool ignore_case) {
  size_t end;
  return !s.empty() && !mask.empty() && MaskWalk(s, 0, mask, ignore_case, &end);
}

int ScanW(std::string_view s, std::string_view mask, int& start) {
  if (s.empty() || mask.empty() || start == 0 || Abs(start) > Len(s)) {
    start = 0;
    return 0;
  }
  const bool blind = start < 0;
  for (size_t at = static_cast<size_t>(Abs(start) - 1); at < s.size(); ++at) {
    size_t end;
    if (MaskWalk(s, at, mask, blind, &end)) {
      start = static_cast<int>(at) + 1;
      return static_cast<int>(end - at);
    }
  }
  start = 0;
  return 0;
}

}  // namespace textutil
