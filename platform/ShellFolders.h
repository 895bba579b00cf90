#pragma once

// The system and special folders of the Windows shell, mapped to this
// system's folders: the XDG base and user folders, the home folder, and the
// program's own data folder standing in for the Windows folder. Paths are
// native; nothing is created.

#include <string>

namespace platform {

// A few CSIDL numbers by name; any other number is accepted too.
inline constexpr int CSIDL_DESKTOP = 0x00;
inline constexpr int CSIDL_CONTROLS = 0x03;
inline constexpr int CSIDL_PERSONAL = 0x05;
inline constexpr int CSIDL_FAVORITES = 0x06;
inline constexpr int CSIDL_TEMPLATES = 0x15;
inline constexpr int CSIDL_APPDATA = 0x1A;
inline constexpr int CSIDL_LOCAL_APPDATA = 0x1C;
inline constexpr int CSIDL_COMMON_FAVORITES = 0x1F;
inline constexpr int CSIDL_COMMON_APPDATA = 0x23;
inline constexpr int CSIDL_WINDOWS = 0x24;
inline constexpr int CSIDL_SYSTEM = 0x25;
inline constexpr int CSIDL_PROGRAM_FILES = 0x26;
inline constexpr int CSIDL_PROFILE = 0x28;
inline constexpr int CSIDL_COMMON_TEMPLATES = 0x2D;
inline constexpr int CSIDL_COMMON_DOCUMENTS = 0x2E;

// $XDG_DATA_HOME/hivescope: the folder of the program's own data, which
// stands in for the Windows folder.
std::string windowsDirectory();
// windowsDirectory() + "/system32".
std::string systemDirectory();
// The folder of a CSIDL number, or an empty text for a virtual folder (the
// control panel, the printers, ...) and for a folder this system has no
// counterpart of.
std::string specialFolderPath(int csidl);

}  // namespace platform
