#include "app/core/pattern_finder.h"

#include <algorithm>

#include "textutil/state.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define QV_WIDE_FIND 1
#endif

namespace appcore {
namespace {

// How common a byte is in register text; anchors prefer rare ones.
int Commonness(uint8_t c) {
  if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c - 'A' + 'a');
  static constexpr std::string_view kByFrequency = " eatonirshldcmuwygfbpvkjxqz";
  const size_t at = kByFrequency.find(static_cast<char>(c));
  return at == std::string_view::npos ? 0 : static_cast<int>(kByFrequency.size() - at);
}

}  // namespace

PatternFinder::PatternFinder(std::string_view pattern) : pattern_(pattern) {
  const uint8_t* swap = textutil::State().CaseSwapTable;
  accepts_.resize(pattern_.size());
  // Candidate anchors: positions whose character accepts one or two bytes.
  std::vector<size_t> anchors;
  for (size_t j = 0; j < pattern_.size(); ++j) {
    const auto p = static_cast<uint8_t>(pattern_[j]);
    std::bitset<256>& set = accepts_[j];
    for (int t = 0; t < 256; ++t)
      if (p == '?' || p == t || swap[t] == p) set.set(static_cast<size_t>(t));
    if (p != '?' && set.count() <= 2) anchors.push_back(j);
  }
  if (anchors.empty()) return;
  std::stable_sort(anchors.begin(), anchors.end(), [&](size_t a, size_t b) {
    return Commonness(static_cast<uint8_t>(pattern_[a])) < Commonness(static_cast<uint8_t>(pattern_[b]));
  });
  anchor1_ = anchors[0];
  anchor2_ = anchors.size() > 1 ? anchors[1] : anchors[0];
  auto fill = [&](size_t pos, std::array<uint8_t, 2>& out) {
    int k = 0;
    for (int t = 0; t < 256; ++t)
      if (accepts_[pos].test(static_cast<size_t>(t))) out[static_cast<size_t>(k++)] = static_cast<uint8_t>(t);
    if (k == 1) out[1] = out[0];
  };
  fill(anchor1_, set1_);
  fill(anchor2_, set2_);
  usable_ = true;
}

bool PatternFinder::MatchesAt(const uint8_t* p) const {
  for (size_t j = 0; j < pattern_.size(); ++j)
    if (!accepts_[j].test(p[j])) return false;
  return true;
}

#if defined(QV_WIDE_FIND)
__attribute__((target("avx2"))) size_t PatternFinder::FindWide(const uint8_t* s, size_t n, size_t& i,
                                                             size_t last) const {
  const size_t reach = std::max(anchor1_, anchor2_);
  const __m256i a1 = _mm256_set1_epi8(static_cast<char>(set1_[0]));
  const __m256i b1 = _mm256_set1_epi8(static_cast<char>(set1_[1]));
  const __m256i a2 = _mm256_set1_epi8(static_cast<char>(set2_[0]));
  const __m256i b2 = _mm256_set1_epi8(static_cast<char>(set2_[1]));
  // Sixty-four positions a turn while no anchor pair agrees (the common
  // case), then thirty-two; loads reach byte i + reach + 63, then + 31,
  // which must lie inside the text.
  for (; i + reach + 64 <= n && i <= last; i += 64) {
    __builtin_prefetch(s + i + 2048);
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + anchor1_));
    const __m256i v2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + anchor2_));
    const __m256i w1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + 32 + anchor1_));
    const __m256i w2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + 32 + anchor2_));
    const __m256i low = _mm256_and_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v1, a1), _mm256_cmpeq_epi8(v1, b1)),
                                         _mm256_or_si256(_mm256_cmpeq_epi8(v2, a2), _mm256_cmpeq_epi8(v2, b2)));
    const __m256i high = _mm256_and_si256(_mm256_or_si256(_mm256_cmpeq_epi8(w1, a1), _mm256_cmpeq_epi8(w1, b1)),
                                          _mm256_or_si256(_mm256_cmpeq_epi8(w2, a2), _mm256_cmpeq_epi8(w2, b2)));
    if (_mm256_testz_si256(_mm256_or_si256(low, high), _mm256_or_si256(low, high))) continue;
    auto bits = static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(low))) |
                static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(high))) << 32;
    while (bits) {
      const size_t at = i + static_cast<size_t>(__builtin_ctzll(bits));
      if (at > last) return npos;
      if (MatchesAt(s + at)) return at;
      bits &= bits - 1;
    }
  }
  for (; i + reach + 32 <= n && i <= last; i += 32) {
    // The text may have left the caches since it was read in: fetch ahead.
    __builtin_prefetch(s + i + 2048);
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + anchor1_));
    const __m256i v2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + anchor2_));
    const __m256i hit1 = _mm256_or_si256(_mm256_cmpeq_epi8(v1, a1), _mm256_cmpeq_epi8(v1, b1));
    const __m256i hit2 = _mm256_or_si256(_mm256_cmpeq_epi8(v2, a2), _mm256_cmpeq_epi8(v2, b2));
    auto bits = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(hit1, hit2)));
    while (bits) {
      const size_t at = i + static_cast<size_t>(__builtin_ctz(bits));
      if (at > last) return npos;
      if (MatchesAt(s + at)) return at;
      bits &= bits - 1;
    }
  }
  return kGoOn;
}
#else
size_t PatternFinder::FindWide(const uint8_t*, size_t, size_t&, size_t) const { return kGoOn; }
#endif

