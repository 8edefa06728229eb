// The recordings web service on real slots (generator devices, manual clock) and their real
// databases; the download also goes through the real web server on loopback, so the bytes and
// headers on the wire are checked.
#include "web/TWebService.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "core/Error.h"
#include "slots/slot/integration/SlotFixture.h"
#include "support/RawHttp.h"
#include "web/WebServer.h"

namespace velloran::web {
namespace {

using slots::TSlotInfo;
using slots::test::ScopedTimeZone;

class WebServiceTest : public slots::test::SlotFixture {
 protected:
  TWebService Service() {
    TWebSlots slots;
    slots.count = [this] { return slot_ ? 1 : 0; };
    slots.slot = [this](int index) { return index == 0 ? slot_.get() : nullptr; };
    return TWebService(slots);
  }

  // The answer of one GET; "404" stands for a route that matched nothing.
  struct Answer {
    bool handled = false;
    THttpResponse response;
  };
  Answer Get(const std::string& document, const std::string& query = "") {
    THttpRequest request;
    request.document = document;
    request.params = ParseUrlEncoded(query);
    TWebService service = Service();
    Answer answer;
    answer.handled = service.HandleWebService(request, answer.response, TAccessLevel::alReadOnly);
    return answer;
  }
  std::string Text(const std::string& document, const std::string& query = "") {
    const Answer answer = Get(document, query);
    EXPECT_TRUE(answer.handled) << document;
    EXPECT_EQ(answer.response.status, 200) << document;
    return answer.response.body;
  }

