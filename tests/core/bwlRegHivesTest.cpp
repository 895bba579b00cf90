#include "core/bwlRegHives.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/bwlRegTools.h"
#include "core/bwlRegistry.h"
#include "platform/Registry.h"
#include "tests/core/RecordingEventLog.h"
#include "tests/support/Privileges.h"
#include "platform/Paths.h"
#include "platform/Security.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"
#include "tests/support/Waiting.h"

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

namespace {

void copyHive(const fs::path& from, const fs::path& to) {
  fs::create_directories(to.parent_path());
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

constexpr const char* kW2kMenu =
    "[boot loader]\r\n"
    "timeout=30\r\n"
    "[operating systems]\r\n"
    "multi(0)disk(0)rdisk(0)partition(2)\\W2K=\"Windows 2000\" /fastdetect\r\n";

constexpr const char* kAdded = "[quorvane]\r\ntimeout.old=30\r\n";

// Drives named through HIVESCOPE_DRIVES, as a child run with a disk image
// would name them, and a Windows folder on none of them (so on C:).
class ForeignHivesTest : public testing::Test {
protected:
  void SetUp() override { platform::setDriveTable({}); }

  std::string drives(const std::string& letters) const {
    std::string text;
    for (const char letter : letters) text += std::string(1, letter) + "=" + (dir_ / std::string(1, letter)).string() + ";";
    return text;
  }

  // What every drive that must never be searched holds.
  void plantTripwire(char letter) {
    const fs::path root = dir_ / std::string(1, letter);
    testsupport::writeFileText(root / "WINDOWS" / "System32" / "config" / "SYSTEM", "x");
    testsupport::writeFileText(root / "Users" / "mallory" / "ntuser.dat", "x");
    testsupport::writeFileText(root / "Documents and Settings" / "mallory" / "ntuser.dat", "x");
  }

  testsupport::TempDir dir_;
  testsupport::ScopedEnv data_{"XDG_DATA_HOME", (dir_ / "xdg").string()};
};

}  // namespace

TEST_F(ForeignHivesTest, FindsTheHivesOfOtherInstallations) {
  HS_TESTDATA_OR_SKIP(system, testsupport::unpackedTestdata("hives/real/SYSTEM.xz"));
  HS_TESTDATA_OR_SKIP(sam, testsupport::unpackedTestdata("hives/real/SAM.xz"));
  HS_TESTDATA_OR_SKIP(user, testsupport::unpackedTestdata("hives/real/NTUSER.DAT.xz"));
  const fs::path d = dir_ / "D", e = dir_ / "E";
  // Names in any case: the finders ask for them without regard to it.
  copyHive(system, d / "windows" / "SYSTEM32" / "Config" / "SYSTEM");
  copyHive(system, d / "windows" / "SYSTEM32" / "Config" / "software");
  copyHive(user, d / "documents and settings" / "joe" / "NTUSER.DAT");
  copyHive(user, d / "documents and settings" / "ann" / "ntuser.dat");
  fs::create_directories(d / "documents and settings" / "nobody");
  copyHive(user, e / "Users" / "joe" / "ntuser.dat");
  copyHive(sam, e / "W2K" / "system32" / "config" / "SAM");
  testsupport::writeFileText(e / "boot.ini", kW2kMenu);
  for (const char letter : {'C', 'X', 'Y', 'Z'}) plantTripwire(letter);
  testsupport::ScopedEnv env("HIVESCOPE_DRIVES", drives("CDEXYZ"));

  const Lines expected{
      "D:\\Documents and Settings\\ann\\ntuser.dat=HKU\\ann",
      "D:\\Documents and Settings\\joe\\ntuser.dat=HKU\\joe",
      "D:\\WINDOWS\\System32\\config\\software=HKLM\\software",
      "D:\\WINDOWS\\System32\\config\\system=HKLM\\system",
      "E:\\Users\\joe\\ntuser.dat=HKU\\joe1",
      "E:\\W2K\\System32\\config\\sam=HKLM\\sam",
  };
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass == 0 ? "first scan" : "second scan");
    TRegHiveManager manager;
    HiveCandidateList list;
    manager.FindExternalUserHives(list);
    manager.FindExternalSystemHives(list);
    EXPECT_EQ(testsupport::joinedLines(list.Lines()), testsupport::joinedLines(expected));
    // The boot.ini looked at gains the old timeout once.
    EXPECT_EQ(testsupport::readFileText(e / "boot.ini"), std::string(kW2kMenu) + kAdded);
  }
}

