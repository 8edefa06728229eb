#include "ui/TConfigureSlotForm.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QScreen>
#include <QSlider>
#include <QVBoxLayout>
#include <exception>
#include <vector>

#include "audio/bass_wadsp.h"
#include "audio/devices/DeviceCatalogue.h"
#include "slots/TSlotInfo.h"
#include "ui/DeviceControlPanel.h"
#include "ui/TLoggerMainForm.h"

namespace velloran::ui {

namespace {

// The integer in a text (surrounding blanks allowed), or nothing.
bool ParseInt(const QString& text, int& value) {
  bool ok = false;
  const int parsed = text.trimmed().toInt(&ok);
  if (ok) {
    value = parsed;
  }
  return ok;
}

// The integer in a text, or the old value when the text is not one.
int32_t IntOr(const QString& text, int32_t old) {
  int value = old;
  ParseInt(text, value);
  return value;
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

std::string S(const QString& text) {
  return text.toStdString();
}

bool IsCustomFormat(int format) {
  return format == slots::sfCustomWAV || format == slots::sfCustomRaw;
}

QLabel* Note(const char* text, QWidget* parent) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setWordWrap(true);
  return label;
}

// A row of widgets with a stretch at the end.
QWidget* Row(QWidget* parent, std::initializer_list<QWidget*> widgets, bool stretch = true) {
  auto* row = new QWidget(parent);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  for (QWidget* widget : widgets) {
    widget->setParent(row);
    layout->addWidget(widget);
  }
  if (stretch) {
    layout->addStretch();
  }
  return row;
}

}  // namespace

// ---- TSpinEdit ----

TSpinEdit::TSpinEdit(QWidget* parent, int minimum, int maximum, int step) : QSpinBox(parent) {
  setRange(minimum, maximum);
  setSingleStep(step);
}

QValidator::State TSpinEdit::validate(QString& /*text*/, int& /*pos*/) const {
  // Any text may stand while it is typed; valueFromText decides what it means.
  return QValidator::Acceptable;
}

int TSpinEdit::valueFromText(const QString& text) const {
  int parsed = 0;
  if (!ParseInt(text, parsed)) {
    return value();  // not an integer: the previous value stays
  }
  return std::clamp(parsed, minimum(), maximum());
}

// ---- clean-up estimate ----

int64_t CleanupEstimateGB(int64_t kbitPerSecond, int64_t days) {
  const int64_t bytesPerDay = kbitPerSecond * 1024 / 8 * 86400;
  return bytesPerDay * days / (int64_t{1} << 30);
}

QString CleanupDaysLabel(const QString& bitrateText, int formatIndex, const QString& daysText) {
  int rate = 0;
  if (!ParseInt(bitrateText, rate)) {
    rate = 0;
  }
  if (rate == 0 || IsCustomFormat(formatIndex)) {
    return QStringLiteral("days");
  }
  int days = 0;
  if (!ParseInt(daysText, days)) {
    days = 0;
  }
  return QStringLiteral("days (~%1 GB)").arg(CleanupEstimateGB(rate, days));
}

// ---- the dialog ----

TConfigureSlotForm::TConfigureSlotForm(QWidget* owner, slots::TSlotInfo& slot,
                                       const audio::DeviceCatalogue* catalogue,
                                       std::string rootFolder)
    : QDialog(owner), fSlotInfo(slot), catalogue_(catalogue), rootFolder_(std::move(rootFolder)) {
  showMessage = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };
  runControlPanel = [this](int index) {
    if (catalogue_ != nullptr) {
      RunDeviceControlPanel(*catalogue_, index);
    }
  };
  setFont(WindowFont());
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  pgcPages = new QTabWidget(this);
  // Six captions side by side in 469 pixels: narrow tab margins instead of scroll arrows.
  pgcPages->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 4px 5px; }"));
  pgcPages->setUsesScrollButtons(false);
  layout->addWidget(pgcPages);
  BuildGeneralPage();
  BuildInputPage();
  BuildOutputPage();
  BuildCleanupPage();
  BuildStreamingPage();
  BuildSilencePage();
  auto* buttons = new QDialogButtonBox(this);
  btnOK = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  btnCancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  btnOK->setDefault(true);
  layout->addWidget(buttons);
  // Cancel and Escape close with Cancel (QDialog::reject); OK closes only when Confirm agrees.
  QObject::connect(btnOK, &QPushButton::clicked, this, [this] {
    if (Confirm()) {
      accept();
    }
  });
  QObject::connect(btnCancel, &QPushButton::clicked, this, [this] { reject(); });
  setFixedSize(kClientWidth, kClientHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - QPoint(kClientWidth / 2, kClientHeight / 2));
  }
  FillControls();
}

