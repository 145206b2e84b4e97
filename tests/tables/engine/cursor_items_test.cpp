// Data cursor: the small calls of the cursor as one case table (state, call,
// answer or error), then writes whose faults lost data: a deleted record's
// BLOB references, a delete through a field view, a record lock taken
// before a transaction, and a restructure over blank values.
#include <array>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tables/engine/base/languages.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/maintenance/table_restructure.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/cursor_test_support.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::uint8_t* U(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.c_str()); }

// t(N integer, S upper-case string 20, M memo), BLOB blocks of 256 bytes, a
// unique index "ByN" on N; records N = 1..5 with memo "memo<N>" on the odd
// ones; record 3 deleted.
struct Fixture {
  qvtest::TempDir tmp;
  Env env{tmp.Path()};
  std::unique_ptr<TDataCursor> c;
  Bytes buffer;

  explicit Fixture(int records = 5) {
    TFieldDefinition s = Field("S", dtString, 20);
    s.CharCase = 2;
    std::vector<TFieldDefinition> fields{Field("N", dtInteger), s, Field("M", dtBlob, 0, fstMemo)};
    TTableCreation creation;
    creation.Settings.BlobBlockSize = 256;
    creation.Settings.UserMajorVersion = 3;
    creation.Settings.UserMinorVersion = 7;
    creation.Settings.Description = "Family";
    TIndexDefinition primary, by_n;
    by_n.Name = "ByN";
    by_n.Unique = 1;
    by_n.Fields[0] = 1;
    creation.Indexes = {primary, by_n};
    creation.IndexCount = 1;
    CreateWithCursor(env.dir, fields, creation);
    c = Cursor(env.dir, false);
    c->OpenCursor();
    buffer.assign(c->GetRecordSize(), 0);
    for (int n = 1; n <= records; ++n) {
      c->ClearRecord(buffer.data());
      c->PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(&n));
      c->PutField(2, buffer.data(), U("name" + std::to_string(n)));
      if (n % 2) {
        const std::string memo = "memo" + std::to_string(n);
        c->OpenBlob(3, buffer.data(), 2);
        c->PutBlob(3, buffer.data(), 0, U(memo), static_cast<std::int64_t>(memo.size()));
      }
      c->AppendRecord(buffer.data());
    }
    if (records >= 3) {
      c->GotoPhysicalRecordNumber(3);
      c->GetCurrentRecord(buffer.data(), false);
      c->GetCurrentRecord(buffer.data(), true);
      c->DeleteRecord(buffer.data());
    }
    c->SetToBegin();
  }
  // The key of the current index for N = n.
  Bytes KeyOf(int n) {
    Bytes record(c->GetRecordSize()), key(c->GetKeySize());
    c->PutField(1, record.data(), reinterpret_cast<const std::uint8_t*>(&n));
    c->GetKeyValues(record.data(), key.data());
    return key;
  }
  std::string Text(int field, const Bytes& b) {
    Bytes data(64, 0);
    return c->GetField(field, b.data(), data.data()) ? "<blank>" : reinterpret_cast<const char*>(data.data());
  }
  int Number(const Bytes& b) {
    int n = 0;
    c->GetField(1, b.data(), reinterpret_cast<std::uint8_t*>(&n));
    return n;
  }
  std::string Where() {
    if (c->AtBegin() && c->AtEnd()) return "none";
    if (c->AtBegin()) return "bof";
    if (c->AtEnd()) return "eof";
    return "at " + std::to_string(c->GetPhysicalRecordNumber());
  }
};

std::string B(bool v) { return v ? "true" : "false"; }

