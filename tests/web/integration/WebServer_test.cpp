// The web server frame against real HTTP over loopback: each test starts the server on a free
// port of 127.0.0.1 with its own built-in file list and override folder. The web service and
// the remote commands do not exist yet; a recording dispatch stands in for them (it only notes
// what reached it), so these tests check which requests the frame hands on.
#include "web/WebServer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/Base64.h"
#include "core/Clock.h"
#include "core/Error.h"
#include "support/RawHttp.h"
#include "support/TempDir.h"
#include "web/HashWebPassword.h"
#include "web/WebAnswers.h"

namespace velloran::web {
namespace {

namespace fs = std::filesystem;
using test::HttpGet;
using test::RawRequest;

const unsigned char kIndex[] = "<html>built-in index</html>";
const unsigned char kApp[] = "export const x = 1;";
const unsigned char kStyle[] = "body{}";

class RecordingDispatch : public IWebDispatch {
 public:
  void ExecuteCommand(const THttpRequest& request, THttpResponse& response,
                      TAccessLevel level) override {
    Note("execute " + request.document + " " + request.Param("command") + " level " +
         std::to_string(static_cast<int>(level)));
    if (request.Param("command") == "FAIL") {
      response.contentType = "text/plain";
      response.SetStream(std::make_unique<TMemoryBodyStream>(kApp, sizeof kApp - 1));
      throw Error("Command failed");
    }
    SendText(response, "OK");
  }
  bool HandleWebService(const THttpRequest& request, THttpResponse& response,
                        TAccessLevel) override {
    Note("service " + request.document);
    if (request.document == "/ws/slots") {
      auto list = TPersistentArray::Create();
      list->Add(TPersistentNode::String("a/b"));
      SendJSON(response, *list);
      return true;
    }
    return false;
  }
  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

 private:
  void Note(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(call);
  }
  std::mutex mutex_;
  std::vector<std::string> calls_;
};

class WebServerTest : public ::testing::Test {
 protected:
  WebServerTest()
      : files_({{"/index.html", WebResourceName("/index.html"), kIndex, sizeof kIndex - 1},
                {"/app.js", WebResourceName("/app.js"), kApp, sizeof kApp - 1},
                {"/css/style.css", WebResourceName("/css/style.css"), kStyle, sizeof kStyle - 1}}) {
    folder_ = dir_.Path() / "resources" / "web";
    fs::create_directories(folder_);
    std::ofstream(dir_.Path() / "secret.txt") << "secret";
    settings_.port = "127.0.0.1:0";
    settings_.adminUser = "admin";
    settings_.adminPasswordHash = HashWebPassword("secret");
    settings_.readOnlyUser = "reader";
    settings_.readOnlyPasswordHash = HashWebPassword("view");
  }
  ~WebServerTest() override {
    if (server_) {
      server_->Stop();
    }
    SetClock(nullptr);
  }

  void StartServer(TAccessLevel anonymous = TAccessLevel::alNone) {
    TWebServerOptions options;
    options.overrideFolder = folder_.string();
    options.files = &files_;
    options.limits = limits_;
    options.throttle = throttle_;
    server_ = std::make_unique<TWebServer>(
        options,
        [this](const std::string& line) {
          std::lock_guard<std::mutex> lock(logMutex_);
          log_.push_back(line);
        },
        &dispatch_);
    settings_.anonymousAccess = anonymous;
    server_->Start(settings_);
    ASSERT_TRUE(server_->Active());
    port_ = server_->Port();
    ASSERT_NE(port_, 0);
  }

  std::vector<std::string> Log() {
    std::lock_guard<std::mutex> lock(logMutex_);
    return log_;
  }

  test::TempDir dir_;
  fs::path folder_;
  TWebFileList files_;
  TWebServerSettings settings_;
  THttpServerLimits limits_;
  TLoginThrottleSettings throttle_;
  RecordingDispatch dispatch_;
  std::unique_ptr<TWebServer> server_;
  uint16_t port_ = 0;
  std::mutex logMutex_;
  std::vector<std::string> log_;
};

TEST_F(WebServerTest, RootRedirectsAndBuiltInFilesAreServed) {
  StartServer(TAccessLevel::alReadOnly);
  const auto root = HttpGet(port_, "/");
  EXPECT_EQ(root.status, 302);
  EXPECT_EQ(root.Header("location"), "/index.html");
  EXPECT_EQ(root.Header("connection"), "close");
  EXPECT_EQ(root.Header("content-length"), "0");

  const auto page = HttpGet(port_, "/INDEX.HTML");  // the list ignores letter case
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.body, "<html>built-in index</html>");
  EXPECT_EQ(page.Header("content-type"), "text/html");
  EXPECT_EQ(page.Header("content-disposition"), "");

