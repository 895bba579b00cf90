// Measures the registry search over a whole hive file, against a text search
// of the hive's dump by the Debian tool reglookup.
//
//   search-bench [--window] HIVE TERM [RUNS]
//
// Mounts HIVE as HKEY_LOCAL_MACHINE\TEMPHIVE (in the scratch registry of
// ScratchHive.h) and searches all of it for TERM in key names, value names and
// data of every kind, as a substring, ignoring case, into a sink that only
// counts: once with high speed, once without (the sink's event processing does
// nothing, so only the engine's own cost shows). Then times
// "reglookup HIVE | grep -c -i TERM" through /bin/sh. Each is run RUNS times
// (5 unless given); the medians and the ratio of the pipe to the high-speed
// search are printed.
//
// With --window the search also runs through the search window offscreen
// (rows into its model, events processed, not high speed), and its time is
// printed beside the engine's high-speed time.

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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
  bool ok = true;
};

SearchFigures timeSearch(const std::string& term, bool highSpeed, int runs) {
  SearchOptions options;
  options.Keys = options.Values = options.Data = true;
  options.Strings = options.Numerics = options.Binary = true;
  options.IgnoreCase = true;
  options.HighSpeed = highSpeed;
  options.CompareMode = cmpSubstring;
  SearchFigures figures;
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    CountingSink sink;
    const auto start = std::chrono::steady_clock::now();
    RunSearch(sink, options, platform::HKEY_LOCAL_MACHINE, std::string("\\") + benchsupport::kMountName, rvDefault,
              0, term);
    times.push_back(secondsSince(start));
    figures.rows = sink.rows;
    if (!sink.failure.empty()) {
      std::fprintf(stderr, "search failed: %s\n", sink.failure.c_str());
      figures.ok = false;
    }
  }
  figures.seconds = median(times);
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

}  // namespace

#ifdef SEARCH_BENCH_WINDOW
double timeWindowSearch(const std::string& term, int runs, long& rows);
#endif

int main(int argc, char** argv) {
  bool window = false;
  if (argc > 1 && std::string(argv[1]) == "--window") {
    window = true;
    --argc;
    ++argv;
  }
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: search-bench [--window] HIVE TERM [RUNS]\n");
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
  const SearchFigures fast = timeSearch(term, true, runs);
  const SearchFigures normal = timeSearch(term, false, runs);
  long windowRows = 0;
  double windowSeconds = 0;
#ifdef SEARCH_BENCH_WINDOW
  if (window) windowSeconds = timeWindowSearch(term, runs, windowRows);
#endif
  if (!benchsupport::unmountHive() || !fast.ok || !normal.ok) return 1;

  // reglookup's warnings about values it cannot decode go to stderr; they
  // are not part of the text search.
  const std::string command = "reglookup " + shellQuoted(hive) + " 2>/dev/null | grep -c -i -- " + shellQuoted(term);
  std::vector<double> pipeTimes;
  long lines = -1;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    lines = runPipe("/bin/sh -c " + shellQuoted(command));
    pipeTimes.push_back(secondsSince(start));
    if (lines < 0) break;
  }

  std::printf("search-bench %s \"%s\" (medians of %d runs)\n", hive.c_str(), term.c_str(), runs);
  std::printf("  search, high speed:        %8ld rows  %8.3f s\n", fast.rows, fast.seconds);
  std::printf("  search, not high speed:    %8ld rows  %8.3f s\n", normal.rows, normal.seconds);
  if (window) {
    std::printf("  search window (offscreen): %8ld rows  %8.3f s\n", windowRows, windowSeconds);
    std::printf("  window / high-speed search:%8.1fx\n", fast.seconds > 0 ? windowSeconds / fast.seconds : 0.0);
  }
  if (lines < 0) {
    std::printf("  reglookup | grep -c -i:    could not run (is reglookup installed?)\n");
    return 1;
  }
  const double pipe = median(pipeTimes);
  std::printf("  reglookup | grep -c -i:    %8ld lines %8.3f s\n", lines, pipe);
  std::printf("  pipe / high-speed search:  %8.1fx\n", fast.seconds > 0 ? pipe / fast.seconds : 0.0);
  return 0;
}