TEST_F(ForeignHivesTest, FoldersOfOneBootIniAreSearchedOnEveryLaterDrive) {
  testsupport::writeFileText(dir_ / "D" / "boot.ini",
            "[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)\\WINNT=\"a\"\r\n"
            "multi(0)disk(0)rdisk(0)partition(1)\\OS2=\"b\"\r\n");
  testsupport::writeFileText(dir_ / "D" / "WINNT" / "System32" / "config" / "default", "x");
  testsupport::writeFileText(dir_ / "D" / "WINDOWS" / "System32" / "config" / "security", "x");
  testsupport::writeFileText(dir_ / "F" / "OS2" / "System32" / "config" / "SOFTWARE", "x");
  testsupport::ScopedEnv env("HIVESCOPE_DRIVES", drives("DF"));
  TRegHiveManager manager;
  HiveCandidateList list;
  manager.FindExternalSystemHives(list);
  EXPECT_EQ(testsupport::joinedLines(list.Lines()),
            "D:\\WINDOWS\\System32\\config\\security=HKLM\\security\n"
            "D:\\WINNT\\System32\\config\\default=HKLM\\default\n"
            "F:\\OS2\\System32\\config\\software=HKLM\\software\n");
}

TEST_F(ForeignHivesTest, TheDriveOfTheRunningWindowsFolderIsNotSearched) {
  // The Windows folder lies on E: now, so E: is the running system and C: a
  // drive like any other.
  testsupport::writeFileText(dir_ / "C" / "WINDOWS" / "System32" / "config" / "system", "x");
  plantTripwire('E');
  testsupport::ScopedEnv data("XDG_DATA_HOME", (dir_ / "E" / "data").string());
  testsupport::ScopedEnv env("HIVESCOPE_DRIVES", drives("CE"));
  TRegHiveManager manager;
  HiveCandidateList list;
  manager.FindExternalUserHives(list);
  manager.FindExternalSystemHives(list);
  EXPECT_EQ(testsupport::joinedLines(list.Lines()), "C:\\WINDOWS\\System32\\config\\system=HKLM\\system\n");
}

TEST(HiveCandidateList, KeepsSortedOrderIgnoringCaseAndDuplicates) {
  HiveCandidateList list;
  EXPECT_TRUE(list.Add("E:\\b=HKU\\b"));
  EXPECT_TRUE(list.Add("d:\\a=HKU\\joe"));
  EXPECT_FALSE(list.Add("D:\\A=HKU\\JOE"));
  EXPECT_TRUE(list.Add("D:\\B=HKU\\b"));
  EXPECT_EQ(testsupport::joinedLines(list.Lines()), "d:\\a=HKU\\joe\nD:\\B=HKU\\b\nE:\\b=HKU\\b\n");
  EXPECT_TRUE(list.HasTarget("hku\\JOE"));
  EXPECT_EQ(UniqueUserHiveName(list, "joe"), "joe1");
  EXPECT_TRUE(list.Add("F:\\x=HKU\\joe1"));
  EXPECT_EQ(UniqueUserHiveName(list, "joe"), "joe2");
  EXPECT_EQ(UniqueUserHiveName(list, "ann"), "ann");
}

namespace {

class LoadedHivesTest : public testing::Test {
protected:
  void SetUp() override { platform::setDriveTable({{'C', "/"}}); }
  void TearDown() override { platform::setDriveTable({}); }

  void setUserString(const std::string& key, const std::string& name, const std::string& text) {
    ASSERT_TRUE(WriteRegistryString(platform::HKEY_USERS, "\\" + sid_ + key, name, Bitness::x32, text));
  }

  testsupport::TempRegistry registry_;
  const std::string sid_ = platform::currentUserSid();
  const std::string explorer_ = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
};

}  // namespace

