// An X display for the tests of the X11 routines: a private Xvfb started
// for the test process (its number read back through -displayfd) and
// stopped at the end, so that other tests' windows (or a window manager)
// on a shared display never meet these; the one DISPLAY names where Xvfb
// cannot be started. Available() is false only where neither can be had;
// tests then skip, saying why.
#pragma once

#include <X11/Xlib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

extern char** environ;

namespace qvtest {

class XServer {
public:
  XServer() {
    if (!StartPrivate()) Opens();
  }
  ~XServer() {
    if (display_ != nullptr) XCloseDisplay(display_);
    Stop();
  }
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  bool Available() const { return display_ != nullptr; }
  // The test's own connection.
  Display* D() const { return display_; }

private:
  bool StartPrivate() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    const std::string fd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "640x480x24", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 0x1 /* O_WRONLY */, 0);
    if (posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char* const*>(argv), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string number;
    char c;
    while (pid_ != 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) {
      Stop();
      return false;
    }
    setenv("DISPLAY", (":" + number).c_str(), 1);
    return Opens();
  }
  void Stop() {
    if (pid_ == 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }
  bool Opens() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || name[0] == '\0') return false;
    display_ = XOpenDisplay(nullptr);
    return display_ != nullptr;
  }

  Display* display_ = nullptr;
  pid_t pid_ = 0;
};

}  // namespace qvtest