size_t PatternFinder::Find(std::string_view text, size_t from) const {
  const size_t m = pattern_.size();
  const size_t n = text.size();
  if (!usable_ || m == 0 || from > n || n - from < m) return npos;
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  const size_t last = n - m;  // last start position
  size_t i = from;
#if defined(QV_WIDE_FIND)
  static const bool wide = __builtin_cpu_supports("avx2");
  if (wide) {
    const size_t found = FindWide(s, n, i, last);
    if (found != kGoOn) return found;
  }
#endif
#if defined(__SSE2__)
  const size_t reach = std::max(anchor1_, anchor2_);
  const __m128i a1 = _mm_set1_epi8(static_cast<char>(set1_[0]));
  const __m128i b1 = _mm_set1_epi8(static_cast<char>(set1_[1]));
  const __m128i a2 = _mm_set1_epi8(static_cast<char>(set2_[0]));
  const __m128i b2 = _mm_set1_epi8(static_cast<char>(set2_[1]));
  // Loads reach byte i + reach + 15, which must lie inside the text.
  for (; i + reach + 16 <= n && i <= last; i += 16) {
    const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + anchor1_));
    const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + anchor2_));
    const __m128i hit1 = _mm_or_si128(_mm_cmpeq_epi8(v1, a1), _mm_cmpeq_epi8(v1, b1));
    const __m128i hit2 = _mm_or_si128(_mm_cmpeq_epi8(v2, a2), _mm_cmpeq_epi8(v2, b2));
    unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(hit1, hit2)));
    while (bits) {
      const size_t at = i + static_cast<size_t>(__builtin_ctz(bits));
      if (at > last) return npos;
      if (MatchesAt(s + at)) return at;
      bits &= bits - 1;
    }
  }
#endif
  for (; i <= last; ++i)
    if (accepts_[anchor1_].test(s[i + anchor1_]) && MatchesAt(s + i)) return i;
  return npos;
}

bool PatternFinder::MayOccurIn(std::string_view text) const {
  if (!usable_) return true;
  const auto holds = [&](const std::array<uint8_t, 2>& set) {
    return text.find(static_cast<char>(set[0])) != std::string_view::npos ||
           (set[1] != set[0] && text.find(static_cast<char>(set[1])) != std::string_view::npos);
  };
  return holds(set1_) && holds(set2_);
}

