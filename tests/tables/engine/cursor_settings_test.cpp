// Cursor settings and views: defaults and limits as a case table against
// independently encoded bytes and the system clock, field mapping with
// calculated fields, change detection between processes under both
// change-detection settings, the header check at open, stored record
// numbers, callbacks, table images through cursors and clones.
#include <ctime>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/expcheck.h"
#include "tables/lib/expparser.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/cursor_test_support.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes LE(std::uint64_t v, int n) {
  Bytes b;
  for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return b;
}
Bytes LEDouble(double d) {
  std::uint64_t v;
  std::memcpy(&v, &d, 8);
  return LE(v, 8);
}

// The local date as a day number (1 January of year 1 = day 1) and the
// milliseconds of the day, from the C library's clock.
struct Clock {
  std::int64_t day, ms;
};
Clock LocalNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  localtime_r(&ts.tv_sec, &tm);
  // Days from the civil date (proleptic Gregorian), 0001-01-01 = 1.
  std::int64_t y = tm.tm_year + 1900, m = tm.tm_mon + 1, d = tm.tm_mday;
  y -= m <= 2;
  const std::int64_t era = y / 400, yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days_from_1970 = era * 146097 + doe - 719468;
  return {days_from_1970 + 719163,
          (tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec) * 1000LL + ts.tv_nsec / 1000000};
}

Bytes FieldBytes(const TDataCursor& c, int field, const Bytes& buffer) {
  const TFieldDefinition& d = c.GetFieldDefinitionByPos(field);
  if (buffer[d.Offset] == 0) return {};
  return Bytes(buffer.begin() + d.Offset + 1, buffer.begin() + d.Offset + 1 + d.PhysicalSize);
}

TEST(CursorSettings, DefaultsAndLimitsFollowTheirTextsAndTheClock) {
  qvtest::TempDir tmp;
  Env env(tmp.path().string());
  struct Row {
    TFieldDefinition def;
    Bytes expected;  // empty: checked against the clock below
  };
  auto field = [](const char* name, std::uint8_t type, const char* default_text, std::uint8_t size = 0,
                  std::uint8_t decimals = 0) {
    TFieldDefinition f = Field(name, type, size, 0, decimals);
    f.Default = default_text;
    return f;
  };
  TFieldDefinition upper = field("Up", dtString, "Ab c  ", 10);
  upper.CharCase = 2;
  TFieldDefinition lower = field("Low", dtString, "MiXeD", 10);
  lower.CharCase = 1;
  auto text = [](const char* s, std::size_t size) {
    Bytes b(size + 1, 0);
    std::memcpy(b.data(), s, std::strlen(s));
    return b;
  };
  const std::vector<Row> rows = {
      {upper, text("AB C", 10)},
      {lower, text("mixed", 10)},
      {field("Blanks", dtString, "   ", 10), {}},
      {field("I", dtInteger, "-42"), LE(static_cast<std::uint32_t>(-42), 4)},
      {field("W", dtWord, "65535"), LE(65535, 2)},
      {field("H", dtSmallInt, "-3"), LE(static_cast<std::uint16_t>(-3), 2)},
      {field("F", dtFloat, "2.5"), LEDouble(2.5)},
      {field("C", dtBCD, "12.34", 0, 2), LE(12342, 8)},  // digits, then the decimals
      {field("B", dtBoolean, "true"), LE(1, 2)},
      {field("D", dtDate, "dAtE"), {}},
      {field("T", dtTime, "Time"), {}},
      {field("N", dtTimeStamp, "NOW"), {}},
      {field("M", dtTimeStamp, "date"), {}},
      {field("Plain", dtInteger, ""), {}},
  };
  std::vector<TFieldDefinition> fields;
  for (const Row& r : rows) fields.push_back(r.def);
  CreateWithCursor(env.dir, fields);
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  Bytes buffer(c->GetRecordSize(), 0xEE);
  const Clock before = LocalNow();
  c->InitRecord(buffer.data());
  const Clock after = LocalNow();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].def.Name);
    const Bytes got = FieldBytes(*c, static_cast<int>(i + 1), buffer);
    const std::string& name = rows[i].def.Name;
    if (name == "D") {
      ASSERT_EQ(got.size(), 4u);
      const std::int64_t day = static_cast<std::int32_t>(got[0] | got[1] << 8 | got[2] << 16 | got[3] << 24);
      EXPECT_TRUE(day == before.day || day == after.day) << day;
    } else if (name == "T" || name == "N" || name == "M") {
      std::int64_t ms;
      if (name == "T") {
        ASSERT_EQ(got.size(), 4u);
        ms = static_cast<std::int32_t>(got[0] | got[1] << 8 | got[2] << 16 | got[3] << 24);
      } else {
        ASSERT_EQ(got.size(), 8u);
        double d;
        std::memcpy(&d, got.data(), 8);
        ms = static_cast<std::int64_t>(d);
      }
      auto stamp = [&](const Clock& k) { return name == "T" ? k.ms : k.day * 86400000 + (name == "N" ? k.ms : 0); };
      EXPECT_GE(ms, stamp(before) - (name == "M" ? 0 : 1000));
      EXPECT_LE(ms, stamp(after) + (name == "M" ? 0 : 1000));
    } else {
      EXPECT_EQ(got, rows[i].expected);
    }
  }
  EXPECT_EQ(TDataCursor::GetRecordID(buffer.data()), 0u);
  c->AppendRecord(buffer.data());
  c->CloseCursor();
  EXPECT_EQ(RunTableCheck(tmp.path().string() + "/t.DAT").status, 0);
}

