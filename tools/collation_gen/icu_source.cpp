#include "tools/collation_gen/icu_source.h"

#include <unicode/dcfmtsym.h>
#include <unicode/dtfmtsym.h>
#include <unicode/numfmt.h>
#include <unicode/smpdtfmt.h>
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucol.h>
#include <unicode/ucoleitr.h>
#include <unicode/ucurr.h>
#include <unicode/normalizer2.h>
#include <unicode/uset.h>
#include <unicode/uversion.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <stdexcept>

namespace collgen {
namespace {

void Check(UErrorCode status, const std::string& what) {
  if (U_FAILURE(status)) throw std::runtime_error(what + ": " + u_errorName(status));
}

std::u16string FromUnicodeString(const icu::UnicodeString& s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s.getBuffer()), static_cast<std::size_t>(s.length()));
}

std::u16string Utf16Of(std::int32_t code_point) {
  icu::UnicodeString s(static_cast<UChar32>(code_point));
  return FromUnicodeString(s);
}

std::vector<std::int32_t> CodePoints(const std::u16string& s) {
  icu::UnicodeString u(reinterpret_cast<const UChar*>(s.data()), static_cast<int32_t>(s.size()));
  std::vector<std::int32_t> out;
  for (int32_t i = 0; i < u.length(); i = u.moveIndex32(i, 1)) out.push_back(u.char32At(i));
  return out;
}

}  // namespace

// ---- code pages ---------------------------------------------------------------

CodePage::CodePage(int number) : number_(number) {
  std::string name = number == 874 ? "windows-874-2000" : "windows-" + std::to_string(number);
  UErrorCode status = U_ZERO_ERROR;
  UConverter* converter = ucnv_open(name.c_str(), &status);
  Check(status, "code page " + name);
  ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  Check(status, "code page callback");
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    UChar out[4];
    status = U_ZERO_ERROR;
    ucnv_reset(converter);
    int32_t n = ucnv_toUChars(converter, out, 4, &in, 1, &status);
    std::int32_t c = U_SUCCESS(status) && n == 1 ? out[0] : -1;
    if (b >= 0x80 && c >= 0x80 && c <= 0x9F) c = -1;  // no character of the code page
    to_unicode_[static_cast<std::size_t>(b)] = c;
  }
  ucnv_close(converter);
}

int CodePage::ByteOf(std::int32_t code_point) const {
  for (int b = 0; b < 256; ++b)
    if (to_unicode_[static_cast<std::size_t>(b)] == code_point) return b;
  return -1;
}

std::u16string CodePage::Decode(const std::string& bytes) const {
  std::u16string out;
  for (char c : bytes) {
    std::int32_t cp = to_unicode_[static_cast<unsigned char>(c)];
    out += Utf16Of(cp < 0 ? 0xFFFD : cp);
  }
  return out;
}

std::optional<std::string> CodePage::Encode(const std::u16string& text) const {
  std::string out;
  bool whole = true;
  for (std::int32_t cp : CodePoints(text)) {
    int b = ByteOf(cp);
    if (b < 0) whole = false;
    out += static_cast<char>(b);
  }
  if (whole) return out;
  // A code page with combining marks (Vietnamese) writes a letter it lacks
  // as a letter it has and marks: each letter with its marks becomes one
  // precomposed letter of the code page with one of the marks, followed by
  // the other marks.
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  Check(status, "normalizer");
  icu::UnicodeString decomposed =
      nfd->normalize(icu::UnicodeString(reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size())),
                     status);
  Check(status, "decomposition");
  std::vector<std::int32_t> points = CodePoints(FromUnicodeString(decomposed));
  out.clear();
  for (std::size_t i = 0; i < points.size();) {
    std::size_t end = i + 1;
    while (end < points.size() && u_getCombiningClass(points[end]) != 0) ++end;
    std::optional<std::string> letter;
    // The letter composed with one of its marks first, the bare letter
    // (m == end) last.
    for (std::size_t m = i + 1; m <= end && !letter; ++m) {
      std::int32_t base = points[i];
      if (m < end) {
        icu::UnicodeString pair(static_cast<UChar32>(points[i]));
        pair.append(static_cast<UChar32>(points[m]));
        icu::UnicodeString composed = nfc->normalize(pair, status);
        if (U_FAILURE(status) || composed.countChar32() != 1) continue;
        base = composed.char32At(0);
      }
      int b = ByteOf(base);
      if (b < 0) continue;
      std::string bytes(1, static_cast<char>(b));
      for (std::size_t k = i + 1; k < end && b >= 0; ++k) {
        if (k == m) continue;
        b = ByteOf(points[k]);
        bytes += static_cast<char>(b);
      }
      if (b >= 0) letter = bytes;
    }
    if (!letter) return std::nullopt;
    out += *letter;
    i = end;
  }
  return out;
}

