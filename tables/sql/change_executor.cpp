#include "tables/sql/change_executor.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/runtime/exceptions.h"
#include "platform/runtime/sysutils.h"
#include "tables/engine/base/scope_exit.h"
#include "tables/engine/errors/errors.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/expcheck.h"
#include "tables/lib/expconvert.h"
#include "tables/lib/language_settings.h"
#include "tables/sql/select_executor.h"
#include "tables/sql/statement.h"
#include "tables/sql/statement_undo.h"

namespace korvex {

namespace {

[[noreturn]] void Fail(const std::string& message) { RaiseError(err::kSqlError, {}, {}, {}, message); }

std::mutex observer_lock;
TTransactionObserver& Observer() {
  static TTransactionObserver observer;
  return observer;
}


// 8191 as "8,191".
std::string GroupedNumber(std::uint32_t n) {
  std::string digits = std::to_string(n);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ',');
  return digits;
}

// Throws the error being handled again, its message followed by `note`.
[[noreturn]] void AppendToError(const std::string& note) {
  if (note.empty()) throw;
  try {
    throw;
  } catch (rtl::Exception& e) {
    e.SetMessage(e.Message() + note);
    throw;
  }
}

const char* StatementName(std::uint8_t kind) { return kind == skInsert ? "INSERT" : "UPDATE"; }

std::atomic<bool> direct_values{true};
std::atomic<std::uint64_t> direct_computed{0}, integral_computed{0};

bool DirectLeaf(const TExpToken* node, bool text_allowed) {
  if (!node || node->Left || node->Right || node->Third) return false;
  if (node->NodeClass != enFIELD && node->NodeClass != enCONST) return false;
  return node->DataType != dtBlob && (text_allowed || !IsTextType(node->DataType));
}

}  // namespace

void SetDirectUpdateValues(bool on) { direct_values = on; }
std::uint64_t DirectUpdateValuesComputed() { return direct_computed; }
std::uint64_t IntegralUpdateValuesComputed() { return integral_computed; }

struct TChangeExecutor::Column {
  int field = 0;  // 1-based field number in the target
  TFieldDefinition def;
  TExpToken* value = nullptr;  // not owned: the query's value tree
  std::string value_text;
};

// An UPDATE value computed row by row without the general evaluator: a
// column, a constant, or + - * / over two of them that are not texts. Each
// column operand is read as the evaluator reads it (ReadColumnValue) and
// the arithmetic is the evaluator's own (EvaluateBinary), so the answers
// are the same; no node is copied or taken from the pool per row.
class TChangeExecutor::DirectValue {
public:
  // nullptr unless the tree has one of those shapes.
  static std::unique_ptr<DirectValue> For(const TExpToken* node) {
    if (!direct_values || !node) return nullptr;
    if (DirectLeaf(node, true)) return std::unique_ptr<DirectValue>(new DirectValue(node));
    const std::uint8_t op = node->Operator & 0x7F;
    if (node->NodeClass != enBINARY || (op != eoADD && op != eoSUB && op != eoMUL && op != eoDIV) ||
        IsTextType(node->DataType) || node->Third || !DirectLeaf(node->Left, false) || !DirectLeaf(node->Right, false))
      return nullptr;
    return std::unique_ptr<DirectValue>(new DirectValue(node));
  }

  const TExpToken* Compute(TDataCursor& cursor, const std::uint8_t* record, TLocalePair locale) {
    if (node_->NodeClass != enBINARY) return Operand(node_, left_.get(), cursor, record);
    const TExpToken* left = Operand(node_->Left, left_.get(), cursor, record);
    const TExpToken* right = Operand(node_->Right, right_.get(), cursor, record);
    // The node's own fields and value, as a copy of it would start.
    TExpToken& result = *result_;
    result.IsNull = node_->IsNull;
    result.DataType = node_->DataType;
    result.SubType = node_->SubType;
    result.DataSize = node_->DataSize;
    result.Scale = node_->Scale;
    std::memcpy(result.ValueBuffer, node_->ValueBuffer, static_cast<std::size_t>(node_->ValueCapacity));
    EvaluateBinary(node_->Operator, left, right, &result, locale, node_);
    return &result;
  }

