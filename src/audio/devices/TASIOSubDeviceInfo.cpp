#include "audio/devices/TASIOSubDeviceInfo.h"

#include "audio/bassasio.h"
#include "audio/devices/TASIODeviceInfo.h"

namespace velloran::audio {

TASIOSubDeviceInfo::TASIOSubDeviceInfo(TASIODeviceInfo* iParent, int32_t iIndex,
                                       int32_t iChannelCount, std::string iName)
    : TDeviceInfoWithClients(iIndex, std::move(iName)), fParent(iParent) {
  fChannelCount = iChannelCount;
}

TASIOSubDeviceInfo::~TASIOSubDeviceInfo() {
  StopCaptureIfRunning();
}

bool TASIOSubDeviceInfo::HasControlPanel() {
  return fParent->HasControlPanel();
}

void TASIOSubDeviceInfo::RunControlPanel() {
  fParent->RunControlPanel();
}

void TASIOSubDeviceInfo::StartCapture(uint32_t iSampleRate, bool& i16bit, bool iASIOWorkaround) {
  fParent->AddChannel(this, iSampleRate, i16bit, iASIOWorkaround);
}

void TASIOSubDeviceInfo::StopCapture() {
  fParent->RemoveChannel(this);
}

uint32_t TASIOSubDeviceInfo::GetCaptureSampleRate() {
  return fParent->CurrentRate();
}

bool TASIOSubDeviceInfo::CaptureLost() {
  return fParent->BundleLost(this);
}

}  // namespace velloran::audio
