#include "app/StartupChecks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "AppFakes.h"
#include "app/Application.h"
#include "support/TempDir.h"

namespace velloran::app {
namespace {

// Global values not used as written: one line each, as a table.
TEST(StartupChecksTest, GlobalValuesThatFallBackAreNamed) {
  const struct {
    std::string ini;
    std::vector<std::string> notes;
  } cases[] = {
      {"[General]\nSlotCount=abc\n", {"SlotCount \"abc\" is not a number; using 4"}},
      {"[General]\nSlotCount=100000\n", {"SlotCount 100000 is out of range (0 to 255); using 255"}},
      {"[General]\nAlarmSlotCount=-1\n", {"AlarmSlotCount -1 is out of range (0 to 255); using 0"}},
      {"[General]\nSlotCount=8\nTimeSlotLength=1h\n",
       {"TimeSlotLength \"1h\" is not a number; using 60"}},
      {"[Webserver]\nEnabled=yes\n", {"Enabled \"yes\" is neither \"on\" nor \"off\"; using off"}},
      {"[General]\nSlotCount=8\nAlarmSlotCount=$2\n[Webserver]\nEnabled=on\n", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini);
    velloran::test::TempDir dir;
    std::ofstream(dir.File("Velloran.ini")) << c.ini;
    EXPECT_EQ(GlobalSettingsFallbacks(ConfigFile(dir.File("Velloran.ini"))), c.notes);
  }
}

// At start the application says what falls back and what is wrong with the file itself,
// before the slots start, instead of at exit.
TEST(StartupChecksTest, ApplicationLogsThemAtStart) {
  velloran::test::TempDir dir;
  test::Steps steps;
  test::FakeAudioLibrary audio(steps);
  {
    std::filesystem::create_directory(dir.File("Velloran.ini"));
    ConfigFile config(dir.File("Velloran.ini"));
    AppParts parts;
    parts.config = &config;
    parts.audio = &audio;
    TVelloranApp app(parts);
    app.Create();
    const auto& lines = app.Messages().Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.front().find(": The configuration file " + dir.File("Velloran.ini") +
                                 " is a folder: the settings cannot be read, and changes cannot "
                                 "be saved"),
              std::string::npos)
        << lines.front();
  }
  std::filesystem::remove(dir.File("Velloran.ini"));
  std::ofstream(dir.File("Velloran.ini")) << "[General]\nSlotCount=abc\n";
  ConfigFile config(dir.File("Velloran.ini"));
  AppParts parts;
  parts.config = &config;
  parts.audio = &audio;
  TVelloranApp app(parts);
  app.Create();
  EXPECT_EQ(app.SlotCount(), 4);
  const auto& lines = app.Messages().Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.front().find(": SlotCount \"abc\" is not a number; using 4"), std::string::npos)
      << lines.front();
}

}  // namespace
}  // namespace velloran::app
