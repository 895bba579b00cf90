// Measures how importing one big key grows with its size, beside
// "hivexregedit --merge": a key of N values, and a key of N sub-keys, for
// N = 25,000, 50,000, 100,000 and 200,000 (or the sizes given).
//
//   import-scaling [--values|--subkeys] [--ours-only] [--runs R] [N ...]
//
// For each N a version-4 .reg file is generated in a temporary folder, then
// imported into a new empty hive mounted as HKEY_LOCAL_MACHINE\TEMPHIVE (the
// import and the save at unmount are timed, as reg-export --import times
// them), and merged by hivexregedit into another new empty hive (the whole
// process is timed; for values only: hivexregedit takes minutes for 25,000
// sub-keys under one key and then fails). The imported hive is read back and
// its count checked.
// Each is run R times (3 unless given) and the run of median processor time
// is kept. Printed per N: wall and processor seconds of both, ours / hivex,
// and each over the size before it (a linear import doubles: about 2.0).
// The ratios are of processor time, which a busy machine disturbs least.

#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ScratchHive.h"
#include "core/bwlRegTools.h"
#include "platform/hive/HiveFile.h"

using namespace platform;

namespace {

enum class Kind { Values, Subkeys };

// Wall and processor seconds of one run (the processor time of this
// process, or of the children waited for).
struct Figure {
  double wall = -1, cpu = -1;
};

class Timer {
public:
  explicit Timer(int who) : who_(who), start_(std::chrono::steady_clock::now()), cpu_(cpuSeconds(who)) {}
  Figure stop() const {
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(), cpuSeconds(who_) - cpu_};
  }

private:
  static double cpuSeconds(int who) {
    struct rusage u {};
    ::getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  }
  int who_;
  std::chrono::steady_clock::time_point start_;
  double cpu_;
};

// The run of median processor time.
Figure median(std::vector<Figure> runs) {
  std::sort(runs.begin(), runs.end(), [](const Figure& a, const Figure& b) { return a.cpu < b.cpu; });
  return runs.empty() ? Figure{} : runs[runs.size() / 2];
}

bool createEmptyHive(const std::filesystem::path& file) {
  auto hive = hive::HiveFile::createEmpty();
  return hive && bool((*hive)->saveAs(file));
}

// Names in an order that is not the sorted one, as real imports come.
std::string nameOf(const char* stem, long i, long n) {
  const long scrambled = (i * 7919) % n;
  return stem + std::to_string(scrambled);
}

bool writeRegFile(const std::filesystem::path& file, Kind kind, long n) {
  std::ofstream out(file, std::ios::binary);
  out << "REGEDIT4\r\n\r\n";
  const std::string key = std::string("HKEY_LOCAL_MACHINE\\") + benchsupport::kMountName + "\\Big";
  if (kind == Kind::Values) {
    out << "[" << key << "]\r\n";
    char line[64];
    for (long i = 0; i < n; ++i) {
      std::snprintf(line, sizeof line, "\"%s\"=dword:%08lx\r\n", nameOf("Value", i, n).c_str(), i);
      out << line;
    }
  } else {
    out << "[" << key << "]\r\n\r\n";
    for (long i = 0; i < n; ++i) out << "[" << key << "\\" << nameOf("Key", i, n) << "]\r\n\r\n";
  }
  return bool(out.flush());
}

// Our import of `reg` into a new hive at `hive`; negative on failure.
Figure importOurs(const std::filesystem::path& reg, const std::filesystem::path& hive) {
  if (!createEmptyHive(hive) || !benchsupport::mountHive(hive.string())) return {};
  const Timer timer(RUSAGE_SELF);
  RegImportFailures failures;
  bool ok = false;
  try {
    ok = ImportRegFile(reg, failures) && !failures.any();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "import failed: %s\n", e.what());
  }
  if (!ok) std::fprintf(stderr, "import of %s failed: %s\n", reg.c_str(), failures.text().c_str());
  if (!benchsupport::unmountHive()) ok = false;
  const Figure f = timer.stop();
  return ok ? f : Figure{};
}

