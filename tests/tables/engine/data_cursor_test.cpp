// Data cursor: creation checks as a case table, a model-based random run
// (records, BLOBs, walking both ways) against plain std::map state with the
// independent file checker after every batch, BLOB bounds, sessions and
// processes sharing one table.
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <set>
#include <optional>
#include <functional>
#include <cstring>
#include <random>

#include "support/child_process.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/cursor_test_support.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex::testing {
namespace {

using qvtest::ReadFileBytes;
using Bytes = std::vector<std::uint8_t>;

void Create(TDataDirectory* dir, std::vector<TFieldDefinition> fields, TTableCreation creation = {},
            const std::string& name = "t") {
  auto c = Cursor(dir, true, name);
  c->CreateTable(creation, fields);
}

std::string Files(const std::string& dir) {
  std::string all;
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
    std::string p = dir + "/t" + ext;
    all += std::filesystem::exists(p) ? ReadFileBytes(p) : std::string("-");
    all += '|';
  }
  return all;
}

TIndexDefinition Ix(const std::string& name, std::vector<std::uint16_t> fields, bool unique = true) {
  TIndexDefinition d;
  d.Name = name;
  d.Unique = unique ? 1 : 0;
  for (std::size_t i = 0; i < fields.size(); ++i) d.Fields[i] = fields[i];
  return d;
}

TEST(DataCursor, CreationChecksRefuseBeforeAnyFileExists) {
  auto name = [](std::size_t n) { return std::string(n, 'N'); };
  struct Case {
    const char* what;
    std::function<void(std::vector<TFieldDefinition>&, TTableCreation&)> change;
    int error;
  };
  const std::vector<Case> cases{
      {"plain", [](auto&, auto&) {}, 0},
      {"30-character name", [&](auto& f, auto&) { f[0].Name = name(30); }, 0},
      {"31-character name", [&](auto& f, auto&) { f[0].Name = name(31); }, err::kInvalidFieldName},
      {"empty name", [](auto& f, auto&) { f[0].Name = "  "; }, err::kInvalidFieldName},
      {"digit first", [](auto& f, auto&) { f[0].Name = "1a"; }, err::kInvalidFieldName},
      {"same name other case", [](auto& f, auto&) { f[1].Name = "NAME"; }, err::kInvalidFieldName},
      {"string 250", [](auto& f, auto&) { f[1].Size = 250; }, 0},
      {"string 251", [](auto& f, auto&) { f[1].Size = 251; }, err::kInvalidFieldDefinition},
      {"type 0", [](auto& f, auto&) { f[0].DataType = 0; }, err::kInvalidFieldDefinition},
      {"type 13", [](auto& f, auto&) { f[0].DataType = 13; }, err::kInvalidFieldDefinition},
      {"block 64", [](auto&, auto& c) { c.Settings.BlobBlockSize = 64; }, 0},
      {"block 63", [](auto&, auto& c) { c.Settings.BlobBlockSize = 63; }, err::kBlobFieldsOrBlockSize},
      {"1024 fields", [](auto& f, auto&) {
         while (f.size() < 1024) f.push_back(Field("F" + std::to_string(f.size()), dtSmallInt));
       }, 0},
      {"1025 fields", [](auto& f, auto&) {
         while (f.size() < 1025) f.push_back(Field("F" + std::to_string(f.size()), dtSmallInt));
       }, err::kFieldLimits},
      {"record over 65535 bytes", [](auto& f, auto&) {
         while (f.size() < 300) f.push_back(Field("F" + std::to_string(f.size()), dtString, 250));
       }, err::kFieldLimits},
      {"30 indexes", [](auto&, auto& c) { c.IndexCount = 30; }, 0},
      {"31 indexes", [](auto&, auto& c) { c.IndexCount = 31; }, err::kIndexLimits},
      {"32 indexes", [](auto&, auto& c) { c.IndexCount = 32; }, err::kIndexLimits},
      {"password 15", [](auto&, auto& c) { c.Settings.Encrypted = true; c.Settings.Password = std::string(15, 'p'); }, 0},
      {"password 16", [](auto&, auto& c) { c.Settings.Encrypted = true; c.Settings.Password = std::string(16, 'p'); },
       err::kInvalidPassword},
      {"password blanks", [](auto&, auto& c) { c.Settings.Encrypted = true; c.Settings.Password = "   "; },
       err::kInvalidPassword},
      {"bad minimum", [](auto& f, auto&) { f[0].Minimum = "abc"; }, err::kInvalidValidityCheck},
      {"unknown language", [](auto&, auto& c) { c.Settings.LanguageID = 0x7777; }, err::kLanguageUnavailable},
      // Index definitions: entry 0 the primary index.
      {"primary and secondary", [](auto&, auto& c) { c.Indexes = {Ix("", {1}), Ix("ByB", {2}, false)}; }, 0},
      {"no primary, two secondaries", [](auto&, auto& c) { c.Indexes = {Ix("", {}), Ix("a", {2}), Ix("b", {1, 2})}; }, 0},
      {"primary over a BLOB", [](auto&, auto& c) { c.Indexes = {Ix("", {3})}; }, err::kInvalidIndexFieldType},
      {"key field 9", [](auto&, auto& c) { c.Indexes = {Ix("", {}), Ix("a", {9})}; }, err::kInvalidIndexField},
      {"nameless secondary", [](auto&, auto& c) { c.Indexes = {Ix("", {}), Ix(" ", {1})}; }, err::kInvalidIndexName},
      {"secondary named 1a", [](auto&, auto& c) { c.Indexes = {Ix("", {}), Ix("1a", {1})}; }, err::kInvalidIndexName},
      {"same index name", [](auto&, auto& c) { c.Indexes = {Ix("", {}), Ix("ab", {1}), Ix("AB ", {2})}; },
       err::kIndexExists},
      {"secondary without fields", [](auto&, auto& c) { c.Indexes = {Ix("", {}), Ix("a", {})}; }, err::kInvalidKeySize},
      {"empty primary refused", [](auto&, auto& c) { c.Indexes = {Ix("", {})}; c.AllowEmptyPrimaryKey = false; },
       err::kInvalidKeySize},
      {"key of 524 bytes", [](auto& f, auto& c) {
         f = {Field("A", dtString, 250), Field("B", dtString, 250), Field("C", dtString, 18)};
         c.Indexes = {Ix("", {1, 2, 3}), Ix("x", {1, 2, 3}, false)};
       }, 0},
      {"key of 525 bytes", [](auto& f, auto& c) {
         f = {Field("A", dtString, 250), Field("B", dtString, 250), Field("C", dtString, 19)};
         c.Indexes = {Ix("", {}), Ix("x", {1, 2, 3}, false)};
       }, err::kInvalidKeySize},
      {"31 index definitions", [](auto&, auto& c) {
         c.Indexes = {Ix("", {})};
         for (int i = 0; i < 31; ++i) c.Indexes.push_back(Ix("I" + std::to_string(i), {1}, false));
       }, err::kIndexLimits},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    qvtest::TempDir tmp;
    Env env(tmp.path().string());
    std::vector<TFieldDefinition> fields{Field(" Name ", dtInteger), Field("B", dtString, 20), Field("M", dtBlob, 0, 1)};
    TTableCreation creation;
    c.change(fields, creation);
    int raised = RaisedNumber([&] { Create(env.dir, fields, creation); });
    EXPECT_EQ(raised, c.error);
    EXPECT_EQ(std::filesystem::exists(tmp.path().string() + "/t.DAT"), c.error == 0);
    EXPECT_EQ(std::filesystem::exists(tmp.path().string() + "/t.IDX"), c.error == 0);
    EXPECT_EQ(env.session.PasswordCount(), 0u);
    if (c.error != 0) continue;
    if (creation.Settings.Encrypted) env.session.AddPassword(creation.Settings.Password);
    auto cursor = Cursor(env.dir, false);
    cursor->OpenCursor();
    if (creation.Indexes.empty()) {
      EXPECT_EQ(cursor->GetFieldDefinitionByPos(1).Name.front(), 'N');  // trimmed
    }
    EXPECT_EQ(cursor->GetIndexCount(), creation.Indexes.empty() ? 0 : creation.Indexes.size() - 1);
    if (c.what == std::string("key of 524 bytes")) {
      TIndexDefinition d;
      cursor->GetIndexDefinition(1, d);
      EXPECT_EQ(d.KeySize, 528);
      cursor->GetIndexDefinition(0, d);
      EXPECT_EQ(d.KeySize, 524);
    }
    EXPECT_EQ(RunTableCheck(tmp.path().string() + "/t.DAT", EngineKeysOption()).status, 0);
  }
}