TEST(CursorSettings, LimitsRefuseByTypeBeforeAnyByteIsWritten) {
  qvtest::TempDir tmp;
  Env env(tmp.path().string());
  auto limited = [](const char* name, std::uint8_t type, const char* min, const char* max, std::uint8_t size = 0,
                    std::uint8_t decimals = 0) {
    TFieldDefinition f = Field(name, type, size, 0, decimals);
    f.Minimum = min;
    f.Maximum = max;
    return f;
  };
  TFieldDefinition required = Field("R", dtString, 5);
  required.Required = 1;
  CreateWithCursor(env.dir, {limited("I", dtInteger, "10", ""), limited("S", dtString, "b", "", 5),
                             limited("F", dtFloat, "", "2.5"), limited("C", dtBCD, "1.5", "", 0, 2),
                             limited("D", dtDate, "", "DATE"), required});
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  const std::string dat = tmp.path().string() + "/t.DAT";
  const std::string files_before = qvtest::ReadFileBytes(dat);
  const Clock now = LocalNow();
  struct Case {
    int field;
    Bytes value;  // empty: blank
    int error;
  };
  const std::vector<Case> cases = {
      {1, LE(10, 4), 0},          {1, LE(9, 4), err::kBelowMinimum},
      {1, {}, err::kBelowMinimum}, {2, {'b', 0}, 0},
      {2, {'b', 'a', 0}, 0},      {2, {'a', 'z', 0}, err::kBelowMinimum},
      {3, LEDouble(2.5), 0},      {3, LEDouble(2.5000001), err::kAboveMaximum},
      {4, LE(1502, 8), 0},        {4, LE(1492, 8), err::kBelowMinimum},  // 1.50, 1.49
      {5, LE(static_cast<std::uint64_t>(now.day), 4), 0},
      {5, LE(static_cast<std::uint64_t>(now.day + 2), 4), err::kAboveMaximum},
      {6, {}, err::kValueRequired},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(::testing::Message() << "field " << k.field << " error " << k.error);
    Bytes buffer(c->GetRecordSize(), 0);
    // Every other field within its limits.
    std::int32_t ten = 10;
    c->PutField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&ten));
    c->PutField(2, buffer.data(), reinterpret_cast<const std::uint8_t*>("c"));
    Bytes money = LE(2002, 8);  // 2.00
    c->PutField(4, buffer.data(), money.data());
    c->PutField(6, buffer.data(), reinterpret_cast<const std::uint8_t*>("x"));
    c->PutField(k.field, buffer.data(), k.value.empty() ? nullptr : k.value.data());
    EXPECT_EQ(RaisedNumber([&] { c->CheckRecordValidity(buffer.data()); }), k.error);
    if (k.error != 0) {
      EXPECT_EQ(RaisedNumber([&] { c->AppendRecord(buffer.data()); }), k.error);
    }
  }
  // A view that leaves the other fields out checks them all the same: the
  // blank string is below its minimum.
  c->SetFieldMapping({c->GetPhysicalFieldDefinitionByPos(1)});
  Bytes buffer(c->GetRecordSize(), 0);
  std::int32_t ten = 10;
  c->PutField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&ten));
  EXPECT_EQ(RaisedNumber([&] { c->AppendRecord(buffer.data()); }), err::kBelowMinimum);
  EXPECT_EQ(qvtest::ReadFileBytes(dat), files_before);
}

// ---- field mapping -------------------------------------------------------------

// Column names of an expression resolved against the table's own fields.
bool LookupPhysical(void* user, TExpToken* node) {
  auto* c = static_cast<TDataCursor*>(user);
  for (int i = 1; i <= c->GetPhysicalFieldCount(); ++i) {
    const TFieldDefinition& d = c->GetPhysicalFieldDefinitionByPos(i);
    if (d.Name != node->ColumnName) continue;
    node->FieldNumber = d.FieldNumber;
    node->DataType = d.DataType;
    node->SubType = d.SubType;
    node->SetDataSize(d.DataType == dtString ? d.Size + 1 : d.PhysicalSize);
    node->Scale = d.Decimals;
    return true;
  }
  return false;
}

