#pragma once
// Fixed-width little-endian byte encodings: the one place that knows how
// integers and doubles are laid out in our files, whatever the host order.
// Encode/Decode work on raw buffers, Put/Get append to or read from a
// std::string, Write/Read go through a stream (short reads raise as
// ReadBuffer does).
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace rtl {

// On a little-endian host the fixed widths are plain unaligned loads and
// stores (the compiler does not merge the byte loops below into them).
constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

class TStream;

inline void EncodeFixed16(void* dst, std::uint16_t v) {
  auto* p = static_cast<unsigned char*>(dst);
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void EncodeFixed32(void* dst, std::uint32_t v) {
  if constexpr (kLittleEndianHost) {
    std::memcpy(dst, &v, sizeof v);
    return;
  }
  auto* p = static_cast<unsigned char*>(dst);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void EncodeFixed64(void* dst, std::uint64_t v) {
  if constexpr (kLittleEndianHost) {
    std::memcpy(dst, &v, sizeof v);
    return;
  }
  auto* p = static_cast<unsigned char*>(dst);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void EncodeDouble(void* dst, double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  EncodeFixed64(dst, bits);
}

inline std::uint16_t DecodeFixed16(const void* src) {
  auto* p = static_cast<const unsigned char*>(src);
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t DecodeFixed32(const void* src) {
  if constexpr (kLittleEndianHost) {
    std::uint32_t v;
    std::memcpy(&v, src, sizeof v);
    return v;
  }
  auto* p = static_cast<const unsigned char*>(src);
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
inline std::uint64_t DecodeFixed64(const void* src) {
  if constexpr (kLittleEndianHost) {
    std::uint64_t v;
    std::memcpy(&v, src, sizeof v);
    return v;
  }
  auto* p = static_cast<const unsigned char*>(src);
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
inline double DecodeDouble(const void* src) {
  std::uint64_t bits = DecodeFixed64(src);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// Appending to a byte string.
void PutFixed16(std::string& dst, std::uint16_t v);
void PutFixed32(std::string& dst, std::uint32_t v);
void PutFixed64(std::string& dst, std::uint64_t v);
void PutDouble(std::string& dst, double v);

// Reading from the front of a view, which is advanced past what was read;
// false (and the view untouched) when it is too short.
bool GetFixed16(std::string_view& src, std::uint16_t& v);
bool GetFixed32(std::string_view& src, std::uint32_t& v);
bool GetFixed64(std::string_view& src, std::uint64_t& v);
bool GetDouble(std::string_view& src, double& v);

// Streams: EWriteError / EReadError on a short transfer.
void WriteFixed16(TStream& s, std::uint16_t v);
void WriteFixed32(TStream& s, std::uint32_t v);
void WriteFixed64(TStream& s, std::uint64_t v);
void WriteDouble(TStream& s, double v);
std::uint16_t ReadFixed16(TStream& s);
std::uint32_t ReadFixed32(TStream& s);
std::uint64_t ReadFixed64(TStream& s);
double ReadDouble(TStream& s);

}  // namespace rtl