  // + - * over integral columns and constants stored into an INTEGER
  // column, straight from the record's bytes into the new record's: what
  // the evaluator and StoreValue do for these (NULL in, NULL out; an
  // answer outside 32 bits raises the evaluator's overflow error; no
  // conversion, the types being the same).
  // False, having stored nothing, for any other shape.
  bool StoreIntegral(TDataCursor& cursor, const Column& column, std::uint8_t* record, const std::uint8_t* old) {
    if (integral_ == Integral::Unknown) integral_ = PrepareIntegral(cursor, column);
    if (integral_ == Integral::No) return false;
    bool null = false;
    const std::int64_t a = IntegralOperand(operands_[0], old, null), b = IntegralOperand(operands_[1], old, null);
    if (null) {
      cursor.PutField(column.field, record, nullptr);
      return true;
    }
    const std::int64_t value = op_ == eoADD ? a + b : op_ == eoSUB ? a - b : a * b;
    if (value < INT32_MIN || value > INT32_MAX) RaiseArithmeticOverflow(node_, op_, nullptr, nullptr);
    const auto answer = static_cast<std::int32_t>(value);
    std::uint8_t data[sizeof answer];
    std::memcpy(data, &answer, sizeof answer);
    cursor.PutField(column.field, record, data);
    return true;
  }

private:
  enum class Integral : std::uint8_t { Unknown, No, Yes };
  // A constant's value, or where a column's null mark and bytes lie.
  struct IntegralSource {
    bool constant = false, null = false;
    std::int64_t value = 0;
    std::uint32_t offset = 0;
    std::uint8_t type = dtUnknown;
  };

  static bool IntegralOperandOf(TDataCursor& cursor, const TExpToken* node, IntegralSource& source) {
    if (!IsIntegralType(node->DataType)) return false;
    source.type = node->DataType;
    if (node->NodeClass == enCONST) {
      source.constant = true;
      source.null = node->IsNull;
      source.value = node->IsNull ? 0 : node->IntegralValue();
      return true;
    }
    if (node->FieldNumber <= 0 || node->FieldNumber > cursor.GetFieldCount()) return false;
    const TFieldDefinition& f = cursor.GetFieldDefinitionByPos(node->FieldNumber);
    // The column's bytes are read as the token's type: only where they are
    // that type's own.
    if (f.DataType != node->DataType || f.IsAutoIncrement() || f.Calculated ||
        f.PhysicalSize != PhysicalSizeOf(f.DataType, 0))
      return false;
    source.offset = f.Offset;
    return true;
  }

  Integral PrepareIntegral(TDataCursor& cursor, const Column& column) {
    const TExpToken* node = node_;
    if (node->NodeClass != enBINARY) return Integral::No;
    op_ = node->Operator & 0x7F;
    if (op_ != eoADD && op_ != eoSUB && op_ != eoMUL) return Integral::No;
    if (!IntegralOperandOf(cursor, node->Left, operands_[0]) || !IntegralOperandOf(cursor, node->Right, operands_[1]))
      return Integral::No;
    if (GetBinaryResultDataType(op_, operands_[0].type, operands_[1].type) != dtInteger ||
        node->DataType != dtInteger || column.def.DataType != dtInteger || column.def.IsAutoIncrement())
      return Integral::No;
    return Integral::Yes;
  }

  static std::int64_t IntegralOperand(const IntegralSource& source, const std::uint8_t* record, bool& null) {
    if (source.constant) {
      null = null || source.null;
      return source.value;
    }
    const std::uint8_t* at = record + source.offset;
    if (at[0] == 0) {
      null = true;
      return 0;
    }
    switch (source.type) {
      case dtSmallInt: {
        std::int16_t v;
        std::memcpy(&v, at + 1, sizeof v);
        return v;
      }
      case dtWord: {
        std::uint16_t v;
        std::memcpy(&v, at + 1, sizeof v);
        return v;
      }
      default: {
        std::int32_t v;
        std::memcpy(&v, at + 1, sizeof v);
        return v;
      }
    }
  }

