// Body of the in-memory image fuzz target: the input is given to a fresh
// in-memory table as its image, in uneven pieces. EndBufferSave refuses it
// with an engine error or loads it; a loaded table is then read record by
// record, its BLOB header checked, and imaged again. Every failure must be
// an engine error: no crash, no over-read, nothing else thrown.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tables/engine/errors/engine_error.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/support.h"

namespace korvex::fuzz {

// The table every image is loaded into: a number, a string and a BLOB.
inline std::vector<TFieldDefinition> ImageTableFields() {
  std::vector<TFieldDefinition> fields(3);
  const struct {
    const char* name;
    std::uint8_t type, size, sub;
  } columns[] = {{"N", dtInteger, 0, 0}, {"S", dtString, 12, 0}, {"B", dtBlob, 0, 1}};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    fields[i].Name = columns[i].name;
    fields[i].DataType = columns[i].type;
    fields[i].Size = columns[i].size;
    fields[i].SubType = columns[i].sub;
    fields[i].FieldNumber = static_cast<std::uint16_t>(i + 1);
    fields[i].UpdatePhysicalSize();
  }
  AssignFieldOffsets(fields);
  return fields;
}

inline void TableImage(const std::uint8_t* data, std::size_t size) {
  bool started = !SupportFunctionsInitialized();
  if (started) InitializeSupportFunctions();
  {
    TDataSession session;
    TDataDirectory* memory = session.OpenDataDirectory("MEMORY", "");
    TDataTable* table = nullptr;
    memory->CreateDataTable("fuzz", {}, ImageTableFields(), true, true, table);
    try {
      table->BeginBufferSave();
      std::size_t piece = size % 97 + 1;
      for (std::size_t at = 0; at < size; at += piece)
        table->SaveToBuffer(data + at, static_cast<std::uint32_t>(at),
                            static_cast<std::uint32_t>(std::min(piece, size - at)));
      table->EndBufferSave();
      std::uint32_t records = std::min<std::uint32_t>(table->DataFile().GetPhysicalRecordsUsed(), 64);
      for (std::uint32_t n = 1; n <= records; ++n) {
        TRecord* record = nullptr;
        if (table->DataFile().GetRecord(nullptr, n, false, false, 1, record)) table->DataFile().PutRecord(record);
      }
      table->BlobFile().CheckHeader();
      table->BeginBufferLoad();
      std::uint8_t tail[16];
      table->LoadFromBuffer(tail, table->GetBufferSize() - 8, 16);
      table->EndBufferLoad();
    } catch (const EKORVEXEngineError&) {
    }
    memory->CloseDataTable(table, true);
  }
  if (started) ExitSupportFunctions();
}

}  // namespace korvex::fuzz
