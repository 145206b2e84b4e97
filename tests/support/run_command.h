// Runs a shell command for a test: its standard output and exit status.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "support/temp_dir.h"

namespace qvtest {

struct CommandResult {
  int status = -1;  // the exit status; -1 when it did not exit normally
  std::string output;
};

inline CommandResult RunShell(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen(command.c_str(), "re");
  if (!pipe) return result;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// python3 running `program` from a scratch file; `tail` follows the
// command (" 2>&1" to read its errors too).
inline CommandResult RunPythonScript(const std::string& program, const std::string& tail = "") {
  TempDir dir;
  WriteFileBytes(dir / "script.py", program);
  return RunShell("python3 '" + dir / "script.py" + "'" + tail);  // the folder may hold a space
}

}  // namespace qvtest