TEST(CursorItems, EachCallAnswersAsDocumented) {
  struct Case {
    const char* state;
    const char* call;
    std::function<std::string(Fixture&)> run;
    std::string expected;
  };
  const std::vector<Case> cases = {
      // ---- header values, open and closed ----
      {"closed", "GetBlobBlockSize / GetBlobBlockBufferSize",
       [](Fixture& f) {
         f.c->CloseCursor();
         return std::to_string(f.c->GetBlobBlockSize()) + "/" + std::to_string(f.c->GetBlobBlockBufferSize());
       },
       "256/238"},
      {"open", "GetBlobBlockSize / GetBlobBlockBufferSize",
       [](Fixture& f) {
         return std::to_string(f.c->GetBlobBlockSize()) + "/" + std::to_string(f.c->GetBlobBlockBufferSize());
       },
       "256/238"},
      {"closed", "GetUserMajorVersion / GetUserMinorVersion / GetVersionNum / GetLastRecordID",
       [](Fixture& f) {
         f.c->CloseCursor();
         return std::to_string(f.c->GetUserMajorVersion()) + "/" + std::to_string(f.c->GetUserMinorVersion()) + "/" +
                f.c->GetVersionNum() + "/" + std::to_string(f.c->GetLastRecordID());
       },
       "3/7/2.00/5"},
      {"closed", "GetDescription / GetEncrypted / GetPassword / GetLanguageID",
       [](Fixture& f) {
         f.c->CloseCursor();
         return f.c->GetDescription() + "/" + B(f.c->GetEncrypted()) + "/[" + f.c->GetPassword() + "]/" +
                std::to_string(f.c->GetLanguageID());
       },
       "Family/false/[]/0"},
      {"closed, encrypted table", "GetDescription / GetEncrypted / GetPassword",
       [](Fixture& f) {
         f.c->CloseCursor();
         TDataCursor e(f.env.dir);
         e.SetTableName("e");
         e.SetExclusive(true);
         TTableCreation creation;
         creation.Settings.Encrypted = true;
         creation.Settings.Password = "secret";
         creation.Settings.Description = "Kept";
         std::vector<TFieldDefinition> fields{Field("N", dtInteger)};
         e.CreateTable(creation, fields);
         f.env.session.AddPassword("secret");
         return e.GetDescription() + "/" + B(e.GetEncrypted()) + "/" + e.GetPassword();
       },
       "Kept/true/secret"},
      {"closed, no such table", "GetBlobBlockSize",
       [](Fixture& f) {
         f.c->CloseCursor();
         f.c->SetTableName("missing");
         return std::to_string(RaisedNumber([&] { f.c->GetBlobBlockSize(); }) != 0);
       },
       "1"},
      // ---- life cycle ----
      {"open", "SetIsOpen(false), SetIsOpen(false), SetIsOpen(true)",
       [](Fixture& f) {
         f.c->SetIsOpen(false);
         std::string a = B(f.c->IsOpen());
         f.c->SetIsOpen(false);
         f.c->SetIsOpen(true);
         return a + "/" + B(f.c->IsOpen()) + "/" + f.Where();
       },
       "false/true/bof"},
      {"closed, IsSourceTable", "OpenCursor: index position",
       [](Fixture& f) {
         f.c->CloseCursor();
         f.c->SetIsSourceTable(true);
         f.c->OpenCursor();
         return std::to_string(f.c->GetIndexPos());
       },
       "255"},
      {"closed, repair mode", "OpenCursor: no position",
       [](Fixture& f) {
         f.c->CloseCursor();
         f.c->SetRepairMode(true);
         f.c->OpenCursor();
         return f.Where();
       },
       "none"},
      {"open, no transaction", "TransactionIsLocked / FreeBuffers / FlushBuffers",
       [](Fixture& f) {
         f.c->FreeBuffers(true, false);
         f.c->FlushBuffers(false, true, true, true);
         return B(f.c->TransactionIsLocked()) + "/" + std::to_string(f.c->GetRecordCount()) + "/" +
                B(f.c->PerformChangeDetection());
       },
       "false/4/false"},
      // ---- navigation ----
      {"physical order, record 3 deleted", "GotoPhysicalRecordNumber(3)",
       [](Fixture& f) {
         f.c->SetIndexPos(kPhysicalOrder);
         const TEngineErrorCode status = f.c->GotoPhysicalRecordNumber(3);
         return std::to_string(status) + " " + f.Where();
       },
       "8710 at 4"},
      {"physical order, records 3..5 deleted", "GotoPhysicalRecordNumber(4)",
       [](Fixture& f) {
         f.c->SetIndexPos(kPhysicalOrder);
         for (std::uint32_t n : {4u, 5u}) {
           f.c->GotoPhysicalRecordNumber(n);
           f.c->GetCurrentRecord(f.buffer.data(), false);
           f.c->GetCurrentRecord(f.buffer.data(), true);
           f.c->DeleteRecord(f.buffer.data());
         }
         const TEngineErrorCode status = f.c->GotoPhysicalRecordNumber(4);
         return std::to_string(status) + " " + f.Where();
       },
       "8710 at 2"},
      {"physical order, empty table", "SetToBegin, GetCurrentRecord, GetNextRecord",
       [](Fixture& f) {
         Fixture empty(0);
         empty.c->SetIndexPos(kPhysicalOrder);
         empty.c->SetToBegin();
         const std::string where = empty.Where();
         const TEngineErrorCode current = empty.c->GetCurrentRecord(empty.buffer.data(), false);
         return where + " " + std::to_string(current) + " " + std::to_string(empty.c->GetNextRecord(empty.buffer.data()));
       },
       "none 8709 8706"},
      {"ByN, on N = 2", "GetKeyEntryPtr",
       [](Fixture& f) {
         f.c->SetIndexName("ByN");
         f.c->GetNextRecord(f.buffer.data());
         f.c->GetNextRecord(f.buffer.data());
         const Bytes key = f.KeyOf(2);
         return B(std::equal(key.begin(), key.end(), f.c->GetKeyEntryPtr()));
       },
       "true"},
      {"4 live records", "Get/Set/Inc/DecActualRecordCount",
       [](Fixture& f) {
         std::string a = std::to_string(f.c->GetActualRecordCount());
         f.c->SetActualRecordCount(10);
         f.c->IncActualRecordCount();
         f.c->IncActualRecordCount();
         f.c->DecActualRecordCount();
         std::string b = std::to_string(f.c->GetActualRecordCount());
         f.c->SetActualRecordCount(4);
         return a + "/" + b;
       },
       "4/11"},
      {"physical order, on record 1 (3 deleted)", "GetNumReadAheadRecords(10, 1) / (10, 0) / (1, 1)",
       [](Fixture& f) {
         f.c->SetIndexPos(kPhysicalOrder);
         f.c->GotoPhysicalRecordNumber(1);
         return std::to_string(f.c->GetNumReadAheadRecords(10, 1)) + "/" +
                std::to_string(f.c->GetNumReadAheadRecords(10, 0)) + "/" +
                std::to_string(f.c->GetNumReadAheadRecords(1, 1));
       },
       "2/1/1"},
      {"blocks of 256", "GetNumReadAheadBlocks(0 / 238 / 239 / 1000)",
       [](Fixture& f) {
         return std::to_string(f.c->GetNumReadAheadBlocks(0)) + "/" + std::to_string(f.c->GetNumReadAheadBlocks(238)) +
                "/" + std::to_string(f.c->GetNumReadAheadBlocks(239)) + "/" +
                std::to_string(f.c->GetNumReadAheadBlocks(1000));
       },
       "0/1/2/5"},
      {"ByN", "FindExactIndexKey(N=4) / (N=3, deleted)",
       [](Fixture& f) {
         f.c->SetIndexName("ByN");
         const Bytes four = f.KeyOf(4), three = f.KeyOf(3);
         std::string a = B(f.c->FindExactIndexKey(four.data(), f.c->GetKeySize()));
         a += " " + f.Where();
         a += "/" + B(f.c->FindExactIndexKey(three.data(), f.c->GetKeySize()));
         return a + " " + f.Where();
       },
       "true at 4/false at 4"},
      {"ByN", "SearchIndexKeys(N=2 / N=9) / CheckForKeyViolation(N=2)",
       [](Fixture& f) {
         f.c->SetIndexName("ByN");
         const Bytes two = f.KeyOf(2), nine = f.KeyOf(9);
         return B(f.c->SearchIndexKeys(two.data())) + "/" + B(f.c->SearchIndexKeys(nine.data())) + "/" +
                B(f.c->CheckForKeyViolation(two.data()));
       },
       "true/false/true"},
      {"ByN", "SetBeginIndexRange(N=2), SetEndIndexRange(N=4), ActivateRange",
       [](Fixture& f) {
         f.c->SetIndexName("ByN");
         const Bytes two = f.KeyOf(2), four = f.KeyOf(4);
         f.c->SetBeginIndexRange(two.data());
         f.c->SetEndIndexRange(four.data());
         const std::string before = B(f.c->RangeActive());
         f.c->ActivateRange();
         f.c->SetToBegin();
         std::string seen;
         while (f.c->GetNextRecord(f.buffer.data()) == 0) seen += std::to_string(f.Number(f.buffer));
         return before + "/" + B(f.c->RangeActive()) + "/" + std::to_string(f.c->GetRecordCount()) + "/" + seen;
       },
       "false/true/2/24"},
      // ---- records and fields ----
      {"on record 1", "CloneCurrentRecord",
       [](Fixture& f) {
         f.c->GetNextRecord(f.buffer.data());
         Bytes copy(f.c->GetRecordSize(), 0xAA);
         const TEngineErrorCode status = f.c->CloneCurrentRecord(copy.data());
         const bool open = f.c->ValidBlobHandle(3, copy.data());
         const std::vector<std::uint8_t> memo = f.c->ReadBlobContent(3, copy.data());
         const std::string answer = std::to_string(status) + " " + std::to_string(f.Number(copy)) + " " +
                                    f.Text(2, copy) + " " + std::string(memo.begin(), memo.end()) + " " + B(open) +
                                    " id " + std::to_string(TDataCursor::GetRecordID(copy.data()));
         f.c->FreeAllBlobs(true);
         return answer;
       },
       "0 1 NAME1 memo1 true id 0"},
      {"before the first record", "CloneCurrentRecord",
       [](Fixture& f) {
         f.c->SetToBegin();
         return std::to_string(f.c->CloneCurrentRecord(f.buffer.data()));
       },
       "8709"},
      {"on record 2", "GetCurrentRecordBuffer",
       [](Fixture& f) {
         f.c->GotoPhysicalRecordNumber(2);
         f.c->GetCurrentRecord(f.buffer.data(), false);
         return B(std::equal(f.buffer.begin(), f.buffer.end(), f.c->GetCurrentRecordBuffer()));
       },
       "true"},
      {"open", "GetFieldDefinitionByNumber(2) / ByName(\"m\") / ByName(\"X\") / ByNumber(9)",
       [](Fixture& f) {
         return f.c->GetFieldDefinitionByNumber(2).Name + "/" +
                std::to_string(f.c->GetFieldDefinitionByName("m").FieldNumber) + "/" +
                std::to_string(RaisedNumber([&] { f.c->GetFieldDefinitionByName("X"); })) + "/" +
                std::to_string(RaisedNumber([&] { f.c->GetFieldDefinitionByNumber(9); }));
       },
       "S/3/9985/9985"},
      {"open", "GetPhysicalFieldDefinitionByNumber(1) / ByName(\"s\") / ByName(\"\")",
       [](Fixture& f) {
         return f.c->GetPhysicalFieldDefinitionByNumber(1).Name + "/" +
                std::to_string(f.c->GetPhysicalFieldDefinitionByName("s").FieldNumber) + "/" +
                std::to_string(RaisedNumber([&] { f.c->GetPhysicalFieldDefinitionByName(""); }));
       },
       "N/2/9985"},
      {"open", "UpdateFieldDefinitionByPos(2) / (4) / UpdatePhysicalFieldDefinitionByPos(1)",
       [](Fixture& f) {
         TFieldDefinition s = f.c->GetFieldDefinitionByPos(2);
         s.Description = "surname";
         f.c->UpdateFieldDefinitionByPos(2, s);
         TFieldDefinition n = f.c->GetPhysicalFieldDefinitionByPos(1);
         n.Description = "number";
         f.c->UpdatePhysicalFieldDefinitionByPos(1, n);
         return f.c->GetFieldDefinitionByPos(2).Description + "/" +
                std::to_string(RaisedNumber([&] { f.c->UpdateFieldDefinitionByPos(4, s); })) + "/" +
                f.c->GetPhysicalFieldDefinitionByPos(1).Description;
       },
       "surname/9985/number"},
      {"open, field view S, N", "GetFieldDefinition(1) by position, then by number in restructure mode",
       [](Fixture& f) {
         f.c->SetFieldMapping({f.c->GetFieldDefinitionByPos(2), f.c->GetFieldDefinitionByPos(1)});
         TFieldDefinition a, b, c;
         f.c->GetFieldDefinition(1, a);
         f.c->SetRestructureMode(true);
         f.c->GetFieldDefinition(1, b);
         f.c->GetPhysicalFieldDefinition(3, c);
         const int missing = RaisedNumber([&] {
           TFieldDefinition d;
           f.c->GetFieldDefinition(3, d);
         });
         f.c->SetRestructureMode(false);
         return a.Name + "/" + b.Name + "/" + c.Name + "/" + std::to_string(missing);
       },
       "S/N/M/9985"},
      {"open", "GetBlobFieldCount / GetKeyFields(1) / GetKeyFields(255) / GetKeyFields(7)",
       [](Fixture& f) {
         std::array<std::uint16_t, kMaxKeyFields> keys{}, none{};
         none.fill(9);
         f.c->GetKeyFields(1, keys);
         f.c->GetKeyFields(kPhysicalOrder, none);
         return std::to_string(f.c->GetBlobFieldCount()) + "/" + std::to_string(keys[0]) + "," +
                std::to_string(keys[1]) + "/" + std::to_string(none[0]) + "/" +
                std::to_string(RaisedNumber([&] { f.c->GetKeyFields(7, keys); }));
       },
       "1/1,0/0/10022"},
      {"shared", "SetIndexCount(0) / SetNoPrimaryIndex(true)",
       [](Fixture& f) {
         return std::to_string(RaisedNumber([&] { f.c->SetIndexCount(0); })) + "/" +
                std::to_string(RaisedNumber([&] { f.c->SetNoPrimaryIndex(true); })) + "/" +
                std::to_string(f.c->GetIndexCount());
       },
       "10253/10253/1"},
      {"exclusive, on ByN", "SetIndexCount(2) / (1) / (0), SetNoPrimaryIndex(false) / (true)",
       [](Fixture& f) {
         f.c->CloseCursor();
         f.c->SetExclusive(true);
         f.c->OpenCursor();
         f.c->SetIndexName("ByN");
         std::string a = std::to_string(RaisedNumber([&] { f.c->SetIndexCount(2); }));
         f.c->SetIndexCount(1);
         a += "/" + f.c->GetIndexName();
         f.c->SetIndexCount(0);
         a += "/" + std::to_string(f.c->GetIndexCount()) + "," + std::to_string(f.c->GetIndexPos());
         a += "/" + std::to_string(RaisedNumber([&] { f.c->SetNoPrimaryIndex(false); }));
         f.c->SetNoPrimaryIndex(true);
         std::string seen;
         while (f.c->GetNextRecord(f.buffer.data()) == 0) seen += std::to_string(f.Number(f.buffer));
         f.c->CloseCursor();
         const CheckResult check = RunTableCheck(f.tmp.Path() + "/t.DAT");
         return a + "/" + seen + "/" + std::to_string(check.status) + check.output;
       },
       "9487/ByN/0,0/10022/1245/0"},
      {"exclusive, primary key on N", "SetNoPrimaryIndex(true)",
       [](Fixture& f) {
         f.c->CloseCursor();
         TDataCursor e(f.env.dir);
         e.SetTableName("p");
         e.SetExclusive(true);
         TTableCreation creation;
         TIndexDefinition primary;
         primary.Fields[0] = 1;
         creation.Indexes = {primary};
         std::vector<TFieldDefinition> fields{Field("N", dtInteger)};
         e.CreateTable(creation, fields);
         e.OpenCursor();
         Bytes record(e.GetRecordSize());
         for (int n : {3, 1, 2}) {
           e.ClearRecord(record.data());
           e.PutField(1, record.data(), reinterpret_cast<const std::uint8_t*>(&n));
           e.AppendRecord(record.data());
         }
         e.SetNoPrimaryIndex(true);
         std::string seen = B(e.GetNoPrimaryIndex()) + "/";
         e.SetToBegin();
         while (e.GetNextRecord(record.data()) == 0) {
           int n = 0;
           e.GetField(1, record.data(), reinterpret_cast<std::uint8_t*>(&n));
           seen += std::to_string(n);
         }
         e.CloseCursor();
         const CheckResult check = RunTableCheck(f.tmp.Path() + "/p.DAT");
         return seen + "/" + std::to_string(check.status) + check.output;
       },
       "true/312/0"},
      {"upper-case field", "PutField(\"m\xfcller stra\xdf" "e\")",
       [](Fixture& f) {
         f.c->PutField(2, f.buffer.data(), U("m\xfcller stra\xdf" "e"));
         return f.Text(2, f.buffer);
       },
       "M\xdcLLER STRA\xdf" "E"},
      // ---- BLOBs ----
      {"a buffer with a new BLOB", "OpenBlob/ValidBlobHandle/GetBlobSize by physical position",
       [](Fixture& f) {
         f.c->ClearRecord(f.buffer.data());
         std::int64_t size = -1;
         const TEngineErrorCode open = f.c->OpenBlob(3, f.buffer.data(), 2, false, true);
         f.c->PutBlob(3, f.buffer.data(), 0, U("abc"), 3, true);
         f.c->GetBlobSize(3, f.buffer.data(), size, true);
         std::int32_t handle = 0;
         std::memcpy(&handle, f.buffer.data() + f.c->GetPhysicalFieldDefinitionByPos(3).Offset + 1, 4);
         const std::string answer = std::to_string(open) + "/" + B(f.c->ValidBlobHandle(3, f.buffer.data(), true)) +
                                    "/" + std::to_string(size) + "/" + B(f.c->ValidBlobBufferHandle(handle)) + "/" +
                                    B(f.c->ValidBlobBufferHandle(handle - 1)) + "/" +
                                    std::to_string(f.c->OpenBlob(2, f.buffer.data(), 2, false, true));
         f.c->FreeBlob(3, f.buffer.data(), false, true);
         return answer + "/" + B(f.c->ValidBlobBufferHandle(handle));
       },
       "0/true/3/true/false/10753/false"},
      {"a record buffer", "Put/GetBlobSignature, GetBlobRecord",
       [](Fixture& f) {
         f.c->ClearRecord(f.buffer.data());
         const std::uint8_t* field = f.buffer.data() + f.c->GetFieldDefinitionByPos(3).Offset;
         const std::uint32_t reference = 0x01020304;
         std::memcpy(f.buffer.data() + f.c->GetFieldDefinitionByPos(3).Offset + 1, &reference, 4);
         f.c->PutBlobSignature(3, f.buffer.data(), true, 77);
         return std::to_string(f.c->GetBlobSignature(3, f.buffer.data())) + "/" +
                std::to_string(TDataCursor::GetBlobRecord(field));
       },
       "77/16909060"},
      // ---- sort orders of the language list ----
      {"German (Standard), position 48", "GetSortIDFromIndex / GetSortIDStringFromIndex / GetIndexFromSortID",
       [](Fixture&) {
         return std::to_string(GetSortIDFromIndex(48, 1)) + "/" + GetSortIDStringFromIndex(48, 1) + "/" +
                GetSortIDStringFromIndex(48, 0) + "/[" + GetSortIDStringFromIndex(48, 2) + "]/" +
                std::to_string(GetIndexFromSortID(48, 1)) + "/" + std::to_string(GetIndexFromSortID(48, 5));
       },
       "1/SRT_GERMAN_PHONE_BOOK/SRT_DEFAULT/[]/1/-1"},
      {"ANSI Standard, position 0", "GetSortIDFromIndex / GetSortIDStringFromIndex / GetIndexFromSortID",
       [](Fixture&) {
         return std::to_string(GetSortIDFromIndex(0, 1)) + "/" + GetSortIDStringFromIndex(0, 1) + "/" +
                std::to_string(GetIndexFromSortID(0, 0)) + "/" + std::to_string(GetIndexFromSortID(0, 1));
       },
       "0/SRT_DEFAULT/0/-1"},
      // ---- creation ----
      {"closed, new table", "CreateTable: index definitions completed in the caller's copy",
       [](Fixture& f) {
         TDataCursor e(f.env.dir);
         e.SetTableName("k");
         e.SetExclusive(true);
         TTableCreation creation;
         TIndexDefinition primary, second;
         primary.Fields[0] = 1;
         second.Name = "  ByName  ";
         second.Fields[0] = 2;
         creation.Indexes = {primary, second};
         creation.IndexCount = 1;
         std::vector<TFieldDefinition> fields{Field("N", dtInteger), Field("S", dtString, 10)};
         e.CreateTable(creation, fields);
         return std::to_string(creation.Indexes[0].KeySize) + "/" + creation.Indexes[1].Name + "/" +
                std::to_string(creation.Indexes[1].KeySize) + "/" + std::to_string(creation.Indexes[1].FieldCount);
       },
       "5/ByName/16/1"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.state) + ": " + k.call);
    Fixture f;
    std::string answer;
    const int raised = RaisedNumber([&] { answer = k.run(f); });
    EXPECT_EQ(raised, 0);
    EXPECT_EQ(answer, k.expected);
  }
}

