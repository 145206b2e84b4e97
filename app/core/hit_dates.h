// Dates of hit lines, for sorting by date.
//
// The date text of a line is what stands before its first ';', with every
// '?' read as '0'. Its words (cut at blanks): the first, when it has 4
// characters, is the year; each of the next two is the day when it has 2
// characters and the month when it has 3, looked up exactly in the English
// abbreviations Jan .. Dec (an unknown one counts as January). A part that
// is missing counts as 0, so "1701 Mar 5" sorts as 1701-03-00, before
// 1701-03-01 and after every date of 1700.
//
// A line whose date text does not begin with a digit has no date; neither
// has one whose year or day is not made of digits ("Date sort error:"
// reports those). Lines without a date sort after all dated lines, in their
// own order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace appcore {

// The text before the first ';' (the whole line without one).
std::string_view DateTextOf(std::string_view line);

struct HitDate {
  enum State : uint8_t { kValid, kNotADate, kUnreadable } state = kNotADate;
  int64_t value = 0;  // year * 10000 + month * 100 + day

  // The sort key: dated lines by value, then every line without a date.
  int64_t Key() const { return state == kValid ? value : INT64_MAX; }
};

HitDate DateOfLine(std::string_view line);

// 1 .. 12 for "Jan" .. "Dec" (exact case), 0 otherwise.
int MonthNumber(std::string_view word);

// -1, 0 or 1 by the dates of two lines, as the sort orders them.
int CompareDates(std::string_view a, std::string_view b);

}  // namespace appcore
