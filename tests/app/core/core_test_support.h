// Fixture folders, register files and unprivileged child processes for the
// search core tests.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "app/core/data_file_set.h"
#include "app/core/search.h"
#include "platform/runtime/dates.h"
#include "support/temp_dir.h"
#include "tools/register_generator.h"

namespace appcore_test {

namespace fs = std::filesystem;

using TempDir = qvtest::TempDir;

// Generated registers in dir: files files of record_lines record lines in all.
inline void Generate(const TempDir& dir, uint64_t seed, int files, int64_t record_lines) {
  regtools::GeneratorOptions options;
  options.seed = seed;
  options.out_dir = dir.path();
  options.files = files;
  options.record_lines = record_lines;
  regtools::GenerateRegisters(options);
}

// A clock that moves on by a fixed step each time it is read.
class SteppingClock : public rtl::TClockSource {
public:
  explicit SteppingClock(int64_t step) : step_(step) {}
  rtl::TDateTime Now() override { return 0; }
  int64_t Milliseconds() override { return ms_ += step_; }
  int64_t ms() const { return ms_; }

private:
  int64_t step_;
  int64_t ms_ = 0;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// A register file: lines ended by CR LF, as the registers are written.
inline void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\r\n";
  WriteBytes(path, bytes);
}

// A text of register-like lines with every kind of line end, blanks before
// the year, marks, long lines and lines of one byte, so that ends, marks and
// line starts fall on every byte of a 64-byte window.
inline std::string OddRegisterText(uint64_t seed, size_t lines) {
  uint64_t state = seed;
  auto next = [&] { return (state = state * 6364136223846793005ull + 1442695040888963407ull) >> 33; };
  const char* const ends[] = {"\r\n", "\r\n", "\r\n", "\n", "\r", "\n\r"};
  const char* const starts[] = {"1650 ", "1701 ", "169? ", "?6?? ", " \t1650 ", "  x", "-1650 ", "\x01" "9", "", "\r"};
  std::string text = "Title\r\n";
  for (size_t i = 0; i < lines; ++i) {
    text += starts[next() % 10];
    const size_t length = next() % 7 == 0 ? next() % 300 : next() % 90;
    static const char* const words[] = {"Baker", "Ba[k]er", "[Baker]", "B[aker", "Bake\"r", "\"Baker", "Becker",
                                        "backer", "Bacre", ";", ",", "wid", "John", "\xE9", "[", "]", "\""};
    for (size_t at = text.size(); text.size() - at < length;) {
      text += words[next() % 17];
      text += " ;,"[next() % 3];
      if (next() % 5 == 0) text += "  ";
    }
    if (i + 1 < lines || next() % 2) text += ends[next() % 6];
  }
  return text;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs body in a child process as an unprivileged user (when the tests run
// as root, which reads and writes every file), so that file permissions
// count. Returns the child's exit status; body's result is its exit code.
inline int RunUnprivileged(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

// Options that search every file of set with the given text.
inline appcore::SearchOptions OptionsFor(const std::string& text, const appcore::DataFileSet& set) {
  appcore::SearchOptions options;
  options.search_text = text;
  options.show_source_codes = false;
  options.ticked.assign(static_cast<size_t>(set.Count()), true);
  return options;
}

inline std::vector<std::string> AllHits(const appcore::SearchResult& r) {
  std::vector<std::string> hits = r.baptism_hits;
  hits.insert(hits.end(), r.marriage_hits.begin(), r.marriage_hits.end());
  return hits;
}

}  // namespace appcore_test
