// The registry store where the first round of tests left gaps: key security,
// native names holding NULs, "A" names under an 8-bit code page, the
// synchronous change wait, the CurrentControlSet and HKEY_CURRENT_CONFIG
// links, hive load codes and what the default registry holds.

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Kernel.h"
#include "platform/NtRegistry.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "platform/Security.h"
#include "platform/SecurityDescriptor.h"
#include "platform/Text.h"
#include "platform/hive/HiveFile.h"
#include "tests/support/Privileges.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"
#include "tests/support/Waiting.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

class AuditRegistryTest : public ::testing::Test {
protected:
  void SetUp() override {
    registry::shutdownForTests();
    resetProcessTokenForTests();
    setWow64ForTests(true);
    setActiveCodePage(kCodePageUtf8);
  }
  void TearDown() override {
    setActiveCodePage(kCodePageUtf8);
    registry::shutdownForTests();
  }

  testsupport::TempRegistry reg_;
};

HKEY mustCreate(HKEY root, const char* path, REGSAM sam = KEY_ALL_ACCESS) {
  HKEY k = nullptr;
  EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, sam, nullptr, &k, nullptr), ERROR_SUCCESS) << path;
  return k;
}

HKEY mustOpen(HKEY root, const char* path, REGSAM sam = KEY_READ) {
  HKEY k = nullptr;
  EXPECT_EQ(RegOpenKeyExA(root, path, 0, sam, &k), ERROR_SUCCESS) << path;
  return k;
}

void setDword(HKEY k, const char* name, DWORD v) {
  ASSERT_EQ(RegSetValueExA(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_SUCCESS);
}

DWORD readDword(HKEY root, const char* path, const char* name) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &k) != ERROR_SUCCESS) return 0xDEAD;
  DWORD v = 0, size = 4;
  const LSTATUS rc = RegQueryValueExA(k, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size);
  RegCloseKey(k);
  return rc == ERROR_SUCCESS ? v : 0xDEAD;
}

std::string readString(HKEY root, const char* path, const char* name) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &k) != ERROR_SUCCESS) return "<no key>";
  char buf[4096];
  DWORD size = sizeof buf;
  const LSTATUS rc = RegQueryValueExA(k, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size);
  RegCloseKey(k);
  if (rc != ERROR_SUCCESS) return "<error " + std::to_string(rc) + ">";
  return std::string(buf, size ? size - 1 : 0);
}


sd::Bytes sidOf(const char* text) { return sd::sidFromString(text).value(); }

