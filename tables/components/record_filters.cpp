#include "tables/components/record_filters.h"

#include <cstdio>

#include "platform/runtime/dates.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/lib/expconvert.h"
#include "tables/lib/language_settings.h"

namespace korvex {

std::string ReadWholeBlob(TDataCursor& cursor, int field, const std::uint8_t* record) {
  // A copy of the record opens the BLOB without touching the caller's.
  std::vector<std::uint8_t> copy(record, record + cursor.GetRecordSize());
  if (cursor.OpenBlob(field, copy.data(), 1, true) != 0) return {};
  std::int64_t size = 0, got = 0;
  cursor.GetBlobSize(field, copy.data(), size);
  std::string content(static_cast<std::size_t>(size), '\0');
  cursor.GetBlob(field, copy.data(), 0, reinterpret_cast<std::uint8_t*>(content.data()), size, got);
  cursor.FreeBlob(field, copy.data(), true);
  content.resize(static_cast<std::size_t>(got));
  return content;
}

namespace {

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

std::string Number(double value, char decimal_separator) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  std::string text = buffer;
  for (char& c : text)
    if (c == '.') c = decimal_separator;
  return text;
}

std::string Constant(db::TField* field, const db::Variant& value, bool partial, const TLanguageSettings& settings) {
  using namespace db;
  switch (field->DataType()) {
    case ftString: case ftFixedChar: case ftWideString: case ftMemo: case ftFmtMemo: {
      std::string text = value.ToString();
      if (partial) {
        if (!text.empty() && text.back() == '*') text.pop_back();
        text += '*';
      }
      return Quoted(text);
    }
    case ftSmallint: case ftInteger: case ftWord: case ftAutoInc: case ftLargeint:
      return std::to_string(value.ToInt64());
    case ftFloat: case ftCurrency:
      return Number(value.ToDouble(), settings.DecimalSeparator);
    case ftBCD:
      return Number(value.ToCurrency().ToDouble(), settings.DecimalSeparator);
    case ftBoolean:
      return value.ToBool() ? "TRUE" : "FALSE";
    case ftDate:
      return Quoted(DateText(rtl::DateTimeToTimeStamp(value.ToDateTime()).Date, settings));
    case ftTime:
      return Quoted(TimeText(rtl::DateTimeToTimeStamp(value.ToDateTime()).Time, settings));
    case ftDateTime:
      return Quoted(TimeStampText(rtl::TimeStampToMSecs(rtl::DateTimeToTimeStamp(value.ToDateTime())), settings));
    default:
      return Quoted(value.ToString());
  }
}

}  // namespace

std::string LookupFilterText(const std::vector<db::TField*>& fields, const std::vector<db::Variant>& values,
                             bool partial, TLocalePair locale) {
  TLanguageSettings settings;
  GetDefaultLanguageSettings(locale.Language, locale.Sort, settings);
  std::string text;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) text += " AND ";
    std::string name = fields[i]->FieldName();
    text += "([" + name + "] = ";
    text += values[i].IsClear() ? std::string("NULL") : Constant(fields[i], values[i], partial, settings);
    text += ")";
  }
  return text;
}

}  // namespace korvex
