// Input masks, matched element by element against the text:
//
//   element   text character                       when it does not fit
//   0         a digit (required)                   the match fails
//   9         a digit (optional)                   the element is skipped
//   #         a sign '+' or '-' (optional)         skipped
//   ? @       any character                        -
//   A         a letter or digit (required)         fails
//   C         a letter (required)                  fails
//   a         a letter or digit (optional)         skipped
//   c         a letter (optional)                  skipped
//   \x        the character x (optional)           skipped
//   |x        the character x (required)           fails
//   other     -                                    fails
//
// Blanks are neither letters nor digits here.
#include "textutil/compare.h"
#include "textutil/detail.h"

namespace textutil {

using detail::U;

namespace {

enum class Fit { kFits, kSkipped, kFails };

// The element at mask[mi] against text character t; *width is the number of
// mask characters the element takes.
Fit Element(std::string_view mask, size_t mi, unsigned char t, size_t* width) {
  const UnitState& st = State();
  const bool digit = t >= '0' && t <= '9';
  const bool letter = t != ' ' && st.AlphaSet.Has(t);
  const bool alnum = t != ' ' && st.AlphaNumSet.Has(t);
  *width = 1;
  switch (mask[mi]) {
    case '0': return digit ? Fit::kFits : Fit::kFails;
    case '9': return digit ? Fit::kFits : Fit::kSkipped;
    case '#': return t == '+' || t == '-' ? Fit::kFits : Fit::kSkipped;
    case '?':
    case '@': return Fit::kFits;
    case 'A': return alnum ? Fit::kFits : Fit::kFails;
    case 'C': return letter ? Fit::kFits : Fit::kFails;
    case 'a': return alnum ? Fit::kFits : Fit::kSkipped;
    case 'c': return letter ? Fit::kFits : Fit::kSkipped;
    case '\\':
    case '|':
      if (mi + 1 >= mask.size()) return Fit::kFails;
      *width = 2;
      if (U(mask[mi + 1]) == t) return Fit::kFits;
      return mask[mi] == '\\' ? Fit::kSkipped : Fit::kFails;
    default: return Fit::kFails;
  }
}

// Does the mask from mi on hold a required element?
bool RequiredLeft(std::string_view mask, size_t mi) {
  for (; mi < mask.size(); ++mi) {
    const char m = mask[mi];
    if (m == 'A' || m == 'C' || m == '0' || m == '?' || m == '|') return true;
    if (m == '\\') ++mi;  // the escaped character is a literal
  }
  return false;
}

}  // namespace

bool IsMask(std::string_view s, std::string_view mask, int len) {
  if (s.empty() || mask.empty()) return false;
  const size_t n = len > 0 && static_cast<size_t>(len) < s.size() ? static_cast<size_t>(len) : s.size();
  size_t ti = 0, mi = 0;
  Fit last = Fit::kFits;
  while (mi < mask.size() && ti < n) {
    size_t width;
    last = Element(mask, mi, U(s[ti]), &width);
    if (last == Fit::kFails) return false;
    mi += width;
    if (last == Fit::kFits) ++ti;
  }
  if (mi >= mask.size()) {
    if (last == Fit::kSkipped) return false;
    for (size_t i = ti; i < n; ++i)
      if (s[i] != ' ') return false;
    return true;
  }
  return len != -1 || !RequiredLeft(mask, mi);
}

}  // namespace textutil
