#include "app/core/pattern_finder.h"

#include <algorithm>
#include <cstring>

#include "app/core/simd_path.h"
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
  // The bytes whose case image is each byte, found in one pass: a search
  // makes a finder for every block it searches.
  std::bitset<256> images[256];
  for (int t = 0; t < 256; ++t) images[swap[t]].set(static_cast<size_t>(t));
  // Candidate anchors: positions whose character accepts one or two bytes.
  std::vector<size_t> anchors;
  for (size_t j = 0; j < pattern_.size(); ++j) {
    const auto p = static_cast<uint8_t>(pattern_[j]);
    std::bitset<256>& set = accepts_[j];
    if (p == '?') {
      set.set();
      continue;
    }
    set = images[p];
    set.set(p);
    if (set.count() <= 2) anchors.push_back(j);
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
  const bool wide = UseAvx2();
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

#define QV_FIND512 "avx512f,avx512bw,bmi,bmi2,lzcnt,popcnt"

// The answer for a line of size bytes, 1 to 128, from the bits of its
// brackets (none past the line) and of each anchor's bytes in its two
// words (those past the line are not looked at); -1 when it holds no
// bracket. No branch on where the brackets stand: they fall in either word
// as often.
__attribute__((target(QV_FIND512), always_inline)) inline int NearFromBits(uint64_t br0, uint64_t br1, uint64_t f0,
                                                                          uint64_t f1, uint64_t s0, uint64_t s1,
                                                                          size_t size, size_t reach) {
  if ((br0 | br1) == 0) return -1;
  using Bits = unsigned __int128;
  // tzcnt and lzcnt give 64 for a word of no bits; the words' parts are
  // added under masks (a branch on them would miss half the time).
  const uint64_t none0 = -static_cast<uint64_t>(br0 == 0), none1 = -static_cast<uint64_t>(br1 == 0);
  size_t lo = _tzcnt_u64(br0) + (_tzcnt_u64(br1) & none0);
  const size_t hi = 127 - (_lzcnt_u64(br1) + (_lzcnt_u64(br0) & none1));
  lo = lo >= reach ? lo - reach : 0;
  const size_t end = std::min(hi + reach + 1, size);  // one past the last byte looked at, 1 to 128
  const Bits in = (~Bits{0} << lo) & (~Bits{0} >> (128 - end));
  const Bits first = (Bits{f1} << 64) | f0, second = (Bits{s1} << 64) | s0;
  return static_cast<int>(((first & in) != 0) & ((second & in) != 0));
}

// AnchorsNearBrackets of a line of size bytes, 1 to 128, whose bytes are
// those of v0 and then v1 (what lies past the line is not looked at); -1
// when it holds no bracket.
__attribute__((target(QV_FIND512), always_inline)) inline int NearBrackets128(__m512i v0, __m512i v1, size_t size,
                                                                             const PatternAnchors& a, size_t reach) {
  // Two words of mask bits, no loops.
  const __mmask64 in0 = BitsBelow(size);
  const __mmask64 in1 = size > 64 ? BitsBelow(size - 64) : 0;
  const __m512i open = _mm512_set1_epi8('['), close = _mm512_set1_epi8(']');
  const __m512i a1 = _mm512_set1_epi8(static_cast<char>(a.first_bytes[0]));
  const __m512i b1 = _mm512_set1_epi8(static_cast<char>(a.first_bytes[1]));
  const __m512i a2 = _mm512_set1_epi8(static_cast<char>(a.second_bytes[0]));
  const __m512i b2 = _mm512_set1_epi8(static_cast<char>(a.second_bytes[1]));
  const uint64_t br0 = (_mm512_cmpeq_epi8_mask(v0, open) | _mm512_cmpeq_epi8_mask(v0, close)) & in0;
  const uint64_t br1 = (_mm512_cmpeq_epi8_mask(v1, open) | _mm512_cmpeq_epi8_mask(v1, close)) & in1;
  if ((br0 | br1) == 0) return -1;
  // The anchors' bits past the line are left to NearFromBits, which looks
  // at none of them.
  const uint64_t f0 = _mm512_cmpeq_epi8_mask(v0, a1) | _mm512_cmpeq_epi8_mask(v0, b1);
  const uint64_t f1 = _mm512_cmpeq_epi8_mask(v1, a1) | _mm512_cmpeq_epi8_mask(v1, b1);
  const uint64_t s0 = _mm512_cmpeq_epi8_mask(v0, a2) | _mm512_cmpeq_epi8_mask(v0, b2);
  const uint64_t s1 = _mm512_cmpeq_epi8_mask(v1, a2) | _mm512_cmpeq_epi8_mask(v1, b2);
  return NearFromBits(br0, br1, f0, f1, s0, s1, size, reach);
}

// AnchorsNearBrackets where the processor has AVX-512, for lines of up to
// 256 bytes; -1 for longer ones.
__attribute__((target(QV_FIND512))) int AnchorsNearBrackets512(
    std::string_view text, const PatternAnchors& a, size_t reach) {
  constexpr size_t kWords = 4;
  if (text.size() > 64 * kWords || text.empty()) return -1;
  if (text.size() <= 128) {
    // Most lines: bytes past the line are not read (nor can they fault).
    const size_t size = text.size();
    const __m512i v0 = _mm512_maskz_loadu_epi8(BitsBelow(size), text.data());
    const __m512i v1 = _mm512_maskz_loadu_epi8(size > 64 ? BitsBelow(size - 64) : 0, text.data() + 64);
    return NearBrackets128(v0, v1, size, a, reach);
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

#if defined(QV_WIDE_FIND)
namespace {

// The bytes of v that equal image once bit (the lanes' byte) is set.
__attribute__((target(QV_FIND512), always_inline)) inline uint64_t FoldedEqual(__m512i v, const uint8_t* bit,
                                                                              const uint8_t* image) {
  return _mm512_cmpeq_epi8_mask(_mm512_or_si512(v, _mm512_load_si512(bit)), _mm512_load_si512(image));
}

// AnchorsNearBracketsAt where the processor has AVX-512: two loads, and
// one comparison of each for the line ends, the brackets ('[' and ']' are
// the bytes 2 apart from 0x5B) and each anchor, all made at once; the
// line's bounds then only mask their bits.
__attribute__((target(QV_FIND512))) int AnchorsNearBracketsAt512(const char* line, size_t available,
                                                                  const NearBracketsLanes& l, size_t& size) {
  if (available < 128) return kNearNotKnown;
  const __m512i v0 = _mm512_loadu_si512(line);
  const __m512i v1 = _mm512_loadu_si512(line + 64);
  const __m512i cr = _mm512_load_si512(l.cr), lf = _mm512_load_si512(l.lf);
  const uint64_t e0 = _mm512_cmpeq_epi8_mask(v0, cr) | _mm512_cmpeq_epi8_mask(v0, lf);
  const uint64_t e1 = _mm512_cmpeq_epi8_mask(v1, cr) | _mm512_cmpeq_epi8_mask(v1, lf);
  const __m512i bracket = _mm512_load_si512(l.bracket), not_two = _mm512_load_si512(l.not_two);
  const uint64_t b0 = _mm512_testn_epi8_mask(_mm512_sub_epi8(v0, bracket), not_two);
  const uint64_t b1 = _mm512_testn_epi8_mask(_mm512_sub_epi8(v1, bracket), not_two);
  const uint64_t f0 = FoldedEqual(v0, l.first_bit, l.first_image), f1 = FoldedEqual(v1, l.first_bit, l.first_image);
  const uint64_t s0 = FoldedEqual(v0, l.second_bit, l.second_image);
  const uint64_t s1 = FoldedEqual(v1, l.second_bit, l.second_image);
  if ((e0 | e1) == 0) return kNearNotKnown;
  // The bytes before the first line end, as bits of each word (no branch
  // on the word it lies in).
  const uint64_t none0 = -static_cast<uint64_t>(e0 == 0);
  size = _tzcnt_u64(e0) + (_tzcnt_u64(e1) & none0);
  const uint64_t in0 = ~e0 & (e0 - 1), in1 = ~e1 & (e1 - 1) & none0;
  return NearFromBits(b0 & in0, b1 & in1, f0, f1, s0, s1, size, l.reach);
}

}  // namespace
#endif

namespace {
int NearNotKnown(const char*, size_t, const NearBracketsLanes&, size_t&) { return kNearNotKnown; }

#if defined(QV_WIDE_FIND)
// The bits of the 128 bytes from a line's start that AnchorsNearBracketsAt
// weighs, two words each: line ends, brackets, and the bytes of each anchor.
struct NearMasks {
  uint64_t ends[2] = {}, brackets[2] = {}, first[2] = {}, second[2] = {};
};

// AnchorsNearBracketsAt from those bits, for the vector paths narrower than
// AVX-512.
int NearFromMasks(const NearMasks& m, size_t& size, size_t reach) {
  if ((m.ends[0] | m.ends[1]) == 0) return kNearNotKnown;
  size = m.ends[0] ? static_cast<size_t>(__builtin_ctzll(m.ends[0])) : 64 + static_cast<size_t>(__builtin_ctzll(m.ends[1]));
  const uint64_t b0 = m.brackets[0] & BitsBelow(size), b1 = size > 64 ? m.brackets[1] & BitsBelow(size - 64) : 0;
  if ((b0 | b1) == 0) return -1;
  size_t lo = b0 ? static_cast<size_t>(__builtin_ctzll(b0)) : 64 + static_cast<size_t>(__builtin_ctzll(b1));
  const size_t hi = b1 ? 127 - static_cast<size_t>(__builtin_clzll(b1)) : 63 - static_cast<size_t>(__builtin_clzll(b0));
  lo = lo >= reach ? lo - reach : 0;
  const size_t end = std::min(hi + reach + 1, size);  // one past the last byte looked at
  const uint64_t w0 = (lo < 64 ? ~uint64_t{0} << lo : 0) & BitsBelow(end);
  const uint64_t w1 = (lo < 64 ? ~uint64_t{0} : ~uint64_t{0} << (lo - 64)) & (end > 64 ? BitsBelow(end - 64) : 0);
  const bool first = ((m.first[0] & w0) | (m.first[1] & w1)) != 0;
  const bool second = ((m.second[0] & w0) | (m.second[1] & w1)) != 0;
  return first && second ? 1 : 0;
}

// AnchorsNearBrackets of a line of up to 127 bytes, byte by byte, for the
// paths narrower than AVX-512; -1 for longer ones.
int AnchorsNearBracketsPlain(std::string_view text, const PatternAnchors& a, size_t reach) {
  if (text.empty() || text.size() >= 128) return -1;
  const auto takes = [](const std::array<uint8_t, 2>& set, char c) {
    return set[0] == static_cast<uint8_t>(c) || set[1] == static_cast<uint8_t>(c);
  };
  NearMasks m;
  for (size_t k = 0; k < text.size(); ++k) {
    const uint64_t bit = uint64_t{1} << (k % 64);
    const char c = text[k];
    if (c == '[' || c == ']') m.brackets[k / 64] |= bit;
    if (takes(a.first_bytes, c)) m.first[k / 64] |= bit;
    if (takes(a.second_bytes, c)) m.second[k / 64] |= bit;
  }
  m.ends[text.size() / 64] |= uint64_t{1} << (text.size() % 64);
  size_t size = 0;
  return NearFromMasks(m, size, reach);
}

// AnchorsNearBracketsAt sixteen bytes at a time.
int AnchorsNearBracketsAt128(const char* line, size_t available, const NearBracketsLanes& l, size_t& size) {
  if (available < 128) return kNearNotKnown;
  const auto lanes = [](const uint8_t* bytes) { return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes)); };
  const __m128i cr = lanes(l.cr), lf = lanes(l.lf), bracket = lanes(l.bracket), not_two = lanes(l.not_two);
  const __m128i first_bit = lanes(l.first_bit), first_image = lanes(l.first_image);
  const __m128i second_bit = lanes(l.second_bit), second_image = lanes(l.second_image);
  NearMasks m;
  for (int k = 0; k < 8; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + 16 * k));
    const auto bits = [k](__m128i x) {
      return uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(x))} << (16 * (k % 4));
    };
    m.ends[k / 4] |= bits(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)));
    m.brackets[k / 4] |= bits(_mm_cmpeq_epi8(_mm_and_si128(_mm_sub_epi8(v, bracket), not_two), _mm_setzero_si128()));
    m.first[k / 4] |= bits(_mm_cmpeq_epi8(_mm_or_si128(v, first_bit), first_image));
    m.second[k / 4] |= bits(_mm_cmpeq_epi8(_mm_or_si128(v, second_bit), second_image));
  }
  return NearFromMasks(m, size, l.reach);
}

