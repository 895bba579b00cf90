#include "app/CommandLine.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <iterator>

#include "core/bwlRegTools.h"

namespace {

// Every switch the program knows, after its "-", "--" or "/".
constexpr std::string_view kSwitches[] = {
    "s",           "gui",           "nolastjump",     "search",       "style=substring", "style=wildcard",
    "style=boolean", "style=regexp", "focus=all",     "focus=keys",   "focus=values",    "focus=data",
    "nofocus=keys", "nofocus=values", "nofocus=data", "type=all",     "type=string",     "type=numeric",
    "type=binary", "notype=string", "notype=numeric", "notype=binary", "ignorecase",     "noignorecase",
    "allhives",    "externalhives", "userhives",      "nouserhives",
};

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

TCommandLine::TCommandLine(std::vector<std::string> parameters, std::filesystem::path workingFolder)
    : FParameters(std::move(parameters)), FWorkingFolder(std::move(workingFolder)) {
  if (FWorkingFolder.empty()) {
    std::error_code ec;
    FWorkingFolder = std::filesystem::current_path(ec);
  }
}

TCommandLine TCommandLine::FromArgv(int argc, const char* const* argv) {
  std::vector<std::string> parameters;
  for (int i = 1; i < argc; ++i) parameters.emplace_back(argv[i] ? argv[i] : "");
  return TCommandLine(std::move(parameters));
}

std::string TCommandLine::SwitchName(std::string_view parameter) {
  std::string_view name;
  if (parameter.starts_with("--"))
    name = parameter.substr(2);
  else if (parameter.starts_with('-') || parameter.starts_with('/'))
    name = parameter.substr(1);
  else
    return {};
  const std::string folded = lower(name);
  if (folded.empty()) return {};
  const bool known = std::find(std::begin(kSwitches), std::end(kSwitches), folded) != std::end(kSwitches);
  return known ? folded : std::string();
}

bool TCommandLine::FindSwitch(std::string_view name) const {
  return std::any_of(FParameters.begin(), FParameters.end(),
                     [&](const std::string& p) { return !name.empty() && SwitchName(p) == name; });
}

std::vector<std::string> TCommandLine::PlainParameters() const {
  std::vector<std::string> plain;
  for (const std::string& p : FParameters)
    if (SwitchName(p).empty()) plain.push_back(p);
  return plain;
}

std::string TCommandLine::Target() const {
  std::string joined;
  for (const std::string& p : PlainParameters()) {
    if (!joined.empty()) joined += ' ';
    joined += p;
  }
  return joined;
}

std::string TCommandLine::Scope() const {
  const auto plain = PlainParameters();
  return plain.empty() ? std::string() : plain[0];
}

std::string TCommandLine::Term() const {
  const auto plain = PlainParameters();
  return plain.size() < 2 ? std::string() : plain[1];
}

std::filesystem::path TCommandLine::TargetFile() const {
  const std::string target = Target();
  if (target.empty()) return {};
  std::filesystem::path file(target);
  if (file.is_relative()) file = FWorkingFolder / file;
  // Only a regular file (or a link to one) is a file to import: a folder, a
  // device or a pipe is not .reg text and is taken as a key path instead.
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  return file;
}

TCommandLineSearch PrepareCommandLineSearch(const TCommandLine& commandLine, const TSearchOptions& saved) {
  TCommandLineSearch search;
  TSearchOptions& o = search.Options;
  o = saved;
  const auto has = [&](std::string_view name) { return commandLine.FindSwitch(name); };
  const struct {
    const char* name;
    std::int32_t style;
  } styles[] = {{"style=substring", 0}, {"style=wildcard", 1}, {"style=boolean", 2}, {"style=regexp", 3}};
  for (const auto& s : styles)
    if (has(s.name)) o.Style = s.style;
  // The boxes the other switches check or clear, in the order they apply.
  using Box = bool TSearchOptions::*;
  constexpr Box K = &TSearchOptions::FocusKeys, V = &TSearchOptions::FocusValues, D = &TSearchOptions::FocusData,
                S = &TSearchOptions::TypeStrings, N = &TSearchOptions::TypeNumerics, B = &TSearchOptions::TypeBinary,
                I = &TSearchOptions::IgnoreCase;
  const struct {
    const char* name;
    Box boxes[3];
    bool checked;
  } switches[] = {
      {"focus=all", {K, V, D}, true},       {"focus=keys", {K}, true},       {"focus=values", {V}, true},
      {"focus=data", {D}, true},            {"nofocus=keys", {K}, false},    {"nofocus=values", {V}, false},
      {"nofocus=data", {D}, false},         {"type=all", {S, N, B}, true},   {"type=string", {S}, true},
      {"type=numeric", {N}, true},          {"type=binary", {B}, true},      {"notype=string", {S}, false},
      {"notype=numeric", {N}, false},       {"notype=binary", {B}, false},   {"ignorecase", {I}, true},
      {"noignorecase", {I}, false},
  };
  for (const auto& sw : switches) {
    if (!has(sw.name)) continue;
    for (Box box : sw.boxes)
      if (box) o.*box = sw.checked;
  }

  o.Term = commandLine.Term();
  const std::string scope = commandLine.Scope();
  if (scope == "*") {
    o.RangeComplete = true;
  } else {
    o.RangeComplete = false;
    const std::size_t slash = scope.find('\\');
    search.Root = NameToRootKey(std::string_view(scope).substr(0, slash));
    search.KeyPath = slash == std::string::npos ? std::string() : scope.substr(slash);
  }
  return search;
}
