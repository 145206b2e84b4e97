// Long work that turns the event loop: paced sorts agree with the standard
// library's, every long step (sort commands, arranging, the final sort of
// the search) stops when the progress callback answers false and then
// loses nothing, and on large pages the callback comes often and a Cancel
// ends the work quickly.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <random>

#include "app/core/arrange.h"
#include "app/core/pacer.h"
#include "app/core/sort_commands.h"
#include "core_test_support.h"
#include "platform/runtime/dates.h"
#include "support/sanitizer.h"

namespace appcore {
namespace {

using Lines = std::vector<std::string>;

// Progress that answers false at its n-th call (never when n is 0).
struct CancelAt {
  int n, calls = 0;
  bool operator()() { return n == 0 || ++calls < n; }
};

// Record lines in groups of three, each group followed by an empty line.
Lines MarriageLines(size_t count, unsigned seed) {
  static const char* const kNames[] = {"John Smith", "Will Smyth", "Jan van Dyck", "Thomas Cole Jr", "Hans Baker"};
  std::mt19937 rng(seed);
  Lines lines;
  for (size_t i = 0; i < count; ++i) {
    if (i % 3 == 0 && i > 0) lines.emplace_back();
    lines.push_back(std::to_string(1600 + rng() % 150) + " " + std::to_string(1 + rng() % 28) + " Mar " +
                    kNames[rng() % 5] + ", of Lewes; Mary " + kNames[rng() % 5] + ", spinster; W [" +
                    std::to_string(1 + rng() % 3) + "]");
  }
  return lines;
}

TEST(PacedSort, AgreesWithTheStandardStableSort) {
  std::mt19937 rng(7);
  for (size_t n : {0u, 1u, 2u, 17u, 1000u, 50000u}) {
    std::vector<int> keys(n);
    for (int& k : keys) k = static_cast<int>(rng() % (n / 4 + 1));  // many ties
    std::vector<uint32_t> order = Identity(n), expected = Identity(n);
    auto less = [&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; };
    std::stable_sort(expected.begin(), expected.end(), less);
    appcore_test::SteppingClock clock(10);
    rtl::ClockScope scope(clock);
    Pacer pacer(CancelAt{0});
    ASSERT_TRUE(PacedStableSort(order, less, pacer)) << n;
    EXPECT_EQ(order, expected) << n;
  }
}

TEST(PacedSort, EveryLongStepStopsWhenCancelledAndLosesNothing) {
  const Lines page = MarriageLines(20000, 3);
  appcore_test::SteppingClock clock(10);
  rtl::ClockScope scope(clock);
  for (int at : {1, 2, 5, 40}) {
    {
      Pacer pacer(CancelAt{at});
      const SortedPage sorted = SortPageByName("x_marr.txt", page, SortSide::kAll, &pacer);
      EXPECT_TRUE(pacer.Cancelled()) << at;
    }
    {
      Pacer pacer(CancelAt{at});
      EXPECT_EQ(SortGroupsByDate(page, nullptr, &pacer), page) << at;  // unchanged
      EXPECT_TRUE(pacer.Cancelled()) << at;
    }
    {
      Lines lines = page;
      Pacer pacer(CancelAt{at});
      EXPECT_FALSE(SortByDate(lines, nullptr, &pacer)) << at;
      EXPECT_EQ(lines, page) << at;
    }
    {
      ArrangeCallbacks callbacks;
      CancelAt cancel{at};
      callbacks.progress = [&](int64_t) { return cancel(); };
      const ArrangeOutcome arranged = Arrange(page, 8, callbacks);
      EXPECT_TRUE(arranged.cancelled) << at;
      EXPECT_TRUE(arranged.lines.empty()) << at;
    }
  }
  // Not cancelled, the paced sort gives what the unpaced one gives.
  Pacer never(CancelAt{0});
  EXPECT_EQ(SortPageByName("x_marr.txt", page, SortSide::kWife, &never).lines,
            SortPageByName("x_marr.txt", page, SortSide::kWife).lines);
}

TEST(PacedSort, LargePagesAnswerOftenAndCancelQuickly) {
  if (qvtest::kSanitizerBuild)
    GTEST_SKIP() << "the sanitizers make every step several times slower: the time bounds hold for the plain build only";
  const Lines page = MarriageLines(600000, 11);
  // User time of this thread: what the work spends between two calls, not
  // what a loaded machine adds by running other things meanwhile, nor what
  // the kernel spends on the page faults of fresh memory (on a virtual
  // machine whose memory is lent back to its host, several times a bare
  // machine's).
  struct Clock {
    using duration = std::chrono::microseconds;
    using time_point = std::chrono::time_point<Clock, duration>;
    static time_point now() {
      rusage usage{};
      getrusage(RUSAGE_THREAD, &usage);
      return time_point(duration(int64_t{usage.ru_utime.tv_sec} * 1'000'000 + usage.ru_utime.tv_usec));
    }
  };
  int cancelled_steps = 0;
  for (int step = 0; step < 3; ++step) {
    Clock::time_point last = Clock::now(), cancelled_at{};
    Clock::duration longest{};
    int calls = 0;
    // About 180 ms into the work; the sort's work is shared with a crew's
    // threads, so its calling thread (whose time this clock reads) spends
    // about an eighth of it: its Cancel comes at the third call.
    const int cancel_call = step == 0 ? 3 : 12;
    auto progress = [&] {
      const Clock::time_point now = Clock::now();
      longest = std::max(longest, now - last);
      last = now;
      if (++calls < cancel_call) return true;
      cancelled_at = now;
      return false;
    };
    Pacer pacer(progress);
    if (step == 0) SortPageByName("x_marr.txt", page, SortSide::kHusband, &pacer);
    if (step == 1) SortGroupsByDate(page, nullptr, &pacer);
    if (step == 2) {
      ArrangeCallbacks callbacks;
      callbacks.progress = [&](int64_t) { return progress(); };
      Arrange(page, 8, callbacks);
    }
    if (calls < cancel_call) continue;  // finished before the Cancel (a fast machine)
    ++cancelled_steps;
    const auto to_end = Clock::now() - cancelled_at;
    EXPECT_LT(longest, std::chrono::milliseconds(100)) << "step " << step;
    EXPECT_LT(to_end, std::chrono::milliseconds(200)) << "step " << step;
  }
  EXPECT_GT(cancelled_steps, 0);
}

}  // namespace
}  // namespace appcore
