#include "web/HttpResponse.h"

#include <string_view>

#include "web/MimeTable.h"

namespace velloran::web {

void THttpResponse::ServeFile(const std::string& path) {
  auto file = std::make_unique<TFileBodyStream>(path);
  contentType = MimeTypeForFile(path);
  if (contentDisposition.empty()) {
    contentDisposition = AttachmentDisposition(path);
  }
  stream = std::move(file);
}

void THttpResponse::Fail(const std::string& message) {
  stream.reset();
  status = 500;
  reason = "Error";
  body = message;
  redirect.clear();
  authRealm.clear();
}

std::string SanitizeHeaderValue(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t') || u == 0x7F) {
      continue;
    }
    out.push_back(c);
  }
  return out;
}

std::string AttachmentDisposition(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string plain;
  std::string encoded;
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    const bool safe = u >= 0x20 && u < 0x7F && c != '"' && c != '\\';
    plain.push_back(safe ? c : '_');
    const bool attrChar = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') ||
                          std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos;
    if (attrChar) {
      encoded.push_back(c);
    } else {
      encoded.push_back('%');
      encoded.push_back(kHex[u >> 4]);
      encoded.push_back(kHex[u & 0x0F]);
    }
  }
  return "attachment; filename=\"" + plain + "\"; filename*=UTF-8''" + encoded;
}

}  // namespace velloran::web
