#include "core/bwlRegistryHistorySQLite.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <latch>
#include <thread>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr platform::HKEY HKCU = platform::HKEY_CURRENT_USER;
constexpr platform::HKEY HKLM = platform::HKEY_LOCAL_MACHINE;

// An in-memory registry with the semantics the history relies on: names in
// creation order, recursive delete, writes that create missing keys. Each
// view is a separate tree.
class FakeRegistry : public HistoryRegistry {
public:
  struct Value {
    TRegDataType kind;
    Bytes data;
  };
  struct Key {
    std::vector<std::string> subKeys;
    std::vector<std::pair<std::string, Value>> values;
  };
  // (root, is64, path with leading and trailing backslash) -> key
  std::map<std::tuple<platform::HKEY, bool, std::string>, Key> keys;
  // A read-only hive: every change is refused, a value write by an exception
  // as the typed writer raises one.
  bool readOnly = false;

  static std::string norm(std::string p) {
    if (p.empty() || p[0] != '\\') p = "\\" + p;
    if (p.back() != '\\') p += '\\';
    return p;
  }
  Key* find(platform::HKEY root, const std::string& path, bool is64) {
    auto it = keys.find({root, is64, norm(path)});
    return it == keys.end() ? nullptr : &it->second;
  }
  Key& create(platform::HKEY root, const std::string& path, bool is64) {
    const std::string p = norm(path);
    if (auto* k = find(root, p, is64)) return *k;
    if (p != "\\") {
      const std::string parent = p.substr(0, p.rfind('\\', p.size() - 2) + 1);
      const std::string name = p.substr(parent.size(), p.size() - parent.size() - 1);
      create(root, parent, is64).subKeys.push_back(name);
    }
    return keys[{root, is64, p}];
  }
  Value* value(platform::HKEY root, const std::string& path, const std::string& name, bool is64 = false) {
    Key* k = find(root, path, is64);
    if (!k) return nullptr;
    for (auto& [n, v] : k->values)
      if (n == name) return &v;
    return nullptr;
  }
  void set(platform::HKEY root, const std::string& path, const std::string& name, TRegDataType kind,
           Bytes data, bool is64 = false) {
    Key& k = create(root, path, is64);
    for (auto& [n, v] : k.values)
      if (n == name) {
        v = {kind, std::move(data)};
        return;
      }
    k.values.push_back({name, {kind, std::move(data)}});
  }

  bool GetKeyNames(platform::HKEY root, const std::string& path, bool is64,
                   std::vector<std::string>& names) override {
    Key* k = find(root, path, is64);
    if (!k) return false;
    names = k->subKeys;
    return true;
  }
  bool GetValueNames(platform::HKEY root, const std::string& path, bool is64,
                     std::vector<std::string>& names) override {
    Key* k = find(root, path, is64);
    if (!k) return false;
    names.clear();
    for (auto& [n, v] : k->values) names.push_back(n);
    return true;
  }
  bool ReadValue(platform::HKEY root, const std::string& path, const std::string& name, bool is64,
                 TRegDataType& kind, Bytes& data) override {
    Value* v = value(root, path, name, is64);
    if (!v) return false;
    kind = v->kind;
    data = v->data;
    return true;
  }
  bool DeleteKey(platform::HKEY root, const std::string& path, bool is64) override {
    const std::string p = norm(path);
    if (readOnly || !find(root, p, is64)) return false;
    for (auto it = keys.begin(); it != keys.end();) {
      const auto& [r, v, kp] = it->first;
      if (r == root && v == is64 && kp.compare(0, p.size(), p) == 0) it = keys.erase(it);
      else ++it;
    }
    const std::string parent = p.substr(0, p.rfind('\\', p.size() - 2) + 1);
    if (Key* pk = find(root, parent, is64))
      std::erase(pk->subKeys, p.substr(parent.size(), p.size() - parent.size() - 1));
    return true;
  }
  bool CreateKey(platform::HKEY root, const std::string& path, bool is64) override {
    if (readOnly) return false;
    create(root, path, is64);
    return true;
  }
  bool DeleteValue(platform::HKEY root, const std::string& path, const std::string& name,
                   bool is64) override {
    Key* k = find(root, path, is64);
    if (readOnly || !k) return false;
    return std::erase_if(k->values, [&](const auto& nv) { return nv.first == name; }) > 0;
  }
  bool WriteBinary(platform::HKEY root, const std::string& path, const std::string& name, bool is64,
                   TRegDataType kind, std::span<const std::uint8_t> data) override {
    if (readOnly) throw ERegistryException("Failed to set data for '" + name + "'");
    set(root, path, name, kind, Bytes(data.begin(), data.end()), is64);
    return true;
  }
};

