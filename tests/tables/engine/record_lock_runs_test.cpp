// The runs of record bytes a transaction holds, against a model of the
// byte-range locks: every record added is locked and covered, no byte of
// another holder is ever taken, the runs stay few, and a release leaves
// exactly the records asked for locked.
#include "tables/engine/table/record_lock_runs.h"

#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <random>
#include <set>

namespace korvex::testing {
namespace {

// Ranges of one holder, as the file layer keeps them: a lock overlapping a
// held range or another holder's byte fails, an unlock names a held range
// exactly, a partial unlock lies inside one.
struct Locks {
  std::map<std::uint32_t, std::uint32_t> mine;
  std::set<std::uint32_t> others;
  int calls = 0;

  std::map<std::uint32_t, std::uint32_t>::iterator Holding(std::uint32_t n) {
    auto after = mine.upper_bound(n);
    return after != mine.begin() && std::prev(after)->second >= n ? std::prev(after) : mine.end();
  }
  bool Lock(std::uint32_t first, std::uint32_t last) {
    ++calls;
    auto other = others.lower_bound(first);
    if (other != others.end() && *other <= last) return false;
    auto after = mine.upper_bound(last);
    if (after != mine.begin() && std::prev(after)->second >= first) return false;
    mine.emplace(first, last);
    return true;
  }
  bool Unlock(std::uint32_t first, std::uint32_t last) {
    auto it = mine.find(first);
    if (it == mine.end() || it->second != last) return false;
    mine.erase(it);
    return true;
  }
  bool UnlockPart(std::uint32_t first, std::uint32_t last) {
    auto it = Holding(first);
    if (it == mine.end() || it->second < last) return false;
    const auto [from, to] = *it;
    mine.erase(it);
    if (from < first) mine.emplace(from, first - 1);
    if (last < to) mine.emplace(last + 1, to);
    return true;
  }
  bool Held(std::uint32_t n) { return Holding(n) != mine.end(); }
};

TEST(RecordLockRuns, ScatteredLocksStayFewRangesAndReleaseKeepsWhatIsAskedFor) {
  for (std::uint32_t seed : {1u, 2u, 3u, 4u}) {
    Locks locks;
    std::mt19937 rng(seed);
    const std::uint32_t space = seed % 2 ? 3000 : 100000;
    // Seeds 3 and 4 put bytes of another holder among the records.
    if (seed > 2)
      for (int i = 0; i < 200; ++i) locks.others.insert(1 + rng() % space);
    TRecordLockRuns runs([&](std::uint32_t f, std::uint32_t l) { return locks.Lock(f, l); },
                         [&](std::uint32_t f, std::uint32_t l) { return locks.Unlock(f, l); },
                         [&](std::uint32_t f, std::uint32_t l) { return locks.UnlockPart(f, l); });
    std::set<std::uint32_t> added;
    for (int i = 0; i < 2000; ++i) {
      const std::uint32_t n = 1 + rng() % space;
      const bool other = locks.others.count(n) > 0;
      ASSERT_EQ(runs.Add(n), !other) << seed << " " << n;
      if (!other) added.insert(n);
      // Asked between changes of the runs, in and out of order, Covers
      // answers as the held bytes do (a run it found last may have been
      // joined into another or cut since).
      for (const std::uint32_t m : {n, n + 1, n > 1 ? n - 1 : n, static_cast<std::uint32_t>(1 + rng() % space)})
        ASSERT_EQ(runs.Covers(m), locks.Held(m)) << seed << " " << m;
      if (seed <= 2) {
        ASSERT_LE(runs.RunCount(), TRecordLockRuns::kMaxRuns) << seed;
      }
    }
    for (std::uint32_t n : added) ASSERT_TRUE(runs.Covers(n) && locks.Held(n)) << seed << " " << n;
    for (std::uint32_t n : locks.others) ASSERT_FALSE(runs.Covers(n) || locks.Held(n)) << seed << " " << n;
    for (std::uint32_t n = 1; n <= space; ++n) ASSERT_EQ(runs.Covers(n), locks.Held(n)) << seed << " " << n;
    // Lock calls per record stay bounded whatever the count.
    EXPECT_LE(locks.calls, 5 * 2000) << seed;

    std::set<std::uint32_t> keep;
    for (std::uint32_t n : added)
      if (rng() % 7 == 0) keep.insert(n);
    ASSERT_TRUE(runs.Release(std::vector<std::uint32_t>(keep.begin(), keep.end())));
    for (std::uint32_t n : added) ASSERT_FALSE(runs.Covers(n)) << seed << " " << n;
    for (std::uint32_t n = 1; n <= space; ++n) ASSERT_EQ(locks.Held(n), keep.count(n) > 0) << seed << " " << n;
    // Neighbours kept together still part later, one byte at a time.
    for (std::uint32_t n : keep) ASSERT_TRUE(locks.UnlockPart(n, n)) << n;
    EXPECT_TRUE(locks.mine.empty());
    EXPECT_TRUE(runs.Empty());
  }
}

// Records deleted in random order over a large table: a record that opens
// a run too many joins its nearer neighbour in the same lock call, so the
// system sees about one call per record not yet covered (two before: the
// record, then the join).
TEST(RecordLockRuns, ScatteredRecordsCostAboutOneLockCallEach) {
  Locks locks;
  TRecordLockRuns runs([&](std::uint32_t f, std::uint32_t l) { return locks.Lock(f, l); },
                       [&](std::uint32_t f, std::uint32_t l) { return locks.Unlock(f, l); },
                       [&](std::uint32_t f, std::uint32_t l) { return locks.UnlockPart(f, l); });
  std::mt19937 rng(47);
  int uncovered = 0;
  for (int i = 0; i < 10000; ++i) {
    const std::uint32_t n = 1 + rng() % 100000;
    if (!runs.Covers(n)) ++uncovered;
    ASSERT_TRUE(runs.Add(n));
    ASSERT_TRUE(runs.Covers(n) && locks.Held(n)) << n;
    ASSERT_LE(runs.RunCount(), TRecordLockRuns::kMaxRuns);
  }
  EXPECT_LE(locks.calls, uncovered + uncovered / 4);
  runs.ForEachRun([&](std::uint32_t first, std::uint32_t last) {
    for (std::uint32_t m = first; m <= last; ++m) ASSERT_TRUE(locks.Held(m)) << m;
  });
  ASSERT_TRUE(runs.Release({}));
  EXPECT_TRUE(locks.mine.empty());
}

}  // namespace
}  // namespace korvex::testing
