// Record sort: both paths against python3's sorted() over the records as the
// independent checker reads them (DISTINCT, case-insensitive, descending,
// encrypted, records of 65535 bytes), grouping against a std::map model,
// HAVING at the edges, limits, and a sort cancelled part-way.
#include <filesystem>
#include <cstring>
#include <map>
#include <set>
#include <random>
#include <sstream>

#include "support/run_command.h"
#include "support/temp_dir.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/maintenance/record_sort.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct SortEnv {
  SortEnv() {
    session.Timing.InternalSleepMs = 1;
    session.SetPrivateDirectory(scratch.Path());
    session.AddPassword("pw");
    dir = session.OpenDataDirectory("data", tables.Path());
  }
  std::string Dat(const std::string& name = "t") const { return tables.Path() + "/" + name + ".DAT"; }
  // Files left in the private directory.
  int Leftovers() const {
    int n = 0;
    for (auto& e : std::filesystem::directory_iterator(scratch.Path())) n += e.is_regular_file();
    return n;
  }
  std::unique_ptr<TDataCursor> Open(const std::string& name = "t") {
    auto c = std::make_unique<TDataCursor>(dir);
    c->SetTableName(name);
    c->SetExclusive(true);
    c->OpenCursor();
    return c;
  }
  qvtest::TempDir tables, scratch;
  TDataSession session;
  TDataDirectory* dir = nullptr;
};

// Fields: 1 string key (6), 2 integer key, 3 string padding (`pad` bytes
// in fields of up to 250 characters).
std::vector<TFieldDefinition> SortFields(int pad) {
  std::vector<TFieldDefinition> f{Field("S", dtString, 6), Field("I", dtInteger)};
  for (int i = 0; pad > 0; ++i) {
    int size = std::min(pad - 2, 250);
    f.push_back(Field("P" + std::to_string(i), dtString, static_cast<std::uint8_t>(size)));
    pad -= size + 2;
  }
  return f;
}

// `count` records of random keys from small sets (blanks included); every
// seventh is deleted.
void Fill(SortEnv& env, int pad, int count, bool encrypted, unsigned seed) {
  auto c = std::make_unique<TDataCursor>(env.dir);
  c->SetTableName("t");
  c->SetExclusive(true);
  TTableCreation creation;
  creation.Settings.Encrypted = encrypted;
  creation.Settings.Password = "pw";
  auto fields = SortFields(pad);
  c->CreateTable(creation, fields);
  c->OpenCursor();
  std::mt19937 rng(seed);
  const char* strings[] = {"", "a", "A", "ab", "AB", "b", "B", "ba", "zz", "a b"};
  Bytes buffer(c->GetRecordSize());
  std::vector<Bytes> kept;
  for (int i = 0; i < count; ++i) {
    c->InitRecord(buffer.data());
    const char* s = strings[rng() % 10];
    c->PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(s));
    std::int32_t v = static_cast<std::int32_t>(rng() % 7) - 3;
    if (rng() % 5 != 0) c->PutField(2, buffer.data(), reinterpret_cast<const std::uint8_t*>(&v));
    std::string p = "pad" + std::to_string(i);
    if (c->GetFieldCount() > 2) c->PutField(3, buffer.data(), reinterpret_cast<const std::uint8_t*>(p.c_str()));
    c->AppendRecord(buffer.data());
  }
  c->SetToBegin();
  for (int n = 0; c->GetNextRecord(buffer.data()) == 0; ++n)
    if (n % 7 == 3) c->DeleteRecord(buffer.data());
  c->CloseCursor();
}

// The record IDs in physical order as the checker reads them (live records).
std::string PhysicalIDs(const std::string& dat, bool encrypted) {
  CheckResult check = RunTableCheck(dat, std::string("--dump ") + (encrypted ? EngineKeysOption() : ""));
  EXPECT_EQ(check.status, 0) << check.output;
  std::istringstream in(check.output);
  std::string line, ids;
  while (std::getline(in, line)) {
    std::istringstream l(line);
    std::string kind;
    int n, deleted;
    unsigned id;
    if (l >> kind && kind == "R" && l >> n >> deleted >> id) {
      EXPECT_EQ(deleted, 0) << "deleted records are gone after a sort";
      ids += (ids.empty() ? "" : " ") + std::to_string(id);
    }
  }
  return ids;
}

