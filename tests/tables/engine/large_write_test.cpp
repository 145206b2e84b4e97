// Writes larger than the files' pools of spare cache entries (4,095 BLOB
// blocks, 16,383 records, 1,023 index pages): rolled back, committed or
// closed, every cache entry goes back once and the files are as the writes
// left them. The sanitizer build catches an entry used after it was freed.
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tables/engine/data_cursor.h"
#include "tables/engine/data_session.h"
#include "tables/engine/engine_error.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/cursor_test_support.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex::testing {
namespace {

using qvtest::ReadFileBytes;
using Bytes = std::vector<std::uint8_t>;

std::string Files(const std::string& dir) {
  std::string all;
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
    std::string p = dir + "/t" + ext;
    all += std::filesystem::exists(p) ? ReadFileBytes(p) : std::string("-");
    all += '|';
  }
  return all;
}

// A table t(N integer, M memo) with `records` records, N = 1, 2, ...
void MakeTable(Env& env, int records) {
  CreateWithCursor(env.dir, {Field("N", dtInteger), Field("M", dtBlob, 0, fstMemo)});
  auto c = Cursor(env.dir, true);
  c->OpenCursor();
  Bytes buffer(c->GetRecordSize());
  for (int i = 1; i <= records; ++i) {
    c->ClearRecord(buffer.data());
    c->PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(&i));
    c->AppendRecord(buffer.data(), false);
  }
  c->CloseCursor();
}

TEST(LargeWrites, RollbacksPutTheFilesBackAndFreeEveryCacheEntryOnce) {
  struct Case {
    const char* name;
    std::function<void(TDataCursor&)> write;
  };
  const std::vector<Case> cases = {
      {"20,000 appends",
       [](TDataCursor& c) {
         Bytes buffer(c.GetRecordSize());
         for (int i = 0; i < 20000; ++i) {
           c.ClearRecord(buffer.data());
           c.PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(&i));
           c.AppendRecord(buffer.data(), false);
         }
       }},
      {"a 3 MB BLOB",
       [](TDataCursor& c) {
         Bytes buffer(c.GetRecordSize());
         ASSERT_EQ(c.GetNextRecord(buffer.data()), 0);
         ASSERT_EQ(c.GetCurrentRecord(buffer.data(), true), 0);
         ASSERT_EQ(c.OpenBlob(2, buffer.data(), 2), 0);
         std::vector<std::uint8_t> content(3 << 20);
         for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
         ASSERT_EQ(c.PutBlob(2, buffer.data(), 0, content.data(), static_cast<std::int64_t>(content.size())), 0);
         c.ModifyRecord(buffer.data(), true);
       }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    qvtest::TempDir tmp;
    Env env(tmp.Path());
    MakeTable(env, 3);
    const std::string before = Files(tmp.Path());
    auto c = Cursor(env.dir, false);
    c->OpenCursor();
    env.dir->StartTransaction();
    k.write(*c);
    if (HasFatalFailure()) return;
    env.dir->RollbackTransaction();
    EXPECT_EQ(c->GetRecordCount(), 3u);
    c->CloseCursor();
    EXPECT_EQ(Files(tmp.Path()), before);
  }
}

TEST(LargeWrites, HeldWritesBeyondThePoolsReachTheFiles) {
  qvtest::TempDir tmp;
  Env env(tmp.Path());
  MakeTable(env, 0);
  auto c = Cursor(env.dir, true);
  c->OpenCursor();
  Bytes buffer(c->GetRecordSize());
  // 16,384 records, the first 4,096 with a memo of one block each.
  for (int i = 0; i < 16384; ++i) {
    c->ClearRecord(buffer.data());
    c->PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(&i));
    if (i < 4096) {
      const std::string memo = "memo " + std::to_string(i);
      ASSERT_EQ(c->OpenBlob(2, buffer.data(), 2), 0);
      ASSERT_EQ(c->PutBlob(2, buffer.data(), 0, reinterpret_cast<const std::uint8_t*>(memo.data()),
                           static_cast<std::int64_t>(memo.size())),
                0);
    }
    c->AppendRecord(buffer.data(), false);
  }
  c->CloseCursor();
  c->OpenCursor();
  EXPECT_EQ(c->GetRecordCount(), 16384u);
  for (int i = 0; i < 4096; ++i) {
    ASSERT_EQ(c->GetNextRecord(buffer.data()), 0);
    std::vector<std::uint8_t> memo = c->ReadBlobContent(2, buffer.data());
    ASSERT_EQ(std::string(memo.begin(), memo.end()), "memo " + std::to_string(i));
  }
  c->CloseCursor();
  CheckResult check = RunTableCheck(tmp.Path() + "/t.DAT");
  EXPECT_EQ(check.status, 0) << check.output;
}

TEST(LargeWrites, AnIndexOfLongKeysOverManyRecordsIsBuiltAndClosed) {
  qvtest::TempDir tmp;
  Env env(tmp.Path());
  CreateWithCursor(env.dir, {Field("N", dtInteger), Field("S", dtString, 250)});
  auto c = Cursor(env.dir, true);
  c->OpenCursor();
  Bytes buffer(c->GetRecordSize());
  for (int i = 0; i < 16384; ++i) {
    c->ClearRecord(buffer.data());
    c->PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(&i));
    std::string s = std::to_string((i * 7919) % 16384);
    s.insert(0, 240 - s.size(), 'k');
    c->PutField(2, buffer.data(), reinterpret_cast<const std::uint8_t*>(s.c_str()));
    c->AppendRecord(buffer.data(), false);
  }
  TIndexDefinition def;
  def.Name = "BYS";
  def.Fields[0] = 2;
  c->AddSecondaryIndex(def);
  c->CloseCursor();
  c->OpenCursor();
  c->SetIndexName("BYS");
  std::string last;
  int count = 0;
  while (c->GetNextRecord(buffer.data()) == 0) {
    std::vector<std::uint8_t> s(252);
    c->GetField(2, buffer.data(), s.data());
    std::string now(reinterpret_cast<const char*>(s.data()));
    ASSERT_LE(last, now);
    last = now;
    ++count;
  }
  EXPECT_EQ(count, 16384);
  c->CloseCursor();
}

}  // namespace
}  // namespace korvex::testing
