#include "tables/sql/statement.h"

#include <algorithm>
#include <cstring>

#include "tables/engine/errors/errors.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/language_settings.h"
#include "tables/sql/live_result.h"

namespace korvex {

namespace {

// The longest text a string value holds.
constexpr std::int32_t kMaxStringParameter = 250;

}  // namespace

TSQLStatementType StatementTypeOfKind(int kind) {
  switch (kind) {
    case skSelect: return stSelect;
    case skInsert: return stInsert;
    case skUpdate: return stUpdate;
    case skDelete: return stDelete;
    case skCreateTable: return stCreateTable;
    case skAlterTable: return stAlterTable;
    case skDropTable: return stDropTable;
    case skCreateIndex: return stCreateIndex;
    case skDropIndex: return stDropIndex;
    default: return stUnknown;
  }
}

std::size_t FindStatementEnd(std::string_view text, std::size_t position) {
  // The lexer reads a text only up to its first zero byte.
  const std::size_t n = text.size();
  std::size_t i = position;
  while (i < n) {
    const char c = text[i];
    if (c == '\0') return n;
    if (c == '\'' || c == '"') {
      std::size_t j = i + 1;
      for (;; ++j) {
        if (j >= n) return n;
        if (text[j] != c) continue;
        if (j + 1 < n && text[j + 1] == c) {
          ++j;
          continue;
        }
        break;
      }
      i = j + 1;
    } else if (c == '[') {
      std::size_t close = text.find(']', i + 1);
      if (close == std::string_view::npos) return n;
      i = close + 1;
    } else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
      std::size_t close = text.find("*/", i + 2);
      if (close == std::string_view::npos) return n;
      i = close + 2;
    } else if (c == ';') {
      return i + 1;
    } else {
      ++i;
    }
  }
  return n;
}

void WriteBlobParameter(std::uint8_t* field, const void* data, std::int32_t length, bool is_null) {
  field[0] = is_null ? 0 : 1;
  std::memcpy(field + 1, &length, sizeof length);
  std::memcpy(field + 5, &data, sizeof data);
}

void ReadBlobParameter(const std::uint8_t* field, const void*& data, std::int32_t& length, bool& is_null) {
  is_null = field[0] == 0;
  std::memcpy(&length, field + 1, sizeof length);
  std::memcpy(&data, field + 5, sizeof data);
}

double ElapsedSeconds(std::chrono::steady_clock::time_point before, std::chrono::steady_clock::time_point after) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(after - before).count();
  return ms > 0 ? static_cast<double>(ms) / 1000.0 : 0.0;
}

TQueryStatement::TQueryStatement(TDataDirectory* directory, TSessionLocale locale)
    : directory_(directory), locale_(locale), parser_(this) {
  queries_.Add(new TDataQuery(this));
}

TQueryStatement::~TQueryStatement() {
  // The trees of the queries hold the parameter nodes.
  parameters_.clear();
  queries_.Clear();
}

TQueryStatement::NestingScope::NestingScope(TQueryStatement& statement) : statement_(statement) {
  if (statement_.nesting_ >= kMaxQueryNesting)
    RaiseError(err::kSqlError, {}, {}, {}, "Sub-select queries nested too deeply");
  ++statement_.nesting_;
}

void TQueryStatement::DropSubSelectQueries() { queries_.Truncate(1); }

void TQueryStatement::PrepareStatement(std::string_view text, std::int32_t& position) {
  const std::size_t start = std::min<std::size_t>(position < 0 ? 0 : static_cast<std::size_t>(position), text.size());
  TDataQuery* main = MainQuery();
  try {
    DropSubSelectQueries();
    parameters_.clear();
    bound_parameters_ = 0;
    main->Executed = false;
    parser_.SetErrorNumber(err::kSqlError);
    parser_.SetExpression(text.substr(start));
    {
      // The first token is read in the session's formats, as the rest is.
      LanguageSettingsScope settings(locale_.LanguageID, locale_.SortID);
      parser_.NextToken();
      main->ParseQuery(false);
    }
    for (std::int32_t i = queries_.Count() - 1; i >= 0; --i) {
      if (StepHook) StepHook(false, i);
      queries_[i]->PrepareQuery();
    }
  } catch (...) {
    // Nothing half-built stays behind: the sub-selects go, the main query is
    // empty again and no parameter node is left registered.
    DropSubSelectQueries();
    main->InitializeQuery();
    parameters_.clear();
    bound_parameters_ = 0;
    parser_.SetExpressionContext({});
    throw;
  }
  // The parser reads the text up to its first zero byte: a statement that
  // ends there ends the script.
  position = parser_.TokenKind() == tkEnd ? static_cast<std::int32_t>(text.size())
                                          : static_cast<std::int32_t>(start) + parser_.GetCurPos();
}

void TQueryStatement::ExecuteStatement(TDataCursor*& result) {
  result = nullptr;
  if (bound_parameters_ < static_cast<std::int32_t>(parameters_.size()))
    RaiseError(err::kSqlError, {}, {}, {}, "Internal parameter error");
  // The SELECT of an INSERT that takes its rows as found runs inside it.
  const bool streamed = MainQuery() && MainQuery()->TakesSubSelectRows();
  for (std::int32_t i = queries_.Count() - 1; i >= 1; --i) {
    if (StepHook) StepHook(true, i);
    if (i == 1 && streamed) continue;
    TDataCursor* discarded = nullptr;
    queries_[i]->ExecuteQuery(discarded);
  }
  if (StepHook) StepHook(true, 0);
  MainQuery()->ExecuteQuery(result);
}

