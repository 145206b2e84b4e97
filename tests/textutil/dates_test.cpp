#include "textutil/dates.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/runtime/exceptions.h"
#include "platform/runtime/format_settings.h"
#include "tests/textutil/reference_data.h"
#include "tests/textutil/textutil_fixture.h"

namespace textutil {
namespace {

class DatesTest : public TextutilTest {
protected:
  rtl::FormatSettingsScope settings_;
  // 15 June 2023 10:30, a Thursday.
  rtl::TManualClock clock_{rtl::EncodeDate(2023, 6, 15) + rtl::EncodeTime(10, 30, 0, 0)};
  rtl::ClockScope clock_scope_{clock_};
};

TEST_F(DatesTest, IntegerDateTimes) {
  EXPECT_EQ(TDT2IDT(1.5), 2160);
  EXPECT_EQ(IDT2TDT(2160), 1.5);
  EXPECT_EQ(TDT2IDT(-0.0001), 0);
  EXPECT_EQ(TDT2IDT(1e12), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(EncodeITime(1, 2, 3, 30), 1564);
  EXPECT_EQ(EncodeITime(1, 2, 3, 29), 1563);
  std::uint16_t d, h, m;
  DecodeITime(1564, d, h, m);
  EXPECT_EQ(d, 1);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(m, 4);
  std::int32_t idt = EncodeIDate(2024, 2, 29);
  EXPECT_EQ(idt, TDT2IDT(rtl::EncodeDate(2024, 2, 29)));
  std::uint16_t y, mo, dd;
  DecodeIDate(idt, y, mo, dd);
  EXPECT_EQ(y * 10000 + mo * 100 + dd, 20240229);
  EXPECT_EQ(EncodeIDate(2023, 2, 29), 0);
}

TEST_F(DatesTest, SpansOfMinutes) {
  EXPECT_EQ(ITimeTo2460(125), " 02:05");
  EXPECT_EQ(ITimeTo2460(-1500), "-25:00");
  EXPECT_EQ(ITimeTo2460(0), " 00:00");
  EXPECT_EQ(ITimeTo2460(6000 * 60), " 6000:00");
  rtl::TFormatSettings dotted = rtl::FormatSettings();
  dotted.TimeSeparator = '.';
  rtl::SetFormatSettings(dotted);
  EXPECT_EQ(ITimeTo2460(125), " 02.05");
}

TEST_F(DatesTest, TextsFollowTheSettings) {
  std::int32_t idt = TDT2IDT(rtl::EncodeDate(2024, 3, 9) + rtl::EncodeTime(14, 5, 0, 0));
  EXPECT_EQ(IDateToStr(idt), "3/9/2024");
  EXPECT_EQ(ITimeToStr(idt), "14:05:00");
  EXPECT_EQ(IDateTimeToStr(idt), "3/9/2024 14:05:00");
  EXPECT_EQ(IDateTimeToStr(EncodeIDate(2024, 3, 9)), "3/9/2024");
  // A TDateTime keeps its seconds; midnight shows the date alone.
  const TDateTime when = rtl::EncodeDate(2024, 3, 9) + rtl::EncodeTime(14, 5, 7, 0);
  EXPECT_EQ(DateTimeText(when), "3/9/2024 14:05:07");
  EXPECT_EQ(DateTimeText(rtl::EncodeDate(2024, 3, 9)), "3/9/2024");
  rtl::TFormatSettings german = rtl::FormatSettings();
  german.ShortDateFormat = "dd.mm.yyyy";
  german.DateSeparator = '.';
  german.LongTimeFormat = "hh:nn";
  rtl::SetFormatSettings(german);
  EXPECT_EQ(IDateToStr(idt), "09.03.2024");
  EXPECT_EQ(ITimeToStr(idt), "14:05");
  EXPECT_EQ(StrToIDate("09.03.2024"), EncodeIDate(2024, 3, 9));
  german.LongTimeFormat = "h:nn am/pm";
  rtl::SetFormatSettings(german);
  EXPECT_EQ(ITimeToStr(idt), "2:05 pm");
  EXPECT_EQ(DateTimeText(when), "09.03.2024 2:05 pm");
}

TEST_F(DatesTest, ReadingTexts) {
  EXPECT_EQ(StrToIDate("3/9/2024"), EncodeIDate(2024, 3, 9));
  EXPECT_EQ(StrToIDate(" 3/9/24 "), EncodeIDate(2024, 3, 9));
  EXPECT_EQ(StrToIDate("3/9"), EncodeIDate(2023, 3, 9));  // the clock's year
  EXPECT_EQ(StrToITime("14:05"), 14 * 60 + 5);
  EXPECT_EQ(StrToITime("2:05:40 PM"), 14 * 60 + 5);
  EXPECT_EQ(StrToITime("12:00 AM"), 0);
  EXPECT_EQ(StrToIDateTime("3/9/2024 14:05"), EncodeIDate(2024, 3, 9) + 14 * 60 + 5);
  EXPECT_THROW(StrToIDate("2/30/2024"), rtl::EConvertError);
  EXPECT_THROW(StrToIDate("x"), rtl::EConvertError);
  EXPECT_THROW(StrToIDate(""), rtl::EConvertError);
  EXPECT_THROW(StrToITime("25:00"), rtl::EConvertError);
  EXPECT_THROW(StrToITime("13:00 PM"), rtl::EConvertError);
  EXPECT_THROW(StrToIDateTime("3/9/2024 noon"), rtl::EConvertError);
}

TEST_F(DatesTest, Rounding) {
  EXPECT_EQ(RoundITime(14 * 60 + 7, 15), 14 * 60);
  EXPECT_EQ(RoundITime(14 * 60 + 8, 15), 14 * 60 + 15);
  EXPECT_EQ(RoundITime(14 * 60 + 58, 5), 15 * 60);
  EXPECT_EQ(RoundITime(14 * 60 + 58, 7), 14 * 60 + 58);  // 7 does not divide 60
  EXPECT_EQ(RoundITime(14 * 60 + 58, 0), 14 * 60 + 58);
  TDateTime t = rtl::EncodeDate(2024, 1, 1) + rtl::EncodeTime(10, 0, 44, 0);
  EXPECT_NEAR(RndToSecs(t, 30), rtl::EncodeDate(2024, 1, 1) + rtl::EncodeTime(10, 0, 30, 0), 1e-9);
  EXPECT_NEAR(RndToSecs(t + 1.0 / 86400, 30), rtl::EncodeDate(2024, 1, 1) + rtl::EncodeTime(10, 1, 0, 0), 1e-9);
  EXPECT_EQ(RndToSecs(t, 0), t);  // used to divide by zero
}

TEST_F(DatesTest, EasterMatchesTheGregorianComputus) {
  EXPECT_EQ(Easter(2024), 0);
  EXPECT_EQ(Easter(2025), 20);
  EXPECT_EQ(Easter(1899), -31);
  EXPECT_EQ(Easter(2100), -31);
  auto rows = testdata::ReadTable("easter.txt");
  ASSERT_EQ(rows.size(), 200u);
  for (const auto& r : rows) {
    int year = std::stoi(r[0]), month = std::stoi(r[1]), day = std::stoi(r[2]);
    int e = Easter(static_cast<std::uint16_t>(year));
    EXPECT_EQ(e > 0 ? 4 : 3, month) << year;
    EXPECT_EQ(e > 0 ? e : 31 + e, day) << year;
  }
}

TEST_F(DatesTest, WeekdaysOfMonths) {
  EXPECT_EQ(DayOfWk(2024, 1, 1), 2);
  EXPECT_EQ(DayOfMonth(2024, 2, 5, 5), 29);
  EXPECT_EQ(DayOfMonth(2024, 13, 1, 1), 0);
  EXPECT_EQ(DayOfMonth(2024, 1, 0, 1), 0);
  EXPECT_EQ(DayOfMonth(2024, 1, 1, 0), 0);
  EXPECT_EQ(DayOfMonth(2024, 1, 2, 1), 1);   // first Monday
  EXPECT_EQ(DayOfMonth(2024, 1, 2, 4), 22);  // fourth Monday
  EXPECT_EQ(DayOfMonth(2023, 2, 3, 9), 28);  // last Tuesday
  for (TDateTime d = rtl::EncodeDate(1900, 1, 1); d <= rtl::EncodeDate(2099, 12, 31); d += 1) {
    int y, m, day;
    rtl::DecodeDate(d, y, m, day);
    ASSERT_EQ(DayOfWk(static_cast<std::uint16_t>(y), static_cast<std::uint16_t>(m), static_cast<std::uint16_t>(day)),
              rtl::DayOfWeek(d))
        << y << "-" << m << "-" << day;
  }
}

TEST_F(DatesTest, IsoWeeksMatchPythonForEveryDay) {
  EXPECT_EQ(ISOWeekNum(rtl::EncodeDate(2024, 12, 30)), 0);
  EXPECT_EQ(ISOWeekNum(rtl::EncodeDate(2020, 12, 28)), 52);  // week 53 of 2020
  EXPECT_EQ(ISOWeekNum(rtl::EncodeDate(2021, 1, 3)), 52);
  EXPECT_EQ(ISOWeekNum(rtl::EncodeDate(2005, 1, 3)), 0);
  auto rows = testdata::ReadTable("isoweek.txt");
  ASSERT_EQ(rows.size(), 200u);
  int checked = 0;
  for (const auto& r : rows) {
    int year = std::stoi(r[0]);
    const std::string& weeks = r[1];
    TDateTime jan1 = rtl::EncodeDate(year, 1, 1);
    for (size_t i = 0; i * 2 < weeks.size(); ++i, ++checked) {
      int want = std::stoi(weeks.substr(2 * i, 2)) - 1;
      ASSERT_EQ(ISOWeekNum(jan1 + static_cast<double>(i) + 0.75), want) << year << " day " << i + 1;
    }
  }
  EXPECT_EQ(checked, 73049);
}

// Week 0 holds 1 January; a week holding the next 1 January is week 0 too.
int WeekByDefinition(TDateTime date, int first) {
  int dow = rtl::DayOfWeek(date);
  TDateTime week_start = date - ((dow - first + 7) % 7);
  int y, m, d;
  rtl::DecodeDate(date, y, m, d);
  if (week_start + 6 >= rtl::EncodeDate(y + 1, 1, 1)) return 0;
  TDateTime jan1 = rtl::EncodeDate(y, 1, 1);
  TDateTime week0 = jan1 - ((rtl::DayOfWeek(jan1) - first + 7) % 7);
  return static_cast<int>((week_start - week0) / 7);
}

TEST_F(DatesTest, WeekNumbers) {
  EXPECT_EQ(WeekNum(rtl::EncodeDate(2024, 1, 1), 2), 0);
  EXPECT_EQ(WeekNum(rtl::EncodeDate(2024, 1, 8), 2), 1);
  EXPECT_EQ(WeekNum(rtl::EncodeDate(2024, 1, 8), 0), 99);
  EXPECT_EQ(WeekNum(rtl::EncodeDate(2024, 1, 8), 8), 99);
  for (int first = 1; first <= 7; ++first)
    for (TDateTime d = rtl::EncodeDate(1990, 1, 1); d <= rtl::EncodeDate(2030, 12, 31); d += 1)
      ASSERT_EQ(WeekNum(d, first), WeekByDefinition(d, first)) << first << " " << d;
}

TEST_F(DatesTest, LocaleWeekSettingsAreDigits) {
  EXPECT_GE(FirstWeek(), '0');
  EXPECT_LE(FirstWeek(), '2');
  EXPECT_GE(FirstDay(), '0');
  EXPECT_LE(FirstDay(), '6');
}

TEST_F(DatesTest, PictureDates) {
  EXPECT_EQ(FormatToDateTime("25/12/24", "DD/MM/YY"), rtl::EncodeDate(2024, 12, 25));
  EXPECT_EQ(FormatToDateTime("25/12/1815", "dd/mm/ccyy"), rtl::EncodeDate(1815, 12, 25));
  EXPECT_NEAR(FormatToDateTime("2024-12-25 07:45:30 P", "CCYY-MM-DD HH:MM:SS A"),
              rtl::EncodeDate(2024, 12, 25) + rtl::EncodeTime(7, 45, 30, 0), 1e-9);  // no AP mark
  EXPECT_NEAR(FormatToDateTime("2024-12-25 07:45:30 PM", "CCYY-MM-DD HH:MM:SS AP"),
              rtl::EncodeDate(2024, 12, 25) + rtl::EncodeTime(19, 45, 30, 0), 1e-9);
  EXPECT_NEAR(FormatToDateTime("2024-12-25 12:05 AM", "CCYY-MM-DD HH:MM AP"), rtl::EncodeDate(2024, 12, 25) + rtl::EncodeTime(0, 5, 0, 0), 1e-9);
  EXPECT_EQ(FormatToDateTime("25/12", "DD/MM"), rtl::EncodeDate(2023, 12, 25));  // the clock's year
  EXPECT_EQ(FormatToDateTime("", "DD/MM/YY"), 0);
  EXPECT_EQ(FormatToDateTime("25/13/24", "DD/MM/YY"), 0);
  EXPECT_EQ(FormatToDateTime("25/12/24", "DD/YY"), 0);   // no month
  EXPECT_EQ(FormatToDateTime("25/1", "DD/MM/YY"), 0);     // month not within the text
  EXPECT_EQ(FormatToDateTime("xx/12/24", "DD/MM/YY"), 0);  // day read as 0
}

TEST_F(DatesTest, PictureValidity) {
  EXPECT_FALSE(IsDateValid("31/02/24", "DD/MM/YY"));
  EXPECT_TRUE(IsDateValid("29/02/24", "DD/MM/YY"));
  EXPECT_FALSE(IsDateValid("2x/02/24", "DD/MM/YY"));
  EXPECT_FALSE(IsDateValid("29-02-24", "DD/MM/YY"));
  EXPECT_FALSE(IsDateValid("29/02/23", "DD/MM/YY"));
  EXPECT_FALSE(IsDateValid("29/02/2", "DD/MM/YY"));
  EXPECT_FALSE(IsDateValid("", ""));
  EXPECT_FALSE(IsDateValid("00/02/24", "DD/MM/YY"));
  EXPECT_FALSE(IsDateValid("12/24", "DD/YY"));  // no month
  EXPECT_TRUE(IsDateValid("29/02/2000", "DD/MM/CCYY"));
  EXPECT_FALSE(IsDateValid("01/01/1900", "DD/MM/CCYY"));  // year 0 only with century 20
  EXPECT_FALSE(IsDateValid("29/02", "DD/MM"));  // the clock's year 2023 has no 29 February
  EXPECT_TRUE(IsDateValid("28/02", "DD/MM"));
}

}  // namespace
}  // namespace textutil
