#include "platform/runtime/dates.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/runtime/exceptions.h"
#include "runtime_test_util.h"
#include "support/raised.h"

namespace rtl {
namespace {

constexpr int kFirstDay = -693593;  // 0001-01-01
constexpr int kLastDay = 2958465;   // 9999-12-31

// Deterministic spread of values over the whole calendar.
std::vector<double> SampleDateTimes() {
  std::vector<double> values = {0, 1, -1, 2, 60, 61, 36526, kFirstDay, kLastDay, 0.5, 45000.999994};
  std::uint64_t seed = 12345;
  for (int i = 0; i < 4000; ++i) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    int day = kFirstDay + static_cast<int>((seed >> 33) % (kLastDay - kFirstDay + 1));
    std::int64_t ms = static_cast<std::int64_t>((seed >> 7) % 86400000);
    values.push_back(day >= 0 ? day + ms / 86400000.0 : day - ms / 86400000.0);
  }
  return values;
}

std::string Numbers(const std::vector<double>& values) {
  std::string out;
  char buf[40];
  for (double v : values) {
    std::snprintf(buf, sizeof buf, "%.17g ", v);
    out += buf;
  }
  return out;
}

// python3's datetime decodes the same values: days since 1899-12-30 (the
// whole part, toward zero) and the milliseconds of the rounded fraction.
TEST(Dates, DecodeAgreesWithPythonOverTheWholeCalendar) {
  auto values = SampleDateTimes();
  std::string expected = RunPython(
      "import sys, datetime, math\n"
      "base = datetime.date(1899, 12, 30)\n"
      "for tok in sys.argv[1].split():\n"
      "    v = float(tok)\n"
      "    total = int(math.copysign(math.floor(abs(v) * 86400000 + 0.5), v))\n"
      "    days = int(total / 86400000)\n"
      "    ms = abs(total) % 86400000\n"
      "    d = base + datetime.timedelta(days=days)\n"
      "    print(d.year, d.month, d.day, ms // 3600000, ms // 60000 % 60, ms // 1000 % 60, ms % 1000,\n"
      "          d.isoweekday() % 7 + 1)",
      Numbers(values));
  std::string actual;
  for (double v : values) {
    int y, m, d, h, n, s, ms;
    DecodeDate(v, y, m, d);
    DecodeTime(v, h, n, s, ms);
    actual += std::to_string(y) + " " + std::to_string(m) + " " + std::to_string(d) + " " +
              std::to_string(h) + " " + std::to_string(n) + " " + std::to_string(s) + " " +
              std::to_string(ms) + " " + std::to_string(DayOfWeek(v)) + "\n";
  }
  EXPECT_EQ(actual, expected);
}

TEST(Dates, EncodeAgreesWithPython) {
  std::string expected = RunPython(
      "import datetime\n"
      "base = datetime.date(1899, 12, 30).toordinal()\n"
      "for y in list(range(1, 40)) + list(range(1580, 1620)) + list(range(1890, 2110)) + list(range(9960, 10000)):\n"
      "    for m in range(1, 13):\n"
      "        for d in (1, 15, 28):\n"
      "            print(datetime.date(y, m, d).toordinal() - base)\n");
  std::string actual;
  auto add = [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int m = 1; m <= 12; ++m)
        for (int d : {1, 15, 28}) actual += std::to_string(static_cast<long long>(EncodeDate(y, m, d))) + "\n";
  };
  add(1, 40);
  add(1580, 1620);
  add(1890, 2110);
  add(9960, 10000);
  EXPECT_EQ(actual, expected);
}

TEST(Dates, LeapYearsAndMonthLengthsAgreeWithPython) {
  std::string expected = RunPython(
      "import calendar\n"
      "print(\"\".join(\"1\" if calendar.isleap(y) else \"0\" for y in range(1, 10000)))\n"
      "print(\" \".join(str(calendar.monthrange(y, m)[1]) for y in (1900, 2000, 2023, 2024) for m in range(1, 13)))\n");
  std::string leaps, lengths;
  for (int y = 1; y < 10000; ++y) leaps += IsLeapYear(y) ? "1" : "0";
  for (int y : {1900, 2000, 2023, 2024})
    for (int m = 1; m <= 12; ++m) lengths += (lengths.empty() ? "" : " ") + std::to_string(DaysInMonth(y, m));
  EXPECT_EQ(leaps + "\n" + lengths + "\n", expected);
}

TEST(Dates, InvalidValuesRaiseConvertError) {
  EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
  EXPECT_THROW(EncodeDate(1900, 2, 29), EConvertError);
  EXPECT_NO_THROW(EncodeDate(2000, 2, 29));
  EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
  EXPECT_THROW(EncodeDate(10000, 1, 1), EConvertError);
  EXPECT_THROW(EncodeDate(2000, 13, 1), EConvertError);
  EXPECT_THROW(EncodeDate(2000, 4, 31), EConvertError);
  EXPECT_EQ(qvtest::WhatRaised<EConvertError>([&] { EncodeTime(24, 0, 0, 0); }), "Invalid argument to time encode");
  EXPECT_THROW(EncodeTime(0, 60, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 0, 1000), EConvertError);
  EXPECT_THROW(EncodeTime(-1, 0, 0, 0), EConvertError);
  TDateTime out = 5;
  EXPECT_FALSE(TryEncodeDate(2023, 2, 29, out));
  EXPECT_EQ(out, 5);
}

