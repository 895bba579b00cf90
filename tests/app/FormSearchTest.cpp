// The search window over a fresh registry store: searching, the status texts,
// export, delete and replace, and the jump back into the main window.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QColor>
#include <QRegularExpression>
#include <QTabWidget>
#include <QDateEdit>
#include <QTimer>
#include <QTreeView>

#include <functional>

#include "app/FormUnitSearch.h"
#include "core/bwlRegTools.h"
#include "tests/app/EditingWindow.h"
#include "tests/app/QtPrinters.h"
#include "tests/app/Screenshot.h"

namespace {

constexpr platform::HKEY kUser = platform::HKEY_CURRENT_USER;
constexpr platform::HKEY kMachine = platform::HKEY_LOCAL_MACHINE;

// Answers the save dialog and every message box, and keeps the texts.
class SearchAnswers : public Prompter, public MessageBoxes {
public:
  QString saveAnswer;
  int boxAnswer = mrOk;
  QStringList messages;
  bool inputQuery(QWidget*, const QString&, const QString&, QString&) override { return false; }
  QString openFileName(QWidget*, const QString&, const QString&) override { return {}; }
  QString saveFileName(QWidget*, const QString&, const QString&, const QString& suffix, int*) override {
    suffixes << suffix;
    return saveAnswer;
  }
  int messageDlg(QWidget*, const QString& text, TTdMessageType, TCommonButtons) override {
    messages << text;
    return boxAnswer;
  }
  QStringList suffixes;
};

// The lines of a key's whole tree as a version-4 export writes them, without
// the header: what "the registry is unchanged" compares.
QStringList treeLines(platform::HKEY root, const std::string& path) {
  std::string out;
  ExportRegistryKeyTree(root, path, out, false, Is64Flag::no, true);
  QStringList lines = QString::fromStdString(out).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  return lines;
}

QStringList fileLines(const QString& file) {
  QFile f(file);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << file.toStdString();
  QStringList lines = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"));
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

class SearchWindow : public EditingWindow {
protected:
  void SetUp() override {
    EditingWindow::SetUp();
    setPrompter(&answers);
    setMessageBoxes(&answers);
    showForm();
    search = form->formSearch();
  }
  void TearDown() override {
    setPrompter(nullptr);
    EditingWindow::TearDown();
  }
  // Sets the focus and runs a search of this key only.
  void searchKey(platform::HKEY root, const QString& path, const QString& term, bool keys = true, bool values = true,
                 bool data = true, TRegistryView view = rvDefault) {
    search->ShowSearch(root, path, view);
    search->rbRangeKey->setChecked(true);
    search->cbFocusKeys->setChecked(keys);
    search->cbFocusValues->setChecked(values);
    search->cbFocusData->setChecked(data);
    search->editSearchTerm->setText(term);
    search->aSearchStartExecute();
  }
  QStringList captions() const {
    QStringList out;
    const SearchResultsModel& model = *search->resultsModel();
    for (int r = 0; r < model.count(); ++r)
      out << ansiToQString(model.item(r).Caption) + u'|' + ansiToQString(model.item(r).SubItem1);
    return out;
  }
  int rowOf(const QString& caption, const QString& value = {}) const {
    return static_cast<int>(captions().indexOf(caption + u'|' + value));
  }
  QString exportFile(const char* name) const { return QString::fromStdString((dir / name).string()); }

  SearchAnswers answers;
  TformSearch* search = nullptr;
};

TEST_F(SearchWindow, AHexTermSearchesItsBytesAndABadOneIsRefused) {
  openKey(kUser, "Software\\Hex", Bitness::x32)->WriteString("Letters", "AB");
  search->cbHex->setChecked(true);
  searchKey(kUser, QStringLiteral("\\Software\\Hex"), QStringLiteral("41 42"));
  EXPECT_EQ(captions(), QStringList({"HKEY_CURRENT_USER\\Software\\Hex\\|Letters"}));
  EXPECT_TRUE(answers.messages.isEmpty());

  for (const char* bad : {"4", "4G", "41 4"}) {
    SCOPED_TRACE(bad);
    answers.messages.clear();
    search->pcSearch->setCurrentWidget(search->tsCriteria);
    searchKey(kUser, QStringLiteral("\\Software\\Hex"), QString::fromLatin1(bad));
    EXPECT_EQ(answers.messages, QStringList({"Please enter a valid hex term first!"}));
    EXPECT_EQ(search->focusWidget(), search->editSearchTerm);
    EXPECT_EQ(search->pcSearch->currentWidget(), search->tsCriteria);
    EXPECT_EQ(search->resultsModel()->count(), 1) << "the rows of the last search stay";
  }
}

TEST_F(SearchWindow, FinishedStatusColumnsAndTheReplacePage) {
  {
    auto key = openKey(kUser, "Software\\Cols\\Findme", Bitness::x32);
    key->WriteString("Findme value", "findme data");
  }
  const struct Case {
    bool keys, values, data;
    int valueWidth, dataWidth, rows;
  } cases[] = {
      {true, true, true, 100, 100, 3},
      {true, false, true, 100, 100, 2},
      {true, true, false, 100, 0, 2},
      {true, false, false, 0, 0, 1},
      {false, false, false, 0, 0, 0},
  };
  const QRegularExpression finished(QStringLiteral("^Search has finished with (\\d+) results\\. \\(\\d\\d:\\d\\d:\\d\\d\\)$"));
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.keys << c.values << c.data);
    search->cbIgnoreCase->setChecked(true);
    searchKey(kUser, QStringLiteral("\\Software\\Cols"), QStringLiteral("findme"), c.keys, c.values, c.data);
    EXPECT_EQ(search->lvResults->columnWidth(SearchResultsModel::colValue), c.valueWidth);
    EXPECT_EQ(search->lvResults->columnWidth(SearchResultsModel::colData), c.dataWidth);
    const QRegularExpressionMatch m = finished.match(search->statusText());
    ASSERT_TRUE(m.hasMatch()) << search->statusText().toStdString();
    EXPECT_EQ(m.captured(1).toInt(), c.rows);
    EXPECT_EQ(search->pcSearch->isTabVisible(search->pcSearch->indexOf(search->tsReplace)), c.rows > 0);
    EXPECT_EQ(search->pcSearch->currentWidget(), search->tsResults);
    EXPECT_EQ(search->editReplaceSource->text(), QStringLiteral("findme"));
    EXPECT_FALSE(search->bnStop->isEnabled());
  }
  // Rows sorted by caption, whatever order the walk found them in.
  openKey(kUser, "Software\\Cols\\a findme", Bitness::x32);
  searchKey(kUser, QStringLiteral("\\Software\\Cols"), QStringLiteral("findme"));
  EXPECT_EQ(captions(), QStringList({"HKEY_CURRENT_USER\\Software\\Cols\\a findme|",
                                     "HKEY_CURRENT_USER\\Software\\Cols\\Findme|",
                                     "HKEY_CURRENT_USER\\Software\\Cols\\Findme\\|Findme value",
                                     "HKEY_CURRENT_USER\\Software\\Cols\\Findme\\|Findme value"}));
  search->resize(760, 420);
  saveScreenshot(*search, "search-window-results");
}

