// The key security report and the NULL DACL.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/bwlRegTools.h"
#include "core/kxSecurity.h"
#include "tests/core/SecurityFixture.h"
#include "tests/support/Files.h"
#include "tests/support/TestData.h"

using namespace platform;

namespace {

using Lines = std::vector<std::string>;

struct RecordingBox final : InformationBox {
  Lines shown;
  void showInformation(const std::string& text) override { shown.push_back(text); }
};

bool opensReadOnly(HKEY root, const std::string& path) {
  TMyRegistry reg;
  reg.SetRootKey(root);
  return reg.OpenKeyReadOnly(path);
}

using RegToolsSecurity = SecurityFixture;

TEST_F(RegToolsSecurity, ReportOfAKeyInAMountedHive) {
  ASSERT_NO_FATAL_FAILURE(mountEmptyHive());
  makeKey(HKEY_LOCAL_MACHINE, "TEMPHIVE\\Golden", "O:BAG:SYD:PAI(A;CI;KA;;;BA)(A;CIIO;GA;;;CO)");
  {
    TMyRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("\\TEMPHIVE\\Golden", false));
    reg.WriteString("Name", "data");
    ASSERT_TRUE(reg.OpenKey("\\TEMPHIVE\\Golden\\Sub", true));
  }
  Lines report = GetKeyAccessReport(HKEY_LOCAL_MACHINE, "\\TEMPHIVE\\Golden", rvDefault);
  // The time of the last write is the moment the test ran.
  ASSERT_GT(report.size(), 6u);
  EXPECT_TRUE(report[6].starts_with("  FileTime: ")) << report[6];
  EXPECT_GT(report[6].size(), std::string("  FileTime: ").size()) << report[6];
  report[6] = "  FileTime: (now)";
  const Lines golden{
      "+ Accessing HKEY_LOCAL_MACHINE\\TEMPHIVE\\Golden",
      "  NumSubKeys: 1",
      "  MaxSubKeyLen: 6",
      "  NumValues: 1",
      "  MaxValueLen: 8",
      "  MaxDataLen: 10",
      "  FileTime: (now)",
      "+ Accessing DACL_SECURITY_INFORMATION",
      "+ Security settings read after allocating memory.",
      "+ Security settings read with allocated memory",
      "  Revision: 1",
      "  Sbz1: 0",
      "  Control: 37892",
      "+ Converted security descriptor follows...",
      "Administrators (BUILTIN)",
      "+ ACE Type: ACCESS_ALLOWED_ACE_TYPE",
      "+ ACE Flags:",
      "  + CONTAINER_INHERIT_ACE",
      "+ Rights:",
      "  + KEY_ALL_ACCESS",
      "CREATOR OWNER",
      "+ ACE Type: ACCESS_ALLOWED_ACE_TYPE",
      "+ ACE Flags:",
      "  + CONTAINER_INHERIT_ACE",
      "  + INHERIT_ONLY_ACE",
      "+ Rights:",
      "  + GENERIC_ALL",
      "+ Accessing GROUP_SECURITY_INFORMATION",
      "+ Security settings read after allocating memory.",
      "+ Converted security descriptor follows...",
      "+ Accessing OWNER_SECURITY_INFORMATION",
      "+ Security settings read after allocating memory.",
      "+ Converted security descriptor follows...",
      "+ Accessing SACL_SECURITY_INFORMATION",
      "- Could not read even after allocating memory: A required privilege is not held by the client.",
  };
  EXPECT_EQ(report, golden);
}

TEST_F(RegToolsSecurity, KeyThatDoesNotOpenGivesTwoLines) {
  EXPECT_EQ(GetKeyAccessReport(HKEY_LOCAL_MACHINE, "\\SAM", rvDefault),
            (Lines{"+ Accessing HKEY_LOCAL_MACHINE\\SAM", "- reg.OpenKeyReadOnly: Access denied!"}));
  EXPECT_EQ(GetKeyAccessReport(HKEY_CURRENT_USER, "\\Software\\Missing", rv64Bit),
            (Lines{"+ Accessing HKEY_CURRENT_USER\\Software\\Missing", "- reg.OpenKeyReadOnly: Access denied!"}));
}

TEST_F(RegToolsSecurity, ReportOfAKeyWhoseDescriptorIsOutOfReach) {
  // Opens for querying values only: its sizes can be read, no part of its
  // descriptor.
  const std::string path = userKey("QueryOnly", "O:SYG:SYD:(A;;0x1;;;WD)");
  const Lines report = GetKeyAccessReport(HKEY_CURRENT_USER, path, rvDefault);
  ASSERT_EQ(report.size(), 15u);
  EXPECT_EQ(report[1], "  NumSubKeys: 0");
  const Lines parts(report.begin() + 7, report.end());
  EXPECT_EQ(parts, (Lines{
                       "+ Accessing DACL_SECURITY_INFORMATION",
                       "- Could not read even after allocating memory: Access is denied.",
                       "+ Accessing GROUP_SECURITY_INFORMATION",
                       "- Could not read even after allocating memory: Access is denied.",
                       "+ Accessing OWNER_SECURITY_INFORMATION",
                       "- Could not read even after allocating memory: Access is denied.",
                       "+ Accessing SACL_SECURITY_INFORMATION",
                       "- Could not read even after allocating memory: A required privilege is not held by the client.",
                   }));
}

