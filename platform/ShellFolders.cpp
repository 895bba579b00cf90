#include "platform/ShellFolders.h"

#include <cstdlib>
#include <fstream>
#include <string_view>

namespace platform {

namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return (v && *v) ? std::string(v) : std::string();
}

std::string home() {
  std::string h = env("HOME");
  return h.empty() ? std::string("/") : h;
}

std::string xdgBase(const char* var, const char* fallbackUnderHome) {
  std::string v = env(var);
  // The XDG rules ignore a relative path.
  if (!v.empty() && v.front() == '/') return v;
  return home() + "/" + fallbackUnderHome;
}

// A user folder from user-dirs.dirs (XDG_DESKTOP_DIR="$HOME/Desktop"), else
// its usual default under the home folder.
std::string userDir(std::string_view key, const char* fallbackName) {
  std::ifstream in(xdgBase("XDG_CONFIG_HOME", ".config") + "/user-dirs.dirs");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size(), key) != 0 || line.size() <= key.size() || line[key.size()] != '=') continue;
    std::string value = line.substr(key.size() + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.compare(0, 5, "$HOME") == 0) value = home() + value.substr(5);
    if (!value.empty() && value.front() == '/') return value;
  }
  return home() + "/" + fallbackName;
}

}  // namespace

std::string windowsDirectory() { return xdgBase("XDG_DATA_HOME", ".local/share") + "/hivescope"; }

std::string systemDirectory() { return windowsDirectory() + "/system32"; }

std::string specialFolderPath(int csidl) {
  const std::string data = xdgBase("XDG_DATA_HOME", ".local/share");
  switch (csidl) {
    case 0x00:  // CSIDL_DESKTOP
    case 0x10:  // CSIDL_DESKTOPDIRECTORY
    case 0x19:  // CSIDL_COMMON_DESKTOPDIRECTORY
      return userDir("XDG_DESKTOP_DIR", "Desktop");
    case 0x02:  // CSIDL_PROGRAMS
    case 0x17:  // CSIDL_COMMON_PROGRAMS
      return data + "/applications";
    case 0x05:  // CSIDL_PERSONAL
    case 0x2E:  // CSIDL_COMMON_DOCUMENTS
      return userDir("XDG_DOCUMENTS_DIR", "Documents");
    case 0x07:  // CSIDL_STARTUP
    case 0x18:  // CSIDL_COMMON_STARTUP
      return xdgBase("XDG_CONFIG_HOME", ".config") + "/autostart";
    case 0x0D:  // CSIDL_MYMUSIC
      return userDir("XDG_MUSIC_DIR", "Music");
    case 0x0E:  // CSIDL_MYVIDEO
      return userDir("XDG_VIDEOS_DIR", "Videos");
    case 0x14:  // CSIDL_FONTS
      return data + "/fonts";
    case 0x15:  // CSIDL_TEMPLATES
    case 0x2D:  // CSIDL_COMMON_TEMPLATES
      return userDir("XDG_TEMPLATES_DIR", "Templates");
    case 0x1A:  // CSIDL_APPDATA
    case 0x1C:  // CSIDL_LOCAL_APPDATA
      return data;
    case 0x20:  // CSIDL_INTERNET_CACHE
      return xdgBase("XDG_CACHE_HOME", ".cache");
    case 0x24:  // CSIDL_WINDOWS
      return windowsDirectory();
    case 0x25:  // CSIDL_SYSTEM
    case 0x29:  // CSIDL_SYSTEMX86
      return systemDirectory();
    case 0x26:  // CSIDL_PROGRAM_FILES
    case 0x2A:  // CSIDL_PROGRAM_FILESX86
      return "/usr/local";
    case 0x27:  // CSIDL_MYPICTURES
    case 0x36:  // CSIDL_COMMON_PICTURES
      return userDir("XDG_PICTURES_DIR", "Pictures");
    case 0x28:  // CSIDL_PROFILE
      return home();
    default:
      // Virtual folders and folders with no counterpart here: favourites,
      // recent files, the common application data, ...
      return {};
  }
}

}  // namespace platform
