// Notification e-mails against a real SMTP server (aiosmtpd, started per test on loopback):
// plain, STARTTLS and implicit TLS sessions, SASL mechanism choice, what reaches the server's
// envelope and headers, and the failure paths.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "alarms/EmailAlarmWorker.h"
#include "alarms/NotificationEmail.h"
#include "alarms/TSSLEmail.h"
#include "core/Error.h"
#include "support/BlackHoleServer.h"
#include "support/ServerProcess.h"
#include "support/TempDir.h"

namespace velloran::alarms {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

const fs::path kServerScript = fs::path(VELLORAN_ALARMS_TEST_DIR) / "smtp_server.py";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// One message as the server stored it.
struct Received {
  std::string mailFrom;
  std::vector<std::string> rcptTo;
  bool tls = false;
  std::string auth;                                          // "none" or "<mechanism> <user>"
  std::vector<std::pair<std::string, std::string>> headers;  // unfolded
  std::vector<std::string> bodyLines;

  std::vector<std::string> Header(const std::string& name) const {
    std::vector<std::string> out;
    for (const auto& [n, v] : headers) {
      if (n == name) {
        out.push_back(v);
      }
    }
    return out;
  }
};

Received ParseReceived(const std::string& text) {
  Received r;
  const size_t split = text.find("\n\n");
  std::istringstream env(text.substr(0, split));
  for (std::string line; std::getline(env, line);) {
    const std::string key = line.substr(0, line.find(": "));
    const std::string value = line.substr(line.find(": ") + 2);
    if (key == "mail_from") {
      r.mailFrom = value;
    } else if (key == "rcpt_to") {
      r.rcptTo.push_back(value);
    } else if (key == "tls") {
      r.tls = value == "yes";
    } else if (key == "auth") {
      r.auth = value;
    }
  }
  const std::string data = text.substr(split + 2);
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < data.size()) {
    const size_t eol = data.find("\r\n", pos);
    EXPECT_NE(eol, std::string::npos) << "line without CR LF at " << pos;
    if (eol == std::string::npos) {
      break;
    }
    lines.push_back(data.substr(pos, eol - pos));
    pos = eol + 2;
  }
  size_t i = 0;
  for (; i < lines.size() && !lines[i].empty(); ++i) {
    if ((lines[i][0] == ' ' || lines[i][0] == '\t') && !r.headers.empty()) {
      r.headers.back().second += lines[i];
      continue;
    }
    const size_t colon = lines[i].find(':');
    r.headers.emplace_back(lines[i].substr(0, colon), lines[i].substr(colon + 2));
  }
  r.bodyLines.assign(lines.begin() + static_cast<std::ptrdiff_t>(std::min(i + 1, lines.size())),
                     lines.end());
  return r;
}

// Certificate and key for the TLS servers, made once for all tests.
class Certificate {
 public:
  static const Certificate& Get() {
    static const Certificate cert;
    return cert;
  }
  std::string Cert() const { return dir_.File("cert.pem"); }
  std::string Key() const { return dir_.File("key.pem"); }

 private:
  Certificate() {
    std::string output;
    const int rc =
        test::RunCommand({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                          "-subj", "/CN=localhost", "-keyout", Key(), "-out", Cert()},
                         {}, 60000, &output);
    EXPECT_EQ(rc, 0) << output;
  }
  test::TempDir dir_;
};

enum class Transport { kPlain, kStartTls, kImplicitTls };

