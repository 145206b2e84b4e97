// Running other programs: detached, waited for, or as the one redirected
// child whose standard input and output the library holds.
//
// Every command runs as "/bin/sh -c <command>". Show modes are accepted for
// the callers' sake and ignored. The redirected child is process-wide state
// for one thread at a time, as the rest of the library is.
#pragma once

#include <string>

#include "platform/runtime/os_files.h"

namespace textutil {

// The exit code a running process reports.
inline constexpr int kStillActive = 259;

// Owns one file descriptor and closes it when it goes.
using FileDescriptor = rtl::os::FileDescriptor;

// Starts the command without waiting for it; the program is not our child
// afterwards, so nothing is left to reap. True when it was started.
bool DOSExec(const std::string& command, int show);

// Runs the command and waits for it, calling the GUI's message hook every
// 20 ms meanwhile when one is set. Answers the exit code (128 + the signal
// number for a program killed by a signal); -1 when it cannot be started.
int WaitExec(const std::string& command, int show);

// Starts the redirected child: its standard input comes from WritePipe, its
// standard output and standard error go to ReadPipe. It runs in a process
// group of its own, so that ClosePipe ends whatever it started. Raises
// rtl::Exception "Pipe unavailable/in use" while a child is active, "Error
// creating STDIN pipe", "Error creating STDOUT pipe" or "Error <errno>
// creating re-directed process"; after a failure nothing is left open and
// the next call may try again.
void PipeExec(const std::string& command, int show);

// When a redirected child is active (it may have ended: what it wrote is
// still there), the buffer is not empty and output is waiting: reads up to
// the buffer's length into it (the buffer keeps its length) and answers the
// count read. 0 otherwise. Raises "Error <errno> reading from pipe".
int ReadPipe(std::string& buffer);

// Writes all of text to the child's standard input and answers the count
// written; 0 without a child. Raises "Error <errno> writing to pipe", for
// example when the child has ended (the process gets no SIGPIPE).
int WritePipe(const std::string& text);

// When a child is active: kills its process group if it is still running,
// reaps it and closes both pipes.
void ClosePipe();

// The child's exit code once it has ended, kStillActive while it runs, -1
// without a child.
int PipeExitCode();

// The child's process id, 0 without a child.
int PipeProcessId();

// There is no modem control panel here: false.
bool ModemDialog();

}  // namespace textutil
