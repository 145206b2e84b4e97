// What the benchmark programs share: reading their options and timing.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tools/register_generator.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The middle of the values (the upper middle of an even count).
inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// This thread's processor time in seconds.
inline double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Wall time of one run of body.
inline double TimeOf(const std::function<void()>& body) {
  const auto start = Clock::now();
  body();
  return Seconds(Clock::now() - start);
}

// The median wall time of `repeats` runs of each body, the bodies run by
// turns, so that a slow spell of the machine weighs on every side alike.
// Each body runs once first, untimed: the first run of a comparison or a
// query fills the caches, and often takes twice as long.
inline std::vector<double> MediansByTurns(int repeats, const std::vector<std::function<void()>>& bodies) {
  for (const std::function<void()>& body : bodies) body();
  std::vector<std::vector<double>> times(bodies.size());
  for (int i = 0; i < repeats; ++i)
    for (size_t b = 0; b < bodies.size(); ++b) times[b].push_back(TimeOf(bodies[b]));
  std::vector<double> medians;
  for (const std::vector<double>& t : times) medians.push_back(Median(t));
  return medians;
}

// Two sides that take turns case by case, each on a thread of its own
// (only one runs at a time): side 0 starts; a side runs its case, then
// Pass hands the turn over and waits for it to come back. A side that has
// ended passes for good, and the other then runs on alone.
class Turns {
public:
  void Begin(int side) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return turn_ == side; });
  }
  void Pass(int side) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (ended_[1 - side]) return;
    turn_ = 1 - side;
    changed_.notify_all();
    changed_.wait(lock, [&] { return turn_ == side; });
  }
  void End(int side) {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_[side] = true;
    turn_ = 1 - side;
    changed_.notify_all();
  }

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int turn_ = 0;
  bool ended_[2] = {false, false};
};

// The median wall time of `repeats` runs of body.
inline double MedianTime(int repeats, const std::function<void()>& body) { return MediansByTurns(repeats, {body})[0]; }

// The load averages of the last 1, 5 and 15 minutes, as /proc/loadavg has them.
inline std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

// A bar as a --check run holds it. QV_BENCH_BAR_SCALE in the environment
// multiplies every bar; 0 makes each one impossible to meet, so that a run
// shows its --check failing (the benchmark tooling's test does that). A
// value that is not a number of at least 0 ends the program with 2.
inline double Bar(double bar) {
  static const double scale = [] {
    const char* text = std::getenv("QV_BENCH_BAR_SCALE");
    if (text == nullptr || *text == '\0') return 1.0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (*end != '\0' || !(value >= 0)) {
      std::fprintf(stderr, "QV_BENCH_BAR_SCALE: not a number of at least 0: %s\n", text);
      std::exit(2);
    }
    return value;
  }();
  return bar * scale;
}

// True when a ratio (or an amount) is within its bar.
inline bool Met(double ratio, double bar) { return ratio <= Bar(bar); }

// Walks argv; a bad option prints the usage text and exits with 2.
class OptionReader {
public:
  OptionReader(int argc, char** argv, std::string program, std::string usage)
      : argc_(argc), argv_(argv), program_(std::move(program)), usage_(std::move(usage)) {}

  // The next option name, or false at the end.
  bool Next(std::string& option) {
    if (++i_ >= argc_) return false;
    option_ = option = argv_[i_];
    return true;
  }

  std::string Value() {
    if (i_ + 1 >= argc_) Fail("missing value after " + option_);
    return argv_[++i_];
  }

  // A whole number of at least 0.
  int64_t Number() {
    const std::string v = Value();
    char* end = nullptr;
    const long long n = std::strtoll(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || n < 0) Fail("bad number for " + option_);
    return n;
  }

  [[noreturn]] void Fail(const std::string& why) const {
    std::fprintf(stderr, "%s: %s\nusage: %s %s\n", program_.c_str(), why.c_str(), program_.c_str(),
                 usage_.c_str());
    std::exit(2);
  }

private:
  int argc_;
  char** argv_;
  int i_ = 0;
  std::string program_, usage_, option_;
};

// A generated register set, in `dir` or, when that is empty, in a new
// temporary folder that Remove() deletes again.
struct RegisterSet {
  std::filesystem::path dir;
  bool made_dir = false;
  regtools::GeneratorResult generated;
  std::vector<std::filesystem::path> paths;  // sorted

  void Remove() const {
    if (made_dir) std::filesystem::remove_all(dir);
  }
};

// Prints why and answers nothing when the set cannot be made.
inline std::optional<RegisterSet> MakeRegisterSet(const char* program, const std::string& dir, uint64_t seed,
                                                  int files, int64_t lines) {
  RegisterSet set;
  set.dir = dir;
  if (set.dir.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "qv-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      return std::nullopt;
    }
    set.dir = pattern;
    set.made_dir = true;
  }
  regtools::GeneratorOptions gen;
  gen.seed = seed;
  gen.out_dir = set.dir;
  gen.files = files;
  gen.record_lines = lines;
  try {
    set.generated = regtools::GenerateRegisters(gen);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", program, e.what());
    set.Remove();
    return std::nullopt;
  }
  for (const auto& f : set.generated.files) set.paths.push_back(f.path);
  std::sort(set.paths.begin(), set.paths.end());
  // The set is written whole before any run: its stamps are put a minute
  // back, so that the load does not take a register changed a moment ago
  // for one still being written and wait for it to hold still.
  std::error_code ec;
  const auto settled = std::filesystem::file_time_type::clock::now() - std::chrono::minutes(1);
  for (const auto& p : set.paths) std::filesystem::last_write_time(p, settled, ec);
  return set;
}

}  // namespace bench
