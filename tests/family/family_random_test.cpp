// Randomized handler calls (see family_random_driver.h): after each call
// every link resolves and points both ways, slots fill from the first,
// sexes are M or F, both tables browse, the tables grow by what the call
// makes, and a refusal changes nothing. At the end of each seed the
// checker and its python reader agree with what the datasets showed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "tests/family/family_random_driver.h"

namespace family::testing {
namespace {

int EnvNumber(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v ? std::atoi(v) : fallback;
}

// Calls and refusals by handler, over all seeds.
using Tally = std::map<std::string, std::pair<int, int>>;

void RunSeed(const std::string& folder, std::uint32_t seed, int calls, Tally& tally) {
  SCOPED_TRACE("seed " + std::to_string(seed));
  FamilyEnv env(folder);
  RandomDriver driver(env, seed);
  env.box.ShowFamsClick();
  ParsedTables before = Snapshot(env.families, env.individuals);
  for (int i = 0; i < calls; ++i) {
    const RandomDriver::Call call = driver.Step(before);
    const std::string where = "call " + std::to_string(i) + " " + call.name;
    ASSERT_EQ(env.families.State(), db::dsBrowse) << where;
    ASSERT_EQ(env.individuals.State(), db::dsBrowse) << where;
    ParsedTables after = Snapshot(env.families, env.individuals);
    ASSERT_EQ(LinkFaults(after), std::vector<std::string>{}) << where;
    ++tally[call.name].first;
    if (call.name != "showfam" && env.box.LastOutcome() == TFamilyBox::Outcome::kRefused) {
      ASSERT_TRUE(after.families == before.families && after.individuals == before.individuals) << where;
      ++tally[call.name].second;
    } else {
      ASSERT_EQ(after.families.size(), before.families.size() + call.families) << where;
      ASSERT_EQ(after.individuals.size(), before.individuals.size() + call.persons) << where;
    }
    before = std::move(after);
  }
  env.families.Close();
  env.individuals.Close();
  TableDump fams = DumpTable(folder, "fams"), inds = DumpTable(folder, "inds");
  EXPECT_EQ(fams.findings, std::vector<std::string>{});
  EXPECT_EQ(inds.findings, std::vector<std::string>{});
  ParsedTables read = Parse(fams, inds);
  EXPECT_TRUE(read.families == before.families && read.individuals == before.individuals);
}

// Six seeds of 300 calls here; twenty under `ctest -C Long -L long` (see
// CMakeLists.txt). QV_FAMILY_SEEDS and QV_FAMILY_CALLS set the run's size,
// QV_FAMILY_SEED its first seed (printed).
TEST(FamilyRandom, HandlersKeepEveryLinkBothWays) {
  const int seeds = EnvNumber("QV_FAMILY_SEEDS", 6), calls = EnvNumber("QV_FAMILY_CALLS", 300);
  const std::uint32_t first = static_cast<std::uint32_t>(EnvNumber("QV_FAMILY_SEED", static_cast<int>(std::random_device{}() & 0xFFFFFF)));
  std::printf("first seed %u\n", first);
  Tally tally;
  for (int k = 0; k < seeds && !::testing::Test::HasFatalFailure(); ++k) {
    qvtest::TempDir dir;
    RunSeed(dir.Path(), first + k, calls, tally);
    korvex::FinalizeSessions();
    EXPECT_EQ(korvex::GetTotalMemoryAllocated(), 0);
  }
  for (const auto& [name, counts] : tally) std::printf("%s %d (refused %d)\n", name.c_str(), counts.first, counts.second);
}

}  // namespace
}  // namespace family::testing
