// The slot dialog over real generator slots: what it shows for a slot, the two change flags of
// OK, the values it writes back, and the main window's round trip (dialog, OK, configuration
// file and running slot).
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QDir>
#include <QSlider>
#include <QTest>
#include <fstream>
#include <functional>
#include <sstream>

#include "WindowFixture.h"
#include "audio/bass_wadsp.h"
#include "audio/devices/DeviceCatalogue.h"
#include "ui/DeviceControlPanel.h"
#include "ui/TConfigureSlotForm.h"

namespace velloran::ui::test {
namespace {

using SlotDialogTest = WindowFixture;

// Slot 0 records WAV with a stored bit rate, slot 1 MP3 at 128 kbit/s (never started here),
// slot 2 names a device this machine does not have, slot 3 is alarm-only.
const char* const kSlots =
    "[General]\nSlotCount=3\nAlarmSlotCount=1\n"
    "[Slot0]\nName=Studio A\nSource=Soundcard\nDevice=GEN:tone\nFormat=wav16\nBitrate=128\n"
    "Folder=%ROOT%rec0\n"
    "[Slot1]\nName=Studio B\nSource=Soundcard\nDevice=GEN:tone\nFormat=mp3\nBitrate=128\n"
    "Enabled=off\nFolder=%ROOT%rec1\n"
    "[Slot2]\nName=Gone\nSource=Soundcard\nDevice=WDM:999\nFormat=wav16\nBitrate=0\nEnabled=off\n"
    "Folder=%ROOT%rec2\n"
    "[Slot3]\nName=Alarm\nSource=Soundcard\nDevice=GEN:silence\nFolder=%ROOT%rec3\n";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class DialogCases : public SlotDialogTest {
 protected:
  std::unique_ptr<TConfigureSlotForm> Open(int index) {
    auto dialog = std::make_unique<TConfigureSlotForm>(nullptr, Slot(index), catalogue_, Root());
    dialog->showMessage = [this](const QString& text) { messages_.push_back(text.toStdString()); };
    return dialog;
  }
  std::vector<std::string> messages_;
};

TEST_F(DialogCases, ChangeFlagsOfOK) {
  WriteIni(kSlots);
  Start();
  const int ramp = catalogue_->IndexOf("GEN:ramp");
  ASSERT_GE(ramp, 0);
  struct Case {
    const char* what;
    int slot;
    std::function<void(TConfigureSlotForm&)> edit;
    bool input;
    bool output;
  };
  const Case cases[] = {
      // A WAV slot shows no bit rate, so OK stores 0 and that is an output change.
      {"wav slot untouched", 0, [](TConfigureSlotForm&) {}, false, true},
      {"mp3 slot untouched", 1, [](TConfigureSlotForm&) {}, false, false},
      {"sample rate only", 1,
       [](TConfigureSlotForm& d) { d.cbSampleRate->setEditText(QStringLiteral("48000")); }, false,
       false},
      {"prefix, filename format, length", 1,
       [](TConfigureSlotForm& d) {
         d.edFilenamePrefix->setText(QStringLiteral("x-"));
         d.edCustomFilename->setText(QStringLiteral("%Y"));
         d.edTimeSlotLength->setText(QStringLiteral("15"));
       },
       false, false},
      {"mode", 1, [](TConfigureSlotForm& d) { d.cbMode->setCurrentIndex(0); }, false, true},
      {"flat filenames", 1, [](TConfigureSlotForm& d) { d.cbFlatFilenames->setChecked(true); },
       false, true},
      {"encoder options differ in case only", 1,
       [](TConfigureSlotForm& d) { d.edEncoderOptions->setText(QStringLiteral("X")); }, false,
       true},
      {"bit rate not a number", 1,
       [](TConfigureSlotForm& d) { d.cbBitrate->setEditText(QStringLiteral("fast")); }, false,
       true},
      {"another device", 1,
       [ramp](TConfigureSlotForm& d) {
         d.cbDevice->setCurrentIndex(ramp);
         d.DeviceChange();
       },
       true, false},
      {"source disabled", 1, [](TConfigureSlotForm& d) { d.rbDisabled->setChecked(true); }, true,
       false},
      // The stored device is not in the catalogue: none is selected and OK stores "".
      {"unknown device", 2, [](TConfigureSlotForm&) {}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto dialog = Open(c.slot);
    c.edit(*dialog);
    ASSERT_TRUE(dialog->Confirm());
    EXPECT_EQ(dialog->fInputOptionsChanged, c.input);
    EXPECT_EQ(dialog->fOutputOptionsChanged, c.output);
  }
  EXPECT_EQ(Slot(0).Settings().fBitrate, 0);
  EXPECT_EQ(Slot(1).Settings().fSampleRate, 48000);
  EXPECT_EQ(Slot(1).Settings().fFilenamePrefix, "x-");
  EXPECT_EQ(Slot(1).Settings().fTimeSlotLength, 15);
  EXPECT_EQ(Slot(1).Settings().fEncoderOptions, "X");
  EXPECT_EQ(Slot(1).Settings().fBitrate, 0);
  EXPECT_EQ(Slot(1).Settings().fRecordSource, slots::rsDisabled);
  EXPECT_EQ(Slot(2).Settings().fDevice, "");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(DialogCases, WhatTheDialogShows) {
  WriteIni(kSlots);
  Start();
  auto wav = Open(0);
  EXPECT_EQ(wav->windowTitle().toStdString(), "Configure Slot 1");
  EXPECT_EQ(wav->size(), QSize(469, 576));
  EXPECT_EQ(wav->pgcPages->count(), 6);
  EXPECT_EQ(wav->edName->text().toStdString(), "Studio A");
  EXPECT_TRUE(wav->rbSoundcard->isChecked());
  EXPECT_EQ(wav->cbDevice->currentIndex(), catalogue_->IndexOf("GEN:tone"));
  EXPECT_EQ(wav->cbBitrate->currentText().toStdString(), "");
  EXPECT_EQ(wav->cbBitrate->count(), 0);
  EXPECT_TRUE(wav->cbAudioFormat->isEnabled());
  EXPECT_FALSE(wav->btnWinampConfigure->isEnabled());  // no plug-in loaded
  EXPECT_EQ(wav->lblCleanupDays->text().toStdString(), "days");

  auto mp3 = Open(1);
  EXPECT_EQ(mp3->cbBitrate->currentText().toStdString(), "128");
  EXPECT_EQ(mp3->cbBitrate->count(), 14);
  EXPECT_EQ(mp3->lblCleanupDays->text().toStdString(), "days (~481 GB)");  // 365 days
  // Choosing a WAV format empties the bit rate; the custom formats show the extension.
  mp3->cbAudioFormat->setCurrentIndex(slots::sfWAV16);
  mp3->FormatChange();
  EXPECT_EQ(mp3->cbBitrate->currentText().toStdString(), "");
  EXPECT_TRUE(mp3->edFileExtension->isHidden());
  mp3->cbAudioFormat->setCurrentIndex(slots::sfCustomRaw);
  mp3->FormatChange();
  EXPECT_FALSE(mp3->edFileExtension->isHidden());

  // Selecting a device while the stream is chosen switches to the sound card; typing a URL
  // switches back.
  mp3->rbStream->setChecked(true);
  mp3->cbDevice->setCurrentIndex(catalogue_->IndexOf("GEN:ramp"));
  mp3->DeviceChange();
  EXPECT_TRUE(mp3->rbSoundcard->isChecked());
  QTest::keyClicks(mp3->edStreamURL, QStringLiteral("http://x/"));
  EXPECT_TRUE(mp3->rbStream->isChecked());

  auto gone = Open(2);
  EXPECT_EQ(gone->cbDevice->currentIndex(), -1);
  EXPECT_TRUE(gone->rbSoundcard->isChecked());
  EXPECT_FALSE(gone->btnDeviceConfigure->isEnabled());

  auto alarm = Open(3);
  EXPECT_EQ(alarm->windowTitle().toStdString(), "Configure Slot 4 (Alarm only)");
  EXPECT_EQ(alarm->cbAudioFormat->currentText().toStdString(), "No recording");
  EXPECT_FALSE(alarm->cbAudioFormat->isEnabled());
}

TEST_F(DialogCases, SpinFieldsKeepOrClampTypedText) {
  WriteIni(kSlots);
  Start();
  auto dialog = Open(1);
  TSpinEdit* delay = dialog->edRecordDelay;
  struct Typed {
    const char* text;
    int value;
  };
  const Typed typed[] = {{"120", 120}, {"abc", 120}, {"5000", 3600}, {"-7", 0}, {"", 0}};
  for (const Typed& t : typed) {
    delay->Editor()->selectAll();
    QTest::keyClick(delay->Editor(), Qt::Key_Delete);
    QTest::keyClicks(delay->Editor(), QString::fromLatin1(t.text));
    EXPECT_EQ(delay->value(), t.value) << t.text;
  }
  EXPECT_EQ(delay->singleStep(), 60);
  dialog->edSilenceThreshold->Editor()->setText(QStringLiteral("-150"));
  EXPECT_EQ(dialog->edSilenceThreshold->value(), -100);
  ASSERT_TRUE(dialog->Confirm());
  EXPECT_EQ(Slot(1).Settings().fRecordDelay, 0);
  EXPECT_EQ(Slot(1).SilenceThreshold(), -100);
  EXPECT_EQ(Slot(1).Settings().fSilenceThreshold, -100);
}

TEST(CleanupEstimateTest, Labels) {
  struct Case {
    const char* rate;
    int format;
    const char* days;
    const char* label;
  };
  const Case cases[] = {
      {"128", slots::sfMP3, "30", "days (~39 GB)"},
      {"320", slots::sfMP3, "30", "days (~98 GB)"},
      {"224", slots::sfOggVorbis, "30", "days (~69 GB)"},
      {"320", slots::sfMP3, "32767", "days (~107996 GB)"},  // no 32-bit overflow
      {"320", slots::sfCustomWAV, "30", "days"},
      {"320", slots::sfCustomRaw, "30", "days"},
      {"", slots::sfMP3, "30", "days"},
      {"abc", slots::sfMP2, "30", "days"},
      {"128", slots::sfMP3, "", "days (~0 GB)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CleanupDaysLabel(QString::fromLatin1(c.rate), c.format, QString::fromLatin1(c.days))
                  .toStdString(),
              c.label)
        << c.rate << " " << c.days;
  }
}

TEST_F(DialogCases, EmptyFolderIsRefusedAndCancelChangesNothing) {
  WriteIni(kSlots);
  Start();
  const std::string folder = Slot(1).Settings().fFolder;
  auto dialog = Open(1);
  dialog->edName->setText(QStringLiteral("Changed"));
  dialog->edFolder->clear();
  QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Output folder must not be empty.");
  EXPECT_EQ(dialog->pgcPages->currentIndex(), 2);
  EXPECT_EQ(Slot(1).Settings().fFolder, folder);
  EXPECT_EQ(Slot(1).Name(), "Studio B");

  QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_EQ(Slot(1).Name(), "Studio B");
}

// The operator edits a recording slot from the main window: the new name, folder and device
// reach the configuration file and the running slot, which records into the new folder.
TEST_F(SlotDialogTest, RoundTripThroughTheMainWindow) {
  WriteIni(
      "[General]\nSlotCount=1\n"
      "[Slot0]\nName=Studio A\nSource=Soundcard\nDevice=GEN:tone\nFormat=wav16\n"
      "Folder=%ROOT%rec0\n");
  Start();
  app_->timTimerTimer();
  ASSERT_NE(Slot(0).Encoder(), 0u) << Slot(0).ErrorMessage();
  ASSERT_EQ(Slot(0).CurrentFilename().rfind(Root() + "rec0/", 0), 0u) << Slot(0).CurrentFilename();
  ASSERT_TRUE(window_->Grid().FocusTile(0, 0));

  bool shown = false;
  window_->runSlotDialog = [&](TConfigureSlotForm& dialog) {
    shown = true;
    EXPECT_EQ(dialog.edName->text().toStdString(), "Studio A");
    dialog.edName->selectAll();
    QTest::keyClicks(dialog.edName, QStringLiteral("Morning Show"));
    dialog.edFolder->setText(QString::fromStdString(Root() + "rec-new"));
    dialog.cbDevice->setCurrentIndex(catalogue_->IndexOf("GEN:ramp"));
    dialog.DeviceChange();
    dialog.edSilenceThreshold->setValue(-42);
    dialog.cbRecordChannels->setCurrentIndex(slots::rcLeft);
    QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
    return dialog.result();
  };
  QTest::mouseClick(&window_->Grid().SettingsButton(), Qt::LeftButton);
  ASSERT_TRUE(shown);

  EXPECT_EQ(Slot(0).Name(), "Morning Show");
  EXPECT_EQ(Slot(0).CurrentDeviceID(), "GEN:ramp");
  EXPECT_EQ(Slot(0).SilenceThreshold(), -42);
  EXPECT_EQ(Slot(0).RecordChannels(), slots::rcLeft);
  ASSERT_NE(Slot(0).Encoder(), 0u) << Slot(0).ErrorMessage();
  EXPECT_EQ(Slot(0).CurrentFilename().rfind(Root() + "rec-new/", 0), 0u)
      << Slot(0).CurrentFilename();
  const std::string ini = ReadFile(Root() + "Velloran.ini");
  EXPECT_NE(ini.find("Name=Morning Show"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Folder=" + Root() + "rec-new"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Device=GEN:ramp"), std::string::npos) << ini;
  EXPECT_NE(ini.find("SilenceThreshold=-42"), std::string::npos) << ini;

  // Cancel leaves slot and file as they are.
  window_->runSlotDialog = [](TConfigureSlotForm& dialog) {
    dialog.edName->setText(QStringLiteral("Not this"));
    QTest::mouseClick(dialog.btnCancel, Qt::LeftButton);
    return dialog.result();
  };
  window_->btnSettingsClick();
  EXPECT_EQ(Slot(0).Name(), "Morning Show");
}

// Pictures of the six pages, kept under the build tree for a person to look at.
TEST_F(DialogCases, Screenshots) {
  WriteIni(kSlots);
  Start();
  auto dialog = Open(1);
  const QString folder = QStringLiteral(VELLORAN_ARTIFACT_DIR);
  ASSERT_TRUE(QDir().mkpath(folder));
  dialog->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
  const char* names[] = {"general", "input", "output", "cleanup", "streaming", "silence"};
  for (int i = 0; i < 6; ++i) {
    dialog->pgcPages->setCurrentIndex(i);
    QTest::qWait(30);
    ASSERT_TRUE(dialog->grab().save(folder + QStringLiteral("/slot-dialog-%1.png").arg(names[i])));
  }
  dialog->reject();
}

}  // namespace
}  // namespace velloran::ui::test

namespace velloran::ui::test {
namespace {

// The device "Configure..." button finds its program on the PATH: a folder of stand-in
// programs shows which family gets which command, and that a missing program disables it.
TEST(DeviceControlPanelTest, ProgramPerFamily) {
  velloran::test::TempDir bin;
  const std::string oldPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  auto install = [&bin](const char* name) {
    const std::string file = bin.File(name);
    std::ofstream(file) << "#!/bin/sh\n";
    std::filesystem::permissions(file, std::filesystem::perms::owner_all);
  };
  setenv("PATH", bin.Path().c_str(), 1);
  EXPECT_FALSE(ControlProgramFor("WASAPI:alsa_input.pci").has_value());
  EXPECT_FALSE(ControlProgramFor("WDM:0").has_value());
  install("pavucontrol");
  install("alsamixer");
  EXPECT_FALSE(ControlProgramFor("WDM:0").has_value());  // no terminal to run it in
  install("xterm");
  const auto pulse = ControlProgramFor("WASAPI:alsa_input.pci");
  const auto alsa = ControlProgramFor("WDM:0");
  const auto generator = ControlProgramFor("GEN:tone");
  setenv("PATH", oldPath.c_str(), 1);
  ASSERT_TRUE(pulse.has_value());
  EXPECT_EQ(pulse->join(QLatin1Char(' ')).toStdString(), bin.File("pavucontrol"));
  ASSERT_TRUE(alsa.has_value());
  EXPECT_EQ(alsa->join(QLatin1Char(' ')).toStdString(),
            bin.File("xterm") + " -e " + bin.File("alsamixer"));
  EXPECT_FALSE(generator.has_value());
}

}  // namespace
}  // namespace velloran::ui::test

namespace velloran::ui::test {
namespace {

// A slot with a real LADSPA plug-in loaded: "Configure..." is offered, and its window has a
// slider per control port whose moves reach the running plug-in and the slot's settings.
TEST_F(SlotDialogTest, PluginControlsAsSliders) {
  WriteIni(std::string("[General]\nSlotCount=1\n"
                       "[Slot0]\nName=Studio A\nSource=Soundcard\nDevice=GEN:tone\n"
                       "Format=wav16\nEnabled=off\nFolder=%ROOT%rec0\nWinampPlugin=") +
           VELLORAN_LADSPA_FIXTURES + "/invalid.so\n");
  Start();
  ASSERT_NE(Slot(0).WinampPluginHandle(), 0u) << Slot(0).ErrorMessage();
  TConfigureSlotForm dialog(nullptr, Slot(0), catalogue_, Root());
  EXPECT_TRUE(dialog.btnWinampConfigure->isEnabled());
  std::unique_ptr<QDialog> controls = dialog.MakePluginControls();
  ASSERT_NE(controls, nullptr);
  const QList<QSlider*> sliders = controls->findChildren<QSlider*>();
  ASSERT_EQ(sliders.size(), 1);  // "Poison", 0 .. 2
  sliders[0]->setValue(sliders[0]->maximum() / 2);
  BASS_WADSP_CONTROL control{};
  ASSERT_EQ(BASS_WADSP_Config(Slot(0).WinampPluginHandle(), &control, 1), 1u);
  EXPECT_STREQ(control.name, "Poison");
  EXPECT_EQ(control.value, 1.0f);
  EXPECT_NE(Slot(0).Settings().fWinampPluginControls.find("Poison=1"), std::string::npos)
      << Slot(0).Settings().fWinampPluginControls;
}

}  // namespace
}  // namespace velloran::ui::test
