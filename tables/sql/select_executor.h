// TSelectExecutor: answers one SELECT query with a result table.
//
// Preparing opens a read-only cursor on every source table, binds every
// column of the result list, WHERE and HAVING to a source field (an
// unqualified name two tables share binds to the first in FROM order),
// types the expressions and lays out the result table. Each execution
// filters every source's cursor by the WHERE conditions of that table alone
// (where_filters.h), chooses the join order (unless NOJOINOPTIMIZE, a
// table its filters leave with few records may drive the walk) and walks
// the sources in nested loops in that order: an inner or comma join tests its
// conditions on each combination; where conditions equate columns of a
// table with values of the tables before it, its rows are looked up rather
// than read one by one: through an index of the table that leads with those
// columns (a range of equal keys found anew for every row before it; the
// table is not read ahead), else a hash of integral, date and time values or
// of language-0 text bytes, else its rows ordered by the join columns (see
// join_lookup.h). Each execution's plan is a value (query_plan.h) that the
// walk follows and the query keeps for the model dump; a LEFT or RIGHT join
// adds the outer row with blank target columns when no target row passes
// its ON conditions.
// The inner side of a RIGHT JOIN after several tables is all of them: a row
// of the RIGHT JOIN's table matches when some combination of them passes
// their inner joins' and its ON conditions. Each surviving combination
// becomes one result row, or is folded into its group when the query
// aggregates: the GROUP BY columns make the group, other plain columns come
// from its last row, and the groups come ordered by the GROUP BY columns.
// DISTINCT and ORDER BY run the record sort over the finished result table.
// WHERE conditions with parameters are checked again at each execution,
// with the parameters' types; a WHERE that is no condition is refused.
//
// The result table is a temporary in-memory table of the query's
// directory: it never reaches a disk and goes when the executor goes. With
// INTO it is a table of that name (replacing any), kept when the executor
// goes: on disk (a plain name in the session's private directory), or in
// memory with INTO MEMORY; with the statement's encryption, block size,
// description and versions. Source tables open with the statement's
// password callback.
//
// Conditions that name no table are evaluated once per execution; when
// false the result is empty and no row is read. COUNT(*) counts combined
// rows, COUNT over no rows is 0 while SUM, MIN, MAX and AVG are blank. An
// integer SUM is a 32-bit integer (smallint and word widen to it) and
// raises 11949 "Integer overflow in SUM of '<text>'" when it leaves that
// range. A maximum row count cuts the finished, ordered result.
//
// A BLOB column or BLOB-valued expression is a BLOB of the result, copied
// whole; BLOBs are not grouped, ordered or compared for DISTINCT, and of the
// aggregates only COUNT takes one. Conditions read a BLOB's content.
//
// Each AVG column has a hidden integer field "Sys__Avg__Count<n>" (n its
// field number) that holds how many values it averaged. MIN and MAX take
// numbers, dates, times and timestamps. WITH LOCKS holds a read lock on
// every source table while the result is filled. The progress callback
// hears of every row of the first table (rows so far, percent) and may stop
// the walk; the rows found so far stay.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/lib/expcheck.h"
#include "tables/lib/expeval.h"
#include "tables/sql/data_query.h"
#include "tables/sql/query_plan.h"

