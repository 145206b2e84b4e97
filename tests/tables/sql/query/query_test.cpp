// The query component: parameters kept across SQL changes and bound from
// code or a master, scripts with failing statements, the guards of an open
// query, copies of results, and 2,000 generated SELECTs through the
// component against python3's sqlite3.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <filesystem>
#include <random>
#include <sstream>

#include "platform/dataset/datalink.h"
#include "platform/runtime/exceptions.h"
#include "support/raised.h"
#include "support/temp_dir.h"
#include "tables/components/korvex_table.h"
#include "tables/components/sessions.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/allocator.h"
#include "tables/sql/query/korvex_query.h"
#include "tests/tables/sql/dml_test_support.h"

namespace korvex::testing {
namespace {

std::string Raised(const std::function<void()>& action) { return qvtest::WhatRaised<std::exception>(action); }

class QueryTest : public ::testing::Test {
protected:
  void SetUp() override {
    Exec("CREATE TABLE T (Id INTEGER, A INTEGER, S CHAR(8), PRIMARY KEY (Id))");
    for (int i = 1; i <= 40; ++i)
      Exec("INSERT INTO T VALUES (" + std::to_string(i) + ", " + std::to_string(i % 5) + ", 'n" +
           std::to_string(i % 3) + "')");
  }
  void TearDown() override {
    FinalizeSessions();
    EXPECT_EQ(GetTotalMemoryAllocated(), 0) << "bytes of the counted allocator left behind";
  }

  void Exec(const std::string& text) {
    TKORVEXQuery q;
    q.SetDatabaseName(dir_.path().string());
    q.SetSQL(text);
    q.ExecSQL();
  }

