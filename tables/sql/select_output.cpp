// The result table and values: creating it, reading columns of the current
// rows, evaluating, and storing values into result fields.
#include "tables/sql/select_executor.h"

#include "tables/sql/select_executor_parts.h"

namespace korvex {

using namespace select_parts;

void TSelectExecutor::CreateResultTable() {
  std::vector<TFieldDefinition> fields;
  for (const Output& out : outputs_) fields.push_back(out.def);
  // Each AVG column's count of values, hidden from views and copies.
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    if (outputs_[i].calculation != rcAvg) continue;
    TFieldDefinition count;
    count.Name = "Sys__Avg__Count" + std::to_string(i + 1);
    count.DataType = dtInteger;
    count.Hidden = 1;
    count.FieldNumber = static_cast<std::uint16_t>(fields.size() + 1);
    count.UpdatePhysicalSize();
    avg_counts_.emplace_back(i, static_cast<int>(fields.size() + 1));
    fields.push_back(count);
  }
  // Without INTO the result is a temporary in-memory table; INTO names a
  // table of the result's directory that stays (on disk, or in memory with
  // INTO MEMORY) once the query is freed.
  // A plain INTO name is a table of the session's private directory.
  const bool into = !query_.ResultTableName.empty();
  TDataDirectory* directory = query_.Statement->DataDirectory();
  if (into) {
    directory = OpenTableLocation(directory, query_.ResultTableName, query_.IntoMemory, true, result_name_,
                                  own_result_directory_);
    if (own_result_directory_) query_.ResultDirectory = directory;
  } else {
    result_name_ = "Sys__Result" + std::to_string(++result_counter);
  }
  result_ = std::make_unique<TDataCursor>(directory);
  result_->SetTableName(result_name_);
  result_->SetInMemory(!into || query_.IntoMemory);
  result_->SetExclusive(true);
  TTableCreation creation;
  FillTableSettings(query_, locale_.Language, locale_.Sort, creation.Settings);
  if (creation.Settings.Encrypted) creation.Settings.Password = query_.Password;
  creation.Overwrite = true;
  result_->CreateTable(creation, fields);
  result_->SetIsTemporary(!into);
  result_->SetIsResultSet(true);
  // A result is mostly read once from start to end: its walks leave the
  // record cache alone.
  result_->SetWalkPastCache(true);
  // The password opens the table; a session that did not know it does not
  // learn it.
  TDataSession* session = directory->Session();
  const bool lend = creation.Settings.Encrypted && session && !session->CheckForPassword(query_.Password);
  if (lend) session->AddPassword(query_.Password);
  ScopeExit take_back{[&] {
    if (lend) session->DeletePassword(query_.Password);
  }};
  result_->OpenCursor();
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    Output& out = outputs_[i];
    out.def = result_->GetFieldDefinitionByPos(static_cast<int>(i + 1));
    const TExpToken* e = out.expression;
    if (!e || e->NodeClass != enFIELD || !e->SourceTable || out.count_star) continue;
    const TFieldDefinition& column =
        sources_[static_cast<std::size_t>(e->SourceTable->JoinOrder - 1)]->cursor->GetFieldDefinitionByPos(
            e->FieldNumber);
    if (out.calculation == rcCount)
      out.copies_column = true;
    else if (out.calculation == rcNone)
      out.copies_column = column.DataType == out.def.DataType && column.PhysicalSize == out.def.PhysicalSize &&
                          column.PhysicalDecimals == out.def.PhysicalDecimals && column.DataType != dtBlob;
    else
      out.integral_column = IsIntegralType(column.DataType) && out.calculation != rcCount;
  }
  result_record_.assign(result_->GetRecordSize(), 0);
  batch_rows_ = std::none_of(outputs_.begin(), outputs_.end(), [](const Output& out) { return out.def.DataType == dtBlob; });
}

// ---- executing -------------------------------------------------------------------