TEST_F(SearchWindow, StopEndsTheSearchAndABadExpressionIsShown) {
  for (int i = 0; i < 20; ++i) openKey(kUser, "Software\\Stop\\k" + std::to_string(i), Bitness::x32);
  QTimer::singleShot(0, search, [this] { search->bnStopClick(); });
  searchKey(kUser, QStringLiteral("\\Software\\Stop"), QStringLiteral("k"));
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^You have stopped the search\\. \\(\\d\\d:\\d\\d:\\d\\d\\)$"))
                  .match(search->statusText())
                  .hasMatch())
      << search->statusText().toStdString();
  EXPECT_LT(search->resultsModel()->count(), 20);

  search->cbSearchStyle->setCurrentIndex(3);
  EXPECT_FALSE(search->cbIgnoreCase->isEnabled());
  searchKey(kUser, QStringLiteral("\\Software\\Stop"), QStringLiteral("k(("));
  EXPECT_FALSE(search->statusText().startsWith(QStringLiteral("Search has finished")))
      << search->statusText().toStdString();
  EXPECT_FALSE(search->statusText().isEmpty());
}

TEST_F(SearchWindow, WholeRegistryFindsMachineRowsButNoClassesRootOnes) {
  openKey(kMachine, "SOFTWARE\\Classes\\WholeZq9", Bitness::x32);
  openKey(kUser, "Software\\WholeZq9User", Bitness::x32);
  search->ShowSearch(kUser, QStringLiteral("\\Software"), rvDefault);
  search->rbRangeComplete->setChecked(true);
  search->rbRangeCompleteClick();
  EXPECT_EQ(search->labelSearchRange->text(), QStringLiteral("Search complete registry."));
  search->editSearchTerm->setText(QStringLiteral("WholeZq9"));
  search->aSearchStartExecute();
  const QStringList rows = captions();
  EXPECT_FALSE(rows.filter(QRegularExpression(QStringLiteral("^HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Classes\\\\WholeZq9\\|$"))).isEmpty())
      << rows.join(u'\n').toStdString();
  EXPECT_TRUE(rows.filter(QStringLiteral("HKEY_CLASSES_ROOT")).isEmpty()) << rows.join(u'\n').toStdString();
  EXPECT_TRUE(rows.filter(QStringLiteral("HKEY_CURRENT_USER")).isEmpty()) << rows.join(u'\n').toStdString();
}

