// Body of the register core's fuzz target: one input is a small source
// folder, a search text, highlight words and the boxes of the window; it
// runs the listing and loading of the data files, the search, arranging,
// the first page, the sort commands, "Reset file list", "Edit original
// line" and "Highlight words" over it and checks what they promise. The
// libFuzzer target calls it; a GoogleTest replays the committed corpus and
// mutations of it in the normal build.
//
// A search that runs to its end must give what plain matching of every
// line gives, the lines cut here from the files' bytes (not by the data
// files' own index): both as the window searches loaded files and as the
// command searches each file as it is read.
//
// Input: byte 0 holds the boxes (bit 0 Father, 1 Mother, 2 Children, 3
// Witness, 4 fuzzy Father, 5 Marriages, 6 Text, 7 fuzzy Text), byte 1 more
// of them (bit 0 Show source codes, bit 1 "< 1700", bit 2 "1700 >", bit 3
// fuzzy highlight, bits 4-5 cancel after that many progress calls, 0 =
// never, bit 6 fuzzy Mother, bit 7 fuzzy Witness); the rest is cut at NUL
// bytes into the search text, the highlight words and up to five data
// files (baptisms, marriages, wills, baptisms, and a larger baptism file
// of its part repeated).
//
// A failed check calls QV_FUZZ_CHECK_FAILED(text), which aborts unless the
// includer defines it otherwise (before including this file).
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/arrange.h"
#include "app/core/data_file_set.h"
#include "app/core/first_page.h"
#include "app/core/highlight_words.h"
#include "app/core/record_line.h"
#include "app/core/search.h"
#include "app/core/sort_commands.h"
#include "app/core/source_tags.h"

#include "fuzz/fuzz_check.h"
#include "tests/app/core/plain_search.h"

namespace appcore::fuzz {

// One scratch folder for the process, emptied for each input and removed
// when the process exits normally.
inline const std::string& ScratchFolder() {
  struct Folder {
    std::string path;
    Folder() {
      std::string pattern = (std::filesystem::temp_directory_path() / "qv-fuzz-XXXXXX").string();
      if (mkdtemp(pattern.data())) path = pattern;
    }
    ~Folder() {
      std::error_code ec;
      if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
  };
  static const Folder folder;
  return folder.path;
}

inline size_t NonEmpty(const std::vector<std::string>& lines) {
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return !l.empty(); }));
}
inline size_t NonBlank(const std::vector<std::string>& lines) {
  return static_cast<size_t>(
      std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return !TrimLine(l).empty(); }));
}

// Whether a search gave what plain matching gives: the same hits and
// counts, its terms leading its keywords, then the same words matched by
// sound.
inline bool SameAsPlain(const SearchResult& search, const SearchResult& plain) {
  return search.baptism_hits == plain.baptism_hits && search.marriage_hits == plain.marriage_hits &&
         search.hit_count == plain.hit_count && search.record_count == plain.record_count &&
         search.line_count == plain.line_count && appcore_test::TermsLeading(search) > 0 &&
         appcore_test::WordsAfterTerms(search) == appcore_test::PlainWords(plain);
}

// The fifth file's text: its part repeated to about lines_wanted lines (or
// 1 MiB). Some 2,000 make a file that is mapped rather than read once it
// passes 64 KiB; some 40,000 one that is searched in two blocks (which
// the replay test runs once: every input that large would slow the fuzzer
// fifty times).
constexpr size_t kLargeFileLines = 2000;
inline std::string Repeated(const std::string& unit, size_t lines_wanted) {
  std::string text;
  if (unit.empty()) return text;
  size_t ends = 0;  // about: a CR LF across two copies counts twice
  for (size_t i = 0; i < unit.size(); ++i)
    ends += unit[i] == '\n' || (unit[i] == '\r' && (i + 1 == unit.size() || unit[i + 1] != '\n'));
  for (size_t lines = 0; lines < lines_wanted && text.size() < (size_t{1} << 20); lines += ends) text += unit;
  return text;
}

