// TQueryStatement: one SQL statement of the query component.
//
// The statement owns the expression parser that reads its text, the main
// query (item 0 of its data queries), the sub-select queries that parsing
// meets (appended in that order) and the list of its parameter nodes ("?"),
// in the order the parser made them. It is the expression parser's owner:
// the grammar asks it for a new query at "IN (SELECT" and registers every
// parameter node with it.
//
// A script runner calls PrepareStatement repeatedly on one text: each call
// reads one statement, up to and including its ";" (or to the end), and
// moves the caller's position past it. FindStatementEnd finds the same end
// without parsing.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tables/engine/files/field_definition.h"
#include "tables/lib/expparser.h"
#include "tables/lib/subselect.h"
#include "tables/sql/data_query.h"

namespace korvex {

// The query component's StatementType. Its order is not the order of the
// statement kinds (see StatementTypeOfKind).
enum TSQLStatementType : std::uint8_t {
  stUnknown,
  stSelect,
  stInsert,
  stUpdate,
  stDelete,
  stCreateTable,
  stCreateIndex,
  stAlterTable,
  stDropIndex,
  stDropTable,
};

TSQLStatementType StatementTypeOfKind(int kind);

// The language and sort IDs of the session the statement runs in: numbers,
// dates and times in the SQL text are read in their formats.
struct TSessionLocale {
  std::uint16_t LanguageID = 0;
  std::uint16_t SortID = 0;
};

// The offset just after the first ";" at or after `position` that stands
// outside quoted strings, bracketed names and comments; the text's length
// when there is none. A position beyond the text answers the text's length.
std::size_t FindStatementEnd(std::string_view text, std::size_t position);

// A BLOB parameter in a parameter record buffer: the flag byte (0 = NULL),
// the data's length (32 bits) and a pointer to the data, in native byte
// order. The layout never leaves memory.
inline constexpr std::size_t kBlobParameterSize = 1 + 4 + sizeof(const void*);
void WriteBlobParameter(std::uint8_t* field, const void* data, std::int32_t length, bool is_null = false);
void ReadBlobParameter(const std::uint8_t* field, const void*& data, std::int32_t& length, bool& is_null);

// Whole milliseconds between two readings of the steady clock, in seconds.
double ElapsedSeconds(std::chrono::steady_clock::time_point before, std::chrono::steady_clock::time_point after);

class TQueryStatement : public TCountedObject, public TExpressionOwner {
public:
  explicit TQueryStatement(TDataDirectory* directory, TSessionLocale locale = {});
  ~TQueryStatement() override;
  TQueryStatement(const TQueryStatement&) = delete;
  TQueryStatement& operator=(const TQueryStatement&) = delete;

  // Reads the statement that starts at `position` of `text`, prepares its
  // queries (sub-selects before the queries that hold them) and moves
  // `position` to the first token after it. On failure nothing of the
  // statement is kept (the main query is empty again, sub-select queries and
  // parameter nodes are gone) and `position` is unchanged.
  void PrepareStatement(std::string_view text, std::int32_t& position);

  // Executes the sub-selects from the last to the second, then the main
  // query. The result cursor (SELECT only) stays owned by the query. A
  // parameter node that was never given a value raises 11949 "Internal
  // parameter error".
  void ExecuteStatement(TDataCursor*& result);

  // Gives the i-th parameter node the value of the i-th field of a record:
  // its data type, sub type, size and scale from the definition, NULL when
  // the flag byte at the field's offset is 0, else the bytes after it. A
  // BLOB parameter holds a length and a pointer (WriteBlobParameter); a
  // memo of at most 250 characters becomes a string value. Conditions are
  // checked with these types when the statement runs. A definition beyond
  // the parameter nodes raises 11949 "Internal parameter error" (the ones
  // before it are bound).
  void SetStatementParameters(std::int32_t count, const TFieldDefinition* definitions,
                              const std::uint8_t* record_buffer);

  // Marks the first `count` parameter nodes as given values without
  // changing them (their values come from elsewhere). Raises 11949
  // "Internal parameter error" when `count` exceeds the number of nodes.
  void MarkParametersBound(std::int32_t count);

  std::uint8_t GetStatementType() const;  // the main query's kind
  double GetExecutionTime() const;
  bool GetIsLiveResult() const;
  bool GetInPlaceResult() const;
  bool GetWantLiveResult() const;
  void SetWantLiveResult(bool value);
  std::int32_t GetMaxNumOfRows() const;
  void SetMaxNumOfRows(std::int32_t value);
  std::int32_t GetRowsAffected() const;
  void SetPasswordCallback(TPasswordCallback callback, void* user_data);
  void SetQueryProgressCallback(TQueryProgressCallback callback, void* user_data);
  // Copies the rows the main query's result shows (a live result: the rows
  // of its table that pass its filters) into a new table of the
  // statement's directory that replaces any of that name; hidden fields are
  // left out, BLOBs copied. Raises 11949 without an executed SELECT.
  // `progress` hears rows copied and percent done.
  void SaveResultToTable(const std::string& name,
                         const std::function<void(std::uint32_t, std::uint16_t)>& progress = {});

  void AddDataQuery(TDataQuery* query);

  // TExpressionOwner.
  TSubSelectQuery* NewSubSelectQuery() override;
  void AddParameter(TExpToken* node) override;
  void RemoveParameter(TExpToken* node) override;

  TDataDirectory* DataDirectory() const { return directory_; }
  TExpressionParser& Parser() { return parser_; }
  const TSessionLocale& Locale() const { return locale_; }
  TDataQuery* MainQuery() const { return queries_.Empty() ? nullptr : queries_[0]; }
  const TOwnedList<TDataQuery>& DataQueries() const { return queries_; }
  const std::vector<TExpToken*>& Parameters() const { return parameters_; }

  // Counts the queries being parsed inside each other (sub-selects in
  // sub-selects); beyond kMaxQueryNesting raises 11949 "Sub-select queries
  // nested too deeply", so that no text can exhaust the stack.
  class NestingScope {
  public:
    explicit NestingScope(TQueryStatement& statement);
    ~NestingScope() { --statement_.nesting_; }
    NestingScope(const NestingScope&) = delete;
    NestingScope& operator=(const NestingScope&) = delete;

  private:
    TQueryStatement& statement_;
  };
  static constexpr int kMaxQueryNesting = 64;

  // Called with the query's index in DataQueries before each query is
  // prepared (`executing` false) or executed (true); for tests of the order.
  std::function<void(bool executing, int index)> StepHook;

private:
  void DropSubSelectQueries();

  TDataDirectory* directory_;
  TSessionLocale locale_;
  TExpressionParser parser_;
  TOwnedList<TDataQuery> queries_;
  std::vector<TExpToken*> parameters_;  // not owned: the trees hold them
  std::int32_t bound_parameters_ = 0;
  int nesting_ = 0;
};

}  // namespace korvex
