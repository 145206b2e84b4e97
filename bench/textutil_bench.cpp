// Throughput of the case-blind ScanF and of MetaPhone on the sample
// registers, with memmem on the same lines as the physical floor and
// strcasestr as a case-blind peer that must find the same lines.
//
//   textutil_bench [register folder] [passes] [--check]
//
// Prints one line per search term and a summary; exits 1 when strcasestr
// finds other lines than ScanF, and with --check when case-blind ScanF
// takes more than three times memmem's time (each the median of several
// rounds).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_util.h"
#include "textutil/fields.h"
#include "textutil/phonetic.h"
#include "textutil/scan.h"

namespace {

std::vector<std::string> LoadLines(const std::filesystem::path& folder) {
  std::vector<std::string> lines;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".txt") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  return lines;
}

// Hands a result to the optimizer as if it were used, so that repeated
// rounds of a pure search (memmem) are not folded into one.
template <typename T>
inline void Keep(const T& value) {
  asm volatile("" : : "r"(value) : "memory");
}

// Each side is timed kRounds times, by turns, after one untimed warm-up
// round, and the median round counts: a slow spell of the machine (the
// smoke run shares its cores with the rest of the test suite) then weighs
// on both sides alike.
constexpr int kRounds = 7;

template <typename ScanBody, typename FloorBody>
std::pair<double, double> MedianRounds(ScanBody scan, FloorBody floor) {
  const std::vector<double> medians = bench::MediansByTurns(kRounds, {scan, floor});
  return {medians[0], medians[1]};
}

}  // namespace

int main(int argc, char** argv) {
  bench::OptionReader options(argc, argv, "textutil_bench", "[folder] [passes] [--check]");
  std::filesystem::path folder = QV_SOURCE_DIR "/samples/registers";
  int passes = 200, positional = 0;
  bool check = false;
  for (std::string option; options.Next(option);) {
    if (option == "--check") check = true;
    else if (option.rfind("--", 0) == 0) options.Fail("unknown option " + option);
    else if (positional == 0) folder = option, ++positional;
    else if (positional == 1) {
      char* end = nullptr;
      const long n = std::strtol(option.c_str(), &end, 10);
      if (*end != '\0' || n < 1 || n > 1000000) options.Fail("bad number of passes " + option);
      passes = static_cast<int>(n), ++positional;
    } else {
      options.Fail("too many arguments");
    }
  }
  const std::vector<std::string> lines = LoadLines(folder);
  if (lines.empty()) {
    std::fprintf(stderr, "no register lines in %s\n", folder.c_str());
    return 2;
  }
  size_t bytes = 0;
  for (const auto& line : lines) bytes += line.size();
  const double total_mb = static_cast<double>(bytes) * passes / 1e6;
  std::printf("%zu lines, %.1f KB, %d passes\n", lines.size(), bytes / 1e3, passes);

  const char* terms[] = {"smith", "phillipps", "clarke", "hyll", "jenkins", "thomson", "gregory", "zzyzx"};
  double scan_total = 0, memmem_total = 0, peer_total = 0;
  bool same_hits = true;
  std::printf("%-10s %12s %12s %8s %14s %8s %8s %8s %8s\n", "term", "ScanF MB/s", "memmem MB/s", "ratio",
              "strcasestr MB/s", "ratio", "hits", "peer", "exact");
  for (const char* term : terms) {
    const size_t m = std::strlen(term);
    long hits = 0, floor_hits = 0;
    const auto [scan, floor] = MedianRounds(
        [&] {
          hits = 0;
          for (int p = 0; p < passes; ++p)
            for (const auto& line : lines) {
              const int at = textutil::ScanF(line, term, -1);
              Keep(at);
              hits += at > 0;
            }
        },
        [&] {
          floor_hits = 0;
          for (int p = 0; p < passes; ++p)
            for (const auto& line : lines) {
              const void* at = memmem(line.data(), line.size(), term, m);
              Keep(at);
              floor_hits += at != nullptr;
            }
        });
    long peer_hits = 0;
    const auto [peer, floor_again] = MedianRounds(
        [&] {
          peer_hits = 0;
          for (int p = 0; p < passes; ++p)
            for (const auto& line : lines) {
              const char* at = strcasestr(line.c_str(), term);
              Keep(at);
              peer_hits += at != nullptr;
            }
        },
        [&] {});
    Keep(floor_again);
    scan_total += scan;
    memmem_total += floor;
    peer_total += peer;
    same_hits = same_hits && peer_hits == hits;
    std::printf("%-10s %12.0f %12.0f %8.2f %14.0f %8.2f %8ld %8ld %8ld\n", term, total_mb / scan, total_mb / floor,
                scan / floor, total_mb / peer, scan / peer, hits / passes, peer_hits / passes, floor_hits / passes);
  }
  std::printf("case-blind ScanF against strcasestr: ratio %.2f, %s\n", scan_total / peer_total,
              same_hits ? "the same lines found" : "OTHER LINES FOUND");
  const double ratio = scan_total / memmem_total;
  std::printf("case-blind ScanF: %.0f MB/s, memmem: %.0f MB/s, ratio %.2f (limit 3)\n",
              total_mb * std::size(terms) / scan_total, total_mb * std::size(terms) / memmem_total, ratio);

  // MetaPhone over every word of every line, as the fuzzy search keys names.
  std::vector<std::string> words;
  for (const auto& line : lines)
    for (int pos = 1; pos != 0;) {
      std::string word = textutil::ParseWord(line, " ,;[]", pos);
      if (!word.empty()) words.push_back(std::move(word));
    }
  long keyed = 0;
  const double metaphone = bench::TimeOf([&] {
    for (int p = 0; p < passes; ++p)
      for (const auto& word : words) keyed += textutil::MetaPhone(word, 8)[0] != ' ';
  });
  std::printf("MetaPhone: %.1f million words/s (%zu words, %ld keyed per pass)\n",
              static_cast<double>(words.size()) * passes / metaphone / 1e6, words.size(), keyed / passes);
  const bool met = bench::Met(ratio, 3.0);
  std::printf("bar 3: %s; load average %s\n", met ? "met" : "MISSED", bench::LoadAverage().c_str());
  return !same_hits || (check && !met) ? 1 : 0;
}
