#include "textutil/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "platform/runtime/exceptions.h"
#include "textutil/gui_hooks.h"

extern char** environ;

namespace textutil {

void FileDescriptor::Reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

namespace {

constexpr const char* kShell = "/bin/sh";

struct SpawnStdio {
  int in = -1;   // descriptors for 0, 1 and 2; -1 keeps ours
  int out = -1;
  int err = -1;
  bool own_group = false;
};

// Starts "/bin/sh -c" with the given arguments after "-c". Every descriptor
// above 2 is closed in the child and every signal it might find ignored or
// blocked is back to its default. Answers 0 and the pid, or an errno value.
int SpawnShell(const char* const* args, const SpawnStdio& stdio, pid_t& pid) {
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
  if (rc == 0) {
    rc = posix_spawn(&pid, kShell, &actions, &attr, const_cast<char* const*>(args), environ);
  }
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc;
}

// The exit code of a wait status: the program's own code, or 128 + the
// signal that ended it.
int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Blocks until pid ends; the exit code, -1 when it cannot be waited for.
int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return ExitCodeOf(status);
}

// 0 while pid runs, 1 with code set once it has ended (and is reaped), -1
// when it is not our child.
int Poll(pid_t pid, int& code) {
  int status = 0;
  pid_t got;
  do {
    got = waitpid(pid, &status, WNOHANG);
  } while (got < 0 && errno == EINTR);
  if (got == 0) return 0;
  if (got < 0) return -1;
  code = ExitCodeOf(status);
  return 1;
}

void Sleep(int ms) {
  struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

// ---- the redirected child ----

struct RedirectedChild {
  std::mutex lock;
  bool in_use = false;
  pid_t pid = 0;
  bool ended = false;  // reaped; exit_code holds its code
  int exit_code = 0;
  FileDescriptor input;   // our end of the child's standard input
  FileDescriptor output;  // our end of its standard output and error

  void Clear() {
    input.Reset();
    output.Reset();
    in_use = false;
    pid = 0;
    ended = false;
    exit_code = 0;
  }
};

RedirectedChild& Child() {
  static RedirectedChild child;
  return child;
}

[[noreturn]] void RaiseWithCode(int code, const char* what) {
  throw rtl::Exception("Error " + std::to_string(code) + what);
}

// Writes all of text to fd with SIGPIPE held back from this thread, so a
// reader that has gone gives EPIPE instead of ending the process.
// Answers 0 or an errno value; written counts what went through.
int WriteWithoutSigpipe(int fd, const std::string& text, size_t& written) {
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
    ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    written += static_cast<size_t>(n);
  }
  if (error == EPIPE && !was_pending) {
    struct timespec none = {0, 0};
    while (sigtimedwait(&pipe_only, nullptr, &none) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  return error;
}

}  // namespace

bool DOSExec(const std::string& command, int) {
  // A short-lived shell starts the command in the background and exits at
  // once; we reap it, and the command runs on with no parent of ours.
  const char* args[] = {"sh", "-c", "/bin/sh -c \"$1\" &", "sh", command.c_str(), nullptr};
  pid_t pid;
  if (SpawnShell(args, SpawnStdio(), pid) != 0) return false;
  return WaitFor(pid) == 0;
}

int WaitExec(const std::string& command, int) {
  const char* args[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t pid;
  if (SpawnShell(args, SpawnStdio(), pid) != 0) return -1;
  if (!GetGuiHooks().process_messages) return WaitFor(pid);

  FileDescriptor exited(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  while (true) {
    int code = 0;
    int state = Poll(pid, code);
    if (state != 0) return state > 0 ? code : -1;
    ProcessGuiMessages();
    if (exited.Valid()) {
      struct pollfd wait = {exited.Get(), POLLIN, 0};
      poll(&wait, 1, 20);
    } else {
      Sleep(20);
    }
  }
}

void PipeExec(const std::string& command, int) {
  RedirectedChild& child = Child();
  std::lock_guard<std::mutex> guard(child.lock);
  if (child.in_use) throw rtl::Exception("Pipe unavailable/in use");
  child.in_use = true;

  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) {
    child.Clear();
    throw rtl::Exception("Error creating STDIN pipe");
  }
  FileDescriptor child_in(in[0]);
  child.input.Reset(in[1]);
  if (pipe2(out, O_CLOEXEC) != 0) {
    child.Clear();
    throw rtl::Exception("Error creating STDOUT pipe");
  }
  child.output.Reset(out[0]);
  FileDescriptor child_out(out[1]);
  // Pipes of one page, as small as the system allows; failure is harmless.
  fcntl(child_in.Get(), F_SETPIPE_SZ, 4096);
  fcntl(child_out.Get(), F_SETPIPE_SZ, 4096);
  fcntl(child.output.Get(), F_SETFL, fcntl(child.output.Get(), F_GETFL) | O_NONBLOCK);

  const char* args[] = {"sh", "-c", command.c_str(), nullptr};
  SpawnStdio stdio;
  stdio.in = child_in.Get();
  stdio.out = child_out.Get();
  stdio.err = child_out.Get();
  stdio.own_group = true;
  pid_t pid;
  if (int error = SpawnShell(args, stdio, pid)) {
    child.Clear();
    RaiseWithCode(error, " creating re-directed process");
  }
  child.pid = pid;
}

int ReadPipe(std::string& buffer) {
  RedirectedChild& child = Child();
  std::lock_guard<std::mutex> guard(child.lock);
  if (!child.in_use || buffer.empty()) return 0;
  struct pollfd ready = {child.output.Get(), POLLIN, 0};
  if (poll(&ready, 1, 0) <= 0 || !(ready.revents & POLLIN)) return 0;
  ssize_t n;
  do {
    n = read(child.output.Get(), buffer.data(), buffer.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    if (errno == EAGAIN) return 0;
    RaiseWithCode(errno, " reading from pipe");
  }
  return static_cast<int>(n);
}

int WritePipe(const std::string& text) {
  RedirectedChild& child = Child();
  std::lock_guard<std::mutex> guard(child.lock);
  if (!child.in_use || text.empty()) return 0;
  size_t written = 0;
  if (int error = WriteWithoutSigpipe(child.input.Get(), text, written)) {
    RaiseWithCode(error, " writing to pipe");
  }
  return static_cast<int>(written);
}

void ClosePipe() {
  RedirectedChild& child = Child();
  std::lock_guard<std::mutex> guard(child.lock);
  if (!child.in_use) return;
  if (!child.ended && Poll(child.pid, child.exit_code) == 0) {
    kill(-child.pid, SIGKILL);
    kill(child.pid, SIGKILL);
    WaitFor(child.pid);
  }
  child.Clear();
}

int PipeExitCode() {
  RedirectedChild& child = Child();
  std::lock_guard<std::mutex> guard(child.lock);
  if (!child.in_use) return -1;
  if (!child.ended) {
    int state = Poll(child.pid, child.exit_code);
    if (state == 0) return kStillActive;
    if (state < 0) child.exit_code = -1;
    child.ended = true;
  }
  return child.exit_code;
}

int PipeProcessId() {
  RedirectedChild& child = Child();
  std::lock_guard<std::mutex> guard(child.lock);
  return child.in_use ? static_cast<int>(child.pid) : 0;
}

bool ModemDialog() { return false; }

}  // namespace textutil
