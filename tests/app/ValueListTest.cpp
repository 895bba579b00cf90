// The value list of the main window on the registry store: what a key shows,
// the merge with the native names, the hex dump of a clicked value, the key
// monitor's refills, the hint and the selection by name.

#include <QApplication>
#include <QDir>
#include <QTreeView>

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "app/FormUnitMain.h"
#include "app/KeyLister.h"
#include "app/NativeNames.h"
#include "platform/Kernel.h"
#include "platform/NtRegistry.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "platform/Security.h"
#include "tests/app/QtPrinters.h"
#include "tests/support/Privileges.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"
#include "tests/support/Waiting.h"
#include "tests/app/Screenshot.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* kChildEnv = "HS_VALUELIST_CHILD_KEY";

QString nul() { return QString(QChar(u'\0')); }


// Processes events until `done` holds or `limit` passes; the result of `done`.
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = testsupport::kPatience) {
  return testsupport::waitUntil(
      [&] {
        QApplication::processEvents();
        return done();
      },
      limit);
}

struct Shown {
  QString name, type, value, size;
};

class ValueList : public ::testing::Test {
protected:
  void SetUp() override {
    platform::registry::shutdownForTests();
    platform::setWow64ForTests(true);
  }
  void TearDown() override {
    if (form) form->close();
    form.reset();
    platform::registry::shutdownForTests();
  }
  void showForm() {
    form = std::make_unique<TformMain>();
    form->setKeyLister(&lister);
    form->resize(900, 600);
    form->show();
    QApplication::processEvents();
  }
  // The key `path` (no leading "\") under HKEY_CURRENT_USER, made and left
  // open for writing values.
  platform::HKEY makeKey(const char* path, platform::HKEY root = platform::HKEY_CURRENT_USER,
                         platform::REGSAM view = 0) {
    platform::HKEY key{};
    EXPECT_EQ(platform::RegCreateKeyExA(root, path, 0, nullptr, 0, platform::KEY_ALL_ACCESS | view, nullptr, &key,
                                        nullptr),
              platform::ERROR_SUCCESS);
    keys.push_back(key);
    return key;
  }
  static void setValue(platform::HKEY key, const char* name, platform::DWORD type, const void* data,
                       platform::DWORD size) {
    ASSERT_EQ(platform::RegSetValueExA(key, name, 0, type, static_cast<const platform::BYTE*>(data), size),
              platform::ERROR_SUCCESS);
  }
  static void setDword(platform::HKEY key, const char* name, platform::DWORD value) {
    setValue(key, name, platform::REG_DWORD, &value, 4);
  }
  void closeKeys() {
    for (auto k : keys) platform::RegCloseKey(k);
    keys.clear();
  }
  std::vector<Shown> rows() const {
    std::vector<Shown> out;
    const ValueListModel* m = form->valueModel();
    for (int i = 0; i < m->count(); ++i) {
      const auto& r = m->item(i);
      out.push_back({r.Caption, r.SubItems[0], r.SubItems[1], r.SubItems[2]});
    }
    return out;
  }
  int rowNamed(const QString& caption) const {
    for (int i = 0; i < form->valueModel()->count(); ++i)
      if (form->valueModel()->item(i).Caption == caption) return i;
    return -1;
  }
  void click(int row) {
    const QModelIndex index = form->valueModel()->index(row, 0);
    form->lvData->selectionModel()->setCurrentIndex(index,
                                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    form->lvDataClick();
  }
  void show(platform::HKEY root, const QString& keyPath, TRegistryView view = rvDefault) {
    form->FillValueList(root, keyPath, view);
  }

  testsupport::TempRegistry registry;
  RegistryKeyLister lister;
  std::unique_ptr<TformMain> form;
  std::vector<platform::HKEY> keys;
};

TEST_F(ValueList, AnEmptyKeyShowsOnlyThePlaceholderRow) {
  makeKey("Software\\Empty");
  closeKeys();
  showForm();
  show(platform::HKEY_CURRENT_USER, QStringLiteral("\\Software\\Empty"));
  ASSERT_EQ(form->valueModel()->count(), 1);
  const TRegistryValueListItem& r = form->valueModel()->item(0);
  EXPECT_EQ(r.Caption, QStringLiteral("(Default)"));
  EXPECT_EQ(r.SubItems[0], QStringLiteral("REG_SZ"));
  EXPECT_EQ(r.SubItems[1], QStringLiteral("(Data not defined)"));
  EXPECT_EQ(r.SubItems[2], QStringLiteral("0"));
  EXPECT_EQ(r.ImageIndex, 3);
  EXPECT_EQ(r.StateIndex, 1);
  EXPECT_EQ(r.ValueName, QString());
  EXPECT_EQ(r.DataInfo.RegData, rdString);
  EXPECT_EQ(r.DataInfo.DataSize, 0u);
  EXPECT_EQ(r.KeyPath, QStringLiteral("\\Software\\Empty"));

  // A key that does not open shows nothing at all.
  show(platform::HKEY_CURRENT_USER, QStringLiteral("\\Software\\Missing"));
  EXPECT_EQ(form->valueModel()->count(), 0);
}

TEST_F(ValueList, ValuesShowSortedWithTypeTextAndSizeAndTheDefaultValueInsteadOfThePlaceholder) {
  platform::HKEY key = makeKey("Software\\Filled");
  setDword(key, "beta", 42);
  const char text[] = "hello";
  setValue(key, "Alpha", platform::REG_SZ, text, sizeof text);
  const std::uint8_t bytes[] = {0xDE, 0xAD, 0x01};
  setValue(key, "gamma", platform::REG_BINARY, bytes, sizeof bytes);
  setValue(key, "", platform::REG_SZ, text, sizeof text);
  closeKeys();
  showForm();
  show(platform::HKEY_CURRENT_USER, QStringLiteral("\\Software\\Filled"));
  const std::vector<Shown> got = rows();
  const std::vector<Shown> want = {
      {"(Default)", "REG_SZ", "hello", "6"},
      {"Alpha", "REG_SZ", "hello", "6"},
      {"beta", "REG_DWORD", "0x0000002A (42)", "4"},
      {"gamma", "REG_BINARY", "DE AD 01 ", "3"},
  };
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(want[i].name.toStdString());
    EXPECT_EQ(got[i].name, want[i].name);
    EXPECT_EQ(got[i].type, want[i].type);
    EXPECT_EQ(got[i].value, want[i].value);
    EXPECT_EQ(got[i].size, want[i].size);
  }
  EXPECT_EQ(form->valueModel()->item(0).StateIndex, 1);
  EXPECT_EQ(form->valueModel()->item(1).StateIndex, -1);
  EXPECT_EQ(form->valueModel()->item(2).ImageIndex, 4);
  EXPECT_EQ(form->valueModel()->item(2).ValueName, QStringLiteral("beta"));
  EXPECT_EQ(form->valueModel()->data(form->valueModel()->index(2, 0), kValueKindRole).toInt(), rdInteger);
}

