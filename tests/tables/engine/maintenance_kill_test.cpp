// Maintenance killed: optimize (by the primary and by a secondary index),
// restructure, copy, repair and upgrade of a table with memos and binary
// BLOBs run in a forked child that dies with SIGKILL at a move of the swap
// (the swap hook), at a write or sync of a journal (the steps of every
// flush, the upgrade's repair among them) or at a random moment (the
// parent's kill). Then a fresh session opens the folder and the table:
// every record, field by field and BLOB by BLOB, is the table's before the
// work or after it; tools/tablecheck.py passes; and once the session has
// turned to the work folder no work file is left there.
//
// QV_MAINTENANCE_KILLS sets the random-time kills per operation (2 in the
// quick runs, 40 in the long one: ctest -C Long -L long, which also kills
// at every journal step instead of three).
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "support/child_process.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/maintenance/maintenance_work.h"
#include "tables/engine/maintenance/table_restructure.h"
#include "tables/engine/maintenance/table_swap.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/flush_kill_support.h"
#include "tests/tables/engine/maintenance_support.h"

namespace korvex::testing {
namespace {

namespace fs = std::filesystem;
using qvtest::ReadFileBytes;
using qvtest::WriteFileBytes;

// Id, a hidden string, a name, a memo and a binary BLOB; no primary key,
// a secondary index on the name.
std::vector<TFieldDefinition> KillShape() {
  std::vector<TFieldDefinition> f = Shape();
  f.push_back(Field("Pic", dtBlob, 0, fstBinary));
  return f;
}

TTableCreation KillCreation() {
  TTableCreation creation;
  creation.Indexes.emplace_back();
  TIndexDefinition by_name;
  by_name.Name = "ByName";
  by_name.FieldCount = 1;
  by_name.Fields[0] = 3;
  creation.Indexes.push_back(by_name);
  creation.IndexCount = 1;
  return creation;
}

void FillKillTable(TDataDirectory* dir, int count) {
  Fill(dir, count, "t", KillCreation(), KillShape());
  auto c = NewCursor(dir, true);
  c->OpenCursor();
  Bytes b(c->GetRecordSize());
  std::mt19937 rng(7);
  for (std::uint32_t n = 1; n <= static_cast<std::uint32_t>(count); ++n) {
    if (c->GotoPhysicalRecordNumber(n) != 0 || c->GetCurrentRecord(b.data(), true) != 0) continue;
    std::string pic(rng() % 3000, '\0');
    for (char& ch : pic) ch = static_cast<char>(rng());
    if (n % 5 == 0) continue;
    ASSERT_EQ(c->OpenBlob(5, b.data(), 2), 0);
    ASSERT_EQ(c->PutBlob(5, b.data(), 0, reinterpret_cast<const std::uint8_t*>(pic.data()),
                         static_cast<std::int64_t>(pic.size())),
              0);
    c->ModifyRecord(b.data(), true);
  }
}

enum class Work { Optimize, OptimizeByName, Restructure, Copy, Repair, Upgrade };
const char* Named(Work w) {
  static const char* const kNames[] = {"optimize", "optimize by name", "restructure", "copy", "repair", "upgrade"};
  return kNames[static_cast<int>(w)];
}

struct Folders {
  qvtest::TempDir data, work, counts;
  std::string Data() const { return data.path().string(); }
  std::string WorkPath() const { return work.path().string(); }
};

// A session on the data folder whose private directory is the work folder.
struct Session {
  explicit Session(const Folders& f) : env(f.Data()) { env.session.SetPrivateDirectory(f.WorkPath()); }
  MaintenanceEnv env;
};

void RunWork(Work w, TDataDirectory* dir, int turn) {
  switch (w) {
    case Work::Optimize:
    case Work::OptimizeByName: {
      auto c = NewCursor(dir, true);
      c->OptimizeTable(w == Work::Optimize ? "" : "ByName", turn % 2 == 0);
      break;
    }
    case Work::Restructure: {
      auto c = NewCursor(dir, true);
      TRestructureRequest r = WithoutField(*c, 2);
      r.Indexes = KillCreation().Indexes;
      r.NoBackup = turn % 2 == 0;
      c->RestructureTable(r);
      break;
    }
    case Work::Copy:
      NewCursor(dir, false)->CopyTable("c", true);
      break;
    case Work::Repair:
      NewCursor(dir, true)->RepairTable(false, false);
      break;
    case Work::Upgrade:
      NewCursor(dir, false)->UpgradeTable();
      break;
  }
}

// Every file of a folder: name -> bytes.
std::map<std::string, std::string> Files(const std::string& folder) { return FolderFiles(folder); }

void Lay(const std::string& folder, const std::map<std::string, std::string>& files) {
  for (auto& entry : fs::directory_iterator(folder)) fs::remove(entry.path());
  for (const auto& [name, bytes] : files) WriteFileBytes(folder + "/" + name, bytes);
}

std::vector<std::string> WorkFilesIn(const std::string& folder) {
  std::vector<std::string> left;
  for (auto& entry : fs::directory_iterator(folder)) left.push_back(entry.path().filename().string());
  return left;
}

struct Tally {
  int kills = 0, lost = 0, olds = 0, news = 0;
};

class MaintenanceKills {
public:
  MaintenanceKills(Work w, int random_kills, int journal_samples) : work_(w), random_(random_kills), samples_(journal_samples) {}

