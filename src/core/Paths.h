#pragma once
// Process-level paths: special folders, the program's own folder and version, and the root
// folder that holds the configuration file.
// Thread contract: any thread. ResolveRootFolder reads the working directory; none of these
// functions keeps state.
#include <string>
#include <vector>

namespace velloran {

// Special-folder numbers understood by GetSpecialFolderPath.
constexpr int kCsidlMyMusic = 13;
constexpr int kCsidlCommonAppData = 35;

// Path of a special folder, without trailing separator:
// 35 (common application data): $XDG_CONFIG_HOME, else ~/.config;
// 13 (music): XDG_MUSIC_DIR of $XDG_CONFIG_HOME/user-dirs.dirs, else ~/Music.
// "" for any other number.
std::string GetSpecialFolderPath(int csidl);

// Folder of the program file, with a trailing "/".
std::string GetProgramFolder();

// The program version compiled in (project version and build number); always true.
bool GetProgramVersion(int& major, int& minor, int& release, int& build);

// The root folder for the given arguments (args[0] is the program, as CmdLineParams gives
// them): GetSpecialFolderPath(35) + "/Sondrel/Velloran/" unless an argument "-rootfolder"
// (exact spelling) is followed by a path; the last such pair wins. A relative path is taken
// from the working directory. The result is absolute and ends with "/".
std::string ResolveRootFolder(const std::vector<std::string>& args);

// Creates the folder and any missing parents; true when it exists afterwards.
bool CreateFolderWithParents(const std::string& path);

// The path with exactly one trailing "/" added when it has none.
std::string IncludeTrailingPathDelimiter(const std::string& path);

// File name of the configuration file inside the root folder.
inline constexpr const char* kConfigFileName = "Velloran.ini";

}  // namespace velloran
