// Shared pieces of the tests of statements that change tables: a fixture
// with a session on a fresh directory, the two tables the differential
// runs use, statements run to their outcome, table dumps, the bytes of the
// table files, and SQLite's answers for a python3 program.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_session.h"
#include "tests/tables/sql/sql_test_support.h"

namespace korvex::testing {

// Printed by the python3 program: `dump(table)` writes the table's rows,
// sorted, one per line (fields joined by '|', NULL for none, floats as
// %.9g), then a line "--".
extern const char* const kSqliteDump;

class DmlTest : public SqlTest {
protected:
  void SetUp() override;
  void TearDown() override;

  // P: Id INTEGER (primary key), A INTEGER, S CHAR(8), F FLOAT, M memo.
  // N: Id INTEGER, A INTEGER, S CHAR(8), F FLOAT, without keys.
  void MakeDmlTables();
  void DropDmlTables();

  // "OK <rows affected>" or "ERR".
  std::string Run(const std::string& text);
  // The message of the error the statement raises; "" when it runs.
  std::string RunError(const std::string& text);
  // The table's rows as text, sorted.
  std::vector<std::string> Dump(const std::string& table);
  // The bytes of the tables' files (.DAT, .IDX, .BLB), by file name.
  std::map<std::string, std::string> TableFileBytes(const std::vector<std::string>& tables) const;
  // Whether "x IN (SELECT ...)" is answered.
  bool SubSelectsSupported();

  struct Answer {
    std::string outcome;  // "OK <rows>" or "ERR"
    std::vector<std::vector<std::string>> tables;
  };
  // Runs a program that prints, per statement, its outcome line and then
  // dumps; `tables` dumps follow each outcome.
  std::vector<Answer> SqliteAnswers(const std::string& program, std::size_t tables = 2);

  std::string path_;
  std::unique_ptr<TDataSession> session_;
  TDataDirectory* dir_ = nullptr;
};

// The text of one field of a record ("NULL" for a blank; memo text read
// whole).
std::string FieldText(TDataCursor& cursor, int field, std::uint8_t* record);

// The rows of a result in its order, the visible fields' texts joined by
// '|'.
std::vector<std::string> ResultRows(TDataCursor& result);

}  // namespace korvex::testing
