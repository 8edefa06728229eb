#pragma once
// The server address and login of a source connection, as BASS_Encode_CastInit takes them:
// - "host:port/mount": an Icecast server over HTTP; the password may be "user:password"
//   (otherwise the user is "source");
// - "host:port,sid": a Shoutcast v2 server, logged in with its legacy source protocol on port + 1
//   as "password:#sid";
// - "host:port": a Shoutcast v1 server (source port port + 1), password unchanged.
// The host may be a bracketed IPv6 address ("[::1]:8000/live").
// Thread contract: pure functions, any thread.
#include <optional>
#include <string>

namespace velloran::audio {

struct CastTarget {
  enum class Kind { kIcecast, kShoutcast2, kShoutcast1 };
  Kind kind = Kind::kIcecast;
  std::string host;
  int port = 0;          // the server's base port as given
  std::string mount;     // Icecast: begins with "/"
  std::string streamId;  // Shoutcast v2
  std::string user;      // Icecast only
  std::string password;  // as sent
};

// Nothing when the address has no host, no port or a port outside 1 .. 65535.
std::optional<CastTarget> ParseCastTarget(const std::string& server, const std::string& password);

}  // namespace velloran::audio
