// The main window as designed: every action, menu and control; the enabling
// rules row by row; keys as a user presses them (through the shortcut map);
// the jump's retry rule and the address box.

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <functional>

#include <gtest/gtest.h>

#include "app/FormUnitMain.h"
#include "app/UiSeams.h"
#include "tests/app/FakeKeyLister.h"
#include "tests/app/QtPrinters.h"
#include "platform/Registry.h"
#include "tests/support/TempDir.h"
#include "tests/support/Waiting.h"

namespace {

constexpr platform::HKEY kCurrentUser = platform::HKEY_CURRENT_USER;
constexpr platform::HKEY kLocalMachine = platform::HKEY_LOCAL_MACHINE;

QStringList childTexts(const KeyNode* node) {
  QStringList out;
  for (int i = 0; i < node->count(); ++i) out << node->child(i)->text;
  return out;
}

// A menu's items by the object name of their action ("-" for a separator; a
// sub-menu by the action it stands for).
QStringList itemNames(const QMenu* menu) {
  QStringList out;
  for (QAction* a : menu->actions()) {
    if (a->isSeparator()) {
      out << QStringLiteral("-");
    } else if (auto* stands = qobject_cast<QAction*>(a->property("hsAction").value<QObject*>())) {
      out << stands->objectName();
    } else {
      out << a->objectName();
    }
  }
  return out;
}

QStringList split(const char* names) { return QString::fromLatin1(names).split(u' ', Qt::SkipEmptyParts); }

TEST(AuditMainWindowDesign, EveryActionHasItsCaptionCategoryShortcutImageAndDesignState) {
  struct Row {
    const char* name;
    const char* caption;
    const char* category;
    const char* shortcut;
    int image;
    bool enabled;
  } rows[] = {
      {"aFileExit", "E&xit", "File", "", -1, true},
      {"aFileOpenReg", "&Open registry file...", "File", "Ctrl+O", 2, true},
      {"aFileDiffOpenReg", "Open registry file (&difference only)...", "File", "", -1, true},
      {"aFileConnectReg", "Connect to &remote registry...", "File", "", 9, true},
      {"aFileLogonUser", "Open user registry (logon)...", "File", "", 5, true},
      {"aFileOpenHive", "Load hive file...", "File", "", -1, true},
      {"aShowHistory", "Show history...", "File", "Ctrl+H", -1, true},
      {"aKeyDelete", "&Delete key", "Key", "", 7, false},
      {"aKeyAdd", "&New key...", "Key", "", 6, false},
      {"aKeyRename", "&Rename key...", "Key", "", -1, false},
      {"aKeyCopyPath", "Copy key name to clipboard", "Key", "", 10, true},
      {"aKeyRefresh", "&Refresh", "Key", "F5", -1, false},
      {"aKeyJump", "Jump to key...", "Key", "Ctrl+J", -1, true},
      {"aKeyExport", "&Export...", "Key", "", -1, false},
      {"aKeyImport", "&Import...", "Key", "", -1, true},
      {"aKeyAddBookmark", "Add to bookmarks...", "Key", "Ctrl+B", -1, true},
      {"aKeyJumpToHKCRCLSID", "Jump to CLSID in HKCR", "Key", "", 14, false},
      {"aKeyCreateRule", "Copy OpenQEL rule to clipboard", "Key", "", -1, true},
      {"aValueDelete", "&Delete value", "Value", "", 7, false},
      {"aValueRename", "&Rename value...", "Value", "", -1, false},
      {"aValueChange", "&Change data...", "Value", "", -1, false},
      {"aValueChangeType", "Change type", "Value", "", -1, false},
      {"aValueAdd", "New", "Value", "", 6, true},
      {"aValueAddString", "String", "Value", "", 3, true},
      {"aValueAddExpandString", "String (with placeholders)", "Value", "", 3, true},
      {"aValueAddMultiString", "String (multi-line)", "Value", "", 3, true},
      {"aValueAddInteger", "Numeric value (32 bit)", "Value", "", 4, true},
      {"aValueAddLEInteger", "Numeric value (32 bit, little endian)", "Value", "", 4, true},
      {"aValueAddBEInteger", "Numeric value (32 bit, big endian)", "Value", "", 4, true},
      {"aValueAddInt64", "Numeric value (64 bit)", "Value", "", 4, true},
      {"aValueAddLEInt64", "Numeric value (64 bit, little endian)", "Value", "", 4, true},
      {"aValueAddBinary", "Binary data", "Value", "", 4, true},
      {"aValueAddLink", "Link", "Value", "", 4, true},
      {"aValueAddResourceList", "Resource List", "Value", "", 4, true},
      {"aValueAddFullResourceDescriptor", "Full Resource Descriptor", "Value", "", 4, true},
      {"aValueAddResourceRequirementsList", "Resource Requirements List", "Value", "", 4, true},
      {"aValueAddNone", "None (empty type)", "Value", "", 6, true},
      {"aValueSelectAll", "Select all", "Value", "Ctrl+A", -1, true},
      {"aValueJumpToHKCRCLSID", "Jump to CLSID in HKCR", "Value", "", 14, true},
      {"aValueCreateRule", "Copy OpenQEL rule to clipboard", "Value", "", -1, true},
      {"aSecurityInformationExportToFile", "Export security information to file...", "Security", "", -1, true},
      {"aSecurityInformationExportToClipboard", "Copy security information to clipboard", "Security", "", 10, true},
      {"aSecurityInformationGrantAll", "Grant all rights to everyone on this key", "Security", "", -1, true},
      {"aSearch", "&Search...", "", "Ctrl+F", 11, true},
      {"aBookmarksManage", "&Manage bookmarks", "", "Ctrl+M", -1, true},
      {"aAbout", "About...", "", "", -1, true},
      {"aKeyBack", "Back", "", "", 0, false},
      {"aKeyForward", "Forward", "", "", 1, false},
      {"aInfoDBSaveKeyInfo", "Save key info", "", "", -1, true},
      {"aInfoDBSaveValueInfo", "Save value info", "", "", -1, true},
      {"aHelpContents", "Contents", "", "F1", -1, true},
      {"aHelpIndex", "Index", "", "", -1, true},
      {"aMenuHelp", "Help", "", "", -1, true},
      {"aChangeLogRedoSave", "Save", "", "", 13, true},
      {"aChangeLogUndoSave", "Save", "", "", 13, true},
      {"aChangeLogRedoApply", "Apply", "", "", 8, true},
      {"aChangeLogUndoApply", "Apply", "", "", 8, true},
  };
  TformMain form;  // not shown: the design state
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    auto* a = form.findChild<QAction*>(QString::fromLatin1(r.name));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->parent(), &form);
    EXPECT_EQ(a->text(), QString::fromUtf8(r.caption));
    EXPECT_EQ(a->property("category").toString(), QString::fromLatin1(r.category));
    EXPECT_EQ(a->shortcut(), QKeySequence::fromString(QString::fromLatin1(r.shortcut), QKeySequence::PortableText));
    EXPECT_EQ(a->property("imageIndex").toInt(), r.image);
    EXPECT_EQ(a->icon().isNull(), r.image < 0);
    EXPECT_EQ(a->isEnabled(), r.enabled);
    // The action belongs to the window, so its shortcut works whatever menu shows it.
    EXPECT_TRUE(form.actions().contains(a));
  }
}

