// A stream slot against a private Icecast2 server fed by ffmpeg: titles into the cue sheet,
// the server going away and coming back, and a URL nobody listens on. Real time throughout:
// the network is the clock here.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/bass.h"
#include "core/BassErrorText.h"
#include "core/Clock.h"
#include "core/ConfigFile.h"
#include "slots/TSlotInfo.h"
#include "support/AudioDecode.h"
#include "support/IcecastServer.h"
#include "support/LoopbackHttpServer.h"
#include "support/RealTimeSlotTest.h"
#include "support/ServerProcess.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"

namespace velloran::slots {
namespace {

using velloran::test::WaitUntil;

// The time of the INDEX 01 line after the line holding title, in milliseconds; -1 when none.
int64_t IndexAfter(const std::string& cue, const std::string& title) {
  const size_t at = cue.find(title);
  const size_t index = cue.find("INDEX 01 ", at);
  int minutes = 0;
  int seconds = 0;
  int frames = 0;
  if (at == std::string::npos || index == std::string::npos ||
      std::sscanf(cue.c_str() + index, "INDEX 01 %d:%d:%d", &minutes, &seconds, &frames) != 3) {
    return -1;
  }
  return (minutes * 60 + seconds) * 1000LL + frames * 1000LL / 75;
}

// The longest run of silent frames, in seconds, from the first sound up to frame end.
double LongestSilence(const test::DecodedAudio& audio, size_t end) {
  const size_t frames = std::min(end, audio.samples.size() / audio.channels);
  size_t longest = 0;
  size_t run = 0;
  bool sounded = false;
  for (size_t f = 0; f < frames; ++f) {
    bool silent = true;
    for (size_t c = 0; c < audio.channels; ++c) {
      silent = silent && std::abs(audio.samples[f * audio.channels + c]) < 64;
    }
    sounded = sounded || !silent;
    run = silent && sounded ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return static_cast<double>(longest) / audio.sampleRate;
}

class StreamSlotTest : public test::RealTimeSlotTest {
 protected:
  void SetUp() override {
    // The default: Icecast holds an Ogg stream back for about two seconds when it starts the next
    // chained stream at a title change, so a shorter read time-out would cut it.
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 5000);
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
  }

  TSlotInfo& MakeSlot(const std::string& url) {
    return StartSlot("[Slot0]\nName=Radio\nSource=Stream\nStreamURL=" + url +
                     "\nFormat=wav16\nSampleRate=44100\nCueSheet=on\nFlatFilenames=on\nFolder=" +
                     dir_.File("rec") + "\n");
  }
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
    const uint64_t sent = TickCount64();
    ASSERT_TRUE(server.SetTitle(mount, "Rock 'n' Roll"));
    // An Ogg title comes with the next chained stream, which the server sends after re-muxing
    // the source's pages (about two seconds); the stream goes on without a reconnection.
    const uint64_t allowedMs = ogg ? 3000 : 1000;
    ASSERT_TRUE(WaitUntil([&] { return slot.CurrentStreamTitle() == "Rock 'n' Roll"; }, 10000));
    const uint64_t fileStart = slot.RecordStartTickCount();
    const int64_t sentInFileMs = static_cast<int64_t>(sent - fileStart);
    EXPECT_EQ(LogCount("Reconnecting..."), 0);

    // The server goes away: "Reconnecting...", then the connection error; it comes back.
    const uint64_t stopped = TickCount64();
    server.Stop();
    ASSERT_TRUE(WaitUntil([&] { return slot.StreamChannel() == 0; }, 20000));
    ASSERT_TRUE(WaitUntil(
        [&] { return slot.StreamStatus().find("(BASS error 32)") != std::string::npos; }, 10000))
        << slot.StreamStatus();
    EXPECT_EQ(LogCount("Reconnecting..."), 1);
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
    // The index of the title is the time it was sent into the file.
    const int64_t indexMs = IndexAfter(text.str(), "TITLE \"Rock 'n' Roll\"");
    ASSERT_GE(indexMs, 0) << text.str();
    EXPECT_GE(indexMs, sentInFileMs - 20) << text.str();  // an index counts whole frames
    EXPECT_LT(indexMs, sentInFileMs + static_cast<int64_t>(allowedMs)) << text.str();
    // The tone goes on without a gap from its first sound until the server stopped, across the
    // title change.
    const auto audio = test::DecodeAudio(file);
    ASSERT_GT(audio.Seconds(), 3.0);
    EXPECT_LT(LongestSilence(audio, (stopped - fileStart) * audio.sampleRate / 1000), 0.05);
    slot_.reset();
  }
}

TEST_F(StreamSlotTest, MisbehavingServerGetsItsStatusAndIsRetried) {
  BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 1000);
  ASSERT_EQ(test::RunCommand({"ffmpeg", "-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                              "sine=frequency=440:sample_rate=44100:duration=4", "-ac", "2", "-c:a",
                              "libmp3lame", "-b:a", "128k", dir_.File("tone.mp3")},
                             {}, 30000),
            0);
  std::ifstream in(dir_.File("tone.mp3"), std::ios::binary);
  std::stringstream file;
  file << in.rdbuf();
  const std::string mp3 = file.str();
  constexpr size_t kBytesPerSecond = 128000 / 8;
  const std::string headers = "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n";