TEST(DataCursor, CreationOverAnExistingTable) {
  qvtest::TempDir tmp;
  Env env(tmp.path().string());
  Create(env.dir, {Field("A", dtInteger)});
  const std::string before = Files(tmp.path().string());
  EXPECT_EQ(RaisedNumber([&] { Create(env.dir, {Field("A", dtString, 9)}); }), err::kTableExists);
  EXPECT_EQ(Files(tmp.path().string()), before);
  TTableCreation overwrite;
  overwrite.Overwrite = true;
  Create(env.dir, {Field("A", dtString, 9)}, overwrite);
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  EXPECT_EQ(c->GetFieldDefinitionByPos(1).DataType, dtString);
  // Guards: not exclusive, read-only, open.
  auto shared = Cursor(env.dir, false);
  EXPECT_EQ(RaisedNumber([&] { std::vector<TFieldDefinition> f{Field("A", dtInteger)}; shared->CreateTable({}, f); }),
            err::kNeedsExclusive);
  EXPECT_EQ(RaisedNumber([&] { c->SetExclusive(true); }), err::kTableInUse);
}

TEST(DataCursor, FieldsPutAndGet) {
  qvtest::TempDir tmp;
  Env env(tmp.path().string());
  auto lower = Field("L", dtString, 8);
  lower.CharCase = 1;
  auto upper = Field("U", dtString, 8);
  upper.CharCase = 2;
  Create(env.dir, {Field("S", dtString, 8), lower, upper, Field("A", dtInteger, 0, fstAutoInc), Field("Q", dtBoolean)});
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  Bytes buffer(c->GetRecordSize());
  struct Case {
    int field;
    std::string in, out;
    bool blank;
  };
  for (const Case& k : std::vector<Case>{{1, "abc  ", "abc", false},
                                         {1, "   ", "", true},
                                         {1, "", "", true},
                                         {1, "123456789", "12345678", false},
                                         {2, "MiXeD ", "mixed", false},
                                         {3, "MiXeD", "MIXED", false}}) {
    SCOPED_TRACE(k.in);
    c->PutField(k.field, buffer.data(), reinterpret_cast<const std::uint8_t*>(k.in.c_str()));
    Bytes out(c->GetFieldDefinitionByPos(k.field).PhysicalSize + 1, 0xEE);
    EXPECT_EQ(c->GetField(k.field, buffer.data(), out.data()), k.blank);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data())), k.out);
  }
  std::uint32_t id = 77;
  c->PutField(4, buffer.data(), reinterpret_cast<std::uint8_t*>(&id));
  EXPECT_EQ(TDataCursor::GetRecordID(buffer.data()), 77u);
  c->PutField(4, buffer.data(), nullptr);  // an auto-increment value is never blanked
  EXPECT_EQ(TDataCursor::GetRecordID(buffer.data()), 77u);
  std::uint8_t yes[2] = {0, 9}, got[2];
  c->PutField(5, buffer.data(), yes);
  EXPECT_FALSE(c->GetField(5, buffer.data(), got));
  EXPECT_EQ(got[0], 1);
  EXPECT_EQ(RaisedNumber([&] { c->GetField(6, buffer.data(), got); }), err::kInvalidField);
}

TEST(DataCursor, DefaultsValidityAndBookmarks) {
  qvtest::TempDir tmp;
  Env env(tmp.path().string());
  auto limited = Field("I", dtInteger);
  limited.Minimum = "10";
  limited.Maximum = "20";
  auto required = Field("S", dtString, 10);
  required.Required = 1;
  required.Minimum = "b";
  auto f = Field("F", dtFloat);
  f.Default = "2.5";
  auto b = Field("B", dtBoolean);
  b.Default = "True";
  auto w = Field("W", dtWord);
  w.Default = "7";
  auto d = Field("D", dtString, 4);
  d.Default = "abcdef";
  Create(env.dir, {limited, required, f, b, w, d});
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  Bytes buffer(c->GetRecordSize());
  c->InitRecord(buffer.data());
  double fv = 0;
  std::uint8_t bv[2] = {};
  std::uint16_t wv = 0;
  char dv[6] = {};
  EXPECT_FALSE(c->GetField(3, buffer.data(), reinterpret_cast<std::uint8_t*>(&fv)));
  EXPECT_EQ(fv, 2.5);
  EXPECT_FALSE(c->GetField(4, buffer.data(), bv));
  EXPECT_EQ(bv[0], 1);
  EXPECT_FALSE(c->GetField(5, buffer.data(), reinterpret_cast<std::uint8_t*>(&wv)));
  EXPECT_EQ(wv, 7);
  EXPECT_FALSE(c->GetField(6, buffer.data(), reinterpret_cast<std::uint8_t*>(dv)));
  EXPECT_STREQ(dv, "abcd");
  EXPECT_TRUE(c->GetField(1, buffer.data(), nullptr));
  struct Case {
    std::optional<std::int32_t> i;
    const char* s;
    int error;
  };
  const std::string before = Files(tmp.path().string());
  for (const Case& k : std::vector<Case>{{9, "x", err::kBelowMinimum},
                                         {std::nullopt, "x", err::kBelowMinimum},
                                         {21, "x", err::kAboveMaximum},
                                         {15, "", err::kValueRequired},
                                         {15, "a", err::kBelowMinimum},
                                         {10, "b", 0},
                                         {20, "zz", 0}}) {
    SCOPED_TRACE(k.s);
    c->PutField(1, buffer.data(), k.i ? reinterpret_cast<const std::uint8_t*>(&*k.i) : nullptr);
    c->PutField(2, buffer.data(), reinterpret_cast<const std::uint8_t*>(k.s));
    EXPECT_EQ(RaisedNumber([&] { c->AppendRecord(buffer.data()); }), k.error);
    if (k.error != 0) {
      EXPECT_EQ(Files(tmp.path().string()), before);
    }
  }
  EXPECT_EQ(c->GetRecordCount(), 2u);
  // A modify is checked the same way and changes nothing when refused.
  ASSERT_EQ(c->GetCurrentRecord(buffer.data(), true), 0);
  std::int32_t nine = 9;
  c->PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(&nine));
  const std::string stored = Files(tmp.path().string());
  EXPECT_EQ(RaisedNumber([&] { c->ModifyRecord(buffer.data(), true); }), err::kBelowMinimum);
  EXPECT_EQ(Files(tmp.path().string()), stored);
  c->UserWriteUnlockRecord(0);
  // Bookmarks: the record number; a deleted record's bookmark fails.
  std::uint8_t first[4], second[4];
  c->SetToBegin();
  c->GetNextRecord(buffer.data());
  c->GetBookmark(first);
  c->GetNextRecord(buffer.data());
  c->GetBookmark(second);
  EXPECT_EQ(c->CompareBookmarks(first, second), -1);
  EXPECT_EQ(c->CompareBookmarks(second, first), 1);
  EXPECT_TRUE(c->SetToBookmark(first));
  EXPECT_EQ(c->GetPhysicalRecordNumber(), 1u);
  ASSERT_EQ(c->GetCurrentRecord(buffer.data(), false), 0);
  c->DeleteRecord(buffer.data());
  EXPECT_FALSE(c->SetToBookmark(first));
  EXPECT_TRUE(c->SetToBookmark(second));
}

