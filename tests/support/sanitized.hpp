// Whether the tests run under AddressSanitizer, whose runtime changes what memory and
// address-space limits mean: such tests skip.
#pragma once


#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool SANITIZED = true;
#elif defined(__has_feature)
inline constexpr bool SANITIZED = __has_feature(address_sanitizer);
#else
inline constexpr bool SANITIZED = false;
#endif
