// New, delete and rename values and select all on the registry store: the
// questions, the registry, the list, the panes and the history afterwards.

#include "core/bwlRegNative.h"
#include "tests/app/KeyValueActionsWindow.h"
#include "tests/app/QtPrinters.h"
#include "tests/support/TestData.h"

namespace {

constexpr platform::HKEY kUser = platform::HKEY_CURRENT_USER;

using ValueActions = KeyValueActionsWindow;

// Every kind in turn on one key, so that each default name counts on from
// the values made before it. The editor opens once for the kinds it edits.
TEST_F(ValueActions, EachNewValueKindGetsItsNameTypeAndEditor) {
  openKey(kUser, "Software\\X", Bitness::x32)->WriteString("New numeric #1", "taken");
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X"));
  editors.result = mrCancel;
  const QString stringTitle = "New string value|Please enter a name for the new string value:|";
  const QString numberTitle = "New numeric value|Please enter a name for the new numeric value:|";
  const QString binaryTitle = "New binary value|Please enter a name for the new binary value:|";
  const QString otherTitle = "New value|Please enter a name for the new value:|";
  const struct Case {
    QAction* action;
    bool warned;
    QString query;
    std::uint32_t type;
    const char* editor;  // the recorder's line, empty for none
  } cases[] = {
      {form->aValueAddString, false, stringTitle + "New string #1", platform::REG_SZ, "string New string #1 "},
      {form->aValueAddExpandString, false, stringTitle + "New string #2", platform::REG_EXPAND_SZ,
       "string New string #2 "},
      {form->aValueAddMultiString, false, stringTitle + "New string #3", platform::REG_MULTI_SZ,
       "multistring New string #3 "},
      {form->aValueAddInteger, false, numberTitle + "New numeric #2", platform::REG_DWORD, "integer32 New numeric #2 0"},
      {form->aValueAddLEInteger, false, numberTitle + "New numeric #3", platform::REG_DWORD,
       "integer32 New numeric #3 0"},
      {form->aValueAddBEInteger, false, numberTitle + "New numeric #4", platform::REG_DWORD_BIG_ENDIAN,
       "integer32 New numeric #4 0"},
      {form->aValueAddInt64, false, numberTitle + "New numeric #5", platform::REG_QWORD, "integer64 New numeric #5 0"},
      {form->aValueAddLEInt64, false, numberTitle + "New numeric #6", platform::REG_QWORD,
       "integer64 New numeric #6 0"},
      // The kinds without an editor of their own open the binary editor.
      {form->aValueAddBinary, false, binaryTitle + "New binary data #1", platform::REG_BINARY,
       "binary New binary data #1 "},
      {form->aValueAddLink, true, binaryTitle + "New binary data #2", platform::REG_LINK, "binary New binary data #2 "},
      {form->aValueAddResourceList, true, otherTitle + "New binary data #3", platform::REG_RESOURCE_LIST,
       "binary New binary data #3 "},
      {form->aValueAddFullResourceDescriptor, true, otherTitle + "New binary data #4",
       platform::REG_FULL_RESOURCE_DESCRIPTOR, "binary New binary data #4 "},
      {form->aValueAddResourceRequirementsList, true, otherTitle + "New binary data #5",
       platform::REG_RESOURCE_REQUIREMENTS_LIST, "requirements 0"},
      {form->aValueAddNone, true, otherTitle + "New binary data #6", platform::REG_NONE, "binary New binary data #6 "},
  };
  int rows = 0;
  for (const Case& c : cases) {
    const QString name = c.query.section(u'|', 2);
    SCOPED_TRACE(name.toStdString());
    script.queries.clear();
    script.texts.clear();
    editors.calls.clear();
    // A warned kind: No creates nothing.
    if (c.warned) {
      script.answers = {mrNo};
      c.action->trigger();
      ASSERT_EQ(script.texts.size(), 1);
      EXPECT_TRUE(script.texts[0].startsWith(QStringLiteral("Hivescope can add a value of this type")));
      EXPECT_TRUE(script.queries.isEmpty());
      script.texts.clear();
      script.answers = {mrYes};
    }
    script.inputs = {name};
    c.action->trigger();
    EXPECT_EQ(script.queries, QStringList({c.query}));
    EXPECT_EQ(script.texts.size(), c.warned ? 1 : 0) << script.texts.join(u'\n').toStdString();
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_TRUE(rawValue(kUser, "Software\\X", name.toStdString(), type, data));
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(editors.calls, *c.editor ? QStringList({QString::fromLatin1(c.editor)}) : QStringList());
    EXPECT_EQ(historyRows().size(), ++rows);
  }
  EXPECT_EQ(form->editRedoLog->Count(), 0) << "a creation reaches only the history";
  EXPECT_FALSE(form->ValueEditorOpen());
}

TEST_F(ValueActions, DeletingThreeValuesFollowsTheAllAnswers) {
  const struct Case {
    const char* what;
    std::deque<int> answers;
    int questions;
    QStringList left;
  } cases[] = {
      // From the last row to the first: c, b, a.
      {"yes to all at the first", {mrYesToAll}, 1, {"keep"}},
      {"no to all at the second", {mrYes, mrNoToAll}, 2, {"a", "b", "keep"}},
      {"no, then yes", {mrNo, mrYes, mrYes}, 3, {"c", "keep"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    {
      auto key = openKey(kUser, "Software\\Del", Bitness::x32);
      for (const char* name : {"a", "b", "c", "keep"}) key->WriteString(name, name);
    }
    if (!form) showForm();
    selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\Del"));
    selectRows({rowNamed(QStringLiteral("a")), rowNamed(QStringLiteral("b")), rowNamed(QStringLiteral("c"))});
    script.texts.clear();
    script.answers = c.answers;
    form->aValueDeleteExecute();
    EXPECT_EQ(script.texts.size(), c.questions);
    EXPECT_EQ(script.texts.first(), QStringLiteral("Do you really want to delete this value (\"c\")?"));
    EXPECT_EQ(names(valueNames(kUser, "Software\\Del")), c.left);
    QStringList shown = captions();
    shown.removeAll(QStringLiteral("(Default)"));
    shown.sort();
    EXPECT_EQ(shown, c.left);
  }
}

TEST_F(ValueActions, DeleteLogsBeforeImageOnlyForADeletedValue) {
  openKey(kUser, "Software\\X", Bitness::x32)->WriteString("Test", "a");
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X"));
  selectRows({rowNamed(QStringLiteral("Test"))});
  script.answers = {mrYes};
  form->aValueDeleteExecute();
  EXPECT_EQ(redoLines(), QStringList({"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X]", "\"Test\"=-"}));
  EXPECT_EQ(undoLines(), QStringList({"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X]", "\"Test\"=\"a\""}));
  EXPECT_EQ(historyRows().size(), 1);
  EXPECT_LT(rowNamed(QStringLiteral("Test")), 0);
}

TEST_F(ValueActions, RenameValueLogsBothPanesOrLeavesTheRowWhenTheNameIsTaken) {
  {
    auto key = openKey(kUser, "Software\\X", Bitness::x32);
    key->WriteString("Old", "1");
    key->WriteString("Taken", "2");
  }
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X"));
  selectRows({rowNamed(QStringLiteral("Old"))});
  script.inputs = {QStringLiteral("taken")};
  form->aValueRenameExecute();
  EXPECT_EQ(script.queries, QStringList({"Rename value (\"Old\")|Please enter the new name for this value:|Old"}));
  EXPECT_EQ(script.texts.size(), 1);
  EXPECT_GE(rowNamed(QStringLiteral("Old")), 0);
  EXPECT_EQ(names(valueNames(kUser, "Software\\X")), QStringList({"Old", "Taken"}));
  EXPECT_EQ(form->editRedoLog->Count(), 0);
  EXPECT_EQ(form->editUndoLog->Count(), 0);

  script.texts.clear();
  selectRows({rowNamed(QStringLiteral("Old"))});
  script.inputs = {QStringLiteral("New")};
  form->aValueRenameExecute();
  EXPECT_TRUE(script.texts.isEmpty()) << script.texts.join(u'\n').toStdString();
  EXPECT_EQ(names(valueNames(kUser, "Software\\X")), QStringList({"New", "Taken"}));
  EXPECT_GE(rowNamed(QStringLiteral("New")), 0);
  EXPECT_EQ(redoLines(), QStringList({"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X]", "\"New\"=\"1\"", "\"Old\"=-"}));
  EXPECT_EQ(undoLines(), QStringList({"REGEDIT4", "", "[HKEY_CURRENT_USER\\Software\\X]", "\"Old\"=\"1\"", "\"New\"=-"}));
  EXPECT_EQ(historyRows(), QStringList({"1|3|\\Software\\X\\|Old|2"}));
}

// The crafted value "zero<NUL>val" goes natively by its exact name and
// leaves no log entry; the value the cut name "zero" would name is not
// touched.
TEST_F(ValueActions, AValueWithANulIsDeletedNativelyWithoutALogEntry) {
  HS_TESTDATA_OR_SKIP(source, testsupport::testdataFile("hives/crafted/special"));
  ASSERT_NE(selectCraftedNulKey(source), nullptr);
  const QString name = QStringLiteral("zero") + QChar(u'\0') + QStringLiteral("val");
  ASSERT_GE(rowNamed(name), 0);
  selectRows({rowNamed(name)});
  script.answers = {mrYes};
  form->aValueDeleteExecute();
  EXPECT_EQ(script.texts.size(), 1) << script.texts.join(u'\n').toStdString();
  EXPECT_LT(rowNamed(name), 0);
  TNtRegistry nt;
  nt.FRootKey = platform::HKEY_LOCAL_MACHINE;
  ASSERT_TRUE(nt.OpenKey(u"\\SPECIAL\\zero" + std::u16string(1, u'\0') + u"key"));
  TKeyValueFullInfoHead head;
  EXPECT_FALSE(nt.GetValueInfo(name.toStdU16String(), head));
  EXPECT_EQ(form->editRedoLog->Count(), 0);
  EXPECT_TRUE(historyRows().isEmpty());
  nt.CloseKey();
}

TEST_F(ValueActions, SelectAllSelectsEveryRow) {
  {
    auto key = openKey(kUser, "Software\\X", Bitness::x32);
    key->WriteString("a", "1");
    key->WriteString("b", "2");
  }
  showForm();
  selectKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\X"));
  form->aValueSelectAllExecute();
  EXPECT_EQ(form->lvData->selectionModel()->selectedRows().size(), form->valueModel()->count());
}

}  // namespace
