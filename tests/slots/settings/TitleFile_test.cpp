// The first line of an outgoing stream's title file, whatever its encoding.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "slots/TitleFile.h"
#include "support/TempDir.h"

namespace velloran::slots {
namespace {

std::string Utf16(const std::u16string& text, bool bigEndian) {
  std::string out;
  for (char16_t c : text) {
    const char hi = static_cast<char>(c >> 8);
    const char lo = static_cast<char>(c & 0xFF);
    out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return out;
}

TEST(TitleFile, FirstLineByByteOrderMark) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string title;
  };
  const Case cases[] = {
      {"plain", "Artist - Song\r\nnext\r\n", "Artist - Song"},
      {"UTF-8 mark",
       "\xEF\xBB\xBF"
       "Caf\xC3\xA9\n",
       "Caf\xC3\xA9"},
      {"UTF-8 without mark", "Caf\xC3\xA9", "Caf\xC3\xA9"},
      {"Windows-1252 without mark", "Caf\xE9", "Caf\xC3\xA9"},
      {"UTF-16 LE mark", "\xFF\xFE" + Utf16(u"Caf\u00e9 \U0001F3B5\r\nx", false),
       "Caf\xC3\xA9 \xF0\x9F\x8E\xB5"},
      {"UTF-16 BE mark", "\xFE\xFF" + Utf16(u"Song\nx", true), "Song"},
      {"UTF-16 LE without mark", Utf16(u"Song title\r\n", false), "Song title"},
      {"empty", "", ""},
      {"only a line break", "\r\nsecond", ""},
      {"CR only", "one\rtwo", "one"},
      {"binary", std::string("ab\0c\x01\x1b[2Jd\x7f", 11), "abc  [2Jd "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TitleFileFirstLine(c.bytes), c.title) << c.what;
  }
}

TEST(TitleFile, UnreadableFileIsEmpty) {
  test::TempDir dir;
  EXPECT_EQ(ReadTitleFile(dir.File("missing.txt")), "");
  EXPECT_EQ(ReadTitleFile(dir.Path().string()), "");  // a folder
  std::ofstream(dir.File("t.txt"), std::ios::binary) << "\xFF\xFE" << Utf16(u"Hi", false);
  EXPECT_EQ(ReadTitleFile(dir.File("t.txt")), "Hi");
}

}  // namespace
}  // namespace velloran::slots
