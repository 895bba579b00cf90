// Turns a readable assistant form description into the form resource that is
// checked in and compiled into the program.
//   zeb_form_resource DESCRIPTION OUTPUT
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "crashreport/zebCrashUiAssistant.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s DESCRIPTION OUTPUT\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot read\n", argv[1]);
    return 1;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string error;
  const auto bytes = zeb::WriteFormResource(text, &error);
  if (bytes.empty()) {
    std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
    return 1;
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return out ? 0 : 1;
}
