#pragma once

// The hive manager mounts the hives of other profiles and other Windows
// installations, records every mount in a registration key that sibling
// programs share, and unmounts the recorded hives once no program uses them.
//
// Its search for hives to mount: the user hives of this
// system's profiles that are not loaded, and the user and system hives of
// other Windows installations on the drives of the drive table (a
// dual-boot machine's Windows partitions, a mounted disk image). The drive
// of the running Windows folder holds the running system and is never
// searched for other installations, and neither are X:, Y: and Z:.
//
// A candidate is a line "hive file=target": the file as a Windows path, the
// target "HKU\" + an account SID or a folder name for a user hive, "HKLM\" +
// the lower-case hive name for a system hive. The finders only read files
// and the registry, with one exception: every boot.ini they look at is
// saved (core/bwlFFBootIni.h). They swallow every failure; what fails is
// skipped.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinTypes.h"

// Mounts file (a Windows or native path) as mountName directly under root
// (HKEY_LOCAL_MACHINE or HKEY_USERS), enabling the restore privilege first.
// The registry's error code, 0 on success.
platform::LSTATUS LoadHive(platform::HKEY root, const std::u16string& mountName, const std::u16string& file);
// Unmounts root\mountName; file is not used. The registry's error code.
platform::LSTATUS UnloadHive(platform::HKEY root, const std::u16string& mountName, const std::u16string& file);
platform::LSTATUS LoadOrUnloadHive(platform::HKEY root, const std::u16string& mountName, const std::u16string& file,
                                   bool load);

// What MountHives looks for.
inline constexpr unsigned kHivesOfProfiles = 1;         // this system's other profiles
inline constexpr unsigned kUserHivesOfInstallations = 2;   // user hives of other installations
inline constexpr unsigned kSystemHivesOfInstallations = 4; // system hives of other installations

// The categories of recorded hives, each with its registration value.
inline constexpr int hcUserHives = 0;          // "UserHives", under HKEY_USERS by account SID
inline constexpr int hcExternalUserHives = 1;  // "ExternalUserHives", under HKEY_USERS as "PE_..."
inline constexpr int hcExternalSystemHives = 2;  // "ExternalSystemHives", under HKEY_LOCAL_MACHINE

// The registration key, under HKEY_LOCAL_MACHINE in the 32-bit view.
inline constexpr const char* kHiveRegistrationKey = "\\Software\\Brantwell Limited\\HiveManager\\";
// The event source of the manager's failures.
inline constexpr const char* kHiveManagerEventSource = "BWL HiveManager";

// Candidate lines, kept sorted without regard to case; a line equal to one
// already held (case ignored) is not added again. Hives are mounted in this
// order.
class HiveCandidateList {
public:
  // False when an equal line is there already.
  bool Add(const std::string& line);
  // Whether a line's target (the text after its first "=") is target, case
  // ignored.
  bool HasTarget(std::string_view target) const;
  const std::vector<std::string>& Lines() const { return lines_; }
  void RemoveIf(const std::function<bool(const std::string& line)>& drop) { std::erase_if(lines_, drop); }

private:
  std::vector<std::string> lines_;
};

class TRegHiveManager {
public:
  // The SID text of an account name ("DOMAIN\user" or "user"); empty when
  // nobody has that name.
  using AccountSidLookup = std::function<std::string(const std::string& account)>;

  TRegHiveManager();

  // Mounts the hives flags (kHivesOfProfiles...) asks for and records them;
  // the number mounted.
  int MountHives(unsigned flags);
  // Mounts every candidate "file=HKU\name" or "file=HKLM\name" in list
  // order under a name unique in this run, recording each mount; the number
  // mounted. Failures are logged.
  int MountHiveList(const std::vector<std::string>& list);

  // Removes this program from "Apps"; when nobody is left there, unloads
  // every recorded hive. False when the registration key cannot be used or
  // an unload failed.
  bool Unregister();
  // Unloads every recorded hive unless another program is listed in "Apps".
  bool UnloadIfUnused();
  // UnloadCategory for all three; false when any of them failed.
  bool UnloadAll();
  // Unloads the hives recorded in category and removes their lines. A hive
  // that no longer is mounted counts as unloaded; any other failure keeps its
  // line and is logged.
  bool UnloadCategory(int category);