TExpToken* Calculation(TDataCursor& c, const std::string& text) {
  TExpressionParser parser;
  parser.SetErrorNumber(11949);
  parser.SetExpressionContext("calc");
  ExpTokenGuard tree(parser.ParseFilter(text, pmAllowExtPredicates));
  VerifyExpressionToken(11949, "", "calc", tree.get(), nullptr, &c, LookupPhysical, true);
  return tree.Release();
}

TEST(CursorSettings, FieldMappingWithCalculatedFields) {
  qvtest::TempDir tmp;
  Env env(tmp.path().string());
  CreateWithCursor(env.dir, {Field("A", dtInteger), Field("B", dtString, 10), Field("M", dtBlob, 0, fstMemo)});
  auto plain = Cursor(env.dir, false);
  plain->OpenCursor();
  const std::vector<std::pair<std::int32_t, std::string>> records = {{1, "ab"}, {2, ""}, {-3, "xyz"}};
  for (auto& [a, b] : records) {
    Bytes buffer(plain->GetRecordSize(), 0);
    plain->PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(&a));
    plain->PutField(2, buffer.data(), reinterpret_cast<const std::uint8_t*>(b.c_str()));
    if (a == 1) {
      ASSERT_EQ(plain->OpenBlob(3, buffer.data(), 2), 0);
      ASSERT_EQ(plain->PutBlob(3, buffer.data(), 0, reinterpret_cast<const std::uint8_t*>("memo"), 4), 0);
    }
    plain->AppendRecord(buffer.data());
  }

  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  c->SetIsResultSet(true);  // calculated fields stay calculated in result sets
  ExpTokenGuard twice(Calculation(*c, "A * 2")), upper(Calculation(*c, "UPPER(B)")),
      has_memo(Calculation(*c, "M IS NOT NULL"));
  TFieldDefinition b = c->GetPhysicalFieldDefinitionByPos(2), a = c->GetPhysicalFieldDefinitionByPos(1);
  b.Name = "Name";
  auto calculated = [](const char* name, std::uint16_t number, std::uint8_t type, std::uint8_t size, TExpToken* e) {
    TFieldDefinition f = Field(name, type, size);
    f.FieldNumber = number;
    f.Calculated = 1;
    f.Expression = e;
    f.UpdatePhysicalSize();
    return f;
  };
  c->SetFieldMapping({b, a, calculated("Twice", 4, dtInteger, 0, twice.get()),
                      calculated("Upper", 5, dtString, 10, upper.get()),
                      calculated("HasMemo", 6, dtBoolean, 0, has_memo.get())});
  ASSERT_EQ(c->GetFieldCount(), 5);
  EXPECT_EQ(c->GetRecordSize(), c->GetPhysicalRecordSize() + 5 + 12 + 3);
  EXPECT_EQ(c->GetFieldDefinitionByPos(1).QualifiedName, "t.Name");
  // Every record read comes with its calculated fields.
  Bytes buffer(c->GetRecordSize());
  for (const auto& [a_value, b_value] : records) {
    ASSERT_EQ(c->GetNextRecord(buffer.data()), 0);
    std::int32_t got = 0;
    EXPECT_FALSE(c->GetField(3, buffer.data(), reinterpret_cast<std::uint8_t*>(&got)));
    EXPECT_EQ(got, 2 * a_value);
    char text[12] = {};
    EXPECT_EQ(c->GetField(4, buffer.data(), reinterpret_cast<std::uint8_t*>(text)), b_value.empty());
    std::string want = b_value;
    for (char& ch : want) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_EQ(std::string(text), want);
    std::uint16_t flag = 9;
    c->GetField(5, buffer.data(), reinterpret_cast<std::uint8_t*>(&flag));
    EXPECT_EQ(flag, a_value == 1 ? 1 : 0);
  }
  // Putting a stored field computes again; a calculated field is written
  // only when asked.
  std::int32_t seven = 7, forty = 40, got = 0;
  c->PutField(2, buffer.data(), reinterpret_cast<std::uint8_t*>(&seven));
  c->GetField(3, buffer.data(), reinterpret_cast<std::uint8_t*>(&got));
  EXPECT_EQ(got, 14);
  c->PutField(3, buffer.data(), reinterpret_cast<std::uint8_t*>(&forty));
  c->GetField(3, buffer.data(), reinterpret_cast<std::uint8_t*>(&got));
  EXPECT_EQ(got, 14);
  c->PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>("new"));
  c->AppendRecord(buffer.data());
  // The stored record holds the table's fields only.
  Bytes stored(plain->GetRecordSize());
  ASSERT_EQ(plain->GotoPhysicalRecordNumber(4), 0);
  ASSERT_EQ(plain->GetCurrentRecord(stored.data(), false), 0);
  plain->GetField(1, stored.data(), reinterpret_cast<std::uint8_t*>(&got));
  EXPECT_EQ(got, 7);
  // A clone has the same view and stands on the same record.
  auto clone = c->CloneCursor();
  Bytes mine(c->GetRecordSize()), its(clone->GetRecordSize());
  ASSERT_EQ(clone->GetRecordSize(), c->GetRecordSize());
  ASSERT_EQ(c->GetCurrentRecord(mine.data(), false), 0);
  ASSERT_EQ(clone->GetCurrentRecord(its.data(), false), 0);
  EXPECT_EQ(its, mine);
  c->ResetFieldMapping();
  EXPECT_EQ(c->GetFieldCount(), 3);
  EXPECT_EQ(c->GetRecordSize(), c->GetPhysicalRecordSize());
  clone.reset();
  c->CloseCursor();
  plain->CloseCursor();
  EXPECT_EQ(RunTableCheck(tmp.path().string() + "/t.DAT").status, 0);
}

