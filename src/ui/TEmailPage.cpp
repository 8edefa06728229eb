#include "ui/TEmailPage.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QVBoxLayout>
#include <exception>

#include "core/Clock.h"
#include "ui/FocusOutFilter.h"

namespace velloran::ui {

TEmailPage::TEmailPage(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  auto* group = new QGroupBox(QStringLiteral("E-Mail Settings"), this);
  auto* form = new QFormLayout(group);
  edSMTPServer = new QLineEdit(group);
  edSMTPPort = new QLineEdit(group);
  cbEncryption = new QComboBox(group);
  cbEncryption->addItems(
      {QStringLiteral("none"), QStringLiteral("STARTTLS"), QStringLiteral("SSL")});
  edUser = new QLineEdit(group);
  edPassword = new QLineEdit(group);
  edPassword->setEchoMode(QLineEdit::Password);
  edFromAddress = new QLineEdit(group);
  edRecipients = new QLineEdit(group);
  form->addRow(QStringLiteral("SMTP server:"), edSMTPServer);
  form->addRow(QStringLiteral("Port:"), edSMTPPort);
  form->addRow(QStringLiteral("Encryption:"), cbEncryption);
  form->addRow(QStringLiteral("Auth User:"), edUser);
  form->addRow(QStringLiteral("Password:"), edPassword);
  form->addRow(QStringLiteral("From address:"), edFromAddress);
  form->addRow(QStringLiteral("Recipients:"), edRecipients);
  btnSendTestEmail = new QPushButton(QStringLiteral("Send Test E-Mail"), group);
  auto* row = new QHBoxLayout;
  row->addWidget(btnSendTestEmail);
  row->addStretch();
  form->addRow(row);
  layout->addWidget(group);
  layout->addStretch();

  const std::pair<QLineEdit*, std::string app::TGlobalSettings::*> texts[] = {
      {edSMTPServer, &app::TGlobalSettings::smtpServer},
      {edSMTPPort, &app::TGlobalSettings::smtpPort},
      {edUser, &app::TGlobalSettings::emailUser},
      {edPassword, &app::TGlobalSettings::emailPassword},
      {edFromAddress, &app::TGlobalSettings::fromAddress},
      {edRecipients, &app::TGlobalSettings::receipients}};
  auto* saver = saver_ = new FocusOutFilter(this, [this] {
    if (settings_ != nullptr && save)
      save();
  });
  for (const auto& [edit, field] : texts) {
    QObject::connect(edit, &QLineEdit::textEdited, this, [this, field](const QString& t) {
      if (settings_ != nullptr)
        settings_->*field = t.toStdString();
    });
    saver->Watch(edit);
  }
  // No save here: a changed encryption is stored by the next save.
  QObject::connect(cbEncryption, &QComboBox::activated, this, [this](int index) {
    if (settings_ != nullptr)
      settings_->encryption = static_cast<app::TEmailEncryption>(index);
  });
  QObject::connect(btnSendTestEmail, &QPushButton::clicked, this,
                   [this] { btnSendTestEmailClick(); });

  send = [](const alarms::NotificationEmailSettings& settings, const std::atomic<bool>& abort) {
    alarms::SendNotificationEmail(settings, "Test from Velloran",
                                  alarms::NotificationDateTime(NowLocal()), true, {}, &abort);
  };
  showResult = [this](bool ok, const std::string& text) {
    if (ok) {
      QMessageBox::information(this, window()->windowTitle(), QString::fromStdString(text));
    } else {
      QMessageBox::critical(this, window()->windowTitle(), QString::fromStdString(text));
    }
  };
}

TEmailPage::~TEmailPage() {
  saver_->Stop();
  abort_ = true;
  if (worker_.joinable()) {
    worker_.join();
  }
}

void TEmailPage::Fill(app::TGlobalSettings& settings) {
  settings_ = &settings;
  edSMTPServer->setText(QString::fromStdString(settings.smtpServer));
  edSMTPPort->setText(QString::fromStdString(settings.smtpPort));
  cbEncryption->setCurrentIndex(static_cast<int>(settings.encryption));
  edUser->setText(QString::fromStdString(settings.emailUser));
  edPassword->setText(QString::fromStdString(settings.emailPassword));
  edFromAddress->setText(QString::fromStdString(settings.fromAddress));
  edRecipients->setText(QString::fromStdString(settings.receipients));
}

void TEmailPage::btnSendTestEmailClick() {
  if (!btnSendTestEmail->isEnabled()) {
    return;
  }
  if (worker_.joinable()) {
    worker_.join();  // the previous test has reported already
  }
  // The fields as they stand now.
  alarms::NotificationEmailSettings email;
  email.smtpServer = edSMTPServer->text().toStdString();
  email.smtpPort = edSMTPPort->text().toStdString();
  const int encryption = cbEncryption->currentIndex();
  email.useTls = encryption != static_cast<int>(app::TEmailEncryption::eeNone);
  email.requireStartTls = encryption == static_cast<int>(app::TEmailEncryption::eeSTARTTLS);
  email.user = edUser->text().toStdString();
  email.password = edPassword->text().toStdString();
  email.fromAddress = edFromAddress->text().toStdString();
  email.recipients = edRecipients->text().toStdString();
  btnSendTestEmail->setEnabled(false);
  worker_ = std::thread([this, email, sender = send] {
    bool ok = true;
    std::string text = "Test e-mail has been sent. Please check your inbox.";
    try {
      sender(email, abort_);
    } catch (const std::exception& e) {
      ok = false;
      text = e.what();
    }
    if (abort_) {
      return;  // the page is going away
    }
    QMetaObject::invokeMethod(
        this, [this, ok, text] { Finished(ok, text); }, Qt::QueuedConnection);
  });
}

void TEmailPage::Finished(bool ok, const std::string& text) {
  btnSendTestEmail->setEnabled(true);
  if (showResult) {
    showResult(ok, text);
  }
}

}  // namespace velloran::ui
