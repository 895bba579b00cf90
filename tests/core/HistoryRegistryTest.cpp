// The change history on the registry itself (a temporary registry): what it
// records of a deleted tree, and whether undo and redo bring back exactly
// what was there, in the view the change was made in.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/bwlRegTools.h"
#include "core/bwlRegistryHistorySQLite.h"
#include "platform/RegistryStore.h"
#include "tests/core/RegistryFixture.h"

namespace {

using platform::HKEY_CURRENT_USER;
using platform::HKEY_LOCAL_MACHINE;
using Bytes = std::vector<std::uint8_t>;

class HistoryOnRegistry : public RegistryFixture {
protected:
  testsupport::TempDir dir;
  std::string file = (dir / "history.sqlite").string();

  // The rows as another history (a later run) loads them from the file.
  std::unique_ptr<TRegistryChangeHistory> reloaded() {
    auto h = std::make_unique<TRegistryChangeHistory>(file);
    h->LoadAll();
    return h;
  }

  static void writeRaw(platform::HKEY root, const std::string& path, bool is64, const std::string& name,
                       std::uint32_t type, const Bytes& data) {
    TMyRegistry64 reg;
    if (!is64) reg.SetBitness(Bitness::x32);
    reg.SetRootKey(root);
    ASSERT_TRUE(reg.OpenKey(path, true)) << path;
    reg.writeRawValue(name, type, data);
  }

  // The stored type and bytes of a value, or false when it is not there.
  static bool readRaw(platform::HKEY root, const std::string& path, bool is64, const std::string& name,
                      std::uint32_t& type, Bytes& data) {
    TMyRegistry64 reg;
    if (!is64) reg.SetBitness(Bitness::x32);
    reg.SetRootKey(root);
    return reg.OpenKeyReadOnly(path) && reg.readRawValue(name, type, data);
  }
};

TEST_F(HistoryOnRegistry, DeletedTreeRecordsFiveRowsAndUndoRedoRoundTrip) {
  const std::string tree = testKey("Tree");
  writeRaw(HKEY_CURRENT_USER, tree + "\\Sub1", false, "v1", 1, {'o', 0, 'n', 0, 'e', 0, 0, 0});
  writeRaw(HKEY_CURRENT_USER, tree + "\\Sub2", false, "v2", 4, {7, 0, 0, 0});
  const auto before = walk(HKEY_CURRENT_USER, tree);

  {
    TRegistryChangeHistory h(file);
    h.RecordKeyDelete(HKEY_CURRENT_USER, tree);
    EXPECT_EQ(h.Count(), 5);
  }
  ASSERT_TRUE(DeleteRegistryKey(HKEY_CURRENT_USER, tree, ViewByte::v32));

  auto h = reloaded();
  struct Row {
    THistoryType type;
    std::string path;
    std::string value;
    TRegDataType kind;
    Bytes oldData;
  };
  const Row expected[] = {
      {htValue, tree + "\\Sub1\\", "v1", rdString, {'o', 'n', 'e', 0}},
      {htKey, tree + "\\Sub1\\", "", rdNone, {}},
      {htValue, tree + "\\Sub2\\", "v2", rdInteger, {7, 0, 0, 0}},
      {htKey, tree + "\\Sub2\\", "", rdNone, {}},
      {htKey, tree + "\\", "", rdNone, {}},
  };
  ASSERT_EQ(h->Count(), 5);
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const TRegistryChange& c = h->GetItem(i);
    EXPECT_EQ(c.EntryType, expected[i].type);
    EXPECT_EQ(c.Action, haDelete);
    EXPECT_TRUE(c.RootKey == HKEY_CURRENT_USER);
    EXPECT_EQ(c.KeyPath, expected[i].path);
    EXPECT_EQ(c.Value, expected[i].value);
    EXPECT_EQ(c.DataType, expected[i].kind);
    // String data travels as 8-bit text, as the registry object reads it.
    EXPECT_EQ(c.FOldData, expected[i].oldData);
    EXPECT_TRUE(c.FNewData.empty());
  }

  for (int i = h->Count() - 1; i >= 0; --i) EXPECT_TRUE(h->GetItem(i).Undo()) << i;
  EXPECT_EQ(walk(HKEY_CURRENT_USER, tree), before);

  for (int i = 0; i < h->Count(); ++i) EXPECT_TRUE(h->GetItem(i).Redo()) << i;
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, tree, ViewByte::v32));
  EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, testKey(), ViewByte::v32));
}