// Calculated values of operators over small integers, words, dates and
// timestamps: the operator's result has its own type's bytes, not the
// operands' (a difference or product of two small integers is an integer).
TEST(CursorSettings, CalculatedValuesOfOperatorsKeepTheirWholeValue) {
  qvtest::TempDir tmp;
  Env env(tmp.path().string());
  CreateWithCursor(env.dir, {Field("S", dtSmallInt), Field("T", dtSmallInt), Field("W", dtWord),
                             Field("D", dtDate), Field("E", dtDate), Field("F", dtFloat)});
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  Bytes buffer(c->GetRecordSize(), 0);
  const std::int16_t s = 300, t = 400;
  const std::uint16_t w = 65000;
  const std::int32_t d = 700000, e = 700123;
  const double f = -2.25;
  for (auto [field, value] : std::vector<std::pair<int, const void*>>{{1, &s}, {2, &t}, {3, &w}, {4, &d}, {5, &e},
                                                                       {6, &f}})
    c->PutField(field, buffer.data(), static_cast<const std::uint8_t*>(value));
  c->AppendRecord(buffer.data());
  c->SetIsResultSet(true);
  struct Case {
    const char* text;
    std::uint8_t type;
    double want;
  } cases[] = {
      {"S - T", dtInteger, -100},     {"S * T", dtInteger, 120000},   {"T - S - S", dtInteger, -200},
      {"W + S", dtInteger, 65300},    {"S * W", dtFloat, 19500000},   {"S - T", dtSmallInt, -100},
      {"D - E", dtInteger, -123},     {"E - D", dtFloat, 123},        {"S * F", dtFloat, -675},
      {"F * T - S", dtFloat, -1200},  {"S - T", dtFloat, -100},
  };
  std::vector<ExpTokenGuard> trees;
  std::vector<TFieldDefinition> view;
  for (int i = 1; i <= 6; ++i) view.push_back(c->GetPhysicalFieldDefinitionByPos(i));
  for (const Case& k : cases) {
    trees.emplace_back(Calculation(*c, k.text));
    TFieldDefinition field = Field("C" + std::to_string(view.size()), k.type);
    field.FieldNumber = static_cast<std::uint16_t>(view.size() + 1);
    field.Calculated = 1;
    field.Expression = trees.back().get();
    field.UpdatePhysicalSize();
    view.push_back(field);
  }
  c->SetFieldMapping(view);
  Bytes record(c->GetRecordSize());
  c->SetToBegin();
  ASSERT_EQ(c->GetNextRecord(record.data()), 0);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    std::uint8_t bytes[8] = {};
    EXPECT_FALSE(c->GetField(static_cast<int>(7 + i), record.data(), bytes)) << cases[i].text;
    double got = 0;
    if (cases[i].type == dtFloat) got = *reinterpret_cast<const double*>(bytes);
    else if (cases[i].type == dtSmallInt) got = *reinterpret_cast<const std::int16_t*>(bytes);
    else got = *reinterpret_cast<const std::int32_t*>(bytes);
    EXPECT_EQ(got, cases[i].want) << cases[i].text;
  }
  c->CloseCursor();
}

// ---- change detection between processes ----------------------------------------

