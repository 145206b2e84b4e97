// SELECT answers checked against python3's sqlite3 module.
//
// Three tables of random rows (NULLs in most columns) go to both engines;
// each case is our statement and its SQLite translation, and the rows must
// agree: as lists when the statement orders totally, else as multisets.
//
// Differences of the dialect that the translations bridge: = and <> treat
// two NULLs as equal and every comparison with NULL is false (IS / IS NOT
// and COALESCE(..., 0) in SQLite); integer / integer is a float; dates are
// day numbers on both sides (SQLite holds the ordinal); under DESC NULLs
// come first; COUNT is an integer; the empty string is NULL (no row holds
// one).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>

#include "support/raised.h"
#include "support/run_command.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/sql/sql_random_support.h"
#include "tests/tables/sql/sql_test_support.h"

namespace korvex::testing {
namespace {

namespace fs = std::filesystem;

struct Col {
  std::string name;
  std::uint8_t type;
  std::uint8_t size;
  bool nulls;
  bool indexed = false;  // a secondary index of its own
};

struct Table {
  std::string name;
  std::vector<Col> cols;
  std::vector<std::vector<std::string>> rows;  // SQL literals; "NULL" for blank
};

std::string Python(const std::string& program) { return qvtest::RunPythonScript(program).output; }

std::string FormatFloat(double d) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", d);
  return text;
}

// One row of our result as text, the fields separated by '|'.
std::string RowText(TDataCursor& cursor, const std::uint8_t* record) {
  std::string line;
  for (int i = 1; i <= cursor.GetFieldCount(); ++i) {
    const TFieldDefinition& f = cursor.GetFieldDefinitionByPos(i);
    if (f.Hidden) continue;
    std::uint8_t data[256] = {};
    if (i > 1) line += '|';
    if (cursor.GetField(i, record, data)) {
      line += "NULL";
      continue;
    }
    switch (f.DataType) {
      case dtString: line += reinterpret_cast<const char*>(data); break;
      case dtSmallInt: { std::int16_t v; std::memcpy(&v, data, 2); line += std::to_string(v); break; }
      case dtWord:
      case dtBoolean: { std::uint16_t v; std::memcpy(&v, data, 2); line += std::to_string(v); break; }
      case dtInteger:
      case dtDate: { std::int32_t v; std::memcpy(&v, data, 4); line += std::to_string(v); break; }
      case dtFloat: { double v; std::memcpy(&v, data, 8); line += FormatFloat(v); break; }
      default: line += "?"; break;
    }
  }
  return line;
}

class SelectSqliteTest : public SqlTest {
protected:
  void SetUp() override {
    InitializeKORVEX();
    SqlTest::SetUp();
    dir_ = fs::temp_directory_path() / ("qv_select_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::remove_all(dir_);
    SqlTest::TearDown();
    ExitKORVEX();
  }

  // The tables of every case: A (the people), B (events of A's rows by
  // aid), C (places, a small table).
  std::vector<Table> MakeTables(std::uint32_t seed) {
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const char* names[] = {"Smith", "Jones", "Brown", "smith", "Abel", "Zorn", "Hall", "Ives"};
    std::vector<Table> tables = {
        {"A", {{"Id", dtInteger, 0, false}, {"G", dtSmallInt, 0, true}, {"W", dtWord, 0, true},
               {"F", dtFloat, 0, true}, {"S", dtString, 8, true}, {"D", dtDate, 0, true},
               {"B", dtBoolean, 0, true}}, {}},
        {"B", {{"Aid", dtInteger, 0, true}, {"V", dtInteger, 0, true}, {"T", dtString, 6, true}}, {}},
        {"C", {{"K", dtSmallInt, 0, true}, {"S", dtString, 8, true}}, {}},
        // Join targets on text, dates, floats and a compound key: D with an
        // index on each of S and D, E the same columns without any.
        {"D", {{"N", dtInteger, 0, false}, {"S", dtString, 8, true}, {"D", dtDate, 0, true},
               {"F", dtFloat, 0, true}, {"G", dtSmallInt, 0, true}}, {}},
        {"E", {{"N", dtInteger, 0, false}, {"S", dtString, 8, true}, {"D", dtDate, 0, true},
               {"F", dtFloat, 0, true}, {"G", dtSmallInt, 0, true}}, {}},
    };
    tables[3].cols[1].indexed = true;
    tables[3].cols[2].indexed = true;
    // Indexes answer conditions on A.G and on B.V, the target of the outer
    // joins, before any row is read.
    tables[0].cols[1].indexed = true;
    tables[1].cols[1].indexed = true;
    const int counts[] = {40, 60, 6, 50, 50};
    for (int t = 0; t < 5; ++t) {
      for (int r = 0; r < counts[t]; ++r) {
        std::vector<std::string> row;
        for (const Col& c : tables[t].cols) {
          if (c.nulls && pick(5) == 0) {
            row.push_back("NULL");
            continue;
          }
          switch (c.type) {
            case dtInteger: row.push_back(std::to_string(t == 0 ? r + 1 : pick(45) - 2)); break;
            case dtSmallInt: row.push_back(std::to_string(pick(9) - 3)); break;
            case dtWord: row.push_back(std::to_string(30000 + pick(20000))); break;
            case dtFloat: {
              std::string text = FormatFloat(t < 3 ? (pick(400) - 200) / 4.0 : pick(8) - 3.5);
              if (text.find('.') == std::string::npos) text += ".0";
              row.push_back(text);
              break;
            }
            case dtString: row.push_back(std::string("'") + names[pick(8)] + "'"); break;
            case dtDate: row.push_back(std::to_string(700000 + pick(30))); break;
            case dtBoolean: row.push_back(std::to_string(pick(2))); break;
          }
        }
        tables[t].rows.push_back(row);
      }
    }
    return tables;
  }

  void Load(TDataDirectory* dir, const std::vector<Table>& tables) {
    for (const Table& t : tables) {
      std::vector<TFieldDefinition> fields;
      for (const Col& c : t.cols) {
        TFieldDefinition f;
        f.Name = c.name;
        f.DataType = c.type;
        f.Size = c.size;
        fields.push_back(f);
      }
      TTableCreation creation;
      creation.Indexes.resize(1);
      for (std::size_t i = 0; i < t.cols.size(); ++i) {
        if (!t.cols[i].indexed) continue;
        TIndexDefinition index;
        index.Name = "By" + t.cols[i].name;
        index.Fields[index.FieldCount++] = static_cast<std::uint16_t>(i + 1);
        creation.Indexes.push_back(index);
      }
      creation.IndexCount = static_cast<std::uint8_t>(creation.Indexes.size() - 1);
      sqlrand::FillTable(dir, t.name, fields, creation, t.rows.size(), t.cols.size(),
                         [&](std::size_t r, std::size_t i, std::uint8_t* data) {
                           const std::string& v = t.rows[r][i];
                           if (v == "NULL") return false;
                           if (t.cols[i].type == dtString) {
                             std::memcpy(data, v.data() + 1, v.size() - 2);
                           } else {
                             sqlrand::NumberBytes(t.cols[i].type, std::stoll(v), std::stod(v), data);
                           }
                           return true;
                         });
    }
  }

  // SQLite's rows for each query, one line per row, queries separated by a
  // line "--".
  std::vector<std::vector<std::string>> Sqlite(const std::vector<Table>& tables,
                                              const std::vector<std::string>& queries) {
    std::ostringstream py;
    py << "import sqlite3\nc = sqlite3.connect(':memory:')\n"
          "c.execute('PRAGMA case_sensitive_like=ON')\n";
    for (const Table& t : tables) {
      py << "c.execute('CREATE TABLE " << t.name << " (";
      for (std::size_t i = 0; i < t.cols.size(); ++i) py << (i ? ", " : "") << t.cols[i].name;
      py << ")')\n";
      for (const auto& row : t.rows) {
        py << "c.execute(\"INSERT INTO " << t.name << " VALUES (";
        for (std::size_t i = 0; i < row.size(); ++i) py << (i ? ", " : "") << row[i];
        py << ")\")\n";
      }
    }
    py << "def f(v):\n"
          "    if v is None: return 'NULL'\n"
          "    if isinstance(v, float): return '%.9g' % v\n"
          "    return str(v)\n";
    for (const std::string& q : queries) {
      py << "for r in c.execute(\"\"\"" << q << "\"\"\"):\n    print('|'.join(f(v) for v in r))\nprint('--')\n";
    }
    std::istringstream out(Python(py.str()));
    std::vector<std::vector<std::string>> answers(1);
    std::string line;
    while (std::getline(out, line)) {
      if (line == "--") answers.emplace_back();
      else answers.back().push_back(line);
    }
    answers.pop_back();
    return answers;
  }

  std::vector<std::string> Ours(TDataDirectory* dir, const std::string& text, std::int32_t max_rows = -1) {
    TQueryStatement statement(dir);
    statement.SetMaxNumOfRows(max_rows);
    TDataCursor* result = Execute(statement, text);
    std::vector<std::string> rows;
    if (!result) return rows;
    std::vector<std::uint8_t> record(result->GetRecordSize());
    result->SetToBegin();
    while (result->GetNextRecord(record.data()) == 0) rows.push_back(RowText(*result, record.data()));
    return rows;
  }

  fs::path dir_;
};

struct Case {
  const char* ours;
  const char* lite;
  bool ordered;  // the ORDER BY is total: compare as lists
  std::int32_t max_rows = -1;
};

// Each case as our statement and SQLite's; the faults of joins, constant
// conditions, COUNT(*), HAVING, date aggregates, word sums and the row limit
// have their own rows.
const Case kCases[] = {
    {"SELECT * FROM A", "SELECT * FROM A", false},
    {"SELECT Id, S FROM A WHERE G > 0 ORDER BY Id", "SELECT Id, S FROM A WHERE G > 0 ORDER BY Id", true},
    {"SELECT Id, G * 2 + 1, F / 2 FROM A WHERE F >= 0 AND S <> 'Smith' ORDER BY Id DESC",
     "SELECT Id, G * 2 + 1, F / 2 FROM A WHERE F >= 0 AND S IS NOT 'Smith' ORDER BY Id DESC", true},
    {"SELECT Id, G / 2 FROM A ORDER BY 1", "SELECT Id, CAST(G AS REAL) / 2 FROM A ORDER BY 1", true},
    {"SELECT Id FROM A WHERE G = W", "SELECT Id FROM A WHERE G IS W", false},
    {"SELECT Id FROM A WHERE NOT (G < 1)", "SELECT Id FROM A WHERE NOT COALESCE(G < 1, 0)", false},
    {"SELECT Id FROM A WHERE G BETWEEN -1 AND 1 OR S IN ('Abel', 'Zorn')",
     "SELECT Id FROM A WHERE COALESCE(G BETWEEN -1 AND 1, 0) OR S IS 'Abel' OR S IS 'Zorn'", false},
    {"SELECT Id FROM A WHERE S LIKE 'S%' OR S IS NULL", "SELECT Id FROM A WHERE S LIKE 'S%' OR S IS NULL", false},
    {"SELECT DISTINCT G FROM A", "SELECT DISTINCT G FROM A", false},
    {"SELECT DISTINCT S, B FROM A ORDER BY S, B", "SELECT DISTINCT S, B FROM A ORDER BY S, B", true},
    {"SELECT G, S, Id FROM A ORDER BY G DESC, S, Id",
     "SELECT G, S, Id FROM A ORDER BY G DESC NULLS FIRST, S, Id", true},
    // Joins: comma, JOIN, and a NOT over a comparison of two tables that
    // must stay a test of each pair, never a join.
    {"SELECT A.Id, B.V FROM A, B WHERE A.Id = B.Aid", "SELECT A.Id, B.V FROM A, B WHERE A.Id = B.Aid", false},
    {"SELECT A.Id, B.V, C.S FROM A JOIN B ON A.Id = B.Aid JOIN C ON C.K = A.G WHERE B.V > 10",
     "SELECT A.Id, B.V, C.S FROM A JOIN B ON A.Id = B.Aid JOIN C ON C.K IS A.G WHERE B.V > 10", false},
    {"SELECT A.Id, C.K FROM A, C WHERE NOT (A.G = C.K)",
     "SELECT A.Id, C.K FROM A, C WHERE NOT (A.G IS C.K)", false},
    {"SELECT A.Id, C.K FROM A, C WHERE A.G < C.K AND A.Id < 8",
     "SELECT A.Id, C.K FROM A, C WHERE A.G < C.K AND A.Id < 8", false},
    // Outer joins: ON conditions on the inner table keep the outer rows;
    // WHERE conditions on it drop them.
    {"SELECT A.Id, B.V FROM A LEFT JOIN B ON A.Id = B.Aid AND B.V > 20",
     "SELECT A.Id, B.V FROM A LEFT JOIN B ON A.Id = B.Aid AND B.V > 20", false},
    {"SELECT A.Id, B.V FROM A LEFT JOIN B ON A.Id = B.Aid WHERE B.V > 20",
     "SELECT A.Id, B.V FROM A LEFT JOIN B ON A.Id = B.Aid WHERE B.V > 20", false},
    {"SELECT A.Id, B.T FROM A LEFT JOIN B ON A.Id = B.Aid AND A.G = 1",
     "SELECT A.Id, B.T FROM A LEFT JOIN B ON A.Id = B.Aid AND A.G = 1", false},
    {"SELECT C.K, A.Id FROM A RIGHT JOIN C ON A.G = C.K",
     "SELECT C.K, A.Id FROM C LEFT JOIN A ON A.G IS C.K", false},
    // WHERE conditions on an outer-join target filter it only when they
    // also drop its blank row; ON conditions on the target never drop an
    // outer row.
    {"SELECT A.Id, B.V FROM A LEFT JOIN B ON A.Id = B.Aid WHERE B.V IS NULL",
     "SELECT A.Id, B.V FROM A LEFT JOIN B ON A.Id = B.Aid WHERE B.V IS NULL", false},
    {"SELECT A.Id, B.V FROM A LEFT JOIN B ON A.Id = B.Aid WHERE B.V <> 20",
     "SELECT A.Id, B.V FROM A LEFT JOIN B ON A.Id = B.Aid WHERE B.V IS NOT 20", false},
    {"SELECT A.Id, B.V FROM A LEFT JOIN B ON A.Id = B.Aid AND B.V < 30 WHERE B.V > 10 OR B.V IS NULL",
     "SELECT A.Id, B.V FROM A LEFT JOIN B ON A.Id = B.Aid AND B.V < 30 WHERE COALESCE(B.V > 10, 0) OR B.V IS NULL",
     false},
    {"SELECT A.Id, B.V FROM A LEFT JOIN B ON A.Id = B.Aid AND B.V BETWEEN 5 AND 25 WHERE B.V < 20 AND A.G > 0",
     "SELECT A.Id, B.V FROM A LEFT JOIN B ON A.Id = B.Aid AND B.V BETWEEN 5 AND 25 WHERE B.V < 20 AND A.G > 0",
     false},
    {"SELECT A.Id, B.V FROM B RIGHT JOIN A ON A.Id = B.Aid WHERE NOT (B.V < 10) AND A.G IN (0, 1)",
     "SELECT A.Id, B.V FROM A LEFT JOIN B ON A.Id = B.Aid WHERE NOT COALESCE(B.V < 10, 0) AND (A.G IS 0 OR A.G IS 1)",
     false},
    {"SELECT A.Id, B.V FROM A LEFT JOIN B ON A.Id < B.Aid WHERE B.V = A.G",
     "SELECT A.Id, B.V FROM A LEFT JOIN B ON A.Id < B.Aid WHERE B.V IS A.G", false},
    // Joins on equal texts, dates, floats, mixed numbers and compound keys,
    // through an indexed target (D) and an unindexed one (E).
    {"SELECT A.Id, D.N FROM A JOIN D ON A.S = D.S", "SELECT A.Id, D.N FROM A JOIN D ON A.S IS D.S", false},
    {"SELECT A.Id, E.N FROM A JOIN E ON E.S = A.S", "SELECT A.Id, E.N FROM A JOIN E ON E.S IS A.S", false},
    {"SELECT A.Id, D.N FROM A, D WHERE A.D = D.D AND D.G > 0",
     "SELECT A.Id, D.N FROM A, D WHERE A.D IS D.D AND D.G > 0", false},
    {"SELECT A.Id, E.N FROM A JOIN E ON A.D = E.D", "SELECT A.Id, E.N FROM A JOIN E ON A.D IS E.D", false},
    {"SELECT D.N, E.N FROM D JOIN E ON D.F = E.F", "SELECT D.N, E.N FROM D JOIN E ON D.F IS E.F", false},
    {"SELECT D.N, A.Id FROM D JOIN A ON A.G = D.F", "SELECT D.N, A.Id FROM D JOIN A ON A.G IS D.F", false},
    {"SELECT A.Id, D.N FROM A JOIN D ON A.S = D.S AND A.G = D.G",
     "SELECT A.Id, D.N FROM A JOIN D ON A.S IS D.S AND A.G IS D.G", false},
    {"SELECT A.Id, E.N FROM A JOIN E ON E.D = A.D AND E.S = A.S",
     "SELECT A.Id, E.N FROM A JOIN E ON E.D IS A.D AND E.S IS A.S", false},
    {"SELECT A.Id, D.N FROM A LEFT JOIN D ON A.S = D.S AND D.F > 0",
     "SELECT A.Id, D.N FROM A LEFT JOIN D ON A.S IS D.S AND D.F > 0", false},
    {"SELECT A.Id, E.N FROM E RIGHT JOIN A ON A.S = E.S WHERE A.G > 0",
     "SELECT A.Id, E.N FROM A LEFT JOIN E ON A.S IS E.S WHERE A.G > 0", false},
    {"SELECT A.S, COUNT(*) FROM A JOIN E ON A.S = E.S AND A.D = E.D GROUP BY A.S ORDER BY A.S",
     "SELECT A.S, COUNT(*) FROM A JOIN E ON A.S IS E.S AND A.D IS E.D GROUP BY A.S ORDER BY A.S NULLS FIRST", true},
    {"SELECT COUNT(*) FROM B WHERE V > 10 AND V <= 30", "SELECT COUNT(*) FROM B WHERE V > 10 AND V <= 30", false},
    {"SELECT COUNT(*) FROM B WHERE NOT (V > 10) OR T = 'Hall'",
     "SELECT COUNT(*) FROM B WHERE NOT COALESCE(V > 10, 0) OR T IS 'Hall'", false},
    {"SELECT A.Id, B.V, C.S FROM A LEFT JOIN B ON A.Id = B.Aid LEFT JOIN C ON C.K = B.V",
     "SELECT A.Id, B.V, C.S FROM A LEFT JOIN B ON A.Id = B.Aid LEFT JOIN C ON C.K IS B.V", false},
    // Conditions naming no table.
    {"SELECT Id FROM A WHERE 1 = 0", "SELECT Id FROM A WHERE 1 = 0", false},
    {"SELECT Id FROM A WHERE 1 = 1 AND G = 2", "SELECT Id FROM A WHERE G = 2", false},
    {"SELECT COUNT(*) FROM A WHERE 1 = 0", "SELECT COUNT(*) FROM A WHERE 1 = 0", false},
    // Aggregates.
    {"SELECT COUNT(*), COUNT(G), SUM(G), MIN(G), MAX(G), AVG(G) FROM A",
     "SELECT COUNT(*), COUNT(G), SUM(G), MIN(G), MAX(G), AVG(G) FROM A", false},
    {"SELECT COUNT(*) FROM B", "SELECT COUNT(*) FROM B", false},
    {"SELECT COUNT(*), SUM(V), MIN(V), AVG(V) FROM B WHERE V > 1000",
     "SELECT COUNT(*), SUM(V), MIN(V), AVG(V) FROM B WHERE V > 1000", false},
    {"SELECT SUM(W), SUM(F), MIN(D), MAX(D) FROM A", "SELECT SUM(W), SUM(F), MIN(D), MAX(D) FROM A", false},
    {"SELECT S, COUNT(*), SUM(G), MAX(F) FROM A GROUP BY S", "SELECT S, COUNT(*), SUM(G), MAX(F) FROM A GROUP BY S",
     false},
    {"SELECT S, MIN(G), MAX(G) FROM A GROUP BY S HAVING MAX(G) > 3",
     "SELECT S, MIN(G), MAX(G) FROM A GROUP BY S HAVING MAX(G) > 3", false},
    {"SELECT S, MIN(G), MAX(G) FROM A GROUP BY S HAVING MIN(G) < -2",
     "SELECT S, MIN(G), MAX(G) FROM A GROUP BY S HAVING MIN(G) < -2", false},
    {"SELECT A.S, COUNT(*), SUM(B.V) FROM A JOIN B ON A.Id = B.Aid GROUP BY A.S ORDER BY A.S",
     "SELECT A.S, COUNT(*), SUM(B.V) FROM A JOIN B ON A.Id = B.Aid GROUP BY A.S ORDER BY A.S NULLS FIRST", true},
    {"SELECT B, G, COUNT(Id) FROM A GROUP BY B, G ORDER BY 3 DESC, 1, 2",
     "SELECT B, G, COUNT(Id) FROM A GROUP BY B, G ORDER BY 3 DESC, 1, 2", true},
    // The row limit cuts the finished result, after DISTINCT, grouping and
    // ordering.
    {"SELECT Id, G FROM A ORDER BY G DESC, Id", "SELECT Id, G FROM A ORDER BY G DESC NULLS FIRST, Id LIMIT 5", true,
     5},
    {"SELECT DISTINCT G FROM A ORDER BY G", "SELECT DISTINCT G FROM A ORDER BY G LIMIT 3", true, 3},
    {"SELECT S, COUNT(*) FROM A GROUP BY S ORDER BY 2 DESC, 1",
     "SELECT S, COUNT(*) FROM A GROUP BY S ORDER BY 2 DESC, 1 LIMIT 2", true, 2},
    {"SELECT Id FROM A WHERE Id < 10", "SELECT Id FROM A WHERE Id < 10 LIMIT 0", true, 0},
};

TEST_F(SelectSqliteTest, AnswersAgreeWithSqlite) {
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    const std::vector<Table> tables = MakeTables(seed);
    std::vector<std::string> lite_queries;
    for (const Case& c : kCases) lite_queries.push_back(c.lite);
    const auto expected = Sqlite(tables, lite_queries);
    ASSERT_EQ(expected.size(), std::size(kCases));
    TDataSession session;
    TDataDirectory* dir = session.OpenDataDirectory("data", dir_.string());
    Load(dir, tables);
    for (std::size_t i = 0; i < std::size(kCases); ++i) {
      const Case& c = kCases[i];
      SCOPED_TRACE(std::string(c.ours) + "  (seed " + std::to_string(seed) + ")");
      std::vector<std::string> ours;
      try {
        ours = Ours(dir, c.ours, c.max_rows);
      } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
        continue;
      }
      std::vector<std::string> theirs = expected[i];
      if (!c.ordered) {
        std::sort(ours.begin(), ours.end());
        std::sort(theirs.begin(), theirs.end());
      }
      EXPECT_EQ(ours, theirs);
    }
    for (const Table& t : tables) {
      TDataCursor cursor(dir);
      cursor.SetTableName(t.name);
      cursor.SetExclusive(true);
      cursor.DeleteTable();
    }
  }
}

