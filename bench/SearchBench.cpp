// Measures the registry search over a whole hive file, against a text search
// of the hive's dump by the Debian tool reglookup, and against a floor.
//
//   search-bench [--window] [--ours] [-style=STYLE] HIVE TERM [RUNS]
//
// Mounts HIVE as HKEY_LOCAL_MACHINE\TEMPHIVE (in the scratch registry of
// ScratchHive.h) and searches all of it for TERM in key names, value names and
// data of every kind, ignoring case, into a sink that only counts: once with
// high speed, once without (the sink's event processing does nothing, so only
// the engine's own cost shows). STYLE is substring (the default), wildcard,
// boolean or regexp. Then times "reglookup HIVE | grep -c -i TERM" through
// /bin/sh (grep reads TERM as its own basic regular expression, which for a
// plain word or "Tcp.p" is the same test), and the floor: one memchr pass over
// the hive file's bytes, already in memory. Each is run RUNS times (5 unless
// given); the medians and the ratios are printed, of wall-clock time and of
// CPU time (the search thread's; the pipe's three processes together), the
// figure that stays fair when the machine is busy.
//
// --ours times the search alone (for a profiler). With --window the search
// also runs through the search window offscreen (rows into its model, events
// processed, not high speed), and its time is printed beside the engine's
// high-speed time.

#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ScratchHive.h"
#include "core/SearchEngine.h"

namespace {

class CountingSink : public SearchSink {
public:
  void AddResult(TSearchListItem) override { ++rows; }
  void SetStatusText(const std::string&) override { ++statusTexts; }
  void ProcessMessages() override {}
  bool StopRequested() override { return false; }
  void SearchFailed(const std::string& message) override { failure = message; }

  long rows = 0;
  long statusTexts = 0;
  std::string failure;
};

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// CPU seconds of this thread, and of the children waited for: on a busy
// machine wall-clock times mostly measure the wait for a processor.
double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double childrenCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  const std::size_t n = times.size();
  return n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

std::string shellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct SearchFigures {
  long rows = 0;
  double seconds = 0;
  double cpuSeconds = 0;
  bool ok = true;
};

SearchFigures timeSearch(const std::string& term, std::uint8_t mode, bool highSpeed, int runs) {
  SearchOptions options;
  options.Keys = options.Values = options.Data = true;
  options.Strings = options.Numerics = options.Binary = true;
  options.IgnoreCase = true;
  options.HighSpeed = highSpeed;
  options.CompareMode = mode;
  SearchFigures figures;
  std::vector<double> times, cpuTimes;
  for (int i = 0; i < runs; ++i) {
    CountingSink sink;
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = threadCpuSeconds();
    RunSearch(sink, options, platform::HKEY_LOCAL_MACHINE, std::string("\\") + benchsupport::kMountName, rvDefault,
              0, term);
    cpuTimes.push_back(threadCpuSeconds() - cpuStart);
    times.push_back(secondsSince(start));
    figures.rows = sink.rows;
    if (!sink.failure.empty()) {
      std::fprintf(stderr, "search failed: %s\n", sink.failure.c_str());
      figures.ok = false;
    }
  }
  figures.seconds = median(times);
  figures.cpuSeconds = median(cpuTimes);
  return figures;
}

// The pipe's count of matching lines, or -1 when it could not run.
long runPipe(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  long count = -1;
  if (std::fscanf(pipe, "%ld", &count) != 1) count = -1;
  const int status = ::pclose(pipe);
  // grep -c exits 1 when it counted nothing; anything else is a failure.
  if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) return -1;
  return count;
}

struct Style {
  const char* name;
  std::uint8_t mode;
};
constexpr Style kStyles[] = {
    {"substring", cmpSubstring}, {"wildcard", cmpWildcard}, {"boolean", cmpBoolean}, {"regexp", cmpRegExpr}};

// The floor: one memchr pass over every byte of the file, looking for its
// least frequent byte value (counted beforehand), so the pass stops as seldom
// as the file allows. Returns the median seconds; `bytes` gets the size.
double timeFloor(const std::string& path, int runs, std::size_t& bytes, long& hits) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  bytes = data.size();
  std::array<std::size_t, 256> counts{};
  for (char c : data) ++counts[static_cast<unsigned char>(c)];
  const int rare = static_cast<int>(std::min_element(counts.begin(), counts.end()) - counts.begin());
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    long found = 0;
    const char* p = data.data();
    const char* end = p + data.size();
    while (p < end) {
      const void* at = std::memchr(p, rare, static_cast<std::size_t>(end - p));
      if (!at) break;
      ++found;
      p = static_cast<const char*>(at) + 1;
    }
    times.push_back(secondsSince(start));
    hits = found;
  }
  return median(times);
}

}  // namespace

