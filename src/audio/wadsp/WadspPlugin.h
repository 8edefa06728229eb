#pragma once
// The handle object of a loaded DSP plug-in: its library, the module it runs, the control values
// in force, and where it sits on a mixer's chain. The chain holds the running LadspaEffect (or a
// pass-through while nothing is started), so the instances live as long as the chain needs them.
//
// Thread contract: control threads only; every operation takes the object's mutex, and the chain
// changes may wait for a running pull pass to end. The pull thread never touches this object.
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/bass_wadsp.h"
#include "audio/engine/HandleTable.h"
#include "audio/wadsp/LadspaEffect.h"
#include "audio/wadsp/LadspaLibrary.h"
#include "audio/wadsp/LadspaPorts.h"

namespace velloran::audio::engine {
class Mixer;
}

namespace velloran::audio::wadsp {

class WadspPlugin final : public HandleObject {
 public:
  explicit WadspPlugin(std::shared_ptr<LadspaLibrary> library);
  ~WadspPlugin() override;
  WadspPlugin(const WadspPlugin&) = delete;
  WadspPlugin& operator=(const WadspPlugin&) = delete;

  // Each returns BASS_OK or a BASS_ERROR_* code (see bass_wadsp.h).
  int Start(uint32_t module, uint32_t channel);
  int SetDsp(uint32_t channel, int priority, uint32_t* dsp);
  int RemoveDsp();
  void Controls(std::vector<BASS_WADSP_CONTROL>* controls) const;
  int SetControl(uint32_t index, float value);
  // Blocks replaced by silence since the plug-in was loaded.
  uint64_t InvalidBlocks() const;

 private:
  // The module's controls at rate (a rate-relative range needs one before any start).
  void SelectModule(uint32_t module, uint32_t rate);
  int RemoveDspLocked();

  mutable std::mutex mutex_;
  std::shared_ptr<LadspaLibrary> library_;
  uint32_t module_ = 0;
  uint32_t rate_ = 0;
  std::vector<ControlPort> controls_;
  std::vector<float> values_;
  std::shared_ptr<LadspaEffect> effect_;  // nullptr until started
  uint64_t invalidBefore_ = 0;            // counted by effects that a restart replaced
  uint32_t dsp_ = 0;
  uint32_t dspChannel_ = 0;
  std::weak_ptr<engine::Mixer> dspMixer_;
};

}  // namespace velloran::audio::wadsp
