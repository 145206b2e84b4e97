// Dates and times. TDateTime counts days since 30 December 1899 (so
// 1 January 1900 is 2.0); the fraction is the time of day. Years run from 1
// to 9999 in the proleptic Gregorian calendar.
//
// The clocks read a replaceable clock source, so tests can set the time.
#pragma once

#include <cstdint>

namespace rtl {

using TDateTime = double;

bool IsLeapYear(int year);
// 28..31; 0 for a month outside 1..12.
int DaysInMonth(int year, int month);

// EConvertError "Invalid argument to date encode" / "... time encode" for
// values outside the calendar or the day (hour 0..23, minute and second
// 0..59, millisecond 0..999).
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
bool TryEncodeDate(int year, int month, int day, TDateTime& date);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& time);
void DecodeDate(TDateTime date, int& year, int& month, int& day);
// The time of day, rounded to the nearest millisecond.
void DecodeTime(TDateTime time, int& hour, int& minute, int& second, int& millisecond);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime date);

// The runtime's time stamp: Date counts days with 1 January of year 1 as
// day 1, Time milliseconds since midnight.
struct TTimeStamp {
  std::int32_t Time = 0;
  std::int32_t Date = 0;
};
TTimeStamp DateTimeToTimeStamp(TDateTime value);
TDateTime TimeStampToDateTime(const TTimeStamp& stamp);
double TimeStampToMSecs(const TTimeStamp& stamp);
TTimeStamp MSecsToTimeStamp(double msecs);

// Seconds since 1970-01-01 00:00 UTC (and milliseconds) as local time.
TDateTime UnixTimeToDateTime(std::int64_t seconds, int milliseconds = 0);

// The local date and time now, today (time 0) and the time of day (date 0).
TDateTime Now();
TDateTime Date();
TDateTime Time();
// Milliseconds from an arbitrary start, never going back (GetTickCount
// wraps at 2^32 as the platform's did; MilliSecondClock does not).
std::int64_t MilliSecondClock();
std::uint32_t GetTickCount();
// Whole seconds of the same clock, for elapsed-time reports.
std::int64_t SecondClock();

// Where the clocks read the time. The default reads the system clocks.
class TClockSource {
public:
  virtual ~TClockSource() = default;
  virtual TDateTime Now() = 0;
  virtual std::int64_t Milliseconds() = 0;
};

// A clock that stands still until told: Advance moves both readings.
class TManualClock : public TClockSource {
public:
  explicit TManualClock(TDateTime now = 0, std::int64_t milliseconds = 0)
      : now_(now), ms_(milliseconds) {}
  TDateTime Now() override { return now_; }
  std::int64_t Milliseconds() override { return ms_; }
  void Set(TDateTime now) { now_ = now; }
  // Moves both readings on; the date and time move together, also before
  // 1899-12-30, where the time of day counts away from zero.
  void Advance(std::int64_t milliseconds);

private:
  TDateTime now_;
  std::int64_t ms_;
};

// Installs a clock source for its lifetime and restores the previous one.
class ClockScope {
public:
  explicit ClockScope(TClockSource& clock);
  ~ClockScope();
  ClockScope(const ClockScope&) = delete;
  ClockScope& operator=(const ClockScope&) = delete;

private:
  TClockSource* saved_;
};

}  // namespace rtl
