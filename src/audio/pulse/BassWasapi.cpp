// The WASAPI add-on functions (basswasapi.h) on PulseAudio.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "audio/basswasapi.h"
#include "audio/engine/HandleTable.h"
#include "audio/pulse/PulseCapture.h"
#include "audio/pulse/PulseDeviceList.h"

namespace velloran::audio::pulse {

namespace {

struct WasapiDevice {
  std::unique_ptr<PulseCapture> capture;
  WASAPIPROC* proc = nullptr;
  void* user = nullptr;
  DWORD requestedFreq = 0;
  float buffer = 0;
};

struct WasapiState {
  std::mutex mutex;
  std::map<int, std::unique_ptr<WasapiDevice>> devices;  // initialised devices
};

WasapiState& TheState() {
  static WasapiState state;
  return state;
}

thread_local int tCurrentDevice = -1;

uint32_t Deliver(void* buffer, uint32_t length, void* user) {
  auto* device = static_cast<WasapiDevice*>(user);
  return device->proc(buffer, length, device->user);
}

// The calling thread's current device, with the lock held by the caller.
WasapiDevice* Current(WasapiState& state, int& error) {
  auto it = state.devices.find(tCurrentDevice);
  if (it == state.devices.end()) {
    error = BASS_ERROR_INIT;
    return nullptr;
  }
  return it->second.get();
}

// Runs f on the calling thread's current device under the state lock; without a current
// device it fails with BASS_ERROR_INIT and returns failed.
template <class T, class F>
T WithCurrentDevice(T failed, F f) {
  auto& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  int error = BASS_OK;
  WasapiDevice* device = Current(state, error);
  if (device == nullptr) {
    return velloran::audio::Fail(error, failed);
  }
  return f(*device);
}

}  // namespace

}  // namespace velloran::audio::pulse

using velloran::audio::Fail;
using velloran::audio::SetLastError;
using velloran::audio::pulse::PulseCapture;
using velloran::audio::pulse::PulseDeviceList;

extern "C" {

BOOL BASS_WASAPI_GetDeviceInfo(DWORD device, BASS_WASAPI_DEVICEINFO* info) {
  if (info == nullptr) {
    return Fail(BASS_ERROR_ILLPARAM, FALSE);
  }
  if (device == 0) {
    PulseDeviceList::Refresh();
  }
  const auto* e = PulseDeviceList::Get(device);
  if (e == nullptr) {
    return Fail(BASS_ERROR_DEVICE, FALSE);
  }
  std::memset(info, 0, sizeof(*info));
  info->name = e->description.c_str();
  info->id = e->name.c_str();
  info->type = e->monitor ? BASS_WASAPI_TYPE_DIGITAL : BASS_WASAPI_TYPE_UNKNOWN;
  info->flags = (!e->present    ? BASS_DEVICE_DISABLED
                 : e->unplugged ? BASS_DEVICE_UNPLUGGED
                                : BASS_DEVICE_ENABLED) |
                (e->isDefault ? BASS_DEVICE_DEFAULT : 0) | (e->input ? BASS_DEVICE_INPUT : 0) |
                (e->monitor ? BASS_DEVICE_LOOPBACK : 0);
  info->minperiod = 0.003f;
  info->defperiod = 0.01f;
  info->mixfreq = e->rate;
  info->mixchans = e->channels;
  auto& state = velloran::audio::pulse::TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.devices.count(static_cast<int>(device)) != 0) {
    info->flags |= BASS_DEVICE_INIT;
  }
  SetLastError(BASS_OK);
  return TRUE;
}