TEST_F(HistoryOnRegistry, DwordChangeLinesAndUndoRedo) {
  const std::string key = testKey("x");
  ASSERT_TRUE(WriteRegistryInteger(HKEY_CURRENT_USER, key, "Count", Bitness::x32, 5));
  const Bytes old{5, 0, 0, 0};
  ASSERT_TRUE(WriteRegistryInteger(HKEY_CURRENT_USER, key, "Count", Bitness::x32, 10));
  {
    TRegistryChangeHistory h(file);
    h.RecordValueChange(HKEY_CURRENT_USER, key, "Count", rdInteger, old);
  }

  auto h = reloaded();
  ASSERT_EQ(h->Count(), 1);
  TRegistryChange& c = h->GetItem(0);
  const std::string section = "[HKEY_CURRENT_USER\\Software\\HivescopeTests\\x\\]";
  std::vector<std::string> redo, undo;
  c.GetRedoLines(redo);
  c.GetUndoLines(undo);
  EXPECT_EQ(redo, (std::vector<std::string>{section, "\"Count\"=dword:0000000a", ""}));
  EXPECT_EQ(undo, (std::vector<std::string>{section, "\"Count\"=dword:00000005", ""}));

  std::uint32_t type = 0;
  Bytes data;
  EXPECT_TRUE(c.Undo());
  ASSERT_TRUE(readRaw(HKEY_CURRENT_USER, key, false, "Count", type, data));
  EXPECT_EQ(type, 4u);
  EXPECT_EQ(data, old);
  EXPECT_TRUE(c.Redo());
  ASSERT_TRUE(readRaw(HKEY_CURRENT_USER, key, false, "Count", type, data));
  EXPECT_EQ(data, (Bytes{10, 0, 0, 0}));
}

TEST_F(HistoryOnRegistry, QuotedNamesAndBinaryWithNulsComeBackOnUndo) {
  const std::string key = testKey("Bob's key");
  const Bytes binary{0, 1, 0, 0, 0xFF, 0};
  writeRaw(HKEY_CURRENT_USER, key, false, "it's", 3, binary);
  writeRaw(HKEY_CURRENT_USER, key, false, "", 3, {0, 0});
  {
    TRegistryChangeHistory h(file);
    h.RecordValueDelete(HKEY_CURRENT_USER, key, "it's");
    h.RecordValueDelete(HKEY_CURRENT_USER, key, "");
    ASSERT_EQ(h.Count(), 2);
  }
  // The key goes as well: undo of a value creates it again.
  ASSERT_TRUE(DeleteRegistryKey(HKEY_CURRENT_USER, key, ViewByte::v32));

  auto h = reloaded();
  ASSERT_EQ(h->Count(), 2);
  EXPECT_EQ(h->GetItem(0).KeyPath, key + "\\");
  EXPECT_EQ(h->GetItem(0).Value, "it's");
  EXPECT_EQ(h->GetItem(0).DataType, rdBinary);
  for (int i = 0; i < h->Count(); ++i) EXPECT_TRUE(h->GetItem(i).Undo()) << i;

  struct Case {
    const char* name;
    Bytes data;
  };
  const Case cases[] = {{"it's", binary}, {"", {0, 0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::uint32_t type = 0;
    Bytes data;
    ASSERT_TRUE(readRaw(HKEY_CURRENT_USER, key, false, c.name, type, data));
    EXPECT_EQ(type, 3u);
    EXPECT_EQ(data, c.data);
  }

  for (int i = 0; i < h->Count(); ++i) EXPECT_TRUE(h->GetItem(i).Redo()) << i;
  EXPECT_FALSE(RegistryValueExists(HKEY_CURRENT_USER, key, "it's", ViewByte::v32));
  EXPECT_FALSE(RegistryValueExists(HKEY_CURRENT_USER, key, "", ViewByte::v32));
}

// HKLM\SOFTWARE is the one place where the two views see different keys, so
// a change undone in the wrong view would land beside the original.
TEST_F(HistoryOnRegistry, MachineSoftwareChangesAreUndoneInTheirOwnView) {
  struct Case {
    const char* name;
    bool is64;
  };
  for (const Case& view : {Case{"32-bit view", false}, Case{"64-bit view", true}}) {
    SCOPED_TRACE(view.name);
    const std::string tree = "\\SOFTWARE\\HivescopeHistoryTest";
    const ViewByte mine = view.is64 ? ViewByte::v64 : ViewByte::v32;
    const ViewByte other = view.is64 ? ViewByte::v32 : ViewByte::v64;
    const Bytes bits{view.is64 ? std::uint8_t{64} : std::uint8_t{32}, 0, 0, 0};
    writeRaw(HKEY_LOCAL_MACHINE, tree + "\\Sub", view.is64, "bits", 4, bits);
    ASSERT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, tree, other));

    std::filesystem::remove(file);
    {
      TRegistryChangeHistory h(file);
      h.RecordKeyDelete(HKEY_LOCAL_MACHINE, tree, view.is64);
      ASSERT_EQ(h.Count(), 3);
    }
    ASSERT_TRUE(DeleteRegistryKey(HKEY_LOCAL_MACHINE, tree, mine));

    auto h = reloaded();
    ASSERT_EQ(h->Count(), 3);
    for (int i = h->Count() - 1; i >= 0; --i) EXPECT_TRUE(h->GetItem(i).Undo()) << i;
    std::uint32_t type = 0;
    Bytes data;
    ASSERT_TRUE(readRaw(HKEY_LOCAL_MACHINE, tree + "\\Sub", view.is64, "bits", type, data));
    EXPECT_EQ(data, bits);
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, tree, other));
    // The 32-bit view's keys live under Wow6432Node, seen from the 64-bit view.
    if (!view.is64) {
      EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Wow6432Node\\HivescopeHistoryTest\\Sub",
                                    ViewByte::v64));
    }

    for (int i = 0; i < h->Count(); ++i) EXPECT_TRUE(h->GetItem(i).Redo()) << i;
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, tree, mine));
  }
}

}  // namespace

