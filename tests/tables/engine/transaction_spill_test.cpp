// Transactions that append past the caches' budget: the records and index
// pages wholly past the files' ends go to a spill file until the commit.
// A model of the rows checks every record by key, in key, surname and
// physical order, during the transaction (records and pages read back from
// the spill file), after a commit, an interval commit and a rollback, and
// through another session reading meanwhile; kills in the middle of the
// transaction and at every stage of its commit leave the files as before or
// as after, and no spill file behind.
#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "tables/engine/cache/spill_file.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/cursor_test_support.h"
#include "tests/tables/engine/engine_test_support.h"
#include "tests/tables/engine/flush_kill_support.h"

namespace korvex::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kKey = 1, kName = 2, kYear = 3;
constexpr char kPassword[] = "spill";

struct Row {
  std::string name;
  std::int32_t year = 0;
  bool operator==(const Row&) const = default;
};
using Model = std::map<std::int32_t, Row>;

// t(K integer primary key, S string 20 with an index, Y integer).
void CreateTable(TDataDirectory* dir, bool encrypted) {
  TTableCreation creation = KeyAndNameIndexes(kKey, kName);
  creation.Settings.Encrypted = encrypted;
  creation.Settings.Password = encrypted ? kPassword : "";
  CreateWithCursor(dir, {Field("K", dtInteger), Field("S", dtString, 20), Field("Y", dtInteger)}, creation);
}

struct Rows {
  explicit Rows(std::uint32_t seed) : rng(seed) {}
  std::mt19937 rng;
  Row Next() {
    Row r;
    for (unsigned i = 0, n = 3 + rng() % 17; i < n; ++i) r.name += static_cast<char>('A' + rng() % 26);
    r.year = 1600 + static_cast<std::int32_t>(rng() % 300);
    return r;
  }
};

void Put(TDataCursor& c, Bytes& buffer, std::int32_t key, const Row& row) {
  c.ClearRecord(buffer.data());
  char name[21] = {};
  std::memcpy(name, row.name.data(), row.name.size());
  c.PutField(kKey, buffer.data(), reinterpret_cast<const std::uint8_t*>(&key));
  c.PutField(kName, buffer.data(), reinterpret_cast<const std::uint8_t*>(name));
  c.PutField(kYear, buffer.data(), reinterpret_cast<const std::uint8_t*>(&row.year));
}

std::pair<std::int32_t, Row> Get(TDataCursor& c, const Bytes& buffer) {
  std::int32_t key = 0;
  char name[32] = {};
  Row row;
  c.GetField(kKey, buffer.data(), reinterpret_cast<std::uint8_t*>(&key));
  c.GetField(kName, buffer.data(), reinterpret_cast<std::uint8_t*>(name));
  c.GetField(kYear, buffer.data(), reinterpret_cast<std::uint8_t*>(&row.year));
  row.name = name;
  return {key, row};
}

bool FindKey(TDataCursor& c, Bytes& buffer, std::int32_t key) {
  Bytes values(c.GetRecordSize());
  c.ClearRecord(values.data());
  c.PutField(kKey, values.data(), reinterpret_cast<const std::uint8_t*>(&key));
  c.SetIndexPos(0);
  return c.Find(false, values.data(), 0, false, 0, buffer.data());
}

