#pragma once
// One JACK client on the default server, seen as an ASIO driver: the server's physical
// capture ports are the inputs, its physical playback ports the outputs. Channels are enabled
// with a callback; further channels can be joined to an enabled one, and the callback then
// gets their samples interleaved (16-bit or float). Start registers a port per enabled channel,
// activates the client and connects the physical capture ports to the input ports. While
// started, the channel layout can be changed and applied with Update: ports are registered and
// connected on the running client, which is never deactivated for it, so the groups that stay
// are called in every cycle without a gap.
//
// The server is never started by this class (JackNoStartServer). When the server goes away the
// driver is lost: it stops, callbacks are no longer called, and Start fails.
//
// Thread contract: every member except the process callback from one controlling thread at a
// time (the facade's lock). The process callback runs on the JACK real-time thread: it reads the
// layout published by Start or Update (a snapshot), and neither locks nor allocates. Update
// waits for the running cycle, so a group removed by it is not called once it returns.
#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/bassasio.h"
#include "audio/engine/SnapshotCell.h"

namespace velloran::audio::jack {

class JackDriver {
 public:
  // Connects to the default server. On failure returns nullptr and sets error (BASS_ERROR_*).
  static std::unique_ptr<JackDriver> Open(int& error);
  ~JackDriver();
  JackDriver(const JackDriver&) = delete;
  JackDriver& operator=(const JackDriver&) = delete;

  uint32_t Rate() const { return rate_; }
  uint32_t BufferSize() const;
  size_t ChannelCount(bool input) const { return (input ? inputs_ : outputs_).size(); }
  // Full port name of a channel; "" past the end.
  std::string ChannelName(bool input, size_t channel) const;

  // Each returns 0 or a BASS_ERROR_* code.
  int Enable(bool input, uint32_t channel, ASIOPROC* proc, void* user);
  int SetFormat(bool input, uint32_t channel, uint32_t format);
  int Join(bool input, uint32_t channel, int channel2);
  int Start();
  // Applies the channel layout to the running client (BASS_ERROR_START when not started).
  int Update();
  int Stop();
  bool Started() const { return started_.load(std::memory_order_acquire); }
  bool Lost() const { return lost_.load(std::memory_order_acquire); }

  static constexpr uint32_t kMaxFrames = 8192;

 private:
  struct Channel {
    ASIOPROC* proc = nullptr;  // set on the first channel of a group
    void* user = nullptr;
    uint32_t format = BASS_ASIO_FORMAT_FLOAT;
    std::vector<uint32_t> joined;  // further channels, in join order
    int joinedTo = -1;             // first channel of the group this one is joined to
  };
  struct Group {  // the real-time view of one enabled channel and its joined channels
    bool input = true;
    uint32_t channel = 0;
    ASIOPROC* proc = nullptr;
    void* user = nullptr;
    bool sixteenBit = false;
    std::vector<jack_port_t*> ports;
    mutable std::vector<uint8_t> buffer;  // the process thread's scratch
  };
  using Groups = std::vector<Group>;
  // The groups of the current layout, their ports registered.
  std::unique_ptr<Groups> BuildGroups();
  void ConnectInputs(const Groups& groups);

  explicit JackDriver(jack_client_t* client);
  jack_port_t* PortFor(bool input, uint32_t channel);
  static int ProcessCallback(jack_nframes_t frames, void* arg);
  static void ShutdownCallback(void* arg);
  void Process(jack_nframes_t frames);

  jack_client_t* client_ = nullptr;
  uint32_t rate_ = 0;
  std::vector<std::string> inputs_;
  std::vector<std::string> outputs_;
  std::vector<Channel> inChannels_;
  std::vector<Channel> outChannels_;
  std::vector<jack_port_t*> inPorts_;  // our ports, registered on demand
  std::vector<jack_port_t*> outPorts_;
  engine::SnapshotCell<Groups> groups_{std::make_unique<Groups>()};
  std::atomic<bool> started_{false};
  std::atomic<bool> lost_{false};
};

}  // namespace velloran::audio::jack