class RecordingListItem : public HistoryListItem {
public:
  int index = 0;
  std::string caption;
  std::vector<std::string> subItems;
  int Index() const override { return index; }
  void SetCaption(const std::string& text) override { caption = text; }
  int SubItemCount() const override { return static_cast<int>(subItems.size()); }
  void AddSubItem(const std::string& text) override { subItems.push_back(text); }
  void SetSubItem(int i, const std::string& text) override { subItems.at(static_cast<std::size_t>(i)) = text; }
};

const char* const kSchema =
    "CREATE TABLE registry_history ([id] INTEGER PRIMARY KEY AUTOINCREMENT, [timestamp] INTEGER, "
    "[direction] INTEGER, [entrytype] INTEGER, [action] INTEGER, [rootkey] INTEGER, [key] TEXT, "
    "[value] TEXT, [datatype] INTEGER, [olddatasize] INTEGER, [newdatasize] INTEGER, [olddata] BLOB, "
    "[newdata] BLOB )";

Bytes dword(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

class HistoryTest : public ::testing::Test {
protected:
  testsupport::TempDir dir;
  std::string file = (dir / "Brantwell" / "Hivescope" / "history.sqlite").string();
  FakeRegistry reg;

  int rowCount(TRegistryChangeHistory& h) {
    return h.Database().Query("SELECT * FROM registry_history")->GetRowCount();
  }
};

TEST_F(HistoryTest, CreatesFolderAndTableWithTheExactStatement) {
  {
    TRegistryChangeHistory h(file, reg);
    EXPECT_TRUE(std::filesystem::exists(file));
    auto t = h.Database().Query("SELECT sql FROM sqlite_master WHERE name = 'registry_history'");
    ASSERT_EQ(t->GetRowCount(), 1);
    EXPECT_EQ(t->CellText(0), kSchema);
  }
  // Opening again finds the table and keeps it.
  TRegistryChangeHistory again(file, reg);
  // + sqlite_sequence and the table of what the rows have no column for
  EXPECT_EQ(again.Database().Query("SELECT name FROM sqlite_master")->GetRowCount(), 3);
}

// A database made before renames were recorded: its rows load (with no new
// name and no hive file), its table keeps its statement, and a rename
// recorded into it comes back from a later run.
TEST_F(HistoryTest, ADatabaseFromBeforeRenamesReadsAndTakesThem) {
  std::filesystem::create_directories(std::filesystem::path(file).parent_path());
  {
    TSQLiteDatabase db(file);
    db.Execute(kSchema);
    db.Execute("INSERT INTO registry_history (timestamp,entrytype,action,rootkey,key,value,datatype,olddatasize,"
               "newdatasize) VALUES  (0,1,1,-2147483647,'\\K\\','v',1,0,0)");
  }
  {
    TRegistryChangeHistory h(file, reg);
    h.LoadAll();
    ASSERT_EQ(h.Count(), 1);
    EXPECT_EQ(h.GetItem(0).Value, "v");
    EXPECT_TRUE(h.GetItem(0).NewName.empty());
    EXPECT_TRUE(h.GetItem(0).HiveFile.empty());
    h.AddChange(htValue, haRename, HKCU, "\\K\\", "v", rdString, Bytes{'a', 0}, Bytes{'a', 0}, false, std::nullopt,
                "it's");
    auto t = h.Database().Query("SELECT sql FROM sqlite_master WHERE name = 'registry_history'");
    EXPECT_EQ(t->CellText(0), kSchema);
  }
  TRegistryChangeHistory later(file, reg);
  later.LoadAll();
  ASSERT_EQ(later.Count(), 2);
  const TRegistryChange& rename = later.GetItem(1);
  EXPECT_EQ(rename.Action, haRename);
  EXPECT_EQ(rename.Value, "v");
  EXPECT_EQ(rename.NewName, "it's");
  RecordingListItem item;
  item.index = 1;
  later.FillListItem(item);
  EXPECT_EQ(item.subItems.at(2), "Rename");
  EXPECT_EQ(item.subItems.at(7), "it's");
  // Deleting the row takes its extra part along.
  later.GetItem(1).DeleteFromDatabase();
  EXPECT_EQ(later.Database().Query("SELECT * FROM registry_history_extra")->GetRowCount(), 0);
}

// Two instances started at once both set up a history that is not there
// yet: each opens it, whichever makes the table.
TEST_F(HistoryTest, OpensThatRaceForAFreshFileAllSucceed) {
  for (int round = 0; round < 20; ++round) {
    const std::string fresh = (dir / ("race" + std::to_string(round) + ".sqlite")).string();
    std::latch start(6);
    std::atomic<int> failures{0};
    std::vector<std::thread> openers;
    for (int i = 0; i < 6; ++i)
      openers.emplace_back([&] {
        start.arrive_and_wait();
        try {
          TRegistryChangeHistory h(fresh, reg);
        } catch (const std::exception&) {
          ++failures;
        }
      });
    for (auto& t : openers) t.join();
    EXPECT_EQ(failures.load(), 0) << "round " << round;
  }
}

TEST_F(HistoryTest, DefaultFileIsUnderTheXdgDataFolder) {
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
  EXPECT_EQ(TRegistryChangeHistory::DefaultFileName(),
            (dir.path() / "Brantwell" / "Hivescope" / "history.sqlite").string());
  if (old) setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else unsetenv("XDG_DATA_HOME");
}

TEST_F(HistoryTest, DeletedTreeRecordsDeepestFirstAndUndoRedoRoundTrip) {
  reg.set(HKCU, "\\Software\\Tree\\Sub1", "v1", rdString, {'a', 0});
  reg.set(HKCU, "\\Software\\Tree\\Sub2", "v2", rdInteger, dword(7));
  reg.set(HKCU, "\\Software\\Tree", "own", rdBinary, {1, 2, 3});
  const auto before = reg.keys;

  TRegistryChangeHistory h(file, reg);
  h.RecordKeyDelete(HKCU, "\\Software\\Tree");
  reg.DeleteKey(HKCU, "\\Software\\Tree", false);
  ASSERT_EQ(h.Count(), 6);

  struct Row {
    THistoryType type;
    const char* path;
    const char* value;
    TRegDataType kind;
  };
  const Row expected[] = {
      {htValue, "\\Software\\Tree\\Sub1\\", "v1", rdString},
      {htKey, "\\Software\\Tree\\Sub1\\", "", rdNone},
      {htValue, "\\Software\\Tree\\Sub2\\", "v2", rdInteger},
      {htKey, "\\Software\\Tree\\Sub2\\", "", rdNone},
      {htValue, "\\Software\\Tree\\", "own", rdBinary},
      {htKey, "\\Software\\Tree\\", "", rdNone},
  };
  TRegistryChangeHistory loaded(file, reg);
  loaded.LoadAll();
  ASSERT_EQ(loaded.Count(), 6);
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    const TRegistryChange& c = loaded.GetItem(i);
    EXPECT_EQ(c.EntryType, expected[i].type);
    EXPECT_EQ(c.Action, haDelete);
    EXPECT_EQ(c.RootKey, HKCU);
    EXPECT_EQ(c.KeyPath, expected[i].path);
    EXPECT_EQ(c.Value, expected[i].value);
    EXPECT_EQ(c.DataType, expected[i].kind);
    EXPECT_TRUE(c.FNewData.empty());
    EXPECT_EQ(c.TableIndex, static_cast<std::uint32_t>(i + 1));
  }
  EXPECT_EQ(loaded.GetItem(2).FOldData, dword(7));

  for (int i = loaded.Count() - 1; i >= 0; --i) EXPECT_TRUE(loaded.GetItem(i).Undo()) << i;
  EXPECT_EQ(reg.keys.size(), before.size());
  ASSERT_NE(reg.value(HKCU, "\\Software\\Tree\\Sub2", "v2"), nullptr);
  EXPECT_EQ(reg.value(HKCU, "\\Software\\Tree\\Sub2", "v2")->data, dword(7));
  EXPECT_EQ(reg.value(HKCU, "\\Software\\Tree\\Sub2", "v2")->kind, rdInteger);
  EXPECT_EQ(reg.value(HKCU, "\\Software\\Tree", "own")->data, (Bytes{1, 2, 3}));

  for (int i = 0; i < loaded.Count(); ++i) EXPECT_TRUE(loaded.GetItem(i).Redo()) << i;
  EXPECT_EQ(reg.find(HKCU, "\\Software\\Tree", false), nullptr);
  EXPECT_NE(reg.find(HKCU, "\\Software", false), nullptr);
}

