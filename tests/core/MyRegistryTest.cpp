#include <gtest/gtest.h>

#include <cstring>

#include "core/bwlRegistry.h"
#include "platform/Security.h"
#include "platform/SecurityDescriptor.h"
#include "tests/core/RegistryFixture.h"

using namespace platform;
using namespace std::string_literals;

namespace {

std::vector<std::uint8_t> rawBytes(TMyRegistry& reg, const std::string& name, std::uint32_t* typeOut = nullptr) {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  EXPECT_TRUE(reg.readRawValue(name, type, data)) << name;
  if (typeOut) *typeOut = type;
  return data;
}

}  // namespace

TEST(MyRegistryView, BitnessAndViewEncodings) {
  TMyRegistry reg;
  EXPECT_EQ(reg.GetBitness(), 32);
  EXPECT_EQ(reg.GetView(), rvDefault);
  EXPECT_EQ(reg.Access(), KEY_ALL_ACCESS);
  EXPECT_EQ(reg.RootKey(), HKEY_CURRENT_USER);

  const std::string text = thrownText([&] { reg.SetBitness(Bitness{16}); });
  EXPECT_EQ(text, "Windows Registry only supported with 32 or 64 bits!");
  EXPECT_THROW(reg.SetBitness(Bitness{16}), std::runtime_error);
  try {
    reg.SetBitness(Bitness{16});
  } catch (const ERegistryException&) {
    ADD_FAILURE() << "the bitness failure is the general exception, not the registry one";
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(reg.GetBitness(), 32);

  reg.SetView(rv64Bit);
  EXPECT_EQ(reg.GetBitness(), 64);
  EXPECT_EQ(reg.Access(), KEY_ALL_ACCESS | KEY_WOW64_64KEY);
  EXPECT_EQ(reg.ViewAccess(KEY_READ), KEY_READ | KEY_WOW64_64KEY);
  reg.SetView(rvDefault);
  EXPECT_EQ(reg.GetView(), rv32Bit);
  EXPECT_EQ(reg.Access(), KEY_ALL_ACCESS);
  EXPECT_EQ(reg.ViewAccess(KEY_READ), KEY_READ);
  reg.SetView(TRegistryView{7});  // only stored
  EXPECT_EQ(reg.GetView(), TRegistryView{7});
  EXPECT_EQ(reg.GetBitness(), 32);

  // The object never adds the 32-bit flag, it only drops the 64-bit one.
  reg.SetAccess(KEY_ALL_ACCESS | KEY_WOW64_32KEY);
  reg.SetBitness(Bitness::x32);
  EXPECT_EQ(reg.Access(), KEY_ALL_ACCESS | KEY_WOW64_32KEY);
  reg.SetBitness(Bitness::x64);
  EXPECT_EQ(reg.Access(), KEY_ALL_ACCESS | KEY_WOW64_64KEY);

  TMyRegistry64 reg64;
  EXPECT_EQ(reg64.GetBitness(), 64);
  EXPECT_EQ(reg64.GetView(), rv64Bit);
}

using MyRegistry = RegistryFixture;

TEST_F(MyRegistry, OpenCreateAndPaths) {
  TMyRegistry reg;
  EXPECT_FALSE(reg.OpenKey(testKey("A"), false));
  EXPECT_TRUE(reg.CreateKey(testKey("A\\B")));
  EXPECT_FALSE(reg.CurrentKey());  // CreateKey leaves the open key alone
  ASSERT_TRUE(reg.OpenKey(testKey("A"), false));
  EXPECT_EQ(reg.CurrentPath(), "Software\\HivescopeTests\\A");
  EXPECT_TRUE(reg.HasSubKeys());
  ASSERT_TRUE(reg.OpenKey("B", false));  // relative to the open key
  EXPECT_EQ(reg.CurrentPath(), "Software\\HivescopeTests\\A\\B");
  EXPECT_FALSE(reg.HasSubKeys());
  EXPECT_TRUE(reg.KeyExists(testKey("A")));
  EXPECT_FALSE(reg.KeyExists("Nope"));
  ASSERT_TRUE(reg.OpenKey("C", true));
  EXPECT_EQ(reg.CurrentPath(), "Software\\HivescopeTests\\A\\B\\C");
  // A new root closes the open key.
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(reg.CurrentKey());
  EXPECT_EQ(reg.CurrentPath(), "");
}

TEST_F(MyRegistry, OpenKeyReadOnlyReportsTheLastError) {
  TMyRegistry reg;
  reg.SetAccess(KEY_ALL_ACCESS);
  EXPECT_FALSE(reg.OpenKeyReadOnly(testKey("Missing")));
  EXPECT_EQ(reg.LastError(), 2);
  reg.CreateKey(testKey("Here"));
  EXPECT_TRUE(reg.OpenKeyReadOnly(testKey("Here")));
  EXPECT_EQ(reg.LastError(), 0);
  EXPECT_EQ(reg.Access(), KEY_ALL_ACCESS);
}

namespace {

// A key whose rights allow nothing but KEY_QUERY_VALUE (and reading its
// security), standing for a key with such a descriptor.
class QueryOnlyRegistry : public TMyRegistry {
public:
  mutable std::vector<REGSAM> masks;

protected:
  LSTATUS openSubKey(HKEY base, const std::string& path, REGSAM sam, HKEY* result) const override {
    masks.push_back(sam);
    if ((sam & ~(KEY_QUERY_VALUE | READ_CONTROL | KEY_WOW64_RES)) != 0) return ERROR_ACCESS_DENIED;
    return TMyRegistry::openSubKey(base, path, sam, result);
  }
};

}  // namespace

TEST_F(MyRegistry, OpenKeyReadOnlyFallsBackThroughThreeMasks) {
  TMyRegistry().CreateKey(testKey("QueryOnly"));
  for (Bitness bitness : {Bitness::x32, Bitness::x64}) {
    SCOPED_TRACE(static_cast<int>(bitness));
    QueryOnlyRegistry reg;
    reg.SetBitness(bitness);
    const REGSAM view = bitness == Bitness::x64 ? KEY_WOW64_64KEY : 0;
    ASSERT_TRUE(reg.OpenKeyReadOnly(testKey("QueryOnly")));
    EXPECT_EQ(reg.LastError(), 0);
    EXPECT_EQ(reg.masks, (std::vector<REGSAM>{view | KEY_READ, view | 0x20009, view | KEY_QUERY_VALUE}));
    EXPECT_EQ(reg.CurrentPath(), "Software\\HivescopeTests\\QueryOnly");
    EXPECT_EQ(reg.Access(), KEY_ALL_ACCESS | view);

    reg.masks.clear();
    reg.CloseKey();
    EXPECT_FALSE(reg.OpenKeyReadOnly(testKey("Missing")));
    EXPECT_EQ(reg.LastError(), ERROR_FILE_NOT_FOUND);  // the code of the last attempt
    EXPECT_EQ(reg.masks.size(), 3u);
  }
}

TEST_F(MyRegistry, TypedWritersAndReaders) {
  TMyRegistry reg;
  ASSERT_TRUE(reg.OpenKey(testKey(), true));
  reg.WriteString("s", "text");
  reg.WriteExpandString("e", "%PATH%");
  reg.WriteInteger("i", -5);
  reg.WriteCardinal("c", 0xFFFFFFFEu);
  reg.WriteBool("b", true);
  reg.WriteBigEndianInteger("be", 0x0A);
  reg.WriteInt64("q", -2);
  reg.WriteLittleEndianInt64("lq", 7);
  reg.WriteFloat("f", 1.5);
  reg.WriteNone("n");
  reg.WriteMultiString("m", "a\r\nb");
  reg.WriteMultiString("m2", "a\r\nb\r\n");

  EXPECT_EQ(reg.ReadString("s"), "text");
  EXPECT_EQ(reg.ReadString("e"), "%PATH%");
  EXPECT_EQ(reg.ReadInteger("i"), -5);
  EXPECT_EQ(reg.ReadCardinal("c"), 0xFFFFFFFEu);
  EXPECT_EQ(reg.ReadLittleEndianInteger("i"), -5);
  EXPECT_TRUE(reg.ReadBool("b"));
  EXPECT_EQ(reg.ReadBigEndianInteger("be"), 0x0A);
  EXPECT_EQ(reg.ReadInt64("q"), -2);
  EXPECT_EQ(reg.ReadLittleEndianInt64("lq"), 7);
  EXPECT_EQ(reg.ReadFloat("f"), 1.5);
  EXPECT_EQ(reg.ReadMultiString("m"), "a\r\nb");
  EXPECT_EQ(reg.ReadMultiString("m2"), "a\r\nb\r\n");

  std::uint32_t type = 0;
  EXPECT_EQ(rawBytes(reg, "be", &type), (std::vector<std::uint8_t>{0, 0, 0, 0x0A}));
  EXPECT_EQ(type, REG_DWORD_BIG_ENDIAN);
  EXPECT_TRUE(rawBytes(reg, "n", &type).empty());
  EXPECT_EQ(type, REG_NONE);
  EXPECT_EQ(rawBytes(reg, "f", &type).size(), 8u);
  EXPECT_EQ(type, REG_BINARY);
  // The 8-bit multi-string "a NUL b NUL", stored as UTF-16.
  EXPECT_EQ(rawBytes(reg, "m", &type), (std::vector<std::uint8_t>{'a', 0, 0, 0, 'b', 0, 0, 0}));
  EXPECT_EQ(type, REG_MULTI_SZ);
  TMyRegDataInfo info;
  ASSERT_TRUE(reg.GetDataInfo("m", info));
  EXPECT_EQ(info.DataSize, 4u);  // 61 00 62 00 in the 8-bit view
  EXPECT_EQ(info.RegData, rdMultiString);
  EXPECT_EQ(reg.GetDataSize("missing"), -1);
  EXPECT_EQ(reg.GetDataType("missing"), rdUnknown);
  EXPECT_EQ(reg.GetDataType("c"), rdInteger);
}

TEST_F(MyRegistry, ReadersRejectTheWrongKind) {
  TMyRegistry reg;
  ASSERT_TRUE(reg.OpenKey(testKey(), true));
  reg.WriteInteger("dw", 1);
  reg.WriteString("sz", "x");
  reg.WriteInt64("qw", 1);
  reg.WriteMultiString("ms", "a");
  std::uint8_t nine[9] = {};
  reg.WriteBinaryData("bin9", nine, 9);
  reg.WriteBinaryData("bin4", nine, 4);

  struct Case {
    const char* what;
    std::function<void()> call;
    const char* text;
  };
  const Case cases[] = {
      {"string of dword", [&] { (void)reg.ReadString("dw"); }, "Invalid data type for 'dw'"},
      {"int64 of dword", [&] { (void)reg.ReadInt64("dw"); }, "Invalid data type for 'dw'"},
      {"integer of a qword", [&] { (void)reg.ReadInteger("qw"); }, "Failed to get data for 'qw'"},
      {"integer of string", [&] { (void)reg.ReadInteger("sz"); }, "Invalid data type for 'sz'"},
      {"big-endian of dword", [&] { (void)reg.ReadBigEndianInteger("dw"); }, "Invalid data type for 'dw'"},
      {"multi of string", [&] { (void)reg.ReadMultiString("sz"); }, "Invalid data type for 'sz'"},
      {"float too long", [&] { (void)reg.ReadFloat("bin9"); }, "Failed to get data for 'bin9'"},
      {"float too short", [&] { (void)reg.ReadFloat("bin4"); }, "Invalid data type for 'bin4'"},
      {"binary too big", [&] { std::uint8_t b[2]; (void)reg.ReadBinaryData("bin4", b, 2); },
       "Invalid data type for 'bin4'"},
      {"get data of missing", [&] { std::uint8_t b[4]; TRegDataType k = rdUnknown; reg.GetData("none", b, k, 4); },
       "Failed to get data for 'none'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(thrownText(c.call), c.text);
  }
  // The 32-bit readers that a caller's kind keeps accept a REG_DWORD.
  EXPECT_EQ(reg.ReadCardinal("dw"), 1u);
  EXPECT_EQ(reg.ReadLittleEndianInteger("dw"), 1);
  // Missing values: no exception.
  EXPECT_EQ(reg.ReadString("none"), "");
  EXPECT_EQ(reg.ReadMultiString("none"), "");
  std::uint8_t b[4];
  EXPECT_EQ(reg.ReadBinaryData("none", b, 4), 0);
  MemoryStream stream;
  EXPECT_FALSE(reg.ReadBinaryStream("none", stream));
  // Writing into no open key fails with the set-data text.
  TMyRegistry closed;
  EXPECT_EQ(thrownText([&] { closed.WriteInteger("v", 1); }), "Failed to set data for 'v'");
}

TEST_F(MyRegistry, StreamsAndDisplayText) {
  TMyRegistry reg;
  ASSERT_TRUE(reg.OpenKey(testKey(), true));
  MemoryStream in;
  in.Write("\x01\x00\xFF", 3);
  in.Position = 1;  // the writer takes the whole memory anyway
  reg.WriteBinaryStream("bin", rdBinary, in);
  MemoryStream out;
  out.Write("XY", 2);
  out.Position = 1;
  ASSERT_TRUE(reg.ReadBinaryStream("bin", out));
  EXPECT_EQ(out.Memory, (std::vector<std::uint8_t>{'X', 0x01, 0x00, 0xFF}));

  reg.WriteBinaryData("empty", nullptr, 0);
  reg.WriteMultiString("multi", "a\r\nb\r\n");
  reg.WriteInteger("dw", 10);
  reg.WriteBigEndianInteger("be", 10);
  reg.WriteInt64("qw", -1);
  reg.WriteString("sz", "hello");
  std::uint8_t custom[] = {1, 2};
  reg.writeRawValue("custom", 0x20, custom);

  struct Case {
    const char* name;
    const char* text;
  };
  const Case cases[] = {
      {"bin", "01 00 FF "},   {"empty", ""},
      {"multi", "a b  "},     {"dw", "0x0000000A (10)"},
      {"be", "0x0000000A (10)"}, {"qw", "0xFFFFFFFFFFFFFFFF (-1)"},
      {"sz", "hello"},        {"custom", ""},
      {"missing", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(reg.ReadValueAsText(c.name), c.text);
  }
}

TEST_F(MyRegistry, WriteValueFromText) {
  TMyRegistry reg;
  ASSERT_TRUE(reg.OpenKey(testKey(), true));
  reg.WriteValueFromText("fromString", "0x0000000A (10)", rdInteger, rdString);
  reg.WriteValueFromText("fromInteger", "0x0000000A (10)", rdInteger, rdInteger);
  reg.WriteValueFromText("q", "0x00000001FFFFFFFF (8589934591)", rdInt64, rdInt64);
  reg.WriteValueFromText("be", "0x0000000A (10)", rdBigEndianInteger, rdCardinal);
  reg.WriteValueFromText("s", "0x0000000A (10)", rdString, rdInteger);
  reg.WriteValueFromText("none", "x", rdBinary, rdString);  // writes nothing
  EXPECT_EQ(reg.ReadInteger("fromString"), 0);
  EXPECT_EQ(reg.ReadInteger("fromInteger"), 10);
  EXPECT_EQ(reg.ReadInt64("q"), 0x1FFFFFFFFll);
  EXPECT_EQ(reg.ReadBigEndianInteger("be"), 10);
  EXPECT_EQ(reg.ReadString("s"), "0x0000000A (10)");
  EXPECT_FALSE(reg.ValueExists("none"));
}

TEST_F(MyRegistry, NamesAndRenameValue) {
  TMyRegistry reg;
  ASSERT_TRUE(reg.OpenKey(testKey(), true));
  reg.CreateKey("K1");
  reg.CreateKey("K2");
  reg.WriteInteger("one", 1);
  reg.WriteNone("empty");
  std::uint8_t custom[] = {9};
  reg.writeRawValue("custom", 0x20, custom);
  std::vector<std::string> names{"stale"};
  reg.GetKeyNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"K1", "K2"}));
  reg.GetValueNames(names);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"custom", "empty", "one"}));

  EXPECT_TRUE(reg.RenameValue("one", "uno"));
  EXPECT_FALSE(reg.ValueExists("one"));
  EXPECT_EQ(reg.ReadInteger("uno"), 1);
  // Onto an existing name (in any case): nothing happens.
  reg.WriteInteger("two", 2);
  EXPECT_FALSE(reg.RenameValue("uno", "TWO"));
  EXPECT_EQ(reg.ReadInteger("uno"), 1);
  EXPECT_EQ(reg.ReadInteger("two"), 2);
  // A zero-length value and a custom type move with their type number.
  EXPECT_TRUE(reg.RenameValue("empty", "empty2"));
  std::uint32_t type = 99;
  EXPECT_TRUE(rawBytes(reg, "empty2", &type).empty());
  EXPECT_EQ(type, REG_NONE);
  EXPECT_TRUE(reg.RenameValue("custom", "custom2"));
  EXPECT_EQ(rawBytes(reg, "custom2", &type), (std::vector<std::uint8_t>{9}));
  EXPECT_EQ(type, 0x20u);
  EXPECT_FALSE(reg.ValueExists("custom"));
}

