// Reading collation weights, case maps and formats of a table language out
// of ICU, and checking a compiled table against ICU's own comparison. Used
// by the collation generator and by the test that repeats its check; the
// program itself never links ICU.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tables/lib/collation.h"
#include "tools/collation_gen/languages.h"

struct UCollator;

namespace collgen {

// A Windows single-byte code page as ICU maps it; bytes without a
// character (and those ICU maps to C1 controls) are undefined.
class CodePage {
public:
  explicit CodePage(int number);
  int Number() const { return number_; }
  // The code point of a byte, or -1 when undefined.
  std::int32_t CharOf(std::uint8_t byte) const { return to_unicode_[byte]; }
  // The byte of a code point, or -1 when the code page lacks it.
  int ByteOf(std::int32_t code_point) const;
  // UTF-16 of a byte string (undefined bytes as U+FFFD).
  std::u16string Decode(const std::string& bytes) const;
  // The bytes of a UTF-16 text, or nothing when a character is missing.
  std::optional<std::string> Encode(const std::u16string& text) const;

private:
  int number_;
  std::array<std::int32_t, 256> to_unicode_{};
};

// An opened ICU collator with the settings the tables reproduce: every
// character counts (punctuation too), accents compare forward, lower case
// before upper case.
class Collator {
public:
  explicit Collator(const char* locale);
  ~Collator();
  Collator(const Collator&) = delete;
  Collator& operator=(const Collator&) = delete;
  UCollator* Get() const { return collator_; }
  // -1, 0, 1 at primary (letters only) or tertiary strength.
  int Compare(const std::u16string& a, const std::u16string& b, bool primary_only) const;

private:
  UCollator* collator_ = nullptr;
  UCollator* primary_ = nullptr;
};

// One table as generated: its parts, before they are shared and written.
struct GeneratedTable {
  std::uint16_t language = 0;
  std::uint16_t sort = 0;
  korvex::TElementRuns elements{};
  korvex::TCaseMap upper{};
  korvex::TCaseMap lower{};
  std::vector<korvex::TContraction> contractions;
  std::array<std::uint64_t, 4> contraction_leads{};
  // The table as the library sees it, pointing into this object.
  korvex::TCollationTable View(std::uint32_t version) const;
};

// Builds the table of a language from ICU; throws std::runtime_error when
// ICU's weights do not fit the table format.
GeneratedTable BuildTable(const LanguageSource& source);

// Compares `pairs` random pairs of strings over the code page's letters,
// marks, punctuation and contractions under the table and under ICU, at
// primary and at tertiary strength. Answers the first disagreement as a
// message, or "" when there is none.
std::string CheckAgainstIcu(const korvex::TCollationTable& table, const LanguageSource& source, int pairs,
                            std::uint32_t seed);

// The number, date and time formats of a language, as written into
// language_formats.cpp: texts in the code page.
struct FormatSource {
  std::uint16_t language = 0;
  std::string currency;
  int currency_format = 0;
  int neg_currency_format = 1;
  int currency_decimals = 2;
  char thousand_separator = ',';
  char decimal_separator = '.';
  char date_separator = '/';
  char time_separator = ':';
  std::string short_date, long_date, am, pm;
  bool hour_leading_zero = false;
  bool twelve_hour = false;
  std::array<std::string, 12> short_months, long_months;
  std::array<std::string, 7> short_days, long_days;
};

// The formats of a language from ICU's locale data (Gregorian calendar,
// Latin digits), in the code page; English names where it lacks a
// character.
FormatSource BuildFormats(const LanguageSource& source);

// ICU's version text, for the generated sources' heading.
std::string IcuVersion();

}  // namespace collgen
