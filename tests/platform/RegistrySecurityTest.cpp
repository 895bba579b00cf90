// Key security in the registry store: every open weighs the key's DACL
// against the process token, every call checks its right on the handle, and
// new keys inherit from their parent.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>

#include "platform/Kernel.h"
#include "platform/NtRegistry.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "platform/Security.h"
#include "platform/SecurityDescriptor.h"
#include "platform/Text.h"
#include "tests/support/Privileges.h"
#include "tests/support/Files.h"
#include "tests/support/HivexKeys.h"
#include "tests/support/KeySecurity.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

using namespace platform;

namespace {

class RegistrySecurityTest : public ::testing::Test {
protected:
  void SetUp() override {
    registry::shutdownForTests();
    resetProcessTokenForTests();
    // The parent of the test keys, with the descriptor it inherits.
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Access", 0, nullptr, 0, KEY_READ, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(k);
  }
  void TearDown() override {
    resetProcessTokenForTests();
    registry::shutdownForTests();
  }

  testsupport::TempRegistry reg_;
};

// Makes HKCU\Software\Access\<name> with the descriptor of `sddl`.
void makeKey(const std::string& name, const char* sddl) {
  testsupport::createKeyWithSddl(HKEY_CURRENT_USER, "Software\\Access\\" + name, sddl);
}

// Opens it: the result, and the rights the handle got.
std::pair<LSTATUS, REGSAM> openKey(const std::string& name, REGSAM sam) {
  HKEY k = nullptr;
  const LSTATUS rc = RegOpenKeyExA(HKEY_CURRENT_USER, ("Software\\Access\\" + name).c_str(), 0, sam, &k);
  REGSAM granted = 0;
  if (rc == ERROR_SUCCESS) {
    EXPECT_EQ(registry::handleAccess(k, &granted), ERROR_SUCCESS);
    RegCloseKey(k);
  }
  return {rc, granted};
}

TEST_F(RegistrySecurityTest, OpensWeighTheDaclAgainstTheToken) {
  struct Case {
    const char* sddl;
    REGSAM sam;
    LSTATUS rc;
    REGSAM granted;  // when it opens
  };
  const Case cases[] = {
      // Everyone may only query values.
      {"O:SYD:(A;;0x1;;;WD)", KEY_READ, ERROR_ACCESS_DENIED, 0},
      {"O:SYD:(A;;0x1;;;WD)", KEY_QUERY_VALUE, ERROR_SUCCESS, KEY_QUERY_VALUE},
      {"O:SYD:(A;;0x1;;;WD)", MAXIMUM_ALLOWED, ERROR_SUCCESS, KEY_QUERY_VALUE},
      // A NULL DACL grants all; an empty one nothing.
      {"O:SYD:NO_ACCESS_CONTROL", KEY_ALL_ACCESS, ERROR_SUCCESS, KEY_ALL_ACCESS},
      {"O:SYD:", KEY_QUERY_VALUE, ERROR_ACCESS_DENIED, 0},
      {"O:SYD:", MAXIMUM_ALLOWED, ERROR_ACCESS_DENIED, 0},
      // The first word on a right holds.
      {"O:SYD:(D;;0x1;;;WD)(A;;KA;;;WD)", KEY_QUERY_VALUE, ERROR_ACCESS_DENIED, 0},
      {"O:SYD:(D;;0x1;;;WD)(A;;KA;;;WD)", KEY_SET_VALUE, ERROR_SUCCESS, KEY_SET_VALUE},
      {"O:SYD:(D;;0x1;;;WD)(A;;KA;;;WD)", MAXIMUM_ALLOWED, ERROR_SUCCESS, KEY_ALL_ACCESS & ~KEY_QUERY_VALUE},
      {"O:SYD:(A;;0x1;;;WD)(D;;0x1;;;BA)", KEY_QUERY_VALUE, ERROR_SUCCESS, KEY_QUERY_VALUE},
      // Entries for groups of the token count; others do not.
      {"O:SYD:(A;;KR;;;BU)", KEY_READ, ERROR_SUCCESS, KEY_READ},
      {"O:SYD:(A;;KA;;;SY)", KEY_QUERY_VALUE, ERROR_ACCESS_DENIED, 0},
      // Generic rights are key rights; generic requests are mapped.
      {"O:SYD:(A;;GR;;;AU)", GENERIC_READ, ERROR_SUCCESS, KEY_READ},
      {"O:SYD:(A;;GR;;;AU)", GENERIC_WRITE, ERROR_ACCESS_DENIED, 0},
      // Inherit-only entries do not apply to the key itself.
      {"O:SYD:(A;CIIO;KA;;;WD)", KEY_QUERY_VALUE, ERROR_ACCESS_DENIED, 0},
      // The owner may always read and change the DACL.
      {"O:BAD:", READ_CONTROL | WRITE_DAC, ERROR_SUCCESS, READ_CONTROL | WRITE_DAC},
      {"O:BAD:", MAXIMUM_ALLOWED, ERROR_SUCCESS, READ_CONTROL | WRITE_DAC},
      {"O:BAD:", WRITE_OWNER, ERROR_ACCESS_DENIED, 0},
      // The SACL right takes a privilege the token does not hold.
      {"O:SYD:NO_ACCESS_CONTROL", ACCESS_SYSTEM_SECURITY, ERROR_PRIVILEGE_NOT_HELD, 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string name = std::to_string(n++);
    SCOPED_TRACE(name + " " + c.sddl + " sam " + std::to_string(c.sam));
    makeKey(name, c.sddl);
    const auto [rc, granted] = openKey(name, c.sam);
    EXPECT_EQ(rc, c.rc);
    if (rc == ERROR_SUCCESS) {
      EXPECT_EQ(granted, c.granted);
    }
  }
}

TEST_F(RegistrySecurityTest, BackupPrivilegeGrantsReadingOnly) {
  makeKey("closed", "O:SYD:");
  EXPECT_EQ(openKey("closed", KEY_READ).first, ERROR_ACCESS_DENIED);
  ASSERT_TRUE(testsupport::setBackupPrivilege());
  EXPECT_EQ(openKey("closed", KEY_READ), (std::pair<LSTATUS, REGSAM>{ERROR_SUCCESS, KEY_READ}));
  EXPECT_EQ(openKey("closed", MAXIMUM_ALLOWED), (std::pair<LSTATUS, REGSAM>{ERROR_SUCCESS, KEY_READ}));
  EXPECT_EQ(openKey("closed", KEY_SET_VALUE).first, ERROR_ACCESS_DENIED);
  ASSERT_TRUE(testsupport::setBackupPrivilege(false));
  EXPECT_EQ(openKey("closed", KEY_READ).first, ERROR_ACCESS_DENIED);
}

TEST_F(RegistrySecurityTest, EachCallChecksItsRightOnTheHandle) {
  makeKey("open", "O:SYD:NO_ACCESS_CONTROL");
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Access\\open", 0, KEY_QUERY_VALUE, &k), ERROR_SUCCESS);
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueExA(k, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), ERROR_ACCESS_DENIED);
  char name[64];
  DWORD nameLen = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(k, 0, name, &nameLen, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
  DWORD size = 0;
  EXPECT_EQ(RegGetKeySecurity(k, DACL_SECURITY_INFORMATION, nullptr, &size), ERROR_ACCESS_DENIED);
  RegCloseKey(k);

  // Making a key takes the right to add sub-keys to its parent.
  makeKey("noChildren", "O:SYD:(A;;KR;;;WD)");
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Access\\noChildren\\c", 0, nullptr, 0, KEY_READ, nullptr,
                            &child, nullptr),
            ERROR_ACCESS_DENIED);
}

