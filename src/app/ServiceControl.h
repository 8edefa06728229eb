#pragma once
// A process-wide service the application starts and stops: the web server and the HTTP alarm
// worker plug in through this interface.
// Thread contract: every member is called on the main thread only. Stop may wait for the
// service's threads; while it waits it must keep serving the main-thread hand-off
// (TVelloranApp::ServeMainThreadHandOffs or TSimpleThread::Destroy, which does it itself).
namespace velloran::app {

class ServiceControl {
 public:
  virtual ~ServiceControl() = default;
  virtual void Start() = 0;
  virtual void Stop() = 0;
  virtual bool Running() const = 0;
};

}  // namespace velloran::app
