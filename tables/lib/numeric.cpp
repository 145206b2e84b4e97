#include "tables/lib/numeric.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/runtime/exceptions.h"

namespace korvex {
namespace {

constexpr std::uint64_t kPow10[] = {1ull,
                                    10ull,
                                    100ull,
                                    1000ull,
                                    10000ull,
                                    100000ull,
                                    1000000ull,
                                    10000000ull,
                                    100000000ull,
                                    1000000000ull,
                                    10000000000ull,
                                    100000000000ull,
                                    1000000000000ull,
                                    10000000000000ull,
                                    100000000000000ull,
                                    1000000000000000ull,
                                    10000000000000000ull,
                                    100000000000000000ull,
                                    1000000000000000000ull};

int ClampDecimals(int decimals) { return decimals < 0 ? 0 : decimals > 4 ? 4 : decimals; }

// a / divisor rounded half away from zero (a >= 0).
std::uint64_t DivRound(std::uint64_t a, std::uint64_t divisor) {
  std::uint64_t q = a / divisor, r = a % divisor;
  return r >= divisor - r ? q + 1 : q;
}

std::optional<std::uint64_t> ScaledMagnitude(double value, int places, std::uint64_t limit) {
  return rtl::ScaleDecimal(value, places, limit);
}

// sign x (magnitude x 10 + decimals), nullopt when it does not fit.
std::optional<std::int64_t> StoredForm(bool negative, std::uint64_t magnitude, int decimals) {
  constexpr std::uint64_t kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (magnitude > (kMax - decimals) / 10) return std::nullopt;
  auto stored = static_cast<std::int64_t>(magnitude * 10 + decimals);
  return negative && magnitude != 0 ? -stored : stored;
}

struct Split {
  bool negative;
  std::uint64_t digits;  // the value's digits without the decimals digit
  int decimals;
};

Split SplitComp(std::int64_t comp) {
  bool negative = comp < 0;
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(comp) : static_cast<std::uint64_t>(comp);
  return {negative, magnitude / 10, static_cast<int>(magnitude % 10)};
}

std::int64_t Saturate(__int128 value) {
  if (value > std::numeric_limits<std::int64_t>::max()) throw rtl::EIntOverflow("Arithmetic overflow");
  if (value < std::numeric_limits<std::int64_t>::min()) throw rtl::EIntOverflow("Arithmetic overflow");
  return static_cast<std::int64_t>(value);
}

}  // namespace

std::string MakeBCDDisplayFormat(std::uint16_t decimals) {
  std::string format(14, '#');
  format += '0';
  if (decimals > 0) format += "." + std::string(decimals, '0');
  return format;
}

std::optional<std::int64_t> FloatToComp(double value, int decimals) {
  decimals = ClampDecimals(decimals);
  auto magnitude = ScaledMagnitude(value, decimals, std::numeric_limits<std::uint64_t>::max());
  if (!magnitude) return std::nullopt;
  return StoredForm(value < 0, *magnitude, decimals);
}

std::optional<std::int64_t> CurrToComp(Currency value, int decimals) {
  return UnitsToComp(value.scaled, decimals);
}

std::optional<std::int64_t> UnitsToComp(TBCDUnits units, int decimals) {
  decimals = ClampDecimals(decimals);
  const bool negative = units < 0;
  const unsigned __int128 magnitude = negative ? 0 - static_cast<unsigned __int128>(units)
                                               : static_cast<unsigned __int128>(units);
  const std::uint64_t divisor = kPow10[4 - decimals];
  unsigned __int128 q = magnitude / divisor, r = magnitude % divisor;
  if (r >= divisor - r) ++q;
  if (q > std::numeric_limits<std::uint64_t>::max()) return std::nullopt;
  return StoredForm(negative, static_cast<std::uint64_t>(q), decimals);
}

TBCDUnits CompToUnits(std::int64_t comp) {
  Split s = SplitComp(comp);
  TBCDUnits magnitude = s.decimals <= 4 ? static_cast<TBCDUnits>(s.digits) * kPow10[4 - s.decimals]
                                        : static_cast<TBCDUnits>(DivRound(s.digits, kPow10[s.decimals - 4]));
  return s.negative ? -magnitude : magnitude;
}

double CompToFloat(std::int64_t comp) {
  Split s = SplitComp(comp);
  // digits x 10^-decimals, read from text so the double is correctly rounded.
  char text[48];
  int n = std::snprintf(text, sizeof text, "%s%llue-%d", s.negative ? "-" : "",
                        static_cast<unsigned long long>(s.digits), s.decimals);
  double value = 0;
  std::from_chars(text, text + n, value);
  return value;
}

std::optional<Currency> CompToCurr(std::int64_t comp) {
  const TBCDUnits units = CompToUnits(comp);
  if (units > std::numeric_limits<std::int64_t>::max() || units < std::numeric_limits<std::int64_t>::min())
    return std::nullopt;
  return Currency{static_cast<std::int64_t>(units)};
}

Currency RoundCurr(Currency value, int decimals) {
  if (value.scaled == 0) return value;
  decimals = ClampDecimals(decimals);
  std::uint64_t unit = kPow10[4 - decimals];
  bool negative = value.scaled < 0;
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value.scaled)
                                     : static_cast<std::uint64_t>(value.scaled);
  __int128 rounded = static_cast<__int128>(DivRound(magnitude, unit)) * unit;
  return Currency{Saturate(negative ? -rounded : rounded)};
}

double RoundFloat(double value, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals == 0) return FloorFloat(value >= 0 ? value + 0.5 : value - 0.5);
  double p = PowerFloat(0.1, static_cast<std::uint8_t>(decimals > 255 ? 255 : decimals));
  return value >= 0 ? FloorFloat(value / p + 0.5) * p : FloorFloat(value / p - 0.5) * p;
}

Currency FloorCurr(Currency value) {
  return Currency{value.scaled / Currency::kScale * Currency::kScale};
}

double FloorFloat(double value) { return std::trunc(value); }

double PowerFloat(double x, std::uint8_t n) {
  if (n == 0) return 1;
  if (x == 0 || n == 1) return x;
  double result = x;
  for (int i = 1; i < n; ++i) result *= x;
  return result;
}

Currency PowerCurr(Currency x, std::uint8_t n) {
  if (n == 0) return Currency{Currency::kScale};
  if (x.scaled == 0 || n == 1) return x;
  std::int64_t result = x.scaled;
  for (int i = 1; i < n; ++i) {
    __int128 product = static_cast<__int128>(result) * x.scaled;
    bool negative = product < 0;
    __int128 magnitude = negative ? -product : product;
    __int128 q = magnitude / Currency::kScale, r = magnitude % Currency::kScale;
    if (2 * r >= Currency::kScale) ++q;
    result = Saturate(negative ? -q : q);
  }
  return Currency{result};
}

std::string BoolToStr(bool value) { return value ? "True" : "False"; }

bool TryStrToBool(std::string_view text, bool& value) {
  auto same = [text](std::string_view word) {
    if (text.size() != word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
      char c = text[i];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      if (c != word[i]) return false;
    }
    return true;
  };
  if (same("TRUE")) {
    value = true;
    return true;
  }
  if (same("FALSE")) {
    value = false;
    return true;
  }
  return false;
}

bool StrToBool(std::string_view text) {
  bool value = false;
  if (!TryStrToBool(text, value))
    throw rtl::EConvertError("'" + std::string(text) + "' is not a valid boolean value");
  return value;
}

}  // namespace korvex
