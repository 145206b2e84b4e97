#include "bench/search_command.h"

#include <sched.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/core/arrange.h"
#include "app/core/data_file_set.h"
#include "app/core/first_page.h"
#include "app/core/search.h"
#include "app/core/simd_path.h"
#include "bench/bench_util.h"
#include "platform/runtime/os_memory.h"

namespace bench {

appcore::SearchOptions AllRoles(const std::string& name, int files, bool fuzzy, bool text) {
  appcore::SearchOptions o;
  o.search_text = name;
  o.father = o.mother = o.children = o.witness = true;
  o.fuzzy_father = o.fuzzy_mother = o.fuzzy_witness = o.fuzzy_text = fuzzy;
  o.text_box = text;
  o.ticked.assign(static_cast<size_t>(files), true);
  return o;
}

std::vector<int> AllowedCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::vector<int> cores;
  if (::sched_getaffinity(0, sizeof set, &set) == 0)
    for (int c = 0; c < CPU_SETSIZE; ++c)
      if (CPU_ISSET(c, &set)) cores.push_back(c);
  return cores;
}

int SearchCommand(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: bench_search_command --search DIR NAME [--fuzzy] [--text] [--page] [--times] [--apart]\n");
    return 2;
  }
  bool fuzzy = false, text = false, page = false, times = false, apart = false;
  for (int i = 4; i < argc; ++i) {
    if (std::strcmp(argv[i], "--fuzzy") == 0) fuzzy = true;
    else if (std::strcmp(argv[i], "--text") == 0) text = true;
    else if (std::strcmp(argv[i], "--page") == 0) page = true;
    else if (std::strcmp(argv[i], "--times") == 0) times = true;
    else if (std::strcmp(argv[i], "--apart") == 0) apart = true;
    else {
      std::fprintf(stderr, "bench_search_command: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  const auto start = Clock::now();
  rtl::os::GrowHeapsInLargeSteps();
  // Each file is searched as soon as it is read, on the thread that read
  // it; with --apart, every file is read before the search starts.
  appcore::DataFileSet set;
  const appcore::MessageFn report = [](const std::string& m) { std::fprintf(stderr, "%s\n", m.c_str()); };
  appcore::SearchResult result;
  // As many search threads as cores to run on, as rg takes.
  const int threads = std::max<int>(1, static_cast<int>(AllowedCores().size()));
  if (apart) {
    set.MakeFileList(argv[2], "", report);
    appcore::SearchOptions options = AllRoles(argv[3], set.Count(), fuzzy, text);
    options.threads = threads;
    result = appcore::RunSearch(set, options, nullptr);
  } else {
    appcore::SearchOptions options = AllRoles(argv[3], 0, fuzzy, text);
    options.threads = threads;
    result = appcore::LoadAndSearch(set, argv[2], report, options, nullptr);
  }
  const auto searched = Clock::now();
  const size_t baptisms = result.baptism_hits.size(), others = result.marriage_hits.size();
  size_t page_lines = 0;
  if (page) {
    appcore::ArrangeOutcome arranged = appcore::Arrange(std::move(result.baptism_hits), result.key_length, {});
    page_lines = appcore::TakeFirstPageLines(result, arranged, true).size();
  }
  std::printf("baptisms %zu\nothers %zu\nhits %lld\npage %zu\npath %s\n", baptisms, others,
              static_cast<long long>(result.hit_count), page_lines, appcore::SimdPathName(appcore::ActiveSimdPath()));
  // The phases, for a look at where the time goes (--times).
  if (times)
    std::fprintf(stderr, "load and search %.1f ms, rest %.1f ms; files and indexes hold %.1f MB\n",
                 Seconds(searched - start) * 1e3,
                 Seconds(Clock::now() - searched) * 1e3, set.MemoryUse() / 1e6);
  // As command-line tools do, the command leaves its memory and mapped files
  // to the system at exit rather than freeing them one by one.
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(0);
}

}  // namespace bench
