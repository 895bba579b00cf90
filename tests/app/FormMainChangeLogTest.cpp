// The main window's change logs on the registry store: the entries of each
// operation in both panes and the history, Save and Apply.

#include <QFile>
#include <QTabWidget>

#include <functional>

#include "tests/app/EditingWindow.h"
#include "tests/app/QtPrinters.h"
#include "tests/app/Screenshot.h"
#include "tests/editor/CodePageGuard.h"
#include "tests/support/Files.h"

namespace fs = std::filesystem;

namespace {

constexpr platform::HKEY kUser = platform::HKEY_CURRENT_USER;

using ChangeLogs = EditingWindow;

// One row per operation: what it does to the registry around its log calls,
// then both panes and the history rows.
TEST_F(ChangeLogs, EachOperationWritesItsEntriesInBothPanesAndTheHistory) {
  const QString path = QStringLiteral("\\Software\\X");
  const struct Case {
    const char* name;
    std::function<void(TformMain&)> act;
    QStringList redo, undo, history;
  } cases[] = {
      {"key created",
       [&](TformMain& f) {
         ASSERT_TRUE(CreateRegistryKey(kUser, "\\Software\\X\\New", ViewByte::v32));
         f.LogKeyCreate(kUser, path + QStringLiteral("\\New"));
       },
       {"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X\\New]"},
       {"REGEDIT4", "", "[-HKEY_CURRENT_USER\\Software\\X\\New]"},
       {"0|1|\\Software\\X\\New\\||1"}},
      {"key deleted",
       [&](TformMain& f) {
         f.LogKeyDelete(kUser, path + QStringLiteral("\\Old"));
         ASSERT_TRUE(DeleteRegistryKey(kUser, "\\Software\\X\\Old", ViewByte::v32));
       },
       {"REGEDIT4", "", "[-HKEY_CURRENT_USER\\Software\\X\\Old]"},
       {"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X\\Old]", "\"v\"=\"1\""},
       {"1|0|\\Software\\X\\Old\\|v|2", "0|0|\\Software\\X\\Old\\||1"}},
      {"key renamed",
       [&](TformMain& f) {
         f.LogKeyRename(kUser, path + QStringLiteral("\\Old"), LogPane::undo, path + QStringLiteral("\\Renamed"));
         ASSERT_TRUE(RenameRegistryKey(kUser, "\\Software\\X\\Old", "\\Software\\X\\Renamed", false));
         f.LogKeyRename(kUser, path + QStringLiteral("\\Old"), LogPane::redo, path + QStringLiteral("\\Renamed"));
       },
       {"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X\\Renamed]", "\"v\"=\"1\"", "",
        "[-HKEY_CURRENT_USER\\Software\\X\\Old]"},
       {"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X\\Old]", "\"v\"=\"1\"", "",
        "[-HKEY_CURRENT_USER\\Software\\X\\Renamed]"},
       {"0|3|\\Software\\X\\Old\\||1"}},
      {"default value deleted",
       [&](TformMain& f) {
         f.LogValueDelete(kUser, path, QString());
         ASSERT_TRUE(DeleteRegistryValue(kUser, "\\Software\\X", "", ViewByte::v32));
       },
       {"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X]", "\"\"=-"},
       {"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X]", "@=\"default\""},
       {"1|0|\\Software\\X\\||2"}},
      {"multi-string changed",
       [&](TformMain& f) {
         const std::vector<std::string> before = ExportedValueLines(kUser, path, QStringLiteral("Multi"), rvDefault);
         openKey(kUser, "Software\\X", Bitness::x32)->WriteMultiString("Multi", "c");
         f.LogValueChange(kUser, path, QStringLiteral("Multi"), before);
       },
       {"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X]", "\"Multi\"=hex(7):63,00"},
       {"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X]", "\"Multi\"=hex(7):61,00,62,00"},
       {}},
      {"value renamed",
       [&](TformMain& f) {
         f.LogValueRename(LogPane::undo, kUser, QStringLiteral("Name2"), QStringLiteral("Name"), path);
         ASSERT_TRUE(RenameRegistryValue(kUser, "\\Software\\X", "Name", false, "Name2"));
         f.LogValueRename(LogPane::redo, kUser, QStringLiteral("Name"), QStringLiteral("Name2"), path);
       },
       {"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X]", "\"Name2\"=\"n\"", "\"Name\"=-"},
       {"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X]", "\"Name\"=\"n\"", "\"Name2\"=-"},
       {"1|3|\\Software\\X\\|Name|2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      DeleteRegistryKey(kUser, "\\Software\\X", ViewByte::v32);
      auto key = openKey(kUser, "Software\\X", Bitness::x32);
      key->WriteString("", "default");
      key->WriteString("Name", "n");
      key->WriteMultiString("Multi", "a\r\nb");
      openKey(kUser, "Software\\X\\Old", Bitness::x32)->WriteString("v", "1");
    }
    fs::remove(historyFile());
    showForm();
    c.act(*form);
    EXPECT_EQ(redoLines(), c.redo);
    EXPECT_EQ(undoLines(), c.undo);
    EXPECT_EQ(historyRows(), c.history);
    form.reset();
  }
}

TEST_F(ChangeLogs, ApplyingThePanesRepeatsAndReversesAKeysCreationAndDeletion) {
  openKey(kUser, "Software\\X", Bitness::x32);
  showForm();
  ASSERT_TRUE(CreateRegistryKey(kUser, "\\Software\\X\\Tmp", ViewByte::v32));
  form->LogKeyCreate(kUser, QStringLiteral("\\Software\\X\\Tmp"));
  form->LogKeyDelete(kUser, QStringLiteral("\\Software\\X\\Tmp"));
  ASSERT_TRUE(DeleteRegistryKey(kUser, "\\Software\\X\\Tmp", ViewByte::v32));
  const QStringList rows = historyRows();
  EXPECT_EQ(rows, QStringList({"0|1|\\Software\\X\\Tmp\\||1", "0|0|\\Software\\X\\Tmp\\||1"}));
  EXPECT_EQ(redoLines(), QStringList({"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X\\Tmp]", "",
                                      "[-HKEY_CURRENT_USER\\Software\\X\\Tmp]"}));
  EXPECT_EQ(undoLines(), QStringList({"REGEDIT4", "", "[-HKEY_CURRENT_USER\\Software\\X\\Tmp]", "",
                                      "[HKEY_CURRENT_USER\\Software\\X\\Tmp]"}));

  // The undo pane runs newest first: it brings the deleted key back, then
  // removes the created one, leaving the state before both changes; the
  // redo pane creates it and deletes it again. Neither is logged or recorded.
  form->aChangeLogUndoApplyExecute();
  EXPECT_FALSE(RegistryKeyExists(kUser, "\\Software\\X\\Tmp", ViewByte::v32));
  form->aChangeLogRedoApplyExecute();
  EXPECT_FALSE(RegistryKeyExists(kUser, "\\Software\\X\\Tmp", ViewByte::v32));
  EXPECT_TRUE(RegistryKeyExists(kUser, "\\Software\\X", ViewByte::v32));
  EXPECT_EQ(historyRows(), rows);
  EXPECT_EQ(form->editRedoLog->Count(), 5);
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(u'\n').toStdString();
}

// A value changed twice, a key made and a value renamed in it: applying the
// undo pane gives back the state before the first change, never a mix that
// never existed.
TEST_F(ChangeLogs, ApplyingTheUndoPaneUndoesNewestFirst) {
  openKey(kUser, "Software\\X", Bitness::x32)->WriteString("v", "1");
  showForm();
  const QString path = QStringLiteral("\\Software\\X");
  for (const char* data : {"2", "3"}) {
    const std::vector<std::string> before = ExportedValueLines(kUser, path, QStringLiteral("v"), rvDefault);
    openKey(kUser, "Software\\X", Bitness::x32)->WriteString("v", data);
    form->LogValueChange(kUser, path, QStringLiteral("v"), before);
  }
  ASSERT_TRUE(CreateRegistryKey(kUser, "\\Software\\X\\K", ViewByte::v32));
  form->LogKeyCreate(kUser, path + QStringLiteral("\\K"));
  openKey(kUser, "Software\\X\\K", Bitness::x32)->WriteString("a", "x");
  form->LogValueRename(LogPane::undo, kUser, QStringLiteral("b"), QStringLiteral("a"), path + QStringLiteral("\\K"));
  ASSERT_TRUE(RenameRegistryValue(kUser, "\\Software\\X\\K", "a", false, "b"));
  form->LogValueRename(LogPane::redo, kUser, QStringLiteral("a"), QStringLiteral("b"), path + QStringLiteral("\\K"));
  const QStringList shown = undoLines();

  form->aChangeLogUndoApplyExecute();
  EXPECT_EQ(openKey(kUser, "Software\\X", Bitness::x32)->ReadString("v"), "1");
  EXPECT_FALSE(RegistryKeyExists(kUser, "\\Software\\X\\K", ViewByte::v32));
  // The pane itself still lists the changes in the order they were made.
  EXPECT_EQ(undoLines(), shown);
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(u'\n').toStdString();
}

// A prompter that answers the save dialog with one file name.
class SaveAnswer : public Prompter {
public:
  QString file;
  bool inputQuery(QWidget*, const QString&, const QString&, QString&) override { return false; }
  QString openFileName(QWidget*, const QString&, const QString&) override { return {}; }
  QString saveFileName(QWidget*, const QString&, const QString&, const QString&, int* filterIndex) override {
    if (filterIndex) *filterIndex = 1;
    return file;
  }
};

TEST_F(ChangeLogs, ASavedPaneIsAFileThatRepeatsTheChangesInAFreshRegistry) {
  {
    auto key = openKey(kUser, "Software\\X", Bitness::x32);
    key->WriteString("Test", "a");
    key->WriteString("Gone", "g");
  }
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X"));
  editors.text = QStringLiteral("b\u00E9");
  changeData(QStringLiteral("Test"));
  form->LogValueDelete(kUser, QStringLiteral("\\Software\\X"), QStringLiteral("Gone"));
  ASSERT_TRUE(DeleteRegistryValue(kUser, "\\Software\\X", "Gone", ViewByte::v32));

  SaveAnswer answer;
  answer.file = QString::fromStdString((dir / "redo.reg").string());
  setPrompter(&answer);
  form->aChangeLogRedoSaveExecute();
  setPrompter(nullptr);
  // A "REGEDIT4" file is in the Windows code page (Western), whatever the active one.
  const std::string saved = testsupport::readFileText(dir / "redo.reg");
  EXPECT_EQ(saved,
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\X]\r\n\"Test\"=\"b\xE9\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\X]\r\n\"Gone\"=-\r\n");
  // A file that cannot be written is said, not taken for saved.
  EXPECT_FALSE(form->SaveChangeLog(LogPane::undo, QString::fromStdString((dir / "missing" / "undo.reg").string())));
  EXPECT_EQ(boxes.texts.size(), 1);
  form.reset();

  testsupport::TempRegistry fresh;
  {
    auto key = openKey(kUser, "Software\\X", Bitness::x32);
    key->WriteString("Test", "a");
    key->WriteString("Gone", "g");
  }
  ASSERT_TRUE(ImportRegFile(dir / "redo.reg"));
  TMyRegistry reg;
  reg.SetRootKey(kUser);
  ASSERT_TRUE(reg.OpenKeyReadOnly("Software\\X"));
  EXPECT_EQ(reg.ReadString("Test"), "b\xC3\xA9");
  EXPECT_FALSE(reg.ValueExists("Gone"));
  reg.CloseKey();
  platform::registry::shutdownForTests();
}

// The panes take 8-bit exports in the active code page; a saved pane is a
// "REGEDIT4" file in the Windows code page: an accented name comes through
// either way.
TEST_F(ChangeLogs, AnAccentedNameSurvivesInEitherCodePage) {
  const struct {
    unsigned codePage;
    std::string savedName;
  } cases[] = {{1252, "Caf\xE9"}, {65001, "Caf\xC3\xA9"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codePage);
    CodePageGuard pinned(c.codePage);
    DeleteRegistryKey(kUser, "\\Software\\X", ViewByte::v32);
    openKey(kUser, "Software\\X", Bitness::x32)->WriteString(c.savedName, "a");
    showForm();
    selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X"));
    editors.text = QStringLiteral("b");
    changeData(QStringLiteral("Caf\u00E9"));
    EXPECT_EQ(redoLines(), QStringList({"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X]",
                                        QStringLiteral("\"Caf\u00E9\"=\"b\"")}));
    EXPECT_EQ(undoLines().value(3), QStringLiteral("\"Caf\u00E9\"=\"a\""));
    const fs::path file = dir / "redo.reg";
    ASSERT_TRUE(form->SaveChangeLog(LogPane::redo, QString::fromStdString(file.string())));
    EXPECT_EQ(testsupport::readFileText(file), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\X]\r\n\"Caf\xE9\"=\"b\"\r\n");
    form.reset();
  }
}

