#pragma once
// The reflected CRC-32 (polynomial 0xEDB88320, zlib's and the Ethernet's),
// eight bytes at a time: the one CRC-32 of the tree.
#include <cstddef>
#include <cstdint>

namespace rtl {

// Runs `count` bytes through the CRC from the running value `crc` and
// returns the new one. Nothing is inverted, so long data can go in pieces:
// zlib's crc32 of bytes is ~Crc32Update(0xFFFFFFFF, bytes, count).
std::uint32_t Crc32Update(std::uint32_t crc, const void* bytes, std::size_t count);

// The finished CRC-32 of `count` bytes (started at all ones, inverted).
inline std::uint32_t Crc32(const void* bytes, std::size_t count) { return ~Crc32Update(0xFFFFFFFFu, bytes, count); }

}  // namespace rtl