TEST(CursorSettings, AnotherProcessesChangesUnderBothDetectionSettings) {
  for (bool strict : {false, true}) {
    SCOPED_TRACE(strict ? "strict" : "stamps");
    qvtest::TempDir tmp;
    const std::string path = tmp.path().string();
    {
      Env env(path);
      CreateWithCursor(env.dir, {Field("N", dtInteger)});
      auto c = Cursor(env.dir, false);
      c->OpenCursor();
      Bytes buffer(c->GetRecordSize());
      std::int32_t one = 1;
      c->PutField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&one));
      c->AppendRecord(buffer.data());
    }
    qvtest::ChildProcess child([&](qvtest::ChildProcess& self) -> int {
     try {
      Env env(path);
      auto c = Cursor(env.dir, false);
      self.WaitTold();
      c->OpenCursor();
      Bytes buffer(c->GetRecordSize());
      std::int32_t v = 2;
      c->PutField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&v));
      c->AppendRecord(buffer.data());
      self.Ready();
      self.WaitTold();
      if (c->GotoPhysicalRecordNumber(1) != 0 || c->GetCurrentRecord(buffer.data(), false) != 0 ||
          c->GetCurrentRecord(buffer.data(), true) != 0)
        return 2;
      v = 10;
      c->PutField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&v));
      c->ModifyRecord(buffer.data(), true);
      self.Ready();
      self.WaitTold();
      c->WriteLockTable();  // held without writing
      self.Ready();
      self.WaitTold();
      c->WriteUnlockTable();
      return 0;
     } catch (const EKORVEXEngineError& e) {
      std::fprintf(stderr, "child: %s\n", e.what());
      return 3;
     }
    });
    Env env(path);
    env.session.StrictChangeDetection = strict;
    env.session.Timing.InternalAttempts = 3;
    auto c = Cursor(env.dir, false);
    c->OpenCursor();
    Bytes first(c->GetRecordSize()), buffer(c->GetRecordSize());
    auto value = [&](const Bytes& b) {
      std::int32_t v = 0;
      c->GetField(1, b.data(), reinterpret_cast<std::uint8_t*>(&v));
      return v;
    };
    ASSERT_EQ(c->GetNextRecord(first.data()), 0);
    child.Tell();
    ASSERT_TRUE(child.WaitReady());
    // The append is seen; the cursor stays on its record.
    EXPECT_EQ(c->GetRecordCount(), 2u);
    EXPECT_EQ(c->GetPhysicalRecordNumber(), 1u);
    ASSERT_EQ(c->GetCurrentRecord(buffer.data(), false), 0);
    EXPECT_EQ(value(buffer), 1);
    ASSERT_EQ(c->GetNextRecord(buffer.data()), 0);
    EXPECT_EQ(value(buffer), 2);
    ASSERT_EQ(c->GetPriorRecord(buffer.data()), 0);
    child.Tell();
    ASSERT_TRUE(child.WaitReady());
    // The record changed under the copy the cursor's user holds.
    EXPECT_EQ(RaisedNumber([&] { c->GetCurrentRecord(first.data(), true); }), err::kRecordChanged);
    ASSERT_EQ(c->GetCurrentRecord(buffer.data(), false), 0);
    EXPECT_EQ(value(buffer), 10);
    child.Tell();
    ASSERT_TRUE(child.WaitReady());
    // A writer holds the table without changing it: by stamps the cursor
    // reads on from its caches; strictly it needs the read lock.
    EXPECT_EQ(RaisedNumber([&] { c->GetCurrentRecord(buffer.data(), false); }), strict ? err::kLockFailure : 0);
    child.Tell();
    EXPECT_EQ(child.Wait(), 0);
    ASSERT_EQ(c->GetCurrentRecord(buffer.data(), false), 0);
    EXPECT_EQ(value(buffer), 10);
  }
}

// ---- opening, stored numbers, callbacks --------------------------------------------

TEST(CursorSettings, OpeningChecksHeadersAndRecordsShowTheirStoredNumbers) {
  qvtest::TempDir tmp;
  const std::string dat = tmp.path().string() + "/t.DAT";
  Env env(tmp.path().string());
  CreateWithCursor(env.dir, {Field("N", dtInteger)});
  {
    auto c = Cursor(env.dir, false);
    c->OpenCursor();
    Bytes buffer(c->GetRecordSize());
    for (int i = 0; i < 3; ++i) c->AppendRecord(buffer.data());
  }
  // A record that carries another number shows it, and the checker sees
  // it; writing the record puts its own number back.
  PatchFile(dat,
            "import struct\n"
            "d = bytearray(open(path,'rb').read())\n"
            "rs, fc = struct.unpack_from('<HH', d, 21)\n"
            "struct.pack_into('<I', d, 127 + 768 * fc + rs + 1, 99)\n"
            "open(path,'wb').write(d)\n");
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  Bytes buffer(c->GetRecordSize());
  ASSERT_EQ(c->GotoPhysicalRecordNumber(2), 0);
  ASSERT_EQ(c->GetCurrentRecord(buffer.data(), false), 0);
  EXPECT_EQ(buffer[1], 99);
  EXPECT_NE(RunTableCheck(dat).status, 0);
  ASSERT_EQ(c->GetCurrentRecord(buffer.data(), true), 0);
  c->ModifyRecord(buffer.data(), true);
  EXPECT_EQ(RunTableCheck(dat).status, 0);
  c->CloseCursor();

  // A torn tail fails the first opening's header check and leaves no
  // table object; repair mode opens it.
  {
    std::FILE* f = std::fopen(dat.c_str(), "ab");
    std::fputs("xyz", f);
    std::fclose(f);
  }
  EXPECT_EQ(RaisedNumber([&] { c->OpenCursor(); }), err::kHeaderCorrupt);
  EXPECT_FALSE(c->IsOpen());
  EXPECT_EQ(env.dir->TableObjectCount(), 0u);
  c->SetRepairMode(true);
  c->OpenCursor();
  EXPECT_TRUE(c->IsOpen());
}

