// Replays the register core's fuzz corpus and mutations of it through the
// fuzz body.
#include <gtest/gtest.h>

#define QV_FUZZ_CHECK_FAILED(text) ADD_FAILURE() << "fuzz check failed: " << (text)
#include "fuzz/app/register_fuzz.h"
#include "support/fuzz_replay.h"

namespace {

TEST(RegisterFuzzReplay, RegisterCore) {
  qvtest::ReplayFuzzBody("fuzz/app/corpus/register", appcore::fuzz::RegisterCore, 600);
}

}  // namespace
