#include "core/BassErrorText.h"

#include <gtest/gtest.h>

namespace velloran {
namespace {

TEST(BassErrorTextTest, KnownCodesAndFallback) {
  const std::pair<int, const char*> cases[] = {
      {1, "memory error (BASS error 1)"},
      {5, "invalid handle (BASS error 5)"},
      {14, "already initialized/paused/whatever (BASS error 14)"},
      {38, "the channel is a \"decoding channel\" (BASS error 38)"},
      {40, "connection timedout (BASS error 40)"},
      {43, "invalid BASS version (used by add-ons) (BASS error 43)"},
      {45, "the channel/file has ended (BASS error 45)"},
      {2000, "ACM codec selection cancelled (BASS error 2000)"},
      {2100, "access denied (invalid password) (BASS error 2100)"},
      {4001, "BPM/Beat detection is in use (BASS error 4001)"},
      {0, "BASS error 0"},
      {-1, "BASS error -1"},
      {10, "BASS error 10"},
      {46, "BASS error 46"},
  };
  for (const auto& [code, text] : cases) {
    EXPECT_EQ(BassErrorText(code), text) << code;
  }
}

}  // namespace
}  // namespace velloran
