// collation_bench: the time of comparing two 30-character names under each
// table language, against ICU's ucol_strcoll on the same strings (already
// in UTF-16), and the time of language 0 for reference.
//
//   collation_bench [--pairs N] [--repeats N] [--check]
//
// Half the pairs are unrelated names, half a name and the same name with
// one character changed, as sorting similar surnames gives. --check exits
// with 1 when any language is slower than ICU.
#include <algorithm>
#include <cstdio>
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

}  // namespace

int main(int argc, char** argv) {
  bench::OptionReader options(argc, argv, "collation_bench", "[--pairs N] [--repeats N] [--check]");
  int pairs = 20000, repeats = 5;
  bool check = false;
  for (std::string option; options.Next(option);) {
    if (option == "--pairs") pairs = static_cast<int>(std::max<std::int64_t>(1, options.Number()));
    else if (option == "--repeats") repeats = static_cast<int>(std::max<std::int64_t>(1, options.Number()));
    else if (option == "--check") check = true;
    else options.Fail("unknown option " + option);
  }

  std::printf("%-28s %10s %10s %10s %8s %8s\n", "language", "engine ns", "3-level ns", "ICU ns", "engine", "3-level");
  double worst = 0;
  std::string worst_name;
  for (const collgen::LanguageSource& source : collgen::Languages()) {
    collgen::CodePage cp(source.code_page);
    collgen::Collator icu(source.locale);
    Pairs p = MakePairs(cp, pairs, source.language + source.sort);
    const int n = pairs;
    // By turns: the engine's comparison (whole strings, accents ignored,
    // case kept); letters, accents and case, as ICU's default strength
    // compares; ICU.
    const std::vector<double> medians = bench::MediansByTurns(
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
                    for (int i = 0; i < n; ++i) s += icu.Compare(p.ua[i], p.ub[i], false);
                    sink = s;
                  }});
    const double engine = medians[0], full = medians[1], reference = medians[2];
    const double scale = 1e9 / n;
    const double ratio = std::max(engine, full) / reference;
    std::printf("%-28s %10.1f %10.1f %10.1f %7.2fx %7.2fx\n", source.locale, engine * scale, full * scale,
                reference * scale, engine / reference, full / reference);
    if (ratio > worst) worst = ratio, worst_name = source.locale;
  }
  {
    collgen::CodePage cp(1252);
    Pairs p = MakePairs(cp, pairs, 0);
    const double zero = bench::MedianTime(repeats, [&] {
      int s = 0;
      for (int i = 0; i < pairs; ++i) s += korvex::CompareStrings(0, 0, p.a[i].c_str(), p.b[i].c_str(), 0, false);
      sink = s;
    });
    std::printf("%-28s %10.1f\n", "language 0", zero * 1e9 / pairs);
  }
  std::printf("slowest against ICU: %s at %.2fx (bar 1x, moonshot 0.5x)\n", worst_name.c_str(), worst);
  return check && worst > 1.0 ? 1 : 0;
}
