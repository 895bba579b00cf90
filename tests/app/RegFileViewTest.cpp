// The .reg file view (its tree builder and value rows, and the main window
// showing it with difference marks), and the export and import actions with
// the import's progress window.

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QTreeView>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>

#include "app/FormUnitImportProgress.h"
#include "app/FormUnitMain.h"
#include "app/KeyLister.h"
#include "app/QtText.h"
#include "app/RegFileTree.h"
#include "app/UiSeams.h"
#include "core/bwlRegTools.h"
#include "platform/Registry.h"
#include "platform/RegistryStore.h"
#include "tests/app/QtPrinters.h"
#include "tests/app/ScriptedAnswers.h"
#include "tests/app/Screenshot.h"
#include "tests/support/Files.h"
#include "tests/support/Privileges.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestData.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string utf16File(const std::string& text) {
  std::string out = "\xFF\xFE";
  WriteRegFileText(text, out, true);
  return out;
}

// The records of every node below `node`, by the node's path ("A\B").
void collectRecords(const KeyNode& node, const QString& path, std::map<QString, QStringList>& out) {
  if (const auto* data = dynamic_cast<const TRegFileNodeData*>(node.data.get())) out[path] = data->Values;
  for (int i = 0; i < node.count(); ++i) {
    const KeyNode& child = *node.child(i);
    collectRecords(child, path.isEmpty() ? child.text : path + u'\\' + child.text, out);
  }
}

std::map<QString, QStringList> recordsOf(const KeyNode& top) {
  std::map<QString, QStringList> out;
  collectRecords(top, QString(), out);
  return out;
}

KeyNode* nodeAt(KeyNode* node, const QString& path) {
  for (const QString& part : path.split(u'\\')) {
    KeyNode* next = nullptr;
    for (int i = 0; i < node->count() && !next; ++i)
      if (node->child(i)->text.compare(part, Qt::CaseInsensitive) == 0) next = node->child(i);
    if (!next) return nullptr;
    node = next;
  }
  return node;
}

TEST(RegFileRecord, CommaTextKeepsEveryField) {
  const QStringList cases[] = {
      {"a", "REG_SZ", "plain", "6", "3", "U"},
      {"with blank", "REG_SZ", "say \"hi\", C:\\x", "20", "3", "C", "other"},
      {"@", "REG_MULTI_SZ", "a\r\nb\r\n\r\n", "8", "3", "U", ""},
      {"", "", "", "", "", "N", "x"},
      {"q\"", "REG_BINARY", "01 02", "2", "4", "T"},
  };
  for (const QStringList& fields : cases) {
    SCOPED_TRACE(fields.join(u'|').toStdString());
    EXPECT_EQ(SplitCommaText(JoinCommaText(fields)), fields);
  }
  EXPECT_EQ(JoinCommaText({"a", "b c", "d\"e"}), QStringLiteral("a,\"b c\",\"d\"\"e\""));
}

