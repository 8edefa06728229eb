#pragma once
// Why a new recording cannot start, in words an operator can act on. A file that cannot be
// created (folder missing and not creatable, read-only file system, a name too long for the
// file system) is found before the encoder starts, because an external encoder that fails to
// open its output only ends on its own a moment later; an encoder program that is not on the
// PATH is named instead of the library's generic error.
// Thread contract: pure functions apart from the file system; any thread.
#include <string>

namespace velloran::slots {

// Creates the folder of fullPath with all missing parents, then creates and removes an empty
// file at fullPath (which must not exist yet). Returns "" when both work, otherwise the cause,
// e.g. "Unable to create folder /rec/2024: Read-only file system".
std::string PrepareRecordingTarget(const std::string& fullPath);

// The program a command line starts (its first argument, quotes removed); "" for none.
std::string EncoderProgramOf(const std::string& commandLine);

// True when program names an executable file: a name with a "/" as it stands, a bare name
// in one of the folders of PATH (the system default when PATH is unset).
bool ProgramFound(const std::string& program);

// The cause of a failed encoder start: for an external program, "No encoder program set" or
// "Encoder program \"%s\" not found" when that is why; otherwise the library's error text.
std::string DescribeEncoderStartFailure(const std::string& commandLine, bool externalProgram,
                                        int bassError);

}  // namespace velloran::slots
