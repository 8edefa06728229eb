#pragma once
// The control program of an input device, for the slot dialog's "Configure..." button: the
// JACK drivers bring their own (the catalogue entry's RunControlPanel starts qjackctl); PulseAudio
// sources open pavucontrol, ALSA devices alsamixer in a terminal window, each only when it is
// installed. Generators have none.
// Thread contract: main thread only.
#include <QString>
#include <QStringList>
#include <optional>
#include <string>

namespace velloran::audio {
class DeviceCatalogue;
}

namespace velloran::ui {

// The program and its arguments for a device family given by the identifier's prefix ("WDM:"
// is ALSA, "WASAPI:" PulseAudio); nullopt for families whose entry runs its own panel or that
// have none, and when the program is not installed.
std::optional<QStringList> ControlProgramFor(const std::string& identifier);

// Whether catalogue entry index has a control program, and starting it (detached). Raises
// velloran::Error when it cannot be started.
bool HasDeviceControlPanel(const audio::DeviceCatalogue& catalogue, int index);
void RunDeviceControlPanel(const audio::DeviceCatalogue& catalogue, int index);

}  // namespace velloran::ui
