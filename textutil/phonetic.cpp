#include "textutil/phonetic.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "textutil/detail.h"

namespace textutil {

using detail::U;

namespace {

bool Vowel(char c) { return c == 'A' || c == 'E' || c == 'I' || c == 'O' || c == 'U'; }
bool FrontVowel(char c) { return c == 'E' || c == 'I' || c == 'Y'; }  // soft C and G

// Initial pairs whose first letter is silent.
constexpr std::string_view kSilentInitials = "WH PN AE KN GN WR";

// The key under construction: up to 8 stored letters, with a count that may
// run one further (an X at the eighth place counts its S as a ninth).
class Key {
public:
  void Add(char c) {
    if (++count_ <= 8) text_[static_cast<size_t>(count_ - 1)] = c;
  }
  int count() const { return count_; }
  std::string str() const { return text_; }

private:
  std::string text_ = std::string(8, ' ');
  int count_ = 0;
};

// Key letters of w[i] given its neighbours; w holds n upper-case letters.
void Encode(const char* w, int n, int i, Key& key) {
  const char c = w[i];
  const char p = i > 0 ? w[i - 1] : '\0';
  const char n1 = i + 1 < n ? w[i + 1] : '\0';
  const char n2 = i + 2 < n ? w[i + 2] : '\0';
  switch (c) {
    case 'B':
      if (i != n - 1 && p != 'M') key.Add('B');
      break;
    case 'C':
      if (n1 == 'H' || (n1 == 'I' && n2 == 'A'))
        key.Add('X');
      else if (FrontVowel(n1) && p != 'S')
        key.Add('S');
      else
        key.Add('K');
      break;
    case 'D':
      key.Add(n1 == 'G' && FrontVowel(n2) ? 'J' : 'T');
      break;
    case 'F': case 'L': case 'M': case 'N': case 'R':
      key.Add(c);
      break;
    case 'G':
      if ((n1 == 'H' && i + 2 < n) || (n1 == 'N' && n2 == 'E') || (p == 'D' && FrontVowel(n1))) break;
      key.Add(FrontVowel(n1) && p != 'G' ? 'J' : 'K');
      break;
    case 'H':
      if (Vowel(p) && Vowel(n1)) break;
      if (p == 'C' || p == 'G' || p == 'P' || p == 'S' || p == 'T') break;
      key.Add('H');
      break;
    case 'J':
      if (!(i == n - 2 && n1 == 'E')) key.Add('J');
      break;
    case 'K':
      if (p != 'C') key.Add('K');
      break;
    case 'P':
      key.Add(n1 == 'H' ? 'F' : 'P');
      break;
    case 'Q':
      key.Add('K');
      break;
    case 'S':
      key.Add(n1 == 'H' || (n1 == 'I' && (n2 == 'O' || n2 == 'A')) ? 'X' : 'S');
      break;
    case 'T':
      if (n1 == 'I' && (n2 == 'O' || n2 == 'A'))
        key.Add('X');
      else if (!(n1 == 'C' && n2 == 'H'))
        key.Add('T');
      break;
    case 'V':
      key.Add('F');
      break;
    case 'W':
      if (i == 0 || Vowel(n1)) key.Add('W');
      break;
    case 'X':
      key.Add('K');
      key.Add('S');
      break;
    case 'Y':
      if (Vowel(n1)) key.Add('Y');
      break;
    case 'Z':
      key.Add('S');
      break;
    default:  // vowels after the start, and anything else
      break;
  }
}

}  // namespace

std::string MetaPhone(std::string_view s, int max_letters) {
  if (s.size() < 2) return {};

  // The name's letters, upper-cased by the ASCII rule. Names fit the stack
  // buffer; only freak lengths go to the heap.
  char stack_buffer[128];
  std::vector<char> heap_buffer;
  char* w = stack_buffer;
  if (s.size() > sizeof stack_buffer) {
    heap_buffer.resize(s.size());
    w = heap_buffer.data();
  }
  const TCharSet& letters = State().AlphaSet;
  int n = 0;
  for (char ch : s) {
    const char u = ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 32) : ch;
    if (u != ' ' && letters.Has(u)) w[n++] = u;
  }
  if (n < 2) return {};

  const char initial_pair[2] = {w[0], w[1]};
  if (w[0] == 'Y') w[0] = 'I';
  if (w[0] == 'X') {
    w[0] = 'S';
  } else if (kSilentInitials.find(std::string_view(initial_pair, 2)) != std::string_view::npos) {
    if (initial_pair[0] == 'W' && initial_pair[1] == 'H') w[1] = 'W';
    ++w;
    --n;
  }
  if (n >= 2 && w[0] == 'C' && w[1] == 'H') {
    ++w;
    --n;
    w[0] = 'K';
  }

