// The mixer functions of the audio facade.
#include "audio/bass.h"
#include "audio/engine/Engine.h"
#include "audio/engine/HandleTable.h"

using velloran::audio::Fail;
using velloran::audio::HandleTable;
using velloran::audio::SetLastError;
using velloran::audio::engine::Channel;
using velloran::audio::engine::FindMixer;
using velloran::audio::engine::Mixer;
using velloran::audio::engine::MixerSource;

namespace {
constexpr DWORD kMaxRate = 1000000;
constexpr DWORD kMaxChannels = 32;
}  // namespace

extern "C" {

HSTREAM BASS_Mixer_StreamCreate(DWORD freq, DWORD chans, DWORD flags) {
  if (freq == 0 || freq > kMaxRate) {
    return Fail(BASS_ERROR_FREQ, HSTREAM{0});
  }
  if (chans == 0 || chans > kMaxChannels || (flags & BASS_SAMPLE_FLOAT) == 0) {
    return Fail(BASS_ERROR_FORMAT, HSTREAM{0});  // mixers produce 32-bit float only
  }
  auto mixer = std::make_shared<Mixer>(freq, chans, flags);
  const HSTREAM handle = HandleTable::Instance().Add(mixer);
  if (handle == 0) {
    return Fail(BASS_ERROR_MEM, HSTREAM{0});
  }
  SetLastError(BASS_OK);
  return handle;
}

BOOL BASS_Mixer_StreamAddChannel(HSTREAM handle, DWORD channel, DWORD /*flags*/) {
  auto mixer = FindMixer(handle);
  if (!mixer) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  auto source = HandleTable::Instance().FindAs<MixerSource>(channel);
  if (!source) {
    const bool isChannel = HandleTable::Instance().FindAs<Channel>(channel) != nullptr;
    return Fail(isChannel ? BASS_ERROR_ILLTYPE : BASS_ERROR_HANDLE, FALSE);
  }
  switch (mixer->AddSource(source)) {
    case Mixer::AddResult::kOk:
      SetLastError(BASS_OK);
      return TRUE;
    case Mixer::AddResult::kAlready:
      return Fail(BASS_ERROR_ALREADY, FALSE);
    case Mixer::AddResult::kFormat:
      break;
  }
  return Fail(BASS_ERROR_FORMAT, FALSE);
}

BOOL BASS_Mixer_ChannelRemove(DWORD handle) {
  auto source = HandleTable::Instance().FindAs<MixerSource>(handle);
  if (!source) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  auto mixer = source->AttachedMixer();
  if (!mixer || !mixer->RemoveSource(source.get())) {
    return Fail(BASS_ERROR_HANDLE, FALSE);  // not plugged into a mixer
  }
  SetLastError(BASS_OK);
  return TRUE;
}

}  // extern "C"