  explicit DirectValue(const TExpToken* node) : node_(node) {
    if (node->NodeClass == enBINARY) {
      result_->Copy(*node);
      if (node->Left->NodeClass == enFIELD) left_->Copy(*node->Left);
      if (node->Right->NodeClass == enFIELD) right_->Copy(*node->Right);
    } else if (node->NodeClass == enFIELD) {
      left_->Copy(*node);
    }
  }
  // A constant is its own value; a column's is read into `into`, whose
  // buffer past the field's bytes stays zero from its first reading.
  const TExpToken* Operand(const TExpToken* node, TExpToken* into, TDataCursor& cursor,
                           const std::uint8_t* record) {
    if (node->NodeClass == enCONST) return node;
    into->IsNull = false;
    const bool first = into == left_.get() ? !left_read_ : !right_read_;
    if (first || node->FieldNumber == 0) {
      ReadColumnValue(cursor, record, into);
      (into == left_.get() ? left_read_ : right_read_) = true;
      return into;
    }
    const TFieldDefinition& f = cursor.GetFieldDefinitionByPos(node->FieldNumber);
    const std::size_t size = std::size_t{f.PhysicalSize} + 1;
    if (into->DataSize != static_cast<std::int32_t>(size) || into->ValueCapacity < static_cast<std::int32_t>(size)) {
      ReadColumnValue(cursor, record, into);
      return into;
    }
    std::memset(into->ValueBuffer, 0, size);
    if (cursor.GetField(node->FieldNumber, record, into->ValueBuffer) ||
        (f.DataType == dtString && into->ValueBuffer[0] == 0))
      into->SetNullValue();
    return into;
  }

  const TExpToken* node_;
  TScratchExpToken left_, right_, result_;
  bool left_read_ = false, right_read_ = false;
  Integral integral_ = Integral::Unknown;
  std::uint8_t op_ = 0;
  IntegralSource operands_[2];
};

void SetTransactionObserver(TTransactionObserver observer) {
  std::lock_guard<std::mutex> guard(observer_lock);
  Observer() = std::move(observer);
}

std::int32_t DefaultCommitInterval(std::uint32_t record_size) {
  if (record_size == 0) return 8191;
  return static_cast<std::int32_t>(std::clamp<std::uint32_t>(262140 / record_size, 1, 8191));
}

TChangeExecutor::TChangeExecutor(TDataQuery& query) : query_(query) {}

TChangeExecutor::~TChangeExecutor() {
  if (!cursor_) return;
  try {
    cursor_->CloseCursor();
  } catch (...) {
  }
  if (target_) target_->Cursor = nullptr;
}

// ---- preparing ------------------------------------------------------------------

void TChangeExecutor::Prepare() {
  OpenTarget();
  BindColumns();
  CheckValues();
}

void TChangeExecutor::OpenTarget() {
  if (query_.SourceTables.Empty()) Fail("Table name expected");
  target_ = query_.SourceTables[0];
  target_->JoinOrder = 1;
  directory_ = target_->DataDirectory ? target_->DataDirectory : query_.Statement->DataDirectory();
  cursor_ = std::make_unique<TDataCursor>(directory_);
  cursor_->SetTableName(target_->TableName);
  cursor_->SetInMemory(target_->InMemory);
  query_.GivePasswordCallback(*cursor_, target_->TableName);
  cursor_->OpenCursor();
  // Physical order: a change never moves a record.
  cursor_->SetIndexPos(kPhysicalOrder);
  target_->Cursor = cursor_.get();
  locale_ = {cursor_->GetLanguageID(), cursor_->GetSortID()};
}

bool TChangeExecutor::LookupField(void* user, TExpToken* node) {
  auto* self = static_cast<TChangeExecutor*>(user);
  if (!node->TableName.empty() && !rtl::AnsiSameText(node->TableName, self->target_->CorrelationName)) return false;
  return BindCursorField(node, *self->cursor_, self->target_);
}

