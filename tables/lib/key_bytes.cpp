#include "tables/lib/key_bytes.h"

#include <cmath>
#include <cstring>

namespace korvex {
namespace {

void BigEndian(std::uint64_t value, int bytes, std::uint8_t* key) {
  for (int i = bytes - 1; i >= 0; --i) {
    key[i] = static_cast<std::uint8_t>(value);
    value >>= 8;
  }
}

}  // namespace

void FlipSmallIntBits(std::int16_t value, std::uint8_t* key) {
  BigEndian(static_cast<std::uint16_t>(value), 2, key);
  key[0] ^= 0x80;
}

void FlipWordBits(std::uint16_t value, std::uint8_t* key) { BigEndian(value, 2, key); }

void FlipIntegerBits(std::int32_t value, std::uint8_t* key) {
  BigEndian(static_cast<std::uint32_t>(value), 4, key);
  key[0] ^= 0x80;
}

void FlipCompBits(std::int64_t value, std::uint8_t* key) {
  BigEndian(static_cast<std::uint64_t>(value), 8, key);
  key[0] ^= 0x80;
}

void FlipFloatBits(double value, std::uint8_t* key) {
  if (value == 0) value = 0.0;  // -0.0 sorts with +0.0
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  BigEndian(bits, 8, key);
  if (value >= 0) {
    key[0] |= 0x80;
  } else {
    for (int i = 0; i < 8; ++i) key[i] = static_cast<std::uint8_t>(~key[i]);
  }
}

void FlipBuffer(std::uint8_t* buffer, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) buffer[i] = static_cast<std::uint8_t>(255 - buffer[i]);
}

std::uint16_t GetDuplicateCount(const std::uint8_t* a, const std::uint8_t* b, std::uint16_t maximum) {
  std::uint16_t n = 0;
  while (n < maximum && a[n] == b[n]) ++n;
  return n;
}

std::uint16_t GetTrailingCount(const std::uint8_t* last, std::uint16_t maximum) {
  std::uint16_t n = 0;
  while (n < maximum && *(last - n) == 0) ++n;
  return n;
}

void FillTrail(std::uint8_t* buffer, std::size_t count) {
  if (count > 0) std::memset(buffer, 0, count);
}

void EncryptBuffer(void* buffer, std::int32_t length, std::uint8_t key1, std::uint8_t key2) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  for (std::int32_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<std::uint8_t>(bytes[i] ^ key1 ^ key2);
    ++key1;
    --key2;
  }
}

void DecryptBuffer(void* buffer, std::int32_t length, std::uint8_t key1, std::uint8_t key2) {
  EncryptBuffer(buffer, length, key1, key2);
}

}  // namespace korvex
