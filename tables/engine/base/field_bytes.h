// CopyFieldBytes: copies the bytes of one field (at most a few hundred).
//
// GCC expands a memcpy whose size it can bound (a field's size is a byte)
// into "rep movs", whose start-up costs tens of cycles: more than the copy
// itself for the usual field of 2 to 20 bytes, paid per field of every
// record read or written. Small sizes are copied here in fixed-size,
// overlapping pieces; larger ones by the library's copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace korvex {

namespace field_bytes_detail {
[[gnu::noinline]] inline void CopyLarge(std::uint8_t* to, const std::uint8_t* from, std::size_t n) {
  std::memcpy(to, from, n);
}
}  // namespace field_bytes_detail

inline void CopyFieldBytes(std::uint8_t* to, const std::uint8_t* from, std::size_t n) {
  if (n >= 8) {
    if (n > 16) {
      field_bytes_detail::CopyLarge(to, from, n);
      return;
    }
    std::uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + n - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + n - 8, &tail, 8);
  } else if (n >= 4) {
    std::uint32_t head, tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + n - 4, 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + n - 4, &tail, 4);
  } else if (n > 0) {
    // 1 to 3 bytes: the first, the middle and the last.
    const std::uint8_t first = from[0], middle = from[n / 2], last = from[n - 1];
    to[0] = first;
    to[n / 2] = middle;
    to[n - 1] = last;
  }
}

}  // namespace korvex
