// The window stays answerable through its long commands on a large register
// set: the search (with its arranging), "Sort by Mother" (arranging the last
// search's baptisms) and "Sort by Husband" over an opened marriage register.
// A self-posting probe measures how long a posted event waits; Cancel is
// clicked from a timer and the command must end soon after.
//
// QV_LONG_WORK_LINES sets the record lines of the set (default 1,000,000,
// half of them marriages); the times are printed for runs by hand.
#include <time.h>

#include <QMetaObject>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/register_generator.h"
#include "window_test_support.h"
#include "support/sanitizer.h"

using namespace window_test;

namespace {

int64_t WallNs() { return std::chrono::steady_clock::now().time_since_epoch().count(); }
// CPU time of this (the GUI) thread: what the window itself spends between
// two turns of its event loop, whatever else a loaded machine runs.
int64_t CpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

// Posts itself again each time it is delivered; records the longest wait.
class EventProbe {
public:
  explicit EventProbe(QObject* context) : context_(context) {}
  void Start() {
    running_ = true;
    Post();
  }
  void Stop() { running_ = false; }
  double LongestWallMs() const { return longest_wall_ / 1e6; }
  double LongestCpuMs() const { return longest_cpu_ / 1e6; }
  int Delivered() const { return delivered_; }

private:
  void Post() {
    const int64_t wall = WallNs(), cpu = CpuNs();
    QMetaObject::invokeMethod(
        context_,
        [this, wall, cpu] {
          if (!running_) return;
          longest_wall_ = std::max(longest_wall_, WallNs() - wall);
          longest_cpu_ = std::max(longest_cpu_, CpuNs() - cpu);
          ++delivered_;
          Post();
        },
        Qt::QueuedConnection);
  }
  QObject* context_;
  bool running_ = false;
  int64_t longest_wall_ = 0, longest_cpu_ = 0;
  int delivered_ = 0;
};

struct Timing {
  double latency_wall_ms = 0, latency_cpu_ms = 0;  // longest wait of a posted event
  double total_ms = 0;
  bool cancel_clicked = false;
  double cancel_to_end_wall_ms = 0, cancel_to_end_cpu_ms = 0;
};

class LongWorkWindowTest : public WindowTest {
protected:
  static int64_t Lines() {
    const char* v = std::getenv("QV_LONG_WORK_LINES");
    return v ? std::atoll(v) : 1'000'000;
  }
  static fs::path& Regs() {
    static fs::path regs;
    return regs;
  }
  static qvtest::TempDir& SetDir() {
    static qvtest::TempDir d;
    return d;
  }
  // Of a plan of a baptism and a marriage register, those whose names keep
  // takes, each of exactly Lines() record lines, written into dir.
  static fs::path WritePlannedRegisters(uint64_t seed, const fs::path& dir,
                                        const std::function<bool(const std::string&)>& keep) {
    regtools::GeneratorOptions options;
    options.seed = seed;
    options.out_dir = dir;
    fs::create_directories(options.out_dir);
    options.files = 2;
    options.record_lines = 2 * Lines();
    for (regtools::RegisterFilePlan plan : regtools::PlanRegisters(options)) {
      if (!keep(plan.file_name)) continue;
      plan.record_lines = Lines();
      std::ofstream out(options.out_dir / plan.file_name, std::ios::binary);
      regtools::ComposeRegisterFile(plan, [&](regtools::LineKind, std::string_view text) { out << text << "\r\n"; });
    }
    return options.out_dir;
  }
  // One generated set for all the cases: a baptism and a marriage register.
  static void SetUpTestSuite() {
    regtools::GeneratorOptions options;
    options.seed = 17;
    options.out_dir = SetDir().path() / "regs";
    fs::create_directories(options.out_dir);
    options.files = 2;
    options.record_lines = Lines();
    const int64_t start = WallNs();
    regtools::GenerateRegisters(options);
    std::printf("generated %lld record lines in %.1f s\n", static_cast<long long>(Lines()), (WallNs() - start) / 1e9);
    Regs() = options.out_dir;
  }
  void SetUp() override {
    WindowTest::SetUp();
    WriteFile(dir / "Quorvane.INI", "[Directories]\r\nSearch=" + Regs().string() + "\r\nSave=" + dir.string() + "\r\n");
    Activate();
  }
  void Activate() {
    window->FormActivate();
    Settle();
    for (int n : {1, 2, 3, 4, 5, 6, 7, 8}) SetBox(n, true);  // every role, sound-alikes, marriages
  }
  // A fresh window on the same set, for another pass of the commands.
  void Reopen() {
    window.reset();
    Settle();
    prompts.open_names.clear();
    Open();
    Activate();
  }