TEST_F(LoadedHivesTest, UserNamesOfHivesAndHiveFiles) {
  TRegHiveManager manager;
  // Without a logon name, the profile folder of the start-up folder.
  (void)DeleteRegistryValue(platform::HKEY_USERS, "\\" + sid_ + explorer_, "Logon User Name", ViewByte::v32);
  setUserString(explorer_ + "\\Shell Folders", "Startup",
                "C:\\Documents and Settings\\ann\\Start Menu\\Programs\\Startup");
  EXPECT_EQ(manager.GetHiveUserName("HKEY_USERS\\" + sid_ + "\\SOFTWARE\\"), "Ann");
  setUserString(explorer_, "Logon User Name", "jane");

  struct Case {
    std::string path, name;
  } const cases[] = {
      {"HKEY_USERS\\" + sid_, "Jane"},
      {"HKEY_USERS\\" + sid_ + "\\SOFTWARE\\", "Jane"},
      {"HKEY_USERS\\" + sid_ + "_Classes", "Jane"},
      {"HKEY_USERS\\PE_D_JOE", "Joe"},
      {"HKEY_USERS\\PE_E_Ann_Lee\\Software", "Ann_lee"},
      {"HKEY_USERS\\S-1-5-21-7-7-7-1001", ""},
      {"HKEY_USERS\\", ""},
      {"C:\\Documents and Settings\\joe\\ntuser.dat", "Joe"},
      {"D:\\Users\\ann", ""},
      {"hkey_users\\PE_D_JOE", ""},
      {"some text", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(manager.GetHiveUserName(c.path), c.name);
  }
}

TEST_F(LoadedHivesTest, ProfilesWhoseUsersAreLoadedAreSkipped) {
  setUserString(explorer_, "Logon User Name", "ann");
  Lines loaded;
  TRegHiveManager manager;
  manager.ListLoadedUserHives(loaded);
  EXPECT_NE(std::find(loaded.begin(), loaded.end(), sid_), loaded.end());
  for (const std::string& name : loaded) EXPECT_EQ(name.find("_Classes"), std::string::npos) << name;

  testsupport::TempDir dir;
  const fs::path profiles = dir / "profiles";
  fs::create_directories(profiles / "me");
  fs::create_directories(profiles / "dave");               // no hive
  testsupport::writeFileText(profiles / "joe" / "ntuser.dat", "x");         // an account, not loaded
  testsupport::writeFileText(profiles / "ann" / "NTUSER.DAT", "x");         // no account; loaded by name
  testsupport::writeFileText(profiles / "bob" / "ntuser.dat", "x");         // an account, loaded
  testsupport::writeFileText(profiles / "carl.WORKGROUP" / "ntuser.dat", "x");  // no account
  testsupport::ScopedEnv home("HOME", (profiles / "me").string());
  Lines asked;
  manager.FLookupAccountSid = [&](const std::string& account) -> std::string {
    asked.push_back(account);
    if (account == "joe") return "S-1-5-21-1-2-3-1001";
    if (account == "bob") return sid_;
    if (account == "ann") throw std::runtime_error("no such account");
    return {};
  };
  HiveCandidateList list;
  manager.FindProfileHives(list);
  const std::string folder = platform::linuxToWindowsPath(profiles) + "\\";
  EXPECT_EQ(testsupport::joinedLines(list.Lines()), folder + "carl.WORKGROUP\\ntuser.dat=HKU\\carl.WORKGROUP\n" + folder +
                                      "joe\\ntuser.dat=HKU\\S-1-5-21-1-2-3-1001\n");
  EXPECT_NE(std::find(asked.begin(), asked.end(), "WORKGROUP\\carl"), asked.end());
}

namespace {

// A manager over a fresh registry, with hive files on drive D: and events
// recorded.
class HiveManagerTest : public testing::Test {
protected:
  void SetUp() override {
    platform::setDriveTable({{'C', "/"}, {'D', (dir_ / "D").string()}});
    manager_.FProgramPath = "/opt/hivescope/bin/hivescope";
  }
  void TearDown() override {
    platform::setDriveTable({});
    testsupport::setRestorePrivilege(false);
  }

  // A small hive at a path below drive D:; its Windows path.
  std::string plantHive(const std::string& below) {
    const fs::path minimal = testsupport::testdataFile("hives/crafted/minimal");
    if (!fs::exists(minimal)) return {};
    copyHive(minimal, dir_ / "D" / below);
    std::string windows = "D:\\" + below;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
  }

  Lines entries(int category) {
    Lines lines;
    EXPECT_TRUE(manager_.ReadHiveEntries(lines, category));
    return lines;
  }

  static void setApps(const std::string& text) {
    TMyRegistry registry;
    registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey(kHiveRegistrationKey, true));
    registry.WriteMultiString("Apps", text);
  }

  static bool machineKey(const std::string& name) {
    return RegistryKeyExists(platform::HKEY_LOCAL_MACHINE, "\\" + name, ViewByte::v64);
  }
  static bool usersKey(const std::string& name) {
    return RegistryKeyExists(platform::HKEY_USERS, "\\" + name, ViewByte::v64);
  }

  testsupport::TempDir dir_;
  testsupport::TempRegistry registry_;
  RecordingEventLog events_;
  TRegHiveManager manager_;
};

#define HIVE_OR_SKIP(var, below)                                              \
  const std::string var = plantHive(below);                                   \
  if (var.empty()) GTEST_SKIP() << "test data hives/crafted/minimal is absent"

}  // namespace

