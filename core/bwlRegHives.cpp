#include "core/bwlRegHives.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <system_error>

#include "core/LocaleText.h"
#include "core/bwlFFBootIni.h"
#include "core/bwlFFEventLogWindows.h"
#include "core/bwlFilesPathsWinAPI.h"
#include "core/bwlRegTools.h"
#include "core/bwlRegistry.h"
#include "core/kxFileSys.h"
#include "core/kxStrings.h"
#include "platform/ErrorText.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "platform/Text.h"
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

// The registration values of the categories, by number.
const char* const kCategoryValues[] = {"UserHives", "ExternalUserHives", "ExternalSystemHives"};
constexpr const char* kAppsValue = "Apps";

std::string upperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return text;
}

bool startsWith(std::string_view text, std::string_view start) { return text.substr(0, start.size()) == start; }

// The name part of a line "name=value".
std::string_view namePart(std::string_view line) { return line.substr(0, line.find('=')); }

// A multi-string's lines as the registry object gives them (CR LF between
// lines); a final break ends the last line rather than starting another.
std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i) text += "\r\n";
    text += lines[i];
  }
  return text;
}

// A value of another type than REG_MULTI_SZ reads as no lines.
std::vector<std::string> readLines(const TMyRegistry& registry, const std::string& name) {
  if (!registry.ValueExists(name) || registry.GetDataType(name) != rdMultiString) return {};
  return splitLines(registry.ReadMultiString(name));
}

platform::HKEY categoryRoot(int category) { return category == hcExternalSystemHives ? HKEY_LOCAL_MACHINE : HKEY_USERS; }

std::string runningProgramPath() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

std::string localTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// Every instance of this program and its siblings reads, changes and writes
// the registration values whole; this lock, on a file beside the default
// registry, keeps two of them from losing each other's lines. Without the
// file (a read-only registry folder) the values are used unlocked.
class RegistrationLock {
public:
  RegistrationLock() {
    const fs::path file = platform::registry::registryFolder() / "HiveManager.lock";
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~RegistrationLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  RegistrationLock(const RegistrationLock&) = delete;
  RegistrationLock& operator=(const RegistrationLock&) = delete;

private:
  int fd_ = -1;
};

}  // namespace

LSTATUS LoadOrUnloadHive(HKEY root, const std::u16string& mountName, const std::u16string& file, bool load) {
  // The restore privilege is enabled on every call; whether that worked shows
  // as the registry's answer to the load or unload.
  HANDLE token{};
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    (void)LookupPrivilegeValueA(nullptr, SE_RESTORE_NAME, &privileges.Privileges[0].Luid);
    alignas(TOKEN_PRIVILEGES) std::uint8_t previous[16];
    DWORD previousSize = 0;
    (void)AdjustTokenPrivileges(token, false, &privileges, sizeof previous,
                                reinterpret_cast<TOKEN_PRIVILEGES*>(previous), &previousSize);
    CloseHandle(token);
  }
  if (load) return RegLoadKeyW(root, mountName.c_str(), file.c_str());
  return RegUnLoadKeyW(root, mountName.c_str());
}

LSTATUS LoadHive(HKEY root, const std::u16string& mountName, const std::u16string& file) {
  return LoadOrUnloadHive(root, mountName, file, true);
}

LSTATUS UnloadHive(HKEY root, const std::u16string& mountName, const std::u16string& file) {
  return LoadOrUnloadHive(root, mountName, file, false);
}

TRegHiveManager& HiveManager() {
  static TRegHiveManager* manager = [] {
    (void)RegisterEventLogSource("Application", kHiveManagerEventSource, "", 7, 2);
    return new TRegHiveManager;  // lives to the end of the process, like the registry it points into
  }();
  return *manager;
}

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

TRegHiveManager::TRegHiveManager() : FLookupAccountSid(localAccountSid), FProgramPath(runningProgramPath()) {}

bool TRegHiveManager::changeRegistration(const char* valueName,
                                         const std::function<bool(std::vector<std::string>&)>& change,
                                         bool canCreate) {
  try {
    RegistrationLock lock;
    TMyRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!(canCreate ? registry.OpenKey(kHiveRegistrationKey, true) : registry.OpenKeyReadOnly(kHiveRegistrationKey)))
      return false;
    // Another instance may have written the value a moment ago.
    (void)platform::registry::refreshKeyHive(registry.CurrentKey());
    std::vector<std::string> lines = readLines(registry, valueName);
    if (change(lines)) {
      registry.WriteMultiString(valueName, joinLines(lines));
      // On disk before the lock goes, for the next instance to read.
      if (RegFlushKey(registry.CurrentKey()) != ERROR_SUCCESS) return false;
    }
    registry.CloseKey();
    return true;
  } catch (...) {
    return false;
  }
}

