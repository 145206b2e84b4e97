// The first page ("Main text") as a search leaves it.
//
// A finished search: the legend of tagged file titles (while source codes
// are shown), one line holding a blank, the hits from files other than
// baptism files, then the arranged baptism hits (left out when arranging
// was cancelled). A cancelled search: only its last "Searching: " line.
#pragma once

#include <string>
#include <vector>

#include "app/core/arrange.h"
#include "app/core/search.h"

namespace appcore {

std::vector<std::string> FirstPageLines(const SearchResult& result, const ArrangeOutcome& arranged,
                                        bool show_source_codes);
// The same lines, moved out of result (legend and other hits) and arranged
// instead of copied; the rest of result stays as it was.
std::vector<std::string> TakeFirstPageLines(SearchResult& result, ArrangeOutcome& arranged, bool show_source_codes);

// The lines before the arranged baptism hits (the whole page after a
// cancelled search), moved out of result: lines, then more, the list of
// the other hits taken whole (none of its lines moved on its own).
struct FirstPageHead {
  std::vector<std::string> lines, more;
};
FirstPageHead TakeFirstPageHead(SearchResult& result, bool show_source_codes);

// Number of legend lines at the top of the page (0 without source codes);
// "Sort groups by date" keeps them in place.
int LegendLineCount(const SearchResult& result, bool show_source_codes);

}  // namespace appcore
