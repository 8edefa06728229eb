#pragma once
// What the window reads from and asks of the slots: a copy of a tile's state, the measured
// peaks, and the Start/Stop buttons' SetEnabled. SlotListView serves it from the slot module's
// list; tests may put their own in between.
// Thread contract: main thread only.
#include "ui/TileState.h"

namespace velloran::audio {
class DeviceCatalogue;
}
namespace velloran::slots {
class TSlotInfo;
class TSlotList;
}  // namespace velloran::slots

namespace velloran::ui {

class SlotView {
 public:
  virtual ~SlotView() = default;
  virtual int Count() const = 0;
  // A copy of what slot index shows (index inside 0 .. Count()-1).
  virtual TileState State(int index) const = 0;
  // The measured peaks (linear full scale 1.0), read without a lock.
  virtual void Peaks(int index, float& left, float& right) const = 0;
  // Start (true) or Stop (false): TSlotInfo::SetEnabled. May raise.
  virtual void SetEnabled(int index, bool enabled) = 0;
  // The slot itself, for its configuration dialog; nullptr when the view has none.
  virtual slots::TSlotInfo* Slot(int /*index*/) { return nullptr; }
  // The device catalogue the dialog offers (may be null).
  virtual const audio::DeviceCatalogue* Catalogue() const { return nullptr; }
};

class SlotListView : public SlotView {
 public:
  explicit SlotListView(slots::TSlotList& list) : list_(list) {}
  int Count() const override;
  TileState State(int index) const override;
  void Peaks(int index, float& left, float& right) const override;
  void SetEnabled(int index, bool enabled) override;
  slots::TSlotInfo* Slot(int index) override;
  const audio::DeviceCatalogue* Catalogue() const override;

 private:
  slots::TSlotList& list_;
};

}  // namespace velloran::ui
