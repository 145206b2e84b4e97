// What a search is asked to do: the search text, the twelve boxes of the
// search panel, whether source codes are shown and which data files are
// ticked in the data-file list.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace appcore {

struct SearchOptions {
  std::string search_text;

  // Roles. In files other than baptism files Father stands for the husband
  // and Mother for the wife.
  bool father = true;         // "Father"
  bool mother = true;         // "Mother"
  bool children = false;      // "Children" (always phonetic)
  bool witness = false;       // "Witness"
  bool fuzzy_father = false;  // "fuzzy" under Father
  bool fuzzy_mother = false;  // "fuzzy" under Mother
  bool fuzzy_witness = false; // "fuzzy" under Witness

  bool marriages = true;      // "Marriages": read files other than baptism files
  bool before_1700 = true;    // "< 1700"
  bool from_1700 = true;      // "1700 >"
  bool text_box = false;      // "Text": match anywhere in the rest of the line
  bool fuzzy_text = false;    // "fuzzy" under Text

  bool show_source_codes = true;  // "Show source codes"

  // One entry per slot of the data-file list; a slot without an entry is
  // not searched.
  std::vector<bool> ticked;

  // Threads that search (0: one per core). The results do not depend on it.
  int threads = 0;
  // A search of files as they are read (LoadAndSearch) makes the baptism
  // hit lines of every file as it finds them when the files it reads hold
  // this many bytes in all, rather than after every file was searched, when
  // a large set's lines are no longer in the cache (and the hit lines of a
  // small set are not held twice until then). (A search of files read
  // before, RunSearch, always makes them as it finds them.) The results do
  // not depend on it.
  std::size_t make_lines_from = std::size_t{32} << 20;
};

// The boxes as the matching reads them, after the Text box has taken over
// the roles.
struct MatchBoxes {
  bool father = false, mother = false, children = false, witness = false;
  bool fuzzy_father = false, fuzzy_mother = false, fuzzy_witness = false;
  bool all_roles = false;  // Father, Mother and Witness all ticked (as the user left them)
  bool exact = false;      // no fuzzy box and no word-prefix form
  bool text_mode = false;
  bool fuzzy_text = false;
};

}  // namespace appcore