bool TRegHiveManager::ReadRegisteredApps(std::vector<std::string>& list) {
  list.clear();
  const bool read = changeRegistration(
      kAppsValue,
      [&](std::vector<std::string>& lines) {
        list = lines;
        return false;
      },
      false);
  if (read) FRegistered = true;
  return read;
}

bool TRegHiveManager::ReadHiveEntries(std::vector<std::string>& list, int category) {
  list.clear();
  if (category < 0 || category > 2) return false;
  return changeRegistration(kCategoryValues[category], [&](std::vector<std::string>& lines) {
    list = lines;
    return false;
  });
}

bool TRegHiveManager::AddHiveEntry(const std::string& file, const std::string& mountName, int category) {
  if (category < 0 || category > 2) return false;
  return changeRegistration(kCategoryValues[category], [&](std::vector<std::string>& lines) {
    if (std::any_of(lines.begin(), lines.end(),
                    [&](const std::string& line) { return core::SameTextLocale(namePart(line), file); }))
      return false;
    lines.push_back(file + "=" + mountName);
    return true;
  });
}

bool TRegHiveManager::RemoveHiveEntry(const std::string& file, int category) {
  if (category < 0 || category > 2) return false;
  return changeRegistration(kCategoryValues[category], [&](std::vector<std::string>& lines) {
    const auto at = std::find_if(lines.begin(), lines.end(),
                                 [&](const std::string& line) { return core::SameTextLocale(namePart(line), file); });
    if (at == lines.end()) return false;
    lines.erase(at);
    return true;
  });
}

bool TRegHiveManager::Unregister() {
  bool empty = false;
  const bool written = changeRegistration(kAppsValue, [&](std::vector<std::string>& lines) {
    const auto at = std::find_if(lines.begin(), lines.end(),
                                 [&](const std::string& line) { return core::SameTextLocale(line, FProgramPath); });
    const bool found = at != lines.end();
    if (found) lines.erase(at);
    empty = lines.empty();
    return found;
  });
  FRegistered = false;
  if (!written) return false;
  return empty ? UnloadIfUnused() : true;
}

int TRegHiveManager::CountRegisteredApps(bool excludeSelf) {
  std::vector<std::string> apps;
  if (!ReadRegisteredApps(apps)) {
    // No key means no program listed; any other failure keeps the hives.
    if (!RegistryKeyExists(HKEY_LOCAL_MACHINE, kHiveRegistrationKey, ViewByte::v32)) return 0;
    return 1;
  }
  if (excludeSelf)
    std::erase_if(apps, [&](const std::string& line) { return core::SameTextLocale(line, FProgramPath); });
  return static_cast<int>(apps.size());
}

bool TRegHiveManager::UnloadIfUnused() {
  if (CountRegisteredApps(true) != 0) return true;
  return UnloadAll();
}

bool TRegHiveManager::UnloadAll() {
  bool ok = true;
  for (int category = 0; category <= 2; ++category)
    if (!UnloadCategory(category)) ok = false;
  return ok;
}

bool TRegHiveManager::UnloadCategory(int category) {
  std::vector<std::string> lines;
  if (!ReadHiveEntries(lines, category)) return false;
  bool ok = true;
  for (const std::string& line : lines) {
    const std::size_t eq = line.find('=');
    const std::string file = line.substr(0, eq);
    const std::string mountName = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    const LSTATUS rc = UnloadHive(categoryRoot(category), ansiToWide(mountName), ansiToWide(file));
    // A mount lives only as long as the process that made it, so a line left
    // by a run that ended without unloading names no mount: it is done with.
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
      LogError("Unable to unload hive " + file, static_cast<std::uint32_t>(rc));
      ok = false;
      continue;
    }
    if (!RemoveHiveEntry(file, category)) ok = false;
  }
  return ok;
}

