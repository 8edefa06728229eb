#include "audio/wadsp/LadspaPorts.h"

#include <algorithm>
#include <cmath>

#include "audio/bass_wadsp.h"

namespace velloran::audio::wadsp {

namespace {

// A point between the bounds, on a logarithmic scale where the hints ask for one (and the
// bounds allow it).
float Between(const ControlPort& c, bool logarithmic, float weightOfMax) {
  if (logarithmic && c.min > 0.0f && c.max > 0.0f) {
    return std::exp(std::log(c.min) * (1.0f - weightOfMax) + std::log(c.max) * weightOfMax);
  }
  return c.min * (1.0f - weightOfMax) + c.max * weightOfMax;
}

float DefaultOf(const ControlPort& c, LADSPA_PortRangeHintDescriptor hints) {
  const bool log = LADSPA_IS_HINT_LOGARITHMIC(hints);
  switch (hints & LADSPA_HINT_DEFAULT_MASK) {
    case LADSPA_HINT_DEFAULT_MINIMUM:
      return c.min;
    case LADSPA_HINT_DEFAULT_LOW:
      return Between(c, log, 0.25f);
    case LADSPA_HINT_DEFAULT_MIDDLE:
      return Between(c, log, 0.5f);
    case LADSPA_HINT_DEFAULT_HIGH:
      return Between(c, log, 0.75f);
    case LADSPA_HINT_DEFAULT_MAXIMUM:
      return c.max;
    case LADSPA_HINT_DEFAULT_0:
      return 0.0f;
    case LADSPA_HINT_DEFAULT_1:
      return 1.0f;
    case LADSPA_HINT_DEFAULT_100:
      return 100.0f;
    case LADSPA_HINT_DEFAULT_440:
      return 440.0f;
    default:
      // No default given: the lower bound if there is one, else the upper one, else 0.
      if ((c.flags & BASS_WADSP_CONTROL_HASMIN) != 0) {
        return c.min;
      }
      return (c.flags & BASS_WADSP_CONTROL_HASMAX) != 0 ? std::min(c.max, 0.0f) : 0.0f;
  }
}

}  // namespace

bool IsUsable(const LADSPA_Descriptor& d) {
  if (d.instantiate == nullptr || d.connect_port == nullptr || d.run == nullptr ||
      d.cleanup == nullptr) {
    return false;
  }
  return d.PortCount == 0 ||
         (d.PortDescriptors != nullptr && d.PortNames != nullptr && d.PortRangeHints != nullptr);
}

AudioPorts AudioPortsOf(const LADSPA_Descriptor& d) {
  AudioPorts ports;
  for (unsigned long i = 0; i < d.PortCount; ++i) {
    const LADSPA_PortDescriptor p = d.PortDescriptors[i];
    if (!LADSPA_IS_PORT_AUDIO(p)) {
      continue;
    }
    if (LADSPA_IS_PORT_INPUT(p)) {
      ports.inputs.push_back(i);
    } else if (LADSPA_IS_PORT_OUTPUT(p)) {
      ports.outputs.push_back(i);
    }
  }
  return ports;
}

std::vector<ControlPort> InputControls(const LADSPA_Descriptor& d, uint32_t rate) {
  std::vector<ControlPort> controls;
  for (unsigned long i = 0; i < d.PortCount; ++i) {
    const LADSPA_PortDescriptor p = d.PortDescriptors[i];
    if (!LADSPA_IS_PORT_CONTROL(p) || !LADSPA_IS_PORT_INPUT(p)) {
      continue;
    }
    const LADSPA_PortRangeHint& hint = d.PortRangeHints[i];
    const LADSPA_PortRangeHintDescriptor h = hint.HintDescriptor;
    ControlPort c;
    c.port = i;
    c.name = d.PortNames[i] != nullptr ? d.PortNames[i] : "";
    const float scale = LADSPA_IS_HINT_SAMPLE_RATE(h) ? static_cast<float>(rate) : 1.0f;
    if (LADSPA_IS_HINT_TOGGLED(h)) {
      c.flags = BASS_WADSP_CONTROL_TOGGLED | BASS_WADSP_CONTROL_HASMIN | BASS_WADSP_CONTROL_HASMAX;
      c.min = 0.0f;
      c.max = 1.0f;
    } else {
      if (LADSPA_IS_HINT_BOUNDED_BELOW(h) && std::isfinite(hint.LowerBound * scale)) {
        c.flags |= BASS_WADSP_CONTROL_HASMIN;
        c.min = hint.LowerBound * scale;
      }
      if (LADSPA_IS_HINT_BOUNDED_ABOVE(h) && std::isfinite(hint.UpperBound * scale)) {
        c.flags |= BASS_WADSP_CONTROL_HASMAX;
        c.max = hint.UpperBound * scale;
      }
      if ((c.flags & BASS_WADSP_CONTROL_HASMIN) != 0 &&
          (c.flags & BASS_WADSP_CONTROL_HASMAX) != 0 && c.max < c.min) {
        std::swap(c.min, c.max);  // a plug-in that got its bounds the wrong way round
      }
      if (LADSPA_IS_HINT_INTEGER(h)) {
        c.flags |= BASS_WADSP_CONTROL_INTEGER;
      }
      if (LADSPA_IS_HINT_LOGARITHMIC(h)) {
        c.flags |= BASS_WADSP_CONTROL_LOG;
      }
    }
    const float def = DefaultOf(c, h);
    c.def = ClampControl(c, std::isfinite(def) ? def : 0.0f);
    controls.push_back(c);
  }
  return controls;
}

float ClampControl(const ControlPort& c, float value) {
  if ((c.flags & BASS_WADSP_CONTROL_TOGGLED) != 0) {
    return value > 0.0f ? 1.0f : 0.0f;
  }
  const bool hasMin = (c.flags & BASS_WADSP_CONTROL_HASMIN) != 0;
  const bool hasMax = (c.flags & BASS_WADSP_CONTROL_HASMAX) != 0;
  if (hasMin) {
    value = std::max(value, c.min);
  }
  if (hasMax) {
    value = std::min(value, c.max);
  }
  if ((c.flags & BASS_WADSP_CONTROL_INTEGER) != 0) {
    // The nearest whole number that stays inside the bounds.
    value = std::nearbyint(value);
    if (hasMax && value > c.max) {
      value = std::floor(c.max);
    }
    if (hasMin && value < c.min) {
      value = std::ceil(c.min);
    }
  }
  return value;
}

}  // namespace velloran::audio::wadsp
