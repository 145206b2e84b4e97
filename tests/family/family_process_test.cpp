// The family tables shared by processes: Adds from two processes at once,
// "Clear Data" against a table another process holds, and a process killed
// while it runs handlers on tables it holds exclusively.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <set>

#include "support/child_process.h"
#include "tests/family/family_random_driver.h"

namespace family::testing {
namespace {

using Rows = std::vector<std::string>;

// A child's own tables over the folder (made after the fork).
int InChild(const std::string& folder, const std::function<void(FamilyEnv&)>& body) {
  {
    FamilyEnv env(folder);
    body(env);
  }
  korvex::FinalizeSessions();
  return 0;
}

TEST(FamilyProcesses, TwoProcessesAddingAtOnceLinkOnlyTheirOwn) {
  qvtest::TempDir dir;
  {
    FamilyEnv env(dir.Path());
    env.box.ShowFamsClick();  // made before either child starts
  }
  korvex::FinalizeSessions();
  auto adder = [&](char tag) {
    return [&, tag](qvtest::ChildProcess& self) {
      self.WaitTold();
      return InChild(dir.Path(), [&](FamilyEnv& env) {
        for (int i = 0; i < 200; ++i) {
          env.view.husband = std::string(1, tag) + std::to_string(i) + " Smit";
          env.view.wife = std::string(1, tag) + std::to_string(i) + " Bos";
          env.box.AddClick();
        }
      });
    };
  };
  qvtest::ChildProcess a(adder('A')), b(adder('B'));
  a.Tell();
  b.Tell();
  ASSERT_EQ(a.Wait(), 0);
  ASSERT_EQ(b.Wait(), 0);
  const TableDump fams = DumpTable(dir.Path(), "fams"), inds = DumpTable(dir.Path(), "inds");
  EXPECT_EQ(fams.findings, Rows{});
  EXPECT_EQ(inds.findings, Rows{});
  const ParsedTables t = Parse(fams, inds);
  EXPECT_EQ(LinkFaults(t), Rows{});
  ASSERT_EQ(t.families.size(), 400u);
  ASSERT_EQ(t.individuals.size(), 800u);
  // Each family's husband and wife come from the same Add.
  for (const auto& [fid, f] : t.families) {
    const IndividualRecord& h = t.individuals.at(f.husband);
    const IndividualRecord& w = t.individuals.at(f.wife);
    EXPECT_EQ(h.fname, w.fname) << fid;
    EXPECT_EQ(h.fams[0], fid);
  }
}

TEST(FamilyProcesses, ClearDataAgainstATableHeldElsewhereEmptiesNothing) {
  qvtest::TempDir dir;
  qvtest::ChildProcess holder([&](qvtest::ChildProcess& self) {
    self.WaitTold();
    return InChild(dir.Path(), [&](FamilyEnv& env) {
      env.individuals.Open();
      self.Ready();
      self.WaitTold();
    });
  });
  {
    FamilyEnv env(dir.Path());
    env.view.husband = "Jan Smit";
    env.view.wife = "Maria Bos";
    env.box.AddClick();
    holder.Tell();
    ASSERT_TRUE(holder.WaitReady());
    env.box.ClearDataClick();
    ASSERT_EQ(env.view.messages.size(), 1u);
    EXPECT_NE(env.view.messages[0].find("KORVEX Engine Error"), std::string::npos) << env.view.messages[0];
    EXPECT_EQ(env.box.LastOutcome(), TFamilyBox::Outcome::kRefused);
    EXPECT_TRUE(env.families.Active() && env.individuals.Active());
    EXPECT_FALSE(env.families.ControlsDisabled() || env.individuals.ControlsDisabled());
    EXPECT_EQ(env.families.RecordCount(), 1);
    EXPECT_EQ(env.individuals.RecordCount(), 2);
    env.box.AddClick();  // the tables still work
  }
  holder.Tell();
  EXPECT_EQ(holder.Wait(), 0);
  korvex::FinalizeSessions();
  EXPECT_EQ(DumpTable(dir.Path(), "fams").rows.size(), 2u);
  EXPECT_EQ(DumpTable(dir.Path(), "inds").rows.size(), 4u);
}

// A child empties the tables (holding them exclusively from then on) and
// runs random handlers, reporting the record numbers after each one that
// returned; it is killed at a random moment. Reopened, the tables pass
// the checker and hold every record a reported handler made.
TEST(FamilyProcesses, KilledWhileRunningHandlersKeepsWhatReturned) {
  const int kills = 50;
  std::mt19937 rng(std::random_device{}());
  const std::uint32_t seed = rng() & 0xFFFFFF;
  std::printf("seed %u\n", seed);
  std::vector<std::unique_ptr<qvtest::TempDir>> dirs;
  std::vector<std::string> paths;
  std::vector<std::pair<std::set<int>, std::set<int>>> reported(kills);
  for (int k = 0; k < kills; ++k) {
    dirs.push_back(std::make_unique<qvtest::TempDir>());
    const std::string folder = dirs.back()->Path();
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    qvtest::ChildProcess child([&](qvtest::ChildProcess& self) {
      close(report[0]);
      return InChild(folder, [&](FamilyEnv& env) {
        env.view.husband = "Old Smit";
        env.box.AddClick();  // a record from before "Clear Data"
        env.box.ClearDataClick();
        self.Ready();
        RandomDriver driver(env, seed + k);
        for (;;) {
          driver.Step(Snapshot(env.families, env.individuals));
          ParsedTables now = Snapshot(env.families, env.individuals);
          std::string line = "F";
          for (const auto& f : now.families) line += " " + std::to_string(f.first);
          line += " P";
          for (const auto& p : now.individuals) line += " " + std::to_string(p.first);
          line += "\n";
          (void)!write(report[1], line.data(), line.size());
        }
      });
    });
    close(report[1]);
    ASSERT_TRUE(child.WaitReady());
    usleep(static_cast<useconds_t>(rng() % 150000));
    child.Kill(SIGKILL);
    child.Wait();
    // The last whole line the child wrote.
    std::string all;
    char buffer[4096];
    for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;) all.append(buffer, static_cast<std::size_t>(n));
    close(report[0]);
    const std::size_t end = all.rfind('\n');
    if (end != std::string::npos) {
      const std::size_t start = all.rfind('\n', end - 1);
      std::istringstream in(all.substr(start == std::string::npos ? 0 : start + 1, end));
      std::set<int>* into = nullptr;
      for (std::string word; in >> word;) {
        if (word == "F") into = &reported[k].first;
        else if (word == "P") into = &reported[k].second;
        else into->insert(std::stoi(word));
      }
    }
    // Reopened: the engine plays back what the kill left half done.
    {
      FamilyEnv env(folder);
      env.box.ShowFamsClick();
    }
    korvex::FinalizeSessions();
    paths.push_back(folder + "/fams.DAT");
    paths.push_back(folder + "/inds.DAT");
  }
  std::map<std::string, TableDump> dumps = DumpTables(paths);
  int handlers_seen = 0;
  for (int k = 0; k < kills; ++k) {
    SCOPED_TRACE("kill " + std::to_string(k) + " seed " + std::to_string(seed + k));
    const TableDump& fams = dumps[paths[2 * k]];
    const TableDump& inds = dumps[paths[2 * k + 1]];
    EXPECT_EQ(fams.findings, Rows{});
    EXPECT_EQ(inds.findings, Rows{});
    const ParsedTables t = Parse(fams, inds);
    for (int fid : reported[k].first) EXPECT_EQ(t.families.count(fid), 1u) << "family " << fid;
    for (int pid : reported[k].second) EXPECT_EQ(t.individuals.count(pid), 1u) << "person " << pid;
    handlers_seen += !reported[k].second.empty();
  }
  EXPECT_GT(handlers_seen, kills / 4);
}

}  // namespace
}  // namespace family::testing
