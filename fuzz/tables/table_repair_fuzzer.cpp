// libFuzzer entry for the verification and repair of whole tables.
#include "fuzz/tables/table_repair_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  korvex::fuzz::TableRepair(data, size);
  return 0;
}
