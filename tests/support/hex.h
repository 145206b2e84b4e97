// Bytes as lower-case hexadecimal digits, two a byte, for test messages and
// comparisons.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvtest {

inline std::string Hex(const std::uint8_t* bytes, std::size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

inline std::string Hex(const std::string& bytes) {
  return Hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace qvtest
