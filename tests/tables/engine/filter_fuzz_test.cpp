// Replays the filter fuzz corpus and mutations of it through the fuzz body.
#include <gtest/gtest.h>

#define QV_FUZZ_CHECK_FAILED(text) ADD_FAILURE() << "fuzz check failed: " << (text)
#include "fuzz/tables/filter_fuzz.h"
#include "support/fuzz_replay.h"

namespace korvex {
namespace {

TEST(FilterFuzz, CorpusAndMutations) { qvtest::ReplayFuzzBody("fuzz/tables/corpus/filter", fuzz::Filters, 1500); }

}  // namespace
}  // namespace korvex