void TRegHiveManager::dropMountedCandidates(HiveCandidateList& list, int category) {
  std::vector<std::string> recorded;
  if (!ReadHiveEntries(recorded, category) || recorded.empty()) return;
  list.RemoveIf([&](const std::string& candidate) {
    const std::string_view file = namePart(candidate);
    for (const std::string& line : recorded) {
      const std::size_t eq = line.find('=');
      if (eq == std::string::npos || !core::SameTextLocale(namePart(line), file)) continue;
      const std::string mountName = line.substr(eq + 1);
      if (!mountName.empty() &&
          RegistryKeyExists(categoryRoot(category), "\\" + mountName,
                            category == hcExternalSystemHives ? ViewByte::v64 : ViewByte::v32))
        return true;
    }
    return false;
  });
}

int TRegHiveManager::MountHives(unsigned flags) {
  if ((flags & 7) == 0) return 0;
  HiveCandidateList candidates;
  if (flags & kHivesOfProfiles) {
    FindProfileHives(candidates);
    dropMountedCandidates(candidates, hcUserHives);
  }
  if (flags & kUserHivesOfInstallations) {
    FindExternalUserHives(candidates);
    dropMountedCandidates(candidates, hcExternalUserHives);
  }
  if (flags & kSystemHivesOfInstallations) {
    FindExternalSystemHives(candidates);
    dropMountedCandidates(candidates, hcExternalSystemHives);
  }
  return MountHiveList(candidates.Lines());
}

int TRegHiveManager::MountHiveList(const std::vector<std::string>& list) {
  int mounted = 0;
  std::vector<std::string> used;
  const auto isUsed = [&](const std::string& name) {
    return std::any_of(used.begin(), used.end(), [&](const std::string& u) { return core::SameTextLocale(u, name); });
  };
  for (const std::string& candidate : list) {
    try {
      const std::size_t eq = candidate.find('=');
      if (eq == std::string::npos || eq == 0) continue;
      const std::string file = candidate.substr(0, eq);
      const std::string target = candidate.substr(eq + 1);
      const bool system = startsWith(target, "HKLM");
      if (!system && !startsWith(target, "HKU")) continue;
      const std::string name = upperAscii(target.substr(system ? 5 : 4));
      const std::string drive(1, file[0]);
      const bool sidName = !system && startsWith(name, "S-1-");
      std::string mountName = sidName ? name : std::string(kMountPrefix) + drive + "_" + name;
      for (int n = 0; isUsed(mountName); ++n)
        mountName = std::string(kMountPrefix) + drive + std::to_string(n) + "_" + name;

      const LSTATUS rc = LoadHive(system ? HKEY_LOCAL_MACHINE : HKEY_USERS, ansiToWide(mountName), ansiToWide(file));
      if (rc != ERROR_SUCCESS) {
        LogError((system ? "Error system loading hive " : "Error user loading hive ") + file,
                 static_cast<std::uint32_t>(rc));
      } else {
        ++mounted;
        const int category = system ? hcExternalSystemHives : startsWith(mountName, "S-") ? hcUserHives : hcExternalUserHives;
        (void)AddHiveEntry(file, mountName, category);
      }
      used.push_back(mountName);
    } catch (...) {
      if (FInformUser) FInformUser("error loading hive: " + candidate);
    }
  }
  return mounted;
}

void TRegHiveManager::ListMountedPEPrefixes(std::vector<std::string>& list) const {
  std::vector<std::string> names;
  (void)GetRegistryKeyNames(HKEY_LOCAL_MACHINE, "", &names, Is64Flag::yes);
  for (const std::string& name : names) {
    if (!startsWith(name, kMountPrefix)) continue;
    const std::string rest = name.substr(kMountPrefix.size());
    const std::size_t underscore = rest.find('_');
    if (underscore == std::string::npos) continue;
    const std::string prefix = std::string(kMountPrefix) + rest.substr(0, underscore + 1);
    if (std::find(list.begin(), list.end(), prefix) == list.end()) list.push_back(prefix);
  }
}

void TRegHiveManager::LogError(const std::string& message, std::uint32_t code) {
  try {
    const std::string errorText = platform::systemErrorText(code);
    FErrorLog.push_back(localTimeText() + "  " + message + " (" + errorText + ")");
    (void)WriteEventLogEntry(EVENTLOG_WARNING_TYPE, 1, kHiveManagerEventSource,
                             FProgramPath + "\r\n" + message + "\r\n" + errorText);
  } catch (...) {
  }
}

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
