// The number, date and time formats of every table language other than 0,
// generated with the collation tables (tools/collation_gen) from ICU's
// locale data and committed as source (language_formats.cpp). Texts are in
// the language's code page; GetDefaultLanguageSettings turns an entry into
// TLanguageSettings.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace korvex {

struct TLanguageNames {
  std::array<const char*, 12> short_months;  // January first
  std::array<const char*, 12> long_months;
  std::array<const char*, 7> short_days;     // Sunday first
  std::array<const char*, 7> long_days;
};

struct TLanguageFormats {
  std::uint16_t language;
  const char* currency;
  std::int8_t currency_format;      // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
  std::int8_t neg_currency_format;  // 0 "($1)" .. 15 "(1 $)", as Windows numbers them
  std::int8_t currency_decimals;
  char thousand_separator;
  char decimal_separator;
  char date_separator;
  char time_separator;
  const char* short_date;  // the runtime's date format codes
  const char* long_date;
  const char* am;
  const char* pm;
  bool hour_leading_zero;
  bool twelve_hour;
  const TLanguageNames* names;
};

// Every entry, ordered by language ID.
std::span<const TLanguageFormats> CompiledLanguageFormats();
const TLanguageFormats* FindLanguageFormats(std::uint16_t language);

}  // namespace korvex