// ---- writes ---------------------------------------------------------------------

// The memo contents of a table by N.
std::map<int, std::string> Memos(Fixture& f) {
  std::map<int, std::string> all;
  f.c->SetIndexPos(kPhysicalOrder);
  f.c->SetToBegin();
  while (f.c->GetNextRecord(f.buffer.data()) == 0) {
    const std::vector<std::uint8_t> memo = f.c->ReadBlobContent(3, f.buffer.data());
    all[f.Number(f.buffer)] = std::string(memo.begin(), memo.end());
  }
  return all;
}

// Deleted records free their BLOB chains and keep no reference to them: a
// repair that adopts signatures (as after an upgrade) then finds nothing of
// theirs in blocks that live BLOBs took over.
TEST(CursorWrites, DeletedRecordsHoldNoBlobReference) {
  Fixture f(12);
  std::map<int, std::string> model;
  for (int round = 0; round < 3; ++round) {
    f.c->SetIndexPos(kPhysicalOrder);
    f.c->SetToBegin();
    while (f.c->GetNextRecord(f.buffer.data()) == 0) {
      const int n = f.Number(f.buffer);
      ASSERT_EQ(f.c->GetCurrentRecord(f.buffer.data(), true), 0);
      if ((n + round) % 4 == 0) {
        f.c->DeleteRecord(f.buffer.data());
        continue;
      }
      // Longer memos take the blocks the deleted records gave back.
      const std::string memo(300 + 100 * round + n, static_cast<char>('a' + n));
      ASSERT_EQ(f.c->OpenBlob(3, f.buffer.data(), 2), 0);
      ASSERT_EQ(f.c->TruncateBlob(3, f.buffer.data(), 0), 0);
      ASSERT_EQ(f.c->PutBlob(3, f.buffer.data(), 0, U(memo), static_cast<std::int64_t>(memo.size())), 0);
      f.c->ModifyRecord(f.buffer.data(), true);
    }
  }
  model = Memos(f);
  ASSERT_GE(model.size(), 3u);
  f.c->CloseCursor();
  CheckResult check = RunTableCheck(f.tmp.Path() + "/t.DAT");
  EXPECT_EQ(check.status, 0) << check.output;
  auto repair = Cursor(f.env.dir, true);
  repair->RepairTable(false, true);
  f.c->OpenCursor();
  EXPECT_EQ(Memos(f), model);
  f.c->CloseCursor();
  check = RunTableCheck(f.tmp.Path() + "/t.DAT");
  EXPECT_EQ(check.status, 0) << check.output;
}