namespace {

// A rename of a key with a sub-tree and of a value: one row each, which a
// later run undoes and redoes, so "undo all" leaves no renamed key. Each row
// names the hive file the key lies in.
TEST_F(HistoryOnRegistry, RenamesAreRowsThatUndoAndRedo) {
  const std::string old = testKey("Old");
  const std::string renamed = testKey("New");
  writeRaw(HKEY_CURRENT_USER, old + "\\Sub", false, "deep", 4, {1, 0, 0, 0});
  writeRaw(HKEY_CURRENT_USER, old, false, "v", 1, {'a', 0, 0, 0});
  const auto tree = walk(HKEY_CURRENT_USER, old);
  ASSERT_TRUE(RenameRegistryKey(HKEY_CURRENT_USER, old, renamed, false));
  ASSERT_TRUE(RenameRegistryValue(HKEY_CURRENT_USER, renamed, "v", false, "w"));
  {
    TRegistryChangeHistory h(file);
    h.RecordKeyRename(HKEY_CURRENT_USER, old, "New");
    h.RecordValueRename(HKEY_CURRENT_USER, renamed, "v", "w");
    // Nothing to record for what is not there under its new name.
    h.RecordKeyRename(HKEY_CURRENT_USER, testKey("Gone"), "Nowhere");
    h.RecordValueRename(HKEY_CURRENT_USER, renamed, "x", "y");
    EXPECT_EQ(h.Count(), 2);
  }

  auto h = reloaded();
  ASSERT_EQ(h->Count(), 2);
  TRegistryChange& key = h->GetItem(0);
  TRegistryChange& value = h->GetItem(1);
  EXPECT_EQ(key.EntryType, htKey);
  EXPECT_EQ(key.Action, haRename);
  EXPECT_EQ(key.KeyPath, old + "\\");
  EXPECT_EQ(key.NewName, "New");
  EXPECT_EQ(value.EntryType, htValue);
  EXPECT_EQ(value.Action, haRename);
  EXPECT_EQ(value.Value, "v");
  EXPECT_EQ(value.NewName, "w");
  const std::string user = (platform::registry::registryFolder() / "users").string();
  for (const TRegistryChange* c : {&key, &value}) EXPECT_EQ(c->HiveFile.rfind(user, 0), 0u) << c->HiveFile;

  std::vector<std::string> redo, undo;
  value.GetRedoLines(redo);
  value.GetUndoLines(undo);
  const std::string section = "[HKEY_CURRENT_USER\\Software\\HivescopeTests\\New\\]";
  EXPECT_EQ(redo, (std::vector<std::string>{section, "\"w\"=\"a\"", "\"v\"=-", ""}));
  EXPECT_EQ(undo, (std::vector<std::string>{section, "\"v\"=\"a\"", "\"w\"=-", ""}));
  redo.clear();
  key.GetRedoLines(redo);
  EXPECT_EQ(redo, (std::vector<std::string>{"; Rename key [HKEY_CURRENT_USER\\Software\\HivescopeTests\\Old\\] to "
                                            "[HKEY_CURRENT_USER\\Software\\HivescopeTests\\New\\]",
                                            ""}));

  // Undo all, newest first: the key is back under its old name as it was.
  EXPECT_TRUE(value.Undo());
  EXPECT_TRUE(key.Undo());
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, renamed, ViewByte::v32));
  EXPECT_EQ(walk(HKEY_CURRENT_USER, old), tree);
  // Undoing again finds it done already.
  EXPECT_TRUE(key.Undo());
  // Redo all, oldest first.
  EXPECT_TRUE(key.Redo());
  EXPECT_TRUE(value.Redo());
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, old, ViewByte::v32));
  std::uint32_t type = 0;
  Bytes data;
  EXPECT_TRUE(readRaw(HKEY_CURRENT_USER, renamed, false, "w", type, data));
  EXPECT_TRUE(readRaw(HKEY_CURRENT_USER, renamed + "\\Sub", false, "deep", type, data));
  // A rename whose target is taken is refused, not reported done.
  writeRaw(HKEY_CURRENT_USER, renamed, false, "v", 4, {2, 0, 0, 0});
  EXPECT_FALSE(value.Undo());
}

}  // namespace
