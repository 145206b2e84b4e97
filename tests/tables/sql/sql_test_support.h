// Shared helpers of the SQL tests: a fixture that checks that no expression
// node and no counted byte is left behind, and short forms that parse a
// statement into its model dump or into the message the caller sees.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tables/sql/statement.h"

namespace korvex::testing {

class SqlTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

private:
  std::int64_t memory_ = 0;
  std::int64_t nodes_ = 0;
};

// The dump of the statement that `text` holds (a failure shows as the
// exception's message, prefixed "error: ").
std::string ParseDump(const std::string& text, TSessionLocale locale = {});

// The message of the engine error that preparing `text` raises; "" when it
// prepares.
std::string ParseError(const std::string& text, TSessionLocale locale = {});

inline const std::string kSqlPrefix = "KORVEX Engine Error # 11949 SQL error - ";

}  // namespace korvex::testing
