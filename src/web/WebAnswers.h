#pragma once
// The answer helpers of the web service and the remote commands:
//   SendJSON      content type "application/json", body AsJSon(true, true) of the node;
//   SendText      content type "text/plain; charset=ISO-8859-1", body the text;
//   SendNotFound  status 404, body "not found", no content type (the default applies).
// Thread contract: the connection thread that owns the response.
#include <string>

#include "web/HttpResponse.h"
#include "web/PersistentJson.h"

namespace velloran::web {

void SendJSON(THttpResponse& response, const TPersistentNode& node);
void SendText(THttpResponse& response, const std::string& text);
void SendNotFound(THttpResponse& response);

}  // namespace velloran::web