// hivexregedit's merge of `reg` into a new hive; negative on failure.
Figure importHivex(const std::filesystem::path& reg, const std::filesystem::path& hive) {
  if (!createEmptyHive(hive)) return {};
  const std::string command = "hivexregedit --merge --prefix 'HKEY_LOCAL_MACHINE\\" +
                              std::string(benchsupport::kMountName) + "' '" + hive.string() + "' '" + reg.string() +
                              "' >/dev/null 2>&1";
  const Timer timer(RUSAGE_CHILDREN);
  const int status = std::system(command.c_str());
  const Figure f = timer.stop();
  return status == 0 ? f : Figure{};
}

// Values or sub-keys of \Big in a hive file, -1 when it cannot be read.
long countIn(const std::filesystem::path& hive, Kind kind) {
  auto opened = hive::HiveFile::open(hive, hive::OpenMode::ReadOnly);
  if (!opened) return -1;
  const hive::HiveFile& h = **opened;
  auto big = h.findSubkey(h.root(), u"Big");
  if (!big) return -1;
  auto info = h.keyInfo(*big);
  if (!info) return -1;
  return kind == Kind::Values ? info->valueCount : info->subkeyCount;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<Kind> kinds{Kind::Values, Kind::Subkeys};
  std::vector<long> sizes;
  bool oursOnly = false;
  int runs = 3;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--values") == 0) {
      kinds = {Kind::Values};
    } else if (std::strcmp(argv[i], "--subkeys") == 0) {
      kinds = {Kind::Subkeys};
    } else if (std::strcmp(argv[i], "--ours-only") == 0) {
      oursOnly = true;
    } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
      runs = std::atoi(argv[++i]);
    } else if (const long n = std::atol(argv[i]); n > 0) {
      sizes.push_back(n);
    } else {
      std::fprintf(stderr, "usage: import-scaling [--values|--subkeys] [--ours-only] [--runs R] [N ...]\n");
      return 2;
    }
  }
  if (sizes.empty()) sizes = {25000, 50000, 100000, 200000};
  const bool hivex = !oursOnly && std::system("command -v hivexregedit >/dev/null 2>&1") == 0;
  if (!hivex && !oursOnly) std::printf("hivexregedit is not installed: our figures only\n");

  benchsupport::ScratchRegistry registry("import-scaling");
  if (!registry.ok()) return 1;
  std::string pattern = (std::filesystem::temp_directory_path() / "import-scaling-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return 1;
  const std::filesystem::path folder = pattern;

  int status = 0;
  auto ratio = [](double a, double b) { return a > 0 && b > 0 ? a / b : 0.0; };
  for (Kind kind : kinds) {
    const char* what = kind == Kind::Values ? "values" : "sub-keys";
    std::printf("one key of N %s (median of %d runs; ratios of processor time)\n", what, runs);
    std::printf("        N   ours wall  ours cpu  hivex wall hivex cpu  ours/hivex  ours x  hivex x\n");
    Figure lastOurs, lastHivex;
    for (long n : sizes) {
      const std::filesystem::path reg = folder / "import.reg";
      if (!writeRegFile(reg, kind, n)) {
        std::fprintf(stderr, "cannot write %s\n", reg.c_str());
        status = 1;
        break;
      }
      std::vector<Figure> oursRuns, hivexRuns;
      for (int r = 0; r < runs; ++r) {
        oursRuns.push_back(importOurs(reg, folder / "ours.hive"));
        const long got = countIn(folder / "ours.hive", kind);
        if (got != n) {
          std::fprintf(stderr, "our hive holds %ld %s, not %ld\n", got, what, n);
          status = 1;
        }
        if (hivex && kind == Kind::Values) hivexRuns.push_back(importHivex(reg, folder / "hivex.hive"));
      }
      const Figure ours = median(oursRuns), theirs = median(hivexRuns);
      std::printf("  %7ld  %9.3f  %8.3f", n, ours.wall, ours.cpu);
      if (hivex && kind == Kind::Values)
        std::printf("  %9.3f  %8.3f  %9.2fx", theirs.wall, theirs.cpu, ratio(ours.cpu, theirs.cpu));
      else
        std::printf("  %9s  %8s  %10s", "-", "-", "-");
      if (const double x = ratio(ours.cpu, lastOurs.cpu); x > 0) std::printf("  %5.2fx", x);
      if (const double x = ratio(theirs.cpu, lastHivex.cpu); x > 0) std::printf("  %6.2fx", x);
      std::printf("\n");
      std::fflush(stdout);
      if (ours.cpu < 0) status = 1;
      lastOurs = ours;
      lastHivex = theirs;
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return status;
}
