// The DSP plug-in add-on on real LADSPA plug-ins (ladspa-sdk's amp.so and noise.so, swh-plugins'
// SC4 compressor) and on two fixture libraries for the faults no packaged plug-in shows on
// demand (a library without descriptors, a plug-in that outputs NaN or infinity).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/bass.h"
#include "audio/bass_wadsp.h"
#include "audio/wadsp/Wadsp.h"
#include "support/TempDir.h"

namespace {

constexpr DWORD kRate = 48000;
constexpr const char* kAmp = "/usr/lib/ladspa/amp.so";              // module 0: mono amplifier
constexpr const char* kNoise = "/usr/lib/ladspa/noise.so";          // no audio input
constexpr const char* kCompressor = "/usr/lib/ladspa/sc4_1882.so";  // stereo compressor
const std::string kFixtures = VELLORAN_LADSPA_FIXTURES;

void EnsureInit() {
  if (velloran::audio::wadsp::InitCount() == 0) {
    ASSERT_TRUE(BASS_WADSP_Init(nullptr));
  }
}

HDSP Load(const std::string& path) {
  return BASS_WADSP_Load(path.c_str(), 5, 5, 100, 100, nullptr);
}

// Writes a sine of the given amplitude per channel (0 leaves a channel silent), counted across
// calls, ahead of everything else on the chain.
struct Source {
  std::vector<float> amplitude;
  uint64_t frame = 0;
  static void Proc(HDSP, DWORD, void* buffer, DWORD length, void* user) {
    auto* self = static_cast<Source*>(user);
    auto* s = static_cast<float*>(buffer);
    const size_t channels = self->amplitude.size();
    for (size_t f = 0; f < length / (4 * channels); ++f, ++self->frame) {
      const double phase = 2.0 * M_PI * 1000.0 * static_cast<double>(self->frame) / kRate;
      for (size_t c = 0; c < channels; ++c) {
        s[f * channels + c] = static_cast<float>(self->amplitude[c] * std::sin(phase));
      }
    }
  }
};

// Peak per channel of the last pull at its place on the chain; counts non-finite samples.
struct Probe {
  std::vector<float> peak;
  size_t invalid = 0;
  static void Proc(HDSP, DWORD, void* buffer, DWORD length, void* user) {
    auto* self = static_cast<Probe*>(user);
    const auto* s = static_cast<const float*>(buffer);
    const size_t channels = self->peak.size();
    std::fill(self->peak.begin(), self->peak.end(), 0.0f);
    for (size_t i = 0; i < length / 4; ++i) {
      if (!std::isfinite(s[i])) {
        ++self->invalid;
      } else {
        self->peak[i % channels] = std::max(self->peak[i % channels], std::fabs(s[i]));
      }
    }
  }
};

struct WadspFixture : ::testing::Test {
  explicit WadspFixture(DWORD channels = 2)
      : mixer(BASS_Mixer_StreamCreate(kRate, channels,
                                      BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE | BASS_MIXER_NONSTOP)),
        buffer(channels * 4800) {
    source.amplitude.assign(channels, 0.25f);
    before.peak.assign(channels, 0.0f);
    after.peak.assign(channels, 0.0f);
    BASS_ChannelSetDSP(mixer, Source::Proc, &source, 200);
    BASS_ChannelSetDSP(mixer, Probe::Proc, &before, 0);
    BASS_ChannelSetDSP(mixer, Probe::Proc, &after, -1000);
  }
  void SetUp() override { EnsureInit(); }
  ~WadspFixture() override {
    if (plugin != 0) {
      BASS_WADSP_FreeDSP(plugin);
    }
    BASS_ChannelFree(mixer);
  }
  // Pulls seconds of audio in 100 ms blocks.
  void Pull(double seconds = 0.1) {
    for (int i = 0; i < static_cast<int>(std::lround(seconds * 10)); ++i) {
      const auto bytes = static_cast<DWORD>(buffer.size() * 4);
      ASSERT_EQ(BASS_ChannelGetData(mixer, buffer.data(), bytes), bytes);
    }
  }
  std::vector<BASS_WADSP_CONTROL> Controls() const {
    const DWORD n = BASS_WADSP_Config(plugin, nullptr, 0);
    std::vector<BASS_WADSP_CONTROL> controls(n == static_cast<DWORD>(-1) ? 0 : n);
    BASS_WADSP_Config(plugin, controls.data(), static_cast<DWORD>(controls.size()));
    return controls;
  }