class SmtpServer {
 public:
  SmtpServer(Transport transport, const std::vector<std::string>& extraArgs = {}) {
    const std::string log = dir_.File("server.log");
    fs::create_directory(dir_.Path() / "out");
    std::vector<std::string> argv = {"/usr/bin/python3", kServerScript.string(), "--out",
                                     dir_.File("out")};
    if (transport == Transport::kStartTls) {
      argv.insert(argv.end(), {"--starttls", Certificate::Get().Cert(), Certificate::Get().Key()});
    } else if (transport == Transport::kImplicitTls) {
      argv.insert(argv.end(),
                  {"--implicit-tls", Certificate::Get().Cert(), Certificate::Get().Key()});
    }
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    if (!process_.Start(argv, {"PYTHONUNBUFFERED=1"}, log)) {
      ADD_FAILURE() << "cannot start " << argv[0];
      return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline && process_.Running()) {
      const std::string text = ReadFile(log);
      const size_t at = text.find("PORT ");
      if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
        port_ = std::stoi(text.substr(at + 5));
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << "SMTP server did not start: " << ReadFile(log);
  }

  std::string Port() const { return std::to_string(port_); }

  // Messages in the order received (the server has stored each one before it answers the
  // end of the data, so a returned SendEmail means the file is there).
  std::vector<Received> Messages() const {
    std::vector<Received> out;
    for (int n = 1; fs::exists(dir_.Path() / "out" / (std::to_string(n) + ".eml")); ++n) {
      out.push_back(ParseReceived(ReadFile(dir_.Path() / "out" / (std::to_string(n) + ".eml"))));
    }
    return out;
  }

 private:
  test::TempDir dir_;
  test::ServerProcess process_;
  int port_ = 0;
};

// A loopback port nobody listens on.
int RefusedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), len);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

NotificationEmailSettings Settings(const SmtpServer& server, Transport transport) {
  NotificationEmailSettings s;
  s.smtpServer = "127.0.0.1";
  s.smtpPort = server.Port();
  s.useTls = transport != Transport::kPlain;
  s.requireStartTls = transport == Transport::kStartTls;
  s.fromAddress = "recorder@studio.example";
  s.recipients = "ops@example.com, night@example.org";
  return s;
}

const auto kNoLog = [](const std::string& line) { ADD_FAILURE() << "logged: " << line; };

TEST(NotificationEmailTest, DeliversOverEachTransport) {
  struct Case {
    const char* name;
    Transport transport;
  };
  for (const Case& c : {Case{"none", Transport::kPlain}, Case{"STARTTLS", Transport::kStartTls},
                        Case{"SSL", Transport::kImplicitTls}}) {
    SCOPED_TRACE(c.name);
    SmtpServer server(c.transport);
    SendNotificationEmail(Settings(server, c.transport), "Silence on Slot 1", true, kNoLog);

    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 1u);
    const Received& m = messages[0];
    EXPECT_EQ(m.tls, c.transport != Transport::kPlain);
    EXPECT_EQ(m.auth, "none");
    EXPECT_EQ(m.mailFrom, "recorder@studio.example");
    EXPECT_THAT(m.rcptTo, ElementsAre("ops@example.com", "night@example.org"));
    EXPECT_THAT(m.Header("To"), ElementsAre("ops@example.com, night@example.org"));
    EXPECT_THAT(m.Header("From"), ElementsAre("recorder@studio.example"));
    EXPECT_THAT(m.Header("Reply-To"), ElementsAre("recorder@studio.example"));
    EXPECT_THAT(m.Header("Subject"), ElementsAre("Silence on Slot 1"));
    EXPECT_THAT(m.Header("Content-Type"), ElementsAre("text/plain; charset=UTF-8"));
    EXPECT_THAT(m.Header("Message-ID"),
                ElementsAre(MatchesRegex("<[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-"
                                         "[0-9a-f]{12}@studio\\.example>")));
    EXPECT_TRUE(m.Header("X-Priority").empty());
    ASSERT_EQ(m.bodyLines.size(), 2u);
    EXPECT_EQ(m.bodyLines[0], "Host: " + GetLocalHostName());
    EXPECT_THAT(m.bodyLines[1],
                MatchesRegex("Date/Time: [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}"));
  }
}

TEST(NotificationEmailTest, StartTlsFailsWhenTheServerDoesNotOfferIt) {
  SmtpServer server(Transport::kPlain);
  EXPECT_THROW(SendNotificationEmail(Settings(server, Transport::kStartTls), "Test from Velloran",
                                     true, kNoLog),
               Error);
  EXPECT_TRUE(server.Messages().empty());
}

