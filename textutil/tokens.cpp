#include <string>

#include "textutil/detail.h"
#include "textutil/fields.h"
#include "textutil/scan.h"

namespace textutil {

using detail::Abs;
using detail::Len;

namespace {

// The delimiter in force: Delimiter alone, or both characters of Delimiter2.
struct Sep {
  std::string text;
  int width;
};

Sep CurrentSep() {
  const UnitState& st = State();
  if (st.Delimiter2.size() == 2 && st.Delimiter2[1] != '\0') return {st.Delimiter2, 2};
  return {std::string(1, st.Delimiter), 1};
}

// Delimiter beginning at or after pos; 0 when none.
int NextSep(std::string_view s, const Sep& sep, int pos) {
  return sep.width == 1 ? ScanC(s, sep.text[0], pos) : ScanPair(s, sep.text, pos);
}

// Delimiter ending at or before pos (its first character's position); 0 when
// none.
int PrevSep(std::string_view s, const Sep& sep, int pos) {
  return sep.width == 1 ? ScanB(s, sep.text[0], pos) : ScanPairR(s, sep.text, pos);
}

// The token around pos: b the delimiter before (0 none), e the delimiter
// after (length + 1 none); pos is on a one-character delimiter when b == e.
struct Around {
  int b;
  int e;
};

Around TokenAround(std::string_view s, const Sep& sep, int pos) {
  int e = NextSep(s, sep, pos);
  return {PrevSep(s, sep, pos), e == 0 ? Len(s) + 1 : e};
}

int TokenStart(const Around& a, const Sep& sep) { return a.b == 0 ? 1 : a.b + sep.width; }

bool Within(std::string_view s, int pos) { return pos >= 1 && pos <= Len(s); }

}  // namespace

int ScanPair(std::string_view s, std::string_view pair, int start) {
  if (pair.size() != 2 || start < 1 || start > Len(s) - 1) return 0;
  size_t at = s.find(pair, static_cast<size_t>(start - 1));
  return at == std::string_view::npos ? 0 : static_cast<int>(at) + 1;
}

int ScanPairR(std::string_view s, std::string_view pair, int start) {
  if (pair.size() != 2 || s.size() < 2) return 0;
  long long end = Abs(start);
  if (end == 0 || end > Len(s)) end = Len(s);
  if (end < 2) return 0;
  size_t at = s.rfind(pair, static_cast<size_t>(end - 2));
  return at == std::string_view::npos ? 0 : static_cast<int>(at) + 1;
}

std::string GetToken(std::string_view s, int pos) {
  if (!Within(s, pos) || s[static_cast<size_t>(pos - 1)] == State().Delimiter) return {};
  const Sep sep = CurrentSep();
  const Around a = TokenAround(s, sep, pos);
  const int from = TokenStart(a, sep);
  if (a.e <= from) return {};
  return std::string(s.substr(static_cast<size_t>(from - 1), static_cast<size_t>(a.e - from)));
}

bool InsertToken(std::string& s, std::string_view token, int pos) {
  if (pos < 0 || pos > Len(s)) return false;
  const Sep sep = CurrentSep();
  if (s.empty()) {
    s.assign(token);
  } else if (pos == 0) {
    s += sep.text;
    s += token;
  } else {
    const int at = TokenStart(TokenAround(s, sep, pos), sep);
    s.insert(static_cast<size_t>(at - 1), std::string(token) + sep.text);
  }
  return true;
}

bool DeleteToken(std::string& s, int& pos) {
  if (!Within(s, pos)) return false;
  const Sep sep = CurrentSep();
  const Around a = TokenAround(s, sep, pos);
  if (a.e == a.b) {
    s.erase(static_cast<size_t>(pos - 1), static_cast<size_t>(sep.width));
    return true;
  }
  const int from = TokenStart(a, sep);
  const int to = a.e > Len(s) ? Len(s) + 1 : a.e + sep.width;  // exclusive
  if (to > from) s.erase(static_cast<size_t>(from - 1), static_cast<size_t>(to - from));
  pos = from;
  return true;
}

bool ReplaceToken(std::string& s, std::string_view token, int pos) {
  if (!Within(s, pos)) return false;
  const Sep sep = CurrentSep();
  const Around a = TokenAround(s, sep, pos);
  const int at = a.b == 0 ? 1 : (a.e == a.b ? a.b : a.b + sep.width);
  s.insert(static_cast<size_t>(at - 1), token);
  if (a.e != a.b && a.e > at)
    s.erase(static_cast<size_t>(at - 1) + token.size(), static_cast<size_t>(a.e - at));
  return true;
}

bool PrevToken(std::string_view s, int& pos) {
  if (!Within(s, pos)) return false;
  const int b = PrevSep(s, CurrentSep(), pos);
  pos = b > 1 ? b - 1 : 0;
  return pos > 0;
}

bool NextToken(std::string_view s, int& pos) {
  if (!Within(s, pos)) return false;
  const Sep sep = CurrentSep();
  const int e = NextSep(s, sep, pos);
  pos = e == 0 ? 0 : e + sep.width;
  return pos > 0;
}

int GetTokenNum(std::string_view s, int pos) {
  if (!Within(s, pos) || s[static_cast<size_t>(pos - 1)] == State().Delimiter) return 0;
  const Sep sep = CurrentSep();
  int number = 1;
  for (int e = NextSep(s, sep, 1); e != 0 && e + sep.width - 1 < pos; e = NextSep(s, sep, e + sep.width))
    ++number;
  return number;
}

int GetTokenPos(std::string_view s, int n) {
  if (s.empty() || n < 1) return 0;
  const Sep sep = CurrentSep();
  int at = 1;
  for (int k = 1; k < n; ++k) {
    const int e = NextSep(s, sep, at);
    if (e == 0) return 0;
    at = e + sep.width;
  }
  return at;
}

int GetTokenCnt(std::string_view s) {
  if (s.empty()) return 0;
  const Sep sep = CurrentSep();
  int count = 1;
  for (int e = NextSep(s, sep, 1); e != 0; e = NextSep(s, sep, e + sep.width)) ++count;
  return count;
}

}  // namespace textutil
