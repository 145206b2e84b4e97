// Numbers of the engine: the stored form of BCD values, Currency, rounding,
// powers, truth texts and the minimum/maximum helpers.
//
// BCD stored form: a signed 64-bit integer whose decimal digits are the
// value's digits at the field's number of decimals d (0 to 4), followed by
// one more digit holding d, the sign in front. 123.45 with 2 decimals is
// 123452; -0.5 with 1 decimal is -51; 7 with 0 decimals is 70. A value
// with more decimals than the field rounds half away from zero.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/runtime/currency.h"

namespace korvex {

using rtl::Currency;

// "##############0", for decimals > 0 followed by "." and that many "0".
std::string MakeBCDDisplayFormat(std::uint16_t decimals);

// The stored BCD form of a value at `decimals` (0 to 4; more count as 4).
// nullopt when the value is not a number or too large for the stored form.
std::optional<std::int64_t> FloatToComp(double value, int decimals);
std::optional<std::int64_t> CurrToComp(Currency value, int decimals);

// The value of a stored BCD form. A stored 0 is 0.
double CompToFloat(std::int64_t comp);
// nullopt when the value does not fit a Currency.
std::optional<Currency> CompToCurr(std::int64_t comp);

// BCD arithmetic wider than Currency: a value in Currency's units (1/10,000)
// held in 128 bits, so that every stored form has one and sums, products
// and quotients of two of them are exact before they are rounded back.
using TBCDUnits = __int128;
// The stored form's value in units; more than 4 decimals round half away
// from zero.
TBCDUnits CompToUnits(std::int64_t comp);
// The stored form at `decimals` (half away from zero); nullopt beyond it.
std::optional<std::int64_t> UnitsToComp(TBCDUnits units, int decimals);

// Decimals above 4 count as 4; half away from zero.
Currency RoundCurr(Currency value, int decimals);
// Half away from zero at `decimals` decimals.
double RoundFloat(double value, int decimals);
// Drop the fraction (towards zero).
Currency FloorCurr(Currency value);
double FloorFloat(double value);
// x to the power n; 1 for n = 0.
double PowerFloat(double x, std::uint8_t n);
// The same in Currency arithmetic, each product rounded to 1/10,000.
Currency PowerCurr(Currency x, std::uint8_t n);

// "True" or "False".
std::string BoolToStr(bool value);
// "TRUE" or "FALSE" in any case; anything else raises rtl::EConvertError
// "'<text>' is not a valid boolean value".
bool StrToBool(std::string_view text);
bool TryStrToBool(std::string_view text, bool& value);

template <typename T>
constexpr T Maximum(T a, T b) { return a > b ? a : b; }
template <typename T>
constexpr T Minimum(T a, T b) { return a < b ? a : b; }

inline std::int32_t MaximumInteger(std::int32_t a, std::int32_t b) { return Maximum(a, b); }
inline std::int32_t MinimumInteger(std::int32_t a, std::int32_t b) { return Minimum(a, b); }
inline std::uint16_t MaximumWord(std::uint16_t a, std::uint16_t b) { return Maximum(a, b); }
inline std::uint16_t MinimumWord(std::uint16_t a, std::uint16_t b) { return Minimum(a, b); }
inline std::int16_t MaximumSmallInt(std::int16_t a, std::int16_t b) { return Maximum(a, b); }
inline std::int16_t MinimumSmallInt(std::int16_t a, std::int16_t b) { return Minimum(a, b); }
inline std::uint8_t MaximumByte(std::uint8_t a, std::uint8_t b) { return Maximum(a, b); }
inline std::uint8_t MinimumByte(std::uint8_t a, std::uint8_t b) { return Minimum(a, b); }
inline Currency MaximumBCD(Currency a, Currency b) { return Maximum(a, b); }
inline Currency MinimumBCD(Currency a, Currency b) { return Minimum(a, b); }
inline double MaximumFloat(double a, double b) { return Maximum(a, b); }
inline double MinimumFloat(double a, double b) { return Minimum(a, b); }
inline std::int64_t MaximumComp(std::int64_t a, std::int64_t b) { return Maximum(a, b); }
inline std::int64_t MinimumComp(std::int64_t a, std::int64_t b) { return Minimum(a, b); }

}  // namespace korvex
