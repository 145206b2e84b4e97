// Shared helpers of the SQL tests: a fixture that checks that no expression
// node and no counted byte is left behind, and short forms that parse a
// statement into its model dump or into the message the caller sees.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tables/lib/records_bitmap.h"
#include "tables/lib/support.h"
#include "tables/sql/statement.h"
#include "tests/tables/lib/expr_test_support.h"

namespace korvex::testing {

// No expression node and no counted byte may be left behind. The spare
// bitmaps that filters give back to their pool are kept for reuse, not left
// behind: the pool is emptied before both counts.
class SqlTest : public ExprTest {
protected:
  void SetUp() override {
    FreeSpareBitmaps();
    ExprTest::SetUp();
  }
  void TearDown() override {
    FreeSpareBitmaps();
    ExprTest::TearDown();
  }

private:
  static void FreeSpareBitmaps() {
    if (SupportFunctionsInitialized()) FreeAllRecordsBitmaps();
  }
};

// The dump of the statement that `text` holds (a failure shows as the
// exception's message, prefixed "error: ").
std::string ParseDump(const std::string& text, TSessionLocale locale = {});

// The message of the engine error that preparing `text` raises; "" when it
// prepares.
std::string PrepareError(const std::string& text, TSessionLocale locale = {});

// Prepares `text` on `statement` and executes it; the result cursor (none
// for a statement without a result).
TDataCursor* Execute(TQueryStatement& statement, const std::string& text);

// The message of the engine error that preparing and executing `text` on
// `directory` raises; "" when it runs.
std::string ExecuteError(TDataDirectory* directory, const std::string& text);

inline const std::string kSqlPrefix = "KORVEX Engine Error # 11949 SQL error - ";

}  // namespace korvex::testing
