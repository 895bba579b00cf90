#pragma once

// Where the files the program keeps beside itself live on this system, and
// how the program makes files and folders of its own.
//
// Read: the user's data folder first (what the program wrote there), then
// the folder of the program file, then the installed data folder
// (<prefix>/share/hivescope). Written: the user's data folder,
// $XDG_DATA_HOME/hivescope (XDG_DATA_HOME defaulting to ~/.local/share).
//
// What the program creates for itself may hold the data of every changed
// value, secrets of mounted hives included, so it is private to the user:
// folders 0700, files 0600, whatever the umask. What exists already keeps
// its permissions.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The files and folders of the table, by the names the program uses for them.
inline constexpr std::string_view kFamilySettingsFile = "xScope.ini";
inline constexpr std::string_view kLanguageFolder = "Languages";
inline constexpr std::string_view kHelpFolder = "Help";
inline constexpr std::string_view kInformationDatabaseFile = "Hivescope.rdb";
inline constexpr std::string_view kBookmarksFile = "Bookmarks.txt";

// $HOME, else the password database's home folder, else "/".
std::string homeFolder();
// An XDG base folder: the variable when it holds an absolute path, else
// $HOME/<fallbackBelowHome>.
std::string xdgFolder(const char* variable, const char* fallbackBelowHome);

// The folder of the running program file; empty when it cannot be told.
std::filesystem::path programFolder();
// <prefix>/share/hivescope of the installation.
std::filesystem::path installedDataFolder();
// $XDG_DATA_HOME/hivescope.
std::filesystem::path userDataFolder();

// The places `name` (a file or folder name relative to those folders, such
// as "Help/English.chm") is read from, in the order they are tried.
std::vector<std::filesystem::path> programFileReadPlaces(std::string_view name);
// The first of those places that exists; empty when none does.
std::filesystem::path findProgramFile(std::string_view name);
// Where the program writes `name`.
std::filesystem::path programFileWritePlace(std::string_view name);

// Creates `folder` and its missing parents with mode 0700; folders that exist
// keep their mode. 0 or an errno value (ENOTDIR when a component is a file).
[[nodiscard]] int createPrivateFolders(const std::filesystem::path& folder);
// Creates `file` empty with mode 0600 when it does not exist (its folder must
// exist); an existing file is left as it is. 0 or an errno value.
[[nodiscard]] int createPrivateFile(const std::filesystem::path& file);

}  // namespace platform
