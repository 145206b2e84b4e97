// TDataCursor: default values, validity checks, bookmarks and the header
// values a cursor reports.
#include <cstring>

#include "platform/runtime/coding.h"
#include "platform/runtime/sysutils.h"
#include "tables/engine/data_cursor.h"
#include "tables/engine/data_table.h"
#include "tables/lib/collation.h"
#include "tables/lib/fieldtypes.h"

namespace korvex {

namespace {

// A limit or default text as a number of the field's type.
bool TextNumber(const std::string& text, double& value) {
  std::string t = rtl::Trim(text);
  std::int64_t whole;
  if (rtl::TryStrToInt64(t, whole)) {
    value = static_cast<double>(whole);
    return true;
  }
  return rtl::TryStrToFloat(t, value);
}

}  // namespace

bool TDataCursor::NumericValue(const TFieldDefinition& def, const std::uint8_t* buffer, double& value) const {
  const std::uint8_t* at = buffer + def.Offset + 1;
  const bool blank = buffer[def.Offset] == 0;
  switch (def.DataType) {
    case dtSmallInt: value = blank ? 0 : static_cast<std::int16_t>(rtl::DecodeFixed16(at)); return true;
    case dtWord: value = blank ? 0 : rtl::DecodeFixed16(at); return true;
    case dtInteger:
      if (def.IsAutoIncrement()) value = GetRecordID(buffer);
      else value = blank ? 0 : static_cast<std::int32_t>(rtl::DecodeFixed32(at));
      return true;
    case dtFloat: value = blank ? 0 : rtl::DecodeDouble(at); return true;
    default: return false;
  }
}

void TDataCursor::InitRecord(std::uint8_t* buffer) const {
  ClearRecord(buffer);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const TFieldDefinition& def = fields_[i];
    if (def.Default.empty() || def.IsAutoIncrement()) continue;
    const int field = static_cast<int>(i + 1);
    double number = 0;
    std::uint8_t data[16] = {};
    switch (def.DataType) {
      case dtString: {
        std::string text = def.Default.substr(0, def.Size);
        PutField(field, buffer, reinterpret_cast<const std::uint8_t*>(text.c_str()));
        break;
      }
      case dtBoolean:
        data[0] = rtl::SameText(rtl::Trim(def.Default), "TRUE") ? 1 : 0;
        PutField(field, buffer, data);
        break;
      case dtSmallInt:
      case dtWord:
      case dtInteger:
      case dtFloat:
        if (!TextNumber(def.Default, number)) break;
        if (def.DataType == dtSmallInt) { auto v = static_cast<std::int16_t>(number); std::memcpy(data, &v, 2); }
        if (def.DataType == dtWord) { auto v = static_cast<std::uint16_t>(number); std::memcpy(data, &v, 2); }
        if (def.DataType == dtInteger) { auto v = static_cast<std::int32_t>(number); std::memcpy(data, &v, 4); }
        if (def.DataType == dtFloat) std::memcpy(data, &number, 8);
        PutField(field, buffer, data);
        break;
      default:
        break;
    }
  }
}

void TDataCursor::CheckRecordValidity(const std::uint8_t* buffer) const {
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const TFieldDefinition& def = fields_[i];
    if (!def.Required && def.Minimum.empty() && def.Maximum.empty()) continue;
    const bool blank = GetField(static_cast<int>(i + 1), buffer, nullptr);
    if (def.Required && blank) Fail(err::kValueRequired, def.Name);
    // The value against a limit: -1, 0, 1; 0 also when the limit does not
    // read as the field's type (the creation checks refuse such texts).
    auto against = [&](const std::string& limit) {
      double value, bound;
      if (NumericValue(def, buffer, value)) return !TextNumber(limit, bound) ? 0 : value < bound ? -1 : static_cast<int>(value > bound);
      if (def.DataType != dtString) return 0;
      const char* at = reinterpret_cast<const char*>(buffer + def.Offset + 1);
      std::string text(at, strnlen(at, def.PhysicalSize));
      int order = CompareStrings(GetLanguageID(), GetSortID(), text.c_str(), limit.c_str(), 0, false);
      return order < 0 ? -1 : static_cast<int>(order > 0);
    };
    if (!def.Minimum.empty() && against(def.Minimum) < 0) Fail(err::kBelowMinimum, def.Name);
    if (!def.Maximum.empty() && against(def.Maximum) > 0) Fail(err::kAboveMaximum, def.Name);
  }
}

// ---- bookmarks ------------------------------------------------------------------

void TDataCursor::GetBookmark(std::uint8_t* bookmark) const {
  std::uint32_t n = bof_ || eof_ ? 0 : current_;
  std::memcpy(bookmark, &n, 4);
}

bool TDataCursor::SetToBookmark(const std::uint8_t* bookmark) {
  return GotoPhysicalRecordNumber(rtl::DecodeFixed32(bookmark)) == 0;
}

int TDataCursor::CompareBookmarks(const std::uint8_t* a, const std::uint8_t* b) {
  std::uint32_t x = rtl::DecodeFixed32(a), y = rtl::DecodeFixed32(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

// ---- header values --------------------------------------------------------------

std::uint32_t TDataCursor::GetLastRecordID() const {
  RequireOpen();
  return table_->DataFile().GetLastRecordID();
}
std::uint16_t TDataCursor::GetLanguageID() const { return open_ ? table_->DataFile().GetLanguageID() : 0; }
std::uint16_t TDataCursor::GetSortID() const { return open_ ? table_->DataFile().GetSortID() : 0; }
std::string TDataCursor::GetDescription() const {
  RequireOpen();
  return table_->DataFile().GetDescription();
}
bool TDataCursor::GetEncrypted() const {
  RequireOpen();
  return table_->DataFile().GetEncrypted();
}

}  // namespace korvex
