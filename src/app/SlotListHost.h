#pragma once
// The slot module's TSlotList behind the application's SlotHost interface: creation in index
// order, remote start/stop, the rotation check of the main timer and freeing in index order.
// The silence, stream-title and clean-up work of the other timers.
// Thread contract: main thread only (as TSlotList).
#include <functional>
#include <memory>

#include "app/SlotHost.h"
#include "core/ConfigFile.h"
#include "slots/TSlotList.h"

namespace velloran::app {

class SlotListHost : public SlotHost {
 public:
  // onFileRotated: a rotation check ran CycleEncoder (switch the clean-up timer on).
  SlotListHost(ConfigFile& config, const audio::DeviceCatalogue* catalogue,
               std::function<void()> onFileRotated);

  void CreateSlot(int index, bool alarmOnly, const TLogMessageEvent& log) override;
  void SetEnabled(int index, bool enabled) override;
  void CheckRotation() override;
  bool Cleanup(const TLogMessageEvent& log) override;
  void CheckSilence(const alarms::SilenceAlarmActions& actions) override;
  void CloseRecordings() override;
  // The title timer: every slot's title file for its outgoing stream, in slot order.
  void CheckStreamTitles() override;
  void DestroySlot(int index) override;

  slots::TSlotList& List() { return list_; }

 private:
  slots::TSlotList list_;
};

}  // namespace velloran::app
