#include "audio/wadsp/WadspPlugin.h"

#include <cmath>

#include "audio/engine/ChainElement.h"
#include "audio/engine/Engine.h"

namespace velloran::audio::wadsp {

namespace {

// Controls are described at this rate until the plug-in is started on a channel.
constexpr uint32_t kUnstartedRate = 48000;

// What the chain runs while the plug-in is attached but not started: the audio as it is.
class PassThrough final : public engine::Effect {
 public:
  void Process(float*, size_t) noexcept override {}
};

}  // namespace

WadspPlugin::WadspPlugin(std::shared_ptr<LadspaLibrary> library) : library_(std::move(library)) {
  SelectModule(0, kUnstartedRate);
}

WadspPlugin::~WadspPlugin() {
  std::lock_guard lock(mutex_);
  RemoveDspLocked();
}

void WadspPlugin::SelectModule(uint32_t module, uint32_t rate) {
  const LADSPA_Descriptor* d = library_->Module(module);
  const bool same = module == module_ && !controls_.empty();
  std::vector<ControlPort> controls =
      d != nullptr && IsUsable(*d) ? InputControls(*d, rate) : std::vector<ControlPort>{};
  std::vector<float> values;
  for (size_t i = 0; i < controls.size(); ++i) {
    // Values chosen for this module survive a restart, brought into the range at the new rate.
    values.push_back(same && i < values_.size() ? ClampControl(controls[i], values_[i])
                                                : controls[i].def);
  }
  module_ = module;
  rate_ = rate;
  controls_ = std::move(controls);
  values_ = std::move(values);
}

int WadspPlugin::Start(uint32_t module, uint32_t channel) {
  auto mixer = engine::FindMixer(channel);
  if (!mixer) {
    return BASS_ERROR_HANDLE;
  }
  std::lock_guard lock(mutex_);
  const LADSPA_Descriptor* d = library_->Module(module);
  if (d == nullptr) {
    return BASS_ERROR_ILLPARAM;
  }
  const auto& format = mixer->Format();
  auto attached = dspMixer_.lock();
  if (dsp_ != 0 && attached &&
      (attached->Format().channels != format.channels || attached->Format().rate != format.rate)) {
    return BASS_ERROR_FORMAT;  // the chain it sits on could not take this instance
  }
  SelectModule(module, format.rate);
  int error = BASS_OK;
  auto effect = LadspaEffect::Create(library_, *d, format.rate, format.channels, values_, &error);
  if (!effect) {
    return error;
  }
  if (effect_) {
    invalidBefore_ += effect_->InvalidBlocks();
  }
  if (dsp_ != 0 && attached) {
    attached->Chain().Replace(dsp_, effect);  // the old instance stops before this returns
  }
  effect_ = std::move(effect);
  return BASS_OK;
}

int WadspPlugin::SetDsp(uint32_t channel, int priority, uint32_t* dsp) {
  auto mixer = engine::FindMixer(channel);
  if (!mixer) {
    const bool isChannel = HandleTable::Instance().Find(channel) != nullptr;
    return isChannel ? BASS_ERROR_NOTAVAIL : BASS_ERROR_HANDLE;
  }
  std::lock_guard lock(mutex_);
  if (dsp_ != 0) {
    auto attached = dspMixer_.lock();
    if (attached && attached->Chain().Contains(dsp_)) {
      return BASS_ERROR_ALREADY;
    }
    RemoveDspLocked();  // taken off by its mixer's end or by BASS_ChannelRemoveDSP
  }
  if (effect_ && (effect_->Channels() != mixer->Format().channels ||
                  effect_->Rate() != mixer->Format().rate)) {
    return BASS_ERROR_FORMAT;
  }
  const uint32_t handle = HandleTable::Instance().Add(
      std::make_shared<engine::ChainElement>(mixer, channel, uint32_t{0}));
  if (handle == 0) {
    return BASS_ERROR_MEM;
  }
  std::shared_ptr<engine::Effect> element = effect_;
  if (!element) {
    element = std::make_shared<PassThrough>();
  }
  mixer->Chain().AddEffect(handle, priority, std::move(element));
  dsp_ = handle;
  dspChannel_ = channel;
  dspMixer_ = mixer;
  *dsp = handle;
  return BASS_OK;
}

int WadspPlugin::RemoveDsp() {
  std::lock_guard lock(mutex_);
  return RemoveDspLocked();
}

int WadspPlugin::RemoveDspLocked() {
  if (dsp_ == 0) {
    return BASS_ERROR_HANDLE;
  }
  // A mixer freed meanwhile took its chain, and this DSP's handle, with it.
  if (auto mixer = dspMixer_.lock()) {
    mixer->Chain().Remove(dsp_);  // waits until a running pass is over
  }
  HandleTable::Instance().Remove(dsp_);
  dsp_ = 0;
  dspChannel_ = 0;
  dspMixer_.reset();
  return BASS_OK;
}

void WadspPlugin::Controls(std::vector<BASS_WADSP_CONTROL>* controls) const {
  std::lock_guard lock(mutex_);
  controls->clear();
  for (size_t i = 0; i < controls_.size(); ++i) {
    const ControlPort& c = controls_[i];
    controls->push_back({c.name, c.min, c.max, c.def, values_[i], c.flags});
  }
}

int WadspPlugin::SetControl(uint32_t index, float value) {
  std::lock_guard lock(mutex_);
  if (index >= controls_.size() || !std::isfinite(value)) {
    return BASS_ERROR_ILLPARAM;
  }
  values_[index] = ClampControl(controls_[index], value);
  if (effect_) {
    effect_->SetControl(index, values_[index]);
  }
  return BASS_OK;
}

uint64_t WadspPlugin::InvalidBlocks() const {
  std::lock_guard lock(mutex_);
  return invalidBefore_ + (effect_ ? effect_->InvalidBlocks() : 0);
}

}  // namespace velloran::audio::wadsp
