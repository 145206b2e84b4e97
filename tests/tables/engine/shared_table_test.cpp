// Shared tables: sessions, directories, byte-range locks between processes
// and sessions, transactions. Every multi-process test forks before the
// child opens a table file; lock bytes are checked from outside by a
// python3 F_OFD_GETLK probe whose ranges are written out independently.
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <thread>

#include "support/child_process.h"
#include "tables/engine/base/languages.h"
#include "tables/engine/cache/journal.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/engine_test_support.h"
#include "tests/tables/engine/flush_kill_support.h"
#include "tests/tables/engine/maintenance_support.h"

namespace korvex::testing {
namespace {

using qvtest::ChildProcess;
using qvtest::ReadFileBytes;

void NoSleep(unsigned) {}

// A session on `dir` with short internal waits and no user retries.
struct Session {
  explicit Session(const std::string& path, int attempts = 3) {
    session.Timing.InternalAttempts = attempts;
    session.Timing.InternalSleepMs = 1;
    session.LockRetryCount = 0;
    dir = session.OpenDataDirectory("data", path);
  }
  TDataTable* Open(const std::string& name = "t", bool exclusive = false) {
    TDataTable* table = nullptr;
    TOpenTableRequest request;
    request.Exclusive = exclusive;
    EXPECT_EQ(dir->OpenDataTable(name, table, request), 0);
    return table;
  }
  TDataSession session;
  TDataDirectory* dir = nullptr;
};

// Creates t.DAT/.IDX (and .BLB with a BLOB field) with `records` records.
void MakeTable(const std::string& path, int records = 10, bool blobs = true, const std::string& name = "t") {
  Session s(path);
  std::vector<TFieldDefinition> fields{Field("N", dtInteger)};
  if (blobs) fields.push_back(Field("B", dtBlob, 0, 1));
  AssignLayout(fields);
  TDataTable* table = nullptr;
  ASSERT_EQ(s.dir->CreateDataTable(name, {}, fields, false, false, table), 0);
  AppendRecords(table->DataFile(), records);
  table->IndexFile().SetActualRecordCount(static_cast<std::uint32_t>(records));
  ASSERT_EQ(s.dir->CloseDataTable(table), 0);
}

// The conflicts a python3 F_OFD_GETLK probe sees in the table's files: for
// each documented range, one line "<file> <what> <start> <len>" per lock
// found at its first byte, its last byte and one byte either side; readers'
// bytes are counted over their whole range.
std::string Probe(const std::string& dir) {
  return RunPython(dir, R"(
import fcntl, os, struct
RANGES = {
  'DAT': [('write', 2147483647, 1), ('rec7', 2147483646 - 7, 1), ('table', 2047483645, 100000001),
          ('sem1', 2047483644 - 1, 1), ('sem1024', 2047483644 - 1024, 1)],
  'IDX': [('write', 2147418112, 65535)],
  'BLB': [('write', 2147418112, 65535)],
}
def getlk(fd, start, length):
    req = struct.pack('hhxxxxqqixxxx', fcntl.F_WRLCK, 0, start, length, 0)
    res = fcntl.fcntl(fd, fcntl.F_OFD_GETLK, req)
    t, _, s, l, _ = struct.unpack('hhxxxxqqixxxx', res)
    return None if t == fcntl.F_UNLCK else (s, l)
out = []
for ext, ranges in RANGES.items():
    name = os.path.join(path, 't.' + ext)
    if not os.path.exists(name): continue
    fd = os.open(name, os.O_RDONLY)
    for what, start, length in ranges:
        seen = set()
        for at in (start - 1, start, start + length - 1, start + length):
            hit = getlk(fd, at, 1)
            if hit: seen.add(hit)
        for s, l in sorted(seen): out.append('%s %s %d %d' % (ext, what, s, l))
    if ext != 'DAT':
        # F_GETLK names any one conflicting lock: split the range at it.
        def count(lo, hi):
            if lo > hi: return 0
            hit = getlk(fd, lo, hi - lo + 1)
            if not hit: return 0
            s, l = max(hit[0], lo), min(hit[0] + hit[1] - 1, hi)
            return count(lo, s - 1) + (1 if hit[1] == 1 else 0) + count(l + 1, hi)
        readers = count(2147418113, 2147483646)
        if readers: out.append('%s readers %d' % (ext, readers))
    os.close(fd)
print(';'.join(out))
)");
}

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// What the probe sees while the engine, in this process, holds each kind
// of lock: the documented range exactly, nothing one byte beside it.
TEST(SharedTableLocks, ProbeSeesEachLockExactlyAtItsRange) {
  qvtest::TempDir dir;
  MakeTable(dir.Path());
  Session s(dir.Path());
  TDataTable* t = s.Open();
  const std::string write_dat = "DAT write 2147483647 1";
  struct Case {
    const char* what;
    std::function<void()> lock, unlock;
    std::string expected;
  } cases[] = {
      {"nothing", [] {}, [] {}, ""},
      {"record 7", [&] { t->UserWriteLockRecord(7); t->ReadUnlockTable(); }, [&] { t->UserWriteUnlockRecord(7); },
       "DAT rec7 2147483639 1"},
      {"table lock", [&] { t->UserWriteLockTable(); }, [&] { t->UserWriteUnlockTable(); },
       "DAT rec7 2047483645 100000001;DAT table 2047483645 100000001"},
      {"semaphores", [&] { t->UserLockSemaphore(1); t->UserLockSemaphore(1024); },
       [&] { t->UserUnlockSemaphore(1); t->UserUnlockSemaphore(1024); },
       "DAT sem1 2047483643 1;DAT sem1024 2047482620 1"},
      {"write lock", [&] { t->WriteLockTable(); }, [&] { t->WriteUnlockTable(); },
       write_dat + ";IDX write 2147418112 65535;BLB write 2147418112 65535"},
      {"read lock", [&] { t->ReadLockTable(); }, [&] { t->ReadUnlockTable(); }, "IDX readers 1;BLB readers 1"},
      {"user read lock", [&] { t->UserReadLockTable(); }, [&] { t->UserReadUnlockTable(); },
       "IDX readers 1;BLB readers 1"},
      {"transaction", [&] { t->StartTransaction(); }, [&] { t->RollbackTransaction(); }, write_dat},
      // Inside a transaction the write lock keeps readers elsewhere out of
      // nothing: its writes wait in the caches for the commit.
      {"write lock in a transaction", [&] { t->StartTransaction(); t->WriteLockTable(); },
       [&] { t->WriteUnlockTable(); t->RollbackTransaction(); }, write_dat},
      {"write lock outliving its transaction",
       [&] { t->StartTransaction(); t->WriteLockTable(); t->RollbackTransaction(); t->WriteLockTable(); },
       [&] { t->WriteUnlockTable(); }, write_dat + ";IDX write 2147418112 65535;BLB write 2147418112 65535"},
      {"write lock released by a commit",
       [&] { t->StartTransaction(); t->WriteLockTable(); t->CommitTransaction(false); },
       [&] { t->WriteUnlockTable(); t->RollbackTransaction(); }, write_dat},
  };
  for (const Case& c : cases) {
    c.lock();
    EXPECT_EQ(Trimmed(Probe(dir.Path())), c.expected) << c.what;
    c.unlock();
    EXPECT_EQ(Trimmed(Probe(dir.Path())), "") << c.what << " released";
  }
  // The semaphore numbers outside 1..1024 touch nothing.
  EXPECT_FALSE(t->UserLockSemaphore(0));
  EXPECT_FALSE(t->UserLockSemaphore(1025));
  EXPECT_EQ(Trimmed(Probe(dir.Path())), "");
}

TEST(SharedTableLocks, ProcessesConflictAndAKilledHolderFreesEverything) {
  qvtest::TempDir dir;
  MakeTable(dir.Path());
  ChildProcess record_holder([&](ChildProcess& c) {
    Session s(dir.Path());
    TDataTable* t = s.Open();
    t->UserWriteLockRecord(7);
    t->ReadUnlockTable();
    c.Ready();
    c.WaitTold();
    t->UserWriteUnlockRecord(7);
    t->UserWriteLockTable();
    c.Ready();
    c.WaitTold();
    return 0;
  });
  ASSERT_TRUE(record_holder.WaitReady());
  Session s(dir.Path());
  TDataTable* t = s.Open();
  EXPECT_TRUE(t->RecordIsLocked(7));
  EXPECT_FALSE(t->RecordIsLocked(6));
  EXPECT_FALSE(t->RecordIsLocked(8));
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(RaisedNumber([&] { t->UserWriteLockRecord(7); }), 10258);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
  EXPECT_FALSE(t->InternalReadLockHeld()) << "a refused record lock keeps no read lock";
  EXPECT_EQ(RaisedNumber([&] { t->UserWriteLockTable(); }), 10241);
  record_holder.Tell();
  ASSERT_TRUE(record_holder.WaitReady());  // now it holds the table lock
  EXPECT_TRUE(t->TableIsLocked());
  for (std::uint32_t n : {1u, 7u, 10u, 99999999u}) EXPECT_TRUE(t->RecordIsLocked(n)) << n;
  s.session.LockRetryCount = 2;
  s.session.LockWaitTime = 5;
  EXPECT_EQ(RaisedNumber([&] { t->UserWriteLockRecord(3); }), 10258);
  record_holder.Kill(SIGKILL);
  EXPECT_EQ(record_holder.Wait(), 128 + SIGKILL);
  EXPECT_FALSE(t->TableIsLocked());
  EXPECT_EQ(RaisedNumber([&] { t->UserWriteLockTable(); }), 0);
  t->UserWriteUnlockTable();
  EXPECT_EQ(Trimmed(Probe(dir.Path())), "");
}

// The separate lock ranges other descriptions hold over the bytes of
// records 1..last of t.DAT, and the records they cover, as python3 sees
// them through F_OFD_GETLK: "<ranges> <records>".
std::string RecordRanges(const std::string& dir, std::uint32_t last) {
  return RunPython(dir, R"(
import fcntl, os, struct
def getlk(fd, start, length):
    req = struct.pack('hhxxxxqqixxxx', fcntl.F_WRLCK, 0, start, length, 0)
    t, _, s, l, _ = struct.unpack('hhxxxxqqixxxx', fcntl.fcntl(fd, fcntl.F_OFD_GETLK, req))
    return None if t == fcntl.F_UNLCK else (s, l)
fd = os.open(os.path.join(path, 't.DAT'), os.O_RDONLY)
ranges, covered, todo = 0, 0, [(2147483646 - )" + std::to_string(last) + R"(, 2147483645)]
while todo:
    lo, hi = todo.pop()
    if lo > hi: continue
    hit = getlk(fd, lo, hi - lo + 1)
    if not hit: continue
    s, e = max(hit[0], lo), min(hit[0] + hit[1] - 1, hi)
    ranges += 1
    covered += e - s + 1
    todo += [(lo, s - 1), (e + 1, hi)]
print(ranges, covered)
)");
}

// A transaction that locks 20,000 scattered records (an edit each: lock,
// then an unlock deferred to the end) holds every one of them against
// other processes in a few ranges, gives them up at its commit except the
// ones it still holds, and loses all of them when it is killed.
TEST(SharedTableLocks, ATransactionsTwentyThousandRecordLocksHoldElsewhereUntilItEnds) {
  qvtest::TempDir dir;
  constexpr std::uint32_t kRecords = 60000;
  MakeTable(dir.Path(), kRecords, false);
  std::vector<std::uint32_t> held(kRecords);
  for (std::uint32_t i = 0; i < kRecords; ++i) held[i] = i + 1;
  std::mt19937 rng(47);
  std::shuffle(held.begin(), held.end(), rng);
  held.resize(20000);
  // Still held at the commit: records the transaction never unlocked.
  auto kept = [&](std::uint32_t n) { return n == held[0] || n == held[1] || n == held[2]; };
  ChildProcess holder([&](ChildProcess& c) {
    Session s(dir.Path());
    TDataTable* t = s.Open();
    s.dir->StartTransaction();
    for (std::uint32_t n : held) {
      t->UserWriteLockRecord(n);
      if (!kept(n)) t->UserWriteUnlockRecord(n);
    }
    c.Ready();
    c.WaitTold();
    s.dir->CommitTransaction(true);
    c.Ready();
    c.WaitTold();
    s.dir->StartTransaction();
    for (std::uint32_t n : held) t->UserWriteLockRecord(n);
    c.Ready();
    c.WaitTold();
    return 0;
  });
  ASSERT_TRUE(holder.WaitReady());
  Session s(dir.Path());
  TDataTable* t = s.Open();
  std::vector<std::uint32_t> sample;
  for (std::size_t i = 0; i < held.size(); i += 41) sample.push_back(held[i]);
  for (std::uint32_t n : {held[1], held[2], held.back(), *std::min_element(held.begin(), held.end()),
                          *std::max_element(held.begin(), held.end())})
    sample.push_back(n);
  std::istringstream seen(RecordRanges(dir.Path(), kRecords));
  std::uint32_t ranges = 0, covered = 0;
  seen >> ranges >> covered;
  EXPECT_GE(covered, held.size());
  EXPECT_LE(ranges, TRecordLockRuns::kMaxRuns + 4) << "the system's lock list stays short";
  for (std::uint32_t n : sample) {
    EXPECT_TRUE(t->RecordIsLocked(n)) << n;
    ASSERT_EQ(RaisedNumber([&] { t->UserWriteLockRecord(n); }), 10258) << n;
  }
  holder.Tell();
  ASSERT_TRUE(holder.WaitReady());  // committed
  EXPECT_EQ(Trimmed(RecordRanges(dir.Path(), kRecords)), "3 3") << "each record still held keeps its own byte";
  for (std::uint32_t n : sample) {
    const bool still = kept(n);
    EXPECT_EQ(t->RecordIsLocked(n), still) << n;
    ASSERT_EQ(RaisedNumber([&] { t->UserWriteLockRecord(n); }), still ? 10258 : 0) << n;
    if (still) continue;
    t->ReadUnlockTable();
    t->UserWriteUnlockRecord(n);
  }
  holder.Tell();
  ASSERT_TRUE(holder.WaitReady());  // a second transaction holds them all again
  for (std::uint32_t n : {held[5], held.back()}) EXPECT_EQ(RaisedNumber([&] { t->UserWriteLockRecord(n); }), 10258);
  holder.Kill(SIGKILL);
  EXPECT_EQ(holder.Wait(), 128 + SIGKILL);
  for (std::uint32_t n : sample) {
    ASSERT_EQ(RaisedNumber([&] { t->UserWriteLockRecord(n); }), 0) << n;
    t->ReadUnlockTable();
    t->UserWriteUnlockRecord(n);
  }
  EXPECT_EQ(Trimmed(RecordRanges(dir.Path(), kRecords)), "0 0");
  EXPECT_EQ(Trimmed(Probe(dir.Path())), "");
}

TEST(SharedTableLocks, TwoReaderProcessesHoldDifferentBytesAndKeepAWriterOut) {
  qvtest::TempDir dir;
  MakeTable(dir.Path());
  auto reader = [&](ChildProcess& c) {
    Session s(dir.Path());
    TDataTable* t = s.Open();
    t->UserReadLockTable();
    c.Ready();
    c.WaitTold();
    t->UserReadUnlockTable();
    c.Ready();
    c.WaitTold();
    return 0;
  };
  ChildProcess first(reader), second(reader);
  ASSERT_TRUE(first.WaitReady());
  ASSERT_TRUE(second.WaitReady());
  EXPECT_EQ(Trimmed(Probe(dir.Path())), "IDX readers 2;BLB readers 2");
  Session s(dir.Path());
  s.session.Timing.Sleep = NoSleep;
  TDataTable* t = s.Open();
  EXPECT_EQ(RaisedNumber([&] { t->WriteLockTable(); }), 10249);
  first.Tell();
  ASSERT_TRUE(first.WaitReady());
  EXPECT_EQ(RaisedNumber([&] { t->WriteLockTable(); }), 10249);
  // The failed .IDX range gave back the .DAT byte it had taken first.
  EXPECT_EQ(Trimmed(Probe(dir.Path())), "IDX readers 1;BLB readers 1");
  second.Tell();
  ASSERT_TRUE(second.WaitReady());
  EXPECT_EQ(RaisedNumber([&] { t->WriteLockTable(); }), 0);
  t->WriteUnlockTable();
  first.Tell();
  second.Tell();
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);
}

TEST(SharedTableLocks, SessionsOfOneProcessExcludeEachOther) {
  qvtest::TempDir dir;
  MakeTable(dir.Path());
  Session a(dir.Path()), b(dir.Path());
  TDataTable* ta = a.Open();
  TDataTable* tb = b.Open();
  ASSERT_NE(ta, tb);
  ta->UserWriteLockRecord(3);
  ta->ReadUnlockTable();
  EXPECT_TRUE(tb->RecordIsLocked(3));
  EXPECT_EQ(RaisedNumber([&] { tb->UserWriteLockRecord(3); }), 10258);
  EXPECT_EQ(RaisedNumber([&] { tb->UserWriteLockTable(); }), 10241);
  EXPECT_EQ(Trimmed(Probe(dir.Path())), "") << "record 3 is not one of the probed bytes";
  EXPECT_FALSE(ta->RecordIsLocked(7));
  ta->UserWriteLockRecord(7);
  ta->ReadUnlockTable();
  tb->UserWriteUnlockTable();  // not held: nothing
  EXPECT_EQ(Trimmed(Probe(dir.Path())), "DAT rec7 2147483639 1");
  ta->UserWriteUnlockRecord(3);
  ta->UserWriteUnlockRecord(7);
  ASSERT_EQ(RaisedNumber([&] { tb->UserWriteLockTable(); }), 0);
  EXPECT_TRUE(ta->RecordIsLocked(5));
  tb->UserWriteUnlockTable();
  ta->UserWriteLockRecord(7);
  ta->ReadUnlockTable();
  EXPECT_EQ(Trimmed(Probe(dir.Path())), "DAT rec7 2147483639 1");
  // A table lock and unlock in one session keep the other's record locks.
  EXPECT_EQ(RaisedNumber([&] { tb->UserWriteLockTable(); }), 10241);
  EXPECT_EQ(Trimmed(Probe(dir.Path())), "DAT rec7 2147483639 1");
  EXPECT_TRUE(tb->UserLockSemaphore(5));
  EXPECT_FALSE(ta->UserLockSemaphore(5));
  EXPECT_TRUE(tb->UserUnlockSemaphore(5));
}

TEST(SharedTableTransactions, RollbackRestoresTheFilesAndCommitsPublishInSteps) {
  qvtest::TempDir dir;
  MakeTable(dir.Path(), 10);
  std::string dat = dir.Path() + "/t.DAT", blb = dir.Path() + "/t.BLB";
  std::string before_dat = ReadFileBytes(dat), before_blb = ReadFileBytes(blb);
  ChildProcess other([&](ChildProcess& c) {
    c.WaitTold();
    Session o(dir.Path());
    TDataTable* ot = o.Open();
    bool refused = RaisedNumber([&] { ot->WriteLockTable(); }) == 10249;
    bool reads_committed = ot->DataFile().GetPhysicalRecordsUsed() == 15;
    c.Ready();
    c.WaitTold();
    bool writes_after = RaisedNumber([&] { ot->WriteLockTable(); }) == 0;
    ot->WriteUnlockTable();
    return refused && reads_committed && writes_after ? 0 : 1;
  });
  Session s(dir.Path());
  TDataTable* t = s.Open();
  s.dir->StartTransaction();
  ASSERT_TRUE(t->GetTransactionInProgress());
  AppendRecords(t->DataFile(), 100);
  t->FlushBuffers(true, true, true, true, true);  // only stamps in a transaction
  s.dir->RollbackTransaction();
  EXPECT_EQ(ReadFileBytes(dat), before_dat);
  EXPECT_EQ(ReadFileBytes(blb), before_blb);
  EXPECT_EQ(t->DataFile().GetPhysicalRecordsUsed(), 10u);
  EXPECT_EQ(Trimmed(Probe(dir.Path())), "");

  // Intermediate commit: the deferred record lock goes, writers stay out.
  s.dir->StartTransaction();
  t->UserWriteLockRecord(7);
  t->UserWriteUnlockRecord(7);
  AppendRecords(t->DataFile(), 5);
  EXPECT_EQ(Trimmed(Probe(dir.Path())), "DAT write 2147483647 1;DAT rec7 2147483639 1");
  s.dir->CommitTransaction(false);
  EXPECT_TRUE(t->GetTransactionInProgress());
  EXPECT_EQ(Trimmed(Probe(dir.Path())), "DAT write 2147483647 1");
  other.Tell();
  ASSERT_TRUE(other.WaitReady());
  s.dir->CommitTransaction(true);
  EXPECT_FALSE(t->GetTransactionInProgress());
  other.Tell();
  EXPECT_EQ(other.Wait(), 0);
  EXPECT_EQ(Trimmed(Probe(dir.Path())), "");
}

// 4 processes x 2 sessions each add 1 to record 1's ID 500 times under the
// table's write lock.
TEST(SharedTableTransactions, ConcurrentIncrementsUnderTheWriteLockAddUp) {
  qvtest::TempDir dir;
  MakeTable(dir.Path(), 1, false);
  auto worker = [&](ChildProcess&) {
    Session a(dir.Path(), 100000), b(dir.Path(), 100000);
    TDataTable* tables[] = {a.Open(), b.Open()};
    for (int i = 0; i < 1000; ++i) {
      TDataTable* t = tables[i % 2];
      t->WriteLockTable();
      TRecord* r = nullptr;
      if (!t->DataFile().GetRecord(nullptr, 1, false, false, 1, r)) return 2;
      r->SetRecordID(r->RecordID() + 1);
      r->Modified = true;
      t->DataFile().PutRecord(r);
      t->FlushBuffers(false, true, false, false, false);
      t->WriteUnlockTable();
    }
    return 0;
  };
  std::uint32_t start = 0;
  {
    Session s(dir.Path());
    TRecord* r = nullptr;
    TDataTable* t = s.Open();
    ASSERT_TRUE(t->DataFile().GetRecord(nullptr, 1, false, false, 1, r));
    start = r->RecordID();
    t->DataFile().PutRecord(r);
    t->ReadUnlockTable();
  }
  std::vector<std::unique_ptr<ChildProcess>> workers;
  for (int i = 0; i < 4; ++i) workers.push_back(std::make_unique<ChildProcess>(worker));
  for (auto& w : workers) EXPECT_EQ(w->Wait(), 0);
  Session s(dir.Path());
  TDataTable* t = s.Open();
  TRecord* r = nullptr;
  ASSERT_TRUE(t->DataFile().GetRecord(nullptr, 1, false, false, 1, r));
  EXPECT_EQ(r->RecordID() - start, 4000u);
  t->DataFile().PutRecord(r);
  t->ReadUnlockTable();
}

TEST(SharedTableTransactions, FailuresLeaveNoTransactionHalfDone) {
  qvtest::TempDir dir;
  MakeTable(dir.Path(), 10, true, "t");
  MakeTable(dir.Path(), 10, true, "u");
  // Another process holds u's write byte: the directory start fails on u
  // and rolls t back.
  ChildProcess holder([&](ChildProcess& c) {
    Session o(dir.Path());
    o.Open("u")->StartTransaction();
    c.Ready();
    c.WaitTold();
    return 0;
  });
  ASSERT_TRUE(holder.WaitReady());
  Session s(dir.Path());
  s.session.Timing.Sleep = NoSleep;
  TDataTable* t = s.Open("t");
  TDataTable* u = s.Open("u");
  EXPECT_EQ(RaisedNumber([&] { s.dir->StartTransaction(); }), 10249);
  EXPECT_FALSE(s.dir->TransactionInProgress());
  EXPECT_FALSE(t->GetTransactionInProgress() || t->TransactionLockHeld());
  EXPECT_FALSE(u->GetTransactionInProgress() || u->TransactionLockHeld());
  holder.Tell();
  EXPECT_EQ(holder.Wait(), 0);
  // A commit that cannot take its write lock (a reader in another session)
  // keeps the transaction, its lock and its changes; once the reader has
  // gone, either commit publishes them.
  Session reader(dir.Path());
  TDataTable* r = reader.Open("t");
  for (bool final_commit : {false, true}) {
    t->StartTransaction();
    AppendRecords(t->DataFile(), 3);
    r->UserReadLockTable();
    EXPECT_EQ(RaisedNumber([&] { t->CommitTransaction(final_commit); }), 10249) << final_commit;
    EXPECT_TRUE(t->GetTransactionInProgress() && t->TransactionLockHeld()) << final_commit;
    EXPECT_FALSE(t->InternalWriteLockHeld()) << final_commit;
    r->UserReadUnlockTable();
    t->CommitTransaction(final_commit);
    EXPECT_EQ(t->GetTransactionInProgress(), !final_commit);
    r->UserReadLockTable();
    EXPECT_EQ(r->DataFile().GetPhysicalRecordsUsed(), final_commit ? 16u : 13u) << final_commit;
    r->UserReadUnlockTable();
  }
  EXPECT_EQ(Trimmed(Probe(dir.Path())), "");

}

TEST(SharedTableTransactions, AFinalCommitThatCannotWriteKeepsTheTransaction) {
  qvtest::TempDir dir;
  MakeTable(dir.Path(), 10, true, "t");
  // A final commit whose flush cannot write keeps the transaction and its
  // lock; a rollback then frees the byte.
  int code = qvtest::ChildProcess([&](ChildProcess&) {
               std::signal(SIGXFSZ, SIG_IGN);
               Session w(dir.Path()), other(dir.Path());
               TDataTable* wt = w.Open("t");
               w.dir->StartTransaction();
               AppendRecords(wt->DataFile(), 2000);
               rlimit limit{static_cast<rlim_t>(std::filesystem::file_size(dir.Path() + "/t.DAT")), RLIM_INFINITY};
               setrlimit(RLIMIT_FSIZE, &limit);
               if (RaisedNumber([&] { w.dir->CommitTransaction(true); }) != 9218) return 1;
               if (!wt->GetTransactionInProgress() || !wt->TransactionLockHeld()) return 2;
               TDataTable* ot = other.Open("t");
               if (RaisedNumber([&] { ot->WriteLockTable(); }) != 10249) return 3;
               w.dir->RollbackTransaction();
               if (RaisedNumber([&] { ot->WriteLockTable(); }) != 0) return 4;
               ot->WriteUnlockTable();
               return 0;
             }).Wait();
  EXPECT_EQ(code, 0);
  // A commit whose journal another process holds alone for a moment (as
  // one does while making or removing it) waits that out.
  ChildProcess holder([&](ChildProcess& c) {
    std::unique_ptr<rtl::TLockedFile> held;
    if (rtl::TLockedFile::Create(dir.Path() + "/t.JNL", false, held, 0600) != 0) return 1;
    c.Ready();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    return 0;
  });
  ASSERT_TRUE(holder.WaitReady());
  Session w(dir.Path());
  TDataTable* wt = w.Open("t");
  const std::uint32_t before = wt->DataFile().GetPhysicalRecordsUsed();
  w.dir->StartTransaction();
  AppendRecords(wt->DataFile(), 5);
  EXPECT_EQ(RaisedNumber([&] { w.dir->CommitTransaction(true); }), 0);
  EXPECT_EQ(holder.Wait(), 0);
  Session reader(dir.Path());
  EXPECT_EQ(reader.Open("t")->DataFile().GetPhysicalRecordsUsed(), before + 5);
}

TEST(SharedTableObjects, OpenCreateDeleteAndRenameFailSoundly) {
  qvtest::TempDir dir;
  MakeTable(dir.Path());
  ChildProcess deleter([&](ChildProcess& c) {
    c.WaitTold();
    Session o(dir.Path());
    return (o.dir->DeleteDataTable("t", false) == -11013 ? 0 : 1) +
           (o.dir->RenameDataTable("t", "v", false, false) == -11013 ? 0 : 2);
  });
  Session s(dir.Path());
  // A transaction keeps a closed table open non-exclusively: an exclusive
  // request cannot be met.
  TDataTable* t = s.Open();
  s.dir->StartTransaction();
  ASSERT_EQ(s.dir->CloseDataTable(t), 0);
  EXPECT_EQ(s.dir->TableObjectCount(), 1u);
  TDataTable* again = nullptr;
  TOpenTableRequest exclusive;
  exclusive.Exclusive = true;
  EXPECT_EQ(s.dir->OpenDataTable("t", again, exclusive), -11013);
  EXPECT_EQ(s.dir->OpenDataTable("T", again, {}), 0);
  EXPECT_EQ(again, t);
  EXPECT_TRUE(t->GetTransactionInProgress());
  s.dir->CommitTransaction(true);
  ASSERT_EQ(s.dir->CloseDataTable(t), 0);
  EXPECT_EQ(s.dir->TableObjectCount(), 0u);

  // Another process cannot delete or rename an open table.
  t = s.Open();
  std::string before = ReadFileBytes(dir.Path() + "/t.DAT");
  deleter.Tell();
  int code = deleter.Wait();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadFileBytes(dir.Path() + "/t.DAT"), before);
  EXPECT_EQ(s.dir->DeleteDataTable("t", false), -11013);
  ASSERT_EQ(s.dir->CloseDataTable(t), 0);

