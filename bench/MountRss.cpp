// Peak memory of holding a whole hive, beside hivexsh holding the same file.
//
//   mount-rss HIVE
//
// Each figure is the peak resident size of a process of its own (the
// operating system's accounting of the finished child):
//   - the engine's read-only open of HIVE, one key listed;
//   - a registry mount of a writable copy of HIVE as
//     HKEY_LOCAL_MACHINE\TEMPHIVE (the scratch registry of ScratchHive.h
//     around it), one key listed, unmounted;
//   - hivexsh opening HIVE and listing its root key.
// The ratios to hivexsh are printed.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ScratchHive.h"
#include "platform/hive/HiveFile.h"

namespace {

// Runs argv with stdin from `input` (or /dev/null) and stdout to /dev/null;
// its peak resident size in KiB, -1 when it failed.
long peakKib(const std::vector<std::string>& args, const std::string& input = "/dev/null") {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    const int in = ::open(input.c_str(), O_RDONLY);
    const int out = ::open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (::wait4(pid, &status, 0, &usage) != pid) return -1;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return usage.ru_maxrss;
}

int engineChild(const std::string& hive) {
  using namespace platform::hive;
  auto opened = HiveFile::open(hive, OpenMode::ReadOnly);
  if (!opened) return 1;
  return (*opened)->subkeys((*opened)->root()) ? 0 : 1;
}

int mountChild(const std::string& hive) {
  benchsupport::ScratchRegistry registry("mount-rss");
  if (!registry.ok() || !benchsupport::mountHive(hive)) return 1;
  using namespace platform;
  HKEY key;
  bool ok = RegOpenKeyExA(HKEY_LOCAL_MACHINE, benchsupport::kMountName, 0, KEY_READ, &key) == ERROR_SUCCESS;
  if (ok) {
    DWORD subkeys = 0;
    ok = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr) == ERROR_SUCCESS &&
         subkeys > 0;
    RegCloseKey(key);
  }
  return benchsupport::unmountHive() && ok ? 0 : 1;
}

void printLine(const char* what, long kib, long hivex) {
  if (kib < 0) {
    std::printf("  %-40s  failed\n", what);
    return;
  }
  std::printf("  %-40s %8.1f MiB", what, kib / 1024.0);
  if (hivex > 0) std::printf("  %5.2fx hivexsh", double(kib) / double(hivex));
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--engine") == 0) return engineChild(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "--mount") == 0) return mountChild(argv[2]);
  if (argc != 2) {
    std::fprintf(stderr, "usage: mount-rss HIVE\n");
    return 2;
  }
  const std::filesystem::path hive = std::filesystem::absolute(argv[1]);
  std::string pattern = (std::filesystem::temp_directory_path() / "mount-rss-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return 1;
  const std::filesystem::path folder = pattern;
  const std::filesystem::path copy = folder / "hive";
  const std::filesystem::path script = folder / "script";
  std::error_code ec;
  std::filesystem::copy_file(hive, copy, ec);
  std::ofstream(script) << "ls\n";

  const std::string self = std::filesystem::read_symlink("/proc/self/exe", ec).string();
  const long hivex = peakKib({"hivexsh", hive.string()}, script.string());
  const long engine = peakKib({self, "--engine", hive.string()});
  const long mount = peakKib({self, "--mount", copy.string()});

  std::printf("mount-rss %s (%.1f MiB), peak resident size\n", hive.c_str(),
              static_cast<double>(std::filesystem::file_size(hive, ec)) / (1024.0 * 1024.0));
  printLine("hivexsh, root listed", hivex, -1);
  printLine("engine, read-only open, root listed", engine, hivex);
  printLine("registry mount of a writable copy", mount, hivex);
  std::filesystem::remove_all(folder, ec);
  return engine > 0 && mount > 0 ? 0 : 1;
}