std::string Expected(const std::string& dat, const std::string& order, bool ci, bool distinct, bool encrypted) {
  std::string command = "python3 '" QV_SOURCE_DIR "/tests/tables/engine/sort_expect.py' ";
  if (encrypted) command += EngineKeysOption() + " ";
  if (ci) command += "--ci ";
  if (distinct) command += "--distinct ";
  qvtest::CommandResult run = qvtest::RunShell(command + "'" + dat + "' '" + order + "' 2>&1");
  EXPECT_EQ(run.status, 0) << run.output;
  std::string out = run.output;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

std::vector<TSortField> SortOrder(const TDataCursor& c, const std::string& order) {
  std::vector<TSortField> fields;
  std::istringstream in(order);
  std::string part;
  while (std::getline(in, part, ','))
    fields.push_back({c.GetFieldDefinitionByPos(std::stoi(part)), part.back() == 'd'});
  return fields;
}

TEST(RecordSort, BothPathsMatchPythonSorted) {
  struct Case {
    const char* name;
    int pad, records;
    bool cached;            // every record in the cache: sorted in memory
    std::uint32_t run_capacity;
    std::uint32_t runs;     // expected runs (0: in memory)
    const char* order;
    bool ci, distinct, encrypted;
  } cases[] = {
      {"memory", 30, 200, true, 0, 0, "1,2", false, false, false},
      {"memory distinct ci", 30, 200, true, 0, 0, "1", true, true, false},
      {"memory descending", 30, 200, true, 0, 0, "2d,1d", false, false, false},
      {"memory encrypted distinct", 30, 150, true, 0, 0, "2,1", false, true, true},
      {"external", 30, 200, false, 16, 13, "1,2", false, false, false},
      {"external distinct ci", 30, 200, false, 16, 13, "1", true, true, false},
      {"external descending encrypted", 30, 200, false, 9, 23, "2d,1", false, false, true},
      {"external one field distinct", 30, 500, false, 0, 1, "2", false, true, false},
      {"65535 bytes, 33 records", 65535 - 9 - 8 - 5, 33, false, 0, 2, "1,2", false, false, false},
      {"65535 bytes, 100 records", 65535 - 9 - 8 - 5, 100, false, 0, 4, "2d,1", true, true, false},
      {"no sort fields", 30, 40, false, 4, 10, "", false, true, false},
      {"empty", 30, 0, true, 0, 0, "1", false, false, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    SortEnv env;
    Fill(env, k.pad, k.records, k.encrypted, 17u + static_cast<unsigned>(k.records));
    std::string want = Expected(env.Dat(), k.order, k.ci, k.distinct, k.encrypted);
    auto c = env.Open();
    if (k.records == 33) {
      EXPECT_EQ(c->GetRecordSize(), 65535u);
    }
    Bytes buffer(c->GetRecordSize());
    if (k.cached) {
      while (c->GetNextRecord(buffer.data()) == 0) {
      }
    }
    TRecordSortRequest request;
    request.Fields = SortOrder(*c, k.order);
    request.CaseInsensitive = k.ci;
    request.RemoveDuplicates = k.distinct;
    request.RunCapacity = k.run_capacity;
    TRecordSortResult result = c->SortRecordBuffers(request);
    EXPECT_EQ(result.Runs, k.runs);
    c->Table()->IndexFile().SetActualRecordCount(result.Records);
    EXPECT_EQ(c->GetRecordCount(), result.Records);
    EXPECT_EQ(env.Leftovers(), 0);
    c->CloseCursor();
    EXPECT_EQ(PhysicalIDs(env.Dat(), k.encrypted), want);
  }
}

// GROUP BY key field 1 summing field 2 into the group's record; HAVING
// keeps sums above a threshold: model by std::map, both paths.
TEST(RecordSort, GroupAndHavingFollowAModel) {
  for (bool external : {false, true}) {
    for (bool encrypted : {false, true}) {
      SCOPED_TRACE(std::string(external ? "external" : "memory") + (encrypted ? " encrypted" : ""));
      SortEnv env;
      Fill(env, 30, 180, encrypted, 5);
      auto c = env.Open();
      Bytes buffer(c->GetRecordSize());
      std::map<std::string, std::int64_t> sums;
      std::map<std::string, std::uint32_t> first_id;
      while (c->GetNextRecord(buffer.data()) == 0) {
        std::uint8_t s[8] = {}, v[4] = {};
        c->GetField(1, buffer.data(), s);
        std::int32_t value = 0;
        if (!c->GetField(2, buffer.data(), v)) std::memcpy(&value, v, 4);
        std::string key(reinterpret_cast<char*>(s));
        sums[key] += value;
        std::uint32_t id = TDataCursor::GetRecordID(buffer.data());
        if (!first_id.count(key) || id < first_id[key]) first_id[key] = id;
      }
      if (external) {  // nothing cached
        c->CloseCursor();
        c->OpenCursor();
      }
      const std::set<std::string> plain = {"", "a", "A", "ab", "AB", "b", "B", "ba", "zz", "a b"};
      auto value_of = [&](std::uint8_t* r) {
        std::uint8_t v[4] = {};
        std::int32_t x = 0;
        if (!c->GetField(2, r, v)) std::memcpy(&x, v, 4);
        return x;
      };
      int group_calls = 0, having_calls = 0;
      TRecordSortRequest request;
      request.Fields = SortOrder(*c, "1");
      request.GroupRecords = true;
      request.RunCapacity = external ? 8 : 0;
      request.Group = [&](bool first, std::uint8_t* r, std::uint8_t* g) {
        ++group_calls;
        std::uint8_t s[8] = {};
        c->GetField(1, r, s);
        EXPECT_TRUE(plain.count(reinterpret_cast<char*>(s))) << "the callback sees plain records";
        if (!first) {
          std::int32_t sum = value_of(g) + value_of(r);
          c->PutField(2, g, reinterpret_cast<std::uint8_t*>(&sum));
        }
        return true;
      };
      request.Having = [&](bool, std::uint8_t*, std::uint8_t* g) {
        ++having_calls;
        return value_of(g) > 0;
      };
      if (!external) {
        for (c->SetToBegin(); c->GetNextRecord(buffer.data()) == 0;) {
        }
      }
      TRecordSortResult result = c->SortRecordBuffers(request);
      EXPECT_EQ(result.Runs == 0, !external);
      EXPECT_EQ(group_calls, 180 - 180 / 7 - (180 % 7 > 3));
      EXPECT_EQ(having_calls, static_cast<int>(sums.size()));
      c->Table()->IndexFile().SetActualRecordCount(result.Records);
      std::string want, got;
      for (auto& [key, sum] : sums)
        if (sum > 0) want += key + "=" + std::to_string(sum) + "#" + std::to_string(first_id[key]) + " ";
      for (c->SetToBegin(); c->GetNextRecord(buffer.data()) == 0;) {
        std::uint8_t s[8] = {};
        c->GetField(1, buffer.data(), s);
        got += std::string(reinterpret_cast<char*>(s)) + "=" + std::to_string(value_of(buffer.data())) + "#" +
               std::to_string(TDataCursor::GetRecordID(buffer.data())) + " ";
      }
      EXPECT_EQ(got, want);
      c->CloseCursor();
      EXPECT_EQ(RunTableCheck(env.Dat(), encrypted ? EngineKeysOption() : "").status, 0);
    }
  }
}

// Distinct keys 1..n, one record each, grouped; HAVING answers from a set.
std::string GroupedKeys(int records, std::uint32_t run_capacity, const std::set<int>& dropped, bool cached,
                        std::uint32_t* next_physical = nullptr) {
  SortEnv env;
  auto c = std::make_unique<TDataCursor>(env.dir);
  c->SetTableName("t");
  c->SetExclusive(true);
  std::vector<TFieldDefinition> fields{Field("K", dtInteger)};
  c->CreateTable({}, fields);
  c->OpenCursor();
  Bytes buffer(c->GetRecordSize());
  for (std::int32_t i = records; i >= 1; --i) {
    c->InitRecord(buffer.data());
    c->PutField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&i));
    c->AppendRecord(buffer.data());
  }
  if (!cached) {
    c->CloseCursor();
    c->OpenCursor();
  }
  TRecordSortRequest request;
  request.Fields = SortOrder(*c, "1");
  request.GroupRecords = true;
  request.RunCapacity = run_capacity;
  request.Having = [&](bool, std::uint8_t*, std::uint8_t* g) {
    std::int32_t k = 0;
    c->GetField(1, g, reinterpret_cast<std::uint8_t*>(&k));
    return !dropped.count(k);
  };
  TRecordSortResult result = c->SortRecordBuffers(request);
  EXPECT_EQ(result.Runs == 0, cached);
  if (next_physical) *next_physical = c->Table()->DataFile().GetHeader().NextPhysicalRecord;
  c->Table()->IndexFile().SetActualRecordCount(result.Records);
  std::string got;
  for (c->SetToBegin(); c->GetNextRecord(buffer.data()) == 0;) {
    std::int32_t k = 0;
    c->GetField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&k));
    got += std::to_string(k) + "@" + std::to_string(c->GetPhysicalRecordNumber()) + " ";
  }
  c->CloseCursor();
  EXPECT_EQ(RunTableCheck(env.Dat()).status, 0);
  return got;
}

