#include "core/kxPathSolve.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "core/LocaleText.h"
#include "core/bwlFilesPathsWinAPI.h"
#include "core/bwlRegHives.h"
#include "core/bwlRegTools.h"
#include "core/kxStrings.h"
#include "platform/Paths.h"
#include "platform/RegistryStore.h"

using platform::HKEY;
using platform::HKEY_CURRENT_USER;
using platform::HKEY_LOCAL_MACHINE;
using platform::HKEY_USERS;

namespace {

// The folder table: the names with a special-folder number, in the order
// their lines are made.
struct FolderRow {
  const char* name;
  int csidl;  // -1: filled by later steps
};
constexpr FolderRow kFolderRows[] = {
    {"FIXEDDRIVES", -1}, {"SYSDRIVE", -1},    {"WINDIR", 36},        {"WINDIR2", -1},
    {"SYSDIR", 37},      {"SYSDIR2", -1},     {"FONTS", 20},         {"CONTROLS", 3},
    {"SYSCPLDIR", -1},   {"PATH", -1},        {"PROGRAMFILES", 38},  {"COMMONPROGRAMFILES", 43},
    {"PROFILES", 62},    {"PROFILE", 40},     {"APPDATA", 26},       {"QUICKLAUNCH", -1},
    {"ADESKTOP", 0},     {"COMMONAPPDATA", 35}, {"COMMONQUICKLAUNCH", -1}, {"COMMONDESKTOP", 25},
    {"COMMONDOCUMENTS", 46}, {"COMMONMUSIC", 53}, {"COMMONVIDEO", 55},
    {"DESKTOP", 16},     {"FAVORITES", 6},    {"LOCALSETTINGS", -1}, {"LOCALAPPDATA", 28},
    {"PERSONAL", 5},     {"MYDOCUMENTS", 12}, {"MYMUSIC", 13},       {"MYVIDEO", 14},
    {"NETHOOD", 19},     {"PRINTHOOD", 27},   {"RECENT", 8},         {"SENDTO", 9},
    {"STARTMENU", 11},   {"PROGRAMS", 2},     {"ALTSTARTUP", 29},    {"STARTUP", 7},
    {"TEMPLATES", 21},   {"COMMONFAVORITES", 31}, {"COMMONSTARTMENU", 22}, {"COMMONPROGRAMS", 23},
    {"COMMONALTSTARTUP", 30}, {"COMMONSTARTUP", 24}, {"COMMONTEMPLATES", 45},
};

// The registry table.
struct RegistryRow {
  const char* token;
  bool machine;  // HKEY_LOCAL_MACHINE, else HKEY_CURRENT_USER
  const char* keyPath;
  const char* valueName;
  bool secondPassOnly, absolute, overwrite;
  const char* cut;
};
constexpr const char* kShellFolders = "Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\";
constexpr const char* kUserShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\";
constexpr const char* kCurrentVersion = "Microsoft\\Windows\\CurrentVersion\\";
constexpr RegistryRow kRegistryRows[] = {
    {"<$COMMONDESKTOP>", true, kShellFolders, "Common Desktop", false, false, false, ""},
    {"<$COMMONAPPDATA>", true, kShellFolders, "Common AppData", false, false, false, ""},
    {"<$COMMONSTARTUP>", true, kShellFolders, "Common Startup", false, false, false, ""},
    {"<$COMMONSTARTMENU>", true, kShellFolders, "Common Start Menu", false, false, false, ""},
    {"<$COMMONPROGRAMS>", true, kShellFolders, "Common Programs", false, false, false, ""},
    {"<$COMMONFAVORITES>", true, kShellFolders, "Common Favorites", false, false, false, ""},
    {"<$COMMONTEMPLATES>", true, kShellFolders, "Common Templates", false, false, false, ""},
    {"<$COMMONDOCUMENTS>", true, kShellFolders, "Common Documents", false, false, false, ""},
    {"<$COMMONPROGRAMFILES>", true, kCurrentVersion, "CommonFilesDir", false, true, true, ""},
    {"<$PROGRAMFILES>", true, kCurrentVersion, "ProgramFilesDir", false, false, true, ""},
    {"<$DESKTOP>", false, kUserShellFolders, "Desktop", true, true, false, ""},
    {"<$APPDATA>", false, kUserShellFolders, "AppData", true, true, false, ""},
    {"<$STARTUP>", false, kUserShellFolders, "Startup", true, true, false, ""},
    {"<$STARTMENU>", false, kUserShellFolders, "Start Menu", true, true, false, ""},
    {"<$PROGRAMS>", false, kUserShellFolders, "Programs", true, true, false, ""},
    {"<$FAVORITES>", false, kUserShellFolders, "Favorites", true, true, false, ""},
    {"<$TEMPLATES>", false, kUserShellFolders, "Templates", true, true, false, ""},
    {"<$PERSONAL>", false, kUserShellFolders, "Personal", true, true, false, ""},
    {"<$LOCALAPPDATA>", false, kUserShellFolders, "Local AppData", true, true, false, ""},
    {"<$LOCALSETTINGS>", false, kUserShellFolders, "Local Settings", true, true, false, ""},
    {"<$PATH>", false, "Environment\\", "PATH", false, true, false, ";"},
};

// A token without a folder takes another's.
constexpr std::pair<const char*, const char*> kCopyRows[] = {
    {"<$COMMONALTSTARTUP>", "<$COMMONSTARTUP>"}, {"<$COMMONSTARTMENU>", "<$STARTMENU>"},
    {"<$COMMONPROGRAMS>", "<$PROGRAMS>"},       {"<$COMMONFAVORITES>", "<$FAVORITES>"},
    {"<$ALTSTARTUP>", "<$STARTUP>"},
};

// The user folders a user hive's shell folders give.
constexpr std::pair<const char*, const char*> kUserHiveRows[] = {
    {"Desktop", "<$DESKTOP>"},        {"AppData", "<$APPDATA>"},     {"Startup", "<$STARTUP>"},
    {"Start Menu", "<$STARTMENU>"},   {"Programs", "<$PROGRAMS>"},   {"Favorites", "<$FAVORITES>"},
    {"Templates", "<$TEMPLATES>"},    {"Personal", "<$PERSONAL>"},   {"Local AppData", "<$LOCALAPPDATA>"},
    {"Local Settings", "<$LOCALSETTINGS>"},
};

// Expansions of one text into its alternatives stop here, whatever folders
// hold.
constexpr std::size_t kMaxAlternativeLines = 100000;

std::string token(const char* name) { return std::string("<$") + name + ">"; }

bool sameText(std::string_view a, std::string_view b) { return core::SameTextLocale(a, b); }

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// Every occurrence of what in text, case ignored, replaced by with.
std::string replaceAllIgnoringCase(const std::string& text, const std::string& what, const std::string& with) {
  if (what.empty()) return text;
  std::string result;
  std::size_t i = 0;
  while (i < text.size()) {
    bool match = text.size() - i >= what.size();
    for (std::size_t k = 0; match && k < what.size(); ++k) match = lowerAscii(text[i + k]) == lowerAscii(what[k]);
    if (match) {
      result += with;
      i += what.size();
    } else {
      result += text[i++];
    }
  }
  return result;
}

// Folders enter the tables in Windows form; the registry of this system
// holds native paths, that of a Windows installation Windows ones.
std::string windowsForm(const std::string& folder) {
  if (!folder.empty() && folder[0] == '/') return platform::linuxToWindowsPath(folder);
  return folder;
}

// The folder holding path: its text up to the last backslash.
std::string parentFolder(const std::string& path) {
  const std::size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string specialFolder(int csidl) { return NormalizeFolderPath(windowsForm(MySpecialDir(csidl))); }

bool readString(HKEY root, const std::string& key, const std::string& name, int view, std::string& text) {
  try {
    return ReadRegistryString(root, key, name, view == 64 ? Bitness::x64 : Bitness::x32, text);
  } catch (...) {
    return false;
  }
}

void updateFromRegistry(PlaceholderList& list, const std::string& tokenText, HKEY root, const std::string& key,
                        const std::string& valueName, int view, bool overwrite, const std::string& suffix,
                        const std::string& cut) {
  if (!list.Value(tokenText).empty() && !overwrite) return;
  std::string value;
  if (!readString(root, key, valueName, view, value)) return;
  if (!cut.empty() && value.find(cut) != std::string::npos) {
    value.resize(value.find(cut));
    if (!value.empty() && value.back() == '\\') value.pop_back();
  }
  list.SetValue(tokenText, NormalizeFolderPath(windowsForm(value)) + suffix);
}

void copyIfEmpty(PlaceholderList& list, const std::string& target, const std::string& source) {
  if (list.Value(target).empty()) list.SetValue(target, NormalizeFolderPath(list.Value(source)));
}

void addFixedDrives() {
  for (const platform::Drive& drive : platform::driveTable())
    if (drive.letter >= 'C' && drive.letter <= 'W')
      PathPlaceholderAlternatives().Add("<$FIXEDDRIVES>", std::string(1, drive.letter) + ":");
}

// The tables of this run, and what they were built from. They are built once
// per run; only a test that points the registry or the user's folders
// elsewhere sees them built again.
struct Tables {
  std::recursive_mutex mutex;
  PlaceholderList primary;
  PlaceholderAlternatives alternatives;
  std::string builtFor;
  bool building = false;
};

Tables& tables() {
  static Tables* t = new Tables;  // used until the very end of the process
  return *t;
}

std::string environmentKey() {
  std::string key = platform::registry::registryFolder().string();
  for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "HOME", "HIVESCOPE_DRIVES"}) {
    const char* value = std::getenv(name);
    key += '\n';
    key += value ? value : "";
  }
  return key;
}

