// Temporary folders, whole-file reads and child processes for the tool tests.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace regtools_test {

// A fresh folder under the system temporary folder, removed with its contents.
class TempDir {
 public:
  std::filesystem::path path() const { return dir_.Path(); }

 private:
  qvtest::TempDir dir_;
};

inline std::string ReadBytes(const std::filesystem::path& path) { return qvtest::ReadFileBytes(path.string()); }

// Every regular file of a folder by name, with its bytes.
inline std::map<std::string, std::string> ReadFolder(const std::filesystem::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      files[entry.path().filename().string()] = ReadBytes(entry.path());
    }
  }
  return files;
}

// Lines of a CR LF file, without their line ends.
inline std::vector<std::string> SplitCrLf(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

inline std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

struct CommandResult {
  int exit_code = -1;
  std::string output;  // stdout and stderr together
};

inline CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  const int status = pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace regtools_test
