#pragma once
// TWebServer: the web server frame. It owns the HTTP layer and is the single handler every
// request passes through:
//   HTTPServerCommandGet (GET, HEAD, POST), in this order: parameters (names ignoring case);
//   Basic authentication against the two accounts, or the anonymous level without credentials
//   (wrong credentials always give 401 with realm "Sondrel Velloran", repeated failures from
//   one address are slowed down); then for GET "/" a redirect to "/index.html", a file of the
//   override folder, a built-in file, the remote command ("/execute" admin, "/ws/execute" any
//   level) and last the web service (404 when no route matches). POST runs only the command
//   paths (anything else: empty 200); HEAD answers an empty 200. Any failure: 500 "Error" with
//   the message as body.
//   HTTPServerCommandOther (every other method): no authentication; the method name goes to
//   the main log as one line, the answer is an empty 200.
//
// Start reads the settings as they are (the fields do not change while the server runs) and
// the port field: "address:port" (the last colon splits; an empty address means every local
// address) binds that address; otherwise the text as an integer becomes the default port, or
// the default port (5252 at first) stays when the text is no integer. Port numbers above 65535
// and a port part too large for an integer are start failures; 0 picks a free port.
//
// Thread contract: Start, Stop, Active and Port on the main thread. The command handlers run on
// the connection threads; they read the settings taken at Start without a lock. The log
// callback may be called from any connection thread (it is the application's LogMessage).
#include <cstdint>
#include <functional>
#include <string>

#include "web/AccessLevel.h"
#include "web/HttpServer.h"
#include "web/LoginThrottle.h"
#include "web/WebDispatch.h"
#include "web/WebFileList.h"

namespace velloran::web {

inline constexpr const char* kWebRealm = "Sondrel Velloran";
inline constexpr int kDefaultWebPort = 5252;

// The server settings taken at Start.
struct TWebServerSettings {
  std::string port = "5252";  // the port field's text
  std::string adminUser;
  std::string adminPasswordHash;
  std::string readOnlyUser;
  std::string readOnlyPasswordHash;
  TAccessLevel anonymousAccess = TAccessLevel::alNone;
};

struct TWebServerOptions {
  std::string overrideFolder;           // "" : no override folder
  const TWebFileList* files = nullptr;  // nullptr: the built-in list
  THttpServerLimits limits;
  TLoginThrottleSettings throttle;
};

class TWebServer : private IHttpHandler {
 public:
  using LogFunction = std::function<void(const std::string&)>;

  // options.overrideFolder is usually DefaultOverrideFolder(). dispatch may be nullptr.
  TWebServer(TWebServerOptions options, LogFunction logMessage, IWebDispatch* dispatch = nullptr);
  ~TWebServer() override;
  TWebServer(const TWebServer&) = delete;
  TWebServer& operator=(const TWebServer&) = delete;

  // Raises velloran::Error when the server cannot start; it then stays stopped. Does nothing
  // while active.
  void Start(const TWebServerSettings& settings);
  void Stop(const std::function<void()>& whileWaiting = {});
  bool Active() const { return http_.Active(); }
  uint16_t Port() const { return http_.Port(); }
  size_t ConnectionCount() const { return http_.ConnectionCount(); }
  void SetDispatch(IWebDispatch* dispatch) { dispatch_ = dispatch; }

  // The binding for a port field text; defaultPort is the port kept between starts.
  static THttpBinding BindingForPortField(const std::string& text, int& defaultPort);

  void HTTPServerCommandGet(const THttpRequest& request, THttpResponse& response);
  void HTTPServerCommandOther(const THttpRequest& request, THttpResponse& response);
  // The access level a request's credentials grant under the current settings.
  TAccessLevel Authenticate(const THttpRequest& request) const;

 private:
  void HandleGet(const THttpRequest& request, THttpResponse& response) override {
    HTTPServerCommandGet(request, response);
  }
  void HandleOther(const THttpRequest& request, THttpResponse& response) override {
    HTTPServerCommandOther(request, response);
  }
  bool MayExecute(const std::string& document, TAccessLevel level) const;

  TWebServerOptions options_;
  const TWebFileList* files_;
  LogFunction logMessage_;
  IWebDispatch* dispatch_;
  TWebServerSettings settings_;
  int defaultPort_ = kDefaultWebPort;
  TLoginThrottle throttle_;
  THttpServer http_;
};

}  // namespace velloran::web
