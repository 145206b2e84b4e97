// What a restructure asks of a table, the comparisons that decide how much
// of the table it rewrites, and the restructure itself
// (table_restructure.cpp has its rules).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/base/maintenance_callbacks.h"
#include "tables/engine/files/data_file.h"
#include "tables/engine/files/field_definition.h"
#include "tables/engine/files/index_definition.h"

namespace korvex {

struct TRestructureRequest {
  // Language, sort, user versions, encryption, password, description and
  // BLOB block size (0: 512), as for creation.
  TDataFileSettings Settings;
  // The new fields in order. Each one's FieldNumber names the old field
  // whose values it takes; a number the table lacks starts from the
  // field's default (as does number 0, a new field), and an old field no
  // new one names is dropped.
  std::vector<TFieldDefinition> Fields;
  // Entry 0 the primary index (no key fields: none), then the secondary
  // indexes; key fields by the numbers of `Fields`.
  std::vector<TIndexDefinition> Indexes;
  bool AllowEmptyPrimaryKey = true;
  // The table's last record ID afterwards; -1 keeps it. Never set below
  // the highest record ID the table holds.
  std::int32_t LastAutoIncValue = -1;
  bool NoBackup = false;
};

// False when the two agree on number, type, subtype, size, decimals,
// required flag and character case, and on default, minimum and maximum
// ignoring case (names and descriptions may differ).
bool FieldDefinitionHasChanged(const TFieldDefinition& a, const TFieldDefinition& b);
// False when the two agree on key size, key field count, the descending,
// case and unique flags and compression, and on every key field's number
// with an unchanged definition in `fields` (9985 for a key field the list
// lacks).
bool IndexDefinitionHasChanged(const TIndexDefinition& a, const TIndexDefinition& b,
                               const std::vector<TFieldDefinition>& old_fields,
                               const std::vector<TFieldDefinition>& new_fields);

// Open cursor: the physical fields numbered by position, index key fields
// following.
void RenumberFieldsByPosition(TDataCursor& cursor);

// The restructure of a closed cursor's table (exclusive, not read-only).
class TTableRestructure {
public:
  TTableRestructure(TDataCursor& cursor, const TRestructureRequest& request);
  void Run();

private:
  void NumberNewFields(std::vector<TFieldDefinition>& fields) const;
  // Reports a loss through the data-lost callback until it stops asking;
  // its answer decides whether the work goes on.
  void Lost(TDataLossCause cause, const std::string& context);
  // Only names and descriptions of fields, index definitions and the
  // header change.
  void UpdateDefinitions(const std::vector<TFieldDefinition>& fields, const std::vector<TIndexDefinition>& wanted,
                         std::uint32_t last_id);
  // The index part: changed indexes built anew from the records, records a
  // new unique index refuses reported and (when the work goes on) removed.
  // False when the data-lost callback stopped it: the index file is then
  // as it was.
  bool RebuildIndexesInPlace(const std::vector<TIndexDefinition>& wanted);
  // The index file's definitions made the wanted ones, the pages of those
  // that change freed; answers the positions to fill from the records.
  std::vector<std::uint8_t> RedefineIndexes(const std::vector<TIndexDefinition>& wanted);
  // The rebuild of the whole table; `fields` by the numbers of the old
  // fields whose values they take.
  void Rebuild(const TTableCreation& creation, std::vector<TFieldDefinition>& fields, std::uint32_t last_id);
  // One old record's values into the rebuilt table's record buffer (its
  // record ID too); false when the work stops.
  bool CarryFields(TDataCursor& rebuilt, const std::vector<std::uint8_t>& old_record,
                   std::vector<std::uint8_t>& record, const std::vector<int>& target);
  // A record the rebuilt table refuses is a loss; a failing file ends the
  // work.
  void AppendCarried(TDataCursor& rebuilt, std::vector<std::uint8_t>& record, std::uint32_t& highest);

  TDataCursor& cursor_;
  const TRestructureRequest& request_;
  std::vector<TFieldDefinition> old_fields_;  // the cursor's view when opened
  bool stop_asking_ = false, go_on_ = true;
};

}  // namespace korvex
