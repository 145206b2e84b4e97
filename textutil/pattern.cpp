#include "textutil/pattern.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <unordered_set>
#include <vector>

#include "platform/runtime/exceptions.h"
#include "textutil/compare.h"
#include "textutil/detail.h"
#include "textutil/state.h"

namespace textutil {
namespace {

using detail::U;

constexpr size_t kMaxSet = 255;

char Escaped(char c) { return c == 't' ? '\t' : c; }

// Reads a set from text[j] (just after "[" or "[^") into chars; returns the
// position of its "]", or npos when it is not closed.
size_t ReadSet(std::string_view text, size_t j, std::string& chars) {
  const size_t n = text.size();
  while (j < n && text[j] != ']') {
    if (j + 2 < n && text[j + 1] == '-' && text[j + 2] != ']' && IsAlphaNumChar(text[j]) &&
        IsAlphaNumChar(text[j + 2])) {
      int from = U(text[j]), to = U(text[j + 2]);
      if (from > to) std::swap(from, to);
      for (int c = from; c <= to; ++c) chars += static_cast<char>(c);
      j += 3;
    } else if (text[j] == '\\' && j + 1 < n) {
      chars += Escaped(text[j + 1]);
      j += 2;
    } else {
      chars += text[j++];
    }
  }
  return j < n ? j : std::string_view::npos;
}

enum class Kind { kChar, kAny, kStart, kEnd, kSet, kNotSet };

struct Element {
  Kind kind = Kind::kAny;
  bool closure = false;
  unsigned char c = 0;
  TCharSet set;
};

[[noreturn]] void Invalid() { throw rtl::Exception("Invalid pattern!"); }

std::vector<Element> Decode(std::string_view pattern) {
  std::vector<Element> elements;
  size_t i = 0;
  while (i < pattern.size()) {
    Element e;
    if (pattern[i] == '*') {
      e.closure = true;
      if (++i >= pattern.size()) Invalid();
    }
    switch (pattern[i]) {
      case '@':
        if (i + 1 >= pattern.size()) Invalid();
        e.kind = Kind::kChar;
        e.c = U(pattern[i + 1]);
        i += 2;
        break;
      case '.':
        e.kind = Kind::kAny;
        ++i;
        break;
      case '[':
      case '!': {
        if (i + 1 >= pattern.size()) Invalid();
        size_t count = U(pattern[i + 1]);
        if (i + 2 + count > pattern.size()) Invalid();
        e.kind = pattern[i] == '[' ? Kind::kSet : Kind::kNotSet;
        for (size_t k = 0; k < count; ++k) e.set.Add(pattern[i + 2 + k]);
        i += 2 + count;
        break;
      }
      case '^':
      case '$':
        if (e.closure) Invalid();  // repeating what consumes nothing never ends
        e.kind = pattern[i] == '^' ? Kind::kStart : Kind::kEnd;
        ++i;
        break;
      default:
        Invalid();
    }
    elements.push_back(e);
  }
  return elements;
}

// Finds matches with the priorities of a backtracking matcher: each
// closure takes as many repetitions as leave the rest of the pattern able
// to match. Which (position, element) pairs can still match is worked out
// first, backwards over the pattern, so the search never backtracks and
// takes time in proportion to line length times pattern length.
class Matcher {
public:
  Matcher(std::string_view line, std::vector<Element> elements, bool blind)
      : line_(line), elements_(std::move(elements)), blind_(blind), swap_(State().CaseSwapTable) {}

  long long Length() const { return static_cast<long long>(line_.size()); }

  // The end of the match from position p (1-based), or -1.
  long long MatchFrom(long long p) {
    if (!dense_ready_ && !sparse_) Prepare();
    return sparse_ ? SparseMatch(p) : DenseMatch(p);
  }

private:
  static constexpr std::uint64_t kDenseLimit = std::uint64_t{1} << 28;  // bits of the table

  static bool Consumes(const Element& e) { return e.kind != Kind::kStart && e.kind != Kind::kEnd; }

  bool InSet(const TCharSet& set, unsigned char t) const { return set.Has(t) || (blind_ && set.Has(swap_[t])); }

  bool One(const Element& e, long long p) const {
    if (p > Length()) return e.kind == Kind::kEnd;
    unsigned char t = U(line_[static_cast<size_t>(p - 1)]);
    switch (e.kind) {
      case Kind::kChar: return e.c == t || (blind_ && e.c == swap_[t]);
      case Kind::kAny: return true;
      case Kind::kStart: return p == 1;
      case Kind::kEnd: return false;  // only past the last character
      case Kind::kSet: return InSet(e.set, t);
      case Kind::kNotSet: return !InSet(e.set, t);
    }
    return false;
  }

