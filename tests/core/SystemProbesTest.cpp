#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "core/bwlFilesPathsWinAPI.h"
#include "core/bwlRegTools.h"
#include "core/bwlUIListView.h"
#include "core/kxDate.h"
#include "core/kxFileSys.h"
#include "core/kxNTSTuff.h"
#include "core/kxNetInfo.h"
#include "core/kxWinPE.h"
#include "tests/support/PinnedZone.h"
#include "tests/support/TempDir.h"

namespace {

using testsupport::PinnedZone;

platform::FILETIME fileTimeOfUnix(std::int64_t seconds) {
  return platform::u64ToFileTime(static_cast<std::uint64_t>(seconds + 11644473600ll) * 10000000ull);
}

}  // namespace

TEST(kxDate, FixedOffsetZone) {
  PinnedZone zone("UTC-1");  // one hour east of UTC, a bias of -60, no daylight time
  EXPECT_DOUBLE_EQ(UnixTimeToDateTime(0), 25569.0 + 1.0 / 24);
  EXPECT_EQ(DateTimeToUnixTime(25569.0 + 1.0 / 24), 0);
  EXPECT_EQ(DateTimeToUnixTime(UnixTimeToDateTime(1234567890)), 1234567890);
  // Rounded to the nearest second.
  EXPECT_EQ(DateTimeToUnixTime(25569.0 + 1.0 / 24 + 0.4 / 86400), 0);
  EXPECT_EQ(DateTimeToUnixTime(25569.0 + 1.0 / 24 + 1.6 / 86400), 2);
  EXPECT_EQ(DateTimeToUnixTime(25569.0 + 1.0 / 24 - 0.6 / 86400), -1);
  // Far outside the 32-bit range: clamped, not undefined.
  EXPECT_EQ(DateTimeToUnixTime(1e9), INT32_MAX);
  EXPECT_EQ(DateTimeToUnixTime(-1e9), INT32_MIN);
}

TEST(kxDate, TheOffsetOfTheInstantCounts) {
  PinnedZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  struct Case {
    const char* what;
    std::int32_t unix;
    double hoursEast;
  };
  const Case cases[] = {
      {"winter", 1704067200, 1},  // 2024-01-01 00:00 UTC
      {"summer", 1719792000, 2},  // 2024-07-01 00:00 UTC
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const double expected = c.unix / 86400.0 + 25569.0 + c.hoursEast / 24;
    EXPECT_NEAR(UnixTimeToDateTime(c.unix), expected, 1e-9);
    EXPECT_EQ(DateTimeToUnixTime(expected), c.unix);
    EXPECT_NEAR(FileTimeToDateTime(fileTimeOfUnix(c.unix)), expected, 1e-9);
  }
}

TEST(kxDate, FileTimeThroughTheDosDate) {
  PinnedZone zone("UTC0");
  const std::int64_t t = 1704067200 + 3 * 3600 + 25 * 60 + 7;  // 03:25:07 UTC
  const double day = 1704067200 / 86400.0 + 25569.0;
  EXPECT_NEAR(FileTimeToDateTime(fileTimeOfUnix(t)), day + (3 * 3600 + 25 * 60 + 6) / 86400.0, 1e-9);
  EXPECT_EQ(FileTimeToDateTime(fileTimeOfUnix(315532800 - 1)), 0);  // 1979: before the DOS dates
  EXPECT_NE(FileTimeToDateTime(fileTimeOfUnix(315532800)), 0);      // 1980-01-01
  EXPECT_EQ(FileTimeToDateTime(platform::FILETIME{}), 0);
  EXPECT_EQ(FileTimeToDateTime(platform::FILETIME{0xFFFFFFFF, 0xFFFFFFFF}), 0);
}

TEST(SmallUtilities, IncludeTrailingChar) {
  EXPECT_EQ(IncludeTrailingChar("", '\\'), "\\");
  EXPECT_EQ(IncludeTrailingChar("a", '\\'), "a\\");
  EXPECT_EQ(IncludeTrailingChar("a\\", '\\'), "a\\");
}

TEST(SmallUtilities, ListViewGroupView) {
  struct Recorder : ListViewGroups {
    std::vector<bool> calls;
    void SetGroupViewEnabled(bool enabled) override { calls.push_back(enabled); }
  } recorder;
  EnableListViewGroupView(recorder, true);
  EnableListViewGroupView(recorder, false);
  EXPECT_EQ(recorder.calls, (std::vector<bool>{true, false}));
}

TEST(SmallUtilities, LocalUserNamesIncludeTheCurrentUser) {
  std::vector<std::string> names{"first"};
  ASSERT_TRUE(GetLocalUserNames(&names));
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.front(), "first");  // appended, not replaced
  if (const passwd* me = getpwuid(getuid())) {
    EXPECT_NE(std::find(names.begin(), names.end(), me->pw_name), names.end());
  }
  EXPECT_TRUE(GetLocalUserNames(nullptr));
}

TEST(SmallUtilities, IsWow64ByDefault) { EXPECT_TRUE(IsWow64()); }

TEST(SpecialFolders, XdgFoldersAndRegistryFallbacks) {
  testsupport::TempRegistry registry;
  testsupport::TempDir home;
  const char* oldData = std::getenv("XDG_DATA_HOME");
  const std::string savedData = oldData ? oldData : "";
  ::setenv("XDG_DATA_HOME", (home.path() / "data").c_str(), 1);

  EXPECT_EQ(MySpecialDir(3), "");  // the control panel: a virtual folder
  EXPECT_EQ(GetSpecialFolderPath(0x1A), (home.path() / "data").string());
  EXPECT_EQ(GetShellFolderPath(0x1A), GetSpecialFolderPath(0x1A));
  EXPECT_EQ(MySpecialDir(36), GetWindowsFolder());
  EXPECT_EQ(MySpecialDir(37), GetSystemFolder());
  EXPECT_EQ(MySpecialDir(35), GetShellFolderPath(26));  // common application data: the user's

  // The favourites have no folder here: the registry's "Shell Folders" answers.
  ASSERT_TRUE(WriteRegistryString(platform::HKEY_CURRENT_USER,
                                  "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\",
                                  "Favorites", Bitness::x32, "/srv/favourites"));
  EXPECT_EQ(MySpecialDir(6), "/srv/favourites");

  EXPECT_EQ(GetControlPanelFolder("", "/win"), "/win/Systemsteuerung");
  ASSERT_TRUE(WriteRegistryString(platform::HKEY_LOCAL_MACHINE,
                                  "\\Software\\CLASSES\\CLSID\\{21EC2020-3AEA-1069-A2DD-08002B30309D}\\", "",
                                  Bitness::x32, "Control Panel"));
  EXPECT_EQ(GetControlPanelFolder("", "/win"), "/win/Control Panel");

  if (oldData) {
    ::setenv("XDG_DATA_HOME", savedData.c_str(), 1);
  } else {
    ::unsetenv("XDG_DATA_HOME");
  }
}

TEST(WinPE, TheMarkerKeyDecides) {
  testsupport::TempRegistry registry;
  EXPECT_FALSE(ProbeWinPE());
  ASSERT_TRUE(CreateRegistryKey(platform::HKEY_LOCAL_MACHINE, "\\SYSTEM\\CurrentControlSet\\Control\\MiniNT",
                                ViewByte::v32));
  EXPECT_TRUE(ProbeWinPE());
  ASSERT_TRUE(DeleteRegistryKey(platform::HKEY_LOCAL_MACHINE, "\\SYSTEM\\CurrentControlSet\\Control\\MiniNT",
                                ViewByte::v32));
  EXPECT_FALSE(ProbeWinPE());
}
