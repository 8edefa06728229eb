#include "slots/TitleFile.h"

#include <fstream>
#include <iterator>

#include "slots/StreamTitleText.h"

namespace velloran::slots {

namespace {

constexpr size_t kMaxTitleFileBytes = 65536;  // a title file is one short line

void AppendUtf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  auto unit = [&](size_t i) -> uint32_t {
    const auto a = static_cast<uint8_t>(bytes[i]);
    const auto b = static_cast<uint8_t>(bytes[i + 1]);
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  };
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    uint32_t cp = unit(i);
    if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < bytes.size()) {
      const uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      } else {
        cp = 0xFFFD;
      }
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;  // a lone surrogate
    }
    AppendUtf8(&out, cp);
  }
  return out;
}

// UTF-16 without a byte-order mark: most of the high bytes of Latin text are zero.
std::optional<bool> GuessUtf16(std::string_view bytes) {
  const size_t pairs = bytes.size() / 2;
  if (pairs < 1) {
    return std::nullopt;
  }
  size_t evenZeros = 0;
  size_t oddZeros = 0;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    evenZeros += bytes[i] == '\0' ? 1 : 0;
    oddZeros += bytes[i + 1] == '\0' ? 1 : 0;
  }
  if (oddZeros * 2 > pairs && evenZeros * 8 < pairs) {
    return false;  // little-endian
  }
  if (evenZeros * 2 > pairs && oddZeros * 8 < pairs) {
    return true;
  }
  return std::nullopt;
}

}  // namespace

std::string TitleFileFirstLine(std::string_view bytes) {
  std::string text;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    text = DecodeMetadataText(bytes.substr(3));
  } else if (bytes.substr(0, 2) == "\xFF\xFE") {
    text = Utf16ToUtf8(bytes.substr(2), false);
  } else if (bytes.substr(0, 2) == "\xFE\xFF") {
    text = Utf16ToUtf8(bytes.substr(2), true);
  } else if (const auto bigEndian = GuessUtf16(bytes)) {
    text = Utf16ToUtf8(bytes, *bigEndian);
  } else {
    text = DecodeMetadataText(bytes);
  }
  text = text.substr(0, text.find_first_of("\r\n"));
  std::string line;
  for (char c : text) {
    if (c == '\0') {
      continue;
    }
    line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? ' ' : c;
  }
  return line;
}

std::string ReadTitleFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return "";
  }
  std::string bytes(kMaxTitleFileBytes, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return TitleFileFirstLine(bytes);
}

}  // namespace velloran::slots
