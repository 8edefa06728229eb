#pragma once
// The web server as a service of the application: the Web Server page's Start and Stop buttons
// and the server's start at the first show and stop at close.
//   StartClick: takes the port field, the two users and their current password hashes and the
//     anonymous level from the settings, starts the server, logs "Web server started" to the
//     web server log and writes the global configuration ("Enabled" becomes "on"). A failure is
//     logged as "Error starting web server: %s" and returned for the window's message box; the
//     server stays stopped and the configuration is not written.
//   StopClick: stops the server, logs "Web server stopped", writes the configuration.
//   Start (first show) is StartClick; Stop (close, after the configuration was written with
//     the server still running) stops the server and logs "Web server stopped" without writing
//     the configuration, so the server starts again at the next program start.
// The remote methods' lines (HTTPServerCommandOther) go to the program's message log.
// Thread contract: every member on the main thread. Stopping serves the application's
// main-thread hand-off while it waits for the connection threads.
#include <memory>
#include <optional>
#include <string>

#include "app/Application.h"
#include "app/ServiceControl.h"
#include "app/WebServerLog.h"
#include "web/WebServer.h"

namespace velloran::app {

class WebServerService : public ServiceControl {
 public:
  // echoToMessageLog: the web server log's lines also go to the message log (headless mode,
  // where they then reach standard output). options.overrideFolder is usually
  // web::DefaultOverrideFolder(). dispatch (the web service and the commands) is kept for the
  // server's life; none answers every such path 404.
  WebServerService(TVelloranApp& app, bool echoToMessageLog, web::TWebServerOptions options,
                   std::unique_ptr<web::IWebDispatch> dispatch = nullptr);

  std::optional<std::string> StartClick();
  void StopClick();

  void Start() override { StartClick(); }
  void Stop() override;
  bool Running() const override { return server_.Active(); }

  WebServerLog& Log() { return log_; }
  web::TWebServer& Server() { return server_; }

 private:
  void Deactivate();

  TVelloranApp& app_;
  WebServerLog log_;
  std::unique_ptr<web::IWebDispatch> dispatch_;  // outlives the server that calls it
  web::TWebServer server_;
};

}  // namespace velloran::app
