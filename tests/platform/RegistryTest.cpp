// The registry store through the Win32-shaped and native calls.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/DefaultRegistry.h"
#include "platform/Kernel.h"
#include "platform/NtRegistry.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "platform/Security.h"
#include "platform/Text.h"
#include "platform/hive/HiveFile.h"
#include "tests/support/Files.h"
#include "tests/support/Privileges.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

// A fresh default registry in a temporary folder per test.
class RegistryTest : public ::testing::Test {
protected:
  void SetUp() override {
    registry::shutdownForTests();
    resetProcessTokenForTests();
    setWow64ForTests(true);
    setActiveCodePage(kCodePageUtf8);
  }
  void TearDown() override { registry::shutdownForTests(); }

  testsupport::TempRegistry reg_;
};

HKEY mustCreate(HKEY root, const char* path, DWORD options = 0, REGSAM sam = KEY_ALL_ACCESS) {
  HKEY k = nullptr;
  EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, options, sam, nullptr, &k, nullptr), ERROR_SUCCESS) << path;
  return k;
}

void setString(HKEY k, const char* name, const char* text) {
  ASSERT_EQ(RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), DWORD(std::strlen(text) + 1)),
            ERROR_SUCCESS);
}

bool keyExists(HKEY root, const char* path, REGSAM sam = KEY_READ) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(root, path, 0, sam, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

std::string readString(HKEY root, const char* path, const char* name, REGSAM sam = KEY_READ) {
  HKEY k = nullptr;
  if (RegOpenKeyExA(root, path, 0, sam, &k) != ERROR_SUCCESS) return "<no key>";
  char buf[4096];
  DWORD size = sizeof buf, type = 0;
  LSTATUS rc = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  RegCloseKey(k);
  if (rc != ERROR_SUCCESS) return "<error " + std::to_string(rc) + ">";
  return std::string(buf, size ? size - 1 : 0);
}

// A small hive file with one key "kept" holding the string "v" = "old".
void makeHive(const fs::path& file) {
  auto h = hive::HiveFile::createEmpty().value();
  const hive::KeyId k = *h->createKey(h->root(), u"kept");
  ASSERT_TRUE(h->setValue(k, u"v", REG_SZ, testsupport::utf16z(u"old")).ok());
  ASSERT_TRUE(h->saveAs(file).ok());
}

// The string "v" of "kept" as the hive file holds it; "<...>" when it cannot.
std::string valueInFile(const fs::path& file) {
  auto h = hive::HiveFile::open(file, hive::OpenMode::ReadOnly);
  if (!h) return "<no hive>";
  const auto k = (*h)->findSubkey((*h)->root(), u"kept");
  if (!k) return "<no key>";
  const auto v = (*h)->findValue(*k, u"v");
  if (!v) return "<no value>";
  const auto data = (*h)->valueData(*v);
  if (!data) return "<no data>";
  std::string text;
  for (std::size_t i = 0; i + 1 < data->size() && (*data)[i] != 0; i += 2) text += char((*data)[i]);
  return text;
}

std::vector<std::string> entriesOf(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST_F(RegistryTest, ErrorCodesAndSizes) {
  HKEY k = mustCreate(HKEY_CURRENT_USER, "Software\\Test");
  setString(k, "s", "h\xc3\xa9llo");  // 5 characters, 6 bytes in UTF-8
  HKEY sub = mustCreate(k, "child");
  RegCloseKey(sub);

  struct Case {
    const char* what;
    LSTATUS got;
    LSTATUS want;
  };
  HKEY out = nullptr;
  char name[8];
  DWORD cch = 2;
  BYTE small[2];
  DWORD cb = sizeof small;
  const Case cases[] = {
      {"missing key", RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Nope", 0, KEY_READ, &out), ERROR_FILE_NOT_FOUND},
      {"leading backslash", RegOpenKeyExA(HKEY_CURRENT_USER, "\\Software", 0, KEY_READ, &out), ERROR_BAD_PATHNAME},
      {"enum past end", RegEnumKeyA(k, 1, name, sizeof name), ERROR_NO_MORE_ITEMS},
      {"name buffer too small", RegEnumKeyExA(k, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA},
      {"data buffer too small", RegQueryValueExA(k, "s", nullptr, nullptr, small, &cb), ERROR_MORE_DATA},
      {"delete key with sub-keys", RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Test"), ERROR_ACCESS_DENIED},
      {"create under master key", RegCreateKeyExA(HKEY_LOCAL_MACHINE, "NEWHIVE", 0, nullptr, 0, KEY_ALL_ACCESS,
                                                  nullptr, &out, nullptr),
       ERROR_ACCESS_DENIED},
      {"missing value", RegQueryValueExA(k, "nope", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND},
      {"HKEY_DYN_DATA", RegOpenKeyExA(HKEY_DYN_DATA, "", 0, KEY_READ, &out), ERROR_INVALID_HANDLE},
      {"bad handle", RegOpenKeyExA(HKEY(std::uintptr_t(0x4242)), "", 0, KEY_READ, &out), ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.got, c.want);
  }
  EXPECT_EQ(cb, 6u + 1u) << "the size needed is the exact 8-bit size";

  DWORD wsize = 0;
  ASSERT_EQ(RegQueryValueExW(k, u"s", nullptr, nullptr, nullptr, &wsize), ERROR_SUCCESS);
  EXPECT_EQ(wsize, 12u);
  RegCloseKey(k);
}

TEST_F(RegistryTest, EnumerationOrderAndKeyInfo) {
  HKEY k = mustCreate(HKEY_CURRENT_USER, "Software\\Order");
  for (const char* n : {"b", "A", "c"}) RegCloseKey(mustCreate(k, n));
  for (const char* v : {"zz", "aa", "mm"}) setString(k, v, "x");
  std::vector<std::string> keys, values;
  char buf[64];
  for (DWORD i = 0;; ++i) {
    DWORD cch = sizeof buf;
    if (RegEnumKeyExA(k, i, buf, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    keys.emplace_back(buf, cch);
  }
  for (DWORD i = 0;; ++i) {
    DWORD cch = sizeof buf;
    if (RegEnumValueA(k, i, buf, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    values.emplace_back(buf, cch);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"A", "b", "c"}));
  EXPECT_EQ(values, (std::vector<std::string>{"zz", "aa", "mm"}));

  DWORD subKeys = 0, maxSub = 0, nValues = 0, maxName = 0, maxData = 0, sdSize = 0;
  FILETIME ft{};
  ASSERT_EQ(RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &subKeys, &maxSub, nullptr, &nValues, &maxName, &maxData,
                             &sdSize, &ft),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 3u);
  EXPECT_EQ(maxSub, 1u);
  EXPECT_EQ(nValues, 3u);
  EXPECT_EQ(maxName, 2u);
  EXPECT_EQ(maxData, 4u);
  EXPECT_GT(sdSize, 20u);
  EXPECT_NE(fileTimeToU64(ft), 0u);
  RegCloseKey(k);
}

TEST_F(RegistryTest, RootsAndLinks) {
  const std::string sid = currentUserSid();
  HKEY k = mustCreate(HKEY_CURRENT_USER, "Software\\Same");
  RegCloseKey(k);
  EXPECT_TRUE(keyExists(HKEY_USERS, (sid + "\\Software\\Same").c_str()));
  EXPECT_TRUE(keyExists(HKEY_USERS, ".DEFAULT"));
  EXPECT_TRUE(keyExists(HKEY_USERS, (sid + "_Classes").c_str()));

  RegCloseKey(mustCreate(HKEY_CLASSES_ROOT, ".hvx"));
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.hvx", KEY_READ | KEY_WOW64_64KEY));

  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application"));
  HKEY cc = mustCreate(HKEY_CURRENT_CONFIG, "Probe");
  RegCloseKey(cc);
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001\\Hardware Profiles\\Current\\Probe"));

  HKEY perf = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_PERFORMANCE_DATA, "", 0, KEY_READ, &perf), ERROR_SUCCESS);
  DWORD subKeys = 9, values = 9;
  EXPECT_EQ(RegQueryInfoKeyA(perf, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 0u);
  EXPECT_EQ(values, 0u);
  RegCloseKey(perf);

  HKEY cu = nullptr;
  ASSERT_EQ(RegOpenCurrentUser(KEY_READ, &cu), ERROR_SUCCESS);
  EXPECT_TRUE(keyExists(cu, "Software\\Same"));
  RegCloseKey(cu);
}

TEST_F(RegistryTest, Wow64Views) {
  HKEY k = mustCreate(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor32");  // the 32-bit view is the default
  RegCloseKey(k);
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Vendor32", KEY_READ | KEY_WOW64_64KEY));
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor32", KEY_READ | KEY_WOW64_64KEY));
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor32", KEY_READ | KEY_WOW64_32KEY));

  RegCloseKey(mustCreate(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor64", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY));
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor64"));

  // Classes are shared, CLSID is kept apart.
  RegCloseKey(mustCreate(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.shared"));
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.shared", KEY_READ | KEY_WOW64_64KEY));
  RegCloseKey(mustCreate(HKEY_CLASSES_ROOT, "CLSID\\{1}"));
  EXPECT_TRUE(
      keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{1}", KEY_READ | KEY_WOW64_64KEY));

  // The user's Software key is the same in both views.
  RegCloseKey(mustCreate(HKEY_CURRENT_USER, "Software\\Both"));
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, "Software\\Both", KEY_READ | KEY_WOW64_64KEY));
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, "Software\\Both", KEY_READ | KEY_WOW64_32KEY));

  // The default registry answers in the 32-bit view what programs read.
  EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir"),
            "/opt");

  setWow64ForTests(false);
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor64"));
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ | KEY_WOW64_RES, &k), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, VolatileKeysAreNotSaved) {
  HKEY v = mustCreate(HKEY_CURRENT_USER, "Software\\Vol", REG_OPTION_VOLATILE);
  setString(v, "x", "1");
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExA(v, "stable", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
            ERROR_CHILD_MUST_BE_VOLATILE);
  RegCloseKey(mustCreate(v, "inner", REG_OPTION_VOLATILE));
  RegCloseKey(v);
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, "Software\\Vol\\inner"));
  EXPECT_EQ(readString(HKEY_CURRENT_USER, "Software\\Vol", "x"), "1");
  ASSERT_EQ(registry::flushAll(), ERROR_SUCCESS);
  registry::shutdownForTests();
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, "Software\\Vol"));
}

TEST_F(RegistryTest, DeletedKeyHandlesAndLastWritten) {
  HKEY parent = mustCreate(HKEY_CURRENT_USER, "Software\\P");
  FILETIME before{}, after{};
  ASSERT_EQ(RegQueryInfoKeyA(parent, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, &before),
            ERROR_SUCCESS);
  HKEY child = mustCreate(parent, "c");
  ASSERT_EQ(RegQueryInfoKeyA(parent, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, &after),
            ERROR_SUCCESS);
  EXPECT_GE(fileTimeToU64(after), fileTimeToU64(before));
  EXPECT_EQ(RegDeleteKeyA(parent, "c"), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(child, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>("\1\0\0\0"), 4), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
  RegCloseKey(parent);
}

TEST_F(RegistryTest, NativeNamesWithNul) {
  HS_TESTDATA_OR_SKIP(special, testsupport::testdataFile("hives/crafted/special"));
  testsupport::TempDir dir;
  fs::copy_file(special, dir / "special");
  ASSERT_TRUE(testsupport::setRestorePrivilege());
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "SPECIAL", (dir / "special").c_str()), ERROR_SUCCESS);

  // Open the key holding the NUL names natively.
  std::u16string path = u"\\Registry\\Machine\\SPECIAL\\zero";
  path.push_back(u'\0');
  path += u"key";
  UNICODE_STRING us{USHORT(path.size() * 2), USHORT(path.size() * 2), path.data()};
  OBJECT_ATTRIBUTES oa;
  oa.ObjectName = &us;
  oa.Attributes = OBJ_CASE_INSENSITIVE;
  HANDLE key;
  ASSERT_EQ(NtOpenKey(&key, KEY_ALL_ACCESS, &oa), STATUS_SUCCESS);

  alignas(8) BYTE buf[532];
  ULONG len = 0;
  ASSERT_EQ(NtEnumerateValueKey(key, 0, KeyValueBasicInformation, buf, sizeof buf, &len), STATUS_SUCCESS);
  KEY_VALUE_BASIC_INFORMATION basic;
  std::memcpy(&basic, buf, offsetof(KEY_VALUE_BASIC_INFORMATION, Name));
  EXPECT_EQ(basic.NameLength, 16u) << "zero<NUL>val is 8 UTF-16 units";

  char aname[64];
  DWORD cch = sizeof aname;
  ASSERT_EQ(RegEnumValueA(HKEY(key), 0, aname, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::string(aname, cch), "zero");

  std::u16string vname = u"zero";
  vname.push_back(u'\0');
  vname += u"val";
  UNICODE_STRING vn{USHORT(vname.size() * 2), USHORT(vname.size() * 2), vname.data()};
  EXPECT_EQ(NtQueryValueKey(key, &vn, KeyValueFullInformation, nullptr, 0, &len), STATUS_BUFFER_TOO_SMALL);
  EXPECT_GE(len, 20u + 16u);
  std::vector<BYTE> full(len);
  EXPECT_EQ(NtQueryValueKey(key, &vn, KeyValueFullInformation, full.data(), len, &len), STATUS_SUCCESS);
  EXPECT_EQ(NtClose(key), STATUS_SUCCESS);
  EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "SPECIAL"), ERROR_SUCCESS);
}

