#include "platform/runtime/dates.h"

#include <time.h>

#include <atomic>
#include <cmath>
#include <cstdlib>

#include "platform/runtime/exceptions.h"

namespace rtl {

namespace {
constexpr std::int64_t kMSecsPerDay = 86400000;
constexpr std::int32_t kDateDelta = 693594;  // days from 0001-01-01 to 1899-12-31
constexpr std::int64_t kUnixDelta = 25569;   // days from 1899-12-30 to 1970-01-01

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's method).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  std::int64_t yoe = y - era * 400;
  std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  std::int64_t doe = z - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

// Rounded milliseconds split into whole days since 1899-12-30 (towards
// zero) and milliseconds of the day, as the platform's time stamps do.
// A value beyond any 64-bit count of milliseconds (or NaN) splits as 0.
void Split(TDateTime value, std::int64_t& days, std::int64_t& msecs) {
  const double scaled = value * static_cast<double>(kMSecsPerDay);
  if (!(std::fabs(scaled) < 9.0e18)) {
    days = msecs = 0;
    return;
  }
  auto total = static_cast<std::int64_t>(std::llround(scaled));
  days = total / kMSecsPerDay;
  msecs = std::llabs(total) % kMSecsPerDay;
}

class SystemClock : public TClockSource {
public:
  TDateTime Now() override {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return UnixTimeToDateTime(ts.tv_sec, static_cast<int>(ts.tv_nsec / 1000000));
  }
  std::int64_t Milliseconds() override {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  }
};

SystemClock system_clock;
std::atomic<TClockSource*> current_clock{&system_clock};
}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& date) {
  if (year < 1 || year > 9999 || day < 1 || day > DaysInMonth(year, month)) return false;
  date = static_cast<double>(DaysFromCivil(year, month, day) + kUnixDelta);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime date;
  if (!TryEncodeDate(year, month, day, date)) throw EConvertError("Invalid argument to date encode");
  return date;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& time) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    return false;
  std::int64_t ms = ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond;
  time = static_cast<double>(ms) / kMSecsPerDay;
  return true;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  TDateTime time;
  if (!TryEncodeTime(hour, minute, second, millisecond, time))
    throw EConvertError("Invalid argument to time encode");
  return time;
}

void DecodeDate(TDateTime date, int& year, int& month, int& day) {
  std::int64_t days, msecs;
  Split(date, days, msecs);
  CivilFromDays(days - kUnixDelta, year, month, day);
}

void DecodeTime(TDateTime time, int& hour, int& minute, int& second, int& millisecond) {
  std::int64_t days, msecs;
  Split(time, days, msecs);
  millisecond = static_cast<int>(msecs % 1000);
  second = static_cast<int>(msecs / 1000 % 60);
  minute = static_cast<int>(msecs / 60000 % 60);
  hour = static_cast<int>(msecs / 3600000);
}

int DayOfWeek(TDateTime date) {
  std::int64_t days, msecs;
  Split(date, days, msecs);
  // 1899-12-30 was a Saturday (7).
  std::int64_t w = (days + 6) % 7;
  if (w < 0) w += 7;
  return static_cast<int>(w) + 1;
}

// Every conversion below is defined for every input: any 32-bit stamp
// converts (days outside the calendar keep their count), milliseconds that
// no stamp holds (or NaN) give the empty stamp, and a value beyond 64-bit
// milliseconds (or NaN) splits as 0.
TTimeStamp DateTimeToTimeStamp(TDateTime value) {
  std::int64_t days, msecs;
  Split(value, days, msecs);
  TTimeStamp stamp;
  stamp.Date = static_cast<std::int32_t>(kDateDelta + days);
  stamp.Time = static_cast<std::int32_t>(msecs);
  return stamp;
}

TDateTime TimeStampToDateTime(const TTimeStamp& stamp) {
  // Any 32-bit day number: the difference is taken in 64 bits.
  double days = static_cast<double>(std::int64_t{stamp.Date} - kDateDelta);
  double time = static_cast<double>(stamp.Time) / kMSecsPerDay;
  return days >= 0 ? days + time : days - time;
}

double TimeStampToMSecs(const TTimeStamp& stamp) {
  return static_cast<double>(stamp.Date) * kMSecsPerDay + stamp.Time;
}

TTimeStamp MSecsToTimeStamp(double msecs) {
  // Milliseconds whose day number no 32-bit stamp holds (and NaN) give the
  // empty stamp rather than a conversion without a defined result.
  constexpr double kLimit = 2147483647.0 * kMSecsPerDay;
  if (!(msecs > -kLimit && msecs < kLimit)) return TTimeStamp{};
  auto total = static_cast<std::int64_t>(msecs);
  TTimeStamp stamp;
  stamp.Date = static_cast<std::int32_t>(total / kMSecsPerDay);
  stamp.Time = static_cast<std::int32_t>(total % kMSecsPerDay);
  return stamp;
}

TDateTime UnixTimeToDateTime(std::int64_t seconds, int milliseconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm local;
  if (localtime_r(&t, &local) == nullptr) return 0;
  std::int64_t days = DaysFromCivil(local.tm_year + 1900LL, local.tm_mon + 1, local.tm_mday) + kUnixDelta;
  std::int64_t ms = ((local.tm_hour * 60LL + local.tm_min) * 60 + local.tm_sec) * 1000 + milliseconds;
  double time = static_cast<double>(ms) / kMSecsPerDay;
  return days >= 0 ? days + time : days - time;
}

TDateTime Now() { return current_clock.load()->Now(); }
TDateTime Date() { return std::trunc(Now()); }
TDateTime Time() {
  TDateTime now = Now();
  return std::fabs(now - std::trunc(now));
}

std::int64_t MilliSecondClock() { return current_clock.load()->Milliseconds(); }
std::uint32_t GetTickCount() { return static_cast<std::uint32_t>(MilliSecondClock()); }
std::int64_t SecondClock() { return MilliSecondClock() / 1000; }

void TManualClock::Advance(std::int64_t milliseconds) {
  ms_ += milliseconds;
  double total = TimeStampToMSecs(DateTimeToTimeStamp(now_)) + static_cast<double>(milliseconds);
  now_ = TimeStampToDateTime(MSecsToTimeStamp(total));
}

ClockScope::ClockScope(TClockSource& clock) : saved_(current_clock.exchange(&clock)) {}
ClockScope::~ClockScope() { current_clock.store(saved_); }

}  // namespace rtl
