// Effects (BASS_FX mix and echo) and DSP callbacks of the audio facade. Both sit on a mixer's
// processing chain in priority order.
#include <cmath>
#include <vector>

#include "audio/bass.h"
#include "audio/engine/ChainElement.h"
#include "audio/engine/DelayEffect.h"
#include "audio/engine/Engine.h"
#include "audio/engine/HandleTable.h"
#include "audio/engine/MixEffect.h"

using velloran::audio::Fail;
using velloran::audio::HandleTable;
using velloran::audio::SetLastError;
using velloran::audio::engine::ChainElement;
using velloran::audio::engine::DelayEffect;
using velloran::audio::engine::Effect;
using velloran::audio::engine::FindMixer;
using velloran::audio::engine::MixEffect;
using velloran::audio::engine::Mixer;

namespace {

constexpr DWORD kFxVersion = 0x02040C00;
constexpr double kMaxDelaySeconds = 60.0;

// The effect a freshly set FX starts with: it leaves the audio unchanged until parameters come.
std::shared_ptr<Effect> NeutralEffect(DWORD type, const Mixer& mixer) {
  const auto& format = mixer.Format();
  switch (type) {
    case BASS_FX_BFX_MIX:
      return std::make_shared<MixEffect>(format.channels, std::vector<int>{});
    case BASS_FX_BFX_ECHO3:
      return std::make_shared<DelayEffect>(format.rate, format.channels, 1.0f, 0.0f, 0.0,
                                           BASS_BFX_CHANALL);
    default:
      return nullptr;
  }
}

// Adds a chain element's handle; 0 when the table is exhausted.
DWORD AddElementHandle(const std::shared_ptr<Mixer>& mixer, DWORD channel, DWORD type) {
  return HandleTable::Instance().Add(std::make_shared<ChainElement>(mixer, channel, type));
}

}  // namespace

extern "C" {

DWORD BASS_FX_GetVersion(void) {
  SetLastError(BASS_OK);
  return kFxVersion;
}

HFX BASS_ChannelSetFX(DWORD handle, DWORD type, int priority) {
  auto mixer = FindMixer(handle);
  if (!mixer) {
    const bool isChannel = HandleTable::Instance().Find(handle) != nullptr;
    return Fail(isChannel ? BASS_ERROR_NOTAVAIL : BASS_ERROR_HANDLE, HFX{0});
  }
  auto effect = NeutralEffect(type, *mixer);
  if (!effect) {
    return Fail(BASS_ERROR_ILLTYPE, HFX{0});
  }
  const HFX fx = AddElementHandle(mixer, handle, type);
  if (fx == 0) {
    return Fail(BASS_ERROR_MEM, HFX{0});
  }
  mixer->Chain().AddEffect(fx, priority, std::move(effect));
  SetLastError(BASS_OK);
  return fx;
}

BOOL BASS_FXSetParameters(HFX handle, const void* params) {
  auto element = HandleTable::Instance().FindAs<ChainElement>(handle);
  if (!element || element->EffectType() == 0) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  auto mixer = element->Owner();
  if (!mixer) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  if (params == nullptr) {
    return Fail(BASS_ERROR_ILLPARAM, FALSE);
  }
  const auto& format = mixer->Format();
  std::shared_ptr<Effect> effect;
  if (element->EffectType() == BASS_FX_BFX_MIX) {
    const auto* mix = static_cast<const BASS_BFX_MIX*>(params);
    if (mix->lChannel == nullptr) {
      return Fail(BASS_ERROR_ILLPARAM, FALSE);
    }
    std::vector<int> flags(mix->lChannel, mix->lChannel + format.channels);
    effect = std::make_shared<MixEffect>(format.channels, std::move(flags));
  } else {
    const auto* echo = static_cast<const BASS_BFX_ECHO3*>(params);
    if (!std::isfinite(echo->fDryMix) || !std::isfinite(echo->fWetMix) ||
        !std::isfinite(echo->fDelay) || echo->fDelay < 0 || echo->fDelay > kMaxDelaySeconds) {
      return Fail(BASS_ERROR_ILLPARAM, FALSE);
    }
    effect = std::make_shared<DelayEffect>(format.rate, format.channels, echo->fDryMix,
                                           echo->fWetMix, echo->fDelay, echo->lChannel);
  }
  if (!mixer->Chain().Replace(handle, std::move(effect))) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  SetLastError(BASS_OK);
  return TRUE;
}

BOOL BASS_ChannelRemoveFX(DWORD handle, HFX fx) {
  auto element = HandleTable::Instance().FindAs<ChainElement>(fx);
  auto mixer = FindMixer(handle);
  if (!mixer || !element || element->EffectType() == 0 || element->ChannelHandle() != handle) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  mixer->Chain().Remove(fx);
  HandleTable::Instance().Remove(fx);
  SetLastError(BASS_OK);
  return TRUE;
}

HDSP BASS_ChannelSetDSP(DWORD handle, DSPPROC* proc, void* user, int priority) {
  auto mixer = FindMixer(handle);
  if (!mixer) {
    const bool isChannel = HandleTable::Instance().Find(handle) != nullptr;
    return Fail(isChannel ? BASS_ERROR_NOTAVAIL : BASS_ERROR_HANDLE, HDSP{0});
  }
  if (proc == nullptr) {
    return Fail(BASS_ERROR_ILLPARAM, HDSP{0});
  }
  const HDSP dsp = AddElementHandle(mixer, handle, 0);
  if (dsp == 0) {
    return Fail(BASS_ERROR_MEM, HDSP{0});
  }
  mixer->Chain().AddDsp(dsp, priority, proc, user);
  SetLastError(BASS_OK);
  return dsp;
}

BOOL BASS_ChannelRemoveDSP(DWORD handle, HDSP dsp) {
  auto element = HandleTable::Instance().FindAs<ChainElement>(dsp);
  auto mixer = FindMixer(handle);
  if (!mixer || !element || element->EffectType() != 0 || element->ChannelHandle() != handle) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  mixer->Chain().Remove(dsp);  // waits until a running pass is over
  HandleTable::Instance().Remove(dsp);
  SetLastError(BASS_OK);
  return TRUE;
}

}  // extern "C"