// The whole descriptor of a key through RegGetKeySecurity, parsed.
std::optional<sd::Parts> keySecurity(HKEY k, SECURITY_INFORMATION info = OWNER_SECURITY_INFORMATION |
                                                                          GROUP_SECURITY_INFORMATION |
                                                                          DACL_SECURITY_INFORMATION) {
  DWORD size = 0;
  if (RegGetKeySecurity(k, info, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
  std::vector<BYTE> buf(size);
  if (RegGetKeySecurity(k, info, buf.data(), &size) != ERROR_SUCCESS) return std::nullopt;
  return sd::parse(buf);
}

// The SIDs an ACL allows something to, in order.
std::vector<std::string> allowedSids(const sd::Bytes& acl) {
  std::vector<std::string> out;
  if (acl.size() < 8) return out;
  const std::size_t count = acl[4] | (acl[5] << 8);
  std::size_t off = 8;
  for (std::size_t i = 0; i < count && off + 8 <= acl.size(); ++i) {
    const std::size_t size = acl[off + 2] | (acl[off + 3] << 8);
    if (size < 8 || off + size > acl.size()) break;
    if (acl[off] == sd::ACCESS_ALLOWED_ACE_TYPE)
      out.push_back(sd::sidToString(std::span<const std::uint8_t>(acl.data() + off + 8, size - 8)).value_or("?"));
    off += size;
  }
  return out;
}

std::u16string withNul(std::u16string_view a, std::u16string_view b) {
  std::u16string s(a);
  s.push_back(u'\0');
  s += b;
  return s;
}

struct Counted {
  std::u16string text;
  UNICODE_STRING us;
  explicit Counted(std::u16string t) : text(std::move(t)) {
    us.Length = us.MaximumLength = USHORT(text.size() * 2);
    us.Buffer = text.data();
  }
};

}  // namespace

// ---------------------------------------------------------------- security

TEST_F(AuditRegistryTest, KeySecurityReadAndReplacedByParts) {
  HKEY k = mustCreate(HKEY_CURRENT_USER, "Software\\Sec");
  DWORD infoSize = 0;
  ASSERT_EQ(RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &infoSize, nullptr),
            ERROR_SUCCESS);

  // Size protocol: null buffer and a buffer one byte short both say how much.
  DWORD size = 0;
  ASSERT_EQ(RegGetKeySecurity(k, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              nullptr, &size),
            ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, infoSize) << "the whole descriptor is what key information reports";
  std::vector<BYTE> buf(size);
  DWORD shortSize = size - 1;
  EXPECT_EQ(RegGetKeySecurity(k, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION,
                              buf.data(), &shortSize),
            ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(shortSize, size);
  EXPECT_EQ(RegGetKeySecurity(k, SACL_SECURITY_INFORMATION, buf.data(), &size), ERROR_PRIVILEGE_NOT_HELD);
  EXPECT_EQ(RegGetKeySecurity(k, OWNER_SECURITY_INFORMATION, buf.data(), nullptr), ERROR_INVALID_PARAMETER);

  // A key this process made: owned by the token's owner, Administrators.
  const auto whole = keySecurity(k);
  ASSERT_TRUE(whole);
  ASSERT_TRUE(whole->owner);
  EXPECT_EQ(sd::sidToString(*whole->owner), "S-1-5-32-544");
  ASSERT_TRUE(whole->dacl);
  // Only the parts asked for come back.
  const auto ownerOnly = keySecurity(k, OWNER_SECURITY_INFORMATION);
  ASSERT_TRUE(ownerOnly);
  EXPECT_TRUE(ownerOnly->owner);
  EXPECT_FALSE(ownerOnly->group);
  EXPECT_FALSE(ownerOnly->dacl);

  // Replace the DACL only: the owner stays, the new DACL is read back, the
  // change survives a restart, and a watch for security changes fires.
  HANDLE ev = CreateEventA(nullptr, true, false, nullptr);
  ASSERT_EQ(RegNotifyChangeKeyValue(k, false, REG_NOTIFY_CHANGE_SECURITY, ev, true), ERROR_SUCCESS);
  sd::Parts mine;
  mine.dacl = sd::buildAcl({{sd::ACCESS_ALLOWED_ACE_TYPE, 0, KEY_READ | WRITE_OWNER, sidOf("S-1-1-0")}});
  sd::Bytes newSd = sd::compose(mine);
  ASSERT_EQ(RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, newSd.data()), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  CloseHandle(ev);
  RegCloseKey(k);
  ASSERT_EQ(registry::flushAll(), ERROR_SUCCESS);
  registry::shutdownForTests();

  // The owner may change the DACL; the new DACL lets everyone change the owner.
  k = mustOpen(HKEY_CURRENT_USER, "Software\\Sec", KEY_READ | WRITE_OWNER | WRITE_DAC);
  const auto after = keySecurity(k);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->owner, whole->owner);
  EXPECT_EQ(after->group, whole->group);
  ASSERT_TRUE(after->dacl);
  EXPECT_EQ(allowedSids(*after->dacl), std::vector<std::string>{"S-1-1-0"});
  // Its neighbour kept the old descriptor: the cell was not changed in place.
  HKEY sibling = mustCreate(HKEY_CURRENT_USER, "Software\\Sec2");
  const auto sib = keySecurity(sibling);
  ASSERT_TRUE(sib);
  EXPECT_EQ(sib->dacl, whole->dacl);
  RegCloseKey(sibling);

  // Owner: a descriptor without one is refused; with one it replaces it.
  EXPECT_EQ(RegSetKeySecurity(k, OWNER_SECURITY_INFORMATION, newSd.data()), ERROR_INVALID_PARAMETER);
  sd::Parts owner;
  owner.owner = sidOf("S-1-5-32-544");
  sd::Bytes ownerSd = sd::compose(owner);
  ASSERT_EQ(RegSetKeySecurity(k, OWNER_SECURITY_INFORMATION, ownerSd.data()), ERROR_SUCCESS);
  EXPECT_EQ(sd::sidToString(*keySecurity(k)->owner), "S-1-5-32-544");
  EXPECT_EQ(allowedSids(*keySecurity(k)->dacl), std::vector<std::string>{"S-1-1-0"});
  EXPECT_EQ(RegSetKeySecurity(k, SACL_SECURITY_INFORMATION, ownerSd.data()), ERROR_PRIVILEGE_NOT_HELD);
  RegCloseKey(k);

  // Rights of the handle: READ_CONTROL to read, WRITE_DAC to set a DACL.
  HKEY weak = mustOpen(HKEY_CURRENT_USER, "Software\\Sec", KEY_QUERY_VALUE);
  size = 0;
  EXPECT_EQ(RegGetKeySecurity(weak, DACL_SECURITY_INFORMATION, nullptr, &size), ERROR_ACCESS_DENIED);
  RegCloseKey(weak);
  HKEY reader = mustOpen(HKEY_CURRENT_USER, "Software\\Sec", KEY_READ);
  EXPECT_EQ(RegSetKeySecurity(reader, DACL_SECURITY_INFORMATION, newSd.data()), ERROR_ACCESS_DENIED);
  RegCloseKey(reader);
}

TEST_F(AuditRegistryTest, CreateKeyWithSecurityAttributes) {
  sd::Parts p;
  p.owner = sidOf("S-1-5-18");
  p.group = sidOf("S-1-5-18");
  p.dacl = sd::buildAcl({{sd::ACCESS_ALLOWED_ACE_TYPE, 0, KEY_ALL_ACCESS, sidOf("S-1-5-18")}});
  sd::Bytes bytes = sd::compose(p);
  SECURITY_ATTRIBUTES sa{};
  sa.nLength = sizeof sa;
  sa.lpSecurityDescriptor = bytes.data();
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\WithSd", 0, nullptr, 0, KEY_ALL_ACCESS, &sa, &k, nullptr),
            ERROR_SUCCESS);
  const auto got = keySecurity(k);
  ASSERT_TRUE(got);
  EXPECT_EQ(sd::sidToString(*got->owner), "S-1-5-18");
  EXPECT_EQ(allowedSids(*got->dacl), std::vector<std::string>{"S-1-5-18"});
  RegCloseKey(k);
}

