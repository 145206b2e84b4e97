#include "app/core/word_index.h"

#include <algorithm>
#include <cstring>

#include "app/core/data_file.h"
#include "app/core/record_line.h"
#include "app/core/simd_path.h"
#include "textutil/state.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define QV_WIDE_LEADS 1
#endif

namespace appcore {
namespace {

constexpr uint64_t kBlanks = 0x2020202020202020ull;
constexpr uint64_t kLows = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

// Eight bytes from p, little-endian; bytes at or past end read as zero.
uint64_t Load8(const char* p, const char* end) {
  uint64_t v = 0;
  if (end - p >= 8)
    std::memcpy(&v, p, 8);
  else if (end > p)
    std::memcpy(&v, p, static_cast<size_t>(end - p));
  return v;
}

// Number of bytes of v before its first blank (8 when there is none).
// Exact: the borrow of the subtraction only runs upwards from the first
// blank byte, and the lowest flagged byte is that blank.
unsigned BytesBeforeBlank(uint64_t v) {
  const uint64_t x = v ^ kBlanks;  // blanks become zero bytes
  const uint64_t zero = (x - kLows) & ~x & kHighs;
  return zero == 0 ? 8 : static_cast<unsigned>(__builtin_ctzll(zero)) / 8;
}

uint64_t Mix(uint64_t h) {
  h ^= h >> 32;
  h *= 0xd6e8feb86659fd93ull;
  h ^= h >> 32;
  return h;
}

// Distinct words to ids, open addressing. A slot is eight bytes (part of
// the word's hash and its id), so that the table of a file's few thousand
// words stays in the cache; what tells words apart is kept per id: the
// whole hash, the word's first sixteen bytes and its length, so that a word
// of up to sixteen bytes is told apart without reading the file where it
// was first seen.
class WordIds {
public:
  explicit WordIds(std::vector<std::string_view>& words) : words_(words), slots_(4096) {}

  // The id of the word w .. w+length whose first sixteen bytes (zero past
  // its end) are head0 and head1; -1 once there are more than 65,535 words.
  int Id(const char* w, size_t length, uint64_t head0, uint64_t head1) {
    uint64_t hash = Mix(head0 * 0x9E3779B97F4A7C15ull ^ head1 ^ length);
    for (size_t k = 16; k < length; ++k) hash = (hash ^ static_cast<uint8_t>(w[k])) * 0x100000001b3ull;
    const auto tag = static_cast<uint32_t>(hash >> 32);
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (slot.id == 0) {
        if (words_.size() >= 0xFFFF) return -1;
        if ((words_.size() + 1) * 2 > slots_.size()) {
          Grow();
          return Id(w, length, head0, head1);
        }
        words_.emplace_back(w, length);
        heads_.push_back(Head{hash, head0, head1, length});
        slot = Slot{tag, static_cast<uint32_t>(words_.size())};  // 1-based here; 0 marks a free slot
        return static_cast<int>(slot.id - 1);
      }
      if (slot.tag != tag) continue;
      const Head& head = heads_[slot.id - 1];
      if (head.hash == hash && head.head0 == head0 && head.head1 == head1 && head.length == length &&
          (length <= 16 || std::memcmp(words_[slot.id - 1].data() + 16, w + 16, length - 16) == 0))
        return static_cast<int>(slot.id - 1);
    }
  }

private:
  struct Slot {
    uint32_t tag = 0;
    uint32_t id = 0;
  };
  struct Head {
    uint64_t hash = 0;
    uint64_t head0 = 0, head1 = 0;
    size_t length = 0;
  };
  void Grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    const size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
      if (slot.id == 0) continue;
      size_t i = heads_[slot.id - 1].hash & mask;
      while (slots_[i].id != 0) i = (i + 1) & mask;
      slots_[i] = slot;
    }
  }

  std::vector<std::string_view>& words_;
  std::vector<Slot> slots_;
  std::vector<Head> heads_;  // per id
};

}  // namespace

