// Measures the .reg exporter and importer on a whole hive file.
//
//   reg-export HIVE OUT.reg [--v4]     mounts HIVE as HKEY_LOCAL_MACHINE\TEMPHIVE,
//                                      exports all of it (version 5 unless --v4)
//   reg-export --import IN.reg HIVE    mounts HIVE the same way (a new empty hive
//                                      when the file does not exist), imports
//                                      IN.reg, saves
//
// Prints the time of the export, or of the import with the save. Unless
// HIVESCOPE_REGISTRY is set, the registry around the mount is a scratch one in
// the temporary folder ("reg-export-registry-<uid>"), so the user's own is
// never touched. It is made on the first run and kept: making a registry
// writes and syncs a handful of hive files, which would otherwise be timed
// with every run of the program although no export needs it.

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/bwlRegTools.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "platform/Security.h"
#include "platform/hive/HiveFile.h"

using namespace platform;

namespace {

constexpr const char* kMountName = "TEMPHIVE";

bool enablePrivilege(const char* name) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  TOKEN_PRIVILEGES tp;
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  const bool ok = LookupPrivilegeValueA(nullptr, name, &tp.Privileges[0].Luid) &&
                  AdjustTokenPrivileges(token, false, &tp, 0, nullptr, nullptr);
  CloseHandle(token);
  return ok;
}

bool createEmptyHive(const std::filesystem::path& file) {
  auto hive = hive::HiveFile::createEmpty();
  if (!hive) return false;
  return bool((*hive)->saveAs(file));
}

// The scratch registry folder, made when missing. Empty when the name is
// taken by anything but a folder of ours (a link, another user's folder).
std::filesystem::path scratchRegistry() {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("reg-export-registry-" + std::to_string(::getuid()));
  ::mkdir(dir.c_str(), 0700);
  struct stat st = {};
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
      (st.st_mode & 0077) != 0) {
    return {};
  }
  return dir;
}

// The size of a file, 0 when there is none (a failed run prints, not throws).
unsigned long long sizeOf(const std::string& file) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  return ec ? 0 : static_cast<unsigned long long>(size);
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int usage() {
  std::fprintf(stderr,
               "usage: reg-export HIVE OUT.reg [--v4]\n"
               "       reg-export --import IN.reg HIVE\n");
  return 2;
}

bool mount(const std::string& hive) {
  const LSTATUS rc = RegLoadKeyA(HKEY_LOCAL_MACHINE, kMountName, hive.c_str());
  if (rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot mount %s: error %d\n", hive.c_str(), static_cast<int>(rc));
    return false;
  }
  return true;
}

bool unmount() {
  const LSTATUS rc = RegUnLoadKeyA(HKEY_LOCAL_MACHINE, kMountName);
  if (rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot unmount: error %d\n", static_cast<int>(rc));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  std::filesystem::path tempRegistry;  // a throwaway registry, removed at the end
  if (!std::getenv("HIVESCOPE_REGISTRY")) {
    const std::filesystem::path scratch = scratchRegistry();
    if (!scratch.empty()) {
      setenv("HIVESCOPE_REGISTRY", scratch.c_str(), 1);
    } else {
      char pattern[] = "/tmp/reg-export-XXXXXX";
      if (!mkdtemp(pattern)) return 1;
      tempRegistry = pattern;
      setenv("HIVESCOPE_REGISTRY", pattern, 1);
    }
  }
  // Mounting takes the restore privilege; reading keys only SYSTEM may read
  // (as in a real SYSTEM hive) takes the backup privilege, as a backup tool's would.
  if (!enablePrivilege(SE_RESTORE_NAME) || !enablePrivilege(SE_BACKUP_NAME)) {
    std::fprintf(stderr, "cannot enable the restore and backup privileges\n");
    return 1;
  }

  int status = 0;
  if (std::strcmp(argv[1], "--import") == 0) {
    if (argc != 4) return usage();
    const std::string in = argv[2];
    const std::string hive = argv[3];
    if (!std::filesystem::exists(hive) && !createEmptyHive(hive)) {
      std::fprintf(stderr, "cannot create %s\n", hive.c_str());
      return 1;
    }
    if (!mount(hive)) return 1;
    const auto start = std::chrono::steady_clock::now();
    try {
      if (!ImportRegFile(in)) {
        std::fprintf(stderr, "%s is no .reg file\n", in.c_str());
        status = 1;
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "import failed: %s\n", e.what());
      status = 1;
    }
    if (!unmount()) status = 1;
    const double seconds = secondsSince(start);
    std::printf("import %s -> %s: %.3f s, hive %llu bytes\n", in.c_str(), hive.c_str(), seconds,
                sizeOf(hive));
  } else {
    const std::string hive = argv[1];
    const std::string out = argv[2];
    const bool v4 = argc > 3 && std::strcmp(argv[3], "--v4") == 0;
    if (argc > 4 || (argc == 4 && !v4)) return usage();
    if (!mount(hive)) return 1;
    const auto start = std::chrono::steady_clock::now();
    try {
      ExportRegistryKeyToFile(HKEY_LOCAL_MACHINE, std::string("\\") + kMountName, out, !v4, Is64Flag::no, true);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "export failed: %s\n", e.what());
      status = 1;
    }
    const double seconds = secondsSince(start);
    if (!unmount()) status = 1;
    std::printf("export %s -> %s (version %d): %.3f s, %llu bytes\n", hive.c_str(), out.c_str(), v4 ? 4 : 5,
                seconds, sizeOf(out));
  }
  registry::shutdownForTests();
  if (!tempRegistry.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(tempRegistry, ec);
  }
  return status;
}