void TChangeExecutor::BindColumns() {
  const std::uint8_t kind = query_.StatementKind;
  if (kind == skDelete) return;
  for (TUpdateField* field : query_.UpdateFields) {
    if (field->ColumnName == "*" && kind == skInsert) {
      for (int i = 1; i <= cursor_->GetFieldCount(); ++i) {
        // Every field but a calculated one; an auto-increment value is kept
        // with NOAUTOINC.
        const TFieldDefinition& f = cursor_->GetFieldDefinitionByPos(i);
        if (f.Calculated) continue;
        columns_.push_back({i, f, nullptr, {}});
      }
      continue;
    }
    TExpToken probe;
    probe.NodeClass = enFIELD;
    probe.ColumnName = field->ColumnName;
    probe.TableName = field->CorrelationName;
    if (!LookupField(this, &probe) || cursor_->GetFieldDefinitionByPos(probe.FieldNumber).Calculated)
      Fail("Invalid column name '" + field->ColumnName + "' or table correlation name '" + field->CorrelationName +
           "' specified in table columns");
    // The column takes the table's own spelling of its name.
    const TFieldDefinition& f = cursor_->GetFieldDefinitionByPos(probe.FieldNumber);
    field->ColumnName = f.Name;
    columns_.push_back({probe.FieldNumber, f, nullptr, {}});
  }
  if (query_.InsertWithSubSelect) return;
  if (static_cast<std::int32_t>(columns_.size()) != query_.UpdateValues.Count())
    Fail("The number of values must match the number of table columns");
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    columns_[i].value = query_.UpdateValues[i]->Expression;
    columns_[i].value_text = query_.UpdateValues[i]->ValueText;
  }
}

void TChangeExecutor::CheckValues() {
  LanguageSettingsScope settings(query_.Statement->Locale().LanguageID, query_.Statement->Locale().SortID);
  // INSERT values name no column of the target.
  const TFieldLookup lookup =
      query_.StatementKind == skInsert ? [](void*, TExpToken*) { return false; } : &TChangeExecutor::LookupField;
  for (Column& column : columns_) {
    TExpToken* value = column.value;
    if (!value) continue;
    // A string value is a text even where it spells a column's name.
    const bool text = value->NodeClass == enCONST && value->DataType == dtString && !value->IsParameter;
    VerifyExpressionToken(err::kSqlError, {}, "update values", value, nullptr, this,
                          text ? [](void*, TExpToken*) { return false; } : lookup, false);
    if (value->IsParameter || value->IsNull || value->DataType == dtUnknown) continue;
    const std::uint8_t type = column.def.DataType;
    if (value->NodeClass == enCONST && value->DataType == dtString &&
        (type == dtDate || type == dtTime || type == dtTimeStamp)) {
      std::uint8_t buffer[kConvertBufferSize + 1] = {};
      std::strncpy(reinterpret_cast<char*>(buffer), value->StringValue(), kConvertBufferSize);
      if (!ConvertStringToDateTime(buffer, type))
        Fail("Date, time, or timestamp expression expected, instead found '" + column.value_text +
             "' in update values");
      value->DataType = type;
      value->SubType = 0;
      value->SetDataSize(PhysicalSizeOf(type, 0));
      value->ClearValue();
      std::memcpy(value->ValueBuffer, buffer, PhysicalSizeOf(type, 0));
      continue;
    }
    if (type == dtBlob && (value->DataType == dtString || value->DataType == dtBlob)) continue;
    if (value->DataType != type && !CheckBinaryTypes(eoEQ, type, column.def.SubType, value->DataType, value->SubType))
      Fail("Type mismatch between column '" + column.def.Name + "' and " + OperandKind(value) + " '" + column.value_text +
           "' in update values");
  }
  if (query_.WhereExpression) {
    RequireKnownCorrelations(query_.WhereExpression,
                             [&](const std::string& name) { return rtl::AnsiSameText(name, target_->CorrelationName); });
    where_has_parameters_ =
        VerifyBeforeBinding(query_.WhereExpression, this, &TChangeExecutor::LookupField, [&] { VerifyWhere(); });
  }
}