// ---- model-based run -----------------------------------------------------------

// The table as the user should see it: live records by physical number
// (no primary key: records are never reused, so numbers only grow), the
// BLOB content of each, and the cursor's position.
struct Model {
  std::map<std::uint32_t, Bytes> live;
  std::map<std::uint32_t, std::string> blob;
  std::uint32_t next = 1, last_id = 0;
  std::uint32_t at = 0;  // 0: at an end
  bool bof = true;

  // An appended record: the next physical number and record ID (after
  // 0x7FFFFFFF comes 1) written into its header bytes; its number.
  std::uint32_t Append(const Bytes& record, const std::string& memo) {
    const std::uint32_t n = next++;
    last_id = last_id >= 0x7FFFFFFF ? 1 : last_id + 1;
    Bytes expected = record;
    expected[0] = 0;
    std::memcpy(expected.data() + 1, &n, 4);
    std::memcpy(expected.data() + 5, &last_id, 4);
    live[n] = expected;
    blob[n] = memo;
    return n;
  }
};

struct Run {
  std::mt19937 rng;
  std::vector<TFieldDefinition> fields;
  int blob_field = 0;
  std::uint16_t block_size = 512;

  explicit Run(unsigned seed) : rng(seed) {
    const std::uint16_t sizes[] = {64, 256, 512, 768, 1024, 4096};
    block_size = sizes[rng() % std::size(sizes)];
    const std::uint8_t types[] = {dtString, dtDate,  dtBoolean, dtSmallInt, dtInteger, dtFloat,
                                  dtBCD,    dtBytes, dtTime,    dtTimeStamp, dtWord};
    int count = 1 + static_cast<int>(rng() % 6);
    for (int i = 0; i < count; ++i) {
      std::uint8_t t = types[rng() % std::size(types)];
      fields.push_back(Field("F" + std::to_string(i), t, TypeHasSize(t) ? 1 + rng() % 40 : 0));
    }
    if (rng() % 2) fields.push_back(Field("Id", dtInteger, 0, fstAutoInc));
    if (rng() % 3) {
      fields.push_back(Field("Memo", dtBlob, 0, fstMemo));
      blob_field = static_cast<int>(fields.size());
    }
  }
  std::string Text(std::size_t max) {
    std::string s(rng() % (max + 1), ' ');
    for (char& ch : s) ch = static_cast<char>('a' + rng() % 26);
    return s;
  }
  // Random field values through PutField; the BLOB gets new content
  // (sometimes none), which `content` receives.
  void Fill(TDataCursor& c, Bytes& buffer, std::string* content, bool keep_blob) {
    for (int f = 1; f <= c.GetFieldCount(); ++f) {
      const TFieldDefinition& def = c.GetFieldDefinitionByPos(f);
      if (f == blob_field || def.IsAutoIncrement()) continue;
      if (rng() % 5 == 0) {
        c.PutField(f, buffer.data(), nullptr);
        continue;
      }
      Bytes value(def.PhysicalSize + 1, 0);
      if (def.DataType == dtString) {
        std::string s = Text(def.Size);
        std::copy(s.begin(), s.end(), value.begin());
      } else {
        for (auto& b : value) b = static_cast<std::uint8_t>(rng());
      }
      c.PutField(f, buffer.data(), value.data());
    }
    if (blob_field && !keep_blob) {
      ASSERT_EQ(c.OpenBlob(blob_field, buffer.data(), 2), 0);
      std::int64_t size = 0;
      ASSERT_EQ(c.GetBlobSize(blob_field, buffer.data(), size), 0);
      ASSERT_EQ(c.TruncateBlob(blob_field, buffer.data(), 0), 0);
      std::string s = rng() % 4 ? Text(rng() % 2 ? 30 : 3000) : "";
      ASSERT_EQ(c.PutBlob(blob_field, buffer.data(), 0, reinterpret_cast<const std::uint8_t*>(s.data()),
                          static_cast<std::int64_t>(s.size())), 0);
      *content = s;
    }
  }
};

// The BLOB content of a record buffer read back through the cursor.
std::string BlobOf(TDataCursor& c, int field, Bytes buffer) {
  if (c.OpenBlob(field, buffer.data(), 1, true) != 0) return "<open failed>";
  std::int64_t size = 0, count = 0;
  c.GetBlobSize(field, buffer.data(), size);
  std::string s(static_cast<std::size_t>(size), '\0');
  c.GetBlob(field, buffer.data(), 0, reinterpret_cast<std::uint8_t*>(s.data()), size, count);
  c.FreeBlob(field, buffer.data(), true);
  return s;
}

// Record bytes without the BLOB reference and signature (block numbers are
// the file's business).
Bytes Comparable(const TDataCursor& c, int blob_field, Bytes b) {
  if (blob_field) std::fill_n(b.begin() + c.GetFieldDefinitionByPos(blob_field).Offset + 1, 8, 0);
  return b;
}

// Leaves the cursor where the model says, or at the beginning when the model
// stood on a record deleted since.
void ExpectSame(TDataCursor& c, const Run& run, Model& m) {
  ASSERT_EQ(c.GetRecordCount(), m.live.size());
  Bytes buffer(c.GetRecordSize());
  // Both directions over the whole table; afterwards the position is put back.
  for (int direction : {1, -1}) {
    direction > 0 ? c.SetToBegin() : c.SetToEnd();
    std::vector<std::uint32_t> seen;
    while ((direction > 0 ? c.GetNextRecord(buffer.data()) : c.GetPriorRecord(buffer.data())) == 0) {
      std::uint32_t n = c.GetPhysicalRecordNumber();
      seen.push_back(n);
      ASSERT_TRUE(m.live.count(n)) << n;
      ASSERT_EQ(Comparable(c, run.blob_field, buffer), Comparable(c, run.blob_field, m.live.at(n))) << "record " << n;
      if (run.blob_field) {
        ASSERT_EQ(BlobOf(c, run.blob_field, buffer), m.blob.at(n)) << "record " << n;
      }
    }
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](auto b) { return b == 0; }));
    std::vector<std::uint32_t> expected;
    for (auto& [n, _] : m.live) expected.push_back(n);
    if (direction < 0) std::reverse(expected.begin(), expected.end());
    ASSERT_EQ(seen, expected);
  }
  if (m.at != 0 && !m.live.count(m.at)) {
    ASSERT_EQ(c.GotoPhysicalRecordNumber(m.at), err::kRecordNotFound);
    m.at = 0;
    m.bof = true;
  }
  if (m.at != 0) {
    ASSERT_EQ(c.GotoPhysicalRecordNumber(m.at), 0);
    EXPECT_EQ(c.GetRecordNumber(), std::distance(m.live.begin(), m.live.find(m.at)) + 1);
  } else {
    m.bof ? c.SetToBegin() : c.SetToEnd();
  }
}

