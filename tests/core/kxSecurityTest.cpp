// Key security: SDDL taken apart and named, SID and account conversions, and
// the security text of a key.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/kxSecurity.h"
#include "tests/core/SecurityFixture.h"

using namespace platform;

namespace {

using Lines = std::vector<std::string>;

TEST(kxSecurity, SplitSddlAclCutsPrefixFlagsAndEntries) {
  struct Case {
    const char* text;
    const char* prefix;
    const char* flags;
    Lines aces;
  };
  const Case cases[] = {
      {"D:PAI(A;CI;KA;;;BA)(A;CIIO;GA;;;CO)", "D", "PAI", {"(A;CI;KA;;;BA)", "(A;CIIO;GA;;;CO)"}},
      {"D:(A;;KR;;;WD)", "D", "", {"(A;;KR;;;WD)"}},
      {"D:NO_ACCESS_CONTROL", "D", "NO_ACCESS_CONTROL", {}},
      {"O:BA", "O", "BA", {}},
      {"", "", "", {}},
      // An entry cut short is still one entry.
      {"D:(A;;KR;;;WD)(A;;KA", "D", "", {"(A;;KR;;;WD)", "(A;;KA"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string prefix = "x", flags = "x";
    Lines aces{"stale"};
    SplitSddlAcl(c.text, prefix, flags, aces);
    EXPECT_EQ(prefix, c.prefix);
    EXPECT_EQ(flags, c.flags);
    EXPECT_EQ(aces, c.aces);
  }
}

TEST(kxSecurity, ParseAceStringNeedsParentheses) {
  struct Case {
    const char* ace;
    Lines fields;  // type, flags, rights, object GUID, inherit GUID, SID
  };
  const Case cases[] = {
      {"(A;CIIO;GA;;;CO)", {"A", "CIIO", "GA", "", "", "CO"}},
      {"(OA;;RP;bf967aba-0de6-11d0-a285-00aa003049e2;4828cc14-1437-45bc-9b07-ad6f015e5f28;AU)",
       {"OA", "", "RP", "bf967aba-0de6-11d0-a285-00aa003049e2", "4828cc14-1437-45bc-9b07-ad6f015e5f28", "AU"}},
      {"(A;;KA)", {"A", "", "KA", "", "", ""}},
      {"A;CI;KA;;;BA", {"", "", "", "", "", ""}},
      {"(A;CI;KA;;;BA", {"", "", "", "", "", ""}},
      {"()", {"", "", "", "", "", ""}},
      {"(;)", {"", "", "", "", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ace);
    const TAceFields f = ParseAceString(c.ace);
    EXPECT_EQ((Lines{f.Type, f.Flags, f.Rights, f.ObjectGuid, f.InheritGuid, f.AccountSid}), c.fields);
  }
}

TEST(kxSecurity, NamesKeepTheirExactTexts) {
  EXPECT_EQ(AceTypeName("A"), "ACCESS_ALLOWED_ACE_TYPE");
  EXPECT_EQ(AceTypeName("D"), "ACCESS_DENIED_ACE_TYPE ");
  EXPECT_EQ(AceTypeName("OL"), "SYSTEM_ALARM_OBJECT_ACE_TYPE ");
  EXPECT_EQ(AceTypeName("XA"), "?Unknown:XA?");
  EXPECT_EQ(AceFlagName("ID"), "INHERITED_ACE");
  EXPECT_EQ(AceFlagName("XY"), "?Unknown:XY?");
  EXPECT_EQ(AccessRightName("SD"), "DELETE");
  EXPECT_EQ(AccessRightName("FA"), "FILE_ALL_ACCESS");
  EXPECT_EQ(AccessRightName("XY"), "?Unknown:XY?");
  EXPECT_EQ(SidAliasName("WD"), "Everyone");
  EXPECT_EQ(SidAliasName("RU"), "Alias to allow previous Windows 2000");
  EXPECT_EQ(SidAliasName("XY"), "Unknown(?): XY");
  EXPECT_EQ(SidAliasName("S-1-5-21-1-2-3-4"), "S-1-5-21-1-2-3-4");
  EXPECT_EQ(SidAliasName(""), "");
}

TEST(kxSecurity, FlagsAndRightsTexts) {
  struct Case {
    const char* field;
    bool rights;
    const char* text;
  };
  const Case cases[] = {
      {"CIIO", false, "CONTAINER_INHERIT_ACE,INHERIT_ONLY_ACE"},
      {"CIX", false, "CONTAINER_INHERIT_ACE"},  // an odd last letter is dropped
      {"", false, ""},
      {"KAXY", true, "KEY_ALL_ACCESS,?Unknown:XY?"},
      {"KRKW", true, "KEY_READ,KEY_WRITE"},
      // Masks by the bits' own names, each followed by ",".
      {"0x10000000", true, "GENERIC_ALL,"},
      {"0x08000000", true, "0x08000000,"},
      {"0x80010000", true, "DELETE,GENERIC_READ,"},
      {"0x20019", true, "KEY_QUERY_VALUE,KEY_ENUMERATE_SUB_KEYS,KEY_NOTIFY,READ_CONTROL,"},
      {"0xF003F", true,
       "KEY_QUERY_VALUE,KEY_SET_VALUE,KEY_CREATE_SUB_KEY,KEY_ENUMERATE_SUB_KEYS,KEY_NOTIFY,KEY_CREATE_LINK,DELETE,"
       "READ_CONTROL,WRITE_DAC,WRITE_OWNER,"},
      {"0x03140000", true, "WRITE_DAC,SYNCHRONIZE,ACCESS_SYSTEM_SECURITY,MAXIMUM_ALLOWED,"},
      {"0x60000040", true, "GENERIC_EXECUTE,GENERIC_WRITE,0x00000040,"},
      {"0x0", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    EXPECT_EQ(c.rights ? AccessRightsText(c.field, 0) : AceFlagsText(c.field), c.text);
  }
  EXPECT_EQ(SplitNameList("GENERIC_ALL,"), (Lines{"GENERIC_ALL", ""}));
  EXPECT_EQ(SplitNameList(""), (Lines{""}));
}

TEST(kxSecurity, ReportLinesOfEntries) {
  struct Case {
    const char* text;
    Lines lines;
  };
  const Case cases[] = {
      {"D:PAI(A;CI;KA;;;BA)(A;CIIO;GA;;;CO)",
       {"Administrators (BUILTIN)", "+ ACE Type: ACCESS_ALLOWED_ACE_TYPE", "+ ACE Flags:", "  + CONTAINER_INHERIT_ACE",
        "+ Rights:", "  + KEY_ALL_ACCESS", "CREATOR OWNER", "+ ACE Type: ACCESS_ALLOWED_ACE_TYPE", "+ ACE Flags:",
        "  + CONTAINER_INHERIT_ACE", "  + INHERIT_ONLY_ACE", "+ Rights:", "  + GENERIC_ALL"}},
      // A hexadecimal mask's text ends with "," and so with an empty name.
      {"D:(D;;0x10000000;;;WD)",
       {"Everyone", "+ ACE Type: ACCESS_DENIED_ACE_TYPE ", "+ Rights:", "  + GENERIC_ALL", "  + "}},
      {"D:(A;;KAXY;;;XY)",
       {"Unknown(?): XY", "+ ACE Type: ACCESS_ALLOWED_ACE_TYPE", "+ Rights:", "  + KEY_ALL_ACCESS",
        "  + ?Unknown:XY?"}},
      // Without its parentheses an entry has no fields at all.
      {"D:(A;;KA;;;BA", {"", "+ Rights:", "  + "}},
      {"D:(OA;;RP;bf967aba-0de6-11d0-a285-00aa003049e2;;S-1-5-21-1-2-3-4)",
       {"S-1-5-21-1-2-3-4", "+ ACE Type: ACCESS_ALLOWED_OBJECT_ACE_TYPE ", "+ Rights:", "  + ADS_RIGHT_DS_READ_PROP",
        "+ Object GUID: bf967aba-0de6-11d0-a285-00aa003049e2"}},
      {"D:NO_ACCESS_CONTROL", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Lines lines{"kept"};
    AddAceReportLines(c.text, lines, true);
    Lines expected{"kept"};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(lines, expected);
    AddAceReportLines(c.text, lines, false);
    EXPECT_EQ(lines, c.lines);
  }
}

TEST(kxSecurity, AccountNames) {
  struct Case {
    const char* sid;
    const char* name;
  };
  const Case cases[] = {
      {"BA", "Administrators (BUILTIN)"},
      {"S-1-5-32-544", "Administrators (BUILTIN)"},
      {"S-1-3-0", "CREATOR OWNER"},
      {"WD", "Everyone"},
      {"S-1-5-18", "SYSTEM (NT AUTHORITY)"},
      // Nobody known: the alias text, or the SID as it stands.
      {"XY", "Unknown(?): XY"},
      {"S-1-5-21-1-2-3-4", "S-1-5-21-1-2-3-4"},
      {"not a sid", "not a sid"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sid);
    EXPECT_EQ(SidToAccountName(c.sid, ""), c.name);
  }
  // Another computer's accounts are out of reach: the alias table answers.
  EXPECT_EQ(SidToAccountName("S-1-5-21-1-2-3-4", "ELSEWHERE"), "S-1-5-21-1-2-3-4");
}

TEST(kxSecurity, SidAndAccountConversions) {
  const std::vector<std::uint8_t> sid = kxLookupAccountName("Administrators", "");
  EXPECT_EQ(kxConvertSidToStringSid(sid), "S-1-5-32-544");
  EXPECT_EQ(kxConvertSidToStringSid(kxLookupAccountName("BUILTIN\\Users", "")), "S-1-5-32-545");
  try {
    kxLookupAccountName("nobody-of-that-name", "");
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "kxLookupAccountName.LookupAccountName failed (No mapping between account names and security IDs "
                 "was done.)!");
  }
  const std::vector<std::uint8_t> bad{9, 9, 9};
  EXPECT_THROW(kxConvertSidToStringSid(bad), std::runtime_error);
  EXPECT_THROW(kxConvertSidToStringSid({}), std::runtime_error);
}

TEST(kxSecurity, ConvertSecurityDescriptor) {
  void* descriptor = nullptr;
  ULONG size = 0;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("O:BAG:SYD:PAI(A;CI;KA;;;BA)", SDDL_REVISION_1,
                                                                   &descriptor, &size));
  const std::vector<std::uint8_t> bytes(static_cast<std::uint8_t*>(descriptor),
                                        static_cast<std::uint8_t*>(descriptor) + size);
  LocalFree(descriptor);
  EXPECT_EQ(kxConvertSecurityDescriptor(bytes, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                                   DACL_SECURITY_INFORMATION),
            "O:BAG:SYD:PAI(A;CI;KA;;;BA)");
  EXPECT_EQ(kxConvertSecurityDescriptor(bytes, DACL_SECURITY_INFORMATION), "D:PAI(A;CI;KA;;;BA)");
  // Too short to be a descriptor: refused, never read past.
  const std::vector<std::uint8_t> stub{1, 0, 4, 0x80};
  EXPECT_THROW(kxConvertSecurityDescriptor(stub, DACL_SECURITY_INFORMATION), std::runtime_error);
}

using kxSecurityKeys = SecurityFixture;

TEST_F(kxSecurityKeys, SecurityStringOfAKey) {
  const std::string path = userKey("Golden", "O:BAG:SYD:PAI(A;CI;KA;;;BA)(A;CIIO;GA;;;CO)");
  EXPECT_EQ(kxGetRegistrySecurityString(HKEY_CURRENT_USER, path, DACL_SECURITY_INFORMATION, rvDefault),
            "D:PAI(A;CI;KA;;;BA)(A;CIIO;GA;;;CO)");
  EXPECT_EQ(kxGetRegistrySecurityString(HKEY_CURRENT_USER, path,
                                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, rvDefault),
            "O:BAD:PAI(A;CI;KA;;;BA)(A;CIIO;GA;;;CO)");
  // The 64-bit view reads the same key (HKCU\Software is not redirected).
  EXPECT_EQ(kxGetRegistrySecurityString(HKEY_CURRENT_USER, path, GROUP_SECURITY_INFORMATION, rv64Bit), "G:SY");
}

TEST_F(kxSecurityKeys, SecurityStringFailures) {
  struct Case {
    std::string path;
    std::uint32_t code;
    const char* message;
  };
  const Case cases[] = {
      {"\\Software\\Sec\\Missing", ERROR_FILE_NOT_FOUND,
       "kxGetRegistrySecurityString.OpenKeyReadOnly failed: The system cannot find the file specified."},
      // Opens for querying values only, so its descriptor stays out of reach.
      {userKey("QueryOnly", "O:SYD:(A;;0x1;;;WD)"), ERROR_ACCESS_DENIED,
       "kxGetRegistrySecurityString.RegGetKeySecurity failed."},
      {userKey("Closed", "O:SYD:"), ERROR_ACCESS_DENIED,
       "kxGetRegistrySecurityString.OpenKeyReadOnly failed: Access is denied."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    try {
      kxGetRegistrySecurityString(HKEY_CURRENT_USER, c.path, DACL_SECURITY_INFORMATION, rvDefault);
      ADD_FAILURE() << "no exception";
    } catch (const SecurityAPIException& e) {
      EXPECT_EQ(e.ErrorCode, c.code);
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

}  // namespace
