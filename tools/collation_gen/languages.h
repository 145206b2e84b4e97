// The table languages other than 0 that the collation generator makes
// tables for: each language and sort ID with the ICU locale whose
// collation and formats it takes and its Windows ANSI code page.
#pragma once

#include <cstdint>
#include <vector>

namespace collgen {

struct LanguageSource {
  std::uint16_t language;
  std::uint16_t sort;
  const char* locale;     // collation and formats
  int code_page;
};

const std::vector<LanguageSource>& Languages();

}  // namespace collgen