void RandomRun(unsigned seed, bool exclusive, int operations) {
  qvtest::TempDir tmp;
  Env env(tmp.path().string());
  Run run(seed);
  SCOPED_TRACE("seed " + std::to_string(seed) + (exclusive ? " exclusive" : " shared") + " blocks " +
               std::to_string(run.block_size));
  TTableCreation creation;
  creation.Settings.BlobBlockSize = run.block_size;
  Create(env.dir, run.fields, creation);
  auto c = Cursor(env.dir, exclusive);
  c->OpenCursor();
  Model m;
  // A transaction in progress and the model as it began.
  std::optional<Model> before;
  auto end_transaction = [&](bool commit) {
    if (!before) return;
    if (commit) {
      env.dir->CommitTransaction(true);
    } else {
      env.dir->RollbackTransaction();
      m = *before;
      c->SetToBegin();
      m.at = 0;
      m.bof = true;
    }
    before.reset();
  };
  const int size = static_cast<int>(c->GetRecordSize());
  auto& rng = run.rng;
  for (int op = 0; op < operations; ++op) {
    Bytes buffer(size);
    int kind = static_cast<int>(rng() % 100);
    std::string content;
    if (kind < 30) {  // append
      run.Fill(*c, buffer, &content, false);
      c->AppendRecord(buffer.data());
      const std::uint32_t n = m.Append(buffer, content);
      m.at = n;
      ASSERT_EQ(c->GetPhysicalRecordNumber(), n);
    } else if (kind < 45 && m.at != 0 && m.live.count(m.at)) {  // modify
      ASSERT_EQ(c->GetCurrentRecord(buffer.data(), false), 0);
      ASSERT_EQ(c->GetCurrentRecord(buffer.data(), true), 0);
      bool keep = rng() % 2;
      run.Fill(*c, buffer, &content, keep);
      c->ModifyRecord(buffer.data(), true);
      Bytes expected = buffer;
      std::memcpy(expected.data() + 5, m.live[m.at].data() + 5, 4);  // the ID stays
      m.live[m.at] = expected;
      if (!keep) m.blob[m.at] = content;
    } else if (kind < 55 && m.at != 0 && m.live.count(m.at)) {  // delete
      ASSERT_EQ(c->GetCurrentRecord(buffer.data(), false), 0);
      c->DeleteRecord(buffer.data());
      m.live.erase(m.at);
      m.blob.erase(m.at);
      EXPECT_EQ(c->GetCurrentRecord(buffer.data(), false), err::kRecordChanged);
    } else if (kind < 75) {  // next or prior
      bool forward = rng() % 2;
      TEngineErrorCode status = forward ? c->GetNextRecord(buffer.data()) : c->GetPriorRecord(buffer.data());
      std::map<std::uint32_t, Bytes>::const_iterator it;
      if (forward) {
        it = m.at == 0 ? (m.bof ? m.live.begin() : m.live.end()) : m.live.upper_bound(m.at);
      } else {
        it = m.at == 0 ? (m.bof ? m.live.end() : (m.live.empty() ? m.live.end() : std::prev(m.live.end())))
                       : (m.live.lower_bound(m.at) == m.live.begin() ? m.live.end()
                                                                     : std::prev(m.live.lower_bound(m.at)));
      }
      if (it == m.live.end()) {
        ASSERT_EQ(status, forward ? err::kEndOfFile : err::kBeginningOfFile);
        m.at = 0;
        m.bof = !forward;
      } else {
        ASSERT_EQ(status, 0);
        m.at = it->first;
        ASSERT_EQ(Comparable(*c, run.blob_field, buffer), Comparable(*c, run.blob_field, it->second));
      }
      ASSERT_EQ(c->GetPhysicalRecordNumber(), m.at);
    } else if (kind < 85) {  // go to a physical record number
      std::uint32_t n = 1 + rng() % (m.next + 1);
      TEngineErrorCode status = c->GotoPhysicalRecordNumber(n);
      ASSERT_EQ(status, m.live.count(n) ? 0 : err::kRecordNotFound);
      if (status == 0) {
        m.at = n;
      } else if (n < m.next) {
        // A deleted record: the nearest live one after it, else before it.
        auto after = m.live.upper_bound(n);
        if (after != m.live.end()) m.at = after->first;
        else if (!m.live.empty()) m.at = std::prev(after)->first;
        else m.at = 0, m.bof = true;
      }
      ASSERT_EQ(c->GetPhysicalRecordNumber(), m.at);
    } else if (kind < 90) {
      bool begin = rng() % 2;
      begin ? c->SetToBegin() : c->SetToEnd();
      m.at = 0;
      m.bof = begin;
    } else if (kind < 93) {  // close and open again
      end_transaction(rng() % 2);
      c->CloseCursor();
      c->OpenCursor();
      m.at = 0;
      m.bof = true;
    } else if (kind < 96) {  // a transaction begins, or ends in a commit or a rollback
      if (before) {
        end_transaction(rng() % 2);
      } else {
        before = m;
        env.dir->StartTransaction();
      }
    } else {
      ExpectSame(*c, run, m);
    }
    if (::testing::Test::HasFatalFailure()) return;
    if (op % 500 == 499) {
      end_transaction(rng() % 2);
      ExpectSame(*c, run, m);
      c->CloseCursor();
      CheckResult check = RunTableCheck(tmp.path().string() + "/t.DAT");
      ASSERT_EQ(check.status, 0) << check.output;
      c->OpenCursor();
      m.at = 0;
      m.bof = true;
    }
  }
  end_transaction(false);
  ExpectSame(*c, run, m);
}

TEST(DataCursor, ModelRunShared) {
  unsigned base = std::random_device{}();
  for (unsigned i = 0; i < 6; ++i) RandomRun(base + i, false, 2000);
}

TEST(DataCursor, ModelRunExclusive) {
  unsigned base = std::random_device{}();
  for (unsigned i = 0; i < 6; ++i) RandomRun(base + i, true, 2000);
}

