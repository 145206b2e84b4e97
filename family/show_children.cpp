#include "family/show_children.h"

#include <algorithm>
#include <climits>

#include "app/core/record_line.h"
#include "app/core/source_tags.h"
#include "platform/runtime/cp1252.h"
#include "textutil/fields.h"

namespace family {
namespace {

using appcore::TrimLine;

bool IsUnsure(char c) { return c == '?'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsDayWord(std::string_view w) {
  return !w.empty() && w.size() <= 2 && std::all_of(w.begin(), w.end(), [](char c) { return IsDigit(c) || IsUnsure(c); });
}

bool IsMonthWord(std::string_view w) {
  static constexpr std::string_view kMonths = "JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC";
  if (w.size() != 3) return false;
  std::string upper;
  for (char c : w) {
    if (!IsUnsure(c) && !rtl::IsCharAlpha(static_cast<unsigned char>(c))) return false;
    upper.push_back(static_cast<char>(rtl::CharUpper(static_cast<unsigned char>(c))));
  }
  if (upper.find('?') != std::string::npos) return true;
  for (size_t m = 0; m < kMonths.size(); m += 3)
    if (kMonths.substr(m, 3) == upper) return true;
  return false;
}

// Splits a date field into the date words after the year word and what
// follows them.
void SplitDateField(std::string_view field, std::string_view& date, std::string_view& remainder) {
  size_t i = field.find(' ');
  if (i == std::string_view::npos) i = field.size();
  size_t date_begin = std::string_view::npos, date_end = i;
  for (int words = 0; words < 2; ++words) {
    size_t begin = i;
    while (begin < field.size() && field[begin] == ' ') ++begin;
    size_t end = begin;
    while (end < field.size() && field[end] != ' ') ++end;
    const std::string_view word = field.substr(begin, end - begin);
    if (!IsDayWord(word) && !IsMonthWord(word)) break;
    if (date_begin == std::string_view::npos) date_begin = begin;
    date_end = i = end;
  }
  date = date_begin == std::string_view::npos ? std::string_view() : field.substr(date_begin, date_end - date_begin);
  remainder = TrimLine(field.substr(date_end));
}

}  // namespace

std::string AnotherCoupleNote(int line) { return "line " + std::to_string(line) + " names another couple: left out"; }

LineRange CoveredLines(TextPoint low, TextPoint high) {
  LineRange range{low.par, high.par};
  if (!(low == high) && high.col == 0 && high.par > low.par) --range.last;
  return range;
}

bool ReadChildLine(std::string_view line, ChildLine& out) {
  std::string_view t = TrimLine(line);
  if (!appcore::IsRecordLine(t)) return false;
  t = TrimLine(appcore::ReadSourceTag(t, INT_MAX).text);
  const size_t p1 = t.find(';');
  if (p1 == std::string_view::npos) return false;

  const std::string_view field = TrimLine(t.substr(0, p1));
  std::string_view date, names;
  SplitDateField(field, date, names);
  std::string_view after = t.substr(p1 + 1);
  if (names.empty()) {
    // The date alone in its field: the names have a field of their own.
    const size_t p2 = after.find(';');
    names = p2 == std::string_view::npos ? std::string_view() : after.substr(0, p2);
    if (p2 != std::string_view::npos) after = after.substr(p2 + 1);
  }
  while (!after.empty() && static_cast<unsigned char>(after.front()) <= 32) after.remove_prefix(1);

  out = ChildLine();
  out.year = std::string(field.substr(0, 4));
  out.date = std::string(date);
  const size_t comma = names.find(',');
  if (comma == std::string_view::npos) {
    out.husband = std::string(TrimLine(names));
  } else {
    if (comma >= 2) out.husband = std::string(TrimLine(names.substr(0, comma)));
    out.wife = std::string(TrimLine(names.substr(comma + 1)));
  }

  int pos = 1;
  out.child = textutil::Parse(after, "; ", pos);
  if (pos > 0) {
    std::string_view witnesses;
    if (after[static_cast<size_t>(pos - 2)] == ';') {
      witnesses = after.substr(static_cast<size_t>(pos - 1));
    } else {
      // The child's field goes on after its first word.
      const size_t semi = after.find(';', static_cast<size_t>(pos - 1));
      if (semi != std::string_view::npos) witnesses = after.substr(semi + 1);
    }
    out.witnesses = std::string(TrimLine(witnesses));
  }
  return true;
}

ChildrenSummary ShowChildren(const std::vector<std::string>& paragraphs, LineRange range, bool with_witnesses) {
  ChildrenSummary summary;
  std::string husband = kUnknownName, wife = kUnknownName;
  std::vector<std::string> children;
  const int count = static_cast<int>(paragraphs.size());
  const int first = std::max(range.first, 0);
  const int last = std::min(range.last, count - 1);
  std::vector<std::string> left_out;
  for (int i = first; i <= last; ++i) {
    ChildLine record;
    if (!ReadChildLine(paragraphs[static_cast<size_t>(i)], record)) continue;
    // A child of another couple is not put under the first one.
    const auto other = [](const std::string& known, const std::string& named) {
      return known != kUnknownName && !named.empty() && named != known;
    };
    if (other(husband, record.husband) || other(wife, record.wife)) {
      left_out.push_back(AnotherCoupleNote(i + 1));
      continue;
    }
    if (husband == kUnknownName && !record.husband.empty()) husband = record.husband;
    if (wife == kUnknownName && !record.wife.empty()) wife = record.wife;
    summary.husband_text = husband;
    summary.wife_text = wife;
    std::string entry = "   " + record.child + " bp. " + record.date;
    if (!record.date.empty()) entry += ' ';
    entry += record.year;
    summary.list_entries.emplace_back(TrimLine(entry));
    if (with_witnesses && !record.witnesses.empty()) entry += "; " + record.witnesses;
    children.push_back(std::move(entry));
  }
  summary.page_lines.push_back(husband + " m. " + wife);
  summary.page_lines.insert(summary.page_lines.end(), children.begin(), children.end());
  summary.page_lines.insert(summary.page_lines.end(), left_out.begin(), left_out.end());
  summary.page_lines.emplace_back(" ");
  summary.insert_at = std::clamp(range.last + 1, 0, count);
  return summary;
}

}  // namespace family
