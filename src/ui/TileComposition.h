#pragma once
// The texts of one slot tile and its status, worked out from a TileState: where each line goes,
// in which size and colour, and which status picture the tile shows. The painter draws what
// this gives; tests read it without drawing.
// Thread contract: pure functions, any thread.
#include <cstdint>
#include <string>
#include <vector>

#include "ui/TileState.h"

namespace velloran::ui {

enum class TileStatus { tsOK, tsDisabled, tsError };
enum class TileColour { tcBlack, tcGrey, tcRed };

struct TileText {
  int x = 0;  // from the tile's left edge
  int y = 0;  // from its top; the text's top-left corner
  int pointSize = 10;
  bool bold = false;
  TileColour colour = TileColour::tcBlack;
  std::string text;
};

struct TileComposition {
  std::vector<TileText> texts;
  TileStatus status = TileStatus::tsError;
};

// now: the tick count (TickCount64) at which the times are shown.
TileComposition ComposeTile(const TileState& state, uint64_t now);

// A duration in milliseconds as a time of day "hh:nn:ss" (hours wrap after 23).
std::string FormatTimeOfDay(uint64_t ms);
// The online time of an outgoing stream: "[hh:nn:ss]", or "[Nd hh:nn:ss]" from one day on.
std::string FormatOnlineTime(uint64_t ms);

}  // namespace velloran::ui
