#include <gtest/gtest.h>

#include <string>

#include "slots/StreamTitleText.h"

namespace velloran::slots {
namespace {

TEST(StreamTitleText, TitleAndDecoding) {
  const std::pair<std::string, std::string> titles[] = {
      {"StreamTitle='Artist - Song';StreamUrl='';", "Artist - Song"},
      {"StreamTitle='';", ""},
      {"StreamTitle='Rock 'n' Roll';", "Rock 'n' Roll"},
      {"StreamTitle='It';s';", "It"},
  };
  for (const auto& [text, title] : titles) {
    const auto got = ExtractStreamTitle(text);
    ASSERT_TRUE(got.has_value()) << text;
    EXPECT_EQ(*got, title);
  }
  EXPECT_FALSE(ExtractStreamTitle("StreamUrl='x';").has_value());
  EXPECT_FALSE(ExtractStreamTitle("StreamTitle='unterminated").has_value());
  // Valid UTF-8 stays; anything else is Windows-1252.
  EXPECT_EQ(DecodeMetadataText("Caf\xC3\xA9"), "Caf\xC3\xA9");
  EXPECT_EQ(DecodeMetadataText("Caf\xE9 \x80"), "Caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(DecodeMetadataText("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");  // a surrogate
}

}  // namespace
}  // namespace velloran::slots
