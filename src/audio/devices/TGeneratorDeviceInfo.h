#pragma once
// One entry of the Generator family ("GEN:tone", "GEN:silence", "GEN:ramp"): a test signal
// produced in step with the program's clock, two channels, in the format and at the rate the
// first slot asks for. It lets a machine without a sound card record, demonstrate and test.
//
// Tests can switch the entry to manual pacing before it starts: no generator thread runs and
// Pump() delivers what the (manual) clock says is due.
// Thread contract: as TDeviceInfoWithClients; SetManualPacing and Pump on the controlling thread.
#include <memory>

#include "audio/devices/TDeviceInfoWithClients.h"
#include "audio/generator/SignalGenerator.h"

namespace velloran::audio {

class TGeneratorDeviceInfo : public TDeviceInfoWithClients {
 public:
  TGeneratorDeviceInfo(generator::SignalKind iKind, int32_t iIndex, std::string iName);
  ~TGeneratorDeviceInfo() override;

  generator::SignalKind Kind() const { return fKind; }

  void StartCapture(uint32_t iSampleRate, bool& i16bit, bool iASIOWorkaround) override;
  void StopCapture() override;
  uint32_t GetCaptureSampleRate() override { return fRate; }

  // Manual pacing takes effect at the next capture start.
  void SetManualPacing(bool manual) { fManual = manual; }
  // Manual pacing: delivers every due frame now; returns the frames delivered (0 when idle).
  uint64_t Pump();

 private:
  static void Deliver(const void* buffer, uint32_t length, void* user);

  generator::SignalKind fKind;
  uint32_t fRate = 0;
  bool fManual = false;
  std::unique_ptr<generator::SignalGenerator> fGenerator;
};

}  // namespace velloran::audio
