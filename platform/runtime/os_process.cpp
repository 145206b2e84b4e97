#include "platform/runtime/os_process.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

extern char** environ;

namespace rtl::os {
namespace {

constexpr const char* kShell = "/bin/sh";

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

long CurrentThreadId() { return static_cast<long>(::syscall(SYS_gettid)); }

void SleepMilliseconds(int ms) {
  struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
  while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

namespace {

bool SetOf(const std::vector<int>& cores, cpu_set_t& set) {
  CPU_ZERO(&set);
  for (const int core : cores) {
    if (core < 0 || core >= CPU_SETSIZE) return false;
    CPU_SET(core, &set);
  }
  return !cores.empty();
}

}  // namespace

std::vector<int> CoresOfThisThread() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::vector<int> cores;
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return cores;
  for (int core = 0; core < CPU_SETSIZE; ++core)
    if (CPU_ISSET(core, &set)) cores.push_back(core);
  return cores;
}

int CurrentCore() { return ::sched_getcpu(); }

bool KeepThisThreadOn(const std::vector<int>& cores) {
  cpu_set_t set;
  return SetOf(cores, set) && ::sched_setaffinity(0, sizeof set, &set) == 0;
}

bool LoadPerProcessor(double& load) {
  double one_minute = 0;
  const long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
  if (::getloadavg(&one_minute, 1) != 1 || processors <= 0) return false;
  load = one_minute / static_cast<double>(processors);
  return true;
}

bool StartOnCore(pthread_attr_t& attr, int core) {
  cpu_set_t set;
  return SetOf({core}, set) && ::pthread_attr_setaffinity_np(&attr, sizeof set, &set) == 0;
}

bool KeepThreadOn(pthread_t thread, int core) {
  cpu_set_t set;
  return SetOf({core}, set) && ::pthread_setaffinity_np(thread, sizeof set, &set) == 0;
}

int SpawnShell(const char* const* args, const SpawnStdio& stdio, int& pid) { return Spawn(kShell, args, stdio, pid); }

int Spawn(const char* program, const char* const* args, const SpawnStdio& stdio, int& pid) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (int rc = posix_spawn_file_actions_init(&actions)) return rc;
  if (int rc = posix_spawnattr_init(&attr)) {
    posix_spawn_file_actions_destroy(&actions);
    return rc;
  }
  int rc = 0;
  if (stdio.in >= 0 && rc == 0) rc = posix_spawn_file_actions_adddup2(&actions, stdio.in, 0);
  if (stdio.out >= 0 && rc == 0) rc = posix_spawn_file_actions_adddup2(&actions, stdio.out, 1);
  if (stdio.err >= 0 && rc == 0) rc = posix_spawn_file_actions_adddup2(&actions, stdio.err, 2);
  if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  sigset_t no_signals, defaults;
  sigemptyset(&no_signals);
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2,
                  SIGTSTP, SIGTTIN, SIGTTOU}) {
    sigaddset(&defaults, sig);
  }
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (stdio.own_group) flags |= POSIX_SPAWN_SETPGROUP;
  if (rc == 0) rc = posix_spawnattr_setflags(&attr, flags);
  if (rc == 0) rc = posix_spawnattr_setsigmask(&attr, &no_signals);
  if (rc == 0) rc = posix_spawnattr_setsigdefault(&attr, &defaults);
  if (rc == 0 && stdio.own_group) rc = posix_spawnattr_setpgroup(&attr, 0);
  pid_t child = 0;
  if (rc == 0) rc = posix_spawn(&child, program, &actions, &attr, const_cast<char* const*>(args), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  pid = static_cast<int>(child);
  return rc;
}

int RunProgram(const std::string& program, const std::vector<std::string>& args) {
  std::vector<const char*> argv{program.c_str()};
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  // Its output goes nowhere: it is no part of the caller's.
  const int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  SpawnStdio stdio;
  stdio.in = stdio.out = stdio.err = null_fd;
  int pid = 0;
  const int rc = Spawn(program.c_str(), argv.data(), stdio, pid);
  if (null_fd >= 0) ::close(null_fd);
  return rc != 0 ? -1 : WaitForChild(pid);
}

int WaitForChild(int pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return ExitCodeOf(status);
}

int PollChild(int pid, int& code) {
  int status = 0;
  pid_t got;
  do {
    got = ::waitpid(pid, &status, WNOHANG);
  } while (got < 0 && errno == EINTR);
  if (got == 0) return 0;
  if (got < 0) return -1;
  code = ExitCodeOf(status);
  return 1;
}

void KillChildGroup(int pid) {
  ::kill(-pid, SIGKILL);
  ::kill(pid, SIGKILL);
}

int WatchChild(int pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

int MakePipe(int& read_end, int& write_end) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return errno;
  read_end = ends[0];
  write_end = ends[1];
  return 0;
}

void ShrinkPipe(int fd) { ::fcntl(fd, F_SETPIPE_SZ, 4096); }

void SetNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

int WriteAllWithoutSigpipe(int fd, const std::string& text, std::size_t& written) {
  sigset_t pipe_only, old_mask;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  sigset_t pending;
  sigpending(&pending);
  bool was_pending = sigismember(&pending, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &old_mask);
  int error = 0;
  written = 0;
  while (written < text.size()) {
    ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  if (error == EPIPE && !was_pending) {
    struct timespec none = {0, 0};
    while (sigtimedwait(&pipe_only, nullptr, &none) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  return error;
}

}  // namespace rtl::os