TEST(CursorSettings, CallbacksPropertiesAndStatistics) {
  qvtest::TempDir tmp;
  Env env(tmp.path().string());
  CreateWithCursor(env.dir, {Field("N", dtInteger), Field("M", dtBlob, 0, fstMemo)});
  CreateWithCursor(env.dir, {Field("N", dtInteger)}, {}, "plain");
  auto c = Cursor(env.dir, false);
  EXPECT_FALSE(c->AskForPassword());
  int calls = 0;
  auto progress = [](void* user, std::uint32_t, std::uint8_t) { return ++*static_cast<int*>(user) > 0; };
  auto log = [](void* user, const std::string&) { return ++*static_cast<int*>(user) > 0; };
  c->SetPasswordCallback([&] { return ++calls > 0; });
  c->SetRepairProgressCallback(progress, &calls);
  c->SetRepairLogCallback(log, &calls);
  c->SetUpgradeProgressCallback([](void*, const std::string&, std::uint8_t) { return true; }, &calls);
  c->SetUpgradeLogCallback(log, &calls);
  c->SetIndexProgressCallback(progress, &calls);
  c->SetCopyProgressCallback(progress, &calls);
  c->SetOptimizeProgressCallback(progress, &calls);
  c->SetRestructureProgressCallback(progress, &calls);
  c->SetDataLostCallback([](void*, TDataLossCause, const std::string&, bool&, bool&) { return true; }, &calls);
  EXPECT_TRUE(c->AskForPassword());
  EXPECT_EQ(RaisedNumber([&] { c->SetIsTemporary(true); }), 0);
  c->SetIsTemporary(false);
  c->OpenCursor();
  EXPECT_EQ(RaisedNumber([&] { c->SetIsSourceTable(true); }), err::kTableInUse);
  EXPECT_EQ(RaisedNumber([&] { c->SetIsResultSet(true); }), 0);
  c->SetIsResultSet(false);
  // Writes and reads show in the files' counters.
  Bytes buffer(c->GetRecordSize());
  for (int i = 0; i < 40; ++i) {
    c->InitRecord(buffer.data());
    ASSERT_EQ(c->OpenBlob(2, buffer.data(), 2), 0);
    ASSERT_EQ(c->PutBlob(2, buffer.data(), 0, reinterpret_cast<const std::uint8_t*>("abc"), 3), 0);
    c->AppendRecord(buffer.data());
  }
  TDataTable* t = c->Table();
  EXPECT_GE(t->GetDataRecordWrites(), 40u);
  EXPECT_GE(t->GetBlobBlockWrites(), 40u);
  EXPECT_EQ(t->GetDataRecordCacheMisses(), t->GetDataRecordReads());
  EXPECT_EQ(c->GetPhysicalRecordsUsed(), 40u);
  EXPECT_EQ(c->GetDataFileSize(), t->DataFile().DataStart() + 40 * c->GetPhysicalRecordSize());
  EXPECT_GT(c->GetBlobFileSize(), 512u);
  EXPECT_NE(t->GetLastBlobUpdateStamp(), 0u);
  EXPECT_GT(c->GetLastUpdated(), 40000.0);
  EXPECT_EQ(c->GetPassword(), "");
  c->CloseCursor();
  // Closing keeps only the upgrade's callbacks.
  const TMaintenanceCallbacks& kept = c->Callbacks();
  EXPECT_FALSE(c->AskForPassword());
  EXPECT_FALSE(kept.RepairProgress || kept.RepairLog || kept.IndexProgress || kept.CopyProgress ||
               kept.OptimizeProgress || kept.RestructureProgress || kept.DataLost);
  EXPECT_TRUE(kept.UpgradeProgress && kept.UpgradeLog);

  // A table without BLOB fields reports no BLOB file.
  auto p = Cursor(env.dir, false, "plain");
  p->OpenCursor();
  EXPECT_EQ(p->GetBlobFileSize(), 0u);
  EXPECT_EQ(p->Table()->GetLastBlobUpdateStamp(), 0u);
}

