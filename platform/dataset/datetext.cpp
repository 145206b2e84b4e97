#include "platform/dataset/datetext.h"

#include <cmath>
#include <vector>

#include "platform/runtime/format_settings.h"
#include "platform/runtime/sysutils.h"

namespace db {
namespace {

std::string Pad(int value, int width) {
  std::string text = std::to_string(value);
  while (static_cast<int>(text.size()) < width) text.insert(text.begin(), '0');
  return text;
}

// Writes a format: runs of one letter are fields, '/' and ':' the settings'
// separators, anything else is copied.
std::string Render(std::string_view format, int y, int mo, int d, int h, int mi, int s) {
  const auto& settings = rtl::FormatSettings();
  std::string out;
  for (std::size_t i = 0; i < format.size();) {
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(format[i])));
    std::size_t run = 1;
    while (i + run < format.size() && std::tolower(static_cast<unsigned char>(format[i + run])) == c) ++run;
    int width = run >= 2 ? 2 : 1;
    switch (c) {
      case 'y': out += run >= 3 ? Pad(y, 4) : Pad(y % 100, 2); break;
      case 'm': out += Pad(mo, width); break;
      case 'd': out += Pad(d, width); break;
      case 'h': out += Pad(h, width); break;
      case 'n': out += Pad(mi, width); break;
      case 's': out += Pad(s, width); break;
      case '/': out.append(run, settings.DateSeparator); break;
      case ':': out.append(run, settings.TimeSeparator); break;
      default: out.append(format.substr(i, run)); break;
    }
    i += run;
  }
  return out;
}

// Numbers separated by `separator`; false on any other character.
bool SplitNumbers(std::string_view text, char separator, std::vector<int>& numbers,
                  std::vector<int>* widths = nullptr) {
  numbers.clear();
  std::string part;
  auto flush = [&]() {
    if (part.empty() || part.size() > 4) return false;
    numbers.push_back(std::stoi(part));
    if (widths) widths->push_back(static_cast<int>(part.size()));
    part.clear();
    return true;
  };
  for (char c : text) {
    if (c >= '0' && c <= '9') part += c;
    else if (c == separator) { if (!flush()) return false; }
    else return false;
  }
  return flush();
}

}  // namespace

std::string DateToStr(rtl::TDateTime value) {
  int y, m, d;
  rtl::DecodeDate(value, y, m, d);
  return Render(rtl::FormatSettings().ShortDateFormat, y, m, d, 0, 0, 0);
}

std::string TimeToStr(rtl::TDateTime value) {
  int h, mi, s, ms;
  rtl::DecodeTime(value, h, mi, s, ms);
  return Render(rtl::FormatSettings().LongTimeFormat, 0, 0, 0, h, mi, s);
}

std::string DateTimeToStr(rtl::TDateTime value) {
  std::string text = DateToStr(value);
  int h, mi, s, ms;
  rtl::DecodeTime(value, h, mi, s, ms);
  if (h || mi || s || ms) text += " " + TimeToStr(value);
  return text;
}

bool TryStrToDate(std::string_view text, rtl::TDateTime& value) {
  std::vector<int> numbers, widths;
  if (!SplitNumbers(rtl::Trim(text), rtl::FormatSettings().DateSeparator, numbers, &widths) || numbers.size() != 3)
    return false;
  // The order of day, month and year in the short date format.
  std::string order;
  for (char c : rtl::FormatSettings().ShortDateFormat) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if ((c == 'd' || c == 'm' || c == 'y') && order.find(c) == std::string::npos) order += c;
  }
  if (order.size() != 3) order = "mdy";
  int y = 0, m = 0, d = 0, year_width = 4;
  for (int i = 0; i < 3; ++i) {
    (order[i] == 'd' ? d : order[i] == 'm' ? m : y) = numbers[i];
    if (order[i] == 'y') year_width = widths[i];
  }
  if (year_width <= 2) y += y < 50 ? 2000 : 1900;  // two-digit years
  return rtl::TryEncodeDate(y, m, d, value);
}

bool TryStrToTime(std::string_view text, rtl::TDateTime& value) {
  std::vector<int> numbers;
  if (!SplitNumbers(rtl::Trim(text), rtl::FormatSettings().TimeSeparator, numbers)) return false;
  if (numbers.size() < 2 || numbers.size() > 3) return false;
  return rtl::TryEncodeTime(numbers[0], numbers[1], numbers.size() == 3 ? numbers[2] : 0, 0, value);
}

bool TryStrToDateTime(std::string_view text, rtl::TDateTime& value) {
  std::string trimmed = rtl::Trim(text);
  std::size_t blank = trimmed.find(' ');
  rtl::TDateTime date = 0, time = 0;
  if (blank == std::string::npos) return TryStrToDate(trimmed, value);
  if (!TryStrToDate(std::string_view(trimmed).substr(0, blank), date) ||
      !TryStrToTime(std::string_view(trimmed).substr(blank + 1), time))
    return false;
  value = date < 0 ? date - time : date + time;
  return true;
}

}  // namespace db
