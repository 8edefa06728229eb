#pragma once
// Small TCP helpers of the source connections, each bounded by a deadline: connect, send a
// request whole, read an answer.
// Thread contract: pure functions on the caller's socket, any thread but the pull thread.
#include <chrono>
#include <functional>
#include <string>

namespace velloran::audio {

using CastDeadline = std::chrono::steady_clock::time_point;

// A connected non-blocking socket to host:port, or -1 when none could be made by end.
int ConnectWithin(const std::string& host, int port, CastDeadline end);
// Sends all of bytes by end; false when the peer refused them or time ran out.
bool SendAllWithin(int fd, const std::string& bytes, CastDeadline end);
// Reads until the peer closes, done(reply) is true, maxBytes are in or time runs out.
std::string ReadWithin(int fd, CastDeadline end, size_t maxBytes,
                       const std::function<bool(const std::string&)>& done);

}  // namespace velloran::audio
