// bench_search: the search core against standard tools on a generated
// register set (see README.md). Prints one row per measurement with the
// ratio to its bar; --check makes it exit 1 when a bar is missed.
#include "bench/bench_util.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/core/arrange.h"
#include "app/core/data_file_set.h"
#include "app/core/search.h"
#include "tools/register_generator.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using bench::Best;
using bench::Clock;
using bench::Seconds;

struct Args {
  int64_t lines = 1'000'000;
  int files = 100;
  int64_t arrange_hits = 100'000;
  int repeats = 5;
  uint64_t seed = 1;
  std::string surname = "Baker";
  std::string dir;  // generate into a temporary folder when empty
  bool keep = false;
  bool check = false;
};

Args ParseArgs(int argc, char** argv) {
  Args a;
  bench::OptionReader options(argc, argv, "bench_search",
                               "[--lines N] [--files N] [--hits N] [--repeats N] [--seed N]\n"
                               "       [--surname NAME] [--dir DIR] [--keep] [--check]");
  for (std::string arg; options.Next(arg);) {
    if (arg == "--lines") a.lines = options.Number();
    else if (arg == "--files") a.files = static_cast<int>(options.Number());
    else if (arg == "--hits") a.arrange_hits = options.Number();
    else if (arg == "--repeats") a.repeats = std::max<int>(1, static_cast<int>(options.Number()));
    else if (arg == "--seed") a.seed = static_cast<uint64_t>(options.Number());
    else if (arg == "--surname") a.surname = options.Value();
    else if (arg == "--dir") a.dir = options.Value();
    else if (arg == "--keep") a.keep = true;
    else if (arg == "--check") a.check = true;
    else options.Fail("unknown option " + arg);
  }
  if (a.files < 1 || a.lines < 1) options.Fail("--files and --lines must be at least 1");
  return a;
}

// Runs a command with its output in a pipe (grep answers at once when its
// output is /dev/null) and returns that output.
std::string RunTool(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
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
  pid_t pid;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    throw std::runtime_error("cannot run " + argv[0]);
  }
  std::string text;
  char buffer[1 << 16];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return text;
}

int64_t ProcStatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::strtoll(line.c_str() + std::strlen(field), nullptr, 10);
  return -1;
}

// Starts a fresh peak: the kernel forgets the high-water mark of the RSS.
void ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

struct Row {
  std::string what;
  double ours = 0, theirs = 0, bar = 0;
  std::string unit;
};

