#include "platform/runtime/sysutils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/runtime/cp1252.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/format_settings.h"

namespace rtl {

namespace {
unsigned char AsciiUp(char c) {
  auto u = static_cast<unsigned char>(c);
  return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 32) : u;
}
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

template <typename Map>
int CompareMapped(std::string_view a, std::string_view b, Map map) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int d = static_cast<int>(map(a[i])) - static_cast<int>(map(b[i]));
    if (d != 0) return d;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

std::string Hex(std::uint64_t value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[value & 15]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(out.size()) < digits) out.insert(0, digits - out.size(), '0');
  return out;
}

bool ParseInt64(std::string_view s, std::int64_t& value) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == s.size()) return false;
  std::uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(s.data() + i, s.data() + s.size(), magnitude, base);
  if (ec != std::errc() || end != s.data() + s.size()) return false;
  if (base == 16 && !negative) {
    // Hex gives the bit pattern: "$FFFFFFFFFFFFFFFF" is -1.
    value = static_cast<std::int64_t>(magnitude);
    return true;
  }
  constexpr std::uint64_t kMaxNeg = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1;
  if (negative ? magnitude > kMaxNeg : magnitude > kMaxNeg - 1) return false;
  value = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

[[noreturn]] void IntError(std::string_view s) {
  throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
}
}  // namespace

// ---- numbers --------------------------------------------------------------

std::string IntToStr(std::int64_t value) { return std::to_string(value); }

std::string IntToHex(std::int32_t value, int digits) {
  return Hex(static_cast<std::uint32_t>(value), digits);
}

std::string IntToHex64(std::int64_t value, int digits) {
  return Hex(static_cast<std::uint64_t>(value), digits);
}

bool TryStrToInt64(std::string_view s, std::int64_t& value) { return ParseInt64(s, value); }

bool TryStrToInt(std::string_view s, std::int32_t& value) {
  std::int64_t wide;
  if (!ParseInt64(s, wide)) return false;
  bool hex = s.find('$') != std::string_view::npos || s.find('x') != std::string_view::npos ||
             s.find('X') != std::string_view::npos;
  if (hex && wide >= 0 && wide <= 0xFFFFFFFFLL) {
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(wide));
    return true;
  }
  if (wide < std::numeric_limits<std::int32_t>::min() || wide > std::numeric_limits<std::int32_t>::max())
    return false;
  value = static_cast<std::int32_t>(wide);
  return true;
}

std::int32_t StrToInt(std::string_view s) {
  std::int32_t value;
  if (!TryStrToInt(s, value)) IntError(s);
  return value;
}

std::int64_t StrToInt64(std::string_view s) {
  std::int64_t value;
  if (!TryStrToInt64(s, value)) IntError(s);
  return value;
}

std::int32_t StrToIntDef(std::string_view s, std::int32_t fallback) {
  std::int32_t value;
  return TryStrToInt(s, value) ? value : fallback;
}

std::string FloatToStr(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";
  char buf[64];
  double magnitude = std::fabs(value);
  if (magnitude >= 1e-5 && magnitude < 1e-4) {
    std::snprintf(buf, sizeof buf, "%.19f", value);  // fixed form, trimmed below
  } else {
    std::snprintf(buf, sizeof buf, "%.15G", value);
  }
  std::string s = buf;
  if (magnitude >= 1e-5 && magnitude < 1e-4) {
    // 15 significant digits of a value below 1e-4 end at the 19th decimal.
    s.erase(s.find_last_not_of('0') + 1);
  }
  // Mantissa: drop trailing zeros of the fraction; exponent: no '+', no
  // leading zeros.
  size_t e = s.find('E');
  std::string mantissa = s.substr(0, e), exponent;
  if (e != std::string::npos) {
    int exp = std::atoi(s.c_str() + e + 1);
    exponent = "E" + std::to_string(exp);
  }
  if (mantissa.find('.') != std::string::npos) {
    mantissa.erase(mantissa.find_last_not_of('0') + 1);
    if (mantissa.back() == '.') mantissa.pop_back();
  }
  std::replace(mantissa.begin(), mantissa.end(), '.', FormatSettings().DecimalSeparator);
  return mantissa + exponent;
}