  Tally Run() {
    Prepare();
    Measure();
    for (int k = 1; k <= moves_; ++k) Kill("swap move " + std::to_string(k), [k](int& moves) {
        SetTableSwapHook([k, &moves](const std::string&, const std::string&) {
          if (++moves == k) std::raise(SIGKILL);
        });
      });
    for (int k : JournalSteps()) Kill("journal step " + std::to_string(k), [k](int&) {
        static std::unique_ptr<JournalStepKill> kill;
        kill = std::make_unique<JournalStepKill>(k);
      });
    std::mt19937 rng(static_cast<std::uint32_t>(1000 + static_cast<int>(work_)));
    for (int i = 0; i < random_; ++i) {
      const auto at = std::chrono::microseconds(rng() % std::max<std::int64_t>(1, took_.count() * 11 / 10));
      Kill("random kill at " + std::to_string(at.count()) + " us", {}, at);
    }
    return tally_;
  }

private:
  void Prepare() {
    if (work_ == Work::Upgrade) {
      qvtest::CommandResult run = qvtest::RunShell("python3 '" QV_SOURCE_DIR "/tests/tables/engine/old_tables.py' write 3 '" +
                                                   f_.Data() + "' 2>&1");
      ASSERT_EQ(run.status, 0) << run.output;
    } else {
      Session s(f_);
      FillKillTable(s.env.dir, 240);
    }
    start_ = Files(f_.Data());
    {
      Session s(f_);
      if (work_ != Work::Upgrade) old_ = Read(s.env.dir);
      RunWork(work_, s.env.dir, 0);
      new_ = Read(s.env.dir);
    }
    if (work_ == Work::Restructure) {
      ASSERT_EQ(new_, Without(old_, "Hid"));
    } else if (work_ != Work::Upgrade) {
      ASSERT_EQ(new_, old_);
    }
    ASSERT_GT(new_.size(), work_ == Work::Upgrade ? 4u : 100u);
  }

  // The work run to its end in a child: its swap moves, journal steps and
  // time.
  void Measure() {
    Lay(f_.Data(), start_);
    const auto started = std::chrono::steady_clock::now();
    const int status = qvtest::ChildProcess([&](qvtest::ChildProcess&) {
                         int moves = 0;
                         SetTableSwapHook([&moves](const std::string&, const std::string&) { ++moves; });
                         JournalStepKill steps(0);
                         Session s(f_);
                         RunWork(work_, s.env.dir, 1);
                         WriteFileBytes(f_.counts.path().string() + "/counts",
                                        std::to_string(moves) + " " + std::to_string(steps.Steps()));
                         return 0;
                       }).Wait();
    took_ = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    ASSERT_EQ(status, 0);
    std::sscanf(ReadFileBytes(f_.counts.path().string() + "/counts").c_str(), "%d %d", &moves_, &steps_);
    if (work_ == Work::Optimize || work_ == Work::OptimizeByName || work_ == Work::Restructure) {
      EXPECT_EQ(moves_, 6);
    }
  }

  std::vector<int> JournalSteps() const {
    std::vector<int> picked;
    if (steps_ == 0) return picked;
    if (samples_ <= 0 || samples_ >= steps_) {
      for (int k = 1; k <= steps_; ++k) picked.push_back(k);
      return picked;
    }
    for (int i = 0; i < samples_; ++i) picked.push_back(1 + static_cast<int>(std::int64_t{i} * (steps_ - 1) / (samples_ - 1 > 0 ? samples_ - 1 : 1)));
    return picked;
  }

  // One kill: the files laid as they were, the child run with `arm` (or
  // killed by the parent after `after`), then the checks.
  void Kill(const std::string& how, const std::function<void(int&)>& arm,
            std::chrono::microseconds after = std::chrono::microseconds(-1)) {
    SCOPED_TRACE(std::string(Named(work_)) + ", " + how);
    Lay(f_.Data(), start_);
    Lay(f_.WorkPath(), {});
    int status;
    const int turn = turn_++;
    {
      qvtest::ChildProcess child([&](qvtest::ChildProcess&) {
        int moves = 0;
        if (arm) arm(moves);
        Session s(f_);
        RunWork(work_, s.env.dir, turn);
        return 0;
      });
      if (after.count() >= 0) {
        std::this_thread::sleep_for(after);
        child.Kill(SIGKILL);
      }
      status = child.Wait();
    }
    if (status != 128 + SIGKILL) {
      // The work ended before the kill: nothing to find out.
      EXPECT_EQ(status, 0);
      if (after.count() < 0) ADD_FAILURE() << "the child was not killed";
      return;
    }
    ++tally_.kills;
    Check();
  }

