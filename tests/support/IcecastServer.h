#pragma once
// A private Icecast2 server on loopback for tests: configuration written into a temporary
// folder, a free port, run as root with its change-owner setting (it refuses root otherwise),
// small ICY metadata interval so titles arrive quickly. Sources are fed by `ffmpeg -re` as
// source client; titles are set through the server's admin metadata call. Stopped with the
// object (server and sources).
// Thread contract: one owning thread.
#include <memory>
#include <string>
#include <vector>

#include "support/ServerProcess.h"
#include "support/TempDir.h"

namespace velloran::test {

class IcecastServer {
 public:
  static constexpr const char* kPassword = "hackme";

  IcecastServer();
  ~IcecastServer();

  // Before Start: a Shoutcast v1 source may log in on port + 1 (the server's Shoutcast-compatible
  // source port) and feeds mount.
  void SetShoutcastMount(const std::string& mount) { shoutcastMount_ = mount; }
  // Before Start: how many sources the server takes at once (default 8).
  void SetSourceLimit(int sources) { sourceLimit_ = sources; }
  // Starts the server; false (with the reason in Error()) when it does not answer.
  bool Start();
  void Stop();
  bool Running() const { return server_ != nullptr; }
  int Port() const { return port_; }
  const std::string& Error() const { return error_; }
  std::string Url(const std::string& mount) const;

  // Starts `ffmpeg -re` sending a 440 Hz tone to mount ("/live.mp3": MP3 128 kbit/s, "/x.ogg":
  // Ogg Vorbis); false when the mount is not listed by the server within a few seconds.
  bool StartSource(const std::string& mount);
  void StopSources();
  // Sets the mount's title with the admin metadata call; true on an HTTP 200 answer.
  bool SetTitle(const std::string& mount, const std::string& title);

  // True when the server lists mount as live.
  bool MountLive(const std::string& mount);

 private:
  TempDir dir_;
  int port_ = 0;
  std::string error_;
  std::string shoutcastMount_;
  int sourceLimit_ = 8;
  std::unique_ptr<ServerProcess> server_;
  std::vector<std::unique_ptr<ServerProcess>> sources_;
};

// A free TCP port on 127.0.0.1 (bound and released).
int FreeLoopbackPort();
// GET of path on 127.0.0.1:port with optional Basic credentials ("user:password"); returns the
// status code (0 when there is no answer) and the body in *body.
int LoopbackGet(int port, const std::string& path, const std::string& credentials = "",
                std::string* body = nullptr);

}  // namespace velloran::test
