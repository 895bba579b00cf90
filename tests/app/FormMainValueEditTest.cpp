// "Change data" and "Change type" of the main window on the registry store:
// the editors answered by a recorder, the panes and the history read back.

#include <QRegularExpression>
#include <QTabWidget>

#include "core/RegText.h"
#include "core/bwlRegNative.h"
#include "platform/Registry.h"
#include "tests/app/EditingWindow.h"
#include "tests/app/QtPrinters.h"
#include "tests/app/Screenshot.h"
#include "tests/editor/CodePageGuard.h"
#include "tests/support/TestData.h"

namespace fs = std::filesystem;

namespace {

constexpr platform::HKEY kUser = platform::HKEY_CURRENT_USER;
constexpr platform::HKEY kMachine = platform::HKEY_LOCAL_MACHINE;

// The kind number of a "hex(B):" form in lower case: its case is the
// writer's own business.
QString lowerHexKind(QString line) {
  static const QRegularExpression kind(QStringLiteral("hex\\(([0-9A-Fa-f]+)\\)"));
  const QRegularExpressionMatch m = kind.match(line);
  if (m.hasMatch()) line.replace(m.capturedStart(1), m.capturedLength(1), m.captured(1).toLower());
  return line;
}

// The value as the exporter writes its line; empty when it is missing.
std::string valueLine(platform::HKEY root, const std::string& path, const std::string& name,
                      Bitness bitness = Bitness::x32) {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  if (!EditingWindow::rawValue(root, path, name, type, data, bitness)) return {};
  return lowerHexKind(QString::fromStdString(FormatRegValueLine(name, type, data, false))).toStdString();
}

QString nul() { return QString(QChar(u'\0')); }

using ValueEditing = EditingWindow;

TEST_F(ValueEditing, AStringEditWritesLogsBothPanesAndRecordsOneRow) {
  openKey(kUser, "Software\\X", Bitness::x32)->WriteString("Test", "a");
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X"));
  editors.text = QStringLiteral("b");
  changeData(QStringLiteral("Test"));

  EXPECT_EQ(editors.calls, QStringList({"string Test a"}));
  EXPECT_EQ(valueLine(kUser, "Software\\X", "Test"), "\"Test\"=\"b\"");
  EXPECT_EQ(redoLines(), QStringList({"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X]", "\"Test\"=\"b\""}));
  EXPECT_EQ(undoLines(), QStringList({"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X]", "\"Test\"=\"a\""}));
  EXPECT_EQ(historyRows(), QStringList({"1|2|\\Software\\X\\|Test|2"}));
  const TRegistryValueListItem& row = form->valueModel()->item(rowNamed(QStringLiteral("Test")));
  EXPECT_EQ(row.SubItems[1], QStringLiteral("b"));
  EXPECT_FALSE(form->ValueEditorOpen());
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(u'\n').toStdString();
}

// Each kind with an editor: what the editor starts with, what it answers,
// and the value, its row and the undo line afterwards. The kind never changes.
TEST_F(ValueEditing, EachKindGoesToItsEditorAndKeepsItsKind) {
  {
    auto key = openKey(kUser, "Software\\Kinds", Bitness::x32);
    key->WriteString("Sz", "old");
    key->WriteExpandString("Expand", "%A%");
    key->WriteInteger("Dword", 7);
    key->WriteBigEndianInteger("Big", 7);
    key->WriteMultiString("Multi", "one\r\ntwo");
    key->WriteInt64("Qword", -2);
  }
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\Kinds"));
  const struct Case {
    const char* name;
    QString text;
    std::int64_t number;
    const char* call;
    const char* after;
    const char* rowText;
    const char* undoLine;
  } cases[] = {
      {"Sz", "new", 0, "string Sz old", "\"Sz\"=\"new\"", "new", "\"Sz\"=\"old\""},
      {"Expand", "%B%", 0, "string Expand %A%", "\"Expand\"=hex(2):25,42,25,00", "%B%",
       "\"Expand\"=hex(2):25,41,25,00"},
      {"Dword", "", 10, "integer32 Dword 7", "\"Dword\"=dword:0000000a", "0x0000000A (10)", "\"Dword\"=dword:00000007"},
      {"Big", "", 10, "integer32 Big 7", "\"Big\"=hex(5):00,00,00,0a", "0x0000000A (10)", "\"Big\"=hex(5):00,00,00,07"},
      {"Multi", "three\r\n", 0, "multistring Multi one\r\ntwo", "\"Multi\"=hex(7):74,68,72,65,65,00,00",
       "three\r\n", "\"Multi\"=hex(7):6f,6e,65,00,74,77,6f,00"},
      {"Qword", "", 5, "integer64 Qword -2", "\"Qword\"=hex(b):05,00,00,00,00,00,00,00", "0x0000000000000005 (5)",
       "\"Qword\"=hex(b):fe,ff,ff,ff,ff,ff,ff,ff"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    editors.calls.clear();
    editors.text = c.text;
    editors.number = c.number;
    changeData(QString::fromLatin1(c.name));
    EXPECT_EQ(editors.calls, QStringList({QString::fromLatin1(c.call)}));
    EXPECT_EQ(valueLine(kUser, "Software\\Kinds", c.name), c.after);
    EXPECT_EQ(form->valueModel()->item(rowNamed(QString::fromLatin1(c.name))).SubItems[1],
              QString::fromLatin1(c.rowText));
    EXPECT_EQ(lowerHexKind(undoLines().last()), QString::fromLatin1(c.undoLine));
    EXPECT_EQ(lowerHexKind(redoLines().last()), QString::fromLatin1(c.after));
  }
  EXPECT_EQ(historyRows().size(), std::size(cases));
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(u'\n').toStdString();
}

TEST_F(ValueEditing, CancelLeavesRegistryPanesAndHistoryAsTheyWere) {
  {
    auto key = openKey(kUser, "Software\\X", Bitness::x32);
    key->WriteString("Sz", "a");
    key->WriteInteger("Dword", 1);
    key->WriteMultiString("Multi", "m");
    key->WriteInt64("Qword", 2);
  }
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X"));
  editors.result = mrCancel;
  editors.text = QStringLiteral("changed");
  editors.number = 99;
  for (const char* name : {"Sz", "Dword", "Multi", "Qword"}) {
    SCOPED_TRACE(name);
    const std::string before = valueLine(kUser, "Software\\X", name);
    editors.calls.clear();
    changeData(QString::fromLatin1(name));
    EXPECT_EQ(editors.calls.size(), 1);
    EXPECT_EQ(valueLine(kUser, "Software\\X", name), before);
  }
  EXPECT_EQ(form->editRedoLog->Count(), 0);
  EXPECT_EQ(form->editUndoLog->Count(), 0);
  EXPECT_TRUE(historyRows().isEmpty());
  EXPECT_FALSE(form->ValueEditorOpen());
}

// The kinds without an editor of their own change as bytes: the binary
// editor starts with the stored bytes, the write keeps the stored type
// number, the row, both panes, the history and the dump show the new bytes.
TEST_F(ValueEditing, BinaryKindsAreEditedAsBytesAndKeepTheirType) {
  const std::uint8_t bytes[] = {1, 2, 3};
  {
    auto key = openKey(kUser, "Software\\X", Bitness::x32);
    key->WriteBinaryData("Bin", bytes, sizeof bytes);
    key->writeRawValue("None", platform::REG_NONE, bytes);
    key->writeRawValue("Link", platform::REG_LINK, bytes);
  }
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X"));
  const struct Case {
    const char* name;
    std::uint32_t type;
    const char* after;
  } cases[] = {
      {"Bin", platform::REG_BINARY, "\"Bin\"=hex:aa,00,ff,10"},
      {"None", platform::REG_NONE, "\"None\"=hex(0):aa,00,ff,10"},
      {"Link", platform::REG_LINK, "\"Link\"=hex(6):aa,00,ff,10"},
  };
  editors.bytes = {0xAA, 0x00, 0xFF, 0x10};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    editors.calls.clear();
    const int row = rowNamed(QString::fromLatin1(c.name));
    selectRows({row});
    form->pmValuesPopup();
    EXPECT_TRUE(form->aValueChange->isEnabled());
    form->aValueChangeExecute();
    EXPECT_EQ(editors.calls, QStringList({QStringLiteral("binary %1 01 02 03").arg(QString::fromLatin1(c.name))}));
    std::uint32_t type = 99;
    std::vector<std::uint8_t> stored;
    ASSERT_TRUE(rawValue(kUser, "Software\\X", c.name, type, stored));
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(stored, editors.bytes);
    EXPECT_EQ(valueLine(kUser, "Software\\X", c.name), c.after);
    EXPECT_EQ(lowerHexKind(redoLines().last()), QString::fromLatin1(c.after));
    const TRegistryValueListItem& item = form->valueModel()->item(row);
    EXPECT_EQ(item.SubItems[1], QStringLiteral("AA 00 FF 10 "));
    EXPECT_EQ(item.DataInfo.DataSize, 4u);
    EXPECT_EQ(form->FValueData, editors.bytes);
  }
  EXPECT_EQ(historyRows().size(), std::size(cases));

  // Cancel writes nothing and logs nothing.
  editors.result = mrCancel;
  editors.bytes = {7};
  const int panes = form->editRedoLog->Count();
  changeData(QStringLiteral("Bin"));
  EXPECT_EQ(valueLine(kUser, "Software\\X", "Bin"), "\"Bin\"=hex:aa,00,ff,10");
  EXPECT_EQ(form->editRedoLog->Count(), panes);
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(u'\n').toStdString();
}

// The dump of a string shows the stored UTF-16 bytes, not the text converted
// to the 8-bit code page, and follows an edit at once.
TEST_F(ValueEditing, TheDumpOfAStringShowsTheStoredBytesAndFollowsAnEdit) {
  CodePageGuard codePage(1252);
  openKey(kUser, "Software\\X", Bitness::x32)->writeRawValue(
      "S", platform::REG_SZ, std::vector<std::uint8_t>{'G', 0, 0xFC, 0, 0x20, 0x20, 0, 0});  // "Gü " + NUL
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X"));
  selectRows({rowNamed(QStringLiteral("S"))});
  form->lvDataClick();
  EXPECT_TRUE(form->lvHexDump->isVisibleTo(form.get()));
  EXPECT_EQ(form->FValueData, (std::vector<std::uint8_t>{'G', 0, 0xFC, 0, 0x20, 0x20, 0, 0}));
  EXPECT_EQ(form->lvHexDump->DataSize(), 8u);

  editors.text = QStringLiteral("ab");
  changeData(QStringLiteral("S"));
  EXPECT_EQ(form->FValueData, (std::vector<std::uint8_t>{'a', 0, 'b', 0, 0, 0}));
  EXPECT_EQ(form->lvHexDump->DataSize(), 6u);
}

// The flag that holds back the monitor's refills is up while an editor is
// shown and down after the action, for every row.
class FlagWatchingEditors : public RecordingValueEditors {
public:
  const TformMain* form = nullptr;
  QList<bool> flags;
  int editString(const QString& valueName, QString& value) override {
    flags << form->ValueEditorOpen();
    return RecordingValueEditors::editString(valueName, value);
  }
};

TEST_F(ValueEditing, EverySelectedRowIsEditedInOrderWithTheEditorFlagUp) {
  {
    auto key = openKey(kUser, "Software\\X", Bitness::x32);
    key->WriteString("A", "1");
    key->WriteString("B", "2");
  }
  FlagWatchingEditors watching;
  watching.text = QStringLiteral("z");
  setValueEditors(&watching);
  showForm();
  watching.form = form.get();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X"));
  selectRows({rowNamed(QStringLiteral("B")), rowNamed(QStringLiteral("A"))});
  form->aValueChangeExecute();
  EXPECT_EQ(watching.calls, QStringList({"string A 1", "string B 2"}));
  EXPECT_EQ(watching.flags, QList<bool>({true, true}));
  EXPECT_FALSE(form->ValueEditorOpen());
  EXPECT_EQ(historyRows().size(), 2);
}

TEST_F(ValueEditing, AHistoryThatCannotBeOpenedIsSaidOnceAndEditingGoesOn) {
  openKey(kUser, "Software\\X", Bitness::x32)->WriteString("Test", "a");
  form = std::make_unique<TformMain>();
  form->setKeyLister(&lister);
  form->show();
  // A folder where the database file should be.
  fs::create_directories(dir / "taken.sqlite");
  EXPECT_FALSE(form->OpenHistory((dir / "taken.sqlite").string()));
  ASSERT_EQ(boxes.texts.size(), 1);
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X"));
  for (const char* text : {"b", "c"}) {
    editors.text = QString::fromLatin1(text);
    changeData(QStringLiteral("Test"));
    EXPECT_EQ(valueLine(kUser, "Software\\X", "Test"), "\"Test\"=\"" + std::string(text) + "\"");
  }
  EXPECT_EQ(boxes.texts.size(), 1) << boxes.texts.join(u'\n').toStdString();
  EXPECT_EQ(form->editRedoLog->Count(), 7);
}

TEST_F(ValueEditing, ChangingTypeRewritesTheValueThroughATemporaryName) {
  {
    auto key = openKey(kUser, "Software\\X", Bitness::x32);
    key->WriteInteger("Count", 10);
    key->WriteString("Path", "%A%");
    // The first temporary name drawn for "Path" is taken.
    key->WriteString("Path-temp-8", "keep");
  }
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X"));
  QList<std::int32_t> drawn;
  std::int32_t next = 6;
  form->FRandomNumber = [&] {
    drawn << ++next;
    return next;
  };
  const struct Case {
    const char* name;
    TRegDataType kind;
    const char* after;
  } cases[] = {
      {"Count", rdInt64, "\"Count\"=hex(b):0a,00,00,00,00,00,00,00"},
      {"Path", rdExpandString, "\"Path\"=hex(2):25,41,25,00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    editors.kind = c.kind;
    const int row = rowNamed(QString::fromLatin1(c.name));
    selectRows({row});
    form->aValueChangeTypeExecute();
    EXPECT_EQ(valueLine(kUser, "Software\\X", c.name), c.after);
  }
  EXPECT_EQ(drawn, QList<std::int32_t>({7, 8, 9}));
  std::vector<std::string> names = valueNames(kUser, "Software\\X");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Count", "Path", "Path-temp-8"}));
  EXPECT_EQ(valueLine(kUser, "Software\\X", "Path-temp-8"), "\"Path-temp-8\"=\"keep\"");
  EXPECT_EQ(form->editRedoLog->Count(), 0);
  EXPECT_TRUE(historyRows().isEmpty());
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(u'\n').toStdString();

  // A kind nothing is written under brings the value back under its own
  // name as it was.
  editors.kind = rdBinary;
  selectRows({rowNamed(QStringLiteral("Path"))});
  form->aValueChangeTypeExecute();
  EXPECT_EQ(valueLine(kUser, "Software\\X", "Path"), "\"Path\"=hex(2):25,41,25,00");
  EXPECT_EQ(valueNames(kUser, "Software\\X").size(), 3u);

  // A declined choice draws no name.
  editors.kindChosen = false;
  const auto draws = drawn.size();
  selectRows({rowNamed(QStringLiteral("Count"))});
  form->aValueChangeTypeExecute();
  EXPECT_EQ(drawn.size(), draws);
}

// A dirty hive without its logs is mounted read-only: every write fails
// (this hive's DACLs let administrators write, so only that refuses it).
TEST_F(ValueEditing, AWriteTheRegistryRefusesShowsItsTextAndChangesNothing) {
  HS_TESTDATA_OR_SKIP(source, testsupport::unpackedTestdata("hives/real/UsrClass.dat.xz"));
  ASSERT_NO_FATAL_FAILURE(mountCopy(source, "CLASSES_TEST"));
  showForm();
  selectKey(QStringLiteral("HKEY_LOCAL_MACHINE\\CLASSES_TEST\\WOW6432Node\\CLSID\\{AB807329-7324-431B-8B36-DBD581F56E0B}\\Programmable"));
  const std::string before = valueLine(kMachine, "CLASSES_TEST\\WOW6432Node\\CLSID\\{AB807329-7324-431B-8B36-DBD581F56E0B}\\Programmable", "");
  ASSERT_EQ(before, "@=\"\"");

  editors.text = QStringLiteral("b");
  changeData(QString());
  ASSERT_EQ(boxes.texts.size(), 1);
  EXPECT_TRUE(boxes.texts[0].startsWith(QStringLiteral("Failed to set data"))) << boxes.texts[0].toStdString();
  editors.kind = rdExpandString;
  selectRows({rowNamed(QString())});
  form->aValueChangeTypeExecute();
  EXPECT_EQ(boxes.texts.size(), 2);

  EXPECT_EQ(valueLine(kMachine, "CLASSES_TEST\\WOW6432Node\\CLSID\\{AB807329-7324-431B-8B36-DBD581F56E0B}\\Programmable", ""), before);
  EXPECT_EQ(valueNames(kMachine, "CLASSES_TEST\\WOW6432Node\\CLSID\\{AB807329-7324-431B-8B36-DBD581F56E0B}\\Programmable"), std::vector<std::string>{""});
  EXPECT_EQ(form->valueModel()->item(rowNamed(QString())).SubItems[1], QString());
  EXPECT_EQ(form->editRedoLog->Count(), 0);
  EXPECT_EQ(form->editUndoLog->Count(), 0);
  EXPECT_TRUE(historyRows().isEmpty());
  EXPECT_FALSE(form->ValueEditorOpen());
}

// The crafted hive's key and value whose names hold a NUL: the edit reaches
// that value by its exact name, never the value the cut name "zero" would.
TEST_F(ValueEditing, ANameWithANulIsEditedByItsExactName) {
  HS_TESTDATA_OR_SKIP(source, testsupport::testdataFile("hives/crafted/special"));
  ASSERT_NO_FATAL_FAILURE(mountCopy(source, "SPECIAL"));
  showForm();
  KeyNode* hklm = FindChildNode(form->FMyComputerNode, QStringLiteral("HKEY_LOCAL_MACHINE"), false);
  form->tvKeysExpanding(hklm);
  KeyNode* mounted = FindChildNode(hklm, QStringLiteral("SPECIAL"), false);
  ASSERT_NE(mounted, nullptr);
  form->tvKeysExpanding(mounted);
  KeyNode* zero = FindChildNode(mounted, QStringLiteral("zero<0x00>key"), true);
  ASSERT_NE(zero, nullptr);
  form->selectNode(zero);
  form->tvKeysClick();
  const QString name = QStringLiteral("zero") + nul() + QStringLiteral("val");
  ASSERT_GE(rowNamed(name), 0);

  editors.number = 5;
  changeData(name);
  EXPECT_EQ(editors.calls, QStringList({QStringLiteral("integer32 ") + name + QStringLiteral(" 0")}));
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(u'\n').toStdString();
  TNtRegistry nt;
  nt.FRootKey = kMachine;
  ASSERT_TRUE(nt.OpenKey(u"\\SPECIAL\\zero" + std::u16string(1, u'\0') + u"key"));
  EXPECT_EQ(nt.ReadDWord(name.toStdU16String()), 5u);
  TKeyValueFullInfoHead head;
  EXPECT_FALSE(nt.GetValueInfo(u"zero", head)) << "the cut name made a value of its own";
  EXPECT_EQ(form->valueModel()->item(rowNamed(name)).SubItems[1], QStringLiteral("0x00000005 (5)"));

  // The type change goes the same way, through a temporary name.
  form->FRandomNumber = [] { return 1; };
  editors.kind = rdInt64;
  selectRows({rowNamed(name)});
  form->aValueChangeTypeExecute();
  EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(u'\n').toStdString();
  ASSERT_TRUE(nt.GetValueInfo(name.toStdU16String(), head));
  EXPECT_EQ(head.Type, platform::REG_QWORD);
  EXPECT_EQ(nt.ReadQWord(name.toStdU16String()), 5u);
  EXPECT_FALSE(nt.GetValueInfo(name.toStdU16String() + u"-temp-1", head));
  EXPECT_FALSE(nt.GetValueInfo(u"zero", head));
  // Changes by the native interface are neither logged nor recorded.
  EXPECT_EQ(form->editRedoLog->Count(), 0);
  EXPECT_TRUE(historyRows().isEmpty());
  nt.CloseKey();
}

// The 32-bit "SOFTWARE" node reads and writes the 32-bit view (the key under
// Wow6432Node), the 64-bit node the 64-bit view, and each history row undoes
// its change in its own view.
TEST_F(ValueEditing, EachSoftwareNodeEditsAndUndoesInItsOwnView) {
  openKey(kMachine, "SOFTWARE\\Vendor32", Bitness::x32)->WriteString("Test", "a");
  openKey(kMachine, "SOFTWARE\\Vendor32", Bitness::x64)->WriteString("Test", "native");
  showForm();
  KeyNode* hklm = FindChildNode(form->FMyComputerNode, QStringLiteral("HKEY_LOCAL_MACHINE"), false);
  form->tvKeysExpanding(hklm);
  // The two "SOFTWARE" nodes by their images: 15 the 32-bit view, 17 the 64-bit one.
  auto softwareNode = [&](int image) -> KeyNode* {
    for (int i = 0; i < hklm->count(); ++i)
      if (hklm->child(i)->text == QStringLiteral("SOFTWARE") && hklm->child(i)->imageIndex == image)
        return hklm->child(i);
    return nullptr;
  };
  KeyNode* software32 = softwareNode(15);
  ASSERT_NE(software32, nullptr);
  form->tvKeysExpanding(software32);
  KeyNode* vendor = FindChildNode(software32, QStringLiteral("Vendor32"), false);
  ASSERT_NE(vendor, nullptr);
  form->selectNode(vendor);
  form->tvKeysClick();
  editors.text = QStringLiteral("b");
  changeData(QStringLiteral("Test"));

  EXPECT_EQ(editors.calls, QStringList({"string Test a"}));
  EXPECT_EQ(valueLine(kMachine, "SOFTWARE\\Wow6432Node\\Vendor32", "Test", Bitness::x64), "\"Test\"=\"b\"");
  EXPECT_EQ(valueLine(kMachine, "SOFTWARE\\Vendor32", "Test", Bitness::x64), "\"Test\"=\"native\"");
  EXPECT_EQ(undoLines().last(), QStringLiteral("\"Test\"=\"a\""));
  ASSERT_EQ(historyRows(), QStringList({"1|2|\\SOFTWARE\\Vendor32\\|Test|2"}));

  // The same path under the 64-bit node is the other key, and its row
  // undoes the change in the 64-bit view.
  KeyNode* software64 = softwareNode(17);
  ASSERT_NE(software64, nullptr);
  form->tvKeysExpanding(software64);
  vendor = FindChildNode(software64, QStringLiteral("Vendor32"), false);
  ASSERT_NE(vendor, nullptr);
  form->selectNode(vendor);
  form->tvKeysClick();
  editors.text = QStringLiteral("c");
  changeData(QStringLiteral("Test"));
  EXPECT_EQ(editors.calls.last(), QStringLiteral("string Test native"));
  EXPECT_EQ(valueLine(kMachine, "SOFTWARE\\Vendor32", "Test", Bitness::x64), "\"Test\"=\"c\"");
  EXPECT_EQ(undoLines().last(), QStringLiteral("\"Test\"=\"native\""));

  TRegistryChangeHistory history(historyFile().string());
  history.LoadAll();
  ASSERT_EQ(history.Count(), 2);
  EXPECT_TRUE(history.GetItem(0).Undo());
  EXPECT_TRUE(history.GetItem(1).Undo());
  EXPECT_EQ(valueLine(kMachine, "SOFTWARE\\Wow6432Node\\Vendor32", "Test", Bitness::x64), "\"Test\"=\"a\"");
  EXPECT_EQ(valueLine(kMachine, "SOFTWARE\\Vendor32", "Test", Bitness::x64), "\"Test\"=\"native\"");
}

}  // namespace
