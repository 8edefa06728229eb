// LADSPA libraries for the plug-in host's tests, for the faults no packaged plug-in shows on
// demand. Built twice:
// - VELLORAN_FIXTURE_INVALID: "Poison Mono", a mono pass-through whose output turns to NaN
//   (control "Poison" = 1) or +infinity (2); exports the number of live instances.
// - VELLORAN_FIXTURE_EMPTY: a library that exports ladspa_descriptor but has no descriptor.
#include <ladspa.h>

#include <cmath>
#include <limits>

namespace {

#ifdef VELLORAN_FIXTURE_INVALID

int gLiveInstances = 0;

struct Poison {
  LADSPA_Data* poison = nullptr;
  LADSPA_Data* input = nullptr;
  LADSPA_Data* output = nullptr;
};

LADSPA_Handle Instantiate(const LADSPA_Descriptor*, unsigned long) {
  ++gLiveInstances;
  return new Poison;
}

void Connect(LADSPA_Handle handle, unsigned long port, LADSPA_Data* data) {
  auto* p = static_cast<Poison*>(handle);
  (port == 0 ? p->poison : port == 1 ? p->input : p->output) = data;
}

void Run(LADSPA_Handle handle, unsigned long frames) {
  auto* p = static_cast<Poison*>(handle);
  const float mode = *p->poison;
  for (unsigned long i = 0; i < frames; ++i) {
    p->output[i] = mode >= 1.5f   ? std::numeric_limits<float>::infinity()
                   : mode >= 0.5f ? std::numeric_limits<float>::quiet_NaN()
                                  : p->input[i];
  }
}

void Cleanup(LADSPA_Handle handle) {
  --gLiveInstances;
  delete static_cast<Poison*>(handle);
}

const LADSPA_PortDescriptor kPorts[] = {LADSPA_PORT_INPUT | LADSPA_PORT_CONTROL,
                                        LADSPA_PORT_INPUT | LADSPA_PORT_AUDIO,
                                        LADSPA_PORT_OUTPUT | LADSPA_PORT_AUDIO};
const char* const kNames[] = {"Poison", "Input", "Output"};
const LADSPA_PortRangeHint kHints[] = {{LADSPA_HINT_BOUNDED_BELOW | LADSPA_HINT_BOUNDED_ABOVE |
                                            LADSPA_HINT_INTEGER | LADSPA_HINT_DEFAULT_0,
                                        0.0f, 2.0f},
                                       {0, 0.0f, 0.0f},
                                       {0, 0.0f, 0.0f}};

const LADSPA_Descriptor kDescriptor = {9901,
                                       "poison_mono",
                                       LADSPA_PROPERTY_HARD_RT_CAPABLE,
                                       "Poison Mono",
                                       "Velloran tests",
                                       "None",
                                       3,
                                       kPorts,
                                       kNames,
                                       kHints,
                                       nullptr,
                                       Instantiate,
                                       Connect,
                                       nullptr,
                                       Run,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       Cleanup};

#endif

}  // namespace

extern "C" {

#ifdef VELLORAN_FIXTURE_INVALID
__attribute__((visibility("default"))) int velloran_fixture_live_instances() {
  return gLiveInstances;
}
#endif

__attribute__((visibility("default"))) const LADSPA_Descriptor* ladspa_descriptor(
    unsigned long index) {
#ifdef VELLORAN_FIXTURE_INVALID
  return index == 0 ? &kDescriptor : nullptr;
#else
  (void)index;
  return nullptr;
#endif
}

}  // extern "C"
