#include "textutil/compare.h"

#include <algorithm>

#include "textutil/collate.h"
#include "textutil/detail.h"

namespace textutil {

using detail::Abs;
using detail::Len;
using detail::U;

int VantaCompare(std::string_view s1, std::string_view s2, int start1, int start2, int len) {
  if (s1.empty()) return s2.empty() ? 0 : -1;
  if (s2.empty()) return 1;
  if (start1 == 0) return -2;
  bool blind = start1 < 0;
  const long long p1 = Abs(start1);
  if (Len(s1) < p1) return -2;
  const long long r1 = Len(s1) - p1 + 1;
  long long n = len;
  bool short1 = false, short2 = false;
  if (len <= 0 || len > r1) {
    n = r1;
    short1 = true;
  }
  if (start2 == 0) return -2;
  blind = blind || start2 < 0;
  const long long p2 = Abs(start2);
  if (Len(s2) < p2) return -2;
  const long long r2 = Len(s2) - p2 + 1;
  if (r2 <= n) {
    if (r2 == n) {
      short1 = false;
    } else {
      n = r2;
      short1 = false;
      short2 = true;
    }
  }
  const uint8_t* swap = State().CaseSwapTable;
  const char* a = s1.data() + p1 - 1;
  const char* b = s2.data() + p2 - 1;
  for (long long i = 0; i < n; ++i) {
    unsigned char c1 = U(a[i]), c2 = U(b[i]);
    if (c1 == c2 || (blind && swap[c1] == c2)) continue;
    if (blind) {
      c1 = std::min(c1, swap[c1]);
      c2 = std::min(c2, swap[c2]);
    }
    return c1 < c2 ? -1 : 1;
  }
  return short1 ? -1 : (short2 ? 1 : 0);
}

int AnsiCompare(std::string_view s1, std::string_view s2, int start1, int start2, int len) {
  if (start1 == 0 || start2 == 0) return -2;
  const long long p1 = Abs(start1), p2 = Abs(start2);
  if ((!s1.empty() && p1 > Len(s1)) || (!s2.empty() && p2 > Len(s2))) return -2;
  std::string_view a = s1.empty() ? s1 : s1.substr(static_cast<size_t>(p1 - 1));
  std::string_view b = s2.empty() ? s2 : s2.substr(static_cast<size_t>(p2 - 1));
  if (len > 0) {
    a = a.substr(0, static_cast<size_t>(len));
    b = b.substr(0, static_cast<size_t>(len));
  }
  return detail::Collate(b, a, start1 < 0 || start2 < 0);
}

bool StringAt(std::string_view s, std::string_view table, int start, int len) {
  if (len <= 0 || start == 0 || table.empty() || Len(table) < len) return false;
  const long long from = Abs(start);
  if (from > Len(s) || Len(s) - from + 1 < len) return false;
  const std::string_view piece = s.substr(static_cast<size_t>(from - 1), static_cast<size_t>(len));
  for (size_t slot = 0; slot + static_cast<size_t>(len) <= table.size(); slot += static_cast<size_t>(len))
    if (detail::MatchAt(piece, 0, table.substr(slot, static_cast<size_t>(len)), start < 0, false)) return true;
  return false;
}

}  // namespace textutil
