#include "ui/SlotView.h"

#include "slots/TSlotList.h"

namespace velloran::ui {

int SlotListView::Count() const {
  return list_.Count();
}

TileState SlotListView::State(int index) const {
  const slots::TSlotInfo* slot = list_.Slot(index);
  if (slot == nullptr) {
    TileState gone;
    gone.errorMessage = "Slot not available";
    return gone;
  }
  return TakeTileState(*slot);
}

void SlotListView::Peaks(int index, float& left, float& right) const {
  left = right = 0;
  if (const slots::TSlotInfo* slot = list_.Slot(index)) {
    left = slot->LevelLeft();
    right = slot->LevelRight();
  }
}

void SlotListView::SetEnabled(int index, bool enabled) {
  list_.SetEnabled(index, enabled);
}

slots::TSlotInfo* SlotListView::Slot(int index) {
  return list_.Slot(index);
}

const audio::DeviceCatalogue* SlotListView::Catalogue() const {
  return list_.Catalogue();
}

}  // namespace velloran::ui
