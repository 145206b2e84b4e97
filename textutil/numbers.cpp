#include "textutil/numbers.h"

#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/runtime/exceptions.h"
#include "textutil/decstr.h"
#include "textutil/compare.h"
#include "textutil/edit.h"
#include "textutil/layout.h"
#include "textutil/state.h"

namespace textutil {
namespace {

// Runs the floating-point unit in one rounding mode for its lifetime.
class RoundingMode {
public:
  explicit RoundingMode(int mode) : saved_(std::fegetround()) { std::fesetround(mode); }
  ~RoundingMode() { std::fesetround(saved_); }
  RoundingMode(const RoundingMode&) = delete;
  RoundingMode& operator=(const RoundingMode&) = delete;

private:
  int saved_;
};

// The arithmetic below must happen at run time, in the mode just set, not
// be folded by the compiler in its default mode.
double Opaque(double x) {
  volatile double v = x;
  return v;
}

std::int32_t Saturate(long double v) {
  if (v >= static_cast<long double>(std::numeric_limits<std::int32_t>::max()))
    return std::numeric_limits<std::int32_t>::max();
  if (v <= static_cast<long double>(std::numeric_limits<std::int32_t>::min()))
    return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

[[noreturn]] void Overflow() { throw rtl::EIntOverflow("Integer overflow"); }

std::string WholeText(double magnitude, bool negative) {
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.0f", magnitude);
  return (negative ? "-" : "") + std::string(buffer);
}

}  // namespace

// ---- rounding -------------------------------------------------------------

double RndToFlt(double x) {
  RoundingMode mode(FE_TOWARDZERO);
  double v = Opaque(x);
  double shifted = Opaque(v < 0 ? v - 0.5 : v + 0.5);
  return std::trunc(shifted);
}

std::int32_t RndToInt(double x) {
  if (std::isnan(x)) return 0;
  double whole = std::trunc(x);
  double twice_fraction = std::trunc(2 * (x - whole));
  return Saturate(static_cast<long double>(whole) + twice_fraction);
}

double RndToDec(double x, int d) {
  if (!std::isfinite(x)) return x;
  if (d > 308 || d < -308) return d > 0 ? x : 0.0;
  double p = std::pow(10.0, std::abs(d));
  if (d >= 0) {
    double scaled = Opaque(x * p);
    if (!std::isfinite(scaled)) return x;  // already finer than 10^-d
    return std::nearbyint(scaled) / p;
  }
  return std::nearbyint(Opaque(x / p)) * p;
}

double RndToSig(double x, int n) {
  if (x == 0 || !std::isfinite(x)) return x;
  double exponent;
  {
    RoundingMode mode(FE_DOWNWARD);
    exponent = std::floor(std::log10(std::fabs(Opaque(x))));
  }
  return RndToDec(x, n - (static_cast<int>(exponent) + 1));
}

Currency RndToCents(Currency c) {
  Currency cents = c / 100;
  Currency rest = c % 100;
  if (rest >= 50) ++cents;
  if (rest <= -50) --cents;
  return cents * 100;
}

Currency TruncToCents(Currency c) { return c / 100 * 100; }

std::string FloatToFrac(double x, int d) {
  if (!std::isfinite(x)) return WholeText(x, false);
  double whole = std::trunc(x);
  long long n = d > 0 ? std::llabs(RndToInt((x - whole) * d)) : 0;
  if (n == 0 || n == d) {
    double r = RndToFlt(x);
    return WholeText(std::fabs(r), r < 0);
  }
  long long den = d;
  while (n % 2 == 0 && n > 1) {
    n /= 2;
    den /= 2;
  }
  return WholeText(std::fabs(whole), x < 0) + "-" + std::to_string(n) + "/" + std::to_string(den);
}

void SetFloatTolerance(double t) { MutableState().FloatTolerance = t; }

int CmpFloat(double a, double b) {
  if (std::fabs(b - a) < State().FloatTolerance) return 0;
  return a < b ? 1 : -1;
}

// ---- integers -------------------------------------------------------------

std::int32_t iMax(std::int32_t a, std::int32_t b) { return a > b ? a : b; }
std::int32_t iMin(std::int32_t a, std::int32_t b) { return a < b ? a : b; }

std::int32_t iMid(std::int32_t a, std::int32_t b, std::int32_t c) {
  if (a == b) return a;
  auto ua = static_cast<std::uint32_t>(a), ub = static_cast<std::uint32_t>(b), uc = static_cast<std::uint32_t>(c);
  std::uint32_t greater = ua > ub ? ua : ub;
  return static_cast<std::int32_t>(uc < greater ? uc : greater);
}

std::int32_t iRnd(std::int32_t v, std::int32_t s) {
  if (s < 1) return v;
  long long r = (static_cast<long long>(v % s) + v) / s * s;
  if (r > std::numeric_limits<std::int32_t>::max()) r -= s;
  if (r < std::numeric_limits<std::int32_t>::min()) r += s;
  return static_cast<std::int32_t>(r);
}

std::int32_t iTrunc(std::int32_t v, std::int32_t s) {
  if (s == 0) return v;
  return static_cast<std::int32_t>(static_cast<long long>(v) / s * s);
}

int iSign(std::int32_t v) { return (v > 0) - (v < 0); }

int SignDbl(double x) {
  if (std::signbit(x)) return -1;
  return x == 0 ? 0 : 1;
}

std::int32_t IPower(std::int32_t base, std::int32_t e) {
  if (base == 0 || base == 1) return base;
  if (e == 0) return 1;
  if (e < 0) return 0;
  long long result = 1;
  for (std::int32_t i = 0; i < e; ++i) {
    result *= base;
    if (result > std::numeric_limits<std::int32_t>::max() || result < std::numeric_limits<std::int32_t>::min())
      return 0;
    if (result == 1 || result == -1) {  // base -1: the rest only flips the sign
      if ((e - i - 1) % 2 == 1) result = -result;
      break;
    }
  }
  return static_cast<std::int32_t>(result);
}

std::int32_t IPower2(std::int32_t n) { return n >= 0 && n <= 30 ? std::int32_t{1} << n : 0; }

std::uint32_t GCD(std::uint32_t a, std::uint32_t b) {
  if (a == 0 && b == 0) return 1;
  while (b != 0) {
    std::uint32_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

int GetDigit(std::int32_t value, int p) {
  if (p < 1 || p > 9) return 9999;
  long long v = std::llabs(static_cast<long long>(value));
  for (int i = 1; i < p; ++i) v /= 10;
  return static_cast<int>(v % 10);
}

// ---- bits -------------------------------------------------------------------

int CntBit(std::int32_t v) { return std::popcount(static_cast<std::uint32_t>(v)); }
int LoBit(std::int32_t v) { return v == 0 ? -1 : std::countr_zero(static_cast<std::uint32_t>(v)); }
int HiBit(std::int32_t v) { return v == 0 ? -1 : 31 - std::countl_zero(static_cast<std::uint32_t>(v)); }
bool TestBit(std::int32_t v, int index) { return (static_cast<std::uint32_t>(v) >> (index & 31)) & 1u; }
void SetBit(std::int32_t& v, int index) {
  v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v) | (1u << (index & 31)));
}
void ClrBit(std::int32_t& v, int index) {
  v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v) & ~(1u << (index & 31)));
}
void SetByteBit(std::uint8_t& b, int index) { b = static_cast<std::uint8_t>(b | (1u << (index & 7))); }
void ClrByteBit(std::uint8_t& b, int index) { b = static_cast<std::uint8_t>(b & ~(1u << (index & 7))); }
std::int32_t RotL(std::int32_t v, int count) {
  return static_cast<std::int32_t>(std::rotl(static_cast<std::uint32_t>(v), count & 31));
}
std::int32_t RotR(std::int32_t v, int count) {
  return static_cast<std::int32_t>(std::rotr(static_cast<std::uint32_t>(v), count & 31));
}
void IntSwap(std::int32_t& a, std::int32_t& b) { std::swap(a, b); }
void WordSwap(std::uint16_t& a, std::uint16_t& b) { std::swap(a, b); }

