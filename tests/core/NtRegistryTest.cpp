// Native registry access: names with NUL characters on a real hive mounted
// under HKEY_LOCAL_MACHINE, long names, names that differ only in their
// Unicode form, and the typed readers over the default registry.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/bwlRegNative.h"
#include "core/bwlRegistry.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "platform/Security.h"
#include "tests/support/Privileges.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

using namespace std::string_literals;
using namespace platform;

namespace {

std::vector<std::u16string> rawNames(const sup::TWideStringList& list) {
  std::vector<std::u16string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.rawString(i));
  return out;
}

bool contains(const std::vector<std::u16string>& names, const std::u16string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

std::vector<std::uint8_t> bytesOf(std::u16string_view text) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  return std::vector<std::uint8_t>(p, p + text.size() * 2);
}


// A registry of its own for every test; the store is closed around it so
// it opens the temporary folder and leaves nothing open behind.
class FreshRegistry : public ::testing::Test {
protected:
  void SetUp() override { registry::shutdownForTests(); }
  void TearDown() override { registry::shutdownForTests(); }

private:
  testsupport::TempRegistry tempRegistry_;
};

// The crafted hive with NUL names, copied and mounted as HKLM\HsSpecial.
class SpecialHiveTest : public FreshRegistry {
protected:
  void SetUp() override {
    HS_TESTDATA_OR_SKIP(original, testsupport::testdataFile("hives/crafted/special"));
    FreshRegistry::SetUp();
    copy_ = dir_ / "special";
    std::filesystem::copy_file(original, copy_);
    std::filesystem::permissions(copy_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_TRUE(testsupport::setRestorePrivilege());
    mount();
  }
  void TearDown() override {
    if (IsSkipped()) return;
    if (mounted_) {
      EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "HsSpecial"), ERROR_SUCCESS);
    }
    FreshRegistry::TearDown();
  }

  void mount() {
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "HsSpecial", copy_.c_str()), ERROR_SUCCESS);
    mounted_ = true;
  }
  void remount() {
    ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "HsSpecial"), ERROR_SUCCESS);
    mounted_ = false;
    mount();
  }

  const std::u16string zeroKey = u"\\HsSpecial\\zero\0key"s;
  const std::u16string zeroVal = u"zero\0val"s;

private:
  testsupport::TempDir dir_;
  std::filesystem::path copy_;
  bool mounted_ = false;
};

}  // namespace

TEST_F(SpecialHiveTest, ListsKeyAndValueNamesWithTheirNuls) {
  TNtRegistry reg;
  ASSERT_TRUE(reg.OpenKey(u"\\HsSpecial"));
  sup::TWideStringList keys;
  reg.GetKeyNames(keys);
  const auto keyNames = rawNames(keys);
  EXPECT_EQ(keyNames.size(), 3u);
  EXPECT_TRUE(contains(keyNames, u"zero\0key"s));
  EXPECT_TRUE(contains(keyNames, u"abcd_\u00e4\u00f6\u00fc\u00df"));
  EXPECT_TRUE(contains(keyNames, u"weird\u2122"));

  ASSERT_TRUE(reg.OpenKey(zeroKey));
  EXPECT_EQ(reg.CurrentPath(), zeroKey);
  sup::TWideStringList values;
  reg.GetValueNames(values);
  ASSERT_EQ(values.Count(), 1);
  EXPECT_EQ(values.rawString(0), zeroVal);
  EXPECT_EQ(values.rawString(0).size(), 8u);
  EXPECT_EQ(reg.ReadValueAsText(values.rawString(0)), u"0x00000000 (0)");
  TKeyValueFullInfoHead head;
  ASSERT_TRUE(reg.GetValueInfo(zeroVal, head));
  EXPECT_EQ(head.Type, REG_DWORD);
  EXPECT_EQ(head.DataLength, 4u);
  EXPECT_EQ(head.NameLength, 16u);

  // The ordinary interface stops at the NUL and sees "zero" only.
  TMyRegistry64 ordinary;
  ordinary.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(ordinary.OpenKeyReadOnly("\\HsSpecial"));
  std::vector<std::string> cut;
  ordinary.GetKeyNames(cut);
  EXPECT_TRUE(std::find(cut.begin(), cut.end(), "zero") != cut.end());
}

