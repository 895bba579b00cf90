// New, delete and rename key on the registry store: the questions asked, the
// registry, the tree, the panes and the history afterwards.

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QTest>

#include "core/bwlRegNative.h"
#include "taskdialog/TdDialog.h"
#include "taskdialog/TdDialogForm.h"
#include "tests/app/KeyValueActionsWindow.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/QtPrinters.h"
#include "tests/app/Screenshot.h"
#include "tests/support/TestData.h"

namespace {

constexpr platform::HKEY kUser = platform::HKEY_CURRENT_USER;
constexpr platform::HKEY kMachine = platform::HKEY_LOCAL_MACHINE;

QStringList childTexts(const KeyNode* node) {
  QStringList texts;
  for (const auto& child : node->children) texts << child->text;
  return texts;
}

using KeyActions = KeyValueActionsWindow;

TEST_F(KeyActions, NewKeyOffersTheFirstFreeNumberAndLogsTheCreation) {
  openKey(kUser, "Software\\X\\New key #1", Bitness::x32);
  openKey(kUser, "Software\\X\\new KEY #2", Bitness::x32);
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X"));
  KeyNode* x = form->selectedNode();

  // Cancel creates nothing.
  script.inputs = {QString()};
  form->aKeyAddExecute();
  EXPECT_EQ(script.queries,
            QStringList({"New key|Please enter a name for the new key:|New key #3"}));
  EXPECT_EQ(names(EditingWindow::valueNames(kUser, "Software\\X")), QStringList());
  EXPECT_EQ(form->editRedoLog->Count(), 0);

  // A taken name is asked again.
  script.queries.clear();
  script.inputs = {QStringLiteral("NEW KEY #1"), QStringLiteral("Fresh")};
  form->aKeyAddExecute();
  EXPECT_EQ(script.queries, QStringList({"New key|Please enter a name for the new key:|New key #3",
                                         "New key|Please enter a name for the new key:|NEW KEY #1"}));
  EXPECT_TRUE(keyExists(kUser, "Software\\X\\Fresh"));
  EXPECT_TRUE(childTexts(x).contains(QStringLiteral("Fresh")));
  EXPECT_EQ(redoLines(), QStringList({"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X\\Fresh]"}));
  EXPECT_EQ(undoLines(), QStringList({"REGEDIT4", "", "[-HKEY_CURRENT_USER\\Software\\X\\Fresh]"}));
  EXPECT_EQ(historyRows().size(), 1);
  EXPECT_TRUE(script.texts.isEmpty()) << script.texts.join(u'\n').toStdString();
}

TEST_F(KeyActions, DeleteKeyAsksWithTheLocationAsDetailsAndDeletesOnYesOnly) {
  openKey(kUser, "Software\\X\\Gone\\Sub", Bitness::x32)->WriteString("v", "1");
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X\\Gone"));

  script.answers = {mrNo};
  form->aKeyDeleteExecute();
  ASSERT_EQ(script.tasks.size(), 1);
  const TaskMessage& asked = script.tasks.first();
  EXPECT_EQ(asked.instruction, QStringLiteral("Delete this key?"));
  EXPECT_EQ(asked.content, QStringLiteral("Do you really want to delete this key (\"Gone\")?"));
  EXPECT_EQ(asked.details, QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Software\\X\\Gone"));
  EXPECT_EQ(asked.expandCaption, QStringLiteral("&Show Location"));
  EXPECT_EQ(asked.collapseCaption, QStringLiteral("&Hide Location"));
  EXPECT_EQ(asked.kind, jmConfirmation);
  EXPECT_EQ(asked.buttons, buttonBit(cbYes) | buttonBit(cbNo));
  EXPECT_TRUE(keyExists(kUser, "Software\\X\\Gone"));
  EXPECT_EQ(form->editRedoLog->Count(), 0);

  script.answers = {mrYes};
  form->aKeyDeleteExecute();
  EXPECT_FALSE(keyExists(kUser, "Software\\X\\Gone"));
  EXPECT_EQ(redoLines(), QStringList({"REGEDIT4", "", "[-HKEY_CURRENT_USER\\Software\\X\\Gone]"}));
  EXPECT_TRUE(undoLines().contains(QStringLiteral("[HKEY_CURRENT_USER\\Software\\X\\Gone\\Sub]")));
  EXPECT_FALSE(historyRows().isEmpty());
  KeyNode* x = FindChildNode(FindChildNode(FindChildNode(FindChildNode(form->FMyComputerNode,
      QStringLiteral("HKEY_CURRENT_USER"), false), QStringLiteral("Software"), false), QStringLiteral("X"), false),
      QStringLiteral("Gone"), false);
  EXPECT_EQ(x, nullptr) << "the node stays after the deletion";
}

// The drawn task dialog answered by keys: Esc does nothing, the close box
// keeps the key, Enter on the first button (Yes) deletes it.
TEST_F(KeyActions, TheDrawnDeleteQuestionDeletesByKeyboardAndKeepsOnEsc) {
  openKey(kUser, "Software\\X\\Gone", Bitness::x32)->WriteString("v", "1");
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X\\Gone"));
  setMessageBoxes(nullptr);
  const auto keyTarget = [](QDialog& dialog) -> QWidget* {
    return dialog.focusWidget() ? dialog.focusWidget() : &dialog;
  };

  bool openAfterEsc = false;
  QString instruction;
  onNextModalWindow([&](QDialog& dialog) {
    auto* form = qobject_cast<TTdTaskDialogForm*>(&dialog);
    ASSERT_NE(form, nullptr);
    instruction = form->dialog()->Instruction.text();
    QTest::keyClick(keyTarget(dialog), Qt::Key_Escape);
    QApplication::processEvents();
    openAfterEsc = dialog.isVisible();
    dialog.close();
  });
  form->aKeyDeleteExecute();
  EXPECT_EQ(instruction, QStringLiteral("Delete this key?"));
  EXPECT_TRUE(openAfterEsc);
  EXPECT_TRUE(keyExists(kUser, "Software\\X\\Gone"));
  EXPECT_EQ(form->editRedoLog->Count(), 0);

  onNextModalWindow([&](QDialog& dialog) { QTest::keyClick(keyTarget(dialog), Qt::Key_Return); });
  form->aKeyDeleteExecute();
  setMessageBoxes(&script);
  EXPECT_FALSE(keyExists(kUser, "Software\\X\\Gone"));
  EXPECT_EQ(redoLines(), QStringList({"REGEDIT4", "", "[-HKEY_CURRENT_USER\\Software\\X\\Gone]"}));
}

TEST_F(KeyActions, RenameKeyMovesItOrLeavesEverythingWhenTheNameIsTaken) {
  openKey(kUser, "Software\\X\\Old", Bitness::x32)->WriteString("v", "1");
  openKey(kUser, "Software\\X\\Taken", Bitness::x32)->WriteString("w", "2");
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X\\Old"));
  KeyNode* node = form->selectedNode();

  script.inputs = {QStringLiteral("taken")};
  form->aKeyRenameExecute();
  EXPECT_EQ(script.queries, QStringList({"Rename key (\"Old\")|Please enter the new name for this key:|Old"}));
  ASSERT_EQ(script.texts.size(), 1);
  EXPECT_TRUE(keyExists(kUser, "Software\\X\\Old"));
  EXPECT_EQ(names(valueNames(kUser, "Software\\X\\Taken")), QStringList({"w"}));
  EXPECT_EQ(node->text, QStringLiteral("Old"));
  EXPECT_EQ(node->name(), QStringLiteral("Old"));
  EXPECT_EQ(form->editRedoLog->Count(), 0);
  EXPECT_EQ(form->editUndoLog->Count(), 0);
  EXPECT_TRUE(historyRows().isEmpty());

  script.texts.clear();
  script.inputs = {QStringLiteral("New")};
  form->aKeyRenameExecute();
  EXPECT_TRUE(script.texts.isEmpty()) << script.texts.join(u'\n').toStdString();
  EXPECT_FALSE(keyExists(kUser, "Software\\X\\Old"));
  EXPECT_EQ(names(valueNames(kUser, "Software\\X\\New")), QStringList({"v"}));
  EXPECT_EQ(node->text, QStringLiteral("New"));
  EXPECT_EQ(node->name(), QStringLiteral("New"));
  EXPECT_EQ(redoLines(), QStringList({"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X\\New]", "\"v\"=\"1\"", "",
                                      "[-HKEY_CURRENT_USER\\Software\\X\\Old]"}));
  EXPECT_EQ(undoLines(), QStringList({"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X\\Old]", "\"v\"=\"1\"", "",
                                      "[-HKEY_CURRENT_USER\\Software\\X\\New]"}));
  EXPECT_EQ(form->cbAddress->currentText(), QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Software\\X\\New"));
  EXPECT_EQ(historyRows(), QStringList({"0|3|\\Software\\X\\Old\\||1"}));
}

// A key whose path holds a NUL is neither renamed nor given a sub-key: the
// 8-bit calls would act on the key the cut name "zero" names.
TEST_F(KeyActions, AKeyWithANulIsNotRenamedNorGivenASubKey) {
  HS_TESTDATA_OR_SKIP(source, testsupport::testdataFile("hives/crafted/special"));
  KeyNode* zero = selectCraftedNulKey(source);
  ASSERT_NE(zero, nullptr);

  form->aKeyRenameExecute();
  EXPECT_EQ(script.texts, QStringList({"Moving or renaming rootkit keys is not allowed!"}));
  EXPECT_TRUE(script.queries.isEmpty());

  script.texts.clear();
  script.inputs = {QStringLiteral("Below")};
  form->aKeyAddExecute();
  EXPECT_EQ(script.texts.size(), 1);
  EXPECT_FALSE(keyExists(kMachine, "SPECIAL\\zero"));
  EXPECT_FALSE(keyExists(kMachine, "SPECIAL\\zero\\Below"));
  EXPECT_EQ(zero->text, QStringLiteral("zero<0x00>key"));
  EXPECT_EQ(form->editRedoLog->Count(), 0);
  EXPECT_TRUE(historyRows().isEmpty());
}

TEST_F(KeyActions, KeyRuleNamesTheRootParentPathAndName) {
  openKey(kMachine, "SOFTWARE\\Test", Bitness::x32);
  openKey(kMachine, "SOFTWARE\\Test", Bitness::x64);
  showForm();
  const struct {
    const char* path;
    const char* line;
  } cases[] = {
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Test", "RegyKey:\"description\",HKEY_LOCAL_MACHINE,\"\\SOFTWARE\\\",\"Test\""},
      {"HKEY_LOCAL_MACHINE\\SOFTWARE", "RegyKey:\"description\",HKEY_LOCAL_MACHINE,\"\\\",\"SOFTWARE\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    selectKey(QString::fromLatin1(c.path));
    form->pmKeysPopup();
    EXPECT_TRUE(form->aKeyCreateRule->isEnabled());
    form->aKeyCreateRule->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromLatin1(c.line));
  }
  // "My Computer" and a root have no rule.
  for (const char* path : {"HKEY_LOCAL_MACHINE"}) {
    selectKey(QString::fromLatin1(path));
    form->pmKeysPopup();
    EXPECT_FALSE(form->aKeyCreateRule->isEnabled()) << path;
  }
  form->selectNode(form->FMyComputerNode);
  form->pmKeysPopup();
  EXPECT_FALSE(form->aKeyCreateRule->isEnabled());
}

}  // namespace
