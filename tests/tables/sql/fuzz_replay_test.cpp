// Replays the SQL fuzz corpus and mutations of it through the fuzz target's
// body, so the normal build checks what the fuzz build does.
#include <gtest/gtest.h>

#define QV_FUZZ_CHECK_FAILED(text) ADD_FAILURE() << "fuzz check failed: " << (text)
#include "fuzz/sql/sql_fuzz.h"

#include "support/fuzz_replay.h"

namespace korvex::testing {
namespace {

TEST(SqlFuzzReplay, Statements) { qvtest::ReplayFuzzBody("fuzz/sql/corpus/fuzz_sql", korvex::fuzz::Statements, 20000); }

}  // namespace
}  // namespace korvex::testing
