// The main window on the registry store itself: a fresh default registry per
// test, the key lister the program uses, and a real SYSTEM hive mounted.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QPixmap>
#include <QTreeView>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "app/FormUnitMain.h"
#include "app/KeyLister.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "platform/Security.h"
#include "tests/support/Privileges.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"
#include "tests/app/QtPrinters.h"
#include "tests/app/Screenshot.h"

namespace fs = std::filesystem;

namespace {

QStringList childTexts(const KeyNode* node) {
  QStringList out;
  for (int i = 0; i < node->count(); ++i) out << node->child(i)->text;
  return out;
}

bool createKey(platform::HKEY root, const char* path, platform::REGSAM view = 0) {
  platform::HKEY key;
  if (platform::RegCreateKeyExA(root, path, 0, nullptr, 0, platform::KEY_ALL_ACCESS | view, nullptr, &key, nullptr) !=
      platform::ERROR_SUCCESS)
    return false;
  platform::RegCloseKey(key);
  return true;
}


class MainWindowOnRegistry : public ::testing::Test {
protected:
  void SetUp() override {
    platform::registry::shutdownForTests();
    platform::resetProcessTokenForTests();
    platform::setWow64ForTests(true);
    // The same key under SOFTWARE in each view, and one key of each view alone.
    ASSERT_TRUE(createKey(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor64", platform::KEY_WOW64_64KEY));
    ASSERT_TRUE(createKey(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor32\\Product", platform::KEY_WOW64_32KEY));
    ASSERT_TRUE(createKey(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", platform::KEY_WOW64_64KEY));
    ASSERT_TRUE(createKey(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", platform::KEY_WOW64_32KEY));
    ASSERT_TRUE(createKey(platform::HKEY_CURRENT_USER, "Software\\Vendor\\Tool"));
  }
  void TearDown() override {
    if (form) form->close();
    form.reset();
    platform::registry::shutdownForTests();
  }
  void showForm() {
    form = std::make_unique<TformMain>();
    form->setKeyLister(&lister);
    form->show();
    QApplication::processEvents();
  }
  KeyNode* root(const char* name) { return FindChildNode(form->FMyComputerNode, QString::fromLatin1(name), false); }
  KeyNode* expanded(KeyNode* node) {
    form->tvKeysExpanding(node);
    return node;
  }
  QString selectedPath() {
    KeyNode* n = form->selectedNode();
    return n ? form->GetNodeLocation(n).displayPath : QString();
  }

  testsupport::TempRegistry registry;
  RegistryKeyLister lister;
  std::unique_ptr<TformMain> form;
};

TEST_F(MainWindowOnRegistry, TreeShowsMyComputerAndTheSevenRoots) {
  showForm();
  KeyTreeModel* model = form->keyModel();
  ASSERT_EQ(model->root()->count(), 1);
  EXPECT_EQ(form->FMyComputerNode->text, form->Msg(0));
  EXPECT_EQ(form->Msg(0), QStringLiteral("My Computer"));
  EXPECT_EQ(childTexts(form->FMyComputerNode),
            QStringList({"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS",
                         "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"}));
  EXPECT_TRUE(form->tvKeys->isExpanded(model->indexOf(form->FMyComputerNode)));
  EXPECT_TRUE(lister.isWow64());
}

TEST_F(MainWindowOnRegistry, LocalMachineShowsSoftwareOncePerViewAndHidesWow6432Node) {
  showForm();
  KeyNode* hklm = expanded(root("HKEY_LOCAL_MACHINE"));
  const QStringList top = childTexts(hklm);
  EXPECT_EQ(top.count("SOFTWARE"), 2) << top.join(u',').toStdString();
  EXPECT_TRUE(top.contains("SYSTEM"));
  const int first = static_cast<int>(top.indexOf("SOFTWARE"));
  KeyNode* sw64 = hklm->child(first);
  KeyNode* sw32 = hklm->child(first + 1);
  EXPECT_EQ(sw64->imageIndex, 17);
  EXPECT_EQ(sw32->imageIndex, 15);

  const QStringList in64 = childTexts(expanded(sw64));
  const QStringList in32 = childTexts(expanded(sw32));
  SCOPED_TRACE("64: " + in64.join(u',').toStdString() + " / 32: " + in32.join(u',').toStdString());
  EXPECT_TRUE(in64.contains("Vendor64"));
  EXPECT_FALSE(in64.contains("Vendor32"));
  EXPECT_TRUE(in32.contains("Vendor32"));
  EXPECT_FALSE(in32.contains("Vendor64"));
  EXPECT_EQ(in64.count("Shared"), 1);
  EXPECT_EQ(in32.count("Shared"), 1);
  EXPECT_FALSE(in64.contains("Wow6432Node"));
  EXPECT_FALSE(in32.contains("Wow6432Node"));
  // The 32-bit twin reaches its keys through the 32-bit view all the way down.
  KeyNode* vendor32 = FindChildNode(sw32, QStringLiteral("Vendor32"), false);
  ASSERT_NE(vendor32, nullptr);
  EXPECT_TRUE(vendor32->hasChildren);
  EXPECT_EQ(childTexts(expanded(vendor32)), QStringList({"Product"}));
  EXPECT_EQ(vendor32->child(0)->imageIndex, 15);
}

TEST_F(MainWindowOnRegistry, WithoutWow64SoftwareAppearsOnceAndStillHidesWow6432Node) {
  platform::setWow64ForTests(false);
  showForm();
  KeyNode* hklm = expanded(root("HKEY_LOCAL_MACHINE"));
  EXPECT_EQ(childTexts(hklm).count("SOFTWARE"), 1);
  KeyNode* software = FindChildNode(hklm, QStringLiteral("SOFTWARE"), false);
  ASSERT_NE(software, nullptr);
  EXPECT_EQ(software->imageIndex, 1);
  EXPECT_FALSE(childTexts(expanded(software)).contains("Wow6432Node"));
}

TEST_F(MainWindowOnRegistry, JumpFormsSelectTheSameNodeAndShowTheLastWriteTime) {
  showForm();
  const char* forms[] = {
      "My Computer\\HKEY_CURRENT_USER\\Software",
      "HKEY_CURRENT_USER\\Software\\",
      "HKEY_CURRENT_USER \\ Software",
  };
  KeyNode* first = nullptr;
  for (const char* path : forms) {
    SCOPED_TRACE(path);
    form->tvKeys->clearSelection();
    form->JumpToPath(QString::fromLatin1(path));
    ASSERT_NE(form->selectedNode(), nullptr);
    if (!first) first = form->selectedNode();
    EXPECT_EQ(form->selectedNode(), first);
  }
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Software"));
  EXPECT_EQ(childTexts(root("HKEY_CURRENT_USER")).count("Software"), 1);
  EXPECT_EQ(form->cbAddress->count(), 1);
  EXPECT_TRUE(form->statusText(1).startsWith(QStringLiteral("Last write access: "))) << form->statusText(1).toStdString();

  // Deeper, through levels not yet expanded; a missing key keeps the selection.
  form->JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\Tool"));
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Software\\Vendor\\Tool"));
  form->JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\Missing"));
  EXPECT_EQ(selectedPath(), QStringLiteral("My Computer\\HKEY_CURRENT_USER\\Software\\Vendor\\Tool"));

  // A key made after its parent was listed is found and added once.
  ASSERT_TRUE(createKey(platform::HKEY_CURRENT_USER, "Software\\Vendor\\Added"));
  form->JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\Added"));
  form->JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Vendor\\Added"));
  EXPECT_EQ(childTexts(form->selectedNode()->parent), QStringList({"Added", "Tool"}));
}

TEST_F(MainWindowOnRegistry, DeleteIsOffOnMyComputerAndRootsAndOnForKeys) {
  showForm();
  KeyNode* hkcu = expanded(root("HKEY_CURRENT_USER"));
  KeyNode* software = FindChildNode(hkcu, QStringLiteral("Software"), false);
  ASSERT_NE(software, nullptr);
  struct Case {
    const char* name;
    KeyNode* node;
    bool del, add;
  } cases[] = {
      {"My Computer", form->FMyComputerNode, false, false},
      {"root", hkcu, false, true},
      {"key", software, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    form->selectNode(c.node);
    form->pmKeysPopup();
    EXPECT_EQ(form->aKeyDelete->isEnabled(), c.del);
    EXPECT_EQ(form->aKeyRename->isEnabled(), c.del);
    EXPECT_EQ(form->aKeyAdd->isEnabled(), c.add);
    EXPECT_TRUE(form->aKeyRefresh->isEnabled());
  }
}

TEST_F(MainWindowOnRegistry, RefreshShowsKeysMadeSinceTheNodeWasRead) {
  showForm();
  KeyNode* hkcu = expanded(root("HKEY_CURRENT_USER"));
  ASSERT_FALSE(childTexts(hkcu).contains("Fresh"));
  ASSERT_TRUE(createKey(platform::HKEY_CURRENT_USER, "Fresh"));
  form->selectNode(hkcu);
  form->aKeyRefreshExecute();
  EXPECT_EQ(childTexts(hkcu).count("Fresh"), 1);
}

// A real SYSTEM hive mounted as HKLM\SYSTEM_TEST and opened a few levels deep.
// With HIVESCOPE_SCREENSHOT_DIR set, the window is saved there as a PNG to
// look at.
TEST_F(MainWindowOnRegistry, MountedSystemHiveBrowses) {
  HS_TESTDATA_OR_SKIP(unpacked, testsupport::unpackedTestdata("hives/real/SYSTEM.xz"));
  testsupport::TempDir dir;
  const fs::path hive = dir / "SYSTEM";
  fs::copy_file(unpacked, hive);
  ASSERT_TRUE(testsupport::setRestorePrivilege());
  ASSERT_EQ(platform::RegLoadKeyA(platform::HKEY_LOCAL_MACHINE, "SYSTEM_TEST", hive.c_str()),
            platform::ERROR_SUCCESS);

  showForm();
  form->resize(1000, 700);
  KeyNode* hklm = expanded(root("HKEY_LOCAL_MACHINE"));
  form->tvKeys->expand(form->keyModel()->indexOf(hklm));
  KeyNode* mounted = FindChildNode(hklm, QStringLiteral("SYSTEM_TEST"), false);
  ASSERT_NE(mounted, nullptr);
  EXPECT_TRUE(mounted->hasChildren);
  const QStringList top = childTexts(expanded(mounted));
  EXPECT_TRUE(top.contains("Select")) << top.join(u',').toStdString();
  EXPECT_TRUE(top.contains("ControlSet001")) << top.join(u',').toStdString();
  // Sorted as the tree sorts, so the search by halves finds every child.
  for (int i = 0; i < mounted->count(); ++i) {
    SCOPED_TRACE(mounted->child(i)->text.toStdString());
    EXPECT_EQ(FindChildNode(mounted, mounted->child(i)->text, false), mounted->child(i));
    if (i > 0) {
      EXPECT_LE(compareKeyNames(mounted->child(i - 1)->text, mounted->child(i)->text), 0);
    }
  }

  form->JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM_TEST\\ControlSet001\\Services"));
  // Names keep the hive's own case ("services" in older hives).
  ASSERT_EQ(selectedPath().toLower(),
            QStringLiteral("My Computer\\HKEY_LOCAL_MACHINE\\SYSTEM_TEST\\ControlSet001\\Services").toLower());
  KeyNode* services = form->selectedNode();
  EXPECT_GT(services->count(), 50);
  form->JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM_TEST\\Select"));
  EXPECT_TRUE(form->statusText(1).startsWith(QStringLiteral("Last write access: "))) << form->statusText(1).toStdString();
  EXPECT_EQ(form->statusText(0), QStringLiteral("My Computer\\HKEY_LOCAL_MACHINE\\SYSTEM_TEST\\Select"));
  // For the picture: the first levels from the top, one key opened below.
  form->JumpToPath(QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM_TEST\\ControlSet001\\Control"));
  form->tvKeys->expand(form->keyModel()->indexOf(form->selectedNode()));
  form->tvKeys->scrollToTop();
  QApplication::processEvents();

  saveScreenshot(*form, "mainwindow-system-hive");
  form->close();
  form.reset();
  EXPECT_EQ(platform::RegUnLoadKeyA(platform::HKEY_LOCAL_MACHINE, "SYSTEM_TEST"), platform::ERROR_SUCCESS);
}

}  // namespace
