// Length-prefixed strings inside fixed-size slots of the table files: one
// length byte, then the characters, the rest of the slot zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace korvex {

// The string at `offset` of a `block_size`-byte block. A length byte larger
// than its slot reads on into the following bytes (never past the block),
// so that a check can see, and a repair cut, the over-long text.
inline std::string GetShortString(const std::uint8_t* block, std::size_t block_size, std::size_t offset) {
  std::size_t length = block[offset];
  std::size_t room = block_size - offset - 1;
  if (length > room) length = room;
  return std::string(reinterpret_cast<const char*>(block + offset + 1), length);
}

// Writes `text`, cut to the slot, and zero-fills the slot's rest.
inline void PutShortString(std::uint8_t* block, std::size_t offset, std::size_t slot_size, const std::string& text) {
  std::size_t length = text.size() < slot_size - 1 ? text.size() : slot_size - 1;
  block[offset] = static_cast<std::uint8_t>(length);
  std::memcpy(block + offset + 1, text.data(), length);
  std::memset(block + offset + 1 + length, 0, slot_size - 1 - length);
}

}  // namespace korvex
