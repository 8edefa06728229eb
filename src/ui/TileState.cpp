#include "ui/TileState.h"

#include "audio/devices/TDeviceInfoWithClients.h"
#include "slots/TSlotInfo.h"

namespace velloran::ui {

TileState TakeTileState(const slots::TSlotInfo& slot) {
  TileState s;
  const slots::TSlotSettings& settings = slot.Settings();
  s.source = settings.fRecordSource;
  s.enabled = settings.fEnabled;
  s.folder = settings.fFolder;
  s.format = settings.fAudioFormat;
  s.streamingOnly = settings.fStreamingOnly;
  s.streamingEnabled = settings.fStreamingEnabled;
  s.nominalLevel = settings.fNominalLevel;
  slot.ReadLocked([&] {
    s.name = slot.Name();
    if (const audio::TDeviceInfoWithClients* device = slot.CurrentDeviceInfo()) {
      s.hasDevice = true;
      s.deviceName = device->Name();  // fixed for the life of the catalogue
    }
    s.hasStreamChannel = settings.fRecordSource == slots::rsStream && slot.StreamChannel() != 0;
    s.streamTitle = slot.CurrentStreamTitle();
    s.streamURL = slot.CurrentStreamURL();
    if (s.streamURL.empty()) {
      s.streamURL = slot.StreamURL();
    }
    s.errorMessage = slot.ErrorMessage();
    s.streamingStatus = slot.StreamingStatus();
    s.streamingMessage = slot.StreamingMessage();
    s.streamingActiveSince = slot.StreamingActiveSince();
    s.hasEncoder = slot.Encoder() != 0;
    s.currentFilename = slot.CurrentFilename();
    s.recordStartTick = slot.RecordStartTickCount();
  });
  // The stream input's status has its own process-wide lock, never taken under the slot's.
  s.streamStatusText = slot.StreamStatus();
  s.silenceThreshold = slot.SilenceThreshold();
  s.silenceMs = slot.GetCurrentSilenceDurationMilliseconds();
  s.peakLeft = slot.LevelLeft();
  s.peakRight = slot.LevelRight();
  return s;
}

}  // namespace velloran::ui
