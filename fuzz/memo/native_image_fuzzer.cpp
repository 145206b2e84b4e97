// libFuzzer entry for the native image reader (see native_image_fuzz.h).
#include <cstddef>
#include <cstdint>

#include "fuzz/memo/native_image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  memo::fuzz::NativeImage(data, size);
  return 0;
}
