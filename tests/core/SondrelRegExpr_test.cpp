#include "core/SondrelRegExpr.h"

#include <gtest/gtest.h>

namespace velloran {
namespace {

TEST(SondrelRegExprTest, PatternFeatures) {
  struct Case {
    const char* pattern;
    const char* input;
    bool matches;
    const char* group1;
  };
  const Case cases[] = {
      // Lazy against greedy.
      {"^StreamTitle='(.*?)';", "StreamTitle='A - B';StreamUrl='x';", true, "A - B"},
      {"^StreamTitle='(.*)';", "StreamTitle='A - B';StreamUrl='x';", true, "A - B';StreamUrl='x"},
      // "." crosses line breaks; "^" and "$" hold only at the ends of the whole input.
      {"^a(.*)b$", "a\r\nx\nb", true, "\r\nx\n"},
      {"^x$", "a\nx\nb", false, ""},
      {"^x$", "x\n", false, ""},
      {"x$", "x", true, ""},
      // Case-sensitive, digits, literal characters.
      {"^/slot/(\\d+)/start$", "/slot/12/start", true, "12"},
      {"^/slot/(\\d+)/start$", "/Slot/12/start", false, ""},
      {"^/slot/(\\d+)/start$", "/slot//start", false, ""},
      {"^GET (/[^ ]*) HTTP", "GET /index.html HTTP/1.1", true, "/index.html"},
      // Any byte is a valid input.
      {"^(.)\\xff", "\xc3\xff", true, "\xc3"},
  };
  for (const Case& c : cases) {
    TSondrelRegExpr re;
    EXPECT_EQ(re.Matches(c.pattern, c.input), c.matches) << c.pattern << " / " << c.input;
    EXPECT_EQ(re.Match(1), c.group1) << c.pattern;
    EXPECT_EQ(re.InputString(), c.input);
  }
}

TEST(SondrelRegExprTest, GroupsAfterMatchAndAfterFailure) {
  TSondrelRegExpr re;
  re.SetInputString("start 3 now");
  ASSERT_TRUE(re.Matches("^(start|stop) (\\d+)( later)?(.*)$"));
  EXPECT_EQ(re.SubExprMatchCount(), 4);
  EXPECT_EQ(re.Match(0), "start 3 now");
  EXPECT_EQ(re.Match(1), "start");
  EXPECT_EQ(re.Match(2), "3");
  EXPECT_EQ(re.MatchPos(2), 6);
  EXPECT_EQ(re.Match(3), "");  // did not take part
  EXPECT_EQ(re.MatchPos(3), -1);
  EXPECT_EQ(re.Match(4), " now");
  EXPECT_EQ(re.Match(5), "");
  EXPECT_EQ(re.Match(-1), "");

  // Groups are kept even if the input changes afterwards.
  re.SetInputString("");
  EXPECT_EQ(re.Match(4), " now");

  EXPECT_FALSE(re.Matches("^(start)$", "stop"));
  EXPECT_EQ(re.SubExprMatchCount(), -1);
  EXPECT_EQ(re.Match(0), "");
  EXPECT_EQ(re.Match(1), "");

  // The cached pattern is reused on new input.
  ASSERT_TRUE(re.Matches("^(start|stop) (\\d+)( later)?(.*)$", "stop 12 later"));
  EXPECT_EQ(re.Match(2), "12");
  EXPECT_EQ(re.Match(3), " later");
  EXPECT_EQ(re.Expression(), "^(start|stop) (\\d+)( later)?(.*)$");
}

TEST(SondrelRegExprTest, BadOrRunawayPatternsFailQuietly) {
  TSondrelRegExpr re;
  for (const char* bad : {"(", "a)", "[z-a]", "*", "\\", "(?<", "a{2,1}"}) {
    EXPECT_FALSE(re.Matches(bad, "anything (")) << bad;
    EXPECT_EQ(re.SubExprMatchCount(), -1);
  }
  // Catastrophic backtracking stops at the match limit instead of running for ever.
  EXPECT_FALSE(re.Matches("^(a+)+$", std::string(40, 'a') + "b"));
  // Many distinct patterns do not grow the cache without bound (and keep working).
  for (int i = 0; i < 200; ++i) {
    EXPECT_TRUE(re.Matches("^" + std::to_string(i) + "$", std::to_string(i)));
  }
}

}  // namespace
}  // namespace velloran
