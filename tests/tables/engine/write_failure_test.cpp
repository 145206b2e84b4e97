// A write that fails leaves no trace. A failure is injected at every read,
// write, flush and allocation an append, modify or delete reaches, in turn
// (the file layer's fault hook), and a full file is met at every size a
// lowered RLIMIT_FSIZE can stop it: the three files stay byte for byte as
// they were and the records read back (through the failed cursor and a
// fresh one) are those of the state before. Inside a transaction and under
// an exclusive open the failed write is undone in the caches only: an
// earlier write of the same transaction stays and is committed.
// The expected states come from the same operation run without a failure
// on the same starting files (a differential run, not a restatement). The
// failed write's buffer still names its open BLOB, which the same write
// then stores when it goes again.
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cache/journal.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/errors/errors.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/file_handler.h"
#include "tests/tables/engine/cursor_test_support.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr const char* kExts[] = {".DAT", ".IDX", ".BLB"};

// Whether the tables made here have their memo field (and so a .BLB file):
// a delete without BLOBs keeps its record held from its fetch to its
// release, another path through the same failures.
bool g_blobs = true;

std::string FileBytes(const std::string& dir) {
  std::string all;
  for (const char* ext : kExts)
    if (std::filesystem::exists(dir + "/t" + ext)) all += qvtest::ReadFileBytes(dir + "/t" + ext) + "|";
  return all;
}

void CopyTable(const std::string& from, const std::string& to) {
  std::filesystem::remove_all(to);
  std::filesystem::create_directories(to);
  for (const char* ext : kExts)
    if (std::filesystem::exists(from + "/t" + ext)) std::filesystem::copy_file(from + "/t" + ext, to + "/t" + ext);
}

std::string Text(std::size_t n, char seed) {
  std::string s(n, ' ');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (seed + i * 7) % 26);
  return s;
}

constexpr int kNumber = 1, kName = 2, kMemo = 3;

void PutBlobText(TDataCursor& c, Bytes& buffer, const std::string& text) {
  ASSERT_EQ(c.OpenBlob(kMemo, buffer.data(), 2), 0);
  ASSERT_EQ(c.TruncateBlob(kMemo, buffer.data(), 0), 0);
  ASSERT_EQ(c.PutBlob(kMemo, buffer.data(), 0, reinterpret_cast<const std::uint8_t*>(text.data()),
                      static_cast<std::int64_t>(text.size())),
            0);
}

// Every live record in physical order: number, field bytes (BLOB reference
// left out) and BLOB content.
std::string Snapshot(TDataCursor& c) {
  std::string out;
  Bytes buffer(c.GetRecordSize());
  c.SetToBegin();
  while (c.GetNextRecord(buffer.data()) == 0) {
    Bytes comparable = buffer;
    if (g_blobs) std::fill_n(comparable.begin() + c.GetFieldDefinitionByPos(kMemo).Offset + 1, 8, 0);
    out += std::to_string(c.GetPhysicalRecordNumber()) + ":" + std::string(comparable.begin(), comparable.end());
    std::string blob = "<none>";
    if (g_blobs && c.OpenBlob(kMemo, buffer.data(), 1, true) == 0) {
      std::int64_t size = 0, count = 0;
      c.GetBlobSize(kMemo, buffer.data(), size);
      blob.assign(static_cast<std::size_t>(size), '\0');
      c.GetBlob(kMemo, buffer.data(), 0, reinterpret_cast<std::uint8_t*>(blob.data()), size, count);
      c.FreeBlob(kMemo, buffer.data(), true);
    }
    out += "=" + blob + ";";
  }
  return out;
}

std::string FreshSnapshot(const std::string& dir) {
  Env env(dir);
  TDataCursor c(env.dir);
  c.SetTableName("t");
  c.OpenCursor();
  return Snapshot(c);
}

