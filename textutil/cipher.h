// Disguising data: an RC4-style stream cipher, hiding a text among random
// characters, integers written as random-looking hexadecimal, and the
// two-letter codes of the US states. No key is held here; keys come from
// the caller.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace textutil {

// Sets up the cipher state from the first 255 bytes of key (the schedule
// walks i downward, unlike published RC4) and restarts the stream. An
// empty key only restarts the stream.
void IniRC4(std::string_view key);
// Enciphers or deciphers text in place, continuing the stream, so a text
// may be processed in pieces. The state is process-wide: one stream at a
// time.
void CryptRC4(std::string& text);

// text scrambled and spread over 8 times as many random characters (codes
// 32..223), one in each block of eight, followed by 6 check characters;
// "" for "".
std::string Chaff(std::string_view text);
// The text hidden by Chaff, or "" when the input is too short or the check
// fails.
std::string Winnow(std::string_view chaffed);

// 16 upper-case hexadecimal digits: a random 32-bit R, then value xor the
// byte-reversed complement of 2R.
std::string HideInteger(std::int32_t value);
// The value back; 0 unless the input is exactly 16 hexadecimal digits.
std::int32_t SeekInteger(std::string_view hidden);

// The postal code of a US state's name (any case, outer blanks ignored),
// "??" when the name is empty or unknown.
std::string StateAbbrev(std::string_view name);

}  // namespace textutil