TEST_F(RegistrySecurityTest, SystemOnlyKeysOfTheDefaultRegistry) {
  HKEY k = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SAM", 0, KEY_READ, &k), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SECURITY", 0, KEY_READ, &k), ERROR_ACCESS_DENIED);
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, u"\\Registry\\Machine\\SAM");
  OBJECT_ATTRIBUTES oa;
  oa.ObjectName = &name;
  HANDLE native;
  EXPECT_EQ(NtOpenKey(&native, KEY_READ, &oa), STATUS_ACCESS_DENIED);

  // Administrators may still read and change the DACL; the SACL stays closed.
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SAM", 0, WRITE_DAC | READ_CONTROL, &k), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegGetKeySecurity(k, DACL_SECURITY_INFORMATION, nullptr, &size), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(RegGetKeySecurity(k, SACL_SECURITY_INFORMATION, nullptr, &size), ERROR_PRIVILEGE_NOT_HELD);
  RegCloseKey(k);

  // The master keys keep their fixed descriptor: administrators may do all.
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
  RegCloseKey(k);
}

std::string keySddl(HKEY k) {
  DWORD size = 0;
  if (RegGetKeySecurity(k, 0x7, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER) return "unreadable";
  std::vector<std::uint8_t> d(size);
  if (RegGetKeySecurity(k, 0x7, d.data(), &size) != ERROR_SUCCESS) return "unreadable";
  char* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(d.data(), SDDL_REVISION_1, 0x7, &text, nullptr))
    return "unconvertible";
  std::string out = text;
  LocalFree(text);
  return out;
}

