// TDataQuery: one query of an SQL statement, the main one or a sub-select.
//
// Parsing fills the query's model: the statement kind, the clause lists of
// clauses.h, the WHERE and HAVING trees, the clause flags and the result
// table settings. The parsers are hand-written recursive descent over the
// statement's expression parser (one per statement kind: parse_select.cpp,
// parse_change.cpp, parse_definition.cpp); every expression goes to the
// expression grammar of tables/lib. Parsing looks at no table: names are
// bound when the query is prepared.
//
// Every failure raises engine error 11949 ("SQL error - %s") with the
// message; a message about a token ends with the token's text and "'".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tables/lib/expparser.h"
#include "tables/lib/subselect.h"
#include "tables/sql/clauses.h"
#include "tables/sql/query_plan.h"

namespace korvex {

class TQueryStatement;
class TSelectExecutor;
class TChangeExecutor;
class TDefinitionExecutor;
class TSqlReader;

// Statement kinds (0 before parsing).
enum TStatementKind : std::uint8_t {
  skNone = 0,
  skSelect = 1,
  skInsert = 2,
  skUpdate = 3,
  skDelete = 4,
  skCreateTable = 5,
  skAlterTable = 6,
  skDropTable = 7,
  skCreateIndex = 8,
  skDropIndex = 9,
};

// Asked while a table of an encrypted source opens; the engine's callback.
using TPasswordCallback = bool (*)(void* user_data, const char* table_name, char* password);
// Rows read so far, percent (0-100), abort flag by reference.
using TQueryProgressCallback = bool (*)(void* user_data, std::int32_t rows_read, std::uint16_t percent,
                                        bool& abort);

inline constexpr std::uint8_t kNoLiveOrderByIndex = 255;
inline constexpr std::uint16_t kDefaultBlobBlockSize = 512;

class TDataQuery : public TCountedObject, public TSubSelectQuery {
public:
  explicit TDataQuery(TQueryStatement* statement);
  ~TDataQuery() override;
  TDataQuery(const TDataQuery&) = delete;
  TDataQuery& operator=(const TDataQuery&) = delete;

  // Resets the model for a new parse: every list and tree emptied, every
  // flag and setting at its start value. The maximum number of rows and the
  // wanted live result keep their values.
  void InitializeQuery();

  // Parses one statement from the statement's parser at its current token
  // (a sub-select or the SELECT of an INSERT when `nested`). Does nothing
  // once a SELECT has been executed.
  void ParseQuery(bool nested) override;

  // A SELECT is prepared by opening its source tables, binding its names
  // and laying out its result table (select_executor.h); executing builds
  // the result table, which stays owned by the query. Other statement kinds
  // are not executed yet: preparing does nothing, executing measures an
  // empty run.
  void PrepareQuery();
  void ExecuteQuery(TDataCursor*& result);
  // The SELECT's executor (nullptr for other kinds).
  TSelectExecutor* SelectExecutor() const { return executor_.get(); }
  // An INSERT ... SELECT that takes its SELECT's rows as they are found
  // (TChangeExecutor::StreamsSubSelect): its SELECT is not executed apart.
  bool TakesSubSelectRows() const;
  // Executes a SELECT handing each result row to `row` (see
  // TSelectExecutor::Stream); its result table stays empty.
  void StreamRows(const std::function<bool(std::uint8_t*)>& row);

  int SelectedColumnCount() const override { return ResultFields.Count(); }
  bool VerifySubSelectFieldData(TExpToken* node) override;
  void BuildSubSelectFilter(TExpToken* comparison) override;
  // Under a sub-select's filter, the rows that pass it.
  std::int32_t GetResultRecordCount() override {
    return sub_select_filtered_ ? sub_select_matches_ : RowsAffected;
  }

  void SetPasswordCallback(TPasswordCallback callback, void* user_data);
  void SetQueryProgressCallback(TQueryProgressCallback callback, void* user_data);
  // A cursor of this query about to open the table `name` asks the password
  // callback, when there is one, for a password the table's encryption
  // needs.
  void GivePasswordCallback(TDataCursor& cursor, const std::string& name);
  // Calls the progress callback, when there is one.
  void DoQueryProgress(std::int32_t rows, std::uint16_t percent, bool& abort);

  // ---- the model -----------------------------------------------------------
  TQueryStatement* Statement;
  TDataDirectory* ResultDirectory = nullptr;
  bool Executed = false;
  bool Nested = false;
  std::uint8_t StatementKind = skNone;  // TStatementKind
  double ExecutionTime = 0;             // seconds
  bool WantLiveResult = false;
  std::int32_t RowsAffected = 0;
  // What the last execution did (the model dump's "plan" lines): see
  // query_plan.h.
  TQueryPlan Plan;
  std::int32_t MaxNumOfRows = -1;       // -1: no limit
  TPasswordCallback PasswordCallback = nullptr;
  void* PasswordUserData = nullptr;
  TQueryProgressCallback ProgressCallback = nullptr;
  void* ProgressUserData = nullptr;

