// crashreport-stamp FILE...: writes the checksum the crash reporter tests at
// start-up into each program file's slot. Run it after the last change to a
// file (a strip included); a file changed after stamping reports itself as
// corrupt.

#include <cstdio>
#include <string>

#include "crashreport/zebExceptChecksum.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE...\n", argv[0]);
    return 2;
  }
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    std::string error;
    if (!zeb::StampFileChecksum(argv[i], &error)) {
      std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
      status = 1;
    }
  }
  return status;
}
