// The text handling of casting and the stream server: cast addresses and logins, the reasons
// of a refused source login, listening
// addresses, ICY metadata blocks and the Ogg page scan that lets a listener join mid-stream.
#include <gtest/gtest.h>

#include <string>

#include "audio/encode/CastAddress.h"
#include "audio/encode/CastRefusal.h"
#include "audio/encode/IcyMetadataBlock.h"
#include "audio/encode/OggPages.h"
#include "audio/encode/StreamServer.h"

namespace velloran::audio {
namespace {

using Kind = CastTarget::Kind;

TEST(CastAddress, AddressFormsAndLogins) {
  struct Case {
    std::string server, password;
    Kind kind;
    std::string host;
    int port;
    std::string mount, user, sentPassword;
  };
  const Case cases[] = {
      {"h:8000/live", "pw", Kind::kIcecast, "h", 8000, "/live", "source", "pw"},
      {"h:8000/live", "dj:se:cret", Kind::kIcecast, "h", 8000, "/live", "dj", "se:cret"},
      {"h:8000,2", "pw", Kind::kShoutcast2, "h", 8000, "", "", "pw:#2"},
      {"h:8000", "user:pw", Kind::kShoutcast1, "h", 8000, "", "", "user:pw"},
      {"[::1]:8000/x.ogg", "pw", Kind::kIcecast, "::1", 8000, "/x.ogg", "source", "pw"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    const auto target = ParseCastTarget(c.server, c.password);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->kind, c.kind);
    EXPECT_EQ(target->host, c.host);
    EXPECT_EQ(target->port, c.port);
    EXPECT_EQ(target->mount, c.mount);
    EXPECT_EQ(target->user, c.user);
    EXPECT_EQ(target->password, c.sentPassword);
  }
  for (const std::string bad : {"", "h", ":8000/x", "h:/x", "h:0/x", "h:65536/x", "h:80x", "h:80,",
                                "[::1/x", "[::1]8000"}) {
    EXPECT_FALSE(ParseCastTarget(bad, "pw")) << bad;
  }
}

// Replies as Icecast 2.4 and Shoutcast servers give them to a source login.
TEST(CastRefusal, TellsAWrongPasswordFromOtherRefusals) {
  struct Case {
    const char* what;
    std::string reply;
    bool http;
    bool refused, password;
    std::string answer;
  };
  const std::string head = "Server: Icecast 2.4.4\r\nConnection: Close\r\n\r\n";
  const Case cases[] = {
      {"password",
       "HTTP/1.0 401 Authentication Required\r\n" + head + "You need to authenticate\r\n", true,
       true, true, "401 Authentication Required: You need to authenticate"},
      {"mount in use", "HTTP/1.0 403 Forbidden\r\n" + head + "Mountpoint in use", true, true, false,
       "403 Forbidden: Mountpoint in use"},
      {"no body", "HTTP/1.0 403 Forbidden\r\n" + head, true, true, false, "403 Forbidden"},
      {"accepted", "HTTP/1.1 100 Continue\r\n\r\n", true, false, false, ""},
      {"nothing", "", true, false, false, ""},
      {"control characters", "HTTP/1.0 500 Oops\x1b[2J\r\n\r\n", true, true, false, "500 Oops [2J"},
      {"shoutcast password", "invalid password\r\n", false, true, true, "invalid password"},
      {"shoutcast ok", "OK2\r\nicy-caps:11\r\n\r\n", false, false, false, ""},
      {"shoutcast other", "Stream ID in use\r\n", false, true, false, "Stream ID in use"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto refusal = ParseCastRefusal(c.reply, c.http);
    ASSERT_EQ(refusal.has_value(), c.refused);
    if (refusal) {
      EXPECT_EQ(refusal->password, c.password);
      EXPECT_EQ(refusal->answer, c.answer);
    }
  }
}

TEST(StreamServerAddress, ListeningAddresses) {
  std::string address;
  uint16_t port = 0;
  ASSERT_TRUE(StreamServer::ParseAddress(":8000", &address, &port));
  EXPECT_EQ(address, "");
  EXPECT_EQ(port, 8000);
  ASSERT_TRUE(StreamServer::ParseAddress("127.0.0.1:0", &address, &port));
  EXPECT_EQ(address, "127.0.0.1");
  EXPECT_EQ(port, 0);
  ASSERT_TRUE(StreamServer::ParseAddress("[::1]:9000", &address, &port));
  EXPECT_EQ(address, "::1");
  EXPECT_EQ(port, 9000);
  for (const std::string bad : {"", "h:", "h:x", "h:70000", "[::1]", "h:-1"}) {
    EXPECT_FALSE(StreamServer::ParseAddress(bad, &address, &port)) << bad;
  }
}

TEST(IcyMetadataBlock, FramingHoldsForAnyTitle) {
  EXPECT_EQ(IcyMetadataBlock(std::nullopt), std::string(1, '\0'));
  const std::string block = IcyMetadataBlock("Say \"hi\"; it's\r\nnow");
  ASSERT_EQ(block.size(), 1 + 16u * static_cast<uint8_t>(block[0]));
  EXPECT_EQ(block.substr(1, block.find('\0', 1) - 1), "StreamTitle='Say \"hi\"; it's  now';");
  EXPECT_EQ(IcyMetadataBlock(std::string()).substr(0, 16),
            std::string(1, '\1') + "StreamTitle='';");
  // Too long for the length byte: cut at a character boundary, still one valid block.
  std::string longTitle;
  for (int i = 0; i < 3000; ++i) {
    longTitle += "\xC3\xA9";  // é
  }
  const std::string cut = IcyMetadataBlock(longTitle);
  EXPECT_EQ(static_cast<uint8_t>(cut[0]), 255);
  EXPECT_EQ(cut.size(), 1 + 255u * 16);
  const std::string text = cut.substr(1, cut.find('\0', 1) - 1);
  EXPECT_EQ(text.substr(text.size() - 4), "\xC3\xA9';");
}

// An Ogg page with the given granule position, flags and body.
std::string Page(uint64_t granule, uint8_t flags, const std::string& body) {
  std::string page = "OggS";
  page += '\0';
  page += static_cast<char>(flags);
  for (int i = 0; i < 8; ++i) {
    page += static_cast<char>((granule >> (8 * i)) & 0xFF);
  }
  page += std::string(12, '\x01');  // serial, sequence, checksum: not looked at
  page += static_cast<char>(1);     // one segment
  page += static_cast<char>(body.size());
  return page + body;
}

TEST(OggPages, HeadersAndTheNextAudioPage) {
  const std::string headers = Page(0, 2, "ident") + Page(0, 0, "comment+setup");
  const std::string audio = Page(4096, 0, "audio1");
  EXPECT_FALSE(OggHeaderPages(headers));  // not known to be complete yet
  EXPECT_EQ(OggHeaderPages(headers + audio), headers);
  EXPECT_FALSE(OggHeaderPages("ID3\x03 not ogg"));
  EXPECT_FALSE(OggHeaderPages((headers + audio).substr(0, headers.size() + 10)));
  EXPECT_TRUE(LooksLikeOgg(headers));
  EXPECT_EQ(OggPageLength(audio), audio.size());

  // Live data joined in the middle of a page: the first audio page that starts a packet.
  const std::string continued = Page(8192, 1, "rest");
  const std::string live = audio.substr(5) + continued + Page(0, 0, "x") + audio;
  EXPECT_EQ(FindOggAudioPage(live), live.size() - audio.size());
  EXPECT_EQ(FindOggAudioPage("no pages here"), std::string::npos);
}

}  // namespace
}  // namespace velloran::audio
