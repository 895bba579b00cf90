// The command line under the Linux rule: which parameters are switches, what
// the target, scope and term are, when the target is a file, and the search
// the switches ask for.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "platform/Registry.h"
#include "tests/support/TempDir.h"

namespace {

using Strings = std::vector<std::string>;

TEST(CommandLine, SwitchesTargetScopeAndTerm) {
  const struct {
    Strings parameters;
    Strings switches;  // each is found
    std::string target, scope, term;
  } cases[] = {
      // "-s" alone: a switch, nothing to import, so the last key is opened.
      {{"/s"}, {"s"}, "", "", ""},
      {{"-S"}, {"s"}, "", "", ""},
      {{"--s"}, {"s"}, "", "", ""},
      {{"/GUI", "-NoLastJump"}, {"gui", "nolastjump"}, "", "", ""},
      // A path that starts with "/" is a file, not a switch.
      {{"/home/u/fix.reg"}, {}, "/home/u/fix.reg", "/home/u/fix.reg", ""},
      {{"/home/u/fix.reg", "-s"}, {"s"}, "/home/u/fix.reg", "/home/u/fix.reg", ""},
      // Qt's own option "-style=" arrives as ours.
      {{"-style=regexp"}, {"style=regexp"}, "", "", ""},
      {{"*", "Run", "-search", "-style=regexp"}, {"search", "style=regexp"}, "* Run", "*", "Run"},
      // Scope and term by position, whatever switches stand between them.
      {{"-search", "HKEY_CURRENT_USER\\Software", "/focus=keys", "term"},
       {"search", "focus=keys"},
       "HKEY_CURRENT_USER\\Software term",
       "HKEY_CURRENT_USER\\Software",
       "term"},
      // Two plain words join into one path to jump to.
      {{"HKEY_LOCAL_MACHINE\\SOFTWARE", "Microsoft"}, {}, "HKEY_LOCAL_MACHINE\\SOFTWARE Microsoft",
       "HKEY_LOCAL_MACHINE\\SOFTWARE", "Microsoft"},
      // Whole words only: unknown names, extra dashes and bare marks are plain.
      {{"-sx", "/gui2", "---s", "-s=1", "-", "--", "/"}, {}, "-sx /gui2 ---s -s=1 - -- /", "-sx", "/gui2"},
      {{"-allhives", "/NOUSERHIVES", "--externalhives", "-userhives"},
       {"allhives", "nouserhives", "externalhives", "userhives"},
       "",
       "",
       ""},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& p : c.parameters) shown += "[" + p + "]";
    SCOPED_TRACE(shown);
    const TCommandLine commandLine(c.parameters, "/");
    for (const std::string& name : c.switches) EXPECT_TRUE(commandLine.FindSwitch(name)) << name;
    for (const char* name : {"s", "gui", "nolastjump", "search", "style=regexp", "focus=keys", "allhives"}) {
      const bool expected = std::find(c.switches.begin(), c.switches.end(), name) != c.switches.end();
      EXPECT_EQ(commandLine.FindSwitch(name), expected) << name;
    }
    EXPECT_EQ(commandLine.Target(), c.target);
    EXPECT_EQ(commandLine.Scope(), c.scope);
    EXPECT_EQ(commandLine.Term(), c.term);
  }
}

TEST(CommandLine, TargetFileIsAnExistingRegularFileResolvedAgainstTheWorkingFolder) {
  testsupport::TempDir dir("hivescope-cmdline");
  std::ofstream(dir / "fix.reg") << "REGEDIT4\n";
  std::ofstream(dir / "my file.reg") << "REGEDIT4\n";
  std::filesystem::create_directory(dir / "folder.reg");
  std::filesystem::create_symlink(dir / "fix.reg", dir / "link.reg");
  const struct {
    Strings parameters;
    std::filesystem::path file;  // empty: no file
  } cases[] = {
      {{"fix.reg"}, dir / "fix.reg"},
      {{(dir / "fix.reg").string()}, dir / "fix.reg"},
      {{"-s", "fix.reg", "/gui"}, dir / "fix.reg"},
      {{"my", "file.reg"}, dir / "my file.reg"},  // the joined target
      {{"link.reg"}, dir / "link.reg"},
      {{"folder.reg"}, {}},
      {{"missing.reg"}, {}},
      {{"/dev/null"}, {}},
      {{"HKEY_CURRENT_USER\\Software"}, {}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.parameters.empty() ? std::string("(none)") : c.parameters.front());
    EXPECT_EQ(TCommandLine(c.parameters, dir.path()).TargetFile(), c.file);
  }
}

