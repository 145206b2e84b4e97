// What table creation takes besides the fields (TDataCursor::CreateTable).
#pragma once
#include <cstdint>
#include <vector>

#include "tables/engine/files/data_file.h"
#include "tables/engine/files/index_definition.h"

namespace korvex {

// What table creation needs besides the fields.
struct TTableCreation {
  TDataFileSettings Settings;      // BlobBlockSize 0 means 512
  std::uint8_t IndexCount = 0;     // secondary indexes asked for (at least Indexes.size() - 1)
  // Entry 0 the primary index (no key fields: no primary key), then the
  // secondary indexes. Key fields: FieldCount of Fields, or, with
  // FieldCount 0, those before the first 0.
  std::vector<TIndexDefinition> Indexes;
  bool AllowEmptyPrimaryKey = true;
  bool Overwrite = false;
};

}  // namespace korvex
