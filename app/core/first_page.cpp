#include "app/core/first_page.h"

#include <iterator>
#include <type_traits>

namespace appcore {

namespace {

// The page lines are copied or moved as Result and Arranged are const or not.
template <typename From>
void Append(std::vector<std::string>& to, From& from) {
  if constexpr (std::is_const_v<From>)
    to.insert(to.end(), from.begin(), from.end());
  else
    to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
}

// The lines before the other hits; room is kept for extra lines more.
template <typename Result>
std::vector<std::string> LeadLines(Result& result, bool show_source_codes, size_t extra) {
  if (result.cancelled) return {result.searching_line};
  std::vector<std::string> lines;
  lines.reserve(result.legend.size() + 1 + extra);
  if (show_source_codes) Append(lines, result.legend);
  lines.emplace_back(" ");
  return lines;
}

// The lines before the arranged hits; room is kept for extra lines more.
template <typename Result>
std::vector<std::string> HeadLines(Result& result, bool show_source_codes, size_t extra) {
  std::vector<std::string> lines = LeadLines(result, show_source_codes, result.marriage_hits.size() + extra);
  if (!result.cancelled) Append(lines, result.marriage_hits);
  return lines;
}

template <typename Result, typename Arranged>
std::vector<std::string> PageLines(Result& result, Arranged& arranged, bool show_source_codes) {
  std::vector<std::string> lines = HeadLines(result, show_source_codes, arranged.lines.size());
  if (result.cancelled || arranged.cancelled) return lines;
  Append(lines, arranged.lines);
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

FirstPageHead TakeFirstPageHead(SearchResult& result, bool show_source_codes) {
  FirstPageHead head;
  head.lines = LeadLines(result, show_source_codes, 0);
  if (!result.cancelled) head.more = std::move(result.marriage_hits);
  return head;
}

int LegendLineCount(const SearchResult& result, bool show_source_codes) {
  return show_source_codes ? static_cast<int>(result.legend.size()) : 0;
}

}  // namespace appcore
