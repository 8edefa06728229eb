#include "audio/devices/TGeneratorDeviceInfo.h"

namespace velloran::audio {

TGeneratorDeviceInfo::TGeneratorDeviceInfo(generator::SignalKind iKind, int32_t iIndex,
                                           std::string iName)
    : TDeviceInfoWithClients(iIndex, std::move(iName)), fKind(iKind) {}

TGeneratorDeviceInfo::~TGeneratorDeviceInfo() {
  StopCaptureIfRunning();
}

void TGeneratorDeviceInfo::Deliver(const void* buffer, uint32_t length, void* user) {
  static_cast<TGeneratorDeviceInfo*>(user)->HandleInput(buffer, length);
}

void TGeneratorDeviceInfo::StartCapture(uint32_t iSampleRate, bool& i16bit, bool) {
  fRate = iSampleRate == 0 ? 44100 : iSampleRate;
  fGenerator = std::make_unique<generator::SignalGenerator>(fKind, fRate, i16bit,
                                                            &TGeneratorDeviceInfo::Deliver, this);
  fRate = fGenerator->Rate();
  fGenerator->Start(!fManual);
}

void TGeneratorDeviceInfo::StopCapture() {
  if (fGenerator) {
    fGenerator->Stop();
    fGenerator.reset();
  }
}

uint64_t TGeneratorDeviceInfo::Pump() {
  return fGenerator ? fGenerator->Pump() : 0;
}

}  // namespace velloran::audio