TEST_F(MyRegistry, DeleteKeyRemovesThreeLevels) {
  TMyRegistry reg;
  reg.CreateKey(testKey("Top\\A\\B\\C"));
  reg.CreateKey(testKey("Top\\A\\B2"));
  reg.CreateKey(testKey("Top\\D"));
  reg.CreateKey(testKey("Keep"));
  EXPECT_TRUE(reg.DeleteKey(testKey("Top")));
  EXPECT_FALSE(reg.KeyExists(testKey("Top")));
  EXPECT_TRUE(reg.KeyExists(testKey("Keep")));
  EXPECT_FALSE(reg.DeleteKey(testKey("Top")));

  // Without RegDeleteKeyEx the plain delete still does it.
  reg.CreateKey(testKey("Top\\A\\B"));
  BindRegistryFunctions(false);
  EXPECT_TRUE(reg.DeleteKey(testKey("Top")));
  BindRegistryFunctions(true);
  EXPECT_FALSE(reg.KeyExists(testKey("Top")));

  // Relative to the open key.
  ASSERT_TRUE(reg.OpenKey(testKey(), false));
  reg.CreateKey("Rel\\X");
  EXPECT_TRUE(reg.DeleteKey("Rel"));
  EXPECT_FALSE(reg.KeyExists("Rel"));
}

