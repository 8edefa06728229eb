#pragma once
// Test helper: a JACK client that plays one sine per output port (frequency 0 = silence) and
// connects its ports to the ports of another client, so a capture test hears known signals.
#include <jack/jack.h>

#include <string>
#include <vector>

namespace velloran::test {

class JackToneClient {
 public:
  // levelsDb: peak level per port.
  JackToneClient(std::vector<double> frequencies, std::vector<double> levelsDb);
  ~JackToneClient();
  bool Ok() const { return client_ != nullptr; }
  // Connects output port i to the port named targets[i] (full names); false on failure.
  bool ConnectTo(const std::vector<std::string>& targets);

 private:
  static int Process(jack_nframes_t frames, void* arg);

  jack_client_t* client_ = nullptr;
  std::vector<jack_port_t*> ports_;
  std::vector<double> frequencies_;
  std::vector<double> amplitudes_;
  std::vector<double> phases_;
  double rate_ = 48000;
};

// Full names of the ports of clients whose name starts with `clientPrefix` and whose short
// port name is `shortName`.
std::vector<std::string> FindPorts(const std::string& clientPrefix, const std::string& shortName);

}  // namespace velloran::test
