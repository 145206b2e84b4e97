// Writes larger than the files' pools of spare cache entries (4,095 BLOB
// blocks, 16,383 records, 1,023 index pages): rolled back, committed or
// closed, every cache entry goes back once and the files are as the writes
// left them. The sanitizer build catches an entry used after it was freed.
#include <algorithm>
#include <random>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/file_handler.h"
#include "tests/tables/engine/cursor_test_support.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The table's files (an ended journal left out).
std::map<std::string, std::string> Files(const std::string& dir) {
  std::map<std::string, std::string> files = FolderFiles(dir);
  files.erase("t.JNL");
  return files;
}

// A cleared record buffer with N = n.
void Numbered(TDataCursor& c, Bytes& buffer, int n) {
  c.ClearRecord(buffer.data());
  c.PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(&n));
}

// The memo (field 2) of a record buffer replaced by `text`.
void PutMemo(TDataCursor& c, Bytes& buffer, const std::string& text) {
  ASSERT_EQ(c.OpenBlob(2, buffer.data(), 2), 0);
  ASSERT_EQ(c.TruncateBlob(2, buffer.data(), 0), 0);
  ASSERT_EQ(c.PutBlob(2, buffer.data(), 0, reinterpret_cast<const std::uint8_t*>(text.data()),
                      static_cast<std::int64_t>(text.size())),
            0);
}