// ---- BLOBs opened by the user and by the engine ---------------------------------

TEST(CursorSettings, BlobsFreeOnlyForWhoeverOpenedThem) {
  qvtest::TempDir tmp;
  Env env(tmp.path().string());
  CreateWithCursor(env.dir, {Field("M", dtBlob, 0, fstMemo)});
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  // Steps: O/o open as user/engine, F/f free as user/engine, A/a free all
  // / the engine's; after each, whether the field still names an open BLOB.
  // Opening again as the engine leaves a user's BLOB the user's (its work
  // must not close what the user holds); opening again as the user makes an
  // engine's BLOB the user's.
  struct Case {
    const char* steps;
    const char* open_after;
  };
  const std::vector<Case> cases = {
      {"OF", "10"},   {"Of", "11"},     {"oF", "11"},   {"of", "10"},  {"OofF", "1110"},
      {"oOFf", "1100"}, {"OoFf", "1100"}, {"Oa", "11"},   {"oa", "10"},  {"OA", "10"},
      {"oOA", "110"},  {"OfFF", "1100"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.steps);
    Bytes buffer(c->GetRecordSize(), 0);
    std::string seen;
    for (const char* step = k.steps; *step; ++step) {
      switch (*step) {
        case 'O': case 'o': ASSERT_EQ(c->OpenBlob(1, buffer.data(), 2, *step == 'o'), 0); break;
        case 'F': case 'f': {
          const TEngineErrorCode status = c->FreeBlob(1, buffer.data(), *step == 'f');
          EXPECT_EQ(status, c->ValidBlobHandle(1, buffer.data()) || seen.back() == '1' ? 0 : err::kInvalidBlobHandle);
          break;
        }
        case 'A': c->FreeAllBlobs(true); break;
        case 'a': c->FreeAllBlobs(false); break;
      }
      seen += c->ValidBlobHandle(1, buffer.data()) ? '1' : '0';
    }
    EXPECT_EQ(seen, k.open_after);
    c->FreeAllBlobs(true);
    EXPECT_EQ(c->OpenBlobCount(), 0u);
  }
}

// ---- images and clones -----------------------------------------------------------------

TEST(CursorSettings, ImagesMoveTablesBetweenCursorsAndClonesFollow) {
  TDataSession session;
  TDataDirectory* memory = session.OpenDataDirectory("MEMORY", "");
  const std::vector<TFieldDefinition> fields{Field("N", dtInteger), Field("S", dtString, 8)};
  // In-memory tables outlive their session: names of this test's own.
  CreateWithCursor(memory, fields, {}, "image_a", true);
  CreateWithCursor(memory, fields, {}, "image_b", true);
  CreateWithCursor(memory, {Field("X", dtFloat)}, {}, "image_c", true);
  auto cursor = [&](const char* name) {
    auto c = Cursor(memory, false, name);
    c->SetInMemory(true);
    c->OpenCursor();
    return c;
  };
  auto a = cursor("image_a"), b = cursor("image_b"), other = cursor("image_c");
  Bytes buffer(a->GetRecordSize());
  for (std::int32_t i = 1; i <= 5; ++i) {
    a->PutField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&i));
    a->AppendRecord(buffer.data());
  }
  auto image_of = [](TDataCursor& c) {
    c.BeginBufferLoad();
    std::string image(c.GetBufferSize(), '\0');
    EXPECT_EQ(c.LoadFromBuffer(image.data(), 0, static_cast<std::uint32_t>(image.size())), image.size());
    char tail[64];
    EXPECT_EQ(c.LoadFromBuffer(tail, c.GetBufferSize() - 10, 64), 10u);
    c.EndBufferLoad();
    return image;
  };
  auto save = [](TDataCursor& c, const std::string& image) {
    c.BeginBufferSave();
    c.SaveToBuffer(image.data(), 0, static_cast<std::uint32_t>(image.size()));
    return RaisedNumber([&] { c.EndBufferSave(); });
  };
  const std::string image = image_of(*a);
  // b stands on a record of its own before it takes a's image.
  b->AppendRecord(buffer.data());
  EXPECT_EQ(save(*b, image_of(*other)), err::kHeaderCorrupt);
  EXPECT_EQ(b->GetRecordCount(), 1u);
  // The old table's filters go with it.
  b->ActivateFilter(b->AddFilter(0, {}, nullptr, false, [](const std::uint8_t*, std::uint32_t) { return false; }, {}));
  EXPECT_EQ(b->GetRecordCount(), 0u);
  ASSERT_EQ(save(*b, image), 0);
  EXPECT_EQ(b->Filters().FilterCount(), 0u);
  EXPECT_TRUE(b->AtBegin());
  EXPECT_EQ(b->GetRecordCount(), 5u);
  for (std::int32_t i = 1; i <= 5; ++i) {
    ASSERT_EQ(b->GetNextRecord(buffer.data()), 0);
    std::int32_t v = 0;
    b->GetField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&v));
    EXPECT_EQ(v, i);
  }
  // Clones open on the same record, also of an exclusive cursor, and
  // without the session keeping a password for them.
  ASSERT_EQ(b->GotoPhysicalRecordNumber(3), 0);
  auto clone = b->CloneCursor();
  EXPECT_EQ(clone->GetPhysicalRecordNumber(), 3u);
  EXPECT_EQ(clone->GetTableName(), "image_b.DAT");
  b->CloseCursor();
  auto ex = Cursor(memory, true, "image_a");
  ex->SetInMemory(true);
  a->CloseCursor();
  ex->OpenCursor();
  ex->SetToEnd();
  auto exclusive_clone = ex->CloneCursor();
  EXPECT_TRUE(exclusive_clone->AtEnd());
  EXPECT_TRUE(exclusive_clone->GetExclusive());
  EXPECT_EQ(exclusive_clone->GetRecordCount(), 5u);
  exclusive_clone.reset();
  ex->CloseCursor();
  clone.reset();
  other->CloseCursor();
  for (const char* name : {"image_a", "image_b", "image_c"}) EXPECT_EQ(memory->DeleteDataTable(name, true), 0);
}

