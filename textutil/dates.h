// Integer dates and times, week numbers, Easter, weekdays of a month and
// dates read by a picture.
//
// An integer date-time (IDT) is a signed count of minutes: TDateTime (days
// since 30 December 1899) times 1440, cut toward zero. IDT / 1440 is the
// day, IDT % 1440 the minute of the day. Weekdays run 1 = Sunday to
// 7 = Saturday.
//
// Texts follow the runtime's formatting settings (ShortDateFormat,
// LongTimeFormat and the separators); "now" is the runtime's clock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/runtime/dates.h"

namespace textutil {

using rtl::TDateTime;

std::int32_t TDT2IDT(TDateTime value);
TDateTime IDT2TDT(std::int32_t idt);

// Texts read with the formatting settings (date in ShortDateFormat's order,
// time as hours, minutes, optional seconds and AM/PM). Raise
// rtl::EConvertError for a text that is not a date or time.
std::int32_t StrToITime(std::string_view s);
std::int32_t StrToIDate(std::string_view s);
std::int32_t StrToIDateTime(std::string_view s);
// The date (ShortDateFormat), time (LongTimeFormat) and date-time text of an
// IDT; the date-time text omits a time of midnight.
std::string IDateToStr(std::int32_t idt);
std::string ITimeToStr(std::int32_t idt);
std::string IDateTimeToStr(std::int32_t idt);
// The date-time text of a TDateTime, to the second: the date, and the time
// unless it is midnight.
std::string DateTimeText(TDateTime value);

// A span of minutes as " hh:mm" ("-" for negative spans; at least two hour
// digits; the time separator of the settings).
std::string ITimeTo2460(std::int32_t idt);

// days * 1440 + hours * 60 + minutes, one more for 30 seconds or more.
std::int32_t EncodeITime(std::uint16_t days, std::uint16_t hours, std::uint16_t minutes, std::uint16_t seconds);
void DecodeITime(std::int32_t idt, std::uint16_t& days, std::uint16_t& hours, std::uint16_t& minutes);
// 0 for a day that does not exist.
std::int32_t EncodeIDate(std::uint16_t year, std::uint16_t month, std::uint16_t day);
void DecodeIDate(std::int32_t idt, std::uint16_t& year, std::uint16_t& month, std::uint16_t& day);

// Keeps the whole hours and rounds the minutes within the hour to a
// multiple of step (halves upward); unchanged for a step of 0 or one that
// does not divide 60.
std::int32_t RoundITime(std::int32_t idt, std::uint16_t step);
// The date-time rounded to a multiple of step seconds, halves away from
// zero; unchanged for a step of 0.
TDateTime RndToSecs(TDateTime value, std::uint16_t step);

// The week of the year counted from 0, weeks starting on first_weekday
// (1..7): week 0 holds 1 January, and the last days of December belong to
// week 0 of the next year when their week holds its 1 January. 99 for a
// first_weekday outside 1..7.
int WeekNum(TDateTime value, int first_weekday);
// The ISO 8601 week minus 1 (0..52): week 0 is the week with the year's
// first Thursday, weeks start on Monday, and the days around New Year
// belong to the year of their week's Thursday.
int ISOWeekNum(TDateTime value);
// Easter Sunday: a day of April when above 0, else 31 + the value is a day
// of March; -31 outside 1900..2099.
int Easter(std::uint16_t year);
int DayOfWk(std::uint16_t year, std::uint16_t month, std::uint16_t day);
// The day of the n-th such weekday of the month (the last one for n of 5 or
// more); 0 for a month outside 1..12, a weekday outside 1..7 or n = 0.
int DayOfMonth(std::uint16_t year, std::uint16_t month, std::uint16_t weekday, std::uint16_t n);
// The user locale's first week of the year ('0' the week holding 1 January,
// '1' the first full week, '2' the first week of four days) and first day of
// the week ('0' Monday .. '6' Sunday).
char FirstWeek();
char FirstDay();

// Reads a date by a picture of two-character fields at the same places as
// in the date: CC century, YY year, MM month (and minute after HH), DD
// day, HH hour, SS second, AP an 'A' or 'P'. Without CC and YY the year is
// the current one. 0 when the date cannot be read.
TDateTime FormatToDateTime(std::string_view date, std::string_view picture);
// Whether the date fits the picture (digits under C, D, M and Y, the same
// characters elsewhere) and names a real day.
bool IsDateValid(std::string_view date, std::string_view picture);

}  // namespace textutil
