#include <algorithm>

#include "textutil/detail.h"
#include "textutil/edit.h"

namespace textutil {

using detail::Abs;
using detail::Len;
using detail::U;

int CountF(std::string_view s, char c, int start) {
  if (start < 1 || start > Len(s)) return 0;
  return static_cast<int>(std::count(s.begin() + start - 1, s.end(), c));
}

int CountR(std::string_view s, char c, int start) {
  if (start < 1 || s.empty()) return 0;
  start = std::min(start, Len(s));
  return static_cast<int>(std::count(s.begin(), s.begin() + start, c));
}

int CountT(std::string_view s, std::string_view table, int start) {
  TCharSet set;
  if (!detail::BuildTokenSet(s, table, start, set)) return 0;
  return static_cast<int>(
      std::count_if(s.begin() + Abs(start) - 1, s.end(), [&](char c) { return set.Has(c); }));
}

namespace {

int RunAt(std::string_view s, std::string_view table, int start, bool members) {
  TCharSet set;
  if (!detail::BuildTokenSet(s, table, start, set)) return 0;
  auto from = s.begin() + Abs(start) - 1;
  return static_cast<int>(std::find_if(from, s.end(), [&](char c) { return set.Has(c) != members; }) - from);
}

}  // namespace

int CountM(std::string_view s, std::string_view table, int start) { return RunAt(s, table, start, true); }
int CountN(std::string_view s, std::string_view table, int start) { return RunAt(s, table, start, false); }

int CountW(std::string_view s, std::string_view delims) {
  if (s.empty() || delims.empty()) return 0;
  const TCharSet set = detail::SetOf(delims);
  int words = 0;
  bool in_word = false;
  for (char c : s) {
    if (!set.Has(c)) {
      in_word = true;
    } else if (in_word) {
      ++words;
      in_word = false;
    }
  }
  return words + (in_word ? 1 : 0);
}

}  // namespace textutil
