// The search as plain matching of every line, the reference the search's
// fast paths are held to (the equivalence tests and the register fuzz
// body). Each file is read again from its path and cut into lines here,
// not by the data file's own line index.
#pragma once

#include <algorithm>
#include <cstddef>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/data_file_set.h"
#include "app/core/line_matcher.h"
#include "app/core/record_line.h"
#include "app/core/search.h"
#include "app/core/text_encoding.h"
#include "platform/runtime/strings.h"

namespace appcore_test {

// The lines of a file's bytes: each ends at CR, LF or CR LF, and a final
// line end gives no empty line after it.
inline std::vector<std::string_view> SplitLines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\r' && bytes[i] != '\n') continue;
    lines.push_back(bytes.substr(start, i - start));
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < bytes.size()) lines.push_back(bytes.substr(start));
  return lines;
}

// Every ticked file's lines after the title, matched one by one.
inline appcore::SearchResult PlainSearch(const appcore::DataFileSet& set, const appcore::SearchOptions& o) {
  using appcore::FileKind;
  appcore::SearchResult r;
  r.terms = appcore::ParseSearchText(o.search_text);
  appcore::LineMatcher matcher(r.terms, appcore::ReadBoxes(o, r.terms));
  rtl::TStringList others;
  others.SetSorted(true);
  for (int slot = 0; slot < set.Count(); ++slot) {
    if (static_cast<size_t>(slot) >= o.ticked.size() || !o.ticked[static_cast<size_t>(slot)]) continue;
    const appcore::DataFileEntry& entry = set.File(slot);
    if (entry.kind == FileKind::kOther && !o.marriages) continue;
    std::ifstream in(entry.path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A UTF-8 file is searched as its Windows-1252 text; one whose
    // characters cannot be shown is not searched.
    const appcore::TextForm form = appcore::DetectForm(bytes);
    if (form.utf8) {
      std::string text;
      if (!appcore::DecodeText(bytes, form, text)) continue;
      bytes.swap(text);
    }
    const std::vector<std::string_view> lines = SplitLines(bytes);
    for (size_t i = 1; i < lines.size(); ++i) {
      ++r.line_count;
      const std::string_view trimmed = appcore::TrimLine(lines[i]);
      if (!appcore::IsRecordLine(trimmed) ||
          !appcore::PassesPeriod(appcore::PeriodOf(trimmed), o.before_1700, o.from_1700))
        continue;
      ++r.record_count;
      std::string keyword;
      if (!matcher.Match(entry.kind, appcore::RestOf(trimmed), &keyword)) continue;
      ++r.hit_count;
      std::string hit = appcore::HitLine(trimmed, slot + 1, o.show_source_codes);
      if (entry.kind == FileKind::kBaptisms)
        r.baptism_hits.push_back(std::move(hit));
      else
        others.Add(hit);
      if (!keyword.empty()) r.keywords.push_back(keyword);
    }
  }
  for (int i = 0; i < others.Count(); ++i) r.marriage_hits.push_back(others[i]);
  return r;
}

// How many of a search's keywords are its terms, which lead them, each
// once; 0 when they do not.
inline size_t TermsLeading(const appcore::SearchResult& search) {
  const std::vector<std::string>& words = search.keywords;
  const std::string& term1 = search.terms.term1;
  const std::string& term2 = search.terms.term2;
  if (words.empty() || words[0] != term1) return 0;
  if (term2.empty() || term2 == term1) return 1;
  return words.size() > 1 && words[1] == term2 ? 2 : 0;
}

// The words a search matched by sound: its keywords after the terms.
inline std::vector<std::string> WordsAfterTerms(const appcore::SearchResult& search) {
  return {search.keywords.begin() + static_cast<std::ptrdiff_t>(TermsLeading(search)), search.keywords.end()};
}

// The same of the plain search, whose keywords are the words its matches
// noted: the terms taken out.
inline std::vector<std::string> PlainWords(const appcore::SearchResult& plain) {
  std::vector<std::string> words = plain.keywords;
  for (const std::string& term : {plain.terms.term1, plain.terms.term2})
    words.erase(std::remove(words.begin(), words.end(), term), words.end());
  return words;
}

}  // namespace appcore_test
