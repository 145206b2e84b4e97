#include "textutil/scan.h"

#include <cstring>

#include "textutil/detail.h"
#include "textutil/fields.h"
#include "textutil/skip_search.h"

namespace textutil {

using detail::Abs;
using detail::kNotFound;
using detail::Len;
using detail::U;

namespace {

int ToPos(size_t offset) { return offset == kNotFound ? 0 : static_cast<int>(offset) + 1; }

// Does |start| name a character of s? (start 0 never does.)
bool InRange(std::string_view s, int start) { return start != 0 && Abs(start) <= Len(s); }

}  // namespace

int ScanF(std::string_view s, std::string_view pattern, int start) {
  if (s.empty() || pattern.empty() || !InRange(s, start)) return 0;
  return ToPos(detail::SkipFind(s, pattern, static_cast<size_t>(Abs(start) - 1), start < 0));
}

int ScanFF(std::string_view s, std::string_view pattern, int start) {
  if (s.empty() || pattern.empty() || start < 1 || start > Len(s)) return 0;
  const size_t from = static_cast<size_t>(start - 1);
  if (s.size() - from < pattern.size()) return 0;
  const void* hit = memmem(s.data() + from, s.size() - from, pattern.data(), pattern.size());
  return hit ? static_cast<int>(static_cast<const char*>(hit) - s.data()) + 1 : 0;
}

int ScanSS(std::string_view s, std::string_view pattern, int start, int stop) {
  if (s.empty() || pattern.empty() || !InRange(s, start) || stop < 0 || stop > Len(s)) return 0;
  if (stop == 0) stop = Len(s);
  if (stop < Abs(start)) return 0;
  return ToPos(detail::SkipFind(s.substr(0, static_cast<size_t>(stop)), pattern,
                                static_cast<size_t>(Abs(start) - 1), start < 0));
}

int ScanSC(std::string_view s, std::string_view pattern, int start, char stop_char) {
  if (s.empty() || pattern.empty() || !InRange(s, start)) return 0;
  const bool blind = start < 0;
  const uint8_t* swap = State().CaseSwapTable;
  const size_t m = pattern.size();
  const size_t from = static_cast<size_t>(Abs(start) - 1);
  if (s.size() - from < m) return 0;
  for (size_t at = from; at + m <= s.size(); ++at) {
    size_t j = 0;
    for (; j < m; ++j) {
      if (s[at + j] == stop_char) return 0;
      if (!detail::CharMatch(U(pattern[j]), U(s[at + j]), blind, true, swap)) break;
    }
    if (j == m) return static_cast<int>(at) + 1;
  }
  return 0;
}

int ScanR(std::string_view s, std::string_view pattern, int start) {
  if (s.empty() || pattern.empty() || Abs(start) > Len(s)) return 0;
  const size_t end = start == 0 ? s.size() : static_cast<size_t>(Abs(start));
  return ToPos(detail::SkipFindLast(s, pattern, end, start < 0));
}

int ScanD(std::string_view s, std::string_view pattern, int start) {
  if (s.empty() || !InRange(s, start)) return 0;
  if (pattern.empty()) return 1;
  const bool blind = start < 0;
  const uint8_t* swap = State().CaseSwapTable;
  const size_t from = static_cast<size_t>(Abs(start) - 1);
  for (size_t j = 0; j < pattern.size() && from + j < s.size(); ++j)
    if (!detail::CharMatch(U(pattern[j]), U(s[from + j]), blind, true, swap))
      return static_cast<int>(from + j) + 1;
  return 0;
}

int ScanP(std::string_view s, std::string_view pattern, int& start) {
  if (s.empty() || pattern.empty() || start < 1 || start > Len(s)) {
    start = 0;
    return 0;
  }
  const uint8_t* swap = State().CaseSwapTable;
  size_t best = 0, best_at = 0;
  for (size_t at = static_cast<size_t>(start - 1); at < s.size(); ++at) {
    size_t run = 0;
    while (run < pattern.size() && at + run < s.size() &&
           detail::CharMatch(U(pattern[run]), U(s[at + run]), false, true, swap))
      ++run;
    if (run > best) {
      best = run;
      best_at = at;
      if (run == pattern.size()) break;
    }
  }
  start = best ? static_cast<int>(best_at) + 1 : 0;
  return static_cast<int>(best);
}

int ScanOR(std::string_view s, std::string_view alternatives, int start) {
  if (s.empty() || alternatives.empty() || !InRange(s, start)) return 0;
  const bool blind = start < 0;
  const uint8_t* swap = State().CaseSwapTable;

  // Up to 16 alternatives, empty pieces skipped.
  constexpr int kMaxAlternatives = 16;
  std::string_view alt[kMaxAlternatives];
  int count = 0;
  for (int pos = 1; pos != 0 && count < kMaxAlternatives;) {
    const std::string_view piece = ParseView(alternatives, "|", pos);
    if (!piece.empty()) alt[count++] = piece;
  }
  if (count == 0) return 0;

  // first[t]: some alternative may begin at a text character t.
  bool leads[256] = {}, first[256];
  bool any = false;
  for (int k = 0; k < count; ++k) {
    leads[U(alt[k][0])] = true;
    any = any || alt[k][0] == '?';
  }
  for (int t = 0; t < 256; ++t) first[t] = any || leads[t] || (blind && leads[swap[t]]);

  for (size_t at = static_cast<size_t>(Abs(start) - 1); at < s.size(); ++at) {
    if (!first[U(s[at])]) continue;
    for (int k = 0; k < count; ++k)
      if (alt[k].size() <= s.size() - at && detail::MatchAt(s, at, alt[k], blind, true))
        return static_cast<int>(at) + 1;
  }
  return 0;
}

int ScanQ(std::string_view s, std::string_view pattern, int start) {
  return pattern.size() > 256 ? 0 : ScanF(s, pattern, start);
}

int ScanQC(std::string_view s, std::string_view pattern, int start) { return ScanQ(s, pattern, start); }

int ScanQR(std::string_view s, std::string_view pattern, int start) {
  return pattern.size() > 256 ? 0 : ScanR(s, pattern, start);
}

int ScanQRC(std::string_view s, std::string_view pattern, int start) { return ScanQR(s, pattern, start); }

namespace {

std::string_view BufferView(const void* buffer, int len) {
  if (!buffer || len == 0) return {};
  return std::string_view(static_cast<const char*>(buffer), static_cast<size_t>(Abs(len)));
}

}  // namespace

int ScanBfr(const void* buffer, std::string_view pattern, int len) {
  std::string_view s = BufferView(buffer, len);
  if (s.empty() || pattern.empty() || pattern.size() > 256) return 0;
  return ToPos(detail::SkipFind(s, pattern, 0, len < 0));
}

int ScanBfrC(const void* buffer, std::string_view pattern, int len) { return ScanBfr(buffer, pattern, len); }

int ScanBfrR(const void* buffer, std::string_view pattern, int len) {
  std::string_view s = BufferView(buffer, len);
  if (s.empty() || pattern.empty() || pattern.size() > 256) return 0;
  return ToPos(detail::SkipFindLast(s, pattern, s.size(), len < 0));
}

int ScanBfrRC(const void* buffer, std::string_view pattern, int len) { return ScanBfrR(buffer, pattern, len); }

int WScan(std::u16string_view s, std::u16string_view pattern, int start) {
  if (s.empty() || pattern.empty() || start < 1 || start > static_cast<int>(s.size())) return 0;
  size_t at = s.find(pattern, static_cast<size_t>(start - 1));
  return at == std::u16string_view::npos ? 0 : static_cast<int>(at) + 1;
}

int WScanC(std::u16string_view s, char16_t c, int start) {
  if (s.empty() || start < 1 || start > static_cast<int>(s.size())) return 0;
  size_t at = s.find(c, static_cast<size_t>(start - 1));
  return at == std::u16string_view::npos ? 0 : static_cast<int>(at) + 1;
}

}  // namespace textutil
