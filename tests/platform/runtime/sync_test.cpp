#include "platform/runtime/sync.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace rtl {
namespace {

TEST(CriticalSection, ReentrantForItsOwnerExclusiveForOthers) {
  TCriticalSection section;
  section.Enter();
  section.Enter();  // the owning thread may take it again
  bool other_got_it = true;
  std::thread([&] { other_got_it = section.TryEnter(); }).join();
  EXPECT_FALSE(other_got_it);
  section.Leave();
  section.Leave();
  std::thread([&] {
    other_got_it = section.TryEnter();
    if (other_got_it) section.Leave();
  }).join();
  EXPECT_TRUE(other_got_it);
}

TEST(CriticalSection, SerialisesCounting) {
  TCriticalSection section;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        CriticalSectionLock lock(section);
        ++counter;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 80000);
}

}  // namespace
}  // namespace rtl
