#pragma once

// Whether this build runs under the address sanitizer (g++ says so with a macro, clang with a
// feature test). Under it each command costs dozens of times more, so random tests there
// look for memory faults with fewer programs: the optimised build's run tries them all.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool SanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool SanitizedBuild = true;
#else
inline constexpr bool SanitizedBuild = false;
#endif
#else
inline constexpr bool SanitizedBuild = false;
#endif
