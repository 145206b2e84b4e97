// A forked child for the cross-process tests. Fork before opening any file
// the test is about: a child that inherits a descriptor shares its open
// file description and so its locks, which hides every conflict.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <functional>

namespace qvtest {

// A forked child running `body`. The child may call Ready() once it holds
// what the parent is to test; the parent waits for that with WaitReady().
// Tell() releases a child blocked in WaitTold(). The exit code of `body` is
// the child's (98 when it threw).
class ChildProcess {
public:
  explicit ChildProcess(std::function<int(ChildProcess&)> body) {
    if (pipe2(to_parent_, O_CLOEXEC) < 0 || pipe2(to_child_, O_CLOEXEC) < 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(to_parent_[0]);
      close(to_child_[1]);
      int code = 99;
      try {
        code = body(*this);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "child %d threw: %s\n", static_cast<int>(getpid()), e.what());
        code = 98;
      } catch (...) {
        code = 98;
      }
      _exit(code);
    }
    close(to_parent_[1]);
    close(to_child_[0]);
    to_parent_[1] = to_child_[0] = -1;
  }
  ~ChildProcess() {
    if (pid_ > 0 && !waited_) {
      kill(pid_, SIGKILL);
      Wait();
    }
    for (int fd : {to_parent_[0], to_parent_[1], to_child_[0], to_child_[1]})
      if (fd >= 0) close(fd);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // In the child.
  void Ready() {
    char c = 'r';
    (void)!write(to_parent_[1], &c, 1);
  }
  void WaitTold() {
    char c;
    (void)!read(to_child_[0], &c, 1);
  }
  // In the parent.
  bool WaitReady() {
    char c;
    return read(to_parent_[0], &c, 1) == 1;
  }
  void Tell() {
    char c = 't';
    (void)!write(to_child_[1], &c, 1);
  }
  void Kill(int signal) {
    if (pid_ > 0) kill(pid_, signal);
  }
  // The exit code, or 128 + signal.
  int Wait() {
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

private:
  int pid_ = -1;
  int to_parent_[2] = {-1, -1};
  int to_child_[2] = {-1, -1};
  bool waited_ = false;
  int status_ = 0;
};

}  // namespace qvtest
