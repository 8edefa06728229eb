#pragma once
// A private PulseAudio daemon for one test: a user-mode server (works as root too) on a unix
// socket in a temporary folder, no default script, never exiting by itself, with one null sink
// whose monitor source can be recorded. While it lives, PULSE_SERVER points this process at it
// (the previous value is restored when it goes); the system's server is never touched.
// Thread contract: one owning thread.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/ServerProcess.h"
#include "support/TempDir.h"

namespace velloran::test {

class PulseServer {
 public:
  explicit PulseServer(std::string sinkName = "velloran_test",
                       std::string description = "Velloran-test", uint32_t rate = 48000);
  ~PulseServer();
  PulseServer(const PulseServer&) = delete;
  PulseServer& operator=(const PulseServer&) = delete;

  // True when the server answered after start.
  bool Running() const { return running_; }
  const std::string& Address() const { return address_; }
  const std::string& SinkName() const { return sinkName_; }
  std::string MonitorName() const { return sinkName_ + ".monitor"; }
  // Environment entries that point a child process (pactl, paplay) at this server.
  std::vector<std::string> ClientEnv() const;

  // Loads another null sink; returns its module index, -1 on failure.
  int LoadNullSink(const std::string& name, const std::string& description, uint32_t rate);
  bool UnloadModule(int index);
  // Index of the first null-sink module (loaded at start).
  int FirstSinkModule() const { return firstModule_; }
  // Starts playing a WAV file into a sink (paplay); the player stops with the returned object.
  std::unique_ptr<ServerProcess> StartPlaying(const std::string& sink, const std::string& wav);
  // Ends the server at once, as a crash would.
  void Kill();
  std::string LogText() const;

 private:
  TempDir dir_;
  ServerProcess process_;
  std::string sinkName_;
  std::string address_;
  std::string log_;
  std::optional<std::string> previousServer_;
  bool running_ = false;
  int firstModule_ = -1;
};

// Writes a 16-bit PCM WAV file with a sine per channel (frequency 0 = silence), amplitude in
// dBFS (peak).
bool WriteSineWav(const std::string& path, uint32_t rate, const std::vector<double>& frequencies,
                  double levelDb, double seconds);

}  // namespace velloran::test
