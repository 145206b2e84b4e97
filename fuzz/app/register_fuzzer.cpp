// libFuzzer entry for the register core's fuzz body.
#include <cstddef>
#include <cstdint>

#include "fuzz/app/register_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  appcore::fuzz::RegisterCore(data, size);
  return 0;
}