// What SQLite cannot judge: messages, result names, the word and integer
// sums, and freed results.
TEST_F(SelectSqliteTest, NamesMessagesAndSums) {
  TDataSession session;
  TDataDirectory* dir = session.OpenDataDirectory("data", dir_.string());
  std::vector<Table> tables = {{"T", {{"A", dtInteger, 0, true}, {"W", dtWord, 0, true}}, {}}};
  for (int i = 0; i < 4; ++i) tables[0].rows.push_back({std::to_string(i == 0 ? 2000000000 : i), "60000"});
  Load(dir, tables);

  // The sum over words leaves 16 bits; a sum over integers that leaves 32
  // bits fails.
  EXPECT_EQ(Ours(dir, "SELECT SUM(W) FROM T"), std::vector<std::string>{"240000"});
  EXPECT_EQ(Ours(dir, "SELECT SUM(A) FROM T WHERE A < 10"), std::vector<std::string>{"6"});
  struct Bad {
    const char* text;
    const char* message;
  };
  const Bad bad[] = {
      {"SELECT SUM(A) FROM T, T T2", "Integer overflow in SUM of 'A'"},
      {"SELECT A, COUNT(*) FROM T", "Invalid use of aggregate function(s), the necessary GROUP BY clause is missing"},
      {"SELECT A FROM T HAVING A > 1", "A GROUP BY clause must exist in order to use the HAVING clause"},
      {"SELECT A, MIN(W) FROM T GROUP BY A HAVING MAX(W) > 1",
       "Invalid aggregate 'MAX(W)' specified in HAVING clause, it must also be a source column"},
      {"SELECT Q FROM T", "Invalid column name 'Q' or table correlation name '' specified in source columns"},
      {"SELECT A FROM T ORDER BY 2", "Invalid column number '2' specified in ORDER BY clause"},
      {"SELECT A FROM T GROUP BY Z", "Invalid column name 'Z' or table correlation name '' specified in GROUP BY clause"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.text);
    EXPECT_EQ(qvtest::WhatRaised<EKORVEXEngineError>([&] { Ours(dir, b.text); }), kSqlPrefix + b.message);
  }

  // Result names: given, field, aggregate and expression names made unique
  // within 30 characters.
  TQueryStatement statement(dir);
  std::int32_t position = 0;
  statement.PrepareStatement(
      "SELECT A AS Total, W AS Total, A + 1 AS Total, SUM(A), COUNT(*), AVG(W + 1), A + W, A + W, "
      "W AS \"abcdefghijklmnopqrstuvwxyz0123456789\", A AS \"abcdefghijklmnopqrstuvwxyz0123456789\" FROM T GROUP BY 1, "
      "2, 3, 7, 8, 9, 10",
      position);
  TDataCursor* result = nullptr;
  statement.ExecuteStatement(result);
  ASSERT_NE(result, nullptr);
  std::vector<std::string> names;
  for (int i = 1; i <= result->GetFieldCount(); ++i) names.push_back(result->GetFieldDefinitionByPos(i).Name);
  EXPECT_EQ(names, (std::vector<std::string>{"Total", "Total_1", "Total_2", "Sum Of A", "Count Of A", "Average Of Expr",
                                             "Expression", "Expression_1", "ghijklmnopqrstuvwxyz0123456789",
                                             "ijklmnopqrstuvwxyz0123456789_1",
                                             "Sys__Avg__Count6"}));
}

}  // namespace
}  // namespace korvex::testing
