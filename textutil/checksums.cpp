#include "textutil/checksums.h"

#include <array>

#include "platform/runtime/crc32.h"

namespace textutil {
namespace {

template <typename T>
constexpr std::array<T, 256> MakeReflectedTable(T polynomial) {
  std::array<T, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    T c = static_cast<T>(i);
    for (int k = 0; k < 8; ++k) c = static_cast<T>((c & 1) ? (c >> 1) ^ polynomial : c >> 1);
    table[i] = c;
  }
  return table;
}

constexpr auto kCrc16Table = MakeReflectedTable<std::uint16_t>(0xA001u);

// One's-complement addition of two values below 256.
unsigned AddMod255(unsigned a, unsigned b) {
  unsigned sum = a + b;
  return (sum & 0xFF) + (sum >> 8);
}

void FletcherSums(std::string_view s, unsigned& s1, unsigned& s2) {
  s1 = 0;
  s2 = 0;
  for (char c : s) {
    s1 = AddMod255(s1, static_cast<unsigned char>(c));
    s2 = AddMod255(s2, s1);
  }
  if (s1 == 255) s1 = 0;
  if (s2 == 255) s2 = 0;
}

std::uint16_t Swap16(std::uint16_t v) { return static_cast<std::uint16_t>((v >> 8) | (v << 8)); }

}  // namespace

std::uint16_t ChkSum(std::string_view s) {
  unsigned s1, s2;
  FletcherSums(s, s1, s2);
  return static_cast<std::uint16_t>(s2 * 256 + s1);
}

void MakeSumZero(std::string& s) {
  if (s.empty()) return;
  unsigned s1, s2;
  FletcherSums(s, s1, s2);
  s += static_cast<char>(255 - (s1 + s2) % 255);
  s += static_cast<char>(s2);
}

std::uint32_t CRCBfr(std::uint32_t crc, const void* buffer, std::size_t len) {
  return buffer == nullptr ? crc : rtl::Crc32Update(crc, buffer, len);
}

std::uint32_t CRC32(std::uint32_t crc, std::string_view s) { return CRCBfr(crc, s.data(), s.size()); }

std::uint16_t CRC16(std::uint16_t crc, std::string_view s) {
  for (char c : s)
    crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrc16Table[(crc ^ static_cast<unsigned char>(c)) & 0xFF]);
  return crc;
}

std::uint16_t CRCXY(std::uint16_t crc, std::string_view s) {
  std::uint16_t c = Swap16(crc);
  for (char ch : s) {
    c = static_cast<std::uint16_t>(c ^ (static_cast<unsigned char>(ch) << 8));
    for (int k = 0; k < 8; ++k) {
      bool out = (c & 0x8000) != 0;
      c = static_cast<std::uint16_t>(c << 1);
      if (out) c ^= 0x1021;
    }
  }
  return Swap16(c);
}

std::uint8_t ChkSumXY(std::string_view s) {
  unsigned sum = 0;
  for (char c : s) sum += static_cast<unsigned char>(c);
  return static_cast<std::uint8_t>(sum & 0xFF);
}

std::uint16_t NetSum(std::string_view s) {
  if (s.empty()) return 0;
  std::uint32_t sum = 0;
  size_t i = 0;
  if (s.size() % 2 == 1) sum = static_cast<unsigned char>(s[i++]);
  for (; i + 1 < s.size(); i += 2) {
    sum += static_cast<unsigned char>(s[i]) | (static_cast<std::uint32_t>(static_cast<unsigned char>(s[i + 1])) << 8);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  std::uint16_t result = static_cast<std::uint16_t>(~sum);
  return result == 0 ? 0xFFFF : result;
}

}  // namespace textutil
