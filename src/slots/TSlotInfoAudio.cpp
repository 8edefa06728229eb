// The slot's audio graph: the mixer and its effects, the level and byte-count callbacks, and
// the pull that drains the mixer in step with the clock.
#include "slots/TSlotInfo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "audio/devices/DeviceCatalogue.h"
#include "audio/devices/TDeviceInfoWithClients.h"
#include "audio/encode/BassEncode.h"
#include "core/BassErrorText.h"
#include "core/Clock.h"
#include "core/Error.h"
#include "core/Paths.h"
#include "core/RealTimePriority.h"
#include "slots/CueSheet.h"
#include "slots/EncoderCommandLine.h"
#include "slots/FileStartCheck.h"
#include "slots/RecordingNames.h"
#include "slots/RecordingsDatabase.h"
#include "slots/RecordingsWriteQueue.h"
#include "slots/TimeSlots.h"

namespace velloran::slots {

namespace {

constexpr double kPullBlockSeconds = 2.0;
constexpr uint32_t kPullIntervalMs = 50;
constexpr int32_t kMinSampleRate = 1000;
constexpr int32_t kMaxSampleRate = 384000;

}  // namespace

void TSlotInfo::Initialize(bool iStartPullThread) {
  { fLastOverSilenceTickCount.store(TickCount64(), std::memory_order_relaxed); }
  fLastMetadataTickCount = TickCount64();
  if (fEffectiveSamplerate < kMinSampleRate || fEffectiveSamplerate > kMaxSampleRate) {
    // An unusable sample rate: the slot stays without audio graph and says why.
    std::lock_guard<std::recursive_mutex> lock(fCS);
    fErrorMessage = "Invalid sample rate " + std::to_string(fEffectiveSamplerate);
    DoLogMessage("Recording error: " + fErrorMessage);
  } else {
    fMixer = BASS_Mixer_StreamCreate(static_cast<DWORD>(fEffectiveSamplerate), 2,
                                     BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE | BASS_MIXER_NONSTOP);
    if (fMixer == 0) {
      std::lock_guard<std::recursive_mutex> lock(fCS);
      fErrorMessage = "Mixer: BASS Error " + std::to_string(BASS_ErrorGetCode());
      DoLogMessage("Recording error: " + fErrorMessage);
    }
  }
  fDownmixFX = BASS_ChannelSetFX(fMixer, BASS_FX_BFX_MIX, 1);
  UpdateDownmixFX();
  BASS_ChannelSetDSP(fMixer, &TSlotInfo::LevelDSPProc, this, 0);
  BASS_ChannelSetDSP(fMixer, &TSlotInfo::CounterDSPProc, this, 0);
  BASS_FX_GetVersion();
  if (fSettings.fRecordDelay > 0) {
    const HFX delay = BASS_ChannelSetFX(fMixer, BASS_FX_BFX_ECHO3, 100);
    BASS_BFX_ECHO3 params{0.0f, 1.0f, static_cast<float>(fSettings.fRecordDelay), BASS_BFX_CHANALL};
    BASS_FXSetParameters(delay, &params);
  }
  ReloadWinampPlugin();

  fPull = audio::engine::MixerPull(fMixer);
  if (fPull.Valid()) {
    fPullBuffer.assign(static_cast<size_t>(fPull.BytesFor(kPullBlockSeconds)), 0);
  }
  fPullStartTick = TickCount64();
  if (iStartPullThread) {
    fPullThread = std::make_unique<TSimpleThread>(
        true, [this] { PullThreadProc(); }, "PullThread Slot " + std::to_string(fIndex));
    fPullThread->SetPriority(ThreadPriority::TimeCritical);
    fPullThread->Start();
  }
  fStreamingThread = std::make_unique<TSimpleThread>(
      true, [this] { StreamingThreadProc(); }, "StreamingThread Slot " + std::to_string(fIndex));
  fStreamingThread->Start();

  RepairDatabase();
}

void TSlotInfo::UpdateDownmixFX() {
  switch (fSettings.fRecordChannels) {
    case rcLeft:
      fDownmixChannels[0] = BASS_BFX_CHAN1;
      fDownmixChannels[1] = BASS_BFX_CHAN1;
      break;
    case rcRight:
      fDownmixChannels[0] = BASS_BFX_CHAN2;
      fDownmixChannels[1] = BASS_BFX_CHAN2;
      break;
    case rcStereo:
    default:
      fDownmixChannels[0] = BASS_BFX_CHAN1;
      fDownmixChannels[1] = BASS_BFX_CHAN2;
      break;
  }
  const BASS_BFX_MIX params{fDownmixChannels};
  BASS_FXSetParameters(fDownmixFX, &params);
}

void TSlotInfo::LevelDSPProc(HDSP, DWORD, void* buffer, DWORD length, void* user) {
  static_cast<TSlotInfo*>(user)->DoLevelDSP(buffer, length);
}

void TSlotInfo::CounterDSPProc(HDSP, DWORD, void*, DWORD length, void* user) {
  static_cast<TSlotInfo*>(user)->DoCounterDSP(length);
}

void TSlotInfo::DoLevelDSP(const void* buffer, DWORD length) {
  const size_t frames = length / 8;
  const auto* samples = static_cast<const float*>(buffer);
  float left = 0.0f;
  float right = 0.0f;
  for (size_t i = 0; i < frames; ++i) {
    left = std::max(left, std::fabs(samples[2 * i]));
    right = std::max(right, std::fabs(samples[2 * i + 1]));
  }
  fLevelLeft.store(left, std::memory_order_relaxed);
  fLevelRight.store(right, std::memory_order_relaxed);
  const float threshold = fSilenceThresholdLinear.load(std::memory_order_relaxed);
  if (left >= threshold || right >= threshold) {
    fLastOverSilenceTickCount.store(TickCount64(), std::memory_order_relaxed);
  }
}

void TSlotInfo::DoCounterDSP(DWORD length) {
  fStreamPosition.fetch_add(length, std::memory_order_acq_rel);
}

uint32_t TSlotInfo::PullStep() {
  if (!fPull.Valid() || fPullBuffer.empty()) {
    return 0;
  }
  const double elapsed = static_cast<double>(TickCount64() - fPullStartTick) / 1000.0;
  const uint64_t target = fPull.BytesFor(elapsed);
  const uint64_t pos = fPull.Position();
  if (pos >= target) {
    return 0;
  }
  const auto amount = static_cast<size_t>(std::min<uint64_t>(target - pos, fPullBuffer.size()));
  return static_cast<uint32_t>(fPull.Pull(fPullBuffer.data(), amount));
}

void TSlotInfo::PullThreadProc() {
  uint32_t priorityGeneration = RealTimePriorityGeneration() - 1;  // applied on the first pass
  while (!fPullThread->Terminated()) {
    if (const uint32_t now = RealTimePriorityGeneration(); now != priorityGeneration) {
      priorityGeneration = now;  // an audio server opened: go below its threads
      SetCurrentThreadPriority(ThreadPriority::TimeCritical);
    }
    PullStep();
    fPullThread->WaitForEvent(kPullIntervalMs);
  }
}

}  // namespace velloran::slots