// ---- unsigned 32-bit arithmetic ---------------------------------------------

bool UnSignedCompare(std::int32_t a, std::int32_t b) {
  return static_cast<std::uint32_t>(a) >= static_cast<std::uint32_t>(b);
}

std::uint32_t AddUSI(std::uint32_t a, std::uint32_t b) {
  std::uint32_t r;
  if (__builtin_add_overflow(a, b, &r)) Overflow();
  return r;
}

std::uint32_t SubUSI(std::uint32_t a, std::uint32_t b) {
  std::uint32_t r;
  if (__builtin_sub_overflow(a, b, &r)) Overflow();
  return r;
}

std::uint32_t MulUSI(std::uint32_t a, std::uint32_t b) {
  std::uint32_t r;
  if (__builtin_mul_overflow(a, b, &r)) Overflow();
  return r;
}

std::uint32_t DivUSI(std::uint32_t a, std::uint32_t b) {
  if (b == 0) throw rtl::Exception("Division by zero");
  return a / b;
}

std::uint32_t ModUSI(std::uint32_t a, std::uint32_t b) {
  if (b == 0) throw rtl::Exception("Division by zero");
  return a % b;
}

int CmpUSI(std::uint32_t a, std::uint32_t b) { return (a > b) - (a < b); }

std::string USIToStr(std::uint32_t v) { return std::to_string(v); }