  const auto script = HttpGet(port_, "/app.js?v=2");
  EXPECT_EQ(script.Header("content-type"), "text/javascript");
  EXPECT_EQ(script.body, "export const x = 1;");

  // A path with ".." is not looked up in the override folder but still among the built-ins.
  const auto dotted = HttpGet(port_, "/css/../css/style.css");
  EXPECT_EQ(dotted.status, 404);
  std::ofstream(folder_ / "style.css") << "override";
  EXPECT_EQ(HttpGet(port_, "/css/style.css").body, "body{}");

  const auto head = HttpGet(port_, "/index.html", "", "HEAD");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.Header("content-length"), "0");
  EXPECT_EQ(head.body, "");
}

TEST_F(WebServerTest, OverrideFolderBeatsTheBuiltInFile) {
  std::ofstream(folder_ / "index.html") << "<html>override</html>";
  fs::create_directories(folder_ / "fonts");
  std::ofstream(folder_ / "fonts" / "a.woff2") << "font";
  StartServer(TAccessLevel::alAdmin);
  const auto page = HttpGet(port_, "/index.html");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.body, "<html>override</html>");
  EXPECT_EQ(page.Header("content-type"), "text/html");
  EXPECT_EQ(page.Header("content-disposition"), "inline");
  EXPECT_EQ(page.Header("content-length"), "21");
  EXPECT_EQ(HttpGet(port_, "/fonts/a.woff2").Header("content-type"), "font/woff2");
  EXPECT_EQ(HttpGet(port_, "/app.js").body, "export const x = 1;");  // not overridden
}

TEST_F(WebServerTest, TraversalNeverLeavesTheOverrideFolder) {
  fs::create_directories(dir_.Path() / "outside");
  std::ofstream(dir_.Path() / "outside" / "data.txt") << "secret";
  fs::create_directory_symlink(dir_.Path() / "outside", folder_ / "link");
  fs::create_symlink(dir_.Path() / "secret.txt", folder_ / "file.txt");
  std::ofstream(folder_ / "ok.txt") << "fine";
  StartServer(TAccessLevel::alAdmin);
  for (const char* target :
       {"/../secret.txt", "/%2e%2e/secret.txt", "/%2E%2E/%2e%2e/secret.txt",
        "/%252e%252e/secret.txt", "/..%2fsecret.txt", "/..%5csecret.txt", "/..\\secret.txt",
        "/link/data.txt", "/file.txt", "/./../secret.txt", "//../secret.txt",
        "/ok.txt/../../secret.txt", "/ok.txt%00/../../secret.txt"}) {
    const auto reply = HttpGet(port_, target);
    EXPECT_TRUE(reply.received) << target;
    EXPECT_EQ(reply.body.find("secret"), std::string::npos) << target;
    EXPECT_EQ(reply.status, 404) << target;
  }
  EXPECT_EQ(HttpGet(port_, "/ok.txt").body, "fine");
}

TEST_F(WebServerTest, AuthenticationLevels) {
  StartServer(TAccessLevel::alNone);
  for (const char* target : {"/index.html", "/ws/slots", "/missing"}) {
    const auto reply = HttpGet(port_, target);
    EXPECT_EQ(reply.status, 401) << target;
    EXPECT_EQ(reply.Header("www-authenticate"), "Basic realm=\"Sondrel Velloran\"") << target;
  }
  EXPECT_EQ(HttpGet(port_, "/index.html", "admin:secret").status, 200);
  EXPECT_EQ(HttpGet(port_, "/index.html", "reader:view").status, 200);
  EXPECT_EQ(HttpGet(port_, "/index.html", "admin:view").status, 401);
  EXPECT_EQ(HttpGet(port_, "/index.html", "Admin:secret").status, 401);  // exact user name
  EXPECT_EQ(HttpGet(port_, "/ws/slots", "reader:view").body, "[\"a\\/b\"]");
  EXPECT_EQ(HttpGet(port_, "/ws/slots", "reader:view").Header("content-type"), "application/json");
  EXPECT_TRUE(dispatch_.Calls().size() == 2);  // nothing reached the dispatch before log-in
}

