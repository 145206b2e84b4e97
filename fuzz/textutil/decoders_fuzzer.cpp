// libFuzzer entry for the text utility library's Decoders fuzz body.
#include <cstddef>
#include <cstdint>

#include "fuzz/textutil/textutil_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  textutil::fuzz::Decoders(data, size);
  return 0;
}