TEST_F(RegistrySecurityTest, NewKeysInheritFromTheirParent) {
  HS_TESTDATA_OR_SKIP(minimal, testsupport::testdataFile("hives/crafted/minimal"));
  testsupport::TempDir dir;
  const std::filesystem::path file = dir / "hive";
  std::filesystem::copy_file(minimal, file);
  std::filesystem::permissions(file, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  ASSERT_TRUE(testsupport::setRestorePrivilege());
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "INH", file.c_str()), ERROR_SUCCESS);
  {
    HKEY root = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "INH", 0, WRITE_DAC | WRITE_OWNER, &root), ERROR_SUCCESS);
    void* parent = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "O:BAG:SYD:PAI(A;CI;KA;;;BA)(A;CIIO;GA;;;CO)", SDDL_REVISION_1, &parent, nullptr));
    ASSERT_EQ(RegSetKeySecurity(root, 0x7, parent), ERROR_SUCCESS);
    LocalFree(parent);
    RegCloseKey(root);
  }
  HKEY made = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "INH\\made\\below", 0, nullptr, 0, KEY_READ, nullptr, &made, nullptr),
            ERROR_SUCCESS);
  // Two levels down the creator-owner entry still yields the owner's.
  EXPECT_EQ(keySddl(made), "O:BAG:DUD:AI(A;CIID;KA;;;BA)(A;ID;KA;;;BA)(A;CIIOID;GA;;;CO)");
  RegCloseKey(made);
  ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "INH"), ERROR_SUCCESS);

  if (!testsupport::haveTool("reglookup")) GTEST_SKIP() << "reglookup is not installed";
  const std::string out =
      testsupport::commandOutput("reglookup -s -t KEY " + testsupport::shellQuote(file.string()) + " 2>/dev/null");
  const std::size_t at = out.find("\n/made,");
  ASSERT_NE(at, std::string::npos) << out;
  const std::string line = out.substr(at + 1, out.find('\n', at + 1) - at - 1);
  const std::string all = "QRY_VAL SET_VAL CREATE_KEY ENUM_KEYS NOTIFY CREATE_LNK DELETE R_CONT W_DAC W_OWNER";
  EXPECT_NE(line.find(",S-1-5-32-544," + machineDomainSid() + "-513,"), std::string::npos) << line;
  EXPECT_NE(line.find("S-1-5-32-544:ALLOW:" + all + ":CI IA|S-1-5-32-544:ALLOW:" + all + ":IA|S-1-3-0:ALLOW:GEN_A:CI IO IA"),
            std::string::npos)
      << line;
}

}  // namespace

namespace {

// Every key below root\path (UTF-8, "\A\B" relative to it), walked with the
// rights a plain open asks for; keys that do not open are counted apart.
void walkKeys(HKEY parent, const std::u16string& sub, const std::string& rel, std::vector<std::string>& out,
              std::vector<std::string>& refused, int depth) {
  ASSERT_LT(depth, 512);
  HKEY k = nullptr;
  const LSTATUS rc = RegOpenKeyExW(parent, sub.c_str(), 0, KEY_READ, &k);
  if (rc != ERROR_SUCCESS) {
    refused.push_back(rel);
    return;
  }
  out.push_back(rel);
  std::vector<std::u16string> names;
  char16_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD len = 256;
    if (RegEnumKeyExW(k, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, len);
  }
  for (const auto& n : names) walkKeys(k, n, rel + "\\" + utf16ToWtf8(n), out, refused, depth + 1);
  RegCloseKey(k);
}

}  // namespace

// A copy of a real SYSTEM hive mounted as a file: keys whose descriptors
// admit only SYSTEM or TrustedInstaller must read all the same, and a walk
// must reach every key another reader lists.
TEST_F(RegistrySecurityTest, MountedHiveFileReadsEveryKeyItHolds) {
  HS_TESTDATA_OR_SKIP(system, testsupport::unpackedTestdata("hives/real/SYSTEM.xz"));
  testsupport::TempDir dir;
  const std::filesystem::path file = dir / "SYSTEM";
  std::filesystem::copy_file(system, file);
  std::filesystem::permissions(file, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  ASSERT_TRUE(testsupport::setRestorePrivilege());
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "REALSYS", file.c_str()), ERROR_SUCCESS);
  std::vector<std::string> keys, refused;
  walkKeys(HKEY_LOCAL_MACHINE, u"REALSYS", "", keys, refused, 0);
  EXPECT_TRUE(refused.empty()) << refused.size() << " keys refused, the first " << refused.front();
  registry::MountStatus status;
  ASSERT_EQ(registry::mountStatusOf(HKEY_LOCAL_MACHINE, {u"REALSYS"}, &status), ERROR_SUCCESS);
  EXPECT_FALSE(status.accessChecks);
  EXPECT_FALSE(status.defaultRegistry);
  EXPECT_EQ(status.file, file);

  auto listed = testsupport::hivexmlKeyPaths(file);
  if (!listed) GTEST_SKIP() << "hivexml (libhivex-bin) not installed: the key list is not compared";
  std::sort(keys.begin(), keys.end());
  std::sort(listed->begin(), listed->end());
  EXPECT_EQ(keys.size(), listed->size());
  std::vector<std::string> missing;
  std::set_difference(listed->begin(), listed->end(), keys.begin(), keys.end(), std::back_inserter(missing));
  EXPECT_TRUE(missing.empty()) << missing.size() << " keys missing, the first " << missing.front();
  ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "REALSYS"), ERROR_SUCCESS);
}