TEST_F(SpecialHiveTest, RenamesAndDeletesAValueWithANul) {
  {
    TNtRegistry reg;
    ASSERT_TRUE(reg.OpenKey(zeroKey));
    ASSERT_TRUE(reg.RenameValue(zeroVal, u"plain"));
    sup::TWideStringList values;
    reg.GetValueNames(values);
    EXPECT_EQ(rawNames(values), std::vector<std::u16string>{u"plain"});
    EXPECT_EQ(reg.ReadValueAsText(u"plain"), u"0x00000000 (0)");
  }
  // The rename reached the file.
  remount();
  TNtRegistry reg;
  ASSERT_TRUE(reg.OpenKey(zeroKey));
  EXPECT_EQ(reg.ReadValueAsText(u"plain"), u"0x00000000 (0)");
  EXPECT_TRUE(reg.DeleteValue(u"plain"));
  EXPECT_FALSE(reg.DeleteValue(u"plain"));
  sup::TWideStringList values;
  reg.GetValueNames(values);
  EXPECT_EQ(values.Count(), 0);
}

TEST_F(SpecialHiveTest, CreatesOpensAndDeletesKeysWithNuls) {
  TNtRegistry reg;
  // The existing key: deleted natively, and gone after a remount.
  EXPECT_TRUE(reg.DeleteKey(zeroKey));
  EXPECT_EQ(reg.KeyHandle(), HANDLE());
  EXPECT_FALSE(reg.OpenKey(zeroKey));
  EXPECT_EQ(reg.LastStatus(), STATUS_OBJECT_NAME_NOT_FOUND);

  // A new key x NUL y with a child below it: the parent holding the NUL is
  // opened relative to its plain parent, the child below that.
  const std::u16string xy = u"\\HsSpecial\\x\0y"s;
  ASSERT_TRUE(reg.CreateKey(xy, false));
  ASSERT_TRUE(reg.CreateKey(xy + u"\\child", false));
  ASSERT_TRUE(reg.OpenKey(u"\\HsSpecial"));
  sup::TWideStringList keys;
  reg.GetKeyNames(keys);
  EXPECT_TRUE(contains(rawNames(keys), u"x\0y"s));
  EXPECT_FALSE(contains(rawNames(keys), u"x"));

  // Native deletion refuses a key with sub-keys and leaves it.
  EXPECT_FALSE(reg.DeleteKey(xy));
  ASSERT_TRUE(reg.OpenKey(xy));
  reg.GetKeyNames(keys);
  EXPECT_EQ(rawNames(keys), std::vector<std::u16string>{u"child"});
  // Relative to the open key.
  EXPECT_TRUE(reg.DeleteKey(u"child"));
  EXPECT_TRUE(reg.DeleteKey(xy));

  remount();
  ASSERT_TRUE(reg.OpenKey(u"\\HsSpecial"));
  reg.GetKeyNames(keys);
  const auto left = rawNames(keys);
  EXPECT_EQ(left.size(), 2u);
  EXPECT_FALSE(contains(left, u"zero\0key"s));
  EXPECT_FALSE(contains(left, u"x\0y"s));
}

// ---------------------------------------------------------------------------
// Over the default registry, below HKCU\Software\HivescopeTests.

namespace {

class NtRegistryTest : public FreshRegistry {
protected:
  void SetUp() override {
    FreshRegistry::SetUp();
    reg.FRootKey = HKEY_CURRENT_USER;
    ASSERT_TRUE(reg.CreateKey(kTestKey, false));
  }

  void setValue(std::u16string_view name, DWORD type, const std::vector<std::uint8_t>& data) {
    ASSERT_TRUE(reg.WriteData(name, type, data));
  }

  static constexpr const char16_t* kTestKey = u"\\Software\\HivescopeTests";
  TNtRegistry reg;
};

}  // namespace

TEST_F(NtRegistryTest, ALongNameHidesNoLaterName) {
  const std::u16string longName(300, u'L');
  setValue(u"before", REG_DWORD, {1, 0, 0, 0});
  setValue(longName, REG_DWORD, {2, 0, 0, 0});
  setValue(u"after", REG_DWORD, {3, 0, 0, 0});
  sup::TWideStringList values;
  reg.GetValueNames(values);
  EXPECT_EQ(rawNames(values), (std::vector<std::u16string>{u"before", longName, u"after"}));
  EXPECT_EQ(reg.ReadDWord(longName), 2u);
  EXPECT_EQ(reg.ReadDWord(u"after"), 3u);
}

