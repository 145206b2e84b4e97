// Live SELECT results: which queries the table's own cursor answers, which
// index serves their ORDER BY, and that every answer equals the one a
// result table gives; editing through a live result, its filters after
// edits, its calculated columns, and copies of what a result shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "support/temp_dir.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"
#include "tables/sql/live_result.h"
#include "tables/sql/statement.h"
#include "tests/tables/sql/dml_test_support.h"
#include "tests/tables/sql/sql_session_fixture.h"
#include "tests/tables/sql/sql_test_support.h"

namespace korvex::testing {
namespace {

// A row as "v|v|..." (blank: NULL), hidden fields left out.
std::string RowText(TDataCursor& cursor, std::uint8_t* record) {
  std::string line;
  for (int i = 1; i <= cursor.GetFieldCount(); ++i)
    if (!cursor.GetFieldDefinitionByPos(i).Hidden) line += (line.empty() ? "" : "|") + FieldText(cursor, i, record);
  return line;
}

std::vector<std::string> AllRows(TDataCursor& cursor) {
  std::vector<std::string> rows;
  std::vector<std::uint8_t> record(cursor.GetRecordSize());
  cursor.SetToBegin();
  while (cursor.GetNextRecord(record.data()) == 0) rows.push_back(RowText(cursor, record.data()));
  return rows;
}

struct TRun {
  std::string error;
  bool live = false;
  int index = kNoLiveOrderByIndex;
  std::int32_t affected = 0;
  std::vector<std::string> rows;  // in the result's order
};

class LiveResultTest : public SqlSessionTest {
protected:
  void SetUp() override {
    SqlSessionTest::SetUp();
    // T: a primary key, names with case twins and blanks, numbers with
    // blanks, a required number; indexes 1..4 in this order.
    for (const char* text :
         {"CREATE TABLE T (Id INTEGER, Name CHAR(12), Num INTEGER, Req INTEGER NOT NULL, PRIMARY KEY (Id))",
          "CREATE INDEX ByName ON T (Name)", "CREATE NOCASE INDEX ByNameNc ON T (Name)",
          "CREATE DESC INDEX ByNumDesc ON T (Num)", "CREATE DESC INDEX ByReqDesc ON T (Req)",
          "CREATE INDEX ByNumName ON T (Num, Name)", "CREATE TABLE U (Id INTEGER, W INTEGER)"})
      ASSERT_EQ(ExecuteError(dir_, text), "") << text;
    const char* names[] = {"adam", "Adam", "", "bert", "Carl", "carl", "dora", "", "Emil", "fritz"};
    for (int i = 1; i <= 30; ++i) {
      const std::string name = names[i % 10][0] ? std::string("'") + names[i % 10] + std::to_string(i / 10) + "'" : "''";
      const std::string num = i % 7 == 0 ? "NULL" : std::to_string((i * 5) % 11);
      ASSERT_EQ(ExecuteError(dir_, "INSERT INTO T VALUES (" + std::to_string(i) + ", " + name + ", " + num + ", " +
                                       std::to_string(100 - i % 13) + ")"),
                "");
      if (i % 3 == 0) {
        ASSERT_EQ(ExecuteError(dir_, "INSERT INTO U VALUES (" + std::to_string(i) + ", " + std::to_string(i % 4) + ")"), "");
      }
    }
  }
  // Prepares and executes `text` on `statement` with a live result wanted.
  TDataCursor* OpenLive(TQueryStatement& statement, const std::string& text) {
    statement.SetWantLiveResult(true);
    TDataCursor* result = Execute(statement, text);
    return result;
  }