  // The open query's rows, each field's text joined by '|', sorted.
  static std::vector<std::string> Rows(TKORVEXQuery& q) {
    std::vector<std::string> rows;
    q.First();
    while (!q.Eof()) {
      std::string line;
      for (int i = 0; i < q.FieldCount(); ++i) {
        db::TField* f = q.Fields(i);
        line += (i ? "|" : "") + (f->IsNull() ? std::string("NULL") : f->AsString());
      }
      rows.push_back(line);
      q.Next();
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  qvtest::TempDir dir_;
};

TEST_F(QueryTest, ParametersAndGuards) {
  TKORVEXQuery q;
  q.SetDatabaseName(dir_.path().string());
  q.SetSQL("SELECT Id FROM T WHERE A = :a AND Id < :hi");
  ASSERT_EQ(q.GetParamsCount(), 2);
  EXPECT_EQ(q.Text(), "SELECT Id FROM T WHERE A = ? AND Id < ?\r\n");
  q.ParamByName("a")->SetAsInteger(2);
  q.ParamByName("HI")->SetAsInteger(20);
  // A new text keeps the values of the names that stay.
  q.SetSQL("SELECT Id FROM T WHERE A = :a OR Id = :id");
  ASSERT_EQ(q.GetParamsCount(), 2);
  EXPECT_EQ(q.ParamByName("a")->AsInteger(), 2);
  EXPECT_EQ(q.ParamByName("id")->DataType(), db::ftUnknown);
  EXPECT_EQ(Raised([&] { q.Open(); }), "No value for parameter 'id'");
  EXPECT_FALSE(q.Active());
  q.ParamByName("id")->SetAsInteger(1);
  q.Open();
  EXPECT_EQ(Rows(q), (std::vector<std::string>{"1", "12", "17", "2", "22", "27", "32", "37", "7"}));
  EXPECT_EQ(q.StatementType(), stSelect);
  EXPECT_EQ(Raised([&] { q.SetPrepared(true); }), "Cannot perform this operation on an open dataset");
  EXPECT_EQ(Raised([&] { q.SetPrepared(false); }), "Cannot perform this operation on an open dataset");
  // Reopened with other values.
  q.Close();
  q.ParamByName("a")->SetAsInteger(4);
  q.Open();
  EXPECT_EQ(Rows(q).size(), 9u);
  q.Close();
  // Strings longer than 250 characters go as memos; a NULL matches nothing.
  q.SetSQL("UPDATE T SET S = :s WHERE Id = :id");
  q.ParamByName("s")->SetAsString("abc");
  q.ParamByName("id")->SetAsInteger(3);
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 1);
  EXPECT_EQ(q.StatementType(), stUpdate);
  q.ParamByName("id")->Clear();
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 0);
  q.SetSQL("");
  EXPECT_EQ(Raised([&] { q.ExecSQL(); }), "No SQL statement available");
  // The stored SQL block of the form file goes with the next SQL change.
  rtl::TStringStream block(std::string("SELECT 1\0", 9));
  q.ReadBinarySQL(block);
  rtl::TStringStream written;
  q.WriteBinarySQL(written);
  EXPECT_EQ(written.DataString(), std::string("SELECT 1\0", 9));
  q.SetSQL("SELECT Id FROM T");
  EXPECT_FALSE(q.HasBinarySQL());
  EXPECT_EQ(TKORVEXQuery::EngineVersion(), "2.11");
  // Many parameters: the binding list grows.
  std::string text = "SELECT Id FROM T WHERE Id IN (";
  for (int i = 0; i < 1500; ++i) text += (i == 0 ? ":p" : i == 700 ? ") OR A IN (:p" : ", :p") + std::to_string(i);
  q.SetSQL(text + ")");
  ASSERT_EQ(q.GetParamsCount(), 1500);
  for (int i = 0; i < 1500; ++i) q.Params().At(i)->SetAsInteger(i < 700 && i % 7 == 0 ? i : -1);
  q.Params().At(1499)->SetAsInteger(4);  // the last one counts too
  q.Open();
  EXPECT_EQ(Rows(q).size(), 5u + 8u - 1u);  // Ids 7, 14, 21, 28, 35 and the eight with A = 4 (14 among them)
  q.Close();
}

// Prepared through the setter as through Prepare(): the statement holds
// the query's database, and goes when the last use of it does.
TEST_F(QueryTest, PreparedSetterPreparesOnTheDatabase) {
  TKORVEXQuery q;
  q.SetDatabaseName(dir_.path().string());
  q.SetSQL("INSERT INTO T VALUES (100, 1, 'x')");
  q.SetPrepared(true);
  EXPECT_TRUE(q.Prepared());
  EXPECT_NE(q.Database(), nullptr);
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 1);
  q.SetSQL("SELECT COUNT(*) FROM T");
  q.SetPrepared(true);
  q.Open();
  EXPECT_EQ(Rows(q), std::vector<std::string>{"41"});
  q.Close();
  q.SetPrepared(false);
  EXPECT_EQ(q.DBFlags(), 0);
  EXPECT_EQ(q.Database(), nullptr);
  q.SetPrepared(true);
  q.SetDBFlag(dbfPrepared, false);
  EXPECT_FALSE(q.Prepared());
  EXPECT_EQ(q.Database(), nullptr);
  // A statement that does not prepare leaves no database held.
  q.SetSQL("SELECT Nope FROM Missing");
  EXPECT_NE(Raised([&] { q.SetPrepared(true); }), "");
  EXPECT_FALSE(q.Prepared());
  EXPECT_EQ(q.DBFlags(), 0);
}

TEST_F(QueryTest, Scripts) {
  TKORVEXQuery q;
  q.SetDatabaseName(dir_.path().string());
  int errors = 0;
  q.OnScriptError = [&](rtl::TObject*, const std::exception&, bool& abort) {
    ++errors;
    abort = errors > 10;  // a guard against a statement tried again and again
  };
  q.SetSQLScript(
      "INSERT INTO T VALUES (100, 1, 'x');\nINSERT INTO Nowhere VALUES (1);\n"
      "UPDATE T SET A = 9 WHERE Id >= 100 OR Id = 1;\nSELECT * FROM T;");
  q.ExecSQLScript();
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(q.RowsAffected(), 3);
  EXPECT_EQ(q.ScriptStatementType(), stSelect);
  // A statement that does not parse is passed over, once.
  errors = 0;
  q.SetSQLScript("DELETE FROM T WHERE Id = 100; SELEC garbage ( 'x;' ; DELETE FROM T WHERE Id = 1;");
  q.ExecSQLScript();
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(q.RowsAffected(), 2);
  // Answering true stops the script quietly.
  errors = 0;
  q.OnScriptError = [&](rtl::TObject*, const std::exception&, bool& abort) {
    ++errors;
    abort = true;
  };
  q.SetSQLScript("DELETE FROM T WHERE Id = 2; DELETE FROM Nowhere; DELETE FROM T WHERE Id = 3;");
  q.ExecSQLScript();
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(q.RowsAffected(), 1);
  // Without the event the error passes on.
  q.OnScriptError = nullptr;
  q.SetSQLScript("DELETE FROM Nowhere;");
  EXPECT_NE(Raised([&] { q.ExecSQLScript(); }), "");
  q.SetSQL("SELECT COUNT(*) FROM T");
  q.Open();
  EXPECT_EQ(Rows(q), std::vector<std::string>{"38"});
}

// Through the component, in the database's transaction: a statement that
// fails part way leaves the rows, and the index on A, as the transaction
// had them, and the transaction goes on to its commit.
TEST_F(QueryTest, AFailedStatementInATransactionTakesItselfBack) {
  Exec("CREATE INDEX TA ON T (A)");
  Exec("UPDATE T SET S = 'abcdefgh' WHERE Id = 30");
  TKORVEXDatabase db(nullptr);
  db.SetDatabaseName("Undo");
  db.SetDirectory(dir_.path().string());
  db.Open();
  db.StartTransaction();
  TKORVEXQuery q;
  q.SetDatabaseName("Undo");
  auto rows = [&](const std::string& text) {
    TKORVEXQuery select;
    select.SetDatabaseName("Undo");
    select.SetSQL(text);
    select.Open();
    return Rows(select);
  };
  q.SetSQL("DELETE FROM T WHERE Id = 1");
  q.ExecSQL();
  const std::vector<std::string> before = rows("SELECT * FROM T"), keyed = rows("SELECT Id FROM T WHERE A = 2");
  ASSERT_EQ(before.size(), 39u);
  for (const char* text : {"UPDATE T SET A = A + 10, S = S || 'x'", "INSERT INTO T SELECT Id + 100, A, S || 'x' FROM T"}) {
    SCOPED_TRACE(text);
    q.SetSQL(text);
    EXPECT_NE(Raised([&] { q.ExecSQL(); }).find("Value too long for column S"), std::string::npos);
    EXPECT_TRUE(db.InTransaction());
    EXPECT_EQ(rows("SELECT * FROM T"), before);
    EXPECT_EQ(rows("SELECT Id FROM T WHERE A = 2"), keyed);
  }
  db.Commit();
  EXPECT_EQ(rows("SELECT * FROM T"), before);
  EXPECT_EQ(rows("SELECT Id FROM T WHERE A > 9"), std::vector<std::string>{});
}

TEST_F(QueryTest, MasterDetailAndCopies) {
  Exec("CREATE TABLE M (Id INTEGER, Name CHAR(10))");
  for (int i = 0; i < 5; ++i) Exec("INSERT INTO M VALUES (" + std::to_string(i) + ", 'm" + std::to_string(i) + "')");
  TKORVEXTable master;
  master.SetDatabaseName(dir_.path().string());
  master.SetTableName("M");
  db::TDataSource source(nullptr);
  source.SetDataSet(&master);
  TKORVEXQuery follows, stays;
  for (TKORVEXQuery* q : {&follows, &stays}) {
    q->SetDatabaseName(dir_.path().string());
    q->SetSQL("SELECT Id FROM T WHERE A = :Id");
    q->SetDataSource(&source);
  }
  stays.ParamByName("Id")->SetAsInteger(3);
  master.Open();
  follows.Open();
  stays.Open();
  for (int m = 0; m < 5; ++m) {
    SCOPED_TRACE(m);
    EXPECT_EQ(master.FieldByName("Id")->AsInteger(), m);
    auto rows = Rows(follows);
    EXPECT_EQ(rows.size(), 8u);
    for (const std::string& id : rows) EXPECT_EQ(std::stoi(id) % 5, m);
    EXPECT_FALSE(follows.ParamByName("Id")->Bound());
    for (const std::string& id : Rows(stays)) EXPECT_EQ(std::stoi(id) % 5, 3);
    master.Next();
  }
  EXPECT_EQ(Raised([&] {
              db::TDataSource own(nullptr);
              own.SetDataSet(&follows);
              follows.SetDataSource(&own);
            }),
            "Circular datalinks are not allowed");
  // A copy of the open result.
  follows.SaveToTable("Copy");
  stays.Close();
  stays.SetDataSource(nullptr);
  stays.SetSQL("SELECT * FROM Copy");
  stays.Open();
  EXPECT_EQ(Rows(stays), Rows(follows));
  stays.Close();
  follows.Close();
  master.Close();
}

// Generated SELECTs over a table with NULLs, through the component (every
// other one over a live result) and through SQLite.
TEST_F(QueryTest, GeneratedSelectsAgreeWithSqlite) {
  Exec("CREATE TABLE G (Id INTEGER, A INTEGER, B SMALLINT, S CHAR(6), F FLOAT)");
  std::mt19937 rng(5);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const char* names[] = {"'Ab'", "'Cd'", "'ab'", "'Zz'"};
  std::ostringstream py;
  py << "import sqlite3\nc = sqlite3.connect(':memory:')\n"
        "c.execute('CREATE TABLE G (Id INTEGER, A INTEGER, B INTEGER, S TEXT, F REAL)')\n"
     << kSqliteDump
     << "def rows(q):\n"
        "  for line in sorted('|'.join(f(v) for v in r) for r in c.execute(q)): print(line)\n"
        "  print('--')\n";
  for (int i = 1; i <= 60; ++i) {
    auto maybe = [&](const std::string& v) { return pick(6) == 0 ? std::string("NULL") : v; };
    const std::string row = "INSERT INTO G VALUES (" + std::to_string(i) + ", " + maybe(std::to_string(pick(20) - 5)) +
                            ", " + maybe(std::to_string(pick(7))) + ", " + maybe(names[pick(4)]) + ", " +
                            maybe(std::to_string(pick(40) - 20) + ".25") + ")";
    Exec(row);
    py << "c.execute(\"" << row << "\")\n";
  }
  struct Pair {
    std::string ours, lite;
  };
  std::vector<Pair> queries;
  const char* columns[] = {"Id", "A", "B", "S", "F", "A + B", "F * 2", "Id - A"};
  for (int n = 0; n < 2000; ++n) {
    std::string list;
    const int count = 1 + pick(3);
    for (int c = 0; c < count; ++c) list += (c ? ", " : "") + std::string(columns[pick(8)]);
    std::string ours = "SELECT " + list + " FROM G", lite = ours;
    const int k = pick(15) - 3;
    switch (pick(7)) {
      case 0: break;
      case 1: ours += " WHERE A > " + std::to_string(k); lite = ours; break;
      case 2: ours += " WHERE B <= " + std::to_string(k % 7) + " AND F < 3"; lite = ours; break;
      case 3: {
        const std::string s = names[pick(4)];
        ours += " WHERE S = " + s;
        lite += " WHERE S = " + s;
        break;
      }
      case 4: ours += " WHERE A IS NULL OR B = 2"; lite = ours; break;
      case 5: ours += " WHERE Id BETWEEN " + std::to_string(k) + " AND " + std::to_string(k + 20); lite = ours; break;
      default: ours += " WHERE S LIKE 'A%' OR F >= 1"; lite = ours; break;
    }
    queries.push_back({ours, lite});
  }
  py << "c.execute('PRAGMA case_sensitive_like=ON')\n";
  for (const Pair& p : queries) py << "print('Q')\nrows(\"\"\"" << p.lite << "\"\"\")\n";
  const std::string script = (dir_.path() / "selects.py").string();
  {
    std::FILE* f = std::fopen(script.c_str(), "w");
    const std::string program = py.str();
    std::fwrite(program.data(), 1, program.size(), f);
    std::fclose(f);
  }
  FILE* pipe = popen(("python3 " + script).c_str(), "r");
  std::string output;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  pclose(pipe);
  std::vector<std::vector<std::string>> answers;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    if (line == "Q") {
      answers.emplace_back();
      continue;
    }
    if (line != "--") answers.back().push_back(line);
  }
  ASSERT_EQ(answers.size(), queries.size());
  TKORVEXQuery q;
  q.SetDatabaseName(dir_.path().string());
  int compared = 0, live = 0;
  for (std::size_t i = 0; i < queries.size(); ++i) {
    SCOPED_TRACE(queries[i].ours);
    // Every other query over a live result: its calculated columns and
    // WHERE filters through the dataset.
    q.SetRequestLive(i % 2 == 1);
    q.SetSQL(queries[i].ours);
    q.Open();
    live += q.ResultIsLive();
    // Floats as SQLite prints them.
    std::vector<std::string> ours;
    q.First();
    while (!q.Eof()) {
      std::string text;
      for (int f = 0; f < q.FieldCount(); ++f) {
        db::TField* field = q.Fields(f);
        std::string value = "NULL";
        if (!field->IsNull()) {
          if (field->DataType() == db::ftFloat) {
            char number[64];
            std::snprintf(number, sizeof number, "%.9g", field->AsFloat());
            value = number;
          } else {
            value = field->AsString();
          }
        }
        text += (f ? "|" : "") + value;
      }
      ours.push_back(text);
      q.Next();
    }
    std::sort(ours.begin(), ours.end());
    EXPECT_EQ(ours, answers[i]);
    q.Close();
    ++compared;
    if (HasFailure()) break;
  }
  EXPECT_EQ(compared, 2000);
  EXPECT_EQ(live, 1000);
}

