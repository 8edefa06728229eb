#include "audio/devices/TWASAPIDeviceInfo.h"

#include "audio/basswasapi.h"
#include "core/BassErrorText.h"
#include "core/Error.h"

namespace velloran::audio {

TWASAPIDeviceInfo::TWASAPIDeviceInfo(int32_t iIndex, std::string iName)
    : TDeviceInfoWithClients(iIndex, std::move(iName)) {}

TWASAPIDeviceInfo::~TWASAPIDeviceInfo() {
  StopCaptureIfRunning();
}

DWORD TWASAPIDeviceInfo::WasapiProc(void* buffer, DWORD length, void* user) {
  static_cast<TWASAPIDeviceInfo*>(user)->HandleInput(buffer, length);
  return length;
}

void TWASAPIDeviceInfo::StartCapture(uint32_t iSampleRate, bool& i16bit, bool) {
  if (!BASS_WASAPI_Init(fIndex, iSampleRate, 2, 0, 1.0f, 0.0f, &TWASAPIDeviceInfo::WasapiProc,
                        this)) {
    throw Error("WASAPI_Init: " + BassErrorText(BASS_ErrorGetCode()));
  }
  BASS_WASAPI_SetDevice(static_cast<DWORD>(fIndex));
  if (!BASS_WASAPI_Start()) {
    // The endpoint went away between opening and starting: release it and say why, rather
    // than hand out a stream that never gets data.
    const int error = BASS_ErrorGetCode();
    BASS_WASAPI_Free();
    throw Error("WASAPI_Init: " + BassErrorText(error));
  }
  i16bit = false;
}

void TWASAPIDeviceInfo::StopCapture() {
  BASS_WASAPI_SetDevice(static_cast<DWORD>(fIndex));
  BASS_WASAPI_Stop(TRUE);
  BASS_WASAPI_Free();
}

uint32_t TWASAPIDeviceInfo::GetCaptureSampleRate() {
  BASS_WASAPI_SetDevice(static_cast<DWORD>(fIndex));
  BASS_WASAPI_INFO info{};
  if (!BASS_WASAPI_GetInfo(&info)) {
    return 0;
  }
  return info.freq;
}

bool TWASAPIDeviceInfo::CaptureLost() {
  return !BASS_WASAPI_SetDevice(static_cast<DWORD>(fIndex)) || !BASS_WASAPI_IsStarted();
}

}  // namespace velloran::audio
