#include "slots/TSlotSettings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/Paths.h"
#include "support/TempDir.h"

namespace velloran::slots {
namespace {

class SlotSettingsTest : public ::testing::Test {
 protected:
  void WriteIni(const std::string& text) {
    std::ofstream(file_) << text;
    config_ = std::make_unique<ConfigFile>(file_);
  }
  std::string ReadIni() const {
    std::ifstream in(file_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  test::TempDir dir_;
  std::string file_ = dir_.File("Velloran.ini");
  std::unique_ptr<ConfigFile> config_ = std::make_unique<ConfigFile>(file_);
};

TEST_F(SlotSettingsTest, EmptyFileGivesTheDocumentedDefaults) {
  const TSlotSettings s = ReadSlotSettings(*config_, 0, false);
  EXPECT_EQ(s.fName, "Slot 1");
  EXPECT_TRUE(s.fEnabled);
  EXPECT_EQ(s.fRecordSource, rsDisabled);
  EXPECT_EQ(s.fRecordChannels, rcStereo);
  EXPECT_EQ(s.fAudioFormat, sfMP3);
  EXPECT_EQ(s.fBitrate, 128);
  EXPECT_EQ(s.fMode, smStereo);
  EXPECT_EQ(s.fSampleRate, 44100);
  EXPECT_EQ(s.fTimeSlotLength, 60);
  EXPECT_TRUE(s.fTimeSlotAlign);
  EXPECT_EQ(s.fTimeSlotOffset, 0);
  EXPECT_TRUE(s.fCleanupDaysEnabled);
  EXPECT_EQ(s.fCleanupDays, 365);
  EXPECT_TRUE(s.fCleanupSpaceEnabled);
  EXPECT_EQ(s.fCleanupSpace, 5);
  EXPECT_EQ(s.fSilenceThreshold, -30);
  EXPECT_EQ(s.fSilenceDection, 0);
  EXPECT_EQ(s.fEncoderQueueLength, 6000);
  EXPECT_EQ(s.fStreamingPort, 8000);
  EXPECT_EQ(s.fFolder, GetSpecialFolderPath(kCsidlMyMusic) + "/Velloran/Slot 1");
  EXPECT_EQ(s.fStreamingCurrentTitleFilename, s.fFolder + "/streamtitle.txt");
  EXPECT_EQ(ReadSlotSettings(*config_, 3, false).fName, "Slot 4");
}

TEST(SlotFolderTest, RelativeAndEmptyFoldersLieInTheRootFolder) {
  EXPECT_EQ(ResolveSlotFolder("/root", "/abs/rec"), "/abs/rec");
  EXPECT_EQ(ResolveSlotFolder("/root/", "rec"), "/root/rec");
  EXPECT_EQ(ResolveSlotFolder("/root/", "a/b"), "/root/a/b");
  EXPECT_EQ(ResolveSlotFolder("/root/", ""), "/root");
  EXPECT_EQ(ResolveSlotFolder("/", ""), "/");
}

TEST_F(SlotSettingsTest, WordsAreExactAndCaseSensitive) {
  struct Case {
    const char* key;
    const char* value;
    std::function<bool(const TSlotSettings&)> check;
  };
  const std::vector<Case> cases = {
      {"Enabled", "On", [](const TSlotSettings& s) { return !s.fEnabled; }},
      {"Enabled", "yes", [](const TSlotSettings& s) { return !s.fEnabled; }},
      {"Source", "soundcard", [](const TSlotSettings& s) { return s.fRecordSource == rsDisabled; }},
      {"Source", "Soundcard",
       [](const TSlotSettings& s) { return s.fRecordSource == rsSoundcard; }},
      {"Source", "Stream", [](const TSlotSettings& s) { return s.fRecordSource == rsStream; }},
      {"Mode", "Stereo", [](const TSlotSettings& s) { return s.fMode == smMono; }},
      {"Mode", "jointstereo", [](const TSlotSettings& s) { return s.fMode == smJointStereo; }},
      {"Format", "flac", [](const TSlotSettings& s) { return s.fAudioFormat == sfMP3; }},
      {"Format", "wav16", [](const TSlotSettings& s) { return s.fAudioFormat == sfWAV16; }},
      {"Format", "customraw", [](const TSlotSettings& s) { return s.fAudioFormat == sfCustomRaw; }},
      {"Channels", "Left", [](const TSlotSettings& s) { return s.fRecordChannels == rcStereo; }},
      {"Channels", "right", [](const TSlotSettings& s) { return s.fRecordChannels == rcRight; }},
      // An empty folder is the root folder (the configuration file's folder).
      {"Folder", "",
       [](const TSlotSettings& s) { return s.fFolderText.empty() && s.fFolder.front() == '/'; }},
      {"Bitrate", "abc", [](const TSlotSettings& s) { return s.fBitrate == 128; }},
      {"Bitrate", "0x40", [](const TSlotSettings& s) { return s.fBitrate == 64; }},
  };
  for (const Case& c : cases) {
    WriteIni(std::string("[slot0]\n") + c.key + "=" + c.value + "\n");
    EXPECT_TRUE(c.check(ReadSlotSettings(*config_, 0, false))) << c.key << "=" << c.value;
  }
}

TEST_F(SlotSettingsTest, AlarmOnlySlotNeverGetsAFormat) {
  WriteIni("[Slot2]\nFormat=mp3\n");
  EXPECT_EQ(ReadSlotSettings(*config_, 2, true).fAudioFormat, sfNone);
  EXPECT_EQ(ReadSlotSettings(*config_, 2, false).fAudioFormat, sfMP3);
}

TEST_F(SlotSettingsTest, GeneralSuppliesDefaultsAndTheNameNamesTheDefaultFolder) {
  WriteIni(
      "[General]\nTimeSlotLength=15\nTimeSlotOffset=300\nDatabaseFolder=/db\n"
      "StreamingConnectDelay=7\n[Slot1]\nName=Studio\nTimeSlotOffset=-60\n");
  const TSlotSettings s = ReadSlotSettings(*config_, 1, false);
  EXPECT_EQ(s.fTimeSlotLength, 15);
  EXPECT_EQ(s.fTimeSlotOffset, -60);
  EXPECT_EQ(s.fDatabaseFolder, "/db");
  EXPECT_EQ(s.fStreamingConnectDelay, 7);
  EXPECT_EQ(s.fFolder, GetSpecialFolderPath(kCsidlMyMusic) + "/Velloran/Studio");

  WriteSlotSettings(*config_, 1, s);
  ConfigFile reread(file_);
  EXPECT_EQ(reread.ReadString("Slot1", "TimeSlotLength", ""), "15");
  EXPECT_FALSE(reread.ValueExists("Slot1", "DatabaseFolder"));
  EXPECT_FALSE(reread.ValueExists("Slot1", "StreamingConnectDelay"));
}

TEST_F(SlotSettingsTest, FlushWritesInOrderAndLeavesUnownedKeysAlone) {
  WriteIni(
      "[Slot0]\nExtraSleep=500\nASIOWorkaround=on\nEncoderQueueLength=3000\n16bit=on\n"
      "StreamingTitleFilename=/t.txt\nSource=Soundcard\nMode=jointstereo\n");
  TSlotSettings s = ReadSlotSettings(*config_, 0, false);
  EXPECT_EQ(s.fExtraSleep, 500);
  EXPECT_TRUE(s.fASIOWorkaround);
  EXPECT_EQ(s.fEncoderQueueLength, 3000);
  s.fExtraSleep = 1;  // not written back
  WriteSlotSettings(*config_, 0, s);

  ConfigFile reread(file_);
  EXPECT_EQ(reread.ReadString("Slot0", "ExtraSleep", ""), "500");
  EXPECT_EQ(reread.ReadString("Slot0", "ASIOWorkaround", ""), "on");
  EXPECT_EQ(reread.ReadString("Slot0", "EncoderQueueLength", ""), "3000");
  EXPECT_EQ(reread.ReadString("Slot0", "StreamingTitleFilename", ""), "/t.txt");
  EXPECT_EQ(reread.ReadString("Slot0", "16bit", ""), "on");
  EXPECT_EQ(reread.ReadString("Slot0", "Source", ""), "Soundcard");
  EXPECT_EQ(reread.ReadString("Slot0", "Channels", ""), "stereo");
  EXPECT_EQ(reread.ReadString("Slot0", "Mode", ""), "jointstereo");
  EXPECT_EQ(reread.ReadString("Slot0", "Enabled", ""), "on");
  EXPECT_EQ(reread.ReadString("Slot0", "Format", ""), "mp3");
  EXPECT_EQ(reread.ReadString("Slot0", "SilenceThreshold", ""), "-30");

  // New keys are appended in the write order: Enabled first, WinampPluginControls last.
  const std::vector<std::string> keys = reread.ReadSectionKeys("Slot0");
  const auto pos = [&](const std::string& k) {
    return std::find(keys.begin(), keys.end(), k) - keys.begin();
  };
  EXPECT_LT(pos("Enabled"), pos("Name"));
  EXPECT_LT(pos("Name"), pos("Folder"));
  EXPECT_LT(pos("CleanupSpaceEnabled"), pos("CleanupDays"));
  EXPECT_LT(pos("StreamingForwardMetadata"), pos("SendEmailSilenceDetected"));
  EXPECT_LT(pos("WinampPluginStreamOnly"), pos("WinampPluginControls"));
  EXPECT_EQ(keys.back(), "WinampPluginControls");

  // A second read gives back what was written.
  const TSlotSettings again = ReadSlotSettings(reread, 0, false);
  EXPECT_EQ(again.fMode, smJointStereo);
  EXPECT_TRUE(again.fRecord16Bit);
}

TEST_F(SlotSettingsTest, RefusedWriteRaisesTheConfigurationError) {
  ConfigFile unwritable(dir_.File("missing-folder/Velloran.ini"));
  EXPECT_THROW(WriteSlotSettings(unwritable, 0, TSlotSettings{}), ConfigWriteError);
}

}  // namespace
}  // namespace velloran::slots
