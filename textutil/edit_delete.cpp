#include <algorithm>

#include "textutil/detail.h"
#include "textutil/edit.h"

namespace textutil {

using detail::Abs;
using detail::Len;
using detail::PackIf;
using detail::U;

int DeleteC(std::string& s, char c) {
  return PackIf(s, 0, [c](unsigned char x) { return x != U(c); });
}

int DeleteD(std::string& s, char c) {
  // Each character is judged by the one before it in the original text.
  unsigned char prev = 0;
  bool first = true;
  return PackIf(s, 0, [&](unsigned char x) {
    const bool repeat = !first && x == U(c) && prev == U(c);
    prev = x;
    first = false;
    return !repeat;
  });
}

int DeleteS(std::string& s, int index, int count) {
  if (s.empty()) return 0;
  if (index == 0) index = 1;
  if (index < 0 || index > Len(s) || count <= 0) return Len(s);
  const size_t from = static_cast<size_t>(index - 1);
  const size_t n = std::min(static_cast<size_t>(count), s.size() - from);
  std::move(s.begin() + static_cast<long>(from + n), s.end(), s.begin() + static_cast<long>(from));
  std::fill(s.end() - static_cast<long>(n), s.end(), ' ');
  return Len(s) - static_cast<int>(n);
}

int Compact(std::string& s) {
  return PackIf(s, 0, [](unsigned char x) { return x > 32; });
}

namespace {

// DeleteI and DeleteNI: drop the characters whose membership equals drop.
int DeleteBySet(std::string& s, std::string_view table, int start, bool drop_members) {
  if (s.empty()) return 0;
  TCharSet set;
  if (!detail::BuildTokenSet(s, table, start, set)) return Len(s);
  return PackIf(s, static_cast<size_t>(Abs(start) - 1),
                [&](unsigned char x) { return set.Has(x) != drop_members; });
}

}  // namespace

int DeleteI(std::string& s, std::string_view table, int start) { return DeleteBySet(s, table, start, true); }
int DeleteT(std::string& s, std::string_view table) { return DeleteI(s, table, 1); }
int DeleteNI(std::string& s, std::string_view table, int start) { return DeleteBySet(s, table, start, false); }
int DeleteNT(std::string& s, std::string_view table) { return DeleteNI(s, table, 1); }

int DeleteTQ(std::string& s, std::string_view table) {
  const TCharSet set = detail::SetOf(table);
  bool quoted = false;
  return PackIf(s, 0, [&](unsigned char x) {
    if (x == '"') {
      quoted = !quoted;
      return true;
    }
    return quoted || !set.Has(x);
  });
}

void LCompact(std::string& s) {
  size_t w = s.size();
  for (size_t r = s.size(); r-- > 0;)
    if (U(s[r]) > 32) s[--w] = s[r];
  std::fill(s.begin(), s.begin() + static_cast<long>(w), ' ');
}

}  // namespace textutil
