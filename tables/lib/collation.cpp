#include "tables/lib/collation.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/runtime/cp1252.h"
#include "tables/engine/errors/errors.h"
#include "tables/lib/collation_tables.h"
#include "tables/lib/support.h"

namespace korvex {
namespace {

// Length of s within `length` bytes, stopping at a terminator; a negative
// length reads up to the terminator.
std::size_t BoundedLength(const char* s, std::ptrdiff_t length) {
  if (!s) return 0;
  if (length < 0) return std::strlen(s);
  const void* end = std::memchr(s, 0, static_cast<std::size_t>(length));
  return end ? static_cast<std::size_t>(static_cast<const char*>(end) - s) : static_cast<std::size_t>(length);
}

unsigned char Upper0(unsigned char c) { return rtl::CharUpper(c); }
unsigned char Lower0(unsigned char c) { return rtl::CharLower(c); }

// Language 0: unsigned bytes, a proper prefix first.
int CompareBytesOf(const char* s1, std::size_t n1, const char* s2, std::size_t n2, bool fold) {
  std::size_t n = n1 < n2 ? n1 : n2;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char a = static_cast<unsigned char>(s1[i]);
    unsigned char b = static_cast<unsigned char>(s2[i]);
    if (fold) {
      a = Upper0(a);
      b = Upper0(b);
    }
    if (a != b) return a < b ? -1 : 1;
  }
  return n1 < n2 ? -1 : n1 > n2 ? 1 : 0;
}

inline bool LeadsContraction(const TCollationTable& table, unsigned char c) {
  return table.contraction_leads[c >> 6] >> (c & 63) & 1;
}

// The element run at s[pos] (a contraction when one starts there) and how
// many bytes it covers.
inline const TElementRun& RunAt(const TCollationTable& table, const unsigned char* s, std::size_t n,
                                std::size_t pos, std::size_t& used) {
  unsigned char c = s[pos];
  if (LeadsContraction(table, c)) {
    // The contractions starting with c, longest first.
    auto k = std::lower_bound(table.contractions.begin(), table.contractions.end(), c,
                              [](const TContraction& x, unsigned char first) { return x.bytes[0] < first; });
    for (; k != table.contractions.end() && k->bytes[0] == c; ++k) {
      if (pos + k->length <= n && std::memcmp(s + pos, k->bytes.data(), k->length) == 0) {
        used = k->length;
        return k->elements;
      }
    }
  }
  used = 1;
  return (*table.elements)[c];
}

// Walks the collation elements of a string at one level, skipping those
// with weight 0 at that level (which also skips ignorable elements). At
// the case level with accents ignored, the elements of accents themselves
// (those without a letter weight) are skipped too, so that "e" and "é"
// stay equal there.
template <int Level, bool SkipAccents = false>
class ElementWalker {
public:
  ElementWalker(const TCollationTable& table, const char* s, std::size_t n)
      : table_(table), s_(reinterpret_cast<const unsigned char*>(s)), n_(n) {}

  // The next non-zero weight, or -1 at the end.
  int Next() {
    for (;;) {
      while (slot_ < kMaxExpansion) {
        const TCollationElement& e = (*run_)[slot_++];
        // A run's elements come first; an all-zero slot ends it.
        if (e.primary == 0 && e.accent == 0 && e.letter_case == 0) break;
        int weight = Level == 1 ? e.primary : Level == 2 ? e.accent : e.letter_case;
        if (SkipAccents && e.primary == 0) continue;
        if (weight != 0) return weight;
      }
      if (pos_ >= n_) return -1;
      std::size_t used;
      run_ = &RunAt(table_, s_, n_, pos_, used);
      pos_ += used;
      slot_ = 0;
    }
  }

private:
  static constexpr TElementRun kEmpty{};
  const TCollationTable& table_;
  const unsigned char* s_;
  std::size_t n_;
  std::size_t pos_ = 0;
  const TElementRun* run_ = &kEmpty;
  int slot_ = kMaxExpansion;
};

template <int Level, bool SkipAccents = false>
int CompareLevel(const TCollationTable& table, const char* s1, std::size_t n1, const char* s2, std::size_t n2) {
  ElementWalker<Level, SkipAccents> a(table, s1, n1), b(table, s2, n2);
  for (;;) {
    int wa = a.Next(), wb = b.Next();
    if (wa != wb) return wa < wb ? -1 : 1;
    if (wa < 0) return 0;
  }
}

const TCollationTable& RequireTable(std::uint16_t language, std::uint16_t sort) {
  const TCollationTable* table = FindCollationTable(language, sort);
  if (!table) RaiseError(err::kLanguageUnavailable);
  return *table;
}

}  // namespace

const TCollationTable* FindCollationTable(std::uint16_t language, std::uint16_t sort) {
  // Comparisons come in long runs under one language: the last table
  // found is asked first.
  thread_local const TCollationTable* last = nullptr;
  if (last && last->language == language && last->sort == sort) return last;
  std::span<const TCollationTable> tables = CompiledCollationTables();
  auto key = [](const TCollationTable& t) { return static_cast<std::uint32_t>(t.language) << 16 | t.sort; };
  const std::uint32_t wanted = static_cast<std::uint32_t>(language) << 16 | sort;
  auto it = std::lower_bound(tables.begin(), tables.end(), wanted,
                             [&key](const TCollationTable& t, std::uint32_t k) { return key(t) < k; });
  if (it == tables.end() || key(*it) != wanted) return nullptr;
  return last = &*it;
}

