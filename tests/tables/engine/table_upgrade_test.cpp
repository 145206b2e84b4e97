// Upgrade of tables written by a python3 script from the old layouts
// (versions 2 and 3): values, BLOB signatures, header, kept old files and
// the checker (old_tables.py check); a version-4 table, an earlier ".DUP",
// a table in use, and a failure before the swap.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "support/run_command.h"
#include "support/temp_dir.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/files/field_definition.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex::testing {
namespace {

namespace fs = std::filesystem;
const std::string kScript = QV_SOURCE_DIR "/tests/tables/engine/old_tables.py";

struct Lines {
  std::vector<std::string> log;
  std::vector<std::pair<std::string, int>> progress;
};
bool Log(void* user, const std::string& line) {
  std::string l = line;
  auto at = l.find(" at 20");
  if (at != std::string::npos) l = l.substr(0, at) + " at <time>";
  static_cast<Lines*>(user)->log.push_back(l);
  return true;
}
bool Progress(void* user, const std::string& text, std::uint8_t percent) {
  static_cast<Lines*>(user)->progress.emplace_back(text, percent);
  return true;
}

struct Env {
  Env() {
    session.Timing.InternalSleepMs = 1;
    session.SetPrivateDirectory(scratch.Path());
    session.AddPassword("pw");
    dir = session.OpenDataDirectory("d", folder.Path());
  }
  Lines Upgrade() {
    Lines lines;
    TDataCursor c(dir);
    c.SetTableName("t");
    c.SetUpgradeLogCallback(Log, &lines);
    c.SetUpgradeProgressCallback(Progress, &lines);
    try {
      c.UpgradeTable();
    } catch (const EKORVEXEngineError& e) {
      lines.log.push_back("raised " + std::to_string(e.ErrorCode()));
    }
    return lines;
  }
  // Enciphered tables with the engine's key pairs and password "pw".
  std::string Keys(bool encrypted) const { return encrypted ? EngineKeysOption() + " " : std::string(); }
  void Write(int version, bool encrypted = false) {
    qvtest::CommandResult run = qvtest::RunShell("python3 '" + kScript + "' " + Keys(encrypted) + "write " +
                                                 std::to_string(version) + " '" + folder.Path() + "' 2>&1");
    ASSERT_EQ(run.status, 0) << run.output;
  }
  std::map<std::string, std::string> Files() const { return FolderFiles(folder.Path()); }
  qvtest::TempDir folder, scratch;
  TDataSession session;
  TDataDirectory* dir = nullptr;
};

std::string Text(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

TEST(TableUpgrade, OldVersionsBecomeVersionFourWithTheirValues) {
  for (int variant = 0; variant < 4; ++variant) {
    const int version = 2 + variant % 2;
    const bool encrypted = variant >= 2;
    SCOPED_TRACE(std::to_string(version) + (encrypted ? " encrypted" : ""));
    Env env;
    env.Write(version, encrypted);
    std::ofstream(env.folder.File("t.DUP")) << "left by an earlier upgrade";
    const std::string old_dat = qvtest::ReadFileBytes(env.folder.File("t.DAT"));
    Lines lines = env.Upgrade();
    std::string expected =
        "Upgrade of table t.DAT to version 2.00 started at <time>\n"
        "Field definitions of t.DAT upgraded to latest table version 2.00\n"
        "6 records of t.DAT upgraded to latest table version 2.00\n" +
        std::string(version == 2 ? "Index definitions of t.DAT upgraded to latest table version 2.00\n"
                                 : "Index header of t.DAT upgraded to latest table version 2.00\n") +
        "BLOB header of t.DAT upgraded to latest table version 2.00\n"
        "Repair of table t.DAT started at <time>\n"
        // The old trees, in the old key layout, are rebuilt.
        "Index Primary rebuilt from the records, error fixed\n"
        "Index ByName rebuilt from the records, error fixed\n"
        "Index Sys Deleted rebuilt from the records, error fixed\n"
        "Repair of table t.DAT completed at <time>\n"
        "Upgrade of table t.DAT to version 2.00 completed at <time>\n";
    EXPECT_EQ(Text(lines.log), expected);
    qvtest::CommandResult check = qvtest::RunShell("python3 '" + kScript + "' " + env.Keys(encrypted) + "check " +
                                                   std::to_string(version) + " '" + env.folder.Path() + "' 2>&1");
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_EQ(qvtest::ReadFileBytes(env.folder.File("t.DUP")), old_dat) << "an earlier .DUP is replaced";
    EXPECT_EQ(RunTableCheck(env.folder.File("t.DAT"), env.Keys(encrypted)).status, 0);
    // Progress: each stage ends at 100; the repair's under its own text.
    for (const char* stage : {"Upgrading field definitions for t.DAT", "Upgrading records for t.DAT",
                              "Repairing table t.DAT"}) {
      auto last = std::find_if(lines.progress.rbegin(), lines.progress.rend(),
                               [&](auto& p) { return p.first == stage; });
      ASSERT_NE(last, lines.progress.rend()) << stage;
      EXPECT_EQ(last->second, 100) << stage;
    }
    // Upgraded: a second upgrade changes nothing and says so in one line.
    auto before = env.Files();
    EXPECT_EQ(Text(env.Upgrade().log), "t.DAT is already at the highest table version of 2.00, upgrade aborted\n");
    EXPECT_TRUE(env.Files() == before);
    EXPECT_TRUE(fs::is_empty(env.scratch.Path()));
  }
}

TEST(TableUpgrade, RefusalsLeaveTheFilesAsTheyWere) {
  Env env;
  env.Write(2);
  const auto before = env.Files();
  // In use elsewhere in this process.
  {
    TFileHandler held;
    held.SetFileName(env.folder.File("t.DAT"));
    held.OpenFile();
    EXPECT_EQ(Text(env.Upgrade().log), "raised 11013\n");
  }
  EXPECT_TRUE(env.Files() == before);
  // An old field that does not fit its record: refused before the swap.
  PatchFile(env.folder.File("t.DAT"),
            "d = bytearray(open(path, 'rb').read())\n"
            "struct.pack_into('<H', d, 127 + 265 * 3 + 88, 44)\n"
            "open(path, 'wb').write(d)\n");
  const auto damaged = env.Files();
  Lines lines = env.Upgrade();
  EXPECT_EQ(lines.log.back(), "raised 8961");
  EXPECT_TRUE(env.Files() == damaged);
  EXPECT_TRUE(fs::is_empty(env.scratch.Path())) << "no temporary file stays";
}

// A failing read or write anywhere in the upgrade, its closing repair
// included, leaves the old table's files as they were.
TEST(TableUpgrade, AFailureAnywhereLeavesTheOldTable) {
  FaultAt fault;
  int& reached = fault.reached;
  int& target = fault.target;
  int sites = 0;
  {
    Env env;
    env.Write(2);
    EXPECT_EQ(env.Upgrade().log.back().rfind("raised", 0), std::string::npos);
    sites = reached;
  }
  ASSERT_GT(sites, 10);
  for (int step = 1; step <= 8; ++step) {
    Env env;
    env.Write(2);
    const auto before = env.Files();
    target = sites - sites * step / 9;
    reached = 0;
    SCOPED_TRACE("failure at site " + std::to_string(target) + " of " + std::to_string(sites));
    EXPECT_EQ(env.Upgrade().log.back().rfind("raised", 0), 0u);
    EXPECT_TRUE(env.Files() == before);
    EXPECT_TRUE(fs::is_empty(env.scratch.Path())) << "no temporary file stays";
  }
}

TDataCursor& Exclusive(TDataCursor& c) {
  c.SetTableName("t");
  c.SetExclusive(true);
  return c;
}

// A table of an integer N and a memo M with blocks of `block` bytes: a
// first record without a memo (so that the upgrade's signatures, by record
// number, differ from those the memos were written with, and its repair
// gives every block a new one), then memo k with N = k. With `reuse`, a
// 5,000-byte memo is appended and deleted before each, so that its chain
// begins on the blocks that one left.
void WriteMemoTable(TDataDirectory* dir, std::uint16_t block, const std::vector<std::string>& memos, bool reuse) {
  std::vector<TFieldDefinition> fields{Field("N", dtInteger), Field("M", dtBlob, 0, fstMemo)};
  TTableCreation creation;
  creation.Settings.BlobBlockSize = block;
  {
    TDataCursor c(dir);
    Exclusive(c).CreateTable(creation, fields);
  }
  TDataCursor c(dir);
  Exclusive(c).OpenCursor();
  std::vector<std::uint8_t> buffer(c.GetRecordSize());
  auto append = [&](std::int32_t n, const std::string& memo) {
    c.InitRecord(buffer.data());
    c.PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(&n));
    ASSERT_EQ(c.OpenBlob(2, buffer.data(), 2), 0);
    ASSERT_EQ(c.PutBlob(2, buffer.data(), 0, reinterpret_cast<const std::uint8_t*>(memo.data()),
                        static_cast<std::int64_t>(memo.size())),
              0);
    c.AppendRecord(buffer.data());
  };
  c.InitRecord(buffer.data());
  c.AppendRecord(buffer.data());
  std::int32_t n = 0;
  for (const std::string& memo : memos) {
    if (reuse) {
      append(-1, std::string(5000, 'x'));
      if (::testing::Test::HasFatalFailure()) return;
      ASSERT_EQ(c.GotoPhysicalRecordNumber(c.GetPhysicalRecordsUsed()), 0);
      ASSERT_EQ(c.GetCurrentRecord(buffer.data(), false), 0);
      c.DeleteRecord(buffer.data());
    }
    append(n++, memo);
    if (::testing::Test::HasFatalFailure()) return;
  }
  // Each chain began on the blocks the deleted memo left: the file holds
  // the memos' blocks and no more.
  const std::size_t room = block - 18u;
  std::uint64_t blocks = 0;
  for (const std::string& memo : memos) blocks += (memo.size() + room - 1) / room;
  EXPECT_EQ(c.GetBlobFileSize(), 512u + blocks * block);
}

// Every memo of the table as written, and no other record but the first.
void ExpectMemos(TDataDirectory* dir, const std::vector<std::string>& memos) {
  TDataCursor r(dir);
  Exclusive(r).OpenCursor();
  std::vector<std::uint8_t> buffer(r.GetRecordSize());
  std::size_t seen = 0;
  while (r.GetNextRecord(buffer.data()) == 0) {
    std::int32_t k = -1;
    if (r.GetField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&k))) continue;
    ASSERT_TRUE(k >= 0 && static_cast<std::size_t>(k) < memos.size()) << k;
    const std::vector<std::uint8_t> content = r.ReadBlobContent(2, buffer.data());
    EXPECT_TRUE(std::string(content.begin(), content.end()) == memos[k])
        << "memo " << k << ": " << content.size() << " bytes read, " << memos[k].size() << " written";
    ++seen;
  }
  EXPECT_EQ(seen, memos.size());
}