namespace korvex {

class TLiveResult;

// Binds a column node to the field of that name in the cursor's table (the
// first, compared case-blind): source table, field number, type, size and
// scale. False when the table has no such field.
bool BindCursorField(TExpToken* node, TDataCursor& cursor, TSourceTable* table);

// The value of a bound column node in a record of the cursor's table: a
// BLOB's whole content, the empty string and a blank field as NULL; NULL
// without a record.
void ReadColumnValue(TDataCursor& cursor, const std::uint8_t* record, TExpToken* result);

// Checks a condition (`verify`) before its parameters have values: each
// takes, for the check, the type of the column it stands beside, and is
// unbound again after it; column nodes are bound first through `lookup`.
// True when the condition holds such parameters: it must be checked again
// once they are bound.
bool VerifyBeforeBinding(TExpToken* tree, void* user, TFieldLookup lookup, const std::function<void()>& verify);

// Refuses a column of a condition whose correlation name `known` does not
// know ("Table correlation name ... not defined in the FROM clause").
// Sub-selects are left to their own queries.
void RequireKnownCorrelations(const TExpToken* node, const std::function<bool(const std::string&)>& known);

// Writes a value (a text or BLOB; NULL empties it) into the BLOB field of a
// record buffer, open for writing until the record is appended or changed.
// False for a value of another type or a failed BLOB operation.
bool PutBlobValue(TDataCursor& cursor, int field, std::uint8_t* record, const TExpToken* value);

class TSelectExecutor {
public:
  explicit TSelectExecutor(TDataQuery& query);
  ~TSelectExecutor();
  TSelectExecutor(const TSelectExecutor&) = delete;
  TSelectExecutor& operator=(const TSelectExecutor&) = delete;

  void Prepare();
  // Builds the result table anew; the cursor stays owned by the executor,
  // open and at its beginning.
  TDataCursor* Execute();
  // Rows read from the sources by the last execution.
  std::uint64_t RowsRead() const { return rows_read_; }

  // A result row in the layout of the result table (ResultLayout); false
  // stops the walk.
  using RowSink = std::function<bool(std::uint8_t* record)>;
  // Whether the rows can be handed on as the walk finds them rather than
  // gathered first: no live answer, INTO, aggregate, grouping, DISTINCT,
  // ORDER BY or BLOB column (their rows are only known once all are read).
  bool CanStream() const;
  // Executes as Execute does, handing each result row to `row` instead of
  // appending it to the result table (which stays empty); the row limit
  // holds. Only when CanStream().
  void Stream(const RowSink& row);
  // The result table: its fields are the layout of the result rows.
  TDataCursor* ResultLayout() const { return result_.get(); }
  // Whether a source of the query is the table of `file_key`
  // (TDataTable::FileKey).
  bool ReadsTable(const std::string& file_key) const;

  // As the sub-select of `x IN (SELECT c ...)`: types the node by the single
  // result column (false when there is not exactly one, or it is a BLOB),
  // and counts the result rows whose column equals the comparison's left
  // value (two blanks are equal). The rows are read once per execution.
  bool TypeSubSelectNode(TExpToken* node) const;
  std::int32_t CountSubSelectMatches(const TExpToken* comparison);

  struct Source;
  struct Output;
  struct Group;

private:
  void OpenSources();
  // Conditions turn lone boolean columns into comparisons with TRUE.
  void BindTree(TExpToken* node, const char* context, bool condition);
  void BindResultFields();
  void BindOrderAndGroup();
  void BindHaving();
  void SplitConditions();
  // Each execution: the filters of every source (every condition the
  // engine can take when `everything`, else those an index answers), the
  // conditions over several tables placed at their last table, the lookups.
  void FilterSources(bool everything);
  // The join order (unless NOJOINOPTIMIZE): see OrderSources.
  void OrderSources();
  void PlaceConditions();
  void ChooseLookups();
  // The hash of a join step over a column and its probe, or None.
  TLookupKind HashLookupKind(const TExpToken* column, const TExpToken* probe) const;
  // Whether a hash of the step's target costs less than a range of its
  // index (`hash_possible`: the step has a text equality a hash can take).
  bool HashBeatsRange(std::size_t level, bool hash_possible) const;
  // This execution's plan (plan_, copied to the query for the model dump).
  void DescribePlan();
  // Orders the rows of a source by its lookup columns (see Source).
  void BuildSortedLookup(Source& source);
  void CreateResultTable();
  // Answers live where the query allows it (live_result.h); true when it
  // does.
  bool PrepareLive();
  // The live answer of one execution; nullptr when the query may no longer
  // answer live (a row limit set since preparing): the result table is
  // made instead.
  TDataCursor* ExecuteLive();
  void ReadSources();
  // The rows of a range lookup's target whose keys equal the current probe
  // values, read one by one through its index: StartRange finds the first
  // (false: none), NextRangeRow puts each into the source's record.
  bool StartRange(Source& source);
  bool NextRangeRow(Source& source);
  void Walk(std::size_t level);
  void EmitCombination();
  // The rows emitted since the last call go to the result table in one
  // write.
  void AppendPendingRows();
  Group& FindGroup(const std::uint8_t* record);
  void Accumulate(Group& group);
  void FinishGroups();
  void SortResult();
  void CutResult();
  bool EvaluateCondition(TExpToken* tree);
  TExpToken* Evaluate(const TExpToken* tree);
  void StoreValue(int field, std::uint8_t* record, const TExpToken* value);
  // Fast paths for bound columns: an integral column's value (false when
  // `node` is no such column), a column's bytes into a result field, an
  // integer into a result field of an integral type.
  bool ReadIntegral(const TExpToken* node, std::int64_t& value, bool& blank) const;
  void CopyColumn(int field, std::uint8_t* record, const TExpToken* column);
  void PutIntegral(int field, std::uint8_t* record, std::int64_t value);
  // A text's bytes (a column read straight from its record); false when
  // it is blank (the empty string included).
  bool ReadText(const TExpToken* node, std::string& text);
  static bool FieldValue(void* user, const void* record, TExpToken* result);

