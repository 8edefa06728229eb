#pragma once
// The global settings of Velloran.ini outside the slot sections: what start-up reads into the
// program, what FlushGlobalConfig writes back and in which order, and the keys that are read
// on demand (close confirmation, web server auto-start, window position, slot counts).
//
// Words are compared exactly and case-sensitively; unknown words read as the fallback of their
// key; unparsable integers read as their defaults (ConfigFile). Field texts are written as they
// stand, without validation.
//
// Thread contract: a plain value owned by the application object and used on the main thread.
// Read/Write go through the ConfigFile, which serialises itself.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/PasswordField.h"
#include "core/ConfigFile.h"
#include "web/AccessLevel.h"

namespace velloran::app {

// Right of a web request (defined by the web server, which grants it).
using web::TAccessLevel;

// Transport of the notification e-mails.
enum class TEmailEncryption { eeNone = 0, eeSTARTTLS = 1, eeSSL = 2 };

struct WindowBounds {
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
  bool maximized = false;
};

// One ASIO driver's parameters and channel bundles, written to section "ASIODevice<index>".
struct AsioDriverSettings {
  int32_t index = 0;  // the driver's index in the device catalogue
  int32_t sampleRate = 0;
  int32_t bufferSize = 0;
  int32_t threadCount = 1;
  // Per input channel: the bundle size at a bundle's first channel, 0 inside a bundle.
  std::vector<int32_t> bundles;
};

struct SlotCounts {
  int32_t full = 4;   // "SlotCount": recording slots
  int32_t alarm = 0;  // "AlarmSlotCount": alarm-only slots, indexes after the recording slots
};

class TGlobalSettings {
 public:
  static constexpr const char* kGeneral = "General";
  static constexpr const char* kWebserver = "Webserver";
  static constexpr const char* kEMail = "EMail";
  static constexpr const char* kMainWindowPosition = "MainWindowPosition";
  static constexpr int32_t kMaxSlotCount = 255;

  // "General"
  int32_t columnCount = 1;
  bool verticalAutoSize = false;
  // "Webserver"
  std::string port = "5252";
  std::string adminUser;
  PasswordField adminPassword;
  std::string readOnlyUser;
  PasswordField readOnlyPassword;
  TAccessLevel anonymousAccess = TAccessLevel::alNone;
  // "EMail"
  std::string smtpServer;
  std::string smtpPort = "25";
  TEmailEncryption encryption = TEmailEncryption::eeNone;
  std::string emailUser;
  std::string emailPassword;
  std::string fromAddress;
  std::string receipients;
  // "ASIODevice%d", in catalogue order
  std::vector<AsioDriverSettings> asioDrivers;

  // Start-up read of "General", "Webserver" and "EMail"; the stored password hashes are taken
  // over unchanged as text and hash of the password fields.
  void Read(const ConfigFile& config);

  // FlushGlobalConfig's writes, in order: "General", "Webserver" ("Enabled" from
  // webServerRunning), "EMail", every "ASIODevice%d", then "MainWindowPosition" when bounds
  // are given (no window, no section written); then the file is flushed. A refused write raises
  // ConfigWriteError and ends the flush there.
  void Write(ConfigFile& config, bool webServerRunning,
             const std::optional<WindowBounds>& windowBounds) const;

  static TAccessLevel ParseAccessLevel(const std::string& word);
  static std::string AccessLevelWord(TAccessLevel level);
  static TEmailEncryption ParseEncryption(const std::string& word);
  static std::string EncryptionWord(TEmailEncryption encryption);

  // Keys read on demand.
  // "General" "CloseConfirmation" (default "on"): anything but exactly "off" asks.
  static bool CloseConfirmation(const ConfigFile& config);
  // "Webserver" "Enabled" (default "off"): exactly "on" starts the server at the first show.
  static bool WebServerEnabled(const ConfigFile& config);
  // "MainWindowPosition" when the section exists; missing keys take the current bounds.
  static std::optional<WindowBounds> ReadWindowPosition(const ConfigFile& config,
                                                        const WindowBounds& current);
  // "General" "SlotCount" (default 4) and "AlarmSlotCount" (default 0), each clamped 0..255.
  static SlotCounts ReadSlotCounts(const ConfigFile& config);
  // The column count applied to the tiles: clamped to 1..slotCount (1 with no slots).
  static int32_t ClampColumnCount(int32_t columnCount, int32_t slotCount);

  static void WriteAsioDriver(ConfigFile& config, const AsioDriverSettings& driver);
  // An ASIO edit field changed (buffer size, sample rate, thread count): the value becomes the
  // text read as an integer, or keeps its old value when the text is not one. Returns whether
  // the text was an integer.
  static bool ApplyIntegerText(const std::string& text, int32_t& value);
};

}  // namespace velloran::app