// The tree of a file: sections share nodes, a deletion section is a node of
// its own, values before any section and lines without data are dropped, a
// value continued over three lines is one record; both versions give the
// same tree.
TEST(RegFileTreeBuilder, SectionsValuesAndBothVersions) {
  const std::string body =
      "\"early\"=\"dropped\"\r\n"
      "\r\n[HKEY_CURRENT_USER\\Software\\A]\r\n"
      "\"s\"=\"C:\\\\x\"\r\n"
      "@=dword:000000ff\r\n"
      "\r\n[HKEY_CURRENT_USER\\Software\\B]\r\n"
      "\r\n[hkey_current_user\\software\\a\\Sub]\r\n"
      "\"bin\"=hex:01,02,\\\r\n  03,\\\r\n  04\r\n"
      "\"dev\"=hex(ffff0011):01\r\n"
      "\r\n[-HKEY_CURRENT_USER\\Software\\Gone]\r\n"
      "\"x\"=\"1\"\r\n";
  const auto v4 = BuildRegFileTreeFromBytes("REGEDIT4\r\n" + body, QStringLiteral("x.reg"), false);
  const auto v5 = BuildRegFileTreeFromBytes(utf16File("Windows Registry Editor Version 5.00\r\n" + body),
                                            QStringLiteral("x.reg"), false);
  EXPECT_EQ(v4->text, QStringLiteral("x.reg"));
  EXPECT_EQ(v4->imageIndex, kRegFileTopImage);
  EXPECT_EQ(v4->data, nullptr);
  QStringList firstLevel;
  for (int i = 0; i < v4->count(); ++i) firstLevel << v4->child(i)->text;
  EXPECT_EQ(firstLevel, QStringList({"HKEY_CURRENT_USER", "-HKEY_CURRENT_USER"}));
  const std::map<QString, QStringList> expected = {
      {"HKEY_CURRENT_USER\\Software\\A", {"s,REG_SZ,C:\\\\x,5,3,U", "@,REG_DWORD,\"0x000000FF (255)\",4,4,U"}},
      {"HKEY_CURRENT_USER\\Software\\A\\Sub", {"bin,REG_BINARY,\"01 02 03 04\",4,4,U", "dev,REG_NONE,01,0,-1,U"}},
      {"-HKEY_CURRENT_USER\\Software\\Gone", {"x,REG_SZ,1,1,3,U"}},
  };
  EXPECT_EQ(recordsOf(*v4), expected);
  EXPECT_EQ(recordsOf(*v5), expected);
  // Software\A holds Sub; B holds nothing and says so.
  KeyNode* software = nodeAt(v4.get(), QStringLiteral("HKEY_CURRENT_USER\\Software"));
  ASSERT_NE(software, nullptr);
  EXPECT_EQ(software->count(), 2);
  EXPECT_FALSE(nodeAt(v4.get(), QStringLiteral("HKEY_CURRENT_USER\\Software\\B"))->hasChildren);

  bool ok = true;
  const auto empty = BuildRegFileTreeFromBytes("Windows Registry Editor Version 5.00\r\n" + body, "y.reg", false, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(empty->count(), 0);
}

// Rows of a node's records: marks colour the rows, the registry's data goes to
// the fourth sub-item, and a key node ends with the placeholder row while the
// top node has none.
TEST(RegFileTreeBuilder, RowsOfRecords) {
  KeyTreeModel model;
  auto built = BuildRegFileTreeFromBytes("REGEDIT4\r\n[HKEY_CURRENT_USER\\K]\r\n\"a\"=\"1\"\r\n", "f.reg", false);
  KeyNode* top = model.adoptChild(model.root(), std::move(built));
  KeyNode* key = nodeAt(top, QStringLiteral("HKEY_CURRENT_USER\\K"));
  ASSERT_NE(key, nullptr);
  auto* data = static_cast<TRegFileNodeData*>(key->data.get());
  data->Values << JoinCommaText({"n", "REG_SZ", "x", "2", "3", "N", ""})
               << JoinCommaText({"t", "REG_DWORD", "0x00000001 (1)", "4", "4", "T", ""})
               << JoinCommaText({"c", "REG_SZ", "x", "2", "3", "C", "y"}) << QStringLiteral("short,REG_SZ");
  bool wanted = false;
  const auto rows = RegFileValueRows(*key, platform::HKEY_CURRENT_USER, "\\K", "(Default)", "(none)", wanted);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_TRUE(wanted);
  struct Case {
    const char* caption;
    QChar mark;
    std::uint32_t color;
  };
  const Case cases[] = {{"a", u'U', 0}, {"n", u'N', kMarkColorMissing}, {"t", u'T', kMarkColorDifferent},
                        {"c", u'C', kMarkColorDifferent}};
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(cases[i].caption);
    EXPECT_EQ(rows[i].Caption, QString::fromLatin1(cases[i].caption));
    EXPECT_EQ(rows[i].DiffMark, cases[i].mark);
    EXPECT_EQ(rows[i].MarkColor, cases[i].color);
    EXPECT_EQ(rows[i].KeyPath, QStringLiteral("\\K"));
  }
  EXPECT_EQ(rows[2].DataInfo.RegData, rdInteger);
  EXPECT_EQ(rows[3].SubItems[3], QStringLiteral("y"));
  EXPECT_EQ(rows[4].Caption, QStringLiteral("(Default)"));
  EXPECT_EQ(rows[4].StateIndex, 1);
  EXPECT_EQ(WindowsColorToQColor(kMarkColorMissing), QColor(0xFF, 0x80, 0x80));
  EXPECT_EQ(WindowsColorToQColor(kMarkColorDifferent), QColor(0xA6, 0xCA, 0xF0));
  EXPECT_TRUE(RegFileValueRows(*top, {}, {}, "(Default)", "(none)", wanted).empty());
}