// A table past every budget of the caches: some 34 MB of records of about
// 2 KB (over 500 read windows, twice the clean copies' budget, the record
// cache 64 records), memos of 300 to 2,000 blocks whose chains start on
// blocks freed just before, edited in transactions (one rolled back), then
// repaired, repaired adopting BLOB signatures, written back as version 3
// and upgraded, optimized and copied, every
// record and memo compared with the model after each step.
void LargeRun(unsigned seed) {
  // In memory: the run's commits and repairs sync their journals some
  // hundreds of times, which a busy disk makes seconds.
  qvtest::TempDir tmp(std::filesystem::exists("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                          : std::filesystem::temp_directory_path());
  Env env(tmp.path().string());
  Run run(seed);
  SCOPED_TRACE("large, seed " + std::to_string(seed));
  // The transactions' appends (4 MB each) pass the spill budgets.
  SmallSpillLimits limits(256 << 10, 64);
  run.fields.clear();
  for (int i = 0; i < 8; ++i) run.fields.push_back(Field("S" + std::to_string(i), dtString, 249));
  run.fields.push_back(Field("Id", dtInteger, 0, fstAutoInc));
  constexpr int kId = 9;
  run.fields.push_back(Field("Memo", dtBlob, 0, fstMemo));
  run.blob_field = static_cast<int>(run.fields.size());
  TTableCreation creation;
  creation.Settings.BlobBlockSize = run.block_size = 512;
  // No primary index (deleted records are not reused); a unique one by Id,
  // whose order is the records' order.
  creation.Indexes.resize(2);
  creation.Indexes[1].Name = "ById";
  creation.Indexes[1].Fields[0] = kId;
  creation.Indexes[1].FieldCount = 1;
  creation.Indexes[1].Unique = 1;
  Create(env.dir, run.fields, creation);
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  const int size = static_cast<int>(c->GetRecordSize());
  ASSERT_GT(size, 2000);
  Model m;
  auto& rng = run.rng;
  auto put_memo = [&](Bytes& buffer, const std::string& memo) {
    ASSERT_EQ(c->OpenBlob(run.blob_field, buffer.data(), 2), 0);
    ASSERT_EQ(c->TruncateBlob(run.blob_field, buffer.data(), 0), 0);
    ASSERT_EQ(c->PutBlob(run.blob_field, buffer.data(), 0, reinterpret_cast<const std::uint8_t*>(memo.data()),
                         static_cast<std::int64_t>(memo.size())),
              0);
  };
  // A record with random fields and a random memo, or the one given.
  auto append = [&](const std::string* memo) {
    Bytes buffer(size);
    std::string content;
    run.Fill(*c, buffer, &content, memo != nullptr);
    if (memo) {
      put_memo(buffer, *memo);
      content = *memo;
    }
    c->AppendRecord(buffer.data());
    m.Append(buffer, content);
  };
  auto remove = [&](std::uint32_t n) {
    Bytes buffer(size);
    ASSERT_EQ(c->GotoPhysicalRecordNumber(n), 0);
    ASSERT_EQ(c->GetCurrentRecord(buffer.data(), false), 0);
    c->DeleteRecord(buffer.data());
    m.live.erase(n);
    m.blob.erase(n);
  };
  // Found by Id and deleted: the cursor stands on the next Id, its record
  // read only when asked for.
  auto remove_by_id = [&](std::uint32_t n) {
    Bytes buffer(size), key(size);
    std::int32_t id = 0;
    c->GetField(kId, m.live.at(n).data(), reinterpret_cast<std::uint8_t*>(&id));
    c->SetIndexName("ById");
    c->PutField(kId, key.data(), reinterpret_cast<const std::uint8_t*>(&id));
    ASSERT_TRUE(c->Find(false, key.data(), 0, false, 0, buffer.data())) << id;
    c->DeleteRecord(buffer.data());
    m.live.erase(n);
    m.blob.erase(n);
    const auto next = m.live.upper_bound(n);
    if (next == m.live.end()) {
      EXPECT_TRUE(c->AtEnd());
    } else {
      ASSERT_EQ(c->GetCurrentRecord(buffer.data(), false), 0);
      EXPECT_EQ(Comparable(*c, run.blob_field, buffer), Comparable(*c, run.blob_field, next->second)) << n;
    }
    c->SetIndexPos(kPhysicalOrder);
  };
  auto random_live = [&] {
    auto it = m.live.lower_bound(1 + static_cast<std::uint32_t>(rng() % m.next));
    return it == m.live.end() ? m.live.begin()->first : it->first;
  };
  constexpr int kRecords = 17000;
  for (int i = 0; i < kRecords; ++i) {
    if (i % 2000 == 0) env.dir->StartTransaction();
    if (i % 1500 == 700) {
      // A long memo whose chain starts on the blocks of one just deleted.
      const std::string small = run.Text(5000);
      append(&small);
      remove(m.next - 1);
      std::string memo(494 * (300 + rng() % 1700) - rng() % 494, ' ');
      for (char& ch : memo) ch = static_cast<char>('a' + rng() % 26);
      append(&memo);
    } else {
      append(nullptr);
    }
    if (::testing::Test::HasFatalFailure()) return;
    if (i % 2000 == 1999 || i + 1 == kRecords) env.dir->CommitTransaction(true);
  }
  // Edits here and there: one transaction committed, one rolled back.
  for (bool commit : {true, false}) {
    const Model before = m;
    env.dir->StartTransaction();
    for (int k = 0; k < 400; ++k) {
      const std::uint32_t n = random_live();
      if (k % 3 == 0) {
        if (k % 2 == 0) remove(n);
        else remove_by_id(n);
        continue;
      }
      Bytes buffer(size);
      ASSERT_EQ(c->GotoPhysicalRecordNumber(n), 0);
      ASSERT_EQ(c->GetCurrentRecord(buffer.data(), false), 0);
      ASSERT_EQ(c->GetCurrentRecord(buffer.data(), true), 0);
      std::string content;
      const bool keep = rng() % 2;
      run.Fill(*c, buffer, &content, keep);
      c->ModifyRecord(buffer.data(), true);
      Bytes expected = buffer;
      std::memcpy(expected.data() + 5, m.live[n].data() + 5, 4);
      m.live[n] = expected;
      if (!keep) m.blob[n] = content;
      if (::testing::Test::HasFatalFailure()) return;
    }
    if (commit) {
      env.dir->CommitTransaction(true);
    } else {
      env.dir->RollbackTransaction();
      m = before;
    }
  }
  m.at = 0;
  m.bof = true;
  ExpectSame(*c, run, m);
  c->CloseCursor();
  // The records renumbered in their order, as a rewrite leaves them.
  auto renumber = [&] {
    Model packed;
    for (auto& [n, bytes] : m.live) {
      const std::uint32_t k = packed.next++;
      packed.live[k] = bytes;
      std::memcpy(packed.live[k].data() + 1, &k, 4);
      packed.blob[k] = m.blob[n];
    }
    m = packed;
  };
  struct Step {
    const char* name;
    std::function<void(TDataCursor&)> run;
    bool rewrites;
  };
  std::vector<std::string> findings;
  const Step steps[] = {
      {"repair", [](TDataCursor& t) { t.RepairTable(false, false); }, false},
      {"adopting repair", [](TDataCursor& t) { t.RepairTable(false, true); }, false},
      // The table as version 3 wrote it, its blocks with signatures the
      // upgrade's repair replaces, upgraded again.
      {"upgrade",
       [&](TDataCursor& t) {
         qvtest::CommandResult old = qvtest::RunShell("python3 '" QV_SOURCE_DIR
                                                      "/tests/tables/engine/old_tables.py' downgrade '" +
                                                      tmp.path().string() + "' 2>&1");
         ASSERT_EQ(old.status, 0) << old.output;
         t.UpgradeTable();
         EXPECT_TRUE(std::filesystem::exists(tmp.path() / "t.DUP")) << "no upgrade took place";
       },
       false},
      {"optimize", [](TDataCursor& t) { t.OptimizeTable("", true); }, true},
      {"copy", [](TDataCursor& t) { t.CopyTable("c", true); }, false},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    auto t = Cursor(env.dir, true);
    // The findings: every line but those that start and end a step, and
    // the upgrade's reports of its own steps (its old trees rebuilt).
    auto finding = [](void* user, const std::string& line) {
      for (const char* routine : {" started at ", " completed at ", " upgraded to latest table version ",
                                  " rebuilt from the records, error fixed"})
        if (line.find(routine) != std::string::npos) return true;
      static_cast<std::vector<std::string>*>(user)->push_back(line);
      return true;
    };
    t->SetRepairLogCallback(finding, &findings);
    t->SetUpgradeLogCallback(finding, &findings);
    step.run(*t);
    if (::testing::Test::HasFatalFailure()) return;
    EXPECT_EQ(findings, std::vector<std::string>{});
    findings.clear();
    if (step.rewrites) renumber();
    // Exclusive: the reads check the files, not the shared read path the
    // run went through above.
    auto x = Cursor(env.dir, true);
    x->OpenCursor();
    ExpectSame(*x, run, m);
    if (::testing::Test::HasFatalFailure()) return;
  }
  auto copy = Cursor(env.dir, true, "c");
  copy->OpenCursor();
  ExpectSame(*copy, run, m);
}

TEST(DataCursor, ModelRunPastEveryCacheWithMaintenance) { LargeRun(std::random_device{}()); }

// ---- BLOB bounds -----------------------------------------------------------------

TEST(DataCursor, BlobBoundsAndHandles) {
  qvtest::TempDir tmp;
  Env env(tmp.path().string());
  Create(env.dir, {Field("N", dtInteger), Field("M", dtBlob, 0, fstMemo)});
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  Bytes buffer(c->GetRecordSize());
  const std::uint8_t ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  std::uint8_t out[16];
  std::int64_t count = -1, size = 0;
  EXPECT_EQ(c->OpenBlob(1, buffer.data(), 2), err::kInvalidBlobField);
  EXPECT_EQ(c->GetBlobSize(2, buffer.data(), size), err::kInvalidBlobHandle);
  ASSERT_EQ(c->OpenBlob(2, buffer.data(), 2), 0);
  ASSERT_EQ(c->PutBlob(2, buffer.data(), 100, ten, 10), 0);
  c->GetBlobSize(2, buffer.data(), size);
  EXPECT_EQ(size, 110);
  struct Case {
    std::int64_t offset, length, count;
    TEngineErrorCode status;
  };
  for (const Case& k : std::vector<Case>{{109, 10, 1, err::kEndOfBlob},
                                         {100, 10, 10, 0},
                                         {110, 5, 0, err::kEndOfBlob},
                                         {500, 5, 0, err::kEndOfBlob},
                                         {-1, 5, 0, err::kInvalidBlobOffset},
                                         {0, -1, 0, err::kInvalidBlobLength},
                                         {0x7FFFFFFF, 0x7FFFFFFF, 0, err::kEndOfBlob},
                                         {std::int64_t{1} << 40, 1, 0, err::kInvalidBlobOffset}}) {
    SCOPED_TRACE(k.offset);
    EXPECT_EQ(c->GetBlob(2, buffer.data(), k.offset, out, k.length, count), k.status);
    EXPECT_EQ(count, k.count);
  }
  EXPECT_EQ(c->GetBlob(2, buffer.data(), 109, out, 10, count), err::kEndOfBlob);
  EXPECT_EQ(out[0], 10);
  EXPECT_EQ(c->PutBlob(2, buffer.data(), -9, ten, 1), err::kInvalidBlobOffset);
  EXPECT_EQ(c->PutBlob(2, buffer.data(), 0, ten, -1), err::kInvalidBlobLength);
  EXPECT_EQ(c->PutBlob(2, buffer.data(), 0x7FFFFFF0, ten, 0x20), err::kInvalidBlobLength);
  // Truncating to a longer length grows the BLOB with zero bytes.
  EXPECT_EQ(c->TruncateBlob(2, buffer.data(), -1), err::kInvalidBlobLength);
  EXPECT_EQ(c->TruncateBlob(2, buffer.data(), 112), 0);
  c->GetBlobSize(2, buffer.data(), size);
  EXPECT_EQ(size, 112);
  EXPECT_EQ(c->GetBlob(2, buffer.data(), 109, out, 3, count), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(out, out + 3), (std::vector<std::uint8_t>{10, 0, 0}));
  EXPECT_EQ(c->TruncateBlob(2, buffer.data(), 110), 0);
  c->GetBlobSize(2, buffer.data(), size);
  EXPECT_EQ(size, 110);

  // Opening twice gives the same blob; internal/user free matrix.
  Bytes held = buffer;
  ASSERT_EQ(c->OpenBlob(2, buffer.data(), 2, false), 0);
  EXPECT_EQ(buffer, held);
  EXPECT_EQ(c->OpenBlobCount(), 1u);
  EXPECT_EQ(c->FreeBlob(2, buffer.data(), true), 0);  // the user's: stays open
  EXPECT_TRUE(c->ValidBlobHandle(2, buffer.data()));
  // The engine reading the user's open blob (a filter reads a copy of the
  // record) neither closes it nor loses its unsaved edits.
  ASSERT_EQ(c->PutBlob(2, buffer.data(), 0, ten + 9, 1), 0);
  EXPECT_EQ(c->OpenBlob(2, buffer.data(), 1, true), 0);
  EXPECT_EQ(c->FreeBlob(2, buffer.data(), true), 0);
  // The engine's whole read through the open handle (as a copy, a filter
  // and a record copy read it): the edited content, the blob still open.
  std::vector<std::uint8_t> read = c->ReadBlobContent(2, buffer.data());
  ASSERT_FALSE(read.empty());
  EXPECT_EQ(read[0], 10);
  c->FreeAllBlobs(false);
  ASSERT_TRUE(c->ValidBlobHandle(2, buffer.data()));
  out[0] = 0;
  EXPECT_EQ(c->GetBlob(2, buffer.data(), 0, out, 1, count), 0);
  EXPECT_EQ(out[0], 10);
  EXPECT_EQ(c->FreeBlob(2, buffer.data(), false), 0);
  EXPECT_FALSE(c->ValidBlobHandle(2, buffer.data()));
  EXPECT_EQ(c->FreeBlob(2, buffer.data(), false), err::kInvalidBlobHandle);
  Bytes internal(c->GetRecordSize());
  ASSERT_EQ(c->OpenBlob(2, internal.data(), 2, true), 0);
  EXPECT_EQ(c->FreeBlob(2, internal.data(), false), 0);  // internal: the user cannot free it
  EXPECT_TRUE(c->ValidBlobHandle(2, internal.data()));
  c->FreeAllBlobs(false);
  EXPECT_FALSE(c->ValidBlobHandle(2, internal.data()));
  // The user's open of a blob the engine holds makes it the user's.
  Bytes shared(c->GetRecordSize());
  ASSERT_EQ(c->OpenBlob(2, shared.data(), 2, true), 0);
  ASSERT_EQ(c->OpenBlob(2, shared.data(), 2, false), 0);
  c->FreeAllBlobs(false);
  EXPECT_TRUE(c->ValidBlobHandle(2, shared.data()));
  EXPECT_EQ(c->FreeBlob(2, shared.data(), false), 0);
  EXPECT_FALSE(c->ValidBlobHandle(2, shared.data()));

  // 64 open at most; the 65th leaves its field alone.
  std::vector<Bytes> buffers(65, Bytes(c->GetRecordSize()));
  for (int i = 0; i < 64; ++i) ASSERT_EQ(c->OpenBlob(2, buffers[i].data(), 2), 0);
  EXPECT_EQ(c->OpenBlob(2, buffers[64].data(), 2), err::kTooManyBlobs);
  EXPECT_EQ(buffers[64], Bytes(c->GetRecordSize()));
  c->FreeAllBlobs(true);
  // A stale handle names nothing after its blob went.
  EXPECT_EQ(c->GetBlobSize(2, buffers[3].data(), size), err::kInvalidBlobHandle);
}

TEST(DataCursor, RecordIDWrapsLikeTheCounter) {
  qvtest::TempDir tmp;
  Env env(tmp.path().string());
  Create(env.dir, {Field("Id", dtInteger, 0, fstAutoInc), Field("N", dtInteger)});
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  c->Table()->DataFile().SetNextFreeRecordID(0x7FFFFFFE);
  Bytes buffer(c->GetRecordSize());
  for (std::uint32_t expected : {0x7FFFFFFFu, 1u}) {
    c->AppendRecord(buffer.data());
    std::uint32_t id = 0;
    c->GetField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&id));
    EXPECT_EQ(id, expected);
    EXPECT_EQ(c->Table()->DataFile().GetLastRecordID(), expected);
    ASSERT_EQ(c->GetCurrentRecord(buffer.data(), false), 0);
    EXPECT_EQ(TDataCursor::GetRecordID(buffer.data()), expected);
  }
}

