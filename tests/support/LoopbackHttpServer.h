#pragma once
// A scripted HTTP server on 127.0.0.1 (free port) for tests that need a server answering in a
// particular way: each path gets a handler that writes the raw answer (headers included) to the
// connection, so a test can send playlists, web pages, redirect loops, broken metadata, or stall
// after the headers. One thread per connection; all end when the server stops.
// Thread contract: Route before Start; handlers run on the connection threads and should return
// when Stopping() becomes true.
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velloran::test {

class LoopbackHttpServer {
 public:
  using Handler = std::function<void(int fd)>;

  LoopbackHttpServer();
  ~LoopbackHttpServer();

  void Route(const std::string& path, Handler handler) { routes_[path] = std::move(handler); }
  // A fixed answer: status line, the given headers and the body.
  void RouteText(const std::string& path, const std::string& contentType, const std::string& body,
                 const std::string& status = "HTTP/1.0 200 OK");
  bool Start();
  void Stop();
  bool Stopping() const { return stopping_.load(); }
  int Port() const { return port_; }
  std::string Url(const std::string& path) const;

  // Writes all bytes (false when the peer went away).
  static bool SendAll(int fd, const std::string& data);

 private:
  void AcceptLoop();
  void Serve(int fd);

  std::map<std::string, Handler> routes_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  std::mutex mutex_;
  std::vector<std::thread> connections_;
};

}  // namespace velloran::test
