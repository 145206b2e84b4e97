// Check values over the bytes of a string or buffer: a Fletcher checksum,
// CRC-32, two CRC-16s, an 8-bit sum and the Internet checksum.
//
// The CRC routines keep no state: the caller passes the running value in
// and gets the new one back, so long data can be processed in pieces. None
// of them inverts the value; for the usual finished CRC-32 pass 0xFFFFFFFF
// and invert the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace textutil {

// Fletcher checksum with one's-complement (modulo 255) sums: second sum in
// the high byte, first in the low byte; 0 for "".
std::uint16_t ChkSum(std::string_view s);
// Appends two bytes so that ChkSum of the result is 0; nothing for "".
void MakeSumZero(std::string& s);

// Reflected CRC-32 (polynomial 0xEDB88320): rtl::Crc32Update.
std::uint32_t CRC32(std::uint32_t crc, std::string_view s);
std::uint32_t CRCBfr(std::uint32_t crc, const void* buffer, std::size_t len);

// Reflected CRC-16/ARC (polynomial 0xA001), table-driven.
std::uint16_t CRC16(std::uint16_t crc, std::string_view s);

// CRC-16 with polynomial 0x1021, most significant bit first (XMODEM for a
// start of 0), bit by bit. Start value and result have their two bytes
// swapped, so a result can be fed back in for the next piece.
std::uint16_t CRCXY(std::uint16_t crc, std::string_view s);

// The sum of the bytes modulo 256.
std::uint8_t ChkSumXY(std::string_view s);

// The Internet checksum (one's-complement sum of little-endian 16-bit words,
// complemented; a zero result is sent as 0xFFFF). With an odd length the
// first byte alone starts the sum. 0 for "".
std::uint16_t NetSum(std::string_view s);

}  // namespace textutil
