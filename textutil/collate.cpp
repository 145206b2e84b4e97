#include "textutil/collate.h"

#include <array>
#include <cstdint>
#include <algorithm>
#include <vector>

#include "platform/runtime/cp1252.h"

namespace textutil::detail {
namespace {

// One collation element: primary weight (0 = passed over), accent, case.
struct Element {
  uint16_t primary = 0;
  uint8_t accent = 0;
  uint8_t upper = 0;
};

// Up to two elements per byte (the expansions ß, æ, œ, þ).
struct Weights {
  Element e[2];
  int count = 0;
};

constexpr uint16_t kSymbol = 0x100, kDigit = 0x200, kLetter = 0x300;

uint16_t LetterWeight(char base) { return static_cast<uint16_t>(kLetter + (base - 'a')); }

// Base letters (lower case) of the accented Windows-1252 letters; "" for
// bytes that are not accented letters.
const char* BaseOf(unsigned char c) {
  static const std::array<const char*, 64> kHigh = {
      "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",  // C0
      "d", "n", "o", "o", "o", "o", "o", "",  "o", "u", "u", "u", "u", "y", "th", "ss",  // D0
      "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",  // E0
      "d", "n", "o", "o", "o", "o", "o", "",  "o", "u", "u", "u", "u", "y", "th", "y"};  // F0
  if (c >= 0xC0) return kHigh[c - 0xC0];
  switch (c) {
    case 0x8A: case 0x9A: return "s";
    case 0x8C: case 0x9C: return "oe";
    case 0x8E: case 0x9E: return "z";
    case 0x9F: return "y";
    case 0x83: return "f";
    case 0xAA: return "a";
    case 0xBA: return "o";
    default: return "";
  }
}

std::array<Weights, 256> BuildTable() {
  std::array<Weights, 256> table{};
  for (int c = 0; c < 256; ++c) {
    Weights& w = table[c];
    const auto uc = static_cast<unsigned char>(c);
    const uint8_t upper = rtl::CharLower(uc) != uc ? 1 : 0;
    if (c < 32 || c == 127 || c == '-' || c == '\'' || c == 0xAD) {
      continue;  // passed over
    } else if (c >= '0' && c <= '9') {
      w.e[w.count++] = {static_cast<uint16_t>(kDigit + c - '0'), 0, 0};
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      w.e[w.count++] = {LetterWeight(static_cast<char>(c | 0x20)), 0, upper};
    } else if (const char* base = BaseOf(uc); *base) {
      // Accented letters and expansions (æ, ß ...) carry their own code as
      // the accent weight, so "ss" sorts before "ß".
      for (const char* p = base; *p && w.count < 2; ++p) w.e[w.count++] = {LetterWeight(*p), uc, upper};
    } else {
      w.e[w.count++] = {static_cast<uint16_t>(kSymbol + c), 0, 0};
    }
  }
  return table;
}

const std::array<Weights, 256>& Table() {
  static const std::array<Weights, 256> table = BuildTable();
  return table;
}

// The elements of s at one level, in order; the passed-over bytes at level
// 4.
std::vector<uint16_t> Level(std::string_view s, int level) {
  std::vector<uint16_t> out;
  out.reserve(s.size());
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    const Weights& w = Table()[c];
    if (level == 4) {
      if (w.count == 0) out.push_back(c);
      continue;
    }
    for (int i = 0; i < w.count; ++i)
      out.push_back(level == 1 ? w.e[i].primary : level == 2 ? w.e[i].accent : w.e[i].upper);
  }
  return out;
}

}  // namespace

int Collate(std::string_view a, std::string_view b, bool ignore_case) {
  for (int level = 1; level <= 4; ++level) {
    if (level == 3 && ignore_case) continue;
    const std::vector<uint16_t> x = Level(a, level), y = Level(b, level);
    if (x != y) return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end()) ? -1 : 1;
  }
  return 0;
}

}  // namespace textutil::detail
