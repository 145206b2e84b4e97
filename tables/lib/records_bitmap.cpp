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

}  // namespace

TRecordsBitmap::~TRecordsBitmap() { SafeFree(words_); }

void TRecordsBitmap::ResizeBitmap(std::int32_t bytes) { ResizeBuffer(bytes, kBitmapStep, words_, capacity_); }

void TRecordsBitmap::SetNumOfBits(std::int32_t n) {
  if (n < 0) n = 0;
  if (n == num_bits_) return;
  std::int32_t old_bits = num_bits_;
  std::int32_t rounded = RoundUp32(n);
  if (rounded > 0) ResizeBitmap(rounded / 8);
  num_bits_ = n;
  rounded_bits_ = rounded;
  word_count_ = rounded / 32;
  // Records that come into range start clear, whatever the words held.
  if (n > old_bits) {
    if (old_bits % 32 != 0) words_[old_bits / 32] &= (1u << (old_bits % 32)) - 1;
    for (std::int32_t w = (old_bits + 31) / 32; w < word_count_; ++w) words_[w] = 0;
  }
}

bool TRecordsBitmap::IsBitSet(std::int32_t n) const {
  return (words_[(n - 1) >> 5] >> ((n - 1) & 31)) & 1u;
}

void TRecordsBitmap::SetBit(std::int32_t n) { words_[(n - 1) >> 5] |= 1u << ((n - 1) & 31); }

void TRecordsBitmap::ClearBit(std::int32_t n) { words_[(n - 1) >> 5] &= ~(1u << ((n - 1) & 31)); }

std::uint32_t TRecordsBitmap::RecordMask(std::int32_t index) const {
  std::int32_t bits = num_bits_ - index * 32;
  if (bits >= 32) return kAll;
  if (bits <= 0) return 0;
  return (1u << bits) - 1;
}

std::int32_t TRecordsBitmap::GetTotalBitsSet() const {
  std::int32_t total = 0;
  for (std::int32_t i = 0; i < word_count_; ++i) {
    std::uint32_t word = words_[i] & RecordMask(i);
    if (word == kAll) total += 32;
    else if (word != 0) total += std::popcount(word);
  }
  return total;
}

std::int32_t TRecordsBitmap::GetPreviousTotalBitsSet(std::int32_t n) const {
  if (n <= 1) return 0;
  std::int32_t last = n - 1 < num_bits_ ? n - 1 : num_bits_;  // records 1..last
  std::int32_t total = 0;
  std::int32_t full = last / 32;
  for (std::int32_t i = 0; i < full; ++i) total += std::popcount(words_[i]);
  if (last % 32 != 0) total += std::popcount(words_[full] & ((1u << (last % 32)) - 1));
  return total;
}

bool TRecordsBitmap::GetNextBitsSet(std::int32_t& record, std::int32_t count, std::int32_t& position) const {
  if (count < 1) return true;
  if (record < 0) record = 0;
  std::int32_t r = record + 1;
  if (r > num_bits_) return false;
  std::int32_t found = 0;
  for (std::int32_t index = (r - 1) >> 5; index < word_count_; ++index) {
    std::int32_t first_bit = index == (r - 1) >> 5 ? (r - 1) & 31 : 0;
    std::uint32_t word = words_[index] & RecordMask(index) & (kAll << first_bit);
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
  for (std::int32_t index = (r - 1) >> 5; index >= 0; --index) {
    std::int32_t last_bit = index == (r - 1) >> 5 ? (r - 1) & 31 : 31;
    std::uint32_t word = words_[index] & RecordMask(index) & (kAll >> (31 - last_bit));
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

void TRecordsBitmap::AndBits(const TRecordsBitmap& other) {
  for (std::int32_t i = 0; i < word_count_; ++i)
    words_[i] &= i < other.word_count_ ? other.words_[i] & other.RecordMask(i) : 0;
}

void TRecordsBitmap::OrBits(const TRecordsBitmap& other) {
  std::int32_t n = word_count_ < other.word_count_ ? word_count_ : other.word_count_;
  for (std::int32_t i = 0; i < n; ++i) words_[i] |= other.words_[i] & other.RecordMask(i);
}

void TRecordsBitmap::XorBits(const TRecordsBitmap& other) {
  std::int32_t n = word_count_ < other.word_count_ ? word_count_ : other.word_count_;
  for (std::int32_t i = 0; i < n; ++i) words_[i] ^= other.words_[i] & other.RecordMask(i);
}

void TRecordsBitmap::NotBits() {
  for (std::int32_t i = 0; i < word_count_; ++i) words_[i] = ~words_[i];
}

void TRecordsBitmap::ClearBits() {
  if (capacity_ > 0) std::memset(words_, 0, static_cast<std::size_t>(capacity_));
}

void TRecordsBitmap::SetBits() {
  if (capacity_ > 0) std::memset(words_, 0xFF, static_cast<std::size_t>(capacity_));
}

void TRecordsBitmap::Assign(const TRecordsBitmap& other) {
  if (other.capacity_ > 0) ResizeBitmap(other.capacity_);
  num_bits_ = other.num_bits_;
  rounded_bits_ = other.rounded_bits_;
  word_count_ = other.word_count_;
  if (other.capacity_ > 0) std::memcpy(words_, other.words_, static_cast<std::size_t>(other.capacity_));
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