// ---- collators ------------------------------------------------------------------

namespace {

UCollator* OpenCollator(const char* locale, UColAttributeValue strength) {
  UErrorCode status = U_ZERO_ERROR;
  UCollator* c = ucol_open(locale, &status);
  Check(status, std::string("collator ") + locale);
  ucol_setAttribute(c, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
  ucol_setAttribute(c, UCOL_FRENCH_COLLATION, UCOL_OFF, &status);
  ucol_setAttribute(c, UCOL_CASE_FIRST, UCOL_OFF, &status);
  ucol_setAttribute(c, UCOL_CASE_LEVEL, UCOL_OFF, &status);
  ucol_setAttribute(c, UCOL_NORMALIZATION_MODE, UCOL_OFF, &status);
  ucol_setAttribute(c, UCOL_STRENGTH, strength, &status);
  Check(status, std::string("collator settings ") + locale);
  return c;
}

}  // namespace

Collator::Collator(const char* locale)
    : collator_(OpenCollator(locale, UCOL_TERTIARY)), primary_(OpenCollator(locale, UCOL_PRIMARY)) {}

Collator::~Collator() {
  ucol_close(collator_);
  ucol_close(primary_);
}

int Collator::Compare(const std::u16string& a, const std::u16string& b, bool primary_only) const {
  UCollationResult r = ucol_strcoll(primary_only ? primary_ : collator_, reinterpret_cast<const UChar*>(a.data()),
                                    static_cast<int32_t>(a.size()), reinterpret_cast<const UChar*>(b.data()),
                                    static_cast<int32_t>(b.size()));
  return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
}

// ---- weights ------------------------------------------------------------------------

namespace {

// One of ICU's collation elements with its full weights: 32-bit primary,
// 16-bit secondary, 16-bit tertiary without the case bits (which only count
// when upper or lower case is asked to sort first).
struct IcuElement {
  std::uint32_t primary = 0;
  std::uint16_t secondary = 0;
  std::uint16_t tertiary = 0;
  bool operator==(const IcuElement&) const = default;
};

// The iterator hands each element out as one or two 32-bit halves; a
// second half is marked by 0xC0 in its low byte.
std::vector<IcuElement> ElementsOf(const UCollator* collator, const std::u16string& text) {
  UErrorCode status = U_ZERO_ERROR;
  UCollationElements* it = ucol_openElements(collator, reinterpret_cast<const UChar*>(text.data()),
                                             static_cast<int32_t>(text.size()), &status);
  Check(status, "collation elements");
  std::vector<IcuElement> out;
  bool open = false;
  for (;;) {
    int32_t value = ucol_next(it, &status);
    Check(status, "collation element");
    if (value == UCOL_NULLORDER) break;
    auto ce = static_cast<std::uint32_t>(value);
    if ((ce & 0xC0) == 0xC0 && open) {
      out.back().primary |= ce >> 16;
      out.back().secondary = static_cast<std::uint16_t>(out.back().secondary | ((ce >> 8) & 0xFF));
      out.back().tertiary = static_cast<std::uint16_t>(out.back().tertiary | (ce & 0x3F));
      open = false;
      continue;
    }
    IcuElement e{ce & 0xFFFF0000u, static_cast<std::uint16_t>(ce & 0xFF00),
                 static_cast<std::uint16_t>((ce & 0x3F) << 8)};
    open = true;
    if (e.primary == 0 && e.secondary == 0 && e.tertiary == 0) {
      open = false;
      continue;
    }
    out.push_back(e);
  }
  ucol_closeElements(it);
  return out;
}

// Dense ranks of the distinct non-zero values of one level, from 1.
template <typename T>
std::map<T, int> Ranks(const std::set<T>& values) {
  std::map<T, int> ranks;
  int next = 1;
  for (T v : values)
    if (v != 0) ranks[v] = next++;
  return ranks;
}

bool IsTurkish(const LanguageSource& source) { return std::strncmp(source.locale, "tr", 2) == 0; }

// The language's simple case mapping of one character.
std::int32_t MapCase(std::int32_t c, bool upper, bool turkish) {
  if (turkish) {
    if (upper && c == 'i') return 0x130;
    if (upper && c == 0x131) return 'I';
    if (!upper && c == 'I') return 0x131;
    if (!upper && c == 0x130) return 'i';
  }
  return upper ? u_toupper(c) : u_tolower(c);
}

}  // namespace

korvex::TCollationTable GeneratedTable::View(std::uint32_t version) const {
  korvex::TCollationTable t;
  t.language = language;
  t.sort = sort;
  t.version = version;
  t.elements = &elements;
  t.upper = &upper;
  t.lower = &lower;
  t.contractions = contractions;
  t.contraction_leads = contraction_leads;
  return t;
}

GeneratedTable BuildTable(const LanguageSource& source) {
  CodePage cp(source.code_page);
  Collator collator(source.locale);
  const UCollator* coll = collator.Get();

  // The units: every defined byte, and every contraction of ICU's that the
  // code page can spell in 2 or 3 bytes and that weighs other than its
  // characters one by one.
  std::vector<std::vector<IcuElement>> byte_elements(256);
  // Control characters are ignored, whatever weight ICU gives them.
  for (int b = 0x20; b < 256; ++b) {
    std::int32_t c = cp.CharOf(static_cast<std::uint8_t>(b));
    if (c >= 0 && !u_iscntrl(c)) byte_elements[static_cast<std::size_t>(b)] = ElementsOf(coll, Utf16Of(c));
  }
  // Contractions are found by trying: a pair of characters is one when ICU
  // weighs it other than its two characters apart (this also catches
  // ICU's rules that weigh a character by the one before it), and a triple
  // or longer run is one when it holds a contraction and ICU weighs it other
  // than the longest-first reading of the contractions found so far.
  std::vector<std::uint8_t> letters;
  for (int b = 0x20; b < 256; ++b)
    if (cp.CharOf(static_cast<std::uint8_t>(b)) >= 0 && !byte_elements[static_cast<std::size_t>(b)].empty())
      letters.push_back(static_cast<std::uint8_t>(b));
  std::map<std::string, std::vector<IcuElement>> found;
  auto reading = [&](const std::string& bytes) {
    std::vector<IcuElement> out;
    for (std::size_t pos = 0; pos < bytes.size();) {
      std::size_t used = 1;
      const std::vector<IcuElement>* run = &byte_elements[static_cast<unsigned char>(bytes[pos])];
      for (std::size_t len = std::min<std::size_t>(korvex::kMaxContraction, bytes.size() - pos); len >= 2; --len) {
        auto it = found.find(bytes.substr(pos, len));
        if (it != found.end()) {
          run = &it->second;
          used = len;
          break;
        }
      }
      out.insert(out.end(), run->begin(), run->end());
      pos += used;
    }
    return out;
  };
  auto icu_of = [&](const std::string& bytes) { return ElementsOf(coll, cp.Decode(bytes)); };
  for (std::uint8_t x : letters)
    for (std::uint8_t y : letters) {
      std::string pair{static_cast<char>(x), static_cast<char>(y)};
      std::vector<IcuElement> whole = icu_of(pair);
      if (whole != reading(pair)) found[pair] = whole;
    }
  // Longer ones grow out of shorter ones, a character at either end.
  for (std::size_t length = 2; length < korvex::kMaxContraction; ++length) {
    std::vector<std::string> shorter;
    for (const auto& [bytes, list] : found)
      if (bytes.size() == length) shorter.push_back(bytes);
    for (const std::string& part : shorter)
      for (std::uint8_t z : letters)
        for (const std::string& longer : {part + static_cast<char>(z), static_cast<char>(z) + part}) {
          if (found.count(longer)) continue;
          std::vector<IcuElement> whole = icu_of(longer);
          if (whole != reading(longer)) found[longer] = whole;
        }
  }
  std::vector<std::pair<std::string, std::vector<IcuElement>>> contractions(found.begin(), found.end());

  std::set<std::uint32_t> primaries;
  std::set<std::uint16_t> secondaries, tertiaries;
  auto collect = [&](const std::vector<IcuElement>& list) {
    for (const IcuElement& e : list) {
      primaries.insert(e.primary);
      secondaries.insert(e.secondary);
      tertiaries.insert(e.tertiary);
    }
  };
  for (const auto& list : byte_elements) collect(list);
  for (const auto& [bytes, list] : contractions) collect(list);
  // Script reordering (Arabic first in Arabic, say) moves the lead bytes of
  // primaries when ICU compares; the elements come out unmoved. A sort key
  // begins with the moved lead byte of its first primary.
  std::map<std::uint32_t, std::uint8_t> moved;  // by the primary's top 16 bits
  auto learn = [&](const std::u16string& text, const std::vector<IcuElement>& list) {
    if (list.empty() || list[0].primary == 0 || moved.count(list[0].primary >> 16)) return;
    uint8_t key[64];
    int32_t n = ucol_getSortKey(coll, reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()),
                                key, sizeof key);
    if (n > 0) moved[list[0].primary >> 16] = key[0];
  };
  for (int b = 1; b < 256; ++b)
    if (cp.CharOf(static_cast<std::uint8_t>(b)) >= 0)
      learn(Utf16Of(cp.CharOf(static_cast<std::uint8_t>(b))), byte_elements[static_cast<std::size_t>(b)]);
  for (const auto& [bytes, list] : contractions) learn(cp.Decode(bytes), list);
  auto moved_of = [&](std::uint32_t p) {
    auto it = moved.find(p >> 16);
    if (it == moved.end()) {
      // Not first in any unit: it moves as the nearest one below it does,
      // scripts being moved whole.
      it = moved.upper_bound(p >> 16);
      if (it == moved.begin()) throw std::runtime_error(std::string(source.locale) + ": a primary of unknown order");
      --it;
      int shift = static_cast<int>(it->second) - static_cast<int>(it->first >> 8);
      return static_cast<std::uint32_t>(static_cast<int>(p >> 24) + shift) << 24 | (p & 0xFFFFFF);
    }
    return static_cast<std::uint32_t>(it->second) << 24 | (p & 0xFFFFFF);
  };
  std::set<std::uint32_t> reordered;
  for (std::uint32_t p : primaries)
    if (p != 0) reordered.insert(moved_of(p));
  const std::map<std::uint32_t, int> by_moved = Ranks(reordered);
  std::map<std::uint32_t, int> p_rank;
  for (std::uint32_t p : primaries)
    if (p != 0) p_rank[p] = by_moved.at(moved_of(p));
  auto s_rank = Ranks(secondaries);
  auto t_rank = Ranks(tertiaries);
  if (p_rank.size() + 256 > 0xFFFF || s_rank.size() > 0xFF || t_rank.size() > 0xFF)
    throw std::runtime_error(std::string(source.locale) + ": too many distinct weights");