TEST_F(HiveManagerTest, MountsAndRecordsTheHivesOfAnotherInstallation) {
  HIVE_OR_SKIP(system, "WINDOWS/System32/config/SYSTEM");
  HIVE_OR_SKIP(sam, "WINDOWS/System32/config/SAM");
  HIVE_OR_SKIP(joe, "Documents and Settings/joe/NTUSER.DAT");
  EXPECT_EQ(manager_.MountHives(kUserHivesOfInstallations | kSystemHivesOfInstallations), 3);
  EXPECT_EQ(testsupport::joinedLines(entries(hcExternalSystemHives)),
            "D:\\WINDOWS\\System32\\config\\sam=PE_D_SAM\nD:\\WINDOWS\\System32\\config\\system=PE_D_SYSTEM\n");
  EXPECT_EQ(testsupport::joinedLines(entries(hcExternalUserHives)),
            "D:\\Documents and Settings\\joe\\ntuser.dat=PE_D_JOE\n");
  EXPECT_TRUE(entries(hcUserHives).empty());
  EXPECT_TRUE(machineKey("PE_D_SYSTEM") && machineKey("PE_D_SAM") && usersKey("PE_D_JOE"));
  Lines prefixes{"PE_X_"};
  manager_.ListMountedPEPrefixes(prefixes);
  EXPECT_EQ(testsupport::joinedLines(prefixes), "PE_X_\nPE_D_\n");

  // What is recorded and mounted now is not tried again.
  EXPECT_EQ(manager_.MountHives(kUserHivesOfInstallations | kSystemHivesOfInstallations), 0);
  EXPECT_TRUE(manager_.ErrorLog().empty());
  EXPECT_EQ(manager_.MountHives(0), 0);

  // Another program uses the hives: they stay, whatever this one does.
  setApps("/usr/bin/sibling\r\n/opt/hivescope/bin/hivescope");
  EXPECT_TRUE(manager_.Unregister());
  Lines apps;
  ASSERT_TRUE(manager_.ReadRegisteredApps(apps));
  EXPECT_EQ(testsupport::joinedLines(apps), "/usr/bin/sibling\n");
  EXPECT_EQ(manager_.CountRegisteredApps(true), 1);
  EXPECT_TRUE(manager_.UnloadIfUnused());
  EXPECT_TRUE(machineKey("PE_D_SYSTEM"));
  EXPECT_EQ(entries(hcExternalSystemHives).size(), 2u);

  // Only this program is left: the last to go unloads everything.
  setApps("/opt/hivescope/bin/hivescope");
  EXPECT_EQ(manager_.CountRegisteredApps(false), 1);
  EXPECT_EQ(manager_.CountRegisteredApps(true), 0);
  EXPECT_TRUE(manager_.Unregister());
  EXPECT_FALSE(machineKey("PE_D_SYSTEM") || machineKey("PE_D_SAM") || usersKey("PE_D_JOE"));
  for (int category = 0; category <= 2; ++category) EXPECT_TRUE(entries(category).empty()) << category;
  EXPECT_TRUE(manager_.ErrorLog().empty());
  EXPECT_TRUE(events_.events.empty());
}

TEST_F(HiveManagerTest, MountNamesAreUniqueWithinOneRun) {
  HIVE_OR_SKIP(a, "A/system");
  HIVE_OR_SKIP(b, "B/system");
  HIVE_OR_SKIP(c, "C/SYSTEM");
  HIVE_OR_SKIP(s1, "S1/ntuser.dat");
  HIVE_OR_SKIP(s2, "S2/ntuser.dat");
  HIVE_OR_SKIP(u, "U/ntuser.dat");
  const Lines candidates{
      a + "=HKLM\\system", b + "=HKLM\\system", c + "=HKLM\\System",
      s1 + "=HKU\\s-1-5-21-9-1001",  // the SID form
      s2 + "=HKU\\S-1-5-21-9-1001",  // renamed: no longer a SID, so an external user hive
      u + "=HKU\\joe",
      "=HKU\\nobody", u + "=HKCU\\x", "D:\\missing\\ntuser.dat=HKU\\ghost",  // skipped; skipped; fails
  };
  EXPECT_EQ(manager_.MountHiveList(candidates), 6);
  EXPECT_EQ(testsupport::joinedLines(entries(hcExternalSystemHives)),
            a + "=PE_D_SYSTEM\n" + b + "=PE_D0_SYSTEM\n" + c + "=PE_D1_SYSTEM\n");
  EXPECT_EQ(testsupport::joinedLines(entries(hcUserHives)), s1 + "=S-1-5-21-9-1001\n");
  EXPECT_EQ(testsupport::joinedLines(entries(hcExternalUserHives)),
            s2 + "=PE_D0_S-1-5-21-9-1001\n" + u + "=PE_D_JOE\n");
  ASSERT_EQ(manager_.ErrorLog().size(), 1u);
  EXPECT_NE(manager_.ErrorLog()[0].find("  Error user loading hive D:\\missing\\ntuser.dat ("), std::string::npos)
      << manager_.ErrorLog()[0];
  EXPECT_TRUE(manager_.UnloadAll());
}

