// Measures the file finder against GNU find on the same folder tree.
//
//   find-files [DIR] [RUNS]
//
// DIR (/usr unless given) is scanned recursively, files and folders, with
// full paths, by FindFiles in a child process of this program
// ("find-files --scan DIR", which writes every path to standard output as
// find does), and by "find DIR". Both outputs go to /dev/null. One run of
// each warms the cache first; then each runs RUNS times (5 unless given),
// alternately, and the medians of the whole processes' wall times, the ratio
// and the entry counts are printed.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/kxFileSys.h"
#include "platform/Paths.h"

namespace {

double median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  const std::size_t n = times.size();
  return n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

// Runs argv with standard output to /dev/null; the wall time in seconds, or
// a negative number when it failed.
double timedRun(const std::vector<std::string>& args) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
    }
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) > 1) return -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<std::string> scan(const std::string& dir) {
  std::vector<std::string> found;
  FindFiles(platform::linuxToWindowsPath(dir) + "\\", &found, true, true, true, true, false);
  return found;
}

long findCount(const std::string& dir) {
  FILE* pipe = popen(("find '" + dir + "' 2>/dev/null | wc -l").c_str(), "r");
  if (pipe == nullptr) return -1;
  long count = -1;
  if (std::fscanf(pipe, "%ld", &count) != 1) count = -1;
  pclose(pipe);
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--scan") {
    std::string out;
    for (const std::string& path : scan(argv[2])) {
      out += path;
      out += '\n';
      if (out.size() > (1 << 16)) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
      }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
  }
  const std::string dir = argc > 1 ? argv[1] : "/usr";
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const std::string self = "/proc/self/exe";
  char exe[4096] = {};
  const ssize_t len = readlink(self.c_str(), exe, sizeof exe - 1);
  if (len <= 0) return 1;

  const std::vector<std::string> ours{exe, "--scan", dir};
  const std::vector<std::string> theirs{"find", dir};
  timedRun(ours);
  timedRun(theirs);
  std::vector<double> ourTimes, findTimes;
  for (int i = 0; i < runs; ++i) {
    ourTimes.push_back(timedRun(ours));
    findTimes.push_back(timedRun(theirs));
  }
  if (std::any_of(ourTimes.begin(), ourTimes.end(), [](double t) { return t < 0; }) ||
      std::any_of(findTimes.begin(), findTimes.end(), [](double t) { return t < 0; })) {
    std::fprintf(stderr, "a run failed\n");
    return 1;
  }
  const double ourMedian = median(ourTimes), findMedian = median(findTimes);
  std::printf("tree:           %s (%d runs, warm cache)\n", dir.c_str(), runs);
  std::printf("entries:        FindFiles %zu, find %ld (find counts the root too)\n", scan(dir).size(),
              findCount(dir));
  std::printf("FindFiles:      %.3f s (median, whole process)\n", ourMedian);
  std::printf("find:           %.3f s (median, whole process)\n", findMedian);
  std::printf("ratio:          %.2f (goal: at most 1.5)\n", ourMedian / findMedian);
  return 0;
}
