// libFuzzer entry for the wave header reader.
#include "fuzz/sound/sound_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  snd::fuzz::WaveHeader(data, size);
  return 0;
}
