// The web server frame alone, for bench/web_bench.sh: serves one file as a built-in file (from
// memory, as the program's own pages are served) on 127.0.0.1:<port>, anonymous access none,
// account "admin" with password "secret". The per-address limit is raised so that a load
// generator's 200 connections from one address are all accepted.
//   web_bench_server <port> <file>     runs until SIGTERM or SIGINT
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "web/HashWebPassword.h"
#include "web/WebFileList.h"
#include "web/WebServer.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <port> <file>\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[2], std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  static const std::string bytes = content.str();
  const std::string path = "/" + std::string(argv[2]).substr(std::string(argv[2]).rfind('/') + 1);
  const velloran::web::TWebFileList files(
      {{path, velloran::web::WebResourceName(path),
        reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()}});

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any thread starts

  velloran::web::TWebServerOptions options;
  options.files = &files;
  options.limits.maxConnections = 1024;
  options.limits.maxConnectionsPerAddress = 1024;
  velloran::web::TWebServer server(options, nullptr);
  velloran::web::TWebServerSettings settings;
  settings.port = std::string("127.0.0.1:") + argv[1];
  settings.adminUser = "admin";
  settings.adminPasswordHash = velloran::web::HashWebPassword("secret");
  server.Start(settings);
  std::printf("listening on %u\n", server.Port());
  std::fflush(stdout);
  int signo = 0;
  sigwait(&signals, &signo);
  server.Stop();
  return 0;
}