void TConfigureSlotForm::BuildGeneralPage() {
  auto* page = new QWidget(pgcPages);
  auto* layout = new QVBoxLayout(page);
  auto* group = new QGroupBox(QStringLiteral("General"), page);
  auto* form = new QFormLayout(group);
  edName = new QLineEdit(group);
  form->addRow(QStringLiteral("Name/Description:"), edName);
  layout->addWidget(group);
  layout->addStretch();
  pgcPages->addTab(page, QStringLiteral("General"));
}

void TConfigureSlotForm::BuildInputPage() {
  auto* page = new QWidget(pgcPages);
  auto* layout = new QVBoxLayout(page);

  auto* source = new QGroupBox(QStringLiteral("Input Source"), page);
  auto* grid = new QGridLayout(source);
  rbDisabled = new QRadioButton(QStringLiteral("Disabled"), source);
  rbSoundcard = new QRadioButton(QStringLiteral("Sound card:"), source);
  rbStream = new QRadioButton(QStringLiteral("Stream URL:"), source);
  cbDevice = new QComboBox(source);
  cbDevice->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  cbDevice->setMinimumContentsLength(20);
  btnDeviceConfigure = new QPushButton(QStringLiteral("Configure..."), source);
  edStreamURL = new QLineEdit(source);
  grid->addWidget(rbDisabled, 0, 0, 1, 3);
  grid->addWidget(rbSoundcard, 1, 0, 1, 3);
  grid->addWidget(cbDevice, 2, 0, 1, 2);
  grid->addWidget(btnDeviceConfigure, 2, 2);
  grid->addWidget(rbStream, 3, 0, 1, 3);
  grid->addWidget(edStreamURL, 4, 0, 1, 3);
  grid->setColumnStretch(0, 1);
  layout->addWidget(source);
  QObject::connect(cbDevice, &QComboBox::activated, this, [this](int) { DeviceChange(); });
  QObject::connect(edStreamURL, &QLineEdit::textEdited, this,
                   [this](const QString&) { rbStream->setChecked(true); });
  QObject::connect(btnDeviceConfigure, &QPushButton::clicked, this, [this] {
    try {
      runControlPanel(cbDevice->currentIndex());
    } catch (const std::exception& e) {
      showMessage(QString::fromUtf8(e.what()));
    }
  });

  auto* options = new QGroupBox(QStringLiteral("Input Options"), page);
  auto* form = new QFormLayout(options);
  edNominalLevel = new TSpinEdit(options, -100, 100);
  form->addRow(QStringLiteral("Nominal level:"),
               Row(options, {edNominalLevel, new QLabel(QStringLiteral("dBFS"))}));
  edRecordDelay = new TSpinEdit(options, 0, 3600, 60);
  form->addRow(QStringLiteral("Record delay:"), Row(options, {edRecordDelay}));
  cbRecord16Bit = new QCheckBox(QStringLiteral("16 bit mode"), options);
  form->addRow(cbRecord16Bit);
  cbRecordChannels = new QComboBox(options);
  cbRecordChannels->addItems({QStringLiteral("stereo"), QStringLiteral("left channel only"),
                              QStringLiteral("right channel only")});
  form->addRow(QStringLiteral("Record channels:"), Row(options, {cbRecordChannels}));
  layout->addWidget(options);

  auto* processing = new QGroupBox(QStringLiteral("Sound Processing"), page);
  auto* pform = new QFormLayout(processing);
  edWinampPlugin = new QLineEdit(processing);
  pform->addRow(QStringLiteral("Winamp plugin:"), edWinampPlugin);
  btnWinampSelect = new QPushButton(QStringLiteral("Select..."));
  btnWinampReload = new QPushButton(QStringLiteral("Reload"));
  btnWinampConfigure = new QPushButton(QStringLiteral("Configure..."));
  pform->addRow(QString(), Row(processing, {btnWinampSelect, btnWinampReload, btnWinampConfigure}));
  cbWinampStreamOnly =
      new QCheckBox(QStringLiteral("Only process stream, not recording"), processing);
  pform->addRow(cbWinampStreamOnly);
  pform->addRow(Note("Changes in the sound processing settings will be effective after restart.",
                     processing));
  layout->addWidget(processing);
  layout->addStretch();
  QObject::connect(btnWinampSelect, &QPushButton::clicked, this, [this] { SelectWinampPlugin(); });
  QObject::connect(btnWinampReload, &QPushButton::clicked, this, [this] {
    // Reloads from the settings the slot holds, that is, as last confirmed with OK.
    fSlotInfo.ReloadWinampPlugin();
    btnWinampConfigure->setEnabled(fSlotInfo.WinampPluginHandle() != 0);
  });
  QObject::connect(btnWinampConfigure, &QPushButton::clicked, this,
                   [this] { ConfigureWinampPlugin(); });
  pgcPages->addTab(page, QStringLiteral("Input"));
}