TEST_F(ValueList, ANameWithANulIsReadNativelyAndReplacesItsCutForm) {
  // Only the native calls can store such a name.
  makeKey("Software\\Nul");
  closeKeys();
  {
    TNtRegistry nt;
    nt.FRootKey = platform::HKEY_CURRENT_USER;
    ASSERT_TRUE(nt.OpenKey(u"\\Software\\Nul"));
    const std::uint8_t data[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    ASSERT_TRUE(nt.WriteData(std::u16string(u"a\0b", 3), platform::REG_BINARY, data));
    const std::uint32_t one = 1;
    ASSERT_TRUE(nt.WriteData(u"plain", platform::REG_DWORD,
                             std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(&one), 4)));
  }
  showForm();
  form->JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Nul"));
  const std::vector<Shown> got = rows();
  ASSERT_EQ(got.size(), 3u);  // placeholder, plain, a<0x00>b; no cut "a"
  EXPECT_EQ(got[0].name, QStringLiteral("(Default)"));
  EXPECT_EQ(got[1].name, QStringLiteral("plain"));
  EXPECT_EQ(got[2].name, QStringLiteral("a<0x00>b"));
  EXPECT_EQ(got[2].type, QStringLiteral("REG_BINARY"));
  EXPECT_EQ(got[2].value, QStringLiteral("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 "));
  EXPECT_EQ(got[2].size, QStringLiteral("16"));
  EXPECT_EQ(form->valueModel()->item(2).ValueName, QStringLiteral("a") + nul() + QStringLiteral("b"));

  // Its bytes reach the hex dump the same way.
  click(2);
  EXPECT_TRUE(form->lvHexDump->isVisibleTo(form.get()));
  EXPECT_EQ(form->lvHexDump->DataSize(), 16u);
  EXPECT_EQ(form->FValueData.size(), 16u);
  EXPECT_EQ(form->lvHexDump->OwnerDataFetch(0).dump, QStringLiteral("01020304 05060708 090A0B0C 0D0E0F10"));
}

