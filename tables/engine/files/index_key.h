// Key bytes: field values as bytes that sort by value, the keys of indexes
// and of the record sort built from them, and their comparison.
//
// A key is, per key field in index order, one null-flag byte (0 blank, 1 a
// value) and the field's physical size in value bytes:
//   string     the characters up to the terminator (upper-cased for a
//              case-insensitive index), the rest zero
//   integers, floats, BCD, dates, times: the encodings of key_bytes.h
//   others     the value's bytes as stored
// A blank field's value bytes are all zero; an auto-increment field takes
// flag 1 and the record ID. A non-unique index appends the record ID (4
// bytes, FlipIntegerBits) so that every key is distinct. The system index
// keys deleted records: the deleted-flag byte and the same 4 bytes.
//
// Index keys are always built ascending: the comparison inverts the order
// of descending indexes and fields. A record sort key inverts the value
// bytes of a descending field itself when the table's language is 0.
//
// Language 0 compares keys byte by byte. Other languages compare string
// fields by the table's collation (accents ignored, case kept), each operand
// stopping at its terminator; every other byte as bytes.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tables/engine/files/field_definition.h"
#include "tables/engine/files/index_definition.h"

namespace korvex {

// The key bytes of one value (its physical size) into `key`; `value` is the
// field's bytes in the record after its null flag.
void PrepareDataForIndex(const TFieldDefinition& field, const std::uint8_t* value, std::uint8_t* key,
                         bool case_insensitive, bool descending, std::uint16_t language, std::uint16_t sort);

// Σ (physical size + 1) over the key fields, + 4 when not unique; 0 when a
// field number names no field.
std::uint32_t ComputeKeySize(const TIndexDefinition& index, const std::vector<TFieldDefinition>& fields);

// The index key of a record (index.KeySize bytes).
void BuildIndexKey(const TIndexDefinition& index, const std::vector<TFieldDefinition>& fields,
                   std::uint16_t language, std::uint16_t sort, const std::uint8_t* record, std::uint8_t* key);
// The system index key of a record (5 bytes).
void BuildSystemKey(const std::uint8_t* record, std::uint8_t* key);

// The ordering of the keys of one index.
class TKeyComparator {
public:
  // Byte order, ascending (the system index).
  TKeyComparator() = default;
  TKeyComparator(std::uint16_t language, std::uint16_t sort, const TIndexDefinition& index,
                 const std::vector<TFieldDefinition>& fields);

  // -1, 0 or 1 over the first `length` bytes; nothing past them is read.
  // Byte order is compared here, in every descent's inner loop.
  int CompareKeys(const std::uint8_t* a, const std::uint8_t* b, std::uint16_t length) const {
    if (!bytes_) return CompareFields(a, b, length);
    if (a == nullptr) return 1;
    if (length == 0) return 0;
    int sign = 0;
    if (length <= kShortKey) {
      // Short keys (record numbers, system keys) by hand: a library call
      // costs more than their few bytes.
      for (std::uint16_t i = 0; i < length; ++i)
        if (a[i] != b[i]) {
          sign = a[i] < b[i] ? -1 : 1;
          break;
        }
    } else {
      const int r = std::memcmp(a, b, length);
      sign = (r > 0) - (r < 0);
    }
    return descending_ ? -sign : sign;
  }

  struct Part {
    std::uint16_t size;  // value bytes
    bool string;
    bool descending;
  };

private:
  static constexpr std::uint16_t kShortKey = 8;
  // Under a language: field by field, strings by the collation.
  int CompareFields(const std::uint8_t* a, const std::uint8_t* b, std::uint16_t length) const;

  bool bytes_ = true;
  bool descending_ = false;
  std::uint32_t locale_ = 0;
  // In place: a comparator is made for each write's index upkeep.
  std::array<Part, kMaxKeyFields> parts_{};
  std::uint8_t part_count_ = 0;
};

// The record sort: fields with a descending flag each; the sort as a whole
// may be case-insensitive.
struct TSortField {
  TFieldDefinition Field;
  bool Descending = false;
};

class TSortKeys {
public:
  TSortKeys(std::vector<TSortField> fields, bool case_insensitive, std::uint16_t language, std::uint16_t sort);
  // Σ (physical size + 1) + 4.
  std::uint32_t KeySize() const { return size_; }
  void GetSortKeyValues(const std::uint8_t* record, std::uint8_t* key) const;
  int CompareSortKeys(const std::uint8_t* a, const std::uint8_t* b, bool include_record_id) const;

private:
  std::vector<TSortField> fields_;
  std::vector<TKeyComparator::Part> parts_;
  bool case_insensitive_;
  std::uint16_t language_, sort_;
  std::uint32_t locale_;
  std::uint32_t size_ = kRecordIDKeySize;
};

}  // namespace korvex
