// TKORVEXQuery: SQL on the tables of a database, as a dataset.
//
// The query keeps an SQL text and an SQL script. Every change of the SQL
// text rebuilds the parameter list from its markers (param_markers.h),
// keeping the values of parameters whose names stay, and closes and
// unprepares the query. Preparing makes one statement (TQueryStatement) on
// the database's directory; opening executes it and presents its result
// table as the dataset (the statement keeps the result: the dataset never
// frees it); ExecSQL executes without opening. A master dataset
// (DataSource) gives unbound parameters their values at every opening:
// they take the master field of their name and stay unbound, so that they
// follow the master, while bound parameters keep theirs.
//
// Parameters reach the statement as engine field definitions over one
// record buffer: a flag byte (0 for NULL) and the engine form of each
// value; a BLOB type, and a string longer than 250 characters (as a memo),
// as a length and a pointer.
//
// Scripts (ExecSQLScript) run statement after statement, summing rows
// affected and execution time. A plain SELECT in a script is passed over;
// a SELECT ... INTO is executed. A statement that fails goes to
// OnScriptError (when set): answering true stops the script quietly, false
// goes on after the failed statement's end; without the event the error
// passes on.
//
// The binary form-file property "Data" of the query holds a stored SQL
// block: its bytes as written, read back whole (ReadBinarySQL /
// WriteBinarySQL); any change of the SQL drops it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/dataset/datalink.h"
#include "platform/runtime/strings.h"
#include "tables/components/datasets.h"
#include "tables/sql/query/query_params.h"
#include "tables/sql/statement.h"

namespace korvex {

class TKORVEXQuery;

using TQueryProgressEvent =
    std::function<void(rtl::TObject* sender, int current_record, std::uint16_t percent_done, bool& abort_query)>;
using TQuerySaveProgressEvent = std::function<void(rtl::TObject* sender, int current_record, std::uint16_t percent_done)>;
using TQueryScriptErrorEvent = std::function<void(rtl::TObject* sender, const std::exception& error, bool& abort_script)>;

class TKORVEXQueryDataLink : public db::TDataLink {
public:
  explicit TKORVEXQueryDataLink(TKORVEXQuery* query) : query_(query) {}

protected:
  void ActiveChanged() override;
  void RecordChanged(db::TField* field) override;
  void CheckBrowseMode() override;

private:
  TKORVEXQuery* query_;
};

class TKORVEXQuery : public TKORVEXDBDataSet {
public:
  explicit TKORVEXQuery(rtl::TComponent* owner = nullptr);
  ~TKORVEXQuery() override;
  std::string ClassName() const override { return "TKORVEXQuery"; }

  static std::string EngineVersion() { return "2.11"; }

  rtl::TStringList& SQL() { return sql_; }
  rtl::TStringList& SQLScript() { return sql_script_; }
  // Assigns the text as one change (nothing when it is the same).
  void SetSQL(const std::string& text);
  void SetSQLScript(const std::string& text);
  // The text the statement reads: markers replaced by "?".
  const std::string& Text() const { return text_; }

  TKORVEXParams& Params() { return params_; }
  // Copies values by name (AssignValues).
  void SetParams(const TKORVEXParams& values) { params_.AssignValues(values); }
  TKORVEXParam* ParamByName(const std::string& name) { return params_.ParamByName(name); }
  int GetParamsCount() const { return params_.Count(); }
  bool ParamCheck = true;

  bool RequestLive() const { return request_live_; }
  void SetRequestLive(bool value);
  std::int32_t MaxRowCount() const { return max_row_count_; }
  void SetMaxRowCount(std::int32_t value);

  void Prepare();
  void UnPrepare();
  bool Prepared() const { return prepared_; }
  void SetPrepared(bool value);
  void ExecSQL();
  void ExecSQLScript();
  // Copies the open result to a table of the query's database.
  void SaveToTable(const std::string& table_name);

  TSQLStatementType StatementType() const;
  bool ResultIsLive() const;
  std::int32_t RowsAffected() const { return rows_affected_; }
  double ExecutionTime() const { return execution_time_; }
  TSQLStatementType ScriptStatementType() const { return script_type_; }
  TQueryStatement* Statement() const { return statement_.get(); }

  db::TDataSource* DataSource() const { return link_.DataSource(); }
  // "Circular datalinks are not allowed" for a source that leads back here.
  void SetDataSource(db::TDataSource* source);
  db::TDataSource* GetDataSource() const override { return link_.DataSource(); }

  // The stored SQL block of the form file's "Data" property.
  bool HasBinarySQL() const { return !binary_sql_.empty(); }
  void ReadBinarySQL(rtl::TStream& stream);
  void WriteBinarySQL(rtl::TStream& stream) const;

  void Disconnect() override;
  // Clearing the last flag unprepares the query first.
  void SetDBFlag(int flag, bool value);

  TQueryProgressEvent OnQueryProgress;
  TQuerySaveProgressEvent OnSaveProgress;
  TQueryScriptErrorEvent OnScriptError;

protected:
  friend class TKORVEXQueryDataLink;
  TDataCursor* CreateHandle() override;
  void Loaded() override;
  // Closes and reopens the query for its master's current record.
  void RefreshParams();

private:
  void QueryChanged();
  // Prepares, takes master values, binds and executes; the result when
  // asked.
  TDataCursor* CreateCursor(bool want_result);
  void SetParamsFromCursor();
  void BindParams(TQueryStatement& statement);
  std::unique_ptr<TQueryStatement> NewStatement(bool live, std::int32_t max_rows);
  static bool QueryProgress(void* user, std::int32_t rows, std::uint16_t percent, bool& abort);

  std::unique_ptr<TQueryStatement> statement_;
  rtl::TStringList sql_, sql_script_;
  bool prepared_ = false;
  TKORVEXParams params_;
  std::string text_;
  TKORVEXQueryDataLink link_{this};
  bool request_live_ = false;
  std::int32_t max_row_count_ = -1;
  std::int32_t rows_affected_ = 0;
  double execution_time_ = 0;
  std::string binary_sql_;
  TSQLStatementType script_type_ = stUnknown;
  bool in_script_ = false;
};

}  // namespace korvex
