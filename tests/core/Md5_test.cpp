#include "core/Md5.h"

#include <gtest/gtest.h>
#include <cctype>

namespace velloran {
namespace {

// Digests from RFC 1321's test suite; stored password hashes and the single-instance socket name
// depend on these exact digits and their letter case.
TEST(Md5Test, KnownDigestsInBothLetterCases) {
  struct Case {
    std::string_view data;
    const char* lower;
  };
  const Case cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {std::string_view("a\0b", 3), "70350f6027bce3713f6b76473084309b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Md5Hex(c.data, HexCase::kLower), c.lower);
    std::string upper = c.lower;
    for (char& ch : upper) {
      ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    EXPECT_EQ(Md5Hex(c.data, HexCase::kUpper), upper);
  }
}

}  // namespace
}  // namespace velloran
