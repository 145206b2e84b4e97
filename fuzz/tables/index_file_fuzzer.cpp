// libFuzzer entry for the table engine's index file.
#include "fuzz/tables/index_file_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  korvex::fuzz::IndexFiles(data, size);
  return 0;
}
