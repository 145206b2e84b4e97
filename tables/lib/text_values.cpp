#include "tables/lib/text_values.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

#include "platform/runtime/sysutils.h"

namespace korvex {
namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool Digit(char c) { return c >= '0' && c <= '9'; }

// The number with '.' as its decimal point, or "" when the text is not one.
std::string NormalizeFloat(std::string_view text, char decimal_separator) {
  text = TrimBlanks(text);
  std::string out;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') out += '-';
    ++i;
  }
  int digits = 0;
  while (i < text.size() && Digit(text[i])) out += text[i++], ++digits;
  if (i < text.size() && text[i] == decimal_separator) {
    out += '.';
    ++i;
    while (i < text.size() && Digit(text[i])) out += text[i++], ++digits;
  }
  if (digits == 0) return {};
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
    out += 'e';
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) out += text[i++];
    int exponent_digits = 0;
    while (i < text.size() && Digit(text[i])) out += text[i++], ++exponent_digits;
    if (exponent_digits == 0) return {};
  }
  return i == text.size() ? out : std::string{};
}

class Scanner {
public:
  explicit Scanner(std::string_view text) : text_(text) {}

  void SkipBlanks() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  }
  bool AtEnd() const { return pos_ >= text_.size(); }
  bool Take(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  // Up to 9 digits; false when there is none.
  bool Number(int& value, int& digits) {
    value = 0;
    digits = 0;
    while (pos_ < text_.size() && Digit(text_[pos_]) && digits < 9)
      value = value * 10 + (text_[pos_++] - '0'), ++digits;
    return digits > 0 && !(pos_ < text_.size() && Digit(text_[pos_]));
  }
  // Takes `word` ignoring ASCII case.
  bool Word(std::string_view word) {
    if (word.empty() || text_.size() - pos_ < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
      char a = text_[pos_ + i], b = word[i];
      if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
      if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
      if (a != b) return false;
    }
    pos_ += word.size();
    return true;
  }

private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

enum class DateOrder { MDY, DMY, YMD };

DateOrder OrderOf(const std::string& format) {
  for (char c : format) {
    if (c == 'y' || c == 'Y') return DateOrder::YMD;
    if (c == 'm' || c == 'M') return DateOrder::MDY;
    if (c == 'd' || c == 'D') return DateOrder::DMY;
  }
  return DateOrder::MDY;
}

bool ScanDate(Scanner& scan, const TLanguageSettings& settings, rtl::TDateTime& value) {
  int n[3] = {0, 0, 0}, digits[3] = {0, 0, 0};
  int count = 0;
  scan.SkipBlanks();
  while (count < 3) {
    if (!scan.Number(n[count], digits[count])) return false;
    ++count;
    scan.SkipBlanks();
    if (count == 3 || !scan.Take(settings.DateSeparator)) break;
    scan.SkipBlanks();
  }
  if (count < 2) return false;
  int current_year, current_month, current_day;
  rtl::DecodeDate(rtl::Date(), current_year, current_month, current_day);
  int year = current_year, month = 0, day = 0, year_digits = 4;
  DateOrder order = OrderOf(settings.ShortDateFormat);
  if (count == 2) {
    if (order == DateOrder::DMY) day = n[0], month = n[1];
    else month = n[0], day = n[1];
  } else {
    switch (order) {
      case DateOrder::MDY: month = n[0], day = n[1], year = n[2], year_digits = digits[2]; break;
      case DateOrder::DMY: day = n[0], month = n[1], year = n[2], year_digits = digits[2]; break;
      case DateOrder::YMD: year = n[0], month = n[1], day = n[2], year_digits = digits[0]; break;
    }
    if (year_digits <= 2) year += current_year / 100 * 100;
  }
  return rtl::TryEncodeDate(year, month, day, value);
}

bool ScanTime(Scanner& scan, const TLanguageSettings& settings, rtl::TDateTime& value) {
  int part[3] = {0, 0, 0}, digits = 0, count = 0, msec = 0;
  scan.SkipBlanks();
  while (count < 3) {
    if (!scan.Number(part[count], digits)) return false;
    ++count;
    if (count == 3 || !scan.Take(settings.TimeSeparator)) break;
  }
  if (count == 3 && scan.Take('.')) {
    if (!scan.Number(msec, digits) || digits > 3) return false;
    while (digits++ < 3) msec *= 10;
  }
  scan.SkipBlanks();
  int ampm = 0;  // 1 AM, 2 PM
  if (scan.Word(settings.TimeAMString) || scan.Word("AM")) ampm = 1;
  else if (scan.Word(settings.TimePMString) || scan.Word("PM")) ampm = 2;
  if (count < 2 && ampm == 0) return false;
  int hour = part[0];
  if (ampm != 0) {
    if (hour > 12) return false;
    if (hour == 12) hour = 0;
    if (ampm == 2) hour += 12;
  }
  return rtl::TryEncodeTime(hour, part[1], part[2], msec, value);
}

bool InRange(std::string_view text, std::int64_t low, std::int64_t high) {
  std::int64_t value = 0;
  return rtl::TryStrToInt64(text, value) && value >= low && value <= high;
}

TLanguageSettings SettingsInForce() {
  TLanguageSettings settings;
  GetLanguageSettings(settings);
  return settings;
}

}  // namespace