void TConfigureSlotForm::BuildOutputPage() {
  auto* page = new QWidget(pgcPages);
  auto* layout = new QVBoxLayout(page);

  auto* file = new QGroupBox(QStringLiteral("Output File"), page);
  auto* form = new QFormLayout(file);
  edFolder = new QLineEdit;
  btnFolder = new QPushButton(QStringLiteral("..."));
  btnFolder->setFixedWidth(30);
  auto* folderRow = Row(file, {edFolder, btnFolder}, false);
  form->addRow(QStringLiteral("Folder:"), folderRow);
  edFilenamePrefix = new QLineEdit(file);
  form->addRow(QStringLiteral("Filename prefix:"), edFilenamePrefix);
  edCustomFilename = new QLineEdit;
  form->addRow(
      QStringLiteral("Filename format:"),
      Row(file, {edCustomFilename, new QLabel(QStringLiteral("(blank = default)"))}, false));
  cbFlatFilenames = new QCheckBox(QStringLiteral("Use flat filenames (no subfolders)"), file);
  cbCueSheet = new QCheckBox(QStringLiteral("Create cue sheet (streams only)"), file);
  cbNoAutoRotate = new QCheckBox(
      QStringLiteral("Disable auto rotation (infinite/manual recording length)"), file);
  form->addRow(cbFlatFilenames);
  form->addRow(cbCueSheet);
  form->addRow(cbNoAutoRotate);
  edTimeSlotLength = new QLineEdit;
  edTimeSlotLength->setFixedWidth(60);
  form->addRow(QStringLiteral("Recording length:"),
               Row(file, {edTimeSlotLength, new QLabel(QStringLiteral("minutes per file"))}));
  cbTimeSlotAlign = new QCheckBox(QStringLiteral("Align to the top of the hour"), file);
  form->addRow(cbTimeSlotAlign);
  edTimeSlotOffset = new QLineEdit;
  edTimeSlotOffset->setFixedWidth(60);
  form->addRow(QStringLiteral("Offset for alignment:"),
               Row(file, {edTimeSlotOffset, new QLabel(QStringLiteral("seconds"))}));
  layout->addWidget(file);
  QObject::connect(btnFolder, &QPushButton::clicked, this, [this] { SelectFolder(); });

  auto* format = new QGroupBox(QStringLiteral("Output Format"), page);
  auto* fform = new QFormLayout(format);
  cbAudioFormat = new QComboBox;
  cbAudioFormat->addItems({QStringLiteral("MP3"), QStringLiteral("MP2"),
                           QStringLiteral("Ogg Vorbis"), QStringLiteral("WAV (16 bit)"),
                           QStringLiteral("WAV (32 bit)"),
                           QStringLiteral("Custom (with WAV header)"),
                           QStringLiteral("Custom (raw PCM)"), QStringLiteral("No recording")});
  edFileExtension = new QLineEdit;
  edFileExtension->setFixedWidth(50);
  fform->addRow(QStringLiteral("Audio Format:"), Row(format, {cbAudioFormat, edFileExtension}));
  cbMode = new QComboBox;
  cbMode->addItems(
      {QStringLiteral("mono"), QStringLiteral("stereo"), QStringLiteral("joint stereo")});
  fform->addRow(QStringLiteral("Mode:"), Row(format, {cbMode}));
  cbBitrate = new QComboBox;
  cbBitrate->setEditable(true);
  cbBitrate->setMinimumWidth(80);
  fform->addRow(QStringLiteral("Bit rate:"), Row(format, {cbBitrate}));
  cbSampleRate = new QComboBox;
  cbSampleRate->setEditable(true);
  cbSampleRate->setMinimumWidth(80);
  cbSampleRate->addItems({QStringLiteral("16000"), QStringLiteral("22050"), QStringLiteral("24000"),
                          QStringLiteral("32000"), QStringLiteral("44100"), QStringLiteral("48000"),
                          QStringLiteral("96000")});
  fform->addRow(QStringLiteral("Sample rate:"), Row(format, {cbSampleRate}));
  edEncoderFilename = new QLineEdit;
  btnEncoderFilename = new QPushButton(QStringLiteral("..."));
  btnEncoderFilename->setFixedWidth(30);
  fform->addRow(QStringLiteral("Encoder filename:"),
                Row(format, {edEncoderFilename, btnEncoderFilename}, false));
  edEncoderOptions = new QLineEdit(format);
  fform->addRow(QStringLiteral("Encoder options:"), edEncoderOptions);
  layout->addWidget(format);
  layout->addStretch();
  QObject::connect(cbAudioFormat, &QComboBox::activated, this, [this](int) { FormatChange(); });
  QObject::connect(cbBitrate, &QComboBox::editTextChanged, this,
                   [this](const QString&) { UpdateCleanupEstimate(); });
  QObject::connect(btnEncoderFilename, &QPushButton::clicked, this, [this] { SelectEncoder(); });
  pgcPages->addTab(page, QStringLiteral("Output"));
}

