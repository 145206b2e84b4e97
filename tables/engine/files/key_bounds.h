// Key bounds: the lowest and highest key bytes of an index, used to widen
// a partial key (some leading fields, or the first bytes of one) to the
// full key length, and the neighbours of a key read as a big-endian number.
//
// Language 0 compares keys as bytes: the lowest fill is 0, the highest 255.
// A table of another language compares string fields by its collation, so
// there a string field takes the lowest (highest) character of that
// collation and every other field 0 (255). The system index ("Sys
// Deleted") is always compared as bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "tables/engine/files/field_definition.h"
#include "tables/engine/files/index_definition.h"

namespace korvex {

class TKeyBounds {
public:
  // Byte fills over `key_size` bytes (the system index, or language 0).
  explicit TKeyBounds(std::uint16_t key_size);
  TKeyBounds(const TIndexDefinition& index, const std::vector<TFieldDefinition>& fields, std::uint16_t language,
             std::uint16_t sort);

  std::uint16_t KeySize() const { return key_size_; }
  // Fill the key from byte `from` to the key size with the lowest
  // (highest) bytes.
  void SetLowBytes(std::uint8_t* key, std::uint16_t from) const;
  void SetHighBytes(std::uint8_t* key, std::uint16_t from) const;
  // Every key field blank with the lowest data bytes (the rest of the key
  // 0); every key field flagged as a value with the highest data bytes
  // (the rest 255).
  void FillAllLowBytes(std::uint8_t* key) const;
  void FillAllHighBytes(std::uint8_t* key) const;

  // One more (less) than the first `length` bytes read as a big-endian
  // number: trailing 255 (0) bytes roll over and carry (borrow). A key of
  // all 255 (all 0) bytes stays as it is; the answer is then false.
  static bool IncLastByte(std::uint8_t* key, std::uint16_t length);
  static bool DecLastByte(std::uint8_t* key, std::uint16_t length);

private:
  // The fill byte of every key position.
  void Fill(std::uint8_t* key, std::uint16_t from, const std::vector<std::uint8_t>& bytes) const;

  std::uint16_t key_size_;
  std::vector<std::uint8_t> low_, high_;
  // Key fields: where each begins and how long it is (flag included).
  struct Field {
    std::uint16_t offset, size;
    bool string;
  };
  std::vector<Field> fields_;
  std::uint8_t low_char_ = 0, high_char_ = 255;
};

}  // namespace korvex