TEST(RecordSort, HavingAtTheEdges) {
  // The fourth group fills the output buffer of 4 and is dropped: the
  // fifth takes its place.
  EXPECT_EQ(GroupedKeys(12, 4, {4}, false), "1@1 2@2 3@3 5@4 6@5 7@6 8@7 9@8 10@9 11@10 12@11 ");
  EXPECT_EQ(GroupedKeys(12, 4, {4, 8, 12}, false), "1@1 2@2 3@3 5@4 6@5 7@6 9@7 10@8 11@9 ");
  EXPECT_EQ(GroupedKeys(12, 0, {4, 8, 12}, true), "1@1 2@2 3@3 5@4 6@5 7@6 9@7 10@8 11@9 ");
  // One record whose group is dropped: the table is left empty.
  std::uint32_t next = 0;
  for (bool cached : {true, false}) {
    EXPECT_EQ(GroupedKeys(1, 0, {1}, cached, &next), "");
    EXPECT_EQ(next, 1u);
  }
}

TEST(RecordSort, LimitsAndGuards) {
  SortEnv env;
  Fill(env, 30, 10, false, 1);
  auto c = env.Open();
  TRecordSortRequest request;
  request.Fields.assign(1025, {c->GetFieldDefinitionByPos(2), false});
  EXPECT_EQ(RaisedNumber([&] { c->SortRecordBuffers(request); }), err::kFieldLimits);
  request.Fields.assign(1024, {c->GetFieldDefinitionByPos(2), false});  // 1024 x 5 + 4 bytes of key
  EXPECT_NO_THROW(c->SortRecordBuffers(request));
  request.Fields.assign(1, {c->GetFieldDefinitionByPos(3), false});
  while ((request.Fields.size() + 1) * (c->GetFieldDefinitionByPos(3).PhysicalSize + 1) + 4 <= 65535)
    request.Fields.push_back(request.Fields.front());
  request.Fields.push_back(request.Fields.front());  // one past 65535 bytes of key
  EXPECT_EQ(RaisedNumber([&] { c->SortRecordBuffers(request); }), err::kFieldLimits);
  c->CloseCursor();
  auto shared = std::make_unique<TDataCursor>(env.dir);
  shared->SetTableName("t");
  shared->OpenCursor();
  EXPECT_EQ(RaisedNumber([&] { shared->SortRecordBuffers({}); }), err::kNeedsExclusive);
  shared.reset();
  // A table with an index (its keys built from the records) is left as
  // it is.
  {
    c->OpenCursor();
    TIndexDefinition index;
    index.Name = "ByName";
    index.FieldCount = 1;
    index.Fields[0] = 1;
    c->AddSecondaryIndex(index);
    c->CloseCursor();
  }
  const std::string before = qvtest::ReadFileBytes(env.Dat());
  c->OpenCursor();
  request.Fields = SortOrder(*c, "2d");
  c->SortRecordBuffers(request);
  c->CloseCursor();
  EXPECT_EQ(qvtest::ReadFileBytes(env.Dat()), before);
}

// A sort cancelled at its third run: no temporary file stays and the table's
// files are byte for byte as before.
TEST(RecordSort, FailureAtTheThirdRunChangesNothing) {
  for (bool encrypted : {false, true}) {
    SortEnv env;
    Fill(env, 30, 100, encrypted, 3);
    std::string before = qvtest::ReadFileBytes(env.Dat());
    auto c = env.Open();
    TRecordSortRequest request;
    request.Fields = SortOrder(*c, "1,2");
    request.RunCapacity = 10;
    std::uint32_t seen = 0;
    request.RunWritten = [&](std::uint32_t run) {
      seen = run;
      EXPECT_EQ(env.Leftovers(), static_cast<int>(run));
      if (run == 3) RaiseError(err::kWriteError, "injected");
    };
    EXPECT_EQ(RaisedNumber([&] { c->SortRecordBuffers(request); }), err::kWriteError);
    EXPECT_EQ(seen, 3u);
    EXPECT_EQ(env.Leftovers(), 0);
    c->CloseCursor();
    EXPECT_EQ(qvtest::ReadFileBytes(env.Dat()), before);
  }
}

}  // namespace
}  // namespace korvex::testing
