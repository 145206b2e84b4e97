#include "tests/tables/lib/lib_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "support/run_command.h"
#include "tables/lib/allocator.h"
#include "tables/lib/support.h"

namespace korvex::testing {
namespace {

// Starts the library for the whole run; at the end the allocator must be
// back where it started.
class LibraryEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    before_ = GetTotalMemoryAllocated();
    InitializeSupportFunctions();
  }
  void TearDown() override {
    ExitSupportFunctions();
    EXPECT_EQ(GetTotalMemoryAllocated(), before_) << "the storage library leaked";
  }

private:
  std::int64_t before_ = 0;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

}  // namespace

void CountedTest::SetUp() { baseline_ = GetTotalMemoryAllocated(); }

void CountedTest::TearDown() {
  EXPECT_EQ(GetTotalMemoryAllocated(), baseline_) << "bytes of the counted allocator left behind";
}

std::string RunCommand(const std::string& command) { return qvtest::RunShell(command).output; }

std::string RunPython(const std::string& code) { return qvtest::RunPythonScript(code).output; }

bool HaveProgram(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

int InChild(const std::function<int()>& body) {
  ChildProcess child([&body](ChildProcess&) { return body(); });
  return child.Wait();
}

bool DropPrivileges() {
  if (geteuid() != 0) return true;
  return setgid(65534) == 0 && setuid(65534) == 0;
}

int RaisedNumber(const std::function<void()>& body, std::string* message) {
  try {
    body();
  } catch (const EKORVEXEngineError& e) {
    if (message) *message = e.Message();
    return e.ErrorCode();
  }
  return 0;
}

}  // namespace korvex::testing
