#include "core/bwlRegHives.h"

#include <fstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "core/bwlRegTools.h"
#include "platform/Paths.h"
#include "platform/Security.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

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