  // The lines of "Apps", without this program's path when excludeSelf; 1
  // when they cannot be read, so hives stay mounted.
  int CountRegisteredApps(bool excludeSelf);
  bool ReadRegisteredApps(std::vector<std::string>& list);
  // The lines "file=mount name" of a category.
  bool ReadHiveEntries(std::vector<std::string>& list, int category);
  // Records file=mountName unless a line for file is there already.
  bool AddHiveEntry(const std::string& file, const std::string& mountName, int category);
  // Removes the first line for file.
  bool RemoveHiveEntry(const std::string& file, int category);
  // Appends the distinct "PE_<drive>_" prefixes of HKEY_LOCAL_MACHINE's
  // sub-keys beginning "PE_".
  void ListMountedPEPrefixes(std::vector<std::string>& list) const;

  // Adds a line "time  message (error text)" to the error list and writes a
  // warning event.
  void LogError(const std::string& message, std::uint32_t code);
  const std::vector<std::string>& ErrorLog() const { return FErrorLog; }

  // The hives of this system's profiles beside the user's own profile folder
  // whose users have no hive loaded under HKEY_USERS.
  void FindProfileHives(HiveCandidateList& list);
  // The user hives of other installations.
  void FindExternalUserHives(HiveCandidateList& list);
  // The system hives (system, software, sam, security, default) of other
  // installations.
  void FindExternalSystemHives(HiveCandidateList& list);
  // Adds to list, once each (case ignored), the Windows folders the boot.ini
  // of a drive root ("D:\") names; an empty root means the running system's
  // boot.ini. A root without a boot.ini adds nothing.
  void AddBootIniWindowsFolders(const std::string& driveRoot, std::vector<std::string>& list);
  // The display name of the user a hive belongs to, from a registry path
  // ("HKEY_USERS\<SID>...", "HKEY_USERS\PE_D_JOE") or a hive file path
  // ("C:\Documents and Settings\joe\ntuser.dat"): first letter upper-cased;
  // empty when the path tells nothing.
  std::string GetHiveUserName(const std::string& path) const;
  // The sub-key names of HKEY_USERS but the "..._Classes" ones.
  void ListLoadedUserHives(std::vector<std::string>& list) const;

  // How FindProfileHives resolves a profile folder's account; the local
  // accounts unless a test says otherwise.
  AccountSidLookup FLookupAccountSid;

  // The order the system hives are looked for in a configuration folder.
  static const std::vector<std::string>& SystemHiveNames();

  // This program's path as "Apps" lists it: the running program file unless
  // a test says otherwise.
  std::string FProgramPath;
  // Told when handling one candidate fails unexpectedly; nothing when unset.
  std::function<void(const std::string& text)> FInformUser;

  bool FRegistered = false;
  std::vector<std::string> FErrorLog;

private:
  // Reads a registration value under the registration lock, lets change
  // alter its lines and writes them back when it says they changed.
  bool changeRegistration(const char* valueName, const std::function<bool(std::vector<std::string>&)>& change,
                          bool canCreate = true);
  // Drops the candidates whose hive file is recorded in category and whose
  // recorded mount is there now.
  void dropMountedCandidates(HiveCandidateList& list, int category);
  void FindInstallationHives(HiveCandidateList& list, bool system);
  void scanForSystemHives(const std::string& driveRoot, const std::vector<std::string>& windowsFolders,
                          HiveCandidateList& list);
  void scanForUserHives(const std::string& driveRoot, HiveCandidateList& list);
};

// name, or name + "1", "2", ... : the first whose "HKU\" target no candidate
// of list has yet.
std::string UniqueUserHiveName(const HiveCandidateList& list, const std::string& name);

// The manager of this run, made at first use; making it registers the
// manager's event source.
TRegHiveManager& HiveManager();
