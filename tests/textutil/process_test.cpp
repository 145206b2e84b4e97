#include "textutil/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>

#include "platform/runtime/exceptions.h"
#include "support/raised.h"
#include "support/temp_dir.h"
#include "tests/textutil/syshelp.h"
#include "tests/textutil/textutil_fixture.h"
#include "textutil/gui_hooks.h"

namespace textutil {
namespace {

using namespace syshelp;

constexpr int kPatienceMs = 20000;  // generous: a loaded machine must not fail a test

class ProcessTest : public TextutilTest {
protected:
  void SetUp() override {
    TextutilTest::SetUp();
    dir_ = scratch_.Path();
    ASSERT_FALSE(dir_.empty());
    before_ = OpenDescriptors();
  }
  void TearDown() override {
    ClosePipe();
    SetGuiHooks(GuiHooks());
    EXPECT_EQ(before_, OpenDescriptors()) << "a descriptor was left open";
    // No child of ours is left to reap.
    pid_t left = waitpid(-1, nullptr, WNOHANG);
    int error = errno;
    EXPECT_EQ(-1, left);
    EXPECT_EQ(ECHILD, error);
    TextutilTest::TearDown();
  }

  // Reads the redirected child's output until it contains want or time runs out.
  static std::string ReadUntil(const std::string& want) {
    std::string all;
    WaitUntil(
        [&] {
          std::string buffer(64, '\0');
          int n = ReadPipe(buffer);
          all.append(buffer, 0, static_cast<size_t>(n));
          return all.find(want) != std::string::npos;
        },
        kPatienceMs);
    return all;
  }

  static bool Exists(const std::string& path) { return std::filesystem::exists(path); }

