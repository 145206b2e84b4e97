// libFuzzer entry for the byte image of an in-memory table.
#include "fuzz/tables/table_image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  korvex::fuzz::TableImage(data, size);
  return 0;
}
