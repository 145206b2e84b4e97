#include <algorithm>
#include <vector>

#include "textutil/detail.h"
#include "textutil/edit.h"
#include "textutil/scan.h"

namespace textutil {

using detail::Abs;
using detail::Len;
using detail::U;

std::string LTrim(std::string_view s, char c) {
  const size_t first = s.find_first_not_of(c);
  return std::string(first == std::string_view::npos ? s : s.substr(first));
}

std::string RTrim(std::string_view s, char c) {
  const size_t last = s.find_last_not_of(c);
  return last == std::string_view::npos ? std::string() : std::string(s.substr(0, last + 1));
}

std::string CTrim(std::string_view s, char c) {
  const size_t first = s.find_first_not_of(c);
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(c) - first + 1));
}

void ReplaceC(std::string& s, char old_char, char new_char) {
  if (old_char != new_char) std::replace(s.begin(), s.end(), old_char, new_char);
}

void ReplaceI(std::string& s, std::string_view table, int start, char c) {
  TCharSet set;
  if (!detail::BuildTokenSet(s, table, start, set)) return;
  for (size_t i = static_cast<size_t>(Abs(start) - 1); i < s.size(); ++i)
    if (set.Has(s[i])) s[i] = c;
}

void ReplaceT(std::string& s, std::string_view table, char c) { ReplaceI(s, table, 1, c); }

void Translate(std::string& s, std::string_view from, std::string_view to) {
  if (from.size() != to.size()) return;
  unsigned char map[256];
  bool mapped[256] = {};
  for (size_t i = 0; i < from.size(); ++i) {
    if (mapped[U(from[i])]) continue;
    mapped[U(from[i])] = true;
    map[U(from[i])] = U(to[i]);
  }
  for (char& ch : s)
    if (mapped[U(ch)]) ch = static_cast<char>(map[U(ch)]);
}

int ReplaceSC(std::string& s, std::string_view old_text, std::string_view new_text, bool ignore_case) {
  if (old_text.empty()) return 0;
  std::vector<int> hits;
  for (int pos = 1; pos <= Len(s);) {
    const int at = ignore_case ? ScanF(s, old_text, -pos) : ScanFF(s, old_text, pos);
    if (at == 0) break;
    hits.push_back(at);
    pos = at + Len(old_text);
  }
  if (hits.empty()) return 0;
  std::string out;
  out.reserve(s.size() + hits.size() * new_text.size());
  size_t copied = 0;
  for (int at : hits) {
    out.append(s, copied, static_cast<size_t>(at - 1) - copied);
    out.append(new_text);
    copied = static_cast<size_t>(at - 1) + old_text.size();
  }
  out.append(s, copied);
  s = std::move(out);
  return static_cast<int>(hits.size());
}

int ReplaceS(std::string& s, std::string_view old_text, std::string_view new_text) {
  return ReplaceSC(s, old_text, new_text, false);
}

void IncStr(std::string& s) {
  for (size_t i = s.size(); i-- > 0;) {
    char& c = s[i];
    if (c == '9') {
      c = '0';
    } else if (c == 'Z') {
      c = 'A';
    } else if (c == 'z') {
      c = 'a';
    } else if ((c >= '0' && c < '9') || (c >= 'A' && c < 'Z') || (c >= 'a' && c < 'z')) {
      ++c;
      return;
    }
    // other characters are passed over; a wrapped one carries to the left
  }
}

void RevStr(std::string& s) { std::reverse(s.begin(), s.end()); }

}  // namespace textutil
