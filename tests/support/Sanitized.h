// Whether this build runs under a sanitizer, which slows every step down: instrumented code,
// and the sanitizer's own checks (a leak scan at exit).
#pragma once

namespace testsupport {

// clang says so only through __has_feature, gcc through __SANITIZE_*__.
#if defined(__has_feature)
#define QUINDLE_HAS_SANITIZER __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#else
#define QUINDLE_HAS_SANITIZER 0
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || QUINDLE_HAS_SANITIZER
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

}  // namespace testsupport
