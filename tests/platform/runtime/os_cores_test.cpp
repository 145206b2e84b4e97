// The cores a thread runs on, as the search's crew keeps its threads on
// them: what the system says matches its own account (/proc), a thread
// kept on one core runs there, and a thread started on a core starts
// there, whatever its maker's cores.
#include <gtest/gtest.h>
#include <pthread.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/runtime/os_process.h"

namespace {

// The cores in /proc/thread-self/status ("Cpus_allowed_list: 0-3,6").
std::vector<int> CoresListed() {
  std::ifstream status("/proc/thread-self/status");
  std::string line;
  std::vector<int> cores;
  while (std::getline(status, line)) {
    if (line.rfind("Cpus_allowed_list:", 0) != 0) continue;
    std::stringstream ranges(line.substr(line.find(':') + 1));
    std::string range;
    while (std::getline(ranges, range, ',')) {
      const size_t dash = range.find('-');
      const int first = std::stoi(range), last = dash == std::string::npos ? first : std::stoi(range.substr(dash + 1));
      for (int c = first; c <= last; ++c) cores.push_back(c);
    }
  }
  return cores;
}

TEST(OsCores, KeptAndStartedThreadsRunOnTheirCoresAndTheMaskComesBack) {
  const std::vector<int> all = rtl::os::CoresOfThisThread();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all, CoresListed());
  const int last = all.back();
  ASSERT_TRUE(rtl::os::KeepThisThreadOn({last}));
  EXPECT_EQ(rtl::os::CoresOfThisThread(), std::vector<int>{last});
  EXPECT_EQ(rtl::os::CurrentCore(), last);
  // A thread started on a core starts there, whatever its maker's mask.
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_TRUE(rtl::os::StartOnCore(attr, all.front()));
  struct Seen {
    int core = -1;
    std::vector<int> cores;
  } seen;
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, &attr,
                [](void* arg) -> void* {
                  auto* s = static_cast<Seen*>(arg);
                  s->core = rtl::os::CurrentCore();
                  s->cores = rtl::os::CoresOfThisThread();
                  return nullptr;
                },
                &seen),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  EXPECT_EQ(seen.core, all.front());
  EXPECT_EQ(seen.cores, std::vector<int>{all.front()});
  // Refused: no core, or one the system has not.
  EXPECT_FALSE(rtl::os::KeepThisThreadOn({}));
  EXPECT_FALSE(rtl::os::KeepThisThreadOn({-1}));
  ASSERT_TRUE(rtl::os::KeepThisThreadOn(all));
  EXPECT_EQ(rtl::os::CoresOfThisThread(), all);
}

}  // namespace
