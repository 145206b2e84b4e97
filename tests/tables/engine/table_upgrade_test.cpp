// Upgrade of tables written by a python3 script from the old layouts
// (versions 2 and 3): values, BLOB signatures, header, kept old files and
// the checker (old_tables.py check); a version-4 table, an earlier ".DUP",
// a table in use, and a failure before the swap.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "support/run_command.h"
#include "support/temp_dir.h"
#include "tables/engine/data_cursor.h"
#include "tables/engine/data_session.h"
#include "tables/engine/engine_error.h"
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

}  // namespace
}  // namespace korvex::testing
