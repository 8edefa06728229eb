#pragma once
// Repair of the header of a WAV recording that was never finished (the program was killed
// between two header refreshes): the sizes in the header are set to the samples actually in
// the file, so that players play it to its end and not to the last refresh.
// - RIFF: the RIFF size and the data size. A RIFF file whose samples passed 4 GiB becomes RF64
//   when a JUNK chunk of at least 28 bytes leads the chunks (as the program's writer leaves
//   room for), otherwise both 32-bit sizes say "unknown" (0xFFFFFFFF).
// - RF64: the ds64 RIFF size, data size and sample count (the 32-bit sizes stay 0xFFFFFFFF).
// The data is frame-aligned: a partial frame at the end of the file (a write cut short) is cut
// off. A header that already fits its file (a data chunk followed by proper chunks, or sizes
// that match) is left alone, as is every file that is not a RIFF/RF64 WAVE file.
// Thread contract: pure function over the file, any thread; the caller makes sure no writer
// has the file open.
#include <string>

namespace velloran::slots {

// True when the header was rewritten. Raises velloran::Error when the file cannot be read or
// written, or is a WAVE file whose header cannot be made sense of.
bool RepairWavHeader(const std::string& path);

}  // namespace velloran::slots
