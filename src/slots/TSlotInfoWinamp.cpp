// The slot's DSP plug-in: loading it into the mixer's chain, its chosen control values, and the
// report of output it had to silence.
#include <atomic>
#include <vector>

#include "audio/bass_wadsp.h"
#include "audio/wadsp/Wadsp.h"
#include "slots/TSlotInfo.h"
#include "slots/WinampPluginControls.h"

namespace velloran::slots {

namespace {

// Before both encoders (recording -1000, stream -2000), or between them for the stream only;
// always after the level meter (0), which therefore sees the unprocessed signal.
constexpr int kWinampPriority = -500;
constexpr int kWinampStreamOnlyPriority = -1500;

// The add-on is initialised once, on first use, and never freed. Main thread only.
std::atomic<bool> gWinampInitialised{false};

std::vector<BASS_WADSP_CONTROL> PluginControls(HDSP plugin) {
  const DWORD count = BASS_WADSP_Config(plugin, nullptr, 0);
  if (count == static_cast<DWORD>(-1)) {
    return {};
  }
  std::vector<BASS_WADSP_CONTROL> controls(count);
  BASS_WADSP_Config(plugin, controls.data(), count);
  return controls;
}

}  // namespace

void TSlotInfo::ReportWinampCall(bool ok, const char* call) {
  if (!ok) {
    DoLogMessage(std::string(call) + ": BASS Error " + std::to_string(BASS_ErrorGetCode()));
  }
}

void TSlotInfo::ReloadWinampPlugin() {
  FreeWinampPlugin();
  std::string path;
  bool streamOnly = false;
  {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    path = fSettings.fWinampPlugin;
    streamOnly = fSettings.fWinampPluginStreamOnly;
  }
  if (path.empty()) {
    return;
  }
  if (!gWinampInitialised.load()) {
    BASS_WADSP_Init(nullptr);
    gWinampInitialised.store(true);
  }
  fWinampPluginHandle = BASS_WADSP_Load(path.c_str(), 5, 5, 100, 100, nullptr);
  ReportWinampCall(fWinampPluginHandle != 0, "BASS_WADSP_Load");
  if (fWinampPluginHandle == 0) {
    return;
  }
  ReportWinampCall(BASS_WADSP_Start(fWinampPluginHandle, 0, fMixer) != FALSE, "BASS_WADSP_Start");
  ApplyWinampPluginControls();
  // Set even after a failed start (the audio then passes unprocessed), so that a later start
  // needs no new place on the chain.
  fWinampPluginDSP = BASS_WADSP_ChannelSetDSP(
      fWinampPluginHandle, fMixer, streamOnly ? kWinampStreamOnlyPriority : kWinampPriority);
  ReportWinampCall(fWinampPluginDSP != 0, "BASS_WADSP_ChannelSetDSP");
}

void TSlotInfo::FreeWinampPlugin() {
  if (fWinampPluginDSP != 0) {
    BASS_WADSP_ChannelRemoveDSP(fWinampPluginHandle);
    fWinampPluginDSP = 0;
  }
  if (fWinampPluginHandle != 0) {
    BASS_WADSP_FreeDSP(fWinampPluginHandle);
    fWinampPluginHandle = 0;
  }
  fWinampInvalidReported = false;
}

void TSlotInfo::ApplyWinampPluginControls() {
  std::string text;
  {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    text = fSettings.fWinampPluginControls;
  }
  const ParsedControls parsed = ParseWinampPluginControls(text);
  for (const std::string& entry : parsed.rejected) {
    DoLogMessage("WinampPluginControls: \"" + entry + "\" is not a control name and a number");
  }
  const std::vector<BASS_WADSP_CONTROL> controls = PluginControls(fWinampPluginHandle);
  for (const ChosenControl& chosen : parsed.controls) {
    bool found = false;
    for (size_t i = 0; i < controls.size() && !found; ++i) {
      if (ChosenControlName(controls[i].name) == chosen.name) {
        found = true;
        BASS_WADSP_SetControl(fWinampPluginHandle, static_cast<DWORD>(i), chosen.value);
      }
    }
    if (!found) {
      DoLogMessage("WinampPluginControls: the plug-in has no control \"" + chosen.name + "\"");
    }
  }
}

bool TSlotInfo::SetWinampPluginControl(uint32_t index, float value) {
  if (fWinampPluginHandle == 0 || !BASS_WADSP_SetControl(fWinampPluginHandle, index, value)) {
    return false;
  }
  const std::vector<BASS_WADSP_CONTROL> controls = PluginControls(fWinampPluginHandle);
  if (index >= controls.size()) {
    return false;
  }
  std::lock_guard<std::recursive_mutex> lock(fCS);
  std::vector<ChosenControl> chosen =
      ParseWinampPluginControls(fSettings.fWinampPluginControls).controls;
  // The value in force, after the plug-in's range was applied.
  if (!SetChosenControl(chosen, controls[index].name, controls[index].value)) {
    DoLogMessage(std::string("WinampPluginControls: the value of \"") + controls[index].name +
                 "\" cannot be kept (its name contains \"|\")");
    return true;
  }
  fSettings.fWinampPluginControls = FormatWinampPluginControls(chosen);
  return true;
}

void TSlotInfo::ReportWinampPlugin() {
  if (fWinampPluginHandle == 0 || fWinampInvalidReported) {
    return;
  }
  const uint64_t blocks = audio::wadsp::InvalidBlocks(fWinampPluginHandle);
  if (blocks > 0) {
    fWinampInvalidReported = true;
    DoLogMessage("The DSP plug-in produced invalid samples (NaN or infinity); " +
                 std::to_string(blocks) + " blocks were replaced by silence");
  }
}

}  // namespace velloran::slots
