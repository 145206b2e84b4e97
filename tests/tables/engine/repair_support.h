// The reference table of the verification and repair tests.
#pragma once

#include "tables/engine/table/data_session.h"

namespace korvex::testing {

// Creates "t" in the directory: field 1 string, 2 integer (the unique
// primary key), 3 BLOB, 4 string (the secondary index "ByCode"); 14 records
// with BLOBs of zero to seven blocks of 512 bytes; records 4 and 9 deleted.
// The indexes are defined but have no trees until a repair builds them.
void BuildRepairReference(TDataDirectory* dir);

}  // namespace korvex::testing
