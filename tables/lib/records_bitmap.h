// TRecordsBitmap: a set of record numbers as a bit array, record n being
// bit (n-1) % 32 of the 32-bit word (n-1) / 32, least significant bit
// first. The engine builds one per filter and per optimised index range,
// combines them, counts them and walks them to move a filtered cursor.
//
// Bits beyond the number of bits (spare bits) carry no records: whole-word
// operations may set them, counting and walking never count them, and
// growing the set clears them. Combining with a smaller bitmap treats its
// missing words as 0. Bitmaps are recycled through one pool
// (TRecordsBitmapStack).
//
// Each bitmap knows the span of words that may hold set bits (every word
// outside it is 0), so that the few records of a narrow filter are
// cleared, combined, counted and walked without passing over the whole
// table's words. The count of set bits is kept once taken and followed
// through single bits set and cleared and through ANDs.
#pragma once

#include <cstdint>
#include <mutex>

#include "tables/lib/system_list.h"

namespace korvex {

class TRecordsBitmap : public TCountedObject {
public:
  TRecordsBitmap() = default;
  ~TRecordsBitmap() override;
  TRecordsBitmap(const TRecordsBitmap&) = delete;
  TRecordsBitmap& operator=(const TRecordsBitmap&) = delete;

  // Sizes the buffer (in 1,024-byte steps, never shrinking).
  void ResizeBitmap(std::int32_t bytes);
  // Records 1..n; bits kept, bits that come into range are clear.
  void SetNumOfBits(std::int32_t n);
  std::int32_t NumOfBits() const { return num_bits_; }
  std::int32_t WordCount() const { return word_count_; }
  // The words that may hold set bits: [LowWord(), HighWord()), empty when
  // LowWord() >= HighWord().
  std::int32_t LowWord() const { return low_; }
  std::int32_t HighWord() const { return high_; }

  // n must lie in 1..NumOfBits() (not checked).
  bool IsBitSet(std::int32_t n) const { return (words_[(n - 1) >> 5] >> ((n - 1) & 31)) & 1u; }
  void SetBit(std::int32_t n) {
    const std::int32_t w = (n - 1) >> 5;
    const std::uint32_t bit = 1u << ((n - 1) & 31);
    if (total_ >= 0 && (words_[w] & bit) == 0) ++total_;
    words_[w] |= bit;
    if (w < low_ || w >= high_) Widen(w, w + 1);
  }
  void ClearBit(std::int32_t n) {
    std::uint32_t& word = words_[(n - 1) >> 5];
    const std::uint32_t bit = 1u << ((n - 1) & 31);
    if (total_ >= 0 && (word & bit) != 0) --total_;
    word &= ~bit;
  }

  std::int32_t GetTotalBitsSet() const;
  // Set bits among records 1..n-1.
  std::int32_t GetPreviousTotalBitsSet(std::int32_t n) const;
  // Moves forward from record + 1 over `count` set bits: true with record at
  // the count-th and position grown by count; false when there are fewer
  // (record and position then name the last set bit passed). A count below
  // 1 answers true and moves nothing.
  bool GetNextBitsSet(std::int32_t& record, std::int32_t count, std::int32_t& position) const;
  // The same backward from record - 1, position lowered.
  bool GetPreviousBitsSet(std::int32_t& record, std::int32_t count, std::int32_t& position) const;

  void AndBits(const TRecordsBitmap& other);
  void OrBits(const TRecordsBitmap& other);
  void XorBits(const TRecordsBitmap& other);
  void NotBits();
  // Fill the whole buffer with 0 or 1 bits.
  void ClearBits();
  void SetBits();
  void Assign(const TRecordsBitmap& other);

private:
  std::uint32_t Word(std::int32_t index) const { return words_[index]; }
  // Mask of the bits of word `index` that carry records.
  std::uint32_t RecordMask(std::int32_t index) const;
  // Word `index` without its spare bits.
  std::uint32_t RecordWord(std::int32_t index) const;
  // The span grown to take in words [low, high).
  void Widen(std::int32_t low, std::int32_t high);
  void SetSpan(std::int32_t low, std::int32_t high);
  bool SpanEmpty() const { return low_ >= high_; }

  std::uint32_t* words_ = nullptr;
  std::int32_t capacity_ = 0;  // bytes
  std::int32_t num_bits_ = 0;
  std::int32_t rounded_bits_ = 0;
  std::int32_t word_count_ = 0;
  std::int32_t low_ = 0, high_ = 0;  // the span of words that may be non-zero
  mutable std::int32_t total_ = 0;   // set bits; -1: not known
};

// The pool of spare bitmaps.
class TRecordsBitmapStack : public TCountedObject {
public:
  TRecordsBitmapStack();
  ~TRecordsBitmapStack() override;
  // A spare cleared with ClearBits, or a new bitmap.
  TRecordsBitmap* GetNewRecordsBitmapInstance();
  // Keeps the bitmap as a spare and clears the variable; nothing for nullptr.
  void ReturnRecordsBitmapInstance(TRecordsBitmap*& bitmap);
  void FreeAllRecordsBitmaps();
  void Lock() { lock_.lock(); }
  void Unlock() { lock_.unlock(); }
  std::int32_t SpareCount();

private:
  std::recursive_mutex lock_;
  TSystemList spares_;
};

// The same on the global pool (InitializeSupportFunctions must have run).
TRecordsBitmap* GetNewRecordsBitmapInstance();
void ReturnRecordsBitmapInstance(TRecordsBitmap*& bitmap);
void FreeAllRecordsBitmaps();
void LockRecordsBitmapStack();
void UnlockRecordsBitmapStack();

}  // namespace korvex