bool TryTextToFloat(std::string_view text, const TLanguageSettings& settings, double& value) {
  std::string normal = NormalizeFloat(text, settings.DecimalSeparator);
  if (normal.empty()) return false;
  double result = 0;
  auto [end, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), result);
  if (ec != std::errc() || end != normal.data() + normal.size() || !std::isfinite(result)) return false;
  value = result;
  return true;
}

bool TryTextToCurrency(std::string_view text, const TLanguageSettings& settings, Currency& value) {
  double number = 0;
  if (!TryTextToFloat(text, settings, number)) return false;
  auto result = Currency::FromDouble(number);
  if (!result) return false;
  value = *result;
  return true;
}

namespace {

// The whole text as one date or one time (`scan_part`); blanks may follow.
// `value` changes only on success.
bool ScanWhole(std::string_view text, const TLanguageSettings& settings, rtl::TDateTime& value,
               bool (*scan_part)(Scanner&, const TLanguageSettings&, rtl::TDateTime&)) {
  Scanner scan(text);
  rtl::TDateTime part = 0;
  if (!scan_part(scan, settings, part)) return false;
  scan.SkipBlanks();
  if (!scan.AtEnd()) return false;
  value = part;
  return true;
}

}  // namespace

bool TryTextToDate(std::string_view text, const TLanguageSettings& settings, rtl::TDateTime& value) {
  return ScanWhole(text, settings, value, ScanDate);
}

bool TryTextToTime(std::string_view text, const TLanguageSettings& settings, rtl::TDateTime& value) {
  return ScanWhole(text, settings, value, ScanTime);
}

bool TryTextToDateTime(std::string_view text, const TLanguageSettings& settings, rtl::TDateTime& value) {
  Scanner scan(text);
  rtl::TDateTime date = 0, time = 0;
  if (!ScanDate(scan, settings, date)) return false;
  scan.SkipBlanks();
  if (!scan.AtEnd() && !ScanTime(scan, settings, time)) return false;
  scan.SkipBlanks();
  if (!scan.AtEnd()) return false;
  value = date < 0 ? date - time : date + time;
  return true;
}

bool IsAWord(std::string_view text) { return InRange(text, 0, 65535); }
bool IsAnInteger(std::string_view text) { return InRange(text, INT32_MIN, INT32_MAX); }
bool IsASmallInt(std::string_view text) { return InRange(text, -32768, 32767); }
bool IsAByte(std::string_view text) { return InRange(text, 0, 255); }
bool IsAChar(std::string_view text) { return text.size() <= 1; }
bool IsABoolean(std::string_view text) {
  bool value;
  return TryStrToBool(text, value);
}

bool IsAFloat(std::string_view text, const TLanguageSettings& settings) {
  double value;
  return TryTextToFloat(text, settings, value);
}
bool IsABCD(std::string_view text, const TLanguageSettings& settings) {
  Currency value;
  return TryTextToCurrency(text, settings, value);
}
bool IsADate(std::string_view text, const TLanguageSettings& settings) {
  rtl::TDateTime value;
  return TryTextToDate(text, settings, value);
}
bool IsADateTime(std::string_view text, const TLanguageSettings& settings) {
  rtl::TDateTime value;
  return TryTextToDateTime(text, settings, value);
}
bool IsATime(std::string_view text, const TLanguageSettings& settings) {
  rtl::TDateTime value;
  return TryTextToTime(text, settings, value);
}

bool IsAFloat(std::string_view text) { return IsAFloat(text, SettingsInForce()); }
bool IsABCD(std::string_view text) { return IsABCD(text, SettingsInForce()); }
bool IsADate(std::string_view text) { return IsADate(text, SettingsInForce()); }
bool IsADateTime(std::string_view text) { return IsADateTime(text, SettingsInForce()); }
bool IsATime(std::string_view text) { return IsATime(text, SettingsInForce()); }

}  // namespace korvex
