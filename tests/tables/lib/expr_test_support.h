// Shared helpers of the expression tests: a fixture that checks that no node
// and no counted byte is left behind, a small in-memory table whose columns
// the checker and the evaluator reach through the library's callbacks, and
// short forms of parse, check, evaluate and prepare.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tables/lib/expcheck.h"
#include "tables/lib/expeval.h"
#include "tables/lib/expfilter.h"
#include "tables/lib/expparser.h"
#include "tables/lib/exptoken.h"

namespace korvex::testing {

// Every expression test derives from this: at the end no node may be held
// outside the pool, and with the pool emptied the counted allocator must be
// back where it was.
class ExprTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

private:
  std::int64_t memory_ = 0;
  std::int64_t nodes_ = 0;
};

constexpr TParseOptions kAllOptions =
    pmAllowAggregates | pmAllowAllFields | pmAllowExtPredicates | pmAllowParameters | pmAllowSubSelects;
constexpr TParseOptions kFilterOptions = pmAllowExtPredicates;

// A column of the test table.
struct Column {
  std::string name;
  std::uint8_t type;
  std::int32_t size = 0;  // 0: the type's own size (strings: 31)
  std::uint8_t scale = 0;
  std::uint8_t sub_type = 0;
};

// One value of a record: NULL, an integer (also booleans, dates, times,
// stored BCD forms), a double (floats, timestamps) or a text.
using Cell = std::variant<std::monostate, std::int64_t, double, std::string>;
using Record = std::vector<Cell>;

class Table {
public:
  explicit Table(std::vector<Column> columns) : columns_(std::move(columns)) {}

  const std::vector<Column>& Columns() const { return columns_; }
  int IndexOf(const std::string& name) const;

  // The callbacks the library calls (user data: the table).
  static bool Lookup(void* table, TExpToken* node);
  static bool Value(void* table, const void* record, TExpToken* result);

private:
  std::vector<Column> columns_;
};

// Parses a whole filter (nullptr for an empty text).
TExpToken* Parse(const std::string& text, TParseOptions options = kAllOptions);
// The message of the error the parser raises ("" when none).
std::string ParseError(const std::string& text, TParseOptions options = kAllOptions);

// Parses and checks against the table (error number 11949, name "test").
TExpToken* Checked(const Table& table, const std::string& text, TParseOptions options = kAllOptions);
std::string CheckError(const Table& table, const std::string& text, TParseOptions options = kAllOptions);

// Evaluates a tree over one record; the value node goes back to the pool.
struct Outcome {
  bool is_null = false;
  std::uint8_t type = 0;
  std::int64_t integer = 0;  // booleans, smallint, integer, word, date, time, BCD stored form
  double real = 0;           // float, timestamp
  std::string text;          // strings
};
Outcome Evaluate(const Table& table, const TExpToken* tree, const Record& record, TLocalePair locale = {});
// Parse, check and evaluate in one.
Outcome EvaluateText(const Table& table, const std::string& text, const Record& record = {});

// The message part of an engine error (what follows "SQL error - " or the
// filter prefix), or "" when `body` raised nothing.
std::string EngineMessage(const std::function<void()>& body);

// A table with one column of every type: S string(30), D date, B boolean,
// SI smallint, I integer, F float, BC BCD(2), T time, TS timestamp, W word,
// M memo, BL binary BLOB, BY bytes(8), MO money.
const Table& AllTypes();

}  // namespace korvex::testing