  // An open that fails keeps nothing: the files can be held exclusively
  // and deleted afterwards.
  std::filesystem::resize_file(dir.Path() + "/t.DAT", 20);
  TDataTable* broken = nullptr;
  EXPECT_NE(RaisedNumber([&] { s.dir->OpenDataTable("t", broken, {}); }), 0);
  EXPECT_EQ(s.dir->TableObjectCount(), 0u);
  EXPECT_EQ(s.dir->DeleteDataTable("t", false), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/t.IDX"));

  // A create that fails after making the .DAT file deletes it again.
  std::filesystem::create_directory(dir.Path() + "/c.IDX");
  std::vector<TFieldDefinition> fields{Field("N", dtInteger)};
  AssignLayout(fields);
  TDataTable* created = nullptr;
  int answer = 0;
  int raised = RaisedNumber([&] { answer = s.dir->CreateDataTable("c", {}, fields, false, false, created); });
  EXPECT_TRUE(answer != 0 || raised != 0);
  EXPECT_EQ(created, nullptr);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/c.DAT"));
  EXPECT_EQ(s.dir->TableObjectCount(), 0u);

  // Rename as backup replaces an earlier backup; a rename back restores.
  MakeTable(dir.Path(), 3, false, "r");
  ASSERT_EQ(s.dir->RenameDataTable("r", "r", true, false), 0);
  EXPECT_TRUE(std::filesystem::exists(dir.Path() + "/r.DBK"));
  EXPECT_TRUE(std::filesystem::exists(dir.Path() + "/r.IBK"));
  MakeTable(dir.Path(), 4, false, "r");
  ASSERT_EQ(s.dir->RenameDataTable("r", "r", true, false), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/r.DAT"));
}

TEST(SharedTableObjects, AReadOnlyIndexMakesTheTableReadOnlyWithoutLocks) {
  qvtest::TempDir dir;
  MakeTable(dir.Path());
  ASSERT_EQ(::chmod((dir.Path() + "/t.IDX").c_str(), 0444), 0);
  Session s(dir.Path());
  TDataTable* t = s.Open();
  EXPECT_TRUE(t->FilesReadOnly());
  EXPECT_TRUE(t->GetReadOnly());
  EXPECT_FALSE(t->ReadLockTable());
  EXPECT_FALSE(t->WriteLockTable());
  EXPECT_FALSE(t->UserWriteLockRecord(7));
  EXPECT_FALSE(t->UserWriteLockTable());
  EXPECT_FALSE(t->UserLockSemaphore(1));
  t->StartTransaction();
  EXPECT_FALSE(t->GetTransactionInProgress());
  EXPECT_EQ(Trimmed(Probe(dir.Path())), "");
}

TEST(SharedTableObjects, TheIndexFileFollowsTheTableItsBackupAndOtherWriters) {
  qvtest::TempDir dir;
  MakeTable(dir.Path(), 10);
  const std::string idx = dir.Path() + "/t.IDX", ibk = dir.Path() + "/t.IBK";
  Session one(dir.Path()), two(dir.Path());
  TDataTable* a = one.Open();
  TDataTable* b = two.Open();
  EXPECT_EQ(a->IndexFile().GetActualRecordCount(), 10u);
  EXPECT_TRUE(a->IndexFile().GetNoPrimaryIndex());
  EXPECT_EQ(a->GetIndexFileSize(), 4096u);
  // A writer's index header reaches the other session through its stamp.
  const std::uint32_t stamp = b->GetLastIndexUpdateStamp();
  a->WriteLockTable();
  a->IndexFile().SetActualRecordCount(12);
  a->FlushBuffers(false, false, false, false, false);
  a->WriteUnlockTable();
  b->ReadLockTable();
  EXPECT_EQ(b->IndexFile().GetActualRecordCount(), 12u);
  EXPECT_GT(b->GetLastIndexUpdateStamp(), stamp);
  b->ReadUnlockTable();
  // Backup and restore: a byte copy, restored over later changes; a
  // missing backup changes nothing.
  a->BackupIndex();
  const std::string saved = ReadFileBytes(idx);
  EXPECT_EQ(ReadFileBytes(ibk), saved);
  a->WriteLockTable();
  a->IndexFile().SetActualRecordCount(3);
  a->FlushBuffers(false, false, true, false, false);
  ASSERT_NE(ReadFileBytes(idx), saved);
  a->RestoreIndex(false, false);
  a->WriteUnlockTable();
  EXPECT_EQ(ReadFileBytes(idx), saved);
  EXPECT_EQ(a->IndexFile().GetActualRecordCount(), 12u);
  // A restore failing at any step copies all or nothing (the stamp in the
  // first byte aside) and leaves no journal open behind it, which the next
  // flush would end with half a copy.
  a->WriteLockTable();
  a->IndexFile().SetActualRecordCount(5);
  a->FlushBuffers(false, false, true, false, false);
  std::string changed = ReadFileBytes(idx);
  const std::string journal = idx.substr(0, idx.size() - 4) + ".JNL";
  const auto past_stamp = [](const std::string& bytes) { return bytes.substr(1); };
  int failures = 0;
  for (int k = 1;; ++k) {
    SCOPED_TRACE(k);
    int raised = 0;
    {
      FaultAt fault(k);
      raised = RaisedNumber([&] { a->RestoreIndex(false, false); });
    }
    const std::string now = past_stamp(ReadFileBytes(idx));
    if (raised == 0) {
      EXPECT_TRUE(now == past_stamp(saved));
      break;
    }
    ++failures;
    EXPECT_TRUE(now == past_stamp(changed) || now == past_stamp(saved));
    TJournal probe;
    EXPECT_FALSE(probe.Hot(journal));
    a->IndexFile().SetActualRecordCount(5);
    a->FlushBuffers(false, false, true, false, false);
    changed = ReadFileBytes(idx);
  }
  EXPECT_GT(failures, 2);
  a->WriteUnlockTable();
  a->RestoreIndex(true, true);
  EXPECT_FALSE(std::filesystem::exists(ibk));
  EXPECT_EQ(RaisedNumber([&] { a->RestoreIndex(false, false); }), 8961);
  EXPECT_EQ(ReadFileBytes(idx), saved);
  // Emptying clears the counts and the pages with the records.
  a->WriteLockTable();
  TPage* page = nullptr;
  ASSERT_TRUE(a->IndexFile().GetNextFreePage(nullptr, kSystemSlot, page));
  a->IndexFile().SetNextFreePage(page);
  a->IndexFile().PutPage(page);
  a->FlushBuffers(false, false, false, false, false);
  EXPECT_EQ(std::filesystem::file_size(idx), 8192u);
  a->EmptyTable();
  a->FlushBuffers(false, true, true, true, false);
  a->WriteUnlockTable();
  EXPECT_EQ(std::filesystem::file_size(idx), 4096u);
  EXPECT_EQ(a->IndexFile().GetActualRecordCount(), 0u);
  EXPECT_EQ(a->IndexFile().GetNextFreePagePtr(kSystemSlot), 4096u);
  ASSERT_EQ(one.dir->CloseDataTable(a), 0);
  ASSERT_EQ(two.dir->CloseDataTable(b), 0);
  CheckResult check = RunTableCheck(dir.Path() + "/t.DAT");
  EXPECT_EQ(check.status, 0) << check.output;
}

TEST(SharedTableSessions, DirectoriesTablesPasswordsAndLanguages) {
  qvtest::TempDir root;
  std::string dir = root.Path() + "/dir";
  std::filesystem::create_directories(dir);
  std::filesystem::create_directories(root.Path() + "/Dir");
  std::filesystem::create_directories(root.Path() + "/x");
  TDataSession one, two;
  TDataDirectory* d = one.OpenDataDirectory("a", dir);
  EXPECT_EQ(one.OpenDataDirectory("b", dir + "/"), d);
  EXPECT_EQ(one.OpenDataDirectory("c", " " + root.Path() + "/x/../dir "), d);
  EXPECT_EQ(d->UseCount(), 3);
  EXPECT_NE(one.OpenDataDirectory("d", root.Path() + "/Dir"), d);
  EXPECT_NE(two.OpenDataDirectory("a", dir), d);
  TDataDirectory* memory = one.OpenDataDirectory("MEMORY", dir);
  EXPECT_EQ(one.OpenDataDirectory("memory", "/elsewhere"), memory);
  EXPECT_TRUE(memory->IsMemory());
  EXPECT_EQ(one.CloseDataDirectory(d), 0);
  EXPECT_EQ(d->UseCount(), 2);

  MakeTable(dir, 2);
  TDataTable *first = nullptr, *second = nullptr;
  TOpenTableRequest exclusive, overriding;
  exclusive.Exclusive = true;
  overriding.OverrideExclusive = true;
  ASSERT_EQ(d->OpenDataTable("t", first, exclusive), 0);
  EXPECT_EQ(d->OpenDataTable("t.dat", second, {}), -11013);
  EXPECT_EQ(d->OpenDataTable("T", second, overriding), 0);
  EXPECT_EQ(second, first);
  EXPECT_EQ(first->UseCount(), 2);
  TDataTable* in_two = nullptr;
  EXPECT_EQ(two.OpenDataDirectory("a", dir)->OpenDataTable("t", in_two, {}), -11013)
      << "the exclusive open keeps the other session out";
  EXPECT_EQ(d->OpenDataTable("  ", second, {}), -11010);
  EXPECT_TRUE(d->DataTableExists("T", false));
  EXPECT_FALSE(d->DataTableExists("nothing", false));
  std::string temp = d->GetTempDataTableName(false);
  EXPECT_FALSE(d->DataTableExists(temp, false));
  EXPECT_EQ(temp.substr(temp.size() - 5), "0.DAT");
  std::vector<std::string> names;
  d->ListTableNames(names);
  EXPECT_EQ(names, std::vector<std::string>{"t.DAT"});

  one.AddPassword("Secret");
  one.AddPassword("Secret");
  one.AddPassword("");
  EXPECT_EQ(one.PasswordCount(), 1u);
  EXPECT_TRUE(one.CheckForPassword("Secret"));
  EXPECT_FALSE(one.CheckForPassword("secret"));
  one.DeletePassword("Secret");
  EXPECT_EQ(one.PasswordCount(), 0u);

  struct {
    const char* locale;
    std::uint16_t id;
  } locales[] = {{"de_CH.UTF-8", 2055}, {"de", 1031},         {"C", 0},          {"POSIX", 0},
                 {"", 0},               {"xx_YY", 0},         {"pt_BR", 1046},   {"pt", 2070},
                 {"en_GB.UTF-8", 2057}, {"sr_RS@latin", 2074}, {"es_AR", 11274}, {"nn_NO", 2068},
                 {"en_ZW", 1033},       {"ar_QA", 16385}};
  for (const auto& c : locales) EXPECT_EQ(LanguageIDFromLocale(c.locale), c.id) << c.locale;
}

TEST(SharedTableSessions, EngineStartUp) {
  ExitKORVEX();
  EXPECT_EQ(RaisedNumber([] { GetCurrentDataSession(); }), 10758);
  InitializeKORVEX();
  TDataSession* first = GetCurrentDataSession();
  InitializeKORVEX();
  EXPECT_EQ(GetCurrentDataSession(), first);
  TDataSession* other = nullptr;
  StartDataSession(other);
  EXPECT_EQ(GetCurrentDataSession(), first);
  CloseDataSession(other);
  ExitKORVEX();
  EXPECT_FALSE(KORVEXInitialized());
}

}  // namespace
}  // namespace korvex::testing

