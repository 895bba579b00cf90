// The main window's security page (the tree of the selected key, the report
// to a file or the clipboard, the NULL DACL) and its notes page.

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "app/FormUnitMain.h"
#include "app/ProgramWindows.h"
#include "core/UnitRegistryInfo.h"
#include "core/bwlConfig.h"
#include "platform/ProgramFiles.h"
#include "platform/Security.h"
#include "platform/hive/HiveFile.h"
#include "tests/app/KeyValueActionsWindow.h"
#include "tests/app/Screenshot.h"
#include "tests/app/ScriptedAnswers.h"
#include "tests/support/Files.h"
#include "tests/support/KeySecurity.h"
#include "tests/support/TestData.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

class FormMainSecurity : public KeyValueActionsWindow {
protected:
  // HKCU\Software\Sec\<name> made with the descriptor of `sddl`.
  static void makeKey(const std::string& name, const char* sddl) {
    testsupport::createKeyWithSddl(HKEY_CURRENT_USER, "Software\\Sec", "O:BAG:SYD:(A;CI;KA;;;BA)");
    testsupport::createKeyWithSddl(HKEY_CURRENT_USER, "Software\\Sec\\" + name, sddl);
  }

  // The security tree as lines, two blanks per level.
  QStringList treeOutline() const {
    QStringList out;
    std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* item, int level) {
      out << QString(level * 2, u' ') + item->text(0);
      for (int i = 0; i < item->childCount(); ++i) walk(item->child(i), level + 1);
    };
    for (int i = 0; i < form->tvInfo->topLevelItemCount(); ++i) walk(form->tvInfo->topLevelItem(i), 0);
    return out;
  }
};

TEST_F(FormMainSecurity, SelectingAKeyFillsTheSecurityTree) {
  makeKey("Golden", "O:BAG:SYD:PAI(A;CI;KA;;;BA)(A;CIIO;GA;;;CO)");
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\Sec\\Golden"));
  EXPECT_EQ(treeOutline(), QStringList({"Administrators (BUILTIN)", "  ACE Type", "    ACCESS_ALLOWED_ACE_TYPE",
                                        "  ACE Flags", "    CONTAINER_INHERIT_ACE", "  Rights", "    KEY_ALL_ACCESS",
                                        "CREATOR OWNER", "  ACE Type", "    ACCESS_ALLOWED_ACE_TYPE", "  ACE Flags",
                                        "    CONTAINER_INHERIT_ACE", "    INHERIT_ONLY_ACE", "  Rights",
                                        "    GENERIC_ALL"}));
  QTreeWidgetItem* owner = form->tvInfo->topLevelItem(1);
  EXPECT_FALSE(owner->icon(0).isNull());
  EXPECT_FALSE(owner->child(0)->icon(0).isNull());
  EXPECT_FALSE(owner->child(0)->child(0)->icon(0).isNull());
  EXPECT_TRUE(form->tvInfo->toolTip().startsWith(QStringLiteral("  NumSubKeys: 0\n  MaxSubKeyLen: 0\n")))
      << form->tvInfo->toolTip().toStdString();
  EXPECT_TRUE(form->tvInfo->toolTip().contains(QStringLiteral("  FileTime: ")));

  // A NULL DACL has no entries; "My Computer" is no key.
  makeKey("Open", "O:BAG:SYD:NO_ACCESS_CONTROL");
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\Sec\\Open"));
  EXPECT_TRUE(treeOutline().isEmpty());
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\Sec\\Golden"));
  form->selectNode(form->FMyComputerNode);
  form->tvKeysClick();
  EXPECT_TRUE(treeOutline().isEmpty());
  // Without the page the tree is left alone.
  form->pcMain->setTabVisible(form->pcMain->indexOf(form->tsInfo), false);
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\Sec\\Golden"));
  EXPECT_TRUE(treeOutline().isEmpty());
}