bool TSelectExecutor::FieldValue(void* user, const void*, TExpToken* result) {
  auto* self = static_cast<TSelectExecutor*>(user);
  const std::uint8_t* record;
  TDataCursor* cursor;
  if (result->SourceTable) {
    Source& s = *self->sources_[static_cast<std::size_t>(result->SourceTable->JoinOrder - 1)];
    record = s.current;
    cursor = s.cursor.get();
  } else {
    record = self->result_record_.data();
    cursor = self->result_.get();
  }
  ReadColumnValue(*cursor, record, result);
  return true;
}

void ReadColumnValue(TDataCursor& cursor, const std::uint8_t* record, TExpToken* result) {
  if (!record || result->FieldNumber == 0) {
    result->SetNullValue();
    return;
  }
  const TFieldDefinition& f = cursor.GetFieldDefinitionByPos(result->FieldNumber);
  if (f.DataType == dtBlob) {
    // The BLOB's content; an empty BLOB is blank.
    const bool blank = cursor.GetField(result->FieldNumber, record, nullptr);
    const std::vector<std::uint8_t> content =
        blank ? std::vector<std::uint8_t>() : cursor.ReadBlobContent(result->FieldNumber, record);
    result->SetBytesValue(content.data(), content.size());
    return;
  }
  result->SetDataSize(f.PhysicalSize + 1);
  result->ClearValue();
  const bool blank = cursor.GetField(result->FieldNumber, record, result->ValueBuffer);
  // The empty string is blank.
  if (blank || (f.DataType == dtString && result->ValueBuffer[0] == 0)) {
    result->SetNullValue();
    return;
  }
  result->IsNull = false;
}

TExpToken* TSelectExecutor::Evaluate(const TExpToken* tree) {
  return EvaluateExpressionToken(tree, nullptr, this, &TSelectExecutor::FieldValue, locale_);
}

bool TSelectExecutor::EvaluateCondition(TExpToken* tree) {
  ExpTokenGuard value(Evaluate(tree));
  return IsTrue(value.get());
}

bool TSelectExecutor::ReadIntegral(const TExpToken* node, std::int64_t& value, bool& blank) const {
  if (node->NodeClass != enFIELD || !node->SourceTable || !IsIntegralType(node->DataType)) return false;
  const Source& s = *sources_[static_cast<std::size_t>(node->SourceTable->JoinOrder - 1)];
  std::uint8_t data[8] = {};
  blank = !s.current || s.cursor->GetField(node->FieldNumber, s.current, data);
  if (blank) return true;
  switch (node->DataType) {
    case dtSmallInt: { std::int16_t v; std::memcpy(&v, data, 2); value = v; break; }
    case dtWord: { std::uint16_t v; std::memcpy(&v, data, 2); value = v; break; }
    default: { std::int32_t v; std::memcpy(&v, data, 4); value = v; break; }
  }
  return true;
}

bool TSelectExecutor::ReadText(const TExpToken* node, std::string& text) {
  if (node->NodeClass == enFIELD && node->SourceTable && node->DataType == dtString) {
    const Source& s = *sources_[static_cast<std::size_t>(node->SourceTable->JoinOrder - 1)];
    if (!s.current) return false;
    // The stored bytes up to their first zero, as GetField gives them,
    // without the copy of the whole field.
    const TFieldDefinition& f = s.cursor->GetFieldDefinitionByPos(node->FieldNumber);
    const std::uint8_t* at = s.current + f.Offset;
    if (f.IsAutoIncrement() || at[0] == 0) return false;
    const char* bytes = reinterpret_cast<const char*>(at + 1);
    text.assign(bytes, strnlen(bytes, f.PhysicalSize));
    return !text.empty();
  }
  ExpTokenGuard value(Evaluate(node));
  if (value->IsNull) return false;
  text = value->StringValue();
  return !text.empty();
}

void TSelectExecutor::PutIntegral(int field, std::uint8_t* record, std::int64_t value) {
  std::uint8_t data[8] = {};
  switch (outputs_[static_cast<std::size_t>(field - 1)].def.DataType) {
    case dtSmallInt: { const auto v = static_cast<std::int16_t>(value); std::memcpy(data, &v, 2); break; }
    case dtWord: { const auto v = static_cast<std::uint16_t>(value); std::memcpy(data, &v, 2); break; }
    default: { const auto v = static_cast<std::int32_t>(value); std::memcpy(data, &v, 4); break; }
  }
  result_->PutField(field, record, data);
}

