#pragma once
// The remote command interface: one line of text from "/execute" or "/ws/execute" that starts
// or stops a slot.
//   "SLOT n START"   start slot n (counted from 1)
//   "SLOT n STOP"    stop slot n
// Exactly these words, upper case, single spaces, n one or more decimal digits (leading zeros
// allowed), nothing before or after (not even a line break). Any other text is ignored without
// a word. n is handed on as the zero-based index n - 1, unchecked: "SLOT 0 START" gives -1 and
// an n beyond the slot list gives an index past it; the receiver ignores both. An n too large
// for a 32-bit integer raises velloran::Error (the request then fails with 500).
//
// Thread contract: ExecuteCommand runs on a connection thread; it keeps no state and touches no
// slot. The two requests must only queue (any thread, no waiting); the receiver carries them
// out on the main thread in the order they were queued.
#include <functional>
#include <string>

namespace velloran::web {

struct TSlotRequests {
  std::function<void(int index)> startSlot;
  std::function<void(int index)> stopSlot;
};

void ExecuteCommand(const std::string& command, const TSlotRequests& requests);

}  // namespace velloran::web
