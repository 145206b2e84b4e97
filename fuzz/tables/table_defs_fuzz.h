// Body of the definition-decoder fuzz target: field and index definition
// blocks from the input decoded into the framework's definitions and the
// restructure lists, and the index definitions encoded again from the
// names they gave. Bad definitions may raise database errors; nothing else
// may escape, and unknown field types are skipped.
//
// Input: a count byte F (fields, at most 8), F blocks of 768 bytes, then
// 120-byte index definition blocks to the end (missing bytes are zero).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/runtime/exceptions.h"
#include "tables/components/restructure_defs.h"
#include "tables/components/table_defs.h"

namespace korvex::fuzz {

inline void TableDefinitions(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  std::size_t at = 1;
  auto block = [&](std::size_t length) {
    std::vector<std::uint8_t> b(length, 0);
    if (at < size) std::memcpy(b.data(), data + at, std::min(length, size - at));
    at += length;
    return b;
  };
  TRestructureFieldDefs fields;
  const int field_count = data[0] % 9;
  for (int i = 0; i < field_count; ++i) {
    TFieldDefinition def;
    def.Decode(block(kFieldDefinitionSize).data());
    db::TFieldType type;
    int field_size = 0;
    const bool known = DecodeFieldDefinition(def, type, field_size);
    const int before = fields.Count();
    try {
      QV_FUZZ_CHECK(fields.AddFieldDefinition(def) == known);
      QV_FUZZ_CHECK(fields.Count() == before + (known ? 1 : 0));
    } catch (const rtl::EDatabaseError&) {
      QV_FUZZ_CHECK(fields.Count() == before);  // refused: the list as it was
    }
  }
  auto name_of = [&](int n) { return n >= 1 && n <= fields.Count() ? fields.Items(n - 1).Name : std::string(); };
  auto number_of = [&](const std::string& name) { return fields.IndexOf(name) + 1; };
  int number = 0;
  while (at < size) {  // block() advances `at`
    TIndexDefinition def;
    def.Decode(block(kIndexDefinitionSize).data());
    db::TIndexDef decoded = DecodeIndexDefinition(def, number, name_of);
    QV_FUZZ_CHECK(decoded.Name.size() <= 255);
    try {
      TIndexDefinition again =
          EncodeIndexDefinition(decoded.Name, decoded.Options, decoded.Fields, icNone, number_of);
      QV_FUZZ_CHECK(again.FieldCount <= kMaxKeyFields);
    } catch (const rtl::EDatabaseError&) {
    }
    ++number;
  }
}

}  // namespace korvex::fuzz
