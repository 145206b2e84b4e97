// Whole-table copies of a cursor's table: CopyTable, a new table of the
// live records under another name, and OptimizeTable, the table rewritten
// in an index's order in its own place.
#pragma once

#include <string>
#include <vector>

#include "tables/engine/cursor/data_cursor.h"

namespace korvex {

// Copies the live records (IDs kept, BLOBs by content, hidden fields left
// out) into a new table that replaces any table of that name; the indexes
// too when asked (but those over a left-out field). A closed cursor is
// opened for the copy and closed again.
class TTableCopy {
public:
  TTableCopy(TDataCursor& source, const std::string& new_name, bool copy_indexes);
  void Run();

private:
  // The copy's creation: the source's settings, its fields but the hidden
  // ones (numbered by position), and its indexes when asked.
  TTableCreation Creation(std::vector<TFieldDefinition>& fields);
  void CopyRecords(TDataCursor& copy);

  TDataCursor& source_;
  std::string new_name_;
  bool copy_indexes_;
  // The copy's field position for each of the source's (0: left out).
  std::vector<int> field_map_;
};

// Closed cursor, exclusive, not read-only: the table rewritten in the order
// of the named index (the primary index for ""), deleted records left out,
// record IDs kept; the old files stay as backups unless no_backup
// (in-memory tables keep none).
void OptimizeTable(TDataCursor& cursor, const std::string& index_name, bool no_backup);

}  // namespace korvex
