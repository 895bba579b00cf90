#pragma once

// The Windows, system and special folders. Paths are native; the special
// folders come from the platform's mapping to this system's folders.

#include <string>

std::string GetWindowsFolder();
// GetWindowsFolder in Windows form ("C:\home\...") through the drive table;
// on C: when no drive holds it. The running system is the one on that drive.
std::string GetWindowsFolderWindowsPath();
std::string GetSystemFolder();
// The folder of a CSIDL number; empty for a virtual folder or on failure.
// The two are the same function under the names their callers use.
std::string GetSpecialFolderPath(int csidl);
std::string GetShellFolderPath(int csidl);
// GetShellFolderPath with fallbacks: for the favourites, templates, common
// favourites, common templates and common documents the "Shell Folders"
// registry key, for the program files the "ProgramFilesDir" value, for the
// common application data the user's one, and the Windows and system folders.
std::string MySpecialDir(int csidl);
// The Windows folder + "/" + the control panel's display name from
// "\<prefix>Software\CLASSES\CLSID\{21EC2020-3AEA-1069-A2DD-08002B30309D}\"
// under HKEY_LOCAL_MACHINE (32-bit view, then 64-bit), "Systemsteuerung" when
// it has none.
std::string GetControlPanelFolder(const std::string& registryPrefix, const std::string& windowsFolder);
