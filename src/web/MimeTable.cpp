#include "web/MimeTable.h"

#include <map>
#include <mutex>

namespace velloran::web {
namespace {

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return text;
}

std::string ExtensionOf(const std::string& fileName) {
  const size_t slash = fileName.find_last_of("/\\");
  const size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return std::string();
  }
  return LowerAscii(fileName.substr(dot + 1));
}

}  // namespace

struct TMimeTable::State {
  mutable std::mutex mutex;
  std::map<std::string, std::string> types;
};

TMimeTable::TMimeTable() : state_(new State) {
  state_->types = {
      // Pages and their scripts.
      {"html", "text/html"},
      {"htm", "text/html"},
      {"css", "text/css"},
      {"js", "text/javascript"},
      {"mjs", "text/javascript"},
      {"json", "application/json"},
      {"map", "application/json"},
      {"txt", "text/plain"},
      {"xml", "application/xml"},
      {"wasm", "application/wasm"},
      // Pictures.
      {"png", "image/png"},
      {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},
      {"svg", "image/svg+xml"},
      {"ico", "image/x-icon"},
      {"webp", "image/webp"},
      // Fonts.
      {"woff", "font/woff"},
      {"woff2", "font/woff2"},
      {"ttf", "font/ttf"},
      {"otf", "font/otf"},
      {"eot", "application/vnd.ms-fontobject"},
      // Recordings.
      {"mp3", "audio/mpeg"},
      {"mp2", "audio/mpeg"},
      {"ogg", "audio/ogg"},
      {"oga", "audio/ogg"},
      {"opus", "audio/ogg"},
      {"wav", "audio/wav"},
      {"aac", "audio/aac"},
      {"m4a", "audio/mp4"},
      {"flac", "audio/flac"},
  };
}

TMimeTable& TMimeTable::Instance() {
  static TMimeTable* table = new TMimeTable;  // never freed: connection threads may still look up
  return *table;
}

std::string TMimeTable::Lookup(const std::string& fileName) const {
  const std::string extension = ExtensionOf(fileName);
  std::lock_guard<std::mutex> lock(state_->mutex);
  const auto it = state_->types.find(extension);
  return it == state_->types.end() ? std::string("application/octet-stream") : it->second;
}

void TMimeTable::Register(const std::string& extension, const std::string& contentType) {
  std::string key = LowerAscii(extension);
  if (!key.empty() && key.front() == '.') {
    key.erase(0, 1);
  }
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->types[key] = contentType;
}

std::string MimeTypeForFile(const std::string& fileName) {
  return TMimeTable::Instance().Lookup(fileName);
}

}  // namespace velloran::web
