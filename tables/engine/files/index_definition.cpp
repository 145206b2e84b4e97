#include "tables/engine/files/index_definition.h"

#include <cstring>

#include "platform/runtime/coding.h"
#include "tables/engine/base/short_string.h"

namespace korvex {

void TIndexDefinition::Decode(const std::uint8_t* slot) {
  Name = GetShortString(slot, 31, 0);
  KeySize = rtl::DecodeFixed16(slot + 31);
  Descending = slot[33];
  CaseInsensitive = slot[34];
  Unique = slot[35];
  Compression = slot[36];
  FieldCount = slot[37];
  for (int i = 0; i < kMaxKeyFields; ++i) {
    FieldDescending[i] = slot[38 + i];
    Fields[i] = rtl::DecodeFixed16(slot + 54 + 2 * i);
  }
  Root = rtl::DecodeFixed32(slot + 86);
  FreePage = rtl::DecodeFixed32(slot + 90);
  RemovalMark = slot[95];
}

void TIndexDefinition::Encode(std::uint8_t* slot) const {
  std::memset(slot, 0, kIndexDefinitionSize);
  PutShortString(slot, 0, 31, Name);
  rtl::EncodeFixed16(slot + 31, KeySize);
  slot[33] = Descending;
  slot[34] = CaseInsensitive;
  slot[35] = Unique;
  slot[36] = Compression;
  slot[37] = FieldCount;
  for (int i = 0; i < kMaxKeyFields; ++i) {
    slot[38 + i] = FieldDescending[i];
    rtl::EncodeFixed16(slot + 54 + 2 * i, Fields[i]);
  }
  rtl::EncodeFixed32(slot + 86, Root);
  rtl::EncodeFixed32(slot + 90, FreePage);
  slot[95] = RemovalMark;
}

}  // namespace korvex
