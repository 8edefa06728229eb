// The device catalogue and capture fan-out against real servers: a private JACK server (ASIO
// bundles), a private PulseAudio server (WASAPI endpoints, and WDM through ALSA's plug-in).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/bass.h"
#include "audio/bassasio.h"
#include "audio/devices/DeviceCatalogue.h"
#include "audio/devices/integration/CaptureProbe.h"
#include "audio/devices/integration/JackToneClient.h"
#include "core/BassErrorText.h"
#include "core/ConfigFile.h"
#include "core/Error.h"
#include "support/JackServer.h"
#include "support/PulseServer.h"
#include "support/ServerProcess.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"

namespace velloran::audio {
namespace {

using test::CaptureProbe;
using test::ChannelOf;
using test::FrequencyOf;
using test::PeakDb;

using velloran::test::WaitUntil;

// Reads what a push stream has queued into a probe, until `bytes` arrived (real time).
bool Collect(HSTREAM stream, CaptureProbe& probe, size_t bytes, int timeoutMs = 10000) {
  std::vector<uint8_t> block(8192);
  return WaitUntil(
      [&] {
        const DWORD got =
            BASS_ChannelGetData(stream, block.data(), static_cast<DWORD>(block.size()));
        if (got != static_cast<DWORD>(-1) && got > 0) {
          probe.Add(block.data(), got);
        }
        return probe.Size() >= bytes;
      },
      timeoutMs);
}

std::vector<std::string> Identifiers(const DeviceCatalogue& catalogue, const std::string& prefix) {
  std::vector<std::string> ids;
  for (int i = 0; i < catalogue.Count(); ++i) {
    if (catalogue.Identifier(i).rfind(prefix, 0) == 0) {
      ids.push_back(catalogue.Identifier(i));
    }
  }
  return ids;
}

class CatalogueTest : public ::testing::Test {
 protected:
  ConfigFile& Config() {
    if (!config_) {
      config_ = std::make_unique<ConfigFile>(dir_.File("Velloran.ini"));
    }
    return *config_;
  }
  test::TempDir dir_;
  std::unique_ptr<ConfigFile> config_;
};

TEST_F(CatalogueTest, AsioBundlesFollowTheChannelBundleKeys) {
  struct Case {
    int inputs;
    std::vector<std::pair<std::string, int>> keys;
    std::vector<std::string> ids;
  };
  const std::vector<Case> cases = {
      {8, {}, {"ASIO:0:0:2", "ASIO:0:2:2", "ASIO:0:4:2", "ASIO:0:6:2"}},
      {6,
       {{"ChannelBundle0", 1}, {"ChannelBundle1", 4}},
       {"ASIO:0:0:1", "ASIO:0:1:4", "ASIO:0:5:2"}},
      {3,
       {{"ChannelBundle0", 0}, {"ChannelBundle1", -5}, {"ChannelBundle2", 3}},
       {"ASIO:0:0:1", "ASIO:0:1:1", "ASIO:0:2:3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inputs);
    test::TempDir dir;
    ConfigFile config(dir.File("Velloran.ini"));
    for (const auto& [key, value] : c.keys) {
      config.WriteInteger("ASIODevice0", key, value);
    }
    test::JackServer server(c.inputs);
    ASSERT_TRUE(server.Running());
    auto catalogue = BuildDeviceCatalogue(config);
    EXPECT_EQ(Identifiers(*catalogue, "ASIO:"), c.ids);
    ASSERT_EQ(catalogue->ASIODevices().size(), 1u);
    const auto& driver = *catalogue->ASIODevices()[0];
    EXPECT_EQ(driver.Name(), "JACK");
    EXPECT_EQ(driver.ChannelCount(), c.inputs);
  }
}

TEST_F(CatalogueTest, AsioNamesAndTheBundlePastTheLastInput) {
  Config().WriteInteger("ASIODevice0", "ChannelBundle0", 1);
  Config().WriteInteger("ASIODevice0", "ChannelBundle1", 4);
  test::JackServer server(6);
  ASSERT_TRUE(server.Running());
  auto catalogue = BuildDeviceCatalogue(Config());
  ASSERT_NE(catalogue->Find("asio:0:5:2"), nullptr);
  EXPECT_EQ(catalogue->Find("ASIO:0:0:1")->Name(), "ASIO: JACK - system:capture_1");
  EXPECT_EQ(catalogue->Find("ASIO:0:1:4")->Name(),
            "ASIO: JACK - system:capture_2, system:capture_3, system:capture_4, "
            "system:capture_5");
  EXPECT_EQ(catalogue->Find("ASIO:0:5:2")->Name(), "ASIO: JACK - system:capture_6, (none)");
  const auto& driver = *catalogue->ASIODevices()[0];
  EXPECT_EQ(driver.GetChannelBundle(0), 1);
  EXPECT_EQ(driver.GetChannelBundle(1), 4);
  EXPECT_EQ(driver.GetChannelBundle(2), 0);
  EXPECT_EQ(driver.GetChannelBundle(5), 2);
  EXPECT_EQ(driver.GetChannelName(6), "(none)");
  EXPECT_EQ(driver.ThreadCount(), 1);

  // The bundle past the inputs still captures two channels, the last one silent. With the
  // output work-around the driver also plays silence on its first output.
  auto* bundle = catalogue->FindCapture("ASIO:0:5:2");
  const HSTREAM stream = bundle->AddClient(48000, false, true);
  ASSERT_NE(stream, 0u);
  EXPECT_EQ(test::FindPorts("velloran", "out_1").size(), 1u);
  BASS_CHANNELINFO info{};
  ASSERT_TRUE(BASS_ChannelGetInfo(stream, &info));
  EXPECT_EQ(info.chans, 2u);
  EXPECT_EQ(info.freq, 48000u);
  CaptureProbe probe;
  ASSERT_TRUE(Collect(stream, probe, 4800 * 8));
  bundle->RemoveClient(stream);
  BASS_StreamFree(stream);
}

TEST_F(CatalogueTest, AsioBundlesShareTheDriverWhichRunsAtTheServersRate) {
  Config().WriteInteger("ASIODevice0", "Samplerate",
                        44100);  // not the server's: ignored
  test::JackServer server(4);
  ASSERT_TRUE(server.Running());
  auto catalogue = BuildDeviceCatalogue(Config());
  auto* low = catalogue->FindCapture("ASIO:0:0:2");
  auto* high = catalogue->FindCapture("ASIO:0:2:2");
  ASSERT_NE(low, nullptr);
  ASSERT_NE(high, nullptr);
  const auto& driver = *catalogue->ASIODevices()[0];

  const HSTREAM a = low->AddClient(32000, true, false);
  ASSERT_NE(a, 0u);
  EXPECT_EQ(driver.ActiveChannels(), 1);
  const HSTREAM b = high->AddClient(44100, false, true);
  ASSERT_NE(b, 0u);
  EXPECT_EQ(driver.ActiveChannels(), 2);
  BASS_CHANNELINFO info{};
  ASSERT_TRUE(BASS_ChannelGetInfo(a, &info));
  EXPECT_EQ(info.freq, 48000u);
  EXPECT_EQ(info.flags & BASS_SAMPLE_FLOAT, 0u);
  ASSERT_TRUE(BASS_ChannelGetInfo(b, &info));
  EXPECT_EQ(info.freq, 48000u);
  EXPECT_NE(info.flags & BASS_SAMPLE_FLOAT, 0u);

  // A tone on input 3 (the second bundle's first channel) reaches only that bundle.
  test::JackToneClient tone({1000.0}, {-6.0});
  ASSERT_TRUE(tone.Ok());
  const auto in3 = test::FindPorts("velloran", "in_3");
  ASSERT_EQ(in3.size(), 1u);
  ASSERT_TRUE(tone.ConnectTo({in3[0]}));
  CaptureProbe highProbe;
  ASSERT_TRUE(WaitUntil([&] {
    highProbe.Clear();
    Collect(b, highProbe, 4800 * 8, 2000);
    return PeakDb(ChannelOf(highProbe.Bytes(), 2, 0, false)) > -7.0;
  }));
  highProbe.Clear();
  ASSERT_TRUE(Collect(b, highProbe, 48000 * 8));
  EXPECT_NEAR(PeakDb(ChannelOf(highProbe.Bytes(), 2, 0, false)), -6.0, 0.2);
  EXPECT_NEAR(FrequencyOf(ChannelOf(highProbe.Bytes(), 2, 0, false), 48000), 1000.0, 10.0);
  EXPECT_LT(PeakDb(ChannelOf(highProbe.Bytes(), 2, 1, false)), -150.0);
  CaptureProbe lowProbe;
  ASSERT_TRUE(Collect(a, lowProbe, 4800 * 4));
  EXPECT_LT(PeakDb(ChannelOf(lowProbe.Bytes(), 2, 0, true)), -90.0);

  low->RemoveClient(a);
  EXPECT_EQ(driver.ActiveChannels(), 1);
  lowProbe.Clear();
  highProbe.Clear();
  ASSERT_TRUE(Collect(b, highProbe,
                      4800 * 8));  // the driver went on for the other bundle
  high->RemoveClient(b);
  EXPECT_EQ(driver.ActiveChannels(), 0);
  BASS_StreamFree(a);
  BASS_StreamFree(b);
}

// A bundle records while another one starts and stops on the same server, three times: the
// JACK client is never deactivated for it, so the recording bundle's sine runs on without a
// gap (every sample follows from the two before it; a lost cycle or a lost connection breaks
// that by far more than rounding).
TEST_F(CatalogueTest, AsioBundleRecordsWithoutAGapWhileAnotherStartsAndStops) {
  test::JackServer server(4);
  ASSERT_TRUE(server.Running());
  auto catalogue = BuildDeviceCatalogue(Config());
  auto* recording = catalogue->FindCapture("ASIO:0:0:2");
  auto* other = catalogue->FindCapture("ASIO:0:2:2");
  ASSERT_NE(recording, nullptr);
  ASSERT_NE(other, nullptr);
  const HSTREAM a = recording->AddClient(48000, false, false);
  ASSERT_NE(a, 0u);
  constexpr double kFrequency = 997.0;  // no whole number of periods in a JACK cycle
  test::JackToneClient tone({kFrequency}, {-6.0});
  ASSERT_TRUE(tone.Ok());
  const auto in1 = test::FindPorts("velloran", "in_1");
  ASSERT_EQ(in1.size(), 1u);
  ASSERT_TRUE(tone.ConnectTo({in1[0]}));
  CaptureProbe probe;
  ASSERT_TRUE(WaitUntil([&] {
    probe.Clear();
    Collect(a, probe, 4800 * 8, 2000);
    return PeakDb(ChannelOf(probe.Bytes(), 2, 0, false)) > -7.0;
  }));
  probe.Clear();  // from here on the sine is whole

  const auto& driver = *catalogue->ASIODevices()[0];
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(Collect(a, probe, probe.Size() + 2400 * 8));
    const HSTREAM b = other->AddClient(48000, true, false);
    ASSERT_NE(b, 0u);
    EXPECT_EQ(driver.ActiveChannels(), 2);
    ASSERT_TRUE(Collect(a, probe, probe.Size() + 2400 * 8));
    other->RemoveClient(b);
    BASS_StreamFree(b);
    EXPECT_EQ(driver.ActiveChannels(), 1);
  }
  ASSERT_TRUE(Collect(a, probe, probe.Size() + 2400 * 8));

  const std::vector<float> left = ChannelOf(probe.Bytes(), 2, 0, false);
  const double k = 2.0 * std::cos(2.0 * M_PI * kFrequency / 48000.0);
  double worst = 0.0;
  size_t worstAt = 0;
  for (size_t n = 2; n < left.size(); ++n) {
    const double residual = std::fabs(left[n] - k * left[n - 1] + left[n - 2]);
    if (residual > worst) {
      worst = residual;
      worstAt = n;
    }
  }
  EXPECT_LT(worst, 1e-4) << "at frame " << worstAt << " of " << left.size();
  recording->RemoveClient(a);
  EXPECT_EQ(driver.ActiveChannels(), 0);
  BASS_StreamFree(a);
}

TEST_F(CatalogueTest, AsioServerLossRunsTheClientsDryAndTheNextClientReportsIt) {
  std::unique_ptr<DeviceCatalogue> catalogue;
  HSTREAM stream = 0;
  TDeviceInfoWithClients* bundle = nullptr;
  {
    test::JackServer server(2);
    ASSERT_TRUE(server.Running());
    catalogue = BuildDeviceCatalogue(Config());
    bundle = catalogue->FindCapture("ASIO:0:0:2");
    ASSERT_NE(bundle, nullptr);
    stream = bundle->AddClient(48000, false, false);
    ASSERT_NE(stream, 0u);
    CaptureProbe probe;
    ASSERT_TRUE(Collect(stream, probe, 4800 * 8));
    server.Kill();
    EXPECT_TRUE(WaitUntil([&] { return bundle->CaptureLost(); }));
  }
  try {
    bundle->AddClient(48000, false, false);
    FAIL() << "no error raised";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "ASIOInit: " + BassErrorText(BASS_ERROR_DRIVER));
  }
  EXPECT_EQ(bundle->Clients(), std::vector<HSTREAM>{stream});
  bundle->RemoveClient(stream);
  BASS_StreamFree(stream);
}

TEST_F(CatalogueTest, AsioControlPanelOpensTheIdleDriverOnlyForItsTime) {
  std::unique_ptr<DeviceCatalogue> catalogue;
  {
    test::JackServer server(2);
    ASSERT_TRUE(server.Running());
    catalogue = BuildDeviceCatalogue(Config());
    ASSERT_EQ(catalogue->ASIODevices().size(), 1u);
    auto& driver = *catalogue->ASIODevices()[0];
    auto* bundle = catalogue->Find("ASIO:0:0:2");
    EXPECT_EQ(bundle->HasControlPanel(), driver.HasControlPanel());
    EXPECT_NO_THROW(bundle->RunControlPanel());
    // The panel left the driver as it found it: uninitialised.
    EXPECT_TRUE(BASS_ASIO_Init(0, 0));
    EXPECT_TRUE(BASS_ASIO_Free());
  }
  // Without its server, the idle driver cannot be opened for the panel.
  try {
    catalogue->ASIODevices()[0]->RunControlPanel();
    FAIL() << "no error raised";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "ASIOInit: " + BassErrorText(BASS_ERROR_DRIVER));
  }
}

TEST_F(CatalogueTest, WasapiEndpointsAreSourcesAndTwoSlotsShareOne) {
  test::PulseServer server;
  ASSERT_TRUE(server.Running()) << server.LogText();
  auto catalogue = BuildDeviceCatalogue(Config());
  const std::string id = "WASAPI:" + server.MonitorName();
  const int index = catalogue->IndexOf("wasapi:VELLORAN_TEST.MONITOR");
  ASSERT_GE(index, 0);
  EXPECT_EQ(catalogue->Identifier(index), id);
  EXPECT_EQ(catalogue->Entry(index)->Name(), "WASAPI: Monitor of Velloran-test");
  EXPECT_EQ(catalogue->IndexOf("WASAPI:" + server.SinkName()),
            -1);  // output only
  // Families in order: WDM, then WASAPI, then the generators.
  EXPECT_LT(index, catalogue->IndexOf("GEN:tone"));
  const auto wdm = Identifiers(*catalogue, "WDM:");
  if (!wdm.empty()) {
    EXPECT_LT(catalogue->IndexOf(wdm.back()), index);
  }

  auto* entry = catalogue->FindCapture(id);
  const HSTREAM first = entry->AddClient(44100, true, false);
  ASSERT_NE(first, 0u);
  const HSTREAM second = entry->AddClient(22050, true, false);
  ASSERT_NE(second, 0u);
  BASS_CHANNELINFO info{};
  ASSERT_TRUE(BASS_ChannelGetInfo(second, &info));
  EXPECT_EQ(info.freq, 48000u);                   // the endpoint's rate
  EXPECT_NE(info.flags & BASS_SAMPLE_FLOAT, 0u);  // WASAPI capture is float

  test::TempDir dir;
  const std::string wav = dir.File("tone.wav");
  ASSERT_TRUE(test::WriteSineWav(wav, 48000, {1000.0, 3000.0}, -10.0, 6.0));
  auto player = server.StartPlaying(server.SinkName(), wav);
  ASSERT_TRUE(player);
  CaptureProbe a;
  CaptureProbe b;
  ASSERT_TRUE(WaitUntil([&] {
    a.Clear();
    Collect(first, a, 4800 * 8, 2000);
    return PeakDb(ChannelOf(a.Bytes(), 2, 0, false)) > -11.0;
  }));
  b.Clear();
  ASSERT_TRUE(Collect(second, b, 48000 * 8));  // drains everything queued so far
  a.Clear();
  b.Clear();
  ASSERT_TRUE(Collect(first, a, 48000 * 8));
  ASSERT_TRUE(Collect(second, b, a.Size()));
  const auto left = ChannelOf(a.Bytes(), 2, 0, false);
  const auto right = ChannelOf(a.Bytes(), 2, 1, false);
  EXPECT_NEAR(PeakDb(left), -10.0, 0.3);
  EXPECT_NEAR(FrequencyOf(left, 48000), 1000.0, 10.0);
  EXPECT_NEAR(FrequencyOf(right, 48000), 3000.0, 30.0);
  EXPECT_NEAR(FrequencyOf(ChannelOf(b.Bytes(), 2, 0, false), 48000), 1000.0, 10.0);

  entry->RemoveClient(first);
  EXPECT_TRUE(entry->Capturing());
  entry->RemoveClient(second);
  EXPECT_FALSE(entry->Capturing());
  BASS_StreamFree(first);
  BASS_StreamFree(second);
}

TEST_F(CatalogueTest, WasapiSourceLossRunsTheClientsDryAndTheNextClientReportsIt) {
  test::PulseServer server;
  ASSERT_TRUE(server.Running()) << server.LogText();
  const int module = server.LoadNullSink("velloran_gone", "Going", 48000);
  ASSERT_GE(module, 0);
  auto catalogue = BuildDeviceCatalogue(Config());
  auto* entry = catalogue->FindCapture("WASAPI:velloran_gone.monitor");
  ASSERT_NE(entry, nullptr);
  const HSTREAM stream = entry->AddClient(48000, false, false);
  ASSERT_NE(stream, 0u);
  CaptureProbe probe;
  ASSERT_TRUE(Collect(stream, probe, 4800 * 8));
  ASSERT_TRUE(server.UnloadModule(module));
  EXPECT_TRUE(WaitUntil([&] { return entry->CaptureLost(); }));
  try {
    entry->AddClient(48000, false, false);
    FAIL() << "no error raised";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("WASAPI_Init: ", 0), 0u) << e.what();
  }
  entry->RemoveClient(stream);
  EXPECT_TRUE(entry->Clients().empty());
  BASS_StreamFree(stream);
}

