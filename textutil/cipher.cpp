#include "textutil/cipher.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstdio>
#include <random>
#include <utility>
#include <vector>

#include "platform/runtime/sysutils.h"
#include "textutil/arrays.h"
#include "textutil/codecs.h"

namespace textutil {
namespace {

struct Rc4State {
  std::array<std::uint8_t, 256> s;
  std::uint8_t i = 0;
  std::uint8_t j = 0;
  Rc4State() {
    for (int x = 0; x < 256; ++x) s[static_cast<size_t>(x)] = static_cast<std::uint8_t>(x);
  }
};

Rc4State& Rc4() {
  static Rc4State state;
  return state;
}

// A generator of this file's own, seeded afresh from the clock on each
// use, so nothing else in the process (which may seed a shared generator)
// can make its output predictable or be disturbed by it.
std::mt19937 ClockSeededGenerator() {
  static std::atomic<std::uint64_t> calls{0};
  auto ticks = static_cast<std::uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
  std::uint64_t n = calls.fetch_add(1) + 1;
  std::seed_seq seed{static_cast<std::uint32_t>(ticks), static_cast<std::uint32_t>(ticks >> 32),
                     static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(n >> 32)};
  return std::mt19937(seed);
}

// The offset of the hidden character within each block of eight.
size_t ChaffOffset(std::uint32_t hash) { return std::rotr(hash, 1) % 8; }

std::uint32_t Mask(std::uint32_t r) { return __builtin_bswap32(~(r << 1)); }

bool ParseHex8(std::string_view s, std::uint32_t& value) {
  value = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else
      return false;
    value = (value << 4) | static_cast<std::uint32_t>(d);
  }
  return true;
}

std::string NormalName(std::string_view name) {
  size_t first = name.find_first_not_of(' ');
  if (first == std::string_view::npos) return "";
  size_t last = name.find_last_not_of(' ');
  return rtl::UpperCase(name.substr(first, last - first + 1));
}

struct StateTables {
  std::vector<std::int32_t> keys;  // sorted as unsigned values
  std::vector<std::string> names;  // names[i] and codes[i] belong to keys[i]
  std::vector<std::string> codes;

  StateTables() {
    static constexpr std::pair<const char*, const char*> kStates[] = {
        {"Alabama", "AL"},       {"Alaska", "AK"},         {"Arizona", "AZ"},       {"Arkansas", "AR"},
        {"California", "CA"},    {"Colorado", "CO"},       {"Connecticut", "CT"},   {"Delaware", "DE"},
        {"Florida", "FL"},       {"Georgia", "GA"},        {"Hawaii", "HI"},        {"Idaho", "ID"},
        {"Illinois", "IL"},      {"Indiana", "IN"},        {"Iowa", "IA"},          {"Kansas", "KS"},
        {"Kentucky", "KY"},      {"Louisiana", "LA"},      {"Maine", "ME"},         {"Maryland", "MD"},
        {"Massachusetts", "MA"}, {"Michigan", "MI"},       {"Minnesota", "MN"},     {"Mississippi", "MS"},
        {"Missouri", "MO"},      {"Montana", "MT"},        {"Nebraska", "NE"},      {"Nevada", "NV"},
        {"New Hampshire", "NH"}, {"New Jersey", "NJ"},     {"New Mexico", "NM"},    {"New York", "NY"},
        {"North Carolina", "NC"}, {"North Dakota", "ND"},  {"Ohio", "OH"},          {"Oklahoma", "OK"},
        {"Oregon", "OR"},        {"Pennsylvania", "PA"},   {"Rhode Island", "RI"},  {"South Carolina", "SC"},
        {"South Dakota", "SD"},  {"Tennessee", "TN"},      {"Texas", "TX"},         {"Utah", "UT"},
        {"Vermont", "VT"},       {"Virginia", "VA"},       {"Washington", "WA"},    {"West Virginia", "WV"},
        {"Wisconsin", "WI"},     {"Wyoming", "WY"},
    };
    struct Entry {
      std::uint32_t key;
      std::string name;
      std::string code;
    };
    std::vector<Entry> entries;
    for (const auto& [name, code] : kStates) {
      std::string normal = NormalName(name);
      entries.push_back({Hash(normal), normal, code});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& x, const Entry& y) { return x.key < y.key; });
    for (Entry& e : entries) {
      keys.push_back(static_cast<std::int32_t>(e.key));
      names.push_back(std::move(e.name));
      codes.push_back(std::move(e.code));
    }
  }
};

}  // namespace

