#pragma once

// A fresh registry with keys made under a chosen descriptor, for the tests of
// key security: HKCU\Software\Sec\<name>, or a key of an empty hive mounted
// as HKLM\TEMPHIVE.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "platform/Security.h"
#include "platform/hive/HiveFile.h"
#include "tests/support/KeySecurity.h"
#include "tests/support/Privileges.h"
#include "tests/support/TempDir.h"

class SecurityFixture : public ::testing::Test {
protected:
  void SetUp() override { platform::resetProcessTokenForTests(); }
  void TearDown() override {
    if (mounted_) platform::RegUnLoadKeyA(platform::HKEY_LOCAL_MACHINE, "TEMPHIVE");
    platform::resetProcessTokenForTests();
  }

  static void makeKey(platform::HKEY root, const std::string& path, const char* sddl) {
    testsupport::createKeyWithSddl(root, path, sddl);
  }
  // "\Software\Sec\<name>" under HKCU, made with `sddl`.
  static std::string userKey(const std::string& name, const char* sddl) {
    // The parent first, with the descriptor it inherits: parents made on the
    // way would get `sddl` as well.
    platform::HKEY parent = nullptr;
    EXPECT_EQ(platform::RegCreateKeyExA(platform::HKEY_CURRENT_USER, "Software\\Sec", 0, nullptr, 0, 0, nullptr,
                                        &parent, nullptr),
              platform::ERROR_SUCCESS);
    platform::RegCloseKey(parent);
    const std::string path = "Software\\Sec\\" + name;
    makeKey(platform::HKEY_CURRENT_USER, path, sddl);
    return "\\" + path;
  }

  // Mounts a new empty hive as HKLM\TEMPHIVE.
  void mountEmptyHive() {
    auto hive = platform::hive::HiveFile::createEmpty();
    ASSERT_TRUE(hive);
    const auto file = dir_ / "empty.hive";
    ASSERT_TRUE((*hive)->saveAs(file));
    mount(file);
  }
  void mount(const std::filesystem::path& file) {
    ASSERT_TRUE(testsupport::setRestorePrivilege(true));
    ASSERT_EQ(platform::RegLoadKeyA(platform::HKEY_LOCAL_MACHINE, "TEMPHIVE", file.c_str()), platform::ERROR_SUCCESS)
        << file;
    mounted_ = true;
    ASSERT_TRUE(testsupport::setRestorePrivilege(false));
  }
  void unmount() {
    ASSERT_TRUE(testsupport::setRestorePrivilege(true));
    ASSERT_EQ(platform::RegUnLoadKeyA(platform::HKEY_LOCAL_MACHINE, "TEMPHIVE"), platform::ERROR_SUCCESS);
    mounted_ = false;
    ASSERT_TRUE(testsupport::setRestorePrivilege(false));
  }

  testsupport::TempRegistry registry_;
  testsupport::TempDir dir_{"hivescope-security"};
  bool mounted_ = false;
};
