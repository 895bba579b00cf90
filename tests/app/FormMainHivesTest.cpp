// "Load hive file..." and "Open user registry (logon)..." in the main window:
// a hive mounted for the run and written back when the program ends, a file
// that is no hive, and the logon this platform does not offer.

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <fstream>

#include "app/FormUnitCustomHive.h"
#include "app/FormUnitMain.h"
#include "app/FormUnitUserLogon.h"
#include "app/KeyLister.h"
#include "app/ProgramWindows.h"
#include "app/UiSeams.h"
#include "core/bwlConfig.h"
#include "core/bwlRegistry.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/RecordingMessageBoxes.h"
#include "tests/support/Files.h"
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
