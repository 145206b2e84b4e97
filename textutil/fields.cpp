#include "textutil/fields.h"

#include "textutil/detail.h"
#include "textutil/scan.h"

namespace textutil {

using detail::Len;

namespace {

// s[from, to), 1-based inclusive from and exclusive to.
std::string_view PieceView(std::string_view s, int from, int to) {
  if (to <= from) return {};
  return s.substr(static_cast<size_t>(from - 1), static_cast<size_t>(to - from));
}
std::string Piece(std::string_view s, int from, int to) { return std::string(PieceView(s, from, to)); }

}  // namespace

std::string_view ParseView(std::string_view s, std::string_view delims, int& pos) {
  if (pos < 1 || pos > Len(s) || delims.empty()) {
    pos = 0;
    return {};
  }
  const int from = pos;
  const int d = ScanTQ(s, delims, from);
  pos = d == 0 ? 0 : d + 1;
  return PieceView(s, from, d == 0 ? Len(s) + 1 : d);
}

std::string Parse(std::string_view s, std::string_view delims, int& pos) {
  return std::string(ParseView(s, delims, pos));
}

std::string ParseWord(std::string_view s, std::string_view delims, int& pos) {
  if (pos < 1 || pos > Len(s) || delims.empty()) {
    pos = 0;
    return {};
  }
  int from = pos;
  int d = ScanTQ(s, delims, from);
  while (d == from) {
    ++from;
    d = from <= Len(s) ? ScanTQ(s, delims, from) : 0;
  }
  pos = d == 0 ? 0 : d + 1;
  return Piece(s, from, d == 0 ? Len(s) + 1 : d);
}

std::string ParseTag(std::string_view s, std::string_view open_tag, std::string_view close_tag, int& pos) {
  if (pos < 1 || pos >= Len(s) || open_tag.empty() || close_tag.empty()) {
    pos = 0;
    return {};
  }
  const int a = ScanQ(s, open_tag, pos);
  const int b = a + Len(open_tag);
  const int c = a == 0 || b > Len(s) ? 0 : ScanQ(s, close_tag, b);
  if (c == 0) {
    pos = 0;
    return {};
  }
  pos = c + Len(close_tag);
  return Piece(s, b, c);
}

std::string Fetch(std::string_view s, std::string_view delims, int n, bool with_delim) {
  if (n < 1 || s.empty() || delims.empty()) return {};
  int from = 1, d = 0, count = 0;
  for (;;) {
    d = from <= Len(s) ? ScanTQ(s, delims, from) : 0;
    if (++count == n || d == 0) break;
    from = d + 1;
  }
  if (count < n) return {};
  if (d == 0) return Piece(s, from, Len(s) + 1);
  return Piece(s, from, with_delim ? d + 1 : d);
}

}  // namespace textutil