// AnchorsNearBracketsAt thirty-two bytes at a time (AVX2).
__attribute__((target("avx2,popcnt,bmi,lzcnt"))) int AnchorsNearBracketsAt256(const char* line, size_t available,
                                                                              const NearBracketsLanes& l,
                                                                              size_t& size) {
  if (available < 128) return kNearNotKnown;
#define QV_LANES(bytes) _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes))
  const __m256i cr = QV_LANES(l.cr), lf = QV_LANES(l.lf), bracket = QV_LANES(l.bracket), not_two = QV_LANES(l.not_two);
  const __m256i first_bit = QV_LANES(l.first_bit), first_image = QV_LANES(l.first_image);
  const __m256i second_bit = QV_LANES(l.second_bit), second_image = QV_LANES(l.second_image);
#undef QV_LANES
  NearMasks m;
  for (int k = 0; k < 4; ++k) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(line + 32 * k));
    const int shift = 32 * (k % 2);
#define QV_BITS(x) (uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(x))} << shift)
    m.ends[k / 2] |= QV_BITS(_mm256_or_si256(_mm256_cmpeq_epi8(v, cr), _mm256_cmpeq_epi8(v, lf)));
    m.brackets[k / 2] |=
        QV_BITS(_mm256_cmpeq_epi8(_mm256_and_si256(_mm256_sub_epi8(v, bracket), not_two), _mm256_setzero_si256()));
    m.first[k / 2] |= QV_BITS(_mm256_cmpeq_epi8(_mm256_or_si256(v, first_bit), first_image));
    m.second[k / 2] |= QV_BITS(_mm256_cmpeq_epi8(_mm256_or_si256(v, second_bit), second_image));