// The table written back as version 3 wrote it (old_tables.py downgrade).
void Downgrade(const Env& env) {
  qvtest::CommandResult old = qvtest::RunShell("python3 '" + kScript + "' downgrade '" + env.folder.Path() + "' 2>&1");
  ASSERT_EQ(old.status, 0) << old.output;
}

// Memos of 256 to 2,000 blocks whose chains start on blocks freed just
// before, at every kind of block size: the repair, the adopting repair, and
// the upgrade of the table written back as version 3 (every block's
// signature replaced) read every memo back as written and report nothing.
// One test per block size, each well inside the time limit.
class LongChainsOnReusedBlocks : public ::testing::TestWithParam<std::uint16_t> {};

TEST_P(LongChainsOnReusedBlocks, ComeBackWhole) {
  const std::uint16_t block = GetParam();
  Env env;
  const std::int64_t room = block - 18;
  // Just inside and just past 256 blocks, and long chains; each a
  // different pattern, so a block of another memo shows.
  std::vector<std::string> memos;
  for (std::int64_t bytes : {256 * room, 256 * room + 1, 700 * room - 5, 2000 * room}) {
    std::string memo(static_cast<std::size_t>(bytes), ' ');
    for (std::size_t i = 0; i < memo.size(); ++i)
      memo[i] = static_cast<char>('a' + (i * 7 + memos.size() * 3 + i / 4099) % 26);
    memos.push_back(std::move(memo));
  }
  WriteMemoTable(env.dir, block, memos, true);
  if (::testing::Test::HasFatalFailure()) return;
  ExpectMemos(env.dir, memos);
  for (bool adopt : {false, true}) {
    SCOPED_TRACE(adopt ? "adopting repair" : "repair");
    Lines lines;
    TDataCursor t(env.dir);
    Exclusive(t).SetRepairLogCallback(Log, &lines);
    t.RepairTable(false, adopt);
    EXPECT_EQ(lines.log.size(), 2u) << Text(lines.log);
    ExpectMemos(env.dir, memos);
  }
  Downgrade(env);
  if (::testing::Test::HasFatalFailure()) return;
  Lines lines = env.Upgrade();
  for (const std::string& line : lines.log)
    EXPECT_TRUE(line.find(" upgraded to ") != std::string::npos || line.find(" at <time>") != std::string::npos ||
                line.find(" rebuilt from the records, error fixed") != std::string::npos)
        << line;
  EXPECT_TRUE(fs::exists(env.folder.File("t.DUP"))) << Text(lines.log);
  SCOPED_TRACE("upgrade");
  ExpectMemos(env.dir, memos);
  EXPECT_EQ(RunTableCheck(env.folder.File("t.DAT")).status, 0);
}

