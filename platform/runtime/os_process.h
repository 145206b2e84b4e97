// Processes, pipes and waiting: the shell children of the text utility
// library, the thread ids the table engine names files with and the cores
// the search's threads are kept on.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <string>
#include <vector>

namespace rtl::os {

// The calling thread's id as the system numbers it.
long CurrentThreadId();
// Sleeps, resuming after signals, for ms milliseconds.
void SleepMilliseconds(int ms);

// The cores the calling thread may run on, in increasing order (empty when
// the system does not say).
std::vector<int> CoresOfThisThread();
// The core the calling thread runs on now, -1 when the system does not say.
int CurrentCore();
// Keeps the calling thread on cores (not empty); false when the system
// refuses.
bool KeepThisThreadOn(const std::vector<int>& cores);
// The system's one-minute load average over the processors online (1.0:
// as many runnable threads as processors); false when the system does not
// say.
bool LoadPerProcessor(double& load);
// Has the thread that attr starts run on core alone; false when the system
// refuses.
bool StartOnCore(pthread_attr_t& attr, int core);
// Keeps a thread of this process on core alone; false when the system
// refuses.
bool KeepThreadOn(pthread_t thread, int core);

struct SpawnStdio {
  int in = -1;  // descriptors for 0, 1 and 2; -1 keeps ours
  int out = -1;
  int err = -1;
  bool own_group = false;  // a process group of its own
};

// Starts "/bin/sh" with `args` (argv, ending in nullptr). Every descriptor
// above 2 is closed in the child and every signal it might find ignored or
// blocked is back to its default. 0 with the pid, or an errno value.
int SpawnShell(const char* const* args, const SpawnStdio& stdio, int& pid);
// The same for the program file at the path program.
int Spawn(const char* program, const char* const* args, const SpawnStdio& stdio, int& pid);
// Runs the program file at the path program with args, its standard
// streams on /dev/null, and waits for it: its exit code as WaitForChild
// gives it, -1 when it cannot be started.
int RunProgram(const std::string& program, const std::vector<std::string>& args);

// Blocks until pid ends; its exit code (128 + signal when a signal ended
// it), -1 when it cannot be waited for.
int WaitForChild(int pid);
// 0 while pid runs, 1 with code set once it has ended (and is reaped), -1
// when it is not our child.
int PollChild(int pid, int& code);
// Kills the child's process group and the child.
void KillChildGroup(int pid);

// A descriptor that turns readable when pid ends (-1 when the system has
// none); wait on it with WaitReady (os_files.h).
int WatchChild(int pid);

// A pipe, both ends close-on-exec: 0 or an errno value.
int MakePipe(int& read_end, int& write_end);
// Shrinks a pipe's buffer to one page (failure is harmless).
void ShrinkPipe(int fd);
void SetNonBlocking(int fd);

// Writes all of text to fd with SIGPIPE held back from this thread, so a
// reader that has gone gives EPIPE instead of ending the process. 0 or an
// errno value; written counts what went through.
int WriteAllWithoutSigpipe(int fd, const std::string& text, std::size_t& written);

}  // namespace rtl::os
