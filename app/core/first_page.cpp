#include "app/core/first_page.h"

#include <iterator>
#include <type_traits>

namespace appcore {

namespace {

// Copies or moves (as Result and Arranged are const or not) the page lines.
template <typename Result, typename Arranged>
std::vector<std::string> PageLines(Result& result, Arranged& arranged, bool show_source_codes) {
  if (result.cancelled) return {result.searching_line};
  auto append = [](std::vector<std::string>& to, auto& from) {
    if constexpr (std::is_const_v<std::remove_reference_t<decltype(from)>>)
      to.insert(to.end(), from.begin(), from.end());
    else
      to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
  };
  std::vector<std::string> lines;
  lines.reserve(result.legend.size() + 1 + result.marriage_hits.size() + arranged.lines.size());
  if (show_source_codes) append(lines, result.legend);
  lines.emplace_back(" ");
  append(lines, result.marriage_hits);
  if (!arranged.cancelled) append(lines, arranged.lines);
  return lines;
}

}  // namespace

std::vector<std::string> FirstPageLines(const SearchResult& result, const ArrangeOutcome& arranged,
                                        bool show_source_codes) {
  return PageLines(result, arranged, show_source_codes);
}

std::vector<std::string> TakeFirstPageLines(SearchResult& result, ArrangeOutcome& arranged, bool show_source_codes) {
  return PageLines(result, arranged, show_source_codes);
}

int LegendLineCount(const SearchResult& result, bool show_source_codes) {
  return show_source_codes ? static_cast<int>(result.legend.size()) : 0;
}

}  // namespace appcore
