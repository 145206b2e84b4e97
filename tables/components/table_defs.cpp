#include "tables/components/table_defs.h"

#include <algorithm>

#include "platform/dataset/dataset.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/sysutils.h"
#include "tables/components/datasets.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/errors/errors.h"
#include "tables/lib/fieldtypes.h"

namespace korvex {

using namespace db;

void EngineTypeOf(TFieldType type, std::uint8_t& data_type, std::uint8_t& sub_type) {
  sub_type = fstNone;
  switch (type) {
    case ftString: case ftGuid: data_type = dtString; return;
    case ftFixedChar: data_type = dtString; sub_type = kSubTypeFixedChar; return;
    case ftWideString: data_type = dtString; sub_type = kSubTypeWideString; return;
    case ftDate: data_type = dtDate; return;
    case ftBlob: case ftParadoxOle: case ftDBaseOle: case ftOraBlob: case ftOraClob: data_type = dtBlob; return;
    case ftMemo: data_type = dtBlob; sub_type = fstMemo; return;
    case ftFmtMemo: data_type = dtBlob; sub_type = fstFormattedMemo; return;
    case ftGraphic: data_type = dtBlob; sub_type = fstGraphic; return;
    case ftTypedBinary: data_type = dtBlob; sub_type = fstTypedBinary; return;
    case ftBoolean: data_type = dtBoolean; return;
    case ftSmallint: data_type = dtSmallInt; return;
    case ftInteger: data_type = dtInteger; return;
    case ftAutoInc: data_type = dtInteger; sub_type = fstAutoInc; return;
    case ftFloat: data_type = dtFloat; return;
    case ftCurrency: data_type = dtFloat; sub_type = fstMoney; return;
    case ftBCD: data_type = dtBCD; return;
    case ftBytes: data_type = dtBytes; return;
    case ftTime: data_type = dtTime; return;
    case ftDateTime: data_type = dtTimeStamp; return;
    case ftWord: data_type = dtWord; return;
    case ftVarBytes: data_type = dtVarBytes; return;
    case ftCursor: data_type = kDataTypeCursor; return;
    case ftLargeint: data_type = 18; return;
    case ftADT: data_type = 20; return;
    case ftArray: data_type = 21; return;
    case ftReference: data_type = 22; return;
    case ftDataSet: data_type = 23; return;
    default: data_type = dtUnknown; return;
  }
}

TFieldDefinition EncodeFieldDefinition(const std::string& name, TFieldType type, int size) {
  TFieldDefinition def;
  def.Name = name.substr(0, kMaxFieldNameLength);
  EngineTypeOf(type, def.DataType, def.SubType);
  const auto byte = static_cast<std::uint8_t>(std::clamp(size, 0, 255));
  if (type == ftString || type == ftBytes || type == ftVarBytes) def.Size = byte;
  if (type == ftBCD) def.Decimals = byte;
  return def;
}

int DefinitionSize(const TFieldDefinition& def) {
  if (def.DataType == dtString || def.DataType == dtBytes || def.DataType == dtVarBytes) return def.Size;
  if (def.DataType == dtBCD) return def.Decimals;
  return 0;
}

bool DecodeFieldDefinition(const TFieldDefinition& def, TFieldType& type, int& size) {
  // The codes only one field type is written with come back as that type;
  // a code several types share (ftString and ftGuid, ftBlob and the OLE
  // kinds) as the first of them.
  TFieldType t;
  if (def.DataType == dtString && def.SubType == kSubTypeFixedChar) t = ftFixedChar;
  else if (def.DataType == dtString && def.SubType == kSubTypeWideString) t = ftWideString;
  else if (def.DataType == kDataTypeCursor) t = ftCursor;
  else t = FieldTypeOf(def.DataType, def.SubType);
  if (t == ftUnknown) return false;
  type = t;
  size = DefinitionSize(def);
  return true;
}

TIndexDefinition EncodeIndexDefinition(const std::string& name, TIndexOptions options, const std::string& fields,
                                       TIndexCompression compression, const FieldNumberOf& number_of) {
  TIndexDefinition def;
  def.Name = name.substr(0, kMaxFieldNameLength);
  def.Descending = (options & ixDescending) ? 1 : 0;
  def.FieldDescending.fill(def.Descending);
  def.CaseInsensitive = (options & ixCaseInsensitive) ? 1 : 0;
  def.Unique = (options & ixUnique) ? 1 : 0;
  def.Compression = static_cast<std::uint8_t>(compression & 3);
  std::size_t start = 0;
  int count = 0;
  while (start <= fields.size() && !fields.empty()) {
    std::size_t end = fields.find(';', start);
    if (end == std::string::npos) end = fields.size();
    std::string field = rtl::Trim(fields.substr(start, end - start));
    if (!field.empty()) {
      if (count == kMaxKeyFields) DbiError(err::kIndexLimits);
      int number = number_of(field);
      if (number <= 0) rtl::DatabaseErrorFmt(msg::kFieldNotFound, {field});
      def.Fields[static_cast<std::size_t>(count++)] = static_cast<std::uint16_t>(number);
    }
    start = end + 1;
  }
  def.FieldCount = static_cast<std::uint8_t>(count);
  return def;
}

TIndexDef DecodeIndexDefinition(const TIndexDefinition& def, int index_number, const FieldNameOf& name_of) {
  TIndexDef out;
  out.Name = def.Name;
  if (index_number == 0) out.Options |= ixPrimary;
  if (def.Descending != 0) out.Options |= ixDescending;
  if (def.CaseInsensitive != 0) out.Options |= ixCaseInsensitive;
  if (def.Unique != 0) out.Options |= ixUnique;
  const int count = std::min<int>(def.FieldCount, kMaxKeyFields);
  for (int i = 0; i < count; ++i) {
    std::string field = name_of(def.Fields[static_cast<std::size_t>(i)]);
    if (field.empty()) continue;
    if (!out.Fields.empty()) out.Fields += ';';
    out.Fields += field;
  }
  return out;
}

TIndexOrder OrderForCreation(const std::vector<TIndexOptions>& options) {
  TIndexOrder order;
  const int n = static_cast<int>(options.size());
  int primary = -1;
  for (int i = 0; i < n && primary < 0; ++i)
    if (options[static_cast<std::size_t>(i)] & ixPrimary) primary = i;
  order.Order.push_back(primary);
  for (int i = 0; i < n; ++i)
    if (i != primary) order.Order.push_back(i);
  order.SecondaryCount = static_cast<int>(order.Order.size()) - 1;
  return order;
}

}  // namespace korvex