#undef QV_BITS
  }
  return NearFromMasks(m, size, l.reach);
}
#endif
}  // namespace

NearBracketsLanes::NearBracketsLanes(const PatternAnchors& anchors, size_t reach_) : reach(reach_) {
  const AnchorFold first = FoldOf(anchors.first_bytes), second = FoldOf(anchors.second_bytes);
  usable = first.usable && second.usable;
  const auto fill = [](uint8_t* lanes, uint8_t byte) { std::memset(lanes, byte, 64); };
  fill(cr, '\r');
  fill(lf, '\n');
  fill(bracket, '[');
  fill(not_two, static_cast<uint8_t>(~2));
  fill(first_bit, first.bit);
  fill(first_image, first.image);
  fill(second_bit, second.bit);
  fill(second_image, second.image);
  at = NearNotKnown;
  if (!usable) return;
#if defined(QV_WIDE_FIND)
  if (UseAvx512()) {
    at = AnchorsNearBracketsAt512;
    return;
  }
  if (UseAvx2()) {
    at = AnchorsNearBracketsAt256;
    return;
  }
  at = AnchorsNearBracketsAt128;
#endif
}

int AnchorsNearBrackets(std::string_view text, const PatternAnchors& anchors, size_t reach) {
#if defined(QV_WIDE_FIND)
  const bool widest = UseAvx512();
  if (widest) return AnchorsNearBrackets512(text, anchors, reach);
  return AnchorsNearBracketsPlain(text, anchors, reach);
#else
  return -1;
#endif
}

