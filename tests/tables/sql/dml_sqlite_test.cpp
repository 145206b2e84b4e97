// INSERT, UPDATE and DELETE checked against python3's sqlite3 module.
//
// Random statement sequences run on a table with a primary key (and a memo
// column) and one without: after every statement the rows affected and
// the whole table must equal SQLite's, and a statement that fails must fail
// in both and leave our table files byte for byte as they were. The
// statements read their own target too: INSERT ... SELECT from the target,
// UPDATE of the primary key, DELETE with a sub-select over the target.
// Some UPDATE and DELETE conditions are the SELECT harness's
// (sql_random_support.h), with its translation for SQLite.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "support/run_command.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/sql/dml_test_support.h"
#include "tests/tables/sql/sql_random_support.h"
#include "tests/tables/sql/sql_test_support.h"

namespace korvex::testing {
namespace {

namespace fs = std::filesystem;

struct Step {
  std::string ours, lite;
};

const char* kNames[] = {"Smith", "Jones", "Abel", "Zorn", "Hall"};

// P and N as the SELECT harness's generator sees them (P's memo left out).
sqlrand::TTable Described(const char* name) {
  sqlrand::TTable table;
  table.name = name;
  table.columns = {{"Id", sqlrand::TKind::Integer, 0, false},
                   {"A", sqlrand::TKind::Integer, 0, true},
                   {"S", sqlrand::TKind::Char, 8, true},
                   {"F", sqlrand::TKind::Float, 0, true}};
  return table;
}

// One random statement over P (Id primary key, A, S, F, M memo) or N (Id, A,
// S, F, no key). Conditions and values stay where both dialects agree: no
// comparison of two NULL-able columns, no arithmetic overflow. Some UPDATE
// and DELETE conditions come from the SELECT harness's generator.
Step RandomStep(std::mt19937& rng, int step, sqlrand::TGenerator& generator) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const bool keyed = pick(2) == 0;
  const std::string t = keyed ? "P" : "N";
  auto name = [&] { return std::string("'") + kNames[pick(5)] + "'"; };
  auto number = [&] { return std::to_string(pick(40) - 5); };
  auto condition = [&]() -> std::pair<std::string, std::string> {
    switch (pick(10)) {
      // Served by P's primary index: only the rows selected are read.
      case 7: { std::string c = "Id = " + std::to_string(pick(60)); return {c, c}; }
      case 8: { std::string c = "Id >= " + number() + " AND Id < " + std::to_string(pick(80)) + " AND A IS NOT NULL"; return {c, c}; }
      case 0: { std::string c = "A > " + number(); return {c, c}; }
      case 1: { std::string c = "A <= " + number(); return {c, c}; }
      case 2: { std::string n = name(); return {"S = " + n, "S = " + n}; }
      case 3: { std::string n = name(); return {"S <> " + n, "S IS NOT " + n}; }
      case 4: return {"A IS NULL", "A IS NULL"};
      case 5: { std::string c = "Id < " + std::to_string(pick(60)) + " OR F >= 0"; return {c, c}; }
      default: { std::string c = "A BETWEEN 3 AND " + number(); return {c, c}; }
    }
  };
  const int kind = pick(11);
  if (kind >= 9) {
    static const sqlrand::TTable kP = Described("P"), kN = Described("N");
    const sqlrand::TSql c = generator.Condition({{keyed ? &kP : &kN, t}}, 2);
    const std::string head = kind == 9 ? "DELETE FROM " + t + " WHERE "
                                       : "UPDATE " + t + " SET A = A + 1, S = " + name() + " WHERE ";
    return {head + c.ours, head + c.lite};
  }
  switch (kind) {
    case 0:
    case 1: {
      const std::string id = std::to_string(1 + pick(60));
      const std::string a = pick(6) == 0 ? "NULL" : number();
      const std::string f = std::to_string(pick(100) - 50) + ".5";
      if (pick(3) == 0) {
        std::string s = "INSERT INTO " + t + " (Id, S) VALUES (" + id + ", " + name() + ")";
        return {s, s};
      }
      std::string s = "INSERT INTO " + t + " VALUES (" + id + ", " + a + ", " + name() + ", " + f +
                      (keyed ? ", 'memo " + id + "'" : "") + ")";
      return {s, s};
    }
    case 2: {
      // From the target itself: on P the new keys may meet old ones.
      auto [c, lc] = condition();
      std::string head = "INSERT INTO " + t + " (Id, A, S, F) SELECT Id + 1000, A, S, F FROM " + t + " WHERE ";
      return {head + c, head + lc};
    }
    case 3: {
      auto [c, lc] = condition();
      const std::string from = keyed ? "N" : "P";
      std::string head = "INSERT INTO " + t + " (Id, A, S, F) SELECT Id, A + 1, S, F FROM " + from + " WHERE ";
      return {head + c, head + lc};
    }
    case 4: {
      auto [c, lc] = condition();
      std::string set = "UPDATE " + t + " SET A = A + " + std::to_string(1 + pick(5)) + ", S = " + name() + " WHERE ";
      return {set + c, set + lc};
    }
    case 5: {
      auto [c, lc] = condition();
      std::string set = pick(2) ? "UPDATE " + t + " SET F = F / 2, A = NULL WHERE "
                                : "UPDATE " + t + " SET F = F + 0.25, S = NULL WHERE ";
      if (keyed && pick(2)) set = "UPDATE P SET M = 'changed " + std::to_string(step) + "' WHERE ";
      return {set + c, set + lc};
    }
    case 6: {
      // Moves every key above every other: no row meets another on the way.
      std::string s = "UPDATE " + t + " SET Id = Id + " + std::to_string((step + 1) * 1000000);
      if (pick(2)) s += " WHERE Id < " + std::to_string(pick(60));
      return {s, s};
    }
    case 7: {
      auto [c, lc] = condition();
      return {"DELETE FROM " + t + " WHERE " + c, "DELETE FROM " + t + " WHERE " + lc};
    }
    default: {
      auto [c, lc] = condition();
      std::string head = "DELETE FROM " + t + " WHERE Id IN (SELECT Id FROM " + t + " WHERE ";
      return {head + c + ")", head + lc + ")"};
    }
  }
}

class DmlSqliteTest : public DmlTest {};

TEST_F(DmlSqliteTest, RandomSequencesAgreeWithSqlite) {
  const bool sub_selects = SubSelectsSupported();
  // Failed statements and reads of the target, over all seeds.
  int failures = 0, self_reads = 0;
  // Statements with the generator's conditions, and those that changed rows.
  int generated = 0, generated_changes = 0;
  for (std::uint32_t seed : {11u, 12u, 13u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    sqlrand::TGenerator generator(seed);
    std::vector<Step> steps;
    // Rows to start from: keys 1..25 in P, and repeated keys in N.
    for (int i = 1; i <= 25; ++i) {
      const std::string a = i % 6 == 0 ? "NULL" : std::to_string(i % 9);
      const std::string s = std::string("'") + kNames[i % 5] + "'";
      const std::string p = "INSERT INTO P VALUES (" + std::to_string(i) + ", " + a + ", " + s + ", " +
                            std::to_string(i - 12) + ".5, 'memo')";
      const std::string n = "INSERT INTO N VALUES (" + std::to_string(i % 10) + ", " + a + ", " + s + ", 0.5)";
      steps.push_back({p, p});
      steps.push_back({n, n});
    }
    while (steps.size() < 150) {
      Step s = RandomStep(rng, static_cast<int>(steps.size()), generator);
      if (!sub_selects && s.ours.find("IN (SELECT") != std::string::npos) continue;
      steps.push_back(s);
    }
    MakeDmlTables();
    std::ostringstream py;
    py << "import sqlite3\nc = sqlite3.connect(':memory:', isolation_level=None)\n"
          "c.execute('PRAGMA case_sensitive_like = ON')\n"
          "c.execute('CREATE TABLE P (Id INTEGER PRIMARY KEY, A INTEGER, S TEXT, F REAL, M TEXT)')\n"
          "c.execute('CREATE TABLE N (Id INTEGER, A INTEGER, S TEXT, F REAL)')\n"
       << kSqliteDump;
    for (const Step& s : steps)
      py << "try:\n  cur = c.execute(\"\"\"" << s.lite << "\"\"\")\n  print('OK', cur.rowcount)\n"
         << "except sqlite3.Error:\n  print('ERR')\ndump('P')\ndump('N')\n";
    const auto answers = SqliteAnswers(py.str());
    ASSERT_EQ(answers.size(), steps.size());
    for (std::size_t i = 0; i < steps.size(); ++i) {
      SCOPED_TRACE(steps[i].ours);
      const auto files = TableFileBytes({"P", "N"});
      const std::string outcome = Run(steps[i].ours);
      EXPECT_EQ(outcome, answers[i].outcome);
      if (outcome == "ERR") {
        ++failures;
        EXPECT_TRUE(files == TableFileBytes({"P", "N"})) << "files changed by a failed statement";
      }
      if (steps[i].ours.find("SELECT Id + 1000") != std::string::npos || steps[i].ours.find("IN (SELECT") != std::string::npos)
        ++self_reads;
      if (steps[i].ours.find(" P.") != std::string::npos || steps[i].ours.find(" N.") != std::string::npos ||
          steps[i].ours.find("(P.") != std::string::npos || steps[i].ours.find("(N.") != std::string::npos) {
        ++generated;
        generated_changes += outcome.rfind("OK ", 0) == 0 && outcome != "OK 0";
      }
      EXPECT_EQ(Dump("P"), answers[i].tables[0]);
      EXPECT_EQ(Dump("N"), answers[i].tables[1]);
      if (HasFailure()) break;
    }
    DropDmlTables();
  }
  EXPECT_GT(failures, 0);
  EXPECT_GT(self_reads, 0);
  EXPECT_GE(generated, 20);
  EXPECT_GE(generated_changes, 5);
  RecordProperty("generated", generated);
  RecordProperty("generated_changes", generated_changes);
}

// The reads of the target that must see it as it was before the first
// change, and the walk that must meet every row once.
TEST_F(DmlSqliteTest, StatementsThatReadTheirTarget) {
  const bool sub_selects = SubSelectsSupported();
  MakeDmlTables();
  for (int i = 1; i <= 40; ++i)
    Run("INSERT INTO P VALUES (" + std::to_string(i) + ", " + std::to_string(i % 7) + ", 'x', 1.5, 'm')");
  EXPECT_EQ(Run("INSERT INTO P (Id, A, S, F) SELECT Id + 1000, A, S, F FROM P"), "OK 40");
  EXPECT_EQ(Dump("P").size(), 80u);
  EXPECT_EQ(Run("INSERT INTO N (Id, A) SELECT Id, A FROM P"), "OK 80");
  EXPECT_EQ(Run("INSERT INTO N SELECT * FROM N"), "OK 80");
  EXPECT_EQ(Dump("N").size(), 160u);
  // Every key moves by exactly 1000 once, through the primary index's
  // order too.
  const auto before = Dump("P");
  EXPECT_EQ(Run("UPDATE P SET Id = Id + 5000"), "OK 80");
  auto after = Dump("P");
  std::vector<std::string> expected;
  for (const std::string& row : before) {
    const auto bar = row.find('|');
    expected.push_back(std::to_string(std::stol(row.substr(0, bar)) + 5000) + row.substr(bar));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(after, expected);
  EXPECT_EQ(Run("UPDATE P SET Id = Id - 5000 WHERE Id > 6000"), "OK 40");
  // A key moved onto one that is there fails and changes nothing.
  const auto kept = Dump("P");
  EXPECT_EQ(Run("UPDATE P SET Id = Id - 4000 WHERE Id > 5000"), "ERR");
  EXPECT_EQ(Dump("P"), kept);
  EXPECT_EQ(Run("DELETE FROM P WHERE A = 3"), "OK " + std::to_string(2 * 6));
  if (sub_selects) {
    EXPECT_EQ(Run("DELETE FROM N WHERE Id IN (SELECT Id FROM N WHERE A = 2)"), "OK 24");
  }
  // Values checked before any row: the count, the columns and the types.
  struct Bad {
    const char* text;
    const char* message;
  };
  const Bad bad[] = {
      {"INSERT INTO P VALUES (1, 2)", "The number of values must match the number of table columns"},
      {"INSERT INTO P (Id, Q) VALUES (1, 2)",
       "Invalid column name 'Q' or table correlation name '' specified in table columns"},
      {"UPDATE P SET A = 'abc'", "Type mismatch between column 'A' and constant ''abc'' in update values"},
      {"INSERT INTO P (Id, S) SELECT Id, A, S FROM N",
       "The number of values must match the number of table columns"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.text);
    EXPECT_EQ(RunError(b.text), kSqlPrefix + b.message);
  }
  DropDmlTables();
}

}  // namespace
}  // namespace korvex::testing
