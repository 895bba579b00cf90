// "Load hive file..." and "Open user registry (logon)..." in the main window:
// a hive mounted for the run and written back when the program ends, a file
// that is no hive, and the logon this platform does not offer.

#include <QApplication>
#include <QCheckBox>
#include <QFont>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

#include "app/FormUnitCustomHive.h"
#include "app/FormUnitMain.h"
#include "app/FormUnitUserLogon.h"
#include "app/KeyLister.h"
#include "app/ProgramWindows.h"
#include "app/UiSeams.h"
#include "core/bwlConfig.h"
#include "core/SearchEngine.h"
#include "core/bwlRegistry.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/RecordingMessageBoxes.h"
#include "tests/app/ScriptedAnswers.h"
#include "tests/support/Files.h"
#include "tests/support/HivexKeys.h"
#include "tests/support/Privileges.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

namespace fs = std::filesystem;

namespace {

class MainHives : public ::testing::Test {
protected:
  void SetUp() override {
    platform::registry::shutdownForTests();
    setMessageBoxes(&boxes);
    ConfigManager().SetAppName("Hivescope");
    ASSERT_TRUE(testsupport::setRestorePrivilege());
  }
  void TearDown() override {
    windows.reset();
    setMessageBoxes(nullptr);
    platform::registry::shutdownForTests();
  }
  TformMain& start() {
    windows = std::make_unique<TProgramWindows>(&lister, TCommandLine({}, data.path()));
    TformMain& form = windows->Main();
    form.show();
    QApplication::processEvents();
    return form;
  }
  // Picks `file` in the hive-file window and mounts it as TEMPHIVE under
  // HKEY_LOCAL_MACHINE.
  void mountThroughTheWindow(TformMain& form, const fs::path& file) {
    onNextModalWindow([&form, file](QDialog&) {
      TformOpenCustomHive* dialog = form.formOpenCustomHive();
      ASSERT_TRUE(dialog->vstFile->SelectPath(QString::fromStdString(file.string())));
      dialog->vstFile->OnClick();
      EXPECT_EQ(dialog->editKeyName->text(), QStringLiteral("TEMPHIVE"));
      EXPECT_EQ(dialog->cbRootKey->currentText(), QStringLiteral("HKEY_LOCAL_MACHINE"));
      ASSERT_TRUE(dialog->bnOk->isEnabled());
      dialog->bnOk->click();
    });
    form.aFileOpenHiveExecute();
  }

