#include "app/core/first_page.h"

namespace appcore {

std::vector<std::string> FirstPageLines(const SearchResult& result, const ArrangeOutcome& arranged,
                                        bool show_source_codes) {
  if (result.cancelled) return {result.searching_line};
  std::vector<std::string> lines;
  lines.reserve(result.legend.size() + 1 + result.marriage_hits.size() + arranged.lines.size());
  if (show_source_codes) lines.insert(lines.end(), result.legend.begin(), result.legend.end());
  lines.emplace_back(" ");
  lines.insert(lines.end(), result.marriage_hits.begin(), result.marriage_hits.end());
  if (!arranged.cancelled) lines.insert(lines.end(), arranged.lines.begin(), arranged.lines.end());
  return lines;
}

int LegendLineCount(const SearchResult& result, bool show_source_codes) {
  return show_source_codes ? static_cast<int>(result.legend.size()) : 0;
}

}  // namespace appcore
