// The threads a search hands its work to: every task of a round runs once,
// on no more threads than asked, the calling thread answering while it
// waits; failures come back to the caller once the round has ended; rounds
// may run side by side and inside one another, and the helpers are started
// once for every round of a crew.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "app/core/work_crew.h"
#include "platform/runtime/os_process.h"

namespace appcore {
namespace {

// One round, watched: how often each task ran, on which threads, and at
// most how many at once.
struct Watched {
  std::vector<std::atomic<int>> runs;
  std::atomic<int> running{0}, most{0};
  std::mutex mutex;
  std::set<std::thread::id> threads, on_caller_threads;

  explicit Watched(size_t count) : runs(count) {}
  void Run(WorkCrew& crew, size_t threads_asked) {
    crew.Run(threads_asked, runs.size(), [&](size_t task, bool on_caller) {
      const int now = ++running;
      for (int m = most.load(); now > m && !most.compare_exchange_weak(m, now);) {
      }
      ++runs[task];
      {
        std::lock_guard<std::mutex> lock(mutex);
        threads.insert(std::this_thread::get_id());
        if (on_caller) on_caller_threads.insert(std::this_thread::get_id());
      }
      if (task % 7 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
      --running;
    });
  }
};

TEST(WorkCrew, EveryTaskRunsOnceOnNoMoreThreadsThanAsked) {
  WorkCrew crew;
  std::mt19937 random(46);
  size_t most_asked = 0;
  for (int round = 0; round < 300; ++round) {
    const size_t threads = 1 + random() % 6, count = random() % 40;
    most_asked = std::max(most_asked, count > 0 ? std::min(threads, count) : 0);
    SCOPED_TRACE("round " + std::to_string(round) + ": " + std::to_string(count) + " tasks on " +
                 std::to_string(threads) + " threads");
    Watched watched(count);
    watched.Run(crew, threads);
    for (size_t t = 0; t < count; ++t) ASSERT_EQ(watched.runs[t].load(), 1) << "task " << t;
    EXPECT_LE(static_cast<size_t>(watched.most.load()), threads);
    EXPECT_LE(watched.threads.size(), threads);
    // on_caller is told to the calling thread alone.
    EXPECT_TRUE(watched.on_caller_threads.empty() ||
                watched.on_caller_threads == std::set<std::thread::id>{std::this_thread::get_id()});
    if (threads == 1 && count > 0) {
      EXPECT_EQ(watched.threads, std::set<std::thread::id>{std::this_thread::get_id()});
    }
  }
  // Started once: the helpers of the largest round serve every other one.
  EXPECT_EQ(crew.Size() + 1, most_asked);
}

TEST(WorkCrew, RoundsSideBySideAndInsideATaskAllEnd) {
  WorkCrew crew;
  std::vector<std::thread> callers;
  std::atomic<int> inner_runs{0}, failures{0};
  for (int c = 0; c < 4; ++c)
    callers.emplace_back([&] {
      for (int round = 0; round < 50; ++round) {
        Watched watched(9);
        crew.Run(3, 9, [&](size_t task, bool) {
          ++watched.runs[task];
          // A task that hands out work of its own on the same crew.
          if (task == 4) crew.Run(3, 5, [&](size_t, bool) { ++inner_runs; });
        });
        for (auto& runs : watched.runs)
          if (runs != 1) ++failures;
      }
    });
  for (std::thread& caller : callers) caller.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(inner_runs, 4 * 50 * 5);
}

TEST(WorkCrew, AFailureComesBackOnceEveryTaskHasEnded) {
  WorkCrew crew;
  for (const size_t threads : {1, 4}) {
    std::atomic<int> ran{0};
    try {
      crew.Run(threads, 20, [&](size_t task, bool) {
        if (task == 3 || task == 11) throw std::runtime_error("task " + std::to_string(task));
        std::this_thread::sleep_for(std::chrono::microseconds(100));
        ++ran;
      });
      ADD_FAILURE() << "nothing thrown";
    } catch (const std::runtime_error& e) {
      EXPECT_TRUE(std::string(e.what()) == "task 3" || std::string(e.what()) == "task 11") << e.what();
    }
    EXPECT_EQ(ran, 18) << threads << " threads";
  }
}

TEST(WorkCrew, TheCallerAnswersWhileAHelperEndsItsTask) {
  WorkCrew crew;
  std::atomic<bool> helper_started{false};
  std::atomic<int> waits{0};
  const auto began = std::chrono::steady_clock::now();
  crew.Run(
      2, 2,
      [&](size_t, bool on_caller) {
        if (!on_caller) {
          helper_started = true;
          std::this_thread::sleep_for(std::chrono::milliseconds(80));
          return;
        }
        // The caller's task ends once a helper has taken the other one.
        while (!helper_started) std::this_thread::yield();
      },
      [&] { ++waits; }, 5);
  EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(80));
  EXPECT_GE(waits, 3);
}

// The threads of the process: the crew's end does not wait for its
// helpers, which still leave.
size_t ThreadsNow() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

TEST(WorkCrew, HelpersLeaveOnceTheCrewEndsWithoutBeingWaitedFor) {
  // Helpers of crews ended before (other tests of this process) may still
  // be leaving: counted here, they are gone by the end.
  const size_t before = ThreadsNow();
  std::atomic<int> ran{0};
  for (int c = 0; c < 100; ++c) {
    WorkCrew crew;
    crew.Run(4, 8, [&](size_t, bool) { ++ran; });
  }
  EXPECT_EQ(ran, 100 * 8);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ThreadsNow() > before && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_LE(ThreadsNow(), before);
}

TEST(WorkCrew, WhatIsLeftAtTheEndIsLetGoOfOnceOnAHelperOrOnTheCallerWithoutOne) {
  for (const size_t threads : {1, 4}) {
    std::atomic<int> runs{0};
    std::atomic<bool> on_caller{false};
    const std::thread::id caller = std::this_thread::get_id();
    {
      WorkCrew crew;
      crew.Run(threads, 8, [](size_t, bool) {});
      crew.AtEnd([&] {
        on_caller = std::this_thread::get_id() == caller;
        ++runs;  // the last this touches of the test's
      });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (runs == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(runs, 1) << threads << " threads";
    EXPECT_EQ(on_caller, threads == 1) << threads << " threads";
  }
}

TEST(WorkCrew, KeptOnCoresOfTheirOwnWhileItLastsAndTheMakerLetGoAfter) {
  const std::vector<int> cores = rtl::os::CoresOfThisThread();
  if (cores.size() < 2) GTEST_SKIP() << "one core";
  for (const WorkCrew::Placing placing : {WorkCrew::Placing::kOwn, WorkCrew::Placing::kHelpers}) {
    SCOPED_TRACE(placing == WorkCrew::Placing::kOwn ? "kOwn" : "kHelpers");
    WorkCrew crew(placing);
    std::mutex mutex;
    std::map<std::thread::id, std::set<int>> ran_on;
    std::set<size_t> helper_cores;  // how many cores each helper could run on
    // Placed, if at all, in the first rounds: the threads' cores are
    // looked at after them.
    for (int round = 0; round < 20; ++round)
      crew.Run(cores.size(), 4 * cores.size(), [&](size_t, bool on_caller) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
        while (std::chrono::steady_clock::now() < until) {
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (round < 5) return;
        ran_on[std::this_thread::get_id()].insert(rtl::os::CurrentCore());
        if (!on_caller) helper_cores.insert(rtl::os::CoresOfThisThread().size());
      });
    // What the crew cuts work for is what its maker could run on.
    EXPECT_EQ(crew.Cores(), cores);
    EXPECT_EQ(crew.Processors(), cores.size());
    // Kept only where the system put two of the crew on one core (a
    // system that spreads them is left to); the maker of a kHelpers crew
    // never.
    const bool placed = helper_cores == std::set<size_t>{1};
    if (placing == WorkCrew::Placing::kOwn) {
      EXPECT_EQ(placed, rtl::os::CoresOfThisThread().size() == 1);
    } else {
      EXPECT_EQ(rtl::os::CoresOfThisThread(), cores);
      ran_on.erase(std::this_thread::get_id());
    }
    if (placed) {
      std::set<int> used;
      for (const auto& [thread, on] : ran_on) {
        EXPECT_EQ(on.size(), 1u) << "a thread moved";
        used.insert(*on.begin());
      }
      EXPECT_EQ(used.size(), ran_on.size()) << "two threads on one core";
    } else {
      EXPECT_EQ(helper_cores, std::set<size_t>{cores.size()});
    }
  }
  EXPECT_EQ(rtl::os::CoresOfThisThread(), cores);
}

// The test above meets packing only where the system packs. Here it
// always does: helpers start on their maker's cores, and the maker is
// held on one core while the crew's first rounds start them. On a machine
// that other programs keep busy (a load of half its processors or more),
// the helpers go where the system puts them instead.
TEST(WorkCrew, HelpersSeenOnTheirMakersCoreAreEachKeptOnAnotherCoreOfTheirOwn) {
  const std::vector<int> cores = rtl::os::CoresOfThisThread();
  if (cores.size() < 2) GTEST_SKIP() << "one core";
  const auto processors = static_cast<double>(::sysconf(_SC_NPROCESSORS_ONLN));
  struct Reset {
    ~Reset() { WorkCrew::SetLoadHook(nullptr); }
  } reset;
  for (const auto& [placing, load] :
       std::vector<std::pair<WorkCrew::Placing, double>>{{WorkCrew::Placing::kOwn, 0},
                                                         {WorkCrew::Placing::kHelpers, processors / 2 - 0.5},
                                                         {WorkCrew::Placing::kOwn, processors / 2},
                                                         {WorkCrew::Placing::kHelpers, 3 * processors}}) {
    SCOPED_TRACE((placing == WorkCrew::Placing::kOwn ? "kOwn, load " : "kHelpers, load ") + std::to_string(load));
    WorkCrew::SetLoadHook([load = load] { return load; });
    const bool busy = load >= processors / 2;
    std::mutex mutex;
    std::map<std::thread::id, std::vector<int>> helper_cores;  // what each helper may run on
    {
      WorkCrew crew(placing);
      ASSERT_TRUE(rtl::os::KeepThisThreadOn({cores[0]}));
      for (int round = 0; round < 10; ++round)
        crew.Run(cores.size(), 8 * cores.size(), [&](size_t, bool on_caller) {
          // Long enough that the system gives the helpers sharing the
          // maker's core their turn in the first round.
          const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(round < 4 ? 300 : 50);
          while (std::chrono::steady_clock::now() < until) {
          }
          if (round < 4 || on_caller) return;
          std::lock_guard<std::mutex> lock(mutex);
          helper_cores[std::this_thread::get_id()] = rtl::os::CoresOfThisThread();
        });
      // The maker of a kOwn crew is kept on its core while the crew lasts.
      if (placing == WorkCrew::Placing::kOwn) EXPECT_EQ(rtl::os::CoresOfThisThread(), std::vector<int>{cores[0]});
    }
    ASSERT_TRUE(rtl::os::KeepThisThreadOn(cores));
    // Each helper seen is kept on one core, none on the maker's, no two on
    // one; on a busy machine each keeps what it started with, its maker's
    // core.
    ASSERT_FALSE(helper_cores.empty());
    std::set<int> used;
    for (const auto& [thread, on] : helper_cores) {
      if (busy) {
        EXPECT_EQ(on, std::vector<int>{cores[0]});
        continue;
      }
      ASSERT_EQ(on.size(), 1u);
      EXPECT_NE(on[0], cores[0]);
      EXPECT_TRUE(used.insert(on[0]).second) << "two helpers on core " << on[0];
    }
  }
  EXPECT_EQ(rtl::os::CoresOfThisThread(), cores);
}

}  // namespace
}  // namespace appcore
