// bench_search: the search core against standard tools on a generated
// register set (see README.md). Prints one row per measurement with the
// ratio of the medians to its bar; --check makes it exit 1 when a bar is
// missed or when a hit count differs from the tool's. Whole processes are
// timed with both sides pinned to the same cores: one, two and all.
//
// The search it times as a whole process beside grep and rg is the command
// of search_command.cpp, built as the small program bench_search_command;
// `bench_search --search ...` runs the same command.
#include "bench/bench_util.h"

#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/core/arrange.h"
#include "app/core/data_file_set.h"
#include "app/core/first_page.h"
#include "app/core/search.h"
#include "app/core/simd_path.h"
#include "bench/search_command.h"
#include "platform/runtime/os_memory.h"
#include "tools/register_generator.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using bench::AllowedCores;
using bench::AllRoles;
using bench::Clock;
using bench::Seconds;

struct Args {
  int64_t lines = 1'000'000;
  int files = 100;
  int64_t arrange_hits = 100'000;
  int64_t worst_hits = 1'000'000;
  int64_t growth_lines = -1;  // the second set's lines; -1: four times lines, 0: none
  int64_t large_lines = -1;   // the large set's lines; -1: ten times lines, 0: none
  int repeats = 5;
  uint64_t seed = 1;
  std::string surname = "Baker";
  std::vector<std::string> sounds = {"baker", "backer"};  // what sounds like the surname in the set
  std::string dir;  // generate into a temporary folder when empty
  bool keep = false;
  bool check = false;
  bool window = true;  // time the window's click too (--no-window: not)
};

Args ParseArgs(int argc, char** argv) {
  Args a;
  bench::OptionReader options(argc, argv, "bench_search",
                               "[--lines N] [--files N] [--hits N] [--worst-hits N] [--growth N] [--large N] [--repeats N]\n"
                               "       [--seed N] [--surname NAME --sounds A,B,..] [--dir DIR] [--keep] [--check]\n"
                               "       [--no-window]\n"
                               "   or: bench_search --search DIR NAME [--fuzzy] [--text] [--page] [--times] [--apart]");
  for (std::string arg; options.Next(arg);) {
    if (arg == "--lines") a.lines = options.Number();
    else if (arg == "--files") a.files = static_cast<int>(options.Number());
    else if (arg == "--hits") a.arrange_hits = options.Number();
    else if (arg == "--worst-hits") a.worst_hits = options.Number();
    else if (arg == "--growth") a.growth_lines = options.Number();
    else if (arg == "--large") a.large_lines = options.Number();
    else if (arg == "--repeats") a.repeats = std::max<int>(1, static_cast<int>(options.Number()));
    else if (arg == "--seed") a.seed = static_cast<uint64_t>(options.Number());
    else if (arg == "--surname") a.surname = options.Value();
    else if (arg == "--sounds") {
      a.sounds.clear();
      const std::string list = options.Value();
      for (size_t at = 0; at <= list.size();) {
        const size_t comma = std::min(list.find(',', at), list.size());
        if (comma > at) a.sounds.push_back(list.substr(at, comma - at));
        at = comma + 1;
      }
    } else if (arg == "--dir") a.dir = options.Value();
    else if (arg == "--keep") a.keep = true;
    else if (arg == "--check") a.check = true;
    else if (arg == "--no-window") a.window = false;
    else options.Fail("unknown option " + arg);
  }
  if (a.files < 1 || a.lines < 1) options.Fail("--files and --lines must be at least 1");
  if (a.sounds.empty()) options.Fail("--sounds needs at least one word");
  if (a.growth_lines < 0) a.growth_lines = 4 * a.lines;
  if (a.large_lines < 0) a.large_lines = 10 * a.lines;
  return a;
}

// Pins this thread, and every thread and process it starts from now on, to
// cores.
void PinTo(const std::vector<int>& cores) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int c : cores) CPU_SET(c, &set);
  if (::sched_setaffinity(0, sizeof set, &set) != 0) throw std::runtime_error("cannot pin to the cores asked for");
}

std::string CoreList(const std::vector<int>& cores) {
  std::string list;
  for (int c : cores) list += (list.empty() ? "" : ",") + std::to_string(c);
  return list;
}

// The vector path every run of the search command must report ("path P"
// in its output): the benchmark's own, which the command inherits through
// QV_SIMD. A run that reports another makes the whole report false.
struct PathCheck {
  std::string command;   // the command's program
  std::string expected;  // the path the report names
  int runs = 0;
  std::vector<std::string> wrong;  // what the runs that differed reported
};
PathCheck path_check;

std::string CommandPath(const std::string& output) {
  const size_t at = output.find("\npath ");
  if (at == std::string::npos) return "(none)";
  const size_t from = at + 6, end = output.find('\n', from);
  return output.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

// One run of a whole process: wall and CPU seconds, peak memory, output.
struct ProcessRun {
  double wall = 0, cpu = 0;
  double peak_mb = 0;
  std::string out;
};

// Runs a command with its output in a pipe (grep answers at once when its
// output is /dev/null), drains it and waits for the process.
ProcessRun RunTool(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  int out[2];
  if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, out[1]);
  std::vector<char*> args, envp;
  for (const std::string& s : argv) args.push_back(const_cast<char*>(s.c_str()));
  args.push_back(nullptr);
  for (const std::string& s : env) envp.push_back(const_cast<char*>(s.c_str()));
  envp.push_back(nullptr);
  ProcessRun run;
  const auto start = Clock::now();
  pid_t pid;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    throw std::runtime_error("cannot run " + argv[0]);
  }
  char buffer[1 << 16];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) run.out.append(buffer, static_cast<size_t>(n));
  ::close(out[0]);
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  run.wall = Seconds(Clock::now() - start);
  run.cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.peak_mb = usage.ru_maxrss * 1024 / 1e6;
  if (!WIFEXITED(status) || WEXITSTATUS(status) > 1)  // grep and rg answer 1 for no match
    throw std::runtime_error(argv[0] + " failed");
  if (argv[0] == path_check.command) {
    ++path_check.runs;
    const std::string path = CommandPath(run.out);
    if (path != path_check.expected) path_check.wrong.push_back(path);
  }
  return run;
}

