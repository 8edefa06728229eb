#include "web/WebServer.h"

#include <exception>

#include "core/ConfigFile.h"
#include "core/Error.h"
#include "core/SondrelRegExpr.h"
#include "web/HashWebPassword.h"
#include "web/MimeTable.h"
#include "web/OverrideFolder.h"
#include "web/WebAnswers.h"

namespace velloran::web {
namespace {

constexpr int kMaxPort = 65535;

uint16_t CheckedPort(int64_t port, const std::string& text) {
  if (port < 0 || port > kMaxPort) {
    throw Error("Invalid port number " + text);
  }
  return static_cast<uint16_t>(port);
}

}  // namespace

TWebServer::TWebServer(TWebServerOptions options, LogFunction logMessage, IWebDispatch* dispatch)
    : options_(std::move(options)),
      files_(options_.files != nullptr ? options_.files : &TWebFileList::BuiltIn()),
      logMessage_(std::move(logMessage)),
      dispatch_(dispatch),
      throttle_(options_.throttle),
      http_(*this, options_.limits) {}

TWebServer::~TWebServer() {
  http_.Stop();
}

THttpBinding TWebServer::BindingForPortField(const std::string& text, int& defaultPort) {
  THttpBinding binding;
  TSondrelRegExpr expr;
  if (expr.Matches("^(.*):(\\d+)$", text)) {
    const std::string digits = expr.Match(2);
    int32_t port = 0;
    if (!TryParseConfigInteger(digits, port)) {
      throw Error("'" + digits + "' is not a valid integer value");
    }
    binding.address = expr.Match(1);
    binding.port = CheckedPort(port, digits);
    return binding;
  }
  int32_t port = 0;
  if (TryParseConfigInteger(text, port)) {
    CheckedPort(port, text);
    defaultPort = port;
  }
  binding.port = static_cast<uint16_t>(defaultPort);
  return binding;
}

void TWebServer::Start(const TWebServerSettings& settings) {
  if (http_.Active()) {
    return;
  }
  int defaultPort = defaultPort_;
  const THttpBinding binding = BindingForPortField(settings.port, defaultPort);
  settings_ = settings;
  http_.Start(binding);
  defaultPort_ = defaultPort;
}

void TWebServer::Stop(const std::function<void()>& whileWaiting) {
  http_.Stop(whileWaiting);
}

TAccessLevel TWebServer::Authenticate(const THttpRequest& request) const {
  if (!request.credentials) {
    return settings_.anonymousAccess;
  }
  const TBasicCredentials& given = *request.credentials;
  const std::string hash = HashWebPassword(given.password);
  // Both accounts are always compared in full, so the answer time tells nothing about which
  // part was wrong. An empty stored hash matches no password (a hash is never empty).
  const bool adminUser = ConstantTimeEquals(given.user, settings_.adminUser);
  const bool adminPassword = ConstantTimeEquals(hash, settings_.adminPasswordHash);
  const bool readOnlyUser = ConstantTimeEquals(given.user, settings_.readOnlyUser);
  const bool readOnlyPassword = ConstantTimeEquals(hash, settings_.readOnlyPasswordHash);
  const bool admin = adminUser && adminPassword;
  const bool readOnly = readOnlyUser && readOnlyPassword;
  if (admin) {
    return TAccessLevel::alAdmin;
  }
  if (readOnly) {
    return TAccessLevel::alReadOnly;
  }
  return TAccessLevel::alNone;
}

bool TWebServer::MayExecute(const std::string& document, TAccessLevel level) const {
  return (document == "/execute" && level == TAccessLevel::alAdmin) || document == "/ws/execute";
}

void TWebServer::HTTPServerCommandGet(const THttpRequest& request, THttpResponse& response) {
  try {
    const TAccessLevel level = Authenticate(request);
    if (request.credentials) {
      if (level == TAccessLevel::alNone) {
        const uint64_t delay = throttle_.RecordFailure(request.remoteAddress);
        if (delay > 0) {
          http_.InterruptibleSleep(delay);
        }
      } else {
        throttle_.RecordSuccess(request.remoteAddress);
      }
    }
    if (level == TAccessLevel::alNone) {
      response.authRealm = kWebRealm;
      return;
    }
    const std::string& document = request.document;
    switch (request.method) {
      case THttpMethod::hmGet: {
        const TWebFile* resource = files_->Find(document);
        if (document == "/") {
          response.Redirect("/index.html");
          return;
        }
        const std::string staticFile = ResolveOverrideFile(options_.overrideFolder, document);
        if (!staticFile.empty()) {
          response.contentDisposition = "inline";
          response.ServeFile(staticFile);
          return;
        }
        if (resource != nullptr) {
          if (resource->data == nullptr && resource->size != 0) {
            throw Error("Resource " + resource->resourceName + " not found");
          }
          response.contentType = TMimeTable::Instance().Lookup(document);
          response.SetStream(std::make_unique<TMemoryBodyStream>(resource->data, resource->size));
          return;
        }
        if (MayExecute(document, level)) {
          if (dispatch_ != nullptr) {
            dispatch_->ExecuteCommand(request, response, level);
          } else {
            SendNotFound(response);
          }
          return;
        }
        if (dispatch_ == nullptr || !dispatch_->HandleWebService(request, response, level)) {
          SendNotFound(response);
        }
        return;
      }
      case THttpMethod::hmPost:
        if (MayExecute(document, level) && dispatch_ != nullptr) {
          dispatch_->ExecuteCommand(request, response, level);
        }
        return;
      case THttpMethod::hmHead:
      case THttpMethod::hmOther:
        return;
    }
  } catch (const std::exception& e) {
    response.Fail(e.what());
  }
}

void TWebServer::HTTPServerCommandOther(const THttpRequest& request, THttpResponse& /*response*/) {
  if (logMessage_) {
    logMessage_(request.methodName);
  }
}

}  // namespace velloran::web
