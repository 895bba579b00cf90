// libFuzzer target: any bytes mounted as a hive in a scratch registry and
// exported to .reg text in memory, the way a user exports a hive from a disk.
// The numbers a hive stores (sizes, counts, links) reach the exporter here,
// so a hint it trusts shows as a blown memory limit and a key it walks into
// twice as a run that never ends.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/bwlRegTools.h"
#include "platform/Registry.h"
#include "tests/support/Privileges.h"

using namespace platform;

namespace {
std::filesystem::path gScratch;
std::filesystem::path gHive;

void removeScratch() {
  std::error_code ec;
  std::filesystem::remove_all(gScratch, ec);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // An export of any hive this small fits in far less; what needs more
  // trusted a number from the file. The last flag given wins, so this one
  // stands over the general limit the test script passes.
  static std::string rssFlag = "-rss_limit_mb=512";
  static char** args = new char*[*argc + 2];
  for (int i = 0; i < *argc; ++i) args[i] = (*argv)[i];
  args[*argc] = rssFlag.data();
  args[*argc + 1] = nullptr;
  ++*argc;
  *argv = args;

  char pattern[] = "/tmp/fuzz-hive-export-XXXXXX";
  if (!mkdtemp(pattern)) abort();
  setenv("HIVESCOPE_REGISTRY", (std::string(pattern) + "/registry").c_str(), 1);
  gScratch = pattern;
  std::atexit(removeScratch);
  gHive = gScratch / "input.hive";
  if (!testsupport::setRestorePrivilege()) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    std::ofstream out(gHive, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  if (RegLoadKeyA(HKEY_LOCAL_MACHINE, "FUZZ", gHive.c_str()) != ERROR_SUCCESS) return 0;
  std::string text;
  ExportRegistryKey(HKEY_LOCAL_MACHINE, "\\FUZZ", text, true, Is64Flag::no);
  if (RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "FUZZ") != ERROR_SUCCESS) abort();
  return 0;
}
