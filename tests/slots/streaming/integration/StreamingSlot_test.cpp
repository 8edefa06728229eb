// Outgoing streaming of a slot recording the generator tone in real time: a private Icecast2
// server (Icecast over HTTP and its Shoutcast-compatible source port), listeners that ask for
// ICY metadata, and the slot's own stream server. The network is the clock here.
#include <gtest/gtest.h>
#include <strings.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "audio/bass.h"
#include "audio/devices/DeviceCatalogue.h"
#include "audio/encode/BassEncode.h"
#include "audio/encode/StreamServer.h"
#include "core/ConfigFile.h"
#include "slots/TSlotInfo.h"
#include "support/AudioDecode.h"
#include "support/IcecastServer.h"
#include "support/IcyListener.h"
#include "support/RealTimeSlotTest.h"
#include "support/ShoutcastV2Peer.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"

// libshout 2.4 drops the data still queued for a connection that is closed after its server
// went away without freeing it (a library leak the leak checker would report at exit).
extern "C" const char* __lsan_default_suppressions() {
  return "leak:shout_queue_data\n";
}

namespace velloran::slots {
namespace {

// The TITLE fields of every Vorbis comment header in an Ogg stream (a server that changes the
// title of an Ogg mount starts a new logical stream with a new comment header).
std::vector<std::string> OggTitles(const std::string& ogg) {
  std::vector<std::string> titles;
  auto u32 = [&](size_t at) {
    return at + 4 > ogg.size()
               ? 0u
               : static_cast<uint32_t>(static_cast<uint8_t>(ogg[at])) |
                     static_cast<uint32_t>(static_cast<uint8_t>(ogg[at + 1])) << 8 |
                     static_cast<uint32_t>(static_cast<uint8_t>(ogg[at + 2])) << 16 |
                     static_cast<uint32_t>(static_cast<uint8_t>(ogg[at + 3])) << 24;
  };
  for (size_t at = ogg.find("\x03vorbis"); at != std::string::npos;
       at = ogg.find("\x03vorbis", at + 1)) {
    size_t p = at + 7;
    p += 4 + u32(p);  // vendor
    const uint32_t count = u32(p);
    p += 4;
    for (uint32_t i = 0; i < count && p + 4 <= ogg.size(); ++i) {
      const uint32_t length = u32(p);
      const std::string field = ogg.substr(p + 4, length);
      p += 4 + length;
      if (field.size() > 6 && strncasecmp(field.c_str(), "title=", 6) == 0) {
        titles.push_back(field.substr(6));
      }
    }
  }
  return titles;
}

// The Ogg stream from its last beginning-of-stream page on.
std::string LastOggChain(const std::string& ogg) {
  for (size_t at = ogg.rfind("OggS"); at != std::string::npos && at > 0;
       at = ogg.rfind("OggS", at - 1)) {
    if (at + 5 < ogg.size() && (ogg[at + 5] & 0x02) != 0) {
      return ogg.substr(at);
    }
  }
  return ogg;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

using velloran::test::WaitUntil;

class StreamingSlotTest : public test::RealTimeSlotTest {
 protected:
  static void SetUpTestSuite() {
    if (catalogue_ == nullptr) {
      BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1);
      ConfigFile empty("/nonexistent/Velloran.ini");
      catalogue_ = audio::BuildDeviceCatalogue(empty).release();
    }
  }
  void SetUp() override { BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 3000); }

