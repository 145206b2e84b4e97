// Helpers shared by the runtime tests: scratch directories, whole-file
// reads and writes (from support/temp_dir.h), and python3 as an independent reference.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/hex.h"
#include "support/temp_dir.h"

namespace rtl {

using TempDir = qvtest::TempDir;
using qvtest::ReadFileBytes;
using qvtest::WriteFileBytes;

// Makes a directory read-only for its lifetime. Effective() is false where
// permissions do not bind (running as root), and callers then skip.
class ReadOnlyDir {
public:
  explicit ReadOnlyDir(std::string dir) : dir_(std::move(dir)) { chmod(dir_.c_str(), 0555); }
  ~ReadOnlyDir() { chmod(dir_.c_str(), 0755); }
  bool Effective() const { return access(dir_.c_str(), W_OK) != 0; }

private:
  std::string dir_;
};

// Limits the size of files this process may write (RLIMIT_FSIZE) for its
// lifetime: a write past the limit fails with EFBIG, as on a full disk, even
// when the tests run as root.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, old_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
  struct rlimit saved_;
  sighandler_t old_handler_;
};

// Runs python3 with the program and arguments (no shell involved) and
// returns what it printed.
inline std::string RunPython(const std::string& program, const std::string& arg = "") {
  char script[] = "/tmp/qv_runtime_py_XXXXXX";
  int fd = mkstemp(script);
  EXPECT_GE(fd, 0);
  if (write(fd, program.data(), program.size()) != static_cast<ssize_t>(program.size())) ADD_FAILURE();
  close(fd);
  char argfile[] = "/tmp/qv_runtime_arg_XXXXXX";
  fd = mkstemp(argfile);
  if (write(fd, arg.data(), arg.size()) != static_cast<ssize_t>(arg.size())) ADD_FAILURE();
  close(fd);
  // The argument is read back from a file so that any bytes can pass.
  std::string cmd = std::string("python3 -c 'import sys; sys.argv[1:] = [open(\"") + argfile +
                    "\").read()]; exec(open(\"" + script + "\").read())'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
  std::string out;
  char buf[4096];
  size_t n;
  while (pipe && (n = fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
  pipe.reset();
  unlink(script);
  unlink(argfile);
  return out;
}

inline std::string JoinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (auto& l : lines) out += l + "\n";
  return out;
}

using qvtest::Hex;

inline std::string HexWords(const std::vector<std::string>& items) {
  std::string out;
  for (auto& s : items) out += (out.empty() ? "" : " ") + Hex(s);
  return out;
}

inline std::string HexLines(const std::vector<std::string>& items) {
  std::string out;
  for (auto& s : items) out += Hex(s) + "\n";
  return out;
}

}  // namespace rtl
