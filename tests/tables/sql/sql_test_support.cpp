#include "tests/tables/sql/sql_test_support.h"

#include "tables/engine/errors/engine_error.h"
#include "tables/lib/exptoken.h"
#include "tables/sql/model_dump.h"

namespace korvex::testing {

namespace {

// The dump of the prepared statement, or the message of the engine error
// that preparing raised.
std::string Prepare(const std::string& text, TSessionLocale locale, bool& failed) {
  TQueryStatement statement(nullptr, locale);
  std::int32_t position = 0;
  failed = false;
  try {
    statement.PrepareStatement(text, position);
  } catch (const EKORVEXEngineError& e) {
    failed = true;
    return e.what();
  }
  return DumpStatement(statement);
}

}  // namespace

std::string ParseDump(const std::string& text, TSessionLocale locale) {
  bool failed;
  std::string answer = Prepare(text, locale, failed);
  return failed ? "error: " + answer : answer;
}

std::string PrepareError(const std::string& text, TSessionLocale locale) {
  bool failed;
  std::string answer = Prepare(text, locale, failed);
  return failed ? answer : "";
}

TDataCursor* Execute(TQueryStatement& statement, const std::string& text) {
  std::int32_t position = 0;
  statement.PrepareStatement(text, position);
  TDataCursor* result = nullptr;
  statement.ExecuteStatement(result);
  return result;
}

std::string ExecuteError(TDataDirectory* directory, const std::string& text) {
  try {
    TQueryStatement statement(directory);
    Execute(statement, text);
    return {};
  } catch (const EKORVEXEngineError& e) {
    return e.what();
  }
}

}  // namespace korvex::testing