void IniRC4(std::string_view key) {
  Rc4State& rc4 = Rc4();
  rc4.i = 0;
  rc4.j = 0;
  if (key.empty()) return;
  const size_t used = std::min<size_t>(key.size(), 255);
  for (int x = 0; x < 256; ++x) rc4.s[static_cast<size_t>(x)] = static_cast<std::uint8_t>(x);
  std::uint8_t j = 0;
  size_t k = 0;
  for (int i = 255; i >= 0; --i) {
    j = static_cast<std::uint8_t>(j + static_cast<unsigned char>(key[k]) + rc4.s[static_cast<size_t>(i)]);
    std::swap(rc4.s[static_cast<size_t>(i)], rc4.s[j]);
    if (++k == used) k = 0;
  }
}

void CryptRC4(std::string& text) {
  Rc4State& rc4 = Rc4();
  for (char& c : text) {
    rc4.i = static_cast<std::uint8_t>(rc4.i + 1);
    rc4.j = static_cast<std::uint8_t>(rc4.j + rc4.s[rc4.i]);
    std::swap(rc4.s[rc4.i], rc4.s[rc4.j]);
    std::uint8_t k = rc4.s[static_cast<std::uint8_t>(rc4.s[rc4.i] + rc4.s[rc4.j])];
    c = static_cast<char>(static_cast<unsigned char>(c) ^ k);
  }
}

std::string Chaff(std::string_view text) {
  if (text.empty()) return "";
  std::mt19937 random = ClockSeededGenerator();
  std::uniform_int_distribution<int> byte(0, 223);
  std::string scrambled(text);
  EnCipher(scrambled);
  const std::uint32_t hash = Hash(text);
  const size_t n = text.size();
  std::string out(8 * n, '\0');
  for (char& c : out) {
    int v = byte(random);
    c = static_cast<char>(v < 32 ? v | 32 : v);
  }
  const size_t offset = ChaffOffset(hash);
  for (size_t block = 0; block < n; ++block) out[8 * block + offset] = scrambled[n - 1 - block];
  out += EnCodeInt(static_cast<std::int32_t>(hash));
  return out;
}

std::string Winnow(std::string_view chaffed) {
  if (chaffed.size() < 6 || chaffed.size() - 6 <= 7) return "";
  const size_t body = chaffed.size() - 6;
  const auto hash = static_cast<std::uint32_t>(DeCodeInt(chaffed.substr(body)));
  const size_t n = body / 8;
  const size_t offset = ChaffOffset(hash);
  std::string text(n, '\0');
  for (size_t block = 0; block < n; ++block) text[n - 1 - block] = chaffed[8 * block + offset];
  DeCipher(text);
  return Hash(text) == hash ? text : "";
}

std::string HideInteger(std::int32_t value) {
  std::mt19937 random = ClockSeededGenerator();
  const std::uint32_t r = static_cast<std::uint32_t>(random());
  const std::uint32_t x = static_cast<std::uint32_t>(value) ^ Mask(r);
  char buffer[17];
  std::snprintf(buffer, sizeof buffer, "%08X%08X", r, x);
  return buffer;
}

std::int32_t SeekInteger(std::string_view hidden) {
  std::uint32_t r, x;
  if (hidden.size() != 16 || !ParseHex8(hidden.substr(0, 8), r) || !ParseHex8(hidden.substr(8), x)) return 0;
  return static_cast<std::int32_t>(x ^ Mask(r));
}

std::string StateAbbrev(std::string_view name) {
  static const StateTables tables;
  std::string key = NormalName(name);
  if (key.empty()) return "??";
  int found = IntSrch(tables.keys, static_cast<std::int32_t>(Hash(key)), static_cast<int>(tables.keys.size()));
  // The hash finds the place; the name itself must match there.
  if (found < 0 || tables.names[static_cast<size_t>(found)] != key) return "??";
  return tables.codes[static_cast<size_t>(found)];
}

}  // namespace textutil