void TConfigureSlotForm::BuildCleanupPage() {
  auto* page = new QWidget(pgcPages);
  auto* layout = new QVBoxLayout(page);
  auto* group = new QGroupBox(QStringLiteral("Cleanup"), page);
  auto* form = new QVBoxLayout(group);
  cbCleanupDays = new QCheckBox(QStringLiteral("Delete recordings older than"));
  edCleanupDays = new TSpinEdit(nullptr, 1, 32767);
  lblCleanupDays = new QLabel(QStringLiteral("days"));
  form->addWidget(Row(group, {cbCleanupDays, edCleanupDays, lblCleanupDays}));
  cbCleanupSpace = new QCheckBox(QStringLiteral("Delete recordings when disk space is below"));
  edCleanupSpace = new TSpinEdit(nullptr, 1, 32767);
  form->addWidget(Row(group, {cbCleanupSpace, edCleanupSpace, new QLabel(QStringLiteral("GB"))}));
  layout->addWidget(group);
  layout->addStretch();
  QObject::connect(edCleanupDays, &QSpinBox::textChanged, this,
                   [this](const QString&) { UpdateCleanupEstimate(); });
  pgcPages->addTab(page, QStringLiteral("Cleanup"));
}

void TConfigureSlotForm::BuildStreamingPage() {
  auto* page = new QWidget(pgcPages);
  auto* layout = new QVBoxLayout(page);
  layout->setSpacing(4);
  cbStreamingEnabled = new QCheckBox(QStringLiteral("Enable Streaming"), page);
  cbStreamingOnly = new QCheckBox(QStringLiteral("Streaming only, no recoding"), page);
  layout->addWidget(cbStreamingEnabled);
  layout->addWidget(cbStreamingOnly);

  auto* server = new QGroupBox(QStringLiteral("Server Settings"), page);
  auto* form = new QFormLayout(server);
  // The page holds sixteen rows: tighter rows keep every field at its full height.
  form->setVerticalSpacing(2);
  edStreamingHost = new QLineEdit(server);
  form->addRow(QStringLiteral("Hostname/IP:"), edStreamingHost);
  edStreamingPort = new QLineEdit;
  edStreamingPort->setFixedWidth(60);
  form->addRow(QStringLiteral("Port:"), Row(server, {edStreamingPort}));
  cbStreamingServerMode = new QCheckBox(QStringLiteral("Internal server mode"), server);
  form->addRow(cbStreamingServerMode);
  edStreamingMountPoint = new QLineEdit;
  form->addRow(
      QStringLiteral("Mount point:"),
      Row(server, {edStreamingMountPoint, new QLabel(QStringLiteral("(Icecast only)"))}, false));
  edStreamingStreamID = new QLineEdit;
  form->addRow(
      QStringLiteral("Stream ID:"),
      Row(server, {edStreamingStreamID, new QLabel(QStringLiteral("(Shoutcast v2 only)"))}, false));
  edStreamingPassword = new QLineEdit;
  edStreamingPassword->setEchoMode(QLineEdit::Password);
  btnShowPassword = new QPushButton(QStringLiteral("Show Password"));
  form->addRow(QStringLiteral("Password:"),
               Row(server, {edStreamingPassword, btnShowPassword}, false));
  edStreamingMimeType = new QLineEdit;
  form->addRow(
      QStringLiteral("MIME type:"),
      Row(server, {edStreamingMimeType, new QLabel(QStringLiteral("(leave empty for default)"))},
          false));
  layout->addWidget(server);
  QObject::connect(btnShowPassword, &QPushButton::clicked, this,
                   [this] { edStreamingPassword->setEchoMode(QLineEdit::Normal); });

  auto* meta = new QGroupBox(QStringLiteral("Metadata"), page);
  auto* mform = new QFormLayout(meta);
  mform->setVerticalSpacing(2);
  const std::pair<const char*, QLineEdit**> texts[] = {{"Title:", &edStreamingTitle},
                                                       {"URL:", &edStreamingURL},
                                                       {"Genre:", &edStreamingGenre},
                                                       {"AIM:", &edStreamingAIM},
                                                       {"IRC:", &edStreamingIRC},
                                                       {"ICQ:", &edStreamingICQ},
                                                       {"Description:", &edStreamingDescription}};
  for (const auto& [label, edit] : texts) {
    *edit = new QLineEdit(meta);
    mform->addRow(QString::fromLatin1(label), *edit);
  }
  cbStreamingPublic = new QCheckBox(QStringLiteral("Stream is public (list in directories)"), meta);
  cbStreamingForwardMetadata = new QCheckBox(QStringLiteral("Forward metadata"), meta);
  mform->addRow(cbStreamingPublic);
  mform->addRow(cbStreamingForwardMetadata);
  layout->addWidget(meta);
  layout->addStretch();
  pgcPages->addTab(page, QStringLiteral("Streaming"));
}

