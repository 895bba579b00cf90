#include "platform/Paths.h"

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

// Installs a drive table for one test and restores the real one afterwards.
class DriveTableScope {
 public:
  explicit DriveTableScope(std::vector<Drive> drives) { setDriveTable(std::move(drives)); }
  ~DriveTableScope() { setDriveTable({}); }
};

std::string describe(const std::vector<Drive>& drives) {
  std::string out;
  for (const Drive& d : drives) out += std::string(1, d.letter) + "=" + d.mountPoint + " ";
  return out;
}

}  // namespace

TEST(MountInfo, GivesLettersToDisksInMountTableOrder) {
  const std::string mountInfo =
      "22 28 0:21 / /proc rw,relatime - proc proc rw\n"
      "28 1 254:0 / / rw,relatime - overlay overlay rw,lowerdir=/x\n"
      "29 28 0:26 / /mnt/sandbox ro - tmpfs tmpfs ro,size=4k\n"
      "30 28 8:17 / /mnt/win rw,relatime shared:5 - ntfs3 /dev/sdb1 rw\n"
      "31 28 254:0 /docker/hosts /etc/hosts rw - ext4 /dev/vda rw\n"
      "32 28 8:33 / /data rw - ext4 /dev/sdc1 rw\n"
      "33 28 0:50 / /mnt/share rw - cifs //srv/share rw\n"
      "34 28 7:0 / /snap/core/1 ro - squashfs /dev/loop0 ro\n"
      "35 28 8:18 / /mnt/win rw - ext4 /dev/sdb2 rw\n"
      "36 28 0:51 / /home/u/remote rw - fuse.sshfs u@host: rw\n"
      "garbage line without fields\n"
      "37 28 8:49 / /media/u/My\\040Disk rw - vfat /dev/sdd1 rw\n"
      "38 28 0:52 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n";
  const auto isDirectory = [](const std::string& path) { return path != "/etc/hosts"; };
  const std::vector<Drive> drives = parseMountInfo(mountInfo, isDirectory);
  EXPECT_EQ(describe(drives), "C=/ D=/mnt/win E=/data F=/mnt/share G=/media/u/My Disk ");
}

TEST(MountInfo, LettersStopAtZ) {
  std::string mountInfo;
  for (int i = 0; i < 40; ++i)
    mountInfo += std::to_string(100 + i) + " 1 8:" + std::to_string(i) + " / /mnt/d" +
                 std::to_string(i) + " rw - ext4 /dev/sd" + std::to_string(i) + " rw\n";
  const std::vector<Drive> drives = parseMountInfo(mountInfo, [](const std::string&) { return true; });
  ASSERT_EQ(drives.size(), 24u);
  EXPECT_EQ(drives.back().letter, 'Z');
  EXPECT_EQ(drives.back().mountPoint, "/mnt/d22");
}

TEST(DriveTable, RealTableStartsWithTheRootAsC) {
  setDriveTable({});
  const std::vector<Drive> drives = driveTable();
  ASSERT_FALSE(drives.empty());
  EXPECT_EQ(drives[0].letter, 'C');
  EXPECT_EQ(drives[0].mountPoint, "/");
  {
    DriveTableScope scope({{'C', "/x"}});
    EXPECT_EQ(describe(driveTable()), "C=/x ");
  }
  EXPECT_EQ(describe(driveTable()), describe(drives));
}