TEST_F(HiveManagerTest, AProfileWhoseAccountIsUnknownIsAnExternalUserHive) {
  HIVE_OR_SKIP(joe, "profiles/joe/ntuser.dat");
  fs::create_directories(dir_ / "D" / "profiles" / "me");
  testsupport::ScopedEnv home("HOME", (dir_ / "D" / "profiles" / "me").string());
  manager_.FLookupAccountSid = [](const std::string&) { return std::string(); };
  EXPECT_EQ(manager_.MountHives(kHivesOfProfiles), 1);
  EXPECT_TRUE(entries(hcUserHives).empty());
  EXPECT_EQ(testsupport::joinedLines(entries(hcExternalUserHives)), joe + "=PE_D_JOE\n");
  EXPECT_TRUE(manager_.UnloadAll());
}

TEST_F(HiveManagerTest, AFailedUnloadKeepsItsLineAndIsLogged) {
  HIVE_OR_SKIP(system, "WINDOWS/System32/config/system");
  ASSERT_EQ(manager_.MountHiveList({system + "=HKLM\\system"}), 1);
  platform::HKEY open{};
  ASSERT_EQ(platform::RegOpenKeyExA(platform::HKEY_LOCAL_MACHINE, "PE_D_SYSTEM", 0, platform::KEY_READ, &open),
            platform::ERROR_SUCCESS);
  EXPECT_FALSE(manager_.UnloadCategory(hcExternalSystemHives));
  EXPECT_EQ(testsupport::joinedLines(entries(hcExternalSystemHives)), system + "=PE_D_SYSTEM\n");
  ASSERT_EQ(manager_.ErrorLog().size(), 1u);
  EXPECT_THAT(manager_.ErrorLog()[0],
              testing::MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}  "
                                    "Unable to unload hive D:\\\\WINDOWS\\\\System32\\\\config\\\\system "
                                    "\\(Access is denied\\.\\)"));
  ASSERT_EQ(events_.events.size(), 1u);
  const RecordedEvent& event = events_.events[0];
  EXPECT_EQ(event.source, "BWL HiveManager");
  EXPECT_EQ(event.type, EVENTLOG_WARNING_TYPE);
  EXPECT_EQ(event.category, 1);
  EXPECT_EQ(event.eventId, 100u);
  EXPECT_EQ(event.text, "/opt/hivescope/bin/hivescope\r\nUnable to unload hive " + system + "\r\nAccess is denied.");

  // Once the handle is closed the next unload goes through.
  platform::RegCloseKey(open);
  EXPECT_TRUE(manager_.UnloadCategory(hcExternalSystemHives));
  EXPECT_TRUE(entries(hcExternalSystemHives).empty());
  EXPECT_FALSE(machineKey("PE_D_SYSTEM"));
  EXPECT_EQ(manager_.ErrorLog().size(), 1u);
}