void TChangeExecutor::VerifyWhere() {
  LanguageSettingsScope settings(query_.Statement->Locale().LanguageID, query_.Statement->Locale().SortID);
  VerifyExpressionToken(err::kSqlError, {}, "WHERE or JOIN clause", query_.WhereExpression, nullptr, this,
                        &TChangeExecutor::LookupField, true);
  if (query_.WhereExpression->DataType != dtBoolean) Fail("WHERE or JOIN clause must be a boolean expression");
}

// ---- executing -------------------------------------------------------------------

bool TChangeExecutor::FieldValue(void* user, const void* record, TExpToken* result) {
  auto* self = static_cast<TChangeExecutor*>(user);
  ReadColumnValue(*self->cursor_, static_cast<const std::uint8_t*>(record), result);
  return true;
}

void TChangeExecutor::Transaction(TTransactionCall call) {
  {
    std::lock_guard<std::mutex> guard(observer_lock);
    if (Observer()) Observer()(call);
  }
  switch (call) {
    case TTransactionCall::Start: directory_->StartTransaction(); break;
    case TTransactionCall::CommitKeepOpen:
      // The statement's own transaction ends with a durable commit (or a
      // rollback) before it returns: its interval commits may end loose.
      directory_->CommitTransaction(false, !own_transaction_);
      cursor_->SynchLastUpdateStamps();
      break;
    case TTransactionCall::Commit:
      directory_->CommitTransaction(true);
      cursor_->SynchLastUpdateStamps();
      break;
    case TTransactionCall::Rollback: directory_->RollbackTransaction(); break;
  }
}

void TChangeExecutor::Execute() {
  query_.RowsAffected = 0;
  const std::uint8_t kind = query_.StatementKind;
  // Checked again with the parameters' values and types.
  if (where_has_parameters_) VerifyWhere();
  cursor_->SetSuppressAutoIncValues(query_.NoAutoInc && kind != skDelete);
  if (kind == skInsert && !query_.InsertWithSubSelect) {
    InsertValues();
    return;
  }
  own_transaction_ = !directory_->TransactionInProgress();
  interval_commits_ = own_transaction_ || query_.CommitIntervalGiven;
  interval_ = query_.CommitIntervalGiven ? query_.CommitInterval
                                         : DefaultCommitInterval(cursor_->GetPhysicalRecordSize());
  since_commit_ = 0;
  committed_ = 0;
  undo_.reset();
  if (!own_transaction_) {
    std::vector<int> blobs;
    for (const Column& column : columns_)
      if (kind == skUpdate && column.def.DataType == dtBlob) blobs.push_back(column.field);
    undo_ = std::make_unique<TStatementUndo>(*cursor_, query_.NoAutoInc && kind != skDelete, std::move(blobs));
  }
  if (own_transaction_) Transaction(TTransactionCall::Start);
  try {
    if (kind == skInsert) InsertFromSubSelect();
    else ChangeRows();
  } catch (...) {
    std::string kept;
    if (own_transaction_) {
      try {
        Transaction(TTransactionCall::Rollback);
      } catch (...) {
      }
      kept = CommittedNote();
    } else {
      kept = TakeBack();
    }
    try {
      cursor_->FreeAllBlobs(true);
      cursor_->SetToBegin();
    } catch (...) {
    }
    undo_.reset();
    query_.RowsAffected = static_cast<std::int32_t>(committed_);
    AppendToError(kept);
  }
  undo_.reset();
  if (!own_transaction_) return;
  try {
    Transaction(TTransactionCall::Commit);
  } catch (...) {
    // A statement's own transaction does not outlive it: a commit that
    // failed is rolled back (the intervals committed before stay).
    try {
      Transaction(TTransactionCall::Rollback);
    } catch (...) {
    }
    query_.RowsAffected = static_cast<std::int32_t>(committed_);
    AppendToError(CommittedNote());
  }
}

std::string TChangeExecutor::CommittedNote() const {
  if (committed_ == 0) return {};
  return "; " + GroupedNumber(committed_) + (committed_ == 1 ? " row was" : " rows were") +
         " committed before the error";
}