// After a few edits, the "Change logs" page as a person sees it. With
// HIVESCOPE_SCREENSHOT_DIR set, it is saved there as a PNG.
TEST_F(ChangeLogs, ThePageAfterAFewEdits) {
  {
    auto key = openKey(kUser, "Software\\Vendor\\Tool", Bitness::x32);
    key->WriteString("Name", "first");
    key->WriteInteger("Count", 3);
    key->WriteMultiString("Paths", "/a\r\n/b");
  }
  showForm();
  form->resize(1000, 640);
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\Tool"));
  editors.text = QStringLiteral("second");
  changeData(QStringLiteral("Name"));
  editors.number = 4;
  changeData(QStringLiteral("Count"));
  editors.text = QStringLiteral("/a\r\n/b\r\n/c\r\n");
  changeData(QStringLiteral("Paths"));
  form->LogValueDelete(kUser, QStringLiteral("\\Software\\Vendor\\Tool"), QStringLiteral("Count"));
  EXPECT_EQ(historyRows().size(), 4);
  form->pcMain->setCurrentWidget(form->tsChangeLogs);
  saveScreenshot(*form, "mainwindow-change-logs");
  auto* logs = form->tsChangeLogs->findChild<QTabWidget*>(QStringLiteral("pcChangeLogs"));
  ASSERT_NE(logs, nullptr);
  logs->setCurrentIndex(1);
  saveScreenshot(*form, "mainwindow-change-logs-undo");
}

}  // namespace
