// Currency: a fixed-point number with four decimals, held as its value
// x 10,000 in 64 bits, and its exact decimal text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rtl {

struct Currency {
  std::int64_t scaled = 0;

  static constexpr std::int64_t kScale = 10000;
  static Currency FromScaled(std::int64_t scaled) { return Currency{scaled}; }
  // Rounds half away from zero to four decimals; nullopt when out of range.
  static std::optional<Currency> FromDouble(double value);
  double ToDouble() const { return static_cast<double>(scaled) / kScale; }
  friend bool operator==(Currency, Currency) = default;
  friend auto operator<=>(Currency, Currency) = default;
};

// |value| x 10^places as an integer: the value is first taken to 15
// significant digits (as the runtime's float formatting does), then rounded
// half away from zero. nullopt when not a number or above `limit`.
std::optional<std::uint64_t> ScaleDecimal(double value, int places, std::uint64_t limit);

// The exact value with the settings' decimal separator, without trailing
// zeros in the fraction: "-12.5", "0.0001", "7".
std::string CurrToStr(Currency value);
// The nearest whole number, halves away from zero.
inline std::int64_t RoundToInteger(Currency value) {
  std::int64_t q = value.scaled / Currency::kScale, r = value.scaled % Currency::kScale;
  if (2 * (r < 0 ? -r : r) >= Currency::kScale) q += value.scaled < 0 ? -1 : 1;
  return q;
}
// Optional blanks, sign, digits with at most one decimal separator; more
// than four decimals round half away from zero. False for anything else or
// a value outside the range.
bool TryStrToCurr(std::string_view text, Currency& value);

}  // namespace rtl
