#include "textutil/dates.h"

#include <langinfo.h>
#include <locale.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "platform/runtime/exceptions.h"
#include "platform/runtime/format_settings.h"
#include "platform/runtime/sysutils.h"

namespace textutil {
namespace {

constexpr int kMinutesPerDay = 1440;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string Padded(int value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  return buffer;
}

// Day number of a TDateTime, whose negative values count days back from
// 30 December 1899 with the time as a positive fraction.
void DecodeDay(TDateTime value, int& year, int& month, int& day) { rtl::DecodeDate(value, year, month, day); }

// ---- texts through the formatting settings ----------------------------------

struct Fields {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
};

// Writes fields through a format of the class library's kind: d dd m mm mmm
// mmmm yy yyyy h hh n nn s ss z zzz am/pm a/p ampm, '/' and ':' as the
// separators of the settings, quoted text as it is.
std::string FormatFields(std::string_view format, const Fields& f) {
  static constexpr const char* kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                            "July",    "August",   "September", "October", "November", "December"};
  const rtl::TFormatSettings& settings = rtl::FormatSettings();
  const bool twelve = [&] {
    for (size_t i = 0; i + 2 < format.size(); ++i)
      if (Lower(format[i]) == 'a' && (Lower(format[i + 1]) == 'm' || format[i + 1] == '/')) return true;
    return false;
  }();
  std::string out;
  char previous = 0;  // the last field letter, so that 'm' after 'h' is minutes
  for (size_t i = 0; i < format.size();) {
    char c = format[i];
    char l = Lower(c);
    size_t run = 1;
    while (i + run < format.size() && Lower(format[i + run]) == l) ++run;
    if (c == '"' || c == '\'') {
      size_t close = format.find(c, i + 1);
      if (close == std::string_view::npos) close = format.size();
      out.append(format.substr(i + 1, close - i - 1));
      i = close + 1;
      continue;
    }
    if (l == 'a') {
      int hour = f.hour;
      if (format.substr(i, 5).size() == 5 && Lower(format[i + 1]) == 'm' && format[i + 2] == '/') {
        std::string am(format.substr(i, 2)), pm(format.substr(i + 3, 2));
        out += hour < 12 ? am : pm;
        i += 5;
        continue;
      }
      if (i + 2 < format.size() && format[i + 1] == '/') {
        out += hour < 12 ? format[i] : format[i + 2];
        i += 3;
        continue;
      }
      if (i + 4 <= format.size() && Lower(format[i + 1]) == 'm' && Lower(format[i + 2]) == 'p' &&
          Lower(format[i + 3]) == 'm') {
        out += hour < 12 ? "AM" : "PM";
        i += 4;
        continue;
      }
    }
    switch (l) {
      case 'y':
        out += run >= 3 ? Padded(f.year, 4) : Padded(f.year % 100, 2);
        break;
      case 'm':
        if (previous == 'h') {
          out += run >= 2 ? Padded(f.minute, 2) : std::to_string(f.minute);
        } else if (run >= 3) {
          std::string name = f.month >= 1 && f.month <= 12 ? kMonths[f.month - 1] : "";
          out += run == 3 ? name.substr(0, 3) : name;
        } else {
          out += run == 2 ? Padded(f.month, 2) : std::to_string(f.month);
        }
        break;
      case 'd':
        out += run >= 2 ? Padded(f.day, 2) : std::to_string(f.day);
        break;
      case 'h': {
        int hour = twelve ? (f.hour % 12 == 0 ? 12 : f.hour % 12) : f.hour;
        out += run >= 2 ? Padded(hour, 2) : std::to_string(hour);
        break;
      }
      case 'n':
        out += run >= 2 ? Padded(f.minute, 2) : std::to_string(f.minute);
        break;
      case 's':
        out += run >= 2 ? Padded(f.second, 2) : std::to_string(f.second);
        break;
      case 'z':
        out += run >= 3 ? Padded(f.msec, 3) : std::to_string(f.msec);
        break;
      case '/':
        out.append(run, settings.DateSeparator);
        break;
      case ':':
        out.append(run, settings.TimeSeparator);
        break;
      default:
        out.append(format.substr(i, run));
        break;
    }
    if (l == 'y' || l == 'm' || l == 'd' || l == 'h' || l == 'n' || l == 's') previous = l;
    i += run;
  }
  return out;
}

Fields FieldsOf(TDateTime value) {
  Fields f;
  DecodeDay(value, f.year, f.month, f.day);
  rtl::DecodeTime(value, f.hour, f.minute, f.second, f.msec);
  return f;
}

// Numbers separated by sep, with blanks round them; false for anything else.
bool ReadNumbers(std::string_view s, char sep, std::vector<int>& numbers, std::vector<int>& widths) {
  numbers.clear();
  widths.clear();
  size_t i = 0;
  auto skip_blanks = [&] {
    while (i < s.size() && s[i] == ' ') ++i;
  };
  skip_blanks();
  while (true) {
    size_t start = i;
    long long v = 0;
    while (i < s.size() && IsDigit(s[i]) && i - start < 9) v = v * 10 + (s[i++] - '0');
    if (i == start || (i < s.size() && IsDigit(s[i]))) return false;
    numbers.push_back(static_cast<int>(v));
    widths.push_back(static_cast<int>(i - start));
    skip_blanks();
    if (i == s.size()) return true;
    if (s[i] != sep) return false;
    ++i;
    skip_blanks();
  }
}

bool ParseDate(std::string_view s, TDateTime& date) {
  const rtl::TFormatSettings& settings = rtl::FormatSettings();
  std::vector<int> n, width;
  if (!ReadNumbers(s, settings.DateSeparator, n, width) || n.size() < 2 || n.size() > 3) return false;
  // The order of day, month and year in the short date format.
  std::string order;
  for (char c : settings.ShortDateFormat) {
    char l = Lower(c);
    if ((l == 'd' || l == 'm' || l == 'y') && order.find(l) == std::string::npos) order += l;
  }
  if (order.size() != 3) order = "mdy";
  int current_year, current_month, current_day;
  DecodeDay(rtl::Date(), current_year, current_month, current_day);
  int year = current_year, month = 0, day = 0;
  size_t k = 0;
  for (char field : order) {
    if (field == 'y' && n.size() == 2) continue;
    if (field == 'y') {
      year = n[k];
      if (width[k] <= 2) year += current_year / 100 * 100;
    } else if (field == 'm') {
      month = n[k];
    } else {
      day = n[k];
    }
    ++k;
  }
  return rtl::TryEncodeDate(year, month, day, date);
}

bool ParseTime(std::string_view s, TDateTime& time) {
  const rtl::TFormatSettings& settings = rtl::FormatSettings();
  std::string text(s);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  int shift = -1;  // -1 none, 0 AM, 12 PM
  auto ends_with = [&](std::string_view suffix) {
    if (text.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i)
      if (Upper(text[text.size() - suffix.size() + i]) != suffix[i]) return false;
    return true;
  };
  for (auto [suffix, value] : {std::pair{"AM", 0}, std::pair{"PM", 12}, std::pair{"A", 0}, std::pair{"P", 12}}) {
    if (ends_with(suffix)) {
      text.resize(text.size() - std::string_view(suffix).size());
      shift = value;
      break;
    }
  }
  std::vector<int> n, width;
  if (!ReadNumbers(text, settings.TimeSeparator, n, width) || n.size() < 2 || n.size() > 3) return false;
  int hour = n[0];
  if (shift >= 0) {
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + shift;
  }
  return rtl::TryEncodeTime(hour, n[1], n.size() > 2 ? n[2] : 0, 0, time);
}

TDateTime StrToDate(std::string_view s) {
  TDateTime date;
  if (!ParseDate(s, date)) throw rtl::EConvertError("'" + std::string(s) + "' is not a valid date");
  return date;
}

TDateTime StrToTime(std::string_view s) {
  TDateTime time;
  if (!ParseTime(s, time)) throw rtl::EConvertError("'" + std::string(s) + "' is not a valid time");
  return time;
}

TDateTime StrToDateTime(std::string_view s) {
  std::string text = rtl::Trim(s);
  size_t blank = text.find(' ');
  TDateTime date, time = 0;
  bool ok = blank == std::string::npos
                ? ParseDate(text, date)
                : ParseDate(std::string_view(text).substr(0, blank), date) &&
                      ParseTime(std::string_view(text).substr(blank + 1), time);
  if (!ok) throw rtl::EConvertError("'" + std::string(s) + "' is not a valid date and time");
  return date < 0 ? date - time : date + time;
}

int FloorMod(long long a, int b) { return static_cast<int>(((a % b) + b) % b); }

bool IsoLongYear(int year) {
  int jan1 = DayOfWk(static_cast<std::uint16_t>(year), 1, 1);  // 1 Sunday .. 7 Saturday
  return jan1 == 5 || (jan1 == 4 && rtl::IsLeapYear(year));
}

// Position of a two-character picture mark whose field lies within the
// date, or npos.
size_t FieldAt(const std::string& picture, std::string_view mark, size_t date_length, size_t from = 0) {
  size_t at = picture.find(mark, from);
  return at != std::string::npos && at + 2 <= date_length ? at : std::string::npos;
}

int FieldValue(std::string_view date, size_t at) {
  return at == std::string::npos ? 0 : rtl::StrToIntDef(date.substr(at, 2), 0);
}


}  // namespace

