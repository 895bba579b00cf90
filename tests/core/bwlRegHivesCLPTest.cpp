#include "core/bwlRegHivesCLP.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "core/bwlRegTools.h"
#include "core/bwlRegistry.h"
#include "core/bwlWinAPITerminalServices.h"
#include "platform/Paths.h"
#include "tests/core/RecordingEventLog.h"
#include "tests/support/Privileges.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

namespace fs = std::filesystem;

TEST(HiveLoadingPolicy, FlagsFromSwitchesSessionsWinPEAndTweak) {
  struct Case {
    const char* name;
    std::set<std::string> switches;
    unsigned sessions;
    bool winPE, tweak;
    unsigned flags;
  } const cases[] = {
      {"an ordinary logon", {}, 1, false, false, 1},
      {"no session recorded", {}, 0, false, false, 1},
      {"two sessions", {}, 2, false, false, 0},
      {"the tweak set", {}, 1, false, true, 0},
      {"two sessions, userhives", {"userhives"}, 2, false, false, 1},
      {"allhives", {"allhives"}, 2, false, true, 7},
      {"nouserhives with allhives", {"nouserhives", "allhives"}, 1, false, false, 6},
      {"externalhives", {"externalhives"}, 1, false, false, 7},
      {"externalhives, nouserhives", {"externalhives", "nouserhives"}, 1, false, false, 6},
      {"WinPE", {}, 1, true, false, 7},
      {"WinPE with two sessions", {}, 2, true, false, 6},
      {"WinPE with two sessions, userhives", {"userhives"}, 2, true, false, 7},
      {"WinPE, userhives and nouserhives", {"userhives", "nouserhives"}, 1, true, false, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HivePolicyProbes probes;
    probes.TerminalSessionCount = [&] { return c.sessions; };
    probes.IsWinPE = [&] { return c.winPE; };
    probes.ReadTweakValueDef = [&](const std::string& name, bool def) {
      EXPECT_EQ(name, "DisableUserHivesLoading");
      EXPECT_FALSE(def);
      return c.tweak;
    };
    const auto hasSwitch = [&](std::string_view name) { return c.switches.count(std::string(name)) != 0; };
    EXPECT_EQ(HiveLoadingFlags(hasSwitch, probes), c.flags);
  }
}

TEST(HiveLoadingPolicy, SessionCountCanBeReplaced) {
  SetTerminalSessionCounter([] { return 5u; });
  EXPECT_EQ(GetTerminalSessionCount(), 5u);
  SetTerminalSessionCounter([]() -> unsigned { throw std::runtime_error("no records"); });
  EXPECT_EQ(GetTerminalSessionCount(), 0u);
  SetTerminalSessionCounter({});
}

TEST(HiveLoadingPolicy, MountsAtStartAndGivesBackAtExit) {
  const fs::path minimal = testsupport::testdataFile("hives/crafted/minimal");
  if (!fs::exists(minimal)) GTEST_SKIP() << "test data hives/crafted/minimal is absent";
  testsupport::TempDir dir;
  testsupport::TempRegistry registry;
  RecordingEventLog events;
  fs::create_directories(dir / "D/WINDOWS/System32/config");
  fs::copy_file(minimal, dir / "D/WINDOWS/System32/config/SYSTEM");
  platform::setDriveTable({{'C', "/"}, {'D', (dir / "D").string()}});
  SetTerminalSessionCounter([] { return 3u; });  // no profile hives
  TRegHiveManager manager;
  manager.FProgramPath = "/opt/hivescope/bin/hivescope";

  EXPECT_EQ(ApplyHiveLoadingPolicy([](std::string_view name) { return name == "externalhives"; }, manager), 1);
  EXPECT_TRUE(RegistryKeyExists(platform::HKEY_LOCAL_MACHINE, "\\PE_D_SYSTEM", ViewByte::v64));
  UnloadHivesAtExit(manager);
  EXPECT_FALSE(RegistryKeyExists(platform::HKEY_LOCAL_MACHINE, "\\PE_D_SYSTEM", ViewByte::v64));
  std::vector<std::string> lines;
  EXPECT_TRUE(manager.ReadHiveEntries(lines, hcExternalSystemHives));
  EXPECT_TRUE(lines.empty());

  SetTerminalSessionCounter({});
  platform::setDriveTable({});
  testsupport::setRestorePrivilege(false);
}