TEST_F(MyRegistry, MoveKeyCopiesEveryKindAndRefusesExistingTargets) {
  TMyRegistry reg;
  ASSERT_TRUE(reg.OpenKey(testKey("Src\\L1\\L2"), true));
  reg.WriteString("s", "deep");
  std::uint8_t custom[] = {1, 2, 3};
  reg.writeRawValue("t20", 0x20, custom);
  reg.CloseKey();
  ASSERT_TRUE(reg.OpenKey(testKey("Src"), false));
  reg.WriteString("", "default");
  reg.WriteMultiString("m", "a\r\n\r\nb\r\n");
  reg.WriteNone("n");
  reg.CloseKey();

  const auto before = RegistryFixture::walk(HKEY_CURRENT_USER, testKey("Src"));
  reg.MoveKey(testKey("Src"), testKey("Copy"), false);
  EXPECT_EQ(RegistryFixture::walk(HKEY_CURRENT_USER, testKey("Copy")), before);
  EXPECT_EQ(RegistryFixture::walk(HKEY_CURRENT_USER, testKey("Src")), before);

  // Onto an existing key: nothing happens.
  reg.CreateKey(testKey("Other"));
  reg.MoveKey(testKey("Src"), testKey("Other"), true);
  EXPECT_TRUE(reg.KeyExists(testKey("Src")));
  EXPECT_FALSE(reg.KeyExists(testKey("Other\\L1")));
  // Into its own sub-tree: refused, the source stays whole.
  reg.MoveKey(testKey("Src"), testKey("Src\\L1\\Inner"), true);
  EXPECT_EQ(RegistryFixture::walk(HKEY_CURRENT_USER, testKey("Src")), before);

  reg.MoveKey(testKey("Src"), testKey("Moved"), true);
  EXPECT_FALSE(reg.KeyExists(testKey("Src")));
  EXPECT_EQ(RegistryFixture::walk(HKEY_CURRENT_USER, testKey("Moved")), before);
}

