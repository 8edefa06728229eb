#pragma once
// Long simulations (an hour of device drift, ten minutes of bit-exact pass-through) show what
// they show in the normal build. Under AddressSanitizer or ThreadSanitizer they would walk the
// same code paths again for minutes, so the sanitizer builds skip them; the shorter tests of the
// same code still run there.
// Thread contract: a macro for the body of a gtest test, on the test's thread.

#include <gtest/gtest.h>

namespace velloran::test {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitizerBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitizerBuild = true;
#else
inline constexpr bool kSanitizerBuild = false;
#endif
#else
inline constexpr bool kSanitizerBuild = false;
#endif

}  // namespace velloran::test

#define VELLORAN_SKIP_LONG_SIMULATION_UNDER_SANITIZERS()                \
  do {                                                                  \
    if (::velloran::test::kSanitizerBuild) {                            \
      GTEST_SKIP() << "long simulation: runs in the normal build only"; \
    }                                                                   \
  } while (false)