INSTANTIATE_TEST_SUITE_P(TableUpgrade, LongChainsOnReusedBlocks, ::testing::Values(64, 512, 768, 4096));

// The upgrade of a table whose 22 MB .BLB holds 64-byte blocks, each given
// a new signature by the upgrade's repair, takes at most five times a plain
// copy of the table: its work is linear in the table's size, as the copy's
// is (each block it took into a cache full of changed blocks once walked
// past all of them: 30 times the copy here, minutes for larger tables).
TEST(TableUpgrade, SmallBlocksUpgradeInTimeLinearInTheTable) {
  Env env;
  std::vector<std::string> memos;
  // On reused blocks: the chains are not in file order, and the windows
  // read ahead bring in blocks of the next chains.
  for (int k = 0; k < 3200; ++k) memos.push_back(std::string(5000 + k % 7, static_cast<char>('a' + k % 26)));
  WriteMemoTable(env.dir, 64, memos, true);
  if (::testing::Test::HasFatalFailure()) return;
  ASSERT_GT(fs::file_size(env.folder.File("t.BLB")), 22'000'000u);
  using Clock = std::chrono::steady_clock;
  const auto copy_start = Clock::now();
  {
    TDataCursor c(env.dir);
    Exclusive(c).CopyTable("c", true);
  }
  const double copy = std::chrono::duration<double>(Clock::now() - copy_start).count();
  Downgrade(env);
  if (::testing::Test::HasFatalFailure()) return;
  const auto upgrade_start = Clock::now();
  Lines lines = env.Upgrade();
  const double upgrade = std::chrono::duration<double>(Clock::now() - upgrade_start).count();
  ASSERT_TRUE(fs::exists(env.folder.File("t.DUP"))) << Text(lines.log);
  std::printf("copy %.2f s, upgrade %.2f s (%.1fx)\n", copy, upgrade, upgrade / copy);
  EXPECT_LT(upgrade, 5 * copy + 0.5) << "copy " << copy << " s";
  ExpectMemos(env.dir, memos);
}

}  // namespace
}  // namespace korvex::testing