void build(Tables& t) {
  t.building = true;
  t.primary = {};
  t.alternatives = {};
  BuildPlaceholderTable(t.primary, "", 64);
  GroupPlaceholderAlternatives(t.primary);
  BuildPlaceholderTable(t.primary, "", 32);
  GroupPlaceholderAlternatives(t.primary);
  t.building = false;
}

Tables& builtTables() {
  Tables& t = tables();
  std::lock_guard lock(t.mutex);
  if (t.building) return t;
  const std::string key = environmentKey();
  if (t.builtFor != key) {
    t.builtFor = key;
    build(t);
  }
  return t;
}

}  // namespace

// ---------------------------------------------------------------- tables

std::vector<std::pair<std::string, std::string>>::iterator PlaceholderList::find(const std::string& tokenText) {
  return std::find_if(lines_.begin(), lines_.end(), [&](const auto& line) { return sameText(line.first, tokenText); });
}

std::vector<std::pair<std::string, std::string>>::const_iterator PlaceholderList::find(
    const std::string& tokenText) const {
  return std::find_if(lines_.begin(), lines_.end(), [&](const auto& line) { return sameText(line.first, tokenText); });
}

bool PlaceholderList::Has(const std::string& tokenText) const { return find(tokenText) != lines_.end(); }

std::string PlaceholderList::Value(const std::string& tokenText) const {
  const auto at = find(tokenText);
  return at == lines_.end() ? std::string() : at->second;
}

