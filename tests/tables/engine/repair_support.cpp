// The reference table of the verification and repair tests.
#include "tests/tables/engine/repair_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/files/index_key.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex::testing {

using Bytes = std::vector<std::uint8_t>;

// The reference: string, integer (the primary key), BLOB, string (a
// secondary index); BLOBs of zero to seven blocks; records 4 and 9 deleted;
// index definitions without trees (a repair builds them).
void BuildRepairReference(TDataDirectory* dir) {
  {
    auto c = std::make_unique<TDataCursor>(dir);
    c->SetTableName("t");
    c->SetExclusive(true);
    std::vector<TFieldDefinition> fields{Field("Name", dtString, 20), Field("Num", dtInteger),
                                         Field("Memo", dtBlob, 0, 1), Field("Code", dtString, 10)};
    c->CreateTable({}, fields);
    c->OpenCursor();
    Bytes buffer(c->GetRecordSize());
    const int lengths[] = {0, 30, 494, 495, 1200, 3000, 10, 988, 1500, 2};
    for (std::int32_t i = 1; i <= 14; ++i) {
      c->InitRecord(buffer.data());
      std::string name = "name" + std::to_string(i % 5), code = "c" + std::to_string(i);
      std::int32_t num = i * 10;
      c->PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(name.c_str()));
      c->PutField(2, buffer.data(), reinterpret_cast<std::uint8_t*>(&num));
      c->PutField(4, buffer.data(), reinterpret_cast<const std::uint8_t*>(code.c_str()));
      std::string memo(static_cast<std::size_t>(lengths[i % 10]), static_cast<char>('a' + i));
      if (!memo.empty()) {
        ASSERT_EQ(c->OpenBlob(3, buffer.data(), 2), 0);
        ASSERT_EQ(c->PutBlob(3, buffer.data(), 0, reinterpret_cast<const std::uint8_t*>(memo.data()),
                             static_cast<std::int64_t>(memo.size())), 0);
      }
      c->AppendRecord(buffer.data());
    }
    for (std::uint32_t n : {4u, 9u}) {
      ASSERT_EQ(c->GotoPhysicalRecordNumber(n), 0);
      ASSERT_EQ(c->GetCurrentRecord(buffer.data(), false), 0);
      c->DeleteRecord(buffer.data());
    }
    c->CloseCursor();
  }
  TOpenTableRequest request;
  request.Exclusive = true;
  TDataTable* table = nullptr;
  ASSERT_EQ(dir->OpenDataTable("t", table, request), 0);
  TIndexFile& index = table->IndexFile();
  TIndexDefinition primary, code;
  primary.Unique = 1;
  primary.FieldCount = 1;
  primary.Fields[0] = 2;
  primary.KeySize = static_cast<std::uint16_t>(ComputeKeySize(primary, table->DataFile().Fields()));
  index.AddPrimaryIndex(primary);
  code.Name = "ByCode";
  code.FieldCount = 1;
  code.Fields[0] = 4;
  code.KeySize = static_cast<std::uint16_t>(ComputeKeySize(code, table->DataFile().Fields()));
  index.AddSecondaryIndex(code);
  table->FlushBuffers(false, true, true, true, false);
  ASSERT_EQ(dir->CloseDataTable(table), 0);
}

}  // namespace korvex::testing
