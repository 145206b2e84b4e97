// Conversions between the ANSI set (Windows-1252) and the OEM set (code
// page 850), by fixed tables: a character the other set lacks becomes '?'.
// And comparisons of zero-terminated texts, of at most `length` characters
// when `length` >= 1, else whole (-1, 0 or 1).
#pragma once

#include <cstdint>
#include <string>

namespace korvex {

std::uint8_t AnsiToOemByte(std::uint8_t c);
std::uint8_t OemToAnsiByte(std::uint8_t c);

// `length` bytes; nothing when `length` < 1. Source and destination may be
// the same buffer.
void AnsiToNativeBuf(const char* source, char* dest, int length);
void NativeToAnsiBuf(const char* source, char* dest, int length);
// At most `max_length` bytes of the text, converted, zero-terminated.
char* AnsiToNative(const std::string& text, char* dest, int max_length);
void NativeToAnsi(const char* text, std::string& result);

int NativeCompareStrBuf(const char* a, const char* b, int length);
int NativeCompareTextBuf(const char* a, const char* b, int length);
int NativeCompareStr(const std::string& a, const std::string& b, int length);
int NativeCompareText(const std::string& a, const std::string& b, int length);

}  // namespace korvex