void TConfigureSlotForm::BuildSilencePage() {
  auto* page = new QWidget(pgcPages);
  auto* layout = new QVBoxLayout(page);
  auto* settings = new QGroupBox(QStringLiteral("Settings"), page);
  auto* form = new QFormLayout(settings);
  edSilenceThreshold = new TSpinEdit(nullptr, -100, 100);
  form->addRow(QStringLiteral("Silence threshold:"),
               Row(settings, {edSilenceThreshold, new QLabel(QStringLiteral("dBFS"))}));
  edSilenceDetection = new TSpinEdit(nullptr, 0, 3600);
  form->addRow(
      QStringLiteral("Alarm after:"),
      Row(settings, {edSilenceDetection, new QLabel(QStringLiteral("seconds (0 = disable)"))}));
  cbSilenceIfInactive = new QCheckBox(
      QStringLiteral("Perform silence detection even if slot is inactive."), settings);
  form->addRow(cbSilenceIfInactive);
  layout->addWidget(settings);

  auto* email = new QGroupBox(QStringLiteral("E-Mail Notification"), page);
  auto* eform = new QVBoxLayout(email);
  cbEmailSilenceDetected = new QCheckBox(QStringLiteral("Send e-mail when silence is detected"));
  cbEmailSilenceOK = new QCheckBox(QStringLiteral("Send e-mail when silence is OK again"));
  eform->addWidget(cbEmailSilenceDetected);
  eform->addWidget(cbEmailSilenceOK);
  layout->addWidget(email);

  auto* http = new QGroupBox(QStringLiteral("HTTP Notification"), page);
  auto* hform = new QFormLayout(http);
  hform->addRow(
      Note("Velloran will perform an HTTP GET call to the specified URL in the event "
           "of an alarm.",
           http));
  edHTTPSilenceDetected = new QLineEdit(http);
  edHTTPSilenceOK = new QLineEdit(http);
  hform->addRow(QStringLiteral("Silence detected:"), edHTTPSilenceDetected);
  hform->addRow(QStringLiteral("Silence OK:"), edHTTPSilenceOK);
  layout->addWidget(http);
  layout->addStretch();
  pgcPages->addTab(page, QStringLiteral("Silence Detection"));
}