// A table t(N integer, M memo) with `records` records, N = 1, 2, ...
void MakeTable(Env& env, int records) {
  CreateWithCursor(env.dir, {Field("N", dtInteger), Field("M", dtBlob, 0, fstMemo)});
  auto c = Cursor(env.dir, true);
  c->OpenCursor();
  Bytes buffer(c->GetRecordSize());
  for (int i = 1; i <= records; ++i) {
    Numbered(*c, buffer, i);
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
           Numbered(c, buffer, i);
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
    const std::map<std::string, std::string> before = Files(tmp.Path());
    auto c = Cursor(env.dir, false);
    c->OpenCursor();
    env.dir->StartTransaction();
    k.write(*c);
    if (HasFatalFailure()) return;
    env.dir->RollbackTransaction();
    EXPECT_EQ(c->GetRecordCount(), 3u);
    c->CloseCursor();
    EXPECT_TRUE(Files(tmp.Path()) == before);
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
    Numbered(*c, buffer, i);
    if (i < 4096) {
      const std::string memo = "memo " + std::to_string(i);
      PutMemo(*c, buffer, memo);
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

// A table written alone (exclusive, no transaction) holds its writes in
// its caches only up to their budgets: past them the next write flushes
// them first. 12,000 records of some 520 bytes with 1,200-byte memos and
// an index over the wide field (10 times the records' budget, 5 times the
// blocks'): after every append the caches are within their budgets and
// one write's share, the BLOB file grows on disk long before the close,
// and the table reads back whole.
TEST(LargeWrites, AnExclusiveWriterFlushesPastItsCacheBudgets) {
  qvtest::TempDir tmp;
  Env env(tmp.Path());
  TTableCreation creation;
  creation.Indexes = {TIndexDefinition{}, TIndexDefinition{}};
  creation.Indexes[1].Name = "ByS";
  creation.Indexes[1].Fields[0] = 3;
  creation.Indexes[1].FieldCount = 1;
  creation.IndexCount = 1;
  CreateWithCursor(env.dir, {Field("N", dtInteger), Field("M", dtBlob, 0, fstMemo), Field("S", dtString, 250),
                             Field("T", dtString, 250)},
                   creation);
  auto c = Cursor(env.dir, true);
  c->OpenCursor();
  TDataTable& table = *c->Table();
  const std::size_t record = c->GetRecordSize();
  Bytes buffer(record);
  std::mt19937 rng(5);
  auto text = [&](std::size_t n) {
    std::string t(n, ' ');
    for (char& ch : t) ch = static_cast<char>('a' + rng() % 26);
    return t;
  };
  std::size_t places = table.IndexFile().CacheBase(kSystemSlot);
  for (std::uint8_t s = 0; s <= table.IndexFile().GetIndexCount(); ++s) places += table.IndexFile().CacheBase(s);
  std::uintmax_t grown_at = 0;
  constexpr int kRecords = 12000;
  for (int i = 0; i < kRecords; ++i) {
    Numbered(*c, buffer, i);
    const std::string s = text(200);
    c->PutField(3, buffer.data(), reinterpret_cast<const std::uint8_t*>(s.c_str()));
    PutMemo(*c, buffer, "memo " + std::to_string(i) + "|" + text(1200));
    c->AppendRecord(buffer.data(), false);
    ASSERT_LE(table.DataFile().CachedRecords() * record, kHeldRecordBudget + record) << i;
    ASSERT_LE(table.BlobFile().CachedBlocks() * table.BlobFile().BlockSize(), kHeldBlockBudget + 2048) << i;
    std::size_t pages = table.IndexFile().CachedPages(kSystemSlot);
    for (std::uint8_t s = 0; s <= table.IndexFile().GetIndexCount(); ++s) pages += table.IndexFile().CachedPages(s);
    ASSERT_LE(pages, std::max(places, kHeldPageBudget) + 16) << i;
    if (grown_at == 0 && std::filesystem::file_size(tmp.Path() + "/t.BLB") > 2 * kHeldBlockBudget) grown_at = i;
  }
  EXPECT_GT(grown_at, 0u);
  EXPECT_LT(grown_at, kRecords / 2);
  c->CloseCursor();
  c->OpenCursor();
  EXPECT_EQ(c->GetRecordCount(), static_cast<std::uint32_t>(kRecords));
  int seen = 0;
  while (c->GetNextRecord(buffer.data()) == 0) {
    std::vector<std::uint8_t> memo = c->ReadBlobContent(2, buffer.data());
    const std::string head = "memo " + std::to_string(seen++) + "|";
    ASSERT_EQ(std::string(memo.begin(), memo.begin() + static_cast<std::ptrdiff_t>(head.size())), head);
    ASSERT_EQ(memo.size(), head.size() + 1200);
  }
  EXPECT_EQ(seen, kRecords);
  c->CloseCursor();
  CheckResult check = RunTableCheck(tmp.Path() + "/t.DAT");
  EXPECT_EQ(check.status, 0) << check.output;
}

// Commits that let go of thousands of index pages at once (three indexes
// of keys too wide for more than seven a page, each grown past its cache):
// the pages beyond the pool's spares are freed on a thread of their own,
// the second commit's after the first's. Every index still walks its
// records in order, and tablecheck finds the files sound.
TEST(LargeWrites, CommitsLettingGoOfThousandsOfPagesLeaveEveryIndexWhole) {
  qvtest::TempDir tmp;
  Env env(tmp.Path());
  TTableCreation creation;
  TIndexDefinition primary, ab, ba, down;
  primary.Fields[primary.FieldCount++] = 1;
  primary.Unique = true;
  ab.Name = "AB";
  ab.Fields[ab.FieldCount++] = 2;
  ab.Fields[ab.FieldCount++] = 3;
  ba.Name = "BA";
  ba.Fields[ba.FieldCount++] = 3;
  ba.Fields[ba.FieldCount++] = 2;
  down = ab;
  down.Name = "DOWN";
  down.Descending = 1;
  creation.IndexCount = 3;
  creation.Indexes = {primary, ab, ba, down};
  CreateWithCursor(env.dir, {Field("N", dtInteger), Field("A", dtString, 250), Field("B", dtString, 250)}, creation);
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  Bytes buffer(c->GetRecordSize());
  std::mt19937 rng(3);
  std::map<std::int32_t, std::pair<std::string, std::string>> model;
  auto text = [&] {
    std::string t(40 + rng() % 200, 'a');
    for (char& ch : t) ch = static_cast<char>('a' + rng() % 26);
    return t;
  };
  std::int32_t next = 0;
  for (int round = 0; round < 2; ++round) {
    env.dir->StartTransaction();
    for (int i = 0; i < 9000; ++i) {
      const std::int32_t n = ++next;
      const std::string a = text(), b = text();
      Numbered(*c, buffer, n);
      c->PutField(2, buffer.data(), reinterpret_cast<const std::uint8_t*>(a.c_str()));
      c->PutField(3, buffer.data(), reinterpret_cast<const std::uint8_t*>(b.c_str()));
      c->AppendRecord(buffer.data(), false);
      model[n] = {a, b};
    }
    env.dir->CommitTransaction(true);
  }
  // Each index in its order: the model's records sorted alike.
  std::vector<std::pair<std::string, std::vector<std::int32_t>>> orders;
  for (const char* name : {"AB", "BA", "DOWN"}) {
    std::vector<std::pair<std::pair<std::string, std::string>, std::int32_t>> keyed;
    for (const auto& [n, row] : model)
      keyed.push_back({std::string(name) == "BA" ? std::make_pair(row.second, row.first) : row, n});
    std::sort(keyed.begin(), keyed.end());
    if (std::string(name) == "DOWN") std::reverse(keyed.begin(), keyed.end());
    std::vector<std::int32_t> expected;
    for (const auto& k : keyed) expected.push_back(k.second);
    orders.push_back({name, expected});
  }
  for (const auto& [name, expected] : orders) {
    c->SetIndexName(name);
    c->SetToBegin();
    std::vector<std::int32_t> walked;
    while (c->GetNextRecord(buffer.data()) == 0) {
      std::int32_t n = 0;
      c->GetField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&n));
      walked.push_back(n);
    }
    EXPECT_TRUE(walked == expected) << name << ": " << walked.size() << " of " << expected.size();
  }
  c->CloseCursor();
  CheckResult check = RunTableCheck(tmp.Path() + "/t.DAT");
  EXPECT_EQ(check.status, 0) << check.output;
}

// A BLOB's content for record `n` in round `round`, `size` bytes.
std::string Content(int n, int round, std::size_t size) {
  std::string s(size, ' ');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>('a' + (n * 31 + round * 7 + i / 97) % 26);
  return s;
}

std::string MemoOf(TDataCursor& c, const Bytes& buffer) {
  std::vector<std::uint8_t> b = c.ReadBlobContent(2, buffer.data());
  return std::string(b.begin(), b.end());
}

// Long BLOBs stored on disk are read, rewritten and deleted while writes
// are held (an exclusive cursor, a transaction) and the block cache is full
// of modified blocks: a block read ahead with the one asked for never
// pushes that one out.
TEST(LargeWrites, ReadAheadKeepsTheBlockAskedForWhileWritesAreHeld) {
  constexpr int kRecords = 48;
  for (std::uint16_t block : {64, 256, 768, 1024, 4096}) {
    for (bool exclusive : {true, false}) {
      SCOPED_TRACE(std::to_string(block) + (exclusive ? " exclusive" : " transaction"));
      qvtest::TempDir tmp;
      Env env(tmp.Path());
      TTableCreation creation;
      creation.Settings.BlobBlockSize = block;
      CreateWithCursor(env.dir, {Field("N", dtInteger), Field("M", dtBlob, 0, fstMemo)}, creation);
      std::map<int, std::string> model;
      auto sizes = [block](int n) { return std::size_t{block} * (3 + n % 29) + n * 13; };
      {
        auto c = Cursor(env.dir, false);
        c->OpenCursor();
        Bytes buffer(c->GetRecordSize());
        for (int n = 1; n <= kRecords; ++n) {
          Numbered(*c, buffer, n);
          model[n] = Content(n, 0, sizes(n));
          PutMemo(*c, buffer, model[n]);
          c->AppendRecord(buffer.data(), false);
        }
        c->CloseCursor();
      }
      auto c = Cursor(env.dir, exclusive);
      c->OpenCursor();
      if (!exclusive) env.dir->StartTransaction();
      Bytes buffer(c->GetRecordSize());
      // Walk: each record's BLOB read, then rewritten longer (held blocks
      // pile up), every fifth record deleted, every seventh read again.
      c->SetToBegin();
      int round = 1;
      while (c->GetNextRecord(buffer.data()) == 0) {
        int n = 0;
        c->GetField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&n));
        ASSERT_EQ(MemoOf(*c, buffer), model[n]) << n;
        ASSERT_EQ(c->GetCurrentRecord(buffer.data(), true), 0);
        if (n % 5 == 0) {
          c->DeleteRecord(buffer.data());
          model.erase(n);
          continue;
        }
        model[n] = Content(n, round++, sizes(n) + block * 2);
        PutMemo(*c, buffer, model[n]);
        c->ModifyRecord(buffer.data(), true);
        if (n % 7 == 0) {
          ASSERT_EQ(c->GetCurrentRecord(buffer.data(), false), 0);
          ASSERT_EQ(MemoOf(*c, buffer), model[n]) << n;
        }
      }
      if (!exclusive) env.dir->CommitTransaction(true);
      c->CloseCursor();
      c = Cursor(env.dir, false);
      c->OpenCursor();
      std::map<int, std::string> seen;
      while (c->GetNextRecord(buffer.data()) == 0) {
        int n = 0;
        c->GetField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&n));
        seen[n] = MemoOf(*c, buffer);
      }
      c->CloseCursor();
      EXPECT_TRUE(seen == model);
      CheckResult check = RunTableCheck(tmp.Path() + "/t.DAT");
      EXPECT_EQ(check.status, 0) << check.output;
    }
  }
}