void PlaceholderList::SetValue(const std::string& tokenText, const std::string& folder) {
  const auto at = find(tokenText);
  if (at == lines_.end()) {
    if (!folder.empty()) lines_.emplace_back(tokenText, folder);
  } else if (folder.empty()) {
    lines_.erase(at);
  } else {
    at->second = folder;
  }
}

void PlaceholderList::ReplaceFirst(const std::string& tokenText, const std::string& folder) {
  const auto at = find(tokenText);
  if (at != lines_.end()) at->second = folder;
}

void PlaceholderAlternatives::Add(const std::string& tokenText, const std::string& folder) {
  auto at = std::find_if(tokens_.begin(), tokens_.end(), [&](const auto& t) { return sameText(t.first, tokenText); });
  if (at == tokens_.end()) {
    tokens_.emplace_back(tokenText, std::vector<std::string>{});
    at = tokens_.end() - 1;
  }
  std::vector<std::string>& folders = at->second;
  const auto less = [](const std::string& a, const std::string& b) { return core::CompareTextLocale(a, b) < 0; };
  const auto place = std::lower_bound(folders.begin(), folders.end(), folder, less);
  if (place != folders.end() && sameText(*place, folder)) return;
  folders.insert(place, folder);
}

const std::vector<std::string>* PlaceholderAlternatives::Folders(const std::string& tokenText) const {
  const auto at =
      std::find_if(tokens_.begin(), tokens_.end(), [&](const auto& t) { return sameText(t.first, tokenText); });
  return at == tokens_.end() ? nullptr : &at->second;
}

PlaceholderList& PathPlaceholders() { return builtTables().primary; }
PlaceholderAlternatives& PathPlaceholderAlternatives() { return builtTables().alternatives; }

void RebuildPathPlaceholders() {
  Tables& t = tables();
  std::lock_guard lock(t.mutex);
  t.builtFor = environmentKey();
  build(t);
}