  TDataQuery& query_;
  std::vector<std::unique_ptr<Source>> sources_;
  TQueryPlan plan_;
  std::vector<Output> outputs_;
  std::vector<TExpToken*> constant_conditions_;  // not owned: parts of WHERE
  std::vector<TExpToken*> joined_conditions_;    // WHERE conditions over several tables
  std::vector<TExpToken*> parameter_conditions_;  // WHERE conditions checked again once parameters are bound
  bool aggregates_ = false;
  std::vector<int> group_outputs_;    // outputs that form the group key (0-based)
  std::vector<int> carried_outputs_;  // other plain outputs of a grouped query
  std::vector<std::pair<int, bool>> order_outputs_;  // output, descending
  std::vector<std::unique_ptr<Group>> groups_;
  std::unordered_map<std::string, std::size_t> group_index_;  // group key bytes to groups_
  std::string group_key_;
  std::vector<std::pair<std::size_t, int>> avg_counts_;  // AVG output, its hidden count field
  // Per level of the walk (this execution): the last level of an outer
  // group starting there, the group's start (-1: none), and whether the
  // group has matched the current outer row.
  std::vector<std::size_t> group_end_;
  std::vector<int> group_start_;
  std::vector<char> group_matched_;
  bool aborted_ = false;             // the progress callback asked to stop
  std::uint32_t progress_rows_ = 0;  // driving rows last reported
  // Reports `rows` of `of` driving rows to the progress callback.
  void ReportProgress(std::uint32_t rows, std::uint32_t of);
  // COUNT(*) is the only column, over one table and no condition.
  bool CountsOnly() const;
  std::vector<TExpToken*> expanded_;  // owned column nodes of "*"
  // The result column's values for IN (SELECT ...), after the last execution.
  bool sub_values_read_ = false;
  std::vector<TExpToken*> sub_values_;  // owned
  std::unordered_map<std::int64_t, std::int32_t> sub_counts_;  // integral values
  std::int32_t sub_blanks_ = 0;
  void ReadSubSelectValues();
  void FreeSubSelectValues();

  std::unique_ptr<TLiveResult> live_;
  const RowSink* sink_ = nullptr;  // while streaming: where the rows go
  std::uint32_t streamed_ = 0;      // rows handed to sink_
  std::vector<std::uint8_t> result_record_;
  // Result rows waiting for their write, end to end (not with BLOB
  // columns: a row's open BLOBs go with its own append).
  std::vector<std::uint8_t> pending_rows_;
  std::uint32_t pending_count_ = 0;
  bool batch_rows_ = false;
  std::unique_ptr<TDataCursor> result_;
  std::string result_name_;
  bool own_result_directory_ = false;  // the query's result directory was opened for INTO
  std::uint64_t rows_read_ = 0;
  TLocalePair locale_{};
};

}  // namespace korvex
