// Key bytes: field values written into index keys so that one unsigned
// byte-by-byte comparison of two keys orders them as values, plus the small
// byte helpers of compressed keys and the buffer scrambling of encrypted
// tables.
//
// Encodings (most significant byte first):
//   smallint  2 bytes, top bit inverted      word      2 bytes as they are
//   integer   4 bytes, top bit inverted      comp/BCD  8 bytes, top bit inverted
//   float     8 bytes; value >= 0 (also -0.0): top bit set;
//             value < 0 or not a number: every bit inverted
// Field data types: smallint (5) -> FlipSmallIntBits; boolean (4), word (12)
// -> FlipWordBits; date (2), integer (6), time (10) -> FlipIntegerBits;
// float (7), timestamp (11) -> FlipFloatBits; BCD (8) -> FlipCompBits of its
// stored form. A descending key field is then inverted with FlipBuffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvex {

void FlipSmallIntBits(std::int16_t value, std::uint8_t* key);
void FlipWordBits(std::uint16_t value, std::uint8_t* key);
void FlipIntegerBits(std::int32_t value, std::uint8_t* key);
void FlipCompBits(std::int64_t value, std::uint8_t* key);
void FlipFloatBits(double value, std::uint8_t* key);

// Every one of `count` bytes b becomes 255 - b; a count of 0 changes nothing.
void FlipBuffer(std::uint8_t* buffer, std::size_t count);

inline std::int32_t FlipIntegerSign(std::int32_t value) { return -value; }

// Number of leading bytes in which a and b agree, at most `maximum`.
std::uint16_t GetDuplicateCount(const std::uint8_t* a, const std::uint8_t* b, std::uint16_t maximum);

// Number of zero bytes walking backwards from the byte at `last`, at most
// `maximum`.
std::uint16_t GetTrailingCount(const std::uint8_t* last, std::uint16_t maximum);

// Sets `count` bytes to zero.
void FillTrail(std::uint8_t* buffer, std::size_t count);

// Each byte is combined by exclusive-or with both key bytes, then key1 is
// incremented and key2 decremented (mod 256). The two routines compute the
// same transform, so each undoes the other.
void EncryptBuffer(void* buffer, std::int32_t length, std::uint8_t key1, std::uint8_t key2);
void DecryptBuffer(void* buffer, std::int32_t length, std::uint8_t key1, std::uint8_t key2);

}  // namespace korvex
