// The casting functions of the facade on a pulled mixer with a real lame: their error codes, a
// cast whose server goes away (notification, IsActive), the stream server's port and its
// listener limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "audio/bass.h"
#include "audio/encode/BassEncode.h"
#include "audio/encode/StreamServer.h"
#include "support/IcecastServer.h"
#include "support/IcyListener.h"
#include "support/RawHttp.h"
#include "support/TempDir.h"

// libshout 2.4 drops the data still queued for a connection that is closed after its server
// went away without freeing it (a library leak the leak checker would report at exit).
extern "C" const char* __lsan_default_suppressions() {
  return "leak:shout_queue_data\n";
}

namespace velloran::audio {
namespace {

constexpr DWORD kRate = 44100;
constexpr DWORD kBlockBytes = kRate / 20 * 2 * sizeof(float);
constexpr DWORD kStreamFlags = 0x80041205u;
constexpr const char* kLame = "\"lame\" --flush -r -s 44100  -b 128 -m s  - -";

struct Notified {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<DWORD> statuses;
  static void Proc(HENCODE, DWORD status, void* user) {
    auto* self = static_cast<Notified*>(user);
    std::lock_guard lock(self->mutex);
    self->statuses.push_back(status);
    self->cv.notify_all();
  }
};

class BassCastTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mixer_ = BASS_Mixer_StreamCreate(kRate, 2,
                                     BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE | BASS_MIXER_NONSTOP);
    ASSERT_NE(mixer_, 0u);
    BASS_SetConfig(BASS_CONFIG_ENCODE_PRIORITY, static_cast<DWORD>(-2000));
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 3000);
  }
  void TearDown() override { BASS_StreamFree(mixer_); }
  void Pull(double seconds) {
    std::vector<float> buffer(kBlockBytes / sizeof(float));
    for (int i = 0; i < static_cast<int>(seconds * 20); ++i) {
      BASS_ChannelGetData(mixer_, buffer.data(), kBlockBytes);
    }
  }
  HENCODE StartLame() { return BASS_Encode_Start(mixer_, kLame, kStreamFlags, nullptr, nullptr); }

  test::TempDir dir_;
  HSTREAM mixer_ = 0;
};

