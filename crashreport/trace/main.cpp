// hivescope-trace PID [SIZE]: asks a running hivescope for a report of all its
// threads and prints it. SIZE (default 1 MiB) bounds the report, its NUL
// included; a SIZE below 1 asks the program to put the report on its
// clipboard instead.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "crashreport/zebTrace.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s PID [SIZE]\n", argv[0]);
    return 2;
  }
  char* end = nullptr;
  const long pid = std::strtol(argv[1], &end, 10);
  if (*end || pid <= 0) {
    std::fprintf(stderr, "%s: not a process id: %s\n", argv[0], argv[1]);
    return 2;
  }
  long size = 1 << 20;
  if (argc == 3) {
    size = std::strtol(argv[2], &end, 10);
    if (*end || size > (1L << 30) || size < -(1L << 30)) {
      std::fprintf(stderr, "%s: not a size: %s\n", argv[0], argv[2]);
      return 2;
    }
  }
  std::string report, error;
  // Composing the report walks every thread's stack; give it time.
  if (!zeb::RequestProcessTrace(pid_t(pid), int(size), 120, report, error)) {
    std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
    return 1;
  }
  if (size < 1) std::fprintf(stderr, "%s: the report is on the program's clipboard\n", argv[0]);
  else std::fwrite(report.data(), 1, report.size(), stdout);
  return 0;
}
