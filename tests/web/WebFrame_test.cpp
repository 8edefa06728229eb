// The pieces of the web server frame that need no socket: port field rules, the MIME table,
// the built-in file list's names, the override folder's containment, the log-in slow-down and
// the header safety of answers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "core/Clock.h"
#include "core/Error.h"
#include "support/TempDir.h"
#include "web/HashWebPassword.h"
#include "web/HttpResponse.h"
#include "web/LoginThrottle.h"
#include "web/MimeTable.h"
#include "web/OverrideFolder.h"
#include "web/WebFileList.h"
#include "web/WebServer.h"

namespace velloran::web {
namespace {

namespace fs = std::filesystem;

TEST(WebFrameTest, PortFieldRules) {
  struct Case {
    const char* text;
    const char* address;
    int port;
    int defaultAfter;
  };
  // The default port starts at 5252 for each case.
  const Case cases[] = {
      {"127.0.0.1:8080", "127.0.0.1", 8080, 5252},
      {"8080", "", 8080, 8080},
      {"abc", "", 5252, 5252},
      {"", "", 5252, 5252},
      {":8081", "", 8081, 5252},
      {"[::1]:8082", "[::1]", 8082, 5252},
      {"a:b:8083", "a:b", 8083, 5252},  // the last colon splits
      {" 8084 ", "", 8084, 8084},
      {"$1F90", "", 8080, 8080},       // the configuration file's hexadecimal form
      {"host:8085x", "", 5252, 5252},  // no match, no integer: the default stays
  };
  for (const Case& c : cases) {
    int defaultPort = kDefaultWebPort;
    const THttpBinding binding = TWebServer::BindingForPortField(c.text, defaultPort);
    EXPECT_EQ(binding.address, c.address) << c.text;
    EXPECT_EQ(binding.port, c.port) << c.text;
    EXPECT_EQ(defaultPort, c.defaultAfter) << c.text;
  }
  for (const char* bad : {"host:99999999999", "host:65536", "70000", "-1"}) {
    int defaultPort = kDefaultWebPort;
    EXPECT_THROW(TWebServer::BindingForPortField(bad, defaultPort), Error) << bad;
    EXPECT_EQ(defaultPort, kDefaultWebPort) << bad;
  }
}

TEST(WebFrameTest, MimeTable) {
  struct Case {
    const char* file;
    const char* type;
  };
  const Case cases[] = {
      {"/index.html", "text/html"},
      {"/A.HTM", "text/html"},
      {"/css/site.css", "text/css"},
      {"/app.js", "text/javascript"},
      {"/logo.png", "image/png"},
      {"/f.woff2", "font/woff2"},
      {"/f.ttf", "font/ttf"},
      {"rec.mp3", "audio/mpeg"},
      {"rec.MP2", "audio/mpeg"},
      {"rec.ogg", "audio/ogg"},
      {"rec.wav", "audio/wav"},
      {"noext", "application/octet-stream"},
      {"/dir.v2/file", "application/octet-stream"},
      {"x.unknown", "application/octet-stream"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MimeTypeForFile(c.file), c.type) << c.file;
  }
  TMimeTable::Instance().Register(".aacp", "audio/aacp");
  EXPECT_EQ(MimeTypeForFile("rec.AACP"), "audio/aacp");
}

TEST(WebFrameTest, FileListNamesAndCaseInsensitiveLookup) {
  EXPECT_EQ(WebResourceName("/app.js"), "web___app__js");
  EXPECT_EQ(WebResourceName("/assets/js/jquery-3.3.1.min.js"),
            "web___assets___js___jquery_3__3__1__min__js");
  static const unsigned char kPage[] = "<html></html>";
  const TWebFileList list({{"/index.html", WebResourceName("/index.html"), kPage, 13}});
  ASSERT_NE(list.Find("/INDEX.HTML"), nullptr);
  EXPECT_EQ(list.Find("/INDEX.HTML")->resourceName, "web___index__html");
  EXPECT_EQ(list.Find("/index.htm"), nullptr);
  EXPECT_EQ(list.AsText(), "/index.html=web___index__html\r\n");
  // Every built-in entry follows the name rule and has its bytes.
  for (const TWebFile& file : TWebFileList::BuiltIn().Files()) {
    EXPECT_EQ(file.resourceName, WebResourceName(file.path));
    EXPECT_TRUE(file.data != nullptr);
  }
}

TEST(WebFrameTest, OverrideFolderNeverLeftByTraversal) {
  test::TempDir dir;
  const fs::path root = dir.Path() / "resources" / "web";
  fs::create_directories(root / "sub");
  fs::create_directories(dir.Path() / "outside");
  std::ofstream(root / "index.html") << "override";
  std::ofstream(root / "sub" / "page.html") << "sub";
  std::ofstream(dir.Path() / "secret.txt") << "secret";
  std::ofstream(dir.Path() / "outside" / "secret.txt") << "secret";
  fs::create_directory_symlink(dir.Path() / "outside", root / "linkdir");
  fs::create_symlink(dir.Path() / "secret.txt", root / "linkfile.txt");
  fs::create_symlink(root / "index.html", root / "alias.html");  // stays inside
  const std::string folder = root.string();

  struct Case {
    const char* document;
    const char* expected;  // file name inside the folder, "" for none
  };
  const Case cases[] = {
      {"/index.html", "index.html"},
      {"/sub/page.html", "sub/page.html"},
      {"//sub/./page.html", "sub/page.html"},
      {"/alias.html", "index.html"},
      {"/../secret.txt", ""},
      {"/sub/../../secret.txt", ""},
      {"/..\\..\\secret.txt", ""},
      {"/%2e%2e/secret.txt", ""},  // not decoded here: no such file
      {"/linkdir/secret.txt", ""},
      {"/linkfile.txt", ""},
      {"/sub", ""},  // a folder
      {"/missing.html", ""},
      {"", ""},
      {"relative.html", ""},
  };
  const std::string real = fs::canonical(root).string() + "/";
  for (const Case& c : cases) {
    const std::string found = ResolveOverrideFile(folder, c.document);
    EXPECT_EQ(found, *c.expected ? real + c.expected : std::string()) << c.document;
  }
  EXPECT_EQ(ResolveOverrideFile(std::string(), "/index.html"), "");
  EXPECT_EQ(ResolveOverrideFile((dir.Path() / "nothing").string(), "/index.html"), "");
}

TEST(WebFrameTest, FailedLoginsAreSlowedDownPerAddress) {
  auto clock = std::make_shared<ManualClock>();
  SetClock(clock);
  TLoginThrottle throttle({/*freeFailures=*/2, /*firstDelayMs=*/100, /*maxDelayMs=*/1000,
                           /*forgetAfterMs=*/60000, /*maxAddresses=*/2});
  EXPECT_EQ(throttle.RecordFailure("10.0.0.1"), 0u);
  EXPECT_EQ(throttle.RecordFailure("10.0.0.1"), 0u);
  EXPECT_EQ(throttle.RecordFailure("10.0.0.1"), 100u);
  EXPECT_EQ(throttle.RecordFailure("10.0.0.1"), 200u);
  for (int i = 0; i < 10; ++i) {
    throttle.RecordFailure("10.0.0.1");
  }
  EXPECT_EQ(throttle.RecordFailure("10.0.0.1"), 1000u);  // the ceiling
  EXPECT_EQ(throttle.RecordFailure("10.0.0.2"), 0u);     // another address is not affected
  throttle.RecordSuccess("10.0.0.2");
  EXPECT_EQ(throttle.Failures("10.0.0.2"), 0);
  clock->Advance(60000);  // quiet for the forget time: starts afresh
  EXPECT_EQ(throttle.Failures("10.0.0.1"), 0);
  EXPECT_EQ(throttle.RecordFailure("10.0.0.1"), 0u);
  // The table stays bounded: a third address pushes out the oldest.
  clock->Advance(1);
  throttle.RecordFailure("10.0.0.3");
  clock->Advance(1);
  throttle.RecordFailure("10.0.0.4");
  EXPECT_EQ(throttle.Failures("10.0.0.1"), 0);
  EXPECT_EQ(throttle.Failures("10.0.0.4"), 1);
  SetClock(nullptr);
}

TEST(WebFrameTest, ConstantTimeComparison) {
  EXPECT_TRUE(ConstantTimeEquals("", ""));
  EXPECT_TRUE(ConstantTimeEquals("admin", "admin"));
  EXPECT_FALSE(ConstantTimeEquals("admin", "Admin"));
  EXPECT_FALSE(ConstantTimeEquals("admin", "admin "));
  EXPECT_FALSE(ConstantTimeEquals("", "a"));
  EXPECT_FALSE(ConstantTimeEquals(std::string("a\0", 2), "a"));
}

TEST(WebFrameTest, HeaderValuesCannotSplitTheAnswer) {
  EXPECT_EQ(SanitizeHeaderValue("a\r\nSet-Cookie: x\0y\tz"), "aSet-Cookie: x");
  EXPECT_EQ(SanitizeHeaderValue(std::string("a\r\nb\0c\td\x7F", 9)), "abc\td");
  EXPECT_EQ(AttachmentDisposition("/rec/2019/08/26 Morning.mp3"),
            "attachment; filename=\"26 Morning.mp3\"; filename*=UTF-8''26%20Morning.mp3");
  EXPECT_EQ(AttachmentDisposition("/x/a\"b\\c\r\n\xC3\xA9.mp3"),
            "attachment; filename=\"a_b_c____.mp3\"; "
            "filename*=UTF-8''a%22b%5Cc%0D%0A%C3%A9.mp3");
}

}  // namespace
}  // namespace velloran::web
