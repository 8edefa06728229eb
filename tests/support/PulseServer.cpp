#include "support/PulseServer.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <thread>

namespace velloran::test {

PulseServer::PulseServer(std::string sinkName, std::string description, uint32_t rate)
    : sinkName_(std::move(sinkName)) {
  const auto root = dir_.Path();
  std::filesystem::create_directories(root / "runtime");
  std::filesystem::create_directories(root / "state");
  const std::string socket = (root / "native").string();
  address_ = "unix:" + socket;
  log_ = (root / "pulseaudio.log").string();
  const std::vector<std::string> env = {
      "PULSE_RUNTIME_PATH=" + (root / "runtime").string(),
      "PULSE_STATE_PATH=" + (root / "state").string(), "HOME=" + root.string(),
      "XDG_CONFIG_HOME=" + (root / "config").string(), "DBUS_SESSION_BUS_ADDRESS=disabled:"};
  process_.Start(
      {"pulseaudio", "--daemonize=no", "-n", "--exit-idle-time=-1", "--system=no",
       "--use-pid-file=no", "--disable-shm=yes", "--log-target=stderr", "-L",
       "module-native-protocol-unix socket=" + socket + " auth-anonymous=1", "-L",
       "module-null-sink sink_name=" + sinkName_ +
           " sink_properties=device.description=" + description + " rate=" + std::to_string(rate)},
      env, log_);
  const char* previous = std::getenv("PULSE_SERVER");
  if (previous != nullptr) {
    previousServer_ = previous;
  }
  setenv("PULSE_SERVER", address_.c_str(), 1);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline && process_.Running()) {
    std::string out;
    if (std::filesystem::exists(socket) &&
        RunCommand({"pactl", "list", "short", "modules"}, ClientEnv(), 5000, &out) == 0) {
      std::istringstream lines(out);
      std::string line;
      while (std::getline(lines, line)) {
        if (line.find("module-null-sink") != std::string::npos) {
          firstModule_ = std::atoi(line.c_str());
          running_ = true;
        }
      }
      if (running_) {
        break;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

PulseServer::~PulseServer() {
  process_.Stop();
  if (previousServer_) {
    setenv("PULSE_SERVER", previousServer_->c_str(), 1);
  } else {
    unsetenv("PULSE_SERVER");
  }
}

std::vector<std::string> PulseServer::ClientEnv() const {
  return {"PULSE_SERVER=" + address_, "PULSE_BINARY=/bin/false"};
}

int PulseServer::LoadNullSink(const std::string& name, const std::string& description,
                              uint32_t rate) {
  std::string out;
  if (RunCommand(
          {"pactl", "load-module", "module-null-sink", "sink_name=" + name,
           "sink_properties=device.description=" + description, "rate=" + std::to_string(rate)},
          ClientEnv(), 5000, &out) != 0) {
    return -1;
  }
  return std::atoi(out.c_str());
}

bool PulseServer::UnloadModule(int index) {
  return RunCommand({"pactl", "unload-module", std::to_string(index)}, ClientEnv(), 5000) == 0;
}

std::unique_ptr<ServerProcess> PulseServer::StartPlaying(const std::string& sink,
                                                         const std::string& wav) {
  auto player = std::make_unique<ServerProcess>();
  if (!player->Start({"paplay", "--device=" + sink, wav}, ClientEnv(), log_)) {
    return nullptr;
  }
  return player;
}

void PulseServer::Kill() {
  process_.Kill();
  running_ = false;
}

std::string PulseServer::LogText() const {
  std::ifstream in(log_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WriteSineWav(const std::string& path, uint32_t rate, const std::vector<double>& frequencies,
                  double levelDb, double seconds) {
  const auto channels = static_cast<uint16_t>(frequencies.size());
  const auto frames = static_cast<uint32_t>(seconds * rate);
  const uint32_t dataBytes = frames * channels * 2;
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  out.write("RIFF", 4);
  u32(36 + dataBytes);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(channels);
  u32(rate);
  u32(rate * channels * 2);
  u16(static_cast<uint16_t>(channels * 2));
  u16(16);
  out.write("data", 4);
  u32(dataBytes);
  const double amplitude = std::pow(10.0, levelDb / 20.0) * 32767.0;
  for (uint32_t n = 0; n < frames; ++n) {
    for (double f : frequencies) {
      const double v = f > 0 ? amplitude * std::sin(2 * std::numbers::pi * f * n / rate) : 0;
      u16(static_cast<uint16_t>(static_cast<int16_t>(std::lrint(v))));
    }
  }
  return static_cast<bool>(out);
}

}  // namespace velloran::test
