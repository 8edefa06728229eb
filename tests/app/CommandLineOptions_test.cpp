#include "app/CommandLineOptions.h"

#include <gtest/gtest.h>

namespace velloran::app {
namespace {

TEST(CommandLineOptionsTest, KnownOptionsAndNotesForTheRest) {
  const struct {
    std::vector<std::string> args;
    bool headless, help, version;
    std::vector<std::string> notes;
  } cases[] = {
      {{"velloran", "-headless", "-rootfolder", "-h"}, true, false, false, {}},  // -h is a folder
      {{"velloran", "-h"}, false, true, false, {}},
      {{"velloran", "--help", "--version"}, false, true, true, {}},
      {{"velloran", "-Headless", "x"},
       false,
       false,
       false,
       {"Unknown option \"-Headless\" ignored", "Unexpected argument \"x\" ignored"}},
      {{"velloran", "-rootfolder"},
       false,
       false,
       false,
       {"Option -rootfolder without a folder ignored"}},
  };
  for (const auto& c : cases) {
    const CommandLineOptions options = ParseCommandLineOptions(c.args);
    EXPECT_EQ(options.headless, c.headless) << c.args.back();
    EXPECT_EQ(options.help, c.help) << c.args.back();
    EXPECT_EQ(options.version, c.version) << c.args.back();
    EXPECT_EQ(options.notes, c.notes) << c.args.back();
  }
}

}  // namespace
}  // namespace velloran::app
