// Remote commands through the whole program path: the real web server on a loopback port, the
// application object with its slot list of generator slots recording into real files, and the
// main thread's queue. The test thread is the main thread, so while it waits for an answer no
// start or stop can run: an answer that comes back with the slot unchanged proves that the
// request did not wait for the slot.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/AppWebService.h"
#include "app/Application.h"
#include "app/BassAudioLibrary.h"
#include "app/SlotListHost.h"
#include "app/WebServerService.h"
#include "audio/devices/DeviceCatalogue.h"
#include "core/Base64.h"
#include "core/ConfigFile.h"
#include "support/RawHttp.h"
#include "support/TempDir.h"
#include "support/qt/ProcessEventsUntil.h"

namespace velloran::app {
namespace {

using velloran::test::RawHttpReply;
using velloran::test::RawRequest;

using velloran::test::ProcessEventsUntil;

class RemoteCommandsTest : public ::testing::Test {
 protected:
  // Slots 1 and 2 (counted from 1) are the ones the commands address; slot 3 is toggled after
  // every request as a fence: once its change is seen, everything posted before has been
  // handled, so "nothing changed" is a real observation and not a race.
  static constexpr int kSlots = 3;

  RemoteCommandsTest() {
    {
      std::ofstream ini(dir_.File("Velloran.ini"));
      ini << "[General]\nSlotCount=" << kSlots << "\nAlarmSlotCount=0\n"
          << "[Webserver]\nPort=127.0.0.1:0\nAdminUser=admin\nReadOnlyUser=reader\n";
      for (int i = 0; i < kSlots; ++i) {
        ini << "[Slot" << i << "]\nName=Slot " << i + 1
            << "\nSource=Soundcard\nDevice=GEN:tone\nFormat=wav16\nEnabled=on\nFolder="
            << dir_.File("rec" + std::to_string(i)) << "\n";
      }
    }
    config_ = std::make_unique<ConfigFile>(dir_.File("Velloran.ini"));
    catalogue_ = audio::BuildDeviceCatalogue(*config_);
    AppParts parts;
    parts.config = config_.get();
    parts.audio = &audio_;
    app_ = std::make_unique<TVelloranApp>(parts);
    host_ = std::make_unique<SlotListHost>(*config_, catalogue_.get(), [] {});
    web::TWebServerOptions options;
    options.files = &noFiles_;
    service_ = std::make_unique<WebServerService>(
        *app_, false, options, MakeAppWebService(*app_, [this] { return &host_->List(); }));
    app_->SetSlotHost(host_.get());
    app_->SetWebServer(service_.get());
    app_->Create();
    app_->Settings().adminPassword.SetText("pw");
    app_->Settings().readOnlyPassword.SetText("ro");
    EXPECT_EQ(service_->StartClick(), std::nullopt);
    // The first files start on the main timer.
    EXPECT_TRUE(ProcessEventsUntil([this] {
      return Slot(1).Encoder() != 0 && Slot(2).Encoder() != 0 && Slot(3).Encoder() != 0;
    }));
  }
  ~RemoteCommandsTest() override {
    service_->Stop();
    app_->Destroy();
  }

  slots::TSlotInfo& Slot(int n) { return *host_->List().Slot(n - 1); }
  std::vector<bool> Enabled() { return {Slot(1).Enabled(), Slot(2).Enabled()}; }
  // Toggles the fence slot and lets the main thread run until the toggle is seen.
  void Fence() {
    const bool wanted = !Slot(3).Enabled();
    const RawHttpReply reply =
        Send("GET", "/ws/execute?command=SLOT%203%20" + std::string(wanted ? "START" : "STOP"),
             "admin:pw");
    ASSERT_EQ(reply.status, 200);
    ASSERT_TRUE(ProcessEventsUntil([&] { return Slot(3).Enabled() == wanted; }));
  }

  RawHttpReply Send(const std::string& method, const std::string& target,
                    const std::string& userPassword, const std::string& form = "") {
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: x\r\n";
    if (!userPassword.empty()) {
      request += "Authorization: Basic " + Base64Encode(userPassword) + "\r\n";
    }
    if (method == "POST") {
      request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                 std::to_string(form.size()) + "\r\n";
    }
    return RawRequest(service_->Server().Port(), request + "\r\n" + form);
  }