// The starting table: records with BLOBs of several sizes, two deleted.
void MakeBase(const std::string& dir) {
  std::filesystem::create_directories(dir);
  Env env(dir);
  std::vector<TFieldDefinition> fields{Field("N", dtInteger), Field("S", dtString, 40)};
  if (g_blobs) fields.push_back(Field("M", dtBlob, 0, 1));
  {
    // A primary key on N and a secondary index on S: writes change index
    // pages too.
    const TTableCreation creation = KeyAndNameIndexes(kNumber, kName);
    TDataCursor c(env.dir);
    c.SetTableName("t");
    c.SetExclusive(true);
    c.CreateTable(creation, fields);
  }
  TDataCursor c(env.dir);
  c.SetTableName("t");
  c.OpenCursor();
  for (std::int32_t i = 1; i <= 12; ++i) {
    Bytes buffer(c.GetRecordSize());
    c.PutField(kNumber, buffer.data(), reinterpret_cast<const std::uint8_t*>(&i));
    std::string name = "name" + std::to_string(i);
    c.PutField(kName, buffer.data(), reinterpret_cast<const std::uint8_t*>(name.c_str()));
    if (g_blobs) PutBlobText(c, buffer, Text(i % 3 == 0 ? 0 : i % 3 == 1 ? 40 : 1700, static_cast<char>(i)));
    c.AppendRecord(buffer.data());
  }
  for (std::uint32_t n : {4u, 9u}) {
    Bytes buffer(c.GetRecordSize());
    ASSERT_EQ(c.GotoPhysicalRecordNumber(n), 0);
    ASSERT_EQ(c.GetCurrentRecord(buffer.data(), false), 0);
    c.DeleteRecord(buffer.data());
  }
}

enum class Op { Append, Modify, Delete };
enum class Mode { Shared, Transaction, Exclusive };

const char* Name(Op op) { return op == Op::Append ? "append" : op == Op::Modify ? "modify" : "delete"; }
const char* Name(Mode m) { return m == Mode::Shared ? "shared" : m == Mode::Transaction ? "transaction" : "exclusive"; }

// Readies the buffer outside the fault window and answers the write itself.
std::function<void()> Prepare(TDataCursor& c, Op op, Bytes& buffer, std::uint32_t record) {
  buffer.assign(c.GetRecordSize(), 0);
  if (op == Op::Append) {
    std::int32_t n = 999;
    c.PutField(kNumber, buffer.data(), reinterpret_cast<const std::uint8_t*>(&n));
    c.PutField(kName, buffer.data(), reinterpret_cast<const std::uint8_t*>("appended"));
    PutBlobText(c, buffer, Text(2300, 'x'));
    return [&c, &buffer] { c.AppendRecord(buffer.data()); };
  }
  EXPECT_EQ(c.GotoPhysicalRecordNumber(record), 0);
  if (op == Op::Delete) {
    EXPECT_EQ(c.GetCurrentRecord(buffer.data(), false), 0);
    return [&c, &buffer] { c.DeleteRecord(buffer.data()); };
  }
  EXPECT_EQ(c.GetCurrentRecord(buffer.data(), false), 0);
  EXPECT_EQ(c.GetCurrentRecord(buffer.data(), true), 0);
  c.PutField(kName, buffer.data(), reinterpret_cast<const std::uint8_t*>("modified"));
  if (g_blobs) PutBlobText(c, buffer, Text(1200, 'm'));
  return [&c, &buffer] { c.ModifyRecord(buffer.data(), true); };
}

struct Outcome {
  int raised = 0;
  int sites = 0;
};

