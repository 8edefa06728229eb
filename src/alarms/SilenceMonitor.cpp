#include "alarms/SilenceMonitor.h"

namespace velloran::alarms {

namespace {

void RaiseAlarm(const SilenceAlarmActions& actions, const std::string& text, const std::string& url,
                bool sendEmail) {
  if (actions.log) {
    actions.log(text);
  }
  if (actions.queueHTTPAlarm) {
    actions.queueHTTPAlarm(url);
  }
  if (sendEmail && actions.sendEmail) {
    actions.sendEmail(text);
  }
}

}  // namespace

void CheckSilence(const std::vector<std::unique_ptr<slots::TSlotInfo>>& slots,
                  const SilenceAlarmActions& actions) {
  for (const auto& slot : slots) {
    if (!slot) {
      continue;
    }
    const slots::TSlotSettings& settings = slot->Settings();
    if (!(settings.fEnabled || settings.fSilenceDetectionIfInactive) ||
        settings.fSilenceDection <= 0) {
      continue;
    }
    const int64_t secs = slot->GetCurrentSilenceDurationMilliseconds() / 1000;
    const bool silent = secs >= settings.fSilenceDection;
    if (silent && !slot->SilenceDetected()) {
      RaiseAlarm(
          actions,
          "Slot \"" + slot->Name() + "\" SILENCE DETECTED (" + std::to_string(secs) + " seconds)",
          settings.fHTTPAlarmSilenceDetected, settings.fSendEmailSilenceDetected);
      slot->SetSilenceDetected(true);
    } else if (!silent && slot->SilenceDetected()) {
      RaiseAlarm(actions, "Slot \"" + slot->Name() + "\" SILENCE OK", settings.fHTTPAlarmSilenceOK,
                 settings.fSendEmailSilenceOK);
      slot->SetSilenceDetected(false);
    }
  }
}

}  // namespace velloran::alarms
