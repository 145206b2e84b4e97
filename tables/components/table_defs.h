// Translation between the dataset framework's definitions (field types and
// sizes, index names, options and field-name lists) and the engine's
// definition blocks: TFieldDefinition (768 bytes, field_definition.cpp) and
// TIndexDefinition (120 bytes, index_file.h).
//
// Key fields are named by field number. Which number a name has is the
// caller's: the table's field definitions map names to their FieldNo, a
// restructure list to its position + 1.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/dataset/defs.h"
#include "platform/dataset/fields.h"
#include "tables/engine/files/field_definition.h"
#include "tables/engine/files/index_definition.h"

namespace korvex {

// Key compression as the framework names it (the engine's 0..3).
enum TIndexCompression : std::uint8_t { icNone, icDuplicateByte, icTrailingByte, icFull };

// Engine codes only the framework's types use (no table stores them).
inline constexpr std::uint8_t kSubTypeFixedChar = 31, kSubTypeWideString = 32, kDataTypeCursor = 17;

// The engine type and sub type of a field type; 0/0 for a type no engine
// type stands for.
void EngineTypeOf(db::TFieldType type, std::uint8_t& data_type, std::uint8_t& sub_type);

// A zeroed definition with the name (at most 30 characters kept), the
// engine type, and the size (strings, bytes, var-bytes) or decimals (BCD).
TFieldDefinition EncodeFieldDefinition(const std::string& name, db::TFieldType type, int size);

// The field type and size of an engine definition, the inverse of the
// encoding: a code only one type is written with gives that type, a code
// several share the first of them (ftString for ftGuid, ftBlob for the OLE
// and Oracle kinds: their bytes are the same). False (nothing set) for a
// code no field type stands for.
bool DecodeFieldDefinition(const TFieldDefinition& def, db::TFieldType& type, int& size);
// The size a field definition gives its field: strings, bytes and
// var-bytes their size, BCD its decimals, the rest 0.
int DefinitionSize(const TFieldDefinition& def);

// The field number of a name (0: no such field) and the name of a number
// (empty: none).
using FieldNumberOf = std::function<int(const std::string& name)>;
using FieldNameOf = std::function<std::string(int number)>;

// A zeroed definition: the name (at most 30 characters), the descending,
// case-insensitive and unique flags from the options (descending sets all
// 16 per-field bytes), the key field numbers of the names split at ';' (at
// most 16) and the compression. A name with no field raises "Field '%s'
// not found"; more than 16 names raise engine error 9487.
TIndexDefinition EncodeIndexDefinition(const std::string& name, db::TIndexOptions options, const std::string& fields,
                                       TIndexCompression compression, const FieldNumberOf& number_of);

// The framework's view of an engine definition: index number 0 is the
// primary index; key fields whose number names no field are left out; a
// field count above 16 reads 16 fields.
db::TIndexDef DecodeIndexDefinition(const TIndexDefinition& def, int index_number, const FieldNameOf& name_of);

// The definitions in creation order: a primary definition that is not
// first moves to the front; without one a blank primary comes first. The
// secondary count is the number after the primary.
struct TIndexOrder {
  std::vector<int> Order;  // positions in the given list; -1 the blank primary
  int SecondaryCount = 0;
};
TIndexOrder OrderForCreation(const std::vector<db::TIndexOptions>& options);

}  // namespace korvex
