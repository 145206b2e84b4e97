// bench_search_command: the search as a command (see search_command.h).
#include <cstdio>
#include <cstring>

#include "bench/search_command.h"

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--search") != 0) {
    std::fprintf(stderr, "usage: bench_search_command --search DIR NAME [--fuzzy] [--text] [--page] [--times] [--apart]\n");
    return 2;
  }
  return bench::SearchCommand(argc, argv);
}
