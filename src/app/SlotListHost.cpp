#include "app/SlotListHost.h"

#include <utility>

namespace velloran::app {

SlotListHost::SlotListHost(ConfigFile& config, const audio::DeviceCatalogue* catalogue,
                           std::function<void()> onFileRotated)
    : list_(config, catalogue, std::move(onFileRotated)) {}

void SlotListHost::CreateSlot(int index, bool alarmOnly, const TLogMessageEvent& log) {
  list_.CreateSlot(index, alarmOnly, log);
}

void SlotListHost::SetEnabled(int index, bool enabled) {
  list_.SetEnabled(index, enabled);
}

void SlotListHost::CheckRotation() {
  list_.CheckRotation();
}

void SlotListHost::CheckSilence(const alarms::SilenceAlarmActions& actions) {
  alarms::CheckSilence(list_.Slots(), actions);
}

void SlotListHost::CheckStreamTitles() {
  for (const auto& slot : list_.Slots()) {
    if (slot) {
      slot->UpdateOutgoingStreamTitle();
    }
  }
}

bool SlotListHost::Cleanup(const TLogMessageEvent& log) {
  return list_.Cleanup(log);
}

void SlotListHost::CloseRecordings() {
  list_.CloseRecordings();
}

void SlotListHost::DestroySlot(int index) {
  list_.DestroySlot(index);
}

}  // namespace velloran::app
