// Numbers as raw bytes and as printable text, packed decimal, Soundex, a
// string hash and two scramblers.
//
// Raw forms are big-endian (most significant byte first). The printable
// alphabet is the Base64 alphabet of RFC 4648 with '=' as the pad.
//
// The number codecs (EnCodeInt and relatives) are not Base64 of the raw
// bytes: they read the value's little-endian memory bytes as a big-endian
// number X and write X's 6-bit groups from the least significant end, one
// alphabet character each: 3 characters for 16 bits, 6 for 32, 11 for 64.
//
// Short or empty input decodes to 0, 0.0 or ""; nothing here throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "textutil/currency.h"

namespace textutil {

// ---- raw bytes ------------------------------------------------------------

std::string IntToChr(std::int32_t value);
std::int32_t ChrToInt(std::string_view s);     // 0 when s has fewer than 4 bytes
std::string WordToChr(std::uint16_t value);
std::uint16_t ChrToWord(std::string_view s);   // 0 when fewer than 2
std::string SngToChr(float value);
float ChrToSng(std::string_view s);            // 0.0 when fewer than 4
std::string DblToChr(double value);
double ChrToDbl(std::string_view s);           // 0.0 when fewer than 8
std::string CurToChr(Currency value);
Currency ChrToCur(std::string_view s);         // 0 when fewer than 8

// The value with its four bytes reversed.
std::int32_t SwapEndian(std::int32_t value);

// 32 characters '0'/'1', most significant bit first.
std::string IntToBin(std::int32_t value);
// Each character gives one bit (its lowest bit), first character most
// significant; only the last 32 characters count.
std::int32_t BinToInt(std::string_view s);
// Hexadecimal digits '0'..'9', 'A'..'F'. Characters below '0' are skipped;
// a lower-case letter or any other character beyond 'F' ends the number.
std::int32_t HexToInt(std::string_view s);

// ---- printable number codecs ----------------------------------------------

std::string EnCodeInt(std::int32_t value);    // 6 characters
std::int32_t DeCodeInt(std::string_view s);   // 0 when fewer than 6
std::string EnCodeWord(std::uint16_t value);  // 3 characters
std::uint16_t DeCodeWord(std::string_view s); // 0 when fewer than 3
std::string EnCodeSng(float value);           // EnCodeInt of the bit pattern
float DeCodeSng(std::string_view s);
std::string EnCodeDbl(double value);          // 11 characters
double DeCodeDbl(std::string_view s);         // 0.0 when fewer than 11
std::string EnCodeCur(Currency value);        // EnCodeDbl of the bit pattern
Currency DeCodeCur(std::string_view s);

// ---- Base64 ---------------------------------------------------------------

// RFC 4648 Base64 with '=' padding: (length + 2) / 3 * 4 characters.
std::string EnCodeStr(std::string_view s);
// Reads whole groups of four characters (a shorter rest is ignored). A
// group with k alphabet characters gives k - 1 bytes, so trailing '='
// characters are harmless; any other character spoils its group's bytes.
std::string DeCodeStr(std::string_view s);

// ---- packed decimal -------------------------------------------------------

// Two digits a byte, the first in the high nibble; non-digits are skipped.
// With an odd number of digits the first digit has a byte of its own.
std::string EnCodeBCD(std::string_view s);
// Each byte gives its high then its low nibble as '0' + nibble; a first
// byte whose high nibble is 0 gives only its low one. Nibbles above 9 come
// out as the characters after '9'.
std::string DeCodeBCD(std::string_view s);

// ---- codes and scramblers -------------------------------------------------

// Soundex of the characters 'A'..'z' (upper-cased by clearing bit 5): the
// first one and up to three digits, '0'-padded, packed first character in
// the lowest byte. A digit equal to the last written one is not repeated,
// even across vowels. "0000" for a text without such characters.
std::int32_t Soundex(std::string_view s);

// A 32-bit shift-and-add hash; 0 for "".
std::uint32_t Hash(std::string_view s);

// Scrambles the characters 32..127 of s in place (others pass unchanged);
// DeCipher undoes it.
void EnCipher(std::string& s);
void DeCipher(std::string& s);

// XOR-scrambles s with key in place; applying it twice restores s. Nothing
// happens when s or key is empty.
void Crypt(std::string& s, std::string_view key);
void CryptBfr(void* buffer, std::string_view key, std::size_t len);

}  // namespace textutil