  test::LoopbackHttpServer server;
  // Audio at about the pace it plays; false when the server stops.
  const auto play = [&](int fd, size_t bytes) {
    for (size_t at = 0; at < bytes && !server.Stopping(); at += kBytesPerSecond / 4) {
      if (!test::LoopbackHttpServer::SendAll(
              fd, mp3.substr(at % mp3.size(), kBytesPerSecond / 4).substr(0, bytes - at))) {
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
  };
  const auto stall = [&] {
    while (!server.Stopping()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  };
  // One misbehaviour per connection, then a server that behaves.
  std::atomic<int> connection{0};
  server.Route("/radio", [&](int fd) {
    switch (connection++) {
      case 0:  // audio, then the connection closes in the middle of a frame
        test::LoopbackHttpServer::SendAll(fd, headers);
        play(fd, 2 * kBytesPerSecond + 317);
        return;
      case 1:  // audio, then nothing more
        test::LoopbackHttpServer::SendAll(fd, headers);
        play(fd, 2 * kBytesPerSecond);
        stall();
        return;
      case 2:  // a redirect that leads round in a circle
        test::LoopbackHttpServer::SendAll(fd, "HTTP/1.0 302 Found\r\nLocation: /loop\r\n\r\n");
        return;
      case 3:  // the headers, then nothing
        test::LoopbackHttpServer::SendAll(fd, headers);
        stall();
        return;
      default:
        test::LoopbackHttpServer::SendAll(fd, headers);
        play(fd, 3600 * kBytesPerSecond);
    }
  });
  server.Route("/loop", [](int fd) {
    test::LoopbackHttpServer::SendAll(fd, "HTTP/1.0 302 Found\r\nLocation: /radio2\r\n\r\n");
  });
  server.Route("/radio2", [](int fd) {
    test::LoopbackHttpServer::SendAll(fd, "HTTP/1.0 302 Found\r\nLocation: /loop\r\n\r\n");
  });
  ASSERT_TRUE(server.Start());

  const std::string url = server.Url("/radio");
  TSlotInfo& slot = MakeSlot(url);
  const auto statusLines = [&] {
    std::vector<std::string> lines;
    std::lock_guard lock(logMutex_);
    for (const std::string& line : log_) {
      const size_t at = line.find("Stream " + url + ": ");
      if (at != std::string::npos) {
        lines.push_back(line.substr(at + url.size() + 9));
      }
    }
    return lines;
  };
  ASSERT_TRUE(WaitUntil([&] { return statusLines().size() >= 8; }, 60000)) << slot.StreamStatus();
  // Each change of status logged once, the error texts in the order the faults came.
  const std::vector<std::string> expected = {"Connecting...",
                                             "connected",
                                             "Reconnecting...",
                                             "connected",
                                             "Reconnecting...",
                                             BassErrorText(BASS_ERROR_FILEOPEN),
                                             BassErrorText(BASS_ERROR_TIMEOUT),
                                             "connected"};
  EXPECT_EQ(statusLines(), expected);
  slot.StopRecording();
}

}  // namespace
}  // namespace velloran::slots