// A saved result keeps the columns the query shows: AVG's hidden count
// stays behind.
TEST_F(QueryTest, SaveToTableLeavesAverageCountsOut) {
  TKORVEXQuery q;
  q.SetDatabaseName(dir_.path().string());
  q.SetSQL("SELECT A, AVG(Id) FROM T GROUP BY A");
  q.Open();
  const std::vector<std::string> shown = Rows(q);
  q.SaveToTable("Averages");
  q.Close();
  q.SetSQL("SELECT * FROM Averages");
  q.Open();
  EXPECT_EQ(q.FieldCount(), 2);
  for (int i = 0; i < q.FieldCount(); ++i) EXPECT_EQ(q.Fields(i)->FieldName().find("Sys__"), std::string::npos);
  EXPECT_EQ(Rows(q), shown);
  q.Close();
}

// RequestLive: a query over one table answers with the table's own cursor.
// Edits, appends and deletes through the dataset reach the table, the
// WHERE keeps narrowing what it shows and calculated columns follow;
// SaveToTable copies what the live result shows. A row limit, or a query
// that groups, answers with a copy.
TEST_F(QueryTest, LiveResultsEditTheirTable) {
  TKORVEXQuery q, check;
  for (TKORVEXQuery* query : {&q, &check}) query->SetDatabaseName(dir_.path().string());
  q.SetRequestLive(true);
  q.SetSQL("SELECT Id, A, S AS Label, A * 100 AS Hundreds FROM T WHERE A = 2 ORDER BY Id");
  q.Open();
  ASSERT_TRUE(q.ResultIsLive());
  ASSERT_TRUE(q.CanModify());
  EXPECT_EQ(q.RecordCount(), 8);
  q.First();
  q.Edit();
  q.FieldByName("Label")->SetAsString("edited");
  q.Post();
  for (int id : {100, 101}) {
    q.Append();
    q.FieldByName("Id")->SetAsInteger(id);
    q.FieldByName("A")->SetAsInteger(id == 100 ? 2 : 3);
    q.FieldByName("Label")->SetAsString("new");
    q.Post();
  }
  ASSERT_TRUE(q.Locate("Id", db::Variant(std::int32_t{7}), 0));
  q.Delete();
  q.Close();
  check.SetSQL("SELECT Id, A, S FROM T WHERE Id = 2 OR Id = 7 OR Id >= 100");
  check.Open();
  EXPECT_EQ(Rows(check), (std::vector<std::string>{"100|2|new", "101|3|new", "2|2|edited"}));
  check.Close();
  q.Open();
  EXPECT_TRUE(q.ResultIsLive());
  const std::vector<std::string> shown = Rows(q);
  EXPECT_EQ(shown.size(), 8u);  // 7 gone, 100 come, 101 fails A = 2
  EXPECT_NE(std::find(shown.begin(), shown.end(), "100|2|new|200"), shown.end());
  for (const std::string& row : shown) EXPECT_EQ(row.substr(row.find('|'), 3), "|2|") << row;
  // The dataset's own filters and lookups name the result's columns.
  EXPECT_TRUE(q.Locate("Label", db::Variant(std::string("edited")), 0));
  EXPECT_EQ(q.FieldByName("Id")->AsInteger(), 2);
  EXPECT_TRUE(q.Locate("Hundreds;Id", db::Variant(db::VarArray{db::Variant(200.0), db::Variant(std::int32_t{100})}), 0));
  EXPECT_EQ(q.FieldByName("Label")->AsString(), "new");
  q.SetFilter("Label = 'new' OR Hundreds + Id = 212");
  q.SetFilteredValue(true);
  EXPECT_EQ(Rows(q), (std::vector<std::string>{"100|2|new|200", "12|2|n0|200"}));
  q.SetFilteredValue(false);
  q.SetFilter("");
  q.SaveToTable("LiveCopy");
  q.Close();
  check.SetSQL("SELECT * FROM LiveCopy");
  check.Open();
  EXPECT_EQ(Rows(check), shown);
  EXPECT_EQ(check.FieldCount(), 4);
  check.Close();
  // Answered with copies: a row limit, a grouped query, no live request.
  q.SetMaxRowCount(3);
  q.Open();
  EXPECT_FALSE(q.ResultIsLive());
  EXPECT_EQ(q.RecordCount(), 3);
  q.Close();
  q.SetMaxRowCount(-1);
  q.SetSQL("SELECT A, COUNT(*) FROM T GROUP BY A");
  q.Open();
  EXPECT_FALSE(q.ResultIsLive());
  q.Close();
  q.SetRequestLive(false);
  q.SetSQL("SELECT Id FROM T");
  q.Open();
  EXPECT_FALSE(q.ResultIsLive());
  q.Close();
}

}  // namespace
}  // namespace korvex::testing