void TConfigureSlotForm::FillControls() {
  const slots::TSlotSettings s = fSlotInfo.Settings();
  // 1. The catalogue's devices by name, list position i standing for entry i.
  if (catalogue_ != nullptr) {
    for (int i = 0; i < catalogue_->Count(); ++i) {
      cbDevice->addItem(Q(catalogue_->Entry(i)->Name()));
    }
  }
  // 2. Caption; an alarm-only slot records nothing, so its format stays "No recording".
  const int number = fSlotInfo.Index() + 1;
  setWindowTitle(fSlotInfo.AlarmOnly()
                     ? QStringLiteral("Configure Slot %1 (Alarm only)").arg(number)
                     : QStringLiteral("Configure Slot %1").arg(number));
  cbAudioFormat->setEnabled(!fSlotInfo.AlarmOnly());

  // 3. The values.
  edName->setText(Q(fSlotInfo.Name()));
  const int device = catalogue_ != nullptr ? catalogue_->IndexOf(s.fDevice) : -1;
  cbDevice->setCurrentIndex(device);
  DeviceChange();
  // The source wins over the device-change step's "Sound card:".
  (s.fRecordSource == slots::rsStream      ? rbStream
   : s.fRecordSource == slots::rsSoundcard ? rbSoundcard
                                           : rbDisabled)
      ->setChecked(true);
  edStreamURL->setText(Q(fSlotInfo.StreamURL()));
  edNominalLevel->setValue(s.fNominalLevel);
  edRecordDelay->setValue(s.fRecordDelay);
  cbRecord16Bit->setChecked(s.fRecord16Bit);
  cbRecordChannels->setCurrentIndex(static_cast<int>(fSlotInfo.RecordChannels()));
  edWinampPlugin->setText(Q(s.fWinampPlugin));
  cbWinampStreamOnly->setChecked(s.fWinampPluginStreamOnly);

  edFolder->setText(Q(s.fFolder));
  edFilenamePrefix->setText(Q(s.fFilenamePrefix));
  edCustomFilename->setText(Q(s.fCustomFilename));
  cbFlatFilenames->setChecked(s.fFlatFilenames);
  cbCueSheet->setChecked(s.fCueSheet);
  cbNoAutoRotate->setChecked(s.fNoAutoRotate);
  edTimeSlotLength->setText(QString::number(s.fTimeSlotLength));
  cbTimeSlotAlign->setChecked(s.fTimeSlotAlign);
  edTimeSlotOffset->setText(QString::number(s.fTimeSlotOffset));
  cbAudioFormat->setCurrentIndex(static_cast<int>(s.fAudioFormat));
  edFileExtension->setText(Q(s.fFileExtension));
  cbMode->setCurrentIndex(static_cast<int>(s.fMode));
  cbBitrate->setEditText(QString::number(s.fBitrate));
  cbSampleRate->setEditText(QString::number(s.fSampleRate));
  edEncoderFilename->setText(Q(s.fEncoderFilename));
  edEncoderOptions->setText(Q(s.fEncoderOptions));

  cbCleanupDays->setChecked(s.fCleanupDaysEnabled);
  edCleanupDays->setValue(s.fCleanupDays);
  cbCleanupSpace->setChecked(s.fCleanupSpaceEnabled);
  edCleanupSpace->setValue(s.fCleanupSpace);

  cbStreamingEnabled->setChecked(s.fStreamingEnabled);
  cbStreamingOnly->setChecked(s.fStreamingOnly);
  edStreamingHost->setText(Q(s.fStreamingHost));
  edStreamingPort->setText(QString::number(s.fStreamingPort));
  cbStreamingServerMode->setChecked(s.fStreamingServerMode);
  edStreamingMountPoint->setText(Q(s.fStreamingMountPoint));
  edStreamingStreamID->setText(Q(s.fStreamingStreamID));
  edStreamingPassword->setText(Q(s.fStreamingPassword));
  edStreamingMimeType->setText(Q(s.fStreamingMimeType));
  edStreamingTitle->setText(Q(s.fStreamingTitle));
  edStreamingURL->setText(Q(s.fStreamingURL));
  edStreamingGenre->setText(Q(s.fStreamingGenre));
  edStreamingAIM->setText(Q(s.fStreamingAIM));
  edStreamingIRC->setText(Q(s.fStreamingIRC));
  edStreamingICQ->setText(Q(s.fStreamingICQ));
  edStreamingDescription->setText(Q(s.fStreamingDescription));
  cbStreamingPublic->setChecked(s.fStreamingPublic);
  cbStreamingForwardMetadata->setChecked(s.fStreamingForwardMetadata);

  edSilenceThreshold->setValue(fSlotInfo.SilenceThreshold());
  edSilenceDetection->setValue(s.fSilenceDection);
  cbSilenceIfInactive->setChecked(s.fSilenceDetectionIfInactive);
  cbEmailSilenceDetected->setChecked(s.fSendEmailSilenceDetected);
  cbEmailSilenceOK->setChecked(s.fSendEmailSilenceOK);
  edHTTPSilenceDetected->setText(Q(s.fHTTPAlarmSilenceDetected));
  edHTTPSilenceOK->setText(Q(s.fHTTPAlarmSilenceOK));

  // 4. The plug-in's own settings exist only while one is loaded.
  btnWinampConfigure->setEnabled(fSlotInfo.WinampPluginHandle() != 0);
  // 5., 6.
  FormatChange();
  cbAudioFormat->view()->setMinimumWidth(200);
}

void TConfigureSlotForm::DeviceChange() {
  rbSoundcard->setChecked(true);
  const int index = cbDevice->currentIndex();
  btnDeviceConfigure->setEnabled(catalogue_ != nullptr &&
                                 HasDeviceControlPanel(*catalogue_, index));
}

void TConfigureSlotForm::FormatChange() {
  const int format = cbAudioFormat->currentIndex();
  switch (format) {
    case slots::sfMP3:
    case slots::sfOggVorbis: {
      const QString text = cbBitrate->currentText();
      cbBitrate->clear();
      for (int rate : {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}) {
        cbBitrate->addItem(QString::number(rate));
      }
      cbBitrate->setEditText(text);
      break;
    }
    case slots::sfWAV16:
    case slots::sfWAV32:
    case slots::sfCustomWAV:
    case slots::sfCustomRaw:
      cbBitrate->clear();
      cbBitrate->setEditText(QString());
      break;
    default:  // MP2 and "No recording" keep the list as it is
      break;
  }
  edFileExtension->setVisible(IsCustomFormat(format));
  UpdateCleanupEstimate();
}

void TConfigureSlotForm::UpdateCleanupEstimate() {
  lblCleanupDays->setText(CleanupDaysLabel(cbBitrate->currentText(), cbAudioFormat->currentIndex(),
                                           edCleanupDays->text()));
}

