#include "app/AppWebService.h"

#include <utility>

namespace velloran::app {

std::unique_ptr<web::TWebService> MakeAppWebService(TVelloranApp& app,
                                                    std::function<slots::TSlotList*()> slotList) {
  web::TWebSlots slots;
  slots.count = [slotList] {
    const slots::TSlotList* list = slotList();
    return list != nullptr ? list->Count() : 0;
  };
  slots.slot = [slotList](int index) -> slots::TSlotInfo* {
    const slots::TSlotList* list = slotList();
    return list != nullptr ? list->Slot(index) : nullptr;
  };
  web::TSlotRequests requests;
  requests.startSlot = [&app](int index) { app.PostStartSlot(index); };
  requests.stopSlot = [&app](int index) { app.PostStopSlot(index); };
  return std::make_unique<web::TWebService>(std::move(slots), std::move(requests));
}

}  // namespace velloran::app