TEST_F(NtRegistryTest, NamesThatDifferOnlyInUnicodeFormStayTwoValues) {
  const std::u16string composed = u"caf\u00e9";
  const std::u16string decomposed = u"cafe\u0301";
  setValue(composed, REG_DWORD, {1, 0, 0, 0});
  setValue(decomposed, REG_DWORD, {2, 0, 0, 0});
  sup::TWideStringList values;
  reg.GetValueNames(values);
  ASSERT_EQ(values.Count(), 2);
  // The list shows both in one form; the raw names reach each value.
  EXPECT_EQ(values.Strings(0), values.Strings(1));
  EXPECT_EQ(reg.ReadDWord(values.rawString(0)), 1u);
  EXPECT_EQ(reg.ReadDWord(values.rawString(1)), 2u);
  EXPECT_TRUE(reg.DeleteValue(values.rawString(1)));
  reg.GetValueNames(values);
  EXPECT_EQ(rawNames(values), std::vector<std::u16string>{composed});
  // Renaming onto the other form is a rename to a new name.
  EXPECT_TRUE(reg.RenameValue(composed, decomposed));
  reg.GetValueNames(values);
  EXPECT_EQ(rawNames(values), std::vector<std::u16string>{decomposed});
  EXPECT_EQ(reg.ReadDWord(decomposed), 1u);
}

TEST_F(NtRegistryTest, ValueTextByStoredType) {
  struct Case {
    const char16_t* name;
    DWORD type;
    std::vector<std::uint8_t> data;
    std::u16string text;
  };
  const std::vector<Case> cases = {
      {u"sz", REG_SZ, bytesOf(u"ab\0cd"s), u"ab"},
      {u"expand", REG_EXPAND_SZ, bytesOf(u"%PATH%\0"s), u"%PATH%"},
      {u"oddText", REG_SZ, {'h', 0, 'i', 0, 'x'}, u"hi"},
      {u"dword", REG_DWORD, {0x2A, 0, 0, 0}, u"0x0000002A (42)"},
      {u"shortDword", REG_DWORD, {0x01, 0x02}, u"0x00000201 (513)"},
      {u"bigEndian", REG_DWORD_BIG_ENDIAN, {0, 0, 1, 2}, u"0x00000102 (258)"},
      {u"qword", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, u"0x0000000000000001 (1)"},
      {u"negQword", REG_QWORD, std::vector<std::uint8_t>(8, 0xFF), u"0xFFFFFFFFFFFFFFFF (-1)"},
      {u"multi", REG_MULTI_SZ, bytesOf(u"a\0b\0\0"s), u"a b  "},
      {u"binary", REG_BINARY, {0x01, 0x02}, u"01 02 "},
      {u"none", REG_NONE, {0xAB}, u"AB "},
      {u"resReq", REG_RESOURCE_REQUIREMENTS_LIST, {0x00, 0xFF}, u"00 FF "},
      {u"emptyBinary", REG_BINARY, {}, u""},
      {u"unknownType", 12, {1, 2}, u""},
  };
  for (const auto& c : cases) setValue(c.name, c.type, c.data);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)));
    EXPECT_EQ(reg.ReadValueAsText(c.name), c.text);
  }
  EXPECT_EQ(reg.ReadValueAsText(u"missing"), u"");
}

TEST_F(NtRegistryTest, TypedReadersServeTheTypeAskedFor) {
  setValue(u"text", REG_SZ, bytesOf(u"AB\0"s));
  setValue(u"bin8", REG_BINARY, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F});
  setValue(u"qword", REG_QWORD, {2, 0, 0, 0, 0, 0, 0, 0});
  // A number read of text gives the text's first bytes: "A" 00 "B" 00.
  EXPECT_EQ(reg.ReadDWord(u"text"), 0x00420041u);
  EXPECT_EQ(reg.ReadBigEndianDWord(u"text"), 0x41004200u);
  EXPECT_EQ(reg.ReadString(u"text"), u"AB");
  EXPECT_EQ(reg.ReadExpandString(u"text"), u"AB");
  EXPECT_EQ(reg.ReadBinaryAsFloat(u"bin8"), 1.0);
  EXPECT_EQ(reg.ReadBinaryAsInt64(u"bin8"), std::int64_t(0x3FF0000000000000));
  EXPECT_EQ(reg.ReadQWord(u"qword"), 2u);
  EXPECT_EQ(reg.ReadQWord(u"missing"), 0u);
  EXPECT_EQ(reg.ReadString(u"missing"), u"");

  std::vector<std::uint8_t> buffer;
  ASSERT_TRUE(reg.ReadData(u"bin8", REG_BINARY, 3, buffer));
  EXPECT_EQ(buffer, (std::vector<std::uint8_t>{0, 0, 0}));
  EXPECT_FALSE(reg.ReadData(u"missing", REG_BINARY, 3, buffer));
}