  // Clause flags.
  bool Distinct = false;
  bool HasAvg = false;
  bool HasCalculatedColumn = false;
  bool HasScanExpression = false;
  bool HasTempScanExpression = false;
  bool MultipleSourceTables = false;
  bool NoJoinOptimize = false;
  bool HasWhere = false;            // WHERE or a join condition
  bool HavingParsed = false;
  bool HasOrderBy = false;
  bool LiveOrderBy = false;         // an index of the driving table serves ORDER BY
  std::uint8_t LiveOrderByIndex = kNoLiveOrderByIndex;
  bool OrderByNoCase = false;
  bool HasGroupBy = false;
  bool SingleRowResult = false;
  bool SimpleFunctionResult = false;
  bool HavingGiven = false;
  bool LiveResult = false;
  bool InPlaceResult = false;
  bool IntoMemory = false;
  bool InsertWithSubSelect = false;
  bool SourceHasBlobs = false;

  std::string ResultTableName;  // INTO name; the target of a data definition statement
  TDataCursor* ResultCursor = nullptr;
  bool WithLocks = false;
  TSourceTable* DrivingTable = nullptr;

  TOwnedList<TSourceTable> SourceTables{true};  // freed from the front
  TOwnedList<TResultField> ResultFields;
  TOwnedList<TUpdateField> UpdateFields;
  TOwnedList<TUpdateValue> UpdateValues;
  TOwnedList<TCreateField> CreateFields;
  TOwnedList<TCreateIndex> CreateIndexes;
  TOwnedList<TOrderByField> OrderByFields;
  TOwnedList<TGroupByField> GroupByFields;

  // Owned trees. WHERE holds every JOIN ... ON condition, joined by AND.
  TExpToken* WhereExpression = nullptr;
  TExpToken* HavingExpression = nullptr;
  TExpToken* ScanExpression = nullptr;
  TExpToken* TempScanExpression = nullptr;

  // Result table settings given by the statement.
  bool Encrypted = false;
  std::string Password;
  std::uint16_t LanguageID = 0;
  std::uint16_t SortID = 0;
  std::uint16_t BlobBlockSize = kDefaultBlobBlockSize;
  std::string Description;
  std::uint16_t UserMajorVersion = 1;
  std::uint16_t UserMinorVersion = 0;
  std::int32_t LastAutoInc = -1;
  bool NoBackup = false;
  bool NoAutoInc = false;
  std::int32_t CommitInterval = 0;
  bool InMemory = false;  // MEMORY before the target of a data definition statement
  bool LanguageGiven = false;
  bool SortGiven = false;
  bool DescriptionGiven = false;
  bool BlockSizeGiven = false;
  bool MajorVersionGiven = false;
  bool MinorVersionGiven = false;
  bool EncryptionGiven = false;
  bool AutoIncGiven = false;
  bool CommitIntervalGiven = false;

private:
  // Parsers of the statement kinds; each starts at the kind's first keyword.
  void ParseSelectQuery(TSqlReader& in);
  void ParseSelectColumnExpression(TSqlReader& in, TResultField* field);
  void ParseSourceTables(TSqlReader& in);
  // A table name with its optional correlation name; a bare correlation
  // name may not be one of `keywords`.
  TSourceTable* ParseSourceTable(TSqlReader& in, std::string_view name_message, std::string_view memory_message,
                                 bool allow_as, const std::vector<std::string_view>& keywords);
  void ParseJoin(TSqlReader& in, std::uint8_t join_type);
  void ParseOrderedItems(TSqlReader& in, bool order_by);
  void ParseLanguageClause(TSqlReader& in);
  void ParseEncryption(TSqlReader& in);
  void ParseInsertQuery(TSqlReader& in);
  void ParseUpdateQuery(TSqlReader& in);
  void ParseDeleteQuery(TSqlReader& in);
  void ParseWhereClause(TSqlReader& in);
  void ParseCommitInterval(TSqlReader& in);
  // One INSERT or UPDATE value.
  void ParseUpdateValue(TSqlReader& in);
  void ParseCreateTableQuery(TSqlReader& in);
  void ParseCreateIndexQuery(TSqlReader& in);
  void ParseAlterTableQuery(TSqlReader& in);
  void ParseDropTableQuery(TSqlReader& in);
  void ParseDropIndexQuery(TSqlReader& in);
  void ParseDefinitionTarget(TSqlReader& in, std::string_view name_message);
  TCreateField* ParseColumnDefinition(TSqlReader& in, bool type_required);
  void ParseRename(TSqlReader& in, TCreateField* field);
  void ParseColumnOptions(TSqlReader& in, TCreateField* field, bool with_position);
  void ParseIndexOptions(TSqlReader& in, TCreateIndex* index);
  void ParsePrimaryKey(TSqlReader& in, TCreateIndex* index);
  void ParseIndexColumns(TSqlReader& in, TCreateIndex* index);
  void ParseCompression(TSqlReader& in, TCreateIndex* index);
  void ParseTableOptions(TSqlReader& in);
  void AndWhere(TExpToken* condition);

  std::unique_ptr<TSelectExecutor> executor_;
  std::unique_ptr<TChangeExecutor> change_executor_;  // INSERT, UPDATE, DELETE
  std::unique_ptr<TDefinitionExecutor> definition_executor_;  // CREATE, ALTER, DROP
  bool sub_select_filtered_ = false;
  std::int32_t sub_select_matches_ = 0;
  // Set on the SELECT of an INSERT: NOAUTOINC and COMMIT end its FROM list.
  bool insert_source_ = false;
};

}  // namespace korvex