// A copy reads its source: keys the user may read but not write go along,
// and a key the user may not read fails the copy instead of leaving it out.
TEST_F(MyRegistry, MoveKeyCopiesReadOnlyKeysAndFailsOnUnreadableOnes) {
  const auto makeKey = [](const std::string& path, const char* sddl) {
    void* descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr));
    SECURITY_ATTRIBUTES sa;
    sa.lpSecurityDescriptor = descriptor;
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_READ, &sa, &k, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(k);
    LocalFree(descriptor);
  };
  TMyRegistry64 reg;
  ASSERT_TRUE(reg.OpenKey(testKey("Src\\ReadOnly"), true));
  reg.WriteString("v", "1");
  reg.CloseKey();
  // A key everyone may read and nobody may write.
  const std::string readOnly = "Software\\HivescopeTests\\Src\\ReadOnly\\Inner";
  makeKey(readOnly, "D:(A;;KR;;;WD)");

  const auto before = RegistryFixture::walk(HKEY_CURRENT_USER, testKey("Src"));
  ASSERT_EQ(before.size(), 4u);
  reg.MoveKey(testKey("Src"), testKey("Copy"), false);
  EXPECT_EQ(RegistryFixture::walk(HKEY_CURRENT_USER, testKey("Copy")), before);

  makeKey("Software\\HivescopeTests\\Src\\Sealed", "D:");
  EXPECT_THROW(reg.MoveKey(testKey("Src"), testKey("Moved"), true), ERegistryException);
  EXPECT_TRUE(reg.KeyExists(testKey("Src\\ReadOnly"))) << "the source stays after a failed move";
}

TEST_F(MyRegistry, TheTwoViewsOfTheMachineSoftwareKey) {
  const std::string key = "\\SOFTWARE\\HivescopeViewTest";
  TMyRegistry reg32;
  TMyRegistry64 reg64;
  reg32.SetRootKey(HKEY_LOCAL_MACHINE);
  reg64.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg32.OpenKey(key + "\\Sub", true));
  reg32.WriteInteger("bits", 32);
  reg32.CloseKey();
  EXPECT_FALSE(reg64.KeyExists(key));  // the 32-bit view is redirected
  ASSERT_TRUE(reg64.OpenKey(key + "\\Sub", true));
  reg64.WriteInteger("bits", 64);
  reg64.CloseKey();

  ASSERT_TRUE(reg32.OpenKey(key + "\\Sub", false));
  EXPECT_EQ(reg32.ReadInteger("bits"), 32);
  reg32.CloseKey();
  EXPECT_TRUE(reg64.DeleteKey(key));
  EXPECT_FALSE(reg64.KeyExists(key));
  EXPECT_TRUE(reg32.KeyExists(key + "\\Sub"));  // the twin in the other view stays
  EXPECT_TRUE(reg32.DeleteKey(key));
  EXPECT_FALSE(reg32.KeyExists(key));
}