TEST_F(WebServerTest, WrongCredentialsAreRefusedEvenWithAnonymousAdmin) {
  throttle_.freeFailures = 2;
  throttle_.firstDelayMs = 1;
  StartServer(TAccessLevel::alAdmin);
  EXPECT_EQ(HttpGet(port_, "/index.html").status, 200);
  for (int i = 0; i < 5; ++i) {  // slowed down after two, but always 401
    const auto reply = HttpGet(port_, "/index.html", "admin:wrong");
    EXPECT_EQ(reply.status, 401);
    EXPECT_EQ(reply.Header("www-authenticate"), "Basic realm=\"Sondrel Velloran\"");
  }
  EXPECT_EQ(HttpGet(port_, "/index.html", "admin:secret").status, 200);
}

TEST_F(WebServerTest, SameUserNameTriesTheReadOnlyPasswordAfterTheAdminOne) {
  settings_.readOnlyUser = "admin";
  StartServer();
  EXPECT_EQ(HttpGet(port_, "/execute?command=X", "admin:view").status, 404);  // read-only
  EXPECT_EQ(HttpGet(port_, "/execute?command=X", "admin:secret").body, "OK");
}

TEST_F(WebServerTest, EmptyStoredHashClosesTheAccount) {
  settings_.adminPasswordHash = "";
  settings_.readOnlyPasswordHash = HashWebPassword("");
  StartServer();
  EXPECT_EQ(HttpGet(port_, "/index.html", "admin:").status, 401);
  EXPECT_EQ(HttpGet(port_, "/index.html", "reader:").status, 200);  // empty password set
}

TEST_F(WebServerTest, CommandPathsAndTheirRights) {
  StartServer();
  EXPECT_EQ(HttpGet(port_, "/execute?Command=SLOT+1+START", "admin:secret").body, "OK");
  EXPECT_EQ(HttpGet(port_, "/ws/execute?command=A", "reader:view").body, "OK");
  // Read-only on "/execute": GET falls through to the web service (404), POST is an empty 200.
  EXPECT_EQ(HttpGet(port_, "/execute?command=B", "reader:view").status, 404);
  const std::string auth = "Authorization: Basic " + Base64Encode("reader:view") + "\r\n";
  const auto post = RawRequest(port_, "POST /execute HTTP/1.1\r\nHost: x\r\n" + auth +
                                          "Content-Type: application/x-www-form-urlencoded\r\n"
                                          "Content-Length: 9\r\n\r\ncommand=C");
  EXPECT_EQ(post.status, 200);
  EXPECT_EQ(post.body, "");
  // A form body's parameters, names ignoring case.
  const std::string admin = "Authorization: Basic " + Base64Encode("admin:secret") + "\r\n";
  const auto form =
      RawRequest(port_, "POST /execute HTTP/1.1\r\nHost: x\r\n" + admin +
                            "Content-Type: application/x-www-form-urlencoded; charset=UTF-8"
                            "\r\nContent-Length: 14\r\n\r\nCOMMAND=D+%2B1");
  EXPECT_EQ(form.body, "OK");
  // POST elsewhere: empty 200, nothing dispatched.
  const auto other = RawRequest(
      port_, "POST /index.html HTTP/1.1\r\nHost: x\r\n" + admin + "Content-Length: 0\r\n\r\n");
  EXPECT_EQ(other.status, 200);
  EXPECT_EQ(other.body, "");

  const std::vector<std::string> expected = {"execute /execute SLOT 1 START level 1",
                                             "execute /ws/execute A level 2", "service /execute",
                                             "execute /execute D +1 level 1"};
  EXPECT_EQ(dispatch_.Calls(), expected);
}

TEST_F(WebServerTest, FailuresAnswer500WithTheMessage) {
  StartServer(TAccessLevel::alAdmin);
  const auto reply = HttpGet(port_, "/execute?command=FAIL");
  EXPECT_EQ(reply.status, 500);
  EXPECT_EQ(reply.body, "Command failed");  // the stream chosen before is not sent
  EXPECT_EQ(reply.Header("content-type"), "text/plain");
  const auto missing = HttpGet(port_, "/nothing/here");
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(missing.body, "not found");
  EXPECT_EQ(missing.Header("content-type"), "text/html; charset=ISO-8859-1");
}

