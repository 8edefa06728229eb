#pragma once
// What one slot tile shows, copied from the slot in one go: the texts, handles and flags under
// the slot's lock (so a file change between two reads cannot mix the old name with the new
// state), the measured peaks from their atomics. The painter works on this copy only; taking
// it touches no file, network or database.
// Thread contract: TakeTileState runs on the main thread (it reads the slot's settings, which
// only the main thread changes) and takes the slot's fCS briefly.
#include <cstdint>
#include <string>

#include "slots/SlotTypes.h"

namespace velloran::slots {
class TSlotInfo;
}

namespace velloran::ui {

struct TileState {
  std::string name;
  slots::TRecordSource source = slots::rsDisabled;
  bool enabled = false;
  std::string folder;
  // Input
  bool hasDevice = false;
  std::string deviceName;
  bool hasStreamChannel = false;
  std::string streamTitle;
  std::string streamURL;
  std::string streamStatusText;  // the stream input's state when it has no channel
  std::string errorMessage;
  // Encoder
  bool hasEncoder = false;
  std::string currentFilename;
  uint64_t recordStartTick = 0;
  int32_t silenceThreshold = 0;  // dBFS
  int64_t silenceMs = 0;
  slots::TBassStreamingFormat format = slots::sfMP3;
  // Outgoing stream
  bool streamingOnly = false;
  bool streamingEnabled = false;
  slots::TStreamingStatus streamingStatus = slots::ssDisabled;
  std::string streamingMessage;
  int64_t streamingActiveSince = -1;  // tick count; -1 while not online
  // Meters
  int nominalLevel = 0;  // dBFS
  float peakLeft = 0;
  float peakRight = 0;
};

TileState TakeTileState(const slots::TSlotInfo& slot);

}  // namespace velloran::ui