  Key key;
  if (Vowel(w[0])) {
    key.Add(w[0]);
    ++w;
    --n;
  }
  for (int i = 0; i < n && key.count() < 8; ++i) {
    // The second of two equal letters (not CC) gives nothing.
    if (i > 0 && w[i - 1] != 'C' && w[i - 1] == w[i] && ++i >= n) break;
    Encode(w, n, i, key);
  }
  if (max_letters < key.count()) return {};
  return key.str();
}

std::string_view KeyLetterSources(char c) {
  // What Encode adds for each letter, and the initial rules: 'Y' read as
  // 'I', 'X' as 'S', the silent first letters of the initial pairs (the
  // letter after them is kept), and initial "CH" read as 'K'.
  switch (c) {
    case 'B': return "B";
    case 'F': return "FPV";
    case 'H': return "H";
    case 'J': return "GJ";  // a D gives J only before a G
    case 'K': return "CGKQX";
    case 'L': return "L";
    case 'M': return "M";
    case 'N': return "N";
    case 'P': return "P";
    case 'R': return "R";
    case 'S': return "CSXZ";
    case 'T': return "DT";
    case 'W': return "W";
    case 'X': return "CSTX";  // an initial X is read as S
    case 'Y': return "Y";
    case 'A': return "A";
    case 'E': return "E";
    case 'I': return "IY";
    case 'O': return "O";
    case 'U': return "U";
    default: return {};
  }
}

int Similar(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty() || a.size() > 255 || b.size() > 255) return 0;
  struct Range {
    int s1, e1, s2, e2;  // 0-based, inclusive
  };
  std::vector<Range> pending;
  pending.reserve(32);
  pending.push_back({0, static_cast<int>(a.size()) - 1, 0, static_cast<int>(b.size()) - 1});
  int score = 0;
  const int total = static_cast<int>(a.size() + b.size());
  while (!pending.empty()) {
    const Range r = pending.back();
    pending.pop_back();
    // The longest common run within r; of equal runs the first found wins.
    // A run no longer than the best moves p2 on by its own length.
    int best = 0, b1 = 0, b2 = 0;
    int end1 = r.e1, end2 = r.e2;
    for (int p1 = r.s1; p1 <= end1; ++p1) {
      for (int p2 = r.s2; p2 <= end2;) {
        const int limit = std::min(r.e1 - p1, r.e2 - p2) + 1;
        int run = 0;
        while (run < limit && a[static_cast<size_t>(p1 + run)] == b[static_cast<size_t>(p2 + run)]) ++run;
        if (run == 0) {
          ++p2;
        } else if (run <= best) {
          p2 += run;
        } else {
          end1 -= run - best;
          end2 -= run - best;
          best = run;
          b1 = p1;
          b2 = p2;
          ++p2;
        }
      }
    }
    if (best == 0) continue;
    score += 2 * best;
    const bool left = b1 > r.s1 && b2 > r.s2 && !(b1 - r.s1 == 1 && b2 - r.s2 == 1);
    const int a1 = b1 + best, a2 = b2 + best;  // first places after the run
    const bool right = a1 <= r.e1 && a2 <= r.e2 && !(r.e1 - a1 == 0 && r.e2 - a2 == 0);
    if (left) pending.push_back({r.s1, b1 - 1, r.s2, b2 - 1});
    if (right) pending.push_back({a1, r.e1, a2, r.e2});
  }
  return (score * 1000 / total + 5) / 10;
}

int StrDist(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return static_cast<int>(std::max(a.size(), b.size()));
  if (a.size() > 255 || b.size() > 255) return -1;
  std::array<uint16_t, 256> above{}, row{};
  for (size_t j = 0; j <= b.size(); ++j) above[j] = static_cast<uint16_t>(j);
  for (size_t i = 1; i <= a.size(); ++i) {
    row[0] = static_cast<uint16_t>(i);
    for (size_t j = 1; j <= b.size(); ++j) {
      const uint16_t d = above[j - 1], l = row[j - 1], u = above[j];
      const uint16_t m = std::min(l, u);
      row[j] = d <= m ? static_cast<uint16_t>(d + (a[i - 1] != b[j - 1])) : static_cast<uint16_t>(m + 1);
    }
    std::swap(above, row);
  }
  return above[b.size()];
}

}  // namespace textutil
