// TIndexDefinition: the definition of one index as kept in a 120-byte slot
// of the index file's header (layout at the top of index_file.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace korvex {

inline constexpr std::size_t kIndexDefinitionSize = 120;
inline constexpr int kMaxKeyFields = 16;
// Key bytes of the fields of one index; a non-unique index adds 4.
inline constexpr std::uint16_t kMaxKeyFieldBytes = 524;
inline constexpr std::uint16_t kMaxKeySize = kMaxKeyFieldBytes + 4;
inline constexpr std::uint16_t kRecordIDKeySize = 4;

enum TKeyCompression : std::uint8_t { kcNone = 0, kcLeading = 1, kcTrailing = 2, kcBoth = 3 };

struct TIndexDefinition {
  std::string Name;
  std::uint16_t KeySize = 0;
  std::uint8_t Descending = 0;
  std::uint8_t CaseInsensitive = 0;
  std::uint8_t Unique = 0;
  std::uint8_t Compression = kcNone;
  std::uint8_t FieldCount = 0;
  std::array<std::uint8_t, kMaxKeyFields> FieldDescending{};
  std::array<std::uint16_t, kMaxKeyFields> Fields{};
  std::uint32_t Root = 0;
  std::uint32_t FreePage = 0;
  std::uint8_t RemovalMark = 0;

  void Decode(const std::uint8_t* slot);
  // Reserved bytes are written as zero.
  void Encode(std::uint8_t* slot) const;
  // Whether key field i (0-based) sorts descending.
  bool FieldIsDescending(int i) const { return Descending != 0 || FieldDescending[i] != 0; }
  bool operator==(const TIndexDefinition&) const = default;
};

}  // namespace korvex