TEST_F(FormMainSecurity, ReportGoesToAFileAndTheClipboard) {
  makeKey("Golden", "O:BAG:SYD:PAI(A;CI;KA;;;BA)(A;CIIO;GA;;;CO)");
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\Sec\\Golden"));
  form->pmKeysPopup();
  ASSERT_TRUE(form->aSecurityInformationExportToFile->isEnabled());

  script.saveAnswer = QString::fromStdString((dir / "report.txt").string());
  form->aSecurityInformationExportToFile->trigger();
  const std::string text = testsupport::readFileText(dir / "report.txt");
  EXPECT_TRUE(text.starts_with("+ Accessing HKEY_CURRENT_USER\\Software\\Sec\\Golden\r\n  NumSubKeys: 0\r\n")) << text;
  EXPECT_NE(text.find("\r\nAdministrators (BUILTIN)\r\n+ ACE Type: ACCESS_ALLOWED_ACE_TYPE\r\n"), std::string::npos);
  EXPECT_TRUE(text.ends_with(
      "- Could not read even after allocating memory: A required privilege is not held by the client.\r\n"));
  EXPECT_EQ(text.find('\n', text.find("\r\n") + 2), text.find("\r\n", text.find("\r\n") + 2) + 1) << "CR LF only";

  form->aSecurityInformationExportToClipboard->trigger();
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), text);

  // A file that cannot be written is said; a cancelled dialog writes nothing.
  script.saveAnswer = QString::fromStdString((dir / "missing-folder" / "report.txt").string());
  form->aSecurityInformationExportToFile->trigger();
  ASSERT_EQ(script.texts.size(), 1);
  EXPECT_TRUE(script.texts[0].startsWith(QStringLiteral("Cannot create file \""))) << script.texts[0].toStdString();
  EXPECT_FALSE(fs::exists(dir / "missing-folder"));
  script.saveAnswer.clear();
  fs::remove(dir / "report.txt");
  form->aSecurityInformationExportToFile->trigger();
  EXPECT_FALSE(fs::exists(dir / "report.txt"));
}

// A loaded hive file is its owner's to read whole, so the SAM key, which its
// own descriptor keeps to SYSTEM, opens; granting all rights rewrites its
// descriptor and leaves its sub-keys' own.
TEST_F(FormMainSecurity, GrantAllRewritesTheSamOfARealHive) {
  HS_TESTDATA_OR_SKIP(sam, testsupport::unpackedTestdata("hives/real/SAM.xz"));
  mountCopy(sam, "TEMPHIVE");
  showForm();
  const auto opens = [] {
    TMyRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    return reg.OpenKeyReadOnly("\\TEMPHIVE\\SAM");
  };
  ASSERT_TRUE(opens());
  form->JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\TEMPHIVE\\SAM\\Domains"));
  ASSERT_EQ(form->GetSelectedLocation().keyPath, QStringLiteral("\\TEMPHIVE\\SAM\\Domains"));
  const NodeLocation domains = form->GetSelectedLocation();
  const QString domainsBefore = form->SecurityReportText(domains);
  form->JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\TEMPHIVE\\SAM"));
  ASSERT_EQ(form->GetSelectedLocation().keyPath, QStringLiteral("\\TEMPHIVE\\SAM"));
  const NodeLocation location = form->GetSelectedLocation();
  const QString before = form->SecurityReportText(location);
  EXPECT_FALSE(before.contains(QStringLiteral("Access denied"))) << before.toStdString();
  form->pmKeysPopup();
  ASSERT_TRUE(form->aSecurityInformationGrantAll->isEnabled());
  script.answers = {mrYes};
  form->aSecurityInformationGrantAll->trigger();
  EXPECT_TRUE(opens());
  EXPECT_EQ(script.texts.size(), 1) << "only the question";
  const QString after = form->SecurityReportText(location);
  EXPECT_TRUE(after.contains(QStringLiteral("  Control: 32772\r\n")));
  EXPECT_NE(after, before);
  // Its sub-keys keep their own descriptors.
  EXPECT_EQ(form->SecurityReportText(domains), domainsBefore);
}

