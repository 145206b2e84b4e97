// Replays the sound fuzz corpus and mutations through the fuzz bodies.
#include <gtest/gtest.h>

#define QV_FUZZ_CHECK_FAILED(text) ADD_FAILURE() << "fuzz check failed: " << (text)
#include "fuzz/sound/sound_fuzz.h"
#include "support/fuzz_replay.h"

namespace {

TEST(SoundFuzzReplay, WaveHeader) { qvtest::ReplayFuzzBody("fuzz/sound/corpus/wave", snd::fuzz::WaveHeader, 30000); }
TEST(SoundFuzzReplay, WaveDataStream) {
  qvtest::ReplayFuzzBody("fuzz/sound/corpus/wave_data", snd::fuzz::WaveDataStream, 30000);
}

}  // namespace
