#include "core/bwlFilesPathsWinAPI.h"

#include "core/bwlRegTools.h"
#include "platform/Paths.h"
#include "platform/ShellFolders.h"

using namespace platform;

namespace {

constexpr const char* kShellFoldersKey = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\";
constexpr const char* kCurrentVersionKey = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";

std::string readString(HKEY root, const std::string& key, const std::string& name) {
  std::string text;
  try {
    (void)ReadRegistryString(root, key, name, Bitness::x32, text);
  } catch (...) {
    text.clear();
  }
  return text;
}

}  // namespace

std::string GetWindowsFolder() { return windowsDirectory(); }

std::string GetWindowsFolderWindowsPath() {
  std::string path = linuxToWindowsPath(GetWindowsFolder());
  const bool onDrive = path.size() >= 2 && path[1] == ':';
  if (!onDrive) path.insert(0, path.empty() || path[0] != '\\' ? "C:\\" : "C:");
  return path;
}

std::string GetSystemFolder() { return systemDirectory(); }

std::string GetSpecialFolderPath(int csidl) {
  try {
    return specialFolderPath(csidl);
  } catch (...) {
    return {};
  }
}

std::string GetShellFolderPath(int csidl) { return GetSpecialFolderPath(csidl); }

std::string MySpecialDir(int csidl) {
  std::string path = GetShellFolderPath(csidl);
  if (!path.empty()) return path;
  switch (csidl) {
    case 6: return readString(HKEY_CURRENT_USER, kShellFoldersKey, "Favorites");
    case 21: return readString(HKEY_CURRENT_USER, kShellFoldersKey, "Templates");
    case 31: return readString(HKEY_LOCAL_MACHINE, kShellFoldersKey, "Common Favorites");
    case 35: return GetShellFolderPath(26);
    case 36: return GetWindowsFolder();
    case 37: return GetSystemFolder();
    case 38: return readString(HKEY_LOCAL_MACHINE, kCurrentVersionKey, "ProgramFilesDir");
    case 45: return readString(HKEY_LOCAL_MACHINE, kShellFoldersKey, "Common Templates");
    case 46: return readString(HKEY_LOCAL_MACHINE, kShellFoldersKey, "Common Documents");
    default: return {};
  }
}

std::string GetControlPanelFolder(const std::string& registryPrefix, const std::string& windowsFolder) {
  try {
    const std::string key =
        "\\" + registryPrefix + "Software\\CLASSES\\CLSID\\{21EC2020-3AEA-1069-A2DD-08002B30309D}\\";
    std::string name;
    (void)ReadRegistryString(HKEY_LOCAL_MACHINE, key, "", Bitness::x32, name);
    if (name.empty()) (void)ReadRegistryString(HKEY_LOCAL_MACHINE, key, "", Bitness::x64, name);
    if (name.empty()) name = "Systemsteuerung";
    return windowsFolder + "/" + name;
  } catch (...) {
    return "C:\\Windows\\Systemsteuerung";
  }
}
