#include "platform/runtime/currency.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/runtime/format_settings.h"

namespace rtl {
namespace {

constexpr int kMaxPow10 = 18;

std::uint64_t Pow10(int n) {
  std::uint64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// a / divisor rounded half away from zero.
std::uint64_t DivRound(std::uint64_t a, std::uint64_t divisor) {
  std::uint64_t q = a / divisor, r = a % divisor;
  return r >= divisor - r ? q + 1 : q;
}

}  // namespace

std::optional<std::uint64_t> ScaleDecimal(double value, int places, std::uint64_t limit) {
  if (!std::isfinite(value)) return std::nullopt;
  value = std::fabs(value);
  if (value == 0) return 0;
  char text[32];
  std::snprintf(text, sizeof text, "%.14e", value);  // d.dddddddddddddde+XX
  std::uint64_t mantissa = 0;
  for (const char* p = text; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') mantissa = mantissa * 10 + (*p - '0');
  int exponent = std::atoi(std::strchr(text, 'e') + 1);
  int shift = exponent - 14 + places;  // value x 10^places = mantissa x 10^shift
  if (shift >= 0) {
    if (shift > kMaxPow10 || mantissa > limit / Pow10(shift)) return std::nullopt;
    return mantissa * Pow10(shift);
  }
  if (-shift > kMaxPow10) return 0;
  std::uint64_t scaled = DivRound(mantissa, Pow10(-shift));
  if (scaled > limit) return std::nullopt;
  return scaled;
}

std::optional<Currency> Currency::FromDouble(double value) {
  auto magnitude = ScaleDecimal(value, 4, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()));
  if (!magnitude) return std::nullopt;
  auto scaled = static_cast<std::int64_t>(*magnitude);
  return Currency{value < 0 ? -scaled : scaled};
}

std::string CurrToStr(Currency value) {
  bool negative = value.scaled < 0;
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value.scaled)
                                     : static_cast<std::uint64_t>(value.scaled);
  std::string text = (negative ? "-" : "") + std::to_string(magnitude / Currency::kScale);
  std::uint64_t fraction = magnitude % Currency::kScale;
  if (fraction != 0) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04llu", static_cast<unsigned long long>(fraction));
    std::string f = digits;
    while (f.back() == '0') f.pop_back();
    text += FormatSettings().DecimalSeparator + f;
  }
  return text;
}

bool TryStrToCurr(std::string_view text, Currency& value) {
  std::size_t i = 0, n = text.size();
  while (i < n && text[i] == ' ') ++i;
  while (n > i && text[n - 1] == ' ') --n;
  bool negative = false;
  if (i < n && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  const char separator = FormatSettings().DecimalSeparator;
  unsigned __int128 scaled = 0;
  int decimals = -1, digits = 0;
  int round_digit = -1;  // the fifth decimal, when there is one
  for (; i < n; ++i) {
    char c = text[i];
    if (c == separator && decimals < 0) { decimals = 0; continue; }
    if (c < '0' || c > '9') return false;
    ++digits;
    if (decimals >= 4) {
      if (decimals++ == 4) round_digit = c - '0';
      continue;
    }
    scaled = scaled * 10 + static_cast<unsigned>(c - '0');
    if (scaled > (static_cast<unsigned __int128>(1) << 64)) return false;
    if (decimals >= 0) ++decimals;
  }
  if (digits == 0) return false;
  for (int d = decimals < 0 ? 0 : decimals; d < 4; ++d) scaled *= 10;
  if (round_digit >= 5) ++scaled;
  const auto max = static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max());
  if (scaled > max + (negative ? 1 : 0)) return false;
  value.scaled = negative ? static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(scaled))
                          : static_cast<std::int64_t>(scaled);
  return true;
}

}  // namespace rtl
