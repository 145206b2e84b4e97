// Answers of statements that once crashed, lost data or answered wrongly:
// each case is a few statements made and filled through SQL and the rows
// (in the order the result gives them) or the message of the last one.
// Dates are read back through CAST to text in the session's format
// (language 0: yyyy-mm-dd).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"
#include "tables/sql/change_executor.h"
#include "tests/tables/sql/dml_test_support.h"
#include "tests/tables/sql/sql_test_support.h"

namespace korvex::testing {
namespace {

namespace fs = std::filesystem;

class StatementAnswersTest : public DmlTest {
protected:
  void SetUp() override {
    DmlTest::SetUp();
    private_ = path_ + "/private";
    fs::create_directories(private_);
    session_->SetPrivateDirectory(private_);
  }

  // The rows of a SELECT in the result's order, or "OK <rows>" of another
  // statement; a failure is "ERR <message>".
  std::vector<std::string> Answer(const std::string& text) {
    try {
      TQueryStatement statement(dir_);
      TDataCursor* result = Execute(statement, text);
      if (!result) return {"OK " + std::to_string(statement.GetRowsAffected())};
      return ResultRows(*result);
    } catch (const EKORVEXEngineError& e) {
      std::string message = e.what();
      if (message.rfind(kSqlPrefix, 0) == 0) message = message.substr(kSqlPrefix.size());
      return {"ERR " + message};
    }
  }

  struct Case {
    const char* what;
    std::vector<std::string> statements;  // each must run
    std::string query;
    std::vector<std::string> expected;
  };

  void RunCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      for (const std::string& s : c.statements) {
        const auto outcome = Answer(s);
        ASSERT_TRUE(outcome.empty() || outcome[0].rfind("ERR", 0) != 0) << s << ": " << outcome[0];
      }
      EXPECT_EQ(Answer(c.query), c.expected) << c.query;
    }
  }

  std::string private_;
};

// Aggregates over DECIMAL and MONEY, grouped and not: the sum of the group's
// values at the column's scale, the average as a float.
TEST_F(StatementAnswersTest, DecimalAndMoneyAggregates) {
  RunCases({
      {"AVG of one DECIMAL",
       {"CREATE TABLE d (g INTEGER, a DECIMAL(10,2), m MONEY)", "INSERT INTO d VALUES (1, 1.25, 2.5)"},
       "SELECT AVG(a), SUM(a) FROM d",
       {"1.25|1.25"}},
      {"groups of several rows and a NULL",
       {"INSERT INTO d VALUES (1, 2.50, 1.25)", "INSERT INTO d VALUES (2, NULL, NULL)",
        "INSERT INTO d VALUES (2, 4.00, 3)"},
       "SELECT g, SUM(a), AVG(a), MIN(a), MAX(a), SUM(m), AVG(m), COUNT(a) FROM d GROUP BY g",
       {"1|3.75|1.875|1.25|2.5|3.75|1.875|2", "2|4|4|4|4|3|3|1"}},
      {"one group over all rows", {}, "SELECT SUM(a), AVG(a), SUM(m) FROM d", {"7.75|2.58333333|6.75"}},
  });
}