TEST(Dates, TimeRoundTripsToTheMillisecond) {
  for (int h : {0, 6, 12, 23})
    for (int ms : {0, 1, 499, 500, 999}) {
      TDateTime t = EncodeTime(h, 59, 58, ms);
      int hh, nn, ss, zz;
      DecodeTime(t, hh, nn, ss, zz);
      EXPECT_EQ(hh * 10000000 + nn * 100000 + ss * 1000 + zz, h * 10000000 + 5958000 + ms);
    }
  // A value a hair below midnight rounds into the next day, date and time alike.
  int y, m, d, h, n, s, z;
  TDateTime almost = EncodeDate(2000, 12, 31) + 0.9999999999;
  DecodeDate(almost, y, m, d);
  DecodeTime(almost, h, n, s, z);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20010101);
  EXPECT_EQ(h + n + s + z, 0);
}

TEST(Dates, TimeStamps) {
  EXPECT_EQ(DateTimeToTimeStamp(EncodeDate(1, 1, 1)).Date, 1);
  TTimeStamp stamp = DateTimeToTimeStamp(EncodeDate(1899, 12, 29) - EncodeTime(6, 0, 0, 0));
  EXPECT_EQ(stamp.Date, 693593);
  EXPECT_EQ(stamp.Time, 6 * 3600000);
  EXPECT_DOUBLE_EQ(TimeStampToDateTime(stamp), -1.25);
  TDateTime when = EncodeDate(1754, 3, 9) + EncodeTime(13, 14, 15, 16);
  TTimeStamp back = MSecsToTimeStamp(TimeStampToMSecs(DateTimeToTimeStamp(when)));
  EXPECT_NEAR(TimeStampToDateTime(back), when, 1e-9);
}

// Stamps and values at the ends of their types convert without overflow
// (the sanitizer build stops on any): days far outside the calendar keep
// their count, values no stamp can hold give the empty stamp.
TEST(Dates, TimeStampsAtTheEndsOfTheirTypes) {
  for (std::int32_t day : {INT32_MIN, INT32_MIN + 1, -1, 0, INT32_MAX}) {
    TTimeStamp stamp;
    stamp.Date = day;
    EXPECT_DOUBLE_EQ(TimeStampToDateTime(stamp), static_cast<double>(std::int64_t{day} - 693594)) << day;
  }
  for (double ms : {1e300, -1e300, std::nan(""), 2147483648.0 * 86400000.0}) {
    TTimeStamp stamp = MSecsToTimeStamp(ms);
    EXPECT_EQ(stamp.Date, 0) << ms;
    EXPECT_EQ(stamp.Time, 0) << ms;
  }
  EXPECT_EQ(MSecsToTimeStamp(2147483000.0 * 86400000.0).Date, 2147483000);
  int y, m, d, h, n, s, z;
  for (double value : {1e300, -1e300, std::nan(""), 1e14, -1e14}) {
    DecodeDate(value, y, m, d);
    DecodeTime(value, h, n, s, z);
    DateTimeToTimeStamp(value);
    DayOfWeek(value);
  }
  DecodeDate(1e11, y, m, d);
  EXPECT_GT(y, 9999);
}

TEST(Clock, ManualClockDrivesEveryReading) {
  // Before 1899-12-30 the time of day is subtracted from the (negative) date.
  TManualClock clock(EncodeDate(1753, 7, 4) - EncodeTime(10, 30, 0, 0), 4294967000LL);
  ClockScope scope(clock);
  EXPECT_EQ(Date(), EncodeDate(1753, 7, 4));
  EXPECT_NEAR(Time(), EncodeTime(10, 30, 0, 0), 1e-9);
  std::uint32_t before = GetTickCount();
  std::int64_t seconds = SecondClock();
  clock.Advance(1500);
  EXPECT_EQ(static_cast<std::uint32_t>(GetTickCount() - before), 1500u);  // across the wrap
  EXPECT_LT(GetTickCount(), before);
  EXPECT_EQ(SecondClock() - seconds, 1);  // 4294967.0 s -> 4294968.5 s
  EXPECT_EQ(MilliSecondClock(), 4294968500LL);
  int h, n, s, ms;
  DecodeTime(Now(), h, n, s, ms);
  EXPECT_EQ(h * 10000 + n * 100 + s, 103001);
  EXPECT_EQ(ms, 500);
  clock.Set(EncodeDate(2024, 2, 28) + EncodeTime(23, 59, 59, 0));
  clock.Advance(1000);
  EXPECT_EQ(Date(), EncodeDate(2024, 2, 29));
  EXPECT_NEAR(Time(), 0, 1e-9);
}

TEST(Clock, SystemClockIsLocalTimeAndMonotonic) {
  TDateTime now = Now();
  TDateTime reference = UnixTimeToDateTime(time(nullptr));
  EXPECT_NEAR(now, reference, 2.0 / 86400);
  std::int64_t a = MilliSecondClock(), b = MilliSecondClock();
  EXPECT_LE(a, b);
  // python3 agrees on the local date.
  std::string today = RunPython(
      "import datetime\n"
      "print((datetime.date.today() - datetime.date(1899, 12, 30)).days)\n");
  EXPECT_NEAR(std::stod(today), Date(), 1.0);  // may straddle midnight
}

}  // namespace
}  // namespace rtl