double CpuSecondsOfThisProcess() {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The figures of one run of the window test (see
// tests/app/window/search_speed_window_test.cpp).
struct WindowRun {
  double fuzzy = 0, again = 0, exact = 0, peak_mb = -1;
};

// Runs the offscreen window test on dir; false (with why) when it cannot.
bool RunWindow(const std::string& tests, const fs::path& dir, int64_t lines, WindowRun& run, std::string& why) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "QV_WINDOW_", 10) != 0 && std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0) env.push_back(*e);
  env.push_back("QT_QPA_PLATFORM=offscreen");
  env.push_back("QV_WINDOW_SEARCH_DIR=" + dir.string());
  env.push_back("QV_WINDOW_SEARCH_LINES=" + std::to_string(lines));
  const ProcessRun r = RunTool({tests, "--gtest_filter=WindowSearchSpeed.ClickToPageAndPeakMemory"}, env);
  const size_t at = r.out.find("window figures:");
  if (at == std::string::npos || r.out.find("[  PASSED  ] 1 test") == std::string::npos) {
    why = "the window test did not pass:\n" + r.out;
    return false;
  }
  if (std::sscanf(r.out.c_str() + at, "window figures: fuzzy %lf again %lf exact %lf peak_mb %lf", &run.fuzzy,
                  &run.again, &run.exact, &run.peak_mb) != 4) {
    why = "cannot read the window test's figures";
    return false;
  }
  return true;
}

// Samples of one side of a measurement.
struct Samples {
  std::vector<double> wall, cpu;
  double peak_mb = 0;
  void Add(double w, double c) {
    wall.push_back(w);
    cpu.push_back(c);
  }
  void Add(const ProcessRun& r) {
    Add(r.wall, r.cpu);
    peak_mb = std::max(peak_mb, r.peak_mb);
  }
  static double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  }
  double MedianWall() const { return Median(wall); }
  double MinWall() const { return wall.empty() ? 0 : *std::min_element(wall.begin(), wall.end()); }
  double MedianCpu() const { return Median(cpu); }
};

// Runs each side by turns, repeats times each, so that a change of load on
// a shared machine touches every side alike.
struct Side {
  Samples& samples;
  std::function<void(Samples&)> run;
};
void ByTurns(int repeats, const std::vector<Side>& sides) {
  for (int i = 0; i < repeats; ++i)
    for (const Side& side : sides) side.run(side.samples);
}
void ByTurns(int repeats, Samples& ours, const std::function<void(Samples&)>& run_ours, Samples& theirs,
             const std::function<void(Samples&)>& run_theirs) {
  ByTurns(repeats, {{ours, run_ours}, {theirs, run_theirs}});
}

// In-process timing of body: wall and the process's CPU seconds.
void Timed(Samples& s, const std::function<void()>& body) {
  const double cpu = CpuSecondsOfThisProcess();
  const auto start = Clock::now();
  body();
  s.Add(Seconds(Clock::now() - start), CpuSecondsOfThisProcess() - cpu);
}

struct Row {
  std::string what;
  std::string peer;
  Samples ours, theirs;
  double bar = 0;  // 0: shown for information only
  bool memory = false;
  bool factor = false;  // a growth factor, not a time
};

