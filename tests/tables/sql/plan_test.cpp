// The plan an execution chose, read from the model dump: how each table is
// reached (every record, or an index filter of its own conditions), how
// each joined table finds the rows that match the tables before it, and
// what follows the walk. The rows of every SELECT are also those sqlite3
// gives for the same tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "support/run_command.h"
#include "support/temp_dir.h"
#include "tables/engine/table/data_session.h"
#include "tables/sql/model_dump.h"
#include "tests/tables/sql/sql_random_support.h"
#include "tests/tables/sql/sql_session_fixture.h"

namespace korvex::testing {
namespace {

using namespace sqlrand;

// P(Id key, S CHAR(8) indexed, G, F FLOAT, D DATE) with indexes on S, F and
// D too, N the same columns without any index, K the same with one index
// on (S, G).
TSchema Tables() {
  TSchema schema;
  for (const char* name : {"P", "N", "K"}) {
    TTable t;
    t.name = name;
    t.columns = {{"Id", TKind::Integer, 0, false}, {"S", TKind::Char, 8, true}, {"G", TKind::Integer, 0, true},
                 {"F", TKind::Float, 0, true}, {"D", TKind::Date, 0, true}};
    for (int i = 1; i <= 30; ++i) {
      std::vector<TValue> row(5);
      for (TValue& v : row) v.null = false;
      row[0].i = i;
      row[1].s = i % 3 == 0 ? "Abel" : i % 3 == 1 ? "Hall" : "Zorn";
      row[2].i = i % 5;
      row[3].f = i % 4 / 2.0;
      row[4].i = 700000 + i % 6;
      t.rows.push_back(row);
    }
    schema.tables.push_back(t);
  }
  schema.tables[0].indexes = {{{0}, true, false, false}, {{1}, false, false, false}, {{3}, false, false, false},
                              {{4}, false, false, false}};
  schema.tables[2].indexes = {{{1, 2}, false, false, false}};
  return schema;
}

class PlanTest : public SqlSessionTest {
protected:
  void SetUp() override {
    SqlSessionTest::SetUp();
    LoadTables(dir_, Tables(), true);
  }

  // The plan lines of one execution, joined by "; ", the rows it made, and
  // (a SELECT of integers) the result rows as "a|b" lines in order.
  std::string Plan(const std::string& text, std::int32_t* rows = nullptr, std::vector<std::string>* lines = nullptr) {
    TQueryStatement statement(dir_);
    TDataCursor* result = Execute(statement, text);
    if (rows) *rows = statement.GetRowsAffected();
    if (lines && result) {
      std::vector<std::uint8_t> record(result->GetRecordSize());
      result->SetToBegin();
      while (result->GetNextRecord(record.data()) == 0) {
        std::string line;
        for (int i = 1; i <= result->GetFieldCount(); ++i) {
          std::int32_t value = 0;
          std::uint8_t data[8] = {};
          const bool blank = result->GetField(i, record.data(), data);
          std::memcpy(&value, data, 4);
          line += (i > 1 ? "|" : "") + (blank ? std::string() : std::to_string(value));
        }
        lines->push_back(line);
      }
    }
    std::istringstream dump(DumpStatement(statement));
    std::string plan;
    for (std::string line; std::getline(dump, line);)
      if (line.rfind("plan ", 0) == 0) plan += (plan.empty() ? "" : "; ") + line.substr(5);
    return plan;
  }