AnyPatternFinder::AnyPatternFinder(const std::vector<std::string>& patterns) {
  finders_.reserve(patterns.size());
  for (const std::string& p : patterns) {
    if (p.empty()) continue;  // an empty pattern is never found
    finders_.emplace_back(p);
    usable_ = usable_ && finders_.back().Usable();
  }
  Reset();
}

void AnyPatternFinder::Reset() { next_.assign(finders_.size(), kUnknown); }

bool AnyPatternFinder::OccursIn(std::string_view text) const {
  for (const PatternFinder& finder : finders_)
    if (finder.Find(text, 0) != PatternFinder::npos) return true;
  return false;
}

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

WordClassFinder::WordClassFinder(const std::array<uint8_t, 256>& classes, uint8_t need, std::string_view anchors,
                                 bool in_order)
    : classes_(classes), need_(need), anchors_(anchors), in_order_(in_order) {
  for (const char a : anchors_) is_anchor_[static_cast<uint8_t>(a)] = true;
  for (int j = 0; j < 8; ++j)
    if (need_ >> j & 1) order_[static_cast<size_t>(order_count_++)] = static_cast<uint8_t>(1u << j);
  // The window scan reads a byte's class from its lower-case image, and
  // takes a word that carries every class to hold an anchor.
  bool letters_alike = true;
  for (int b = 0; b < 256; ++b) {
    const bool letter = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
    letters_alike = letters_alike && classes_[static_cast<size_t>(b)] == (letter ? classes_[static_cast<size_t>(b | 0x20)] : 0);
  }
  for (int j = 0; j < 8 && anchor_bit_ == 0; ++j) {
    if (!(need_ >> j & 1)) continue;
    bool same = true;
    for (int b = 0; b < 256; ++b)
      same = same && is_anchor_[static_cast<size_t>(b)] == ((classes_[static_cast<size_t>(b)] >> j & 1) != 0);
    if (same) anchor_bit_ = static_cast<uint8_t>(1u << j);
  }
  by_windows_ = letters_alike && anchor_bit_ != 0;
  others_ = __builtin_popcount(need_) - 1;
  for (size_t i = 0; i < 16; ++i) {
    low_classes_[i] = classes_[0x60 + i];
    high_classes_[i] = classes_[0x70 + i];
  }
}

