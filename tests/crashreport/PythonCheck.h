#pragma once

// Runs a short python3 script as a second opinion on what the toolkit writes
// (zipfile for archives, PIL for images). The system's python3 has the Debian
// modules; tests skip when it or the module is missing.

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/Files.h"

namespace crashtest {

inline std::string python3() { return HIVESCOPE_PYTHON3; }

// What the script prints (stderr included); its exit status in `status`.
inline std::string runPython(const std::filesystem::path& folder, const std::string& script,
                             const std::vector<std::string>& args, int* status) {
  const std::filesystem::path file = folder / "check.py";
  std::ofstream(file) << script;
  std::string command = python3() + " " + testsupport::shellQuote(file.string());
  for (const std::string& a : args) command += " " + testsupport::shellQuote(a);
  return testsupport::commandOutput(command + " 2>&1", status);
}

inline bool havePythonModule(const char* module) {
  if (!std::filesystem::exists(python3())) return false;
  int status = 0;
  testsupport::commandOutput(python3() + " -c 'import " + std::string(module) + "' 2>/dev/null", &status);
  return status == 0;
}

}  // namespace crashtest
