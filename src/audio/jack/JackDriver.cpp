#include "audio/jack/JackDriver.h"

#include <jack/thread.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "audio/engine/SampleConvert.h"
#include "audio/pulse/NoAutospawn.h"
#include "core/RealTimePriority.h"

namespace velloran::audio::jack {

namespace {

// Channels joined past the server's last input are delivered as silence (a bundle that runs
// past the inputs keeps its channel count); this bounds how far past.
constexpr uint32_t kMaxJoinedChannel = 1024;

void QuietMessage(const char*) {}

void PrepareJack() {
  static std::once_flag once;
  std::call_once(once, [] {
    pulse::DisableSoundServerAutostart();
    jack_set_error_function(&QuietMessage);
    jack_set_info_function(&QuietMessage);
  });
}

std::vector<std::string> PhysicalPorts(jack_client_t* client, unsigned long flags) {
  std::vector<std::string> names;
  const char** ports =
      jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | flags);
  if (ports != nullptr) {
    for (const char** p = ports; *p != nullptr; ++p) {
      names.emplace_back(*p);
    }
    jack_free(ports);
  }
  return names;
}

}  // namespace

std::unique_ptr<JackDriver> JackDriver::Open(int& error) {
  PrepareJack();
  jack_status_t status{};
  jack_client_t* client = jack_client_open("velloran", JackNoStartServer, &status);
  if (client == nullptr) {
    error = BASS_ERROR_DRIVER;
    return nullptr;
  }
  // The slots' pull threads must never delay the server's period: they go below its threads.
  velloran::SetAudioServerPriority(jack_client_real_time_priority(client));
  error = BASS_OK;
  return std::unique_ptr<JackDriver>(new JackDriver(client));
}

JackDriver::JackDriver(jack_client_t* client) : client_(client) {
  rate_ = jack_get_sample_rate(client_);
  inputs_ = PhysicalPorts(client_, JackPortIsOutput);
  outputs_ = PhysicalPorts(client_, JackPortIsInput);
  inChannels_.resize(inputs_.size());
  outChannels_.resize(outputs_.size());
  inPorts_.assign(inputs_.size(), nullptr);
  outPorts_.assign(outputs_.size(), nullptr);
  jack_set_process_callback(client_, &JackDriver::ProcessCallback, this);
  jack_on_shutdown(client_, &JackDriver::ShutdownCallback, this);
}

JackDriver::~JackDriver() {
  Stop();
  jack_client_close(client_);
}

uint32_t JackDriver::BufferSize() const {
  return jack_get_buffer_size(client_);
}

std::string JackDriver::ChannelName(bool input, size_t channel) const {
  const auto& names = input ? inputs_ : outputs_;
  return channel < names.size() ? names[channel] : std::string();
}

int JackDriver::Enable(bool input, uint32_t channel, ASIOPROC* proc, void* user) {
  auto& channels = input ? inChannels_ : outChannels_;
  if (channel >= channels.size()) {
    return BASS_ERROR_ILLPARAM;
  }
  Channel& ch = channels[channel];
  for (uint32_t j : ch.joined) {
    if (j < channels.size()) {
      channels[j].joinedTo = -1;
    }
  }
  ch = Channel{};
  ch.proc = proc;
  ch.user = user;
  return BASS_OK;
}

int JackDriver::SetFormat(bool input, uint32_t channel, uint32_t format) {
  auto& channels = input ? inChannels_ : outChannels_;
  if (channel >= channels.size()) {
    return BASS_ERROR_ILLPARAM;
  }
  if (format != BASS_ASIO_FORMAT_16BIT && format != BASS_ASIO_FORMAT_FLOAT) {
    return BASS_ERROR_FORMAT;
  }
  channels[channel].format = format;
  return BASS_OK;
}

int JackDriver::Join(bool input, uint32_t channel, int channel2) {
  auto& channels = input ? inChannels_ : outChannels_;
  if (channel > kMaxJoinedChannel || channel2 >= static_cast<int>(channels.size()) ||
      channel2 < -1 || static_cast<int64_t>(channel) == channel2) {
    return BASS_ERROR_ILLPARAM;
  }
  // Whatever the channel was joined to before, it is no longer.
  for (Channel& ch : channels) {
    ch.joined.erase(std::remove(ch.joined.begin(), ch.joined.end(), channel), ch.joined.end());
  }
  if (channel < channels.size()) {
    channels[channel].joinedTo = -1;
  }
  if (channel2 < 0) {
    return BASS_OK;
  }
  Channel& master = channels[static_cast<uint32_t>(channel2)];
  if (master.proc == nullptr || master.joinedTo >= 0) {
    return BASS_ERROR_ILLPARAM;
  }
  master.joined.push_back(channel);
  if (channel < channels.size()) {
    channels[channel].joinedTo = channel2;
  }
  return BASS_OK;
}

jack_port_t* JackDriver::PortFor(bool input, uint32_t channel) {
  auto& ports = input ? inPorts_ : outPorts_;
  if (channel >= ports.size()) {
    return nullptr;  // past the last channel: silence
  }
  if (ports[channel] == nullptr) {
    const std::string name = (input ? "in_" : "out_") + std::to_string(channel + 1);
    ports[channel] = jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                        input ? JackPortIsInput : JackPortIsOutput, 0);
  }
  return ports[channel];
}

