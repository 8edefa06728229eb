#pragma once
// What the host reads from a LADSPA descriptor: its audio ports, and its input controls with
// their ranges and defaults worked out from the range hints at a given sample rate.
//
// Thread contract: plain functions over immutable descriptors; any thread.
#include <ladspa.h>

#include <cstdint>
#include <vector>

namespace velloran::audio::wadsp {

struct ControlPort {
  unsigned long port = 0;  // the descriptor's port index
  const char* name = "";
  float min = 0.0f;  // meaningful with BASS_WADSP_CONTROL_HASMIN
  float max = 0.0f;  // meaningful with BASS_WADSP_CONTROL_HASMAX
  float def = 0.0f;
  uint32_t flags = 0;  // BASS_WADSP_CONTROL_*
};

struct AudioPorts {
  std::vector<unsigned long> inputs;
  std::vector<unsigned long> outputs;
};

// False for a descriptor the host cannot drive (missing port tables or entry points).
bool IsUsable(const LADSPA_Descriptor& descriptor);
AudioPorts AudioPortsOf(const LADSPA_Descriptor& descriptor);
// The input control ports in port order.
std::vector<ControlPort> InputControls(const LADSPA_Descriptor& descriptor, uint32_t rate);
// value brought into the control's range (0/1 for a toggle, whole numbers for an integer
// control). value must be finite.
float ClampControl(const ControlPort& control, float value);

}  // namespace velloran::audio::wadsp