  // sqlite3's rows for the statement over the same tables.
  static std::vector<std::string> Sqlite(const std::string& text) {
    qvtest::TempDir dir;
    qvtest::WriteFileBytes(dir / "script.sql", SqliteScript(Tables(), text));
    const qvtest::CommandResult run = qvtest::RunShell("sqlite3 :memory: < '" + dir / "script.sql" + "'");
    EXPECT_EQ(run.status, 0) << run.output;
    std::vector<std::string> lines;
    std::istringstream out(run.output);
    for (std::string line; std::getline(out, line);) lines.push_back(line);
    return lines;
  }
};

TEST_F(PlanTest, EachStepNamesItsAccessPathAndLookup) {
  struct Case {
    const char* text;
    const char* plan;
  };
  const Case cases[] = {
      // Joins on texts: through the target's index when one leads with the
      // join column; an unindexed column by a hash of its bytes (language
      // 0); a compound index over both join columns.
      {"SELECT N.Id, P.Id FROM N JOIN P ON N.S = P.S", "1 N from access=scan; 2 P inner access=scan lookup=range(P.S)"},
      {"SELECT P.Id, N.Id FROM P JOIN N ON N.S = P.S", "1 P from access=scan; 2 N inner access=scan lookup=text-hash(N.S)"},
      {"SELECT N.Id, K.Id FROM N JOIN K ON N.S = K.S AND N.G = K.G",
       "1 N from access=scan; 2 K inner access=scan lookup=range(K.S,K.G) tested=1"},
      {"SELECT N.Id, K.Id FROM N JOIN K ON K.G = N.G AND K.S = N.S",
       "1 N from access=scan; 2 K inner access=scan lookup=range(K.S,K.G) tested=1"},
      // An index that does not lead with the join column serves nothing.
      {"SELECT N.Id, K.Id FROM N JOIN K ON N.G = K.G", "1 N from access=scan; 2 K inner access=scan lookup=hash(K.G)"},
      // Dates through an index, else a hash; floats in the order of the
      // join columns, also beside an index (a -0 has a key of its own).
      {"SELECT N.Id, P.Id FROM N JOIN P ON N.D = P.D", "1 N from access=scan; 2 P inner access=scan lookup=range(P.D)"},
      {"SELECT P.Id, N.Id FROM P JOIN N ON N.D = P.D", "1 P from access=scan; 2 N inner access=scan lookup=hash(N.D)"},
      {"SELECT N.Id, P.Id FROM N JOIN P ON N.F = P.F", "1 N from access=scan; 2 P inner access=scan lookup=ordered(P.F) tested=1"},
      {"SELECT N.Id, K.Id FROM N JOIN K ON N.F = K.F", "1 N from access=scan; 2 K inner access=scan lookup=ordered(K.F) tested=1"},
      {"SELECT N.Id, K.Id FROM N JOIN K ON N.F = K.F AND N.D = K.D", "1 N from access=scan; 2 K inner access=scan lookup=hash(K.D) tested=1"},
      // A join on an expression of the earlier table.
      {"SELECT N.Id, P.Id FROM N JOIN P ON P.Id = N.Id + 1", "1 N from access=scan; 2 P inner access=scan lookup=range(P.Id)"},
      // WHERE on the key and on a secondary index.
      {"SELECT Id FROM P WHERE Id = 5", "1 P from access=index(1)"},
      {"SELECT Id FROM P WHERE S = 'Hall' AND G > 1", "1 P from access=index(1) tested=1"},
      {"SELECT Id FROM N WHERE Id = 5", "1 N from access=scan tested=1"},
      // Outer joins.
      {"SELECT N.Id, P.Id FROM N LEFT JOIN P ON N.G = P.Id", "1 N from access=scan; 2 P outer access=scan lookup=range(P.Id)"},
      {"SELECT N.Id, P.Id FROM P RIGHT JOIN N ON N.S = P.S", "1 N from access=scan; 2 P outer access=scan lookup=range(P.S)"},
      // A range target's own conditions are tested on the rows each range
      // finds, never an engine filter that the index walk would step through.
      {"SELECT N.Id, P.Id FROM N LEFT JOIN P ON N.S = P.S AND P.Id < 3",
       "1 N from access=scan; 2 P outer access=scan lookup=range(P.S) tested=1"},
      {"SELECT P.Id, N.Id FROM P LEFT JOIN N ON N.G = P.Id AND N.S = 'Hall'",
       "1 P from access=scan; 2 N outer access=scan lookup=hash(N.G) tested=1"},
      // A condition of one table filters it below the join, and a table that
      // its filter leaves smaller drives.
      {"SELECT N.Id, P.Id FROM N JOIN P ON N.G = P.G WHERE P.S = 'Zorn'", "1 P from access=index(1); 2 N inner access=scan lookup=hash(N.G)"},
      {"SELECT N.Id, P.Id FROM N, P WHERE N.Id < P.Id AND P.Id < 3", "1 P from access=index(1); 2 N inner access=scan tested=1"},
      {"SELECT N.Id, P.Id FROM N JOIN P ON N.S = P.S WHERE P.Id > 20 AND N.G = 2",
       "1 P from access=index(1); 2 N inner access=scan lookup=text-hash(N.S) tested=1"},
      // The target's conditions that no index answers are tested on the
      // rows its range finds.
      {"SELECT N.Id, P.Id FROM N JOIN P ON N.S = P.S WHERE P.G > 1 AND N.Id < 5",
       "1 N from access=scan tested=1; 2 P inner access=scan lookup=range(P.S) tested=1"},
      // The steps after the walk.
      {"SELECT P.G, COUNT(N.Id) FROM N JOIN P ON N.Id = P.Id GROUP BY P.G HAVING COUNT(N.Id) > 5 ORDER BY 1 DESC",
       "1 N from access=scan; 2 P inner access=scan lookup=range(P.Id); group 1; having; order 1"},
      {"SELECT DISTINCT N.G FROM N", "1 N from access=scan; distinct"},
      {"SELECT COUNT(*) FROM P WHERE S = 'Abel'", "1 P count access=filter(1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::string> ours;
    EXPECT_EQ(Plan(c.text, nullptr, &ours), c.plan);
    std::vector<std::string> theirs = Sqlite(c.text);
    if (std::string(c.text).find("ORDER BY") == std::string::npos) {
      std::sort(ours.begin(), ours.end());
      std::sort(theirs.begin(), theirs.end());
    }
    EXPECT_EQ(ours, theirs);
  }
}

TEST_F(PlanTest, UpdateAndDeleteReadOnlyTheRowsAnIndexSelects) {
  struct Case {
    const char* text;
    const char* plan;
    std::int32_t rows;
  };
  const Case cases[] = {
      {"UPDATE P SET G = G + 1 WHERE Id = 5", "1 P update access=index(1)", 1},
      {"UPDATE P SET G = 0 WHERE S = 'Abel' AND F > 0", "1 P update access=index(2)", 8},
      {"UPDATE P SET F = 9 WHERE S = 'Abel' AND G > 1", "1 P update access=index(1) tested=1", 2},
      {"UPDATE N SET G = 0 WHERE Id = 5", "1 N update access=scan tested=1", 1},
      {"DELETE FROM P WHERE Id = 7", "1 P delete access=index(1)", 1},
      {"DELETE FROM P WHERE S = 'Hall'", "1 P delete access=index(1)", 9},
      {"DELETE FROM N WHERE S = 'Hall'", "1 N delete access=scan tested=1", 10},
  };
  std::string script;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::int32_t rows = -1;
    EXPECT_EQ(Plan(c.text, &rows), c.plan);
    EXPECT_EQ(rows, c.rows);
    script += std::string(c.text) + ";\n";
  }
  // The tables hold what sqlite3 leaves after the same changes.
  const char* const rest = "SELECT 'P', Id, G FROM P UNION ALL SELECT 'N', Id, G FROM N ORDER BY 1, 2";
  std::vector<std::string> ours;
  for (const char* table : {"N", "P"}) {
    std::vector<std::string> lines;
    Plan(std::string("SELECT Id, G FROM ") + table + " ORDER BY Id", nullptr, &lines);
    for (const std::string& line : lines) ours.push_back(table + std::string("|") + line);
  }
  EXPECT_EQ(ours, Sqlite(script + rest));
}

// A large target with an index on the join column: reached through the
// index while few rows probe it (as the first table's index filter leaves
// it), read once into a hash when the rows that probe it are many; the same rows either way, and those of comparing
// every pair.
TEST_F(PlanTest, AJoinTakesTheIndexOrTheHashByTheirCosts) {
  TSchema schema;
  for (const char* name : {"Big", "Probe"}) {
    TTable t;
    t.name = name;
    t.columns = {{"Id", TKind::Integer, 0, false}, {"S", TKind::Char, 8, false}};
    for (int i = 1; i <= (t.name == "Big" ? 3000 : 1000); ++i) {
      std::vector<TValue> row(2);
      row[0].null = row[1].null = false;
      row[0].i = i;
      row[1].s = "s" + std::to_string(i % 1200);
      t.rows.push_back(row);
    }
    t.indexes = {{{0}, true, false, false}};
    if (t.name == "Big") t.indexes.push_back({{1}, false, false, false});
    schema.tables.push_back(t);
  }
  LoadTables(dir_, schema, true);
  struct Case {
    const char* where;
    const char* plan;
  };
  const Case cases[] = {
      {"", "1 Probe from access=scan; 2 Big inner access=scan lookup=text-hash(Big.S)"},
      {" WHERE Probe.Id < 900", "1 Probe from access=index(1); 2 Big inner access=scan lookup=text-hash(Big.S)"},
      {" WHERE Probe.Id < 20", "1 Probe from access=index(1); 2 Big inner access=scan lookup=range(Big.S)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    std::vector<std::string> joined, pairwise;
    EXPECT_EQ(Plan(std::string("SELECT Probe.Id, Big.Id FROM Probe JOIN Big ON Probe.S = Big.S") + c.where, nullptr,
                   &joined),
              c.plan);
    const std::string where = *c.where ? std::string(c.where) + " AND" : " WHERE";
    Plan("SELECT Probe.Id, Big.Id FROM Probe, Big" + where + " (Probe.S = Big.S OR 1 = 0)", nullptr, &pairwise);
    std::sort(joined.begin(), joined.end());
    std::sort(pairwise.begin(), pairwise.end());
    EXPECT_EQ(joined, pairwise);
    EXPECT_GT(joined.size(), 10u);
  }
}

TEST_F(PlanTest, RangeLookupsSeeEachExecutionsRowsAndParameters) {
  // A prepared join reads the target's index again at each execution: rows
  // added since, and the parameter's new value, count.
  TQueryStatement join(dir_);
  std::int32_t position = 0;
  join.PrepareStatement("SELECT N.Id, P.Id FROM N JOIN P ON N.S = P.S WHERE N.Id = ?", position);
  auto run = [&](std::int32_t n) {
    TFieldDefinition def;
    def.DataType = dtInteger;
    def.FieldNumber = 1;
    def.PhysicalSize = 4;
    std::uint8_t record[5] = {1};
    std::memcpy(record + 1, &n, 4);
    join.SetStatementParameters(1, &def, record);
    TDataCursor* result = nullptr;
    join.ExecuteStatement(result);
    return join.GetRowsAffected();
  };
  EXPECT_EQ(run(1), 10);  // Hall
  ASSERT_EQ(ExecuteError(dir_, "INSERT INTO P VALUES (31, 'Hall', 1, 0, '2017-01-01')"), "");
  EXPECT_EQ(run(1), 11);
  EXPECT_EQ(run(3), 10);  // Abel
  EXPECT_NE(DumpStatement(join).find("lookup=range(P.S)"), std::string::npos);
}

}  // namespace
}  // namespace korvex::testing

namespace korvex::testing {
namespace {

TEST_F(PlanTest, TextJoinsUnderALanguageFindWhatEachPairCompares) {
  // Danish tables: texts with case twins, letters of the language, "aa"
  // beside "\xE5"; A has an index on Name (a NOCASE one on Alt), B none.
  // Every lookup gives the rows that comparing every pair gives.
  for (const char* text :
       {"CREATE TABLE A (Id INTEGER, Name CHAR(10), Alt CHAR(10), PRIMARY KEY (Id) LANGUAGE 'Danish')",
        "CREATE INDEX ByName ON A (Name)", "CREATE NOCASE INDEX ByAlt ON A (Alt)",
        "CREATE TABLE B (Id INTEGER, Name CHAR(10), Alt CHAR(10) LANGUAGE 'Danish')"})
    ASSERT_EQ(ExecuteError(dir_, text), "") << text;
  const char* names[] = {"aa", "\xE5", "\xC5", "Aa", "\xE6re", "\xC6re", "\xF8l", "oel", "", "zz", "Zz", "a"};
  for (int i = 0; i < 36; ++i) {
    const std::string name = std::string("'") + names[i % 12] + "'";
    const std::string alt = std::string("'") + names[(i * 5) % 12] + "'";
    for (const char* table : {"A", "B"})
      ASSERT_EQ(ExecuteError(dir_, std::string("INSERT INTO ") + table + " VALUES (" + std::to_string(i) + ", " +
                                       (i % 7 == 3 ? std::string("NULL") : name) + ", " + alt + ")"),
                "");
  }
  struct Case {
    const char* join;      // ON condition of B JOIN A
    const char* pairwise;  // the same, tested on every pair
    const char* lookup;
  };
  const Case cases[] = {
      // A language's order decides which keys are equal: the conditions
      // are tested on every row the range finds.
      {"B.Name = A.Name", "(B.Name = A.Name OR 1 = 0)", "lookup=range(A.Name) tested=1"},
      {"B.Alt = A.Alt", "(B.Alt = A.Alt OR 1 = 0)", "lookup=range(A.Alt) tested=1"},
      {"B.Name = A.Name AND B.Alt = A.Alt", "(B.Name = A.Name AND B.Alt = A.Alt OR 1 = 0)", "lookup=range(A.Name) tested=2"},
      {"A.Name = B.Alt", "(A.Name = B.Alt OR 1 = 0)", "lookup=range(A.Name) tested=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.join);
    std::vector<std::string> looked_up, pairwise;
    const std::string plan = Plan(std::string("SELECT B.Id, A.Id FROM B JOIN A ON ") + c.join, nullptr, &looked_up);
    EXPECT_EQ(plan, std::string("1 B from access=scan; 2 A inner access=scan ") + c.lookup);
    Plan(std::string("SELECT B.Id, A.Id FROM B, A WHERE ") + c.pairwise, nullptr, &pairwise);
    std::sort(looked_up.begin(), looked_up.end());
    std::sort(pairwise.begin(), pairwise.end());
    EXPECT_EQ(looked_up, pairwise);
    EXPECT_GT(looked_up.size(), 36u);
  }
}

}  // namespace
}  // namespace korvex::testing
