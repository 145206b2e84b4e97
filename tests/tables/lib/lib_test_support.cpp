#include "tests/tables/lib/lib_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

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

std::string RunCommand(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return {};
  std::string out;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0) out.append(buffer, n);
  return out;
}

std::string RunPython(const std::string& code) {
  ScratchDir dir;
  std::string script = dir.File("script.py");
  WriteFileBytes(script, code);
  return RunCommand("python3 '" + script + "'");  // the temporary folder may hold a space
}

bool HaveProgram(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

ChildProcess::ChildProcess(std::function<int(ChildProcess&)> body) {
  if (pipe2(to_parent_, O_CLOEXEC) < 0 || pipe2(to_child_, O_CLOEXEC) < 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    close(to_parent_[0]);
    close(to_child_[1]);
    int code = 99;
    try {
      code = body(*this);
    } catch (...) {
      code = 98;
    }
    _exit(code);
  }
  close(to_parent_[1]);
  close(to_child_[0]);
  to_parent_[1] = to_child_[0] = -1;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !waited_) {
    kill(pid_, SIGKILL);
    Wait();
  }
  for (int fd : {to_parent_[0], to_parent_[1], to_child_[0], to_child_[1]})
    if (fd >= 0) close(fd);
}

void ChildProcess::Ready() {
  char c = 'r';
  (void)!write(to_parent_[1], &c, 1);
}

void ChildProcess::WaitTold() {
  char c;
  (void)!read(to_child_[0], &c, 1);
}

bool ChildProcess::WaitReady() {
  char c;
  return read(to_parent_[0], &c, 1) == 1;
}

void ChildProcess::Tell() {
  char c = 't';
  (void)!write(to_child_[1], &c, 1);
}

void ChildProcess::Kill(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

int ChildProcess::Wait() {
  if (pid_ <= 0) return -1;
  if (!waited_) {
    while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    waited_ = true;
  }
  if (WIFEXITED(status_)) return WEXITSTATUS(status_);
  if (WIFSIGNALED(status_)) return 128 + WTERMSIG(status_);
  return -1;
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
