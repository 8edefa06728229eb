#include "slots/RecordingNames.h"

#include <cstdio>
#include <filesystem>

namespace velloran::slots {

namespace {

std::string TwoDigits(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%.2d", value);
  return buffer;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t pos = text.find(from); pos != std::string::npos;
       pos = text.find(from, pos + to.size())) {
    text.replace(pos, from.size(), to);
  }
}

}  // namespace

std::string RecordingFileExtension(TBassStreamingFormat format, const std::string& fileExtension) {
  switch (format) {
    case sfMP3:
      return ".mp3";
    case sfMP2:
      return ".mp2";
    case sfOggVorbis:
      return ".ogg";
    case sfWAV16:
    case sfWAV32:
      return ".wav";
    case sfCustomWAV:
    case sfCustomRaw:
      return "." + fileExtension;
    case sfNone:
      break;
  }
  return "";
}

std::optional<std::string> NormalRecordingName(const std::string& name) {
  std::string normal;
  size_t begin = 0;
  while (begin <= name.size()) {
    size_t end = name.find_first_of("/\\", begin);
    if (end == std::string::npos) {
      end = name.size();
    }
    const std::string part = name.substr(begin, end - begin);
    if (part == "..") {
      return std::nullopt;
    }
    if (!part.empty() && part != ".") {
      normal += normal.empty() ? part : "/" + part;
    }
    begin = end + 1;
  }
  if (normal.empty()) {
    return std::nullopt;
  }
  return normal;
}

namespace {

std::string BuildRawName(const RecordingNaming& naming, TDateTime now,
                         const std::string& extension) {
  if (!naming.customFilename.empty()) {
    const DateTimeFields f = DecodeDateTime(now);
    char year[16];
    std::snprintf(year, sizeof year, "%.4d", f.year);
    std::string name = naming.customFilename + extension;
    ReplaceAll(name, "%Y", year);
    ReplaceAll(name, "%y", TwoDigits(f.year % 100));
    ReplaceAll(name, "%M", TwoDigits(f.month));
    ReplaceAll(name, "%D", TwoDigits(f.day));
    ReplaceAll(name, "%h", TwoDigits(f.hour));
    ReplaceAll(name, "%m", TwoDigits(f.minute));
    ReplaceAll(name, "%s", TwoDigits(f.second));
    return name;
  }
  const std::string stamp = naming.filenamePrefix + FormatDateTime("yyyy-mm-dd-hh-nn-ss", now);
  if (naming.flatFilenames) {
    return stamp + extension;
  }
  return FormatDateTime("yyyy/mm/dd/", now) + stamp + extension;
}

}  // namespace

std::string BuildRecordingName(const RecordingNaming& naming, TDateTime now,
                               const std::string& extension, std::string* refused) {
  const std::string raw = BuildRawName(naming, now, extension);
  if (const auto normal = NormalRecordingName(raw)) {
    return *normal;
  }
  if (refused != nullptr) {
    *refused = raw;
  }
  return FormatDateTime("yyyy/mm/dd/yyyy-mm-dd-hh-nn-ss", now) + extension;
}

std::string UniqueRecordingPath(const std::string& path,
                                const std::function<bool(const std::string&)>& taken) {
  const auto isTaken = [&](const std::string& candidate) {
    if (taken) {
      return taken(candidate);
    }
    std::error_code ec;
    return std::filesystem::exists(candidate, ec);
  };
  if (!isTaken(path)) {
    return path;
  }
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  const std::string stem = hasExt ? path.substr(0, dot) : path;
  const std::string ext = hasExt ? path.substr(dot) : "";
  for (int n = 1;; ++n) {
    std::string candidate = stem + "-" + std::to_string(n) + ext;
    if (!isTaken(candidate)) {
      return candidate;
    }
  }
}

}  // namespace velloran::slots
