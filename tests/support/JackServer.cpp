#include "support/JackServer.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace velloran::test {

JackServer::JackServer(int captureChannels, int playbackChannels, uint32_t rate, uint32_t period) {
  static std::atomic<int> counter{0};
  name_ = "velloran-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
  const std::string log = dir_.File("jackd.log");
  // Synchronous mode: the server waits for every client's cycle, so a test client (a tone
  // player) that is late on a busy machine delays the cycle instead of leaving a stale buffer
  // that would look like a gap in what we captured.
  process_.Start({"jackd", "-n", name_, "--no-realtime", "--sync", "-d", "dummy", "-C",
                  std::to_string(captureChannels), "-P", std::to_string(playbackChannels), "-r",
                  std::to_string(rate), "-p", std::to_string(period)},
                 {}, log);
  const char* previous = std::getenv("JACK_DEFAULT_SERVER");
  if (previous != nullptr) {
    previousServer_ = previous;
  }
  setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline && process_.Running()) {
    if (RunCommand({"jack_lsp"}, ClientEnv(), 5000) == 0) {
      running_ = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

JackServer::~JackServer() {
  process_.Stop();
  // Semaphores of clients that outlived the server are left behind by JACK; they carry the
  // server's name.
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
    const std::string file = entry.path().filename().string();
    if (file.rfind("jack", 0) == 0 && file.find("_" + name_ + "_") != std::string::npos) {
      std::filesystem::remove(entry.path(), ignored);
    }
  }
  if (previousServer_) {
    setenv("JACK_DEFAULT_SERVER", previousServer_->c_str(), 1);
  } else {
    unsetenv("JACK_DEFAULT_SERVER");
  }
}

std::vector<std::string> JackServer::ClientEnv() const {
  return {"JACK_DEFAULT_SERVER=" + name_, "JACK_NO_START_SERVER=1"};
}

void JackServer::Kill() {
  // A server ended by a signal it can handle: it leaves JACK's shared registry tidy (a server
  // killed outright keeps its registry slot, and the registry holds only a few).
  process_.Stop();
  running_ = false;
}

}  // namespace velloran::test
