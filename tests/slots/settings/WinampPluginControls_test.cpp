#include "slots/WinampPluginControls.h"

#include <gtest/gtest.h>

namespace velloran::slots {
namespace {

TEST(WinampPluginControls, ParseTable) {
  struct Case {
    const char* text;
    const char* normalised;  // the accepted entries written back
    size_t rejected;
  };
  const Case cases[] = {
      {"", "", 0},
      {"Gain=2", "Gain=2", 0},
      {" Threshold level (dB) = -20.5 |Ratio (1:n)=4", "Threshold level (dB)=-20.5|Ratio (1:n)=4",
       0},
      {"a=b=1", "a=b=1", 0},           // the last "=" separates the value
      {"Gain=1|Gain=3", "Gain=3", 0},  // the later value wins
      {"||Gain=1||", "Gain=1", 0},
      {"Gain|=4|Gain=|Gain=1e|Gain=nan|Gain=inf|Gain=1e99|Gain=0x10|Gain=1,5", "", 9},
  };
  for (const Case& c : cases) {
    const ParsedControls parsed = ParseWinampPluginControls(c.text);
    EXPECT_EQ(FormatWinampPluginControls(parsed.controls), c.normalised) << c.text;
    EXPECT_EQ(parsed.rejected.size(), c.rejected) << c.text;
  }
}

TEST(WinampPluginControls, ValuesReadBackExactly) {
  std::vector<ChosenControl> controls;
  for (float v : {0.1f, -30.0f, 1e-7f, 3.4028235e38f, 401.0f}) {
    ASSERT_TRUE(SetChosenControl(controls, "x", v));
    const ParsedControls parsed = ParseWinampPluginControls(FormatWinampPluginControls(controls));
    ASSERT_EQ(parsed.controls.size(), 1u);
    EXPECT_EQ(parsed.controls[0].value, v);
  }
  EXPECT_FALSE(SetChosenControl(controls, "a|b", 1.0f));
  EXPECT_FALSE(SetChosenControl(controls, "  ", 1.0f));
  EXPECT_EQ(controls.size(), 1u);
}

}  // namespace
}  // namespace velloran::slots