// A record's number in physical order is its place among the live records,
// told without reading the records before it, and kept right through this
// cursor's appends and deletes and another cursor's.
TEST(DataCursor, PhysicalRecordNumbersReadNoRecords) {
  qvtest::TempDir tmp;
  Env env(tmp.path().string());
  Create(env.dir, {Field("N", dtInteger)});
  auto c = Cursor(env.dir, false), other = Cursor(env.dir, false);
  c->OpenCursor();
  other->OpenCursor();
  Bytes buffer(c->GetRecordSize());
  std::set<std::uint32_t> live;
  env.dir->StartTransaction();
  for (std::uint32_t n = 1; n <= 30000; ++n) {
    c->AppendRecord(buffer.data());
    live.insert(n);
  }
  env.dir->CommitTransaction(true);
  auto drop = [&](TDataCursor& cursor, std::uint32_t n) {
    ASSERT_EQ(cursor.GotoPhysicalRecordNumber(n), 0);
    ASSERT_EQ(cursor.GetCurrentRecord(buffer.data(), false), 0);
    cursor.DeleteRecord(buffer.data());
    live.erase(n);
  };
  for (std::uint32_t n = 7; n <= 30000; n += 7) drop(*c, n);
  auto expect_at = [&](std::uint32_t n) -> std::uint32_t {
    EXPECT_EQ(c->GotoPhysicalRecordNumber(n), 0);
    const TDataFileStatistics before = c->Table()->DataFile().Statistics();
    EXPECT_EQ(c->GetRecordNumber(), std::distance(live.begin(), live.find(n)) + 1) << n;
    const TDataFileStatistics after = c->Table()->DataFile().Statistics();
    return after.CacheHits + after.CacheMisses - before.CacheHits - before.CacheMisses;
  };
  expect_at(29999);
  EXPECT_EQ(expect_at(29998), 0u) << "no record read";
  drop(*c, 5);
  c->AppendRecord(buffer.data());
  live.insert(30001);
  EXPECT_EQ(expect_at(30001), 0u) << "this cursor's writes keep the numbers";
  EXPECT_EQ(expect_at(4), 0u);
  drop(*other, 2);
  expect_at(29999);
  expect_at(1);
}