bool IsLanguageAvailable(std::uint16_t language, std::uint16_t sort) {
  return language == 0 || FindCollationTable(language, sort) != nullptr;
}

namespace {

// Most names differ in their letters at their first difference: two plain
// bytes whose first letter weights differ decide at once (0: undecided).
// `same` is where the equal leading bytes end, moved back to where no
// contraction can run across it; both strings have a byte there.
inline int FirstLetters(const TCollationTable& table, const char* s1, const char* s2, std::size_t same) {
  auto a = static_cast<unsigned char>(s1[same]), b = static_cast<unsigned char>(s2[same]);
  if (LeadsContraction(table, a) || LeadsContraction(table, b)) return 0;
  std::uint16_t pa = (*table.elements)[a][0].primary, pb = (*table.elements)[b][0].primary;
  if (pa != 0 && pb != 0 && pa != pb) return pa < pb ? -1 : 1;
  return 0;
}

inline std::size_t BackToUnit(const TCollationTable& table, const char* s, std::size_t same) {
  while (same > 0 && LeadsContraction(table, static_cast<unsigned char>(s[same - 1]))) --same;
  return same;
}

}  // namespace

int CompareWithTable(const TCollationTable& table, std::uint32_t flags, const char* s1,
                     std::ptrdiff_t length1, const char* s2, std::ptrdiff_t length2) {
  // Equal leading bytes weigh the same, so the walk may start at the first
  // difference, moved back to where no contraction can run across it.
  std::size_t n1, n2, same = 0;
  if (length1 < 0 && length2 < 0 && s1 && s2) {
    // Both up to their terminators: the first difference in one pass over
    // the bytes, which most comparisons end at; the lengths are counted
    // only for the walk.
    while (s1[same] == s2[same] && s1[same] != 0) ++same;
    if (s1[same] == s2[same]) return 0;
    const std::size_t differ = same;
    same = BackToUnit(table, s1, same);
    if (s1[same] != 0 && s2[same] != 0)
      if (const int decided = FirstLetters(table, s1, s2, same)) return decided;
    n1 = differ + std::strlen(s1 + differ);
    n2 = differ + std::strlen(s2 + differ);
  } else {
    n1 = BoundedLength(s1, length1), n2 = BoundedLength(s2, length2);
    const std::size_t limit = n1 < n2 ? n1 : n2;
    while (same < limit && s1[same] == s2[same]) ++same;
    if (same == n1 && same == n2) return 0;
    same = BackToUnit(table, s1, same);
    if (same < limit)
      if (const int decided = FirstLetters(table, s1, s2, same)) return decided;
  }
  s1 += same, s2 += same;
  n1 -= same, n2 -= same;
  int result = CompareLevel<1>(table, s1, n1, s2, n2);
  if (result == 0 && !(flags & NORM_IGNORENONSPACE)) result = CompareLevel<2>(table, s1, n1, s2, n2);
  if (result == 0 && !(flags & NORM_IGNORECASE))
    result = flags & NORM_IGNORENONSPACE ? CompareLevel<3, true>(table, s1, n1, s2, n2)
                                         : CompareLevel<3>(table, s1, n1, s2, n2);
  return result;
}

int CompareBytes(const void* buffer1, const void* buffer2, std::uint16_t length, bool descending) {
  if (!buffer1) return 1;
  if (length == 0) return 0;
  const int r = std::memcmp(buffer1, buffer2, length);
  const int result = (r > 0) - (r < 0);
  return descending ? -result : result;
}

int CompareLocaleStrings(std::uint32_t locale, std::uint32_t flags, const char* s1,
                         std::ptrdiff_t length1, const char* s2, std::ptrdiff_t length2) {
  std::uint16_t language = LanguageOfLocale(locale);
  if (language != 0)
    return CompareWithTable(RequireTable(language, SortOfLocale(locale)), flags, s1, length1, s2, length2);
  return CompareBytesOf(s1, BoundedLength(s1, length1), s2, BoundedLength(s2, length2),
                        (flags & NORM_IGNORECASE) != 0);
}

int CompareStrings(std::uint16_t language, std::uint16_t sort, const char* s1, const char* s2,
                   std::size_t length, bool case_insensitive) {
  std::ptrdiff_t n = length == 0 ? -1 : static_cast<std::ptrdiff_t>(length);
  std::uint32_t flags = SORT_STRINGSORT | (case_insensitive ? NORM_IGNORECASE : 0);
  if (language != 0) flags |= NORM_IGNORENONSPACE;
  return CompareLocaleStrings(MakeLocaleID(language, sort), flags, s1, n, s2, n);
}

int CompareChar(std::uint32_t locale, char c1, char c2) {
  char a[2] = {c1, 0}, b[2] = {c2, 0};
  return CompareLocaleStrings(locale, SORT_STRINGSORT, a, 1, b, 1);
}

