// libFuzzer entry for the text utility library's Pattern fuzz body.
#include <cstddef>
#include <cstdint>

#include "fuzz/textutil/textutil_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  textutil::fuzz::Pattern(data, size);
  return 0;
}
