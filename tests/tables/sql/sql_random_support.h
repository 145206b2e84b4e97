// Random tables and SQL statements written twice: in this engine's dialect
// and as their translation for SQLite (python3's sqlite3 answers it through
// sqlite_select.py). Shared by the differential tests of the SQL engine.
//
// Entry points:
//   TGenerator g(seed);
//   TSchema schema = g.Schema();          // 2 to 4 tables with rows
//   TSelect select = g.Select(schema);    // one SELECT, clause by clause
//   select.Ours() / select.Lite()         // the two texts
//   LoadTables(directory, schema, true)   // the rows in this engine
//   WriteSqliteTables(out, schema)        // the rows for sqlite_select.py
// Expressions and conditions over any set of sources come from
// TGenerator::Value and TGenerator::Condition, so statements of other kinds
// can be built from the same pieces.
//
// The translation bridges the dialect: = and <> are IS / IS NOT; other
// comparisons, LIKE and BETWEEN are wrapped in COALESCE(..., 0) (two-valued
// logic); IN lists become ORed IS tests; string functions are wrapped in
// NULLIF(..., '') and concatenation reads NULL as '' (its '' compares as a
// text, and is NULL once stored); division divides
// REALs; IF, POS, SUBSTRING and EXTRACT become iif, instr, substr and
// strftime; dates, times and timestamps are ISO texts; descending keys put
// NULLs first; x IN (SELECT c ...) is an EXISTS over c IS x.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "tables/engine/cursor/data_cursor.h"

namespace korvex::testing::sqlrand {

enum class TKind : std::uint8_t { SmallInt, Integer, Word, Float, Money, Char, Date, Time, TimeStamp, Boolean };

struct TColumn {
  std::string name;
  TKind kind;
  int size = 0;  // CHAR(n)
  bool nulls = false;
};

// One value: integers, booleans, day numbers and milliseconds of the day in
// `i`; floats, money and timestamps (milliseconds) in `f`; texts in `s`.
struct TValue {
  bool null = true;
  std::int64_t i = 0;
  double f = 0;
  std::string s;
};

struct TIndex {
  std::vector<int> fields;  // 0-based columns
  bool primary = false;
  bool descending = false;
  bool nocase = false;
};

struct TTable {
  std::string name;
  std::vector<TColumn> columns;
  std::vector<TIndex> indexes;  // built only where asked for
  std::vector<std::vector<TValue>> rows;
};

struct TSchema {
  std::vector<TTable> tables;
};

// An expression in both dialects.
struct TSql {
  std::string ours, lite;
};

// The value classes that compare with each other.
enum class TClass : std::uint8_t { Number, Text, Date, Time, TimeStamp, Boolean };
TClass ClassOf(TKind kind);

// A table of a FROM list under its correlation name.
struct TSource {
  const TTable* table;
  std::string alias;
};

struct TOrderItem {
  int column;  // 1-based result column
  bool descending;
};

struct TSelect {
  bool distinct = false;
  std::vector<TSql> columns;
  std::vector<TClass> column_classes;
  TSql from;
  std::vector<TSql> where;   // conjuncts
  std::vector<int> group_by;  // 1-based result columns
  std::vector<TSql> having;  // conjuncts
  std::vector<TOrderItem> order;
  bool nocase = false;
  std::string Ours() const;
  std::string Lite() const;
  std::string Text(bool lite) const;  // Lite() or Ours()
};

class TGenerator {
public:
  explicit TGenerator(std::uint32_t seed) : random_(seed) {}

  // 2 to 4 tables (columns of every kind, NULLs in about half of them), 0 to
  // max_rows rows each, an index or two per table.
  TSchema Schema(int max_rows = 300);
  TValue Value(const TColumn& column);
  TSql Literal(TKind kind, const TValue& value) const;

  // A SELECT over the schema within the dialect both engines share.
  TSelect Select(const TSchema& schema);

  // Expressions over `sources`: a value of the class, and a condition (with
  // IN (SELECT ...) only while a WHERE clause is made).
  TSql Value(const std::vector<TSource>& sources, TClass wanted, int depth);
  TSql Condition(const std::vector<TSource>& sources, int depth);

  // How often each construct was generated.
  const std::map<std::string, int>& Counters() const { return counters_; }
  std::mt19937& Random() { return random_; }

private:
  int Pick(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }
  void Count(const char* feature) { ++counters_[feature]; }
  // A column reference of one of the classes ("" when none).
  bool ColumnOf(const std::vector<TSource>& sources, TClass wanted, TSql& out, TKind* kind = nullptr);
  TSql Constant(TClass wanted);
  TSql Numeric(const std::vector<TSource>& sources, int depth, bool& word);
  TSql Text(const std::vector<TSource>& sources, int depth);
  TSql Comparison(const TSql& a, const TSql& b, bool ordered);
  TSql SubSelect(const std::vector<TSource>& sources);
  std::vector<TSource> From(const TSchema& schema, TSelect& select);

  std::mt19937 random_;
  std::map<std::string, int> counters_;
  bool sub_selects_ = false;  // only WHERE takes them, one deep
};

// Makes table `name` of `directory` with `fields` and `creation` and appends
// `rows` records of `columns` fields each: `put(row, column, data)` writes a
// field's bytes into `data` (zeroed) and answers false for NULL.
void FillTable(TDataDirectory* directory, const std::string& name, std::vector<TFieldDefinition> fields,
               const TTableCreation& creation, std::size_t rows, std::size_t columns,
               const std::function<bool(std::size_t row, std::size_t column, std::uint8_t* data)>& put);

// A number's bytes as a field of engine type `type` holds them: `i` in 2
// bytes (SmallInt, Word, Boolean) or 4 (Integer, Date, Time), else the double `f`.
void NumberBytes(std::uint8_t type, std::int64_t i, double f, std::uint8_t* data);

// The tables in this engine (every table replaced), with or without their
// indexes.
void LoadTables(TDataDirectory* directory, const TSchema& schema, bool with_indexes);

// The RESET, TABLE and ROW lines of sqlite_select.py for the schema.
void WriteSqliteTables(std::ostream& out, const TSchema& schema);

// A script for the sqlite3 command-line shell: the tables, their rows and
// the statement.
std::string SqliteScript(const TSchema& schema, const std::string& statement);

// A value as the answers of both engines are compared: "N", "I<n>",
// "F<double>" or "S<text>" (dates, times and timestamps as ISO texts).
std::string TaggedText(TKind kind, const TValue& value);
std::string IsoDate(std::int64_t day);
std::string IsoTime(std::int64_t milliseconds);

}  // namespace korvex::testing::sqlrand
