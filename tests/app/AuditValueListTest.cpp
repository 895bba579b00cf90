// The hex dump of a clicked value for every value kind: shown with exactly the
// value's bytes, except for the 32-bit number kinds and unknown types.

#include <QApplication>
#include <QTreeView>

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

#include "app/FormUnitMain.h"
#include "app/KeyLister.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "tests/app/QtPrinters.h"
#include "tests/support/TempDir.h"

namespace {

class AuditValueList : public ::testing::Test {
protected:
  void SetUp() override { platform::registry::shutdownForTests(); }
  void TearDown() override {
    if (form) form->close();
    form.reset();
    platform::registry::shutdownForTests();
  }
  testsupport::TempRegistry registry;
  RegistryKeyLister lister;
  std::unique_ptr<TformMain> form;
};

TEST_F(AuditValueList, HexDumpFollowsTheKindOfTheClickedValue) {
  struct Case {
    const char* name;
    platform::DWORD type;
    std::vector<std::uint8_t> data;
  } cases[] = {
      {"none", platform::REG_NONE, {1, 2, 3}},
      {"sz", platform::REG_SZ, {'a', 0, 'b', 0, 0, 0}},
      {"expand", platform::REG_EXPAND_SZ, {'%', 0, 0, 0}},
      {"binary", platform::REG_BINARY, {0xDE, 0xAD, 0xBE, 0xEF, 0x00}},
      {"dword", platform::REG_DWORD, {1, 0, 0, 0}},
      {"bigendian", platform::REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1}},
      {"link", platform::REG_LINK, {'x', 0}},
      {"multi", platform::REG_MULTI_SZ, {'a', 0, 0, 0, 0, 0}},
      {"reslist", platform::REG_RESOURCE_LIST, {9, 8, 7}},
      {"fullres", platform::REG_FULL_RESOURCE_DESCRIPTOR, {6, 5}},
      {"resreq", platform::REG_RESOURCE_REQUIREMENTS_LIST, {4}},
      {"qword", platform::REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"unknown", 0x4242, {0x42, 0x42}},
  };
  platform::HKEY key{};
  ASSERT_EQ(platform::RegCreateKeyExA(platform::HKEY_CURRENT_USER, "Software\\Kinds", 0, nullptr, 0,
                                      platform::KEY_ALL_ACCESS, nullptr, &key, nullptr),
            platform::ERROR_SUCCESS);
  for (const auto& c : cases) {
    ASSERT_EQ(platform::RegSetValueExA(key, c.name, 0, c.type, c.data.data(), static_cast<platform::DWORD>(c.data.size())),
              platform::ERROR_SUCCESS);
  }
  platform::RegCloseKey(key);

  form = std::make_unique<TformMain>();
  form->setKeyLister(&lister);
  form->show();
  QApplication::processEvents();
  form->JumpToPath(QStringLiteral("HKEY_CURRENT_USER\\Software\\Kinds"));
  ASSERT_EQ(form->valueModel()->count(), static_cast<int>(std::size(cases)) + 1);  // and the placeholder

  std::set<int> kinds;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int row = -1;
    for (int i = 0; i < form->valueModel()->count(); ++i)
      if (form->valueModel()->item(i).Caption == QString::fromLatin1(c.name)) row = i;
    ASSERT_GE(row, 0);
    const TRegDataType kind = form->valueModel()->item(row).DataInfo.RegData;
    kinds.insert(kind);
    const bool dumped = kind != rdUnknown && kind != rdInteger && kind != rdLittleEndianInteger && kind != rdCardinal;
    form->lvData->selectionModel()->setCurrentIndex(form->valueModel()->index(row, 0),
                                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    form->lvDataClick();
    EXPECT_EQ(form->lvHexDump->isVisibleTo(form.get()), dumped) << "kind " << static_cast<int>(kind);
    // The string kinds went in through the 8-bit call, which stores UTF-16;
    // the dump shows what is stored.
    std::vector<std::uint8_t> stored = c.data;
    if (c.type == platform::REG_SZ || c.type == platform::REG_EXPAND_SZ || c.type == platform::REG_MULTI_SZ) {
      stored.clear();
      for (std::uint8_t b : c.data) stored.insert(stored.end(), {b, 0});
    }
    EXPECT_EQ(form->lvHexDump->DataSize(), dumped ? stored.size() : 0u);
    EXPECT_EQ(form->FValueData, dumped ? stored : std::vector<std::uint8_t>());
  }
  // Both sides of the rule were seen.
  EXPECT_TRUE(kinds.count(rdUnknown) && kinds.count(rdInteger) && kinds.count(rdBinary));

  // Nothing selected: no dump.
  form->lvData->clearSelection();
  form->lvDataClick();
  EXPECT_FALSE(form->lvHexDump->isVisibleTo(form.get()));
  EXPECT_TRUE(form->FValueData.empty());
}

// The two "SOFTWARE" nodes share root and path but not the view: showing the
// 32-bit one after the 64-bit one must watch the 32-bit key, or its changes
// never reach the list.
TEST_F(AuditValueList, TheMonitorFollowsTheViewOfTheShownKey) {
  platform::setWow64ForTests(true);
  form = std::make_unique<TformMain>();
  form->setKeyLister(&lister);
  form->show();
  QApplication::processEvents();
  form->FillValueList(platform::HKEY_LOCAL_MACHINE, QStringLiteral("\\SOFTWARE"), rv64Bit);
  ASSERT_NE(form->monitor(), nullptr);
  EXPECT_EQ(form->monitor()->FBitness, Bitness::x64);
  form->FillValueList(platform::HKEY_LOCAL_MACHINE, QStringLiteral("\\SOFTWARE"), rv32Bit);
  ASSERT_NE(form->monitor(), nullptr);
  EXPECT_EQ(form->monitor()->FBitness, Bitness::x32);
  EXPECT_EQ(form->monitor()->FKeyPath, "SOFTWARE");
}

}  // namespace
