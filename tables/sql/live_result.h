// Live results: a SELECT over one table answered by that table's own cursor
// instead of a copy of its rows.
//
// The decision (DecideLiveResult): a live result must be wanted, and the
// query may have no row limit (a limit would not hold on a live table), no
// INTO, no DISTINCT, exactly one source table, no grouping or aggregates,
// no HAVING, no BLOB expression column, no WHERE condition that the
// table's filter cannot hold (one compared in another language than the
// table's), and ORDER BY only when an index of the table serves it. The main query of a statement with sub-selects and
// the sub-selects themselves always answer with result tables (a
// sub-select's rows are read once per execution).
//
// ORDER BY (FindLiveOrderIndex): every item must be a plain column; the
// first index of the table (the primary one first) whose leading key fields
// are those columns in order, with each key field's direction equal to the
// item's, and for string keys the index's case setting equal to NOCASE,
// serves it. The record sort puts blanks first under DESC on language-0
// tables while a descending index puts them last, so there a descending
// key serves only a column that cannot be blank (a required field); on
// other languages both put them last. A query sorting under a language
// other than the table's is served only when no key is a string.
//
// The mapping (LiveFieldMapping): one field per result column, in result
// order, named by the result name. A plain column is the table's field (its
// number and bytes; the same field a second time becomes a calculated copy);
// an expression column is a calculated field of the result's type whose
// expression the cursor computes (numbered past the table's fields).
//
// TLiveResult holds the driving cursor for as long as the query is
// prepared: writable where the table allows it, marked as a result set,
// mapped, at the serving index (the primary order without ORDER BY). Each
// execution drops the filter of the last one and makes every WHERE
// conjunct part of the cursor's engine filter again (TWhereFilters), with
// the parameters' current values; the answer is the cursor, its record
// count the rows
// affected. The cursor stays the source table's: freeing the query closes it
// as a source, and whatever is edited through it reaches the table, while
// the filters keep the result narrowed.
//
// SaveResultRows copies what a result cursor shows (its filters and range,
// in its order, calculated fields as values, hidden fields left out, BLOBs
// by content) into a new table that replaces any table of that name.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/lib/expeval.h"
#include "tables/sql/data_query.h"
#include "tables/sql/where_filters.h"

namespace korvex {

enum class TLiveRefusal : std::uint8_t {
  None,            // answered live
  NotWanted,
  RowLimit,
  Into,
  Distinct,
  Tables,          // more or fewer than one source table
  Grouped,         // GROUP BY, aggregates or a single-row result
  Having,
  OrderBy,         // no index serves it
  BlobExpression,
  Filters,         // a WHERE condition the table's filters cannot hold
  SubSelects,      // the main query of a statement with sub-selects
  Nested,          // a sub-select
};

// After binding: whether the query can answer live. `filterable`: every
// WHERE condition can be a filter of the table's cursor (where_filters.h).
TLiveRefusal DecideLiveResult(const TDataQuery& query, bool order_served, bool blob_expression, bool filterable);

// One ORDER BY item over the driving table: its field number (0 for an
// expression column) and direction.
struct TLiveOrderKey {
  std::uint16_t Field = 0;
  bool Descending = false;
};

// The position of the index that serves the ORDER BY, kNoLiveOrderByIndex
// when none does. `sort_locale` is the language the query sorts in.
std::uint8_t FindLiveOrderIndex(TDataCursor& cursor, const std::vector<TLiveOrderKey>& keys, bool no_case,
                                TLocalePair sort_locale);

// One result column: its name, its bound tree (a plain column is a field
// node of the driving table) and the result field's type.
struct TLiveColumn {
  std::string Name;
  TExpToken* Expression = nullptr;
  TFieldDefinition Type;
};

// The cursor must be open and unmapped.
std::vector<TFieldDefinition> LiveFieldMapping(TDataCursor& cursor, const std::vector<TLiveColumn>& columns);

class TLiveResult {
public:
  // Takes the cursor over: reopened writable when the table allows it,
  // marked as a result set, given the mapping and the index position.
  TLiveResult(TDataCursor& cursor, const std::vector<TFieldDefinition>& mapping, std::uint8_t index_position);
  ~TLiveResult();
  TLiveResult(const TLiveResult&) = delete;
  TLiveResult& operator=(const TLiveResult&) = delete;

  // The filter made again from the WHERE conjuncts (bound trees over the
  // driving table, or over no table), the cursor at its beginning; answers
  // the visible record count in `count`. False when a condition cannot be a
  // filter of the cursor (nothing is filtered then).
  bool Execute(const std::vector<TExpToken*>& conditions, TLocalePair locale, std::uint32_t& count);
  // Gives the cursor back as a plain source: no filters of ours, no
  // mapping, physical order, not a result set.
  void Release();
  TDataCursor& Cursor() const { return cursor_; }

private:
  TDataCursor& cursor_;
  std::uint8_t index_position_;
  TWhereFilters filters_;
  bool released_ = false;
};

// Reports rows copied and percent done.
using TSaveProgress = std::function<void(std::uint32_t rows, std::uint16_t percent)>;

void SaveResultRows(TDataCursor& result, TDataDirectory* directory, const std::string& name,
                    const TSaveProgress& progress = {});

}  // namespace korvex
