#pragma once
// The legacy Shoutcast source connection: Shoutcast v1, the legacy source port of a v2 server
// ("password:#sid") and Icecast's Shoutcast-compatible port. On the base port + 1: the password
// line, the server's "OK2", the stream's "icy-" header lines and a blank line, then the audio.
// Made here rather than by libshout, whose Shoutcast mode waits for the server without a
// time-out, so a server that hangs (accepts, then neither answers nor reads) would hold the
// connecting thread, and then whoever stops the stream, for good. Every wait here is bounded;
// the audio is written without waiting (what the socket does not take stays queued).
// Thread contract: Connect on any thread but the pull thread; the rest on one thread at a time
// (the caster's sender thread).
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/encode/CastAddress.h"

namespace velloran::audio {

class IcySource {
 public:
  // Logs in and sends headers (complete "name:value" CR LF lines) within timeout. On failure
  // nullptr and *error, a BASS error code: BASS_ERROR_FILEOPEN (no connection),
  // BASS_ERROR_TIMEOUT (no answer), BASS_ERROR_CAST_DENIED (password refused, or the
  // connection closed without an answer) or
  // BASS_ERROR_UNKNOWN with the server's answer in *refusal.
  static std::unique_ptr<IcySource> Connect(const CastTarget& target, const std::string& headers,
                                            std::chrono::milliseconds timeout, int* error,
                                            std::string* refusal);
  ~IcySource();
  IcySource(const IcySource&) = delete;
  IcySource& operator=(const IcySource&) = delete;

  // Queues data and writes what the socket takes now; false once the connection failed.
  bool Send(const uint8_t* data, size_t size);
  // Writes queued data as far as the socket takes it now; false once the connection failed.
  bool Flush();
  size_t Queued() const { return pending_.size() - written_; }

 private:
  explicit IcySource(int fd) : fd_(fd) {}

  int fd_ = -1;
  std::string pending_;
  size_t written_ = 0;  // bytes of pending_ already sent
};

}  // namespace velloran::audio