TEST_F(ValueList, ClickingABinaryValueShowsItsBytesAndADwordHidesTheDump) {
  platform::HKEY key = makeKey("Software\\Dump");
  std::uint8_t bytes[16];
  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<std::uint8_t>(0x41 + i);
  setValue(key, "bin", platform::REG_BINARY, bytes, sizeof bytes);
  setDword(key, "dword", 7);
  const char text[] = "AB";
  setValue(key, "str", platform::REG_SZ, text, sizeof text);
  closeKeys();
  showForm();
  form->JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Dump"));
  ASSERT_EQ(form->valueModel()->count(), 4);

  click(rowNamed("bin"));
  EXPECT_TRUE(form->lvHexDump->isVisibleTo(form.get()));
  EXPECT_EQ(form->lvHexDump->DataSize(), 16u);
  EXPECT_EQ(form->FValueData, std::vector<std::uint8_t>(bytes, bytes + 16));
  const HexRow first = form->lvHexDump->OwnerDataFetch(0);
  EXPECT_EQ(first.pos, QStringLiteral("00000000"));
  EXPECT_EQ(first.dump, QStringLiteral("41424344 45464748 494A4B4C 4D4E4F50"));
  EXPECT_EQ(first.text, QStringLiteral("ABCDEFGHIJKLMNOP"));
  // Past the end the owner answers zeros.
  std::vector<std::uint8_t> tail;
  form->lvHexDumpGetBinaryData(14, 4, tail);
  EXPECT_EQ(tail, (std::vector<std::uint8_t>{0x4F, 0x50, 0, 0}));

  saveScreenshot(*form, "valuelist-hexdump");

  click(rowNamed("dword"));
  EXPECT_FALSE(form->lvHexDump->isVisibleTo(form.get()));
  EXPECT_EQ(form->lvHexDump->DataSize(), 0u);
  EXPECT_TRUE(form->FValueData.empty());

  // A string as stored: "AB" and its NUL in UTF-16.
  click(rowNamed("str"));
  EXPECT_TRUE(form->lvHexDump->isVisibleTo(form.get()));
  EXPECT_EQ(form->lvHexDump->DataSize(), 6u);
  EXPECT_EQ(form->FValueData, (std::vector<std::uint8_t>{'A', 0, 'B', 0, 0, 0}));

  // No row selected: hidden again.
  form->lvData->clearSelection();
  form->lvDataClick();
  EXPECT_FALSE(form->lvHexDump->isVisibleTo(form.get()));
}