// Puts a folder's files back as they were (files made since go).
void Restore(const std::string& folder, const std::map<std::string, std::string>& files) {
  for (auto& e : std::filesystem::directory_iterator(folder))
    if (!files.count(e.path().filename())) std::filesystem::remove(e.path());
  for (const auto& [name, bytes] : files) std::ofstream(folder + "/" + name, std::ios::binary) << bytes;
}

// A repair meeting a failing read or write part way leaves the three files
// as they were, also an index or BLOB file it replaced (missing, or cut
// inside its header); one that is not disturbed finishes with a sound table.
TEST(LargeWrites, ARepairThatFailsLeavesTheTableAsItWas) {
  qvtest::TempDir tmp;
  Env env(tmp.Path());
  TTableCreation creation;
  TIndexDefinition primary, by_n;
  by_n.Name = "ByN";
  by_n.Fields[0] = 1;
  creation.Indexes = {primary, by_n};
  creation.IndexCount = 1;
  CreateWithCursor(env.dir, {Field("N", dtInteger), Field("M", dtBlob, 0, fstMemo)}, creation);
  {
    auto c = Cursor(env.dir, true);
    c->OpenCursor();
    Bytes buffer(c->GetRecordSize());
    for (int i = 1; i <= 600; ++i) {
      Numbered(*c, buffer, i);
      const std::string memo = Content(i, 0, 100 + i * 3);
      PutMemo(*c, buffer, memo);
      c->AppendRecord(buffer.data());
      if (i % 7 == 0) {
        ASSERT_EQ(c->GetCurrentRecord(buffer.data(), true), 0);
        c->DeleteRecord(buffer.data());
      }
    }
    c->CloseCursor();
  }
  const std::map<std::string, std::string> whole = FolderFiles(tmp.Path());
  struct Damage {
    const char* name;
    std::function<void(std::map<std::string, std::string>&)> apply;
  };
  const Damage damages[] = {
      {"none", [](auto&) {}},
      {"index file cut inside its header", [](auto& files) { files["t.IDX"].resize(2000); }},
      {"BLOB file cut inside its header", [](auto& files) { files["t.BLB"].resize(200); }},
      {"index file missing", [](auto& files) { files.erase("t.IDX"); }},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.name);
    std::map<std::string, std::string> before = whole;
    damage.apply(before);
    Restore(tmp.Path(), before);
    FaultAt fault;
    int& reached = fault.reached;
    int& target = fault.target;
    auto repair = [&] { return RaisedNumber([&] { Cursor(env.dir, true)->RepairTable(false, false); }); };
    ASSERT_EQ(repair(), 0);
    const int sites = reached;
    ASSERT_GT(sites, 20);
    int failed = 0;
    for (int step = 1; step <= 12; ++step) {
      target = sites * step / 13;
      reached = 0;
      SCOPED_TRACE("failure at site " + std::to_string(target) + " of " + std::to_string(sites));
      Restore(tmp.Path(), before);
      if (repair() != 0) {
        ++failed;
        EXPECT_TRUE(FolderFiles(tmp.Path()) == before);
      } else {
        CheckResult check = RunTableCheck(tmp.Path() + "/t.DAT");
        EXPECT_EQ(check.status, 0) << check.output;
      }
    }
    EXPECT_GT(failed, 6);
    target = 0;
    Restore(tmp.Path(), before);
    ASSERT_EQ(repair(), 0);
    CheckResult check = RunTableCheck(tmp.Path() + "/t.DAT");
    EXPECT_EQ(check.status, 0) << check.output;
  }
}

TEST(LargeWrites, AnIndexOfLongKeysOverManyRecordsIsBuiltAndClosed) {
  qvtest::TempDir tmp;
  Env env(tmp.Path());
  CreateWithCursor(env.dir, {Field("N", dtInteger), Field("S", dtString, 250)});
  auto c = Cursor(env.dir, true);
  c->OpenCursor();
  Bytes buffer(c->GetRecordSize());
  for (int i = 0; i < 16384; ++i) {
    Numbered(*c, buffer, i);
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