TEST_F(RegistryTest, HiveLoadAndUnloadCodes) {
  HS_TESTDATA_OR_SKIP(minimal, testsupport::testdataFile("hives/crafted/minimal"));
  testsupport::TempDir dir;
  const fs::path file = dir / "hive";
  fs::copy_file(minimal, file);
  fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);  // the test data is read-only
  std::ofstream(dir / "junk") << "this is not a hive, but long enough to look at...............";

  EXPECT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "H", file.c_str()), ERROR_PRIVILEGE_NOT_HELD);
  ASSERT_TRUE(testsupport::setRestorePrivilege());
  struct Case {
    const char* what;
    HKEY root;
    const char* name;
    std::string file;
    LSTATUS want;
  };
  const Case cases[] = {
      {"other root", HKEY_CURRENT_USER, "H1", file.string(), ERROR_INVALID_PARAMETER},
      {"empty file name", HKEY_LOCAL_MACHINE, "H1", "", ERROR_INVALID_PARAMETER},
      {"not a hive", HKEY_LOCAL_MACHINE, "H1", (dir / "junk").string(), ERROR_BADDB},
      {"mount name taken", HKEY_LOCAL_MACHINE, "h", (dir / "junk").string(), ERROR_ALREADY_EXISTS},
      {"mounted here already", HKEY_LOCAL_MACHINE, "H2", file.string(), ERROR_SHARING_VIOLATION},
  };
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "H", file.c_str()), ERROR_SUCCESS);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(RegLoadKeyA(c.root, c.name, c.file.c_str()), c.want);
  }
  HKEY k = mustCreate(HKEY_LOCAL_MACHINE, "H\\made");
  EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "H"), ERROR_ACCESS_DENIED);
  RegCloseKey(k);
  EXPECT_EQ(RegUnLoadKeyA(HKEY_CURRENT_USER, "H"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "H"), ERROR_SUCCESS);
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, "H"));

  ASSERT_EQ(RegLoadKeyA(HKEY_USERS, "Again", file.c_str()), ERROR_SUCCESS);
  EXPECT_TRUE(keyExists(HKEY_USERS, "Again\\made"));
  EXPECT_EQ(RegUnLoadKeyA(HKEY_USERS, "Again"), ERROR_SUCCESS);
}

