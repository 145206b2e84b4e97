// What the expression parser, checker and evaluator need of the SQL layer.
//
// A sub-select ("x IN (SELECT ...)") is parsed, checked and answered by a
// query object of the SQL statement that owns the parser. The SQL layer's
// statement implements TExpressionOwner and its queries implement
// TSubSelectQuery; without an owner a sub-select is refused with "Sub-select
// queries are not allowed in ..." and "?" parameters are only marked.
#pragma once

#include <cstdint>

namespace korvex {

class TExpToken;

class TSubSelectQuery {
public:
  virtual ~TSubSelectQuery() = default;

  // Parses one SELECT from the owner's parser at its current token and
  // leaves the parser at the first token after it. Fails through
  // RaiseError.
  virtual void ParseQuery(bool sub_select) = 0;

  // Number of selected columns (the checker refuses more than one).
  virtual int SelectedColumnCount() const = 0;

  // Types the single selected column for `node` (data type, sub type, data
  // size, scale); false when the column is not valid.
  virtual bool VerifySubSelectFieldData(TExpToken* node) = 0;

  // Builds (first call) or replaces (later calls) the filter of the result
  // cursor from `comparison`, an eoEQ node whose left is the tested value
  // and whose right is the evaluated sub-select.
  virtual void BuildSubSelectFilter(TExpToken* comparison) = 0;

  // Records the result cursor presents under its filter.
  virtual std::int32_t GetResultRecordCount() = 0;
};

class TExpressionOwner {
public:
  virtual ~TExpressionOwner() = default;

  // A new query of this statement, already appended to its queries (the
  // statement owns it), marked to want a live result.
  virtual TSubSelectQuery* NewSubSelectQuery() = 0;

  // Parameter nodes ("?") are registered as the parser makes them. When a
  // parse fails, the nodes it registered are removed again before the
  // unfinished tree is freed.
  virtual void AddParameter(TExpToken* node) = 0;
  virtual void RemoveParameter(TExpToken* node) = 0;
};

}  // namespace korvex
