// TDataCursor: the cursor's own view of the fields (field mapping) and the
// calculated fields computed in record buffers.
#include <algorithm>
#include <cstring>

#include "platform/runtime/coding.h"
#include "platform/runtime/sysutils.h"
#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/expconvert.h"
#include "tables/lib/expeval.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/language_settings.h"
#include "tables/lib/names.h"

namespace korvex {

namespace {

// The bytes a value of a fixed-size type takes in an expression token; 0
// for texts and bytes, which their DataSize measures.
std::size_t ValueBytesOfType(std::uint8_t type) {
  switch (type) {
    case dtBoolean: case dtSmallInt: case dtWord:
      return 2;
    case dtDate: case dtTime: case dtInteger:
      return 4;
    case dtFloat: case dtTimeStamp: case dtBCD:
      return 8;
    default:
      return 0;
  }
}

constexpr std::size_t kMaxQualifiedName = 100;

const TFieldDefinition* ByNumber(const std::vector<TFieldDefinition>& fields, std::uint16_t number) {
  for (const TFieldDefinition& f : fields)
    if (f.FieldNumber == number) return &f;
  return nullptr;
}

}  // namespace

namespace {

const TFieldDefinition* ByName(const std::vector<TFieldDefinition>& fields, const std::string& name) {
  for (const TFieldDefinition& f : fields)
    if (rtl::AnsiSameText(f.Name, name)) return &f;
  return nullptr;
}

// A number as asked for (any int).
const TFieldDefinition* ByAskedNumber(const std::vector<TFieldDefinition>& fields, int number) {
  return number < 1 || number > 0xFFFF ? nullptr : ByNumber(fields, static_cast<std::uint16_t>(number));
}

}  // namespace

const TFieldDefinition& TDataCursor::FoundField(const TFieldDefinition* field, const std::string& asked) const {
  if (!field) RaiseError(err::kInvalidField, name_, asked);
  return *field;
}

const TFieldDefinition& TDataCursor::GetFieldDefinitionByNumber(int number) const {
  return FoundField(ByAskedNumber(fields_, number), std::to_string(number));
}
const TFieldDefinition& TDataCursor::GetFieldDefinitionByName(const std::string& name) const {
  return FoundField(ByName(fields_, name), name);
}
const TFieldDefinition& TDataCursor::GetPhysicalFieldDefinitionByNumber(int number) const {
  return FoundField(ByAskedNumber(physical_fields_, number), std::to_string(number));
}
const TFieldDefinition& TDataCursor::GetPhysicalFieldDefinitionByName(const std::string& name) const {
  return FoundField(ByName(physical_fields_, name), name);
}

void TDataCursor::GetFieldDefinition(int field, TFieldDefinition& definition) const {
  definition = restructure_mode_ ? GetFieldDefinitionByNumber(field) : GetFieldDefinitionByPos(field);
}
void TDataCursor::GetPhysicalFieldDefinition(int field, TFieldDefinition& definition) const {
  definition = restructure_mode_ ? GetPhysicalFieldDefinitionByNumber(field) : GetPhysicalFieldDefinitionByPos(field);
}
std::uint16_t TDataCursor::GetBlobFieldCount() const {
  RequireOpen();
  return table_->GetBlobFieldCount();
}

void TDataCursor::UpdateFieldDefinitionByPos(int position, const TFieldDefinition& definition) {
  FieldAt(position);  // 9985 out of range
  fields_[static_cast<std::size_t>(position) - 1] = definition;
}

void TDataCursor::UpdatePhysicalFieldDefinitionByPos(int position, const TFieldDefinition& definition) {
  GetPhysicalFieldDefinitionByPos(position);  // 9985 out of range
  RequireOpen();
  // The table takes the settings that leave its layout alone; the cursor
  // sees the table's definition.
  table_->DataFile().UpdateFieldDefinitionByPos(position, definition);
  physical_fields_[static_cast<std::size_t>(position) - 1] =
      *table_->DataFile().GetFieldDefinitionByPos(position);
  NoteFieldChecks();
  if (!mapped_) fields_[static_cast<std::size_t>(position) - 1] = physical_fields_[static_cast<std::size_t>(position) - 1];
}

const TFieldDefinition& TDataCursor::GetPhysicalFieldDefinitionByPos(int position) const {
  if (position < 1 || static_cast<std::size_t>(position) > physical_fields_.size())
    RaiseError(err::kInvalidField, name_, std::to_string(position));
  return physical_fields_[static_cast<std::size_t>(position) - 1];
}

bool TDataCursor::GetPhysicalField(int field, const std::uint8_t* buffer, std::uint8_t* data) const {
  return InternalGetField(GetPhysicalFieldDefinitionByPos(field), buffer, data);
}

void TDataCursor::PutPhysicalField(int field, std::uint8_t* buffer, const std::uint8_t* data) const {
  InternalPutField(GetPhysicalFieldDefinitionByPos(field), buffer, data, false);
}

void TDataCursor::SetFieldMapping(const std::vector<TFieldDefinition>& fields) {
  RequireOpen();
  std::vector<TFieldDefinition> view = fields;
  {
    // Defaults and limits are texts in the formats of the table's language,
    // as when the table was made.
    LanguageSettingsScope formats(GetLanguageID(), GetSortID());
    VerifyFieldInformation(view, false);
  }
  const std::string root = ExtractFileRoot(name_);
  std::uint64_t size = physical_size_;
  bool calculated = false;
  for (TFieldDefinition& f : view) {
    const TFieldDefinition* stored = f.Calculated ? nullptr : ByNumber(physical_fields_, f.FieldNumber);
    if (stored) {
      // A stored field is the table's bytes whatever the view calls it.
      f.DataType = stored->DataType;
      f.SubType = stored->SubType;
      f.Size = stored->Size;
      f.Decimals = stored->Decimals;
      f.PhysicalSize = stored->PhysicalSize;
      f.PhysicalDecimals = stored->PhysicalDecimals;
      f.Offset = stored->Offset;
    } else {
      // Calculated fields and fields of the view alone follow the record.
      calculated = calculated || f.Calculated;
      f.Offset = static_cast<std::uint16_t>(std::min<std::uint64_t>(size, 0xFFFF));
      size += std::uint64_t{f.PhysicalSize} + 1;
    }
    f.QualifiedName = (root + "." + f.Name).substr(0, kMaxQualifiedName);
  }
  if (size > kMaxRecordSize) Fail(err::kFieldLimits);
  fields_ = std::move(view);
  record_size_ = static_cast<std::uint32_t>(size);
  filter_fields_ = physical_fields_;
  for (const TFieldDefinition& f : fields_) {
    const TFieldDefinition* stored = f.Calculated ? nullptr : ByNumber(physical_fields_, f.FieldNumber);
    if (stored && rtl::AnsiSameText(stored->Name, f.Name)) continue;
    // Filters read a calculated value where the record holds it.
    filter_fields_.push_back(f);
    filter_fields_.back().FieldNumber = static_cast<std::uint16_t>(filter_fields_.size());
    filter_fields_.back().Calculated = 0;
    filter_fields_.back().Expression = nullptr;
  }
  mapped_ = true;
  has_calculated_ = calculated;
  has_auto_inc_ = std::any_of(fields_.begin(), fields_.end(), [](auto& f) { return f.IsAutoIncrement(); });
  if (!has_auto_inc_) suppress_auto_inc_ = false;
  CompleteCurrent();
}

void TDataCursor::ResetFieldMapping() {
  RequireOpen();
  fields_ = physical_fields_;
  record_size_ = physical_size_;
  mapped_ = has_calculated_ = false;
  filter_fields_.clear();
  has_auto_inc_ = std::any_of(fields_.begin(), fields_.end(), [](auto& f) { return f.IsAutoIncrement(); });
  if (!has_auto_inc_) suppress_auto_inc_ = false;
  current_record_.resize(record_size_);
}

void TDataCursor::CompleteCurrent() {
  current_record_.resize(std::max<std::size_t>(record_size_, current_record_.size()));
  if (has_calculated_) CalculateExpressionFields(current_record_.data());
}

void TDataCursor::CalculateExpressionFields(std::uint8_t* buffer) const {
  if (!has_calculated_ || evaluating_) return;
  evaluating_ = true;
  ScopeExit clear{[&] { evaluating_ = false; }};
  const TLocalePair locale{GetLanguageID(), GetSortID()};
  for (const TFieldDefinition& def : fields_) {
    if (!def.Calculated || !def.Expression) continue;
    ExpTokenGuard value(EvaluateExpressionToken(def.Expression, buffer, const_cast<TDataCursor*>(this),
                                                &TDataCursor::EvaluateCalculatedFieldData, locale));
    if (value->IsNull) {
      InternalPutField(def, buffer, nullptr, true);
      continue;
    }
    // The value in the field's type (strings cut to the field's size). A
    // value of a fixed-size type has its type's bytes: an operator's result
    // keeps the size its operands had (two small integers give an integer
    // sized as one of them).
    std::uint8_t data[kConvertBufferSize + 1] = {};
    const std::size_t fixed = ValueBytesOfType(value->DataType);
    const std::size_t have =
        fixed != 0 ? fixed : static_cast<std::size_t>(std::max<std::int32_t>(value->DataSize, 0));
    std::memcpy(data, value->ValueBuffer, std::min<std::size_t>(have, kConvertBufferSize - 1));
    bool usable = true;
    if (value->DataType != def.DataType || def.DataType == dtString) {
      const std::uint8_t from_size = static_cast<std::uint8_t>(
          value->DataType == dtString ? kConvertBufferSize : std::min<std::size_t>(have, kConvertBufferSize));
      usable = ConvertExpression(value->DataType, from_size, value->Scale, def.DataType, def.PhysicalSize,
                                 def.Decimals, data);
    }
    InternalPutField(def, buffer, usable ? data : nullptr, true);
  }
}

bool TDataCursor::EvaluateCalculatedFieldData(void* user_data, const void* record_buffer, TExpToken* result) {
  auto* cursor = static_cast<TDataCursor*>(user_data);
  const auto* buffer = static_cast<const std::uint8_t*>(record_buffer);
  const TFieldDefinition* def = ByNumber(cursor->physical_fields_, result->FieldNumber);
  if (!def) def = ByNumber(cursor->fields_, result->FieldNumber);
  if (!def) {
    result->SetNullValue();
    return true;
  }
  const bool blank = cursor->InternalGetField(*def, buffer, nullptr);
  if (blank) {
    result->SetNullValue();
    return true;
  }
  result->IsNull = false;
  const std::uint8_t* at = buffer + def->Offset + 1;
  switch (def->DataType) {
    case dtString:
      result->SetStringValue(std::string_view(reinterpret_cast<const char*>(at), strnlen(reinterpret_cast<const char*>(at), def->Size)));
      break;
    case dtBlob: {
      std::vector<std::uint8_t> content;
      const auto reference = static_cast<std::int32_t>(rtl::DecodeFixed32(at));
      if (reference < 0) {
        if (TOpenBlob* open = cursor->BlobOf(*def, buffer)) content = open->Buffer->Content();
      } else if (reference > 0) {
        const std::uint32_t signature = rtl::DecodeFixed32(at + 4), record = rtl::DecodeFixed32(buffer + 1);
        TBlobBuffer blob(&cursor->table_->BlobFile(), cursor, record, def->FieldNumber,
                         static_cast<std::uint32_t>(reference), signature, false, 1);
        // Read under the table's read lock, as every file read is.
        TDataTable* table = cursor->table_;
        const bool before = table->InternalReadLockHeld();
        table->ReadLockTable();
        {
          ScopeExit unlock{[&] {
            if (!before) table->ReadUnlockTable();
          }};
          blob.Read();
        }
        content = blob.Content();
      }
      result->SetDataSize(static_cast<std::int32_t>(content.size() + 1));
      if (!content.empty()) std::memcpy(result->ValueBuffer, content.data(), content.size());
      result->ValueBuffer[content.size()] = 0;
      break;
    }
    default: {
      std::uint8_t data[16] = {};
      cursor->InternalGetField(*def, buffer, data);
      const std::uint8_t size = def->IsAutoIncrement() ? 4 : def->PhysicalSize;
      result->SetDataSize(std::max<std::int32_t>(result->DataSize, size));
      std::memcpy(result->ValueBuffer, data, std::min<std::size_t>(size, sizeof data));
      break;
    }
  }
  return true;
}

}  // namespace korvex
