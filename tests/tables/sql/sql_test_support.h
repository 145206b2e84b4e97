// Shared helpers of the SQL tests: a fixture that checks that no expression
// node and no counted byte is left behind, and short forms that parse a
// statement into its model dump or into the message the caller sees.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tables/sql/statement.h"
#include "tests/tables/lib/expr_test_support.h"

namespace korvex::testing {

// No expression node and no counted byte may be left behind.
class SqlTest : public ExprTest {};

// The dump of the statement that `text` holds (a failure shows as the
// exception's message, prefixed "error: ").
std::string ParseDump(const std::string& text, TSessionLocale locale = {});

// The message of the engine error that preparing `text` raises; "" when it
// prepares.
std::string PrepareError(const std::string& text, TSessionLocale locale = {});

// The message of the engine error that preparing and executing `text` on
// `directory` raises; "" when it runs.
std::string ExecuteError(TDataDirectory* directory, const std::string& text);

inline const std::string kSqlPrefix = "KORVEX Engine Error # 11949 SQL error - ";

}  // namespace korvex::testing
