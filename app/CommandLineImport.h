#pragma once

// Importing the .reg file the command line names, and telling whether all of
// it arrived: every section's key opened, every value written, the changed
// hives written back. The silent import (-s without -gui) runs with no window
// and no display and ends the process with its exit code.

#include <filesystem>
#include <iosfwd>
#include <string>

class TCommandLine;

struct TImportOutcome {
  bool Succeeded = false;
  // The first failure as one line, e.g. "cannot open the key
  // [HKEY_LOCAL_MACHINE\x]: Access is denied. (5)"; empty on success.
  std::string FirstFailure;
};

// Imports `file` into the registry (no progress, no change log, no history)
// and writes the changed hives back.
TImportOutcome ImportRegFileChecked(const std::filesystem::path& file);

// The silent import of the command line's target between the hive-policy
// steps. 0 when everything was applied and written back; otherwise 1 with
// one line on `errors` naming the file and the first failure (a target that
// is no file included).
int RunSilentImport(const TCommandLine& commandLine, std::ostream& errors);