  // Runs command with the probe on; cancel_after_ms >= 0 clicks Cancel then.
  Timing Measure(const std::function<void()>& command, int cancel_after_ms = -1) {
    Timing run;
    EventProbe probe(window.get());
    int64_t clicked_wall = 0, clicked_cpu = 0;
    if (cancel_after_ms >= 0)
      QTimer::singleShot(cancel_after_ms, window.get(), [&] {
        if (!window->Button3->isVisible()) return;
        run.cancel_clicked = true;
        clicked_wall = WallNs();
        clicked_cpu = CpuNs();
        QTest::mouseClick(window->Button3, Qt::LeftButton);
      });
    const int64_t start = WallNs();
    probe.Start();
    command();
    const int64_t end_wall = WallNs(), end_cpu = CpuNs();
    probe.Stop();
    run.total_ms = (end_wall - start) / 1e6;
    run.latency_wall_ms = probe.LongestWallMs();
    run.latency_cpu_ms = probe.LongestCpuMs();
    if (run.cancel_clicked) {
      run.cancel_to_end_wall_ms = (end_wall - clicked_wall) / 1e6;
      run.cancel_to_end_cpu_ms = (end_cpu - clicked_cpu) / 1e6;
    }
    Settle();
    return run;
  }
  static void Print(const char* what, const Timing& r) {
    std::printf("%-22s total %8.1f ms  longest event wait %6.1f ms (cpu %6.1f)", what, r.total_ms, r.latency_wall_ms,
                r.latency_cpu_ms);
    if (r.cancel_clicked)
      std::printf("  cancel to end %6.1f ms (cpu %6.1f)", r.cancel_to_end_wall_ms, r.cancel_to_end_cpu_ms);
    std::printf("\n");
    std::fflush(stdout);
  }
  // The bars are held on this thread's own time; the wall times are printed.
  // The sanitizers make every step several times slower (a cancelled sort's
  // longest wait: 4.5 ms in the plain build, 80-120 ms in theirs), and their
  // build's event bar is three times the plain build's.
  static constexpr double kLatencyBarMs = qvtest::kSanitizerBuild ? 300 : 100, kCancelBarMs = 200;
  static bool MeetsBars(const Timing& r, double cancel_bar_ms) {
    return r.latency_cpu_ms < kLatencyBarMs && (!r.cancel_clicked || r.cancel_to_end_cpu_ms < cancel_bar_ms);
  }
  // Each command's best over the passes.
  struct Best {
    double latency_cpu_ms = 1e9, cancel_to_end_cpu_ms = 1e9;
    bool cancel_clicked = false;
  };
  using Timings = std::vector<std::pair<std::string, Timing>>;
  void Check(const char* what, const Timing& r, Timings& out) {
    Print(what, r);
    out.emplace_back(what, r);
  }
  // One pass of the commands on the current window. What they leave is
  // checked on every pass; the times are collected in out.
  void RunCommands(Timings& out);
  // Runs passes of run (each after the first on a fresh window) until one
  // meets the bars with at least cancels_wanted Cancels clicked, three at
  // most; each command's best times are held to the bars.
  void RunPasses(const std::function<void(Timings&)>& run, double cancel_bar_ms, int cancels_wanted);
  void SearchCommand() {
    Type("Smith");
    PressSearch();
  }
  void OpenMarriages() {
    for (const auto& entry : fs::directory_iterator(Regs()))
      if (entry.path().filename().string().find("_marr") != std::string::npos)
        prompts.open_names.push_back(entry.path().string());
    ASSERT_EQ(prompts.open_names.size(), 1u);
    Trigger("Opentextfile1");
    ASSERT_EQ(Pages(), 2);
  }
};

void LongWorkWindowTest::RunCommands(Timings& out) {
  // The first sound-alike search also cuts each file's words once, away
  // from the window's thread.
  Check("first search", Measure([&] { SearchCommand(); }), out);
  // Whole runs: the window answers throughout and the results arrive.
  const Timing search = Measure([&] { SearchCommand(); });
  Check("search", search, out);
  const std::vector<std::string> page = PageLines();
  ASSERT_GT(page.size(), 100u);
  const Timing arrange = Measure([&] { window->ArrangeMClick(); });
  Check("arranging", arrange, out);
  const std::vector<std::string> arranged = PageLines();
  EXPECT_GT(arranged.size(), 100u);

  OpenMarriages();
  const size_t opened_lines = CurrentLines().size();
  const Timing sort = Measure([&] { Trigger("SortbyHusband1"); });
  Check("sort by husband", sort, out);
  ASSERT_EQ(Pages(), 3);
  EXPECT_EQ(window->PageCaption(ActivePage()).rfind("HS-", 0), 0u);
  EXPECT_GT(CurrentLines().size() * 2, opened_lines);  // about one entry per record line

  // Cancelled part way: each ends at once and leaves the pages as they were.
  const Timing search_cancel = Measure([&] { SearchCommand(); }, static_cast<int>(search.total_ms / 3));
  Check("search, cancelled", search_cancel, out);
  window->PageControl1->setCurrentIndex(0);
  const std::vector<std::string> before_arranging = PageLines();
  const Timing arrange_cancel = Measure([&] { window->ArrangeMClick(); }, static_cast<int>(arrange.total_ms / 3));
  Check("arranging, cancelled", arrange_cancel, out);
  if (arrange_cancel.cancel_clicked) {
    EXPECT_EQ(PageLines(), before_arranging);
  }
  const Timing sort_cancel = Measure(
      [&] {
        window->PageControl1->setCurrentIndex(1);
        Trigger("SortbyHusband1");
      },
      static_cast<int>(sort.total_ms / 2));
  Check("sort, cancelled", sort_cancel, out);
  if (sort_cancel.cancel_clicked) {
    EXPECT_EQ(Pages(), 3) << "the cancelled sort's page stays away";
  }
  EXPECT_TRUE(prompts.messages.empty()) << prompts.messages.front();
}

void LongWorkWindowTest::RunPasses(const std::function<void(Timings&)>& run, double cancel_bar_ms,
                                   int cancels_wanted) {
  std::vector<std::pair<std::string, Best>> best;
  for (int pass = 0; pass < 3; ++pass) {
    SCOPED_TRACE("pass " + std::to_string(pass + 1));
    if (pass > 0) Reopen();
    Timings timings;
    run(timings);
    if (HasFatalFailure()) return;
    bool met = true;
    int clicked = 0;
    for (const auto& [what, t] : timings) {
      auto it = std::find_if(best.begin(), best.end(), [&](const auto& b) { return b.first == what; });
      Best& b = it != best.end() ? it->second : best.emplace_back(what, Best{}).second;
      b.latency_cpu_ms = std::min(b.latency_cpu_ms, t.latency_cpu_ms);
      if (t.cancel_clicked) {
        b.cancel_clicked = true;
        b.cancel_to_end_cpu_ms = std::min(b.cancel_to_end_cpu_ms, t.cancel_to_end_cpu_ms);
      }
      met = met && MeetsBars(t, cancel_bar_ms);
      clicked += t.cancel_clicked;
    }
    if (met && clicked >= cancels_wanted) break;
  }
  int clicked = 0;
  for (const auto& [what, b] : best) {
    EXPECT_LT(b.latency_cpu_ms, kLatencyBarMs) << what;
    if (b.cancel_clicked) {
      EXPECT_LT(b.cancel_to_end_cpu_ms, cancel_bar_ms) << what;
    }
    clicked += b.cancel_clicked;
  }
  EXPECT_GE(clicked, cancels_wanted) << "commands ended before their Cancel";
}

// The bars are on the window thread's CPU time, which a heavily loaded
// machine still stretches (shared caches, stolen cycles), and Cancel is
// clicked at a time guessed from an earlier run, which a loaded run may
// finish before. So a pass that misses a bar or clicks no Cancel is run
// again on a fresh window, three passes at most, and each command's best
// time is held to the bars.
TEST_F(LongWorkWindowTest, SearchArrangingAndSortAnswerPostedEventsAndCancelQuickly) {
  // The sanitizers make every step several times slower, the window's own
  // share of a cancel too: their build's cancel bar is three times the
  // plain build's.
  RunPasses([&](Timings& out) { RunCommands(out); }, kCancelBarMs * (qvtest::kSanitizerBuild ? 3 : 1), 1);
}

// Loading the data files ("Select Source Dir", as at start-up), opening a
// register as a page and "Sort by Husband" on it, over a set of two
// registers of QV_LONG_WORK_LINES record lines each (a baptism and a
// marriage register): the window answers posted events throughout and
// Cancel ends each at once, leaving the list and the pages as they were.
class LongStepsWindowTest : public LongWorkWindowTest {
protected:
  static void SetUpTestSuite() {
    static qvtest::TempDir set;
    const int64_t start = WallNs();
    Regs() = WritePlannedRegisters(23, set.path() / "regs", [](const std::string&) { return true; });
    std::printf("generated %lld record lines in %.1f s\n", static_cast<long long>(2 * Lines()),
                (WallNs() - start) / 1e9);
  }
  static constexpr double kStepCancelBarMs = 100;
  bool MeetsStepBars(const Timing& r) {
    return r.latency_cpu_ms <= kLatencyBarMs && (!r.cancel_clicked || r.cancel_to_end_cpu_ms <= kStepCancelBarMs);
  }
  // Back to the small sample set, so that the next load reads every register.
  void SampleSet() {
    prompts.directories = {SamplesDir()};
    Trigger("SelectSourceDir1");
    Settle();
    ASSERT_EQ(window->DataFiles().Paths().front().rfind(SamplesDir(), 0), 0u);
  }
  void LoadSet() {
    prompts.directories = {Regs().string()};
    Trigger("SelectSourceDir1");
  }
  void RunSteps(Timings& out);
};

void LongStepsWindowTest::RunSteps(Timings& out) {
  SampleSet();
  const int samples = window->DataFiles().Count();
  const Timing load = Measure([&] { LoadSet(); });
  Check("load data files", load, out);
  ASSERT_EQ(window->DataFiles().Count(), 2);
  for (int k = 0; k < 2; ++k)
    std::printf("%s: %d lines\n", window->DataFiles().File(k).name.c_str(), window->DataFiles().File(k).data->LineCount());
  EXPECT_GT(window->DataFiles().File(0).data->LineCount() + window->DataFiles().File(1).data->LineCount(), 2 * Lines());
  SampleSet();
  const Timing load_cancel = Measure([&] { LoadSet(); }, static_cast<int>(load.total_ms / 3));
  Check("load, cancelled", load_cancel, out);
  if (load_cancel.cancel_clicked) {
    EXPECT_EQ(window->DataFiles().Count(), samples) << "the list stays as it was";
    EXPECT_NE(Status().find("cancelled"), std::string::npos) << Status();
  }
  LoadSet();
  Settle();
  ASSERT_EQ(window->DataFiles().Count(), 2);

  prompts.open_names.clear();
  const Timing open = Measure([&] { OpenMarriages(); });
  Check("open page", open, out);
  ASSERT_EQ(Pages(), 2);
  EXPECT_GE(static_cast<int64_t>(CurrentLines().size()), Lines());
  const Timing sort = Measure([&] { Trigger("SortbyHusband1"); });
  Check("sort by husband", sort, out);
  ASSERT_EQ(Pages(), 3);
  window->PageControl1->setCurrentIndex(1);
  const Timing sort_cancel = Measure([&] { Trigger("SortbyHusband1"); }, static_cast<int>(sort.total_ms / 2));
  Check("sort, cancelled", sort_cancel, out);
  if (sort_cancel.cancel_clicked) {
    EXPECT_EQ(Pages(), 3) << "the cancelled sort's page stays away";
  }
  // A sort whose Cancel came too late (its last step shows none) left a
  // page more: the open is held to the pages before it.
  const int pages_before_open = Pages();
  const Timing open_cancel = Measure(
      [&] {
        prompts.open_names.clear();
        for (const auto& entry : fs::directory_iterator(Regs()))
          if (entry.path().filename().string().find("_marr") != std::string::npos)
            prompts.open_names.push_back(entry.path().string());
        Trigger("Opentextfile1");
      },
      // Early: Cancel is offered while the file is read and the page filled,
      // not while the filled page is laid out, which a loaded machine
      // stretches most.
      static_cast<int>(open.total_ms / 6));
  Check("open page, cancelled", open_cancel, out);
  if (open_cancel.cancel_clicked) {
    EXPECT_EQ(Pages(), pages_before_open) << "a cancelled open leaves no page";
  }
  EXPECT_TRUE(prompts.messages.empty()) << prompts.messages.front();
}

// As above, each of the three Cancels ending its step within 100 ms.
TEST_F(LongStepsWindowTest, LoadingOpeningAndSortingAnswerPostedEventsAndCancelQuickly) {
  if (qvtest::kSanitizerBuild)
    GTEST_SKIP() << "the sanitizers make the sort's comparisons several times slower: the bars are the plain build's";
  RunPasses([&](Timings& out) { RunSteps(out); }, kStepCancelBarMs, 3);
}

// "Sort by Husband" of a page of QV_LONG_WORK_LINES record lines (a
// marriage register opened as a page) against the search that puts the same
// lines on the first page (Text, every record holding ';'): the sort takes
// at most twice the search's time (see the bar below), and the window's
// thread answers posted events within 100 ms throughout (its own CPU time,
// as above). Both are timed by turns, and their medians compared.
class SortSpeedWindowTest : public LongWorkWindowTest {
protected:
  static void SetUpTestSuite() {
    static qvtest::TempDir set;
    Regs() = WritePlannedRegisters(29, set.path() / "regs",
                                   [](const std::string& name) { return name.find("_marr") != std::string::npos; });
  }
};

TEST_F(SortSpeedWindowTest, SortByHusbandOfAMillionLinesTakesAtMostTwiceTheSearchThatMadeThem) {
  if (qvtest::kSanitizerBuild)
    GTEST_SKIP() << "the sanitizers make the sort's comparisons several times slower: the bars are the plain build's";
  SetBox(11, true);  // Text: the whole rest of every record line
  OpenMarriages();
  const size_t opened = CurrentLines().size();
  ASSERT_GE(static_cast<int64_t>(opened), Lines());
  // As the passes above: a loaded machine stretches either side at random,
  // so up to three passes of three rounds run, and the best pass's median
  // is held to the bar.
  double best_ratio = 1e9, best_latency_cpu_ms = 1e9;
  for (int pass = 0; pass < 3 && best_ratio > 2; ++pass) {
    std::vector<double> searches, sorts;
    for (int run = 0; run < 3; ++run) {
      window->PageControl1->setCurrentIndex(0);
      const Timing search = Measure([&] {
        Type(";");
        PressSearch();
      });
      Print("search", search);
      ASSERT_GE(static_cast<int64_t>(window->vm0->Memo().GetParCount()), Lines()) << "every record line a hit";
      window->PageControl1->setCurrentIndex(1);
      const int pages = Pages();
      const Timing sort = Measure([&] { Trigger("SortbyHusband1"); });
      Print("sort by husband", sort);
      ASSERT_EQ(Pages(), pages + 1);
      EXPECT_EQ(window->PageCaption(ActivePage()).rfind("HS-", 0), 0u);
      EXPECT_GE(CurrentLines().size() + 2, static_cast<size_t>(Lines()));  // one entry per record line
      window->RemovePage(ActivePage());
      searches.push_back(search.total_ms);
      sorts.push_back(sort.total_ms);
      best_latency_cpu_ms = std::min(best_latency_cpu_ms, sort.latency_cpu_ms);
    }
    std::sort(searches.begin(), searches.end());
    std::sort(sorts.begin(), sorts.end());
    std::printf("median search %.1f ms, sort %.1f ms: %.2f of the search\n", searches[1], sorts[1],
                sorts[1] / searches[1]);
    best_ratio = std::min(best_ratio, sorts[1] / searches[1]);
  }
  // The sort's bar is twice the search. With the page written from the
  // entries where they were made (no million lines moved and freed one by
  // one) the best pass took 1.2-1.95 of the search at load 20-30 on eight
  // cores.
  EXPECT_LE(best_ratio, 2.0);
  EXPECT_LT(best_latency_cpu_ms, kLatencyBarMs);
  EXPECT_TRUE(prompts.messages.empty()) << prompts.messages.front();
}

}  // namespace