TEST_F(AuditRegistryTest, RootsCarryRealisticDescriptors) {
  struct Case {
    HKEY root;
    std::string path;
    std::string owner;
    std::vector<std::string> allowed;
  };
  const std::string user = currentUserSid();
  const Case cases[] = {
      {HKEY_LOCAL_MACHINE, "SAM", "S-1-5-32-544", {"S-1-5-18", "S-1-5-32-544"}},
      {HKEY_LOCAL_MACHINE, "SECURITY", "S-1-5-32-544", {"S-1-5-18", "S-1-5-32-544"}},
      {HKEY_LOCAL_MACHINE, "SYSTEM", "S-1-5-32-544", {"S-1-5-32-545", "S-1-5-32-544", "S-1-5-18", "S-1-3-0"}},
      {HKEY_LOCAL_MACHINE, "SOFTWARE", "S-1-5-32-544", {"S-1-5-32-545", "S-1-5-32-544", "S-1-5-18", "S-1-3-0"}},
      {HKEY_USERS, ".DEFAULT", "S-1-5-18", {"S-1-5-32-545", "S-1-5-32-544", "S-1-5-18"}},
      {HKEY_CURRENT_USER, "", user, {user, "S-1-5-18", "S-1-5-32-544"}},
      {HKEY_USERS, user + "_Classes", user, {user, "S-1-5-18", "S-1-5-32-544"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    HKEY k = mustOpen(c.root, c.path.c_str(), READ_CONTROL | KEY_WOW64_64KEY);
    const auto parts = keySecurity(k);
    RegCloseKey(k);
    ASSERT_TRUE(parts);
    ASSERT_TRUE(parts->owner && parts->group && parts->dacl);
    EXPECT_EQ(sd::sidToString(*parts->owner), c.owner);
    EXPECT_EQ(allowedSids(*parts->dacl), c.allowed);
  }
  // SAM and SECURITY: administrators get no read right, only SYSTEM does.
  HKEY sam = mustOpen(HKEY_LOCAL_MACHINE, "SAM", READ_CONTROL);
  const sd::Bytes dacl = *keySecurity(sam)->dacl;
  RegCloseKey(sam);
  ASSERT_GE(dacl.size(), 8u + 2 * 8u);
  const std::size_t firstAce = 8, firstSize = dacl[firstAce + 2] | (dacl[firstAce + 3] << 8);
  std::uint32_t adminMask = 0;
  std::memcpy(&adminMask, dacl.data() + firstAce + firstSize + 4, 4);
  EXPECT_EQ(adminMask & KEY_QUERY_VALUE, 0u);
  EXPECT_EQ(adminMask & KEY_ENUMERATE_SUB_KEYS, 0u);
}

// ---------------------------------------------------------------- native names

TEST_F(AuditRegistryTest, NativeCreateWithNulInTheName) {
  const std::u16string base = u"\\Registry\\User\\" + asciiToWide(currentUserSid()) + u"\\Software\\";
  HANDLE parent;
  {
    Counted name(base + u"NulParent");
    OBJECT_ATTRIBUTES oa;
    oa.ObjectName = &name.us;
    ULONG disp = 0;
    ASSERT_EQ(NtCreateKey(&parent, KEY_ALL_ACCESS, &oa, 0, nullptr, 0, &disp), STATUS_SUCCESS);
    EXPECT_EQ(disp, REG_CREATED_NEW_KEY);
  }
  const std::u16string nulName = withNul(u"a", u"b");
  HANDLE child;
  {
    Counted name(nulName);
    Counted cls(u"Cls");
    OBJECT_ATTRIBUTES oa;
    oa.RootDirectory = parent;
    oa.ObjectName = &name.us;
    ULONG disp = 0;
    ASSERT_EQ(NtCreateKey(&child, KEY_ALL_ACCESS, &oa, 0, &cls.us, 0, &disp), STATUS_SUCCESS);
    EXPECT_EQ(disp, REG_CREATED_NEW_KEY);
    HANDLE again;
    ASSERT_EQ(NtCreateKey(&again, KEY_READ, &oa, 0, nullptr, 0, &disp), STATUS_SUCCESS);
    EXPECT_EQ(disp, REG_OPENED_EXISTING_KEY);
    NtClose(again);
  }
  // The parent shows one child whose name is three units, NUL included.
  alignas(8) BYTE buf[256];
  ULONG len = 0;
  ASSERT_EQ(NtEnumerateKey(parent, 0, KeyNodeInformation, buf, sizeof buf, &len), STATUS_SUCCESS);
  KEY_NODE_INFORMATION node;
  std::memcpy(&node, buf, offsetof(KEY_NODE_INFORMATION, Name));
  ASSERT_EQ(node.NameLength, 6u);
  std::u16string got(3, u'x');
  std::memcpy(got.data(), buf + offsetof(KEY_NODE_INFORMATION, Name), 6);
  EXPECT_EQ(got, nulName);
  EXPECT_EQ(node.ClassLength, 6u);
  EXPECT_EQ(NtEnumerateKey(parent, 1, KeyBasicInformation, buf, sizeof buf, &len), STATUS_NO_MORE_ENTRIES);
  // The prefix before the NUL is another name.
  {
    Counted prefix(u"a");
    OBJECT_ATTRIBUTES oa;
    oa.RootDirectory = parent;
    oa.ObjectName = &prefix.us;
    HANDLE none;
    EXPECT_EQ(NtOpenKey(&none, KEY_READ, &oa), STATUS_OBJECT_NAME_NOT_FOUND);
  }
  // Its own name as the key answers it.
  ASSERT_EQ(NtQueryKey(child, KeyBasicInformation, buf, sizeof buf, &len), STATUS_SUCCESS);
  KEY_BASIC_INFORMATION basic;
  std::memcpy(&basic, buf, offsetof(KEY_BASIC_INFORMATION, Name));
  EXPECT_EQ(basic.NameLength, 6u);
  // A value in it, then everything written and read back from the file.
  {
    Counted vname(withNul(u"v", u"w"));
    const DWORD seven = 7;
    ASSERT_EQ(NtSetValueKey(child, &vname.us, 0, REG_DWORD, &seven, 4), STATUS_SUCCESS);
  }
  NtClose(child);
  NtClose(parent);
  ASSERT_EQ(registry::flushAll(), ERROR_SUCCESS);
  registry::shutdownForTests();

  Counted full(base + u"NulParent\\" + nulName);
  OBJECT_ATTRIBUTES oa;
  oa.ObjectName = &full.us;
  HANDLE reopened;
  ASSERT_EQ(NtOpenKey(&reopened, KEY_READ, &oa), STATUS_SUCCESS);
  Counted vname(withNul(u"v", u"w"));
  ASSERT_EQ(NtQueryValueKey(reopened, &vname.us, KeyValuePartialInformation, buf, sizeof buf, &len), STATUS_SUCCESS);
  KEY_VALUE_PARTIAL_INFORMATION partial;
  std::memcpy(&partial, buf, offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data));
  EXPECT_EQ(partial.Type, REG_DWORD);
  EXPECT_EQ(partial.DataLength, 4u);
  EXPECT_EQ(buf[offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data)], 7);
  // Deleting natively: STATUS_CANNOT_DELETE while a child is there.
  HANDLE parentAgain;
  Counted parentName(base + u"NulParent");
  oa.ObjectName = &parentName.us;
  ASSERT_EQ(NtOpenKey(&parentAgain, KEY_ALL_ACCESS, &oa), STATUS_SUCCESS);
  EXPECT_EQ(NtDeleteKey(parentAgain), STATUS_CANNOT_DELETE);
  NtClose(reopened);
  oa.ObjectName = &full.us;
  ASSERT_EQ(NtOpenKey(&reopened, KEY_ALL_ACCESS, &oa), STATUS_SUCCESS);
  EXPECT_EQ(NtDeleteKey(reopened), STATUS_SUCCESS);
  NtClose(reopened);
  EXPECT_EQ(NtDeleteKey(parentAgain), STATUS_SUCCESS);
  NtClose(parentAgain);
}