TEST(DataCursor, EncryptedTableAsksForItsPassword) {
  qvtest::TempDir tmp;
  Env env(tmp.path().string());
  TTableCreation creation;
  creation.Settings.Encrypted = true;
  creation.Settings.Password = " secret ";
  Create(env.dir, {Field("N", dtInteger)}, creation);
  EXPECT_EQ(env.session.PasswordCount(), 0u);
  auto c = Cursor(env.dir, false);
  EXPECT_EQ(RaisedNumber([&] { c->OpenCursor(); }), err::kPasswordRequired);
  EXPECT_FALSE(c->IsOpen());
  EXPECT_EQ(env.dir->TableObjectCount(), 0u);
  int asked = 0;
  c->SetPasswordCallback([&] {
    ++asked;
    env.session.AddPassword("secret");
    return true;
  });
  c->OpenCursor();
  EXPECT_TRUE(c->IsOpen());
  EXPECT_EQ(asked, 1);
}

// ---- sharing ------------------------------------------------------------------------

TEST(DataCursor, TwoSessionsSeeEachOthersWrites) {
  for (bool strict : {false, true}) {
    SCOPED_TRACE(strict ? "strict" : "lenient");
    qvtest::TempDir tmp;
    Env a(tmp.path().string()), b(tmp.path().string());
    a.session.StrictChangeDetection = b.session.StrictChangeDetection = strict;
    Create(a.dir, {Field("N", dtInteger)});
    auto ca = Cursor(a.dir, false), cb = Cursor(b.dir, false);
    ca->OpenCursor();
    cb->OpenCursor();
    Bytes ba(ca->GetRecordSize()), bb(cb->GetRecordSize());
    std::int32_t v = 1;
    ca->PutField(1, ba.data(), reinterpret_cast<std::uint8_t*>(&v));
    ca->AppendRecord(ba.data());
    ASSERT_EQ(cb->GetNextRecord(bb.data()), 0);
    v = 2;
    ca->PutField(1, ba.data(), reinterpret_cast<std::uint8_t*>(&v));
    ca->AppendRecord(ba.data());
    EXPECT_EQ(cb->GetRecordCount(), 2u);
    EXPECT_EQ(cb->GetPhysicalRecordNumber(), 1u);  // stays on its record
    ASSERT_EQ(cb->GetCurrentRecord(bb.data(), false), 0);
    // a changes record 1 under its lock; b's copy is then stale.
    ASSERT_EQ(ca->GotoPhysicalRecordNumber(1), 0);
    ASSERT_EQ(ca->GetCurrentRecord(ba.data(), false), 0);
    ASSERT_EQ(ca->GetCurrentRecord(ba.data(), true), 0);
    v = 10;
    ca->PutField(1, ba.data(), reinterpret_cast<std::uint8_t*>(&v));
    ca->ModifyRecord(ba.data(), true);
    EXPECT_EQ(RaisedNumber([&] { cb->GetCurrentRecord(bb.data(), true); }), err::kRecordChanged);
    ASSERT_EQ(cb->GetCurrentRecord(bb.data(), false), 0);
    EXPECT_EQ(RaisedNumber([&] { cb->GetCurrentRecord(bb.data(), true); }), 0);
    std::int32_t seen = 0;
    cb->GetField(1, bb.data(), reinterpret_cast<std::uint8_t*>(&seen));
    EXPECT_EQ(seen, 10);
    // A record b holds cannot be deleted by a.
    EXPECT_NE(RaisedNumber([&] { ca->DeleteRecord(ba.data()); }), 0);
    EXPECT_EQ(ca->GetRecordCount(), 2u);
    cb->UserWriteUnlockRecord(0);
    // Two cursors of one session: the second gets 10258 for a held record.
    auto ca2 = Cursor(a.dir, false);
    ca2->OpenCursor();
    ASSERT_EQ(ca2->GotoPhysicalRecordNumber(1), 0);
    ASSERT_EQ(ca->GetCurrentRecord(ba.data(), false), 0);
    ASSERT_EQ(ca->GetCurrentRecord(ba.data(), true), 0);
    EXPECT_EQ(RaisedNumber([&] { ca2->UserWriteLockRecord(0); }), err::kRecordInUse);
    ca->UserWriteUnlockRecord(0);
    ca2->UserWriteLockRecord(0);
    ca2->UserWriteUnlockRecord(0);
  }
}

// A delete given the caller's copy of the record goes only while that copy
// is the stored record: another session's change or delete refuses it and
// leaves every record, with BLOB fields or without.
TEST(DataCursor, ADeleteWithAStaleCopyIsRefused) {
  enum class Other { Nothing, Modifies, Deletes };
  struct Case {
    bool blob;
    Other other;
    TEngineErrorCode want;
  };
  const Case cases[] = {{false, Other::Nothing, 0},
                        {false, Other::Modifies, err::kRecordChanged},
                        {false, Other::Deletes, err::kRecordChanged},
                        {true, Other::Nothing, 0},
                        {true, Other::Modifies, err::kRecordChanged},
                        {true, Other::Deletes, err::kRecordChanged}};
  for (const Case& k : cases) {
    SCOPED_TRACE(std::to_string(k.blob) + " " + std::to_string(static_cast<int>(k.other)));
    qvtest::TempDir tmp;
    Env a(tmp.path().string()), b(tmp.path().string());
    std::vector<TFieldDefinition> fields{Field("N", dtInteger)};
    if (k.blob) fields.push_back(Field("M", dtBlob, 0, fstMemo));
    Create(a.dir, fields);
    auto ca = Cursor(a.dir, false), cb = Cursor(b.dir, false);
    ca->OpenCursor();
    cb->OpenCursor();
    Bytes ba(ca->GetRecordSize()), bb(cb->GetRecordSize());
    for (std::int32_t v : {1, 2, 3}) {
      std::fill(ba.begin(), ba.end(), 0);  // a new BLOB for each record
      ca->PutField(1, ba.data(), reinterpret_cast<std::uint8_t*>(&v));
      if (k.blob) {
        ASSERT_EQ(ca->OpenBlob(2, ba.data(), 2), 0);
        const std::string memo(100 * v, 'm');
        ASSERT_EQ(ca->PutBlob(2, ba.data(), 0, reinterpret_cast<const std::uint8_t*>(memo.data()),
                              static_cast<std::int64_t>(memo.size())), 0);
      }
      ca->AppendRecord(ba.data());
    }
    ASSERT_EQ(cb->GotoPhysicalRecordNumber(2), 0);
    ASSERT_EQ(cb->GetCurrentRecord(bb.data(), false), 0);
    ASSERT_EQ(ca->GotoPhysicalRecordNumber(2), 0);
    ASSERT_EQ(ca->GetCurrentRecord(ba.data(), false), 0);
    if (k.other == Other::Modifies) {
      ASSERT_EQ(ca->GetCurrentRecord(ba.data(), true), 0);
      std::int32_t v = 20;
      ca->PutField(1, ba.data(), reinterpret_cast<std::uint8_t*>(&v));
      ca->ModifyRecord(ba.data(), true);
    } else if (k.other == Other::Deletes) {
      ca->DeleteRecord(ba.data());
    }
    const std::uint32_t before = cb->GetRecordCount();
    EXPECT_EQ(RaisedNumber([&] { cb->DeleteRecord(bb.data()); }), k.want);
    EXPECT_EQ(cb->GetRecordCount(), before - (k.want == 0 ? 1u : 0u));
    EXPECT_EQ(cb->GetRecordCount(), k.other == Other::Modifies ? 3u : 2u);
  }
}

