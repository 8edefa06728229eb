#pragma once
// Text of an audio-library error code, e.g. "invalid handle (BASS error 5)"; codes without a
// text (0 and -1 included) give "BASS error %d".
// Thread contract: pure function, any thread.
#include <string>

namespace velloran {

std::string BassErrorText(int code);

}  // namespace velloran