int64_t SumCounts(const std::string& grep_output) {
  int64_t total = 0;
  size_t at = 0;
  while (at < grep_output.size()) {
    const size_t end = grep_output.find('\n', at);
    const std::string line = grep_output.substr(at, end - at);
    const size_t colon = line.rfind(':');
    total += std::strtoll(line.c_str() + (colon == std::string::npos ? 0 : colon + 1), nullptr, 10);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  const Args args = ParseArgs(argc, argv);
  const std::vector<std::string> c_env = {"LC_ALL=C", "PATH=" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin")};

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

  std::vector<std::string> wc = {"wc", "-l"};
  wc.insert(wc.end(), paths.begin(), paths.end());
  RunTool(wc, c_env);  // both sides read from the page cache

  std::vector<Row> rows;

  // 2. Loading against wc -l, and memory.
  const double wc_time = Best(args.repeats, [&] { RunTool(wc, c_env); });
  double load_time = 1e300;
  appcore::DataFileSet set;
  int64_t peak_kb = 0;
  for (int i = 0; i < args.repeats; ++i) {
    set = appcore::DataFileSet();
    ResetPeak();
    const auto start = Clock::now();
    set.MakeFileList(dir.string(), "", [](const std::string& m) { std::fprintf(stderr, "%s\n", m.c_str()); });
    load_time = std::min(load_time, Seconds(Clock::now() - start));
    peak_kb = std::max(peak_kb, ProcStatusKb("VmHWM:"));
  }
  rows.push_back({"load " + std::to_string(set.Count()) + " files vs wc -l", load_time, wc_time, 3, "s"});

  // 3. Exact search (all roles, no fuzzy) and fuzzy search (all fuzzy boxes)
  //    against grep -c -i -F.
  std::vector<std::string> grep = {"grep", "-c", "-i", "-F", args.surname};
  grep.insert(grep.end(), paths.begin(), paths.end());
  int64_t grep_lines = 0;
  const double grep_time = Best(args.repeats, [&] { grep_lines = SumCounts(RunTool(grep, c_env)); });

  appcore::SearchOptions exact;
  exact.search_text = args.surname;
  exact.father = exact.mother = exact.children = exact.witness = true;
  exact.ticked.assign(static_cast<size_t>(set.Count()), true);
  appcore::SearchResult exact_result;
  const double exact_time = Best(args.repeats, [&] { exact_result = appcore::RunSearch(set, exact, nullptr); });
  rows.push_back({"exact search \"" + args.surname + "\" vs grep -c -i -F", exact_time, grep_time, 1.5, "s"});

  appcore::SearchOptions fuzzy = exact;
  fuzzy.fuzzy_father = fuzzy.fuzzy_mother = fuzzy.fuzzy_witness = fuzzy.fuzzy_text = true;
  appcore::SearchResult fuzzy_result;
  const double fuzzy_time = Best(args.repeats, [&] { fuzzy_result = appcore::RunSearch(set, fuzzy, nullptr); });
  rows.push_back({"fuzzy search \"" + args.surname + "\" vs grep -c -i -F", fuzzy_time, grep_time, 4, "s"});

  // 4. Arranging hits against sort: the first record lines of the baptism
  //    files, tagged as hits are.
  std::vector<std::string> hits;
  for (int slot = 0; slot < set.Count() && static_cast<int64_t>(hits.size()) < args.arrange_hits; ++slot) {
    const appcore::DataFileEntry& entry = set.File(slot);
    if (entry.kind != appcore::FileKind::kBaptisms) continue;
    for (int i = 1; i < entry.data->LineCount() && static_cast<int64_t>(hits.size()) < args.arrange_hits; ++i)
      if (entry.data->Flags(i) & appcore::DataFile::kRecordLine)
        hits.push_back(appcore::HitLine(appcore::TrimLine(entry.data->Line(i)), slot + 1, true));
  }
  const fs::path hit_file = dir / "hits.lst";
  {
    std::ofstream out(hit_file, std::ios::binary);
    for (const std::string& h : hits) out << h << '\n';
  }
  const std::vector<std::string> sort = {"sort", hit_file.string()};
  const double sort_time = Best(args.repeats, [&] { RunTool(sort, c_env); });
  size_t arranged_lines = 0;
  double arrange_time = 1e300;
  for (int i = 0; i < args.repeats; ++i) {
    std::vector<std::string> copy = hits;  // the hit list the search hands over
    const auto start = Clock::now();
    appcore::ArrangeOutcome outcome = appcore::Arrange(std::move(copy), 8, {});
    arrange_time = std::min(arrange_time, Seconds(Clock::now() - start));
    arranged_lines = outcome.lines.size();
  }
  rows.push_back({"arrange " + std::to_string(hits.size()) + " hits vs sort", arrange_time, sort_time, 2, "s"});

  const double disk_mb = generated.bytes / 1e6;
  rows.push_back({"peak memory (VmHWM) loaded vs size on disk", peak_kb * 1024 / 1e6, disk_mb, 2, "MB"});

  // 5. Report.
  std::printf("\nexact: %lld hits / %lld records / %lld lines; grep: %lld matching lines\n",
              static_cast<long long>(exact_result.hit_count), static_cast<long long>(exact_result.record_count),
              static_cast<long long>(exact_result.line_count), static_cast<long long>(grep_lines));
  std::printf("fuzzy: %lld hits, %zu keywords; arranged: %zu lines\n",
              static_cast<long long>(fuzzy_result.hit_count), fuzzy_result.keywords.size(), arranged_lines);
  std::printf("tools run with LC_ALL=C; best of %d runs each\n\n", args.repeats);
  std::printf("%-52s %12s %12s %8s %6s  %s\n", "measurement", "quorvane", "reference", "ratio", "bar", "");
  bool all_met = true;
  for (const Row& r : rows) {
    const double ratio = r.theirs > 0 ? r.ours / r.theirs : 0;
    const bool met = ratio <= r.bar;
    all_met = all_met && met;
    std::printf("%-52s %10.4f%-2s %10.4f%-2s %8.2f %6.1f  %s\n", r.what.c_str(), r.ours, r.unit.c_str(), r.theirs,
                r.unit.c_str(), ratio, r.bar, met ? "met" : "MISSED");
  }
  struct rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("\nru_maxrss over the whole run: %.1f MB\n", usage.ru_maxrss * 1024 / 1e6);

  if (!args.keep) registers.Remove();
  return args.check && !all_met ? 1 : 0;
}
