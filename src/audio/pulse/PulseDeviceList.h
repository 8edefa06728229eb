#pragma once
// The PulseAudio endpoints the WASAPI functions offer: every source (monitor sources are the
// loopback endpoints), then every sink (output only), as the server lists them. Numbers are
// stable for the life of the process: a later refresh appends new endpoints and keeps those
// that have gone as absent entries, so a number never comes to name another endpoint. Enumeration
// connects without autospawn and gives up after a few seconds, so it never starts a server and
// never hangs start-up: without a reachable server the list is empty.
//
// Thread contract: any non-real-time thread; an internal lock guards the list. Entries are
// never freed while the process runs, so the texts handed out stay valid.
#include <cstddef>
#include <cstdint>
#include <string>

namespace velloran::audio::pulse {

struct PulseEndpoint {
  std::string name;         // source or sink name (the identifier)
  std::string description;  // the server's description
  bool input = true;        // a source
  bool monitor = false;     // a sink's monitor source
  bool isDefault = false;   // the server's default source or sink
  bool unplugged = false;   // its active port reports "not available"
  bool present = true;      // false once the server no longer lists it
  uint32_t rate = 0;
  uint32_t channels = 0;
};

class PulseDeviceList {
 public:
  // Asks the server for its endpoints again and merges them into the list.
  static void Refresh();
  // Entry n of the list taken last (taken on first use); nullptr past the end.
  static const PulseEndpoint* Get(size_t n);
};

}  // namespace velloran::audio::pulse
