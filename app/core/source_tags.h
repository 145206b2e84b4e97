// Source tags of page lines: "Edit original line" and "Reset file list".
//
// The search ends every hit line with the tag " [n] " of its data file
// (n = slot + 1, see record_line.h). Only that trailing tag names a source:
// a record's own text holds editorial brackets ("Jan [van] Dyck",
// "Will[iam]"), which are never read as a number. The tag is read from the
// end of the line, trailing blanks and control characters ignored: a blank,
// '[', decimal digits, ']'. It counts only when n lies between 1 and the
// number of sources.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace appcore {

inline constexpr char kOperationNotAvailable[] = "Operation not available!";

struct SourceTagOfLine {
  int source = 0;         // 1 .. source count; 0 when the line has no valid tag
  std::string_view text;  // the line before the tag (the whole line without one)
};

SourceTagOfLine ReadSourceTag(std::string_view line, int source_count);

// Where "Edit original line" opens a data file.
struct OriginalLine {
  int slot = -1;             // data file slot (source - 1)
  std::string path;          // its full path
  std::string name;          // its bare file name: the page caption
  std::string search_text;   // the record as the data file holds it (trimmed)
  int lead = 0;              // blanks before the record in the page line
};

// The data file of a page line, from its trailing tag; ok is false when the
// line has no valid tag ("Operation not available!"). paths holds the full
// path of each slot.
struct OriginalLineLookup {
  bool ok = false;
  OriginalLine where;
};
OriginalLineLookup FindOriginalLine(std::string_view page_line, const std::vector<std::string>& paths);

// The place of the record in the data file's lines (paragraphs): the first
// line whose trimmed text equals search_text, else the first line that holds
// it (case-blind, '?' read as itself). column is where the caret goes:
// column_in_record (the page caret column less OriginalLine::lead) into the
// record, kept within it. line is -1 when the record is not there (the file
// changed since the search).
struct RecordPlace {
  int line = -1;
  int column = 0;
};
RecordPlace FindRecordLine(const std::vector<std::string>& lines, std::string_view search_text,
                           int column_in_record);

// Legend lines: "[n]" at the start of the trimmed text, n decimal digits,
// followed by a blank or nothing (the sources' lines, "[n] title").
bool IsLegendLine(std::string_view line);
// The number of legend lines at the top of a page.
int PageLegendLineCount(const std::vector<std::string>& lines);

// The page after "Reset file list": legend lines (see IsLegendLine) are
// removed wherever they stand, and a legend of the sources that the
// remaining lines cite by trailing tag, " " + source line, in source order,
// is put at the top. source_list holds "[n] title" for each slot.
std::vector<std::string> ResetFileList(const std::vector<std::string>& lines,
                                       const std::vector<std::string>& source_list);

}  // namespace appcore