std::string TChangeExecutor::TakeBack() {
  if (!undo_) return {};
  try {
    undo_->Undo();
    return {};
  } catch (...) {
  }
  // What is left of the statement cannot stay in the transaction unseen.
  try {
    directory_->RollbackTransaction();
  } catch (...) {
  }
  return "; its changes could not be taken back, and the transaction was rolled back";
}

bool TChangeExecutor::RowDone(std::uint32_t rows_read, std::uint32_t total) {
  ++query_.RowsAffected;
  if (interval_commits_ && ++since_commit_ >= interval_) {
    since_commit_ = 0;
    Transaction(TTransactionCall::CommitKeepOpen);
    // The caller's transaction takes back all of a failed statement.
    if (own_transaction_) committed_ = static_cast<std::uint32_t>(query_.RowsAffected);
  }
  bool abort = false;
  const auto percent =
      static_cast<std::uint16_t>(total == 0 ? 100 : std::min<std::uint64_t>(100, rows_read * 100ull / total));
  query_.DoQueryProgress(static_cast<std::int32_t>(rows_read), percent, abort);
  return !abort;
}

bool TChangeExecutor::StoreValue(const Column& column, std::uint8_t* record, const TExpToken* value) {
  const TFieldDefinition& def = column.def;
  if (def.DataType == dtBlob) return PutBlobValue(*cursor_, column.field, record, value);
  if (!value || value->IsNull) {
    cursor_->PutField(column.field, record, nullptr);
    return true;
  }
  // A value's size is not always its type's: fixed-size types take their
  // own size.
  std::uint8_t data[kConvertBufferSize + 1] = {};
  std::size_t have = static_cast<std::size_t>(std::max<std::int32_t>(value->DataSize, 0));
  if (value->DataType != dtString && !IsBytesType(value->DataType)) have = PhysicalSizeOf(value->DataType, 0);
  have = std::min<std::size_t>({have, kConvertBufferSize - 1, static_cast<std::size_t>(value->ValueCapacity)});
  std::memcpy(data, value->ValueBuffer, have);
  if (value->DataType != def.DataType || def.DataType == dtString) {
    const auto from_size = static_cast<std::uint8_t>(value->DataType == dtString ? kConvertBufferSize : have);
    if (!ConvertExpression(value->DataType, from_size, value->Scale, def.DataType, def.PhysicalSize,
                           def.PhysicalDecimals, data))
      return false;
  }
  if (def.DataType == dtString && data[0] == 0) {
    cursor_->PutField(column.field, record, nullptr);
    return true;
  }
  cursor_->PutField(column.field, record, data);
  return true;
}

void TChangeExecutor::StoreOrFail(const Column& column, std::uint8_t* record, const TExpToken* value,
                                  const std::string& text) {
  if (StoreValue(column, record, value)) return;
  // A value of the column's kind that does not fit is refused as such, not
  // cut.
  const std::uint8_t to = column.def.DataType;
  if (to == dtString && value && value->DataType == dtString)
    Fail("Value too long for column " + column.def.Name);
  if (IsNumericType(to) && value && IsNumericType(value->DataType))
    Fail("Value out of range for column " + column.def.Name);
  Fail("Type mismatch between column " + column.def.Name + " and constant value " + text + " in " +
       StatementName(query_.StatementKind) + " statement");
}

void TChangeExecutor::InsertValues() {
  std::vector<std::uint8_t> record(cursor_->GetRecordSize());
  cursor_->InitRecord(record.data());
  try {
    for (const Column& column : columns_) {
      ExpTokenGuard value(EvaluateExpressionToken(column.value, nullptr, this, &FieldValue, locale_));
      StoreOrFail(column, record.data(), value.get(), column.value_text);
    }
    cursor_->AppendRecord(record.data(), false);
  } catch (...) {
    try {
      cursor_->FreeAllBlobs(true);
    } catch (...) {
    }
    throw;
  }
  query_.RowsAffected = 1;
}