  int64_t AddRow(const std::string& start, const char* duration, const std::string& file) {
    auto connection = slot_->GetDatabaseConnection();
    connection
        ->PrepareStatement("INSERT INTO recordings (starttime, duration, filename) VALUES ('" +
                           start + "', " + duration + ", '" + file + "')")
        ->ExecuteUpdatePrepared();
    auto rows =
        connection->PrepareStatement("SELECT MAX(id) FROM recordings")->ExecuteQueryPrepared();
    rows->First();
    return rows->GetInt(1);
  }
};

TEST_F(WebServiceTest, SlotValuesAsTextAndInTheList) {
  TSlotInfo& slot = MakeSlot("Name=Studio/A\nSource=Soundcard\nDevice=GEN:tone\nFormat=wav16\n");
  Run(1000);
  slot.HandleStreamTitle("Song \xC3\xA9");
  clock_->Advance(5000);
  ASSERT_NE(slot.CurrentDeviceInfo(), nullptr);
  const std::string device = slot.CurrentDeviceInfo()->Name();
  EXPECT_EQ(Text("/ws/slots/0/name"), "Studio/A");
  EXPECT_EQ(Text("/ws/slot/0/name"), "Studio/A");
  EXPECT_EQ(Get("/ws/slots/0/name").response.contentType, "text/plain; charset=ISO-8859-1");
  EXPECT_EQ(Text("/ws/slots/0/source"), device);
  EXPECT_EQ(Text("/ws/slots/0/recording"), "1");
  EXPECT_EQ(Text("/ws/slots/0/lastmetadata"), "5");
  EXPECT_EQ(Text("/ws/slots/0/silence"), "5");  // loud until the pulls stopped
  EXPECT_EQ(Text("/ws/slots/0/currenttitle"), "Song \xC3\xA9");
  EXPECT_EQ(Text("/ws/slots"),
            "[{\r\n  \"ID\": 0,\r\n  \"Name\": \"Studio\\/A\",\r\n  \"Source\": \"" + device +
                "\",\r\n  \"Recording\": true,\r\n  \"Silence\": 5,\r\n  \"LastMetadata\": 5,\r\n"
                "  \"CurrentTitle\": \"Song \\u00e9\"\r\n }]");

  EXPECT_FALSE(Get("/ws/slots/0/name/").handled);  // the value routes end there
  EXPECT_FALSE(Get("/ws/slots/0/Name").handled);
  EXPECT_FALSE(Get("/ws/slots/x/name").handled);
  const Answer unknown = Get("/ws/slots/1/name");
  EXPECT_TRUE(unknown.handled);
  EXPECT_EQ(unknown.response.status, 404);
  EXPECT_THROW(Get("/ws/slots/4294967296/name"), Error);
}

TEST_F(WebServiceTest, StoppedSoundCardSlotHasNoSource) {
  MakeSlot("Source=Soundcard\nDevice=GEN:nothing\n");  // no current device
  EXPECT_EQ(Text("/ws/slots/0/source"), "Error");
  EXPECT_EQ(Text("/ws/slots/0/recording"), "0");
  EXPECT_NE(Text("/ws/slots").find("\"Source\": \"Err\""), std::string::npos);
  MakeSlot("Source=Stream\nStreamURL=http://radio.example/a.mp3\nEnabled=off\n");
  EXPECT_EQ(Text("/ws/slots/0/source"), "http://radio.example/a.mp3");
  MakeSlot("Source=Disabled\n");
  EXPECT_EQ(Text("/ws/slots/0/source"), "");
}

TEST_F(WebServiceTest, StatisticsCalendarAndDayListing) {
  ScopedTimeZone zone("Europe/Berlin");
  MakeSlot("Name=Morning\nSource=Soundcard\nDevice=GEN:tone\nEnabled=off\n");
  EXPECT_EQ(Text("/ws/slots/0/stats"), "{\r\n \"count\": 0\r\n}");

  const int64_t done = AddRow("2019-08-26 14:05:00.000", "60", "2019/08/26/a.mp3");
  const int64_t unfinished = AddRow("2019-08-26 15:00:00.000", "NULL", "2019/08/26/b.mp3");
  const int64_t late = AddRow("2019-08-26 23:59:59.000", "1.5", "c.mp3");
  const int64_t midnight = AddRow("2019-08-27 00:00:00.000", "1", "d.mp3");
  EXPECT_EQ(Text("/ws/slots/0/stats/anything"),
            "{\r\n \"count\": 4,\r\n \"oldest\": \"08\\/26\\/2019 14:05:00\",\r\n"
            " \"newest\": \"08\\/27\\/2019 00:00:00\"\r\n}");
  AddRow("garbage", "1", "e.mp3");
  EXPECT_THROW(Get("/ws/slots/0/stats"), Error);  // an unreadable start time fails it

  // Calendar: local start times as UTC; the unfinished older file and the garbage row are out.
  const std::string events = Text("/ws/slot/0/calendarevents",
                                  "start=2019-08-26T00:00:00%2B02:00&end=2019-08-27T00:00:00Z");
  EXPECT_EQ(events, "[{\r\n  \"id\": " + std::to_string(done) +
                        ",\r\n  \"start\": \"2019-08-26T12:05:00.000Z\",\r\n"
                        "  \"end\": \"2019-08-26T12:06:00.000Z\",\r\n  \"title\": \"Morning\",\r\n"
                        "  \"filename\": \"a.mp3\"\r\n },{\r\n  \"id\": " +
                        std::to_string(late) +
                        ",\r\n"
                        "  \"start\": \"2019-08-26T21:59:59.000Z\",\r\n"
                        "  \"end\": \"2019-08-26T22:00:00.500Z\",\r\n  \"title\": \"Morning\",\r\n"
                        "  \"filename\": \"c.mp3\"\r\n },{\r\n  \"id\": " +
                        std::to_string(midnight) +
                        ",\r\n"
                        "  \"start\": \"2019-08-26T22:00:00.000Z\",\r\n"
                        "  \"end\": \"2019-08-26T22:00:01.000Z\",\r\n  \"title\": \"Morning\",\r\n"
                        "  \"filename\": \"d.mp3\"\r\n }]");
  for (const char* query : {"end=2019-08-27", "start=2019-08-26&end=yesterday", ""}) {
    try {
      Get("/ws/slots/0/calendarevents", query);
      ADD_FAILURE() << query;
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), "Date parse error") << query;
    }
  }

  // Day listing: 23:59:59 belongs to the day, 00:00:00 of the next day does not.
  EXPECT_EQ(Text("/ws/slots/0/list/2019/8/26"),
            "[{\r\n  \"ID\": " + std::to_string(done) +
                ",\r\n  \"Time\": \"2019-08-26T14:05:00\",\r\n  \"Duration\": 60\r\n },{\r\n"
                "  \"ID\": " +
                std::to_string(unfinished) +
                ",\r\n  \"Time\": \"2019-08-26T15:00:00\",\r\n  \"Duration\": null\r\n },{\r\n"
                "  \"ID\": " +
                std::to_string(late) +
                ",\r\n  \"Time\": \"2019-08-26T23:59:59\",\r\n  \"Duration\": 1.5\r\n }]");
  EXPECT_EQ(Text("/ws/slots/0/list/2019/8/28"), "[]");
  EXPECT_THROW(Get("/ws/slots/0/list/2019/2/30"), Error);
}

