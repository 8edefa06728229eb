#include "app/GlobalSettings.h"

#include <algorithm>

namespace velloran::app {

namespace {

constexpr const char* kOn = "on";
constexpr const char* kOff = "off";

std::string AsioSection(int32_t index) {
  return "ASIODevice" + std::to_string(index);
}

}  // namespace

void TGlobalSettings::Read(const ConfigFile& config) {
  columnCount = config.ReadInteger(kGeneral, "ColumnCount", 1);
  verticalAutoSize = config.ReadBool(kGeneral, "VerticalAutoSize", false);

  port = config.ReadString(kWebserver, "Port", "5252");
  adminUser = config.ReadString(kWebserver, "AdminUser", "");
  adminPassword.Load(config.ReadString(kWebserver, "AdminPassword", ""));
  readOnlyUser = config.ReadString(kWebserver, "ReadOnlyUser", "");
  readOnlyPassword.Load(config.ReadString(kWebserver, "ReadOnlyPassword", ""));
  anonymousAccess = ParseAccessLevel(config.ReadString(kWebserver, "AnonymousAccess", ""));

  smtpServer = config.ReadString(kEMail, "SMTPServer", "");
  smtpPort = config.ReadString(kEMail, "SMTPPort", "25");
  encryption = ParseEncryption(config.ReadString(kEMail, "Encryption", ""));
  emailUser = config.ReadString(kEMail, "User", "");
  emailPassword = config.ReadString(kEMail, "Password", "");
  fromAddress = config.ReadString(kEMail, "FromAddress", "");
  receipients = config.ReadString(kEMail, "Receipients", "");
}

void TGlobalSettings::WriteAsioDriver(ConfigFile& config, const AsioDriverSettings& driver) {
  const std::string section = AsioSection(driver.index);
  config.WriteInteger(section, "BufferSize", driver.bufferSize);
  config.WriteInteger(section, "Samplerate", driver.sampleRate);
  config.WriteInteger(section, "ThreadCount", driver.threadCount);
  // One tiling: the key of each bundle's first channel; the keys inside a bundle go.
  for (size_t channel = 0; channel < driver.bundles.size(); ++channel) {
    const std::string key = "ChannelBundle" + std::to_string(channel);
    if (driver.bundles[channel] > 0) {
      config.WriteInteger(section, key, driver.bundles[channel]);
    } else {
      config.DeleteKey(section, key);
    }
  }
}

void TGlobalSettings::Write(ConfigFile& config, bool webServerRunning,
                            const std::optional<WindowBounds>& windowBounds) const {
  config.WriteInteger(kGeneral, "ColumnCount", columnCount);
  config.WriteBool(kGeneral, "VerticalAutoSize", verticalAutoSize);

  config.WriteString(kWebserver, "Enabled", webServerRunning ? kOn : kOff);
  config.WriteString(kWebserver, "Port", port);
  config.WriteString(kWebserver, "AdminUser", adminUser);
  config.WriteString(kWebserver, "AdminPassword", adminPassword.Hash());
  config.WriteString(kWebserver, "ReadOnlyUser", readOnlyUser);
  config.WriteString(kWebserver, "ReadOnlyPassword", readOnlyPassword.Hash());
  config.WriteString(kWebserver, "AnonymousAccess", AccessLevelWord(anonymousAccess));

  config.WriteString(kEMail, "SMTPServer", smtpServer);
  config.WriteString(kEMail, "SMTPPort", smtpPort);
  config.WriteString(kEMail, "Encryption", EncryptionWord(encryption));
  config.WriteString(kEMail, "User", emailUser);
  config.WriteString(kEMail, "Password", emailPassword);
  config.WriteString(kEMail, "FromAddress", fromAddress);
  config.WriteString(kEMail, "Receipients", receipients);

  for (const AsioDriverSettings& driver : asioDrivers) {
    WriteAsioDriver(config, driver);
  }

  if (windowBounds) {
    config.WriteInteger(kMainWindowPosition, "Left", windowBounds->left);
    config.WriteInteger(kMainWindowPosition, "Top", windowBounds->top);
    config.WriteInteger(kMainWindowPosition, "Width", windowBounds->width);
    config.WriteInteger(kMainWindowPosition, "Height", windowBounds->height);
    config.WriteBool(kMainWindowPosition, "Maximized", windowBounds->maximized);
  }
  config.UpdateFile();
}

TAccessLevel TGlobalSettings::ParseAccessLevel(const std::string& word) {
  if (word == "Admin") {
    return TAccessLevel::alAdmin;
  }
  if (word == "ReadOnly") {
    return TAccessLevel::alReadOnly;
  }
  return TAccessLevel::alNone;
}

std::string TGlobalSettings::AccessLevelWord(TAccessLevel level) {
  switch (level) {
    case TAccessLevel::alAdmin:
      return "Admin";
    case TAccessLevel::alReadOnly:
      return "ReadOnly";
    case TAccessLevel::alNone:
      break;
  }
  return "none";
}

TEmailEncryption TGlobalSettings::ParseEncryption(const std::string& word) {
  if (word == "STARTTLS") {
    return TEmailEncryption::eeSTARTTLS;
  }
  if (word == "SSL") {
    return TEmailEncryption::eeSSL;
  }
  return TEmailEncryption::eeNone;
}

std::string TGlobalSettings::EncryptionWord(TEmailEncryption value) {
  switch (value) {
    case TEmailEncryption::eeSTARTTLS:
      return "STARTTLS";
    case TEmailEncryption::eeSSL:
      return "SSL";
    case TEmailEncryption::eeNone:
      break;
  }
  return "none";
}

bool TGlobalSettings::CloseConfirmation(const ConfigFile& config) {
  return config.ReadString(kGeneral, "CloseConfirmation", kOn) != kOff;
}

bool TGlobalSettings::WebServerEnabled(const ConfigFile& config) {
  return config.ReadString(kWebserver, "Enabled", kOff) == kOn;
}

std::optional<WindowBounds> TGlobalSettings::ReadWindowPosition(const ConfigFile& config,
                                                                const WindowBounds& current) {
  if (!config.SectionExists(kMainWindowPosition)) {
    return std::nullopt;
  }
  WindowBounds bounds;
  bounds.left = config.ReadInteger(kMainWindowPosition, "Left", current.left);
  bounds.top = config.ReadInteger(kMainWindowPosition, "Top", current.top);
  bounds.width = config.ReadInteger(kMainWindowPosition, "Width", current.width);
  bounds.height = config.ReadInteger(kMainWindowPosition, "Height", current.height);
  bounds.maximized = config.ReadBool(kMainWindowPosition, "Maximized", false);
  return bounds;
}

SlotCounts TGlobalSettings::ReadSlotCounts(const ConfigFile& config) {
  SlotCounts counts;
  counts.full = std::clamp(config.ReadInteger(kGeneral, "SlotCount", 4), 0, kMaxSlotCount);
  counts.alarm = std::clamp(config.ReadInteger(kGeneral, "AlarmSlotCount", 0), 0, kMaxSlotCount);
  return counts;
}

bool TGlobalSettings::ApplyIntegerText(const std::string& text, int32_t& value) {
  int32_t parsed = 0;
  if (!TryParseConfigInteger(text, parsed)) {
    return false;
  }
  value = parsed;
  return true;
}

int32_t TGlobalSettings::ClampColumnCount(int32_t count, int32_t slotCount) {
  return std::clamp(count, 1, std::max(1, slotCount));
}

}  // namespace velloran::app