TEST_F(WebServerTest, OtherMethodsNeedNoCredentialsAndAreLogged) {
  StartServer(TAccessLevel::alNone);
  for (const char* method : {"PUT", "DELETE", "OPTIONS"}) {
    const auto reply = HttpGet(port_, "/ws/slots", "", method);
    EXPECT_EQ(reply.status, 200) << method;
    EXPECT_EQ(reply.body, "") << method;
    EXPECT_EQ(reply.Header("content-length"), "0") << method;
  }
  // A body is never read for them, however large it is announced.
  const auto put =
      RawRequest(port_, "PUT /x HTTP/1.1\r\nHost: x\r\nContent-Length: 99999999\r\n\r\n");
  EXPECT_EQ(put.status, 200);
  const std::vector<std::string> expected = {"PUT", "DELETE", "OPTIONS", "PUT"};
  EXPECT_EQ(Log(), expected);
  EXPECT_TRUE(dispatch_.Calls().empty());
}

TEST_F(WebServerTest, OversizedRequestsAreRefused) {
  limits_.maxBodyBytes = 1024;
  limits_.connectionMemoryBytes = 8 * 1024;
  StartServer(TAccessLevel::alAdmin);
  const auto big = RawRequest(port_,
                              "POST /execute HTTP/1.1\r\nHost: x\r\n"
                              "Content-Type: application/x-www-form-urlencoded\r\n"
                              "Content-Length: 1025\r\n\r\n" +
                                  std::string(1025, 'a'));
  EXPECT_EQ(big.status, 413);
  // A chunked body longer than the limit ends the connection without an answer.
  std::string chunked = "POST /execute HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 4; ++i) {
    chunked += "200\r\n" + std::string(512, 'b') + "\r\n";
  }
  chunked += "0\r\n\r\n";
  EXPECT_NE(RawRequest(port_, chunked).status, 200);
  // Headers beyond the connection memory.
  const auto header = RawRequest(port_, "GET /index.html HTTP/1.1\r\nHost: x\r\nX-Big: " +
                                            std::string(16 * 1024, 'h') + "\r\n\r\n");
  EXPECT_TRUE(header.status == 431 || header.status == 413 || header.status == 400 ||
              !header.received)
      << header.statusLine;
  EXPECT_TRUE(dispatch_.Calls().empty());
  EXPECT_EQ(HttpGet(port_, "/index.html").status, 200);  // the server lives on
}

TEST_F(WebServerTest, SlowSenderIsCutAtTheRequestTimeOut) {
  auto clock = std::make_shared<ManualClock>();
  SetClock(clock);
  limits_.requestTimeoutMs = 5000;
  StartServer(TAccessLevel::alAdmin);
  const int fd = test::ConnectLoopback(port_);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(test::SendAll(fd, "GET /index.html HTTP/1.1\r\nHost: x\r\n"));  // unfinished
  // The time-out counts from the moment the server took the connection.
  while (server_->ConnectionCount() == 0) {
    std::this_thread::yield();
  }
  clock->Advance(4000);
  ASSERT_TRUE(test::SendAll(fd, "X-Slow: 1\r\n"));  // still trickling in
  clock->Advance(1001);
  EXPECT_TRUE(test::WaitForClose(fd));  // cut without an answer, before the safety time-out
  ::close(fd);
  // A complete request is not affected by the watchdog.
  EXPECT_EQ(HttpGet(port_, "/index.html").status, 200);
}

TEST_F(WebServerTest, StartFailuresAndRestart) {
  StartServer(TAccessLevel::alAdmin);
  // The same port again: in use.
  TWebServerOptions options;
  options.files = &files_;
  TWebServer second(options, nullptr);
  TWebServerSettings busy = settings_;
  busy.port = "127.0.0.1:" + std::to_string(port_);
  EXPECT_THROW(second.Start(busy), Error);
  EXPECT_FALSE(second.Active());
  busy.port = "203.0.113.7:0";  // not an address of this machine
  EXPECT_THROW(second.Start(busy), Error);
  busy.port = "no-such-host.invalid:0";
  EXPECT_THROW(second.Start(busy), Error);
  EXPECT_FALSE(second.Active());

  server_->Start(settings_);  // running: nothing happens
  EXPECT_EQ(server_->Port(), port_);
  server_->Stop();
  EXPECT_FALSE(server_->Active());
  EXPECT_FALSE(HttpGet(port_, "/index.html").received);
  server_->Start(settings_);
  ASSERT_TRUE(server_->Active());
  EXPECT_EQ(HttpGet(server_->Port(), "/index.html").status, 200);
}

}  // namespace
}  // namespace velloran::web
