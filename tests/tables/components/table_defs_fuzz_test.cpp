// Replays the definition-decoder fuzz corpus and mutations of it through
// the fuzz body.
#include <gtest/gtest.h>

#include "fuzz/tables/table_defs_fuzz.h"
#include "support/fuzz_replay.h"

namespace korvex {
namespace {

TEST(TableDefinitionsFuzz, CorpusAndMutations) {
  qvtest::ReplayFuzzBody("fuzz/tables/corpus/table_defs", fuzz::TableDefinitions, 3000);
}

}  // namespace
}  // namespace korvex