namespace korvex::testing {
namespace {

// An in-memory table's image: round trip, bounds, refusals.
TEST(SharedTableImages, ImagesRoundTripAndForeignOrShortImagesAreRefused) {
  TDataSession session;
  TDataDirectory* memory = session.OpenDataDirectory("MEMORY", "");
  std::vector<TFieldDefinition> fields{Field("N", dtInteger), Field("B", dtBlob, 0, 1)};
  AssignLayout(fields);
  TDataTable* t = nullptr;
  ASSERT_EQ(memory->CreateDataTable("m", {}, fields, true, false, t), 0);
  AppendRecords(t->DataFile(), 20, [](TRecord* r, int i) { r->SetRecordID(100 + i); });
  auto image_of = [&] {
    t->BeginBufferLoad();
    std::string image(t->GetBufferSize(), '\0');
    std::uint32_t got = 0;
    for (std::uint32_t at = 0; at < image.size(); at += got) got = t->LoadFromBuffer(image.data() + at, at, 1000);
    char tail[100];
    EXPECT_EQ(t->LoadFromBuffer(tail, t->GetBufferSize() - 10, 100), 10u);
    EXPECT_EQ(t->LoadFromBuffer(tail, t->GetBufferSize(), 100), 0u);
    t->EndBufferLoad();
    EXPECT_EQ(t->GetBufferSize(), 0u);
    return image;
  };
  auto save = [&](const std::string& image) {
    t->BeginBufferSave();
    if (image.empty()) t->SaveToBuffer(nullptr, 0, 0);
    for (std::size_t at = 0; at < image.size(); at += 777)
      t->SaveToBuffer(image.data() + at, static_cast<std::uint32_t>(at),
                      static_cast<std::uint32_t>(std::min<std::size_t>(777, image.size() - at)));
    return RaisedNumber([&] { t->EndBufferSave(); });
  };
  auto u32 = [](const std::string& s, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at]) | static_cast<std::uint8_t>(s[at + 1]) << 8 |
                                      static_cast<std::uint8_t>(s[at + 2]) << 16 |
                                      static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 3])) << 24);
  };
  std::string image = image_of();
  ASSERT_EQ(image.size() % 65535, 0u);
  std::uint32_t l1 = u32(image, 0), l2 = u32(image, 4 + l1), l3 = u32(image, 8 + l1 + l2);
  EXPECT_EQ(l1, t->DataFile().DataStart() + 20 * t->DataFile().GetRecordSize());
  EXPECT_EQ(l3, t->BlobFile().GetFileSize());
  std::string used = image.substr(0, 12 + l1 + l2 + l3);

  AppendRecords(t->DataFile(), 5);
  ASSERT_EQ(save(used), 0);
  EXPECT_EQ(t->DataFile().GetPhysicalRecordsUsed(), 20u);
  EXPECT_EQ(image_of().substr(0, used.size()), used);

  // Refused images change nothing.
  std::string huge = used;
  huge[0] = '\xF0', huge[1] = huge[2] = huge[3] = '\xFF';
  // A BLOB part that runs past the image (and its padding).
  std::string short_image = used;
  short_image[8 + l1 + l2 + 2] = '\x01';
  TDataDirectory* other_dir = session.OpenDataDirectory("MEMORY", "");
  std::vector<TFieldDefinition> other_fields{Field("S", dtString, 10), Field("B", dtBlob, 0, 1)};
  AssignLayout(other_fields);
  TDataTable* other = nullptr;
  ASSERT_EQ(other_dir->CreateDataTable("o", {}, other_fields, true, false, other), 0);
  other->BeginBufferLoad();
  std::string foreign(other->GetBufferSize(), '\0');
  other->LoadFromBuffer(foreign.data(), 0, static_cast<std::uint32_t>(foreign.size()));
  other->EndBufferLoad();
  for (const std::string* bad : {&huge, &short_image, &foreign}) {
    EXPECT_EQ(save(*bad), 8961);
    EXPECT_EQ(image_of().substr(0, used.size()), used);
  }
  // An empty image empties the table.
  ASSERT_EQ(save(""), 0);
  EXPECT_EQ(t->DataFile().GetPhysicalRecordsUsed(), 0u);
}

}  // namespace
}  // namespace korvex::testing