// Sum of grep -c / rg -c counts ("path:count" lines) over the paths
// accepted by keep.
int64_t SumCounts(const std::string& output, const std::function<bool(const std::string&)>& keep) {
  int64_t total = 0;
  size_t at = 0;
  while (at < output.size()) {
    const size_t end = output.find('\n', at);
    const std::string line = output.substr(at, end - at);
    const size_t colon = line.rfind(':');
    if (colon != std::string::npos && keep(line.substr(0, colon)))
      total += std::strtoll(line.c_str() + colon + 1, nullptr, 10);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return total;
}

int64_t CommandCount(const std::string& output, const std::string& field) {
  const size_t at = output.find(field + " ");
  return at == std::string::npos ? -1 : std::strtoll(output.c_str() + at + field.size() + 1, nullptr, 10);
}

bool IsBaptismFile(const std::string& path) {
  const std::string suffix = "_bap.txt";
  return path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A name whose sound key differs for every i below 10^6: a consonant per
// decimal digit, each with a sound of its own, 'a' between them.
std::string DistinctSoundName(int64_t i) {
  static constexpr char kConsonants[] = "BFKLMNPRST";
  std::string name;
  for (int d = 0; d < 6; ++d, i /= 10) {
    name += d == 0 ? kConsonants[i % 10] : static_cast<char>(kConsonants[i % 10] - 'A' + 'a');
    name += 'a';
  }
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--search") == 0) return bench::SearchCommand(argc, argv);
  const Args args = ParseArgs(argc, argv);
  std::vector<std::string> c_env = {"LC_ALL=C", "PATH=" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin")};
  // The path forced here is forced in the command too (the tools ignore it).
  if (const char* simd = std::getenv("QV_SIMD")) c_env.push_back(std::string("QV_SIMD=") + simd);
  // The command is timed as its own program, built beside this one: the
  // process measured maps none of the benchmark's code.
  const fs::path command_path = fs::read_symlink("/proc/self/exe").parent_path() / "bench_search_command";
  if (!fs::exists(command_path)) {
    std::fprintf(stderr, "bench_search: %s is missing (it is built with bench_search)\n", command_path.c_str());
    return 2;
  }
  const std::string command = command_path.string();
  path_check.command = command;
  path_check.expected = appcore::SimdPathName(appcore::ActiveSimdPath());
  const std::string load_before = bench::LoadAverage();

  // 1. The register set.
  const std::optional<bench::RegisterSet> set_made =
      bench::MakeRegisterSet("bench_search", args.dir, args.seed, args.files, args.lines);
  if (!set_made) return 1;
  const bench::RegisterSet& registers = *set_made;
  const fs::path& dir = registers.dir;
  const regtools::GeneratorResult& generated = registers.generated;
  std::vector<std::string> paths;
  for (const fs::path& p : registers.paths) paths.push_back(p.string());
  std::printf("register set: %zu files, %lld record lines, %lld lines, %.1f MB in %s\n", paths.size(),
              static_cast<long long>(generated.record_lines), static_cast<long long>(generated.lines),
              generated.bytes / 1e6, dir.c_str());
  const double disk_mb = generated.bytes / 1e6;

  auto with_paths = [&](std::vector<std::string> command, const std::vector<std::string>& files) {
    command.insert(command.end(), files.begin(), files.end());
    return command;
  };
  const std::vector<std::string> wc = with_paths({"wc", "-l"}, paths);
  // The commands on one register set; rg's -j1 is added on one core.
  struct Commands {
    std::vector<std::string> exact, fuzzy, fuzzy_page, text, fuzzy_text;
    std::vector<std::string> rg_exact, rg_fuzzy, grep_exact, grep_fuzzy, rg_text, rg_fuzzy_text;
  };
  // The tools' peers of the Text searches: record lines (a digit or '?'
  // after leading codes) holding the name, or a word that sounds like it.
  std::string sounds_alternatives;
  for (const std::string& s : args.sounds) sounds_alternatives += (sounds_alternatives.empty() ? "" : "|") + s;
  const std::string record_line = "(?-u)^[\\x00-\\x20]*[0-9?].*";
  auto commands_for = [&](const fs::path& set_dir, const std::vector<std::string>& files) {
    Commands c;
    c.exact = {command, "--search", set_dir.string(), args.surname};
    c.fuzzy = {command, "--search", set_dir.string(), args.surname, "--fuzzy"};
    c.fuzzy_page = {command, "--search", set_dir.string(), args.surname, "--fuzzy", "--page"};
    c.text = {command, "--search", set_dir.string(), args.surname, "--text"};
    c.fuzzy_text = {command, "--search", set_dir.string(), args.surname, "--text", "--fuzzy"};
    c.rg_exact = with_paths({"rg", "-c", "-i", "-F", args.surname}, files);
    c.grep_exact = with_paths({"grep", "-c", "-i", "-F", args.surname}, files);
    std::vector<std::string> rg_fuzzy = {"rg", "-c", "-i", "-w", "-F"};
    std::vector<std::string> grep_fuzzy = {"grep", "-c", "-i", "-w", "-F"};
    for (const std::string& s : args.sounds) {
      for (auto* command : {&rg_fuzzy, &grep_fuzzy}) {
        command->push_back("-e");
        command->push_back(s);
      }
    }
    c.rg_fuzzy = with_paths(rg_fuzzy, files);
    c.grep_fuzzy = with_paths(grep_fuzzy, files);
    c.rg_text = with_paths({"rg", "-c", "-i", record_line + args.surname}, files);
    c.rg_fuzzy_text = with_paths({"rg", "-c", "-i", record_line + "\\b(" + sounds_alternatives + ")\\b"}, files);
    return c;
  };
  const Commands main_set = commands_for(dir, paths);
  auto one_thread = [](std::vector<std::string> command) {
    command.insert(command.begin() + 1, "-j1");
    return command;
  };

  // Warm cache: every command runs once before anything is timed.
  for (const auto* c : {&wc, &main_set.exact, &main_set.fuzzy, &main_set.grep_exact, &main_set.rg_exact})
    RunTool(*c, c_env);

  std::vector<Row> rows;
  bool all_window_met = true;  // false when the window test ran and failed
  auto process = [&](const std::vector<std::string>& command, std::string* out = nullptr) {
    return [&command, &c_env, out](Samples& s) {
      const ProcessRun r = RunTool(command, c_env);
      s.Add(r);
      if (out) *out = r.out;
    };
  };
  const int n = args.repeats;

  // 2. Whole process against whole process, both sides pinned to the same
  //    cores: the last one, the last two, and all of them.
  const std::vector<int> all_cores = AllowedCores();
  struct CoreSet {
    std::string name;
    std::vector<int> cores;
  };
  std::vector<CoreSet> core_sets;
  if (all_cores.size() > 1) core_sets.push_back({"1 core", {all_cores.back()}});
  if (all_cores.size() > 2) core_sets.push_back({"2 cores", {all_cores.end() - 2, all_cores.end()}});
  core_sets.push_back({"all " + std::to_string(all_cores.size()) + " cores", all_cores});
  std::string exact_out, grep_out, rg1_out, rg_out, fuzzy_out, grep_fuzzy_out, rg1_fuzzy_out, page_out;
  std::string text_out, rg_text_out, fuzzy_text_out, rg_fuzzy_text_out;
  double exact_peak = 0, fuzzy_peak = 0;
  const Row* fuzzy_all = nullptr;
  std::vector<Row> process_rows;
  process_rows.reserve(2 * core_sets.size());
  // The exact rows against rg: 1.0, and 1.3 on the SSE2 path (forced by
  // QV_SIMD, while rg keeps its own widest path).
  const double exact_bar = appcore::ActiveSimdPath() == appcore::SimdPath::kSse2 ? 1.3 : 1.0;
  // Bars: at one core and at all cores.
  auto bar = [&](size_t k, double one, double all) { return k == 0 && core_sets.size() > 1 ? one : k + 1 == core_sets.size() ? all : 0.0; };
  std::vector<std::vector<std::string>> peer_commands;  // kept alive for the runs
  peer_commands.reserve(2 * core_sets.size());
  for (size_t k = 0; k < core_sets.size(); ++k) {
    const CoreSet& cs = core_sets[k];
    PinTo(cs.cores);
    const bool one = cs.cores.size() == 1;
    peer_commands.push_back(one ? one_thread(main_set.rg_exact) : main_set.rg_exact);
    const std::vector<std::string>& rg_exact = peer_commands.back();
    peer_commands.push_back(one ? one_thread(main_set.rg_fuzzy) : main_set.rg_fuzzy);
    const std::vector<std::string>& rg_fuzzy = peer_commands.back();
    const std::string on = ", " + cs.name + " (" + CoreList(cs.cores) + ")";
    Row r{"load + exact search (process)" + on, one ? "rg -c -i -F -j1" : "rg -c -i -F", {}, {}, bar(k, exact_bar, exact_bar)};
    ByTurns(n, r.ours, process(main_set.exact, &exact_out), r.theirs, process(rg_exact, one ? &rg1_out : &rg_out));
    exact_peak = std::max(exact_peak, r.ours.peak_mb);
    process_rows.push_back(r);
    Row f{"load + fuzzy search (process)" + on, one ? "rg -c -i -w -F -j1 -e .." : "rg -c -i -w -F -e ..", {}, {},
          bar(k, 2.0, 1.5)};
    ByTurns(n, f.ours, process(main_set.fuzzy, &fuzzy_out), f.theirs,
            process(rg_fuzzy, one ? &rg1_fuzzy_out : nullptr));
    fuzzy_peak = std::max(fuzzy_peak, f.ours.peak_mb);
    process_rows.push_back(f);
  }
  PinTo(all_cores);
  for (const Row& r : process_rows) rows.push_back(r);
  fuzzy_all = &process_rows.back();
  {
    Row g{"load + exact search (process), all cores", "grep -c -i -F", {}, {}, 0};
    ByTurns(n, g.ours, process(main_set.exact), g.theirs, process(main_set.grep_exact, &grep_out));
    rows.push_back(g);
    if (rg_out.empty()) rg_out = RunTool(main_set.rg_exact, c_env).out;
    if (rg1_out.empty()) rg1_out = RunTool(one_thread(main_set.rg_exact), c_env).out;
    if (rg1_fuzzy_out.empty()) rg1_fuzzy_out = RunTool(one_thread(main_set.rg_fuzzy), c_env).out;
    grep_fuzzy_out = RunTool(main_set.grep_fuzzy, c_env).out;
    text_out = RunTool(main_set.text, c_env).out;
    rg_text_out = RunTool(main_set.rg_text, c_env).out;
    fuzzy_text_out = RunTool(main_set.fuzzy_text, c_env).out;
    rg_fuzzy_text_out = RunTool(main_set.rg_fuzzy_text, c_env).out;
    Row mem{"peak memory, load + exact search (process)", "size on disk", {}, {}, 1.3, true};
    mem.ours.Add(exact_peak, 0);
    mem.theirs.Add(disk_mb, 0);
    rows.push_back(mem);
    Row fmem{"peak memory, load + fuzzy search (process)", "size on disk", {}, {}, 1.3, true};
    fmem.ours.Add(fuzzy_peak, 0);
    fmem.theirs.Add(disk_mb, 0);
    rows.push_back(fmem);

    Row page{"load + fuzzy + arrange + page (process)", "load + fuzzy search, all cores", {}, fuzzy_all->ours, 0};
    for (int i = 0; i < n; ++i) process(main_set.fuzzy_page, &page_out)(page.ours);
    rows.push_back(page);
    Row pmem{"peak memory, load + fuzzy + arrange + page", "size on disk", {}, {}, 0, true};
    pmem.ours.Add(page.ours.peak_mb, 0);
    pmem.theirs.Add(disk_mb, 0);
    rows.push_back(pmem);
  }

  // Two cores against one: the command on two cores by turns with itself on
  // one, each run pinned as it starts (rg likewise, shown beside). Two
  // cores must take at most 1 / 1.4 of one core's time.
  const bool have_two = core_sets.size() > 2;
  auto two_over_one = [&](const Commands& c, const std::string& size, bool fuzzy) {
    if (!have_two) return;
    const std::vector<int>& one_core = core_sets[0].cores;
    const std::vector<int>& two_cores = core_sets[1].cores;
    const std::vector<std::string>& ours = fuzzy ? c.fuzzy : c.exact;
    const std::vector<std::string> rg = fuzzy ? c.rg_fuzzy : c.rg_exact;
    const std::vector<std::string> rg1 = one_thread(rg);
    auto pinned = [&](const std::vector<int>& cores, const std::vector<std::string>& command) {
      return [&cores, &command, &c_env](Samples& s) {
        PinTo(cores);
        s.Add(RunTool(command, c_env));
      };
    };
    Row mine{std::string("two cores over one: ") + (fuzzy ? "fuzzy" : "exact") + " at " + size, "the same, 1 core",
             {}, {}, 1 / 1.4};
    Row theirs{std::string("two cores over one: ") + (fuzzy ? "rg -w -e .." : "rg") + " at " + size,
               "the same, 1 core (-j1)", {}, {}, 0};
    ByTurns(n, {{mine.theirs, pinned(one_core, ours)},
                {mine.ours, pinned(two_cores, ours)},
                {theirs.theirs, pinned(one_core, rg1)},
                {theirs.ours, pinned(two_cores, rg)}});
    PinTo(all_cores);
    rows.push_back(mine);
    rows.push_back(theirs);
  };

  // Growth: time per million record lines on a set of growth_lines against
  // that of the main set, one core and all cores; on that set too, the
  // commands against rg on the same cores. The main set's command runs again
  // by turns with these, so that both sizes are timed under the same load.
  std::string growth_note;
  int64_t big_exact_bap = -1, big_rg_exact_bap = -1, big_fuzzy_bap = -1, big_rg_fuzzy_bap = -1;
  if (args.growth_lines > 0) {
    const std::string growth_dir = args.dir.empty() ? std::string() : args.dir + "-growth";
    if (!growth_dir.empty()) fs::create_directories(growth_dir);
    const std::optional<bench::RegisterSet> big_made =
        bench::MakeRegisterSet("bench_search", growth_dir, args.seed, args.files, args.growth_lines);
    if (!big_made) return 1;
    std::vector<std::string> big_paths;
    for (const fs::path& p : big_made->paths) big_paths.push_back(p.string());
    const Commands big = commands_for(big_made->dir, big_paths);
    const double big_lines = static_cast<double>(big_made->generated.record_lines);
    const double main_lines = static_cast<double>(generated.record_lines);
    growth_note = "growth set: " + std::to_string(big_made->generated.record_lines) + " record lines, " +
                  std::to_string(big_made->generated.bytes / 1000000) + " MB";
    RunTool(big.exact, c_env);
    RunTool(big.fuzzy, c_env);
    auto per_million = [](const Samples& s, double lines) {
      Samples scaled;
      for (size_t i = 0; i < s.wall.size(); ++i) scaled.Add(s.wall[i] * 1e6 / lines, s.cpu[i] * 1e6 / lines);
      return scaled;
    };
    for (size_t k : {size_t{0}, core_sets.size() - 1}) {
      const CoreSet& cs = core_sets[k];
      PinTo(cs.cores);
      const bool one = cs.cores.size() == 1;
      for (int fuzzy = 0; fuzzy < 2; ++fuzzy) {
        Samples big_samples, rg_samples, base_samples;
        std::string big_out, rg_big_out;
        const std::vector<std::string> rg =
            one ? one_thread(fuzzy ? big.rg_fuzzy : big.rg_exact) : (fuzzy ? big.rg_fuzzy : big.rg_exact);
        ByTurns(n, {{big_samples, process(fuzzy ? big.fuzzy : big.exact, &big_out)},
                    {rg_samples, process(rg, &rg_big_out)},
                    {base_samples, process(fuzzy ? main_set.fuzzy : main_set.exact)}});
        (fuzzy ? big_fuzzy_bap : big_exact_bap) = CommandCount(big_out, "baptisms");
        (fuzzy ? big_rg_fuzzy_bap : big_rg_exact_bap) = SumCounts(rg_big_out, IsBaptismFile);
        Row vs{std::string("load + ") + (fuzzy ? "fuzzy" : "exact") + " search (process) at " +
                   std::to_string(big_made->generated.record_lines / 1000) + "k, " + cs.name,
               std::string(fuzzy ? "rg -c -i -w -F" : "rg -c -i -F") + (one ? " -j1" : "") + (fuzzy ? " -e .." : ""),
               big_samples, rg_samples, fuzzy ? bar(k, 2.0, 1.5) : bar(k, exact_bar, exact_bar)};
        rows.push_back(vs);
        Row g{std::string("growth: ") + (fuzzy ? "fuzzy" : "exact") + " per million lines at " +
                  std::to_string(big_made->generated.record_lines / 1000) + "k, " + cs.name,
              "the same at " + std::to_string(generated.record_lines / 1000) + "k",
              per_million(big_samples, big_lines), per_million(base_samples, main_lines), 1.2};
        rows.push_back(g);
        if (k + 1 == core_sets.size()) {
          Row m{std::string("peak memory, load + ") + (fuzzy ? "fuzzy" : "exact") + " search at " +
                    std::to_string(big_made->generated.record_lines / 1000) + "k",
                "size on disk", {}, {}, 1.3, true};
          m.ours.Add(big_samples.peak_mb, 0);
          m.theirs.Add(big_made->generated.bytes / 1e6, 0);
          rows.push_back(m);
        }
      }
    }
    PinTo(all_cores);
    const std::string big_size = std::to_string(big_made->generated.record_lines / 1000) + "k";
    two_over_one(big, big_size, false);
    two_over_one(big, big_size, true);
    if (!args.keep) big_made->Remove();
  }

  // The large set: the exact search at lines_large against rg on the same
  // cores, and (shown) how much longer each takes than on the main set,
  // both sets by turns.
  std::string large_note;
  int64_t large_exact_bap = -1, large_rg_exact_bap = -1;
  if (args.large_lines > 0) {
    const std::string large_dir = args.dir.empty() ? std::string() : args.dir + "-large";
    if (!large_dir.empty()) fs::create_directories(large_dir);
    const std::optional<bench::RegisterSet> large_made =
        bench::MakeRegisterSet("bench_search", large_dir, args.seed, args.files, args.large_lines);
    if (!large_made) return 1;
    std::vector<std::string> large_paths;
    for (const fs::path& p : large_made->paths) large_paths.push_back(p.string());
    const Commands large = commands_for(large_made->dir, large_paths);
    const std::string size = std::to_string(large_made->generated.record_lines / 1000) + "k";
    large_note = "large set: " + std::to_string(large_made->generated.record_lines) + " record lines, " +
                 std::to_string(large_made->generated.bytes / 1000000) + " MB";
    RunTool(large.exact, c_env);
    RunTool(large.rg_exact, c_env);
    for (size_t k : {size_t{0}, core_sets.size() - 1}) {
      const CoreSet& cs = core_sets[k];
      PinTo(cs.cores);
      const bool one = cs.cores.size() == 1;
      const std::vector<std::string> rg_large = one ? one_thread(large.rg_exact) : large.rg_exact;
      const std::vector<std::string> rg_main = one ? one_thread(main_set.rg_exact) : main_set.rg_exact;
      Samples ours_large, rg_large_samples, ours_main, rg_main_samples;
      std::string out, rg_out_large;
      ByTurns(n, {{ours_large, process(large.exact, &out)},
                  {rg_large_samples, process(rg_large, &rg_out_large)},
                  {ours_main, process(main_set.exact)},
                  {rg_main_samples, process(rg_main)}});
      large_exact_bap = CommandCount(out, "baptisms");
      large_rg_exact_bap = SumCounts(rg_out_large, IsBaptismFile);
      // Held to rg itself at this size, as the main set's rows are (a
      // growth held to rg's would count against the command its smaller
      // fixed cost); the growth is shown.
      rows.push_back({"load + exact search (process) at " + size + ", " + cs.name,
                      std::string("rg -c -i -F") + (one ? " -j1" : ""), ours_large, rg_large_samples,
                      k == 0 ? exact_bar : 0.0});
      Row g{"growth: exact, " + std::to_string(generated.record_lines / 1000) + "k to " + size + ", " + cs.name,
            std::string("the same of rg") + (one ? " -j1" : ""), {}, {}, 0};
      g.factor = true;
      g.ours.Add(ours_large.MedianWall() / ours_main.MedianWall(), ours_large.MedianCpu() / ours_main.MedianCpu());
      g.theirs.Add(rg_large_samples.MedianWall() / rg_main_samples.MedianWall(),
                   rg_large_samples.MedianCpu() / rg_main_samples.MedianCpu());
      rows.push_back(g);
    }
    PinTo(all_cores);
    two_over_one(large, size, false);
    if (!args.keep) large_made->Remove();
  }

  // The window: from the click on "Search" to the page drawn with its
  // text, offscreen, against the whole fuzzy (and exact) search command;
  // and the window's peak memory through a fuzzy search.
  std::string window_note;
  const std::string window_tests = QV_WINDOW_TESTS;
  if (!args.window) {
    window_note = "window rows not measured (--no-window)";
  } else if (window_tests.empty() || !fs::exists(window_tests)) {
    window_note = "window rows not measured: the window tests are not built";
  } else {
    // The commands the clicks are held to run by turns with the window.
    Samples fuzzy_command, exact_command;
    Row click{"window click to page, fuzzy", "load + fuzzy search (process), all cores", {}, {}, 1.5};
    Row exact_click{"window click to page, exact", "load + exact search (process), all cores", {}, {}, 0};
    Row again{"window click to page, fuzzy again", "load + fuzzy search (process), all cores", {}, {}, 0};
    Row peak{"peak memory, window after a fuzzy search", "size on disk", {}, {}, 1.8, true};
    bool measured = true;
    for (int i = 0; i < n && measured; ++i) {
      WindowRun w;
      measured = RunWindow(window_tests, dir, generated.record_lines, w, window_note);
      if (!measured) break;
      click.ours.Add(w.fuzzy, 0);
      exact_click.ours.Add(w.exact, 0);
      again.ours.Add(w.again, 0);
      if (w.peak_mb >= 0) peak.ours.peak_mb = std::max(peak.ours.peak_mb, w.peak_mb);
      process(main_set.fuzzy)(fuzzy_command);
      process(main_set.exact)(exact_command);
    }
    click.theirs = again.theirs = fuzzy_command;
    exact_click.theirs = exact_command;
    if (measured) {
      peak.ours.Add(peak.ours.peak_mb, 0);
      peak.theirs.Add(disk_mb, 0);
      for (const Row* r : {&click, &again, &exact_click, &peak}) rows.push_back(*r);
    } else {
      all_window_met = false;
    }
  }

  // 3. In memory: loading against wc -l, searching against one memchr
  //    pass over the loaded bytes.
  appcore::DataFileSet set;
  {
    Row r{"load " + std::to_string(paths.size()) + " files, in-process, all cores", "wc -l, a process, 1 thread", {}, {}, 3};
    ByTurns(
        n, r.ours,
        [&](Samples& s) {
          set = appcore::DataFileSet();
          Timed(s, [&] { set.MakeFileList(dir.string(), "", nullptr); });
        },
        r.theirs, process(wc));
    rows.push_back(r);
  }
  int64_t newlines = 0;
  auto memchr_pass = [&](Samples& s) {
    Timed(s, [&] {
      int64_t count = 0;
      for (const appcore::DataFileEntry& e : set.Files()) {
        const std::string_view b = e.data->Bytes();
        for (const char* p = b.data(); (p = static_cast<const char*>(std::memchr(p, '\n', b.data() + b.size() - p)));
             ++p)
          ++count;
      }
      newlines = count;
    });
  };
  appcore::SearchResult exact_result, fuzzy_result;
  {
    const appcore::SearchOptions exact = AllRoles(args.surname, set.Count(), false);
    Row r{"in-memory exact search, all cores", "one memchr pass, 1 thread", {}, {}, 3};
    ByTurns(
        n, r.ours, [&](Samples& s) { Timed(s, [&] { exact_result = appcore::RunSearch(set, exact, nullptr); }); },
        r.theirs, memchr_pass);
    rows.push_back(r);
    const appcore::SearchOptions fuzzy = AllRoles(args.surname, set.Count(), true);
    Row f{"in-memory fuzzy search, all cores", "one memchr pass, 1 thread", {}, r.theirs, 0};
    for (int i = 0; i < n; ++i) Timed(f.ours, [&] { fuzzy_result = appcore::RunSearch(set, fuzzy, nullptr); });
    rows.push_back(f);
  }

  // 4. Arranging against sort: the baptism record lines as hits, and the
  //    worst case, where every hit has a sound group of its own.
  std::vector<std::string> hits, records;
  for (int slot = 0; slot < set.Count(); ++slot) {
    const appcore::DataFileEntry& entry = set.File(slot);
    if (entry.kind != appcore::FileKind::kBaptisms) continue;
    for (int i = 1; i < entry.data->LineCount(); ++i)
      if (entry.data->Flags(i) & appcore::DataFile::kRecordLine)
        records.push_back(appcore::HitLine(appcore::TrimLine(entry.data->Line(i)), slot + 1, true));
  }
  hits.assign(records.begin(), records.begin() + std::min<int64_t>(args.arrange_hits, records.size()));
  // The worst case: the records over again until there are enough, the
  // child's field of each a name no other hit sounds like.
  std::vector<std::string> worst;
  for (size_t k = 0; static_cast<int64_t>(worst.size()) < args.worst_hits && !records.empty(); ++k) {
    const std::string& hit = records[k % records.size()];
    const size_t semi = hit.find(';');
    const size_t semi2 = semi == std::string::npos ? semi : hit.find(';', semi + 1);
    if (semi2 != std::string::npos)
      worst.push_back(hit.substr(0, semi + 1) + " " + DistinctSoundName(static_cast<int64_t>(worst.size())) +
                      hit.substr(semi2));
    else if (k >= records.size() && worst.empty())
      break;  // no record has a child's field
  }
  size_t worst_groups = 0;
  auto arrange_row = [&](const std::string& what, const std::vector<std::string>& lines, size_t* groups) {
    const fs::path file = dir / "hits.lst";
    {
      std::ofstream out(file, std::ios::binary);
      for (const std::string& h : lines) out << h << '\n';
    }
    const std::vector<std::string> sort = {"sort", file.string()};
    Row r{what + " (" + std::to_string(lines.size()) + " hits), in-process, 8 threads", "GNU sort, a process", {}, {}, 2};
    ByTurns(
        n, r.ours,
        [&](Samples& s) {
          std::vector<std::string> copy = lines;  // the hit list the search hands over
          appcore::ArrangeOutcome outcome;
          Timed(s, [&] { outcome = appcore::Arrange(std::move(copy), 8, {}); });
          if (groups) *groups = static_cast<size_t>(std::count(outcome.lines.begin(), outcome.lines.end(), ""));
        },
        r.theirs, process(sort));
    rows.push_back(r);
    fs::remove(file);
  };
  arrange_row("arrange", hits, nullptr);
  arrange_row("arrange, one group per hit", worst, &worst_groups);

  // 5. Hit counts against the tools.
  const auto all_files = [](const std::string&) { return true; };
  const int64_t exact_bap = CommandCount(exact_out, "baptisms");
  const int64_t grep_bap = SumCounts(grep_out, IsBaptismFile);
  const int64_t fuzzy_bap = CommandCount(fuzzy_out, "baptisms");
  const int64_t grep_fuzzy_bap = SumCounts(grep_fuzzy_out, IsBaptismFile);
  struct CountCheck {
    std::string what;
    int64_t ours, theirs;
  };
  std::vector<CountCheck> counts = {
      {"exact baptism hits vs grep -c -i -F over *_bap.txt", exact_bap, grep_bap},
      {"exact baptism hits vs rg -c -i -F -j1 over *_bap.txt", exact_bap, SumCounts(rg1_out, IsBaptismFile)},
      {"exact baptism hits vs rg -c -i -F over *_bap.txt", exact_bap, SumCounts(rg_out, IsBaptismFile)},
      {"fuzzy baptism hits vs grep -c -i -w -F -e .. over *_bap.txt", fuzzy_bap, grep_fuzzy_bap},
      {"fuzzy baptism hits vs rg -c -i -w -F -j1 -e .. over *_bap.txt", fuzzy_bap,
       SumCounts(rg1_fuzzy_out, IsBaptismFile)},
      {"Text hits, every file, vs rg -c -i: record lines holding the name", CommandCount(text_out, "hits"),
       SumCounts(rg_text_out, all_files)},
      {"fuzzy Text hits, every file, vs rg -c -i: record lines, a word of ..", CommandCount(fuzzy_text_out, "hits"),
       SumCounts(rg_fuzzy_text_out, all_files)},
      {"in-memory exact hits vs the command's", exact_result.hit_count, CommandCount(exact_out, "hits")},
      {"in-memory fuzzy hits vs the command's", fuzzy_result.hit_count, CommandCount(fuzzy_out, "hits")},
      {"lines counted by memchr vs generated", newlines, generated.lines},
      {"groups arranged, one per hit", static_cast<int64_t>(worst_groups), static_cast<int64_t>(worst.size())},
  };
  if (large_exact_bap >= 0)
    counts.push_back({"large set: exact baptism hits vs rg over *_bap.txt", large_exact_bap, large_rg_exact_bap});
  if (big_exact_bap >= 0) {
    counts.push_back({"growth set: exact baptism hits vs rg over *_bap.txt", big_exact_bap, big_rg_exact_bap});
    counts.push_back({"growth set: fuzzy baptism hits vs rg -w -e .. over *_bap.txt", big_fuzzy_bap, big_rg_fuzzy_bap});
  }
  bool all_met = all_window_met;
  if (!window_note.empty()) std::printf("\n%s\n", window_note.c_str());
  std::printf("\nhit counts (all files: ours %lld, grep %lld lines holding the name)\n",
              static_cast<long long>(CommandCount(exact_out, "hits")),
              static_cast<long long>(SumCounts(grep_out, all_files)));
  for (const CountCheck& c : counts) {
    const bool same = c.ours == c.theirs;
    all_met = all_met && same;
    std::printf("  %-62s %10lld %10lld  %s\n", c.what.c_str(), static_cast<long long>(c.ours),
                static_cast<long long>(c.theirs), same ? "equal" : "DIFFER");
  }

  // 6. Report.
  std::printf("\nwarm cache (every command ran once before timing); tools with LC_ALL=C; %d runs a side, by turns;\n"
              "medians; whole processes pinned, both sides to the same cores\n",
              n);
  if (!growth_note.empty()) std::printf("%s\n", growth_note.c_str());
  if (!large_note.empty()) std::printf("%s\n", large_note.c_str());
  std::printf("vector path: %s (QV_SIMD %s; widest on this processor: %s)\n",
              appcore::SimdPathName(appcore::ActiveSimdPath()), std::getenv("QV_SIMD") ? std::getenv("QV_SIMD") : "unset",
              appcore::SimdPathName(appcore::WidestSimdPath()));
  const bool path_held = path_check.wrong.empty();
  if (path_held)
    std::printf("the command ran %s in each of its %d runs\n", path_check.expected.c_str(), path_check.runs);
  else
    std::printf("PATH DIFFERS: %zu of the command's %d runs ran %s, not %s: its rows did not measure that path\n",
                path_check.wrong.size(), path_check.runs, path_check.wrong.front().c_str(),
                path_check.expected.c_str());
  std::printf("load average before: %s, after: %s; %zu cores to run on\n\n", load_before.c_str(),
              bench::LoadAverage().c_str(), all_cores.size());
  std::printf("%-62s %-34s %9s %9s %9s %9s %9s %7s %5s\n", "measurement", "peer", "median", "min", "cpu",
              "peer med", "peer cpu", "ratio", "bar");
  for (const Row& r : rows) {
    const double ours = r.ours.MedianWall(), theirs = r.theirs.MedianWall();
    const double ratio = theirs > 0 ? ours / theirs : 0;
    const bool met = r.bar == 0 || bench::Met(ratio, r.bar);
    all_met = all_met && met;
    const char* unit = r.memory ? "MB" : r.factor ? "x" : "s";
    const char* cpu_unit = r.memory || r.factor ? "" : "s";
    char bar[16] = "-";
    if (r.bar > 0) std::snprintf(bar, sizeof bar, "%.3g", r.bar);
    std::printf("%-62s %-34s %7.3f%-2s %7.3f%-2s %7.3f%-2s %7.3f%-2s %7.3f%-2s %7.2f %5s  %s\n", r.what.c_str(),
                r.peer.c_str(), ours, unit, r.ours.MinWall(), unit, r.ours.MedianCpu(), cpu_unit, theirs, unit,
                r.theirs.MedianCpu(), cpu_unit, ratio, bar, r.bar == 0 ? "" : met ? "met" : "MISSED");
  }
  if (!args.keep) registers.Remove();
  // Rows of another path than the one named are a false report, --check or
  // not.
  if (!path_held) return 1;
  return args.check && !all_met ? 1 : 0;
}
