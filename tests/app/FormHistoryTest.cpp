// The history window over a fresh registry store and a history database in a
// temporary folder: the list, its sorting and enabling, undo and redo of the
// selected changes, the saved .reg files, deleting rows, and the main
// window's "Show history...".

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/FormUnitHistory.h"
#include "app/FormUnitMain.h"
#include "core/SQLiteTables.h"
#include "core/bwlRegTools.h"
#include "core/bwlRegistryHistorySQLite.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "tests/app/EditingWindow.h"
#include "tests/app/QtPrinters.h"
#include "tests/app/Screenshot.h"
#include "tests/app/ScriptedAnswers.h"
#include "tests/core/RegistryFixture.h"
#include "tests/support/PinnedZone.h"
#include "tests/support/Privileges.h"
#include "tests/support/TestData.h"

namespace fs = std::filesystem;

namespace {

constexpr platform::HKEY kUser = platform::HKEY_CURRENT_USER;
constexpr platform::HKEY kMachine = platform::HKEY_LOCAL_MACHINE;

using Bytes = std::vector<std::uint8_t>;

Bytes dword(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 24)};
}

std::string fileBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class HistoryWindow : public RegistryFixture {
protected:
  void SetUp() override {
    setPrompter(&answers);
    setMessageBoxes(&answers);
    history = std::make_unique<TRegistryChangeHistory>(historyFile().string());
  }
  void TearDown() override {
    form.reset();
    history.reset();
    for (const std::string& name : mounted)
      EXPECT_EQ(platform::RegUnLoadKeyA(kMachine, name.c_str()), platform::ERROR_SUCCESS) << name;
    setPrompter(nullptr);
    setMessageBoxes(nullptr);
    RegistryFixture::TearDown();
  }

  fs::path historyFile() const { return dir / "history.sqlite"; }

  // The window over the history, shown, so its list holds the database.
  void showForm() {
    form = std::make_unique<TformHistory>();
    form->SetHistory(history.get());
    form->show();
    QApplication::processEvents();
  }
  QTableView& list() const { return *form->lvHistory; }
  int rows() const { return form->model()->rowCount(); }
  QString cell(int row, int column) const {
    return form->model()->data(form->model()->index(row, column)).toString();
  }
  QStringList rowTexts(int row) const {
    QStringList texts;
    for (int c = 0; c < HistoryListModel::colCount; ++c) texts << cell(row, c);
    return texts;
  }
  // The ids as the list shows them, top to bottom.
  QStringList listedIds() const {
    QStringList ids;
    for (int r = 0; r < rows(); ++r) ids << cell(r, HistoryListModel::colId);
    return ids;
  }
  QStringList databaseIds() const {
    TSQLiteDatabase db(historyFile().string());
    TSQLiteTable table(db, "select id from registry_history order by id");
    QStringList ids;
    for (; !table.AtEnd(); table.MoveNext()) ids << QString::fromStdString(table.CellAsText(0));
    return ids;
  }
  void selectRows(const QList<int>& rowsToSelect) {
    QItemSelectionModel* selection = list().selectionModel();
    selection->clearSelection();
    for (int r : rowsToSelect)
      selection->select(form->model()->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  void selectAll() {
    QList<int> all;
    for (int r = 0; r < rows(); ++r) all << r;
    selectRows(all);
  }
  QList<bool> actionStates() const {
    return {form->aUndoSaveReg4->isEnabled(), form->aRedoSaveReg4->isEnabled(), form->aUndoSelected->isEnabled(),
            form->aRedoSelected->isEnabled(), form->aDeleteSelected->isEnabled()};
  }
  // A writable copy of a hive file mounted as HKEY_LOCAL_MACHINE\<name>.
  void mountCopy(const fs::path& source, const std::string& name) {
    const fs::path hive = dir / name;
    fs::copy_file(source, hive);
    fs::permissions(hive, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    ASSERT_TRUE(testsupport::setRestorePrivilege());
    ASSERT_EQ(platform::RegLoadKeyA(kMachine, name.c_str(), hive.c_str()), platform::ERROR_SUCCESS);
    mounted.push_back(name);
  }
  static std::unique_ptr<TMyRegistry> openKey(const std::string& path) {
    auto reg = std::make_unique<TMyRegistry>();
    reg->SetRootKey(kUser);
    EXPECT_TRUE(reg->OpenKey(path, true)) << path;
    return reg;
  }
  static std::string stringValue(const std::string& path, const std::string& name) {
    TMyRegistry reg;
    reg.SetRootKey(kUser);
    if (!reg.OpenKeyReadOnly(path) || !reg.ValueExists(name)) return "<none>";
    return reg.ReadString(name);
  }

  testsupport::TempDir dir;
  ScriptedAnswers answers;
  std::unique_ptr<TRegistryChangeHistory> history;
  std::unique_ptr<TformHistory> form;
  std::vector<std::string> mounted;
};

TEST_F(HistoryWindow, TheActionsAreEnabledExactlyWhileARowIsSelected) {
  for (int i = 0; i < 3; ++i) history->RecordKeyCreate(kUser, testKey("K" + std::to_string(i)));
  showForm();
  const QList<bool> none(5, false), all(5, true);
  EXPECT_EQ(actionStates(), none);
  selectRows({1});
  EXPECT_EQ(actionStates(), all);
  selectRows({0, 2});
  EXPECT_EQ(actionStates(), all);
  list().selectionModel()->clearSelection();
  EXPECT_EQ(actionStates(), none);
  // A reload drops the selection, and with it the actions.
  selectRows({0});
  form->Reload();
  EXPECT_FALSE(list().selectionModel()->hasSelection());
  EXPECT_EQ(actionStates(), none);
}

// The two lists hold the five built-in RGBA images of their size; the
// actions show each list's own disabled form, half transparent, not one Qt
// greys for them.
TEST_F(HistoryWindow, ImageListsHoldTheBuiltInImagesAndTheirDisabledForms) {
  showForm();
  for (TPngIconList* images : {&form->ilHistory16, &form->ilHistory24}) {
    const int size = images->Width();
    SCOPED_TRACE(size);
    ASSERT_EQ(images->Count(), 5);
    EXPECT_EQ(images->Height(), size);
    for (int i = 0; i < 5; ++i) {
      SCOPED_TRACE(i);
      const TPngPicture* png = images->PngIcons().ItemAt(i)->PngIcon();
      ASSERT_NE(png, nullptr);
      EXPECT_EQ(png->HeaderChunk().HeaderFields().ColorType, 6);
      const QImage normal =
          images->icon(i).pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32);
      const QImage disabled =
          images->icon(i).pixmap(QSize(size, size), QIcon::Disabled).toImage().convertToFormat(QImage::Format_ARGB32);
      // A pixmap keeps its pixels premultiplied; so are they compared.
      EXPECT_EQ(normal.convertToFormat(QImage::Format_ARGB32_Premultiplied),
                images->Image(i).convertToFormat(QImage::Format_ARGB32_Premultiplied));
      bool clear = false, opaque = false;
      for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
          const int a = qAlpha(normal.pixel(x, y));
          clear = clear || a == 0;
          opaque = opaque || a == 255;
          if (a == 255) EXPECT_EQ(qAlpha(disabled.pixel(x, y)), 128) << x << "," << y;
        }
      EXPECT_TRUE(clear && opaque);
    }
  }
  // The tool bar's disabled undo shows the 24-pixel list's disabled form.
  ASSERT_FALSE(form->aUndoSelected->isEnabled());
  EXPECT_EQ(form->aUndoSelected->icon().pixmap(QSize(24, 24), QIcon::Disabled).toImage(),
            form->ilHistory24.icon(2).pixmap(QSize(24, 24), QIcon::Disabled).toImage());
}

// The row texts, the timestamp in the local time of a pinned zone; a key
// row leaves the value and its type empty. Each names its hive's file.
TEST_F(HistoryWindow, RowsShowTheRecordedChange) {
  testsupport::PinnedZone zone("XYZ-5");  // five hours east of UTC, no daylight saving
  history->AddChange(htValue, haChange, kUser, "\\Software\\Row\\", "Count", rdInteger, dword(1), dword(2));
  history->AddChange(htKey, haDelete, kMachine, "\\SOFTWARE\\Gone\\", "", rdNone, {}, {});
  // 2024-01-02 03:04:05 in that zone is 2024-01-01 22:04:05 UTC.
  history->Database().Execute("UPDATE registry_history SET timestamp = 1704146645");
  showForm();

  const QStringList headers = [&] {
    QStringList texts;
    for (int c = 0; c < HistoryListModel::colCount; ++c)
      texts << form->model()->headerData(c, Qt::Horizontal).toString();
    return texts;
  }();
  EXPECT_EQ(headers, QStringList({"ID", "Timestamp", "Type", "Action", "Root", "Key Path", "Value", "Type",
                                  "New name", "Hive file"}));
  const auto fileOf = [](platform::HKEY root, const std::u16string& mount) {
    platform::registry::MountStatus status;
    EXPECT_EQ(platform::registry::mountStatusOf(root, {mount}, &status), platform::ERROR_SUCCESS);
    return QString::fromStdString(status.file.string());
  };
  const QString user = fileOf(kUser, u"Software");
  const QString software = fileOf(kMachine, u"SOFTWARE");
  ASSERT_FALSE(user.isEmpty());
  ASSERT_NE(user, software);
  ASSERT_EQ(rows(), 2);
  EXPECT_EQ(rowTexts(0), QStringList({"1", "2024-01-02 03:04:05", "Value", "Change", "HKCU", "\\Software\\Row\\",
                                      "Count", "REG_DWORD", "", user}));
  EXPECT_EQ(rowTexts(1), QStringList({"2", "2024-01-02 03:04:05", "Key", "Delete", "HKLM", "\\SOFTWARE\\Gone\\", "",
                                      "", "", software}));
}

// A session creates a key, sets three values, changes one, deletes one and
// creates it again. With every row selected, whatever the list's order, the
// saved undo text turns the registry the session left into the one before,
// and the saved redo text turns that back; undo and redo in the window do
// the same, and neither adds a row.
TEST_F(HistoryWindow, UndoAndRedoOfASessionGoByIdWhateverTheListOrder) {
  openKey(testKey());
  const auto before = walk(kUser, testKey());
  const std::string key = testKey("K");
  {
    auto reg = openKey(key);
    history->RecordKeyCreate(kUser, key);
    reg->WriteString("A", "one");
    history->RecordValueCreate(kUser, key, "A", rdString);
    reg->WriteInteger("B", 7);
    history->RecordValueCreate(kUser, key, "B", rdInteger);
    reg->WriteBinaryData("C", "\x01\x00\x02", 3);
    history->RecordValueCreate(kUser, key, "C", rdBinary);
    reg->WriteInteger("B", 8);
    history->RecordValueChange(kUser, key, "B", rdInteger, dword(7));
    history->RecordValueDelete(kUser, key, "A");
    reg->DeleteValue("A");
    reg->WriteString("A", "two");
    history->RecordValueCreate(kUser, key, "A", rdString);
  }
  const auto after = walk(kUser, testKey());
  ASSERT_NE(after, before);

  showForm();
  ASSERT_EQ(rows(), 7);
  form->lvHistoryColumnClick(HistoryListModel::colId);  // newest first
  ASSERT_EQ(cell(0, HistoryListModel::colId), QStringLiteral("7"));
  selectAll();

  const fs::path undoFile = dir / "undo.reg", redoFile = dir / "redo.reg";
  answers.saveAnswer = QString::fromStdString(undoFile.string());
  form->aUndoSaveReg4Execute();
  answers.saveAnswer = QString::fromStdString(redoFile.string());
  form->aRedoSaveReg4Execute();
  EXPECT_TRUE(answers.messages.isEmpty()) << answers.messages.join(u'\n').toStdString();
  const std::string redoText = fileBytes(redoFile);
  EXPECT_EQ(redoText.substr(0, 12), "REGEDIT4\r\n\r\n");
  EXPECT_EQ(fileBytes(undoFile).substr(0, 12), "REGEDIT4\r\n\r\n");
  EXPECT_EQ(redoText.find('\n', 0), redoText.find("\r\n", 0) + 1);

  RegImportFailures failures;
  ASSERT_TRUE(ImportRegFile(undoFile, failures));
  EXPECT_FALSE(failures.any()) << failures.text();
  EXPECT_EQ(walk(kUser, testKey()), before);
  ASSERT_TRUE(ImportRegFile(redoFile, failures));
  EXPECT_FALSE(failures.any()) << failures.text();
  EXPECT_EQ(walk(kUser, testKey()), after);

  form->aUndoSelectedExecute();
  EXPECT_EQ(walk(kUser, testKey()), before);
  form->aRedoSelectedExecute();
  EXPECT_EQ(walk(kUser, testKey()), after);
  EXPECT_TRUE(answers.messages.isEmpty()) << answers.messages.join(u'\n').toStdString();
  EXPECT_EQ(rows(), 7);
  EXPECT_EQ(databaseIds().size(), 7);
}

// Undo does not consume a change: undoing it again writes it again.
TEST_F(HistoryWindow, UndoingAChangeTwiceAppliesItTwiceAndChangesNoRow) {
  const std::string key = testKey("Twice");
  openKey(key)->WriteString("S", "new");
  history->RecordValueChange(kUser, key, "S", rdString, Bytes{'o', 'l', 'd', 0});
  history->RecordKeyCreate(kUser, testKey("Other"));
  showForm();
  selectRows({0});
  form->aUndoSelectedExecute();
  EXPECT_EQ(stringValue(key, "S"), "old");
  openKey(key)->WriteString("S", "changed meanwhile");
  form->aUndoSelectedExecute();
  EXPECT_EQ(stringValue(key, "S"), "old");

  EXPECT_TRUE(answers.messages.isEmpty()) << answers.messages.join(u'\n').toStdString();
  EXPECT_EQ(listedIds(), QStringList({"1", "2"}));
  EXPECT_EQ(databaseIds(), QStringList({"1", "2"}));
  EXPECT_TRUE(list().selectionModel()->isRowSelected(0));
}

// Rows on a dirty hive without its logs, mounted read-only, are refused; one
// error box names those rows, and the rows beside them are applied.
TEST_F(HistoryWindow, RowsTheRegistryRefusesAreNamedInOneBox) {
  HS_TESTDATA_OR_SKIP(source, testsupport::unpackedTestdata("hives/real/SECURITY.xz"));
  ASSERT_NO_FATAL_FAILURE(mountCopy(source, "DIRTY"));
  const std::string key = testKey("Fine");
  history->AddChange(htValue, haChange, kMachine, "\\DIRTY\\Policy\\", "Probe", rdString, Bytes{'a', 0},
                     Bytes{'b', 0});
  history->AddChange(htValue, haNew, kUser, key + "\\", "S", rdString, {}, Bytes{'n', 0});
  history->AddChange(htKey, haDelete, kMachine, "\\DIRTY\\Policy\\Gone\\", "", rdNone, {}, {});
  showForm();
  selectAll();

  form->aRedoSelectedExecute();
  ASSERT_EQ(answers.messages.size(), 1);
  EXPECT_EQ(answers.messages[0], QStringLiteral("The registry refused 1 of the 3 selected changes; they were not "
                                                "redone:\n\n1  HKLM\\DIRTY\\Policy\\  \"Probe\""));
  EXPECT_EQ(stringValue(key, "S"), "n");

  form->aUndoSelectedExecute();
  ASSERT_EQ(answers.messages.size(), 2);
  EXPECT_EQ(answers.messages[1], QStringLiteral("The registry refused 2 of the 3 selected changes; they were not "
                                                "undone:\n\n3  HKLM\\DIRTY\\Policy\\Gone\\\n"
                                                "1  HKLM\\DIRTY\\Policy\\  \"Probe\""));
  EXPECT_EQ(stringValue(key, "S"), "<none>");
  EXPECT_EQ(rows(), 3);
}

// A sort reorders the list and keeps the selection on its changes; a delete
// removes the selected changes' rows and reloads the list in database order.
TEST_F(HistoryWindow, DeletingAfterASortReloadsInDatabaseOrder) {
  for (const char* name : {"c", "a", "e", "b", "d"}) history->RecordKeyCreate(kUser, testKey(name));
  showForm();
  selectRows({0, 1, 2});  // ids 1 to 3: "c", "a", "e"
  form->lvHistoryColumnClick(HistoryListModel::colKeyPath);
  EXPECT_EQ(listedIds(), QStringList({"2", "4", "1", "5", "3"}));
  std::vector<std::uint32_t> selected;
  for (const TRegistryChange* change : form->SelectedChanges(ChangeOrder::oldestFirst))
    selected.push_back(change->TableIndex);
  EXPECT_EQ(selected, (std::vector<std::uint32_t>{1, 2, 3}));
  EXPECT_EQ(list().selectionModel()->selectedRows().size(), 3);

  selectRows({0, 3});  // ids 2 and 5
  form->aDeleteSelectedExecute();
  EXPECT_EQ(listedIds(), QStringList({"1", "3", "4"}));
  EXPECT_EQ(databaseIds(), QStringList({"1", "3", "4"}));
  EXPECT_FALSE(list().selectionModel()->hasSelection());
  EXPECT_TRUE(answers.messages.isEmpty()) << answers.messages.join(u'\n').toStdString();
}

// A file that cannot be written is said in an error box; nothing is thrown
// and nothing is left behind. A cancelled dialog writes nothing.
TEST_F(HistoryWindow, ASaveThatCannotWriteSaysSo) {
  history->RecordKeyCreate(kUser, testKey("K"));
  showForm();
  selectAll();
  const fs::path missing = dir / "no such folder" / "undo.reg";
  answers.saveAnswer = QString::fromStdString(missing.string());
  form->aUndoSaveReg4Execute();
  ASSERT_EQ(answers.messages.size(), 1);
  EXPECT_TRUE(answers.messages[0].startsWith(QStringLiteral("The file ") + answers.saveAnswer))
      << answers.messages[0].toStdString();
  EXPECT_FALSE(fs::exists(missing.parent_path()));

  answers.saveAnswer.clear();
  form->aRedoSaveReg4Execute();
  EXPECT_EQ(answers.messages.size(), 1);
}

// Forty rows of every kind, a few selected, the tool bar and the menus with
// their images, for a person to look at.
TEST_F(HistoryWindow, Screenshot) {
  testsupport::PinnedZone zone("UTC0");
  const TRegDataType kinds[] = {rdString, rdInteger, rdBinary, rdMultiString, rdExpandString};
  for (int i = 0; i < 40; ++i) {
    const std::string path = "\\Software\\Vendor\\Product " + std::to_string(i / 4) + "\\";
    if (i % 5 == 0)
      history->AddChange(htKey, i % 2 ? haDelete : haNew, kUser, path, "", rdNone, {}, {});
    else
      history->AddChange(htValue, static_cast<THistoryAction>(i % 3), i % 7 ? kUser : kMachine, path,
                         "Setting" + std::to_string(i), kinds[i % 5], dword(i), dword(i + 1));
  }
  history->Database().Execute("UPDATE registry_history SET timestamp = 1704164645 + 61 * id");
  showForm();
  form->resize(900, 520);
  saveScreenshot(*form->tbHistory, "formHistory-tbHistory-disabled");
  selectRows({2, 3, 4, 9});
  ASSERT_EQ(rows(), 40);
  EXPECT_EQ(form->ilHistory16.Count(), 5);
  EXPECT_EQ(form->ilHistory24.Count(), 5);
  for (QAction* action : form->tbHistory->actions()) {
    auto* button = qobject_cast<QToolButton*>(form->tbHistory->widgetForAction(action));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->iconSize(), QSize(24, 24));
    EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
  }
  saveScreenshot(*form, "formHistory");
  for (QMenu* menu : {form->miFile, form->miEdit}) {
    menu->popup(form->mapToGlobal(QPoint(20, 20)));
    QApplication::processEvents();
    saveScreenshot(*menu, menu == form->miFile ? "formHistory-miFile" : "formHistory-miEdit");
    menu->hide();
  }
}

// The main window's "Show history..." shows the window beside it, not
// modally, listing the main window's history; a history opened anew reaches it.
using MainWindowHistory = EditingWindow;

TEST_F(MainWindowHistory, ShowHistoryListsTheMainWindowsHistory) {
  openKey(kUser, "Software\\X", Bitness::x32)->WriteString("Test", "a");
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X"));
  editors.text = QStringLiteral("b");
  changeData(QStringLiteral("Test"));

  form->aShowHistoryExecute();
  TformHistory* history = form->formHistory();
  EXPECT_TRUE(history->isVisible());
  EXPECT_FALSE(history->isModal());
  EXPECT_TRUE(history->isWindow());
  EXPECT_EQ(history->FHistory, form->FHistory.get());
  ASSERT_EQ(history->model()->rowCount(), 1);
  EXPECT_EQ(history->model()->data(history->model()->index(0, HistoryListModel::colKeyPath)).toString(),
            QStringLiteral("\\Software\\X\\"));

  ASSERT_TRUE(form->OpenHistory((dir / "other.sqlite").string()));
  EXPECT_EQ(history->FHistory, form->FHistory.get());
  EXPECT_EQ(history->model()->rowCount(), 0);
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(u'\n').toStdString();
}

}  // namespace
