// The journal's headers and entries as bytes, their checksums and salts.
#include "tables/engine/cache/journal_codec.h"

#include <chrono>
#include <cstring>
#include <random>

#include "platform/runtime/coding.h"
#include "platform/runtime/crc32.h"

namespace korvex::jnl {
namespace {

constexpr char kMagic[8] = {'Q', 'V', 'J', 'N', 'L', '3', 0, 0};
constexpr char kPlacedMagic[8] = {'Q', 'V', 'J', 'N', 'L', '4', 0, 0};
constexpr char kSecondMagic[8] = {'Q', 'V', 'J', 'N', 'L', '2', 0, 0};
constexpr char kFirstMagic[8] = {'Q', 'V', 'J', 'N', 'L', '1', 0, 0};
constexpr std::size_t kFirstHeaderSize = 8 + 3 * 4 + 4;

std::uint64_t RotateLeft(std::uint64_t v, int bits) { return (v << bits) | (v >> (64 - bits)); }

// XXH64 (Yann Collet's 64-bit xxHash) of `count` bytes with a seed: four
// lanes of 8-byte words, several times faster than the table CRC, which is
// kept for headers and the older layouts.
std::uint64_t Hash64(const std::uint8_t* bytes, std::size_t count, std::uint64_t seed) {
  constexpr std::uint64_t p1 = 11400714785074694791ull, p2 = 14029467366897019727ull, p3 = 1609587929392839161ull,
                          p4 = 9650029242287828579ull, p5 = 2870177450012600261ull;
  auto round = [](std::uint64_t acc, std::uint64_t input) { return RotateLeft(acc + input * p2, 31) * p1; };
  auto merge = [&](std::uint64_t acc, std::uint64_t lane) { return (acc ^ round(0, lane)) * p1 + p4; };
  const std::uint8_t* p = bytes;
  const std::uint8_t* const end = bytes + count;
  std::uint64_t h;
  if (count >= 32) {
    std::uint64_t v1 = seed + p1 + p2, v2 = seed + p2, v3 = seed, v4 = seed - p1;
    for (; p + 32 <= end; p += 32) {
      v1 = round(v1, rtl::DecodeFixed64(p));
      v2 = round(v2, rtl::DecodeFixed64(p + 8));
      v3 = round(v3, rtl::DecodeFixed64(p + 16));
      v4 = round(v4, rtl::DecodeFixed64(p + 24));
    }
    h = RotateLeft(v1, 1) + RotateLeft(v2, 7) + RotateLeft(v3, 12) + RotateLeft(v4, 18);
    h = merge(merge(merge(merge(h, v1), v2), v3), v4);
  } else {
    h = seed + p5;
  }
  h += count;
  for (; p + 8 <= end; p += 8) h = RotateLeft(h ^ round(0, rtl::DecodeFixed64(p)), 27) * p1 + p4;
  if (p + 4 <= end) {
    h = RotateLeft(h ^ (std::uint64_t{rtl::DecodeFixed32(p)} * p1), 23) * p2 + p3;
    p += 4;
  }
  for (; p < end; ++p) h = RotateLeft(h ^ (*p * p5), 11) * p1;
  h ^= h >> 33;
  h *= p2;
  h ^= h >> 29;
  h *= p3;
  return h ^ (h >> 32);
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  std::uint8_t b[4];
  rtl::EncodeFixed32(b, v);
  out.insert(out.end(), b, b + 4);
}

std::uint32_t EntryChecksum(TLayout layout, const std::uint8_t* entry, std::size_t length, std::uint32_t salt) {
  if (layout == TLayout::Third || layout == TLayout::Placed)
    return static_cast<std::uint32_t>(Hash64(entry, length, salt));
  return rtl::Crc32(entry, length) ^ salt;
}

bool HeaderSealed(const std::uint8_t* header, std::size_t length) {
  return rtl::DecodeFixed32(header + length) == rtl::Crc32(header, length);
}

}  // namespace

std::vector<std::uint8_t> EncodeHeader(const std::vector<std::int64_t>& old_lengths, std::uint32_t salt,
                                       std::int64_t entries_from) {
  // Entries right after the header keep the header of the third layout;
  // entries placed elsewhere need the header that names their start.
  const bool placed = entries_from != static_cast<std::int64_t>(kHeaderSize);
  std::vector<std::uint8_t> header(placed ? kPlacedMagic : kMagic, (placed ? kPlacedMagic : kMagic) + 8);
  for (std::int64_t length : old_lengths) PutU32(header, static_cast<std::uint32_t>(length));
  while (header.size() < 8 + 3 * 4) PutU32(header, 0);
  PutU32(header, salt);
  if (placed) PutU32(header, static_cast<std::uint32_t>(entries_from));
  PutU32(header, rtl::Crc32(header.data(), header.size()));
  return header;
}

std::size_t ParseHeader(const std::uint8_t* bytes, std::size_t size, std::uint32_t& salt, TLayout& layout) {
  salt = 0;
  layout = TLayout::None;
  if (size >= kPlacedHeaderSize && std::memcmp(bytes, kPlacedMagic, 8) == 0 &&
      HeaderSealed(bytes, kPlacedHeaderSize - 4)) {
    const std::uint32_t start = rtl::DecodeFixed32(bytes + kHeaderSize - 4);
    if (start < kPlacedHeaderSize) return 0;
    layout = TLayout::Placed;
    salt = rtl::DecodeFixed32(bytes + 8 + 3 * 4);
    return start;
  }
  if (size >= kHeaderSize && HeaderSealed(bytes, kHeaderSize - 4)) {
    if (std::memcmp(bytes, kMagic, 8) == 0) layout = TLayout::Third;
    else if (std::memcmp(bytes, kSecondMagic, 8) == 0) layout = TLayout::Second;
    if (layout != TLayout::None) {
      salt = rtl::DecodeFixed32(bytes + 8 + 3 * 4);
      return kHeaderSize;
    }
  }
  if (size >= kFirstHeaderSize && std::memcmp(bytes, kFirstMagic, 8) == 0 && HeaderSealed(bytes, kFirstHeaderSize - 4)) {
    layout = TLayout::First;
    return kFirstHeaderSize;
  }
  return 0;
}

std::uint32_t HeaderOldLength(const std::uint8_t* header, std::size_t index) {
  return rtl::DecodeFixed32(header + 8 + 4 * index);
}

void EncodeEntryHead(std::uint8_t* entry, std::size_t index, std::uint32_t position, std::uint32_t length) {
  entry[0] = static_cast<std::uint8_t>(index);
  rtl::EncodeFixed32(entry + 1, position);
  rtl::EncodeFixed32(entry + 5, length);
}

void SealEntry(std::uint8_t* entry, std::size_t length, std::uint32_t salt) {
  rtl::EncodeFixed32(entry + kEntryHead + length, EntryChecksum(TLayout::Third, entry, kEntryHead + length, salt));
}

std::vector<TEntryView> ValidEntries(const std::vector<std::uint8_t>& bytes, std::size_t from, TLayout layout,
                                     std::uint32_t salt) {
  std::vector<TEntryView> entries;
  for (std::size_t at = from; at + kEntryHead + 4 <= bytes.size();) {
    std::uint32_t length = rtl::DecodeFixed32(bytes.data() + at + 5);
    if (length > bytes.size() || at + kEntryHead + length + 4 > bytes.size() ||
        rtl::DecodeFixed32(bytes.data() + at + kEntryHead + length) !=
            EntryChecksum(layout, bytes.data() + at, kEntryHead + length, salt))
      break;
    entries.push_back({bytes[at], at + kEntryHead, rtl::DecodeFixed32(bytes.data() + at + 1), length});
    at += kEntryHead + length + 4;
  }
  return entries;
}

std::uint32_t FreshSalt() {
  thread_local std::random_device device;
  const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  return device() ^ static_cast<std::uint32_t>((now * 0x9E3779B97F4A7C15ull) >> 32);
}

}  // namespace korvex::jnl
