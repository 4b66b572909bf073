// Whether this build runs under AddressSanitizer, for tests whose expectations differ there. GCC
// says so with a macro, Clang through __has_feature.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define HVC_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HVC_TEST_ASAN 1
#endif
#endif
#if !defined(HVC_TEST_ASAN)
#define HVC_TEST_ASAN 0
#endif