#ifdef SEARCH_BENCH_WINDOW
double timeWindowSearch(const std::string& term, int mode, int runs, long& rows);
#endif

int main(int argc, char** argv) {
  bool window = false;
  bool oursOnly = false;
  const Style* style = &kStyles[0];
  while (argc > 1 && argv[1][0] == '-') {
    const std::string option = argv[1];
    if (option == "--window") {
      window = true;
    } else if (option == "--ours") {
      oursOnly = true;
    } else if (option.starts_with("-style=") || option.starts_with("--style=")) {
      const std::string name = option.substr(option.find('=') + 1);
      style = nullptr;
      for (const Style& s : kStyles)
        if (name == s.name) style = &s;
      if (!style) {
        std::fprintf(stderr, "search-bench: unknown style \"%s\"\n", name.c_str());
        return 2;
      }
    } else {
      break;
    }
    --argc;
    ++argv;
  }
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: search-bench [--window] [--ours] [-style=substring|wildcard|boolean|regexp] HIVE TERM [RUNS]\n");
    return 2;
  }
#ifndef SEARCH_BENCH_WINDOW
  if (window) {
    std::fprintf(stderr, "search-bench: built without the windows, --window is not available\n");
    return 2;
  }
#endif
  const std::string hive = argv[1];
  const std::string term = argv[2];
  const int runs = argc == 4 ? std::max(1, std::atoi(argv[3])) : 5;

  benchsupport::ScratchRegistry registry("search-bench");
  if (!registry.ok()) return 1;
  if (!benchsupport::mountHive(hive)) return 1;
  const SearchFigures fast = timeSearch(term, style->mode, true, runs);
  if (oursOnly) {
    std::printf("search-bench %s \"%s\" -style=%s: %ld rows, %.4f s (median of %d)\n", hive.c_str(), term.c_str(),
                style->name, fast.rows, fast.seconds, runs);
    return benchsupport::unmountHive() && fast.ok ? 0 : 1;
  }
  const SearchFigures normal = timeSearch(term, style->mode, false, runs);
  long windowRows = 0;
  double windowSeconds = 0;
#ifdef SEARCH_BENCH_WINDOW
  if (window) windowSeconds = timeWindowSearch(term, style->mode, runs, windowRows);
#endif
  if (!benchsupport::unmountHive() || !fast.ok || !normal.ok) return 1;

  // reglookup's warnings about values it cannot decode go to stderr; they
  // are not part of the text search.
  const std::string command = "reglookup " + shellQuoted(hive) + " 2>/dev/null | grep -c -i -- " + shellQuoted(term);
  std::vector<double> pipeTimes, pipeCpuTimes;
  long lines = -1;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = childrenCpuSeconds();
    lines = runPipe("/bin/sh -c " + shellQuoted(command));
    pipeCpuTimes.push_back(childrenCpuSeconds() - cpuStart);
    pipeTimes.push_back(secondsSince(start));
    if (lines < 0) break;
  }

  std::size_t bytes = 0;
  long floorHits = 0;
  const double floor = timeFloor(hive, runs, bytes, floorHits);

  std::printf("search-bench %s \"%s\" -style=%s (medians of %d runs)\n", hive.c_str(), term.c_str(), style->name,
              runs);
  std::printf("                                              wall      cpu\n");
  std::printf("  search, high speed:        %8ld rows  %8.3f s %8.3f s\n", fast.rows, fast.seconds, fast.cpuSeconds);
  std::printf("  search, not high speed:    %8ld rows  %8.3f s %8.3f s\n", normal.rows, normal.seconds,
              normal.cpuSeconds);
  if (window) {
    std::printf("  search window (offscreen): %8ld rows  %8.3f s\n", windowRows, windowSeconds);
    std::printf("  window / high-speed search:%8.1fx\n", fast.seconds > 0 ? windowSeconds / fast.seconds : 0.0);
  }
  if (lines < 0) {
    std::printf("  reglookup | grep -c -i:    could not run (is reglookup installed?)\n");
    return 1;
  }
  const double pipe = median(pipeTimes);
  const double pipeCpu = median(pipeCpuTimes);
  std::printf("  reglookup | grep -c -i:    %8ld lines %8.3f s %8.3f s\n", lines, pipe, pipeCpu);
  std::printf("  floor, one memchr pass:    %8.1f MB   %8.6f s (%ld stops)\n", static_cast<double>(bytes) / 1e6, floor,
              floorHits);
  std::printf("  pipe / high-speed search:  %8.1fx  %7.1fx\n", fast.seconds > 0 ? pipe / fast.seconds : 0.0,
              fast.cpuSeconds > 0 ? pipeCpu / fast.cpuSeconds : 0.0);
  std::printf("  high-speed search / floor: %8.1fx\n", floor > 0 ? fast.seconds / floor : 0.0);
  return 0;
}
