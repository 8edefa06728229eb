#include "app/StartupChecks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/GlobalSettings.h"
#include "core/ConfigCheck.h"

namespace velloran::app {

std::vector<std::string> GlobalSettingsFallbacks(const ConfigFile& config) {
  ConfigCheck general(config, "General");
  general.Int("SlotCount", 4, 0, TGlobalSettings::kMaxSlotCount);
  general.Int("AlarmSlotCount", 0, 0, TGlobalSettings::kMaxSlotCount);
  general.Int("ColumnCount", 1);
  general.Int("TimeSlotLength", 60);
  general.Int("TimeSlotOffset", 0);
  general.Int("StreamingConnectDelay", 0);
  ConfigCheck webserver(config, "Webserver");
  webserver.Flag("Enabled");
  std::vector<std::string> notes = general.Notes();
  notes.insert(notes.end(), webserver.Notes().begin(), webserver.Notes().end());
  return notes;
}

std::string ConfigFileProblem(const std::string& fileName) {
  struct stat info {};
  if (::stat(fileName.c_str(), &info) != 0) {
    return {};
  }
  if (S_ISDIR(info.st_mode)) {
    return "The configuration file " + fileName +
           " is a folder: the settings cannot be read, and changes cannot be saved";
  }
  if (::access(fileName.c_str(), R_OK) != 0) {
    return "The configuration file " + fileName + " cannot be read: " + std::strerror(errno);
  }
  return {};
}

}  // namespace velloran::app
