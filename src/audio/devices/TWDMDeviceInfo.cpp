#include "audio/devices/TWDMDeviceInfo.h"

#include "audio/alsa/RecordChannels.h"
#include "core/BassErrorText.h"
#include "core/Error.h"

namespace velloran::audio {

TWDMDeviceInfo::TWDMDeviceInfo(int32_t iIndex, std::string iName)
    : TDeviceInfoWithClients(iIndex, std::move(iName)) {}

TWDMDeviceInfo::~TWDMDeviceInfo() {
  StopCaptureIfRunning();
}

BOOL TWDMDeviceInfo::RecordProc(HRECORD, const void* buffer, DWORD length, void* user) {
  static_cast<TWDMDeviceInfo*>(user)->HandleInput(buffer, length);
  return TRUE;
}

void TWDMDeviceInfo::StartCapture(uint32_t iSampleRate, bool& i16bit, bool) {
  if (!BASS_RecordInit(fIndex)) {
    throw Error("Init: " + BassErrorText(BASS_ErrorGetCode()));
  }
  if (!BASS_RecordSetDevice(static_cast<DWORD>(fIndex))) {
    BASS_RecordFree();  // the device initialised above is still the current one
    throw Error("BASS_RecordSetDevice(" + std::to_string(fIndex) + ") failed.");
  }
  fChannel = BASS_RecordStart(iSampleRate, 2, i16bit ? 0 : BASS_SAMPLE_FLOAT,
                              &TWDMDeviceInfo::RecordProc, this);
  if (fChannel == 0) {
    const int error = BASS_ErrorGetCode();
    BASS_RecordFree();  // release the device opened above
    throw Error("RecordStart: " + BassErrorText(error));
  }
  fLastSampleRate = static_cast<int32_t>(iSampleRate);
}

void TWDMDeviceInfo::StopCapture() {
  BASS_RecordSetDevice(static_cast<DWORD>(fIndex));
  BASS_RecordFree();  // stops and frees the recording channel with the device
  fChannel = 0;
}

bool TWDMDeviceInfo::CaptureLost() {
  return fChannel != 0 && !alsa::RecordChannelActive(fChannel);
}

}  // namespace velloran::audio