WordIndex::WordIndex(const DataFile& file) {
  const int count = file.LineCount();
  const textutil::UnitState& st = textutil::State();
  const char* const file_end = file.Bytes().data() + file.Bytes().size();
  starts_.assign(static_cast<size_t>(count) + 1, 0);
  covered_.assign(static_cast<size_t>(count), false);
  // First the words are numbered as they come, two bytes each, with the
  // number of lines' words before each line; then numbered again by how
  // often they occur and coded into bytes_.
  std::vector<uint16_t> first_ids;
  first_ids.reserve(file.Bytes().size() / 6 + 16);
  std::vector<uint32_t> uses;
  WordIds ids(words_);
  // The line's flags tell where '"' is; other quote characters are looked for.
  const bool plain_quotes = st.OpenQuote == '"' && st.CloseQuote == '"';
  for (int line = 0; line < count; ++line) {
    starts_[static_cast<size_t>(line)] = static_cast<uint32_t>(first_ids.size());
    if (line == 0 || !(file.Flags(line) & DataFile::kRecordLine)) continue;
    const std::string_view rest = RestOf(TrimLine(file.Line(line)));
    if ((!plain_quotes || (file.Flags(line) & DataFile::kHasQuote)) &&
        (rest.find(st.OpenQuote) != std::string_view::npos || rest.find(st.CloseQuote) != std::string_view::npos))
      continue;
    covered_[static_cast<size_t>(line)] = true;
    if (rest.size() < 2) continue;
    const char* p = rest.data() + 1;
    const char* const end = rest.data() + rest.size();
    while (p < end) {
      // The word at p runs to the next blank or the end of the rest; its
      // first sixteen bytes are read eight at a time.
      const size_t left = static_cast<size_t>(end - p);
      uint64_t head0 = Load8(p, file_end);
      size_t length = BytesBeforeBlank(head0);
      uint64_t head1 = 0;
      if (length == 8 && left > 8) {
        head1 = Load8(p + 8, file_end);
        length = 8 + BytesBeforeBlank(head1);
        if (length == 16)
          while (length < left && p[length] != ' ') ++length;
      }
      if (length > left) length = left;
      if (length == 0) {  // a blank: empty words are skipped
        ++p;
        continue;
      }
      // Only the word's own bytes count.
      if (length < 8) head0 &= (uint64_t{1} << (8 * length)) - 1;
      if (length <= 8) head1 = 0;
      else if (length < 16) head1 &= (uint64_t{1} << (8 * (length - 8))) - 1;
      const int id = ids.Id(p, length, head0, head1);
      if (id < 0) {  // too many words for two-byte ids
        starts_ = {};
        covered_ = {};
        words_ = {};
        return;
      }
      if (static_cast<size_t>(id) == uses.size()) uses.push_back(0);
      ++uses[static_cast<size_t>(id)];
      first_ids.push_back(static_cast<uint16_t>(id));
      p += length + 1;
    }
  }
  starts_[static_cast<size_t>(count)] = static_cast<uint32_t>(first_ids.size());

  // The most used words get the smallest ids (ties in order of appearance).
  std::vector<uint16_t> by_use(words_.size());
  for (size_t i = 0; i < by_use.size(); ++i) by_use[i] = static_cast<uint16_t>(i);
  std::stable_sort(by_use.begin(), by_use.end(), [&](uint16_t a, uint16_t b) { return uses[a] > uses[b]; });
  std::vector<uint16_t> renumbered(words_.size());
  std::vector<std::string_view> words(words_.size());
  size_t total = 0;
  for (size_t rank = 0; rank < by_use.size(); ++rank) {
    renumbered[by_use[rank]] = static_cast<uint16_t>(rank);
    words[rank] = words_[by_use[rank]];
    total += uses[by_use[rank]] * (rank < 128 ? 1 : rank < 32640 ? 2 : 3);
  }
  words_.swap(words);
  // Which ASCII letters each word holds, either case (read while the
  // file's bytes are still at hand).
  letters_.resize(words_.size());
  for (size_t id = 0; id < words_.size(); ++id) {
    uint32_t letters = 0;
    for (const char c : words_[id]) {
      const auto low = static_cast<uint8_t>(c | 0x20);
      if (low >= 'a' && low <= 'z') letters |= uint32_t{1} << (low - 'a');
    }
    letters_[id] = letters;
  }
  bytes_.resize(total);
  uint8_t* out = bytes_.data();
  size_t next_word = 0;
  for (size_t line = 0; line <= static_cast<size_t>(count); ++line) {
    const size_t word_end = line < static_cast<size_t>(count) ? starts_[line + 1] : next_word;
    starts_[line] = static_cast<uint32_t>(out - bytes_.data());
    for (; next_word < word_end; ++next_word) {
      const uint16_t id = renumbered[first_ids[next_word]];
      if (id < 128) {
        *out++ = static_cast<uint8_t>(id);
      } else if (id < 32640) {
        *out++ = static_cast<uint8_t>(0x80 + ((id - 128) >> 8));
        *out++ = static_cast<uint8_t>((id - 128) & 0xFF);
      } else {
        *out++ = 0xFF;
        *out++ = static_cast<uint8_t>(id >> 8);
        *out++ = static_cast<uint8_t>(id & 0xFF);
      }
    }
  }
  usable_ = true;
}