  // Slot 0 recording the generator tone; lines add the streaming keys.
  TSlotInfo& MakeSlot(const std::string& lines) {
    return StartSlot(
        "[Slot0]\nName=Cast\nSource=Soundcard\nDevice=GEN:tone\nSampleRate=44100\n"
        "Bitrate=128\nFolder=" +
            Folder() + "\nStreamingEnabled=on\nStreamingTitleFilename=" + TitleFile() + "\n" +
            lines,
        catalogue_);
  }
  std::string Folder() const { return dir_.Path().string() + "/rec"; }
  std::string TitleFile() const { return dir_.File("title.txt"); }
  void WriteTitle(const std::string& bytes) {
    std::ofstream(TitleFile(), std::ios::binary) << bytes;
    // Written a while ago (the title poll leaves a file alone that is still being written),
    // and a new modification time for every write, as the poll compares it.
    static int writes = 0;
    std::filesystem::last_write_time(TitleFile(), std::filesystem::file_time_type::clock::now() -
                                                      std::chrono::seconds(2) +
                                                      std::chrono::milliseconds(++writes));
  }
  bool Connected(TSlotInfo& slot, int ms = 15000) {
    return WaitUntil([&] { return slot.StreamingStatus() == ssConnected; }, ms);
  }
  // A listener's audio decodes to the generator's 1 kHz tone.
  void ExpectTone(const std::string& heard, const std::string& extension) {
    const std::string file = dir_.File("heard" + std::to_string(heard_++) + extension);
    std::ofstream(file, std::ios::binary) << heard;
    const auto audio = test::DecodeAudio(file);
    ASSERT_GT(audio.Seconds(), 1.0) << file;
    const size_t frames = audio.samples.size() / audio.channels;
    EXPECT_GT(test::ToneShare(audio.samples, audio.channels, 0, audio.sampleRate, 1000.0,
                              frames / 4, frames),
              0.9);
  }
  bool RecordingFilesWritten() const {
    if (!std::filesystem::exists(Folder())) {
      return false;
    }
    for (const auto& e : std::filesystem::recursive_directory_iterator(Folder())) {
      if (e.is_regular_file()) {
        return true;
      }
    }
    return false;
  }