#include "fuzz/tables/table_image_fuzz.h"
#include "support/fuzz_replay.h"

namespace korvex::testing {
namespace {

// Seeds: images of the fuzz table with a few records and BLOBs; written to
// QV_TABLES_SEED_DIR when set.
TEST(SharedTableImages, FuzzBodyTakesTheCorpusAndItsMutations) {
  if (const char* out = std::getenv("QV_TABLES_SEED_DIR")) {
    TDataSession session;
    TDataDirectory* memory = session.OpenDataDirectory("MEMORY", "");
    TDataTable* t = nullptr;
    ASSERT_EQ(memory->CreateDataTable("seed", {}, fuzz::ImageTableFields(), true, true, t), 0);
    AppendRecords(t->DataFile(), 5, [](TRecord* r, int i) { r->SetRecordID(i + 1); });
    t->BeginBufferLoad();
    std::string image(t->GetBufferSize(), '\0');
    t->LoadFromBuffer(image.data(), 0, static_cast<std::uint32_t>(image.size()));
    t->EndBufferLoad();
    std::size_t used = 0;
    for (int part = 0; part < 3; ++part) {
      std::uint32_t length = 0;
      std::memcpy(&length, image.data() + used, 4);  // little-endian host
      used += 4 + length;
    }
    image.resize(used);
    qvtest::WriteFileBytes(std::string(out) + "/five_records", image);
    qvtest::WriteFileBytes(std::string(out) + "/empty", "");
  }
  qvtest::ReplayFuzzBody("fuzz/tables/corpus/table_image", fuzz::TableImage, 1500);
}

}  // namespace
}  // namespace korvex::testing