TEST_F(HiveManagerTest, LinesOfMountsThatAreGoneAreDroppedQuietly) {
  // A run that ended without unloading leaves lines whose mounts went with it.
  ASSERT_TRUE(manager_.AddHiveEntry("D:\\old\\system", "PE_D_SYSTEM", hcExternalSystemHives));
  ASSERT_TRUE(manager_.AddHiveEntry("D:\\old\\ntuser.dat", "PE_D_JOE", hcExternalUserHives));
  // A second line for the same file is not added.
  ASSERT_TRUE(manager_.AddHiveEntry("d:\\OLD\\system", "PE_D0_SYSTEM", hcExternalSystemHives));
  EXPECT_EQ(testsupport::joinedLines(entries(hcExternalSystemHives)), "D:\\old\\system=PE_D_SYSTEM\n");
  EXPECT_TRUE(manager_.UnloadIfUnused());
  EXPECT_TRUE(entries(hcExternalSystemHives).empty());
  EXPECT_TRUE(entries(hcExternalUserHives).empty());
  EXPECT_TRUE(manager_.ErrorLog().empty());
  EXPECT_TRUE(events_.events.empty());

  // Such a line does not keep its hive from being mounted again.
  HIVE_OR_SKIP(system, "WINDOWS/System32/config/system");
  ASSERT_TRUE(manager_.AddHiveEntry(system, "PE_D_SYSTEM", hcExternalSystemHives));
  EXPECT_EQ(manager_.MountHives(kSystemHivesOfInstallations), 1);
  EXPECT_TRUE(machineKey("PE_D_SYSTEM"));
  EXPECT_TRUE(manager_.UnloadAll());
}

TEST_F(HiveManagerTest, ARegistrationValueOfAnotherTypeReadsAsEmpty) {
  ASSERT_TRUE(WriteRegistryString(platform::HKEY_LOCAL_MACHINE, kHiveRegistrationKey, "ExternalSystemHives",
                                  Bitness::x32, "D:\\x=PE_D_X"));
  EXPECT_TRUE(entries(hcExternalSystemHives).empty());
  ASSERT_TRUE(manager_.AddHiveEntry("D:\\y", "PE_D_Y", hcExternalSystemHives));
  TMyRegistry registry;
  registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(registry.OpenKeyReadOnly(kHiveRegistrationKey));
  EXPECT_EQ(registry.GetDataType("ExternalSystemHives"), rdMultiString);
  EXPECT_EQ(registry.ReadMultiString("ExternalSystemHives"), "D:\\y=PE_D_Y");
  // The 32-bit view: the sibling programs are 32-bit ones.
  EXPECT_TRUE(RegistryKeyExists(platform::HKEY_LOCAL_MACHINE, "\\Software\\Wow6432Node\\Brantwell Limited\\HiveManager",
                                ViewByte::v64));
}

// Run as a child process by the test below: records 15 hives named after its
// argument.
TEST(HiveRegistrationChild, AddsEntries) {
  const char* name = std::getenv("HIVESCOPE_REGISTRATION_CHILD");
  if (!name) GTEST_SKIP() << "runs only as a child process";
  TRegHiveManager manager;
  for (int i = 0; i < 15; ++i)
    EXPECT_TRUE(manager.AddHiveEntry(std::string("D:\\") + name + std::to_string(i), "PE_D_X", hcExternalUserHives));
}

TEST_F(HiveManagerTest, InstancesWritingAtOnceKeepEachOthersLines) {
  EXPECT_TRUE(entries(hcExternalUserHives).empty());  // the registry exists before the children start
  std::vector<pid_t> children;
  for (const char* name : {"a", "b", "c"}) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("HIVESCOPE_REGISTRATION_CHILD", name, 1);
      ::execl("/proc/self/exe", "child", "--gtest_filter=HiveRegistrationChild.AddsEntries", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = -1;
    EXPECT_TRUE(testsupport::waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  Lines lines = entries(hcExternalUserHives);
  std::sort(lines.begin(), lines.end());
  Lines expected;
  for (const char* name : {"a", "b", "c"})
    for (int i = 0; i < 15; ++i) expected.push_back(std::string("D:\\") + name + std::to_string(i) + "=PE_D_X");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(testsupport::joinedLines(lines), testsupport::joinedLines(expected));
}

TEST_F(HiveManagerTest, ADirtyForeignHiveWithoutLogsIsMountedReadOnlyAndNeverWritten) {
  HIVE_OR_SKIP(system, "WINDOWS/System32/config/system");
  const fs::path file = dir_ / "D" / "WINDOWS/System32/config/system";
  testsupport::makeHiveDirty(file);
  const std::string before = testsupport::readFileText(file);
  ASSERT_EQ(manager_.MountHiveList({system + "=HKLM\\system"}), 1);
  EXPECT_FALSE(WriteRegistryString(platform::HKEY_LOCAL_MACHINE, "\\PE_D_SYSTEM\\Probe", "x", Bitness::x64, "y"));
  EXPECT_TRUE(manager_.UnloadAll());
  EXPECT_TRUE(testsupport::readFileText(file) == before) << "the hive file changed";
}