TEST(DataCursor, LockedIncrementsFromTwoProcessesLoseNothing) {
  qvtest::TempDir tmp;
  {
    Env env(tmp.path().string());
    Create(env.dir, {Field("N", dtInteger), Field("M", dtBlob, 0, fstMemo)});
    auto c = Cursor(env.dir, false);
    c->OpenCursor();
    Bytes buffer(c->GetRecordSize());
    std::int32_t zero = 0;
    c->PutField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&zero));
    c->AppendRecord(buffer.data());
  }
  constexpr int kSessions = 4, kRounds = 500;
  auto work = [&](qvtest::ChildProcess&) -> int {
   try {
    std::vector<std::unique_ptr<Env>> envs;
    std::vector<std::unique_ptr<TDataCursor>> cursors;
    for (int s = 0; s < kSessions; ++s) {
      envs.push_back(std::make_unique<Env>(tmp.path().string()));
      envs.back()->session.LockRetryCount = 200;
      cursors.push_back(Cursor(envs.back()->dir, false));
      cursors.back()->OpenCursor();
    }
    for (int round = 0; round < kRounds; ++round) {
      for (auto& c : cursors) {
        Bytes buffer(c->GetRecordSize());
        for (;;) {
          if (c->GotoPhysicalRecordNumber(1) != 0) return 2;
          c->GetCurrentRecord(buffer.data(), false);
          if (RaisedNumber([&] { c->GetCurrentRecord(buffer.data(), true); }) == 0) break;
        }
        std::int32_t v = 0;
        c->GetField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&v));
        ++v;
        c->PutField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&v));
        if (int e = RaisedNumber([&] { c->ModifyRecord(buffer.data(), true); })) {
          std::fprintf(stderr, "modify: %d\n", e);
          return 3;
        }
      }
    }
   } catch (const EKORVEXEngineError& e) {
    std::fprintf(stderr, "child: %s\n", e.what());
    return 4;
   }
    return 0;
  };
  qvtest::ChildProcess one(work), two(work);
  EXPECT_EQ(one.Wait(), 0);
  EXPECT_EQ(two.Wait(), 0);
  Env env(tmp.path().string());
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  Bytes buffer(c->GetRecordSize());
  ASSERT_EQ(c->GetNextRecord(buffer.data()), 0);
  std::int32_t v = 0;
  c->GetField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&v));
  EXPECT_EQ(v, 2 * kSessions * kRounds);
  c->CloseCursor();
  EXPECT_EQ(RunTableCheck(tmp.path().string() + "/t.DAT").status, 0);
}

// Readers look for a dead writer's journal before every read lock while a
// writer's flushes make and end theirs: the look must neither fail a flush
// nor leave an ended journal behind to be played back over later writes.
TEST(DataCursor, ReadersLookingForJournalsNeverDisturbAWriter) {
  qvtest::TempDir tmp;
  const std::string path = tmp.path().string();
  {
    Env env(path);
    Create(env.dir, {Field("N", dtInteger)});
  }
  constexpr std::int32_t kAppends = 1500;
  qvtest::ChildProcess writer([&](qvtest::ChildProcess&) -> int {
    Env env(path);
    auto c = Cursor(env.dir, false);
    c->OpenCursor();
    Bytes buffer(c->GetRecordSize());
    for (std::int32_t i = 0; i < kAppends; ++i) {
      c->PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(&i));
      if (int e = RaisedNumber([&] { c->AppendRecord(buffer.data()); })) {
        std::fprintf(stderr, "append %d: %d\n", i, e);
        return 3;
      }
    }
    return 0;
  });
  auto reader = [&](qvtest::ChildProcess&) -> int {
    Env env(path);
    env.session.StrictChangeDetection = true;
    auto c = Cursor(env.dir, false);
    c->OpenCursor();
    for (std::uint32_t seen = 0; seen < static_cast<std::uint32_t>(kAppends);) {
      std::uint32_t count = 0;
      if (int e = RaisedNumber([&] { count = c->GetRecordCount(); })) {
        std::fprintf(stderr, "count: %d\n", e);
        return 4;
      }
      if (count < seen) return 5;  // a played-back journal took records away
      seen = count;
    }
    return 0;
  };
  qvtest::ChildProcess one(reader), two(reader);
  EXPECT_EQ(writer.Wait(), 0);
  EXPECT_EQ(one.Wait(), 0);
  EXPECT_EQ(two.Wait(), 0);
  Env env(path);
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  EXPECT_EQ(c->GetRecordCount(), static_cast<std::uint32_t>(kAppends));
  c->CloseCursor();
  EXPECT_EQ(RunTableCheck(path + "/t.DAT").status, 0);
}

TEST(DataCursor, AppendsOnAFullDiskFailAndLeaveNoTrace) {
  qvtest::TempDir tmp;
  const std::string dir = tmp.path().string();
  {
    Env env(dir);
    Create(env.dir, {Field("N", dtInteger), Field("S", dtString, 200)});
  }
  // The child appends under a file-size limit until a write fails, checks
  // what it sees and reports the appends that returned.
  qvtest::ChildProcess child([&](qvtest::ChildProcess&) -> int {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    // The data file outgrows the limit first: the index file's header and
    // the first page of its system index lie below it.
    limit.rlim_cur = limit.rlim_max = std::max(std::filesystem::file_size(dir + "/t.DAT"),
                                               std::filesystem::file_size(dir + "/t.IDX") + 4096) +
                                      500;
    setrlimit(RLIMIT_FSIZE, &limit);
    Env env(dir);
    auto c = Cursor(env.dir, false);
    c->OpenCursor();
    Bytes buffer(c->GetRecordSize());
    int appended = 0;
    for (std::int32_t i = 0; i < 100; ++i) {
      c->PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(&i));
      if (RaisedNumber([&] { c->AppendRecord(buffer.data()); }) != 0) break;
      ++appended;
    }
    if (appended == 100 || c->GetRecordCount() != static_cast<std::uint32_t>(appended)) return 90;
    return appended;
  });
  int appended = child.Wait();
  ASSERT_GT(appended, 0);
  ASSERT_LT(appended, 90);
  Env env(dir);
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  EXPECT_EQ(c->GetRecordCount(), static_cast<std::uint32_t>(appended));
  c->CloseCursor();
  CheckResult check = RunTableCheck(dir + "/t.DAT");
  EXPECT_EQ(check.status, 0) << check.output;
}

}  // namespace
}  // namespace korvex::testing
