// The token's identity, account names and the Windows-shaped text
// conversions of SIDs and descriptors.

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/Kernel.h"
#include "platform/Security.h"
#include "platform/SecurityDescriptor.h"

using namespace platform;

namespace {

struct LocalText {
  char* p = nullptr;
  ~LocalText() { LocalFree(p); }
};
struct LocalBytes {
  void* p = nullptr;
  ~LocalBytes() { LocalFree(p); }
};

std::string unixUserName() {
  const passwd* pw = ::getpwuid(::getuid());
  return pw ? pw->pw_name : "";
}

// name, domain and use of a SID text (alias allowed), by the two-call size protocol.
struct Looked {
  bool ok = false;
  DWORD error = 0;
  std::string name, domain;
  SID_NAME_USE use = SidTypeUnknown;
};
Looked lookupSid(const char* sidText) {
  Looked out;
  LocalBytes sid;
  if (!ConvertStringSidToSidA(sidText, &sid.p)) return out;
  DWORD nameSize = 0, domainSize = 0;
  SID_NAME_USE use;
  if (LookupAccountSidA(nullptr, sid.p, nullptr, &nameSize, nullptr, &domainSize, &use)) return out;
  out.error = GetLastError();
  if (out.error != ERROR_INSUFFICIENT_BUFFER) return out;
  std::string name(nameSize, '\0'), domain(domainSize, '\0');
  out.ok = LookupAccountSidA(nullptr, sid.p, name.data(), &nameSize, domain.data(), &domainSize, &out.use);
  out.name = name.c_str();
  out.domain = domain.c_str();
  return out;
}

TEST(Accounts, WellKnownAndLocalUsersByTheirSids) {
  struct Case {
    std::string sid, name, domain;
    SID_NAME_USE use;
  };
  const Case cases[] = {
      {"BA", "Administrators", "BUILTIN", SidTypeAlias},
      {"S-1-5-32-545", "Users", "BUILTIN", SidTypeAlias},
      {"SY", "SYSTEM", "NT AUTHORITY", SidTypeWellKnownGroup},
      {"AU", "Authenticated Users", "NT AUTHORITY", SidTypeWellKnownGroup},
      {"WD", "Everyone", "", SidTypeWellKnownGroup},
      {"CO", "CREATOR OWNER", "", SidTypeWellKnownGroup},
      {currentUserSid(), unixUserName(), machineName(), SidTypeUser},
      {machineDomainSid(), machineName(), machineName(), SidTypeDomain},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sid);
    const Looked l = lookupSid(c.sid.c_str());
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(l.name, c.name);
    EXPECT_EQ(l.domain, c.domain);
    EXPECT_EQ(l.use, c.use);
  }
}

TEST(Accounts, SidsOfNobodyHereAreNotMapped) {
  // A user of a foreign hive, and a local RID no Unix user has.
  for (const std::string& sid : {std::string("S-1-5-21-1-2-3-1001"), machineDomainSid() + "-999999999"}) {
    SCOPED_TRACE(sid);
    const Looked l = lookupSid(sid.c_str());
    EXPECT_FALSE(l.ok);
    EXPECT_EQ(l.error, DWORD(ERROR_NONE_MAPPED));
  }
}

TEST(Accounts, NamesGiveTheirSids) {
  struct Case {
    std::string name, sid, domain;
  };
  const Case cases[] = {
      {"Administrators", "S-1-5-32-544", "BUILTIN"},
      {"builtin\\users", "S-1-5-32-545", "BUILTIN"},
      {"SYSTEM", "S-1-5-18", "NT AUTHORITY"},
      {unixUserName(), currentUserSid(), machineName()},
      {machineName() + "\\" + unixUserName(), currentUserSid(), machineName()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DWORD sidSize = 0, domainSize = 0;
    SID_NAME_USE use;
    ASSERT_FALSE(LookupAccountNameA(nullptr, c.name.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use));
    ASSERT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    std::vector<std::uint8_t> sid(sidSize);
    std::string domain(domainSize, '\0');
    ASSERT_TRUE(LookupAccountNameA("", c.name.c_str(), sid.data(), &sidSize, domain.data(), &domainSize, &use));
    EXPECT_EQ(sd::sidToString(sid), c.sid);
    EXPECT_EQ(std::string(domain.c_str()), c.domain);
  }
  DWORD sidSize = 0, domainSize = 0;
  SID_NAME_USE use;
  EXPECT_FALSE(LookupAccountNameA(nullptr, "no such account here", nullptr, &sidSize, nullptr, &domainSize, &use));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NONE_MAPPED));
  EXPECT_FALSE(LookupAccountNameA("OTHERPC", "SYSTEM", nullptr, &sidSize, nullptr, &domainSize, &use));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NONE_MAPPED));
}

TEST(Token, IsAnElevatedAdministrators) {
  std::vector<std::string> sids;
  for (const auto& s : tokenSids()) sids.push_back(*sd::sidToString(s));
  const std::vector<std::string> expected = {currentUserSid(), "S-1-1-0", "S-1-5-11", "S-1-5-32-545",
                                             "S-1-5-32-544"};
  EXPECT_EQ(sids, expected);
  EXPECT_EQ(sd::sidToString(tokenOwnerSid()), "S-1-5-32-544");
  EXPECT_EQ(sd::sidToString(tokenPrimaryGroupSid()), machineDomainSid() + "-513");
  // Held and disabled: backup and restore; not held: security.
  HANDLE token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
  for (const char* name : {SE_BACKUP_NAME, SE_RESTORE_NAME, SE_SECURITY_NAME}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(processPrivilegeEnabled(name));
  }
  TOKEN_PRIVILEGES tp;
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  ASSERT_TRUE(LookupPrivilegeValueA(nullptr, SE_BACKUP_NAME, &tp.Privileges[0].Luid));
  ASSERT_TRUE(AdjustTokenPrivileges(token, false, &tp, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
  EXPECT_TRUE(processPrivilegeEnabled(SE_BACKUP_NAME));
  resetProcessTokenForTests();
  CloseHandle(token);
}

TEST(SecurityText, WindowsShapedConversions) {
  LocalBytes d;
  ULONG size = 0;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("O:BAG:SYD:P(A;CI;KA;;;SY)", SDDL_REVISION_1,
                                                                   &d.p, &size));
  EXPECT_EQ(size, sd::descriptorSize(static_cast<std::uint8_t*>(d.p)));
  LocalText text;
  ULONG length = 0;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(d.p, SDDL_REVISION_1, 0x7, &text.p, &length));
  EXPECT_STREQ(text.p, "O:BAG:SYD:P(A;CI;KA;;;SY)");
  EXPECT_EQ(length, std::strlen(text.p) + 1);

  LocalText again;
  EXPECT_FALSE(ConvertSecurityDescriptorToStringSecurityDescriptorA(d.p, 2, 0x7, &again.p, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_UNKNOWN_REVISION));
  LocalBytes bad;
  EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;KA;;;ZZ)", 1, &bad.p, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SID));
  EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorA(nullptr, 1, &bad.p, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

  // A SID text: an alias in, never an alias out.
  LocalBytes sid;
  ASSERT_TRUE(ConvertStringSidToSidA("BA", &sid.p));
  LocalText sidText;
  ASSERT_TRUE(ConvertSidToStringSidA(sid.p, &sidText.p));
  EXPECT_STREQ(sidText.p, "S-1-5-32-544");
  LocalBytes none;
  EXPECT_FALSE(ConvertStringSidToSidA("S-1-5-x", &none.p));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SID));
}

}  // namespace
