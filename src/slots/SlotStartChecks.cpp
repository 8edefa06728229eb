#include "slots/SlotStartChecks.h"

#include <cstdio>

#include "core/ConfigCheck.h"

namespace velloran::slots {

std::vector<std::string> SlotSettingsFallbacks(const ConfigFile& config, int index,
                                               bool alarmOnly) {
  ConfigCheck check(config, SlotSectionName(index));
  // Integers, with the defaults the reader uses; the General keys give the default of the
  // slot keys of the same name.
  check.Int("Samplerate", 44100);
  check.Int("NominalLevel", 0, INT16_MIN, INT16_MAX);
  check.Int("RecordDelay", 0);
  check.Int("ExtraSleep", 0);
  check.Int("TimeSlotLength", config.ReadInteger("General", "TimeSlotLength", 60));
  check.Int("TimeSlotOffset", config.ReadInteger("General", "TimeSlotOffset", 0));
  check.Int("Bitrate", 128);
  check.Int("EncoderQueueLength", 6000);
  check.Int("CleanupDays", 365);
  check.Int("CleanupSpace", 5);
  check.Int("SilenceThreshold", -30);
  check.Int("SilenceDetection", 0);
  check.Int("StreamingPort", 8000);
  check.Int("StreamingConnectDelay", config.ReadInteger("General", "StreamingConnectDelay", 0));
  // Words: what the writer writes is accepted, as is an empty value where it means the default.
  check.Word("Source", {"Soundcard", "Stream", "None", ""}, "None");
  check.Word("Channels", {"stereo", "left", "right", ""}, "stereo");
  if (!alarmOnly) {
    check.Word("Format", {"mp3", "mp2", "ogg", "wav16", "wav32", "customwav", "customraw", "none"},
               "mp3");
  }
  check.Word("Mode", {"mono", "stereo", "jointstereo"}, "mono");
  for (const char* flag :
       {"Enabled", "16bit", "ASIOWorkaround", "FlatFilenames", "NoAutoRotate", "TimeSlotAlign",
        "CueSheet", "CleanupDaysEnabled", "CleanupSpaceEnabled", "SilenceDetectionIfInactive",
        "StreamingEnabled", "StreamingOnly", "StreamingServerMode", "StreamingPublic",
        "StreamingForwardMetadata", "SendEmailSilenceDetected", "SendEmailSilenceOK",
        "WinampPluginStreamOnly"}) {
    check.Flag(flag);
  }
  return check.Notes();
}

std::string LowSpaceWarning(const TSlotSettings& settings, int64_t freeBytes) {
  constexpr int64_t kBytesPerGiB = 1024LL * 1024 * 1024;
  if (!settings.fCleanupSpaceEnabled || freeBytes < 0 ||
      freeBytes >= static_cast<int64_t>(settings.fCleanupSpace) * kBytesPerGiB) {
    return {};
  }
  char text[256];
  std::snprintf(text, sizeof text,
                "Warning: only %.1f GiB free on the volume of the recordings, less than the %d "
                "GiB that clean-up keeps free: the oldest recordings will be deleted "
                "(CleanupSpace, CleanupSpaceEnabled)",
                static_cast<double>(freeBytes) / kBytesPerGiB, settings.fCleanupSpace);
  return text;
}

}  // namespace velloran::slots