namespace {

#if defined(QV_WIDE_LEADS)
// Where the first byte of s[from, to) in the set of Leads' tables lows and
// highs may stand, 32 bytes a turn: the first found, or where fewer than
// 32 bytes are left.
__attribute__((target("avx2,bmi"))) size_t FindLeadWide(const uint8_t* s, size_t from, size_t to,
                                                       const uint8_t* lows, const uint8_t* highs) {
  const __m256i low_rows = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lows)));
  const __m256i high_rows = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(highs)));
  const __m256i bit_of = _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16,
                                          32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  for (; from + 32 <= to; from += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + from));
    const __m256i l = _mm256_and_si256(v, nibble);
    const __m256i h = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
    // Bytes from 128 on read the second table (blendv takes a byte's top bit).
    const __m256i row = _mm256_blendv_epi8(_mm256_shuffle_epi8(low_rows, l), _mm256_shuffle_epi8(high_rows, l), v);
    const __m256i in = _mm256_and_si256(row, _mm256_shuffle_epi8(bit_of, h));
    const auto miss = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(in, _mm256_setzero_si256())));
    if (miss != 0xFFFFFFFFu) return from + static_cast<size_t>(__builtin_ctz(~miss));
  }
  return from;
}

// Where the first of a few codes of one or two bytes may stand in s[from,
// to), 32 bytes a turn: the first found, or where fewer than 33 bytes are
// left.
__attribute__((target("avx2,bmi"))) size_t FindCodesWide(const uint8_t* s, size_t from, size_t to,
                                                        const uint8_t* singles, int single_count,
                                                        const std::array<uint8_t, 2>* pairs, int pair_count) {
  for (; from + 33 <= to; from += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + from));
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + from + 1));
    __m256i in = _mm256_setzero_si256();
    for (int k = 0; k < single_count; ++k)
      in = _mm256_or_si256(in, _mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(singles[k]))));
    for (int k = 0; k < pair_count; ++k)
      in = _mm256_or_si256(in, _mm256_and_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(pairs[k][0]))),
                                                _mm256_cmpeq_epi8(next, _mm256_set1_epi8(static_cast<char>(pairs[k][1])))));
    const auto found = static_cast<uint32_t>(_mm256_movemask_epi8(in));
    if (found) return from + static_cast<size_t>(__builtin_ctz(found));
  }
  return from;
}
#endif

}  // namespace

int WordIndex::NextLineWithLead(int line, int end, const Leads& leads) const {
  if (!usable_ || line >= end) return end;
  const uint8_t* s = bytes_.data();
  const uint32_t* starts = starts_.data();
  size_t at = starts[line];
  const size_t to = starts[end];
  const bool few = leads.singles_ <= Leads::kFew && leads.pairs_ <= Leads::kFew;
#if defined(QV_WIDE_LEADS)
  const bool wide = UseAvx2();
  if (wide && few)
    at = FindCodesWide(s, at, to, leads.single_.data(), leads.singles_, leads.pair_.data(), leads.pairs_);
  else if (wide)
    at = FindLeadWide(s, at, to, leads.lows_.data(), leads.highs_.data());
#endif
  // The last bytes (a pair's second byte lies before to).
  const auto holds = [&](size_t i) {
    if (!leads.Has(s[i])) return false;
    if (!few || s[i] < 0x80) return true;
    for (int k = 0; k < leads.pairs_; ++k)
      if (leads.pair_[static_cast<size_t>(k)][0] == s[i] && i + 1 < to && leads.pair_[static_cast<size_t>(k)][1] == s[i + 1])
        return true;
    return false;
  };
  while (at < to && !holds(at)) ++at;
  if (at >= to) return end;
  // The line that holds byte at: the last whose codes start at or before
  // it (lines without words start where the next one does).
  const uint32_t* after = starts + line + 1;
  const uint32_t* const last = starts + end + 1;
  for (int step = 0; after < last && *after <= at; ++after)
    if (++step == 16) {
      after = std::upper_bound(after, last, static_cast<uint32_t>(at));
      break;
    }
  return static_cast<int>(after - starts) - 1;
}

size_t WordIndex::MemoryUse() const {
  return starts_.capacity() * sizeof(uint32_t) + bytes_.capacity() + covered_.capacity() / 8 +
         words_.capacity() * sizeof(std::string_view) + letters_.capacity() * sizeof(uint32_t);
}

}  // namespace appcore
