// TChangeExecutor: carries out one INSERT, UPDATE or DELETE query.
//
// Preparing opens a cursor on the target table, binds the named columns
// ("*" of an INSERT: every field) and checks each value against its column
// (a string constant for a date, time or timestamp column is read as one);
// UPDATE values and the WHERE condition bind to the target's fields.
//
// Executing changes the rows inside a transaction of the target's
// directory: its own one when none is running (committed with the
// transaction kept open every commit interval rows and closed at the end,
// rolled back on any error), else the caller's one, which is committed
// (kept open) every interval rows only when COMMIT INTERVAL was given. The
// commit interval is the one given, else 262140 divided by the target's
// record size, at most 8191.
//
// A statement that fails in its own transaction keeps the rows its
// interval commits made durable, and its error ends with how many ("; 8,191
// rows were committed before the error"); the rows affected say the same.
// One that fails in the caller's transaction takes back every change it
// made (statement_undo.h) and leaves that transaction running with what
// came before it; should the taking back fail, the transaction is rolled
// back and the error says so.
//
// UPDATE and DELETE walk the target in physical record order: a change
// never moves a record there, so each row is met once. The WHERE
// conditions an index answers filter the cursor first (where_filters.h),
// so that only the records they select are read. Every sub-select of
// the statement is answered into its own result table before the first
// change (the statement runs sub-selects first), so a sub-select that reads
// the target sees it as it was: INSERT INTO t SELECT ... FROM t appends the
// rows t had. The SELECT of an INSERT that reads other tables only, and
// whose rows need no gathering (TSelectExecutor::CanStream), is the
// exception when no progress callback is set: the statement leaves it to
// the INSERT, which appends each of its rows as the SELECT finds it.
//
// The progress callback may stop the row loop; what was done stays and is
// committed as at a normal end, and the rows affected say how much.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/lib/expeval.h"
#include "tables/sql/data_query.h"

#include "tables/sql/where_filters.h"

namespace korvex {

class TStatementUndo;

// The transaction calls of a statement, for observers (tests).
enum class TTransactionCall : std::uint8_t { Start, CommitKeepOpen, Commit, Rollback };
using TTransactionObserver = std::function<void(TTransactionCall)>;
// Installs the process-wide observer (an empty function removes it).
void SetTransactionObserver(TTransactionObserver observer);

// Whether UPDATE computes the values of simple shapes (a column, a
// constant, arithmetic over two of them) directly rather than through the
// general evaluator; on unless a test turns it off to compare the two.
void SetDirectUpdateValues(bool on);
// The values computed that way so far in the process (row by column).
std::uint64_t DirectUpdateValuesComputed();
// Of those, the + - * over integral columns and constants stored into an
// INTEGER column straight from the record's bytes.
std::uint64_t IntegralUpdateValuesComputed();

// The commit interval of a target without COMMIT INTERVAL.
std::int32_t DefaultCommitInterval(std::uint32_t record_size);

class TChangeExecutor {
public:
  explicit TChangeExecutor(TDataQuery& query);
  ~TChangeExecutor();
  TChangeExecutor(const TChangeExecutor&) = delete;
  TChangeExecutor& operator=(const TChangeExecutor&) = delete;

  void Prepare();
  void Execute();
  // Whether the SELECT of this INSERT is left to it, its rows appended as
  // found (above); the statement then does not execute the SELECT first.
  bool StreamsSubSelect() const;

  struct Column;
  class DirectValue;

private:
  void OpenTarget();
  void BindColumns();
  void CheckValues();
  // The WHERE condition checked and bound to the target; it must be boolean.
  void VerifyWhere();
  void Run();
  void InsertValues();
  void InsertFromSubSelect();
  void ChangeRows();
  // Stores a value in field `column` of the record; false when it cannot be
  // converted to the column's type.
  bool StoreValue(const Column& column, std::uint8_t* record, const TExpToken* value);
  void StoreOrFail(const Column& column, std::uint8_t* record, const TExpToken* value, const std::string& text);
  // After each row: counts it, commits every interval rows when due, and
  // reports progress; false when the progress callback stopped the loop.
  bool RowDone(std::uint32_t rows_read, std::uint32_t total);
  void Transaction(TTransactionCall call);
  // What a failed statement says after its error: the rows its own
  // transaction's interval commits kept ("" for none).
  std::string CommittedNote() const;
  // A failed statement's changes taken back from the caller's transaction;
  // should that fail, the transaction is rolled back and the note says so.
  std::string TakeBack();
  static bool FieldValue(void* user, const void* record, TExpToken* result);
  static bool LookupField(void* user, TExpToken* node);

  TDataQuery& query_;
  TSourceTable* target_ = nullptr;
  std::unique_ptr<TDataCursor> cursor_;
  std::vector<Column> columns_;
  TLocalePair locale_{};
  TDataDirectory* directory_ = nullptr;
  bool where_has_parameters_ = false;  // WHERE is checked again at each execution
  bool own_transaction_ = false;
  bool interval_commits_ = false;
  std::int32_t interval_ = 0;
  std::int32_t since_commit_ = 0;
  std::uint32_t committed_ = 0;  // rows the statement's own interval commits made durable
  // The statement's changes in the caller's transaction, while it runs.
  std::unique_ptr<TStatementUndo> undo_;
  // The filter of the WHERE conditions an index answers, while rows change.
  TWhereFilters where_filters_;
};

}  // namespace korvex