// A hive file nobody may write (0444) is never written, whoever runs the
// program: the action asks first, then says why it does nothing.
TEST_F(FormMainSecurity, GrantAllOnAReadOnlyHiveFileAsksAndThenRefuses) {
  const fs::path hive = dir / "RO";
  {
    auto h = hive::HiveFile::createEmpty().value();
    ASSERT_TRUE(h->createKey(h->root(), u"kept"));
    ASSERT_TRUE(h->saveAs(hive).ok());
  }
  fs::permissions(hive, fs::perms(0444), fs::perm_options::replace);
  const std::string bytes = testsupport::readFileText(hive);
  ASSERT_TRUE(testsupport::setRestorePrivilege());
  ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "RO", hive.c_str()), ERROR_SUCCESS);
  mounted.push_back("RO");
  showForm();
  form->JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\RO\\kept"));
  ASSERT_EQ(form->GetSelectedLocation().keyPath, QStringLiteral("\\RO\\kept"));
  form->pmKeysPopup();
  ASSERT_TRUE(form->aSecurityInformationGrantAll->isEnabled());

  const QString question = QStringLiteral(
      "Grant all rights to everyone on the key \"HKEY_LOCAL_MACHINE\\RO\\kept\"?\n"
      "Everyone may then read, change and delete it.");
  script.answers = {mrNo};
  form->aSecurityInformationGrantAll->trigger();
  EXPECT_EQ(script.texts, QStringList{question});
  script.texts.clear();
  script.answers = {mrYes};
  form->aSecurityInformationGrantAll->trigger();
  EXPECT_EQ(script.texts, (QStringList{question, QStringLiteral("Nothing was changed: the hive file \"%1\" may not be "
                                                                "written (the file is read-only). Mount a writable "
                                                                "copy of it to change its keys.")
                                                     .arg(QString::fromStdString(hive.string()))}));
  form->close();
  form.reset();
  mounted.clear();
  EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "RO"), ERROR_SUCCESS);
  EXPECT_TRUE(testsupport::readFileText(hive) == bytes) << "the hive file was written";
}

TEST_F(FormMainSecurity, HiddenDebugPageAddsNotesWithoutSaving) {
  testsupport::ScopedEnv xdg{"XDG_DATA_HOME", dir.path().string()};
  showForm();
  const int debugTab = form->pcMain->indexOf(form->tsDatabaseInfoDebug);
  EXPECT_FALSE(form->pcMain->isTabVisible(debugTab));
  form->tsDatabaseInfoDebug->findChild<QLineEdit*>(QStringLiteral("editInfoDBKey"))
      ->setText(QStringLiteral("HKEY_CURRENT_USER\\Software"));
  form->tsDatabaseInfoDebug->findChild<QToolButton*>(QStringLiteral("bnInfoDBAdd"))->click();
  ASSERT_EQ(form->InfoDatabase().Count(), 1);
  EXPECT_EQ(form->InfoDatabase().GetItem(0).Value, "value name here");
  EXPECT_EQ(form->InfoDatabase().GetItem(0).Info, std::vector<std::string>{"text to be stored here"});
  EXPECT_FALSE(fs::exists(dir / "hivescope" / "Hivescope.rdb"));
  // Added with a value name, so it is no note on the key itself.
  form->ShowKeyInfo(QStringLiteral("HKEY_CURRENT_USER\\Software"));
  EXPECT_TRUE(form->mInfoDBKey->toPlainText().isEmpty());
}

// The notes page over the program's own start-up, so a restart reads what
// was saved.
class FormMainNotes : public ::testing::Test {
protected:
  void SetUp() override {
    setMessageBoxes(&script);
    setPrompter(&script);
    ConfigManager().SetAppName("Hivescope");
  }
  void TearDown() override {
    windows.reset();
    setMessageBoxes(nullptr);
    setPrompter(nullptr);
  }
  TformMain& start() {
    windows.reset();
    TMyRegistry reg;
    reg.OpenKey("\\Software\\Other", true);
    windows = std::make_unique<TProgramWindows>(&lister, TCommandLine({"-nolastjump"}, data.path()));
    windows->Main().show();
    QApplication::processEvents();
    return windows->Main();
  }
  fs::path database() const { return data / "hivescope" / "Hivescope.rdb"; }

  testsupport::TempRegistry registry;
  testsupport::TempDir data{"hivescope-notes"};
  testsupport::ScopedEnv xdg{"XDG_DATA_HOME", data.path().string()};
  RegistryKeyLister lister;
  ScriptedAnswers script;
  std::unique_ptr<TProgramWindows> windows;
};