// Walks open every listed sub-key relative to its parent and read values by
// index; the store answers those from what it listed before, which must never
// outlive a change or lead to another key.
TEST_F(RegistryTest, RelativeOpensAndEnumerationFollowChanges) {
  HKEY parent = mustCreate(HKEY_CURRENT_USER, "Software\\Walk");
  for (const char* n : {"A", "b", "C", "d"}) {
    HKEY c = mustCreate(parent, n);
    setString(c, "id", n);
    RegCloseKey(c);
  }
  HKEY vol = mustCreate(parent, "e", REG_OPTION_VOLATILE);
  setString(vol, "id", "e");
  RegCloseKey(vol);

  const auto idOf = [&](const char16_t* name) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(parent, name, 0, KEY_READ, &k) != ERROR_SUCCESS) return std::string("<no key>");
    char buf[16];
    DWORD size = sizeof buf;
    const LSTATUS rc = RegQueryValueExA(k, "id", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    return rc == ERROR_SUCCESS ? std::string(buf, size - 1) : std::string("<no value>");
  };
  const auto names = [&] {
    std::vector<std::u16string> out;
    char16_t buf[64];
    for (DWORD i = 0;; ++i) {
      DWORD cch = 64;
      if (RegEnumKeyExW(parent, i, buf, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      out.emplace_back(buf, cch);
    }
    return out;
  };

  // In list order, out of order, in another spelling, after a change.
  ASSERT_EQ(names(), (std::vector<std::u16string>{u"A", u"b", u"C", u"d", u"e"}));
  for (const char16_t* n : {u"A", u"b", u"C", u"d", u"e"}) EXPECT_EQ(idOf(n), platform::utf16ToWtf8(n));
  names();
  EXPECT_EQ(idOf(u"d"), "d");
  EXPECT_EQ(idOf(u"A"), "A");
  EXPECT_EQ(idOf(u"B"), "b");
  EXPECT_EQ(idOf(u"E"), "e");
  names();
  RegCloseKey(mustCreate(parent, "0"));  // moves every listed key one place on
  EXPECT_EQ(idOf(u"A"), "A");
  EXPECT_EQ(idOf(u"b"), "b");
  names();
  ASSERT_EQ(RegDeleteKeyA(parent, "A"), ERROR_SUCCESS);
  EXPECT_EQ(idOf(u"0"), "<no value>");
  EXPECT_EQ(idOf(u"A"), "<no key>");
  EXPECT_EQ(idOf(u"b"), "b");

  // Below a handle reached through a link, relative opens land in its target.
  HKEY ccs = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet", 0, KEY_ALL_ACCESS, &ccs), ERROR_SUCCESS);
  RegCloseKey(mustCreate(ccs, "Probe\\Deeper"));
  RegCloseKey(ccs);
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001\\Probe\\Deeper"));

  // Values by index see every change made between two calls, and each call's
  // data is its own whatever the previous one held.
  HKEY k = mustCreate(HKEY_CURRENT_USER, "Software\\Values");
  const std::string big(300, 'x');
  setString(k, "big", big.c_str());
  setString(k, "small", "s");
  const auto valueAt = [&](DWORD index) {
    char16_t name[32];
    DWORD cch = 32;
    BYTE data[1024];
    DWORD cb = sizeof data;
    DWORD type = 0;
    const LSTATUS rc = RegEnumValueW(k, index, name, &cch, nullptr, &type, data, &cb);
    if (rc != ERROR_SUCCESS) return std::string("<error ") + std::to_string(rc) + ">";
    return platform::utf16ToWtf8(std::u16string_view(name, cch)) + "=" + std::to_string(cb);
  };
  EXPECT_EQ(valueAt(0), "big=602");
  EXPECT_EQ(valueAt(1), "small=4");
  EXPECT_EQ(valueAt(2), "<error 259>");
  setString(k, "third", "tt");
  EXPECT_EQ(valueAt(2), "third=6");
  ASSERT_EQ(RegDeleteValueA(k, "big"), ERROR_SUCCESS);
  EXPECT_EQ(valueAt(0), "small=4");
  EXPECT_EQ(valueAt(2), "<error 259>");
  char16_t name[32];
  DWORD cch = 32;
  BYTE tiny[2];
  DWORD cb = sizeof tiny;
  EXPECT_EQ(RegEnumValueW(k, 1, name, &cch, nullptr, nullptr, tiny, &cb), ERROR_MORE_DATA);
  EXPECT_EQ(cb, 6u);

  // The class name and time come only when asked for, and then right.
  HKEY withClass = nullptr;
  char16_t cls[] = u"Cls";
  ASSERT_EQ(RegCreateKeyExW(k, u"sub", 0, cls, 0, KEY_ALL_ACCESS, nullptr, &withClass, nullptr), ERROR_SUCCESS);
  RegCloseKey(withClass);
  char16_t subName[16], className[16];
  DWORD subCch = 16, classCch = 16;
  FILETIME written{};
  ASSERT_EQ(RegEnumKeyExW(k, 0, subName, &subCch, nullptr, className, &classCch, &written), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(className, classCch), u"Cls");
  EXPECT_NE(fileTimeToU64(written), 0u);
  subCch = 16;
  ASSERT_EQ(RegEnumKeyExW(k, 0, subName, &subCch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(subName, subCch), u"sub");
  RegCloseKey(k);
  RegCloseKey(parent);
}

TEST_F(RegistryTest, NotificationFiresOncePerArming) {
  HKEY watched = mustCreate(HKEY_CURRENT_USER, "Software\\W");
  HANDLE ev = CreateEventA(nullptr, true, false, "RegMonitorChange");
  ASSERT_EQ(RegNotifyChangeKeyValue(watched, true, REG_LEGAL_CHANGE_FILTER, ev, true), ERROR_SUCCESS);
  HKEY deep = mustCreate(HKEY_CURRENT_USER, "Software\\W\\a\\b\\c");
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  ResetEvent(ev);
  setString(deep, "v", "1");
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT) << "not re-armed";

  ASSERT_EQ(RegNotifyChangeKeyValue(watched, false, REG_NOTIFY_CHANGE_LAST_SET, ev, true), ERROR_SUCCESS);
  setString(deep, "v", "2");
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT) << "not watching the sub-tree";
  setString(watched, "v", "2");
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  ResetEvent(ev);

  ASSERT_EQ(RegNotifyChangeKeyValue(watched, true, REG_LEGAL_CHANGE_FILTER, ev, true), ERROR_SUCCESS);
  RegCloseKey(watched);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0) << "closing the handle signals";
  RegCloseKey(deep);
  CloseHandle(ev);
}