  testsupport::TempRegistry registry;
  testsupport::TempDir data{"hivescope-hives"};
  testsupport::ScopedEnv xdg{"XDG_DATA_HOME", data.path().string()};
  RegistryKeyLister lister;
  RecordingMessageBoxes boxes;
  std::unique_ptr<TProgramWindows> windows;
};

// The whole hive as the hive tools read it, one line per value.
std::string exported(const fs::path& hive) {
  return testsupport::commandOutput("hivexregedit --export " + testsupport::shellQuote(hive.string()) + " '\\'");
}

TEST_F(MainHives, AHiveLoadedForTheRunIsWrittenBackAtExit) {
  HS_TESTDATA_OR_SKIP(system, testsupport::unpackedTestdata("hives/real/SYSTEM.xz"));
  if (!testsupport::haveTool("hivexregedit")) GTEST_SKIP() << "hivexregedit is not installed";
  const fs::path hive = data.path() / "SYSTEM";
  fs::copy_file(system, hive);
  const std::string before = exported(hive);
  ASSERT_FALSE(before.empty());

  TformMain& form = start();
  form.JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE"));
  mountThroughTheWindow(form, hive);
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(u'\n').toStdString();
  ASSERT_EQ(form.FCustomHives.size(), 1u);
  EXPECT_EQ(form.FCustomHives[0].Line, QStringLiteral("TEMPHIVE=") + QString::fromStdString(hive.string()));

  // The tree shows the mount once its root is read again.
  EXPECT_EQ(FindChildNode(form.selectedNode(), QStringLiteral("TEMPHIVE"), false), nullptr);
  form.aKeyRefreshExecute();
  EXPECT_NE(FindChildNode(form.selectedNode(), QStringLiteral("TEMPHIVE"), false), nullptr);

  {
    TMyRegistry64 reg;
    reg.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("\\TEMPHIVE\\Setup", false));
    reg.WriteString("OsLoaderPath", "\\changed");
  }
  form.aFileExit->trigger();
  windows.reset();
  // Unmounted at exit, so the key is gone from the registry.
  TMyRegistry64 reg;
  reg.SetRootKey(platform::HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(reg.KeyExists("\\TEMPHIVE"));

  const std::string after = exported(hive);
  std::string expected = before;
  const std::string line = "\"OsLoaderPath\"=hex(1):5c,00,00,00";
  const std::size_t at = expected.find(line);
  ASSERT_NE(at, std::string::npos) << "the value as the tools print it";
  expected.replace(at, line.size(), "\"OsLoaderPath\"=hex(1):5c,00,63,00,68,00,61,00,6e,00,67,00,65,00,64,00,00,00");
  EXPECT_EQ(after, expected);
}

TEST_F(MainHives, AFileThatIsNoHiveIsSaidAndNotRecorded) {
  const fs::path file = data.path() / "notes.txt";
  std::ofstream(file) << "these are no hive's bytes\n";
  TformMain& form = start();
  mountThroughTheWindow(form, file);
  EXPECT_EQ(boxes.texts, QStringList({"Could not load this file as a hive file: \nThe configuration registry "
                                      "database is corrupt."}));
  EXPECT_TRUE(form.FCustomHives.empty());
}

// Every key of the node's sub-tree as "\A\B" below it, each node expanded
// as a click on its button would.
void collectTree(TformMain& form, KeyNode* node, const std::string& rel, std::vector<std::string>& out, int depth) {
  ASSERT_LT(depth, 512);
  out.push_back(rel);
  form.tvKeysExpanding(node);
  for (int i = 0; i < node->count(); ++i) {
    KeyNode* child = node->child(i);
    collectTree(form, child, rel + "\\" + child->name().toStdString(), out, depth + 1);
  }
}

class KeyRows final : public SearchSink {
public:
  std::vector<std::string> paths;
  void AddResult(TSearchListItem item) override { paths.push_back(item.KeyPath); }
  void SetStatusText(const std::string&) override {}
  void ProcessMessages() override {}
  bool StopRequested() override { return false; }
  void SearchFailed(const std::string& message) override { ADD_FAILURE() << message; }
};

std::vector<std::string> missingFrom(std::vector<std::string> have, std::vector<std::string> want) {
  std::sort(have.begin(), have.end());
  std::sort(want.begin(), want.end());
  std::vector<std::string> missing;
  std::set_difference(want.begin(), want.end(), have.begin(), have.end(), std::back_inserter(missing));
  return missing;
}

// A real SYSTEM hive loaded through the window: every key another reader
// lists is in the tree and found by a search, whatever the keys' own
// permissions say (a loaded file is its owner's to read).
TEST_F(MainHives, EveryKeyOfARealHiveIsInTheTreeAndFoundBySearch) {
  HS_TESTDATA_OR_SKIP(system, testsupport::unpackedTestdata("hives/real/SYSTEM.xz"));
  const fs::path hive = data.path() / "SYSTEM";
  fs::copy_file(system, hive);
  fs::permissions(hive, fs::perms::owner_write, fs::perm_options::add);
  const auto listed = testsupport::hivexmlKeyPaths(hive);
  if (!listed) GTEST_SKIP() << "hivexml (libhivex-bin) is not installed";

  TformMain& form = start();
  form.JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE"));
  mountThroughTheWindow(form, hive);
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(u'\n').toStdString();
  EXPECT_EQ(form.statusText(0), QStringLiteral("The hive file %1 is loaded as HKEY_LOCAL_MACHINE\\TEMPHIVE.")
                                    .arg(QString::fromStdString(hive.string())));
  form.aKeyRefreshExecute();
  KeyNode* mount = FindChildNode(form.selectedNode(), QStringLiteral("TEMPHIVE"), false);
  ASSERT_NE(mount, nullptr);
  EXPECT_TRUE(form.MountNote(mount).isEmpty()) << "a clean hive takes changes";

  std::vector<std::string> tree;
  collectTree(form, mount, "", tree, 0);
  EXPECT_EQ(tree.size(), listed->size());
  const auto notInTree = missingFrom(tree, *listed);
  EXPECT_TRUE(notInTree.empty()) << notInTree.size() << " keys not in the tree, the first " << notInTree.front();

  SearchOptions options;
  options.Values = false;
  options.Data = false;
  options.HighSpeed = true;
  options.CompareMode = cmpRegExpr;
  KeyRows rows;
  RunSearch(rows, options, platform::HKEY_LOCAL_MACHINE, "\\TEMPHIVE", rvDefault, 3, ".");
  std::vector<std::string> found;
  for (const std::string& path : rows.paths) found.push_back(path.substr(std::string("\\TEMPHIVE").size()));
  std::vector<std::string> below(listed->begin(), listed->end());
  std::erase(below, std::string());  // the start key itself is no result
  const auto notFound = missingFrom(found, below);
  EXPECT_TRUE(notFound.empty()) << notFound.size() << " keys not found, the first " << notFound.front();
}

// A hive whose last changes are in logs that are not beside it loads
// read-only: the status bar says so at once, its node is marked, and a change
// refused in it says why and what the user can do.
TEST_F(MainHives, AHiveLoadedReadOnlySaysWhyAtOnceAndWithEveryRefusal) {
  HS_TESTDATA_OR_SKIP(security, testsupport::unpackedTestdata("hives/real/SECURITY.xz"));
  const fs::path hive = data.path() / "SECURITY";
  fs::copy_file(security, hive);
  fs::permissions(hive, fs::perms::owner_write, fs::perm_options::add);

  TformMain& form = start();
  form.JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE"));
  mountThroughTheWindow(form, hive);
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(u'\n').toStdString();
  const QString note = TformMain::ReadOnlyHiveNote(platform::HKEY_LOCAL_MACHINE, QStringLiteral("\\TEMPHIVE"));
  EXPECT_TRUE(note.contains(QStringLiteral("read-only"))) << note.toStdString();
  EXPECT_TRUE(note.contains(QStringLiteral("(SECURITY.LOG1, SECURITY.LOG2)"))) << note.toStdString();
  EXPECT_EQ(form.statusText(0), note);

  form.aKeyRefreshExecute();
  KeyNode* hklm = form.selectedNode();
  KeyNode* mount = FindChildNode(hklm, QStringLiteral("TEMPHIVE"), false);
  ASSERT_NE(mount, nullptr);
  const QModelIndex index = form.keyModel()->indexOf(mount);
  EXPECT_EQ(index.data(Qt::ToolTipRole).toString(), note);
  EXPECT_TRUE(index.data(Qt::FontRole).value<QFont>().italic());
  EXPECT_FALSE(form.keyModel()->indexOf(hklm).data(Qt::FontRole).isValid()) << "only the hive's node is marked";

  // Selecting a key of it says so again; every refusal carries the note.
  form.selectNode(mount);
  form.tvKeysClick();
  EXPECT_TRUE(form.statusText(1).startsWith(QStringLiteral("Read-only hive. Last write access: ")))
      << form.statusText(1).toStdString();
  ScriptedAnswers answers;
  answers.replies = {QStringLiteral("made")};
  setPrompter(&answers);
  form.aKeyAddExecute();
  setPrompter(nullptr);
  ASSERT_EQ(boxes.texts.size(), 1);
  EXPECT_TRUE(boxes.texts[0].startsWith(QStringLiteral("Failed to create key \\TEMPHIVE\\made"))) << boxes.texts[0].toStdString();
  EXPECT_TRUE(boxes.texts[0].endsWith(QStringLiteral("\n\n") + note)) << boxes.texts[0].toStdString();
  EXPECT_FALSE(platform::registry::mountStatuses().empty());
}

// The keys' own permissions count only when asked for at loading; a key
// they refuse says why when selected instead of looking empty.
TEST_F(MainHives, PermissionsAreCheckedOnRequestAndARefusedKeySaysWhy) {
  HS_TESTDATA_OR_SKIP(sam, testsupport::unpackedTestdata("hives/real/SAM.xz"));
  const fs::path hive = data.path() / "SAM";
  fs::copy_file(sam, hive);
  fs::permissions(hive, fs::perms::owner_write, fs::perm_options::add);
  TformMain& form = start();
  form.JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE"));
  onNextModalWindow([&form, hive](QDialog&) {
    TformOpenCustomHive* dialog = form.formOpenCustomHive();
    EXPECT_FALSE(dialog->cbCheckSecurity->isChecked()) << "off unless asked for";
    ASSERT_TRUE(dialog->vstFile->SelectPath(QString::fromStdString(hive.string())));
    dialog->vstFile->OnClick();
    dialog->cbCheckSecurity->setChecked(true);
    dialog->bnOk->click();
  });
  form.aFileOpenHiveExecute();
  platform::registry::MountStatus status;
  ASSERT_EQ(platform::registry::mountStatusOf(platform::HKEY_LOCAL_MACHINE, {u"TEMPHIVE"}, &status),
            platform::ERROR_SUCCESS);
  EXPECT_TRUE(status.accessChecks);
  EXPECT_TRUE(form.statusText(0).contains(QStringLiteral("permissions are checked"))) << form.statusText(0).toStdString();

  // The default registry's SAM key is SYSTEM's alone.
  KeyNode* hklm = form.selectedNode();
  form.aKeyRefreshExecute();
  KeyNode* samNode = FindChildNode(hklm, QStringLiteral("SAM"), false);
  ASSERT_NE(samNode, nullptr);
  form.selectNode(samNode);
  form.tvKeysClick();
  EXPECT_TRUE(form.statusText(1).startsWith(QStringLiteral("Access is denied. The key's permissions refuse you.")))
      << form.statusText(1).toStdString();
}

// This platform logs nobody on: the failure is said with the hint, and the
// list of logons stays as it was.
TEST_F(MainHives, TheLogonThatCannotBeDoneLeavesNoEntry) {
  TformMain& form = start();
  onNextModalWindow([&form](QDialog&) {
    TformUserLogon* dialog = form.formUserLogon();
    dialog->cbUsername->setEditText(QStringLiteral("joe"));
    dialog->editPassword->setText(QStringLiteral("secret"));
    dialog->bnOk->click();
  });
  form.aFileLogonUserExecute();
  EXPECT_EQ(boxes.texts, QStringList({"The request is not supported.\nPlease make sure you specified username and "
                                      "password correctly, and the user is not already logged on."}));
  EXPECT_TRUE(form.FLogons.empty());
  EXPECT_TRUE(form.formUserLogon()->editPassword->text().isEmpty());
}

}  // namespace