// Undo and redo answer whether the registry took the change: every row kind
// refused by a read-only registry says so, a deletion of what is gone
// already succeeds, and a key row of the action "change" has nothing to do.
TEST_F(HistoryTest, UndoAndRedoSayWhetherTheRegistryTookThem) {
  reg.set(HKCU, "\\K", "v", rdInteger, dword(1));
  TRegistryChangeHistory h(file, reg);
  struct Case {
    THistoryType type;
    THistoryAction action;
    bool changesSomething;
  };
  const Case cases[] = {
      {htKey, haDelete, true}, {htKey, haNew, true},      {htKey, haChange, false},
      {htValue, haDelete, true}, {htValue, haNew, true}, {htValue, haChange, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << int(c.type) << " action " << int(c.action));
    TRegistryChange& change = h.AddChange(c.type, c.action, HKCU, "\\K\\", c.type == htValue ? "v" : "",
                                          c.type == htValue ? rdInteger : rdNone, dword(1), dword(2));
    reg.keys.clear();
    reg.set(HKCU, "\\K", "v", rdInteger, dword(1));
    reg.readOnly = true;
    EXPECT_EQ(change.Undo(), !c.changesSomething);
    EXPECT_EQ(change.Redo(), !c.changesSomething);
    reg.readOnly = false;
    EXPECT_TRUE(change.Undo());
    EXPECT_TRUE(change.Redo());
  }
  // Gone already: the registry answers "not found", read-only or not.
  reg.DeleteKey(HKCU, "\\K", false);
  reg.readOnly = true;
  EXPECT_TRUE(h.GetItem(0).Redo());  // key deleted
  EXPECT_TRUE(h.GetItem(1).Undo());  // key created
  EXPECT_TRUE(h.GetItem(3).Redo());  // value deleted
  EXPECT_TRUE(h.GetItem(4).Undo());  // value created
}

