// Reading values from text, and the validators built on it.
//
// Every reader takes the language settings explicitly; the validators
// without a settings argument use the settings in force (language
// settings, language_settings.h). None of them raises.
//
// Accepted texts (blanks around the text are allowed):
//   integers  optional sign, decimal digits (or '$' / "0x" hex)
//   floats    optional sign, digits with the decimal separator, optional
//             exponent ("E", optional sign, digits)
//   dates     up to three numbers split by the date separator, in the order
//             of the short date format (d, m, y); two numbers are day and
//             month of the current year; a year of one or two digits is in
//             the current century
//   times     hour[:minute[:second[.millisecond]]] with the time separator,
//             optionally followed by the AM or PM text ("AM", "PM" too)
//   date and time: a date, optionally followed by blanks and a time
#pragma once

#include <string_view>

#include "platform/runtime/dates.h"
#include "tables/lib/language_settings.h"
#include "tables/lib/numeric.h"

namespace korvex {

bool TryTextToFloat(std::string_view text, const TLanguageSettings& settings, double& value);
bool TryTextToCurrency(std::string_view text, const TLanguageSettings& settings, Currency& value);
bool TryTextToDate(std::string_view text, const TLanguageSettings& settings, rtl::TDateTime& value);
bool TryTextToTime(std::string_view text, const TLanguageSettings& settings, rtl::TDateTime& value);
bool TryTextToDateTime(std::string_view text, const TLanguageSettings& settings, rtl::TDateTime& value);

bool IsAWord(std::string_view text);       // 0 .. 65,535
bool IsAnInteger(std::string_view text);   // 32-bit
bool IsASmallInt(std::string_view text);   // -32,768 .. 32,767
bool IsAByte(std::string_view text);       // 0 .. 255
bool IsAChar(std::string_view text);       // at most one character
bool IsABoolean(std::string_view text);    // TRUE or FALSE in any case

bool IsAFloat(std::string_view text, const TLanguageSettings& settings);
bool IsABCD(std::string_view text, const TLanguageSettings& settings);
bool IsADate(std::string_view text, const TLanguageSettings& settings);
bool IsADateTime(std::string_view text, const TLanguageSettings& settings);
bool IsATime(std::string_view text, const TLanguageSettings& settings);

// The same under the settings in force.
bool IsAFloat(std::string_view text);
bool IsABCD(std::string_view text);
bool IsADate(std::string_view text);
bool IsADateTime(std::string_view text);
bool IsATime(std::string_view text);

// Character classes of the expression lexer.
inline bool IsAlpha(char c) {
  auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' || (u >= 129 && u <= 254);
}
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsAlphaNumeric(char c) { return IsAlpha(c) || IsDigit(c); }

}  // namespace korvex