std::uint32_t StrToUSI(std::string_view s) {
  std::uint32_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') continue;
    if (__builtin_mul_overflow(v, 10u, &v) || __builtin_add_overflow(v, static_cast<std::uint32_t>(c - '0'), &v))
      Overflow();
  }
  return v;
}

std::string IntToFmtStr(std::int32_t v) {
  std::string digits = std::to_string(std::llabs(static_cast<long long>(v)));
  std::string out;
  const char sep = State().ThousandSep;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += sep;
    out += digits[i];
  }
  return v < 0 ? "-" + out : out;
}

// ---- check digits and radix ---------------------------------------------------

int CreditSum(std::string_view s) {
  int sum = 0;
  int count = 0;  // digits seen from the right; the check digit is the first
  for (size_t i = s.size(); i > 0; --i) {
    char c = s[i - 1];
    if (c < '0' || c > '9') continue;
    int d = c - '0';
    if (count % 2 == 1) {
      d *= 2;
      if (d > 9) d -= 9;
    }
    sum += d;
    ++count;
  }
  return count == 0 ? -1 : sum % 10;
}

int ISBNSum(std::string_view s) {
  int sum = 0;
  int count = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if ((c == 'X' || c == 'x') && count == 9)
      d = 10;
    else
      continue;
    ++count;
    if (count > 10) return 0;
    sum += count * d;
  }
  return count == 10 && sum % 11 == 0 ? 1 : 0;
}

std::string RadixStr(std::string_view number, int from, int to) {
  if (from < 2 || from > 36 || to < 2 || to > 36) return "";
  const bool negative = !number.empty() && number[0] == '-';
  std::string text(number);
  UCase(text, 1, static_cast<int>(text.size()));
  std::string ranges = from <= 10 ? std::string("0-") + static_cast<char>('0' + from - 1)
                                  : std::string("0-9A-") + static_cast<char>('A' + from - 11);
  text.resize(static_cast<size_t>(MakeTable(text, BuildTable(ranges))));
  if (text.empty()) return "";
  const std::string base = std::to_string(from);
  std::string value = "0";
  for (char c : text) {
    int digit = c < ':' ? c - '0' : c - 'A' + 10;
    value = StrAdd(StrMul(value, base), std::to_string(digit));
  }
  static constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const std::string target = std::to_string(to);
  std::string out;
  while (value != "0") {
    std::string rem;
    value = StrDiv(value, target, rem);
    out.insert(out.begin(), kDigits[std::stoi(rem)]);
  }
  if (out.empty()) return "0";
  return negative ? "-" + out : out;
}

}  // namespace textutil
