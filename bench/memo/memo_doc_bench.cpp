// memo_doc_bench: the memo's document (no window) against Qt's
// QPlainTextEdit on a generated register set. Prints one row per
// measurement with its ratio and bar; --check makes it exit 1 when a bar
// is missed.
//
//   1. load time: the memo loads the text and applies two keywords (every
//      paragraph highlighted); QPlainTextEdit takes the same text through
//      setPlainText, converted from Windows-1252 inside the timed part.
//      Bar: the memo takes at most half the time.
//   2. memory: what loading and highlighting added, against the text's size.
//      Counted twice: the heap in use (every malloc chunk with its header)
//      and the resident set after unused heap pages went back. Bar: 3x.
//   3. editing: one character typed in the middle of the large document
//      against the same in a document of --small lines. Bar: 2x.
//
// Run under QT_QPA_PLATFORM=offscreen (set here when unset).
#include "bench/bench_util.h"

#include <malloc.h>
#include <unistd.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "memo/vell_memo.h"
#include "platform/runtime/cp1252.h"
#include "tools/register_generator.h"

namespace {

namespace fs = std::filesystem;
using bench::Clock;
using bench::Seconds;

struct Args {
  int64_t lines = 1'000'000;
  int files = 8;
  int small = 1000;
  int repeats = 3;
  int edits = 400;
  uint64_t seed = 1;
  std::vector<std::string> keywords = {"son", "John"};
  std::string dir;
  bool keep = false;
  bool check = false;
};

Args ParseArgs(int argc, char** argv) {
  Args a;
  bench::OptionReader options(argc, argv, "memo_doc_bench",
                               "[--lines N] [--files N] [--small N] [--repeats N] [--edits N]\n"
                               "       [--seed N] [--keywords A,B] [--dir DIR] [--keep] [--check]");
  for (std::string arg; options.Next(arg);) {
    if (arg == "--lines") a.lines = options.Number();
    else if (arg == "--files") a.files = static_cast<int>(options.Number());
    else if (arg == "--small") a.small = static_cast<int>(options.Number());
    else if (arg == "--repeats") a.repeats = std::max<int>(1, static_cast<int>(options.Number()));
    else if (arg == "--edits") a.edits = std::max<int>(1, static_cast<int>(options.Number()));
    else if (arg == "--seed") a.seed = static_cast<uint64_t>(options.Number());
    else if (arg == "--dir") a.dir = options.Value();
    else if (arg == "--keep") a.keep = true;
    else if (arg == "--check") a.check = true;
    else if (arg == "--keywords") {
      a.keywords.clear();
      std::stringstream list(options.Value());
      for (std::string word; std::getline(list, word, ',');)
        if (!word.empty()) a.keywords.push_back(word);
      if (a.keywords.empty()) options.Fail("--keywords needs at least one word");
    } else {
      options.Fail("unknown option " + arg);
    }
  }
  if (a.files < 1 || a.lines < 1 || a.small < 2) options.Fail("--files, --lines and --small must be positive");
  return a;
}

// Bytes of heap in use (chunk headers included); the memo part of the run
// is single-threaded, so the main arena holds all of it.
int64_t HeapInUse() {
  struct mallinfo2 info = mallinfo2();
  return static_cast<int64_t>(info.uordblks + info.hblkhd);
}

// The resident set after free heap pages went back to the system.
int64_t ResidentBytes() {
  malloc_trim(0);
  std::ifstream statm("/proc/self/statm");
  long long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * static_cast<int64_t>(sysconf(_SC_PAGESIZE));
}

// Loads text into memo and highlights every paragraph with the keywords,
// as a page of hits gets its search terms.
void LoadAndHighlight(memo::TVellMemo& memo, std::string_view text, const std::vector<std::string>& keywords) {
  memo.Keywords().Clear();
  for (const std::string& word : keywords) memo.Keywords().AddKeyWord(word, 0, 0, 1, memo::crDefault, memo::clWhite, memo::clRed);
  rtl::TViewStream stream(text);
  memo.LoadFromStream(stream);
  memo.ReApplyKeywords();
  memo.FormatNow(0, memo.GetParCount() - 1, false);
}

// Seconds per single-character insert in the middle of the memo: the
// character is typed and taken away again, only the typing is timed.
double InsertSeconds(memo::TVellMemo& memo, int edits) {
  const std::int32_t middle = memo.GetTextLen() / 2;
  std::vector<double> times;
  for (int i = 0; i < edits; ++i) {
    memo.setSelStart(middle);
    memo.setSelLength(0);
    const auto start = Clock::now();
    memo.SetSelTextBuf("x");
    times.push_back(Seconds(Clock::now() - start));
    memo.setSelStart(middle);
    memo.setSelLength(1);
    memo.SetSelTextBuf("");
  }
  return bench::Median(times);
}

// The keyword runs of the memo (one run opens each occurrence).
int64_t CountRuns(memo::TVellMemo& memo) {
  int64_t runs = 0;
  for (int i = 0; i < memo.GetParCount(); ++i) runs += memo.Pars().At(i)->runCount;
  return runs;
}

QString ToQString(std::string_view bytes) {
  QString s;
  s.reserve(static_cast<qsizetype>(bytes.size()));
  for (unsigned char c : bytes) s.append(QChar(static_cast<char16_t>(rtl::Cp1252ToUnicode(c))));
  return s;
}

struct Row {
  std::string what;
  double ours = 0, theirs = 0, bar = 0;
  std::string unit;
};

}  // namespace