// Checking a mounted hive's descriptors is the user's choice; with it on, the
// file's owner still reads every key (as a backup-intent open does) while
// changes follow the descriptors. The default registry is always checked.
TEST_F(RegistrySecurityTest, AccessChecksOnAMountedHiveAreTheUsersChoice) {
  HS_TESTDATA_OR_SKIP(minimal, testsupport::testdataFile("hives/crafted/minimal"));
  testsupport::TempDir dir;
  const std::filesystem::path file = dir / "hive";
  std::filesystem::copy_file(minimal, file);
  std::filesystem::permissions(file, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  ASSERT_TRUE(testsupport::setRestorePrivilege());
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "CHK", file.c_str()), ERROR_SUCCESS);
  testsupport::createKeyWithSddl(HKEY_LOCAL_MACHINE, "CHK\\systemOnly", "O:SYD:P(A;;KA;;;SY)");
  auto opens = [](REGSAM sam) {
    HKEY k = nullptr;
    const LSTATUS rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "CHK\\systemOnly", 0, sam, &k);
    REGSAM granted = 0;
    if (rc == ERROR_SUCCESS) {
      EXPECT_EQ(registry::handleAccess(k, &granted), ERROR_SUCCESS);
      RegCloseKey(k);
    }
    return std::pair<LSTATUS, REGSAM>{rc, granted};
  };
  using Opened = std::pair<LSTATUS, REGSAM>;
  // Off (the default): the descriptor does not count.
  EXPECT_EQ(opens(KEY_ALL_ACCESS), (Opened{ERROR_SUCCESS, KEY_ALL_ACCESS}));
  EXPECT_EQ(opens(MAXIMUM_ALLOWED), (Opened{ERROR_SUCCESS, KEY_ALL_ACCESS}));

  ASSERT_EQ(registry::setMountAccessChecks(HKEY_LOCAL_MACHINE, u"chk", true), ERROR_SUCCESS);
  registry::MountStatus status;
  ASSERT_EQ(registry::mountStatusOf(HKEY_LOCAL_MACHINE, {u"CHK", u"systemOnly"}, &status), ERROR_SUCCESS);
  EXPECT_TRUE(status.accessChecks);
  // The test's user owns the copy: reading holds, changing is refused.
  EXPECT_EQ(opens(KEY_READ), (Opened{ERROR_SUCCESS, KEY_READ}));
  EXPECT_EQ(opens(MAXIMUM_ALLOWED), (Opened{ERROR_SUCCESS, KEY_READ}));
  EXPECT_EQ(opens(KEY_SET_VALUE).first, ERROR_ACCESS_DENIED);
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "CHK\\systemOnly\\c", 0, nullptr, 0, KEY_READ, nullptr, &child,
                            nullptr),
            ERROR_ACCESS_DENIED);

  ASSERT_EQ(registry::setMountAccessChecks(HKEY_LOCAL_MACHINE, u"CHK", false), ERROR_SUCCESS);
  EXPECT_EQ(opens(KEY_SET_VALUE), (Opened{ERROR_SUCCESS, KEY_SET_VALUE}));
  EXPECT_EQ(registry::setMountAccessChecks(HKEY_LOCAL_MACHINE, u"NOSUCH", true), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "CHK"), ERROR_SUCCESS);

  // The default registry's hives stay checked.
  EXPECT_EQ(registry::setMountAccessChecks(HKEY_LOCAL_MACHINE, u"SAM", false), ERROR_ACCESS_DENIED);
  ASSERT_EQ(registry::mountStatusOf(HKEY_LOCAL_MACHINE, {u"SAM"}, &status), ERROR_SUCCESS);
  EXPECT_TRUE(status.accessChecks);
  EXPECT_TRUE(status.defaultRegistry);
  HKEY sam = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SAM", 0, KEY_READ, &sam), ERROR_ACCESS_DENIED);
}

