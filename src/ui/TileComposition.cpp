#include "ui/TileComposition.h"

#include <cstdio>

namespace velloran::ui {

namespace {
constexpr uint64_t kMsPerDay = 86'400'000;
}

std::string FormatTimeOfDay(uint64_t ms) {
  const uint64_t seconds = (ms % kMsPerDay) / 1000;
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", static_cast<unsigned>(seconds / 3600),
                static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
  return text;
}

std::string FormatOnlineTime(uint64_t ms) {
  std::string text = "[";
  const uint64_t days = ms / kMsPerDay;
  if (days >= 1) {
    text += std::to_string(days) + "d ";
  }
  return text + FormatTimeOfDay(ms) + "]";
}

TileComposition ComposeTile(const TileState& s, uint64_t now) {
  TileComposition tile;
  tile.status = TileStatus::tsError;
  bool sourceActive = false;
  // The font and colour carry over from one line to the next, as the stream line relies on.
  int size = 10;
  TileColour colour = TileColour::tcBlack;
  auto add = [&](int x, int y, std::string text, bool bold = false) {
    tile.texts.push_back(TileText{x, y, size, bold, colour, std::move(text)});
  };

  add(60, 4, s.name, true);

  size = 10;
  colour = TileColour::tcGrey;
  switch (s.source) {
    case slots::rsDisabled:
      add(60, 20, "Disabled");
      tile.status = TileStatus::tsDisabled;
      break;
    case slots::rsSoundcard:
      if (s.hasDevice) {
        add(60, 20, s.deviceName);
        sourceActive = true;
      } else {
        colour = TileColour::tcRed;
        add(60, 20, "Error: " + s.errorMessage);
        tile.status = TileStatus::tsError;
      }
      break;
    case slots::rsStream:
      if (s.hasStreamChannel) {
        add(60, 20, s.streamTitle.empty() ? s.streamURL : s.streamTitle);
        sourceActive = true;
      } else {
        colour = TileColour::tcRed;
        add(60, 20, s.streamStatusText);
        tile.status = TileStatus::tsError;
      }
      break;
  }

  if (sourceActive) {
    if (s.hasEncoder) {
      size = 7;
      colour = TileColour::tcGrey;
      add(60, 38, s.currentFilename);
      size = 10;
      colour = TileColour::tcBlack;
      std::string time = FormatTimeOfDay(now - s.recordStartTick);
      if (s.silenceThreshold < 0) {
        time += " (" + FormatTimeOfDay(static_cast<uint64_t>(s.silenceMs)) + ")";
      }
      add(60, 50, time);
      tile.status = TileStatus::tsOK;
    } else if (!s.enabled) {
      colour = TileColour::tcGrey;
      add(60, 38, "Encoder stopped");
      tile.status = TileStatus::tsDisabled;
    } else if (s.format == slots::sfNone || s.streamingOnly) {
      colour = TileColour::tcBlack;
      add(60, 38, "No recording");
      tile.status = TileStatus::tsOK;
    } else {
      colour = TileColour::tcRed;
      add(60, 38, "Encoder error: " + s.errorMessage);
      tile.status = TileStatus::tsError;
    }
  }

  if (s.streamingEnabled && s.streamingStatus != slots::ssDisabled) {
    std::string line;
    switch (s.streamingStatus) {
      case slots::ssConnecting:
        line = "Stream connecting...";
        tile.status = TileStatus::tsError;
        break;
      case slots::ssConnected:
        line = "Stream online";
        break;
      case slots::ssError:
        line = "Stream error";
        tile.status = TileStatus::tsError;
        break;
      case slots::ssDisabled:
        break;
    }
    if (!s.streamingMessage.empty()) {
      line += " - " + s.streamingMessage;
    }
    if (s.streamingActiveSince >= 0) {
      line += " " + FormatOnlineTime(now - static_cast<uint64_t>(s.streamingActiveSince));
    }
    add(60, 68, line);
  }
  return tile;
}

}  // namespace velloran::ui