TEST_F(HistoryTest, RedoAndUndoLinesOfEveryRowKind) {
  TRegistryChangeHistory h(file, reg);
  reg.set(HKCU, "\\Software\\x", "Count", rdInteger, dword(10));
  h.RecordValueChange(HKCU, "\\Software\\x", "Count", rdInteger, dword(5));
  h.RecordValueCreate(HKCU, "\\Software\\x", "Count", rdInteger);
  h.RecordValueDelete(HKCU, "\\Software\\x", "Count");
  h.RecordKeyCreate(HKLM, "\\Software\\New");
  h.AddChange(htKey, haDelete, HKLM, "\\Software\\Gone\\", "", rdNone, {}, {});
  reg.set(HKCU, "\\Software\\x", "", rdString, {'d', 0});
  h.RecordValueDelete(HKCU, "\\Software\\x", "");
  ASSERT_EQ(h.Count(), 6);

  struct Case {
    int index;
    std::vector<std::string> redo, undo;
  };
  const std::string sec = "[HKEY_CURRENT_USER\\Software\\x\\]";
  const Case cases[] = {
      {0, {sec, "\"Count\"=dword:0000000a", ""}, {sec, "\"Count\"=dword:00000005", ""}},
      {1, {sec, "\"Count\"=dword:0000000a", ""}, {sec, "\"Count\"=-", ""}},
      {2, {sec, "\"Count\"=-", ""}, {sec, "\"Count\"=dword:0000000a", ""}},
      // A delete section has no final backslash (the reader refuses one).
      {3, {"[HKEY_LOCAL_MACHINE\\Software\\New\\]", ""}, {"[-HKEY_LOCAL_MACHINE\\Software\\New]", ""}},
      {4, {"[-HKEY_LOCAL_MACHINE\\Software\\Gone]", ""}, {"[HKEY_LOCAL_MACHINE\\Software\\Gone\\]", ""}},
      // The default value's deletion line is "@=-", as its value line is "@=".
      {5, {sec, "@=-", ""}, {sec, "@=\"d\"", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.index);
    std::vector<std::string> redo, undo;
    h.GetItem(c.index).GetRedoLines(redo);
    h.GetItem(c.index).GetUndoLines(undo);
    EXPECT_EQ(redo, c.redo);
    EXPECT_EQ(undo, c.undo);
  }

  // A key "change" row (never recorded, but loadable) gives the empty line alone.
  TRegistryChange odd(&h);
  odd.EntryType = htKey;
  odd.Action = haChange;
  std::vector<std::string> lines;
  odd.GetRedoLines(lines);
  odd.GetUndoLines(lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"", ""}));
}

