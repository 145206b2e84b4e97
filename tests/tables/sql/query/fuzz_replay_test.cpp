// Replays the query data fuzz corpus and mutations of it through the fuzz
// target's body.
#include <gtest/gtest.h>

#define QV_FUZZ_CHECK_FAILED(text) ADD_FAILURE() << "fuzz check failed: " << (text)
#include "fuzz/sql/query_data_fuzz.h"

#include "support/fuzz_replay.h"

namespace korvex::testing {
namespace {

TEST(QueryDataFuzzReplay, StreamsAndMarkers) {
  qvtest::ReplayFuzzBody("fuzz/sql/corpus/query_data", korvex::fuzz::QueryData, 20000);
}

}  // namespace
}  // namespace korvex::testing
