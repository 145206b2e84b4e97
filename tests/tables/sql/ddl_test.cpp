// CREATE, ALTER and DROP: a schema history applied to our tables and to
// SQLite's with every row compared after each step; the headers the data
// definition statements leave (fields, keys, settings) as text dumps; and
// refusals that leave the files as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/sql/dml_test_support.h"

namespace korvex::testing {
namespace {

class DdlTest : public DmlTest {
protected:
  // The rows a SELECT gives, sorted.
  std::vector<std::string> Select(const std::string& text) {
    TQueryStatement statement(dir_);
    TDataCursor* result = Execute(statement, text);
    std::vector<std::string> rows;
    std::vector<std::uint8_t> record(result->GetRecordSize());
    result->SetToBegin();
    while (result->GetNextRecord(record.data()) == 0) {
      std::string line;
      for (int i = 1; i <= result->GetFieldCount(); ++i) line += (i > 1 ? "|" : "") + FieldText(*result, i, record.data());
      rows.push_back(line);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  // Fields as "name type/size/decimals" with their options, then the keys
  // by column name, then the settings.
  std::string Header(const std::string& table) {
    TDataCursor c(dir_);
    c.SetTableName(table);
    c.OpenCursor();
    std::ostringstream out;
    for (int i = 1; i <= c.GetFieldCount(); ++i) {
      const TFieldDefinition& f = c.GetFieldDefinitionByPos(i);
      out << (i > 1 ? " " : "") << f.Name << ":" << int(f.DataType) << "/" << int(f.Size) << "/" << int(f.Decimals);
      if (f.Required) out << "!";
      if (f.CharCase) out << "^" << int(f.CharCase);
      for (const std::string* text : {&f.Description, &f.Default, &f.Minimum, &f.Maximum})
        if (!text->empty()) out << "[" << *text << "]";
    }
    auto keys = [&](const TIndexDefinition& d) {
      std::string names;
      for (int k = 0; k < d.FieldCount; ++k)
        names += (k ? "," : "") + (d.Fields[k] ? c.GetFieldDefinitionByPos(d.Fields[k]).Name : std::string("0"));
      return names + (d.Unique ? " u" : "") + (d.Descending ? " d" : "") + (d.CaseInsensitive ? " i" : "");
    };
    TIndexDefinition d;
    if (c.GetNoPrimaryIndex()) {
      out << "; no key";
    } else {
      c.GetIndexDefinition(0, d);
      out << "; key " << keys(d);
    }
    for (std::uint8_t p = 1; p <= c.GetIndexCount(); ++p) {
      c.GetIndexDefinition(p, d);
      out << "; " << d.Name << "(" << keys(d) << ")";
    }
    TDataHeader h;
    c.GetDataHeader(h);
    out << "; '" << h.Description << "' v" << h.UserMajorVersion << "." << h.UserMinorVersion << " b"
        << h.BlobBlockSize() << " l" << h.LanguageID;
    c.CloseCursor();
    return out.str();
  }
};

// Each step: our statement and SQLite's, then a SELECT over all columns in
// both dialects.
struct SchemaStep {
  const char* ours;
  const char* lite;
  const char* select;
};

TEST_F(DdlTest, SchemaHistoryAgreesWithSqlite) {
  const SchemaStep steps[] = {
      {"CREATE TABLE T (Id INTEGER, A INTEGER, S CHAR(10), PRIMARY KEY (Id))",
       "CREATE TABLE T (Id INTEGER PRIMARY KEY, A INTEGER, S TEXT)", "SELECT Id, A, S FROM T"},
      {"INSERT INTO T SELECT Id, A, S FROM N", "INSERT INTO T SELECT Id, A, S FROM N", "SELECT Id, A, S FROM T"},
      {"CREATE INDEX ByA ON T (A)", "CREATE INDEX ByA ON T (A)", "SELECT Id, A, S FROM T"},
      {"ALTER TABLE T ADD B INTEGER", "ALTER TABLE T ADD COLUMN B INTEGER", "SELECT Id, A, S, B FROM T"},
      {"UPDATE T SET B = A * 2 WHERE A > 3", "UPDATE T SET B = A * 2 WHERE A > 3", "SELECT Id, A, S, B FROM T"},
      {"ALTER TABLE T DROP S", "ALTER TABLE T DROP COLUMN S", "SELECT Id, A, B FROM T"},
      {"ALTER TABLE T REDEFINE B C INTEGER", "ALTER TABLE T RENAME COLUMN B TO C", "SELECT Id, A, C FROM T"},
      {"ALTER TABLE T ADD Z CHAR(5) AT 1", "ALTER TABLE T ADD COLUMN Z TEXT", "SELECT Id, A, C, Z FROM T"},
      {"UPDATE T SET Z = 'z' WHERE A < 5", "UPDATE T SET Z = 'z' WHERE A < 5", "SELECT Id, A, C, Z FROM T"},
      {"DROP INDEX T.ByA", "DROP INDEX ByA", "SELECT Id, A, C, Z FROM T"},
      {"ALTER TABLE T DROP A", "ALTER TABLE T DROP COLUMN A", "SELECT Id, C, Z FROM T"},
      {"DELETE FROM T WHERE C IS NULL", "DELETE FROM T WHERE C IS NULL", "SELECT Id, C, Z FROM T"},
  };
  MakeDmlTables();
  std::ostringstream py;
  py << "import sqlite3\nc = sqlite3.connect(':memory:', isolation_level=None)\n"
        "c.execute('CREATE TABLE N (Id INTEGER, A INTEGER, S TEXT, F REAL)')\n"
     << kSqliteDump
     << "def rows(q):\n"
        "  for line in sorted('|'.join(f(v) for v in r) for r in c.execute(q)): print(line)\n"
        "  print('--')\n";
  for (int i = 1; i <= 30; ++i) {
    const std::string row = "INSERT INTO N VALUES (" + std::to_string(i) + ", " +
                            (i % 5 == 0 ? std::string("NULL") : std::to_string(i % 8)) + ", 'n" + std::to_string(i % 4) +
                            "', 0.5)";
    ASSERT_EQ(Run(row), "OK 1");
    py << "c.execute(\"" << row << "\")\n";
  }
  for (const SchemaStep& s : steps)
    py << "c.execute(\"\"\"" << s.lite << "\"\"\")\nprint('OK')\nrows(\"\"\"" << s.select << "\"\"\")\n";
  const auto answers = SqliteAnswers(py.str(), 1);
  ASSERT_EQ(answers.size(), std::size(steps));
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(steps[i].ours);
    ASSERT_EQ(RunError(steps[i].ours), "");
    EXPECT_EQ(Select(steps[i].select), answers[i].tables[0]);
  }
  EXPECT_EQ(Header("T"), "Z:1/5/0 Id:6/0/0 C:6/0/0; key Id u; '' v1.0 b512 l0");
  EXPECT_EQ(RunError("DROP TABLE T"), "");
  EXPECT_FALSE(dir_->DataTableExists("T", false));
}

TEST_F(DdlTest, HeadersOfTheDefinitionStatements) {
  struct Case {
    const char* statement;
    const char* header;  // of table h afterwards; a message when it fails
  };
  const Case cases[] = {
      {"CREATE TABLE h (c CHAR(20) DESCRIPTION 'text' NOT NULL DEFAULT 'x' CHARCASE UPPER, n INTEGER MIN 1 MAX 9, "
       "m MONEY, d DECIMAL(10, 2), b BYTES(4))",
       "c:1/20/0!^2[text][x] n:6/0/0[1][9] m:7/0/0 d:8/0/2 b:9/4/0; no key; '' v1.0 b512 l0"},
      {"CREATE INDEX ix ON h (n, c)", "c:1/20/0!^2[text][x] n:6/0/0[1][9] m:7/0/0 d:8/0/2 b:9/4/0; no key; ix(n,c)"
                                      "; '' v1.0 b512 l0"},
      {"ALTER TABLE h DESCRIPTION 'only this'",
       "c:1/20/0!^2[text][x] n:6/0/0[1][9] m:7/0/0 d:8/0/2 b:9/4/0; no key; ix(n,c); 'only this' v1.0 b512 l0"},
      {"ALTER TABLE h REDEFINE c NOT NULL, REDEFINE m mm INTEGER, ADD PRIMARY KEY (n)",
       "c:1/20/0!^2[text][x] n:6/0/0[1][9] mm:6/0/0 d:8/0/2 b:9/4/0; key n u; ix(n,c); 'only this' v1.0 b512 l0"},
      // Moves and drops: the keys follow their columns.
      {"ALTER TABLE h DROP b, REDEFINE c AT 3",
       "n:6/0/0[1][9] mm:6/0/0 c:1/20/0!^2[text][x] d:8/0/2; key n u; ix(n,c); 'only this' v1.0 b512 l0"},
      {"ALTER TABLE h ADD PRIMARY KEY (mm)", "error: Cannot REDEFINE the primary key using the ADD keyword"},
      {"ALTER TABLE h DROP c", "error: Column 'c' is used by index 'ix' and cannot be dropped"},
      {"ALTER TABLE h DROP n", "error: Column 'n' is used by index 'PRIMARY' and cannot be dropped"},
      {"ALTER TABLE h ADD q INTEGER AT 0", "error: AT column position must be between 1 and 4"},
      {"ALTER TABLE h DROP zz", "error: Column zz not found"},
      {"DROP INDEX h.primary", "n:6/0/0[1][9] mm:6/0/0 c:1/20/0!^2[text][x] d:8/0/2; no key; ix(n,c); 'only this' v1.0 "
                               "b512 l0"},
      {"DROP INDEX h.ix", "n:6/0/0[1][9] mm:6/0/0 c:1/20/0!^2[text][x] d:8/0/2; no key; 'only this' v1.0 b512 l0"},
      {"ALTER TABLE h REDEFINE PRIMARY KEY (mm), DROP n, USER MAJOR VERSION 3",
       "mm:6/0/0 c:1/20/0!^2[text][x] d:8/0/2; key mm u; 'only this' v3.0 b512 l0"},
      {"ALTER TABLE h DROP PRIMARY KEY, DROP mm", "c:1/20/0!^2[text][x] d:8/0/2; no key; 'only this' v3.0 b512 l0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    const auto before = TableFileBytes({"h"});
    const std::string error = RunError(c.statement);
    if (!error.empty()) {
      EXPECT_EQ("error: " + error.substr(kSqlPrefix.size()), c.header) << error;
      EXPECT_TRUE(before == TableFileBytes({"h"}));
      continue;
    }
    EXPECT_EQ(Header("h"), c.header);
  }
  // A key column that names none gives key field 0, which the engine refuses.
  const std::string zero = RunError("CREATE TABLE k (a INTEGER, PRIMARY KEY (zz))");
  EXPECT_NE(zero.find("KORVEX Engine Error"), std::string::npos) << zero;
  EXPECT_FALSE(dir_->DataTableExists("k", false));
  // MEMORY and a directory part.
  EXPECT_EQ(RunError("CREATE TABLE MEMORY mt (a INTEGER)"), "");
  EXPECT_TRUE(dir_->DataTableExists("mt", true));
  EXPECT_EQ(RunError("DROP TABLE MEMORY mt"), "");
  EXPECT_FALSE(dir_->DataTableExists("mt", true));
  const std::string sub = path_ + "/sub";
  std::filesystem::create_directories(sub);
  EXPECT_EQ(RunError("CREATE TABLE \"" + sub + "/dt\" (a INTEGER)"), "");
  EXPECT_TRUE(std::filesystem::exists(sub + "/dt.DAT"));
  EXPECT_EQ(RunError("DROP TABLE \"" + sub + "/dt\""), "");
  EXPECT_FALSE(std::filesystem::exists(sub + "/dt.DAT"));
}

// ALTERs over records that the new definition refuses change nothing: the
// rows and the files' bytes stay, and the message names the column and the
// first record at fault. The same ALTERs over records that fit run, each
// on the table the one before it left.
TEST_F(DdlTest, AltersThatWouldLoseRecordsOrValuesAreRefused) {
  ASSERT_EQ(RunError("CREATE TABLE t (k INTEGER, n INTEGER, c CHAR(20), w INTEGER, s CHAR(10), dt DATE, f FLOAT, "
                     "ts TIMESTAMP, m MONEY)"),
            "");
  for (const char* row : {"(1, 4, 'Smithsonian', 40000, 'abc', '1850-03-04', 1.5, '1850-03-04 10:30:00', 2.25)",
                          "(2, NULL, 'Ann', 7, '12', '1901-01-01', 2.0, '1901-01-01', 3)",
                          "(3, 400, NULL, NULL, NULL, NULL, NULL, NULL, NULL)",
                          "(4, 4, 'Bo', -3, '7', NULL, NULL, NULL, NULL)"})
    ASSERT_EQ(Run(std::string("INSERT INTO t VALUES ") + row), "OK 1");
  struct Refusal {
    const char* statement;
    const char* message;  // a part of it
  };
  const Refusal refusals[] = {
      {"ALTER TABLE t ADD r INTEGER NOT NULL", "Cannot add a NOT NULL column with default value NULL: column r"},
      {"ALTER TABLE t REDEFINE n NOT NULL", "column n in record 2 fails NOT NULL"},
      {"ALTER TABLE t REDEFINE n MAXIMUM 100", "column n in record 3 fails MAXIMUM 100"},
      {"ALTER TABLE t REDEFINE n MINIMUM 5", "column n in record 1 fails MINIMUM 5"},
      // A blank compares as zero against a limit.
      {"ALTER TABLE t REDEFINE n MINIMUM 4", "column n in record 2 fails MINIMUM 4"},
      {"ALTER TABLE t DROP c, REDEFINE n NOT NULL DEFAULT 0", "column n in record 2 fails NOT NULL"},
      {"ALTER TABLE t ADD PRIMARY KEY (n)", "record 4 has the key of another record in index 'PRIMARY'"},
      {"ALTER TABLE t ADD PRIMARY KEY (zz)", "Column zz not found"},
      {"ALTER TABLE t REDEFINE c CHAR(4)", "column c in record 1 does not convert to CHAR(4)"},
      {"ALTER TABLE t REDEFINE w SMALLINT", "column w in record 1 does not convert to SMALLINT"},
      {"ALTER TABLE t REDEFINE s INTEGER", "column s in record 1 does not convert to INTEGER"},
      {"ALTER TABLE t REDEFINE s ss INTEGER", "column s in record 1 does not convert to INTEGER"},
      {"ALTER TABLE t REDEFINE dt TIME", "column dt in record 1 does not convert to TIME"},
      {"ALTER TABLE t REDEFINE f INTEGER", "column f in record 1 does not convert to INTEGER"},
      {"ALTER TABLE t REDEFINE ts DATE", "column ts in record 1 does not convert to DATE"},
      {"ALTER TABLE t REDEFINE m DECIMAL(10, 1)", "column m in record 1 does not convert to DECIMAL with 1 decimals"},
  };
  const std::vector<std::string> rows = Dump("t");
  const auto files = TableFileBytes({"t"});
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.statement);
    const std::string error = RunError(r.statement);
    EXPECT_NE(error.find(r.message), std::string::npos) << error;
    EXPECT_EQ(Dump("t"), rows);
    EXPECT_TRUE(files == TableFileBytes({"t"}));
  }