TEST_F(AuditRegistryTest, NativeStatusCodesAndSizes) {
  HKEY k = nullptr;
  char cls[] = "SomeClass";
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Nt", 0, cls, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  setDword(k, "d", 1);
  HANDLE h(k.value);
  ULONG len = 0;
  alignas(8) BYTE buf[512];
  // A zero-length full query asks for the size.
  EXPECT_EQ(NtQueryKey(h, KeyFullInformation, nullptr, 0, &len), STATUS_BUFFER_TOO_SMALL);
  const ULONG fullSize = len;
  EXPECT_EQ(fullSize, offsetof(KEY_FULL_INFORMATION, Class) + 18u);
  // The head fits, the class does not: overflow with the head filled in.
  len = 0;
  EXPECT_EQ(NtQueryKey(h, KeyFullInformation, buf, offsetof(KEY_FULL_INFORMATION, Class) + 2, &len),
            STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(len, fullSize);
  KEY_FULL_INFORMATION full;
  std::memcpy(&full, buf, offsetof(KEY_FULL_INFORMATION, Class));
  EXPECT_EQ(full.Values, 1u);
  EXPECT_EQ(full.ClassLength, 18u);
  EXPECT_EQ(full.MaxValueNameLen, 2u);
  EXPECT_EQ(full.MaxValueDataLen, 4u);
  // The native name of the key.
  ASSERT_EQ(NtQueryKey(h, KeyNameInformation, buf, sizeof buf, &len), STATUS_SUCCESS);
  KEY_NAME_INFORMATION nameInfo;
  std::memcpy(&nameInfo, buf, offsetof(KEY_NAME_INFORMATION, Name));
  std::u16string name(nameInfo.NameLength / 2, u'\0');
  std::memcpy(name.data(), buf + offsetof(KEY_NAME_INFORMATION, Name), nameInfo.NameLength);
  EXPECT_EQ(name, u"\\REGISTRY\\USER\\" + asciiToWide(currentUserSid()) + u"\\Software\\Nt");

  struct Case {
    const char* what;
    std::u16string path;
    bool create;
    NTSTATUS want;
  };
  const std::u16string user = u"\\Registry\\User\\" + asciiToWide(currentUserSid());
  const Case cases[] = {
      {"missing key", user + u"\\Software\\Nope", false, STATUS_OBJECT_NAME_NOT_FOUND},
      {"missing parent on create", user + u"\\Software\\Nope\\Deeper", true, STATUS_OBJECT_NAME_NOT_FOUND},
      {"empty component", user + u"\\Software\\\\Nt", false, STATUS_OBJECT_NAME_INVALID},
      {"relative without a root", u"Registry\\User", false, STATUS_OBJECT_PATH_SYNTAX_BAD},
      {"other namespace", u"\\Device\\Foo", false, STATUS_OBJECT_NAME_NOT_FOUND},
      {"machine root", u"\\REGISTRY\\MACHINE", false, STATUS_SUCCESS},
      {"create under the master key", u"\\Registry\\Machine\\NEWHIVE", true, STATUS_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Counted p(c.path);
    OBJECT_ATTRIBUTES oa;
    oa.ObjectName = &p.us;
    HANDLE out;
    const NTSTATUS st = c.create ? NtCreateKey(&out, KEY_ALL_ACCESS, &oa, 0, nullptr, 0, nullptr)
                                 : NtOpenKey(&out, KEY_READ, &oa);
    EXPECT_EQ(st, c.want);
    if (NT_SUCCESS(st)) NtClose(out);
  }
  Counted missing(u"nope");
  EXPECT_EQ(NtQueryValueKey(h, &missing.us, KeyValuePartialInformation, buf, sizeof buf, &len),
            STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(NtEnumerateValueKey(h, 1, KeyValueBasicInformation, buf, sizeof buf, &len), STATUS_NO_MORE_ENTRIES);
  EXPECT_EQ(RtlNtStatusToDosError(STATUS_OBJECT_NAME_NOT_FOUND), ULONG(ERROR_FILE_NOT_FOUND));
  RegCloseKey(k);
}

// ---------------------------------------------------------------- 8-bit names

TEST_F(AuditRegistryTest, AnsiCallsUseTheActiveCodePage) {
  setActiveCodePage(1252);
  HKEY k = mustCreate(HKEY_CURRENT_USER, "Software\\caf\xE9");  // "café" in cp1252
  // A REG_SZ of the euro sign (0x80 in cp1252) and a value name with a
  // cp1252 letter.
  ASSERT_EQ(RegSetValueExA(k, "na\xEFve", 0, REG_SZ, reinterpret_cast<const BYTE*>("\x80"), 2), ERROR_SUCCESS);
  // A character cp1252 lacks, stored through the wide call.
  const std::u16string wide = u"\u0100x";
  ASSERT_EQ(RegSetValueExW(k, u"wide", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                           DWORD((wide.size() + 1) * 2)),
            ERROR_SUCCESS);
  RegCloseKey(k);

  // The wide side sees real Unicode.
  HKEY w = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\caf\u00E9", 0, KEY_READ, &w), ERROR_SUCCESS);
  char16_t text[8] = {};
  DWORD cb = sizeof text;
  ASSERT_EQ(RegQueryValueExW(w, u"na\u00EFve", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &cb), ERROR_SUCCESS);
  EXPECT_EQ(cb, 4u);
  EXPECT_EQ(std::u16string(text), u"\u20AC");

  // The 8-bit side: exact 8-bit sizes, names and data back in cp1252.
  DWORD size = 0;
  ASSERT_EQ(RegQueryValueExA(w, "na\xEFve", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(readString(HKEY_CURRENT_USER, "Software\\caf\xE9", "na\xEFve"), "\x80");
  EXPECT_EQ(readString(HKEY_CURRENT_USER, "SOFTWARE\\CAF\xC9", "wide"), "?x") << "upper-case É matches é";
  char name[16];
  DWORD cch = sizeof name;
  ASSERT_EQ(RegEnumValueA(w, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::string(name, cch), "na\xEFve");
  HKEY soft = mustOpen(HKEY_CURRENT_USER, "Software");
  bool found = false;
  for (DWORD i = 0;; ++i) {
    cch = sizeof name;
    if (RegEnumKeyExA(soft, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    found = found || std::string(name, cch) == "caf\xE9";
  }
  EXPECT_TRUE(found);
  RegCloseKey(soft);
  RegCloseKey(w);

  // Under UTF-8 the same key is reached by its UTF-8 name.
  setActiveCodePage(kCodePageUtf8);
  EXPECT_EQ(readString(HKEY_CURRENT_USER, "Software\\caf\xC3\xA9", "na\xC3\xAFve"), "\xE2\x82\xAC");
}

// ---------------------------------------------------------------- notification

TEST_F(AuditRegistryTest, SynchronousWaitEndsAtTheChange) {
  HKEY k = mustCreate(HKEY_CURRENT_USER, "Software\\Sync");
  std::atomic<bool> done{false};
  LSTATUS rc = 0xFFFF;
  std::thread waiter([&] {
    rc = RegNotifyChangeKeyValue(k, true, REG_NOTIFY_CHANGE_LAST_SET, HANDLE(), false);
    done = true;
  });
  // The watch is armed at some moment we cannot see: keep changing until
  // the wait ends (bounded).
  HKEY deep = mustCreate(HKEY_CURRENT_USER, "Software\\Sync\\a\\b");
  DWORD i = 0;
  const bool ended = testsupport::waitUntil([&] {
    setDword(deep, "v", i++);
    return done.load();
  });
  if (!ended) RegCloseKey(k);  // closing the handle ends the wait too; never hang the suite
  waiter.join();
  EXPECT_TRUE(ended);
  EXPECT_EQ(rc, ERROR_SUCCESS);
  RegCloseKey(deep);
  if (ended) RegCloseKey(k);

  // A filter bit outside the legal set is refused before anything waits.
  HKEY other = mustCreate(HKEY_CURRENT_USER, "Software\\Sync2");
  EXPECT_EQ(RegNotifyChangeKeyValue(other, false, 0x100, HANDLE(), false), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegNotifyChangeKeyValue(other, false, REG_NOTIFY_CHANGE_NAME, HANDLE(), true), ERROR_INVALID_PARAMETER)
      << "asynchronous needs an event";
  RegCloseKey(other);
}

TEST_F(AuditRegistryTest, SynchronousWaitEndsWhenTheHandleCloses) {
  // The watch is armed at some moment we cannot see. Closed before that, the
  // waiter fails on a closed handle, which proves nothing: then try again,
  // waiting a little longer before the close each time.
  LSTATUS rc = ERROR_INVALID_HANDLE;
  auto head = std::chrono::milliseconds(20);
  const auto end = std::chrono::steady_clock::now() + testsupport::kPatience;
  while (rc == ERROR_INVALID_HANDLE && std::chrono::steady_clock::now() < end) {
    HKEY k = mustCreate(HKEY_CURRENT_USER, "Software\\SyncClose");
    std::atomic<bool> done{false};
    std::thread waiter([&] {
      rc = RegNotifyChangeKeyValue(k, false, REG_NOTIFY_CHANGE_NAME, HANDLE(), false);
      done = true;
    });
    std::this_thread::sleep_for(head);
    head *= 2;
    RegCloseKey(k);
    const bool ended = testsupport::waitUntil([&] { return done.load(); });
    if (!ended) {
      // Unblock the waiter so a failure does not hang the suite.
      HKEY again = mustCreate(HKEY_CURRENT_USER, "Software\\SyncClose\\x");
      RegCloseKey(again);
    }
    waiter.join();
    ASSERT_TRUE(ended);
  }
  EXPECT_EQ(rc, ERROR_SUCCESS) << "the close ended an armed wait";
}

TEST_F(AuditRegistryTest, FilterBitsChooseWhatFires) {
  HKEY k = mustCreate(HKEY_CURRENT_USER, "Software\\Filter");
  HANDLE ev = CreateEventA(nullptr, true, false, nullptr);
  struct Step {
    const char* what;
    DWORD filter;
    void (*change)();
    bool fires;
  };
  const Step steps[] = {
      {"value under a name-only watch", REG_NOTIFY_CHANGE_NAME,
       [] {
         HKEY x = mustOpen(HKEY_CURRENT_USER, "Software\\Filter", KEY_ALL_ACCESS);
         setDword(x, "v", 1);
         RegCloseKey(x);
       },
       false},
      {"new sub-key under a name watch", REG_NOTIFY_CHANGE_NAME,
       [] { RegCloseKey(mustCreate(HKEY_CURRENT_USER, "Software\\Filter\\child")); }, true},
      {"sub-key deleted under a name watch", REG_NOTIFY_CHANGE_NAME,
       [] { EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Filter\\child"), ERROR_SUCCESS); }, true},
      {"sub-key under a value watch", REG_NOTIFY_CHANGE_LAST_SET,
       [] { RegCloseKey(mustCreate(HKEY_CURRENT_USER, "Software\\Filter\\child2")); }, false},
      {"value deleted under a value watch", REG_NOTIFY_CHANGE_LAST_SET,
       [] {
         HKEY x = mustOpen(HKEY_CURRENT_USER, "Software\\Filter", KEY_ALL_ACCESS);
         EXPECT_EQ(RegDeleteValueA(x, "v"), ERROR_SUCCESS);
         RegCloseKey(x);
       },
       true},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    ResetEvent(ev);
    ASSERT_EQ(RegNotifyChangeKeyValue(k, false, s.filter, ev, true), ERROR_SUCCESS);
    s.change();
    EXPECT_EQ(WaitForSingleObject(ev, 0) == WAIT_OBJECT_0, s.fires);
  }
  CloseHandle(ev);
  RegCloseKey(k);
}

// ---------------------------------------------------------------- links

TEST_F(AuditRegistryTest, CurrentControlSetFollowsSelectCurrent) {
  {
    HKEY cs1 = mustCreate(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001\\Hardware Profiles\\Current");
    setDword(cs1, "which", 1);
    RegCloseKey(cs1);
    HKEY cs2 = mustCreate(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet002\\Hardware Profiles\\Current");
    setDword(cs2, "which", 2);
    RegCloseKey(cs2);
  }
  EXPECT_EQ(readDword(HKEY_CURRENT_CONFIG, "", "which"), 1u);
  EXPECT_EQ(readDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current", "which"), 1u);

  // The link is listed among SYSTEM's keys, in name order.
  HKEY system = mustOpen(HKEY_LOCAL_MACHINE, "SYSTEM");
  std::vector<std::string> names;
  char name[64];
  for (DWORD i = 0;; ++i) {
    DWORD cch = sizeof name;
    if (RegEnumKeyExA(system, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, cch);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"ControlSet001", "ControlSet002", "CurrentControlSet", "Select"}));
  DWORD subKeys = 0;
  ASSERT_EQ(RegQueryInfoKeyA(system, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 4u);
  RegCloseKey(system);

  // Switch the current set: both names follow.
  HKEY select = mustOpen(HKEY_LOCAL_MACHINE, "SYSTEM\\Select", KEY_ALL_ACCESS);
  setDword(select, "Current", 2);
  EXPECT_EQ(readDword(HKEY_CURRENT_CONFIG, "", "which"), 2u);
  EXPECT_EQ(readDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current", "which"), 2u);
  // The current set cannot be deleted, even when it has no sub-keys; once
  // it is no longer current it can.
  RegCloseKey(mustCreate(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet003"));
  setDword(select, "Current", 3);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet003"), ERROR_ACCESS_DENIED);
  setDword(select, "Current", 2);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet003"), ERROR_SUCCESS);

  // A set that does not exist: the link leads nowhere.
  setDword(select, "Current", 9);
  HKEY none = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet", 0, KEY_READ, &none), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_CONFIG, "", 0, KEY_READ, &none), ERROR_FILE_NOT_FOUND);
  setDword(select, "Current", 1);
  RegCloseKey(select);
  EXPECT_EQ(readDword(HKEY_CURRENT_CONFIG, "", "which"), 1u);

  // Writing through HKEY_CURRENT_CONFIG lands in the real key.
  HKEY cc = mustOpen(HKEY_CURRENT_CONFIG, "", KEY_ALL_ACCESS);
  setDword(cc, "written", 5);
  RegCloseKey(cc);
  EXPECT_EQ(readDword(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001\\Hardware Profiles\\Current", "written"), 5u);
}

// ---------------------------------------------------------------- hives

TEST_F(AuditRegistryTest, HiveLoadCodesBeyondTheFirstTable) {
  HS_TESTDATA_OR_SKIP(minimal, testsupport::testdataFile("hives/crafted/minimal"));
  testsupport::TempDir dir;
  const fs::path file = dir / "hive";
  fs::copy_file(minimal, file);
  fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);  // the test data is read-only
  std::ofstream(dir / "empty");  // zero bytes

  EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "NOTMOUNTED"), ERROR_PRIVILEGE_NOT_HELD);
  ASSERT_TRUE(testsupport::setRestorePrivilege());
  struct Case {
    const char* what;
    HKEY root;
    const char* name;
    std::string file;
    LSTATUS want;
  };
  const Case cases[] = {
      {"missing file", HKEY_LOCAL_MACHINE, "H", (dir / "nothere").string(), ERROR_FILE_NOT_FOUND},
      {"empty file", HKEY_LOCAL_MACHINE, "H", (dir / "empty").string(), ERROR_BADDB},
      {"a folder", HKEY_LOCAL_MACHINE, "H", dir.path().string(), ERROR_ACCESS_DENIED},
      {"empty mount name", HKEY_LOCAL_MACHINE, "", file.string(), ERROR_INVALID_PARAMETER},
      {"mount name with a backslash", HKEY_LOCAL_MACHINE, "a\\b", file.string(), ERROR_INVALID_PARAMETER},
      {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT, "H", file.string(), ERROR_INVALID_PARAMETER},
      {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG, "H", file.string(), ERROR_INVALID_PARAMETER},
      {"a default hive's name", HKEY_LOCAL_MACHINE, "SYSTEM", file.string(), ERROR_ALREADY_EXISTS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(RegLoadKeyA(c.root, c.name, c.file.c_str()), c.want);
  }
  EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "NOTMOUNTED"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "SYSTEM"), ERROR_ACCESS_DENIED) << "the machine's own hive stays";

  // The wide form, a watch on the master key, and a write that reaches the
  // file through unloading.
  HKEY hklm = mustOpen(HKEY_LOCAL_MACHINE, "");
  HANDLE ev = CreateEventA(nullptr, true, false, nullptr);
  ASSERT_EQ(RegNotifyChangeKeyValue(hklm, false, REG_NOTIFY_CHANGE_NAME, ev, true), ERROR_SUCCESS);
  const std::u16string wfile = asciiToWide(file.string());
  ASSERT_EQ(RegLoadKeyW(HKEY_LOCAL_MACHINE, u"WIDE", wfile.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0) << "a new hive under HKLM is a new sub-key";
  CloseHandle(ev);
  RegCloseKey(hklm);
  HKEY k = mustCreate(HKEY_LOCAL_MACHINE, "WIDE\\made");
  setDword(k, "n", 42);
  RegCloseKey(k);
  ASSERT_EQ(RegUnLoadKeyW(HKEY_LOCAL_MACHINE, u"WIDE"), ERROR_SUCCESS);
  auto back = hive::HiveFile::open(file, hive::OpenMode::ReadOnly);
  ASSERT_TRUE(back.ok());
  auto made = (*back)->findSubkey((*back)->root(), u"made");
  ASSERT_TRUE(made.ok());
  auto v = (*back)->findValue(*made, u"n");
  ASSERT_TRUE(v.ok());
  EXPECT_EQ(*(*back)->valueData(*v), (std::vector<std::uint8_t>{42, 0, 0, 0}));
  EXPECT_FALSE((*back)->baseBlock().dirty());
}

TEST_F(AuditRegistryTest, DirtyHiveMountsReadOnlyAndIsNeverWritten) {
  HS_TESTDATA_OR_SKIP(sec, testsupport::unpackedTestdata("hives/real/SECURITY.xz"));
  testsupport::TempDir dir;
  const fs::path file = dir / "SECURITY";
  fs::copy_file(sec, file);
  auto bytes = [](const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string before = bytes(file);
  ASSERT_TRUE(testsupport::setRestorePrivilege());
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "DIRTY", file.c_str()), ERROR_SUCCESS);
  // Only SYSTEM may read this hive's keys by their descriptors; a mounted
  // file is the user's, so they read all the same. The mount says why it
  // takes no changes.
  registry::MountStatus status;
  ASSERT_EQ(registry::mountStatusOf(HKEY_LOCAL_MACHINE, {u"DIRTY"}, &status), ERROR_SUCCESS);
  EXPECT_EQ(status.readOnly, registry::HiveReadOnlyReason::Dirty);
  HKEY root = mustOpen(HKEY_LOCAL_MACHINE, "DIRTY", KEY_READ);
  DWORD subKeys = 0;
  ASSERT_EQ(RegQueryInfoKeyA(root, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_GT(subKeys, 0u) << "readable";
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueExA(root, "x", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), ERROR_ACCESS_DENIED);
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExA(root, "new", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
            ERROR_ACCESS_DENIED);
  RegCloseKey(root);
  ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "DIRTY"), ERROR_SUCCESS);
  EXPECT_EQ(bytes(file), before);
}

// ---------------------------------------------------------------- default registry

TEST_F(AuditRegistryTest, DefaultRegistryHoldsWhatTheProgramReads) {
  struct Case {
    HKEY root;
    const char* path;
    const char* value;
  };
  // Keys that must exist, and values that must be non-empty strings.
  const Case strings[] = {
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir"},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir"},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "SystemRoot"},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "ProductName"},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Common AppData"},
      {HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer", "Logon User Name"},
      {HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "AppData"},
      {HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Personal"},
  };
  for (const Case& c : strings) {
    SCOPED_TRACE(std::string(c.path) + " " + c.value);
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      HKEY k = nullptr;
      ASSERT_EQ(RegOpenKeyExA(c.root, c.path, 0, KEY_READ | view, &k), ERROR_SUCCESS);
      char buf[1024];
      DWORD size = sizeof buf, type = 0;
      ASSERT_EQ(RegQueryValueExA(k, c.value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
      EXPECT_EQ(type, REG_SZ);
      EXPECT_GT(size, 1u);
      RegCloseKey(k);
    }
  }
  for (const char* name : {"Current", "Default", "LastKnownGood"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(readDword(HKEY_LOCAL_MACHINE, "SYSTEM\\Select", name), 1u);
  }
  for (const char* path : {"SYSTEM\\ControlSet001\\Control", "SYSTEM\\ControlSet001\\Services\\EventLog\\Application",
                           "SYSTEM\\ControlSet001\\Hardware Profiles\\Current"}) {
    SCOPED_TRACE(path);
    RegCloseKey(mustOpen(HKEY_LOCAL_MACHINE, path));
  }
  RegCloseKey(mustOpen(HKEY_CURRENT_USER, "Environment"));
  const char* home = std::getenv("HOME");
  if (home && *home) {
    const std::string personal = readString(HKEY_CURRENT_USER,
                                            "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                                            "Personal");
    EXPECT_EQ(personal.rfind(home, 0), 0u) << personal << ": the user's folders lie in the home folder";
  }

  // The user's SID: S-1-5-21-a-b-c-rid with the RID from the Unix user id.
  const std::string sid = currentUserSid();
  EXPECT_EQ(sid.rfind("S-1-5-21-", 0), 0u) << sid;
  EXPECT_EQ(sid.substr(sid.rfind('-') + 1), std::to_string(1000 + ::getuid()));
  EXPECT_EQ(std::count(sid.begin(), sid.end(), '-'), 7) << sid;
  EXPECT_TRUE(sd::sidFromString(sid).has_value());
}

TEST_F(AuditRegistryTest, ConnectAndOddHandles) {
  char host[256] = {};
  ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
  struct Case {
    std::string machine;
    HKEY root;
    LSTATUS want;
  };
  const Case cases[] = {
      {host, HKEY_LOCAL_MACHINE, ERROR_SUCCESS},
      {std::string("\\\\") + host, HKEY_USERS, ERROR_SUCCESS},
      {"LOCALHOST", HKEY_CURRENT_USER, ERROR_SUCCESS},
      {".", HKEY_DYN_DATA, ERROR_INVALID_HANDLE},
      {"\\\\elsewhere", HKEY_USERS, ERROR_BAD_NETPATH},
      {"192.0.2.1", HKEY_LOCAL_MACHINE, ERROR_BAD_NETPATH},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.machine);
    HKEY k = nullptr;
    EXPECT_EQ(RegConnectRegistryA(c.machine.c_str(), c.root, &k), c.want);
    if (c.want == ERROR_SUCCESS) RegCloseKey(k);
  }
  HKEY k = mustCreate(HKEY_CURRENT_USER, "Software\\Odd");
  RegCloseKey(k);
  // A closed handle stays closed (the number is never reused).
  EXPECT_EQ(RegCloseKey(k), ERROR_INVALID_HANDLE);
  DWORD n = 0;
  EXPECT_EQ(RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &n, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr),
            ERROR_INVALID_HANDLE);
  // Closing a predefined root does nothing and succeeds.
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(readDword(HKEY_LOCAL_MACHINE, "SYSTEM\\Select", "Current"), 1u);
}

// ---------------------------------------------------------------- class names and sizes

TEST_F(AuditRegistryTest, ClassNamesAndNameBuffers) {
  HKEY parent = mustCreate(HKEY_CURRENT_USER, "Software\\Classy");
  HKEY child = nullptr;
  char cls[] = "MyClassName";
  DWORD disp = 0;
  ASSERT_EQ(RegCreateKeyExA(parent, "kid", 0, cls, 0, KEY_ALL_ACCESS, nullptr, &child, &disp), ERROR_SUCCESS);
  EXPECT_EQ(disp, REG_CREATED_NEW_KEY);
  RegCloseKey(child);
  ASSERT_EQ(RegCreateKeyExA(parent, "kid", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, &disp), ERROR_SUCCESS);
  EXPECT_EQ(disp, REG_OPENED_EXISTING_KEY);

  char buf[32];
  DWORD cch = sizeof buf;
  ASSERT_EQ(RegQueryInfoKeyA(child, buf, &cch, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(buf, cch), "MyClassName");
  cch = 4;
  EXPECT_EQ(RegQueryInfoKeyA(child, buf, &cch, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr),
            ERROR_MORE_DATA);
  DWORD maxClass = 0;
  ASSERT_EQ(RegQueryInfoKeyA(parent, nullptr, nullptr, nullptr, nullptr, nullptr, &maxClass, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(maxClass, 11u);
  char name[8], clsOut[32];
  DWORD cchName = sizeof name, cchClass = sizeof clsOut;
  ASSERT_EQ(RegEnumKeyExA(parent, 0, name, &cchName, nullptr, clsOut, &cchClass, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::string(name, cchName), "kid");
  EXPECT_EQ(std::string(clsOut, cchClass), "MyClassName");
  // A name buffer one short of the NUL: ERROR_MORE_DATA and the count untouched.
  cchName = 3;
  EXPECT_EQ(RegEnumKeyExA(parent, 0, name, &cchName, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(cchName, 3u);
  char16_t wname[8];
  DWORD wcch = 3;
  EXPECT_EQ(RegEnumKeyExW(parent, 0, wname, &wcch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  wcch = 4;
  EXPECT_EQ(RegEnumKeyExW(parent, 0, wname, &wcch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(wcch, 3u);

  // Last-written time moves when a value is set.
  FILETIME before{}, after{};
  ASSERT_EQ(RegQueryInfoKeyA(child, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, &before),
            ERROR_SUCCESS);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  setDword(child, "v", 1);
  ASSERT_EQ(RegQueryInfoKeyA(child, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, &after),
            ERROR_SUCCESS);
  EXPECT_GT(fileTimeToU64(after), fileTimeToU64(before));
  RegCloseKey(child);
  RegCloseKey(parent);
}

// Re-arming a watch on a predefined root reuses the handle behind it; a
// program that watches HKEY_CURRENT_USER in a loop must not grow the table.
TEST_F(AuditRegistryTest, WatchingARootAgainReusesItsHandle) {
  HANDLE ev = CreateEventA(nullptr, true, false, nullptr);
  ASSERT_EQ(RegNotifyChangeKeyValue(HKEY_CURRENT_USER, true, REG_NOTIFY_CHANGE_LAST_SET, ev, true), ERROR_SUCCESS);
  const std::size_t afterFirst = registry::openHandleCountForTests();
  for (int i = 0; i < 50; ++i)
    ASSERT_EQ(RegNotifyChangeKeyValue(HKEY_CURRENT_USER, true, REG_NOTIFY_CHANGE_LAST_SET, ev, true), ERROR_SUCCESS);
  EXPECT_EQ(registry::openHandleCountForTests(), afterFirst);

  // The re-armed watch still fires.
  ResetEvent(ev);
  HKEY k = mustCreate(HKEY_CURRENT_USER, "Software\\RootWatch");
  setDword(k, "v", 1);
  RegCloseKey(k);
  EXPECT_EQ(WaitForSingleObject(ev, DWORD(testsupport::kPatience.count())), WAIT_OBJECT_0);
  CloseHandle(ev);
}