namespace korvex::testing {
namespace {

// A parameter of every type works with every comparison operator (and LIKE
// for texts and memos): the rows counted equal those whose value stands so
// to the parameter's. A memo parameter binds as a BLOB, also through a
// master's memo field.
TEST_F(QueryTest, ParametersOfEveryTypeWithEveryOperator) {
  Exec("CREATE TABLE Y (I INTEGER, N SMALLINT, W WORD, F FLOAT, C MONEY, D DECIMAL(8,2), S CHAR(8), DT DATE, "
       "TM TIME, TS TIMESTAMP, B BOOLEAN, MM BLOB(0,1))");
  // Row i (1..6) holds values that grow with i; B is true in odd rows.
  for (int i = 1; i <= 6; ++i) {
    const std::string n = std::to_string(i);
    Exec("INSERT INTO Y VALUES (" + n + ", " + n + ", " + n + ", " + n + ".5, " + n + ".25, " + n + ".75, 's" + n +
         "', '1750-01-0" + n + "', '10:0" + n + "', '1750-01-0" + n + " 10:00', " + (i % 2 ? "TRUE" : "FALSE") +
         ", 'memo " + n + "')");
  }
  const rtl::TDateTime day3 = -54782;  // 1750-01-03 as days from 1899-12-30
  struct Column {
    const char* name;
    std::function<void(TKORVEXParam*)> set;  // sets the parameter to the value of row 3
    bool boolean = false;
  };
  const std::vector<Column> columns = {
      {"I", [](TKORVEXParam* p) { p->SetAsInteger(3); }},
      {"N", [](TKORVEXParam* p) { p->SetAsSmallInt(3); }},
      {"W", [](TKORVEXParam* p) { p->SetAsWord(3); }},
      {"F", [](TKORVEXParam* p) { p->SetAsFloat(3.5); }},
      {"C", [](TKORVEXParam* p) { p->SetAsCurrency(3.25); }},
      {"D", [](TKORVEXParam* p) { p->SetAsBCD(rtl::Currency::FromScaled(37500)); }},
      {"S", [](TKORVEXParam* p) { p->SetAsString("s3"); }},
      {"DT", [&](TKORVEXParam* p) { p->SetAsDate(day3); }},
      {"TM", [](TKORVEXParam* p) { p->SetAsTime((10 * 60 + 3) / 1440.0); }},
      // Before 1899-12-30 the fraction of a date-time counts forward from
      // its day: 10:00 of day3 is day3 - 10/24.
      {"TS", [&](TKORVEXParam* p) { p->SetAsDateTime(day3 - 10 / 24.0); }},
      {"B", [](TKORVEXParam* p) { p->SetAsBoolean(true); }, true},
      // Texts against dates and times read as the constants of the same
      // texts are.
      {"DT", [](TKORVEXParam* p) { p->SetAsString("1750-01-03"); }},
      {"TM", [](TKORVEXParam* p) { p->SetAsString("10:03"); }},
      {"TS", [](TKORVEXParam* p) { p->SetAsString("1750-01-03 10:00"); }},
      // A memo's text compares as a text.
      {"S", [](TKORVEXParam* p) { p->SetAsMemo("s3"); }},
  };
  // Row keys against the parameter's key: 1..6 against 3, or for B the
  // truth values (1, 0, 1, ...) against 1.
  auto expected = [](const std::string& op, bool boolean) {
    int count = 0;
    for (int i = 1; i <= 6; ++i) {
      const int row = boolean ? i % 2 : i, p = boolean ? 1 : 3;
      count += op == "=" ? row == p : op == "<>" ? row != p : op == "<" ? row < p : op == "<=" ? row <= p
               : op == ">" ? row > p : row >= p;
    }
    return std::to_string(count);
  };
  TKORVEXQuery q;
  q.SetDatabaseName(dir_.path().string());
  for (const Column& c : columns) {
    for (const std::string op : {"=", "<>", "<", "<=", ">", ">="}) {
      if (c.boolean && op != "=" && op != "<>") continue;  // truth values are not ordered
      SCOPED_TRACE(std::string(c.name) + " " + op);
      q.SetSQL(std::string("SELECT COUNT(*) FROM Y WHERE ") + c.name + " " + op + " :p");
      c.set(q.ParamByName("p"));
      q.Open();
      EXPECT_EQ(Rows(q), std::vector<std::string>{expected(op, c.boolean)});
      q.Close();
    }
  }
  for (const auto& [column, pattern] : {std::pair{"S", "s3%"}, std::pair{"MM", "memo 3%"}, std::pair{"S", "%"}}) {
    q.SetSQL(std::string("SELECT COUNT(*) FROM Y WHERE ") + column + " LIKE :p");
    if (std::string(column) == "MM") q.ParamByName("p")->SetAsMemo(pattern);
    else q.ParamByName("p")->SetAsString(pattern);
    q.Open();
    EXPECT_EQ(Rows(q), std::vector<std::string>{std::string(pattern) == "%" ? "6" : "1"}) << column << " " << pattern;
    q.Close();
  }
  // A memo parameter as a value, and one whose text passes 250 characters.
  q.SetSQL("UPDATE Y SET MM = :p WHERE I = 2");
  q.ParamByName("p")->SetAsMemo("hello world");
  q.ExecSQL();
  q.SetSQL("SELECT I FROM Y WHERE MM LIKE :p");
  q.ParamByName("p")->SetAsMemo("hello world");
  q.Open();
  EXPECT_EQ(Rows(q), std::vector<std::string>{"2"});
  q.Close();
  // A pattern longer than a text is refused when the statement runs.
  q.ParamByName("p")->SetAsMemo(std::string(300, 'x'));
  EXPECT_EQ(Raised([&] { q.Open(); }),
            kSqlPrefix + "Type mismatch between LIKE operator and expression '?' in WHERE or JOIN clause");
  EXPECT_FALSE(q.Active());
  // A detail query whose parameter follows the master's memo field.
  TKORVEXTable master;
  master.SetDatabaseName(dir_.path().string());
  master.SetTableName("Y");
  db::TDataSource source(nullptr);
  source.SetDataSet(&master);
  TKORVEXQuery detail;
  detail.SetDatabaseName(dir_.path().string());
  detail.SetSQL("SELECT I FROM Y WHERE MM LIKE :MM");
  detail.SetDataSource(&source);
  master.Open();
  detail.Open();
  EXPECT_EQ(Rows(detail), std::vector<std::string>{"1"});
  master.Next();
  EXPECT_EQ(master.FieldByName("MM")->AsString(), "hello world");
  EXPECT_EQ(Rows(detail), std::vector<std::string>{"2"});
  detail.Close();
  master.Close();
}

}  // namespace
}  // namespace korvex::testing