TEST_F(HistoryTest, LongBinaryLinesWrapInsideOneEntry) {
  TRegistryChangeHistory h(file, reg);
  Bytes data(30);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  auto& c = h.AddChange(htValue, haNew, HKCU, "\\K\\", "Data", rdBinary, {}, data);
  std::vector<std::string> lines;
  c.GetRedoLines(lines);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1],
            "\"Data\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
            "  16,17,18,19,1a,1b,1c,1d");
}

TEST_F(HistoryTest, QuotesNulsNonAsciiAndEmptyDataRoundTrip) {
  {
    TRegistryChangeHistory h(file, reg);
    h.AddChange(htValue, haChange, HKCU, "\\It's\\Pfad Ä\\", "Bob's \"value\"", rdBinary,
                Bytes{0, 1, 0, 0xFF}, Bytes{0, 0});
    h.AddChange(htValue, haNew, HKCU, "\\K\\", "empty", rdString, {}, {});
  }
  TRegistryChangeHistory h(file, reg);
  h.LoadAll();
  ASSERT_EQ(h.Count(), 2);
  EXPECT_EQ(h.GetItem(0).KeyPath, "\\It's\\Pfad Ä\\");
  EXPECT_EQ(h.GetItem(0).Value, "Bob's \"value\"");
  EXPECT_EQ(h.GetItem(0).FOldData, (Bytes{0, 1, 0, 0xFF}));
  EXPECT_EQ(h.GetItem(0).FNewData, (Bytes{0, 0}));
  EXPECT_TRUE(h.GetItem(1).FNewData.empty());

  auto t = h.Database().Query("SELECT newdatasize, newdata FROM registry_history WHERE id = 2");
  EXPECT_EQ(t->CellInt64(0), 0);
  EXPECT_EQ(t->CellStream(1), nullptr);
}

TEST_F(HistoryTest, FailedDataUpdateLeavesNoRowAndNoItem) {
  TRegistryChangeHistory h(file, reg);
  h.AddChange(htKey, haNew, HKCU, "\\Before\\", "", rdNone, {}, {});
  h.Database().Execute(
      "CREATE TRIGGER fail_newdata BEFORE UPDATE OF newdata ON registry_history "
      "BEGIN SELECT RAISE(ABORT, 'injected failure'); END");

  EXPECT_THROW(h.AddChange(htValue, haChange, HKCU, "\\K\\", "v", rdBinary, Bytes{1}, Bytes{2}),
               ESQLiteException);
  EXPECT_EQ(rowCount(h), 1);
  EXPECT_EQ(h.Count(), 1);
  EXPECT_FALSE(h.Database().InTransaction());

  // The next change gets a fresh row and the history goes on working.
  h.Database().Execute("DROP TRIGGER fail_newdata");
  auto& next = h.AddChange(htValue, haChange, HKCU, "\\K\\", "v", rdBinary, Bytes{1}, Bytes{2});
  EXPECT_EQ(rowCount(h), 2);
  EXPECT_EQ(next.TableIndex, 2u);
}

