#include <gtest/gtest.h>

#include "core/bwlRegTools.h"
#include "tests/core/RegistryFixture.h"

using namespace platform;

TEST(RootKeys, Names) {
  struct Case {
    HKEY root;
    const char* longName;
    const char* shortName;
  };
  const Case cases[] = {
      {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "HKCR"},   {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU"},
      {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM"}, {HKEY_USERS, "HKEY_USERS", "HKUS"},
      {HKEY_PERFORMANCE_DATA, "HKEY_PERFORMANCE_DATA", "HKPD"},
      {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG", "HKCC"}, {HKEY_DYN_DATA, "HKEY_DYN_DATA", "HKDD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.longName);
    EXPECT_EQ(RootKeyToLongName(c.root), c.longName);
    EXPECT_EQ(RootKeyToShortName(c.root), c.shortName);
    EXPECT_EQ(NameToRootKey(c.longName), c.root);
    EXPECT_EQ(NameToRootKey(c.shortName), c.root);
  }
  EXPECT_EQ(RootKeyToLongName(HKEY(std::uintptr_t{100})), "100");
  EXPECT_EQ(RootKeyToShortName(HKEY(std::uintptr_t{100})), "100");
  EXPECT_FALSE(NameToRootKey("hklm"));
  EXPECT_FALSE(NameToRootKey("HKU"));
  EXPECT_FALSE(NameToRootKey(""));
}

TEST(RootKeys, SplitRegistryPath) {
  struct Case {
    const char* text;
    bool ok;
    HKEY root;
    const char* path;
    const char* last;
  };
  const Case cases[] = {
      {"HKCU\\Software", true, HKEY_CURRENT_USER, "\\", "Software"},
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Brantwell\\Value", true, HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Brantwell\\",
       "Value"},
      {"HKUS\\S-1-5\\", true, HKEY_USERS, "\\S-1-5\\", ""},
      {"HKCU", false, HKEY(), "", ""},
      {"hkcu\\Software", false, HKEY(), "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    HKEY root;
    std::string path, last;
    EXPECT_EQ(SplitRegistryPath(c.text, root, path, last), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(root, c.root);
    EXPECT_EQ(path, c.path);
    EXPECT_EQ(last, c.last);
  }
}

TEST(RegToolsBitness, BadBitnessThrowsBeforeAnythingOpens) {
  std::string text;
  EXPECT_THROW(WriteRegistryString(HKEY_CURRENT_USER, "\\Software\\X", "v", Bitness{16}, "t"), std::runtime_error);
  EXPECT_THROW(ReadRegistryString(HKEY_CURRENT_USER, "\\Software\\X", "v", Bitness{0}, text), std::runtime_error);
}

using RegTools = RegistryFixture;

TEST_F(RegTools, StringHelpers) {
  const HKEY cu = HKEY_CURRENT_USER;
  ASSERT_TRUE(WriteRegistryString(cu, testKey("S"), "sz", Bitness::x32, "hello"));
  ASSERT_TRUE(WriteRegistryStringOfKind(cu, testKey("S"), "ex", Bitness::x32, rdExpandString, "%X%"));
  ASSERT_TRUE(WriteRegistryStringOfKind(cu, testKey("S"), "ms", Bitness::x32, rdMultiString, "a\r\nb\r\n"));
  EXPECT_FALSE(WriteRegistryStringOfKind(cu, testKey("Bin"), "b", Bitness::x32, rdBinary, "x"));
  EXPECT_TRUE(RegistryKeyExists(cu, testKey("Bin"), ViewByte::v32));
  EXPECT_FALSE(RegistryValueExists(cu, testKey("Bin"), "b", ViewByte::v32));
  ASSERT_TRUE(WriteRegistryInteger(cu, testKey("S"), "dw", Bitness::x32, 7));

  std::string text = "unchanged";
  EXPECT_TRUE(ReadRegistryString(cu, testKey("S"), "sz", Bitness::x32, text));
  EXPECT_EQ(text, "hello");
  EXPECT_TRUE(ReadRegistryString(cu, testKey("S"), "ex", Bitness::x32, text));
  EXPECT_EQ(text, "%X%");
  EXPECT_TRUE(ReadRegistryString(cu, testKey("S"), "ms", Bitness::x32, text));
  EXPECT_EQ(text, "a\r\nb\r\n");
  text = "unchanged";
  EXPECT_FALSE(ReadRegistryString(cu, testKey("S"), "dw", Bitness::x32, text));
  EXPECT_FALSE(ReadRegistryString(cu, testKey("S"), "missing", Bitness::x32, text));
  EXPECT_FALSE(ReadRegistryString(cu, testKey("Nope"), "sz", Bitness::x32, text));
  EXPECT_EQ(text, "unchanged");
}

TEST_F(RegTools, BoolDateAndBinaryHelpers) {
  const HKEY cu = HKEY_CURRENT_USER;
  ASSERT_TRUE(WriteRegistryBool(cu, testKey(), "b", true));
  ASSERT_TRUE(WriteRegistryDateTime(cu, testKey(), "d", 45000.5));
  MemoryStream stream;
  stream.Write("\x01\x02", 2);
  ASSERT_TRUE(WriteRegistryBinary(cu, testKey(), "bin", Bitness::x32, rdResourceList, stream));
  EXPECT_EQ(stream.Position, 0u);  // rewound

  bool value = false;
  EXPECT_TRUE(ReadRegistryBool(cu, testKey(), "b", value));
  EXPECT_TRUE(value);
  EXPECT_FALSE(ReadRegistryBool(cu, testKey(), "d", value));  // REG_BINARY: not a Boolean
  TMyRegistry reg;
  ASSERT_TRUE(reg.OpenKey(testKey(), false));
  EXPECT_EQ(reg.ReadFloat("d"), 45000.5);
  EXPECT_EQ(reg.GetDataInfo("bin", *std::make_unique<TMyRegDataInfo>()), true);
  EXPECT_EQ(reg.GetDataType("bin"), rdResourceList);
}

TEST_F(RegTools, NameListsAndExistence) {
  const HKEY cu = HKEY_CURRENT_USER;
  ASSERT_TRUE(CreateRegistryKey(cu, testKey("L\\K1"), ViewByte::v32));
  ASSERT_TRUE(CreateRegistryKey(cu, testKey("L\\K2"), ViewByte{9}));  // another byte: the default view
  ASSERT_TRUE(WriteRegistryInteger(cu, testKey("L"), "v", Bitness::x32, 1));

  std::vector<std::string> names{"stale"};
  EXPECT_TRUE(GetRegistryKeyNames(cu, testKey("L"), &names, Is64Flag::no));
  EXPECT_EQ(names, (std::vector<std::string>{"K1", "K2"}));
  EXPECT_TRUE(GetRegistryValueNames(cu, testKey("L"), &names, Is64Flag::yes));
  EXPECT_EQ(names, (std::vector<std::string>{"v"}));
  EXPECT_TRUE(GetRegistryValueNames(cu, testKey("L"), nullptr, Is64Flag::no));
  names = {"kept"};
  EXPECT_FALSE(GetRegistryKeyNames(cu, testKey("Missing"), &names, Is64Flag::no));
  EXPECT_EQ(names, (std::vector<std::string>{"kept"}));

  EXPECT_TRUE(RegistryValueExists(cu, testKey("L"), "V", ViewByte::v32));
  EXPECT_FALSE(RegistryValueExists(cu, testKey("Missing"), "v", ViewByte::v32));
  EXPECT_TRUE(DeleteRegistryValue(cu, testKey("L"), "v", ViewByte::v32));
  EXPECT_FALSE(DeleteRegistryValue(cu, testKey("L"), "v", ViewByte::v32));
  EXPECT_FALSE(DeleteRegistryValue(cu, testKey("Missing"), "v", ViewByte::v32));
  EXPECT_TRUE(DeleteRegistryKey(cu, testKey("L"), ViewByte::v32));
  EXPECT_FALSE(DeleteRegistryKey(cu, testKey("L"), ViewByte::v32));
  EXPECT_FALSE(RegistryKeyExists(cu, testKey("L\\K1"), ViewByte::v32));
}

TEST_F(RegTools, RenameValue) {
  const HKEY cu = HKEY_CURRENT_USER;
  const std::string key = testKey("R");
  WriteRegistryInteger(cu, key, "a", Bitness::x32, 1);
  WriteRegistryInteger(cu, key, "b", Bitness::x32, 2);

  EXPECT_FALSE(RenameRegistryValue(cu, key, "a", false, "b"));  // exists, no overwrite
  EXPECT_TRUE(RegistryValueExists(cu, key, "a", ViewByte::v32));
  EXPECT_FALSE(RenameRegistryValue(cu, key, "missing", true, "c"));

  EXPECT_TRUE(RenameRegistryValue(cu, key, "a", true, "b"));
  TMyRegistry reg;
  ASSERT_TRUE(reg.OpenKey(key, false));
  EXPECT_EQ(reg.ReadInteger("b"), 1);
  EXPECT_FALSE(reg.ValueExists("a"));

  // Onto itself, in another case: a successful no-op with overwrite, never a loss.
  EXPECT_TRUE(RenameRegistryValue(cu, key, "b", true, "B"));
  EXPECT_FALSE(RenameRegistryValue(cu, key, "b", false, "B"));
  EXPECT_EQ(reg.ReadInteger("b"), 1);

  // A zero-length value is renamed too, keeping its type.
  reg.WriteNone("z");
  EXPECT_TRUE(RenameRegistryValue(cu, key, "z", false, "z2"));
  EXPECT_FALSE(reg.ValueExists("z"));
  EXPECT_EQ(reg.GetDataType("z2"), rdNone);
}

TEST_F(RegTools, RenameKey) {
  const HKEY cu = HKEY_CURRENT_USER;
  WriteRegistryInteger(cu, testKey("Old\\Sub"), "v", Bitness::x32, 1);
  WriteRegistryInteger(cu, testKey("Existing"), "w", Bitness::x32, 2);

  EXPECT_FALSE(RenameRegistryKey(cu, testKey("Old"), testKey("Existing"), false));
  EXPECT_TRUE(RegistryKeyExists(cu, testKey("Old\\Sub"), ViewByte::v32));
  EXPECT_TRUE(RenameRegistryKey(cu, testKey("Old"), testKey("Existing"), true));
  EXPECT_FALSE(RegistryKeyExists(cu, testKey("Old"), ViewByte::v32));
  EXPECT_TRUE(RegistryValueExists(cu, testKey("Existing\\Sub"), "v", ViewByte::v32));
  EXPECT_FALSE(RegistryValueExists(cu, testKey("Existing"), "w", ViewByte::v32));  // replaced

  // The same path in another case, with overwrite: nothing lost.
  EXPECT_TRUE(RenameRegistryKey(cu, testKey("Existing"), testKey("EXISTING\\"), true));
  EXPECT_TRUE(RegistryValueExists(cu, testKey("Existing\\Sub"), "v", ViewByte::v32));
  // A path inside the other: refused either way round.
  EXPECT_FALSE(RenameRegistryKey(cu, testKey("Existing\\Sub"), testKey("Existing"), true));
  EXPECT_FALSE(RenameRegistryKey(cu, testKey("Existing"), testKey("Existing\\Sub\\X"), true));
  EXPECT_TRUE(RegistryValueExists(cu, testKey("Existing\\Sub"), "v", ViewByte::v32));
  EXPECT_FALSE(RenameRegistryKey(cu, testKey("Missing"), testKey("New"), true));
}

TEST_F(RegTools, CopyAndMoveValues) {
  const HKEY cu = HKEY_CURRENT_USER;
  TMyRegistry reg;
  ASSERT_TRUE(reg.OpenKey(testKey("From"), true));
  reg.WriteInteger("dw", 5);
  reg.WriteNone("none");
  std::uint8_t custom[] = {7, 8};
  reg.writeRawValue("t20", 0x20, custom);
  reg.WriteMultiString("ms", "a\r\n\r\nb\r\n");

  CopyRegistryValue(cu, testKey("From"), "dw", true, "dw2", testKey("To"), cu);
  EXPECT_FALSE(reg.ValueExists("dw"));
  EXPECT_TRUE(RegistryValueExists(cu, testKey("To"), "dw2", ViewByte::v32));

  const auto from = RegistryFixture::walk(cu, testKey("From"));
  for (const char* name : {"none", "t20", "ms"}) {
    SCOPED_TRACE(name);
    CopyRegistryValue(cu, testKey("From"), name, false, name, testKey("To"), cu);
  }
  auto to = RegistryFixture::walk(cu, testKey("To"));
  to.erase(std::remove_if(to.begin(), to.end(), [](const auto& e) { return e.name == "dw2"; }), to.end());
  EXPECT_EQ(to, from);  // REG_NONE stays REG_NONE, 0x20 stays 0x20, the empty string survives

  // Moving a value of an unknown type never deletes the source.
  CopyRegistryValue(cu, testKey("From"), "t20", true, "t20moved", testKey("To"), cu);
  EXPECT_TRUE(reg.ValueExists("t20"));
  EXPECT_TRUE(RegistryValueExists(cu, testKey("To"), "t20moved", ViewByte::v32));
  // Moving onto itself keeps it.
  CopyRegistryValue(cu, testKey("From"), "none", true, "NONE", testKey("from\\"), cu);
  EXPECT_TRUE(reg.ValueExists("none"));
}

TEST_F(RegTools, CopyMoveAndDeleteAThreeLevelTree) {
  const HKEY cu = HKEY_CURRENT_USER;
  {
    TMyRegistry64 reg;
    auto fill = [&](const std::string& path) {
      ASSERT_TRUE(reg.OpenKey(path, true));
      reg.WriteString("", "default");
      reg.WriteString("sz", "text");
      reg.WriteExpandString("ex", "%SystemRoot%");
      std::uint8_t bytes[] = {0, 1, 2, 0xFF};
      reg.WriteBinaryData("bin", bytes, 4);
      reg.WriteInteger("dw", -1);
      reg.WriteBigEndianInteger("be", 0x01020304);
      reg.WriteLink("link", bytes, 4);
      reg.WriteMultiString("ms", "a\r\nb\r\n");
      reg.WriteResourceList("rl", bytes, 4);
      reg.WriteFullResourceDescriptor("frd", bytes, 4);
      reg.WriteResourceRequirementsList("rrl", bytes, 4);
      reg.WriteInt64("qw", INT64_MIN);
      reg.WriteNone("none");
      reg.writeRawValue("t20", 0x20, bytes);
      reg.CloseKey();
    };
    fill(testKey("Tree"));
    fill(testKey("Tree\\L1"));
    fill(testKey("Tree\\L1\\L2"));
    fill(testKey("Tree\\L1\\L2\\L3"));
    fill(testKey("Tree\\Side"));
  }
  const auto source = RegistryFixture::walk(cu, testKey("Tree"));
  ASSERT_GT(source.size(), 50u);

  ASSERT_TRUE(CopyRegistryKey(cu, testKey("Tree"), cu, testKey("Copy"), false));
  EXPECT_EQ(RegistryFixture::walk(cu, testKey("Copy")), source);
  EXPECT_EQ(RegistryFixture::walk(cu, testKey("Tree")), source);

  ASSERT_TRUE(CopyRegistryKey(cu, testKey("Tree"), cu, testKey("Moved"), true));
  EXPECT_EQ(RegistryFixture::walk(cu, testKey("Moved")), source);
  EXPECT_FALSE(RegistryKeyExists(cu, testKey("Tree"), ViewByte::v32));
  // Onto an existing key nothing happens, and that still counts as done.
  EXPECT_TRUE(CopyRegistryKey(cu, testKey("Moved"), cu, testKey("Copy"), true));
  EXPECT_TRUE(RegistryKeyExists(cu, testKey("Moved"), ViewByte::v32));

  EXPECT_TRUE(DeleteRegistryKey(cu, testKey("Moved"), ViewByte::v64));
  EXPECT_TRUE(DeleteRegistryKey(cu, testKey("Copy"), ViewByte::v32));
  EXPECT_FALSE(RegistryKeyExists(cu, testKey("Moved"), ViewByte::v64));
  EXPECT_FALSE(RegistryKeyExists(cu, testKey("Copy"), ViewByte::v32));
}
