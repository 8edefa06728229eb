#include "audio/devices/integration/JackToneClient.h"

#include <cmath>
#include <numbers>

namespace velloran::test {

JackToneClient::JackToneClient(std::vector<double> frequencies, std::vector<double> levelsDb)
    : frequencies_(std::move(frequencies)) {
  client_ = jack_client_open("tone-source", JackNoStartServer, nullptr);
  if (client_ == nullptr) {
    return;
  }
  rate_ = jack_get_sample_rate(client_);
  for (size_t i = 0; i < frequencies_.size(); ++i) {
    const std::string name = "out_" + std::to_string(i + 1);
    ports_.push_back(
        jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0));
    amplitudes_.push_back(std::pow(10.0, levelsDb[i] / 20.0));
    phases_.push_back(0.0);
  }
  jack_set_process_callback(client_, &JackToneClient::Process, this);
  jack_activate(client_);
}

JackToneClient::~JackToneClient() {
  if (client_ != nullptr) {
    jack_deactivate(client_);
    jack_client_close(client_);
  }
}

bool JackToneClient::ConnectTo(const std::vector<std::string>& targets) {
  for (size_t i = 0; i < targets.size() && i < ports_.size(); ++i) {
    if (jack_connect(client_, jack_port_name(ports_[i]), targets[i].c_str()) != 0) {
      return false;
    }
  }
  return true;
}

int JackToneClient::Process(jack_nframes_t frames, void* arg) {
  auto* self = static_cast<JackToneClient*>(arg);
  for (size_t p = 0; p < self->ports_.size(); ++p) {
    auto* out = static_cast<float*>(jack_port_get_buffer(self->ports_[p], frames));
    const double step = 2 * std::numbers::pi * self->frequencies_[p] / self->rate_;
    for (jack_nframes_t f = 0; f < frames; ++f) {
      out[f] = static_cast<float>(self->amplitudes_[p] * std::sin(self->phases_[p]));
      self->phases_[p] = std::fmod(self->phases_[p] + step, 2 * std::numbers::pi);
    }
  }
  return 0;
}

std::vector<std::string> FindPorts(const std::string& clientPrefix, const std::string& shortName) {
  std::vector<std::string> result;
  jack_client_t* client = jack_client_open("port-finder", JackNoStartServer, nullptr);
  if (client == nullptr) {
    return result;
  }
  const char** ports = jack_get_ports(client, nullptr, nullptr, 0);
  for (const char** p = ports; p != nullptr && *p != nullptr; ++p) {
    const std::string name(*p);
    const size_t colon = name.find(':');
    if (name.rfind(clientPrefix, 0) == 0 && colon != std::string::npos &&
        name.substr(colon + 1) == shortName) {
      result.push_back(name);
    }
  }
  if (ports != nullptr) {
    jack_free(ports);
  }
  jack_client_close(client);
  return result;
}

}  // namespace velloran::test
