#include "tables/lib/records_bitmap.h"

#include <bit>
#include <cstring>

#include "tables/lib/allocator.h"
#include "tables/lib/support.h"

namespace korvex {
namespace {

constexpr std::int32_t kBitmapStep = 1024;
constexpr std::uint32_t kAll = 0xFFFFFFFFu;

std::int32_t RoundUp32(std::int32_t n) { return n % 32 == 0 ? n : (n / 32 + 1) * 32; }

// Set bits of a word (without relying on a population-count instruction
// being there).
inline std::int32_t Pop(std::uint32_t x) {
  x = x - ((x >> 1) & 0x55555555u);
  x = (x & 0x33333333u) + ((x >> 2) & 0x33333333u);
  x = (x + (x >> 4)) & 0x0F0F0F0Fu;
  return static_cast<std::int32_t>((x * 0x01010101u) >> 24);
}

// Set bits of words [from, to): full and empty words at a glance, the
// processor's population count where it has one.
std::int32_t CountPlain(const std::uint32_t* words, std::int32_t from, std::int32_t to) {
  std::int32_t total = 0;
  for (std::int32_t i = from; i < to; ++i) {
    const std::uint32_t w = words[i];
    if (w == kAll) total += 32;
    else if (w != 0) total += Pop(w);
  }
  return total;
}

#if defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("popcnt"))) std::int32_t CountWithInstruction(const std::uint32_t* words, std::int32_t from,
                                                                    std::int32_t to) {
  std::int32_t total = 0;
  for (std::int32_t i = from; i < to; ++i) total += __builtin_popcount(words[i]);
  return total;
}

std::int32_t CountWords(const std::uint32_t* words, std::int32_t from, std::int32_t to) {
  static const bool instruction = __builtin_cpu_supports("popcnt");
  return instruction ? CountWithInstruction(words, from, to) : CountPlain(words, from, to);
}
#else
std::int32_t CountWords(const std::uint32_t* words, std::int32_t from, std::int32_t to) {
  return CountPlain(words, from, to);
}
#endif

}  // namespace

TRecordsBitmap::~TRecordsBitmap() { SafeFree(words_); }

// Every word of the buffer outside the span [low_, high_) is 0; the span
// lies within the words that carry records.

void TRecordsBitmap::Widen(std::int32_t low, std::int32_t high) {
  if (SpanEmpty()) {
    low_ = low;
    high_ = high;
    return;
  }
  if (low < low_) low_ = low;
  if (high > high_) high_ = high;
}

void TRecordsBitmap::SetSpan(std::int32_t low, std::int32_t high) {
  if (low >= high) low = high = 0;
  low_ = low;
  high_ = high;
}

void TRecordsBitmap::ResizeBitmap(std::int32_t bytes) {
  total_ = -1;
  ResizeBuffer(bytes, kBitmapStep, words_, capacity_);
  if (capacity_ == 0) SetSpan(0, 0);
}

void TRecordsBitmap::SetNumOfBits(std::int32_t n) {
  if (n < 0) n = 0;
  if (n == num_bits_) return;
  total_ = -1;
  std::int32_t old_bits = num_bits_;
  std::int32_t rounded = RoundUp32(n);
  if (rounded > 0) ResizeBitmap(rounded / 8);
  num_bits_ = n;
  rounded_bits_ = rounded;
  word_count_ = rounded / 32;
  if (n < old_bits) {
    // Words that leave the range are cleared, so that growing finds them 0.
    if (high_ > word_count_) {
      const std::int32_t from = low_ > word_count_ ? low_ : word_count_;
      std::memset(words_ + from, 0, static_cast<std::size_t>(high_ - from) * 4);
      SetSpan(low_, word_count_);
    }
  } else if (old_bits % 32 != 0) {
    // Records that come into range start clear, whatever the last word held.
    words_[old_bits / 32] &= (1u << (old_bits % 32)) - 1;
  }
}

std::uint32_t TRecordsBitmap::RecordMask(std::int32_t index) const {
  std::int32_t bits = num_bits_ - index * 32;
  if (bits >= 32) return kAll;
  if (bits <= 0) return 0;
  return (1u << bits) - 1;
}