bool TChangeExecutor::StreamsSubSelect() const {
  if (query_.StatementKind != skInsert || !query_.InsertWithSubSelect || query_.ProgressCallback || !cursor_ ||
      !cursor_->Table())
    return false;
  const auto& queries = query_.Statement->DataQueries();
  const TSelectExecutor* select = queries.Count() > 1 ? queries[1]->SelectExecutor() : nullptr;
  // A SELECT reading the target must see the rows the target had before.
  return select && select->CanStream() && !select->ReadsTable(cursor_->Table()->FileKey());
}

void TChangeExecutor::InsertFromSubSelect() {
  const auto& queries = query_.Statement->DataQueries();
  TDataQuery* sub = queries.Count() > 1 ? queries[1] : nullptr;
  const bool stream = StreamsSubSelect();
  TDataCursor* source = !sub ? nullptr : stream ? sub->SelectExecutor()->ResultLayout() : sub->ResultCursor;
  if (!source) Fail("The number of values must match the number of table columns");
  // The result's visible columns, in order.
  std::vector<int> fields;
  for (int i = 1; i <= source->GetFieldCount(); ++i)
    if (!source->GetFieldDefinitionByPos(i).Hidden) fields.push_back(i);
  if (fields.size() != columns_.size()) Fail("The number of values must match the number of table columns");
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const TFieldDefinition& from = source->GetFieldDefinitionByPos(fields[i]);
    const TFieldDefinition& to = columns_[i].def;
    const bool texts = (from.DataType == dtString || from.DataType == dtBlob) && to.DataType == dtBlob;
    // A text for a date, time or timestamp is read as one row by row.
    const bool dated = from.DataType == dtString && IsDateTimeType(to.DataType);
    if (from.DataType != to.DataType && !texts && !dated &&
        !CheckBinaryTypes(eoEQ, to.DataType, to.SubType, from.DataType, from.SubType))
      Fail("Type mismatch between column '" + to.Name + "' and column '" + from.Name + "' in update values");
  }
  // A column of the very type and size of its value takes the value's
  // bytes as they are: the conversion would give them back unchanged.
  std::vector<char> same(fields.size());
  std::size_t widest = 16;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const TFieldDefinition& from = source->GetFieldDefinitionByPos(fields[i]);
    const TFieldDefinition& to = columns_[i].def;
    same[i] = from.DataType == to.DataType && from.PhysicalSize == to.PhysicalSize &&
              from.PhysicalDecimals == to.PhysicalDecimals && to.DataType != dtBlob && !IsBytesType(to.DataType);
    widest = std::max<std::size_t>(widest, std::size_t{from.PhysicalSize} + 1);
  }
  std::vector<std::uint8_t> record(cursor_->GetRecordSize());
  TExpToken value;
  std::vector<std::uint8_t> bytes(widest);
  std::uint32_t read = 0, total = 0;
  auto insert = [&](std::uint8_t* row) {
    ++read;
    cursor_->InitRecord(record.data());
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (same[i]) {
        const bool blank = source->GetField(fields[i], row, bytes.data()) ||
                           (columns_[i].def.DataType == dtString && bytes[0] == 0);
        cursor_->PutField(columns_[i].field, record.data(), blank ? nullptr : bytes.data());
        continue;
      }
      const TFieldDefinition& from = source->GetFieldDefinitionByPos(fields[i]);
      value.NodeClass = enCONST;
      value.DataType = from.DataType;
      value.SubType = from.SubType;
      value.Scale = from.PhysicalDecimals;
      value.SetDataSize(std::max<int>(from.PhysicalSize + 1, 16));
      value.ClearValue();
      value.IsNull = from.DataType == dtBlob || source->GetField(fields[i], row, value.ValueBuffer);
      if (from.DataType == dtString && value.ValueBuffer[0] == 0) value.IsNull = true;
      if (from.DataType == dtBlob) {
        std::int64_t size = 0;
        if (source->OpenBlob(fields[i], row, 0) == 0 && source->GetBlobSize(fields[i], row, size) == 0 && size > 0) {
          value.SetDataSize(static_cast<std::int32_t>(size));
          value.ClearValue();
          std::int64_t got = 0;
          if (source->GetBlob(fields[i], row, 0, value.ValueBuffer, size, got) == 0) value.IsNull = false;
        }
        source->FreeBlob(fields[i], row);
      }
      StoreOrFail(columns_[i], record.data(), &value, from.Name);
    }
    cursor_->AppendRecord(record.data(), false);
    if (undo_) undo_->Appended();
    return RowDone(read, total);
  };
  if (stream) {
    // Each row goes to the target as the SELECT finds it (no copy of the
    // whole answer first).
    sub->StreamRows(insert);
    return;
  }
  total = source->GetRecordCount();
  std::vector<std::uint8_t> row(source->GetRecordSize());
  source->SetToBegin();
  while (source->GetNextRecord(row.data()) == 0)
    if (!insert(row.data())) break;
}