std::unique_ptr<JackDriver::Groups> JackDriver::BuildGroups() {
  auto groups = std::make_unique<Groups>();
  for (int pass = 0; pass < 2; ++pass) {
    const bool input = pass == 0;
    auto& channels = input ? inChannels_ : outChannels_;
    for (uint32_t c = 0; c < channels.size(); ++c) {
      const Channel& ch = channels[c];
      if (ch.proc == nullptr || ch.joinedTo >= 0) {
        continue;
      }
      Group group;
      group.input = input;
      group.channel = c;
      group.proc = ch.proc;
      group.user = ch.user;
      group.sixteenBit = ch.format == BASS_ASIO_FORMAT_16BIT;
      group.ports.push_back(PortFor(input, c));
      for (uint32_t j : ch.joined) {
        group.ports.push_back(PortFor(input, j));
      }
      group.buffer.assign(static_cast<size_t>(kMaxFrames) * group.ports.size() * 4, 0);
      groups->push_back(std::move(group));
    }
  }
  return groups;
}

void JackDriver::ConnectInputs(const Groups& groups) {
  for (const Group& group : groups) {
    if (!group.input) {
      continue;
    }
    for (size_t i = 0; i < group.ports.size(); ++i) {
      const uint32_t c = i == 0 ? group.channel : inChannels_[group.channel].joined[i - 1];
      if (group.ports[i] != nullptr && c < inputs_.size()) {
        // An existing connection (a port used before) fails with EEXIST and stays as it is.
        jack_connect(client_, inputs_[c].c_str(), jack_port_name(group.ports[i]));
      }
    }
  }
}

int JackDriver::Start() {
  if (Lost()) {
    return BASS_ERROR_DRIVER;
  }
  if (Started()) {
    return BASS_ERROR_ALREADY;
  }
  auto groups = BuildGroups();
  if (groups->empty()) {
    return BASS_ERROR_NOCHAN;
  }
  const Groups& layout = *groups;
  groups_.Publish(std::move(groups));  // the client is inactive: nothing reads the old one
  if (jack_activate(client_) != 0) {
    return BASS_ERROR_START;
  }
  ConnectInputs(layout);
  started_.store(true, std::memory_order_release);
  return BASS_OK;
}

int JackDriver::Update() {
  if (Lost() || !Started()) {
    return BASS_ERROR_START;
  }
  // Ports are registered and connected on the running client before the cycle that reads
  // them; a new group's callback sees data from its first cycle on.
  auto groups = BuildGroups();
  ConnectInputs(*groups);
  groups_.Publish(std::move(groups));  // waits for the running cycle to end
  return BASS_OK;
}

int JackDriver::Stop() {
  if (!Started()) {
    return BASS_ERROR_START;
  }
  started_.store(false, std::memory_order_release);
  if (!Lost()) {
    jack_deactivate(client_);
  }
  return BASS_OK;
}

int JackDriver::ProcessCallback(jack_nframes_t frames, void* arg) {
  static_cast<JackDriver*>(arg)->Process(frames);
  return 0;
}

void JackDriver::ShutdownCallback(void* arg) {
  auto* self = static_cast<JackDriver*>(arg);
  self->lost_.store(true, std::memory_order_release);
  self->started_.store(false, std::memory_order_release);
}

void JackDriver::Process(jack_nframes_t frames) {
  if (!started_.load(std::memory_order_acquire)) {
    return;
  }
  const Groups* groups = groups_.Enter();
  for (const Group& group : *groups) {
    const size_t width = group.ports.size();
    const size_t sampleBytes = group.sixteenBit ? 2 : 4;
    auto* out16 = reinterpret_cast<int16_t*>(group.buffer.data());
    auto* outF = reinterpret_cast<float*>(group.buffer.data());
    for (jack_nframes_t done = 0; done < frames;) {
      const jack_nframes_t chunk = std::min<jack_nframes_t>(frames - done, kMaxFrames);
      const auto bytes = static_cast<DWORD>(chunk * width * sampleBytes);
      if (group.input) {
        for (size_t p = 0; p < width; ++p) {
          const float* in =
              group.ports[p] != nullptr
                  ? static_cast<const float*>(jack_port_get_buffer(group.ports[p], frames)) + done
                  : nullptr;
          for (jack_nframes_t f = 0; f < chunk; ++f) {
            const float v = in != nullptr ? in[f] : 0.0f;
            if (group.sixteenBit) {
              out16[f * width + p] = FloatToPcm16(v);
            } else {
              outF[f * width + p] = v;
            }
          }
        }
        group.proc(TRUE, group.channel, group.buffer.data(), bytes, group.user);
      } else {
        std::memset(group.buffer.data(), 0, bytes);
        group.proc(FALSE, group.channel, group.buffer.data(), bytes, group.user);
        for (size_t p = 0; p < width; ++p) {
          if (group.ports[p] == nullptr) {
            continue;
          }
          float* out = static_cast<float*>(jack_port_get_buffer(group.ports[p], frames)) + done;
          for (jack_nframes_t f = 0; f < chunk; ++f) {
            out[f] = group.sixteenBit ? Pcm16ToFloat(out16[f * width + p]) : outF[f * width + p];
          }
        }
      }
      done += chunk;
    }
  }
  groups_.Leave();
}

}  // namespace velloran::audio::jack
