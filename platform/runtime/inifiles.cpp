#include "platform/runtime/inifiles.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/runtime/exceptions.h"
#include "platform/runtime/files.h"
#include "platform/runtime/streams.h"
#include "platform/runtime/strings.h"
#include "platform/runtime/sysutils.h"

namespace rtl {

namespace {
std::string TrimBlanks(std::string_view s) {
  size_t i = 0, n = s.size();
  while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
  while (n > i && (s[n - 1] == ' ' || s[n - 1] == '\t')) --n;
  return std::string(s.substr(i, n - i));
}

bool HasLineBreak(std::string_view s) {
  return s.find('\r') != std::string_view::npos || s.find('\n') != std::string_view::npos;
}
}  // namespace

TIniFile::TIniFile(std::string file_name) : file_name_(std::move(file_name)) {}

std::vector<TIniFile::Line> TIniFile::Load(bool for_write) const {
  std::vector<Line> lines;
  std::string text;
  try {
    text = LoadFileToString(file_name_);
  } catch (const EStreamError& e) {
    // A missing or unreadable file reads as empty; but an existing file that
    // cannot be read is never replaced by one holding only the new entry.
    if (for_write && ::access(file_name_.c_str(), F_OK) == 0)
      throw EIniFileException("Unable to write to " + PathToText(file_name_) + " (" + e.Message() + ")");
    return lines;
  }
  for (auto& raw : SplitLines(text)) {
    Line line;
    line.text = raw;
    std::string t = TrimBlanks(raw);
    if (!t.empty() && t[0] == '[') {
      size_t close = t.find(']');
      line.kind = Line::kSection;
      line.name = TrimBlanks(std::string_view(t).substr(1, close == std::string::npos ? std::string::npos : close - 1));
    } else if (!t.empty() && t[0] != ';') {
      size_t eq = t.find('=');
      if (eq != std::string::npos) {
        line.kind = Line::kEntry;
        line.name = TrimBlanks(std::string_view(t).substr(0, eq));
        line.value = TrimBlanks(std::string_view(t).substr(eq + 1));
      }
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

void TIniFile::Save(const std::vector<Line>& lines) const {
  std::string text;
  for (auto& line : lines) {
    text += line.text;
    text += "\r\n";
  }
  try {
    SaveFileSafely(file_name_, text);
  } catch (const EStreamError& e) {
    throw EIniFileException("Unable to write to " + PathToText(file_name_) + " (" + e.Message() + ")");
  }
}

int TIniFile::FindSection(const std::vector<Line>& lines, std::string_view section, size_t& end) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind != Line::kSection || !AnsiSameText(lines[i].name, section)) continue;
    end = i + 1;
    while (end < lines.size() && lines[end].kind != Line::kSection) ++end;
    return static_cast<int>(i);
  }
  end = lines.size();
  return -1;
}

int TIniFile::FindKey(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
  size_t end;
  int start = FindSection(lines, section, end);
  if (start < 0) return -1;
  for (size_t i = start + 1; i < end; ++i)
    if (lines[i].kind == Line::kEntry && AnsiSameText(lines[i].name, key)) return static_cast<int>(i);
  return -1;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view fallback) const {
  auto lines = Load();
  int i = FindKey(lines, section, key);
  return i < 0 ? std::string(fallback) : lines[i].value;
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int fallback) const {
  std::string s = ReadString(section, key, "");
  return StrToIntDef(s, fallback);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
  return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  std::string bad;
  if (TrimBlanks(section).empty() || section.find(']') != std::string_view::npos || HasLineBreak(section))
    bad = "section name";
  else if (TrimBlanks(key).empty() || key.find('=') != std::string_view::npos || HasLineBreak(key) ||
           TrimBlanks(key)[0] == '[' || TrimBlanks(key)[0] == ';')
    bad = "key name";
  else if (HasLineBreak(value))
    bad = "value";
  if (!bad.empty())
    throw EIniFileException("Unable to write to " + PathToText(file_name_) + ": invalid " + bad);

  auto lines = Load(true);
  std::string key_name = TrimBlanks(key);
  Line entry;
  entry.kind = Line::kEntry;
  entry.name = key_name;
  entry.value = TrimBlanks(value);
  entry.text = key_name + "=" + std::string(value);

  int at = FindKey(lines, section, key);
  if (at >= 0) {
    entry.name = lines[at].name;  // keep the key's spelling in the file
    entry.text = entry.name + "=" + std::string(value);
    lines[at] = entry;
  } else {
    size_t end;
    int start = FindSection(lines, section, end);
    if (start < 0) {
      if (!lines.empty() && !TrimBlanks(lines.back().text).empty()) lines.push_back(Line{});
      Line head;
      head.kind = Line::kSection;
      head.name = TrimBlanks(section);
      head.text = "[" + head.name + "]";
      lines.push_back(head);
      lines.push_back(entry);
    } else {
      // After the section's last non-blank line.
      size_t pos = end;
      while (pos > static_cast<size_t>(start) + 1 && TrimBlanks(lines[pos - 1].text).empty()) --pos;
      lines.insert(lines.begin() + pos, entry);
    }
  }
  Save(lines);
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  WriteString(section, key, IntToStr(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::ListSection(std::string_view section, TStrings& list, bool with_values) const {
  auto lines = Load();
  list.BeginUpdate();
  list.Clear();
  size_t end;
  int start = FindSection(lines, section, end);
  if (start >= 0)
    for (size_t i = start + 1; i < end; ++i)
      if (lines[i].kind == Line::kEntry)
        list.Add(with_values ? lines[i].name + "=" + lines[i].value : lines[i].name);
  list.EndUpdate();
}

void TIniFile::ReadSection(std::string_view section, TStrings& keys) const {
  ListSection(section, keys, false);
}

void TIniFile::ReadSectionValues(std::string_view section, TStrings& values) const {
  ListSection(section, values, true);
}

void TIniFile::ReadSections(TStrings& sections) const {
  auto lines = Load();
  sections.BeginUpdate();
  sections.Clear();
  for (auto& line : lines)
    if (line.kind == Line::kSection && !line.name.empty()) sections.Add(line.name);
  sections.EndUpdate();
}

bool TIniFile::SectionExists(std::string_view section) const {
  size_t end;
  return FindSection(Load(), section, end) >= 0;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
  return FindKey(Load(), section, key) >= 0;
}

void TIniFile::EraseSection(std::string_view section) {
  auto lines = Load(true);
  size_t end;
  int start = FindSection(lines, section, end);
  if (start < 0) return;
  lines.erase(lines.begin() + start, lines.begin() + end);
  Save(lines);
}

void TIniFile::DeleteKey(std::string_view section, std::string_view key) {
  auto lines = Load(true);
  int at = FindKey(lines, section, key);
  if (at < 0) return;
  lines.erase(lines.begin() + at);
  Save(lines);
}

}  // namespace rtl
