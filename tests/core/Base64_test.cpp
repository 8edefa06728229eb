#include "core/Base64.h"

#include <gtest/gtest.h>

namespace velloran {
namespace {

// RFC 4648's test vectors, a byte above 0x7f and an embedded NUL.
TEST(Base64Test, EncodesTheStandardVectors) {
  struct Case {
    std::string_view in;
    const char* out;
  };
  const Case cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {"admin:s\xc3\xa9", "YWRtaW46c8Op"},
      {std::string_view("a\0b", 3), "YQBi"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Base64Encode(c.in), c.out) << c.in;
  }
}

}  // namespace
}  // namespace velloran
