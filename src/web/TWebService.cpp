#include "web/TWebService.h"

#include <memory>

#include "audio/devices/TDeviceInfoWithClients.h"
#include "core/Clock.h"
#include "core/DateTime.h"
#include "core/Error.h"
#include "core/ParseIsoDateTime.h"
#include "core/Paths.h"
#include "core/SondrelRegExpr.h"
#include "slots/RecordingNames.h"
#include "slots/RecordingsDatabase.h"
#include "slots/TSlotInfo.h"
#include "web/DigitsToInt.h"
#include "web/MimeTable.h"
#include "web/PersistentJson.h"
#include "web/WebAnswers.h"
#include "web/WebDateFormats.h"

namespace velloran::web {
namespace {

constexpr const char* kSlots = "/ws/slots/";
constexpr const char* kSlotSingular = "/ws/slot/";

// The last component of a stored file name (either separator).
std::string LastComponent(const std::string& name) {
  const size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// The UTC instant of a local start time; false for a local time that does not exist.
bool LocalToUtc(TDateTime local, TDateTime& utc) {
  const int64_t millis = LocalToUnixMillis(local);
  if (DateTimeToUnixMillis(UnixMillisToLocal(millis)) != DateTimeToUnixMillis(local)) {
    return false;
  }
  utc = UnixMillisToDateTime(millis);
  return true;
}

}  // namespace

void TWebService::ExecuteCommand(const THttpRequest& request, THttpResponse& /*response*/,
                                 TAccessLevel /*accessLevel*/) {
  // The frame has already applied the access rules of the two command paths. Nothing is set on
  // the answer: every command is an empty 200, recognised or not.
  web::ExecuteCommand(request.Param("command"), requests_);
}

uint64_t TWebService::SecondsSince(uint64_t tick) {
  return (TickCount64() - tick) / 1000;
}

std::string TWebService::SourceText(const slots::TSlotInfo& slot, const std::string& noDevice) {
  switch (slot.RecordSource()) {
    case slots::rsSoundcard: {
      const audio::TDeviceInfoWithClients* device = slot.CurrentDeviceInfo();
      return device != nullptr ? device->Name() : noDevice;
    }
    case slots::rsStream:
      return slot.StreamURL();
    case slots::rsDisabled:
      break;
  }
  return std::string();
}

bool TWebService::HandleWebService(const THttpRequest& request, THttpResponse& response,
                                   TAccessLevel /*accessLevel*/) {
  if (request.document == "/ws/slots") {
    SlotList(response);
    return true;
  }
  std::string path = request.document;
  if (path.compare(0, 9, kSlotSingular) == 0) {
    path = kSlots + path.substr(9);
  }
  // Compiled per request: the expression object is not shared between connection threads.
  TSondrelRegExpr expr;
  static constexpr const char* kValueRoutes[] = {"name",    "source",       "recording",
                                                 "silence", "lastmetadata", "currenttitle"};
  for (const char* route : kValueRoutes) {
    if (expr.Matches(std::string("^/ws/slots/(\\d+)/") + route + "$", path)) {
      slots::TSlotInfo* slot = slots_.slot ? slots_.slot(DigitsToInt(expr.Match(1))) : nullptr;
      if (slot == nullptr) {
        SendNotFound(response);
        return true;
      }
      const std::string name = route;
      std::string text;
      if (name == "name") {
        text = slot->Name();
      } else if (name == "source") {
        text = SourceText(*slot, "Error");
      } else if (name == "recording") {
        text = slot->Encoder() != 0 ? "1" : "0";
      } else if (name == "silence") {
        text = std::to_string(SecondsSince(slot->LastOverSilenceTickCount()));
      } else if (name == "lastmetadata") {
        text = std::to_string(SecondsSince(slot->LastMetadataTickCount()));
      } else {
        text = slot->CurrentStreamTitle();
      }
      SendText(response, text);
      return true;
    }
  }
  int id = 0;
  int year = 0;
  int month = 0;
  int day = 0;
  enum { kNone, kStats, kCalendar, kList, kGetFile } route = kNone;
  if (expr.Matches("^/ws/slots/(\\d+)/stats", path)) {
    route = kStats;
  } else if (expr.Matches("^/ws/slots/(\\d+)/calendarevents", path)) {
    route = kCalendar;
  } else if (expr.Matches("^/ws/slots/(\\d+)/list/(\\d+)/(\\d+)/(\\d+)", path)) {
    route = kList;
    year = DigitsToInt(expr.Match(2));
    month = DigitsToInt(expr.Match(3));
    day = DigitsToInt(expr.Match(4));
  } else if (expr.Matches("^/ws/slots/(\\d+)/getfile/(\\d+)", path)) {
    route = kGetFile;
    id = DigitsToInt(expr.Match(2));
  }
  if (route == kNone) {
    return false;
  }
  slots::TSlotInfo* slot = slots_.slot ? slots_.slot(DigitsToInt(expr.Match(1))) : nullptr;
  if (slot == nullptr) {
    SendNotFound(response);
    return true;
  }
  switch (route) {
    case kStats:
      Stats(*slot, response);
      break;
    case kCalendar:
      CalendarEvents(*slot, request, response);
      break;
    case kList:
      DayList(*slot, year, month, day, response);
      break;
    case kGetFile:
      GetFile(*slot, id, request, response);
      break;
    case kNone:
      break;
  }
  return true;
}

void TWebService::SlotList(THttpResponse& response) const {
  auto list = TPersistentArray::Create();
  const int count = slots_.count ? slots_.count() : 0;
  for (int i = 0; i < count; ++i) {
    const slots::TSlotInfo* slot = slots_.slot(i);
    if (slot == nullptr) {
      continue;
    }
    auto object = TPersistentObject::Create();
    object->SetNumber("ID", i);
    object->SetString("Name", slot->Name());
    object->SetString("Source", SourceText(*slot, "Err"));
    object->SetBoolean("Recording", slot->Encoder() != 0);
    object->SetNumber("Silence",
                      static_cast<double>(SecondsSince(slot->LastOverSilenceTickCount())));
    object->SetNumber("LastMetadata",
                      static_cast<double>(SecondsSince(slot->LastMetadataTickCount())));
    object->SetString("CurrentTitle", slot->CurrentStreamTitle());
    list->Add(object);
  }
  SendJSON(response, *list);
}

void TWebService::Stats(slots::TSlotInfo& slot, THttpResponse& response) const {
  const auto connection = slot.GetDatabaseConnection();
  const auto statement = connection->PrepareStatement(
      "SELECT COUNT(*), MIN(starttime), MAX(starttime) FROM recordings");
  const auto rows = statement->ExecuteQueryPrepared();
  auto object = TPersistentObject::Create();
  if (rows->First()) {
    object->SetNumber("count", static_cast<double>(rows->GetInt(1)));
    if (!rows->IsNull(2)) {
      object->SetString("oldest", FormatUsDateTime(rows->GetTimestamp(2)));
    }
    if (!rows->IsNull(3)) {
      object->SetString("newest", FormatUsDateTime(rows->GetTimestamp(3)));
    }
  }
  SendJSON(response, *object);
}

void TWebService::CalendarEvents(slots::TSlotInfo& slot, const THttpRequest& request,
                                 THttpResponse& response) const {
  TDateTime start = 0;
  TDateTime end = 0;
  try {
    if (!request.HasParam("start") || !request.HasParam("end")) {
      throw Error("missing");
    }
    start = ParseIsoDateTime(request.Param("start"));
    end = ParseIsoDateTime(request.Param("end"));
  } catch (const Error&) {
    throw Error("Date parse error");
  }
  // The slot's values first (each under the slot lock for a moment), then the database work
  // without any lock of the slot.
  const std::string title = slot.Name();
  const int64_t currentId = slot.CurrentRecordingID();
  const auto connection = slot.GetDatabaseConnection();
  const auto rows = slots::SelectRecordingsStartingIn(*connection, start, end);
  auto list = TPersistentArray::Create();
  for (bool more = rows->First(); more; more = rows->Next()) {
    const int64_t id = rows->GetInt(1);
    float duration = 0.0f;
    if (rows->IsNull(3)) {
      if (id != currentId) {
        continue;  // a file whose duration was never written
      }
      duration = slot.CurrentRecordingDuration();
    } else {
      duration = static_cast<float>(rows->GetFloat(3));
    }
    TDateTime utc = 0;
    try {
      if (!LocalToUtc(rows->GetTimestamp(2), utc)) {
        continue;
      }
    } catch (const Error&) {
      continue;  // an unreadable start time
    }
    auto event = TPersistentObject::Create();
    event->SetNumber("id", static_cast<double>(id));
    event->SetString("start", FormatUtcIsoDateTime(utc));
    event->SetString("end", FormatUtcIsoDateTime(utc + static_cast<double>(duration) / 86400.0));
    event->SetString("title", title);
    event->SetString("filename", LastComponent(rows->GetString(4)));
    list->Add(event);
  }
  SendJSON(response, *list);
}

void TWebService::DayList(slots::TSlotInfo& slot, int year, int month, int day,
                          THttpResponse& response) const {
  const TDateTime start = EncodeDate(year, month, day);
  const TDateTime end = start + 1.0;                    // the next local midnight
  const int64_t currentId = slot.CurrentRecordingID();  // before the database work
  const auto connection = slot.GetDatabaseConnection();
  const auto rows = slots::SelectRecordingsStartingIn(*connection, start, end);
  auto list = TPersistentArray::Create();
  for (bool more = rows->First(); more; more = rows->Next()) {
    const int64_t id = rows->GetInt(1);
    auto entry = TPersistentObject::Create();
    entry->SetNumber("ID", static_cast<double>(id));
    entry->SetString("Time", FormatLocalIsoDateTime(rows->GetTimestamp(2)));
    if (!rows->IsNull(3)) {
      entry->SetNumber("Duration", rows->GetFloat(3));
    } else if (id == currentId) {
      entry->SetNumber("Duration", slot.CurrentRecordingDuration());
    } else {
      entry->SetNull("Duration");
    }
    list->Add(entry);
  }
  SendJSON(response, *list);
}

void TWebService::GetFile(slots::TSlotInfo& slot, int id, const THttpRequest& request,
                          THttpResponse& response) const {
  std::string fileName;
  {
    const auto connection = slot.GetDatabaseConnection();
    const auto statement =
        connection->PrepareStatement("SELECT filename FROM recordings WHERE id=:id");
    statement->SetIntByName("id", id);
    const auto rows = statement->ExecuteQueryPrepared();
    if (!rows->First()) {
      SendNotFound(response);
      return;
    }
    fileName = rows->GetString(1);
  }
  // Stored names are read back by the slots' own rule ("\" and "/" separate folders, a leading
  // one means nothing); a name that would leave the slot folder is not served.
  const auto normalName = slots::NormalRecordingName(fileName);
  if (!normalName) {
    SendNotFound(response);
    return;
  }
  const std::string path = IncludeTrailingPathDelimiter(slot.Folder()) + *normalName;
  if (request.ranges.size() > 1) {
    response.status = 416;
    return;
  }
  response.contentType = MimeTypeForFile(path);
  response.acceptRanges = "bytes";
  auto file = std::make_unique<TFileBodyStream>(path);
  const int64_t size = file->FileSize();
  const bool rangeGiven = !request.Header("Range").empty();
  if (request.ranges.size() == 1 && request.ranges[0].first >= 0) {
    const TByteRange range = request.ranges[0];
    if (range.first >= size) {
      response.status = 416;
      return;
    }
    if (range.last < 0 || range.last >= range.first) {
      const int64_t last = range.last < 0 || range.last >= size ? size - 1 : range.last;
      file->SetRange(range.first, last - range.first + 1);
      response.status = 206;
      response.contentRangeFirst = range.first;
      response.contentRangeLast = last;
      response.contentRangeLength = size;
    }
  }
  if (!rangeGiven) {
    response.contentDisposition = AttachmentDisposition(fileName);
  }
  response.SetStream(std::move(file));
}

}  // namespace velloran::web
