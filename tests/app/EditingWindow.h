#pragma once

// The main window over a fresh registry store, with its value editors and
// message boxes answered by recorders and its change history in a temporary
// folder: what the value-editing and change-log tests share.

#include <QApplication>
#include <QItemSelectionModel>
#include <QStringList>
#include <QTreeView>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/FormUnitMain.h"
#include "app/KeyLister.h"
#include "app/QtText.h"
#include "app/UiSeams.h"
#include "core/SQLiteTables.h"
#include "core/bwlRegTools.h"
#include "core/bwlRegistryHistorySQLite.h"
#include "platform/Kernel.h"
#include "platform/RegistryStore.h"
#include "platform/Security.h"
#include "platform/Registry.h"
#include "tests/app/RecordingMessageBoxes.h"
#include "tests/app/RecordingValueEditors.h"
#include "tests/support/Privileges.h"
#include "tests/support/TempDir.h"

class EditingWindow : public ::testing::Test {
protected:
  void SetUp() override {
    platform::registry::shutdownForTests();
    platform::resetProcessTokenForTests();
    platform::setWow64ForTests(true);
    setValueEditors(&editors);
    setMessageBoxes(&boxes);
  }
  void TearDown() override {
    if (form) form->close();
    form.reset();
    for (const std::string& name : mounted)
      EXPECT_EQ(platform::RegUnLoadKeyA(platform::HKEY_LOCAL_MACHINE, name.c_str()), platform::ERROR_SUCCESS) << name;
    setValueEditors(nullptr);
    setMessageBoxes(nullptr);
    platform::registry::shutdownForTests();
  }
  // Shows the window with its history in the test's folder.
  void showForm() {
    form = std::make_unique<TformMain>();
    form->setKeyLister(&lister);
    form->show();
    QApplication::processEvents();
    ASSERT_TRUE(form->OpenHistory(historyFile().string()));
  }
  // A writable copy of the hive file mounted as HKEY_LOCAL_MACHINE\<name>,
  // unmounted after the window is gone.
  void mountCopy(const std::filesystem::path& source, const std::string& name) {
    const std::filesystem::path hive = dir / name;
    std::filesystem::copy_file(source, hive);
    std::filesystem::permissions(hive, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    ASSERT_TRUE(testsupport::setRestorePrivilege());
    ASSERT_EQ(platform::RegLoadKeyA(platform::HKEY_LOCAL_MACHINE, name.c_str(), hive.c_str()), platform::ERROR_SUCCESS);
    mounted.push_back(name);
  }
  std::filesystem::path historyFile() const { return dir / "history.sqlite"; }

  // Selects the key ("HKEY_CURRENT_USER\\Software\\X") and fills its list.
  void selectKey(const QString& path) {
    form->JumpToPath(path);
    ASSERT_NE(form->selectedNode(), nullptr);
  }
  int rowNamed(const QString& name) const {
    for (int r = 0; r < form->valueModel()->count(); ++r)
      if (form->valueModel()->item(r).ValueName == name) return r;
    return -1;
  }
  // Selects exactly these rows, the first one current.
  void selectRows(const QList<int>& rows) {
    QItemSelectionModel* selection = form->lvData->selectionModel();
    selection->clearSelection();
    for (int r : rows)
      selection->select(form->valueModel()->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    if (!rows.isEmpty())
      selection->setCurrentIndex(form->valueModel()->index(rows.first(), 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  // Selects the named value of the shown key and runs "Change data".
  void changeData(const QString& name) {
    const int row = rowNamed(name);
    ASSERT_GE(row, 0) << name.toStdString();
    selectRows({row});
    form->aValueChangeExecute();
  }

  static QStringList paneLines(const CodeEditLines& pane) {
    QStringList lines = pane.Text().split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
  }
  QStringList redoLines() const { return paneLines(*form->editRedoLog); }
  QStringList undoLines() const { return paneLines(*form->editUndoLog); }

  // The rows as `select entrytype,action,key,value,datatype` prints them.
  QStringList historyRows() const {
    TSQLiteDatabase db(historyFile().string());
    TSQLiteTable table(db, "select entrytype,action,key,value,datatype from registry_history order by id");
    QStringList rows;
    for (; !table.AtEnd(); table.MoveNext()) {
      QStringList cells;
      for (int c = 0; c < 5; ++c) cells << ansiToQString(table.CellAsText(c));
      rows << cells.join(u'|');
    }
    return rows;
  }

public:
  // Raw access to the registry beneath the window.
  static std::unique_ptr<TMyRegistry> openKey(platform::HKEY root, const std::string& path, Bitness bitness) {
    auto reg = std::make_unique<TMyRegistry>();
    reg->SetBitness(bitness);
    reg->SetRootKey(root);
    EXPECT_TRUE(reg->OpenKey(path, true)) << path;
    return reg;
  }
  static bool rawValue(platform::HKEY root, const std::string& path, const std::string& name, std::uint32_t& type,
                       std::vector<std::uint8_t>& data, Bitness bitness = Bitness::x32) {
    TMyRegistry reg;
    reg.SetBitness(bitness);
    reg.SetRootKey(root);
    return reg.OpenKeyReadOnly(path) && reg.readRawValue(name, type, data);
  }
  static std::vector<std::string> valueNames(platform::HKEY root, const std::string& path) {
    TMyRegistry reg;
    reg.SetRootKey(root);
    std::vector<std::string> names;
    if (reg.OpenKeyReadOnly(path)) reg.GetValueNames(names);
    return names;
  }

protected:
  testsupport::TempRegistry registry;
  testsupport::TempDir dir;
  RegistryKeyLister lister;
  RecordingValueEditors editors;
  RecordingMessageBoxes boxes;
  std::unique_ptr<TformMain> form;
  std::vector<std::string> mounted;
};