namespace {

// Whether the bytes [begin, end) of s hold bytes of the classes bits[0],
// bits[1] ... at positions in that order (one byte may give several).
inline bool ClassesInOrder(const uint8_t* s, size_t begin, size_t end, const uint8_t* classes, const uint8_t* bits,
                           int count) {
  int q = 0;
  for (size_t i = begin; i < end && q < count; ++i)
    for (const uint8_t c = classes[s[i]]; q < count && (c & bits[q]);) ++q;
  return q == count;
}

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

#if defined(QV_WIDE_FIND)
namespace {

// What the window scan needs of a finder.
struct WordScan {
  const uint8_t* classes;  // 256 entries
  const bool* is_anchor;   // 256 entries
  uint8_t need;
  uint8_t anchor_bit;      // the class whose bytes are the anchors
  const uint8_t* low;      // the classes of 0x60 .. 0x6F, 16 entries
  const uint8_t* high;     // of 0x70 .. 0x7F
  const uint8_t* order;    // the bits a word must carry in this order
  int order_count;         // 0: in any order
};

// The classes of 32 bytes at p, one byte each. The bytes 0x40 .. 0x7F read
// the table of their lower-case image's row (the rest, and the bytes from
// 0x80 on, have no class).
__attribute__((target("avx2"), always_inline)) inline __m256i ClassesOf(__m256i v, __m256i low, __m256i high) {
  const __m256i f = _mm256_or_si256(v, _mm256_set1_epi8(0x20));
  const __m256i row = _mm256_and_si256(f, _mm256_set1_epi8(static_cast<char>(0xF0)));
  return _mm256_or_si256(_mm256_and_si256(_mm256_shuffle_epi8(low, f), _mm256_cmpeq_epi8(row, _mm256_set1_epi8(0x60))),
                         _mm256_and_si256(_mm256_shuffle_epi8(high, f), _mm256_cmpeq_epi8(row, _mm256_set1_epi8(0x70))));
}

// The bytes of 32 whose classes hold bits, one bit each.
__attribute__((target("avx2"), always_inline)) inline uint64_t ClassHalf(__m256i cls, __m256i bits) {
  return uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_and_si256(cls, bits), bits)))};
}

// The same, of 64.
__attribute__((target("avx2"), always_inline)) inline uint64_t ClassMask(__m256i low_half, __m256i high_half,
                                                                         __m256i bits) {
  return ClassHalf(low_half, bits) | ClassHalf(high_half, bits) << 32;
}

