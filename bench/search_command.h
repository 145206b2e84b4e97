// The search as a command, measured by bench_search as a whole process:
// `bench_search_command --search DIR NAME [--fuzzy] [--text] [--page]
// [--times] [--apart]` loads the data files of DIR, searches NAME in every
// role (exactly, or with every fuzzy box ticked; with --text, in the whole
// rest of every line), optionally arranges the baptism hits and fills the
// first page, and prints the counts. It searches on as many threads as it
// has cores to run on. It is a program of its own so that its process maps
// only the code the search runs.
#pragma once

#include <string>
#include <vector>

#include "app/core/search_options.h"

namespace bench {

// Every role ticked, exactly or with every fuzzy box; with text, the whole
// rest of every line.
appcore::SearchOptions AllRoles(const std::string& name, int files, bool fuzzy, bool text = false);
// The processors this thread may run on.
std::vector<int> AllowedCores();
// argv as above (argv[1] is "--search"); prints "baptisms N", "others N",
// "hits N", "page N", "path P" (the vector path its scans ran: "avx512",
// "avx2" or "sse2") and ends the process.
int SearchCommand(int argc, char** argv);

}  // namespace bench
