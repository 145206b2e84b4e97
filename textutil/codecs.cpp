#include "textutil/codecs.h"

#include <array>
#include <bit>
#include <cstring>

#include "textutil/detail.h"

namespace textutil {
namespace {

using detail::U;

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';

// Index of c in the alphabet, -1 for any other character.
constexpr std::array<int8_t, 256> MakeAlphabetIndex() {
  std::array<int8_t, 256> index{};
  for (auto& v : index) v = -1;
  for (int i = 0; i < 64; ++i) index[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
  return index;
}
constexpr std::array<int8_t, 256> kAlphabetIndex = MakeAlphabetIndex();

// Big-endian bytes of the low `width` bytes of v.
std::string BigEndian(std::uint64_t v, int width) {
  std::string out(static_cast<size_t>(width), '\0');
  for (int i = width - 1; i >= 0; --i) {
    out[static_cast<size_t>(i)] = static_cast<char>(v & 0xFF);
    v >>= 8;
  }
  return out;
}

std::uint64_t FromBigEndian(std::string_view s, int width) {
  std::uint64_t v = 0;
  for (int i = 0; i < width; ++i) v = (v << 8) | U(s[static_cast<size_t>(i)]);
  return v;
}

// The 6-bit groups of x from the least significant end.
std::string EncodeGroups(std::uint64_t x, int count) {
  std::string out(static_cast<size_t>(count), '\0');
  for (int i = 0; i < count; ++i) out[static_cast<size_t>(i)] = kAlphabet[(x >> (6 * i)) & 63];
  return out;
}

// Inverse of EncodeGroups, keeping `bits` bits; characters outside the
// alphabet contribute nothing.
std::uint64_t DecodeGroups(std::string_view s, int count, int bits) {
  std::uint64_t x = 0;
  for (int i = 0; i < count; ++i) {
    int index = kAlphabetIndex[U(s[static_cast<size_t>(i)])];
    if (index >= 0 && 6 * i < 64) x |= static_cast<std::uint64_t>(index) << (6 * i);
  }
  return bits >= 64 ? x : (x & ((std::uint64_t{1} << bits) - 1));
}

// The scrambler's permutation of the offsets 0..95 and its inverse.
struct CipherTables {
  std::array<uint8_t, 96> forward{};
  std::array<uint8_t, 96> inverse{};
  constexpr CipherTables() {
    for (int i = 0; i < 96; ++i) {
      forward[static_cast<size_t>(i)] = static_cast<uint8_t>((i * 37 + 11) % 96);
      inverse[(i * 37 + 11) % 96] = static_cast<uint8_t>(i);
    }
  }
};
constexpr CipherTables kCipher;

// Runs the scrambler's rolling value over s; `decode` selects the direction.
void RunCipher(std::string& s, bool decode) {
  const std::uint32_t length = static_cast<std::uint32_t>(s.size());
  std::uint32_t v = length;
  for (size_t pos = 0; pos < s.size(); ++pos) {
    unsigned char c = U(s[pos]);
    if (c < 32 || c > 127) continue;
    std::uint32_t r = length - static_cast<std::uint32_t>(pos);  // characters still to do
    if (r % 4 != 0) v = std::rotl(v, 3);
    std::uint32_t m = v & ~std::uint32_t{0xE0};
    std::uint32_t key = m & 31;
    std::uint32_t out;  // the scrambled offset
    if (decode) {
      out = c - 32u;
      s[pos] = static_cast<char>(32 + kCipher.inverse[out ^ key]);
    } else {
      out = kCipher.forward[c - 32u] ^ key;
      s[pos] = static_cast<char>(32 + out);
    }
    v = m + r + out;
  }
}

}  // namespace

// ---- raw bytes ------------------------------------------------------------

std::string IntToChr(std::int32_t value) { return BigEndian(static_cast<std::uint32_t>(value), 4); }

std::int32_t ChrToInt(std::string_view s) {
  return s.size() < 4 ? 0 : static_cast<std::int32_t>(FromBigEndian(s, 4));
}

std::string WordToChr(std::uint16_t value) { return BigEndian(value, 2); }

std::uint16_t ChrToWord(std::string_view s) {
  return s.size() < 2 ? 0 : static_cast<std::uint16_t>(FromBigEndian(s, 2));
}

std::string SngToChr(float value) { return BigEndian(std::bit_cast<std::uint32_t>(value), 4); }

float ChrToSng(std::string_view s) {
  return s.size() < 4 ? 0.0f : std::bit_cast<float>(static_cast<std::uint32_t>(FromBigEndian(s, 4)));
}

std::string DblToChr(double value) { return BigEndian(std::bit_cast<std::uint64_t>(value), 8); }

double ChrToDbl(std::string_view s) {
  return s.size() < 8 ? 0.0 : std::bit_cast<double>(FromBigEndian(s, 8));
}

std::string CurToChr(Currency value) { return BigEndian(static_cast<std::uint64_t>(value), 8); }

Currency ChrToCur(std::string_view s) {
  return s.size() < 8 ? 0 : static_cast<Currency>(FromBigEndian(s, 8));
}

std::int32_t SwapEndian(std::int32_t value) {
  return static_cast<std::int32_t>(__builtin_bswap32(static_cast<std::uint32_t>(value)));
}

std::string IntToBin(std::int32_t value) {
  std::uint32_t v = static_cast<std::uint32_t>(value);
  std::string out(32, '0');
  for (int i = 0; i < 32; ++i)
    if (v & (std::uint32_t{1} << (31 - i))) out[static_cast<size_t>(i)] = '1';
  return out;
}

std::int32_t BinToInt(std::string_view s) {
  std::uint32_t v = 0;
  for (char c : s) v = (v << 1) | (U(c) & 1u);
  return static_cast<std::int32_t>(v);
}

std::int32_t HexToInt(std::string_view s) {
  std::uint32_t v = 0;
  for (char ch : s) {
    int c = U(ch);
    if (c < '0') continue;
    int digit = c - '0';
    if (digit >= 10) digit -= 7;
    if (digit > 15) break;
    v = (v << 4) | static_cast<std::uint32_t>(digit);
  }
  return static_cast<std::int32_t>(v);
}

// ---- printable number codecs ----------------------------------------------

std::string EnCodeInt(std::int32_t value) {
  return EncodeGroups(__builtin_bswap32(static_cast<std::uint32_t>(value)), 6);
}

std::int32_t DeCodeInt(std::string_view s) {
  if (s.size() < 6) return 0;
  return static_cast<std::int32_t>(__builtin_bswap32(static_cast<std::uint32_t>(DecodeGroups(s, 6, 32))));
}

std::string EnCodeWord(std::uint16_t value) {
  return EncodeGroups(__builtin_bswap16(value), 3);
}

std::uint16_t DeCodeWord(std::string_view s) {
  if (s.size() < 3) return 0;
  return __builtin_bswap16(static_cast<std::uint16_t>(DecodeGroups(s, 3, 16)));
}

std::string EnCodeSng(float value) { return EnCodeInt(std::bit_cast<std::int32_t>(value)); }

float DeCodeSng(std::string_view s) { return std::bit_cast<float>(DeCodeInt(s)); }

std::string EnCodeDbl(double value) {
  return EncodeGroups(__builtin_bswap64(std::bit_cast<std::uint64_t>(value)), 11);
}

double DeCodeDbl(std::string_view s) {
  if (s.size() < 11) return 0.0;
  return std::bit_cast<double>(__builtin_bswap64(DecodeGroups(s, 11, 64)));
}

std::string EnCodeCur(Currency value) { return EnCodeDbl(std::bit_cast<double>(value)); }

Currency DeCodeCur(std::string_view s) { return std::bit_cast<Currency>(DeCodeDbl(s)); }

// ---- Base64 ---------------------------------------------------------------

std::string EnCodeStr(std::string_view s) {
  std::string out;
  out.reserve((s.size() + 2) / 3 * 4);
  for (size_t i = 0; i < s.size(); i += 3) {
    size_t n = std::min<size_t>(3, s.size() - i);
    std::uint32_t v = static_cast<std::uint32_t>(U(s[i])) << 16;
    if (n > 1) v |= static_cast<std::uint32_t>(U(s[i + 1])) << 8;
    if (n > 2) v |= U(s[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += n > 1 ? kAlphabet[(v >> 6) & 63] : kPad;
    out += n > 2 ? kAlphabet[v & 63] : kPad;
  }
  return out;
}

std::string DeCodeStr(std::string_view s) {
  std::string out;
  out.reserve(s.size() / 4 * 3);
  for (size_t g = 0; g + 4 <= s.size(); g += 4) {
    std::uint32_t v = 0;
    int valid = 0;
    for (int i = 0; i < 4; ++i) {
      unsigned char c = U(s[g + static_cast<size_t>(i)]);
      int shift = 6 * (3 - i);
      int index = kAlphabetIndex[c];
      if (index >= 0) {
        v |= static_cast<std::uint32_t>(index) << shift;
        ++valid;
      } else {
        v |= static_cast<std::uint32_t>(c) << shift;  // spoils its own and the previous place
      }
    }
    const char bytes[3] = {static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                           static_cast<char>(v & 0xFF)};
    if (valid > 1) out.append(bytes, static_cast<size_t>(valid - 1));
  }
  return out;
}

// ---- packed decimal -------------------------------------------------------

std::string EnCodeBCD(std::string_view s) {
  std::string digits;
  for (char c : s)
    if (c >= '0' && c <= '9') digits += c;
  std::string out;
  out.reserve((digits.size() + 1) / 2);
  size_t i = 0;
  if (digits.size() % 2 == 1) out += static_cast<char>(digits[i++] - '0');
  for (; i + 1 < digits.size(); i += 2)
    out += static_cast<char>(((digits[i] - '0') << 4) | (digits[i + 1] - '0'));
  return out;
}

std::string DeCodeBCD(std::string_view s) {
  std::string out;
  out.reserve(s.size() * 2);
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char b = U(s[i]);
    if (i > 0 || (b >> 4) != 0) out += static_cast<char>('0' + (b >> 4));
    out += static_cast<char>('0' + (b & 0x0F));
  }
  return out;
}

// ---- codes and scramblers -------------------------------------------------

std::int32_t Soundex(std::string_view s) {
  //                            ABCDEFGHIJKLMNOPQRSTUVWXYZ
  static constexpr char kCodes[] = "01230120022455012623010202";
  char code[4] = {'0', '0', '0', '0'};
  int filled = 0;
  char last = 0;  // the last digit written
  for (char ch : s) {
    unsigned char c = U(ch);
    if (c < 'A' || c > 'z') continue;
    c = static_cast<unsigned char>(c & ~0x20);
    if (filled == 0) {
      code[filled++] = static_cast<char>(c);
      continue;
    }
    if (c < 'A' || c > 'Z') continue;
    char digit = kCodes[c - 'A'];
    if (digit == '0' || digit == last) continue;
    code[filled++] = digit;
    last = digit;
    if (filled == 4) break;
  }
  std::uint32_t packed = 0;
  for (int i = 3; i >= 0; --i) packed = (packed << 8) | U(code[i]);
  return static_cast<std::int32_t>(packed);
}

std::uint32_t Hash(std::string_view s) {
  std::uint32_t h = 0;
  for (char c : s) {
    h = (h << 4) + U(c);
    std::uint32_t g = h & 0x0F000000u;
    if (g != 0) h &= ~(g >> 24);
  }
  return h;
}

void EnCipher(std::string& s) { RunCipher(s, false); }

void DeCipher(std::string& s) { RunCipher(s, true); }

void CryptBfr(void* buffer, std::string_view key, std::size_t len) {
  if (buffer == nullptr || key.empty() || len == 0) return;
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::uint8_t state = static_cast<std::uint8_t>((key.size() - 1) & 0xFF);
  size_t k = key.size() - 1;
  for (size_t i = 0; i < len; ++i) {
    if ((state & 0x08) == 0) state ^= 0x01;
    state = static_cast<std::uint8_t>(~state);
    state = static_cast<std::uint8_t>((state >> 1) | (state << 7));
    bytes[i] = static_cast<unsigned char>(bytes[i] ^ U(key[k]) ^ state);
    k = k == 0 ? key.size() - 1 : k - 1;
  }
}

void Crypt(std::string& s, std::string_view key) {
  if (s.empty() || key.empty()) return;
  CryptBfr(s.data(), key, s.size());
}

}  // namespace textutil
