#include "app/core/hit_dates.h"

#include "app/core/record_line.h"

namespace appcore {
namespace {

// Digits of a date part, '?' read as '0'; -1 when another character is in it.
int PartValue(std::string_view part) {
  int value = 0;
  for (char c : part) {
    if (c == '?') c = '0';
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

std::string_view DateTextOf(std::string_view line) {
  const size_t semi = line.find(';');
  return semi == std::string_view::npos ? line : line.substr(0, semi);
}

namespace {
// Three bytes as one number.
constexpr uint32_t Packed3(std::string_view w) {
  return static_cast<uint8_t>(w[0]) | static_cast<uint32_t>(static_cast<uint8_t>(w[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(w[2])) << 16;
}
}  // namespace

int MonthNumber(std::string_view word) {
  static constexpr std::string_view kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (word.size() != 3) return 0;
  const uint32_t packed = Packed3(word);
  for (int m = 0; m < 12; ++m)
    if (packed == Packed3(kMonths[m])) return m + 1;
  return 0;
}

HitDate DateOfLine(std::string_view line) {
  HitDate date;
  const std::string_view text = DateTextOf(line);
  if (!IsRecordLine(text)) return date;
  int year = 0, month = 0, day = 0;
  size_t i = 0;
  for (int word = 0; word < 3; ++word) {
    while (i < text.size() && text[i] == ' ') ++i;
    if (i >= text.size()) break;
    const size_t begin = i;
    while (i < text.size() && text[i] != ' ') ++i;
    const std::string_view w = text.substr(begin, i - begin);
    if (word == 0) {
      if (w.size() == 4 && (year = PartValue(w)) < 0) {
        date.state = HitDate::kUnreadable;
        return date;
      }
    } else if (w.size() == 2) {
      if ((day = PartValue(w)) < 0) {
        date.state = HitDate::kUnreadable;
        return date;
      }
    } else if (w.size() == 3) {
      month = MonthNumber(w);
      if (month == 0) month = 1;
    }
  }
  date.state = HitDate::kValid;
  date.value = int64_t{year} * 10000 + month * 100 + day;
  return date;
}

int CompareDates(std::string_view a, std::string_view b) {
  const int64_t ka = DateOfLine(a).Key(), kb = DateOfLine(b).Key();
  return ka < kb ? -1 : ka > kb ? 1 : 0;
}

}  // namespace appcore