namespace {

// Kilobytes of a "VmRSS:"-style line of /proc/self/status.
int64_t StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key, 0) == 0) return std::atoll(line.c_str() + std::strlen(key));
  return -1;
}

// A register of one line of QV_ONE_LINE_MB megabytes (default 48; below 32
// the allocator keeps freed blocks of that size and the peak says more about
// it than about the window): loaded as a source and opened as a page, its
// bytes are held at most three times at the peak (the register's copy, the
// page's and one on the way).
TEST_F(WindowTest, AOneLineRegisterIsHeldAtMostThreeTimes) {
  if (qvtest::kSanitizerBuild)
    GTEST_SKIP() << "AddressSanitizer's shadow memory and quarantine count in the resident peak: the bound is the plain build's";
  const char* mb = std::getenv("QV_ONE_LINE_MB");
  const int64_t size = (mb ? std::atoll(mb) : 48) << 20;
  const fs::path regs = dir / "huge";
  fs::create_directories(regs);
  {
    std::string line;
    line.reserve(static_cast<size_t>(size));
    while (static_cast<int64_t>(line.size()) + 12 <= size) line += "Smith John ";
    line.resize(static_cast<size_t>(size), 'x');
    WriteFile(regs / "one_bap.txt", line);
  }
  WriteFile(dir / "Quorvane.INI", "[Directories]\r\nSearch=" + regs.string() + "\r\nSave=" + dir.string() + "\r\n");
  Settle();
  std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
  const int64_t before = StatusKb("VmRSS:");
  window->FormActivate();
  prompts.open_names.push_back((regs / "one_bap.txt").string());
  Trigger("Opentextfile1");
  ASSERT_EQ(Pages(), 2);
  window->CurrentMemo()->repaint();  // the long line drawn too
  Settle();
  const int64_t peak = StatusKb("VmHWM:");
  if (before < 0 || peak < before) GTEST_SKIP() << "the peak memory cannot be read here";
  const double times = static_cast<double>(peak - before) * 1024 / static_cast<double>(size);
  std::printf("one line of %lld MB: peak %.1f MB over the start, %.2f times its size\n",
              static_cast<long long>(size >> 20), (peak - before) / 1024.0, times);
  // Three copies of the line, plus a little for the window's own work
  // (layout, drawing, thread stacks and their allocator arenas, which vary
  // by up to a megabyte with how the loader's threads are scheduled), which
  // does not grow with the line.
  EXPECT_LE(peak - before, 3 * (size >> 10) + 8192) << times << " times its size";
  EXPECT_EQ(Current().GetTextLen(), size);
  EXPECT_TRUE(prompts.messages.empty()) << prompts.messages.front();
}

}  // namespace
