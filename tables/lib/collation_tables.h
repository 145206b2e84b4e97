// The frozen collation tables compiled into the program, one per language
// and sort other than language 0. They are generated once from ICU's
// collation data by tools/collation_gen, reviewed and committed as source
// (collation_tables.cpp), and carry kCollationVersion.
//
// Changing any weight or case map means a new kCollationVersion: indexes
// of tables with a language other than 0 are then ordered by old weights
// and must be rebuilt (repaired). A test pins a hash of every table to the
// version, so no table can change unnoticed.
#pragma once

#include <cstdint>
#include <span>

#include "tables/lib/collation.h"

namespace korvex {

inline constexpr std::uint32_t kCollationVersion = 2;

// Every compiled table, ordered by language, then sort.
std::span<const TCollationTable> CompiledCollationTables();

}  // namespace korvex
