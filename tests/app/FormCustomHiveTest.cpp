// The hive-file window: when OK may be pressed, what Execute gives back, and
// how the window looks.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <fstream>

#include "app/FormUnitCustomHive.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "tests/app/ModalWindow.h"
#include "tests/app/Screenshot.h"
#include "tests/support/TempDir.h"

namespace {

class CustomHive : public ::testing::Test {
protected:
  void SetUp() override {
    platform::registry::shutdownForTests();
    std::filesystem::create_directories(folder);
    std::ofstream(file) << "regf";
  }
  void TearDown() override { platform::registry::shutdownForTests(); }

  testsupport::TempRegistry registry;
  testsupport::TempDir dir{"hivescope-customhive"};
  std::filesystem::path folder = dir.path() / "config";
  std::filesystem::path file = folder / "SYSTEM";
  TformOpenCustomHive form;
};

TEST_F(CustomHive, OkNeedsAFileAKeyNameAndAFreeKey) {
  const struct {
    const char* what;
    bool selectFile;  // else the folder
    const char* root;
    const char* name;
    bool ok;
  } cases[] = {
      {"a folder", false, "HKEY_LOCAL_MACHINE", "TEMPHIVE", false},
      {"no key name", true, "HKEY_LOCAL_MACHINE", "", false},
      {"a key that exists", true, "HKEY_LOCAL_MACHINE", "SOFTWARE", false},
      {"a free key under the users", true, "HKEY_USERS", "SOFTWARE", true},
      {"a free key", true, "HKEY_LOCAL_MACHINE", "TEMPHIVE", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(form.vstFile->SelectPath(QString::fromStdString((c.selectFile ? file : folder).string())));
    form.vstFile->OnClick();  // what a click on the node does
    form.cbRootKey->setCurrentText(QString::fromLatin1(c.root));
    form.editKeyName->setText(QString::fromLatin1(c.name));
    EXPECT_EQ(form.bnOk->isEnabled(), c.ok);
  }
  // Clearing the name turns OK off at once.
  form.editKeyName->clear();
  EXPECT_FALSE(form.bnOk->isEnabled());
  EXPECT_FALSE(form.cbPersisent->isEnabled());
}

TEST_F(CustomHive, ExecuteGivesThePickedFileRootAndName) {
  QString fileName, keyName = QStringLiteral("TEMPHIVE");
  platform::HKEY root = platform::HKEY_USERS;
  bool persistent = false;
  onNextModalWindow([this](QDialog& dialog) {
    EXPECT_EQ(form.cbRootKey->currentText(), QStringLiteral("HKEY_USERS"));
    EXPECT_EQ(form.editKeyName->text(), QStringLiteral("TEMPHIVE"));
    EXPECT_FALSE(form.bnOk->isEnabled()) << "no file picked yet";
    form.vstFile->SelectPath(QString::fromStdString(file.string()));
    form.vstFile->OnClick();
    form.cbRootKey->setCurrentText(QStringLiteral("HKEY_LOCAL_MACHINE"));
    form.editKeyName->setText(QStringLiteral("MINE"));
    saveScreenshot(dialog, "custom-hive");
    ASSERT_TRUE(form.bnOk->isEnabled());
    form.bnOk->click();
  });
  ASSERT_TRUE(form.Execute(fileName, root, persistent, keyName));
  EXPECT_EQ(fileName.toStdString(), file.string());
  EXPECT_EQ(root, platform::HKEY_LOCAL_MACHINE);
  EXPECT_EQ(keyName, QStringLiteral("MINE"));
  EXPECT_FALSE(persistent);

  onNextModalWindow([](QDialog& dialog) { dialog.reject(); });
  EXPECT_FALSE(form.Execute(fileName, root, persistent, keyName));
}

}  // namespace