std::string NormalizeFolderPath(std::string path) {
  for (std::size_t at; (at = path.find("\\\\")) != std::string::npos;) path.erase(at, 1);
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

// ---------------------------------------------------------------- building

void BuildPlaceholderTable(PlaceholderList& list, const std::string& prefix, int pass) {
  if (prefix.empty()) {
    if (pass == 32) addFixedDrives();
    list.Append("<$LOCALSETTINGS>", "");
    list.Append("<$WINDIR2>", NormalizeFolderPath(windowsForm(GetWindowsFolder())));
    list.Append("<$SYSDIR2>", NormalizeFolderPath(windowsForm(GetSystemFolder())));
    list.Append("<$QUICKLAUNCH>", specialFolder(26) + "\\Microsoft\\Internet Explorer\\Quick Launch");
    list.Append("<$COMMONQUICKLAUNCH>", specialFolder(35) + "\\Microsoft\\Internet Explorer\\Quick Launch");
    for (const FolderRow& row : kFolderRows) {
      if (row.csidl < 0) continue;
      try {
        list.Append(token(row.name), specialFolder(row.csidl));
      } catch (...) {
      }
    }
  }

  std::string software = prefix + "Software\\";
  if (pass == 32 && RegistryKeyExists(HKEY_LOCAL_MACHINE, "\\" + prefix + "Software\\Wow6432Node\\", ViewByte::v32))
    software = prefix + "Software\\Wow6432Node\\";

  for (const RegistryRow& row : kRegistryRows) {
    if (row.secondPassOnly && pass != 32) continue;
    const std::string key = "\\" + (row.absolute ? prefix : software) + row.keyPath;
    updateFromRegistry(list, row.token, row.machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, key, row.valueName,
                       row.secondPassOnly ? 32 : pass, row.overwrite, "", row.cut);
  }
  for (const auto& [target, source] : kCopyRows) copyIfEmpty(list, target, source);

  list.SetValue("<$SYSDRIVE>", list.Value("<$WINDIR>").substr(0, 2));
  if (list.Value("<$PROFILE>").empty() && !list.Value("<$DESKTOP>").empty())
    list.SetValue("<$PROFILE>", parentFolder(list.Value("<$DESKTOP>")));
  if (list.Has("<$PROFILES>") && list.Value("<$PROFILES>").empty() && !list.Value("<$PROFILE>").empty())
    list.ReplaceFirst("<$PROFILES>", NormalizeFolderPath(parentFolder(list.Value("<$PROFILE>"))));

  const std::string nt = "\\" + prefix + "Software\\Microsoft\\Windows NT\\CurrentVersion\\";
  const std::string windows = "\\" + prefix + "Software\\Microsoft\\Windows\\CurrentVersion\\";
  updateFromRegistry(list, "<$WINDIR>", HKEY_LOCAL_MACHINE, nt, "SystemRoot", 32, false, "", "");
  updateFromRegistry(list, "<$WINDIR>", HKEY_LOCAL_MACHINE, nt, "PathName", 32, false, "", "");
  updateFromRegistry(list, "<$SYSDIR>", HKEY_LOCAL_MACHINE, windows + "Setup\\", "WinDir", 32, false, "", "");
  updateFromRegistry(list, "<$WINDIR>", HKEY_LOCAL_MACHINE, windows, "SystemRoot", 32, false, "", "");
  copyIfEmpty(list, "<$WINDIR2>", "<$WINDIR>");
  // These keys lie below the Software key twice over, as they always did;
  // "<$TEMP>" has no line of its own from them.
  updateFromRegistry(list, "<$TEMP>", HKEY_LOCAL_MACHINE,
                     "\\" + software + "Software\\Microsoft\\Windows NT\\CurrentVersion\\", "SystemRoot", pass, false,
                     "\\Temp", "");
  updateFromRegistry(list, "<$TEMP>", HKEY_LOCAL_MACHINE,
                     "\\" + software + "Software\\Microsoft\\Windows NT\\CurrentVersion\\", "PathName", pass, false,
                     "\\Temp", "");
  updateFromRegistry(list, "<$TEMP>", HKEY_LOCAL_MACHINE,
                     "\\" + software + "Software\\Microsoft\\Windows\\CurrentVersion\\", "SystemRoot", pass, false,
                     "\\Temp", "");
  updateFromRegistry(list, "<$SYSDIR>", HKEY_LOCAL_MACHINE, windows + "Setup\\", "SysDir", 32, false, "", "");
  updateFromRegistry(list, "<$SYSDIR>", HKEY_LOCAL_MACHINE, windows + "Installer\\", "InstallerLocation", 32, false,
                     "", "");
  copyIfEmpty(list, "<$SYSDIR2>", "<$SYSDIR>");
  std::string controlPanel = GetControlPanelFolder(prefix, list.Value("<$WINDIR>"));
  std::replace(controlPanel.begin(), controlPanel.end(), '/', '\\');
  list.SetValue("<$SYSCPLDIR>", NormalizeFolderPath(controlPanel));
  copyIfEmpty(list, "<$CONTROLS>", "<$SYSCPLDIR>");
}

void GroupPlaceholderAlternatives(const PlaceholderList& list) {
  PlaceholderAlternatives& alternatives = PathPlaceholderAlternatives();
  for (const auto& [tokenText, folder] : list.Lines()) alternatives.Add(tokenText, folder);
}

void AddUserHivePlaceholders() {
  PlaceholderAlternatives& alternatives = PathPlaceholderAlternatives();
  std::vector<std::string> names;
  (void)GetRegistryKeyNames(HKEY_USERS, "", &names, Is64Flag::no);
  for (const std::string& name : names) {
    try {
      const std::string shell = "\\" + name + "\\" + kUserShellFolders;
      const auto add = [&](const char* valueName, const char* tokenText, const char* suffix) {
        std::string value;
        if (readString(HKEY_USERS, shell, valueName, 32, value) && !value.empty())
          alternatives.Add(tokenText, NormalizeFolderPath(windowsForm(value)) + suffix);
      };
      for (const auto& [valueName, tokenText] : kUserHiveRows) add(valueName, tokenText, "");
      add("Local Settings", "<$TEMP>", "\\Temp");
      std::string path;
      if (readString(HKEY_USERS, "\\" + name + "\\Environment\\", "PATH", 32, path)) {
        std::size_t start = 0;
        while (start <= path.size()) {
          std::size_t end = path.find(';', start);
          if (end == std::string::npos) end = path.size();
          std::string piece = path.substr(start, end - start);
          if (!piece.empty() && piece.back() == '\\') piece.pop_back();
          if (!piece.empty()) alternatives.Add("<$PATH>", NormalizeFolderPath(windowsForm(piece)));
          start = end + 1;
        }
      }
    } catch (...) {
    }
  }
  std::vector<std::string> desktops;
  ExpandPlaceholderAlternatives("<$DESKTOP>", desktops);
  for (const std::string& desktop : desktops) alternatives.Add("<$PROFILE>", parentFolder(desktop));
}

void AddMountedInstallationPlaceholders() {
  std::vector<std::string> prefixes;
  HiveManager().ListMountedPEPrefixes(prefixes);
  PlaceholderList working;
  for (const std::string& prefix : prefixes) {
    try {
      BuildPlaceholderTable(working, prefix, 32);
      GroupPlaceholderAlternatives(working);
      BuildPlaceholderTable(working, prefix, 64);
      GroupPlaceholderAlternatives(working);
    } catch (...) {
    }
  }
}

// ---------------------------------------------------------------- expanding

std::string ExpandPathPlaceholders(const std::string& text) {
  Tables& t = builtTables();
  std::lock_guard lock(t.mutex);
  const bool regExpr = text.rfind("<regexpr>", 0) == 0 || text.find("=<regexpr>") != std::string::npos;
  std::string result = text;
  const auto& lines = t.primary.Lines();
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    if (result.find(line->first) == std::string::npos) continue;
    result = replaceAllIgnoringCase(result, line->first, regExpr ? EscapeRegExprChars(line->second) : line->second);
  }
  return result;
}

void ExpandPlaceholderAlternatives(const std::string& text, std::vector<std::string>& list) {
  Tables& t = builtTables();
  std::lock_guard lock(t.mutex);
  const auto& tokens = t.alternatives.Tokens();
  // The first token of the table that occurs in line, and where.
  const auto knownToken = [&](const std::string& line, std::size_t& at) -> const std::pair<std::string, std::vector<std::string>>* {
    for (const auto& entry : tokens) {
      at = line.find(entry.first);
      if (at != std::string::npos) return &entry;
    }
    return nullptr;
  };
  list.push_back(text);
  while (list.size() < kMaxAlternativeLines) {
    std::size_t index = list.size(), at = 0;
    const std::pair<std::string, std::vector<std::string>>* entry = nullptr;
    while (index > 0 && entry == nullptr) entry = knownToken(list[--index], at);
    if (entry == nullptr) break;
    const std::string line = list[index];
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
    const bool regExpr = line.rfind("<regexpr>", 0) == 0;
    for (const std::string& folder : entry->second) {
      std::string expanded = line;
      expanded.replace(at, entry->first.size(), regExpr ? EscapeRegExprChars(folder) : folder);
      list.push_back(std::move(expanded));
    }
  }
}
