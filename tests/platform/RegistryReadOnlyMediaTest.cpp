// A hive on a read-only file system (a forensic image mounted read-only, a
// write-protected disk) mounts read-only: a change is refused at once with 5
// rather than accepted in memory and lost when the save fails.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/Registry.h"
#include "tests/support/Privileges.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// A small tmpfs holding a copy of a hive, remounted read-only. Needs the
// right to mount; the test skips where that is not given.
class ReadOnlyMount {
public:
  explicit ReadOnlyMount(const fs::path& hive) : dir_("hivescope-romedia") {
    point_ = dir_ / "media";
    fs::create_directory(point_);
    if (!run("mount -t tmpfs -o size=4m tmpfs '" + point_.string() + "'")) return;
    mounted_ = true;
    fs::copy_file(hive, point_ / "hive");
    ready_ = run("mount -o remount,ro '" + point_.string() + "'");
  }
  ~ReadOnlyMount() {
    if (mounted_) run("umount '" + point_.string() + "'");
  }
  bool ready() const { return ready_; }
  fs::path hive() const { return point_ / "hive"; }

private:
  testsupport::TempDir dir_;
  fs::path point_;
  bool mounted_ = false;
  bool ready_ = false;
};

}  // namespace

TEST(RegistryReadOnlyMedia, HiveMountsReadOnlyAndRefusesChanges) {
  HS_TESTDATA_OR_SKIP(minimal, testsupport::testdataFile("hives/crafted/minimal"));
  testsupport::TempRegistry registry;
  ReadOnlyMount media(minimal);
  if (!media.ready()) GTEST_SKIP() << "cannot mount a read-only tmpfs here (needs root)";
  ASSERT_TRUE(testsupport::setRestorePrivilege());

  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "RoMedia", media.hive().c_str()), ERROR_SUCCESS);
  HKEY key{};
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "RoMedia", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one),
            ERROR_ACCESS_DENIED);
  HKEY child{};
  EXPECT_EQ(RegCreateKeyExA(key, "child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
            ERROR_ACCESS_DENIED);
  // Reading still works.
  DWORD subKeys = 99;
  EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "RoMedia"), ERROR_SUCCESS);
}
