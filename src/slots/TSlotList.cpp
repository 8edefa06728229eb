#include "slots/TSlotList.h"

#include <filesystem>

#include "core/DiskSpace.h"
#include "slots/SlotStartChecks.h"

namespace velloran::slots {

TSlotList::TSlotList(ConfigFile& config, const audio::DeviceCatalogue* catalogue,
                     std::function<void()> onFileRotated)
    : config_(config), catalogue_(catalogue), onFileRotated_(std::move(onFileRotated)) {}

TSlotList::~TSlotList() {
  CloseRecordings();
  for (int i = 0; i < Count(); ++i) {
    DestroySlot(i);
  }
}

void TSlotList::CreateSlot(int index, bool alarmOnly, TSlotInfo::TLogMessageEvent log) {
  if (index < 0) {
    return;
  }
  if (static_cast<size_t>(index) >= slots_.size()) {
    slots_.resize(static_cast<size_t>(index) + 1);
  }
  auto slot = std::make_unique<TSlotInfo>(config_, alarmOnly, index, catalogue_);
  slot->OnLogMessage = std::move(log);
  for (const std::string& note : SlotSettingsFallbacks(config_, index, alarmOnly)) {
    slot->DoLogMessage(note);
  }
  slot->Initialize();
  slot->StartRecording();
  // Space clean-up deletes the recordings of a slot that records or has recorded.
  std::error_code ec;
  if (!alarmOnly && (slot->Settings().fRecordSource != rsDisabled ||
                     std::filesystem::exists(slot->Settings().fFolder, ec))) {
    const std::string warning =
        LowSpaceWarning(slot->Settings(), FreeBytesAvailable(slot->Settings().fFolder));
    if (!warning.empty()) {
      slot->DoLogMessage(warning);
    }
  }
  slots_[static_cast<size_t>(index)] = std::move(slot);
}

void TSlotList::SetEnabled(int index, bool enabled) {
  if (TSlotInfo* slot = Slot(index)) {
    slot->SetEnabled(enabled);
  }
}

void TSlotList::CheckRotation() {
  bool rotated = false;
  for (const auto& slot : slots_) {
    if (slot && slot->CheckRotation()) {
      rotated = true;
    }
  }
  if (rotated && onFileRotated_) {
    onFileRotated_();
  }
}

bool TSlotList::Cleanup(const TSlotInfo::TLogMessageEvent& log) {
  bool work = false;
  for (const auto& slot : slots_) {
    if (!slot) {
      continue;
    }
    try {
      const bool byAge = slot->CleanUpByAge();
      const bool bySpace = slot->CleanupBySpace();
      if (byAge || bySpace) {
        work = true;
      }
    } catch (const std::exception& e) {
      if (log) {
        log(this, "Cleanup error in " + slot->Name() + ": " + e.what());
      }
      work = false;
    }
  }
  return work;
}

void TSlotList::CloseRecordings() {
  for (const auto& slot : slots_) {
    if (slot) {
      slot->CloseCurrentRecording(false);
    }
  }
}

void TSlotList::DestroySlot(int index) {
  if (index >= 0 && static_cast<size_t>(index) < slots_.size()) {
    slots_[static_cast<size_t>(index)].reset();
  }
}

TSlotInfo* TSlotList::Slot(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= slots_.size()) {
    return nullptr;
  }
  return slots_[static_cast<size_t>(index)].get();
}

}  // namespace velloran::slots