TEST_F(FormMainNotes, NotesAreSavedAndComeBackAfterARestart) {
  TformMain& form = start();
  form.JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Software"));
  EXPECT_TRUE(form.mInfoDBKey->toPlainText().isEmpty());
  EXPECT_TRUE(form.bnInfoDBSaveKeyInfo->isHidden());
  form.pcMain->setCurrentWidget(form.tsDatabaseInfo);
  form.mInfoDBKey->setFocus();
  QTest::keyClicks(form.mInfoDBKey, QStringLiteral("first line"));
  QTest::keyClick(form.mInfoDBKey, Qt::Key_Return);
  QTest::keyClicks(form.mInfoDBKey, QStringLiteral("zweite Zeile"));
  // A letter no key of the test keyboard has, as an input method gives it.
  form.mInfoDBKey->insertPlainText(QStringLiteral(" \u00e4"));
  EXPECT_FALSE(form.bnInfoDBSaveKeyInfo->isHidden());
  saveScreenshot(form, "notes-page-typed");
  form.bnInfoDBSaveKeyInfo->click();
  EXPECT_TRUE(form.bnInfoDBSaveKeyInfo->isHidden());
  EXPECT_TRUE(script.messages.isEmpty()) << script.messages.join(u'|').toStdString();
  ASSERT_TRUE(testsupport::readFileText(database()).starts_with("TPF0"));
  EXPECT_EQ(testsupport::permissionBits(database()), 0600u);

  // Another key shows its own (no) notes; the value memo is never filled.
  form.JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Other"));
  EXPECT_TRUE(form.mInfoDBKey->toPlainText().isEmpty());
  EXPECT_TRUE(form.bnInfoDBSaveKeyInfo->isHidden());

  TformMain& again = start();
  again.JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Software"));
  EXPECT_EQ(again.mInfoDBKey->toPlainText(), QStringLiteral("first line\nzweite Zeile \u00e4"));
  EXPECT_TRUE(again.bnInfoDBSaveKeyInfo->isHidden());
  // Found whatever the letter case of the key asked for.
  again.ShowKeyInfo(QStringLiteral("hkey_current_user\\SOFTWARE"));
  EXPECT_EQ(again.mInfoDBKey->toPlainText(), QStringLiteral("first line\nzweite Zeile \u00e4"));
}

TEST_F(FormMainNotes, SavingReplacesTheNotesAndKeepsTheLinks) {
  {
    TRegistryInfo db;
    TRegistryInfoItem& item = db.Add();
    item.Key = "HKEY_CURRENT_USER\\Software";
    item.Info = {"old"};
    item.URLs = {"https://example.org/"};
    ASSERT_EQ(platform::createPrivateFolders(database().parent_path()), 0);
    db.SaveToFile(database().string());
  }
  TformMain& form = start();
  form.JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Software"));
  EXPECT_EQ(form.mInfoDBKey->toPlainText(), QStringLiteral("old"));
  form.mInfoDBKey->setPlainText(QStringLiteral("new"));
  form.aInfoDBSaveKeyInfo->trigger();
  TRegistryInfo db;
  db.LoadFromFile(database().string());
  ASSERT_EQ(db.Count(), 1);
  EXPECT_EQ(db.GetItem(0).Info, std::vector<std::string>{"new"});
  EXPECT_EQ(db.GetItem(0).URLs, std::vector<std::string>{"https://example.org/"});
}

TEST_F(FormMainNotes, ADatabaseThatCannotBeWrittenIsSaidAndTheNotesStay) {
  TformMain& form = start();
  // The data folder's place is taken by a file.
  { std::ofstream(data / "hivescope-blocker") << "x"; }
  testsupport::ScopedEnv blocked{"XDG_DATA_HOME", (data / "hivescope-blocker").string()};
  form.JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Software"));
  form.mInfoDBKey->setPlainText(QStringLiteral("kept"));
  form.aInfoDBSaveKeyInfo->trigger();
  ASSERT_EQ(script.messages.size(), 1);
  EXPECT_TRUE(script.messages[0].startsWith(QStringLiteral("Cannot create file \""))) << script.messages[0].toStdString();
  EXPECT_FALSE(form.bnInfoDBSaveKeyInfo->isHidden()) << "the notes can still be saved";
  form.JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Other"));
  form.JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Software"));
  EXPECT_EQ(form.mInfoDBKey->toPlainText(), QStringLiteral("kept"));
}

// The security page for a key of a real SYSTEM hive, to look at.
TEST_F(FormMainSecurity, SecurityPageOfARealSystemHive) {
  HS_TESTDATA_OR_SKIP(system, testsupport::unpackedTestdata("hives/real/SYSTEM.xz"));
  mountCopy(system, "TEMPHIVE");
  showForm();
  form->resize(1000, 650);
  selectKey(QStringLiteral("HKEY_LOCAL_MACHINE\\TEMPHIVE\\ControlSet001\\Control"));
  EXPECT_GT(form->tvInfo->topLevelItemCount(), 2);
  form->pcMain->setCurrentWidget(form->tsInfo);
  form->tvInfo->expandAll();
  form->tvKeys->expand(form->keyModel()->indexOf(form->selectedNode()));
  QApplication::processEvents();
  saveScreenshot(*form, "security-page-system-hive");
}

}  // namespace