  void Check() {
    // The next session: the folder opened (a dead swap put right), the
    // work folder turned to (dead work files removed).
    Session s(f_);
    EXPECT_EQ(WorkFilesIn(f_.WorkPath()), std::vector<std::string>{});
    Snapshot now;
    int raised = RaisedNumber([&] { now = Read(s.env.dir); });
    if (work_ == Work::Upgrade && raised == err::kWrongVersion) {
      // Still the old table: its records are all there, as the upgrade
      // run now to its end shows.
      raised = RaisedNumber([&] {
        RunWork(work_, s.env.dir, 1);
        now = Read(s.env.dir);
      });
      ++tally_.olds;
      EXPECT_EQ(raised, 0);
      EXPECT_EQ(now, new_);
      if (now != new_) ++tally_.lost;
    } else {
      EXPECT_EQ(raised, 0);
      const bool is_old = work_ != Work::Upgrade && now == old_, is_new = now == new_;
      EXPECT_TRUE(is_old || is_new) << "records: " << now.size() << " of " << new_.size();
      if (raised != 0 || !(is_old || is_new)) ++tally_.lost;
      // Optimize and repair keep the content: the old table is the one
      // with its deleted records still in the file.
      if (work_ == Work::Restructure || work_ == Work::Upgrade) {
        tally_.olds += is_old;
        tally_.news += is_new && !is_old;
      } else {
        const bool rewritten = PhysicalRecords(s.env.dir) == now.size();
        tally_.olds += !rewritten;
        tally_.news += rewritten;
      }
    }
    ExpectChecks(f_.Data() + "/t.DAT");
    EXPECT_FALSE(fs::exists(f_.Data() + "/t.SWP"));
    EXPECT_FALSE(fs::exists(f_.Data() + "/t.UPG"));
    EXPECT_EQ(WorkFilesIn(f_.WorkPath()), std::vector<std::string>{});
  }

  static std::size_t PhysicalRecords(TDataDirectory* dir) {
    auto c = NewCursor(dir, false);
    c->OpenCursor();
    return c->Table()->DataFile().GetPhysicalRecordsUsed();
  }

  Work work_;
  int random_, samples_;
  Folders f_;
  std::map<std::string, std::string> start_;
  Snapshot old_, new_;
  int moves_ = 0, steps_ = 0, turn_ = 0;
  std::chrono::microseconds took_{0};
  Tally tally_;
};

int RandomKills(int quick) {
  const char* set = std::getenv("QV_MAINTENANCE_KILLS");
  return set != nullptr ? std::atoi(set) : quick;
}

Tally RunOne(Work w, int random_kills, int journal_samples) {
  Tally t = MaintenanceKills(w, random_kills, journal_samples).Run();
  std::printf("%-18s kills %4d  old %4d  new %4d  lost %d\n", Named(w), t.kills, t.olds, t.news, t.lost);
  EXPECT_EQ(t.lost, 0);
  return t;
}

// The quick runs: every swap move, three journal steps, two random kills.
TEST(MaintenanceKills, Optimize) { RunOne(Work::Optimize, RandomKills(2), 3); }
TEST(MaintenanceKills, OptimizeBySecondaryIndex) { RunOne(Work::OptimizeByName, RandomKills(2), 3); }
TEST(MaintenanceKills, Restructure) { RunOne(Work::Restructure, RandomKills(2), 3); }
TEST(MaintenanceKills, Copy) { RunOne(Work::Copy, RandomKills(2), 3); }
TEST(MaintenanceKills, Repair) { RunOne(Work::Repair, RandomKills(2), 3); }
TEST(MaintenanceKills, Upgrade) { RunOne(Work::Upgrade, RandomKills(2), 3); }

TEST(MaintenanceKills, DISABLED_Hundreds) {
  Tally all;
  for (Work w : {Work::Optimize, Work::OptimizeByName, Work::Restructure, Work::Copy, Work::Repair, Work::Upgrade}) {
    const Tally t = RunOne(w, RandomKills(40), 0);
    all.kills += t.kills;
    all.olds += t.olds;
    all.news += t.news;
    all.lost += t.lost;
  }
  std::printf("all                kills %4d  old %4d  new %4d  lost %d\n", all.kills, all.olds, all.news, all.lost);
}

}  // namespace
}  // namespace korvex::testing
