#include "tables/sql/query/korvex_query.h"

#include <algorithm>
#include <cstring>

#include "platform/dataset/fields.h"
#include "platform/runtime/exceptions.h"
#include "tables/components/messages.h"
#include "tables/components/sessions.h"
#include "tables/components/table_defs.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"
#include "tables/sql/query/param_markers.h"

namespace korvex {

namespace {

constexpr const char* kOpenDataSet = "Cannot perform this operation on an open dataset";
constexpr const char* kCircularLinks = "Circular datalinks are not allowed";

bool AskSessionPassword(void* user, const char*, char*) {
  return static_cast<TKORVEXSession*>(user)->GetPassword();
}

}  // namespace

// ---- TKORVEXQueryDataLink ---------------------------------------------------------------

void TKORVEXQueryDataLink::ActiveChanged() {
  if (query_->Active()) query_->RefreshParams();
}

void TKORVEXQueryDataLink::RecordChanged(db::TField* field) {
  if (field == nullptr && query_->Active()) query_->RefreshParams();
}

void TKORVEXQueryDataLink::CheckBrowseMode() {
  if (query_->Active()) query_->CheckBrowseMode();
}

// ---- TKORVEXQuery ---------------------------------------------------------------------

TKORVEXQuery::TKORVEXQuery(rtl::TComponent* owner) : TKORVEXDBDataSet(owner) {
  sql_.OnChange = [this](rtl::TObject*) { QueryChanged(); };
}

TKORVEXQuery::~TKORVEXQuery() {
  try {
    Disconnect();
  } catch (...) {
  }
  sql_.OnChange = nullptr;
  link_.SetDataSource(nullptr);
}

void TKORVEXQuery::SetSQL(const std::string& text) {
  if (sql_.Text() == text) return;
  Disconnect();
  sql_.BeginUpdate();
  sql_.SetText(text);
  sql_.EndUpdate();
}

void TKORVEXQuery::SetSQLScript(const std::string& text) {
  if (sql_script_.Text() == text) return;
  sql_script_.BeginUpdate();
  sql_script_.SetText(text);
  sql_script_.EndUpdate();
}

void TKORVEXQuery::QueryChanged() {
  const std::string sql = sql_.Text();
  if ((ComponentState() & rtl::csLoading) != 0) {
    text_ = CreateParams(nullptr, sql);
    return;
  }
  Disconnect();
  binary_sql_.clear();
  if (ParamCheck || (ComponentState() & rtl::csDesigning) != 0) {
    TKORVEXParams fresh;
    text_ = CreateParams(&fresh, sql);
    fresh.AssignValues(params_);
    params_.Clear();
    while (fresh.Count() > 0) {
      TKORVEXParam* p = fresh.At(0);
      fresh.RemoveParam(p);
      params_.AddParam(p);
    }
  } else {
    text_ = CreateParams(nullptr, sql);
  }
}

void TKORVEXQuery::Loaded() {
  TKORVEXDBDataSet::Loaded();
  text_ = CreateParams(nullptr, sql_.Text());
}

void TKORVEXQuery::SetRequestLive(bool value) {
  if (value == request_live_) return;
  CheckInactive();
  request_live_ = value;
}

void TKORVEXQuery::SetMaxRowCount(std::int32_t value) {
  if (value == max_row_count_) return;
  max_row_count_ = value;
  if (statement_) statement_->SetMaxNumOfRows(value);
}

std::unique_ptr<TQueryStatement> TKORVEXQuery::NewStatement(bool live, std::int32_t max_rows) {
  TDataDirectory* directory = DBHandle();
  TSessionLocale locale;
  if (directory && directory->Session()) locale = {directory->Session()->LanguageID, directory->Session()->SortID};
  auto statement = std::make_unique<TQueryStatement>(directory, locale);
  statement->SetWantLiveResult(live);
  statement->SetMaxNumOfRows(max_rows);
  statement->SetPasswordCallback(&AskSessionPassword, DBSession());
  return statement;
}

// A prepared statement holds the query's database (flag dbfPrepared) for
// as long as it lives, whichever way it was prepared.
void TKORVEXQuery::SetPrepared(bool value) {
  if (Active()) rtl::DatabaseError(kOpenDataSet);
  if (value == prepared_) return;
  if (!value) {
    statement_.reset();
    prepared_ = false;
    SetDBFlag(dbfPrepared, false);
    return;
  }
  if (text_.size() < 2) rtl::DatabaseError(cmsg::kEmptySQLStatement);
  const bool held = (DBFlags() & (1u << dbfPrepared)) != 0;
  SetDBFlag(dbfPrepared, true);
  try {
    auto statement = NewStatement(request_live_, max_row_count_);
    std::int32_t position = 0;
    statement->PrepareStatement(text_, position);
    statement_ = std::move(statement);
  } catch (...) {
    if (!held) SetDBFlag(dbfPrepared, false);
    throw;
  }
  prepared_ = true;
}

void TKORVEXQuery::Prepare() { SetPrepared(true); }

void TKORVEXQuery::UnPrepare() { SetPrepared(false); }

void TKORVEXQuery::SetDBFlag(int flag, bool value) {
  // The statement goes before the database it was prepared on.
  if (!value && prepared_ && DBFlags() == (1u << flag)) {
    statement_.reset();
    prepared_ = false;
  }
  TKORVEXDBDataSet::SetDBFlag(flag, value);
}

void TKORVEXQuery::Disconnect() {
  Close();
  UnPrepare();
}

void TKORVEXQuery::SetDataSource(db::TDataSource* source) {
  if (source != nullptr && IsLinkedTo(source)) rtl::DatabaseError(kCircularLinks);
  link_.SetDataSource(source);
}

void TKORVEXQuery::SetParamsFromCursor() {
  db::TDataSet* master = link_.DataSet();
  if (master == nullptr) return;
  master->FieldDefs().Update();
  for (int i = 0; i < params_.Count(); ++i) {
    TKORVEXParam* p = params_.At(i);
    if (p->Bound()) continue;
    if (db::TField* field = master->FindField(p->Name())) {
      p->AssignField(*field);
      p->SetBound(false);
    }
  }
}

void TKORVEXQuery::RefreshParams() {
  db::TDataSet* master = link_.DataSet();
  DisableControls();
  try {
    if (master != nullptr && master->Active() && master->State() != db::dsSetKey) {
      Close();
      Open();
    }
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
}

void TKORVEXQuery::BindParams(TQueryStatement& statement) {
  const int count = params_.Count();
  if (count == 0) return;
  std::vector<TFieldDefinition> definitions(static_cast<std::size_t>(count));
  std::vector<std::string> kept(static_cast<std::size_t>(count));
  // A parameter never given a type has no value to bind.
  for (int i = 0; i < count; ++i)
    if (params_.At(i)->DataType() == db::ftUnknown) rtl::DatabaseErrorFmt(cmsg::kNoParameterValue, {params_.At(i)->Name()});
  std::size_t size = 0;
  for (int i = 0; i < count; ++i) size += 1 + params_.At(i)->RecBufDataSize();
  std::vector<std::uint8_t> buffer(size, 0);
  std::size_t offset = 0;
  for (int i = 0; i < count; ++i) {
    const TKORVEXParam* p = params_.At(i);
    TFieldDefinition& d = definitions[static_cast<std::size_t>(i)];
    d.FieldNumber = static_cast<std::uint16_t>(i + 1);
    d.Name = p->Name().substr(0, 30);
    if (p->DataType() == db::ftString && p->BindsAsBlob()) {
      d.DataType = dtBlob;
      d.SubType = fstMemo;
    } else {
      EngineTypeOf(p->DataType(), d.DataType, d.SubType);
    }
    if (d.DataType == dtUnknown) rtl::DatabaseErrorFmt(cmsg::kNoParameterValue, {p->Name()});
    const std::size_t data_size = p->RecBufDataSize();
    d.PhysicalSize = static_cast<std::uint8_t>(std::min<std::size_t>(data_size, 255));
    if (!p->BindsAsBlob() && data_size > 255) rtl::DatabaseErrorFmt(cmsg::kFieldUnsupportedType, {p->Name()});
    if (p->DataType() == db::ftBCD) d.Decimals = d.PhysicalDecimals = 4;
    d.Offset = static_cast<decltype(d.Offset)>(offset);
    if (!p->IsNull()) {
      buffer[offset] = 1;
      p->RecBufGetData(buffer.data() + offset + 1, kept[static_cast<std::size_t>(i)]);
    }
    offset += data_size + 1;
    // Definitions place their values by 16-bit offsets.
    if (offset > 0xFFFF) rtl::DatabaseError("Parameter values exceed 65535 bytes");
  }
  statement.SetStatementParameters(count, definitions.data(), buffer.data());
}

bool TKORVEXQuery::QueryProgress(void* user, std::int32_t rows, std::uint16_t percent, bool& abort) {
  auto* query = static_cast<TKORVEXQuery*>(user);
  if (query->OnQueryProgress) query->OnQueryProgress(query, rows, percent, abort);
  return true;
}

TDataCursor* TKORVEXQuery::CreateCursor(bool want_result) {
  if (sql_.Count() == 0) rtl::DatabaseError(cmsg::kEmptySQLStatement);
  Prepare();
  if (link_.DataSource() != nullptr) SetParamsFromCursor();
  BindParams(*statement_);
  statement_->SetQueryProgressCallback(&QueryProgress, this);
  TDataCursor* result = nullptr;
  statement_->ExecuteStatement(result);
  rows_affected_ = statement_->GetRowsAffected();
  execution_time_ = statement_->GetExecutionTime();
  return want_result ? result : nullptr;
}

TDataCursor* TKORVEXQuery::CreateHandle() {
  TDataCursor* result = CreateCursor(true);
  if (result) result->SetToBegin();
  return result;
}

void TKORVEXQuery::ExecSQL() {
  CheckInactive();
  SetDBFlag(dbfExecSQL, true);
  try {
    CreateCursor(false);
  } catch (...) {
    SetDBFlag(dbfExecSQL, false);
    throw;
  }
  SetDBFlag(dbfExecSQL, false);
}

void TKORVEXQuery::ExecSQLScript() {
  SetDBFlag(dbfExecSQL, true);
  in_script_ = true;
  const std::string script = sql_script_.Text();
  rows_affected_ = 0;
  execution_time_ = 0;
  script_type_ = stUnknown;
  std::int32_t position = 0;
  const auto size = static_cast<std::int32_t>(script.size());
  auto finish = [&] {
    in_script_ = false;
    SetDBFlag(dbfExecSQL, false);
  };
  try {
    while (position < size && script[static_cast<std::size_t>(position)] != '\0') {
      const std::int32_t start = position;
      try {
        auto statement = NewStatement(true, -1);
        statement->SetQueryProgressCallback(&QueryProgress, this);
        statement->PrepareStatement(script, position);
        script_type_ = StatementTypeOfKind(statement->GetStatementType());
        // A plain SELECT gives nothing a script could use; SELECT ... INTO
        // makes a table.
        const bool into = statement->MainQuery() && !statement->MainQuery()->ResultTableName.empty();
        if (script_type_ != stSelect || into) {
          TDataCursor* result = nullptr;
          statement->ExecuteStatement(result);
          rows_affected_ += statement->GetRowsAffected();
          execution_time_ += statement->GetExecutionTime();
        }
      } catch (const std::exception& e) {
        // A statement that failed before its end was read is passed over
        // whole.
        if (position <= start) position = static_cast<std::int32_t>(FindStatementEnd(script, static_cast<std::size_t>(start)));
        if (position <= start) position = size;
        if (!OnScriptError) throw;
        bool abort = true;
        OnScriptError(this, e, abort);
        if (abort) break;
      }
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void TKORVEXQuery::SaveToTable(const std::string& table_name) {
  if (!statement_ || Handle() == nullptr) rtl::DatabaseError(cmsg::kHandleError);
  statement_->SaveResultToTable(table_name.substr(0, 255), [this](std::uint32_t rows, std::uint16_t percent) {
    if (OnSaveProgress) OnSaveProgress(this, static_cast<int>(rows), percent);
  });
}

TSQLStatementType TKORVEXQuery::StatementType() const {
  return statement_ ? StatementTypeOfKind(statement_->GetStatementType()) : stUnknown;
}

bool TKORVEXQuery::ResultIsLive() const { return statement_ && statement_->GetIsLiveResult(); }

void TKORVEXQuery::ReadBinarySQL(rtl::TStream& stream) {
  const std::int64_t left = stream.Size() - stream.Position();
  std::string block(static_cast<std::size_t>(std::max<std::int64_t>(left, 0)), '\0');
  if (!block.empty()) stream.ReadBuffer(block.data(), static_cast<std::int64_t>(block.size()));
  binary_sql_ = std::move(block);
}

void TKORVEXQuery::WriteBinarySQL(rtl::TStream& stream) const {
  if (!binary_sql_.empty()) stream.WriteBuffer(binary_sql_.data(), static_cast<std::int64_t>(binary_sql_.size()));
}

}  // namespace korvex
