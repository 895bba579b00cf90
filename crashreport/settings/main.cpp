// Turns the readable table of a program's crash-report settings into the
// resource bytes that are checked in and compiled into the program.
//   zeb_settings_resource TABLE OUTPUT
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "crashreport/zebExceptResource.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s TABLE OUTPUT\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot read\n", argv[1]);
    return 1;
  }
  const std::string table((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string error;
  const auto entries = zeb::ParseSettingsTable(table, &error);
  if (!error.empty()) {
    std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
    return 1;
  }
  const auto bytes = zeb::WriteSettingsResource(entries);
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return out ? 0 : 1;
}