TEST_F(HistoryTest, LoadingNeverCopiesMoreThanTheBlobHolds) {
  TRegistryChangeHistory h(file, reg);
  auto& db = h.Database();
  db.Execute("INSERT INTO registry_history (timestamp,entrytype,action,rootkey,key,value,datatype,"
             "olddatasize,newdatasize,olddata,newdata) VALUES (0,1,2,-2147483647,'\\K\\','v',4,"
             "1000000,-5,x'010203',x'0405')");
  db.Execute("INSERT INTO registry_history (timestamp,entrytype,action,rootkey,key,value,datatype,"
             "olddatasize,newdatasize,olddata,newdata) VALUES (0,1,2,-2147483647,'\\K\\','w',4,"
             "2,NULL,x'010203',NULL)");
  h.LoadAll();
  ASSERT_EQ(h.Count(), 2);
  EXPECT_EQ(h.GetItem(0).FOldData, (Bytes{1, 2, 3}));
  EXPECT_TRUE(h.GetItem(0).FNewData.empty());
  EXPECT_EQ(h.GetItem(0).RootKey, HKCU);
  // A size smaller than the blob takes that many bytes.
  EXPECT_EQ(h.GetItem(1).FOldData, (Bytes{1, 2}));
}

TEST_F(HistoryTest, LoadAllOnAnEmptyTableAndQueriesWithTheTablePlaceholder) {
  TRegistryChangeHistory h(file, reg);
  h.LoadAll();
  EXPECT_EQ(h.Count(), 0);
  h.AddChange(htKey, haNew, HKCU, "\\A\\", "", rdNone, {}, {});
  h.AddChange(htKey, haNew, HKLM, "\\B\\", "", rdNone, {}, {});
  h.AddChange(htKey, haNew, HKLM, "\\C\\", "", rdNone, {}, {});

  TRegistryChangeHistory other(file, reg);
  other.LoadFromQuery("SELECT * FROM <$TABLENAME> WHERE rootkey = -2147483646");
  ASSERT_EQ(other.Count(), 2);
  EXPECT_EQ(other.GetItem(0).KeyPath, "\\B\\");
  // Loading appends; deleting a row leaves the item.
  other.LoadAll();
  EXPECT_EQ(other.Count(), 5);
  other.GetItem(0).DeleteFromDatabase();
  EXPECT_EQ(other.Count(), 5);
  EXPECT_EQ(rowCount(other), 2);
}

TEST_F(HistoryTest, RecordingFormsThePathAndSkipsWhatIsMissing) {
  TRegistryChangeHistory h(file, reg);
  const std::time_t before = std::time(nullptr);
  h.RecordKeyCreate(HKCU, "\\Software\\NoSlash");
  h.RecordValueDelete(HKCU, "\\Software\\Missing", "x");  // key does not open
  reg.set(HKCU, "\\Software\\K", "a", rdString, {'x', 0});
  h.RecordValueChange(HKCU, "\\Software\\K", "b", rdString, Bytes{});  // value missing
  EXPECT_EQ(h.Count(), 1);
  EXPECT_EQ(h.GetItem(0).KeyPath, "\\Software\\NoSlash\\");

  auto t = h.Database().Query("SELECT timestamp, key, rootkey, direction FROM registry_history");
  EXPECT_NEAR(static_cast<double>(t->CellInt64(0)), static_cast<double>(before), 5.0);
  EXPECT_EQ(t->CellText(1), "\\Software\\NoSlash\\");
  EXPECT_EQ(t->CellInt64(2), -2147483647);
  EXPECT_EQ(t->CellAsText(3), "");  // NULL for the 32-bit view
}

TEST_F(HistoryTest, ChangesInThe64BitViewAreUndoneThere) {
  reg.set(HKLM, "\\Software\\V", "n", rdString, {'6', '4', 0}, /*is64=*/true);
  {
    TRegistryChangeHistory h(file, reg);
    h.RecordValueDelete(HKLM, "\\Software\\V", "n", /*is64=*/true);
    ASSERT_EQ(h.Count(), 1);
  }
  reg.DeleteValue(HKLM, "\\Software\\V", "n", true);

  TRegistryChangeHistory h(file, reg);
  h.LoadAll();
  ASSERT_EQ(h.Count(), 1);
  EXPECT_EQ(h.GetItem(0).View, 1);
  EXPECT_TRUE(h.GetItem(0).Undo());
  EXPECT_EQ(reg.value(HKLM, "\\Software\\V", "n", false), nullptr);
  ASSERT_NE(reg.value(HKLM, "\\Software\\V", "n", true), nullptr);
  EXPECT_EQ(reg.value(HKLM, "\\Software\\V", "n", true)->data, (Bytes{'6', '4', 0}));
}