// The bytes of 32 that end words.
__attribute__((target("avx2"), always_inline)) inline uint64_t EndHalf(__m256i v) {
  const __m256i ends = _mm256_or_si256(
      _mm256_cmpeq_epi8(v, _mm256_set1_epi8(' ')),
      _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n')), _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r'))));
  return uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(ends))};
}

// The first word of s[from, n) whose bytes carry each of the class bits
// asked for (kOthers besides the anchors') and that begins before until,
// an anchor of it there too; end receives where it ends. No word may
// straddle from. Sixty-four bytes a turn: a turn without an anchor looks
// no further; else the words that lie wholly inside it are judged at once
// through masks, and a word that crosses a turn's edge byte by byte.
template <int kOthers>
__attribute__((target("avx2,bmi,lzcnt,popcnt"))) size_t FindWordWindows(const uint8_t* s, size_t n, size_t from,
                                                                        size_t until, size_t& end,
                                                                        const WordScan& scan) {
  constexpr size_t npos = PatternFinder::npos;
  const __m256i low = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(scan.low)));
  const __m256i high = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(scan.high)));
  const __m256i anchor_bits = _mm256_set1_epi8(static_cast<char>(scan.anchor_bit));
  __m256i other_bits[kOthers > 0 ? kOthers : 1] = {};
  for (int j = 0, q = 0; j < 8; ++j)
    if ((scan.need & ~scan.anchor_bit) >> j & 1) other_bits[q++] = _mm256_set1_epi8(static_cast<char>(1u << j));
  // A word that passes, [begin, word_end), counts when an anchor of it lies
  // before until (it does when the word ends there).
  const auto anchored = [&](size_t begin, size_t word_end) {
    for (size_t a = begin; word_end > until && a < until; ++a)
      if (scan.is_anchor[s[a]]) return true;
    return word_end <= until;
  };
  const auto in_order = [&](size_t begin, size_t word_end) {
    return ClassesInOrder(s, begin, word_end, scan.classes, scan.order, scan.order_count);
  };
  // The word that holds the byte before at, byte by byte: its bounds and
  // whether it passes.
  const auto whole_word = [&](size_t at, size_t& begin, size_t& word_end) {
    uint8_t bits = 0;
    size_t b = at;
    for (; b > 0 && !EndsWord(s[b - 1]); --b) bits |= scan.classes[s[b - 1]];
    size_t e = at;
    for (; e < n && !EndsWord(s[e]); ++e) bits |= scan.classes[s[e]];
    begin = b;
    word_end = e;
    return (bits & scan.need) == scan.need;
  };
  bool open_anchor = false;  // the word open at the turn's start holds an anchor
  size_t i = from;
  for (; i < until; i += 64) {
    __m256i v0, v1;
    if (i + 64 <= n) {
      __builtin_prefetch(s + i + 2048);
      v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
      v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + 32));
    } else {
      // The last bytes, blanks after them.
      uint8_t tail[64];
      std::memset(tail, ' ', sizeof tail);
      std::memcpy(tail, s + i, n - i);
      v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tail));
      v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tail + 32));
    }
    const __m256i cls0 = ClassesOf(v0, low, high), cls1 = ClassesOf(v1, low, high);
    const uint64_t anchors = ClassMask(cls0, cls1, anchor_bits);
    if (anchors == 0 && !open_anchor) continue;
    uint64_t words = ~(EndHalf(v0) | EndHalf(v1) << 32);
    // The word open before i, when it holds an anchor, is judged where it
    // ends (here, or at i itself).
    if (i > from && !EndsWord(s[i - 1])) {
      const uint64_t head = words & ~(words + 1);
      if (head == ~uint64_t{0}) {
        open_anchor = open_anchor || anchors != 0;
        continue;
      }
      if (open_anchor || (anchors & head)) {
        size_t begin, word_end;
        if (whole_word(i, begin, word_end) && in_order(begin, word_end)) {
          end = word_end;
          return anchored(begin, word_end) ? begin : npos;
        }
      }
      words &= ~head;
    }
    // The words that begin here: each one's first byte, and the byte after
    // its last (for those that end here). Adding a word's first bit to the
    // word's bytes that lack a class carries past its end exactly when no
    // byte of the word has it.
    const uint64_t firsts = words & ~(words << 1);
    const uint64_t afters = (words << 1) & ~words;
    uint64_t lacking = ((words & ~anchors) + firsts) & afters;
    for (int q = 0; q < kOthers; ++q)
      lacking |= ((words & ~ClassMask(cls0, cls1, other_bits[q])) + firsts) & afters;
    for (uint64_t passing = afters & ~lacking; passing; passing &= passing - 1) {
      const int after = __builtin_ctzll(passing);
      const uint64_t gaps = ~words & ((uint64_t{1} << after) - 1);
      const size_t begin = i + (gaps ? static_cast<size_t>(64 - __builtin_clzll(gaps)) : 0);
      if (begin >= until) return npos;
      if (!in_order(begin, i + static_cast<size_t>(after))) continue;
      end = i + static_cast<size_t>(after);
      return anchored(begin, end) ? begin : npos;
    }
    // The last word goes on past the turn.
    open_anchor = false;
    if (words >> 63) {
      const uint64_t gaps = ~words;
      const int first = gaps ? 64 - __builtin_clzll(gaps) : 0;
      open_anchor = (anchors >> first) != 0;
    }
  }
  // A word that begins before until and goes on past the turns read.
  if (open_anchor) {
    size_t begin, word_end;
    if (whole_word(i, begin, word_end) && begin < until && in_order(begin, word_end) && anchored(begin, word_end)) {
      end = word_end;
      return begin;
    }
  }
  return npos;
}

}  // namespace

