#include "slots/StreamTitleText.h"

#include <cstdint>

#include "core/SondrelRegExpr.h"

namespace velloran::slots {

namespace {

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t extra = 0;
    uint32_t min = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      min = 0x80;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      min = 0x800;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      min = 0x10000;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) {
      return false;
    }
    for (size_t k = 1; k <= extra; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) {
        return false;
      }
      cp = (cp << 6) | (d & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Windows-1252 bytes 0x80..0x9F; the five unassigned ones map to themselves (as C1 controls).
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

std::string DecodeMetadataText(std::string_view raw) {
  if (IsValidUtf8(raw)) {
    return std::string(raw);
  }
  std::string out;
  out.reserve(raw.size() * 2);
  for (char ch : raw) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x80 && c < 0xA0) {
      AppendUtf8(out, kCp1252High[c - 0x80]);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

std::optional<std::string> ExtractStreamTitle(const std::string& text) {
  TSondrelRegExpr expression;
  if (!expression.Matches("StreamTitle='(.*?)';", text)) {
    return std::nullopt;
  }
  return expression.Match(1);
}

}  // namespace velloran::slots