TEST(AuditMainWindowDesign, MenusListTheirItemsInOrder) {
  TformMain form;
  QStringList bar;
  for (QAction* a : form.menuBar()->actions()) bar << a->text();
  EXPECT_EQ(bar, QStringList({"&File", "&Edit", "Bookmarks", "&Languages", "Help"}));
  struct Case {
    const QMenu* menu;
    const char* items;
  } cases[] = {
      {form.miFile,
       "aKeyImport aKeyExport - aFileOpenReg aFileDiffOpenReg aFileOpenHive aFileLogonUser aFileConnectReg - "
       "aShowHistory - aSecurityInformationExportToFile - aFileExit"},
      {form.miEdit, "- aKeyJump - aSearch"},
      {form.miBookmarks, "- aBookmarksManage"},
      {form.miHelp, "aHelpContents aHelpIndex - aAbout"},
      {form.pmKeys,
       "aKeyAdd - aKeyDelete aKeyRename - aKeyImport aKeyExport - aKeyRefresh aKeyCopyPath "
       "aSecurityInformationExportToClipboard aKeyCreateRule aKeyJumpToHKCRCLSID aSecurityInformationGrantAll "
       "aKeyAddBookmark"},
      {form.pmValues,
       "aValueAdd - aValueChange aValueChangeType aValueJumpToHKCRCLSID - aValueDelete aValueRename - "
       "aValueSelectAll - aValueCreateRule"},
      {form.pmValuesAdd,
       "aValueAddString aValueAddExpandString aValueAddMultiString aValueAddInteger aValueAddLEInteger "
       "aValueAddBEInteger aValueAddInt64 aValueAddLEInt64 aValueAddBinary - aValueAddLink aValueAddResourceList "
       "aValueAddResourceRequirementsList aValueAddFullResourceDescriptor aValueAddNone"},
      {form.pmSecurity, "aSecurityInformationExportToClipboard"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.menu->objectName().toStdString());
    EXPECT_EQ(itemNames(c.menu), split(c.items));
  }
  // The "New" item of the value menu follows its action.
  form.aValueAdd->setEnabled(false);
  EXPECT_FALSE(form.pmValues->actions().first()->isEnabled());
  form.aValueAdd->setEnabled(true);
  EXPECT_TRUE(form.pmValues->actions().first()->isEnabled());
  EXPECT_EQ(form.pmValues->actions().first()->text(), QStringLiteral("New"));
}