// Every record in key order, in surname order and in physical order, and
// a lookup of a sample by key, against the model.
void ExpectRows(TDataCursor& c, const Model& m) {
  Bytes buffer(c.GetRecordSize());
  auto walk = [&](auto position) {
    position();
    std::vector<std::pair<std::int32_t, Row>> seen;
    c.SetToBegin();
    while (c.GetNextRecord(buffer.data()) == 0) seen.push_back(Get(c, buffer));
    return seen;
  };
  const std::vector<std::pair<std::int32_t, Row>> model(m.begin(), m.end());
  EXPECT_TRUE(walk([&] { c.SetIndexPos(0); }) == model) << "by key";
  for (const auto& [position, ordered] : {std::pair<const char*, bool>{"S", true}, {"", false}}) {
    auto seen = walk([&, position = position] {
      if (*position) c.SetIndexName(position);
      else c.SetIndexPos(kPhysicalOrder);
    });
    if (ordered) {
      EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end(),
                                 [](const auto& a, const auto& b) { return a.second.name < b.second.name; }));
    }
    std::sort(seen.begin(), seen.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    EXPECT_TRUE(seen == model) << (*position ? "by surname" : "physical");
  }
  for (auto it = m.begin(); it != m.end(); std::advance(it, std::min<long>(97, std::distance(it, m.end())))) {
    ASSERT_TRUE(FindKey(c, buffer, it->first)) << it->first;
    EXPECT_EQ(Get(c, buffer).second, it->second) << it->first;
  }
  EXPECT_EQ(c.GetRecordCount(), m.size());
}

// The table's files (an ended journal left out).
std::map<std::string, std::string> TableFiles(const std::string& dir) {
  std::map<std::string, std::string> files = FolderFiles(dir);
  files.erase("t.JNL");
  return files;
}

bool Empty(const std::string& folder) {
  return !std::filesystem::exists(folder) || std::filesystem::is_empty(folder);
}

struct Session {
  Session(const std::string& dir, const std::string& private_dir) : env(dir) {
    std::filesystem::create_directories(private_dir);
    env.session.SetPrivateDirectory(private_dir);
    env.session.AddPassword(kPassword);
  }
  Env env;
};

// `count` appends with keys from `first_key` on, in one transaction.
void AppendRows(TDataCursor& c, std::int32_t first_key, int count, Rows& rows, Model& m) {
  Bytes buffer(c.GetRecordSize());
  for (int i = 0; i < count; ++i) {
    const Row row = rows.Next();
    Put(c, buffer, first_key + i, row);
    c.AppendRecord(buffer.data(), false);
    m[first_key + i] = row;
  }
}

// A cursor on t, and `count` rows appended from key `first` on in a
// transaction, committed unless `commit` is false.
std::unique_ptr<TDataCursor> AppendInTransaction(Session& s, bool exclusive, std::int32_t first, int count, Rows& rows,
                                                 Model& m, bool commit = true) {
  auto c = Cursor(s.env.dir, exclusive);
  c->OpenCursor();
  s.env.dir->StartTransaction();
  AppendRows(*c, first, count, rows, m);
  if (commit) s.env.dir->CommitTransaction(true);
  return c;
}

