// Field data types and sub types of the table engine, shared by the
// storage library, the engine and the SQL layer.
//
// Values in record buffers, index keys and expression nodes:
//   string     zero-terminated Windows-1252 bytes; size = length + 1
//   date       signed 32-bit day number (1 January of year 1 is day 1)
//   boolean    16-bit 0 or 1
//   smallint   signed 16-bit       word   unsigned 16-bit
//   integer    signed 32-bit       float  8-byte double
//   BCD        signed 64-bit stored form (numeric.h): the digits at the
//              field's decimals followed by one digit holding the decimals
//   time       signed 32-bit milliseconds since midnight
//   timestamp  double: day number x 86,400,000 + milliseconds of the day
//   bytes      raw bytes of the field's size
#pragma once

#include <cstdint>

namespace korvex {

// Code 0 is the type of a NULL constant; 15 (variable bytes) is accepted
// wherever bytes are.
enum TFieldDataType : std::uint8_t {
  dtUnknown = 0,
  dtString = 1,
  dtDate = 2,
  dtBlob = 3,
  dtBoolean = 4,
  dtSmallInt = 5,
  dtInteger = 6,
  dtFloat = 7,
  dtBCD = 8,
  dtBytes = 9,
  dtTime = 10,
  dtTimeStamp = 11,
  dtWord = 12,
  dtVarBytes = 15,
};

enum TFieldSubType : std::uint8_t {
  fstNone = 0,
  fstMoney = 21,          // float
  fstMemo = 22,           // BLOB holding text
  fstBinary = 23,         // BLOB kinds 23..28
  fstFormattedMemo = 24,
  fstGraphic = 26,
  fstTypedBinary = 28,
  fstAutoInc = 29,        // integer
};

inline constexpr double kMSecsPerDay = 86400000.0;

inline bool IsIntegralType(std::uint8_t type) {
  return type == dtSmallInt || type == dtInteger || type == dtWord;
}
inline bool IsNumericType(std::uint8_t type) {
  return IsIntegralType(type) || type == dtFloat || type == dtBCD;
}
inline bool IsBytesType(std::uint8_t type) { return type == dtBytes || type == dtVarBytes; }
inline bool IsDateTimeType(std::uint8_t type) {
  return type == dtDate || type == dtTime || type == dtTimeStamp;
}
inline bool IsTextType(std::uint8_t type) { return type == dtString || type == dtBlob; }

}  // namespace korvex
