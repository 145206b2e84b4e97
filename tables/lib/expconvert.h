// Conversion of a value between field data types, in place in a buffer that
// holds it in the record format of its type (fieldtypes.h).
//
// Texts are read and written in the formats of the language settings in
// force (the caller holds the language-settings lock and has installed the
// table's settings). Neither routine raises: a value that cannot be read or
// represented answers false.
#pragma once

#include <cstdint>
#include <string>

#include "platform/runtime/dates.h"
#include "tables/lib/language_settings.h"
#include "tables/lib/numeric.h"

namespace korvex {

// Every conversion works on the first kConvertBufferSize bytes of the
// buffer, which must hold at least that many.
inline constexpr int kConvertBufferSize = 251;

// The zero-terminated text in the buffer becomes a date (day number), time
// (milliseconds of the day) or timestamp (milliseconds) for types 2, 10 and
// 11; other types leave the buffer alone. False, with the buffer unchanged,
// when the text is not one.
bool ConvertStringToDateTime(std::uint8_t* buffer, std::uint8_t data_type);

// Converts the value from (type, size, scale) to (type, size, scale); sizes
// and scales are the fields' bytes. Strings are cut to the target size - 1
// characters and always terminated. False, with the target value zeroed (an
// empty text for strings), when the value cannot be read or cannot be
// represented in the target type: a number out of the target's range, a
// text that is not a value of the type. Rounding to integers is to the
// nearest, ties to even; BCD values take the target's decimals.
bool ConvertExpression(std::uint8_t from_type, std::uint8_t from_size, std::uint8_t from_scale,
                       std::uint8_t to_type, std::uint8_t to_size, std::uint8_t to_scale,
                       std::uint8_t* buffer);

// The nearest integer, ties to even; false when the value is not a number
// or the integer lies outside [low, high].
bool RoundToInteger(double value, std::int64_t low, std::int64_t high, std::int64_t& result);
// A Currency's value to the nearest integer, ties to even.
std::int64_t RoundCurrencyToInteger(Currency value);

// A timestamp's day number and milliseconds of the day (as the runtime
// splits it), safe for any double: not a number counts as 0, huge values
// are held at the largest day number.
rtl::TTimeStamp TimeStampParts(double milliseconds);

// The texts values are written as, in the given settings.
std::string DateText(std::int32_t day, const TLanguageSettings& settings);
std::string TimeText(std::int32_t milliseconds, const TLanguageSettings& settings);
std::string TimeStampText(double milliseconds, const TLanguageSettings& settings);

}  // namespace korvex
