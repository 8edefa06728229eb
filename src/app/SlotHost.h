#pragma once
// What the application asks of the slots. The slot module plugs its TSlotInfo list in through
// this interface; the application calls it in this order and only on the main thread:
//   start-up:  CreateSlot(i, alarmOnly, log) for i = 0 .. count-1, each slot complete (created
//              from its section, log event connected, Initialize, StartRecording) before the
//              next one; a slot whose input fails keeps its error and start-up goes on;
//   running:   SetEnabled (start/stop requests), and the timer work below;
//   shutdown:  CloseRecordings (every slot closes its file at once, so that their last rows are
//              written side by side), then DestroySlot(i) for i = 0 .. count-1 in index order
//              (each slot records what is left of its rows, stops its threads and writes its
//              configuration section).
// Thread contract: every member is called on the main thread only.
#include <functional>
#include <string>

#include "alarms/SilenceMonitor.h"

namespace velloran::app {

// The log routine handed to the slots (and to every other part that logs): any thread.
using TLogMessageEvent = std::function<void(const void* sender, const std::string& message)>;

class SlotHost {
 public:
  virtual ~SlotHost() = default;

  // Creates, initialises and starts slot index. log is the application's LogMessage.
  virtual void CreateSlot(int index, bool alarmOnly, const TLogMessageEvent& log) = 0;
  // The remote Start/Stop (SetEnabled(true/false)); index is always inside the slot list.
  virtual void SetEnabled(int index, bool enabled) = 0;

  // timTimer (100 ms), after the window's repaint: the rotation check of every slot. A slot
  // that rotated its file calls the application's SetCleanupTimerEnabled(true).
  virtual void CheckRotation() {}
  // timSilenceDetection (100 ms): silence check of every slot and alarm dispatch.
  virtual void CheckSilence(const alarms::SilenceAlarmActions& /*actions*/) {}
  // timStreamTitle (1000 ms): poll every slot's title file for its outgoing stream.
  virtual void CheckStreamTitles() {}
  // timCleanup (1000 ms while on): age and space clean-up of every slot, failures logged
  // through log; true while any slot still has work (the timer stays on), false switches it
  // off.
  virtual bool Cleanup(const TLogMessageEvent& /*log*/) { return false; }

  virtual void CloseRecordings() {}
  virtual void DestroySlot(int index) = 0;
};

}  // namespace velloran::app