BOOL BASS_WASAPI_Init(int device, DWORD freq, DWORD chans, DWORD flags, float buffer,
                      float /*period*/, WASAPIPROC* proc, void* user) {
  if (proc == nullptr) {
    return Fail(BASS_ERROR_ILLPARAM, FALSE);
  }
  if ((flags & BASS_WASAPI_EXCLUSIVE) != 0) {
    return Fail(BASS_ERROR_NOTAVAIL, FALSE);
  }
  const auto* e = device < 0 ? nullptr : PulseDeviceList::Get(static_cast<size_t>(device));
  if (e == nullptr || !e->input || !e->present) {
    return Fail(BASS_ERROR_DEVICE, FALSE);
  }
  auto& state = velloran::audio::pulse::TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.devices.count(device) != 0) {
    return Fail(BASS_ERROR_ALREADY, FALSE);
  }
  auto entry = std::make_unique<velloran::audio::pulse::WasapiDevice>();
  entry->proc = proc;
  entry->user = user;
  entry->requestedFreq = freq;
  entry->buffer = buffer;
  int error = BASS_OK;
  entry->capture = PulseCapture::Open(e->name, chans == 0 ? 2 : chans,
                                      &velloran::audio::pulse::Deliver, entry.get(), error);
  if (!entry->capture) {
    return Fail(error, FALSE);
  }
  state.devices[device] = std::move(entry);
  velloran::audio::pulse::tCurrentDevice = device;
  SetLastError(BASS_OK);
  return TRUE;
}

BOOL BASS_WASAPI_Free(void) {
  auto& state = velloran::audio::pulse::TheState();
  std::unique_ptr<velloran::audio::pulse::WasapiDevice> device;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    auto it = state.devices.find(velloran::audio::pulse::tCurrentDevice);
    if (it == state.devices.end()) {
      return Fail(BASS_ERROR_INIT, FALSE);
    }
    device = std::move(it->second);
    state.devices.erase(it);
  }
  device.reset();
  SetLastError(BASS_OK);
  return TRUE;
}

BOOL BASS_WASAPI_SetDevice(DWORD device) {
  auto& state = velloran::audio::pulse::TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.devices.count(static_cast<int>(device)) == 0) {
    return Fail(PulseDeviceList::Get(device) == nullptr ? BASS_ERROR_DEVICE : BASS_ERROR_INIT,
                FALSE);
  }
  velloran::audio::pulse::tCurrentDevice = static_cast<int>(device);
  SetLastError(BASS_OK);
  return TRUE;
}

DWORD BASS_WASAPI_GetDevice(void) {
  if (velloran::audio::pulse::tCurrentDevice < 0) {
    return Fail(BASS_ERROR_INIT, static_cast<DWORD>(-1));
  }
  SetLastError(BASS_OK);
  return static_cast<DWORD>(velloran::audio::pulse::tCurrentDevice);
}

BOOL BASS_WASAPI_Start(void) {
  return velloran::audio::pulse::WithCurrentDevice(FALSE, [&](auto& device) {
    const int error = device.capture->Start();
    SetLastError(error);
    return error == BASS_OK ? TRUE : FALSE;
  });
}

BOOL BASS_WASAPI_Stop(BOOL reset) {
  return velloran::audio::pulse::WithCurrentDevice(FALSE, [&](auto& device) {
    const int error = device.capture->Stop(reset != FALSE);
    SetLastError(error);
    return error == BASS_OK ? TRUE : FALSE;
  });
}

BOOL BASS_WASAPI_IsStarted(void) {
  return velloran::audio::pulse::WithCurrentDevice(FALSE, [&](auto& device) {
    SetLastError(BASS_OK);
    return device.capture->Started() ? TRUE : FALSE;
  });
}

BOOL BASS_WASAPI_GetInfo(BASS_WASAPI_INFO* info) {
  if (info == nullptr) {
    return Fail(BASS_ERROR_ILLPARAM, FALSE);
  }
  return velloran::audio::pulse::WithCurrentDevice(FALSE, [&](auto& device) {
    std::memset(info, 0, sizeof(*info));
    info->initflags = 0;
    info->freq = device.capture->Rate();
    info->chans = device.capture->Channels();
    info->format = BASS_WASAPI_FORMAT_FLOAT;
    info->buflen =
        static_cast<DWORD>(device.buffer * static_cast<float>(info->freq)) * info->chans * 4;
    info->volmax = 0.0f;
    info->volmin = -100.0f;
    info->volstep = 0.0f;
    SetLastError(BASS_OK);
    return TRUE;
  });
}

}  // extern "C"
