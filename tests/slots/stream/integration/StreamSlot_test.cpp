// A stream slot against a private Icecast2 server fed by ffmpeg: titles into the cue sheet,
// the server going away and coming back, and a URL nobody listens on. Real time throughout:
// the network is the clock here.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "audio/bass.h"
#include "core/ConfigFile.h"
#include "slots/TSlotInfo.h"
#include "support/AudioDecode.h"
#include "support/IcecastServer.h"
#include "support/TempDir.h"

namespace velloran::slots {
namespace {

bool WaitUntil(const std::function<bool()>& done, int ms) {
  for (int waited = 0; waited < ms; waited += 50) {
    if (done()) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

class StreamSlotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 2000);
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
  }
  void TearDown() override { slot_.reset(); }

  TSlotInfo& MakeSlot(const std::string& url) {
    std::ofstream ini(dir_.File("Velloran.ini"));
    ini << "[Slot0]\nName=Radio\nSource=Stream\nStreamURL=" << url
        << "\nFormat=wav\nSampleRate=44100\nCueSheet=on\nFlatFilenames=on\nFolder="
        << dir_.File("rec") << "\n";
    ini.close();
    config_ = std::make_unique<ConfigFile>(dir_.File("Velloran.ini"));
    slot_ = std::make_unique<TSlotInfo>(*config_, false, 0, nullptr);
    slot_->OnLogMessage = [this](const void*, const std::string& line) {
      std::lock_guard lock(logMutex_);
      log_.push_back(line);
    };
    slot_->Initialize(true);
    slot_->StartRecording();
    return *slot_;
  }
  int LogCount(const std::string& part) {
    std::lock_guard lock(logMutex_);
    return static_cast<int>(std::count_if(log_.begin(), log_.end(), [&](const std::string& l) {
      return l.find(part) != std::string::npos;
    }));
  }

  test::TempDir dir_;
  std::unique_ptr<ConfigFile> config_;
  std::unique_ptr<TSlotInfo> slot_;
  std::mutex logMutex_;
  std::vector<std::string> log_;
};

TEST_F(StreamSlotTest, UnreachableUrlShowsTheErrorAndRetriesEverySecond) {
  const int port = test::FreeLoopbackPort();
  TSlotInfo& slot = MakeSlot("http://127.0.0.1:" + std::to_string(port) + "/live.mp3");
  ASSERT_TRUE(WaitUntil(
      [&] {
        return slot.StreamStatus() == "no internet connection could be opened (BASS error 32)";
      },
      5000));
  EXPECT_EQ(slot.StreamChannel(), 0u);
  EXPECT_EQ(slot.StreamDisplayText(), slot.StreamStatus());
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  // Retried every second, logged once.
  EXPECT_EQ(LogCount("BASS error 32"), 1);
  slot.StopRecording();
}

TEST_F(StreamSlotTest, RecordsIcecastWithTitlesAndReconnects) {
  for (const std::string mount : {"/live.mp3", "/live.ogg"}) {
    SCOPED_TRACE(mount);
    const bool ogg = mount.find(".ogg") != std::string::npos;
    {
      std::lock_guard lock(logMutex_);
      log_.clear();
    }
    test::IcecastServer server;
    ASSERT_TRUE(server.Start()) << server.Error();
    ASSERT_TRUE(server.StartSource(mount));
    ASSERT_TRUE(server.SetTitle(mount, "First Song"));
    TSlotInfo& slot = MakeSlot(server.Url(mount));
    slot.CycleEncoder();  // open the file now instead of at the next boundary
    ASSERT_TRUE(WaitUntil([&] { return slot.StreamChannel() != 0; }, 10000)) << slot.StreamStatus();
    ASSERT_TRUE(WaitUntil([&] { return slot.CurrentStreamTitle() == "First Song"; }, 10000));
    EXPECT_EQ(slot.StreamDisplayText(), "First Song");
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    const auto sent = std::chrono::steady_clock::now();
    const uint64_t fileStart = slot.RecordStartTickCount();
    ASSERT_TRUE(server.SetTitle(mount, "Rock 'n' Roll"));
    ASSERT_TRUE(WaitUntil([&] { return slot.CurrentStreamTitle() == "Rock 'n' Roll"; }, 10000));
    const double arrival =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    // An Ogg title change is a new chained stream, which the decoder does not follow yet: the
    // stream ends and the title comes with the reconnection (a known limit).
    if (!ogg) {
      EXPECT_LT(arrival, 1.5);
    }
    (void)fileStart;

    // The server goes away: "Reconnecting...", then the connection error; it comes back.
    server.Stop();
    ASSERT_TRUE(WaitUntil([&] { return slot.StreamChannel() == 0; }, 20000));
    ASSERT_TRUE(WaitUntil(
        [&] { return slot.StreamStatus().find("(BASS error 32)") != std::string::npos; }, 10000))
        << slot.StreamStatus();
    EXPECT_EQ(LogCount("Reconnecting..."), ogg ? 2 : 1);
    ASSERT_TRUE(server.Start()) << server.Error();
    ASSERT_TRUE(server.StartSource(mount));
    const auto back = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntil([&] { return slot.StreamChannel() != 0; }, 10000));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - back).count(), 3.0);

    const std::string file = slot.CurrentFilename();
    slot.StopRecording();
    slot.CloseCurrentRecording(false);
    std::ifstream cue(file + ".cue");
    std::stringstream text;
    text << cue.rdbuf();
    EXPECT_NE(text.str().find("TITLE \"First Song\""), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("TITLE \"Rock 'n' Roll\""), std::string::npos) << text.str();
    const auto audio = test::DecodeAudio(file);
    EXPECT_GT(audio.Seconds(), 3.0);
    slot_.reset();
  }
}

}  // namespace
}  // namespace velloran::slots