inline void RegisterCore(const std::uint8_t* data, std::size_t size, size_t large_file_lines = kLargeFileLines) {
  if (size < 2 || ScratchFolder().empty()) return;
  const std::uint8_t boxes = data[0], more = data[1];
  std::vector<std::string> parts(1);
  for (std::size_t i = 2; i < size; ++i) {
    if (data[i] == 0)
      parts.emplace_back();
    else
      parts.back() += static_cast<char>(data[i]);
  }
  parts.resize(std::max<size_t>(parts.size(), 2));

  // The source folder.
  const std::string& dir = ScratchFolder();
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) std::filesystem::remove(entry.path(), ec);
  static const char* const kNames[] = {"a_bap.txt", "b_marr.txt", "c_will.txt", "d_bap.txt", "e_bap.txt"};
  for (size_t f = 0; f < 5 && f + 2 < parts.size(); ++f) {
    std::ofstream out(dir + "/" + kNames[f], std::ios::binary);
    out << (f < 4 ? parts[f + 2] : Repeated(parts[f + 2], large_file_lines));
  }
  DataFileSet set;
  std::vector<std::string> messages;
  set.MakeFileList(dir, "", [&](const std::string& m) { messages.push_back(m); });
  // The only message: a UTF-8 file whose characters cannot be shown.
  for (const std::string& m : messages) QV_FUZZ_CHECK(m.find("is UTF-8 text with characters") != std::string::npos);
  QV_FUZZ_CHECK(set.Count() == static_cast<int>(std::min<size_t>(5, parts.size() - 2)));
  const std::vector<std::string> sources = set.SourceList();
  for (const std::string& source : sources) QV_FUZZ_CHECK(source.size() < 300);

  // The search, arranged, on the first page.
  SearchOptions o;
  o.search_text = parts[0];
  o.father = boxes & 1;
  o.mother = boxes & 2;
  o.children = boxes & 4;
  o.witness = boxes & 8;
  o.fuzzy_father = boxes & 16;
  o.marriages = boxes & 32;
  o.text_box = boxes & 64;
  o.fuzzy_text = boxes & 128;
  o.show_source_codes = more & 1;
  o.before_1700 = more & 2;
  o.from_1700 = more & 4;
  o.fuzzy_mother = more & 64;
  o.fuzzy_witness = more & 128;
  o.ticked.assign(static_cast<size_t>(set.Count()), true);
  const int cancel_after = (more >> 4) & 3;
  int calls = 0;
  auto progress = [&] { return cancel_after == 0 || ++calls < cancel_after; };
  SearchResult result = RunSearch(set, o, [&](const SearchProgress&) { return progress(); });
  if (!result.cancelled && !result.terms.term1.empty()) {  // no term: no search
    const SearchResult plain = appcore_test::PlainSearch(set, o);
    QV_FUZZ_CHECK(SameAsPlain(result, plain));
    DataFileSet read;
    QV_FUZZ_CHECK(SameAsPlain(LoadAndSearch(read, dir, nullptr, o, nullptr), plain));
  }
  const std::vector<std::string> hits = result.baptism_hits;
  ArrangeCallbacks callbacks;
  callbacks.progress = [&](int64_t) { return progress(); };
  const ArrangeOutcome arranged = Arrange(result.baptism_hits, result.key_length, callbacks);
  if (!arranged.cancelled) QV_FUZZ_CHECK(NonEmpty(arranged.lines) == NonEmpty(hits));
  const std::vector<std::string> page = FirstPageLines(result, arranged, o.show_source_codes);

  // The sort commands.
  Pacer unpaced(nullptr);
  const SortedPage husband = SortPageByName("x_marr.txt", page, SortSide::kHusband, &unpaced);
  const SortedPage all = SortPageByName("x_marr.txt", page, SortSide::kAll);
  QV_FUZZ_CHECK(all.lines.size() == 2 * husband.lines.size());
  QV_FUZZ_CHECK(SortPageByName("x.txt", page, SortSide::kWife).error == kImproperFileType);
  const std::vector<std::string> grouped = SortGroupsByDate(page, nullptr);
  QV_FUZZ_CHECK(NonBlank(grouped) == NonBlank(page));  // only blank lines go

  // "Reset file list" settles after one run.
  const std::vector<std::string> reset = ResetFileList(page, sources);
  QV_FUZZ_CHECK(ResetFileList(reset, sources) == reset);

  // "Edit original line" on every page line finds a file of the set.
  const std::vector<std::string> paths = set.Paths();
  for (size_t i = 0; i < page.size() && i < 64; ++i) {
    const OriginalLineLookup lookup = FindOriginalLine(page[i], paths);
    if (!lookup.ok) continue;
    QV_FUZZ_CHECK(lookup.where.slot >= 0 && lookup.where.slot < set.Count());
    const DataFile& file = *set.File(lookup.where.slot).data;
    std::vector<std::string> lines;
    for (int n = 0; n < file.LineCount(); ++n) lines.emplace_back(file.Line(n));
    const RecordPlace place = FindRecordLine(lines, lookup.where.search_text, static_cast<int>(i % 40) - 5);
    QV_FUZZ_CHECK(place.line < static_cast<int>(lines.size()));
    if (place.line >= 0)
      QV_FUZZ_CHECK(place.column >= 0 && place.column <= static_cast<int>(lines[static_cast<size_t>(place.line)].size()));
  }

  // "Highlight words": every word typed is a keyword, repeats dropped.
  const std::vector<std::string> words = HighlightWordsFor(parts[1], more & 8, page, result.key_length);
  for (const std::string& typed : EditWords(TrimLine(parts[1])))
    QV_FUZZ_CHECK(std::count(words.begin(), words.end(), typed) == 1);
}

}  // namespace appcore::fuzz
