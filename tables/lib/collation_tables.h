// The frozen collation tables compiled into the program, one per language
// and sort other than language 0. Each is generated once by a tool,
// reviewed and committed as source, and carries a version number.
#pragma once

#include <span>

#include "tables/lib/collation.h"

namespace korvex {

std::span<const TCollationTable* const> CompiledCollationTables();

}  // namespace korvex
