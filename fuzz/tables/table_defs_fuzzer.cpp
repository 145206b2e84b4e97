// libFuzzer entry for the table component's definition decoders.
#include "fuzz/tables/table_defs_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  korvex::fuzz::TableDefinitions(data, size);
  return 0;
}
