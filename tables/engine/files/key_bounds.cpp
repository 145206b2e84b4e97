#include "tables/engine/files/key_bounds.h"

#include <algorithm>
#include <cstring>

#include "tables/lib/collation.h"
#include "tables/lib/fieldtypes.h"

namespace korvex {

TKeyBounds::TKeyBounds(std::uint16_t key_size)
    : key_size_(key_size), low_(key_size, 0), high_(key_size, 255) {}

TKeyBounds::TKeyBounds(const TIndexDefinition& index, const std::vector<TFieldDefinition>& fields,
                       std::uint16_t language, std::uint16_t sort)
    : TKeyBounds(index.KeySize) {
  if (language != 0) {
    TCharMap map;
    GetLanguageCharMap(language, sort, map);
    low_char_ = map.front();
    high_char_ = map.back();
  }
  std::uint16_t offset = 0;
  for (int i = 0; i < index.FieldCount && i < kMaxKeyFields; ++i) {
    const std::uint16_t number = index.Fields[i];
    if (number == 0 || number > fields.size()) break;
    const TFieldDefinition& f = fields[number - 1];
    const std::uint16_t size = static_cast<std::uint16_t>(f.PhysicalSize + 1u);
    if (offset + size > key_size_) break;
    fields_.push_back({offset, size, f.DataType == dtString && !f.IsAutoIncrement()});
    if (language != 0 && fields_.back().string) {
      std::fill_n(low_.begin() + offset + 1, size - 1, low_char_);
      std::fill_n(high_.begin() + offset + 1, size - 1, high_char_);
    }
    offset = static_cast<std::uint16_t>(offset + size);
  }
}

void TKeyBounds::Fill(std::uint8_t* key, std::uint16_t from, const std::vector<std::uint8_t>& bytes) const {
  if (from < key_size_) std::memcpy(key + from, bytes.data() + from, key_size_ - from);
}

void TKeyBounds::SetLowBytes(std::uint8_t* key, std::uint16_t from) const { Fill(key, from, low_); }
void TKeyBounds::SetHighBytes(std::uint8_t* key, std::uint16_t from) const { Fill(key, from, high_); }

void TKeyBounds::FillAllLowBytes(std::uint8_t* key) const {
  std::memset(key, 0, key_size_);
  for (const Field& f : fields_)
    if (f.string) std::memset(key + f.offset + 1, low_char_, f.size - 1u);
}

void TKeyBounds::FillAllHighBytes(std::uint8_t* key) const {
  std::memset(key, 255, key_size_);
  for (const Field& f : fields_) {
    key[f.offset] = 1;
    if (f.string) std::memset(key + f.offset + 1, high_char_, f.size - 1u);
  }
}

bool TKeyBounds::IncLastByte(std::uint8_t* key, std::uint16_t length) {
  int i = length - 1;
  while (i >= 0 && key[i] == 255) --i;
  if (i < 0) return false;
  ++key[i];
  std::memset(key + i + 1, 0, static_cast<std::size_t>(length - 1 - i));
  return true;
}

bool TKeyBounds::DecLastByte(std::uint8_t* key, std::uint16_t length) {
  int i = length - 1;
  while (i >= 0 && key[i] == 0) --i;
  if (i < 0) return false;
  --key[i];
  std::memset(key + i + 1, 255, static_cast<std::size_t>(length - 1 - i));
  return true;
}

}  // namespace korvex