  void Prepare() {
    const std::uint64_t columns = static_cast<std::uint64_t>(Length()) + 2;
    if ((elements_.size() + 1) * columns > kDenseLimit) {
      sparse_ = true;
      return;
    }
    // can_[j][p]: elements j.. match from position p (1 .. length + 1).
    const size_t n = elements_.size();
    const long long end = Length() + 1;
    can_.assign(n + 1, std::vector<bool>(static_cast<size_t>(columns), false));
    for (long long p = 1; p <= end; ++p) can_[n][static_cast<size_t>(p)] = true;
    for (size_t j = n; j-- > 0;) {
      const Element& e = elements_[j];
      auto& row = can_[j];
      const auto& next = can_[j + 1];
      for (long long p = end; p >= 1; --p) {
        const auto at = static_cast<size_t>(p);
        if (e.closure)
          row[at] = next[at] || (p <= Length() && One(e, p) && row[at + 1]);
        else
          row[at] = One(e, p) && next[Consumes(e) ? at + 1 : at];
      }
    }
    dense_ready_ = true;
  }

  long long DenseMatch(long long p) const {
    if (!can_[0][static_cast<size_t>(p)]) return -1;
    for (size_t j = 0; j < elements_.size(); ++j) {
      const Element& e = elements_[j];
      if (e.closure) {
        long long q = p;
        while (q <= Length() && One(e, q)) ++q;
        while (!can_[j + 1][static_cast<size_t>(q)]) --q;
        p = q;
      } else if (Consumes(e)) {
        ++p;
      }
    }
    return p;
  }

  // For tables too large to hold: backtracking, remembering the
  // (position, closure) pairs known to fail.
  long long SparseMatch(long long p) {
    struct Choice {
      size_t j;         // the closure element
      long long first;  // where its repetitions began
      long long at;     // where the rest is being tried
    };
    std::vector<Choice> choices;
    size_t j = 0;
    for (;;) {
      bool ok = true;
      while (ok && j < elements_.size()) {
        const Element& e = elements_[j];
        if (e.closure) {
          if (failed_.count(Key(p, j))) {
            ok = false;
            break;
          }
          long long q = p;
          while (q <= Length() && One(e, q)) ++q;
          choices.push_back({j, p, q});
          p = q;
          ++j;
        } else if (One(e, p)) {
          if (Consumes(e)) ++p;
          ++j;
        } else {
          ok = false;
        }
      }
      if (ok) return p;
      // Give the latest closure one repetition less; a closure out of
      // choices fails from where it began.
      for (;;) {
        if (choices.empty()) return -1;
        Choice& c = choices.back();
        if (c.at > c.first) {
          p = --c.at;
          j = c.j + 1;
          break;
        }
        failed_.insert(Key(c.first, c.j));
        choices.pop_back();
      }
    }
  }

  std::uint64_t Key(long long p, size_t j) const {
    return static_cast<std::uint64_t>(p) * (elements_.size() + 1) + j;
  }

  std::string_view line_;
  std::vector<Element> elements_;
  bool blind_;
  const uint8_t* swap_;
  bool dense_ready_ = false;
  bool sparse_ = false;
  std::vector<std::vector<bool>> can_;
  std::unordered_set<std::uint64_t> failed_;
};

}  // namespace

std::string MakePattern(std::string_view text) {
  std::string out;
  size_t last = std::string::npos;  // where the last element starts in out
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c == '*' && i > 0) {
      if (last == std::string::npos || out[last] == '$' || out[last] == '*' || out[last] == '^') return "";
      out.insert(last, 1, '*');
      continue;
    }
    const size_t start = out.size();
    if (c == '^' && i == 0) {
      out += '^';
    } else if (c == '$' && i == n - 1) {
      out += '$';
    } else if (c == '.') {
      out += '.';
    } else if (c == '[') {
      size_t j = i + 1;
      const bool negated = j < n && text[j] == '^';
      if (negated) ++j;
      std::string chars;
      size_t close = ReadSet(text, j, chars);
      if (close == std::string_view::npos) break;  // an open set takes the rest and writes nothing
      if (chars.size() > kMaxSet) return "";
      out += negated ? '!' : '[';
      out += static_cast<char>(chars.size());
      out += chars;
      i = close;
    } else if (c == '\\') {
      out += '@';
      out += i + 1 < n ? Escaped(text[++i]) : '\\';
    } else {
      out += '@';
      out += c;
    }
    last = start;
  }
  return out;
}

int ScanRX(std::string_view line, std::string_view pattern, int& start) {
  if (start == 0) return 0;
  const bool blind = start < 0;
  const long long from = std::llabs(static_cast<long long>(start));
  Matcher matcher(line, Decode(pattern), blind);
  start = static_cast<int>(std::min<long long>(from, std::numeric_limits<int>::max()));
  for (long long p = from; p <= matcher.Length(); ++p) {
    long long end = matcher.MatchFrom(p);
    if (end >= 0) {
      start = static_cast<int>(p);
      return static_cast<int>(end - p);
    }
    start = static_cast<int>(p + 1);
  }
  return 0;
}

}  // namespace textutil
