#pragma once
// THttpServer: the HTTP layer of the web server, on libmicrohttpd with one thread per
// connection. It reads each request (the target, parameters, Basic credentials and byte ranges
// are parsed by RequestParsing, not by the library), hands it to an IHttpHandler and writes the
// THttpResponse the handler filled. GET, HEAD and POST go to HandleGet, every other method to
// HandleOther, which is called as soon as the headers are in (a body is never read for it).
// A handler that raises turns the answer into status 500 "Error" with the message as body.
//
// Limits that protect the recorder from its network:
//   - at most maxConnections connections, maxConnectionsPerAddress from one address;
//   - request line and headers within connectionMemoryBytes (larger: the library answers 431);
//   - a request body of at most maxBodyBytes (a larger Content-Length is answered 413 before
//     the body is read; a longer chunked body closes the connection);
//   - the whole request (headers and body) must arrive within requestTimeoutMs of the
//     connection's start (tick count of core/Clock): a slow sender's connection is cut; a
//     connection idle for idleTimeoutSeconds is closed by the library;
//   - one request per connection: every answer carries "Connection: close".
//
// Thread contract: Start, Stop, Active and Port on one owning thread (the main thread);
// ConnectionCount from any thread.
// Handlers run concurrently on the connection threads. Stop closes the listening socket and
// every connection and waits for their threads; while it waits it calls whileWaiting over and
// over (the application serves its main-thread hand-off there, so a handler blocked in a
// hand-off to the main thread cannot hold up the stop).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "web/HttpRequest.h"
#include "web/HttpResponse.h"

namespace velloran::web {

struct THttpServerLimits {
  unsigned maxConnections = 256;
  unsigned maxConnectionsPerAddress = 64;
  unsigned idleTimeoutSeconds = 30;
  uint64_t requestTimeoutMs = 30000;
  size_t maxBodyBytes = 64 * 1024;
  size_t connectionMemoryBytes = 32 * 1024;
  size_t threadStackBytes = 1024 * 1024;
};

// Where to listen: an address ("" for every local address, IPv6 included where the system has
// it; a host name, an IPv4 or an IPv6 address, the latter also in brackets) and a port (0 picks
// a free one, see Port()).
struct THttpBinding {
  std::string address;
  uint16_t port = 0;
};

class IHttpHandler {
 public:
  virtual ~IHttpHandler() = default;
  virtual void HandleGet(const THttpRequest& request, THttpResponse& response) = 0;
  virtual void HandleOther(const THttpRequest& request, THttpResponse& response) = 0;
};

class THttpServer {
 public:
  explicit THttpServer(IHttpHandler& handler, THttpServerLimits limits = {});
  ~THttpServer();  // Stop()
  THttpServer(const THttpServer&) = delete;
  THttpServer& operator=(const THttpServer&) = delete;

  // Opens the listening socket; raises velloran::Error with the reason when it cannot (address
  // unknown or not local, port in use). Does nothing while active.
  void Start(const THttpBinding& binding);
  void Stop(const std::function<void()>& whileWaiting = {});
  bool Active() const;
  // The port listened on (the chosen one after port 0); 0 when not active.
  uint16_t Port() const;

  // Connections open at this moment (accepted and not yet closed).
  size_t ConnectionCount() const;

  // A connection thread waits here (a failed log-in's slow-down); returns early when the
  // server stops.
  void InterruptibleSleep(uint64_t ms);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace velloran::web