  HSTREAM mixer;
  std::vector<float> buffer;
  Source source;
  Probe before;
  Probe after;
  HDSP plugin = 0;
};

TEST(WadspLoad, InitOnceAndLoadErrors) {
  if (velloran::audio::wadsp::InitCount() == 0) {
    EXPECT_EQ(Load(kAmp), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    ASSERT_TRUE(BASS_WADSP_Init(nullptr));
  }
  EXPECT_FALSE(BASS_WADSP_Init(nullptr));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
  EXPECT_EQ(velloran::audio::wadsp::InitCount(), 1u);

  velloran::test::TempDir dir;
  std::ofstream(dir.File("text.so")) << "not a library\n";
  std::ofstream(dir.File("empty.so"));
  struct Case {
    std::string path;
    int error;
  };
  const std::vector<Case> cases = {
      {"", BASS_ERROR_FILEOPEN},
      {dir.File("missing.so"), BASS_ERROR_FILEOPEN},
      {dir.File("empty.so"), BASS_ERROR_FILEOPEN},
      {dir.Path().string(), BASS_ERROR_FILEOPEN},  // a folder
      {dir.File("text.so"), BASS_ERROR_FILEFORM},
      {"/usr/lib/x86_64-linux-gnu/libm.so.6", BASS_ERROR_FILEFORM},  // no LADSPA entry point
      {kFixtures + "/empty.so", BASS_ERROR_NOTAVAIL},                // no descriptor
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Load(c.path), 0u) << c.path;
    EXPECT_EQ(BASS_ErrorGetCode(), c.error) << c.path;
  }
  const HDSP amp = Load(kAmp);
  ASSERT_NE(amp, 0u) << BASS_ErrorGetCode();
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
  EXPECT_TRUE(BASS_WADSP_FreeDSP(amp));
  EXPECT_FALSE(BASS_WADSP_FreeDSP(amp));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

TEST_F(WadspFixture, StartErrors) {
  plugin = Load(kNoise);
  ASSERT_NE(plugin, 0u);
  EXPECT_FALSE(BASS_WADSP_Start(plugin, 0, mixer));  // an output but no input
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FORMAT);
  BASS_WADSP_FreeDSP(plugin);

  plugin = Load(kAmp);
  ASSERT_NE(plugin, 0u);
  EXPECT_FALSE(BASS_WADSP_Start(plugin, 2, mixer));  // amp.so has two modules
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
  EXPECT_FALSE(BASS_WADSP_Start(plugin, 0, 0));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
  EXPECT_FALSE(BASS_WADSP_Start(0, 0, mixer));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
  EXPECT_TRUE(BASS_WADSP_Start(plugin, 1, mixer));  // the stereo amplifier fits as well

  // An instance made for this mixer's rate does not go on another rate's chain.
  const HSTREAM other = BASS_Mixer_StreamCreate(44100, 2, BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE);
  EXPECT_EQ(BASS_WADSP_ChannelSetDSP(plugin, other, -500), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FORMAT);
  ASSERT_NE(BASS_WADSP_ChannelSetDSP(plugin, mixer, -500), 0u);
  EXPECT_FALSE(BASS_WADSP_Start(plugin, 1, other));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FORMAT);
  BASS_ChannelFree(other);
}

struct MonoMixer : WadspFixture {
  MonoMixer() : WadspFixture(1) {}
};

TEST_F(MonoMixer, StereoPluginDoesNotFitAMonoChannelButAMonoOneDoes) {
  plugin = Load(kCompressor);
  ASSERT_NE(plugin, 0u);
  EXPECT_FALSE(BASS_WADSP_Start(plugin, 0, mixer));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FORMAT);
  BASS_WADSP_FreeDSP(plugin);
  plugin = Load(kAmp);
  ASSERT_TRUE(BASS_WADSP_Start(plugin, 0, mixer));
  ASSERT_TRUE(BASS_WADSP_SetControl(plugin, 0, 2.0f));
  ASSERT_NE(BASS_WADSP_ChannelSetDSP(plugin, mixer, -500), 0u);
  Pull();
  EXPECT_NEAR(after.peak[0], 0.5f, 0.01f);
}

