// TFieldDefinition: the definition of one field of a table, kept in the data
// file as a 768-byte block (layout at the top of field_definition.cpp) and
// read into these native fields.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tables/lib/fieldtypes.h"

namespace korvex {

class TExpToken;

inline constexpr std::size_t kFieldDefinitionSize = 768;
// The bytes of a definition that hold its values (number to hidden flag);
// the rest is reserved.
inline constexpr std::size_t kFieldDefinitionValueBytes = 253;
inline constexpr std::size_t kMaxFieldNameLength = 30;
inline constexpr std::size_t kMaxFieldTextLength = 50;
inline constexpr std::uint16_t kMaxFields = 1024;
inline constexpr std::uint16_t kMaxBlobFields = 64;
inline constexpr std::uint32_t kMaxRecordSize = 65535;
// Bytes 0..8 of every record: deleted flag, number or free link, record ID.
inline constexpr std::uint16_t kRecordPrefixSize = 9;
inline constexpr std::uint16_t kRecordIDOffset = 5;

struct TFieldDefinition {
  std::uint16_t FieldNumber = 0;  // 1-based position
  std::string Name;
  std::string Description;
  std::uint8_t DataType = 0;
  std::uint8_t SubType = 0;
  std::uint8_t Size = 0;      // declared size (strings, bytes, code 15)
  std::uint8_t Decimals = 0;  // declared scale (BCD)
  std::uint8_t PhysicalSize = 0;
  std::uint8_t PhysicalDecimals = 0;
  std::uint16_t Offset = 0;  // of the null-flag byte in the record
  std::uint8_t Required = 0;
  std::uint8_t CharCase = 0;
  std::string Minimum;
  std::string Maximum;
  std::string Default;
  std::uint8_t Calculated = 0;
  std::uint8_t Hidden = 0;
  // Bytes 253..767: zero in stored definitions; kept as read.
  std::array<std::uint8_t, kFieldDefinitionSize - 253> Reserved{};
  // In memory only, never stored: the parsed expression of a calculated
  // field (owned by whoever parsed it), and the cursor's qualified name
  // ("table.field", at most 100 characters).
  TExpToken* Expression = nullptr;
  std::string QualifiedName;

  void Decode(const std::uint8_t* block);
  void Encode(std::uint8_t* block) const;

  bool IsAutoIncrement() const { return DataType == dtInteger && SubType == fstAutoInc; }
  // Whether the value takes bytes of the record (neither auto-increment nor
  // calculated).
  bool TakesRecordBytes() const;
  // Physical size and decimals from the declared ones.
  void UpdatePhysicalSize();
};

// Bytes a value of the type takes in a record, from the declared size.
std::uint8_t PhysicalSizeOf(std::uint8_t data_type, std::uint8_t size);
// Whether the type carries a declared size (string, bytes, code 15).
bool TypeHasSize(std::uint8_t data_type);

// Hands out record offsets in field order (auto-increment integers at 5,
// the rest from 9, each stored field taking its physical size and a
// null-flag byte) and answers the record size they make. 64-bit: the caller
// refuses sizes above kMaxRecordSize.
std::uint64_t AssignFieldOffsets(std::vector<TFieldDefinition>& fields);
// The record size the fields make and the offset each should have, without
// changing them.
std::uint64_t ComputeRecordLayout(const std::vector<TFieldDefinition>& fields, std::vector<std::uint16_t>* offsets);

}  // namespace korvex