int CompareCharNoAccent(std::uint32_t locale, char c1, char c2) {
  char a[2] = {c1, 0}, b[2] = {c2, 0};
  return CompareLocaleStrings(locale, SORT_STRINGSORT | NORM_IGNORENONSPACE, a, 1, b, 1);
}

int LikeCompareChar(std::uint16_t language, std::uint16_t sort, char c1, char c2) {
  if (language == 0) return CompareBytes(&c1, &c2, 1, false);
  return CompareCharNoAccent(MakeLocaleID(language, sort), c1, c2);
}

bool LikeString(std::uint16_t language, std::uint16_t sort, const char* text, const char* pattern) {
  const char* t = text;
  const char* p = pattern;
  const char* star_p = nullptr;  // the pattern just after the last '%' seen
  const char* star_t = nullptr;  // where that '%' started matching in the text
  while (*t) {
    if (*p == '%') {
      star_p = ++p;
      star_t = t;
    } else if (*p && (*p == '_' || LikeCompareChar(language, sort, *p, *t) == 0)) {
      ++p;
      ++t;
    } else if (star_p) {
      p = star_p;
      t = ++star_t;
    } else {
      return false;
    }
  }
  while (*p == '%') ++p;  // a trailing run of '%' matches the empty rest
  return *p == 0;
}

namespace {
// Maps every byte of source through the language's upper or lower case.
void MapCase(std::uint16_t language, std::uint16_t sort, const char* source, char* dest, bool upper) {
  std::size_t n = std::strlen(source);
  const TCollationTable* table = language == 0 ? nullptr : &RequireTable(language, sort);
  for (std::size_t i = 0; i <= n; ++i) {
    auto c = static_cast<unsigned char>(source[i]);
    unsigned char mapped = table ? (upper ? (*table->upper)[c] : (*table->lower)[c]) : (upper ? Upper0(c) : Lower0(c));
    dest[i] = static_cast<char>(mapped);
  }
}
}  // namespace

void UpperString(std::uint16_t language, std::uint16_t sort, const char* source, char* dest) {
  MapCase(language, sort, source, dest, true);
}

void LowerString(std::uint16_t language, std::uint16_t sort, const char* source, char* dest) {
  MapCase(language, sort, source, dest, false);
}

std::string UpperString(std::uint16_t language, std::uint16_t sort, std::string_view text) {
  std::string out(text.substr(0, text.find('\0')));
  UpperString(language, sort, out.c_str(), out.data());
  return out;
}

std::string LowerString(std::uint16_t language, std::uint16_t sort, std::string_view text) {
  std::string out(text.substr(0, text.find('\0')));
  LowerString(language, sort, out.c_str(), out.data());
  return out;
}

int CompareLanguageChars(const TCharMapRecord& a, const TCharMapRecord& b) {
  return CompareChar(a.locale, static_cast<char>(a.character), static_cast<char>(b.character));
}

void BuildCharMap(std::uint16_t language, std::uint16_t sort, TCharMap& map) {
  std::vector<TCharMapRecord> records(256);
  for (int c = 0; c < 256; ++c) records[c] = {static_cast<std::uint8_t>(c), MakeLocaleID(language, sort)};
  if (language != 0) {
    RequireTable(language, sort);
    std::stable_sort(records.begin(), records.end(), [](const TCharMapRecord& a, const TCharMapRecord& b) {
      return CompareLanguageChars(a, b) < 0;
    });
  }
  for (int i = 0; i < 256; ++i) map[i] = records[i].character;
}

namespace {
struct TCharMapEntry : TCountedObject {
  std::uint16_t language = 0;
  std::uint16_t sort = 0;
  TCharMap map{};
};
}  // namespace

TLanguageCharMapsList::TLanguageCharMapsList() { maps_.SetCapacity(255); }

TLanguageCharMapsList::~TLanguageCharMapsList() { FreeAllCharMaps(); }

void TLanguageCharMapsList::GetCharMap(std::uint16_t language, std::uint16_t sort, TCharMap& map) {
  std::lock_guard<std::mutex> guard(lock_);
  for (std::int32_t i = 0; i < maps_.Count(); ++i) {
    auto* entry = static_cast<TCharMapEntry*>(maps_.Get(i));
    if (entry->language == language && entry->sort == sort) {
      map = entry->map;
      return;
    }
  }
  auto* entry = new TCharMapEntry;
  entry->language = language;
  entry->sort = sort;
  try {
    BuildCharMap(language, sort, entry->map);
  } catch (...) {
    delete entry;
    throw;
  }
  maps_.Add(entry);
  map = entry->map;
}

void TLanguageCharMapsList::FreeAllCharMaps() {
  std::lock_guard<std::mutex> guard(lock_);
  for (std::int32_t i = maps_.Count() - 1; i >= 0; --i) delete static_cast<TCharMapEntry*>(maps_.Get(i));
  maps_.Clear();
}

void GetLanguageCharMap(std::uint16_t language, std::uint16_t sort, TCharMap& map) {
  LanguageCharMaps().GetCharMap(language, sort, map);
}

}  // namespace korvex
