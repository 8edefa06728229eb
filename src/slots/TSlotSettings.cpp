#include "slots/TSlotSettings.h"

#include <filesystem>

#include "core/Paths.h"

namespace velloran::slots {

namespace {

constexpr const char* kGeneral = "General";

class SectionReader {
 public:
  SectionReader(const ConfigFile& config, std::string section)
      : config_(config), section_(std::move(section)) {}
  std::string Text(const char* key, const std::string& def) const {
    return config_.ReadString(section_, key, def);
  }
  int32_t Int(const char* key, int32_t def) const {
    return config_.ReadInteger(section_, key, def);
  }
  bool Flag(const char* key, bool def) const {
    return FlagFromWord(config_.ReadString(section_, key, FlagWord(def)));
  }
  // Default taken from the key of the same name in "General".
  int32_t GeneralInt(const char* key, int32_t def) const {
    return config_.ReadInteger(section_, key, config_.ReadInteger(kGeneral, key, def));
  }

 private:
  const ConfigFile& config_;
  std::string section_;
};

class SectionWriter {
 public:
  SectionWriter(ConfigFile& config, std::string section)
      : config_(config), section_(std::move(section)) {}
  void Text(const char* key, const std::string& value) {
    config_.WriteString(section_, key, value);
  }
  void Int(const char* key, int32_t value) { config_.WriteInteger(section_, key, value); }
  void Flag(const char* key, bool value) { config_.WriteString(section_, key, FlagWord(value)); }