TEST_F(NtRegistryTest, RenameNeedsTheOldNameAndNotTheNewOne) {
  setValue(u"old", REG_BINARY, {1, 2, 3});
  setValue(u"taken", REG_SZ, bytesOf(u"keep\0"s));
  setValue(u"empty", REG_NONE, {});

  EXPECT_FALSE(reg.RenameValue(u"old", u"taken"));
  EXPECT_EQ(reg.ReadValueAsText(u"taken"), u"keep");
  EXPECT_EQ(reg.ReadValueAsText(u"old"), u"01 02 03 ");
  EXPECT_FALSE(reg.RenameValue(u"missing", u"new"));
  // A new name the registry refuses: the old value stays.
  EXPECT_FALSE(reg.RenameValue(u"old", std::u16string(20000, u'n')));
  EXPECT_EQ(reg.ReadValueAsText(u"old"), u"01 02 03 ");

  EXPECT_TRUE(reg.RenameValue(u"old", u"new"));
  TKeyValueFullInfoHead head;
  ASSERT_TRUE(reg.GetValueInfo(u"new", head));
  EXPECT_EQ(head.Type, REG_BINARY);
  EXPECT_EQ(reg.ReadValueAsText(u"new"), u"01 02 03 ");
  EXPECT_FALSE(reg.GetValueInfo(u"old", head));

  // A value without data is renamed too, keeping its type.
  EXPECT_TRUE(reg.RenameValue(u"empty", u"stillEmpty"));
  ASSERT_TRUE(reg.GetValueInfo(u"stillEmpty", head));
  EXPECT_EQ(head.Type, REG_NONE);
  EXPECT_EQ(head.DataLength, 0u);
}

TEST_F(NtRegistryTest, NothingWorksWithoutAnOpenKey) {
  reg.CloseKey();
  std::vector<std::uint8_t> buffer;
  TKeyValueFullInfoHead head;
  EXPECT_FALSE(reg.ReadData(u"x", REG_BINARY, 4, buffer));
  EXPECT_FALSE(reg.GetValueInfo(u"x", head));
  EXPECT_FALSE(reg.WriteData(u"x", REG_BINARY, std::vector<std::uint8_t>{1}));
  EXPECT_FALSE(reg.DeleteValue(u"x"));
  sup::TWideStringList list;
  list.Add(u"stale");
  reg.GetValueNames(list);
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(NtRegistryTest, OnlyMachineAndCurrentUserHaveNativePaths) {
  std::u16string nt;
  ASSERT_TRUE(reg.GetNtKeyPath(u"\\Software", nt));
  const std::string sid = currentUserSid();
  EXPECT_EQ(nt, u"\\Registry\\User\\" + std::u16string(sid.begin(), sid.end()) + u"\\Software");
  // The key opened natively is the one HKEY_CURRENT_USER shows.
  setValue(u"seen", REG_DWORD, {7, 0, 0, 0});
  TMyRegistry64 ordinary;
  ordinary.SetRootKey(HKEY_CURRENT_USER);
  ASSERT_TRUE(ordinary.OpenKeyReadOnly("\\Software\\HivescopeTests"));
  EXPECT_EQ(ordinary.ReadInteger("seen"), 7);

  TNtRegistry machine;
  ASSERT_TRUE(machine.GetNtKeyPath(u"\\SYSTEM", nt));
  EXPECT_EQ(nt, u"\\Registry\\Machine\\SYSTEM");
  EXPECT_TRUE(machine.OpenKey(u"\\SYSTEM"));

  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_USERS, HKEY_CURRENT_CONFIG, HKEY_PERFORMANCE_DATA}) {
    SCOPED_TRACE(root.value);
    TNtRegistry other;
    other.FRootKey = root;
    EXPECT_FALSE(other.GetNtKeyPath(u"\\Software", nt));
    EXPECT_FALSE(other.OpenKey(u"\\Software"));
    EXPECT_FALSE(other.CreateKey(u"\\Software", false));
    EXPECT_FALSE(other.DeleteKey(u"\\Software"));
  }
}

TEST(TCustomRegistryPaths, ExpandKeyPath) {
  struct Case {
    const char16_t* open;  // nullptr: no key open
    const char16_t* path;
    const char16_t* expanded;
  };
  const Case cases[] = {
      {nullptr, u"\\Abs\\Path", u"\\Abs\\Path"},
      {nullptr, u"rel", u"\\rel"},
      {u"\\Software\\HivescopeTests", u"rel", u"\\Software\\HivescopeTests\\rel"},
      {u"\\Software\\HivescopeTests", u"\\Abs", u"\\Abs"},
  };
  testsupport::TempRegistry temp;
  registry::shutdownForTests();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path, c.path + std::char_traits<char16_t>::length(c.path)));
    TNtRegistry reg;
    reg.FRootKey = HKEY_CURRENT_USER;
    if (c.open) {
      ASSERT_TRUE(reg.CreateKey(c.open, false));
    }
    EXPECT_EQ(reg.ExpandKeyPath(c.path), c.expanded);
  }
  registry::shutdownForTests();
}
