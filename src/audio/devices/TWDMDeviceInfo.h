#pragma once
// One recording device of the "WDM" family (an ALSA capture PCM), captured through the
// library's recording functions at the rate the first slot asks for, two channels.
// Thread contract: as TDeviceInfoWithClients.
#include "audio/devices/TDeviceInfoWithClients.h"

namespace velloran::audio {

class TWDMDeviceInfo : public TDeviceInfoWithClients {
 public:
  TWDMDeviceInfo(int32_t iIndex, std::string iName);
  ~TWDMDeviceInfo() override;

  void StartCapture(uint32_t iSampleRate, bool& i16bit, bool iASIOWorkaround) override;
  void StopCapture() override;
  uint32_t GetCaptureSampleRate() override { return static_cast<uint32_t>(fLastSampleRate); }
  bool CaptureLost() override;

 private:
  static BOOL RecordProc(HRECORD handle, const void* buffer, DWORD length, void* user);

  int32_t fLastSampleRate = 0;
};

}  // namespace velloran::audio