class RegFileWindow : public ::testing::Test {
protected:
  void SetUp() override {
    platform::registry::shutdownForTests();
    setPrompter(&answers);
    setMessageBoxes(&answers);
    form = std::make_unique<TformMain>();
    form->setKeyLister(&lister);
    form->resize(1000, 650);
    form->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    setPrompter(nullptr);
    setMessageBoxes(nullptr);
    form->close();
    form.reset();
    for (const auto& name : mounted) platform::RegUnLoadKeyA(platform::HKEY_LOCAL_MACHINE, name.c_str());
    testsupport::setRestorePrivilege(false);
    platform::registry::shutdownForTests();
  }
  // A copy of the unpacked hive mounted as HKLM\TEMPHIVE.
  void mountCopy(const fs::path& source) {
    const fs::path hive = dir / source.filename();
    fs::copy_file(source, hive);
    ASSERT_TRUE(testsupport::setRestorePrivilege(true));
    ASSERT_EQ(platform::RegLoadKeyA(platform::HKEY_LOCAL_MACHINE, "TEMPHIVE", hive.c_str()), platform::ERROR_SUCCESS);
    mounted.push_back("TEMPHIVE");
  }
  KeyNode* lastTop() { return form->keyModel()->root()->child(form->keyModel()->root()->count() - 1); }

  testsupport::TempRegistry registry;
  testsupport::TempDir dir;
  RegistryKeyLister lister;
  ScriptedAnswers answers;
  std::unique_ptr<TformMain> form;
  std::vector<std::string> mounted;
};

// A real user hive mounted as HKLM\TEMPHIVE, exported and opened "difference
// only": every value is "U". After one string is changed, one value deleted
// and a DWORD turned into a QWORD, exactly those rows read "C", "N" and "T".
TEST_F(RegFileWindow, DifferenceMarksOfAnExportedHive) {
  HS_TESTDATA_OR_SKIP(source, testsupport::unpackedTestdata("hives/real/NTUSER.DAT.xz"));
  ASSERT_NO_FATAL_FAILURE(mountCopy(source));
  const std::string keyPath = "\\TEMPHIVE\\DiffMarks";
  {
    TMyRegistry reg;
    reg.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(keyPath, true));
    reg.WriteString("str", "C:\\Windows");
    reg.WriteString("gone", "here");
    reg.WriteInteger("num", -1);
    reg.WriteMultiString("multi", "a\r\nb\r\n");
    const Bytes bin = {1, 2, 3};
    reg.writeRawValue("bin", 3, bin);
  }
  for (const bool unicode : {true, false}) {
    ExportRegistryKeyToFile(platform::HKEY_LOCAL_MACHINE, "\\TEMPHIVE", dir / (unicode ? "v5.reg" : "v4.reg"), unicode,
                            Is64Flag::no, true);
  }
  form->ShowRegFile(QString::fromStdString((dir / "v5.reg").string()), true);
  KeyNode* top5 = lastTop();
  EXPECT_EQ(top5->text, QStringLiteral("v5.reg"));
  for (const auto& [path, records] : recordsOf(*top5)) {
    for (const QString& record : records) {
      EXPECT_EQ(SplitCommaText(record).value(RegFileRecord::fMark), QStringLiteral("U"))
          << path.toStdString() << ": " << record.toStdString();
    }
  }
  {
    TMyRegistry reg;
    reg.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(keyPath, false));
    reg.WriteString("str", "D:\\Other");
    ASSERT_TRUE(reg.DeleteValue("gone"));
    const Bytes qword = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    reg.writeRawValue("num", 11, qword);
  }
  std::map<QString, QStringList> trees[2];
  for (const char* file : {"v5.reg", "v4.reg"}) {
    SCOPED_TRACE(file);
    form->ShowRegFile(QString::fromStdString((dir / file).string()), true);
    KeyNode* top = lastTop();
    trees[file[1] == '5' ? 0 : 1] = recordsOf(*top);
    std::map<QString, QString> changed;
    for (const auto& [path, records] : recordsOf(*top)) {
      for (const QString& record : records) {
        const QStringList f = SplitCommaText(record);
        if (f.value(RegFileRecord::fMark) != u"U") changed[f[0]] = f.value(RegFileRecord::fMark);
      }
    }
    EXPECT_EQ(changed, (std::map<QString, QString>{{"str", "C"}, {"gone", "N"}, {"num", "T"}}));
  }
  EXPECT_EQ(trees[0], trees[1]);

  // The window shows the marked rows; the picture is there to look at.
  KeyNode* node = nodeAt(lastTop(), QStringLiteral("HKEY_LOCAL_MACHINE\\TEMPHIVE\\DiffMarks"));
  ASSERT_NE(node, nullptr);
  form->tvKeys->expand(form->keyModel()->indexOf(node->parent));
  form->selectNode(node);
  form->tvKeysClick();
  const ValueListModel* rows = form->valueModel();
  std::map<QString, QChar> marks;
  for (int r = 0; r < rows->count(); ++r) marks[rows->item(r).Caption] = rows->item(r).DiffMark;
  EXPECT_EQ(marks[QStringLiteral("str")], u'C');
  EXPECT_EQ(marks[QStringLiteral("gone")], u'N');
  EXPECT_EQ(marks[QStringLiteral("num")], u'T');
  EXPECT_EQ(marks[QStringLiteral("multi")], u'U');
  EXPECT_FALSE(form->lvData->isColumnHidden(ValueListModel::colRegistryValue));
  saveScreenshot(*form, "reg-file-difference-view");
}