  auto run_of = [&](const std::vector<IcuElement>& list) {
    if (list.size() > korvex::kMaxExpansion)
      throw std::runtime_error(std::string(source.locale) + ": a unit stands for " + std::to_string(list[0].primary) + " " +
                               std::to_string(list.size()) + " elements");
    korvex::TElementRun run{};
    for (std::size_t i = 0; i < list.size(); ++i) {
      const IcuElement& e = list[i];
      run[i] = korvex::TCollationElement(
          static_cast<std::uint16_t>(e.primary ? p_rank[e.primary] : 0),
          static_cast<std::uint8_t>(e.secondary ? s_rank[e.secondary] : 0),
          static_cast<std::uint8_t>(e.tertiary ? t_rank[e.tertiary] : 0));
    }
    return run;
  };

  GeneratedTable table;
  table.language = source.language;
  table.sort = source.sort;
  const korvex::TElementRun plain_a = run_of(byte_elements['a']);
  int undefined = 0;
  for (int b = 1; b < 256; ++b) {
    if (cp.CharOf(static_cast<std::uint8_t>(b)) >= 0) {
      table.elements[static_cast<std::size_t>(b)] = run_of(byte_elements[static_cast<std::size_t>(b)]);
    } else {
      // A byte without a character sorts after every character, by value.
      korvex::TCollationElement e = plain_a[0];
      e.primary = static_cast<std::uint16_t>(p_rank.size() + 1 + undefined++);
      table.elements[static_cast<std::size_t>(b)] = {e, {}, {}};
    }
  }
  std::sort(contractions.begin(), contractions.end(), [](const auto& x, const auto& y) {
    if (x.first[0] != y.first[0]) return static_cast<unsigned char>(x.first[0]) < static_cast<unsigned char>(y.first[0]);
    if (x.first.size() != y.first.size()) return x.first.size() > y.first.size();
    return x.first < y.first;
  });
  for (const auto& [bytes, list] : contractions) {
    korvex::TContraction k;
    for (std::size_t i = 0; i < bytes.size(); ++i) k.bytes[i] = static_cast<std::uint8_t>(bytes[i]);
    k.length = static_cast<std::uint8_t>(bytes.size());
    k.elements = run_of(list);
    table.contractions.push_back(k);
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
      auto c = static_cast<unsigned char>(bytes[i]);
      table.contraction_leads[c >> 6] |= std::uint64_t{1} << (c & 63);
    }
  }

  const bool turkish = IsTurkish(source);
  for (int b = 0; b < 256; ++b) {
    table.upper[static_cast<std::size_t>(b)] = table.lower[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(b);
    std::int32_t c = cp.CharOf(static_cast<std::uint8_t>(b));
    if (c < 0) continue;
    int up = cp.ByteOf(MapCase(c, true, turkish)), low = cp.ByteOf(MapCase(c, false, turkish));
    if (up >= 0) table.upper[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(up);
    if (low >= 0) table.lower[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(low);
  }
  return table;
}

// ---- the agreement check ----------------------------------------------------------

std::string CheckAgainstIcu(const korvex::TCollationTable& table, const LanguageSource& source, int pairs,
                            std::uint32_t seed) {
  CodePage cp(source.code_page);
  Collator collator(source.locale);
  // The tokens strings are made of: letters, marks, punctuation, the space
  // and the contractions; and groups of tokens of one letter weight, so
  // that accents and case get compared as often as letters.
  std::vector<std::string> tokens;
  for (int b = 0x20; b < 256; ++b) {
    std::int32_t c = cp.CharOf(static_cast<std::uint8_t>(b));
    if (c < 0) continue;
    int8_t type = u_charType(c);
    if (u_isalpha(c) || u_ispunct(c) || c == ' ' || type == U_NON_SPACING_MARK || type == U_COMBINING_SPACING_MARK)
      tokens.emplace_back(1, static_cast<char>(b));
  }
  for (const korvex::TContraction& k : table.contractions)
    tokens.emplace_back(reinterpret_cast<const char*>(k.bytes.data()), k.length);
  std::map<std::uint16_t, std::vector<std::string>> by_letter;
  for (const std::string& t : tokens)
    by_letter[(*table.elements)[static_cast<unsigned char>(t[0])][0].primary].push_back(t);

  std::mt19937 random(seed);
  auto any_token = [&] { return tokens[random() % tokens.size()]; };
  auto random_string = [&] {
    std::vector<std::string> s;
    for (int n = static_cast<int>(random() % 7); n > 0; --n) s.push_back(any_token());
    return s;
  };
  auto join = [](const std::vector<std::string>& s) {
    std::string out;
    for (const auto& t : s) out += t;
    return out;
  };
  for (int i = 0; i < pairs; ++i) {
    std::vector<std::string> a = random_string(), b = a;
    switch (random() % 5) {
      case 0: b = random_string(); break;
      case 1: if (!b.empty()) b[random() % b.size()] = any_token(); break;
      case 2: b.insert(b.begin() + static_cast<long>(random() % (b.size() + 1)), any_token()); break;
      case 3: if (!b.empty()) b.erase(b.begin() + static_cast<long>(random() % b.size())); break;
      default:
        for (int n = 1 + static_cast<int>(random() % 2); n > 0 && !b.empty(); --n) {
          std::string& t = b[random() % b.size()];
          const auto& group = by_letter[(*table.elements)[static_cast<unsigned char>(t[0])][0].primary];
          t = group[random() % group.size()];
        }
    }
    const std::string x = join(a), y = join(b);
    const std::u16string ux = cp.Decode(x), uy = cp.Decode(y);
    for (bool primary : {true, false}) {
      std::uint32_t flags = korvex::SORT_STRINGSORT | (primary ? korvex::NORM_IGNORECASE | korvex::NORM_IGNORENONSPACE : 0);
      int ours = korvex::CompareWithTable(table, flags, x.data(), static_cast<std::ptrdiff_t>(x.size()), y.data(),
                                          static_cast<std::ptrdiff_t>(y.size()));
      int icu = collator.Compare(ux, uy, primary);
      if (ours != icu) {
        std::string hex;
        for (const std::string* s : {&x, &y}) {
          hex += " [";
          for (unsigned char c : *s) {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%02X", c);
            hex += buf;
          }
          hex += "]";
        }
        return std::string(source.locale) + (primary ? " primary:" : " tertiary:") + hex + " table " +
               std::to_string(ours) + ", ICU " + std::to_string(icu);
      }
    }
  }
  return "";
}

// ---- formats ----------------------------------------------------------------------------

namespace {

bool IsMark(UChar32 c) { return c == 0x200E || c == 0x200F || c == 0x061C || c == 0x200B; }

// The text without direction marks, with ICU's narrow no-break space as a
// no-break space.
std::u16string Clean(const icu::UnicodeString& text) {
  std::u16string out;
  for (std::int32_t c : CodePoints(FromUnicodeString(text))) {
    if (IsMark(c)) continue;
    if (c == 0x202F) c = 0xA0;
    out += Utf16Of(c);
  }
  return out;
}

// One character of the code page standing for a separator; `fallback` when
// the separator is longer or missing.
char SeparatorByte(const CodePage& cp, const icu::UnicodeString& text, char fallback) {
  std::u16string clean = Clean(text);
  std::optional<std::string> bytes = cp.Encode(clean);
  if (!bytes && clean == u"\u00A0") bytes = " ";
  return bytes && bytes->size() == 1 ? (*bytes)[0] : fallback;
}

// ICU's date pattern in the runtime's format codes: d dd ddd dddd, m mm mmm
// mmmm, yyyy (every year field four digits wide), quoted literals; eras and
// fields the runtime lacks are left out, and so are characters the code
// page lacks.
std::string ConvertDatePattern(const CodePage& cp, const icu::UnicodeString& pattern) {
  std::u16string p = FromUnicodeString(pattern);
  std::string out, literal;
  auto flush = [&] {
    if (literal.empty()) return;
    bool plain = true;
    for (unsigned char c : literal)
      if (std::isalpha(c) || c >= 0x80 || c == '\'' || c == '"' || c == ':') plain = false;
    if (plain) out += literal;
    else if (literal.find('"') == std::string::npos) out += '"' + literal + '"';
    else out += "'" + literal + "'";
    literal.clear();
  };
  auto add_literal = [&](std::int32_t c) {
    if (IsMark(c)) return;
    if (c == 0x202F) c = 0xA0;
    int b = cp.ByteOf(c);
    if (b >= 0) literal += static_cast<char>(b);
  };
  std::size_t i = 0;
  while (i < p.size()) {
    char16_t c = p[i];
    if (c == '\'') {
      std::size_t end = i + 1;
      if (end < p.size() && p[end] == '\'') {  // '' is one quote
        add_literal('\'');
        i += 2;
        continue;
      }
      while (end < p.size() && p[end] != '\'') add_literal(p[end++]);
      i = end + 1;
      continue;
    }
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      std::size_t run = 1;
      while (i + run < p.size() && p[i + run] == c) ++run;
      std::string field;
      switch (c) {
        case 'y': case 'Y': case 'u': field = "yyyy"; break;
        case 'M': case 'L': field = run == 1 ? "m" : run == 2 ? "mm" : run == 3 ? "mmm" : "mmmm"; break;
        case 'd': field = run == 1 ? "d" : "dd"; break;
        case 'E': case 'c': case 'e': field = run <= 3 ? "ddd" : "dddd"; break;
        default: break;  // eras, quarters, week numbers: left out
      }
      i += run;
      if (field.empty()) {
        // Drop the blank that followed (or preceded) what is left out.
        if (i < p.size() && p[i] == ' ') ++i;
        else if (!literal.empty() && literal.back() == ' ') literal.pop_back();
        continue;
      }
      flush();
      out += field;
      continue;
    }
    add_literal(c);
    ++i;
  }
  flush();
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// A short date of numbers only: what lies before the first field and after
// the last is dropped (so "yyyy. mm. dd." reads back), and the separator is
// the first character between the fields that is not a blank.
void ShortDate(const std::string& converted, std::string& format, char& separator) {
  std::size_t first = converted.find_first_of("dmy"), last = converted.find_last_of("dmy");
  format = first == std::string::npos ? converted : converted.substr(first, last - first + 1);
  separator = '/';
  bool in_field = true;
  for (char c : format) {
    if (c == 'd' || c == 'm' || c == 'y') {
      in_field = true;
      continue;
    }
    if (in_field && c != ' ' && c != '"' && c != '\'') {
      separator = c;
      break;
    }
  }
  // A '/' in the format stands for the separator already.
  if (separator == '/') return;
  for (char& c : format)
    if (c == '/') c = separator;
}

std::string Names(const CodePage& cp, const icu::UnicodeString& name, const char* english) {
  std::optional<std::string> bytes = cp.Encode(Clean(name));
  return bytes && !bytes->empty() ? *bytes : english;
}

// Where the currency symbol stands: the formatted amount with the symbol
// as '$', the number as '1', blanks as ' ', minus signs as '-'.
std::string CurrencyShape(const icu::UnicodeString& formatted) {
  std::string shape;
  for (std::int32_t c : CodePoints(Clean(formatted))) {
    char k;
    if (u_isdigit(c) || c == '.' || c == ',' || c == 0x2019 || c == '\'' || c == 0x66B || c == 0x66C) k = '1';
    else if (c == ' ' || c == 0xA0) k = ' ';
    else if (c == '-' || c == 0x2212) k = '-';
    else if (c == '(' || c == ')') k = static_cast<char>(c);
    else k = '$';
    if (!shape.empty() && shape.back() == k && (k == '1' || k == '$' || k == ' ')) continue;
    shape += k;
  }
  return shape;
}

int IndexOf(const std::vector<std::string>& list, const std::string& item, int fallback) {
  auto it = std::find(list.begin(), list.end(), item);
  return it == list.end() ? fallback : static_cast<int>(it - list.begin());
}

constexpr const char* kEnglishMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                            "July",    "August",   "September", "October", "November", "December"};
constexpr const char* kEnglishDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

}  // namespace

FormatSource BuildFormats(const LanguageSource& source) {
  CodePage cp(source.code_page);
  std::string base(source.locale);
  base = base.substr(0, base.find('@'));
  icu::Locale locale((base + "@calendar=gregorian;numbers=latn").c_str());
  UErrorCode status = U_ZERO_ERROR;
  FormatSource f;
  f.language = source.language;

  icu::DecimalFormatSymbols symbols(locale, status);
  Check(status, "number symbols " + base);
  f.decimal_separator = SeparatorByte(cp, symbols.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol), '.');
  f.thousand_separator =
      SeparatorByte(cp, symbols.getSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol), ',');
  std::optional<std::string> currency =
      cp.Encode(Clean(symbols.getSymbol(icu::DecimalFormatSymbols::kCurrencySymbol)));
  if (!currency || currency->empty())
    currency = cp.Encode(Clean(symbols.getSymbol(icu::DecimalFormatSymbols::kIntlCurrencySymbol)));
  f.currency = currency.value_or("");
  {
    std::unique_ptr<icu::NumberFormat> money(icu::NumberFormat::createCurrencyInstance(locale, status));
    Check(status, "currency format " + base);
    const UChar* code = money->getCurrency();
    f.currency_decimals = ucurr_getDefaultFractionDigits(code, &status);
    Check(status, "currency digits " + base);
    icu::UnicodeString plus, minus;
    money->format(1.0, plus);
    money->format(-1.0, minus);
    f.currency_format = IndexOf({"$1", "1$", "$ 1", "1 $"}, CurrencyShape(plus), 0);
    f.neg_currency_format = IndexOf({"($1)", "-$1", "$-1", "$1-", "(1$)", "-1$", "1-$", "1$-", "-1 $", "-$ 1",
                                     "1 $-", "$ 1-", "$ -1", "1- $", "($ 1)", "(1 $)"},
                                    CurrencyShape(minus), 1);
  }

  auto pattern_of = [&](icu::DateFormat* format) {
    std::unique_ptr<icu::DateFormat> owned(format);
    auto* simple = dynamic_cast<icu::SimpleDateFormat*>(owned.get());
    if (!simple) throw std::runtime_error("no date pattern for " + base);
    icu::UnicodeString pattern;
    simple->toPattern(pattern);
    return pattern;
  };
  ShortDate(ConvertDatePattern(cp, pattern_of(icu::DateFormat::createDateInstance(icu::DateFormat::kShort, locale))),
            f.short_date, f.date_separator);
  f.long_date = ConvertDatePattern(cp, pattern_of(icu::DateFormat::createDateInstance(icu::DateFormat::kFull, locale)));

  // The clock: 12-hour when the short time pattern has 'h' or 'K'; the
  // separator follows the hour.
  std::u16string time = FromUnicodeString(pattern_of(icu::DateFormat::createTimeInstance(icu::DateFormat::kShort, locale)));
  std::size_t hour = time.find_first_of(u"hHkK");
  if (hour != std::u16string::npos) {
    f.twelve_hour = time[hour] == 'h' || time[hour] == 'K';
    f.hour_leading_zero = hour + 1 < time.size() && time[hour + 1] == time[hour];
    std::size_t after = time.find_first_not_of(time[hour], hour);
    if (after != std::u16string::npos) {
      // A blank or a quoted word ("HH 'h' mm") is no separator to read
      // times by: those keep ':'.
      int b = u_ispunct(time[after]) && time[after] != '\'' ? cp.ByteOf(time[after]) : -1;
      if (b > 0) f.time_separator = static_cast<char>(b);
    }
  }

  icu::DateFormatSymbols names(locale, status);
  Check(status, "date names " + base);
  int32_t count = 0;
  const icu::UnicodeString* ampm = names.getAmPmStrings(count);
  f.am = count >= 2 ? Names(cp, ampm[0], "AM") : "AM";
  f.pm = count >= 2 ? Names(cp, ampm[1], "PM") : "PM";
  using S = icu::DateFormatSymbols;
  const icu::UnicodeString* months = names.getMonths(count, S::STANDALONE, S::WIDE);
  for (int i = 0; i < 12 && i < count; ++i) f.long_months[i] = Names(cp, months[i], kEnglishMonths[i]);
  months = names.getMonths(count, S::STANDALONE, S::ABBREVIATED);
  for (int i = 0; i < 12 && i < count; ++i)
    f.short_months[i] = Names(cp, months[i], std::string(kEnglishMonths[i]).substr(0, 3).c_str());
  // ICU's day lists have an unused entry first; Sunday is entry 1.
  const icu::UnicodeString* days = names.getWeekdays(count, S::STANDALONE, S::WIDE);
  for (int i = 0; i < 7 && i + 1 < count; ++i) f.long_days[i] = Names(cp, days[i + 1], kEnglishDays[i]);
  days = names.getWeekdays(count, S::STANDALONE, S::ABBREVIATED);
  for (int i = 0; i < 7 && i + 1 < count; ++i)
    f.short_days[i] = Names(cp, days[i + 1], std::string(kEnglishDays[i]).substr(0, 3).c_str());
  return f;
}

std::string IcuVersion() {
  UVersionInfo v;
  u_getVersion(v);
  char text[U_MAX_VERSION_STRING_LENGTH];
  u_versionToString(v, text);
  return text;
}

}  // namespace collgen
