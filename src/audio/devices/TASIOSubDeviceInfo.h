#pragma once
// One channel bundle of an ASIO driver (on Linux: consecutive physical capture ports of the
// JACK server): fIndex is its first input channel, fChannelCount its size. Starting and
// stopping go through the owning driver, which keeps running as bundles attach and detach.
// Thread contract: as TDeviceInfoWithClients.
#include "audio/devices/TDeviceInfoWithClients.h"

namespace velloran::audio {

class TASIODeviceInfo;

class TASIOSubDeviceInfo : public TDeviceInfoWithClients {
 public:
  TASIOSubDeviceInfo(TASIODeviceInfo* iParent, int32_t iIndex, int32_t iChannelCount,
                     std::string iName);
  ~TASIOSubDeviceInfo() override;

  TASIODeviceInfo* Parent() const { return fParent; }

  bool HasControlPanel() override;
  void RunControlPanel() override;

  void StartCapture(uint32_t iSampleRate, bool& i16bit, bool iASIOWorkaround) override;
  void StopCapture() override;
  uint32_t GetCaptureSampleRate() override;
  bool CaptureLost() override;

 private:
  TASIODeviceInfo* fParent;  // not owned
};

}  // namespace velloran::audio
