// Whether this build runs under AddressSanitizer (the sanitizer build sets
// UndefinedBehaviorSanitizer with it). Tests of what the sanitizers replace
// or slow down (the allocator, the signal handlers, timing) skip there.
#pragma once

namespace qvtest {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitizerBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitizerBuild = true;
#else
inline constexpr bool kSanitizerBuild = false;
#endif
#else
inline constexpr bool kSanitizerBuild = false;
#endif

}  // namespace qvtest
