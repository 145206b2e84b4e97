// libFuzzer entry for the table engine's data and BLOB files.
#include "fuzz/tables/table_files_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  korvex::fuzz::TableFiles(data, size);
  return 0;
}
