#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/url/IcyMetadata.h"
#include "audio/url/Playlist.h"

namespace velloran::audio::url {
namespace {

// Builds an ICY body: audio chunks of `interval` bytes, each followed by a metadata block.
std::string IcyBody(size_t interval, const std::vector<std::string>& blocks, char audio = 'a') {
  std::string body;
  for (const std::string& block : blocks) {
    body.append(interval, audio);
    const size_t padded = (block.size() + 15) / 16 * 16;
    body.push_back(static_cast<char>(padded / 16));
    body += block;
    body.append(padded - block.size(), '\0');
  }
  body.append(interval, audio);
  return body;
}

TEST(IcyDeinterleaver, SplitsAudioAndBlocksWhateverTheChunking) {
  std::string unterminated(IcyDeinterleaver::kMaxBlockBytes, 'x');  // full length, no NUL
  std::string binary = "StreamTitle='\x01\xff\xfe';";
  const std::vector<std::string> blocks = {"StreamTitle='One';", "", unterminated, binary};
  const std::string body = IcyBody(100, blocks);
  for (size_t chunk : {size_t{1}, size_t{7}, size_t{100}, size_t{101}, body.size()}) {
    IcyDeinterleaver icy(100);
    std::string audio;
    std::vector<std::string> seen;
    for (size_t at = 0; at < body.size(); at += chunk) {
      const std::string piece = body.substr(at, chunk);
      icy.Feed(reinterpret_cast<const uint8_t*>(piece.data()), piece.size(), audio,
               [&](std::string_view block) { seen.push_back(IcyBlockText(block)); });
    }
    EXPECT_EQ(audio, std::string(500, 'a')) << "chunk " << chunk;
    ASSERT_EQ(seen.size(), 3u) << "chunk " << chunk;  // the empty block means "no change"
    EXPECT_EQ(seen[0], "StreamTitle='One';");
    EXPECT_EQ(seen[1], unterminated);
    EXPECT_EQ(seen[2], binary);
  }
}

TEST(IcyDeinterleaver, MetaIntHeaderValues) {
  const std::pair<const char*, size_t> cases[] = {
      {"16000", 16000}, {" 8192 ", 8192},   {"", 0},       {"-1", 0},
      {"12abc", 0},     {"99999999999", 0}, {"2000000", 0}};
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ParseIcyMetaInt(text), expected) << text;
  }
}

TEST(Playlist, FirstEntry) {
  const std::string base = "http://radio.example:8000/lists/station.pls?x=1";
  const std::pair<std::string, std::string> cases[] = {
      {"[playlist]\nNumberOfEntries=2\nFile2=http://b/2\nFile1=http://a/1\n", "http://a/1"},
      {"\xEF\xBB\xBF[Playlist]\r\nfile1=https://a:8443/live\r\n", "https://a:8443/live"},
      {"#EXTM3U\n#EXTINF:-1,Station\n\nhttp://s/live.mp3\nhttp://s/other\n", "http://s/live.mp3"},
      {"# comment\nfile:///etc/passwd\nlive.aac\n", "http://radio.example:8000/lists/live.aac"},
      {"/root.mp3", "http://radio.example:8000/root.mp3"},
      {"../up/x.mp3", "http://radio.example:8000/up/x.mp3"},
      {"//other.example/x", "http://other.example/x"},
  };
  for (const auto& [text, expected] : cases) {
    const auto entry = FirstPlaylistEntry(text, base);
    ASSERT_TRUE(entry.has_value()) << text;
    EXPECT_EQ(*entry, expected) << text;
  }
  const std::vector<std::string> none = {"",
                                         "[playlist]\nNumberOfEntries=0\n",
                                         "#EXTM3U\n#only comments\n",
                                         "rtsp://x/y\n",
                                         std::string(100000, '\n'),
                                         std::string("[playlist]\nFile1=") + std::string(10, '\0')};
  for (const std::string& text : none) {
    EXPECT_FALSE(FirstPlaylistEntry(text, base).has_value()) << text.substr(0, 40);
  }
}

TEST(Playlist, Recognition) {
  EXPECT_TRUE(IsPlaylistUrl("http://a/b.PLS"));
  EXPECT_TRUE(IsPlaylistUrl("http://a/b.m3u8?token=1"));
  EXPECT_FALSE(IsPlaylistUrl("http://a/b.mp3"));
  EXPECT_FALSE(IsPlaylistUrl("http://a/b?f=x.m3u"));
  EXPECT_TRUE(IsPlaylistContentType("audio/x-scpls; charset=utf-8"));
  EXPECT_TRUE(IsPlaylistContentType("Application/vnd.apple.mpegurl"));
  EXPECT_FALSE(IsPlaylistContentType("audio/mpeg"));
  EXPECT_TRUE(LooksLikePlaylist("  #EXTM3U\n"));
  EXPECT_FALSE(LooksLikePlaylist("<html><body>Not found</body></html>"));
  EXPECT_TRUE(IsHttpUrl("HTTP://host/x"));
  EXPECT_FALSE(IsHttpUrl("http:///x"));
  EXPECT_FALSE(IsHttpUrl("ftp://host/x"));
}

}  // namespace
}  // namespace velloran::audio::url
