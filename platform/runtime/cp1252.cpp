#include "platform/runtime/cp1252.h"

#include <array>

namespace rtl {
namespace {

// 0x80..0x9F; 0xFFFD marks the bytes the code page leaves undefined.
constexpr char16_t kHigh[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

struct CaseTables {
  std::array<unsigned char, 256> upper{}, lower{};
  std::array<bool, 256> alpha{};
  CaseTables() {
    for (int c = 0; c < 256; ++c) upper[c] = lower[c] = static_cast<unsigned char>(c);
    auto pair = [this](int lo, int up) {
      upper[lo] = static_cast<unsigned char>(up);
      lower[up] = static_cast<unsigned char>(lo);
      alpha[lo] = alpha[up] = true;
    };
    for (int c = 'a'; c <= 'z'; ++c) pair(c, c - 32);
    for (int c = 0xE0; c <= 0xFE; ++c)
      if (c != 0xF7) pair(c, c - 32);  // à..þ except ÷
    pair(0x9A, 0x8A);  // š Š
    pair(0x9C, 0x8C);  // œ Œ
    pair(0x9E, 0x8E);  // ž Ž
    pair(0xFF, 0x9F);  // ÿ Ÿ
    for (int c : {0x83, 0xAA, 0xB5, 0xBA, 0xDF}) alpha[c] = true;  // ƒ ª µ º ß
  }
};

const CaseTables& Tables() {
  static const CaseTables tables;
  return tables;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

char32_t Cp1252ToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return kHigh[byte - 0x80];
  return byte;
}

unsigned char UnicodeToCp1252(char32_t code) {
  if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<unsigned char>(code);
  if (code != 0xFFFD)
    for (int i = 0; i < 32; ++i)
      if (kHigh[i] == code) return static_cast<unsigned char>(0x80 + i);
  return '?';
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (unsigned char b : bytes) AppendUtf8(out, Cp1252ToUnicode(b));
  return out;
}

std::string Utf8ToCp1252(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    unsigned char b = static_cast<unsigned char>(in[i]);
    int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    char32_t cp = extra <= 0 ? b : (b & (0x3F >> extra));
    bool ok = extra >= 0 && i + extra < in.size();
    for (int k = 1; ok && k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(in[i + k]);
      if ((next & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (next & 0x3F);
    }
    if (!ok) {  // malformed: one '?' per bad lead byte, then resynchronise
      out += '?';
      ++i;
      continue;
    }
    out += static_cast<char>(UnicodeToCp1252(cp));
    i += extra + 1;
  }
  return out;
}

unsigned char CharUpper(unsigned char c) { return Tables().upper[c]; }
const unsigned char* CharUpperTable() { return Tables().upper.data(); }
unsigned char CharLower(unsigned char c) { return Tables().lower[c]; }
bool IsCharAlpha(unsigned char c) { return Tables().alpha[c]; }

std::string AnsiUpperCase(std::string_view s) {
  std::string out(s);
  for (auto& ch : out) ch = static_cast<char>(CharUpper(static_cast<unsigned char>(ch)));
  return out;
}

std::string AnsiLowerCase(std::string_view s) {
  std::string out(s);
  for (auto& ch : out) ch = static_cast<char>(CharLower(static_cast<unsigned char>(ch)));
  return out;
}

}  // namespace rtl
