// The plan an execution chose, read from the model dump: how each table is
// reached (every record, or an index filter of its own conditions), and how
// each joined table finds the rows that match the tables before it.
#include <gtest/gtest.h>

#include <sstream>

#include "support/temp_dir.h"
#include "tables/engine/data_session.h"
#include "tables/sql/model_dump.h"
#include "tests/tables/sql/sql_random_support.h"
#include "tests/tables/sql/sql_test_support.h"

namespace korvex::testing {
namespace {

using namespace sqlrand;

// P(Id key, S CHAR(8) indexed, G, F FLOAT, D DATE), N the same columns
// without any index, K the same with one index on (S, G).
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
  schema.tables[0].indexes = {{{0}, true, false, false}, {{1}, false, false, false}};
  schema.tables[2].indexes = {{{1, 2}, false, false, false}};
  return schema;
}

class PlanTest : public SqlTest {
protected:
  void SetUp() override {
    InitializeKORVEX();
    SqlTest::SetUp();
    session_ = std::make_unique<TDataSession>();
    session_->SetPrivateDirectory(private_.path().string());
    dir_ = session_->OpenDataDirectory("data", data_.path().string());
    LoadTables(dir_, Tables(), true);
  }
  void TearDown() override {
    session_.reset();
    SqlTest::TearDown();
    ExitKORVEX();
  }

  // The plan lines of one execution, joined by "; ", and the rows it made.
  std::string Plan(const std::string& text, std::int32_t* rows = nullptr) {
    TQueryStatement statement(dir_);
    Execute(statement, text);
    if (rows) *rows = statement.GetRowsAffected();
    std::istringstream dump(DumpStatement(statement));
    std::string plan;
    for (std::string line; std::getline(dump, line);)
      if (line.rfind("plan ", 0) == 0) plan += (plan.empty() ? "" : "; ") + line.substr(5);
    return plan;
  }

  qvtest::TempDir private_, data_;
  std::unique_ptr<TDataSession> session_;
  TDataDirectory* dir_ = nullptr;
};

TEST_F(PlanTest, EachStepNamesItsAccessPathAndLookup) {
  struct Case {
    const char* text;
    const char* plan;
  };
  const Case cases[] = {
      // Joins on texts: an indexed column, an unindexed one, a compound
      // index; texts of language 0 are looked up by their bytes.
      {"SELECT N.Id, P.Id FROM N JOIN P ON N.S = P.S", "1 N from access=scan; 2 P inner access=scan lookup=text-hash(P.S)"},
      {"SELECT P.Id, N.Id FROM P JOIN N ON N.S = P.S", "1 P from access=scan; 2 N inner access=scan lookup=text-hash(N.S)"},
      {"SELECT N.Id, K.Id FROM N JOIN K ON N.S = K.S AND N.G = K.G", "1 N from access=scan; 2 K inner access=scan lookup=text-hash(K.S) tested=1"},
      // Floats and dates: the target's rows in the order of the join
      // columns.
      {"SELECT N.Id, K.Id FROM N JOIN K ON N.F = K.F", "1 N from access=scan; 2 K inner access=scan lookup=ordered(K.F) tested=1"},
      {"SELECT N.Id, K.Id FROM N JOIN K ON N.F = K.F AND N.D = K.D", "1 N from access=scan; 2 K inner access=scan lookup=hash(K.D) tested=1"},
      // WHERE on the key and on a secondary index.
      {"SELECT Id FROM P WHERE Id = 5", "1 P from access=index(1)"},
      {"SELECT Id FROM P WHERE S = 'Hall' AND G > 1", "1 P from access=index(1) tested=1"},
      {"SELECT Id FROM N WHERE Id = 5", "1 N from access=scan tested=1"},
      // Outer joins.
      {"SELECT N.Id, P.Id FROM N LEFT JOIN P ON N.G = P.Id", "1 N from access=scan; 2 P outer access=scan lookup=hash(P.Id)"},
      {"SELECT N.Id, P.Id FROM P RIGHT JOIN N ON N.S = P.S", "1 N from access=scan; 2 P outer access=scan lookup=text-hash(P.S)"},
      // A condition of one table filters it below the join.
      {"SELECT N.Id, P.Id FROM N JOIN P ON N.G = P.G WHERE P.S = 'Zorn'", "1 P from access=index(1); 2 N inner access=scan lookup=hash(N.G)"},
      {"SELECT N.Id, P.Id FROM N, P WHERE N.Id < P.Id AND P.Id < 3", "1 P from access=index(1); 2 N inner access=scan tested=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Plan(c.text), c.plan);
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
      {"UPDATE P SET G = 0 WHERE S = 'Abel' AND F > 0", "1 P update access=index(1) tested=1", 8},
      {"UPDATE N SET G = 0 WHERE Id = 5", "1 N update access=scan tested=1", 1},
      {"DELETE FROM P WHERE Id = 7", "1 P delete access=index(1)", 1},
      {"DELETE FROM P WHERE S = 'Hall'", "1 P delete access=index(1)", 9},
      {"DELETE FROM N WHERE S = 'Hall'", "1 N delete access=scan tested=1", 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::int32_t rows = -1;
    EXPECT_EQ(Plan(c.text, &rows), c.plan);
    EXPECT_EQ(rows, c.rows);
  }
}

}  // namespace
}  // namespace korvex::testing
