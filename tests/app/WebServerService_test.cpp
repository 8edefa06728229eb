// The web server as the application drives it: the Start/Stop buttons, their log lines and
// configuration writes, and a request thread's log line handed to the main thread, against the
// real server on a free loopback port.
#include "app/WebServerService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "AppFakes.h"
#include "app/Application.h"
#include "core/ConfigFile.h"
#include "support/RawHttp.h"
#include "support/TempDir.h"
#include "support/qt/ProcessEventsUntil.h"

namespace velloran::app {
namespace {

using velloran::test::ProcessEventsUntil;

class WebServerServiceTest : public ::testing::Test {
 protected:
  WebServerServiceTest() {
    std::ofstream(dir_.File("Velloran.ini"))
        << "[General]\nSlotCount=0\n[Webserver]\nPort=127.0.0.1:0\nAdminUser=admin\n";
    config_ = std::make_unique<ConfigFile>(dir_.File("Velloran.ini"));
    AppParts parts;
    parts.config = config_.get();
    parts.audio = &audio_;
    app_ = std::make_unique<TVelloranApp>(parts);
    web::TWebServerOptions options;
    options.files = &files_;
    service_ = std::make_unique<WebServerService>(*app_, true, options);
    app_->SetWebServer(service_.get());
    app_->Create();
    app_->Settings().adminPassword.SetText("pw");
  }
  ~WebServerServiceTest() override {
    service_->Stop();
    app_->Destroy();
  }
  std::string Enabled() {
    return ConfigFile(dir_.File("Velloran.ini")).ReadString("Webserver", "Enabled", "");
  }
  bool MessagesHave(const std::string& text) {
    for (const std::string& line : app_->Messages().Lines()) {
      if (line.size() >= text.size() &&
          line.compare(line.size() - text.size(), text.size(), text) == 0) {
        return true;
      }
    }
    return false;
  }

  velloran::test::TempDir dir_;
  test::Steps steps_;
  test::FakeAudioLibrary audio_{steps_};
  web::TWebFileList files_;
  std::unique_ptr<ConfigFile> config_;
  std::unique_ptr<TVelloranApp> app_;
  std::unique_ptr<WebServerService> service_;
};

TEST_F(WebServerServiceTest, StartAndStopButtonsLogAndWriteTheConfiguration) {
  EXPECT_EQ(service_->StartClick(), std::nullopt);
  ASSERT_TRUE(service_->Running());
  EXPECT_EQ(Enabled(), "on");
  ASSERT_EQ(service_->Log().Lines().size(), 1u);
  EXPECT_NE(service_->Log().Lines()[0].find(": Web server started"), std::string::npos);
  EXPECT_TRUE(MessagesHave(": Web server started"));  // headless: the message log too

  const uint16_t port = service_->Server().Port();
  // Settings as they were at start: the admin account with the typed password.
  std::atomic<int> status{0};
  std::thread client([&] { status = velloran::test::HttpGet(port, "/x", "admin:pw").status; });
  ProcessEventsUntil([&] { return status.load() != 0; });
  client.join();
  EXPECT_EQ(status.load(), 404);

  service_->StopClick();
  EXPECT_FALSE(service_->Running());
  EXPECT_EQ(Enabled(), "off");
  EXPECT_NE(service_->Log().Lines().back().find(": Web server stopped"), std::string::npos);
}

TEST_F(WebServerServiceTest, OtherMethodsReachTheMessageLogFromTheirThread) {
  service_->Start();
  const uint16_t port = service_->Server().Port();
  std::atomic<int> status{0};
  // The connection thread waits until the main thread has taken its line.
  std::thread client([&] { status = velloran::test::HttpGet(port, "/x", "", "DELETE").status; });
  ProcessEventsUntil([&] { return status.load() != 0; });
  client.join();
  EXPECT_EQ(status.load(), 200);
  EXPECT_TRUE(MessagesHave(": DELETE"));

  // A stop while requests that log are under way finishes: the stop serves the hand-off.
  std::thread more([&] {
    for (int i = 0; i < 5; ++i) {
      velloran::test::HttpGet(port, "/x", "", "PUT");
    }
  });
  service_->StopClick();
  more.join();
  EXPECT_FALSE(service_->Running());
}

TEST_F(WebServerServiceTest, StartFailureIsLoggedAndWritesNothing) {
  web::TWebServerOptions options;
  options.files = &files_;
  web::TWebServer blocker(options, nullptr);
  web::TWebServerSettings settings;
  settings.port = "127.0.0.1:0";
  blocker.Start(settings);
  app_->Settings().port = "127.0.0.1:" + std::to_string(blocker.Port());
  const std::string before =
      ConfigFile(dir_.File("Velloran.ini")).ReadString("Webserver", "Port", "");

  const auto error = service_->StartClick();
  ASSERT_TRUE(error.has_value());
  EXPECT_FALSE(service_->Running());
  ASSERT_EQ(service_->Log().Lines().size(), 1u);
  EXPECT_NE(service_->Log().Lines()[0].find(": Error starting web server: " + *error),
            std::string::npos);
  EXPECT_EQ(ConfigFile(dir_.File("Velloran.ini")).ReadString("Webserver", "Port", ""), before);
  EXPECT_EQ(Enabled(), "");
  blocker.Stop();
}

TEST_F(WebServerServiceTest, CloseStopsWithoutWritingOff) {
  service_->Start();
  app_->Close();  // writes "on" first, then stops the server
  EXPECT_FALSE(service_->Running());
  EXPECT_EQ(Enabled(), "on");
}

TEST(WebServerLogTest, KeepsAtMost1000StampedLines) {
  WebServerLog log;
  int passed = 0;
  log.SetOnText([&](const std::string&) { ++passed; });
  for (int i = 0; i < 1005; ++i) {
    log.Append("line " + std::to_string(i));
  }
  ASSERT_EQ(log.Lines().size(), 1000u);
  EXPECT_NE(log.Lines().front().find(": line 5"), std::string::npos);
  EXPECT_NE(log.Lines().back().find(": line 1004"), std::string::npos);
  EXPECT_EQ(passed, 1005);
}

}  // namespace
}  // namespace velloran::app
