#include "tables/lib/collation_tables.h"

namespace korvex {

// No language other than 0 has a table yet; generated tables are listed
// here as they are added.
std::span<const TCollationTable* const> CompiledCollationTables() { return {}; }

}  // namespace korvex
