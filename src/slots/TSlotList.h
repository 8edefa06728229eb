#pragma once
// The slots of the application, in index order: created one after the other (Create, log event,
// Initialize, StartRecording), rotated by the main timer, freed in index order.
// Thread contract: every member runs on the main thread.
#include <functional>
#include <memory>
#include <vector>

#include "core/ConfigFile.h"
#include "slots/TSlotInfo.h"

namespace velloran::slots {

class TSlotList {
 public:
  // onFileRotated is called after a rotation check that ran CycleEncoder (the application
  // switches its clean-up timer on).
  TSlotList(ConfigFile& config, const audio::DeviceCatalogue* catalogue,
            std::function<void()> onFileRotated);
  ~TSlotList();  // frees the remaining slots in index order
  TSlotList(const TSlotList&) = delete;
  TSlotList& operator=(const TSlotList&) = delete;

  // Creates slot index (indexes come in ascending order) and starts it; a failing input keeps
  // the slot's error and the slot stays.
  void CreateSlot(int index, bool alarmOnly, TSlotInfo::TLogMessageEvent log);
  // Remote Start/Stop; an unknown index is ignored.
  void SetEnabled(int index, bool enabled);
  // The rotation check of every slot in index order.
  void CheckRotation();
  // One clean-up pass (the clean-up timer, every second while on): age, then space rule of
  // every slot in index order. A slot whose clean-up fails is logged through log as "Cleanup
  // error in %s: %s" and clears the result. True while a slot still reports work.
  bool Cleanup(const TSlotInfo::TLogMessageEvent& log);
  // Closes the file of every slot (the shutdown's first step): their durations go to the
  // slots' database writers at once instead of one slot after the other.
  void CloseRecordings();
  // Frees slot index (file closed, duration written, threads stopped, section written).
  void DestroySlot(int index);

  int Count() const { return static_cast<int>(slots_.size()); }
  // The slots by index (freed ones are null).
  const std::vector<std::unique_ptr<TSlotInfo>>& Slots() const { return slots_; }
  // nullptr for an unknown or freed index.
  TSlotInfo* Slot(int index) const;
  // The device catalogue the slots were made with (may be null).
  const audio::DeviceCatalogue* Catalogue() const { return catalogue_; }

 private:
  ConfigFile& config_;
  const audio::DeviceCatalogue* catalogue_;
  std::function<void()> onFileRotated_;
  std::vector<std::unique_ptr<TSlotInfo>> slots_;
};

}  // namespace velloran::slots
