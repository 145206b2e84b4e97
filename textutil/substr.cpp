#include "textutil/substr.h"

#include <algorithm>
#include <cstring>

#include "textutil/detail.h"
#include "textutil/scan.h"

namespace textutil {

using detail::Abs;
using detail::Len;
using detail::U;

namespace {

bool IsBlank(char c) { return U(c) <= 32; }

}  // namespace

std::string LStr(std::string_view s, int n) { return CStr(s, 1, n); }

std::string RStr(std::string_view s, int n) {
  if (n <= 0) return {};
  if (n >= Len(s)) return std::string(s);
  return std::string(s.substr(s.size() - static_cast<size_t>(n)));
}

std::string CStr(std::string_view s, int index, int n) {
  if (index < 1) index = 1;
  if (n <= 0 || index > Len(s)) return {};
  return std::string(s.substr(static_cast<size_t>(index - 1), static_cast<size_t>(n)));
}

std::string IStr(std::string_view s, int index) {
  if (index < 1 || index > Len(s)) return {};
  return std::string(s.substr(static_cast<size_t>(index - 1)));
}

std::string Extract(std::string_view s, std::string_view pattern, int start) {
  if (start == 0 || Abs(start) > Len(s)) return {};
  const int from = static_cast<int>(Abs(start));
  int end;
  if (!pattern.empty() && pattern[0] == '?')
    end = ScanT(s, pattern.substr(1), start);
  else
    end = ScanF(s, pattern, start);
  if (end == 0) end = Len(s) + 1;
  return std::string(s.substr(static_cast<size_t>(from - 1), static_cast<size_t>(end - from)));
}

std::string DupChr(char c, int n) { return n > 0 ? std::string(static_cast<size_t>(n), c) : std::string(); }

std::string LAdd(std::string_view s, char c, int n) {
  std::string out(s);
  LPad(out, c, n);
  return out;
}

std::string RAdd(std::string_view s, char c, int n) {
  std::string out(s);
  RPad(out, c, n);
  return out;
}

std::string CAdd(std::string_view s, char c, int n) {
  std::string out(s);
  CPad(out, c, n);
  return out;
}

void LPad(std::string& s, char c, int n) {
  if (Len(s) < n) s.insert(0, static_cast<size_t>(n - Len(s)), c);
}

void RPad(std::string& s, char c, int n) {
  if (Len(s) < n) s.append(static_cast<size_t>(n - Len(s)), c);
}

void CPad(std::string& s, char c, int n) {
  if (Len(s) >= n) return;
  s.insert(0, static_cast<size_t>((n - Len(s)) / 2), c);
  s.append(static_cast<size_t>(n - Len(s)), c);
}

void FillCnt(std::string& s, int start, int count, char c) {
  if (start < 1 || start > Len(s) || count <= 0) return;
  const size_t from = static_cast<size_t>(start - 1);
  std::fill_n(s.begin() + static_cast<long>(from), std::min(static_cast<size_t>(count), s.size() - from), c);
}

void FillStr(std::string& s, int start, char c) {
  if (start < 1 || start > Len(s)) return;
  std::fill(s.begin() + start - 1, s.end(), c);
}

void OverWrite(std::string& s, std::string_view sub, int pos) { MoveStr(sub, 1, s, pos, Len(sub)); }

void MoveStr(std::string_view src, int src_pos, std::string& dest, int dest_pos, int count) {
  if (src.empty() || dest.empty() || count <= 0) return;
  if (src_pos < 1) src_pos = 1;
  if (dest_pos < 1) dest_pos = 1;
  if (src_pos > Len(src) || dest_pos > Len(dest)) return;
  const size_t from = static_cast<size_t>(src_pos - 1), to = static_cast<size_t>(dest_pos - 1);
  const size_t n = std::min({static_cast<size_t>(count), src.size() - from, dest.size() - to});
  std::memmove(dest.data() + to, src.data() + from, n);
}

void ShiftStr(std::string& s, int start, int count) {
  if (start == 0 || count == 0 || s.empty()) return;
  const long long len = Len(s);
  long long first, last;  // the stretch, 1-based inclusive
  if (start > 0) {
    if (start > len) return;
    first = start;
    last = len;
  } else {
    first = 1;
    last = std::min(Abs(start), len);
  }
  // Where the stretch lands, cut to 1..len.
  long long to_first = first + count, to_last = last + count;
  long long from_first = first;
  if (to_first < 1) {
    from_first += 1 - to_first;
    to_first = 1;
  }
  if (to_last > len) to_last = len;
  if (to_last < to_first) return;
  std::memmove(s.data() + to_first - 1, s.data() + from_first - 1, static_cast<size_t>(to_last - to_first + 1));
}

void LFlush(std::string& s) {
  auto first = std::find_if_not(s.begin(), s.end(), IsBlank);
  if (first == s.begin()) return;
  auto end = std::move(first, s.end(), s.begin());
  std::fill(end, s.end(), ' ');
}

void RFlush(std::string& s) {
  auto last = std::find_if_not(s.rbegin(), s.rend(), IsBlank);
  if (last == s.rbegin()) return;
  auto end = std::move(last, s.rend(), s.rbegin());
  std::fill(end, s.rend(), ' ');
}

void CFlush(std::string& s) {
  if (s.empty()) return;
  const size_t lead = static_cast<size_t>(std::find_if_not(s.begin(), s.end(), IsBlank) - s.begin());
  const size_t trail = static_cast<size_t>(std::find_if_not(s.rbegin(), s.rend(), IsBlank) - s.rbegin());
  if (lead == 0 || lead == trail) return;
  if (lead < trail) {
    const size_t k = (trail - lead) / 2;
    if (k == 0) return;
    std::memmove(s.data() + k, s.data(), s.size() - k);
    std::fill_n(s.begin(), k, ' ');
  } else {
    const size_t k = (lead - trail) / 2;
    if (k == 0) return;
    std::memmove(s.data(), s.data() + k, s.size() - k);
    std::fill_n(s.end() - static_cast<long>(k), k, ' ');
  }
}

}  // namespace textutil