TEST(CommandLine, SilentImportIsSWithoutGuiAndATarget) {
  EXPECT_TRUE(TCommandLine({"x.reg", "-s"}, "/").IsSilentImport());
  EXPECT_TRUE(TCommandLine({"/S", "missing"}, "/").IsSilentImport());
  EXPECT_FALSE(TCommandLine({"x.reg", "-s", "-gui"}, "/").IsSilentImport());
  EXPECT_FALSE(TCommandLine({"-s"}, "/").IsSilentImport());
  EXPECT_FALSE(TCommandLine({"x.reg"}, "/").IsSilentImport());
}

TEST(CommandLine, SearchSwitchesApplyInTheirFixedOrder) {
  TSearchOptions saved;
  saved.FocusKeys = saved.FocusValues = saved.FocusData = false;
  saved.TypeStrings = saved.TypeNumerics = saved.TypeBinary = false;
  saved.IgnoreCase = false;
  saved.HighSpeed = true;
  saved.Style = 2;
  saved.Term = "saved";
  const platform::HKEY none{};
  const struct {
    Strings parameters;
    bool keys, values, data, strings, numerics, binary, ignoreCase;
    std::int32_t style;
    bool whole;
    platform::HKEY root;
    std::string keyPath, term;
  } cases[] = {
      {{"*", "Run", "-search", "-style=regexp"}, false, false, false, false, false, false, false, 3, true, none, "",
       "Run"},
      {{"HKEY_CURRENT_USER\\Software", "x", "-search"}, false, false, false, false, false, false, false, 2, false,
       platform::HKEY_CURRENT_USER, "\\Software", "x"},
      {{"HKLM", "x", "-search"}, false, false, false, false, false, false, false, 2, false,
       platform::HKEY_LOCAL_MACHINE, "", "x"},
      // "nofocus=data" wins over "focus=all" wherever it stands.
      {{"-nofocus=data", "*", "t", "-search", "-focus=all"}, true, true, false, false, false, false, false, 2, true,
       none, "", "t"},
      {{"-type=all", "-notype=binary", "*", "t"}, false, false, false, true, true, false, false, 2, true, none, "",
       "t"},
      {{"-type=numeric", "/focus=values", "*", "t"}, false, true, false, false, true, false, false, 2, true, none, "",
       "t"},
      {{"-noignorecase", "-ignorecase", "*", "t"}, false, false, false, false, false, false, false, 2, true, none, "",
       "t"},
      {{"-ignorecase", "*", "t"}, false, false, false, false, false, false, true, 2, true, none, "", "t"},
      // Of the styles the last in the order substring, wildcard, boolean,
      // regexp wins, not the last given.
      {{"-style=regexp", "-style=wildcard", "*", "t"}, false, false, false, false, false, false, false, 3, true,
       none, "", "t"},
      {{"-style=substring", "*", "t"}, false, false, false, false, false, false, false, 0, true, none, "", "t"},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& p : c.parameters) shown += "[" + p + "]";
    SCOPED_TRACE(shown);
    const TCommandLineSearch s = PrepareCommandLineSearch(TCommandLine(c.parameters, "/"), saved);
    EXPECT_EQ(s.Options.FocusKeys, c.keys);
    EXPECT_EQ(s.Options.FocusValues, c.values);
    EXPECT_EQ(s.Options.FocusData, c.data);
    EXPECT_EQ(s.Options.TypeStrings, c.strings);
    EXPECT_EQ(s.Options.TypeNumerics, c.numerics);
    EXPECT_EQ(s.Options.TypeBinary, c.binary);
    EXPECT_EQ(s.Options.IgnoreCase, c.ignoreCase);
    EXPECT_EQ(s.Options.Style, c.style);
    EXPECT_EQ(s.Options.RangeComplete, c.whole);
    EXPECT_EQ(s.Root, c.root);
    EXPECT_EQ(s.KeyPath, c.keyPath);
    EXPECT_EQ(s.Options.Term, c.term);
    EXPECT_TRUE(s.Options.HighSpeed);  // no switch touches it
    EXPECT_EQ(s.View, 0);
  }
}

}  // namespace