// A type number without a kind rides in the direction column beside the
// view; a row of the older form (NULL or the view alone) reads as before.
TEST_F(HistoryTest, ATypeNumberWithoutAKindIsKeptBesideTheView) {
  {
    TRegistryChangeHistory h(file, reg);
    h.AddChange(htValue, haDelete, HKLM, "\\K\\", "dev", rdUnknown, Bytes{1, 2}, {}, true, 0xffff0011u);
    h.AddChange(htValue, haDelete, HKLM, "\\K\\", "s", rdString, Bytes{'a', 0}, {}, true, 1u);
    h.Database().Execute("INSERT INTO registry_history (timestamp,direction,entrytype,action,rootkey,key,value,"
                         "datatype,olddatasize,newdatasize) VALUES (0,1,1,0,0,'\\K\\','old',0,0,0)");
  }
  TRegistryChangeHistory h(file, reg);
  h.LoadAll();
  ASSERT_EQ(h.Count(), 3);
  struct Case {
    const char* value;
    std::optional<std::uint32_t> regType;
  };
  const Case cases[] = {{"dev", 0xffff0011u}, {"s", std::nullopt}, {"old", std::nullopt}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(cases[i].value);
    EXPECT_EQ(h.GetItem(i).Value, cases[i].value);
    EXPECT_EQ(h.GetItem(i).View, 1);
    EXPECT_EQ(h.GetItem(i).RegType, cases[i].regType);
  }
  std::vector<std::string> lines;
  h.GetItem(0).GetUndoLines(lines);
  EXPECT_EQ(lines.at(1), "\"dev\"=hex(ffff0011):01,02");
}

