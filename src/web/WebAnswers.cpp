#include "web/WebAnswers.h"

namespace velloran::web {

void SendJSON(THttpResponse& response, const TPersistentNode& node) {
  response.contentType = "application/json";
  response.SetText(node.AsJSon(true, true));
}

void SendText(THttpResponse& response, const std::string& text) {
  response.contentType = "text/plain; charset=ISO-8859-1";
  response.SetText(text);
}

void SendNotFound(THttpResponse& response) {
  response.status = 404;
  response.SetText("not found");
}

}  // namespace velloran::web