TEST_F(RegToolsSecurity, ReportOfANullDacl) {
  const std::string path = userKey("Open", "O:BAG:SYD:NO_ACCESS_CONTROL");
  const Lines report = GetKeyAccessReport(HKEY_CURRENT_USER, path, rvDefault);
  ASSERT_GE(report.size(), 14u);
  // Present, with no entries to decode.
  EXPECT_EQ(report[12], "  Control: 32772");
  EXPECT_EQ(report[13], "+ Converted security descriptor follows...");
  EXPECT_EQ(report[14], "+ Accessing GROUP_SECURITY_INFORMATION");
}

TEST_F(RegToolsSecurity, NullDaclOpensAKeyToEveryone) {
  // Administrators own it, so they may change its DACL though it grants
  // them nothing.
  const std::string owned = userKey("Owned", "O:BAG:SYD:(A;;KA;;;SY)");
  const std::string foreign = userKey("Foreign", "O:SYG:SYD:(A;;KA;;;SY)");
  ASSERT_FALSE(opensReadOnly(HKEY_CURRENT_USER, owned));
  RecordingBox box;
  SetKeyNullDacl(HKEY_CURRENT_USER, owned, rvDefault, box);
  EXPECT_TRUE(opensReadOnly(HKEY_CURRENT_USER, owned));
  EXPECT_EQ(GetKeyAccessReport(HKEY_CURRENT_USER, owned, rvDefault).at(12), "  Control: 32772");
  // Owner and group stay.
  EXPECT_EQ(kxGetRegistrySecurityString(HKEY_CURRENT_USER, owned, 7, rvDefault), "O:BAG:SYD:NO_ACCESS_CONTROL");
  // A key that refuses the change does not open for it: nothing happens and
  // nothing is said.
  SetKeyNullDacl(HKEY_CURRENT_USER, foreign, rvDefault, box);
  SetKeyNullDacl(HKEY_CURRENT_USER, "\\Software\\Sec\\Missing", rvDefault, box);
  EXPECT_FALSE(opensReadOnly(HKEY_CURRENT_USER, foreign));
  EXPECT_TRUE(box.shown.empty());
}

TEST_F(RegToolsSecurity, RefusedNullDaclIsTold) {
  // A dirty hive without its logs opens read-only: the key opens for the
  // change and the write is refused.
  HS_TESTDATA_OR_SKIP(security, testsupport::unpackedTestdata("hives/real/SECURITY.xz"));
  const auto file = dir_ / "SECURITY";
  std::filesystem::copy_file(security, file);
  std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  ASSERT_NO_FATAL_FAILURE(mount(file));
  RecordingBox box;
  SetKeyNullDacl(HKEY_LOCAL_MACHINE, "\\TEMPHIVE", rvDefault, box);
  EXPECT_EQ(box.shown, Lines{"- Could not set key security: Access is denied."});
}

// Every key line of `reglookup -s`: path -> owner, group, SACL and DACL.
std::map<std::string, std::string> keyDescriptors(const std::filesystem::path& hive) {
  std::map<std::string, std::string> out;
  std::istringstream in(testsupport::commandOutput("reglookup -s -t KEY " + testsupport::shellQuote(hive.string())));
  std::string line;
  while (std::getline(in, line)) {
    // PATH,TYPE,VALUE,MTIME,OWNER,GROUP,SACL,DACL,CLASS
    std::vector<std::string> fields;
    std::stringstream cells(line);
    for (std::string cell; std::getline(cells, cell, ',');) fields.push_back(cell);
    if (fields.size() < 8 || fields[1] != "KEY") continue;
    out[fields[0]] = fields[4] + "," + fields[5] + "," + fields[6] + "," + fields[7];
  }
  return out;
}

TEST_F(RegToolsSecurity, NullDaclOnARealSamHive) {
  if (!testsupport::haveTool("reglookup")) GTEST_SKIP() << "reglookup is not installed";
  HS_TESTDATA_OR_SKIP(sam, testsupport::unpackedTestdata("hives/real/SAM.xz"));
  const auto file = dir_ / "SAM";
  std::filesystem::copy_file(sam, file);
  std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const auto before = keyDescriptors(file);
  ASSERT_TRUE(before.contains("/SAM"));
  ASSERT_NE(before.at("/SAM").find("S-1-5-18:ALLOW"), std::string::npos) << before.at("/SAM");

  ASSERT_NO_FATAL_FAILURE(mount(file));
  // A loaded file is its owner's to read whole, whatever SAM's own DACL says.
  ASSERT_TRUE(opensReadOnly(HKEY_LOCAL_MACHINE, "\\TEMPHIVE\\SAM"));
  RecordingBox box;
  SetKeyNullDacl(HKEY_LOCAL_MACHINE, "\\TEMPHIVE\\SAM", rvDefault, box);
  EXPECT_TRUE(box.shown.empty());
  EXPECT_TRUE(opensReadOnly(HKEY_LOCAL_MACHINE, "\\TEMPHIVE\\SAM"));
  ASSERT_NO_FATAL_FAILURE(unmount());

  // Its sub-keys keep their own descriptors.
  auto after = keyDescriptors(file);
  ASSERT_EQ(after.size(), before.size());
  const std::string sam_ = after.at("/SAM");
  EXPECT_EQ(sam_, "S-1-5-32-544,S-1-5-18,,") << "owner and group kept, no DACL entries";
  after.erase("/SAM");
  auto expected = before;
  expected.erase("/SAM");
  EXPECT_EQ(after, expected);
}

}  // namespace
