// Dates and times as text under the runtime's format settings: the short
// date format ("m/d/yyyy": d, dd, m, mm, yy, yyyy; '/' stands for the date
// separator) and the long time format ("h:nn:ss": h, hh, n, nn, s, ss;
// ':' stands for the time separator). A date-time is the date, a blank and
// the time; the time is left out at midnight.
#pragma once

#include <string>
#include <string_view>

#include "platform/runtime/dates.h"

namespace db {

std::string DateToStr(rtl::TDateTime value);
std::string TimeToStr(rtl::TDateTime value);
std::string DateTimeToStr(rtl::TDateTime value);

// Read in the order of the short date format (day, month and year numbers
// between date separators; a two-digit year counts from 2000 below 50,
// else from 1900) and hours, minutes and optional seconds between time
// separators. False for anything else or an impossible date or time.
bool TryStrToDate(std::string_view text, rtl::TDateTime& value);
bool TryStrToTime(std::string_view text, rtl::TDateTime& value);
bool TryStrToDateTime(std::string_view text, rtl::TDateTime& value);

}  // namespace db
