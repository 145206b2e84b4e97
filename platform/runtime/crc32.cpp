#include "platform/runtime/crc32.h"

#include <array>

#include "platform/runtime/coding.h"

namespace rtl {
namespace {

// Table k gives the CRC of a byte followed by k zero bytes, so that eight
// bytes go through eight look-ups at once (slicing by eight).
using TCrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr TCrcTables MakeTables() {
  TCrcTables t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    t[0][i] = c;
  }
  for (std::uint32_t i = 0; i < 256; ++i)
    for (std::size_t k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
  return t;
}

constexpr TCrcTables kTables = MakeTables();

}  // namespace

std::uint32_t Crc32Update(std::uint32_t crc, const void* bytes, std::size_t count) {
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const std::uint32_t low = crc ^ DecodeFixed32(p + i);
    const std::uint32_t high = DecodeFixed32(p + i + 4);
    crc = kTables[7][low & 0xFFu] ^ kTables[6][(low >> 8) & 0xFFu] ^ kTables[5][(low >> 16) & 0xFFu] ^
          kTables[4][low >> 24] ^ kTables[3][high & 0xFFu] ^ kTables[2][(high >> 8) & 0xFFu] ^
          kTables[1][(high >> 16) & 0xFFu] ^ kTables[0][high >> 24];
  }
  for (; i < count; ++i) crc = kTables[0][(crc ^ p[i]) & 0xFFu] ^ (crc >> 8);
  return crc;
}

}  // namespace rtl
