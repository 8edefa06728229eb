// The recordings web service on real slots (generator devices, manual clock) and their real
// databases; the download also goes through the real web server on loopback, so the bytes and
// headers on the wire are checked.
#include "web/TWebService.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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

  static constexpr size_t kWavHeader = 80;  // the WAV writer's header, rewritten as it grows

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes(std::filesystem::file_size(path), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
  }
  // The encoder's writer thread writes on its own: wait (20 s at most) until the file holds at
  // least size bytes.
  static bool WaitForSize(const std::string& path, size_t size) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::error_code ec;
    while (std::filesystem::file_size(path, ec) < size || ec) {
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  // "filename start end" of each calendar event, in the order of the answer.
  static std::vector<std::string> ParseEvents(const std::string& json) {
    std::vector<std::string> events;
    auto value = [&json](const char* key, size_t from) {
      const std::string marker = std::string("\"") + key + "\": \"";
      const size_t at = json.find(marker, from);
      if (at == std::string::npos) {
        return std::string();
      }
      const size_t begin = at + marker.size();
      return json.substr(begin, json.find('"', begin) - begin);
    };
    for (size_t at = json.find("\"id\""); at != std::string::npos;
         at = json.find("\"id\"", at + 1)) {
      events.push_back(value("filename", at) + " " + value("start", at) + " " + value("end", at));
    }
    return events;
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
  EXPECT_EQ(Text("/ws/slots"), "[]");  // no slots yet
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

TEST_F(WebServiceTest, RoutesInTheirOrder) {
  MakeSlot("Name=Morning\nSource=Soundcard\nDevice=GEN:tone\nEnabled=off\n");
  AddRow("2019-08-26 06:00:00.000", "60", "a.mp3");
  struct Case {
    const char* path;
    int status;             // 0: no route (the frame answers 404)
    const char* bodyStart;  // of a 200 answer
  };
  const Case cases[] = {
      {"/ws/slots/0/name", 200, "Morning"},
      {"/ws/slot/0/name", 200, "Morning"},
      {"/ws/slots/00/name", 200, "Morning"},
      {"/ws/slots/01/name", 404, "not found"},
      {"/ws/slots/00000000000/name", 200, "Morning"},
      {"/ws/slots/0/name/", 0, ""},
      {"/ws/slots/0/namex", 0, ""},
      {"/ws/slots/0/Name", 0, ""},
      {"/ws/Slots/0/name", 0, ""},
      {"/ws/slots//name", 0, ""},
      {"/ws/slots/-1/name", 0, ""},
      {"/ws/slot", 0, ""},
      {"/ws/slots/", 0, ""},
      {"/ws/slot/", 0, ""},
      {"/ws/slotsx/0/name", 0, ""},
      {"/ws/slots/0/recording", 200, "0"},
      {"/ws/slot/0/currenttitle", 200, ""},
      {"/ws/slots/0/stats", 200, "{"},
      {"/ws/slots/0/statsandmore", 200, "{"},  // the last four routes are not anchored
      {"/ws/slot/0/stats/", 200, "{"},
      {"/ws/slots/0/list/2019/8/26", 200, "[{"},
      {"/ws/slots/0/list/2019/8/26/x", 200, "[{"},
      {"/ws/slots/0/list/2019/8", 0, ""},
      {"/ws/slots/0/calendarevents/x", 200, "[{"},
      {"/ws/slots/0/getfile/x", 0, ""},
      {"/ws/slots/1/name", 404, "not found"},  // beyond the slot list
      {"/ws/slot/1/stats", 404, "not found"},
      {"/ws/slots/2147483647/list/2019/8/26", 404, "not found"},
  };
  for (const Case& c : cases) {
    const Answer answer = Get(c.path, "start=2019-08-26T00:00:00Z&end=2019-08-27T00:00:00Z");
    EXPECT_EQ(answer.handled, c.status != 0) << c.path;
    if (c.status != 0) {
      EXPECT_EQ(answer.response.status, c.status) << c.path;
      EXPECT_EQ(answer.response.body.rfind(c.bodyStart, 0), 0u)
          << c.path << ": " << answer.response.body;
    }
  }
  // Numbers too large for a 32-bit integer fail the request, wherever they stand.
  for (const char* path : {"/ws/slots/2147483648/name", "/ws/slots/0/list/99999999999/1/1",
                           "/ws/slots/0/getfile/2147483648"}) {
    EXPECT_THROW(Get(path), Error) << path;
  }
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

TEST_F(WebServiceTest, CalendarAndDayListingAcrossDaylightSavingChanges) {
  ScopedTimeZone zone("Europe/Berlin");
  MakeSlot("Name=Night\nSource=Soundcard\nDevice=GEN:tone\nEnabled=off\n");
  // Spring: 02:00 CET jumps to 03:00 CEST. Autumn: 03:00 CEST falls back to 02:00 CET, so
  // 02:30 is read twice and taken as standard time.
  AddRow("2019-03-31 01:30:00.000", "60", "spring-before.mp3");
  AddRow("2019-03-31 02:30:00.000", "60", "spring-missing.mp3");  // does not exist locally
  AddRow("2019-03-31 03:30:00.000", "60", "spring-after.mp3");
  AddRow("2019-10-27 01:30:00.000", "3600", "autumn-summer.mp3");
  AddRow("2019-10-27 02:30:00.000", "3600", "autumn-repeated.mp3");
  AddRow("2019-10-27 03:30:00.000", "60", "autumn-winter.mp3");

  struct Window {
    const char* query;
    std::vector<std::string> startEnd;  // "file start end" of every event, in row order
  };
  const Window windows[] = {
      // The spring day from local midnight to local midnight: 23 hours.
      {"start=2019-03-31T00:00:00%2B01:00&end=2019-04-01T00:00:00%2B02:00",
       {"spring-before.mp3 2019-03-31T00:30:00.000Z 2019-03-31T00:31:00.000Z",
        "spring-after.mp3 2019-03-31T01:30:00.000Z 2019-03-31T01:31:00.000Z"}},
      // The autumn day: 25 hours; the repeated hour's file ends where the next one starts.
      {"start=2019-10-27T00:00:00%2B02:00&end=2019-10-28T00:00:00%2B01:00",
       {"autumn-summer.mp3 2019-10-26T23:30:00.000Z 2019-10-27T00:30:00.000Z",
        "autumn-repeated.mp3 2019-10-27T01:30:00.000Z 2019-10-27T02:30:00.000Z",
        "autumn-winter.mp3 2019-10-27T02:30:00.000Z 2019-10-27T02:31:00.000Z"}},
      // Window limits without a zone are UTC: 00:00Z is 01:00 CET and 02:00Z is 04:00 CEST.
      {"start=2019-03-31T00:00:00&end=2019-03-31T02:00:00",
       {"spring-before.mp3 2019-03-31T00:30:00.000Z 2019-03-31T00:31:00.000Z",
        "spring-after.mp3 2019-03-31T01:30:00.000Z 2019-03-31T01:31:00.000Z"}},
      // 01:00Z is 02:00 CET of the second pass; the summer-time file before it is out.
      {"start=2019-10-27T01:00:00Z&end=2019-10-27T02:00:00Z",
       {"autumn-repeated.mp3 2019-10-27T01:30:00.000Z 2019-10-27T02:30:00.000Z"}},
  };
  for (const Window& w : windows) {
    const auto events = ParseEvents(Text("/ws/slots/0/calendarevents", w.query));
    EXPECT_EQ(events, w.startEnd) << w.query;
  }

  // The day listing shows local times as stored and leaves nothing out.
  const std::string spring = Text("/ws/slots/0/list/2019/3/31");
  for (const char* time : {"2019-03-31T01:30:00", "2019-03-31T02:30:00", "2019-03-31T03:30:00"}) {
    EXPECT_NE(spring.find(time), std::string::npos) << time;
  }
  const std::string autumn = Text("/ws/slots/0/list/2019/10/27");
  for (const char* time : {"2019-10-27T01:30:00", "2019-10-27T02:30:00", "2019-10-27T03:30:00"}) {
    EXPECT_NE(autumn.find(time), std::string::npos) << time;
  }
}

TEST_F(WebServiceTest, DownloadWhileTheFileIsBeingRecorded) {
  TSlotInfo& slot = MakeSlot("Source=Soundcard\nDevice=GEN:ramp\nFormat=wav16\n");
  Run(2000);
  const std::string file = slot.CurrentFilename();
  const int64_t id = slot.CurrentRecordingID();
  ASSERT_FALSE(file.empty());
  ASSERT_NE(id, 0);
  ASSERT_TRUE(WaitForSize(file, kWavHeader + 1000));

  TWebService service = Service();
  TWebServerOptions options;
  TWebFileList noFiles;
  options.files = &noFiles;
  TWebServer server(options, nullptr, &service);
  TWebServerSettings settings;
  settings.port = "127.0.0.1:0";
  settings.anonymousAccess = TAccessLevel::alReadOnly;
  server.Start(settings);
  const std::string path = "/ws/slots/0/getfile/" + std::to_string(id);

  // The slot goes on recording (pull steps and rotation checks on this thread) while another
  // thread downloads; each answer holds exactly the bytes the file had when it was served.
  auto download = [&](const std::string& range) {
    auto reply = std::async(std::launch::async, [&] {
      return velloran::test::RawRequest(
          server.Port(), "GET " + path + " HTTP/1.1\r\nHost: x\r\n" +
                             (range.empty() ? "" : "Range: " + range + "\r\n") + "\r\n");
    });
    while (reply.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
      Run(100);
    }
    return reply.get();
  };
  const auto whole = download("");
  ASSERT_EQ(whole.status, 200);
  const size_t size = whole.body.size();
  EXPECT_EQ(whole.Header("content-length"), std::to_string(size));
  EXPECT_EQ(whole.Header("content-disposition").rfind("attachment; filename=\"", 0), 0u);
  ASSERT_GT(size, kWavHeader + 1000);
  Run(1000);
  ASSERT_TRUE(WaitForSize(file, size + 1000));
  // The header sizes are rewritten while recording; the audio bytes are final once written.
  std::string disk = ReadFile(file);
  EXPECT_EQ(whole.body.substr(kWavHeader), disk.substr(kWavHeader, size - kWavHeader));

  // A range from where the first download ended: what was recorded since.
  const auto rest = download("bytes=" + std::to_string(size) + "-");
  ASSERT_EQ(rest.status, 206);
  const size_t total = size + rest.body.size();
  EXPECT_GT(rest.body.size(), 0u);
  EXPECT_EQ(rest.Header("content-range"), "bytes " + std::to_string(size) + "-" +
                                              std::to_string(total - 1) + "/" +
                                              std::to_string(total));
  EXPECT_EQ(rest.Header("content-disposition"), "");
  disk = ReadFile(file);
  ASSERT_GE(disk.size(), total);
  EXPECT_EQ(rest.body, disk.substr(size, rest.body.size()));
  EXPECT_EQ(slot.CurrentRecordingID(), id);  // still the same file, still recording
  EXPECT_NE(slot.Encoder(), 0u);
  server.Stop();
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
  std::string manyRanges = "bytes=0-0";
  for (int i = 0; i < 100; ++i) {
    manyRanges += ",1-1";
  }
  EXPECT_EQ(velloran::test::RawRequest(
                server.Port(), "GET " + path + " HTTP/1.1\r\nRange: " + manyRanges + "\r\n\r\n")
                .status,
            416);
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
