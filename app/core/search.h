// The search: every ticked data file read line by line, each record line
// that passes the kind, period and role filters and matches the terms kept
// as a hit line.
//
// Baptism hits are kept in file and line order (they are arranged later);
// hits from every other kind of file are kept sorted case-blind with equal
// lines dropped, as a sorted string list that ignores duplicates keeps
// them. The counts are those of the status line: records that passed the
// period filter, hits (each matching line once, duplicates included), and
// lines read from line 1 of each file on.
//
// The files are searched on several threads in blocks of lines; the hit
// lists, keywords, legend and counts are merged in file and line order, so
// that they are those of one thread reading every line in turn.
//
// The caller sees progress and may cancel through a callback that is called
// (on the calling thread) about every 15 ms, never once per line; a
// cancelled search stops at the next call and reports what it had read in
// file and line order, up to the first block it had not finished.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/data_file_set.h"
#include "app/core/search_options.h"
#include "app/core/pacer.h"
#include "app/core/search_terms.h"

namespace appcore {

struct SearchProgress {
  int slot = -1;                 // file being read
  std::string_view searching;    // "Searching: " + tagged title of that file
  int64_t lines_read = 0;        // so far, over all files
  int64_t hits = 0;
};

// Return false to cancel.
using ProgressFn = std::function<bool(const SearchProgress& progress)>;


struct SearchResult {
  SearchTerms terms;
  // Tagged titles of the files that gave hits, in file order.
  std::vector<std::string> legend;
  // Hits from files other than baptism files: sorted, duplicates dropped.
  std::vector<std::string> marriage_hits;
  // Baptism hits in file and line order.
  std::vector<std::string> baptism_hits;
  // Words to highlight, in the order found: the terms, then each word that
  // matched by sound.
  std::vector<std::string> keywords;
  // Phonetic keys of the two terms, for the labels beside the search box.
  std::string key1_label, key2_label;

  int64_t record_count = 0;
  int64_t hit_count = 0;
  int64_t line_count = 0;
  int64_t elapsed_seconds = 0;  // whole seconds, as the status line shows them

  bool cancelled = false;
  // The last "Searching: " line; the page shows it alone after a cancel.
  std::string searching_line;
  // Key length for what follows the search (arranging, highlight words):
  // 8 after a finished search, the search's own after a cancel.
  int key_length = 8;
};

// Runs one search over files. The progress callback may be empty.
SearchResult RunSearch(const DataFileSet& files, const SearchOptions& options, const ProgressFn& progress);

// Reads the data files of search_dir into files (as MakeFileList does,
// writing no lists) and searches every one of them, each as soon as it is
// read, on the threads that read it; options.ticked is not read. The result
// is that of MakeFileList followed by RunSearch with every file ticked. A
// file searched whole as it was read gives its places back once searched
// (DataFile::ForgetAnchors): no other thread may look at the set's files
// meanwhile.
SearchResult LoadAndSearch(DataFileSet& files, const std::string& search_dir, const MessageFn& report,
                           const SearchOptions& options, const ProgressFn& progress);

// "Search: " + hits + " / " + records + " / " + lines + " in " + seconds + " secs."
std::string StatusText(const SearchResult& result);

// The text a selection in the current page gives the search box: a
// selection of 3 to 20 characters replaces the typed text.
std::string SearchTextFor(const std::string& typed, const std::string& selected);

}  // namespace appcore
