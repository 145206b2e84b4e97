#include "tables/lib/language_settings.h"

#include <atomic>
#include <mutex>

#include "platform/runtime/format_settings.h"
#include "tables/lib/language_formats.h"

namespace korvex {
namespace {

constexpr std::array<const char*, 12> kLongMonths = {"January", "February", "March",     "April",
                                                     "May",     "June",     "July",      "August",
                                                     "September", "October", "November", "December"};
constexpr std::array<const char*, 7> kLongDays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                  "Thursday", "Friday", "Saturday"};

void EnglishNames(TLanguageSettings& s) {
  for (int i = 0; i < 12; ++i) {
    s.LongMonthNames[i] = kLongMonths[i];
    s.ShortMonthNames[i] = std::string(kLongMonths[i]).substr(0, 3);
  }
  for (int i = 0; i < 7; ++i) {
    s.LongDayNames[i] = kLongDays[i];
    s.ShortDayNames[i] = std::string(kLongDays[i]).substr(0, 3);
  }
}

std::recursive_mutex& SettingsLock() {
  static std::recursive_mutex lock;
  return lock;
}

// The separators and formats the language settings share with the
// runtime's format settings; the runtime's copy is the one in force.
template <typename From, typename To>
void CopySharedFormats(const From& from, To& to) {
  to.ThousandSeparator = from.ThousandSeparator;
  to.DecimalSeparator = from.DecimalSeparator;
  to.DateSeparator = from.DateSeparator;
  to.TimeSeparator = from.TimeSeparator;
  to.ShortDateFormat = from.ShortDateFormat;
  to.LongTimeFormat = from.LongTimeFormat;
}

// The fields the runtime has no place for; the others live in
// rtl::FormatSettings.
TLanguageSettings& Current() {
  static TLanguageSettings current = [] {
    TLanguageSettings s;
    CopySharedFormats(rtl::FormatSettings(), s);
    s.CurrencyString = "$";
    s.LongDateFormat = "dddd, mmmm d, yyyy";
    s.TimeAMString = "AM";
    s.TimePMString = "PM";
    s.ShortTimeFormat = "h:nn";
    EnglishNames(s);
    return s;
  }();
  return current;
}

}  // namespace

std::atomic<int>& LockDepth() {
  static std::atomic<int> depth{0};
  return depth;
}

void LockLanguageSettings() {
  SettingsLock().lock();
  ++LockDepth();
}
void UnlockLanguageSettings() {
  --LockDepth();
  SettingsLock().unlock();
}
int LanguageSettingsLockDepth() { return LockDepth(); }

void GetLanguageSettings(TLanguageSettings& settings) {
  settings = Current();
  CopySharedFormats(rtl::FormatSettings(), settings);
}

void SetLanguageSettings(const TLanguageSettings& settings) {
  Current() = settings;
  rtl::TFormatSettings rt = rtl::FormatSettings();
  CopySharedFormats(settings, rt);
  rtl::SetFormatSettings(rt);
}

void GetDefaultLanguageSettings(std::uint16_t language, std::uint16_t sort, TLanguageSettings& s) {
  s = TLanguageSettings{};
  EnglishNames(s);
  s.TimeSeparator = ':';
  s.TimeAMString = "AM";
  s.TimePMString = "PM";
  s.ThousandSeparator = ',';
  s.DecimalSeparator = '.';
  s.CurrencyDecimals = 2;
  s.CurrencyFormat = 0;
  s.NegCurrFormat = 0;
  if (language == 0) {
    s.CurrencyString = "";
    s.DateSeparator = '-';
    s.ShortDateFormat = "yyyy-mm-dd";
    s.LongDateFormat = "dddd, mmmm dd, yyyy";
    s.ShortTimeFormat = "hh:mm";
    s.LongTimeFormat = "hh:mm:ss";
    return;
  }
  const TLanguageFormats* f = FindLanguageFormats(language);
  if (!f) {
    // A language without compiled formats: the documented defaults. Hour
    // without leading zero, 12-hour clock.
    s.CurrencyString = "$";
    s.DateSeparator = '/';
    s.ShortDateFormat = "M/d/yyyy";
    s.LongDateFormat = "dddd, MMMM dd, yyyy";
    s.ShortTimeFormat = "h:mm AMPM";
    s.LongTimeFormat = "h:mm:ss AMPM";
    return;
  }
  s.CurrencyString = f->currency;
  s.CurrencyFormat = f->currency_format;
  s.NegCurrFormat = f->neg_currency_format;
  s.CurrencyDecimals = f->currency_decimals;
  s.ThousandSeparator = f->thousand_separator;
  s.DecimalSeparator = f->decimal_separator;
  s.DateSeparator = f->date_separator;
  s.ShortDateFormat = f->short_date;
  s.LongDateFormat = f->long_date;
  s.TimeSeparator = f->time_separator;
  s.TimeAMString = f->am;
  s.TimePMString = f->pm;
  const std::string hour = f->hour_leading_zero ? "hh" : "h";
  const std::string suffix = f->twelve_hour ? " AMPM" : "";
  s.ShortTimeFormat = hour + ":mm" + suffix;
  s.LongTimeFormat = hour + ":mm:ss" + suffix;
  for (std::size_t i = 0; i < 12; ++i) {
    s.ShortMonthNames[i] = f->names->short_months[i];
    s.LongMonthNames[i] = f->names->long_months[i];
  }
  for (std::size_t i = 0; i < 7; ++i) {
    s.ShortDayNames[i] = f->names->short_days[i];
    s.LongDayNames[i] = f->names->long_days[i];
  }
}

LanguageSettingsScope::LanguageSettingsScope(std::uint16_t language, std::uint16_t sort) {
  LockLanguageSettings();
  GetLanguageSettings(saved_);
  TLanguageSettings table;
  GetDefaultLanguageSettings(language, sort, table);
  SetLanguageSettings(table);
}

LanguageSettingsScope::LanguageSettingsScope(const TLanguageSettings& settings) {
  LockLanguageSettings();
  GetLanguageSettings(saved_);
  SetLanguageSettings(settings);
}

LanguageSettingsScope::~LanguageSettingsScope() {
  SetLanguageSettings(saved_);
  UnlockLanguageSettings();
}

}  // namespace korvex