int main(int argc, char** argv) {
  const Args args = ParseArgs(argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);

  // 1. The register set, read into one text (every file ends with CR LF).
  const std::optional<bench::RegisterSet> set_made =
      bench::MakeRegisterSet("memo_doc_bench", args.dir, args.seed, args.files, args.lines);
  if (!set_made) return 1;
  const bench::RegisterSet& registers = *set_made;
  const regtools::GeneratorResult& generated = registers.generated;
  const std::vector<fs::path>& paths = registers.paths;
  std::string text;
  text.reserve(static_cast<std::size_t>(generated.bytes));
  for (const fs::path& p : paths) {
    std::ifstream in(p, std::ios::binary);
    text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (!args.keep) registers.Remove();
  std::size_t small_end = 0;
  for (int n = 0; n < args.small && small_end < text.size(); ++n) {
    small_end = text.find('\n', small_end);
    small_end = small_end == std::string::npos ? text.size() : small_end + 1;
  }
  const std::string_view small_text(text.data(), small_end);
  std::printf("register set: %zu files, %lld record lines, %lld lines, %.1f MB; keywords:", paths.size(),
              static_cast<long long>(generated.record_lines), static_cast<long long>(generated.lines),
              text.size() / 1e6);
  for (const std::string& k : args.keywords) std::printf(" \"%s\"", k.c_str());
  std::printf("\n");

  std::vector<Row> rows;

  // 2. The memo: time (median of the repeats) and memory (of the last one,
  //    measured from before the memo existed).
  std::vector<double> memo_times;
  int64_t heap = 0, resident = 0, runs = 0, pars = 0;
  for (int i = 0; i < args.repeats; ++i) {
    const int64_t heap_before = HeapInUse();
    const int64_t resident_before = ResidentBytes();
    auto memo = std::make_unique<memo::TVellMemo>();
    const auto start = Clock::now();
    LoadAndHighlight(*memo, text, args.keywords);
    memo_times.push_back(Seconds(Clock::now() - start));
    heap = HeapInUse() - heap_before;
    resident = ResidentBytes() - resident_before;
    runs = CountRuns(*memo);
    pars = memo->GetParCount();
    if (i + 1 < args.repeats) continue;

    // 3. Typing in the middle, against a small document.
    memo::TVellMemo small;
    LoadAndHighlight(small, small_text, args.keywords);
    double large_edit = 0, small_edit = 0;
    InsertSeconds(*memo, args.edits / 4 + 1);  // warm both
    InsertSeconds(small, args.edits / 4 + 1);
    for (int r = 0; r < 3; ++r) {
      large_edit += InsertSeconds(*memo, args.edits);
      small_edit += InsertSeconds(small, args.edits);
    }
    rows.push_back({"insert 1 char mid-document vs " + std::to_string(args.small) + "-line document",
                    large_edit / 3 * 1e6, small_edit / 3 * 1e6, 2, "us"});
  }

  // 4. QPlainTextEdit with the same text.
  int qt_argc = 1;
  char qt_name[] = "memo_doc_bench";
  char* qt_argv[] = {qt_name, nullptr};
  QApplication app(qt_argc, qt_argv);
  // The conversion from Windows-1252 is timed with it: the memo takes the
  // bytes as they are, so QPlainTextEdit pays for reaching its own form.
  std::vector<double> qt_times;
  int qt_blocks = 0;
  for (int i = 0; i < args.repeats; ++i) {
    auto edit = std::make_unique<QPlainTextEdit>();
    const auto start = Clock::now();
    edit->setPlainText(ToQString(text));
    qt_times.push_back(Seconds(Clock::now() - start));
    qt_blocks = edit->blockCount();
  }
  rows.insert(rows.begin(), {"load + 2 keywords (several threads) vs setPlainText (1 thread)", bench::Median(memo_times),
                             bench::Median(qt_times), 0.5, "s"});
  const double mb = text.size() / 1e6;
  rows.insert(rows.begin() + 1, {"heap in use after load + keywords vs text size", heap / 1e6, mb, 3, "MB"});
  rows.insert(rows.begin() + 2, {"resident growth after load + keywords vs text size", resident / 1e6, mb, 3, "MB"});

  std::printf("memo: %lld paragraphs, %lld runs; QPlainTextEdit: %d blocks; medians of %d runs\n\n",
              static_cast<long long>(pars), static_cast<long long>(runs), qt_blocks, args.repeats);
  std::printf("%-58s %12s %12s %8s %6s  %s\n", "measurement", "memo", "reference", "ratio", "bar", "");
  bool all_met = true;
  for (const Row& r : rows) {
    const double ratio = r.theirs > 0 ? r.ours / r.theirs : 0;
    const bool met = bench::Met(ratio, r.bar);
    all_met = all_met && met;
    std::printf("%-58s %10.4f%-2s %10.4f%-2s %8.2f %6.1f  %s\n", r.what.c_str(), r.ours, r.unit.c_str(), r.theirs,
                r.unit.c_str(), ratio, r.bar, met ? "met" : "MISSED");
  }
  return args.check && !all_met ? 1 : 0;
}
