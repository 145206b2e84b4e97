// The WHERE conditions of one source table as filters of its cursor.
//
// A query's WHERE tree is split into conjuncts (SplitConjuncts: only AND
// splits; an OR or a NOT stays whole, so that a NOT over a comparison of two
// tables is tested on each pair and never becomes a join). A conjunct that
// names columns of one table only can be answered by that table's cursor:
// TWhereFilters turns such conditions into one active engine filter of the
// cursor, so that reading the cursor yields only the records that pass.
//
// The filters are made anew at every execution (Build) from the bound
// conditions, which the query never changes: each is copied and prepared
// (constant sides evaluated with the parameters' current values), then the
// engine's optimise level decides where it goes:
//  - pass Indexed: a condition that an index answers at least in part
//    becomes part of the filter; the rest is left to the caller, who tests
//    it on each record it reads (that is cheaper than the engine's own
//    record-by-record pass, which reads every record a second time);
//  - pass Everything: every condition the engine can take becomes part of
//    the filter (a live result over the table itself, or a count that must
//    come from the cursor without reading rows).
// What the engine cannot take is always left: conditions with a
// sub-select, a BLOB column or a column of another table, and every
// condition when the cursor's language is not the query's (string
// comparisons would follow another order).
//
// Usage, the in-place case (one table, the cursor is the result):
//   std::vector<TExpToken*> conditions;
//   SplitConjuncts(query.WhereExpression, conditions);   // bound already
//   TWhereFilters filters;
//   filters.Build(cursor, conditions, locale, TWhereFilters::TPass::Everything);
//   if (!filters.Left().empty()) ... not answerable by the cursor alone
// The filters stay on the cursor until Clear, the next Build or the object
// goes; the cursor must outlive the object or be cleared first.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/cursor/filters.h"
#include "tables/lib/expeval.h"
#include "tables/lib/exptoken.h"

namespace korvex {


// The conjuncts of an AND tree, left to right.
void SplitConjuncts(TExpToken* node, std::vector<TExpToken*>& out);

// The first and last source levels (join order - 1) a bound tree reads;
// -1 for both when it reads no column.
void SourceLevels(const TExpToken* node, int& first, int& last);

// Whether the engine's filters can answer a bound condition over one table:
// no sub-select, no BLOB column, no aggregate.
bool EngineCanFilter(const TExpToken* condition);

class TWhereFilters {
public:
  enum class TPass { Indexed, Everything };

  TWhereFilters() = default;
  ~TWhereFilters();
  TWhereFilters(const TWhereFilters&) = delete;
  TWhereFilters& operator=(const TWhereFilters&) = delete;

  // Drops the filter of the last Build, then makes the filter of this
  // execution on `cursor` from `conditions` (each reads only the cursor's
  // table, or no table), evaluated under `locale`. Left() then lists, in
  // their order, the conditions the filter does not hold.
  void Build(TDataCursor& cursor, const std::vector<TExpToken*>& conditions, TLocalePair locale, TPass pass);
  // Drops the filter (nothing when there is none).
  void Clear();

  const std::vector<TExpToken*>& Left() const { return left_; }
  // How many conditions the filter holds.
  std::size_t Filtered() const { return filtered_; }
  bool Active() const { return filter_ != nullptr; }
  // Whether the last Build took only the conditions an index answers.
  bool IndexedOnly() const { return indexed_only_; }

private:
  TDataCursor* cursor_ = nullptr;
  TFilter* filter_ = nullptr;
  std::size_t filtered_ = 0;
  std::vector<TExpToken*> left_;
  bool indexed_only_ = false;
};



}  // namespace korvex