TEST(DriveTable, EnvironmentNamesTheDrives) {
  struct Case {
    const char* text;
    const char* table;
  } const cases[] = {
      {"D=/mnt/img;E=/srv/x", "C=/ D=/mnt/img E=/srv/x "},
      {"e:=/b;d=/a", "C=/ D=/a E=/b "},
      {"C=/c;D=/d", "C=/c D=/d "},
      // The first mention of a letter wins; parts without a folder, a letter
      // or an "=" name nothing.
      {"D=/one;d=/two;;X=;=/y;7=/z;DD=/w;E", "C=/ D=/one "},
      {"", "C=/ "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(describe(parseDriveList(c.text)), c.table);
  }

  setDriveTable({});
  {
    testsupport::ScopedEnv env("HIVESCOPE_DRIVES", "D=/mnt/img");
    EXPECT_EQ(describe(driveTable()), "C=/ D=/mnt/img ");
    EXPECT_EQ(windowsToLinuxPath("D:\\no such\\file"), fs::path("/mnt/img/no such/file"));
    // A table set in the process still comes first.
    DriveTableScope scope({{'C', "/x"}});
    EXPECT_EQ(describe(driveTable()), "C=/x ");
  }
}

class WindowsPaths : public testing::Test {
 protected:
  void SetUp() override {
    c_ = dir_ / "cdrive";
    d_ = dir_ / "ddrive";
    fs::create_directories(c_ / "Windows" / "System32" / "config");
    std::ofstream(c_ / "Windows" / "System32" / "config" / "SYSTEM") << "x";
    fs::create_directories(c_ / "Dup");
    fs::create_directories(c_ / "DUP");
    fs::create_directories(c_ / "\xC3\x84rger");  // "Ärger"
    fs::create_directories(d_ / "Users");
    setDriveTable({{'C', c_.string()}, {'D', d_.string()}});
  }
  void TearDown() override { setDriveTable({}); }

  testsupport::TempDir dir_;
  fs::path c_;
  fs::path d_;
};

TEST_F(WindowsPaths, MapToLinuxPaths) {
  struct Case {
    const char* windows;
    fs::path linux;
  };
  const Case cases[] = {
      {"C:\\Windows\\x", c_ / "Windows" / "x"},
      {"c:\\windows\\system32\\CONFIG\\system", c_ / "Windows/System32/config/SYSTEM"},
      {"C:\\WINDOWS\\nothere\\SYSTEM32", c_ / "Windows/nothere/SYSTEM32"},  // tail kept as given
      {"C:\\\\Windows\\\\\\x\\", c_ / "Windows/x"},
      {"C:/Windows/x", c_ / "Windows/x"},
      {"C:Windows", c_ / "Windows"},
      {"\\Windows", c_ / "Windows"},
      {"C:\\Windows\\..\\windows", c_ / "Windows/../Windows"},
      {"C:\\dup", c_ / "DUP"},  // no exact match: the smallest variant
      {"C:\\Dup", c_ / "Dup"},  // an exact match wins
      {"C:\\\xC3\xA4RGER", c_ / "\xC3\x84rger"},
      {"D:\\", d_},
      {"D:", d_},
      {"d:\\users\\x", d_ / "Users/x"},
      {"\\\\?\\C:\\Windows", c_ / "Windows"},
      {"E:\\x", fs::path()},  // no such drive
      {"\\\\server\\share\\x", fs::path()},
      {"\\\\?\\UNC\\server\\share", fs::path()},
      {"", fs::path()},
      {"hivescope-no-such\\b", "hivescope-no-such/b"},
      {"..\\hivescope-no-such", "../hivescope-no-such"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.windows);
    EXPECT_EQ(windowsToLinuxPath(c.windows), c.linux);
  }
}

TEST_F(WindowsPaths, RootDriveMapsToTheFileSystemRoot) {
  setDriveTable({{'C', "/"}});
  EXPECT_EQ(windowsToLinuxPath("C:\\hivescope-no-such\\x"), fs::path("/hivescope-no-such/x"));
  EXPECT_EQ(windowsToLinuxPath("C:\\"), fs::path("/"));
}

TEST_F(WindowsPaths, LinuxPathsMapBackThroughTheLongestMountPoint) {
  setDriveTable({{'C', "/"}, {'D', "/mnt/win"}, {'E', "/mnt/win/inner"}, {'F', "/media/x/"}});
  struct Case {
    fs::path linux;
    const char* windows;
  };
  const Case cases[] = {
      {"/", "C:\\"},
      {"/home/u/x.reg", "C:\\home\\u\\x.reg"},
      {"/mnt/win", "D:\\"},
      {"/mnt/win/", "D:\\"},
      {"/mnt/win/Windows/x", "D:\\Windows\\x"},
      {"/mnt/winter/x", "C:\\mnt\\winter\\x"},
      {"/mnt/win/inner/a", "E:\\a"},
      {"/media/x/y", "F:\\y"},
      {"/mnt//win/./a/../b/", "D:\\b"},
      {"rel/a//b", "rel\\a\\b"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.linux);
    EXPECT_EQ(linuxToWindowsPath(c.linux), c.windows);
  }
}

TEST_F(WindowsPaths, ExistingPathsRoundTrip) {
  for (const fs::path& p : {c_ / "Windows/System32/config/SYSTEM", d_ / "Users", c_ / "Dup"}) {
    SCOPED_TRACE(p);
    const std::string windows = linuxToWindowsPath(p);
    EXPECT_EQ(windows.substr(0, 3), p.string().rfind(d_.string(), 0) == 0 ? "D:\\" : "C:\\");
    EXPECT_EQ(windowsToLinuxPath(windows), p);
  }
}
