// Language settings: the number, date and time formats of a table's
// language.
//
// The settings in force are one process-wide object, mirrored into the
// runtime's formatting settings (rtl::FormatSettings) for the fields the
// runtime has. Callers that convert, check or evaluate for a table take the
// language-settings lock, install the table's settings, work and restore
// the saved ones (LanguageSettingsScope does all of it). Every conversion
// also has a form that takes the settings explicitly (text_values.h), for
// callers that must not depend on the process-wide object at all.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace korvex {

struct TLanguageSettings {
  std::string CurrencyString;
  std::int32_t CurrencyFormat = 0;
  std::int32_t NegCurrFormat = 0;
  char ThousandSeparator = ',';
  char DecimalSeparator = '.';
  std::int32_t CurrencyDecimals = 2;
  char DateSeparator = '-';
  std::string ShortDateFormat;
  std::string LongDateFormat;
  char TimeSeparator = ':';
  std::string TimeAMString;
  std::string TimePMString;
  std::string ShortTimeFormat;
  std::string LongTimeFormat;
  std::array<std::string, 12> ShortMonthNames;  // January first
  std::array<std::string, 12> LongMonthNames;
  std::array<std::string, 7> ShortDayNames;     // Sunday first
  std::array<std::string, 7> LongDayNames;
  friend bool operator==(const TLanguageSettings&, const TLanguageSettings&) = default;
};

void LockLanguageSettings();
void UnlockLanguageSettings();
// How many times the lock is held, by all threads together (0 when free);
// for tests and fuzz targets that check that every path releases it.
int LanguageSettingsLockDepth();

// Copy out or install the process-wide settings (no lock taken).
void GetLanguageSettings(TLanguageSettings& settings);
void SetLanguageSettings(const TLanguageSettings& settings);

// The settings of a locale pair. Language 0 ("ANSI Standard") has fixed
// formats on every machine: '.', ',', "yyyy-mm-dd", "hh:mm:ss", English
// names. Other languages take their compiled formats (language_formats.h);
// a language without them gets the documented defaults ("M/d/yyyy", '/',
// '.', ',', "$", 12-hour clock).
void GetDefaultLanguageSettings(std::uint16_t language, std::uint16_t sort, TLanguageSettings& settings);

// Takes the lock, installs the settings of a locale pair (or the given
// ones) and on destruction restores the saved settings and releases it.
class LanguageSettingsScope {
public:
  LanguageSettingsScope(std::uint16_t language, std::uint16_t sort);
  explicit LanguageSettingsScope(const TLanguageSettings& settings);
  ~LanguageSettingsScope();
  LanguageSettingsScope(const LanguageSettingsScope&) = delete;
  LanguageSettingsScope& operator=(const LanguageSettingsScope&) = delete;

private:
  TLanguageSettings saved_;
};

}  // namespace korvex