void TQueryStatement::SetStatementParameters(std::int32_t count, const TFieldDefinition* definitions,
                                             const std::uint8_t* record_buffer) {
  for (std::int32_t i = 0; i < count; ++i) {
    if (i >= static_cast<std::int32_t>(parameters_.size()))
      RaiseError(err::kSqlError, {}, {}, {}, "Internal parameter error");
    const TFieldDefinition& definition = definitions[i];
    const std::uint8_t* field = record_buffer + definition.Offset;
    TExpToken* node = parameters_[i];
    node->DataType = definition.DataType;
    node->SubType = definition.SubType;
    node->Scale = definition.Decimals;
    if (definition.DataType == dtBlob) {
      const void* data = nullptr;
      std::int32_t length = 0;
      bool is_null = false;
      ReadBlobParameter(field, data, length, is_null);
      if (length < 0 || (length > 0 && !data)) RaiseError(err::kSqlError, {}, {}, {}, "Internal parameter error");
      node->Scale = 0;
      // A memo's text that fits a string is one: it compares with texts as
      // a string value does.
      const bool text = definition.SubType == fstMemo && length <= kMaxStringParameter;
      if (text) {
        node->DataType = dtString;
        node->SubType = fstNone;
      }
      node->SetDataSize(text ? length + 1 : length);
      node->ClearValue();
      if (length > 0) std::memcpy(node->ValueBuffer, data, static_cast<std::size_t>(length));
      node->IsNull = is_null;
    } else {
      node->SetDataSize(definition.PhysicalSize);
      node->ClearValue();
      std::memcpy(node->ValueBuffer, field + 1, definition.PhysicalSize);
      if (definition.DataType == dtString && definition.PhysicalSize > 0)
        node->ValueBuffer[definition.PhysicalSize - 1] = 0;
      node->IsNull = field[0] == 0;
    }
    if (node->IsNull) node->ClearValue();
    bound_parameters_ = std::max(bound_parameters_, i + 1);
  }
}

void TQueryStatement::MarkParametersBound(std::int32_t count) {
  if (count > static_cast<std::int32_t>(parameters_.size()))
    RaiseError(err::kSqlError, {}, {}, {}, "Internal parameter error");
  bound_parameters_ = std::max<std::int32_t>(count, 0);
}

std::uint8_t TQueryStatement::GetStatementType() const { return MainQuery() ? MainQuery()->StatementKind : 0; }
double TQueryStatement::GetExecutionTime() const { return MainQuery() ? MainQuery()->ExecutionTime : 0; }
bool TQueryStatement::GetIsLiveResult() const { return MainQuery() && MainQuery()->LiveResult; }
bool TQueryStatement::GetInPlaceResult() const { return MainQuery() && MainQuery()->InPlaceResult; }
bool TQueryStatement::GetWantLiveResult() const { return MainQuery() && MainQuery()->WantLiveResult; }
void TQueryStatement::SetWantLiveResult(bool value) {
  if (MainQuery()) MainQuery()->WantLiveResult = value;
}
std::int32_t TQueryStatement::GetMaxNumOfRows() const { return MainQuery() ? MainQuery()->MaxNumOfRows : -1; }
void TQueryStatement::SetMaxNumOfRows(std::int32_t value) {
  if (MainQuery()) MainQuery()->MaxNumOfRows = value;
}
void TQueryStatement::SaveResultToTable(const std::string& name,
                                        const std::function<void(std::uint32_t, std::uint16_t)>& progress) {
  TDataQuery* query = MainQuery();
  if (!query || !query->ResultCursor || !query->ResultCursor->IsOpen())
    RaiseError(err::kSqlError, {}, {}, {}, "There is no result to save");
  SaveResultRows(*query->ResultCursor, directory_, name, progress);
}

std::int32_t TQueryStatement::GetRowsAffected() const { return MainQuery() ? MainQuery()->RowsAffected : 0; }
void TQueryStatement::SetPasswordCallback(TPasswordCallback callback, void* user_data) {
  if (MainQuery()) MainQuery()->SetPasswordCallback(callback, user_data);
}
void TQueryStatement::SetQueryProgressCallback(TQueryProgressCallback callback, void* user_data) {
  if (MainQuery()) MainQuery()->SetQueryProgressCallback(callback, user_data);
}

void TQueryStatement::AddDataQuery(TDataQuery* query) { queries_.Add(query); }

TSubSelectQuery* TQueryStatement::NewSubSelectQuery() {
  auto* query = new TDataQuery(this);
  AddDataQuery(query);
  query->WantLiveResult = true;
  return query;
}

void TQueryStatement::AddParameter(TExpToken* node) { parameters_.push_back(node); }

void TQueryStatement::RemoveParameter(TExpToken* node) {
  auto it = std::find(parameters_.begin(), parameters_.end(), node);
  if (it != parameters_.end()) parameters_.erase(it);
}

}  // namespace korvex
