#include "core/bwlRegHives.h"

#include <algorithm>
#include <system_error>

#include "core/LocaleText.h"
#include "core/bwlFFBootIni.h"
#include "core/bwlFilesPathsWinAPI.h"
#include "core/bwlRegTools.h"
#include "core/kxFileSys.h"
#include "core/kxStrings.h"
#include "platform/Paths.h"
#include "platform/Security.h"
#include "platform/ShellFolders.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

constexpr std::string_view kUsersPrefix = "HKEY_USERS\\";
constexpr std::string_view kClassesSuffix = "_Classes";
constexpr std::string_view kMountPrefix = "PE_";
constexpr const char* kUserHiveFile = "ntuser.dat";

// Where other installations keep their profiles, in the order they are tried.
const char* const kProfileFolders[] = {"Documents and Settings\\", "Dokumente und Einstellungen\\", "Users\\"};

bool fileExists(const std::string& windowsPath) {
  std::error_code ec;
  return fs::is_regular_file(windowsToLinuxPath(windowsPath), ec);
}

bool endsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// The text between the first and the second backslash after a drive's three
// characters ("C:\Documents and Settings\joe\..." gives "joe").
std::string secondPathElement(std::string_view path) {
  if (path.size() < 3) return {};
  const std::string_view rest = path.substr(3);
  const std::size_t first = rest.find('\\');
  if (first == std::string_view::npos) return {};
  const std::size_t second = rest.find('\\', first + 1);
  if (second == std::string_view::npos) return {};
  return std::string(rest.substr(first + 1, second - first - 1));
}

std::string readUsersString(const std::string& keyPath, const std::string& name) {
  std::string text;
  try {
    (void)ReadRegistryString(HKEY_USERS, keyPath, name, Bitness::x32, text);
  } catch (...) {
    text.clear();
  }
  return text;
}

std::string localAccountSid(const std::string& account) {
  BYTE sid[68];  // the largest SID: 15 sub-authorities
  DWORD sidSize = sizeof sid;
  char domain[256];
  DWORD domainSize = sizeof domain;
  SID_NAME_USE use{};
  if (!LookupAccountNameA(nullptr, account.c_str(), sid, &sidSize, domain, &domainSize, &use)) return {};
  LPSTR text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text) || text == nullptr) return {};
  std::string result(text);
  LocalFree(text);
  return result;
}

}  // namespace

bool HiveCandidateList::Add(const std::string& line) {
  const auto at = std::lower_bound(lines_.begin(), lines_.end(), line, [](const std::string& a, const std::string& b) {
    return core::CompareTextLocale(a, b) < 0;
  });
  if (at != lines_.end() && core::SameTextLocale(*at, line)) return false;
  lines_.insert(at, line);
  return true;
}

bool HiveCandidateList::HasTarget(std::string_view target) const {
  for (const std::string& line : lines_) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos && core::SameTextLocale(std::string_view(line).substr(eq + 1), target)) return true;
  }
  return false;
}

std::string UniqueUserHiveName(const HiveCandidateList& list, const std::string& name) {
  // One more try than there are candidates always finds a free name.
  std::string unique = name;
  for (std::size_t n = 1; n <= list.Lines().size() && list.HasTarget("HKU\\" + unique); ++n)
    unique = name + std::to_string(n);
  return unique;
}

TRegHiveManager::TRegHiveManager() : FLookupAccountSid(localAccountSid) {}

const std::vector<std::string>& TRegHiveManager::SystemHiveNames() {
  static const std::vector<std::string> names{"system", "software", "sam", "security", "default"};
  return names;
}