// ---- integer date-times ---------------------------------------------------------

std::int32_t TDT2IDT(TDateTime value) {
  double minutes = std::trunc(value * kMinutesPerDay);
  if (!(minutes > std::numeric_limits<std::int32_t>::min())) return std::numeric_limits<std::int32_t>::min();
  if (minutes > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(minutes);
}

TDateTime IDT2TDT(std::int32_t idt) {
  return idt / kMinutesPerDay + static_cast<double>(idt % kMinutesPerDay) / kMinutesPerDay;
}

std::int32_t StrToITime(std::string_view s) { return TDT2IDT(StrToTime(s)); }

std::int32_t StrToIDate(std::string_view s) {
  return static_cast<std::int32_t>(std::trunc(StrToDate(s))) * kMinutesPerDay;
}

std::int32_t StrToIDateTime(std::string_view s) { return TDT2IDT(StrToDateTime(s)); }

std::string IDateToStr(std::int32_t idt) {
  return FormatFields(rtl::FormatSettings().ShortDateFormat, FieldsOf(IDT2TDT(idt)));
}

std::string ITimeToStr(std::int32_t idt) {
  Fields f;
  int minute = std::abs(idt % kMinutesPerDay);
  f.hour = minute / 60;
  f.minute = minute % 60;
  return FormatFields(rtl::FormatSettings().LongTimeFormat, f);
}

std::string IDateTimeToStr(std::int32_t idt) {
  std::string text = IDateToStr(idt);
  if (idt % kMinutesPerDay != 0) text += " " + ITimeToStr(idt);
  return text;
}

std::string DateTimeText(TDateTime value) {
  const Fields f = FieldsOf(value);
  std::string text = IDateToStr(TDT2IDT(value));
  if (f.hour != 0 || f.minute != 0 || f.second != 0)
    text += " " + FormatFields(rtl::FormatSettings().LongTimeFormat, f);
  return text;
}

std::string ITimeTo2460(std::int32_t idt) {
  long long span = idt;
  std::string out = span < 0 ? "-" : " ";
  if (span < 0) span = -span;
  out += Padded(static_cast<int>(span / 60), 2);
  out += rtl::FormatSettings().TimeSeparator;
  out += Padded(static_cast<int>(span % 60), 2);
  return out;
}

std::int32_t EncodeITime(std::uint16_t days, std::uint16_t hours, std::uint16_t minutes, std::uint16_t seconds) {
  return days * kMinutesPerDay + hours * 60 + minutes + (seconds >= 30 ? 1 : 0);
}

void DecodeITime(std::int32_t idt, std::uint16_t& days, std::uint16_t& hours, std::uint16_t& minutes) {
  days = static_cast<std::uint16_t>(idt / kMinutesPerDay);
  int rest = idt % kMinutesPerDay;
  hours = static_cast<std::uint16_t>(rest / 60);
  minutes = static_cast<std::uint16_t>(rest % 60);
}

std::int32_t EncodeIDate(std::uint16_t year, std::uint16_t month, std::uint16_t day) {
  TDateTime date;
  return rtl::TryEncodeDate(year, month, day, date) ? TDT2IDT(date) : 0;
}

void DecodeIDate(std::int32_t idt, std::uint16_t& year, std::uint16_t& month, std::uint16_t& day) {
  int y, m, d;
  DecodeDay(IDT2TDT(idt), y, m, d);
  year = static_cast<std::uint16_t>(y);
  month = static_cast<std::uint16_t>(m);
  day = static_cast<std::uint16_t>(d);
}

std::int32_t RoundITime(std::int32_t idt, std::uint16_t step) {
  if (step == 0 || 60 % step != 0) return idt;
  int minutes = FloorMod(idt, 60);
  long long rounded = static_cast<long long>(idt) - minutes + (minutes + step / 2) / step * step;
  if (rounded > std::numeric_limits<std::int32_t>::max()) rounded -= step;
  return static_cast<std::int32_t>(rounded);
}

TDateTime RndToSecs(TDateTime value, std::uint16_t step) {
  if (step == 0) return value;
  const double unit = step / 86400.0;
  const double half = step / 172800.0;
  double shifted = value >= 0 ? value + half : value - half;
  return std::trunc(shifted / unit) * unit;
}

// ---- calendar ----------------------------------------------------------------

int WeekNum(TDateTime value, int first_weekday) {
  if (first_weekday < 1 || first_weekday > 7) return 99;
  int year, month, day;
  DecodeDay(value, year, month, day);
  const int last = first_weekday == 1 ? 7 : first_weekday - 1;
  const auto y = static_cast<std::uint16_t>(year);
  const int first_last = DayOfMonth(y, 1, static_cast<std::uint16_t>(last), 1);
  const double start = rtl::EncodeDate(year, 1, first_last) - 6;
  const double date = rtl::EncodeDate(year, month, day);
  const int week = static_cast<int>((date - start) / 7);
  if (week < 52) return week;
  int to_last = FloorMod(last - DayOfWk(y, static_cast<std::uint16_t>(month), static_cast<std::uint16_t>(day)), 7);
  return to_last > 31 - day ? 0 : week;
}

int ISOWeekNum(TDateTime value) {
  int year, month, day;
  DecodeDay(value, year, month, day);
  const double date = rtl::EncodeDate(year, month, day);
  const int ordinal = static_cast<int>(date - rtl::EncodeDate(year, 1, 1)) + 1;
  const int dow = DayOfWk(static_cast<std::uint16_t>(year), static_cast<std::uint16_t>(month),
                          static_cast<std::uint16_t>(day));
  const int iso_day = dow == 1 ? 7 : dow - 1;  // Monday 1 .. Sunday 7
  int week = (ordinal - iso_day + 10) / 7;
  if (week < 1) week = IsoLongYear(year - 1) ? 53 : 52;
  else if (week == 53 && !IsoLongYear(year)) week = 1;
  return week - 1;
}

int Easter(std::uint16_t year) {
  if (year < 1900 || year > 2099) return -31;
  int g = year % 19;
  int d = (204 - 11 * g) % 30 + 21;
  if (d >= 49) --d;
  int e = (d + year + year / 4 + 1) % 7;
  return d - 24 - e;
}

int DayOfWk(std::uint16_t year, std::uint16_t month, std::uint16_t day) {
  int a = (14 - static_cast<int>(month)) / 12;
  int y = year - a;
  int m = month + 12 * a - 2;
  return FloorMod(static_cast<long long>(day) + y + y / 4 - y / 100 + y / 400 + (31 * m) / 12, 7) + 1;
}

int DayOfMonth(std::uint16_t year, std::uint16_t month, std::uint16_t weekday, std::uint16_t n) {
  if (month < 1 || month > 12 || weekday < 1 || weekday > 7 || n == 0) return 0;
  if (n <= 4) {
    int f = 7 * (n - 1) + 1;
    return f + FloorMod(weekday - DayOfWk(year, month, static_cast<std::uint16_t>(f)), 7);
  }
  int t = rtl::DaysInMonth(year, month);
  return t - FloorMod(DayOfWk(year, month, static_cast<std::uint16_t>(t)) - weekday, 7);
}

namespace {

// The user's LC_TIME settings (the C locale's when none is set).
struct WeekSettings {
  int first_weekday = 1;  // 1 Sunday .. 7 Saturday
  int first_week_days = 4;
  WeekSettings() {
    locale_t locale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (locale == nullptr) locale = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    if (locale == nullptr) return;
    first_weekday = nl_langinfo_l(_NL_TIME_FIRST_WEEKDAY, locale)[0];
    first_week_days = nl_langinfo_l(_NL_TIME_WEEK_1STWEEK, locale)[0];
    freelocale(locale);
  }
};

const WeekSettings& Week() {
  static const WeekSettings settings;
  return settings;
}

}  // namespace

char FirstWeek() {
  switch (Week().first_week_days) {
    case 7: return '1';
    case 4: return '2';
    default: return '0';
  }
}

char FirstDay() {
  int sunday_based = Week().first_weekday;  // 1 Sunday
  if (sunday_based < 1 || sunday_based > 7) sunday_based = 1;
  return static_cast<char>('0' + (sunday_based + 5) % 7);
}

// ---- pictures ------------------------------------------------------------------

TDateTime FormatToDateTime(std::string_view date, std::string_view picture_text) {
  if (date.empty()) return 0;
  const std::string picture = rtl::UpperCase(picture_text);
  const size_t n = date.size();
  int year, month, day;
  DecodeDay(rtl::Now(), year, month, day);
  if (size_t at = FieldAt(picture, "CC", n); at != std::string::npos) year = FieldValue(date, at) * 100;
  if (size_t at = FieldAt(picture, "YY", n); at != std::string::npos) year = FieldValue(date, at) + year / 100 * 100;
  const size_t month_at = FieldAt(picture, "MM", n);
  const size_t day_at = FieldAt(picture, "DD", n);
  if (month_at == std::string::npos || day_at == std::string::npos) return 0;
  month = FieldValue(date, month_at);
  day = FieldValue(date, day_at);
  int hour = 0, minute = 0, second = 0;
  if (size_t at = FieldAt(picture, "HH", n); at != std::string::npos) {
    hour = FieldValue(date, at);
    minute = FieldValue(date, FieldAt(picture, "MM", n, at));
  }
  second = FieldValue(date, FieldAt(picture, "SS", n));
  if (size_t at = FieldAt(picture, "AP", n); at != std::string::npos) {
    if (Upper(date[at]) == 'P') {
      if (hour < 12) hour += 12;
    } else if (hour == 12) {
      hour = 0;
    }
  }
  TDateTime d, t;
  if (!rtl::TryEncodeDate(year, month, day, d) || !rtl::TryEncodeTime(hour, minute, second, 0, t)) return 0;
  return d < 0 ? d - t : d + t;
}

bool IsDateValid(std::string_view date, std::string_view picture_text) {
  if (picture_text.empty() || date.size() != picture_text.size()) return false;
  const std::string picture = rtl::UpperCase(picture_text);
  for (size_t i = 0; i < picture.size(); ++i) {
    char p = picture[i];
    bool numeric = p == 'C' || p == 'D' || p == 'M' || p == 'Y';
    if (numeric ? !IsDigit(date[i]) : date[i] != picture_text[i]) return false;
  }
  const size_t n = date.size();
  const size_t month_at = FieldAt(picture, "MM", n);
  if (month_at == std::string::npos) return false;
  const int month = FieldValue(date, month_at);
  if (month < 1 || month > 12) return false;
  int current_year, current_month, current_day;
  DecodeDay(rtl::Date(), current_year, current_month, current_day);
  const size_t century_at = FieldAt(picture, "CC", n);
  const size_t year_at = FieldAt(picture, "YY", n);
  const int century = century_at != std::string::npos ? FieldValue(date, century_at) : current_year / 100;
  const int year = year_at != std::string::npos ? FieldValue(date, year_at) : current_year % 100;
  if (year == 0 && century != 20) return false;
  const int day = FieldValue(date, FieldAt(picture, "DD", n));
  return day >= 1 && day <= rtl::DaysInMonth(century * 100 + year, month);
}

}  // namespace textutil
