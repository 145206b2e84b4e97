#include "tests/tables/sql/sql_test_support.h"

#include "tables/engine/engine_error.h"
#include "tables/lib/exptoken.h"
#include "tables/sql/model_dump.h"

namespace korvex::testing {

void SqlTest::SetUp() {
  FreeAllExpTokens();
  memory_ = GetTotalMemoryAllocated();
  nodes_ = ExpTokensInUse();
}

void SqlTest::TearDown() {
  EXPECT_EQ(ExpTokensInUse(), nodes_) << "expression nodes were not given back to the pool";
  FreeAllExpTokens();
  EXPECT_EQ(GetTotalMemoryAllocated(), memory_) << "bytes of the counted allocator left behind";
}

std::string ParseDump(const std::string& text, TSessionLocale locale) {
  TQueryStatement statement(nullptr, locale);
  std::int32_t position = 0;
  try {
    statement.PrepareStatement(text, position);
  } catch (const EKORVEXEngineError& e) {
    return std::string("error: ") + e.what();
  }
  return DumpStatement(statement);
}

std::string ParseError(const std::string& text, TSessionLocale locale) {
  TQueryStatement statement(nullptr, locale);
  std::int32_t position = 0;
  try {
    statement.PrepareStatement(text, position);
  } catch (const EKORVEXEngineError& e) {
    return e.what();
  }
  return "";
}

}  // namespace korvex::testing
