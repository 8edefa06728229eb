#pragma once
// The HTTP alarm worker as a service of the application: started during start-up, stopped
// first at shutdown; its error lines go to the application's log (handed to the main thread).
// The application's QueueHTTPAlarm hands URLs to Queue.
// Thread contract: Start, Stop and Running on the main thread; Queue from any thread.
#include <string>

#include "alarms/HttpAlarmWorker.h"
#include "app/Application.h"
#include "app/ServiceControl.h"

namespace velloran::app {

class HttpAlarmService : public ServiceControl {
 public:
  explicit HttpAlarmService(TVelloranApp& app);

  void Start() override { worker_.Start(); }
  void Stop() override { worker_.Stop(); }
  bool Running() const override { return worker_.Running(); }
  void Queue(const std::string& url) { worker_.Queue(url); }

 private:
  alarms::HttpAlarmWorker worker_;
};

}  // namespace velloran::app
