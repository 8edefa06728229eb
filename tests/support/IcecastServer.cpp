#include "support/IcecastServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/Base64.h"

namespace velloran::test {

namespace {

std::string UrlEncode(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char buffer[4];
      std::snprintf(buffer, sizeof buffer, "%%%02X", c);
      out += buffer;
    }
  }
  return out;
}

}  // namespace

namespace {
bool PortFree(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  const bool free = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return free;
}
}  // namespace

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t length = sizeof addr;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

int LoopbackGet(int port, const std::string& path, const std::string& credentials,
                std::string* body) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  timeval timeout{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return 0;
  }
  std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
  if (!credentials.empty()) {
    request += "Authorization: Basic " + Base64Encode(credentials) + "\r\n";
  }
  request += "\r\n";
  (void)!send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer;
  char buffer[4096];
  while (answer.size() < (1 << 20)) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      break;
    }
    answer.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  int status = 0;
  const size_t blank = answer.find(' ');
  if (blank != std::string::npos) {
    status = std::atoi(answer.c_str() + blank + 1);
  }
  if (body != nullptr) {
    const size_t end = answer.find("\r\n\r\n");
    *body = end == std::string::npos ? std::string() : answer.substr(end + 4);
  }
  return status;
}

IcecastServer::IcecastServer() = default;

IcecastServer::~IcecastServer() {
  Stop();
}

std::string IcecastServer::Url(const std::string& mount) const {
  return "http://127.0.0.1:" + std::to_string(port_) + mount;
}

bool IcecastServer::Start() {
  if (port_ == 0) {
    port_ = FreeLoopbackPort();
    // The Shoutcast-compatible source port is the next one; it must be free too.
    while (!shoutcastMount_.empty() && !PortFree(port_ + 1)) {
      port_ = FreeLoopbackPort();
    }
  }
  // The server drops root for nobody, who must be able to write its logs.
  chmod(dir_.Path().c_str(), 0777);
  const std::string config = dir_.File("icecast.xml");
  std::ofstream out(config);
  out << "<icecast>\n"
         "  <limits><clients>50</clients><sources>"
      << sourceLimit_
      << "</sources><queue-size>524288</queue-size>\n"
         "    <client-timeout>30</client-timeout><header-timeout>15</header-timeout>\n"
         "    <source-timeout>10</source-timeout><burst-on-connect>1</burst-on-connect>\n"
         "    <burst-size>65535</burst-size></limits>\n"
         "  <authentication><source-password>"
      << kPassword << "</source-password><admin-user>admin</admin-user><admin-password>"
      << kPassword
      << "</admin-password></authentication>\n"
         "  <hostname>127.0.0.1</hostname>\n"
         "  <listen-socket><port>"
      << port_ << "</port><bind-address>127.0.0.1</bind-address>"
      << (shoutcastMount_.empty() ? ""
                                  : "<shoutcast-mount>" + shoutcastMount_ + "</shoutcast-mount>")
      << "</listen-socket>\n"
         "  <mount type=\"default\"><mp3-metadata-interval>4096</mp3-metadata-interval></mount>\n"
         "  <fileserve>1</fileserve>\n"
         "  <paths><basedir>/usr/share/icecast2</basedir><logdir>"
      << dir_.Path().string() << "</logdir><webroot>/usr/share/icecast2/web</webroot>"
      << "<adminroot>/usr/share/icecast2/admin</adminroot></paths>\n"
         "  <logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog>"
         "<loglevel>3</loglevel></logging>\n"
         "  <security><chroot>0</chroot><changeowner><user>nobody</user><group>nogroup</group>"
         "</changeowner></security>\n"
         "</icecast>\n";
  out.close();
  server_ = std::make_unique<ServerProcess>();
  if (!server_->Start({"icecast2", "-c", config}, {}, dir_.File("icecast.out"))) {
    error_ = "icecast2 could not be started";
    server_.reset();
    return false;
  }
  for (int i = 0; i < 100; ++i) {
    if (LoopbackGet(port_, "/status-json.xsl") == 200) {
      return true;
    }
    if (!server_->Running()) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::ifstream log(dir_.File("icecast.out"));
  std::ostringstream text;
  text << log.rdbuf();
  error_ = "icecast2 does not answer: " + text.str();
  server_.reset();
  return false;
}

void IcecastServer::Stop() {
  StopSources();
  if (server_) {
    server_->Stop();
    server_.reset();
  }
}

bool IcecastServer::MountLive(const std::string& mount) {
  std::string body;
  if (LoopbackGet(port_, "/status-json.xsl", "", &body) != 200) {
    return false;
  }
  return body.find("\"listenurl\":\"http://127.0.0.1:" + std::to_string(port_) + mount + "\"") !=
         std::string::npos;
}

bool IcecastServer::StartSource(const std::string& mount) {
  const bool ogg = mount.size() > 4 && mount.substr(mount.size() - 4) == ".ogg";
  std::vector<std::string> argv = {"ffmpeg",   "-hide_banner",
                                   "-nostdin", "-loglevel",
                                   "error",    "-re",
                                   "-f",       "lavfi",
                                   "-i",       "sine=frequency=440:sample_rate=44100",
                                   "-ac",      "2"};
  if (ogg) {
    argv.insert(argv.end(), {"-c:a", "libvorbis", "-b:a", "128k", "-f", "ogg", "-content_type",
                             "application/ogg"});
  } else {
    argv.insert(argv.end(),
                {"-c:a", "libmp3lame", "-b:a", "128k", "-f", "mp3", "-content_type", "audio/mpeg"});
  }
  argv.push_back("icecast://source:" + std::string(kPassword) +
                 "@127.0.0.1:" + std::to_string(port_) + mount);
  auto source = std::make_unique<ServerProcess>();
  if (!source->Start(argv, {}, dir_.File("source" + std::to_string(sources_.size()) + ".log"))) {
    return false;
  }
  sources_.push_back(std::move(source));
  for (int i = 0; i < 100; ++i) {
    if (MountLive(mount)) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

void IcecastServer::StopSources() {
  for (auto& source : sources_) {
    source->Stop();
  }
  sources_.clear();
}

bool IcecastServer::SetTitle(const std::string& mount, const std::string& title) {
  const std::string path =
      "/admin/metadata?mount=" + UrlEncode(mount) + "&mode=updinfo&song=" + UrlEncode(title);
  return LoopbackGet(port_, path, std::string("admin:") + kPassword) == 200;
}

}  // namespace velloran::test
