#pragma once
// One capture endpoint of the "WASAPI" family (a PulseAudio source, monitor sources
// included). The capture is always float, at the rate the endpoint reports.
// Thread contract: as TDeviceInfoWithClients.
#include "audio/devices/TDeviceInfoWithClients.h"

namespace velloran::audio {

class TWASAPIDeviceInfo : public TDeviceInfoWithClients {
 public:
  TWASAPIDeviceInfo(int32_t iIndex, std::string iName);
  ~TWASAPIDeviceInfo() override;

  void StartCapture(uint32_t iSampleRate, bool& i16bit, bool iASIOWorkaround) override;
  void StopCapture() override;
  uint32_t GetCaptureSampleRate() override;
  bool CaptureLost() override;

 private:
  static DWORD WasapiProc(void* buffer, DWORD length, void* user);
};

}  // namespace velloran::audio