bool TryStrToFloat(std::string_view s, double& value) {
  std::string_view t = s;
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  char decimal = FormatSettings().DecimalSeparator;
  // Check the form: sign, digits, separator, digits, exponent.
  std::string normal;
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) normal += t[i++];
  size_t digits = 0;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') normal += t[i++], ++digits;
  if (i < t.size() && t[i] == decimal) {
    normal += '.';
    ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') normal += t[i++], ++digits;
  }
  if (digits == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    normal += 'e';
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) normal += t[i++];
    size_t exp_digits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') normal += t[i++], ++exp_digits;
    if (exp_digits == 0) return false;
  }
  if (i != t.size()) return false;
  const char* begin = normal.c_str();
  if (*begin == '+') ++begin;
  double result;
  auto [end, ec] = std::from_chars(begin, normal.c_str() + normal.size(), result);
  if (ec != std::errc() || end != normal.c_str() + normal.size()) return false;
  value = result;
  return true;
}

double StrToFloat(std::string_view s) {
  double value;
  if (!TryStrToFloat(s, value))
    throw EConvertError("'" + std::string(s) + "' is not a valid floating point value");
  return value;
}

double StrToFloatDef(std::string_view s, double fallback) {
  double value;
  return TryStrToFloat(s, value) ? value : fallback;
}

// ---- case and comparison --------------------------------------------------

std::string UpperCase(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(AsciiUp(c));
  return out;
}

std::string LowerCase(std::string_view s) {
  std::string out(s);
  for (auto& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

int CompareStr(std::string_view a, std::string_view b) {
  return CompareMapped(a, b, [](char c) { return static_cast<unsigned char>(c); });
}

int CompareText(std::string_view a, std::string_view b) { return CompareMapped(a, b, AsciiUp); }

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareText(a, b) == 0;
}

int AnsiCompareText(std::string_view a, std::string_view b) {
  // Equal bytes map alike: only where they differ is the table read.
  const unsigned char* up = CharUpperTable();
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    const int d = static_cast<int>(up[static_cast<unsigned char>(a[i])]) - static_cast<int>(up[static_cast<unsigned char>(b[i])]);
    if (d != 0) return d;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool AnsiSameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AnsiCompareText(a, b) == 0;
}

int AnsiCompareStr(std::string_view a, std::string_view b) {
  int c = AnsiCompareText(a, b);
  if (c != 0) return c;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    bool x_lower = CharLower(x) == x, y_lower = CharLower(y) == y;
    if (x_lower != y_lower) return x_lower ? -1 : 1;
    return x < y ? -1 : 1;
  }
  return 0;
}

// ---- editing --------------------------------------------------------------

std::string TrimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return std::string(s.substr(i));
}

std::string TrimRight(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && IsBlank(s[n - 1])) --n;
  return std::string(s.substr(0, n));
}

std::string Trim(std::string_view s) {
  size_t i = 0, n = s.size();
  while (i < n && IsBlank(s[i])) ++i;
  while (n > i && IsBlank(s[n - 1])) --n;
  return std::string(s.substr(i, n - i));
}

std::string QuotedStr(std::string_view s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

std::string StringReplace(std::string_view s, std::string_view old_pattern,
                          std::string_view new_pattern, unsigned flags) {
  if (old_pattern.empty()) return std::string(s);
  bool ignore_case = (flags & rfIgnoreCase) != 0;
  std::string upper_s, upper_p;
  std::string_view hay = s, needle = old_pattern;
  if (ignore_case) {
    upper_s = AnsiUpperCase(s);
    upper_p = AnsiUpperCase(old_pattern);
    hay = upper_s;
    needle = upper_p;
  }
  std::string out;
  size_t from = 0;
  while (true) {
    size_t at = hay.find(needle, from);
    if (at == std::string_view::npos) break;
    out.append(s.substr(from, at - from));
    out.append(new_pattern);
    from = at + needle.size();
    if (!(flags & rfReplaceAll)) break;
  }
  out.append(s.substr(from));
  return out;
}

int Pos(std::string_view sub, std::string_view s) {
  if (sub.empty()) return 0;
  size_t at = s.find(sub);
  return at == std::string_view::npos ? 0 : static_cast<int>(at) + 1;
}

std::string Copy(std::string_view s, int index, int count) {
  if (index < 1) index = 1;
  if (count < 1 || static_cast<size_t>(index) > s.size()) return "";
  return std::string(s.substr(index - 1, static_cast<size_t>(count)));
}

void Delete(std::string& s, int index, int count) {
  if (index < 1 || static_cast<size_t>(index) > s.size() || count < 1) return;
  s.erase(index - 1, static_cast<size_t>(count));
}

void Insert(std::string_view sub, std::string& s, int index) {
  int at = std::clamp(index, 1, static_cast<int>(s.size()) + 1);
  s.insert(static_cast<size_t>(at - 1), sub);
}

}  // namespace rtl
