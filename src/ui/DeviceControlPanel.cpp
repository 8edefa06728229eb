#include "ui/DeviceControlPanel.h"

#include <QProcess>
#include <QStandardPaths>

#include "audio/devices/DeviceCatalogue.h"
#include "core/Error.h"

namespace velloran::ui {

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

bool ValidIndex(const audio::DeviceCatalogue& catalogue, int index) {
  return index >= 0 && index < catalogue.Count();
}

}  // namespace

std::optional<QStringList> ControlProgramFor(const std::string& identifier) {
  if (StartsWith(identifier, "WASAPI:")) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("pavucontrol"));
    if (!program.isEmpty()) {
      return QStringList{program};
    }
  } else if (StartsWith(identifier, "WDM:")) {
    // alsamixer runs in a terminal: the desktop's chosen terminal, else xterm.
    const QString mixer = QStandardPaths::findExecutable(QStringLiteral("alsamixer"));
    for (const char* terminal : {"x-terminal-emulator", "xterm"}) {
      const QString program = QStandardPaths::findExecutable(QString::fromLatin1(terminal));
      if (!mixer.isEmpty() && !program.isEmpty()) {
        return QStringList{program, QStringLiteral("-e"), mixer};
      }
    }
  }
  return std::nullopt;
}

bool HasDeviceControlPanel(const audio::DeviceCatalogue& catalogue, int index) {
  if (!ValidIndex(catalogue, index)) {
    return false;
  }
  return ControlProgramFor(catalogue.Identifier(index)).has_value() ||
         catalogue.Entry(index)->HasControlPanel();
}

void RunDeviceControlPanel(const audio::DeviceCatalogue& catalogue, int index) {
  if (!ValidIndex(catalogue, index)) {
    return;
  }
  if (const std::optional<QStringList> command = ControlProgramFor(catalogue.Identifier(index))) {
    if (!QProcess::startDetached(command->first(), command->mid(1))) {
      throw Error("Unable to start " + command->first().toStdString());
    }
    return;
  }
  catalogue.Entry(index)->RunControlPanel();
}

}  // namespace velloran::ui
