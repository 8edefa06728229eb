#pragma once
// Why a streaming server refused a source login: Icecast's status line and the first line of
// its text ("403 Forbidden: Mountpoint in use", "403 Forbidden: too many sources connected"), or
// a Shoutcast server's answer line ("invalid password"). libshout reports a refused Icecast
// login without the server's answer, which would make every refusal look like a wrong
// password; so after a failed login the caster asks once more by itself, with one raw login
// request bounded by a time-out. The probe sends no audio and closes at once.
// Thread contract: pure functions (AskIcecastRefusal connects and waits up to its time-out), any
// thread but the pull thread.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "audio/encode/CastAddress.h"

namespace velloran::audio {

struct CastRefusal {
  bool password = false;  // the server refused the password (HTTP 401, "invalid password")
  std::string answer;     // the server's answer in one line, for the engineer
};

// The refusal in a server's reply to a source login; nothing when the reply is empty or the
// login was accepted. http: the reply of an Icecast (HTTP) source request, else a Shoutcast one.
std::optional<CastRefusal> ParseCastRefusal(std::string_view reply, bool http);

// Logs in once more to an Icecast server as target, with contentType, and reads the server's
// answer within timeout.
std::optional<CastRefusal> AskIcecastRefusal(const CastTarget& target,
                                             const std::string& contentType,
                                             std::chrono::milliseconds timeout);

}  // namespace velloran::audio