  qvtest::TempDir scratch_;  // removed after TearDown
  std::string dir_;
  std::set<int> before_;
};

// A process that exists and is not a zombie.
bool Alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  size_t close_paren = line.rfind(')');
  return close_paren != std::string::npos && close_paren + 2 < line.size() && line[close_paren + 2] != 'Z';
}

// ---- WaitExec and DOSExec ----

TEST_F(ProcessTest, WaitExecAnswersTheExitCode) {
  EXPECT_EQ(0, WaitExec("true", 1));
  EXPECT_EQ(3, WaitExec("exit 3", 1));
  EXPECT_EQ(127, WaitExec("/no/such/program", 1));
  EXPECT_EQ(128 + SIGKILL, WaitExec("kill -9 $$", 1));
  EXPECT_EQ(0, WaitExec("echo made > '" + dir_ + "/out.txt'", 1));
  std::ifstream in(dir_ + "/out.txt");
  std::string line;
  std::getline(in, line);
  EXPECT_EQ("made", line);
}

TEST_F(ProcessTest, WaitExecKeepsTheGuiRunning) {
  int pumped = 0;
  GuiHooks hooks;
  // The program ends only once the GUI has run: a file the hook writes.
  std::string flag = dir_ + "/pumped";
  hooks.process_messages = [&] {
    if (++pumped == 3) std::ofstream(flag) << "x";
  };
  SetGuiHooks(hooks);
  EXPECT_EQ(4, WaitExec("while [ ! -e '" + flag + "' ]; do sleep 0.01; done; exit 4", 1));
  EXPECT_GE(pumped, 3);
}

TEST_F(ProcessTest, DOSExecStartsWithoutWaitingAndLeavesNoChild) {
  std::string release = dir_ + "/release";
  std::string done = dir_ + "/done";
  // The command waits for the test: DOSExec must have returned before.
  EXPECT_TRUE(DOSExec("while [ ! -e '" + release + "' ]; do sleep 0.01; done; echo ok > '" + done + "'", 0));
  EXPECT_FALSE(Exists(done));
  EXPECT_EQ(-1, waitpid(-1, nullptr, WNOHANG));  // not our child: nothing to reap
  std::ofstream(release) << "go";
  EXPECT_TRUE(WaitUntil(
      [&] {
        std::error_code ec;
        return std::filesystem::file_size(done, ec) > 0 && !ec;
      },
      kPatienceMs));
}

// ---- the redirected child ----

TEST_F(ProcessTest, RedirectedChildOutputAndExitCode) {
  PipeExec("echo out; echo err >&2; exit 3", 0);
  EXPECT_GT(PipeProcessId(), 0);
  EXPECT_EQ("out\nerr\n", ReadUntil("err\n"));
  EXPECT_TRUE(WaitUntil([] { return PipeExitCode() != kStillActive; }, kPatienceMs));
  EXPECT_EQ(3, PipeExitCode());
  std::string buffer(16, '\0');
  EXPECT_EQ(0, ReadPipe(buffer));  // all read, the child gone
  ClosePipe();
  EXPECT_EQ(0, PipeProcessId());
  EXPECT_EQ(-1, PipeExitCode());
}

TEST_F(ProcessTest, OutputWrittenJustBeforeTheEndIsStillRead) {
  PipeExec("printf 'last words'", 0);
  ASSERT_TRUE(WaitUntil([] { return PipeExitCode() == 0; }, kPatienceMs));
  EXPECT_EQ("last words", ReadUntil("words"));
}

TEST_F(ProcessTest, ReadPipeKeepsTheBufferLength) {
  PipeExec("printf abcd", 0);
  std::string buffer(100, '.');
  int n = 0;
  ASSERT_TRUE(WaitUntil([&] { return (n = ReadPipe(buffer)) > 0; }, kPatienceMs));
  EXPECT_EQ(4, n);
  EXPECT_EQ(100u, buffer.size());
  EXPECT_EQ("abcd......", buffer.substr(0, 10));
  std::string empty;
  EXPECT_EQ(0, ReadPipe(empty));
}

TEST_F(ProcessTest, WritePipeFeedsTheChildsInput) {
  PipeExec("read line; echo \"got $line\"; read second; exit 0", 0);
  EXPECT_EQ(6, WritePipe("hello\n"));
  EXPECT_EQ("got hello\n", ReadUntil("\n"));
  EXPECT_EQ(2, WritePipe("x\n"));
  EXPECT_TRUE(WaitUntil([] { return PipeExitCode() == 0; }, kPatienceMs));
}

TEST_F(ProcessTest, WritingToAChildThatHasEndedRaisesAndTheProcessLivesOn) {
  PipeExec("exit 0", 0);
  ASSERT_TRUE(WaitUntil([] { return PipeExitCode() == 0; }, kPatienceMs));
  EXPECT_EQ(qvtest::WhatRaised<rtl::Exception>([&] { WritePipe("nobody reads this\n"); }), "Error 32 writing to pipe");
  sigset_t pending;
  sigpending(&pending);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

TEST_F(ProcessTest, AHangingChildIsKilledWithWhatItStarted) {
  // The shell starts a sleeper and waits: both must go.
  PipeExec("sleep 1000 & echo $!; wait", 0);
  std::string line = ReadUntil("\n");
  pid_t sleeper = std::atoi(line.c_str());
  pid_t shell = PipeProcessId();
  ASSERT_GT(sleeper, 0);
  // Nothing more comes: a reader with a time-out gives up.
  std::string buffer(16, '\0');
  EXPECT_FALSE(WaitUntil([&] { return ReadPipe(buffer) > 0; }, 300));
  EXPECT_EQ(kStillActive, PipeExitCode());
  ClosePipe();
  EXPECT_FALSE(Alive(shell));
  EXPECT_TRUE(WaitUntil([&] { return !Alive(sleeper); }, kPatienceMs));
  EXPECT_EQ(0, PipeProcessId());
}

TEST_F(ProcessTest, OneRedirectedChildAtATime) {
  PipeExec("cat", 0);
  EXPECT_EQ(qvtest::WhatRaised<rtl::Exception>([&] { PipeExec("echo second", 0); }), "Pipe unavailable/in use");
  // The first child is untouched.
  EXPECT_EQ(3, WritePipe("ab\n"));
  EXPECT_EQ("ab\n", ReadUntil("\n"));
  ClosePipe();
  PipeExec("echo again", 0);
  EXPECT_EQ("again\n", ReadUntil("\n"));
}

TEST_F(ProcessTest, WithoutAChildThePipeRoutinesDoNothing) {
  std::string buffer(8, '\0');
  EXPECT_EQ(0, ReadPipe(buffer));
  EXPECT_EQ(0, WritePipe("x"));
  EXPECT_EQ(-1, PipeExitCode());
  EXPECT_EQ(0, PipeProcessId());
  ClosePipe();
  EXPECT_FALSE(ModemDialog());
}

// A failure while the pipes are made or the child is started leaves no
// descriptor behind and does not block the next call. The descriptor limit
// makes pipe creation fail; the process limit makes the start fail.
TEST_F(ProcessTest, EveryFailurePathCleansUp) {
  EXPECT_EQ(0, RunInChild([] {
              close_range(3, ~0u, 0);  // descriptors 0 to 2 only
              // The sanitizers' type check needs a descriptor the first time
              // it meets a type; let it meet the exception before the limit.
              try {
                throw rtl::Exception("warm-up");
              } catch (const rtl::Exception& e) {
                if (e.Message().empty()) return 9;
              }
              struct rlimit saved;
              getrlimit(RLIMIT_NOFILE, &saved);
              auto expect_failure = [&saved](rlim_t limit, const std::string& message) {
                struct rlimit tight = saved;
                tight.rlim_cur = limit;
                setrlimit(RLIMIT_NOFILE, &tight);
                std::string got;
                try {
                  PipeExec("echo x", 0);
                } catch (const rtl::Exception& e) {
                  got = e.Message();
                }
                setrlimit(RLIMIT_NOFILE, &saved);
                return got == message && syshelp::OpenDescriptors() == std::set<int>{0, 1, 2} &&
                       PipeProcessId() == 0;
              };
              if (!expect_failure(3, "Error creating STDIN pipe")) return 1;
              if (!expect_failure(4, "Error creating STDIN pipe")) return 2;
              if (!expect_failure(5, "Error creating STDOUT pipe")) return 3;
              if (!expect_failure(6, "Error creating STDOUT pipe")) return 4;
              PipeExec("echo fine", 0);
              std::string all;
              syshelp::WaitUntil(
                  [&] {
                    std::string buffer(16, '\0');
                    all.append(buffer, 0, static_cast<size_t>(ReadPipe(buffer)));
                    return all == "fine\n";
                  },
                  20000);
              ClosePipe();
              return all == "fine\n" && syshelp::OpenDescriptors() == std::set<int>{0, 1, 2} ? 0 : 5;
            }));
  EXPECT_EQ(0, RunInChild([] {
              // No process may be started: drop root's exemption, allow none.
              if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 1;
              struct rlimit none;
              getrlimit(RLIMIT_NPROC, &none);
              struct rlimit saved = none;
              none.rlim_cur = 0;
              if (setrlimit(RLIMIT_NPROC, &none) != 0) return 2;
              std::set<int> before = syshelp::OpenDescriptors();
              std::string got;
              try {
                PipeExec("echo x", 0);
              } catch (const rtl::Exception& e) {
                got = e.Message();
              }
              if (got != "Error 11 creating re-directed process") return 3;
              if (syshelp::OpenDescriptors() != before || PipeProcessId() != 0) return 4;
              if (WaitExec("true", 0) != -1 || DOSExec("true", 0)) return 5;
              setrlimit(RLIMIT_NPROC, &saved);
              PipeExec("exit 7", 0);  // the flag was cleared: a new child starts
              bool ended = syshelp::WaitUntil([] { return PipeExitCode() == 7; }, 20000);
              ClosePipe();
              return ended && syshelp::OpenDescriptors() == before ? 0 : 6;
            }));
}

TEST_F(ProcessTest, FileDescriptorOwnsItsDescriptor) {
  int raw[2];
  ASSERT_EQ(0, pipe2(raw, O_CLOEXEC));
  {
    FileDescriptor a(raw[0]);
    FileDescriptor b(raw[1]);
    FileDescriptor moved(std::move(a));
    EXPECT_FALSE(a.Valid());
    EXPECT_EQ(raw[0], moved.Get());
    b = std::move(moved);  // closes raw[1], takes raw[0]
    EXPECT_EQ(raw[0], b.Get());
    EXPECT_EQ(-1, fcntl(raw[1], F_GETFD));
  }
  EXPECT_EQ(-1, fcntl(raw[0], F_GETFD));
}

}  // namespace
}  // namespace textutil