namespace {

#if defined(QV_WIDE_FIND)
// Whether some bit of bits[0 ..] from lo to hi (both included) is set.
inline bool AnyBitIn(const uint64_t* bits, size_t lo, size_t hi) {
  for (size_t w = lo / 64; w <= hi / 64; ++w) {
    uint64_t word = bits[w];
    if (w == lo / 64) word &= ~uint64_t{0} << (lo % 64);
    if (w == hi / 64 && hi % 64 != 63) word &= (uint64_t{2} << (hi % 64)) - 1;
    if (word) return true;
  }
  return false;
}

// The bits below bit k of a word (every bit for k of 64 or more).
inline uint64_t BitsBelow(size_t k) { return k >= 64 ? ~uint64_t{0} : (uint64_t{1} << k) - 1; }

// AnchorsNearBrackets where the processor has AVX-512, for lines of up to
// 256 bytes; -1 for longer ones.
__attribute__((target("avx512f,avx512bw,bmi,bmi2,lzcnt,popcnt"))) int AnchorsNearBrackets512(
    std::string_view text, const PatternAnchors& a, size_t reach) {
  constexpr size_t kWords = 4;
  if (text.size() > 64 * kWords || text.empty()) return -1;
  if (text.size() <= 128) {
    // Most lines: two loads and masks of 128 bits as two words, no loops.
    const size_t size = text.size();
    const __mmask64 in0 = BitsBelow(size);
    const __mmask64 in1 = size > 64 ? BitsBelow(size - 64) : 0;
    const __m512i v0 = _mm512_maskz_loadu_epi8(in0, text.data());
    const __m512i v1 = _mm512_maskz_loadu_epi8(in1, text.data() + 64);
    const __m512i open = _mm512_set1_epi8('['), close = _mm512_set1_epi8(']');
    const __m512i a1 = _mm512_set1_epi8(static_cast<char>(a.first_bytes[0]));
    const __m512i b1 = _mm512_set1_epi8(static_cast<char>(a.first_bytes[1]));
    const __m512i a2 = _mm512_set1_epi8(static_cast<char>(a.second_bytes[0]));
    const __m512i b2 = _mm512_set1_epi8(static_cast<char>(a.second_bytes[1]));
    const uint64_t br0 = (_mm512_cmpeq_epi8_mask(v0, open) | _mm512_cmpeq_epi8_mask(v0, close)) & in0;
    const uint64_t br1 = (_mm512_cmpeq_epi8_mask(v1, open) | _mm512_cmpeq_epi8_mask(v1, close)) & in1;
    if ((br0 | br1) == 0) return -1;
    const uint64_t f0 = (_mm512_cmpeq_epi8_mask(v0, a1) | _mm512_cmpeq_epi8_mask(v0, b1)) & in0;
    const uint64_t f1 = (_mm512_cmpeq_epi8_mask(v1, a1) | _mm512_cmpeq_epi8_mask(v1, b1)) & in1;
    const uint64_t s0 = (_mm512_cmpeq_epi8_mask(v0, a2) | _mm512_cmpeq_epi8_mask(v0, b2)) & in0;
    const uint64_t s1 = (_mm512_cmpeq_epi8_mask(v1, a2) | _mm512_cmpeq_epi8_mask(v1, b2)) & in1;
    size_t lo = br0 ? static_cast<size_t>(__builtin_ctzll(br0)) : 64 + static_cast<size_t>(__builtin_ctzll(br1));
    size_t hi = br1 ? 127 - static_cast<size_t>(__builtin_clzll(br1)) : 63 - static_cast<size_t>(__builtin_clzll(br0));
    lo = lo >= reach ? lo - reach : 0;
    hi = std::min(hi + reach, size - 1) + 1;  // one past the last byte looked at
    // The bytes [lo, hi) as bits of each word (an index of 64 or more
    // keeps every bit).
    const uint64_t m0 = BitsBelow(hi) & ~BitsBelow(lo);
    const uint64_t m1 = BitsBelow(hi > 64 ? hi - 64 : 0) & ~BitsBelow(lo > 64 ? lo - 64 : 0);
    return ((f0 & m0) | (f1 & m1)) != 0 && ((s0 & m0) | (s1 & m1)) != 0 ? 1 : 0;
  }
  uint64_t brackets[kWords] = {}, first[kWords] = {}, second[kWords] = {};
  const size_t words = (text.size() + 63) / 64;
  for (size_t w = 0; w < words; ++w) {
    const size_t left = text.size() - 64 * w;
    // Bytes past the line are not read (nor can they fault).
    const __mmask64 in = left >= 64 ? ~__mmask64{0} : (__mmask64{1} << left) - 1;
    const __m512i v = _mm512_maskz_loadu_epi8(in, text.data() + 64 * w);
#define QV_EQUAL(c) _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(static_cast<char>(c)))
    brackets[w] = (QV_EQUAL('[') | QV_EQUAL(']')) & in;
    first[w] = (QV_EQUAL(a.first_bytes[0]) | QV_EQUAL(a.first_bytes[1])) & in;
    second[w] = (QV_EQUAL(a.second_bytes[0]) | QV_EQUAL(a.second_bytes[1])) & in;
#undef QV_EQUAL
  }
  size_t lo = std::string_view::npos, hi = 0;
  for (size_t w = 0; w < words; ++w) {
    if (brackets[w] == 0) continue;
    if (lo == std::string_view::npos) lo = 64 * w + static_cast<size_t>(__builtin_ctzll(brackets[w]));
    hi = 64 * w + 63 - static_cast<size_t>(__builtin_clzll(brackets[w]));
  }
  if (lo == std::string_view::npos) return -1;
  lo = lo >= reach ? lo - reach : 0;
  hi = std::min(hi + reach, text.size() - 1);
  return AnyBitIn(first, lo, hi) && AnyBitIn(second, lo, hi) ? 1 : 0;
}
#endif

}  // namespace