  velloran::test::TempDir dir_;
  BassAudioLibrary audio_;
  web::TWebFileList noFiles_;
  std::unique_ptr<ConfigFile> config_;
  std::shared_ptr<audio::DeviceCatalogue> catalogue_;
  std::unique_ptr<TVelloranApp> app_;
  std::unique_ptr<SlotListHost> host_;
  std::unique_ptr<WebServerService> service_;
};

TEST_F(RemoteCommandsTest, CommandsAnswerAtOnceAndRunInOrderOnTheMainThread) {
  ASSERT_EQ(Enabled(), (std::vector<bool>{true, true}));
  struct Case {
    const char* method;
    const char* target;
    const char* user;
    const char* form;
    int status;
    std::vector<bool> after;  // slots 1 and 2 once the main thread has run
  };
  const Case cases[] = {
      {"GET", "/ws/execute?command=SLOT%201%20STOP", "reader:ro", "", 200, {false, true}},
      {"POST", "/execute", "admin:pw", "command=SLOT+2+STOP", 200, {false, false}},
      {"GET", "/ws/execute?command=slot%201%20start", "reader:ro", "", 200, {false, false}},
      {"GET", "/ws/execute?command=SLOT%201%20START%20", "reader:ro", "", 200, {false, false}},
      {"GET", "/ws/execute?command=SLOT%201%20START%0A", "reader:ro", "", 200, {false, false}},
      {"GET", "/ws/execute?command=SLOT%20%201%20START", "reader:ro", "", 200, {false, false}},
      {"GET", "/ws/execute?command=%20SLOT%201%20START", "reader:ro", "", 200, {false, false}},
      {"GET", "/ws/execute", "reader:ro", "", 200, {false, false}},
      {"GET", "/ws/execute?command=SLOT%200%20START", "reader:ro", "", 200, {false, false}},
      {"GET", "/ws/execute?command=SLOT%20999%20START", "reader:ro", "", 200, {false, false}},
      {"GET",
       "/ws/execute?command=SLOT%202147483648%20START",
       "reader:ro",
       "",
       500,
       {false, false}},
      // A read-only user never runs a command through "/execute".
      {"GET", "/execute?command=SLOT%201%20START", "reader:ro", "", 404, {false, false}},
      {"POST", "/execute", "reader:ro", "command=SLOT+1+START", 200, {false, false}},
      // Leading zeros; the parameter name in any letter case.
      {"GET", "/execute?COMMAND=SLOT%2001%20START", "admin:pw", "", 200, {true, false}},
      {"POST", "/ws/execute", "reader:ro", "Command=SLOT+0002+START", 200, {true, true}},
  };
  for (const Case& c : cases) {
    const std::string label = std::string(c.method) + " " + c.target + " " + c.form;
    const std::vector<bool> before = Enabled();
    const RawHttpReply reply = Send(c.method, c.target, c.user, c.form);
    EXPECT_EQ(reply.status, c.status) << label;
    if (c.status == 200) {
      EXPECT_EQ(reply.body, "") << label;
    }
    EXPECT_EQ(Enabled(), before) << label;  // answered before the main thread acted
    Fence();
    EXPECT_EQ(Enabled(), c.after) << label;
  }
  EXPECT_NE(Slot(1).Encoder(), 0u);
  EXPECT_NE(Slot(2).Encoder(), 0u);
}

TEST_F(RemoteCommandsTest, QuickCommandsKeepTheirOrder) {
  // Sent back to back before the main thread runs: only the order of the last two decides.
  const char* commands[] = {"SLOT%201%20STOP", "SLOT%202%20STOP", "SLOT%201%20START",
                            "SLOT%202%20START", "SLOT%201%20STOP"};
  for (const char* command : commands) {
    ASSERT_EQ(Send("GET", std::string("/ws/execute?command=") + command, "admin:pw").status, 200);
  }
  EXPECT_EQ(Enabled(), (std::vector<bool>{true, true}));
  Fence();
  EXPECT_EQ(Enabled(), (std::vector<bool>{false, true}));
  EXPECT_EQ(Slot(1).Encoder(), 0u);
  EXPECT_NE(Slot(2).Encoder(), 0u);
}

}  // namespace
}  // namespace velloran::app
