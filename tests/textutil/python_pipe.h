// Runs python3 as an independent reference and returns what it prints.
#pragma once

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/run_command.h"

namespace textutil {

// python3 with the given arguments (already quoted); "" when it cannot run.
inline std::string RunPython(const std::string& args) { return qvtest::RunShell("python3 " + args).output; }

// The text as one shell word, whatever spaces or quotes it holds (the build
// tree may sit in a folder with a space in its name).
inline std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Writes lines (raw bytes, '\n' after each) to a file in the build tree and
// returns its path.
inline std::string WriteLines(const std::string& name, const std::vector<std::string>& lines) {
  const std::string path = std::string(QV_BINARY_DIR) + "/" + name;
  std::ofstream out(path, std::ios::binary);
  for (const auto& line : lines) out << line << '\n';
  return path;
}

// The lines of python's output.
inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1)
    lines.push_back(text.substr(from, nl - from));
  return lines;
}

}  // namespace textutil
