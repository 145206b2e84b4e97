// Helpers shared by the system, process and channel tests; defined in
// system_test.cpp.
#pragma once

#include <sys/types.h>

#include <functional>
#include <set>
#include <string>

#include "support/temp_dir.h"
#include "tests/textutil/textutil_fixture.h"

namespace textutil::syshelp {

// The descriptors this process has open.
std::set<int> OpenDescriptors();
// Runs body in a forked child and answers its exit code (128 + the signal
// for a killed child, -1 when no child could be started).
int RunInChild(const std::function<int()>& body);
// Polls done until it holds or timeout_ms has passed.
bool WaitUntil(const std::function<bool()>& done, int timeout_ms);
// Points the runtime and configuration folders into root, and back.
void UsePrivateFolders(const std::string& root);
void RestoreFolders();

// A child process that runs body, reports its answer and then holds on to
// what it took until ReleaseHolder.
struct Holder {
  pid_t pid = -1;
  int release = -1;
  bool answer = false;
};
Holder StartHolder(const std::function<bool()>& body);
void ReleaseHolder(Holder& holder);

}  // namespace textutil::syshelp

namespace textutil {

// A test with its own runtime and configuration folders, which checks that
// it leaves no descriptor open.
class PrivateFoldersTest : public TextutilTest {
protected:
  void SetUp() override {
    TextutilTest::SetUp();
    root_ = scratch_.Path();
    ASSERT_FALSE(root_.empty());
    syshelp::UsePrivateFolders(root_);
    before_ = syshelp::OpenDescriptors();
  }
  void TearDown() override {
    EXPECT_EQ(before_, syshelp::OpenDescriptors()) << "a descriptor was left open";
    syshelp::RestoreFolders();
    TextutilTest::TearDown();
  }
  qvtest::TempDir scratch_;  // removed after TearDown
  std::string root_;
  std::set<int> before_;
};

}  // namespace textutil