namespace korvex::testing {
namespace {

// A flush that writes records (changed and appended), a BLOB block and the
// headers is killed at each of its writes and syncs in turn. Whoever takes
// the table next plays the journal back: the files are as before the flush
// or as after it (up to the time of the last update), and the checker
// passes.
TEST(SharedTableJournal, AFlushKilledAtAnyStepLeavesTheFilesBeforeOrAfter) {
  qvtest::TempDir dir;
  MakeTable(dir.Path(), 30);
  FlushKills kills = KillFlushAtSteps(
      dir.Path(), {".DAT", ".IDX", ".BLB"},
      [&] {
        Session s(dir.Path());
        TDataTable* t = s.Open();
        t->WriteLockTable();
        for (std::uint32_t n : {3u, 29u}) {
          TRecord* r = nullptr;
          if (!t->DataFile().GetRecord(nullptr, n, false, false, 1, r)) return false;
          r->SetRecordID(1000 + n);
          r->Modified = true;
          t->DataFile().PutRecord(r);
        }
        AppendRecords(t->DataFile(), 40);
        t->IndexFile().SetActualRecordCount(70);
        // Two new index pages, both given to the free chain.
        TPage* pages[2] = {};
        for (TPage*& page : pages)
          if (!t->IndexFile().GetNextFreePage(nullptr, kSystemSlot, page)) return false;
        for (TPage* page : pages) {
          t->IndexFile().SetNextFreePage(page);
          t->IndexFile().PutPage(page);
        }
        TBlock* block = t->BlobFile().FetchFreeBlock(nullptr);
        block->Modified = true;
        t->BlobFile().PutBlock(block);
        t->FlushBuffers(false, true, true, true, true);
        t->WriteUnlockTable();
        return true;
      },
      [](int, int) { return true; });
  EXPECT_GT(kills.steps, 5);
  EXPECT_NE(kills.after[0], WithoutUpdateTime(kills.before[0]));
  EXPECT_EQ(kills.after[1].size(), kills.before[1].size() + 2 * 4096);
  EXPECT_GT(kills.befores, 0);
  EXPECT_GT(kills.afters, 0);
}

// A writer that dies in a flush after a reader opened the table: the
// reader's table read lock plays its journal back before anything is read
// under it (the reads under that lock take no read lock of their own), so
// they see the records as before the flush, never the torn files.
TEST(SharedTableJournal, ATableReadLockPlaysADeadWritersJournalBackFirst) {
  qvtest::TempDir d;
  HotJournal hot(d);
  MaintenanceEnv env(d.path().string());
  auto reader = NewCursor(env.dir, false);
  reader->OpenCursor();  // its first read plays the journal back
  EXPECT_EQ(Read(env.dir), hot.before);
  hot.Lay();  // the writer dies now
  ASSERT_TRUE(TJournal::IsHot(hot.base + ".JNL"));
  reader->UserReadLockTable();
  EXPECT_FALSE(TJournal::IsHot(hot.base + ".JNL"));
  EXPECT_EQ(Read(env.dir), hot.before);
  reader->UserReadUnlockTable();
  reader->CloseCursor();
  ExpectChecks(hot.base + ".DAT");
}

}  // namespace
}  // namespace korvex::testing