  static inline audio::DeviceCatalogue* catalogue_ = nullptr;
  int heard_ = 0;
};

TEST_F(StreamingSlotTest, StreamsMp3AndOggToIcecastWithTitlesFromTheTitleFile) {
  test::IcecastServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  const std::string port = std::to_string(server.Port());
  struct Case {
    std::string format, mount, extension;
  };
  for (const Case& c : {Case{"mp3", "out.mp3", ".mp3"}, Case{"ogg", "/out.ogg", ".ogg"}}) {
    SCOPED_TRACE(c.format);
    WriteTitle("First Title\r\nsecond line is not sent\r\n");
    TSlotInfo& slot =
        MakeSlot("Format=" + c.format +
                 "\nStreamingOnly=on\nStreamingHost=127.0.0.1\nStreamingPort=" + port +
                 "\nStreamingMountPoint=" + c.mount +
                 "\nStreamingPassword=" + test::IcecastServer::kPassword +
                 "\nStreamingTitle=Velloran test\nStreamingGenre=Archive\n"
                 "StreamingDescription=Station log\nStreamingURL=http://example.org/\n");
    slot.UpdateOutgoingStreamTitle();  // what the title timer does every second
    ASSERT_TRUE(Connected(slot)) << slot.StreamingMessage();
    const std::string mount = c.mount[0] == '/' ? c.mount : "/" + c.mount;
    EXPECT_EQ(slot.StreamingMessage(), "127.0.0.1:" + port + mount);
    EXPECT_GE(slot.StreamingActiveSince(), 0);
    EXPECT_EQ(LogCount("Encoder connected to 127.0.0.1:" + port + mount), 1);

    ASSERT_TRUE(WaitUntil([&] { return server.MountLive(mount); }, 10000));
    std::string status;
    test::LoopbackGet(server.Port(), "/status-json.xsl", "", &status);
    for (const std::string& field : std::vector<std::string>{
             "\"server_name\":\"Velloran test\"", "\"genre\":\"Archive\"",
             "\"server_description\":\"Station log\"", "\"server_url\":\"http://example.org/\"",
             "\"server_type\":\"audio/" + std::string(c.format == "mp3" ? "mpeg" : "ogg") + "\""}) {
      EXPECT_NE(status.find(field), std::string::npos) << field << " in " << status;
    }
    test::IcyListener listener(server.Port(), mount, true);
    if (c.format == "mp3") {
      ASSERT_TRUE(WaitUntil([&] { return listener.HasTitle("First Title"); }, 10000));
      // Quotes, semicolons and a line break in a title do not break the metadata framing.
      WriteTitle("Say \"hi\"; it's 5 o'clock\rnext");
      slot.UpdateOutgoingStreamTitle();
      EXPECT_EQ(slot.StreamingCurrentTitle(), "Say \"hi\"; it's 5 o'clock");
      ASSERT_TRUE(
          WaitUntil([&] { return listener.HasTitle("Say \"hi\"; it's 5 o'clock"); }, 10000));
      EXPECT_FALSE(listener.BadMetadata());
    } else {
      // An Ogg mount carries the title in the Vorbis comment header, which the server rebuilds
      // for its listeners on every title update.
      ASSERT_TRUE(
          WaitUntil([&] { return Contains(OggTitles(listener.Audio()), "First Title"); }, 10000));
      WriteTitle("Ogg \"Second\"; title");
      slot.UpdateOutgoingStreamTitle();
      ASSERT_TRUE(WaitUntil(
          [&] { return Contains(OggTitles(listener.Audio()), "Ogg \"Second\"; title"); }, 15000));
      EXPECT_EQ(LogCount("Stream title not accepted"), 0);
    }
    // The audio decodes; for Ogg the last logical stream (each title change chains a new one,
    // and the decoder glitches at the seams).
    auto heard = [&] {
      return c.format == "mp3" ? listener.Audio() : LastOggChain(listener.Audio());
    };
    // A steady tone takes few bits in Vorbis.
    const size_t enough = c.format == "ogg" ? 20000 : 80000;
    ASSERT_TRUE(WaitUntil([&] { return heard().size() > enough; }, 15000))
        << listener.AudioBytes() << " " << listener.Headers();
    ExpectTone(heard(), c.extension);
    // A streaming-only slot writes no recording files.
    slot.CycleEncoder();
    EXPECT_FALSE(RecordingFilesWritten());
    slot_.reset();
    ASSERT_TRUE(WaitUntil([&] { return !server.MountLive(mount); }, 10000));
  }
}

TEST_F(StreamingSlotTest, ForwardsTheIncomingStreamsTitles) {
  test::IcecastServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(server.StartSource("/in.mp3"));
  ASSERT_TRUE(server.SetTitle("/in.mp3", "Incoming One"));
  const std::string port = std::to_string(server.Port());
  TSlotInfo& slot = MakeSlot(
      "Format=mp3\nStreamingOnly=on\nStreamingForwardMetadata=on\n"
      "StreamingHost=127.0.0.1\nStreamingPort=" +
      port + "\nStreamingMountPoint=/fwd.mp3\nStreamingPassword=" + test::IcecastServer::kPassword +
      "\n");
  // The stream input replaces the generator as the source.
  TSlotSettings settings = slot.Settings();
  settings.fRecordSource = rsStream;
  settings.fStreamURL = server.Url("/in.mp3");
  slot.ApplySettings(settings);
  slot.StartRecording();
  WriteTitle("From the file");
  slot.UpdateOutgoingStreamTitle();  // not read at all while titles are forwarded
  EXPECT_EQ(slot.StreamingCurrentTitle(), "");
  ASSERT_TRUE(Connected(slot)) << slot.StreamingMessage();
  ASSERT_TRUE(WaitUntil([&] { return server.MountLive("/fwd.mp3"); }, 10000));
  test::IcyListener listener(server.Port(), "/fwd.mp3", true);
  ASSERT_TRUE(WaitUntil([&] { return listener.HasTitle("Incoming One"); }, 15000));
  ASSERT_TRUE(server.SetTitle("/in.mp3", "Incoming Two"));
  ASSERT_TRUE(WaitUntil([&] { return listener.HasTitle("Incoming Two"); }, 15000));
  EXPECT_FALSE(listener.HasTitle("From the file"));
}

TEST_F(StreamingSlotTest, WrongPasswordIsAnErrorRetriedFiveSecondsLater) {
  test::IcecastServer server;
  server.SetShoutcastMount("/sc.mp3");
  ASSERT_TRUE(server.Start()) << server.Error();
  // An Icecast mount, and Icecast's Shoutcast v1 source port.
  for (const std::string mount : {"StreamingMountPoint=/live\n", ""}) {
    SCOPED_TRACE(mount);
    TSlotInfo& slot = MakeSlot(
        "Format=mp3\nStreamingHost=127.0.0.1\nStreamingPort=" + std::to_string(server.Port()) +
        "\nStreamingPassword=wrong\n" + mount);
    ASSERT_TRUE(WaitUntil([&] { return slot.StreamingStatus() == ssError; }, 10000));
    EXPECT_EQ(slot.StreamingMessage(), "access denied (invalid password) (BASS error 2100)");
    EXPECT_EQ(slot.StreamingActiveSince(), -1);
    EXPECT_EQ(LogCount("Encoder connection error: access denied (invalid password) (BASS error "
                       "2100)"),
              1);
    // No new attempt at once; the next one comes after the pause.
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    EXPECT_EQ(LogCount("Encoder connection error"), 1);
    ASSERT_TRUE(WaitUntil([&] { return LogCount("Encoder connection error") == 2; }, 10000));
    slot_.reset();
    log_.clear();
  }
}

// libshout reports every refused login alike; the slot still tells a full server and a mount
// in use from a wrong password, by the server's own answer.
TEST_F(StreamingSlotTest, AFullServerOrAMountInUseIsNotAWrongPassword) {
  struct Case {
    const char* what;
    int sources;
    std::string mount, answer;
  };
  const Case cases[] = {
      {"server full", 1, "/mine.mp3", "403 Forbidden: too many sources connected"},
      {"mount in use", 8, "/busy.mp3", "403 Forbidden: Mountpoint in use"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::IcecastServer server;
    server.SetSourceLimit(c.sources);
    ASSERT_TRUE(server.Start()) << server.Error();
    ASSERT_TRUE(server.StartSource("/busy.mp3"));
    TSlotInfo& slot = MakeSlot("Format=mp3\nStreamingHost=127.0.0.1\nStreamingPort=" +
                               std::to_string(server.Port()) + "\nStreamingMountPoint=" + c.mount +
                               "\nStreamingPassword=" + test::IcecastServer::kPassword + "\n");
    ASSERT_TRUE(WaitUntil([&] { return slot.StreamingStatus() == ssError; }, 10000));
    const std::string message = "the server refused the stream: " + c.answer + " (BASS error -1)";
    EXPECT_EQ(slot.StreamingMessage(), message);
    EXPECT_EQ(LogCount("Encoder connection error: " + message), 1) << LogText();
    EXPECT_EQ(LogCount("invalid password"), 0);
    // Tried again after the pause, with the same answer while the cause lasts.
    ASSERT_TRUE(WaitUntil([&] { return LogCount("Encoder connection error") == 2; }, 10000));
    EXPECT_EQ(LogCount("Encoder connection error: " + message), 2);
    slot_.reset();
    log_.clear();
  }
}

// Icecast takes no title updates for an Ogg Opus mount (it answers "Mountpoint will not accept
// URL updates"): the stream goes on and the refusal is logged once.
TEST_F(StreamingSlotTest, ATitleTheServerRefusesIsLoggedOnce) {
  test::IcecastServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  WriteTitle("Opus One");
  TSlotInfo& slot = MakeSlot(
      "Format=customraw\nEncoderFilename=ffmpeg\nEncoderOptions=-hide_banner -loglevel error "
      "-f s16le -ar 44100 -ac 2 -i - -c:a libopus -b:a 96k -f ogg $FILENAME\n"
      "StreamingOnly=on\nStreamingMimeType=audio/ogg\nStreamingHost=127.0.0.1\nStreamingPort=" +
      std::to_string(server.Port()) +
      "\nStreamingMountPoint=/op.opus\nStreamingPassword=" + test::IcecastServer::kPassword + "\n");
  slot.UpdateOutgoingStreamTitle();
  ASSERT_TRUE(Connected(slot)) << slot.StreamingMessage() << LogText();
  const std::string line =
      "Stream title not accepted by the server: Mountpoint will not accept URL updates";
  ASSERT_TRUE(WaitUntil([&] { return LogCount(line) == 1; }, 30000)) << LogText();
  WriteTitle("Opus Two");
  slot.UpdateOutgoingStreamTitle();
  test::IcyListener listener(server.Port(), "/op.opus", false);
  ASSERT_TRUE(WaitUntil([&] { return listener.AudioBytes() > 10000; }, 15000));
  EXPECT_EQ(slot.StreamingStatus(), ssConnected);
  EXPECT_EQ(LogCount("Stream title not accepted"), 1);
}

TEST_F(StreamingSlotTest, ConnectionErrorsGiveTheLibrarysText) {
  const std::string closedPort = std::to_string(test::FreeLoopbackPort());
  struct Case {
    std::string lines, message;
  };
  const Case cases[] = {
      {"Format=mp3\nStreamingMountPoint=/live\nStreamingPort=" + closedPort,
       "can't open the file (BASS error 2)"},
      {"Format=mp3\nEncoderFilename=/nonexistent/lame\nStreamingPort=" + closedPort,
       "can't open the file (BASS error 2)"},
      {"Format=mp3\nStreamingServerMode=on\nStreamingHost=not-an-address\nStreamingPort=8000",
       "an illegal parameter was specified (BASS error 20)"},
      {"Format=wav16\nStreamingMountPoint=/live\nStreamingPort=" + closedPort,
       "requested data is not available (BASS error 37)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    TSlotInfo& slot = MakeSlot(c.lines + "\nStreamingHost=127.0.0.1\n");
    ASSERT_TRUE(WaitUntil([&] { return slot.StreamingStatus() == ssError; }, 10000))
        << slot.StreamingStatus() << " " << slot.StreamingMessage() << LogText();
    EXPECT_EQ(slot.StreamingMessage(), c.message);
    EXPECT_EQ(slot.StreamingEncoder(), 0u);
    slot_.reset();
  }
}

TEST_F(StreamingSlotTest, ReconnectsAfterTheServerRestartsAndDisconnectsWhenSwitchedOff) {
  test::IcecastServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  TSlotInfo& slot = MakeSlot(
      "Format=mp3\nStreamingHost=127.0.0.1\nStreamingPort=" + std::to_string(server.Port()) +
      "\nStreamingMountPoint=/live.mp3\nStreamingPassword=" + test::IcecastServer::kPassword +
      "\n");
  ASSERT_TRUE(Connected(slot)) << slot.StreamingMessage();

  server.Stop();
  ASSERT_TRUE(WaitUntil([&] { return LogCount("Encoder lost connection") == 1; }, 30000));
  EXPECT_NE(slot.StreamingStatus(), ssConnected);
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(Connected(slot, 20000)) << slot.StreamingMessage();
  ASSERT_TRUE(WaitUntil([&] { return server.MountLive("/live.mp3"); }, 10000));

  slot.SetEnabled(false);  // the Stop command
  ASSERT_TRUE(WaitUntil([&] { return slot.StreamingStatus() == ssDisabled; }, 3000));
  EXPECT_EQ(slot.StreamingMessage(), "");
  EXPECT_EQ(slot.StreamingEncoder(), 0u);
  EXPECT_EQ(LogCount("Encoder disconnected"), 1);
  ASSERT_TRUE(WaitUntil([&] { return !server.MountLive("/live.mp3"); }, 10000));
}

TEST_F(StreamingSlotTest, ShoutcastV1SourceOnIcecastsCompatiblePort) {
  test::IcecastServer server;
  server.SetShoutcastMount("/sc.mp3");
  ASSERT_TRUE(server.Start()) << server.Error();
  TSlotInfo& slot = MakeSlot(
      "Format=mp3\nStreamingOnly=on\nStreamingHost=127.0.0.1\n"
      "StreamingPort=" +
      std::to_string(server.Port()) + "\nStreamingPassword=" + test::IcecastServer::kPassword +
      "\n");
  ASSERT_TRUE(Connected(slot)) << slot.StreamingMessage();
  EXPECT_EQ(slot.StreamingMessage(), "127.0.0.1:" + std::to_string(server.Port()));
  ASSERT_TRUE(WaitUntil([&] { return server.MountLive("/sc.mp3"); }, 10000)) << LogText();
  test::IcyListener listener(server.Port(), "/sc.mp3", false);
  ASSERT_TRUE(WaitUntil([&] { return listener.AudioBytes() > 80000; }, 15000))
      << listener.AudioBytes() << " " << listener.Headers() << LogText();
  ExpectTone(listener.Audio(), ".mp3");
}

// No Shoutcast v2 server can run here: a scripted stand-in checks what the source sends for
// the "host:port,sid" form and takes the audio and the title call.
TEST_F(StreamingSlotTest, ShoutcastV2SourceLogsInWithItsStreamId) {
  test::ShoutcastV2Peer peer(std::string(test::IcecastServer::kPassword) + ":#2");
  ASSERT_TRUE(peer.Listening());
  WriteTitle("V2 Title; \"quoted\"");
  const std::string port = std::to_string(peer.Port());
  TSlotInfo& slot = MakeSlot(
      "Format=mp3\nStreamingOnly=on\nStreamingHost=127.0.0.1\nStreamingPort=" + port +
      "\nStreamingStreamID=2\nStreamingPassword=" + test::IcecastServer::kPassword +
      "\nStreamingTitle=Velloran v2\nStreamingGenre=Test\nStreamingURL=http://example.org/\n"
      "StreamingAIM=aim1\nStreamingIRC=irc1\nStreamingICQ=icq1\nStreamingPublic=on\n");
  slot.UpdateOutgoingStreamTitle();
  ASSERT_TRUE(Connected(slot)) << slot.StreamingMessage() << LogText();
  EXPECT_EQ(slot.StreamingMessage(), "127.0.0.1:" + port + ",2");
  EXPECT_EQ(peer.LoginLine(), std::string(test::IcecastServer::kPassword) + ":#2");
  ASSERT_TRUE(WaitUntil([&] { return peer.AudioBytes() > 80000; }, 15000)) << LogText();
  const auto headers = peer.HeaderLines();
  for (const char* line :
       {"icy-name:Velloran v2", "icy-genre:Test", "icy-url:http://example.org/", "icy-pub:1",
        "icy-br:128", "icy-aim:aim1", "icy-irc:irc1", "icy-icq:icq1"}) {
    EXPECT_TRUE(Contains(headers, line)) << line;
  }
  ExpectTone(peer.Audio(), ".mp3");
  const std::string title = "/admin.cgi?sid=2&pass=" + std::string(test::IcecastServer::kPassword) +
                            "&mode=updinfo&song=V2%20Title%3B%20%22quoted%22";
  ASSERT_TRUE(WaitUntil([&] { return Contains(peer.AdminRequests(), title); }, 10000))
      << (peer.AdminRequests().empty() ? "" : peer.AdminRequests().back());
}

// A Shoutcast server that stops reading the stream, and then takes new connections but never
// answers them, holds up neither the recording nor the slot: the connection is given up, new
// attempts end with a time-out, and switching the slot off takes effect at once.
TEST_F(StreamingSlotTest, AServerThatHangsHoldsUpNothing) {
  test::ShoutcastV2Peer peer(test::IcecastServer::kPassword, true);
  ASSERT_TRUE(peer.Listening());
  TSlotInfo& slot =
      MakeSlot("Format=mp3\nStreamingHost=127.0.0.1\nStreamingPort=" + std::to_string(peer.Port()) +
               "\nStreamingPassword=" + test::IcecastServer::kPassword + "\n");
  slot.CycleEncoder();  // the recording file
  ASSERT_TRUE(Connected(slot)) << slot.StreamingMessage() << LogText();
  ASSERT_TRUE(WaitUntil([&] { return LogCount("Encoder lost connection") == 1; }, 90000))
      << LogText();
  ASSERT_TRUE(WaitUntil(
      [&] {
        return LogCount("Encoder connection error: connection timedout (BASS error 40)") == 1;
      },
      15000))
      << LogText();
  auto recorded = [&] {
    uintmax_t bytes = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(Folder())) {
      bytes += e.is_regular_file() ? e.file_size() : 0;
    }
    return bytes;
  };
  const uintmax_t before = recorded();
  ASSERT_TRUE(WaitUntil([&] { return recorded() > before + 16000; }, 10000));
  slot.SetEnabled(false);
  ASSERT_TRUE(WaitUntil([&] { return slot.StreamingStatus() == ssDisabled; }, 8000)) << LogText();
}

// The title file is replaced (a new file renamed over it) and rewritten in place (truncated,
// then written in two parts), as UTF-16 without a byte-order mark, while the title timer polls:
// the listener only ever sees whole titles.
TEST_F(StreamingSlotTest, TitleFileRewrittenWhilePolledGivesOnlyWholeTitles) {
  auto utf16 = [](const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
      out += c;
      out += '\0';
    }
    return out;
  };
  test::IcecastServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  WriteTitle(utf16("Whole title 0 end\r\n"));
  TSlotInfo& slot = MakeSlot(
      "Format=mp3\nStreamingOnly=on\nStreamingHost=127.0.0.1\n"
      "StreamingPort=" +
      std::to_string(server.Port()) +
      "\nStreamingMountPoint=/rw.mp3\nStreamingPassword=" + test::IcecastServer::kPassword + "\n");
  slot.UpdateOutgoingStreamTitle();
  ASSERT_TRUE(Connected(slot)) << slot.StreamingMessage();
  ASSERT_TRUE(WaitUntil([&] { return server.MountLive("/rw.mp3"); }, 10000));
  test::IcyListener listener(server.Port(), "/rw.mp3", true);
  ASSERT_TRUE(WaitUntil([&] { return listener.HasTitle("Whole title 0 end"); }, 10000));

  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 1; !stop; ++i) {
      const std::string bytes = utf16("Whole title " + std::to_string(i) + " end\r\n");
      if (i % 2 == 1) {
        const std::string next = TitleFile() + ".new";
        std::ofstream(next, std::ios::binary) << bytes;
        std::filesystem::rename(next, TitleFile());
      } else {
        std::ofstream out(TitleFile(), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), 9);
        out.flush();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        out.write(bytes.data() + 9, static_cast<std::streamsize>(bytes.size() - 9));
      }
      // Now a quick rewrite, now a pause long enough for the poll to take the title.
      std::this_thread::sleep_for(std::chrono::milliseconds(i * 37 % 250));
    }
  });
  // The poll runs far more often than every second here, to meet the writer mid-write.
  for (int polls = 0; polls < 800; ++polls) {
    slot.UpdateOutgoingStreamTitle();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  stop = true;
  writer.join();
  WriteTitle(utf16("Whole title last end"));
  slot.UpdateOutgoingStreamTitle();
  ASSERT_TRUE(WaitUntil([&] { return listener.HasTitle("Whole title last end"); }, 10000));

  const std::regex whole("Whole title ([0-9]+|last) end");
  const auto titles = listener.Titles();
  for (const std::string& title : titles) {
    EXPECT_TRUE(std::regex_match(title, whole)) << "[" << title << "]";
  }
  // The first, the last, and some taken while the writer was busy.
  EXPECT_GE(std::set<std::string>(titles.begin(), titles.end()).size(), 3u);
  EXPECT_FALSE(listener.BadMetadata());
}