// Filter 1 writes version 5, filter 2 version 4; a root node exports its
// whole root. The import reads the file back, its progress bar taking each
// position once at most; a file the registry refuses ends in a message.
TEST_F(RegFileWindow, ExportAndImportActions) {
  TMyRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Software\\ExportMe", true));
  reg.WriteString("v", "1");
  reg.CloseKey();
  form->JumpToPath(QStringLiteral("HKEY_CURRENT_USER"));
  struct Case {
    int filter;
    const char* start;
  };
  const Case cases[] = {{1, "\xFF\xFEW\0i\0n\0d\0o\0w\0s\0 \0R\0e\0g\0i\0s\0t\0r\0y\0 \0E\0d\0i\0t\0o\0r\0 \0V\0e\0r\0s\0i\0o\0n\0 \0"
                            "5\0.\0" "0\0" "0\0\r\0\n\0"},
                        {2, "REGEDIT4\r\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter);
    const fs::path file = dir / ("out" + std::to_string(c.filter) + ".reg");
    answers.saveAnswer = QString::fromStdString(file.string());
    answers.filterAnswer = c.filter;
    form->aKeyExportExecute();
    const std::string text = testsupport::readFileText(file);
    const std::string start = c.filter == 1 ? std::string(c.start, 76) : std::string(c.start);
    EXPECT_TRUE(text.starts_with(start));
    std::string section;
    WriteRegFileText("\r\n[HKEY_CURRENT_USER]\r\n", section, c.filter == 1);
    EXPECT_NE(text.find(section), std::string::npos);
    std::string value;
    WriteRegFileText("[HKEY_CURRENT_USER\\Software\\ExportMe]\r\n\"v\"=\"1\"\r\n", value, c.filter == 1);
    EXPECT_NE(text.find(value), std::string::npos);
  }
  EXPECT_TRUE(answers.messages.isEmpty());

  // A value no .reg line can hold is left out, and the export says so.
  ASSERT_TRUE(reg.OpenKey("\\Software\\ExportMe", false));
  reg.WriteString("two\nlines", "x");
  reg.CloseKey();
  answers.saveAnswer = QString::fromStdString((dir / "partial.reg").string());
  answers.filterAnswer = 1;
  form->aKeyExportExecute();
  ASSERT_EQ(answers.messages.size(), 1);
  EXPECT_TRUE(answers.messages.front().startsWith(QStringLiteral("The export is incomplete: 1 ")))
      << answers.messages.front().toStdString();
  EXPECT_TRUE(answers.messages.front().contains(QStringLiteral("ExportMe"))) << answers.messages.front().toStdString();
  EXPECT_TRUE(fs::exists(dir / "partial.reg"));
  answers.messages.clear();

  // 401 lines: the header, 400 values.
  std::string text = "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Imported]\r\n";
  for (int i = 0; i < 399; ++i) text += "\"v" + std::to_string(i) + "\"=dword:00000001\r\n";
  writeFile(dir / "in.reg", text);
  answers.openAnswer = QString::fromStdString((dir / "in.reg").string());
  std::map<int, int> positions;
  QObject::connect(form->formImportProgress()->pg, &QProgressBar::valueChanged,
                   [&](int value) { ++positions[value]; });
  form->aKeyImportExecute();
  EXPECT_FALSE(form->formImportProgress()->isVisible());
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\Software\\Imported"));
  EXPECT_EQ(reg.ReadInteger("v398"), 1);
  reg.CloseKey();
  for (const auto& [value, times] : positions) {
    SCOPED_TRACE(value);
    EXPECT_EQ(times, 1);
    EXPECT_GE(value, 0);
    EXPECT_LE(value, 100);
  }
  EXPECT_EQ(positions.count(100), 1u);
  EXPECT_EQ(form->formImportProgress()->labelKey->text(), QStringLiteral("HKEY_CURRENT_USER\\Software\\Imported"));
  EXPECT_TRUE(answers.messages.isEmpty());

  // The window as it stands during an import, to look at.
  TformImportProgress* progress = form->formImportProgress();
  progress->show();
  progress->SetKeyText(QStringLiteral("HKEY_CURRENT_USER\\Software\\Imported"));
  progress->SetProgress(150, 400);
  EXPECT_EQ(progress->pg->value(), 38);
  saveScreenshot(*progress, "import-progress");
  progress->close();

  // An export to a folder that does not exist reports its error.
  answers.saveAnswer = QString::fromStdString((dir / "no" / "such" / "x.reg").string());
  answers.filterAnswer = 2;
  form->aKeyExportExecute();
  ASSERT_EQ(answers.messages.size(), 1);
  EXPECT_FALSE(answers.messages[0].isEmpty());
}

// The bookmarks' keys go out each with its own values only; the root names
// stand in front of each path.
TEST_F(RegFileWindow, BookmarkExportWritesEachKeyAlone) {
  TMyRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Software\\Marked\\Child", true));
  reg.WriteString("deep", "x");
  ASSERT_TRUE(reg.OpenKey("\\Software\\Marked", false));
  reg.WriteString("top", "y");
  reg.CloseKey();
  answers.saveAnswer = QString::fromStdString((dir / "marks.reg").string());
  answers.filterAnswer = 2;
  form->ExportBookmarkKeys({"one", "two"}, {"HKEY_CURRENT_USER\\Software\\Marked", "HKCU\\Software\\Marked\\Child"});
  EXPECT_EQ(testsupport::readFileText(dir / "marks.reg"),
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Marked]\r\n\"top\"=\"y\"\r\n"
            "\r\n[HKEY_CURRENT_USER\\Software\\Marked\\Child]\r\n\"deep\"=\"x\"\r\n\r\n");
}

// A write the registry refuses (a dirty hive without its logs opens
// read-only; this one's DACL lets administrators write) ends the import: the
// progress window closes and a message names the value and key.
TEST_F(RegFileWindow, ARefusedWriteEndsTheImportWithAMessage) {
  HS_TESTDATA_OR_SKIP(source, testsupport::unpackedTestdata("hives/real/UsrClass.dat.xz"));
  ASSERT_NO_FATAL_FAILURE(mountCopy(source));
  writeFile(dir / "in.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\TEMPHIVE]\r\n\"first\"=dword:00000001\r\n");
  answers.openAnswer = QString::fromStdString((dir / "in.reg").string());
  form->aKeyImportExecute();
  EXPECT_FALSE(form->formImportProgress()->isVisible());
  EXPECT_EQ(answers.messages, QStringList({"Failed to set data for 'first' in [HKEY_LOCAL_MACHINE\\TEMPHIVE]"}));
}

}  // namespace