int AnchorsNearBrackets(std::string_view text, const PatternAnchors& anchors, size_t reach) {
#if defined(QV_WIDE_FIND)
  static const bool widest = __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512f");
  if (widest) return AnchorsNearBrackets512(text, anchors, reach);
#endif
  return -1;
}

AnyPatternFinder::AnyPatternFinder(const std::vector<std::string>& patterns) {
  for (const std::string& p : patterns) {
    if (p.empty()) continue;  // an empty pattern is never found
    finders_.emplace_back(p);
    usable_ = usable_ && finders_.back().Usable();
  }
  Reset();
}

void AnyPatternFinder::Reset() { next_.assign(finders_.size(), kUnknown); }

bool AnyPatternFinder::MayOccurIn(std::string_view text) const {
  for (const PatternFinder& finder : finders_)
    if (finder.MayOccurIn(text)) return true;
  return false;
}

size_t AnyPatternFinder::Find(std::string_view text, size_t from) {
  size_t best = PatternFinder::npos;
  for (size_t k = 0; k < finders_.size(); ++k) {
    // A stored result is still good while it lies at or after from; a
    // stored npos stays npos for the same text.
    if (next_[k] == kUnknown || (next_[k] != PatternFinder::npos && next_[k] < from))
      next_[k] = finders_[k].Find(text, from);
    best = std::min(best, next_[k]);
  }
  return best;
}

WordClassFinder::WordClassFinder(const std::array<uint8_t, 256>& classes, uint8_t need, std::string_view anchors)
    : classes_(classes), need_(need), anchors_(anchors) {
  for (const char a : anchors_) is_anchor_[static_cast<uint8_t>(a)] = true;
}