TEST_F(SearchWindow, DoubleClickSelectsTheKeyAndTheValueInTheMainWindow) {
  {
    auto key = openKey(kUser, "Software\\Jump", Bitness::x32);
    key->WriteString("Other", "x");
    key->WriteString("JumpHere", "x");
  }
  searchKey(kUser, QStringLiteral("\\Software\\Jump"), QStringLiteral("JumpHere"));
  const int row = rowOf(QStringLiteral("HKEY_CURRENT_USER\\Software\\Jump\\"), QStringLiteral("JumpHere"));
  ASSERT_GE(row, 0) << captions().join(u'\n').toStdString();
  search->lvResultsDblClick(row);
  EXPECT_EQ(form->GetSelectedLocation().keyPath, QStringLiteral("\\Software\\Jump"));
  const QModelIndex current = form->lvData->currentIndex();
  ASSERT_TRUE(current.isValid());
  EXPECT_EQ(form->valueModel()->item(current.row()).ValueName, QStringLiteral("JumpHere"));
}

TEST_F(SearchWindow, ExportWritesTheHeaderAndTheRowsItsCaptionSays) {
  {
    auto key = openKey(kUser, "Software\\Exp\\ExpKey\\Sub", Bitness::x32);
    key->WriteString("Inner", "deep");
    auto values = openKey(kUser, "Software\\Exp", Bitness::x32);
    values->WriteString("ExpString", "text");
    values->WriteInteger("ExpNumber", 7);
    values->WriteString("Other", "ExpData");
  }
  searchKey(kUser, QStringLiteral("\\Software\\Exp"), QStringLiteral("Exp"));
  const QStringList before = treeLines(kUser, "\\Software\\Exp");
  ASSERT_EQ(search->resultsModel()->count(), 4) << captions().join(u'\n').toStdString();

  const QStringList header = {
      "REGEDIT4",
      "",
      "; Search style: Simple substring search",
      "; Search for: Exp",
      "; Search for keys that are of any date. ",
      "; Search focus: Keys, Values, Data",
      "; Data types: Strings, Numerics",
      "; Search range: HKEY_CURRENT_USER\\Software\\Exp",
  };
  auto withoutDate = [](QStringList lines) {
    if (lines.size() > 2) {
      EXPECT_TRUE(lines[2].startsWith(QStringLiteral("; Search results from "))) << lines[2].toStdString();
      lines.removeAt(2);
    }
    return lines;
  };

  // Nothing checked: "Export all" still writes every row, "selected only" none.
  search->aSearchResultsDeSelectAll->trigger();
  answers.saveAnswer = exportFile("none.reg");
  search->aSearchResultsExportSelected->trigger();
  EXPECT_EQ(withoutDate(fileLines(answers.saveAnswer)), header);
  EXPECT_EQ(answers.suffixes.value(0), QStringLiteral("reg"));

  answers.saveAnswer = exportFile("all.reg");
  search->aSearchResultsExportAll->trigger();
  const QStringList all = withoutDate(fileLines(answers.saveAnswer));
  EXPECT_TRUE(all.contains(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Exp\\ExpKey]")));
  EXPECT_TRUE(all.contains(QStringLiteral("\"ExpNumber\"=dword:00000007")));
  EXPECT_TRUE(all.contains(QStringLiteral("\"Other\"=\"ExpData\"")));
  EXPECT_FALSE(all.contains(QStringLiteral("\"Inner\"=\"deep\""))) << "a key row is its section line alone";

  // Only the key rows, with their contents.
  search->aSearchResultsSelectKeys->trigger();
  search->aSearchResultsExportKeyContents->trigger();
  answers.saveAnswer = exportFile("keys.reg");
  search->aSearchResultsExportSelected->trigger();
  const QStringList keys = withoutDate(fileLines(answers.saveAnswer));
  EXPECT_TRUE(keys.contains(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Exp\\ExpKey\\Sub]")));
  EXPECT_TRUE(keys.contains(QStringLiteral("\"Inner\"=\"deep\"")));
  EXPECT_FALSE(keys.contains(QStringLiteral("\"ExpNumber\"=dword:00000007")));

  // The values deleted, the export of all rows puts them back.
  search->aSearchResultsExportKeyContents->trigger();
  for (const char* name : {"ExpString", "ExpNumber", "Other"})
    ASSERT_TRUE(DeleteRegistryValue(kUser, "\\Software\\Exp", name, ViewByte::v32)) << name;
  ASSERT_NE(treeLines(kUser, "\\Software\\Exp"), before);
  ASSERT_TRUE(ImportRegFile((dir / "all.reg")));
  EXPECT_EQ(treeLines(kUser, "\\Software\\Exp"), before);
}

TEST_F(SearchWindow, DeleteAsksThenRemovesCheckedRowsAndKeepsTheOnesItCannot) {
  {
    auto key = openKey(kUser, "Software\\Del\\DelKey", Bitness::x32);
    auto values = openKey(kUser, "Software\\Del", Bitness::x32);
    values->WriteString("Del1", "x");
    values->WriteString("Del2", "x");
    values->WriteString("Del3", "x");
    values->WriteString("Cut", "x");
    openKey(kUser, "Software\\Del\\CutKey", Bitness::x32);
  }
  searchKey(kUser, QStringLiteral("\\Software\\Del"), QStringLiteral("Del"), true, true, false);
  ASSERT_EQ(search->resultsModel()->count(), 4) << captions().join(u'\n').toStdString();
  // Rows whose names hold a NUL: cut short at it, they would name the value
  // "Cut" and the key "CutKey".
  TSearchListItem nulValue;
  nulValue.Caption = "HKEY_CURRENT_USER\\Software\\Del\\";
  nulValue.SubItem1 = "Cut<0x00>Tail";
  nulValue.ImageIndex = siValueName;
  nulValue.RootKey = kUser;
  nulValue.KeyPath = "\\Software\\Del\\";
  nulValue.ValueName = std::string("Cut\0Tail", 8);
  TSearchListItem nulKey;
  nulKey.Caption = "HKEY_CURRENT_USER\\Software\\Del\\CutKey<0x00>Tail";
  nulKey.ImageIndex = siKey;
  nulKey.RootKey = kUser;
  nulKey.KeyPath = std::string("\\Software\\Del\\CutKey\0Tail", 26);
  search->resultsModel()->addPending(nulValue);
  search->resultsModel()->addPending(nulKey);
  search->resultsModel()->flush();
  const QStringList before = treeLines(kUser, "\\Software\\Del");

  answers.boxAnswer = mrNo;
  search->aSearchResultsDeleteSelected->trigger();
  EXPECT_EQ(answers.messages, QStringList({"Are you sure you want to delete the selected search results?"}));
  EXPECT_EQ(treeLines(kUser, "\\Software\\Del"), before);
  EXPECT_EQ(search->resultsModel()->count(), 6);

  // Del2 is kept by its check box; Del3 is already gone.
  search->resultsModel()->setChecked(rowOf(QStringLiteral("HKEY_CURRENT_USER\\Software\\Del\\"), QStringLiteral("Del2")), false);
  ASSERT_TRUE(DeleteRegistryValue(kUser, "\\Software\\Del", "Del3", ViewByte::v32));
  answers.boxAnswer = mrYes;
  search->aSearchResultsDeleteSelected->trigger();
  EXPECT_EQ(captions(), QStringList({"HKEY_CURRENT_USER\\Software\\Del\\|Del2",
                                     "HKEY_CURRENT_USER\\Software\\Del\\|Cut<0x00>Tail",
                                     "HKEY_CURRENT_USER\\Software\\Del\\CutKey<0x00>Tail|"}));
  for (int row : {1, 2}) {
    EXPECT_TRUE(search->resultsModel()->item(row).Failed);
    EXPECT_EQ(search->resultsModel()->data(search->resultsModel()->index(row, 0), Qt::ForegroundRole).value<QColor>(),
              QColor(Qt::red));
  }
  EXPECT_FALSE(search->resultsModel()->item(0).Failed);
  EXPECT_FALSE(RegistryKeyExists(kUser, "\\Software\\Del\\DelKey", ViewByte::v32));
  EXPECT_FALSE(RegistryValueExists(kUser, "\\Software\\Del", "Del1", ViewByte::v32));
  EXPECT_TRUE(RegistryValueExists(kUser, "\\Software\\Del", "Del2", ViewByte::v32));
  EXPECT_TRUE(RegistryValueExists(kUser, "\\Software\\Del", "Cut", ViewByte::v32));
  EXPECT_TRUE(RegistryKeyExists(kUser, "\\Software\\Del\\CutKey", ViewByte::v32));
}

TEST(ReplaceOccurrences, EachOccurrenceOfTheOldTextOnce) {
  const struct Case {
    const char* text;
    const char* from;
    const char* to;
    bool ignoreCase;
    const char* result;
    int count;
  } cases[] = {
      {"banana", "a", "aa", false, "baanaanaa", 3},
      {"aaa", "aa", "a", false, "aa", 1},
      {"AbA", "a", "xa", true, "xabxa", 2},
      {"AbA", "a", "x", false, "AbA", 0},
      {"text", "", "x", false, "text", 0},
      {"", "a", "b", false, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + std::string("/") + c.from);
    QString text = QString::fromLatin1(c.text);
    EXPECT_EQ(ReplaceOccurrences(text, QString::fromLatin1(c.from), QString::fromLatin1(c.to), c.ignoreCase), c.count);
    EXPECT_EQ(text, QString::fromLatin1(c.result));
  }
}

// Each case builds Software\Rep\Case, searches it for the term, replaces and
// compares the tree and the status.
TEST_F(SearchWindow, ReplaceRenamesAndRewritesEachOccurrenceOnce) {
  const struct Case {
    const char* name;
    std::function<void(TMyRegistry&)> build;
    bool keys, values, data;
    const char* from;
    const char* to;
    bool overwrite;
    int count;
    QStringList tree;
    int failedRows;
  } cases[] = {
      {"value names", [](TMyRegistry& k) { k.WriteString("ab", "x"), k.WriteString("bab", "x"); }, false, true,
       false, "a", "aa", false, 2,
       {"[HKEY_CURRENT_USER\\Software\\Rep]", "\"aab\"=\"x\"", "\"baab\"=\"x\""}, 0},
      {"string data", [](TMyRegistry& k) { k.WriteString("s", "aXa"), k.WriteExpandString("e", "%a%"); }, false,
       false, true, "a", "aa", false, 3,
       {"[HKEY_CURRENT_USER\\Software\\Rep]", "\"s\"=\"aaXaa\"",
        "\"e\"=hex(2):25,61,61,25,00"}, 0},
      {"key names", [](TMyRegistry& k) { k.CreateKey("ka"); }, true, false, false, "a", "aa", false, 1,
       {"[HKEY_CURRENT_USER\\Software\\Rep]", "[HKEY_CURRENT_USER\\Software\\Rep\\kaa]"}, 0},
      {"empty source", [](TMyRegistry& k) { k.WriteString("a", "a"); }, true, true, true, "", "b", false, 0,
       {"[HKEY_CURRENT_USER\\Software\\Rep]", "\"a\"=\"a\""}, 0},
      {"taken name", [](TMyRegistry& k) { k.WriteString("a", "1"), k.WriteString("b", "2"); }, false, true, false,
       "a", "b", false, 0, {"[HKEY_CURRENT_USER\\Software\\Rep]", "\"a\"=\"1\"", "\"b\"=\"2\""}, 1},
      {"taken name, overwrite", [](TMyRegistry& k) { k.WriteString("a", "1"), k.WriteString("b", "2"); }, false,
       true, false, "a", "b", true, 1, {"[HKEY_CURRENT_USER\\Software\\Rep]", "\"b\"=\"1\""}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteRegistryKey(kUser, "\\Software\\Rep", ViewByte::v32);
    c.build(*openKey(kUser, "Software\\Rep", Bitness::x32));
    searchKey(kUser, QStringLiteral("\\Software\\Rep"), QString::fromLatin1(*c.from ? c.from : "a"), c.keys, c.values,
              c.data);
    search->editReplaceSource->setText(QString::fromLatin1(c.from));
    search->editReplaceNew->setText(QString::fromLatin1(c.to));
    search->cbReplaceOverwriteValues->setChecked(c.overwrite);
    search->aReplaceExecute();
    EXPECT_EQ(search->statusText(), QString::number(c.count) + QStringLiteral(" occurences have been replaced."));
    QStringList tree = treeLines(kUser, "\\Software\\Rep");
    QStringList wanted = c.tree;
    tree.sort();
    wanted.sort();
    EXPECT_EQ(tree, wanted);
    int failed = 0;
    for (int r = 0; r < search->resultsModel()->count(); ++r) {
      const TSearchListItem& row = search->resultsModel()->item(r);
      if (row.Failed) {
        ++failed;
        EXPECT_TRUE(row.Checked) << "a failed row stays checked for the next try";
      }
    }
    EXPECT_EQ(failed, c.failedRows);
    EXPECT_EQ(search->pcSearch->currentWidget(), search->tsResults);
  }
  // The failed row of a taken name, tried again with overwrite.
  DeleteRegistryKey(kUser, "\\Software\\Rep", ViewByte::v32);
  {
    auto k = openKey(kUser, "Software\\Rep", Bitness::x32);
    k->WriteString("a", "1");
    k->WriteString("b", "2");
  }
  searchKey(kUser, QStringLiteral("\\Software\\Rep"), QStringLiteral("a"), false, true, false);
  search->editReplaceNew->setText(QStringLiteral("b"));
  search->cbReplaceOverwriteValues->setChecked(false);
  search->aReplaceExecute();
  ASSERT_EQ(search->resultsModel()->count(), 1);
  EXPECT_TRUE(search->resultsModel()->item(0).Failed);
  search->cbReplaceOverwriteValues->setChecked(true);
  search->aReplaceExecute();
  EXPECT_EQ(search->resultsModel()->count(), 0);
  EXPECT_EQ(valueNames(kUser, "Software\\Rep"), std::vector<std::string>{"b"});
}

TEST_F(SearchWindow, ARowOfThe64BitViewIsRenamedThere) {
  openKey(kMachine, "SOFTWARE\\Rep64\\ka", Bitness::x64);
  searchKey(kMachine, QStringLiteral("\\SOFTWARE\\Rep64"), QStringLiteral("ka"), true, false, false, rv64Bit);
  ASSERT_EQ(search->resultsModel()->count(), 1) << captions().join(u'\n').toStdString();
  EXPECT_EQ(search->resultsModel()->item(0).View, rv64Bit);
  search->editReplaceNew->setText(QStringLiteral("kb"));
  search->aReplaceExecute();
  EXPECT_EQ(search->resultsModel()->count(), 0);
  TMyRegistry reg64;
  reg64.SetBitness(Bitness::x64);
  reg64.SetRootKey(kMachine);
  EXPECT_TRUE(reg64.KeyExists("\\SOFTWARE\\Rep64\\kb"));
  EXPECT_FALSE(reg64.KeyExists("\\SOFTWARE\\Rep64\\ka"));
  EXPECT_FALSE(RegistryKeyExists(kMachine, "\\SOFTWARE\\Rep64", ViewByte::v32)) << "nothing in the 32-bit view";
}

}  // namespace

namespace {

// The options the main window's settings keep come back as they went in, the
// dates to the second.
TEST_F(SearchWindow, OptionsRoundTripThroughTheSettingsRecord) {
  TSearchOptions options;
  options.FocusValues = false;
  options.RangeComplete = true;
  options.IgnoreCase = true;
  options.TypeBinary = true;
  options.ForHex = true;
  options.Term = "41 42";
  options.ByDateMode = 3;
  options.DateTime1 = 45000.5;     // 15 March 2023, noon
  options.DateTime2 = 45001.25;
  options.Style = 2;
  options.ReplaceOverwriteKeys = true;
  search->setSettings(options);
  const TSearchOptions back = search->settings();
  EXPECT_EQ(back.FocusValues, false);
  EXPECT_EQ(back.RangeComplete, true);
  EXPECT_EQ(back.IgnoreCase, true);
  EXPECT_EQ(back.TypeBinary, true);
  EXPECT_EQ(back.ForHex, true);
  EXPECT_EQ(back.Term, "41 42");
  EXPECT_EQ(back.ByDateMode, 3);
  EXPECT_DOUBLE_EQ(back.DateTime1, 45000.5);
  EXPECT_DOUBLE_EQ(back.DateTime2, 45001.25);
  EXPECT_EQ(back.Style, 2);
  EXPECT_EQ(back.ReplaceOverwriteKeys, true);
  EXPECT_FALSE(search->dtDate2->isHidden()) << "the second date shows for \"between:\"";
}

// "Search" of the main window opens the window for the selected key.
TEST_F(SearchWindow, TheMainWindowOpensItForTheSelectedKey) {
  openKey(kUser, "Software\\Open", Bitness::x32);
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\Open"));
  search->hide();
  form->aSearchExecute();
  EXPECT_TRUE(search->isVisible());
  EXPECT_EQ(search->FRootKey, kUser);
  EXPECT_EQ(search->FKeyPath, "\\Software\\Open");
  EXPECT_EQ(search->labelSearchRange->text(), QStringLiteral("Search limited to HKEY_CURRENT_USER\\Software\\Open."));
  EXPECT_EQ(search->pcSearch->currentWidget(), search->tsCriteria);
  EXPECT_EQ(search->parentWidget(), nullptr);
  saveScreenshot(*search, "search-window-criteria");
}

}  // namespace