// Runs the mode's writes on a copy of the base in `work`: in a transaction
// or an exclusive open an earlier modify of record 2 comes first. The
// write under test meets a failure at site k. Checks what the cursor sees
// right after, ends the mode (commit or close) and returns what happened.
Outcome RunOnce(const std::string& base, const std::string& work, Op op, Mode mode, int k,
                const std::string& expected_state, const std::string& expected_files = {}) {
  CopyTable(base, work);
  Env env(work);
  TDataCursor c(env.dir);
  c.SetTableName("t");
  c.SetExclusive(mode == Mode::Exclusive);
  c.OpenCursor();
  if (mode == Mode::Transaction) env.dir->StartTransaction();
  if (mode != Mode::Shared) {
    Bytes earlier;
    Prepare(c, Op::Modify, earlier, 2)();
  }
  Bytes buffer;
  auto write = Prepare(c, op, buffer, 5);
  Outcome outcome;
  {
    FaultAt fault(k);
    outcome.raised = RaisedNumber(write);
    outcome.sites = fault.reached;
  }
  if (outcome.raised != 0) {
    // At once, before anything else could play a journal back.
    EXPECT_FALSE(TJournal::IsHot(work + "/t.JNL"));
    if (!expected_files.empty()) {
      EXPECT_TRUE(FileBytes(work) == expected_files) << "files differ right after the failure";
    }
    EXPECT_EQ(Snapshot(c), expected_state) << "seen by the failed cursor";
    if (op != Op::Delete) {
      // The buffer names its open BLOB again, content and all.
      std::int64_t size = 0;
      EXPECT_EQ(c.GetBlobSize(kMemo, buffer.data(), size), 0);
      EXPECT_EQ(size, op == Op::Append ? 2300 : 1200);
    }
  }
  if (mode == Mode::Transaction) env.dir->CommitTransaction(true);
  c.CloseCursor();
  return outcome;
}

void RunAllFaults(Op op, Mode mode) {
  SCOPED_TRACE(std::string(Name(op)) + " " + Name(mode));
  qvtest::TempDir tmp;
  const std::string base = tmp.path().string() + "/base";
  const std::string work = tmp.path().string() + "/work";
  MakeBase(base);
  const std::string base_bytes = FileBytes(base);
  // The state to expect after a failed write: the base, or in a
  // transaction or exclusive open the base with the earlier write only.
  std::string expected;
  std::string after;
  {
    Outcome clean = RunOnce(base, work, op, mode, 0, "");
    ASSERT_EQ(clean.raised, 0);
    after = FreshSnapshot(work);
    ASSERT_EQ(RunTableCheck(work + "/t.DAT").status, 0);
  }
  if (mode == Mode::Shared) {
    expected = FreshSnapshot(base);
  } else {
    CopyTable(base, work);
    {
      Env env(work);
      TDataCursor c(env.dir);
      c.SetTableName("t");
      c.OpenCursor();
      Bytes earlier;
      Prepare(c, Op::Modify, earlier, 2)();
    }
    expected = FreshSnapshot(work);
  }
  ASSERT_NE(expected, after);
  Outcome counted = RunOnce(base, work, op, mode, 0, "");
  // Held writes may find all they need in the caches: nothing to fail.
  if (mode == Mode::Shared || op == Op::Append) {
    ASSERT_GT(counted.sites, 0);
  }
  if (counted.sites == 0) return;
  int reads = 0, last_failing = 0;
  for (int k = 1; k <= counted.sites; ++k) {
    SCOPED_TRACE("failure at site " + std::to_string(k) + " of " + std::to_string(counted.sites));
    Outcome failed = RunOnce(base, work, op, mode, k, expected, mode == Mode::Shared ? base_bytes : "");
    if (failed.raised == 0) {
      // A failure after the write reached the files (finding the cursor's
      // place again) does not undo it: then the write is whole.
      ASSERT_EQ(FreshSnapshot(work), after);
      continue;
    }
    last_failing = k;
    if (mode == Mode::Shared) {
      ASSERT_EQ(FileBytes(work), base_bytes);
    }
    ASSERT_EQ(FreshSnapshot(work), expected);
    ASSERT_FALSE(TJournal::IsHot(work + "/t.JNL"));
    if (failed.raised == err::kReadError) ++reads;
  }
  if (mode == Mode::Shared) {
    EXPECT_GT(reads, 0);
  }
  // After a failure the same cursor writes as if nothing had happened.
  CopyTable(base, work);
  {
    Env env(work);
    TDataCursor c(env.dir);
    c.SetTableName("t");
    c.OpenCursor();
    Bytes buffer;
    auto write = Prepare(c, op, buffer, 5);
    {
      FaultAt fault(last_failing);
      ASSERT_NE(RaisedNumber(write), 0);
    }
    // Appends and modifies go again with the same buffer and its open BLOB.
    Bytes again;
    if (op == Op::Delete) Prepare(c, op, again, 5)();
    else write();
  }
  if (mode == Mode::Shared) {
    EXPECT_EQ(FreshSnapshot(work), after);
  }
  CheckResult check = RunTableCheck(work + "/t.DAT");
  EXPECT_EQ(check.status, 0) << check.output;
}

