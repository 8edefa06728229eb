#pragma once
// The "Web Server" page: group "Settings" with the port, the two users and their masked
// passwords, the anonymous access and the Start/Stop buttons; below it the web server's log
// box (at most 1000 lines). The fields edit the application's TGlobalSettings as they are
// typed; a password field stores only the hash of its whole new text (PasswordField), so an
// untouched field keeps the stored hash. Leaving any field stores the global settings.
// While the server runs, the port, user and password fields and "Start Server" are disabled.
// Thread contract: main thread only (a widget).
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "app/GlobalSettings.h"

namespace velloran::ui {

class FocusOutFilter;

class TWebServerPage : public QWidget {
 public:
  static constexpr int kMaxLogLines = 1000;

  explicit TWebServerPage(QWidget* parent);
  ~TWebServerPage() override;

  // What the page works with; any may be left empty.
  struct Actions {
    std::function<void()> save;                         // FlushGlobalConfig
    std::function<std::optional<std::string>()> start;  // error text on failure
    std::function<void()> stop;
    std::function<bool()> running;
    std::function<void(const std::string&)> showError;  // a message box
  };
  void SetActions(Actions actions) { actions_ = std::move(actions); }

  // Fills the fields from the settings (the stored hashes stay as they are) and keeps editing
  // that object.
  void Fill(app::TGlobalSettings& settings);
  // A stamped line of the server's log: the first line goes once 1000 are held.
  void AppendLogLine(const std::string& line);
  // Enables the fields and buttons for the server's state.
  void UpdateControls();

  void btnWebServerStartClick();
  void btnWebServerStopClick();

  QLineEdit* edWebServerPort = nullptr;
  QLineEdit* edWebServerAdminUser = nullptr;
  QLineEdit* edWebServerAdminPassword = nullptr;
  QLineEdit* edWebServerReadOnlyUser = nullptr;
  QLineEdit* edWebServerReadOnlyPassword = nullptr;
  QComboBox* cbAnonymousAccess = nullptr;
  QPushButton* btnWebServerStart = nullptr;
  QPushButton* btnWebServerStop = nullptr;
  QPlainTextEdit* memWebServerLog = nullptr;

 private:
  FocusOutFilter* saver_ = nullptr;
  app::TGlobalSettings* settings_ = nullptr;
  Actions actions_;
};

}  // namespace velloran::ui