  TRun Run(const std::string& text, bool live, std::int32_t max_rows = -1) {
    TRun run;
    try {
      TQueryStatement statement(dir_);
      statement.SetWantLiveResult(live);
      statement.SetMaxNumOfRows(max_rows);
      TDataCursor* result = Execute(statement, text);
      run.live = statement.GetIsLiveResult();
      EXPECT_EQ(run.live, statement.GetInPlaceResult());
      run.index = statement.MainQuery()->LiveOrderByIndex;
      run.affected = statement.GetRowsAffected();
      if (result) run.rows = AllRows(*result);
    } catch (const std::exception& e) {
      run.error = e.what();
    }
    return run;
  }

};

// Each query with a live result wanted and without one: the decision, the
// serving index (0 the primary one, then the secondary indexes in creation
// order, 255 none) and equal answers (the same list under a total order,
// the same leading key sequence under ORDER BY, else the same multiset).
TEST_F(LiveResultTest, DecisionsAndAnswersAgreeWithResultTables) {
  constexpr int kNone = kNoLiveOrderByIndex;
  struct Case {
    const char* text;
    bool live;
    int index;
    std::int32_t max_rows = -1;
    bool total_order = false;
  } cases[] = {
      {"SELECT * FROM T", true, kNone},
      {"SELECT Name, Num FROM T WHERE Num > 3 AND Name LIKE '%a%'", true, kNone},
      {"SELECT Id, Num * 2 AS Twice, UPPER(Name) AS Loud, Num / 4 FROM T WHERE Id <= 20", true, kNone},
      {"SELECT Name, Name, Id FROM T", true, kNone},  // the second Name is calculated
      {"SELECT Id FROM T WHERE 1 = 0", true, kNone},
      {"SELECT Id FROM T WHERE Num IS NULL OR Id BETWEEN 3 AND 5", true, kNone},
      {"SELECT * FROM T ORDER BY Id", true, 0, -1, true},
      {"SELECT Id, Name FROM T ORDER BY 1", true, 0, -1, true},
      {"SELECT Name, Id FROM T ORDER BY Name", true, 1},
      {"SELECT Name, Id FROM T WHERE Num < 8 ORDER BY Name NOCASE", true, 2},
      {"SELECT Num, Name FROM T ORDER BY Num", true, 5},  // leads ByNumName
      {"SELECT Num, Name FROM T ORDER BY Num, Name", true, 5},
      {"SELECT Req, Id FROM T ORDER BY Req DESC", true, 4},  // required: no blanks to place
      {"SELECT Name FROM T ORDER BY Name DESC", false, kNone},           // no index that way
      {"SELECT Num FROM T ORDER BY Num DESC", false, kNone},             // blanks would come last
      {"SELECT Num, Name FROM T ORDER BY Num, Name NOCASE", false, kNone},  // ByNumName keeps case
      {"SELECT Name, Num FROM T ORDER BY Name, Num", false, kNone},      // no index leads so
      {"SELECT Num * 2 FROM T ORDER BY 1", false, kNone},                // an expression key
      {"SELECT Id, Name FROM T ORDER BY Id DESC", false, kNone},
      {"SELECT T.Name, U.W FROM T, U WHERE T.Id = U.Id ORDER BY 1", false, kNone},
      {"SELECT T.Id FROM T JOIN U ON T.Id = U.Id", false, kNone},
      {"SELECT DISTINCT Num FROM T", false, kNone},
      {"SELECT Num, COUNT(*) FROM T GROUP BY Num", false, kNone},
      {"SELECT COUNT(*) FROM T", false, kNone},
      {"SELECT SUM(Num) FROM T WHERE Id > 4", false, kNone},
      {"SELECT Name FROM T WHERE Id IN (SELECT Id FROM U)", false, kNone},
      {"SELECT Id FROM T ORDER BY Id", false, kNone, 5, true},  // a row limit
      {"SELECT Id FROM T", false, kNone, 0},
      // Sorting and comparing in another language than the table's.
      {"SELECT Id, Name FROM T LANGUAGE 'Danish'", true, kNone},
      {"SELECT Id, Name FROM T WHERE Name > 'b' LANGUAGE 'Danish'", false, kNone},
      {"SELECT Name FROM T ORDER BY Name LANGUAGE 'Danish'", false, kNone},
      {"SELECT Id, Name FROM T ORDER BY Id LANGUAGE 'Danish'", true, 0, -1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const TRun live = Run(c.text, true, c.max_rows);
    const TRun copied = Run(c.text, false, c.max_rows);
    ASSERT_EQ(live.error, "");
    ASSERT_EQ(copied.error, "");
    EXPECT_EQ(live.live, c.live);
    EXPECT_FALSE(copied.live);
    EXPECT_EQ(live.index, c.live ? c.index : kNone);
    EXPECT_EQ(live.affected, static_cast<std::int32_t>(live.rows.size()));
    EXPECT_EQ(copied.affected, static_cast<std::int32_t>(copied.rows.size()));
    if (c.max_rows >= 0) {
      EXPECT_EQ(live.rows.size(), static_cast<std::size_t>(std::min(c.max_rows, 30)));
    }
    if (c.total_order) {
      EXPECT_EQ(live.rows, copied.rows);
      continue;
    }
    if (c.index != kNone) {
      // Ties may come in another order; the first column is the key.
      auto first = [](std::vector<std::string> rows) {
        for (std::string& r : rows) r = r.substr(0, r.find('|'));
        return rows;
      };
      EXPECT_EQ(first(live.rows), first(copied.rows));
    }
    std::vector<std::string> a = live.rows, b = copied.rows;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_EQ(a, b);
  }
}

// A live answer narrows as its WHERE says after edits made through it and
// by other cursors; its calculated columns follow the stored ones; the
// table sees every edit; a copy holds what the result shows.
// A live result maps the table's fields with their defaults and limits:
// date, time and timestamp texts read in the table's formats, whatever
// formats are in force while the statement runs.
TEST_F(LiveResultTest, DateAndTimeColumnsWithDefaultsAndLimitsStayLive) {
  {
    ASSERT_EQ(ExecuteError(dir_, std::string("CREATE TABLE D (k INTEGER, d DATE DEFAULT '1800-01-01' MIN '1700-01-01' "
                                             "MAX '1999-12-31', t TIME DEFAULT '10:30:00' MIN '08:00:00' MAX "
                                             "'20:00:00', ts TIMESTAMP DEFAULT '1800-01-01 10:30:00' MIN "
                                             "'1700-01-01' MAX '1999-12-31 23:00:00')")),
              "");
    ASSERT_EQ(ExecuteError(dir_, "INSERT INTO D (k) VALUES (1)"), "");
    for (const char* text : {"SELECT k, d FROM D", "SELECT k, t FROM D", "SELECT k, ts FROM D", "SELECT * FROM D",
                             "SELECT k, d, t, ts FROM D WHERE k = 1"}) {
      SCOPED_TRACE(text);
      const TRun live = Run(text, true), copied = Run(text, false);
      EXPECT_EQ(live.error, "");
      EXPECT_TRUE(live.live);
      EXPECT_EQ(live.rows, copied.rows);
      EXPECT_EQ(live.rows.size(), 1u);
    }
  }
}

TEST_F(LiveResultTest, EditsThroughTheResultReachTheTable) {
  {
    TQueryStatement early(dir_);
    std::int32_t position = 0;
    early.PrepareStatement("SELECT Id FROM T", position);
    EXPECT_THROW(early.SaveResultToTable("Early"), EKORVEXEngineError);
  }
  TQueryStatement statement(dir_);
  TDataCursor* result = OpenLive(statement, "SELECT Id, Num * 10 AS Big, Num, Req FROM T WHERE Num >= 5 ORDER BY Id");
  ASSERT_TRUE(result && statement.GetIsLiveResult());
  ASSERT_FALSE(result->GetReadOnly());
  auto field = [](const std::string& row, int n) {
    std::size_t at = 0;
    for (int i = 0; i < n; ++i) at = row.find('|', at) + 1;
    return row.substr(at, row.find('|', at) - at);
  };
  const std::vector<std::string> before = AllRows(*result);
  ASSERT_GE(before.size(), 3u);
  for (const std::string& row : before) EXPECT_GE(std::stoi(field(row, 2)), 5) << row;

  // Change the first row's Num through the result: Big follows.
  std::vector<std::uint8_t> record(result->GetRecordSize());
  result->SetToBegin();
  ASSERT_EQ(result->GetNextRecord(record.data()), 0);
  std::int32_t nine = 9, big = 0;
  result->PutField(3, record.data(), reinterpret_cast<const std::uint8_t*>(&nine));
  EXPECT_FALSE(result->GetField(2, record.data(), reinterpret_cast<std::uint8_t*>(&big)));
  EXPECT_EQ(big, 90);
  result->ModifyRecord(record.data(), true);
  // Delete the second row; append a row that passes the WHERE and one that
  // does not.
  ASSERT_EQ(result->GetNextRecord(record.data()), 0);
  const std::string deleted = RowText(*result, record.data());
  result->DeleteRecord(record.data());
  for (std::int32_t id : {500, 501}) {
    result->ClearRecord(record.data());
    std::int32_t num = id == 500 ? 7 : 1, req = 3;
    result->PutField(1, record.data(), reinterpret_cast<const std::uint8_t*>(&id));
    result->PutField(3, record.data(), reinterpret_cast<const std::uint8_t*>(&num));
    result->PutField(4, record.data(), reinterpret_cast<const std::uint8_t*>(&req));
    result->AppendRecord(record.data());
  }
  // A required field left out of the result cannot be given: the append is
  // refused and nothing is written.
  {
    TQueryStatement narrow(dir_);
    TDataCursor* ids = OpenLive(narrow, "SELECT Id FROM T");
    ASSERT_TRUE(narrow.GetIsLiveResult());
    std::vector<std::uint8_t> row(ids->GetRecordSize());
    ids->ClearRecord(row.data());
    std::int32_t id = 600;
    ids->PutField(1, row.data(), reinterpret_cast<const std::uint8_t*>(&id));
    EXPECT_THROW(ids->AppendRecord(row.data()), EKORVEXEngineError);
  }

  std::vector<std::string> want = before;
  want[0] = field(before[0], 0) + "|90|9|" + field(before[0], 3);
  want.erase(std::find(want.begin(), want.end(), deleted));
  want.push_back("500|70|7|3");  // 501 fails Num >= 5
  result->Refresh();
  EXPECT_EQ(AllRows(*result), want);
  EXPECT_EQ(result->GetRecordCount(), want.size());

  // The table itself.
  const std::string first_id = field(before[0], 0), deleted_id = field(deleted, 0);
  EXPECT_EQ(Run("SELECT Id, Num FROM T WHERE Id = " + first_id + " OR Id >= 500 ORDER BY Id", false).rows,
            (std::vector<std::string>{first_id + "|9", "500|7", "501|1"}));
  EXPECT_EQ(Run("SELECT Id FROM T WHERE Id = " + deleted_id + " OR Id = 600", false).rows.size(), 0u);

  // A copy of what the result shows, calculated values stored.
  statement.SaveResultToTable("Shown");
  EXPECT_EQ(Run("SELECT * FROM Shown", false).rows, want);
  // Executing again builds the filters again.
  statement.ExecuteStatement(result);
  EXPECT_EQ(AllRows(*result), want);
  EXPECT_EQ(statement.GetRowsAffected(), static_cast<std::int32_t>(want.size()));
}

// A row limit set after preparing: the next execution answers with a
// result table that holds the limit.
TEST_F(LiveResultTest, ARowLimitSetLaterEndsTheLiveAnswer) {
  TQueryStatement statement(dir_);
  TDataCursor* result = OpenLive(statement, "SELECT Id FROM T ORDER BY Id");
  EXPECT_TRUE(statement.GetIsLiveResult());
  EXPECT_EQ(AllRows(*result).size(), 30u);
  statement.SetMaxNumOfRows(4);
  statement.ExecuteStatement(result);
  EXPECT_FALSE(statement.GetIsLiveResult());
  EXPECT_EQ(AllRows(*result), (std::vector<std::string>{"1", "2", "3", "4"}));
}

// A saved result holds the rows its cursor shows (filters and order kept),
// BLOBs by content, and no hidden field.
TEST_F(LiveResultTest, SavedRowsCopyBlobsAndLeaveHiddenFieldsOut) {
  std::vector<TFieldDefinition> fields(4);
  const char* names[] = {"Id", "Memo", "Secret", "Tag"};
  const std::uint8_t types[] = {dtInteger, dtBlob, dtInteger, dtString};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    fields[i].Name = names[i];
    fields[i].DataType = types[i];
  }
  fields[1].SubType = fstMemo;
  fields[2].Hidden = 1;
  fields[3].Size = 6;
  TDataCursor source(dir_);
  source.SetTableName("B");
  source.SetExclusive(true);
  TTableCreation creation;
  source.CreateTable(creation, fields);
  source.OpenCursor();
  std::vector<std::uint8_t> record(source.GetRecordSize());
  std::vector<std::string> want;
  for (std::int32_t id = 1; id <= 6; ++id) {
    source.ClearRecord(record.data());
    const std::string memo = id == 4 ? "" : std::string(static_cast<std::size_t>(id) * 700, static_cast<char>('a' + id));
    source.PutField(1, record.data(), reinterpret_cast<const std::uint8_t*>(&id));
    source.PutField(3, record.data(), reinterpret_cast<const std::uint8_t*>(&id));
    source.PutField(4, record.data(), reinterpret_cast<const std::uint8_t*>(id % 2 ? "odd" : "even"));
    if (!memo.empty()) {
      ASSERT_EQ(source.OpenBlob(2, record.data(), 2), 0);
      ASSERT_EQ(source.PutBlob(2, record.data(), 0, reinterpret_cast<const std::uint8_t*>(memo.data()),
                               static_cast<std::int64_t>(memo.size())),
                0);
    }
    source.AppendRecord(record.data());
    if (id > 2) want.push_back(std::to_string(id) + "|" + (memo.empty() ? "NULL" : memo) + "|" + (id % 2 ? "odd" : "even"));
  }
  TFilter* filter = source.AddFilter(0, "Id > 2", nullptr, false, nullptr, {});
  source.ActivateFilter(filter);
  std::uint32_t reports = 0;
  SaveResultRows(source, dir_, "BCopy", [&](std::uint32_t rows, std::uint16_t percent) {
    ++reports;
    EXPECT_EQ(percent, rows * 100 / 4);
  });
  EXPECT_EQ(reports, 4u);
  source.CloseCursor();
  TDataCursor copy(dir_);
  copy.SetTableName("BCopy");
  copy.OpenCursor();
  ASSERT_EQ(copy.GetFieldCount(), 3);
  EXPECT_EQ(copy.GetFieldDefinitionByPos(3).Name, "Tag");
  std::vector<std::string> got;
  std::vector<std::uint8_t> row(copy.GetRecordSize());
  copy.SetToBegin();
  while (copy.GetNextRecord(row.data()) == 0)
    got.push_back(FieldText(copy, 1, row.data()) + "|" + FieldText(copy, 2, row.data()) + "|" +
                  FieldText(copy, 3, row.data()));
  EXPECT_EQ(got, want);
  copy.CloseCursor();
}

}  // namespace
}  // namespace korvex::testing
