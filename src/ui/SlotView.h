#pragma once
// What the window reads from and asks of the slots: a copy of a tile's state, the measured
// peaks, and the Start/Stop buttons' SetEnabled. SlotListView serves it from the slot module's
// list; tests may put their own in between.
// Thread contract: main thread only.
#include "ui/TileState.h"

namespace velloran::slots {
class TSlotList;
}

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
};

class SlotListView : public SlotView {
 public:
  explicit SlotListView(slots::TSlotList& list) : list_(list) {}
  int Count() const override;
  TileState State(int index) const override;
  void Peaks(int index, float& left, float& right) const override;
  void SetEnabled(int index, bool enabled) override;

 private:
  slots::TSlotList& list_;
};

}  // namespace velloran::ui
