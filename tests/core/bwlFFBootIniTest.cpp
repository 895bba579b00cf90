#include "core/bwlFFBootIni.h"

#include <sys/stat.h>

#include <fstream>

#include <gtest/gtest.h>

#include "platform/Paths.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// A dual-boot menu with comments, a blank line, two entries for one folder
// and the entry kinds that boot no Windows folder: signature(), scsi() and a
// plain drive.
constexpr const char* kMenu =
    "; boot menu of the workshop machine\r\n"
    "[boot loader]\r\n"
    "timeout=30\r\n"
    "default=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n"
    "\r\n"
    "[operating systems]\r\n"
    "; the one in daily use\r\n"
    "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Windows XP Professional\" /fastdetect\r\n"
    "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Windows XP, safe mode\" /safeboot:minimal /sos\r\n"
    "signature(8b467c12)disk(1)rdisk(0)partition(2)\\WINNT=\"Windows 2000 (SCSI)\" /fastdetect\r\n"
    "scsi(0)disk(0)rdisk(0)partition(3)\\WIN98=\"Windows 98\"\r\n"
    "C:\\=\"Recovery Console\" /cmdcons\r\n";

constexpr const char* kAdded = "[quorvane]\r\ntimeout.old=30\r\n";

ino_t inodeOf(const fs::path& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class BootIniTest : public testing::Test {
protected:
  void SetUp() override { platform::setDriveTable({{'C', (dir_ / "c").string()}, {'D', (dir_ / "d").string()}}); }
  void TearDown() override { platform::setDriveTable({}); }
  void SetUpDrive(const char* letter, const std::string& text) {
    testsupport::writeFileText(dir_ / letter / "boot.ini", text);
  }

  testsupport::TempDir dir_;
};

}  // namespace

TEST_F(BootIniTest, ReadsTheWindowsFoldersOfTheMenu) {
  SetUpDrive("d", kMenu);
  TBootIni ini("D:\\BOOT.INI");
  EXPECT_TRUE(ini.FExists);
  EXPECT_EQ(ini.FTimeout, 30);
  ASSERT_EQ(ini.FEntries.size(), 5u);
  EXPECT_EQ(ini.FEntries[0], "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Windows XP Professional\" /fastdetect");
  const bool windowsEntry[] = {true, true, false, false, false};
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(ini.FEntries[static_cast<std::size_t>(i)]);
    EXPECT_EQ(ini.IsWindowsEntry(i), windowsEntry[i]);
  }
  EXPECT_EQ(ini.GetEntryName(4), "C:\\");
  EXPECT_EQ(ini.GetEntryName(9), "");
  std::vector<std::string> folders{"stale"};
  ini.GetWindowsFolders(folders);
  EXPECT_EQ(folders, std::vector<std::string>{"\\WINDOWS"});
}

TEST_F(BootIniTest, WithoutAPathReadsTheRunningSystemsDrive) {
  SetUpDrive("c", "[boot loader]\ntimeout=7\n[operating systems]\nmulti(0)disk(0)rdisk(0)partition(2)\\WINNT=\"x\"\n");
  TBootIni ini("");
  EXPECT_EQ(ini.FFileName, "C:\\boot.ini");
  EXPECT_EQ(ini.FTimeout, 7);
  std::vector<std::string> folders;
  ini.GetWindowsFolders(folders);
  EXPECT_EQ(folders, std::vector<std::string>{"\\WINNT"});
}

TEST_F(BootIniTest, SavesTheOldTimeoutOnceAndKeepsEveryOtherByte) {
  SetUpDrive("d", kMenu);
  const fs::path file = dir_ / "d" / "boot.ini";
  { TBootIni ini("D:\\boot.ini"); }
  EXPECT_EQ(testsupport::readFileText(file), std::string(kMenu) + kAdded);

  // Nothing changes now, so nothing is written: the file is the same one.
  const ino_t written = inodeOf(file);
  { TBootIni ini("D:\\boot.ini"); }
  EXPECT_EQ(testsupport::readFileText(file), std::string(kMenu) + kAdded);
  EXPECT_EQ(inodeOf(file), written);
}

TEST_F(BootIniTest, AReadOnlyFileGetsTheLineAndStaysReadOnly) {
  SetUpDrive("d", kMenu);
  const fs::path file = dir_ / "d" / "boot.ini";
  fs::permissions(file, fs::perms(0444));
  { TBootIni ini("D:\\boot.ini"); }
  EXPECT_EQ(testsupport::readFileText(file), std::string(kMenu) + kAdded);
  EXPECT_EQ(testsupport::permissionBits(file), 0444u);
}

TEST_F(BootIniTest, MissingOrOversizedFilesAreNeverWritten) {
  fs::create_directories(dir_ / "d");
  {
    TBootIni ini("D:\\boot.ini");
    EXPECT_FALSE(ini.FExists);
    EXPECT_EQ(ini.FTimeout, 30);
    EXPECT_TRUE(ini.FEntries.empty());
    EXPECT_FALSE(ini.Save());
  }
  EXPECT_FALSE(fs::exists(dir_ / "d" / "boot.ini"));

  const std::string huge = std::string(kMenu) + std::string(TBootIni::kMaxFileSize, ';');
  SetUpDrive("d", huge);
  {
    TBootIni ini("D:\\boot.ini");
    EXPECT_TRUE(ini.FEntries.empty());
    EXPECT_FALSE(ini.Save());
  }
  EXPECT_EQ(testsupport::readFileText(dir_ / "d" / "boot.ini"), huge);
}

TEST(BootIniText, SaveChangesOnlyWhatItMust) {
  struct Case {
    const char* why;
    const char* text;
    int timeout, previous;
    const char* saved;
  } const cases[] = {
      {"own line ends; a last line without one gets one", "[boot loader]\ntimeout=5", 5, 5,
       "[boot loader]\ntimeout=5\n[quorvane]\ntimeout.old=5\n"},
      {"the key goes after the section's last line, before blank lines and comments",
       "[Quorvane]\r\nother=1\r\n\r\n; note\r\n[boot loader]\r\ntimeout=3\r\n", 3, 3,
       "[Quorvane]\r\nother=1\r\ntimeout.old=3\r\n\r\n; note\r\n[boot loader]\r\ntimeout=3\r\n"},
      {"an existing timeout.old is left alone; a number written otherwise stays",
       "[boot loader]\r\n  timeout = 030 \r\n[QUORVANE]\r\nTimeout.Old=9\r\n", 30, 30,
       "[boot loader]\r\n  timeout = 030 \r\n[QUORVANE]\r\nTimeout.Old=9\r\n"},
      {"a timeout that is no number is replaced in place",
       "[boot loader]\ntimeout=soon\ndefault=x\n[quorvane]\ntimeout.old=30\n", 30, 30,
       "[boot loader]\ntimeout=30\ndefault=x\n[quorvane]\ntimeout.old=30\n"},
      {"a missing timeout joins its section", "[boot loader]\n; c\n[x]\ny=1\n[quorvane]\ntimeout.old=30\n", 30,
       30, "[boot loader]\ntimeout=30\n; c\n[x]\ny=1\n[quorvane]\ntimeout.old=30\n"},
      {"an empty file", "", 30, 30, "[boot loader]\r\ntimeout=30\r\n[quorvane]\r\ntimeout.old=30\r\n"},
      {"a key before any section is not the timeout", "timeout=30\n", 30, 30,
       "timeout=30\n[boot loader]\ntimeout=30\n[quorvane]\ntimeout.old=30\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(BootIniTextSaved(c.text, c.timeout, c.previous), c.saved);
  }
}