  struct Change {
    const char* statement;
    std::vector<std::string> rows;  // sorted
  };
  const Change changes[] = {
      {"ALTER TABLE t DROP ts, DROP m",
       {"1|4|Smithsonian|40000|abc|675396|1.5", "2|NULL|Ann|7|12|693961|2", "3|400|NULL|NULL|NULL|NULL|NULL",
        "4|4|Bo|-3|7|NULL|NULL"}},
      {"ALTER TABLE t ADD r INTEGER NOT NULL DEFAULT 3, REDEFINE n MAXIMUM 400",
       {"1|4|Smithsonian|40000|abc|675396|1.5|3", "2|NULL|Ann|7|12|693961|2|3", "3|400|NULL|NULL|NULL|NULL|NULL|3",
        "4|4|Bo|-3|7|NULL|NULL|3"}},
      {"ALTER TABLE t REDEFINE c CHAR(11), REDEFINE s CHAR(3), REDEFINE w FLOAT, REDEFINE k SMALLINT",
       {"1|4|Smithsonian|40000|abc|675396|1.5|3", "2|NULL|Ann|7|12|693961|2|3", "3|400|NULL|NULL|NULL|NULL|NULL|3",
        "4|4|Bo|-3|7|NULL|NULL|3"}},
      {"ALTER TABLE t ADD PRIMARY KEY (k)",
       {"1|4|Smithsonian|40000|abc|675396|1.5|3", "2|NULL|Ann|7|12|693961|2|3", "3|400|NULL|NULL|NULL|NULL|NULL|3",
        "4|4|Bo|-3|7|NULL|NULL|3"}},
  };
  for (const Change& c : changes) {
    SCOPED_TRACE(c.statement);
    EXPECT_EQ(RunError(c.statement), "");
    EXPECT_EQ(Dump("t"), c.rows);
  }
  // An empty table takes a NOT NULL column without a default, as SQLite does.
  ASSERT_EQ(RunError("CREATE TABLE e (k INTEGER)"), "");
  EXPECT_EQ(RunError("ALTER TABLE e ADD r INTEGER NOT NULL"), "");
  // A time of day has no day to become a date or a timestamp; a column of
  // NULLs alone changes its type.
  ASSERT_EQ(RunError("CREATE TABLE h (k INTEGER, tm TIME, tn TIME)"), "");
  ASSERT_EQ(Run("INSERT INTO h VALUES (1, NULL, NULL)"), "OK 1");
  ASSERT_EQ(Run("INSERT INTO h VALUES (2, '10:00:00', NULL)"), "OK 1");
  const std::vector<std::string> times = Dump("h");
  for (const char* type : {"TIMESTAMP", "DATE"}) {
    const std::string error = RunError(std::string("ALTER TABLE h REDEFINE tm ") + type);
    EXPECT_NE(error.find(std::string("column tm in record 2 does not convert to ") + type), std::string::npos)
        << error;
    EXPECT_EQ(Dump("h"), times);
  }
  EXPECT_EQ(RunError("ALTER TABLE h REDEFINE tn TIMESTAMP"), "");
  EXPECT_EQ(RunError("ALTER TABLE h REDEFINE tm CHAR(8)"), "");
}

}  // namespace
}  // namespace korvex::testing