std::int32_t TRecordsBitmap::GetTotalBitsSet() const {
  if (total_ >= 0) return total_;
  std::int32_t total = CountWords(words_, low_, high_);
  if (high_ == word_count_ && high_ > low_ && num_bits_ % 32 != 0)
    total -= Pop(words_[high_ - 1] & ~RecordMask(high_ - 1));
  total_ = total;
  return total;
}

std::int32_t TRecordsBitmap::GetPreviousTotalBitsSet(std::int32_t n) const {
  if (n <= 1) return 0;
  std::int32_t last = n - 1 < num_bits_ ? n - 1 : num_bits_;  // records 1..last
  std::int32_t full = last / 32;
  std::int32_t total = CountWords(words_, low_, full < high_ ? full : high_);
  if (last % 32 != 0) total += Pop(words_[full] & ((1u << (last % 32)) - 1));
  return total;
}

bool TRecordsBitmap::GetNextBitsSet(std::int32_t& record, std::int32_t count, std::int32_t& position) const {
  if (count < 1) return true;
  if (record < 0) record = 0;
  std::int32_t r = record + 1;
  if (r > num_bits_) return false;
  std::int32_t found = 0;
  std::int32_t index = (r - 1) >> 5;
  std::uint32_t from = kAll << ((r - 1) & 31);
  if (index < low_) {
    index = low_;
    from = kAll;
  }
  for (; index < high_; ++index, from = kAll) {
    std::uint32_t word = words_[index] & from;
    if (word == 0) {
      // Runs of empty words eight at a time.
      while (index + 9 <= high_ && (words_[index + 1] | words_[index + 2] | words_[index + 3] | words_[index + 4] |
                                    words_[index + 5] | words_[index + 6] | words_[index + 7] | words_[index + 8]) == 0)
        index += 8;
      continue;
    }
    word &= RecordMask(index);
    if (word == kAll && found + 32 < count) {  // a full word at once
      found += 32;
      position += 32;
      record = index * 32 + 32;
      continue;
    }
    while (word != 0) {
      int bit = std::countr_zero(word);
      word &= word - 1;
      record = index * 32 + bit + 1;
      ++position;
      if (++found == count) return true;
    }
  }
  return false;
}

bool TRecordsBitmap::GetPreviousBitsSet(std::int32_t& record, std::int32_t count, std::int32_t& position) const {
  if (count < 1) return true;
  if (record <= 1 || num_bits_ == 0) return false;
  std::int32_t r = record - 1 < num_bits_ ? record - 1 : num_bits_;
  std::int32_t found = 0;
  std::int32_t index = (r - 1) >> 5;
  std::uint32_t upto = kAll >> (31 - ((r - 1) & 31));
  if (index >= high_) {
    index = high_ - 1;
    upto = kAll;
  }
  for (; index >= low_; --index, upto = kAll) {
    std::uint32_t word = words_[index] & upto;
    if (word == 0) continue;
    word &= RecordMask(index);
    if (word == kAll && found + 32 < count) {
      found += 32;
      position -= 32;
      record = index * 32 + 1;
      continue;
    }
    while (word != 0) {
      int bit = 31 - std::countl_zero(word);
      word &= ~(1u << bit);
      record = index * 32 + bit + 1;
      --position;
      if (++found == count) return true;
    }
  }
  return false;
}

std::uint32_t TRecordsBitmap::RecordWord(std::int32_t index) const {
  return index + 1 == word_count_ ? words_[index] & RecordMask(index) : words_[index];
}

void TRecordsBitmap::AndBits(const TRecordsBitmap& other) {
  total_ = -1;
  std::int32_t low = low_ > other.low_ ? low_ : other.low_;
  std::int32_t high = high_ < other.high_ ? high_ : other.high_;
  if (low >= high) {
    ClearBits();
    return;
  }
  if (low > low_) std::memset(words_ + low_, 0, static_cast<std::size_t>(low - low_) * 4);
  if (high < high_) std::memset(words_ + high, 0, static_cast<std::size_t>(high_ - high) * 4);
  // The other's last word without its spare bits, the rest word by word.
  const std::int32_t plain = high == other.word_count_ ? high - 1 : high;
  const std::uint32_t* from = other.words_;
  for (std::int32_t i = low; i < plain; ++i) words_[i] &= from[i];
  if (plain < high) words_[plain] &= other.RecordWord(plain);
  SetSpan(low, high);
  // Counted while the words are at hand.
  total_ = CountWords(words_, low, high);
  if (high == word_count_ && num_bits_ % 32 != 0) total_ -= Pop(words_[high - 1] & ~RecordMask(high - 1));
}

