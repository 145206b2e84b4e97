#include <algorithm>

#include "textutil/compare.h"
#include "textutil/detail.h"
#include "textutil/edit.h"
#include "textutil/fields.h"
#include "textutil/scan.h"

namespace textutil {

using detail::U;

namespace {

template <typename Pred>
bool AllOf(std::string_view s, Pred pred) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [&](char c) { return pred(U(c)); });
}

bool Digit(unsigned char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool IsNum(std::string_view s) {
  return AllOf(s, [](unsigned char c) { return Digit(c) || c == ' '; });
}

bool IsHex(std::string_view s) {
  return AllOf(s, [](unsigned char c) { return Digit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); });
}

bool IsAlpha(std::string_view s) {
  const TCharSet& set = State().AlphaSet;
  return AllOf(s, [&](unsigned char c) { return set.Has(c); });
}

bool IsAlphaNum(std::string_view s) {
  const TCharSet& set = State().AlphaNumSet;
  return AllOf(s, [&](unsigned char c) { return set.Has(c); });
}

bool IsFloat(std::string_view s) {
  const unsigned char sep = U(State().DecimalSep);
  return AllOf(s, [&](unsigned char c) {
    return Digit(c) || c == sep || c == ' ' || c == '+' || c == '-' || c == 'E' || c == 'e';
  });
}

bool IsDateTime(std::string_view s) {
  const unsigned char time = U(State().TimeSep), date = U(State().DateSep);
  return AllOf(s, [&](unsigned char c) {
    return Digit(c) || c == ' ' || c == time || c == date || c == '-' || c == 'A' || c == 'M' || c == 'P';
  });
}

bool IsNull(std::string_view s) {
  return AllOf(s, [](unsigned char c) { return c <= 32 || c == 255; });
}

bool IsTable(std::string_view s, std::string_view table) {
  return static_cast<size_t>(CountT(s, table, 1)) == s.size();
}

bool IsField(std::string_view s, std::string_view table, int start, int count) {
  return CountM(s, table, start) >= count;
}

bool IsSet(std::string_view s, const TCharSet& allowed, const TCharSet& once) {
  if (s.empty()) return false;
  TCharSet used;
  for (size_t i = s.size(); i-- > 0;) {
    const unsigned char c = U(s[i]);
    if (allowed.Has(c)) continue;
    if (!once.Has(c) || used.Has(c)) return false;
    used.Add(c);
  }
  return true;
}

bool IsFound(std::string_view s, std::string_view words, int start) {
  for (int pos = 1; pos != 0;) {
    const std::string word = ParseWord(words, "&", pos);
    if (!word.empty() && ScanF(s, word, start) > 0) return true;
  }
  return false;
}

bool IsNumChar(char c) { return Digit(U(c)); }
bool IsAlphaChar(char c) { return c != '\0' && State().AlphaSet.Has(c); }
bool IsAlphaNumChar(char c) { return c != '\0' && State().AlphaNumSet.Has(c); }
bool IsLChar(char c) { return State().LowerSet.Has(c); }
bool IsUChar(char c) { return State().UpperSet.Has(c); }
bool IsCChar(char c1, char c2) { return c1 == c2 || U(c1) == State().CaseSwapTable[U(c2)]; }
char UChar(char c) { return static_cast<char>(State().UpperTable[U(c)]); }
char LChar(char c) { return static_cast<char>(State().LowerTable[U(c)]); }
char RChar(char c) { return static_cast<char>(State().CaseSwapTable[U(c)]); }

}  // namespace textutil
