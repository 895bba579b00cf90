// Measures the .reg exporter and importer on a whole hive file.
//
//   reg-export HIVE OUT.reg [--v4]     mounts HIVE as HKEY_LOCAL_MACHINE\TEMPHIVE,
//                                      exports all of it (version 5 unless --v4);
//                                      exit code 1 when a value could not be read
//                                      (each is named in a comment of OUT.reg)
//   reg-export --import IN.reg HIVE    mounts HIVE the same way (a new empty hive
//                                      when the file does not exist), imports
//                                      IN.reg, saves
//
// Prints the time of the export, or of the import with the save. The registry
// around the mount is the scratch one of ScratchHive.h.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "HiveState.h"
#include "ScratchHive.h"
#include "core/bwlRegTools.h"
#include "platform/hive/HiveFile.h"

using namespace platform;

namespace {

bool createEmptyHive(const std::filesystem::path& file) {
  auto hive = hive::HiveFile::createEmpty();
  if (!hive) return false;
  return bool((*hive)->saveAs(file));
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

// Says when the hive is not sound, so a figure is never taken for one of the
// whole hive.
void reportState(const std::string& hive) {
  if (auto opened = hive::HiveFile::open(hive, hive::OpenMode::ReadOnly)) {
    if (const std::string state = hivestate::describe(**opened); !state.empty())
      std::fprintf(stderr, "reg-export: %s is %s\n", hive.c_str(), state.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  benchsupport::ScratchRegistry registry("reg-export");
  if (!registry.ok()) return 1;

  int status = 0;
  if (std::strcmp(argv[1], "--import") == 0) {
    if (argc != 4) return usage();
    const std::string in = argv[2];
    const std::string hive = argv[3];
    if (!std::filesystem::exists(hive) && !createEmptyHive(hive)) {
      std::fprintf(stderr, "cannot create %s\n", hive.c_str());
      return 1;
    }
    reportState(hive);
    if (!benchsupport::mountHive(hive)) return 1;
    const auto start = std::chrono::steady_clock::now();
    try {
      RegImportFailures failures;
      if (!ImportRegFile(in, failures)) {
        std::fprintf(stderr, "%s is no .reg file\n", in.c_str());
        status = 1;
      } else if (failures.any()) {
        std::fprintf(stderr, "import into %s failed: %s\n", hive.c_str(), failures.text().c_str());
        status = 1;
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "import failed: %s\n", e.what());
      status = 1;
    }
    if (!benchsupport::unmountHive()) status = 1;
    const double seconds = secondsSince(start);
    std::printf("import %s -> %s: %.3f s, hive %llu bytes\n", in.c_str(), hive.c_str(), seconds,
                sizeOf(hive));
  } else {
    const std::string hive = argv[1];
    const std::string out = argv[2];
    const bool v4 = argc > 3 && std::strcmp(argv[3], "--v4") == 0;
    if (argc > 4 || (argc == 4 && !v4)) return usage();
    reportState(hive);
    if (!benchsupport::mountHive(hive)) return 1;
    const auto start = std::chrono::steady_clock::now();
    try {
      const RegExportResult result = ExportRegistryKeyToFile(
          HKEY_LOCAL_MACHINE, std::string("\\") + benchsupport::kMountName, out, !v4, Is64Flag::no, true);
      if (!result.complete()) {
        std::fprintf(stderr, "export of %s is incomplete: %s\n", hive.c_str(), result.text().c_str());
        status = 1;
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "export failed: %s\n", e.what());
      status = 1;
    }
    const double seconds = secondsSince(start);
    if (!benchsupport::unmountHive()) status = 1;
    std::printf("export %s -> %s (version %d): %.3f s, %llu bytes\n", hive.c_str(), out.c_str(), v4 ? 4 : 5,
                seconds, sizeOf(out));
  }
  return status;
}
