#include "textutil/compare.h"
#include "textutil/detail.h"

namespace textutil {

using detail::PackIf;
using detail::U;

namespace {

bool Digit(unsigned char c) { return c >= '0' && c <= '9'; }

}  // namespace

int MakeAlpha(std::string& s) {
  const TCharSet& set = State().AlphaSet;
  return PackIf(s, 0, [&](unsigned char c) { return c != ' ' && set.Has(c); });
}

int MakeAlphaNum(std::string& s) {
  const TCharSet& set = State().AlphaNumSet;
  return PackIf(s, 0, [&](unsigned char c) { return c != ' ' && set.Has(c); });
}

int MakeNum(std::string& s) { return PackIf(s, 0, Digit); }

int MakeTime(std::string& s) {
  const unsigned char sep = U(State().TimeSep);
  return PackIf(s, 0, [&](unsigned char c) { return Digit(c) || c == sep; });
}

int MakeHex(std::string& s) {
  const int kept = PackIf(s, 0, [](unsigned char c) {
    return Digit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
  });
  for (int i = 0; i < kept; ++i)
    if (s[i] >= 'a' && s[i] <= 'f') s[i] = static_cast<char>(s[i] - 32);
  return kept;
}

int MakeFloat(std::string& s) {
  const unsigned char sep = U(State().DecimalSep);
  return PackIf(s, 0, [&](unsigned char c) {
    return Digit(c) || c == sep || c == 'E' || c == 'e' || c == '+' || c == '-';
  });
}

int MakeTable(std::string& s, std::string_view table) {
  if (table.empty()) return 0;
  const TCharSet set = detail::SetOf(table);
  return PackIf(s, 0, [&](unsigned char c) { return set.Has(c); });
}

int MakeFixed(std::string& s, unsigned char decimals) {
  if (s.empty()) return 0;
  const char sep = State().DecimalSep;
  const size_t places = decimals;
  if (places > 0) {
    const size_t dot = s.rfind('.');
    const size_t after = dot == std::string::npos ? 0 : s.size() - dot - 1;
    if (dot == std::string::npos || after < places) s.append(places - after + 1, ' ');
  }
  const int kept = PackIf(s, 0, [&](unsigned char c) { return Digit(c) || c == '+' || c == '-' || c == U(sep); });
  size_t w = static_cast<size_t>(kept);
  const size_t last_sep = s.find_last_of(sep, w == 0 ? 0 : w - 1);
  size_t sep_at = last_sep != std::string::npos && last_sep < w ? last_sep : std::string::npos;

  // Writes c at w, lengthening s when the number has outgrown it.
  auto put = [&](char c) {
    if (w < s.size())
      s[w] = c;
    else
      s.push_back(c);
    ++w;
  };
  if (sep_at == std::string::npos) {
    if (places == 0) return kept;  // an integer stays as it is
    sep_at = w;
    put(sep);
  } else if (w - sep_at - 1 > places) {
    w = sep_at + 1 + places;
  }
  while (w - sep_at - 1 < places) put('0');
  std::fill(s.begin() + static_cast<long>(w), s.end(), ' ');
  return static_cast<int>(w);
}

}  // namespace textutil
