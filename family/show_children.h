// "Set as children": the couple and the children of the baptism lines that
// the user selected in a page.
//
// Lines. A selection covers the paragraphs from the one holding its lower
// end to the one holding its upper end; an upper end at the very start of
// a paragraph covers nothing of that paragraph. With no selection the
// caret's paragraph alone is read. The block goes in below the last line.
//
// Reading one line (trimmed; a trailing source tag " [n] " is not part of
// the record). It is read when it begins with a digit or '?' and holds a
// ';'. Its date field is the text before the first ';': characters 1-4 are
// the year, then come up to two date words (a day of one or two digits or
// '?', a month abbreviation), in either order. Two layouts are read:
//   - names in the date field, as the registers are written:
//       "1687 12 Mar John Smyth, Mary Jonson; Anne; Will Turner, Joan Hall"
//     names = what follows the date words; the child's field follows the
//     first ';';
//   - the date alone in its field:
//       "1687 Mar 12; John Smyth, Mary Jonson; Anne; Will Turner"
//     names = the field after the first ';'; the child's field follows.
// The date is the date words as written ("12 Mar", "Mar 12"; "" for a
// year alone). The names are cut at their first ',': the husband before it
// (when more than one character stands there), the wife after it; without
// a ',' the names are the husband's. The first line that names a husband
// or a wife gives them; later lines do not change them. The child is the
// first word of the child's field (cut at ';' or a blank outside double
// quotes); the witnesses are the text after the child's field.
//
// A line that names a husband or a wife other than the couple's (as named
// by the lines before it) is a child of another couple: it is left out,
// and said so under the children.
//
// Results: the family box shows the husband and the wife ("??? ????" for
// one never named; both empty when no line was read) and one list entry per
// line read, child + " bp. " + date + " " + year. The page gets the block
//   husband + " m. " + wife
//   "   " + child + " bp. " + date + " " + year   [+ "; " + witnesses]
//   "line " + n + " names another couple: left out"   (n counted from 1)
//   " "
// with the witnesses only when asked for and present.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace family {

inline constexpr char kUnknownName[] = "??? ????";

// A place in a text: paragraph and column, both 0-based.
struct TextPoint {
  int par = 0;
  int col = 0;
  bool operator==(const TextPoint&) const = default;
};

// Paragraphs first .. last, inclusive.
struct LineRange {
  int first = 0;
  int last = 0;
};

// The paragraphs that a selection from low to high covers (low == high: no
// selection).
LineRange CoveredLines(TextPoint low, TextPoint high);

// The same for a memo's selection: any memo with getSelStart, getSelLength
// (negative when the selection runs backwards from the caret), FindParOfPos
// and ParStart.
template <typename Memo>
LineRange SelectedLines(const Memo& memo) {
  const std::int32_t caret = memo.getSelStart();
  const std::int32_t length = memo.getSelLength();
  const std::int32_t low = length < 0 ? caret + length : caret;
  const std::int32_t high = length < 0 ? caret : caret + length;
  auto point = [&](std::int32_t pos) {
    const int par = memo.FindParOfPos(pos);
    return TextPoint{par, static_cast<int>(pos - memo.ParStart(par))};
  };
  return CoveredLines(point(low), point(high));
}

// One line as "Set as children" reads it.
struct ChildLine {
  std::string year;
  std::string date;
  std::string husband;  // "" when the line names none
  std::string wife;     // "" when the line names none
  std::string child;
  std::string witnesses;
};

// False when the line is not read (no record line, no ';').
bool ReadChildLine(std::string_view line, ChildLine& out);

struct ChildrenSummary {
  std::string husband_text;                 // the family box's husband edit
  std::string wife_text;                    // the family box's wife edit
  std::vector<std::string> list_entries;    // the family box's children list
  std::vector<std::string> page_lines;      // the block for the page
  int insert_at = 0;                        // paragraph index of its first line
};

// The line said under the block for line (1-based) of another couple.
std::string AnotherCoupleNote(int line);

// Reads paragraphs range.first .. range.last (those that exist) of a page.
ChildrenSummary ShowChildren(const std::vector<std::string>& paragraphs, LineRange range, bool with_witnesses);

}  // namespace family