// The mono amplifier runs once per channel, between the probes at 0 and -1000: the meter's
// place sees the signal as it came, the encoder's place sees it amplified.
TEST_F(WadspFixture, MonoPluginProcessesEveryChannelInPriorityOrder) {
  source.amplitude = {0.25f, 0.125f};
  plugin = Load(kAmp);
  ASSERT_NE(plugin, 0u);
  ASSERT_TRUE(BASS_WADSP_Start(plugin, 0, mixer));
  const auto controls = Controls();
  ASSERT_EQ(controls.size(), 1u);
  EXPECT_STREQ(controls[0].name, "Gain");
  EXPECT_EQ(controls[0].def, 1.0f);
  EXPECT_EQ(controls[0].value, 1.0f);
  EXPECT_EQ(controls[0].min, 0.0f);
  EXPECT_EQ(controls[0].flags, DWORD{BASS_WADSP_CONTROL_HASMIN | BASS_WADSP_CONTROL_LOG});

  ASSERT_TRUE(BASS_WADSP_SetControl(plugin, 0, 3.0f));
  const HDSP dsp = BASS_WADSP_ChannelSetDSP(plugin, mixer, -500);
  ASSERT_NE(dsp, 0u);
  Pull();
  EXPECT_NEAR(before.peak[0], 0.25f, 0.005f);
  EXPECT_NEAR(before.peak[1], 0.125f, 0.005f);
  EXPECT_NEAR(after.peak[0], 0.75f, 0.01f);
  EXPECT_NEAR(after.peak[1], 0.375f, 0.01f);

  // A value outside the range is clamped; one that is not a number is refused.
  ASSERT_TRUE(BASS_WADSP_SetControl(plugin, 0, -4.0f));
  EXPECT_EQ(Controls()[0].value, 0.0f);
  for (float bad : {NAN, INFINITY}) {
    EXPECT_FALSE(BASS_WADSP_SetControl(plugin, 0, bad));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
  }
  EXPECT_FALSE(BASS_WADSP_SetControl(plugin, 1, 1.0f));
  Pull();
  EXPECT_EQ(after.peak[0], 0.0f);

  // Attached twice is refused; removed, the audio passes unchanged again.
  EXPECT_EQ(BASS_WADSP_ChannelSetDSP(plugin, mixer, -500), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
  ASSERT_TRUE(BASS_WADSP_ChannelRemoveDSP(plugin));
  EXPECT_FALSE(BASS_ChannelRemoveDSP(mixer, dsp));  // its handle went with it
  Pull();
  EXPECT_NEAR(after.peak[0], 0.25f, 0.005f);
  EXPECT_FALSE(BASS_WADSP_ChannelRemoveDSP(plugin));
}

// A restart keeps the chosen values and replaces the instance in place on the chain.
TEST_F(WadspFixture, RestartKeepsValuesAndPlace) {
  plugin = Load(kAmp);
  ASSERT_TRUE(BASS_WADSP_Start(plugin, 0, mixer));
  ASSERT_TRUE(BASS_WADSP_SetControl(plugin, 0, 2.0f));
  ASSERT_NE(BASS_WADSP_ChannelSetDSP(plugin, mixer, -500), 0u);
  ASSERT_TRUE(BASS_WADSP_Start(plugin, 0, mixer));
  Pull();
  EXPECT_NEAR(after.peak[0], 0.5f, 0.01f);
  ASSERT_TRUE(BASS_WADSP_Start(plugin, 1, mixer));  // another module starts at its defaults
  Pull();
  EXPECT_NEAR(after.peak[0], 0.25f, 0.005f);
}

TEST_F(WadspFixture, UnstartedPluginIsSetAndPassesAudioThrough) {
  plugin = Load(kNoise);
  ASSERT_FALSE(BASS_WADSP_Start(plugin, 0, mixer));
  ASSERT_NE(BASS_WADSP_ChannelSetDSP(plugin, mixer, -500), 0u);
  Pull();
  EXPECT_NEAR(after.peak[0], 0.25f, 0.005f);
  EXPECT_NEAR(after.peak[1], 0.25f, 0.005f);
}

// SC4 is a stereo compressor: one instance takes both channels. At ratio 1 it leaves the level
// alone; at 20:1 above -30 dB it brings a -12 dBFS tone down by more than 10 dB.
TEST_F(WadspFixture, StereoCompressorTakesBothChannels) {
  plugin = Load(kCompressor);
  ASSERT_NE(plugin, 0u);
  ASSERT_TRUE(BASS_WADSP_Start(plugin, 0, mixer));
  ASSERT_NE(BASS_WADSP_ChannelSetDSP(plugin, mixer, -500), 0u);
  Pull(1.0);
  EXPECT_NEAR(after.peak[0], 0.25f, 0.02f);
  EXPECT_NEAR(after.peak[1], 0.25f, 0.02f);
  const auto controls = Controls();
  ASSERT_EQ(controls.size(), 7u);  // its two output controls are not offered
  EXPECT_STREQ(controls[3].name, "Threshold level (dB)");
  EXPECT_STREQ(controls[4].name, "Ratio (1:n)");
  ASSERT_TRUE(BASS_WADSP_SetControl(plugin, 3, -30.0f));
  ASSERT_TRUE(BASS_WADSP_SetControl(plugin, 4, 20.0f));
  Pull(2.0);
  EXPECT_LT(after.peak[0], 0.25f * std::pow(10.0f, -10.0f / 20.0f));
  EXPECT_LT(after.peak[1], 0.25f * std::pow(10.0f, -10.0f / 20.0f));
  EXPECT_GT(after.peak[0], 0.0f);
  EXPECT_NEAR(before.peak[0], 0.25f, 0.005f);
}

// Control changes, restarts and removal while the pull thread runs the plug-in: a replaced
// instance is never run after its replacement returned (ASan/TSan builds catch a violation).
TEST_F(WadspFixture, ChangesWhileAnotherThreadPulls) {
  plugin = Load(kAmp);
  ASSERT_TRUE(BASS_WADSP_Start(plugin, 0, mixer));
  ASSERT_NE(BASS_WADSP_ChannelSetDSP(plugin, mixer, -500), 0u);
  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};
  std::thread puller([&] {
    std::vector<float> block(2 * 512);
    while (!stop.load()) {
      if (BASS_ChannelGetData(mixer, block.data(), static_cast<DWORD>(block.size() * 4)) !=
          block.size() * 4) {
        failures.fetch_add(1);
      }
    }
  });
  for (int i = 0; i < 200; ++i) {
    EXPECT_TRUE(BASS_WADSP_SetControl(plugin, 0, static_cast<float>(i % 4)));
    if (i % 10 == 0) {
      EXPECT_TRUE(BASS_WADSP_Start(plugin, i % 20 == 0 ? 0 : 1, mixer));
    }
    if (i % 25 == 0) {
      EXPECT_TRUE(BASS_WADSP_ChannelRemoveDSP(plugin));
      EXPECT_NE(BASS_WADSP_ChannelSetDSP(plugin, mixer, -500), 0u);
    }
  }
  stop.store(true);
  puller.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(after.invalid, 0u);
}

