#include "audio/encode/CastAddress.h"

#include <cctype>

namespace velloran::audio {

std::optional<CastTarget> ParseCastTarget(const std::string& server, const std::string& password) {
  CastTarget target;
  size_t portStart = 0;
  if (!server.empty() && server[0] == '[') {
    const size_t close = server.find(']');
    if (close == std::string::npos || close + 1 >= server.size() || server[close + 1] != ':') {
      return std::nullopt;
    }
    target.host = server.substr(1, close - 1);
    portStart = close + 2;
  } else {
    const size_t colon = server.find(':');
    if (colon == std::string::npos) {
      return std::nullopt;
    }
    target.host = server.substr(0, colon);
    portStart = colon + 1;
  }
  if (target.host.empty()) {
    return std::nullopt;
  }
  size_t at = portStart;
  long port = 0;
  while (at < server.size() && std::isdigit(static_cast<unsigned char>(server[at])) != 0) {
    port = port * 10 + (server[at] - '0');
    if (port > 65535) {
      return std::nullopt;
    }
    ++at;
  }
  if (at == portStart || port < 1) {
    return std::nullopt;
  }
  target.port = static_cast<int>(port);
  const std::string rest = server.substr(at);
  if (rest.empty()) {
    target.kind = CastTarget::Kind::kShoutcast1;
    target.password = password;
  } else if (rest[0] == '/') {
    target.kind = CastTarget::Kind::kIcecast;
    target.mount = rest;
    const size_t colon = password.find(':');
    if (colon == std::string::npos) {
      target.user = "source";
      target.password = password;
    } else {
      target.user = password.substr(0, colon);
      target.password = password.substr(colon + 1);
    }
  } else if (rest[0] == ',' && rest.size() > 1) {
    target.kind = CastTarget::Kind::kShoutcast2;
    target.streamId = rest.substr(1);
    target.password = password + ":#" + target.streamId;
  } else {
    return std::nullopt;
  }
  return target;
}

}  // namespace velloran::audio
