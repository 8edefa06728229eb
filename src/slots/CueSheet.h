#pragma once
// Cue-sheet lines of a recording and the cue file beside it ("<file>.cue"): the file line when
// a file starts, then a track header, title and index line per incoming stream title.
// Thread contract: pure functions, any thread; WriteCueSheet writes one file.
#include <cstdint>
#include <string>
#include <vector>

namespace velloran::slots {

// FILE "<name without folder>" <TYPE>: the extension without its dot in upper case, WAV as WAVE.
std::string CueFileLine(const std::string& fullPath);
// "  TRACK %.2d AUDIO"
std::string CueTrackLine(int track);
// "    TITLE \"%s\""
std::string CueTitleLine(const std::string& title);
// "    INDEX 01 mm:ss:ff" for ms since the file start: minutes not limited to 59, 75 frames per
// second; a negative time counts as 0.
std::string CueIndexLine(int64_t msSinceStart);

// Writes the lines with CR LF line ends, replacing the file. Raises velloran::Error
// "Unable to write to %s" when the file cannot be written.
void WriteCueSheet(const std::string& path, const std::vector<std::string>& lines);

}  // namespace velloran::slots