void TSelectExecutor::CopyColumn(int field, std::uint8_t* record, const TExpToken* column) {
  const Source& s = *sources_[static_cast<std::size_t>(column->SourceTable->JoinOrder - 1)];
  std::uint8_t data[kConvertBufferSize + 1] = {};
  bool blank = !s.current || s.cursor->GetField(column->FieldNumber, s.current, data);
  const std::uint8_t type = column->DataType;
  if (!blank && type == dtString && data[0] == 0) blank = true;
  if (!blank && type == dtFloat) {
    double d;
    std::memcpy(&d, data, 8);
    if (d == 0) std::memset(data, 0, 8);
  }
  result_->PutField(field, record, blank ? nullptr : data);
}

bool PutBlobValue(TDataCursor& cursor, int field, std::uint8_t* record, const TExpToken* value) {
  if (cursor.OpenBlob(field, record, 2) != 0 || cursor.TruncateBlob(field, record, 0) != 0) return false;
  if (!value || value->IsNull) return true;
  if (value->DataType != dtString && value->DataType != dtBlob) return false;
  // A text ends before its terminating zero, also a text BLOB's value that
  // an expression made; other BLOBs keep every byte.
  std::int64_t length = std::max<std::int32_t>(value->DataSize, 0);
  const std::uint8_t kind = cursor.GetFieldDefinitionByPos(field).SubType;
  if (value->DataType == dtString)
    length = static_cast<std::int64_t>(std::strlen(value->StringValue()));
  else if ((kind == fstMemo || kind == fstFormattedMemo) && length > 0 && value->ValueBuffer[length - 1] == 0)
    --length;
  return length == 0 || cursor.PutBlob(field, record, 0, value->ValueBuffer, length) == 0;
}

bool select_parts::FieldBytes(const TExpToken* value, const TFieldDefinition& def, std::uint8_t* data) {
  // A value's size is not always its type's (an operator's node keeps the
  // size its checker gave it): fixed-size types take their own size.
  std::size_t have = static_cast<std::size_t>(std::max<std::int32_t>(value->DataSize, 0));
  if (value->DataType != dtString && !IsBytesType(value->DataType)) have = PhysicalSizeOf(value->DataType, 0);
  have = std::min<std::size_t>({have, kConvertBufferSize - 1, static_cast<std::size_t>(value->ValueCapacity)});
  std::memcpy(data, value->ValueBuffer, have);
  bool usable = true;
  if (value->DataType != def.DataType || def.DataType == dtString) {
    const std::uint8_t from_size =
        static_cast<std::uint8_t>(value->DataType == dtString ? kConvertBufferSize : have);
    usable = ConvertExpression(value->DataType, from_size, value->Scale, def.DataType, def.PhysicalSize,
                               def.PhysicalDecimals, data);
  }
  if (usable && def.DataType == dtString && data[0] == 0) usable = false;
  if (usable && def.DataType == dtFloat) {
    // -0 is 0: groups and DISTINCT compare the stored bytes.
    double d;
    std::memcpy(&d, data, 8);
    if (d == 0) std::memset(data, 0, 8);
  }
  return usable;
}

void TSelectExecutor::StoreValue(int field, std::uint8_t* record, const TExpToken* value) {
  const TFieldDefinition& def = outputs_[static_cast<std::size_t>(field - 1)].def;
  if (def.DataType == dtBlob) {
    // Written into the result's BLOB, which the append stores.
    if (!PutBlobValue(*result_, field, record, value))
      Fail("Type mismatch between column '" + def.Name + "' and its value in the result");
    return;
  }
  if (!value || value->IsNull) {
    result_->PutField(field, record, nullptr);
    return;
  }
  std::uint8_t data[kConvertBufferSize + 1] = {};
  const bool usable = FieldBytes(value, def, data);
  result_->PutField(field, record, usable ? data : nullptr);
}


}  // namespace korvex