TEST_F(CatalogueTest, WdmDevicesAreAlsaCapturePcms) {
  test::PulseServer server;
  ASSERT_TRUE(server.Running()) << server.LogText();
  const std::string conf = dir_.File("asound.conf");
  {
    std::ofstream out(conf);
    out << "</usr/share/alsa/alsa.conf>\n"
        << "pcm.velloran_capture {\n  type pulse\n  device \"" << server.MonitorName()
        << "\"\n  hint {\n    show on\n    description \"Velloran capture "
           "test\"\n  }\n}\n";
  }
  const char* previous = std::getenv("ALSA_CONFIG_PATH");
  const std::optional<std::string> saved =
      previous != nullptr ? std::optional<std::string>(previous) : std::nullopt;
  setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
  struct Restore {
    std::optional<std::string> value;
    ~Restore() {
      if (value) {
        setenv("ALSA_CONFIG_PATH", value->c_str(), 1);
      } else {
        unsetenv("ALSA_CONFIG_PATH");
      }
    }
  } restore{saved};
  auto catalogue = BuildDeviceCatalogue(Config());
  int found = -1;
  for (const auto& wdm : catalogue->WDMDevices()) {
    if (wdm->Name() == "WDM: Velloran capture test") {
      found = wdm->Index();
    }
  }
  ASSERT_GE(found, 0);
  const std::string id = "WDM:" + std::to_string(found);
  EXPECT_EQ(catalogue->Identifier(catalogue->IndexOf("wdm:" + std::to_string(found))), id);
  // WDM entries come first, numbered in order.
  EXPECT_EQ(catalogue->Identifier(0), "WDM:0");

  auto* entry = catalogue->FindCapture(id);
  const HSTREAM first = entry->AddClient(44100, true, false);
  ASSERT_NE(first, 0u);
  const HSTREAM second = entry->AddClient(48000, false, false);
  ASSERT_NE(second, 0u);
  BASS_CHANNELINFO info{};
  ASSERT_TRUE(BASS_ChannelGetInfo(second, &info));
  EXPECT_EQ(info.freq, 44100u);  // the rate the first slot started it with
  EXPECT_EQ(info.flags & BASS_SAMPLE_FLOAT, 0u);

  test::TempDir dir;
  const std::string wav = dir.File("tone.wav");
  ASSERT_TRUE(test::WriteSineWav(wav, 48000, {1000.0, 1000.0}, -6.0, 6.0));
  auto player = server.StartPlaying(server.SinkName(), wav);
  CaptureProbe probe;
  ASSERT_TRUE(WaitUntil([&] {
    probe.Clear();
    Collect(first, probe, 4410 * 4, 2000);
    return PeakDb(ChannelOf(probe.Bytes(), 2, 0, true)) > -7.0;
  }));
  probe.Clear();
  ASSERT_TRUE(Collect(first, probe, 44100 * 4));
  EXPECT_NEAR(PeakDb(ChannelOf(probe.Bytes(), 2, 0, true)), -6.0, 0.5);
  EXPECT_NEAR(FrequencyOf(ChannelOf(probe.Bytes(), 2, 0, true), 44100), 1000.0, 10.0);

  // The server goes away: the clients run dry, the next client is told.
  server.Kill();
  EXPECT_TRUE(WaitUntil([&] { return entry->CaptureLost(); }));
  try {
    entry->AddClient(44100, true, false);
    FAIL() << "no error raised";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Init: ", 0), 0u) << e.what();
  }
  entry->RemoveClient(first);
  entry->RemoveClient(second);
  BASS_StreamFree(first);
  BASS_StreamFree(second);
}

TEST_F(CatalogueTest, WithoutServersThereAreNoAsioOrWasapiEntriesAndNoServerIsStarted) {
  const std::string jackName = "velloran-no-server-" + std::to_string(getpid());
  setenv("JACK_DEFAULT_SERVER", jackName.c_str(), 1);
  setenv("PULSE_SERVER", ("unix:" + dir_.File("no-such-socket")).c_str(), 1);
  auto catalogue = BuildDeviceCatalogue(Config());
  unsetenv("JACK_DEFAULT_SERVER");
  unsetenv("PULSE_SERVER");
  EXPECT_TRUE(Identifiers(*catalogue, "ASIO:").empty());
  EXPECT_TRUE(Identifiers(*catalogue, "WASAPI:").empty());
  EXPECT_TRUE(catalogue->ASIODevices().empty());
  EXPECT_GE(catalogue->IndexOf("GEN:ramp"), 0);
  // Asking did not start a JACK server under that name.
  EXPECT_NE(
      test::RunCommand({"jack_lsp"}, {"JACK_DEFAULT_SERVER=" + jackName, "JACK_NO_START_SERVER=1"}),
      0);
}

}  // namespace
}  // namespace velloran::audio
