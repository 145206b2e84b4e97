// libFuzzer entry for the table engine's filters.
#include "fuzz/tables/filter_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  korvex::fuzz::Filters(data, size);
  return 0;
}