TEST_F(ValueList, TheThirtyTwoBitViewListsNoNativeNamesOfTheSixtyFourBitKey) {
  // The same key in each view, different values; the native interface knows
  // no views and reaches the 64-bit key only.
  platform::HKEY k64 = makeKey("SOFTWARE\\Split", platform::HKEY_LOCAL_MACHINE, platform::KEY_WOW64_64KEY);
  platform::HKEY k32 = makeKey("SOFTWARE\\Split", platform::HKEY_LOCAL_MACHINE, platform::KEY_WOW64_32KEY);
  setDword(k64, "only64", 1);
  setDword(k32, "only32", 2);
  closeKeys();
  showForm();
  show(platform::HKEY_LOCAL_MACHINE, QStringLiteral("\\SOFTWARE\\Split"), rv32Bit);
  EXPECT_GE(rowNamed("only32"), 0);
  EXPECT_EQ(rowNamed("only64"), -1);
  show(platform::HKEY_LOCAL_MACHINE, QStringLiteral("\\SOFTWARE\\Split"), rv64Bit);
  EXPECT_GE(rowNamed("only64"), 0);
  EXPECT_EQ(rowNamed("only32"), -1);
}

// The crafted hive with a key and a value whose names hold a NUL, mounted
// under HKEY_LOCAL_MACHINE and browsed from the tree. With
// HIVESCOPE_SCREENSHOT_DIR set, the window is saved there to look at.
TEST_F(ValueList, SpecialHiveShowsTheValueWithANulUnderTheKeyWithANul) {
  HS_TESTDATA_OR_SKIP(source, testsupport::testdataFile("hives/crafted/special"));
  testsupport::TempDir dir;
  const fs::path hive = dir / "special";
  fs::copy_file(source, hive);
  fs::permissions(hive, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
  ASSERT_TRUE(testsupport::setRestorePrivilege());
  ASSERT_EQ(platform::RegLoadKeyA(platform::HKEY_LOCAL_MACHINE, "SPECIAL", hive.c_str()), platform::ERROR_SUCCESS);

  showForm();
  KeyNode* hklm = FindChildNode(form->FMyComputerNode, QStringLiteral("HKEY_LOCAL_MACHINE"), false);
  ASSERT_NE(hklm, nullptr);
  form->tvKeysExpanding(hklm);
  KeyNode* mounted = FindChildNode(hklm, QStringLiteral("SPECIAL"), false);
  ASSERT_NE(mounted, nullptr);
  form->tvKeysExpanding(mounted);
  KeyNode* zero = FindChildNode(mounted, QStringLiteral("zero<0x00>key"), true);
  ASSERT_NE(zero, nullptr) << "children: " << [&] {
    QStringList t;
    for (int i = 0; i < mounted->count(); ++i) t << mounted->child(i)->text;
    return t.join(u',').toStdString();
  }();
  EXPECT_EQ(zero->name(), QStringLiteral("zero") + nul() + QStringLiteral("key"));
  // The cut name "zero" stands for no key of its own.
  EXPECT_EQ(FindChildNode(mounted, QStringLiteral("zero"), true), nullptr);

  form->tvKeys->expand(form->keyModel()->indexOf(mounted));
  form->selectNode(zero);
  form->tvKeysClick();
  const int row = rowNamed(QStringLiteral("zero<0x00>val"));
  ASSERT_GE(row, 0);
  const TRegistryValueListItem& item = form->valueModel()->item(row);
  EXPECT_EQ(item.SubItems[0], QStringLiteral("REG_DWORD"));
  EXPECT_EQ(item.SubItems[1], QStringLiteral("0x00000000 (0)"));
  EXPECT_EQ(item.SubItems[2], QStringLiteral("4"));
  EXPECT_EQ(item.ValueName, QStringLiteral("zero") + nul() + QStringLiteral("val"));
  EXPECT_EQ(form->monitor(), nullptr);  // no 8-bit watch of a path the 8-bit calls cut
  click(row);
  EXPECT_FALSE(form->lvHexDump->isVisibleTo(form.get()));
  QApplication::processEvents();

  saveScreenshot(*form, "valuelist-special-hive");
  form->close();
  form.reset();
  EXPECT_EQ(platform::RegUnLoadKeyA(platform::HKEY_LOCAL_MACHINE, "SPECIAL"), platform::ERROR_SUCCESS);
}

TEST_F(ValueList, TheMonitorRefillsTheShownKeyUnlessAnEditorIsOpen) {
  platform::HKEY key = makeKey("Software\\Watched");
  makeKey("Software\\Other");
  closeKeys();
  showForm();
  form->JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Watched"));
  ASSERT_NE(form->monitor(), nullptr);
  ASSERT_TRUE(pumpUntil([&] { return form->monitor()->Watching(); }));

  key = makeKey("Software\\Watched");
  setDword(key, "first", 1);
  EXPECT_TRUE(pumpUntil([&] { return rowNamed("first") >= 0; }));

  // While an editor is open the report is dropped...
  form->SetValueEditorOpen(true);
  setDword(key, "second", 2);
  pumpUntil([] { return false; }, 300ms);
  EXPECT_EQ(rowNamed("second"), -1);
  // ...and the change the edit made arrives with the next report.
  form->SetValueEditorOpen(false);
  setDword(key, "third", 3);
  EXPECT_TRUE(pumpUntil([&] { return rowNamed("third") >= 0; }));
  EXPECT_GE(rowNamed("second"), 0);

  // A report for a key no longer shown does nothing.
  form->JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Other"));
  const int before = form->valueModel()->count();
  form->MonitorChange(platform::HKEY_CURRENT_USER, "Software\\Watched");
  EXPECT_EQ(form->valueModel()->count(), before);
  EXPECT_EQ(form->monitor()->FKeyPath, "Software\\Other");
  closeKeys();
}

TEST_F(ValueList, AValueSetByAnotherProcessAppearsWithoutAClick) {
  makeKey("Software\\Shared\\Watch");
  closeKeys();
  ASSERT_EQ(platform::registry::flushAll(), platform::ERROR_SUCCESS);
  showForm();
  form->JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Shared\\Watch"));
  ASSERT_NE(form->monitor(), nullptr);
  ASSERT_TRUE(pumpUntil([&] { return form->monitor()->Watching(); }));
  ASSERT_EQ(rowNamed("fromChild"), -1);

  // This test binary again, running only the child's test below.
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env.push_back(std::string(kChildEnv) + "=Software\\Shared\\Watch");
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string exe = fs::read_symlink("/proc/self/exe").string();
  std::string filter = "--gtest_filter=ValueListChildProcess.SetsTheValueItIsAskedTo";
  char* argv[] = {exe.data(), filter.data(), nullptr};
  pid_t child = 0;
  ASSERT_EQ(::posix_spawn(&child, exe.c_str(), nullptr, nullptr, argv, envp.data()), 0);
  int status = 0;
  ASSERT_TRUE(pumpUntil([&] { return ::waitpid(child, &status, WNOHANG) == child; }));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;

  ASSERT_TRUE(pumpUntil([&] { return rowNamed("fromChild") >= 0; }));
  EXPECT_EQ(form->valueModel()->item(rowNamed("fromChild")).SubItems[1], QStringLiteral("0x0000002A (42)"));
}

// The other process of the test above; does nothing when run on its own.
TEST(ValueListChildProcess, SetsTheValueItIsAskedTo) {
  const char* key = std::getenv(kChildEnv);
  if (!key) GTEST_SKIP() << "runs only as the child of ValueList.AValueSetByAnotherProcessAppearsWithoutAClick";
  platform::HKEY k;
  ASSERT_EQ(platform::RegOpenKeyExA(platform::HKEY_CURRENT_USER, key, 0, platform::KEY_SET_VALUE, &k),
            platform::ERROR_SUCCESS);
  const platform::DWORD value = 42;
  EXPECT_EQ(platform::RegSetValueExA(k, "fromChild", 0, platform::REG_DWORD,
                                     reinterpret_cast<const platform::BYTE*>(&value), 4),
            platform::ERROR_SUCCESS);
  EXPECT_EQ(platform::RegFlushKey(k), platform::ERROR_SUCCESS);
  platform::RegCloseKey(k);
  platform::registry::shutdownForTests();
}

TEST_F(ValueList, SelectValueByNamePicksTheLastMatchIgnoringAsciiCase) {
  showForm();
  std::vector<TRegistryValueListItem> items(4);
  const char* captions[] = {"Path", "PATH", "other", "\xC3\xA9t\xC3\xA9"};
  for (int i = 0; i < 4; ++i) items[static_cast<std::size_t>(i)].Caption = QString::fromUtf8(captions[i]);
  form->valueModel()->setRows(std::move(items));
  struct Case {
    const char* name;
    int row;
  } cases[] = {{"path", 1}, {"OTHER", 2}, {"\xC3\xA9t\xC3\xA9", 3}, {"\xC3\x89T\xC3\x89", -1}, {"none", -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    form->lvData->clearSelection();
    form->lvData->setCurrentIndex({});
    form->SelectValueByName(QString::fromUtf8(c.name));
    EXPECT_EQ(form->selectedValueRow(), c.row);
  }
}

TEST_F(ValueList, HintAndMarkColourOfARow) {
  showForm();
  TRegistryValueListItem plain;
  plain.Caption = QStringLiteral("Name1");
  plain.SubItems = {QStringLiteral("REG_SZ"), QStringLiteral("text"), QStringLiteral("5"), QString()};
  TRegistryValueListItem marked = plain;
  marked.DiffMark = u'C';
  marked.MarkColor = 0x0000FF;  // red as a Windows colour
  marked.SubItems[3] = QStringLiteral("old");
  form->valueModel()->setRows({plain, marked});
  QApplication::processEvents();

  const QRect first = form->lvData->visualRect(form->valueModel()->index(0, 0));
  form->lvDataMouseMove(first.center());
  EXPECT_EQ(form->lvData->viewport()->toolTip(), QStringLiteral("Name: Name1\nType: REG_SZ\nValue: text\nSize: 5"));
  const QRect second = form->lvData->visualRect(form->valueModel()->index(1, 0));
  form->lvDataMouseMove(second.center());
  EXPECT_EQ(form->lvData->viewport()->toolTip(),
            QStringLiteral("Name: Name1\nType: REG_SZ\nValue: text\nSize: 5\n\nData is different in registry.\nValue: old"));
  form->lvDataMouseMove(QPoint(5, form->lvData->viewport()->height() - 2));
  EXPECT_EQ(form->lvData->viewport()->toolTip(), QString());

  EXPECT_FALSE(form->valueModel()->data(form->valueModel()->index(0, 1), Qt::BackgroundRole).isValid());
  EXPECT_EQ(form->valueModel()->data(form->valueModel()->index(1, 1), Qt::BackgroundRole).value<QColor>(),
            QColor(255, 0, 0));
}

TEST(MergeNativeNames, KeepsOrdinaryNamesAndAppendsWhatOnlyTheNativeSideSees) {
  const QString aNulB = QStringLiteral("a") + nul() + QStringLiteral("b");
  const QString zNul = QStringLiteral("z") + nul();
  struct Case {
    const char* name;
    QStringList ordinary, native;
    bool appendRest;
    QStringList want;
  } cases[] = {
      {"same names, case ignored", {"Alpha", "beta"}, {"ALPHA", "beta"}, true, {"Alpha", "beta"}},
      {"cut name replaced", {"a", "c"}, {"c", aNulB}, true, {"c", aNulB}},
      {"a real name and a cut one", {"a", "a"}, {"a", aNulB}, true, {"a", aNulB}},
      {"native only appended", {"x"}, {"x", "y"}, true, {"x", "y"}},
      {"native only kept out", {"x"}, {"x", "y"}, false, {"x"}},
      {"NUL name without its cut form", {"x"}, {"x", zNul}, true, {"x", zNul}},
      {"NUL name without its cut form, not appended", {"x"}, {"x", zNul}, false, {"x"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MergeNativeNames(c.ordinary, c.native, c.appendRest), c.want);
  }
}

}  // namespace
