// The search as the window runs it, timed and weighed on a generated
// register set: from the click on "Search" to the first page holding its
// text (exact and with every fuzzy box), beside loading and searching the
// same set in the process without a window; and the peak memory of the
// window through a fuzzy search beside the set's size on disk.
//
// QV_WINDOW_SEARCH_LINES sets the record lines (default 100,000 in 20 files;
// from 1,000,000 on, 100 files); QV_WINDOW_SEARCH_DIR names a register
// folder to search instead of generating one (bench_search passes its own).
// The figures are printed for runs by hand and, on a line of their own
// beginning "window figures:", for bench_search (bench/README.md); the
// page's content is checked.
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/core/data_file_set.h"
#include "app/core/search.h"
#include "tools/register_generator.h"
#include "window_test_support.h"

using namespace window_test;

namespace {

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

int64_t StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key, 0) == 0) return std::atoll(line.c_str() + std::strlen(key));
  return -1;
}

class WindowSearchSpeed : public WindowTest {
protected:
  static int64_t Lines() {
    const char* v = std::getenv("QV_WINDOW_SEARCH_LINES");
    return v ? std::atoll(v) : 100'000;
  }
  void SetUp() override {
    WindowTest::SetUp();
    if (const char* given = std::getenv("QV_WINDOW_SEARCH_DIR")) {
      regs_ = given;
      for (const fs::directory_entry& e : fs::directory_iterator(regs_))
        if (e.is_regular_file()) disk_mb_ += static_cast<double>(e.file_size()) / 1e6;
    } else {
      Generate();
    }
    WriteFile(dir / "Quorvane.INI", "[Directories]\r\nSearch=" + regs_.string() + "\r\nSave=" + dir.string() + "\r\n");
  }
  void Generate() {
    regtools::GeneratorOptions options;
    options.seed = 5;
    options.out_dir = dir / "regs";
    fs::create_directories(options.out_dir);
    options.files = Lines() >= 1'000'000 ? 100 : 20;
    options.record_lines = Lines();
    disk_mb_ = regtools::GenerateRegisters(options).bytes / 1e6;
    regs_ = options.out_dir;
  }
  // Seconds from the click to the first page drawn with its text.
  double ClickToPage(const char* name) {
    Type(name);
    const double start = Now();
    PressSearch();
    window->CurrentMemo()->repaint();
    const double seconds = Now() - start;
    EXPECT_GE(ParHolding(Page(), name), 0) << name;
    Settle();
    return seconds;
  }
  // Loading and searching the set in this process, as the search command
  // of bench_search does: the least of three runs, word index made afresh.
  double LoadAndSearch(bool fuzzy) const {
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
      const double start = Now();
      appcore::DataFileSet set;
      set.MakeFileList(regs_.string(), "", nullptr);
      appcore::SearchOptions o;
      o.search_text = "Baker";
      o.father = o.mother = o.children = o.witness = o.marriages = true;
      o.fuzzy_father = o.fuzzy_mother = o.fuzzy_witness = fuzzy;
      o.ticked.assign(static_cast<size_t>(set.Count()), true);
      const appcore::SearchResult result = appcore::RunSearch(set, o, nullptr);
      EXPECT_GT(result.hit_count, 0);
      best = std::min(best, Now() - start);
    }
    return best;
  }

  fs::path regs_;
  double disk_mb_ = 0;
};

TEST_F(WindowSearchSpeed, ClickToPageAndPeakMemory) {
  Settle();
  std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
  const int64_t before_kb = StatusKb("VmRSS:");
  window->FormActivate();  // loads the set
  Settle();
  for (int n : {1, 2, 3, 4, 5, 6, 7, 8}) SetBox(n, true);  // every role, sound-alikes, marriages
  const double fuzzy_first = ClickToPage("Baker");
  const double fuzzy_again = ClickToPage("Baker");
  const int64_t peak_kb = StatusKb("VmHWM:");
  for (int n : {5, 6, 7}) SetBox(n, false);
  const double exact = ClickToPage("Baker");
  const double command_fuzzy = LoadAndSearch(true), command_exact = LoadAndSearch(false);

  std::printf("%lld record lines, %.1f MB on disk; load average %s", static_cast<long long>(Lines()), disk_mb_,
              ReadFile("/proc/loadavg").c_str());
  std::printf("click to page, fuzzy (words cut first) %7.3f s  load + fuzzy search %7.3f s  ratio %5.2f (bar 1.5)\n",
              fuzzy_first, command_fuzzy, fuzzy_first / command_fuzzy);
  std::printf("click to page, fuzzy again             %7.3f s\n", fuzzy_again);
  std::printf("click to page, exact                   %7.3f s  load + exact search %7.3f s  ratio %5.2f\n", exact,
              command_exact, exact / command_exact);
  const double peak_mb = before_kb > 0 && peak_kb >= before_kb ? (peak_kb - before_kb) * 1024 / 1e6 : -1;
  if (peak_mb >= 0)
    std::printf("peak memory of the window through a fuzzy search: %.1f MB over its start, %.2f times the set on disk "
                "(bar 1.8)\n",
                peak_mb, peak_mb / disk_mb_);
  std::printf("window figures: fuzzy %.6f again %.6f exact %.6f peak_mb %.3f disk_mb %.3f\n", fuzzy_first, fuzzy_again,
              exact, peak_mb, disk_mb_);
  std::fflush(stdout);
}

}  // namespace
