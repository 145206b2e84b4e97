#include "textutil/process.h"

#include <cerrno>
#include <cstdint>
#include <mutex>

#include "platform/runtime/exceptions.h"
#include "platform/runtime/os_process.h"
#include "textutil/gui_hooks.h"

namespace textutil {
namespace {

// ---- the redirected child ----

struct RedirectedChild {
  std::mutex lock;
  bool in_use = false;
  int pid = 0;
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

}  // namespace

bool DOSExec(const std::string& command, int) {
  // A short-lived shell starts the command in the background and exits at
  // once; we reap it, and the command runs on with no parent of ours.
  const char* args[] = {"sh", "-c", "/bin/sh -c \"$1\" &", "sh", command.c_str(), nullptr};
  int pid;
  if (rtl::os::SpawnShell(args, rtl::os::SpawnStdio(), pid) != 0) return false;
  return rtl::os::WaitForChild(pid) == 0;
}

int WaitExec(const std::string& command, int) {
  const char* args[] = {"sh", "-c", command.c_str(), nullptr};
  int pid;
  if (rtl::os::SpawnShell(args, rtl::os::SpawnStdio(), pid) != 0) return -1;
  if (!GetGuiHooks().process_messages) return rtl::os::WaitForChild(pid);

  FileDescriptor exited(rtl::os::WatchChild(pid));
  while (true) {
    int code = 0;
    int state = rtl::os::PollChild(pid, code);
    if (state != 0) return state > 0 ? code : -1;
    ProcessGuiMessages();
    if (exited.Valid())
      rtl::os::WaitReady(exited.Get(), rtl::os::kReady, 20);
    else
      rtl::os::SleepMilliseconds(20);
  }
}

void PipeExec(const std::string& command, int) {
  RedirectedChild& child = Child();
  std::lock_guard<std::mutex> guard(child.lock);
  if (child.in_use) throw rtl::Exception("Pipe unavailable/in use");
  child.in_use = true;

  int in_read, in_write, out_read, out_write;
  if (rtl::os::MakePipe(in_read, in_write) != 0) {
    child.Clear();
    throw rtl::Exception("Error creating STDIN pipe");
  }
  FileDescriptor child_in(in_read);
  child.input.Reset(in_write);
  if (rtl::os::MakePipe(out_read, out_write) != 0) {
    child.Clear();
    throw rtl::Exception("Error creating STDOUT pipe");
  }
  child.output.Reset(out_read);
  FileDescriptor child_out(out_write);
  // Pipes of one page, as small as the system allows.
  rtl::os::ShrinkPipe(child_in.Get());
  rtl::os::ShrinkPipe(child_out.Get());
  rtl::os::SetNonBlocking(child.output.Get());

  const char* args[] = {"sh", "-c", command.c_str(), nullptr};
  rtl::os::SpawnStdio stdio;
  stdio.in = child_in.Get();
  stdio.out = child_out.Get();
  stdio.err = child_out.Get();
  stdio.own_group = true;
  int pid;
  if (int error = rtl::os::SpawnShell(args, stdio, pid)) {
    child.Clear();
    RaiseWithCode(error, " creating re-directed process");
  }
  child.pid = pid;
}

int ReadPipe(std::string& buffer) {
  RedirectedChild& child = Child();
  std::lock_guard<std::mutex> guard(child.lock);
  if (!child.in_use || buffer.empty()) return 0;
  if (!(rtl::os::WaitReady(child.output.Get(), rtl::os::kReady, 0) & rtl::os::kReady)) return 0;
  const std::int64_t n = rtl::os::ReadSome(child.output.Get(), buffer.data(), buffer.size());
  if (n < 0) {
    if (n == -EAGAIN) return 0;
    RaiseWithCode(static_cast<int>(-n), " reading from pipe");
  }
  return static_cast<int>(n);
}

int WritePipe(const std::string& text) {
  RedirectedChild& child = Child();
  std::lock_guard<std::mutex> guard(child.lock);
  if (!child.in_use || text.empty()) return 0;
  std::size_t written = 0;
  if (int error = rtl::os::WriteAllWithoutSigpipe(child.input.Get(), text, written)) {
    RaiseWithCode(error, " writing to pipe");
  }
  return static_cast<int>(written);
}

void ClosePipe() {
  RedirectedChild& child = Child();
  std::lock_guard<std::mutex> guard(child.lock);
  if (!child.in_use) return;
  if (!child.ended && rtl::os::PollChild(child.pid, child.exit_code) == 0) {
    rtl::os::KillChildGroup(child.pid);
    rtl::os::WaitForChild(child.pid);
  }
  child.Clear();
}

int PipeExitCode() {
  RedirectedChild& child = Child();
  std::lock_guard<std::mutex> guard(child.lock);
  if (!child.in_use) return -1;
  if (!child.ended) {
    int state = rtl::os::PollChild(child.pid, child.exit_code);
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