// File times are coarse (a few milliseconds): a rewrite in place can end within the tick of a
// poll that read the file half written, leaving the modification time the poll stored. The
// poll leaves a file that fresh alone, so the whole title is read later.
TEST_F(StreamingSlotTest, ATitleFileStillBeingWrittenIsReadOnceWhole) {
  TSlotInfo& slot = MakeSlot(
      "Format=mp3\nStreamingMountPoint=/x\nStreamingHost=127.0.0.1\n"
      "StreamingPort=" +
      std::to_string(test::FreeLoopbackPort()) + "\n");
  WriteTitle("Old title");
  slot.UpdateOutgoingStreamTitle();
  ASSERT_EQ(slot.StreamingCurrentTitle(), "Old title");
  const auto tick = std::filesystem::file_time_type::clock::now();
  std::ofstream(TitleFile(), std::ios::binary | std::ios::trunc) << "New ti";
  std::filesystem::last_write_time(TitleFile(), tick);
  slot.UpdateOutgoingStreamTitle();  // meets the writer halfway
  std::ofstream(TitleFile(), std::ios::binary | std::ios::trunc) << "New title";
  std::filesystem::last_write_time(TitleFile(), tick);  // the same tick
  EXPECT_EQ(slot.StreamingCurrentTitle(), "Old title");
  ASSERT_TRUE(WaitUntil(
      [&] {
        slot.UpdateOutgoingStreamTitle();
        return slot.StreamingCurrentTitle() == "New title";
      },
      3000))
      << slot.StreamingCurrentTitle();
}