TEST_F(WebServiceTest, CurrentFileIsShownWithItsRecordedSeconds) {
  ScopedTimeZone zone("UTC");
  SetLocalTime(2019, 8, 26, 10, 0, 0);
  TSlotInfo& slot = MakeSlot("Source=Soundcard\nDevice=GEN:tone\nFormat=wav16\n");
  Run(3000);
  ASSERT_NE(slot.CurrentRecordingID(), 0);
  AddRow("2019-08-26 09:00:00.000", "NULL", "old.wav");  // never finished: not in the calendar
  const std::string events =
      Text("/ws/slots/0/calendarevents", "start=2019-08-26T00:00:00Z&end=2019-08-27T00:00:00Z");
  EXPECT_EQ(events.find("old.wav"), std::string::npos);
  EXPECT_NE(events.find("\"start\": \"2019-08-26T10:00:00."), std::string::npos) << events;
  EXPECT_NE(events.find("\"end\": \"2019-08-26T10:00:03"), std::string::npos) << events;
  const std::string day = Text("/ws/slots/0/list/2019/08/26");
  EXPECT_NE(day.find("\"Duration\": null"), std::string::npos);        // the old file
  EXPECT_NE(day.find("\"Duration\": 2.9"), std::string::npos) << day;  // the current one
}

TEST_F(WebServiceTest, DownloadsWithByteRangesOverHttp) {
  MakeSlot("Source=Soundcard\nDevice=GEN:tone\nEnabled=off\n");
  std::filesystem::create_directories(Folder() + "/2019/08/26");
  std::string content;
  for (int i = 0; i < 1000; ++i) {
    content.push_back(static_cast<char>('a' + i % 26));
  }
  std::ofstream(Folder() + "/2019/08/26/morning.mp3") << content;
  const int64_t id = AddRow("2019-08-26 06:00:00.000", "60", "2019/08/26/morning.mp3");
  const int64_t escaping = AddRow("2019-08-26 07:00:00.000", "60", "../outside.mp3");
  const int64_t missing = AddRow("2019-08-26 08:00:00.000", "60", "gone.mp3");

  TWebService service = Service();
  TWebServerOptions options;
  TWebFileList noFiles;
  options.files = &noFiles;
  TWebServer server(options, nullptr, &service);
  TWebServerSettings settings;
  settings.port = "127.0.0.1:0";
  settings.anonymousAccess = TAccessLevel::alReadOnly;
  server.Start(settings);
  const std::string path = "/ws/slots/0/getfile/" + std::to_string(id) + "/morning.mp3";

  struct Case {
    const char* range;
    int status;
    size_t first;
    size_t length;
    const char* contentRange;
  };
  const Case cases[] = {
      {nullptr, 200, 0, 1000, ""},
      {"bytes=0-99", 206, 0, 100, "bytes 0-99/1000"},
      {"bytes=900-", 206, 900, 100, "bytes 900-999/1000"},
      {"bytes=990-5000", 206, 990, 10, "bytes 990-999/1000"},
      {"bytes=-100", 200, 0, 1000, ""},  // suffix ranges are not honoured
      {"bytes=5-1", 200, 0, 1000, ""},   // last before first: ignored
      {"bytes=1000-", 416, 0, 0, ""},
      {"bytes=0-1,5-6", 416, 0, 0, ""},
  };
  for (const Case& c : cases) {
    std::string request = "GET " + path + " HTTP/1.1\r\nHost: x\r\n";
    if (c.range != nullptr) {
      request += std::string("Range: ") + c.range + "\r\n";
    }
    const auto reply = velloran::test::RawRequest(server.Port(), request + "\r\n");
    const char* label = c.range != nullptr ? c.range : "no range";
    EXPECT_EQ(reply.status, c.status) << label;
    EXPECT_EQ(reply.body, content.substr(c.first, c.length)) << label;
    EXPECT_EQ(reply.Header("content-range"), c.contentRange) << label;
    if (c.status != 416) {
      EXPECT_EQ(reply.Header("content-type"), "audio/mpeg") << label;
      EXPECT_EQ(reply.Header("accept-ranges"), "bytes") << label;
      EXPECT_EQ(reply.Header("content-length"), std::to_string(c.length)) << label;
    }
    EXPECT_EQ(reply.Header("content-disposition").empty(), c.range != nullptr) << label;
  }
  EXPECT_EQ(velloran::test::HttpGet(server.Port(), path).Header("content-disposition"),
            "attachment; filename=\"morning.mp3\"; filename*=UTF-8''morning.mp3");
  EXPECT_EQ(velloran::test::HttpGet(server.Port(), "/ws/slots/0/getfile/999").status, 404);
  EXPECT_EQ(
      velloran::test::HttpGet(server.Port(), "/ws/slots/0/getfile/" + std::to_string(escaping))
          .status,
      404);
  const auto gone =
      velloran::test::HttpGet(server.Port(), "/ws/slots/0/getfile/" + std::to_string(missing));
  EXPECT_EQ(gone.status, 500);
  EXPECT_NE(gone.body.find("gone.mp3"), std::string::npos);
  server.Stop();
}

}  // namespace
}  // namespace velloran::web