void TRecordsBitmap::OrBits(const TRecordsBitmap& other) {
  total_ = -1;
  std::int32_t high = word_count_ < other.high_ ? word_count_ : other.high_;
  if (other.low_ >= high) return;
  const std::int32_t plain = high == other.word_count_ ? high - 1 : high;
  const std::uint32_t* from = other.words_;
  for (std::int32_t i = other.low_; i < plain; ++i) words_[i] |= from[i];
  if (plain < high) words_[plain] |= other.RecordWord(plain);
  Widen(other.low_, high);
}

void TRecordsBitmap::XorBits(const TRecordsBitmap& other) {
  total_ = -1;
  std::int32_t high = word_count_ < other.high_ ? word_count_ : other.high_;
  if (other.low_ >= high) return;
  const std::int32_t plain = high == other.word_count_ ? high - 1 : high;
  const std::uint32_t* from = other.words_;
  for (std::int32_t i = other.low_; i < plain; ++i) words_[i] ^= from[i];
  if (plain < high) words_[plain] ^= other.RecordWord(plain);
  Widen(other.low_, high);
}

void TRecordsBitmap::NotBits() {
  total_ = -1;
  for (std::int32_t i = 0; i < word_count_; ++i) words_[i] = ~words_[i];
  SetSpan(0, word_count_);
}

void TRecordsBitmap::ClearBits() {
  if (!SpanEmpty()) std::memset(words_ + low_, 0, static_cast<std::size_t>(high_ - low_) * 4);
  SetSpan(0, 0);
  total_ = 0;
}

void TRecordsBitmap::SetBits() {
  total_ = -1;
  if (word_count_ > 0) std::memset(words_, 0xFF, static_cast<std::size_t>(word_count_) * 4);
  SetSpan(0, word_count_);
}

void TRecordsBitmap::Assign(const TRecordsBitmap& other) {
  if (&other == this) return;
  if (other.capacity_ > 0) ResizeBitmap(other.capacity_);
  ClearBits();
  num_bits_ = other.num_bits_;
  rounded_bits_ = other.rounded_bits_;
  word_count_ = other.word_count_;
  if (!other.SpanEmpty())
    std::memcpy(words_ + other.low_, other.words_ + other.low_, static_cast<std::size_t>(other.high_ - other.low_) * 4);
  SetSpan(other.low_, other.high_);
  total_ = other.total_;
}

// ---- pool ------------------------------------------------------------------

TRecordsBitmapStack::TRecordsBitmapStack() { spares_.SetCapacity(512); }

TRecordsBitmapStack::~TRecordsBitmapStack() { FreeAllRecordsBitmaps(); }

TRecordsBitmap* TRecordsBitmapStack::GetNewRecordsBitmapInstance() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (spares_.Count() == 0) return new TRecordsBitmap;
  auto* bitmap = static_cast<TRecordsBitmap*>(spares_.Last());
  spares_.Delete(spares_.Count() - 1);
  bitmap->ClearBits();
  return bitmap;
}

void TRecordsBitmapStack::ReturnRecordsBitmapInstance(TRecordsBitmap*& bitmap) {
  if (!bitmap) return;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  spares_.Add(bitmap);
  bitmap = nullptr;
}

void TRecordsBitmapStack::FreeAllRecordsBitmaps() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  for (std::int32_t i = spares_.Count() - 1; i >= 0; --i) delete static_cast<TRecordsBitmap*>(spares_.Get(i));
  spares_.SetCount(0);
}

std::int32_t TRecordsBitmapStack::SpareCount() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return spares_.Count();
}

TRecordsBitmap* GetNewRecordsBitmapInstance() { return RecordsBitmapStack().GetNewRecordsBitmapInstance(); }
void ReturnRecordsBitmapInstance(TRecordsBitmap*& bitmap) {
  if (bitmap) RecordsBitmapStack().ReturnRecordsBitmapInstance(bitmap);
}
void FreeAllRecordsBitmaps() { RecordsBitmapStack().FreeAllRecordsBitmaps(); }
void LockRecordsBitmapStack() { RecordsBitmapStack().Lock(); }
void UnlockRecordsBitmapStack() { RecordsBitmapStack().Unlock(); }

}  // namespace korvex
