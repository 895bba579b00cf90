#pragma once

// The program's command line. A parameter is a switch only when it is "-",
// "--" or "/" followed by a known switch name, the whole rest of the
// parameter, case ignored; every other parameter is plain, so "/home/u/x.reg"
// is a file and "-x" a word. The plain parameters, joined by one blank, are
// the target (a .reg file to import or a key to open); the first two plain
// parameters are the scope and the term of a command-line search.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinTypes.h"

class TCommandLine {
public:
  TCommandLine() = default;
  // `parameters` without the program name. Relative file names are resolved
  // against `workingFolder` (the current folder when empty).
  explicit TCommandLine(std::vector<std::string> parameters, std::filesystem::path workingFolder = {});
  // argv[1..argc-1], resolved against the current folder.
  static TCommandLine FromArgv(int argc, const char* const* argv);

  const std::vector<std::string>& Parameters() const { return FParameters; }
  // The known switch a parameter stands for, lower case ("s", "style=regexp"),
  // or empty when the parameter is plain.
  static std::string SwitchName(std::string_view parameter);
  // Whether any parameter is the switch `name` (given in lower case).
  bool FindSwitch(std::string_view name) const;

  std::vector<std::string> PlainParameters() const;
  // The plain parameters joined by one blank each.
  std::string Target() const;
  // The first and second plain parameter; empty when there are fewer.
  std::string Scope() const;
  std::string Term() const;
  // The target as a file: its path when it names an existing regular file
  // (relative to the working folder), else empty.
  std::filesystem::path TargetFile() const;

  // -s without -gui and a target: an import with no window.
  bool IsSilentImport() const { return FindSwitch("s") && !FindSwitch("gui") && !Target().empty(); }

private:
  std::vector<std::string> FParameters;
  std::filesystem::path FWorkingFolder;
};

// The search window's options that the settings keep and the command line
// sets, as designed until a setting or a switch changes them.
struct TSearchOptions {
  bool FocusKeys = true, FocusValues = true, FocusData = true;
  bool RangeComplete = false;  // "&Whole registry", else "This key &only"
  bool IgnoreCase = false, HighSpeed = false;
  bool TypeStrings = true, TypeNumerics = true, TypeBinary = false;
  bool ForHex = false;
  std::string Term;
  double DateTime1 = 0, DateTime2 = 0;
  std::int32_t ByDateMode = 0;
  std::int32_t Style = 0;  // 0 substring, 1 wildcard, 2 boolean, 3 regular expression
  bool ReplaceIgnoreCase = false, ReplaceOverwriteValues = false, ReplaceOverwriteKeys = false;
};

// A search the command line asks for: the options to search with and where.
struct TCommandLineSearch {
  TSearchOptions Options;
  platform::HKEY Root{};  // none with the whole registry
  std::string KeyPath;      // from the first "\" of the scope on
  int View = 0;
};

// Applies the search switches to `saved` (the options as the settings left
// them) in a fixed order, so "nofocus=..." wins over "focus=all",
// "notype=..." over "type=all", "noignorecase" over "ignorecase", and of the
// styles the last in the order substring, wildcard, boolean, regexp. The term
// is the second plain parameter; a scope of "*" is the whole registry, any
// other a key ("HKEY_CURRENT_USER\Software": that root, "\Software").
TCommandLineSearch PrepareCommandLineSearch(const TCommandLine& commandLine, const TSearchOptions& saved);
