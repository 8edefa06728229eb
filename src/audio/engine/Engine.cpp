#include "audio/engine/Engine.h"

#include "audio/bass.h"

namespace velloran::audio::engine {

std::shared_ptr<Mixer> FindMixer(uint32_t handle) {
  return HandleTable::Instance().FindAs<Mixer>(handle);
}

uint64_t DroppedBytes(uint32_t pushStream) {
  auto stream = FindPushStream(pushStream);
  return stream ? stream->DroppedBytes() : 0;
}

uint64_t Underruns(uint32_t pushStream) {
  auto stream = FindPushStream(pushStream);
  auto mixer = stream ? stream->AttachedMixer() : nullptr;
  const MixerInput* input = mixer ? mixer->InputFor(stream.get()) : nullptr;
  return input != nullptr ? input->Underruns() : 0;
}

int FreeChannel(uint32_t handle) {
  auto& table = HandleTable::Instance();
  if (!table.FindAs<Channel>(handle)) {
    return BASS_ERROR_HANDLE;
  }
  auto object = table.Remove(handle);
  if (!object) {
    return BASS_ERROR_HANDLE;  // freed meanwhile by another thread
  }
  if (auto source = std::dynamic_pointer_cast<MixerSource>(object)) {
    if (auto mixer = source->AttachedMixer()) {
      mixer->RemoveSource(source.get());
    }
  }
  if (auto mixer = std::dynamic_pointer_cast<Mixer>(object)) {
    mixer->RemoveAll();
    for (uint32_t id : mixer->Chain().Clear()) {
      table.Remove(id);
    }
  }
  if (auto channel = std::dynamic_pointer_cast<Channel>(object)) {
    channel->Close();
  }
  return BASS_OK;
}

}  // namespace velloran::audio::engine
