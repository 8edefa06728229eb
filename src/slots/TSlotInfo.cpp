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

float SilenceThresholdToLinear(int32_t dBFS) {
  if (dBFS > -200) {
    return static_cast<float>(std::pow(10.0, dBFS / 20.0));
  }
  return 0.0f;
}

// ---------------------------------------------------------------------------------------------
// Create / Destroy / configuration

TSlotInfo::TSlotInfo(ConfigFile& iIniFile, bool iAlarmOnly, int iIndex,
                     const audio::DeviceCatalogue* iCatalogue)
    : fIniFile(iIniFile), fCatalogue(iCatalogue), fIndex(iIndex), fAlarmOnly(iAlarmOnly) {
  fSettings = ReadSlotSettings(fIniFile, fIndex, fAlarmOnly);
  fEffectiveSamplerate = fSettings.fSampleRate;
  SetSilenceThreshold(fSettings.fSilenceThreshold);
}

TSlotInfo::~TSlotInfo() {
  fDeleting = true;
  try {
    CloseCurrentRecording(false);
    StopRecording();
  } catch (const std::exception& e) {
    DoLogMessage(std::string("Error closing recording: ") + e.what());
  }
  CloseDatabaseWrites();
  if (fStreamingThread) {
    fStreamingThread->Destroy();
    fStreamingThread.reset();
  }
  if (fPullThread) {
    fPullThread->Destroy();
    fPullThread.reset();
  }
  try {
    FlushConfig();
  } catch (const std::exception& e) {
    DoLogMessage(e.what());
  }
  FreeWinampPlugin();
  if (fMixer != 0) {
    BASS_StreamFree(fMixer);
    fMixer = 0;
  }
  fPull.Reset();
}

void TSlotInfo::FlushConfig() {
  TSlotSettings copy;
  {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    copy = fSettings;
  }
  copy.fSilenceThreshold = SilenceThreshold();
  WriteSlotSettings(fIniFile, fIndex, copy);
}

void TSlotInfo::ApplySettings(const TSlotSettings& settings) {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  const bool enabled = fSettings.fEnabled;
  const TRecordChannels channels = fSettings.fRecordChannels;
  const std::string plugin = fSettings.fWinampPlugin;
  const std::string controls = fSettings.fWinampPluginControls;
  fSettings = settings;
  fSettings.fWinampPluginControls = settings.fWinampPlugin == plugin ? controls : std::string();
  fSettings.fEnabled = enabled;
  fSettings.fRecordChannels = channels;
  fSettings.fSilenceThreshold = SilenceThreshold();
  if (fAlarmOnly) {
    fSettings.fAudioFormat = sfNone;
  }
}

void TSlotInfo::SetEnabled(bool value) {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  if (value != fSettings.fEnabled) {
    fSettings.fEnabled = value;
    CycleEncoder();
    if (fStreamingThread) {
      fStreamingThread->SignalEvent();  // the stream follows at once
    }
  }
}

void TSlotInfo::SetRecordChannels(TRecordChannels value) {
  // The streaming thread copies the settings under fCS.
  std::lock_guard<std::recursive_mutex> lock(fCS);
  fSettings.fRecordChannels = value;
  UpdateDownmixFX();
}

void TSlotInfo::SetSilenceThreshold(int32_t value) {
  {
    std::lock_guard<std::mutex> lock(fLevelCS);
    fSilenceThreshold = value;
    fSilenceThresholdLinear.store(SilenceThresholdToLinear(value), std::memory_order_relaxed);
  }
  // The settings' copy is read under fCS (the streaming thread copies the settings); fLevelCS
  // is never held while fCS is taken.
  std::lock_guard<std::recursive_mutex> lock(fCS);
  fSettings.fSilenceThreshold = value;
}

int32_t TSlotInfo::SilenceThreshold() const {
  std::lock_guard<std::mutex> lock(fLevelCS);
  return fSilenceThreshold;
}

float TSlotInfo::SilenceThresholdLinear() const {
  return fSilenceThresholdLinear.load(std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------------------------
// Locked readers

HENCODE TSlotInfo::Encoder() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fEncoder;
}
std::string TSlotInfo::CurrentFilename() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fCurrentFilename;
}
int64_t TSlotInfo::CurrentRecordingID() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fRecordingsWrites ? fRecordingsWrites->RowId(fCurrentRecordingID) : 0;
}
std::string TSlotInfo::ErrorMessage() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fErrorMessage;
}
std::string TSlotInfo::Name() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fSettings.fName;
}
std::string TSlotInfo::StreamURL() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fSettings.fStreamURL;
}
std::string TSlotInfo::Folder() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fSettings.fFolder;
}
TRecordSource TSlotInfo::RecordSource() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fSettings.fRecordSource;
}
std::string TSlotInfo::CurrentStreamTitle() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fCurrentStreamTitle;
}
std::string TSlotInfo::CurrentDeviceID() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fCurrentDeviceID;
}
audio::TDeviceInfoWithClients* TSlotInfo::CurrentDeviceInfo() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fCurrentDeviceInfo;
}
uint64_t TSlotInfo::RecordStartTickCount() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fRecordStartTickCount;
}
uint64_t TSlotInfo::LastOverSilenceTickCount() const {
  return fLastOverSilenceTickCount.load(std::memory_order_relaxed);
}
uint64_t TSlotInfo::LastMetadataTickCount() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fLastMetadataTickCount;
}

float TSlotInfo::CurrentRecordingDuration() const {
  const int64_t bytes = StreamPosition() - fRecordStartPos;
  return static_cast<float>(
      BASS_ChannelBytes2Seconds(fMixer, static_cast<QWORD>(std::max<int64_t>(bytes, 0))));
}

int64_t TSlotInfo::GetCurrentSilenceDurationMilliseconds() const {
  return static_cast<int64_t>(TickCount64() -
                              fLastOverSilenceTickCount.load(std::memory_order_relaxed));
}

void TSlotInfo::HandleStreamTitle(const std::string& iTitle) {
  std::string failure;
  {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    failure = ApplyStreamTitleLocked(iTitle);
  }
  // Logged outside fCS: the log hand-off may wait for the main thread, which may want fCS.
  if (!failure.empty()) {
    DoLogMessage(failure);
  }
}

void TSlotInfo::DoLogMessage(const std::string& iMessage) {
  if (OnLogMessage) {
    OnLogMessage(this, Name() + ": " + iMessage);
  }
}

}  // namespace velloran::slots
