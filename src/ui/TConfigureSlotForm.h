#pragma once
// TConfigureSlotForm: the modal dialog in which the operator edits one slot (name, input,
// output file and format, clean-up, outgoing stream, silence alarms), six pages "General",
// "Input", "Output", "Cleanup", "Streaming", "Silence Detection" with "OK" and "Cancel" below.
// It copies the slot's settings into its controls when it is built; OK refuses an empty
// output folder, otherwise works out the two change flags, writes every value back into the
// slot (plain values through TSlotInfo::ApplySettings under the slot's lock fCS, the silence
// threshold and the record channels through their setters) and closes. Cancel changes nothing.
// The caller (the main window) then stores the slot's section and restarts what the flags ask.
// Nothing reaches the slot before OK except the plug-in's "Reload" and "Configure..." buttons,
// which act on the running slot at once.
// Thread contract: main thread only (a widget). The slot and the catalogue outlive the dialog.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "slots/TSlotSettings.h"

namespace velloran::audio {
class DeviceCatalogue;
}
namespace velloran::slots {
class TSlotInfo;
}

namespace velloran::ui {

// A spin control whose text may hold anything while it is typed: every change sets the value
// to the integer in the text, clamped to the range, or keeps the previous value when the text
// is not an integer.
class TSpinEdit : public QSpinBox {
 public:
  TSpinEdit(QWidget* parent, int minimum, int maximum, int step = 1);
  // The text field (for typing into it).
  QLineEdit* Editor() const { return lineEdit(); }

 protected:
  QValidator::State validate(QString& text, int& pos) const override;
  int valueFromText(const QString& text) const override;
};

// The bytes a constant bit rate fills in the given number of days, in whole GiB (truncated).
int64_t CleanupEstimateGB(int64_t kbitPerSecond, int64_t days);
// The text of the days label: "days", or "days (~%d GB)" for a rate that is known and not one
// of the custom formats.
QString CleanupDaysLabel(const QString& bitrateText, int formatIndex, const QString& daysText);

class TConfigureSlotForm : public QDialog {
 public:
  static constexpr int kClientWidth = 469;
  static constexpr int kClientHeight = 576;

  // rootFolder resolves a relative output folder (the folder of the configuration file).
  TConfigureSlotForm(QWidget* owner, slots::TSlotInfo& slot,
                     const audio::DeviceCatalogue* catalogue, std::string rootFolder);

  bool fInputOptionsChanged = false;
  bool fOutputOptionsChanged = false;

  // The OK button's work: false (and the "Output" page shown) when the dialog must stay open.
  bool Confirm();

  // Steps run by the controls (public for the window's tests).
  void DeviceChange();
  void FormatChange();
  void UpdateCleanupEstimate();
  // The plug-in's "Configure..." window: a slider per input control of the slot's loaded
  // plug-in, applied to the running plug-in as it moves; nullptr when there is none.
  std::unique_ptr<QDialog> MakePluginControls();

  // How messages are shown (a message box; tests replace it).
  std::function<void(const QString&)> showMessage;
  // How the device's control program is started (TDeviceInfo::RunControlPanel; tests replace
  // it).
  std::function<void(int catalogueIndex)> runControlPanel;

  // ---- controls ----
  QTabWidget* pgcPages = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
  // General
  QLineEdit* edName = nullptr;
  // Input
  QRadioButton* rbDisabled = nullptr;
  QRadioButton* rbSoundcard = nullptr;
  QRadioButton* rbStream = nullptr;
  QComboBox* cbDevice = nullptr;
  QPushButton* btnDeviceConfigure = nullptr;
  QLineEdit* edStreamURL = nullptr;
  TSpinEdit* edNominalLevel = nullptr;
  TSpinEdit* edRecordDelay = nullptr;
  QCheckBox* cbRecord16Bit = nullptr;
  QComboBox* cbRecordChannels = nullptr;
  QLineEdit* edWinampPlugin = nullptr;
  QPushButton* btnWinampSelect = nullptr;
  QPushButton* btnWinampReload = nullptr;
  QPushButton* btnWinampConfigure = nullptr;
  QCheckBox* cbWinampStreamOnly = nullptr;
  // Output
  QLineEdit* edFolder = nullptr;
  QPushButton* btnFolder = nullptr;
  QLineEdit* edFilenamePrefix = nullptr;
  QLineEdit* edCustomFilename = nullptr;
  QCheckBox* cbFlatFilenames = nullptr;
  QCheckBox* cbCueSheet = nullptr;
  QCheckBox* cbNoAutoRotate = nullptr;
  QLineEdit* edTimeSlotLength = nullptr;
  QCheckBox* cbTimeSlotAlign = nullptr;
  QLineEdit* edTimeSlotOffset = nullptr;
  QComboBox* cbAudioFormat = nullptr;
  QLineEdit* edFileExtension = nullptr;
  QComboBox* cbMode = nullptr;
  QComboBox* cbBitrate = nullptr;
  QComboBox* cbSampleRate = nullptr;
  QLineEdit* edEncoderFilename = nullptr;
  QPushButton* btnEncoderFilename = nullptr;
  QLineEdit* edEncoderOptions = nullptr;
  // Cleanup
  QCheckBox* cbCleanupDays = nullptr;
  TSpinEdit* edCleanupDays = nullptr;
  QLabel* lblCleanupDays = nullptr;
  QCheckBox* cbCleanupSpace = nullptr;
  TSpinEdit* edCleanupSpace = nullptr;
  // Streaming
  QCheckBox* cbStreamingEnabled = nullptr;
  QCheckBox* cbStreamingOnly = nullptr;
  QLineEdit* edStreamingHost = nullptr;
  QLineEdit* edStreamingPort = nullptr;
  QCheckBox* cbStreamingServerMode = nullptr;
  QLineEdit* edStreamingMountPoint = nullptr;
  QLineEdit* edStreamingStreamID = nullptr;
  QLineEdit* edStreamingPassword = nullptr;
  QPushButton* btnShowPassword = nullptr;
  QLineEdit* edStreamingMimeType = nullptr;
  QLineEdit* edStreamingTitle = nullptr;
  QLineEdit* edStreamingURL = nullptr;
  QLineEdit* edStreamingGenre = nullptr;
  QLineEdit* edStreamingAIM = nullptr;
  QLineEdit* edStreamingIRC = nullptr;
  QLineEdit* edStreamingICQ = nullptr;
  QLineEdit* edStreamingDescription = nullptr;
  QCheckBox* cbStreamingPublic = nullptr;
  QCheckBox* cbStreamingForwardMetadata = nullptr;
  // Silence Detection
  TSpinEdit* edSilenceThreshold = nullptr;
  TSpinEdit* edSilenceDetection = nullptr;
  QCheckBox* cbSilenceIfInactive = nullptr;
  QCheckBox* cbEmailSilenceDetected = nullptr;
  QCheckBox* cbEmailSilenceOK = nullptr;
  QLineEdit* edHTTPSilenceDetected = nullptr;
  QLineEdit* edHTTPSilenceOK = nullptr;

 private:
  void BuildGeneralPage();
  void BuildInputPage();
  void BuildOutputPage();
  void BuildCleanupPage();
  void BuildStreamingPage();
  void BuildSilencePage();
  void FillControls();
  void SelectFolder();
  void SelectEncoder();
  void SelectWinampPlugin();
  void ConfigureWinampPlugin();

  slots::TSlotInfo& fSlotInfo;
  const audio::DeviceCatalogue* catalogue_;
  std::string rootFolder_;
};

}  // namespace velloran::ui