TEST(AuditMainWindowDesign, PagesColumnsAndControlsAsDesigned) {
  TformMain form;
  EXPECT_EQ(form.objectName(), QStringLiteral("formMain"));
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Hivescope"));
  QStringList tabs;
  for (int i = 0; i < form.pcMain->count(); ++i) tabs << form.pcMain->tabText(i);
  EXPECT_EQ(tabs, QStringList({"Data", "Security information", "Info database", "DBG", "Change logs"}));
  EXPECT_EQ(form.pcMain->widget(0), form.tsData);
  EXPECT_EQ(form.pcMain->widget(1), form.tsInfo);
  EXPECT_EQ(form.pcMain->widget(2), form.tsDatabaseInfo);
  EXPECT_EQ(form.pcMain->widget(3), form.tsDatabaseInfoDebug);
  EXPECT_EQ(form.pcMain->widget(4), form.tsChangeLogs);
  EXPECT_FALSE(form.pcMain->isTabVisible(3));

  auto* logs = form.tsChangeLogs->findChild<QTabWidget*>();
  ASSERT_NE(logs, nullptr);
  ASSERT_EQ(logs->count(), 2);
  EXPECT_EQ(logs->tabText(0), QStringLiteral("Redo log"));
  EXPECT_EQ(logs->tabText(1), QStringLiteral("Undo log"));
  EXPECT_TRUE(logs->widget(0)->isAncestorOf(form.editRedoLog));
  EXPECT_TRUE(logs->widget(1)->isAncestorOf(form.editUndoLog));
  EXPECT_TRUE(form.editRedoLog->Core().ReadOnly());
  EXPECT_TRUE(form.editUndoLog->Core().ReadOnly());
  EXPECT_EQ(form.editRedoLog->font().family(), QStringLiteral("Courier New"));
  EXPECT_EQ(form.editRedoLog->font().pixelSize(), 13);
  for (codeedit::TCodeEdit* pane : {form.editRedoLog, form.editUndoLog}) {
    EXPECT_TRUE(pane->Core().Gutter().AutoSize());
    EXPECT_TRUE(pane->Core().Gutter().ShowLineNumbers());
    EXPECT_EQ(pane->Core().Gutter().Font().Name, u"Courier New");
    EXPECT_EQ(pane->Core().Highlighter(), form.CodeIniHighlighter1);
  }
  EXPECT_EQ(form.CodeIniHighlighter1->objectName(), QStringLiteral("CodeIniHighlighter1"));

  QStringList labels;
  for (auto* l : form.tsDatabaseInfo->findChildren<QLabel*>()) labels << l->text();
  EXPECT_EQ(labels, QStringList({"Key information:", "Value information:"}));
  EXPECT_EQ(form.findChild<QLineEdit*>("editInfoDBKey")->text(), QStringLiteral("key name here"));
  EXPECT_EQ(form.findChild<QLineEdit*>("editInfoDBValue")->text(), QStringLiteral("value name here"));
  EXPECT_EQ(form.findChild<QPlainTextEdit*>("memoInfoDBInfo")->toPlainText(), QStringLiteral("text to be stored here"));
  EXPECT_EQ(form.findChild<QToolButton*>("bnInfoDBAdd")->text(), QStringLiteral("add ->"));

  QStringList columns;
  for (int c = 0; c < form.lvData->model()->columnCount(); ++c)
    columns << form.lvData->model()->headerData(c, Qt::Horizontal).toString();
  EXPECT_EQ(columns, QStringList({"Name", "Type", "Value", "Size", "Registry Value"}));
  EXPECT_EQ(form.lvData->columnWidth(0), 120);
  EXPECT_EQ(form.lvData->columnWidth(1), 100);
  EXPECT_TRUE(form.lvData->isColumnHidden(3));
  EXPECT_TRUE(form.lvData->isColumnHidden(4));
  EXPECT_EQ(form.lvData->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(form.lvData->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(form.lvData->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(form.tvKeys->editTriggers(), QAbstractItemView::NoEditTriggers);

  EXPECT_EQ(form.cbAddress->maxVisibleItems(), 12);
  EXPECT_TRUE(form.animSearch->isHidden());
  EXPECT_EQ(form.bnSearch->defaultAction(), form.aSearch);
  EXPECT_EQ(form.statusBar()->objectName(), QStringLiteral("sbar"));
  EXPECT_GE(form.sbarPanel0->minimumWidth(), 380);
  EXPECT_GE(form.sbarPanel1->minimumWidth(), 220);
  EXPECT_EQ(form.pg->parentWidget(), form.centralWidget());
}

// A window over a small registry, shown (which builds the tree).
class AuditMainWindow : public ::testing::Test {
protected:
  void SetUp() override {
    reg.add(kLocalMachine, "SOFTWARE\\Zeta");
    reg.add(kLocalMachine, "SOFTWARE\\Only32", true, false);
    reg.add(kLocalMachine, "SOFTWARE\\Only64", false, true);
    reg.add(kLocalMachine, "SYSTEM\\Select");
    reg.add(kCurrentUser, "Software\\Vendor");
    reg.add(kCurrentUser, "Console");
    reg.add(kCurrentUser, " Lead");
    reg.add(kCurrentUser, "AppEvents\\Schemes");
    form.setKeyLister(&reg);
    form.show();
    QApplication::processEvents();
  }
  void TearDown() override {
    setPrompter(nullptr);
    form.close();
  }
  KeyNode* root(const char* name) { return FindChildNode(form.FMyComputerNode, QString::fromLatin1(name), false); }
  KeyNode* expanded(KeyNode* node) {
    form.tvKeysExpanding(node);
    return node;
  }
  QString selectedPath() {
    KeyNode* n = form.selectedNode();
    return n ? form.GetNodeLocation(n).displayPath : QString();
  }
  void select(KeyNode* node) {
    form.selectNode(node);
    form.tvKeysClick();
  }
  // A list of one row of `kind`, selected.
  void showOneValue(TRegDataType kind, const QString& caption) {
    TRegistryValueListItem row;
    row.Caption = caption;
    row.ValueName = caption;
    row.DataInfo.RegData = kind;
    row.SubItems = {QStringLiteral("T"), QStringLiteral("V"), QStringLiteral("0"), QString()};
    std::vector<TRegistryValueListItem> rows;
    rows.push_back(row);
    form.valueModel()->setRows(std::move(rows));
    form.lvData->selectionModel()->setCurrentIndex(form.valueModel()->index(0, 0),
                                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }

  testsupport::TempRegistry registry;
  FakeKeyLister reg;
  TformMain form;
};

TEST_F(AuditMainWindow, SecurityExportsAreOffAtShowAndFollowTheSecurityPage) {
  EXPECT_FALSE(form.aSecurityInformationExportToFile->isEnabled());
  EXPECT_FALSE(form.aSecurityInformationExportToClipboard->isEnabled());
  EXPECT_EQ(form.pcMain->currentWidget(), form.tsData);

  KeyNode* hkcu = expanded(root("HKEY_CURRENT_USER"));
  KeyNode* regTop = form.keyModel()->addChild(form.keyModel()->root(), "fix.reg", nullptr, 8, 8);
  KeyNode* regRoot = form.AddKeyNode(regTop, "HKEY_CURRENT_USER", rvDefault);
  KeyNode* remoteTop = form.keyModel()->addChild(form.keyModel()->root(), "OTHERPC", nullptr, 9, 9);
  KeyNode* remoteKey = form.AddKeyNode(form.AddKeyNode(remoteTop, "HKEY_CURRENT_USER", rvDefault), "Software", rvDefault);
  struct Case {
    const char* name;
    KeyNode* node;
    bool pageVisible, exports, grantAll;
  } cases[] = {
      {"My Computer", form.FMyComputerNode, true, false, false},
      // A root is no key of its own to give a descriptor.
      {"root", hkcu, true, true, false},
      {"key", hkcu->child(0), true, true, true},
      {"key, page hidden", hkcu->child(0), false, false, true},
      {"reg file root", regRoot, true, false, false},
      {"reg file key", form.AddKeyNode(regRoot, "Software", rvDefault), true, false, false},
      {"remote key", remoteKey, true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    form.pcMain->setTabVisible(form.pcMain->indexOf(form.tsInfo), c.pageVisible);
    form.selectNode(c.node);
    form.pmKeysPopup();
    EXPECT_EQ(form.aSecurityInformationExportToFile->isEnabled(), c.exports);
    EXPECT_EQ(form.aSecurityInformationExportToClipboard->isEnabled(), c.exports);
    EXPECT_EQ(form.aSecurityInformationGrantAll->isEnabled(), c.grantAll);
  }
  // Without a selected node every key action of the rule is off.
  form.tvKeys->clearSelection();
  form.pmKeysPopup();
  for (QAction* a : {form.aKeyDelete, form.aKeyRename, form.aKeyAdd, form.aKeyExport, form.aKeyCopyPath,
                     form.aSecurityInformationExportToClipboard, form.aSecurityInformationExportToFile,
                     form.aSecurityInformationGrantAll, form.aKeyJumpToHKCRCLSID, form.aValueAdd, form.aKeyRefresh}) {
    SCOPED_TRACE(a->objectName().toStdString());
    EXPECT_FALSE(a->isEnabled());
  }
}

TEST_F(AuditMainWindow, OpeningTheFileMenuRunsTheKeyRule) {
  KeyNode* hkcu = expanded(root("HKEY_CURRENT_USER"));
  form.selectNode(hkcu->child(0));
  ASSERT_FALSE(form.aKeyExport->isEnabled());
  emit form.miFile->aboutToShow();
  EXPECT_TRUE(form.aKeyExport->isEnabled());
  EXPECT_TRUE(form.aKeyDelete->isEnabled());
  form.selectNode(hkcu);
  emit form.miFile->aboutToShow();
  EXPECT_FALSE(form.aKeyDelete->isEnabled());
}

TEST_F(AuditMainWindow, ValueRuleFollowsKindAndTreeKind) {
  form.JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Console"));
  struct Case {
    TRegDataType kind;
    bool change, changeType;
  } cases[] = {
      {rdUnknown, false, false},
      {rdNone, true, false},  // the bytes, in the binary editor
      {rdString, true, true},
      {rdExpandString, true, true},
      {rdBinary, true, false},
      {rdInteger, true, true},
      {rdLittleEndianInteger, true, true},
      {rdBigEndianInteger, true, true},
      {rdLink, true, false},
      {rdMultiString, true, true},
      {rdResourceList, true, false},
      {rdFullResourceDescriptor, true, false},
      {rdResourceRequirementsList, false, false},
      {rdInt64, true, true},
      {rdLittleEndianInt64, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    showOneValue(c.kind, QStringLiteral("v"));
    form.pmValuesPopup();
    EXPECT_EQ(form.aValueChange->isEnabled(), c.change);
    EXPECT_EQ(form.aValueChangeType->isEnabled(), c.changeType);
    EXPECT_TRUE(form.aValueDelete->isEnabled());
    EXPECT_TRUE(form.aValueRename->isEnabled());
    EXPECT_FALSE(form.aValueJumpToHKCRCLSID->isEnabled());
  }
  showOneValue(rdString, QStringLiteral("{1234}"));
  form.pmValuesPopup();
  EXPECT_TRUE(form.aValueJumpToHKCRCLSID->isEnabled());

  // A selected item clears panel 1; without one nothing changes but the CLSID jump.
  form.sbarPanel1->setText(QStringLiteral("Last write access: x"));
  form.lvData->clearSelection();
  form.pmValuesPopup();
  EXPECT_EQ(form.statusText(1), QStringLiteral("Last write access: x"));
  EXPECT_TRUE(form.aValueChange->isEnabled());
  EXPECT_FALSE(form.aValueJumpToHKCRCLSID->isEnabled());
  showOneValue(rdString, QStringLiteral("s"));
  form.pmValuesPopup();
  EXPECT_EQ(form.statusText(1), QString());

  // A .reg file tree is never edited.
  KeyNode* regTop = form.keyModel()->addChild(form.keyModel()->root(), "fix.reg", nullptr, 8, 8);
  form.selectNode(form.AddKeyNode(regTop, "HKEY_CURRENT_USER", rvDefault));
  showOneValue(rdString, QStringLiteral("s"));
  form.pmValuesPopup();
  EXPECT_FALSE(form.aValueChange->isEnabled());
  EXPECT_FALSE(form.aValueChangeType->isEnabled());
  EXPECT_FALSE(form.aValueDelete->isEnabled());
  EXPECT_FALSE(form.aValueRename->isEnabled());
}

TEST_F(AuditMainWindow, JumpRetriesWithoutBlanksOnlyWhenTheKeyIsMissing) {
  struct Case {
    const char* path;
    const char* selects;  // null: the selection stays
  } cases[] = {
      // A key whose name really begins with a blank is reached as written.
      {"HKEY_CURRENT_USER\\ Lead", "My Computer\\HKEY_CURRENT_USER\\ Lead"},
      {"HKEY_CURRENT_USER \\ Console", "My Computer\\HKEY_CURRENT_USER\\Console"},
      {"HKEY_CURRENT_USER\\Software \\Vendor", "My Computer\\HKEY_CURRENT_USER\\Software\\Vendor"},
      // One pass each: of two blanks one is left, and that key does not exist.
      {"HKEY_CURRENT_USER\\  Console", nullptr},
      // The key must exist in the 64-bit view.
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Only64", "My Computer\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Only64"},
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Only32", nullptr},
      // A path that names My Computer in another way than the top node's text.
      {"Computer\\HKEY_CURRENT_USER\\AppEvents", "My Computer\\HKEY_CURRENT_USER\\AppEvents"},
      // No "\HK" after the first "\": nothing is dropped, so no root matches.
      {"Foo\\Bar", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    form.JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\Select"));
    const QString before = selectedPath();
    form.JumpToPath(QString::fromLatin1(c.path));
    EXPECT_EQ(selectedPath(), c.selects ? QString::fromLatin1(c.selects) : before);
  }
  EXPECT_EQ(childTexts(root("HKEY_CURRENT_USER")), QStringList({" Lead", "AppEvents", "Console", "Software"}));
}

TEST_F(AuditMainWindow, JumpAfterARenameFindsTheRenamedNodeAndAddsNoTwin) {
  KeyNode* hkcu = expanded(root("HKEY_CURRENT_USER"));
  KeyNode* console = FindChildNode(hkcu, QStringLiteral("Console"), false);
  ASSERT_NE(console, nullptr);
  // What a rename leaves: the node's text and name changed in place, out of
  // sort order.
  reg.add(kCurrentUser, "Zconsole");
  console->text = QStringLiteral("Zconsole");
  console->data->Name = QStringLiteral("Zconsole");
  const int before = hkcu->count();
  form.JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Zconsole"));
  form.JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\zconsole"));
  EXPECT_EQ(hkcu->count(), before);
  EXPECT_EQ(form.selectedNode(), console);
  EXPECT_EQ(form.cbAddress->count(), 1);
}

TEST_F(AuditMainWindow, AddressBoxItemsIgnoreCaseAndDropMyComputerInAnyCase) {
  form.JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Console"));
  form.JumpToPath(QStringLiteral("hkey_current_user\\CONSOLE"));
  EXPECT_EQ(form.cbAddress->count(), 1);
  form.JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM"));
  form.cbAddress->setEditText(QStringLiteral("my computer\\HKEY_CURRENT_USER\\Console"));
  form.cbAddressSelect();
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Console"));
  EXPECT_EQ(form.cbAddress->count(), 2);
  EXPECT_EQ(form.cbAddress->currentIndex(), 0);
  // Only the address box's own typing jumps on Enter: one jump, one item.
  form.cbAddress->setEditText(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\"));
  form.cbAddressKeyPress(QChar(u'a'));
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Console"));
  form.cbAddressKeyPress(QChar(13));
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Software\\Vendor"));
  EXPECT_EQ(form.cbAddress->count(), 3);
}

TEST_F(AuditMainWindow, RefreshOfMyComputerKeepsTheSevenRoots) {
  const QStringList roots = childTexts(form.FMyComputerNode);
  form.selectNode(form.FMyComputerNode);
  form.aKeyRefreshExecute();
  EXPECT_EQ(childTexts(form.FMyComputerNode), roots);
  EXPECT_EQ(form.GetNodeLocation(form.FMyComputerNode->child(2)).root, kLocalMachine);
  for (int i = 0; i < form.FMyComputerNode->count(); ++i) EXPECT_EQ(form.FMyComputerNode->child(i)->level(), 1);
}

TEST_F(AuditMainWindow, AMonitorReportWhileMyComputerIsSelectedLeavesTheListEmpty) {
  select(root("HKEY_LOCAL_MACHINE"));
  select(form.FMyComputerNode);
  ASSERT_EQ(form.valueModel()->count(), 0);
  // The report of the root key shown before: My Computer's location is the
  // same root and an empty key path, but it shows no values.
  form.MonitorChange(kLocalMachine, std::string());
  EXPECT_EQ(form.valueModel()->count(), 0);
}

// Keys pressed as a user presses them: through the application, so window
// shortcuts take theirs first.
class AuditMainWindowKeys : public AuditMainWindow {
protected:
  void SetUp() override {
    AuditMainWindow::SetUp();
    form.activateWindow();
    if (!QTest::qWaitForWindowActive(&form, static_cast<int>(testsupport::kPatience.count()))) GTEST_SKIP() << "the platform gives the window no focus";
  }
};

TEST_F(AuditMainWindowKeys, ArrowsAndF5OnTheTreeRunTheKeySelection) {
  KeyNode* hkcu = expanded(root("HKEY_CURRENT_USER"));
  form.tvKeys->expand(form.keyModel()->indexOf(hkcu));
  select(hkcu->child(0));
  form.tvKeys->setFocus();
  QTest::keyClick(form.tvKeys, Qt::Key_Down);
  EXPECT_EQ(form.statusText(0), QStringLiteral("My Computer\\HKEY_CURRENT_USER\\AppEvents"));
  EXPECT_EQ(form.cbAddress->count(), 2);

  // F5 while aKeyRefresh is off: the selection work only.
  form.sbarPanel0->clear();
  ASSERT_FALSE(form.aKeyRefresh->isEnabled());
  QTest::keyClick(form.tvKeys, Qt::Key_F5);
  EXPECT_EQ(form.statusText(0), QStringLiteral("My Computer\\HKEY_CURRENT_USER\\AppEvents"));

  // F5 while it is on: the refresh takes the key and re-reads the children.
  KeyNode* appEvents = form.selectedNode();
  expanded(appEvents);
  reg.add(kCurrentUser, "AppEvents\\EventLabels");
  form.pmKeysPopup();
  ASSERT_TRUE(form.aKeyRefresh->isEnabled());
  QTest::keyClick(form.tvKeys, Qt::Key_F5);
  EXPECT_EQ(childTexts(appEvents), QStringList({"EventLabels", "Schemes"}));
}

// Every key that moves the tree's selection moves the value list and the
// status bar with it: Home, End, the page keys and type-ahead as well as the
// arrows.
TEST_F(AuditMainWindowKeys, HomeEndAndTypeAheadRunTheKeySelection) {
  KeyNode* hkcu = expanded(root("HKEY_CURRENT_USER"));
  form.tvKeys->expand(form.keyModel()->indexOf(hkcu));
  select(hkcu->child(1));
  form.tvKeys->setFocus();
  const struct Case {
    const char* what;
    std::function<void()> press;
  } cases[] = {
      {"End", [&] { QTest::keyClick(form.tvKeys, Qt::Key_End); }},
      {"Home", [&] { QTest::keyClick(form.tvKeys, Qt::Key_Home); }},
      {"type-ahead", [&] { QTest::keyClicks(form.tvKeys, QStringLiteral("HKEY_CURRENT_U")); }},
      {"Page Down", [&] { QTest::keyClick(form.tvKeys, Qt::Key_PageDown); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const KeyNode* before = form.selectedNode();
    c.press();
    KeyNode* now = form.selectedNode();
    ASSERT_NE(now, nullptr);
    EXPECT_NE(now, before);
    EXPECT_EQ(form.statusText(0), form.GetNodeLocation(now).displayPath);
    EXPECT_EQ(form.cbAddress->currentText(), form.GetNodeLocation(now).displayPath);
  }
}

TEST_F(AuditMainWindowKeys, TheEditMenuIsOffWithoutTreeOrListFocusAndShortcutsStillWork) {
  form.cbAddress->setFocus();
  QApplication::processEvents();
  EXPECT_FALSE(form.miEdit->menuAction()->isEnabled());

  struct Answer : Prompter {
    int asked = 0;
    bool inputQuery(QWidget*, const QString&, const QString&, QString& text) override {
      ++asked;
      text = QStringLiteral("HKEY_CURRENT_USER\\Console");
      return true;
    }
    QString openFileName(QWidget*, const QString&, const QString&) override { return {}; }
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&, int*) override { return {}; }
  } answer;
  setPrompter(&answer);
  QTest::keyClick(form.cbAddress->lineEdit(), Qt::Key_J, Qt::ControlModifier);
  EXPECT_EQ(answer.asked, 1);
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Console"));

  // The jump gave the tree the focus: the Edit menu mirrors the key menu.
  QApplication::processEvents();
  EXPECT_TRUE(form.miEdit->menuAction()->isEnabled());
  EXPECT_EQ(itemNames(form.miEdit).first(), QStringLiteral("aKeyAdd"));
  form.cbAddress->setFocus();
  QApplication::processEvents();
  EXPECT_FALSE(form.miEdit->menuAction()->isEnabled());
}

TEST_F(AuditMainWindowKeys, EnterInTheAddressBoxJumpsOnce) {
  form.cbAddress->setFocus();
  form.cbAddress->setEditText(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor"));
  // Keys go where the platform sends them: to the focus widget, which is the
  // box itself (its line edit's focus proxy), not the line edit.
  QWidget* focus = QApplication::focusWidget();
  ASSERT_EQ(focus, form.cbAddress);
  QTest::keyClick(focus, Qt::Key_Return);
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Software\\Vendor"));
  EXPECT_EQ(form.cbAddress->count(), 1);
  // Choosing the item again jumps again and still adds none.
  form.JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Console"));
  form.cbAddress->setCurrentIndex(0);
  emit form.cbAddress->activated(0);
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Software\\Vendor"));
  EXPECT_EQ(form.cbAddress->count(), 2);
}

TEST_F(AuditMainWindowKeys, F5OnTheListRefillsItEvenWhileAnEditorIsOpen) {
  platform::HKEY key;
  ASSERT_EQ(platform::RegCreateKeyExA(kCurrentUser, "Console", 0, nullptr, 0, platform::KEY_ALL_ACCESS, nullptr, &key,
                                      nullptr),
            platform::ERROR_SUCCESS);
  form.JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Console"));
  ASSERT_EQ(form.valueModel()->count(), 1);  // the placeholder row
  // The monitor's reports are dropped while an editor is open; F5 is the user's own.
  form.SetValueEditorOpen(true);
  const std::uint32_t one = 1;
  ASSERT_EQ(platform::RegSetValueExA(key, "added", 0, platform::REG_DWORD, reinterpret_cast<const std::uint8_t*>(&one),
                                     sizeof one),
            platform::ERROR_SUCCESS);
  platform::RegCloseKey(key);
  form.lvData->setFocus();
  ASSERT_FALSE(form.aKeyRefresh->isEnabled());
  QTest::keyClick(form.lvData, Qt::Key_F5);
  EXPECT_EQ(form.valueModel()->count(), 2);
  form.SetValueEditorOpen(false);
}

TEST_F(AuditMainWindowKeys, CtrlKeyDownWhileCtrlIsHeld) {
  form.tvKeys->setFocus();
  EXPECT_FALSE(IsCtrlKeyDown());
  // Through the window system, as the platform reports a held key.
  QTest::keyPress(form.windowHandle(), Qt::Key_Control, Qt::ControlModifier);
  EXPECT_TRUE(IsCtrlKeyDown());
  QTest::keyRelease(form.windowHandle(), Qt::Key_Control);
  EXPECT_FALSE(IsCtrlKeyDown());
}

}  // namespace
