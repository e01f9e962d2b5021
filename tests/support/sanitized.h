// Whether this test program is built with AddressSanitizer or
// ThreadSanitizer, whose runs are several times slower.
#ifndef QRN_TESTS_SUPPORT_SANITIZED_H
#define QRN_TESTS_SUPPORT_SANITIZED_H

namespace qrn_test {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
constexpr bool sanitized = __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr bool sanitized = false;
#endif

}  // namespace qrn_test

#endif  // QRN_TESTS_SUPPORT_SANITIZED_H
