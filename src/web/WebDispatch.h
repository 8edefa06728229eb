#pragma once
// The two places where the web server frame hands a request on, after authentication and
// after the static files: the remote commands and the recordings web service. They plug in
// through this interface; without one, commands answer nothing and every other path is 404.
// Thread contract: called on the connection threads, concurrently; implementations guard
// their own shared state.
#include "web/AccessLevel.h"
#include "web/HttpRequest.h"
#include "web/HttpResponse.h"

namespace velloran::web {

class IWebDispatch {
 public:
  virtual ~IWebDispatch() = default;
  // GET or POST of "/execute" with admin access, or of "/ws/execute" with any granted access:
  // runs the remote command of the "command" parameter and fills the answer.
  virtual void ExecuteCommand(const THttpRequest& request, THttpResponse& response,
                              TAccessLevel accessLevel) = 0;
  // A GET that no static file answered: "/ws/slots" and the per-slot routes. Returns false when
  // no route matches the path (the frame then answers 404 "not found").
  virtual bool HandleWebService(const THttpRequest& request, THttpResponse& response,
                                TAccessLevel accessLevel) = 0;
};

}  // namespace velloran::web