TEST(WriteFailures, EveryInjectedFaultUndoesTheWrite) {
  for (Mode mode : {Mode::Shared, Mode::Transaction, Mode::Exclusive})
    for (Op op : {Op::Append, Op::Modify, Op::Delete}) {
      RunAllFaults(op, mode);
      if (::testing::Test::HasFatalFailure()) return;
    }
  g_blobs = false;
  ScopeExit blobs_again{[] { g_blobs = true; }};
  for (Mode mode : {Mode::Shared, Mode::Transaction, Mode::Exclusive}) {
    RunAllFaults(Op::Delete, mode);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// A file that cannot grow past a size, for every size between the largest
// file before and after the write: the write either succeeds whole or
// fails leaving the files as they were; its error says why.
TEST(WriteFailures, AFullFileAtAnySizeLeavesTheFilesAsTheyWere) {
  qvtest::TempDir tmp;
  const std::string base = tmp.path().string() + "/base";
  const std::string work = tmp.path().string() + "/work";
  MakeBase(base);
  const std::string base_bytes = FileBytes(base);
  const std::string before = FreshSnapshot(base);
  std::uintmax_t largest = 0;
  for (const char* ext : kExts) largest = std::max(largest, std::filesystem::file_size(base + "/t" + ext));
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  for (Op op : {Op::Append, Op::Modify, Op::Delete}) {
    SCOPED_TRACE(Name(op));
    std::string after;
    std::uintmax_t grown = 0;
    {
      RunOnce(base, work, op, Mode::Shared, 0, "");
      after = FreshSnapshot(work);
      for (const char* ext : kExts) grown = std::max(grown, std::filesystem::file_size(work + "/t" + ext));
    }
    int failures = 0, successes = 0;
    // The journal of a write that touches index pages can outgrow every
    // table file: past them the limit rises in larger steps until the write
    // gets through.
    for (std::uintmax_t limit = largest; limit <= grown + 64 || (successes == 0 && limit <= grown + 65536);
         limit += limit < grown ? 13 : limit <= grown + 64 ? 32 : 512) {
      SCOPED_TRACE("limit " + std::to_string(limit));
      CopyTable(base, work);
      int raised = 0;
      {
        Env env(work);
        TDataCursor c(env.dir);
        c.SetTableName("t");
        c.OpenCursor();
        Bytes buffer;
        auto write = Prepare(c, op, buffer, 5);
        rlimit lowered = saved;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lowered);
        std::string message;
        try {
          write();
        } catch (const EKORVEXEngineError& e) {
          raised = e.ErrorCode();
          message = e.what();
        }
        setrlimit(RLIMIT_FSIZE, &saved);
        // The system's reason comes with the error.
        if (raised == err::kWriteError) {
          EXPECT_NE(message.find("': File too large"), std::string::npos) << message;
        }
        if (raised != 0) {
          EXPECT_EQ(Snapshot(c), before);
        }
      }
      if (raised != 0) {
        ++failures;
        ASSERT_EQ(FileBytes(work), base_bytes);
        ASSERT_EQ(FreshSnapshot(work), before);
      } else {
        ++successes;
        ASSERT_EQ(FreshSnapshot(work), after);
      }
      ASSERT_FALSE(TJournal::IsHot(work + "/t.JNL"));
    }
    if (op == Op::Append) {
      EXPECT_GT(failures, 0);
    }
    EXPECT_GT(successes, 0);
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
}

}  // namespace
}  // namespace korvex::testing
