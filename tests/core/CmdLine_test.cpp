#include "core/CmdLine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>

namespace velloran {
namespace {

using Args = std::vector<std::string>;

TEST(CmdLineTest, SplitsByTheCommandLineRules) {
  const std::pair<std::string, Args> cases[] = {
      {"", {}},
      {" \t\r\n", {}},
      {"prog a b", {"prog", "a", "b"}},
      {"  prog\t a  ", {"prog", "a"}},
      {"a\x01"
       "b\x1f"
       "c d",
       {"a", "b", "c", "d"}},
      {"caf\xc3\xa9 x", {"caf\xc3\xa9", "x"}},
      // Quotes group blanks and are dropped, wherever they stand.
      {R"("C:\Program Files\x.exe" -rootfolder "D:\My Rec")",
       {R"(C:\Program Files\x.exe)", "-rootfolder", R"(D:\My Rec)"}},
      {R"(a"b c"d e)", {"ab cd", "e"}},
      {R"(a "" b)", {"a", "", "b"}},
      {R"("unterminated arg)", {"unterminated arg"}},
      // Backslashes before a quote: halved; an odd one escapes the quote.
      {R"("D:\My \\\"Rec" x)", {R"(D:\My \"Rec)", "x"}},
      {R"(\"a b)", {R"("a)", "b"}},
      {R"(a\\"b c")", {R"(a\b c)"}},
      {R"(a\\\\"b c")", {R"(a\\b c)"}},
      {R"(a\\\\\"b)", {R"(a\\"b)"}},
      // Backslashes before anything else are copied as they are.
      {R"(C:\dir\\sub\ x\)", {R"(C:\dir\\sub\)", R"(x\)"}},
      {R"(lame -r -s 44.1 --bitwidth 16 - "out file.mp3")",
       {"lame", "-r", "-s", "44.1", "--bitwidth", "16", "-", "out file.mp3"}},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(SplitCommandLine(text), expected) << text;
  }
}

TEST(CmdLineTest, ProcessArgumentsStartWithTheProgramFile) {
  SetCommandLineForTesting(std::nullopt);
  char exe[PATH_MAX] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  EXPECT_EQ(CmdLineParam(0), exe);
  EXPECT_EQ(CmdLineParams().size(), static_cast<size_t>(CmdLineParamCount()) + 1);

  SetCommandLineForTesting(Args{"/opt/velloran/velloran", "-rootfolder", "/tmp/x y"});
  EXPECT_EQ(CmdLineParamCount(), 2);
  EXPECT_EQ(CmdLineParam(2), "/tmp/x y");
  EXPECT_EQ(CmdLineParam(3), "");
  EXPECT_EQ(CmdLineParam(-1), "");
  SetCommandLineForTesting(std::nullopt);
  EXPECT_EQ(CmdLineParam(0), exe);
}

}  // namespace
}  // namespace velloran
