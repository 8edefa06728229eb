#include "web/RequestParsing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velloran::web {
namespace {

TEST(RequestParsingTest, TargetSplitAndPathDecoding) {
  struct Case {
    const char* target;
    const char* document;
    const char* query;
  };
  const Case cases[] = {
      {"/index.html", "/index.html", ""},
      {"/ws/slots?x=1&y=2", "/ws/slots", "x=1&y=2"},
      {"/a%20b+c", "/a b+c", ""},  // "+" is a plus in a path
      {"/%2e%2e/x", "/../x", ""},
      {"/%252e", "/%2e", ""},  // decoded once only
      {"/bad%zz%4", "/bad%zz%4", ""},
      {"", "/", ""},
      {"?only", "/", "only"},
      {"http://host:5252/ws/slots?a=b", "/ws/slots", "a=b"},
      {"http://host", "/", ""},
      {"/page#frag?no", "/page", ""},
  };
  for (const Case& c : cases) {
    std::string document;
    std::string query;
    SplitRequestTarget(c.target, document, query);
    EXPECT_EQ(document, c.document) << c.target;
    EXPECT_EQ(query, c.query) << c.target;
  }
}

TEST(RequestParsingTest, UrlEncodedParameters) {
  const std::vector<TRequestParam> params =
      ParseUrlEncoded("command=SLOT+1+START&&empty=&flag&n%61me=a%26b%3Dc&=v");
  const std::vector<TRequestParam> expected = {
      {"command", "SLOT 1 START"}, {"empty", ""}, {"flag", ""}, {"name", "a&b=c"}, {"", "v"}};
  EXPECT_EQ(params, expected);
  EXPECT_TRUE(ParseUrlEncoded("").empty());
}

TEST(RequestParsingTest, BasicCredentials) {
  struct Case {
    const char* header;
    bool valid;
    const char* user;
    const char* password;
  };
  const Case cases[] = {
      {"Basic YWRtaW46c2VjcmV0", true, "admin", "secret"},
      {"basic   YWRtaW46c2VjcmV0  ", true, "admin", "secret"},  // scheme in any case
      {"Basic YTpiOmM=", true, "a", "b:c"},                     // first colon splits
      {"Basic YWRtaW4=", true, "admin", ""},                    // no colon: all is the user
      {"Basic YWRtaW46", true, "admin", ""},                    // padding may be missing
      {"Basic Og==", true, "", ""},
      {"Basic", true, "", ""},
      {"Bearer YWRtaW46c2VjcmV0", false, "", ""},
      {"Basic YWRt!W46", false, "", ""},
      {"Basic Y", false, "", ""},
      {"Digest username=\"a\"", false, "", ""},
  };
  for (const Case& c : cases) {
    const auto credentials = ParseBasicAuthorization(c.header);
    ASSERT_EQ(credentials.has_value(), c.valid) << c.header;
    if (credentials) {
      EXPECT_EQ(credentials->user, c.user) << c.header;
      EXPECT_EQ(credentials->password, c.password) << c.header;
    }
  }
}

TEST(RequestParsingTest, RangeHeaders) {
  struct Case {
    const char* header;
    std::vector<TByteRange> ranges;
  };
  const Case cases[] = {
      {"bytes=0-499", {{0, 499}}},
      {"bytes=500-", {{500, -1}}},
      {"bytes=-200", {{-1, 200}}},
      {"Bytes = 0-0, 10-20 ,-5", {{0, 0}, {10, 20}, {-1, 5}}},
      {"bytes=5-1", {{5, 1}}},  // kept as given
      {"bytes=-", {}},          // neither number
      {"bytes=a-b", {}},
      {"items=0-1", {}},
      {"bytes=1234567890123456789-", {}},  // beyond 18 digits
      {"bytes=123456789012345678-", {{123456789012345678, -1}}},
      {"", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseRangeHeader(c.header), c.ranges) << c.header;
  }
  std::string many = "bytes=0-0";
  for (size_t i = 0; i < kMaxRanges; ++i) {
    many += ",0-0";
  }
  EXPECT_EQ(ParseRangeHeader(many).size(), kMaxRanges);  // still several: a download refuses it
  EXPECT_TRUE(ParseRangeHeader(many + ",x").empty());
}

}  // namespace
}  // namespace velloran::web