TEST(CursorSettings, ClonesKeepTheIndexTheRangeAndTheRecord) {
  qvtest::TempDir tmp;
  Env env(tmp.path().string());
  TTableCreation creation;
  TIndexDefinition primary, by_name;
  primary.Unique = 1;
  primary.Fields[0] = 1;
  by_name.Name = "ByName";
  by_name.Fields[0] = 2;
  creation.Indexes = {primary, by_name};
  CreateWithCursor(env.dir, {Field("N", dtInteger), Field("S", dtString, 8)}, creation);
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  Bytes buffer(c->GetRecordSize());
  // Names in the reverse order of the numbers.
  for (std::int32_t i = 1; i <= 6; ++i) {
    std::string name(1, static_cast<char>('g' - i));
    c->PutField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&i));
    c->PutField(2, buffer.data(), reinterpret_cast<const std::uint8_t*>(name.c_str()));
    c->AppendRecord(buffer.data());
  }
  c->SetIndexName("ByName");
  Bytes low(c->GetRecordSize()), high(c->GetRecordSize());
  c->PutField(2, low.data(), reinterpret_cast<const std::uint8_t*>("b"));
  c->PutField(2, high.data(), reinterpret_cast<const std::uint8_t*>("d"));
  c->SetRange(false, low.data(), 1, high.data(), 1);
  ASSERT_EQ(c->GetNextRecord(buffer.data()), 0);
  ASSERT_EQ(c->GetNextRecord(buffer.data()), 0);
  auto clone = c->CloneCursor();
  EXPECT_EQ(clone->GetIndexName(), "ByName");
  EXPECT_TRUE(clone->RangeActive());
  EXPECT_EQ(clone->GetPhysicalRecordNumber(), c->GetPhysicalRecordNumber());
  EXPECT_EQ(clone->GetRecordCount(), c->GetRecordCount());
  EXPECT_LT(c->GetRecordCount(), 6u);
  EXPECT_EQ(clone->GetRecordNumber(), c->GetRecordNumber());
  // Both walk on alike to the end of the range.
  for (;;) {
    Bytes mine(c->GetRecordSize()), its(clone->GetRecordSize());
    const TEngineErrorCode a = c->GetNextRecord(mine.data()), b = clone->GetNextRecord(its.data());
    ASSERT_EQ(a, b);
    EXPECT_EQ(mine, its);
    if (a != 0) break;
  }
}

TEST(CursorSettings, ClonesOfEncryptedTablesNeedNoSessionPassword) {
  qvtest::TempDir tmp;
  Env env(tmp.path().string());
  TTableCreation creation;
  creation.Settings.Encrypted = true;
  creation.Settings.Password = "pw";
  CreateWithCursor(env.dir, {Field("N", dtInteger)}, creation);
  env.session.AddPassword("pw");
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  EXPECT_EQ(c->GetPassword(), "pw");
  env.session.DeletePassword("pw");
  auto clone = c->CloneCursor();
  EXPECT_TRUE(clone->IsOpen());
  EXPECT_EQ(env.session.PasswordCount(), 0u);
}

}  // namespace
}  // namespace korvex::testing
