#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QTreeView>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "app/FormUnitMain.h"
#include "app/UiSeams.h"
#include "tests/app/FakeKeyLister.h"
#include "tests/app/QtPrinters.h"
#include "tests/support/TempDir.h"

namespace {

constexpr platform::HKEY kClassesRoot = platform::HKEY_CLASSES_ROOT;
constexpr platform::HKEY kCurrentUser = platform::HKEY_CURRENT_USER;
constexpr platform::HKEY kLocalMachine = platform::HKEY_LOCAL_MACHINE;

QStringList childTexts(const KeyNode* node) {
  QStringList out;
  for (int i = 0; i < node->count(); ++i) out << node->child(i)->text;
  return out;
}

// A window over a small registry, shown (which builds the tree).
class MainWindow : public ::testing::Test {
protected:
  void SetUp() override {
    reg.add(kLocalMachine, "SOFTWARE\\Classes\\CLSID");
    reg.add(kLocalMachine, "SOFTWARE\\Microsoft\\Windows", true, true, 133000000000000000ULL);
    reg.add(kLocalMachine, "SOFTWARE\\Zeta");
    reg.add(kLocalMachine, "SOFTWARE\\Wow6432Node\\Microsoft");
    reg.add(kLocalMachine, "SOFTWARE\\Classes\\Wow6432Node");
    reg.add(kLocalMachine, "SOFTWARE\\Only32", true, false);
    reg.add(kLocalMachine, "SYSTEM\\Select");
    reg.add(kLocalMachine, "HARDWARE");
    reg.add(kCurrentUser, "Software\\Vendor");
    reg.add(kCurrentUser, "Console");
    reg.add(kCurrentUser, QStringLiteral("Odd") + QChar(u'\0') + QStringLiteral("Name"));
    reg.add(kCurrentUser, QString(QChar(u'\0')));
    reg.add(kClassesRoot, "CLSID\\{0000-1111}");
    form.setKeyLister(&reg);
    form.show();
    QApplication::processEvents();
  }
  void TearDown() override {
    setPrompter(nullptr);
    form.close();
  }
  KeyNode* root(const char* name) {
    return FindChildNode(form.FMyComputerNode, QString::fromLatin1(name), false);
  }
  KeyNode* expanded(KeyNode* node) {
    form.tvKeysExpanding(node);
    return node;
  }
  QString selectedPath() {
    KeyNode* n = form.selectedNode();
    return n ? form.GetNodeLocation(n).displayPath : QString();
  }