TEST_F(RegistryTest, RemoteConnect) {
  for (const char* name : {"", ".", "localhost", "\\\\localhost"}) {
    SCOPED_TRACE(name);
    HKEY k = nullptr;
    EXPECT_EQ(RegConnectRegistryA(name, HKEY_LOCAL_MACHINE, &k), ERROR_SUCCESS);
    RegCloseKey(k);
  }
  HKEY k = nullptr;
  EXPECT_EQ(RegConnectRegistryA("\\\\some-other-computer", HKEY_LOCAL_MACHINE, &k), ERROR_BAD_NETPATH);
}

TEST_F(RegistryTest, DefaultRegistryIsCreatedOnceAndReused) {
  const fs::path folder = registry::registryFolder();
  EXPECT_EQ(folder, reg_.path());
  const std::string sid = currentUserSid();
  EXPECT_EQ(sid, currentUserSid());
  for (const char* f : {"machine/SYSTEM", "machine/SOFTWARE", "machine/SAM", "machine/SECURITY", "machine/DEFAULT"})
    EXPECT_TRUE(fs::exists(folder / f)) << f;
  EXPECT_TRUE(fs::exists(folder / "users" / sid / "NTUSER.DAT"));
  EXPECT_TRUE(fs::exists(folder / "users" / sid / "UsrClass.dat"));

  auto snapshot = [&] {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
      if (!e.is_regular_file()) continue;
      std::ifstream in(e.path(), std::ios::binary);
      out.emplace_back(e.path().string(), std::string(std::istreambuf_iterator<char>(in), {}));
    }
    std::sort(out.begin(), out.end());
    return out;
  };
  // Taken with the registry closed: while it is open, its locks lie beside the hives.
  registry::shutdownForTests();
  const auto first = snapshot();
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "SYSTEM\\Select"));
  registry::shutdownForTests();
  EXPECT_EQ(snapshot(), first);

  DWORD current = 0, size = 4;
  HKEY sel = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Select", 0, KEY_READ, &sel), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(sel, "Current", nullptr, nullptr, reinterpret_cast<BYTE*>(&current), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(current, 1u);
  RegCloseKey(sel);
}

