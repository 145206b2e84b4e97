// The sort commands of a page: "Sort by Husband", "Sort by Wife", "Sort All"
// and "Sort groups by date".
//
// Sort entries. A record line of a baptism or marriage page gives one entry
// per side; the entries are written, sorted, to a new page:
//   1. L := the line without '[' and ']', every surname particle glued to
//      the word after it: " 't ", " la ", " le ", " van ", " ver ", " der ",
//      " de ", " ten ", " ter ", " du ", " dela ", " vander ", " vande ",
//      " vanden " (in that order, case-blind, non-overlapping) lose their
//      trailing blank ("Jan van Dyck" -> "Jan vanDyck").
//   2. The names are read by the record-line layout (record_line.h), as the
//      search reads them: D := the date (characters 1-12, trimmed); on a
//      baptism page the first person is the father and the second the
//      mother, on a marriage page the husband (before the first ';', up to
//      its first ',') and the wife (after the first ';', up to her first ',').
//   3. Wife side: H := what stands before the second person (the father;
//      the husband's whole part on a marriage page); S := the second
//      person's name; T := the rest after the first ';' of the names (on a
//      marriage page the wife's whole part, so that the wife key reads her
//      name). With w1 w2 w3 the first words of S and w3' the letters of w3:
//      when w3' is neither empty nor "Jr"/"jr", w1 := w1 + " " + w2 and
//      w2 := w3'. Entry: D + "; " + w2 + ", " + w1 + ", " + H + "; " + T.
//   4. Husband side: S := the names up to their first ',' or ';' (the
//      husband's or father's name), T := what follows that delimiter. With w1 .. w4 the first words of S:
//      when w4 is neither empty nor "Jr"/"jr", w1 := w1 w2 w3 and w2 := w4;
//      otherwise as the wife side with w3. Entry: D + "; " + w2 + ", " + w1
//      + ", " + T.
//   Words of S that the recipe does not place (a "Jr", a third word without
//   letters, a fifth word and on) follow w1, so no word of the line is lost.
//
// Keys (entries are sorted stably by key, keys compared case-blind):
//   husband key: after the entry's first ';' and the character after it,
//     fields f1, f2, f3 cut at ',' (runs of ',' count as one): f1 + the first
//     3 characters of f2 + the 3rd character of f3;
//   wife key: past the first ';' and the next ';' (each with the character
//     after it), the text up to ',' or ';'; with its words a, b, c:
//     c + the first 3 characters of a, or b + those when c is empty.
//
// Groups (Sort groups by date): the page's legend lines (the run of lines
// at its top that begin "[n]" once trimmed) stay on top, followed by an
// empty line; the rest is cut into groups, runs of lines that are not blank,
// which are ordered stably by the date of each group's first line
// (CompareDates), each written with an empty line after it, and one more
// empty line ends the page. Blank lines between groups are the only text
// dropped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/pacer.h"
#include "app/core/record_line.h"

namespace appcore {

class WorkCrew;

// What the user is told when a page may not be sorted.
inline constexpr char kImproperFileType[] =
    "Improper file type: only a page of a baptism register (\"_bap\" in its name) or of a marriage register "
    "(\"_marr\") can be sorted.";

enum class SortSide { kHusband, kWife, kAll };

// Step 1: brackets dropped, particles glued.
std::string GlueParticles(std::string_view line);

// The entries of one record line of a page of kind (kBaptisms: father and
// mother; kOther: husband and wife).
std::string HusbandEntry(std::string_view trimmed_line, FileKind kind);
std::string WifeEntry(std::string_view trimmed_line, FileKind kind);

std::string HusbandKey(std::string_view entry);
std::string WifeKey(std::string_view entry);

// A page whose caption names a baptism ("_bap") or marriage ("_marr") file,
// case-blind; the sorts refuse every other page.
bool IsSortablePage(std::string_view caption);
// The layout a sortable page's lines are read by: kBaptisms for "_bap",
// kOther for "_marr", kNone for every other page.
FileKind PageKind(std::string_view caption);

struct SortedPage {
  std::string error;               // kImproperFileType, or "" when sorted
  std::string caption;             // "HS-", "WS-" or "AS-" + caption
  std::vector<std::string> lines;  // the sorted entries
};

// The new page of "Sort by Husband", "Sort by Wife" or "Sort All" over the
// lines of the page captioned caption. Record lines (trimmed) give entries,
// wife side first under Sort All; every other line is left out. The wife
// key sorts only Sort by Wife on a marriage page. The entries are made and
// sorted on crew's threads (on a crew started for the call when null),
// the calling thread ticking the pacer while it waits; once the pacer is
// cancelled the work stops within a few milliseconds and the page comes
// back without lines (pacer->Cancelled()).
SortedPage SortPageByName(std::string_view caption, const std::vector<std::string>& lines, SortSide side,
                          Pacer* pacer = nullptr, WorkCrew* crew = nullptr);
// The same over views of the page's lines.
SortedPage SortPageByName(std::string_view caption, const std::vector<std::string_view>& lines, SortSide side,
                          Pacer* pacer = nullptr, WorkCrew* crew = nullptr);

// The same sort with the entries left where they were made: entries holds
// every entry at its line's slots (one per line, two under Sort All, the
// wife's first; the slots of other lines empty), and order the slots in the
// new page's order (empty when the sort was cancelled or refused). A page
// can be written from them in place, with no entry moved or freed one by
// one.
struct SortedEntries {
  std::string error;
  std::string caption;
  std::vector<std::string> entries;
  std::vector<uint32_t> order;
};
SortedEntries SortEntriesByName(std::string_view caption, const std::vector<std::string_view>& lines, SortSide side,
                                Pacer* pacer = nullptr, WorkCrew* crew = nullptr);

// The text of a page after "Sort groups by date". report receives
// "Date sort error:" + the first unreadable date text, at most once. When
// the pacer is cancelled the lines come back as they were.
std::vector<std::string> SortGroupsByDate(const std::vector<std::string>& lines,
                                          const std::function<void(const std::string&)>& report,
                                          Pacer* pacer = nullptr);

}  // namespace appcore