size_t WordClassFinder::FindByWindows(const uint8_t* s, size_t n, size_t from, size_t until, size_t& end) const {
  const WordScan scan{classes_.data(),      is_anchor_.data(), need_,         anchor_bit_,
                      low_classes_.data(),  high_classes_.data(), order_.data(), in_order_ ? order_count_ : 0};
  switch (others_) {
    case 0: return FindWordWindows<0>(s, n, from, until, end, scan);
    case 1: return FindWordWindows<1>(s, n, from, until, end, scan);
    case 2: return FindWordWindows<2>(s, n, from, until, end, scan);
    case 3: return FindWordWindows<3>(s, n, from, until, end, scan);
    case 4: return FindWordWindows<4>(s, n, from, until, end, scan);
    case 5: return FindWordWindows<5>(s, n, from, until, end, scan);
    case 6: return FindWordWindows<6>(s, n, from, until, end, scan);
    default: return FindWordWindows<7>(s, n, from, until, end, scan);
  }
}
#else
size_t WordClassFinder::FindByWindows(const uint8_t*, size_t, size_t, size_t, size_t&) const { return npos; }
#endif

bool WordClassFinder::InOrder(const uint8_t* s, size_t begin, size_t end) const {
  return ClassesInOrder(s, begin, end, classes_.data(), order_.data(), order_count_);
}

size_t WordClassFinder::Find(std::string_view text, size_t from, size_t until, size_t& end) const {
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
#if defined(QV_WIDE_FIND)
  // The window scan weighs the order itself. No word may straddle from:
  // it is the text's start, or a byte next to it ends a word.
  const bool windows = UseAvx2();
  const size_t n = text.size();
  if (windows && by_windows_ && (from == 0 || from >= n || EndsWord(s[from - 1]) || EndsWord(s[from])))
    return FindByWindows(s, n, from, std::min(until, n), end);
#endif
  for (;;) {
    const size_t begin = FindAnyOrder(text, from, until, end);
    if (begin == npos || !in_order_ || InOrder(s, begin, end)) return begin;
    // The words after it: text[end] ends one (or end is the text's size).
    from = end;
  }
}

size_t WordClassFinder::FindAnyOrder(std::string_view text, size_t from, size_t until, size_t& end) const {
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  const size_t n = text.size();
  until = std::min(until, n);
  size_t i = from, skip = from;
  const auto done = [&](size_t found) { return found == npos - 1 ? npos : found; };
#if defined(QV_WIDE_FIND)
  const bool wide = UseAvx2();
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