namespace {

inline bool EndsWord(uint8_t c) { return c <= ' ' && (c == ' ' || c == '\n' || c == '\r'); }

// The word around the anchor at i: whether its classes carry need; begin
// and end receive its bounds. Works in locals, which the byte loads of the
// classes cannot be taken to change.
__attribute__((always_inline)) inline bool WordAround(const uint8_t* s, size_t n, size_t i, const uint8_t* classes,
                                                      uint8_t need, size_t& begin, size_t& end) {
  uint8_t bits = classes[s[i]];
  size_t b = i;
  for (; b > 0 && !EndsWord(s[b - 1]); --b) bits |= classes[s[b - 1]];
  size_t e = i + 1;
  for (; e < n && !EndsWord(s[e]); ++e) bits |= classes[s[e]];
  begin = b;
  end = e;
  return (bits & need) == need;
}

// Tries the words around the anchors whose bits are set in bits, found in
// the block at i, in order; skip: anchors before it lie in words already
// tried. npos when the block gives no word, npos - 1 when the anchors pass
// until.
__attribute__((always_inline)) inline size_t TryAnchors(const uint8_t* s, size_t n, size_t i, uint64_t bits,
                                                        size_t until, const uint8_t* classes, uint8_t need,
                                                        size_t& skip, size_t& end) {
  for (; bits; bits &= bits - 1) {
    const size_t at = i + static_cast<size_t>(__builtin_ctzll(bits));
    if (at >= until) return PatternFinder::npos - 1;
    if (at < skip) continue;
    size_t begin;
    if (WordAround(s, n, at, classes, need, begin, end)) return begin;
    skip = end;
  }
  return PatternFinder::npos;
}

#if defined(QV_WIDE_FIND)
// Blocks of thirty-two bytes from i while they lie inside the text; i is
// left where the narrower search takes over. npos - 1: nothing before until.
__attribute__((target("avx2"))) size_t FindWordsWide(const uint8_t* s, size_t n, size_t& i, size_t until,
                                                     const uint8_t* classes, uint8_t need, size_t& skip,
                                                     size_t& end, std::string_view anchors) {
  for (; i + 32 <= n && i < until; i += 32) {
    __builtin_prefetch(s + i + 2048);
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
    __m256i hit = _mm256_setzero_si256();
    for (const char a : anchors) hit = _mm256_or_si256(hit, _mm256_cmpeq_epi8(v, _mm256_set1_epi8(a)));
    const auto bits = static_cast<uint32_t>(_mm256_movemask_epi8(hit));
    if (bits == 0) continue;
    const size_t found = TryAnchors(s, n, i, bits, until, classes, need, skip, end);
    if (found != PatternFinder::npos) return found;
  }
  return PatternFinder::npos;
}
#endif

}  // namespace

size_t WordClassFinder::Find(std::string_view text, size_t from, size_t until, size_t& end) const {
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  const size_t n = text.size();
  until = std::min(until, n);
  size_t i = from, skip = from;
  const auto done = [&](size_t found) { return found == npos - 1 ? npos : found; };
#if defined(QV_WIDE_FIND)
  static const bool wide = __builtin_cpu_supports("avx2");
  if (wide) {
    const size_t found = FindWordsWide(s, n, i, until, classes_.data(), need_, skip, end, anchors_);
    if (found != npos) return done(found);
  }
#endif
#if defined(__SSE2__)
  for (; i + 16 <= n && i < until; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    __m128i hit = _mm_setzero_si128();
    for (const char a : anchors_) hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(a)));
    const auto bits = static_cast<unsigned>(_mm_movemask_epi8(hit));
    if (bits == 0) continue;
    const size_t found = TryAnchors(s, n, i, bits, until, classes_.data(), need_, skip, end);
    if (found != npos) return done(found);
  }
#endif
  for (i = std::max(i, skip); i < until; ++i) {
    if (!is_anchor_[s[i]]) continue;
    size_t begin;
    if (WordAround(s, n, i, classes_.data(), need_, begin, end)) return begin;
    i = end;  // end ends a word (or is n)
  }
  return npos;
}

bool WordClassFinder::MayOccurIn(std::string_view text) const {
  uint8_t bits = 0;
  for (const char c : text) bits |= classes_[static_cast<uint8_t>(c)];
  return (bits & need_) == need_;
}

}  // namespace appcore
