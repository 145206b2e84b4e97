// TQueryPlan: what one execution of a query does, as a value. The SELECT
// planner (select_planner.cpp) and the change executor make it; the walk
// (select_walk.cpp) follows it step by step; the model dump prints it, one
// line per step, so that what is printed is what ran.
//
// A step per source table, in the order the walk reads them:
//   <n> <correlation> <role> access=<path>[ lookup=<kind>(<columns>)][ tested=<k>]
// role: from (the driving table), inner, outer (the null-extended side of a
// LEFT or RIGHT join starts here), count (COUNT(*) from the cursor alone),
// update, delete. access: scan (every record read), index(k) (k conditions
// answered through an index filter of the cursor), filter(k) (k conditions
// filter the cursor, some without an index). lookup, how a joined table
// finds the rows that match the tables before it: range (a range of the
// target's index over the join columns, set anew for every row before it;
// the target is never copied), hash (integral, date and time values),
// text-hash (texts of language 0 by their bytes), ordered (the target's rows
// ordered by the join columns). tested: the conditions tested on each row at
// this step (the one a hash lookup answers is not counted).
// Then the steps after the walk, each one line: "group <k>" (k GROUP BY
// columns; 0: one group), "having", "distinct", "order <k>", "limit <n>".
//
// The single-table part of a step, the engine filter of a table's own
// conditions, is planned by PlanSourceAccess for SELECT sources and for
// UPDATE and DELETE targets alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/lib/expeval.h"
#include "tables/sql/where_filters.h"

namespace korvex {

enum class TAccessPath : std::uint8_t { Scan, Index, Filter };
enum class TLookupKind : std::uint8_t { None, Range, Hash, TextHash, Ordered };

struct TPlanLookup {
  TLookupKind kind = TLookupKind::None;
  // Columns of the step's table, each equal to the probe beside it (an
  // expression over the tables before it). Range: in the order of the index's
  // key fields.
  std::vector<const TExpToken*> columns;
  std::vector<const TExpToken*> probes;
  std::vector<std::string> names;  // the columns as written in the dump
  // Hash: the condition every row found passes (not tested again).
  const TExpToken* implied = nullptr;
  // Range: the index position.
  std::uint8_t index = 0;
};

struct TPlanStep {
  std::string correlation;
  const char* role = "from";
  TAccessPath access = TAccessPath::Scan;
  std::size_t filtered = 0;  // conditions the engine filter holds
  TPlanLookup lookup;
  std::size_t tested = 0;

  std::string Line(std::size_t number) const;
};

struct TQueryPlan {
  std::vector<TPlanStep> steps;
  std::vector<std::string> after;  // the steps after the walk, as printed

  void Clear() {
    steps.clear();
    after.clear();
  }
  std::vector<std::string> Lines() const;
};

// Plans how a table's own conditions (each reads that table only) reach
// its cursor: `filters` is built for this execution (see TWhereFilters) and
// the step tells the access path; the conditions the filter leaves are in
// filters.Left(), tested on each record read.
TPlanStep PlanSourceAccess(TWhereFilters& filters, TDataCursor& cursor, const std::vector<TExpToken*>& conditions,
                           TLocalePair locale, TWhereFilters::TPass pass, const std::string& correlation,
                           const char* role);

// Whether a value of type `probe` equal to a column of type `column` can be
// found through the column's index key: the same type, no float or
// timestamp (a negative zero has a key of its own), a text no longer than
// the column, a BCD of the column's scale.
bool IndexLookupTypes(const TExpToken* column, const TExpToken* probe);

// The index of `cursor` whose leading key fields are most of `fields`
// (field numbers of the join columns, any order): its position, and in
// `order` the join columns' places in `fields` in key order. False when no
// index leads with one of them, or texts would compare under another
// language than the query's.
bool ChooseLookupIndex(TDataCursor& cursor, const std::vector<int>& fields, bool texts, TLocalePair locale,
                       std::uint8_t& position, std::vector<std::size_t>& order);

}  // namespace korvex