TEST(TransactionSpill, LongTransactionsMatchTheModelThroughCommitsAndRollbacks) {
  struct Case {
    const char* name;
    bool encrypted, interval, commit, exclusive;
  };
  const Case cases[] = {
      {"plain, committed", false, false, true, false},
      {"plain, rolled back", false, false, false, false},
      {"encrypted, loose interval commit, then rolled back", true, true, false, false},
      {"encrypted, interval commit, then committed", true, true, true, false},
      {"exclusive, rolled back", false, false, false, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    qvtest::TempDir tmp;
    const std::string dir = tmp.Path() + "/t", priv = tmp.Path() + "/private";
    std::filesystem::create_directories(dir);
    Session s(dir, priv);
    CreateTable(s.env.dir, k.encrypted);
    Rows rows(static_cast<std::uint32_t>(k.encrypted * 2 + k.commit));
    Model m;
    auto c = AppendInTransaction(s, k.exclusive, 1, 300, rows, m);
    SmallSpillLimits limits;
    std::map<std::string, std::string> before = TableFiles(dir);
    Model committed = m;
    std::int32_t next_key = 301;
    Bytes buffer(c->GetRecordSize());
    s.env.dir->StartTransaction();
    const int kSteps = 20000;
    for (int step = 0; step < kSteps; ++step) {
      const unsigned op = rows.rng() % 16;
      const std::int32_t key = 1 + static_cast<std::int32_t>(rows.rng() % static_cast<std::uint32_t>(next_key - 1));
      if (op < 12) {
        AppendRows(*c, next_key++, 1, rows, m);
      } else if (op < 14) {
        // A record of the file or one appended (perhaps read back from the
        // spill file), changed: both its keys move.
        const bool present = FindKey(*c, buffer, key);
        ASSERT_EQ(present, m.count(key) == 1) << key;
        if (!present) continue;
        ASSERT_EQ(c->GetCurrentRecord(buffer.data(), true), 0);
        const Row row = rows.Next();
        Put(*c, buffer, key, row);
        c->ModifyRecord(buffer.data(), true, false);
        m[key] = row;
      } else if (op == 14) {
        if (!FindKey(*c, buffer, key)) continue;
        c->DeleteRecord(buffer.data(), false);
        m.erase(key);
      } else {
        const bool present = FindKey(*c, buffer, key);
        ASSERT_EQ(present, m.count(key) == 1) << key;
        if (present) {
          EXPECT_EQ(Get(*c, buffer).second, m[key]) << key;
        }
      }
      if (k.interval && step == kSteps / 2) {
        // Loose (left unsynced, as a statement's) in one case.
        s.env.dir->CommitTransaction(false, k.commit);
        committed = m;
        before = TableFiles(dir);
      }
      if (step % 5000 == 4999) {
        ExpectRows(*c, m);
        if (k.exclusive) continue;
        // Another session reads the committed table meanwhile.
        Session other(dir, priv);
        auto r = Cursor(other.env.dir, false);
        r->OpenCursor();
        ExpectRows(*r, committed);
        r->CloseCursor();
      }
      if (HasFatalFailure()) return;
    }
    EXPECT_GT(c->Table()->DataFile().SpilledBytes(), 0u);
    EXPECT_GT(c->Table()->IndexFile().SpilledBytes(), 0u);
    if (k.commit) {
      s.env.dir->CommitTransaction(true);
    } else {
      s.env.dir->RollbackTransaction();
      m = committed;
      EXPECT_TRUE(TableFiles(dir) == before);
    }
    ExpectRows(*c, m);
    c->CloseCursor();
    {
      Session fresh(dir, priv);
      auto r = Cursor(fresh.env.dir, false);
      r->OpenCursor();
      ExpectRows(*r, m);
    }
    CheckResult check = RunTableCheck(dir + "/t.DAT", k.encrypted ? EngineKeysOption() : "");
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_TRUE(Empty(priv));
  }
}

// Faults injected into a long transaction's writes, spills and commit: a
// failed write is undone and reported, a failed spill keeps its records
// in the cache, a failed commit leaves the files as they were and can be
// retried; a spill file that cannot be made leaves every change cached.
TEST(TransactionSpill, InjectedFaultsAndAMissingSpillFolderLoseNothing) {
  for (const bool blocked : {false, true}) {
    SCOPED_TRACE(blocked ? "no spill file" : "faults");
    qvtest::TempDir tmp;
    const std::string dir = tmp.Path() + "/t", priv = tmp.Path() + "/private";
    std::filesystem::create_directories(dir);
    Session s(dir, priv);
    // A file where the folder should be: no spill file can be made there.
    if (blocked) {
      std::filesystem::remove(priv);
      qvtest::WriteFileBytes(priv, "x");
    }
    CreateTable(s.env.dir, false);
    Rows rows(21);
    Model m;
    auto c = AppendInTransaction(s, false, 1, 300, rows, m);
    SmallSpillLimits limits;
    const std::map<std::string, std::string> before = TableFiles(dir);
    Bytes buffer(c->GetRecordSize());
    s.env.dir->StartTransaction();
    int failed = 0;
    for (int block = 0; block < 90; ++block) {
      // One fault somewhere in each block of 100 appends (none when blocked).
      FaultAt fault(blocked ? 0 : 1 + static_cast<int>(rows.rng() % 400));
      for (int i = 0; i < 100; ++i) {
        const auto key = static_cast<std::int32_t>(1000 + block * 100 + i);
        const Row row = rows.Next();
        Put(*c, buffer, key, row);
        if (RaisedNumber([&] { c->AppendRecord(buffer.data(), false); }) == 0) m[key] = row;
        else ++failed;
      }
    }
    ExpectRows(*c, m);
    EXPECT_EQ(c->Table()->DataFile().SpilledBytes() > 0, !blocked);
    if (!blocked) {
      EXPECT_GT(failed, 0);
    }
    // The commit fails at its k-th fault site until it has none left.
    int attempts = 0;
    for (int k = 1;; k = k * 2 + 1, ++attempts) {
      FaultAt fault(k);
      if (RaisedNumber([&] { s.env.dir->CommitTransaction(true); }) == 0) break;
      EXPECT_TRUE(TableFiles(dir) == before) << k;
      ASSERT_LT(attempts, 30);
    }
    EXPECT_GT(attempts, 2);
    ExpectRows(*c, m);
    c->CloseCursor();
    {
      Session fresh(dir, tmp.Path());
      auto r = Cursor(fresh.env.dir, false);
      r->OpenCursor();
      ExpectRows(*r, m);
    }
    CheckResult check = RunTableCheck(dir + "/t.DAT");
    EXPECT_EQ(check.status, 0) << check.output;
  }
}

// The child's transaction: 9,000 appends past both budgets; true when both
// files spilled. With `kill` it dies before committing.
bool SpillingTransaction(const std::string& dir, const std::string& priv, bool kill) {
  Session s(dir, priv);
  SmallSpillLimits limits;
  Rows rows(5);
  Model m;
  auto c = AppendInTransaction(s, false, 1001, 9000, rows, m, false);
  const bool spilled = c->Table()->DataFile().SpilledBytes() > 0 && c->Table()->IndexFile().SpilledBytes() > 0;
  if (kill && spilled) std::raise(SIGKILL);
  s.env.dir->CommitTransaction(true);
  c->CloseCursor();
  return spilled;
}

TEST(TransactionSpill, KillsInTheTransactionOrItsCommitLeaveTheTableBeforeOrAfter) {
  qvtest::TempDir tmp;
  const std::string dir = tmp.Path() + "/t", priv = tmp.Path() + "/private";
  std::filesystem::create_directories(dir);
  Model m;
  {
    Session s(dir, priv);
    CreateTable(s.env.dir, false);
    Rows rows(9);
    AppendInTransaction(s, false, 1, 1000, rows, m);
  }
  const std::map<std::string, std::string> before = TableFiles(dir);
  // Killed in the middle: nothing of the transaction is anywhere.
  EXPECT_EQ(qvtest::ChildProcess([&](qvtest::ChildProcess&) { return SpillingTransaction(dir, priv, true) ? 0 : 200; })
                .Wait(),
            128 + SIGKILL);
  EXPECT_TRUE(TableFiles(dir) == before);
  EXPECT_FALSE(TJournal::IsHot(dir + "/t.JNL"));
  EXPECT_TRUE(Empty(priv));
  {
    Session s(dir, priv);
    auto r = Cursor(s.env.dir, false);
    r->OpenCursor();
    ExpectRows(*r, m);
  }
  // Killed at the commit's steps: the files as before or as after it.
  const FlushKills kills = KillFlushAtSteps(
      dir, {".DAT", ".IDX"}, [&] { return SpillingTransaction(dir, priv, false); },
      [](int k, int steps) { return k <= 3 || k + 2 >= steps || k % std::max(1, steps / 8) == 0; });
  EXPECT_GT(kills.steps, 3);
  EXPECT_GT(kills.befores, 0);
  EXPECT_GT(kills.afters, 0);
  EXPECT_TRUE(Empty(priv));
}

}  // namespace
}  // namespace korvex::testing
