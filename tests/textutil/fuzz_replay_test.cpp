// Replays the committed fuzz corpus and mutated and random inputs through
// the fuzz bodies, so the normal build checks what the fuzz build does.
#include <gtest/gtest.h>

#define QV_FUZZ_CHECK_FAILED(text) ADD_FAILURE() << "fuzz check failed: " << (text)
#include "fuzz/textutil/textutil_fuzz.h"

#include <string>

#include "support/fuzz_replay.h"
#include "tests/textutil/textutil_fixture.h"

namespace textutil {
namespace {

void Replay(const std::string& name, qvtest::Body body, int rounds) {
  qvtest::ReplayFuzzBody("fuzz/textutil/corpus/" + name, std::move(body), rounds);
}

using FuzzReplayTest = TextutilTest;

TEST_F(FuzzReplayTest, Decoders) { Replay("decoders", fuzz::Decoders, 20000); }
TEST_F(FuzzReplayTest, RunLength) { Replay("rle", fuzz::RunLength, 30000); }
TEST_F(FuzzReplayTest, Splay) { Replay("sqz", fuzz::Splay, 10000); }
TEST_F(FuzzReplayTest, BytePair) { Replay("bpe", fuzz::BytePair, 20000); }
TEST_F(FuzzReplayTest, Calculator) { Replay("calc", fuzz::Calculator, 50000); }
TEST_F(FuzzReplayTest, Pattern) { Replay("pattern", fuzz::Pattern, 50000); }

}  // namespace
}  // namespace textutil
