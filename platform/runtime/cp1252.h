// Windows-1252: the byte encoding of every string in Quorvane, its mapping
// to Unicode (used only at the Qt boundary) and its case tables.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rtl {

// Unicode code point of a Windows-1252 byte; the five undefined bytes
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) give U+FFFD.
char32_t Cp1252ToUnicode(unsigned char byte);

// Windows-1252 byte of a code point; '?' when it has none.
unsigned char UnicodeToCp1252(char32_t code);

std::string Cp1252ToUtf8(std::string_view bytes);
// Malformed UTF-8 sequences become '?', as unmappable characters do.
std::string Utf8ToCp1252(std::string_view utf8);

// Case mapping of the platform (CharUpper/CharLower): every Windows-1252
// letter with a case partner in the code page, accented ones included.
unsigned char CharUpper(unsigned char c);
// The 256 bytes CharUpper gives, for loops over many characters.
const unsigned char* CharUpperTable();
unsigned char CharLower(unsigned char c);
bool IsCharAlpha(unsigned char c);
std::string AnsiUpperCase(std::string_view s);
std::string AnsiLowerCase(std::string_view s);

}  // namespace rtl
