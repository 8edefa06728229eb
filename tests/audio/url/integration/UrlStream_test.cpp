// URL streams against scripted servers on loopback: the error codes of bad answers, an ICY
// stream with hostile metadata, a playlist leading to it, and the end notifications.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "audio/bass.h"
#include "audio/engine/HandleTable.h"
#include "audio/url/UrlStream.h"
#include "support/IcecastServer.h"
#include "support/LoopbackHttpServer.h"
#include "support/ServerProcess.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"

namespace velloran::audio::url {
namespace {

using test::LoopbackHttpServer;

constexpr size_t kMetaInt = 8192;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Events {
  std::atomic<int> meta{0};
  std::atomic<int> end{0};
  std::atomic<int> downloadEnd{0};
  std::atomic<uint64_t> bytes{0};
};

void OnSync(HSYNC, DWORD, DWORD, void* user) {
  auto* e = static_cast<Events*>(user);
  ++e->meta;
}
void OnEnd(HSYNC, DWORD, DWORD, void* user) {
  ++static_cast<Events*>(user)->end;
}
void OnDownload(const void* buffer, DWORD length, void* user) {
  auto* e = static_cast<Events*>(user);
  if (buffer == nullptr) {
    ++e->downloadEnd;
  } else {
    e->bytes += length;
  }
}

using velloran::test::WaitUntil;

class UrlStreamTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir();
    ASSERT_EQ(test::RunCommand({"ffmpeg", "-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                                "sine=frequency=440:sample_rate=44100:duration=6", "-ac", "2",
                                "-c:a", "libmp3lame", "-b:a", "128k", dir_->File("tone.mp3")},
                               {}, 30000),
              0);
    mp3_ = new std::string(ReadFile(dir_->File("tone.mp3")));
    // Two Ogg streams one after the other, as a server sends them when the title changes: the
    // second has its own serial number, header packets, comments and format.
    chains_ = new std::map<std::string, std::string>();
    for (const std::string codec : {"libvorbis", "libopus"}) {
      std::string chain;
      const std::vector<std::vector<std::string>> parts = {
          {"-ar", "48000", "-ac", "2", "-metadata", "title=One"},
          {"-ar", codec == "libopus" ? "24000" : "44100", "-ac", "1", "-metadata", "artist=Band",
           "-metadata", "title=Two"}};
      for (const auto& options : parts) {
        std::vector<std::string> argv = {"ffmpeg",    "-y",    "-hide_banner",
                                         "-loglevel", "error", "-f",
                                         "lavfi",     "-i",    "sine=frequency=440:duration=3"};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.insert(argv.end(), {"-c:a", codec, "-f", "ogg", dir_->File("part.ogg")});
        ASSERT_EQ(test::RunCommand(argv, {}, 30000), 0);
        chain += ReadFile(dir_->File("part.ogg"));
      }
      (*chains_)["/chain-" + codec + ".ogg"] = chain;
    }
  }
  static void TearDownTestSuite() {
    delete mp3_;
    delete chains_;
    delete dir_;
  }

