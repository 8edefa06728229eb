#pragma once
// A scripted stand-in for a Shoutcast v2 server on loopback: no real v2 server can run here
// (its server program is proprietary), so this peer plays the part a source meets. On the
// source port (base port + 1) it takes the legacy source login: one line with the password
// (for a v2 stream "password:#sid"), answers "OK2", then reads the "icy-*" header lines up to
// a blank line and keeps the audio that follows. On the base port it answers the admin title
// call ("/admin.cgi?sid=...&pass=...&mode=updinfo&song=...") with 200 and keeps the request.
// A wrong password is answered "invalid password" and the connection closed. A stalled peer
// stops reading after the login (with a small receive buffer), to play a server that hangs.
// Stops with the object.
// Thread contract: one owning thread; the accessors may be called while it runs.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velloran::test {

class ShoutcastV2Peer {
 public:
  explicit ShoutcastV2Peer(std::string password, bool stall = false);
  ~ShoutcastV2Peer();
  ShoutcastV2Peer(const ShoutcastV2Peer&) = delete;
  ShoutcastV2Peer& operator=(const ShoutcastV2Peer&) = delete;

  bool Listening() const { return sourceFd_ >= 0 && adminFd_ >= 0; }
  int Port() const { return port_; }  // the base port; the source port is the next one

  std::string LoginLine() const;                 // the first line the source sent
  std::vector<std::string> HeaderLines() const;  // the source's header lines, in order
  std::string Audio() const;
  size_t AudioBytes() const;
  std::vector<std::string> AdminRequests() const;  // request targets of the admin port

 private:
  void ServeSources();
  void ServeAdmin();

  std::string password_;
  bool stall_ = false;
  int port_ = 0;
  int sourceFd_ = -1;
  int adminFd_ = -1;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::string login_;
  std::vector<std::string> headers_;
  std::string audio_;
  std::vector<std::string> admin_;
  std::thread sourceThread_;
  std::thread adminThread_;
};

}  // namespace velloran::test