TEST_F(RegistryTest, DefaultRegistryIsPrivateToTheUserAndExistingFilesKeepTheirMode) {
  testsupport::ScopedUmask umask(022);
  // A registry folder that does not exist yet, two levels down.
  const fs::path folder = reg_.path() / "new" / "registry";
  const std::string sid = "S-1-5-21-1-2-3-1000";
  ASSERT_EQ(registry::createMissingDefaultHives(folder, sid), ERROR_SUCCESS);
  for (const fs::path& dir : {reg_.path() / "new", folder, folder / "machine", folder / "users", folder / "users" / sid})
    EXPECT_EQ(testsupport::permissionBits(dir), 0700u) << dir;
  for (const registry::DefaultHive& hive : registry::defaultHives(folder, sid)) EXPECT_EQ(testsupport::permissionBits(hive.path), 0600u) << hive.path;

  // A hive the user opened up keeps its mode through a change written back.
  const fs::path software = folder / "machine" / "SOFTWARE";
  fs::permissions(software, fs::perms(0644), fs::perm_options::replace);
  ::setenv("HIVESCOPE_REGISTRY", folder.c_str(), 1);
  registry::shutdownForTests();
  HKEY k = mustCreate(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept");
  setString(k, "v", "x");
  RegCloseKey(k);
  EXPECT_EQ(registry::flushAll(), ERROR_SUCCESS);
  registry::shutdownForTests();
  EXPECT_EQ(testsupport::permissionBits(software), 0644u);
  EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept", "v"), "x");
  ::setenv("HIVESCOPE_REGISTRY", reg_.path().c_str(), 1);
}

// A hive mounted through a link is read, locked and saved where the link
// leads; the link stays a link, and neither folder keeps anything of ours.
TEST_F(RegistryTest, HiveMountedThroughALinkIsSavedIntoTheRealFile) {
  ASSERT_TRUE(testsupport::setRestorePrivilege());
  testsupport::TempDir dir;
  fs::create_directory(dir / "real");
  fs::create_directory(dir / "links");
  const fs::path real = dir / "real" / "hive";
  ASSERT_NO_FATAL_FAILURE(makeHive(real));
  fs::create_symlink("../real/hive", dir / "links" / "relative");
  fs::create_symlink(dir / "links" / "relative", dir / "links" / "chain");
  struct Case {
    const char* link;
    const char* text;
  } cases[] = {{"relative", "one"}, {"chain", "two"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    const fs::path link = dir / "links" / c.link;
    const fs::path target = fs::read_symlink(link);
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "LINKED", link.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "REAL", real.c_str()), ERROR_SHARING_VIOLATION) << "one file, once";
    HKEY k = mustCreate(HKEY_LOCAL_MACHINE, "LINKED\\kept");
    setString(k, "v", c.text);
    RegCloseKey(k);
    ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "LINKED"), ERROR_SUCCESS);
    EXPECT_EQ(valueInFile(real), c.text);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), target);
    EXPECT_EQ(entriesOf(dir / "links"), (std::vector<std::string>{"chain", "relative"}));
    EXPECT_EQ(entriesOf(dir / "real"), std::vector<std::string>{"hive"});
  }

  // A link that cannot be resolved is no hive to mount.
  fs::create_symlink(dir / "real" / "missing", dir / "links" / "dangling");
  fs::create_symlink(dir / "links" / "loop", dir / "links" / "loop");
  for (const char* bad : {"dangling", "loop"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "BAD", (dir / "links" / bad).c_str()), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, "BAD"));
  }
}

