// collation_gen: writes tables/lib/collation_tables.cpp and
// tables/lib/language_formats.cpp from the installed ICU. Every table is
// checked against ICU's own comparison before anything is written; a
// disagreement writes nothing and exits with 1.
//
//   collation_gen [--root DIR] [--pairs N]
//
// DIR is the source tree (default: the current folder); N the random
// string pairs compared per table (default 100000).
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "tables/lib/collation_tables.h"
#include "tools/collation_gen/emit.h"
#include "tools/collation_gen/icu_source.h"

int main(int argc, char** argv) {
  std::string root = ".";
  int pairs = 100000;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--root" && i + 1 < argc) root = argv[++i];
    else if (arg == "--pairs" && i + 1 < argc) pairs = std::atoi(argv[++i]);
    else {
      std::fprintf(stderr, "usage: collation_gen [--root DIR] [--pairs N]\n");
      return 2;
    }
  }
  try {
    std::vector<collgen::GeneratedTable> tables;
    std::vector<collgen::FormatSource> formats;
    for (const collgen::LanguageSource& source : collgen::Languages()) {
      tables.push_back(collgen::BuildTable(source));
      std::string problem =
          collgen::CheckAgainstIcu(tables.back().View(korvex::kCollationVersion), source, pairs, source.language);
      if (!problem.empty()) {
        std::fprintf(stderr, "collation_gen: table disagrees with ICU: %s\n", problem.c_str());
        return 1;
      }
      if (source.sort == 0) formats.push_back(collgen::BuildFormats(source));
    }
    const std::string icu = collgen::IcuVersion();
    const std::pair<std::string, std::string> files[] = {
        {root + "/tables/lib/collation_tables.cpp",
         collgen::EmitCollationTables(tables, korvex::kCollationVersion, icu)},
        {root + "/tables/lib/language_formats.cpp",
         collgen::EmitLanguageFormats(formats, korvex::kCollationVersion, icu)},
    };
    for (const auto& [name, text] : files) {
      std::ofstream out(name, std::ios::binary | std::ios::trunc);
      out << text;
      out.close();
      if (!out) {
        std::fprintf(stderr, "collation_gen: cannot write %s\n", name.c_str());
        return 1;
      }
      std::printf("%s: %zu bytes\n", name.c_str(), text.size());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "collation_gen: %s\n", e.what());
    return 1;
  }
  return 0;
}