void TChangeExecutor::ChangeRows() {
  const bool deleting = query_.StatementKind == skDelete;
  TExpToken* where = query_.WhereExpression;
  // The WHERE conditions an index answers become the cursor's filter, so
  // that only the records they select are read (the same filters a SELECT
  // makes); the whole WHERE is still tested on each record read. A change
  // never moves a record, and the walk stays in physical order.
  std::vector<TExpToken*> conditions;
  SplitConjuncts(where, conditions);
  query_.Plan.Clear();
  query_.Plan.steps.push_back(PlanSourceAccess(where_filters_, *cursor_, conditions, locale_,
                                               TWhereFilters::TPass::Indexed, target_->CorrelationName,
                                               deleting ? "delete" : "update"));
  ScopeExit drop_filters{[&] { where_filters_.Clear(); }};
  const std::uint32_t total = cursor_->GetRecordCount();
  std::vector<std::uint8_t> old(cursor_->GetRecordSize()), record(cursor_->GetRecordSize());
  // The values of the common shapes, computed directly (with this
  // execution's parameters).
  std::vector<std::unique_ptr<DirectValue>> direct;
  if (!deleting)
    for (const Column& column : columns_) direct.push_back(DirectValue::For(column.value));
  std::uint64_t computed = 0, integral = 0;
  ScopeExit count_direct{[&] {
    direct_computed += computed;
    integral_computed += integral;
  }};
  cursor_->SetToBegin();
  std::uint32_t read = 0;
  while (cursor_->GetNextRecord(old.data()) == 0) {
    ++read;
    if (where) {
      ExpTokenGuard passes(EvaluateExpressionToken(where, old.data(), this, &FieldValue, locale_));
      if (!IsTrue(passes.get())) {
        bool abort = false;
        query_.DoQueryProgress(static_cast<std::int32_t>(read),
                               static_cast<std::uint16_t>(total == 0 ? 100 : std::min<std::uint64_t>(100, read * 100ull / total)),
                               abort);
        if (abort) break;
        continue;
      }
    }
    if (deleting) {
      if (undo_) undo_->Deleting(old.data());
      try {
        cursor_->DeleteRecord(old.data(), false);
      } catch (...) {
        if (undo_) undo_->Forget();
        throw;
      }
    } else {
      cursor_->UserWriteLockRecord(0);
      bool noted = false;
      try {
        if (undo_) {
          undo_->Modifying(old.data());
          noted = true;
        }
        record = old;
        for (std::size_t i = 0; i < columns_.size(); ++i) {
          const Column& column = columns_[i];
          if (direct[i]) {
            ++computed;
            if (direct[i]->StoreIntegral(*cursor_, column, record.data(), old.data())) {
              ++integral;
              continue;
            }
            StoreOrFail(column, record.data(), direct[i]->Compute(*cursor_, old.data(), locale_), column.value_text);
            continue;
          }
          ExpTokenGuard value(EvaluateExpressionToken(column.value, old.data(), this, &FieldValue, locale_));
          StoreOrFail(column, record.data(), value.get(), column.value_text);
        }
        cursor_->ModifyRecord(record.data(), true, false);
      } catch (...) {
        if (noted) undo_->Forget();
        try {
          cursor_->UserWriteUnlockRecord(0);
        } catch (...) {
        }
        throw;
      }
    }
    if (!RowDone(read, total)) break;
  }
}

}  // namespace korvex
