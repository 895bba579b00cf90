#include "platform/HiveLock.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using platform::registry::HiveLock;

namespace {

class HiveLockTest : public ::testing::Test {
protected:
  void SetUp() override { std::ofstream(hive_) << "hive"; }
  testsupport::TempDir dir_;
  fs::path hive_ = dir_ / "NTUSER.DAT";
  fs::path beside_ = dir_ / ".NTUSER.DAT.lock";
};

}  // namespace

// The lock file lies beside the hive, whatever the environment says, is
// private, and goes with the last holder.
TEST_F(HiveLockTest, TheLockFileLiesBesideTheHiveAndGoesWithTheLastHolder) {
  testsupport::ScopedUmask umask(022);
  testsupport::ScopedEnv runtime("XDG_RUNTIME_DIR", (dir_ / "runtime").string());
  HiveLock a, b;
  ASSERT_TRUE(a.open(hive_));
  EXPECT_EQ(a.file(), beside_);
  ASSERT_TRUE(a.lockUseShared());
  EXPECT_EQ(testsupport::permissionBits(beside_), 0600u);
  ASSERT_TRUE(b.open(dir_ / "." / "NTUSER.DAT"));
  EXPECT_EQ(b.file(), beside_) << "one file whatever the spelling of the path";
  ASSERT_TRUE(b.lockUseShared());
  EXPECT_FALSE(fs::exists(dir_ / "runtime"));

  b.close();
  EXPECT_TRUE(fs::exists(beside_)) << "another holder is still there";
  a.close();
  EXPECT_FALSE(fs::exists(beside_));
}

// Exclusion holds across the removal and re-creation of the file: a holder
// that opened the file before it was removed takes its lock on the new one.
TEST_F(HiveLockTest, ExclusionHoldsAcrossTheRemovalOfTheFile) {
  HiveLock early, mounted, other;
  ASSERT_TRUE(early.open(hive_));  // opened, not yet locked
  {
    HiveLock gone;
    ASSERT_TRUE(gone.open(hive_));
    ASSERT_TRUE(gone.lockUseShared());
  }
  EXPECT_FALSE(fs::exists(beside_)) << "removed under the early opener";
  ASSERT_TRUE(mounted.open(hive_));
  ASSERT_TRUE(mounted.lockUseExclusive());
  EXPECT_FALSE(early.lockUseShared()) << "the early opener finds the new file and its holder";
  ASSERT_TRUE(other.open(hive_));
  EXPECT_FALSE(other.lockUseExclusive());
  mounted.close();
  EXPECT_TRUE(early.lockUseShared());
  EXPECT_TRUE(other.lockUseShared());
  EXPECT_TRUE(fs::exists(beside_));
  early.close();
  other.close();
  EXPECT_FALSE(fs::exists(beside_));
}

// A planted link in the lock file's place is never followed.
TEST_F(HiveLockTest, ALinkInTheLockFilesPlaceIsNotFollowed) {
  fs::create_symlink(dir_ / "elsewhere", beside_);
  HiveLock lock;
  if (lock.open(hive_)) {
    EXPECT_NE(lock.file(), beside_);
  }
  EXPECT_FALSE(fs::exists(dir_ / "elsewhere"));
  lock.close();
  EXPECT_TRUE(fs::is_symlink(beside_));
}
