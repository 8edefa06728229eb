// The recording functions of the audio library (bass.h) on ALSA capture PCMs.
// Device n is entry n of AlsaDeviceList; BASS_RecordInit opens the PCM, BASS_RecordStart runs
// the capture on the device's own thread, BASS_RecordFree closes everything. The current
// recording device is per thread, as the library defines it.
#include <map>
#include <memory>
#include <mutex>

#include "audio/alsa/AlsaCapture.h"
#include "audio/alsa/AlsaDeviceList.h"
#include "audio/alsa/RecordChannels.h"
#include "audio/bass.h"
#include "audio/engine/HandleTable.h"

namespace velloran::audio::alsa {

namespace {

class RecordChannel : public HandleObject {
 public:
  RECORDPROC* proc = nullptr;
  void* user = nullptr;
  HRECORD handle = 0;
  AlsaCapture* capture = nullptr;
};

struct RecordDevice {
  std::unique_ptr<AlsaCapture> capture;
  std::shared_ptr<RecordChannel> channel;
};

struct Registry {
  std::mutex mutex;
  std::map<int, RecordDevice> devices;  // initialised devices
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

thread_local int tCurrentDevice = -1;

bool Deliver(const void* buffer, uint32_t length, void* user) {
  auto* channel = static_cast<RecordChannel*>(user);
  return channel->proc(channel->handle, buffer, length, channel->user) != FALSE;
}

void StopChannel(RecordDevice& device) {
  if (device.capture) {
    device.capture->Stop();
  }
  if (device.channel) {
    HandleTable::Instance().Remove(device.channel->handle);
    device.channel.reset();
  }
}

}  // namespace

bool RecordChannelActive(HRECORD handle) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (auto& [number, device] : registry.devices) {
    if (device.channel && device.channel->handle == handle) {
      return device.capture && device.capture->Running();
    }
  }
  return false;
}

}  // namespace velloran::audio::alsa

using velloran::audio::Fail;
using velloran::audio::SetLastError;
using velloran::audio::alsa::AlsaCapture;
using velloran::audio::alsa::AlsaDeviceList;

extern "C" {

BOOL BASS_RecordGetDeviceInfo(DWORD device, BASS_DEVICEINFO* info) {
  if (info == nullptr) {
    return Fail(BASS_ERROR_ILLPARAM, FALSE);
  }
  if (device == 0) {
    AlsaDeviceList::Refresh();
  }
  const auto* entry = AlsaDeviceList::Get(device);
  if (entry == nullptr) {
    return Fail(BASS_ERROR_DEVICE, FALSE);
  }
  info->name = entry->description.c_str();
  info->driver = entry->pcmName.c_str();
  info->flags =
      (entry->present ? BASS_DEVICE_ENABLED : 0) | (entry->isDefault ? BASS_DEVICE_DEFAULT : 0);
  auto& registry = velloran::audio::alsa::TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  if (registry.devices.count(static_cast<int>(device)) != 0) {
    info->flags |= BASS_DEVICE_INIT;
  }
  SetLastError(BASS_OK);
  return TRUE;
}

BOOL BASS_RecordInit(int device) {
  if (device == -1) {
    // The default device: the "default" PCM when it is listed, else the first.
    device = 0;
    for (size_t n = 0; n < AlsaDeviceList::Count(); ++n) {
      if (AlsaDeviceList::Get(n)->isDefault) {
        device = static_cast<int>(n);
        break;
      }
    }
  }
  const auto* entry = device < 0 ? nullptr : AlsaDeviceList::Get(static_cast<size_t>(device));
  if (entry == nullptr) {
    return Fail(BASS_ERROR_DEVICE, FALSE);
  }
  auto& registry = velloran::audio::alsa::TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  if (registry.devices.count(device) != 0) {
    return Fail(BASS_ERROR_ALREADY, FALSE);
  }
  int error = BASS_OK;
  auto capture = AlsaCapture::Open(entry->pcmName, error);
  if (!capture) {
    return Fail(error, FALSE);
  }
  registry.devices[device].capture = std::move(capture);
  velloran::audio::alsa::tCurrentDevice = device;
  SetLastError(BASS_OK);
  return TRUE;
}

BOOL BASS_RecordSetDevice(DWORD device) {
  auto& registry = velloran::audio::alsa::TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  if (registry.devices.count(static_cast<int>(device)) == 0) {
    return Fail(AlsaDeviceList::Get(device) == nullptr ? BASS_ERROR_DEVICE : BASS_ERROR_INIT,
                FALSE);
  }
  velloran::audio::alsa::tCurrentDevice = static_cast<int>(device);
  SetLastError(BASS_OK);
  return TRUE;
}

HRECORD BASS_RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC* proc, void* user) {
  if (proc == nullptr) {
    return Fail(BASS_ERROR_ILLPARAM, HRECORD{0});
  }
  auto& registry = velloran::audio::alsa::TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.devices.find(velloran::audio::alsa::tCurrentDevice);
  if (it == registry.devices.end()) {
    return Fail(BASS_ERROR_INIT, HRECORD{0});
  }
  auto& device = it->second;
  if (device.channel) {
    return Fail(BASS_ERROR_ALREADY, HRECORD{0});
  }
  if (chans == 0 || chans > 8 || freq > 384000) {
    return Fail(BASS_ERROR_FORMAT, HRECORD{0});
  }
  auto channel = std::make_shared<velloran::audio::alsa::RecordChannel>();
  channel->proc = proc;
  channel->user = user;
  channel->capture = device.capture.get();
  channel->handle = velloran::audio::HandleTable::Instance().Add(channel);
  const int error =
      device.capture->Start(freq == 0 ? 44100 : freq, chans, (flags & BASS_SAMPLE_FLOAT) != 0,
                            &velloran::audio::alsa::Deliver, channel.get());
  if (error != BASS_OK) {
    velloran::audio::HandleTable::Instance().Remove(channel->handle);
    return Fail(error, HRECORD{0});
  }
  device.channel = channel;
  SetLastError(BASS_OK);
  return channel->handle;
}

BOOL BASS_RecordFree(void) {
  auto& registry = velloran::audio::alsa::TheRegistry();
  std::unique_lock<std::mutex> lock(registry.mutex);
  auto it = registry.devices.find(velloran::audio::alsa::tCurrentDevice);
  if (it == registry.devices.end()) {
    return Fail(BASS_ERROR_INIT, FALSE);
  }
  velloran::audio::alsa::RecordDevice device = std::move(it->second);
  registry.devices.erase(it);
  lock.unlock();
  velloran::audio::alsa::StopChannel(device);
  device.capture.reset();
  SetLastError(BASS_OK);
  return TRUE;
}

}  // extern "C"