TEST_F(HistoryTest, SortsByEachField) {
  TRegistryChangeHistory h(file, reg);
  auto add = [&](THistoryType t, THistoryAction a, platform::HKEY root, const char* path,
                 const char* value, TRegDataType kind, double time) {
    auto& c = h.AddChange(t, a, root, path, value, kind, {}, {});
    c.Timestamp = time;
  };
  add(htValue, haChange, HKLM, "\\b\\", "Zed", rdString, 45000.0);
  add(htKey, haNew, HKCU, "\\A\\", "", rdNone, 45000.5);
  add(htValue, haDelete, HKLM, "\\C\\", "alpha", rdBinary, 44999.0);

  auto order = [&] {
    std::vector<std::uint32_t> ids;
    for (int i = 0; i < h.Count(); ++i) ids.push_back(h.GetItem(i).TableIndex);
    return ids;
  };
  struct Case {
    const char* name;
    void (TRegistryChangeHistory::*sort)();
    std::vector<std::uint32_t> ids;
  };
  const Case cases[] = {
      {"index", &TRegistryChangeHistory::SortByIndex, {3, 2, 1}},
      {"time", &TRegistryChangeHistory::SortByTime, {2, 1, 3}},
      {"type", &TRegistryChangeHistory::SortByType, {2, 3, 1}},
      {"action", &TRegistryChangeHistory::SortByAction, {3, 2, 1}},
      {"root", &TRegistryChangeHistory::SortByRootKey, {2, 3, 1}},
      {"key path, case ignored", &TRegistryChangeHistory::SortByKeyPath, {2, 1, 3}},
      {"value, case ignored", &TRegistryChangeHistory::SortByValue, {2, 3, 1}},
      {"data type", &TRegistryChangeHistory::SortByDataType, {2, 1, 3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    h.SortByIndex();
    (h.*c.sort)();
    EXPECT_EQ(order(), c.ids);
  }
}

TEST_F(HistoryTest, FillsListItems) {
  TRegistryChangeHistory h(file, reg);
  auto& v = h.AddChange(htValue, haChange, HKCU, "\\Software\\x\\", "Count", rdInteger, dword(1), dword(2));
  v.Timestamp = 45292.5 + 1.0 / 86400;  // 2024-01-01 12:00:01
  auto& k = h.AddChange(htKey, haDelete, platform::HKEY_USERS, "\\S-1\\", "", rdNone, {}, {});
  (void)k;

  RecordingListItem item;
  h.FillListItem(item);
  EXPECT_EQ(item.caption, "1");
  EXPECT_EQ(item.subItems, (std::vector<std::string>{"2024-01-01 12:00:01", "Value", "Change", "HKCU",
                                                     "\\Software\\x\\", "Count", "REG_DWORD", "", ""}));

  // A key row leaves the value-name and type columns as they were.
  item.index = 1;
  h.FillListItem(item);
  EXPECT_EQ(item.caption, "2");
  EXPECT_EQ(item.subItems[1], "Key");
  EXPECT_EQ(item.subItems[2], "Delete");
  EXPECT_EQ(item.subItems[3], "HKUS");
  EXPECT_EQ(item.subItems[5], "Count");
  EXPECT_EQ(item.subItems[6], "REG_DWORD");

  RecordingListItem outside;
  for (int index : {-1, 2}) {
    outside.index = index;
    h.FillListItem(outside);
    EXPECT_TRUE(outside.subItems.empty());
  }
}

TEST_F(HistoryTest, DamagedOrForeignFilesGiveAClearError) {
  std::filesystem::create_directories(dir / "f");
  struct Case {
    const char* name;
    std::string file;
    std::string expected;  // part of the message
  };
  const std::string garbage = (dir / "f" / "garbage.sqlite").string();
  {
    std::ofstream out(garbage, std::ios::binary);
    out << std::string(8192, '\x5A');
  }
  const std::string foreign = (dir / "f" / "foreign.sqlite").string();
  {
    TSQLiteDatabase db(foreign);
    db.Execute("CREATE TABLE registry_history (id INTEGER, note TEXT)");
  }
  const std::string truncated = (dir / "f" / "truncated.sqlite").string();
  {
    TRegistryChangeHistory h(truncated, reg);
    for (int i = 0; i < 50; ++i)
      h.AddChange(htValue, haNew, HKCU, "\\K\\", "v" + std::to_string(i), rdBinary, {}, Bytes(200, 7));
  }
  std::filesystem::resize_file(truncated, 4096 + 100);

  const Case cases[] = {
      {"not a database", garbage, "file is not a database"},
      {"foreign table", foreign, "has no column timestamp"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      TRegistryChangeHistory h(c.file, reg);
      ADD_FAILURE() << "opened";
    } catch (const ESQLiteException& e) {
      const std::string msg = e.what();
      EXPECT_EQ(msg.rfind("Failed to open database \"" + c.file + "\" : ", 0), 0u) << msg;
      EXPECT_NE(msg.find(c.expected), std::string::npos) << msg;
    }
  }
  // A cut-off file may open; reading it then fails with SQLite's message.
  try {
    TRegistryChangeHistory h(truncated, reg);
    h.LoadAll();
  } catch (const ESQLiteException&) {
  }

  const std::string blocked = (dir / "f" / "garbage.sqlite" / "sub" / "history.sqlite").string();
  try {
    TRegistryChangeHistory h(blocked, reg);
    ADD_FAILURE() << "opened";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Unable to create directory");
  }
}

}  // namespace

namespace {

TEST_F(HistoryTest, ANewDatabaseIsTheUsersAloneAnExistingOneKeepsItsMode) {
  testsupport::ScopedUmask umask(022);
  {
    TRegistryChangeHistory h(file, reg);
    reg.set(HKCU, "\\Software\\Secret", "Password", rdString, {'p', 0});
    h.RecordValueCreate(HKCU, "\\Software\\Secret", "Password", rdString);
  }
  EXPECT_EQ(testsupport::permissionBits(dir / "Brantwell"), 0700u);
  EXPECT_EQ(testsupport::permissionBits(dir / "Brantwell" / "Hivescope"), 0700u);
  EXPECT_EQ(testsupport::permissionBits(file), 0600u);

  std::filesystem::permissions(file, std::filesystem::perms(0640), std::filesystem::perm_options::replace);
  { TRegistryChangeHistory again(file, reg); }
  EXPECT_EQ(testsupport::permissionBits(file), 0640u);
}

}  // namespace
