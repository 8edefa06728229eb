// A slot's DSP plug-in on real LADSPA plug-ins (ladspa-sdk's amp.so and noise.so) and on the
// test fixture that outputs NaN: where it sits on the chain, what it logs, what it keeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "SlotFixture.h"
#include "audio/bass_wadsp.h"
#include "audio/wadsp/Wadsp.h"
#include "support/WavFile.h"

namespace velloran::slots::test {
namespace {

constexpr const char* kAmp = "/usr/lib/ladspa/amp.so";  // module 0: mono amplifier, "Gain"
constexpr const char* kToneWav = "Source=Soundcard\nDevice=GEN:tone\nFormat=wav16\n";
const float kTone = std::pow(10.0f, -18.0f / 20.0f);  // the generator's tone peak

// Peak of a DSP's place on the slot's chain, from the last pull.
struct Probe {
  float peak = 0.0f;
  static void Proc(HDSP, DWORD, void* buffer, DWORD length, void* user) {
    auto* self = static_cast<Probe*>(user);
    const auto* s = static_cast<const float*>(buffer);
    self->peak = 0.0f;
    for (size_t i = 0; i < length / 4; ++i) {
      self->peak = std::max(self->peak, std::fabs(s[i]));
    }
  }
};

class SlotWinampTest : public SlotFixture {
 protected:
  // Peak of the one recording of the slot (closes it).
  float RecordedPeak() {
    slot_.reset();
    const std::vector<std::string> files = Files();
    EXPECT_EQ(files.size(), 1u);
    if (files.empty()) {
      return -1.0f;
    }
    const auto wav = velloran::test::ReadWav(Folder() + "/" + files[0]);
    EXPECT_TRUE(wav.ok);
    int peak = 0;
    for (int16_t s : wav.samples) {
      peak = std::max(peak, std::abs(static_cast<int>(s)));
    }
    return static_cast<float>(peak) / 32768.0f;
  }
  // The slot's log without its input and file lines.
  std::vector<std::string> PluginLog() const {
    std::vector<std::string> lines;
    for (const std::string& line : log_) {
      if (line.find("Recording from") == std::string::npos &&
          line.find("Encoding to file") == std::string::npos) {
        lines.push_back(line);
      }
    }
    return lines;
  }
};

// The gain reaches both encoders at -500 and only the stream at -1500 (stream-only); the level
// meter always sees the input as it came.
TEST_F(SlotWinampTest, GainReachesRecordingOrOnlyTheStream) {
  for (const bool streamOnly : {false, true}) {
    SetLocalTime(2024, 3, 5, 10, 0, 0);
    std::filesystem::remove_all(Folder());
    log_.clear();
    TSlotInfo& slot = MakeSlot(std::string(kToneWav) + "WinampPlugin=" + kAmp +
                               "\nWinampPluginStreamOnly=" + (streamOnly ? "on" : "off") +
                               "\nWinampPluginControls=Gain=2\n");
    ASSERT_NE(slot.WinampPluginHandle(), 0u);
    Probe stream;  // where the streaming encoder takes its audio
    ASSERT_NE(BASS_ChannelSetDSP(slot.Mixer(), Probe::Proc, &stream, -2000), 0u);
    Run(2000);
    EXPECT_NEAR(slot.LevelLeft(), kTone, 0.01f) << streamOnly;
    EXPECT_NEAR(slot.LevelRight(), kTone, 0.01f) << streamOnly;
    EXPECT_NEAR(stream.peak, 2 * kTone, 0.01f) << streamOnly;
    EXPECT_NEAR(RecordedPeak(), streamOnly ? kTone : 2 * kTone, 0.01f) << streamOnly;
    EXPECT_TRUE(PluginLog().empty()) << PluginLog()[0];
  }
}

TEST_F(SlotWinampTest, ReloadWithAnEmptyPathRemovesThePluginSilently) {
  TSlotInfo& slot = MakeSlot(std::string("Source=Soundcard\nDevice=GEN:tone\nEnabled=off\n") +
                             "WinampPlugin=" + kAmp + "\nWinampPluginControls=Gain=3\n");
  Probe stream;
  BASS_ChannelSetDSP(slot.Mixer(), Probe::Proc, &stream, -2000);
  Run(1000);
  EXPECT_NEAR(stream.peak, 3 * kTone, 0.01f);
  TSlotSettings settings = slot.Settings();
  settings.fWinampPlugin.clear();
  slot.ApplySettings(settings);
  const size_t lines = log_.size();
  slot.ReloadWinampPlugin();
  EXPECT_EQ(slot.WinampPluginHandle(), 0u);
  EXPECT_EQ(log_.size(), lines);
  Run(1000);
  EXPECT_NEAR(stream.peak, kTone, 0.01f);
  EXPECT_EQ(slot.Settings().fWinampPluginControls, "");  // another plug-in, other values
}

// A file that is not a plug-in leaves the slot without one and logs one line; a plug-in whose
// ports do not fit is loaded and set, but not started, and the audio passes unprocessed.
TEST_F(SlotWinampTest, FailuresLogOneLineEach) {
  velloran::test::TempDir dir;
  std::ofstream(dir.File("notes.so")) << "not a plug-in\n";
  struct Case {
    std::string path;
    bool loaded;
    std::string line;
  };
  const std::vector<Case> cases = {
      {dir.File("notes.so"), false, "Slot 1: BASS_WADSP_Load: BASS Error 41"},
      {dir.File("missing.so"), false, "Slot 1: BASS_WADSP_Load: BASS Error 2"},
      {std::string(VELLORAN_LADSPA_FIXTURES) + "/empty.so", false,
       "Slot 1: BASS_WADSP_Load: BASS Error 37"},
      {"/usr/lib/ladspa/noise.so", true, "Slot 1: BASS_WADSP_Start: BASS Error 6"},
  };
  for (const Case& c : cases) {
    log_.clear();
    TSlotInfo& slot =
        MakeSlot("Source=Soundcard\nDevice=GEN:tone\nEnabled=off\nWinampPlugin=" + c.path + "\n");
    EXPECT_EQ(slot.WinampPluginHandle() != 0, c.loaded) << c.path;
    EXPECT_EQ(PluginLog(), std::vector<std::string>{c.line}) << c.path;
    Probe stream;
    BASS_ChannelSetDSP(slot.Mixer(), Probe::Proc, &stream, -2000);
    Run(1000);
    EXPECT_NEAR(stream.peak, kTone, 0.01f) << c.path;
  }
}

TEST_F(SlotWinampTest, TwoSlotsLoadPluginsAndTheAddOnIsInitialisedOnce) {
  {
    std::ofstream ini(dir_.File("Velloran.ini"));
    for (int i = 0; i < 2; ++i) {
      ini << "[Slot" << i << "]\nFolder=" << Folder() << i << "\nEnabled=off\nWinampPlugin=" << kAmp
          << "\n";
    }
  }
  config_ = std::make_unique<ConfigFile>(dir_.File("Velloran.ini"));
  std::vector<std::unique_ptr<TSlotInfo>> slots;
  for (int i = 0; i < 2; ++i) {
    slots.push_back(std::make_unique<TSlotInfo>(*config_, false, i, catalogue_));
    slots.back()->OnLogMessage = [this](const void*, const std::string& l) { log_.push_back(l); };
    slots.back()->Initialize(false);
  }
  EXPECT_NE(slots[0]->WinampPluginHandle(), 0u);
  EXPECT_NE(slots[1]->WinampPluginHandle(), 0u);
  EXPECT_NE(slots[0]->WinampPluginHandle(), slots[1]->WinampPluginHandle());
  EXPECT_EQ(audio::wadsp::InitCount(), 1u);
  EXPECT_TRUE(log_.empty());
  const HDSP first = slots[0]->WinampPluginHandle();
  slots.clear();  // each frees its own plug-in
  EXPECT_EQ(BASS_WADSP_Config(first, nullptr, 0), static_cast<DWORD>(-1));
}

// A value chosen in the dialog is in force at once, kept in the slot's section and applied
// again when the slot starts the next time; unusable entries of the key are logged.
TEST_F(SlotWinampTest, ChosenControlValuesSurviveARestart) {
  const std::string lines = std::string("Source=Soundcard\nDevice=GEN:tone\nEnabled=off\n") +
                            "WinampPlugin=" + kAmp + "\nWinampPluginControls=Gain=x|Drive=3\n";
  TSlotInfo& slot = MakeSlot(lines);
  EXPECT_EQ(PluginLog(),
            (std::vector<std::string>{
                "Slot 1: WinampPluginControls: \"Gain=x\" is not a control name and a number",
                "Slot 1: WinampPluginControls: the plug-in has no control \"Drive\""}));
  EXPECT_FALSE(slot.SetWinampPluginControl(0, NAN));
  EXPECT_FALSE(slot.SetWinampPluginControl(1, 1.0f));
  ASSERT_TRUE(slot.SetWinampPluginControl(0, 0.5f));
  Probe stream;
  BASS_ChannelSetDSP(slot.Mixer(), Probe::Proc, &stream, -2000);
  Run(1000);
  EXPECT_NEAR(stream.peak, 0.5f * kTone, 0.005f);
  slot_.reset();  // writes the section
  ConfigFile written(dir_.File("Velloran.ini"));
  EXPECT_EQ(written.ReadString("Slot0", "WinampPluginControls", ""), "Drive=3|Gain=0.5");

  config_ = std::make_unique<ConfigFile>(dir_.File("Velloran.ini"));
  slot_ = std::make_unique<TSlotInfo>(*config_, false, 0, catalogue_);
  slot_->Initialize(false);
  slot_->StartRecording();
  BASS_ChannelSetDSP(slot_->Mixer(), Probe::Proc, &stream, -2000);
  Run(1000);
  EXPECT_NEAR(stream.peak, 0.5f * kTone, 0.005f);
}

// A plug-in whose output turns to NaN is silenced before the encoders and reported once.
TEST_F(SlotWinampTest, InvalidPluginOutputIsSilencedAndLoggedOnce) {
  SetLocalTime(2024, 3, 5, 10, 0, 0);
  TSlotInfo& slot = MakeSlot(std::string(kToneWav) + "WinampPlugin=" + VELLORAN_LADSPA_FIXTURES +
                             "/invalid.so\nWinampPluginControls=Poison=1\n");
  Probe stream;
  BASS_ChannelSetDSP(slot.Mixer(), Probe::Proc, &stream, -2000);
  Run(3000);
  EXPECT_EQ(stream.peak, 0.0f);
  EXPECT_NEAR(slot.LevelLeft(), kTone, 0.01f);
  const std::vector<std::string> lines = PluginLog();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(
      lines[0].rfind("Slot 1: The DSP plug-in produced invalid samples (NaN or infinity); ", 0), 0u)
      << lines[0];
  EXPECT_EQ(RecordedPeak(), 0.0f);
}

}  // namespace
}  // namespace velloran::slots::test
