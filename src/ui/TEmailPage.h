#pragma once
// The "E-Mail" page: group "E-Mail Settings" with SMTP server, port, encryption, user,
// password (stored in clear), sender and recipients, and the "Send Test E-Mail" button. The
// fields edit the application's TGlobalSettings as they are typed and store the global settings
// when they lose the focus; the encryption choice is stored by the next save.
// The test message is sent on a worker thread with the fields as they are at the click, so the
// window stays responsive through the mail server's time-out; the button is disabled until the
// answer is shown ("Test e-mail has been sent. Please check your inbox." or the error).
// Thread contract: main thread only (a widget); the worker thread touches no widget and hands
// its result back through the event loop. Destruction gives a running exchange up and waits
// for the worker.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "alarms/NotificationEmail.h"
#include "app/GlobalSettings.h"

namespace velloran::ui {

class FocusOutFilter;

class TEmailPage : public QWidget {
 public:
  explicit TEmailPage(QWidget* parent);
  ~TEmailPage() override;

  void Fill(app::TGlobalSettings& settings);

  // FlushGlobalConfig.
  std::function<void()> save;
  // How the result of the test is shown (an information box or an error box).
  std::function<void(bool ok, const std::string& text)> showResult;
  // How a message is sent (alarms::SendNotificationEmail, raising errors); runs on the worker.
  std::function<void(const alarms::NotificationEmailSettings&, const std::atomic<bool>& abort)>
      send;

  void btnSendTestEmailClick();
  bool Sending() const { return !btnSendTestEmail->isEnabled(); }

  QLineEdit* edSMTPServer = nullptr;
  QLineEdit* edSMTPPort = nullptr;
  QComboBox* cbEncryption = nullptr;
  QLineEdit* edUser = nullptr;
  QLineEdit* edPassword = nullptr;
  QLineEdit* edFromAddress = nullptr;
  QLineEdit* edRecipients = nullptr;
  QPushButton* btnSendTestEmail = nullptr;

 private:
  FocusOutFilter* saver_ = nullptr;
  void Finished(bool ok, const std::string& text);

  app::TGlobalSettings* settings_ = nullptr;
  std::thread worker_;
  std::atomic<bool> abort_{false};
};

}  // namespace velloran::ui
