// How the application reads a register line, written out independently of
// the generator so the tests can hold its output against these rules.
#pragma once

#include <string>
#include <string_view>

namespace regtools_test {

// Without leading and trailing characters of codes up to 32.
inline std::string TrimControls(std::string_view line) {
  size_t begin = 0;
  size_t end = line.size();
  while (begin < end && static_cast<unsigned char>(line[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(line[end - 1]) <= 32) --end;
  return std::string(line.substr(begin, end - begin));
}

// A trimmed line is a record when it is not empty, does not start with '-'
// and starts with a digit or '?'.
inline bool IsRecordLine(std::string_view trimmed) {
  if (trimmed.empty() || trimmed[0] == '-') return false;
  return (trimmed[0] >= '0' && trimmed[0] <= '9') || trimmed[0] == '?';
}

inline bool IsDateDigit(char c) { return (c >= '0' && c <= '9') || c == '?'; }

inline int MonthNumber(std::string_view word) {
  static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int m = 0; m < 12; ++m) {
    if (word == kMonths[m]) return m + 1;
  }
  return 0;
}

// Characters 1-12: a 4-character year, a blank, a 2-character day and a
// 3-letter month in either order, and the blank before the rest.
inline bool HasDatePrefix(std::string_view line) {
  if (line.size() < 13) return false;
  for (int i = 0; i < 4; ++i) {
    if (!IsDateDigit(line[i])) return false;
  }
  if (line[4] != ' ') return false;
  if (line[11] != ' ' || line[12] == ' ') return false;
  const std::string_view a = line.substr(5, 2);
  const std::string_view b = line.substr(8, 3);
  const std::string_view c = line.substr(5, 3);
  const std::string_view d = line.substr(9, 2);
  const bool day_month = line[7] == ' ' && IsDateDigit(a[0]) && IsDateDigit(a[1]) &&
                         MonthNumber(b) != 0;
  const bool month_day = line[8] == ' ' && MonthNumber(c) != 0 && IsDateDigit(d[0]) &&
                         IsDateDigit(d[1]);
  return day_month || month_day;
}

// Date as yyyymmdd, or -1 when a digit of it is unknown.
inline long DateValue(std::string_view line) {
  const bool day_first = line[7] == ' ';
  const std::string_view year = line.substr(0, 4);
  const std::string_view day = day_first ? line.substr(5, 2) : line.substr(9, 2);
  const int month = MonthNumber(day_first ? line.substr(8, 3) : line.substr(5, 3));
  if (year.find('?') != std::string_view::npos || day.find('?') != std::string_view::npos) {
    return -1;
  }
  return std::stol(std::string(year)) * 10000 + month * 100 + std::stol(std::string(day));
}

inline std::string WithoutBrackets(std::string text) {
  std::string out;
  for (char c : text) {
    if (c != '[' && c != ']') out += c;
  }
  return out;
}

struct BaptismFields {
  std::string father, mother, children, witness;
};

// The rest of a baptism line, split at the first and second ';' (p1, p2)
// and at the last ',' before p1 (c); positions 1-based as the rules give them.
inline BaptismFields SplitBaptismRest(std::string_view rest) {
  BaptismFields f;
  const size_t semi1 = rest.find(';');
  const size_t p1 = semi1 == std::string_view::npos ? 0 : semi1 + 1;
  size_t p2 = 0;
  if (p1 != 0) {
    const size_t semi2 = rest.find(';', semi1 + 1);
    if (semi2 != std::string_view::npos) p2 = semi2 + 1;
  }
  size_t c = 0;
  const std::string_view parents = rest.substr(0, p1 == 0 ? rest.size() : p1 - 1);
  const size_t comma = parents.rfind(',');
  if (comma != std::string_view::npos) c = comma + 1;

  if (c != 0) {
    f.father = std::string(rest.substr(0, c - 1));
  } else if (p1 != 0) {
    f.father = std::string(rest.substr(0, p1 - 1));
  }
  if (c != 0 && p1 >= c + 3) f.mother = std::string(rest.substr(c, p1 - 1 - c));
  if (p2 != 0) {
    const size_t start = p1 + 1;  // two places after p1, 0-based
    if (start < rest.size()) f.children = std::string(rest.substr(start, p2 - p1 - 1));
    f.witness = std::string(rest.substr(p2));
  } else {
    f.witness = std::string(rest);
  }
  for (std::string* field : {&f.father, &f.mother, &f.witness}) {
    if (field->find('[') != std::string::npos) *field = WithoutBrackets(*field);
  }
  return f;
}

struct CoupleParts {
  std::string husband, wife;
};

// The rest of a line of any other kind: brackets removed, the part before
// the first ';' and the part after it, each up to its first ','.
inline CoupleParts SplitCoupleRest(std::string_view rest) {
  const std::string text = WithoutBrackets(std::string(rest));
  CoupleParts parts;
  const size_t semi = text.find(';');
  const std::string first = text.substr(0, semi);
  parts.husband = first.substr(0, first.find(','));
  if (semi != std::string::npos) {
    const std::string second = text.substr(semi + 1);
    parts.wife = second.substr(0, second.find(','));
  }
  return parts;
}

inline bool HasLetter(std::string_view text) {
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0xC0) return true;
  }
  return false;
}

}  // namespace regtools_test
