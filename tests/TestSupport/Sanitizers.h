// Whether the tests run under the address sanitizer (the asan presets), which
// makes every instruction several times slower: tests that compare times or
// take long runs relax or shorten them there.
#pragma once

namespace testsupport {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool UnderSanitizers = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool UnderSanitizers = true;
#else
inline constexpr bool UnderSanitizers = false;
#endif
#else
inline constexpr bool UnderSanitizers = false;
#endif

}  // namespace testsupport
