// The 768-byte field definition (little-endian):
//
//   offset size field
//        0    2 field number (1-based; equals the field's position)
//        2   31 name: length byte + at most 30 characters
//       33   51 description: length byte + at most 50 characters
//       84    1 data type          85 1 sub type (21 money, 29 auto-increment)
//       86    1 declared size      87 1 declared decimals
//       88    1 physical size      89 1 physical decimals
//       90    2 offset of the null-flag byte in the record
//       92    1 required           93 1 character case
//       94   51 minimum, 145 51 maximum, 196 51 default: expression texts
//      247    1 calculated (SQL result tables; takes no record bytes)
//      248    4 always 0 (the place of an in-memory pointer)
//      252    1 hidden
//      253  515 reserved, zero
//
// Physical sizes: string d + 1; date, integer, time, code 13: 4; BLOB,
// float, BCD, timestamp: 8; boolean, smallint, word: 2; code 14: 10; bytes
// and any other code: d.
#include "tables/engine/files/field_definition.h"

#include <cstring>

#include "platform/runtime/coding.h"
#include "tables/engine/base/short_string.h"
#include "tables/lib/fieldtypes.h"

namespace korvex {

void TFieldDefinition::Decode(const std::uint8_t* b) {
  FieldNumber = rtl::DecodeFixed16(b + 0);
  Name = GetShortString(b, kFieldDefinitionSize, 2);
  Description = GetShortString(b, kFieldDefinitionSize, 33);
  DataType = b[84];
  SubType = b[85];
  Size = b[86];
  Decimals = b[87];
  PhysicalSize = b[88];
  PhysicalDecimals = b[89];
  Offset = rtl::DecodeFixed16(b + 90);
  Required = b[92];
  CharCase = b[93];
  Minimum = GetShortString(b, kFieldDefinitionSize, 94);
  Maximum = GetShortString(b, kFieldDefinitionSize, 145);
  Default = GetShortString(b, kFieldDefinitionSize, 196);
  Calculated = b[247];
  Hidden = b[252];
  std::memcpy(Reserved.data(), b + 253, Reserved.size());
  Expression = nullptr;
  QualifiedName.clear();
}

void TFieldDefinition::Encode(std::uint8_t* b) const {
  std::memset(b, 0, kFieldDefinitionSize);
  rtl::EncodeFixed16(b + 0, FieldNumber);
  PutShortString(b, 2, 31, Name);
  PutShortString(b, 33, 51, Description);
  b[84] = DataType;
  b[85] = SubType;
  b[86] = Size;
  b[87] = Decimals;
  b[88] = PhysicalSize;
  b[89] = PhysicalDecimals;
  rtl::EncodeFixed16(b + 90, Offset);
  b[92] = Required;
  b[93] = CharCase;
  PutShortString(b, 94, 51, Minimum);
  PutShortString(b, 145, 51, Maximum);
  PutShortString(b, 196, 51, Default);
  b[247] = Calculated;
  b[252] = Hidden;
  std::memcpy(b + 253, Reserved.data(), Reserved.size());
}

bool TFieldDefinition::TakesRecordBytes() const { return !IsAutoIncrement() && Calculated == 0; }

void TFieldDefinition::UpdatePhysicalSize() {
  PhysicalSize = PhysicalSizeOf(DataType, Size);
  PhysicalDecimals = Decimals;
}

bool TypeHasSize(std::uint8_t data_type) {
  return data_type == dtString || data_type == dtBytes || data_type == dtVarBytes;
}

std::uint8_t PhysicalSizeOf(std::uint8_t data_type, std::uint8_t size) {
  switch (data_type) {
    case dtString: return static_cast<std::uint8_t>(size + 1);
    case dtDate: case dtInteger: case dtTime: case 13: return 4;
    case dtBlob: case dtFloat: case dtBCD: case dtTimeStamp: return 8;
    case dtBoolean: case dtSmallInt: case dtWord: return 2;
    case 14: return 10;
    default: return size;
  }
}

std::uint64_t ComputeRecordLayout(const std::vector<TFieldDefinition>& fields, std::vector<std::uint16_t>* offsets) {
  std::uint64_t running = kRecordPrefixSize;
  if (offsets) offsets->clear();
  for (const TFieldDefinition& field : fields) {
    std::uint64_t offset = field.IsAutoIncrement() ? kRecordIDOffset : running;
    if (offsets) offsets->push_back(static_cast<std::uint16_t>(offset));
    if (field.TakesRecordBytes()) running += std::uint64_t{field.PhysicalSize} + 1;
  }
  return running;
}

std::uint64_t AssignFieldOffsets(std::vector<TFieldDefinition>& fields) {
  std::vector<std::uint16_t> offsets;
  std::uint64_t size = ComputeRecordLayout(fields, &offsets);
  for (std::size_t i = 0; i < fields.size(); ++i) fields[i].Offset = offsets[i];
  return size;
}

}  // namespace korvex
