// collation_bench: the time of comparing two 30-character names under each
// table language, against ICU's ucol_strcoll on the same strings (already
// in UTF-16), and the time of language 0 for reference.
//
//   collation_bench [--pairs N[,N...]] [--repeats N] [--rounds N] [--check]
//
// Half the pairs are unrelated names, half a name and the same name with
// one character changed, as sorting similar surnames gives. Each pair
// count (20,000 and 100,000 by default: the larger outgrows the caches)
// runs every language for --rounds rounds; a language's time is the
// median of its rounds; each timed run (the thread's processor time)
// follows an untimed run of the same side. --check exits with 1 when any
// language is slower than ICU at any of the counts.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "tables/lib/collation.h"
#include "tools/collation_gen/icu_source.h"
#include "tools/collation_gen/languages.h"

namespace {

struct Pairs {
  std::vector<std::string> a, b;
  std::vector<std::u16string> ua, ub;
};

Pairs MakePairs(const collgen::CodePage& cp, int count, std::uint32_t seed) {
  std::vector<char> letters;
  for (int b = 0x41; b < 256; ++b) {
    std::int32_t c = cp.CharOf(static_cast<std::uint8_t>(b));
    if (c >= 0 && (b < 0x80 ? std::isalpha(b) : c >= 0xC0)) letters.push_back(static_cast<char>(b));
  }
  std::mt19937 random(seed);
  auto name = [&] {
    std::string s;
    for (int i = 0; i < 30; ++i) s += i == 10 || i == 20 ? ' ' : letters[random() % letters.size()];
    return s;
  };
  Pairs p;
  for (int i = 0; i < count; ++i) {
    std::string x = name(), y = i % 2 ? name() : x;
    if (i % 2 == 0) y[random() % y.size()] = letters[random() % letters.size()];
    p.ua.push_back(cp.Decode(x));
    p.ub.push_back(cp.Decode(y));
    p.a.push_back(std::move(x));
    p.b.push_back(std::move(y));
  }
  return p;
}

volatile int sink = 0;

// Parses "20000,100000".
std::vector<int> PairCounts(const std::string& text, bench::OptionReader& options) {
  std::vector<int> counts;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const std::string part = text.substr(at, comma - at);
    char* end = nullptr;
    const long n = std::strtol(part.c_str(), &end, 10);
    if (part.empty() || *end != '\0' || n < 1 || n > 10000000) options.Fail("bad pair count " + part);
    counts.push_back(static_cast<int>(n));
    at = comma + 1;
  }
  return counts;
}

// The sides by turns, each timed run right after an untimed run of its
// own: every side is timed with its own strings as warm as the caches hold
// them, whatever side ran before it (at 100,000 pairs the side after
// another one otherwise starts with the other's strings in the caches).
// The thread's processor time, so that the time other programs take the
// processor from the benchmark is left out. Medians of the repeats.
std::vector<double> WarmCpuMedians(int repeats, const std::vector<std::function<void()>>& bodies) {
  std::vector<std::vector<double>> times(bodies.size());
  for (int i = 0; i < repeats; ++i)
    for (std::size_t b = 0; b < bodies.size(); ++b) {
      bodies[b]();
      const double start = bench::ThreadCpuSeconds();
      bodies[b]();
      times[b].push_back(bench::ThreadCpuSeconds() - start);
    }
  std::vector<double> medians;
  for (const std::vector<double>& t : times) medians.push_back(bench::Median(t));
  return medians;
}

struct Language {
  explicit Language(const collgen::LanguageSource& s) : source(&s), cp(s.code_page), icu(s.locale) {}
  const collgen::LanguageSource* source;
  collgen::CodePage cp;
  collgen::Collator icu;
  std::vector<double> engine, full, reference;  // per round, seconds
};

}  // namespace