  // The tree comes from the fake; the value list reads the registry itself,
  // so it reads a fresh one, never the user's.
  testsupport::TempRegistry registry;
  FakeKeyLister reg;
  TformMain form;
};

TEST_F(MainWindow, TreeShowsMyComputerAndTheSevenRootsInOrder) {
  KeyTreeModel* model = form.keyModel();
  ASSERT_EQ(model->root()->count(), 1);
  KeyNode* top = model->root()->child(0);
  EXPECT_EQ(top, form.FMyComputerNode);
  EXPECT_EQ(top->text, QStringLiteral("My Computer"));
  EXPECT_EQ(top->imageIndex, 0);
  EXPECT_EQ(childTexts(top), QStringList({"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS",
                                          "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"}));
  for (int i = 0; i < top->count(); ++i) {
    EXPECT_EQ(top->child(i)->imageIndex, 1);
    EXPECT_EQ(top->child(i)->selectedIndex, 2);
    EXPECT_TRUE(top->child(i)->hasChildren);
  }
  EXPECT_TRUE(form.tvKeys->isExpanded(model->indexOf(top)));
  EXPECT_EQ(form.Msg(0), QStringLiteral("My Computer"));
}

TEST_F(MainWindow, LocalMachineShowsSoftwareTwiceAndNeverWow6432Node) {
  KeyNode* hklm = expanded(root("HKEY_LOCAL_MACHINE"));
  EXPECT_EQ(childTexts(hklm), QStringList({"HARDWARE", "SOFTWARE", "SOFTWARE", "SYSTEM"}));
  KeyNode* sw64 = hklm->child(1);
  KeyNode* sw32 = hklm->child(2);
  EXPECT_EQ(sw64->imageIndex, 17);
  EXPECT_EQ(sw64->selectedIndex, 18);
  EXPECT_EQ(sw32->imageIndex, 15);
  EXPECT_EQ(sw32->selectedIndex, 16);
  EXPECT_EQ(form.GetNodeLocation(sw64).view, rv64Bit);
  EXPECT_EQ(form.GetNodeLocation(sw32).view, rv32Bit);
  EXPECT_TRUE(sw32->hasChildren);

  expanded(sw64);
  EXPECT_EQ(childTexts(sw64), QStringList({"Classes", "Microsoft", "Zeta"}));
  expanded(sw32);
  EXPECT_EQ(childTexts(sw32), QStringList({"Classes", "Microsoft", "Only32", "Zeta"}));
  // Keys below each twin inherit its images and so its view.
  EXPECT_EQ(sw64->child(0)->imageIndex, 17);
  EXPECT_EQ(sw32->child(0)->imageIndex, 15);
  KeyNode* classes = expanded(sw64->child(0));
  EXPECT_EQ(childTexts(classes), QStringList({"CLSID"}));
  EXPECT_EQ(form.GetNodeLocation(classes->child(0)).view, rv64Bit);
}

TEST_F(MainWindow, WithoutWow64SoftwareAppearsOnceAndOtherCaseGetsNoTwin) {
  reg.wow64 = false;
  KeyNode* hklm = expanded(root("HKEY_LOCAL_MACHINE"));
  EXPECT_EQ(childTexts(hklm), QStringList({"HARDWARE", "SOFTWARE", "SYSTEM"}));
  EXPECT_EQ(hklm->child(1)->imageIndex, 1);
  expanded(hklm->child(1));
  EXPECT_FALSE(childTexts(hklm->child(1)).contains("Wow6432Node"));
  reg.wow64 = true;
  KeyNode* hkcu = expanded(root("HKEY_CURRENT_USER"));
  EXPECT_EQ(hkcu->count(), 3);  // Console, Odd<0x00>Name, Software; the single-NUL key has no node
  EXPECT_EQ(hkcu->child(2)->text, QStringLiteral("Software"));
  EXPECT_EQ(hkcu->child(2)->imageIndex, 1);
}

TEST_F(MainWindow, NulNamesShowTheMarkerAndKeepTheirRawName) {
  KeyNode* hkcu = expanded(root("HKEY_CURRENT_USER"));
  KeyNode* odd = FindChildNode(hkcu, QStringLiteral("Odd<0x00>Name"), false);
  ASSERT_NE(odd, nullptr);
  const QString raw = QStringLiteral("Odd") + QChar(u'\0') + QStringLiteral("Name");
  EXPECT_EQ(odd->data->Name, raw);
  const NodeLocation loc = form.GetNodeLocation(odd);
  EXPECT_EQ(loc.keyPath, QStringLiteral("\\") + raw);
  EXPECT_EQ(loc.root, kCurrentUser);
  form.selectNode(odd);
  form.tvKeysClick();
  form.tvKeysClick();
  EXPECT_EQ(form.statusText(0), QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Odd<0x00>Name"));
  EXPECT_EQ(form.cbAddress->findText(QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Odd<0x00>Name")), 0);
  EXPECT_EQ(form.cbAddress->count(), 1);
  EXPECT_EQ(form.AddKeyNode(hkcu, QString(QChar(u'\0')), rvDefault), nullptr);
  EXPECT_EQ(form.AddKeyNode(hkcu, QString(), rvDefault), nullptr);
}

TEST_F(MainWindow, NodeLocationGivesRootKeyPathAndDisplayPath) {
  KeyNode* hklm = expanded(root("HKEY_LOCAL_MACHINE"));
  KeyNode* system = expanded(hklm->child(3));
  struct Case {
    const KeyNode* node;
    platform::HKEY root;
    const char* keyPath;
    const char* display;
  } cases[] = {
      {form.FMyComputerNode, kLocalMachine, "", "My Computer"},
      {hklm, kLocalMachine, "", "My Computer\\HKEY_LOCAL_MACHINE"},
      {system, kLocalMachine, "\\SYSTEM", "My Computer\\HKEY_LOCAL_MACHINE\\SYSTEM"},
      {system->child(0), kLocalMachine, "\\SYSTEM\\Select", "My Computer\\HKEY_LOCAL_MACHINE\\SYSTEM\\Select"},
      {root("HKEY_CLASSES_ROOT"), kClassesRoot, "", "My Computer\\HKEY_CLASSES_ROOT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.display);
    const NodeLocation loc = form.GetNodeLocation(c.node);
    EXPECT_EQ(loc.root, c.root);
    EXPECT_EQ(loc.keyPath, QString::fromLatin1(c.keyPath));
    EXPECT_EQ(loc.displayPath, QString::fromLatin1(c.display));
  }
}

TEST_F(MainWindow, JumpToPathFormsSelectTheSameNode) {
  const char* forms[] = {
      "My Computer\\HKEY_CURRENT_USER\\Software",
      "HKEY_CURRENT_USER\\Software\\",
      "HKEY_CURRENT_USER\\software",
      "HKEY_CURRENT_USER \\ Software",
      "HKEY_CURRENT_USER\\ Software",
  };
  KeyNode* first = nullptr;
  for (const char* path : forms) {
    SCOPED_TRACE(path);
    form.tvKeys->clearSelection();
    form.JumpToPath(QString::fromLatin1(path));
    ASSERT_NE(form.selectedNode(), nullptr);
    if (!first) first = form.selectedNode();
    EXPECT_EQ(form.selectedNode(), first);
  }
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Software"));
  EXPECT_EQ(root("HKEY_CURRENT_USER")->count(), 3);
  EXPECT_EQ(form.cbAddress->count(), 1);
  EXPECT_EQ(form.statusText(0), QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Software"));
}

TEST_F(MainWindow, JumpExpandsEachLevelAndAddsNoDuplicates) {
  form.JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Zeta"));
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Zeta"));
  KeyNode* hklm = root("HKEY_LOCAL_MACHINE");
  KeyNode* software = form.selectedNode()->parent;
  // Zeta is the last child in sort order: found again, never added twice.
  form.JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Zeta"));
  form.JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Zeta\\"));
  EXPECT_EQ(childTexts(software).count("Zeta"), 1);
  EXPECT_EQ(childTexts(hklm), QStringList({"HARDWARE", "SOFTWARE", "SOFTWARE", "SYSTEM"}));

  // A key made after its parent was read is added where the sort puts it, and
  // a second jump finds it.
  reg.add(kLocalMachine, "SOFTWARE\\Alpha");
  form.JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Alpha"));
  form.JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Alpha"));
  EXPECT_EQ(childTexts(software).count("Alpha"), 1);
  EXPECT_EQ(software->child(0)->text, QStringLiteral("Alpha"));
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Alpha"));
  EXPECT_EQ(form.cbAddress->count(), 2);
}

TEST_F(MainWindow, JumpToMissingKeyOrShortRootKeepsTheSelection) {
  form.JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Console"));
  KeyNode* before = form.selectedNode();
  ASSERT_NE(before, nullptr);
  const char* paths[] = {"HKEY_CURRENT_USER\\NoSuchKey", "HKLM\\SOFTWARE", "HKEY_NOTHING\\x", "", "\\"};
  for (const char* path : paths) {
    SCOPED_TRACE(path);
    form.JumpToPath(QString::fromLatin1(path));
    EXPECT_EQ(form.selectedNode(), before);
  }
  // A root alone needs no existing key.
  form.JumpToPath(QStringLiteral("HKEY_USERS"));
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_USERS"));
}

TEST_F(MainWindow, AddressBoxJumpsAndKeepsOneItemPerPath) {
  form.JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\Select"));
  form.JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Console"));
  ASSERT_EQ(form.cbAddress->count(), 2);
  form.cbAddress->setCurrentIndex(0);
  form.cbAddressSelect();
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_LOCAL_MACHINE\\SYSTEM\\Select"));
  EXPECT_EQ(form.cbAddress->count(), 2);

  form.cbAddress->setEditText(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor"));
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
  QApplication::sendEvent(form.cbAddress->lineEdit(), &enter);
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Software\\Vendor"));
  EXPECT_EQ(form.cbAddress->count(), 3);
  EXPECT_EQ(form.cbAddress->currentIndex(), 2);
}

TEST_F(MainWindow, SelectingAKeyShowsItsLastWriteTime) {
  form.JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows"));
  EXPECT_TRUE(form.statusText(1).startsWith(QStringLiteral("Last write access: "))) << form.statusText(1).toStdString();
  form.selectNode(form.FMyComputerNode);
  form.tvKeysClick();
  EXPECT_EQ(form.statusText(1), QString());
  EXPECT_EQ(form.statusText(0), QStringLiteral("My Computer"));
  EXPECT_EQ(form.valueModel()->count(), 0);
}

TEST(DateTimeValues, ShowTheSameWallClockReading) {
  struct Case {
    double value;
    QDateTime want;
  } cases[] = {
      {25569.0, QDateTime(QDate(1970, 1, 1), QTime(0, 0))},
      {25569.5, QDateTime(QDate(1970, 1, 1), QTime(12, 0))},
      {44927.75, QDateTime(QDate(2023, 1, 1), QTime(18, 0))},
      {25569.0 + 0.99999999, QDateTime(QDate(1970, 1, 1), QTime(23, 59, 59, 999))},
      {0.0, QDateTime()},
      {-3.0, QDateTime()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(dateTimeToQDateTime(c.value), c.want);
  }
}

TEST_F(MainWindow, LastWriteTimeOutsideTheShownRangeLeavesPanelOneEmpty) {
  reg.add(kCurrentUser, "Ancient", true, true, 1);  // 1601, before any date the panel shows
  form.JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Ancient"));
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Ancient"));
  EXPECT_EQ(form.statusText(1), QString());
}

TEST_F(MainWindow, KeyMenuEnablingFollowsLevelAndKind) {
  KeyNode* hklm = expanded(root("HKEY_LOCAL_MACHINE"));
  KeyNode* hkcr = expanded(root("HKEY_CLASSES_ROOT"));
  KeyNode* clsid = expanded(hkcr->child(0));
  // A .reg file tree: kind 2, never editable.
  KeyNode* regTop = form.keyModel()->addChild(form.keyModel()->root(), "fix.reg", nullptr, 8, 8);
  KeyNode* regRoot = form.AddKeyNode(regTop, "HKEY_LOCAL_MACHINE", rvDefault);
  KeyNode* regKey = form.AddKeyNode(regRoot, "SOFTWARE", rvDefault);
  struct Case {
    const char* name;
    KeyNode* node;
    bool del, add, copyPath, clsid, valueAdd;
  } cases[] = {
      {"My Computer", form.FMyComputerNode, false, false, false, false, true},
      {"root", hklm, false, true, true, false, true},
      {"key", hklm->child(0), true, true, true, false, true},
      {"braces", clsid->child(0), true, true, true, true, true},
      {"reg file top", regTop, false, false, false, false, false},
      {"reg file key", regKey, false, false, true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    form.selectNode(c.node);
    form.pmKeysPopup();
    EXPECT_EQ(form.aKeyDelete->isEnabled(), c.del);
    EXPECT_EQ(form.aKeyRename->isEnabled(), c.del);
    EXPECT_EQ(form.aKeyAdd->isEnabled(), c.add);
    EXPECT_EQ(form.aKeyExport->isEnabled(), c.add);
    EXPECT_EQ(form.aKeyCopyPath->isEnabled(), c.copyPath);
    EXPECT_EQ(form.aKeyJumpToHKCRCLSID->isEnabled(), c.clsid);
    EXPECT_EQ(form.aValueAdd->isEnabled(), c.valueAdd);
    EXPECT_TRUE(form.aKeyRefresh->isEnabled());
  }
  form.tvKeys->clearSelection();
  form.pmKeysPopup();
  EXPECT_FALSE(form.aKeyRefresh->isEnabled());
  EXPECT_FALSE(form.aKeyCopyPath->isEnabled());
  EXPECT_FALSE(form.aKeyDelete->isEnabled());
}

TEST_F(MainWindow, EditMenuMirrorsTheFocusedControlsMenu) {
  auto texts = [&] {
    QStringList out;
    for (QAction* a : form.miEdit->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
  };
  form.MirrorEditMenu(form.pmKeys);
  QStringList keys = texts();
  EXPECT_EQ(keys.size(), form.pmKeys->actions().size() + 4);
  EXPECT_EQ(keys.first(), QStringLiteral("&New key..."));
  EXPECT_EQ(keys.mid(keys.size() - 4), QStringList({"-", "Jump to key...", "-", "&Search..."}));
  EXPECT_TRUE(form.miEdit->menuAction()->isEnabled());

  form.MirrorEditMenu(form.pmValues);
  QStringList values = texts();
  EXPECT_EQ(values.first(), QStringLiteral("New"));
  EXPECT_FALSE(values.contains(QStringLiteral("String")));  // sub-items are not mirrored
  EXPECT_EQ(values.size(), form.pmValues->actions().size() + 4);

  form.MirrorEditMenu(nullptr);
  EXPECT_EQ(texts(), QStringList({"-", "Jump to key...", "-", "&Search..."}));
  EXPECT_FALSE(form.miEdit->menuAction()->isEnabled());
  // The shortcuts still reach their actions.
  EXPECT_EQ(form.aKeyJump->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_J));
  EXPECT_TRUE(form.actions().contains(form.aKeyJump));
}

class AnsweringPrompter : public Prompter {
public:
  QString answer;
  QString seenTitle, seenPrompt, seenText;
  bool inputQuery(QWidget*, const QString& title, const QString& prompt, QString& text) override {
    seenTitle = title;
    seenPrompt = prompt;
    seenText = text;
    text = answer;
    return true;
  }
  QString openFileName(QWidget*, const QString&, const QString&) override { return {}; }
  QString saveFileName(QWidget*, const QString&, const QString&, const QString&, int*) override { return {}; }
};

TEST_F(MainWindow, CopyPathAndJumpPromptUseTheClipboard) {
  form.JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\Select"));
  form.aKeyCopyPathExecute();
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\Select"));
  form.JumpToPath(QStringLiteral("HKEY_USERS"));
  form.aKeyCopyPathExecute();
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("HKEY_USERS"));

  AnsweringPrompter answers;
  answers.answer = QStringLiteral("HKEY_CURRENT_USER\\Console");
  setPrompter(&answers);
  QApplication::clipboard()->setText(QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE"));
  form.aKeyJump->trigger();
  EXPECT_EQ(answers.seenTitle, QStringLiteral("Jump to key"));
  EXPECT_EQ(answers.seenPrompt, QStringLiteral("Please enter key to go to:"));
  EXPECT_EQ(answers.seenText, QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE"));
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Console"));
}

TEST_F(MainWindow, ClsidJumpAndRefresh) {
  form.JumpToPath(QStringLiteral("HKEY_CLASSES_ROOT\\CLSID\\{0000-1111}"));
  KeyNode* clsidKey = form.selectedNode();
  ASSERT_NE(clsidKey, nullptr);
  form.JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID"));
  form.pmKeysPopup();
  EXPECT_FALSE(form.aKeyJumpToHKCRCLSID->isEnabled());

  KeyNode* system = expanded(expanded(root("HKEY_LOCAL_MACHINE"))->child(3));
  reg.add(kLocalMachine, "SYSTEM\\ControlSet001");
  form.selectNode(system);
  form.aKeyRefreshExecute();
  EXPECT_EQ(childTexts(system), QStringList({"ControlSet001", "Select"}));
}

TEST_F(MainWindow, ControlsCarryTheirDesignedNames) {
  const char* names[] = {"coolbarMain", "toolbarMain", "bnSearch", "cbAddress", "animSearch", "tvKeys",
                         "splitterLeft", "panelMain", "pcMain", "tsData", "lvData", "splitterHexDump", "lvHexDump",
                         "tsInfo", "tvInfo", "tsDatabaseInfo", "bnInfoDBSaveKeyInfo", "mInfoDBKey",
                         "bnInfoDBSaveValueInfo", "mInfoDBValue", "tsDatabaseInfoDebug", "editInfoDBKey",
                         "editInfoDBValue", "memoInfoDBInfo", "bnInfoDBAdd", "tsChangeLogs", "editRedoLog",
                         "editUndoLog", "pg", "sbar", "menuMain", "pmKeys", "pmValues", "pmSecurity", "miBookmarks",
                         "miLanguages"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    EXPECT_NE(form.findChild<QObject*>(QString::fromLatin1(name)), nullptr);
  }
  EXPECT_TRUE(form.editRedoLog->Core().ReadOnly());
  EXPECT_FALSE(form.pcMain->isTabVisible(form.pcMain->indexOf(form.tsDatabaseInfoDebug)));
  EXPECT_EQ(form.pcMain->currentWidget(), form.tsData);
  EXPECT_EQ(form.aKeyRefresh->shortcut(), QKeySequence(Qt::Key_F5));
  EXPECT_EQ(form.aValueSelectAll->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));
  EXPECT_FALSE(form.aKeyBack->isEnabled());
}

TEST_F(MainWindow, ExpandingInTheViewReadsChildrenOnce) {
  KeyNode* hkcu = root("HKEY_CURRENT_USER");
  EXPECT_EQ(hkcu->count(), 0);
  form.tvKeys->expand(form.keyModel()->indexOf(hkcu));
  QApplication::processEvents();
  EXPECT_EQ(hkcu->count(), 3);
  const int calls = reg.listCalls;
  form.tvKeys->collapse(form.keyModel()->indexOf(hkcu));
  form.tvKeys->expand(form.keyModel()->indexOf(hkcu));
  form.tvKeysExpanding(hkcu);
  EXPECT_EQ(reg.listCalls, calls);
  EXPECT_EQ(hkcu->count(), 3);
  // An empty root is marked as having none.
  KeyNode* dyn = expanded(root("HKEY_DYN_DATA"));
  EXPECT_FALSE(dyn->hasChildren);
}

}  // namespace
