#include "ui/TileComposition.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <string>
#include <vector>

#include "ui/TPNGStore.h"
#include "ui/TilePainter.h"

namespace velloran::ui::test {
namespace {

constexpr uint64_t kHour = 3'600'000;
constexpr uint64_t kDay = 24 * kHour;

TEST(TileTimeTest, TimeOfDayAndOnlineFormats) {
  struct Case {
    uint64_t ms;
    const char* timeOfDay;
    const char* online;
  };
  const Case cases[] = {
      {0, "00:00:00", "[00:00:00]"},
      {kDay + 5000, "00:00:05", "[1d 00:00:05]"},  // 24 h 0 min 5 s
      {23 * kHour + 59 * 60'000, "23:59:00", "[23:59:00]"},
      {kDay, "00:00:00", "[1d 00:00:00]"},
      {2 * kDay + 3 * kHour, "03:00:00", "[2d 03:00:00]"},
      {25 * kHour + 999, "01:00:00", "[1d 01:00:00]"},  // milliseconds are cut, not rounded
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatTimeOfDay(c.ms), c.timeOfDay) << c.ms;
    EXPECT_EQ(FormatOnlineTime(c.ms), c.online) << c.ms;
  }
}

TileState Recording() {
  TileState s;
  s.name = "Studio";
  s.source = slots::rsSoundcard;
  s.enabled = true;
  s.hasDevice = true;
  s.deviceName = "Generator: tone";
  s.hasEncoder = true;
  s.currentFilename = "/rec/2024/03/05/10.mp3";
  s.recordStartTick = 9 * kDay;
  s.silenceThreshold = -30;
  s.silenceMs = 4000;
  return s;
}

struct Line {
  int y;
  int pointSize;
  TileColour colour;
  std::string text;
  bool operator==(const Line&) const = default;
};

std::vector<Line> LinesOf(const TileComposition& tile) {
  std::vector<Line> lines;
  for (const TileText& t : tile.texts) {
    EXPECT_EQ(t.x, 60);
    EXPECT_EQ(t.bold, t.y == 4);  // only the name is bold
    lines.push_back({t.y, t.pointSize, t.colour, t.text});
  }
  return lines;
}

void PrintTo(const Line& l, std::ostream* os) {
  *os << "{" << l.y << ", " << l.pointSize << "pt, " << static_cast<int>(l.colour) << ", \""
      << l.text << "\"}";
}

TEST(TileCompositionTest, LinesAndStatusOfEachSlotState) {
  using enum TileColour;
  using enum TileStatus;
  const uint64_t now = 10 * kDay + 5000;  // recording for 24 h 0 min 5 s
  const Line name{4, 10, tcBlack, "Studio"};
  const Line device{20, 10, tcGrey, "Generator: tone"};
  const Line file{38, 7, tcGrey, "/rec/2024/03/05/10.mp3"};
  const Line time{50, 10, tcBlack, "00:00:05 (00:00:04)"};
  struct Case {
    const char* what;
    TileState state;
    TileStatus status;
    std::vector<Line> lines;
  };
  std::vector<Case> cases;
  cases.push_back({"recording", Recording(), tsOK, {name, device, file, time}});
  {
    TileState s = Recording();
    s.silenceThreshold = 0;  // silence watch off: no silence time
    cases.push_back({"recording, no silence watch",
                     s,
                     tsOK,
                     {name, device, file, {50, 10, tcBlack, "00:00:05"}}});
  }
  {
    TileState s = Recording();
    s.source = slots::rsDisabled;
    cases.push_back({"no input", s, tsDisabled, {name, {20, 10, tcGrey, "Disabled"}}});
  }
  {
    TileState s = Recording();
    s.hasDevice = false;
    s.errorMessage = "Invalid device";
    cases.push_back({"input failed", s, tsError, {name, {20, 10, tcRed, "Error: Invalid device"}}});
  }
  {
    TileState s = Recording();
    s.hasEncoder = false;
    s.enabled = false;
    cases.push_back(
        {"stopped", s, tsDisabled, {name, device, {38, 10, tcGrey, "Encoder stopped"}}});
  }
  {
    TileState s = Recording();
    s.hasEncoder = false;
    s.format = slots::sfNone;
    cases.push_back({"alarm only", s, tsOK, {name, device, {38, 10, tcBlack, "No recording"}}});
  }
  {
    TileState s = Recording();
    s.hasEncoder = false;
    s.errorMessage = "File not found";
    cases.push_back({"encoder failed",
                     s,
                     tsError,
                     {name, device, {38, 10, tcRed, "Encoder error: File not found"}}});
  }
  {
    TileState s = Recording();
    s.streamingEnabled = true;
    s.streamingStatus = slots::ssConnecting;
    cases.push_back({"recording fine, stream connecting",
                     s,
                     tsError,
                     {name, device, file, time, {68, 10, tcBlack, "Stream connecting..."}}});
  }
  {
    TileState s = Recording();
    s.streamingEnabled = true;
    s.streamingStatus = slots::ssConnected;
    s.streamingMessage = "icecast";
    s.streamingActiveSince = static_cast<int64_t>(now - 2 * kDay - 3 * kHour);
    cases.push_back(
        {"stream online for two days",
         s,
         tsOK,
         {name, device, file, time, {68, 10, tcBlack, "Stream online - icecast [2d 03:00:00]"}}});
  }
  {
    TileState s = Recording();
    s.hasEncoder = false;
    s.errorMessage = "Disk full";
    s.streamingEnabled = true;
    s.streamingStatus = slots::ssError;
    cases.push_back({"stream error after an encoder error keeps the red",
                     s,
                     tsError,
                     {name,
                      device,
                      {38, 10, tcRed, "Encoder error: Disk full"},
                      {68, 10, tcRed, "Stream error"}}});
  }
  {
    TileState s = Recording();
    s.streamingEnabled = false;  // a status without streaming switched on draws nothing
    s.streamingStatus = slots::ssError;
    cases.push_back({"streaming off", s, tsOK, {name, device, file, time}});
  }
  {
    TileState s = Recording();
    s.source = slots::rsStream;
    s.hasStreamChannel = true;
    s.streamURL = "http://radio/stream";
    s.hasEncoder = false;
    s.format = slots::sfNone;
    cases.push_back(
        {"stream input without a title shows its URL",
         s,
         tsOK,
         {name, {20, 10, tcGrey, "http://radio/stream"}, {38, 10, tcBlack, "No recording"}}});
    s.streamTitle = "Artist - Song";
    cases.push_back({"stream input with a title",
                     s,
                     tsOK,
                     {name, {20, 10, tcGrey, "Artist - Song"}, {38, 10, tcBlack, "No recording"}}});
    s.hasStreamChannel = false;
    s.streamStatusText = "Connecting...";
    cases.push_back(
        {"stream input not connected", s, tsError, {name, {20, 10, tcRed, "Connecting..."}}});
  }
  for (const Case& c : cases) {
    const TileComposition tile = ComposeTile(c.state, now);
    EXPECT_EQ(tile.status, c.status) << c.what;
    EXPECT_EQ(LinesOf(tile), c.lines) << c.what;
  }
}

// The status picture in (2, 12) .. (50, 60) of a painted tile.
QImage StatusArea(const TileComposition& tile, const TileImages& images) {
  QImage canvas(300, 100, QImage::Format_ARGB32);
  canvas.fill(Qt::white);
  QPainter painter(&canvas);
  PaintTile(painter, QRect(0, 0, 300, 99), tile, false, QFont(), images, TileMeters{});
  painter.end();
  return canvas.copy(2, 12, 48, 48);
}

QImage Expected(const QImage& picture) {
  QImage canvas(48, 48, QImage::Format_ARGB32);
  canvas.fill(Qt::white);
  QPainter painter(&canvas);
  painter.drawImage(QRect(0, 0, 48, 48), picture);
  return canvas;
}

TEST(TilePainterTest, StatusPictureOfTheTile) {
  TPNGStore store("/nonexistent/", TPNGStore::BuiltInAliasText());
  const TileImages images{store.GetPNG("status_ok"), store.GetPNG("status_disabled"),
                          store.GetPNG("status_error")};
  ASSERT_FALSE(images.ok.isNull());
  ASSERT_FALSE(images.disabled.isNull());
  ASSERT_FALSE(images.error.isNull());
  TileState s = Recording();
  EXPECT_EQ(StatusArea(ComposeTile(s, 9 * kDay + 2000), images), Expected(images.ok));
  s.streamingEnabled = true;
  s.streamingStatus = slots::ssConnecting;
  EXPECT_EQ(StatusArea(ComposeTile(s, 9 * kDay + 2000), images), Expected(images.error));
  s = Recording();
  s.hasEncoder = false;
  s.enabled = false;
  EXPECT_EQ(StatusArea(ComposeTile(s, 9 * kDay + 2000), images), Expected(images.disabled));
  // A picture that could not be loaded: the tile shows none.
  const TileImages none;
  EXPECT_EQ(StatusArea(ComposeTile(s, 9 * kDay + 2000), none), Expected(QImage()));
}

}  // namespace
}  // namespace velloran::ui::test