 private:
  ConfigFile& config_;
  std::string section_;
};

std::string DefaultFolder(const std::string& name) {
  return GetSpecialFolderPath(kCsidlMyMusic) + "/Velloran/" + name;
}

std::string RootFolderOf(const ConfigFile& config) {
  std::error_code ec;
  const auto file = std::filesystem::absolute(config.FileName(), ec);
  return (ec ? std::filesystem::path(config.FileName()) : file).parent_path().string();
}

}  // namespace

std::string ResolveSlotFolder(const std::string& rootFolder, const std::string& folder) {
  if (!folder.empty() && folder.front() == '/') {
    return folder;
  }
  std::string root = rootFolder;
  while (root.size() > 1 && root.back() == '/') {
    root.pop_back();
  }
  if (folder.empty()) {
    return root;
  }
  return IncludeTrailingPathDelimiter(root) + folder;
}

std::string SlotSectionName(int index) {
  return "Slot" + std::to_string(index);
}

TSlotSettings ReadSlotSettings(const ConfigFile& config, int index, bool alarmOnly) {
  const SectionReader r(config, SlotSectionName(index));
  TSlotSettings s;
  s.fSampleRate = r.Int("Samplerate", 44100);
  s.fName = r.Text("Name", "Slot " + std::to_string(index + 1));
  s.fEnabled = r.Flag("Enabled", true);
  s.fRecordSource = RecordSourceFromWord(r.Text("Source", ""));
  s.fRecordChannels = RecordChannelsFromWord(r.Text("Channels", ""));
  s.fDevice = r.Text("Device", "");
  s.fRecord16Bit = r.Flag("16bit", false);
  s.fASIOWorkaround = r.Flag("ASIOWorkaround", false);
  s.fNominalLevel = static_cast<int16_t>(r.Int("NominalLevel", 0));
  s.fStreamURL = r.Text("StreamURL", "");
  s.fRecordDelay = r.Int("RecordDelay", 0);
  s.fExtraSleep = r.Int("ExtraSleep", 0);
  s.fAudioFormat = alarmOnly ? sfNone : StreamingFormatFromWord(r.Text("Format", "mp3"));
  s.fFileExtension = r.Text("FileExtension", "");
  s.fFolderText = r.Text("Folder", DefaultFolder(s.fName));
  s.fFolder = ResolveSlotFolder(RootFolderOf(config), s.fFolderText);
  s.fDatabaseFile = r.Text("DatabaseFile", "");
  s.fDatabaseFolder = config.ReadString(kGeneral, "DatabaseFolder", "");
  s.fFilenamePrefix = r.Text("FilenamePrefix", "");
  s.fCustomFilename = r.Text("CustomFilename", "");
  s.fFlatFilenames = r.Flag("FlatFilenames", false);
  s.fNoAutoRotate = r.Flag("NoAutoRotate", false);
  s.fTimeSlotLength = r.GeneralInt("TimeSlotLength", 60);
  s.fTimeSlotAlign = r.Flag("TimeSlotAlign", true);
  s.fTimeSlotOffset = r.GeneralInt("TimeSlotOffset", 0);
  s.fCueSheet = r.Flag("CueSheet", false);
  s.fBitrate = r.Int("Bitrate", 128);
  s.fMode = StreamingModeFromWord(r.Text("Mode", "stereo"));
  s.fEncoderOptions = r.Text("EncoderOptions", "");
  s.fEncoderFilename = r.Text("EncoderFilename", "");
  s.fEncoderQueueLength = r.Int("EncoderQueueLength", 6000);
  s.fCleanupDaysEnabled = r.Flag("CleanupDaysEnabled", true);
  s.fCleanupDays = r.Int("CleanupDays", 365);
  s.fCleanupSpaceEnabled = r.Flag("CleanupSpaceEnabled", true);
  s.fCleanupSpace = r.Int("CleanupSpace", 5);
  s.fSilenceThreshold = r.Int("SilenceThreshold", -30);
  s.fSilenceDection = r.Int("SilenceDetection", 0);
  s.fSilenceDetectionIfInactive = r.Flag("SilenceDetectionIfInactive", false);
  s.fStreamingEnabled = r.Flag("StreamingEnabled", false);
  s.fStreamingOnly = r.Flag("StreamingOnly", false);
  s.fStreamingHost = r.Text("StreamingHost", "");
  s.fStreamingServerMode = r.Flag("StreamingServerMode", false);
  s.fStreamingPort = r.Int("StreamingPort", 8000);
  s.fStreamingMountPoint = r.Text("StreamingMountPoint", "");
  s.fStreamingStreamID = r.Text("StreamingStreamID", "");
  s.fStreamingMimeType = r.Text("StreamingMimeType", "");
  s.fStreamingPassword = r.Text("StreamingPassword", "");
  s.fStreamingTitle = r.Text("StreamingTitle", "");
  s.fStreamingURL = r.Text("StreamingURL", "");
  s.fStreamingGenre = r.Text("StreamingGenre", "");
  s.fStreamingAIM = r.Text("StreamingAIM", "");
  s.fStreamingIRC = r.Text("StreamingIRC", "");
  s.fStreamingICQ = r.Text("StreamingICQ", "");
  s.fStreamingDescription = r.Text("StreamingDescription", "");
  s.fStreamingPublic = r.Flag("StreamingPublic", false);
  s.fStreamingForwardMetadata = r.Flag("StreamingForwardMetadata", false);
  s.fStreamingCurrentTitleFilename =
      r.Text("StreamingTitleFilename", IncludeTrailingPathDelimiter(s.fFolder) + "streamtitle.txt");
  s.fStreamingConnectDelay = r.GeneralInt("StreamingConnectDelay", 0);
  s.fSendEmailSilenceDetected = r.Flag("SendEmailSilenceDetected", false);
  s.fSendEmailSilenceOK = r.Flag("SendEmailSilenceOK", false);
  s.fHTTPAlarmSilenceDetected = r.Text("HTTPAlarmSilenceDetected", "");
  s.fHTTPAlarmSilenceOK = r.Text("HTTPAlarmSilenceOK", "");
  s.fWinampPlugin = r.Text("WinampPlugin", "");
  s.fWinampPluginStreamOnly = r.Flag("WinampPluginStreamOnly", false);
  s.fWinampPluginControls = r.Text("WinampPluginControls", "");
  return s;
}

void WriteSlotSettings(ConfigFile& config, int index, const TSlotSettings& s) {
  SectionWriter w(config, SlotSectionName(index));
  w.Flag("Enabled", s.fEnabled);
  w.Text("Name", s.fName);
  w.Text("Folder", ResolveSlotFolder(RootFolderOf(config), s.fFolderText) == s.fFolder
                       ? s.fFolderText
                       : s.fFolder);
  w.Flag("FlatFilenames", s.fFlatFilenames);
  w.Flag("NoAutoRotate", s.fNoAutoRotate);
  w.Int("TimeSlotLength", s.fTimeSlotLength);
  w.Flag("TimeSlotAlign", s.fTimeSlotAlign);
  w.Int("TimeSlotOffset", s.fTimeSlotOffset);
  w.Flag("CueSheet", s.fCueSheet);
  w.Text("Source", RecordSourceWord(s.fRecordSource));
  w.Text("Channels", RecordChannelsWord(s.fRecordChannels));
  w.Text("Device", s.fDevice);
  w.Flag("16bit", s.fRecord16Bit);
  w.Int("NominalLevel", s.fNominalLevel);
  w.Text("StreamURL", s.fStreamURL);
  w.Int("RecordDelay", s.fRecordDelay);
  w.Text("Format", StreamingFormatWord(s.fAudioFormat));
  w.Text("DatabaseFile", s.fDatabaseFile);
  w.Text("FilenamePrefix", s.fFilenamePrefix);
  w.Text("CustomFilename", s.fCustomFilename);
  w.Text("FileExtension", s.fFileExtension);
  w.Int("Bitrate", s.fBitrate);
  w.Int("Samplerate", s.fSampleRate);
  w.Text("Mode", StreamingModeWord(s.fMode));
  w.Text("EncoderOptions", s.fEncoderOptions);
  w.Text("EncoderFilename", s.fEncoderFilename);
  w.Flag("CleanupDaysEnabled", s.fCleanupDaysEnabled);
  w.Flag("CleanupSpaceEnabled", s.fCleanupSpaceEnabled);
  w.Int("CleanupDays", s.fCleanupDays);
  w.Int("CleanupSpace", s.fCleanupSpace);
  w.Int("SilenceThreshold", s.fSilenceThreshold);
  w.Int("SilenceDetection", s.fSilenceDection);
  w.Flag("SilenceDetectionIfInactive", s.fSilenceDetectionIfInactive);
  w.Flag("StreamingEnabled", s.fStreamingEnabled);
  w.Flag("StreamingOnly", s.fStreamingOnly);
  w.Text("StreamingHost", s.fStreamingHost);
  w.Flag("StreamingServerMode", s.fStreamingServerMode);
  w.Int("StreamingPort", s.fStreamingPort);
  w.Text("StreamingMountPoint", s.fStreamingMountPoint);
  w.Text("StreamingStreamID", s.fStreamingStreamID);
  w.Text("StreamingMimeType", s.fStreamingMimeType);
  w.Text("StreamingPassword", s.fStreamingPassword);
  w.Text("StreamingTitle", s.fStreamingTitle);
  w.Text("StreamingURL", s.fStreamingURL);
  w.Text("StreamingGenre", s.fStreamingGenre);
  w.Text("StreamingAIM", s.fStreamingAIM);
  w.Text("StreamingIRC", s.fStreamingIRC);
  w.Text("StreamingICQ", s.fStreamingICQ);
  w.Text("StreamingDescription", s.fStreamingDescription);
  w.Flag("StreamingPublic", s.fStreamingPublic);
  w.Flag("StreamingForwardMetadata", s.fStreamingForwardMetadata);
  w.Flag("SendEmailSilenceDetected", s.fSendEmailSilenceDetected);
  w.Flag("SendEmailSilenceOK", s.fSendEmailSilenceOK);
  w.Text("HTTPAlarmSilenceDetected", s.fHTTPAlarmSilenceDetected);
  w.Text("HTTPAlarmSilenceOK", s.fHTTPAlarmSilenceOK);
  w.Text("WinampPlugin", s.fWinampPlugin);
  w.Flag("WinampPluginStreamOnly", s.fWinampPluginStreamOnly);
  w.Text("WinampPluginControls", s.fWinampPluginControls);
  config.UpdateFile();
}

}  // namespace velloran::slots
