#include "tables/lib/records_bitmap.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "tests/tables/lib/lib_test_support.h"

namespace korvex {
namespace {

using testing::CountedTest;

class RecordsBitmap : public CountedTest {};

// The reference: record n is model[n - 1].
struct Model {
  std::vector<bool> bits;

  int Total() const { return static_cast<int>(std::count(bits.begin(), bits.end(), true)); }
  int Before(int n) const {
    int total = 0;
    for (int r = 1; r < n && r <= static_cast<int>(bits.size()); ++r) total += bits[r - 1];
    return total;
  }
  // The record `count` set bits after `record`, or 0.
  int Next(int record, int count) const {
    for (int r = record + 1; r <= static_cast<int>(bits.size()); ++r)
      if (bits[r - 1] && --count == 0) return r;
    return 0;
  }
  int Previous(int record, int count) const {
    for (int r = std::min(record - 1, static_cast<int>(bits.size())); r >= 1; --r)
      if (bits[r - 1] && --count == 0) return r;
    return 0;
  }
};

// Every set bit also lies in the span of words the bitmap walks.
void ExpectSame(const TRecordsBitmap& bitmap, const Model& model) {
  ASSERT_EQ(bitmap.NumOfBits(), static_cast<int>(model.bits.size()));
  for (int r = 1; r <= bitmap.NumOfBits(); ++r) {
    ASSERT_EQ(bitmap.IsBitSet(r), model.bits[r - 1]) << r;
    if (model.bits[r - 1]) {
      ASSERT_TRUE((r - 1) / 32 >= bitmap.LowWord() && (r - 1) / 32 < bitmap.HighWord()) << r;
    }
  }
  ASSERT_LE(bitmap.HighWord(), bitmap.WordCount());
  ASSERT_EQ(bitmap.GetTotalBitsSet(), model.Total());
}

void FillRandom(TRecordsBitmap& bitmap, Model& model, std::mt19937& random, int n, int density) {
  bitmap.SetNumOfBits(n);
  bitmap.ClearBits();
  model.bits.assign(n, false);
  int mode = random() % 4;  // sparse, dense, full runs, or one narrow cluster
  const int centre = 1 + static_cast<int>(random() % n), width = 1 + static_cast<int>(random() % 100);
  for (int r = 1; r <= n; ++r) {
    bool set = mode == 3   ? std::abs(r - centre) < width && random() % 4 == 0
               : mode == 2 ? (r / 40) % 2 == 0
                           : static_cast<int>(random() % 100) < (mode ? 100 - density : density);
    if (set) {
      bitmap.SetBit(r);
      model.bits[r - 1] = true;
    }
  }
}

TEST_F(RecordsBitmap, AgreesWithVectorBoolUnderRandomOperations) {
  std::mt19937 random(17);
  // Sizes up to a few thousand records, so that narrow sets span few of
  // many words; `copy` is reused, so assigning over older contents counts.
  TRecordsBitmap bitmap, other, copy;
  Model model, other_model;
  for (int round = 0; round < 300; ++round) {
    auto size = [&] { return 1 + static_cast<int>(random() % (round % 2 ? 300 : 3000)); };
    int n = size();
    FillRandom(bitmap, model, random, n, 10 + random() % 80);
    ExpectSame(bitmap, model);
    for (int step = 0; step < 20; ++step) {
      int r = 1 + random() % n;
      switch (random() % 11) {
        case 0: bitmap.SetBit(r); model.bits[r - 1] = true; break;
        case 1: bitmap.ClearBit(r); model.bits[r - 1] = false; break;
        case 2: {
          FillRandom(other, other_model, random, size(), 50);
          int op = random() % 3;
          for (int i = 0; i < n; ++i) {
            bool o = i < static_cast<int>(other_model.bits.size()) && other_model.bits[i];
            model.bits[i] = op == 0 ? model.bits[i] && o : op == 1 ? model.bits[i] || o : model.bits[i] != o;
          }
          if (op == 0) bitmap.AndBits(other);
          else if (op == 1) bitmap.OrBits(other);
          else bitmap.XorBits(other);
          break;
        }
        case 3:
          bitmap.NotBits();
          model.bits.flip();
          break;
        case 4: {  // resize: kept bits stay, new ones start clear
          int m = size();
          bitmap.SetNumOfBits(m);
          model.bits.resize(m, false);
          n = m;
          break;
        }
        case 5: {
          int count = 1 + random() % 70, record = static_cast<int>(random() % (n + 1)), position = 1000;
          int expected = model.Next(record, count);
          int start = record;
          bool found = bitmap.GetNextBitsSet(record, count, position);
          ASSERT_EQ(found, expected != 0);
          if (found) {
            ASSERT_EQ(record, expected);
            ASSERT_EQ(position, 1000 + count);
          } else {
            ASSERT_EQ(position - 1000, model.Total() - model.Before(start + 1));
          }
          break;
        }
        case 6: {
          int count = 1 + random() % 70, record = 1 + static_cast<int>(random() % (n + 1)), position = 1000;
          int expected = model.Previous(record, count);
          bool found = bitmap.GetPreviousBitsSet(record, count, position);
          ASSERT_EQ(found, expected != 0);
          if (found) {
            ASSERT_EQ(record, expected);
            ASSERT_EQ(position, 1000 - count);
          }
          break;
        }
        case 7:
          ASSERT_EQ(bitmap.GetPreviousTotalBitsSet(r), model.Before(r));
          break;
        case 8:
          copy.Assign(bitmap);
          ExpectSame(copy, model);
          break;
        case 9:
          bitmap.ClearBits();
          model.bits.assign(n, false);
          break;
        case 10:
          bitmap.SetBits();
          model.bits.assign(n, true);
          break;
      }
      ExpectSame(bitmap, model);
    }
  }
}

TEST_F(RecordsBitmap, FortyBitsAreTwoWordsAndSpareBitsNeverCount) {
  TRecordsBitmap bitmap;
  bitmap.SetNumOfBits(40);
  EXPECT_EQ(bitmap.WordCount(), 2);
  bitmap.SetBits();
  EXPECT_EQ(bitmap.GetTotalBitsSet(), 40);
  bitmap.NotBits();
  EXPECT_EQ(bitmap.GetTotalBitsSet(), 0);
  bitmap.NotBits();  // the spare bits 41..64 are set now
  std::int32_t record = 40, position = 0;
  EXPECT_FALSE(bitmap.GetNextBitsSet(record, 1, position));
  EXPECT_EQ(record, 40);
}

TEST_F(RecordsBitmap, GrowingClearsStaleBits) {
  TRecordsBitmap bitmap;
  bitmap.SetNumOfBits(40);
  bitmap.SetBits();
  bitmap.SetNumOfBits(10);
  bitmap.SetNumOfBits(3000);  // bits 11.. were set before, and the buffer was full of ones
  EXPECT_EQ(bitmap.GetTotalBitsSet(), 10);
  EXPECT_FALSE(bitmap.IsBitSet(11));
  EXPECT_FALSE(bitmap.IsBitSet(2999));
}

TEST_F(RecordsBitmap, CombiningWithASmallerBitmapTreatsMissingWordsAsZero) {
  TRecordsBitmap big, small;
  big.SetNumOfBits(200);
  big.SetBits();
  small.SetNumOfBits(20);
  small.SetBits();
  TRecordsBitmap copy;
  copy.Assign(big);
  copy.AndBits(small);
  EXPECT_EQ(copy.GetTotalBitsSet(), 20);  // the small one's spare bits 21..32 count as 0 too
  copy.Assign(big);
  copy.XorBits(small);
  EXPECT_EQ(copy.GetTotalBitsSet(), 180);
  copy.Assign(big);
  copy.ClearBits();
  copy.OrBits(small);
  EXPECT_EQ(copy.GetTotalBitsSet(), 20);
}

TEST_F(RecordsBitmap, WalkingFullWords) {
  TRecordsBitmap bitmap;
  bitmap.SetNumOfBits(64);
  bitmap.SetBits();
  std::int32_t record = 0, position = 0;
  EXPECT_TRUE(bitmap.GetNextBitsSet(record, 32, position));
  EXPECT_EQ(record, 32);
  EXPECT_EQ(position, 32);
  record = 0;
  position = 0;
  EXPECT_TRUE(bitmap.GetNextBitsSet(record, 64, position));
  EXPECT_EQ(record, 64);
  EXPECT_FALSE(bitmap.GetNextBitsSet(record, 1, position));
  EXPECT_EQ(record, 64);
  EXPECT_TRUE(bitmap.GetPreviousBitsSet(record, 63, position));
  EXPECT_EQ(record, 1);
  EXPECT_EQ(position, 1);
  EXPECT_FALSE(bitmap.GetPreviousBitsSet(record, 1, position));
  EXPECT_EQ(bitmap.GetPreviousTotalBitsSet(1), 0);
  EXPECT_EQ(bitmap.GetPreviousTotalBitsSet(64), 63);
  EXPECT_EQ(bitmap.GetPreviousTotalBitsSet(1000), 64);
}

TEST_F(RecordsBitmap, PoolHandsOutEmptyBitmapsAndKeepsSpares) {
  TRecordsBitmap* bitmap = GetNewRecordsBitmapInstance();
  bitmap->SetNumOfBits(100);
  bitmap->SetBits();
  TRecordsBitmap* kept = bitmap;
  ReturnRecordsBitmapInstance(bitmap);
  EXPECT_EQ(bitmap, nullptr);
  TRecordsBitmap* again = GetNewRecordsBitmapInstance();
  EXPECT_EQ(again, kept);
  EXPECT_EQ(again->GetTotalBitsSet(), 0);
  ReturnRecordsBitmapInstance(again);
  TRecordsBitmap* none = nullptr;
  ReturnRecordsBitmapInstance(none);
  LockRecordsBitmapStack();
  UnlockRecordsBitmapStack();
  FreeAllRecordsBitmaps();  // the spares go back to the allocator
}

}  // namespace
}  // namespace korvex