// A cursor whose field view leaves the memo out deletes records with their
// BLOBs all the same.
TEST(CursorWrites, DeleteThroughAFieldViewFreesTheRecordsBlobs) {
  Fixture f(6);
  std::vector<TFieldDefinition> view{f.c->GetFieldDefinitionByPos(1)};
  f.c->SetFieldMapping(view);
  f.buffer.assign(f.c->GetRecordSize(), 0);
  f.c->SetIndexPos(kPhysicalOrder);
  f.c->SetToBegin();
  while (f.c->GetNextRecord(f.buffer.data()) == 0) {
    ASSERT_EQ(f.c->GetCurrentRecord(f.buffer.data(), true), 0);
    f.c->DeleteRecord(f.buffer.data());
  }
  f.c->CloseCursor();
  CheckResult check = RunTableCheck(f.tmp.Path() + "/t.DAT");
  EXPECT_EQ(check.status, 0) << check.output;
}

// An exclusive cursor locks the record (which takes no lock) before a
// transaction begins; the change posted inside it is reported as done and
// is in the table after the commit.
TEST(CursorWrites, ARecordLockedBeforeATransactionIsPostedInsideIt) {
  Fixture f(2);
  f.c->CloseCursor();
  auto c = Cursor(f.env.dir, true);
  c->OpenCursor();
  Bytes buffer(c->GetRecordSize());
  ASSERT_EQ(c->GetNextRecord(buffer.data()), 0);
  ASSERT_EQ(c->GetCurrentRecord(buffer.data(), true), 0);
  f.env.dir->StartTransaction();
  c->PutField(2, buffer.data(), U("changed"));
  EXPECT_EQ(RaisedNumber([&] { c->ModifyRecord(buffer.data(), true); }), 0);
  f.env.dir->CommitTransaction(true);
  c->CloseCursor();
  c->OpenCursor();
  ASSERT_EQ(c->GetNextRecord(buffer.data()), 0);
  Bytes text(32, 0);
  c->GetField(2, buffer.data(), text.data());
  EXPECT_STREQ(reinterpret_cast<const char*>(text.data()), "CHANGED");
}

