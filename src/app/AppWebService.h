#pragma once
// The recordings web service bound to the application: it reads the slots of the slot list by
// number, and the remote commands' starts and stops are posted to the application's main thread
// (PostStartSlot / PostStopSlot), which carries them out in arrival order as the Start and Stop
// buttons do. The HTTP answer never waits for them.
// Thread contract: made on the main thread; the service runs on the connection threads. The
// slot list must be complete before the web server starts and stay until it has stopped.
#include <functional>
#include <memory>

#include "app/Application.h"
#include "slots/TSlotList.h"
#include "web/TWebService.h"

namespace velloran::app {

// slotList gives the application's slot list (nullptr while there is none: no slots).
std::unique_ptr<web::TWebService> MakeAppWebService(TVelloranApp& app,
                                                    std::function<slots::TSlotList*()> slotList);

}  // namespace velloran::app