TEST_F(BassCastTest, ErrorCodes) {
  EXPECT_FALSE(BASS_Encode_CastInit(12345, "h:8000/x", "pw", "", "", "", "", "", "", 128, 0));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);

  const std::string wav = dir_.File("x.wav");
  const HENCODE file = BASS_Encode_Start(mixer_, wav.c_str(), BASS_ENCODE_PCM, nullptr, nullptr);
  ASSERT_NE(file, 0u);
  EXPECT_FALSE(BASS_Encode_CastInit(file, "h:8000/x", "pw", "", "", "", "", "", "", 128, 0));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
  EXPECT_EQ(BASS_Encode_ServerInit(file, ":0", 40000, 4000, 2, nullptr, nullptr), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
  BASS_Encode_Stop(file);

  const HENCODE h = StartLame();
  ASSERT_NE(h, 0u);
  EXPECT_FALSE(BASS_Encode_CastInit(h, "no-port/x", "pw", "", "", "", "", "", "", 128, 0));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
  const std::string closed = "127.0.0.1:" + std::to_string(test::FreeLoopbackPort()) + "/x";
  EXPECT_FALSE(BASS_Encode_CastInit(h, closed.c_str(), "pw", "", "", "", "", "", "", 128, 0));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
  EXPECT_FALSE(BASS_Encode_CastSetTitle(h, "t", nullptr));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);

  const DWORD port = BASS_Encode_ServerInit(h, "127.0.0.1:0", 40000, 4000, 2, nullptr, nullptr);
  EXPECT_NE(port, 0u);
  EXPECT_EQ(BASS_Encode_ServerInit(h, "127.0.0.1:0", 40000, 4000, 2, nullptr, nullptr), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
  EXPECT_TRUE(BASS_Encode_CastSetTitle(h, "t", nullptr));
  EXPECT_EQ(BASS_Encode_IsActive(h), DWORD{BASS_ACTIVE_PLAYING});
  {
    test::IcyListener listener(static_cast<int>(port), "/", false);
    Pull(2.0);
    for (int i = 0; i < 100 && listener.AudioBytes() == 0; ++i) {
      Pull(0.5);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_GT(listener.AudioBytes(), 0u);
  }
  ASSERT_TRUE(BASS_Encode_Stop(h));
}

TEST_F(BassCastTest, LostServerNotifiesAndStopsBeingActive) {
  test::IcecastServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  const HENCODE h = StartLame();
  ASSERT_NE(h, 0u);
  Notified notified;
  ASSERT_TRUE(BASS_Encode_SetNotify(h, &Notified::Proc, &notified));
  const std::string address = "127.0.0.1:" + std::to_string(server.Port()) + "/cast.mp3";
  const std::string wrong = std::string("source:") + "nope";
  EXPECT_FALSE(BASS_Encode_CastInit(h, address.c_str(), wrong.c_str(), "audio/mpeg", "n", "", "",
                                    "", "", 128, 0));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_CAST_DENIED);
  ASSERT_TRUE(BASS_Encode_CastInit(h, address.c_str(), test::IcecastServer::kPassword, "audio/mpeg",
                                   "Name", "http://example.org", "Genre", "Desc",
                                   "icy-aim:a\r\nicy-irc:i\r\nicy-icq:q\r\n", 128,
                                   BASS_ENCODE_CAST_PUBLIC));
  EXPECT_FALSE(BASS_Encode_CastInit(h, address.c_str(), test::IcecastServer::kPassword, "", "", "",
                                    "", "", "", 128, 0));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
  Pull(2.0);
  for (int i = 0; i < 100 && !server.MountLive("/cast.mp3"); ++i) {
    Pull(0.2);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(server.MountLive("/cast.mp3"));
  EXPECT_EQ(BASS_Encode_IsActive(h), DWORD{BASS_ACTIVE_PLAYING});

  server.Stop();
  std::unique_lock lock(notified.mutex);
  for (int i = 0; i < 200; ++i) {
    if (std::find(notified.statuses.begin(), notified.statuses.end(), DWORD{2}) !=
        notified.statuses.end()) {
      break;
    }
    lock.unlock();
    Pull(0.2);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    lock.lock();
  }
  EXPECT_NE(
      std::find(notified.statuses.begin(), notified.statuses.end(), DWORD{BASS_ENCODE_NOTIFY_CAST}),
      notified.statuses.end());
  lock.unlock();
  EXPECT_EQ(BASS_Encode_IsActive(h), DWORD{BASS_ACTIVE_STOPPED});
  ASSERT_TRUE(BASS_Encode_Stop(h));
}

TEST_F(BassCastTest, StreamServerTurnsAwayListenersBeyondItsLimit) {
  const HENCODE h = StartLame();
  ASSERT_NE(h, 0u);
  const DWORD port = BASS_Encode_ServerInit(h, "127.0.0.1:0", 40000, 4000, 2, nullptr, nullptr);
  ASSERT_NE(port, 0u);
  const auto server = FindEncoder(h)->FindOutlet<StreamServer>();
  ASSERT_TRUE(server);
  const std::string get = "GET / HTTP/1.0\r\n\r\n";
  std::vector<int> listeners;
  for (int i = 0; i < StreamServer::kMaxListeners; ++i) {
    const int fd = test::ConnectLoopback(static_cast<uint16_t>(port));
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(test::SendAll(fd, get));
    listeners.push_back(fd);
  }
  for (int i = 0; i < 200 && server->Listeners() < StreamServer::kMaxListeners; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(server->Listeners(), StreamServer::kMaxListeners);
  const auto full = test::RawRequest(static_cast<uint16_t>(port), get);
  EXPECT_EQ(full.status, 503);
  EXPECT_NE(full.body.find("Server full"), std::string::npos) << full.raw;

  // A place that comes free is taken by the next listener.
  close(listeners.back());
  listeners.pop_back();
  // (The server notices the closed connection when it next sends audio.)
  for (int i = 0; i < 200 && server->Listeners() >= StreamServer::kMaxListeners; ++i) {
    Pull(0.2);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_LT(server->Listeners(), StreamServer::kMaxListeners);
  {
    test::IcyListener next(static_cast<int>(port), "/", false);
    for (int i = 0; i < 200 && next.Status() == 0; ++i) {
      Pull(0.2);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(next.Status(), 200);
  }
  for (const int fd : listeners) {
    close(fd);
  }
  ASSERT_TRUE(BASS_Encode_Stop(h));
}

}  // namespace
}  // namespace velloran::audio