// NaN and infinity never get past the plug-in: the block is silence and counted. The fixture's
// instances (one per channel) all end when the plug-in is freed, also after its mixer went.
TEST_F(WadspFixture, InvalidOutputBecomesSilenceAndIsCounted) {
  const std::string path = kFixtures + "/invalid.so";
  void* fixture = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(fixture, nullptr) << dlerror();
  auto* live = reinterpret_cast<int (*)()>(dlsym(fixture, "velloran_fixture_live_instances"));
  ASSERT_NE(live, nullptr);

  plugin = Load(path);
  ASSERT_TRUE(BASS_WADSP_Start(plugin, 0, mixer));
  EXPECT_EQ(live(), 2);
  ASSERT_NE(BASS_WADSP_ChannelSetDSP(plugin, mixer, -500), 0u);
  Pull();
  EXPECT_NEAR(after.peak[0], 0.25f, 0.005f);
  EXPECT_EQ(velloran::audio::wadsp::InvalidBlocks(plugin), 0u);
  for (float mode : {1.0f, 2.0f}) {  // NaN, then +infinity
    const uint64_t counted = velloran::audio::wadsp::InvalidBlocks(plugin);
    ASSERT_TRUE(BASS_WADSP_SetControl(plugin, 0, mode));
    Pull(0.5);
    EXPECT_EQ(after.invalid, 0u) << mode;
    EXPECT_EQ(after.peak[0], 0.0f) << mode;
    EXPECT_EQ(after.peak[1], 0.0f) << mode;
    EXPECT_GT(velloran::audio::wadsp::InvalidBlocks(plugin), counted) << mode;
  }
  ASSERT_TRUE(BASS_WADSP_SetControl(plugin, 0, 0.0f));
  Pull();
  EXPECT_NEAR(after.peak[0], 0.25f, 0.005f);

  ASSERT_TRUE(BASS_WADSP_Start(plugin, 0, mixer));  // the replaced instances end at once
  EXPECT_EQ(live(), 2);
  BASS_ChannelFree(mixer);
  EXPECT_EQ(live(), 2);  // the plug-in still holds them
  EXPECT_TRUE(BASS_WADSP_FreeDSP(plugin));
  plugin = 0;
  EXPECT_EQ(live(), 0);
  dlclose(fixture);
}

}  // namespace
