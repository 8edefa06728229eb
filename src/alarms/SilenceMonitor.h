#pragma once
// The silence monitor: one tick of the silence timer (every 100 ms) turns each watched slot's
// silence duration into alarms. A slot is watched while it is enabled (or set to be watched
// when inactive) and its alarm delay (SilenceDetection, seconds) is above 0. When its silence
// reaches the delay it raises "SILENCE DETECTED" once; when sound returns, "SILENCE OK" once.
// Each alarm is logged, then its URL (if any) is queued for the alarm worker, then the e-mail
// (if switched on) is sent. A slot that is not watched keeps its alarm state.
//
// Thread contract: main thread only (it reads the slots' settings without a lock and their
// silence durations under their level locks). Nothing is allocated unless an alarm is raised.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "slots/TSlotInfo.h"

namespace velloran::alarms {

// What an alarm does; the application supplies the three actions.
struct SilenceAlarmActions {
  std::function<void(const std::string& text)> log;            // the message log
  std::function<void(const std::string& url)> queueHTTPAlarm;  // empty URLs are passed too
  std::function<void(const std::string& subject)> sendEmail;   // errors logged, not raised
};

// One silence check over the slots in index order (null entries are skipped).
void CheckSilence(const std::vector<std::unique_ptr<slots::TSlotInfo>>& slots,
                  const SilenceAlarmActions& actions);

}  // namespace velloran::alarms