std::string TRegHiveManager::GetHiveUserName(const std::string& path) const {
  std::string name;
  if (path.compare(0, kUsersPrefix.size(), kUsersPrefix) == 0) {
    // The sub-key name runs to the next backslash or to the end.
    const std::string rest = path.substr(kUsersPrefix.size());
    std::string subKey = rest.substr(0, rest.find('\\'));
    if (subKey.compare(0, kMountPrefix.size(), kMountPrefix) != 0) {
      if (endsWith(subKey, kClassesSuffix)) subKey.resize(subKey.size() - kClassesSuffix.size());
      if (!subKey.empty()) {
        const std::string explorer = "\\" + subKey + "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
        name = readUsersString(explorer, "Logon User Name");
        if (name.empty()) name = secondPathElement(readUsersString(explorer + "\\Shell Folders", "Startup"));
      }
    } else {
      // PE_<drive>_<user>, as the manager names the hives it mounts.
      name = subKey.substr(kMountPrefix.size());
      const std::size_t underscore = name.find('_');
      if (underscore != std::string::npos) name.erase(0, underscore + 1);
      std::transform(name.begin(), name.end(), name.begin(),
                     [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    }
  } else if (path.size() >= 3 && path[1] == ':' && path[2] == '\\') {
    name = secondPathElement(path);
  }
  if (!name.empty() && name[0] >= 'a' && name[0] <= 'z') name[0] = static_cast<char>(name[0] - 32);
  return name;
}

void TRegHiveManager::ListLoadedUserHives(std::vector<std::string>& list) const {
  list.clear();
  (void)GetRegistryKeyNames(HKEY_USERS, "", &list, Is64Flag::no);
  std::erase_if(list, [](const std::string& name) { return endsWith(name, kClassesSuffix); });
}

void TRegHiveManager::FindProfileHives(HiveCandidateList& list) {
  try {
    const std::string profile = linuxToWindowsPath(GetSpecialFolderPath(CSIDL_PROFILE));
    const std::size_t slash = profile.rfind('\\');
    if (profile.empty() || slash == std::string::npos) return;
    const std::string profiles = profile.substr(0, slash + 1);

    // name=sub-key for every loaded user hive.
    std::vector<std::string> loaded;
    ListLoadedUserHives(loaded);
    std::vector<std::pair<std::string, std::string>> users;
    for (const std::string& subKey : loaded)
      users.emplace_back(GetHiveUserName(std::string(kUsersPrefix) + subKey + "\\SOFTWARE\\"), subKey);

    std::vector<std::string> entries;
    FindFiles(profiles, &entries, false, true, false, false, false);
    for (const std::string& entry : entries) {
      bool isLoaded = std::any_of(users.begin(), users.end(),
                                  [&](const auto& user) { return core::SameTextLocale(user.first, entry); });
      std::string sid;
      try {
        sid = FLookupAccountSid ? FLookupAccountSid(DottedNameToAccountName(entry)) : std::string();
        if (!sid.empty()) isLoaded = RegistryKeyExists(HKEY_USERS, "\\" + sid, ViewByte::v32);
      } catch (...) {
        sid.clear();
      }
      const std::string file = profiles + entry + "\\" + kUserHiveFile;
      if (isLoaded || !fileExists(file)) continue;
      list.Add(file + "=HKU\\" + (sid.empty() ? UniqueUserHiveName(list, entry) : sid));
    }
  } catch (...) {
    // Nothing is mounted from a profile folder that cannot be read.
  }
}

void TRegHiveManager::FindExternalUserHives(HiveCandidateList& list) { FindInstallationHives(list, false); }

void TRegHiveManager::FindExternalSystemHives(HiveCandidateList& list) { FindInstallationHives(list, true); }

void TRegHiveManager::FindInstallationHives(HiveCandidateList& list, bool system) {
  std::vector<std::string> windowsFolders{"\\WINDOWS", "\\WINNT"};
  const std::string windowsFolder = IncludeTrailingChar(GetWindowsFolderWindowsPath(), '\\');
  try {
    AddBootIniWindowsFolders("", windowsFolders);
  } catch (...) {
  }
  std::vector<Drive> drives = driveTable();
  std::sort(drives.begin(), drives.end(), [](const Drive& a, const Drive& b) { return a.letter < b.letter; });
  for (const Drive& drive : drives) {
    if (drive.letter < 'C' || drive.letter > 'W' || drive.letter == windowsFolder[0]) continue;
    try {
      const std::string root = std::string(1, drive.letter) + ":\\";
      // Folders one drive's boot.ini names are looked for on every later drive too.
      AddBootIniWindowsFolders(root, windowsFolders);
      if (system)
        scanForSystemHives(root, windowsFolders, list);
      else
        scanForUserHives(root, list);
    } catch (...) {
    }
  }
}

void TRegHiveManager::scanForSystemHives(const std::string& driveRoot, const std::vector<std::string>& windowsFolders,
                                         HiveCandidateList& list) {
  for (const std::string& folder : windowsFolders) {
    try {
      std::string config = folder + "\\System32\\config\\";
      if (!config.empty() && config[0] == '\\') config.erase(0, 1);
      config.insert(0, driveRoot);
      for (const std::string& name : SystemHiveNames())
        if (fileExists(config + name)) list.Add(config + name + "=HKLM\\" + name);
    } catch (...) {
    }
  }
}

void TRegHiveManager::scanForUserHives(const std::string& driveRoot, HiveCandidateList& list) {
  for (const char* profileFolder : kProfileFolders) {
    try {
      std::vector<std::string> profiles;
      FindFiles(driveRoot + profileFolder, &profiles, false, true, true, false, false);
      for (const std::string& profile : profiles) {
        const std::string file = profile + "\\" + kUserHiveFile;
        if (!fileExists(file)) continue;
        const std::string name = profile.substr(profile.rfind('\\') + 1);
        list.Add(file + "=HKU\\" + UniqueUserHiveName(list, name));
      }
    } catch (...) {
    }
  }
}

void TRegHiveManager::AddBootIniWindowsFolders(const std::string& driveRoot, std::vector<std::string>& list) {
  const std::string path = driveRoot.empty() ? std::string() : driveRoot + "boot.ini";
  if (!path.empty() && !fileExists(path)) return;
  std::vector<std::string> folders;
  TBootIni(path).GetWindowsFolders(folders);
  for (const std::string& folder : folders)
    if (std::none_of(list.begin(), list.end(), [&](const std::string& known) { return core::SameTextLocale(known, folder); }))
      list.push_back(folder);
}
