// Records appended in batches (TDataCursor::AppendRecords) against the same
// records appended one by one: an in-memory exclusive table without indexes
// takes a batch past the record cache in one write, and its files must come
// out as the single appends leave them (records byte for byte, plain and
// enciphered; tools/tablecheck.py's dump, which checks the system index
// against the records), and a batch that fails anywhere (an injected fault
// at every site it reaches, a record that fails its field checks) leaves the
// table as it was and the cursor able to append.
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/errors/errors.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/cursor_test_support.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The i-th row: N = i (NULL every 11th row unless `whole`), S a name (NULL
// every 7th).
void FillRow(TDataCursor& c, std::int32_t i, Bytes& row, bool whole) {
  row.assign(c.GetRecordSize(), 0);
  const std::string name = "Name" + std::to_string(i % 97);
  c.PutField(1, row.data(), i % 11 == 0 && !whole ? nullptr : reinterpret_cast<const std::uint8_t*>(&i));
  c.PutField(2, row.data(), i % 7 == 0 ? nullptr : reinterpret_cast<const std::uint8_t*>(name.c_str()));
}

Bytes Rows(TDataCursor& c, std::int32_t first, std::int32_t count, bool whole = false) {
  Bytes rows, row;
  for (std::int32_t i = first; i < first + count; ++i) {
    FillRow(c, i, row, whole);
    rows.insert(rows.end(), row.begin(), row.end());
  }
  return rows;
}

// The table's files as its memory image holds them, written to `folder`;
// the .DAT's path.
std::string WriteImage(TDataCursor& c, const qvtest::TempDir& folder, const std::string& name) {
  c.BeginBufferLoad();
  std::string image(c.GetBufferSize(), '\0');
  c.LoadFromBuffer(image.data(), 0, static_cast<std::uint32_t>(image.size()));
  c.EndBufferLoad();
  std::size_t at = 0;
  auto part = [&] {
    std::uint32_t length;
    std::memcpy(&length, image.data() + at, 4);
    std::string bytes = image.substr(at + 4, length);
    at += 4 + length;
    return bytes;
  };
  const std::string dat = folder.File(name + ".DAT");
  std::ofstream(dat, std::ios::binary) << part();
  std::ofstream(folder.File(name + ".IDX"), std::ios::binary) << part();
  return dat;
}

struct Files {
  std::string dump;     // tablecheck's, which must find nothing wrong
  std::string records;  // the .DAT's bytes from the first record on
};

Files Check(TDataCursor& c, const qvtest::TempDir& folder, const std::string& name) {
  const std::string dat = WriteImage(c, folder, name);
  const CheckResult check = RunTableCheck(dat, EngineKeysOption() + " --dump");
  EXPECT_EQ(check.status, 0) << name << "\n" << check.output;
  const std::string bytes = qvtest::ReadFileBytes(dat);
  const std::size_t start = 127 + 768 * std::size_t{c.GetFieldCount()};
  return {check.output, bytes.size() > start ? bytes.substr(start) : std::string()};
}

struct Tables {
  Tables(const std::string& name, bool encrypted, bool required = false) {
    memory = session.OpenDataDirectory("MEMORY", "");
    TTableCreation creation;
    if (encrypted) {
      creation.Settings.Encrypted = true;
      creation.Settings.Password = "batch";
      session.AddPassword("batch");
    }
    creation.Overwrite = true;
    TFieldDefinition n = Field("N", dtInteger);
    n.Required = required ? 1 : 0;
    const std::vector<TFieldDefinition> fields{n, Field("S", dtString, 12)};
    // In-memory tables outlive their session: names of this test's own.
    for (std::unique_ptr<TDataCursor>* cursor : {&batched, &single}) {
      const std::string table = name + (cursor == &batched ? "_b" : "_s");
      CreateWithCursor(memory, fields, creation, table, true);
      *cursor = Cursor(memory, true, table);
      (*cursor)->SetInMemory(true);
      (*cursor)->OpenCursor();
    }
  }
  TDataSession session;
  TDataDirectory* memory = nullptr;
  std::unique_ptr<TDataCursor> batched, single;
};

// Steps: n > 0 a batch of n rows, 0 an empty batch, -1 one AppendRecord,
// -2 the first record deleted. The single twin appends every row alone.
TEST(AppendRecords, BatchesWriteWhatSingleAppendsWrite) {
  struct Case {
    const char* name;
    bool encrypted;
    std::vector<int> steps;
  };
  const Case cases[] = {
      {"one", false, {1}},
      {"several", false, {3, 0, 7, -1, 5}},
      {"deep tree", false, {1500, 2600, 1, 900}},
      {"after a delete", false, {-1, -1, -2, 40, -2, 300}},
      {"encrypted", true, {60, -1, 1200}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const std::string name = std::string("batch_") + (k.encrypted ? "e" : "p") + std::to_string(k.steps.size());
    Tables t(name, k.encrypted);
    std::int32_t next = 1;
    for (int step : k.steps) {
      if (step == -2) {
        for (TDataCursor* c : {t.batched.get(), t.single.get()}) {
          Bytes row(c->GetRecordSize());
          c->SetToBegin();
          ASSERT_EQ(c->GetNextRecord(row.data()), 0);
          c->DeleteRecord(row.data(), false);
        }
        continue;
      }
      const std::int32_t count = step < 0 ? 1 : step;
      Bytes rows = Rows(*t.batched, next, count);
      if (step < 0) {
        t.batched->AppendRecord(rows.data(), false);
      } else {
        FaultAt probe;
        t.batched->AppendRecords(rows.data(), static_cast<std::uint32_t>(count));
        // One write, not one per record.
        EXPECT_LT(probe.reached, 40) << step;
      }
      const std::size_t size = t.single->GetRecordSize();
      for (std::int32_t i = 0; i < count; ++i) t.single->AppendRecord(rows.data() + i * size, false);
      next += count;
      EXPECT_EQ(t.batched->GetRecordCount(), t.single->GetRecordCount());
      if (count > 0) {
        // The cursor stands on the last record appended.
        Bytes here(size);
        ASSERT_EQ(t.batched->GetCurrentRecord(here.data(), false), 0);
        EXPECT_EQ(t.batched->GetPhysicalRecordNumber(), t.single->GetPhysicalRecordNumber());
        EXPECT_EQ(0, std::memcmp(here.data() + 9, rows.data() + (count - 1) * size + 9, size - 9));
      }
    }
    qvtest::TempDir folder;
    const Files batched = Check(*t.batched, folder, "b"), single = Check(*t.single, folder, "s");
    EXPECT_EQ(batched.dump, single.dump);
    EXPECT_EQ(batched.records, single.records);
    EXPECT_NE(batched.dump.find("I 31 " + std::to_string(t.single->GetPhysicalRecordsUsed())), std::string::npos);
  }
}

TEST(AppendRecords, AFailedBatchLeavesTheTableAsItWas) {
  Tables t("batch_fail", false, true);
  TDataCursor& c = *t.batched;
  const std::size_t size = c.GetRecordSize();
  Bytes first = Rows(c, 1, 700);
  // N of row 11 is NULL: a NOT NULL failure; rows 1 to 10 are fine.
  ASSERT_EQ(RaisedNumber([&] { c.AppendRecords(first.data(), 700); }), err::kValueRequired);
  EXPECT_EQ(c.GetRecordCount(), 0u);
  c.AppendRecords(first.data(), 10);
  qvtest::TempDir folder;
  const Files before = Check(c, folder, "before");
  // Enough records to split index pages: a fault at every site the batch
  // reaches, until it goes in whole.
  Bytes rows = Rows(c, 11, 2500, true);
  for (int k = 1;; ++k) {
    int raised;
    {
      FaultAt fault(k);
      raised = RaisedNumber([&] { c.AppendRecords(rows.data(), 2500); });
    }
    if (raised == 0) break;
    SCOPED_TRACE(k);
    ASSERT_LT(k, 40);
    EXPECT_EQ(c.GetRecordCount(), 10u);
    const Files now = Check(c, folder, "after" + std::to_string(k));
    EXPECT_EQ(now.dump, before.dump);
    EXPECT_EQ(now.records, before.records);
  }
  Bytes last = Rows(c, 3000, 3, true);
  c.AppendRecords(last.data(), 3);
  for (const Bytes* part : {&first, &rows, &last}) {
    const std::size_t count = part == &first ? 10 : part->size() / size;
    for (std::size_t i = 0; i < count; ++i) t.single->AppendRecord(const_cast<std::uint8_t*>(part->data()) + i * size, false);
  }
  const Files batched = Check(c, folder, "b"), single = Check(*t.single, folder, "s");
  EXPECT_EQ(batched.dump, single.dump);
  EXPECT_EQ(batched.records, single.records);
}

}  // namespace
}  // namespace korvex::testing
