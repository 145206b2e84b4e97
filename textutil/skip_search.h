// The skip search behind ScanF, ScanR, ScanQ and ScanBfr: a Horspool search
// whose shift table is kept per thread and reused while the pattern, the
// case mode and the case tables stay the same. '?' in the pattern matches any
// character; the shifts are limited so that no position where a '?' could
// match is passed over.
#pragma once

#include <cstddef>
#include <string_view>

namespace textutil::detail {

inline constexpr size_t kNotFound = static_cast<size_t>(-1);

// 0-based offset of the first occurrence of pattern in s at or after from.
size_t SkipFind(std::string_view s, std::string_view pattern, size_t from, bool blind);

// 0-based offset of the last occurrence of pattern that ends at or before
// offset end (exclusive: the occurrence lies within s[0, end)).
size_t SkipFindLast(std::string_view s, std::string_view pattern, size_t end, bool blind);

}  // namespace textutil::detail
