// Connecting the slot's input (a device client or an internet stream) to its mixer, and
// disconnecting it.
#include "slots/TSlotInfo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "audio/devices/DeviceCatalogue.h"
#include "audio/devices/TDeviceInfoWithClients.h"
#include "audio/encode/BassEncode.h"
#include "core/BassErrorText.h"
#include "core/Clock.h"
#include "core/Error.h"
#include "core/Paths.h"
#include "core/RealTimePriority.h"
#include "slots/CueSheet.h"
#include "slots/EncoderCommandLine.h"
#include "slots/FileStartCheck.h"
#include "slots/RecordingNames.h"
#include "slots/RecordingsDatabase.h"
#include "slots/RecordingsWriteQueue.h"
#include "slots/TimeSlots.h"

namespace velloran::slots {

void TSlotInfo::StartRecording() {
  std::unique_ptr<TSimpleThread> oldStreamThread;
  bool startStream = false;
  {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    if (fMixer == 0) {
      return;  // no audio graph (see Initialize): nothing to connect to
    }
    switch (fSettings.fRecordSource) {
      case rsDisabled:
        oldStreamThread = StopInputLocked();
        break;
      case rsSoundcard: {
        audio::TDeviceInfoWithClients* device = nullptr;
        try {
          if (fSettings.fDevice.empty()) {
            throw Error("No device selected");
          }
          if (fSettings.fDevice == fCurrentDeviceID) {
            return;  // already connected
          }
          device = fCatalogue != nullptr ? fCatalogue->FindCapture(fSettings.fDevice) : nullptr;
          if (device == nullptr) {
            throw Error("Invalid device");
          }
          oldStreamThread = StopInputLocked();
          fChannel = device->AddClient(static_cast<uint32_t>(fEffectiveSamplerate),
                                       fSettings.fRecord16Bit, fSettings.fASIOWorkaround);
          if (fChannel == 0) {
            throw Error("AddClient: BASS Error " + std::to_string(BASS_ErrorGetCode()));
          }
          if (fSettings.fExtraSleep > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(fSettings.fExtraSleep));
          }
          if (!BASS_Mixer_StreamAddChannel(fMixer, fChannel, 0)) {
            const int code = BASS_ErrorGetCode();
            device->RemoveClient(fChannel);
            BASS_StreamFree(fChannel);
            fChannel = 0;
            throw Error("Mixer_StreamAddChannel: BASS Error " + std::to_string(code));
          }
          fCurrentStreamTitle.clear();
          fCurrentDeviceInfo = device;
          fCurrentDeviceID = fSettings.fDevice;
          fErrorMessage.clear();
          DoLogMessage("Recording from " + device->Name());
        } catch (const std::exception& e) {
          fErrorMessage = e.what();
          if (device != nullptr) {
            DoLogMessage("Error recording from \"" + device->Name() + "\": " + e.what());
            fInputLoss = {true, TickCount64(), device->Name()};  // retried while listed
          } else {
            DoLogMessage(std::string("Recording error: ") + e.what());
          }
        }
        break;
      }
      case rsStream:
        oldStreamThread = StopInputLocked();
        fCurrentStreamTitle.clear();
        fCurrentStreamURL = fSettings.fStreamURL;
        fErrorMessage.clear();
        startStream = true;
        break;
    }
  }
  // The previous stream thread ends before the new one starts, and never while fCS is held.
  oldStreamThread.reset();
  if (startStream) {
    StartStreamThread();
  }
  if (fStreamingThread) {
    fStreamingThread->SignalEvent();
  }
}

void TSlotInfo::StopRecording() {
  std::unique_ptr<TSimpleThread> streamThread;
  {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    streamThread = StopInputLocked();
  }
  streamThread.reset();  // waits for the stream thread, which frees its stream
  if (fStreamingThread) {
    fStreamingThread->SignalEvent();
  }
}

std::unique_ptr<TSimpleThread> TSlotInfo::StopInputLocked() {
  if (fCurrentDeviceInfo != nullptr) {
    fCurrentDeviceInfo->RemoveClient(fChannel);
    BASS_StreamFree(fChannel);
    fChannel = 0;
    fCurrentDeviceID.clear();
    fCurrentDeviceInfo = nullptr;
  }
  fLevelLeft.store(0.0f, std::memory_order_relaxed);
  fLevelRight.store(0.0f, std::memory_order_relaxed);
  if (fStreamThread) {
    fStreamThread->Terminate();
  }
  return std::move(fStreamThread);
}

bool TSlotInfo::DeviceConnected() const {
  return fCurrentDeviceInfo != nullptr;
}

}  // namespace velloran::slots
