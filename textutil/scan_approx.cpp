#include <algorithm>

#include "textutil/detail.h"
#include "textutil/scan.h"

namespace textutil {

using detail::Abs;
using detail::Len;
using detail::U;

namespace {

// Walks pattern against s from offset at, greedily and without backtracking,
// counting substituted, missing, extra and transposed characters. Returns
// the number of text characters consumed, or -1 when more than k errors
// were needed.
int ApproxWalk(std::string_view s, std::string_view p, int k, size_t at, bool blind) {
  const uint8_t* swap = State().CaseSwapTable;
  auto match = [&](char pc, char tc) { return detail::CharMatch(U(pc), U(tc), blind, false, swap); };
  const size_t n = s.size(), m = p.size();
  size_t i = at, j = 0;
  int errors = 0;
  bool first = true;
  for (;;) {
    if (j >= m) break;
    if (i >= n) {
      errors += static_cast<int>(m - j);
      break;
    }
    if (match(p[j], s[i])) {
      ++i;
      ++j;
      first = false;
      continue;
    }
    if (++errors > k) return -1;
    if (j == m - 1) {  // the pattern's last character is the error
      ++i;
      break;
    }
    if (i == n - 1) {  // the text ends here: what is left of the pattern is missing
      errors += static_cast<int>(m - 1 - j);
      ++i;
      break;
    }
    bool extra = false;
    if (match(p[j], s[i + 1])) {
      if (first) return -1;  // the next start position begins on that character
      extra = true;
    }
    if (match(p[j + 1], s[i])) {
      if (extra) {  // transposed pair
        i += 2;
        j += 2;
      } else {  // pattern character missing from the text
        ++j;
      }
    } else if (extra) {  // extra text character
      ++i;
    } else {  // substitution
      ++i;
      ++j;
    }
    first = false;
  }
  return errors <= k ? static_cast<int>(i - at) : -1;
}

}  // namespace

int ScanZ(std::string_view s, std::string_view pattern, int max_errors, int& start) {
  if (s.empty() || pattern.empty() || max_errors < 0 || start == 0) return 0;
  if (max_errors == 0) {
    start = ScanF(s, pattern, start);
    return start > 0 ? Len(pattern) : 0;
  }
  if (max_errors >= Len(pattern)) return Abs(start) > Len(s) ? 0 : std::min(Len(s), Len(pattern));
  const long long last = std::min<long long>(Len(s), static_cast<long long>(Len(s)) - Len(pattern) + max_errors + 1);
  for (long long q = Abs(start); q <= last; ++q) {
    int consumed = ApproxWalk(s, pattern, max_errors, static_cast<size_t>(q - 1), start < 0);
    if (consumed >= 0) {
      start = static_cast<int>(q);
      return consumed;
    }
  }
  return 0;
}

}  // namespace textutil