// A restructure carries a blank value as blank, also where the field has a
// default; defaults fill the fields the table did not have.
TEST(CursorWrites, RestructureKeepsBlanksAndFillsNewFieldsWithDefaults) {
  qvtest::TempDir tmp, work;
  Env env(tmp.Path());
  env.session.SetPrivateDirectory(work.Path());
  CreateWithCursor(env.dir, {Field("N", dtInteger), Field("S", dtString, 10)});
  auto c = Cursor(env.dir, true);
  c->OpenCursor();
  Bytes buffer(c->GetRecordSize());
  for (int n = 1; n <= 3; ++n) {
    c->ClearRecord(buffer.data());
    c->PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(&n));
    if (n != 2) c->PutField(2, buffer.data(), U("s" + std::to_string(n)));
    c->AppendRecord(buffer.data());
  }
  c->CloseCursor();
  TRestructureRequest request;
  request.Indexes.emplace_back();
  TFieldDefinition n = Field("N", dtInteger), s = Field("S", dtString, 12), t = Field("T", dtString, 5);
  n.FieldNumber = 1;
  s.FieldNumber = 2;
  s.Default = "dflt";
  t.FieldNumber = 9;
  t.Default = "new";
  request.Fields = {n, s, t};
  c->RestructureTable(request);
  c->OpenCursor();
  buffer.assign(c->GetRecordSize(), 0);
  std::string seen;
  while (c->GetNextRecord(buffer.data()) == 0) {
    Bytes text(16, 0);
    for (int field : {2, 3}) {
      seen += c->GetField(field, buffer.data(), text.data()) ? "<blank>" : reinterpret_cast<const char*>(text.data());
      seen += field == 2 ? "," : ";";
    }
  }
  EXPECT_EQ(seen, "s1,new;<blank>,new;s3,new;");

  // A new field without a number (0) starts from its default; it does not
  // take the values of the old field at its position.
  TFieldDefinition u = Field("U", dtString, 6);
  u.Default = "fresh";
  t.FieldNumber = 3;
  request.Fields = {n, u, t};
  c->CloseCursor();
  c->RestructureTable(request);
  c->OpenCursor();
  buffer.assign(c->GetRecordSize(), 0);
  seen.clear();
  while (c->GetNextRecord(buffer.data()) == 0) {
    Bytes text(16, 0);
    seen += c->GetField(2, buffer.data(), text.data()) ? "<blank>" : reinterpret_cast<const char*>(text.data());
    seen += ";";
  }
  EXPECT_EQ(seen, "fresh;fresh;fresh;");
  EXPECT_EQ(c->GetFieldDefinitionByPos(2).FieldNumber, 2);
}

}  // namespace
}  // namespace korvex::testing
