// TDataCursor: field values in record buffers, and the record ID every record carries.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/runtime/coding.h"
#include "tables/engine/base/field_bytes.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/lib/collation.h"
#include "tables/lib/fieldtypes.h"

namespace korvex {

std::uint32_t TDataCursor::GetRecordID(const std::uint8_t* buffer) { return rtl::DecodeFixed32(buffer + kRecordIDOffset); }
void TDataCursor::PutRecordID(std::uint32_t id, std::uint8_t* buffer) { rtl::EncodeFixed32(buffer + kRecordIDOffset, id); }

void TDataCursor::ClearRecord(std::uint8_t* buffer) const { std::memset(buffer, 0, record_size_); }

bool TDataCursor::GetField(int field, const std::uint8_t* buffer, std::uint8_t* data) const {
  return InternalGetField(FieldAt(field), buffer, data);
}

void TDataCursor::PutField(int field, std::uint8_t* buffer, const std::uint8_t* data, bool allow_calculated) const {
  InternalPutField(FieldAt(field), buffer, data, allow_calculated);
}

bool TDataCursor::InternalGetField(const TFieldDefinition& def, const std::uint8_t* buffer,
                                   std::uint8_t* data) const {
  if (def.IsAutoIncrement()) {
    if (data) std::memcpy(data, buffer + kRecordIDOffset, 4);
    return false;
  }
  const std::uint8_t* at = buffer + def.Offset;
  if (data) {
    CopyFieldBytes(data, at + 1, def.PhysicalSize);
    if (def.DataType == dtString) data[def.PhysicalSize] = 0;
  }
  if (def.DataType == dtBlob) {
    auto reference = static_cast<std::int32_t>(rtl::DecodeFixed32(at + 1));
    if (reference < 0) {
      auto it = blobs_.find(reference);
      return it != blobs_.end() && it->second.Buffer->Size() == 0;
    }
  }
  return at[0] == 0;
}

void TDataCursor::InternalPutField(const TFieldDefinition& def, std::uint8_t* buffer, const std::uint8_t* data,
                                   bool allow_calculated) const {
  if (def.Calculated && !allow_calculated) return;
  if (def.IsAutoIncrement()) {
    if (data) std::memcpy(buffer + kRecordIDOffset, data, 4);
    return;
  }
  std::uint8_t* at = buffer + def.Offset;
  const std::size_t size = def.PhysicalSize;
  if (!data) {
    std::memset(at, 0, size + 1);
    if (has_calculated_ && !def.Calculated) CalculateExpressionFields(buffer);
    return;
  }
  switch (def.DataType) {
    case dtString: {
      std::size_t length = strnlen(reinterpret_cast<const char*>(data), def.Size);
      while (length > 0 && data[length - 1] == ' ') --length;
      std::memset(at + 1, 0, size);
      if (def.CharCase == 1 || def.CharCase == 2) {
        // Case by the table's language: every letter it knows, not only A-Z.
        const std::uint16_t language = open_ ? GetLanguageID() : 0, sort = open_ ? GetSortID() : 0;
        std::string text(reinterpret_cast<const char*>(data), length);
        text = def.CharCase == 1 ? LowerString(language, sort, text) : UpperString(language, sort, text);
        std::memcpy(at + 1, text.data(), std::min(text.size(), size));
        at[0] = text.empty() ? 0 : 1;
        break;
      }
      CopyFieldBytes(at + 1, data, std::min(length, size));
      at[0] = length == 0 ? 0 : 1;
      break;
    }
    case dtBlob: {
      auto reference = static_cast<std::int32_t>(rtl::DecodeFixed32(data));
      rtl::EncodeFixed32(at + 1, static_cast<std::uint32_t>(reference));
      bool has = reference > 0;
      if (reference < 0) {
        auto it = blobs_.find(reference);
        has = it != blobs_.end() && it->second.Buffer->Size() > 0;
      }
      at[0] = has ? 1 : 0;
      break;
    }
    case dtBoolean:
      at[1] = (data[0] | data[1]) != 0 ? 1 : 0;
      at[2] = 0;
      at[0] = 1;
      break;
    default:
      CopyFieldBytes(at + 1, data, size);
      at[0] = 1;
  }
  if (has_calculated_ && !def.Calculated) CalculateExpressionFields(buffer);
}

}  // namespace korvex