TEST_F(StreamingSlotTest, OwnStreamServerServesListenersWithAndWithoutMetadata) {
  const int port = test::FreeLoopbackPort();
  WriteTitle("\xEF\xBB\xBFServer Title");
  TSlotInfo& slot = MakeSlot(
      "Format=mp3\nStreamingOnly=on\nStreamingServerMode=on\n"
      "StreamingHost=127.0.0.1\nStreamingPort=" +
      std::to_string(port) + "\n");
  ASSERT_TRUE(Connected(slot)) << slot.StreamingMessage();
  EXPECT_EQ(slot.StreamingMessage(), "127.0.0.1:" + std::to_string(port));
  slot.UpdateOutgoingStreamTitle();

  test::IcyListener withMeta(port, "/", true);
  test::IcyListener plain(port, "/stream", false);
  test::IcyListener slow(port, "/", false, true);
  ASSERT_TRUE(WaitUntil([&] { return withMeta.HasTitle("Server Title"); }, 15000));
  ASSERT_TRUE(WaitUntil([&] { return plain.AudioBytes() > 80000; }, 15000));
  ASSERT_TRUE(WaitUntil([&] { return withMeta.AudioBytes() > 80000; }, 15000));
  EXPECT_EQ(plain.Status(), 200);
  EXPECT_NE(withMeta.Headers().find("icy-metaint: 8192"), std::string::npos) << withMeta.Headers();
  EXPECT_EQ(plain.Headers().find("icy-metaint"), std::string::npos);
  EXPECT_NE(plain.Headers().find("audio/mpeg"), std::string::npos);
  EXPECT_FALSE(withMeta.BadMetadata());
  ExpectTone(plain.Audio(), ".mp3");
  ExpectTone(withMeta.Audio(), ".mp3");

  // The listener that cannot keep up is dropped; the others go on.
  ASSERT_TRUE(WaitUntil([&] { return slow.Ended(); }, 30000));
  const auto server =
      audio::FindEncoder(slot.StreamingEncoder())->FindOutlet<audio::StreamServer>();
  ASSERT_TRUE(server);
  const size_t before = plain.AudioBytes();
  ASSERT_TRUE(WaitUntil([&] { return plain.AudioBytes() > before + 16000; }, 5000));
  EXPECT_FALSE(plain.Ended());
  EXPECT_EQ(server->Listeners(), 2);
}

}  // namespace
}  // namespace velloran::slots
