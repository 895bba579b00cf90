#pragma once

// What the measuring programs that work on a whole hive file share: a registry
// of their own around the hive, and the hive mounted as
// HKEY_LOCAL_MACHINE\TEMPHIVE.
//
// Unless HIVESCOPE_REGISTRY is set, the registry is a scratch one in the
// temporary folder ("<tool>-registry-<uid>"), so the user's own is never
// touched. It is made on the first run and kept: making a registry writes and
// syncs a handful of hive files, which would otherwise be timed with every run
// although no measurement needs it.

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/Kernel.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "platform/Security.h"

namespace benchsupport {

inline constexpr const char* kMountName = "TEMPHIVE";

// Points HIVESCOPE_REGISTRY at the scratch registry and enables the restore
// privilege that mounting needs. When the scratch folder's name is taken by
// anything but a folder of ours (a link, another user's folder), a throwaway
// registry is used and removed by the destructor. ok() tells whether all went
// well (the reason is printed).
class ScratchRegistry {
public:
  explicit ScratchRegistry(const std::string& tool) {
    if (!std::getenv("HIVESCOPE_REGISTRY")) {
      const std::filesystem::path scratch = scratchFolder(tool);
      if (!scratch.empty()) {
        setenv("HIVESCOPE_REGISTRY", scratch.c_str(), 1);
      } else {
        std::string pattern = "/tmp/" + tool + "-XXXXXX";
        if (!mkdtemp(pattern.data())) {
          std::fprintf(stderr, "cannot make a registry folder\n");
          return;
        }
        throwaway_ = pattern;
        setenv("HIVESCOPE_REGISTRY", pattern.c_str(), 1);
      }
    }
    if (!enableRestorePrivilege()) {
      std::fprintf(stderr, "cannot enable the restore privilege\n");
      return;
    }
    ok_ = true;
  }
  ~ScratchRegistry() {
    platform::registry::shutdownForTests();
    if (!throwaway_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(throwaway_, ec);
    }
  }
  ScratchRegistry(const ScratchRegistry&) = delete;
  ScratchRegistry& operator=(const ScratchRegistry&) = delete;

  bool ok() const { return ok_; }

private:
  static bool enableRestorePrivilege() {
    using namespace platform;
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
    TOKEN_PRIVILEGES tp;
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    const bool ok = LookupPrivilegeValueA(nullptr, SE_RESTORE_NAME, &tp.Privileges[0].Luid) &&
                    AdjustTokenPrivileges(token, false, &tp, 0, nullptr, nullptr);
    CloseHandle(token);
    return ok;
  }

  // Made when missing; empty when it is not a private folder of this user.
  static std::filesystem::path scratchFolder(const std::string& tool) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / (tool + "-registry-" + std::to_string(::getuid()));
    ::mkdir(dir.c_str(), 0700);
    struct stat st = {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 0077) != 0) {
      return {};
    }
    return dir;
  }

  std::filesystem::path throwaway_;
  bool ok_ = false;
};

// Mounts a hive file as HKEY_LOCAL_MACHINE\TEMPHIVE; false (printed) on failure.
inline bool mountHive(const std::string& hive) {
  using namespace platform;
  const LSTATUS rc = RegLoadKeyA(HKEY_LOCAL_MACHINE, kMountName, hive.c_str());
  if (rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot mount %s: error %d\n", hive.c_str(), static_cast<int>(rc));
    return false;
  }
  return true;
}

inline bool unmountHive() {
  using namespace platform;
  const LSTATUS rc = RegUnLoadKeyA(HKEY_LOCAL_MACHINE, kMountName);
  if (rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot unmount: error %d\n", static_cast<int>(rc));
    return false;
  }
  return true;
}

}  // namespace benchsupport