bool TConfigureSlotForm::Confirm() {
  if (edFolder->text().isEmpty()) {
    showMessage(QStringLiteral("Output folder must not be empty."));
    pgcPages->setCurrentIndex(2);
    return false;
  }
  slots::TSlotSettings s = fSlotInfo.Settings();
  const slots::TRecordSource source = rbDisabled->isChecked()    ? slots::rsDisabled
                                      : rbSoundcard->isChecked() ? slots::rsSoundcard
                                                                 : slots::rsStream;
  const int deviceIndex = cbDevice->currentIndex();
  const std::string device =
      catalogue_ != nullptr && deviceIndex >= 0 && deviceIndex < catalogue_->Count()
          ? catalogue_->Identifier(deviceIndex)
          : std::string();
  const std::string url = S(edStreamURL->text());
  fInputOptionsChanged =
      source != s.fRecordSource || device != s.fDevice || url != fSlotInfo.StreamURL();

  const std::string folder = S(edFolder->text());
  const int format = cbAudioFormat->currentIndex();
  int bitrate = 0;
  if (!ParseInt(cbBitrate->currentText(), bitrate)) {
    bitrate = 0;  // an empty or invalid bit rate is 0, not the old value
  }
  fOutputOptionsChanged = folder != s.fFolder || cbFlatFilenames->isChecked() != s.fFlatFilenames ||
                          format != static_cast<int>(s.fAudioFormat) || bitrate != s.fBitrate ||
                          cbMode->currentIndex() != static_cast<int>(s.fMode) ||
                          S(edEncoderOptions->text()) != s.fEncoderOptions ||
                          S(edEncoderFilename->text()) != s.fEncoderFilename;

  s.fName = S(edName->text());
  s.fRecordSource = source;
  s.fDevice = device;
  s.fStreamURL = url;
  s.fNominalLevel = static_cast<int16_t>(edNominalLevel->value());
  s.fRecordDelay = edRecordDelay->value();
  s.fRecord16Bit = cbRecord16Bit->isChecked();
  s.fWinampPlugin = S(edWinampPlugin->text());
  s.fWinampPluginStreamOnly = cbWinampStreamOnly->isChecked();
  if (folder != s.fFolder) {
    // The text as typed is what the file keeps; the slot works with the resolved folder.
    s.fFolderText = folder;
    s.fFolder = slots::ResolveSlotFolder(rootFolder_, folder);
  }
  s.fFilenamePrefix = S(edFilenamePrefix->text());
  s.fCustomFilename = S(edCustomFilename->text());
  s.fFlatFilenames = cbFlatFilenames->isChecked();
  s.fCueSheet = cbCueSheet->isChecked();
  s.fNoAutoRotate = cbNoAutoRotate->isChecked();
  s.fTimeSlotLength = IntOr(edTimeSlotLength->text(), s.fTimeSlotLength);
  s.fTimeSlotAlign = cbTimeSlotAlign->isChecked();
  s.fTimeSlotOffset = IntOr(edTimeSlotOffset->text(), s.fTimeSlotOffset);
  s.fAudioFormat = static_cast<slots::TBassStreamingFormat>(format);
  s.fFileExtension = S(edFileExtension->text());
  s.fMode = static_cast<slots::TBassStreamingMode>(cbMode->currentIndex());
  s.fBitrate = bitrate;
  s.fSampleRate = IntOr(cbSampleRate->currentText(), s.fSampleRate);
  s.fEncoderFilename = S(edEncoderFilename->text());
  s.fEncoderOptions = S(edEncoderOptions->text());
  s.fCleanupDaysEnabled = cbCleanupDays->isChecked();
  s.fCleanupDays = edCleanupDays->value();
  s.fCleanupSpaceEnabled = cbCleanupSpace->isChecked();
  s.fCleanupSpace = edCleanupSpace->value();
  s.fStreamingEnabled = cbStreamingEnabled->isChecked();
  s.fStreamingOnly = cbStreamingOnly->isChecked();
  s.fStreamingHost = S(edStreamingHost->text());
  s.fStreamingPort = IntOr(edStreamingPort->text(), s.fStreamingPort);
  s.fStreamingServerMode = cbStreamingServerMode->isChecked();
  s.fStreamingMountPoint = S(edStreamingMountPoint->text());
  s.fStreamingStreamID = S(edStreamingStreamID->text());
  s.fStreamingPassword = S(edStreamingPassword->text());
  s.fStreamingMimeType = S(edStreamingMimeType->text());
  s.fStreamingTitle = S(edStreamingTitle->text());
  s.fStreamingURL = S(edStreamingURL->text());
  s.fStreamingGenre = S(edStreamingGenre->text());
  s.fStreamingAIM = S(edStreamingAIM->text());
  s.fStreamingIRC = S(edStreamingIRC->text());
  s.fStreamingICQ = S(edStreamingICQ->text());
  s.fStreamingDescription = S(edStreamingDescription->text());
  s.fStreamingPublic = cbStreamingPublic->isChecked();
  s.fStreamingForwardMetadata = cbStreamingForwardMetadata->isChecked();
  s.fSilenceDection = edSilenceDetection->value();
  s.fSilenceDetectionIfInactive = cbSilenceIfInactive->isChecked();
  s.fSendEmailSilenceDetected = cbEmailSilenceDetected->isChecked();
  s.fSendEmailSilenceOK = cbEmailSilenceOK->isChecked();
  s.fHTTPAlarmSilenceDetected = S(edHTTPSilenceDetected->text());
  s.fHTTPAlarmSilenceOK = S(edHTTPSilenceOK->text());

  // All plain values at once under the slot's lock, so that the web service's threads and the
  // slot's own threads see either the old settings or the new ones.
  fSlotInfo.ApplySettings(s);
  fSlotInfo.SetSilenceThreshold(edSilenceThreshold->value());
  fSlotInfo.SetRecordChannels(
      static_cast<slots::TRecordChannels>(cbRecordChannels->currentIndex()));
  return true;
}

