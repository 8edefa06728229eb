#pragma once
// A private JACK server for one test: jackd with the dummy driver (no sound card), without
// real-time scheduling, under a unique server name. While it lives, JACK_DEFAULT_SERVER points
// this process at it (restored when it goes); no other server is touched.
// Thread contract: one owning thread.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/ServerProcess.h"
#include "support/TempDir.h"

namespace velloran::test {

class JackServer {
 public:
  explicit JackServer(int captureChannels, int playbackChannels = 2, uint32_t rate = 48000,
                      uint32_t period = 256);
  ~JackServer();
  JackServer(const JackServer&) = delete;
  JackServer& operator=(const JackServer&) = delete;

  bool Running() const { return running_; }
  const std::string& Name() const { return name_; }
  std::vector<std::string> ClientEnv() const;
  // Stops the server under its clients (SIGTERM, as when the server is shut down).
  void Kill();

 private:
  TempDir dir_;
  ServerProcess process_;
  std::string name_;
  std::optional<std::string> previousServer_;
  bool running_ = false;
};

}  // namespace velloran::test
