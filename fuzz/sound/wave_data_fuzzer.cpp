// libFuzzer entry for the wave data component's "Data" stream reader.
#include "fuzz/sound/sound_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  snd::fuzz::WaveDataStream(data, size);
  return 0;
}
