#pragma once
// TWebService: the recordings web service, the GET routes under "/ws/" that the frame reaches
// after authentication and the static files:
//   /ws/slots                              JSON list of every slot
//   /ws/slots/N/name|source|recording|silence|lastmetadata|currenttitle   one value as text
//   /ws/slots/N/stats                      JSON count, oldest and newest start
//   /ws/slots/N/calendarevents?start=&end= JSON events of the recordings in the window
//   /ws/slots/N/list/Y/M/D                 JSON listing of one local day
//   /ws/slots/N/getfile/ID                 the recording (whole, or one byte range)
// "/ws/slot/" may stand for "/ws/slots/". The first six routes end there; anything may follow
// the last four (a download path carries the file name for the browser). A number too large
// for a 32-bit integer fails the request; an unknown slot or route is 404.
// The remote commands ("/execute", "/ws/execute") go to ExecuteCommand (RemoteCommand.h) with
// the "command" parameter; the answer is an empty 200 whatever the command, given before the
// main thread acts on it.
//
// Thread contract: HandleWebService and ExecuteCommand run on the connection threads,
// concurrently. The slot array is fixed while the server runs (created before it starts, freed
// after it stops); slot texts are read through the slot's locked readers, and every request
// that needs the database opens its own connection.
#include <functional>
#include <string>

#include "web/RemoteCommand.h"
#include "web/WebDispatch.h"

namespace velloran::slots {
class TSlotInfo;
}

namespace velloran::web {

// Access to the application's slots by number (0-based); nullptr for an unknown number.
struct TWebSlots {
  std::function<int()> count;
  std::function<slots::TSlotInfo*(int index)> slot;
};

class TWebService : public IWebDispatch {
 public:
  // requests: where the remote commands queue their starts and stops (none: commands are
  // parsed and answered, and change nothing).
  explicit TWebService(TWebSlots slots, TSlotRequests requests = {})
      : slots_(std::move(slots)), requests_(std::move(requests)) {}

  void ExecuteCommand(const THttpRequest& request, THttpResponse& response,
                      TAccessLevel accessLevel) override;
  bool HandleWebService(const THttpRequest& request, THttpResponse& response,
                        TAccessLevel accessLevel) override;

  // The six plain values of a slot as the routes send them.
  static std::string SourceText(const slots::TSlotInfo& slot, const std::string& noDevice);
  static uint64_t SecondsSince(uint64_t tick);

 private:
  void SlotList(THttpResponse& response) const;
  void Stats(slots::TSlotInfo& slot, THttpResponse& response) const;
  void CalendarEvents(slots::TSlotInfo& slot, const THttpRequest& request,
                      THttpResponse& response) const;
  void DayList(slots::TSlotInfo& slot, int year, int month, int day, THttpResponse& response) const;
  void GetFile(slots::TSlotInfo& slot, int id, const THttpRequest& request,
               THttpResponse& response) const;

  TWebSlots slots_;
  TSlotRequests requests_;
};

}  // namespace velloran::web
