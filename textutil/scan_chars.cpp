#include <cstring>

#include "textutil/detail.h"
#include "textutil/scan.h"

namespace textutil {

using detail::Abs;
using detail::Len;
using detail::U;

namespace {

// First position from |start| whose character is in the set; 0 when none.
int FirstIn(std::string_view s, int start, const TCharSet& set, bool member) {
  if (s.empty() || start == 0 || Abs(start) > Len(s)) return 0;
  for (size_t i = static_cast<size_t>(Abs(start) - 1); i < s.size(); ++i)
    if (set.Has(s[i]) == member) return static_cast<int>(i) + 1;
  return 0;
}

// Last position at or before |start| whose character is in the set.
int LastIn(std::string_view s, int start, const TCharSet& set, bool member) {
  for (size_t i = static_cast<size_t>(Abs(start)); i-- > 0;)
    if (set.Has(s[i]) == member) return static_cast<int>(i) + 1;
  return 0;
}

}  // namespace

int ScanC(std::string_view s, char c, int start) {
  if (start < 1 || start > Len(s)) return 0;
  const void* hit = memchr(s.data() + start - 1, U(c), s.size() - static_cast<size_t>(start - 1));
  return hit ? static_cast<int>(static_cast<const char*>(hit) - s.data()) + 1 : 0;
}

int ScanB(std::string_view s, char c, int start) {
  if (s.empty()) return 0;
  if (start <= 0 || start >= Len(s)) start = Len(s);
  const void* hit = memrchr(s.data(), U(c), static_cast<size_t>(start));
  return hit ? static_cast<int>(static_cast<const char*>(hit) - s.data()) + 1 : 0;
}

int ScanCC(std::string_view s, char c, int count) {
  if (count < 1) return 0;
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i] == c && --count == 0) return static_cast<int>(i) + 1;
  return 0;
}

int ScanNC(std::string_view s, char c) {
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i] != c) return static_cast<int>(i) + 1;
  return 0;
}

int ScanNB(std::string_view s, char c) {
  for (size_t i = s.size(); i-- > 0;)
    if (s[i] != c) return static_cast<int>(i) + 1;
  return 0;
}

int ScanLU(std::string_view s, char c1, char c2, int start) {
  if (s.empty() || start == 0 || Abs(start) > Len(s)) return 0;
  unsigned char lo = U(c1), hi = U(c2);
  if (lo > hi) std::swap(lo, hi);
  for (size_t i = static_cast<size_t>(Abs(start) - 1); i < s.size(); ++i)
    if (U(s[i]) >= lo && U(s[i]) <= hi) return static_cast<int>(i) + 1;
  return 0;
}

int ScanN(std::string_view s, int start) { return ScanLU(s, '0', '9', start); }

int ScanL(std::string_view s, int start) { return FirstIn(s, start, State().LowerSet, true); }

int ScanU(std::string_view s, int start) { return FirstIn(s, start, State().UpperSet, true); }

namespace {

// The set-based scans: first (or last, backward) member or non-member of the
// set of delims from |start|.
int SetScan(std::string_view s, std::string_view delims, int start, bool member, bool backward) {
  TCharSet set;
  if (!detail::BuildTokenSet(s, delims, start, set)) return 0;
  return backward ? LastIn(s, start, set, member) : FirstIn(s, start, set, member);
}

}  // namespace

int ScanT(std::string_view s, std::string_view delims, int start) { return SetScan(s, delims, start, true, false); }

int ScanTQ(std::string_view s, std::string_view delims, int start) {
  TCharSet set;
  if (!detail::BuildTokenSet(s, delims, start, set)) return 0;
  const char open = State().OpenQuote, close = State().CloseQuote;
  if (start > 0 && delims.size() == 1 && delims[0] != open && delims[0] != close) {
    // One delimiter, as the field routines mostly ask: the first one stands
    // outside quotes when no opening quote comes before it.
    const char* from = s.data() + start - 1;
    const size_t left = s.size() - static_cast<size_t>(start - 1);
    const void* found = std::memchr(from, delims[0], left);
    const size_t before = found ? static_cast<size_t>(static_cast<const char*>(found) - from) : left;
    if (std::memchr(from, open, before) == nullptr)
      return found ? static_cast<int>(static_cast<const char*>(found) - s.data()) + 1 : 0;
  }
  bool quoted = false;
  for (size_t i = static_cast<size_t>(Abs(start) - 1); i < s.size(); ++i) {
    const char c = s[i];
    if (c == open)
      quoted = !quoted;
    else if (c == close && quoted)
      quoted = false;
    if (!quoted && set.Has(c)) return static_cast<int>(i) + 1;
  }
  return 0;
}

int ScanRT(std::string_view s, std::string_view delims, int start) { return SetScan(s, delims, start, true, true); }

int ScanNT(std::string_view s, std::string_view delims, int start) { return SetScan(s, delims, start, false, false); }

int ScanRNT(std::string_view s, std::string_view delims, int start) { return SetScan(s, delims, start, false, true); }

}  // namespace textutil
