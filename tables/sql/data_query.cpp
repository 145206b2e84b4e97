#include "tables/sql/data_query.h"

#include <chrono>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/errors.h"
#include "tables/lib/language_settings.h"
#include "tables/sql/change_executor.h"
#include "tables/sql/definition_executor.h"
#include "tables/sql/reader.h"
#include "tables/sql/select_executor.h"
#include "tables/sql/statement.h"

namespace korvex {

TDataQuery::TDataQuery(TQueryStatement* statement) : Statement(statement) {}

TDataQuery::~TDataQuery() {
  executor_.reset();
  change_executor_.reset();
  definition_executor_.reset();
  FreeExpressionTokens(WhereExpression);
  FreeExpressionTokens(HavingExpression);
  FreeExpressionTokens(ScanExpression);
  FreeExpressionTokens(TempScanExpression);
}

void TDataQuery::InitializeQuery() {
  executor_.reset();
  change_executor_.reset();
  definition_executor_.reset();
  ResultCursor = nullptr;
  SourceTables.Clear();
  ResultFields.Clear();
  UpdateFields.Clear();
  UpdateValues.Clear();
  CreateFields.Clear();
  CreateIndexes.Clear();
  OrderByFields.Clear();
  GroupByFields.Clear();
  FreeExpressionTokens(WhereExpression);
  FreeExpressionTokens(HavingExpression);
  FreeExpressionTokens(ScanExpression);
  FreeExpressionTokens(TempScanExpression);
  DrivingTable = nullptr;

  Nested = false;
  StatementKind = skNone;
  ExecutionTime = 0;
  RowsAffected = 0;
  Distinct = HasAvg = HasCalculatedColumn = HasScanExpression = HasTempScanExpression = false;
  MultipleSourceTables = NoJoinOptimize = HasWhere = HavingParsed = HasOrderBy = false;
  LiveOrderBy = false;
  LiveOrderByIndex = kNoLiveOrderByIndex;
  OrderByNoCase = HasGroupBy = SingleRowResult = SimpleFunctionResult = HavingGiven = false;
  LiveResult = InPlaceResult = IntoMemory = InsertWithSubSelect = SourceHasBlobs = false;
  ResultTableName.clear();
  WithLocks = false;

  Encrypted = false;
  Password.clear();
  LanguageID = SortID = 0;
  BlobBlockSize = kDefaultBlobBlockSize;
  Description.clear();
  UserMajorVersion = 1;
  UserMinorVersion = 0;
  LastAutoInc = -1;
  NoBackup = NoAutoInc = false;
  CommitInterval = 0;
  InMemory = false;
  LanguageGiven = SortGiven = DescriptionGiven = BlockSizeGiven = false;
  MajorVersionGiven = MinorVersionGiven = EncryptionGiven = AutoIncGiven = CommitIntervalGiven = false;
}

void TDataQuery::ParseQuery(bool nested) {
  if (Executed) return;
  InitializeQuery();
  Nested = nested;
  TExpressionParser& parser = Statement->Parser();
  parser.SetErrorNumber(err::kSqlError);
  // Numbers, dates and times in the text are read in the session's formats;
  // the settings in force before come back on every path.
  LanguageSettingsScope settings(Statement->Locale().LanguageID, Statement->Locale().SortID);
  TQueryStatement::NestingScope nesting(*Statement);
  TSqlReader in(parser);

  if (in.Is("SELECT")) {
    StatementKind = skSelect;
    ParseSelectQuery(in);
  } else if (in.Is("INSERT")) {
    StatementKind = skInsert;
    ParseInsertQuery(in);
  } else if (in.Is("UPDATE")) {
    StatementKind = skUpdate;
    ParseUpdateQuery(in);
  } else if (in.Is("DELETE")) {
    StatementKind = skDelete;
    ParseDeleteQuery(in);
  } else if (in.Is("CREATE")) {
    in.Next();
    if (in.Is("TABLE")) {
      StatementKind = skCreateTable;
      ParseCreateTableQuery(in);
    } else if (in.IsAny({"INDEX", "UNIQUE", "ASC", "ASCENDING", "DESC", "DESCENDING", "NOCASE"})) {
      StatementKind = skCreateIndex;
      ParseCreateIndexQuery(in);
    } else {
      in.FailFound("TABLE or INDEX keyword expected, instead found '");
    }
  } else if (in.Is("ALTER")) {
    in.Next();
    if (!in.Is("TABLE")) in.FailFound("TABLE keyword expected, instead found '");
    StatementKind = skAlterTable;
    ParseAlterTableQuery(in);
  } else if (in.Is("DROP")) {
    in.Next();
    if (in.Is("TABLE")) {
      StatementKind = skDropTable;
      ParseDropTableQuery(in);
    } else if (in.Is("INDEX")) {
      StatementKind = skDropIndex;
      ParseDropIndexQuery(in);
    } else {
      in.FailFound("TABLE or INDEX keyword expected, instead found '");
    }
  } else {
    in.FailFound("SELECT, INSERT, UPDATE, DELETE, CREATE, ALTER, or DROP keyword expected, instead found '");
  }
}

void TDataQuery::AndWhere(TExpToken* condition) {
  if (!WhereExpression) {
    WhereExpression = condition;
    return;
  }
  TExpToken* node = GetNewExpTokenInstance();
  node->NodeClass = enBINARY;
  node->Operator = eoAND;
  node->Text = "AND";
  node->DataType = dtBoolean;
  node->Left = WhereExpression;
  node->Right = condition;
  WhereExpression = node;
}

void TDataQuery::PrepareQuery() {
  executor_.reset();
  change_executor_.reset();
  definition_executor_.reset();
  ResultCursor = nullptr;
  // A statement without a directory is only read (tools, tests of the
  // grammar).
  if (!Statement->DataDirectory()) return;
  if (StatementKind == skInsert || StatementKind == skUpdate || StatementKind == skDelete) {
    auto executor = std::make_unique<TChangeExecutor>(*this);
    executor->Prepare();
    change_executor_ = std::move(executor);
    return;
  }
  if (StatementKind >= skCreateTable && StatementKind <= skDropIndex) {
    auto executor = std::make_unique<TDefinitionExecutor>(*this);
    executor->Prepare();
    definition_executor_ = std::move(executor);
    return;
  }
  if (StatementKind != skSelect) return;
  // A statement that changes a table reads its sub-selects as they were
  // before its first change.
  const std::uint8_t main_kind = Statement->MainQuery()->StatementKind;
  if (Nested && (main_kind == skInsert || main_kind == skUpdate || main_kind == skDelete)) WantLiveResult = false;
  auto executor = std::make_unique<TSelectExecutor>(*this);
  executor->Prepare();
  executor_ = std::move(executor);
}

void TDataQuery::ExecuteQuery(TDataCursor*& result) {
  auto before = std::chrono::steady_clock::now();
  result = nullptr;
  // Texts become dates, times and numbers (CAST, INSERT and UPDATE values)
  // in the session's formats, as they were read when checked.
  LanguageSettingsScope settings(Statement->Locale().LanguageID, Statement->Locale().SortID);
  if (executor_) {
    sub_select_filtered_ = false;
    ResultCursor = executor_->Execute();
    result = ResultCursor;
    Executed = true;
  } else if (change_executor_) {
    change_executor_->Execute();
  } else if (definition_executor_) {
    definition_executor_->Execute();
  }
  ExecutionTime = ElapsedSeconds(before, std::chrono::steady_clock::now());
}

bool TDataQuery::TakesSubSelectRows() const { return change_executor_ && change_executor_->StreamsSubSelect(); }

void TDataQuery::StreamRows(const std::function<bool(std::uint8_t*)>& row) {
  if (!executor_) RaiseError(err::kSqlError, {}, {}, {}, "Internal error: no SELECT to stream");
  auto before = std::chrono::steady_clock::now();
  LanguageSettingsScope settings(Statement->Locale().LanguageID, Statement->Locale().SortID);
  sub_select_filtered_ = false;
  executor_->Stream(row);
  ResultCursor = executor_->ResultLayout();
  Executed = true;
  ExecutionTime = ElapsedSeconds(before, std::chrono::steady_clock::now());
}

bool TDataQuery::VerifySubSelectFieldData(TExpToken* node) { return executor_ && executor_->TypeSubSelectNode(node); }

void TDataQuery::BuildSubSelectFilter(TExpToken* comparison) {
  if (!executor_ || !Executed) RaiseError(err::kSqlError, {}, {}, {}, "Sub-select query has not been executed");
  sub_select_matches_ = executor_->CountSubSelectMatches(comparison);
  sub_select_filtered_ = true;
}

void TDataQuery::SetPasswordCallback(TPasswordCallback callback, void* user_data) {
  PasswordCallback = callback;
  PasswordUserData = user_data;
}

void TDataQuery::GivePasswordCallback(TDataCursor& cursor, const std::string& name) {
  if (!PasswordCallback) return;
  cursor.SetPasswordCallback([this, name] {
    char password[256] = {};
    return PasswordCallback(PasswordUserData, name.c_str(), password);
  });
}

void TDataQuery::SetQueryProgressCallback(TQueryProgressCallback callback, void* user_data) {
  ProgressCallback = callback;
  ProgressUserData = user_data;
}

void TDataQuery::DoQueryProgress(std::int32_t rows, std::uint16_t percent, bool& abort) {
  if (ProgressCallback) ProgressCallback(ProgressUserData, rows, percent, abort);
}

}  // namespace korvex
