// The key-byte pairs of the buffer cipher (EncryptBuffer, tables/lib) used
// by encrypted tables. The cipher only hides text from casual viewing; it
// protects nothing. These values are part of the file formats: once
// released they never change.
#pragma once

#include <cstdint>

namespace korvex {

struct TCipherKeys {
  std::uint8_t key1;
  std::uint8_t key2;
};

// The characters of the data file's description and password (the length
// byte stays plain).
inline constexpr TCipherKeys kHeaderTextKeys = {0x5A, 0xC3};
// The data file's field-definition block and each record.
inline constexpr TCipherKeys kDataKeys = {0x3E, 0x97};
// The index and BLOB files: headers, and each BLOB block's 18-byte header and
// data area separately.
inline constexpr TCipherKeys kIndexBlobKeys = {0xB1, 0x6D};

}  // namespace korvex