TEST(NotificationEmailTest, AuthenticatesWithTheStrongestOfferedMechanism) {
  struct Case {
    const char* offered;
    const char* used;
  };
  for (const Case& c : {Case{"PLAIN,LOGIN,CRAM-MD5", "CRAM-MD5"}, Case{"PLAIN,LOGIN", "PLAIN"},
                        Case{"LOGIN", "LOGIN"}}) {
    SCOPED_TRACE(c.offered);
    SmtpServer server(Transport::kStartTls, {"--auth", "alarm:s3cret", "--mechs", c.offered});
    NotificationEmailSettings s = Settings(server, Transport::kStartTls);
    s.user = "alarm";
    s.password = "s3cret";
    SendNotificationEmail(s, "Test from Velloran", true, kNoLog);
    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].auth, std::string(c.used) + " alarm");

    s.password = "wrong";
    EXPECT_THROW(SendNotificationEmail(s, "Test from Velloran", true, kNoLog), Error);
    EXPECT_EQ(server.Messages().size(), 1u);
  }
}

TEST(NotificationEmailTest, FailureIsRaisedOrLogged) {
  NotificationEmailSettings s;
  s.smtpServer = "127.0.0.1";
  s.smtpPort = std::to_string(RefusedPort());
  s.fromAddress = "recorder@studio.example";
  s.recipients = "ops@example.com";

  try {
    SendNotificationEmail(s, "Silence on Slot 1", true, kNoLog);
    ADD_FAILURE() << "no error raised";
  } catch (const Error& e) {
    EXPECT_STRNE(e.what(), "");
  }

  std::vector<std::string> logged;
  SendNotificationEmail(s, "Silence on Slot 1", false,
                        [&](const std::string& line) { logged.push_back(line); });
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_THAT(logged[0], StartsWith("Error sending e-mail: "));
  EXPECT_GT(logged[0].size(), std::string("Error sending e-mail: ").size());
}

TEST(NotificationEmailTest, PortFieldFallsBackTo25) {
  struct Case {
    const char* text;
    int port;
  };
  for (const Case& c : {Case{"587", 587}, Case{" 2525 ", 2525}, Case{"", 25}, Case{"abc", 25},
                        Case{"25x", 25}, Case{"5 87", 25}, Case{"99999999999", 25}}) {
    EXPECT_EQ(ParseSmtpPort(c.text), c.port) << '"' << c.text << '"';
  }
}

TEST(TSSLEmailTest, PortOutsideTheValidRangeIsAnError) {
  for (const int port : {0, -1, 65536}) {
    TSSLEmail email("127.0.0.1", "", "", port);
    email.FedSSLConnection = false;
    email.FedSenderEmail = "recorder@studio.example";
    email.FedToEmail = "ops@example.com";
    EXPECT_THROW(email.SendEmail(), Error) << port;
  }
}

TEST(TSSLEmailTest, MessageIdDomainIsTheSecondPieceOfTheSender) {
  struct Case {
    const char* sender;
    const char* suffix;
  };
  for (const Case& c :
       {Case{"alarm@studio.example", "@studio.example>"}, Case{"alarm", "@UNKNOWN>"},
        Case{"", "@UNKNOWN>"}, Case{"a@b.example@c.example", "@b.example>"}}) {
    const std::string id = email_detail::MakeMessageId(c.sender);
    EXPECT_THAT(id, MatchesRegex("<[0-9a-f-]{36}@.*>")) << c.sender;
    EXPECT_EQ(id.substr(37), c.suffix) << c.sender;
  }
  EXPECT_NE(email_detail::MakeMessageId("a@b"), email_detail::MakeMessageId("a@b"));
}

TEST(TSSLEmailTest, HeadersCannotBeInjectedAndBccStaysInTheEnvelope) {
  SmtpServer server(Transport::kPlain);
  TSSLEmail email("127.0.0.1", "", "", std::stoi(server.Port()));
  email.FedSSLConnection = false;
  email.FedSenderEmail = "recorder@studio.example";
  email.FedSenderName = "Studio \"B\"\r\nX-Injected: name";
  email.FedToEmail = "ops@example.com";
  email.FedCCEmail = "cc@example.com";
  email.FedBCCEmail = "hidden@example.com";
  email.FedSubject = "Alarm\r\nBcc: evil@example.net\r\n\r\nfake body";
  email.FedPriority = TMessagePriority::mpHigh;
  email.FedBody = {"first", "second\r\n.third"};
  email.SendEmail();

  const auto messages = server.Messages();
  ASSERT_EQ(messages.size(), 1u);
  const Received& m = messages[0];
  EXPECT_THAT(m.rcptTo, ElementsAre("ops@example.com", "cc@example.com", "hidden@example.com"));
  EXPECT_THAT(m.Header("Cc"), ElementsAre("cc@example.com"));
  EXPECT_TRUE(m.Header("Bcc").empty());
  EXPECT_TRUE(m.Header("X-Injected").empty());
  EXPECT_THAT(m.Header("Subject"), ElementsAre("Alarm Bcc: evil@example.net fake body"));
  EXPECT_THAT(m.Header("From"),
              ElementsAre("\"Studio \\\"B\\\" X-Injected: name\" <recorder@studio.example>"));
  EXPECT_THAT(m.Header("X-Priority"), ElementsAre(StartsWith("2")));
  // A line starting with a dot arrives unchanged (dot-stuffing on the wire).
  EXPECT_THAT(m.bodyLines, ElementsAre("first", "second", ".third"));
}