  void SetUp() override {
    BASS_SetConfig(BASS_CONFIG_NET_TIMEOUT, 1000);
    BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
    const std::string unterminated = "StreamTitle='" + std::string(4000, 'x');  // 4080 bytes
    std::string first = unterminated + std::string(4080 - unterminated.size(), 'y');
    server_.Route("/icy", [this, first](int fd) {
      std::string body =
          "ICY 200 OK\r\nicy-name: Test\r\nicy-metaint: " + std::to_string(kMetaInt) +
          "\r\nContent-Type: audio/mpeg\r\n\r\n";
      size_t block = 0;
      for (size_t at = 0; at < mp3_->size() && !server_.Stopping(); at += kMetaInt) {
        // Half a second of audio at a time, a little faster than it plays.
        LoopbackHttpServer::SendAll(fd, body);
        body.clear();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        body += mp3_->substr(at, kMetaInt);
        if (at + kMetaInt >= mp3_->size()) {
          break;
        }
        std::string meta;
        if (block == 0) {
          meta = first;  // the longest block there is, without terminator
        } else if (block == 3) {
          meta = "StreamTitle='Caf\xE9 It''s';StreamUrl='';";
        }
        ++block;
        const size_t padded = (meta.size() + 15) / 16 * 16;
        body.push_back(static_cast<char>(padded / 16));
        body += meta + std::string(padded - meta.size(), '\0');
      }
      LoopbackHttpServer::SendAll(fd, body);
    });
    for (const auto& [path, chain] : *chains_) {
      server_.Route(path, [this, &chain = chain](int fd) {
        LoopbackHttpServer::SendAll(fd, "HTTP/1.0 200 OK\r\nContent-Type: application/ogg\r\n\r\n");
        constexpr size_t kPiece = 4096;
        for (size_t at = 0; at < chain.size() && !server_.Stopping(); at += kPiece) {
          LoopbackHttpServer::SendAll(fd, chain.substr(at, kPiece));
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
      });
    }
    server_.RouteText("/page", "text/html", "<html><body>Hello</body></html>");
    server_.Route("/loop", [](int fd) {
      LoopbackHttpServer::SendAll(fd, "HTTP/1.0 302 Found\r\nLocation: /loop\r\n\r\n");
    });
    server_.Route("/stall", [this](int fd) {
      LoopbackHttpServer::SendAll(fd, "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n");
      while (!server_.Stopping()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    server_.RouteText("/empty.m3u", "audio/x-mpegurl", "#EXTM3U\n");
    server_.RouteText("/self.pls", "audio/x-scpls", "[playlist]\nFile1=/self.pls\n");
    server_.RouteText("/list.pls", "text/plain", "[playlist]\nNumberOfEntries=1\nFile1=/icy\n");
    ASSERT_TRUE(server_.Start());
  }

  LoopbackHttpServer server_;
  static test::TempDir* dir_;
  static std::string* mp3_;
  static std::map<std::string, std::string>* chains_;  // path -> chained Ogg stream
};

test::TempDir* UrlStreamTest::dir_ = nullptr;
std::string* UrlStreamTest::mp3_ = nullptr;
std::map<std::string, std::string>* UrlStreamTest::chains_ = nullptr;

TEST_F(UrlStreamTest, BadAnswersGiveTheirErrorCodes) {
  const std::pair<std::string, int> cases[] = {
      {"http://127.0.0.1:" + std::to_string(test::FreeLoopbackPort()) + "/x", BASS_ERROR_NONET},
      {server_.Url("/page"), BASS_ERROR_FILEFORM},
      {server_.Url("/loop"), BASS_ERROR_FILEOPEN},
      {server_.Url("/missing"), BASS_ERROR_FILEOPEN},
      {server_.Url("/stall"), BASS_ERROR_TIMEOUT},
      {server_.Url("/empty.m3u"), BASS_ERROR_FILEFORM},
      {server_.Url("/self.pls"), BASS_ERROR_FILEFORM},
      {"ftp://127.0.0.1/x", BASS_ERROR_ILLPARAM},
  };
  for (const auto& [url, code] : cases) {
    EXPECT_EQ(BASS_StreamCreateURL(url.c_str(), 0, BASS_STREAM_DECODE | BASS_SAMPLE_FLOAT, nullptr,
                                   nullptr),
              0u)
        << url;
    EXPECT_EQ(BASS_ErrorGetCode(), code) << url;
  }
}

TEST_F(UrlStreamTest, IcyStreamThroughAPlaylistDecodesWithItsTitlesAndEnds) {
  Events events;
  const HSTREAM stream = BASS_StreamCreateURL(
      server_.Url("/list.pls").c_str(), 0,
      BASS_UNICODE | BASS_STREAM_DECODE | BASS_SAMPLE_FLOAT | BASS_STREAM_RESTRATE, &OnDownload,
      &events);
  ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
  BASS_CHANNELINFO info{};
  ASSERT_TRUE(BASS_ChannelGetInfo(stream, &info));
  EXPECT_EQ(info.freq, 44100u);
  EXPECT_EQ(info.chans, 2u);
  ASSERT_NE(BASS_ChannelSetSync(stream, BASS_SYNC_META, 0, &OnSync, &events), 0u);
  ASSERT_NE(BASS_ChannelSetSync(stream, BASS_SYNC_END, 0, &OnEnd, &events), 0u);
  const char* icy = BASS_ChannelGetTags(stream, BASS_TAG_ICY);
  ASSERT_NE(icy, nullptr);
  EXPECT_STREQ(icy, "icy-name: Test");

  ASSERT_TRUE(WaitUntil([&] { return events.end.load() == 1; }, 20000));
  EXPECT_EQ(events.downloadEnd.load(), 1);
  // Every byte of the MP3 and nothing of the metadata reached the decoder.
  EXPECT_EQ(events.bytes.load(), mp3_->size());
  auto source = HandleTable::Instance().FindAs<UrlStream>(stream);
  ASSERT_TRUE(source);
  EXPECT_NEAR(static_cast<double>(source->DecodedFrames()) / 44100.0, 6.0, 0.1);
  EXPECT_GE(events.meta.load(), 1);
  const char* meta = BASS_ChannelGetTags(stream, BASS_TAG_META);
  ASSERT_NE(meta, nullptr);
  EXPECT_STREQ(meta, "StreamTitle='Caf\xE9 It''s';StreamUrl='';");
  EXPECT_TRUE(BASS_StreamFree(stream));
  EXPECT_EQ(BASS_ChannelGetTags(stream, BASS_TAG_META), nullptr);
}

void OnMetaRecord(HSYNC, DWORD channel, DWORD, void* user) {
  auto* titles = static_cast<std::vector<std::string>*>(user);
  const char* meta = BASS_ChannelGetTags(channel, BASS_TAG_META);
  titles->push_back(meta != nullptr ? meta : "");
}

TEST_F(UrlStreamTest, ChainedOggContinuesWithTheNextStreamsTitle) {
  for (const auto& [path, chain] : *chains_) {
    SCOPED_TRACE(path);
    Events events;
    const HSTREAM stream = BASS_StreamCreateURL(
        server_.Url(path).c_str(), 0, BASS_STREAM_DECODE | BASS_SAMPLE_FLOAT, &OnDownload, &events);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    const char* first = BASS_ChannelGetTags(stream, BASS_TAG_META);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "StreamTitle='One';");
    std::vector<std::string> titles;  // written by the stream's thread until the end
    ASSERT_NE(BASS_ChannelSetSync(stream, BASS_SYNC_META, 0, &OnMetaRecord, &titles), 0u);
    ASSERT_NE(BASS_ChannelSetSync(stream, BASS_SYNC_END, 0, &OnEnd, &events), 0u);
    ASSERT_TRUE(WaitUntil([&] { return events.end.load() == 1; }, 20000));
    // Both streams decoded in one go, the second one converted to the format of the first.
    auto source = HandleTable::Instance().FindAs<UrlStream>(stream);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->Format().rate, 48000u);
    EXPECT_NEAR(static_cast<double>(source->DecodedFrames()) / 48000.0, 6.0, 0.1);
    EXPECT_EQ(events.bytes.load(), chain.size());
    EXPECT_EQ(titles, std::vector<std::string>{"StreamTitle='Band - Two';"});
    EXPECT_TRUE(BASS_StreamFree(stream));
  }
}

}  // namespace
}  // namespace velloran::audio::url
