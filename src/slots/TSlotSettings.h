#pragma once
// The configured settings of one slot: the keys of its section "Slot%d", read with their
// defaults, word mappings and "General" fallbacks, and written back in the slot's write order
// (keys the writer does not own keep whatever the file holds).
// Thread contract: plain value type. ReadSlotSettings and WriteSlotSettings may run on any
// thread; the slot calls them on the main thread (Create and FlushConfig).
#include <cstdint>
#include <string>

#include "core/ConfigFile.h"
#include "slots/SlotTypes.h"

namespace velloran::slots {

// The slot folder of a "Folder" value: an absolute path as it is; a relative one below the root
// folder (the folder of the configuration file); an empty one is the root folder itself.
std::string ResolveSlotFolder(const std::string& rootFolder, const std::string& folder);

struct TSlotSettings {
  int32_t fSampleRate = 44100;
  std::string fName;
  bool fEnabled = true;
  TRecordSource fRecordSource = rsDisabled;
  TRecordChannels fRecordChannels = rcStereo;
  std::string fDevice;
  bool fRecord16Bit = false;
  bool fASIOWorkaround = false;
  int16_t fNominalLevel = 0;
  std::string fStreamURL;
  int32_t fRecordDelay = 0;
  int32_t fExtraSleep = 0;
  TBassStreamingFormat fAudioFormat = sfMP3;
  std::string fFileExtension;
  std::string fFolder;      // the slot folder, absolute (see ResolveSlotFolder)
  std::string fFolderText;  // "Folder" as the file holds it, written back while it still applies
  std::string fDatabaseFile;
  std::string fDatabaseFolder;
  std::string fFilenamePrefix;
  std::string fCustomFilename;
  bool fFlatFilenames = false;
  bool fNoAutoRotate = false;
  int32_t fTimeSlotLength = 60;
  bool fTimeSlotAlign = true;
  int32_t fTimeSlotOffset = 0;
  bool fCueSheet = false;
  int32_t fBitrate = 128;
  TBassStreamingMode fMode = smStereo;
  std::string fEncoderOptions;
  std::string fEncoderFilename;
  int32_t fEncoderQueueLength = 6000;
  bool fCleanupDaysEnabled = true;
  int32_t fCleanupDays = 365;
  bool fCleanupSpaceEnabled = true;
  int32_t fCleanupSpace = 5;
  int32_t fSilenceThreshold = -30;  // dBFS; the slot derives the linear value
  int32_t fSilenceDection = 0;
  bool fSilenceDetectionIfInactive = false;
  bool fStreamingEnabled = false;
  bool fStreamingOnly = false;
  std::string fStreamingHost;
  bool fStreamingServerMode = false;
  int32_t fStreamingPort = 8000;
  std::string fStreamingMountPoint;
  std::string fStreamingStreamID;
  std::string fStreamingMimeType;
  std::string fStreamingPassword;
  std::string fStreamingTitle;
  std::string fStreamingURL;
  std::string fStreamingGenre;
  std::string fStreamingAIM;
  std::string fStreamingIRC;
  std::string fStreamingICQ;
  std::string fStreamingDescription;
  bool fStreamingPublic = false;
  bool fStreamingForwardMetadata = false;
  std::string fStreamingCurrentTitleFilename;
  int32_t fStreamingConnectDelay = 0;
  bool fSendEmailSilenceDetected = false;
  bool fSendEmailSilenceOK = false;
  std::string fHTTPAlarmSilenceDetected;
  std::string fHTTPAlarmSilenceOK;
  std::string fWinampPlugin;
  bool fWinampPluginStreamOnly = false;
  // Control values chosen for the plug-in (see WinampPluginControls.h).
  std::string fWinampPluginControls;
};

// "Slot%d" for a 0-based index.
std::string SlotSectionName(int index);

// Reads section "Slot<index>" in the documented key order. An alarm-only slot does not read
// "Format" and gets sfNone. Never fails: missing or unparsable values take their defaults.
TSlotSettings ReadSlotSettings(const ConfigFile& config, int index, bool alarmOnly);

// Writes the owned keys of section "Slot<index>" in the write order, then flushes the file.
// A refused write raises ConfigWriteError and the keys after it are not written.
void WriteSlotSettings(ConfigFile& config, int index, const TSlotSettings& settings);

}  // namespace velloran::slots