void TConfigureSlotForm::SelectFolder() {
  const QString current = edFolder->text();
  const QString start = QFileInfo(current).isDir() ? current : QDir::homePath();
  const QString folder = QFileDialog::getExistingDirectory(
      this, QStringLiteral("Select Output Folder"), start, QFileDialog::ShowDirsOnly);
  if (!folder.isEmpty()) {
    edFolder->setText(QDir::toNativeSeparators(folder));
  }
}

void TConfigureSlotForm::SelectEncoder() {
  // On this platform an encoder is any executable file; the filter shows all files and the
  // choice is checked for the executable bit.
  QFileDialog dialog(this, QStringLiteral("Encoder"), QFileInfo(edEncoderFilename->text()).path());
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilter(QStringLiteral("Executable files (*)"));
  dialog.setFilter(QDir::Files | QDir::Executable | QDir::AllDirs | QDir::NoDotAndDotDot);
  if (!edEncoderFilename->text().isEmpty()) {
    dialog.selectFile(edEncoderFilename->text());
  }
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    edEncoderFilename->setText(dialog.selectedFiles().first());
  }
}

void TConfigureSlotForm::SelectWinampPlugin() {
  QFileDialog dialog(this, QStringLiteral("Plug-in"), QFileInfo(edWinampPlugin->text()).path());
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(
      {QStringLiteral("LADSPA plug-ins (*.so)"), QStringLiteral("All files (*)")});
  if (!edWinampPlugin->text().isEmpty()) {
    dialog.selectFile(edWinampPlugin->text());
  }
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    edWinampPlugin->setText(dialog.selectedFiles().first());
  }
}

void TConfigureSlotForm::ConfigureWinampPlugin() {
  if (std::unique_ptr<QDialog> sliders = MakePluginControls()) {
    sliders->exec();
  }
}

std::unique_ptr<QDialog> TConfigureSlotForm::MakePluginControls() {
  const HDSP plugin = fSlotInfo.WinampPluginHandle();
  if (plugin == 0) {
    return nullptr;
  }
  const DWORD count = BASS_WADSP_Config(plugin, nullptr, 0);
  if (count == static_cast<DWORD>(-1) || count == 0) {
    showMessage(QStringLiteral("The plug-in has no settings."));
    return nullptr;
  }
  std::vector<BASS_WADSP_CONTROL> controls(count);
  BASS_WADSP_Config(plugin, controls.data(), count);
  // The plug-in's input controls as sliders; every move reaches the running plug-in at once.
  auto dialog = std::make_unique<QDialog>(this);
  QDialog& sliders = *dialog;
  sliders.setWindowTitle(QStringLiteral("Plug-in settings"));
  auto* form = new QFormLayout(&sliders);
  constexpr int kSteps = 1000;
  for (DWORD i = 0; i < count; ++i) {
    const BASS_WADSP_CONTROL control = controls[i];
    auto* slider = new QSlider(Qt::Horizontal, &sliders);
    const float span = control.max - control.min;
    const bool toggle = (control.flags & BASS_WADSP_CONTROL_TOGGLED) != 0;
    slider->setRange(0, toggle ? 1 : kSteps);
    const float position = span > 0 ? (control.value - control.min) / span : 0;
    slider->setValue(toggle ? (control.value > 0 ? 1 : 0)
                            : static_cast<int>(position * kSteps + 0.5f));
    auto* value = new QLabel(QString::number(control.value), &sliders);
    QObject::connect(slider, &QSlider::valueChanged, &sliders, [=, this](int at) {
      const float v = toggle ? static_cast<float>(at) : control.min + span * at / kSteps;
      fSlotInfo.SetWinampPluginControl(i, v);
      value->setText(QString::number(v));
    });
    auto* row = new QWidget(&sliders);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->addWidget(slider, 1);
    rowLayout->addWidget(value);
    form->addRow(QString::fromUtf8(control.name != nullptr ? control.name : ""), row);
  }
  auto* close = new QDialogButtonBox(QDialogButtonBox::Close, &sliders);
  QObject::connect(close, &QDialogButtonBox::rejected, &sliders, &QDialog::reject);
  form->addRow(close);
  return dialog;
}

}  // namespace velloran::ui