TEST(TSSLEmailTest, NonAsciiSubjectIsEncoded) {
  TSSLEmail email;
  email.FedSenderEmail = "recorder@studio.example";
  email.FedToEmail = "ops@example.com";
  email.FedSubject = "Stille auf Kanal Süd";
  const std::string message = email_detail::BuildMessage(email);
  EXPECT_THAT(message, HasSubstr("Subject: =?UTF-8?B?U3RpbGxlIGF1ZiBLYW5hbCBTw7xk?=\r\n"));
}

TEST(TSSLEmailTest, NoRecipientIsAnError) {
  SmtpServer server(Transport::kPlain);
  TSSLEmail email("127.0.0.1", "", "", std::stoi(server.Port()));
  email.FedSSLConnection = false;
  email.FedSenderEmail = "recorder@studio.example";
  email.FedToEmail = " , ";
  EXPECT_THROW(email.SendEmail(), Error);
  EXPECT_TRUE(server.Messages().empty());
}

// The alarm e-mails leave from the worker in the order they were queued, each with the time
// text of its alarm.
TEST(EmailAlarmWorkerTest, MessagesGoOutInQueueOrder) {
  SmtpServer server(Transport::kPlain);
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> lines;
  int done = 0;
  EmailAlarmWorker worker([&](const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(line);
  });
  worker.SetSentHook([&](const std::string&) {
    std::lock_guard<std::mutex> lock(mutex);
    ++done;
    changed.notify_all();
  });
  worker.Start();
  for (const char* n : {"1", "2", "3"}) {
    worker.Queue(Settings(server, Transport::kPlain), std::string("alarm ") + n,
                 std::string("05.03.2024 14:00:0") + n);
  }
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return done == 3; }));
  }
  worker.Stop();
  EXPECT_TRUE(lines.empty());
  const auto messages = server.Messages();
  ASSERT_EQ(messages.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_THAT(messages[i].Header("Subject"), ElementsAre("alarm " + std::to_string(i + 1)));
    EXPECT_THAT(
        messages[i].bodyLines,
        ElementsAre(StartsWith("Host: "), "Date/Time: 05.03.2024 14:00:0" + std::to_string(i + 1)));
  }
}

// A server that accepts and never answers holds up only the worker; closing gives up the
// message in progress at once and names the one that waited behind it.
TEST(EmailAlarmWorkerTest, ASilentServerHoldsOnlyTheWorkerAndClosingGivesUp) {
  test::BlackHoleServer hole;
  SmtpServer server(Transport::kPlain);
  std::mutex mutex;
  std::vector<std::string> lines;
  EmailAlarmWorker worker([&](const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(line);
  });
  worker.Start();
  NotificationEmailSettings silent = Settings(server, Transport::kPlain);
  silent.smtpPort = std::to_string(hole.Port());
  worker.Queue(silent, "first", "now");
  worker.Queue(Settings(server, Transport::kPlain), "second", "now");
  ASSERT_TRUE(hole.WaitForConnections(1, 20000));
  EXPECT_TRUE(hole.PeerConnected(0));      // the exchange is under way
  EXPECT_TRUE(server.Messages().empty());  // and the next message waits behind it
  worker.Stop();
  EXPECT_THAT(lines, ElementsAre("Error sending e-mail: E-mail sending aborted",
                                 "E-mail not sent (closing): second"));
  EXPECT_FALSE(hole.PeerConnected(0));
}

}  // namespace
}  // namespace velloran::alarms