// A file without write permission is never written, whoever runs the
// program: it mounts read-only, and a file made read-only after the mount is
// left as it is at the save (the changes stay mounted, unsaved).
TEST_F(RegistryTest, AReadOnlyHiveFileIsNeverWritten) {
  ASSERT_TRUE(testsupport::setRestorePrivilege());
  testsupport::TempDir dir;
  const fs::path file = dir / "hive";
  ASSERT_NO_FATAL_FAILURE(makeHive(file));
  const std::string bytes = testsupport::readFileText(file);
  const DWORD one = 1;

  fs::permissions(file, fs::perms(0444), fs::perm_options::replace);
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "RO", file.c_str()), ERROR_SUCCESS);
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "RO\\kept", 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(k, "n", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one),
            ERROR_ACCESS_DENIED);
  RegCloseKey(k);
  EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "RO"), ERROR_SUCCESS);
  EXPECT_TRUE(testsupport::readFileText(file) == bytes) << "the file was written";

  fs::permissions(file, fs::perms(0644), fs::perm_options::replace);
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "LATER", file.c_str()), ERROR_SUCCESS);
  k = mustCreate(HKEY_LOCAL_MACHINE, "LATER\\kept");
  setString(k, "v", "changed");
  RegCloseKey(k);
  fs::permissions(file, fs::perms(0444), fs::perm_options::replace);
  EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "LATER"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(testsupport::readFileText(file) == bytes) << "the file was written";
  EXPECT_EQ(testsupport::permissionBits(file), 0444u);
  EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, "LATER\\kept", "v"), "changed") << "kept, unsaved";
  fs::permissions(file, fs::perms(0644), fs::perm_options::replace);
  EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "LATER"), ERROR_SUCCESS);
  EXPECT_EQ(valueInFile(file), "changed");
}

// A user's hive saved by the superuser stays the user's.
TEST_F(RegistryTest, ASaveKeepsTheHiveFilesOwnerGroupAndMode) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file to another user";
  ASSERT_TRUE(testsupport::setRestorePrivilege());
  testsupport::TempDir dir;
  const fs::path file = dir / "hive";
  ASSERT_NO_FATAL_FAILURE(makeHive(file));
  ASSERT_EQ(::chown(file.c_str(), 65534, 65533), 0);
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "THEIRS", file.c_str()), ERROR_SUCCESS);
  HKEY k = mustCreate(HKEY_LOCAL_MACHINE, "THEIRS\\kept");
  setString(k, "v", "by root");
  RegCloseKey(k);
  ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "THEIRS"), ERROR_SUCCESS);
  EXPECT_EQ(valueInFile(file), "by root");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65533u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}
