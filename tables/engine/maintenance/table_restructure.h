// What a restructure asks of a table, and the comparisons that decide how
// much of the table it rewrites.
#pragma once

#include <cstdint>
#include <vector>

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

}  // namespace korvex
