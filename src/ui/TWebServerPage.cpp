#include "ui/TWebServerPage.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QScrollBar>
#include <QVBoxLayout>
#include <initializer_list>

#include "ui/FocusOutFilter.h"

namespace velloran::ui {

TWebServerPage::TWebServerPage(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  auto* group = new QGroupBox(QStringLiteral("Settings"), this);
  auto* form = new QFormLayout(group);
  edWebServerPort = new QLineEdit(group);
  edWebServerAdminUser = new QLineEdit(group);
  edWebServerAdminPassword = new QLineEdit(group);
  edWebServerAdminPassword->setEchoMode(QLineEdit::Password);
  edWebServerReadOnlyUser = new QLineEdit(group);
  edWebServerReadOnlyPassword = new QLineEdit(group);
  edWebServerReadOnlyPassword->setEchoMode(QLineEdit::Password);
  cbAnonymousAccess = new QComboBox(group);
  // Item index = TAccessLevel.
  cbAnonymousAccess->addItems(
      {QStringLiteral("none"), QStringLiteral("admin"), QStringLiteral("read-only")});
  form->addRow(QStringLiteral("Port:"), edWebServerPort);
  form->addRow(QStringLiteral("Admin user:"), edWebServerAdminUser);
  form->addRow(QStringLiteral("Password:"), edWebServerAdminPassword);
  form->addRow(QStringLiteral("Read-only user:"), edWebServerReadOnlyUser);
  form->addRow(QStringLiteral("Password:"), edWebServerReadOnlyPassword);
  form->addRow(QStringLiteral("Anonymous access:"), cbAnonymousAccess);
  btnWebServerStart = new QPushButton(QStringLiteral("Start Server"), group);
  btnWebServerStop = new QPushButton(QStringLiteral("Stop Server"), group);
  btnWebServerStop->setEnabled(false);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnWebServerStart);
  buttons->addWidget(btnWebServerStop);
  buttons->addStretch();
  form->addRow(buttons);
  layout->addWidget(group);
  memWebServerLog = new QPlainTextEdit(this);
  memWebServerLog->setReadOnly(true);
  memWebServerLog->setMaximumBlockCount(kMaxLogLines);
  layout->addWidget(memWebServerLog, 1);

  // Typing edits the settings at once; only the user's edits count (filling does not).
  QObject::connect(edWebServerPort, &QLineEdit::textEdited, this, [this](const QString& t) {
    if (settings_ != nullptr)
      settings_->port = t.toStdString();
  });
  QObject::connect(edWebServerAdminUser, &QLineEdit::textEdited, this, [this](const QString& t) {
    if (settings_ != nullptr)
      settings_->adminUser = t.toStdString();
  });
  QObject::connect(edWebServerReadOnlyUser, &QLineEdit::textEdited, this, [this](const QString& t) {
    if (settings_ != nullptr)
      settings_->readOnlyUser = t.toStdString();
  });
  // edWebServerAdminPasswordChange / edWebServerReadOnlyPasswordChange: the hash of the whole
  // new text replaces the stored one.
  QObject::connect(edWebServerAdminPassword, &QLineEdit::textEdited, this,
                   [this](const QString& t) {
                     if (settings_ != nullptr)
                       settings_->adminPassword.SetText(t.toStdString());
                   });
  QObject::connect(edWebServerReadOnlyPassword, &QLineEdit::textEdited, this,
                   [this](const QString& t) {
                     if (settings_ != nullptr) {
                       settings_->readOnlyPassword.SetText(t.toStdString());
                     }
                   });
  QObject::connect(cbAnonymousAccess, &QComboBox::activated, this, [this](int index) {
    if (settings_ != nullptr)
      settings_->anonymousAccess = static_cast<app::TAccessLevel>(index);
  });
  QObject::connect(btnWebServerStart, &QPushButton::clicked, this,
                   [this] { btnWebServerStartClick(); });
  QObject::connect(btnWebServerStop, &QPushButton::clicked, this,
                   [this] { btnWebServerStopClick(); });

  auto* saver = saver_ = new FocusOutFilter(this, [this] {
    if (settings_ != nullptr && actions_.save)
      actions_.save();
  });
  for (QObject* field : std::initializer_list<QObject*>{
           edWebServerPort, edWebServerAdminUser, edWebServerAdminPassword, edWebServerReadOnlyUser,
           edWebServerReadOnlyPassword, cbAnonymousAccess}) {
    saver->Watch(field);
  }
}

TWebServerPage::~TWebServerPage() {
  saver_->Stop();
}

void TWebServerPage::Fill(app::TGlobalSettings& settings) {
  settings_ = &settings;
  edWebServerPort->setText(QString::fromStdString(settings.port));
  edWebServerAdminUser->setText(QString::fromStdString(settings.adminUser));
  edWebServerAdminPassword->setText(QString::fromStdString(settings.adminPassword.Text()));
  edWebServerReadOnlyUser->setText(QString::fromStdString(settings.readOnlyUser));
  edWebServerReadOnlyPassword->setText(QString::fromStdString(settings.readOnlyPassword.Text()));
  cbAnonymousAccess->setCurrentIndex(static_cast<int>(settings.anonymousAccess));
  UpdateControls();
}

void TWebServerPage::AppendLogLine(const std::string& line) {
  memWebServerLog->appendPlainText(QString::fromStdString(line));
  QScrollBar* bar = memWebServerLog->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void TWebServerPage::UpdateControls() {
  const bool running = actions_.running && actions_.running();
  for (QWidget* field : std::initializer_list<QWidget*>{
           edWebServerPort, edWebServerAdminUser, edWebServerAdminPassword, edWebServerReadOnlyUser,
           edWebServerReadOnlyPassword}) {
    field->setEnabled(!running);
  }
  btnWebServerStart->setEnabled(!running && actions_.start != nullptr);
  btnWebServerStop->setEnabled(running);
}

void TWebServerPage::btnWebServerStartClick() {
  if (!actions_.start) {
    return;
  }
  const std::optional<std::string> error = actions_.start();
  UpdateControls();
  if (error && actions_.showError) {
    actions_.showError("Error starting web server: " + *error);
  }
}

void TWebServerPage::btnWebServerStopClick() {
  if (actions_.stop) {
    actions_.stop();
  }
  UpdateControls();
}

}  // namespace velloran::ui
