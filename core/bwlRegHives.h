#pragma once

// The hive manager's search for hives to mount: the user hives of this
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

#include <functional>
#include <string>
#include <string_view>
#include <vector>

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

private:
  std::vector<std::string> lines_;
};

class TRegHiveManager {
public:
  // The SID text of an account name ("DOMAIN\user" or "user"); empty when
  // nobody has that name.
  using AccountSidLookup = std::function<std::string(const std::string& account)>;

  TRegHiveManager();

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

private:
  void FindInstallationHives(HiveCandidateList& list, bool system);
  void scanForSystemHives(const std::string& driveRoot, const std::vector<std::string>& windowsFolders,
                          HiveCandidateList& list);
  void scanForUserHives(const std::string& driveRoot, HiveCandidateList& list);
};

// name, or name + "1", "2", ... : the first whose "HKU\" target no candidate
// of list has yet.
std::string UniqueUserHiveName(const HiveCandidateList& list, const std::string& name);