int main(int argc, char** argv) {
  bench::OptionReader options(argc, argv, "collation_bench", "[--pairs N[,N...]] [--repeats N] [--rounds N] [--check]");
  std::vector<int> sizes{20000, 100000};
  int repeats = 3, rounds = 5;
  bool check = false;
  for (std::string option; options.Next(option);) {
    if (option == "--pairs") sizes = PairCounts(options.Value(), options);
    else if (option == "--repeats") repeats = static_cast<int>(std::max<std::int64_t>(1, options.Number()));
    else if (option == "--rounds") rounds = static_cast<int>(std::max<std::int64_t>(1, options.Number()));
    else if (option == "--check") check = true;
    else options.Fail("unknown option " + option);
  }

  bool all_met = true;
  for (const int n : sizes) {
    std::vector<std::unique_ptr<Language>> languages;
    for (const collgen::LanguageSource& source : collgen::Languages()) {
      languages.push_back(std::make_unique<Language>(source));
    }
    // Every language once a round, the three sides by turns within it; a
    // language's figure is the median of its rounds, so that a slow spell
    // of the machine during one language's turn does not decide the bar.
    // The pairs are made again for each turn (the same ones: the seed is
    // the language's), so that only one language's strings take memory.
    for (int round = 0; round < rounds; ++round)
      for (const std::unique_ptr<Language>& l : languages) {
        const collgen::LanguageSource& source = *l->source;
        const Pairs p = MakePairs(l->cp, n, source.language + source.sort);
        // The engine's comparison (whole strings, accents ignored, case
        // kept); letters, accents and case, as ICU's default strength
        // compares; ICU.
        const std::vector<double> medians = WarmCpuMedians(
            repeats, {[&] {
                        int s = 0;
                        for (int i = 0; i < n; ++i)
                          s += korvex::CompareStrings(source.language, source.sort, p.a[i].c_str(), p.b[i].c_str(), 0,
                                                      false);
                        sink = s;
                      },
                      [&] {
                        int s = 0;
                        const std::uint32_t locale = korvex::MakeLocaleID(source.language, source.sort);
                        for (int i = 0; i < n; ++i)
                          s += korvex::CompareLocaleStrings(locale, 0, p.a[i].c_str(), -1, p.b[i].c_str(), -1);
                        sink = s;
                      },
                      [&] {
                        int s = 0;
                        for (int i = 0; i < n; ++i) s += l->icu.Compare(p.ua[i], p.ub[i], false);
                        sink = s;
                      }});
        l->engine.push_back(medians[0]);
        l->full.push_back(medians[1]);
        l->reference.push_back(medians[2]);
      }

    std::printf("%d pairs, processor time, medians of %d rounds of %d repeats, each after an untimed run\n", n,
                rounds, repeats);
    std::printf("%-28s %10s %10s %10s %8s %8s\n", "language", "engine ns", "3-level ns", "ICU ns", "engine", "3-level");
    double worst = 0;
    std::string worst_name;
    const double scale = 1e9 / n;
    for (const std::unique_ptr<Language>& l : languages) {
      const double engine = bench::Median(l->engine), full = bench::Median(l->full),
                   reference = bench::Median(l->reference);
      const double ratio = std::max(engine, full) / reference;
      std::printf("%-28s %10.1f %10.1f %10.1f %7.2fx %7.2fx\n", l->source->locale, engine * scale, full * scale,
                  reference * scale, engine / reference, full / reference);
      if (ratio > worst) worst = ratio, worst_name = l->source->locale;
    }
    {
      collgen::CodePage cp(1252);
      Pairs p = MakePairs(cp, n, 0);
      const double zero = WarmCpuMedians(repeats, {[&] {
                                           int s = 0;
                                           for (int i = 0; i < n; ++i)
                                             s += korvex::CompareStrings(0, 0, p.a[i].c_str(), p.b[i].c_str(), 0, false);
                                           sink = s;
                                         }})[0];
      std::printf("%-28s %10.1f\n", "language 0", zero * scale);
    }
    const bool met = bench::Met(worst, 1.0);
    all_met = all_met && met;
    std::printf("%d pairs: slowest against ICU: %s at %.2fx (bar 1x, moonshot 0.5x) %s\n\n", n, worst_name.c_str(), worst,
                met ? "met" : "MISSED");
  }
  std::printf("load average: %s\n", bench::LoadAverage().c_str());
  return check && !all_met ? 1 : 0;
}
