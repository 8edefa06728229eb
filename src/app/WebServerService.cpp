#include "app/WebServerService.h"

#include <exception>

namespace velloran::app {

WebServerService::WebServerService(TVelloranApp& app, bool echoToMessageLog,
                                   web::TWebServerOptions options,
                                   std::unique_ptr<web::IWebDispatch> dispatch)
    : app_(app),
      dispatch_(std::move(dispatch)),
      server_(
          std::move(options), [&app](const std::string& line) { app.LogMessage(nullptr, line); },
          dispatch_.get()) {
  if (echoToMessageLog) {
    log_.SetOnText([&app](const std::string& text) { app.LogMessage(nullptr, text); });
  }
}

std::optional<std::string> WebServerService::StartClick() {
  if (server_.Active()) {
    return std::nullopt;
  }
  const TGlobalSettings& settings = app_.Settings();
  web::TWebServerSettings applied;
  applied.port = settings.port;
  applied.adminUser = settings.adminUser;
  applied.adminPasswordHash = settings.adminPassword.Hash();
  applied.readOnlyUser = settings.readOnlyUser;
  applied.readOnlyPasswordHash = settings.readOnlyPassword.Hash();
  applied.anonymousAccess = settings.anonymousAccess;
  try {
    server_.Start(applied);
  } catch (const std::exception& e) {
    const std::string message = e.what();
    log_.Append("Error starting web server: " + message);
    return message;
  }
  log_.Append("Web server started");
  app_.FlushGlobalConfig();
  return std::nullopt;
}

void WebServerService::Deactivate() {
  server_.Stop([this] { app_.ServeMainThreadHandOffs(); });
  log_.Append("Web server stopped");
}

void WebServerService::StopClick() {
  if (!server_.Active()) {
    return;
  }
  Deactivate();
  app_.FlushGlobalConfig();
}

void WebServerService::Stop() {
  if (server_.Active()) {
    Deactivate();
  }
}

}  // namespace velloran::app
