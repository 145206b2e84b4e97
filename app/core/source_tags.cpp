#include "app/core/source_tags.h"

#include <set>

#include "app/core/record_line.h"
#include "platform/runtime/files.h"
#include "platform/runtime/sysutils.h"

namespace appcore {
namespace {

constexpr size_t kMaxTagDigits = 9;  // keeps the number within an int

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Position of the first case-blind occurrence of part in s; npos when none.
size_t FindNoCase(std::string_view s, std::string_view part) {
  if (part.empty() || part.size() > s.size()) return std::string_view::npos;
  for (size_t at = 0; at + part.size() <= s.size(); ++at)
    if (rtl::AnsiSameText(s.substr(at, part.size()), part)) return at;
  return std::string_view::npos;
}

}  // namespace

SourceTagOfLine ReadSourceTag(std::string_view line, int source_count) {
  SourceTagOfLine tag;
  tag.text = line;
  size_t end = line.size();
  while (end > 0 && static_cast<unsigned char>(line[end - 1]) <= 32) --end;
  if (end < 4 || line[end - 1] != ']') return tag;
  size_t open = end - 1;
  while (open > 0 && IsDigit(line[open - 1])) --open;
  const size_t digits = end - 1 - open;
  if (digits == 0 || digits > kMaxTagDigits || open < 2 || line[open - 1] != '[' || line[open - 2] != ' ')
    return tag;
  int n = 0;
  for (size_t i = open; i < end - 1; ++i) n = n * 10 + (line[i] - '0');
  if (n < 1 || n > source_count) return tag;
  tag.source = n;
  tag.text = line.substr(0, open - 2);
  return tag;
}

OriginalLineLookup FindOriginalLine(std::string_view page_line, const std::vector<std::string>& paths) {
  OriginalLineLookup lookup;
  const SourceTagOfLine tag = ReadSourceTag(page_line, static_cast<int>(paths.size()));
  if (tag.source == 0) return lookup;
  const std::string_view record = TrimLine(tag.text);
  if (record.empty()) return lookup;
  lookup.ok = true;
  OriginalLine& where = lookup.where;
  where.slot = tag.source - 1;
  where.path = paths[static_cast<size_t>(where.slot)];
  where.name = rtl::ExtractFileName(where.path);
  where.search_text = std::string(record);
  where.lead = static_cast<int>(record.data() - page_line.data());
  return lookup;
}

RecordPlace FindRecordLine(const std::vector<std::string>& lines, std::string_view search_text,
                           int column_in_record) {
  RecordPlace place;
  if (search_text.empty()) return place;
  size_t start = std::string_view::npos;
  for (size_t i = 0; i < lines.size() && place.line < 0; ++i) {
    const std::string_view trimmed = TrimLine(lines[i]);
    if (trimmed == search_text) {
      place.line = static_cast<int>(i);
      start = static_cast<size_t>(trimmed.data() - lines[i].data());
    }
  }
  for (size_t i = 0; i < lines.size() && place.line < 0; ++i) {
    const size_t at = FindNoCase(lines[i], search_text);
    if (at != std::string_view::npos) {
      place.line = static_cast<int>(i);
      start = at;
    }
  }
  if (place.line < 0) return place;
  int column = column_in_record < 0 ? 0 : column_in_record;
  if (column > static_cast<int>(search_text.size())) column = static_cast<int>(search_text.size());
  place.column = static_cast<int>(start) + column;
  return place;
}

bool IsLegendLine(std::string_view line) {
  const std::string_view t = TrimLine(line);
  if (t.size() < 3 || t[0] != '[') return false;
  size_t i = 1;
  while (i < t.size() && IsDigit(t[i])) ++i;
  if (i == 1 || i >= t.size() || t[i] != ']') return false;
  return i + 1 == t.size() || t[i + 1] == ' ';
}

int PageLegendLineCount(const std::vector<std::string>& lines) {
  int n = 0;
  while (n < static_cast<int>(lines.size()) && IsLegendLine(lines[static_cast<size_t>(n)])) ++n;
  return n;
}

std::vector<std::string> ResetFileList(const std::vector<std::string>& lines,
                                       const std::vector<std::string>& source_list) {
  std::vector<std::string> kept;
  kept.reserve(lines.size());
  std::set<int> used;
  const int count = static_cast<int>(source_list.size());
  for (const std::string& line : lines) {
    if (IsLegendLine(line)) continue;
    const int source = ReadSourceTag(line, count).source;
    if (source > 0) used.insert(source);
    kept.push_back(line);
  }
  std::vector<std::string> page;
  page.reserve(used.size() + kept.size());
  for (int source : used) page.push_back(" " + source_list[static_cast<size_t>(source - 1)]);
  page.insert(page.end(), kept.begin(), kept.end());
  return page;
}

}  // namespace appcore