// A condition answers alike as a cursor filter and in WHERE: arithmetic
// that leaves its type raises naming the expression (never a wrapped sum
// or a NULL read as false; python3's sqlite3 gives the DECIMAL product
// 999999999900000.0 > 0), and a quoted text beside a function is the text
// it spells, not the column of that name.
TEST_F(StatementAnswersTest, ConditionsAnswerAlikeAsFilterAndWhere) {
  for (const char* statement :
       {"CREATE TABLE Q (Id INTEGER, i INTEGER, b DECIMAL(10,2), s CHAR(4), s2 CHAR(4), sm INTEGER)",
        "INSERT INTO Q VALUES (1, 2147483647, 99999999.99, 'x', 'S', 5)",
        "INSERT INTO Q VALUES (2, 5, 1.5, 'S', 's', 6)",
        "INSERT INTO Q VALUES (3, -2147483648, -0.01, 'SM', 'SM', 7)"})
    ASSERT_EQ(Answer(statement).size(), 1u) << statement;
  const std::string overflow = "ERR Arithmetic overflow in expression ";
  const struct {
    const char* condition;
    std::vector<std::string> ids;  // or the error
  } cases[] = {
      {"i + 1 < 0", {overflow + "'i + 1'"}},
      {"i - 1 > 0", {overflow + "'i - 1'"}},
      {"i * 2 = 0 OR Id = 2", {overflow + "'i * 2'"}},
      {"i + 0 > 0", {"1", "2"}},
      {"-i < 0", {overflow + "'-i'"}},
      {"b * 10000000 > 0", {"1", "2"}},
      {"b * 10000000 < 0", {"3"}},
      {"b * 99999999 = NULL", {overflow + "'b * 99999999'"}},
      {"b * 99999999 > 0", {overflow + "'b * 99999999'"}},
      {"UPPER(s2) = 'S'", {"1", "2"}},
      {"'S' = UPPER(s2)", {"1", "2"}},
      {"UPPER(s2) = 'SM'", {"3"}},
      {"s2 + 'x' = 'SMx'", {"3"}},
      {"s = 'S'", {"2"}},
      {"'s' = 'S'", {"2"}},
      {"'sm' + 1 = 7", {"2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.condition);
    EXPECT_EQ(Answer(std::string("SELECT Id FROM Q WHERE ") + c.condition + " ORDER BY Id"), c.ids);
    std::vector<std::string> filtered;
    try {
      TDataCursor cursor(dir_);
      cursor.SetTableName("Q");
      cursor.OpenCursor();
      cursor.AddFilter(0, c.condition, nullptr, false, nullptr, {});
      cursor.ActivateAllFilters();
      std::vector<std::uint8_t> buffer(cursor.GetRecordSize());
      cursor.SetToBegin();
      while (cursor.GetNextRecord(buffer.data()) == 0)
        filtered.push_back(std::to_string(cursor.GetPhysicalRecordNumber()));
    } catch (const EKORVEXEngineError& e) {
      std::string message = e.what();
      if (message.rfind(kSqlPrefix, 0) == 0) message = message.substr(kSqlPrefix.size());
      filtered = {"ERR " + message};
    }
    EXPECT_EQ(filtered, c.ids);
  }
  // The same sums in a result column and in an UPDATE, which changes nothing.
  EXPECT_EQ(Answer("SELECT i + 1 FROM Q WHERE Id = 1"), std::vector<std::string>{overflow + "'i + 1'"});
  EXPECT_EQ(Answer("UPDATE Q SET i = i + 1"), std::vector<std::string>{overflow + "'i + 1'"});
  EXPECT_EQ(Answer("SELECT Id, i FROM Q ORDER BY Id"),
            (std::vector<std::string>{"1|2147483647", "2|5", "3|-2147483648"}));
}

// UPDATE and DELETE read memo columns as SELECT does, in WHERE and in the
// values they set.
TEST_F(StatementAnswersTest, ChangesReadMemoColumns) {
  RunCases({
      {"DELETE by a blank memo",
       {"CREATE TABLE b (Id INTEGER, m BLOB(0,1), m2 BLOB(0,1))", "INSERT INTO b VALUES (1, 'first', NULL)",
        "INSERT INTO b VALUES (2, NULL, 'second')", "INSERT INTO b VALUES (3, 'third', 'x')"},
       "DELETE FROM b WHERE m IS NULL",
       {"OK 1"}},
      {"UPDATE copies a memo", {"UPDATE b SET m2 = m"}, "SELECT * FROM b", {"1|first|first", "3|third|third"}},
      {"UPDATE by a memo's text", {"UPDATE b SET m = 'changed' WHERE m2 LIKE 'third'"}, "SELECT Id, m FROM b",
       {"1|first", "3|changed"}},
      {"DELETE by a memo's text", {}, "DELETE FROM b WHERE m LIKE 'fir%'", {"OK 1"}},
      {"what is left", {}, "SELECT * FROM b", {"3|changed|third"}},
  });
}

// Auto-increment values: shown as stored, named in INSERT and UPDATE (kept
// with NOAUTOINC), and in the "*" of an INSERT without a column list.
TEST_F(StatementAnswersTest, AutoIncrementValues) {
  RunCases({
      {"SELECT * after deletes keeps the stored numbers",
       {"CREATE TABLE a (aid AUTOINC, x INTEGER)", "INSERT INTO a (x) VALUES (10)", "INSERT INTO a (x) VALUES (20)",
        "INSERT INTO a (x) VALUES (30)", "DELETE FROM a WHERE x < 25"},
       "SELECT * FROM a",
       {"3|30"}},
      {"an AUTOINC column named in INSERT with NOAUTOINC keeps its value",
       {"INSERT INTO a (aid, x) VALUES (9, 4) NOAUTOINC"},
       "SELECT aid, x FROM a ORDER BY aid",
       {"3|30", "9|4"}},
      {"INSERT without a column list takes every field, AUTOINC too",
       {"INSERT INTO a VALUES (20, 5) NOAUTOINC", "INSERT INTO a VALUES (0, 6)"},
       "SELECT * FROM a ORDER BY x",
       {"9|4", "20|5", "21|6", "3|30"}},
      {"UPDATE of an AUTOINC column", {"UPDATE a SET aid = 50 WHERE x = 6 NOAUTOINC"}, "SELECT aid FROM a WHERE x = 6",
       {"50"}},
  });
}

TEST_F(StatementAnswersTest, GroupsComeOrderedWithPlainColumnsFromTheirLastRow) {
  RunCases({
      {"groups come ordered by the GROUP BY column",
       {"CREATE TABLE g (k CHAR(4), n INTEGER, o INTEGER)", "INSERT INTO g VALUES ('c', 1, 1)",
        "INSERT INTO g VALUES ('a', 2, 2)", "INSERT INTO g VALUES ('b', 3, 3)", "INSERT INTO g VALUES ('a', 4, 4)",
        "INSERT INTO g VALUES (NULL, 5, 5)", "INSERT INTO g VALUES ('c', 6, 6)"},
       "SELECT k, SUM(n) FROM g GROUP BY k",
       {"NULL|5", "a|6", "b|3", "c|7"}},
      {"a plain column beside the aggregates comes from the group's last row", {},
       "SELECT k, o, COUNT(*) FROM g GROUP BY k",
       {"NULL|5|1", "a|4|2", "b|3|1", "c|6|2"}},
      {"ORDER BY over groups", {}, "SELECT k, SUM(n) AS t FROM g GROUP BY k ORDER BY t DESC",
       {"c|7", "a|6", "NULL|5", "b|3"}},
  });
}

// Texts and dates convert in the session's format (yyyy-mm-dd) while the
// statement runs, as they do while it is checked.
TEST_F(StatementAnswersTest, DatesInTheSessionFormat) {
  RunCases({
      {"CAST of a text to DATE and back",
       {"CREATE TABLE dt (Id INTEGER, d DATE, s CHAR(12))", "INSERT INTO dt VALUES (1, '1750-01-02', '1750-01-02')",
        "INSERT INTO dt VALUES (2, '1801-12-31', '1801-12-31')"},
       "SELECT Id, CAST(CAST('1750-01-02' AS DATE) AS CHAR(12)), CAST(d AS CHAR(12)) FROM dt",
       {"1|1750-01-02|1750-01-02", "2|1750-01-02|1801-12-31"}},
      {"CAST in a condition", {}, "SELECT Id FROM dt WHERE d = CAST(s AS DATE) AND d > CAST('1800-01-01' AS DATE)",
       {"2"}},
      {"DELETE by a CAST", {}, "DELETE FROM dt WHERE d = CAST('1750-01-02' AS DATE)", {"OK 1"}},
      {"INSERT ... SELECT of a date text into a DATE column",
       {"INSERT INTO dt (Id, d) SELECT Id + 10, s FROM dt"},
       "SELECT Id, CAST(d AS CHAR(12)) FROM dt ORDER BY Id",
       {"2|1801-12-31", "12|1801-12-31"}},
      {"a DEFAULT in the session's format",
       {"CREATE TABLE df (Id INTEGER, d DATE DEFAULT '1900-02-03')", "INSERT INTO df (Id) VALUES (1)"},
       "SELECT Id, CAST(d AS CHAR(12)) FROM df",
       {"1|1900-02-03"}},
      {"a DEFAULT that is no date of the format is refused", {},
       "CREATE TABLE dg (Id INTEGER, d DATE DEFAULT '2/3/1900')",
       {"ERR KORVEX Engine Error # 10006 Invalid default, min or max validity check, or expression specified for "
        "'d' in table 'dg.DAT'"}},
  });
  EXPECT_FALSE(fs::exists(fs::path(path_) / "dg.DAT"));
  // Where a live result is wanted, a CAST between a text and a date is
  // still the statement's own: the result is not live.
  for (const char* text : {"SELECT Id, CAST(d AS CHAR(12)) FROM dt WHERE Id = 12",
                           "SELECT Id, s FROM dt WHERE CAST(s AS DATE) = d AND Id < 10"}) {
    TQueryStatement statement(dir_);
    statement.SetWantLiveResult(true);
    TDataCursor* result = Execute(statement, text);
    ASSERT_NE(result, nullptr);
    EXPECT_FALSE(statement.GetIsLiveResult());
    EXPECT_EQ(ResultRows(*result).size(), 1u) << text;
    if (std::string(text).find("CAST(d") != std::string::npos) {
      EXPECT_EQ(ResultRows(*result), std::vector<std::string>{"12|1801-12-31"});
    }
  }
  // The table with a DEFAULT opens outside SQL, in whatever formats are in
  // force.
  TDataCursor cursor(dir_);
  cursor.SetTableName("df");
  cursor.OpenCursor();
  EXPECT_EQ(cursor.GetFieldDefinitionByPos(2).Default, "1900-02-03");
  cursor.CloseCursor();
}

// CHARCASE changes accented letters too (Windows-1252: \xE9 is e acute,
// \xC9 its capital), in INSERT and UPDATE.
TEST_F(StatementAnswersTest, CharCaseWithAccentedLetters) {
  RunCases({
      {"INSERT",
       {"CREATE TABLE cc (Id INTEGER, u CHAR(8) CHARCASE UPPER, l CHAR(8) CHARCASE LOWER)",
        "INSERT INTO cc VALUES (1, '\xE9lan', '\xC9" "COLE')"},
       "SELECT u, l FROM cc",
       {"\xC9LAN|\xE9" "cole"}},
      {"UPDATE", {"UPDATE cc SET u = 'caf\xE9', l = 'CAF\xC9'"}, "SELECT u, l FROM cc", {"CAF\xC9|caf\xE9"}},
      {"compared in WHERE", {}, "SELECT Id FROM cc WHERE u = 'CAF\xC9' AND l = 'caf\xE9'", {"1"}},
  });
}

// The messages of refused statements.
TEST_F(StatementAnswersTest, RefusedStatements) {
  RunCases({
      {"a correlation name that FROM does not define",
       {"CREATE TABLE r (Id INTEGER, v CHAR(3), n SMALLINT)", "INSERT INTO r VALUES (1, 'abc', 5)"},
       "SELECT Id FROM r WHERE x.Id = 1",
       {"ERR Table correlation name 'x' referenced in WHERE clause is not defined in the FROM clause"}},
      {"a WHERE that is no condition", {}, "SELECT Id FROM r WHERE Id + 1",
       {"ERR WHERE or JOIN clause must be a boolean expression"}},
      {"a WHERE that is no condition in DELETE", {}, "DELETE FROM r WHERE v",
       {"ERR WHERE or JOIN clause must be a boolean expression"}},
      {"a text longer than its column", {}, "INSERT INTO r VALUES (2, 'abcd', 1)",
       {"ERR Value too long for column v"}},
      {"a number beyond its column's range", {}, "UPDATE r SET n = 40000", {"ERR Value out of range for column n"}},
      {"and nothing changed", {}, "SELECT * FROM r", {"1|abc|5"}},
  });
}

// SELECT ... INTO: where the table goes and how it is stored.
TEST_F(StatementAnswersTest, SelectInto) {
  RunCases({
      {"INTO a plain name goes to the private folder",
       {"CREATE TABLE s (Id INTEGER, v CHAR(3))", "INSERT INTO s VALUES (1, 'abc')",
        "SELECT Id, v INTO kept FROM s"},
       "SELECT * FROM s",
       {"1|abc"}},
  });
  EXPECT_TRUE(fs::exists(fs::path(private_) / "kept.DAT"));
  EXPECT_FALSE(fs::exists(fs::path(path_) / "kept.DAT"));
  // ENCRYPTED WITH writes an encrypted table: it opens only with the
  // password, which the session does not learn from the SELECT.
  ASSERT_EQ(Answer("SELECT Id, v INTO \"" + path_ + "/secret\" FROM s ENCRYPTED WITH 'pw'"),
            std::vector<std::string>{"1|abc"});
  EXPECT_EQ(session_->PasswordCount(), 0u);
  EXPECT_EQ(Answer("SELECT * FROM secret"),
            std::vector<std::string>{
                "ERR KORVEX Engine Error # 10498 Insufficient rights to table 'secret.DAT', a password is required"});
  // The password callback is asked while the source opens, as for INSERT.
  struct Prompt {
    TDataSession* session;
    int calls = 0;
  } prompt{session_.get()};
  TQueryStatement statement(dir_);
  statement.SetPasswordCallback(
      [](void* user, const char* table, char*) {
        auto* p = static_cast<Prompt*>(user);
        ++p->calls;
        if (std::string(table) == "secret") p->session->AddPassword("pw");
        return true;
      },
      &prompt);
  TDataCursor* result = Execute(statement, "SELECT COUNT(*) FROM secret");
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->GetRecordCount(), 1u);
  EXPECT_EQ(prompt.calls, 1);
}

// A RIGHT JOIN after an inner join keeps every row of its table, with the
// joined pair or blanks.
TEST_F(StatementAnswersTest, RightJoinAfterAnInnerJoin) {
  RunCases({
      {"(a JOIN b) RIGHT JOIN c",
       {"CREATE TABLE ja (x INTEGER, an CHAR(2))", "CREATE TABLE jb (x INTEGER, y INTEGER)",
        "CREATE TABLE jc (y INTEGER, cn CHAR(2))", "INSERT INTO ja VALUES (1, 'a1')", "INSERT INTO ja VALUES (2, 'a2')",
        "INSERT INTO jb VALUES (1, 10)", "INSERT INTO jb VALUES (3, 20)", "INSERT INTO jc VALUES (10, 'c1')",
        "INSERT INTO jc VALUES (20, 'c2')", "INSERT INTO jc VALUES (30, 'c3')"},
       "SELECT cn, an, jb.y FROM ja JOIN jb ON ja.x = jb.x RIGHT JOIN jc ON jb.y = jc.y ORDER BY cn",
       {"c1|a1|10", "c2|NULL|NULL", "c3|NULL|NULL"}},
  });
}

// ALTER keeps NULLs as NULLs in every column, also those with a DEFAULT;
// the default fills only a field that is added.
TEST_F(StatementAnswersTest, AlterKeepsNulls) {
  RunCases({
      {"ADD",
       {"CREATE TABLE al (Id INTEGER, a INTEGER DEFAULT 7, s CHAR(4) DEFAULT 'dflt')",
        "INSERT INTO al (Id) VALUES (1)", "UPDATE al SET a = NULL, s = NULL",
        "INSERT INTO al VALUES (2, 3, 'x')", "ALTER TABLE al ADD b INTEGER DEFAULT 5"},
       "SELECT * FROM al ORDER BY Id",
       {"1|NULL|NULL|5", "2|3|x|5"}},
      {"DROP", {"ALTER TABLE al DROP b"}, "SELECT * FROM al ORDER BY Id", {"1|NULL|NULL", "2|3|x"}},
      {"REDEFINE", {"ALTER TABLE al REDEFINE a SMALLINT DEFAULT 8"}, "SELECT * FROM al ORDER BY Id",
       {"1|NULL|NULL", "2|3|x"}},
  });
}

// UPDATE computes a column, a constant and arithmetic over two of them
// directly; every such value must come out as the general evaluator's
// does: the same stored values, NULLs, refusals (range, limits) and rows
// affected. Each SET runs on a table of edge values made afresh, once each
// way.
TEST_F(StatementAnswersTest, DirectUpdateValuesMatchTheEvaluator) {
  const std::string columns =
      "(Id INTEGER, s SMALLINT, w WORD, i INTEGER, f FLOAT, d DECIMAL(10,2), mo MONEY, dt DATE, tm TIME, "
      "ts TIMESTAMP, c CHAR(8), b BOOLEAN, lim INTEGER MINIMUM 0 MAXIMUM 100)";
  const std::vector<std::string> rows = {
      "(1, 1, 1, 1, 1.5, 1.25, 2.5, '2000-01-31', '10:20:30', '2000-01-31 10:20:30', 'abc', TRUE, 50)",
      "(2, 32767, 65535, 2147483647, -0.5, 99999999.99, -3.75, '1900-03-01', '00:00:00', '1899-12-30 00:00:00', "
      "'ABCDEFGH', FALSE, 100)",
      "(3, -32768, 0, -2147483648, 1e300, -0.01, 0, '9999-12-31', '23:59:59', '9999-12-31 23:59:59', ' x ', NULL, 0)",
      "(4, 0, 2, 0, 0, 0, NULL, NULL, NULL, NULL, NULL, TRUE, NULL)",
      "(5, NULL, NULL, NULL, NULL, NULL, 1e15, '0001-01-01', '12:00:00', '0001-01-01 00:00:00', '', FALSE, 7)",
  };
  const std::vector<std::string> sets = {
      "i = i + 1", "i = i - 1", "i = 1 - i", "i = i * 2", "i = i / 2", "i = i / 0", "i = i + s", "i = s * w",
      "s = s + 1", "s = s - 1", "s = i", "s = w * 2", "w = w + 1", "w = w - 3", "w = s", "i = f", "i = f * 3",
      "f = f * 1.5", "f = i / 3", "f = f + s", "f = f / 0", "f = 2 * f - 1", "d = d + 1.25", "d = d * d",
      "d = d / 3", "d = i", "d = f", "mo = mo - 0.5", "mo = mo * i", "mo = d", "dt = dt + 1", "dt = dt - 400",
      "dt = 1 + dt", "i = dt - dt", "ts = ts + 1", "ts = ts - 2", "tm = tm + 1000", "i = tm - tm", "c = c",
      "c = 'abc'", "c = ''", "b = b", "i = 5", "i = NULL", "f = NULL", "lim = lim + 50", "lim = lim - 1",
      "lim = 100 - lim", "i = lim", "s = 40000", "w = -1", "d = 12345678901.5", "i = Id * 1000000000",
      // Integral arithmetic into an INTEGER column, read from the record's
      // bytes: wrapping at both ends, NULL operands, every operand type.
      "i = i * i", "i = s + w", "i = w - s", "i = 2147483647 + i", "i = i - 2147483647", "i = -5 * s",
      "i = w * w", "i = s * s", "i = 0 - i", "i = i + NULL", "lim = lim * 2", "i = Id + Id", "i = 70000 * w",
  };
  const std::uint64_t direct_before = DirectUpdateValuesComputed();
  const std::uint64_t integral_before = IntegralUpdateValuesComputed();
  for (const std::string& set : sets) {
    SCOPED_TRACE(set);
    std::vector<std::string> outcomes, dumps[2];
    for (int direct = 0; direct < 2; ++direct) {
      const std::string table = "V";
      Answer("DROP TABLE " + table);
      ASSERT_EQ(Answer("CREATE TABLE " + table + " " + columns), std::vector<std::string>{"OK 0"});
      for (const std::string& row : rows) ASSERT_EQ(Answer("INSERT INTO " + table + " VALUES " + row)[0], "OK 1");
      SetDirectUpdateValues(direct == 1);
      outcomes.push_back(Answer("UPDATE " + table + " SET " + set)[0]);
      SetDirectUpdateValues(true);
      dumps[direct] = Answer("SELECT * FROM " + table + " ORDER BY Id");
    }
    EXPECT_EQ(outcomes[0], outcomes[1]);
    EXPECT_EQ(dumps[0], dumps[1]);
  }
  // Nearly every SET took the direct way.
  EXPECT_GE(DirectUpdateValuesComputed() - direct_before, 40u * rows.size());
  // The integral ones took the way over the record's bytes (those that
  // leave 32 bits stop at the first such row).
  EXPECT_GE(IntegralUpdateValuesComputed() - integral_before, 8u * rows.size());
}

}  // namespace
}  // namespace korvex::testing
