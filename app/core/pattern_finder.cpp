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
  // Loads reach byte i + reach + 31, which must lie inside the text.
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

}  // namespace appcore
